#include "DoveResManager.h"

#include <cassert>

#include "DoveAnimation.h"
#include "DoveMaterial.h"
#include "DovePostProcess.h"
#include "DoveRenderEffect.h"
#include "DoveRenderFactory.h"
#include "DoveRenderState.h"
#include "DoveShaderProgram.h"
#include "DoveTexture.h"

namespace Dove {

namespace {
ResManager* gResManager = nullptr;
}

const char* const ResManager::Default2DEffectName = "Default2DEffect";
const char* const ResManager::Default3DEffectName = "Default3DEffect";
const char* const ResManager::FitTextureEffectName = "FitTextureEffect";
const char* const ResManager::CropTextureEffectName = "CropTextureEffect";
const char* const ResManager::RotateTextureEffectName = "RotateTextureEffect";
const char* const ResManager::FitTexturePostProcessName = "FitTexturePostProcess";
const char* const ResManager::CropTexturePostProcessName = "CropTexturePostProcess";
const char* const ResManager::RotateTexturePostProcessName = "RotateTexturePostProcess";
const char* const ResManager::Default2DProgramName = "Default2DProgram";
const char* const ResManager::Default3DProgramName = "Default3DProgram";
const char* const ResManager::LightProgramName = "LightProgram";
const char* const ResManager::FitTextureProgramName = "FitTextureProgram";
const char* const ResManager::CropTextureProgramName = "CropTextureProgram";
const char* const ResManager::RotateTextureProgramName = "RotateTextureProgram";

ResManager* ResManager::getSingleton() {
    if (!gResManager) gResManager = new ResManager();
    return gResManager;
}

ResManager* ResManager::peekSingleton() { return gResManager; }

void ResManager::releaseSingleton() {
    delete gResManager;
    gResManager = nullptr;
}

template <typename M, typename F>
static void releaseAll(M& map, F release) {
    // Copy first: releasing may touch other registries, never this one with flag 0.
    std::vector<typename M::mapped_type> objects;
    for (auto& [name, o] : map) objects.push_back(o);
    for (auto* o : objects) release(o);
    map.clear();
}

ResManager::~ResManager() {
    // Post-processes and animations first: they hold textures, effects' techniques and targets.
    releaseAll(mPostProcesses, [this](PostProcess* p) { releasePostProcess(p, 0); });
    releaseAll(mAnimations, [this](Animation* a) { releaseAnimation(a, 0); });
    releaseAll(mEffects, [this](RenderEffect* e) { releaseRenderEffect(e, 0); });
    releaseAll(mPrograms, [this](ShaderProgram* p) { releaseShaderProgram(p, 0); });
    releaseAll(mMaterials, [this](Material* m) { releaseMaterial(m, 0); });
    releaseAll(mTextures, [this](Texture* t) { releaseTexture(t, 0); });
    mTechniques.clear();
    mPasses.clear();
    if (gResManager == this) gResManager = nullptr;
}

// ---- Effects and programs ----

RenderEffect* ResManager::createRenderEffect(const std::string& name) {
    if (!name.empty() && mEffects.count(name)) return nullptr;
    auto* e = new RenderEffect(this, name);
    if (mEffects.count(e->getName())) {
        delete e;
        return nullptr;
    }
    mEffects[e->getName()] = e;
    e->addRef();
    return e;
}

template <typename M>
static typename M::mapped_type find(const M& map, const std::string& name) {
    auto it = map.find(name);
    return it == map.end() ? nullptr : it->second;
}

RenderEffect* ResManager::getRenderEffectByName(const std::string& name) const { return find(mEffects, name); }
ShaderProgram* ResManager::getShaderProgram(const std::string& name) const { return find(mPrograms, name); }
PostProcess* ResManager::getPostProcessByName(const std::string& name) const { return find(mPostProcesses, name); }
Material* ResManager::getMaterialByName(const std::string& name) const { return find(mMaterials, name); }
Animation* ResManager::getAnimation(const std::string& name) const { return find(mAnimations, name); }
Texture* ResManager::getTextureByName(const std::string& name) const { return find(mTextures, name); }

ShaderProgram* ResManager::createShaderProgram(const std::string& name, const std::string& vertexSource,
                                               const std::string& fragmentSource, RenderEffect* effect) {
    if (mPrograms.count(name)) return nullptr;
    RenderFactory* f = RenderFactory::getSingleton();
    ShaderProgram* p = f->createShaderProgram(name);  // the registry's reference
    if (!p) return nullptr;
    mPrograms[p->getName()] = p;
    p->setEffect(effect);
    p->attachShader(0, vertexSource);
    p->attachShader(1, fragmentSource);
    p->linkShader();
    return p;
}

// depthMode: 0 test off, 1 test and writes on, -1 the pass's default.
RenderEffect* ResManager::buildEffect(const char* name, const char* const* params, const int* types, int count,
                                      const char* technique, const char* pass, int depthMode, const char* program,
                                      const char* vertex, const char* fragment) {
    if (RenderEffect* e = getRenderEffectByName(name)) return e;
    RenderEffect* e = createRenderEffect(name);
    if (!e) return nullptr;
    for (int i = 0; i < count; ++i) e->addRenderParameter(params[i], RenderDataType(types[i]))->release();
    RenderTechnique* t = e->createRenderTechnique(technique);
    RenderPass* p = t->createPass(pass);
    mTechniques[t->getName()] = t;
    mPasses[p->getName()] = p;
    if (depthMode >= 0) {
        DepthState ds;
        ds.depthTest = depthMode;
        ds.depthWrite = 1;
        p->setDepthState(ds);
    }
    ShaderProgram* prog = getShaderProgram(program);
    if (!prog) prog = createShaderProgram(program, vertex, fragment, e);
    p->setShaderProgram(prog);
    // The builder keeps no references of its own: the effect owns its technique and pass.
    p->release();
    t->release();
    return e;
}

static const char* const kMeshParams[7] = {"u_modelMatrix", "u_viewMatrix", "u_projectionMatrix", "u_uvtexture_offset",
                                           "s_baseTexture", "s_maskTexture", "u_transparency"};
static const int kMeshTypes[7] = {RDT_MATRIX4, RDT_MATRIX4, RDT_MATRIX4, RDT_FLOAT2, RDT_TEXTURE, RDT_TEXTURE, RDT_FLOAT1};

RenderEffect* ResManager::getDefault2DEffect() {
    return buildEffect(Default2DEffectName, kMeshParams, kMeshTypes, 7, "Default2DTechnique", "", 0,
                       Default2DProgramName, kTransformVertexShader, kMaskedTextureFragmentShader);
}

RenderEffect* ResManager::getDefault3DEffect() {
    return buildEffect(Default3DEffectName, kMeshParams, kMeshTypes, 7, "DefaultCommon3DTechnique", "", 1,
                       Default3DProgramName, kTransformVertexShader, kMaskedTextureFragmentShader);
}

RenderEffect* ResManager::getFitTextureEffect() {
    static const char* const params[1] = {"s_texture"};
    static const int types[1] = {RDT_TEXTURE};
    return buildEffect(FitTextureEffectName, params, types, 1, "Technique0", "Pass0", 0, FitTextureProgramName,
                       kPassThroughVertexShader, kCopyFragmentShader);
}

RenderEffect* ResManager::getRotateTextureEffect() {
    static const char* const params[2] = {"s_texture", "u_rotateType"};
    static const int types[2] = {RDT_TEXTURE, RDT_INT1};
    return buildEffect(RotateTextureEffectName, params, types, 2, "Technique0", "Pass0", -1,
                       RotateTextureProgramName, kPassThroughVertexShader, kRotateFragmentShader);
}

RenderEffect* ResManager::getCropTextureEffect() {
    static const char* const params[3] = {"s_texture", "u_textureMatrix", "u_texCoord_threshold"};
    static const int types[3] = {RDT_TEXTURE, RDT_MATRIX3, RDT_FLOAT2};
    return buildEffect(CropTextureEffectName, params, types, 3, "Technique0", "Pass0", -1, CropTextureProgramName,
                       kPassThroughVertexShader, kCropFragmentShader);
}

ShaderProgram* ResManager::getDefault2DProgram() {
    if (ShaderProgram* p = getShaderProgram(Default2DProgramName)) return p;
    return createShaderProgram(Default2DProgramName, kTransformVertexShader, kMaskedTextureFragmentShader,
                               getDefault2DEffect());
}

ShaderProgram* ResManager::getDefault3DProgram() {
    if (ShaderProgram* p = getShaderProgram(Default3DProgramName)) return p;
    return createShaderProgram(Default3DProgramName, kTransformVertexShader, kMaskedTextureFragmentShader,
                               getDefault3DEffect());
}

// ---- Post-processes ----

PostProcess* ResManager::createPostProcess(const std::string& name) {
    if (!name.empty() && mPostProcesses.count(name)) return nullptr;
    auto* p = new PostProcess(this, name);
    if (mPostProcesses.count(p->getName())) {
        delete p;
        return nullptr;
    }
    mPostProcesses[p->getName()] = p;
    p->addRef();
    return p;
}

PostProcess* ResManager::buildPostProcess(const char* name, const char* const* params, const int* types, int count) {
    if (PostProcess* p = getPostProcessByName(name)) return p;
    PostProcess* p = createPostProcess(name);
    if (!p) return nullptr;
    p->addInputTextureName("s_texture");
    p->addOutputTextureName("Output0");
    for (int i = 0; i < count; ++i) p->addParamName(params[i], RenderDataType(types[i]));
    return p;
}

PostProcess* ResManager::getFitTexturePostProcess() {
    return buildPostProcess(FitTexturePostProcessName, nullptr, nullptr, 0);
}

PostProcess* ResManager::getRotateTexturePostProcess() {
    static const char* const params[1] = {"u_rotateType"};
    static const int types[1] = {RDT_INT1};
    return buildPostProcess(RotateTexturePostProcessName, params, types, 1);
}

PostProcess* ResManager::getCropTexturePostProcess() {
    static const char* const params[2] = {"u_textureMatrix", "u_texCoord_threshold"};
    static const int types[2] = {RDT_MATRIX3, RDT_FLOAT2};
    return buildPostProcess(CropTexturePostProcessName, params, types, 2);
}

// ---- Materials and animations ----

std::string ResManager::uniqueName(const std::string& name, const std::function<bool(const std::string&)>& taken,
                                   long renameIfTaken, bool& refused) const {
    refused = false;
    if (name.empty() || !taken(name)) return name;
    if (!renameIfTaken) {
        refused = true;
        return {};
    }
    // Step on past names that live entries hold already.
    std::string n;
    do {
        n = name + "_" + std::to_string(Object::nameIndex() + 1);
        Object::nameIndex() += 2;  // the counter moves on once more after the name is made
    } while (taken(n));
    return n;
}

Material* ResManager::createMaterial(const std::string& name, long renameIfTaken) {
    bool refused = false;
    std::string n = uniqueName(name, [this](const std::string& k) { return mMaterials.count(k) != 0; }, renameIfTaken, refused);
    if (refused) return nullptr;
    auto* m = new Material(n);
    m->setOriginalName(name);
    auto& slot = mMaterials[m->getName()];
    if (slot && slot != m) {
        // A generated name that collides: keep the registered one, refuse the new one.
        delete m;
        return nullptr;
    }
    slot = m;
    m->addRef();
    return m;
}

Animation* ResManager::createAnimation(const std::string& name, float duration, long renameIfTaken) {
    bool refused = false;
    std::string n = uniqueName(name, [this](const std::string& k) { return mAnimations.count(k) != 0; }, renameIfTaken, refused);
    if (refused) return nullptr;
    auto* a = new Animation(n, duration);
    a->setOriginalName(name);
    auto& slot = mAnimations[a->getName()];
    if (slot && slot != a) {
        delete a;
        return nullptr;
    }
    slot = a;
    a->addRef();
    return a;
}

// ---- Release ----

template <typename M, typename T, typename D>
static long releaseIn(M& map, T* object, const std::string& name, long flag, D destroy) {
    auto it = map.find(name);
    if (it == map.end() || !object) return 0;
    object->release();
    if (object->getRef() != 0) return 1;
    if (flag) map.erase(it);
    destroy(object);
    return 1;
}

long ResManager::releaseRenderEffect(RenderEffect* effect, long flag) {
    if (!effect) return 0;
    return releaseIn(mEffects, effect, effect->getName(), flag, [this](RenderEffect* e) {
        // Techniques and passes of the effect leave the side registries with it.
        for (RenderTechnique* t : e->getTechniques()) {
            auto ti = mTechniques.find(t->getName());
            if (ti != mTechniques.end() && ti->second == t) mTechniques.erase(ti);
            for (RenderPass* p : t->getPasses()) {
                auto pi = mPasses.find(p->getName());
                if (pi != mPasses.end() && pi->second == p) mPasses.erase(pi);
            }
        }
        delete e;
    });
}

long ResManager::releasePostProcess(PostProcess* postProcess, long flag) {
    if (!postProcess) return 0;
    return releaseIn(mPostProcesses, postProcess, postProcess->getName(), flag, [](PostProcess* p) { delete p; });
}

long ResManager::releaseShaderProgram(ShaderProgram* program, long flag) {
    if (!program) return 0;
    return releaseIn(mPrograms, program, program->getName(), flag, [](ShaderProgram* p) { delete p; });
}

long ResManager::releaseMaterial(Material* material, long flag) {
    if (!material) return 0;
    return releaseIn(mMaterials, material, material->getName(), flag, [](Material* m) { delete m; });
}

long ResManager::releaseAnimation(Animation* animation, long flag) {
    if (!animation) return 0;
    return releaseIn(mAnimations, animation, animation->getName(), flag, [](Animation* a) { delete a; });
}

long ResManager::releaseTexture(Texture* texture, long flag) {
    if (!texture) return 0;
    auto it = mTextures.find(texture->getName());
    if (it == mTextures.end()) return 0;
    if (it->second != texture) return 0;  // a different texture under that name is not this one's entry
    if (RenderFactory::getSingleton()->releaseTexture(texture) && flag) mTextures.erase(it);
    return 1;
}

long ResManager::releaseTextureByName(const std::string& name, long flag) {
    auto it = mTextures.find(name);
    if (it == mTextures.end()) return 0;
    Texture* t = it->second;
    if (RenderFactory::getSingleton()->releaseTexture(t) && flag) mTextures.erase(it);
    return 1;
}

// ---- Animations ----

void ResManager::updateAllAnimations() {
    resetAllBindedTarget();
    for (auto& [name, a] : mAnimations)
        if (a->isPlaying()) a->update();
}

void ResManager::resetAllBindedTarget() {
    for (auto& [name, a] : mAnimations)
        if (a->isPlaying()) a->resetAllBindedTarget();
}

Size ResManager::getTextPixelSize(const std::string&, Font*) const { return Size{0, 0}; }

}  // namespace Dove
