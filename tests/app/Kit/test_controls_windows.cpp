// Progress bar geometry and redraw rules, the zoom slider's knob, the scroller's knob image,
// and the custom window: its frame, sheets, drag to move, the key delegate and the Tab loop.
#include "Kit/LMCustomWindow.h"
#include "Kit/LMImageScroller.h"
#include "Kit/LMLengthLimitTextView.h"
#include "Kit/LMNormalCustomButton.h"
#include "Kit/LMNormalCustomWindow.h"
#include "Kit/LMProgressBar.h"
#include "Kit/LMThumbZoomSlider.h"
#include "appkit/Application.h"
#include "appkit/Event.h"
#include "kit_support.h"

#include <QCoreApplication>
#include <QWidget>
#include <gtest/gtest.h>

using namespace kpv;

TEST(LMProgressBarTest, GeometryAndRedrawRules)
{
    LMProgressBar bar(Rect(0, 0, 200, 20));
    QImage px(10, 6, QImage::Format_ARGB32_Premultiplied);
    px.fill(Qt::green);
    auto progress = std::make_shared<Image>(px);
    bar.setProgessImage(progress, 3, 5, nullptr);
    bar.setMaxValue(100);
    bar.setDoubleValue(25);
    EXPECT_EQ(bar.progressRect(), Rect(3, 7, 48, 6));

    // Same image and record: the new margins are not taken.
    bar.setProgessImage(progress, 0, 0, nullptr);
    EXPECT_EQ(bar.progressRect().x(), 3);

    // Lowering the maximum lowers the value and forces the next set to redraw.
    bar.setDoubleValue(20);
    bar.setMaxValue(10);
    EXPECT_EQ(bar.doubleValue(), 10);
    EXPECT_TRUE(bar.minMaxModified());
    bar.setNeedsDisplay(false);
    bar.setDoubleValue(10);
    EXPECT_TRUE(bar.needsDisplay());
    EXPECT_FALSE(bar.minMaxModified());

    // A value above the maximum stays and draws past the available width.
    bar.setDoubleValue(20);
    EXPECT_DOUBLE_EQ(bar.progressRect().width(), 384);
    // At or below the minimum, or with an empty range, only the background.
    bar.setDoubleValue(0);
    EXPECT_TRUE(bar.progressRect().isEmpty());
    bar.setMinValue(50);
    bar.setDoubleValue(60);
    EXPECT_TRUE(bar.progressRect().isEmpty()); // inverted range: max 10 < min 50
}

TEST(LMThumbZoomSliderTest, KnobRectangleAndImages)
{
    clearSkinImages();
    writeSkinImage("tz", 9, 9, Qt::white);
    LMThumbZoomSlider slider(Rect(0, 0, 112, 20));
    slider.setImageName("TZ");
    slider.setMaxValue(100);
    slider.setDoubleValue(50);
    auto* cell = dynamic_cast<LMThumbZoomSliderCell*>(slider.cell());
    ASSERT_NE(cell, nullptr);
    const Rect inside = cell->knobRectFlipped(false);
    EXPECT_EQ(inside, Rect(50, 4, 12, 12)); // the platform's rectangle fits: kept

    // A knob taller than the slider sticks out: placed by the value.
    LMThumbZoomSlider thin(Rect(0, 0, 112, 8));
    thin.setMaxValue(100);
    thin.setDoubleValue(25);
    EXPECT_EQ(thin.cell()->knobRectFlipped(false), Rect(25, -2, 12, 12));

    // Knob images: roll and push fall back to the normal image.
    EXPECT_EQ(slider.imageByState(0), slider.imageByState(1));
    EXPECT_EQ(slider.imageByState(2), slider.imageByState(0));
    EXPECT_EQ(slider.imageByState(3), nullptr);
    double l = 0, r = 0;
    slider.sliderCell(cell, &l, &r);
    EXPECT_EQ(l, 5);
    EXPECT_EQ(r, 6);
    EXPECT_EQ(LMThumbZoomSliderCell::trackRect(Rect(0, 0, 112, 20), 6, 5, 6), Rect(5, 7, 101, 6));

    // A disabled slider neither tracks roll-over nor clicks.
    slider.setEnabled(false);
    slider.mouseEntered(*Event::mouseEvent(MouseEntered, Point{56, 10}, nullptr));
    EXPECT_FALSE(slider.isMouseIn());
    slider.setEnabled(true);
    slider.mouseEntered(*Event::mouseEvent(MouseEntered, Point{56, 10}, nullptr));
    EXPECT_TRUE(slider.isMouseIn());
    EXPECT_EQ(slider.knobVisualStateByLocationInWindow(Point{56, 10}), 1);
    EXPECT_EQ(slider.knobVisualStateByLocationInWindow(Point{5, 10}), 0);
}

