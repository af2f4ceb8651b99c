#include "Model/LMImageRotateAngle.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace {

void expectAngle(const LMImageRotateAngle &a, double r, double h, double v)
{
    EXPECT_EQ(a.angleRotate(), r);
    EXPECT_EQ(a.angleHorizontalFlip(), h);
    EXPECT_EQ(a.angleVerticalFlip(), v);
}

TEST(RotateAngle, RotateActionsTurnMirroredImagesTheOtherWay)
{
    const auto zero = LMImageRotateAngle::zeroAngle();
    expectAngle(zero.angleByRotateAction(RotateActionRight), 90, 0, 0);
    expectAngle(zero.angleByRotateAction(RotateActionLeft), -90, 0, 0);
    expectAngle(zero.angleByRotateAction(RotateActionLeft).normalizeAngle(), 270, 0, 0);

    const LMImageRotateAngle hFlipped(10, 180, 0);
    expectAngle(hFlipped.angleByRotateAction(RotateActionLeft), 100, 180, 0);
    expectAngle(hFlipped.angleByRotateAction(RotateActionRight), -80, 180, 0);
    const LMImageRotateAngle vFlipped(0, 0, 180);
    expectAngle(vFlipped.angleByRotateAction(RotateActionRight), -90, 0, 180);
    const LMImageRotateAngle both(0, 180, 180);
    expectAngle(both.angleByRotateAction(RotateActionLeft), -90, 180, 180);
    expectAngle(both.angleByRotateAction(RotateActionRight), 90, 180, 180);

    // Unknown actions give an equal value.
    EXPECT_EQ(hFlipped.angleByRotateAction(0), hFlipped);
    EXPECT_EQ(hFlipped.angleByRotateAction(5), hFlipped);
}

TEST(RotateAngle, SecondFlipCountsUntilNormalised)
{
    auto a = LMImageRotateAngle::zeroAngle().angleByRotateAction(RotateActionFlipHorizontal);
    EXPECT_TRUE(a.isHorizontalFlipped());
    EXPECT_FALSE(a.isVerticalFlipped());
    a = a.angleByRotateAction(RotateActionFlipHorizontal);
    expectAngle(a, 0, 360, 0);
    EXPECT_TRUE(a.isHorizontalFlipped());
    EXPECT_TRUE(a.isRotatedOrFlipped());
    EXPECT_FALSE(a.normalizeAngle().isHorizontalFlipped());
    EXPECT_FALSE(a.normalizeAngle().isRotatedOrFlipped());

    auto v = LMImageRotateAngle::zeroAngle().angleByRotateAction(RotateActionFlipVertical);
    expectAngle(v, 0, 0, 180);
    EXPECT_TRUE(LMImageRotateAngle(std::nan(""), 0, 0).isRotatedOrFlipped());
    EXPECT_TRUE(LMImageRotateAngle(0, std::nan(""), 0).isHorizontalFlipped());
}

TEST(RotateAngle, NormaliseTruncatesIntoWholeDegrees)
{
    expectAngle(LMImageRotateAngle(-450.7, 540, -180).normalizeAngle(), 270, 180, 180);
    expectAngle(LMImageRotateAngle(359.9, -0.5, -90).normalizeAngle(), 359, 0, 270);
    expectAngle(LMImageRotateAngle(450, 720, -720).normalizeAngle(), 90, 0, 0);
    // Values a 64-bit conversion cannot hold are reduced exactly; non-finite ones give 0.
    expectAngle(LMImageRotateAngle(1e300, std::numeric_limits<double>::infinity(), std::nan("")).normalizeAngle(),
                std::fmod(1e300, 360.0), 0, 0);
    EXPECT_FALSE(std::signbit(LMImageRotateAngle(-360, 0, 0).normalizeAngle().angleRotate()));
}

TEST(RotateAngle, EqualityIsExactAndBlendsAreLinear)
{
    EXPECT_NE(LMImageRotateAngle(0, 0, 0), LMImageRotateAngle(360, 0, 0));
    EXPECT_EQ(LMImageRotateAngle(90, 180, 0), LMImageRotateAngle(90, 180, 0));
    EXPECT_NE(LMImageRotateAngle(90, 180, 0), LMImageRotateAngle(90, 180, 1e-12));

    const LMImageRotateAngle begin(0, 0, 0), end(-90, 180, 360);
    EXPECT_EQ(end.middleAngleFromBeginAngle(begin, 0), begin);
    EXPECT_EQ(end.middleAngleFromBeginAngle(begin, 1), end);
    expectAngle(end.middleAngleFromBeginAngle(begin, 0.5), -45, 90, 180);
    expectAngle(LMImageRotateAngle(30, 0, 0).angleByIncreaseAngle(-400), -370, 0, 0);
}

} // namespace
