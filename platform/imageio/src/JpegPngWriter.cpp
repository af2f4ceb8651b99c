// JPEG and PNG encoding into memory.

#include "Encoders.h"

#include <QSysInfo>

#include <algorithm>
#include <csetjmp>
#include <cstdlib>
#include <memory>
#include <unordered_map>
#include <vector>

#include <jpeglib.h>
#include <png.h>

namespace kpv::imageio_detail {
namespace {

struct JpegErrors {
    jpeg_error_mgr pub;
    std::jmp_buf jump;
    char message[JMSG_LENGTH_MAX];
};

extern "C" void onJpegWriteError(j_common_ptr cinfo)
{
    auto* err = reinterpret_cast<JpegErrors*>(cinfo->err);
    (*cinfo->err->format_message)(cinfo, err->message);
    std::longjmp(err->jump, 1);
}

// Lives across setjmp; reached through an unchanging pointer.
struct JpegJob {
    ~JpegJob()
    {
        if (created)
            jpeg_destroy_compress(&info);
        std::free(buffer);
    }
    jpeg_compress_struct info{};
    JpegErrors err{};
    bool created = false;
    unsigned char* buffer = nullptr;
    unsigned long size = 0;
    std::vector<unsigned char> row;
};

bool runJpeg(JpegJob* job, const QImage& rgba, const EncodeOptions& o)
{
    job->info.err = jpeg_std_error(&job->err.pub);
    job->err.pub.error_exit = onJpegWriteError;
    if (setjmp(job->err.jump))
        return false;
    jpeg_create_compress(&job->info);
    job->created = true;
    jpeg_mem_dest(&job->info, &job->buffer, &job->size);
    job->info.image_width = JDIMENSION(rgba.width());
    job->info.image_height = JDIMENSION(rgba.height());
    const int components = o.grey ? 1 : 3;
    job->info.input_components = components;
    job->info.in_color_space = o.grey ? JCS_GRAYSCALE : JCS_RGB;
    jpeg_set_defaults(&job->info);
    jpeg_set_quality(&job->info, std::clamp(int(o.quality * 100 + 0.5), 1, 100), TRUE);
    if (!o.grey && o.lumaH > 0 && o.lumaV > 0) {
        job->info.comp_info[0].h_samp_factor = o.lumaH;
        job->info.comp_info[0].v_samp_factor = o.lumaV;
        for (int c = 1; c < 3; ++c)
            job->info.comp_info[c].h_samp_factor = job->info.comp_info[c].v_samp_factor = 1;
    }
    if (o.progressive)
        jpeg_simple_progression(&job->info);
    if (o.dpiX > 0 && o.dpiY > 0) {
        job->info.write_JFIF_header = TRUE;
        job->info.density_unit = 1;
        job->info.X_density = UINT16(std::clamp(o.dpiX + 0.5, 1.0, 65535.0));
        job->info.Y_density = UINT16(std::clamp(o.dpiY + 0.5, 1.0, 65535.0));
    }
    jpeg_start_compress(&job->info, TRUE);
    job->row.resize(size_t(rgba.width()) * size_t(components));
    while (job->info.next_scanline < job->info.image_height) {
        const uchar* src = rgba.constScanLine(int(job->info.next_scanline));
        // JPEG has no alpha: composite over white, as viewers show transparent areas.
        for (int x = 0; x < rgba.width(); ++x) {
            const unsigned a = src[4 * x + 3];
            for (int c = 0; c < components; ++c)
                job->row[size_t(components * x + c)] = uchar((src[4 * x + c] * a + 255 * (255 - a) + 127) / 255);
        }
        JSAMPROW rows[1] = {job->row.data()};
        jpeg_write_scanlines(&job->info, rows, 1);
    }
    jpeg_finish_compress(&job->info);
    return true;
}

extern "C" void pngWriteToArray(png_structp png, png_bytep data, png_size_t length)
{
    static_cast<QByteArray*>(png_get_io_ptr(png))->append(reinterpret_cast<const char*>(data), qsizetype(length));
}
extern "C" void pngFlushNothing(png_structp) {}
extern "C" void onPngWriteError(png_structp png, png_const_charp message)
{
    if (auto* text = static_cast<QString*>(png_get_error_ptr(png)))
        *text = QString::fromLatin1(message);
    png_longjmp(png, 1);
}
extern "C" void onPngWriteWarning(png_structp, png_const_charp) {}

struct PngJob {
    ~PngJob()
    {
        if (png)
            png_destroy_write_struct(&png, info ? &info : nullptr);
    }
    png_structp png = nullptr;
    png_infop info = nullptr;
    QString message;
    std::vector<png_byte> row;
    std::vector<png_color> palette;
    std::vector<png_byte> paletteAlpha;
    std::unordered_map<uint32_t, png_byte> paletteIndex;
};

// The 32-bit key of a pixel of straight RGBA8888 (alpha made opaque when it is not kept).
uint32_t pixelKey(const uchar* p, bool alpha)
{
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(alpha ? p[3] : 0xff) << 24;
}

// The picture's colours as a palette (PNG 11.2.3), in the order they first appear; false when it
// has more than 256 of them.
bool buildPalette(PngJob* job, const QImage& rgba, bool alpha)
{
    for (int y = 0; y < rgba.height(); ++y) {
        const uchar* src = rgba.constScanLine(y);
        for (int x = 0; x < rgba.width(); ++x, src += 4) {
            const uint32_t key = pixelKey(src, alpha);
            if (job->paletteIndex.count(key))
                continue;
            if (job->palette.size() == 256)
                return false;
            job->paletteIndex.emplace(key, png_byte(job->palette.size()));
            job->palette.push_back(png_color{src[0], src[1], src[2]});
            job->paletteAlpha.push_back(alpha ? src[3] : png_byte(0xff));
        }
    }
    return true;
}

bool runPng(PngJob* job, const QImage& rgba, const EncodeOptions& o, QByteArray* out)
{
    // A palette picture stays one while its colours fit a palette; more colours are written
    // whole rather than reduced.
    const bool deep = rgba.format() == QImage::Format_RGBA64;
    const bool indexed = !deep && o.indexed && buildPalette(job, rgba, o.hasAlpha);
    int depth = deep ? 16 : 8;
    if (indexed) {
        const size_t colours = job->palette.size();
        const int needed = colours <= 2 ? 1 : colours <= 4 ? 2 : colours <= 16 ? 4 : 8;
        depth = std::max(needed, o.paletteDepth);
    }
    job->png = png_create_write_struct(PNG_LIBPNG_VER_STRING, &job->message, onPngWriteError, onPngWriteWarning);
    if (!job->png)
        return false;
    job->info = png_create_info_struct(job->png);
    if (!job->info)
        return false;
    if (setjmp(png_jmpbuf(job->png)))
        return false;
    png_set_write_fn(job->png, out, pngWriteToArray, pngFlushNothing);
    const int colorType = indexed ? PNG_COLOR_TYPE_PALETTE
                          : o.grey ? (o.hasAlpha ? PNG_COLOR_TYPE_GRAY_ALPHA : PNG_COLOR_TYPE_GRAY)
                                   : (o.hasAlpha ? PNG_COLOR_TYPE_RGB_ALPHA : PNG_COLOR_TYPE_RGB);
    if (o.bilevel && !indexed && !o.hasAlpha && !deep)
        depth = 1;
    png_set_IHDR(job->png, job->info, png_uint_32(rgba.width()), png_uint_32(rgba.height()), depth, colorType,
                 o.interlaced ? PNG_INTERLACE_ADAM7 : PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
                 PNG_FILTER_TYPE_DEFAULT);
    if (indexed) {
        png_set_PLTE(job->png, job->info, job->palette.data(), int(job->palette.size()));
        if (std::any_of(job->paletteAlpha.begin(), job->paletteAlpha.end(), [](png_byte a) { return a != 0xff; }))
            png_set_tRNS(job->png, job->info, job->paletteAlpha.data(), int(job->paletteAlpha.size()), nullptr);
    }
    if (o.dpiX > 0 && o.dpiY > 0)
        png_set_pHYs(job->png, job->info, png_uint_32(o.dpiX / 0.0254 + 0.5), png_uint_32(o.dpiY / 0.0254 + 0.5),
                     PNG_RESOLUTION_METER);
    if (o.pngCompressionLevel >= 0)
        png_set_compression_level(job->png, std::min(o.pngCompressionLevel, 9));
    // Rows kept as they are deflate no better filtered: the search for the best filter of each
    // row, most of an uncompressed encode's time, is skipped.
    if (o.pngCompressionLevel == 0)
        png_set_filter(job->png, PNG_FILTER_TYPE_BASE, PNG_FILTER_NONE);
    png_write_info(job->png, job->info);
    if (depth < 8)
        png_set_packing(job->png);  // one index or level a byte in, packed into the row by the library
    if (!o.hasAlpha && !o.grey && !indexed)
        png_set_filler(job->png, 0, PNG_FILLER_AFTER);  // drop the fourth sample of each pixel
    if (deep && QSysInfo::ByteOrder == QSysInfo::LittleEndian)
        png_set_swap(job->png);  // samples in memory low byte first; the file stores them high first
    // An interlaced file takes every row once for each of its seven passes.
    const int passes = png_set_interlace_handling(job->png);
    for (int pass = 0; pass < passes; ++pass) {
        for (int y = 0; y < rgba.height(); ++y) {
            const uchar* src = rgba.constScanLine(y);
            if (indexed) {
                job->row.resize(size_t(rgba.width()));
                for (size_t x = 0; x < size_t(rgba.width()); ++x)
                    job->row[x] = job->paletteIndex.at(pixelKey(src + 4 * x, o.hasAlpha));
                png_write_row(job->png, job->row.data());
            } else if (deep && o.grey) {
                const auto* wide = reinterpret_cast<const quint16*>(src);
                const size_t step = o.hasAlpha ? 2 : 1;
                job->row.resize(size_t(rgba.width()) * step * 2);
                auto* to = reinterpret_cast<quint16*>(job->row.data());
                for (size_t x = 0; x < size_t(rgba.width()); ++x) {
                    to[x * step] = wide[4 * x];
                    if (o.hasAlpha)
                        to[x * step + 1] = wide[4 * x + 3];
                }
                png_write_row(job->png, job->row.data());
            } else if (o.grey) {
                // Grey rows take the red sample of each pixel (and its alpha).
                const size_t step = o.hasAlpha ? 2 : 1;
                job->row.resize(size_t(rgba.width()) * step);
                for (size_t x = 0; x < size_t(rgba.width()); ++x) {
                    job->row[x * step] = depth == 1 ? src[4 * x] >> 7 : src[4 * x];
                    if (o.hasAlpha)
                        job->row[x * step + 1] = src[4 * x + 3];
                }
                png_write_row(job->png, job->row.data());
            } else {
                png_write_row(job->png, src);
            }
        }
    }
    png_write_end(job->png, job->info);
    return true;
}

}  // namespace

bool encodeJpeg(const QImage& rgba, const EncodeOptions& o, QByteArray* out, QString* error)
{
    auto job = std::make_unique<JpegJob>();
    if (!runJpeg(job.get(), rgba, o)) {
        if (error)
            *error = QStringLiteral("JPEG encoding failed: %1").arg(QString::fromLatin1(job->err.message));
        return false;
    }
    *out = QByteArray(reinterpret_cast<const char*>(job->buffer), qsizetype(job->size));
    return true;
}

bool encodePng(const QImage& rgba, const EncodeOptions& o, QByteArray* out, QString* error)
{
    auto job = std::make_unique<PngJob>();
    out->clear();
    if (!runPng(job.get(), rgba, o, out)) {
        if (error)
            *error = QStringLiteral("PNG encoding failed: %1").arg(job->message);
        return false;
    }
    return true;
}

}  // namespace kpv::imageio_detail
