// Display GIF decoder: the GIF component driven through its operation table, frames reduced by
// integer column and row maps, merged into a display buffer and copied out to the caller.
#include "MUtilsGIFDec.h"

#include <algorithm>
#include <cstring>

#include "GifDecoder.h"
#include "MMemory.h"
#include "MdColorID.h"
#include "MdComponent.h"

struct GIFDecRecord {
    AMCMHandle hAMCM;
    MHandle hMem;
    MHandle hComp;
    MSTREAM stream;
    MInt64 lLoop;
    MByte* pGlobalPal;        // 256 entries: blue, green, red, unused
    MInt64 lNextFrame;
    MInt64 lDelay;            // milliseconds
    MInt64 lLoopsDone;
    MInt64 lPrevDisposal;
    MInt64 prevRect[4];       // x, y, width, height
    MInt64 lWidth, lHeight, lPitch, lBytesPerPixel;
    MInt64 bBlueFirst, b16Bit;
    MByte* pDisplay;
    MByte* pBackground;       // the caller's bitmap at set-up
    MByte* pSaved;
    MUInt64 dwOldColor;
    MInt64 bSetUp;
    MInt64 bScaled;
    MInt64 lScreenW, lScreenH;
    MInt64* pColMap;
    MInt64* pRowMap;
    MInt64 area[4];           // x, y, width, height of the current frame on the display
    MInt64 lAreaPitch;
    MByte* pAreaImage;
    MByte* pFramePal;
    MInt64* pRowTable;        // per frame row: the area row it fills, or -1
    MByte byTransIndex;
};

