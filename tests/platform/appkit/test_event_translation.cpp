// Qt input becomes events with the window system's numbering: key codes, modifier flags,
// function-key characters, scroll deltas and phases, click counts.
#include "appkit/EventTranslation.h"

#include <QKeyEvent>
#include <QMouseEvent>
#include <QWheelEvent>
#include <gtest/gtest.h>

using namespace kpv;

namespace {
EventPtr key(int qtKey, Qt::KeyboardModifiers mods = Qt::NoModifier, const QString& text = {},
             QEvent::Type type = QEvent::KeyPress)
{
    QKeyEvent e(type, qtKey, mods, text);
    return EventTranslator().translateKey(e, nullptr);
}

EventPtr wheel(QPoint pixel, QPoint angle, Qt::ScrollPhase phase, EventTranslator& t)
{
    QWheelEvent e(QPointF(5, 5), QPointF(5, 5), pixel, angle, Qt::NoButton, Qt::NoModifier, phase, false);
    return t.translateWheel(e, Point{5, 5}, nullptr);
}
} // namespace

TEST(EventTranslation, KeyCodesFollowTheVirtualTable)
{
    EXPECT_EQ(key(Qt::Key_Escape)->keyCode(), 53);
    EXPECT_EQ(key(Qt::Key_Escape)->type(), KeyDown);
    EXPECT_EQ(key(Qt::Key_Escape, Qt::NoModifier, {}, QEvent::KeyRelease)->type(), KeyUp);
    EXPECT_EQ(key(Qt::Key_Return)->keyCode(), 36);
    EXPECT_EQ(key(Qt::Key_Enter)->keyCode(), 76);
    EXPECT_EQ(key(Qt::Key_Space)->keyCode(), 49);
    EXPECT_EQ(key(Qt::Key_Backspace)->keyCode(), 51);
    EXPECT_EQ(key(Qt::Key_Delete)->keyCode(), 117);
    EXPECT_EQ(key(Qt::Key_Left)->keyCode(), 123);
    EXPECT_EQ(key(Qt::Key_Right)->keyCode(), 124);
    EXPECT_EQ(key(Qt::Key_Down)->keyCode(), 125);
    EXPECT_EQ(key(Qt::Key_Up)->keyCode(), 126);
    EXPECT_EQ(key(Qt::Key_A)->keyCode(), 0);
    EXPECT_EQ(key(Qt::Key_W)->keyCode(), 13);
    EXPECT_EQ(key(Qt::Key_0)->keyCode(), 29);
    EXPECT_EQ(key(Qt::Key_5)->keyCode(), 23);
    EXPECT_EQ(key(Qt::Key_F1)->keyCode(), 122);
    EXPECT_EQ(key(Qt::Key_F12)->keyCode(), 111);
    EXPECT_EQ(key(Qt::Key_PageDown)->keyCode(), 121);
    EXPECT_EQ(key(Qt::Key_Shift)->type(), FlagsChanged);
}

TEST(EventTranslation, ModifierFlagsMapCtrlToCommandAltToOptionSuperToControl)
{
    EXPECT_EQ(key(Qt::Key_A, Qt::ControlModifier)->modifierFlags(), std::uint64_t(CommandKeyMask));
    EXPECT_EQ(key(Qt::Key_A, Qt::AltModifier)->modifierFlags(), std::uint64_t(AlternateKeyMask));
    EXPECT_EQ(key(Qt::Key_A, Qt::MetaModifier)->modifierFlags(), std::uint64_t(ControlKeyMask));
    EXPECT_EQ(key(Qt::Key_A, Qt::ShiftModifier | Qt::ControlModifier)->modifierFlags(),
              std::uint64_t(ShiftKeyMask | CommandKeyMask));
    // Arrows carry the numeric-pad bit and report the function-key characters.
    auto up = key(Qt::Key_Up);
    EXPECT_TRUE(up->modifierFlags() & NumericPadKeyMask);
    EXPECT_EQ(up->charactersIgnoringModifiers().at(0).unicode(), 0xF700);
    EXPECT_EQ(key(Qt::Key_Right)->charactersIgnoringModifiers().at(0).unicode(), 0xF703);
    EXPECT_EQ(key(Qt::Key_Backspace)->charactersIgnoringModifiers().at(0).unicode(), 0x7F);
    EXPECT_FALSE(key(Qt::Key_Backspace)->modifierFlags() & NumericPadKeyMask);
    // Letters ignore modifiers except shift.
    EXPECT_EQ(key(Qt::Key_A, Qt::ControlModifier, "\x01")->charactersIgnoringModifiers(), "a");
    EXPECT_EQ(key(Qt::Key_A, Qt::ShiftModifier, "A")->charactersIgnoringModifiers(), "A");
}

