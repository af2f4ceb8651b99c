#include "DovePostProcess.h"

#include "DoveFrameBuffer.h"
#include "DoveGraphicsBuffer.h"
#include "DoveRenderEffect.h"
#include "DoveRenderEngine.h"
#include "DoveRenderFactory.h"
#include "DoveResManager.h"
#include "DoveTexture.h"

#include "DoveContext.h"

namespace Dove {

uint32_t& PostProcess::nameIndex() { return Context::names().postProcess; }

PostProcess::PostProcess(ResManager* manager, const std::string& name) : mResManager(manager) {
    mName = name.empty() ? makeGeneratedName("PostProcess_", nameIndex()) : name;
}

PostProcess::~PostProcess() {
    ResManager* rm = ResManager::peekSingleton();
    for (auto* list : {&mInputs, &mOutputs})
        for (auto& [name, tex] : *list) {
            if (tex && rm) rm->releaseTexture(tex, 1);
            tex = nullptr;
        }
    if (RenderFactory* f = RenderFactory::peekSingleton()) {
        if (mFrameBuffer) f->releaseFrameBuffer(mFrameBuffer);
        f->releaseVertexBuffer(mQuadVertices);
        f->releaseIndexBuffer(mQuadIndices);
    }
    mFrameBuffer = nullptr;
    releaseOwnParameters();
}

void PostProcess::releaseOwnParameters() {
    for (RenderParameter* p : mOwnParams) RenderFactory::releaseRenderParameter(p);
    mOwnParams.clear();
}

unsigned int PostProcess::addParamName(const std::string& name, RenderDataType type) {
    RenderParameter* p = RenderFactory::getSingleton()->createRenderParameter(nullptr, name, type);
    mOwnParams.push_back(p);
    mParams.emplace_back(name, p);
    return unsigned(mParams.size() - 1);
}

unsigned int PostProcess::addInputTextureName(const std::string& name) {
    mInputs.emplace_back(name, nullptr);
    return unsigned(mInputs.size() - 1);
}

unsigned int PostProcess::addOutputTextureName(const std::string& name) {
    mOutputs.emplace_back(name, nullptr);
    return unsigned(mOutputs.size() - 1);
}

void PostProcess::setTechnique(RenderTechnique* technique) {
    Renderable::setTechnique(technique);
    updateBinds();
    createRenderOperation();
}

void PostProcess::updateBinds() {
    if (!mTechnique) return;
    RenderEffect* effect = mTechnique->getEffect();
    mInputBinds.clear();
    for (auto& [name, tex] : mInputs) mInputBinds.push_back(effect ? effect->getRenderParameterByName(name) : nullptr);
    mOutputBinds.clear();
    for (size_t i = 0; i < mOutputs.size(); ++i) {
        RenderParameter* p = effect ? effect->getRenderParameterByName(mOutputs[i].first) : nullptr;
        if (!p) {
            p = RenderFactory::getSingleton()->createRenderParameter(effect, "Output" + std::to_string(i), RDT_TEXTURE);
            mOwnParams.push_back(p);
        }
        mOutputBinds.push_back(p);
    }
    for (auto& [name, param] : mParams) param = effect ? effect->getRenderParameterByName(name) : nullptr;
}

void PostProcess::createRenderOperation() {
    RenderFactory* f = RenderFactory::getSingleton();
    if (mRenderOperation) f->releaseRenderOperation(mRenderOperation);
    f->releaseVertexBuffer(mQuadVertices);
    f->releaseIndexBuffer(mQuadIndices);
    mRenderOperation = f->createRenderOperation();
    mRenderOperation->setTopologyType(4);

    // x, y, z, u, v per corner.
    static const float kQuad[20] = {-1, 1, 0, 0, 1, 1, 1, 0, 1, 1, -1, -1, 0, 0, 0, 1, -1, 0, 1, 0};
    static const uint16_t kIndices[6] = {0, 2, 1, 3, 1, 2};
    mQuadVertices = f->createVertexBuffer(20, 4, GraphicsBuffer::BU_STATIC);
    mQuadVertices->writeData(0, sizeof kQuad, kQuad);
    mQuadIndices = f->createIndexBuffer(IndexBuffer::IT_16BIT, 6, GraphicsBuffer::BU_STATIC);
    mQuadIndices->writeData(0, sizeof kIndices, kIndices);

    RenderOperation::DataUnit unit;
    unit.vertexBuffer = mQuadVertices;
    unit.elements.push_back({0, VEU_POSITION, 3});
    unit.elements.push_back({12, VEU_TEXCOORD, 2});
    mRenderOperation->addDataUnit(unit);
    IndexBuffer* indices = mQuadIndices;
    mRenderOperation->setIndexBuffer(indices);
    mRenderOperation->setVertexCount(4);
    mRenderOperation->setIndexCount(6);
    mRenderOperation->setStartVertexLcoation(0);
}

void PostProcess::setInputTexture(unsigned int index, Texture* const& texture) {
    if (index >= mInputs.size()) return;
    Texture* t = texture;
    if (t) t->addRef();
    Texture* old = mInputs[index].second;
    mInputs[index].second = t;
    if (old) ResManager::getSingleton()->releaseTexture(old, 1);
    if (index < mInputBinds.size() && mInputBinds[index] && mInputBinds[index]->getVariable())
        *mInputBinds[index]->getVariable() = t;
}

void PostProcess::setOutputTexture(unsigned int index, Texture* const& texture) {
    if (!mFrameBuffer || index >= mOutputs.size()) return;
    Texture* t = texture;
    if (t) t->addRef();
    Texture* old = mOutputs[index].second;
    mOutputs[index].second = t;
    if (old) ResManager::getSingleton()->releaseTexture(old, 1);
    if (t && index < 8) {
        RenderFactory* f = RenderFactory::getSingleton();
        RenderBufferAttachment slot = RenderBufferAttachment(index);
        RenderBuffer* previous = mFrameBuffer->getAttachment(slot);
        RenderBuffer* rb = f->createTexture2DRenderBuffer(t);
        mFrameBuffer->attach(rb, slot);
        // The frame buffer takes no reference: a buffer it let go of is ours to release.
        if (previous && previous != rb) f->releaseRenderBuffer(previous);
    }
    if (index < mOutputBinds.size() && mOutputBinds[index] && mOutputBinds[index]->getVariable())
        *mOutputBinds[index]->getVariable() = t;
}

void PostProcess::setFrameBuffer(FrameBuffer* frameBuffer) {
    if (frameBuffer == mFrameBuffer) return;
    if (frameBuffer) frameBuffer->addRef();
    if (mFrameBuffer) RenderFactory::getSingleton()->releaseFrameBuffer(mFrameBuffer);
    mFrameBuffer = frameBuffer;
}

void PostProcess::apply() {
    if (!mFrameBuffer) return;
    RenderEngine* engine = RenderEngine::getSingleton();
    FrameBuffer* target = mOutputBinds.empty() ? nullptr : mFrameBuffer;
    engine->bindFrameBuffer(target);
    render();
}

}  // namespace Dove
