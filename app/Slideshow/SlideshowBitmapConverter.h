#pragma once
// The application's texture-file callback for the scene engine: the engine hands over a texture
// file's full path and an empty bitmap record it allocated; when an image exists under that path
// (a file, else an application image of that name) the record is filled with the image at full
// size, 32-bit RGBA with premultiplied alpha, and the call answers non-zero. The engine frees the
// pixel buffer (delete[]) and the record afterwards. On any failure the record is left as it was
// and the answer is 0.
//
// Texture files come from theme packages, so their sizes are untrusted: the size in the file's
// header is checked against the pixel cap before anything is decoded, and the byte count of the
// buffer is checked before it is allocated.

#include "MdBitmap.h"

#include <QImage>
#include <cstdint>
#include <string>

long BitmapConverter(const std::string& path, MBITMAP** bitmap);

// The bytes of a width x height RGBA buffer; false when the size is not allowed (below 1, above
// the pixel cap, or a byte count that does not fit).
bool slideshowRgbaByteCount(std::int64_t width, std::int64_t height, std::size_t* bytes);
// How the colours of a record stand to its alpha. The texture-file callback hands the engine the
// premultiplied pixels the application decodes; a slide photo goes with straight alpha, because
// the engine blends what it draws by source alpha and would count a premultiplied photo's alpha
// twice, darkening every see-through pixel.
enum class MBitmapAlpha { Premultiplied, Straight };
// Fills an empty record from a decoded image; 0 (record untouched) when the image is null or its
// size is not allowed.
long fillMBitmapFromImage(const QImage& image, MBITMAP* bitmap, MBitmapAlpha alpha = MBitmapAlpha::Premultiplied);
// Decodes the file after checking the size its header gives: at full size, or reduced to fit
// `fitInto` when that is valid and the image is larger. A null image on failure, with the reason
// in `error` when given.
QImage loadSlideshowImageChecked(const QString& path, QSize fitInto = QSize(), QString* error = nullptr);
