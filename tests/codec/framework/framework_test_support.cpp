#include "framework_test_support.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>

#include <gif_lib.h>
#include <png.h>
#include <turbojpeg.h>

#define STB_IMAGE_IMPLEMENTATION
#define STBI_ONLY_PNG
#define STBI_ONLY_BMP
#define STBI_ONLY_GIF
#define STBI_ONLY_JPEG
#include <stb/stb_image.h>

#include "MdComponent.h"

namespace fwtest {

Image makeImage(int w, int h, int channels, uint32_t seed) {
    Image img{w, h, channels, std::vector<uint8_t>(size_t(w) * h * channels)};
    uint32_t r = seed * 2654435761u + 1;
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
            r = r * 1664525u + 1013904223u;
            const int noise = int((r >> 24) & 15) - 8;
            for (int c = 0; c < channels; ++c) {
                int v = (x * 255 / std::max(w - 1, 1) * (c + 1) + y * 255 / std::max(h - 1, 1) * (3 - c)) / 3;
                if (((x / 7) + (y / 5)) % 3 == 0) v = 255 - v;
                v += noise;
                if (c == 3) v = (x * 37 + y * 11) & 255;
                img.px[(size_t(y) * w + x) * channels + c] = uint8_t(std::clamp(v, 0, 255));
            }
        }
    }
    return img;
}

Image makeSmooth(int w, int h, uint32_t seed) {
    Image img{w, h, 3, std::vector<uint8_t>(size_t(w) * h * 3)};
    const double f = 0.015 + (seed % 5) * 0.002;
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            for (int c = 0; c < 3; ++c) {
                const double v = 128 + 100 * std::sin(f * x * (c + 1) + 0.012 * y * (3 - c) + seed);
                img.px[(size_t(y) * w + x) * 3 + c] = uint8_t(std::clamp(int(v), 0, 255));
            }
    return img;
}

namespace {

void le16(Bytes& b, uint32_t v) {
    b.push_back(uint8_t(v));
    b.push_back(uint8_t(v >> 8));
}
void le32(Bytes& b, uint32_t v) {
    le16(b, v & 0xFFFF);
    le16(b, v >> 16);
}

Bytes bmpHeader(int w, int h, int bits, uint32_t dataSize, int colors, uint32_t compression) {
    Bytes b{'B', 'M'};
    const uint32_t off = 14 + 40 + colors * 4;
    le32(b, off + dataSize);
    le32(b, 0);
    le32(b, off);
    le32(b, 40);
    le32(b, uint32_t(w));
    le32(b, uint32_t(h));
    le16(b, 1);
    le16(b, uint32_t(bits));
    le32(b, compression);
    le32(b, dataSize);
    le32(b, 2835);
    le32(b, 2835);
    le32(b, uint32_t(colors));
    le32(b, 0);
    return b;
}

uint8_t index332(const uint8_t* p) { return uint8_t((p[0] & 0xE0) | ((p[1] & 0xE0) >> 3) | (p[2] >> 6)); }
void color332(int i, uint8_t* rgb) {
    rgb[0] = uint8_t((i & 0xE0) * 255 / 0xE0);
    rgb[1] = uint8_t(((i >> 2) & 7) * 255 / 7);
    rgb[2] = uint8_t((i & 3) * 255 / 3);
}

} // namespace

Image quantised332(const Image& rgb) {
    Image q{rgb.width, rgb.height, 3, std::vector<uint8_t>(rgb.px.size())};
    for (int y = 0; y < rgb.height; ++y)
        for (int x = 0; x < rgb.width; ++x) color332(index332(rgb.at(x, y)), &q.px[(size_t(y) * rgb.width + x) * 3]);
    return q;
}

Image makeEdgePicture(int w, int h) {
    Image img{w, h, 3, std::vector<uint8_t>(size_t(w) * h * 3)};
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            uint8_t* p = &img.px[(size_t(y) * w + x) * 3];
            const bool col = x == w - 1, row = y == h - 1;
            const int wave = int(std::lround(12 * std::sin(x / 9.0) + 10 * std::cos(y / 7.0)));
            const int rgb[3] = {col && row ? 235 : col ? 225 : row ? 25 : 100 + wave,
                                col && row ? 215 : col ? 30 : row ? 45 : 150 + wave,
                                col && row ? 20 : col ? 25 : row ? 225 : 120 - wave};
            for (int c = 0; c < 3; ++c) p[c] = uint8_t(rgb[c]);
        }
    return img;
}

