#include "DoveOGLRenderState.h"

#include "DoveRenderEngine.h"
#include "OGLCommon.h"

namespace Dove {

// Both compare against the engine's current state, which still holds the previously applied value
// while active() runs.
void OGLRasterizerState::active() {
    RenderEngine* engine = RenderEngine::peekSingleton();
    const RasterizerState* cur = engine ? engine->getCurrentRasterizerState() : nullptr;
    if (cur && cur->cullMode == cullMode) return;
    switch (cullMode) {
        case 0: glDisable(GL_CULL_FACE); break;
        case 1:
            glEnable(GL_CULL_FACE);
            glCullFace(GL_FRONT);
            break;
        case 2:
            glEnable(GL_CULL_FACE);
            glCullFace(GL_BACK);
            break;
        default: return;  // an unknown mode leaves culling as it was
    }
    drainGLErrors();
}

void OGLDepthState::active() {
    RenderEngine* engine = RenderEngine::peekSingleton();
    const DepthState* cur = engine ? engine->getCurrentDepthState() : nullptr;
    if (!cur || cur->depthTest != depthTest) {
        if (depthTest)
            glEnable(GL_DEPTH_TEST);
        else
            glDisable(GL_DEPTH_TEST);
    }
    if (!cur || cur->depthWrite != depthWrite) glDepthMask(depthWrite ? GL_TRUE : GL_FALSE);
    drainGLErrors();
}

}  // namespace Dove
