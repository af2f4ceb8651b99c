#include "Model/LMImage.h"

#include "imageio/GifAnimation.h"
#include "imageio/Orientation.h"


#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>

namespace {

// Bitmap information: alpha position in the low five bits, byte order in bits 12-14.
constexpr uint32_t kAlphaInfoMask = 0x1F;
constexpr uint32_t kByteOrderMask = 0x7000;
constexpr uint32_t kByteOrder32Little = 0x2000;

QImage::Format imageFormatFor(uint32_t bitmapInfo, uint64_t bitsPerPixel)
{
    const uint32_t alpha = bitmapInfo & kAlphaInfoMask;
    const uint32_t order = bitmapInfo & kByteOrderMask;
    const bool little = order == kByteOrder32Little;
    if (bitsPerPixel == 32) {
        if (!little && order != 0 && order != 0x4000)
            return QImage::Format_Invalid;
        switch (alpha) {
        case 1:
            return little ? QImage::Format_Invalid : QImage::Format_RGBA8888_Premultiplied;
        case 3:
            return little ? QImage::Format_Invalid : QImage::Format_RGBA8888;
        case 5:
            return little ? QImage::Format_Invalid : QImage::Format_RGBX8888;
        // Alpha first in a little-endian 32-bit word is B, G, R, A in memory: the host's ARGB32.
        case 2:
            return little && Q_BYTE_ORDER == Q_LITTLE_ENDIAN ? QImage::Format_ARGB32_Premultiplied : QImage::Format_Invalid;
        case 4:
            return little && Q_BYTE_ORDER == Q_LITTLE_ENDIAN ? QImage::Format_ARGB32 : QImage::Format_Invalid;
        case 6:
            return little && Q_BYTE_ORDER == Q_LITTLE_ENDIAN ? QImage::Format_RGB32 : QImage::Format_Invalid;
        default:
            return QImage::Format_Invalid;
        }
    }
    if (bitsPerPixel == 24 && alpha == 0)
        return QImage::Format_RGB888;
    if (bitsPerPixel == 8 && alpha == 0)
        return QImage::Format_Grayscale8;
    return QImage::Format_Invalid;
}

void releaseBlock(void *info) { delete static_cast<LMDataBlock *>(info); }

} // namespace

LMImage::LMImage(uint32_t bitmapInfo, uint64_t bitsPerPixel, uint64_t bytesPerRow, uint64_t width, uint64_t height,
                 const QList<LMDataBlock> &frameDatas, LMFileImgBaseInfoPtr originalImgBaseInfo)
    : m_bitmapInfo(bitmapInfo), m_bitsPerPixel(bitsPerPixel), m_bytesPerRow(bytesPerRow), m_width(width), m_height(height),
      m_frameDatas(frameDatas), m_originalImgBaseInfo(std::move(originalImgBaseInfo))
{
}

LMImage::LMImage(const QList<std::shared_ptr<LMBitmap>> &bitmaps, LMFileImgBaseInfoPtr originalImgBaseInfo)
{
    if (bitmaps.isEmpty() || !bitmaps.first())
        return;
    const LMBitmap &first = *bitmaps.first();
    QList<LMDataBlock> frames;
    for (const auto &b : bitmaps) {
        // Every frame must share the first one's layout; a frame without pixels would leave a hole
        // that readers index into.
        if (!b || !b->isValid() || b->width() != first.width() || b->height() != first.height())
            return;
        frames.append(b->dataBits());
    }
    m_bitmapInfo = first.bitmapInfo();
    m_bitsPerPixel = first.bitsPerPixel();
    m_bytesPerRow = first.bytesPerRow();
    m_width = uint64_t(first.width());
    m_height = uint64_t(first.height());
    m_frameDatas = std::move(frames);
    m_originalImgBaseInfo = std::move(originalImgBaseInfo);
}

LMImage::LMImage(const QImage &image, LMFileImgBaseInfoPtr originalImgBaseInfo)
{
    if (auto bitmap = createImageBitmapByImageRef(image, originalImgBaseInfo))
        *this = LMImage(QList<std::shared_ptr<LMBitmap>>{bitmap}, std::move(originalImgBaseInfo));
}

std::shared_ptr<LMBitmap> LMImage::createImageBitmapByImageRef(const QImage &image, const LMFileImgBaseInfoPtr &imageBaseInfo)
{
    if (image.isNull() || !imageBaseInfo)
        return nullptr;
    const QImage rgba = image.format() == QImage::Format_RGBA8888_Premultiplied
                            ? image
                            : image.convertToFormat(QImage::Format_RGBA8888_Premultiplied);
    if (rgba.isNull())
        return nullptr;
    const int64_t w = rgba.width(), h = rgba.height();
    const uint64_t format = LMBitmap::pixelArrayFormatFromCGBitmapInfo(LMBitmap::kBitmapInfoPremultipliedLast);
    if (rgba.bytesPerLine() == qsizetype(w) * 4) {
        // Rows without padding are the bitmap's layout already: the picture's own pixels are kept,
        // so a full-size decode is never held twice. The decoder's picture is only read after this.
        auto owner = std::make_shared<const QImage>(rgba);
        auto *bytes = const_cast<uint8_t *>(owner->constBits());
        const size_t length = LMBitmap::byteCountForSize(w, h);
        if (auto block = LMData::createWithOwner(bytes, length, owner)) {
            auto bitmap = std::make_shared<LMBitmap>(format, w, h, std::move(block));
            if (bitmap->isValid())
                return bitmap;
        }
    }
    auto bitmap = std::make_shared<LMBitmap>(format, w, h);
    if (!bitmap->isValid())
        return nullptr;
    uint8_t *dst = bitmap->bitmap()->pPlane[0];
    const size_t row = size_t(w) * 4;
    for (int64_t y = 0; y < h; ++y)
        std::memcpy(dst + size_t(y) * row, rgba.constScanLine(int(y)), row);
    return bitmap;
}

