// Codec handles: creation by image type from the registered components, destruction and the
// numbered properties that the framework keeps or hands on to the component.
#include <algorithm>
#include <cstdlib>
#include <new>

#include "CodecInternal.h"
#include "MdImgInfo.h"

using namespace mcodec;

namespace {

MHandle memContext(AMCMHandle hAMCM) {
    MHandle ctx = nullptr;
    AMCM_GetGlobalData(hAMCM, AMCM_GD_MEM_CONTEXT, &ctx, sizeof ctx);
    return ctx;
}

MCodecRecord* allocHandle(AMCMHandle hAMCM) {
    void* mem = MMemAlloc(memContext(hAMCM), sizeof(MCodecRecord));
    if (!mem) return nullptr;
    std::memset(mem, 0, sizeof(MCodecRecord));
    auto* c = static_cast<MCodecRecord*>(mem);
    c->hComponentMgr = hAMCM;
    if (MMgrInit(memContext(hAMCM), &c->hMemMgr) != MOK) {
        MMemFree(memContext(hAMCM), c);
        return nullptr;
    }
    MHandle iram = nullptr;
    if (AMCM_GetGlobalData(hAMCM, AMCM_GD_IRAM_MGR, &iram, 8) == MOK && iram) MMgrSetIramMgr(c->hMemMgr, iram);
    return c;
}

void releaseMCC(MCodecRecord* c) {
    MCC_Release(c->pMCC);
    c->pMCC = nullptr;
    c->bConverterReady = 0;
}

bool inSkipList(MUInt64 id, const MVoid* list, MInt64 n) {
    if (!list) return false;
    for (MInt64 i = 0; i < n; ++i) {
        MUInt64 v;
        std::memcpy(&v, static_cast<const MByte*>(list) + i * 8, 8);
        if (v == id) return true;
    }
    return false;
}

// Reads what the framework keeps of a freshly opened component.
MResult readComponentFacts(MCodecRecord* c, bool askPng) {
    funcs(c)->s_GetTypeID(c->pComponent, &c->dwTypeID);
    if (askPng) {
        MInt64 v = 0;
        if (compGet(c, MDEC_PROP_PNG_PASSES, &v, 8) == MOK) c->bHasPngInfo = 1;
        MInt64 t = 0;
        if (compGet(c, MDEC_PROP_PNG_TRANS, &t, 8) == MOK) c->bTransColorPng = t;
    }
    MResult r = compGet(c, MDEC_PROP_COLOR, &c->dwSourceColor, 8);
    if (r != MOK) return r;
    c->dwTargetColor = c->dwSourceColor;
    MInt64 wh[2] = {};
    r = compGet(c, MDEC_PROP_IMAGE_SIZE, wh, 16);
    if (r != MOK) return r;
    c->lImgWidth = wh[0];
    c->lImgHeight = wh[1];
    MInt64 entries = 0;
    if (compGet(c, MDEC_PROP_PALETTE_SIZE, &entries, 8) == MOK && entries > 0) {
        c->pGlobalPalette = static_cast<MByte*>(MMgrAlloc(c->hMemMgr, 1024));
        if (!c->pGlobalPalette) return MERR_NO_MEMORY;
        std::memset(c->pGlobalPalette, 0, 1024);
        // The component reports the palette in bytes; never ask more than the 256 entries held.
        compGet(c, MDEC_PROP_PALETTE, c->pGlobalPalette, std::min<MInt64>(entries, 1024));
    }
    return MOK;
}

MResult createDecoder(AMCMHandle hAMCM, MSTREAM stream, const MChar* name, MInt64 type, MVoid* param,
                      const MVoid* skip, MInt64 skipCount, MHandle* out, bool old, MUInt64 onlyID) {
    if (!hAMCM) return MERR_INVALID_PARAM;
    if (!out) return MERR_INVALID_PARAM;
    MCodecRecord* c = allocHandle(hAMCM);
    if (!c) return MERR_NO_MEMORY;
    c->bDecoder = 1;
    c->dwTransColor = 255;
    c->lResizeAlg = 2;
    c->dwYUVRange = 0x1000;
    c->bSupportTransparency = 1;
    const MInt64 callerType = type;
    MResult r = MOK;
    if (type == 0 || old) {
        ImgFormat f = 0;
        if (stream) MdUtilsGetImgInfo(stream, &f, nullptr, nullptr);
        c->dwImgType = f;
        if (!old && f == MD_IMG_WBMP && name) {
            const char* dot = std::strrchr(name, '.');
            if (dot && strcasecmp(dot, ".WBMP") != 0) c->dwImgType = MInt64(MD_IMG_BY_CODEC);
        }
    } else {
        c->dwImgType = type;
    }
    MInt64 sub = 0;
    if (c->dwImgType != 0 && c->dwImgType != MInt64(MD_IMG_BY_CODEC)) {
        sub = GetCodecSubType(c->dwImgType);
        if (sub == 0) r = MERR_UNSUPPORTED;
    } else if (old) {
        r = MERR_UNSUPPORTED;
    }
    MUInt64 ids[10] = {};
    if (r == MOK) {
        if (old && onlyID) {
            ids[0] = onlyID;
        } else {
            r = MdUtilsFindCodecComponents(hAMCM, AMCM_TYPECLASS_DECODER | MUInt64(sub), ids, 10);
            if (r == MOK && ids[0] == 0) r = MERR_UNSUPPORTED;
        }
    }
    if (r == MOK) {
        MResult last = MERR_UNSUPPORTED;
        for (int i = 0; i < 10 && ids[i]; ++i) {
            if (!old && inSkipList(ids[i], skip, skipCount)) continue;
            MHandle inst = nullptr;
            last = AMCM_CreateComponent(hAMCM, MDWord(ids[i]), &inst);
            if (last != MOK) break;
            c->pComponent = inst;
            if (!old && ids[i] == AMCM_CID_GENERIC_DECODER) {
                MInt64 v = 0;
                if (param) std::memcpy(&v, param, 8);
                last = MDEC_FUNCS(inst)->s_SetProp(inst, 1, &v, 8);
                if (last == MOK) {
                    auto* g = reinterpret_cast<const MDecGenericFuncs*>(MDEC_FUNCS(inst));
                    last = g->s_OpenFile ? g->s_OpenFile(inst, stream, name, c->dwImgType) : MERR_UNSUPPORTED;
                }
            } else {
                last = MDEC_FUNCS(inst)->s_Init(inst, stream);
            }
            if (last == MOK) break;
            MDEC_FUNCS(inst)->s_Destroy(inst);
            c->pComponent = nullptr;
        }
        r = last;
        if (r == MOK && !c->pComponent) r = MERR_INVALID_PARAM;
    }
    // A sniffed PNG is as much a PNG as a declared one: without its transparency facts the
    // converter would drop its alpha.
    if (r == MOK) r = readComponentFacts(c, old || callerType == MD_IMG_PNG || c->dwImgType == MD_IMG_PNG);
    if (r != MOK) {
        MOld_Destroy(c);
        return r;
    }
    *out = c;
    return MOK;
}

} // namespace

