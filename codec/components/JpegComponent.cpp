// JPEG decoder component: the library's JPEG decoder behind the component operation table.
// Delivers planar YUV (or grey) in whole MCU blocks, decodes regions through the decoder's MCU
// reader and reaches 1/2, 1/4 and 1/8 through its scaled inverse transforms.
#include <algorithm>

#include "AjlJpgDecoder.h"
#include "ComponentCommon.h"
#include "MdColorID.h"

namespace {

using mdcomp::put;

struct Rect {
    MInt64 l = 0, t = 0, r = 0, b = 0;
};

struct JpegComponent {
    MDecComponentHead head;
    JpgDecoder* hDecoder;
    MHandle hMemMgr;
    MInt64 lPrecision;
    MInt64 lComponents;
    MInt64 lImgWidth, lImgHeight;
    MInt64 lOutWidth, lOutHeight;
    Rect requested, clamped, delivered;
    MInt64 lScale;
    MVoid* fnProgress;
    MVoid* pProgressUser;
    MUInt64 dwNativeColor;
    MInt64 bRGB;
    MUInt64 dwOutColor;
    MInt64 lHf, lVf;
    MInt64 lPlaneSize[3];
    MInt64 lPitch[3];
    MInt64 bSequential;
    MUInt32 dwSubType;
    MInt64 lMcuCols, lMcuRows;
    MInt64 lMcuW, lMcuH;
    MInt64 bWideChroma; // asked for: subsampled chroma at the luma plane's size at 1/2 .. 1/8
    MDecComponentFuncs table;
};

JpegComponent* self(MHandle h) { return static_cast<JpegComponent*>(h); }

MInt64 ceilDiv(MInt64 a, MInt64 b) { return (a + b - 1) / b; }

// Old colour ID of the decoder's sampling layout.
MUInt64 GetJPGFormat(JpgDecoder* d) {
    uint32_t type = 0;
    if (ajlJpgDecoderGetProp(d, JPG_PROP_SUBSAMPLING, &type, 4) != 0) return 0;
    switch (type) {
    case 0: return 0x0F;
    case 1: return 0x14;
    case 2: return 0x13;
    case 3: return 0x15;
    case 4: return 0x1D;
    case 5: {
        int64_t ratio[2] = {};
        if (ajlJpgDecoderGetProp(d, JPG_PROP_CHROMA_RATIO, ratio, 16) != 0) return 0;
        if (ratio[0] == 2 && ratio[1] == 1) return 0x14;
        if (ratio[0] == 4 && ratio[1] == 1) return 0x2A;
        if (ratio[0] == 2 && ratio[1] == 4) return 0x50000813;
        if (ratio[0] == 1 && ratio[1] == 4) return 0x50000803;
        if (ratio[0] == 3 && ratio[1] == 1) return 0x50000820;
        return 0;
    }
    default: return 0;
    }
}

void samplingFactors(MUInt64 id, MInt64* h, MInt64* v) {
    switch (id) {
    case 0x0F: *h = 2; *v = 2; break;
    case 0x13: *h = 1; *v = 2; break;
    case 0x14: *h = 2; *v = 1; break;
    case 0x15: case 0x1D: *h = 1; *v = 1; break;
    case 0x2A: *h = 4; *v = 1; break;
    case 0x2B: case 0x50000803: *h = 1; *v = 4; break;
    case 0x50000813: *h = 2; *v = 4; break;
    case 0x50000820: *h = 3; *v = 1; break;
    default: break;
    }
}

void planeSizes(JpegComponent* c) {
    const MInt64 w = c->delivered.r - c->delivered.l, h = c->delivered.b - c->delivered.t;
    const MInt64 aw = ceilDiv(std::max<MInt64>(w, 1), c->lMcuW) * c->lMcuW;
    const MInt64 ah = ceilDiv(std::max<MInt64>(h, 1), c->lMcuH) * c->lMcuH;
    c->lPitch[0] = ((c->lPrecision * aw + 31) >> 5) * 4;
    c->lPlaneSize[0] = c->lPitch[0] * ah;
    c->lPitch[1] = c->lPitch[2] = ceilDiv(c->lPitch[0], c->lHf);
    c->lPlaneSize[1] = c->lPlaneSize[2] = c->lPitch[1] * ceilDiv(ah, c->lVf);
}

// Region {l, t, r, b} in output pixels -> whole MCUs of the image, back in output pixels.
void deliveredFrom(JpegComponent* c, Rect* reg) {
    const MInt64 s = c->lScale, W = c->lImgWidth, H = c->lImgHeight, mw = c->lMcuW, mh = c->lMcuH;
    const MInt64 fc = std::min(reg->l * s, W) / mw, fr = std::min(reg->t * s, H) / mh;
    const MInt64 ec = ceilDiv(std::min(reg->r * s, W), mw), er = ceilDiv(std::min(reg->b * s, H), mh);
    const MInt64 L = std::min(fc * mw, W), T = std::min(fr * mh, H);
    const MInt64 R = std::max(std::min(ec * mw, W), L), B = std::max(std::min(er * mh, H), T);
    c->delivered = {L / s, T / s, ceilDiv(R, s), ceilDiv(B, s)};
    *reg = c->delivered;
    const bool nonEmpty = c->requested.r > c->requested.l && c->requested.b > c->requested.t;
    if (nonEmpty) {
        // Kept inside the image: a last MCU that is cut by the scale would otherwise reach past it.
        c->clamped = {std::min(c->delivered.l * s, W), std::min(c->delivered.t * s, H),
                      std::min(c->delivered.r * s, W), std::min(c->delivered.b * s, H)};
    } else {
        c->clamped = c->delivered;
    }
    c->lOutWidth = c->delivered.r - c->delivered.l;
    c->lOutHeight = c->delivered.b - c->delivered.t;
    if (!(L == 0 && T == 0 && R == W && B == H)) c->bSequential = 0;
}

MResult s_Init(MHandle h, MVoid* source) {
    auto* c = self(h);
    if (!c || !source) return MERR_INVALID_PARAM;
    auto stream = static_cast<MSTREAM>(source);
    if (c->hDecoder) {
        ajlJpgDecoderDestroy(c->hDecoder);
        c->hDecoder = nullptr;
    }
    const MInt64 pos = MStreamTell(stream);
    const MInt64 size = MStreamGetSize(stream);
    MStreamSeek(stream, MSTREAM_SEEK_BEGIN, pos);
    JpgDecParam param{};
    param.stream = stream;
    param.bufferSize = std::min<MInt64>(ceilDiv(std::max<MInt64>(size, 1), 1024) * 1024, 0x20000);
    MVoid* item = nullptr;
    if (AMCM_GetGlobalDataPtr(c->head.hAMCM, AMCM_GD_JPEG_TUNING_1, &item, 8) == MOK && item)
        param.indexInterval = mdcomp::get<MInt64>(item);
    item = nullptr;
    if (AMCM_GetGlobalDataPtr(c->head.hAMCM, AMCM_GD_JPEG_TUNING_2, &item, 8) == MOK && item)
        param.bufferSize = mdcomp::get<MInt64>(item);
    // The third tuning item is not handed to the decoder: its creation record keeps the stream
    // callback in that word, and a number there would be called as a function.
    int64_t jr = ajlJpgDecoderCreate(&c->hDecoder, &param);
    auto fail = [&](int64_t code) {
        if (c->hDecoder) ajlJpgDecoderDestroy(c->hDecoder);
        c->hDecoder = nullptr;
        MStreamSeek(stream, MSTREAM_SEEK_BEGIN, pos);
        return MdUtilsDecodeConvertResult(code);
    };
    if (jr != 0) {
        c->hDecoder = nullptr;
        return fail(jr);
    }
    c->requested = c->clamped = c->delivered = {};
    uint32_t type = 0;
    if ((jr = ajlJpgDecoderGetProp(c->hDecoder, JPG_PROP_SUBSAMPLING, &type, 4)) != 0) return fail(jr);
    if (type > 5) return fail(JPG_ERR_UNSUPPORTED);
    if (type == 5) {
        int64_t ratio[2] = {};
        if ((jr = ajlJpgDecoderGetProp(c->hDecoder, JPG_PROP_CHROMA_RATIO, ratio, 16)) != 0) return fail(jr);
        if (ratio[0] == 2 && ratio[1] == 1) type = 1;
        else if (!((ratio[0] == 4 && ratio[1] == 1) || (ratio[0] == 2 && ratio[1] == 4) ||
                   (ratio[0] == 1 && ratio[1] == 4) || (ratio[0] == 3 && ratio[1] == 1)))
            return fail(JPG_ERR_UNSUPPORTED);
    }
    c->dwSubType = type;
    int64_t wh[2] = {}, mcu[2] = {}, counts[2] = {};
    int64_t ncomp = 0, prec = 0;
    if ((jr = ajlJpgDecoderGetProp(c->hDecoder, JPG_PROP_IMAGE_SIZE, wh, 16)) != 0 ||
        (jr = ajlJpgDecoderGetProp(c->hDecoder, JPG_PROP_COMPONENTS, &ncomp, 8)) != 0 ||
        (jr = ajlJpgDecoderGetProp(c->hDecoder, JPG_PROP_PRECISION, &prec, 8)) != 0 ||
        (jr = ajlJpgDecoderGetProp(c->hDecoder, JPG_PROP_MCU_SIZE, mcu, 16)) != 0 ||
        (jr = ajlJpgDecoderGetProp(c->hDecoder, JPG_PROP_MCU_COUNT, counts, 16)) != 0)
        return fail(jr);
    if (wh[0] < 1 || wh[1] < 1 || mcu[0] < 1 || mcu[1] < 1) return fail(JPG_ERR_DATA);
    // T.81 F.1.2.1: every MCU a scan covers costs a bit at least (a DC difference code of each
    // of its blocks), so a stream far shorter than its MCUs cannot hold the picture it
    // declares. Refused before a row is decoded: a few hundred bytes declaring gigapixels would
    // otherwise have every one of them made, for many seconds. A file cut short keeps what it
    // holds as long as it has a byte for every 32 MCUs.
    if (size > pos && counts[0] > 0 && counts[1] > 0 && counts[0] <= (MInt64(1) << 20) &&
        counts[1] <= (MInt64(1) << 20) && counts[0] * counts[1] / 32 > size - pos)
        return fail(JPG_ERR_DATA);
    c->lImgWidth = wh[0];
    c->lImgHeight = wh[1];
    c->lComponents = ncomp;
    c->lPrecision = prec;
    c->lMcuW = mcu[0];
    c->lMcuH = mcu[1];
    c->lMcuCols = counts[0];
    c->lMcuRows = counts[1];
    c->lOutWidth = (wh[0] + 1) & ~MInt64(1);
    c->lOutHeight = (wh[1] + 1) & ~MInt64(1);
    c->requested = c->clamped = c->delivered = {0, 0, wh[0], wh[1]};
    c->lScale = 1;
    c->dwNativeColor = GetJPGFormat(c->hDecoder);
    c->dwOutColor = c->dwNativeColor;
    c->lHf = c->lVf = 1;
    samplingFactors(c->dwOutColor, &c->lHf, &c->lVf);
    uint32_t rgb = 0;
    c->bRGB = 0;
    if (ajlJpgDecoderGetProp(c->hDecoder, JPG_PROP_RGB, &rgb, 4) == 0 && rgb == 1) {
        if (c->lHf != 1 || c->lVf != 1) return fail(JPG_ERR_UNSUPPORTED);
        c->bRGB = 1;
    }
    c->bSequential = 1;
    planeSizes(c);
    return MOK;
}

MResult s_Destroy(MHandle h) {
    auto* c = self(h);
    if (!c) return MERR_INVALID_PARAM;
    if (c->hDecoder) ajlJpgDecoderDestroy(c->hDecoder);
    if (c->hMemMgr) MMgrUninit(c->hMemMgr);
    mdcomp::destroy(c);
    return MOK;
}

MResult getProp(JpegComponent* c, MInt64 id, MVoid* buf, MInt64 size) {
    auto* w = static_cast<MInt64*>(buf);
    auto exact = [&](MInt64 n) { return size == n; };
    switch (id) {
    case MDEC_PROP_DELIVERY:
        if (!exact(8)) return JPG_ERR_PARAM;
        put<MInt64>(buf, 4);
        return 0;
    case MDEC_PROP_IMAGE_SIZE:
        if (!exact(16)) return JPG_ERR_PARAM;
        mdcomp::putPair(buf, c->lImgWidth, c->lImgHeight);
        return 0;
    case MDEC_PROP_PROGRESS:
        if (!exact(16)) return JPG_ERR_PARAM;
        put(w, c->fnProgress);
        put(w + 1, c->pProgressUser);
        return 0;
    case MDEC_PROP_BITS:
        if (!exact(8)) return JPG_ERR_PARAM;
        put(buf, c->lPrecision * c->lComponents);
        return 0;
    case MDEC_PROP_REGION:
        if (!exact(32)) return JPG_ERR_PARAM;
        put(w, c->delivered.l);
        put(w + 1, c->delivered.t);
        put(w + 2, c->delivered.r);
        put(w + 3, c->delivered.b);
        return 0;
    case MDEC_PROP_OUT_SIZE:
        if (!exact(16)) return JPG_ERR_PARAM;
        mdcomp::putPair(buf, c->lOutWidth, c->lOutHeight);
        return 0;
    case MDEC_PROP_COLOR:
        if (!exact(8)) return JPG_ERR_PARAM;
        put<MUInt64>(buf, c->bRGB ? 0x02 : c->dwOutColor);
        return 0;
    case 0x1501: return JPG_ERR_UNSUPPORTED;
    case 0x1503:
        if (!exact(8)) return JPG_ERR_PARAM;
        put<MInt64>(buf, 1);
        return 0;
    case MDEC_PROP_PLANE_SIZES:
        if (!exact(24)) return JPG_ERR_PARAM;
        std::memcpy(buf, c->lPlaneSize, 24);
        return 0;
    case MDEC_PROP_PLANE_PITCHES:
        if (!exact(24)) return JPG_ERR_PARAM;
        std::memcpy(buf, c->lPitch, 24);
        return 0;
    case 0x1506: {
        if (!exact(8)) return JPG_ERR_PARAM;
        uint32_t mode = 0;
        int64_t r = ajlJpgDecoderGetProp(c->hDecoder, JPG_PROP_SCAN_MODE, &mode, 4);
        if (r == 0) put<MInt64>(buf, mode == 1 ? 1 : 0);
        return r;
    }
    case 0x1507:
        if (!exact(8)) return JPG_ERR_PARAM;
        put(buf, c->bRGB);
        return 0;
    case 0x1508:
        if (size < 8) return JPG_ERR_PARAM;
        put<MInt64>(buf, 1);
        return 0;
    case 0x1512: {
        if (!exact(8)) return JPG_ERR_PARAM;
        int64_t blocks = 0;
        int64_t r = ajlJpgDecoderGetProp(c->hDecoder, JPG_PROP_BLOCKS_PER_MCU, &blocks, 8);
        if (r == 0) put<MInt64>(buf, blocks <= 7 ? 1 : 0);
        return r;
    }
    case 0x1604:
    case 0x1605: {
        if (size < 8) return JPG_ERR_PARAM;
        int64_t info[2] = {};
        int64_t r = ajlJpgDecoderGetProp(c->hDecoder, JPG_PROP_INDEX, info, 16);
        if (r == 0) put(buf, id == 0x1604 ? info[1] : info[0]);
        return r;
    }
    case 0x1608: return ajlJpgDecoderGetProp(c->hDecoder, JPG_PROP_BUILD_INDEX, buf, size);
    case MDEC_PROP_JPEG_WIDE_CHROMA:
        if (!exact(8)) return JPG_ERR_PARAM;
        put<MInt64>(buf, c->bWideChroma);
        return 0;
    case MDEC_PROP_ALIGNMENT:
        if (!exact(16)) return JPG_ERR_PARAM;
        mdcomp::putPair(buf, c->lMcuW, c->lMcuH);
        return 0;
    default:
        return JPG_ERR_PARAM;
    }
}

MResult s_GetProp(MHandle h, MInt64 id, MVoid* buf, MInt64 size) {
    auto* c = self(h);
    if (!c || !buf) return MERR_INVALID_PARAM;
    if (!c->hDecoder && id != MDEC_PROP_DELIVERY) return MERR_REGISTRATION;
    return MdUtilsDecodeConvertResult(getProp(c, id, buf, size));
}

// The colour delivered at the current scale: 4:4:4 when subsampled chroma comes at the luma
// plane's size (asked for, at a reduced scale), else the file's own layout.
int64_t applyScaleColour(JpegComponent* c) {
    const bool wide = c->bWideChroma && c->lScale > 1 && !c->bRGB && c->dwSubType <= 2;
    const int64_t on = wide ? 1 : 0;
    int64_t r = ajlJpgDecoderSetProp(c->hDecoder, JPG_PROP_CHROMA_AT_LUMA, &on, 8);
    if (r != 0) return r;
    c->dwOutColor = wide ? 0x15 : c->dwNativeColor;
    c->lHf = c->lVf = 1;
    samplingFactors(c->dwOutColor, &c->lHf, &c->lVf);
    planeSizes(c);
    return 0;
}

int64_t setRegion(JpegComponent* c, MInt64* v) {
    const MInt64 s = c->lScale;
    c->requested = {std::max<MInt64>(v[0], 0), std::max<MInt64>(v[1], 0), v[2], v[3]};
    Rect reg{c->requested.l / s, c->requested.t / s, ceilDiv(c->requested.r, s), ceilDiv(c->requested.b, s)};
    deliveredFrom(c, &reg);
    v[0] = reg.l;
    v[1] = reg.t;
    v[2] = reg.r;
    v[3] = reg.b;
    planeSizes(c);
    return 0;
}

int64_t setScale(JpegComponent* c, const MInt64* wanted) {
    const Rect& q = c->requested;
    for (MInt64 s = 1; s <= 8; s *= 2) {
        Rect sr{q.l / s, q.t / s, ceilDiv(q.r, s), ceilDiv(q.b, s)};
        if (sr.r - sr.l == wanted[0] && sr.b - sr.t == wanted[1]) {
            int64_t r = ajlJpgDecoderSetProp(c->hDecoder, JPG_PROP_SCALE, &s, 8);
            if (r != 0) return r;
            int64_t back = s;
            ajlJpgDecoderGetProp(c->hDecoder, JPG_PROP_SCALE, &back, 8);
            c->lScale = back;
            if (q.r > q.l && q.b > q.t) {
                deliveredFrom(c, &sr);
                planeSizes(c);
            }
            return applyScaleColour(c);
        }
    }
    int64_t one = 1;
    ajlJpgDecoderSetProp(c->hDecoder, JPG_PROP_SCALE, &one, 8);
    c->lScale = 1;
    applyScaleColour(c);
    return JPG_ERR_UNSUPPORTED;
}

MResult s_SetProp(MHandle h, MInt64 id, MVoid* buf, MInt64 size) {
    auto* c = self(h);
    if (!c) return MERR_INVALID_PARAM;
    if (!c->hDecoder) return MERR_REGISTRATION;
    if (size < 8) return MERR_INVALID_PARAM;
    int64_t r = 0;
    switch (id) {
    case MDEC_PROP_DELIVERY:
    case MDEC_PROP_IMAGE_SIZE:
    case MDEC_PROP_BITS:
    case 0x1501:
        return MERR_UNSUPPORTED;
    case MDEC_PROP_PROGRESS: {
        if (size != 16) return MERR_INVALID_PARAM;
        void* v[2] = {};
        if (buf) std::memcpy(v, buf, 16);
        c->fnProgress = v[0];
        c->pProgressUser = v[1];
        r = ajlJpgDecoderSetProp(c->hDecoder, JPG_PROP_PROGRESS, v, 16);
        break;
    }
    case MDEC_PROP_REGION:
        if (size != 32 || !buf) return MERR_INVALID_PARAM;
        r = setRegion(c, static_cast<MInt64*>(buf));
        break;
    case MDEC_PROP_OUT_SIZE:
        if (size != 16 || !buf) return MERR_INVALID_PARAM;
        r = setScale(c, static_cast<MInt64*>(buf));
        break;
    case 0x1508:
        return MOK;
    case MDEC_PROP_JPEG_WIDE_CHROMA:
        if (size != 8 || !buf) return MERR_INVALID_PARAM;
        c->bWideChroma = mdcomp::get<MInt64>(buf) != 0;
        r = applyScaleColour(c);
        break;
    case 0x1603:
        if (size != 8 || !buf) return MERR_INVALID_PARAM;
        r = ajlJpgDecoderSetProp(c->hDecoder, JPG_PROP_STREAM, buf, 8);
        break;
    case 0x1604: {
        if (!buf) return MERR_INVALID_PARAM;
        int64_t info[2] = {size, reinterpret_cast<int64_t>(buf)};
        r = ajlJpgDecoderSetProp(c->hDecoder, JPG_PROP_INDEX, info, 16);
        break;
    }
    case 0x1607:
        if (size != 8 || !buf) return MERR_INVALID_PARAM;
        r = ajlJpgDecoderSetProp(c->hDecoder, JPG_PROP_INDEX_BUDGET, buf, 8);
        break;
    default:
        return MERR_INVALID_PARAM;
    }
    return MdUtilsDecodeConvertResult(r);
}

// Reads the clamped region MCU row by MCU row through the decoder's MCU reader.
int64_t readRegion(JpegComponent* c, MByte** planes, MInt64* pitches) {
    const MInt64 s = c->lScale, mw = c->lMcuW, mh = c->lMcuH;
    const MInt64 c0 = c->clamped.l / mw, c1 = ceilDiv(c->clamped.r, mw);
    const MInt64 r0 = c->clamped.t / mh, r1 = ceilDiv(c->clamped.b, mh);
    uint8_t* p[3] = {planes[0], planes[1], planes[2]};
    int64_t pitch[3] = {pitches[0], pitches[1], pitches[2]};
    const MInt64 rows = mh / s;
    for (MInt64 row = r0; row < r1; ++row) {
        JpgReadOutput out{p, pitch};
        JpgReadRequest req{2, c1 - c0, c0, row, &out};
        int64_t r = ajlJpgDecoderReadMCUs(c->hDecoder, &req);
        if (r != 0) return r;
        p[0] += pitch[0] * rows;
        if (c->dwSubType != 4) {
            for (int k = 1; k < 3; ++k)
                if (p[k]) p[k] += pitch[k] * (rows / c->lVf);
        }
    }
    return 0;
}

void copyColumn(MByte* plane, MInt64 pitch, MInt64 rows, MInt64 to) {
    if (!plane || to < 1) return;
    for (MInt64 y = 0; y < rows; ++y) plane[y * pitch + to] = plane[y * pitch + to - 1];
}

void copyRow(MByte* plane, MInt64 pitch, MInt64 to, MInt64 bytes) {
    if (!plane || to < 1) return;
    std::memmove(plane + to * pitch, plane + (to - 1) * pitch, size_t(bytes));
}

// Chroma columns [from, to) that lie past the picture's own samples (the first `own` columns)
// take the last own column's value; a column that covers picture pixels keeps its own sample, and
// nothing is written past the row's pitch (into the next row).
void padColumns(MByte* plane, MInt64 pitch, MInt64 rows, MInt64 own, MInt64 from, MInt64 to) {
    if (!plane || own < 1) return;
    for (MInt64 x = std::max(from, own); x < std::min(to, pitch); ++x)
        for (MInt64 y = 0; y < rows; ++y) plane[y * pitch + x] = plane[y * pitch + own - 1];
}

// Rows [from, to) past the first `own` rows of a chroma plane of `height` rows become copies of
// the last own row.
void padRows(MByte* plane, MInt64 pitch, MInt64 height, MInt64 own, MInt64 from, MInt64 to, MInt64 bytes) {
    if (!plane || own < 1) return;
    for (MInt64 y = std::max(from, own); y < std::min(to, height); ++y)
        std::memmove(plane + y * pitch, plane + (own - 1) * pitch, size_t(bytes));
}

// The MCU-aligned delivery can reach one column or row past the picture; those samples are
// copies of their neighbours so that a converter reading them sees no garbage. At a reduced scale
// the last column or row of an image whose size is not a multiple of the scale is partly picture:
// it is decoded like any other and kept (it is the picture's last pixels, averaged).
// Subsampled chroma of an odd-sized picture is padded the same way, past its last own sample: the
// last picture column and row keep the chroma decoded for them.
void repairEdges(JpegComponent* c, MByte** pl, MInt64* pitch, MInt64 n) {
    const MInt64 s = c->lScale, w = c->delivered.r - c->delivered.l, h = c->delivered.b - c->delivered.t;
    const MInt64 hf = c->lHf, vf = c->lVf;
    const MUInt64 id = c->dwOutColor;
    const bool planar = id == 0x0F || id == 0x13 || id == 0x14 || id == 0x15;
    const bool odd = id == 0x0F || id == 0x14 || id == 0x13;
    const MInt64 pictureColumns = ceilDiv(c->lImgWidth, s), pictureRows = ceilDiv(c->lImgHeight, s);
    const MInt64 cw = ceilDiv(w, hf), ch = ceilDiv(h, vf), cbytes = cw;
    auto columns = [&](MInt64 from, MInt64 to) {
        padColumns(pl[1], pitch[1], n / vf, cw, from, to);
        padColumns(pl[2], pitch[2], n / vf, cw, from, to);
    };
    auto rows = [&](MInt64 from, MInt64 to) {
        const MInt64 height = c->lPlaneSize[1] / std::max<MInt64>(c->lPitch[1], 1);
        padRows(pl[1], pitch[1], height, ch, from, to, cbytes);
        padRows(pl[2], pitch[2], height, ch, from, to, cbytes);
    };
    if (c->delivered.r > pictureColumns && w >= 2) {
        copyColumn(pl[0], pitch[0], n, w - 1);
        const MInt64 last = (w - 1) / hf;
        if (planar && last) {
            copyColumn(pl[1], pitch[1], n / vf, last);
            copyColumn(pl[2], pitch[2], n / vf, last);
        }
    } else if ((w & 1) && w > 1 && odd) {
        columns(w / hf, w / hf + 1);
    } else if ((w % 4) && w >= 5 && id == 0x2A) {
        columns(w / 4, w / 4 + (w % 4));
    }
    if (c->delivered.b > pictureRows && h >= 2) {
        copyRow(pl[0], pitch[0], h - 1, w);
        if (planar && ch >= 2) {
            copyRow(pl[1], pitch[1], ch - 1, cbytes);
            copyRow(pl[2], pitch[2], ch - 1, cbytes);
        }
        return;
    }
    // An odd height of 4:2:0, 4:2:2 or 4:4:0, like any width of 3:1 chroma, ends on a chroma row
    // (column) of its own: nothing to pad.
    if ((h % 4) && id == 0x2B) {
        const MInt64 q = std::max<MInt64>(h / 4, 1);
        rows(q, q + (h % 4));
    }
}

int64_t decodeInto(JpegComponent* c, MByte** planes, MInt64* pitches) {
    if (c->bSequential) {
        c->bSequential = 0;
        uint8_t* p[3] = {planes[0], planes[1], planes[2]};
        int64_t pitch[3] = {pitches[0], pitches[1], pitches[2]};
        int64_t lines = c->clamped.b - c->clamped.t;
        return ajlJpgDecoderScanlines(c->hDecoder, p, pitch, 0, &lines);
    }
    return readRegion(c, planes, pitches);
}

MResult s_DecScanlines(MHandle h, MByte** planes, MInt64* pitches, MInt64* first, MInt64* count) {
    auto* c = self(h);
    if (!c || !c->hDecoder) return MERR_REGISTRATION;
    if (!planes || !pitches || !planes[0]) return MERR_INVALID_PARAM;
    if (first) *first = c->clamped.t;
    const MInt64 n = c->delivered.b - c->delivered.t;
    if (count) *count = n;
    if (c->bRGB) {
        const MInt64 w = c->delivered.r - c->delivered.l;
        const MInt64 aw = (w + c->lMcuW) / 8 * 8 + 8, ah = (n + c->lMcuH) / 8 * 8 + 8;
        if (aw > (MInt64(1) << 20) || ah > (MInt64(1) << 20) || aw * ah > (MInt64(1) << 30))
            return MERR_UNSUPPORTED;
        auto* block = static_cast<MByte*>(MMemAlloc(mdcomp::memContext(c->head.hAMCM), size_t(aw * ah * 3)));
        if (!block) return MERR_NO_MEMORY;
        MByte* p[3] = {block, block + aw * ah, block + 2 * aw * ah};
        MInt64 pitch[3] = {aw, aw, aw};
        int64_t r = decodeInto(c, p, pitch);
        if (r == 0) {
            for (MInt64 y = 0; y < n; ++y) {
                MByte* dst = planes[0] + y * pitches[0];
                for (MInt64 x = 0; x < w; ++x) {
                    dst[3 * x] = p[2][y * aw + x];
                    dst[3 * x + 1] = p[1][y * aw + x];
                    dst[3 * x + 2] = p[0][y * aw + x];
                }
            }
        }
        MMemFree(mdcomp::memContext(c->head.hAMCM), block);
        return MdUtilsDecodeConvertResult(r);
    }
    int64_t r = decodeInto(c, planes, pitches);
    if (r == 0) repairEdges(c, planes, pitches, n);
    return MdUtilsDecodeConvertResult(r);
}

const MDecComponentFuncs kFuncs = {s_Init, s_Destroy, mdcomp::typeID<AMCM_CID_JPEG_DECODER>,
                                   mdcomp::versionOp, s_GetProp, s_SetProp, s_DecScanlines};

} // namespace

extern "C" {

MResult MDecoder_AJL2Create(AMCMHandle hAMCM, MHandle* phInstance) {
    return mdcomp::createWithMemMgr<JpegComponent>(hAMCM, phInstance, kFuncs);
}

MResult MdUtilsConvertResult(MInt64 code, MBool bDecoding) {
    switch (code) {
    case 0: return MOK;
    case JPG_ERR_PARAM:
    case JPG_ERR_CATEGORY: return MERR_INVALID_PARAM;
    case JPG_ERR_MEMORY: return MERR_NO_MEMORY;
    case JPG_ERR_UNSUPPORTED: return MERR_UNSUPPORTED;
    case JPG_ERR_DATA: return bDecoding ? MERR_FILE_READ : MERR_FILE_WRITE;
    case JPG_ERR_WRITE: return MERR_FILE_WRITE;
    case JPG_ERR_CANCELLED: return MERR_UNKNOWN;
    default: return code;
    }
}

MResult MdUtilsDecodeConvertResult(MInt64 code) { return MdUtilsConvertResult(code, 1); }
MResult MdUtilsEncodeConvertResult(MInt64 code) { return MdUtilsConvertResult(code, 0); }

} // extern "C"
