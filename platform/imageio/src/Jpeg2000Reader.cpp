// JPEG 2000 (JP2 boxes or a bare codestream) through OpenJPEG. Scaled decodes ask the codec for
// fewer resolution levels, so a thumbnail never reconstructs the full image.

#include "FormatDecoder.h"
#include "imageio/ImageLimits.h"
#include "imageio/ContentTypes.h"

#include <openjpeg.h>

#include <algorithm>
#include <cmath>
#include <cstring>

namespace kpv {
namespace {

struct MemoryStream {
    const unsigned char* data = nullptr;
    OPJ_UINT64 size = 0;
    OPJ_UINT64 pos = 0;
};

extern "C" OPJ_SIZE_T opjRead(void* out, OPJ_SIZE_T n, void* user)
{
    auto* s = static_cast<MemoryStream*>(user);
    if (s->pos >= s->size)
        return OPJ_SIZE_T(-1);
    const OPJ_SIZE_T count = OPJ_SIZE_T(std::min<OPJ_UINT64>(n, s->size - s->pos));
    std::memcpy(out, s->data + s->pos, count);
    s->pos += count;
    return count;
}
extern "C" OPJ_OFF_T opjSkip(OPJ_OFF_T n, void* user)
{
    auto* s = static_cast<MemoryStream*>(user);
    if (n < 0) {
        const OPJ_UINT64 back = std::min<OPJ_UINT64>(OPJ_UINT64(-n), s->pos);
        s->pos -= back;
        return -OPJ_OFF_T(back);
    }
    const OPJ_UINT64 fwd = std::min<OPJ_UINT64>(OPJ_UINT64(n), s->size - s->pos);
    s->pos += fwd;
    return OPJ_OFF_T(fwd);
}
extern "C" OPJ_BOOL opjSeek(OPJ_OFF_T n, void* user)
{
    auto* s = static_cast<MemoryStream*>(user);
    if (n < 0 || OPJ_UINT64(n) > s->size)
        return OPJ_FALSE;
    s->pos = OPJ_UINT64(n);
    return OPJ_TRUE;
}
extern "C" void opjQuiet(const char*, void*) {}

bool isCodestream(const QByteArray& data)
{
    return data.size() >= 4 && uchar(data[0]) == 0xff && uchar(data[1]) == 0x4f && uchar(data[2]) == 0xff &&
           uchar(data[3]) == 0x51;
}

quint32 be32At(const QByteArray& d, qsizetype at)
{
    const auto* p = reinterpret_cast<const uchar*>(d.constData()) + at;
    return quint32(p[0]) << 24 | quint32(p[1]) << 16 | quint32(p[2]) << 8 | quint32(p[3]);
}

// Reading the header makes the library allocate a few kilobytes for every tile the size marker
// declares, before a single pixel: the tile count is checked against the bytes of the file first.
// Every tile takes a tile-part header of at least 14 bytes, and the library's records of all tiles
// together are kept to a quarter of what all decodes may hold.
bool tileCountFits(const QByteArray& data, QString* error)
{
    // The codestream is the file itself, or the contents of its codestream box.
    qsizetype at = 0;
    if (!isCodestream(data)) {
        at = -1;
        for (qsizetype box = 0; box + 8 <= data.size();) {
            quint64 length = be32At(data, box), header = 8;
            if (length == 1 && box + 16 <= data.size()) {
                length = quint64(be32At(data, box + 8)) << 32 | be32At(data, box + 12);
                header = 16;
            } else if (length == 0) {
                length = quint64(data.size() - box);
            }
            if (data.mid(box + 4, 4) == "jp2c") {
                at = box + qsizetype(header);
                break;
            }
            if (length < header || length > quint64(data.size() - box))
                break;
            box += qsizetype(length);
        }
    }
    if (at < 0 || at + 4 + 40 > data.size() || !isCodestream(data.mid(at, 4)))
        return true;  // no size marker to read: the library refuses the file itself
    const qsizetype siz = at + 4;  // the marker's length field
    const quint64 width = be32At(data, siz + 4), height = be32At(data, siz + 8);
    const quint64 tileWidth = be32At(data, siz + 20), tileHeight = be32At(data, siz + 24);
    const quint64 tileX = be32At(data, siz + 28), tileY = be32At(data, siz + 32);
    const quint64 components = quint64(uchar(data[siz + 36])) << 8 | uchar(data[siz + 37]);
    if (tileWidth == 0 || tileHeight == 0 || tileX >= width || tileY >= height)
        return true;
    const quint64 tiles = ((width - tileX + tileWidth - 1) / tileWidth) * ((height - tileY + tileHeight - 1) / tileHeight);
    constexpr quint64 kTileHeaderBytes = 14, kTileRecordBytes = 6 * 1024, kComponentRecordBytes = 1024;
    constexpr quint64 kMaxRecordBytes = quint64(256) << 20;
    if (tiles > quint64(data.size()) / kTileHeaderBytes ||
        tiles * (kTileRecordBytes + components * kComponentRecordBytes) > kMaxRecordBytes) {
        if (error)
            *error = QStringLiteral("the JPEG 2000 file is far too short for its %1 tiles").arg(tiles);
        return false;
    }
    return true;
}

// A codec, a stream and an image, released together.
struct Session {
    ~Session()
    {
        if (image)
            opj_image_destroy(image);
        if (stream)
            opj_stream_destroy(stream);
        if (codec)
            opj_destroy_codec(codec);
    }
    MemoryStream input;
    opj_codec_t* codec = nullptr;
    opj_stream_t* stream = nullptr;
    opj_image_t* image = nullptr;