Bytes encodeBmp24(const Image& rgb) {
    const int pitch = (rgb.width * 3 + 3) & ~3;
    Bytes b = bmpHeader(rgb.width, rgb.height, 24, uint32_t(pitch * rgb.height), 0, 0);
    for (int y = rgb.height - 1; y >= 0; --y) {
        for (int x = 0; x < rgb.width; ++x) {
            const uint8_t* p = rgb.at(x, y);
            b.push_back(p[2]);
            b.push_back(p[1]);
            b.push_back(p[0]);
        }
        for (int k = rgb.width * 3; k < pitch; ++k) b.push_back(0);
    }
    return b;
}

Bytes encodeBmp8(const Image& rgb, bool rle8) {
    Bytes data;
    const int pitch = (rgb.width + 3) & ~3;
    for (int y = rgb.height - 1; y >= 0; --y) {
        if (!rle8) {
            for (int x = 0; x < rgb.width; ++x) data.push_back(index332(rgb.at(x, y)));
            for (int k = rgb.width; k < pitch; ++k) data.push_back(0);
        } else {
            for (int x = 0; x < rgb.width;) {
                const uint8_t v = index332(rgb.at(x, y));
                int n = 1;
                while (x + n < rgb.width && n < 255 && index332(rgb.at(x + n, y)) == v) ++n;
                data.push_back(uint8_t(n));
                data.push_back(v);
                x += n;
            }
            data.push_back(0);
            data.push_back(0);
        }
    }
    if (rle8) {
        data.push_back(0);
        data.push_back(1);
    }
    Bytes b = bmpHeader(rgb.width, rgb.height, 8, uint32_t(data.size()), 256, rle8 ? 1 : 0);
    for (int i = 0; i < 256; ++i) {
        uint8_t c[3];
        color332(i, c);
        b.push_back(c[2]);
        b.push_back(c[1]);
        b.push_back(c[0]);
        b.push_back(0);
    }
    b.insert(b.end(), data.begin(), data.end());
    return b;
}

namespace {
void pngWrite(png_structp p, png_bytep d, png_size_t n) {
    auto* out = static_cast<Bytes*>(png_get_io_ptr(p));
    out->insert(out->end(), d, d + n);
}
void pngFlush(png_structp) {}
} // namespace

Bytes encodePng(const Image& img, bool interlace) {
    Bytes out;
    png_structp p = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(p);
    png_set_write_fn(p, &out, pngWrite, pngFlush);
    const int type = img.channels == 1 ? PNG_COLOR_TYPE_GRAY
                     : img.channels == 3 ? PNG_COLOR_TYPE_RGB
                                         : PNG_COLOR_TYPE_RGBA;
    png_set_IHDR(p, info, uint32_t(img.width), uint32_t(img.height), 8, type,
                 interlace ? PNG_INTERLACE_ADAM7 : PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
                 PNG_FILTER_TYPE_DEFAULT);
    std::vector<png_bytep> rows(size_t(img.height));
    for (int y = 0; y < img.height; ++y)
        rows[size_t(y)] = const_cast<png_bytep>(&img.px[size_t(y) * img.width * img.channels]);
    png_set_rows(p, info, rows.data());
    png_write_png(p, info, PNG_TRANSFORM_IDENTITY, nullptr);
    png_destroy_write_struct(&p, &info);
    return out;
}

