#pragma once
// Encoders of the writer: each turns an 8-bit RGBA image (straight alpha) into file bytes; PNG and
// TIFF also take a 16-bit one (RGBA64, straight alpha) and keep its 16 bits per channel.

#include <QByteArray>
#include <QImage>
#include <QString>

#include "foundation/FileReplace.h"

namespace kpv {
struct ImageWriteOptions;
}

namespace kpv::imageio_detail {

struct EncodeOptions {
    double quality = 0.9;   // 0 to 1, lossy formats only
    int orientation = 0;    // 0: not written
    double dpiX = 0, dpiY = 0;
    int tiffCompression = 1;
    bool hasAlpha = true;
    // One grey channel (red, green and blue are equal in every pixel) instead of three; with
    // `bilevel`, one bit a pixel (every pixel black or white, as the source stored it).
    bool grey = false;
    bool bilevel = false;
    // JPEG: coded in several scans, and the luma samples for each chroma sample across and down
    // (0: the library's own, two by two).
    bool progressive = false;
    int lumaH = 0, lumaV = 0;
    // PNG: rows stored interlaced (Adam7), and palette indices while the picture has no more
    // than 256 colours (packed to `paletteDepth` bits, or fewer when its colours allow).
    bool interlaced = false;
    bool indexed = false;
    int paletteDepth = 8;
    // PNG: the deflate level, 0 (stored as they are) to 9; -1: the library's own.
    int pngCompressionLevel = -1;
    // The pixels keep the colour model of the source (a JPEG turned on its blocks): its colour
    // profile fits them whatever it describes. Otherwise they were written as RGB.
    bool sourceColourModel = false;
};

bool encodeJpeg(const QImage& rgba, const EncodeOptions& o, QByteArray* out, QString* error);
bool encodePng(const QImage& rgba, const EncodeOptions& o, QByteArray* out, QString* error);
bool encodeTiff(const QImage& rgba, const EncodeOptions& o, QByteArray* out, QString* error);
bool encodeJpeg2000(const QImage& rgba, const EncodeOptions& o, QByteArray* out, QString* error);
bool encodeBmp(const QImage& rgba, const EncodeOptions& o, QByteArray* out, QString* error);

// The whole file that ImageDestination::writeImage writes, in *out, with the options it was coded
// with in *used (when given).
bool encodeImageFile(const QImage& image, const QString& type, const QVariantMap& properties,
                     const ImageWriteOptions& options, QByteArray* out, EncodeOptions* used, QString* error);

// Carries the metadata of the file bytes `source` into the encoded `file` of `size` pixels
// (ImageWriteOptions::metadataSourcePath says what travels).
bool carryMetadata(QByteArray* file, const QByteArray& source, const EncodeOptions& o, QSize size, QString* error);
// Writes `bytes` beside `path` and renames them over it, unless the target is read-only or no
// longer the file `options.replaceOnly` names.
bool replaceFileSafely(const QString& path, const QByteArray& bytes, const ImageWriteOptions& options, QString* error);
// The same for contents written a piece at a time.
bool replaceFileSafely(const QString& path, const FileContentsWriter& write, const ImageWriteOptions& options,
                       QString* error);
// Whether the file's bytes hold one picture of 16 bits in every sample that can be read at that
// depth (ImageDestination::keepsSixteenBitsOnRewrite), with its size.
bool sixteenBitPicture(const QByteArray& data, quint32* width, quint32* height);

}  // namespace kpv::imageio_detail
