#include "DoveHostRenderSystem.h"

#include <QOpenGLContext>

#include "DoveOGLRenderEngine.h"
#include "DoveQtOGLContext.h"
#include "DoveRenderView.h"
#include "appkit/View.h"

namespace Dove {

namespace {
OGLContext* makeContext() { return new QtOGLContext(); }
bool anyContextCurrent() { return QOpenGLContext::currentContext() != nullptr; }
OGLRenderView* makeView(void* hostView, OGLRenderWindow* window) {
    return new DoveRenderView(static_cast<kpv::View*>(hostView), window);
}
}  // namespace

void installHostRenderSystem() {
    OGLRenderFactory::install();
    OGLContext::setMaker(&makeContext);
    OGLContext::setCurrentQuery(&anyContextCurrent);
    OGLRenderView::setMaker(&makeView);
}

}  // namespace Dove