Bytes encodePngPalette(int w, int h, uint32_t seed) {
    Bytes out;
    png_structp p = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(p);
    png_set_write_fn(p, &out, pngWrite, pngFlush);
    png_set_IHDR(p, info, uint32_t(w), uint32_t(h), 8, PNG_COLOR_TYPE_PALETTE, PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_color pal[16];
    for (int i = 0; i < 16; ++i) pal[i] = {uint8_t(i * 16), uint8_t(255 - i * 16), uint8_t(i * 7)};
    png_set_PLTE(p, info, pal, 16);
    png_byte trans[1] = {0};
    png_set_tRNS(p, info, trans, 1, nullptr);
    std::vector<uint8_t> px(size_t(w) * h);
    uint32_t r = seed;
    for (auto& v : px) {
        r = r * 1664525u + 1013904223u;
        v = uint8_t((r >> 24) & 15);
    }
    std::vector<png_bytep> rows(static_cast<size_t>(h));
    for (int y = 0; y < h; ++y) rows[size_t(y)] = &px[size_t(y) * w];
    png_set_rows(p, info, rows.data());
    png_write_png(p, info, PNG_TRANSFORM_IDENTITY, nullptr);
    png_destroy_write_struct(&p, &info);
    return out;
}

namespace {
int gifWrite(GifFileType* g, const GifByteType* d, int n) {
    auto* out = static_cast<Bytes*>(g->UserData);
    out->insert(out->end(), d, d + n);
    return n;
}
} // namespace

Bytes encodeGif(const Image& rgb, int frames, int transparent, int loop) {
    Bytes out;
    int err = 0;
    GifFileType* g = EGifOpen(&out, gifWrite, &err);
    EGifSetGifVersion(g, true);
    GifColorType colors[256];
    for (int i = 0; i < 256; ++i) {
        uint8_t c[3];
        color332(i, c);
        colors[i] = {c[0], c[1], c[2]};
    }
    ColorMapObject* map = GifMakeMapObject(256, colors);
    EGifPutScreenDesc(g, rgb.width, rgb.height, 8, 0, map);
    if (loop >= 0) {
        EGifPutExtensionLeader(g, APPLICATION_EXT_FUNC_CODE);
        EGifPutExtensionBlock(g, 11, "NETSCAPE2.0");
        uint8_t block[3] = {1, uint8_t(loop), uint8_t(loop >> 8)};
        EGifPutExtensionBlock(g, 3, block);
        EGifPutExtensionTrailer(g);
    }
    for (int f = 0; f < frames; ++f) {
        if (transparent >= 0) {
            uint8_t gce[4] = {1, 10, 0, uint8_t(transparent)};
            EGifPutExtension(g, GRAPHICS_EXT_FUNC_CODE, 4, gce);
        }
        EGifPutImageDesc(g, 0, 0, rgb.width, rgb.height, false, nullptr);
        std::vector<GifPixelType> line(size_t(rgb.width));
        for (int y = 0; y < rgb.height; ++y) {
            for (int x = 0; x < rgb.width; ++x) line[size_t(x)] = index332(rgb.at(x, y));
            EGifPutLine(g, line.data(), rgb.width);
        }
    }
    GifFreeMapObject(map);
    EGifCloseFile(g, &err);
    return out;
}

Bytes encodeJpeg(const Image& img, int subsamp, int quality) {
    tjhandle t = tjInitCompress();
    unsigned char* buf = nullptr;
    unsigned long size = 0;
    const int ss = subsamp == 0   ? TJSAMP_444
                   : subsamp == 1 ? TJSAMP_422
                   : subsamp == 2 ? TJSAMP_420
                   : subsamp == 4 ? TJSAMP_440
                   : subsamp == 5 ? TJSAMP_411
                                  : TJSAMP_GRAY;
    const int pf = img.channels == 1 ? TJPF_GRAY : TJPF_RGB;
    tjCompress2(t, img.px.data(), img.width, 0, img.height, pf, &buf, &size, ss, quality, TJFLAG_ACCURATEDCT);
    Bytes out(buf, buf + size);
    tjFree(buf);
    tjDestroy(t);
    return out;
}

Image referenceRgba(const Bytes& file) {
    int w = 0, h = 0, n = 0;
    stbi_uc* p = stbi_load_from_memory(file.data(), int(file.size()), &w, &h, &n, 4);
    Image img{w, h, 4, {}};
    if (p) img.px.assign(p, p + size_t(w) * h * 4);
    stbi_image_free(p);
    return img;
}

namespace {

// Reads the header of a JPEG into an open decompressor: the size at 1 / denom (each side rounded
// up) and the sampling; false when the header cannot be read.
bool scaledHeader(tjhandle t, const Bytes& file, int denom, int* w, int* h, int* sub) {
    int cs = 0;
    if (tjDecompressHeader3(t, file.data(), (unsigned long)file.size(), w, h, sub, &cs) != 0) return false;
    *w = (*w + denom - 1) / denom;
    *h = (*h + denom - 1) / denom;
    return true;
}

} // namespace

Image referenceJpegRgba(const Bytes& file, int denom) {
    tjhandle t = tjInitDecompress();
    int w = 0, h = 0, sub = 0;
    Image img;
    if (scaledHeader(t, file, denom, &w, &h, &sub)) {
        img = Image{w, h, 4, std::vector<uint8_t>(size_t(w) * h * 4)};
        if (tjDecompress2(t, file.data(), (unsigned long)file.size(), img.px.data(), w, 0, h, TJPF_RGBA,
                          TJFLAG_ACCURATEDCT | TJFLAG_FASTUPSAMPLE) != 0)
            img = Image{};
    }
    tjDestroy(t);
    return img;
}

namespace {

// Each sample at 1 / denom: the mean of the full-size samples of the picture in its area (a
// sample that the picture's edge cuts averages only the picture, not the encoder's padding).
Planes boxed(const Planes& full, int W, int H, int denom, int sub) {
    Planes out;
    const int w = (W + denom - 1) / denom, h = (H + denom - 1) / denom;
    for (int k = 0; k < 3; ++k) {
        out.width[k] = tjPlaneWidth(k, w, sub);
        out.height[k] = tjPlaneHeight(k, h, sub);
        if (out.width[k] < 1 || full.width[k] < 1) continue;
        const int hf = full.width[0] / full.width[k], vf = full.height[0] / full.height[k];
        const int ownW = (W + hf - 1) / hf, ownH = (H + vf - 1) / vf; // the picture's samples
        out.plane[k].resize(size_t(out.width[k]) * out.height[k]);
        for (int y = 0; y < out.height[k]; ++y)
            for (int x = 0; x < out.width[k]; ++x) {
                const int x0 = std::min(x * denom, ownW - 1), y0 = std::min(y * denom, ownH - 1);
                const int x1 = std::max(std::min(x * denom + denom, ownW), x0 + 1);
                const int y1 = std::max(std::min(y * denom + denom, ownH), y0 + 1);
                int sum = 0, n = 0;
                for (int yy = y0; yy < y1; ++yy)
                    for (int xx = x0; xx < x1; ++xx) {
                        sum += full.at(k, xx, yy);
                        ++n;
                    }
                out.plane[k][size_t(y) * out.width[k] + x] = uint8_t((sum + n / 2) / n);
            }
    }
    return out;
}

} // namespace

Planes referenceJpegPlanes(const Bytes& file, int denom, bool chromaAtLuma) {
    tjhandle t = tjInitDecompress();
    int w = 0, h = 0, sub = 0;
    Planes out;
    if (denom > 1) {
        if (tjDecompressHeader2(t, const_cast<uint8_t*>(file.data()), (unsigned long)file.size(), &w, &h, &sub) == 0) {
            Planes full = referenceJpegPlanes(file, 1);
            if (chromaAtLuma && full.width[1] > 0) {
                // Each chroma sample repeated over the pixels it covers.
                const int hf = full.width[0] / full.width[1], vf = full.height[0] / full.height[1];
                for (int k = 1; k < 3; ++k) {
                    std::vector<uint8_t> wide(full.plane[0].size());
                    for (int y = 0; y < full.height[0]; ++y)
                        for (int x = 0; x < full.width[0]; ++x)
                            wide[size_t(y) * full.width[0] + x] = full.at(k, x / hf, y / vf);
                    full.plane[k] = std::move(wide);
                    full.width[k] = full.width[0];
                    full.height[k] = full.height[0];
                }
                sub = TJSAMP_444;
            }
            out = boxed(full, w, h, denom, sub);
        }
        tjDestroy(t);
        return out;
    }
    if (scaledHeader(t, file, denom, &w, &h, &sub)) {
        unsigned char* dst[3] = {};
        int strides[3] = {};
        for (int k = 0; k < 3; ++k) {
            out.width[k] = tjPlaneWidth(k, w, sub);
            out.height[k] = tjPlaneHeight(k, h, sub);
            if (out.width[k] < 1) continue;
            out.plane[k].resize(size_t(out.width[k]) * out.height[k]);
            dst[k] = out.plane[k].data();
            strides[k] = out.width[k];
        }
        if (tjDecompressToYUVPlanes(t, file.data(), (unsigned long)file.size(), dst, w, strides, h,
                                    TJFLAG_ACCURATEDCT) != 0)
            out = Planes{};
    }
    tjDestroy(t);
    return out;
}

Image rgbaFromPlanes(const Planes& p, int w, int h) {
    Image img{w, h, 4, std::vector<uint8_t>(size_t(w) * h * 4, 255)};
    const bool grey = p.width[1] < 1;
    const int hf = grey ? 1 : p.width[0] / p.width[1], vf = grey ? 1 : p.height[0] / p.height[1];
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const double luma = p.at(0, x, y);
            const double cb = grey ? 0 : p.at(1, x / hf, y / vf) - 128.0, cr = grey ? 0 : p.at(2, x / hf, y / vf) - 128.0;
            const double rgb[3] = {luma + 1.402 * cr, luma - 0.344136 * cb - 0.714136 * cr, luma + 1.772 * cb};
            for (int c = 0; c < 3; ++c)
                img.px[(size_t(y) * w + x) * 4 + c] = uint8_t(std::clamp(int(std::lround(rgb[c])), 0, 255));
        }
    return img;
}

