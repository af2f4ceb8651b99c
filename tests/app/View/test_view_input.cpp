// Wheel, gesture and press decisions of the image view, and cropping what it shows.

#include "view_test_support.h"

#include "appkit/Event.h"

using namespace viewtest;

namespace {

using Input = ViewModelTest;

kpv::Event scroll(double dx, double dy, int phase = kpv::PhaseNone)
{
    kpv::Event e(kpv::ScrollWheel);
    e.setScrollingDelta(dx, dy);
    e.setPhase(phase);
    return e;
}

kpv::Event rotation(double degrees, double timestamp)
{
    kpv::Event e(kpv::EventTypeRotate);
    e.setRotation(degrees);
    e.setTimestamp(timestamp);
    return e;
}

TEST_F(Input, WheelZoomsPansOrPassesOn)
{
    model.setImage(makeImage(4000, 3000), ImageModeNormal);
    EXPECT_TRUE(model.handleScrollWheel(scroll(0, 1), QPointF(100, 100)));
    EXPECT_TRUE(model.isZoomTimerRunning());
    EXPECT_EQ(model.zoomHoldPosition(), QPointF(100, 100));
    model.abortZoom();

    // A trackpad scroll over a fitted image goes on (paging); over a larger one it pans.
    EXPECT_FALSE(model.handleScrollWheel(scroll(5, 5, kpv::PhaseChanged), QPointF()));
    model.setScale(1.0);
    const QPointF o = model.offset();
    EXPECT_TRUE(model.handleScrollWheel(scroll(5.7, 3.2, kpv::PhaseChanged), QPointF()));
    EXPECT_EQ(model.offset(), o + QPointF(5, -3));

    model.setMouseWheelAction(MouseWheelActionPan);
    const QPointF o2 = model.offset();
    EXPECT_TRUE(model.handleScrollWheel(scroll(0, 1.5), QPointF()));
    EXPECT_EQ(model.offset(), o2 + QPointF(0, -4));
    model.setMouseWheelAction(MouseWheelActionPassOn);
    EXPECT_FALSE(model.handleScrollWheel(scroll(0, 1), QPointF()));
    model.setMouseWheelAction(7);
    EXPECT_TRUE(model.handleScrollWheel(scroll(0, 1), QPointF()));
    model.setEnable(false);
    EXPECT_FALSE(model.handleScrollWheel(scroll(0, 1), QPointF()));
}

TEST_F(Input, PinchAndDoubleTap)
{
    model.setImage(makeImage(4000, 3000), ImageModeNormal);
    model.setScale(0.5);
    kpv::Event pinch(kpv::EventTypeMagnify);
    pinch.setMagnification(0.1);
    EXPECT_TRUE(model.handleMagnify(pinch));
    EXPECT_DOUBLE_EQ(model.scale(), 0.55);
    model.setScale(4.0);
    model.handleMagnify(pinch);
    EXPECT_DOUBLE_EQ(model.scale(), 4.0);

    model.setAnimationZoom(false);
    model.switchToScaleMode(ScaleModeFitin);
    EXPECT_TRUE(model.handleSmartMagnify());
    EXPECT_DOUBLE_EQ(model.scale(), 1.0);
    EXPECT_TRUE(model.handleSmartMagnify());
    EXPECT_TRUE(model.fitinMode());
}

TEST_F(Input, RotationGestureNeedsFiveDegreesWithinHalfASecond)
{
    model.setImage(makeImage(4000, 3000), ImageModeNormal);
    EXPECT_FALSE(model.handleRotateGesture(rotation(10, 1)));
    model.setImageSupportRotate(true);
    model.handleRotateGesture(rotation(3, 10.0));
    model.handleRotateGesture(rotation(3, 10.6)); // too late: a new run
    EXPECT_FALSE(model.isRotateTimerRunning());
    model.handleRotateGesture(rotation(-3, 10.7)); // other way: a new run
    EXPECT_FALSE(model.isRotateTimerRunning());
    model.handleRotateGesture(rotation(3, 20.0));
    model.handleRotateGesture(rotation(3, 20.2));
    EXPECT_TRUE(model.isRotateTimerRunning());
    model.endRotate();
    EXPECT_TRUE(model.angleRotate().isEqual(LMImageRotateAngle(270, 0, 0))); // turned left
}

TEST_F(Input, PressesAndCrops)
{
    model.setImage(makeImage(400, 300), ImageModeNormal);
    EXPECT_TRUE(model.takesMouseDown(QPointF(400, 300), 1));
    EXPECT_FALSE(model.takesMouseDown(QPointF(400, 300), 2)); // double clicks go on
    EXPECT_FALSE(model.takesMouseDown(QPointF(10, 10), 1));   // off the image

    int angle = -1;
    const QImage crop = model.cropImageForVisibleRect(&angle);
    EXPECT_EQ(crop.size(), QSize(400, 300));
    EXPECT_EQ(angle, 0);
    // Orientation 90 with a view angle of -90 shows upright; 270 with 180 needs 90.
    model.setImage(makeImage(400, 300, 0, 0, 6), ImageModeNormal);
    model.setAngleRotate(LMImageRotateAngle(-90, 0, 0));
    model.cropImageForRect(QRectF(0, 0, 10, 10), &angle);
    EXPECT_EQ(angle, 0);
    model.setImage(makeImage(400, 300, 0, 0, 8), ImageModeNormal);
    model.setAngleRotate(LMImageRotateAngle(180, 0, 0));
    model.cropImageForRect(QRectF(0, 0, 10, 10), &angle);
    EXPECT_EQ(angle, 90);
    model.didChangeFile();
    EXPECT_TRUE(model.cropImageForVisibleRect(&angle).isNull());
}

} // namespace
