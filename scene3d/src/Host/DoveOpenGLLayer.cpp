#include "DoveOpenGLLayer.h"

#include <QImage>
#include <QWidget>

#include "DoveOGLRenderEngine.h"
#include "DoveSceneManager.h"

namespace Dove {

DoveOpenGLLayer::DoveOpenGLLayer(const kpv::Rect& frame) : kpv::OpenGLView(frame) {}

void DoveOpenGLLayer::drawRect(const kpv::Rect&) {
    const kpv::Rect b = bounds();
    if (SceneManager* sm = SceneManager::peekSingleton()) sm->setRenderSize(float(b.width()), float(b.height()));
    if (OGLRenderEngine* engine = OGLRenderEngine::current()) {
        // The view draws into a frame-buffer object of its own, bound before we are called.
        engine->setSystemFramebuffer(defaultFramebufferObject());
        engine->setSystemPixelScale(widget()->devicePixelRatioF());
        engine->bindSystemFramebuffer();
    }
    if (mDelegate) mDelegate->drawLayer(this);
}

QImage DoveOpenGLLayer::grabFrame() { return grabFramebuffer(); }

}  // namespace Dove
