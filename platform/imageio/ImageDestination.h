#pragma once
// Writes one image to a file as JPEG, JPEG 2000, PNG, BMP or TIFF, with the orientation,
// resolution, compression and quality given in a property dictionary (ImageProperties.h).
//
// The file is written beside the target under a temporary name and renamed over it only when
// everything was written: a failed save never damages an existing file.

#include <QImage>
#include <QString>
#include <QVariantMap>

namespace kpv {

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
};

}  // namespace kpv