double LMImage::scaleOfOriginal() const
{
    if (!m_originalImgBaseInfo)
        return 0;
    const double raw = m_originalImgBaseInfo->rawFrameSize().width();
    return raw > 0 ? double(m_width) / raw : 0;
}

bool LMImage::setAnimation(std::shared_ptr<const kpv::GifAnimation> animation)
{
    if (!animation || m_frameDatas.size() != 1 || !hasUsableFrame(0) ||
        imageFormatFor(m_bitmapInfo, m_bitsPerPixel) != QImage::Format_RGBA8888_Premultiplied ||
        m_bytesPerRow != m_width * 4 || uint64_t(animation->size().width()) != m_width ||
        uint64_t(animation->size().height()) != m_height)
        return false;
    m_animation = std::move(animation);
    return true;
}

int64_t LMImage::frameCount() const
{
    return m_animation ? std::max<int64_t>(m_animation->frameCount(), 1) : m_frameDatas.size();
}

bool LMImage::hasUsableFrame(int index) const
{
    if (m_animation && index > 0 && index < m_animation->frameCount())
        return hasUsableFrame(0);
    if (index < 0 || index >= m_frameDatas.size() || !m_frameDatas[index])
        return false;
    if (m_width == 0 || m_height == 0 || m_bitsPerPixel == 0 || m_bitsPerPixel % 8 != 0)
        return false;
    const uint64_t bpp = m_bitsPerPixel / 8;
    if (m_width > std::numeric_limits<uint64_t>::max() / bpp || m_width * bpp > m_bytesPerRow)
        return false;
    if (m_bytesPerRow > std::numeric_limits<uint64_t>::max() / m_height)
        return false;
    return m_frameDatas[index]->length() >= m_bytesPerRow * m_height;
}

std::shared_ptr<LMBitmap> LMImage::preferredBitmap() const
{
    const uint64_t format = LMBitmap::pixelArrayFormatFromCGBitmapInfo(m_bitmapInfo);
    if (format == 0 || m_frameDatas.isEmpty())
        return nullptr;
    if (m_width > uint64_t(std::numeric_limits<int64_t>::max()) || m_height > uint64_t(std::numeric_limits<int64_t>::max()))
        return nullptr;
    // The raw bitmap assumes rows of width x 4 bytes: refuse a layout it would misread.
    if (m_bitsPerPixel != 32 || m_bytesPerRow != m_width * 4)
        return nullptr;
    auto bitmap = std::make_shared<LMBitmap>(format, int64_t(m_width), int64_t(m_height), m_frameDatas.first());
    return bitmap->isValid() ? bitmap : nullptr;
}

QImage LMImage::frameImage(int index) const
{
    if (!hasUsableFrame(index))
        return {};
    if (m_animation && index > 0) {
        // Composed in the stored frame's layout (setAnimation checked it).
        const QImage composed = m_animation->frame(index);
        return composed.format() == QImage::Format_RGBA8888_Premultiplied && composed.bytesPerLine() == qsizetype(m_bytesPerRow)
                   ? composed
                   : QImage();
    }
    const QImage::Format format = imageFormatFor(m_bitmapInfo, m_bitsPerPixel);
    if (format == QImage::Format_Invalid)
        return {};
    constexpr uint64_t kMaxInt = uint64_t(std::numeric_limits<int>::max());
    if (m_width > kMaxInt || m_height > kMaxInt || m_bytesPerRow > uint64_t(std::numeric_limits<qsizetype>::max()))
        return {};
    // The platform image reads the shared block in place and keeps it alive until it is gone.
    const LMDataBlock &block = m_frameDatas[index];
    return QImage(block->bytes(), int(m_width), int(m_height), qsizetype(m_bytesPerRow), format, releaseBlock,
                  new LMDataBlock(block));
}

QImage LMImage::convertToImage() const { return frameImage(0); }

QImage LMImage::cropImage(const QRectF &rect) const
{
    // A rectangle with a coordinate that is not a finite number crops nothing: converting it
    // to pixels would be undefined.
    if (!std::isfinite(rect.x()) || !std::isfinite(rect.y()) || !std::isfinite(rect.width()) ||
        !std::isfinite(rect.height()))
        return {};
    const QRectF cut = rect.intersected(QRectF(0, 0, double(m_width), double(m_height)));
    if (cut.isEmpty())
        return {};
    const QImage whole = frameImage(0);
    if (whole.isNull())
        return {};
    const int x = int(cut.x()), y = int(cut.y());
    const int w = int(cut.width()), h = int(cut.height());
    if (w <= 0 || h <= 0)
        return {};
    // copy() clips to the image, so an intersection rounded outward still reads inside the frame.
    QImage part = whole.copy(x, y, w, h);
    return part;
}

QImage LMImage::convertToUprightImage(int index) const
{
    const QImage image = frameImage(index);
    if (image.isNull() || !m_originalImgBaseInfo)
        return image;
    return uprightImage(image, *m_originalImgBaseInfo);
}

QImage LMImage::uprightImage(const QImage &stored, const LMFileImgBaseInfo &source)
{
    return kpv::turnedUpright(stored, int(source.orientationAngle()), source.isOrientationMirrored());
}
