#include "Kit/LMLengthLimitTextView.h"

#include "Kit/LMTextEditRules.h"
#include "Model/LMPerformSelectorWrapper.h"
#include "appkit/GraphicsContext.h"
#include "foundation/Bundle.h"

#include "appkit/Event.h"
#include "appkit/Menu.h"
#include "appkit/Window.h"

using namespace LMTextEditRules;

LMLengthLimitTextView::LMLengthLimitTextView(const kpv::Rect& frame)
    : kpv::View(frame),
      m_editor([this] { return m_text; },
               [this](qint64 location, qint64 length, const QString& text) { return shouldChangeTextInRange(location, length, text); },
               [this](qint64 location, qint64 length, const QString& text) { return replaceCharactersInRange(location, length, text); },
               true),
      m_input(*this, m_editor, [this] { return editorFrame(); }, [this] { return m_enabled; },
              kpv::TextInputClient::HintMultiLine)
{
    m_editor.setShortenedHandler([this](qint64 offered, qint64 kept) {
        if (m_delegate && m_enabled && m_allowedMaxLength != 0)
            m_delegate->lengthLimitTextViewDidShortenPaste(this, offered, kept);
    });
    m_editor.setTypingRefusedHandler([this](const QString& typed) {
        if (m_delegate && m_enabled && m_allowedMaxLength != 0 &&
            !lengthTest(m_editor.selectionStart(), m_editor.selectionLength(), typed))
            m_delegate->lengthLimitTextViewDidRefuseTyping(this);
    });
}

LMTextEditor::Frame LMLengthLimitTextView::editorFrame() const
{
    return {kpv::insetRect(bounds(), 5, 0), m_font, int(Qt::AlignLeft | Qt::AlignTop), isFlipped()};
}

bool LMLengthLimitTextView::becomeFirstResponder()
{
    setNeedsDisplay();
    return true;
}

bool LMLengthLimitTextView::resignFirstResponder()
{
    // What the user is composing is kept when the focus moves on.
    m_editor.finishComposing();
    setNeedsDisplay();
    return true;
}

void LMLengthLimitTextView::mouseDown(const kpv::Event& e)
{
    if (window())
        window()->makeFirstResponder(this);
    m_editor.mouseDown(e, convertPointFromView(e.locationInWindow(), nullptr), editorFrame());
    setNeedsDisplay();
    kpv::updateInputMethod(this);
}

void LMLengthLimitTextView::scrollWheel(const kpv::Event& e)
{
    if (!m_editor.scrollWheel(e.scrollingDeltaY(), e.hasPreciseScrollingDeltas(), editorFrame())) {
        kpv::View::scrollWheel(e);
        return;
    }
    setNeedsDisplay();
    kpv::updateInputMethod(this);
}

void LMLengthLimitTextView::otherMouseDown(const kpv::Event& e)
{
    if (e.buttonNumber() != 2) {
        kpv::View::otherMouseDown(e);
        return;
    }
    if (window())
        window()->makeFirstResponder(this);
    m_editor.pasteSelectionAt(convertPointFromView(e.locationInWindow(), nullptr), editorFrame());
    setNeedsDisplay();
    kpv::updateInputMethod(this);
}

void LMLengthLimitTextView::mouseDragged(const kpv::Event& e)
{
    m_editor.mouseDragged(convertPointFromView(e.locationInWindow(), nullptr), editorFrame());
    setNeedsDisplay();
    kpv::updateInputMethod(this);
}

std::shared_ptr<kpv::Menu> LMLengthLimitTextView::textMenu()
{
    return m_editor.contextMenu(editorFrame(), m_enabled, [this] {
        setNeedsDisplay();
        kpv::updateInputMethod(this);
    });
}

void LMLengthLimitTextView::rightMouseDown(const kpv::Event& e)
{
    if (!window())
        return;
    window()->makeFirstResponder(this);
    setNeedsDisplay();
    kpv::Menu::popUpContextMenu(textMenu(), e, this);
}

void LMLengthLimitTextView::setAllowedMaxLength(std::uint64_t max, bool ignoreWS)
{
    m_allowedMaxLength = max;
    m_ignoreWhiteSpace = ignoreWS;
}

void LMLengthLimitTextView::setString(const QString& s)
{
    m_text = s;
    setNeedsDisplay();
}

bool LMLengthLimitTextView::lengthTest(qint64 location, qint64 length, const QString& replacement) const
{
    if (!m_enabled)
        return false;
    auto would = textAfterChange(m_text, location, length, replacement);
    if (!would)
        return false;
    return lengthAllowsChange(m_text, *would, m_allowedMaxLength, m_ignoreWhiteSpace);
}

bool LMLengthLimitTextView::shouldChangeTextInRange(qint64 location, qint64 length, const QString& replacement)
{
    return lengthTest(location, length, replacement);
}

void LMLengthLimitTextView::didChangeText()
{
    if (m_delegate)
        m_delegate->didChangeTextForLengthLimitTextView(this);
}

