// Crop-and-zoom decoding of one rectangle into one caller buffer.
#include <algorithm>
#include <cmath>

#include "CodecInternal.h"
#include "MdImgInfo.h"

using namespace mcodec;

namespace {

MInt64 ceilDiv(MInt64 a, MInt64 b) { return (a + b - 1) / b; }

void trimLineBuf(MCodecRecord* c) {
    if (c->lLineBufSize > 32768) {
        MMgrFree(c->hMemMgr, c->pLineBuf[0]);
        c->pLineBuf[0] = nullptr;
        c->lLineBufSize = 0;
    }
    c->bMemoryReady = 0;
}

MResult cropAndZoomWithAJL(MCodecRecord* c, MRECT src, MRECT zoomed, MByte* buffer, MInt64 pitch, double zoom) {
    double scale = 0.125;
    while (zoom > scale) scale *= 2;
    const MInt64 d = MInt64(1.0 / scale);
    MInt64 wh[2] = {};
    MResult r = compGet(c, MDEC_PROP_IMAGE_SIZE, wh, 16);
    if (r != MOK) return r;
    const MInt64 w = wh[0], h = wh[1];
    if (src.left >= w || src.top >= h) return MERR_INVALID_PARAM;
    // Clipping keeps the zoomed rectangle's origin and shortens it to what the image holds.
    if (src.right > w) {
        src.right = w;
        zoomed.right = zoomed.left + std::max<MInt64>(MInt64((w - src.left) * zoom + 0.5), 1);
    }
    if (src.bottom > h) {
        src.bottom = h;
        zoomed.bottom = zoomed.top + std::max<MInt64>(MInt64((h - src.top) * zoom + 0.5), 1);
    }
    auto finish = [&](MResult res) {
        trimLineBuf(c);
        return res;
    };
    MRECT A{};
    MInt64 rc[4] = {src.left, src.top, src.right, src.bottom};
    if ((r = s_ResetZoomScale(c)) != MOK) return finish(r);
    if ((r = compSet(c, MDEC_PROP_REGION, rc, 32)) != MOK) return finish(r);
    if ((r = compGet(c, MDEC_PROP_REGION, &A, 32)) != MOK) return finish(r);
    MInt64 Z[4] = {src.left, src.top, src.right, src.bottom};
    MdUtilsCalcZoomRegion(Z, scale);
    MInt64 out[2] = {std::max<MInt64>(ceilDiv(src.right, d) - src.left / d, 1),
                     std::max<MInt64>(ceilDiv(src.bottom, d) - src.top / d, 1)};
    if ((r = compSet(c, MDEC_PROP_OUT_SIZE, out, 16)) != MOK) return finish(r);
    if ((r = compGet(c, MDEC_PROP_REGION, &A, 32)) != MOK) return finish(r);
    MCC_Release(c->pMCC);
    c->pMCC = nullptr;
    c->bConverterReady = 0;
    if ((r = InitMemory(c, 1)) != MOK) return finish(r);
    MInt64 first = 0, rows = A.bottom - A.top;
    if ((r = MOld_DecodeScanlines(c, c->pLineBuf, c->lLinePitch, &first, &rows)) != MOK) return finish(r);
    // A is in reduced coordinates after the size was set.
    const MInt64 dy = MInt64((src.top / double(d) - A.top) + 0.5), dx = MInt64((src.left / double(d) - A.left) + 0.5);
    MByte* S[3] = {c->pLineBuf[0] + c->lLinePitch[0] * dy + dx, nullptr, nullptr};
    switch (c->dwSourceColor) {
    case 0x0F:
        for (int k = 1; k < 3; ++k) S[k] = c->pLineBuf[k] + c->lLinePitch[k] * (dy >> 1) + (dx >> 1);
        break;
    case 0x13:
        for (int k = 1; k < 3; ++k) S[k] = c->pLineBuf[k] + c->lLinePitch[k] * (dy >> 1) + dx;
        break;
    case 0x14:
        for (int k = 1; k < 3; ++k) S[k] = c->pLineBuf[k] + c->lLinePitch[k] * dy + (dx >> 1);
        break;
    case 0x15:
        for (int k = 1; k < 3; ++k) S[k] = c->pLineBuf[k] + c->lLinePitch[k] * dy + dx;
        break;
    case 0x1D:
        break;
    default:
        return finish(MERR_UNSUPPORTED);
    }
    std::memset(c->mccParam, 0, sizeof c->mccParam);
    MUtilsFormat2MPixel(c->dwSourceColor, &c->pxSource);
    MUtilsFormat2MPixel(c->dwTargetColor, &c->pxTarget);
    c->pxSource.dwColorID = c->dwSourceColor;
    c->pxTarget.dwColorID = c->dwTargetColor;
    c->mccParam[10] = c->bAlphaSet ? c->dwAlpha : 0xFF;
    const MInt64 zw = zoomed.right - zoomed.left, zh = zoomed.bottom - zoomed.top;
    // Sizes of the two sides: the wanted rectangle and its reduced source.
    MRECT dstSize{0, 0, zw, zh};
    MRECT srcSize{0, 0, std::max<MInt64>(Z[2] - Z[0], 1), std::max<MInt64>(Z[3] - Z[1], 1)};
    MCC m = MCC_Init(c->hComponentMgr, c->mccParam, &dstSize, &c->pxTarget.dwColorID, &srcSize, &c->pxSource.dwColorID,
                     0, 0, c->bHasPngInfo ? 0 : 1);
    if (!m) return finish(MERR_UNSUPPORTED);
    MByte* D[3] = {buffer, nullptr, nullptr};
    MInt64 dp[3] = {pitch, 0, 0};
    MRECT all{0, 0, zw, zh};
    r = MCC_Process(m, D, &all, dp, nullptr, S, c->lLinePitch);
    MCC_Release(m);
    return finish(r);
}

MResult cropAndZoomNormal(MCodecRecord* c, const MRECT& zoomed, MByte* buffer, MInt64 pitch, double zoom) {
    MInt64 wh[2] = {};
    MResult r = compGet(c, MDEC_PROP_IMAGE_SIZE, wh, 16);
    if (r != MOK) return r;
    MInt64 zs[2] = {std::max<MInt64>(MInt64(wh[0] * zoom + 0.5), 1), std::max<MInt64>(MInt64(wh[1] * zoom + 0.5), 1)};
    r = compSet(c, MDEC_PROP_OUT_SIZE, zs, 16);
    if (r != MOK) return r;
    c->lOutWidth = zs[0];
    c->lOutHeight = zs[1];
    c->bMemoryReady = 0;
    MInt64 passes = 0;
    if (compGet(c, MDEC_PROP_PNG_PASSES, &passes, 8) == MOK) {
        MByte none = 0xFF;
        MOld_SetProp(c, MCODEC_PROP_TRANS_INDEX, &none, 1);
    }
    const MInt64 depth = MInt64(MdUtilsGetColorDepth(c->dwTargetColor));
    if (depth <= 0) return MERR_UNSUPPORTED;
    const MInt64 t = ((zs[0] * depth + 31) >> 5) * 4;
    if (zs[1] > (MInt64(1) << 40) / t) return MERR_UNSUPPORTED;
    auto* tmp = static_cast<MByte*>(MMgrAlloc(c->hMemMgr, t * zs[1]));
    if (!tmp) return MERR_NO_MEMORY;
    std::memset(tmp, 0, size_t(t * zs[1]));
    MByte* P[3] = {tmp, nullptr, nullptr};
    MInt64 PP[3] = {t, 0, 0};
    MInt64 first = 0, rows = zs[1];
    r = MOld_DecodeScanlines(c, P, PP, &first, &rows);
    // Rows are copied even after a failure: what was decoded is shown. Only the bytes of the
    // rectangle that lie inside the temporary image are read.
    const MInt64 bpp = depth / 8;
    const MInt64 left = std::min(zoomed.left, zs[0]);
    const MInt64 rowStart = left * bpp;
    const MInt64 copy = std::max<MInt64>(std::min(pitch, t - rowStart), 0);
    MByte* dst = buffer;
    for (MInt64 y = zoomed.top; y < std::min(zoomed.bottom, zs[1]); ++y) {
        std::memcpy(dst, tmp + y * t + rowStart, size_t(copy));
        dst += pitch;
    }
    MMgrFree(c->hMemMgr, tmp);
    return r;
}

} // namespace