    bool readHeader(const QByteArray& data, int reduce)
    {
        input.data = reinterpret_cast<const unsigned char*>(data.constData());
        input.size = OPJ_UINT64(data.size());
        codec = opj_create_decompress(isCodestream(data) ? OPJ_CODEC_J2K : OPJ_CODEC_JP2);
        if (!codec)
            return false;
        opj_set_info_handler(codec, opjQuiet, nullptr);
        opj_set_warning_handler(codec, opjQuiet, nullptr);
        opj_set_error_handler(codec, opjQuiet, nullptr);
        opj_dparameters_t params;
        opj_set_default_decoder_parameters(&params);
        params.cp_reduce = OPJ_UINT32(reduce);
        if (!opj_setup_decoder(codec, &params))
            return false;
        stream = opj_stream_create(64 * 1024, OPJ_TRUE);
        if (!stream)
            return false;
        opj_stream_set_user_data(stream, &input, nullptr);
        opj_stream_set_user_data_length(stream, input.size);
        opj_stream_set_read_function(stream, opjRead);
        opj_stream_set_skip_function(stream, opjSkip);
        opj_stream_set_seek_function(stream, opjSeek);
        return opj_read_header(stream, codec, &image) && image && image->numcomps > 0;
    }
};

// Scales a component sample of any precision and sign to 8 bits.
inline uchar sample8(const opj_image_comp_t& c, OPJ_INT32 v)
{
    if (c.sgnd)
        v += 1 << (c.prec - 1);
    if (c.prec > 8)
        v >>= (c.prec - 8);
    else if (c.prec < 8)
        v <<= (8 - c.prec);
    return uchar(std::clamp(v, 0, 255));
}

class Jpeg2000Decoder final : public FormatDecoder {
public:
    bool open(const QByteArray& data, QString* error) override
    {
        m_data = data;
        if (!tileCountFits(m_data, error))
            return false;
        Session s;
        if (!s.readHeader(m_data, 0)) {
            if (error)
                *error = QStringLiteral("not a readable JPEG 2000 file");
            return false;
        }
        m_size = QSize(int(std::min<OPJ_UINT32>(s.image->x1 - s.image->x0, INT32_MAX)),
                       int(std::min<OPJ_UINT32>(s.image->y1 - s.image->y0, INT32_MAX)));
        // The library holds every component's samples as 32-bit numbers while it decodes: those
        // are counted here, and a file far too short to describe them is refused before any is
        // allocated (empty code blocks cost next to nothing, but nothing real comes near 16,384
        // samples a byte).
        m_samples = 0;
        for (OPJ_UINT32 i = 0; i < s.image->numcomps; ++i)
            m_samples += uint64_t(s.image->comps[i].w) * uint64_t(s.image->comps[i].h);
        if (m_samples > uint64_t(m_data.size()) * kSamplesPerByte) {
            if (error)
                *error = QStringLiteral("the JPEG 2000 file is far too short for %1 x %2 pixels")
                             .arg(m_size.width())
                             .arg(m_size.height());
            return false;
        }
        return m_size.width() > 0 && m_size.height() > 0;
    }
    QString type() const override { return ContentTypes::kJpeg2000; }
    QSize frameSize(int) const override { return m_size; }

