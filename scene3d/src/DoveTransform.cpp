#include "DoveTransform.h"

namespace Dove {

Transform& Transform::operator=(const Transform& o) {
    mTranslate = o.mTranslate;
    mScale = o.mScale;
    mRotate = o.mRotate;
    mScalePivot = o.mScalePivot;
    mRotatePivot = o.mRotatePivot;
    mScalePivotTranslate = o.mScalePivotTranslate;
    mRotatePivotTranslate = o.mRotatePivotTranslate;
    mShear = o.mShear;
    mRotateInAxies = o.mRotateInAxies;
    mIsIdentity = o.mIsIdentity;
    mMatrix = o.mMatrix;
    mDirty = 1;
    return *this;
}

Transform& Transform::operator+(const Transform& o) {
    mTranslate += o.mTranslate;
    mRotate += o.mRotate;
    mScalePivot += o.mScalePivot;
    mRotatePivot += o.mRotatePivot;
    mScalePivotTranslate += o.mScalePivotTranslate;
    mRotatePivotTranslate += o.mRotatePivotTranslate;
    mScale = mScale * o.mScale;
    mDirty = 1;
    return *this;
}

const Matrix4& Transform::getTransformMatrix() {
    if (mDirty) update();
    return mMatrix;
}

static bool angleIsZero(float a) { return a >= -1e-6f && a <= 1e-6f; }

Matrix3 Transform::eulerRotation(const Vector3& a) {
    // Axes whose angle counts as zero contribute the identity without evaluating sine or cosine.
    Matrix3 r;
    if (!angleIsZero(a.x)) {
        float c = std::cos(a.x), s = std::sin(a.x);
        r = Matrix3(1, 0, 0, 0, c, -s, 0, s, c);
    }
    if (!angleIsZero(a.y)) {
        float c = std::cos(a.y), s = std::sin(a.y);
        r = Matrix3(c, 0, s, 0, 1, 0, -s, 0, c) * r;
    }
    if (!angleIsZero(a.z)) {
        float c = std::cos(a.z), s = std::sin(a.z);
        r = Matrix3(c, -s, 0, s, c, 0, 0, 0, 1) * r;
    }
    return r;
}

static void writeUpper(Matrix4& m, const Matrix3& r, const Vector3& s) {
    for (int row = 0; row < 3; ++row) {
        m.m[4 * row + 0] = r.m[3 * row + 0] * s.x;
        m.m[4 * row + 1] = r.m[3 * row + 1] * s.y;
        m.m[4 * row + 2] = r.m[3 * row + 2] * s.z;
    }
}

void Transform::update() {
    mMatrix = Matrix4::IDENTITY;
    mIsIdentity = 1;
    const bool noPivots = mScalePivot.isZero() && mRotatePivot.isZero() && mScalePivotTranslate.isZero() &&
                          mRotatePivotTranslate.isZero();
    if (noPivots) {
        if (!mTranslate.isZero()) {
            mMatrix.setTrans(mTranslate);
            mIsIdentity = 0;
        }
        if (mRotate.isZero() && mScale.isOne()) return;  // stays dirty: recomputed alike next time
        mIsIdentity = 0;
        writeUpper(mMatrix, eulerRotation(mRotate), mScale);
        mDirty = 0;
        return;
    }

    // Pivot form: scale about the scale pivot, move by its translate, rotate about the rotate
    // pivot, move by its translate and the translate.
    Vector3 t;
    if (!mRotatePivotTranslate.isZero() || !mTranslate.isZero()) {
        t = mRotatePivotTranslate + mTranslate;
        mIsIdentity = 0;
    }
    const Vector3 oneMinusS = Vector3::ONE - mScale;
    if (!mScale.isOne()) {
        mIsIdentity = 0;
        if (mRotate.isZero()) {
            writeUpper(mMatrix, Matrix3::IDENTITY, mScale);
            t += oneMinusS * mScalePivot + mScalePivotTranslate;
        } else {
            Matrix3 r = eulerRotation(mRotate);
            writeUpper(mMatrix, r, mScale);
            t += r * (mScalePivotTranslate - mRotatePivot + oneMinusS * mScalePivot) + mRotatePivot;
        }
    } else if (mRotate.isZero()) {
        if (!mScalePivotTranslate.isZero()) mIsIdentity = 0;
        t += mScalePivotTranslate;
    } else {
        mIsIdentity = 0;
        Matrix3 r = eulerRotation(mRotate);
        writeUpper(mMatrix, r, Vector3::ONE);
        t += r * (mScalePivotTranslate - mRotatePivot) + mRotatePivot;
    }
    mMatrix.setTrans(t);
}

}  // namespace Dove
