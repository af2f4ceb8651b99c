// Driving an engine over rectangles: automatic block mode, bands under quarter turns, binding of
// planes, the kernel dispatcher, rectangle alignment and the rectangle helpers.
#include "PPKernels.h"

#include <algorithm>

extern "C" {

MVoid RectCopy(MRECT* pTo, const MRECT* pFrom)
{
    if (pTo && pFrom)
        *pTo = *pFrom;
}

MVoid AdjustRect(MRECT* pRect, const MRECT* pBounds)
{
    if (!pRect || !pBounds)
        return;
    pRect->left = std::clamp(pRect->left, pBounds->left, std::max(pBounds->left, pBounds->right));
    pRect->right = std::clamp(pRect->right, pBounds->left, std::max(pBounds->left, pBounds->right));
    pRect->top = std::clamp(pRect->top, pBounds->top, std::max(pBounds->top, pBounds->bottom));
    pRect->bottom = std::clamp(pRect->bottom, pBounds->top, std::max(pBounds->top, pBounds->bottom));
}

MVoid MSwapRect(MRECT* pRect)
{
    std::swap(pRect->left, pRect->top);
    std::swap(pRect->right, pRect->bottom);
}

MVoid FlipUpDownRect(const MRECT* pBounds, MRECT* pRect)
{
    const MInt64 sum = pBounds->top + pBounds->bottom;
    const MInt64 top = sum - pRect->bottom, bottom = sum - pRect->top;
    pRect->top = top;
    pRect->bottom = bottom;
}

MVoid MFlipLeftRightRect(const MRECT* pBounds, MRECT* pRect)
{
    const MInt64 sum = pBounds->left + pBounds->right;
    const MInt64 left = sum - pRect->right, right = sum - pRect->left;
    pRect->left = left;
    pRect->right = right;
}

MInt32 MGetMaskSize(MUInt32 mask) { return __builtin_popcount(mask); }

MInt32 MGetMaskPos(MUInt32 mask) { return mask ? __builtin_ctz(mask) : 0; }

MInt64 MUL16x32_8Bit(MInt32 a, MInt32 b)
{
    const int64_t absA = a < 0 ? -int64_t{a} : a;
    const int64_t absB = b < 0 ? -int64_t{b} : b;
    const int64_t low = absB & 0xFF, rest = absB >> 8;
    const int64_t r = ((low * absA + 128) >> 8) + rest * absA;
    return ((a < 0) != (b < 0)) ? -r : r;
}

} // extern "C"

MResult MInitConvertData(int64_t layout, PPPlaneSet* set, MByte* const* planes, const MInt64* pitches)
{
    if (set->kind == 1) {
        for (int i = 0; i < 3; ++i)
            set->pitch[i] = pitches[0];
        set->ptr[0] = planes[0] + set->offY;
        set->ptr[1] = planes[0] + set->offU;
        set->ptr[2] = planes[0] + set->offV;
        return MOK;
    }
    for (int i = 0; i < 3; ++i) {
        set->pitch[i] = pitches[i];
        set->ptr[i] = planes[i];
    }
    // Planes Y, V, U: each chroma plane keeps its own pitch, so that planes of different pitches
    // are neither misread nor read past their ends.
    if (layout >= 768 && layout <= 772) {
        std::swap(set->ptr[1], set->ptr[2]);
        std::swap(set->pitch[1], set->pitch[2]);
    }
    return MOK;
}

namespace {

// Every component pointer a layout reads or writes must be there.
bool planesPresent(const PPPlaneSet& set, MByte* const* planes)
{
    if (!planes[0])
        return false;
    if (set.kind == 3 && set.layout != PPL_GREY)
        return planes[1] && planes[2];
    return true;
}

} // namespace

