#include "BenchPictures.h"

#include <gif_lib.h>
#include <png.h>
#include <turbojpeg.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <memory>

namespace bench_pictures {

namespace {

// Texture and noise of a few levels around the colour: enough entropy for realistic file sizes,
// small enough that any screen patch still averages to the colour.
std::vector<unsigned char> photoPixels(int width, int height, Rgb colour, unsigned seed)
{
    std::vector<unsigned char> rgb(size_t(width) * size_t(height) * 3);
    unsigned state = seed * 2654435761u + 1;
    for (int y = 0; y < height; ++y) {
        unsigned char *p = rgb.data() + size_t(y) * size_t(width) * 3;
        const double wy = std::cos(y * 0.017);
        for (int x = 0; x < width; ++x, p += 3) {
            state = state * 1103515245u + 12345u;
            const int noise = int((state >> 16) & 15) - 8;
            const int texture = int(8 * std::sin(x * 0.011) * wy);
            for (int c = 0; c < 3; ++c)
                p[c] = (unsigned char)std::clamp(colour[size_t(c)] + noise + (c == 1 ? -texture : texture), 0, 255);
        }
    }
    return rgb;
}

bool writeAll(const std::string &path, const unsigned char *data, size_t size)
{
    FILE *f = std::fopen(path.c_str(), "wb");
    if (!f)
        return false;
    const bool ok = std::fwrite(data, 1, size, f) == size;
    return std::fclose(f) == 0 && ok;
}

} // namespace

Rgb colourFor(int index)
{
    // Saturated colours a golden angle of hue apart: consecutive pictures never look alike, and
    // none is a grey that a window's own background could pass for.
    const double hue = std::fmod(index * 137.508, 360.0) / 60.0;
    const double v = 210, s = 0.75, f = hue - std::floor(hue);
    const int p = int(v * (1 - s)), q = int(v * (1 - s * f)), t = int(v * (1 - s * (1 - f))), V = int(v);
    switch (int(hue) % 6) {
    case 0: return {V, t, p};
    case 1: return {q, V, p};
    case 2: return {p, V, t};
    case 3: return {p, q, V};
    case 4: return {t, p, V};
    default: return {V, p, q};
    }
}

std::vector<unsigned char> compressJpeg(int width, int height, Rgb colour, unsigned seed, int quality)
{
    const std::vector<unsigned char> rgb = photoPixels(width, height, colour, seed);
    std::vector<unsigned char> bytes;
    tjhandle tj = tjInitCompress();
    if (!tj)
        return bytes;
    unsigned char *out = nullptr;
    unsigned long size = 0;
    if (tjCompress2(tj, rgb.data(), width, 0, height, TJPF_RGB, &out, &size, TJSAMP_420, quality, 0) == 0)
        bytes.assign(out, out + size);
    tjFree(out);
    tjDestroy(tj);
    return bytes;
}

// An APP1 segment whose little-endian TIFF structure has IFD0 (orientation 1) and IFD1 pointing
// at `thumb` (EXIF 2.3, 4.5.4 and 4.5.5).
std::vector<unsigned char> exifSegment(const std::vector<unsigned char> &thumb)
{
    std::vector<unsigned char> t;
    auto u16 = [&](unsigned v) { t.push_back((unsigned char)(v & 0xff)); t.push_back((unsigned char)(v >> 8)); };
    auto u32 = [&](unsigned v) { u16(v & 0xffff); u16(v >> 16); };
    auto entry = [&](unsigned tag, unsigned type, unsigned value) { u16(tag); u16(type); u32(1); u32(value); };
    t.insert(t.end(), {'I', 'I', 0x2a, 0});
    u32(8);
    u16(1); // IFD0 at 8, 18 bytes
    entry(0x0112, 3, 1);
    u32(26);
    u16(3); // IFD1 at 26, 42 bytes; the thumbnail follows at 68
    entry(0x0103, 3, 6);
    entry(0x0201, 4, 68);
    entry(0x0202, 4, unsigned(thumb.size()));
    u32(0);
    t.insert(t.end(), thumb.begin(), thumb.end());
    const size_t length = 2 + 6 + t.size();
    std::vector<unsigned char> segment = {0xff, 0xe1, (unsigned char)(length >> 8), (unsigned char)(length & 0xff),
                                          'E', 'x', 'i', 'f', 0, 0};
    segment.insert(segment.end(), t.begin(), t.end());
    return length <= 0xffff ? segment : std::vector<unsigned char>();
}

bool writePhotoJpeg(const std::string &path, int width, int height, Rgb colour, unsigned seed)
{
    const std::vector<unsigned char> bytes = compressJpeg(width, height, colour, seed, 90);
    return !bytes.empty() && writeAll(path, bytes.data(), bytes.size());
}

bool writeCameraJpeg(const std::string &path, int width, int height, Rgb colour, unsigned seed)
{
    std::vector<unsigned char> bytes = compressJpeg(width, height, colour, seed, 90);
    const std::vector<unsigned char> exif = exifSegment(compressJpeg(160, 107, colour, seed, 80));
    if (bytes.size() < 2 || exif.empty())
        return false;
    bytes.insert(bytes.begin() + 2, exif.begin(), exif.end()); // right after SOI
    return writeAll(path, bytes.data(), bytes.size());
}

bool writePhotoPng(const std::string &path, int width, int height, Rgb colour, unsigned seed)
{
    const std::vector<unsigned char> rgb = photoPixels(width, height, colour, seed);
    FILE *f = std::fopen(path.c_str(), "wb");
    if (!f)
        return false;
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png ? png_create_info_struct(png) : nullptr;
    bool ok = png && info;
    if (ok && setjmp(png_jmpbuf(png)) == 0) {
        png_init_io(png, f);
        png_set_compression_level(png, 1);
        png_set_IHDR(png, info, png_uint_32(width), png_uint_32(height), 8, PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE,
                     PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
        png_write_info(png, info);
        for (int y = 0; y < height; ++y)
            png_write_row(png, rgb.data() + size_t(y) * size_t(width) * 3);
        png_write_end(png, nullptr);
    } else {
        ok = false;
    }
    png_destroy_write_struct(&png, &info);
    return std::fclose(f) == 0 && ok;
}

bool writeAnimatedGif(const std::string &path, int width, int height, const std::vector<Rgb> &colours, int delayCs)
{
    int error = 0;
    GifFileType *gif = EGifOpenFileName(path.c_str(), false, &error);
    if (!gif)
        return false;
    // One global palette: the frame colours, then a grey for the pattern.
    ColorMapObject *map = GifMakeMapObject(256, nullptr);
    for (int i = 0; i < 256; ++i)
        map->Colors[i] = {GifByteType(i), GifByteType(i), GifByteType(i)};
    for (size_t i = 0; i < colours.size() && i < 255; ++i)
        map->Colors[i] = {GifByteType(colours[i][0]), GifByteType(colours[i][1]), GifByteType(colours[i][2])};
    bool ok = EGifPutScreenDesc(gif, width, height, 8, 0, map) == GIF_OK;
    unsigned char loop[3] = {1, 0, 0};
    ok = ok && EGifPutExtensionLeader(gif, APPLICATION_EXT_FUNC_CODE) == GIF_OK &&
         EGifPutExtensionBlock(gif, 11, "NETSCAPE2.0") == GIF_OK && EGifPutExtensionBlock(gif, 3, loop) == GIF_OK &&
         EGifPutExtensionTrailer(gif) == GIF_OK;
    std::vector<GifPixelType> row(static_cast<size_t>(width));
    for (size_t f = 0; ok && f < colours.size(); ++f) {
        GraphicsControlBlock gcb{};
        gcb.DisposalMode = DISPOSE_DO_NOT;
        gcb.DelayTime = delayCs;
        gcb.TransparentColor = NO_TRANSPARENT_COLOR;
        GifByteType ext[4];
        EGifGCBToExtension(&gcb, ext);
        ok = EGifPutExtension(gif, GRAPHICS_EXT_FUNC_CODE, 4, ext) == GIF_OK &&
             EGifPutImageDesc(gif, 0, 0, width, height, false, nullptr) == GIF_OK;
        for (int y = 0; ok && y < height; ++y) {
            for (int x = 0; x < width; ++x)
                // A thin moving grid line every 64 pixels over the frame colour.
                row[size_t(x)] = ((x + int(f) * 4) % 64 == 0) ? GifPixelType(255) : GifPixelType(f);
            ok = EGifPutLine(gif, row.data(), width) == GIF_OK;
        }
    }
    GifFreeMapObject(map);
    return EGifCloseFile(gif, &error) == GIF_OK && ok;
}

} // namespace bench_pictures
