// Zoom path of the scanline driver: a region of the zoomed image, decoded band by band at the
// component's power-of-two reduction and finished by the post-processing engine.
#include <algorithm>

#include "CodecInternal.h"
#include "MPP.h"

using namespace mcodec;

namespace {

// The rows a band works from: rect in reduced coordinates, planes addressing rect's top-left.
struct Block {
    MByte* planes[3] = {};
    MInt64 pitches[3] = {};
    MRECT rect{};
};

MInt64 ceilDiv(MInt64 a, MInt64 b) { return (a + b - 1) / b; }

// The source colour of a handle while a reduced JPEG decode delivers its chroma at the luma
// plane's size (4:4:4), put back with the component's own layout when the decode ends.
struct WideChroma {
    MCodecRecord* c = nullptr;
    MUInt64 source = 0, zoomSource = 0;
    MInt64 h = 0, v = 0, bpp = 0, planes = 0;
    WideChroma() = default;
    WideChroma(const WideChroma&) = delete;
    WideChroma& operator=(const WideChroma&) = delete;
    void begin(MCodecRecord* rec) {
        MInt64 on = 1;
        if (compSet(rec, MDEC_PROP_JPEG_WIDE_CHROMA, &on, 8) != MOK) return;
        c = rec;
        source = c->dwSourceColor;
        zoomSource = c->dwZoomSrcColor;
        h = c->lSrcHSub;
        v = c->lSrcVSub;
        bpp = c->lSrcBpp;
        planes = c->lSrcPlanes;
        c->dwSourceColor = 0x15;
        describe(0x15, &c->dwZoomSrcColor, &c->lSrcHSub, &c->lSrcVSub, &c->lSrcBpp, &c->lSrcPlanes);
        if (c->bYUVRangeSet) c->dwZoomSrcColor = (c->dwZoomSrcColor & ~MUInt64(0x3000)) | c->dwYUVRange;
    }
    ~WideChroma() {
        if (!c) return;
        MInt64 off = 0;
        compSet(c, MDEC_PROP_JPEG_WIDE_CHROMA, &off, 8);
        c->dwSourceColor = source;
        c->dwZoomSrcColor = zoomSource;
        c->lSrcHSub = h;
        c->lSrcVSub = v;
        c->lSrcBpp = bpp;
        c->lSrcPlanes = planes;
    }
};

void copyRows(MCodecRecord* c, const MCodecCache& from, MInt64 fromRow, MByte** to, const MInt64* toPitch, MInt64 toRow,
              MInt64 rows) {
    for (MInt64 y = 0; y < rows; ++y)
        std::memcpy(to[0] + (toRow + y) * toPitch[0], from.pPlane[0] + (fromRow + y) * from.lPitch[0],
                    size_t(std::min(toPitch[0], from.lPitch[0])));
    if (c->lSrcPlanes != 3) return;
    const MInt64 v = std::max<MInt64>(c->lSrcVSub, 1);
    for (int k = 1; k < 3; ++k) {
        if (!to[k] || !from.pPlane[k]) continue;
        for (MInt64 y = 0; y < rows / v; ++y)
            std::memcpy(to[k] + (toRow / v + y) * toPitch[k], from.pPlane[k] + (fromRow / v + y) * from.lPitch[k],
                        size_t(std::min(toPitch[k], from.lPitch[k])));
    }
}

// Makes the rows of A (reduced coordinates, whole MCUs) available in the handle's cache:
// rows it already holds for the same columns, reduction and colour are kept, and only the rows
// below them are decoded. The cache then is the band's block and stays for the next band and
// the next call.
MResult fillBlock(MCodecRecord* c, const MRECT& A, const MRECT& img, const MInt64 mcu[2], MInt64 d, Block* block) {
    MCodecCache& k = c->cache;
    const bool sameShape = c->bCacheValid && k.pPlane[0] && k.lShift == c->lScaleShift && k.dwColor == c->dwSourceColor &&
                           c->rcCache.left == A.left && c->rcCache.right == A.right;
    const MInt64 mw = std::max<MInt64>(mcu[0] / d, 1), mh = std::max<MInt64>(mcu[1] / d, 1);
    auto point = [&](const MCodecCache& from, MInt64 top) {
        const MInt64 off = top - c->rcCache.top;
        block->planes[0] = from.pPlane[0] + off * from.lPitch[0];
        const MInt64 v = std::max<MInt64>(c->lSrcVSub, 1);
        for (int i = 1; i < 3; ++i) block->planes[i] = from.pPlane[i] ? from.pPlane[i] + off / v * from.lPitch[i] : nullptr;
        std::copy(from.lPitch, from.lPitch + 3, block->pitches);
    };
    if (sameShape && A.top >= c->rcCache.top && A.bottom <= c->rcCache.bottom) {
        block->rect = A;
        point(k, A.top);
        return MOK;
    }
    // Kept rows: the part of the cache from A's top down, when A starts inside it.
    const bool keep = sameShape && A.top >= c->rcCache.top && A.top < c->rcCache.bottom;
    const MInt64 keptTop = A.top, keptRows = keep ? c->rcCache.bottom - A.top : 0;
    const MInt64 rows = A.bottom - A.top;
    // The component writes whole MCUs, so the block covers them even where the image ends.
    const MInt64 size[2] = {ceilDiv(A.right - A.left, mw) * mw + mw, ceilDiv(rows, mh) * mh + mh};
    MCodecCache fresh{};
    MResult r = AllocBlockBuffer(size, 0, nullptr, fresh.pPlane, fresh.lPitch, c->dwSourceColor);
    if (r != MOK) return r;
    if (keptRows) copyRows(c, k, keptTop - c->rcCache.top, fresh.pPlane, fresh.lPitch, 0, keptRows);
    MRECT decoded = A;
    if (keptRows) {
        // Ask only for the rows below the kept ones.
        MInt64 rc[4] = {img.left, c->rcCache.bottom << c->lScaleShift, img.right, img.bottom};
        r = compSet(c, MDEC_PROP_REGION, rc, 32);
        if (r == MOK) r = compGet(c, MDEC_PROP_REGION, &decoded, 32);
        if (r == MOK && (decoded.top != c->rcCache.bottom || decoded.left != A.left || decoded.right != A.right))
            r = MERR_UNSUPPORTED;
    }
    if (r == MOK) {
        MByte* at[3] = {fresh.pPlane[0] + keptRows * fresh.lPitch[0], nullptr, nullptr};
        const MInt64 v = std::max<MInt64>(c->lSrcVSub, 1);
        for (int i = 1; i < 3; ++i) at[i] = fresh.pPlane[i] ? fresh.pPlane[i] + keptRows / v * fresh.lPitch[i] : nullptr;
        MInt64 first = 0, n = decoded.bottom - decoded.top;
        MCC saved = c->pMCC;
        c->pMCC = nullptr;
        r = MOld_DecodeScanlines(c, at, fresh.lPitch, &first, &n);
        c->pMCC = saved;
    }
    if (r != MOK) {
        FreeBlockBuffer(fresh.pPlane);
        return r;
    }
    FreeBlockBuffer(k.pPlane);
    fresh.dwColor = c->dwSourceColor;
    fresh.lShift = c->lScaleShift;
    fresh.lWidth = A.right - A.left;
    fresh.lHeight = rows;
    k = fresh;
    c->rcCache = {A.left, A.top, A.right, A.top + rows};
    c->bCacheValid = 1;
    block->rect = {A.left, A.top, A.right, A.top + rows};
    point(k, A.top);
    return MOK;
}

} // namespace

