// Image encoder wrapper over an MCodec encoder.
#include "CodecInternal.h"
#include "MIDec.h"

namespace {

struct MIEncRecord {
    AMCMHandle hAMCM;
    MHandle hMemContext;
    MSTREAM stream;
    MInt64 lImgType;
    MInt64 lWidth, lHeight;
    MUInt64 dwEncColor;
    MUInt64 dwInColor;
    MInt64 lQuality;
    MVoid* pData;
    MInt64 lDataSize;
    MUInt64 dwYUVLayout;
    MHandle hCodec;
};

MIEncRecord* self(MHandle h) { return static_cast<MIEncRecord*>(h); }

} // namespace

extern "C" {

MResult MIEnc_Create(AMCMHandle hAMCM, MSTREAM stream, MInt64 type, MInt64 w, MInt64 h, MUInt64 color, MHandle* out) {
    if (!hAMCM || !out) return MERR_INVALID_PARAM;
    MHandle ctx = nullptr;
    AMCM_GetGlobalData(hAMCM, AMCM_GD_MEM_CONTEXT, &ctx, 8);
    auto* e = static_cast<MIEncRecord*>(MMemAlloc(ctx, sizeof(MIEncRecord)));
    if (!e) return MERR_NO_MEMORY;
    std::memset(e, 0, sizeof *e);
    *e = {hAMCM, ctx, stream, type, w, h, color, color, 80, nullptr, 0, 0x1000, nullptr};
    MCodecEncParam p{stream, w, h, MdUtilsNewColorID2Old(color), 100, 100};
    MResult r = MCodec_EncodeCreate(hAMCM, &p, type, 0, &e->hCodec);
    if (r != MOK) {
        MIEnc_Destroy(e);
        return r;
    }
    *out = e;
    return MOK;
}

MResult MIEnc_CreateEx(AMCMHandle, MSTREAM, MInt64, MInt64, MInt64, MUInt64, MVoid*, MVoid*, MVoid*, MHandle*) {
    return MERR_UNSUPPORTED;
}

MResult MIEnc_GetProp(MHandle h, MInt64 id, MVoid* buf, MInt64 size) {
    auto* e = self(h);
    if (!e) return MERR_INVALID_PARAM;
    auto put8 = [&](MInt64 v) {
        if (!buf || size != 8) return MResult(MERR_INVALID_PARAM);
        std::memcpy(buf, &v, 8);
        return MResult(MOK);
    };
    switch (id) {
    case 2: {
        if (!buf || size != 16) return MERR_INVALID_PARAM;
        MInt64 wh[2] = {e->lWidth, e->lHeight};
        std::memcpy(buf, wh, 16);
        return MOK;
    }
    case 3: return put8(MInt64(e->dwInColor));
    case 0x1008: return put8(MInt64(e->dwEncColor));
    case 0x2101: return put8(e->lQuality);
    default: return e->hCodec ? MOld_GetProp(e->hCodec, id, buf, size) : MERR_INVALID_PARAM;
    }
}

MResult MIEnc_SetProp(MHandle h, MInt64 id, MVoid* buf, MInt64 size) {
    auto* e = self(h);
    if (!e || !e->hCodec || !buf) return MERR_INVALID_PARAM;
    MInt64 v = 0;
    if (size == 8) std::memcpy(&v, buf, 8);
    switch (id) {
    case 2:
        if (size != 16) return MERR_INVALID_PARAM;
        std::memcpy(&e->lWidth, buf, 8);
        std::memcpy(&e->lHeight, static_cast<MByte*>(buf) + 8, 8);
        return MOK;
    case 3: {
        if (size != 8) return MERR_INVALID_PARAM;
        e->dwInColor = MUInt64(v);
        MUInt64 old = MdUtilsNewColorID2Old(MUInt64(v));
        MResult r = MCodec_SetProp(e->hCodec, 0x2002, &old, 8);
        if (r == MOK) {
            MUInt64 back = MdUtilsOldColorID2New(old);
            std::memcpy(buf, &back, 8);
        }
        return r;
    }
    case 5:
        if (size != 8) return MERR_INVALID_PARAM;
        if (v != 0 && v != 0x1000 && v != 0x2000 && v != 0x3000) return MERR_INVALID_PARAM;
        e->dwYUVLayout = MUInt64(v);
        if (mcodec::isYUV(e->dwEncColor)) {
            e->dwEncColor = (e->dwEncColor & ~MUInt64(0x3000)) | MUInt64(v);
            mcodec::rec(e->hCodec)->dwZoomDstColor = e->dwEncColor;
        }
        return MOK;
    case 0x1008:
        if (size != 8) return MERR_INVALID_PARAM;
        e->dwEncColor = MUInt64(v);
        return MOK;
    case 0x2101:
        if (size != 8) return MERR_INVALID_PARAM;
        e->lQuality = v;
        return MCodec_SetProp(e->hCodec, id, buf, size);
    case 0x2102:
        if (size < 1 || size >= 65536) return MERR_INVALID_PARAM;
        e->pData = buf;
        e->lDataSize = size;
        return MCodec_SetProp(e->hCodec, id, buf, size);
    default:
        return MOld_SetProp(e->hCodec, id, buf, size);
    }
}

MResult MIEnc_Scanlines(MHandle h, MByte** planes, MInt64* pitches, MInt64* count) {
    auto* e = self(h);
    if (!e) return MERR_INVALID_PARAM;
    return MCodec_EncodeScanlines(e->hCodec, planes, pitches, count);
}

MResult MIEnc_Destroy(MHandle h) {
    auto* e = self(h);
    if (!e) return MERR_INVALID_PARAM;
    if (e->hCodec) MCodec_Destroy(e->hCodec);
    MMemFree(e->hMemContext, e);
    return MOK;
}

} // extern "C"
