#include "DoveMesh.h"

#include "DoveCamera.h"
#include "DoveElement.h"
#include "DoveMaterial.h"
#include "DoveRenderEffect.h"
#include "DoveRenderEngine.h"
#include "DoveRenderFactory.h"
#include "DoveResManager.h"
#include "DoveSceneManager.h"

namespace Dove {

namespace {
const char* const kParamNames[7] = {"u_modelMatrix", "u_viewMatrix", "u_projectionMatrix", "u_uvtexture_offset",
                                    "s_baseTexture", "s_maskTexture", "u_transparency"};
enum { P_MODEL, P_VIEW, P_PROJ, P_UV, P_BASE, P_MASK, P_TRANSPARENCY };
}  // namespace

Mesh::Mesh(const std::string& name) {
    mMeshName = name.empty() ? makeGeneratedName("Mesh_", Object::nameIndex()) : name;
    mName = mMeshName;
}

void Mesh::adoptBuffers(VertexBuffer* vertices, IndexBuffer* indices) {
    RenderFactory* f = RenderFactory::getSingleton();
    if (mVertices && mVertices != vertices) f->releaseVertexBuffer(mVertices);
    if (mIndices && mIndices != indices) f->releaseIndexBuffer(mIndices);
    mVertices = vertices;
    mIndices = indices;
}

Mesh::~Mesh() {
    if (RenderFactory* f = RenderFactory::peekSingleton()) {
        f->releaseVertexBuffer(mVertices);
        f->releaseIndexBuffer(mIndices);
    }
    if (mEffect) {
        if (ResManager* rm = ResManager::peekSingleton()) rm->releaseRenderEffect(mEffect, 1);
        mEffect = nullptr;
    }
}

void Mesh::setRenderEffect(RenderEffect* effect) {
    if (effect == mEffect) return;
    if (effect) effect->addRef();
    // Only our own reference goes back: the effect may be shared with other meshes.
    if (mEffect) ResManager::getSingleton()->releaseRenderEffect(mEffect, 1);
    mEffect = effect;
    setTechnique(effect && !effect->getTechniques().empty() ? effect->getTechniques().front() : nullptr);
    for (int i = 0; i < 7; ++i) mParams[i] = effect ? effect->getRenderParameterByName(kParamNames[i]) : nullptr;
}

template <typename T>
static void assign(RenderParameter* p, const T& value) {
    if (p && p->getVariable()) *p->getVariable() = value;
}

void Mesh::render(Element* element) {
    SceneManager* sm = SceneManager::getSingleton();
    Camera* camera = sm->getCurrentCamera();
    if (element) assign(mParams[P_MODEL], element->getModelMatrix().Transpose());
    if (camera) {
        assign(mParams[P_VIEW], camera->getViewMatrix().Transpose());
        assign(mParams[P_PROJ], camera->getProjectionMatrix().Transpose());
    }
    Vector_T<float, 1> transparency;
    transparency[0] = mMaterial ? mMaterial->getTransparency() : 0.0f;
    assign(mParams[P_TRANSPARENCY], transparency);
    assign(mParams[P_BASE], mTextures[0]);
    assign(mParams[P_MASK], mTextures[1]);
    Vector_T<float, 2> uv;
    uv[0] = mUVOffset[0];
    uv[1] = mUVOffset[1];
    assign(mParams[P_UV], uv);
    RenderEngine::getSingleton()->render(mTechnique, getRenderOperation());
}

}  // namespace Dove
