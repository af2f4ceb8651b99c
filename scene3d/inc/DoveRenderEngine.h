// The render engine: applies render states, sets viewports, binds frame buffers, draws a render
// operation with a technique and drives the frame timer of the window it renders into. One
// instance, made by the render factory.
#ifndef DOVE_RENDERENGINE_H
#define DOVE_RENDERENGINE_H

#include <cstdint>

namespace Dove {

class RasterizerState;
class DepthState;
class StencilState;
class BlendState;
class FrameBuffer;
class Viewport;
class RenderTechnique;
class RenderOperation;

// The argument of initDisplayParam: the host view the engine renders inside (owned by the host).
struct DisplayParam {
    void* hostView = nullptr;
};

class RenderEngine {
public:
    static RenderEngine* getSingleton();
    static RenderEngine* peekSingleton();
    static void releaseSingleton();

    virtual ~RenderEngine() = default;

    virtual void initDisplayParam(DisplayParam* param) = 0;
    virtual void* getNativeOpenGLESContext() = 0;
    virtual void setRasterizerState(RasterizerState* state) = 0;
    virtual void setDepthState(DepthState* state) = 0;
    virtual void setStencilState(StencilState* state) = 0;
    virtual void setBlendState(BlendState* state) = 0;
    virtual void forceFlush() = 0;
    virtual void suspend() = 0;
    virtual void resume() = 0;
    virtual void setCurrent() = 0;
    virtual void restoreGLContext() = 0;
    virtual void startRender();
    virtual void stopRender();
    // Has the screen drawn once more although rendering is stopped (a paused scene that changed).
    void requestFrame();
    virtual void doViewport(Viewport* const& viewport) = 0;
    virtual void doRender(RenderTechnique* technique, RenderOperation* operation) = 0;

    // Binds the frame buffer (the screen's when null), runs its onBind and sets its first viewport.
    void bindFrameBuffer(FrameBuffer* const& frameBuffer);
    FrameBuffer*& getScreenFrameBuffer() { return mScreenFrameBuffer; }
    FrameBuffer*& getCurFrameBuffer() { return mCurFrameBuffer; }
    void getScreenFrameBufferSize(unsigned int* width, unsigned int* height) const;
    void render(RenderTechnique* technique, RenderOperation* operation) { doRender(technique, operation); }

    // The frame limiter: true at most once per 20 ms of the engine clock.
    static bool needToRender();
    // Forgets the last frame time (tests start from a known state).
    static void resetFrameLimiter();

    RasterizerState* getCurrentRasterizerState() const { return mRasterizerState; }
    DepthState* getCurrentDepthState() const { return mDepthState; }
    StencilState* getCurrentStencilState() const { return mStencilState; }
    BlendState* getCurrentBlendState() const { return mBlendState; }

private:
    // When the frame limiter last let a frame through; a new engine starts afresh.
    uint32_t mLastFrameTime = 0;

protected:
    RenderEngine() = default;

    RasterizerState* mRasterizerState = nullptr;
    DepthState* mDepthState = nullptr;
    StencilState* mStencilState = nullptr;
    BlendState* mBlendState = nullptr;
    FrameBuffer* mScreenFrameBuffer = nullptr;
    FrameBuffer* mCurFrameBuffer = nullptr;
};

// One frame into a render window: bind and clear it, update the animations, draw the back 2D
// scene, the 3D scene once per viewport in ascending index order, the front 2D scene, and swap.
// Backends call it from their window's render(), after setting up the frame's blending.
void renderOneFrame(FrameBuffer* window);

}  // namespace Dove

#endif
