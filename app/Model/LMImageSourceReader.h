#pragma once

// One opened image file as the photo loader reads it: its type, its frames, their properties, and
// decoding at full size or scaled to a maximum pixel size. The loader only ever reaches image
// files through this interface (made by an LMImageSourceFactory), so tests can hand it made-up
// files. Decoded pictures are premultiplied RGBA in the file's stored orientation.

#include <QImage>
#include <QRect>
#include <QString>
#include <QVariantMap>

#include <memory>

namespace kpv {
class FileContents;
class GifAnimation;
}

class LMImageSourceReader {
public:
    virtual ~LMImageSourceReader() = default;

    // The content type identifier ("public.jpeg", ...).
    virtual QString type() const = 0;
    // Number of frames (more than 1 only for animated pictures).
    virtual int count() const = 0;
    // Properties of frame `index` (key names in imageio/ImageProperties.h); empty for a bad index.
    virtual QVariantMap propertiesAtIndex(int index) const = 0;
    // Full decode of frame `index`; a null picture on failure.
    virtual QImage createImageAtIndex(int index) const = 0;
    // Scaled decode: the longer side becomes `maxPixelSize`, never enlarged. With
    // `fromImageAlways` false only a thumbnail stored in the file is answered.
    virtual QImage createThumbnailAtIndex(int index, int maxPixelSize, bool fromImageAlways) const = 0;
    // An animation's frames kept compact and composed when shown; null when the reader keeps
    // none (every frame is then decoded whole).
    // The file's bytes as they were opened, for the codec library to decode the same mapping;
    // null when the reader keeps none.
    virtual std::shared_ptr<const kpv::FileContents> contents() const { return nullptr; }
    virtual std::shared_ptr<const kpv::GifAnimation> createAnimation() const { return nullptr; }
    // The part `rect` of frame `index` reduced by `reduction` (1, 2, 4 or 8; the reduced frame is
    // ceil(size / reduction)), or null; may be called from several threads at once. None by default.
    virtual QImage createImageInRect(int index, const QRect &rect, int reduction) const
    {
        (void)index, (void)rect, (void)reduction;
        return {};
    }
};
