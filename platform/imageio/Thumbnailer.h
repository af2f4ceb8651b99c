#pragma once
// Small pictures of image files for lists and strips: the desktop's shared thumbnail cache when
// it holds a fresh entry for the file, else the thumbnail stored in the file, else a scaled
// decode. "No thumbnail" (a null image) is an allowed answer. An entry is fresh when it names the
// file's address, date and size and was written after the file last changed: another file put at
// the path with the same date and size is not shown as the one it replaced.

#include "imageio/FileAccess.h"

#include <QImage>
#include <QString>

namespace kpv {

class Thumbnailer {
public:
    // A thumbnail of the file whose longer side is at most `maxPixelSize`, premultiplied RGBA,
    // in the file's stored orientation.
    static QImage thumbnail(const QString& path, int maxPixelSize);
    // The same from the cache or the file's stored thumbnail only, never by decoding the image:
    // null when neither has one. For callers that decode the image at a larger size anyway and
    // make their small picture from that.
    static QImage storedThumbnail(const QString& path, int maxPixelSize);
    // The shared cache's thumbnail alone, without reading the file itself: null when the cache
    // holds no fresh one. Turned to the file's stored orientation, `orientation` (as EXIF numbers
    // it), which the caller knows.
    static QImage cachedThumbnail(const QString& path, int maxPixelSize, int orientation);
    // The same for the file as `identity` describes it (taken when the caller opened it): its date
    // and size are not read again, only whether it still stands at the path and when it last
    // changed. An invalid identity: as the file is now.
    static QImage cachedThumbnail(const QString& path, int maxPixelSize, int orientation, const FileIdentity& identity);
    // The same turned upright by the file's orientation, as the viewer shows the picture: for
    // grids, which draw thumbnails as they are.
    static QImage uprightThumbnail(const QString& path, int maxPixelSize);

    // Keeps a thumbnail made by decoding `path` (in the file's stored orientation, `orientation`
    // as EXIF numbers it) in the shared cache, so that the next visit costs no decode: upright,
    // within 256 pixels (the "large" size), named after the file's address, `modifiedSecs` and
    // `fileBytes`, its time and size when it was read. Nothing is kept for a file changed since
    // then, a picture under 256 pixels or a file inside the cache; a cache that cannot be written
    // is left alone (it is only a cache).
    static void storeThumbnail(const QString& path, const QImage& image, int orientation, qint64 modifiedSecs,
                               qint64 fileBytes);

    // The shared cache folder of the desktop ($XDG_CACHE_HOME/thumbnails); tests point it elsewhere.
    static QString cacheDirectory();
    static void setCacheDirectoryForTesting(const QString& folder);
    // The cache file that holds the thumbnail of `path` in a size folder ("normal", "large").
    static QString cachePathFor(const QString& path, const QString& sizeFolder);
};

}  // namespace kpv
