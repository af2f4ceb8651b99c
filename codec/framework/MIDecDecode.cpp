// Decode path of a direct image decoder: the component scales by itself where it can, decodes
// only the block a band needs into a decode buffer, and post-processing converts, resamples,
// turns and mirrors it into the caller's planes.
#include <algorithm>

#include "MIDecInternal.h"
#include "MPP.h"

namespace {

MResult compGet(MIDecRecord* d, MInt64 id, MVoid* v, MInt64 n) {
    return MDEC_FUNCS(d->pComponent)->s_GetProp(d->pComponent, id, v, n);
}
MResult compSet(MIDecRecord* d, MInt64 id, MVoid* v, MInt64 n) {
    return MDEC_FUNCS(d->pComponent)->s_SetProp(d->pComponent, id, v, n);
}

bool swapsAxes(MUInt32 t) { return t == 3 || t == 5 || t == 6 || t == 7; }

// While a reduced JPEG decode into a colour other than YUV runs, the component delivers
// subsampled chroma at the reduced luma's size (4:4:4), each sample the average of its own
// pixel's area; the decoder's own layout is put back when the call ends.
struct WideChroma {
    MIDecRecord* d = nullptr;
    MUInt64 color = 0, desc[4] = {};
    WideChroma() = default;
    WideChroma(const WideChroma&) = delete;
    WideChroma& operator=(const WideChroma&) = delete;
    void begin(MIDecRecord* rec) {
        MUInt64 old = 0;
        if (compGet(rec, MDEC_PROP_COLOR, &old, 8) != MOK || !(old == 0x0F || old == 0x13 || old == 0x14)) return;
        MInt64 on = 1;
        if (compSet(rec, MDEC_PROP_JPEG_WIDE_CHROMA, &on, 8) != MOK) return;
        d = rec;
        color = d->dwNativeColor;
        std::copy(d->nativeDesc, d->nativeDesc + 4, desc);
        if (compGet(d, MDEC_PROP_COLOR, &old, 8) != MOK || old != 0x15) return;
        d->dwNativeColor = (MdUtilsOldColorID2New(0x15) & ~MUInt64(0x3000)) | (color & MUInt64(0x3000));
        MdUtilsFormatColorID(d->dwNativeColor, &d->nativeDesc[0], &d->nativeDesc[1], &d->nativeDesc[2],
                             &d->nativeDesc[3]);
    }
    ~WideChroma() {
        if (!d) return;
        MInt64 off = 0;
        compSet(d, MDEC_PROP_JPEG_WIDE_CHROMA, &off, 8);
        d->dwNativeColor = color;
        std::copy(desc, desc + 4, d->nativeDesc);
    }
};

struct Scale {
    MInt64 sx = 1, sy = 1;
};

MResult zoomScaleDecision(MIDecRecord* d, Scale* sc) {
    const MInt64 srcW = d->rcSource.right - d->rcSource.left, srcH = d->rcSource.bottom - d->rcSource.top;
    const bool swap = swapsAxes(d->dwOrientType);
    const MInt64 tw = swap ? d->lOutHeight : d->lOutWidth, th = swap ? d->lOutWidth : d->lOutHeight;
    const double s = std::max(double(tw) / double(srcW), double(th) / double(srcH));
    if (d->dwComponentID != AMCM_CID_GENERIC_DECODER && (d->lImgType == 2 || d->lImgType == 0x1000)) {
        MInt64 den = 1;
        if (d->lImgType == 2 && d->lOutWidth > 15 && d->lOutHeight > 15)
            den = s <= 0.125 ? 8 : s <= 0.25 ? 4 : s <= 0.5 ? 2 : 1;
        MInt64 whole[4] = {0, 0, d->lImgWidth, d->lImgHeight};
        MResult r = compSet(d, MDEC_PROP_REGION, whole, 32);
        if (r != MOK) return r;
        MInt64 wh[2] = {(d->lImgWidth + den - 1) / den, (d->lImgHeight + den - 1) / den};
        r = compSet(d, MDEC_PROP_OUT_SIZE, wh, 16);
        if (r != MOK) return r;
        d->rcDecoded = {d->rcSource.left / den, d->rcSource.top / den, (d->rcSource.right + den - 1) / den,
                        (d->rcSource.bottom + den - 1) / den};
        d->lDecodedW = d->rcDecoded.right - d->rcDecoded.left;
        d->lDecodedH = d->rcDecoded.bottom - d->rcDecoded.top;
        // The source region reaches (right - left) / den decoded columns, a whole number only
        // when the region is a multiple of the reduction.
        const MInt64 coveredW = ((d->rcSource.right - d->rcSource.left) << 16) / den;
        const MInt64 coveredH = ((d->rcSource.bottom - d->rcSource.top) << 16) / den;
        d->lCoveredW = coveredW == d->lDecodedW << 16 ? 0 : coveredW;
        d->lCoveredH = coveredH == d->lDecodedH << 16 ? 0 : coveredH;
        sc->sx = sc->sy = den;
        return MOK;
    }
    MInt64 wh[2] = {tw, th};
    MResult r = compSet(d, MDEC_PROP_OUT_SIZE, wh, 16);
    if (r != MOK) return r;
    d->lDecodedW = tw;
    d->lDecodedH = th;
    d->lCoveredW = d->lCoveredH = 0;
    d->rcDecoded = {0, 0, tw, th};
    sc->sx = std::max<MInt64>(d->lImgWidth / tw, 1);
    sc->sy = std::max<MInt64>(d->lImgHeight / th, 1);
    return MOK;
}

bool supportedDecScale(MIDecRecord* d) {
    MInt64 cur[2] = {};
    if (compGet(d, MDEC_PROP_OUT_SIZE, cur, 16) != MOK) return false;
    if (cur[0] == d->lOutWidth && cur[1] == d->lOutHeight && d->lDecodedW == d->lOutWidth &&
        d->lDecodedH == d->lOutHeight)
        return true;
    const MInt64 sw = d->rcSource.right - d->rcSource.left, sh = d->rcSource.bottom - d->rcSource.top;
    if (d->lImgType == 0x1000) return sw == d->lOutWidth && sh == d->lOutHeight;
    if (d->lImgType == 2) {
        for (MInt64 f = 1; f <= 8; f *= 2)
            if (sw == d->lOutWidth * f && sh == d->lOutHeight * f) return d->lDecodedW == d->lOutWidth;
        return false;
    }
    return false;
}

MResult lockPP(MIDecRecord* d, PPHandle* hPP) {
    // Both sides keep their true sizes: a turn or a mirror must move pixels, never resample them.
    const MInt64 tw = d->lOutWidth, th = d->lOutHeight, sw = d->lDecodedW, sh = d->lDecodedH;
    PPFormat dst{MInt64(d->dwOutColor), tw, th, nullptr};
    PPFormat src{MInt64(d->dwNativeColor), sw, sh, nullptr};
    if (d->lResizeAlg == 8) {
        const MInt64 a[3] = {dst.lColorID, tw, th}, b[3] = {src.lColorID, sw, sh};
        s_SetReizeAlgorithm(&d->lResizeAlg, a, b);
    }
    PPPara para{};
    para.lResampleMode = d->lResizeAlg;
    MInt64 o = d->lRotation == 90 ? 3 : d->lRotation == 180 ? 6 : d->lRotation == 270 ? 5 : 0;
    if (d->lFlip == 1) o ^= 2;
    if (d->lFlip == 2) o ^= 4;
    para.lOrientation = o;
    para.lBlockMode = PP_BLOCK_AUTO;
    para.lAlpha = d->bPPAlphaSet ? d->lPPAlpha : 255;
    // A partly covered last column or row is resampled as the part of a pixel that it is.
    return MdPPWrapperCreateWithExtent(d->hAMCM, &d->pPPWrapper, &dst, &src, &para, d->lCoveredW, d->lCoveredH, hPP);
}

void unlockPP(MIDecRecord* d) {
    MdPPWrapperDestroy(d->pPPWrapper);
    d->pPPWrapper = nullptr;
}

// Full-image region of a rectangle in decoded coordinates, set on the component and read back
// aligned to its blocks.
MResult alignedRegion(MIDecRecord* d, const Scale& sc, MRECT* r) {
    MInt64 full[4] = {std::max<MInt64>(0, r->left * sc.sx), std::max<MInt64>(0, r->top * sc.sy),
                      std::min(r->right * sc.sx, d->lImgWidth), std::min(r->bottom * sc.sy, d->lImgHeight)};
    MResult e = compSet(d, MDEC_PROP_REGION, full, 32);
    if (e != MOK) return e;
    return compGet(d, MDEC_PROP_REGION, r, 32);
}

MResult lockBuffer(MIDecRecord* d, const MRECT& region, MByte** planes, MInt64* pitches) {
    MInt64 w = region.right - region.left, h = region.bottom - region.top;
    MInt64 align[2] = {};
    if (compGet(d, MDEC_PROP_ALIGNMENT, align, 16) != MOK) align[0] = align[1] = 0;
    const MInt64 ah = std::max<MInt64>(align[0], 1), av = std::max<MInt64>(align[1], 1);
    // Whole blocks are written even where the image ends, so one block more is kept on each axis.
    w = (w + ah - 1) / ah * ah + (ah > 1 ? ah : 0);
    h = (h + av - 1) / av * av + (av > 1 ? av : 0);
    if (w < 1 || h < 1 || w > (MInt64(1) << 28) / h) return MERR_UNSUPPORTED;
    MIDecBuffer& b = d->buffers[d->lCurrent % 2];
    const MInt64 bpp = MInt64(d->nativeDesc[2]), np = MInt64(d->nativeDesc[3]);
    const MInt64 hs = std::max<MInt64>(MInt64(d->nativeDesc[0]), 1), vs = std::max<MInt64>(MInt64(d->nativeDesc[1]), 1);
    MInt64 p0;
    if (MCOLOR_CLASS(d->dwNativeColor) == MCOLOR_CLASS_RGB || bpp > 8) p0 = ((bpp * w + 31) >> 5) * 4;
    else p0 = (w + 15) / 16 * 16;
    const MInt64 p1 = np == 3 ? p0 / hs : 0;
    const MInt64 need = p0 * h + 2 * ((h + vs - 1) / vs) * p1;
    if (b.lCapacity < need) {
        MMgrFree(d->hMemMgr, b.pBlock);
        b.pBlock = nullptr;
        b.lCapacity = 0;
        b.pPlane[0] = b.pPlane[1] = b.pPlane[2] = nullptr;
        b.pBlock = static_cast<MByte*>(MMgrAlloc(d->hMemMgr, need));
        if (!b.pBlock) return MERR_NO_MEMORY;
        b.lCapacity = need;
    }
    b.region = region;
    b.pPlane[0] = b.pBlock;
    b.lSize[0] = p0 * h;
    b.lPitch[0] = p0;
    if (np == 3) {
        b.lSize[1] = b.lSize[2] = ((h + vs - 1) / vs) * p1;
        b.pPlane[1] = b.pPlane[0] + b.lSize[0];
        b.pPlane[2] = b.pPlane[1] + b.lSize[1];
        b.lPitch[1] = b.lPitch[2] = p1;
    } else {
        b.lSize[1] = b.lSize[2] = 0;
        b.pPlane[1] = b.pPlane[2] = nullptr;
        b.lPitch[1] = b.lPitch[2] = 0;
    }
    std::copy(b.pPlane, b.pPlane + 3, planes);
    std::copy(b.lPitch, b.lPitch + 3, pitches);
    return MOK;
}

MRECT intersect(const MRECT& a, const MRECT& b) {
    return {std::max(a.left, b.left), std::max(a.top, b.top), std::min(a.right, b.right), std::min(a.bottom, b.bottom)};
}

// The previous decode can serve part of this one when the move between the two is purely
// vertical or purely horizontal and they overlap without this one reaching past both sides.
bool backupServes(const MRECT& N, const MRECT& P) {
    const bool wDiff = (N.right - N.left) != (P.right - P.left), hDiff = (N.bottom - N.top) != (P.bottom - P.top);
    if (wDiff && hDiff) return false;
    if ((N.left != P.left || N.right != P.right) && (N.top != P.top || N.bottom != P.bottom)) return false;
    if (!(N.left < P.right && N.right > P.left && N.top < P.bottom && N.bottom > P.top)) return false;
    if (N.top < P.top && N.bottom > P.bottom) return false;
    if (N.left < P.left && N.right > P.right) return false;
    return true;
}

MResult setRegionFrom(MIDecRecord* d, const Scale& sc, const MRECT& r, MRECT* accepted) {
    MRECT a = r;
    MResult e = alignedRegion(d, sc, &a);
    if (accepted) *accepted = a;
    return e;
}

MResult decodeInto(MIDecRecord* d, MByte** planes, MInt64* pitches) {
    MInt64 s0 = 0, s1 = 1;
    return MDEC_FUNCS(d->pComponent)->s_DecScanlines(d->pComponent, planes, pitches, &s0, &s1);
}

// Decodes N into the current buffer, copying what the backup buffer already holds and decoding
// only the strip that is new.
MResult getDecData(MIDecRecord* d, const Scale& sc, const MRECT& N, MByte** dst, MInt64* dpitch) {
    MIDecBuffer& bak = d->buffers[d->lBackup % 2];
    const MRECT P = bak.region;
    const bool usable = d->bRegionDecoding && bak.bValid && bak.pBlock && bak.lScale == sc.sx &&
                        bak.dwColor == d->dwNativeColor && backupServes(N, P);
    if (!usable) return decodeInto(d, dst, dpitch);
    const MRECT I = intersect(N, P);
    const bool horizontal = N.top == P.top && N.bottom == P.bottom;
    int dir;
    if (horizontal) dir = N.left > P.left ? 3 : (N.right > P.left ? 2 : 3);
    else dir = N.top > P.top ? 1 : (N.bottom > P.top ? 0 : 1);
    const MInt64 oh = I.bottom - I.top, ow = I.right - I.left;
    MRECT strip = N;
    switch (dir) {
    case 0: if (I.bottom == N.bottom) strip.bottom = N.bottom - oh; else strip.top = N.top + oh; break;
    case 1: if (I.top == N.top) strip.top = N.top + oh; else strip.bottom = N.bottom - oh; break;
    case 2: if (I.right == N.right) strip.right = N.right - ow; else strip.left = N.left + ow; break;
    default: if (I.left == N.left) strip.left = N.left + ow; else strip.right = N.right - ow; break;
    }
    const bool empty = strip.right <= strip.left || strip.bottom <= strip.top;
    if (!empty) {
        // The strip must come back exactly: a widened one would be written over the overlap.
        MRECT accepted{};
        MResult r = setRegionFrom(d, sc, strip, &accepted);
        if (r != MOK) return r;
        if (accepted.left != strip.left || accepted.top != strip.top || accepted.right != strip.right ||
            accepted.bottom != strip.bottom) {
            r = setRegionFrom(d, sc, N, nullptr);
            return r == MOK ? decodeInto(d, dst, dpitch) : r;
        }
    }
    const MInt64 bpp = std::max<MInt64>(MInt64(d->nativeDesc[2]) / 8, 1);
    const MInt64 hs = std::max<MInt64>(MInt64(d->nativeDesc[0]), 1), vs = std::max<MInt64>(MInt64(d->nativeDesc[1]), 1);
    const bool three = d->nativeDesc[3] == 3;
    if (!horizontal) {
        std::memmove(dst[0] + (I.top - N.top) * dpitch[0], bak.pPlane[0] + (I.top - P.top) * bak.lPitch[0],
                     size_t(oh * std::min(dpitch[0], bak.lPitch[0])));
        if (three)
            for (int k = 1; k < 3; ++k)
                std::memmove(dst[k] + (I.top - N.top) / vs * dpitch[k], bak.pPlane[k] + (I.top - P.top) / vs * bak.lPitch[k],
                             size_t((oh + vs - 1) / vs * std::min(dpitch[k], bak.lPitch[k])));
    } else {
        for (MInt64 y = 0; y < N.bottom - N.top; ++y)
            std::memmove(dst[0] + y * dpitch[0] + (I.left - N.left) * bpp,
                         bak.pPlane[0] + y * bak.lPitch[0] + (I.left - P.left) * bpp, size_t(ow * bpp));
        if (three)
            for (int k = 1; k < 3; ++k)
                for (MInt64 y = 0; y < (N.bottom - N.top + vs - 1) / vs; ++y)
                    std::memmove(dst[k] + y * dpitch[k] + (I.left - N.left) / hs * bpp,
                                 bak.pPlane[k] + y * bak.lPitch[k] + (I.left - P.left) / hs * bpp,
                                 size_t((ow + hs - 1) / hs * bpp));
    }
    if (empty) return MOK;
    MByte* at[3] = {dst[0] + (strip.top - N.top) * dpitch[0] + (strip.left - N.left) * bpp, nullptr, nullptr};
    if (three)
        for (int k = 1; k < 3; ++k)
            at[k] = dst[k] + (strip.top - N.top) / vs * dpitch[k] + (strip.left - N.left) / hs * bpp;
    MInt64 pitch[3] = {dpitch[0], dpitch[1], dpitch[2]};
    return decodeInto(d, at, pitch);
}

} // namespace

