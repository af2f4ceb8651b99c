// Bitmap transforms: a rectangle of one bitmap into a rectangle of another with quarter turns,
// mirrors, resampling and pixel-format conversion, through a pooled post-processing handle.
#include "MdBitmap.h"
#include "MdBitmapLayout.h"
#include "MdColorID.h"
#include "MdPPWrapper.h"

#include "MMemory.h"

#include <cstdlib>

namespace {

constexpr MResult kTransformCodes[] = {MERR_INVALID_PARAM, MERR_NO_MEMORY, MERR_UNSUPPORTED};

MResult filtered(MResult r) { return MdUtilConvertErrorCode(r, kTransformCodes, 3); }

bool validRotation(MInt64 r) { return r == 0 || r == 90 || r == 180 || r == 270; }

// The planes and pitches a transform will touch must be there and hold a row.
bool planesUsable(const MBITMAP* b)
{
    MdBitmapLayout l;
    if (!MdBitmapDescribeLayout(b->dwPixelArrayFormat, b->lWidth, b->lHeight, &l)) {
        // Formats the engine reads but MBITMAP cannot allocate (other packed RGB and YUV IDs):
        // at least the first plane must be there.
        return b->pPlane[0] != nullptr && b->lPitch[0] != 0;
    }
    const int planes = l.kind == MdBitmapLayout::Packed ? 1 : 3;
    for (int i = 0; i < planes; ++i) {
        if (!b->pPlane[i])
            return false;
        if (b->lPitch[i] < l.minRow[l.kind == MdBitmapLayout::SemiPlanar && i == 2 ? 1 : i])
            return false;
    }
    return true;
}

// Plane pointers at the rectangle's origin (left, top).
bool planesAt(const MBITMAP* b, MInt64 left, MInt64 top, MByte* out[3])
{
    MUInt64 hs = 1, vs = 1, bpp = 8, planes = 1, step = 1;
    if (MdUtilsFormatColorIDEx(b->dwPixelArrayFormat, &hs, &vs, &bpp, &planes, &step) != MOK)
        return false;
    const uint32_t cls = MCOLOR_CLASS(b->dwPixelArrayFormat);
    if (cls == MCOLOR_CLASS_PALETTE) {
        // Palette IDs are described by their bits-per-pixel code: one plane.
        planes = 1;
        hs = vs = 1;
        bpp = 8;
    }
    const MInt64 bytes = static_cast<MInt64>(bpp / 8);
    out[0] = b->pPlane[0] + left * bytes + top * b->lPitch[0];
    out[1] = out[2] = nullptr;
    if (planes == 3) {
        const MInt64 h = static_cast<MInt64>(hs), v = static_cast<MInt64>(vs), s = static_cast<MInt64>(step);
        // Whole chroma groups: (left * step / h) would land an odd left edge of an interleaved
        // plane on the second sample of a pair, exchanging U and V and writing one byte past it.
        const MInt64 col = (left / h) * s * bytes;
        for (int i = 1; i < 3; ++i)
            out[i] = b->pPlane[i] ? b->pPlane[i] + col + (top / v) * b->lPitch[i] : nullptr;
    }
    return true;
}

bool isPacked422(uint64_t id)
{
    return MCOLOR_CLASS(id) == MCOLOR_CLASS_YUV && (id & 0xFF) == 0x10 && ((id >> 8) & 0xF) < 8;
}

MResult checkTransform(const MBITMAP* pSrc, const MBITMAP* pDst, const MRECT* pSrcRect, const MRECT* pDstRect,
                       MInt64 lRotation)
{
    if (!pSrc || !pDst || !pSrcRect || !pDstRect || !validRotation(lRotation))
        return MERR_INVALID_PARAM;
    if (pSrc->lWidth < 0 || pSrc->lHeight < 0 || pDst->lWidth < 0 || pDst->lHeight < 0)
        return MERR_INVALID_PARAM;
    if (pSrc->lWidth < 1 || pSrc->lHeight < 1 || pDst->lWidth < 1 || pDst->lHeight < 1)
        return MERR_UNSUPPORTED;
    if (!MdUtilIsRectValid(pSrcRect, pSrc->lWidth, pSrc->lHeight) ||
        !MdUtilIsRectValid(pDstRect, pDst->lWidth, pDst->lHeight))
        return MERR_INVALID_PARAM;
    if (!planesUsable(pSrc) || !planesUsable(pDst))
        return MERR_INVALID_PARAM;
    // Two pixels of a packed 4:2:2 row share one group of four bytes: a rectangle cannot begin
    // on the second pixel of a group.
    if ((isPacked422(pSrc->dwPixelArrayFormat) && (pSrcRect->left & 1)) ||
        (isPacked422(pDst->dwPixelArrayFormat) && (pDstRect->left & 1)))
        return MERR_INVALID_PARAM;
    return MOK;
}

MInt64 orientationFlags(MInt64 lRotation, MInt64 lFlip)
{
    MInt64 flags = 0;
    if (lFlip & MD_FLIP_LEFT_RIGHT)
        flags |= PP_ORIENT_MIRROR_LR;
    if (lFlip & MD_FLIP_UP_DOWN)
        flags |= PP_ORIENT_MIRROR_TB;
    switch (lRotation) {
    case 90: flags ^= 3; break;
    case 180: flags ^= 6; break;
    case 270: flags ^= 5; break;
    default: break;
    }
    return flags;
}

MResult runTransform(AMCMHandle hAMCM, const MBITMAP* pSrc, MBITMAP* pDst, const MRECT* pSrcRect,
                     const MRECT* pDstRect, MInt64 lRotation, MInt64 lFlip, MInt64 lDither)
{
    MResult r = checkTransform(pSrc, pDst, pSrcRect, pDstRect, lRotation);
    if (r != MOK)
        return r;
    PPPara para{};
    PPFormat srcFmt{}, dstFmt{};
    if ((r = MdUtilInitPPPara(pSrc, pDst, pSrcRect, pDstRect, &para, &srcFmt, &dstFmt)) != MOK)
        return r;
    para.lOrientation = orientationFlags(lRotation, lFlip);
    para.lBandMode = 0;
    if (lDither)
        para.lDither = lDither;
    MByte* dstPlanes[3];
    MByte* srcPlanes[3];
    if (!planesAt(pDst, pDstRect->left, pDstRect->top, dstPlanes) ||
        !planesAt(pSrc, pSrcRect->left, pSrcRect->top, srcPlanes))
        return MERR_UNSUPPORTED;
    MdPPWrapper* wrapper = nullptr;
    PPHandle h = nullptr;
    r = MdPPWrapperCreateEx(hAMCM, &wrapper, &dstFmt, &srcFmt, &para, &h);
    if (r != MOK)
        return filtered(r);
    const MByte* srcConst[3] = {srcPlanes[0], srcPlanes[1], srcPlanes[2]};
    r = MPProcess(h, dstPlanes, nullptr, pDst->lPitch, srcConst, pSrc->lPitch);
    MdPPWrapperDestroy(wrapper);
    return filtered(r);
}

bool isDitherYUV(uint64_t id)
{
    switch (id & ~uint64_t{0x1000}) {
    case 0x50000800: case 0x50000801: case 0x50000810: case 0x50000811:
    case 0x50000a00: case 0x50000a01: case 0x50000a10: case 0x50000a11:
        return true;
    default:
        return false;
    }
}

} // namespace