TEST(LMImageScrollerTest, KnobImageIsCentredAtItsOwnWidth)
{
    EXPECT_EQ(LMImageScroller::knobImageRect(Rect(0, 10, 12, 40), 8), Rect(2, 10, 8, 40));
    EXPECT_EQ(LMImageScroller::knobImageRect(Rect(0, 10, 6, 40), 8), Rect(0, 10, 6, 40));
}

namespace {
class KeyDelegate : public LMCustomWindowDelegate {
public:
    bool answer = false;
    int calls = 0;
    bool customWindow(LMCustomWindow*, const Event&) override
    {
        ++calls;
        return answer;
    }
};

class RecordingWindow : public LMCustomWindow {
public:
    using LMCustomWindow::LMCustomWindow;
};
} // namespace

TEST(LMCustomWindowTest, FrameStyleAndKeyDelegate)
{
    LMCustomWindow w(Rect(100, 100, 200, 150), TitledWindowMask | ResizableWindowMask);
    EXPECT_EQ(w.styleMask(), unsigned(ClosableWindowMask));
    EXPECT_FALSE(w.isOpaque());
    EXPECT_EQ(w.backgroundColor(), Color::clearColor());
    EXPECT_TRUE(w.canBecomeKeyWindow());
    w.setCanBecomeKeyWindow(false);
    EXPECT_FALSE(w.canBecomeKeyWindow());

    KeyDelegate d;
    w.setCustomWindowDelegate(&d);
    w.keyDown(*Event::keyEvent(KeyDown, KeyCode::A, "a", "a", &w));
    EXPECT_EQ(d.calls, 1);
}

TEST(LMCustomWindowTest, ClosingARunningSheetEndsItWithOne)
{
    Window parent(Rect(0, 0, 400, 300), TitledWindowMask);
    parent.orderFront();
    LMCustomWindow sheet(Rect(0, 0, 200, 100));
    std::int64_t code = -5;
    int calls = 0;
    sheet.beginSheet(&parent, [&](std::int64_t rc) {
        code = rc;
        ++calls;
    });
    EXPECT_TRUE(sheet.sheetRunning());
    sheet.close();
    EXPECT_EQ(calls, 1);
    EXPECT_EQ(code, 1);
    EXPECT_FALSE(sheet.sheetRunning());
    EXPECT_FALSE(sheet.isVisible());
    sheet.endSheetWithReturnCode(3); // not running: nothing
    EXPECT_EQ(calls, 1);
}

TEST(LMCustomWindowTest, DraggingMovesByThePointersTravel)
{
    LMCustomWindow w(Rect(100, 100, 200, 150));
    w.orderFront();
    w.setMouseDownMoveable(true);
    const Rect start = w.frame();
    Application& app = Application::shared();
    // Locations are in window coordinates at the time of each event.
    app.postEvent(Event::mouseEvent(LeftMouseDragged, Point{30, 25}, &w));
    app.postEvent(Event::mouseEvent(LeftMouseUp, Point{30, 25}, &w));
    w.mouseDown(*Event::mouseEvent(LeftMouseDown, Point{20, 20}, &w));
    EXPECT_EQ(w.frame(), Rect(start.x() + 10, start.y() + 5, start.width(), start.height()));

    // A plain click leaves the frame alone.
    const Rect before = w.frame();
    app.postEvent(Event::mouseEvent(LeftMouseUp, Point{20, 20}, &w));
    w.mouseDown(*Event::mouseEvent(LeftMouseDown, Point{20, 20}, &w));
    EXPECT_EQ(w.frame(), before);
}

