// The part of the tile upload that needs no GL context: choosing formats and filling the texels.

#include "View/LMOpenGLTexture.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace {
// Format numbers of the fixed-function texture formats.
constexpr uint32_t kGL_RGB = 0x1907, kGL_RGBA = 0x1908, kGL_LUMINANCE = 0x1909, kGL_LUMINANCE_ALPHA = 0x190A,
                   kGL_BGRA = 0x80E1;
// Bitmap information: the alpha layout in the low five bits, the byte order in 0x7000.
constexpr uint32_t kAlphaInfoMask = 0x1F, kByteOrderMask = 0x7000, kByteOrder32Little = 0x2000;
constexpr uint32_t kAlphaPremultipliedFirst = 2, kAlphaFirst = 4, kAlphaNoneSkipFirst = 6;

void fail(QString *error, const char *text)
{
    if (error)
        *error = QString::fromLatin1(text);
}
} // namespace

std::vector<QRect> LMOpenGLTexture::tilesCoveringRect(uint64_t imageWidth, uint64_t imageHeight, const QRectF &rect)
{
    std::vector<QRect> tiles;
    if (imageWidth == 0 || imageHeight == 0 || !std::isfinite(rect.x()) || !std::isfinite(rect.y()) ||
        !std::isfinite(rect.width()) || !std::isfinite(rect.height()))
        return tiles;
    // Never walk outside the image, whatever rectangle is asked for.
    const double w = double(imageWidth), h = double(imageHeight);
    const double right = std::min(std::floor(rect.x() + rect.width()), w);
    const double bottom = std::min(std::floor(rect.y() + rect.height()), h);
    const double x0 = std::max(0.0, std::floor(rect.x() / kTileSize) * kTileSize);
    const double y0 = std::max(0.0, std::floor(rect.y() / kTileSize) * kTileSize);
    for (double x = x0; x < right; x += kTileSize)
        for (double y = y0; y < bottom; y += kTileSize)
            tiles.emplace_back(int(x), int(y), int(std::min(w - x, double(kTileSize))),
                               int(std::min(h - y, double(kTileSize))));
    return tiles;
}

bool LMOpenGLTexture::buildTileUpload(const LMImage &image, int64_t frameIdx, int64_t left, int64_t top, int64_t width,
                                      int64_t height, const LMRendererInfo *rendererInfo, LMTileUpload *upload,
                                      QString *error)
{
    const uint64_t bpp = image.bitsPerPixel();
    LMTileUpload u;
    switch (bpp) {
    case 8:
        u.internalFormat = u.pixelFormat = kGL_LUMINANCE;
        break;
    case 16:
        u.internalFormat = u.pixelFormat = kGL_LUMINANCE_ALPHA;
        break;
    case 24:
        u.internalFormat = u.pixelFormat = kGL_RGB;
        break;
    case 32: {
        const uint32_t alpha = image.bitmapInfo() & kAlphaInfoMask;
        const bool alphaFirst = alpha == kAlphaPremultipliedFirst || alpha == kAlphaFirst || alpha == kAlphaNoneSkipFirst;
        u.internalFormat = kGL_RGBA;
        u.pixelFormat = alphaFirst ? kGL_BGRA : kGL_RGBA;
        break;
    }
    default:
        fail(error, "Unknown Image bpp");
        return false;
    }
    u.bytesPerPixel = uint32_t(bpp / 8);
    if (frameIdx < 0 || frameIdx > INT32_MAX || !image.hasUsableFrame(int(frameIdx))) {
        fail(error, "Frame smaller than its layout");
        return false;
    }
    const int64_t imgW = int64_t(std::min<uint64_t>(image.width(), INT32_MAX));
    const int64_t imgH = int64_t(std::min<uint64_t>(image.height(), INT32_MAX));
    if (left < 0 || top < 0 || left >= imgW || top >= imgH || width <= 0 || height <= 0) {
        fail(error, "Tile outside the image");
        return false;
    }
    const int64_t w = std::min({width, kTileSize, imgW - left});
    const int64_t h = std::min({height, kTileSize, imgH - top});
    u.width = w;
    u.height = h;
    const size_t B = u.bytesPerPixel;
    const size_t stride = B * kTextureSize;
    // The caller's buffer is reused when it has room.
    u.buffer = std::move(upload->buffer);
    u.buffer.assign(stride * kTextureSize, 0);

    // The frames after the first of a compact animation are composed for the upload, in the
    // stored frame's layout.
    const QImage composed = frameIdx > 0 && image.animation() ? image.frameImage(int(frameIdx)) : QImage();
    if (frameIdx > 0 && image.animation() && composed.isNull()) {
        fail(error, "Frame could not be composed");
        return false;
    }
    const uint8_t *src = composed.isNull() ? image.frameDatas()[int(frameIdx)]->bytes() : composed.constBits();
    const size_t srcStride = size_t(image.bytesPerRow());
    const int64_t lb = std::min<int64_t>(left, 1), tb = std::min<int64_t>(top, 1);
    const int64_t bb = top + h < imgH ? 1 : 0;
    const int64_t colBegin = left - lb, colEnd = std::min(left + w + 1, imgW);
    const int64_t cols = colEnd - colBegin, rows = h + tb + bb;
    for (int64_t r = 0; r < rows; ++r) {
        const uint8_t *from = src + size_t(top - tb + r) * srcStride + size_t(colBegin) * B;
        uint8_t *to = u.buffer.data() + size_t(1 - tb + r) * stride + size_t(1 - lb) * B;
        std::memcpy(to, from, size_t(cols) * B);
    }

    if (u.pixelFormat == kGL_BGRA) {
        const bool reverse = (image.bitmapInfo() & kByteOrderMask) != kByteOrder32Little;
        const bool swapRB = !rendererInfo || rendererInfo->extension[1] == 0;
        for (int64_t r = 0; r < rows; ++r) {
            uint8_t *p = u.buffer.data() + size_t(1 - tb + r) * stride + size_t(1 - lb) * B;
            for (int64_t c = 0; c < cols; ++c, p += 4) {
                if (reverse) {
                    std::swap(p[0], p[3]);
                    std::swap(p[1], p[2]);
                }
                if (swapRB)
                    std::swap(p[0], p[2]);
            }
        }
        if (swapRB)
            u.pixelFormat = kGL_RGBA;
    }

    // Repeat the outer ring so that filtering at the tile's far edges never reads the zero texels
    // beyond (when the tile is smaller than the texture).
    const int64_t cw = std::min<int64_t>(kTileSize - w, 2), ch = std::min<int64_t>(kTileSize - h, 2);
    if (cw != 0 || ch != 0) {
        for (int64_t r = 0; r <= h + 1; ++r) {
            uint8_t *row = u.buffer.data() + size_t(r) * stride;
            for (int64_t c = 1; c <= cw; ++c)
                std::memcpy(row + size_t(w + 1 + c) * B, row + size_t(w + 1) * B, B);
        }
        const uint8_t *last = u.buffer.data() + size_t(h + 1) * stride;
        for (int64_t r = 1; r <= ch; ++r)
            std::memcpy(u.buffer.data() + size_t(h + 1 + r) * stride, last, size_t(w + 2 + cw) * B);
    }
    *upload = std::move(u);
    return true;
}
