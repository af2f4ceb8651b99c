// Choice of line converter for a (source, destination) pair of old colour IDs, the masked and
// ICO variants, palette preparation and the setters.
#include <cstring>

#include "MMemory.h"
#include "MdColorID.h"
#include "MdConverter.h"

namespace {

struct Pick {
    uint16_t src, dst;
    MdLineConverter fn;
    bool swap;
};

// Every pair with a converter; any pair not listed has none.
const Pick kPicks[] = {
    {0x01, 0x02, _MdConvertReverse888, false}, {0x01, 0x05, _MdConvertRGB888ToRGB565, false},
    {0x01, 0x06, _MdConvertRGB888ToRGB565, true}, {0x01, 0x12, _MdConverR8G8B8ToGREY, false},
    {0x01, 0x1D, _MdConvertR8G8B8ToGRAY8, false}, {0x01, 0x22, _MdConvertRGB888ToA8B8G8R8, true},
    {0x01, 0x24, _MdConvertRGB888ToR8G8B8A8, false}, {0x01, 0x25, _MdConvertRGB888ToR8G8B8A8, true},
    {0x02, 0x01, _MdConvertReverse888, false}, {0x02, 0x05, _MdConvertRGB888ToRGB565, true},
    {0x02, 0x06, _MdConvertRGB888ToRGB565, false}, {0x02, 0x12, _MdConverR8G8B8ToGREY, true},
    {0x02, 0x1D, _MdConvertB8G8R8ToGRAY8, false}, {0x02, 0x22, _MdConvertRGB888ToA8B8G8R8, false},
    {0x02, 0x24, _MdConvertRGB888ToR8G8B8A8, true}, {0x02, 0x25, _MdConvertRGB888ToR8G8B8A8, false},
    {0x05, 0x01, _MdConvertRGB565ToRGB888, false}, {0x05, 0x02, _MdConvertRGB565ToRGB888, true},
    {0x05, 0x06, _MdConvertReverse565, false}, {0x05, 0x1D, _MdConvertR5G6B5ToGRAY8, false},
    {0x06, 0x01, _MdConvertRGB565ToRGB888, true}, {0x06, 0x02, _MdConvertRGB565ToRGB888, false},
    {0x06, 0x05, _MdConvertReverse565, false}, {0x06, 0x1D, _MdConvertB5G6R5ToGRAY8, false},
    {0x16, 0x01, _MdConvertIndex1ToRGB888, false}, {0x16, 0x02, _MdConvertIndex1ToRGB888, true},
    {0x16, 0x05, _MdConvertIndex1ToRGB565, false}, {0x16, 0x06, _MdConvertIndex1ToRGB565, true},
    {0x16, 0x24, _MdConvertIndex1ToRGBA8888, false}, {0x16, 0x25, _MdConvertIndex1ToRGBA8888, true},
    {0x17, 0x01, _MdConvertIndex2ToRGB888, false}, {0x17, 0x02, _MdConvertIndex2ToRGB888, true},
    {0x17, 0x05, _MdConvertIndex2ToRGB565, false}, {0x17, 0x06, _MdConvertIndex2ToRGB565, true},
    {0x17, 0x24, _MdConvertIndex2ToRGBA8888, false}, {0x17, 0x25, _MdConvertIndex2ToRGBA8888, true},
    {0x18, 0x01, _MdConvertIndex4ToRGB888, false}, {0x18, 0x02, _MdConvertIndex4ToRGB888, true},
    {0x18, 0x05, _MdConvertIndex4ToRGB565, false}, {0x18, 0x06, _MdConvertIndex4ToRGB565, true},
    {0x18, 0x12, _MdConverINDEX4ToGREY, false}, {0x18, 0x24, _MdConvertIndex4ToRGBA8888, false},
    {0x18, 0x25, _MdConvertIndex4ToRGBA8888, true},
    {0x19, 0x01, _MdConvertIndex8ToRGB888, false}, {0x19, 0x02, _MdConvertIndex8ToRGB888, true},
    {0x19, 0x05, _MdConvertIndex8ToRGB565, false}, {0x19, 0x06, _MdConvertIndex8ToRGB565, true},
    {0x19, 0x12, _MdConvertIndex8ToGRAY8, false}, {0x19, 0x1D, _MdConvertIndex8ToGRAY8, false},
    {0x19, 0x22, _MdConvertIndex8ToARGB8888, false}, {0x19, 0x23, _MdConvertIndex8ToARGB8888, true},
    {0x19, 0x24, _MdConvertIndex8ToRGBA8888, true}, {0x19, 0x25, _MdConvertIndex8ToRGBA8888, false},
    {0x1A, 0x01, _MdConvertGray1ToRGB888, false}, {0x1A, 0x02, _MdConvertGray1ToRGB888, false},
    {0x1A, 0x05, _MdConvertGray1ToRGB565, false}, {0x1A, 0x06, _MdConvertGray1ToRGB565, false},
    {0x1A, 0x24, _MdConvertGray1ToRGBA8888, false}, {0x1A, 0x25, _MdConvertGray1ToRGBA8888, false},
    {0x1B, 0x01, _MdConvertGray2ToRGB888, false}, {0x1B, 0x02, _MdConvertGray2ToRGB888, false},
    {0x1B, 0x05, _MdConvertGray2ToRGB565, false}, {0x1B, 0x06, _MdConvertGray2ToRGB565, false},
    {0x1B, 0x24, _MdConvertGray2ToRGBA8888, false}, {0x1B, 0x25, _MdConvertGray2ToRGBA8888, false},
    {0x1C, 0x01, _MdConvertGray4ToRGB888, false}, {0x1C, 0x02, _MdConvertGray4ToRGB888, false},
    {0x1C, 0x05, _MdConvertGray4ToRGB565, false}, {0x1C, 0x06, _MdConvertGray4ToRGB565, false},
    {0x1C, 0x24, _MdConvertGray4ToRGBA8888, false}, {0x1C, 0x25, _MdConvertGray4ToRGBA8888, false},
    {0x1D, 0x01, _MdConvertGray8ToRGB888, false}, {0x1D, 0x02, _MdConvertGray8ToRGB888, false},
    {0x1D, 0x05, _MdConvertGray8ToRGB565, false}, {0x1D, 0x06, _MdConvertGray8ToRGB565, false},
    {0x1D, 0x1D, _MdConvertGRAY8ToGRAY8, false}, {0x1D, 0x24, _MdConvertGray8ToRGBA8888, false},
    {0x1D, 0x25, _MdConvertGray8ToRGBA8888, false},
    {0x1E, 0x01, _MdConvertGray16ToRGB888, false}, {0x1E, 0x02, _MdConvertGray16ToRGB888, false},
    {0x1E, 0x05, _MdConvertGray16ToRGB565, false}, {0x1E, 0x06, _MdConvertGray16ToRGB565, false},
    {0x1E, 0x24, _MdConvertGray16ToRGBA8888, false}, {0x1E, 0x25, _MdConvertGray16ToRGBA8888, false},
    {0x1F, 0x01, _MdConvertB5G5R5ToRGB888, true}, {0x1F, 0x02, _MdConvertB5G5R5ToRGB888, false},
    {0x1F, 0x05, _MdConvertB5G5R5ToRGB565, true}, {0x1F, 0x06, _MdConvertB5G5R5ToRGB565, false},
    {0x20, 0x01, _MdConvertB5G5R5ToRGB888, false}, {0x20, 0x02, _MdConvertB5G5R5ToRGB888, true},
    {0x20, 0x05, _MdConvertB5G5R5ToRGB565, false}, {0x20, 0x06, _MdConvertB5G5R5ToRGB565, true},
    {0x21, 0x01, _MdConvertB4G4R4ToRGB888, true}, {0x21, 0x02, _MdConvertB4G4R4ToRGB888, false},
    {0x21, 0x05, _MdConvertB4G4R4ToRGB565, true}, {0x21, 0x06, _MdConvertB4G4R4ToRGB565, false},
    {0x22, 0x01, _MdConvertA8B8G8R8ToRGB888, true}, {0x22, 0x02, _MdConvertA8B8G8R8ToRGB888, false},
    {0x22, 0x05, _MdConvertA8B8G8R8ToRGB565, true}, {0x22, 0x06, _MdConvertA8B8G8R8ToRGB565, false},
    {0x22, 0x25, _MdConvertA8R8G8B8ToB8G8R8A8, false},
    {0x24, 0x01, _MdConvertB8G8R8A8ToRGB888, false}, {0x24, 0x02, _MdConvertB8G8R8A8ToRGB888, true},
    {0x24, 0x05, _MdConvertR8G8B8A8ToRGB565, false}, {0x24, 0x06, _MdConvertR8G8B8A8ToRGB565, true},
    {0x24, 0x25, _MdConvertR8G8B8A8ToB8G8R8A8, false},
    {0x25, 0x01, _MdConvertB8G8R8A8ToRGB888, true}, {0x25, 0x02, _MdConvertB8G8R8A8ToRGB888, false},
    {0x25, 0x05, _MdConvertB8G8R8A8ToRGB565, true}, {0x25, 0x06, _MdConvertB8G8R8A8ToRGB565, false},
    {0x25, 0x24, _MdConvertR8G8B8A8ToB8G8R8A8, false},
};

struct Twin {
    MdLineConverter plain, masked;
};

const Twin kTwins[] = {
    {_MdConvertGray1ToRGB565, _MdConvertGray1ToRGB565WithMask},
    {_MdConvertGray2ToRGB565, _MdConvertGray2ToRGB565WithMask},
    {_MdConvertGray4ToRGB565, _MdConvertGray4ToRGB565WithMask},
    {_MdConvertGray8ToRGB565, _MdConvertGray8ToRGB565WithMask},
    {_MdConvertGray16ToRGB565, _MdConvertGray16ToRGB565WithMask},
    {_MdConvertGray1ToRGB888, _MdConvertGray1ToRGB888WithMask},
    {_MdConvertGray1ToRGBA8888, _MdConvertGray1ToRGBA8888WithMask},
    {_MdConvertGray2ToRGB888, _MdConvertGray2ToRGB888WithMask},
    {_MdConvertGray2ToRGBA8888, _MdConvertGray2ToRGBA8888WithMask},
    {_MdConvertGray4ToRGB888, _MdConvertGray4ToRGB888WithMask},
    {_MdConvertGray4ToRGBA8888, _MdConvertGray4ToRGBA8888WithMask},
    {_MdConvertGray8ToRGB888, _MdConvertGray8ToRGB888WithMask},
    {_MdConvertGray8ToRGBA8888, _MdConvertGray8ToRGBA8888WithMask},
    {_MdConvertGray16ToRGB888, _MdConvertGray16ToRGB888WithMask},
    {_MdConvertGray16ToRGBA8888, _MdConvertGray16ToRGBA8888WithMask},
    {_MdConvertIndex1ToRGB565, _MdConvertIndex1ToRGB565WithMask},
    {_MdConvertIndex2ToRGB565, _MdConvertIndex2ToRGB565WithMask},
    {_MdConvertIndex4ToRGB565, _MdConvertIndex4ToRGB565WithMask},
    {_MdConvertIndex8ToRGB565, _MdConvertIndex8ToRGB565WithMask},
    {_MdConvertIndex1ToRGB888, _MdConvertIndex1ToRGB888WithMask},
    {_MdConvertIndex1ToRGBA8888, _MdConvertIndex1ToRGBA8888WithMask},
    {_MdConvertIndex2ToRGB888, _MdConvertIndex2ToRGB888WithMask},
    {_MdConvertIndex2ToRGBA8888, _MdConvertIndex2ToRGBA8888WithMask},
    {_MdConvertIndex4ToRGB888, _MdConvertIndex4ToRGB888WithMask},
    {_MdConvertIndex4ToRGBA8888, _MdConvertIndex4ToRGBA8888WithMask},
    {_MdConvertIndex8ToRGB888, _MdConvertIndex8ToRGB888WithMask},
    {_MdConvertIndex8ToARGB8888, _MdConvertIndex8ToARGB8888WithMask},
    {_MdConvertIndex8ToRGBA8888, _MdConvertIndex8ToRGBA8888WithMask},
    {_MdConvertRGB888ToRGB565, _MdConvertRGB888ToRGB565WithMask},
    {_MdConvertA8B8G8R8ToRGB565, _MdConvertA8B8G8R8ToRGB565WithMask},
    {_MdConvertB8G8R8A8ToRGB565, _MdConvertB8G8R8A8ToRGB565WithMask},
    {_MdConvertR8G8B8A8ToRGB565, _MdConvertR8G8B8A8ToRGB565WithMask},
    {_MdConvertA8B8G8R8ToRGB888, _MdConvertA8B8G8R8ToRGB888WithMask},
    {_MdConvertB8G8R8A8ToRGB888, _MdConvertB8G8R8A8ToRGB888WithMask},
    {_MdConvertRGB888ToR8G8B8A8, _MdConvertRGB888ToR8G8B8A8WithMask},
    {_MdConvertRGB888ToA8B8G8R8, _MdConvertRGB888ToA8B8G8R8WithMask},
    {_MdConvertReverse888, _MdConvertReverse888WithMask},
    {_MdConvertA8R8G8B8ToB8G8R8A8, _MdConvertA8R8G8B8ToB8G8R8A8WithMask},
    {_MdConvertR8G8B8A8ToB8G8R8A8, _MdConvertR8G8B8A8ToB8G8R8A8WithMask},
};

// Pairs whose converter has a masked twin that fill mode must not use.
bool twinRefused(unsigned src, unsigned dst) {
    switch (src) {
        case 0x01: case 0x02: return dst == 0x12 || dst == 0x1D;
        case 0x05: case 0x06: return true;
        case 0x18: return dst == 0x12;
        case 0x19: return dst == 0x12 || dst == 0x1D;
        case 0x1D: return dst == 0x1D;
        case 0x1F: case 0x20: case 0x21: return true;
        case 0x22: return dst == 0x05 || dst == 0x06;
        default: return false;
    }
}

struct IcoPick {
    uint16_t src;
    MdLineConverterICO fn;
    uint16_t swapFor;
};

const IcoPick kIcoPicks[] = {
    {0x01, _MdConvertRGB888ToR8G8B8A8_ICO, 0x25}, {0x02, _MdConvertRGB888ToR8G8B8A8_ICO, 0x24},
    {0x16, _MdConvertIndex1ToRGBA8888_ICO, 0x25}, {0x17, _MdConvertIndex2ToRGBA8888_ICO, 0x25},
    {0x18, _MdConvertIndex4ToRGBA8888_ICO, 0x25}, {0x19, _MdConvertIndex8ToRGBA8888_ICO, 0x24},
};

unsigned srcOf(const MdConverter* r) { return unsigned((r->dwConvertKey & 0x7FFFFFFF) >> 16); }
unsigned dstOf(const MdConverter* r) { return unsigned(r->dwConvertKey & 0xFFFF); }

bool paletteBits(MInt64 bits) { return bits == 1 || bits == 2 || bits == 4 || bits == 8; }

}  // namespace

