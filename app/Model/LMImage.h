#pragma once

// A decoded picture: a pixel layout, one data block per frame (several for an animated GIF), and
// the base information of the file it came from. The loader makes it on a worker thread; once it
// is handed out it is only read, so it is shared as std::shared_ptr<const LMImage> between threads.
// Pixels are kept in the file's stored orientation; consumers turn them by the base information.
//
// The application's frames are 32-bit RGBA with premultiplied alpha (bitmap information 1), rows
// from the top. Frames are shared, never copied without need: convertToImage() wraps frame 0
// without copying it.

#include "Model/LMBitmap.h"
#include "Model/LMData.h"
#include "Model/LMFileImgBaseInfo.h"

#include <QImage>
#include <QList>
#include <QRectF>

#include <cstdint>
#include <memory>

namespace kpv {
class GifAnimation;
}

class LMImage {
public:
    // An empty image: no frames, no source.
    LMImage() = default;
    // Keeps every value as passed.
    LMImage(uint32_t bitmapInfo, uint64_t bitsPerPixel, uint64_t bytesPerRow, uint64_t width, uint64_t height,
            const QList<LMDataBlock> &frameDatas, LMFileImgBaseInfoPtr originalImgBaseInfo);
    // Layout from the first bitmap, one frame per bitmap in order; empty (no frames, no source)
    // when the list is empty or holds a bitmap without data.
    LMImage(const QList<std::shared_ptr<LMBitmap>> &bitmaps, LMFileImgBaseInfoPtr originalImgBaseInfo);
    // One frame drawn from a platform image, converted to premultiplied RGBA; empty when the image
    // is null or the memory is not available.
    LMImage(const QImage &image, LMFileImgBaseInfoPtr originalImgBaseInfo);

    // A premultiplied RGBA bitmap of `image` (transparent parts zero); nullptr for a null image,
    // missing base information or missing memory.
    static std::shared_ptr<LMBitmap> createImageBitmapByImageRef(const QImage &image, const LMFileImgBaseInfoPtr &imageBaseInfo);

    uint32_t bitmapInfo() const { return m_bitmapInfo; }
    void setBitmapInfo(uint32_t v) { m_bitmapInfo = v; }
    uint64_t bitsPerPixel() const { return m_bitsPerPixel; }
    void setBitsPerPixel(uint64_t v) { m_bitsPerPixel = v; }
    uint64_t bytesPerRow() const { return m_bytesPerRow; }
    void setBytesPerRow(uint64_t v) { m_bytesPerRow = v; }
    uint64_t width() const { return m_width; }
    void setWidth(uint64_t v) { m_width = v; }
    uint64_t height() const { return m_height; }
    void setHeight(uint64_t v) { m_height = v; }
    // The stored frames: every frame, or only the first of an animation kept compact (below).
    const QList<LMDataBlock> &frameDatas() const { return m_frameDatas; }
    void setFrameDatas(const QList<LMDataBlock> &v) { m_frameDatas = v; }
    const LMFileImgBaseInfoPtr &originalImgBaseInfo() const { return m_originalImgBaseInfo; }
    void setOriginalImgBaseInfo(LMFileImgBaseInfoPtr v) { m_originalImgBaseInfo = std::move(v); }

    // width / raw width of the source; 0 without a source or with a raw width of 0.
    double scaleOfOriginal() const;

    // A raw bitmap over frame 0 (sharing its block); nullptr without frames or when frame 0 is
    // smaller than the layout says.
    std::shared_ptr<LMBitmap> preferredBitmap() const;
    // Frame 0 as a platform image, sharing the pixels; null without a frame, for a layout the
    // platform cannot show, or when the frame is smaller than the layout says.
    QImage convertToImage() const;
    // A copy of the part of frame 0 inside `rect` (pixels, origin at the top-left); null when the
    // rectangle does not meet the image or there is no usable frame.
    QImage cropImage(const QRectF &rect) const;
    // Frame `index` turned upright by the source's orientation (angle and mirror), for saving,
    // printing and sharing; frame 0's platform image when there is no source.
    QImage convertToUprightImage(int index = 0) const;
    // Stored pixels turned upright by a source's orientation: turned by its angle, then mirrored
    // left to right for the mirrored orientations. Quarter turns move whole pixels.
    static QImage uprightImage(const QImage &stored, const LMFileImgBaseInfo &source);

    // Whether frame `index` holds bytesPerRow x height bytes and its rows hold width pixels.
    bool hasUsableFrame(int index) const;
    // Frame `index` as stored, as a platform image sharing the pixels; null as convertToImage().
    // The frames after the first of a compact animation are composed when asked for (in order
    // they cost one frame's drawing each).
    QImage frameImage(int index) const;

    // An animation whose frames after the first are kept compact instead of in frameDatas(); it
    // is taken only with one stored frame of its size, as premultiplied RGBA rows of width x 4
    // bytes. False, and nothing changes, otherwise.
    bool setAnimation(std::shared_ptr<const kpv::GifAnimation> animation);
    const std::shared_ptr<const kpv::GifAnimation> &animation() const { return m_animation; }
    // How many frames the picture has: those of its animation, else those stored.
    int64_t frameCount() const;

private:

    uint32_t m_bitmapInfo = 0;
    uint64_t m_bitsPerPixel = 0;
    uint64_t m_bytesPerRow = 0;
    uint64_t m_width = 0;
    uint64_t m_height = 0;
    QList<LMDataBlock> m_frameDatas;
    LMFileImgBaseInfoPtr m_originalImgBaseInfo;
    std::shared_ptr<const kpv::GifAnimation> m_animation;
};

using LMImagePtr = std::shared_ptr<const LMImage>;