TEST(EventTranslation, ScrollDeltasAndPhases)
{
    EventTranslator t;
    // A wheel notch: one line, no phase, not precise.
    auto notch = wheel(QPoint(), QPoint(0, 120), Qt::NoScrollPhase, t);
    EXPECT_EQ(notch->type(), ScrollWheel);
    EXPECT_DOUBLE_EQ(notch->scrollingDeltaY(), 1.0);
    EXPECT_FALSE(notch->hasPreciseScrollingDeltas());
    EXPECT_EQ(notch->phase(), PhaseNone);
    EXPECT_EQ(notch->momentumPhase(), PhaseNone);

    // A touchpad gesture with momentum afterwards.
    auto began = wheel(QPoint(0, 3), QPoint(0, 24), Qt::ScrollBegin, t);
    EXPECT_TRUE(began->hasPreciseScrollingDeltas());
    EXPECT_DOUBLE_EQ(began->scrollingDeltaY(), 3.0);
    EXPECT_EQ(began->phase(), PhaseBegan);
    EXPECT_EQ(wheel(QPoint(-2, 4), QPoint(), Qt::ScrollUpdate, t)->phase(), PhaseChanged);
    EXPECT_EQ(wheel(QPoint(), QPoint(), Qt::ScrollEnd, t)->phase(), PhaseEnded);
    auto m1 = wheel(QPoint(0, 2), QPoint(), Qt::ScrollMomentum, t);
    EXPECT_EQ(m1->phase(), PhaseNone);
    EXPECT_EQ(m1->momentumPhase(), PhaseBegan);
    EXPECT_EQ(wheel(QPoint(0, 1), QPoint(), Qt::ScrollMomentum, t)->momentumPhase(), PhaseChanged);
    auto end = wheel(QPoint(), QPoint(), Qt::ScrollEnd, t);
    EXPECT_EQ(end->momentumPhase(), PhaseEnded);
    EXPECT_EQ(end->phase(), PhaseNone);
}

TEST(EventTranslation, ClickCountsFollowTimeDistanceAndButton)
{
    EventTranslator t;
    t.setDoubleClickInterval(400);
    EXPECT_EQ(t.countClick(0, 1000, {10, 10}), 1);
    EXPECT_EQ(t.countClick(0, 1200, {11, 10}), 2);
    EXPECT_EQ(t.countClick(0, 1500, {11, 11}), 3);
    EXPECT_EQ(t.countClick(0, 2500, {11, 11}), 1); // too late
    EXPECT_EQ(t.countClick(0, 2600, {40, 11}), 1); // too far
    EXPECT_EQ(t.countClick(1, 2700, {40, 11}), 1); // other button

    // Through Qt mouse events: press, release, double-click press.
    EventTranslator q;
    q.setDoubleClickInterval(400);
    QMouseEvent p1(QEvent::MouseButtonPress, QPointF(3, 3), QPointF(3, 3), Qt::LeftButton, Qt::LeftButton, Qt::NoModifier);
    p1.setTimestamp(100);
    auto d1 = q.translateMouse(p1, {3, 7}, nullptr);
    EXPECT_EQ(d1->type(), LeftMouseDown);
    EXPECT_EQ(d1->clickCount(), 1);
    QMouseEvent p2(QEvent::MouseButtonDblClick, QPointF(3, 3), QPointF(3, 3), Qt::LeftButton, Qt::LeftButton, Qt::NoModifier);
    p2.setTimestamp(250);
    auto d2 = q.translateMouse(p2, {3, 7}, nullptr);
    EXPECT_EQ(d2->type(), LeftMouseDown);
    EXPECT_EQ(d2->clickCount(), 2);
    QMouseEvent mv(QEvent::MouseMove, QPointF(4, 3), QPointF(4, 3), Qt::NoButton, Qt::LeftButton, Qt::NoModifier);
    EXPECT_EQ(q.translateMouse(mv, {4, 7}, nullptr)->type(), LeftMouseDragged);
    QMouseEvent r(QEvent::MouseButtonRelease, QPointF(3, 3), QPointF(3, 3), Qt::RightButton, Qt::NoButton, Qt::NoModifier);
    EXPECT_EQ(q.translateMouse(r, {3, 7}, nullptr)->type(), RightMouseUp);
}

// A held key comes as a release and a press of one moment, again and again; the toolkit does not
// always say so, and each such press must still count as a repeat. A press of a later moment is a
// new press.
TEST(EventTranslation, APressAtTheMomentOfItsKeysReleaseIsARepeat)
{
    EventTranslator t;
    const auto at = [&t](QEvent::Type type, unsigned long long ms) {
        QKeyEvent e(type, Qt::Key_Delete, Qt::NoModifier);
        e.setTimestamp(ms);
        return t.translateKey(e, nullptr);
    };
    EXPECT_FALSE(at(QEvent::KeyPress, 1000)->isARepeat());
    at(QEvent::KeyRelease, 1660);
    EXPECT_TRUE(at(QEvent::KeyPress, 1660)->isARepeat());
    at(QEvent::KeyRelease, 1700);
    EXPECT_FALSE(at(QEvent::KeyPress, 1850)->isARepeat());
}
