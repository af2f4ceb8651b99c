#pragma once
// Parts of a large baseline JPEG decoded from near their own first block. A part of a JPEG would
// otherwise cost the entropy-coded data of every row above it, read again for each part a zoomed
// view asks for; the resume index, read once per file, holds where the data of each group of
// blocks starts and the predictors there, so that each part reads only its own rows of blocks.

#include <QImage>
#include <QRect>
#include <QString>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

struct JpgDecoder;

namespace kpv::imageio_detail {

// A JPEG held in memory, served to the codec library's decoder as a stream.
struct JpegMemoryStream {
    const unsigned char* data;
    size_t size;
    size_t pos;
};
int32_t jpegMemoryStreamCallback(int32_t op, void* stream, void* args);

// JFIF's YCbCr to RGB (chroma centred on 128), in 16-bit fixed point; alpha opaque.
inline void yccToRgba(uchar* out, int y, int cb, int cr)
{
    cb -= 128;
    cr -= 128;
    const auto clamp = [](int v) { return uchar(v < 0 ? 0 : v > 255 ? 255 : v); };
    out[0] = clamp(y + ((91881 * cr + 32768) >> 16));
    out[1] = clamp(y + ((-22554 * cb - 46802 * cr + 32768) >> 16));
    out[2] = clamp(y + ((116130 * cb + 32768) >> 16));
    out[3] = 255;
}

// `rect` of a baseline JPEG reduced by `reduction` (1, 2, 4 or 8) as premultiplied RGBA, charged
// to the decode budget: from the resume index's entry nearest the part when `index` is given,
// else from the top, the rows of blocks above the part read without making pixels. Null with
// *error set when the file does not go this way or the part cannot be decoded.
QImage decodeJpegRegion(const unsigned char* data, size_t size, const std::vector<uint8_t>* index, const QRect& rect,
                        int reduction, QString* error);

class JpegResumeIndex {
public:
    // Reads the file's entropy-coded data once, without decoding a pixel. Null for a file this
    // road does not take (progressive, more than three components, colour other than YCbCr or
    // grey, precision other than 8 bits, 2 GB or more) and for damaged data: such files keep the
    // decode from the top. `cancelled`, when given, is asked after each row of blocks; a true
    // answer ends the reading with no index.
    static std::shared_ptr<const JpegResumeIndex> build(const unsigned char* data, size_t size,
                                                        const std::function<bool()>& cancelled = {});

    // A whole decode of a file reads all its entropy-coded data anyway: `decoder`, just created
    // on the file, records the index on the way (recordOnTheWay), and once the decode is done the
    // index is kept (keepRecorded: only a whole one of a file this road takes). The parts of the
    // same file asked for afterwards find it (keptFor: by the file's size and a sample of its
    // bytes) instead of reading the file once more to make it. The last few files' are kept.
    static void recordOnTheWay(JpgDecoder* decoder);
    static void keepRecorded(JpgDecoder* decoder, const unsigned char* data, size_t size);
    static std::shared_ptr<const JpegResumeIndex> keptFor(const unsigned char* data, size_t size);

    // `rect` of the picture reduced by `reduction` (1, 2, 4 or 8) as premultiplied RGBA, charged
    // to the decode budget; null with *error set when the part cannot be decoded.
    QImage decodeRegion(const unsigned char* data, size_t size, const QRect& rect, int reduction,
                        QString* error) const;

    size_t bytes() const { return m_blob.size(); }

private:
    std::vector<uint8_t> m_blob;
};

}  // namespace kpv::imageio_detail
