#pragma once
// Reads the EXIF, TIFF and GPS blocks of an image file into the property dictionary layout of
// ImageProperties.h.

#include <QByteArray>
#include <QImage>
#include <QVariantMap>

#include <optional>

namespace kpv::imageio_detail {

// The metadata sub-dictionaries and the top-level orientation and density of the file's
// first image. Empty when the file carries none or cannot be parsed.
QVariantMap readMetadata(const QByteArray& file);

// The EXIF orientation (1 to 8; 1 when the file names none) read from `bytes`, which may be only
// the head of the file. Empty when the metadata cannot be read from them (it runs on past the
// head, or is damaged): the caller then decides whether the whole file is worth reading.
std::optional<int> readOrientation(const QByteArray& bytes);

// Whether the metadata library may be given these bytes. Its parsers of video containers
// (QuickTime, RIFF, Matroska, ASF) can spend many seconds of processor time on a few hostile
// bytes, and no picture the viewer opens is such a container: those bytes are never parsed.
bool metadataReadable(const QByteArray& bytes);

// Sets the metadata library up once (quiet log, thread-safe XMP parser); every user calls it first.
void prepareExiv2();

// The thumbnail stored in the file's EXIF block, decoded; null when there is none.
QImage readExifThumbnail(const QByteArray& file, int maxPixelSize);

}  // namespace kpv::imageio_detail
