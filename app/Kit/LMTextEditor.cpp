#include "Kit/LMTextEditor.h"

#include "Kit/LMTextEditRules.h"
#include "appkit/Event.h"
#include "appkit/GraphicsContext.h"
#include "appkit/Menu.h"
#include "appkit/Pasteboard.h"
#include "appkit/TextInput.h"
#include "foundation/Bundle.h"

#include <QFontMetricsF>
#include <QPainter>
#include <QTextBoundaryFinder>
#include <QTextLayout>

#include <algorithm>
#include <cmath>

namespace {

constexpr std::uint64_t kShift = kpv::ShiftKeyMask;
constexpr std::uint64_t kCtrl = kpv::CommandKeyMask;
constexpr double kHuge = 1.0e6;

// A layout of the text for cursor stepping only (no lines placed).
struct Steps {
    explicit Steps(const QString& text) : layout(text)
    {
        layout.beginLayout();
        layout.endLayout();
    }
    QTextLayout layout;
};

// The direction of the first letter that has one: 1 right to left, -1 left to right, 0 none
// (digits, blanks and punctuation only).
int firstStrongDirection(QStringView text)
{
    for (const char32_t c : text.toUcs4()) {
        switch (QChar::direction(c)) {
        case QChar::DirL:
            return -1;
        case QChar::DirR:
        case QChar::DirAL:
            return 1;
        default:
            break;
        }
    }
    return 0;
}

} // namespace

LMTextEditor::LMTextEditor(TextGetter text, Replacer allows, Replacer replace, bool multiLine)
    : m_text(std::move(text)), m_allows(std::move(allows)), m_replace(std::move(replace)), m_multiLine(multiLine)
{
    // The input may still be under construction: its text is first read when editing starts.
}

void LMTextEditor::sync()
{
    const QString now = m_text();
    if (now == m_known)
        return;
    // Replaced from outside: the caret goes to the end, as after typing the whole text. The
    // edits remembered were made on another text, so none of them can be taken back any more.
    m_known = now;
    m_caret = m_anchor = now.size();
    m_undo.clear();
    m_redo.clear();
}

bool LMTextEditor::insertText(const QString& text)
{
    sync();
    return replaceSelection(text, false, EditKind::Typing);
}

bool LMTextEditor::deleteBackward()
{
    sync();
    return deleteAround(false);
}

QString LMTextEditor::selectedText() const { return m_text().mid(selectionStart(), selectionLength()); }

void LMTextEditor::setCaret(qint64 position, bool extend)
{
    sync();
    const qint64 size = m_text().size();
    m_caret = std::clamp<qint64>(position, 0, size);
    if (!extend)
        m_anchor = m_caret;
}

void LMTextEditor::selectAll()
{
    sync();
    m_anchor = 0;
    m_caret = m_text().size();
}


void LMTextEditor::setMarkedText(const QString& text, qint64 caretInText)
{
    sync();
    m_marked = LMTextEditRules::insertableText(text, m_multiLine);
    m_markedCaret = std::clamp<qint64>(caretInText, 0, m_marked.size());
}

bool LMTextEditor::commitText(const QString& text, qint64 replacementStart, qint64 replacementLength)
{
    sync();
    m_marked.clear();
    m_markedCaret = 0;
    if (replacementStart != 0 || replacementLength != 0) {
        // A range beside the caret that the input method takes back (a syllable it recomposes).
        const qint64 size = m_text().size();
        const qint64 from = std::clamp<qint64>(m_caret + replacementStart, 0, size);
        const qint64 to = std::clamp<qint64>(from + std::max<qint64>(replacementLength, 0), from, size);
        const qint64 caret = m_caret, anchor = m_anchor;
        m_anchor = from;
        m_caret = to;
        if (replaceSelection(text, true, EditKind::Typing))
            return true;
        m_caret = caret;
        m_anchor = anchor;
        return false;
    }
    if (text.isEmpty())
        return false;
    return replaceSelection(text, true, EditKind::Typing);
}

