// Drawing targets: a frame buffer with a size, up to eight colour attachments, one depth-stencil
// attachment and viewports kept by index; render buffers are what gets attached.
#ifndef DOVE_FRAMEBUFFER_H
#define DOVE_FRAMEBUFFER_H

#include <cstdint>
#include <map>

#include "DoveMath.h"
#include "DoveObject.h"

namespace Dove {

class Camera;
class Viewport;
class FrameBuffer;

// 0..7 colour attachments, 8 the depth-stencil attachment.
enum RenderBufferAttachment {
    RBA_COLOR0 = 0, RBA_COLOR1, RBA_COLOR2, RBA_COLOR3, RBA_COLOR4, RBA_COLOR5, RBA_COLOR6, RBA_COLOR7,
    RBA_DEPTH_STENCIL = 8,
};

class RenderBuffer : public Refcount {
public:
    RenderBuffer(unsigned int width, unsigned int height) : mWidth(width), mHeight(height) {}
    ~RenderBuffer() override = default;
    virtual void clearColor(const Color&) {}
    virtual void clearDepth(float) {}
    virtual void clearStencil(long) {}
    virtual void onAttached(FrameBuffer* fb, RenderBufferAttachment attachment) = 0;
    virtual void onDetached(FrameBuffer* fb, RenderBufferAttachment attachment) = 0;
    virtual void onBind(FrameBuffer*, RenderBufferAttachment) {}
    virtual void onUnbind(FrameBuffer*, RenderBufferAttachment) {}

    uint32_t getWidth() const { return mWidth; }
    uint32_t getHeight() const { return mHeight; }

protected:
    uint32_t mWidth, mHeight;
};

class FrameBuffer : public Refcount {
public:
    FrameBuffer(unsigned int width, unsigned int height) : mWidth(width), mHeight(height) {}
    // Deletes the viewports, then releases every attached render buffer through the factory.
    ~FrameBuffer() override;

    virtual void onBind() {}
    virtual void onUnbind() {}
    // Flags: 1 colour, 2 depth, 4 stencil.
    virtual void clear(unsigned int flags, const Color& colour, float depth, int stencil) = 0;
    virtual void render() = 0;
    virtual void swapBuffer() = 0;
    virtual void setSystemRenderBuffer() {}
    virtual void startRender() = 0;
    virtual void stopRender() = 0;
    // One more frame of the window while rendering is stopped; nothing for an off-screen buffer.
    virtual void requestFrame() {}

    void attach(RenderBuffer* buffer, RenderBufferAttachment attachment);
    void detach(RenderBufferAttachment attachment);
    RenderBuffer* getAttachment(RenderBufferAttachment attachment) const;

    Viewport* addViewport(Camera* camera, float left, float top, float width, float height, int index);
    Viewport* addViewportWithActualValue(Camera* camera, int x, int y, int width, int height, int index);
    Viewport* addViewport(Viewport* viewport);
    // Deletes the viewport stored under the index when it is this one (a camera going away takes
    // its viewport with it).
    void removeViewport(Viewport* viewport);
    // The n-th viewport in ascending order of index (not the one whose index is n).
    Viewport* getViewport(unsigned int n) const;
    size_t getViewportCount() const { return mViewports.size(); }
    const std::map<int, Viewport*>& getViewports() const { return mViewports; }

    uint32_t getWidth() const { return mWidth; }
    uint32_t getHeight() const { return mHeight; }
    void setSize(unsigned int width, unsigned int height) {
        mWidth = width;
        mHeight = height;
    }

protected:
    // Detaches and releases every attachment (for backends whose destructor runs first).
    void releaseAttachments();

    uint32_t mWidth, mHeight;
    std::map<int, Viewport*> mViewports;
    RenderBuffer* mColor[8] = {};
    RenderBuffer* mDepthStencil = nullptr;
};

}  // namespace Dove

#endif
