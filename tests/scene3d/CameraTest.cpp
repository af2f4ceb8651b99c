#include <gtest/gtest.h>

#include <cmath>

#include "DoveCamera.h"
#include "DoveNullRender.h"
#include "DoveViewport.h"
#include "EngineFixture.h"

using namespace Dove;

namespace {

void expectVec(const Vector3& v, float x, float y, float z, float tol = 1e-5f) {
    EXPECT_NEAR(v.x, x, tol);
    EXPECT_NEAR(v.y, y, tol);
    EXPECT_NEAR(v.z, z, tol);
}

// Where the camera looks: its local -Z axis in the world.
Vector3 forward(const Camera& c) { return c.getOrientation() * Vector3(0, 0, -1); }

}  // namespace

using CameraTest = EngineTest;

TEST_F(CameraTest, PerspectiveFrustumFromRenderSize) {
    Camera* c = sm()->createCamera("persp", 0);
    c->setRenderSize(800, 600);
    EXPECT_FLOAT_EQ(c->getAspect(), 1.3333334f);
    EXPECT_FLOAT_EQ(c->getTop(), 0.1f * std::tan(0.3926991f));
    const Matrix4& p = c->getProjectionMatrix();
    const float t = std::tan(0.3926991f);
    EXPECT_FLOAT_EQ(p[1][1], 1.0f / t);
    EXPECT_FLOAT_EQ(p[0][0], 1.0f / (t * 1.3333334f));
    EXPECT_FLOAT_EQ(p[2][2], -1.0f);
    EXPECT_FLOAT_EQ(p[3][2], -1.0f);
    EXPECT_FLOAT_EQ(p[2][3], -2.0f * 1000.0f * 0.1f / (1000.0f - 0.1f));
    EXPECT_EQ(p[0][2], 0.0f);

    c->setFov(Radian(1.2f));
    EXPECT_FLOAT_EQ(c->getProjectionMatrix()[1][1], 1.0f / std::tan(0.6f));
    c->setFar(0.0f);
    EXPECT_FLOAT_EQ(c->getProjectionMatrix()[2][3], -2.0f * 0.1f);
}

TEST_F(CameraTest, OrthographicTwoDCamera) {
    Camera* c = sm()->get2DCamera();
    ASSERT_NE(c, nullptr);
    EXPECT_EQ(c->getCameraType(), 0);
    EXPECT_FLOAT_EQ(c->getLeft(), -400.0f);
    EXPECT_FLOAT_EQ(c->getTop(), 300.0f);
    const Matrix4& p = c->getProjectionMatrix();
    EXPECT_FLOAT_EQ(p[0][0], 2.0f / 800.0f);
    EXPECT_FLOAT_EQ(p[1][1], 2.0f / 600.0f);
    EXPECT_FLOAT_EQ(p[2][2], -2.0f / (1000.0f - 0.01f));
    // At (0, 0, 1) looking at the origin: the view moves the world back by one.
    Vector4 o = c->getViewMatrix() * Vector4(0, 0, 0, 1);
    EXPECT_NEAR(o.z, -1.0f, 1e-6f);
}

TEST_F(CameraTest, DirectionsAndTurns) {
    Camera* c = sm()->createCamera("dir", 0);
    c->setDirection(Vector3(0, 0, 0));
    EXPECT_EQ(c->getOrientation(), Quaternion::IDENTITY);

    c->setPosition(Vector3(0, 0, 5));
    c->setLookAt(Vector3(0, 0, 10));  // straight behind: half a turn about the up axis
    expectVec(forward(*c), 0, 0, 1);
    expectVec(c->getOrientation() * Vector3::UNIT_Y, 0, 1, 0);

    c->setLookAt(Vector3(5, 0, 5));
    expectVec(forward(*c), 1, 0, 0);
    Vector4 target = c->getViewMatrix() * Vector4(5, 0, 5, 1);
    EXPECT_NEAR(target.x, 0.0f, 1e-5f);
    EXPECT_NEAR(target.z, -5.0f, 1e-5f);

    Camera* t = sm()->createCamera("turns", 0);
    t->yaw(Radian(Math::HALF_PI));
    expectVec(forward(*t), -1, 0, 0);
    t->pitch(Radian(Math::HALF_PI));  // about its own X axis, now the world's -Z
    expectVec(forward(*t), 0, 1, 0, 1e-5f);
    t->setInitialState();
    t->roll(Radian(1.0f));
    t->translate(Vector3(1, 1, 1));
    t->resetToInitialState();
    expectVec(forward(*t), 0, 1, 0, 1e-5f);
    EXPECT_EQ(t->getPosition(), Vector3::ZERO);
}

