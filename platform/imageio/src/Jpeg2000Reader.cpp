// JPEG 2000 (JP2 boxes or a bare codestream) through OpenJPEG. Scaled decodes ask the codec for
// fewer resolution levels, so a thumbnail never reconstructs the full image, and a part of a
// picture is decoded alone, so a panorama far larger than the decode budget shows zoomed in. A
// file cut short or damaged shows what it holds before the damage, as a damaged JPEG or PNG does:
// the library reads strictly a copy mended to hold only whole tile-parts and packets.

#include "FormatDecoder.h"
#include "Jpeg2000Stream.h"
#include "imageio/DecodeBudget.h"
#include "imageio/ImageLimits.h"
#include "imageio/ContentTypes.h"

#include <openjpeg.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstring>
#include <memory>
#include <mutex>
#include <vector>

namespace kpv {
namespace {

struct MemoryStream {
    const unsigned char* data = nullptr;
    OPJ_UINT64 size = 0;
    OPJ_UINT64 pos = 0;
    bool stopsWhenCancelled = false;  // a decode of pixels, not the reading of the header
    bool cancelled = false;           // the load was cancelled: the stream ended there
};

// The library reads a tile's data before it decodes the tile: a cancelled load ends the stream
// there, so the decode fails between tiles instead of going on to the last.
extern "C" OPJ_SIZE_T opjRead(void* out, OPJ_SIZE_T n, void* user)
{
    auto* s = static_cast<MemoryStream*>(user);
    if (s->cancelled || (s->stopsWhenCancelled && imageio_detail::decodeCancelled(nullptr))) {
        s->cancelled = true;
        return OPJ_SIZE_T(-1);
    }
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
// Keeps the library's first complaint, to tell why a decode failed.
extern "C" void opjKeepError(const char* message, void* user)
{
    auto* kept = static_cast<QString*>(user);
    if (message && kept->isEmpty())
        *kept = QString::fromLatin1(message).trimmed().left(200);
}

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
    QString libraryError;

    // With `stopsWhenCancelled`, the stream ends once the load is cancelled.
    bool readHeader(const QByteArray& data, int reduce, bool stopsWhenCancelled = false)
    {
        input.data = reinterpret_cast<const unsigned char*>(data.constData());
        input.size = OPJ_UINT64(data.size());
        input.stopsWhenCancelled = stopsWhenCancelled;
        codec = opj_create_decompress(isCodestream(data) ? OPJ_CODEC_J2K : OPJ_CODEC_JP2);
        if (!codec)
            return false;
        opj_set_info_handler(codec, opjQuiet, nullptr);
        opj_set_warning_handler(codec, opjQuiet, nullptr);
        opj_set_error_handler(codec, opjKeepError, &libraryError);
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

// ceil(value / 2^shift) without overflow, for shifts of up to 63.
inline uint64_t ceilShift(uint64_t value, unsigned shift)
{
    return shift >= 64 ? (value != 0) : (value >> shift) + ((value & ((uint64_t(1) << shift) - 1)) != 0);
}
inline uint64_t ceilDiv(uint64_t value, uint64_t by) { return value / by + (value % by != 0); }

// What the library keeps for every code block and precinct of the tile it decodes, at every
// resolution whatever the resolution asked for: some 300 bytes a code block, more for a precinct.
// A file of tiny code blocks makes these far larger than its pixels. *codeBlockBytes, when
// given, receives the code blocks' share.
double tileRecordBytes(const opj_codestream_info_v2_t& info, const opj_image_t& image, double tileWidth, double tileHeight,
                       double* codeBlockBytes = nullptr)
{
    constexpr double kCodeBlockBytes = 320, kPrecinctBytes = 3 * 256;
    double bytes = 0, blockBytes = 0;
    for (OPJ_UINT32 c = 0; c < image.numcomps && c < info.nbcomps; ++c) {
        const opj_tccp_info_t& tccp = info.m_default_tile_info.tccp_info[c];
        const opj_image_comp_t& comp = image.comps[c];
        const double width = std::ceil(tileWidth / std::max<OPJ_UINT32>(comp.dx, 1));
        const double height = std::ceil(tileHeight / std::max<OPJ_UINT32>(comp.dy, 1));
        const int resolutions = int(std::clamp<OPJ_UINT32>(tccp.numresolutions, 1, OPJ_J2K_MAXRLVLS));
        for (int res = 0; res < resolutions; ++res) {
            const double scale = std::ldexp(1.0, resolutions - 1 - res);
            const double rw = std::ceil(width / scale), rh = std::ceil(height / scale);
            const bool defined = tccp.csty & 1;
            const int pw = defined ? int(std::min<OPJ_UINT32>(tccp.prcw[res], 31)) : 15;
            const int ph = defined ? int(std::min<OPJ_UINT32>(tccp.prch[res], 31)) : 15;
            // A code block never reaches past its precinct (in a band of half the resolution's size).
            const int cw = std::max(0, std::min(int(std::min<OPJ_UINT32>(tccp.cblkw, 31)), res == 0 ? pw : pw - 1));
            const int ch = std::max(0, std::min(int(std::min<OPJ_UINT32>(tccp.cblkh, 31)), res == 0 ? ph : ph - 1));
            const double bw = res == 0 ? rw : std::ceil(rw / 2), bh = res == 0 ? rh : std::ceil(rh / 2);
            const double bands = res == 0 ? 1 : 3;
            const double blocks = bands * std::ceil(bw / std::ldexp(1.0, cw)) * std::ceil(bh / std::ldexp(1.0, ch));
            blockBytes += blocks * kCodeBlockBytes;
            bytes += blocks * kCodeBlockBytes;
            bytes += std::ceil(rw / std::ldexp(1.0, pw)) * std::ceil(rh / std::ldexp(1.0, ph)) * kPrecinctBytes;
        }
    }
    if (codeBlockBytes)
        *codeBlockBytes = blockBytes;
    return bytes;
}

class Jpeg2000Decoder final : public FormatDecoder {
public:
    bool open(const QByteArray& data, QString* error) override
    {
        m_data = data;
        imageio_detail::Jpeg2000StreamCheck check = imageio_detail::checkJpeg2000Stream(data);
        if (check.state == imageio_detail::Jpeg2000StreamCheck::State::Refused) {
            if (error)
                *error = check.error;
            return false;
        }
        if (!tileCountFits(m_data, error))
            return false;
        m_damaged = check.state == imageio_detail::Jpeg2000StreamCheck::State::Mended;
        m_streams = std::move(check.candidates);
        if (m_streams.empty())
            m_streams.push_back({data, {}});
        m_data = m_streams.front().data;
        m_tileGrid = {check.tileX0, check.tileY0, check.tileWidth, check.tileHeight, check.tilesAcross};
        Session s;
        if (!s.readHeader(m_data, 0) || s.image->x1 <= s.image->x0 || s.image->y1 <= s.image->y0) {
            if (error)
                *error = QStringLiteral("not a readable JPEG 2000 file");
            return false;
        }
        const opj_image_t& image = *s.image;
        m_x0 = image.x0;
        m_y0 = image.y0;
        m_x1 = image.x1;
        m_y1 = image.y1;
        m_size = QSize(int(std::min<OPJ_UINT32>(image.x1 - image.x0, INT32_MAX)),
                       int(std::min<OPJ_UINT32>(image.y1 - image.y0, INT32_MAX)));
        // The library holds every component's samples as 32-bit numbers while it decodes: those
        // are counted here, and a file far too short to describe them is refused before any is
        // allocated (empty code blocks cost next to nothing, but nothing real comes near 16,384
        // samples a byte).
        m_samples = 0;
        m_components.clear();
        for (OPJ_UINT32 i = 0; i < image.numcomps; ++i) {
            m_samples += uint64_t(image.comps[i].w) * uint64_t(image.comps[i].h);
            m_components.push_back({std::max<OPJ_UINT32>(image.comps[i].dx, 1), std::max<OPJ_UINT32>(image.comps[i].dy, 1)});
        }
        if (m_samples > uint64_t(m_data.size()) * kSamplesPerByte) {
            if (error)
                *error = QStringLiteral("the JPEG 2000 file is far too short for %1 x %2 pixels")
                             .arg(m_size.width())
                             .arg(m_size.height());
            return false;
        }
        // The tiles, their resolution levels and code blocks, for what a decode will cost.
        m_levels = 1;
        m_tiles = 1;
        m_codeBlock = 64;
        m_tileRecordBytes = 0;
        double codeBlockBytes = 0;
        double tileWidth = double(m_x1 - m_x0), tileHeight = double(m_y1 - m_y0);
        if (opj_codestream_info_v2_t* info = opj_get_cstr_info(s.codec)) {
            if (info->tdx > 0 && info->tdy > 0) {
                tileWidth = std::min(tileWidth, double(info->tdx));
                tileHeight = std::min(tileHeight, double(info->tdy));
            }
            m_tiles = std::max<uint64_t>(uint64_t(info->tw) * uint64_t(info->th), 1);
            if (info->m_default_tile_info.tccp_info && info->nbcomps > 0) {
                m_levels = OPJ_J2K_MAXRLVLS;
                for (OPJ_UINT32 c = 0; c < info->nbcomps; ++c) {
                    const opj_tccp_info_t& tccp = info->m_default_tile_info.tccp_info[c];
                    m_levels = std::min<int>(m_levels, int(std::max<OPJ_UINT32>(tccp.numresolutions, 1)));
                    m_codeBlock = std::max(m_codeBlock, 1 << std::min<OPJ_UINT32>(std::max(tccp.cblkw, tccp.cblkh), 12));
                }
                m_tileRecordBytes = tileRecordBytes(*info, image, tileWidth, tileHeight, &codeBlockBytes);
            }
            opj_destroy_cstr_info(&info);
        }
        m_tileWidth = tileWidth;
        m_tileHeight = tileHeight;
        // The library makes its records of every code block of a tile before it reads a byte of
        // the tile's data: a file of a kilobyte in code blocks of 4 x 4 took half a gigabyte that
        // way, and seconds. Real files fill their code blocks with data; one far too short to
        // fill them is refused.
        if (codeBlockBytes > kBlockRecordBytesBeyondFile + double(m_data.size()) * kBlockRecordBytesPerByte) {
            if (error)
                *error = QStringLiteral("the JPEG 2000 file is far too short for the code blocks of its %1 x %2 pixels")
                             .arg(m_size.width())
                             .arg(m_size.height());
            return false;
        }
        return m_size.width() > 0 && m_size.height() > 0;
    }
    QString type() const override { return ContentTypes::kJpeg2000; }
    QSize frameSize(int) const override { return m_size; }

    // Written back to a file, a picture must be whole: a damaged one is refused.
    QImage decodeStraight(int index, QString* error) override
    {
        if (m_damaged)
            return fail(error, QStringLiteral("the JPEG 2000 file is damaged: only a part of its picture can be read"));
        return decode(index, 0, error);
    }

    QImage decode(int, int maxPixelSize, QString* error) override
    {
        // Each resolution level halves the sides; ask for as few as still reach the size.
        int reduce = 0;
        if (maxPixelSize > 0) {
            int longer = std::max(m_size.width(), m_size.height());
            while (reduce < 5 && reduce + 1 < m_levels && (longer + 1) / 2 >= maxPixelSize) {
                longer = (longer + 1) / 2;
                ++reduce;
            }
        }
        bool libraryFailed = false;
        QImage image = decodeWhole(reduce, error, &libraryFailed);
        if (image.isNull() && libraryFailed && reduce > 0 && !imageio_detail::decodeCancelled(error))
            image = decodeWhole(0, error);  // a tile has fewer levels than the file's header says
        return image;
    }

    // Only the area asked for is decoded, at the resolution level that reaches the reduction (or
    // the finest the file has, the rest averaged here); the budget is charged for the area and
    // for what the library keeps of one tile.
    QImage decodeRegion(int, const QRect& rect, int reduction, QString* error) override
    {
        if (reduction != 1 && reduction != 2 && reduction != 4 && reduction != 8)
            return fail(error, QStringLiteral("no JPEG 2000 decode at a reduction of %1").arg(reduction));
        int level = 0;
        while ((2 << level) <= reduction && level + 1 < m_levels)
            ++level;
        const int extra = reduction >> level;
        const QSize reduced(int(ceilDiv(uint64_t(m_size.width()), uint64_t(reduction))),
                            int(ceilDiv(uint64_t(m_size.height()), uint64_t(reduction))));
        const QRect part = rect.intersected(QRect(QPoint(0, 0), reduced));
        if (part.isEmpty() || part != rect)
            return fail(error, QStringLiteral("the part lies outside the JPEG 2000 picture"));
        return decodeArea(level, extra, part, error);
    }

private:
    struct Component {
        OPJ_UINT32 dx = 1, dy = 1;
    };

    static QImage fail(QString* error, const QString& why)
    {
        if (error)
            *error = why;
        return {};
    }

    // A frame whose bytes the decode has reserved already.
    static QImage newFrame(int width, int height, QString* error)
    {
        QImage image(width, height, QImage::Format_RGBA8888_Premultiplied);
        if (image.isNull())
            return fail(error, QStringLiteral("out of memory for a frame of %1 x %2 pixels").arg(width).arg(height));
        return image;
    }

    QImage decodeWhole(int reduce, QString* error, bool* libraryFailed = nullptr)
    {
        const QSize reduced(int(ceilShift(uint64_t(m_size.width()), unsigned(reduce))),
                            int(ceilShift(uint64_t(m_size.height()), unsigned(reduce))));
        if (!ImageLimits::frameAllowed(uint64_t(reduced.width()), uint64_t(reduced.height())))
            return fail(error, QStringLiteral("JPEG 2000 image of %1 x %2 pixels exceeds the size limit")
                                   .arg(reduced.width())
                                   .arg(reduced.height()));
        return decodeArea(reduce, 1, QRect(QPoint(0, 0), reduced), error, libraryFailed);
    }

    // The pixels of `rect` of the frame reduced by 2^level x extra. A picture of one tile, which
    // the library decodes in one call it cannot be stopped in, is decoded a band of rows at a time
    // when it is large: between two bands, a cancelled load stops. A picture of several tiles
    // stops between tiles (opjRead) and is decoded at once.
    QImage decodeArea(int level, int extra, const QRect& rect, QString* error, bool* libraryFailed = nullptr)
    {
        const uint64_t levelRows = uint64_t(rect.height()) * uint64_t(extra);
        const uint64_t levelPixels = uint64_t(rect.width()) * uint64_t(extra) * levelRows;
        if (m_tiles != 1 || levelPixels < kBandedPixels || levelRows < 2 * kMinBandRows || m_x1 > uint64_t(INT32_MAX) ||
            m_y1 > uint64_t(INT32_MAX))
            return decodeAreaOnce(level, extra, rect, false, error, libraryFailed);
        // A few bands: each costs a pass over the tile's packets and a copy of its data.
        const uint64_t bandLevelRows = std::max<uint64_t>(kMinBandRows, ceilDiv(levelRows, kMaxBands));
        const int bandRows = int(std::max<uint64_t>(1, ceilDiv(bandLevelRows, uint64_t(extra))));
        if (!imageio_detail::reserveDecodeBytes(uint64_t(rect.width()) * uint64_t(rect.height()) * 4, error))
            return {};
        QImage out = newFrame(rect.width(), rect.height(), error);
        if (out.isNull())
            return {};
        for (int top = 0; top < rect.height(); top += bandRows) {
            if (imageio_detail::decodeCancelled(error))
                return {};
            const QRect band(rect.x(), rect.y() + top, rect.width(), std::min(bandRows, rect.height() - top));
            const QImage pixels = decodeAreaOnce(level, extra, band, true, error, libraryFailed);
            if (pixels.isNull() || pixels.size() != band.size())
                return {};
            for (int y = 0; y < band.height(); ++y)
                std::memcpy(out.scanLine(top + y), pixels.constScanLine(y), size_t(band.width()) * 4);
        }
        return out;
    }

    // Pictures of one tile from this many pixels at the level decoded are decoded in bands of at
    // least kMinBandRows rows of the level, kMaxBands at most.
    static constexpr uint64_t kBandedPixels = uint64_t(4) << 20;
    static constexpr uint64_t kMinBandRows = 512;
    static constexpr uint64_t kMaxBands = 8;

    // The pixels of `rect` of the frame reduced by 2^level x extra: the library decodes the
    // area under it at resolution `level`, and blocks of extra x extra of that are averaged.
    // *libraryFailed tells a file the library could not decode from a decode refused here. A
    // `band` of a larger decode holds its charge to the budget only until it returns.
    QImage decodeAreaOnce(int level, int extra, const QRect& rect, bool band, QString* error, bool* libraryFailed)
    {
        const unsigned shift = unsigned(level);
        // The grid of the level: the picture's first column there is ceil(x0 / 2^level).
        const uint64_t gx0 = ceilShift(m_x0, shift), gy0 = ceilShift(m_y0, shift);
        const uint64_t gx1 = ceilShift(m_x1, shift), gy1 = ceilShift(m_y1, shift);
        const uint64_t u0 = gx0 + uint64_t(rect.x()) * uint64_t(extra), v0 = gy0 + uint64_t(rect.y()) * uint64_t(extra);
        const uint64_t u1 = std::min(gx1, u0 + uint64_t(rect.width()) * uint64_t(extra));
        const uint64_t v1 = std::min(gy1, v0 + uint64_t(rect.height()) * uint64_t(extra));
        if (u0 >= u1 || v0 >= v1)
            return fail(error, QStringLiteral("the part lies outside the JPEG 2000 picture"));
        // The same area on the full-resolution grid, within the picture, from the first sample of
        // each sub-sampled component that its first pixel takes.
        uint64_t sx0 = u0, sy0 = v0;
        for (const Component& c : m_components) {
            sx0 = std::min<uint64_t>(sx0, u0 / c.dx * c.dx);
            sy0 = std::min<uint64_t>(sy0, v0 / c.dy * c.dy);
        }
        const uint64_t ax0 = std::max<uint64_t>(m_x0, sx0 << shift), ay0 = std::max<uint64_t>(m_y0, sy0 << shift);
        const uint64_t ax1 = std::min<uint64_t>(m_x1, u1 << shift), ay1 = std::min<uint64_t>(m_y1, v1 << shift);
        const bool whole = ax0 == m_x0 && ay0 == m_y0 && ax1 == m_x1 && ay1 == m_y1;
        if (!whole && (ax1 > uint64_t(INT32_MAX) || ay1 > uint64_t(INT32_MAX)))
            return fail(error, QStringLiteral("the JPEG 2000 picture lies too far out for a part of it to be decoded"));
        const uint64_t levelWidth = u1 - u0, levelHeight = v1 - v0;
        if (!ImageLimits::frameAllowed(levelWidth, levelHeight))
            return fail(error, QStringLiteral("JPEG 2000 part of %1 x %2 pixels exceeds the size limit")
                                   .arg(levelWidth)
                                   .arg(levelHeight));

        // The library's memory and the frames made of it are held at once: charged together, so
        // that a decode the budget cannot hold whole is refused before it starts.
        const uint64_t frameBytes = uint64_t(rect.width()) * uint64_t(rect.height()) * 4;
        const uint64_t charge =
            decodeBytes(level, ax0, ay0, ax1, ay1, whole) + frameBytes + (extra > 1 ? levelWidth * levelHeight * 4 : 0);
        DecodeBudget::Reservation bandCharge;
        if (band) {
            QString why;
            bandCharge = DecodeBudget::shared().reserve(charge, &why);
            if (!bandCharge.isValid())
                return fail(error, why);
        } else if (!imageio_detail::reserveDecodeBytes(charge, error)) {
            return {};
        }
        // The streams are tried in turn (a damaged file's packets kept, then its whole tile-parts
        // only), from the first that has decoded before.
        std::unique_ptr<Session> decoded;
        QString libraryError;
        const size_t first = m_firstWorking.load(std::memory_order_relaxed);
        for (size_t k = first; !decoded; ++k) {
            const imageio_detail::Jpeg2000Candidate* stream = streamAt(k);
            if (!stream)
                break;
            auto s = std::make_unique<Session>();
            if (!s->readHeader(stream->data, level, true) || s->image->numcomps != m_components.size() ||
                (!whole && !opj_set_decode_area(s->codec, s->image, OPJ_INT32(ax0), OPJ_INT32(ay0), OPJ_INT32(ax1),
                                                OPJ_INT32(ay1))) ||
                !opj_decode(s->codec, s->stream, s->image) || !opj_end_decompress(s->codec, s->stream)) {
                // A cancelled load is no damage: no other stream is tried.
                if (s->input.cancelled)
                    return fail(error, DecodeBudget::cancelledError());
                if (libraryError.isEmpty())
                    libraryError = s->libraryError;
                continue;
            }
            if (k != first)
                m_firstWorking.store(k, std::memory_order_relaxed);
            fillMissingTiles(*s->image, stream->tilePresent, ax0, ay0, ax1, ay1);
            decoded = std::move(s);
        }
        if (!decoded) {
            if (libraryFailed)
                *libraryFailed = true;
            const QString why = QStringLiteral("JPEG 2000 decoding failed");
            return fail(error, libraryError.isEmpty() ? why : why + QStringLiteral(": ") + libraryError);
        }
        Session& s = *decoded;
        const OPJ_UINT32 n = s.image->numcomps;
        // Grey, grey and alpha, colour, colour and alpha: further components are not shown.
        const OPJ_UINT32 used = std::min<OPJ_UINT32>(n, 4);
        // Where each component's samples start on its own grid at the level, and how many of the
        // library's columns and rows hold samples of the area (a picture off the grid's origin
        // may be handed out a row or column longer, which the area does not reach).
        std::vector<uint64_t> cx0(used), cy0(used), lastColumn(used), lastRow(used);
        for (OPJ_UINT32 i = 0; i < used; ++i) {
            const opj_image_comp_t& c = s.image->comps[i];
            if (!c.data || c.prec < 1 || c.prec > 31 || c.dx == 0 || c.dy == 0 || c.w == 0 || c.h == 0)
                return fail(error, QStringLiteral("JPEG 2000 component layout not supported"));
            cx0[i] = ceilShift(c.x0, c.factor);
            cy0[i] = ceilShift(c.y0, c.factor);
            const uint64_t endColumn = ceilShift(ceilDiv(ax1, c.dx), c.factor);
            const uint64_t endRow = ceilShift(ceilDiv(ay1, c.dy), c.factor);
            lastColumn[i] = std::min<uint64_t>(c.w, std::max<uint64_t>(endColumn > cx0[i] ? endColumn - cx0[i] : 0, 1)) - 1;
            lastRow[i] = std::min<uint64_t>(c.h, std::max<uint64_t>(endRow > cy0[i] ? endRow - cy0[i] : 0, 1)) - 1;
        }

        QImage pixels = newFrame(int(extra > 1 ? levelWidth : uint64_t(rect.width())),
                                 int(extra > 1 ? levelHeight : uint64_t(rect.height())), error);
        if (pixels.isNull())
            return {};
        const bool colour = n >= 3;
        const bool alpha = n == 2 || n >= 4;
        const bool ycc = colour && s.image->color_space == OPJ_CLRSPC_SYCC;
        // The sample of component ci under a pixel of the level's grid: sub-sampled components
        // are sampled at the matching position (nearest neighbour), and a part on the picture's
        // edge repeats the last sample it has.
        std::vector<std::vector<size_t>> columns(used, std::vector<size_t>(size_t(pixels.width())));
        for (OPJ_UINT32 ci = 0; ci < used; ++ci) {
            const opj_image_comp_t& c = s.image->comps[ci];
            for (int x = 0; x < pixels.width(); ++x) {
                const uint64_t at = (u0 + uint64_t(x)) / c.dx;
                columns[ci][size_t(x)] = size_t(std::min<uint64_t>(at > cx0[ci] ? at - cx0[ci] : 0, lastColumn[ci]));
            }
        }
        auto row = [&](OPJ_UINT32 ci, int y) {
            const opj_image_comp_t& c = s.image->comps[ci];
            const uint64_t at = (v0 + uint64_t(y)) / c.dy;
            return c.data + size_t(std::min<uint64_t>(at > cy0[ci] ? at - cy0[ci] : 0, lastRow[ci])) * c.w;
        };
        auto at = [&](OPJ_UINT32 ci, const OPJ_INT32* line, int x) -> uchar {
            return sample8(s.image->comps[ci], line[columns[ci][size_t(x)]]);
        };
        std::vector<const OPJ_INT32*> lines(used);
        for (int y = 0; y < pixels.height(); ++y) {
            if (y % imageio_detail::kCancelPollRows == imageio_detail::kCancelPollRows - 1 &&
                imageio_detail::decodeCancelled(error))
                return {};
            for (OPJ_UINT32 ci = 0; ci < used; ++ci)
                lines[ci] = row(ci, y);
            uchar* p = pixels.scanLine(y);
            for (int x = 0; x < pixels.width(); ++x, p += 4) {
                int r, g, b;
                if (colour) {
                    r = at(0, lines[0], x);
                    g = at(1, lines[1], x);
                    b = at(2, lines[2], x);
                    if (ycc) {
                        const double Y = r, cb = g - 128.0, cr = b - 128.0;
                        r = int(std::lround(Y + 1.402 * cr));
                        g = int(std::lround(Y - 0.344136 * cb - 0.714136 * cr));
                        b = int(std::lround(Y + 1.772 * cb));
                    }
                } else {
                    r = g = b = at(0, lines[0], x);
                }
                p[0] = uchar(std::clamp(r, 0, 255));
                p[1] = uchar(std::clamp(g, 0, 255));
                p[2] = uchar(std::clamp(b, 0, 255));
                p[3] = alpha ? at(n == 2 ? 1 : 3, lines[n == 2 ? 1 : 3], x) : 255;
            }
        }
        imageio_detail::premultiplyRgba(pixels);
        if (extra == 1)
            return pixels;
        // Blocks of extra x extra averaged, those on the right and bottom edges with the pixels
        // they have.
        QImage out = newFrame(rect.width(), rect.height(), error);
        if (out.isNull())
            return {};
        for (int y = 0; y < rect.height(); ++y) {
            const int top = std::min(y * extra, pixels.height() - 1), rows = std::min(extra, pixels.height() - top);
            uchar* o = out.scanLine(y);
            for (int x = 0; x < rect.width(); ++x, o += 4) {
                const int left = std::min(x * extra, pixels.width() - 1), count = std::min(extra, pixels.width() - left);
                unsigned sum[4] = {0, 0, 0, 0};
                for (int r = 0; r < rows; ++r) {
                    const uchar* q = pixels.constScanLine(top + r) + size_t(left) * 4;
                    for (int k = 0; k < count * 4; ++k)
                        sum[k % 4] += q[k];
                }
                const unsigned pixelsInBlock = unsigned(rows * count);
                for (int k = 0; k < 4; ++k)
                    o[k] = uchar((sum[k] + pixelsInBlock / 2) / pixelsInBlock);
            }
        }
        return out;
    }

    // What the library allocates to decode the area [ax0, ax1) x [ay0, ay1) of the full grid at
    // `level`: every component's samples of the area (32 bits each); for a part, besides, the
    // code blocks' samples and the wavelet's rows around it in the tile being decoded, one
    // tile at a time; the records of that tile; and its coded bytes, copied.
    uint64_t decodeBytes(int level, uint64_t ax0, uint64_t ay0, uint64_t ax1, uint64_t ay1, bool whole) const
    {
        const unsigned shift = unsigned(level);
        double bytes = 0;
        for (const Component& c : m_components) {
            const double width = double(ceilShift(ceilDiv(ax1, c.dx), shift) - ceilShift(ceilDiv(ax0, c.dx), shift));
            const double height = double(ceilShift(ceilDiv(ay1, c.dy), shift) - ceilShift(ceilDiv(ay0, c.dy), shift));
            bytes += width * height * 4;
            if (whole && m_tiles == 1)
                continue;  // the tile's own samples are handed out as the picture's
            const double margin = 2.0 * m_codeBlock;
            const double tileWidth = std::ceil(std::ceil(m_tileWidth / c.dx) / std::ldexp(1.0, level));
            const double tileHeight = std::ceil(std::ceil(m_tileHeight / c.dy) / std::ldexp(1.0, level));
            bytes += std::min(width + margin, tileWidth) * std::min(height + margin, tileHeight) * 12;
        }
        bytes += m_tileRecordBytes;
        const double fileBytes = double(m_data.size());
        bytes += m_tiles == 1 ? fileBytes : std::min(fileBytes, 2 * fileBytes / double(m_tiles) + 65536);
        return bytes < 0x1p63 ? uint64_t(bytes) : UINT64_MAX;
    }

    // The streams in the order to try: the file or its mended copies, then, made when first
    // needed, the last of them without its cut tile-part. Null past the last.
    const imageio_detail::Jpeg2000Candidate* streamAt(size_t k) const
    {
        if (k < m_streams.size())
            return &m_streams[k];
        if (k > m_streams.size() || m_streams.empty() || m_streams.back().cutPartAt < 0)
            return nullptr;
        const std::lock_guard<std::mutex> lock(m_standInMutex);
        if (!m_standIn)
            m_standIn = std::make_unique<imageio_detail::Jpeg2000Candidate>(
                imageio_detail::jpeg2000WithoutCutPart(m_streams.back()));
        return m_standIn.get();
    }

    // The tiles a stream holds no data of are left as an empty tile decodes: every sample at the
    // middle of its range, as the library leaves the parts of a tile whose packets are missing.
    void fillMissingTiles(opj_image_t& image, const std::vector<bool>& present, uint64_t ax0, uint64_t ay0,
                          uint64_t ax1, uint64_t ay1) const
    {
        if (m_tileGrid.across == 0 || m_tileGrid.width == 0 || m_tileGrid.height == 0)
            return;
        for (size_t t = 0; t < present.size(); ++t) {
            if (present[t])
                continue;
            const uint64_t left = m_tileGrid.x0 + (t % m_tileGrid.across) * m_tileGrid.width;
            const uint64_t top = m_tileGrid.y0 + (t / m_tileGrid.across) * m_tileGrid.height;
            const uint64_t x0 = std::max({left, m_x0, ax0}), x1 = std::min({left + m_tileGrid.width, m_x1, ax1});
            const uint64_t y0 = std::max({top, m_y0, ay0}), y1 = std::min({top + m_tileGrid.height, m_y1, ay1});
            if (x0 >= x1 || y0 >= y1)
                continue;
            for (OPJ_UINT32 ci = 0; ci < image.numcomps; ++ci) {
                opj_image_comp_t& c = image.comps[ci];
                if (!c.data || c.dx == 0 || c.dy == 0 || c.prec < 1 || c.prec > 31)
                    continue;
                const uint64_t cx0 = ceilShift(c.x0, c.factor), cy0 = ceilShift(c.y0, c.factor);
                auto column = [&](uint64_t x) {
                    const uint64_t at = ceilShift(ceilDiv(x, c.dx), c.factor);
                    return std::min<uint64_t>(at > cx0 ? at - cx0 : 0, c.w);
                };
                auto row = [&](uint64_t y) {
                    const uint64_t at = ceilShift(ceilDiv(y, c.dy), c.factor);
                    return std::min<uint64_t>(at > cy0 ? at - cy0 : 0, c.h);
                };
                const OPJ_INT32 middle = c.sgnd ? 0 : OPJ_INT32(1) << (c.prec - 1);
                const uint64_t c0 = column(x0), c1 = column(x1);
                for (uint64_t y = row(y0); y < row(y1); ++y)
                    std::fill(c.data + y * c.w + c0, c.data + y * c.w + c1, middle);
            }
        }
    }

    QByteArray m_data;
    // The file, or its mended copies in the order to try, and the tile grid they share.
    std::vector<imageio_detail::Jpeg2000Candidate> m_streams;
    mutable std::atomic<size_t> m_firstWorking{0};
    mutable std::mutex m_standInMutex;
    mutable std::unique_ptr<imageio_detail::Jpeg2000Candidate> m_standIn;
    bool m_damaged = false;
    struct TileGrid {
        uint64_t x0 = 0, y0 = 0, width = 0, height = 0, across = 0;
    } m_tileGrid;
    static constexpr uint64_t kSamplesPerByte = 16384;
    // The library's records of a tile's code blocks a file may ask for: 32 MB, and 16 KB a byte
    // of the file besides (code blocks of 64 x 64 at the most samples a byte take a twelfth).
    static constexpr double kBlockRecordBytesBeyondFile = 32.0 * 1024 * 1024, kBlockRecordBytesPerByte = 16384;
    uint64_t m_samples = 0;  // samples of every component at full resolution
    QSize m_size;
    uint64_t m_x0 = 0, m_y0 = 0, m_x1 = 0, m_y1 = 0;  // the picture on the full-resolution grid
    std::vector<Component> m_components;
    int m_levels = 1;          // resolution levels every component has
    uint64_t m_tiles = 1;
    int m_codeBlock = 64;      // the larger side of a code block
    double m_tileWidth = 0, m_tileHeight = 0;  // a whole tile, within the picture
    double m_tileRecordBytes = 0;
};

}  // namespace

std::unique_ptr<FormatDecoder> makeJpeg2000Decoder() { return std::make_unique<Jpeg2000Decoder>(); }

}  // namespace kpv
