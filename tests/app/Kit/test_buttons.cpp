// The skinned buttons: state-image fallback tables, the light pulse on the manual clock, the
// disabled button, the continuous hold (and its end when the mouse-up never comes), the
// view-based tracking loop, check buttons and dialog buttons.
#include "Kit/LMButton.h"
#include "Kit/LMEventMonitorCenter.h"
#include "Kit/LMNormalCheckButton.h"
#include "Kit/LMNormalCustomButton.h"
#include "appkit/Application.h"
#include "appkit/Window.h"
#include "foundation/Clock.h"
#include "foundation/RunLoop.h"
#include "kit_support.h"

#include <gtest/gtest.h>

using namespace kpv;

namespace {
// Distinct sizes tell images apart: the width is the image's id.
void image(const char* name, int id) { writeSkinImage(name, id, 4, Qt::white); }
int idOf(const ImagePtr& i) { return i ? int(i->size().width) : 0; }

class Recorder : public LMButtonDelegate {
public:
    int downs = 0, ups = 0, entered = 0, exited = 0;
    void buttonMouseDown(LMButton*) override { ++downs; }
    void buttonMouseUp(LMButton*) override { ++ups; }
    void buttonMouseEntered(LMButton*) override { ++entered; }
    void buttonMouseExited(LMButton*) override { ++exited; }
};

class ClockTest : public testing::Test {
protected:
    void SetUp() override { RunLoop::main().setClock(&clock); }
    void TearDown() override
    {
        clock.advance(0);
        RunLoop::main().setClock(nullptr);
    }
    ManualClock clock;
};
} // namespace

TEST(LMButtonImages, FallbackTableIncludingTheOnSet)
{
    clearSkinImages();
    image("btn", 10);
    image("btn_ROLL", 11);
    LMButton b(Rect(0, 0, 20, 20));
    b.setImageName("BTN"); // capitals find the lower-cased image
    EXPECT_EQ(idOf(b.imageByState_(0)), 10);
    EXPECT_EQ(idOf(b.imageByState_(1)), 11);
    EXPECT_EQ(idOf(b.imageByState_(2)), 11); // push -> roll
    EXPECT_EQ(idOf(b.imageByState_(3)), 11); // disabled -> push -> roll
    EXPECT_EQ(idOf(b.imageByState_(4)), 0);  // no light
    EXPECT_EQ(idOf(b.imageByState_(0x1000)), 11); // on normal -> off roll
    EXPECT_EQ(idOf(b.imageByState_(0x1001)), 11);
    EXPECT_EQ(idOf(b.imageByState_(0x1002)), 11);
    EXPECT_EQ(idOf(b.imageByState_(0x1004)), 0);
    EXPECT_EQ(idOf(b.imageByState_(5)), 0);
    EXPECT_EQ(b.imageNameForState(0x1002), "BTN_ON_PUSH");

    // With the on images present, careState picks them only for state exactly 1.
    image("btn_ON", 20);
    image("btn_ON_PUSH", 22);
    b.setImageName("other");
    b.setImageName("btn"); // a new name empties the cache
    EXPECT_EQ(idOf(b.imageByState(0)), 10);
    b.setState(1);
    EXPECT_EQ(idOf(b.imageByState(0)), 10); // careState off: an on button looks off
    b.setCareState(true);
    EXPECT_EQ(idOf(b.imageByState(0)), 20);
    EXPECT_EQ(idOf(b.imageByState(2)), 22);
    EXPECT_EQ(idOf(b.imageByState(1)), 11); // on roll missing -> off roll
    b.setState(-1);
    EXPECT_EQ(idOf(b.imageByState(0)), 10);

    // Same name keeps the cache even when files change underneath.
    clearSkinImages();
    b.setImageName("btn");
    EXPECT_EQ(idOf(b.imageByState_(0)), 10);
}