void LMTextEditor::finishComposing()
{
    if (m_marked.isEmpty())
        return;
    kpv::commitInputMethod();
    // Whatever the input method did not commit itself is kept, as if typed.
    if (!m_marked.isEmpty())
        commitText(QString(m_marked)); // a copy: the commit ends the composition first
}

QString LMTextEditor::shownText() const
{
    QString text = m_text();
    if (!m_marked.isEmpty())
        text.replace(selectionStart(), selectionLength(), m_marked);
    return text;
}

qint64 LMTextEditor::shownCaret() const { return m_marked.isEmpty() ? m_caret : selectionStart() + m_markedCaret; }

kpv::Rect LMTextEditor::caretRect(const Frame& frame) const
{
    QTextLayout layout;
    layOut(layout, frame);
    const qint64 caret = std::min<qint64>(shownCaret(), layout.text().size());
    QTextLine line = layout.lineForTextPosition(int(caret));
    double x = 0, y = 0, height = QFontMetricsF(frame.font.toQFont()).height();
    if (line.isValid()) {
        x = line.cursorToX(int(caret));
        y = line.y();
        height = line.height();
    }
    y += topOffset(layout, frame);
    x = std::clamp(x, 0.0, std::max(0.0, frame.rect.width() - 1));
    if (frame.flipped)
        return kpv::Rect(frame.rect.x() + x, frame.rect.y() + y, 1, height);
    return kpv::Rect(frame.rect.x() + x, frame.rect.y() + frame.rect.height() - y - height, 1, height);
}

bool LMTextEditor::scrollWheel(double deltaY, bool precise, const Frame& frame)
{
    if (!m_multiLine || deltaY == 0)
        return false;
    const double lineHeight = QFontMetricsF(frame.font.toQFont()).lineSpacing();
    // Upwards shows what is above; a notch of the wheel moves three lines, as elsewhere here.
    QTextLayout layout;
    layOut(layout, frame); // settles the scroll for the caret first
    const double settled = m_scrollY;
    m_scrollY -= precise ? deltaY : deltaY * 3 * lineHeight;
    QTextLayout moved;
    layOut(moved, frame); // and keeps it inside the text
    return m_scrollY != settled;
}

bool LMTextEditor::rightToLeftAt(qint64 position) const
{
    const QString text = m_text();
    const qint64 at = std::clamp<qint64>(position, 0, text.size());
    const qint64 start = at == 0 ? 0 : text.lastIndexOf(QLatin1Char('\n'), at - 1) + 1;
    const qint64 next = text.indexOf(QLatin1Char('\n'), at);
    return text.mid(start, (next < 0 ? text.size() : next) - start).isRightToLeft();
}

qint64 LMTextEditor::nextPosition(qint64 from, bool forward, bool word) const
{
    const Steps steps(m_text());
    const auto mode = word ? QTextLayout::SkipWords : QTextLayout::SkipCharacters;
    return forward ? steps.layout.nextCursorPosition(int(from), mode) : steps.layout.previousCursorPosition(int(from), mode);
}

bool LMTextEditor::replaceSelection(const QString& replacement, bool cutToFit, EditKind kind)
{
    const qint64 start = selectionStart(), length = selectionLength();
    const QString removed = m_text().mid(start, length);
    const QString text = LMTextEditRules::insertableText(replacement, m_multiLine);
    if (m_replace(start, length, text)) {
        m_known = m_text();
        setCaret(start + text.size());
        recordEdit(start, removed, text, kind);
        return true;
    }
    if (!cutToFit || text.isEmpty()) {
        // A key that typed or deleted: Backspace, Delete or Ctrl+X can be refused as well (the
        // rest would break a rule of the input).
        if (!cutToFit && m_typingRefused && (kind == EditKind::Typing ? !text.isEmpty() : text.isEmpty()))
            m_typingRefused(text);
        return false;
    }
    // An input that takes a paste whole has refused it: that too is worth a word.
    if (!m_cutsPasteToFit) {
        if (m_shortened)
            m_shortened(text.size(), 0);
        return false;
    }
    // The longest beginning of the text that the input still takes, cut between characters.
    QTextBoundaryFinder graphemes(QTextBoundaryFinder::Grapheme, text);
    QList<qint64> cuts;
    for (qint64 at = graphemes.toNextBoundary(); at > 0; at = graphemes.toNextBoundary())
        cuts.append(at);
    qint64 low = 0, high = cuts.size() - 1, best = -1;
    while (low <= high) {
        const qint64 mid = (low + high) / 2;
        if (m_allows(start, length, text.left(cuts[mid]))) {
            best = mid;
            low = mid + 1;
        } else {
            high = mid - 1;
        }
    }
    if (best < 0) {
        if (m_shortened)
            m_shortened(text.size(), 0);
        return false;
    }
    const QString kept = text.left(cuts[best]);
    if (!m_replace(start, length, kept))
        return false;
    m_known = m_text();
    setCaret(start + kept.size());
    recordEdit(start, removed, kept, kind);
    if (m_shortened)
        m_shortened(text.size(), kept.size());
    return true;
}

