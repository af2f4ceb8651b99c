// The null backend: every render-system object without a GPU. Buffers keep their bytes, textures
// keep their pixels, and the engine records what it was asked to do, so that scene, camera,
// animation and resource code runs and can be checked anywhere.
#ifndef DOVE_NULLRENDER_H
#define DOVE_NULLRENDER_H

#include <cstdint>
#include <string>
#include <vector>

#include "DoveFrameBuffer.h"
#include "DoveGraphicsBuffer.h"
#include "DoveRenderEngine.h"
#include "DoveRenderFactory.h"
#include "DoveShaderProgram.h"
#include "DoveTexture.h"

namespace Dove {

// What a null host view is: a size in pixels.
struct NullHostView {
    unsigned int width = 0;
    unsigned int height = 0;
};

class NullVertexBuffer : public VertexBuffer {
public:
    NullVertexBuffer(unsigned int vertexSize, unsigned int vertexCount, BufferUsage usage);
    uint32_t getBufferID() const override { return mId; }
    void active() override {}
    void writeData(unsigned int offset, unsigned int size, const void* data) override;
    const std::vector<uint8_t>& bytes() const { return mBytes; }

private:
    uint32_t mId;
    std::vector<uint8_t> mBytes;
};

class NullIndexBuffer : public IndexBuffer {
public:
    NullIndexBuffer(IndexType type, unsigned int indexCount, BufferUsage usage);
    uint32_t getBufferID() const override { return mId; }
    void active() override {}
    void writeData(unsigned int offset, unsigned int size, const void* data) override;
    const std::vector<uint8_t>& bytes() const { return mBytes; }

private:
    uint32_t mId;
    std::vector<uint8_t> mBytes;
};

class NullRenderOperation : public RenderOperation {
public:
    void active(ShaderProgram* program) override;
    void deactive(ShaderProgram*) override {}
    // Vertex elements skipped because the program had no attribute for their usage.
    int skippedElements() const { return mSkipped; }

private:
    int mSkipped = 0;
};

class NullTexture : public Texture {
public:
    explicit NullTexture(const std::string& name);
    // Like a program, a texture freed without the engine's context current stays in the driver;
    // the null backend counts such frees.
    ~NullTexture() override;
    static int sDeletedWithoutContext;
    uint32_t getTextureID() const override { return mId; }
    long createBlankTexture(unsigned int width, unsigned int height) override;
    long createFromMBitmap(MBITMAP* bitmap) override;
    long createPureTexture(unsigned int width, unsigned int height, Color colour) override;
    long createFromMBitmapWithAutoFit(MBITMAP* bitmap, unsigned int width, unsigned int height, long fit) override;
    // The stored pixels, tightly packed in the texture's format.
    const std::vector<uint8_t>& pixels() const { return mPixels; }

    // Makes every following upload fail (for tests of failure paths).
    static bool sFailUploads;

private:
    uint32_t mId;
    std::vector<uint8_t> mPixels;
};

class NullShaderProgram : public ShaderProgram {
public:
    explicit NullShaderProgram(const std::string& name) : ShaderProgram(name) {}
    // A real program can only be deleted while the engine's context is current; without it the
    // driver keeps the program for good. The null backend counts such deletions.
    ~NullShaderProgram() override;
    static int sDeletedWithoutContext;
    bool attachShader(ShaderType type, const std::string& source) override;
    bool linkShader() override;
    void bind() override { ++mBinds; }
    void unbind() override {}
    int getAttribLocation(VertexElementUsage usage) override;
    int binds() const { return mBinds; }

private:
    std::string mSources[2];
    int mBinds = 0;
};

class NullRenderBuffer : public RenderBuffer {
public:
    NullRenderBuffer(unsigned int width, unsigned int height, Texture* texture);
    ~NullRenderBuffer() override;
    void onAttached(FrameBuffer*, RenderBufferAttachment) override {}
    void onDetached(FrameBuffer*, RenderBufferAttachment) override {}
    Texture* getTexture() const { return mTexture; }

private:
    Texture* mTexture;
};

class NullFrameBuffer : public FrameBuffer {
public:
    NullFrameBuffer(unsigned int width, unsigned int height) : FrameBuffer(width, height) {}
    void clear(unsigned int flags, const Color& colour, float depth, int stencil) override;
    void render() override {}
    void swapBuffer() override {}
    void startRender() override {}
    void stopRender() override {}
    unsigned int lastClearFlags() const { return mLastClearFlags; }
    int clears() const { return mClears; }

private:
    unsigned int mLastClearFlags = 0;
    int mClears = 0;
};

// The window the null engine renders into: a frame buffer whose render() draws one frame.
class NullRenderWindow : public NullFrameBuffer {
public:
    NullRenderWindow() : NullFrameBuffer(0, 0) {}
    void render() override { renderOneFrame(this); }
    void swapBuffer() override { ++mSwaps; }
    void startRender() override { mRunning = true; }
    void stopRender() override { mRunning = false; }
    void requestFrame() override { ++mFramesRequested; }
    bool isRunning() const { return mRunning; }
    int swaps() const { return mSwaps; }
    int framesRequested() const { return mFramesRequested; }

private:
    bool mRunning = false;
    int mFramesRequested = 0;
    int mSwaps = 0;
};

class NullRenderEngine : public RenderEngine {
public:
    struct Draw {
        RenderTechnique* technique;
        RenderOperation* operation;
        int passes;
    };

