// A camera: placement (world position and orientation) gives the view matrix, the camera type and
// frustum values give the projection matrix. The camera looks along its local -Z axis.
#ifndef DOVE_CAMERA_H
#define DOVE_CAMERA_H

#include "DoveMath.h"
#include "DoveObject.h"

namespace Dove {

// 0 orthographic, 1 perspective.
using CameraType = int;

class Camera : public Object {
public:
    // The empty name gives "Element_" and the next object number. The aspect starts from the
    // scene manager's render size when one is set.
    explicit Camera(const std::string& name = std::string());

    void setPosition(const Vector3& p) { mPosition = p; mNeedViewUpdate = 1; }
    const Vector3& getPosition() const { return mPosition; }
    void setOrientation(const Quaternion& q) { mOrientation = q; mNeedViewUpdate = 1; }
    const Quaternion& getOrientation() const { return mOrientation; }
    void translate(const Vector3& v) { mPosition += v; mNeedViewUpdate = 1; }
    void setDirection(const Vector3& v);
    void setLookAt(const Vector3& target);
    void setUpVector(const Vector3&) {}  // the up vector follows from the orientation
    void rotate(const Quaternion& q);
    void rotate(const Vector3& axis, const Radian& angle);
    void pitch(const Radian& angle);
    void yaw(const Radian& angle);
    void roll(const Radian& angle);

    void setCameraType(CameraType type) { mCameraType = type; mNeedFrustumUpdate = 1; }
    CameraType getCameraType() const { return mCameraType; }
    void setNear(float n) { mNear = n; mNeedFrustumUpdate = 1; }
    float getNear() const { return mNear; }
    void setFar(float f) { mFar = f; mNeedFrustumUpdate = 1; }
    float getFar() const { return mFar; }
    void setFov(const Radian& fov) { mFov = fov; mNeedFrustumUpdate = 1; }
    Radian getFov() const { return mFov; }
    void setAspect(float a) { mAspect = a; mNeedFrustumUpdate = 1; }
    float getAspect() const { return mAspect; }
    void setRenderSize(float width, float height);
    float getRenderWidth() const { return mRenderWidth; }
    float getRenderHeight() const { return mRenderHeight; }
    void setNeedToUpdate(long value) { mNeedFrustumUpdate = mNeedViewUpdate = value; }

    float getLeft() const { return mLeft; }
    float getRight() const { return mRight; }
    float getTop() const { return mTop; }
    float getBottom() const { return mBottom; }

    const Matrix4& getViewMatrix();
    const Matrix4& getProjectionMatrix();
    void updateView();
    void updateFrustum();
    void calculateProjectionParameters(float* left, float* right, float* bottom, float* top) const;

    void setInitialState();
    void resetToInitialState();

private:
    float mLeft = 0.0f, mRight = 0.0f, mTop = 0.0f, mBottom = 0.0f;
    CameraType mCameraType = 1;
    long mNeedFrustumUpdate = 1;
    Vector3 mPosition, mInitialPosition;
    Quaternion mOrientation, mInitialOrientation;
    Matrix4 mViewMatrix;
    Radian mFov{0.7853982f};
    float mAspect = 1.0f;
    float mNear = 0.1f;
    float mFar = 1000.0f;
    Matrix4 mProjectionMatrix;
    float mRenderWidth = 0.0f, mRenderHeight = 0.0f;
    long mNeedViewUpdate = 1;
};

}  // namespace Dove

#endif