extern "C" {

MResult MdUtilInitPPPara(const MBITMAP* pSrc, const MBITMAP* pDst, const MRECT* pSrcRect, const MRECT* pDstRect,
                         PPPara* pPara, PPFormat* pSrcFormat, PPFormat* pDstFormat)
{
    if (!pSrc || !pDst || !pPara || !pSrcFormat || !pDstFormat)
        return MERR_INVALID_PARAM;
    // Sizes must be positive: the engine has no meaning for a negative extent.
    if (pSrc->lHeight < 1 || pDst->lHeight < 1 || pSrc->lWidth < 1 || pDst->lWidth < 1)
        return MERR_INVALID_PARAM;
    pSrcFormat->lColorID = static_cast<MInt64>(pSrc->dwPixelArrayFormat);
    pDstFormat->lColorID = static_cast<MInt64>(pDst->dwPixelArrayFormat);
    pSrcFormat->lWidth = pSrcRect ? pSrcRect->right - pSrcRect->left : pSrc->lWidth;
    pSrcFormat->lHeight = pSrcRect ? pSrcRect->bottom - pSrcRect->top : std::llabs(pSrc->lHeight);
    pDstFormat->lWidth = pDstRect ? pDstRect->right - pDstRect->left : pDst->lWidth;
    pDstFormat->lHeight = pDstRect ? pDstRect->bottom - pDstRect->top : std::llabs(pDst->lHeight);
    pPara->lBlockMode = PP_BLOCK_AUTO;
    pPara->lResampleMode = PP_RESAMPLE_BILINEAR;
    return MOK;
}

MResult MdBitmapCropRotFlipResampleEx_Dither(AMCMHandle hAMCM, const MBITMAP* pSrc, MBITMAP* pDst,
                                             const MRECT* pSrcRect, const MRECT* pDstRect, MInt64 lRotation,
                                             MInt64 lFlip, MInt64 lDither)
{
    return runTransform(hAMCM, pSrc, pDst, pSrcRect, pDstRect, lRotation, lFlip, lDither);
}

MResult MdBitmapCropRotFlipResample(AMCMHandle hAMCM, const MBITMAP* pSrc, MBITMAP* pDst, const MRECT* pSrcRect,
                                    const MRECT* pDstRect, MInt64 lRotation, MInt64 lFlip)
{
    return runTransform(hAMCM, pSrc, pDst, pSrcRect, pDstRect, lRotation, lFlip, 0);
}

MResult MdBitmapCropRotFlipResampleEx(AMCMHandle hAMCM, const MBITMAP* pSrc, MBITMAP* pDst, const MRECT* pSrcRect,
                                      const MRECT* pDstRect, MInt64 lRotation, MInt64 lFlip, MInt64 lDither)
{
    MResult r = checkTransform(pSrc, pDst, pSrcRect, pDstRect, lRotation);
    if (r != MOK)
        return r;
    const uint64_t dstID = pDst->dwPixelArrayFormat;
    if (lDither == 0 || (dstID != 0x15000454 && dstID != 0x15001454))
        return runTransform(hAMCM, pSrc, pDst, pSrcRect, pDstRect, lRotation, lFlip, 0);
    const bool yuvSource = isDitherYUV(pSrc->dwPixelArrayFormat);
    if (yuvSource && pSrcRect->bottom == pDstRect->bottom && lRotation == 0 && lFlip == 0)
        return runTransform(hAMCM, pSrc, pDst, pSrcRect, pDstRect, 0, 0, lDither);
    // Through a YUV bitmap of the target's size, then dithered into the target rectangle only.
    MBITMAP tmp{};
    tmp.dwPixelArrayFormat = yuvSource ? pSrc->dwPixelArrayFormat : 0x50001811;
    tmp.lWidth = pDst->lWidth;
    tmp.lHeight = pDst->lHeight;
    if ((r = MdBitmapAlloc(&tmp)) != MOK)
        return filtered(r);
    r = runTransform(hAMCM, pSrc, &tmp, pSrcRect, pDstRect, lRotation, lFlip, 0);
    if (r == MOK)
        r = runTransform(hAMCM, &tmp, pDst, pDstRect, pDstRect, 0, 0, lDither);
    MdBitmapFree(&tmp);
    return filtered(r);
}

MResult MdBitmapCropResample(AMCMHandle hAMCM, const MBITMAP* pSrc, MBITMAP* pDst, const MRECT* pSrcRect,
                             const MRECT* pDstRect)
{
    return MdBitmapCropRotFlipResample(hAMCM, pSrc, pDst, pSrcRect, pDstRect, 0, 0);
}

MResult MdBitmapResample(AMCMHandle hAMCM, const MBITMAP* pSrc, MBITMAP* pDst)
{
    if (!pSrc || !pDst)
        return MERR_INVALID_PARAM;
    const MRECT s{0, 0, pSrc->lWidth, pSrc->lHeight}, d{0, 0, pDst->lWidth, pDst->lHeight};
    return MdBitmapCropRotFlipResample(hAMCM, pSrc, pDst, &s, &d, 0, 0);
}

MResult MdBitmapResampleEx(AMCMHandle hAMCM, const MBITMAP* pSrc, MBITMAP* pDst, MInt64 lDither)
{
    if (!pSrc || !pDst)
        return MERR_INVALID_PARAM;
    const MRECT s{0, 0, pSrc->lWidth, pSrc->lHeight}, d{0, 0, pDst->lWidth, pDst->lHeight};
    return MdBitmapCropRotFlipResampleEx(hAMCM, pSrc, pDst, &s, &d, 0, 0, lDither);
}

MResult MdBitmapColorConvert(AMCMHandle hAMCM, const MBITMAP* pSrc, MBITMAP* pDst)
{
    if (!pSrc || !pDst)
        return MERR_INVALID_PARAM;
    if (pSrc->lWidth != pDst->lWidth || pSrc->lHeight != pDst->lHeight)
        return MERR_UNSUPPORTED;
    return MdBitmapResample(hAMCM, pSrc, pDst);
}

MResult MdBitmapColorConvertEx(AMCMHandle hAMCM, const MBITMAP* pSrc, MBITMAP* pDst, MInt64 lDither)
{
    if (!pSrc || !pDst)
        return MERR_INVALID_PARAM;
    if (pSrc->lWidth != pDst->lWidth || pSrc->lHeight != pDst->lHeight)
        return MERR_UNSUPPORTED;
    return MdBitmapResampleEx(hAMCM, pSrc, pDst, lDither);
}

MResult MdBitmapCrop(AMCMHandle hAMCM, const MBITMAP* pSrc, MBITMAP* pDst, const MRECT* pSrcRect)
{
    if (!pSrc || !pDst || !pSrcRect)
        return MERR_INVALID_PARAM;
    const MRECT d{0, 0, pSrcRect->right - pSrcRect->left, pSrcRect->bottom - pSrcRect->top};
    return MdBitmapCropRotFlipResample(hAMCM, pSrc, pDst, pSrcRect, &d, 0, 0);
}

MResult MdBitmapRotate(AMCMHandle hAMCM, const MBITMAP* pSrc, MBITMAP* pDst, MInt64 lRotation)
{
    if (!pSrc || !pDst)
        return MERR_INVALID_PARAM;
    const MRECT s{0, 0, pSrc->lWidth, pSrc->lHeight}, d{0, 0, pDst->lWidth, pDst->lHeight};
    return MdBitmapCropRotFlipResample(hAMCM, pSrc, pDst, &s, &d, lRotation, 0);
}

MResult MdBitmapFlip(AMCMHandle hAMCM, const MBITMAP* pSrc, MBITMAP* pDst, MInt64 lFlip)
{
    if (!pSrc || !pDst)
        return MERR_INVALID_PARAM;
    const MRECT s{0, 0, pSrc->lWidth, pSrc->lHeight}, d{0, 0, pDst->lWidth, pDst->lHeight};
    return MdBitmapCropRotFlipResample(hAMCM, pSrc, pDst, &s, &d, 0, lFlip);
}

} // extern "C"
