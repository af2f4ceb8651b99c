// Image decoder wrapper: creation, properties, GIF frame merging and destruction.
#include <algorithm>

#include "GifDecoder.h"
#include "MIDecInternal.h"
#include "MdImgInfo.h"

using namespace mcodec;

namespace {

MIDecRecord* self(MHandle h) { return static_cast<MIDecRecord*>(h); }

MResult compGetD(MIDecRecord* d, MInt64 id, MVoid* v, MInt64 n) {
    if (!d->pComponent) return MERR_INVALID_PARAM;
    return MDEC_FUNCS(d->pComponent)->s_GetProp(d->pComponent, id, v, n);
}
MResult compSetD(MIDecRecord* d, MInt64 id, MVoid* v, MInt64 n) {
    if (!d->pComponent) return MERR_INVALID_PARAM;
    return MDEC_FUNCS(d->pComponent)->s_SetProp(d->pComponent, id, v, n);
}

void describeNew(MUInt64 id, MUInt64 desc[4]) {
    MdUtilsFormatColorID(id, &desc[0], &desc[1], &desc[2], &desc[3]);
}

MResult initDirect(MIDecRecord* d, MSTREAM stream, const MChar* name, MInt64 mode, const MUInt64* skip,
                   MInt64 skipCount, MHandle given) {
    d->lResizeAlg = 2;
    d->byProp4 = 0xFF;
    d->dwYUVLayout = 0x1000;
    if (given) {
        d->pComponent = given;
        d->bOwned = 0;
    } else {
        MUInt64 ids[10] = {};
        MResult r = MdUtilsFindCodecComponents(d->hAMCM, AMCM_TYPECLASS_DECODER | MUInt64(GetCodecSubType(d->lImgType)),
                                               ids, 10);
        if (r != MOK) return r;
        if (!ids[0]) return MERR_UNSUPPORTED;
        MResult last = MERR_UNSUPPORTED;
        for (int i = 0; i < 10 && ids[i]; ++i) {
            if (skip && std::find(skip, skip + skipCount, ids[i]) != skip + skipCount) continue;
            MHandle inst = nullptr;
            last = AMCM_CreateComponent(d->hAMCM, MDWord(ids[i]), &inst);
            if (last != MOK) return last;
            if (ids[i] == AMCM_CID_GENERIC_DECODER) {
                last = MDEC_FUNCS(inst)->s_SetProp(inst, 1, &mode, 8);
                if (last == MOK) {
                    auto* g = reinterpret_cast<const MDecGenericFuncs*>(MDEC_FUNCS(inst));
                    last = g->s_OpenFile ? g->s_OpenFile(inst, stream, name, d->lImgType) : MERR_UNSUPPORTED;
                } else {
                    MDEC_FUNCS(inst)->s_Destroy(inst);
                    return last;
                }
            } else {
                last = MDEC_FUNCS(inst)->s_Init(inst, stream);
            }
            if (last == MOK) {
                d->pComponent = inst;
                d->bOwned = 1;
                break;
            }
            MDEC_FUNCS(inst)->s_Destroy(inst);
        }
        if (!d->pComponent) return last;
    }
    MDEC_FUNCS(d->pComponent)->s_GetTypeID(d->pComponent, &d->dwComponentID);
    MUInt64 old = 0;
    MResult r = compGetD(d, MDEC_PROP_COLOR, &old, 8);
    if (r != MOK) return r;
    d->dwNativeColor = d->dwOutColor = MdUtilsOldColorID2New(old);
    describeNew(d->dwNativeColor, d->nativeDesc);
    describeNew(d->dwOutColor, d->outDesc);
    MInt64 wh[2] = {};
    r = compGetD(d, MDEC_PROP_IMAGE_SIZE, wh, 16);
    if (r != MOK) return r;
    if (wh[0] < 1 || wh[1] < 1) return MERR_UNSUPPORTED;
    d->lImgWidth = wh[0];
    d->lImgHeight = wh[1];
    MInt64 delivery = 0;
    d->bRegionDecoding = compGetD(d, MDEC_PROP_DELIVERY, &delivery, 8) == MOK && delivery == 4;
    d->lRotation = d->lFlip = 0;
    d->rcSource = d->rcOut = {0, 0, wh[0], wh[1]};
    d->lOutWidth = wh[0];
    d->lOutHeight = wh[1];
    d->lBackup = 0;
    d->lCurrent = 1;
    return MOK;
}

MResult create(AMCMHandle hAMCM, MSTREAM stream, const MChar* name, MInt64 type, MInt64 mode, const MUInt64* skip,
               MInt64 skipCount, MHandle given, MHandle* out) {
    if (!hAMCM || !out) return MERR_INVALID_PARAM;
    AMCM_RegisterEx(hAMCM, AMCM_CID_MEMBITMAP_DECODER, AMCM_TYPECLASS_DECODER, 10, 3, MDecoder_MBitmapCreate);
    MHandle ctx = nullptr, iram = nullptr;
    AMCM_GetGlobalData(hAMCM, AMCM_GD_MEM_CONTEXT, &ctx, 8);
    AMCM_GetGlobalData(hAMCM, AMCM_GD_IRAM_MGR, &iram, 8);
    MHandle mgr = nullptr;
    MResult r = MMgrInit(ctx, &mgr);
    if (r != MOK) return r;
    if (iram) MMgrSetIramMgr(mgr, iram);
    auto* d = static_cast<MIDecRecord*>(MMgrAlloc(mgr, sizeof(MIDecRecord)));
    if (!d) {
        MMgrUninit(mgr);
        return MERR_NO_MEMORY;
    }
    std::memset(d, 0, sizeof *d);
    d->hAMCM = hAMCM;
    d->hMemMgr = mgr;
    d->bInitialised = 1;
    if (type == 0 && stream) {
        ImgFormat f = 0;
        MdUtilsGetImgInfo(stream, &f, nullptr, nullptr);
        type = f;
    }
    d->lImgType = type;
    d->bWrapper = (type == MD_IMG_JPEG || type == MD_IMG_MBITMAP) ? 0 : 1;
    if (d->bWrapper) {
        MInt64 m = mode;
        r = MCodec_CreateDecoderExWithFileName(hAMCM, stream, name, type, &m, skip, skipCount, &d->hCodec);
    } else {
        r = initDirect(d, stream, name, mode, skip, skipCount, given);
    }
    if (r != MOK) {
        MIDec_Destroy(d);
        return r;
    }
    *out = d;
    return MOK;
}

MResult directGet(MIDecRecord* d, MInt64 id, MVoid* buf, MInt64 size) {
    if (!buf) return MERR_INVALID_PARAM;
    auto put8 = [&](MInt64 v) {
        if (size != 8) return MResult(MERR_INVALID_PARAM);
        std::memcpy(buf, &v, 8);
        return MResult(MOK);
    };
    switch (id) {
    case 3: return put8(MInt64(d->dwOutColor));
    case 4:
        if (size != 1) return MERR_INVALID_PARAM;
        *static_cast<MByte*>(buf) = d->byProp4;
        return MOK;
    case 5: return put8(MInt64(d->dwYUVLayout));
    case MDEC_PROP_OUT_SIZE: {
        if (size != 16) return MERR_INVALID_PARAM;
        MInt64 wh[2] = {d->lOutWidth, d->lOutHeight};
        std::memcpy(buf, wh, 16);
        return MOK;
    }
    case MDEC_PROP_COLOR: return put8(MInt64(d->dwNativeColor));
    case 0x100A:
        if (size != 32) return MERR_INVALID_PARAM;
        std::memcpy(buf, &d->rcOut, 32);
        return MOK;
    case 0x100B: return put8(d->lResizeAlg);
    case MIDEC_PROP_ROTATION: return put8(d->lRotation);
    case MIDEC_PROP_FLIP: return MERR_UNSUPPORTED;
    case 0x2101: case 0x2102: return MERR_UNSUPPORTED;
    default: return compGetD(d, id, buf, size);
    }
}

MResult directSet(MIDecRecord* d, MInt64 id, MVoid* buf, MInt64 size) {
    if (!buf) return MERR_INVALID_PARAM;
    MInt64 v = 0;
    if (size == 8) std::memcpy(&v, buf, 8);
    switch (id) {
    case 3: {
        if (size != 8) return MERR_INVALID_PARAM;
        MUInt64 desc[4];
        MResult r = MdUtilsFormatColorID(MUInt64(v), &desc[0], &desc[1], &desc[2], &desc[3]);
        if (r != MOK) return r;
        d->dwOutColor = MUInt64(v);
        std::copy(desc, desc + 4, d->outDesc);
        if (d->dwComponentID == AMCM_CID_GENERIC_DECODER) return compSetD(d, id, buf, size);
        MUInt64 old = MdUtilsNewColorID2Old(MUInt64(v));
        compSetD(d, MDEC_PROP_COLOR, &old, 8);
        return MOK;
    }
    case 4:
        if (size != 1) return MERR_INVALID_PARAM;
        d->byProp4 = *static_cast<MByte*>(buf);
        return MOK;
    case 5:
        if (size != 8) return MERR_INVALID_PARAM;
        if (v != 0 && v != 0x1000 && v != 0x2000 && v != 0x3000) return MERR_INVALID_PARAM;
        d->dwYUVLayout = MUInt64(v);
        if (isYUV(d->dwNativeColor)) d->dwNativeColor = (d->dwNativeColor & ~MUInt64(0x3000)) | MUInt64(v);
        return MOK;
    case 0x1001: return MERR_UNSUPPORTED;
    case MDEC_PROP_OUT_SIZE: {
        if (size != 16) return MERR_INVALID_PARAM;
        MInt64 wh[2];
        std::memcpy(wh, buf, 16);
        if (wh[0] < 1 || wh[1] < 1 || wh[0] > (MInt64(1) << 28) || wh[1] > (MInt64(1) << 28)) return MERR_INVALID_PARAM;
        d->lOutWidth = wh[0];
        d->lOutHeight = wh[1];
        d->rcOut = {0, 0, wh[0], wh[1]};
        return MOK;
    }
    case MDEC_PROP_COLOR: return MERR_UNSUPPORTED;
    case 0x100A: {
        if (!d->bRegionDecoding) return MERR_UNSUPPORTED;
        if (size != 32) return MERR_INVALID_PARAM;
        MRECT rc;
        std::memcpy(&rc, buf, 32);
        if (!(0 <= rc.left && rc.left < rc.right && rc.right <= d->lOutWidth && 0 <= rc.top && rc.top < rc.bottom &&
              rc.bottom <= d->lOutHeight))
            return MERR_INVALID_PARAM;
        d->rcOut = rc;
        return MOK;
    }
    case 0x100B:
        if (size != 8) return MERR_INVALID_PARAM;
        d->lResizeAlg = v;
        return MOK;
    case MIDEC_PROP_ROTATION: {
        if (size != 8) return MERR_INVALID_PARAM;
        if (v != 0 && v != 90 && v != 180 && v != 270) return MERR_INVALID_PARAM;
        const MRECT o = d->rcOut;
        const MInt64 W = d->lOutWidth, H = d->lOutHeight;
        MInt64 nl = o.left, nt = o.top;
        if (v == 90) { nl = H - o.bottom; nt = o.left; }
        if (v == 180) { nl = W - o.right; nt = H - o.bottom; }
        if (v == 270) { nl = o.top; nt = W - o.right; }
        if (v == 90 || v == 270) {
            d->rcOut = {nl, nt, nl + (o.bottom - o.top), nt + (o.right - o.left)};
            std::swap(d->lOutWidth, d->lOutHeight);
        } else {
            d->rcOut = {nl, nt, nl + (o.right - o.left), nt + (o.bottom - o.top)};
        }
        d->lRotation = (d->lRotation + v) % 360;
        d->dwOrientType = s_MICodec_RotFlip2RotType(d->lRotation, d->lFlip);
        return MOK;
    }
    case MIDEC_PROP_FLIP:
        if (size != 8) return MERR_INVALID_PARAM;
        if (v < 0 || v > 2) return MERR_INVALID_PARAM;
        d->lFlip = v;
        d->dwOrientType = s_MICodec_RotFlip2RotType(d->lRotation, d->lFlip);
        return MOK;
    case 0x1301: case 0x1302: case 0x1304: case 0x1305: case 0x1306: return MERR_UNSUPPORTED;
    case 0x1803:
        if (size != 8) return MERR_INVALID_PARAM;
        d->bPPAlphaSet = 1;
        d->lPPAlpha = v;
        return MOK;
    case 0x4001: case 0x4002: return MERR_UNSUPPORTED;
    default: return compSetD(d, id, buf, size);
    }
}

bool keepsNewNumbering(const MIDecRecord* d) { return d->lImgType == MD_IMG_SVG || d->lImgType == MD_IMG_SWF; }

MResult wrapperGet(MIDecRecord* d, MInt64 id, MVoid* buf, MInt64 size) {
    switch (id) {
    case 3:
    case MDEC_PROP_COLOR: {
        if (!buf || size != 8) return MERR_INVALID_PARAM;
        MUInt64 v = 0;
        MResult r = MOld_GetProp(d->hCodec, id, &v, 8);
        if (r == MOK && !keepsNewNumbering(d)) v = MdUtilsOldColorID2New(v);
        if (r == MOK) std::memcpy(buf, &v, 8);
        return r;
    }
    case 0x100A: {
        if (!buf || size < 32) return MERR_INVALID_PARAM;
        if (keepsNewNumbering(d)) {
            MOld_GetProp(d->hCodec, id, buf, size);
            return MOK;
        }
        MInt64 wh[2] = {};
        MOld_GetProp(d->hCodec, MDEC_PROP_OUT_SIZE, wh, 16);
        MInt64 rc[4] = {0, 0, wh[0], wh[1]};
        std::memcpy(buf, rc, 32);
        return MOK;
    }
    case 0x100E:
        MOld_GetProp(d->hCodec, id, buf, size);
        return MOK;
    case MDEC_PROP_GIF_FRAMEINFO: {
        MResult r = MOld_GetProp(d->hCodec, id, buf, size);
        if (r == MOK && size == 56) std::memcpy(d->frameInfo, buf, 56);
        return r;
    }
    case MIDEC_PROP_DELAY:
    case MIDEC_PROP_DISPOSAL: {
        if (!buf || size != 8) return MERR_INVALID_PARAM;
        GIFFrameInfo f{};
        MResult r = MOld_GetProp(d->hCodec, MDEC_PROP_GIF_FRAMEINFO, &f, 56);
        if (r != MOK) return r;
        MInt64 v = id == MIDEC_PROP_DELAY ? MInt64(f.wDelay) : MInt64(f.dwDisposal);
        std::memcpy(buf, &v, 8);
        return MOK;
    }
    default:
        return MOld_GetProp(d->hCodec, id, buf, size);
    }
}

MResult wrapperSet(MIDecRecord* d, MInt64 id, MVoid* buf, MInt64 size) {
    if (id == 3) {
        if (!buf || size != 8) return MERR_INVALID_PARAM;
        MUInt64 v;
        std::memcpy(&v, buf, 8);
        const MCodecRecord* c = rec(d->hCodec);
        if (c->dwTypeID != AMCM_CID_GENERIC_DECODER && !keepsNewNumbering(d)) v = MdUtilsNewColorID2Old(v);
        return MCodec_SetProp(d->hCodec, 3, &v, 8);
    }
    if (id == MIDEC_PROP_CANVAS) {
        // The handle holds exactly one canvas record.
        if (!buf || size < MInt64(sizeof(MBITMAP))) return MERR_INVALID_PARAM;
        std::memcpy(&d->canvas, buf, sizeof(MBITMAP));
        d->bMerge = 1;
        return MOK;
    }
    return MOld_SetProp(d->hCodec, id, buf, size);
}

MResult mergeToBack(MIDecRecord* d, MInt64 line, MByte** planes) {
    const MBITMAP& cv = d->canvas;
    if (line < 0 || line >= cv.lHeight || !planes || !planes[0] || !cv.pPlane[0]) return MOK;
    const MCodecRecord* c = rec(d->hCodec);
    const MByte* pal = c->pLocalPalette ? c->pLocalPalette : c->pGlobalPalette;
    if (!pal) return MOK;
    MUInt64 bits = 0;
    if (MdUtilsFormatColorID(cv.dwPixelArrayFormat, nullptr, nullptr, &bits, nullptr) != MOK) return MOK;
    const MInt64 bpp = MInt64(bits) / 8;
    MWord fw;
    std::memcpy(&fw, d->frameInfo + 4, 2);
    const MInt64 n = std::min<MInt64>(fw, cv.lWidth);
    MByte* row = cv.pPlane[0] + line * cv.lPitch[0];
    const MByte* idx = planes[0];
    const bool trans = c->bTransColorGif != 0;
    const MUInt64 fmt = cv.dwPixelArrayFormat;
    for (MInt64 x = 0; x < n; ++x) {
        const MByte i = idx[x];
        if (trans && i == c->dwTransIndex) continue;
        const MByte* e = pal + 4 * i;
        MByte* p = row + x * bpp;
        if (bpp == 4) {
            if (fmt == 0x17001777 || fmt == 0x37001777) { p[0] = e[2]; p[1] = e[1]; p[2] = e[0]; p[3] = 255; }
            else if (fmt == 0x17000777 || fmt == 0x37000777) { p[0] = e[0]; p[1] = e[1]; p[2] = e[2]; p[3] = e[3]; }
            else if (fmt == 0x37004777) { p[0] = e[3]; p[1] = e[0]; p[2] = e[1]; p[3] = e[2]; }
            else if (fmt == 0x37005777) { p[0] = e[3]; p[1] = e[2]; p[2] = e[1]; p[3] = e[0]; }
            else return MOK;
        } else if (bpp == 3) {
            p[0] = e[0]; p[1] = e[1]; p[2] = e[2];
        } else if (bpp == 2) {
            const MWord v = MWord(((e[2] >> 3) << 11) | ((e[1] >> 2) << 5) | (e[0] >> 3));
            std::memcpy(p, &v, 2);
        }
    }
    return MOK;
}

} // namespace