TEST(LMButtonToolTips, OnAndOffTexts)
{
    LMButton b(Rect(0, 0, 10, 10));
    b.setToolTipForStateOff("off", "on");
    b.setState(1);
    EXPECT_EQ(b.toolTip(), "off"); // careState off
    b.setCareState(true);
    b.setState(-1); // mixed counts as not off for tool tips
    EXPECT_EQ(b.toolTip(), "on");
    b.setState(0);
    EXPECT_EQ(b.toolTip(), "off");
}

TEST_F(ClockTest, LightPulseIsATriangleWave)
{
    EXPECT_DOUBLE_EQ(LMButton::lightAlphaAtTime(0.0), 1.0);
    EXPECT_DOUBLE_EQ(LMButton::lightAlphaAtTime(0.25), 0.5);
    EXPECT_DOUBLE_EQ(LMButton::lightAlphaAtTime(0.5), 0.0);
    EXPECT_DOUBLE_EQ(LMButton::lightAlphaAtTime(0.75), 0.5);
    EXPECT_DOUBLE_EQ(LMButton::lightAlphaAtTime(1.0), 1.0);

    LMButton b(Rect(0, 0, 10, 10));
    b.setLight(true);
    EXPECT_DOUBLE_EQ(b.lightAlpha(), 0.0);
    clock.advance(0.25);
    EXPECT_NEAR(b.lightAlpha(), 0.5, 1e-9);
    clock.advance(0.5);
    EXPECT_NEAR(b.lightAlpha(), 0.5, 1e-9);
    b.setLight(false);
    EXPECT_DOUBLE_EQ(b.lightAlpha(), 0.0);
    clock.advance(0.2);
    EXPECT_DOUBLE_EQ(b.lightAlpha(), 0.0);
}

TEST(LMButtonMouse, DisabledButtonIgnoresTheMouse)
{
    Window w(Rect(0, 0, 100, 100), TitledWindowMask);
    auto* b = new LMButton(Rect(10, 10, 20, 20));
    w.contentView()->addSubview(b);
    Recorder rec;
    b->setButtonDelegate(&rec);
    b->setContinuous(true);
    b->setEnabled(false);
    Event e = *Event::mouseEvent(MouseEntered, Point{15, 15}, &w);
    b->mouseEntered(e);
    b->mouseDown(*Event::mouseEvent(LeftMouseDown, Point{15, 15}, &w));
    EXPECT_FALSE(b->isMouseIn());
    EXPECT_FALSE(b->isMouseDown());
    EXPECT_FALSE(b->isHolding());
    EXPECT_EQ(rec.entered + rec.downs, 0);
    // Enabled later: no roll-over until the mouse enters again.
    b->setEnabled(true);
    EXPECT_FALSE(b->isMouseIn());
    EXPECT_EQ(b->visualState(), 0);
}

TEST_F(ClockTest, ContinuousHoldConsumesEventsAndSendsTheMouseUpOnce)
{
    Window w(Rect(0, 0, 100, 100), TitledWindowMask);
    w.makeKeyAndOrderFront();
    auto* b = new LMButton(Rect(10, 10, 20, 20));
    w.contentView()->addSubview(b);
    Recorder rec;
    b->setButtonDelegate(&rec);
    b->setContinuous(true);
    int actions = 0;
    b->setAction([&](View*) { ++actions; });
    Application& app = Application::shared();
    app.sendEvent(Event::mouseEvent(LeftMouseDown, Point{15, 15}, &w));
    EXPECT_TRUE(b->isHolding());
    EXPECT_TRUE(b->isMouseDown());
    EXPECT_EQ(rec.downs, 1);
    // Keys and other mouse events are swallowed while held.
    int monitorSawKey = 0;
    auto& center = LMEventMonitorCenter::eventMonitorCenter();
    auto older = center.addLocalMonitorForEventsMatchingMask(KeyDownMask, [&](const Event&) { ++monitorSawKey; return false; });
    // The hold's monitor is older than this one; register the spy first in a fresh hold below.
    center.removeMonitor(older);
    app.sendEvent(Event::keyEvent(KeyDown, KeyCode::A, "a", "a", &w));
    app.sendEvent(Event::mouseEvent(LeftMouseUp, Point{90, 90}, &w)); // outside the button
    EXPECT_FALSE(b->isHolding());
    EXPECT_FALSE(b->isMouseDown());
    EXPECT_EQ(rec.ups, 1);
    EXPECT_EQ(actions, 0); // a continuous button sends no action itself
    app.sendEvent(Event::mouseEvent(LeftMouseUp, Point{90, 90}, &w));
    EXPECT_EQ(rec.ups, 1);
    clock.advance(0);
}