void LMTextEditor::recordEdit(qint64 location, const QString& removed, const QString& inserted, EditKind kind)
{
    m_redo.clear();
    // Typing on where the last typing ended, or deleting on from where the last delete stopped,
    // extends that edit: one undo takes back the whole run, as in every editor of this desktop.
    if (!m_undo.empty() && kind != EditKind::Other && m_undo.back().kind == kind) {
        Edit& last = m_undo.back();
        if (kind == EditKind::Typing && removed.isEmpty() && location == last.location + last.inserted.size()) {
            last.inserted += inserted;
            return;
        }
        if (kind == EditKind::Deleting && inserted.isEmpty() && last.inserted.isEmpty()) {
            if (location + removed.size() == last.location) { // Backspace
                last.location = location;
                last.removed.prepend(removed);
                return;
            }
            if (location == last.location) { // forward Delete
                last.removed += removed;
                return;
            }
        }
    }
    m_undo.push_back({location, removed, inserted, kind});
    // Enough to take back a long session of editing, never unbounded.
    constexpr std::size_t kMaxSteps = 200;
    if (m_undo.size() > kMaxSteps)
        m_undo.erase(m_undo.begin());
}

bool LMTextEditor::undo()
{
    sync();
    if (m_undo.empty())
        return false;
    const Edit edit = m_undo.back();
    // Through the input's own road: it may refuse (its limit was lowered meanwhile), and then the
    // step stays to be tried again.
    if (!m_replace(edit.location, edit.inserted.size(), edit.removed))
        return false;
    m_undo.pop_back();
    m_known = m_text();
    // What came back is selected, so the user sees what the undo restored.
    m_anchor = std::clamp<qint64>(edit.location, 0, m_known.size());
    m_caret = std::clamp<qint64>(edit.location + edit.removed.size(), 0, m_known.size());
    m_redo.push_back(edit);
    return true;
}

bool LMTextEditor::redo()
{
    sync();
    if (m_redo.empty())
        return false;
    Edit edit = m_redo.back();
    if (!m_replace(edit.location, edit.removed.size(), edit.inserted))
        return false;
    m_redo.pop_back();
    m_known = m_text();
    m_caret = m_anchor = std::clamp<qint64>(edit.location + edit.inserted.size(), 0, m_known.size());
    // A step made again is never merged with typing that follows it.
    edit.kind = EditKind::Other;
    m_undo.push_back(edit);
    return true;
}

bool LMTextEditor::deleteAround(bool forward)
{
    if (selectionLength() > 0)
        return replaceSelection(QString(), false, EditKind::Other);
    const qint64 other = nextPosition(m_caret, forward, false);
    if (other == m_caret)
        return false;
    // The character beside the caret, as a selection only while it is deleted: a refused delete
    // leaves the caret as it was.
    m_anchor = other;
    if (replaceSelection(QString(), false, EditKind::Deleting))
        return true;
    m_anchor = m_caret;
    return false;
}