extern "C" {

MResult MOld_DecodeData(MHandle h, const MRECT* pRect, MByte* buffer, MInt64 pitch, double zoom) {
    auto* c = rec(h);
    if (!c || !c->pComponent || !c->bDecoder || zoom > 1.0) return MERR_REGISTRATION;
    if (!buffer || !(zoom > 0.0) || pitch < 1) return MERR_INVALID_PARAM;
    MRECT src{};
    if (pRect) {
        src = *pRect;
    } else {
        MInt64 wh[2] = {};
        MResult r = compGet(c, MDEC_PROP_IMAGE_SIZE, wh, 16);
        if (r != MOK) return r;
        src = {0, 0, wh[0], wh[1]};
    }
    if (src.left < 0 || src.top < 0 || src.right <= src.left || src.bottom <= src.top) return MERR_INVALID_PARAM;
    MInt64 z[4] = {src.left, src.top, src.right, src.bottom};
    MdUtilsCalcZoomRegion(z, zoom);
    MRECT zoomed{z[0], z[1], std::max(z[2], z[0] + 1), std::max(z[3], z[1] + 1)};
    // One buffer holds one plane: planar output colours cannot be delivered this way.
    if (MUtilsGetColorSpacePanes(c->dwTargetColor) != 1) return MERR_UNSUPPORTED;
    if (c->dwTypeID == AMCM_CID_JPEG_DECODER) return cropAndZoomWithAJL(c, src, zoomed, buffer, pitch, zoom);
    // The components deliver the top row first already; flipping their row order here would
    // hand the caller an upside-down picture.
    return cropAndZoomNormal(c, zoomed, buffer, pitch, zoom);
}

MResult MCodec_DecodeData(MHandle h, const MRECT* pRect, MByte* buffer, MInt64 pitch, double zoom) {
    return MOld_DecodeData(h, pRect, buffer, pitch, zoom);
}

} // extern "C"