Manager::Manager() {
    AMCM_Create(nullptr, &h);
    MdRegisterDecoderComponents(h);
}
Manager::~Manager() { AMCM_Destroy(h); }

Stream::Stream(const Bytes& b) { s = MStreamOpenFromMemoryBlock(const_cast<uint8_t*>(b.data()), int64_t(b.size())); }
Stream::~Stream() {
    if (s) MStreamClose(s);
}

MResult decodeLines(AMCMHandle m, const Bytes& file, uint64_t oldColor, int bpp, Image* out, int64_t type) {
    Stream st(file);
    MHandle codec = nullptr;
    MResult r = MCodec_CreateDecoderEx(m, st.s, type, nullptr, nullptr, 0, &codec);
    if (r != MOK) return r;
    int64_t wh[2] = {};
    r = MCodec_GetProp(codec, 2, wh, 16);
    if (r == MOK) r = MCodec_SetProp(codec, 3, &oldColor, 8);
    if (r == MOK) {
        *out = Image{int(wh[0]), int(wh[1]), bpp, std::vector<uint8_t>(size_t(wh[0]) * wh[1] * bpp, 0xCD)};
        MByte* planes[3] = {out->px.data(), nullptr, nullptr};
        MInt64 pitches[3] = {wh[0] * bpp, 0, 0};
        MInt64 first = 0, count = wh[1];
        r = MCodec_DecodeScanlines(codec, planes, pitches, &first, &count);
        if (r == MOK && count != wh[1]) r = 1;
    }
    MCodec_Destroy(codec);
    return r;
}

Diff compareRgb(const Image& a, const Image& b) {
    Diff d;
    if (a.width != b.width || a.height != b.height) {
        d.max = 999;
        return d;
    }
    const int ch = std::min(std::min(a.channels, b.channels), 3);
    double sum = 0;
    for (int y = 0; y < a.height; ++y)
        for (int x = 0; x < a.width; ++x)
            for (int c = 0; c < ch; ++c) {
                const int e = std::abs(int(a.at(x, y)[c]) - int(b.at(x, y)[c]));
                sum += e;
                d.max = std::max(d.max, e);
            }
    d.mean = sum / (double(a.width) * a.height * ch);
    return d;
}

} // namespace fwtest
