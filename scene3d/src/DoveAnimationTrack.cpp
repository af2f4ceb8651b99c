#include "DoveAnimationTrack.h"

#include <cmath>

#include "DoveAnimation.h"
#include "DoveCamera.h"
#include "DoveElement.h"
#include "DoveMaterial.h"
#include "DoveMesh.h"
#include "DoveNode.h"

namespace Dove {

// ---- Key frames ----

void TransformKeyFrame::setTranslate(const Vector3& v) {
    mTranslate = v;
    if (mTrack) mTrack->keyFrameDataChanged();
}

void TransformKeyFrame::setScale(const Vector3& v) {
    mScale = v;
    if (mTrack) mTrack->keyFrameDataChanged();
}

void TransformKeyFrame::setRotation(const Vector3& v) {
    mRotation = v;
    if (mTrack) mTrack->keyFrameDataChanged();
}

float TransformKeyFrame::component(int i) const {
    if (i < 3) return mTranslate[i];
    if (i < 6) return mRotation[i - 3];
    return mScale[i - 6];
}

void TransformKeyFrame::setComponent(int i, float v) {
    if (i < 3)
        mTranslate[i] = v;
    else if (i < 6)
        mRotation[i - 3] = v;
    else
        mScale[i - 6] = v;
}

void VisibilityKeyFrame::setVisible(long v) {
    mVisible = v;
    if (mTrack) mTrack->keyFrameDataChanged();
}

// ---- Tracks ----

AnimationTrack::~AnimationTrack() {
    for (KeyFrame* k : mKeyFrames) delete k;
}

KeyFrame* AnimationTrack::createKeyFrame(float time) {
    KeyFrame* k = createKeyFrameImpl(time);
    // After every key frame whose time is not greater: equal times keep their creation order.
    auto it = mKeyFrames.begin();
    while (it != mKeyFrames.end() && !(time < (*it)->getTime())) ++it;
    mKeyFrames.insert(it, k);
    keyFrameDataChanged();
    return k;
}

void AnimationTrack::bindElement(Element* element) {
    mBindType = element ? BT_ELEMENT : BT_NONE;
    mTarget = element;
    if (element) element->setInitialState();
}

void AnimationTrack::bindNode(Node* node) {
    mBindType = node ? BT_NODE : BT_NONE;
    mTarget = node;
    if (node) node->setInitialState();
}

void AnimationTrack::bindCamera(Camera* camera) {
    mBindType = camera ? BT_CAMERA : BT_NONE;
    mTarget = camera;
    if (camera) camera->setInitialState();
}

void AnimationTrack::bindMaterial(Material* material) {
    mBindType = material ? BT_MATERIAL : BT_NONE;
    mTarget = material;
    if (material) material->setInitialState();
}

Element* AnimationTrack::getBindedElement() const {
    return mBindType == BT_ELEMENT ? static_cast<Element*>(mTarget) : nullptr;
}
Node* AnimationTrack::getBindedNode() const { return mBindType == BT_NODE ? static_cast<Node*>(mTarget) : nullptr; }
Camera* AnimationTrack::getBindedCamera() const {
    return mBindType == BT_CAMERA ? static_cast<Camera*>(mTarget) : nullptr;
}
Material* AnimationTrack::getBindedMaterial() const {
    return mBindType == BT_MATERIAL ? static_cast<Material*>(mTarget) : nullptr;
}

void AnimationTrack::resetBindedTarget() {
    if (Element* e = getBindedElement()) e->resetToInitialState();
    if (Camera* c = getBindedCamera()) c->resetToInitialState();
    if (Node* n = getBindedNode()) n->resetToInitialState();
    if (Material* m = getBindedMaterial()) m->resetToInitialState();
}

float AnimationTrack::getKeyFrameAtTime(float t, KeyFrame** previous, KeyFrame** next, float* nextTimeOut) {
    *previous = *next = nullptr;
    if (mKeyFrames.empty()) return 0.0f;
    const float d = mAnimation ? mAnimation->getDuration() : 0.0f;
    if (t > d && d > 0.0f) {
        // Subtracting the duration until t <= d, done in one step.
        t = std::fmod(t, d);
        if (t == 0.0f) t = d;
    }
    size_t i = 0;
    while (i < mKeyFrames.size() && mKeyFrames[i]->getTime() < t) ++i;
    float nextTime;
    if (i == mKeyFrames.size()) {
        *previous = *next = mKeyFrames.back();
        nextTime = mKeyFrames.back()->getTime() + d;
    } else {
        *next = mKeyFrames[i];
        nextTime = (*next)->getTime();
        *previous = (i > 0 && (*next)->getTime() > t) ? mKeyFrames[i - 1] : *next;
    }
    if (nextTimeOut) *nextTimeOut = nextTime;
    const float prevTime = (*previous)->getTime();
    if (prevTime == nextTime) return 0.0f;
    return (t - prevTime) / (nextTime - prevTime);
}

static float lerp(float a, float b, float r) { return a + (b - a) * r; }

void TransformAnimationTrack::getInterpolatedKeyFrame(float time, KeyFrame* outFrame) {
    auto* out = static_cast<TransformKeyFrame*>(outFrame);
    KeyFrame *p = nullptr, *n = nullptr;
    float r = getKeyFrameAtTime(time, &p, &n);
    if (!p) return;
    auto* a = static_cast<TransformKeyFrame*>(p);
    auto* b = static_cast<TransformKeyFrame*>(n);
    for (int c = 0; c < 9; ++c) out->setComponent(c, r == 0.0f ? a->component(c) : lerp(a->component(c), b->component(c), r));
}

void TransformAnimationTrack::apply(float time) {
    if (mKeyFrames.empty() || mBindType == BT_NONE) return;
    TransformKeyFrame k(this, time);
    getInterpolatedKeyFrame(time, &k);
    if (Element* e = getBindedElement()) {
        Transform& t = e->getTransform();
        const Vector3 cur[3] = {t.getTranslate(), t.getRotate(), t.getScale()};
        Vector3 v[3];
        for (int c = 0; c < 9; ++c) v[c / 3][c % 3] = mAnimated[c] ? k.component(c) : cur[c / 3][c % 3];
        t.setTranslate(v[0]);
        t.setRotate(v[1]);
        t.setScale(v[2]);
    } else if (Camera* cam = getBindedCamera()) {
        cam->setPosition(k.getTranslate());
        const Vector3& r = k.getRotation();
        if (!(r.x == 0.0f && r.y == 0.0f && r.z == 0.0f)) {
            cam->setOrientation(Quaternion::IDENTITY);
            cam->pitch(Radian(r.x));
            cam->yaw(Radian(r.y));
            cam->roll(Radian(r.z));
        }
    } else if (Node* node = getBindedNode()) {
        node->setPosition(k.getTranslate());
        node->setOrientation(Quaternion::IDENTITY);
        node->rotate(0, Radian(k.getRotation().x));
        node->rotate(1, Radian(k.getRotation().y));
        node->rotate(2, Radian(k.getRotation().z));
        node->setScale(k.getScale());
    }
}

void TransformAnimationTrack::makeTransformKeyFrameValid() {
    const size_t n = mKeyFrames.size();
    for (int c = 0; c < 9; ++c) {
        const float fallback = c >= 6 ? 1.0f : 0.0f;
        for (size_t i = 0; i < n; ++i) {
            auto* k = static_cast<TransformKeyFrame*>(mKeyFrames[i]);
            if (k->isPresent(c)) {
                mAnimated[c] = 1;
                continue;
            }
            // The nearest later key frame that has the component.
            TransformKeyFrame* later = nullptr;
            for (size_t j = i + 1; j < n && !later; ++j) {
                auto* kj = static_cast<TransformKeyFrame*>(mKeyFrames[j]);
                if (kj->isPresent(c)) later = kj;
            }
            float value;
            if (i == 0) {
                value = later ? later->component(c) : fallback;
            } else {
                auto* before = static_cast<TransformKeyFrame*>(mKeyFrames[i - 1]);  // present after filling
                if (!later || later->getTime() == before->getTime()) {
                    value = before->component(c);
                } else {
                    float r = (k->getTime() - before->getTime()) / (later->getTime() - before->getTime());
                    value = lerp(before->component(c), later->component(c), r);
                }
            }
            k->setComponent(c, value);
            k->setPresent(c, true);
        }
    }
}

void VisibilityAnimationTrack::getInterpolatedKeyFrame(float time, KeyFrame* out) {
    KeyFrame *p = nullptr, *n = nullptr;
    getKeyFrameAtTime(time, &p, &n);
    if (p) static_cast<VisibilityKeyFrame*>(out)->setVisible(static_cast<VisibilityKeyFrame*>(p)->getVisible());
}

void VisibilityAnimationTrack::apply(float time) {
    if (mKeyFrames.empty()) return;
    VisibilityKeyFrame k(this, time);
    getInterpolatedKeyFrame(time, &k);
    if (Element* e = getBindedElement()) e->setVisible(k.getVisible());
    if (Node* node = getBindedNode()) node->setVisible(k.getVisible());
}

void UVTextureAnimationTrack::getInterpolatedKeyFrame(float time, KeyFrame* outFrame) {
    KeyFrame *p = nullptr, *n = nullptr;
    float r = getKeyFrameAtTime(time, &p, &n);
    if (!p) return;
    const UVTexture& a = static_cast<UVTextureKeyFrame*>(p)->getUVTexture();
    const UVTexture& b = static_cast<UVTextureKeyFrame*>(n)->getUVTexture();
    UVTexture out;
    for (int i = 0; i < 5; ++i) out.v[i] = r == 0.0f ? a.v[i] : lerp(a.v[i], b.v[i], r);
    static_cast<UVTextureKeyFrame*>(outFrame)->setUVTexture(out);
}

void UVTextureAnimationTrack::apply(float time) {
    if (mKeyFrames.empty()) return;
    UVTextureKeyFrame k(this, time);
    getInterpolatedKeyFrame(time, &k);
    Element* e = getBindedElement();
    if (!e || !e->getMesh()) return;
    const UVTexture& uv = k.getUVTexture();
    e->getMesh()->setUVTexture(uv, TU_BASE);
    e->getMesh()->setUVOffset(uv.v[0], uv.v[1]);
}

void CameraFovAnimationTrack::getInterpolatedKeyFrame(float time, KeyFrame* outFrame) {
    KeyFrame *p = nullptr, *n = nullptr;
    float r = getKeyFrameAtTime(time, &p, &n);
    if (!p) return;
    float a = static_cast<CameraFovKeyFrame*>(p)->getFov(), b = static_cast<CameraFovKeyFrame*>(n)->getFov();
    static_cast<CameraFovKeyFrame*>(outFrame)->setFov(r == 0.0f ? a : lerp(a, b, r));
}

void CameraFovAnimationTrack::apply(float time) {
    if (mKeyFrames.empty()) return;
    CameraFovKeyFrame k(this, time);
    getInterpolatedKeyFrame(time, &k);
    if (Camera* c = getBindedCamera()) c->setFov(Radian(k.getFov()));
}

void MaterialTransparencyAnimationTrack::getInterpolatedKeyFrame(float time, KeyFrame* outFrame) {
    KeyFrame *p = nullptr, *n = nullptr;
    float r = getKeyFrameAtTime(time, &p, &n);
    if (!p) return;
    float a = static_cast<MaterialTransparencyKeyFrame*>(p)->getTransparent();
    float b = static_cast<MaterialTransparencyKeyFrame*>(n)->getTransparent();
    static_cast<MaterialTransparencyKeyFrame*>(outFrame)->setTransparent(r == 0.0f ? a : lerp(a, b, r));
}

void MaterialTransparencyAnimationTrack::apply(float time) {
    if (mKeyFrames.empty()) return;
    MaterialTransparencyKeyFrame k(this, time);
    getInterpolatedKeyFrame(time, &k);
    if (Material* m = getBindedMaterial()) m->setTransparency(k.getTransparent());
}

}  // namespace Dove
