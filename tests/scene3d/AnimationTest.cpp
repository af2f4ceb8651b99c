#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "DoveAnimation.h"
#include "DoveCamera.h"
#include "DoveElement.h"
#include "DoveMaterial.h"
#include "EngineFixture.h"

using namespace Dove;

namespace {

struct Recorder : Animation::Listener {
    std::vector<std::string> calls;
    void OnAnimationStarted(Animation*, float s) override { calls.push_back("started " + std::to_string(s)); }
    void OnAnimationPaused(Animation*) override { calls.push_back("paused"); }
    void OnAnimationResumed(Animation*) override { calls.push_back("resumed"); }
    void OnAnimationStopped(Animation*) override { calls.push_back("stopped"); }
    void OnAnimationCancel(Animation*) override { calls.push_back("cancel"); }
    void OnAnimationAtTime(Animation*, float s) override { calls.push_back("time " + std::to_string(s)); }
    void OnAnimationAtFrame(Animation*, unsigned long f) override { calls.push_back("frame " + std::to_string(f)); }
};

class AnimationTest : public EngineTest {
protected:
    void SetUp() override {
        EngineTest::SetUp();
        clock.setMillis(5000000);
        anim = rm()->createAnimation("anim", 10.0f, 0);
        anim->setListener(&rec);
        element = sm()->createElement("target", 0);
    }
    // Moves the clock to t milliseconds after the base and runs one frame of animations.
    void at(uint64_t ms) {
        clock.setMillis(5000000 + ms);
        rm()->updateAllAnimations();
    }
    // A transform track on the element: translate X 0 at 0 s, 10 at 2 s.
    TransformAnimationTrack* xTrack() {
        TransformAnimationTrack* t = anim->createTransformTrack();
        t->createTransformKeyFrame(0.0f)->setTranslateX(0.0f);
        t->createTransformKeyFrame(2.0f)->setTranslateX(10.0f);
        t->makeTransformKeyFrameValid();
        t->bindElement(element);
        return t;
    }
    float x() { return element->getTransform().getTranslate().x; }

    Animation* anim = nullptr;
    Element* element = nullptr;
    Recorder rec;
};

}  // namespace

TEST_F(AnimationTest, SamplingAtKeysMidpointsEndAndLoop) {
    TransformAnimationTrack* t = xTrack();
    Animation* shortAnim = rm()->createAnimation("short", 2.5f, 0);
    TransformAnimationTrack* looped = shortAnim->createTransformTrack();
    looped->createTransformKeyFrame(0.0f)->setTranslateX(0.0f);
    looped->createTransformKeyFrame(2.0f)->setTranslateX(10.0f);
    looped->makeTransformKeyFrameValid();
    Element* other = sm()->createElement("other", 0);
    looped->bindElement(other);

    t->apply(0.0f);
    EXPECT_FLOAT_EQ(x(), 0.0f);  // first key
    t->apply(0.5f);
    EXPECT_FLOAT_EQ(x(), 2.5f);
    t->apply(1.0f);
    EXPECT_FLOAT_EQ(x(), 5.0f);  // midpoint
    t->apply(2.0f);
    EXPECT_FLOAT_EQ(x(), 10.0f);  // last key
    t->apply(9.0f);
    EXPECT_FLOAT_EQ(x(), 10.0f);  // past the end: the last pose
    looped->apply(3.0f);          // 3 s in a 2.5 s animation wraps to 0.5 s
    EXPECT_FLOAT_EQ(other->getTransform().getTranslate().x, 2.5f);
    looped->apply(5.0f);  // exactly two durations: the end, not the start
    EXPECT_FLOAT_EQ(other->getTransform().getTranslate().x, 10.0f);

    TransformAnimationTrack* late = anim->createTransformTrack();
    late->createTransformKeyFrame(1.0f)->setTranslateY(4.0f);
    late->createTransformKeyFrame(3.0f)->setTranslateY(8.0f);
    late->makeTransformKeyFrameValid();
    late->bindElement(other);
    late->apply(0.2f);  // before the first key: the first key's values
    EXPECT_FLOAT_EQ(other->getTransform().getTranslate().y, 4.0f);
}

