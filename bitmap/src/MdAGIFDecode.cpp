// Animated GIF frames drawn one after another onto the caller's canvas through the image decoder
// wrapper, which looks up the palette, skips transparent pixels and converts to the canvas colour.
#include "MdAGIF.h"

#include <algorithm>
#include <cstring>

#include "GifDecoder.h"
#include "MIDec.h"
#include "MMemory.h"
#include "MStream.h"
#include "MdColorID.h"
#include "MdComponent.h"
#include "MdImgInfo.h"

struct AGIFDecodeRecord {
    MHandle hDec;
    MInt64 lFrameCount;
    MInt64 lPrevDisposal;
    MInt64 lNextFrame;
    MBITMAP saved;           // canvas before a frame that asks to be undone (disposal 3)
    MInt64 lCanvasBpp;
    MByte* pLine;
    MInt64 lLineSize;
    MRECT rcPrev;            // the previous frame's area on the canvas, for disposal 2
    MInt64 bCanvasKnown;
    MUInt64 dwCanvasColor;
    MInt64 lCanvasWidth, lCanvasHeight, lCanvasPitch;
};

namespace {

constexpr MInt64 kDisposalBackground = 2; // GIF89a 23: restore the frame's area to the background
constexpr MInt64 kDisposalPrevious = 3;   // GIF89a 23: restore what the frame covered

MResult canvasBpp(MUInt64 color, MInt64* bpp) {
    MUInt64 bits = 0, planes = 0;
    if (MdUtilsFormatColorID(color, nullptr, nullptr, &bits, &planes) != MOK) return MERR_UNSUPPORTED;
    // Rows are merged pixel by pixel into one plane of whole bytes.
    if (planes != 1 || (bits != 16 && bits != 24 && bits != 32)) return MERR_UNSUPPORTED;
    *bpp = MInt64(bits);
    return MOK;
}

bool sameCanvas(const AGIFDecodeRecord* d, const MBITMAP* c) {
    return c->dwPixelArrayFormat == d->dwCanvasColor && c->lWidth == d->lCanvasWidth &&
           c->lHeight == d->lCanvasHeight && c->lPitch[0] == d->lCanvasPitch;
}

// Checks the first canvas and allocates the copy kept for disposal 3 at the canvas's own pitch,
// so that whole-plane copies between the two never run past either block.
MResult adoptCanvas(AGIFDecodeRecord* d, const MBITMAP* c) {
    if (!c->pPlane[0] || c->lWidth < 1 || c->lHeight < 1) return MERR_INVALID_PARAM;
    if (c->dwPixelArrayFormat != d->dwCanvasColor) return MERR_INVALID_PARAM;
    const MInt64 bytesPerPixel = d->lCanvasBpp / 8;
    if (c->lWidth > INT64_MAX / bytesPerPixel || c->lPitch[0] < c->lWidth * bytesPerPixel) return MERR_INVALID_PARAM;
    if (c->lHeight > INT64_MAX / c->lPitch[0]) return MERR_INVALID_PARAM;
    MBITMAP s{};
    s.dwPixelArrayFormat = c->dwPixelArrayFormat;
    s.lWidth = c->lWidth;
    s.lHeight = c->lHeight;
    s.lPitch[0] = c->lPitch[0];
    MResult r = MdBitmapAlloc(&s);
    if (r != MOK) return r;
    if (s.lPitch[0] != c->lPitch[0]) { // the allocator widened the rows: not a pitch we can mirror
        MdBitmapFree(&s);
        return MERR_INVALID_PARAM;
    }
    d->saved = s;
    d->lCanvasWidth = c->lWidth;
    d->lCanvasHeight = c->lHeight;
    d->lCanvasPitch = c->lPitch[0];
    d->bCanvasKnown = 1;
    return MOK;
}

void clearArea(const AGIFDecodeRecord* d, MBITMAP* c, const MRECT& rc) {
    const MInt64 left = std::clamp<MInt64>(rc.left, 0, c->lWidth), right = std::clamp<MInt64>(rc.right, 0, c->lWidth);
    const MInt64 top = std::clamp<MInt64>(rc.top, 0, c->lHeight), bottom = std::clamp<MInt64>(rc.bottom, 0, c->lHeight);
    if (left >= right) return;
    const MInt64 bpp = d->lCanvasBpp / 8;
    for (MInt64 y = top; y < bottom; ++y)
        std::memset(c->pPlane[0] + y * c->lPitch[0] + left * bpp, 0, size_t((right - left) * bpp));
}

} // namespace

