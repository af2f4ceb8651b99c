#pragma once
// A JPEG decoded by the codec library's decoder into planes, made RGBA a row at a time: the
// whole picture at 1, 1/2, 1/4 or 1/8 of its size, and the row steps the parts decoded from the
// resume index share. Chroma at half the luma's resolution is brought to its size by the triangle
// filter (each output pixel three quarters its nearest sample, a quarter the next one on its
// side) with the reference decoder's rounding, never by repeating samples.

#include <QImage>
#include <QString>

#include <cstddef>
#include <cstdint>
#include <vector>

namespace kpv::imageio_detail {

// JFIF's YCbCr to RGB (chroma centred on 128) in 16-bit fixed point over a row; alpha opaque.
void yccRowToRgba(uchar* out, const uint8_t* y, const uint8_t* cb, const uint8_t* cr, int width);
// A grey row as opaque RGBA.
void greyRowToRgba(uchar* out, const uint8_t* y, int width);

// One chroma plane's rows brought to the luma's size. `near` is the chroma row nearest the output
// row and `far` the one on the output row's side of it (above for the upper of the two output
// rows a chroma row covers, below for the lower; the edge row itself at the picture's edge).
class ChromaUpsampler {
public:
    // `rx` and `ry` are 1 or 2: the chroma's reduction across and down; `chromaWidth` the chroma
    // samples of the picture's width, `lumaWidth` the output pixels.
    ChromaUpsampler(int rx, int ry, int chromaWidth, int lumaWidth);
    // Output row into out[0 .. lumaWidth); `lowerRow` says whether the output row is the lower of
    // the two a chroma row covers (ignored when ry is 1). `out` has room for 32 bytes more.
    void row(const uint8_t* near, const uint8_t* far, bool lowerRow, uint8_t* out);

private:
    int m_rx, m_ry, m_chromaWidth, m_lumaWidth;
    std::vector<uint16_t> m_sums;
};

enum class CodecDecode { Done, Declined, Failed };

// The whole picture at 1/reduction (1, 2, 4 or 8; each side rounded up) through the codec
// library's decoder: 8-bit YCbCr or grey, baseline or progressive, in the usual sampling layouts.
// Declined, with no frame made, for a file it does not take, whose reduced size is not `width` x
// `height`, or whose data fails before any row; data damaged further on shows the rows before
// the damage, the rest clear. Failed with *error set when the frame cannot be had.
CodecDecode decodeWithCodec(const unsigned char* data, size_t size, int reduction, int width, int height,
                            QImage* image, QString* error);

} // namespace kpv::imageio_detail