// Builds the conversion control for the current colours. Line converters ignore sizes; the
// post-processing engine is made for the rows the line path hands it (one row in row mode, the
// component's region in block mode), not for an empty size that it could not work with.
MResult mcodec::setupConverter(MCodecRecord* c) {
    releaseMCC(c);
    const bool jpegGrey = c->dwTargetColor == MOLDCOLOR_GRAY8 && c->dwTypeID == AMCM_CID_JPEG_DECODER;
    if (c->dwTargetColor == c->dwSourceColor && !jpegGrey) return MOK;
    std::memset(c->mccParam, 0, sizeof c->mccParam);
    MUtilsFormat2MPixel(c->dwSourceColor, &c->pxSource);
    MUtilsFormat2MPixel(c->dwTargetColor, &c->pxTarget);
    c->pxSource.dwColorID = c->dwSourceColor;
    c->pxTarget.dwColorID = c->dwTargetColor;
    c->mccParam[10] = c->bAlphaSet ? c->dwAlpha : 255;
    MInt64 wh[2] = {};
    MRECT region{};
    MInt64 delivery = 0;
    compGet(c, MDEC_PROP_DELIVERY, &delivery, 8);
    if (delivery == 4 && compGet(c, MDEC_PROP_REGION, &region, 32) == MOK) {
        wh[0] = region.right - region.left;
        wh[1] = region.bottom - region.top;
    } else {
        compGet(c, MDEC_PROP_OUT_SIZE, wh, 16);
        wh[1] = 1;
    }
    MRECT rc{0, 0, std::max<MInt64>(wh[0], 1), std::max<MInt64>(wh[1], 1)};
    c->lMccWidth = rc.right;
    c->lMccHeight = rc.bottom;
    c->pMCC = MCC_Init(c->hComponentMgr, c->mccParam, &rc, &c->pxTarget.dwColorID, &rc, &c->pxSource.dwColorID, 0, 0,
                       c->bHasPngInfo ? 0 : 1);
    if (!c->pMCC) return MERR_UNSUPPORTED;
    if (c->dwTargetColor != MOLDCOLOR_ABGR8888 && c->dwTargetColor != MOLDCOLOR_ARGB8888) c->bSupportTransparency = 0;
    if (c->dwImgType == MD_IMG_BMP) {
        MCC_SetbSupportTransparency(c->pMCC, 0);
    } else if (c->dwImgType == MD_IMG_ICO) {
        MCC_SetbTransColorICO(c->pMCC, 1);
    } else {
        MCC_SetbTransColorGif(c->pMCC, c->bTransColorGif);
        MCC_SetbTransColorPng(c->pMCC, c->bTransColorPng);
        MCC_SetTransColor(c->pMCC, c->dwTransColor & 0xFF);
        MCC_SetbSupportTransparency(c->pMCC, c->bSupportTransparency);
    }
    if (c->dwTargetColor == MOLDCOLOR_ABGR8888 || c->dwTargetColor == MOLDCOLOR_ARGB8888)
        MCC_SetAlpha(c->pMCC, c->bAlphaSet, c->dwAlpha);
    // A JPEG holds no transparency: its pixels all carry the alpha value, whichever engine
    // converts them (the grey line converter would write 255 whatever was asked).
    if (c->dwImgType == MD_IMG_JPEG)
        setConstantAlpha(c->pMCC, constantAlphaByte(MdUtilsOldColorID2New(c->dwTargetColor),
                                                    MdUtilsOldColorID2New(c->dwSourceColor)),
                         alphaByteValue(c->bAlphaSet, c->dwAlpha));
    return MOK;
}

