// Zoom steps: session limits, step ends, the easing curve on the manual clock, arrow-key
// acceleration, delta zoom and the immediate steps without animation.

#include "view_test_support.h"

using namespace viewtest;

namespace {

using Zoom = ViewModelTest;

TEST(ZoomSteps, LimitsAndStepEnds)
{
    EXPECT_DOUBLE_EQ(LMImageViewModel::calcLimitScaleEndZoom(0.5, true, false, 0.1, 4), 1.0);
    EXPECT_DOUBLE_EQ(LMImageViewModel::calcLimitScaleEndZoom(1.0, true, false, 0.1, 4), 4.0);
    EXPECT_DOUBLE_EQ(LMImageViewModel::calcLimitScaleEndZoom(0.5, true, true, 0.1, 4), 4.0);
    EXPECT_DOUBLE_EQ(LMImageViewModel::calcLimitScaleEndZoom(2.0, false, false, 0.1, 4), 1.0);
    EXPECT_DOUBLE_EQ(LMImageViewModel::calcLimitScaleEndZoom(1.0, false, false, 0.1, 4), 0.1);

    EXPECT_NEAR(LMImageViewModel::calcScaleEndZoom(0.3, false, 1.0, false, 0.25, 4), 0.3 / 1.15, 1e-12);
    EXPECT_DOUBLE_EQ(LMImageViewModel::calcScaleEndZoom(0.3 / 1.15, false, 1.0, false, 0.25, 4), 0.25);
    EXPECT_DOUBLE_EQ(LMImageViewModel::calcScaleEndZoom(3.999, true, 1.0, false, 0.25, 4), 4.009);
    // Every step moves at least 0.01.
    EXPECT_DOUBLE_EQ(LMImageViewModel::calcScaleEndZoom(1.0, true, 1.0, false, 0.25, 1.0), 1.01);
}

TEST_F(Zoom, DeltaStepEasesToItsEndAndStops)
{
    model.setImage(makeImage(4000, 3000), ImageModeNormal);
    model.setScale(0.5);
    ASSERT_TRUE(model.beginZoomByDelta(0.1, std::nullopt));
    ASSERT_TRUE(model.isZoomTimerRunning());
    EXPECT_TRUE(model.isLayerAsynchronous());
    const double end = model.zoomTimerUserInfo().value("endScale").toDouble();
    EXPECT_NEAR(end, 1.15 * 0.5 * (std::sqrt(0.1) + 1), 1e-12);

    clock.advance(0.25);
    EXPECT_NEAR(model.calcScaleByZoomTimer(nullptr, nullptr), 0.5 + (end - 0.5) * 0.606, 1e-3);
    run(1.3, 1.0 / 30);
    EXPECT_FALSE(model.isZoomTimerRunning());
    EXPECT_FALSE(model.isLayerAsynchronous());
    EXPECT_DOUBLE_EQ(model.scale(), end);
    EXPECT_FALSE(model.fitinMode());

    // A big delta uses the largest multiple, still stopping at actual size on the way in; a zero
    // delta is taken and changes nothing.
    model.beginZoomByDelta(16, std::nullopt);
    EXPECT_DOUBLE_EQ(model.zoomTimerUserInfo().value("endScale").toDouble(), 1.0);
    model.abortZoom();
    model.setScale(1.1);
    model.beginZoomByDelta(16, std::nullopt);
    EXPECT_NEAR(model.zoomTimerUserInfo().value("endScale").toDouble(), 1.15 * 1.1 * 3.0, 1e-12);
    model.abortZoom();
    EXPECT_FALSE(model.isLayerAsynchronous());
    const double s = model.scale();
    EXPECT_TRUE(model.beginZoomByDelta(0, std::nullopt));
    EXPECT_FALSE(model.isZoomTimerRunning());
    EXPECT_DOUBLE_EQ(model.scale(), s);
    model.setEnable(false);
    EXPECT_FALSE(model.beginZoomByDelta(1, std::nullopt));
}

TEST_F(Zoom, ArrowKeyFromHalfStopsAtActualSize)
{
    model.setImage(makeImage(4000, 3000), ImageModeNormal);
    model.setScale(0.5);
    model.beginArrowKeyZoom(true);
    ASSERT_TRUE(model.inArrowKeyZoomSession());
    run(6.0, 1.0 / 30);
    EXPECT_FALSE(model.isZoomTimerRunning());
    EXPECT_DOUBLE_EQ(model.scale(), 1.0);
    // Still held: refused until the key goes up.
    model.beginArrowKeyZoom(true);
    EXPECT_FALSE(model.isZoomTimerRunning());
    model.endArrowKeyZoom();
    model.beginArrowKeyZoom(true);
    EXPECT_TRUE(model.isZoomTimerRunning());
}

TEST_F(Zoom, ArrowKeyHeldNearActualSizeAcceleratesPastIt)
{
    model.setImage(makeImage(4000, 3000), ImageModeNormal);
    model.setScale(0.9);
    model.beginArrowKeyZoom(true);
    run(0.76, 1.0 / 30);
    // After the hand-over a later step aims beyond 1.0, so the session goes on toward the maximum.
    EXPECT_TRUE(model.isZoomTimerRunning());
    EXPECT_FALSE(model.zoomTimerUserInfo().value("arrowKeyFirstZoom").toBool());
    run(3.0, 1.0 / 30);
    EXPECT_GT(model.scale(), 1.0);
    model.endArrowKeyZoom();
    run(2.0, 1.0 / 30);
    EXPECT_FALSE(model.isZoomTimerRunning());
    EXPECT_FALSE(model.isLayerAsynchronous());
}

TEST_F(Zoom, ImmediateStepsHaltAtFitinAndActualSize)
{
    model.setAnimationZoom(false);
    // Fit-in 0.25 for an image of 3200 x 2400 in 800 x 600.
    model.setImage(makeImage(3200, 2400), ImageModeNormal);
    model.setLimitFitinBeMinScale(false);
    model.setScale(0.2);
    model.zoomWithoutAnimation(true, std::nullopt);
    EXPECT_DOUBLE_EQ(model.scale(), 0.23);
    model.zoomWithoutAnimation(true, std::nullopt);
    EXPECT_DOUBLE_EQ(model.scale(), 0.25);
    model.setScale(0.95);
    model.beginArrowKeyZoom(true); // without animation: an immediate step
    EXPECT_DOUBLE_EQ(model.scale(), 1.0);
    EXPECT_FALSE(model.isZoomTimerRunning());
    model.zoomWithoutAnimation(false, std::nullopt);
    EXPECT_DOUBLE_EQ(model.scale(), 0.87);
}

TEST_F(Zoom, ScaleModeAnimationsLandOnTheirTarget)
{
    model.setImage(makeImage(4000, 3000), ImageModeNormal);
    model.switchToScaleMode(ScaleModeActualSize);
    ASSERT_TRUE(model.isZoomTimerRunning());
    run(0.5);
    // Mode 1 while mode 2 runs starts a new step from the animated scale.
    model.switchToScaleMode(ScaleModeFitin);
    EXPECT_EQ(model.zoomTimerUserInfo().value("zoomSource").toInt(), ZoomSourceFitin);
    model.switchToScaleMode(ScaleModeFitin); // the same change is under way
    run(1.6);
    EXPECT_FALSE(model.isZoomTimerRunning());
    EXPECT_TRUE(model.fitinMode());
    EXPECT_DOUBLE_EQ(model.scale(), 0.2);
    EXPECT_FALSE(model.canZoom(false));
    EXPECT_TRUE(model.canZoom(true));
}

TEST_F(Zoom, WheelZoomKeepsThePointUnderThePointer)
{
    // A 4000 x 2000 picture fits 800 x 600 at 0.2, 400 points high with bands above and below.
    // Near its lower edge the pointer is over row 1700; a wheel zoom to actual size ends with
    // that row and column under it, though the picture is centred while it is lower than the
    // view on its way there.
    model.setImage(makeImage(4000, 2000), ImageModeNormal);
    const QPointF pointer(400, 160);
    const auto under = [&] { return model.convertToOriginalImagePointForPoint(pointer) + QPointF(0.5, 0.5); };
    ASSERT_NEAR(under().x(), 2000, 1);
    ASSERT_NEAR(under().y(), 1700, 1);
    model.beginZoomByDelta(16, pointer);
    // A second click of the wheel while the first one's zoom runs aims at the same point.
    run(0.1);
    model.beginZoomByDelta(16, pointer);
    run(1.6);
    ASSERT_FALSE(model.isZoomTimerRunning());
    EXPECT_DOUBLE_EQ(model.scale(), 1.0);
    EXPECT_NEAR(under().x(), 2000, 1);
    EXPECT_NEAR(under().y(), 1700, 1);
}

} // namespace