TEST(LMNormalCustomWindowTest, SkinAndCloseButton)
{
    LMNormalCustomWindow w(Rect(0, 0, 300, 200));
    ASSERT_NE(w.nineSliceImageBkgrdView(), nullptr);
    ASSERT_NE(w.btnClose(), nullptr);
    EXPECT_EQ(w.btnClose()->imageName(), "close");
    ASSERT_NE(w.nineSliceImageBkgrdView()->bkNineSliceImageRep(), nullptr);
    EXPECT_EQ(w.nineSliceImageBkgrdView()->bkNineSliceImageRep()->nineSliceSizeLeftTop(), (Point{15, 15}));
    EXPECT_FALSE(w.btnClose()->trackingActiveInActiveApp());
    w.setCanBecomeKeyWindow(false);
    EXPECT_TRUE(w.btnClose()->trackingActiveInActiveApp());
    w.orderFront();
    w.btnClose()->sendAction();
    EXPECT_FALSE(w.isVisible());
}

// A dialog of the kit's own window, built as the feedback form is (a message box over Cancel and
// Send), is worked with the keyboard: Tab leaves the box and goes round the buttons and the close
// button in the order they stand, Shift+Tab goes back, the focused button shows a ring, and Space
// or Return presses it.
TEST(LMNormalCustomWindowTest, TabGoesRoundTheDialogAndSpacePressesTheFocusedButton)
{
    Window parent(Rect(0, 0, 600, 400), TitledWindowMask);
    parent.orderFront();
    LMNormalCustomWindow w(Rect(0, 0, 400, 240));
    auto* message = new LMPlaceholderTextView(Rect(20, 60, 360, 140));
    message->awakeFromNib();
    auto* cancel = new LMNormalCustomButton(Rect(170, 12, 100, 28));
    auto* send = new LMNormalCustomButton(Rect(280, 12, 100, 28));
    int cancels = 0, sends = 0;
    cancel->setAction([&](View*) { ++cancels; });
    send->setAction([&](View*) { ++sends; });
    for (View* v : std::initializer_list<View*>{message, cancel, send})
        w.contentView()->addSubview(v);
    w.beginSheet(&parent, [](std::int64_t) {});
    ASSERT_TRUE(w.makeFirstResponder(message));
    auto key = [&](unsigned short code, const QString& chars, std::uint64_t flags = 0) {
        Application::shared().sendEvent(Event::keyEvent(KeyDown, code, chars, chars, &w, flags));
    };
    key(KeyCode::H, "h");
    std::vector<View*> order;
    for (int i = 0; i < 4; ++i) {
        key(KeyCode::Tab, "\t");
        order.push_back(w.firstResponder());
    }
    EXPECT_EQ(order, (std::vector<View*>{cancel, send, w.btnClose(), message}));
    EXPECT_EQ(message->string(), "h") << "Tab leaves the box without typing into it";
    key(KeyCode::Tab, "\t", ShiftKeyMask);
    EXPECT_EQ(w.firstResponder(), w.btnClose());
    key(KeyCode::Tab, "\t", ShiftKeyMask);
    EXPECT_EQ(w.firstResponder(), send);
    QCoreApplication::processEvents();
    const QWidget* ring = send->focusRing();
    ASSERT_NE(ring, nullptr);
    EXPECT_TRUE(ring->isVisible());
    key(KeyCode::Space, " ");
    EXPECT_EQ(sends, 1);
    key(KeyCode::Tab, "\t", ShiftKeyMask);
    key(KeyCode::Return, "\r");
    EXPECT_EQ(cancels, 1);
    EXPECT_EQ(sends, 1);
    w.close();
}
