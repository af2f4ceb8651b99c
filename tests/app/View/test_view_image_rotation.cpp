// Image slots, kept scales across files, animated frames and the rotation animation.

#include "view_test_support.h"

using namespace viewtest;

namespace {

using ImageSlots = ViewModelTest;

TEST_F(ImageSlots, SameImageAgainDoesNothing)
{
    NotificationRecorder rec(&model);
    auto image = makeImage(4000, 3000);
    model.setImage(image, ImageModeNormal);
    EXPECT_EQ(rec.count("didChangeCurFitinScale"), 1);
    const int updates = model.drawContentUpdates();
    rec.names.clear();
    model.setImage(image, ImageModeNormal);
    EXPECT_EQ(model.drawContentUpdates(), updates);
    EXPECT_TRUE(rec.names.isEmpty());
    EXPECT_EQ(model.validImage(), image);
    EXPECT_EQ(model.imageByImageMode(7), nullptr);
}

TEST_F(ImageSlots, KeptScaleAppliesToTheNextFilesNormalImageEvenAfterItsFitinImage)
{
    model.setImage(makeImage(4000, 3000), ImageModeNormal);
    model.setScale(1.0);
    model.moveImageByDeltaPoint(QPointF(500, 0));
    model.didChangeFileByKeepPrevScale(true);
    EXPECT_EQ(model.imageNormal(), nullptr);
    // The fit-in image usually arrives first; the kept scale must wait for the normal image.
    model.setImage(makeImage(2000, 1500, 400, 300), ImageModeFitin);
    EXPECT_TRUE(model.needCheckScaleWhileFileChanged());
    model.setImage(makeImage(2000, 1500), ImageModeNormal);
    EXPECT_FALSE(model.needCheckScaleWhileFileChanged());
    EXPECT_DOUBLE_EQ(model.scale(), 1.0);
    EXPECT_TRUE(model.angleRotate().isEqual(LMImageRotateAngle()));
    // The old offset was re-clamped for the smaller image.
    const QRectF v = model.imageVisibleViewRect();
    EXPECT_LE(v.x(), 0);
    EXPECT_GE(v.x() + v.width(), 800);

    model.didChangeFileByKeepPrevScale(false);
    model.setImage(makeImage(4000, 3000), ImageModeNormal);
    EXPECT_TRUE(model.fitinMode());
    EXPECT_DOUBLE_EQ(model.scale(), 0.2);

    // A bad file while a kept scale is pending resets the view to fitted.
    model.setScale(1.0);
    model.didChangeFileByKeepPrevScale(true);
    model.setImage(makeImage(64, 64), ImageModeBadFile);
    EXPECT_TRUE(model.fitinMode());
    EXPECT_FALSE(model.needCheckScaleWhileFileChanged());
}

TEST_F(ImageSlots, AnimatedFramesStepAndHoldDuringZoom)
{
    model.setImage(makeImage(40, 30, 0, 0, 1, 3, 0.125), ImageModeNormal);
    ASSERT_TRUE(model.isFrameSwitchTimerRunning());
    std::vector<int64_t> seen;
    for (int i = 0; i < 4; ++i) {
        clock.advance(0.125);
        seen.push_back(model.curFrameIdx());
    }
    EXPECT_EQ(seen, (std::vector<int64_t>{1, 2, 0, 1}));
    model.setScale(0.5);
    model.beginZoomByDelta(1, std::nullopt);
    clock.advance(0.125);
    EXPECT_EQ(model.curFrameIdx(), 1);
    model.abortZoom();

    // A replacement with fewer frames: the drawable frame never runs past the image.
    clock.advance(0.125); // frame 2
    model.setImage(makeImage(40, 30, 20, 15), ImageModeNormal);
    EXPECT_FALSE(model.isFrameSwitchTimerRunning());
    EXPECT_EQ(model.drawableFrameIdx(), 0);
    model.didChangeFile();
    EXPECT_EQ(model.curFrameIdx(), 0);
}

using Rotation = ViewModelTest;

TEST_F(Rotation, RotateRightRefitsAndAnnouncesOnce)
{
    NotificationRecorder rec(&model);
    model.setImage(makeImage(4000, 3000), ImageModeNormal);
    rec.names.clear();
    model.rotate(RotateActionRight);
    EXPECT_FALSE(model.shadowEnabled());
    EXPECT_TRUE(model.isRotateTimerRunning());
    run(0.15);
    EXPECT_GT(model.angleRotate().angleRotate(), 0);
    EXPECT_LT(model.angleRotate().angleRotate(), 90);
    run(0.2);
    EXPECT_FALSE(model.isRotateTimerRunning());
    EXPECT_TRUE(model.angleRotate().isEqual(LMImageRotateAngle(90, 0, 0)));
    EXPECT_DOUBLE_EQ(model.scale(), 0.15);
    EXPECT_TRUE(model.fitinMode());
    EXPECT_TRUE(model.shadowEnabled());
    EXPECT_EQ(rec.count("beginRotate"), 1);
    EXPECT_EQ(rec.count("endRotate"), 1);
    EXPECT_GE(rec.count("didChangeCurFitinScale"), 1);
}

TEST_F(Rotation, AnEarlyEndLandsOnTheEndState)
{
    model.setImage(makeImage(4000, 3000), ImageModeNormal);
    model.rotate(RotateActionLeft);
    run(0.1);
    model.rotate(RotateActionLeft); // ends the first at once, then starts from there
    EXPECT_TRUE(model.angleRotate().isEqual(LMImageRotateAngle(270, 0, 0)));
    EXPECT_TRUE(model.fitinMode());
    EXPECT_DOUBLE_EQ(model.scale(), 0.15);
    model.endRotate();
    EXPECT_TRUE(model.angleRotate().isEqual(LMImageRotateAngle(180, 0, 0)));
    EXPECT_TRUE(model.fitinMode());
    EXPECT_DOUBLE_EQ(model.scale(), 0.2);
}

TEST_F(Rotation, FlipsKeepTheOffsetAndNormalise)
{
    model.setImage(makeImage(4000, 3000), ImageModeNormal);
    model.setScale(1.0);
    model.moveImageByDeltaPoint(QPointF(100, 50));
    const QPointF offset = model.offset();
    model.rotate(RotateActionFlipHorizontal);
    for (int i = 0; i < 40; ++i) {
        clock.advance(1.0 / 120);
        EXPECT_EQ(model.offset(), offset);
    }
    model.rotate(RotateActionFlipHorizontal);
    run(0.4);
    EXPECT_TRUE(model.angleRotate().isEqual(LMImageRotateAngle(0, 0, 0)));
    EXPECT_EQ(model.offset(), offset);
}

TEST_F(Rotation, ResetWithoutAnimation)
{
    NotificationRecorder rec(&model);
    model.setImage(makeImage(4000, 3000), ImageModeNormal);
    model.resetRotateAngle();
    EXPECT_EQ(rec.count("beginRotate"), 0);
    model.setAngleRotate(LMImageRotateAngle(90, 0, 0));
    EXPECT_FALSE(model.setAngleRotate(LMImageRotateAngle(90, 0, 0)));
    model.resetRotateAngle();
    EXPECT_TRUE(model.angleRotate().isEqual(LMImageRotateAngle()));
    EXPECT_EQ(rec.count("beginRotate"), 1);
    EXPECT_EQ(rec.count("endRotate"), 1);
}

} // namespace
