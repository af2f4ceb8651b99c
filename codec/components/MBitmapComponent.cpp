// In-memory bitmap component: lets the decoding framework read an MBITMAP like an image file.
// Nothing is decoded; a rectangle of the source planes is copied out.
#include <algorithm>

#include "ComponentCommon.h"
#include "MdBitmap.h"
#include "MdColorID.h"

namespace {

using mdcomp::put;

struct MBitmapComponent {
    MDecComponentHead head;
    const MBITMAP* pSource;
    MInt64 lBands;
    MInt64 bBandMode;
    MInt64 lWidth, lHeight;
    MInt64 lBits;
    MHandle hMemMgr;
    MRECT region;
    MDecComponentFuncs table;
};

MBitmapComponent* self(MHandle h) { return static_cast<MBitmapComponent*>(h); }

MResult s_Init(MHandle h, MVoid* source) {
    auto* c = self(h);
    if (!c || !source) return MERR_INVALID_PARAM;
    auto* bmp = static_cast<const MBITMAP*>(source);
    MUInt64 bits = 0;
    MResult r = MdUtilsFormatColorID(bmp->dwPixelArrayFormat, nullptr, nullptr, &bits, nullptr);
    if (r != MOK) return r;
    if (bmp->lWidth < 1 || bmp->lHeight < 1) return MERR_INVALID_PARAM;
    c->pSource = bmp;
    c->lWidth = bmp->lWidth;
    c->lHeight = bmp->lHeight;
    c->lBits = MInt64(bits);
    c->region = {0, 0, bmp->lWidth, bmp->lHeight};
    c->bBandMode = 0;
    c->lBands = 0;
    return MOK;
}

MResult s_Destroy(MHandle h) {
    auto* c = self(h);
    if (!c) return MERR_INVALID_PARAM;
    if (c->hMemMgr) MMgrUninit(c->hMemMgr);
    mdcomp::destroy(c);
    return MOK;
}

MResult s_GetProp(MHandle h, MInt64 id, MVoid* buf, MInt64 size) {
    auto* c = self(h);
    if (!c || !buf) return MERR_INVALID_PARAM;
    switch (id) {
    case MDEC_PROP_DELIVERY:
        if (size != 8) return MERR_INVALID_PARAM;
        put<MInt64>(buf, 4);
        return MOK;
    case MDEC_PROP_IMAGE_SIZE:
    case MDEC_PROP_OUT_SIZE:
        return mdcomp::sizeAnswer(buf, size, c->lWidth, c->lHeight);
    case MDEC_PROP_BITS:
        if (size != 8) return MERR_INVALID_PARAM;
        put(buf, c->lBits);
        return MOK;
    case MDEC_PROP_REGION:
        if (size != 32) return MERR_INVALID_PARAM;
        std::memcpy(buf, &c->region, 32);
        return MOK;
    case MDEC_PROP_COLOR:
        if (size != 8 || !c->pSource) return MERR_INVALID_PARAM;
        put<MUInt64>(buf, MdUtilsNewColorID2Old(c->pSource->dwPixelArrayFormat));
        return MOK;
    default:
        return MERR_INVALID_PARAM;
    }
}

MResult s_SetProp(MHandle h, MInt64 id, MVoid* buf, MInt64 size) {
    auto* c = self(h);
    if (!c || size < 8) return MERR_INVALID_PARAM;
    switch (id) {
    case MDEC_PROP_DELIVERY:
    case MDEC_PROP_IMAGE_SIZE:
    case MDEC_PROP_BITS:
        return MERR_UNSUPPORTED;
    case MDEC_PROP_REGION: {
        if (size != 32 || !buf) return MERR_INVALID_PARAM;
        MRECT r;
        std::memcpy(&r, buf, 32);
        // An empty or inverted rectangle would make the copy walk backwards; refuse it too.
        if (r.left < 0 || r.top < 0 || r.right > c->lWidth || r.bottom > c->lHeight || r.right < r.left ||
            r.bottom < r.top)
            return MERR_INVALID_PARAM;
        c->region = r;
        return MOK;
    }
    case MDEC_PROP_OUT_SIZE: {
        if (size != 16 || !buf) return MERR_INVALID_PARAM;
        auto* w = static_cast<MInt64*>(buf);
        return (w[0] == c->lWidth && w[1] == c->lHeight) ? MOK : MERR_UNSUPPORTED;
    }
    case MDEC_PROP_BANDS:
        if (!buf || size % MInt64(sizeof(MBITMAP)) != 0) return MERR_INVALID_PARAM;
        c->pSource = static_cast<const MBITMAP*>(buf);
        c->lBands = size / MInt64(sizeof(MBITMAP));
        c->bBandMode = 1;
        return MOK;
    default:
        return MERR_INVALID_PARAM;
    }
}

MResult s_DecScanlines(MHandle h, MByte** planes, MInt64* pitches, MInt64*, MInt64*) {
    auto* c = self(h);
    if (!c || !c->pSource) return MERR_REGISTRATION;
    if (!planes || !pitches || !planes[0]) return MERR_INVALID_PARAM;
    const MBITMAP* src = c->pSource;
    MUInt64 hs = 1, vs = 1, bits = 0, np = 1;
    MResult r = MdUtilsFormatColorID(src->dwPixelArrayFormat, &hs, &vs, &bits, &np);
    if (r != MOK) return r;
    const MInt64 l = c->region.left, t = c->region.top, rr = c->region.right, b = c->region.bottom;
    const MInt64 B = MInt64(bits) / 8;
    const MInt64 rowBytes = (((rr - l) * MInt64(bits) + 31) >> 5) * 4;
    // A row may not be wider than the source row it is read from.
    const MInt64 srcRowEnd = l * B + rowBytes;
    const bool clipRow = srcRowEnd > src->lPitch[0];
    const MInt64 copyBytes = clipRow ? src->lPitch[0] - l * B : rowBytes;
    const MInt64 perBand = c->bBandMode ? c->lHeight / c->lBands : c->lHeight;
    if (perBand < 1) return MERR_INVALID_PARAM;
    MInt64 band = t / perBand;
    if (c->bBandMode && band >= c->lBands) return MERR_INVALID_PARAM;
    const MByte* s0 = src[band].pPlane[0] + (t - band * perBand) * src[band].lPitch[0] + l * B;
    MInt64 sp = src[band].lPitch[0];
    MByte* d = planes[0];
    for (MInt64 y = 0; y < b - t; ++y) {
        std::memcpy(d, s0, size_t(copyBytes));
        d += pitches[0];
        s0 += sp;
        if (c->bBandMode && t + y + 1 == perBand * (band + 1) && band + 1 < c->lBands) {
            ++band;
            s0 = src[band].pPlane[0] + l * B;
            sp = src[band].lPitch[0];
        }
    }
    if (np == 3) {
        // Chroma rows follow the luma rows through the bands the same way.
        const MInt64 hsub = MInt64(hs), vsub = MInt64(vs);
        for (int k = 1; k < 3; ++k) {
            if (!planes[k]) continue;
            MInt64 cband = t / perBand;
            const MBITMAP* sb = &src[cband];
            if (!sb->pPlane[k]) continue;
            const MInt64 cb = std::min<MInt64>((((rr - l) / hsub) * MInt64(bits) + 31) / 32 * 32 / 8,
                                               sb->lPitch[k] - (l / hsub) * B);
            const MByte* s = sb->pPlane[k] + ((t - cband * perBand) / vsub) * sb->lPitch[k] + (l / hsub) * B;
            MInt64 spk = sb->lPitch[k];
            MByte* dd = planes[k];
            for (MInt64 y = 0; y < (b - t) / vsub; ++y) {
                std::memcpy(dd, s, size_t(std::max<MInt64>(cb, 0)));
                dd += pitches[k];
                s += spk;
                if (c->bBandMode && (y + 1) * vsub + t >= perBand * (cband + 1) && cband + 1 < c->lBands) {
                    ++cband;
                    if (!src[cband].pPlane[k]) break;
                    s = src[cband].pPlane[k] + (l / hsub) * B;
                    spk = src[cband].lPitch[k];
                }
            }
        }
    }
    return MOK;
}

const MDecComponentFuncs kFuncs = {s_Init, s_Destroy, mdcomp::typeID<AMCM_CID_MEMBITMAP_DECODER>,
                                   mdcomp::versionOp, s_GetProp, s_SetProp, s_DecScanlines};

} // namespace

extern "C" MResult MDecoder_MBitmapCreate(AMCMHandle hAMCM, MHandle* phInstance) {
    return mdcomp::createWithMemMgr<MBitmapComponent>(hAMCM, phInstance, kFuncs);
}
