// The step loader: a JPEG decoded into a bitmap 16 lines per call, directly, through an
// intermediate handed over at the end, or through a YUV band converted to 5-6-5.
#include "MdBitmapLoadStep.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "MCodec.h"
#include "MMemory.h"
#include "MdBitmapLoad.h"
#include "MdColorID.h"
#include "MdComponent.h"
#include "MdLoadInternal.h"
#include "MdPPWrapper.h"

struct MdBitmapLoadRecord {
    AMCMHandle hAMCM = nullptr;
    MBITMAP* pTarget = nullptr;
    MdOwnedBitmap* pIntermediate = nullptr; // owned
    MBITMAP* pDecode = nullptr;             // the intermediate's bitmap, else the target
    MHandle hDecoder = nullptr;             // owned
    MInt64 lImgWidth = 0, lImgHeight = 0;
    MInt64 lResizeMode = 0;
    MInt64 bCompleteOnly = 0;
    MdPPWrapper* pWrapper = nullptr; // owned
    PPHandle hPP = nullptr;
    MdOwnedBitmap* pBand = nullptr; // owned YUV band
    MUInt64 dwHSub = 1, dwVSub = 1;  // of the decoder's natural colour
    MInt64 lBandHeight = MD_LOAD_BAND_LINES;
    MInt64 lCurrentLine = 0;
    MInt64 bTablesHeld = 0;
    MInt64* pTables = nullptr; // owned 4096 bytes: U table, then V table
    const MInt64* pUTable = nullptr;
    const MInt64* pVTable = nullptr;
};

