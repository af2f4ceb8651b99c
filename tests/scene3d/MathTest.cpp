#include <gtest/gtest.h>

#include <cmath>

#include "DoveMath.h"
#include "DoveTransform.h"

using namespace Dove;

namespace {

void expectVec(const Vector3& v, float x, float y, float z, float tol = 1e-5f) {
    EXPECT_NEAR(v.x, x, tol);
    EXPECT_NEAR(v.y, y, tol);
    EXPECT_NEAR(v.z, z, tol);
}

// A float model of the pivot transform: scale about the scale pivot, move by its translate,
// rotate about the rotate pivot (X, then Y, then Z), move by its translate and the translate.
Vector3 modelPoint(const Vector3& p, const Vector3& T, const Vector3& S, const Vector3& A, const Vector3& SP,
                   const Vector3& RP, const Vector3& SPT, const Vector3& RPT) {
    Vector3 q = (p - SP) * S + SP + SPT;
    q = q - RP;
    auto rx = [](Vector3 v, float a) { return Vector3(v.x, std::cos(a) * v.y - std::sin(a) * v.z, std::sin(a) * v.y + std::cos(a) * v.z); };
    auto ry = [](Vector3 v, float a) { return Vector3(std::cos(a) * v.x + std::sin(a) * v.z, v.y, -std::sin(a) * v.x + std::cos(a) * v.z); };
    auto rz = [](Vector3 v, float a) { return Vector3(std::cos(a) * v.x - std::sin(a) * v.y, std::sin(a) * v.x + std::cos(a) * v.y, v.z); };
    q = rz(ry(rx(q, A.x), A.y), A.z);
    return q + RP + RPT + T;
}

Vector3 applyAffine(const Matrix4& m, const Vector3& p) {
    Vector4 r = m * Vector4(p, 1.0f);
    return {r.x, r.y, r.z};
}

}  // namespace

TEST(Vector3Test, NormaliseAndTolerances) {
    Vector3 z(0, 0, 0);
    z.normalise();
    EXPECT_EQ(z, Vector3::ZERO);
    Vector3 v(3, 0, 4);
    v.normalise();
    expectVec(v, 0.6f, 0, 0.8f);
    EXPECT_TRUE(Vector3(1e-6f, -1e-6f, 0).isZero());
    EXPECT_FALSE(Vector3(1.1e-6f, 0, 0).isZero());
    EXPECT_TRUE(Vector3(0.999999f, 1.000001f, 1).isOne());
    EXPECT_FALSE(Vector3(0.9999f, 1, 1).isOne());
    expectVec(Vector3::minimize({1, 5, -2}, {3, 2, -1}), 1, 2, -2);
    expectVec(Vector3::maximize({1, 5, -2}, {3, 2, -1}), 3, 5, -1);
}

TEST(Vector3Test, RotationToOppositeFallsBackToYAxis) {
    Quaternion q = Vector3(1, 0, 0).getRotationTo(Vector3(-1, 0, 0));
    // Half a turn about (0, 0, -1): UNIT_X x (1,0,0) is zero, so UNIT_Y x (1,0,0) = (0,0,-1).
    EXPECT_NEAR(q.w, 0.0f, 1e-6f);
    EXPECT_NEAR(q.z, -1.0f, 1e-6f);
    expectVec(q * Vector3(1, 0, 0), -1, 0, 0);
    EXPECT_EQ(Vector3(0, 1, 0).getRotationTo(Vector3(0, 2, 0)), Quaternion::IDENTITY);
    Quaternion r = Vector3(1, 0, 0).getRotationTo(Vector3(0, 1, 0));
    expectVec(r * Vector3(1, 0, 0), 0, 1, 0);
}

