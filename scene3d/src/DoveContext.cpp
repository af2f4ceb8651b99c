#include "DoveContext.h"

#include "DoveRenderEngine.h"
#include "DoveRenderFactory.h"
#include "DoveResManager.h"
#include "DoveTime.h"

namespace Dove {

namespace {
Context* gContext = nullptr;
}

Context* Context::getSingleton() {
    if (!gContext) gContext = new Context();
    return gContext;
}

void Context::init() {
    RenderFactory::getSingleton();
    mRenderEngine = RenderEngine::getSingleton();
    ResManager::getSingleton();
    TimeGlobal::getSingleton();
}

void Context::releaseSingleton() {
    if (!gContext) return;
    // The resource manager hands its GPU objects back through the factory, so it goes before the
    // factory; the engine's own state objects are released through the factory too.
    ResManager::releaseSingleton();
    RenderEngine::releaseSingleton();
    RenderFactory::releaseSingleton();
    TimeGlobal::releaseSingleton();
    delete gContext;
    gContext = nullptr;
}

}  // namespace Dove
