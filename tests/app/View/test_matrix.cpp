#include "View/LMMatrix.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>

namespace {

void expectNear(const LMMatrix &x, const LMMatrix &y, double tol = 1e-9)
{
    EXPECT_NEAR(x.a, y.a, tol);
    EXPECT_NEAR(x.b, y.b, tol);
    EXPECT_NEAR(x.c, y.c, tol);
    EXPECT_NEAR(x.d, y.d, tol);
    EXPECT_NEAR(x.e, y.e, tol);
    EXPECT_NEAR(x.f, y.f, tol);
}

TEST(Matrix, QuarterTurnsAreExact)
{
    EXPECT_EQ(LMRotateDegreeMatrix(90), (LMMatrix{0, -1, 0, 1, 0, 0}));
    EXPECT_EQ(LMRotateDegreeMatrix(-90), (LMMatrix{0, 1, 0, -1, 0, 0}));
    EXPECT_EQ(LMRotateDegreeMatrix(180), (LMMatrix{-1, 0, 0, 0, -1, 0}));
    EXPECT_EQ(LMRotateDegreeMatrix(630), (LMMatrix{0, 1, 0, -1, 0, 0}));
    EXPECT_EQ(LMRotateDegreeMatrix(360), LMMatrix{});
    EXPECT_EQ(LMMatrixGetCosSinValueByDegree(-270), std::make_pair(0.0, 1.0));
    // A huge whole number is still reduced (10^20 = 280 mod 360).
    auto [c, s] = LMMatrixGetCosSinValueByDegree(1e20);
    EXPECT_NEAR(c, std::cos(280 * M_PI / 180), 1e-12);
    EXPECT_NEAR(s, std::sin(280 * M_PI / 180), 1e-12);
    auto [c45, s45] = LMMatrixGetCosSinValueByDegree(45.5);
    EXPECT_NEAR(c45, std::cos(45.5 * M_PI / 180), 1e-15);
    EXPECT_NEAR(s45, std::sin(45.5 * M_PI / 180), 1e-15);

    // A 4000 x 3000 frame turned a quarter is exactly 3000 x 4000.
    const QRectF r = LMTransformRect(LMRotateDegreeMatrix(90), QRectF(0, 0, 4000, 3000));
    EXPECT_EQ(r, QRectF(-3000, 0, 3000, 4000));
}

TEST(Matrix, AxisTurnsScaleOneCoordinate)
{
    EXPECT_EQ(LMRotateDegreeMatrixByAxisX(180), (LMMatrix{1, 0, 0, 0, -1, 0}));
    EXPECT_EQ(LMRotateDegreeMatrixByAxisY(90), (LMMatrix{0, 0, 0, 0, 1, 0}));
    const LMMatrix m = LMRotateDegreeMatrixByAxisY(60);
    EXPECT_NEAR(LMTransformPoint(m, {10, 7}).x(), 5, 1e-12);
    EXPECT_EQ(LMTransformPoint(m, {10, 7}).y(), 7);
}

TEST(Matrix, ProductAppliesRightOperandFirstAndInvertsInReverse)
{
    std::mt19937 rng(7);
    std::uniform_real_distribution<double> u(-5, 5);
    for (int i = 0; i < 200; ++i) {
        LMMatrix A{u(rng), u(rng), u(rng), u(rng), u(rng), u(rng)};
        LMMatrix B{u(rng), u(rng), u(rng), u(rng), u(rng), u(rng)};
        if (std::fabs(A.a * A.e - A.b * A.d) < 0.5 || std::fabs(B.a * B.e - B.b * B.d) < 0.5)
            continue;
        const QPointF p(u(rng), u(rng));
        const QPointF viaProduct = LMTransformPoint(LMMultiplyMatrices(A, B), p);
        const QPointF stepwise = LMTransformPoint(A, LMTransformPoint(B, p));
        EXPECT_NEAR(viaProduct.x(), stepwise.x(), 1e-9);
        EXPECT_NEAR(viaProduct.y(), stepwise.y(), 1e-9);

        expectNear(LMInverseMatrix(LMMultiplyMatrices(A, B)), LMMultiplyMatrices(LMInverseMatrix(B), LMInverseMatrix(A)), 1e-7);
        expectNear(LMMultiplyMatrices(A, LMInverseMatrix(A)), LMMatrix{}, 1e-9);
    }
}

TEST(Matrix, TransformRectBoundsAllCorners)
{
    const LMMatrix shift{1, 0, 5, 0, 1, -3};
    EXPECT_EQ(LMTransformRect(shift, QRectF(1, 2, 10, 20)), QRectF(6, -1, 10, 20));
    const QRectF r = LMTransformRect(LMRotateDegreeMatrix(45), QRectF(0, 0, 1, 1));
    EXPECT_NEAR(r.width(), std::sqrt(2.0), 1e-12);
    EXPECT_NEAR(r.height(), std::sqrt(2.0), 1e-12);
    EXPECT_NEAR(r.x(), -std::sqrt(0.5), 1e-12);
    EXPECT_NEAR(r.y(), 0, 1e-12);
}

} // namespace
