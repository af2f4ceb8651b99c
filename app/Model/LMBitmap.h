#pragma once

// One frame's pixels seen as the codec library's bitmap record, so that the codec library can
// resample or convert it. The application's bitmaps are always 32-bit RGBA with premultiplied
// alpha (colour ID 0x37001777, bytes R, G, B, A), rows of width x 4 bytes, one plane.
//
// The record points into the bitmap's own data block: hand `bitmap()` to the codec library only
// while this object lives. The data block may outlive it as a frame of an LMImage.

#include "Model/LMData.h"

#include "MdBitmap.h"

#include <cstdint>

class LMBitmap {
public:
    // The application's pixel format: 32-bit RGBA, premultiplied alpha last.
    static constexpr uint64_t kPixelArrayFormatRGBA = 0x37001777;
    // Bitmap information of that format: alpha premultiplied and last, default byte order.
    static constexpr uint32_t kBitmapInfoPremultipliedLast = 1;

    // A bitmap over `dataBits`, or over a new zero-filled block when dataBits is null. The record's
    // pitch is width x 4 whatever the format. When the size is not positive, its byte count does
    // not fit in memory, the allocation fails or the given block is smaller than width x 4 x height
    // bytes, the bitmap has no data and a null plane (isValid() is false), so the codec library
    // never writes past a block.
    LMBitmap(uint64_t pixelArrayFormat, int64_t width, int64_t height, LMDataBlock dataBits = nullptr);
    LMBitmap(const LMBitmap &) = delete;
    LMBitmap &operator=(const LMBitmap &) = delete;

    // The same with a new zero-filled block.
    static std::shared_ptr<LMBitmap> initEmptyBitmapWithPixelArrayFormat(uint64_t pixelArrayFormat, int64_t width, int64_t height);

    bool isValid() const { return m_bitmap.pPlane[0] != nullptr; }
    MBITMAP *bitmap() { return &m_bitmap; }
    const MBITMAP *bitmap() const { return &m_bitmap; }
    const LMDataBlock &dataBits() const { return m_dataBits; }

    int64_t width() const { return m_bitmap.lWidth; }
    int64_t height() const { return m_bitmap.lHeight; }
    uint64_t bitsPerPixel() const { return 32; }
    uint64_t bytesPerRow() const;
    uint32_t bitmapInfo() const { return pixelArrayFormatToCGBitmapInfo(m_bitmap.dwPixelArrayFormat); }

    // Every application bitmap is premultiplied RGBA, so these map to the one format each way.
    static uint64_t pixelArrayFormatFromCGBitmapInfo(uint32_t) { return kPixelArrayFormatRGBA; }
    static uint32_t pixelArrayFormatToCGBitmapInfo(uint64_t) { return kBitmapInfoPremultipliedLast; }

    // width x 4 x height, or 0 when the size is not positive or the product does not fit.
    static size_t byteCountForSize(int64_t width, int64_t height);

private:
    MBITMAP m_bitmap{};
    LMDataBlock m_dataBits;
};