void LMTextEditor::layOut(QTextLayout& layout, const Frame& frame) const
{
    QString text = shownText();
    // A layout breaks lines only at the line separator; a typed or pasted line break is one
    // here, in the same place, so that positions stay those of the text.
    if (m_multiLine)
        text.replace(QLatin1Char('\n'), QChar::LineSeparator);
    layout.setText(text);
    layout.setFont(frame.font.toQFont());
    QTextOption option;
    option.setWrapMode(m_multiLine ? QTextOption::WrapAtWordBoundaryOrAnywhere : QTextOption::NoWrap);
    // Text that starts with a right-to-left letter (Hebrew, Arabic) runs from the right: its
    // punctuation and digits fall in place, and a left-aligned input shows it at the right edge,
    // as the inputs of this desktop do, unless the alignment is meant as absolute.
    // One layout holds every paragraph of a box, so a box turns right to left only when each of
    // its paragraphs does; mixed paragraphs keep left to right.
    Qt::Alignment alignment = Qt::Alignment(frame.alignment) & Qt::AlignHorizontal_Mask;
    bool rightToLeft = false;
    for (const QStringView paragraph : QStringView(text).split(QChar::LineSeparator)) {
        const int direction = firstStrongDirection(paragraph);
        if (direction < 0) {
            rightToLeft = false;
            break;
        }
        rightToLeft = rightToLeft || direction > 0;
    }
    option.setTextDirection(rightToLeft ? Qt::RightToLeft : Qt::LeftToRight);
    if (rightToLeft && !(alignment & Qt::AlignAbsolute) && (alignment & (Qt::AlignLeft | Qt::AlignRight)))
        alignment ^= Qt::AlignLeft | Qt::AlignRight;
    option.setAlignment(alignment);
    layout.setTextOption(option);
    layout.beginLayout();
    if (m_multiLine) {
        std::vector<QTextLine> lines;
        double y = 0;
        for (QTextLine line = layout.createLine(); line.isValid(); line = layout.createLine()) {
            line.setLineWidth(frame.rect.width());
            line.setPosition(QPointF(0, y));
            y += line.height();
            lines.push_back(line);
        }
        // Text taller than the box scrolls by whole moves of the caret's line into sight: the
        // lines above or below it stay where they were until the caret leaves the box. Only a
        // caret that moved (or text that changed) is brought back: the wheel may scroll away
        // from it to read the rest.
        const qint64 caret = std::min<qint64>(shownCaret(), layout.text().size());
        const bool follow = caret != m_scrolledForCaret || layout.text().size() != m_scrolledForSize;
        m_scrolledForCaret = caret;
        m_scrolledForSize = layout.text().size();
        for (const QTextLine& line : lines) {
            if (!follow)
                break;
            const bool last = &line == &lines.back();
            if (caret < line.textStart() || (caret >= line.textStart() + line.textLength() && !last))
                continue;
            if (line.y() < m_scrollY)
                m_scrollY = line.y();
            else if (line.y() + line.height() > m_scrollY + frame.rect.height())
                m_scrollY = line.y() + line.height() - frame.rect.height();
            break;
        }
        m_scrollY = std::clamp(m_scrollY, 0.0, std::max(0.0, y - frame.rect.height()));
        for (QTextLine& line : lines)
            line.setPosition(QPointF(0, line.y() - m_scrollY));
    } else if (QTextLine line = layout.createLine(); line.isValid()) {
        line.setLineWidth(kHuge);
        const double natural = line.naturalTextWidth() + 1;
        if (natural <= frame.rect.width()) {
            m_scrollX = 0;
            line.setLineWidth(frame.rect.width());
            line.setPosition(QPointF(0, 0));
        } else {
            // A line wider than the input scrolls only as far as the caret needs to stay in
            // sight: what the user clicks stays under the pointer, and a drag selects steadily.
            line.setLineWidth(natural);
            const double caretX = line.cursorToX(int(std::min<qint64>(shownCaret(), layout.text().size())));
            if (caretX < m_scrollX)
                m_scrollX = caretX;
            else if (caretX > m_scrollX + frame.rect.width() - 2)
                m_scrollX = caretX - frame.rect.width() + 2;
            m_scrollX = std::clamp(m_scrollX, 0.0, natural - frame.rect.width() + 2);
            line.setPosition(QPointF(-m_scrollX, 0));
        }
    }
    layout.endLayout();
}

