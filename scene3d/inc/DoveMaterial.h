// A material: colours and shading values from the scene file, two texture slots and the
// transparency the default fragment shader applies.
#ifndef DOVE_MATERIAL_H
#define DOVE_MATERIAL_H

#include "DoveMath.h"
#include "DoveObject.h"
#include "DoveRenderable.h"

namespace Dove {

class Texture;

class Material : public Object {
public:
    // The empty name gives "Material_" and the next object number; the original name is the one
    // given.
    explicit Material(const std::string& name = std::string());
    ~Material() override;

    void setTexture(Texture* texture, TextureUsage usage);
    Texture* getTexture(TextureUsage usage) const { return mTextures[usage == TU_MASK ? 1 : 0]; }
    void setTextureEnabled(long enabled, TextureUsage usage) { mTextureEnabled[usage == TU_MASK ? 1 : 0] = enabled; }
    long getTextureEnabled(TextureUsage usage) const { return mTextureEnabled[usage == TU_MASK ? 1 : 0]; }

    float getTransparency() const { return mTransparency; }
    void setTransparency(float t) { mTransparency = t; }
    float getInitialTransparency() const { return mInitialTransparency; }
    void setInitialTransparency(float t) { mInitialTransparency = t; }
    void setInitialState() { mInitialTransparency = mTransparency; }
    void resetToInitialState() { mTransparency = mInitialTransparency; }

    // Colours in the order the scene resource fills them (each r, g, b, a), then shininess.
    Color colors[5];
    float shininess = 1.0f;
    float reserved[3] = {1.0f, 1.0f, 1.0f};
    float header[2] = {1.0f, 1.0f};

private:
    float mTransparency = 0.0f;
    float mInitialTransparency = 0.0f;
    Texture* mTextures[2] = {};
    long mTextureEnabled[2] = {1, 1};
};

}  // namespace Dove

#endif
