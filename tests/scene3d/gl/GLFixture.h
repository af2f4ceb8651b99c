// OpenGL tests of the engine: a real context (Mesa's software renderer under the test X server),
// the engine on its OpenGL backend, helpers to read pixels back and compare them with golden
// images. A context that cannot be made fails the test: these tests never skip.
#ifndef KPV_TESTS_SCENE3D_GL_GLFIXTURE_H
#define KPV_TESTS_SCENE3D_GL_GLFIXTURE_H

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "DoveMath.h"

namespace Dove {
class OGLRenderEngine;
class OGLTexture;
class FrameBuffer;
}  // namespace Dove

namespace gltest {

struct Image {
    int width = 0;
    int height = 0;
    std::vector<uint8_t> rgba;  // top row first
    const uint8_t* at(int x, int y) const { return &rgba[(size_t(y) * width + x) * 4]; }
};

// The application object, the shared-context setup and the engine's host render system, once.
void startApplication();
// The pixels of the bound read frame buffer, turned so that the top row comes first.
Image readPixels(int width, int height);
// Compares with tests/data/golden/scene3d/<name>.png; every channel may differ by `tolerance`.
// On a mismatch expected, actual and diff images are written below golden-out/ in the working
// folder. KPV_UPDATE_GOLDEN=1 writes the golden image instead.
::testing::AssertionResult matchesGolden(const std::string& name, const Image& actual, int tolerance);

}  // namespace gltest

// Starts the engine on OpenGL with a manual engine clock and a current context; an off-screen
// target of the given size is offered by makeTarget().
class GLEngineTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    Dove::OGLRenderEngine* engine() const { return mEngine; }
    // A frame buffer with a blank texture of the size as colour attachment 0 and a viewport over
    // it; bound in OpenGL. The fixture releases it.
    Dove::FrameBuffer* makeTarget(int width, int height);
    void setClockMillis(uint64_t ms);

    Dove::OGLRenderEngine* mEngine = nullptr;
    std::vector<Dove::FrameBuffer*> mTargets;
    uint64_t mMicros = 1000000000ull * 1000;
};

#endif