namespace {

constexpr MUInt64 kRGB565 = 0x15000454u, kBGR565 = 0x15001454u;
constexpr MInt64 kJfifVariant = 0x1000;
constexpr size_t kTableBytes = 256 * sizeof(MInt64);

bool isYuv(MUInt64 id) { return (id & 0xF0000000u) == 0x50000000u; }

MResult set8(MHandle d, MInt64 id, MInt64 v) { return MCodec_SetProp(d, id, &v, 8); }

MdOwnedBitmap* newOwnedBitmap() {
    void* p = MMemAlloc(nullptr, sizeof(MdOwnedBitmap));
    return p ? new (p) MdOwnedBitmap() : nullptr;
}

void deleteOwnedBitmap(MdOwnedBitmap* b) {
    if (!b) return;
    b->~MdOwnedBitmap();
    MMemFree(nullptr, b);
}

// Copies every plane of one bitmap into another of the same size and colour.
MResult copyPlanes(const MBITMAP& src, MBITMAP* dst) {
    MUInt64 vs = 1, planes = 1;
    MResult r = MdUtilsFormatColorID(dst->dwPixelArrayFormat, nullptr, &vs, nullptr, &planes);
    if (r != MOK) return r;
    for (MUInt64 k = 0; k < std::min<MUInt64>(planes, 3); ++k) {
        if (!src.pPlane[k] || !dst->pPlane[k]) continue;
        const MInt64 rows = k == 0 ? dst->lHeight : dst->lHeight / MInt64(std::max<MUInt64>(vs, 1));
        const MInt64 bytes = std::min(src.lPitch[k], dst->lPitch[k]);
        for (MInt64 y = 0; y < rows; ++y)
            std::memcpy(dst->pPlane[k] + y * dst->lPitch[k], src.pPlane[k] + y * src.lPitch[k], size_t(bytes));
    }
    return MOK;
}

// Plane pointers of a bitmap moved down (positive) or back (negative) by `rows` luma rows.
void planesAtRow(const MBITMAP& b, MInt64 rows, MUInt64 planes, MUInt64 vs, MByte* out[3]) {
    out[0] = b.pPlane[0] + rows * b.lPitch[0];
    out[1] = out[2] = nullptr;
    if (planes == 3)
        for (int k = 1; k < 3; ++k)
            if (b.pPlane[k]) out[k] = b.pPlane[k] + (rows / MInt64(std::max<MUInt64>(vs, 1))) * b.lPitch[k];
}

MResult s_LoadBitmapStart(AMCMHandle hAMCM, MSTREAM stream, MInt64 type, MBITMAP* bmp, MInt64 scale, MInt64 mode,
                          MdBitmapLoadHandle* out, MInt64* steps, MInt64 bBand, MInt64 bHalving, MInt64 bCompleteOnly,
                          const MInt64* uTable, const MInt64* vTable, MInt64 bYUVReset) {
    const bool bad2 = !hAMCM || !stream || !bmp || !out || mode < 0 || mode > 2 ||
                      (scale != 1 && scale != 2 && scale != 4 && scale != 8);
    if ((bBand && bHalving) || type != MD_IMG_JPEG) return MERR_UNSUPPORTED;
    if (bad2) return MERR_INVALID_PARAM;
    *out = nullptr;
    if (steps) *steps = 0;
    // The target is written band by band or at the end: it needs its size and its planes.
    if (bmp->lWidth < 1 || bmp->lHeight < 1 || !bmp->pPlane[0] ||
        MdUtilsFormatColorID(bmp->dwPixelArrayFormat, nullptr, nullptr, nullptr, nullptr) != MOK)
        return MERR_INVALID_PARAM;
    // The type argument is the caller's word; a stream that holds something else is refused
    // rather than driven through the JPEG-only band properties.
    ImgFormat sniffed = 0;
    if (MdGetImgFileFormat(hAMCM, stream, &sniffed) != MOK || sniffed != MD_IMG_JPEG) return MERR_UNSUPPORTED;

    void* mem = MMemAlloc(nullptr, sizeof(MdBitmapLoadRecord));
    if (!mem) return MERR_NO_MEMORY;
    auto* L = new (mem) MdBitmapLoadRecord();
    L->hAMCM = hAMCM;
    L->pTarget = bmp;
    L->pDecode = bmp;
    L->lResizeMode = mode;
    L->bCompleteOnly = bCompleteOnly;

    MResult r = MStreamSeek(stream, MSTREAM_SEEK_BEGIN, 0) == MOK ? MOK : MERR_FILE_SEEK;
    if (r == MOK) r = MCodec_DecodeCreate(hAMCM, stream, 0, &L->hDecoder);
    if (r == MOK && !L->hDecoder) r = MERR_UNSUPPORTED;
    MInt64 img[2] = {};
    if (r == MOK) r = MCodec_GetProp(L->hDecoder, MDEC_PROP_IMAGE_SIZE, img, 16);
    L->lImgWidth = img[0];
    L->lImgHeight = img[1];
    if (r == MOK && (img[0] < 1 || img[1] < 1)) r = MERR_UNSUPPORTED;

    MUInt64 natural = 0;
    if (r == MOK) {
        MInt64 old = 0;
        r = MCodec_GetProp(L->hDecoder, MDEC_PROP_COLOR, &old, 8);
        natural = MdUtilsFormatOldColorID(MUInt64(old), &L->dwHSub, &L->dwVSub, nullptr, nullptr);
    }
    if (!isYuv(natural)) bBand = bYUVReset = 0;
    // YUV-type reset: back to the variant a JPEG file defines (JFIF: BT.601 at full range).
    // Variant 0 would label the samples video range, and every conversion would then stretch
    // the levels of a full-range picture.
    if (r == MOK && bYUVReset) {
        r = set8(L->hDecoder, MCODEC_PROP_YUV_RANGE, kJfifVariant);
        natural = (natural & ~MUInt64(0x3000)) | kJfifVariant;
    }

    // The largest reduction that still leaves at least the target's size.
    MInt64 s = scale;
    while (s >= 1 && !(img[0] / s >= bmp->lWidth && img[1] / s >= bmp->lHeight)) s /= 2;
    if (s < 1) s = 1;
    const MInt64 SW = ((img[0] + 15) / 16 * 16) / s, SH = ((img[1] + 15) / 16 * 16) / s;

    if (r == MOK) {
        MInt64 iw = 0, ih = 0;
        if (mode == 2 && SW / 2 >= bmp->lWidth && SH / 2 >= bmp->lHeight && bHalving) {
            iw = (bmp->lWidth + SW) / 2;
            ih = (bmp->lHeight + SH) / 2;
        } else if (bCompleteOnly) {
            iw = bmp->lWidth;
            ih = bmp->lHeight;
        }
        if (iw > 0) {
            // With no room for an intermediate the target could not be kept untouched: fail
            // instead of decoding into it.
            L->pIntermediate = newOwnedBitmap();
            if (!L->pIntermediate) r = MERR_NO_MEMORY;
            if (r == MOK && iw > MD_LOAD_MAX_PIXELS / ih) r = MERR_UNSUPPORTED;
            if (r == MOK) r = L->pIntermediate->alloc(bmp->dwPixelArrayFormat, iw, ih);
            if (r == MOK) L->pDecode = &L->pIntermediate->bmp;
        }
    }
    const MInt64 DW = L->pDecode->lWidth, DH = L->pDecode->lHeight;

    if (r == MOK && bBand && (bmp->dwPixelArrayFormat == kRGB565 || bmp->dwPixelArrayFormat == kBGR565)) {
        L->pBand = newOwnedBitmap();
        r = L->pBand ? L->pBand->alloc(natural, DW, L->lBandHeight) : MERR_NO_MEMORY;
    }
    if (r == MOK) {
        MRECT rc{0, 0, DW, DH};
        r = MCodec_SetProp(L->hDecoder, MCODEC_PROP_OUT_REGION, &rc, 32);
    }
    if (r == MOK) {
        MInt64 wh[2] = {DW, DH};
        r = MCodec_SetProp(L->hDecoder, MDEC_PROP_OUT_SIZE, wh, 16);
    }
    if (r == MOK) r = set8(L->hDecoder, MCODEC_PROP_RESIZE, mode);
    if (r == MOK && L->pBand) {
        r = set8(L->hDecoder, MCODEC_PROP_OUT_COLOR, MInt64(MdUtilPixelFormatNew2Old(natural)));
        PPFormat dst{MInt64(bmp->dwPixelArrayFormat), DW, DH, nullptr};
        PPFormat src{MInt64(natural), DW, DH, nullptr};
        PPPara para{};
        para.lResampleMode = mode;
        para.lBlockMode = 256;
        para.lDither = 1;
        if (r == MOK) r = MdPPWrapperCreateEx(hAMCM, &L->pWrapper, &dst, &src, &para, &L->hPP);
        if (r == MOK && !L->hPP) r = MERR_UNSUPPORTED;
    } else if (r == MOK) {
        r = set8(L->hDecoder, MCODEC_PROP_OUT_COLOR, MInt64(MdUtilPixelFormatNew2Old(bmp->dwPixelArrayFormat)));
    }
    if (r == MOK && L->pBand && (uTable || vTable)) {
        L->pTables = static_cast<MInt64*>(MMemAlloc(nullptr, 2 * kTableBytes));
        if (!L->pTables) {
            r = MERR_NO_MEMORY;
        } else {
            L->bTablesHeld = 1;
            std::memset(L->pTables, 0, 2 * kTableBytes);
            if (uTable) {
                std::memcpy(L->pTables, uTable, kTableBytes);
                L->pUTable = L->pTables;
            }
            if (vTable) {
                std::memcpy(L->pTables + 256, vTable, kTableBytes);
                L->pVTable = L->pTables + 256;
            }
        }
    }
    if (r != MOK) {
        MdBitmapLoadEnd(L);
        return r;
    }
    if (steps) *steps = (DH + L->lBandHeight - 1) / L->lBandHeight;
    *out = L;
    return MOK;
}

MResult doStep(MdBitmapLoadRecord* L) {
    MBITMAP& D = *L->pDecode;
    const MInt64 c = L->lCurrentLine;
    const MInt64 n = std::min(D.lHeight - c, L->lBandHeight);
    if (n <= 0) return MOK;
    MRECT band{0, c, D.lWidth, c + n};
    MResult r = MCodec_SetProp(L->hDecoder, MCODEC_PROP_OUT_REGION, &band, 32);
    if (r != MOK) return r;
    MInt64 first = c, count = n;
    if (!L->pBand) {
        MUInt64 vs = 1, planes = 1;
        r = MdUtilsFormatColorID(D.dwPixelArrayFormat, nullptr, &vs, nullptr, &planes);
        if (r != MOK) return r;
        MByte* p[3];
        planesAtRow(D, c, planes, vs, p);
        MInt64 pitches[3] = {D.lPitch[0], D.lPitch[1], D.lPitch[2]};
        r = MCodec_DecodeScanlines(L->hDecoder, p, pitches, &first, &count);
    } else {
        MBITMAP& B = L->pBand->bmp;
        MInt64 bandPitches[3] = {B.lPitch[0], B.lPitch[1], B.lPitch[2]};
        r = MCodec_DecodeScanlines(L->hDecoder, B.pPlane, bandPitches, &first, &count);
        if (r != MOK) return r;
        if (L->bTablesHeld) {
            r = s_YUVAdjustWithTable(B.pPlane, B.lPitch, B.lWidth, n, B.dwPixelArrayFormat, L->pUTable, L->pVTable,
                                     MInt64(L->dwHSub), MInt64(L->dwVSub));
            if (r != MOK) return r;
        }
        // The band's first row stands for row c of the whole picture.
        MByte* src[3];
        planesAtRow(B, -c, 3, L->dwVSub, src);
        r = MPProcess(L->hPP, D.pPlane, &band, D.lPitch, src, B.lPitch);
    }
    if (r == MOK) L->lCurrentLine += n;
    return r;
}

} // namespace

