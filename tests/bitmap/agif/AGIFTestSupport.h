// Animated GIFs for the tests: written by giflib from a description, composited by a reference
// model over giflib's own decode (frames clipped to the screen, disposal 2 clears the frame's
// area to transparent black, disposal 3 restores the canvas from before the frame).
#pragma once

#include <gif_lib.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <random>
#include <vector>

#include "AMCM.h"
#include "MRuntime.h"
#include "MStream.h"
#include "MdComponent.h"

namespace agiftest {

using Bytes = std::vector<uint8_t>;

struct Frame {
    int left = 0, top = 0, width = 0, height = 0;
    int disposal = 0;
    int transparent = -1;     // index, or -1
    bool localPalette = false;
    bool interlace = false;
    int delay = 10;
    std::vector<uint8_t> idx; // width * height
    std::vector<uint8_t> rgb; // local palette, 3 * 256 when localPalette
};

struct Animation {
    int width = 0, height = 0;
    int loop = -1;            // -1: no loop extension
    bool globalPalette = true;
    std::vector<uint8_t> global; // 3 * 256
    std::vector<Frame> frames;
};

inline std::vector<uint8_t> randomPalette(uint32_t seed) {
    std::mt19937 rng(seed);
    std::vector<uint8_t> p(768);
    for (auto& b : p) b = uint8_t(rng());
    return p;
}

inline Frame randomFrame(int left, int top, int w, int h, uint32_t seed, int colours = 256) {
    std::mt19937 rng(seed);
    Frame f;
    f.left = left, f.top = top, f.width = w, f.height = h;
    f.idx.resize(size_t(w) * h);
    for (auto& b : f.idx) b = uint8_t(rng() % unsigned(colours));
    return f;
}

struct Sink {
    Bytes out;
};
inline int writeSink(GifFileType* g, const GifByteType* b, int n) {
    auto* s = static_cast<Sink*>(g->UserData);
    s->out.insert(s->out.end(), b, b + n);
    return n;
}

inline ColorMapObject* makeMap(const std::vector<uint8_t>& rgb) {
    std::vector<GifColorType> c(256);
    for (int i = 0; i < 256; ++i) c[size_t(i)] = {rgb[size_t(3 * i)], rgb[size_t(3 * i + 1)], rgb[size_t(3 * i + 2)]};
    return GifMakeMapObject(256, c.data());
}

inline Bytes writeGif(const Animation& a) {
    Sink sink;
    int err = 0;
    GifFileType* g = EGifOpen(&sink, writeSink, &err);
    if (!g) return {};
    EGifSetGifVersion(g, true);
    ColorMapObject* gm = a.globalPalette ? makeMap(a.global) : nullptr;
    EGifPutScreenDesc(g, a.width, a.height, 8, 0, gm);
    if (gm) GifFreeMapObject(gm);
    if (a.loop >= 0) {
        const uint8_t app[] = {'N', 'E', 'T', 'S', 'C', 'A', 'P', 'E', '2', '.', '0'};
        const uint8_t sub[] = {1, uint8_t(a.loop & 0xFF), uint8_t(a.loop >> 8)};
        EGifPutExtensionLeader(g, APPLICATION_EXT_FUNC_CODE);
        EGifPutExtensionBlock(g, sizeof app, app);
        EGifPutExtensionBlock(g, sizeof sub, sub);
        EGifPutExtensionTrailer(g);
    }
    for (const Frame& f : a.frames) {
        GraphicsControlBlock gcb{};
        gcb.DisposalMode = f.disposal;
        gcb.DelayTime = f.delay;
        gcb.TransparentColor = f.transparent;
        GifByteType ext[4];
        const size_t n = EGifGCBToExtension(&gcb, ext);
        EGifPutExtension(g, GRAPHICS_EXT_FUNC_CODE, int(n), ext);
        ColorMapObject* lm = f.localPalette ? makeMap(f.rgb) : nullptr;
        // giflib drops its copy of the previous local table unfreed when the next frame has none.
        if (g->Image.ColorMap) {
            GifFreeMapObject(g->Image.ColorMap);
            g->Image.ColorMap = nullptr;
        }
        EGifPutImageDesc(g, f.left, f.top, f.width, f.height, f.interlace, lm);
        if (lm) GifFreeMapObject(lm);
        std::vector<int> order;
        if (f.interlace) {
            const int starts[] = {0, 4, 2, 1}, steps[] = {8, 8, 4, 2};
            for (int p = 0; p < 4; ++p)
                for (int y = starts[p]; y < f.height; y += steps[p]) order.push_back(y);
        } else {
            for (int y = 0; y < f.height; ++y) order.push_back(y);
        }
        for (int y : order) EGifPutLine(g, const_cast<GifPixelType*>(&f.idx[size_t(y) * f.width]), f.width);
    }
    EGifCloseFile(g, &err);
    return sink.out;
}

struct Source {
    const Bytes* data;
    size_t pos = 0;
};
inline int readSource(GifFileType* g, GifByteType* b, int n) {
    auto* s = static_cast<Source*>(g->UserData);
    const size_t k = std::min(size_t(n), s->data->size() - s->pos);
    std::memcpy(b, s->data->data() + s->pos, k);
    s->pos += k;
    return int(k);
}

// RGBA canvases after each frame, by giflib's decode of the file.
inline std::vector<std::vector<uint8_t>> referenceFrames(const Bytes& file) {
    Source src{&file};
    int err = 0;
    GifFileType* g = DGifOpen(&src, readSource, &err);
    std::vector<std::vector<uint8_t>> out;
    if (!g) return out;
    if (DGifSlurp(g) != GIF_OK) {
        DGifCloseFile(g, &err);
        return out;
    }
    const int W = g->SWidth, H = g->SHeight;
    std::vector<uint8_t> canvas(size_t(W) * H * 4, 0), saved;
    int prevDisposal = 0, pl = 0, pt = 0, pr = 0, pb = 0;
    for (int i = 0; i < g->ImageCount; ++i) {
        const SavedImage& im = g->SavedImages[i];
        GraphicsControlBlock gcb{};
        gcb.TransparentColor = -1;
        DGifSavedExtensionToGCB(g, i, &gcb);
        if (i > 0 && prevDisposal == 2) {
            for (int y = pt; y < pb; ++y)
                std::fill(canvas.begin() + (size_t(y) * W + pl) * 4, canvas.begin() + (size_t(y) * W + pr) * 4, 0);
        } else if (i > 0 && prevDisposal == 3) {
            canvas = saved;
        }
        if (gcb.DisposalMode == 3) saved = canvas;
        const GifImageDesc& d = im.ImageDesc;
        const ColorMapObject* map = d.ColorMap ? d.ColorMap : g->SColorMap;
        const int x0 = std::max(0, d.Left), y0 = std::max(0, d.Top);
        const int x1 = std::min(W, d.Left + d.Width), y1 = std::min(H, d.Top + d.Height);
        for (int y = y0; y < y1; ++y)
            for (int x = x0; x < x1; ++x) {
                const int c = im.RasterBits[size_t(y - d.Top) * d.Width + (x - d.Left)];
                if (c == gcb.TransparentColor) continue;
                uint8_t* p = &canvas[(size_t(y) * W + x) * 4];
                if (map && c < map->ColorCount) {
                    p[0] = map->Colors[c].Red, p[1] = map->Colors[c].Green, p[2] = map->Colors[c].Blue;
                } else {
                    p[0] = p[1] = p[2] = 0;
                }
                p[3] = 255;
            }
        prevDisposal = gcb.DisposalMode;
        pl = x0, pt = y0, pr = std::max(x0, x1), pb = std::max(y0, y1);
        out.push_back(canvas);
    }
    DGifCloseFile(g, &err);
    return out;
}

struct Manager {
    AMCMHandle h = nullptr;
    Manager() {
        AMCM_Create(nullptr, &h);
        MdRegisterDecoderComponents(h);
    }
    ~Manager() { AMCM_Destroy(h); }
};

struct Stream {
    MSTREAM s = nullptr;
    explicit Stream(const Bytes& b) { s = MStreamOpenFromMemoryBlock(const_cast<uint8_t*>(b.data()), MInt64(b.size())); }
    ~Stream() {
        if (s) MStreamClose(s);
    }
};

} // namespace agiftest
