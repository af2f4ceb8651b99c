// TIFF, JPEG 2000 and BMP encoding into memory.

#include "Encoders.h"

#include <tiffio.h>
#include <openjpeg.h>

#include <QBuffer>
#include <QtEndian>
#include <QImageWriter>

#include <algorithm>
#include <limits>
#include <cstring>
#include <vector>

namespace kpv::imageio_detail {
namespace {

// A growable in-memory file for libtiff, which seeks back to patch directory offsets.
struct MemoryOut {
    QByteArray* data;
    toff_t pos = 0;
};

extern "C" tmsize_t memRead(thandle_t h, void* buf, tmsize_t n)
{
    auto* m = static_cast<MemoryOut*>(h);
    const toff_t size = toff_t(m->data->size());
    if (n <= 0 || m->pos >= size)
        return 0;
    const toff_t count = std::min<toff_t>(toff_t(n), size - m->pos);
    std::memcpy(buf, m->data->constData() + m->pos, size_t(count));
    m->pos += count;
    return tmsize_t(count);
}
extern "C" tmsize_t memWrite(thandle_t h, void* buf, tmsize_t n)
{
    auto* m = static_cast<MemoryOut*>(h);
    if (n < 0 || m->pos + toff_t(n) > toff_t(std::numeric_limits<qsizetype>::max() / 2))
        return -1;
    const toff_t end = m->pos + toff_t(n);
    if (end > toff_t(m->data->size()))
        m->data->resize(qsizetype(end));
    std::memcpy(m->data->data() + m->pos, buf, size_t(n));
    m->pos = end;
    return n;
}
extern "C" toff_t memSeek(thandle_t h, toff_t off, int whence)
{
    auto* m = static_cast<MemoryOut*>(h);
    const toff_t base = whence == SEEK_CUR ? m->pos : whence == SEEK_END ? toff_t(m->data->size()) : 0;
    m->pos = base + off;
    return m->pos;
}
extern "C" int memClose(thandle_t) { return 0; }
extern "C" toff_t memSize(thandle_t h) { return toff_t(static_cast<MemoryOut*>(h)->data->size()); }
extern "C" int memMap(thandle_t, void**, toff_t*) { return 0; }
extern "C" void memUnmap(thandle_t, void*, toff_t) {}

extern "C" OPJ_SIZE_T opjWrite(void* buf, OPJ_SIZE_T n, void* user)
{
    auto* m = static_cast<MemoryOut*>(user);
    return OPJ_SIZE_T(memWrite(m, buf, tmsize_t(n)));
}
extern "C" OPJ_OFF_T opjSkipOut(OPJ_OFF_T n, void* user)
{
    auto* m = static_cast<MemoryOut*>(user);
    if (n < 0 && toff_t(-n) > m->pos)
        return -1;
    m->pos = toff_t(OPJ_OFF_T(m->pos) + n);
    if (m->pos > toff_t(m->data->size()))
        m->data->resize(qsizetype(m->pos));
    return n;
}
extern "C" OPJ_BOOL opjSeekOut(OPJ_OFF_T n, void* user)
{
    auto* m = static_cast<MemoryOut*>(user);
    if (n < 0)
        return OPJ_FALSE;
    m->pos = toff_t(n);
    if (m->pos > toff_t(m->data->size()))
        m->data->resize(qsizetype(m->pos));
    return OPJ_TRUE;
}
extern "C" void opjQuietOut(const char*, void*) {}

}  // namespace

bool encodeTiff(const QImage& rgba, const EncodeOptions& o, QByteArray* out, QString* error)
{
    out->clear();
    MemoryOut mem{out};
    TIFF* tif = TIFFClientOpen("memory", "w", &mem, memRead, memWrite, memSeek, memClose, memSize, memMap, memUnmap);
    if (!tif) {
        if (error)
            *error = QStringLiteral("TIFF encoder could not start");
        return false;
    }
    // The codings a TIFF may name are kept: a photo turned and written over itself stays as
    // compact as it was (a Deflate or JPEG file written uncompressed grows many times over, and
    // may no longer fit the disk). Deflate's old code is written as its current one, and the old
    // JPEG coding of TIFF 6.0 section 22 as the one of Technical Note 2; unknown codings are
    // written uncompressed.
    int compression = COMPRESSION_NONE;
    switch (o.tiffCompression) {
    case COMPRESSION_LZW:
    case COMPRESSION_PACKBITS:
    case COMPRESSION_ADOBE_DEFLATE:
    case COMPRESSION_JPEG:
        compression = o.tiffCompression;
        break;
    case COMPRESSION_DEFLATE:
        compression = COMPRESSION_ADOBE_DEFLATE;
        break;
    case COMPRESSION_OJPEG:
        compression = COMPRESSION_JPEG;
        break;
    case COMPRESSION_CCITTRLE:
    case COMPRESSION_CCITTFAX3:
    case COMPRESSION_CCITTFAX4:
    case COMPRESSION_CCITTRLEW:
        // The fax codings (TIFF 6.0 sections 10 and 11) hold one bit a pixel: Group 3 stays, the
        // others are written as Group 4, and a picture that is no longer black and white as Deflate.
        compression = !o.bilevel ? COMPRESSION_ADOBE_DEFLATE
                      : o.tiffCompression == COMPRESSION_CCITTFAX3 ? COMPRESSION_CCITTFAX3
                                                                   : COMPRESSION_CCITTFAX4;
        break;
    default:
        break;
    }
    const bool deep = rgba.format() == QImage::Format_RGBA64;
    if (compression == COMPRESSION_JPEG && o.bilevel)
        compression = COMPRESSION_CCITTFAX4;  // JPEG holds no single bits
    if (compression == COMPRESSION_JPEG && deep)
        compression = COMPRESSION_ADOBE_DEFLATE;  // nor 16 bits a sample: kept whole instead
    if (!TIFFIsCODECConfigured(uint16_t(compression)))  // still lossless and compact
        compression = TIFFIsCODECConfigured(COMPRESSION_ADOBE_DEFLATE) ? COMPRESSION_ADOBE_DEFLATE : COMPRESSION_NONE;
    // Colour in JPEG is coded as luma and chroma, the chroma at half the resolution each way, as
    // JPEG files are; libtiff converts the RGB rows itself. An alpha channel keeps the samples RGB.
    const bool ycbcr = compression == COMPRESSION_JPEG && !o.grey && !o.hasAlpha;
    const uint16_t colours = o.grey ? 1 : 3;
    const uint16_t samples = colours + (o.hasAlpha ? 1 : 0);
    TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, uint32_t(rgba.width()));
    TIFFSetField(tif, TIFFTAG_IMAGELENGTH, uint32_t(rgba.height()));
    TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, deep ? 16 : o.bilevel ? 1 : 8);
    TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, samples);
    TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, o.grey ? PHOTOMETRIC_MINISBLACK : ycbcr ? PHOTOMETRIC_YCBCR : PHOTOMETRIC_RGB);
    TIFFSetField(tif, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
    TIFFSetField(tif, TIFFTAG_COMPRESSION, compression);
    if (compression == COMPRESSION_JPEG) {
        TIFFSetField(tif, TIFFTAG_JPEGQUALITY, std::clamp(int(o.quality * 100 + 0.5), 1, 100));
        if (ycbcr)
            TIFFSetField(tif, TIFFTAG_JPEGCOLORMODE, JPEGCOLORMODE_RGB);
    }
    TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, TIFFDefaultStripSize(tif, 0));
    if (o.hasAlpha) {
        const uint16_t extra[1] = {EXTRASAMPLE_UNASSALPHA};
        TIFFSetField(tif, TIFFTAG_EXTRASAMPLES, 1, extra);
    }
    if (o.orientation >= 1 && o.orientation <= 8)
        TIFFSetField(tif, TIFFTAG_ORIENTATION, uint16_t(o.orientation));
    if (o.dpiX > 0 && o.dpiY > 0) {
        TIFFSetField(tif, TIFFTAG_XRESOLUTION, float(o.dpiX));
        TIFFSetField(tif, TIFFTAG_YRESOLUTION, float(o.dpiY));
        TIFFSetField(tif, TIFFTAG_RESOLUTIONUNIT, RESUNIT_INCH);
    }
    // libtiff takes the samples in the machine's order and stores them in the file's.
    std::vector<uchar> row(deep         ? size_t(rgba.width()) * samples * 2
                           : o.bilevel ? (size_t(rgba.width()) + 7) / 8
                                       : size_t(rgba.width()) * samples);
    bool ok = true;
    for (int y = 0; ok && y < rgba.height(); ++y) {
        const uchar* src = rgba.constScanLine(y);
        if (deep) {
            const auto* wide = reinterpret_cast<const quint16*>(src);
            auto* to = reinterpret_cast<quint16*>(row.data());
            for (size_t x = 0; x < size_t(rgba.width()); ++x) {
                std::memcpy(&to[x * samples], wide + x * 4, colours * 2);
                if (o.hasAlpha)
                    to[x * samples + colours] = wide[x * 4 + 3];
            }
        } else if (o.bilevel) {
            // Eight pixels a byte, the first in the high bit; 1 is white (TIFF 6.0 section 3).
            std::fill(row.begin(), row.end(), uchar(0));
            for (size_t x = 0; x < size_t(rgba.width()); ++x)
                if (src[4 * x] & 0x80)
                    row[x / 8] |= uchar(0x80 >> (x % 8));
        } else if (o.hasAlpha && !o.grey) {
            std::memcpy(row.data(), src, row.size());
        } else {
            // The first `colours` samples of each pixel, then its alpha when kept.
            for (size_t x = 0; x < size_t(rgba.width()); ++x) {
                std::memcpy(&row[x * samples], src + x * 4, colours);
                if (o.hasAlpha)
                    row[x * samples + colours] = src[x * 4 + 3];
            }
        }
        ok = TIFFWriteScanline(tif, row.data(), uint32_t(y), 0) == 1;
    }
    ok = ok && TIFFWriteDirectory(tif);
    TIFFClose(tif);
    if (!ok && error)
        *error = QStringLiteral("TIFF encoding failed");
    return ok;
}