extern "C" {

MResult MdUtilsAGIFDecode_Create(AMCMHandle hAMCM, MSTREAM stream, MUInt64 color, MInt64* pSize, MInt64* plCount,
                                 AGIFDecodeHandle* out) {
    if (!out) return MERR_INVALID_PARAM;
    *out = nullptr;
    if (!hAMCM || !stream) return MERR_INVALID_PARAM;
    auto* d = static_cast<AGIFDecodeRecord*>(MMemAlloc(nullptr, sizeof(AGIFDecodeRecord)));
    if (!d) return MERR_NO_MEMORY;
    std::memset(d, 0, sizeof *d);
    MResult r = MIDec_Create(hAMCM, stream, MD_IMG_GIF, &d->hDec);
    MInt64 v = 0, wh[2] = {};
    if (r == MOK) r = MIDec_GetProp(d->hDec, MDEC_PROP_COLOR, &v, 8);
    if (r == MOK) r = MIDec_GetProp(d->hDec, MDEC_PROP_IMAGE_SIZE, wh, 16);
    // No byte of a GIF makes more than 4,096 pixels (GIF89a appendix F): a screen far larger than
    // its file is a few hostile bytes, refused before the caller makes a canvas for it.
    if (r == MOK && wh[0] * wh[1] > std::max<MInt64>(MStreamGetSize(stream), 0) * 4096) r = MERR_UNSUPPORTED;
    if (r == MOK && pSize) r = MIDec_SetProp(d->hDec, MDEC_PROP_OUT_SIZE, pSize, 16);
    if (r == MOK) r = MIDec_GetProp(d->hDec, MDEC_PROP_GIF_FRAMECOUNT, &d->lFrameCount, 8);
    if (r == MOK) r = canvasBpp(color, &d->lCanvasBpp);
    if (r != MOK) {
        MdUtilsAGIFDecode_Destroy(d);
        return r;
    }
    d->dwCanvasColor = color;
    if (plCount) *plCount = d->lFrameCount;
    *out = d;
    return MOK;
}

MResult MdUtilsAGIFDecode_DecodeFrame(AGIFDecodeHandle d, MBITMAP* canvas) {
    if (!d || !canvas) return MERR_INVALID_PARAM;
    if (!d->bCanvasKnown) {
        MResult r = adoptCanvas(d, canvas);
        if (r != MOK) return r;
    } else if (!sameCanvas(d, canvas) || !canvas->pPlane[0]) {
        return MERR_INVALID_PARAM;
    }

    MInt64 index = d->lNextFrame;
    MResult r = MIDec_SetProp(d->hDec, MDEC_PROP_GIF_FRAME, &index, 8);
    GIFFrameInfo fi{};
    if (r == MOK) r = MIDec_GetProp(d->hDec, MDEC_PROP_GIF_FRAMEINFO, &fi, sizeof fi);
    if (r != MOK) return r;

    MMemFree(nullptr, d->pLine);
    d->lLineSize = (MInt64(fi.wWidth) + 3) / 4 * 4;
    d->pLine = static_cast<MByte*>(MMemAlloc(nullptr, size_t(std::max<MInt64>(d->lLineSize, 4))));
    if (!d->pLine) {
        d->lLineSize = 0;
        return MERR_NO_MEMORY;
    }

    const size_t planeBytes = size_t(canvas->lPitch[0] * canvas->lHeight);
    // Only the area the previous frame covered goes back to the background (transparent, all
    // bytes 0); the rest of the picture stays, as GIF89a 23 asks.
    if (d->lNextFrame > 0 && d->lPrevDisposal == kDisposalBackground) clearArea(d, canvas, d->rcPrev);
    else if (d->lNextFrame > 0 && d->lPrevDisposal == kDisposalPrevious)
        std::memcpy(canvas->pPlane[0], d->saved.pPlane[0], planeBytes);
    if (MInt64(fi.dwDisposal) == kDisposalPrevious) std::memcpy(d->saved.pPlane[0], canvas->pPlane[0], planeBytes);

    // The window starts at the frame's corner; a frame wholly off the canvas draws nothing.
    MBITMAP window{};
    window.dwPixelArrayFormat = canvas->dwPixelArrayFormat;
    window.lPitch[0] = canvas->lPitch[0];
    if (fi.wLeft < canvas->lWidth && fi.wTop < canvas->lHeight) {
        window.lWidth = canvas->lWidth - fi.wLeft;
        window.lHeight = canvas->lHeight - fi.wTop;
        window.pPlane[0] = canvas->pPlane[0] + canvas->lPitch[0] * fi.wTop + MInt64(fi.wLeft) * (d->lCanvasBpp / 8);
    }
    r = MIDec_SetProp(d->hDec, MIDEC_PROP_CANVAS, &window, sizeof window);
    if (r != MOK) return r;
    for (MInt64 y = 0; y < fi.wHeight; ++y) {
        MByte* planes[3] = {d->pLine, nullptr, nullptr};
        MInt64 pitches[3] = {d->lLineSize, 0, 0}, start = 0, count = 1;
        r = MIDec_Scanlines(d->hDec, planes, pitches, &start, &count);
        if (r != MOK) return r;
    }
    d->rcPrev = {fi.wLeft, fi.wTop, MInt64(fi.wLeft) + fi.wWidth, MInt64(fi.wTop) + fi.wHeight};
    d->lPrevDisposal = MInt64(fi.dwDisposal);
    ++d->lNextFrame;
    return MOK;
}

MResult MdUtilsAGIFDecode_Destroy(AGIFDecodeHandle d) {
    if (!d) return MOK;
    if (d->hDec) MIDec_Destroy(d->hDec);
    if (d->saved.pPlane[0]) MdBitmapFree(&d->saved);
    MMemFree(nullptr, d->pLine);
    MMemFree(nullptr, d);
    return MOK;
}

} // extern "C"
