// GIF decoder component: the GIF decoder behind the component operation table.
#include "ComponentCommon.h"
#include "GifDecoder.h"

namespace {

using mdcomp::put;

struct GifComponent {
    MDecComponentHead head;
    GIFHandle hDecoder;
    MSTREAM stream;
    MInt64 lOutWidth, lOutHeight;
    MInt64 lFrame;
    MInt64 lBits;
    MUInt64 info[3]; // {0, loop extension present, loop count}
    MInt64 lFrameCount;
    MDecComponentFuncs table;
};

GifComponent* self(MHandle h) { return static_cast<GifComponent*>(h); }

MResult s_Init(MHandle h, MVoid* source) {
    auto* c = self(h);
    if (!c || !source) return MERR_INVALID_PARAM;
    auto stream = static_cast<MSTREAM>(source);
    if (c->hDecoder) GIF_DecodeUninit(c->hDecoder);
    c->hDecoder = nullptr;
    c->lFrameCount = 0;
    c->info[0] = c->info[1] = c->info[2] = 0;
    MInt64 w = 0, ht = 0;
    MResult r = GIF_GetInfoFromFile(stream, &w, &ht, &c->lBits);
    c->lBits = 8;
    if (r != MOK) return r;
    if (MStreamSeek(stream, MSTREAM_SEEK_BEGIN, 0) != 0) return MERR_FILE_SEEK;
    GIF_GetGifInfo(stream, c->info);
    if (MStreamSeek(stream, MSTREAM_SEEK_BEGIN, 0) != 0) return MERR_FILE_SEEK;
    r = GIF_DecodeInit(stream, &c->hDecoder);
    if (r != MOK) {
        c->hDecoder = nullptr;
        return r;
    }
    c->stream = stream;
    c->lOutWidth = w;
    c->lOutHeight = ht;
    c->lFrame = 0;
    return MOK;
}

MResult s_Destroy(MHandle h) {
    auto* c = self(h);
    if (!c) return MERR_INVALID_PARAM;
    MResult r = c->hDecoder ? GIF_DecodeUninit(c->hDecoder) : MOK;
    mdcomp::destroy(c);
    return r;
}

// Frames are counted once from the start of the stream; the reading position is kept.
MInt64 frameCount(GifComponent* c) {
    if (c->lFrameCount == 0 && c->stream) {
        MInt64 pos = MStreamTell(c->stream);
        MInt64 n = 0;
        if (MStreamSeek(c->stream, MSTREAM_SEEK_BEGIN, 0) == 0 && GIF_GetFrameCount(c->stream, &n) == MOK)
            c->lFrameCount = n;
        MStreamSeek(c->stream, MSTREAM_SEEK_BEGIN, pos);
    }
    return c->lFrameCount;
}

MResult s_GetProp(MHandle h, MInt64 id, MVoid* buf, MInt64 size) {
    auto* c = self(h);
    if (!c || !buf) return MERR_INVALID_PARAM;
    auto exact8 = [&](MInt64 v) {
        if (size != 8) return MResult(MERR_INVALID_PARAM);
        put(buf, v);
        return MResult(MOK);
    };
    if (MResult r; mdcomp::getCommonProp(c, GIF_DecodeGetColorTab, id, buf, size, &r)) return r;
    switch (id) {
    case MDEC_PROP_DELIVERY: return exact8(2);
    case MDEC_PROP_IMAGE_SIZE: {
        if (size != 16) return MERR_INVALID_PARAM;
        GIFGlobalInfo g{};
        MResult r = GIF_DecodeGetGlobInfo(c->hDecoder, &g);
        if (r != MOK) return r;
        put<MInt64>(buf, g.wWidth);
        put<MInt64>(static_cast<MByte*>(buf) + 8, g.wHeight);
        return MOK;
    }
    case MDEC_PROP_PALETTE_SIZE:
        if (size != 8) return MERR_INVALID_PARAM;
        return mdcomp::paletteSize(GIF_DecodeGetColorTab, c->hDecoder, buf);
    case MDEC_PROP_BITS: return exact8(8);
    case MDEC_PROP_COLOR: return exact8(0x19);
    case 0x1009: return exact8(1);
    case MDEC_PROP_HAS_ALPHA: {
        if (size != 8) return MERR_INVALID_PARAM;
        GIFFrameInfo f{};
        MResult r = GIF_DecodeGetFrameInfo(c->hDecoder, &f, c->lFrame);
        if (r == MOK) put<MInt64>(buf, MInt64(f.dwTransparent));
        return r;
    }
    case MDEC_PROP_GIF_FRAME: return exact8(c->lFrame);
    case MDEC_PROP_GIF_GLOBAL:
        if (size != (MInt64)sizeof(GIFGlobalInfo)) return MERR_INVALID_PARAM;
        return GIF_DecodeGetGlobInfo(c->hDecoder, static_cast<GIFGlobalInfo*>(buf));
    case MDEC_PROP_GIF_INFO0: return exact8(MInt64(c->info[0]));
    case MDEC_PROP_GIF_LOOP:
        // A loop count of 0 means "for ever", reported as -1; no loop extension reports 0.
        return exact8(c->info[1] ? (c->info[2] == 0 ? -1 : MInt64(c->info[2])) : 0);
    case MDEC_PROP_GIF_FRAMEINFO:
        if (size != (MInt64)sizeof(GIFFrameInfo)) return MERR_INVALID_PARAM;
        return GIF_DecodeGetFrameInfo(c->hDecoder, static_cast<GIFFrameInfo*>(buf), c->lFrame);
    case MDEC_PROP_GIF_FRAMECOUNT:
        if (size != 8) return MERR_INVALID_PARAM;
        put(buf, frameCount(c));
        return MOK;
    default:
        return MERR_INVALID_PARAM;
    }
}

MResult s_SetProp(MHandle h, MInt64 id, MVoid* buf, MInt64 size) {
    auto* c = self(h);
    return mdcomp::setProp(c, GIF_DecodeSetDimension, id, buf, size, false,
                           {MDEC_PROP_PALETTE_SIZE, MDEC_PROP_PALETTE, MDEC_PROP_GIF_GLOBAL, MDEC_PROP_GIF_INFO0,
                            MDEC_PROP_GIF_FRAMEINFO},
                           [&](MInt64 prop) {
                               if (prop != MDEC_PROP_GIF_FRAME) return MResult(MERR_INVALID_PARAM);
                               c->lFrame = mdcomp::get<MInt64>(buf);
                               return MResult(MOK);
                           });
}

MResult s_DecScanlines(MHandle h, MByte** planes, MInt64* pitches, MInt64* first, MInt64* count) {
    auto* c = self(h);
    if (!c || !c->hDecoder) return MERR_REGISTRATION;
    if (!planes || !planes[0] || !count) return MERR_INVALID_PARAM;
    // Several rows land packed one after another, so the caller's pitch must be that packing.
    if (*count > 1 && (!pitches || pitches[0] != ((c->lOutWidth * 8 + 31) >> 5) * 4)) return MERR_INVALID_PARAM;
    return GIF_DecodeScanLines(c->hDecoder, planes[0], *count, first, count);
}

const MDecComponentFuncs kFuncs = {s_Init, s_Destroy, mdcomp::typeID<AMCM_CID_GIF_DECODER>,
                                   mdcomp::versionOp, s_GetProp, s_SetProp, s_DecScanlines};

} // namespace

extern "C" MResult MDecoder_GIFCreate(AMCMHandle hAMCM, MHandle* phInstance) {
    return mdcomp::create<GifComponent>(hAMCM, phInstance, kFuncs);
}
