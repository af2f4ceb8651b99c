#include <algorithm>
#include <cstring>

#include "DoveNullRender.h"
#include "DoveRenderEffect.h"
#include "DoveRenderState.h"
#include "DoveViewport.h"

namespace Dove {

namespace {
uint32_t gNextId = 0;
uint32_t nextId() { return ++gNextId; }

// Writes a range into a byte store; a range outside the store is refused.
void writeRange(std::vector<uint8_t>& store, unsigned int offset, unsigned int size, const void* data) {
    if (!data || size == 0) return;
    if (uint64_t(offset) + size > store.size()) return;
    std::memcpy(store.data() + offset, data, size);
}

// Stores above this size are not kept by the null backend (it only has to count them).
constexpr uint32_t kMaxNullStore = 64u << 20;
}  // namespace

bool NullTexture::sFailUploads = false;

// ---- Buffers and operations ----

NullVertexBuffer::NullVertexBuffer(unsigned int vertexSize, unsigned int vertexCount, BufferUsage usage)
    : VertexBuffer(vertexSize, vertexCount, usage), mId(nextId()) {
    if (mSize <= kMaxNullStore) mBytes.resize(mSize);
}

void NullVertexBuffer::writeData(unsigned int offset, unsigned int size, const void* data) {
    writeRange(mBytes, offset, size, data);
}

NullIndexBuffer::NullIndexBuffer(IndexType type, unsigned int indexCount, BufferUsage usage)
    : IndexBuffer(type, indexCount, usage), mId(nextId()) {
    if (mSize <= kMaxNullStore) mBytes.resize(mSize);
}

void NullIndexBuffer::writeData(unsigned int offset, unsigned int size, const void* data) {
    writeRange(mBytes, offset, size, data);
}

void NullRenderOperation::active(ShaderProgram* program) {
    mSkipped = 0;
    if (!program) return;
    for (const DataUnit& unit : mDataUnits)
        for (const VertexElement& e : unit.elements)
            if (program->getAttribLocation(e.usage) == -1) ++mSkipped;
}

// ---- Textures ----

NullTexture::NullTexture(const std::string& name) : Texture(name), mId(nextId()) {}

int NullTexture::sDeletedWithoutContext = 0;

NullTexture::~NullTexture() {
    auto* engine = dynamic_cast<NullRenderEngine*>(RenderEngine::peekSingleton());
    if (!engine || !engine->isCurrent()) ++sDeletedWithoutContext;
}

long NullTexture::createBlankTexture(unsigned int width, unsigned int height) {
    if (sFailUploads) return 0;
    mWidth = width;
    mHeight = height;
    mFormat = kColorRGBA8888;
    mTextureType = 2;
    mTransparent = 0;
    mPixels.clear();
    return 1;
}

long NullTexture::createFromMBitmap(MBITMAP* bitmap) {
    if (sFailUploads) return 0;
    const size_t bytes = checkedBitmapBytes(bitmap);
    if (bytes == 0) return 0;
    mWidth = uint32_t(bitmap->lWidth);
    mHeight = uint32_t(bitmap->lHeight);
    mFormat = bitmap->dwPixelArrayFormat;
    mTextureType = 2;
    mTransparent = checkMBitmapIsTransparent(bitmap) ? 1 : 0;
    mPixels.assign(bitmap->pPlane[0], bitmap->pPlane[0] + bytes);
    return 1;
}

static uint32_t nextPowerOfTwo(uint32_t v) {
    if (v <= 1) return 1;
    uint32_t p = 1;
    while (p < v && p < (1u << 31)) p <<= 1;
    return p;
}

long NullTexture::createPureTexture(unsigned int width, unsigned int height, Color colour) {
    if (sFailUploads) return 0;
    const uint32_t w = nextPowerOfTwo(width), h = nextPowerOfTwo(height);
    if (uint64_t(w) * h * 4 > kMaxNullStore) return 0;
    mWidth = w;
    mHeight = h;
    mFormat = kColorRGBA8888;
    mTextureType = 2;
    mTransparent = colour.a != 1.0f ? 1 : 0;
    auto byte = [](float c) { return uint8_t(truncToInt(c * 255.0f)); };
    const uint8_t px[4] = {byte(colour.r), byte(colour.g), byte(colour.b), byte(colour.a)};
    mPixels.resize(size_t(w) * h * 4);
    for (size_t i = 0; i < mPixels.size(); i += 4) std::memcpy(&mPixels[i], px, 4);
    return 1;
}

long NullTexture::createFromMBitmapWithAutoFit(MBITMAP* bitmap, unsigned int width, unsigned int height, long fit) {
    if (sFailUploads) return 0;
    (void)width;
    (void)height;
    (void)fit;
    return bitmap ? 1 : 0;
}

// ---- Programs ----

int NullShaderProgram::sDeletedWithoutContext = 0;

NullShaderProgram::~NullShaderProgram() {
    auto* engine = dynamic_cast<NullRenderEngine*>(RenderEngine::peekSingleton());
    if (!engine || !engine->isCurrent()) ++sDeletedWithoutContext;
}

bool NullShaderProgram::attachShader(ShaderType type, const std::string& source) {
    if (type != 0 && type != 1) return false;
    if (source.empty()) return false;
    mSources[type] = source;
    mCompiled[type] = 1;
    return true;
}

bool NullShaderProgram::linkShader() {
    mLinked = mCompiled[0] && mCompiled[1] ? 1 : 0;
    return mLinked != 0;
}

int NullShaderProgram::getAttribLocation(VertexElementUsage usage) {
    static const char* const names[3] = {"a_position", "a_normal", "a_texCoord"};
    if (!mLinked || usage < 0 || usage > 2) return -1;
    return mSources[0].find(names[usage]) == std::string::npos ? -1 : int(usage);
}

// ---- Render and frame buffers ----

NullRenderBuffer::NullRenderBuffer(unsigned int width, unsigned int height, Texture* texture)
    : RenderBuffer(width, height), mTexture(texture) {
    if (mTexture) mTexture->addRef();
}

NullRenderBuffer::~NullRenderBuffer() {
    releaseTextureReference(mTexture);
}

void NullFrameBuffer::clear(unsigned int flags, const Color&, float, int) {
    mLastClearFlags = flags;
    ++mClears;
}

// ---- Engine ----

NullRenderEngine::NullRenderEngine(RenderFactory* factory) : mFactory(factory) {
    mRasterizerState = factory->createRasterizerState();
    mDepthState = factory->createDepthState();
    mStencilState = factory->createStencilState();
    mBlendState = factory->createBlendState();
    mScreenFrameBuffer = new NullRenderWindow();
    mScreenFrameBuffer->addRef();
}

NullRenderEngine::~NullRenderEngine() {
    mFactory->releaseRasterizerState(mRasterizerState);
    mFactory->releaseDepthState(mDepthState);
    mFactory->releaseStencilState(mStencilState);
    mFactory->releaseBlendState(mBlendState);
    mFactory->releaseFrameBuffer(mScreenFrameBuffer);
}

void NullRenderEngine::initDisplayParam(DisplayParam* param) {
    const auto* host = param ? static_cast<const NullHostView*>(param->hostView) : nullptr;
    mScreenFrameBuffer->setSize(host ? host->width : 0, host ? host->height : 0);
}

void NullRenderEngine::setRasterizerState(RasterizerState* state) {
    if (!state || *state == *mRasterizerState) return;
    *mRasterizerState = *state;
    ++mStateChanges;
}

void NullRenderEngine::setDepthState(DepthState* state) {
    if (!state || *state == *mDepthState) return;
    *mDepthState = *state;
    ++mStateChanges;
}

void NullRenderEngine::setStencilState(StencilState* state) {
    if (!state || *state == *mStencilState) return;
    *mStencilState = *state;
    ++mStateChanges;
}

void NullRenderEngine::setBlendState(BlendState* state) {
    if (!state || *state == *mBlendState) return;
    *mBlendState = *state;
    ++mStateChanges;
}

void NullRenderEngine::setCurrent() {
    if (mCurrent) return;
    mWasCurrent = mCurrent;
    mCurrent = true;
}

void NullRenderEngine::restoreGLContext() { mCurrent = mWasCurrent; }

void NullRenderEngine::doViewport(Viewport* const& viewport) { mViewportsSet.push_back(viewport); }

void NullRenderEngine::doRender(RenderTechnique* technique, RenderOperation* operation) {
    if (!technique || technique->getPasses().empty()) return;
    if (operation) operation->active(technique->getPasses().front()->getShaderProgram());
    for (RenderPass* pass : technique->getPasses()) {
        pass->bind();
        pass->unbind();
    }
    mDraws.push_back({technique, operation, int(technique->getPasses().size())});
}

// ---- Factory ----

VertexBuffer* NullRenderFactory::createVertexBuffer(unsigned int vertexSize, unsigned int vertexCount,
                                                    GraphicsBuffer::BufferUsage usage) {
    return made(new NullVertexBuffer(vertexSize, vertexCount, usage));
}

IndexBuffer* NullRenderFactory::createIndexBuffer(IndexBuffer::IndexType type, unsigned int indexCount,
                                                  GraphicsBuffer::BufferUsage usage) {
    return made(new NullIndexBuffer(type, indexCount, usage));
}

FrameBuffer* NullRenderFactory::createFrameBuffer(unsigned int width, unsigned int height) {
    return made(new NullFrameBuffer(width, height));
}

RenderBuffer* NullRenderFactory::createTexture2DRenderBuffer(Texture* texture) {
    if (!texture) return nullptr;
    return made(new NullRenderBuffer(texture->getWidth(), texture->getHeight(), texture));
}

RenderBuffer* NullRenderFactory::createDepthStencilRenderBuffer(Texture* texture) {
    if (!texture) return nullptr;
    return made(new NullRenderBuffer(texture->getWidth(), texture->getHeight(), texture));
}

Texture* NullRenderFactory::createTexture(unsigned int width, unsigned int height, const std::string& name) {
    auto* t = new NullTexture(name);
    t->setSize(width, height);
    return made(t);
}

ShaderProgram* NullRenderFactory::createShaderProgram(const std::string& name) {
    return made(new NullShaderProgram(name));
}

RenderOperation* NullRenderFactory::createRenderOperation() { return made(new NullRenderOperation()); }
RasterizerState* NullRenderFactory::createRasterizerState() { return made(new RasterizerState()); }
DepthState* NullRenderFactory::createDepthState() { return made(new DepthState()); }
StencilState* NullRenderFactory::createStencilState() { return made(new StencilState()); }
BlendState* NullRenderFactory::createBlendState() { return made(new BlendState()); }
SamplerState* NullRenderFactory::createSamplerState() { return made(new SamplerState()); }
RenderEngine* NullRenderFactory::createRenderEngine() { return new NullRenderEngine(this); }

long NullRenderFactory::releaseRasterizerState(RasterizerState* state) { return releaseCounted(state); }
long NullRenderFactory::releaseDepthState(DepthState* state) { return releaseCounted(state); }
long NullRenderFactory::releaseStencilState(StencilState* state) { return releaseCounted(state); }
long NullRenderFactory::releaseBlendState(BlendState* state) { return releaseCounted(state); }
long NullRenderFactory::releaseSamplerState(SamplerState* state) { return releaseCounted(state); }

long NullRenderFactory::releaseRenderEngine(RenderEngine* engine) {
    delete engine;
    return 1;
}

}  // namespace Dove