TEST_F(CameraTest, ViewportsOnFrameBuffers) {
    NullFrameBuffer fb(1024, 768);
    Viewport* vp = fb.addViewport(nullptr, 0, 0, 1, 1, 0);
    EXPECT_EQ(vp->getActualWidth(), 1024);
    EXPECT_EQ(vp->getActualHeight(), 768);
    vp->setActualValue(0, 0, 512, 384);
    EXPECT_FLOAT_EQ(vp->getRelativeWidth(), 0.5f);
    EXPECT_FLOAT_EQ(vp->getRelativeHeight(), 0.5f);
    vp->setRelativeValue(0.25f, 0.5f, 0.5f, 0.25f);
    EXPECT_EQ(vp->getActualLeft(), 256);
    EXPECT_EQ(vp->getActualTop(), 384);
    Viewport copy = *vp;
    EXPECT_TRUE(copy == *vp);

    // Viewports are found by rank, not by index; a taken index is replaced.
    Viewport* five = fb.addViewport(nullptr, 0, 0, 1, 1, 5);
    Viewport* two = fb.addViewport(nullptr, 0, 0, 1, 1, 2);
    EXPECT_EQ(fb.getViewport(1), two);
    EXPECT_EQ(fb.getViewport(2), five);
    EXPECT_EQ(fb.getViewport(3), nullptr);
    Viewport* again = fb.addViewportWithActualValue(nullptr, 1, 2, 3, 4, 2);
    EXPECT_EQ(fb.getViewport(1), again);
    EXPECT_EQ(again->getActualHeight(), 4);

    NullFrameBuffer empty(0, 0);
    Viewport* none = empty.addViewportWithActualValue(nullptr, 0, 0, 10, 10, 0);
    EXPECT_TRUE(std::isfinite(none->getRelativeWidth()));

    int x, y, w, h;
    getViewportValueWithCameraAspect(4.0f / 3.0f, Size{1920, 1080}, &x, &y, &w, &h);
    EXPECT_EQ(x, 240);
    EXPECT_EQ(y, 0);
    EXPECT_EQ(w, 1440);
    EXPECT_EQ(h, 1080);
    getViewportValueWithCameraAspect(16.0f / 9.0f, Size{800, 800}, &x, &y, &w, &h);
    EXPECT_EQ(x, 0);
    EXPECT_EQ(w, 800);
    EXPECT_EQ(h, 450);
    EXPECT_EQ(y, 175);

    // Aspects from a scene file may be anything; the rectangle stays defined.
    for (float bad : {-1e10f, 0.0f, NAN, INFINITY}) {
        getViewportValueWithCameraAspect(bad, Size{800, 600}, &x, &y, &w, &h);
        EXPECT_EQ(x, 0);
        EXPECT_EQ(w, 800);
        EXPECT_EQ(h, 600);
    }
    getViewportValueWithCameraAspect(1e-30f, Size{800, 600}, &x, &y, &w, &h);
    EXPECT_EQ(w, 0);
    EXPECT_EQ(h, 600);
    EXPECT_EQ(truncToUnsigned(-3.0f), 0u);
    EXPECT_EQ(truncToInt(3e9f), INT_MAX);
}
