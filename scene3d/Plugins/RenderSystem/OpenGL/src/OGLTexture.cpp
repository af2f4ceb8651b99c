#include "DoveOGLTexture.h"

#include <cstring>
#include <vector>

#include "DoveOGLRenderEngine.h"
#include "OGLCommon.h"

namespace Dove {

unsigned int getOGLTextureTarget(uint32_t textureType) {
    switch (textureType) {
        case 1:
        case 2: return GL_TEXTURE_2D;
        case 4: return GL_TEXTURE_CUBE_MAP;
        default: return 0;
    }
}

namespace {

// The OpenGL format of a layout the engine uploads from bitmap records; grey becomes alpha.
GLenum glFormatOf(uint64_t format) {
    switch (format) {
        case kColorRGBA8888: return GL_RGBA;
        case kColorRGB888: return GL_RGB;
        case kColorGray8: return GL_ALPHA;
        default: return 0;
    }
}

// The largest side the driver takes; without a context or engine the conservative 2D minimum.
uint32_t maxTextureSide() {
    if (OGLRenderEngine* e = OGLRenderEngine::current())
        if (const RenderCapability* cap = e->getRenderCapability())
            if (cap->maxTextureSize > 0) return uint32_t(cap->maxTextureSize);
    GLint v = 0;
    glGetIntegerv(GL_MAX_TEXTURE_SIZE, &v);
    drainGLErrors();
    return v > 0 ? uint32_t(v) : 2048u;
}

uint32_t nextPowerOfTwo(uint32_t v) {
    if (v <= 1) return 1;
    if (v > (1u << 31)) return 0;  // no power of two above it fits
    uint32_t p = 1;
    while (p < v) p <<= 1;
    return p;
}

}  // namespace

OGLTexture::OGLTexture(const std::string& name) : Texture(name) {
    if (!glReady()) return;
    GLuint n = 0;
    glGenTextures(1, &n);
    drainGLErrors();
    mTextureName = n;
}

OGLTexture::~OGLTexture() {
    if (mTextureName == 0 || !glReady()) return;
    GLuint n = mTextureName;
    glDeleteTextures(1, &n);
    drainGLErrors();
}

void OGLTexture::bindWithFilters() {
    glBindTexture(GL_TEXTURE_2D, mTextureName);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
    // Bitmap rows are tightly packed: without this an RGB or grey row whose length is not a
    // multiple of four would be read past its end.
    glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
    drainGLErrors();
}

void OGLTexture::generateMipmaps() {
    if (mTextureName == 0 || mWidth == 0 || mHeight == 0 || !glReady()) return;
    // Core since OpenGL 3.0; older drivers offer it through the frame-buffer-object extensions.
    const bool core = epoxy_gl_version() >= 30 || epoxy_has_gl_extension("GL_ARB_framebuffer_object");
    if (!core && !epoxy_has_gl_extension("GL_EXT_framebuffer_object")) return;
    drainGLErrors();
    glBindTexture(GL_TEXTURE_2D, mTextureName);
    if (core)
        glGenerateMipmap(GL_TEXTURE_2D);
    else
        glGenerateMipmapEXT(GL_TEXTURE_2D);
    // Only a texture whose smaller levels were made may be sampled through them: an incomplete one
    // would draw black.
    const bool made = glGetError() == GL_NO_ERROR;
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, made ? GL_LINEAR_MIPMAP_LINEAR : GL_LINEAR);
    drainGLErrors();
}

long OGLTexture::createFromMBitmap(MBITMAP* bitmap) {
    if (checkedBitmapBytes(bitmap) == 0 || mTextureName == 0) return 0;
    const uint32_t w = uint32_t(bitmap->lWidth), h = uint32_t(bitmap->lHeight);
    if (w > maxTextureSide() || h > maxTextureSide()) return 0;
    const GLenum format = glFormatOf(bitmap->dwPixelArrayFormat);
    mWidth = w;
    mHeight = h;
    mFormat = bitmap->dwPixelArrayFormat;
    mTextureType = 2;
    mTransparent = checkMBitmapIsTransparent(bitmap) ? 1 : 0;
    bindWithFilters();
    glTexImage2D(GL_TEXTURE_2D, 0, GLint(format), GLsizei(w), GLsizei(h), 0, format, GL_UNSIGNED_BYTE,
                 bitmap->pPlane[0]);
    drainGLErrors();
    return 1;
}

