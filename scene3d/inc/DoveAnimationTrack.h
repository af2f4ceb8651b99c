// Key-frame tracks: each holds the key frames of one animated property and drives one bound
// target (an element, a camera, a scene node or a material).
#ifndef DOVE_ANIMATIONTRACK_H
#define DOVE_ANIMATIONTRACK_H

#include <memory>
#include <vector>

#include "DoveMath.h"
#include "DoveRenderable.h"

namespace Dove {

class Animation;
class AnimationTrack;
class Element;
class Node;
class Camera;
class Material;

class KeyFrame {
public:
    KeyFrame(AnimationTrack* track, float time) : mTime(time), mTrack(track) {}
    virtual ~KeyFrame() = default;
    float getTime() const { return mTime; }
    const AnimationTrack* getParentTrack() const { return mTrack; }

protected:
    float mTime;
    AnimationTrack* mTrack;
};

struct KeyFrameTimeLess {
    bool operator()(const KeyFrame* a, const KeyFrame* b) const { return a->getTime() < b->getTime(); }
};

class TransformKeyFrame : public KeyFrame {
public:
    // Component order of the present flags: translate X, Y, Z, rotate X, Y, Z, scale X, Y, Z.
    enum { TX, TY, TZ, RX, RY, RZ, SX, SY, SZ };
    using KeyFrame::KeyFrame;
    virtual void setTranslate(const Vector3& v);
    virtual void setScale(const Vector3& v);
    virtual void setRotation(const Vector3& v);
    virtual void setTranslateX(float v) { setTranslate({v, mTranslate.y, mTranslate.z}); }
    virtual void setTranslateY(float v) { setTranslate({mTranslate.x, v, mTranslate.z}); }
    virtual void setTranslateZ(float v) { setTranslate({mTranslate.x, mTranslate.y, v}); }
    virtual void setScaleX(float v) { setScale({v, mScale.y, mScale.z}); }
    virtual void setScaleY(float v) { setScale({mScale.x, v, mScale.z}); }
    virtual void setScaleZ(float v) { setScale({mScale.x, mScale.y, v}); }
    virtual void setRotateX(float v) { setRotation({v, mRotation.y, mRotation.z}); }
    virtual void setRotateY(float v) { setRotation({mRotation.x, v, mRotation.z}); }
    virtual void setRotateZ(float v) { setRotation({mRotation.x, mRotation.y, v}); }
    const Vector3& getTranslate() const { return mTranslate; }
    const Vector3& getScale() const { return mScale; }
    const Vector3& getRotation() const { return mRotation; }
    float component(int i) const;
    void setComponent(int i, float v);
    bool isPresent(int i) const { return present[i] != 0; }
    void setPresent(int i, bool p) { present[i] = p ? 1 : 0; }

    long present[9] = {1, 1, 1, 1, 1, 1, 1, 1, 1};

private:
    Vector3 mTranslate;
    Vector3 mScale{1, 1, 1};
    Vector3 mRotation;
};

class VisibilityKeyFrame : public KeyFrame {
public:
    using KeyFrame::KeyFrame;
    void setVisible(long v);
    long getVisible() const { return mVisible; }

private:
    long mVisible = 0;
};

class TransparencyKeyFrame : public KeyFrame {
public:
    using KeyFrame::KeyFrame;
};

class UVTextureKeyFrame : public KeyFrame {
public:
    using KeyFrame::KeyFrame;
    void setUVTexture(const UVTexture& uv) { mUV = uv; }
    const UVTexture& getUVTexture() const { return mUV; }

private:
    UVTexture mUV;
};

class CameraFovKeyFrame : public KeyFrame {
public:
    using KeyFrame::KeyFrame;
    void setFov(float fov) { mFov = fov; }
    float getFov() const { return mFov; }

private:
    float mFov = 0.0f;
};

class MaterialTransparencyKeyFrame : public KeyFrame {
public:
    using KeyFrame::KeyFrame;
    void setTransparent(float t) { mTransparency = t; }
    float getTransparent() const { return mTransparency; }

private:
    float mTransparency = 0.0f;
};

class AnimationTrack {
public:
    // 0 none, 1 element, 2 camera, 3 node, 4 material.
    enum BindType { BT_NONE = 0, BT_ELEMENT = 1, BT_CAMERA = 2, BT_NODE = 3, BT_MATERIAL = 4 };

    explicit AnimationTrack(Animation* animation) : mAnimation(animation) {}
    virtual ~AnimationTrack();