MResult MProcessImage_C(const PPEngine* e, const PPPlaneSet* dst, const PPPlaneSet* src, const MRECT* band)
{
    // Target pixel (tx, ty) -> area-relative (rx, ry) -> mirrored top-bottom, then left-right ->
    // exchanged: oriented (u, v), the coordinates in which the kernels walk the source.
    int64_t rx0 = band->left - e->dstAreaX, rx1 = band->right - e->dstAreaX;
    int64_t ry0 = band->top - e->dstAreaY, ry1 = band->bottom - e->dstAreaY;
    if (e->orientation & PP_ORIENT_MIRROR_TB) {
        const int64_t t = e->dstAreaH - ry1;
        ry1 = e->dstAreaH - ry0;
        ry0 = t;
    }
    if (e->orientation & PP_ORIENT_MIRROR_LR) {
        const int64_t t = e->dstAreaW - rx1;
        rx1 = e->dstAreaW - rx0;
        rx0 = t;
    }
    PPBand b{rx0, rx1, ry0, ry1};
    if (e->orientation & PP_ORIENT_SWAPXY)
        b = PPBand{ry0, ry1, rx0, rx1};
    if (b.u0 >= b.u1 || b.v0 >= b.v1)
        return MOK;
    return ANY_ANY_Bilinear_No_Table(&b, dst, src, e);
}

MResult ANY_ANY_Bilinear_No_Table(const PPBand* band, const PPPlaneSet* dst, const PPPlaneSet* src,
                                  const PPEngine* engine)
{
    if (ANY_ANY_C_FAST_R8G8B8(band, dst, src, engine) == MOK)
        return MOK;
    if (YUV2YUV_Fast(band, dst, src, engine) == MOK)
        return MOK;
    ANY_ANY_C_SLOW(band, dst, src, engine);
    return MOK;
}

MResult MPProcessIn(PPEngine* e, MByte* const* dstPlanes, const MRECT* rect, const MInt64* dstPitch,
                    const MByte* const* srcPlanes, const MInt64* srcPitch)
{
    // Work only inside the target area and inside the target image.
    MRECT area{e->dstAreaX, e->dstAreaY, e->dstAreaX + e->dstAreaW, e->dstAreaY + e->dstAreaH};
    const MRECT image{0, 0, e->dstWidth, e->dstHeight};
    AdjustRect(&area, &image);
    MRECT r = rect ? *rect : area;
    AdjustRect(&r, &area);
    if (r.left >= r.right || r.top >= r.bottom)
        return MOK;
    PPPlaneSet dst = e->dst, src = e->src;
    MInitConvertData(dst.layout, &dst, dstPlanes, dstPitch);
    MInitConvertData(src.layout, &src, const_cast<MByte* const*>(srcPlanes), srcPitch);
    if (!(e->orientation & PP_ORIENT_SWAPXY))
        return MProcessImage_C(e, &dst, &src, &r);
    // Under a quarter turn the target is walked in bands of rows, so that each band reads a narrow
    // strip of source columns.
    const int64_t bandRows = e->bandMode == 4 ? 64 : 32;
    for (int64_t top = r.top; top < r.bottom; top += bandRows) {
        const MRECT band{r.left, top, r.right, std::min(r.bottom, top + bandRows)};
        MProcessImage_C(e, &dst, &src, &band);
    }
    return MOK;
}

