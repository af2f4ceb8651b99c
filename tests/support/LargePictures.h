#pragma once
// Large JPEG, PNG, TIFF and JPEG 2000 files for the tests of pictures shown in parts: written row
// by row or tile by tile (so a picture of hundreds of megapixels costs a few rows of memory); the
// reference decode of a part of a JPEG by reading every row from the top with the reference
// library, keeping only the part's rows and columns; and the exact pixels of a part, which a PNG,
// a TIFF and a lossless JPEG 2000 keep.

#include <QImage>
#include <QRect>
#include <QString>

#include <jpeglib.h>
#include <openjpeg.h>
#include <png.h>
#include <tiffio.h>

#include <algorithm>
#include <cmath>
#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <vector>

namespace kpv::test {

// A colour ramp across, a checkerboard of 97 x 61 pixels, white lines every 300 pixels and a
// texture of 16-pixel squares: an enlarged or shifted picture differs all over. A row depends on y only
// through the line, the checker's phase and the texture's phase, so eight kinds of row are made
// once and a large picture is written at the encoder's speed.
inline int largeJpegRowKind(int y) { return (y % 300 < 3 ? 4 : 0) + ((y / 61) % 2 ? 2 : 0) + ((y & 16) ? 1 : 0); }

inline void largeJpegPixel(int x, int kind, int width, unsigned char rgb[3])
{
    int r = int((long long)x * 255 / std::max(1, width - 1));
    int g = (x % 512) / 2 + ((((x & 16) != 0) != ((kind & 1) != 0)) ? 24 : 0);
    int b = ((x / 97 + (kind & 2 ? 1 : 0)) % 2) * 180 + 30;
    if (x % 300 < 3 || (kind & 4))
        r = g = b = 250;
    rgb[0] = (unsigned char)std::min(255, r);
    rgb[1] = (unsigned char)std::min(255, g);
    rgb[2] = (unsigned char)std::min(255, b);
}

struct LargeJpegError {
    jpeg_error_mgr pub;
    std::jmp_buf jump;
};

inline void largeJpegFail(j_common_ptr info)
{
    std::longjmp(reinterpret_cast<LargeJpegError *>(info->err)->jump, 1);
}

// Baseline, 4:2:0, quality 90. False when the file cannot be written.
// Writes an RGB JPEG of width x height at `quality`, row y's pixels from `row(y)`; false when it
// cannot be written.
template <typename RowOf>
bool writeJpegRows(const QString &path, int width, int height, int quality, RowOf row)
{
    FILE *file = std::fopen(path.toLocal8Bit().constData(), "wb");
    if (!file)
        return false;
    jpeg_compress_struct info{};
    LargeJpegError err{};
    info.err = jpeg_std_error(&err.pub);
    err.pub.error_exit = largeJpegFail;
    if (setjmp(err.jump)) {
        jpeg_destroy_compress(&info);
        std::fclose(file);
        return false;
    }
    jpeg_create_compress(&info);
    jpeg_stdio_dest(&info, file);
    info.image_width = JDIMENSION(width);
    info.image_height = JDIMENSION(height);
    info.input_components = 3;
    info.in_color_space = JCS_RGB;
    jpeg_set_defaults(&info);
    jpeg_set_quality(&info, quality, TRUE);
    jpeg_start_compress(&info, TRUE);
    for (int y = 0; y < height; ++y) {
        JSAMPROW p = const_cast<JSAMPROW>(row(y));
        jpeg_write_scanlines(&info, &p, 1);
    }
    jpeg_finish_compress(&info);
    jpeg_destroy_compress(&info);
    return std::fclose(file) == 0;
}

inline bool writeLargeJpeg(const QString &path, int width, int height)
{
    std::vector<std::vector<unsigned char>> rows(8, std::vector<unsigned char>(size_t(width) * 3));
    for (int kind = 0; kind < 8; ++kind)
        for (int x = 0; x < width; ++x)
            largeJpegPixel(x, kind, width, &rows[size_t(kind)][size_t(x) * 3]);
    return writeJpegRows(path, width, height, 90,
                         [&rows](int y) { return rows[size_t(largeJpegRowKind(y))].data(); });
}

// A PNG of the same picture (8-bit RGB, not interlaced, quickly compressed). False when the
// file cannot be written.
inline bool writeLargePng(const QString &path, int width, int height)
{
    FILE *file = std::fopen(path.toLocal8Bit().constData(), "wb");
    if (!file)
        return false;
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png ? png_create_info_struct(png) : nullptr;
    std::vector<std::vector<unsigned char>> rows(8, std::vector<unsigned char>(size_t(width) * 3));
    for (int kind = 0; kind < 8; ++kind)
        for (int x = 0; x < width; ++x)
            largeJpegPixel(x, kind, width, &rows[size_t(kind)][size_t(x) * 3]);
    if (!info || setjmp(png_jmpbuf(png))) {
        png_destroy_write_struct(&png, &info);
        std::fclose(file);
        return false;
    }
    png_init_io(png, file);
    png_set_compression_level(png, 1);
    png_set_IHDR(png, info, png_uint_32(width), png_uint_32(height), 8, PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_write_info(png, info);
    for (int y = 0; y < height; ++y)
        png_write_row(png, rows[size_t(largeJpegRowKind(y))].data());
    png_write_end(png, info);
    png_destroy_write_struct(&png, &info);
    return std::fclose(file) == 0;
}

// A TIFF of the same picture in tiles of 256 x 256 (8-bit RGB, quickly compressed). False when
// the file cannot be written.
inline bool writeLargeTiledTiff(const QString &path, int width, int height)
{
    TIFF *tif = TIFFOpen(path.toLocal8Bit().constData(), "w");
    if (!tif)
        return false;
    constexpr int kTile = 256;
    TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, uint32_t(width));
    TIFFSetField(tif, TIFFTAG_IMAGELENGTH, uint32_t(height));
    TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, uint16_t(3));
    TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, uint16_t(8));
    TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_RGB);
    TIFFSetField(tif, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
    TIFFSetField(tif, TIFFTAG_COMPRESSION, COMPRESSION_ADOBE_DEFLATE);
    TIFFSetField(tif, TIFFTAG_ZIPQUALITY, 1);
    TIFFSetField(tif, TIFFTAG_TILEWIDTH, uint32_t(kTile));
    TIFFSetField(tif, TIFFTAG_TILELENGTH, uint32_t(kTile));
    std::vector<std::vector<unsigned char>> rows(8, std::vector<unsigned char>(size_t(width) * 3));
    for (int kind = 0; kind < 8; ++kind)
        for (int x = 0; x < width; ++x)
            largeJpegPixel(x, kind, width, &rows[size_t(kind)][size_t(x) * 3]);
    std::vector<unsigned char> tile(size_t(kTile) * kTile * 3);
    bool ok = true;
    for (int top = 0; ok && top < height; top += kTile)
        for (int left = 0; ok && left < width; left += kTile) {
            std::fill(tile.begin(), tile.end(), 0);
            const int columns = std::min(kTile, width - left);
            for (int y = top; y < std::min(top + kTile, height); ++y)
                std::copy_n(rows[size_t(largeJpegRowKind(y))].begin() + left * 3, columns * 3,
                            tile.begin() + (y - top) * kTile * 3);
            ok = TIFFWriteTile(tif, tile.data(), uint32_t(left), uint32_t(top), 0, 0) >= 0;
        }
    TIFFClose(tif);
    return ok;
}