bool LMLengthLimitTextView::replaceCharactersInRange(qint64 location, qint64 length, const QString& replacement)
{
    if (!shouldChangeTextInRange(location, length, replacement))
        return false;
    auto would = textAfterChange(m_text, location, length, replacement);
    if (!would)
        return false;
    m_text = *would;
    setNeedsDisplay();
    didChangeText();
    return true;
}

bool LMLengthLimitTextView::insertText(const QString& text) { return m_editor.insertText(text); }

bool LMLengthLimitTextView::deleteBackward() { return m_editor.deleteBackward(); }

void LMLengthLimitTextView::keyDown(const kpv::Event& e)
{
    // In a window that keeps a Tab loop, Tab and Shift+Tab leave the box for the next and the
    // previous control, as in any dialog; the box itself takes no tab characters.
    kpv::Window* w = window();
    if (w && w->autorecalculatesKeyViewLoop() && e.keyCode() == kpv::KeyCode::Tab &&
        !(e.modifierFlags() & (kpv::ControlKeyMask | kpv::AlternateKeyMask | kpv::CommandKeyMask))) {
        (e.modifierFlags() & kpv::ShiftKeyMask) ? w->selectPreviousKeyView() : w->selectNextKeyView();
        setNeedsDisplay();
        return;
    }
    if (m_editor.keyDown(e, editorFrame())) {
        setNeedsDisplay();
        kpv::updateInputMethod(this);
        return;
    }
    kpv::View::keyDown(e);
}

void LMLengthLimitTextView::drawRect(const kpv::Rect&)
{
    if (auto* gc = kpv::GraphicsContext::current())
        m_editor.draw(*gc, editorFrame(), kpv::Color::controlTextColor(), window() && window()->firstResponder() == this);
}

LMPlaceholderTextView::~LMPlaceholderTextView() { m_alive.reset(); }

void LMPlaceholderTextView::redrawLater()
{
    std::weak_ptr<bool> alive = m_alive;
    LMPerformSelectorWrapper().performWithBlock(
        [this, alive] {
            if (!alive.expired())
                setNeedsDisplay();
        },
        0);
}

void LMPlaceholderTextView::setPlaceholderString(const QString& s)
{
    m_placeholderString = s;
    setNeedsDisplay();
}

void LMPlaceholderTextView::setDefaultString(const QString& s)
{
    m_defaultString = s;
    applyDefaultString();
}

void LMPlaceholderTextView::applyDefaultString()
{
    if (!m_defaultString.isEmpty() && trimmedWhiteSpace(string()).isEmpty())
        LMLengthLimitTextView::setString(m_defaultString);
}

void LMPlaceholderTextView::setString(const QString& s)
{
    LMLengthLimitTextView::setString(s);
    redrawLater();
}

bool LMPlaceholderTextView::shouldChangeTextInRange(qint64 location, qint64 length, const QString& replacement)
{
    const bool accepted = lengthTest(location, length, replacement);
    if (accepted && !m_placeholderString.isEmpty()) {
        auto would = textAfterChange(string(), location, length, replacement);
        if (would && would->isEmpty() != string().isEmpty())
            redrawLater();
    }
    return accepted;
}

bool LMPlaceholderTextView::resignFirstResponder()
{
    editor().finishComposing(); // what was being composed counts before the text is judged empty
    applyDefaultString();
    return LMLengthLimitTextView::resignFirstResponder();
}

void LMPlaceholderTextView::drawRect(const kpv::Rect& dirty)
{
    LMLengthLimitTextView::drawRect(dirty);
    if (!showsPlaceholder() || editor().hasMarkedText())
        return;
    if (auto* gc = kpv::GraphicsContext::current())
        gc->drawTextInRect(m_placeholderString, kpv::Rect(5, 0, bounds().width() - 10, bounds().height()), font(),
                           kpv::Color(0.5, 0.5, 0.5), Qt::AlignLeft | Qt::AlignTop | Qt::TextWordWrap);
}

void ShareFileDescTextView::awakeFromNib()
{
    LMPlaceholderTextView::awakeFromNib();
    setPlaceholderString(kpv::Bundle::mainBundle().localizedString("IDS_SHARETIPS_DESC"));
    setAllowedMaxLength(maxFileDescLength(), true);
}

std::uint64_t ShareFileDescTextView::maxFileDescLengthByWebsiteType(long websiteType)
{
    switch (websiteType) {
    case 3:
        return 117;
    case 4:
        return 0;
    default:
        return 255;
    }
}

std::uint64_t ShareFileDescTextView::maxFileDescLength()
{
    const long type = m_shareFileDescDelegate ? m_shareFileDescDelegate->websiteTypeOfShareFileDescTextView(this) : 0;
    return maxFileDescLengthByWebsiteType(type);
}

void ShareFileDescTextView::didChangeText()
{
    LMPlaceholderTextView::didChangeText();
    if (m_shareFileDescDelegate)
        m_shareFileDescDelegate->ShareFileDescTextView_textChangedWithCurLength(
            this, std::uint64_t(trimmedWhiteSpace(string()).size()), maxFileDescLength());
}