bool encodeJpeg2000(const QImage& rgba, const EncodeOptions& o, QByteArray* out, QString* error)
{
    out->clear();
    const int channels = o.hasAlpha ? 4 : 3;
    opj_image_cmptparm_t params[4];
    std::memset(params, 0, sizeof(params));
    for (int c = 0; c < channels; ++c) {
        params[c].dx = params[c].dy = 1;
        params[c].w = OPJ_UINT32(rgba.width());
        params[c].h = OPJ_UINT32(rgba.height());
        params[c].prec = 8;
        params[c].sgnd = 0;
    }
    opj_image_t* image = opj_image_create(OPJ_UINT32(channels), params, OPJ_CLRSPC_SRGB);
    if (!image) {
        if (error)
            *error = QStringLiteral("out of memory for the JPEG 2000 encoder");
        return false;
    }
    image->x1 = OPJ_UINT32(rgba.width());
    image->y1 = OPJ_UINT32(rgba.height());
    if (o.hasAlpha)
        image->comps[3].alpha = 1;
    for (int y = 0; y < rgba.height(); ++y) {
        const uchar* src = rgba.constScanLine(y);
        for (int x = 0; x < rgba.width(); ++x)
            for (int c = 0; c < channels; ++c)
                image->comps[c].data[size_t(y) * size_t(rgba.width()) + size_t(x)] = src[4 * x + c];
    }
    opj_cparameters_t cp;
    opj_set_default_encoder_parameters(&cp);
    cp.tcp_numlayers = 1;
    cp.cp_disto_alloc = 1;
    cp.tcp_mct = channels >= 3 ? 1 : 0;  // code colour as luma and chroma
    if (o.quality >= 1.0) {
        cp.irreversible = 0;  // the 5/3 wavelet: lossless
        cp.tcp_rates[0] = 0;
    } else {
        // A compression ratio from the quality: 0.9 keeps about a sixth of the raw size, 0.5 a
        // twenty-fifth, 0 a fiftieth.
        cp.irreversible = 1;
        cp.tcp_rates[0] = float(1.0 + (1.0 - std::clamp(o.quality, 0.0, 1.0)) * 49.0);
    }
    while (cp.numresolution > 1 &&
           ((rgba.width() >> (cp.numresolution - 1)) < 1 || (rgba.height() >> (cp.numresolution - 1)) < 1))
        --cp.numresolution;
    opj_codec_t* codec = opj_create_compress(OPJ_CODEC_JP2);
    MemoryOut mem{out};
    opj_stream_t* stream = opj_stream_create(1 << 16, OPJ_FALSE);
    bool ok = codec && stream;
    if (ok) {
        opj_set_info_handler(codec, opjQuietOut, nullptr);
        opj_set_warning_handler(codec, opjQuietOut, nullptr);
        opj_set_error_handler(codec, opjQuietOut, nullptr);
        opj_stream_set_user_data(stream, &mem, nullptr);
        opj_stream_set_write_function(stream, opjWrite);
        opj_stream_set_skip_function(stream, opjSkipOut);
        opj_stream_set_seek_function(stream, opjSeekOut);
        ok = opj_setup_encoder(codec, &cp, image) && opj_start_compress(codec, image, stream) &&
             opj_encode(codec, stream) && opj_end_compress(codec, stream);
    }
    if (stream)
        opj_stream_destroy(stream);
    if (codec)
        opj_destroy_codec(codec);
    opj_image_destroy(image);
    if (!ok && error)
        *error = QStringLiteral("JPEG 2000 encoding failed");
    return ok;
}