extern "C" {

MResult MPProcess(PPHandle hPP, MByte* const* ppDstPlane, const MRECT* pDstRect, const MInt64* pDstPitch,
                  const MByte* const* ppSrcPlane, const MInt64* pSrcPitch)
{
    if (!hPP || !ppDstPlane || !pDstPitch || !ppSrcPlane || !pSrcPitch || !hPP->engine[0])
        return MERR_INVALID_PARAM;
    PPEngine* e1 = hPP->engine[0];
    if (!planesPresent(e1->dst, ppDstPlane) || !planesPresent(e1->src, const_cast<MByte* const*>(ppSrcPlane)))
        return MERR_INVALID_PARAM;
    if (hPP->blockMode != PP_BLOCK_AUTO || !hPP->engine[1] || !hPP->engine[2])
        return MPProcessIn(e1, ppDstPlane, pDstRect, pDstPitch, ppSrcPlane, pSrcPitch);

    const MRECT whole{e1->dstAreaX, e1->dstAreaY, e1->dstAreaX + e1->dstAreaW, e1->dstAreaY + e1->dstAreaH};
    const MRECT r = pDstRect ? *pDstRect : whole;
    PPEngine* e3 = hPP->engine[2];
    const bool aligned4 = (pDstPitch[0] % 4 == 0) && (pSrcPitch[0] % 4 == 0) &&
                          (reinterpret_cast<uintptr_t>(ppDstPlane[0]) % 4 == 0) &&
                          (reinterpret_cast<uintptr_t>(ppSrcPlane[0]) % 4 == 0) &&
                          (!(e3->orientation & (PP_ORIENT_MIRROR_LR | PP_ORIENT_MIRROR_TB)) ||
                           (e3->dstWidth % 4 == 0 && e3->dstHeight % 4 == 0));
    const int64_t b = aligned4 ? 4 : 2;
    PPEngine* inner = aligned4 ? e3 : hPP->engine[1];
    const auto up = [b](int64_t v) { return v >= 0 ? (v + b - 1) / b * b : -((-v) / b * b); };
    const auto down = [b](int64_t v) { return v >= 0 ? v / b * b : -((-v + b - 1) / b * b); };
    MRECT in{up(r.left), up(r.top), down(r.right), down(r.bottom)};
    if (in.left < in.right && in.top < in.bottom)
        MPProcessIn(inner, ppDstPlane, &in, pDstPitch, ppSrcPlane, pSrcPitch);
    else
        in = MRECT{r.left, r.top, r.left, r.top};
    // The border strips go to the per-pixel engine.
    const MRECT strips[4] = {
        {r.left, r.top, r.right, in.top},
        {r.left, in.bottom, r.right, r.bottom},
        {r.left, in.top, in.left, in.bottom},
        {in.right, in.top, r.right, in.bottom},
    };
    for (MRECT s : strips) {
        AdjustRect(&s, &r);
        if (s.left < s.right && s.top < s.bottom)
            MPProcessIn(e1, ppDstPlane, &s, pDstPitch, ppSrcPlane, pSrcPitch);
    }
    return MOK;
}

MResult MPProcessEx(PPHandle hPP, MByte* const* ppDstPlane, const MRECT* pOrigin, const MRECT* pDstRect,
                    const MInt64* pDstPitch, const MByte* const* ppSrcPlane, const MInt64* pSrcPitch)
{
    if (!hPP || !ppDstPlane || !pDstPitch || !hPP->engine[0])
        return MERR_INVALID_PARAM;
    if (!pOrigin)
        return MPProcess(hPP, ppDstPlane, pDstRect, pDstPitch, ppSrcPlane, pSrcPitch);
    const PPPlaneSet& set = hPP->engine[0]->dst;
    const int planes = (set.kind == 3 && set.layout != PPL_GREY) ? 3 : 1;
    const int64_t bytes = set.kind == 1 ? (set.bitsPerPixel + 7) / 8 : 1;
    MByte* moved[3] = {ppDstPlane[0], ppDstPlane[1], ppDstPlane[2]};
    for (int i = 0; i < planes; ++i) {
        if (!moved[i])
            continue;
        const int64_t step = i == 0 ? bytes : set.stepC;
        moved[i] -= (pOrigin->left / set.hs[i]) * step + (pOrigin->top / set.vs[i]) * pDstPitch[i];
    }
    return MPProcess(hPP, moved, pDstRect, pDstPitch, ppSrcPlane, pSrcPitch);
}

MResult MPPAlign(PPHandle hPP, MRECT* pDstRect, MRECT* pSrcRect)
{
    if (!hPP || !hPP->engine[0] || !pDstRect || !pSrcRect)
        return MERR_INVALID_PARAM;
    const auto isZero = [](const MRECT& r) { return !r.left && !r.top && !r.right && !r.bottom; };
    const bool srcGiven = !isZero(*pSrcRect), dstGiven = !isZero(*pDstRect);
    if (srcGiven == dstGiven)
        return MERR_INVALID_PARAM;
    const PPEngine* e = hPP->engine[0];
    uint32_t flags = e->orientation;
    const bool bilinear = e->ctx->bilinear;
    const MRECT srcArea{e->srcOriginX, e->srcOriginY, e->srcOriginX + e->srcWidth, e->srcOriginY + e->srcHeight};
    const MRECT dstArea{e->dstAreaX, e->dstAreaY, e->dstAreaX + e->dstAreaW, e->dstAreaY + e->dstAreaH};
    if (srcGiven) {
        // Source -> target: the inverse of the target -> source mapping.
        MRECT s = *pSrcRect;
        s.left -= srcArea.left; s.right -= srcArea.left;
        s.top -= srcArea.top; s.bottom -= srcArea.top;
        const int64_t o = (e->resampleMode & 2) ? 32768 - e->stepX / 2 : 0;
        const int64_t oy = (e->resampleMode & 2) ? 32768 - e->stepY / 2 : 0;
        const auto nearEdge = [](int64_t edge, int64_t off, int64_t step) { return ((edge << 16) + off) / step; };
        const auto farEdge = [](int64_t edge, int64_t full, int64_t off, int64_t step) {
            const int64_t base = edge == full ? edge : edge - 1;
            return ((base << 16) + off) / step + 1;
        };
        MRECT t{nearEdge(s.left, o, e->stepX), nearEdge(s.top, oy, e->stepY),
                farEdge(s.right, e->srcWidth, o, e->stepX), farEdge(s.bottom, e->srcHeight, oy, e->stepY)};
        t.left = std::clamp<int64_t>(t.left, 0, e->orientedW);
        t.right = std::clamp<int64_t>(t.right, 0, e->orientedW);
        t.top = std::clamp<int64_t>(t.top, 0, e->orientedH);
        t.bottom = std::clamp<int64_t>(t.bottom, 0, e->orientedH);
        // Oriented -> target: exchange, then mirror left-right and top-bottom.
        if (flags & PP_ORIENT_SWAPXY)
            MSwapRect(&t);
        const MRECT rel{0, 0, e->dstAreaW, e->dstAreaH};
        if (flags & PP_ORIENT_MIRROR_LR)
            MFlipLeftRightRect(&rel, &t);
        if (flags & PP_ORIENT_MIRROR_TB)
            FlipUpDownRect(&rel, &t);
        t.left += dstArea.left; t.right += dstArea.left;
        t.top += dstArea.top; t.bottom += dstArea.top;
        *pDstRect = t;
        return MOK;
    }
    // Target -> source.
    MRECT t = *pDstRect;
    t.left -= dstArea.left; t.right -= dstArea.left;
    t.top -= dstArea.top; t.bottom -= dstArea.top;
    const MRECT rel{0, 0, e->dstAreaW, e->dstAreaH};
    if (flags & PP_ORIENT_MIRROR_TB)
        FlipUpDownRect(&rel, &t);
    if (flags & PP_ORIENT_MIRROR_LR)
        MFlipLeftRightRect(&rel, &t);
    if (flags & PP_ORIENT_SWAPXY)
        MSwapRect(&t);
    const int64_t ox = bilinear ? e->stepX / 2 - 32768 : 0, oy = bilinear ? e->stepY / 2 - 32768 : 0;
    const int64_t extra = bilinear ? 2 : 0;
    MRECT s{(t.left * e->stepX + ox) >> 16, (t.top * e->stepY + oy) >> 16,
            (((t.right - 1) * e->stepX + ox) >> 16) + 1 + extra, (((t.bottom - 1) * e->stepY + oy) >> 16) + 1 + extra};
    s.left += srcArea.left; s.right += srcArea.left;
    s.top += srcArea.top; s.bottom += srcArea.top;
    AdjustRect(&s, &srcArea);
    s.left = std::max<int64_t>(s.left, 0);
    s.top = std::max<int64_t>(s.top, 0);
    *pSrcRect = s;
    return MOK;
}

} // extern "C"
