#include "Kit/LMLengthLimitTextField.h"

#include "Kit/LMTextEditRules.h"
#include "appkit/Event.h"
#include "appkit/GraphicsContext.h"
#include "appkit/Menu.h"
#include "appkit/Pasteboard.h"
#include "appkit/Window.h"
#include "foundation/Bundle.h"

#include <QFontMetricsF>

#include <algorithm>
#include <cmath>
#include <vector>

using namespace LMTextEditRules;

LMLengthLimitTextField::LMLengthLimitTextField(const kpv::Rect& frame)
    : kpv::TextField(frame),
      m_editor([this] { return stringValue(); },
               [this](qint64 location, qint64 length, const QString& text) {
                   return textView_shouldChangeTextInRange(location, length, text);
               },
               [this](qint64 location, qint64 length, const QString& text) {
                   const bool done = replaceCharactersInRange(location, length, text);
                   setNeedsDisplay();
                   return done;
               },
               false),
      m_input(*this, m_editor, [this] { return editorFrame(); }, [this] { return m_editable; }, kpv::TextInputClient::HintNone)
{
    m_editor.setShortenedHandler([this](qint64, qint64 kept) {
        if (!m_pasteShortened)
            return;
        if (const QString note = pasteNote(kept); !note.isEmpty())
            m_pasteShortened(note);
    });
    m_editor.setTypingRefusedHandler([this](const QString& typed) {
        if (!m_pasteShortened)
            return;
        if (const QString note = typingNote(typed); !note.isEmpty())
            m_pasteShortened(note);
    });
}

QString LMLengthLimitTextField::typingNote(const QString& typed) const
{
    // Only the limit is told here: a key refused by another rule is the subclass's to explain.
    if (m_allowedMaxLength == 0 || lengthTest(m_editor.selectionStart(), m_editor.selectionLength(), typed))
        return QString();
    return kpv::Bundle::mainBundle().localizedStringWithFormat(QStringLiteral("IDS_FieldTypedFull_Fmt"),
                                                               qlonglong(m_allowedMaxLength));
}

QString LMLengthLimitTextField::pasteNote(qint64 kept) const
{
    if (m_allowedMaxLength == 0)
        return QString();
    // Nothing taken: only the limit is worth a word, not another rule of the field (a leading
    // point); the limit is at fault when not even one letter more would fit.
    if (kept == 0 && lengthTest(m_editor.selectionStart(), m_editor.selectionLength(), QStringLiteral("x")))
        return QString();
    return kpv::Bundle::mainBundle().localizedStringWithFormat(
        QString::fromLatin1(kept > 0 ? "IDS_FieldPasteShortened_Fmt" : "IDS_FieldPasteFull_Fmt"),
        qlonglong(m_allowedMaxLength));
}

LMTextEditor::Frame LMLengthLimitTextField::editorFrame() const
{
    return {kpv::insetRect(bounds(), 2, 0), font(), alignment(), isFlipped()};
}

bool LMLengthLimitTextField::becomeFirstResponder()
{
    setNeedsDisplay();
    return true;
}

bool LMLengthLimitTextField::resignFirstResponder()
{
    // What the user is composing is kept when the focus moves on.
    m_editor.finishComposing();
    setNeedsDisplay();
    return true;
}

void LMLengthLimitTextField::setEditable(bool editable)
{
    if (editable == m_editable)
        return;
    m_editable = editable;
    if (!editable && isFocused())
        window()->makeFirstResponder(nullptr);
    setNeedsDisplay();
}

bool LMLengthLimitTextField::isFocused() const { return window() && window()->firstResponder() == this; }

void LMLengthLimitTextField::setAllowedMaxLength(std::uint64_t max, bool ignoreWS)
{
    m_allowedMaxLength = max;
    m_ignoreWhiteSpace = ignoreWS;
}

bool LMLengthLimitTextField::lengthTest(qint64 location, qint64 length, const QString& replacement) const
{
    auto would = textAfterChange(stringValue(), location, length, replacement);
    if (!would)
        return false;
    return lengthAllowsChange(stringValue(), *would, m_allowedMaxLength, m_ignoreWhiteSpace);
}

bool LMLengthLimitTextField::textView_shouldChangeTextInRange(qint64 location, qint64 length, const QString& repl)
{
    return lengthTest(location, length, repl);
}

