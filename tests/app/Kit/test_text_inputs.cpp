// Text inputs that refuse an edit before it happens: length limits counted in UTF-16 units with
// text outside the basic plane, pastes refused whole, ranges outside the text or inside a
// character, the delete key on a surrogate pair, digits-only and file-name fields, the disabled
// text view, the placeholder and default text, and the share description's site limits.
#include "Kit/LMLengthLimitTextField.h"
#include "Kit/LMLengthLimitTextView.h"
#include "Kit/LMTextEditRules.h"
#include "Kit/LMTextEditor.h"
#include "appkit/Event.h"
#include "appkit/Menu.h"
#include "appkit/Pasteboard.h"
#include "appkit/Window.h"
#include "foundation/Clock.h"
#include "foundation/RunLoop.h"
#include "kit_support.h"

#include <QCoreApplication>
#include <QFontMetricsF>
#include <QImage>
#include <QMouseEvent>
#include <QWidget>
#include <gtest/gtest.h>

using namespace kpv;

namespace {

const QString kSmile = QString::fromUtf8("\xF0\x9F\x98\x80"); // one character, two UTF-16 units

void type(View& v, const QString& chars)
{
    v.keyDown(*Event::keyEvent(KeyDown, KeyCode::A, chars, chars, nullptr));
}
void pressDelete(View& v) { v.keyDown(*Event::keyEvent(KeyDown, KeyCode::Delete, "\x7f", "\x7f", nullptr)); }

TEST(TextEditRules, RangesOutsideTheTextOrInsideACharacterAreRefused)
{
    using LMTextEditRules::textAfterChange;
    EXPECT_EQ(textAfterChange("abc", 1, 1, "XY"), QString("aXYc"));
    EXPECT_EQ(textAfterChange("abc", 3, 0, "d"), QString("abcd"));
    EXPECT_FALSE(textAfterChange("abc", 4, 0, "d"));
    EXPECT_FALSE(textAfterChange("abc", 2, 2, ""));
    EXPECT_FALSE(textAfterChange("abc", -1, 1, ""));
    EXPECT_FALSE(textAfterChange("abc", 1, -1, ""));
    EXPECT_FALSE(textAfterChange("abc", 1, std::numeric_limits<qint64>::max(), "")); // no overflow
    // Either edge between the halves of a pair would leave half a character behind.
    const QString t = "a" + kSmile + "b";
    EXPECT_FALSE(textAfterChange(t, 2, 0, "x"));
    EXPECT_FALSE(textAfterChange(t, 1, 1, ""));
    EXPECT_FALSE(textAfterChange(t, 2, 2, ""));
    EXPECT_EQ(textAfterChange(t, 1, 2, ""), QString("ab"));
}

TEST(LengthLimitTextField, LimitsCountUnitsAndRefusePastesWhole)
{
    LMLengthLimitTextField f;
    f.setAllowedMaxLength(4, false);
    EXPECT_TRUE(f.insertText(kSmile));
    EXPECT_TRUE(f.insertText("ab"));
    EXPECT_FALSE(f.insertText(kSmile)); // would be 6 units
    EXPECT_FALSE(f.insertText("xyz")); // a paste is refused whole, never cut
    EXPECT_EQ(f.stringValue(), kSmile + "ab");
    // Replacing the pair by one letter makes room; a range inside the pair does nothing.
    EXPECT_FALSE(f.replaceCharactersInRange(1, 2, "q"));
    EXPECT_TRUE(f.replaceCharactersInRange(0, 2, "q"));
    EXPECT_EQ(f.stringValue(), QString("qab"));
    EXPECT_FALSE(f.replaceCharactersInRange(5, 0, "z"));
    EXPECT_EQ(f.stringValue(), QString("qab"));

    // No limit: anything goes.
    f.setAllowedMaxLength(0, false);
    EXPECT_TRUE(f.insertText(QString(1000, 'x')));
}

TEST(LengthLimitTextField, BlanksAtBothEndsCanBeLeftUncounted)
{
    LMLengthLimitTextField f;
    f.setAllowedMaxLength(10, true);
    for (int i = 0; i < 10; ++i)
        type(f, "w");
    type(f, " ");
    EXPECT_TRUE(f.insertText("\t")); // the tab key moves on; a tab arrives by pasting
    EXPECT_EQ(f.stringValue().size(), 12);
    type(f, "x"); // the blanks become inner ones: 13 counted units
    EXPECT_EQ(f.stringValue().size(), 12);
    // Non-breaking and ideographic spaces are blanks too.
    EXPECT_TRUE(f.replaceCharactersInRange(0, 0, QString(QChar(0x3000)) + QChar(0x00A0)));
}

TEST(LengthLimitTextField, TypingAndDeletingTakeSurrogatePairsWhole)
{
    LMLengthLimitTextField f;
    f.setAllowedMaxLength(3, false);
    type(f, kSmile); // typed text outside the basic plane is text, not a control key
    EXPECT_EQ(f.stringValue(), kSmile);
    type(f, kSmile);
    EXPECT_EQ(f.stringValue(), kSmile); // 4 units: refused
    type(f, "a");
    pressDelete(f);
    pressDelete(f);
    EXPECT_EQ(f.stringValue(), QString()); // the pair went in one press, never half of it
    pressDelete(f);
    EXPECT_EQ(f.stringValue(), QString());
    type(f, "\x01"); // a control character is not inserted
    EXPECT_EQ(f.stringValue(), QString());
}

TEST(LengthLimitTextField, DigitsOnlyAndFileNames)
{
    LMNumericTextField n;
    n.setAllowedMaxLength(4, false);
    for (const char* bad : {"-", "+", ".", " ", "\xd9\xa3" /* an Arabic-Indic digit */})
        EXPECT_FALSE(n.insertText(QString::fromUtf8(bad))) << bad;
    EXPECT_TRUE(n.insertText("1234"));
    EXPECT_FALSE(n.insertText("5"));
    EXPECT_TRUE(n.replaceCharactersInRange(0, 4, "")); // deleting every digit
    EXPECT_FALSE(n.insertText("12a")); // a paste with one wrong character is refused whole
    EXPECT_EQ(n.stringValue(), QString());

    LMPathNameTextField p;
    EXPECT_FALSE(p.insertText("."));
    EXPECT_TRUE(p.insertText("photo.jpg"));
    EXPECT_FALSE(p.replaceCharactersInRange(0, 1, "."));
    EXPECT_FALSE(p.replaceCharactersInRange(0, 5, "")); // would leave ".jpg"
    EXPECT_TRUE(p.replaceCharactersInRange(0, 9, ""));
    p.setAllowedMaxLength(3, false);
    EXPECT_FALSE(p.insertText("abcd"));
}

void press(View& v, unsigned short code, std::uint64_t flags = 0)
{
    v.keyDown(*Event::keyEvent(KeyDown, code, QString(), QString(), nullptr, flags));
}

// Ctrl+V in a field of digits: a number is taken whole, never cut into another number.
TEST(LengthLimitTextField, APastedNumberIsTakenWholeOrNotAtAll)
{
    LMNumericTextField n;
    n.setAllowedMaxLength(4, false);
    for (const char* pasted : {"1,200", "72 dpi", "12345", "1200"}) {
        kpv::Pasteboard::generalPasteboard().writeString(pasted);
        press(n, KeyCode::V, CommandKeyMask);
    }
    EXPECT_EQ(n.stringValue(), "1200");
}

// Editing as on every input of the desktop: the caret moves with the arrows, Home and End, Shift
// selects, typing replaces the selection, Ctrl+A/C/X/V go through the clipboard, Backspace and
// Delete work at the caret, and a paste past the limit is cut to what fits.
TEST(LengthLimitTextField, EditsAtTheCaretWithSelectionAndClipboard)
{
    LMLengthLimitTextField f;
    f.setAllowedMaxLength(12, false);
    for (const char* c : {"a", "u", "d", "i", "t"})
        type(f, c);
    press(f, KeyCode::LeftArrow);
    press(f, KeyCode::LeftArrow);
    type(f, "X");
    EXPECT_EQ(f.stringValue(), QString("audXit"));
    press(f, KeyCode::Home);
    type(f, "Z");
    press(f, KeyCode::End, ShiftKeyMask);
    EXPECT_EQ(f.editor().selectedText(), QString("audXit"));
    press(f, KeyCode::C, CommandKeyMask);
    type(f, "q");
    EXPECT_EQ(f.stringValue(), QString("Zq"));
    press(f, KeyCode::V, CommandKeyMask);
    EXPECT_EQ(f.stringValue(), QString("ZqaudXit"));
    press(f, KeyCode::A, CommandKeyMask);
    press(f, KeyCode::X, CommandKeyMask);
    EXPECT_EQ(f.stringValue(), QString());
    press(f, KeyCode::V, CommandKeyMask);
    press(f, KeyCode::V, CommandKeyMask); // 16 units would not fit: the second paste is cut
    EXPECT_EQ(f.stringValue(), QString("ZqaudXitZqau"));
    type(f, "w"); // typing at the limit is refused
    press(f, KeyCode::LeftArrow, ShiftKeyMask);
    press(f, KeyCode::LeftArrow, ShiftKeyMask);
    pressDelete(f); // Backspace takes the selection
    press(f, KeyCode::Home);
    press(f, KeyCode::ForwardDelete);
    EXPECT_EQ(f.stringValue(), QString("qaudXitZq"));
    // Text set from outside puts the caret at its end.
    f.setStringValue("new");
    type(f, "s");
    EXPECT_EQ(f.stringValue(), QString("news"));
}

// Text pasted from elsewhere keeps its lines in a box of several lines, whatever their line
// ends, and runs on one line in a field, a tab as a space; control characters are left out, so
// that a paste puts no tab or stray byte in a file name.
TEST(LengthLimitTextField, APasteOfSeveralLinesFitsTheInput)
{
    kpv::Pasteboard::generalPasteboard().writeString(QString::fromUtf8("Ur\tlaub\r\nam\x01 See\r"));
    LMPathNameTextField name;
    press(name, KeyCode::V, CommandKeyMask);
    EXPECT_EQ(name.stringValue(), QString("Ur laub am See "));
    LMLengthLimitTextView box;
    box.awakeFromNib();
    press(box, KeyCode::V, CommandKeyMask);
    EXPECT_EQ(box.string(), QString("Ur\tlaub\nam See\n"));
}

// Ctrl+Z takes back what the user did, a run of typing or of Backspace at a time, and brings
// back a text replaced by mistake; Ctrl+Shift+Z and Ctrl+Y make it again. A text set from
// outside starts a new history.
TEST(LengthLimitTextField, UndoAndRedoTakeBackWholeRunsOfEditing)
{
    LMLengthLimitTextField f;
    f.setAllowedMaxLength(20, false);
    for (const char* c : {"h", "o", "l", "i", "d", "a", "y"})
        type(f, c);
    press(f, KeyCode::A, CommandKeyMask);
    type(f, "x"); // the whole name replaced by one stray key
    EXPECT_EQ(f.stringValue(), QString("x"));
    press(f, KeyCode::Z, CommandKeyMask);
    EXPECT_EQ(f.stringValue(), QString("holiday"));
    EXPECT_EQ(f.editor().selectedText(), QString("holiday")); // what came back is selected
    press(f, KeyCode::Z, CommandKeyMask | ShiftKeyMask);
    EXPECT_EQ(f.stringValue(), QString("x"));
    press(f, KeyCode::Z, CommandKeyMask);
    press(f, KeyCode::End);
    pressDelete(f);
    pressDelete(f);
    pressDelete(f);
    EXPECT_EQ(f.stringValue(), QString("holi"));
    press(f, KeyCode::Z, CommandKeyMask); // the three Backspaces at once
    EXPECT_EQ(f.stringValue(), QString("holiday"));
    press(f, KeyCode::Z, CommandKeyMask); // then the typing
    EXPECT_EQ(f.stringValue(), QString());
    press(f, KeyCode::Z, CommandKeyMask); // nothing left to take back
    EXPECT_EQ(f.stringValue(), QString());
    press(f, KeyCode::Y, CommandKeyMask);
    press(f, KeyCode::Y, CommandKeyMask);
    EXPECT_EQ(f.stringValue(), QString("holi"));
    f.setStringValue("set");
    press(f, KeyCode::Z, CommandKeyMask);
    EXPECT_EQ(f.stringValue(), QString("set"));
}

// Ctrl with Backspace or Delete takes a whole word, as in every input of the desktop.
TEST(LengthLimitTextField, CtrlBackspaceAndCtrlDeleteTakeAWord)
{
    LMLengthLimitTextField f;
    f.setStringValue("beach day one");
    press(f, KeyCode::Delete, CommandKeyMask);
    EXPECT_EQ(f.stringValue(), QString("beach day "));
    press(f, KeyCode::Home);
    press(f, KeyCode::ForwardDelete, CommandKeyMask);
    EXPECT_EQ(f.stringValue(), QString("day "));
    press(f, KeyCode::Z, CommandKeyMask);
    EXPECT_EQ(f.stringValue(), QString("beach day "));
}

// Text selected in one input becomes the desktop's selection, and the middle button pastes it
// where it is pressed (cut to the limit); the back button pastes nothing.
TEST(LengthLimitTextField, MiddleButtonPastesWhatWasSelected)
{
    Window w(Rect(0, 0, 300, 100), TitledWindowMask);
    w.orderFront();
    auto* from = new LMLengthLimitTextField(Rect(10, 60, 200, 22));
    auto* to = new LMLengthLimitTextField(Rect(10, 20, 200, 22));
    w.contentView()->addSubview(from);
    w.contentView()->addSubview(to);
    from->setStringValue("summer beach");
    to->setStringValue("x");
    to->setAllowedMaxLength(8, false);
    ASSERT_TRUE(w.makeFirstResponder(from));
    press(*from, KeyCode::End);
    press(*from, KeyCode::LeftArrow, ShiftKeyMask | CommandKeyMask); // "beach"
    auto click = [&](Qt::MouseButton button) {
        const QPointF at(150, 11); // right of the text in the lower field
        QMouseEvent down(QEvent::MouseButtonPress, at, to->widget()->mapToGlobal(at), button, button, Qt::NoModifier);
        QCoreApplication::sendEvent(to->widget(), &down);
        QMouseEvent up(QEvent::MouseButtonRelease, at, to->widget()->mapToGlobal(at), button, Qt::NoButton, Qt::NoModifier);
        QCoreApplication::sendEvent(to->widget(), &up);
    };
    click(Qt::BackButton);
    EXPECT_EQ(to->stringValue(), QString("x"));
    click(Qt::MiddleButton);
    EXPECT_EQ(to->stringValue(), QString("xbeach"));
    EXPECT_EQ(w.firstResponder(), to);
    click(Qt::MiddleButton); // only what fits the limit of 8
    EXPECT_EQ(to->stringValue(), QString("xbeachbe"));
    EXPECT_EQ(from->stringValue(), QString("summer beach"));
}

// In Hebrew or Arabic text the arrows move the caret the way they point: leftwards is on
// through the text. Left-to-right text is unchanged.
TEST(LengthLimitTextField, ArrowsFollowRightToLeftText)
{
    LMLengthLimitTextField f;
    f.setStringValue(QString::fromUtf8("שלום עולם"));
    press(f, KeyCode::Home); // the right-hand end
    press(f, KeyCode::LeftArrow);
    EXPECT_EQ(f.editor().caret(), 1);
    press(f, KeyCode::RightArrow);
    EXPECT_EQ(f.editor().caret(), 0);
    press(f, KeyCode::LeftArrow, CommandKeyMask | ShiftKeyMask);
    EXPECT_EQ(f.editor().selectedText().trimmed(), QString::fromUtf8("שלום"));
    f.setStringValue("abc");
    press(f, KeyCode::LeftArrow);
    EXPECT_EQ(f.editor().caret(), 2);
}

// In a text longer than its field, a click places the caret where the pointer is, and the
// text stays where it was instead of jumping to bring that point to the right edge.
TEST(LengthLimitTextField, ClickInAScrolledLongTextKeepsTheTextInPlace)
{
    QString text = "/home/someone/Pictures/holidays/2026/summer/seaside/beach";
    LMTextEditor editor([&] { return text; }, [](qint64, qint64, const QString&) { return true; },
                        [](qint64, qint64, const QString&) { return false; }, false);
    const LMTextEditor::Frame frame{Rect(0, 0, 120, 22), Font(), int(Qt::AlignLeft | Qt::AlignVCenter), true};
    editor.setCaret(text.size()); // the end shows, at the right edge
    EXPECT_GT(editor.caretRect(frame).x(), 100);
    const Point middle{50, 11};
    editor.mouseDown(*Event::mouseEvent(LeftMouseDown, middle, nullptr), middle, frame);
    EXPECT_LT(editor.caret(), text.size());
    EXPECT_NEAR(editor.caretRect(frame).x(), 50, 8);
    // Dragging to the left edge selects the characters between, then scrolls on leftwards.
    editor.mouseDragged(Point{0, 11}, frame);
    const qint64 atEdge = editor.caret();
    EXPECT_LT(atEdge, editor.selectionStart() + editor.selectionLength());
    EXPECT_GT(editor.selectionLength(), 3);
    editor.mouseDragged(Point{0, 11}, frame);
    EXPECT_LE(editor.caret(), atEdge);
}

// The leftmost column of a rendered view that differs from its first column.
int firstInkColumn(View& v)
{
    const QImage image = v.renderToImage();
    for (int x = 1; x < image.width(); ++x)
        for (int y = 0; y < image.height(); ++y)
            if (image.pixel(x, y) != image.pixel(0, y))
                return x;
    return -1;
}

// A Hebrew or Arabic text in a left-aligned field starts at its right edge, as on every input
// of this desktop; a left-to-right text stays at the left.
TEST(LengthLimitTextField, RightToLeftTextStartsAtTheRightEdge)
{
    LMLengthLimitTextField f(Rect(0, 0, 300, 22));
    f.setStringValue(QString::fromUtf8("שלום"));
    EXPECT_GT(firstInkColumn(f), 150);
    f.setStringValue("shalom");
    const int ltr = firstInkColumn(f);
    EXPECT_GE(ltr, 0);
    EXPECT_LT(ltr, 20);
    // A box turns only when all its paragraphs run right to left.
    LMLengthLimitTextView box(Rect(0, 0, 300, 80));
    box.setString(QString::fromUtf8("שלום\nעולם"));
    EXPECT_GT(firstInkColumn(box), 150);
    box.setString(QString::fromUtf8("שלום\nHello."));
    EXPECT_LT(firstInkColumn(box), 20);
}

class Listener : public LMLengthLimitTextViewDelegate {
public:
    int changes = 0;
    void didChangeTextForLengthLimitTextView(LMLengthLimitTextView*) override { ++changes; }
};

TEST(LengthLimitTextView, DisabledRefusesEveryEditAndEnabledReportsEachChange)
{
    LMLengthLimitTextView v;
    Listener l;
    v.setLengthLimitTextViewDelegate(&l);
    v.setString("abc");
    EXPECT_FALSE(v.insertText("d"));
    EXPECT_FALSE(v.replaceCharactersInRange(0, 3, "paste"));
    EXPECT_FALSE(v.deleteBackward());
    EXPECT_EQ(v.string(), QString("abc"));
    EXPECT_EQ(l.changes, 0);

    v.awakeFromNib();
    v.setAllowedMaxLength(5, false);
    EXPECT_TRUE(v.insertText("de"));
    EXPECT_FALSE(v.insertText("f"));
    v.keyDown(*Event::keyEvent(KeyDown, KeyCode::Return, "\r", "\r", nullptr));
    EXPECT_EQ(v.string(), QString("abcde"));
    // Return breaks the line at the caret when there is room.
    press(v, KeyCode::LeftArrow);
    v.setAllowedMaxLength(6, false);
    press(v, KeyCode::Return);
    EXPECT_EQ(v.string(), QString("abcd\ne"));
    press(v, KeyCode::End, CommandKeyMask);
    v.setAllowedMaxLength(5, false);
    EXPECT_TRUE(v.deleteBackward());
    EXPECT_TRUE(v.deleteBackward());
    EXPECT_EQ(l.changes, 4);
    QString copy = v.string();
    copy.append("zzz"); // a copy, not the live text
    EXPECT_EQ(v.string(), QString("abcd"));
}

// A right click in a multi-line box offers Cut, Copy, Paste and Select All, as in a one-line
// field; a box that is not enabled still lets the user copy its text.
TEST(LengthLimitTextView, RightClickMenuCutsCopiesPastesAndSelects)
{
    LMLengthLimitTextView v;
    v.awakeFromNib();
    v.setString("first line\nsecond");
    auto menu = v.textMenu();
    ASSERT_EQ(menu->numberOfItems(), 5);
    EXPECT_FALSE(menu->itemAtIndex(0)->isEnabled()); // nothing selected: no Cut
    menu->itemAtIndex(4)->performAction(); // Select All
    EXPECT_EQ(v.editor().selectedText(), QString("first line\nsecond"));
    menu = v.textMenu();
    EXPECT_TRUE(menu->itemAtIndex(0)->isEnabled());
    menu->itemAtIndex(0)->performAction(); // Cut
    EXPECT_EQ(v.string(), QString());
    v.textMenu()->itemAtIndex(2)->performAction(); // Paste
    v.textMenu()->itemAtIndex(2)->performAction();
    EXPECT_EQ(v.string(), QString("first line\nsecondfirst line\nsecond"));

    v.setEnabled(false);
    v.textMenu()->itemAtIndex(4)->performAction();
    menu = v.textMenu();
    EXPECT_FALSE(menu->itemAtIndex(0)->isEnabled());
    EXPECT_TRUE(menu->itemAtIndex(1)->isEnabled());
    EXPECT_FALSE(menu->itemAtIndex(2)->isEnabled());
    kpv::Pasteboard::generalPasteboard().writeString("other");
    menu->itemAtIndex(1)->performAction(); // Copy, even so
    EXPECT_EQ(kpv::Pasteboard::generalPasteboard().string(), QString("first line\nsecondfirst line\nsecond"));
}

// A triple click in a multi-line box selects the line under the pointer, not the whole text.
TEST(LengthLimitTextView, TripleClickSelectsTheLineUnderThePointer)
{
    Window w(Rect(0, 0, 300, 200), TitledWindowMask);
    auto* v = new LMLengthLimitTextView(Rect(0, 0, 300, 200));
    w.contentView()->addSubview(v);
    v->awakeFromNib();
    v->setString("first line\nsecond line\nthird");
    const double line = QFontMetricsF(v->font().toQFont()).lineSpacing();
    auto clickAtLine = [&](int index, int count) {
        const Point at{40, 200 - line * (index + 0.5)};
        for (int c = 1; c <= count; ++c)
            v->mouseDown(*Event::mouseEvent(LeftMouseDown, at, &w, 0, c));
    };
    clickAtLine(1, 3);
    EXPECT_EQ(v->editor().selectedText(), QString("second line"));
    clickAtLine(2, 3);
    EXPECT_EQ(v->editor().selectedText(), QString("third"));
    clickAtLine(0, 3);
    EXPECT_EQ(v->editor().selectedText(), QString("first line"));
}

// The wheel scrolls a text taller than its box, away from the caret and back; typing brings
// the caret's line back into sight.
TEST(LengthLimitTextView, WheelScrollsALongText)
{
    LMLengthLimitTextView v(Rect(0, 0, 200, 60));
    v.awakeFromNib();
    for (int i = 1; i <= 20; ++i)
        v.insertText(QString("line %1\n").arg(i));
    auto wheel = [&](double notches) {
        auto e = Event::mouseEvent(ScrollWheel, Point{50, 30}, nullptr);
        e->setScrollingDelta(0, notches);
        v.scrollWheel(*e);
    };
    const QImage atEnd = v.renderToImage();
    wheel(1); // up: earlier lines
    const QImage earlier = v.renderToImage();
    EXPECT_NE(earlier, atEnd);
    wheel(100); // up to the top, and no further
    const QImage top = v.renderToImage();
    wheel(1);
    EXPECT_EQ(v.renderToImage(), top);
    wheel(-100); // down to the end again
    EXPECT_EQ(v.renderToImage(), atEnd);
    wheel(100);
    v.insertText("x"); // typing at the end shows the end
    EXPECT_NE(v.renderToImage(), top);
}

class ShareOwner : public ShareFileDescTextViewDelegate {
public:
    long site = 1;
    std::uint64_t lastLength = 0, lastMax = 99;
    long websiteTypeOfShareFileDescTextView(ShareFileDescTextView*) override { return site; }
    void ShareFileDescTextView_textChangedWithCurLength(ShareFileDescTextView*, std::uint64_t len,
                                                        std::uint64_t max) override
    {
        lastLength = len;
        lastMax = max;
    }
};

TEST(PlaceholderTextView, DefaultTextComesBackWhenLeftEmpty)
{
    ManualClock clock;
    RunLoop::main().setClock(&clock);
    {
        LMPlaceholderTextView v;
        v.awakeFromNib();
        v.setPlaceholderString("Say something");
        EXPECT_TRUE(v.showsPlaceholder());
        v.setDefaultString("Sent from my desk");
        EXPECT_EQ(v.string(), QString("Sent from my desk"));
        EXPECT_TRUE(v.replaceCharactersInRange(0, v.string().size(), "  "));
        EXPECT_FALSE(v.showsPlaceholder());
        v.resignFirstResponder(); // only blanks left: the default text is back
        EXPECT_EQ(v.string(), QString("Sent from my desk"));
        EXPECT_TRUE(v.replaceCharactersInRange(0, 4, ""));
        v.resignFirstResponder();
        EXPECT_EQ(v.string(), QString(" from my desk"));
        v.setString("");
    } // a redraw still queued for the next turn must not reach the destroyed view
    clock.advance(0);
    RunLoop::main().setClock(nullptr);
}

TEST(ShareFileDescTextView, LimitFollowsTheSite)
{
    EXPECT_EQ(ShareFileDescTextView::maxFileDescLengthByWebsiteType(3), 117u);
    EXPECT_EQ(ShareFileDescTextView::maxFileDescLengthByWebsiteType(4), 0u);
    EXPECT_EQ(ShareFileDescTextView::maxFileDescLengthByWebsiteType(1), 255u);

    ShareOwner owner;
    owner.site = 3;
    ShareFileDescTextView v;
    v.setShareFileDescDelegate(&owner);
    v.awakeFromNib();
    EXPECT_TRUE(v.ignoreWhiteSpace());
    EXPECT_TRUE(v.insertText(QString(117, 'a')));
    EXPECT_FALSE(v.insertText("b"));
    EXPECT_TRUE(v.insertText("  ")); // trailing blanks are not counted
    EXPECT_EQ(owner.lastLength, 117u);
    EXPECT_EQ(owner.lastMax, 117u);
    owner.site = 4; // the limit reported is asked anew each time
    EXPECT_TRUE(v.deleteBackward());
    EXPECT_EQ(owner.lastMax, 0u);
}

} // namespace
