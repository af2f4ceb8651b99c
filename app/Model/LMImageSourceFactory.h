#pragma once

// Where the photo loader gets its image files and desktop thumbnails from. The production
// factory opens files with the platform's image reader and asks the desktop thumbnailer; tests
// install a fake that serves made-up pictures. Implementations are used from many worker
// threads at once and keep no per-call state.

#include "Model/LMImageSourceReader.h"
#include "imageio/FileAccess.h"

#include <QImage>
#include <QString>

#include <memory>

class LMImageSourceFactory {
public:
    virtual ~LMImageSourceFactory() = default;

    // The opened file, or nullptr when it cannot be read or is of no supported format. Opening
    // costs no read of the whole file: describing it reads no more than its head.
    virtual std::unique_ptr<LMImageSourceReader> createWithFile(const QString &path) const = 0;
    // A small picture of the file whose longer side is at most `maxPixelSize`, from the desktop's
    // thumbnail service; null when there is none.
    virtual QImage thumbnail(const QString &path, int maxPixelSize) const = 0;
    // The same for a file the caller has opened already (`opened`, whose stored orientation and
    // identity it knows): the desktop's cache is checked against that identity and the file is read
    // through `opened` alone, never opened again. By default thumbnail() of the path.
    virtual QImage thumbnail(const QString &path, int maxPixelSize, const LMImageSourceReader &opened, int orientation,
                             const kpv::FileIdentity &identity) const
    {
        (void)opened, (void)orientation, (void)identity;
        return thumbnail(path, maxPixelSize);
    }
    // The same only when it costs no decode of the picture (the desktop's cache, or the thumbnail
    // stored in the file); null otherwise.
    virtual QImage storedThumbnail(const QString &path, int maxPixelSize) const = 0;
    // The desktop cache's thumbnail alone, without reading the file itself, in the file's stored
    // orientation (`orientation` as EXIF numbers it); null when the cache holds no fresh one for
    // the file as `identity` describes it (its modification time and size when it was read;
    // invalid: as the file is now). By default storedThumbnail().
    virtual QImage cachedThumbnail(const QString &path, int maxPixelSize, int orientation,
                                   const kpv::FileIdentity &identity) const
    {
        (void)orientation, (void)identity;
        return storedThumbnail(path, maxPixelSize);
    }
    // Keeps a thumbnail the loader made by decoding the file (stored orientation; the file's EXIF
    // orientation, its modification time and size when read) where the next storedThumbnail()
    // finds it. Nothing by default.
    virtual void storeThumbnail(const QString &path, const QImage &image, int orientation, qint64 modifiedSecs,
                                qint64 fileBytes) const
    {
        (void)path, (void)image, (void)orientation, (void)modifiedSecs, (void)fileBytes;
    }

    // The factory over the platform's image reader and thumbnailer (one for the process).
    static const std::shared_ptr<const LMImageSourceFactory> &platform();
};