    QImage decode(int, int maxPixelSize, QString* error) override
    {
        if (!ImageLimits::frameAllowed(uint64_t(m_size.width()), uint64_t(m_size.height()))) {
            if (error)
                *error = QStringLiteral("JPEG 2000 image exceeds the size limit");
            return {};
        }
        // Each resolution level halves the sides; ask for as few as still reach the size.
        int reduce = 0;
        if (maxPixelSize > 0) {
            int longer = std::max(m_size.width(), m_size.height());
            while (reduce < 5 && (longer + 1) / 2 >= maxPixelSize) {
                longer = (longer + 1) / 2;
                ++reduce;
            }
        }
        QImage image = decodeAt(reduce, error);
        if (image.isNull() && reduce > 0)
            image = decodeAt(0, error);  // the file has fewer levels than we asked to drop
        return image;
    }

private:
    QImage decodeAt(int reduce, QString* error)
    {
        // The library's samples at this resolution are charged to the budget before it decodes.
        if (!imageio_detail::reserveDecodeBytes((m_samples >> (2 * reduce)) * sizeof(OPJ_INT32), error))
            return {};
        Session s;
        if (!s.readHeader(m_data, reduce) || !opj_decode(s.codec, s.stream, s.image) ||
            !opj_end_decompress(s.codec, s.stream)) {
            if (error)
                *error = QStringLiteral("JPEG 2000 decoding failed");
            return {};
        }
        const opj_image_comp_t& c0 = s.image->comps[0];
        const int width = int(c0.w), height = int(c0.h);
        for (OPJ_UINT32 i = 0; i < s.image->numcomps; ++i) {
            const opj_image_comp_t& c = s.image->comps[i];
            if (!c.data || c.prec < 1 || c.prec > 31 || c.dx == 0 || c.dy == 0) {
                if (error)
                    *error = QStringLiteral("JPEG 2000 component layout not supported");
                return {};
            }
        }
        QImage image = imageio_detail::allocateFrame(width, height, error);
        if (image.isNull())
            return {};
        const OPJ_UINT32 n = s.image->numcomps;
        const bool colour = n >= 3;
        const bool alpha = n == 2 || n >= 4;
        const bool ycc = colour && s.image->color_space == OPJ_CLRSPC_SYCC;
        // Sub-sampled components are sampled at the matching position (nearest neighbour).
        auto at = [&](OPJ_UINT32 ci, int x, int y) -> uchar {
            const opj_image_comp_t& c = s.image->comps[ci];
            const OPJ_UINT32 cx = std::min<OPJ_UINT32>(OPJ_UINT32(x) * c0.dx / c.dx, c.w - 1);
            const OPJ_UINT32 cy = std::min<OPJ_UINT32>(OPJ_UINT32(y) * c0.dy / c.dy, c.h - 1);
            return sample8(c, c.data[size_t(cy) * c.w + cx]);
        };
        for (int y = 0; y < height; ++y) {
            uchar* p = image.scanLine(y);
            for (int x = 0; x < width; ++x, p += 4) {
                int r, g, b;
                if (colour) {
                    r = at(0, x, y);
                    g = at(1, x, y);
                    b = at(2, x, y);
                    if (ycc) {
                        const double Y = r, cb = g - 128.0, cr = b - 128.0;
                        r = int(std::lround(Y + 1.402 * cr));
                        g = int(std::lround(Y - 0.344136 * cb - 0.714136 * cr));
                        b = int(std::lround(Y + 1.772 * cb));
                    }
                } else {
                    r = g = b = at(0, x, y);
                }
                p[0] = uchar(std::clamp(r, 0, 255));
                p[1] = uchar(std::clamp(g, 0, 255));
                p[2] = uchar(std::clamp(b, 0, 255));
                p[3] = alpha ? at(n == 2 ? 1 : 3, x, y) : 255;
            }
        }
        imageio_detail::premultiplyRgba(image);
        return image;
    }

    QByteArray m_data;
    static constexpr uint64_t kSamplesPerByte = 16384;
    uint64_t m_samples = 0;  // samples of every component at full resolution
    QSize m_size;
};

}  // namespace

std::unique_ptr<FormatDecoder> makeJpeg2000Decoder() { return std::make_unique<Jpeg2000Decoder>(); }

}  // namespace kpv
