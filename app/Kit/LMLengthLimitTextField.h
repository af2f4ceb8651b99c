#pragma once
// One-line inputs that refuse an edit before it happens: a maximum length (optionally counted
// without blanks at both ends), digits only, or no leading point. They edit as every input of
// the desktop does (caret, selection, clipboard; see LMTextEditor), and Tab and Shift+Tab go on to
// the next and the previous field of the window. An edit that would break a rule is refused
// whole; only a paste is cut to what still fits, except in a field of digits, and the field
// says so through setPasteShortenedHandler, as a field of digits does of a paste it refused.

#include "Kit/LMTextEditor.h"
#include "Kit/LMTextInputClient.h"
#include "appkit/Control.h"

#include <functional>
#include <memory>

#include <cstdint>

namespace kpv {
class Menu;
}

class LMLengthLimitTextField : public kpv::TextField {
public:
    explicit LMLengthLimitTextField(const kpv::Rect& frame = kpv::Rect());

    void setAllowedMaxLength(std::uint64_t max, bool ignoreWhiteSpace);
    std::uint64_t allowedMaxLength() const { return m_allowedMaxLength; }
    bool ignoreWhiteSpace() const { return m_ignoreWhiteSpace; }

    // The test before each change of the text.
    virtual bool textView_shouldChangeTextInRange(qint64 location, qint64 length, const QString& replacement);
    // Applies the change when the test accepts it; false when it was refused.
    bool replaceCharactersInRange(qint64 location, qint64 length, const QString& replacement);
    // At the caret, in place of the selection, as typing does.
    bool insertText(const QString& text);
    bool deleteBackward();
    LMTextEditor& editor() { return m_editor; }
    // Told, with a sentence for the user that names the rule, when a paste (or text an input
    // method committed) was cut to fit the field's length limit, or did not fit at all (in a
    // field of digits: was refused), and when a typed character was refused by the limit (or,
    // in a file name, a key that would leave a leading point, typing or deleting).
    using PasteShortenedHandler = std::function<void(const QString& message)>;
    void setPasteShortenedHandler(PasteShortenedHandler handler) { m_pasteShortened = std::move(handler); }
    // Text composed with the input method goes into the field while it is being edited.
    kpv::TextInputClient* textInputClient() override { return &m_input; }

    // A field that is not editable shows its text, greyed, and takes neither the focus, nor
    // clicks, nor keys; it gives up the focus when it has it.
    void setEditable(bool editable);
    bool isEditable() const { return m_editable; }

    bool acceptsFirstResponder() const override { return m_editable; }
    // The text as drawn: while the field is not being edited and its line break mode truncates
    // in the middle, a text longer than the field is shortened there.
    QString shownStringValue() const;
    bool becomeFirstResponder() override;
    void didReceiveKeyFocusFromKeyboard() override;
    bool resignFirstResponder() override;
    void keyDown(const kpv::Event& e) override;
    void mouseDown(const kpv::Event& e) override;
    // The right button shows textMenu() at the pointer, as every input of the desktop does.
    void rightMouseDown(const kpv::Event& e) override;
    // Cut, Copy, Paste and Select All, each enabled when it applies; the items do what the
    // Ctrl keys do.
    std::shared_ptr<kpv::Menu> textMenu();
    void mouseDragged(const kpv::Event& e) override;
    // The middle button pastes the desktop's selection at the pointer, as on every input here.
    void otherMouseDown(const kpv::Event& e) override;
    void drawRect(const kpv::Rect& dirty) override;

protected:
    bool lengthTest(qint64 location, qint64 length, const QString& replacement) const;
    // The sentence for the paste shortened handler after a paste of which `kept` units were
    // taken; empty when there is nothing worth telling.
    virtual QString pasteNote(qint64 kept) const;
    // The sentence after typed text was refused; empty when there is nothing worth telling.
    virtual QString typingNote(const QString& typed) const;
    LMTextInputClient& inputClient() { return m_input; }

private:
    // Gives the focus to the next (or previous) editable field of the window, its text selected.
    bool focusNextField(bool backwards);
    LMTextEditor::Frame editorFrame() const;
    bool isFocused() const;

    LMTextEditor m_editor;
    LMTextInputClient m_input;
    std::uint64_t m_allowedMaxLength = 0;
    bool m_ignoreWhiteSpace = false;
    bool m_editable = true;
    PasteShortenedHandler m_pasteShortened;
};

// Digits 0 to 9 only; emptying the field is allowed. A paste is taken whole or refused, and a
// refused one is told with the field's rules (digits, how many), as a key other than a digit is.
class LMNumericTextField : public LMLengthLimitTextField {
public:
    explicit LMNumericTextField(const kpv::Rect& frame = kpv::Rect());
    bool textView_shouldChangeTextInRange(qint64 location, qint64 length, const QString& replacement) override;

protected:
    QString pasteNote(qint64 kept) const override;
    QString typingNote(const QString& typed) const override;
};

// A file name: it may not start with a point, and a point refused at the start is told.
class LMPathNameTextField : public LMLengthLimitTextField {
public:
    using LMLengthLimitTextField::LMLengthLimitTextField;
    bool textView_shouldChangeTextInRange(qint64 location, qint64 length, const QString& replacement) override;

protected:
    QString pasteNote(qint64 kept) const override;
    QString typingNote(const QString& typed) const override;
};
