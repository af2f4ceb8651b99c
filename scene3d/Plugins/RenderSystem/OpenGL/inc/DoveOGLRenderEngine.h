// The render engine and the render factory on OpenGL.
#ifndef DOVE_OGLRENDERENGINE_H
#define DOVE_OGLRENDERENGINE_H

#include <cstdint>

#include "DoveRenderEngine.h"
#include "DoveRenderFactory.h"
#include "DoveRenderState.h"
#include "DoveShaderProgram.h"
#include "DoveTexture.h"

namespace Dove {

struct RenderCapability {
    int maxTextureSize = 0;
    int maxCubeMapTextureSize = 0;
    int maxVertexTextureImageUnits = 0;
    int maxTextureImageUnits = 0;
};

class OGLRenderEngine : public RenderEngine {
public:
    explicit OGLRenderEngine(RenderFactory* factory);
    ~OGLRenderEngine() override;

    // The engine singleton as the OpenGL engine, null when another backend runs.
    static OGLRenderEngine* current();

    void initDisplayParam(DisplayParam* param) override;
    void* getNativeOpenGLESContext() override;
    void setRasterizerState(RasterizerState* state) override;
    void setDepthState(DepthState* state) override;
    void setStencilState(StencilState* state) override;
    void setBlendState(BlendState* state) override;
    void forceFlush() override;
    void suspend() override;
    void resume() override;
    void setCurrent() override;
    void restoreGLContext() override;
    void doViewport(Viewport* const& viewport) override;
    void doRender(RenderTechnique* technique, RenderOperation* operation) override;

    // Reads the limits once; later calls keep the first record.
    const RenderCapability* getRenderCapability();
    // Records the name; binds it in OpenGL unless it is 0 (0 is recorded without a call).
    void bindFramebuffer(unsigned int name);
    // Binds the frame buffer that stands for the window system's (the host's default one) and
    // records 0.
    void bindSystemFramebuffer();
    uint32_t getBoundFramebuffer() const { return mBoundFrameBuffer; }
    // The host's frame-buffer object that receives the window's drawing (0: the window system's).
    void setSystemFramebuffer(uint32_t name) { mSystemFrameBuffer = name; }
    uint32_t getSystemFramebuffer() const { return mSystemFrameBuffer; }
    // Device pixels per point of the host's frame buffer (2 on a double-density screen). Window
    // viewports are given in points; drawn into that frame buffer they are scaled by it.
    void setSystemPixelScale(double scale) { mSystemPixelScale = scale > 0 ? scale : 1.0; }
    double getSystemPixelScale() const { return mSystemPixelScale; }
    void getViewportRect(uint32_t* x, uint32_t* y, uint32_t* width, uint32_t* height) const;

    void activeTexture(unsigned int unit);
    void Uniform1i(int location, int v);
    void Uniform1ui(int location, unsigned int v);
    void Uniform1f(int location, float v);
    void Uniform1iv(int location, int count, const int* v);
    void Uniform2iv(int location, int count, const int* v);
    void Uniform3iv(int location, int count, const int* v);
    void Uniform4iv(int location, int count, const int* v);
    void Uniform1uiv(int location, int count, const unsigned int* v);
    void Uniform2uiv(int location, int count, const unsigned int* v);
    void Uniform3uiv(int location, int count, const unsigned int* v);
    void Uniform4uiv(int location, int count, const unsigned int* v);
    void Uniform1fv(int location, int count, const float* v);
    void Uniform2fv(int location, int count, const float* v);
    void Uniform3fv(int location, int count, const float* v);
    void Uniform4fv(int location, int count, const float* v);
    void UniformMatrix3fv(int location, int count, unsigned char transpose, const float* v);
    void UniformMatrix4fv(int location, int count, unsigned char transpose, const float* v);

private:
    RenderFactory* mFactory;
    uint32_t mViewportX = 0, mViewportY = 0, mViewportWidth = 0, mViewportHeight = 0;
    uint32_t mBoundFrameBuffer = 0;
    uint32_t mSystemFrameBuffer = 0;
    double mSystemPixelScale = 1.0;
    RenderCapability* mCapability = nullptr;
};

class OGLRenderFactory : public RenderFactory {
public:
    // Makes the OpenGL factory the one the next RenderFactory::getSingleton() builds.
    static void install();

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

    RenderBuffer* createScreenColorRenderBuffer(unsigned int width, unsigned int height);
    RenderBuffer* createScreenDepthStencilBuffer(unsigned int width, unsigned int height);

    long releaseVertexBuffer(VertexBuffer* buffer) override { return releaseCounted(buffer); }
    long releaseIndexBuffer(IndexBuffer* buffer) override { return releaseCounted(buffer); }
    long releaseFrameBuffer(FrameBuffer* frameBuffer) override { return releaseCounted(frameBuffer); }
    long releaseRenderBuffer(RenderBuffer* buffer) override { return releaseCounted(buffer); }
    long releaseTexture(Texture* texture) override { return releaseCounted(texture); }
    long releaseShaderProgram(ShaderProgram* program) override { return releaseCounted(program); }
    long releaseRenderOperation(RenderOperation* operation) override { return releaseCounted(operation); }
    long releaseRasterizerState(RasterizerState* state) override { return releaseCounted(state); }
    long releaseDepthState(DepthState* state) override { return releaseCounted(state); }
    long releaseStencilState(StencilState* state) override { return releaseCounted(state); }
    long releaseBlendState(BlendState* state) override { return releaseCounted(state); }
    long releaseSamplerState(SamplerState* state) override { return releaseCounted(state); }
    long releaseRenderEngine(RenderEngine* engine) override;
};

}  // namespace Dove

#endif