double LMTextEditor::topOffset(const QTextLayout& layout, const Frame& frame) const
{
    if (m_multiLine || layout.lineCount() == 0 || !(frame.alignment & Qt::AlignVCenter))
        return 0;
    return std::floor((frame.rect.height() - layout.lineAt(0).height()) / 2);
}

QPointF LMTextEditor::toLayout(kpv::Point p, const Frame& frame) const
{
    const double y = frame.flipped ? p.y - frame.rect.y() : frame.rect.y() + frame.rect.height() - p.y;
    return QPointF(p.x - frame.rect.x(), y);
}

qint64 LMTextEditor::positionAt(kpv::Point locationInView, const Frame& frame) const
{
    QTextLayout layout;
    layOut(layout, frame);
    if (layout.lineCount() == 0)
        return 0;
    const QPointF p = toLayout(locationInView, frame) - QPointF(0, topOffset(layout, frame));
    QTextLine line = layout.lineAt(layout.lineCount() - 1);
    for (int i = 0; i < layout.lineCount(); ++i) {
        if (p.y() < layout.lineAt(i).y() + layout.lineAt(i).height()) {
            line = layout.lineAt(i);
            break;
        }
    }
    return line.xToCursor(p.x() - line.position().x() + line.position().x(), QTextLine::CursorBetweenCharacters);
}

qint64 LMTextEditor::lineEdge(qint64 from, bool end, const Frame& frame) const
{
    if (!m_multiLine)
        return end ? m_text().size() : 0;
    QTextLayout layout;
    layOut(layout, frame);
    const QTextLine line = layout.lineForTextPosition(int(from));
    if (!line.isValid())
        return from;
    if (!end)
        return line.textStart();
    // The end of a wrapped line is before its trailing blank or line break.
    qint64 edge = line.textStart() + line.textLength();
    const QString text = m_text();
    if (edge > line.textStart() && edge <= text.size() && (text.at(edge - 1) == u'\n' || (edge < text.size() && text.at(edge - 1).isSpace())))
        --edge;
    return edge;
}

qint64 LMTextEditor::verticalMove(qint64 from, bool down, const Frame& frame) const
{
    if (!m_multiLine)
        return down ? m_text().size() : 0;
    QTextLayout layout;
    layOut(layout, frame);
    const QTextLine line = layout.lineForTextPosition(int(from));
    if (!line.isValid())
        return from;
    const int target = line.lineNumber() + (down ? 1 : -1);
    if (target < 0)
        return 0;
    if (target >= layout.lineCount())
        return m_text().size();
    return layout.lineAt(target).xToCursor(line.cursorToX(int(from)));
}

