#include "DoveCamera.h"

#include "DoveSceneManager.h"

namespace Dove {

Camera::Camera(const std::string& name) {
    nameObject(name, "Element_");
    if (SceneManager* sm = SceneManager::peekSingleton()) {
        // A zero height would make the aspect infinite; keep the default until a size is set.
        if (sm->getRenderHeight() != 0.0f) mAspect = sm->getRenderWidth() / sm->getRenderHeight();
        mRenderWidth = sm->getRenderWidth();
        mRenderHeight = sm->getRenderHeight();
    }
}

void Camera::setDirection(const Vector3& v) {
    if (v.x == 0.0f && v.y == 0.0f && v.z == 0.0f) return;
    Vector3 zAdjust = -v;
    zAdjust.normalise();
    updateView();
    Vector3 axes[3];
    mOrientation.toAxes(axes);
    Quaternion turn;
    if ((axes[2] + zAdjust).squaredLength() < 0.0001f) {
        // Straight behind: half a turn about the up axis.
        turn.fromAngleAxis(Radian(Math::PI), axes[1]);
    } else {
        turn = axes[2].getRotationTo(zAdjust);
    }
    mOrientation = turn * mOrientation;
    mNeedViewUpdate = 1;
}

void Camera::setLookAt(const Vector3& target) {
    updateView();
    setDirection(target - mPosition);
}

void Camera::rotate(const Quaternion& q) {
    Quaternion n = q;
    n.normalise();
    mOrientation = n * mOrientation;
    mNeedViewUpdate = 1;
}

void Camera::rotate(const Vector3& axis, const Radian& angle) {
    Quaternion q;
    q.fromAngleAxis(angle, axis);
    rotate(q);
}

void Camera::pitch(const Radian& angle) { rotate(mOrientation * Vector3::UNIT_X, angle); }
void Camera::yaw(const Radian& angle) { rotate(mOrientation * Vector3::UNIT_Y, angle); }
void Camera::roll(const Radian& angle) { rotate(mOrientation * Vector3::UNIT_Z, angle); }

void Camera::setRenderSize(float width, float height) {
    mRenderWidth = width;
    mRenderHeight = height;
    if (height != 0.0f) mAspect = width / height;
    calculateProjectionParameters(&mLeft, &mRight, &mBottom, &mTop);
    mNeedFrustumUpdate = 1;
}

const Matrix4& Camera::getViewMatrix() {
    updateView();
    return mViewMatrix;
}

const Matrix4& Camera::getProjectionMatrix() {
    updateFrustum();
    return mProjectionMatrix;
}

void Camera::updateView() {
    if (!mNeedViewUpdate) return;
    mViewMatrix = Math::makeViewMatrix(mPosition, mOrientation);
    mNeedViewUpdate = 0;
}

void Camera::calculateProjectionParameters(float* left, float* right, float* bottom, float* top) const {
    if (mCameraType == 0) {
        *left = -0.5f * mRenderWidth;
        *right = 0.5f * mRenderWidth;
        *bottom = -0.5f * mRenderHeight;
        *top = 0.5f * mRenderHeight;
    } else if (mCameraType == 1) {
        float t = std::tan(mFov.value * 0.5f);
        *left = -t * mAspect * mNear;
        *right = -*left;
        *bottom = -t * mNear;
        *top = -*bottom;
    }
}

void Camera::updateFrustum() {
    if (!mNeedFrustumUpdate) return;
    calculateProjectionParameters(&mLeft, &mRight, &mBottom, &mTop);
    const float w = mRight - mLeft, h = mTop - mBottom, d = mFar - mNear;
    Matrix4 p = Matrix4::ZERO;
    if (mCameraType == 0) {
        p[0][0] = 2.0f / w;
        p[1][1] = 2.0f / h;
        p[0][2] = -(mRight + mLeft) / d;
        p[1][2] = -(mTop + mBottom) / h;
        p[3][3] = 1.0f;
        if (mFar != 0.0f) {
            p[2][2] = -2.0f / d;
            p[2][3] = -1.0f;
        } else {
            p[2][2] = 1e-6f;
            p[2][3] = -1.0f;
        }
    } else if (mCameraType == 1) {
        p[0][0] = 2.0f * mNear / w;
        p[1][1] = 2.0f * mNear / h;
        p[0][2] = (mRight + mLeft) / w;
        p[1][2] = (mTop + mBottom) / h;
        p[3][2] = -1.0f;
        if (mFar != 0.0f) {
            p[2][2] = -1.0f;
            p[2][3] = -2.0f * mFar * mNear / d;
        } else {
            p[2][2] = -1.0f;
            p[2][3] = -2.0f * mNear;
        }
    }
    mProjectionMatrix = p;
    mNeedFrustumUpdate = 0;
}

void Camera::setInitialState() {
    mInitialPosition = mPosition;
    mInitialOrientation = mOrientation;
}

void Camera::resetToInitialState() {
    mPosition = mInitialPosition;
    mOrientation = mInitialOrientation;
    mNeedViewUpdate = 1;
}

}  // namespace Dove