// A JPEG 2000 (JP2) of the same picture, lossless, in tiles of `tile` pixels each way, with
// `levels` resolution levels, placed at `origin` of the code-stream's grid. False when it cannot
// be written.
inline bool writeLargeJp2(const QString &path, int width, int height, int tile, int levels = 6,
                          QPoint origin = QPoint(0, 0))
{
    if (tile < 1)
        return false;
    opj_image_cmptparm_t params[3] = {};
    for (opj_image_cmptparm_t &p : params) {
        p.dx = p.dy = 1;
        p.w = OPJ_UINT32(width);
        p.h = OPJ_UINT32(height);
        p.x0 = OPJ_UINT32(origin.x());
        p.y0 = OPJ_UINT32(origin.y());
        p.prec = 8;
    }
    opj_image_t *image = opj_image_tile_create(3, params, OPJ_CLRSPC_SRGB);
    if (!image)
        return false;
    image->x0 = OPJ_UINT32(origin.x());
    image->y0 = OPJ_UINT32(origin.y());
    image->x1 = OPJ_UINT32(origin.x() + width);
    image->y1 = OPJ_UINT32(origin.y() + height);
    std::vector<std::vector<unsigned char>> rows(8, std::vector<unsigned char>(size_t(width) * 3));
    for (int kind = 0; kind < 8; ++kind)
        for (int x = 0; x < width; ++x)
            largeJpegPixel(x, kind, width, &rows[size_t(kind)][size_t(x) * 3]);
    opj_cparameters_t cp;
    opj_set_default_encoder_parameters(&cp);
    cp.tcp_numlayers = 1;
    cp.tcp_rates[0] = 0;
    cp.cp_disto_alloc = 1;
    cp.irreversible = 0;
    cp.tcp_mct = 1;
    cp.numresolution = levels;
    cp.tile_size_on = OPJ_TRUE;
    cp.cp_tx0 = origin.x();
    cp.cp_ty0 = origin.y();
    cp.cp_tdx = tile;
    cp.cp_tdy = tile;
    opj_codec_t *codec = opj_create_compress(OPJ_CODEC_JP2);
    opj_stream_t *stream = opj_stream_create_default_file_stream(path.toLocal8Bit().constData(), OPJ_FALSE);
    bool ok = codec && stream && opj_setup_encoder(codec, &cp, image) && opj_start_compress(codec, image, stream);
    if (ok) {
        const int across = (width + tile - 1) / tile, down = (height + tile - 1) / tile;
        std::vector<unsigned char> data(size_t(tile) * size_t(tile) * 3);
        for (int ty = 0; ok && ty < down; ++ty)
            for (int tx = 0; ok && tx < across; ++tx) {
                const int left = tx * tile, top = ty * tile;
                const int w = std::min(tile, width - left), h = std::min(tile, height - top);
                for (int c = 0; c < 3; ++c)
                    for (int y = 0; y < h; ++y)
                        for (int x = 0; x < w; ++x)
                            data[size_t(c) * size_t(w * h) + size_t(y * w + x)] =
                                rows[size_t(largeJpegRowKind(top + y))][size_t(left + x) * 3 + size_t(c)];
                ok = opj_write_tile(codec, OPJ_UINT32(ty * across + tx), data.data(), OPJ_UINT32(w * h * 3), stream);
            }
    }
    ok = ok && opj_end_compress(codec, stream);
    if (stream)
        opj_stream_destroy(stream);
    if (codec)
        opj_destroy_codec(codec);
    opj_image_destroy(image);
    return ok;
}

