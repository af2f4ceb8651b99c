// Placement of the image: fit-in rule, scale limits, offsets that keep the image in place,
// mappings between view and image pixels, and the notifications of a change.

#include "view_test_support.h"

#include <cmath>

using namespace viewtest;

namespace {

using Geometry = ViewModelTest;

TEST_F(Geometry, FitinScaleFollowsBoundsDensityOrientationAndMode)
{
    model.setImage(makeImage(4000, 3000, 400, 300), ImageModeNormal);
    EXPECT_DOUBLE_EQ(model.calcFitinScale(), 0.2);
    EXPECT_TRUE(model.fitinMode());
    EXPECT_DOUBLE_EQ(model.scale(), 0.2);
    model.setContentsScale(2.0);
    EXPECT_DOUBLE_EQ(model.calcFitinScale(), 0.4);
    model.setContentsScale(1.0);

    // A portrait orientation and a quarter turn of the view both swap the sides used.
    auto portrait = makeImage(4000, 3000, 0, 0, 6);
    EXPECT_DOUBLE_EQ(model.calcFitinScaleForImage(portrait->originalImgBaseInfo(), LMImageRotateAngle()), 0.15);
    EXPECT_DOUBLE_EQ(model.calcFitinScaleForImage(model.imageNormal()->originalImgBaseInfo(), LMImageRotateAngle(90, 0, 0)),
                     0.15);
    // Flips do not change the size.
    EXPECT_DOUBLE_EQ(model.calcFitinScaleForImage(model.imageNormal()->originalImgBaseInfo(), LMImageRotateAngle(0, 180, 180)),
                     0.2);

    auto small = makeImage(100, 100)->originalImgBaseInfo();
    for (int mode : {0, 1, 2, 3, 6}) {
        model.setNewScaleMode(mode);
        EXPECT_DOUBLE_EQ(model.calcFitinScaleForImage(small, LMImageRotateAngle()), 1.0) << mode;
    }
    model.setNewScaleMode(ScaleModeFitinEnlarge);
    EXPECT_DOUBLE_EQ(model.calcFitinScaleForImage(small, LMImageRotateAngle()), 6.0);
}

TEST_F(Geometry, FitinBoundsAreEvenOnNormalScreensAndEmptyUnderHugeMargins)
{
    model.setViewBounds(QRectF(0, 0, 801, 601));
    EXPECT_EQ(model.getBoundsForFitin(), QRectF(0, 0, 800, 600));
    model.setContentsScale(2.0);
    EXPECT_EQ(model.getBoundsForFitin(), QRectF(0, 0, 801, 601));
    model.setContentsScale(1.0);
    model.setFitinLeftMargin(10, 20, 31, 40);
    EXPECT_EQ(model.getBoundsForFitin(), QRectF(10, 40, 760, 540));

    model.setImage(makeImage(400, 300), ImageModeNormal);
    model.setFitinLeftMargin(500, 0, 500, 0);
    EXPECT_EQ(model.getBoundsForFitin().width(), 0);
    EXPECT_DOUBLE_EQ(model.calcFitinScale(), 0.0);
    EXPECT_DOUBLE_EQ(model.scale(), 1.0); // zero reads as one
    EXPECT_DOUBLE_EQ(model.curMinScale(), 0.01);
}

TEST_F(Geometry, ScaleIsClampedBetweenFitinAndMaximum)
{
    model.setImage(makeImage(4000, 3000, 400, 300), ImageModeNormal);
    model.setScale(100.0);
    EXPECT_DOUBLE_EQ(model.scale(), 4.0);
    EXPECT_FALSE(model.fitinMode());
    model.setScale(0.001);
    EXPECT_DOUBLE_EQ(model.scale(), 0.2);
    EXPECT_TRUE(model.fitinMode()); // landing exactly on the fit-in scale enters fit-in mode
    model.setLimitFitinBeMinScale(false);
    model.setScale(0.001);
    EXPECT_DOUBLE_EQ(model.scale(), 0.01);

    // A fit-in scale above the maximum: the maximum wins and fit-in mode is left.
    model.setLimitFitinBeMinScale(true);
    model.setImage(makeImage(100, 100), ImageModeNormal);
    model.setNewScaleMode(ScaleModeFitinEnlarge);
    model.redrawImage();
    EXPECT_DOUBLE_EQ(model.scale(), 4.0);
    EXPECT_FALSE(model.fitinMode());
}

TEST_F(Geometry, FitinCheckDecidesTheMode)
{
    model.setImage(makeImage(4000, 3000), ImageModeNormal);
    model.setNewScale(0.5, true, LMImageRotateAngle(), QPointF(), false, true);
    EXPECT_FALSE(model.fitinMode());
    model.setNewScale(0.2, false, LMImageRotateAngle(), QPointF(), false, true);
    EXPECT_FALSE(model.fitinMode());
    EXPECT_DOUBLE_EQ(model.scale(), 0.2);
    model.setNewScale(0.2, true, LMImageRotateAngle(), QPointF(), false, true);
    EXPECT_TRUE(model.fitinMode());
}

TEST_F(Geometry, ImagesSmallerThanTheBoundsStayCentredAndLargerOnesStopAtTheEdges)
{
    model.setImage(makeImage(4000, 3000), ImageModeNormal);
    model.setScale(0.1); // clamped to fit-in
    model.moveImageByDeltaPoint(QPointF(50, 50));
    EXPECT_EQ(model.offset(), QPointF(0, 0));
    EXPECT_FALSE(model.canDragImageWithoutCheckCursorPosition());

    model.setScale(1.0);
    EXPECT_TRUE(model.canDragImageWithoutCheckCursorPosition());
    model.moveImageByDeltaPoint(QPointF(100, -30));
    EXPECT_EQ(model.offset(), QPointF(100, -30));
    // Far to the right and up: the image's left and bottom edges meet the bounds' edges.
    model.moveImageByDeltaPoint(QPointF(10000, 10000));
    const QRectF v = model.imageVisibleViewRect();
    EXPECT_DOUBLE_EQ(v.x(), 0);
    EXPECT_DOUBLE_EQ(v.y(), 0);
    EXPECT_EQ(model.offset(), QPointF(1600, 1200));

    // A wide image narrower than tall bounds: sideways it is always centred.
    model.setViewBounds(QRectF(0, 0, 400, 2000));
    model.setImage(makeImage(300, 3000), ImageModeNormal);
    model.setScale(1.0);
    model.moveImageByDeltaPoint(QPointF(80, 0));
    EXPECT_DOUBLE_EQ(model.imageVisibleViewRect().center().x(), 200);
}

TEST_F(Geometry, PansUnderFlipsMoveTheWayThePointerMoves)
{
    model.setImage(makeImage(4000, 3000), ImageModeNormal);
    ASSERT_TRUE(model.setAngleRotate(LMImageRotateAngle(0, 180, 180)));
    model.setScale(1.0);
    const QRectF before = model.imageVisibleViewRect();
    model.moveImageByDeltaPoint(QPointF(40, 25));
    const QRectF after = model.imageVisibleViewRect();
    EXPECT_DOUBLE_EQ(after.x() - before.x(), 40);
    EXPECT_DOUBLE_EQ(after.y() - before.y(), 25);
    EXPECT_EQ(model.offset(), QPointF(-40, -25));
}

TEST_F(Geometry, HoldPointKeepsItsImagePixel)
{
    model.setImage(makeImage(4000, 3000), ImageModeNormal);
    const QPointF hold(600, 150);
    const QPointF before = model.convertToOriginalImagePointForPoint(hold);
    model.setScale(0.8, hold, true);
    EXPECT_DOUBLE_EQ(model.scale(), 0.8);
    const QPointF after = model.convertToOriginalImagePointForPoint(hold);
    EXPECT_NEAR(after.x(), before.x(), 1.0);
    EXPECT_NEAR(after.y(), before.y(), 1.0);

    // A hold point outside the fit-in bounds is the centre instead.
    model.setScale(0.2);
    model.setScale(0.8, QPointF(-50, 900), true);
    EXPECT_EQ(model.offset(), QPointF(0, 0));
}

TEST_F(Geometry, OffsetsSnapToWholePixelsOnlyAtActualSize)
{
    EXPECT_EQ(LMImageViewModel::adjustOffset(QPointF(10.7, -3.2), 1.0, false), QPointF(10, -4));
    EXPECT_EQ(LMImageViewModel::adjustOffset(QPointF(10.7, -3.2), 1.0, true), QPointF(10.5, -3.5));
    EXPECT_EQ(LMImageViewModel::adjustOffset(QPointF(10.7, -3.2), 1.01, false), QPointF(10.7, -3.2));
}

TEST_F(Geometry, MappingsBetweenViewAndPixels)
{
    // Fitted 4000 x 3000 at 0.2: the image covers the whole 800 x 600 view, rows running down.
    model.setImage(makeImage(4000, 3000, 1000, 750), ImageModeNormal);
    EXPECT_EQ(model.imageVisibleViewRect(), QRectF(0, 0, 800, 600));
    EXPECT_EQ(model.convertToOriginalImagePointForPoint(QPointF(0.5, 599.5)), QPointF(2, 2));
    EXPECT_EQ(model.mapToOriginalRect(QRectF(0, 500, 100, 100), true), QRectF(0, 0, 500, 500));
    EXPECT_EQ(model.mapToImageRect(QRectF(0, 500, 100, 100)), QRectF(0, 0, 125, 125));
    EXPECT_EQ(model.mapToOriginalRect(QRectF(-100, -100, 2000, 2000), true), QRectF(0, 0, 4000, 3000));
    EXPECT_TRUE(model.isPointOnImage(QPointF(400, 300)));
    EXPECT_FALSE(model.isPointOnImage(QPointF(801, 300)));
    EXPECT_EQ(model.calcFitinVisibleViewRectForImageWithoutModified(makeImage(400, 300)), QRectF(200, 150, 400, 300));

    // An empty decoded image maps to nothing; no image means points are never on it.
    auto empty = std::make_shared<LMImage>(1u, 32u, 0u, 0u, 0u, QList<LMDataBlock>{},
                                           makeImage(10, 10)->originalImgBaseInfo());
    EXPECT_EQ(model.mapToImageRect(QRectF(0, 0, 10, 10), empty), QRectF());
    model.didChangeFile();
    EXPECT_FALSE(model.isPointOnImage(QPointF(400, 300)));
    EXPECT_FALSE(model.canDragImageWithoutCheckCursorPosition());
}

TEST_F(Geometry, EdgeOnImageNeverYieldsNaN)
{
    // Mid-flip the image is seen edge-on and the placement cannot be inverted.
    model.setImage(makeImage(4000, 3000), ImageModeNormal);
    model.setScale(1.0);
    model.setNewScale(1.0, false, LMImageRotateAngle(0, 90, 0), QPointF(), false, true);
    EXPECT_FALSE(model.isPointOnImage(QPointF(400, 300)));
    EXPECT_EQ(model.mapToOriginalRect(QRectF(0, 0, 800, 600), true), QRectF(0, 0, 4000, 3000));
    model.moveImageByDeltaPoint(QPointF(30, 30));
    EXPECT_TRUE(std::isfinite(model.offset().x()) && std::isfinite(model.offset().y()));
    model.setScale(2.0, QPointF(100, 100), true);
    EXPECT_TRUE(std::isfinite(model.offset().x()) && std::isfinite(model.offset().y()));

    // A viewport margin of half the view or more squeezes the image to nothing, not into a mirror.
    model.setViewPortMargin(500);
    EXPECT_EQ(model.viewPortSizeScale(), QSizeF(0, 0));
}

TEST_F(Geometry, NotificationsSayWhatChanged)
{
    NotificationRecorder rec(&model);
    model.setImage(makeImage(4000, 3000), ImageModeNormal);
    model.setScale(1.0);
    rec.names.clear();
    model.moveImageByDeltaPoint(QPointF(10, 0));
    EXPECT_EQ(rec.names, QStringList({"doMoveImage", "didChangeImageVisibleRect"}));
    rec.names.clear();
    model.setScale(2.0);
    EXPECT_EQ(rec.count("doChangeScale"), 1);
    EXPECT_EQ(rec.count("didChangeImageVisibleRect"), 1);
    rec.names.clear();
    model.redrawImage(); // forced: the visible rect is announced although nothing moved
    EXPECT_EQ(rec.names, QStringList({"didChangeImageVisibleRect", "didChangeCurFitinScale"}));
}

TEST_F(Geometry, ScaleModes)
{
    model.setAnimationZoom(false);
    model.setImage(makeImage(4000, 3000), ImageModeNormal);
    model.switchToScaleMode(ScaleModeActualSize);
    EXPECT_DOUBLE_EQ(model.scale(), 1.0);
    model.switchToScaleMode(ScaleModeMaximum);
    EXPECT_DOUBLE_EQ(model.scale(), 4.0);
    model.switchToScaleMode(ScaleModeFitin);
    EXPECT_TRUE(model.fitinMode());
    EXPECT_DOUBLE_EQ(model.scale(), 0.2);

    model.setImage(makeImage(100, 100), ImageModeNormal);
    model.switchToScaleMode(ScaleModeFitinEnlarge);
    EXPECT_DOUBLE_EQ(model.scale(), 4.0); // 6.0 capped by the maximum
    model.setEnable(false);
    model.switchToScaleMode(ScaleModeActualSize);
    EXPECT_EQ(model.curScaleMode(), ScaleModeActualSize); // stored, nothing else
    EXPECT_DOUBLE_EQ(model.scale(), 4.0);
}

TEST_F(Geometry, CropConversionsOfTheShownOrientation)
{
    model.setImage(makeImage(400, 300), ImageModeNormal);
    EXPECT_EQ(model.rawImageCropRectToVisualCropRect(QRectF(10, 20, 50, 40)), QRectF(10, 300 - 20 - 40, 50, 40));
    ASSERT_TRUE(model.setAngleRotate(LMImageRotateAngle(90, 0, 0)));
    const QRectF v = model.rawImageCropRectToVisualCropRect(QRectF(10, 20, 50, 40));
    EXPECT_EQ(v.size(), QSizeF(40, 50));
    for (double a : {0.0, 90.0, 180.0, 270.0}) {
        model.setAngleRotate(LMImageRotateAngle(a, 180, 0));
        const QRectF r(13, 27, 101, 55);
        EXPECT_EQ(model.rawImageCropRectFromVisualCropRect(model.rawImageCropRectToVisualCropRect(r)), r) << a;
    }
}

// Every EXIF orientation puts the stored top-left pixel where the orientation says (TIFF 6.0 tag
// 274): the mirrored ones (2, 4, 5, 7) included, which were shown as their unmirrored turns.
TEST_F(Geometry, EveryOrientationPutsTheStoredCornerWhereItBelongs)
{
    // Stored 400 x 300; where its top-left corner ends up in the picture as shown, as fractions of
    // the shown width and height from the shown top-left.
    const QPointF expected[9] = {{}, {0, 0}, {1, 0}, {1, 1}, {0, 1}, {0, 0}, {1, 0}, {1, 1}, {0, 1}};
    for (int orientation = 1; orientation <= 8; ++orientation) {
        SCOPED_TRACE(orientation);
        const LMImagePtr image = makeImage(400, 300, 0, 0, orientation);
        const LMMatrix m = LMImageViewModel::matrixFromRawImageCropRectToVisualCropRect(image, LMImageRotateAngle());
        const QRectF shown = LMTransformRect(m, QRectF(0, 0, 400, 300));
        const QPointF corner = LMTransformPoint(m, QPointF(0.5, 0.5));
        // Visual y grows upwards: the shown top is shown.bottom().
        const QPointF fraction((corner.x() - shown.left()) / shown.width(), (shown.bottom() - corner.y()) / shown.height());
        EXPECT_NEAR(fraction.x(), expected[orientation].x(), 0.01);
        EXPECT_NEAR(fraction.y(), expected[orientation].y(), 0.01);
        // The view's own matrix agrees.
        const LMMatrix v = LMImageViewModel::matrixFromOriginalImageToView(image, 1, LMImageRotateAngle(), QPointF(),
                                                                         QRectF(0, 0, 1000, 1000), QSizeF(1, 1), false);
        const QRectF shownInView = LMTransformRect(v, QRectF(0, 0, 400, 300));
        const QPointF cornerInView = LMTransformPoint(v, QPointF(0.5, 0.5));
        EXPECT_NEAR((cornerInView.x() - shownInView.left()) / shownInView.width(), expected[orientation].x(), 0.01);
        EXPECT_NEAR((shownInView.bottom() - cornerInView.y()) / shownInView.height(), expected[orientation].y(), 0.01);
    }
}

} // namespace
