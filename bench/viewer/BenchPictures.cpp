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

bool writePhotoJpeg(const std::string &path, int width, int height, Rgb colour, unsigned seed)
{
    const std::vector<unsigned char> rgb = photoPixels(width, height, colour, seed);
    tjhandle tj = tjInitCompress();
    if (!tj)
        return false;
    unsigned char *out = nullptr;
    unsigned long size = 0;
    const bool ok = tjCompress2(tj, rgb.data(), width, 0, height, TJPF_RGB, &out, &size, TJSAMP_420, 90, 0) == 0 &&
                    writeAll(path, out, size);
    tjFree(out);
    tjDestroy(tj);
    return ok;
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