MResult mcodec::zoomDecode(MCodecRecord* c, MByte** planes, MInt64* pitches, MInt64* count) {
    const MRECT reg = c->rcRegion;
    if (c->lZoomWidth < 1 || c->lZoomHeight < 1 || c->lSrcImgWidth < 1 || c->lSrcImgHeight < 1) return MERR_INVALID_PARAM;
    // Sizes are read in 16.16 fixed point below.
    if (c->lSrcImgWidth > (MInt64(1) << 31) || c->lSrcImgHeight > (MInt64(1) << 31)) return MERR_UNSUPPORTED;
    if (reg.left < 0 || reg.top < 0 || reg.right > c->lZoomWidth || reg.bottom > c->lZoomHeight ||
        reg.right <= reg.left || reg.bottom <= reg.top)
        return MERR_INVALID_PARAM;
    if (!c->dwZoomDstColor || !c->dwZoomSrcColor) {
        // Colour never set in the zoom path: deliver the component's own colour.
        MInt64 d0, d1;
        describe(c->dwSourceColor, &c->dwZoomSrcColor, &c->lSrcHSub, &c->lSrcVSub, &d0, &d1);
        c->lSrcBpp = d0;
        c->lSrcPlanes = d1;
        if (!c->dwZoomDstColor) {
            c->dwZoomDstColor = c->dwZoomSrcColor;
            c->lDstHSub = c->lSrcHSub;
            c->lDstVSub = c->lSrcVSub;
            c->lDstBpp = c->lSrcBpp;
            c->lDstPlanes = c->lSrcPlanes;
        }
    }
    MUInt64 xr = (MUInt64(c->lSrcImgWidth) << 16) / MUInt64(c->lZoomWidth);
    MUInt64 yr = (MUInt64(c->lSrcImgHeight) << 16) / MUInt64(c->lZoomHeight);
    MVoid* capItem = nullptr;
    if (AMCM_GetGlobalDataPtr(c->hComponentMgr, AMCM_GD_JPEG_TUNING_3, &capItem, 8) == MOK && capItem) {
        MUInt64 cap;
        std::memcpy(&cap, capItem, 8);
        if (cap * 65536 < xr || cap * 65536 < yr) xr = yr = cap * 65536;
    }
    void* progress[2] = {};
    if (MOld_GetProp(c, MDEC_PROP_PROGRESS, progress, 16) != MOK) progress[0] = progress[1] = nullptr;
    c->rcSource = {MInt64((MUInt64(reg.left) * xr) >> 16), MInt64((MUInt64(reg.top) * yr) >> 16),
                   MInt64((MUInt64(reg.right) * xr + 0x8000) >> 16), MInt64((MUInt64(reg.bottom) * yr + 0x8000) >> 16)};
    const MInt64 regW = reg.right - reg.left, regH = reg.bottom - reg.top;
    GetDecodeScaleSize(c->lImgWidth, c->lImgHeight, c->rcSource.right - c->rcSource.left,
                       c->rcSource.bottom - c->rcSource.top, regW, regH, nullptr, &c->lScaleShift);
    const MInt64 s = c->lScaleShift, d = MInt64(1) << s;
    // A reduced JPEG decode into RGB takes subsampled chroma at the reduced luma's size, each
    // sample the average of its own pixel's area: chroma at its own size would be a half or a
    // quarter as sharp as the box-filtered full decode, several levels off in detail. Not where
    // the output is at most half the reduced size (a thumbnail): chroma at its own size is then
    // as fine as the output, and its blocks need only their average.
    WideChroma wide;
    const MUInt64 native = c->dwSourceColor;
    const bool halfOrLess = c->lZoomWidth * 2 <= ceilDiv(c->lSrcImgWidth, d) && c->lZoomHeight * 2 <= ceilDiv(c->lSrcImgHeight, d);
    if (s > 0 && !halfOrLess && c->bDecoder && c->dwTypeID == AMCM_CID_JPEG_DECODER && !isYUV(c->dwZoomDstColor) &&
        (native == 0x0F || native == 0x13 || native == 0x14))
        wide.begin(c);
    PPFormat dstFmt{MInt64(c->dwZoomDstColor), c->lZoomWidth, c->lZoomHeight, nullptr};
    // The reduced image has a last column (row) that is partly picture when the size is not a
    // multiple of the reduction; it is kept, and the resampling maps onto the part it covers.
    PPFormat srcFmt{MInt64(c->dwZoomSrcColor), ceilDiv(c->lSrcImgWidth, d), ceilDiv(c->lSrcImgHeight, d), nullptr};
    const MInt64 coveredW = (c->lSrcImgWidth << 16) >> s, coveredH = (c->lSrcImgHeight << 16) >> s;
    const MInt64 extentW = coveredW == srcFmt.lWidth << 16 ? 0 : coveredW;
    const MInt64 extentH = coveredH == srcFmt.lHeight << 16 ? 0 : coveredH;
    const bool noZoom = srcFmt.lWidth == c->lZoomWidth && srcFmt.lHeight == c->lZoomHeight && !extentW && !extentH;
    MInt64 B = 16;
    const MInt64 f = c->lSrcPlanes == 3 ? (c->lSrcHSub == c->lSrcVSub ? (6 >> (c->lSrcHSub - 1)) : 4) : 2;
    const MUInt64 yratio = (MUInt64(c->lSrcImgHeight >> s) << 16) / MUInt64(c->lZoomHeight);
    auto estimate = [&](MInt64 b) {
        return (((MUInt64(b) * yratio) >> 16) * MUInt64(srcFmt.lWidth) * MUInt64(std::max<MInt64>(c->lSrcBpp / 8, 1)) *
                MUInt64(f)) >> 1;
    };
    while (B > 1 && estimate(B) > 0x20000) B /= 2;
    B = std::min(B, regH);

    const MInt64 savedAlg = c->lResizeAlg;
    MInt64 mcu[2] = {16, 16};
    if (compGet(c, MDEC_PROP_ALIGNMENT, mcu, 16) != MOK || mcu[0] < 1 || mcu[1] < 1) mcu[0] = mcu[1] = 16;
    MdPPWrapper* wrapper = nullptr;
    Block block;
    // A cache made at another reduction or in another colour is of no use here.
    if (c->cache.lShift != c->lScaleShift || c->cache.dwColor != c->dwSourceColor) c->bCacheValid = 0;
    bool tookCallback = false;
    MResult r = MOK;

    // Pin the component's reduction: the whole image at 1/d has a size that no other reduction
    // gives, so every later region comes back in reduced coordinates.
    auto pinScale = [&]() -> MResult {
        MResult e = s_ResetZoomScale(c);
        if (e != MOK) return e;
        MInt64 whole[4] = {0, 0, c->lImgWidth, c->lImgHeight};
        if ((e = compSet(c, MDEC_PROP_REGION, whole, 32)) != MOK) return e;
        MInt64 wh[2] = {ceilDiv(c->lImgWidth, d), ceilDiv(c->lImgHeight, d)};
        return compSet(c, MDEC_PROP_OUT_SIZE, wh, 16);
    };
    auto request = [&](const MRECT& imageRect, MRECT* accepted) -> MResult {
        MInt64 rc[4] = {imageRect.left, imageRect.top, imageRect.right, imageRect.bottom};
        MResult e = compSet(c, MDEC_PROP_REGION, rc, 32);
        if (e != MOK) return e;
        return compGet(c, MDEC_PROP_REGION, accepted, 32);
    };

    // Direct case: the region is the component's own reduction of the image in the same colour,
    // on whole MCUs, so the component writes straight into the caller's planes.
    if (noZoom && c->dwZoomSrcColor == c->dwZoomDstColor) {
        r = pinScale();
        MRECT acc{};
        if (r == MOK) r = request(c->rcSource, &acc);
        const MInt64 mw = std::max<MInt64>(mcu[0] / d, 1), mh = std::max<MInt64>(mcu[1] / d, 1);
        if (r == MOK && acc.left == reg.left && acc.top == reg.top && acc.right == reg.right &&
            acc.bottom == reg.bottom && regW % mw == 0 && regH % mh == 0) {
            MInt64 first = 0, rows = regH;
            MCC saved = c->pMCC;
            c->pMCC = nullptr;
            r = MOld_DecodeScanlines(c, planes, pitches, &first, &rows);
            c->pMCC = saved;
            if (r == MOK) {
                *count = regH;
                return s_ResetZoomScale(c);
            }
        }
        r = MOK;
    }

    PPPara para{};
    c->lResizeAlg = noZoom ? 1 : c->lResizeAlg;
    if (!noZoom) {
        const MInt64 dst[3] = {dstFmt.lColorID, dstFmt.lWidth, dstFmt.lHeight};
        const MInt64 src[3] = {srcFmt.lColorID, srcFmt.lWidth, srcFmt.lHeight};
        s_SetReizeAlgorithm(&c->lResizeAlg, dst, src);
    }
    para.lResampleMode = c->lResizeAlg;
    para.lBlockMode = PP_BLOCK_AUTO;
    para.lAlpha = c->bAlphaSet ? c->dwAlpha : 0xFF;
    const bool ditherable = (dstFmt.lColorID == 0x15000454 || dstFmt.lColorID == 0x15001454) &&
                            ((MUInt64(srcFmt.lColorID) & ~MUInt64(0x1011)) == 0x50000800);
    if (c->bDither && ditherable) {
        para.lDither = 1;
        para.lResampleMode = c->lResizeAlg = 1;
    }
    // Bilinear sampling reaches one source pixel beyond what the band maps to.
    const MInt64 margin = para.lResampleMode == 2 ? 2 : 0;
    PPHandle hPP = nullptr;
    const int alphaByte = constantAlphaByte(MUInt64(dstFmt.lColorID), MUInt64(srcFmt.lColorID));
    const MByte alphaValue = alphaByteValue(c->bAlphaSet, c->dwAlpha);
    r = MdPPWrapperCreateWithExtent(c->hComponentMgr, &wrapper, &dstFmt, &srcFmt, &para, extentW, extentH, &hPP);
    if (r == MOK) r = pinScale();
    MByte* T[3] = {};
    const MInt64 dbpp = std::max<MInt64>(c->lDstBpp / 8, 1);
    T[0] = planes[0] - reg.left * dbpp - reg.top * pitches[0];
    if (c->lDstPlanes == 3) {
        for (int k = 1; k < 3; ++k)
            if (planes[k])
                T[k] = planes[k] - ceilDiv(reg.left, c->lDstHSub) * dbpp - ceilDiv(reg.top, c->lDstVSub) * pitches[k];
    }
    if (r == MOK && B < regH && progress[0]) {
        void* none[2] = {};
        compSet(c, MDEC_PROP_PROGRESS, none, 16);
        tookCallback = true;
    }
    const MInt64 sbpp = std::max<MInt64>(c->lSrcBpp / 8, 1);
    for (MInt64 top = reg.top; r == MOK && top < reg.bottom; top += B) {
        MRECT band{reg.left, top, reg.right, std::min(top + B, reg.bottom)};
        MRECT src{};
        r = MPPAlign(hPP, &band, &src);
        if (r != MOK) break;
        src.left = std::max<MInt64>(src.left - margin, 0);
        src.top = std::max<MInt64>(src.top - margin, 0);
        src.right = std::min<MInt64>(src.right + margin, srcFmt.lWidth);
        src.bottom = std::min<MInt64>(src.bottom + margin, srcFmt.lHeight);
        if (src.right <= src.left || src.bottom <= src.top) break;
        const MRECT img{src.left << s, src.top << s, std::min(src.right << s, c->lImgWidth),
                        std::min(src.bottom << s, c->lImgHeight)};
        MRECT A{};
        r = request(img, &A);
        if (r != MOK) break;
        if (A.right <= A.left || A.bottom <= A.top) {
            r = MERR_UNSUPPORTED;
            break;
        }
        r = fillBlock(c, A, img, mcu, d, &block);
        if (r != MOK) break;
        A = block.rect;
        MByte* S[3] = {};
        S[0] = block.planes[0] - A.left * sbpp - A.top * block.pitches[0];
        if (c->lSrcPlanes == 3) {
            for (int k = 1; k < 3; ++k)
                if (block.planes[k])
                    S[k] = block.planes[k] - (A.left / c->lSrcHSub) * sbpp - (A.top / c->lSrcVSub) * block.pitches[k];
        }
        r = MPProcess(hPP, T, &band, pitches, S, block.pitches);
        if (r != MOK) break;
        mcodec::fillAlpha(T[0], pitches[0], band, alphaByte, alphaValue);
        if (tookCallback) {
            const MInt64 percent = (band.bottom - reg.top) * 100 / regH;
            const MInt32 stop = reinterpret_cast<MCODEC_FNPROGRESS>(progress[0])(MInt32(percent), progress[1]);
            if (stop) r = stop;
        }
    }
    MResult reset = s_ResetZoomScale(c);
    if (r == MOK) {
        r = reset;
        *count = regH;
    }
    c->lResizeAlg = savedAlg;
    MdPPWrapperDestroy(wrapper);
    if (tookCallback) compSet(c, MDEC_PROP_PROGRESS, progress, 16);
    return r;
}