namespace {

MResult setOutputColor(MCodecRecord* c, MUInt64 color) {
    if (!c->bDecoder) return MERR_UNSUPPORTED;
    if (color == c->dwTargetColor) return MOK;
    c->dwTargetColor = color;
    MUInt64 v = color;
    if (compSet(c, MCODEC_PROP_OUT_COLOR, &v, 8) == MOK) c->dwSourceColor = color;
    return setupConverter(c);
}

MResult reallocPalette(MCodecRecord* c, MByte** pal) {
    if (!*pal) {
        *pal = static_cast<MByte*>(MMgrAlloc(c->hMemMgr, 1024));
        if (!*pal) return MERR_NO_MEMORY;
    }
    std::memset(*pal, 0, 1024);
    MInt64 size = 0;
    if (compGet(c, MDEC_PROP_PALETTE_SIZE, &size, 8) == MOK && size > 0)
        compGet(c, MDEC_PROP_PALETTE, *pal, std::min<MInt64>(size, 1024));
    return MOK;
}

} // namespace

extern "C" {

MInt64 GetCodecSubType(MInt64 t) {
    switch (t) {
    case 1: return 1;
    case 2: return 2;
    case 4: return 3;
    case 8: return 4;
    case 32: return 5;
    case 1024: return 6;
    case 128: return 7;
    case 256: return 8;
    case 2048: return 9;
    case 4096: return 10;
    default: return 0;
    }
}

MResult MdUtilsFindCodecComponents(AMCMHandle hAMCM, MUInt64 wanted, MUInt64* ids, MInt64 capacity) {
    if (!hAMCM) return MERR_INVALID_PARAM;
    AMCM_COMPONENT_INFO kept[10];
    int n = 0;
    MHandle e = nullptr;
    MResult r = AMCM_EnumComponentStart(hAMCM, &e);
    if (r != MOK) return r;
    while (n < 10) {
        AMCM_COMPONENT_INFO info{};
        if (AMCM_EnumComponentNext(hAMCM, e, &info) != MOK) break;
        if (info.dwTypeClass == (wanted & 0xFF000000u) &&
            (info.dwSubType == AMCM_SUBTYPE_ANY || info.dwSubType == (wanted & 0xFFFF)))
            kept[n++] = info;
    }
    AMCM_EnumComponentEnd(hAMCM, e);
    if (n == 0) return MERR_NO_CODEC;
    // A stable sort by priority keeps registration (ID) order among equals, as the partition
    // sort over the enumeration did.
    std::stable_sort(kept, kept + n, [](const AMCM_COMPONENT_INFO& a, const AMCM_COMPONENT_INFO& b) {
        return a.dwPriority < b.dwPriority;
    });
    if (ids) {
        MInt64 k = 0;
        for (int i = n - 1; i >= 0 && k < capacity; --i) ids[k++] = kept[i].dwComponentID;
    }
    return MOK;
}

MResult MOld_DecodeCreate(AMCMHandle hAMCM, MSTREAM stream, MUInt64 id, MHandle* out) {
    return createDecoder(hAMCM, stream, nullptr, 0, nullptr, nullptr, 0, out, true, id);
}

MResult MCodec_DecodeCreate(AMCMHandle hAMCM, MSTREAM stream, MUInt64 id, MHandle* out) {
    return MOld_DecodeCreate(hAMCM, stream, id, out);
}

MResult MCodec_CreateDecoderEx(AMCMHandle hAMCM, MSTREAM stream, MInt64 type, MVoid* param, const MVoid* skip,
                               MInt64 skipCount, MHandle* out) {
    return createDecoder(hAMCM, stream, nullptr, type, param, skip, skipCount, out, false, 0);
}

MResult MCodec_CreateDecoderExWithFileName(AMCMHandle hAMCM, MSTREAM stream, const MChar* name, MInt64 type,
                                           MVoid* param, const MVoid* skip, MInt64 skipCount, MHandle* out) {
    return createDecoder(hAMCM, stream, name, type, param, skip, skipCount, out, false, 0);
}

MResult MOld_EncodeCreate(AMCMHandle hAMCM, MCodecEncParam* p, MInt64 type, MUInt64 id, MHandle* out) {
    if (!hAMCM || !p || !out) return MERR_INVALID_PARAM;
    if (p->lWidth == 0 || p->lHeight == 0) return MERR_INVALID_PARAM;
    MCodecRecord* c = allocHandle(hAMCM);
    if (!c) return MERR_NO_MEMORY;
    c->bDecoder = 0;
    MResult r = MOK;
    if (!id) {
        const MInt64 sub = GetCodecSubType(type);
        MUInt64 ids[10] = {};
        if (sub == 0) r = MERR_UNSUPPORTED;
        else r = MdUtilsFindCodecComponents(hAMCM, AMCM_TYPECLASS_ENCODER | MUInt64(sub), ids, 10);
        id = ids[0];
        if (r == MOK && !id) r = MERR_NO_CODEC;
    }
    if (r == MOK) r = AMCM_CreateComponent(hAMCM, MDWord(id), &c->pComponent);
    if (r == MOK) {
        funcs(c)->s_GetTypeID(c->pComponent, &c->dwTypeID);
        c->dwTargetColor = c->dwSourceColor = p->dwColor;
        MUInt64 col = p->dwColor;
        compSet(c, MCODEC_PROP_ENC_COLOR, &col, 8);
        c->dwSourceColor = col;
        p->dwColor = col;
        c->lOutWidth = p->lWidth;
        c->lOutHeight = p->lHeight;
        c->lImgWidth = p->lWidth;
        c->lImgHeight = p->lHeight;
        r = funcs(c)->s_Init(c->pComponent, p);
    }
    if (r != MOK) {
        MOld_Destroy(c);
        return r;
    }
    *out = c;
    return MOK;
}

MResult MCodec_EncodeCreate(AMCMHandle hAMCM, MCodecEncParam* p, MInt64 type, MUInt64 id, MHandle* out) {
    MHandle h = nullptr;
    MResult r = MOld_EncodeCreate(hAMCM, p, type, id, &h);
    if (r != MOK) return r;
    auto* c = rec(h);
    MInt64 d0, d1, d2, d3;
    describe(c->dwSourceColor, &c->dwZoomDstColor, &c->lDstHSub, &c->lDstVSub, &d0, &d1);
    c->lDstBpp = d0;
    c->lDstPlanes = d1;
    describe(c->dwTargetColor, &c->dwZoomSrcColor, &c->lSrcHSub, &c->lSrcVSub, &d2, &d3);
    c->lSrcBpp = d2;
    c->lSrcPlanes = d3;
    MUInt64 col = c->dwSourceColor;
    r = MOld_SetProp(c, MCODEC_PROP_ENC_COLOR, &col, 8);
    c->dwTargetColor = c->dwSourceColor;
    if (r != MOK) {
        MOld_Destroy(c);
        return r;
    }
    *out = c;
    return MOK;
}

MResult MOld_Destroy(MHandle h) {
    auto* c = rec(h);
    if (!c) return MERR_INVALID_PARAM;
    if (c->pComponent) funcs(c)->s_Destroy(c->pComponent);
    c->pComponent = nullptr;
    releaseMCC(c);
    freeLineBuf(c);
    MMgrFree(c->hMemMgr, c->pGlobalPalette);
    MMgrFree(c->hMemMgr, c->pLocalPalette);
    std::free(c->pAdjustTable1);
    std::free(c->pAdjustTable2);
    FreeBlockBuffer(c->cache.pPlane);
    MMgrUninit(c->hMemMgr);
    MMemFree(memContext(c->hComponentMgr), c);
    return MOK;
}

MResult MCodec_Destroy(MHandle h) { return MOld_Destroy(h); }

MResult MOld_GetProp(MHandle h, MInt64 id, MVoid* buf, MInt64 size) {
    auto* c = rec(h);
    if (!c) return MERR_INVALID_PARAM;
    if (!c->pComponent) return MERR_INVALID_PARAM;
    switch (id) {
    case MCODEC_PROP_OUT_COLOR:
        if (!buf || size < 8) return MERR_INVALID_PARAM;
        std::memcpy(buf, &c->dwTargetColor, 8);
        return MOK;
    case MDEC_PROP_PALETTE:
        if (c->bDecoder && (c->pLocalPalette || c->pGlobalPalette)) {
            if (!buf) return MERR_INVALID_PARAM;
            std::memcpy(buf, c->pLocalPalette ? c->pLocalPalette : c->pGlobalPalette,
                        size_t(std::clamp<MInt64>(size, 0, 1024)));
            return MOK;
        }
        break;
    case MDEC_PROP_GIF_GLOBAL: {
        MResult r = compGet(c, id, buf, size);
        if (r == MOK && size >= MInt64(sizeof(MUInt64) * 2)) {
            MUInt64 flag;
            std::memcpy(&flag, static_cast<MByte*>(buf) + 8, 8);
            if (flag) {
                MMgrFree(c->hMemMgr, c->pGlobalPalette);
                c->pGlobalPalette = nullptr;
                MResult pr = reallocPalette(c, &c->pGlobalPalette);
                if (pr != MOK) return pr;
            }
        }
        return r;
    }
    case MDEC_PROP_GIF_FRAMEINFO: {
        MResult r = compGet(c, id, buf, size);
        if (r != MOK || size < 56) return r;
        MWord w, ht;
        std::memcpy(&w, static_cast<MByte*>(buf) + 4, 2);
        std::memcpy(&ht, static_cast<MByte*>(buf) + 6, 2);
        c->lOutWidth = w;
        c->lOutHeight = ht;
        freeLineBuf(c);
        c->bMemoryReady = 0;
        c->bConverterReady = 0;
        MUInt64 trans, local;
        std::memcpy(&trans, static_cast<MByte*>(buf) + 40, 8);
        std::memcpy(&local, static_cast<MByte*>(buf) + 24, 8);
        c->bTransColorGif = trans ? 1 : 0;
        if (trans) {
            c->bSupportTransparency = 1;
            c->dwTransIndex = static_cast<MByte*>(buf)[48];
        } else {
            c->bSupportTransparency = 0;
        }
        if (!local) {
            MMgrFree(c->hMemMgr, c->pLocalPalette);
            c->pLocalPalette = nullptr;
        } else {
            MResult pr = reallocPalette(c, &c->pLocalPalette);
            if (pr != MOK) return pr;
        }
        return r;
    }
    default:
        break;
    }
    return compGet(c, id, buf, size);
}

MResult MCodec_GetProp(MHandle h, MInt64 id, MVoid* buf, MInt64 size) { return MOld_GetProp(h, id, buf, size); }

MResult MOld_SetProp(MHandle h, MInt64 id, MVoid* buf, MInt64 size) {
    auto* c = rec(h);
    if (!c || size < 1) return MERR_INVALID_PARAM;
    if (!c->pComponent) return MERR_REGISTRATION;
    switch (id) {
    case MCODEC_PROP_OUT_COLOR:
        if (!buf || size != 8) return MERR_INVALID_PARAM;
        return setOutputColor(c, *static_cast<MUInt64*>(buf));
    case MCODEC_PROP_TRANS_INDEX:
        if (!buf || size != 1) return MERR_INVALID_PARAM;
        c->dwTransColor = *static_cast<MByte*>(buf);
        if (c->pMCC) MCC_SetTransColor(c->pMCC, c->dwTransColor);
        return MOK;
    case MCODEC_PROP_BACKGROUND:
        if (!buf || size != 4) return MERR_INVALID_PARAM;
        if (c->pMCC) {
            MDWord v;
            std::memcpy(&v, buf, 4);
            MCC_SetBackGroundColor(c->pMCC, v);
        }
        return MOK;
    default:
        return compSet(c, id, buf, size);
    }
}

MResult MCodec_SetProp(MHandle h, MInt64 id, MVoid* buf, MInt64 size) {
    auto* c = rec(h);
    if (!c || !buf) return MERR_INVALID_PARAM;
    MInt64 v = 0;
    if (size == 8) std::memcpy(&v, buf, 8);
    switch (id) {
    case MCODEC_PROP_OUT_COLOR: {
        if (size != 8 || !c->bZoomPath) break;
        MInt64 d0, d1;
        describe(MUInt64(v), &c->dwZoomDstColor, &c->lDstHSub, &c->lDstVSub, &d0, &d1);
        c->lDstBpp = d0;
        c->lDstPlanes = d1;
        describe(c->dwSourceColor, &c->dwZoomSrcColor, &c->lSrcHSub, &c->lSrcVSub, &d0, &d1);
        c->lSrcBpp = d0;
        c->lSrcPlanes = d1;
        if (c->bDecoder && isYUV(c->dwZoomSrcColor) && c->bYUVRangeSet)
            c->dwZoomSrcColor = (c->dwZoomSrcColor & ~MUInt64(0x3000)) | c->dwYUVRange;
        MUInt64 src = c->dwSourceColor;
        MResult r = MOld_SetProp(c, MCODEC_PROP_OUT_COLOR, &src, 8);
        c->dwTargetColor = c->dwSourceColor;
        return r;
    }
    case MCODEC_PROP_YUV_RANGE:
        if (size != 8) return MERR_INVALID_PARAM;
        if (v != 0 && v != 0x1000 && v != 0x2000 && v != 0x3000) return MERR_INVALID_PARAM;
        c->dwYUVRange = MUInt64(v);
        c->bYUVRangeSet = 1;
        if (c->bDecoder && isYUV(c->dwZoomSrcColor))
            c->dwZoomSrcColor = (c->dwZoomSrcColor & ~MUInt64(0x3000)) | c->dwYUVRange;
        if (!c->bDecoder && isYUV(c->dwZoomDstColor))
            c->dwZoomDstColor = (c->dwZoomDstColor & ~MUInt64(0x3000)) | c->dwYUVRange;
        return MOK;
    case MDEC_PROP_REGION:
        if (c->dwTypeID == AMCM_CID_JPEG_DECODER) c->bZoomPath = 0;
        break;
    case MDEC_PROP_OUT_SIZE:
        if (!c->bZoomPath) break;
        if (size != 16) return MERR_INVALID_PARAM;
        {
            MInt64 wh[2];
            std::memcpy(wh, buf, 16);
            // A zero output size would divide the zoom ratios by zero.
            if (wh[0] < 1 || wh[1] < 1) return MERR_INVALID_PARAM;
            c->lZoomWidth = wh[0];
            c->lZoomHeight = wh[1];
            MInt64 img[2] = {};
            MResult r = MOld_GetProp(c, MDEC_PROP_IMAGE_SIZE, img, 16);
            c->lSrcImgWidth = img[0];
            c->lSrcImgHeight = img[1];
            return r;
        }
    case MCODEC_PROP_OUT_REGION:
        if (c->dwTypeID != AMCM_CID_JPEG_DECODER) break;
        if (size != 32) return MERR_INVALID_PARAM;
        c->bZoomPath = 1;
        std::memcpy(&c->rcRegion, buf, 32);
        if (c->bCacheValid &&
            (c->rcRegion.left != c->rcLastRegion.left || c->rcRegion.right != c->rcLastRegion.right))
            c->bCacheValid = 0;
        c->rcLastRegion = c->rcRegion;
        return MOK;
    case MCODEC_PROP_RESIZE:
        if (size != 8) return MERR_INVALID_PARAM;
        c->lResizeAlg = v;
        return MOK;
    case MCODEC_PROP_ADJUST1:
    case MCODEC_PROP_ADJUST2: {
        if (size != 2048) return MERR_INVALID_PARAM;
        MInt64*& t = id == MCODEC_PROP_ADJUST1 ? c->pAdjustTable1 : c->pAdjustTable2;
        if (!t) t = static_cast<MInt64*>(std::malloc(2048));
        if (!t) return MERR_NO_MEMORY;
        std::memcpy(t, buf, 2048);
        return MOK;
    }
    case MCODEC_PROP_DITHER:
        if (size != 8) return MERR_INVALID_PARAM;
        c->bDither = v;
        return MOK;
    case MCODEC_PROP_ALPHA:
        if (size != 8) return MERR_INVALID_PARAM;
        c->dwAlpha = v;
        c->bAlphaSet = 1;
        // A control made for the output colour already holds the old value.
        if (c->pMCC && c->bDecoder) {
            const MResult r = setupConverter(c);
            if (r == MOK) c->bConverterReady = 0;
            return r;
        }
        return MOK;
    case MCODEC_PROP_ENC_COLOR: {
        if (size != 8) break;
        MInt64 d0, d1;
        describe(c->dwSourceColor, &c->dwZoomDstColor, &c->lDstHSub, &c->lDstVSub, &d0, &d1);
        c->lDstBpp = d0;
        c->lDstPlanes = d1;
        describe(MUInt64(v), &c->dwZoomSrcColor, &c->lSrcHSub, &c->lSrcVSub, &d0, &d1);
        c->lSrcBpp = d0;
        c->lSrcPlanes = d1;
        MUInt64 src = c->dwSourceColor;
        MResult r = MOld_SetProp(c, MCODEC_PROP_ENC_COLOR, &src, 8);
        c->dwTargetColor = c->dwSourceColor;
        if (!c->bDecoder && isYUV(c->dwZoomDstColor) && c->bYUVRangeSet)
            c->dwZoomDstColor = (c->dwZoomDstColor & ~MUInt64(0x3000)) | c->dwYUVRange;
        return r;
    }
    default:
        break;
    }
    return MOld_SetProp(c, id, buf, size);
}

MResult GetDecodeScaleSize(MInt64 imgW, MInt64 imgH, MInt64 srcW, MInt64 srcH, MInt64 wantW, MInt64 wantH,
                           MInt64 size[2], MInt64* shift) {
    MInt64 s = 0;
    MInt64 w = srcW, h = srcH;
    if (imgW >= 16 && imgH >= 16 && srcW > 0 && srcH > 0) {
        const double r = std::max(double(wantW) / double(srcW), double(wantH) / double(srcH));
        // The size a reduced decode delivers (rounded up: a partly covered last column or row is
        // kept) is decoded at that reduction, whether or not the source is a multiple of it, when
        // that last column and row are a small part of the picture (a reduced decode of a large
        // photograph); in a small picture the next finer decode, reduced, keeps them exact.
        constexpr MInt64 kLargeReduced = 256;
        MInt64 exact = r == 0.125 ? 3 : r == 0.25 ? 2 : r == 0.5 ? 1 : 0;
        for (MInt64 t = 3; t >= 1 && !exact && wantW >= kLargeReduced && wantH >= kLargeReduced; --t) {
            const MInt64 d = MInt64(1) << t;
            if (wantW == (srcW + d - 1) / d && wantH == (srcH + d - 1) / d) exact = t;
        }
        if (exact) {
            s = exact;
            w = wantW;
            h = wantH;
        } else if (r < 0.125) {
            s = 3;
        } else if (r > 0.125 && r < 0.25) {
            s = 2;
        } else if (r > 0.25 && r < 0.5) {
            s = 1;
        }
        if (s && !exact) {
            w = (srcW + (MInt64(1) << s) - 1) >> s;
            h = (srcH + (MInt64(1) << s) - 1) >> s;
        }
    }
    if (size) {
        size[0] = w;
        size[1] = h;
    }
    if (shift) *shift = s;
    return MOK;
}

MResult s_SetReizeAlgorithm(MInt64* alg, const MInt64 dst[3], const MInt64 src[3]) {
    if (!alg) return MERR_INVALID_PARAM;
    if (*alg != 8) return MOK;
    const MUInt64 s = MUInt64(src[1]) * MUInt64(src[2]) * 8, d = MUInt64(dst[1]) * MUInt64(dst[2]) * 10;
    *alg = s > d ? 2 : 1;
    return MOK;
}

MResult s_AutoChoiceReizeAlgorithm(MInt64* alg, const MInt64 dst[3], const MInt64 src[3]) {
    return s_SetReizeAlgorithm(alg, dst, src);
}

MResult s_YUVAdjustWithTable(MByte** planes, const MInt64* pitches, MInt64 width, MInt64 rows, MUInt64 color,
                             const MInt64* t1, const MInt64* t2, MInt64 hstep, MInt64 vstep) {
    if (!planes || !pitches) return MERR_INVALID_PARAM;
    if (!t1 && !t2) return MOK;
    switch (color & ~MUInt64(0x1000)) {
    case 0x50000800: case 0x50000801: case 0x50000810: case 0x50000811: break;
    default: return MOK;
    }
    if (!planes[0] || !planes[1] || !planes[2] || hstep < 1 || vstep < 1) return MERR_INVALID_PARAM;
    MByte* y = planes[0];
    MByte* u = planes[1];
    MByte* v = planes[2];
    for (MInt64 r = 0; r < rows; r += vstep) {
        for (MInt64 i = 0; i < width / hstep; ++i) {
            const MByte l = y[i * hstep];
            if (t1) u[i] = MByte(std::clamp<MInt64>(u[i] + t1[l], 0, 255));
            if (t2) v[i] = MByte(std::clamp<MInt64>(v[i] + t2[l], 0, 255));
        }
        y += pitches[0] * vstep;
        u += pitches[1];
        v += pitches[2];
    }
    return MOK;
}

} // extern "C"