extern "C" {

MResult MdBitmapLoadStart(AMCMHandle m, MSTREAM s, MInt64 type, MBITMAP* b, MInt64 scale, MInt64 mode,
                          MdBitmapLoadHandle* out, MInt64* steps) {
    return s_LoadBitmapStart(m, s, type, b, scale, mode, out, steps, 0, 1, 1, nullptr, nullptr, 1);
}

MResult MdBitmapLoadStartEx(AMCMHandle m, MSTREAM s, MInt64 type, MBITMAP* b, MInt64 scale, MInt64 mode,
                            MdBitmapLoadHandle* out, MInt64* steps, MInt64 band) {
    return s_LoadBitmapStart(m, s, type, b, scale, mode, out, steps, band, 0, 0, nullptr, nullptr, 1);
}

MResult MdBitmapLoadStartExWithYUVType(AMCMHandle m, MSTREAM s, MInt64 type, MBITMAP* b, MInt64 scale, MInt64 mode,
                                       MdBitmapLoadHandle* out, MInt64* steps, MInt64 band, MInt64 reset) {
    return s_LoadBitmapStart(m, s, type, b, scale, mode, out, steps, band, 0, 0, nullptr, nullptr, reset);
}

MResult MdBitmapLoadStartExWithUVOffsetTable(AMCMHandle m, MSTREAM s, MInt64 type, MBITMAP* b, MInt64 scale,
                                             MInt64 mode, MdBitmapLoadHandle* out, MInt64* steps, MInt64 band,
                                             const MInt64* u, const MInt64* v) {
    return s_LoadBitmapStart(m, s, type, b, scale, mode, out, steps, band, 0, 0, u, v, 1);
}

MResult MdBitmapLoadDoStep(MdBitmapLoadHandle L) {
    if (!L) return MERR_INVALID_PARAM;
    const MResult r = doStep(L);
    if (r != MOK) MdBitmapLoadEnd(L);
    return r;
}

MResult MdBitmapLoadGetProgress(MdBitmapLoadHandle L, MInt64* done, MInt64* total) {
    if (!L) return MERR_INVALID_PARAM;
    if (done) *done = L->lCurrentLine;
    if (total) *total = L->pDecode->lHeight;
    return MOK;
}

MResult MdBitmapLoadEnd(MdBitmapLoadHandle L) {
    if (!L) return MOK;
    if (L->hDecoder) MCodec_Destroy(L->hDecoder);
    if (L->pIntermediate) {
        const MBITMAP& I = L->pIntermediate->bmp;
        MBITMAP* T = L->pTarget;
        const bool complete = L->lCurrentLine >= I.lHeight;
        if (I.pPlane[0] && (complete || !L->bCompleteOnly)) {
            // Any difference of size goes through a resample: a plain copy of rows would crop
            // or read past the intermediate.
            if (I.lWidth != T->lWidth || I.lHeight != T->lHeight)
                MdBitmapResample(L->hAMCM, &I, T);
            else
                copyPlanes(I, T);
        }
        deleteOwnedBitmap(L->pIntermediate);
    }
    MdPPWrapperDestroy(L->pWrapper);
    deleteOwnedBitmap(L->pBand);
    if (L->bTablesHeld) MMemFree(nullptr, L->pTables);
    L->~MdBitmapLoadRecord();
    MMemFree(nullptr, L);
    return MOK;
}

MResult MdBitmapLoadEx(AMCMHandle m, MSTREAM s, MInt64 type, MBITMAP* b, MInt64 bStep) {
    if (!m || !s || !b || b->dwPixelArrayFormat == 0) return MERR_INVALID_PARAM;
    if (type == 0) {
        ImgFormat f = 0;
        const MResult r = MdGetImgFileFormat(m, s, &f);
        if (r != MOK) return r;
        type = f;
    }
    if (!bStep || type != MD_IMG_JPEG || (b->dwPixelArrayFormat != kRGB565 && b->dwPixelArrayFormat != kBGR565))
        return MdBitmapLoad(m, s, type, b);
    // The same bitmap conventions as MdBitmapLoad: the image's own size when none is given,
    // planes allocated (and freed on failure) when there are none, the stream position kept.
    MdStreamPosition keep(s);
    bool ownPlanes = false;
    MResult r = MOK;
    if (b->lWidth < 1 || b->lHeight < 1) {
        MImgFileInfo info{};
        r = MdGetImgFileInfo(m, s, &info);
        if (r == MOK && (info.lWidth < 1 || info.lHeight < 1 || info.lWidth > MD_LOAD_MAX_PIXELS / info.lHeight))
            r = MERR_UNSUPPORTED;
        if (r == MOK) {
            b->lWidth = info.lWidth;
            b->lHeight = info.lHeight;
        }
    }
    if (r == MOK && !b->pPlane[0]) {
        r = MdBitmapAlloc(b);
        ownPlanes = r == MOK;
    }
    MdBitmapLoadHandle L = nullptr;
    MInt64 steps = 0;
    if (r == MOK) r = MdBitmapLoadStartExWithYUVType(m, s, MD_IMG_JPEG, b, 8, 2, &L, &steps, 1, 0);
    for (MInt64 i = 0; r == MOK && i < steps; ++i) r = MdBitmapLoadDoStep(L);
    // A failed step has ended the loader already.
    if (r == MOK) MdBitmapLoadEnd(L);
    if (r != MOK && ownPlanes) MdBitmapFree(b);
    return r;
}

MResult MdBitmapLoadEx2(AMCMHandle m, const MChar* path, MInt64 type, MBITMAP* b, MInt64 bStep) {
    if (!path || !b) return MERR_INVALID_PARAM;
    return MdFilterLoad(MdWithFile(path, MSTREAM_MODE_READ, MERR_FILE_OPEN,
                                   [&](MSTREAM s) { return MdBitmapLoadEx(m, s, type, b, bStep); }));
}

} // extern "C"
