#pragma once
// The metadata of a TIFF file of 64-bit offsets (BigTIFF), restated in the classic layout that
// the metadata library reads: the first page's own tags, its EXIF and GPS directories, and its
// XMP packet. The picture's data and the tags that locate it are left behind.

#include <QByteArray>

namespace kpv::imageio_detail {

// Whether the bytes start as a BigTIFF file (either byte order).
bool isBigTiff(const QByteArray& file);

// A classic TIFF structure in the file's own byte order holding the first page's tags, its EXIF
// and GPS directories; empty when the file is no BigTIFF or its first directory cannot be read.
// A tag whose values run past the end of the file, of an unknown type or of values too large to
// be metadata is left out, and the rest kept. `xmp`, when given, receives the XMP packet (tag
// 700) or an empty array.
QByteArray classicTiffFromBigTiff(const QByteArray& file, QByteArray* xmp = nullptr);

}  // namespace kpv::imageio_detail
