#include "DoveOpenGLLayer.h"

#include <QImage>
#include <QOpenGLWidget>

#include "DoveOGLRenderEngine.h"
#include "DoveSceneManager.h"

namespace Dove {

DoveOpenGLLayer::DoveOpenGLLayer(const kpv::Rect& frame) : kpv::OpenGLView(frame) {}

void DoveOpenGLLayer::drawRect(const kpv::Rect&) {
    const kpv::Rect b = bounds();
    if (SceneManager* sm = SceneManager::peekSingleton()) sm->setRenderSize(float(b.width()), float(b.height()));
    if (OGLRenderEngine* engine = OGLRenderEngine::current()) {
        // The widget draws into a frame-buffer object of its own, bound before we are called.
        auto* w = static_cast<QOpenGLWidget*>(widget());
        engine->setSystemFramebuffer(w->defaultFramebufferObject());
        engine->bindSystemFramebuffer();
    }
    if (mDelegate) mDelegate->drawLayer(this);
}

QImage DoveOpenGLLayer::grabFrame() { return static_cast<QOpenGLWidget*>(widget())->grabFramebuffer(); }

}  // namespace Dove