TEST_F(ClockTest, ContinuousHoldEndsWhenTheMouseUpNeverComes)
{
    Window w(Rect(0, 0, 100, 100), TitledWindowMask);
    Window other(Rect(0, 0, 100, 100), TitledWindowMask);
    auto* b = new LMButton(Rect(10, 10, 20, 20));
    w.contentView()->addSubview(b);
    Recorder rec;
    b->setButtonDelegate(&rec);
    b->setContinuous(true);
    Application& app = Application::shared();
    int expectedUps = 0;
    // The application is left, the window loses key state, the window closes.
    for (int way = 0; way < 3; ++way) {
        w.makeKeyAndOrderFront();
        app.sendEvent(Event::mouseEvent(LeftMouseDown, Point{15, 15}, &w));
        ASSERT_TRUE(b->isHolding());
        if (way == 0) {
            app.setActive(false);
            app.setActive(true);
        } else if (way == 1) {
            other.makeKeyAndOrderFront();
        } else {
            w.close();
        }
        EXPECT_FALSE(b->isHolding()) << way;
        EXPECT_EQ(rec.ups, ++expectedUps) << way;
        clock.advance(0);
        // Events flow again.
        bool seen = false;
        auto spy = LMEventMonitorCenter::eventMonitorCenter().addLocalMonitorForEventsMatchingMask(
            KeyDownMask, [&](const Event&) { return seen = true, false; });
        app.sendEvent(Event::keyEvent(KeyDown, KeyCode::A, "a", "a", &w));
        EXPECT_TRUE(seen) << way;
        LMEventMonitorCenter::eventMonitorCenter().removeMonitor(spy);
        clock.advance(0);
    }
}

TEST(LMSimButtonBaseTracking, ClickInsideSendsOnceDragOutSendsNothing)
{
    Window w(Rect(0, 0, 100, 100), TitledWindowMask);
    w.orderFront();
    auto* b = new LMSimButtonBase(Rect(10, 10, 30, 30));
    w.contentView()->addSubview(b);
    int actions = 0;
    b->setAction([&](View*) { ++actions; });
    Application& app = Application::shared();

    // Press, drag out, release outside: nothing.
    app.postEvent(Event::mouseEvent(LeftMouseDragged, Point{80, 80}, &w));
    app.postEvent(Event::mouseEvent(LeftMouseUp, Point{80, 80}, &w));
    app.sendEvent(Event::mouseEvent(LeftMouseDown, Point{20, 20}, &w));
    EXPECT_EQ(actions, 0);
    EXPECT_FALSE(b->isMouseDown());

    // Press, out and back in, release inside: one action.
    app.postEvent(Event::mouseEvent(LeftMouseDragged, Point{80, 80}, &w));
    app.postEvent(Event::mouseEvent(LeftMouseDragged, Point{25, 25}, &w));
    app.postEvent(Event::mouseEvent(LeftMouseUp, Point{25, 25}, &w));
    app.sendEvent(Event::mouseEvent(LeftMouseDown, Point{20, 20}, &w));
    EXPECT_EQ(actions, 1);

    // Visual states.
    b->setCareState(true);
    b->setState(1);
    EXPECT_EQ(b->visualState(), 0);
    EXPECT_EQ(b->visualStateWithCheckOnState(true), 0x1000);
    b->setState(2);
    EXPECT_EQ(b->visualStateWithCheckOnState(true), 0);
    b->setEnabled(false);
    EXPECT_EQ(b->visualStateWithCheckOnState(true), 3);
    app.discardQueuedEvents();
}

