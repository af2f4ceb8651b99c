// PNG decoder component: the PNG decoding glue behind the component operation table.
#include "ComponentCommon.h"
#include "PngDecoder.h"

namespace {

using mdcomp::put;

struct PngComponent {
    MDecComponentHead head;
    PNGHandle hDecoder;
    MSTREAM stream;
    MInt64 lOutWidth, lOutHeight;
    MInt64 lImgWidth, lImgHeight;
    MInt64 lBits;
    MDecComponentFuncs table;
};

PngComponent* self(MHandle h) { return static_cast<PngComponent*>(h); }

MResult s_Init(MHandle h, MVoid* source) {
    auto* c = self(h);
    if (!c || !source) return MERR_INVALID_PARAM;
    auto stream = static_cast<MSTREAM>(source);
    if (c->hDecoder) PNG_DecodeUninit(c->hDecoder);
    c->hDecoder = nullptr;
    const MInt64 pos = MStreamTell(stream);
    c->lImgWidth = c->lImgHeight = 0;
    MResult r = PNG_GetInfoFromFile(stream, &c->lImgWidth, &c->lImgHeight, &c->lBits);
    // 16-bit channels are delivered as 8-bit ones.
    if (c->lBits > 32) c->lBits /= 2;
    if (r != MOK) return r;
    if (MStreamSeek(stream, MSTREAM_SEEK_BEGIN, pos) != 0) return MERR_FILE_SEEK;
    r = PNG_DecodeInit(stream, &c->hDecoder);
    if (r != MOK) {
        c->hDecoder = nullptr;
        return r;
    }
    c->stream = stream;
    c->lOutWidth = c->lImgWidth;
    c->lOutHeight = c->lImgHeight;
    return MOK;
}

MResult s_Destroy(MHandle h) {
    auto* c = self(h);
    if (!c) return MERR_INVALID_PARAM;
    if (c->hDecoder) PNG_DecodeUninit(c->hDecoder);
    mdcomp::destroy(c);
    return MOK;
}

MResult hasAlpha(PngComponent* c, MInt64* v) {
    PNGInfo info{};
    MResult r = PNG_DecodeGetPngInfo(c->hDecoder, &info);
    if (r != MOK) return r;
    *v = (info.lPaletteTransparency || info.lPixelDepth == 32 || c->lBits == 16) ? 1 : 0;
    return MOK;
}

MResult colorOf(PngComponent* c, MUInt64* id) {
    MInt64 pal = 0;
    MResult r = PNG_DecodeGetColorTab(c->hDecoder, nullptr, &pal);
    if (r != MOK) return r;
    switch (c->lBits) {
    case 32: *id = 0x25; return MOK;
    case 24: *id = 0x02; return MOK;
    case 16: *id = 0x1E; return MOK;
    case 1: *id = pal ? 0x16 : 0x1A; return MOK;
    case 2: *id = pal ? 0x17 : 0x1B; return MOK;
    case 4: *id = pal ? 0x18 : 0x1C; return MOK;
    case 8: *id = pal ? 0x19 : 0x1D; return MOK;
    default: *id = 0; return MERR_UNKNOWN;
    }
}

MResult s_GetProp(MHandle h, MInt64 id, MVoid* buf, MInt64 size) {
    auto* c = self(h);
    if (!c || !buf) return MERR_INVALID_PARAM;
    if (MResult r; mdcomp::getCommonProp(c, PNG_DecodeGetColorTab, id, buf, size, &r)) return r;
    switch (id) {
    case MDEC_PROP_DELIVERY:
        if (size < 8) return MERR_INVALID_PARAM;
        put<MInt64>(buf, 1);
        return MOK;
    case MDEC_PROP_IMAGE_SIZE:
        return mdcomp::sizeAnswer(buf, size, c->lImgWidth, c->lImgHeight);
    case MDEC_PROP_PALETTE_SIZE:
        if (size < 8) return MERR_INVALID_PARAM;
        return mdcomp::paletteSize(PNG_DecodeGetColorTab, c->hDecoder, buf);
    case MDEC_PROP_BITS: {
        if (size != 8) return MERR_INVALID_PARAM;
        PNGInfoHeader hd{};
        MResult r = PNG_DecodeGetInfoHeader(c->hDecoder, &hd);
        if (r == MOK) put<MInt64>(buf, hd.wBitCount);
        return r;
    }
    case MDEC_PROP_COLOR: {
        if (size < 8) return MERR_INVALID_PARAM;
        MUInt64 v = 0;
        MResult r = colorOf(c, &v);
        if (r == MOK || r == MERR_UNKNOWN) put(buf, v);
        return r;
    }
    case 0x1009:
        if (size != 8) return MERR_INVALID_PARAM;
        put<MInt64>(buf, 1);
        return MOK;
    case MDEC_PROP_HAS_ALPHA:
    case MDEC_PROP_PNG_TRANS: {
        if (size != 8) return MERR_INVALID_PARAM;
        MInt64 v = 0;
        MResult r = hasAlpha(c, &v);
        if (r == MOK) put(buf, v);
        return r;
    }
    case MDEC_PROP_INFO_HEADER:
        if (size != (MInt64)sizeof(PNGInfoHeader)) return MERR_INVALID_PARAM;
        return PNG_DecodeGetInfoHeader(c->hDecoder, static_cast<PNGInfoHeader*>(buf));
    case MDEC_PROP_PNG_PASSES: {
        if (size < 8) return MERR_INVALID_PARAM;
        PNGInfo info{};
        MResult r = PNG_DecodeGetPngInfo(c->hDecoder, &info);
        if (r == MOK) put(buf, info.lPasses);
        return r;
    }
    default:
        return MERR_INVALID_PARAM;
    }
}

MResult s_SetProp(MHandle h, MInt64 id, MVoid* buf, MInt64 size) {
    return mdcomp::setProp(self(h), PNG_DecodeSetDimension, id, buf, size, false,
                           {MDEC_PROP_PALETTE_SIZE, MDEC_PROP_PALETTE}, [](MInt64) { return MERR_INVALID_PARAM; });
}

// Rows are asked one at a time so that each lands at the caller's pitch; every row is tried
// even after a failure, and the last call's result is the answer.
MResult s_DecScanlines(MHandle h, MByte** planes, MInt64* pitches, MInt64* first, MInt64* count) {
    auto* c = self(h);
    if (!c || !c->hDecoder) return MERR_REGISTRATION;
    if (!planes || !planes[0] || !pitches || !count || !first) return MERR_INVALID_PARAM;
    const MInt64 wanted = *count;
    MInt64 total = 0;
    MResult r = MOK;
    MByte* row = planes[0];
    for (MInt64 i = 0; i < wanted; ++i) {
        MInt64 idx = 0, n = 0;
        r = PNG_DecodeScanLines(c->hDecoder, row, 1, &idx, &n);
        total += n;
        if (n > 0) *first = idx;
        row += pitches[0];
    }
    *count = total;
    return r;
}

const MDecComponentFuncs kFuncs = {s_Init, s_Destroy, mdcomp::typeID<AMCM_CID_PNG_DECODER>,
                                   mdcomp::versionOp, s_GetProp, s_SetProp, s_DecScanlines};

} // namespace

extern "C" MResult MDecoder_PNGCreate(AMCMHandle hAMCM, MHandle* phInstance) {
    return mdcomp::create<PngComponent>(hAMCM, phInstance, kFuncs);
}
