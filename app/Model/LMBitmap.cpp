#include "Model/LMBitmap.h"

#include <limits>

size_t LMBitmap::byteCountForSize(int64_t width, int64_t height)
{
    if (width <= 0 || height <= 0)
        return 0;
    const uint64_t w = uint64_t(width), h = uint64_t(height);
    const uint64_t limit = std::min<uint64_t>(std::numeric_limits<size_t>::max(), uint64_t(std::numeric_limits<int64_t>::max()));
    if (w > limit / 4 || w * 4 > limit / h)
        return 0;
    return size_t(w * 4 * h);
}

LMBitmap::LMBitmap(uint64_t pixelArrayFormat, int64_t width, int64_t height, LMDataBlock dataBits)
{
    m_bitmap.dwPixelArrayFormat = pixelArrayFormat;
    m_bitmap.lWidth = width;
    m_bitmap.lHeight = height;
    const size_t bytes = byteCountForSize(width, height);
    if (bytes == 0)
        return;
    m_bitmap.lPitch[0] = width * 4;
    if (!dataBits)
        dataBits = LMData::create(bytes);
    if (!dataBits || dataBits->length() < bytes)
        return;
    m_dataBits = std::move(dataBits);
    m_bitmap.pPlane[0] = m_dataBits->mutableBytes();
}

std::shared_ptr<LMBitmap> LMBitmap::initEmptyBitmapWithPixelArrayFormat(uint64_t pixelArrayFormat, int64_t width, int64_t height)
{
    return std::make_shared<LMBitmap>(pixelArrayFormat, width, height);
}

uint64_t LMBitmap::bytesPerRow() const
{
    if (m_bitmap.lWidth <= 0)
        return 0;
    return ((bitsPerPixel() * uint64_t(m_bitmap.lWidth) + 31) / 8) & ~uint64_t(3);
}
