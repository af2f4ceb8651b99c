#pragma once
// Multi-line inputs with the same length limit as the one-line field, a switch that makes them
// read-only, a delegate told after every change, a grey placeholder and a default text, and the
// share sheet's description box whose limit depends on the target site.

#include "Kit/LMTextEditor.h"
#include "Kit/LMTextInputClient.h"
#include "appkit/Color.h"
#include "appkit/View.h"

#include <QString>
#include <cstdint>
#include <memory>

class LMLengthLimitTextView;
namespace kpv {
class Menu;
}

class LMLengthLimitTextViewDelegate {
public:
    virtual ~LMLengthLimitTextViewDelegate() = default;
    virtual void didChangeTextForLengthLimitTextView(LMLengthLimitTextView*) {}
    // A paste longer than the limit allows was cut to fit: `offered` units were pasted, `kept` of
    // them taken (0 when the text was already full). Told after the change, so the owner can say
    // what was left out.
    virtual void lengthLimitTextViewDidShortenPaste(LMLengthLimitTextView*, qint64 /*offered*/, qint64 /*kept*/) {}
    // A key (a letter, Return) was refused because the text is at its limit, so the owner can say
    // why nothing appeared.
    virtual void lengthLimitTextViewDidRefuseTyping(LMLengthLimitTextView*) {}
};

class LMLengthLimitTextView : public kpv::View {
public:
    explicit LMLengthLimitTextView(const kpv::Rect& frame = kpv::Rect());

    // Enables the view, as waking from the window's layout does; one made in code refuses every
    // edit until enabled.
    virtual void awakeFromNib() { m_enabled = true; }

    LMLengthLimitTextViewDelegate* lengthLimitTextViewDelegate() const { return m_delegate; }
    void setLengthLimitTextViewDelegate(LMLengthLimitTextViewDelegate* d) { m_delegate = d; }
    void setAllowedMaxLength(std::uint64_t max, bool ignoreWhiteSpace);
    std::uint64_t allowedMaxLength() const { return m_allowedMaxLength; }
    bool ignoreWhiteSpace() const { return m_ignoreWhiteSpace; }
    bool enabled() const { return m_enabled; }
    void setEnabled(bool e) { m_enabled = e; }

    // A copy of the text.
    QString string() const { return m_text; }
    virtual void setString(const QString& s);
    kpv::Font font() const { return m_font; }
    void setFont(const kpv::Font& f) { m_font = f; }

    virtual bool shouldChangeTextInRange(qint64 location, qint64 length, const QString& replacement);
    virtual void didChangeText();
    // The editing entry: the test, the change, then didChangeText; false when refused.
    bool replaceCharactersInRange(qint64 location, qint64 length, const QString& replacement);
    // At the caret, in place of the selection, as typing does.
    bool insertText(const QString& text);
    bool deleteBackward();
    LMTextEditor& editor() { return m_editor; }
    kpv::TextInputClient* textInputClient() override { return &m_input; }

    bool acceptsFirstResponder() const override { return true; }
    bool becomeFirstResponder() override;
    bool resignFirstResponder() override;
    void keyDown(const kpv::Event& e) override;
    void mouseDown(const kpv::Event& e) override;
    void mouseDragged(const kpv::Event& e) override;
    // The middle button pastes the desktop's selection at the pointer, as on every input here.
    void otherMouseDown(const kpv::Event& e) override;
    // The wheel scrolls a text taller than the box.
    void scrollWheel(const kpv::Event& e) override;
    // The right button shows textMenu() at the pointer, as every input of the desktop does.
    void rightMouseDown(const kpv::Event& e) override;
    // Cut, Copy, Paste and Select All; a view that is not enabled still copies and selects.
    std::shared_ptr<kpv::Menu> textMenu();
    void drawRect(const kpv::Rect& dirty) override;

protected:
    bool lengthTest(qint64 location, qint64 length, const QString& replacement) const;

private:
    LMTextEditor::Frame editorFrame() const;

    LMTextEditor m_editor;
    LMTextInputClient m_input;
    LMLengthLimitTextViewDelegate* m_delegate = nullptr;
    std::uint64_t m_allowedMaxLength = 0;
    bool m_ignoreWhiteSpace = false;
    bool m_enabled = false;
    QString m_text;
    kpv::Font m_font;
};

class LMPlaceholderTextView : public LMLengthLimitTextView {
public:
    explicit LMPlaceholderTextView(const kpv::Rect& frame = kpv::Rect()) : LMLengthLimitTextView(frame) {}
    ~LMPlaceholderTextView() override;

    QString placeholderString() const { return m_placeholderString; }
    void setPlaceholderString(const QString& s);
    QString defaultString() const { return m_defaultString; }
    void setDefaultString(const QString& s);
    // Replaces the text; the view redraws on the next turn of the run loop.
    void setString(const QString& s) override;

    bool shouldChangeTextInRange(qint64 location, qint64 length, const QString& replacement) override;
    bool resignFirstResponder() override;
    void drawRect(const kpv::Rect& dirty) override;
    // Whether the placeholder shows now.
    bool showsPlaceholder() const { return string().isEmpty() && !m_placeholderString.isEmpty(); }

private:
    void applyDefaultString();
    void redrawLater();

    QString m_placeholderString;
    QString m_defaultString;
    std::shared_ptr<bool> m_alive = std::make_shared<bool>(true);
};

class ShareFileDescTextView;

class ShareFileDescTextViewDelegate {
public:
    virtual ~ShareFileDescTextViewDelegate() = default;
    virtual long websiteTypeOfShareFileDescTextView(ShareFileDescTextView*) = 0;
    virtual void ShareFileDescTextView_textChangedWithCurLength(ShareFileDescTextView*, std::uint64_t /*curLength*/,
                                                                std::uint64_t /*allowedMaxLength*/)
    {
    }
};

class ShareFileDescTextView : public LMPlaceholderTextView {
public:
    explicit ShareFileDescTextView(const kpv::Rect& frame = kpv::Rect()) : LMPlaceholderTextView(frame) {}

    ShareFileDescTextViewDelegate* shareFileDescDelegate() const { return m_shareFileDescDelegate; }
    void setShareFileDescDelegate(ShareFileDescTextViewDelegate* d) { m_shareFileDescDelegate = d; }

    void awakeFromNib() override;
    void didChangeText() override;
    static std::uint64_t maxFileDescLengthByWebsiteType(long websiteType);
    // The limit for the site the delegate names (any other site's limit without a delegate).
    std::uint64_t maxFileDescLength();

private:
    ShareFileDescTextViewDelegate* m_shareFileDescDelegate = nullptr;
};
