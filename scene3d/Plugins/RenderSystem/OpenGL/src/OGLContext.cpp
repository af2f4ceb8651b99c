#include "DoveOGLContext.h"

namespace Dove {

namespace {
OGLContext* gContext = nullptr;
OGLContext::Maker gContextMaker = nullptr;
OGLContext::CurrentQuery gCurrentQuery = nullptr;
OGLRenderView::Maker gViewMaker = nullptr;
}  // namespace

OGLContext* OGLContext::getSingleton() {
    if (!gContext && gContextMaker) gContext = gContextMaker();
    return gContext;
}

OGLContext* OGLContext::peekSingleton() { return gContext; }

void OGLContext::releaseSingleton() {
    OGLContext* c = gContext;
    gContext = nullptr;
    delete c;
}

void OGLContext::setMaker(Maker maker) { gContextMaker = maker; }

bool OGLContext::hasCurrentContext() { return gCurrentQuery ? gCurrentQuery() : true; }

void OGLContext::setCurrentQuery(CurrentQuery query) { gCurrentQuery = query; }

OGLRenderView* OGLRenderView::create(void* hostView, OGLRenderWindow* window) {
    return gViewMaker ? gViewMaker(hostView, window) : nullptr;
}

void OGLRenderView::setMaker(Maker maker) { gViewMaker = maker; }

}  // namespace Dove