namespace {

constexpr MInt64 kDisposalBackground = 2; // GIF89a 23
constexpr MInt64 kDisposalPrevious = 3;

template <class T> T* alloc(GIFDecRecord* d, MInt64 count) {
    if (count < 1 || MUInt64(count) > SIZE_MAX / sizeof(T)) return nullptr;
    return static_cast<T*>(MMemAlloc(d->hMem, size_t(count) * sizeof(T)));
}
template <class T> void release(GIFDecRecord* d, T*& p) {
    if (p) MMemFree(d->hMem, p);
    p = nullptr;
}

const MDecComponentFuncs* ops(GIFDecRecord* d) { return MDEC_FUNCS(d->hComp); }
MResult getProp(GIFDecRecord* d, MInt64 id, MVoid* v, MInt64 n) { return ops(d)->s_GetProp(d->hComp, id, v, n); }
MResult setProp(GIFDecRecord* d, MInt64 id, MVoid* v, MInt64 n) { return ops(d)->s_SetProp(d->hComp, id, v, n); }

MResult readPalette(GIFDecRecord* d, MByte* pal, MInt64 minSize) {
    MInt64 size = 0;
    MResult r = getProp(d, MDEC_PROP_PALETTE_SIZE, &size, 8);
    if (r != MOK) return r;
    if (size < minSize || size > 1024) return MERR_UNSUPPORTED;
    if (size == 0) return MOK;
    return getProp(d, MDEC_PROP_PALETTE, pal, size);
}

MResult screenInfo(GIFDecRecord* d, GIFGlobalInfo* g) {
    *g = {};
    return getProp(d, MDEC_PROP_GIF_GLOBAL, g, sizeof *g);
}

void writePixel(const GIFDecRecord* d, MByte* p, const MByte* e) {
    const MByte b = e[0], g = e[1], r = e[2];
    if (!d->b16Bit) {
        if (d->bBlueFirst) p[0] = b, p[1] = g, p[2] = r;
        else p[0] = r, p[1] = g, p[2] = b;
        return;
    }
    const MByte hi = d->bBlueFirst ? b : r, lo = d->bBlueFirst ? r : b;
    const MWord v = MWord(((hi >> 3) << 11) | ((g >> 2) << 5) | (lo >> 3));
    p[0] = MByte(v & 0xFF);
    p[1] = MByte(v >> 8);
}

MResult setUp(GIFDecRecord* d, const MBITMAP* bmp) {
    MInt64 w = bmp->lWidth, h = bmp->lHeight;
    if (w == 0 || h == 0) {
        MInt64 wh[2] = {};
        MResult r = getProp(d, MDEC_PROP_IMAGE_SIZE, wh, 16);
        if (r != MOK) return r;
        w = wh[0], h = wh[1];
    }
    const MUInt64 old = MdUtilsNewColorID2Old(bmp->dwPixelArrayFormat);
    if (old != 1 && old != 2 && old != 5 && old != 6) return MERR_UNSUPPORTED;
    GIFGlobalInfo g;
    MResult r = screenInfo(d, &g);
    if (r != MOK) return r;
    const MInt64 W = g.wWidth, H = g.wHeight;
    if (W < 1 || H < 1 || w < 1 || h < 1 || w > (MInt64(1) << 28) / h) return MERR_UNSUPPORTED;
    if (w != bmp->lWidth || h != bmp->lHeight) return MERR_UNSUPPORTED;
    const MInt64 bpp = MInt64(MdUtilsGetColorDepth(old));
    d->dwOldColor = old;
    d->lBytesPerPixel = bpp / 8;
    d->b16Bit = bpp == 16;
    d->bBlueFirst = old == 2 || old == 6;
    if (bmp->lPitch[0] < w * d->lBytesPerPixel || !bmp->pPlane[0]) return MERR_INVALID_PARAM;
    d->lWidth = w, d->lHeight = h;
    d->lScreenW = W, d->lScreenH = H;
    d->bScaled = !(w >= W && h >= H);
    if (d->bScaled) {
        // 1/1024 steps per direction; the aspect ratio is the caller's business.
        const MInt64 sx = std::max<MInt64>(w * 1024 / W, 1), sy = std::max<MInt64>(h * 1024 / H, 1);
        d->pColMap = alloc<MInt64>(d, w);
        d->pRowMap = alloc<MInt64>(d, h);
        if (!d->pColMap || !d->pRowMap) return MERR_NO_MEMORY;
        // Rounding of the factors can point the last columns past the screen: keep them on it.
        for (MInt64 i = 0; i < w; ++i) d->pColMap[i] = std::min(i * 1024 / sx, W - 1);
        for (MInt64 j = 0; j < h; ++j) d->pRowMap[j] = std::min(j * 1024 / sy, H - 1);
    }
    d->lPitch = ((w * bpp + 31) / 32) * 4;
    d->pDisplay = alloc<MByte>(d, d->lPitch * h);
    d->pBackground = alloc<MByte>(d, d->lPitch * h);
    if (!d->pDisplay || !d->pBackground) return MERR_NO_MEMORY;
    for (MInt64 y = 0; y < h; ++y)
        std::memcpy(d->pDisplay + y * d->lPitch, bmp->pPlane[0] + y * bmp->lPitch[0], size_t(w * d->lBytesPerPixel));
    std::memcpy(d->pBackground, d->pDisplay, size_t(d->lPitch * h));
    release(d, d->pSaved);
    std::fill(d->area, d->area + 4, 0);
    d->pAreaImage = alloc<MByte>(d, ((w + 3) / 4 * 4) * h);
    d->pFramePal = alloc<MByte>(d, 1024);
    d->pRowTable = alloc<MInt64>(d, H);
    if (!d->pAreaImage || !d->pFramePal || !d->pRowTable) {
        release(d, d->pAreaImage);
        release(d, d->pFramePal);
        release(d, d->pRowTable);
        return MERR_NO_MEMORY;
    }
    d->prevRect[0] = d->prevRect[1] = 0;
    d->prevRect[2] = w, d->prevRect[3] = h;
    d->bSetUp = 1;
    return MOK;
}

// The run of display positions whose map entries fall in [first, first + count): start and
// length; length 0 when none does.
void mappedRun(const MInt64* map, MInt64 n, MInt64 first, MInt64 count, MInt64* start, MInt64* len) {
    MInt64 i = 0;
    while (i < n && map[i] < first) ++i;
    MInt64 e = i;
    while (e < n && map[e] <= first + count - 1) ++e;
    *start = i;
    *len = e - i;
}

// Frame area on the display, its palette and its indexes at display resolution.
MResult loadFrame(GIFDecRecord* d, const GIFFrameInfo& fi) {
    const MInt64 left = fi.wLeft, top = fi.wTop, fw = fi.wWidth, fh = fi.wHeight;
    if (!d->bScaled) {
        d->area[0] = left, d->area[1] = top;
        d->area[2] = std::max<MInt64>(0, std::min(d->lScreenW - left, fw));
        d->area[3] = std::max<MInt64>(0, std::min(d->lScreenH - top, fh));
    } else {
        std::fill(d->pRowTable, d->pRowTable + d->lScreenH, -1);
        mappedRun(d->pColMap, d->lWidth, left, fw, &d->area[0], &d->area[2]);
        mappedRun(d->pRowMap, d->lHeight, top, fh, &d->area[1], &d->area[3]);
        if (d->area[2] == 0 || d->area[3] == 0) d->area[2] = d->area[3] = 0;
        for (MInt64 j = 0; j < d->area[3]; ++j) {
            const MInt64 src = d->pRowMap[d->area[1] + j] - top;
            if (src >= 0 && src < d->lScreenH) d->pRowTable[src] = j;
        }
    }
    d->lAreaPitch = ((d->area[2] * 8 + 31) / 32) * 4;
    if (fi.dwLocalTable) {
        std::memset(d->pFramePal, 0, 1024);
        MResult r = readPalette(d, d->pFramePal, 0);
        if (r != MOK) return r;
    } else {
        std::memcpy(d->pFramePal, d->pGlobalPal, 1024);
    }
    d->byTransIndex = fi.byTransIndex;
    if (d->area[2] == 0) return MOK; // nothing of the frame shows
    const MInt64 lineSize = (fw + 3) / 4 * 4;
    MByte* line = alloc<MByte>(d, std::max<MInt64>(lineSize, 4));
    if (!line) return MERR_NO_MEMORY;
    MResult r = MOK;
    for (MInt64 k = 0; k < fh && r == MOK; ++k) {
        MByte* planes[3] = {line, nullptr, nullptr};
        MInt64 pitches[3] = {lineSize, 0, 0}, row = -1, count = 1;
        r = ops(d)->s_DecScanlines(d->hComp, planes, pitches, &row, &count);
        if (r != MOK || count < 1 || row < 0 || row >= fh) continue;
        if (!d->bScaled) {
            if (row < d->area[3]) std::memcpy(d->pAreaImage + row * d->lAreaPitch, line, size_t(d->area[2]));
        } else if (d->pRowTable[row] >= 0) {
            const MInt64 j = d->pRowTable[row];
            MByte* dst = d->pAreaImage + j * d->lAreaPitch;
            for (MInt64 x = 0; x < d->area[2]; ++x) dst[x] = line[d->pColMap[d->area[0] + x] - left];
            // When rows are enlarged several display rows show this source row: the table names
            // the last of them, the ones above it get the same pixels.
            for (MInt64 k = j - 1; k >= 0 && d->pRowMap[d->area[1] + k] == d->pRowMap[d->area[1] + j]; --k)
                std::memcpy(d->pAreaImage + k * d->lAreaPitch, dst, size_t(d->area[2]));
        }
    }
    release(d, line);
    return r;
}

void render(GIFDecRecord* d, const GIFFrameInfo& fi) {
    const size_t bytes = size_t(d->lPitch * d->lHeight);
    if (d->lPrevDisposal == kDisposalPrevious && d->pSaved) {
        std::memcpy(d->pDisplay, d->pSaved, bytes);
    } else if (d->lPrevDisposal == kDisposalBackground) {
        const MInt64 x = d->prevRect[0], y = d->prevRect[1], w = d->prevRect[2], h = d->prevRect[3];
        if (w > 0 && h > 0 && x >= 0 && y >= 0 && x + w <= d->lWidth && y + h <= d->lHeight)
            for (MInt64 r = y; r < y + h; ++r)
                std::memcpy(d->pDisplay + r * d->lPitch + x * d->lBytesPerPixel,
                            d->pBackground + r * d->lPitch + x * d->lBytesPerPixel, size_t(w * d->lBytesPerPixel));
    }
    if (MInt64(fi.dwDisposal) == kDisposalPrevious) {
        if (!d->pSaved) {
            d->pSaved = alloc<MByte>(d, d->lPitch * d->lHeight);
            if (d->pSaved) std::memcpy(d->pSaved, d->pDisplay, bytes);
        }
    } else {
        release(d, d->pSaved);
    }
    const bool trans = fi.dwTransparent != 0;
    for (MInt64 y = 0; y < d->area[3]; ++y) {
        const MByte* idx = d->pAreaImage + y * d->lAreaPitch;
        MByte* out = d->pDisplay + (d->area[1] + y) * d->lPitch + d->area[0] * d->lBytesPerPixel;
        for (MInt64 x = 0; x < d->area[2]; ++x) {
            if (trans && idx[x] == d->byTransIndex) continue;
            writePixel(d, out + x * d->lBytesPerPixel, d->pFramePal + 4 * idx[x]);
        }
    }
    d->lPrevDisposal = MInt64(fi.dwDisposal);
    std::copy(d->area, d->area + 4, d->prevRect);
}

MResult frameInfo(GIFDecRecord* d, GIFFrameInfo* fi) {
    MInt64 index = d->lNextFrame;
    MResult r = setProp(d, MDEC_PROP_GIF_FRAME, &index, 8);
    *fi = {};
    if (r == MOK) r = getProp(d, MDEC_PROP_GIF_FRAMEINFO, fi, sizeof *fi);
    return r;
}

} // namespace

