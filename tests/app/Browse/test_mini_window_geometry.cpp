// The mini window's arithmetic: fitting to the screen, turned and high-density images, zoom.
#include "Browse/MiniWindowGeometry.h"

#include <gtest/gtest.h>

namespace {

const kpv::Rect kVisible(0, 40, 1440, 860);
const kpv::Size kMin{200, 150};

TEST(MiniWindowGeometry, LargeImagesFitWithTheirAspect)
{
    const kpv::Rect f = MiniWindowGeometry::fitFrame(kpv::Rect(100, 100, 400, 300), {4000, 2000}, kVisible, kMin);
    EXPECT_DOUBLE_EQ(f.width(), 1440);
    EXPECT_DOUBLE_EQ(f.height(), 720);
    EXPECT_GE(f.x(), kVisible.x());
    EXPECT_LE(f.maxX(), kVisible.maxX());
    EXPECT_LE(f.maxY(), kVisible.maxY());
}

TEST(MiniWindowGeometry, SmallSidesRiseToTheMinimumAlone)
{
    const kpv::Rect f = MiniWindowGeometry::fitFrame(kpv::Rect(500, 400, 300, 300), {1000, 50}, kVisible, kMin);
    EXPECT_DOUBLE_EQ(f.width(), 1000);
    EXPECT_DOUBLE_EQ(f.height(), 150) << "the aspect gives way to the minimum";
}

TEST(MiniWindowGeometry, EdgesPushTheWindowBackInside)
{
    const kpv::Rect nearRight = MiniWindowGeometry::fitFrame(kpv::Rect(1300, 800, 100, 80), {600, 400}, kVisible, kMin);
    EXPECT_DOUBLE_EQ(nearRight.maxX(), kVisible.maxX());
    EXPECT_DOUBLE_EQ(nearRight.maxY(), kVisible.maxY());
    const kpv::Rect nearOrigin = MiniWindowGeometry::fitFrame(kpv::Rect(0, 40, 100, 80), {600, 400}, kVisible, kMin);
    EXPECT_DOUBLE_EQ(nearOrigin.x(), kVisible.x());
    EXPECT_DOUBLE_EQ(nearOrigin.y(), kVisible.y());
}

TEST(MiniWindowGeometry, ZeroSizesKeepTheFrame)
{
    const kpv::Rect old(10, 50, 300, 200);
    EXPECT_EQ(MiniWindowGeometry::fitFrame(old, {0, 100}, kVisible, kMin), old);
    EXPECT_EQ(MiniWindowGeometry::zoomTargetSize({0, 0}, 1, 4, kVisible), kpv::Size());
}

TEST(MiniWindowGeometry, AnglesDensityAndPercent)
{
    EXPECT_EQ(MiniWindowGeometry::imagePointSize({2000, 1000}, 0, 2), (kpv::Size{1000, 500}));
    EXPECT_EQ(MiniWindowGeometry::imagePointSize({2000, 1000}, 90, 1), (kpv::Size{1000, 2000}));
    EXPECT_EQ(MiniWindowGeometry::imagePointSize({2000, 1000}, 180, 0), (kpv::Size{2000, 1000}));
    EXPECT_EQ(MiniWindowGeometry::zoomPercent(0.666), 66);
    const kpv::Size z = MiniWindowGeometry::zoomTargetSize({200, 100}, 0.5, 8, kVisible);
    EXPECT_DOUBLE_EQ(z.width, 1440);
    EXPECT_DOUBLE_EQ(z.height, 720);
}

} // namespace
