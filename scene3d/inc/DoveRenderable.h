// The drawable base: a technique, a render operation, a material, two texture slots and the
// transparency that follows from them.
#ifndef DOVE_RENDERABLE_H
#define DOVE_RENDERABLE_H

#include "DoveMath.h"
#include "DoveObject.h"

namespace Dove {

class RenderTechnique;
class RenderOperation;
class RenderParameter;
class Material;
class Texture;

// 0 the base texture, 1 the mask texture.
enum TextureUsage { TU_BASE = 0, TU_MASK = 1 };

// A texture transform: offset u, v, rotation, scale u, v.
struct UVTexture {
    float v[5] = {0, 0, 0, 1, 1};
};

class Renderable : public Object {
public:
    Renderable();
    ~Renderable() override;

    virtual void OnRenderBegin() {}
    virtual void OnRenderEnd() {}
    virtual void render();
    virtual void setTechnique(RenderTechnique* technique);

    RenderTechnique* getTechnique() const { return mTechnique; }
    RenderOperation* getRenderOperation();
    Material* getMaterial() const { return mMaterial; }
    void setMaterial(Material* material);
    void setTexture(Texture* texture, TextureUsage usage);
    Texture* getTexture(TextureUsage usage) const { return usage == TU_MASK ? mTextures[1] : mTextures[0]; }
    void setTextureEnabled(long enabled, TextureUsage usage) { mTextureEnabled[usage == TU_MASK ? 1 : 0] = enabled; }
    long getTextureEnabled(TextureUsage usage) const { return mTextureEnabled[usage == TU_MASK ? 1 : 0]; }
    bool checkIfTransparent();
    bool isTransparent() const { return mTransparent; }
    void setUVTexture(const UVTexture& uv, TextureUsage usage) { mTexTransform[usage == TU_MASK ? 1 : 0] = uv; }
    const UVTexture& getUVTexture(TextureUsage usage) const { return mTexTransform[usage == TU_MASK ? 1 : 0]; }

protected:
    RenderTechnique* mTechnique = nullptr;
    RenderOperation* mRenderOperation = nullptr;
    Material* mMaterial = nullptr;
    Matrix4 mModelMatrix;
    // Cached effect parameters: model, view and projection matrices, UV offset, base and mask
    // samplers, transparency.
    RenderParameter* mParams[7] = {};
    Texture* mTextures[2] = {};
    long mTextureEnabled[2] = {1, 1};
    UVTexture mTexTransform[2];
    bool mTransparent = false;
};

}  // namespace Dove

#endif