extern "C" {

MResult MUtilsGIFDec_Create(AMCMHandle hAMCM, MSTREAM stream, GIFDecHandle* out) {
    if (!out) return MERR_INVALID_PARAM;
    *out = nullptr;
    if (!hAMCM || !stream) return MERR_INVALID_PARAM;
    MHandle mem = nullptr;
    AMCM_GetGlobalData(hAMCM, AMCM_GD_MEM_CONTEXT, &mem, 8);
    auto* d = static_cast<GIFDecRecord*>(MMemAlloc(mem, sizeof(GIFDecRecord)));
    if (!d) return MERR_NO_MEMORY;
    std::memset(d, 0, sizeof *d);
    d->hAMCM = hAMCM;
    d->hMem = mem;
    d->stream = stream;
    MResult r = MUtilsGIFDec_ReSet(d);
    if (r != MOK) {
        MUtilsGIFDec_Destroy(d);
        return r;
    }
    *out = d;
    return MOK;
}

MResult MUtilsGIFDec_ReSet(GIFDecHandle d) {
    if (!d) return MERR_INVALID_PARAM;
    if (d->hComp) ops(d)->s_Destroy(d->hComp);
    d->hComp = nullptr;
    if (MStreamSeek(d->stream, MSTREAM_SEEK_BEGIN, 0) != 0) return MERR_FILE_SEEK;
    d->lNextFrame = 0;
    MResult r = AMCM_CreateComponent(d->hAMCM, AMCM_CID_GIF_DECODER, &d->hComp);
    if (r != MOK) {
        d->hComp = nullptr;
        return r;
    }
    r = ops(d)->s_Init(d->hComp, d->stream);
    if (r != MOK) {
        ops(d)->s_Destroy(d->hComp);
        d->hComp = nullptr;
        return r;
    }
    GIFGlobalInfo g;
    r = screenInfo(d, &g);
    if (r == MOK) r = getProp(d, MDEC_PROP_GIF_LOOP, &d->lLoop, 8);
    if (r != MOK) return r;
    if (!d->pGlobalPal) d->pGlobalPal = alloc<MByte>(d, 1024);
    if (!d->pGlobalPal) return MERR_NO_MEMORY;
    // Without a global table: index 0 black, index 1 white, the rest black.
    std::memset(d->pGlobalPal, 0, 1024);
    std::memset(d->pGlobalPal + 4, 255, 3);
    d->lPrevDisposal = kDisposalBackground;
    d->prevRect[0] = d->prevRect[1] = 0;
    d->prevRect[2] = d->lWidth, d->prevRect[3] = d->lHeight;
    if (!g.dwGlobalTable) return MOK;
    return readPalette(d, d->pGlobalPal, 1);
}

MResult MUtilsGIFDec_GetGlobalInfo(GIFDecHandle d, MInt64* size, MInt64* loop, MInt64* count) {
    if (!d || !d->hComp) return MERR_INVALID_PARAM;
    if (size) {
        GIFGlobalInfo g;
        MResult r = screenInfo(d, &g);
        if (r != MOK) return r;
        size[0] = g.wWidth, size[1] = g.wHeight;
    }
    if (loop) {
        MResult r = getProp(d, MDEC_PROP_GIF_LOOP, loop, 8);
        if (r != MOK) return r;
    }
    if (count) return getProp(d, MDEC_PROP_GIF_FRAMECOUNT, count, 8);
    return MOK;
}

MResult MUtilsGIFDec_GetFrameData(GIFDecHandle d, MBITMAP* bmp) {
    if (!d || !bmp || !d->hComp) return MERR_INVALID_PARAM;
    if (!d->bSetUp) {
        MResult r = setUp(d, bmp);
        if (r != MOK) return r;
    }
    if (bmp->lWidth != d->lWidth || bmp->lHeight != d->lHeight || !bmp->pPlane[0] ||
        bmp->lPitch[0] < d->lWidth * d->lBytesPerPixel || MdUtilsNewColorID2Old(bmp->dwPixelArrayFormat) != d->dwOldColor)
        return MERR_INVALID_PARAM;
    GIFFrameInfo fi;
    if (frameInfo(d, &fi) != MOK) {
        if (d->lLoop != -1 && d->lLoopsDone >= d->lLoop) return MERR_UNKNOWN; // the animation has ended
        // Start over: the whole display goes back to the background before frame 0.
        d->lNextFrame = 0;
        d->lPrevDisposal = kDisposalBackground;
        d->prevRect[0] = d->prevRect[1] = 0;
        d->prevRect[2] = d->lWidth, d->prevRect[3] = d->lHeight;
        ++d->lLoopsDone;
        return MERR_UNKNOWN;
    }
    MResult r = loadFrame(d, fi);
    if (r != MOK) return r;
    render(d, fi);
    for (MInt64 y = 0; y < d->lHeight; ++y)
        std::memcpy(bmp->pPlane[0] + y * bmp->lPitch[0], d->pDisplay + y * d->lPitch, size_t(d->lWidth * d->lBytesPerPixel));
    d->lDelay = MInt64(fi.wDelay) * 10;
    ++d->lNextFrame;
    return MOK;
}

MResult MUtilsGIFDec_GetDelayTime(GIFDecHandle d, MInt64* ms) {
    if (!d || !ms) return MERR_INVALID_PARAM;
    *ms = d->lDelay;
    return MOK;
}

MResult MUtilsGIFDec_Destroy(GIFDecHandle d) {
    if (!d) return MERR_INVALID_PARAM;
    if (d->hComp) ops(d)->s_Destroy(d->hComp);
    release(d, d->pGlobalPal);
    release(d, d->pColMap);
    release(d, d->pRowMap);
    release(d, d->pDisplay);
    release(d, d->pBackground);
    release(d, d->pSaved);
    release(d, d->pAreaImage);
    release(d, d->pFramePal);
    release(d, d->pRowTable);
    MMemFree(d->hMem, d);
    return MOK;
}

MVoid MUtilsCalcGIFFitinSize(MInt64 bw, MInt64 bh, MInt64* pw, MInt64* ph, double* scale) {
    MInt64 s = 1024;
    if (pw && ph && *pw > 0 && *ph > 0 && (*pw > bw || *ph > bh))
        s = std::max<MInt64>(0, std::min(bh * 1024 / *ph, bw * 1024 / *pw));
    if (pw && ph) {
        *pw = std::max<MInt64>((*pw * s + 512) >> 10, 1);
        *ph = std::max<MInt64>((*ph * s + 512) >> 10, 1);
    }
    if (scale) *scale = double(s) / 1024.0;
}

} // extern "C"
