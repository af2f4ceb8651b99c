#pragma once
// Reads the EXIF, TIFF and GPS blocks of an image file into the property dictionary layout of
// ImageProperties.h.

#include <QByteArray>
#include <QImage>
#include <QVariantMap>

namespace kpv::imageio_detail {

// The metadata sub-dictionaries and the top-level orientation and density of the file's
// first image. Empty when the file carries none or cannot be parsed.
QVariantMap readMetadata(const QByteArray& file);

// Sets the metadata library up once (quiet log, thread-safe XMP parser); every user calls it first.
void prepareExiv2();

// The thumbnail stored in the file's EXIF block, decoded; null when there is none.
QImage readExifThumbnail(const QByteArray& file, int maxPixelSize);

}  // namespace kpv::imageio_detail