TEST_F(AnimationTest, FillingAbsentComponentsAndAnimatedFlags) {
    TransformAnimationTrack* t = anim->createTransformTrack();
    TransformKeyFrame* k0 = t->createTransformKeyFrame(0.0f);
    TransformKeyFrame* k4 = t->createTransformKeyFrame(4.0f);
    TransformKeyFrame* k1 = t->createTransformKeyFrame(1.0f);
    EXPECT_EQ(t->getKeyFrame(1), k1);  // kept in time order
    for (TransformKeyFrame* k : {k0, k1, k4})
        for (int c = 0; c < 9; ++c) k->setPresent(c, false);
    k0->setTranslateX(0.0f);
    k0->setPresent(TransformKeyFrame::TX, true);
    k4->setTranslateX(8.0f);
    k4->setPresent(TransformKeyFrame::TX, true);
    k4->setRotateY(1.0f);
    k4->setPresent(TransformKeyFrame::RY, true);
    t->makeTransformKeyFrameValid();
    EXPECT_FLOAT_EQ(k1->getTranslate().x, 2.0f);  // a quarter of the way
    EXPECT_EQ(k1->getScale(), Vector3(1, 1, 1));
    EXPECT_FLOAT_EQ(k0->getRotation().y, 1.0f);  // the first takes the first later value
    EXPECT_FLOAT_EQ(k1->getRotation().y, 1.0f);
    EXPECT_TRUE(t->isComponentAnimated(TransformKeyFrame::TX));
    EXPECT_TRUE(t->isComponentAnimated(TransformKeyFrame::RY));
    EXPECT_FALSE(t->isComponentAnimated(TransformKeyFrame::TY));

    // Only rotate Y animated: the element keeps its own translate and scale.
    element->getTransform().setTranslate(Vector3(7, 7, 7));
    element->getTransform().setScale(Vector3(2, 2, 2));
    t->bindElement(element);
    TransformAnimationTrack only(anim);
    only.createTransformKeyFrame(0.0f)->setRotateY(0.5f);
    for (int c = 0; c < 9; ++c)
        if (c != TransformKeyFrame::RY) static_cast<TransformKeyFrame*>(only.getKeyFrame(0))->setPresent(c, false);
    only.makeTransformKeyFrameValid();
    only.bindElement(element);
    only.apply(0.0f);
    EXPECT_EQ(element->getTransform().getTranslate(), Vector3(7, 7, 7));
    EXPECT_EQ(element->getTransform().getScale(), Vector3(2, 2, 2));
    EXPECT_FLOAT_EQ(element->getTransform().getRotate().y, 0.5f);
}

TEST_F(AnimationTest, VisibilityCameraAndMaterialTracks) {
    VisibilityAnimationTrack* v = anim->createVisiblityTrack();
    v->createVisibilityKeyFrame(0.0f)->setVisible(1);
    v->createVisibilityKeyFrame(1.0f)->setVisible(0);
    v->bindElement(element);
    v->apply(0.9f);
    EXPECT_EQ(element->getVisible(), 1);
    v->apply(1.0f);
    EXPECT_EQ(element->getVisible(), 0);

    Camera* cam = sm()->createCamera("cam", 0);
    Quaternion turned;
    turned.fromAngleAxis(Radian(0.3f), Vector3::UNIT_Y);
    cam->setOrientation(turned);
    TransformAnimationTrack* ct = anim->createTransformTrack();
    ct->createTransformKeyFrame(0.0f)->setTranslate(Vector3(1, 2, 3));
    ct->bindCamera(cam);
    ct->apply(0.0f);
    EXPECT_EQ(cam->getPosition(), Vector3(1, 2, 3));
    EXPECT_EQ(cam->getOrientation(), turned);  // rotation (0,0,0) leaves the orientation

    CameraFovAnimationTrack* fov = anim->createCameraFovTrack();
    fov->createCameraFovKeyFrame(0.0f)->setFov(1.0f);
    fov->bindCamera(cam);
    anim->apply(0.0f);  // field-of-view tracks are not applied by the animation
    EXPECT_FLOAT_EQ(cam->getFov().value, 0.7853982f);
    fov->apply(0.0f);
    EXPECT_FLOAT_EQ(cam->getFov().value, 1.0f);

    Material* mat = rm()->createMaterial("m", 0);
    MaterialTransparencyAnimationTrack* mt = anim->createMaterialTransparencyAnimationTrack();
    mt->createMaterialTransparentKeyFrame(0.0f)->setTransparent(0.0f);
    mt->createMaterialTransparentKeyFrame(2.0f)->setTransparent(1.0f);
    mt->bindMaterial(mat);
    mt->apply(1.0f);
    EXPECT_FLOAT_EQ(mat->getTransparency(), 0.5f);
    mt->resetBindedTarget();
    EXPECT_FLOAT_EQ(mat->getTransparency(), 0.0f);
    EXPECT_EQ(mt->getBindedElement(), nullptr);
    EXPECT_EQ(mt->getBindedMaterial(), mat);
    mt->unbindMaterial();
    EXPECT_EQ(mt->getBindedType(), 0);
}