bool LMLengthLimitTextField::replaceCharactersInRange(qint64 location, qint64 length, const QString& replacement)
{
    if (!textView_shouldChangeTextInRange(location, length, replacement))
        return false;
    auto would = textAfterChange(stringValue(), location, length, replacement);
    if (!would)
        return false;
    setStringValue(*would);
    return true;
}

bool LMLengthLimitTextField::insertText(const QString& text) { return m_editor.insertText(text); }

bool LMLengthLimitTextField::deleteBackward() { return m_editor.deleteBackward(); }

namespace {

void collectEditableFields(kpv::View* view, std::vector<LMLengthLimitTextField*>& out)
{
    for (kpv::View* sub : view->subviews()) {
        if (sub->isHidden())
            continue;
        if (auto* field = dynamic_cast<LMLengthLimitTextField*>(sub); field && field->isEditable())
            out.push_back(field);
        collectEditableFields(sub, out);
    }
}

} // namespace

void LMLengthLimitTextField::didReceiveKeyFocusFromKeyboard()
{
    m_editor.selectAll();
    setNeedsDisplay();
}

bool LMLengthLimitTextField::focusNextField(bool backwards)
{
    kpv::Window* w = window();
    if (!w || !w->contentView())
        return false;
    // A window that keeps a Tab loop goes round all its controls, the fields among them.
    if (w->autorecalculatesKeyViewLoop()) {
        backwards ? w->selectPreviousKeyView() : w->selectNextKeyView();
        return true;
    }
    std::vector<LMLengthLimitTextField*> fields;
    collectEditableFields(w->contentView(), fields);
    if (fields.size() < 2)
        return false;
    // In reading order: rows from the top down, each from left to right.
    auto place = [](LMLengthLimitTextField* f) { return f->convertRectToView(f->bounds(), nullptr); };
    std::stable_sort(fields.begin(), fields.end(), [&](LMLengthLimitTextField* a, LMLengthLimitTextField* b) {
        const kpv::Rect ra = place(a), rb = place(b);
        if (std::abs(ra.midY() - rb.midY()) > ra.height() / 2)
            return ra.midY() > rb.midY();
        return ra.x() < rb.x();
    });
    const auto here = std::find(fields.begin(), fields.end(), this);
    const std::ptrdiff_t count = std::ptrdiff_t(fields.size());
    const std::ptrdiff_t index = here == fields.end() ? 0 : here - fields.begin();
    LMLengthLimitTextField* next = fields[std::size_t((index + (backwards ? count - 1 : 1)) % count)];
    if (!w->makeFirstResponder(next))
        return false;
    // The whole text is selected, so typing replaces it.
    next->m_editor.selectAll();
    next->setNeedsDisplay();
    return true;
}

void LMLengthLimitTextField::keyDown(const kpv::Event& e)
{
    // Tab and Shift+Tab go on to the next and the previous field of the window.
    if (m_editable && e.keyCode() == kpv::KeyCode::Tab &&
        !(e.modifierFlags() & (kpv::ControlKeyMask | kpv::AlternateKeyMask | kpv::CommandKeyMask)) &&
        focusNextField(e.modifierFlags() & kpv::ShiftKeyMask)) {
        setNeedsDisplay();
        return;
    }
    if (m_editable && m_editor.keyDown(e, editorFrame())) {
        setNeedsDisplay();
        kpv::updateInputMethod(this);
        return;
    }
    kpv::TextField::keyDown(e);
}

void LMLengthLimitTextField::mouseDown(const kpv::Event& e)
{
    if (!m_editable)
        return;
    if (window())
        window()->makeFirstResponder(this);
    m_editor.mouseDown(e, convertPointFromView(e.locationInWindow(), nullptr), editorFrame());
    setNeedsDisplay();
    kpv::updateInputMethod(this);
}

std::shared_ptr<kpv::Menu> LMLengthLimitTextField::textMenu()
{
    return m_editor.contextMenu(editorFrame(), m_editable, [this] {
        setNeedsDisplay();
        kpv::updateInputMethod(this);
    });
}

void LMLengthLimitTextField::rightMouseDown(const kpv::Event& e)
{
    if (!m_editable || !window())
        return;
    window()->makeFirstResponder(this);
    setNeedsDisplay();
    kpv::Menu::popUpContextMenu(textMenu(), e, this);
}

