// Plays key-frame tracks against the engine clock and reports start, pause, resume, stop, cancel
// and registered times and frames to one listener.
#ifndef DOVE_ANIMATION_H
#define DOVE_ANIMATION_H

#include <cstdint>
#include <vector>

#include "DoveAnimationTrack.h"
#include "DoveObject.h"

namespace Dove {

class Animation : public Object {
public:
    class Listener {
    public:
        virtual ~Listener() = default;
        virtual void OnAnimationStarted(Animation* animation, float seconds) = 0;
        virtual void OnAnimationPaused(Animation* animation) = 0;
        virtual void OnAnimationResumed(Animation* animation) = 0;
        virtual void OnAnimationStopped(Animation* animation) = 0;
        virtual void OnAnimationCancel(Animation* animation) = 0;
        virtual void OnAnimationAtTime(Animation* animation, float seconds) = 0;
        virtual void OnAnimationAtFrame(Animation* animation, unsigned long frame) = 0;
    };

    // 0 stopped, 1 playing, 2 paused, 3 stopped after playing.
    enum State { STOPPED = 0, PLAYING = 1, PAUSED = 2, FINISHED = 3 };

    // The empty name gives "Animation_" and the next object number.
    Animation(const std::string& name, float duration);
    ~Animation() override;

    bool isPlaying() const { return mState == PLAYING; }
    int getState() const { return mState; }
    float getDuration() const { return mDuration; }
    float getFrameRate() const { return mFrameRate; }
    void setFrameRate(float fps) { mFrameRate = fps; }

    void play();
    void pause();
    void resume();
    void stop();
    void cancel();
    void seek(float seconds);
    void update();
    void apply(float seconds);
    void resetAllBindedTarget();

    TransformAnimationTrack* createTransformTrack();
    VisibilityAnimationTrack* createVisiblityTrack();
    TransparencyAnimationTrack* createTransparencyTrack();
    UVTextureAnimationTrack* createUVTextureTrack();
    CameraFovAnimationTrack* createCameraFovTrack();
    MaterialTransparencyAnimationTrack* createMaterialTransparencyAnimationTrack();

    const std::vector<TransformAnimationTrack*>& transformTracks() const { return mTransformTracks; }
    const std::vector<VisibilityAnimationTrack*>& visibilityTracks() const { return mVisibilityTracks; }
    const std::vector<CameraFovAnimationTrack*>& cameraFovTracks() const { return mFovTracks; }
    const std::vector<MaterialTransparencyAnimationTrack*>& materialTransparencyTracks() const {
        return mMaterialTracks;
    }

    void setListener(Listener* listener) { mListener = listener; }
    Listener* getListener() const { return mListener; }
    void registerCallbackAtTime(float seconds) { mTimes.push_back(seconds); }
    void unregisterCallbackAtTime(float seconds);
    void registerCallbackAtFrame(unsigned long frame) { mFrames.push_back(uint32_t(frame)); }
    void unregisterCallbackAtFrame(unsigned long frame);

private:
    void noticeCallbacks(uint64_t now);
    void clearTimes() { mStartTime = mPauseTime = mLastUpdateTime = 0; }
    static uint64_t now();

    int mState = STOPPED;
    float mDuration;
    float mFrameRate = 24.0f;
    uint64_t mStartTime = 0, mPauseTime = 0, mLastUpdateTime = 0;
    std::vector<TransformAnimationTrack*> mTransformTracks;
    std::vector<VisibilityAnimationTrack*> mVisibilityTracks;
    std::vector<TransparencyAnimationTrack*> mTransparencyTracks;
    std::vector<UVTextureAnimationTrack*> mUVTracks;
    std::vector<CameraFovAnimationTrack*> mFovTracks;
    std::vector<MaterialTransparencyAnimationTrack*> mMaterialTracks;
    Listener* mListener = nullptr;
    std::vector<float> mTimes;
    std::vector<uint32_t> mFrames;
};

}  // namespace Dove

#endif
