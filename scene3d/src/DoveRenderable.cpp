#include "DoveRenderable.h"

#include "DoveMaterial.h"
#include "DoveRenderEffect.h"
#include "DoveRenderEngine.h"
#include "DoveRenderFactory.h"
#include "DoveResManager.h"
#include "DoveTexture.h"

namespace Dove {

Renderable::Renderable() {
    // Every renderable starts with an unnamed material of its own.
    Material* m = ResManager::getSingleton()->createMaterial(std::string(), 1);
    if (m) {
        mMaterial = m;  // the registry's creation reference is ours
    }
}

Renderable::~Renderable() {
    ResManager* rm = ResManager::peekSingleton();
    for (Texture*& t : mTextures) {
        if (t && rm) rm->releaseTexture(t, 1);
        t = nullptr;
    }
    if (mRenderOperation) {
        if (RenderFactory* f = RenderFactory::peekSingleton()) f->releaseRenderOperation(mRenderOperation);
        mRenderOperation = nullptr;
    }
    if (mMaterial && rm) rm->releaseMaterial(mMaterial, 1);
    mMaterial = nullptr;
    // The technique belongs to its effect: only our reference goes.
    if (mTechnique) mTechnique->release();
}

void Renderable::render() {
    OnRenderBegin();
    RenderEngine::getSingleton()->render(mTechnique, getRenderOperation());
    OnRenderEnd();
}

void Renderable::setTechnique(RenderTechnique* technique) {
    if (technique) technique->addRef();
    if (mTechnique) mTechnique->release();
    mTechnique = technique;
}

RenderOperation* Renderable::getRenderOperation() {
    if (!mRenderOperation) mRenderOperation = RenderFactory::getSingleton()->createRenderOperation();
    return mRenderOperation;
}

void Renderable::setMaterial(Material* material) {
    if (material == mMaterial) return;
    if (material) material->addRef();  // before the old one goes: it may share textures with it
    if (mMaterial) ResManager::getSingleton()->releaseMaterial(mMaterial, 1);
    mMaterial = material;
    if (!material) return;
    for (int u = 0; u < 2; ++u) {
        setTexture(material->getTexture(TextureUsage(u)), TextureUsage(u));
        mTextureEnabled[u] = material->getTextureEnabled(TextureUsage(u));
    }
}

void Renderable::setTexture(Texture* texture, TextureUsage usage) {
    const int slot = usage == TU_MASK ? 1 : 0;
    if (texture) texture->addRef();
    Texture* old = mTextures[slot];
    mTextures[slot] = texture;
    if (old) ResManager::getSingleton()->releaseTexture(old, 1);
    checkIfTransparent();
}

bool Renderable::checkIfTransparent() {
    bool t = mTextures[1] != nullptr;
    if (!t && mTextures[0] && mTextures[0]->isTransparent()) t = true;
    if (!t && mMaterial && !(mMaterial->getTransparency() == 0.0f)) t = true;  // NaN counts as not 0
    mTransparent = t;
    return t;
}

}  // namespace Dove