MResult s_MIDec_Scanlines(MIDecRecord* d, MByte** planes, MInt64* pitches, MInt64* start, MInt64* count) {
    if (!d || !planes || !count || !pitches || !planes[0]) return MERR_INVALID_PARAM;
    const MRECT o = d->rcOut;
    if (!(0 <= o.left && o.left < o.right && o.right <= d->lOutWidth && 0 <= o.top && o.top < o.bottom &&
          o.bottom <= d->lOutHeight))
        return MERR_REGISTRATION;
    if (!d->pComponent) return MERR_CODEC_NOT_OPEN;
    Scale sc;
    MResult r = zoomScaleDecision(d, &sc);
    if (r != MOK) return r;
    WideChroma wide;
    if (sc.sx > 1 && d->dwComponentID == AMCM_CID_JPEG_DECODER && !mcodec::isYUV(d->dwOutColor)) wide.begin(d);
    const MInt64 done = start ? *start : 0;
    MInt64 first = std::clamp<MInt64>(o.top + done, 0, o.bottom);
    if (o.top + *count == o.bottom) first = o.top;
    const MRECT band{o.left, first, o.right, std::min(o.bottom, first + *count)};
    if (band.bottom <= band.top) return MOK;
    const bool needPP = d->dwNativeColor != d->dwOutColor || d->lRotation || d->lFlip || !supportedDecScale(d);
    PPHandle hPP = nullptr;
    MRECT src = band;
    if (needPP) {
        r = lockPP(d, &hPP);
        if (r == MOK) {
            src = {};
            MRECT b = band;
            r = MPPAlign(hPP, &b, &src);
        }
        if (r != MOK) {
            unlockPP(d);
            return r;
        }
    }
    src.left += d->rcDecoded.left;
    src.right += d->rcDecoded.left;
    src.top += d->rcDecoded.top;
    src.bottom += d->rcDecoded.top;
    MRECT dec = src;
    if (d->bRegionDecoding) {
        r = alignedRegion(d, sc, &dec);
    } else if (!(dec.left == 0 && dec.top == 0 && dec.right == d->lDecodedW && dec.bottom == d->lDecodedH)) {
        r = MERR_INVALID_PARAM;
    }
    MByte* bp[3] = {};
    MInt64 bpitch[3] = {};
    // Components write whole blocks, so only the in-memory bitmap, whose copy is exact, may
    // write straight into the caller's planes.
    const bool crop = !(o.left == 0 && o.top == 0 && o.right == d->lOutWidth && o.bottom == d->lOutHeight);
    d->bDirectOutput = !needPP && !crop && d->lImgType == 0x1000 && band.top == 0 && band.bottom == d->lOutHeight;
    bool usedBuffer = false;
    if (r == MOK) {
        if (d->bDirectOutput) {
            std::copy(planes, planes + 3, bp);
            std::copy(pitches, pitches + 3, bpitch);
        } else {
            r = lockBuffer(d, dec, bp, bpitch);
            usedBuffer = r == MOK;
        }
    }
    if (r == MOK) r = usedBuffer ? getDecData(d, sc, dec, bp, bpitch) : decodeInto(d, bp, bpitch);
    MIDecBuffer& cur = d->buffers[d->lCurrent % 2];
    if (usedBuffer) {
        cur.bValid = r == MOK;
        cur.lScale = sc.sx;
        cur.dwColor = d->dwNativeColor;
    }
    const MInt64 nbpp = std::max<MInt64>(MInt64(d->nativeDesc[2]) / 8, 1);
    const MInt64 nhs = std::max<MInt64>(MInt64(d->nativeDesc[0]), 1), nvs = std::max<MInt64>(MInt64(d->nativeDesc[1]), 1);
    const bool native3 = d->nativeDesc[3] == 3;
    if (r == MOK && needPP) {
        MByte* S[3] = {bp[0] - (dec.top - d->rcDecoded.top) * bpitch[0] - (dec.left - d->rcDecoded.left) * nbpp,
                       nullptr, nullptr};
        if (native3)
            for (int k = 1; k < 3; ++k)
                S[k] = bp[k] - ((dec.top - d->rcDecoded.top) / nvs) * bpitch[k] -
                       ((dec.left - d->rcDecoded.left) / nhs) * nbpp;
        const MInt64 obpp = std::max<MInt64>(MInt64(d->outDesc[2]) / 8, 1);
        const MInt64 ohs = std::max<MInt64>(MInt64(d->outDesc[0]), 1), ovs = std::max<MInt64>(MInt64(d->outDesc[1]), 1);
        MByte* D[3] = {planes[0] - band.top * pitches[0] - band.left * obpp, nullptr, nullptr};
        if (d->outDesc[3] == 3)
            for (int k = 1; k < 3; ++k)
                if (planes[k]) D[k] = planes[k] - (band.top / ovs) * pitches[k] - (band.left / ohs) * obpp;
        r = MPProcess(hPP, D, &band, pitches, S, bpitch);
        if (r == MOK)
            mcodec::fillAlpha(D[0], pitches[0], band, mcodec::constantAlphaByte(d->dwOutColor, d->dwNativeColor),
                              mcodec::alphaByteValue(d->bPPAlphaSet, d->lPPAlpha));
    } else if (r == MOK && !d->bDirectOutput) {
        const MInt64 rows = band.bottom - band.top, bytes = (band.right - band.left) * nbpp;
        const MByte* s0 = bp[0] + (src.top - dec.top) * bpitch[0] + (src.left - dec.left) * nbpp;
        MByte* d0 = planes[0];
        for (MInt64 y = 0; y < rows; ++y) {
            std::memcpy(d0, s0, size_t(bytes));
            d0 += pitches[0];
            s0 += bpitch[0];
        }
        if (d->outDesc[3] == 3 && native3) {
            const MInt64 crow = (rows + nvs - 1) / nvs, cbytes = ((band.right - band.left + nhs - 1) / nhs) * nbpp;
            for (int k = 1; k < 3; ++k) {
                if (!planes[k]) continue;
                const MByte* sk = bp[k] + ((src.top - dec.top) / nvs) * bpitch[k] + ((src.left - dec.left) / nhs) * nbpp;
                MByte* dk = planes[k];
                for (MInt64 y = 0; y < crow; ++y) {
                    std::memcpy(dk, sk, size_t(cbytes));
                    dk += pitches[k];
                    sk += bpitch[k];
                }
            }
        }
    }
    if (needPP) unlockPP(d);
    if (usedBuffer) {
        d->lBackup = (d->lBackup + 1) % 2;
        d->lCurrent = (d->lCurrent + 1) % 2;
    }
    return r;
}
