#include "DoveRenderEffect.h"

#include <cassert>

#include "DoveRenderEngine.h"
#include "DoveRenderFactory.h"
#include "DoveRenderState.h"
#include "DoveShaderProgram.h"

#include "DoveContext.h"

namespace Dove {

uint32_t& RenderEffect::nameIndex() { return Context::names().effect; }
uint32_t& RenderTechnique::nameIndex() { return Context::names().technique; }
uint32_t& RenderPass::nameIndex() { return Context::names().pass; }

static std::string nameOr(const std::string& name, const char* prefix, uint32_t& counter) {
    return name.empty() ? makeGeneratedName(prefix, counter) : name;
}

// ---- RenderEffect ----

RenderEffect::RenderEffect(ResManager* manager, const std::string& name)
    : mName(nameOr(name, "Effect_", nameIndex())), mResManager(manager) {}

RenderEffect::~RenderEffect() {
    for (RenderTechnique* t : mTechniques)
        if (t->release() == 0) delete t;
    for (RenderParameter* p : mParameters)
        if (p->release() == 0) delete p;
}

RenderParameter* RenderEffect::addRenderParameter(const std::string& name, RenderDataType type) {
    RenderParameter* p = RenderFactory::getSingleton()->createRenderParameter(this, name, type);
    mParameters.push_back(p);
    p->addRef();  // the caller's reference
    return p;
}

RenderParameter* RenderEffect::getRenderParameterByName(const std::string& name) const {
    for (RenderParameter* p : mParameters)
        if (p->getName() == name) return p;
    return nullptr;
}

RenderTechnique* RenderEffect::createRenderTechnique(const std::string& name) {
    auto* t = new RenderTechnique(this, name);
    t->addRef();
    mTechniques.push_back(t);
    t->addRef();
    return t;
}

// ---- RenderTechnique ----

RenderTechnique::RenderTechnique(RenderEffect* effect, const std::string& name)
    : mName(nameOr(name, "RenderTechnique_", nameIndex())), mEffect(effect) {}

RenderTechnique::~RenderTechnique() {
    for (RenderPass* p : mPasses)
        if (p->release() == 0) delete p;
}

RenderPass* RenderTechnique::createPass(const std::string& name) {
    auto* p = new RenderPass(mEffect, name);
    p->addRef();
    mPasses.push_back(p);
    p->addRef();
    return p;
}

void RenderTechnique::addPass(RenderPass* pass) {
    if (!pass) return;
    pass->addRef();
    mPasses.push_back(pass);
}

// ---- RenderPass ----

RenderPass::RenderPass(RenderEffect* effect, const std::string& name)
    : mName(nameOr(name, "RenderPass_", nameIndex())), mEffect(effect) {
    RenderFactory* f = RenderFactory::getSingleton();
    mRasterizerState = f->createRasterizerState();
    mDepthState = f->createDepthState();
    mStencilState = f->createStencilState();
    mBlendState = f->createBlendState();
}

RenderPass::~RenderPass() {
    RenderFactory* f = RenderFactory::getSingleton();
    f->releaseRasterizerState(mRasterizerState);
    f->releaseDepthState(mDepthState);
    f->releaseStencilState(mStencilState);
    f->releaseBlendState(mBlendState);
    // Programs belong to the resource manager's registry; the pass only hands back its reference.
    if (mShaderProgram) mShaderProgram->release();
}

void RenderPass::setRasterizerState(const RasterizerState& state) { *mRasterizerState = state; }
void RenderPass::setDepthState(const DepthState& state) { *mDepthState = state; }
void RenderPass::setStencilState(const StencilState& state) { *mStencilState = state; }
void RenderPass::setBlendState(const BlendState& state) { *mBlendState = state; }

void RenderPass::setShaderProgram(ShaderProgram* program) {
    if (program) program->addRef();
    if (mShaderProgram) mShaderProgram->release();
    mShaderProgram = program;
}

void RenderPass::bind() {
    assert(mShaderProgram && "RenderPass::bind without a shader program");
    RenderEngine* engine = RenderEngine::getSingleton();
    engine->setBlendState(mBlendState);
    engine->setDepthState(mDepthState);
    engine->setRasterizerState(mRasterizerState);
    engine->setStencilState(mStencilState);
    if (mShaderProgram) mShaderProgram->bind();
}

void RenderPass::unbind() {
    assert(mShaderProgram && "RenderPass::unbind without a shader program");
    if (mShaderProgram) mShaderProgram->unbind();
}

}  // namespace Dove