namespace {

void putLE(QByteArray* out, quint32 value, int bytes)
{
    for (int i = 0; i < bytes; ++i)
        out->append(char((value >> (8 * i)) & 0xff));
}

// A picture with transparency as a BMP of 32 bits a pixel with an alpha mask (a version 4 header),
// so that its transparent parts stay transparent instead of showing whatever colour they hide.
bool encodeBmpWithAlpha(const QImage& image, QByteArray* out, QString* error)
{
    constexpr quint32 kFileHeader = 14, kInfoHeader = 108;
    const quint64 rowBytes = quint64(image.width()) * 4;
    const quint64 pixelBytes = rowBytes * quint64(image.height());
    if (pixelBytes > std::numeric_limits<quint32>::max() - kFileHeader - kInfoHeader) {
        if (error)
            *error = QStringLiteral("BMP encoding failed: the picture is too large for a BMP file");
        return false;
    }
    out->reserve(qsizetype(kFileHeader + kInfoHeader + pixelBytes));
    out->append("BM", 2);
    putLE(out, quint32(kFileHeader + kInfoHeader + pixelBytes), 4);
    putLE(out, 0, 4);
    putLE(out, kFileHeader + kInfoHeader, 4);
    putLE(out, kInfoHeader, 4);
    putLE(out, quint32(image.width()), 4);
    putLE(out, quint32(image.height()), 4);  // rows from the bottom up
    putLE(out, 1, 2);                        // planes
    putLE(out, 32, 2);                       // bits a pixel
    putLE(out, 3, 4);                        // bit fields
    putLE(out, quint32(pixelBytes), 4);
    putLE(out, quint32(std::max(0, image.dotsPerMeterX())), 4);
    putLE(out, quint32(std::max(0, image.dotsPerMeterY())), 4);
    putLE(out, 0, 4);  // colours used
    putLE(out, 0, 4);  // important colours
    putLE(out, 0x00ff0000, 4);
    putLE(out, 0x0000ff00, 4);
    putLE(out, 0x000000ff, 4);
    putLE(out, 0xff000000, 4);
    putLE(out, 0x73524742, 4);  // "sRGB"
    out->append(QByteArray(36 + 12, '\0'));  // end points and gamma, unused with sRGB
    const qsizetype start = out->size();
    out->resize(start + qsizetype(pixelBytes));
    char* to = out->data() + start;
    for (int y = image.height() - 1; y >= 0; --y) {
        const auto* line = reinterpret_cast<const QRgb*>(image.constScanLine(y));
        for (int x = 0; x < image.width(); ++x, to += 4)
            qToLittleEndian<quint32>(line[x], to);  // B, G, R, A in the file
    }
    return true;
}

}  // namespace

bool encodeBmp(const QImage& rgba, const EncodeOptions& o, QByteArray* out, QString* error)
{
    QImage image = rgba.convertToFormat(o.hasAlpha ? QImage::Format_ARGB32 : QImage::Format_RGB32);
    if (o.dpiX > 0 && o.dpiY > 0) {
        image.setDotsPerMeterX(int(o.dpiX / 0.0254 + 0.5));
        image.setDotsPerMeterY(int(o.dpiY / 0.0254 + 0.5));
    }
    out->clear();
    if (o.hasAlpha)
        return encodeBmpWithAlpha(image, out, error);
    QBuffer buffer(out);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, "bmp");
    if (!writer.write(image)) {
        if (error)
            *error = QStringLiteral("BMP encoding failed: %1").arg(writer.errorString());
        return false;
    }
    return true;
}

}  // namespace kpv::imageio_detail