// The exact pixels of the part `rect` of the picture, as RGBA8888.
inline QImage largePicturePart(const QRect &rect, int width)
{
    QImage out(rect.size(), QImage::Format_RGBA8888);
    for (int y = 0; y < rect.height(); ++y) {
        uchar *p = out.scanLine(y);
        for (int x = 0; x < rect.width(); ++x, p += 4) {
            largeJpegPixel(rect.x() + x, largeJpegRowKind(rect.y() + y), width, p);
            p[3] = 255;
        }
    }
    return out;
}

// The part `rect` of the picture reduced by `reduction` (1, 2, 4 or 8) as RGBA8888, every row
// from the top decoded whole; null when the file cannot be read.
inline QImage referenceJpegPart(const QString &path, const QRect &rect, int reduction)
{
    FILE *file = std::fopen(path.toLocal8Bit().constData(), "rb");
    if (!file)
        return {};
    jpeg_decompress_struct info{};
    LargeJpegError err{};
    info.err = jpeg_std_error(&err.pub);
    err.pub.error_exit = largeJpegFail;
    QImage out;
    std::vector<unsigned char> row;
    if (setjmp(err.jump)) {
        jpeg_destroy_decompress(&info);
        std::fclose(file);
        return {};
    }
    jpeg_create_decompress(&info);
    jpeg_stdio_src(&info, file);
    jpeg_read_header(&info, TRUE);
    info.out_color_space = JCS_EXT_RGBA;
    info.scale_num = unsigned(8 / reduction);
    info.scale_denom = 8;
    info.dct_method = JDCT_ISLOW;
    jpeg_start_decompress(&info);
    if (rect.right() < int(info.output_width) && rect.bottom() < int(info.output_height) && rect.x() >= 0 &&
        rect.y() >= 0) {
        out = QImage(rect.size(), QImage::Format_RGBA8888);
        row.resize(size_t(info.output_width) * 4);
        for (int y = 0; y <= rect.bottom(); ++y) {
            JSAMPROW p = row.data();
            jpeg_read_scanlines(&info, &p, 1);
            if (y >= rect.y())
                std::copy_n(row.data() + size_t(rect.x()) * 4, size_t(rect.width()) * 4, out.scanLine(y - rect.y()));
        }
    }
    jpeg_abort_decompress(&info);
    jpeg_destroy_decompress(&info);
    std::fclose(file);
    return out;
}

// The mean difference of the red, green and blue levels of two images of one size (a large
// number when the sizes differ).
inline double meanLevelDifference(const QImage &a, const QImage &b)
{
    if (a.size() != b.size() || a.isNull())
        return 1e9;
    const QImage x = a.convertToFormat(QImage::Format_RGBA8888), y = b.convertToFormat(QImage::Format_RGBA8888);
    double sum = 0;
    for (int r = 0; r < x.height(); ++r) {
        const uchar *p = x.constScanLine(r), *q = y.constScanLine(r);
        for (int c = 0; c < x.width(); ++c)
            for (int k = 0; k < 3; ++k)
                sum += std::abs(int(p[c * 4 + k]) - int(q[c * 4 + k]));
    }
    return sum / (3.0 * x.width() * x.height());
}

} // namespace kpv::test