TEST(QuaternionTest, AngleAxisMatrixAndProducts) {
    Quaternion q;
    q.fromAngleAxis(Radian(Math::HALF_PI), Vector3::UNIT_X);
    expectVec(q * Vector3(0, 0, 1), 0, -1, 0);
    Matrix3 m;
    q.toRotationMatrix(m);
    expectVec(m * Vector3(0, 0, 1), 0, -1, 0);
    Quaternion back;
    back.fromRotationMatrix(m);
    EXPECT_NEAR(back.x, q.x, 1e-6f);
    EXPECT_NEAR(back.w, q.w, 1e-6f);

    // The product applies its right operand first.
    Quaternion qz;
    qz.fromAngleAxis(Radian(Math::HALF_PI), Vector3::UNIT_Z);
    expectVec((qz * q) * Vector3(0, 0, 1), 1, 0, 0);
    expectVec((q * qz) * Vector3(0, 0, 1), 0, -1, 0);

    // fromRotationMatrix through its non-positive-trace branch: half a turn about Y.
    Quaternion half;
    half.fromAngleAxis(Radian(Math::PI), Vector3::UNIT_Y);
    Matrix3 hm;
    half.toRotationMatrix(hm);
    Quaternion hb;
    hb.fromRotationMatrix(hm);
    expectVec(hb * Vector3(1, 0, 0), -1, 0, 0);

    // Turns between 120 and 180 degrees have a negative trace: the matrix is read through its
    // largest diagonal entry. Every axis and several such angles must come back as the same turn.
    const Vector3 turnAxes[] = {Vector3::UNIT_X, Vector3::UNIT_Y, Vector3::UNIT_Z, Vector3(1, 2, -2) * (1.0f / 3.0f),
                                Vector3(-2, 1, 2) * (1.0f / 3.0f)};
    for (const Vector3& axis : turnAxes) {
        for (float degrees : {121.0f, 135.0f, 150.0f, 170.0f, 179.0f}) {
            Quaternion turn;
            turn.fromAngleAxis(Radian(degrees * Math::PI / 180.0f), axis);
            Matrix3 tm;
            turn.toRotationMatrix(tm);
            Quaternion read;
            read.fromRotationMatrix(tm);
            for (const Vector3& v : {Vector3(1, 0, 0), Vector3(0, 1, 0), Vector3(0, 0, 1), Vector3(0.3f, -0.5f, 0.8f)}) {
                const Vector3 want = turn * v, got = read * v;
                EXPECT_NEAR(got.x, want.x, 1e-5f) << degrees;
                EXPECT_NEAR(got.y, want.y, 1e-5f) << degrees;
                EXPECT_NEAR(got.z, want.z, 1e-5f) << degrees;
            }
        }
    }

    Vector3 axes[3];
    q.toAxes(axes);
    expectVec(axes[1], 0, 0, 1);
    Quaternion fromAxes;
    fromAxes.fromAxes(axes[0], axes[1], axes[2]);
    expectVec(fromAxes * Vector3(0, 1, 0), 0, 0, 1);

    Quaternion zero = Quaternion::ZERO;
    zero.normalise();  // must not turn into NaNs
    EXPECT_EQ(zero, Quaternion::ZERO);
}

TEST(MatrixTest, ProductsComparisonsAndTransforms) {
    Matrix4 t;
    t.setTrans(Vector3(5, 5, 5));
    expectVec(t * Vector3(1, 2, 3), 1, 2, 3);  // directions ignore translation
    expectVec(applyAffine(t, Vector3(1, 2, 3)), 6, 7, 8);
    Matrix4 a(1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16);
    EXPECT_EQ(a.multiply(Matrix4::IDENTITY), a);
    EXPECT_EQ(a.Transpose()[0][1], 5.0f);
    EXPECT_EQ(a.add(-a), Matrix4::ZERO);
    EXPECT_EQ(a.subtract(a), Matrix4::ZERO);
    Matrix4 nan = a;
    nan.m[7] = NAN;
    EXPECT_NE(nan, nan);
    expectVec(Vector3(1, 0, 0) * a, 1, 2, 3);

    Quaternion q;
    q.fromAngleAxis(Radian(Math::HALF_PI), Vector3::UNIT_Z);
    Matrix4 m;
    m.makeTransform(Vector3(1, 2, 3), Vector3(2, 2, 2), q);
    expectVec(applyAffine(m, Vector3(1, 0, 0)), 1, 4, 3);

    Matrix3 b(1, 2, 3, 4, 5, 6, 7, 8, 10);
    EXPECT_EQ((b * Matrix3::IDENTITY), b);
    EXPECT_EQ((b - b), Matrix3::ZERO);
    EXPECT_EQ(b.Transpose()[2][0], 3.0f);
    EXPECT_EQ((-b)[2][2], -10.0f);
    Vector4 c = Matrix4::CLIPSPACE2IMAGESPACE * Vector4(1, 1, 0, 1);
    EXPECT_FLOAT_EQ(c.x, 1.0f);
    EXPECT_FLOAT_EQ(c.y, 0.0f);
}