    virtual KeyFrame* createKeyFrame(float time);
    virtual void keyFrameDataChanged() {}
    virtual void apply(float time) = 0;
    virtual int getBindedType() const { return mBindType; }
    virtual void bindElement(Element* element);
    virtual void bindNode(Node* node);
    virtual void bindCamera(Camera* camera);
    virtual void bindMaterial(Material* material);
    virtual void unbindElement() { unbind(); }
    virtual void unbindNode() { unbind(); }
    virtual void unbindCamera() { unbind(); }
    virtual void unbindMaterial() { unbind(); }
    virtual Element* getBindedElement() const;
    virtual Node* getBindedNode() const;
    virtual Camera* getBindedCamera() const;
    virtual Material* getBindedMaterial() const;
    virtual void resetBindedTarget();
    virtual void getInterpolatedKeyFrame(float time, KeyFrame* out) = 0;
    virtual float getKeyFrameAtTime(float time, KeyFrame** previous, KeyFrame** next, float* nextTime = nullptr);

    size_t getNumKeyFrames() const { return mKeyFrames.size(); }
    KeyFrame* getKeyFrame(size_t i) const { return i < mKeyFrames.size() ? mKeyFrames[i] : nullptr; }
    Animation* getAnimation() const { return mAnimation; }

protected:
    virtual KeyFrame* createKeyFrameImpl(float time) = 0;
    void unbind() {
        mBindType = BT_NONE;
        mTarget = nullptr;
    }

    std::vector<KeyFrame*> mKeyFrames;
    Animation* mAnimation;
    int mBindType = BT_NONE;
    void* mTarget = nullptr;
};

class TransformAnimationTrack : public AnimationTrack {
public:
    using AnimationTrack::AnimationTrack;
    TransformKeyFrame* createTransformKeyFrame(float time) { return static_cast<TransformKeyFrame*>(createKeyFrame(time)); }
    void apply(float time) override;
    void getInterpolatedKeyFrame(float time, KeyFrame* out) override;
    void makeTransformKeyFrameValid();
    bool isComponentAnimated(int i) const { return mAnimated[i] != 0; }

protected:
    KeyFrame* createKeyFrameImpl(float time) override { return new TransformKeyFrame(this, time); }

private:
    long mAnimated[9] = {};
};

class VisibilityAnimationTrack : public AnimationTrack {
public:
    using AnimationTrack::AnimationTrack;
    VisibilityKeyFrame* createVisibilityKeyFrame(float time) { return static_cast<VisibilityKeyFrame*>(createKeyFrame(time)); }
    void apply(float time) override;
    void getInterpolatedKeyFrame(float time, KeyFrame* out) override;

protected:
    KeyFrame* createKeyFrameImpl(float time) override { return new VisibilityKeyFrame(this, time); }
};

class TransparencyAnimationTrack : public AnimationTrack {
public:
    using AnimationTrack::AnimationTrack;
    TransparencyKeyFrame* createTransparencyKeyFrame(float time) {
        return static_cast<TransparencyKeyFrame*>(createKeyFrame(time));
    }
    void apply(float) override {}
    void getInterpolatedKeyFrame(float, KeyFrame*) override {}

protected:
    KeyFrame* createKeyFrameImpl(float time) override { return new TransparencyKeyFrame(this, time); }
};

class UVTextureAnimationTrack : public AnimationTrack {
public:
    using AnimationTrack::AnimationTrack;
    UVTextureKeyFrame* createUVTextureKeyFrame(float time) { return static_cast<UVTextureKeyFrame*>(createKeyFrame(time)); }
    UVTextureKeyFrame* addUVTextureKeyFrame(float time, const UVTexture& uv) {
        UVTextureKeyFrame* k = createUVTextureKeyFrame(time);
        k->setUVTexture(uv);
        return k;
    }
    void apply(float time) override;
    void getInterpolatedKeyFrame(float time, KeyFrame* out) override;

protected:
    KeyFrame* createKeyFrameImpl(float time) override { return new UVTextureKeyFrame(this, time); }
};

class CameraFovAnimationTrack : public AnimationTrack {
public:
    using AnimationTrack::AnimationTrack;
    CameraFovKeyFrame* createCameraFovKeyFrame(float time) { return static_cast<CameraFovKeyFrame*>(createKeyFrame(time)); }
    void apply(float time) override;
    void getInterpolatedKeyFrame(float time, KeyFrame* out) override;

protected:
    KeyFrame* createKeyFrameImpl(float time) override { return new CameraFovKeyFrame(this, time); }
};

class MaterialTransparencyAnimationTrack : public AnimationTrack {
public:
    using AnimationTrack::AnimationTrack;
    MaterialTransparencyKeyFrame* createMaterialTransparentKeyFrame(float time) {
        return static_cast<MaterialTransparencyKeyFrame*>(createKeyFrame(time));
    }
    void apply(float time) override;
    void getInterpolatedKeyFrame(float time, KeyFrame* out) override;

protected:
    KeyFrame* createKeyFrameImpl(float time) override { return new MaterialTransparencyKeyFrame(this, time); }
};

}  // namespace Dove

#endif
