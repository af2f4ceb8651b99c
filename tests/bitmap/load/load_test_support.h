// Helpers of the bitmap load and save tests: bitmaps that free themselves, bitmap rows as test
// images, and GIF files whose frame is placed inside a larger canvas.
#pragma once

#include <gif_lib.h>
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "MdBitmap.h"
#include "MdBitmapLoad.h"
#include "framework_test_support.h"

namespace loadtest {

using fwtest::Bytes;
using fwtest::Image;

// A bitmap record; planes made by MdBitmapAlloc are freed with it.
struct Bitmap {
    MBITMAP b{};
    Bitmap(uint64_t color, int64_t w, int64_t h) {
        b.dwPixelArrayFormat = color;
        b.lWidth = w;
        b.lHeight = h;
    }
    ~Bitmap() {
        if (b.pPlane[0]) MdBitmapFree(&b);
    }
    Bitmap(const Bitmap&) = delete;
    Bitmap& operator=(const Bitmap&) = delete;
};

// Plane 0 of a packed bitmap as an image of `channels` bytes per pixel.
inline Image toImage(const MBITMAP& b, int channels) {
    Image img{int(b.lWidth), int(b.lHeight), channels, std::vector<uint8_t>(size_t(b.lWidth * b.lHeight * channels))};
    for (int64_t y = 0; y < b.lHeight; ++y)
        std::memcpy(&img.px[size_t(y * b.lWidth * channels)], b.pPlane[0] + y * b.lPitch[0],
                    size_t(b.lWidth * channels));
    return img;
}

// The bitmap's pixels copied from an RGBA image (memory order R, G, B, A).
inline void fromRgba(MBITMAP* b, const Image& rgba) {
    for (int64_t y = 0; y < b->lHeight; ++y)
        std::memcpy(b->pPlane[0] + y * b->lPitch[0], rgba.at(0, int(y)), size_t(b->lWidth * 4));
}

// The two load roads of a file into a bitmap: the image decoder wrapper and the codec's zoom
// path.
enum class Road { Wrapper, Codec };

inline const char* name(Road r) { return r == Road::Wrapper ? "wrapper" : "codec"; }

// A JPEG loaded into a w x h RGBA bitmap through one road; an empty image when the load fails.
inline Image loadRgba(Road road, const Bytes& jpg, int64_t w, int64_t h) {
    fwtest::Manager m;
    fwtest::Stream st(jpg);
    Bitmap b(0x37001777, w, h);
    const MResult r = road == Road::Wrapper ? MdUtilsLoad(m.h, st.s, 2, &b.b)
                                            : MdBitmapLoadWithAlphaTrans(m.h, st.s, 2, &b.b, 255);
    EXPECT_EQ(r, MOK) << name(road) << " " << w << "x" << h;
    if (r != MOK) return Image{};
    return toImage(b.b, 4);
}

namespace detail {
inline int gifWrite(GifFileType* g, const GifByteType* d, int n) {
    static_cast<Bytes*>(g->UserData)->insert(static_cast<Bytes*>(g->UserData)->end(), d, d + n);
    return n;
}
} // namespace detail

// One frame of w x h index pixels (index = (x + 3y) % 16, grey levels 16 * index) at (left, top)
// on a screen of sw x sh; `transparent` >= 0 adds a graphic control extension.
inline Bytes encodeGifFrame(int sw, int sh, int left, int top, int w, int h, bool interlace, int transparent = -1,
                            int frames = 1) {
    Bytes out;
    int err = 0;
    GifFileType* g = EGifOpen(&out, detail::gifWrite, &err);
    EGifSetGifVersion(g, true);
    GifColorType colors[16];
    for (int i = 0; i < 16; ++i) colors[i] = {uint8_t(i * 16), uint8_t(i * 16), uint8_t(i * 16)};
    ColorMapObject* map = GifMakeMapObject(16, colors);
    EGifPutScreenDesc(g, sw, sh, 4, 0, map);
    for (int f = 0; f < frames; ++f) {
        if (transparent >= 0) {
            uint8_t gce[4] = {1, 10, 0, uint8_t(transparent)};
            EGifPutExtension(g, GRAPHICS_EXT_FUNC_CODE, 4, gce);
        }
        EGifPutImageDesc(g, left, top, w, h, interlace, nullptr);
        std::vector<GifPixelType> line(static_cast<size_t>(w));
        // An interlaced frame is written in pass order.
        std::vector<int> order;
        if (interlace) {
            for (int y = 0; y < h; y += 8) order.push_back(y);
            for (int y = 4; y < h; y += 8) order.push_back(y);
            for (int y = 2; y < h; y += 4) order.push_back(y);
            for (int y = 1; y < h; y += 2) order.push_back(y);
        } else {
            for (int y = 0; y < h; ++y) order.push_back(y);
        }
        for (int y : order) {
            for (int x = 0; x < w; ++x) line[size_t(x)] = GifPixelType((x + 3 * y) % 16);
            EGifPutLine(g, line.data(), w);
        }
    }
    GifFreeMapObject(map);
    EGifCloseFile(g, &err);
    return out;
}

inline uint8_t gifGrey(int x, int y) { return uint8_t(((x + 3 * y) % 16) * 16); }

} // namespace loadtest
