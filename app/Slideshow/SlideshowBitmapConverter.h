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
// Fills an empty record from a decoded image, 32-bit RGBA with straight alpha: the engine blends
// what it draws by source alpha, so colours already multiplied by their alpha would count it twice
// and darken every soft edge and see-through pixel. The engine samples its textures between
// neighbouring pixels, where a straight colour weighs as much as a visible one whatever its alpha:
// a fully transparent pixel beside a visible one therefore takes its visible neighbours' colour
// (no pixel's look changes), so that a soft edge blends towards its own colour and not towards
// the black that an image file keeps under transparent pixels. 0 (record untouched) when the
// image is null or its size is not allowed.
long fillMBitmapFromImage(const QImage& image, MBITMAP* bitmap);
// The picture in the layout fillMBitmapFromImage copies as it is: an opaque picture (also one
// kept in a format with alpha) becomes RGBX, the bytes of RGBA with every alpha 255; one with
// transparency is left as it is, and gives the same texture either way. Made
// ahead on a worker thread, it spares the main thread the conversion.
QImage textureReadyImage(const QImage& image);
// Decodes the file after checking the size its header gives: at full size, or reduced to fit
// `fitInto` when that is valid and the image is larger. A null image on failure, with the reason
// in `error` when given.
QImage loadSlideshowImageChecked(const QString& path, QSize fitInto = QSize(), QString* error = nullptr);
