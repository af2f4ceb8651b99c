#pragma once
// Writes one image to a file as JPEG, JPEG 2000, PNG, BMP or TIFF, with the orientation,
// resolution, compression and quality given in a property dictionary (ImageProperties.h).
//
// The file is written beside the target under a temporary name and renamed over it only when
// everything was written: a failed save never damages an existing file.

#include "imageio/FileAccess.h"

#include <QImage>
#include <QString>
#include <QStringList>
#include <QVariantMap>

namespace kpv {

// How a write treats the file it replaces and the file it came from.
struct ImageWriteOptions {
    // The file the picture was read from. Its metadata (EXIF with GPS, IPTC, XMP, the ICC
    // profile and the comment) is carried into the new file, with the orientation set to the one
    // the properties give (1 when they give none), the pixel dimensions to the new ones and the
    // stale EXIF thumbnail left out. JPEG, PNG and TIFF keep it; a write that cannot keep the
    // metadata of a source that has some fails instead of dropping it silently.
    QString metadataSourcePath;
    // When valid: the file at the target path is replaced only while it is still this file (it
    // was read and decoded as such). A file replaced or rewritten by someone else meanwhile is
    // left alone and the write fails with kChangedOnDiskError.
    FileIdentity replaceOnly;
};

class ImageDestination {
public:
    // The content type that a file name asks for by its extension ("jpg", "jpeg", "jp2", "png",
    // "bmp", "tif", "tiff", compared in lower case); empty for any other name.
    static QString typeForPath(const QString& path);

    // Writes `image` (any QImage format; premultiplied alpha is undone where the file format
    // stores straight alpha) as `type`. Properties read:
    //   kCGImagePropertyOrientation (1 to 8), kCGImagePropertyDPIWidth / DPIHeight,
    //   kCGImageDestinationLossyCompressionQuality (JPEG and JPEG 2000; 1.0 is lossless for
    //   JPEG 2000), TIFF dictionary -> kCGImagePropertyTIFFCompression (1, 5 or 32773), and the
    //   text, number and rational entries of the EXIF and TIFF dictionaries, which JPEG, PNG and
    //   TIFF files carry on.
    static bool writeImage(const QImage& image, const QString& path, const QString& type,
                           const QVariantMap& properties, QString* error = nullptr);
    static bool writeImage(const QImage& image, const QString& path, const QString& type,
                           const QVariantMap& properties, QString* error, const ImageWriteOptions& options);

    // The error text of a write refused because the target changed on disk since it was read.
    static QString changedOnDiskError(const QString& path);

    // What rewriting the file at `path` as one 8-bit picture would drop, in words for a question
    // ("3 pages", "the animation", "16 bits per channel"); empty when nothing. Files that cannot
    // be read answer empty: the write itself then reports the failure.
    static QStringList contentLostByRewriting(const QString& path);
    // The same over the file's bytes.
    static QStringList contentLostByRewritingData(const QByteArray& data);
};

}  // namespace kpv
