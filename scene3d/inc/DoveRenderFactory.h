// The render factory makes and releases every GPU-side object. Which backend the singleton is
// comes from the installed maker: the null backend unless a real one is installed.
#ifndef DOVE_RENDERFACTORY_H
#define DOVE_RENDERFACTORY_H

#include <string>

#include "DoveFrameBuffer.h"
#include "DoveGraphicsBuffer.h"
#include "DoveRenderParameter.h"

namespace Dove {

class RenderBuffer;
class Texture;
class ShaderProgram;
class RasterizerState;
class DepthState;
class StencilState;
class BlendState;
class SamplerState;
class RenderEngine;
class RenderEffect;

class RenderFactory {
public:
    using Maker = RenderFactory* (*)();

    static RenderFactory* getSingleton();
    static RenderFactory* peekSingleton();
    static void releaseSingleton();
    // Chooses the backend made by the next getSingleton(); nullptr restores the null backend.
    static void setMaker(Maker maker);

    virtual ~RenderFactory() = default;

    virtual VertexBuffer* createVertexBuffer(unsigned int vertexSize, unsigned int vertexCount,
                                             GraphicsBuffer::BufferUsage usage) = 0;
    virtual IndexBuffer* createIndexBuffer(IndexBuffer::IndexType type, unsigned int indexCount,
                                           GraphicsBuffer::BufferUsage usage) = 0;
    virtual FrameBuffer* createFrameBuffer(unsigned int width, unsigned int height) = 0;
    virtual RenderBuffer* createTexture2DRenderBuffer(Texture* texture) = 0;
    virtual RenderBuffer* createDepthStencilRenderBuffer(Texture* texture) = 0;
    virtual Texture* createTexture(unsigned int width, unsigned int height, const std::string& name) = 0;
    virtual ShaderProgram* createShaderProgram(const std::string& name) = 0;
    virtual RenderOperation* createRenderOperation() = 0;
    virtual RasterizerState* createRasterizerState() = 0;
    virtual DepthState* createDepthState() = 0;
    virtual StencilState* createStencilState() = 0;
    virtual BlendState* createBlendState() = 0;
    virtual SamplerState* createSamplerState() = 0;
    virtual RenderEngine* createRenderEngine() = 0;

    // Each drops one reference; true when that destroyed the object, false for null or when
    // another holder keeps it alive.
    virtual long releaseVertexBuffer(VertexBuffer* buffer) = 0;
    virtual long releaseIndexBuffer(IndexBuffer* buffer) = 0;
    virtual long releaseFrameBuffer(FrameBuffer* frameBuffer) = 0;
    virtual long releaseRenderBuffer(RenderBuffer* buffer) = 0;
    virtual long releaseTexture(Texture* texture) = 0;
    virtual long releaseShaderProgram(ShaderProgram* program) = 0;
    virtual long releaseRenderOperation(RenderOperation* operation) = 0;
    virtual long releaseRasterizerState(RasterizerState* state) = 0;
    virtual long releaseDepthState(DepthState* state) = 0;
    virtual long releaseStencilState(StencilState* state) = 0;
    virtual long releaseBlendState(BlendState* state) = 0;
    virtual long releaseSamplerState(SamplerState* state) = 0;
    // Destroys the engine; true, also for null.
    virtual long releaseRenderEngine(RenderEngine* engine) = 0;

    RenderParameter* createRenderParameter(RenderEffect* effect, const std::string& name, RenderDataType type);
    static RenderVariable* createRenderVariable(int type);
    static void releaseRenderParameter(RenderParameter* parameter);
    static uint32_t releaseRenderVariable(RenderVariable* variable);

protected:
    // The shared release rule: drop one reference, destroy at zero.
    template <typename T>
    static long releaseCounted(T* object) {
        if (!object) return 0;
        object->release();
        if (object->getRef() != 0) return 0;
        delete object;
        return 1;
    }
    template <typename T>
    static T* made(T* object) {
        object->addRef();
        return object;
    }
};

}  // namespace Dove

#endif
