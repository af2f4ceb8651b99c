#include "DoveFrameBuffer.h"

#include "DoveRenderFactory.h"
#include "DoveViewport.h"

namespace Dove {

FrameBuffer::~FrameBuffer() {
    for (auto& [index, vp] : mViewports) delete vp;
    mViewports.clear();
    releaseAttachments();
}

void FrameBuffer::releaseAttachments() {
    RenderFactory* f = RenderFactory::peekSingleton();
    for (int i = 0; i <= RBA_DEPTH_STENCIL; ++i) {
        RenderBufferAttachment a = RenderBufferAttachment(i);
        RenderBuffer* b = getAttachment(a);
        if (!b) continue;
        detach(a);
        if (f) f->releaseRenderBuffer(b);
    }
}

RenderBuffer* FrameBuffer::getAttachment(RenderBufferAttachment attachment) const {
    if (attachment == RBA_DEPTH_STENCIL) return mDepthStencil;
    if (attachment < 0 || attachment > RBA_DEPTH_STENCIL) return nullptr;
    return mColor[attachment];
}

void FrameBuffer::attach(RenderBuffer* buffer, RenderBufferAttachment attachment) {
    if (!buffer || attachment < 0 || attachment > RBA_DEPTH_STENCIL) return;
    if (getAttachment(attachment)) detach(attachment);
    if (attachment == RBA_DEPTH_STENCIL)
        mDepthStencil = buffer;
    else
        mColor[attachment] = buffer;
    buffer->onAttached(this, attachment);
}

void FrameBuffer::detach(RenderBufferAttachment attachment) {
    RenderBuffer* b = getAttachment(attachment);
    if (!b) return;
    b->onDetached(this, attachment);
    if (attachment == RBA_DEPTH_STENCIL)
        mDepthStencil = nullptr;
    else
        mColor[attachment] = nullptr;
}

// A viewport replaced under its index is deleted: nothing else owns it.
Viewport* FrameBuffer::addViewport(Viewport* viewport) {
    if (!viewport) return nullptr;
    auto& slot = mViewports[viewport->getIndex()];
    if (slot && slot != viewport) delete slot;
    slot = viewport;
    return viewport;
}

void FrameBuffer::removeViewport(Viewport* viewport) {
    if (!viewport) return;
    auto it = mViewports.find(viewport->getIndex());
    if (it == mViewports.end() || it->second != viewport) return;
    mViewports.erase(it);
    delete viewport;
}

Viewport* FrameBuffer::addViewport(Camera* camera, float left, float top, float width, float height, int index) {
    return addViewport(new Viewport(camera, this, index, left, top, width, height));
}

Viewport* FrameBuffer::addViewportWithActualValue(Camera* camera, int x, int y, int width, int height, int index) {
    auto* vp = new Viewport(camera, this, index, 0, 0, 1, 1);
    vp->setActualValue(x, y, width, height);
    return addViewport(vp);
}

Viewport* FrameBuffer::getViewport(unsigned int n) const {
    if (n >= mViewports.size()) return nullptr;
    auto it = mViewports.begin();
    std::advance(it, n);
    return it->second;
}

}  // namespace Dove
