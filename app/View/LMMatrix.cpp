#include "View/LMMatrix.h"

#include <algorithm>
#include <cmath>
#include <numbers>

LMMatrix LMMultiplyMatrices(const LMMatrix &A, const LMMatrix &B)
{
    LMMatrix m;
    m.a = A.a * B.a + A.b * B.d;
    m.b = A.a * B.b + A.b * B.e;
    m.c = A.a * B.c + A.b * B.f + A.c;
    m.d = A.d * B.a + A.e * B.d;
    m.e = A.d * B.b + A.e * B.e;
    m.f = A.d * B.c + A.e * B.f + A.f;
    return m;
}

LMMatrix LMInverseMatrix(const LMMatrix &M)
{
    const double det = M.a * M.e - M.b * M.d;
    LMMatrix r;
    r.a = M.e / det;
    r.b = -M.b / det;
    r.c = (M.b * M.f - M.c * M.e) / det;
    r.d = -M.d / det;
    r.e = M.a / det;
    r.f = (M.c * M.d - M.a * M.f) / det;
    return r;
}

QPointF LMTransformPoint(const LMMatrix &M, const QPointF &p)
{
    return {M.a * p.x() + M.b * p.y() + M.c, M.d * p.x() + M.e * p.y() + M.f};
}

QRectF LMTransformRect(const LMMatrix &M, const QRectF &r)
{
    const QPointF pts[4] = {
        LMTransformPoint(M, {r.x(), r.y()}),
        LMTransformPoint(M, {r.x() + r.width(), r.y() + r.height()}),
        LMTransformPoint(M, {r.x(), r.y() + r.height()}),
        LMTransformPoint(M, {r.x() + r.width(), r.y()}),
    };
    double minX = pts[0].x(), maxX = pts[0].x(), minY = pts[0].y(), maxY = pts[0].y();
    for (const QPointF &p : pts) {
        minX = std::min(minX, p.x());
        maxX = std::max(maxX, p.x());
        minY = std::min(minY, p.y());
        maxY = std::max(maxY, p.y());
    }
    return {minX, minY, maxX - minX, maxY - minY};
}

std::pair<double, double> LMMatrixGetCosSinValueByDegree(double degree)
{
    // Whole-number angles are reduced exactly (fmod of an integral double is exact, and avoids the
    // undefined conversion of huge values to an integer type).
    if (std::isfinite(degree) && std::floor(degree) == degree) {
        double m = std::fmod(degree, 360.0);
        if (m < 0)
            m += 360.0;
        if (m == 0)
            return {1.0, 0.0};
        if (m == 90)
            return {0.0, 1.0};
        if (m == 180)
            return {-1.0, 0.0};
        if (m == 270)
            return {0.0, -1.0};
        const double rad = m * std::numbers::pi / 180.0;
        return {std::cos(rad), std::sin(rad)};
    }
    const double rad = degree * std::numbers::pi / 180.0;
    return {std::cos(rad), std::sin(rad)};
}

LMMatrix LMRotateDegreeMatrix(double degree)
{
    const auto [c, s] = LMMatrixGetCosSinValueByDegree(degree);
    return {c, -s, 0, s, c, 0};
}

LMMatrix LMRotateDegreeMatrixByAxisX(double degree)
{
    const auto [c, s] = LMMatrixGetCosSinValueByDegree(degree);
    (void)s;
    return {1, 0, 0, 0, c, 0};
}

LMMatrix LMRotateDegreeMatrixByAxisY(double degree)
{
    const auto [c, s] = LMMatrixGetCosSinValueByDegree(degree);
    (void)s;
    return {c, 0, 0, 0, 1, 0};
}