bool LMTextEditor::keyDown(const kpv::Event& e, const Frame& frame)
{
    sync();
    finishComposing();
    const std::uint64_t f = e.modifierFlags();
    const bool shift = f & kShift;
    const bool ctrl = f & kCtrl;
    switch (e.keyCode()) {
    case kpv::KeyCode::LeftArrow:
    case kpv::KeyCode::RightArrow: {
        // In a right-to-left paragraph (Hebrew, Arabic) the text runs leftwards: Left moves on
        // through the text and Right back, so the caret goes the way the arrow points.
        const bool forward = (e.keyCode() == kpv::KeyCode::RightArrow) != rightToLeftAt(m_caret);
        if (selectionLength() > 0 && !shift && !ctrl)
            setCaret(forward ? selectionStart() + selectionLength() : selectionStart());
        else
            setCaret(nextPosition(m_caret, forward, ctrl), shift);
        if (shift)
            publishSelection();
        return true;
    }
    case kpv::KeyCode::UpArrow:
    case kpv::KeyCode::DownArrow:
        setCaret(verticalMove(m_caret, e.keyCode() == kpv::KeyCode::DownArrow, frame), shift);
        if (shift)
            publishSelection();
        return true;
    case kpv::KeyCode::Home:
    case kpv::KeyCode::End: {
        const bool end = e.keyCode() == kpv::KeyCode::End;
        setCaret(ctrl ? (end ? m_text().size() : 0) : lineEdge(m_caret, end, frame), shift);
        if (shift)
            publishSelection();
        return true;
    }
    case kpv::KeyCode::Delete: // Backspace
    case kpv::KeyCode::ForwardDelete: {
        const bool forward = e.keyCode() == kpv::KeyCode::ForwardDelete;
        if (!ctrl || selectionLength() > 0) {
            deleteAround(forward);
            return true;
        }
        // With Ctrl, the word before or after the caret goes, as in every input of this desktop;
        // refused, the caret stays where it was.
        const qint64 other = nextPosition(m_caret, forward, true);
        if (other != m_caret) {
            m_anchor = other;
            if (!replaceSelection(QString(), false, EditKind::Deleting))
                m_anchor = m_caret;
        }
        return true;
    }
    case kpv::KeyCode::Return:
    case kpv::KeyCode::KeypadEnter:
        if (!m_multiLine)
            return false;
        replaceSelection(QStringLiteral("\n"), false, EditKind::Typing);
        return true;
    default:
        break;
    }
    if (ctrl && !(f & (kpv::AlternateKeyMask | kpv::ControlKeyMask))) {
        switch (e.keyCode()) {
        case kpv::KeyCode::A:
            selectAll();
            publishSelection();
            return true;
        case kpv::KeyCode::C:
        case kpv::KeyCode::X:
            if (selectionLength() > 0) {
                kpv::Pasteboard::generalPasteboard().writeString(selectedText());
                if (e.keyCode() == kpv::KeyCode::X)
                    replaceSelection(QString(), false, EditKind::Other);
            }
            return true;
        case kpv::KeyCode::V: {
            const QString pasted = kpv::Pasteboard::generalPasteboard().string();
            if (!pasted.isEmpty())
                replaceSelection(pasted, true, EditKind::Other);
            return true;
        }
        case kpv::KeyCode::Z:
            if (shift)
                redo();
            else
                undo();
            return true;
        case kpv::KeyCode::Y:
            redo();
            return true;
        default:
            return false;
        }
    }
    const QString chars = e.characters();
    if (!ctrl && LMTextEditRules::isTypedText(chars)) {
        replaceSelection(chars, false, EditKind::Typing);
        return true;
    }
    return false;
}

std::shared_ptr<kpv::Menu> LMTextEditor::contextMenu(const Frame& frame, bool editable, std::function<void()> changed)
{
    sync();
    auto menu = std::make_shared<kpv::Menu>();
    auto title = [](const char* key) { return kpv::Bundle::mainBundle().localizedString(QString::fromLatin1(key)); };
    // Each item is the key the user could have pressed instead.
    auto item = [&](const char* key, unsigned short keyCode, const QString& letter, bool enabled) {
        auto entry = std::make_shared<kpv::MenuItem>(title(key), [this, frame, editable, changed, keyCode, letter](kpv::MenuItem&) {
            if (!editable && keyCode != kpv::KeyCode::C && keyCode != kpv::KeyCode::A)
                return;
            keyDown(*kpv::Event::keyEvent(kpv::KeyDown, keyCode, letter, letter, nullptr, kpv::CommandKeyMask), frame);
            if (changed)
                changed();
        });
        entry->setEnabled(enabled);
        menu->addItem(entry);
    };
    const bool selected = selectionLength() > 0;
    item("IDS_MENU_Cut", kpv::KeyCode::X, QStringLiteral("x"), selected && editable);
    item("IDS_MENU_Copy", kpv::KeyCode::C, QStringLiteral("c"), selected);
    item("IDS_MENU_Paste", kpv::KeyCode::V, QStringLiteral("v"),
         editable && !kpv::Pasteboard::generalPasteboard().string().isEmpty());
    menu->addItem(kpv::MenuItem::separatorItem());
    item("IDS_MENU_SelectAll", kpv::KeyCode::A, QStringLiteral("a"), !m_text().isEmpty());
    return menu;
}

