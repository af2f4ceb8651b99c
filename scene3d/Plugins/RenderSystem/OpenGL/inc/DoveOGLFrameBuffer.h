// Frame buffers and render buffers on OpenGL, and the render window: the frame buffer of the
// window system that one frame of the whole scene is drawn into.
#ifndef DOVE_OGLFRAMEBUFFER_H
#define DOVE_OGLFRAMEBUFFER_H

#include "DoveFrameBuffer.h"
#include "DoveRenderEngine.h"

namespace Dove {

class OGLTexture;
class OGLRenderView;

class OGLFrameBuffer : public FrameBuffer {
public:
    // ownObject non-zero: a frame-buffer object of its own; 0: the window system's frame buffer.
    OGLFrameBuffer(long ownObject, unsigned int width, unsigned int height);
    ~OGLFrameBuffer() override;

    void onBind() override;
    void clear(unsigned int flags, const Color& colour, float depth, int stencil) override;
    void render() override {}
    void swapBuffer() override {}
    void startRender() override {}
    void stopRender() override {}

    uint32_t getFrameBufferName() const { return mName; }

protected:
    // Binds this frame buffer in OpenGL and records it in the engine.
    void bindObject();

    uint32_t mName = 0;
};

class OGLRenderBuffer : public RenderBuffer {
public:
    OGLRenderBuffer(unsigned int width, unsigned int height);
    ~OGLRenderBuffer() override;
    uint32_t getRenderBufferName() const { return mName; }

protected:
    uint32_t mName = 0;
};

class OGLScreenColorRenderBuffer : public OGLRenderBuffer {
public:
    using OGLRenderBuffer::OGLRenderBuffer;
    void onAttached(FrameBuffer* fb, RenderBufferAttachment attachment) override;
    void onDetached(FrameBuffer* fb, RenderBufferAttachment attachment) override;
};

class OGLScreenDepthStencilRenderBuffer : public OGLRenderBuffer {
public:
    using OGLRenderBuffer::OGLRenderBuffer;
    void onAttached(FrameBuffer* fb, RenderBufferAttachment attachment) override;
    void onDetached(FrameBuffer* fb, RenderBufferAttachment attachment) override;
};

class OGLTexture2DRenderBuffer : public OGLRenderBuffer {
public:
    explicit OGLTexture2DRenderBuffer(OGLTexture* texture);
    ~OGLTexture2DRenderBuffer() override;
    void onAttached(FrameBuffer* fb, RenderBufferAttachment attachment) override;
    void onDetached(FrameBuffer* fb, RenderBufferAttachment attachment) override;
    void setTexture(OGLTexture* texture);
    OGLTexture* getTexture() const { return mTexture; }

private:
    OGLTexture* mTexture = nullptr;
};

class OGLDepthStencilRenderBuffer : public OGLRenderBuffer {
public:
    explicit OGLDepthStencilRenderBuffer(OGLTexture* texture);
    OGLDepthStencilRenderBuffer(unsigned int width, unsigned int height);
    ~OGLDepthStencilRenderBuffer() override;
    void onAttached(FrameBuffer* fb, RenderBufferAttachment attachment) override;
    void onDetached(FrameBuffer* fb, RenderBufferAttachment attachment) override;

private:
    OGLTexture* mTexture = nullptr;
};

// The window system's frame buffer inside the host view. render() draws one whole frame.
class OGLRenderWindow : public OGLFrameBuffer {
public:
    OGLRenderWindow() : OGLFrameBuffer(0, 0, 0) {}
    ~OGLRenderWindow() override;

    // Builds the view inside the display parameter's host view and takes the host's size.
    void createWithDisplayParam(DisplayParam* param);
    void render() override;
    void swapBuffer() override;
    void setSystemRenderBuffer() override;
    void startRender() override;
    void stopRender() override;
    void requestFrame() override;
    OGLRenderView* getView() const { return mView; }
    // Frames drawn since the window was made.
    uint64_t getFramesDrawn() const { return mFramesDrawn; }

private:
    OGLRenderView* mView = nullptr;
    uint64_t mFramesDrawn = 0;
};

}  // namespace Dove

#endif