extern "C" {

MResult _MdInitFunc(MdConverter* r) {
    if (!r) return MERR_INVALID_PARAM;
    r->bSwapRB = 0;
    const unsigned s = srcOf(r), d = dstOf(r);
    for (const Pick& p : kPicks) {
        if (p.src == s && p.dst == d) {
            r->fnConvertLine = p.fn;
            r->bSwapRB = p.swap;
            return MOK;
        }
    }
    r->fnConvertLine = nullptr;
    return MERR_UNSUPPORTED;
}

MResult MdInitConvert(MUInt64 key, MdConverter** out) {
    if (!out) return MERR_INVALID_PARAM;
    *out = nullptr;
    auto* r = static_cast<MdConverter*>(MMemAlloc(nullptr, sizeof(MdConverter)));
    if (!r) return MERR_NO_MEMORY;
    std::memset(r, 0, sizeof *r);
    r->dwConvertKey = key;
    r->lSrcBitCount = MInt64(MdUtilsGetColorDepth((key & 0x7FFFFFFF) >> 16));
    r->lDstBitCount = MInt64(MdUtilsGetColorDepth(key & 0xFFFF));
    MResult res = _MdInitFunc(r);
    if (res != MOK) {
        MdUninitConvert(r);
        return res;
    }
    *out = r;
    return MOK;
}

MVoid MdUninitConvert(MdConverter* r) {
    if (!r) return;
    MMemFree(nullptr, r->pSrcPalette);
    MMemFree(nullptr, r->pDstPalette);
    MMemFree(nullptr, r);
}

MInt64 MdConvertLine(const MByte* src, MByte* dst, MInt64 w, MdConverter* r) {
    if (!r || !r->fnConvertLine) return 0;
    return r->fnConvertLine(src, dst, w, r);
}

MInt64 MdConvertLine_ICO(const MByte* src, const MByte* mask, MByte* dst, MInt64 w, MdConverter* r, MInt64) {
    if (!r || !r->fnConvertLineICO) return 0;
    return r->fnConvertLineICO(src, mask, dst, w, r);
}

MResult MdConvertRGB(const MByte* src, MByte* dst, MUInt64 srcID, MUInt64 dstID, MInt64 w) {
    MdConverter r;
    std::memset(&r, 0, sizeof r);
    r.dwConvertKey = (srcID << 16) | dstID;
    MResult res = _MdInitFunc(&r);
    if (res == MOK) r.fnConvertLine(src, dst, w, &r);
    return res;
}

MResult MdSetFillMode(MdConverter* r, MInt64 mode) {
    if (!r || mode != 1 || r->dwConvertKey == 0) return MERR_INVALID_PARAM;
    if (twinRefused(srcOf(r), dstOf(r))) return MERR_UNSUPPORTED;
    for (const Twin& t : kTwins) {
        if (t.plain == r->fnConvertLine) {
            r->fnConvertLine = t.masked;
            return MOK;
        }
        if (t.masked == r->fnConvertLine) return MOK;  // already masked
    }
    return MERR_UNSUPPORTED;
}

MVoid MdSetbICOTransColor(MdConverter* r, MInt64 flag) {
    if (!r) return;
    r->bICOTransColor = flag;
    const unsigned s = srcOf(r), d = dstOf(r);
    if (d != 0x24 && d != 0x25) return;
    for (const IcoPick& p : kIcoPicks) {
        if (p.src == s) {
            r->fnConvertLineICO = p.fn;
            if (d == p.swapFor) r->bSwapRB = 1;
            return;
        }
    }
}

MResult MdSetPallette(MdConverter* r, const MByte* srcPal, const MByte* dstPal) {
    if (!r) return MERR_INVALID_PARAM;
    if (srcPal && paletteBits(r->lSrcBitCount)) {
        const int n = 1 << r->lSrcBitCount;
        MMemFree(nullptr, r->pSrcPalette);
        r->pSrcPalette = static_cast<MByte*>(MMemAlloc(nullptr, size_t(n) * 4));
        if (!r->pSrcPalette) return MERR_NO_MEMORY;
        MByte* out = r->pSrcPalette;
        const MByte* bg = r->byBackGroundColor;
        for (int i = 0; i < n; ++i) {
            const MByte* e = srcPal + 4 * i;
            MByte* o = out + 4 * i;
            std::memcpy(o, e, 4);
            if (r->bTransColorPng && r->bSupportTransparency) {
                if (r->bBackGroundColor) o[0] = bg[0], o[1] = bg[1], o[2] = bg[2], o[3] = r->byTransColor;
            } else if (r->bTransColorPng) {
                // Over white by the entry's own alpha; the alpha byte is kept for converters
                // that honour it.
                const int a = e[3];
                for (int c = 0; c < 3; ++c) o[c] = MByte(((a * (int(e[c]) - 255)) >> 8) - 1);
            } else if (r->bTransColorGif) {
                o[3] = 255;
                if (MUInt64(i) == r->dwTransColorGif) {
                    if (r->bBackGroundColor) o[0] = bg[0], o[1] = bg[1], o[2] = bg[2], o[3] = r->byTransColor;
                    else if (r->bSupportTransparency) o[3] = 0;
                    else o[0] = o[1] = o[2] = o[3] = 255;
                }
            }
        }
    }
    if (dstPal && paletteBits(r->lDstBitCount)) {
        const int n = 1 << r->lDstBitCount;
        MMemFree(nullptr, r->pDstPalette);
        r->pDstPalette = static_cast<MByte*>(MMemAlloc(nullptr, size_t(n) * 4));
        if (!r->pDstPalette) return MERR_NO_MEMORY;
        std::memcpy(r->pDstPalette, dstPal, size_t(n) * 4);
    }
    return MOK;
}

MResult MdGetPalette(MdConverter* r, MByte** src, MByte** dst) {
    if (!r || !src || !dst) return MERR_INVALID_PARAM;
    *src = r->pSrcPalette;
    *dst = r->pDstPalette;
    return MOK;
}

MVoid MdSetTransColor(MdConverter* r, MUInt64 v) { if (r) r->byTransColor = MByte(v); }
MVoid MdSetBackGroundColor(MdConverter* r, MDWord c) {
    if (!r) return;
    for (int i = 0; i < 4; ++i) r->byBackGroundColor[i] = MByte(c >> (8 * i));
    r->bBackGroundColor = 1;
}
MVoid MdSetbTransColorGif(MdConverter* r, MInt64 f) { if (r) r->bTransColorGif = f, r->bTransColor = f; }
MVoid MdSetbTransColorPng(MdConverter* r, MInt64 f) { if (r) r->bTransColorPng = f, r->bTransColor = f; }
MVoid MdSetbSupportTransparency(MdConverter* r, MInt64 f) { if (r) r->bSupportTransparency = f; }
MVoid MdSetdwTransColorGif(MdConverter* r, MUInt64 i) { if (r) r->dwTransColorGif = i; }
MVoid MdSetAlpha(MdConverter* r, MInt64 f, MInt64 v) { if (r) r->bAlpha = f, r->lAlpha = v; }

}  // extern "C"
