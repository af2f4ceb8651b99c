#include "DoveOGLRenderEngine.h"

#include "DoveOGLContext.h"
#include "DoveOGLFrameBuffer.h"
#include "DoveOGLGraphicsBuffer.h"
#include "DoveOGLRenderState.h"
#include "DoveOGLShaderProgram.h"
#include "DoveOGLTexture.h"
#include "DoveRenderEffect.h"
#include "DoveShaderProgram.h"
#include "DoveViewport.h"
#include "OGLCommon.h"

#include <cmath>

namespace Dove {

OGLRenderEngine::OGLRenderEngine(RenderFactory* factory) : mFactory(factory) {
    mRasterizerState = factory->createRasterizerState();
    mDepthState = factory->createDepthState();
    mStencilState = factory->createStencilState();
    mBlendState = factory->createBlendState();
    mScreenFrameBuffer = new OGLRenderWindow();
    mScreenFrameBuffer->addRef();
}

OGLRenderEngine::~OGLRenderEngine() {
    mFactory->releaseRasterizerState(mRasterizerState);
    mFactory->releaseDepthState(mDepthState);
    mFactory->releaseStencilState(mStencilState);
    mFactory->releaseBlendState(mBlendState);
    if (mScreenFrameBuffer && mScreenFrameBuffer->release() == 0) delete mScreenFrameBuffer;
    mScreenFrameBuffer = nullptr;
    mCurFrameBuffer = nullptr;
    delete mCapability;
}

OGLRenderEngine* OGLRenderEngine::current() { return dynamic_cast<OGLRenderEngine*>(RenderEngine::peekSingleton()); }

void OGLRenderEngine::initDisplayParam(DisplayParam* param) {
    if (auto* window = dynamic_cast<OGLRenderWindow*>(mScreenFrameBuffer)) window->createWithDisplayParam(param);
    // The engine's context exists from here on; its objects are shared with every view's context.
    OGLContext::getSingleton();
    getRenderCapability();
}

void* OGLRenderEngine::getNativeOpenGLESContext() {
    OGLContext* c = OGLContext::getSingleton();
    return c ? c->getOpenGLContext() : nullptr;
}

namespace {
// Applies a state through a temporary OpenGL object of its kind, which compares itself against the
// engine's current state (still the old value), then records the new value.
template <typename Base, typename OGL>
void applyState(Base* state, Base* current) {
    if (!state || !current || *state == *current) return;
    OGL temporary;
    temporary = *state;
    temporary.active();
    *current = *state;
}
}  // namespace

void OGLRenderEngine::setRasterizerState(RasterizerState* state) {
    applyState<RasterizerState, OGLRasterizerState>(state, mRasterizerState);
}
void OGLRenderEngine::setDepthState(DepthState* state) { applyState<DepthState, OGLDepthState>(state, mDepthState); }
void OGLRenderEngine::setStencilState(StencilState* state) {
    applyState<StencilState, OGLStencilState>(state, mStencilState);
}
void OGLRenderEngine::setBlendState(BlendState* state) { applyState<BlendState, OGLBlendState>(state, mBlendState); }

void OGLRenderEngine::forceFlush() {
    if (!glReady()) return;
    glFlush();
    drainGLErrors();
}

void OGLRenderEngine::suspend() {
    if (OGLContext* c = OGLContext::peekSingleton()) c->endCurrent();
    OGLContext::releaseSingleton();
}

void OGLRenderEngine::resume() { setCurrent(); }

void OGLRenderEngine::setCurrent() {
    if (OGLContext* c = OGLContext::getSingleton()) c->setCurrent();
}

void OGLRenderEngine::restoreGLContext() {
    if (OGLContext* c = OGLContext::peekSingleton()) c->restoreGLContext();
}

void OGLRenderEngine::doViewport(Viewport* const& viewport) {
    if (!viewport) return;
    int x = viewport->getActualLeft(), y = viewport->getActualTop();
    int w = viewport->getActualWidth(), h = viewport->getActualHeight();
    // Into the host's frame buffer, points become its device pixels; a frame buffer of our own
    // is sized in pixels already.
    if (mBoundFrameBuffer == 0 && mSystemPixelScale != 1.0) {
        const double s = mSystemPixelScale;
        const int right = int(std::lround((x + w) * s)), top = int(std::lround((y + h) * s));
        x = int(std::lround(x * s));
        y = int(std::lround(y * s));
        w = right - x;
        h = top - y;
    }
    glViewport(x, y, w < 0 ? 0 : w, h < 0 ? 0 : h);
    drainGLErrors();
    mViewportX = uint32_t(x);
    mViewportY = uint32_t(y);
    mViewportWidth = uint32_t(w);
    mViewportHeight = uint32_t(h);
}

void OGLRenderEngine::getViewportRect(uint32_t* x, uint32_t* y, uint32_t* width, uint32_t* height) const {
    if (x) *x = mViewportX;
    if (y) *y = mViewportY;
    if (width) *width = mViewportWidth;
    if (height) *height = mViewportHeight;
}

namespace {
// The draw ranges come from scene files: a range past the end of its buffer is not drawn, so the
// driver never reads outside a store.
bool indexRangeFits(const RenderOperation* op, const IndexBuffer* ib) {
    const uint64_t end = (uint64_t(op->getStartIndexLocation()) + op->getIndexCount()) * ib->getIndexSize();
    return end <= ib->getBufferSize();
}

bool vertexRangeFits(const RenderOperation* op) {
    const uint64_t end = uint64_t(op->getStartVertexLocation()) + op->getVertexCount();
    for (const RenderOperation::DataUnit& unit : op->getDataUnits())
        if (unit.vertexBuffer && end > unit.vertexBuffer->getVertexCount()) return false;
    return true;
}
}  // namespace

void OGLRenderEngine::doRender(RenderTechnique* technique, RenderOperation* operation) {
    if (!technique || !operation || technique->getPasses().empty()) return;
    RenderPass* first = technique->getPasses().front();
    // The streams are bound once, for the first pass's program, and stay bound for every pass.
    operation->active(first ? first->getShaderProgram() : nullptr);
    IndexBuffer* ib = operation->getIndexBuffer();
    const bool fits = ib ? indexRangeFits(operation, ib) : vertexRangeFits(operation);
    for (RenderPass* pass : technique->getPasses()) {
        if (!pass || !pass->getShaderProgram()) continue;
        pass->bind();
        if (fits) {
            // Every draw is a triangle list; the operation's topology is not consulted.
            if (ib) {
                const bool wide = ib->getIndexType() == IndexBuffer::IT_32BIT;
                const uintptr_t offset = uintptr_t(operation->getStartIndexLocation()) * (wide ? 4u : 2u);
                glDrawElements(GL_TRIANGLES, GLsizei(operation->getIndexCount()),
                               wide ? GL_UNSIGNED_INT : GL_UNSIGNED_SHORT, reinterpret_cast<const void*>(offset));
            } else {
                glDrawArrays(GL_TRIANGLES, GLint(operation->getStartVertexLocation()),
                             GLsizei(operation->getVertexCount()));
            }
            drainGLErrors();
        }
        pass->unbind();
    }
    operation->deactive(first ? first->getShaderProgram() : nullptr);
}

const RenderCapability* OGLRenderEngine::getRenderCapability() {
    if (mCapability) return mCapability;
    if (!glReady()) return nullptr;
    auto* cap = new RenderCapability();
    glGetIntegerv(GL_MAX_TEXTURE_SIZE, &cap->maxTextureSize);
    glGetIntegerv(GL_MAX_CUBE_MAP_TEXTURE_SIZE, &cap->maxCubeMapTextureSize);
    glGetIntegerv(GL_MAX_VERTEX_TEXTURE_IMAGE_UNITS, &cap->maxVertexTextureImageUnits);
    glGetIntegerv(GL_MAX_TEXTURE_IMAGE_UNITS, &cap->maxTextureImageUnits);
    // The strings are read for completeness and kept by nobody.
    (void)glGetString(GL_VENDOR);
    (void)glGetString(GL_RENDERER);
    (void)glGetString(GL_VERSION);
    drainGLErrors();
    if (cap->maxTextureSize <= 0) {
        // No answer from the driver (no context): try again next time.
        delete cap;
        return nullptr;
    }
    mCapability = cap;
    return mCapability;
}

void OGLRenderEngine::bindFramebuffer(unsigned int name) {
    mBoundFrameBuffer = name;
    if (name == 0) return;
    glBindFramebuffer(GL_FRAMEBUFFER, name);
    drainGLErrors();
}

void OGLRenderEngine::bindSystemFramebuffer() {
    mBoundFrameBuffer = 0;
    glBindFramebuffer(GL_FRAMEBUFFER, mSystemFrameBuffer);
    drainGLErrors();
}

void OGLRenderEngine::activeTexture(unsigned int unit) {
    glActiveTexture(unit);
    drainGLErrors();
}

namespace {
// Unsigned uniforms exist from OpenGL 3.0 on; an older context has no entry point to call.
bool hasUnsignedUniforms() { return epoxy_gl_version() >= 30; }
}  // namespace

// clang-format off
void OGLRenderEngine::Uniform1i(int l, int v) { glUniform1i(l, v); drainGLErrors(); }
void OGLRenderEngine::Uniform1ui(int l, unsigned int v) { if (hasUnsignedUniforms()) glUniform1ui(l, v); drainGLErrors(); }
void OGLRenderEngine::Uniform1f(int l, float v) { glUniform1f(l, v); drainGLErrors(); }
void OGLRenderEngine::Uniform1iv(int l, int n, const int* v) { glUniform1iv(l, n, v); drainGLErrors(); }
void OGLRenderEngine::Uniform2iv(int l, int n, const int* v) { glUniform2iv(l, n, v); drainGLErrors(); }
void OGLRenderEngine::Uniform3iv(int l, int n, const int* v) { glUniform3iv(l, n, v); drainGLErrors(); }
void OGLRenderEngine::Uniform4iv(int l, int n, const int* v) { glUniform4iv(l, n, v); drainGLErrors(); }
void OGLRenderEngine::Uniform1uiv(int l, int n, const unsigned int* v) { if (hasUnsignedUniforms()) glUniform1uiv(l, n, v); drainGLErrors(); }
void OGLRenderEngine::Uniform2uiv(int l, int n, const unsigned int* v) { if (hasUnsignedUniforms()) glUniform2uiv(l, n, v); drainGLErrors(); }
void OGLRenderEngine::Uniform3uiv(int l, int n, const unsigned int* v) { if (hasUnsignedUniforms()) glUniform3uiv(l, n, v); drainGLErrors(); }
void OGLRenderEngine::Uniform4uiv(int l, int n, const unsigned int* v) { if (hasUnsignedUniforms()) glUniform4uiv(l, n, v); drainGLErrors(); }
void OGLRenderEngine::Uniform1fv(int l, int n, const float* v) { glUniform1fv(l, n, v); drainGLErrors(); }
void OGLRenderEngine::Uniform2fv(int l, int n, const float* v) { glUniform2fv(l, n, v); drainGLErrors(); }
void OGLRenderEngine::Uniform3fv(int l, int n, const float* v) { glUniform3fv(l, n, v); drainGLErrors(); }
void OGLRenderEngine::Uniform4fv(int l, int n, const float* v) { glUniform4fv(l, n, v); drainGLErrors(); }
void OGLRenderEngine::UniformMatrix3fv(int l, int n, unsigned char t, const float* v) { glUniformMatrix3fv(l, n, t ? GL_TRUE : GL_FALSE, v); drainGLErrors(); }
void OGLRenderEngine::UniformMatrix4fv(int l, int n, unsigned char t, const float* v) { glUniformMatrix4fv(l, n, t ? GL_TRUE : GL_FALSE, v); drainGLErrors(); }
// clang-format on

// ---- Factory ----

namespace {
RenderFactory* makeOGLFactory() { return new OGLRenderFactory(); }
}  // namespace

void OGLRenderFactory::install() { RenderFactory::setMaker(&makeOGLFactory); }

VertexBuffer* OGLRenderFactory::createVertexBuffer(unsigned int vertexSize, unsigned int vertexCount,
                                                   GraphicsBuffer::BufferUsage usage) {
    return made(new OGLVertexBuffer(vertexSize, vertexCount, usage));
}

IndexBuffer* OGLRenderFactory::createIndexBuffer(IndexBuffer::IndexType type, unsigned int indexCount,
                                                 GraphicsBuffer::BufferUsage usage) {
    return made(new OGLIndexBuffer(type, indexCount, usage));
}

FrameBuffer* OGLRenderFactory::createFrameBuffer(unsigned int width, unsigned int height) {
    return made(new OGLFrameBuffer(1, width, height));
}

RenderBuffer* OGLRenderFactory::createTexture2DRenderBuffer(Texture* texture) {
    auto* t = dynamic_cast<OGLTexture*>(texture);
    return t ? made(new OGLTexture2DRenderBuffer(t)) : nullptr;
}

RenderBuffer* OGLRenderFactory::createDepthStencilRenderBuffer(Texture* texture) {
    auto* t = dynamic_cast<OGLTexture*>(texture);
    return t ? made(new OGLDepthStencilRenderBuffer(t)) : nullptr;
}

Texture* OGLRenderFactory::createTexture(unsigned int width, unsigned int height, const std::string& name) {
    auto* t = new OGLTexture(name);
    t->setSize(width, height);
    return made(t);
}

ShaderProgram* OGLRenderFactory::createShaderProgram(const std::string& name) {
    return made(new OGLShaderProgram(name));
}

RenderOperation* OGLRenderFactory::createRenderOperation() { return made(new OGLRenderOperation()); }
RasterizerState* OGLRenderFactory::createRasterizerState() { return made(new OGLRasterizerState()); }
DepthState* OGLRenderFactory::createDepthState() { return made(new OGLDepthState()); }
StencilState* OGLRenderFactory::createStencilState() { return made(new OGLStencilState()); }
BlendState* OGLRenderFactory::createBlendState() { return made(new OGLBlendState()); }
SamplerState* OGLRenderFactory::createSamplerState() { return made(new OGLSamplerState()); }
RenderEngine* OGLRenderFactory::createRenderEngine() { return new OGLRenderEngine(this); }

RenderBuffer* OGLRenderFactory::createScreenColorRenderBuffer(unsigned int width, unsigned int height) {
    return made(new OGLScreenColorRenderBuffer(width, height));
}

RenderBuffer* OGLRenderFactory::createScreenDepthStencilBuffer(unsigned int width, unsigned int height) {
    return made(new OGLScreenDepthStencilRenderBuffer(width, height));
}

long OGLRenderFactory::releaseRenderEngine(RenderEngine* engine) {
    delete engine;
    return 1;
}

}  // namespace Dove
