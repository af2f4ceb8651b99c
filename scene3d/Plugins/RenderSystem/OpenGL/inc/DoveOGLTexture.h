// A texture as an OpenGL texture object, filled from a bitmap record, left blank as a render
// target or filled with one colour.
#ifndef DOVE_OGLTEXTURE_H
#define DOVE_OGLTEXTURE_H

#include "DoveTexture.h"

namespace Dove {

// 1 and 2 the 2D target, 4 the cube-map target, 0 for anything else.
unsigned int getOGLTextureTarget(uint32_t textureType);

class OGLTexture : public Texture {
public:
    explicit OGLTexture(const std::string& name);
    ~OGLTexture() override;

    uint32_t getTextureID() const override { return mTextureName; }
    long createBlankTexture(unsigned int width, unsigned int height) override;
    long createFromMBitmap(MBITMAP* bitmap) override;
    long createPureTexture(unsigned int width, unsigned int height, Color colour) override;
    long createFromMBitmapWithAutoFit(MBITMAP* bitmap, unsigned int width, unsigned int height, long fit) override;
    void generateMipmaps() override;

private:
    void bindWithFilters();

    uint32_t mTextureName = 0;
};

}  // namespace Dove

#endif
