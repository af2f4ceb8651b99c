#include "DoveAnimation.h"

#include <algorithm>
#include <climits>

#include "DoveTime.h"

namespace Dove {

Animation::Animation(const std::string& name, float duration) : mDuration(duration) {
    nameObject(name, "Animation_");
}

template <typename T>
static void destroyAll(std::vector<T*>& list) {
    for (T* t : list) delete t;
    list.clear();
}

Animation::~Animation() {
    destroyAll(mTransformTracks);
    destroyAll(mVisibilityTracks);
    destroyAll(mTransparencyTracks);
    destroyAll(mUVTracks);
    destroyAll(mFovTracks);
    destroyAll(mMaterialTracks);
    mListener = nullptr;
}

uint64_t Animation::now() { return getTimeStampInMillisecond(); }

void Animation::play() {
    if (mState == STOPPED || mState == FINISHED) {
        clearTimes();
        mState = PLAYING;
    } else if (mState == PAUSED) {
        const uint64_t t = now();
        const uint64_t offset = mPauseTime - mStartTime;
        mStartTime = t - offset;
        mPauseTime = 0;
        mLastUpdateTime = mStartTime;
        mState = PLAYING;
        if (mListener) mListener->OnAnimationStarted(this, float(offset) / 1000.0f);
    }
}

void Animation::pause() {
    if (mState != PLAYING) return;
    mPauseTime = now();
    mState = PAUSED;
    if (mListener) mListener->OnAnimationPaused(this);
}

void Animation::resume() {
    if (mState != PAUSED) return;
    const uint64_t t = now();
    // The pause moves the start and the last update alike, so that the first update after it
    // tells the callbacks from the time the animation had reached. Setting the last update to the
    // old start put it before the new start: the unsigned difference then made the callbacks of
    // that first update look already told, and a group change falling in it was lost.
    const uint64_t paused = t - mPauseTime;
    mStartTime += paused;
    mLastUpdateTime += paused;
    mPauseTime = 0;
    mState = PLAYING;
    if (mListener) mListener->OnAnimationResumed(this);
}

void Animation::stop() {
    if (mState != PLAYING) return;
    mState = FINISHED;
    clearTimes();
    apply(mDuration);
    if (mListener) mListener->OnAnimationStopped(this);
}

void Animation::cancel() {
    mState = STOPPED;
    clearTimes();
    apply(0.0f);
    if (mListener) mListener->OnAnimationCancel(this);
}

void Animation::seek(float seconds) {
    const uint64_t t = now();
    // Milliseconds cut toward zero; a negative time puts the start after now.
    const double ms = double(seconds) * 1000.0;
    const int64_t offset = !(ms == ms) ? 0 : ms >= 9.2e18 ? INT64_MAX : ms <= -9.2e18 ? INT64_MIN : int64_t(ms);
    mStartTime = t - uint64_t(offset);
    if (mState == PLAYING) return;
    mPauseTime = t;
    mState = PAUSED;
    apply(seconds);
}

void Animation::update() {
    if (mState != PLAYING) return;
    const uint64_t t = now();
    if (mStartTime == 0) {
        mStartTime = mPauseTime = mLastUpdateTime = t;
        if (mListener) mListener->OnAnimationStarted(this, 0.0f);
    }
    const float elapsed = float(double(t - mStartTime) / 1000.0);
    if (elapsed > mDuration) {
        stop();
        return;
    }
    noticeCallbacks(t);
    mLastUpdateTime = t;
    apply(elapsed);
}

void Animation::noticeCallbacks(uint64_t t) {
    if (!mListener) return;
    const float previous = float(double(mLastUpdateTime - mStartTime) / 1000.0);
    const float current = float(double(t - mStartTime) / 1000.0);
    // Copies: a listener may register or unregister while it is called.
    const std::vector<float> times = mTimes;
    for (float s : times)
        if (s > previous && current >= s) mListener->OnAnimationAtTime(this, s);
    const std::vector<uint32_t> frames = mFrames;
    for (uint32_t f : frames) {
        const float ft = mFrameRate != 0.0f ? float(f) / mFrameRate : 0.0f;
        if (ft > previous && current >= ft) mListener->OnAnimationAtFrame(this, f);
    }
}

void Animation::apply(float seconds) {
    for (auto* t : mTransparencyTracks) t->apply(seconds);
    for (auto* t : mTransformTracks) t->apply(seconds);
    for (auto* t : mVisibilityTracks) t->apply(seconds);
    for (auto* t : mUVTracks) t->apply(seconds);
    for (auto* t : mMaterialTracks) t->apply(seconds);
}

void Animation::resetAllBindedTarget() {
    if (mState != PLAYING) return;
    for (auto* t : mTransparencyTracks) t->resetBindedTarget();
    for (auto* t : mTransformTracks) t->resetBindedTarget();
    for (auto* t : mVisibilityTracks) t->resetBindedTarget();
    for (auto* t : mUVTracks) t->resetBindedTarget();
    for (auto* t : mMaterialTracks) t->resetBindedTarget();
}

template <typename T>
static T* appendTrack(std::vector<T*>& list, Animation* a) {
    T* t = new T(a);
    list.push_back(t);
    return t;
}

TransformAnimationTrack* Animation::createTransformTrack() { return appendTrack(mTransformTracks, this); }
VisibilityAnimationTrack* Animation::createVisiblityTrack() { return appendTrack(mVisibilityTracks, this); }
TransparencyAnimationTrack* Animation::createTransparencyTrack() { return appendTrack(mTransparencyTracks, this); }
UVTextureAnimationTrack* Animation::createUVTextureTrack() { return appendTrack(mUVTracks, this); }
CameraFovAnimationTrack* Animation::createCameraFovTrack() { return appendTrack(mFovTracks, this); }
MaterialTransparencyAnimationTrack* Animation::createMaterialTransparencyAnimationTrack() {
    return appendTrack(mMaterialTracks, this);
}

void Animation::unregisterCallbackAtTime(float seconds) { std::erase(mTimes, seconds); }
void Animation::unregisterCallbackAtFrame(unsigned long frame) { std::erase(mFrames, uint32_t(frame)); }

}  // namespace Dove