TEST_F(AnimationTest, StateMachineAndListener) {
    EXPECT_EQ(anim->getState(), Animation::STOPPED);
    anim->pause();
    anim->resume();
    anim->stop();
    EXPECT_TRUE(rec.calls.empty());
    anim->play();
    at(0);
    ASSERT_EQ(rec.calls.size(), 1u);
    EXPECT_EQ(rec.calls[0], "started 0.000000");
    xTrack();
    at(10001);  // past the 10 s duration
    EXPECT_EQ(anim->getState(), Animation::FINISHED);
    EXPECT_FLOAT_EQ(x(), 10.0f);  // applied at exactly the duration
    EXPECT_EQ(rec.calls.back(), "stopped");
    size_t n = rec.calls.size();
    at(12000);
    EXPECT_EQ(rec.calls.size(), n);
}

TEST_F(AnimationTest, FrameAndTimeCallbacks) {
    anim->registerCallbackAtFrame(48);  // 2.0 s at 24 frames a second
    anim->registerCallbackAtFrame(30);
    anim->registerCallbackAtFrame(30);
    anim->registerCallbackAtTime(0.0f);  // never fires
    anim->registerCallbackAtFrame(240);  // the end frame
    anim->play();
    at(0);
    at(1990);
    at(2010);
    std::vector<std::string> expect = {"started 0.000000", "frame 30", "frame 30", "frame 48"};
    EXPECT_EQ(rec.calls, expect);
    at(10500);  // passes the end frame and the duration at once: no callback
    EXPECT_EQ(rec.calls.back(), "stopped");
    anim->unregisterCallbackAtFrame(30);
    rec.calls.clear();
    anim->play();
    at(20000);
    at(22100);
    EXPECT_EQ(rec.calls, (std::vector<std::string>{"started 0.000000", "frame 48"}));
}

TEST_F(AnimationTest, SeekPauseResumeCancel) {
    xTrack();
    anim->registerCallbackAtTime(1.0f);
    anim->seek(1.0f);  // stopped: paused at 1 s with the tracks applied
    EXPECT_EQ(anim->getState(), Animation::PAUSED);
    EXPECT_FLOAT_EQ(x(), 5.0f);
    at(100);
    anim->play();
    EXPECT_EQ(rec.calls.back(), "started 1.000000");
    at(200);  // 1.1 s in: the 1 s time lies before the restart and fires here
    EXPECT_EQ(rec.calls.back(), "time 1.000000");
    EXPECT_FLOAT_EQ(x(), 5.5f);

    anim->pause();
    EXPECT_EQ(rec.calls.back(), "paused");
    at(5000);
    EXPECT_FLOAT_EQ(x(), 5.5f);  // paused animations are not updated
    anim->stop();                // not playing: nothing
    EXPECT_EQ(anim->getState(), Animation::PAUSED);
    anim->resume();
    EXPECT_EQ(rec.calls.back(), "resumed");
    at(5100);
    EXPECT_NEAR(x(), 6.0f, 1e-4f);  // the pause did not count

    anim->cancel();
    EXPECT_EQ(anim->getState(), Animation::STOPPED);
    EXPECT_FLOAT_EQ(x(), 0.0f);
    EXPECT_EQ(rec.calls.back(), "cancel");

    anim->play();
    at(6000);
    anim->seek(-1.0f);  // a start after now: the next update stops it
    at(6000);
    EXPECT_EQ(anim->getState(), Animation::FINISHED);
}

TEST_F(AnimationTest, TargetsRestartFromTheirInitialStateEachFrame) {
    xTrack();
    Animation* second = rm()->createAnimation("second", 10.0f, 0);
    // A second animation moves only Y of the same element.
    TransformAnimationTrack* yOnly = second->createTransformTrack();
    TransformKeyFrame* k = yOnly->createTransformKeyFrame(0.0f);
    for (int c = 0; c < 9; ++c) k->setPresent(c, c == TransformKeyFrame::TY);
    k->setTranslateY(3.0f);
    yOnly->makeTransformKeyFrameValid();
    yOnly->bindElement(element);

    anim->play();
    second->play();
    at(0);
    at(1000);
    EXPECT_FLOAT_EQ(x(), 5.0f);
    EXPECT_FLOAT_EQ(element->getTransform().getTranslate().y, 3.0f);
    rm()->releaseAnimation(second, 1);
    EXPECT_EQ(rm()->getAnimation("second"), nullptr);
}