    explicit NullRenderEngine(RenderFactory* factory);
    ~NullRenderEngine() override;

    void initDisplayParam(DisplayParam* param) override;
    void* getNativeOpenGLESContext() override { return nullptr; }
    void setRasterizerState(RasterizerState* state) override;
    void setDepthState(DepthState* state) override;
    void setStencilState(StencilState* state) override;
    void setBlendState(BlendState* state) override;
    void forceFlush() override { ++mFlushes; }
    void suspend() override { mCurrent = false; }
    void resume() override { setCurrent(); }
    void setCurrent() override;
    void restoreGLContext() override;
    void doViewport(Viewport* const& viewport) override;
    void doRender(RenderTechnique* technique, RenderOperation* operation) override;

    const std::vector<Draw>& draws() const { return mDraws; }
    void clearDraws() { mDraws.clear(); }
    int stateChanges() const { return mStateChanges; }
    int flushes() const { return mFlushes; }
    bool isCurrent() const { return mCurrent; }
    const std::vector<Viewport*>& viewportsSet() const { return mViewportsSet; }
    NullRenderWindow* window() const { return static_cast<NullRenderWindow*>(mScreenFrameBuffer); }

private:
    RenderFactory* mFactory;
    std::vector<Draw> mDraws;
    std::vector<Viewport*> mViewportsSet;
    int mStateChanges = 0;
    int mFlushes = 0;
    bool mCurrent = false;
    bool mWasCurrent = false;
};

class NullRenderFactory : public RenderFactory {
public:
    VertexBuffer* createVertexBuffer(unsigned int vertexSize, unsigned int vertexCount,
                                     GraphicsBuffer::BufferUsage usage) override;
    IndexBuffer* createIndexBuffer(IndexBuffer::IndexType type, unsigned int indexCount,
                                   GraphicsBuffer::BufferUsage usage) override;
    FrameBuffer* createFrameBuffer(unsigned int width, unsigned int height) override;
    RenderBuffer* createTexture2DRenderBuffer(Texture* texture) override;
    RenderBuffer* createDepthStencilRenderBuffer(Texture* texture) override;
    Texture* createTexture(unsigned int width, unsigned int height, const std::string& name) override;
    ShaderProgram* createShaderProgram(const std::string& name) override;
    RenderOperation* createRenderOperation() override;
    RasterizerState* createRasterizerState() override;
    DepthState* createDepthState() override;
    StencilState* createStencilState() override;
    BlendState* createBlendState() override;
    SamplerState* createSamplerState() override;
    RenderEngine* createRenderEngine() override;

    long releaseVertexBuffer(VertexBuffer* buffer) override { return releaseCounted(buffer); }
    long releaseIndexBuffer(IndexBuffer* buffer) override { return releaseCounted(buffer); }
    long releaseFrameBuffer(FrameBuffer* frameBuffer) override { return releaseCounted(frameBuffer); }
    long releaseRenderBuffer(RenderBuffer* buffer) override { return releaseCounted(buffer); }
    long releaseTexture(Texture* texture) override { return releaseCounted(texture); }
    long releaseShaderProgram(ShaderProgram* program) override { return releaseCounted(program); }
    long releaseRenderOperation(RenderOperation* operation) override { return releaseCounted(operation); }
    long releaseRasterizerState(RasterizerState* state) override;
    long releaseDepthState(DepthState* state) override;
    long releaseStencilState(StencilState* state) override;
    long releaseBlendState(BlendState* state) override;
    long releaseSamplerState(SamplerState* state) override;
    long releaseRenderEngine(RenderEngine* engine) override;
};

}  // namespace Dove

#endif
