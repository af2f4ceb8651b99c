#include "DoveRenderEngine.h"

#include "DoveCamera.h"
#include "DoveFrameBuffer.h"
#include "DoveRenderFactory.h"
#include "DoveSceneManager.h"
#include "DoveTime.h"
#include "DoveViewport.h"

namespace Dove {

namespace {
RenderEngine* gEngine = nullptr;
}  // namespace

RenderEngine* RenderEngine::getSingleton() {
    if (!gEngine) gEngine = RenderFactory::getSingleton()->createRenderEngine();
    return gEngine;
}

RenderEngine* RenderEngine::peekSingleton() { return gEngine; }

void RenderEngine::releaseSingleton() {
    if (!gEngine) return;
    RenderEngine* e = gEngine;
    gEngine = nullptr;
    RenderFactory::getSingleton()->releaseRenderEngine(e);
}

void RenderEngine::startRender() {
    if (mScreenFrameBuffer) mScreenFrameBuffer->startRender();
}

void RenderEngine::stopRender() {
    if (mScreenFrameBuffer) mScreenFrameBuffer->stopRender();
}

void RenderEngine::requestFrame() {
    if (mScreenFrameBuffer) mScreenFrameBuffer->requestFrame();
}

void RenderEngine::bindFrameBuffer(FrameBuffer* const& frameBuffer) {
    FrameBuffer* target = frameBuffer ? frameBuffer : mScreenFrameBuffer;
    mCurFrameBuffer = target;
    if (!target) return;
    target->onBind();
    Viewport* vp = target->getViewport(0);
    if (vp) doViewport(vp);
}

void RenderEngine::getScreenFrameBufferSize(unsigned int* width, unsigned int* height) const {
    unsigned int w = mScreenFrameBuffer ? mScreenFrameBuffer->getWidth() : 0;
    unsigned int h = mScreenFrameBuffer ? mScreenFrameBuffer->getHeight() : 0;
    if (width) *width = w;
    if (height) *height = h;
}

bool RenderEngine::needToRender() {
    RenderEngine* engine = peekSingleton();
    if (!engine) return false;
    uint32_t now = getTimeStampInMillisecond();
    // Unsigned difference: the first call after the clock wraps still lets a frame through.
    if (uint32_t(now - engine->mLastFrameTime) < 20u) return false;
    engine->mLastFrameTime = now;
    return true;
}

void RenderEngine::resetFrameLimiter() {
    if (RenderEngine* engine = peekSingleton()) engine->mLastFrameTime = 0;
}

void renderOneFrame(FrameBuffer* window) {
    RenderEngine* engine = RenderEngine::getSingleton();
    SceneManager* sm = SceneManager::getSingleton();
    engine->bindFrameBuffer(window);
    window->clear(7, Color{0, 0, 0, 1}, 1.0f, 0);
    sm->update();

    sm->setCurrentCamera(sm->get2DCamera());
    sm->clearRenderQueue();
    sm->insertBack2DSceneIntoRenderQueue();
    sm->renderBack2DScene();

    for (auto& [index, viewport] : window->getViewports()) {
        sm->setCurrentCamera(viewport->getCamera());
        sm->clearRenderQueue();
        // A viewport without a camera has nothing to look through.
        if (!viewport->getCamera()) continue;
        sm->insert3DSceneIntoRenderQueue();
        Viewport* vp = viewport;
        engine->doViewport(vp);
        sm->render3DScene();
    }

    sm->setCurrentCamera(sm->get2DCamera());
    sm->insertFront2DSceneIntoRenderQueue();
    sm->renderFront2DScene();
    window->swapBuffer();
}

}  // namespace Dove