TEST(MathTest, ClampedInversesAndViews) {
    EXPECT_EQ(Math::ACos(1.0000001f), 0.0f);
    EXPECT_EQ(Math::ASin(-2.0f), -1.5707964f);
    EXPECT_EQ(Math::ACos(-3.0f), 3.1415927f);
    EXPECT_FLOAT_EQ(Math::Length3D({0, 0, 0}, {3, 4, 0}), 5.0f);
    expectVec(Math::RadianToDegree(Math::DegreeToRadian({90, 180, -45})), 90, 180, -45, 1e-4f);

    Quaternion q;
    q.fromAngleAxis(Radian(0.3f), Vector3(0, 1, 0));
    Matrix4 view = Math::makeViewMatrix(Vector3(1, 2, 3), q);
    Matrix4 place;
    place.makeTransform(Vector3(1, 2, 3), Vector3::ONE, q);
    Matrix4 product = view.multiply(place);
    for (int i = 0; i < 16; ++i) EXPECT_NEAR(product.m[i], Matrix4::IDENTITY.m[i], 1e-5f);

    Matrix4 look = Math::makeViewMatrix(Vector3(0, 0, 5), Vector3(0, 0, 0), Vector3(0, 1, 0));
    expectVec(applyAffine(look, Vector3(0, 0, 0)), 0, 0, -5);
}

TEST(TransformTest, ShortFormAndTolerances) {
    Transform t;
    EXPECT_TRUE(t.isIdentity());
    t.setRotate(Vector3(0, 0, 5e-7f));
    EXPECT_EQ(t.getTransformMatrix(), Matrix4::IDENTITY);
    EXPECT_TRUE(t.isIdentity());

    t.setRotate(Vector3(0, 0, Math::HALF_PI));
    t.setTranslate(Vector3(1, 0, 0));
    expectVec(applyAffine(t.getTransformMatrix(), Vector3(1, 0, 0)), 1, 1, 0);
    EXPECT_FALSE(t.isIdentity());

    Transform s;
    s.setScale(Vector3(2, 2, 2));
    s.setScalePivot(Vector3(1, 0, 0));
    expectVec(s.getTransformMatrix().getTrans(), -1, 0, 0);
    expectVec(applyAffine(s.getTransformMatrix(), Vector3(1, 0, 0)), 1, 0, 0);
}

TEST(TransformTest, PivotFormMatchesFloatModel) {
    // Every combination of zero and non-zero parts against the point-by-point model.
    const Vector3 T(1, -2, 0.5f), S(2, 0.5f, 3), A(0.3f, -0.7f, 1.1f), SP(0.5f, 1, -1), RP(-1, 0.25f, 2),
        SPT(0.1f, 0.2f, 0.3f), RPT(-0.4f, 0, 0.6f);
    const Vector3 points[3] = {{0, 0, 0}, {1, 2, 3}, {-2, 0.5f, 1}};
    for (int mask = 0; mask < 128; ++mask) {
        Vector3 t = mask & 1 ? T : Vector3::ZERO, s = mask & 2 ? S : Vector3::ONE, a = mask & 4 ? A : Vector3::ZERO,
                sp = mask & 8 ? SP : Vector3::ZERO, rp = mask & 16 ? RP : Vector3::ZERO,
                spt = mask & 32 ? SPT : Vector3::ZERO, rpt = mask & 64 ? RPT : Vector3::ZERO;
        Transform tr;
        tr.setTranslate(t);
        tr.setScale(s);
        tr.setRotate(a);
        tr.setScalePivot(sp);
        tr.setRotatePivot(rp);
        tr.setScalePivotTranslate(spt);
        tr.setRotatePivotTranslate(rpt);
        tr.setShear(Vector3(9, 9, 9));  // never enters the matrix
        const Matrix4& m = tr.getTransformMatrix();
        for (const Vector3& p : points) {
            SCOPED_TRACE(mask);
            Vector3 expect = modelPoint(p, t, s, a, sp, rp, spt, rpt);
            expectVec(applyAffine(m, p), expect.x, expect.y, expect.z, 1e-4f);
        }
        EXPECT_EQ(m.m[12], 0.0f);
        EXPECT_EQ(m.m[15], 1.0f);
    }
}

TEST(TransformTest, AccumulateAndCopyMarkDirty) {
    Transform a, b;
    a.setTranslate(Vector3(1, 1, 1));
    a.setScale(Vector3(2, 2, 2));
    b.setTranslate(Vector3(1, 2, 3));
    b.setScale(Vector3(3, 1, 1));
    a + b;
    expectVec(a.getTranslate(), 2, 3, 4);
    expectVec(a.getScale(), 6, 2, 2);
    expectVec(a.getTransformMatrix().getTrans(), 2, 3, 4);
    Transform c;
    c.getTransformMatrix();
    c = a;
    EXPECT_TRUE(c.isDirty());
    EXPECT_FLOAT_EQ(c.getTransformMatrix()[0][0], 6.0f);
}
