// The pivot-based local transform that every scene element carries.
#ifndef DOVE_TRANSFORM_H
#define DOVE_TRANSFORM_H

#include "DoveMath.h"

namespace Dove {

class Transform {
public:
    Transform() = default;
    Transform(const Transform&) = default;
    Transform& operator=(const Transform& o);

    void translate(const Vector3& v) { mTranslate += v; mDirty = 1; }
    void rotate(const Vector3& v) { mRotate += v; mDirty = 1; }
    void scale(const Vector3& v) { mScale = mScale * v; mDirty = 1; }

    void setTranslate(const Vector3& v) { mTranslate = v; mDirty = 1; }
    void setRotate(const Vector3& v) { mRotate = v; mDirty = 1; }
    void setScale(const Vector3& v) { mScale = v; mDirty = 1; }
    void setScalePivot(const Vector3& v) { mScalePivot = v; mDirty = 1; }
    void setRotatePivot(const Vector3& v) { mRotatePivot = v; mDirty = 1; }
    void setScalePivotTranslate(const Vector3& v) { mScalePivotTranslate = v; mDirty = 1; }
    void setRotatePivotTranslate(const Vector3& v) { mRotatePivotTranslate = v; mDirty = 1; }
    void setShear(const Vector3& v) { mShear = v; mDirty = 1; }
    void setRotateInAxies(const Vector3& v) { mRotateInAxies = v; mDirty = 1; }

    const Vector3& getTranslate() const { return mTranslate; }
    const Vector3& getRotate() const { return mRotate; }
    const Vector3& getScale() const { return mScale; }
    const Vector3& getScalePivot() const { return mScalePivot; }
    const Vector3& getRotatePivot() const { return mRotatePivot; }
    const Vector3& getScalePivotTranslate() const { return mScalePivotTranslate; }
    const Vector3& getRotatePivotTranslate() const { return mRotatePivotTranslate; }
    const Vector3& getShear() const { return mShear; }
    const Vector3& getRotateInAxies() const { return mRotateInAxies; }

    // In place: adds translate, rotate, pivots and pivot translates; multiplies scale.
    Transform& operator+(const Transform& o);

    const Matrix4& getTransformMatrix();
    bool isIdentity() const { return mIsIdentity != 0; }
    bool isDirty() const { return mDirty != 0; }
    void setDirty() { mDirty = 1; }

private:
    void update();
    // Rotation R = Rz*Ry*Rx with angles within 1e-6 of zero taken as exactly zero.
    static Matrix3 eulerRotation(const Vector3& angles);

    Vector3 mTranslate;
    Vector3 mScale{1, 1, 1};
    Vector3 mRotate;
    Vector3 mScalePivot;
    Vector3 mRotatePivot;
    Vector3 mScalePivotTranslate;
    Vector3 mRotatePivotTranslate;
    Vector3 mShear;
    Vector3 mRotateInAxies;
    long mIsIdentity = 1;
    Matrix4 mMatrix;
    long mDirty = 0;
};

}  // namespace Dove

#endif