TEST(LMNormalCheckButtonTest, ImagesTitleColourAndWidth)
{
    clearSkinImages();
    image("chk", 10);
    image("chk_ROLL", 11);
    image("chk_PUSH", 12);
    Window w(Rect(0, 0, 200, 100), TitledWindowMask);
    auto* title = new TextField(Rect(30, 0, 100, 20));
    title->setTextColor(Color(1, 0, 0));
    auto* b = new LMNormalCheckButton(Rect(0, 0, 150, 20));
    w.contentView()->addSubview(title);
    w.contentView()->addSubview(b);
    b->setTextButtonTitle(title);
    b->awakeFromNib();
    b->setImageName("Chk");
    EXPECT_EQ(idOf(b->imageByState(0)), 10);
    b->setState(1);
    EXPECT_EQ(idOf(b->imageByState(0)), 11); // on normal missing -> off roll
    b->setEnabled(false);
    EXPECT_EQ(idOf(b->imageByState(b->visualState())), 12); // disabled missing -> push
    EXPECT_EQ(title->textColor(), Color::disabledControlTextColor());
    b->setEnabled(true);
    EXPECT_EQ(title->textColor(), Color(1, 0, 0));
    b->setTitle("");
    EXPECT_DOUBLE_EQ(b->frame().width(), 30 + 9);
    // Clicking never toggles the check state by itself.
    int actions = 0;
    b->setAction([&](View*) { ++actions; });
    Application::shared().postEvent(Event::mouseEvent(LeftMouseUp, Point{5, 10}, &w));
    b->mouseDown(*Event::mouseEvent(LeftMouseDown, Point{5, 10}, &w));
    EXPECT_EQ(actions, 1);
    EXPECT_EQ(b->state(), 1);
}

TEST(LMNormalCustomButtonTest, BackgroundFallbacksAndTitleColours)
{
    clearSkinImages();
    image("dlg", 10);
    image("dlgP", 12);
    LMNormalCustomButton b(Rect(0, 0, 60, 24));
    b.setBkgrdImageName("DLG", Point{3, 3}, Point{3, 3});
    auto id = [&](long s) {
        auto rep = b.imageByState(s);
        return rep ? idOf(rep->nineSliceImage()) : 0;
    };
    EXPECT_EQ(id(0), 10);
    EXPECT_EQ(id(1), 10);     // roll -> normal
    EXPECT_EQ(id(2), 12);
    EXPECT_EQ(id(3), 12);     // disabled -> pushed
    EXPECT_EQ(id(0x1000), 10); // on normal -> off roll -> normal
    EXPECT_EQ(id(0x1002), 12);
    EXPECT_EQ(id(4), 0);
    EXPECT_EQ(b.imageByState(0)->nineSliceSizeLeftTop(), (Point{3, 3}));
    // The same name again changes nothing, the slices included.
    b.setBkgrdImageName("DLG", Point{7, 7}, Point{7, 7});
    clearSkinImages();
    image("dlg", 10);
    EXPECT_EQ(b.imageByState(0)->nineSliceSizeLeftTop(), (Point{3, 3}));

    const Color normal = b.textButtonTitle()->textColor();
    b.setTitleColor(Color(0, 1, 0), 1);
    b.setTitleColorForStateOn(Color(0, 0, 1));
    b.setCareState(true);
    b.setState(1);
    EXPECT_EQ(b.textButtonTitle()->textColor(), Color(0, 0, 1));
    b.setState(0);
    EXPECT_EQ(b.textButtonTitle()->textColor(), normal);
    b.setEnabled(false);
    EXPECT_EQ(b.textButtonTitle()->textColor(), Color::disabledControlTextColor());
}