void LMTextEditor::mouseDown(const kpv::Event& e, kpv::Point locationInView, const Frame& frame)
{
    sync();
    finishComposing();
    const qint64 at = positionAt(locationInView, frame);
    if (e.clickCount() == 2) {
        // A double click selects the word under the pointer.
        const QString text = m_text();
        QTextBoundaryFinder words(QTextBoundaryFinder::Word, text);
        words.setPosition(int(at));
        qint64 start = words.isAtBoundary() && (words.boundaryReasons() & QTextBoundaryFinder::StartOfItem) ? at : words.toPreviousBoundary();
        words.setPosition(int(at));
        qint64 end = words.toNextBoundary();
        if (start < 0)
            start = 0;
        if (end < 0)
            end = text.size();
        m_anchor = start;
        m_caret = end;
        publishSelection();
        return;
    }
    if (e.clickCount() >= 3) {
        // A triple click selects the line: the whole of a one-line input, the paragraph under
        // the pointer in a multi-line one (without its line break).
        if (!m_multiLine) {
            selectAll();
        } else {
            const QString text = m_text();
            const qint64 start = at == 0 ? 0 : text.lastIndexOf(QLatin1Char('\n'), at - 1) + 1;
            const qint64 next = text.indexOf(QLatin1Char('\n'), at);
            m_anchor = start;
            m_caret = next < 0 ? text.size() : next;
        }
        publishSelection();
        return;
    }
    setCaret(at, (e.modifierFlags() & kShift) != 0);
    publishSelection();
}

void LMTextEditor::mouseDragged(kpv::Point locationInView, const Frame& frame)
{
    setCaret(positionAt(locationInView, frame), true);
    publishSelection();
}

void LMTextEditor::publishSelection()
{
    if (selectionLength() > 0)
        kpv::Pasteboard::selectionPasteboard().writeString(selectedText());
}

bool LMTextEditor::pasteSelectionAt(kpv::Point locationInView, const Frame& frame)
{
    sync();
    finishComposing();
    const QString pasted = kpv::Pasteboard::selectionPasteboard().string();
    if (pasted.isEmpty())
        return false;
    // At the point, whatever is selected: the selection stays as it was.
    setCaret(positionAt(locationInView, frame));
    return replaceSelection(pasted, true, EditKind::Other);
}

void LMTextEditor::draw(kpv::GraphicsContext& gc, const Frame& frame, const kpv::Color& textColor, bool focused)
{
    sync();
    QPainter* p = gc.painter();
    if (!p)
        return;
    QTextLayout layout;
    layOut(layout, frame);
    p->save();
    if (frame.flipped) {
        p->translate(frame.rect.x(), frame.rect.y());
    } else {
        p->translate(frame.rect.x(), frame.rect.y() + frame.rect.height());
        p->scale(1, -1);
    }
    p->setClipRect(QRectF(0, 0, frame.rect.width(), frame.rect.height()));
    p->setPen(textColor.toQColor());
    p->setRenderHint(QPainter::TextAntialiasing);
    QList<QTextLayout::FormatRange> selections;
    if (!m_marked.isEmpty()) {
        // The text being composed is underlined, in place of the selection it will replace.
        QTextLayout::FormatRange range;
        range.start = int(selectionStart());
        range.length = int(m_marked.size());
        range.format.setFontUnderline(true);
        selections.append(range);
    } else if (focused && selectionLength() > 0) {
        QTextLayout::FormatRange range;
        range.start = int(selectionStart());
        range.length = int(selectionLength());
        range.format.setBackground(QColor(60, 110, 200));
        range.format.setForeground(Qt::white);
        selections.append(range);
    }
    const QPointF origin(0, topOffset(layout, frame));
    layout.draw(p, origin, selections);
    if (focused)
        layout.drawCursor(p, origin, int(shownCaret()), 1);
    p->restore();
}