MUInt32 s_MICodec_RotFlip2RotType(MInt64 rotation, MInt64 flip) {
    static const MUInt32 table[4][3] = {{0, 1, 2}, {3, 6, 7}, {4, 2, 1}, {5, 7, 6}};
    const int r = int((rotation / 90) & 3);
    const int f = int(std::clamp<MInt64>(flip, 0, 2));
    return table[r][f];
}

extern "C" {

MResult MIDec_Create(AMCMHandle m, MSTREAM s, MInt64 type, MHandle* out) {
    return create(m, s, nullptr, type, 0, nullptr, 0, nullptr, out);
}
MResult MIDec_CreateEx(AMCMHandle m, MSTREAM s, MInt64 type, MInt64 mode, const MUInt64* skip, MInt64 n, MHandle* out) {
    return create(m, s, nullptr, type, mode, skip, n, nullptr, out);
}
MResult MIDec_CreateWithCodec(AMCMHandle m, MInt64 type, MHandle comp, MHandle* out) {
    if (type != MD_IMG_JPEG && type != MD_IMG_MBITMAP) return create(m, nullptr, nullptr, type, 0, nullptr, 0, nullptr, out);
    return create(m, nullptr, nullptr, type, 0, nullptr, 0, comp, out);
}
MResult MIDec_CreateWithFileName(AMCMHandle m, MSTREAM s, const MChar* name, MInt64 type, MHandle* out) {
    return create(m, s, name, type, 0, nullptr, 0, nullptr, out);
}
MResult MIDec_CreateExWithFileName(AMCMHandle m, MSTREAM s, const MChar* name, MInt64 type, MInt64 mode,
                                   const MUInt64* skip, MInt64 n, MHandle* out) {
    return create(m, s, name, type, mode, skip, n, nullptr, out);
}

MResult MIDec_GetProp(MHandle h, MInt64 id, MVoid* buf, MInt64 size) {
    auto* d = self(h);
    if (!d) return MERR_INVALID_PARAM;
    if (!d->bInitialised) return MERR_CODEC_NOT_OPEN;
    return d->bWrapper ? wrapperGet(d, id, buf, size) : directGet(d, id, buf, size);
}

MResult MIDec_SetProp(MHandle h, MInt64 id, MVoid* buf, MInt64 size) {
    auto* d = self(h);
    if (!d) return MERR_INVALID_PARAM;
    if (!d->bInitialised) return MERR_CODEC_NOT_OPEN;
    return d->bWrapper ? wrapperSet(d, id, buf, size) : directSet(d, id, buf, size);
}

MResult MIDec_Scanlines(MHandle h, MByte** planes, MInt64* pitches, MInt64* start, MInt64* count) {
    auto* d = self(h);
    if (!d) return MERR_INVALID_PARAM;
    if (!d->bWrapper) return s_MIDec_Scanlines(d, planes, pitches, start, count);
    MResult r = MOld_DecodeScanlines(d->hCodec, planes, pitches, start, count);
    if (r == MOK && d->bMerge && start) r = mergeToBack(d, *start, planes);
    return r;
}

MResult MIDec_Destroy(MHandle h) {
    auto* d = self(h);
    if (!d) return MOK;
    if (!d->bWrapper) {
        if (d->bOwned && d->bInitialised && d->pComponent) MDEC_FUNCS(d->pComponent)->s_Destroy(d->pComponent);
        d->pComponent = nullptr;
        if (d->pPPWrapper) MdPPWrapperDestroy(d->pPPWrapper);
        for (auto& b : d->buffers) MMgrFree(d->hMemMgr, b.pBlock);
    } else if (d->hCodec) {
        MCodec_Destroy(d->hCodec);
    }
    MHandle mgr = d->hMemMgr;
    MMgrFree(mgr, d);
    MMgrUninit(mgr);
    return MOK;
}

} // extern "C"