long OGLTexture::createBlankTexture(unsigned int width, unsigned int height) {
    if (mTextureName == 0 || width > maxTextureSide() || height > maxTextureSide()) return 0;
    mWidth = width;
    mHeight = height;
    mFormat = kColorRGBA8888;
    mTextureType = 2;
    mTransparent = 0;
    bindWithFilters();
    glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA, GLsizei(width), GLsizei(height), 0, GL_RGBA, GL_UNSIGNED_BYTE, nullptr);
    drainGLErrors();
    return 1;
}

long OGLTexture::createPureTexture(unsigned int width, unsigned int height, Color colour) {
    const uint32_t w = nextPowerOfTwo(width), h = nextPowerOfTwo(height);
    const uint32_t maxSide = maxTextureSide();
    if (mTextureName == 0 || w == 0 || h == 0 || w > maxSide || h > maxSide) return 0;
    mWidth = w;
    mHeight = h;
    mFormat = kColorRGBA8888;
    mTextureType = 2;
    mTransparent = colour.a != 1.0f ? 1 : 0;
    // Components x 255 cut to integers, bytes R, G, B, A in memory.
    const uint32_t pixel = uint32_t(uint8_t(int(colour.r * 255))) | uint32_t(uint8_t(int(colour.g * 255))) << 8 |
                           uint32_t(uint8_t(int(colour.b * 255))) << 16 | uint32_t(uint8_t(int(colour.a * 255))) << 24;
    uint8_t bytes[4];
    for (int i = 0; i < 4; ++i) bytes[i] = uint8_t(pixel >> (8 * i));
    std::vector<uint8_t> pixels(size_t(w) * h * 4);  // w, h <= max side: no overflow
    for (size_t i = 0; i < pixels.size(); i += 4) std::memcpy(&pixels[i], bytes, 4);
    // The texture keeps its name: a fresh one per fill would leave the old store behind.
    bindWithFilters();
    glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA, GLsizei(w), GLsizei(h), 0, GL_RGBA, GL_UNSIGNED_BYTE, pixels.data());
    drainGLErrors();
    return 1;
}

long OGLTexture::createFromMBitmapWithAutoFit(MBITMAP* bitmap, unsigned int width, unsigned int height, long fit) {
    // Only layouts whose size can be checked are read: a record of another layout would be read
    // as three bytes a pixel from a buffer of unknown length.
    if (checkedBitmapBytes(bitmap) == 0 || mTextureName == 0) return 0;
    const uint32_t bw = uint32_t(bitmap->lWidth), bh = uint32_t(bitmap->lHeight);
    const uint32_t maxSide = maxTextureSide();
    const GLenum source = glFormatOf(bitmap->dwPixelArrayFormat);
    const GLenum store = bitmap->dwPixelArrayFormat == kColorRGBA8888 ? GL_RGBA : GL_RGB;
    bindWithFilters();
    if (fit) {
        if (width == 0 || height == 0 || width > maxSide || height > maxSide) return 0;
        glTexImage2D(GL_TEXTURE_2D, 0, GLint(store), GLsizei(width), GLsizei(height), 0, store, GL_UNSIGNED_BYTE,
                     nullptr);
        // Into the top-left corner; a bitmap larger than the store is cut to it.
        const uint32_t cw = bw < width ? bw : width, ch = bh < height ? bh : height;
        glPixelStorei(GL_UNPACK_ROW_LENGTH, GLint(bw));
        glTexSubImage2D(GL_TEXTURE_2D, 0, 0, 0, GLsizei(cw), GLsizei(ch), source, GL_UNSIGNED_BYTE, bitmap->pPlane[0]);
        glPixelStorei(GL_UNPACK_ROW_LENGTH, 0);
    } else {
        if (bw > maxSide || bh > maxSide) return 0;
        // The store gets the bitmap's pixels as well: an unfilled store would show whatever the
        // driver left in it.
        glTexImage2D(GL_TEXTURE_2D, 0, GLint(store), GLsizei(bw), GLsizei(bh), 0, source, GL_UNSIGNED_BYTE,
                     bitmap->pPlane[0]);
    }
    drainGLErrors();
    return 1;
}

}  // namespace Dove