void LMLengthLimitTextField::otherMouseDown(const kpv::Event& e)
{
    if (e.buttonNumber() != 2) {
        kpv::TextField::otherMouseDown(e);
        return;
    }
    if (!m_editable)
        return;
    if (window())
        window()->makeFirstResponder(this);
    m_editor.pasteSelectionAt(convertPointFromView(e.locationInWindow(), nullptr), editorFrame());
    setNeedsDisplay();
    kpv::updateInputMethod(this);
}

void LMLengthLimitTextField::mouseDragged(const kpv::Event& e)
{
    if (!m_editable)
        return;
    m_editor.mouseDragged(convertPointFromView(e.locationInWindow(), nullptr), editorFrame());
    setNeedsDisplay();
    kpv::updateInputMethod(this);
}

QString LMLengthLimitTextField::shownStringValue() const
{
    if (isFocused() || lineBreakMode() != LineBreakByTruncatingMiddle)
        return stringValue();
    return QFontMetricsF(font().toQFont()).elidedText(stringValue(), Qt::ElideMiddle, editorFrame().rect.width());
}

void LMLengthLimitTextField::drawRect(const kpv::Rect&)
{
    kpv::GraphicsContext* gc = kpv::GraphicsContext::current();
    if (!gc)
        return;
    const kpv::Color color = m_editable ? textColor() : kpv::Color::disabledControlTextColor();
    // Not being edited, a text too long for the field gives up its middle, so both ends show;
    // while editing, the whole text scrolls with the caret.
    const QString shown = shownStringValue();
    if (shown != stringValue()) {
        const LMTextEditor::Frame frame = editorFrame();
        gc->drawTextInRect(shown, frame.rect, frame.font, color, frame.alignment);
        return;
    }
    m_editor.draw(*gc, editorFrame(), color, isFocused());
}

LMNumericTextField::LMNumericTextField(const kpv::Rect& frame) : LMLengthLimitTextField(frame)
{
    inputClient().setInputMethodHints(kpv::TextInputClient::HintDigitsOnly);
    // "1,200" cut to what fits would be 1, and "12345" in four digits 1234: a number is taken
    // whole or not at all.
    editor().setCutsPasteToFit(false);
}

QString LMNumericTextField::pasteNote(qint64 kept) const
{
    if (kept > 0)
        return LMLengthLimitTextField::pasteNote(kept);
    // Taken whole or refused: the note gives both rules, whichever the paste broke.
    const kpv::Bundle& bundle = kpv::Bundle::mainBundle();
    return allowedMaxLength() == 0
               ? bundle.localizedString(QStringLiteral("IDS_FieldPasteDigitsOnly"))
               : bundle.localizedStringWithFormat(QStringLiteral("IDS_FieldPasteDigits_Fmt"), qlonglong(allowedMaxLength()));
}

QString LMNumericTextField::typingNote(const QString& typed) const
{
    if (const QString note = LMLengthLimitTextField::typingNote(typed); !note.isEmpty() || isAllDigits(typed))
        return note;
    return kpv::Bundle::mainBundle().localizedString(QStringLiteral("IDS_FieldTypedDigitsOnly"));
}

bool LMNumericTextField::textView_shouldChangeTextInRange(qint64 location, qint64 length, const QString& repl)
{
    auto would = textAfterChange(stringValue(), location, length, repl);
    if (!would || !isAllDigits(*would))
        return false;
    return lengthTest(location, length, repl);
}

QString LMPathNameTextField::pasteNote(qint64 kept) const
{
    // Nothing taken, and not for the limit: the text would have begun with a point.
    if (const QString note = LMLengthLimitTextField::pasteNote(kept); !note.isEmpty() || kept > 0)
        return note;
    return kpv::Bundle::mainBundle().localizedString(QStringLiteral("IDS_FieldNameLeadingPoint"));
}

QString LMPathNameTextField::typingNote(const QString& typed) const
{
    if (const QString note = LMLengthLimitTextField::typingNote(typed); !note.isEmpty())
        return note;
    return kpv::Bundle::mainBundle().localizedString(QStringLiteral("IDS_FieldNameLeadingPoint"));
}

bool LMPathNameTextField::textView_shouldChangeTextInRange(qint64 location, qint64 length, const QString& repl)
{
    auto would = textAfterChange(stringValue(), location, length, repl);
    if (!would || (!would->isEmpty() && (*would)[0] == u'.'))
        return false;
    return lengthTest(location, length, repl);
}
