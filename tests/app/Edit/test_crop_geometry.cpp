// Crop rectangle arithmetic: drags with and without a kept ratio, moves against the edges, the
// keyboard, wheel and pinch steps, the quarter turn, the presets and the text and toolbar places.

#include "Edit/CropAspectPresets.h"
#include "Edit/CropGeometry.h"

#include <gtest/gtest.h>

namespace {

const CropAspect kFree{};
CropAspect ratio(double a, double b) { return CropAspect{true, QSizeF(a, b)}; }

TEST(CropGeometryDrag, MovePinsTheRectangleAtTheEdges)
{
    const QRectF W(0, 0, 100, 80);
    const QRectF r(10, 10, 30, 20);
    EXPECT_EQ(CropGeometry::calcVisualTrackRect(r, 9, QPointF(-50, 0), W, false, kFree), QRectF(0, 10, 30, 20));
    EXPECT_EQ(CropGeometry::calcVisualTrackRect(r, 9, QPointF(500, 500), W, false, kFree), QRectF(70, 60, 30, 20));
    // Whole pixels: the delta is rounded half away from zero.
    EXPECT_EQ(CropGeometry::calcVisualTrackRect(r, 9, QPointF(2.5, -2.5), W, true, kFree), QRectF(13, 7, 30, 20));
}

TEST(CropGeometryDrag, DraggingAnEdgePastTheOppositeEdgeMirrors)
{
    const QRectF W(0, 0, 200, 100);
    const QRectF r(50, 20, 40, 30); // right edge at 90
    const QRectF out = CropGeometry::calcVisualTrackRect(r, 2, QPointF(60, 0), W, false, kFree);
    // Left edge dragged from 50 to 110: the old right edge (90) is now the left edge.
    EXPECT_EQ(out, QRectF(90, 20, 20, 30));
    // The lower edge dragged above the top mirrors vertically.
    const QRectF up = CropGeometry::calcVisualTrackRect(r, 8, QPointF(0, 40), W, false, kFree);
    EXPECT_EQ(up, QRectF(50, 50, 40, 10));
}

TEST(CropGeometryDrag, EdgeDragKeepsTheOtherSideWithoutRatio)
{
    const QRectF W(0, 0, 200, 100);
    const QRectF r(50, 20, 40, 30);
    EXPECT_EQ(CropGeometry::calcVisualTrackRect(r, 6, QPointF(10, 33), W, false, kFree), QRectF(50, 20, 50, 30));
    EXPECT_EQ(CropGeometry::calcVisualTrackRect(r, 4, QPointF(7, 10), W, false, kFree), QRectF(50, 20, 40, 40));
    // An edge is clamped into the whole rectangle.
    EXPECT_EQ(CropGeometry::calcVisualTrackRect(r, 6, QPointF(500, 0), W, false, kFree), QRectF(50, 20, 150, 30));
}

TEST(CropGeometryDrag, EdgeDragWithRatioCentresTheOtherSideAndLimitsByRoom)
{
    const CropAspect a169 = ratio(16, 9);
    const QRectF r(0, 100, 160, 90); // centre y = 145
    // Plenty of room: width 320 asks for height 180 centred on the old centre.
    const QRectF big(0, 0, 1000, 1000);
    EXPECT_EQ(CropGeometry::calcVisualTrackRect(r, 6, QPointF(160, 0), big, false, a169), QRectF(0, 55, 320, 180));
    // Only 60 points above the centre: height 120, width 120 * 16 / 9.
    const QRectF tight(0, 0, 1000, 205);
    const QRectF out = CropGeometry::calcVisualTrackRect(r, 6, QPointF(160, 0), tight, false, a169);
    EXPECT_DOUBLE_EQ(out.height(), 120);
    EXPECT_DOUBLE_EQ(out.width(), 120.0 * 16 / 9);
    EXPECT_DOUBLE_EQ(out.y(), 85);
}

TEST(CropGeometryDrag, CornerDragWithRatioUsesTheLargerWidthAndTheClampedHeight)
{
    const CropAspect a21 = ratio(2, 1);
    const QRectF r(0, 0, 40, 20);
    const QRectF W(0, 0, 1000, 1000);
    // Upper-right corner: dragged width 50, dragged height 40 asks for width 80.
    EXPECT_EQ(CropGeometry::calcVisualTrackRect(r, 5, QPointF(10, 20), W, false, a21), QRectF(0, 0, 80, 40));
    // The height hits the top at 30: the width follows the clamped height.
    const QRectF low(0, 0, 1000, 30);
    EXPECT_EQ(CropGeometry::calcVisualTrackRect(r, 5, QPointF(10, 20), low, false, a21), QRectF(0, 0, 60, 30));
}

TEST(CropGeometryDrag, ZeroSidedRatioCountsAsFree)
{
    // An image preset for a file without a known size must not divide by zero.
    const CropAspect broken{true, QSizeF(0, 0)};
    const QRectF r(10, 10, 20, 20);
    EXPECT_EQ(CropGeometry::calcVisualTrackRect(r, 6, QPointF(5, 0), QRectF(0, 0, 100, 100), true, broken),
              QRectF(10, 10, 25, 20));
}

TEST(CropGeometryDrag, CollapsedRectangleIsRepairedKeepingItsTopEdge)
{
    const QSizeF F(100, 50);
    const auto rep = CropGeometry::repairCollapsedRect(QRectF(30, 20, 0, 0), F, QRectF(), kFree);
    ASSERT_TRUE(rep);
    EXPECT_EQ(*rep, QRectF(30, 19, 1, 1));
    EXPECT_FALSE(CropGeometry::repairCollapsedRect(QRectF(30, 20, 1, 1), F, QRectF(), kFree));
    const auto kept = CropGeometry::repairCollapsedRect(QRectF(99, 49, 0, 1), F, QRectF(0, 0, 40, 10), ratio(4, 1));
    ASSERT_TRUE(kept);
    EXPECT_EQ(*kept, QRectF(96, 49, 4, 1));
}

TEST(CropGeometryKeys, ArrowsMoveAndResizeFromTheUpperLeftCorner)
{
    const QRectF F(0, 0, 100, 100);
    const QRectF C(0, 50, 10, 10);
    // Left against the edge stays at the edge.
    EXPECT_EQ(*CropGeometry::moveOrResizeVisualActualTrackRect(C, F, QPointF(-1, 0), true, kFree), C);
    // Command+Up shrinks the height from below; the top stays at 60.
    EXPECT_EQ(*CropGeometry::moveOrResizeVisualActualTrackRect(C, F, QPointF(0, 1), false, kFree),
              QRectF(0, 51, 10, 9));
    // Command+Down grows it downwards; Command+Right grows the width.
    EXPECT_EQ(*CropGeometry::moveOrResizeVisualActualTrackRect(C, F, QPointF(0, -1), false, kFree),
              QRectF(0, 49, 10, 11));
    EXPECT_EQ(*CropGeometry::moveOrResizeVisualActualTrackRect(C, F, QPointF(1, 0), false, kFree),
              QRectF(0, 50, 11, 10));
    // Shrinking stops at one pixel.
    EXPECT_FALSE(CropGeometry::moveOrResizeVisualActualTrackRect(QRectF(5, 5, 1, 1), F, QPointF(-1, 0), false, kFree));
    EXPECT_FALSE(CropGeometry::moveOrResizeVisualActualTrackRect(QRectF(5, 5, 1, 1), F, QPointF(0, 1), false, kFree));
}

TEST(CropGeometryKeys, WheelMovesByTwiceTheDeltaFollowingTheDeviceDirection)
{
    EXPECT_EQ(CropGeometry::scrollWheelMoveDelta(1, 3, false), QPointF(-2, 6));
    EXPECT_EQ(CropGeometry::scrollWheelMoveDelta(1, 3, true), QPointF(2, -6));
}

TEST(CropGeometryKeys, PinchChangesEachSideByAtLeastOnePixelWithinTheFrame)
{
    const QRectF F(0, 0, 100, 100);
    EXPECT_EQ(CropGeometry::magnifyRect(QRectF(10, 10, 10, 10), F, 0.01, kFree), QRectF(10, 10, 11, 11));
    EXPECT_EQ(CropGeometry::magnifyRect(QRectF(10, 10, 10, 10), F, -0.01, kFree), QRectF(11, 11, 9, 9));
    EXPECT_EQ(CropGeometry::magnifyRect(QRectF(0, 0, 1, 1), F, -0.5, kFree), QRectF(0, 0, 1, 1));
    EXPECT_EQ(CropGeometry::magnifyRect(QRectF(0, 0, 90, 90), F, 1.0, kFree), QRectF(0, 0, 100, 100));
    // With a ratio the height follows the width.
    EXPECT_EQ(CropGeometry::magnifyRect(QRectF(0, 0, 40, 20), QRectF(0, 0, 200, 200), 1.0, ratio(2, 1)),
              QRectF(0, 0, 80, 40));
}

TEST(CropGeometryRaw, FirstRectangleIsTheCentredHalf)
{
    EXPECT_EQ(CropGeometry::initialRawCropRect(QRectF(0, 0, 5, 3)), QRectF(1, 1, 3, 2));
    EXPECT_EQ(CropGeometry::initialRawCropRect(QRectF()), QRectF(0, 0, 1, 1));
    EXPECT_EQ(CropGeometry::initialRawCropRect(QRectF(0, 0, 1000, 600)), QRectF(250, 150, 500, 300));
}

TEST(CropGeometryRaw, QuarterTurnShrinksToTheFrameKeepingTheRatio)
{
    const QRectF R(0, 0, 1000, 200);
    const QRectF C(100, 50, 300, 100);
    EXPECT_EQ(CropGeometry::rotatedRawCropRect(C, R, kFree), QRectF(200, 0, 100, 200));
    EXPECT_EQ(CropGeometry::rotatedRawCropRect(C, R, ratio(16, 9)), QRectF(200, 0, 113, 200));
    // A turn that fits keeps the centre.
    EXPECT_EQ(CropGeometry::rotatedRawCropRect(QRectF(400, 80, 40, 20), R, kFree), QRectF(410, 70, 20, 40));
}

// Turning a rectangle that touches or nears the right (or bottom) edge must keep it inside the
// image, whole-pixel sized and placed, for free and kept ratios, landscape and portrait images.
TEST(CropGeometryRaw, QuarterTurnNearTheRightAndBottomEdgesStaysInsideTheImage)
{
    const QRectF images[] = {QRectF(0, 0, 1000, 600), QRectF(0, 0, 600, 1000), QRectF(0, 0, 301, 299)};
    const CropAspect aspects[] = {kFree, ratio(16, 9), ratio(1, 1), ratio(3, 2)};
    for (const QRectF &R : images)
        for (const CropAspect &aspect : aspects)
            for (double w : {1.0, 7.0, 80.0, 150.0, 299.0})
                for (double h : {1.0, 9.0, 120.0, 250.0, 299.0})
                    for (double gap : {0.0, 1.0, 3.0, 40.0}) {
                        const QRectF nearRight(R.width() - w - gap, (R.height() - h) / 2, w, h);
                        const QRectF nearBottom((R.width() - w) / 2, R.height() - h - gap, w, h);
                        for (const QRectF &C : {nearRight, nearBottom}) {
                            SCOPED_TRACE(testing::Message() << "image " << R.width() << "x" << R.height() << " crop "
                                                            << C.x() << "," << C.y() << " " << w << "x" << h << " kept "
                                                            << aspect.isKept());
                            const QRectF T = CropGeometry::rotatedRawCropRect(C, R, aspect);
                            EXPECT_GE(T.left(), 0);
                            EXPECT_GE(T.top(), 0);
                            EXPECT_LE(T.right(), R.width());
                            EXPECT_LE(T.bottom(), R.height());
                            EXPECT_GE(T.width(), 1);
                            EXPECT_GE(T.height(), 1);
                            EXPECT_EQ(T.x(), std::floor(T.x()));
                            EXPECT_EQ(T.y(), std::floor(T.y()));
                            // A turn that fits is exact: the sides are exchanged.
                            if (h <= R.width() && w <= R.height())
                                EXPECT_EQ(T.size(), QSizeF(h, w));
                        }
                    }
}

TEST(CropGeometryRaw, FixedRatioKeepsTheOrientationAndTheCentre)
{
    const QRectF R(0, 0, 1000, 500);
    // 900 x 300 with 1 x 1: 900 x 900 is too high, so 500 x 500 centred and clamped.
    EXPECT_EQ(CropGeometry::fixedRatioRawCropRect(QRectF(50, 100, 900, 300), R, QSizeF(1, 1)),
              QRectF(250, 0, 500, 500));
    // Portrait stays portrait.
    EXPECT_EQ(CropGeometry::fixedRatioRawCropRect(QRectF(0, 0, 100, 400), R, QSizeF(16, 9)), QRectF(0, 0, 225, 400));
}

TEST(CropGeometryRaw, DisplayPresetTakesTheDisplaySizeOrTheLargestFit)
{
    // A 1440 x 900 point display at scale 2 asks for 2880 x 1800 pixels.
    const QRectF big = CropGeometry::displayRatioVisualRect(QSizeF(2880, 1800), QSizeF(6000, 4000), QPointF(3000, 2000));
    EXPECT_EQ(big, QRectF(1560, 1100, 2880, 1800));
    const QRectF small = CropGeometry::displayRatioVisualRect(QSizeF(2880, 1800), QSizeF(1000, 1000), QPointF(10, 10));
    EXPECT_EQ(small, QRectF(0, 0, 1000, 625));
}

TEST(CropGeometryTexts, PositionCountsFromTheTopAndTipsStayInTheView)
{
    const QRectF top = CropGeometry::visualActualRectToVisualImageRect(QRectF(3, 70, 20, 30), QSizeF(100, 100));
    EXPECT_EQ(CropGeometry::cropInfoText(top), QStringLiteral("X:3 Y:0 | 20 x 30"));
    EXPECT_EQ(CropGeometry::cropSizeTipText(QRectF(0, 0, 12.9, 7.2)), QStringLiteral("12 x 7"));
    const QRectF view(0, 0, 300, 200);
    EXPECT_EQ(CropGeometry::sizeTipOrigin(QPointF(10, 100), QRectF(0, 0, 60, 20), view), QPointF(15, 90));
    EXPECT_EQ(CropGeometry::sizeTipOrigin(QPointF(290, 199), QRectF(0, 0, 60, 20), view), QPointF(240, 180));
}

TEST(CropGeometryTexts, ToolbarGoesUnderAboveOrInsideTheRectangle)
{
    const QRectF B(0, 0, 500, 400);
    const QSizeF T(100, 30);
    EXPECT_EQ(CropGeometry::trackToolbarOrigin(QRectF(200, 100, 150, 100), B, T), QPointF(248, 68));
    EXPECT_EQ(CropGeometry::trackToolbarOrigin(QRectF(200, 10, 150, 20), B, T), QPointF(248, 32));
    EXPECT_EQ(CropGeometry::trackToolbarOrigin(QRectF(200, 10, 150, 100), B, T), QPointF(248, 12));
    EXPECT_EQ(CropGeometry::trackToolbarOrigin(QRectF(0, 100, 50, 100), B, T), QPointF(0, 68));
}

TEST(CropAspectPresetsTest, ListOrderTitlesAndChoosing)
{
    CropAspectPresets p;
    p.rebuild(QSizeF(1440, 900), QSizeF(3000, 2000));
    ASSERT_EQ(p.arrayCustomSizes().size(), 7u);
    EXPECT_EQ(p.curCustomSizeIdx(), 0u);
    EXPECT_FALSE(p.keepCropAspectRatio());
    EXPECT_EQ(p.customSizeIdxByType(CropAspectPresets::Image), 2u);
    EXPECT_EQ(p.customSizeIdxByType(42), CropAspectPresets::NotFound);
    auto fake = [](const QString &key) { return key == "IDS_CropSize_Display_Fmt" ? QStringLiteral("Screen %d:%d") : key; };
    EXPECT_EQ(CropAspectPresets::customSizeTitleString(p.arrayCustomSizes()[1], fake), QStringLiteral("Screen 1440:900"));
    EXPECT_EQ(CropAspectPresets::customSizeTitleString(p.arrayCustomSizes()[3], fake), QStringLiteral("16 x 9"));
    EXPECT_EQ(CropAspectPresets::customSizeTitleString({QSizeF(1, 1), 7}, fake), QString());

    bool changed = false;
    EXPECT_TRUE(p.choosePreset(3, &changed));
    EXPECT_TRUE(changed);
    EXPECT_EQ(p.aspectRatioBySize(10, 20), QSizeF(9, 16));
    // Choosing the current fixed preset again does nothing; the image preset re-applies.
    EXPECT_FALSE(p.choosePreset(3, &changed));
    EXPECT_FALSE(changed);
    EXPECT_TRUE(p.choosePreset(2, &changed));
    EXPECT_TRUE(p.choosePreset(2, &changed));
    EXPECT_FALSE(changed);
    // Free chosen from another preset keeps the rectangle; every rebuild starts free.
    EXPECT_FALSE(p.choosePreset(0, &changed));
    EXPECT_TRUE(changed);
    p.setCurCustomSizeIdx(99);
    EXPECT_EQ(p.curCustomSizeInfo().type, CropAspectPresets::Free);
    p.setCurCustomSizeIdx(4);
    p.rebuild(QSizeF(1, 1), QSizeF(1, 1));
    EXPECT_EQ(p.curCustomSizeIdx(), 0u);
}

} // namespace
