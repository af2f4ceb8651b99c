#include "DoveTexture.h"

#include "DoveResManager.h"

#include "DoveContext.h"

namespace Dove {

uint32_t& Texture::nameIndex() { return Context::names().texture; }

Texture::Texture(const std::string& name)
    : mName(name.empty() ? makeGeneratedName("Texture_", nameIndex()) : name) {}

void releaseTextureReference(Texture* texture) {
    if (!texture) return;
    if (ResManager* rm = ResManager::peekSingleton())
        if (rm->getTextureByName(texture->getName()) == texture) {
            rm->releaseTexture(texture, 1);
            return;
        }
    if (texture->release() == 0) delete texture;
}

uint32_t bytesPerPixel(uint64_t format) {
    switch (format) {
        case kColorRGBA8888: return 4;
        case kColorRGB888: return 3;
        case kColorGray8: return 1;
        default: return 0;
    }
}

size_t checkedBitmapBytes(const MBITMAP* bitmap) {
    if (!bitmap || !bitmap->pPlane[0]) return 0;
    const uint32_t bpp = bytesPerPixel(bitmap->dwPixelArrayFormat);
    constexpr int64_t kMaxSide = 1 << 15;
    if (bpp == 0 || bitmap->lWidth < 1 || bitmap->lHeight < 1 || bitmap->lWidth > kMaxSide ||
        bitmap->lHeight > kMaxSide)
        return 0;
    return size_t(bitmap->lWidth) * size_t(bitmap->lHeight) * bpp;  // at most 2^32 bytes: no overflow
}

bool checkMBitmapIsTransparent(const MBITMAP* bitmap) {
    if (!bitmap) return false;
    if (bitmap->dwPixelArrayFormat == kColorGray8) return true;
    if (bitmap->dwPixelArrayFormat != kColorRGBA8888 || checkedBitmapBytes(bitmap) == 0) return false;
    const size_t w = size_t(bitmap->lWidth), h = size_t(bitmap->lHeight);
    const size_t rowBytes = w * 4;
    // Column by column, each from the first row to the last.
    for (size_t x = 0; x < w; ++x)
        for (size_t y = 0; y < h; ++y)
            if (bitmap->pPlane[0][y * rowBytes + x * 4 + 3] < 255) return true;
    return false;
}

void __bmp_32_to_8(const unsigned char* source, unsigned char* destination, unsigned int rows, unsigned int columns) {
    if (rows < 1 || !source || !destination) return;
    for (unsigned int r = 0; r < rows; ++r)
        for (unsigned int c = 0; c < columns; ++c) {
            *destination++ = *source;
            source += 4;
        }
}

}  // namespace Dove
