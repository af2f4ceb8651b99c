// A named GPU texture, filled from a bitmap record, left blank as a render target or filled with
// one colour. Backends implement the uploads.
#ifndef DOVE_TEXTURE_H
#define DOVE_TEXTURE_H

#include <cstdint>
#include <string>

#include "DoveMath.h"
#include "DoveObject.h"
#include "MdBitmap.h"

namespace Dove {

// Pixel layouts the engine reads from bitmap records.
constexpr uint64_t kColorRGBA8888 = 0x37001777;  // R, G, B, A bytes
constexpr uint64_t kColorRGB888 = 0x16001777;    // R, G, B bytes
constexpr uint64_t kColorGray8 = 0x64000000;     // one grey byte

class Texture : public Refcount {
public:
    explicit Texture(const std::string& name);
    ~Texture() override = default;

    virtual uint32_t getTextureID() const = 0;
    virtual long createBlankTexture(unsigned int width, unsigned int height) = 0;
    virtual long createFromMBitmap(MBITMAP* bitmap) = 0;
    virtual long createPureTexture(unsigned int width, unsigned int height, Color colour) = 0;
    virtual long createFromMBitmapWithAutoFit(MBITMAP* bitmap, unsigned int width, unsigned int height,
                                              long fit) = 0;
    // Makes the smaller copies of the pixels the texture holds now, for drawing it smaller than it
    // is without shimmering: a photo made for the screen and shown on a small card would otherwise
    // be sampled at scattered texels. A backend without them keeps plain filtering.
    virtual void generateMipmaps() {}

    const std::string& getName() const { return mName; }
    void setName(const std::string& name) { mName = name; }
    uint32_t getWidth() const { return mWidth; }
    uint32_t getHeight() const { return mHeight; }
    void setSize(uint32_t width, uint32_t height) {
        mWidth = width;
        mHeight = height;
    }
    uint64_t getFormat() const { return mFormat; }
    uint32_t getTextureType() const { return mTextureType; }
    bool isTransparent() const { return mTransparent != 0; }

    static uint32_t& nameIndex();  // the context's counter for generated names

protected:
    std::string mName;
    uint32_t mWidth = 0, mHeight = 0;
    uint32_t mReserved = 1;
    uint64_t mFormat = 0;
    uint32_t mTextureType = 2;
    long mTransparent = 0;
};

// Hands back one reference to a texture: through the resource manager when it keeps the texture
// (so that its registry never points at a destroyed texture), else directly.
void releaseTextureReference(Texture* texture);

// Bytes a pixel of a layout the engine uploads, 0 for any other.
uint32_t bytesPerPixel(uint64_t format);
// Checks a bitmap record before its pixels are read: a known layout, a size from 1 to 2^15 a side,
// and a first plane. Returns the byte count of the tightly packed pixels, or 0.
size_t checkedBitmapBytes(const MBITMAP* bitmap);
// RGBA: any alpha below 255; grey: always; anything else: never.
bool checkMBitmapIsTransparent(const MBITMAP* bitmap);
// The first byte of each 4-byte pixel, row by row.
void __bmp_32_to_8(const unsigned char* source, unsigned char* destination, unsigned int rows, unsigned int columns);

}  // namespace Dove

#endif
