#pragma once

// A small two-dimensional affine matrix library for mapping between image, view and panel
// coordinates: x' = a*x + b*y + c, y' = d*x + e*y + f (the bottom row 0 0 1 is implied).

#include <QPointF>
#include <QRectF>
#include <utility>

struct LMMatrix {
    double a = 1, b = 0, c = 0;
    double d = 0, e = 1, f = 0;

    bool operator==(const LMMatrix &) const = default;
};

// A x B: B is applied first, then A.
LMMatrix LMMultiplyMatrices(const LMMatrix &A, const LMMatrix &B);
// The inverse; callers pass only invertible matrices (a singular one gives non-finite values).
LMMatrix LMInverseMatrix(const LMMatrix &M);
QPointF LMTransformPoint(const LMMatrix &M, const QPointF &p);
// The smallest upright rectangle holding the four mapped corners of r.
QRectF LMTransformRect(const LMMatrix &M, const QRectF &r);
// (cos, sin) of an angle in degrees; whole-number angles are reduced to 0..359 first and the
// multiples of 90 give exact 0, 1 and -1, so quarter turns of pixel sizes stay exact.
std::pair<double, double> LMMatrixGetCosSinValueByDegree(double degree);
// Counter-clockwise rotation by degree in a y-up system: (cos, -sin, 0, sin, cos, 0).
LMMatrix LMRotateDegreeMatrix(double degree);
// The flat picture of a turn about the x axis: y scaled by cos(degree).
LMMatrix LMRotateDegreeMatrixByAxisX(double degree);
// The flat picture of a turn about the y axis: x scaled by cos(degree).
LMMatrix LMRotateDegreeMatrixByAxisY(double degree);
