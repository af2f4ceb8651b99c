#include "DoveOGLFrameBuffer.h"

#include <cassert>

#include "DoveOGLContext.h"
#include "DoveOGLRenderEngine.h"
#include "DoveOGLTexture.h"
#include "DoveRenderFactory.h"
#include "OGLCommon.h"

namespace Dove {

namespace {

// Binds the frame buffer's object (or the window system's) through the engine, which records it.
void bindFrameBufferObject(FrameBuffer* fb) {
    OGLRenderEngine* engine = OGLRenderEngine::current();
    auto* ogl = dynamic_cast<OGLFrameBuffer*>(fb);
    const uint32_t name = ogl ? ogl->getFrameBufferName() : 0;
    if (!engine) {
        glBindFramebuffer(GL_FRAMEBUFFER, name);
        drainGLErrors();
    } else if (name == 0) {
        engine->bindSystemFramebuffer();
    } else {
        engine->bindFramebuffer(name);
    }
}

void rebindRecorded(uint32_t name) {
    OGLRenderEngine* engine = OGLRenderEngine::current();
    if (!engine) return;
    if (name == 0)
        engine->bindSystemFramebuffer();
    else
        engine->bindFramebuffer(name);
}

}  // namespace

// ---- Frame buffers ----

OGLFrameBuffer::OGLFrameBuffer(long ownObject, unsigned int width, unsigned int height) : FrameBuffer(width, height) {
    if (!ownObject || !glReady()) return;
    GLuint n = 0;
    glGenFramebuffers(1, &n);
    drainGLErrors();
    mName = n;
}

OGLFrameBuffer::~OGLFrameBuffer() {
    // The attachments go first, while this object still exists to detach them from.
    releaseAttachments();
    if (mName != 0 && glReady()) {
        OGLRenderEngine* engine = OGLRenderEngine::current();
        if (engine && engine->getBoundFramebuffer() == mName) engine->bindSystemFramebuffer();
        GLuint n = mName;
        glDeleteFramebuffers(1, &n);
        drainGLErrors();
    }
}

void OGLFrameBuffer::bindObject() { bindFrameBufferObject(this); }

void OGLFrameBuffer::onBind() {
    bindObject();
    glCheckFramebufferStatus(GL_FRAMEBUFFER);  // the answer is not used: an incomplete target draws nothing
    drainGLErrors();
    if (mName == 0) {
        // The window system's buffer: its back buffer, or the host's colour attachment when the
        // host draws into a frame-buffer object of its own.
        OGLRenderEngine* engine = OGLRenderEngine::current();
        const bool hostObject = engine && engine->getSystemFramebuffer() != 0;
        glDrawBuffer(hostObject ? GL_COLOR_ATTACHMENT0 : GL_BACK_LEFT);
        drainGLErrors();
        return;
    }
    GLenum buffers[8];
    GLsizei count = 0;
    for (int i = 0; i < 8; ++i)
        if (mColor[i]) buffers[count++] = GLenum(GL_COLOR_ATTACHMENT0 + i);
    if (count > 0) {
        glDrawBuffers(count, buffers);
    } else {
        // Nothing to draw colour into; an empty list would be an error on some drivers.
        glDrawBuffer(GL_NONE);
    }
    drainGLErrors();
}

void OGLFrameBuffer::clear(unsigned int flags, const Color& colour, float depth, int stencil) {
    OGLRenderEngine* engine = OGLRenderEngine::current();
    const uint32_t previous = engine ? engine->getBoundFramebuffer() : 0;
    bindObject();
    if (auto* rb = dynamic_cast<OGLRenderBuffer*>(mColor[0])) {
        glBindRenderbuffer(GL_RENDERBUFFER, rb->getRenderBufferName());
        drainGLErrors();
    }
    GLbitfield mask = 0;
    if (flags & 1) {
        glClearColor(colour.r, colour.g, colour.b, colour.a);
        mask |= GL_COLOR_BUFFER_BIT;
    }
    if (flags & 2) {
        glClearDepth(depth);
        mask |= GL_DEPTH_BUFFER_BIT;
    }
    if (flags & 4) {
        glClearStencil(stencil);
        mask |= GL_STENCIL_BUFFER_BIT;
    }
    if (mask) {
        // Writes the clear must reach even when a pass left depth writing off.
        GLboolean depthMask = GL_TRUE;
        glGetBooleanv(GL_DEPTH_WRITEMASK, &depthMask);
        if (flags & 2) glDepthMask(GL_TRUE);
        glClear(mask);
        if (flags & 2) glDepthMask(depthMask);
    }
    drainGLErrors();
    rebindRecorded(previous);
}

// ---- Render buffers ----

OGLRenderBuffer::OGLRenderBuffer(unsigned int width, unsigned int height) : RenderBuffer(width, height) {
    if (!glReady()) return;
    GLuint n = 0;
    glGenRenderbuffers(1, &n);
    drainGLErrors();
    mName = n;
}

OGLRenderBuffer::~OGLRenderBuffer() {
    if (mName == 0 || !glReady()) return;
    GLuint n = mName;
    glDeleteRenderbuffers(1, &n);
    drainGLErrors();
}

void OGLScreenColorRenderBuffer::onAttached(FrameBuffer* fb, RenderBufferAttachment attachment) {
    assert(attachment == RBA_COLOR0 && "OGLScreenColorRenderBuffer should bind RBA_COLOR0");
    bindFrameBufferObject(fb);
    glBindRenderbuffer(GL_RENDERBUFFER, mName);
    drainGLErrors();
    fb->setSystemRenderBuffer();
    glFramebufferRenderbuffer(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_RENDERBUFFER, mName);
    drainGLErrors();
}

void OGLScreenColorRenderBuffer::onDetached(FrameBuffer* fb, RenderBufferAttachment) { bindFrameBufferObject(fb); }

void OGLScreenDepthStencilRenderBuffer::onAttached(FrameBuffer* fb, RenderBufferAttachment) {
    bindFrameBufferObject(fb);
}

void OGLScreenDepthStencilRenderBuffer::onDetached(FrameBuffer* fb, RenderBufferAttachment) {
    bindFrameBufferObject(fb);
}

OGLTexture2DRenderBuffer::OGLTexture2DRenderBuffer(OGLTexture* texture)
    : OGLRenderBuffer(texture ? texture->getWidth() : 0, texture ? texture->getHeight() : 0), mTexture(texture) {
    if (mTexture) mTexture->addRef();
}

OGLTexture2DRenderBuffer::~OGLTexture2DRenderBuffer() { setTexture(nullptr); }

void OGLTexture2DRenderBuffer::setTexture(OGLTexture* texture) {
    if (texture) texture->addRef();
    OGLTexture* old = mTexture;
    mTexture = texture;
    if (old && old->release() == 0) delete old;
    if (mTexture) {
        mWidth = mTexture->getWidth();
        mHeight = mTexture->getHeight();
    }
}

void OGLTexture2DRenderBuffer::onAttached(FrameBuffer* fb, RenderBufferAttachment attachment) {
    bindFrameBufferObject(fb);
    glFramebufferTexture2D(GL_FRAMEBUFFER, GLenum(GL_COLOR_ATTACHMENT0 + attachment), GL_TEXTURE_2D,
                           mTexture ? mTexture->getTextureID() : 0, 0);
    drainGLErrors();
    if (OGLRenderEngine* engine = OGLRenderEngine::current()) engine->bindSystemFramebuffer();
}

void OGLTexture2DRenderBuffer::onDetached(FrameBuffer* fb, RenderBufferAttachment attachment) {
    bindFrameBufferObject(fb);
    glFramebufferTexture2D(GL_FRAMEBUFFER, GLenum(GL_COLOR_ATTACHMENT0 + attachment), GL_TEXTURE_2D, 0, 0);
    drainGLErrors();
    if (OGLRenderEngine* engine = OGLRenderEngine::current()) engine->bindSystemFramebuffer();
}

OGLDepthStencilRenderBuffer::OGLDepthStencilRenderBuffer(OGLTexture* texture)
    : OGLRenderBuffer(texture ? texture->getWidth() : 0, texture ? texture->getHeight() : 0), mTexture(texture) {
    if (mTexture) mTexture->addRef();
}

OGLDepthStencilRenderBuffer::OGLDepthStencilRenderBuffer(unsigned int width, unsigned int height)
    : OGLRenderBuffer(width, height) {
    if (mName == 0) return;
    glBindRenderbuffer(GL_RENDERBUFFER, mName);
    glRenderbufferStorage(GL_RENDERBUFFER, GL_DEPTH24_STENCIL8, GLsizei(width), GLsizei(height));
    drainGLErrors();
}

OGLDepthStencilRenderBuffer::~OGLDepthStencilRenderBuffer() {
    if (mTexture && mTexture->release() == 0) delete mTexture;
}

void OGLDepthStencilRenderBuffer::onAttached(FrameBuffer* fb, RenderBufferAttachment) {
    bindFrameBufferObject(fb);
    glFramebufferRenderbuffer(GL_FRAMEBUFFER, GL_DEPTH_STENCIL_ATTACHMENT, GL_RENDERBUFFER, mName);
    drainGLErrors();
    if (OGLRenderEngine* engine = OGLRenderEngine::current()) engine->bindSystemFramebuffer();
}

void OGLDepthStencilRenderBuffer::onDetached(FrameBuffer* fb, RenderBufferAttachment) {
    bindFrameBufferObject(fb);
    glFramebufferRenderbuffer(GL_FRAMEBUFFER, GL_DEPTH_STENCIL_ATTACHMENT, GL_RENDERBUFFER, 0);
    drainGLErrors();
    if (OGLRenderEngine* engine = OGLRenderEngine::current()) engine->bindSystemFramebuffer();
}

// ---- Render window ----

OGLRenderWindow::~OGLRenderWindow() {
    delete mView;
    mView = nullptr;
    OGLContext::releaseSingleton();
}

void OGLRenderWindow::createWithDisplayParam(DisplayParam* param) {
    delete mView;
    mView = OGLRenderView::create(param ? param->hostView : nullptr, this);
    unsigned int w = 0, h = 0;
    if (mView) mView->getHostSize(&w, &h);
    setSize(w, h);
}

void OGLRenderWindow::render() {
    // Blending for the whole frame: colour by source alpha, alpha accumulated over the target.
    glEnable(GL_BLEND);
    glBlendFuncSeparate(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA, GL_ONE, GL_ONE_MINUS_SRC_ALPHA);
    drainGLErrors();
    renderOneFrame(this);
    ++mFramesDrawn;
}

void OGLRenderWindow::swapBuffer() {
    OGLContext* context = OGLContext::peekSingleton();
    assert(context && "RenderWindow::swapBuffer failed, no OGLContext created.");
    if (context) context->swapBuffer();
}

void OGLRenderWindow::setSystemRenderBuffer() {
    OGLContext* context = OGLContext::peekSingleton();
    assert(context && "RenderWindow::swapBuffer failed, no OGLContext created.");
    if (context) context->setSystemRenderBuffer();
}

void OGLRenderWindow::startRender() {
    if (mView) mView->startRender();
}

void OGLRenderWindow::stopRender() {
    if (mView) mView->stopRender();
}

void OGLRenderWindow::requestFrame() {
    if (mView) mView->requestFrame();
}

}  // namespace Dove
