// Colour-conversion control: a line converter for the pairs it knows (palettes, transparency,
// no resampling), else a pooled post-processing handle that converts and resamples rectangles.
#include <cstring>

#include "CodecInternal.h"
#include "MPP.h"

struct MCCRecord {
    PPHandle hPP;
    MdConverter* pConverter;
    MInt64 bUseConverter;
    MdPPWrapper* pPPWrapper;
    MInt64 lAlphaByte; // engine conversions: the target's alpha byte to write, or -1
    MByte byAlpha;
};

namespace {

bool inConverterSet(MUInt64 id) {
    return (id >= 0x01 && id <= 0x06) || id == 0x11 || id == 0x12 || (id >= 0x16 && id <= 0x25);
}

} // namespace

extern "C" {

MCC MCC_Init(AMCMHandle hAMCM, const MInt64* param, const MRECT* dstRect, const MUInt64* dstColor,
             const MRECT* srcRect, const MUInt64* srcColor, MInt64 bYUV, MUInt64 yuvRange, MInt64 alphaRule) {
    if (!dstColor || !srcColor || !dstRect || !srcRect) return nullptr;
    auto* m = static_cast<MCCRecord*>(MMemAlloc(nullptr, sizeof(MCCRecord)));
    if (!m) return nullptr;
    std::memset(m, 0, sizeof *m);
    const MUInt64 t = *dstColor, s = *srcColor;
    bool line = (t != s && inConverterSet(t) && inConverterSet(s)) || (t == s && t == MOLDCOLOR_GRAY8);
    if (s == 0x11) line = false;
    // A line converter copies rows one for one: a change of size needs the resampling engine.
    if (dstRect->right - dstRect->left != srcRect->right - srcRect->left ||
        dstRect->bottom - dstRect->top != srcRect->bottom - srcRect->top)
        line = false;
    if (line && alphaRule && (t == MOLDCOLOR_ABGR8888 || t == MOLDCOLOR_ARGB8888) &&
        !(MdUtilsOldColorID2New(s) & 0x40000000u))
        line = false;
    m->lAlphaByte = -1;
    if (line) {
        // A pair without a line converter would leave rows unconverted; the engine takes it.
        if (MdInitConvert((s << 16) | t, &m->pConverter) == MOK && m->pConverter) {
            m->bUseConverter = 1;
            return m;
        }
        m->pConverter = nullptr;
    }
    PPFormat dst{MInt64(MdUtilsOldColorID2New(t)), dstRect->right, dstRect->bottom, nullptr};
    PPFormat src{MInt64(MdUtilsOldColorID2New(s)), srcRect->right, srcRect->bottom, nullptr};
    if (bYUV) {
        if (mcodec::isYUV(MUInt64(dst.lColorID))) dst.lColorID = MInt64((MUInt64(dst.lColorID) & ~0x3000ull) | yuvRange);
        if (mcodec::isYUV(MUInt64(src.lColorID))) src.lColorID = MInt64((MUInt64(src.lColorID) & ~0x3000ull) | yuvRange);
    }
    PPPara para{};
    para.lBlockMode = PP_BLOCK_AUTO;
    para.lAlpha = param ? param[10] : 255;
    m->lAlphaByte = mcodec::constantAlphaByte(MUInt64(dst.lColorID), MUInt64(src.lColorID));
    m->byAlpha = mcodec::alphaByteValue(1, para.lAlpha);
    if (MdPPWrapperCreateEx(hAMCM, &m->pPPWrapper, &dst, &src, &para, &m->hPP) != MOK || !m->hPP) {
        MdPPWrapperDestroy(m->pPPWrapper);
        MMemFree(nullptr, m);
        return nullptr;
    }
    return m;
}

MResult MCC_Process(MCC m, MByte** dst, const MRECT* rc, const MInt64* dstPitch, const MVoid*, MByte** src,
                    const MInt64* srcPitch) {
    if (!m || !dst || !rc || !dstPitch || !src || !srcPitch) return MERR_INVALID_PARAM;
    if (m->bUseConverter) {
        const MInt64 w = rc->right - rc->left, rows = rc->bottom - rc->top;
        const MByte* s = src[0];
        MByte* d = dst[0];
        for (MInt64 y = 0; y < rows; ++y) {
            MdConvertLine(s, d, w, m->pConverter);
            s += srcPitch[0];
            d += dstPitch[0];
        }
        if (m->lAlphaByte >= 0) {
            // Planes address the rectangle's first row here, not pixel (0, 0).
            const MRECT local{0, 0, w, rows};
            mcodec::fillAlpha(dst[0], dstPitch[0], local, int(m->lAlphaByte), m->byAlpha);
        }
        return MOK;
    }
    const MResult r = MPProcess(m->hPP, dst, rc, dstPitch, src, srcPitch);
    if (r == MOK) mcodec::fillAlpha(dst[0], dstPitch[0], *rc, int(m->lAlphaByte), m->byAlpha);
    return r;
}

MResult MCC_Process_ICO(MCC m, MByte** dst, const MRECT* rc, const MInt64* dstPitch, const MVoid*, MByte** src,
                        const MInt64* srcPitch, MByte** mask, const MInt64* maskPitch) {
    if (!m || !m->bUseConverter) return MERR_INVALID_PARAM;
    if (!dst || !rc || !dstPitch || !src || !srcPitch || !mask || !maskPitch) return MERR_INVALID_PARAM;
    const MInt64 w = rc->right - rc->left, rows = rc->bottom - rc->top;
    const MByte* s = src[0];
    const MByte* k = mask[0];
    MByte* d = dst[0];
    for (MInt64 y = 0; y < rows; ++y) {
        MdConvertLine_ICO(s, k, d, w, m->pConverter, 0);
        s += srcPitch[0];
        k += maskPitch[0];
        d += dstPitch[0];
    }
    return MOK;
}

MVoid MCC_Release(MCC m) {
    if (!m) return;
    if (m->bUseConverter) MdUninitConvert(m->pConverter);
    else if (m->pPPWrapper) MdPPWrapperDestroy(m->pPPWrapper);
    MMemFree(nullptr, m);
}

MResult MCC_Align(MCC m, MRECT* srcRect, MRECT* dstRect) {
    if (!m) return MERR_INVALID_PARAM;
    if (m->bUseConverter) return MERR_UNSUPPORTED;
    return MPPAlign(m->hPP, dstRect, srcRect);
}

MResult MCC_SetFillMode(MCC m, MInt64 mode) {
    if (!m || !m->bUseConverter) return MERR_UNSUPPORTED;
    return MdSetFillMode(m->pConverter, mode);
}

MResult MCC_SetPalette(MCC m, const MByte* pal, MInt64) {
    if (!m || !m->bUseConverter) return MERR_UNSUPPORTED;
    return MdSetPallette(m->pConverter, pal, nullptr);
}

#define MCC_SETTER(name, call)                                                                    \
    MResult name {                                                                                \
        if (!m || !m->bUseConverter) return MERR_UNSUPPORTED;                                     \
        call;                                                                                     \
        return MOK;                                                                               \
    }

MCC_SETTER(MCC_SetTransColor(MCC m, MUInt64 v), MdSetTransColor(m->pConverter, v & 0xFF))
MCC_SETTER(MCC_SetBackGroundColor(MCC m, MDWord v), MdSetBackGroundColor(m->pConverter, v))
MCC_SETTER(MCC_SetbTransColorPng(MCC m, MInt64 v), MdSetbTransColorPng(m->pConverter, v))
MCC_SETTER(MCC_SetbTransColorGif(MCC m, MInt64 v), MdSetbTransColorGif(m->pConverter, v))
MCC_SETTER(MCC_SetdwTransColorGif(MCC m, MUInt64 v), MdSetdwTransColorGif(m->pConverter, v))
MCC_SETTER(MCC_SetbSupportTransparency(MCC m, MInt64 v), MdSetbSupportTransparency(m->pConverter, v))
MCC_SETTER(MCC_SetAlpha(MCC m, MInt64 set, MInt64 v), MdSetAlpha(m->pConverter, set, v))
MCC_SETTER(MCC_SetbTransColorICO(MCC m, MInt64 v), MdSetbICOTransColor(m->pConverter, v))

MInt64 MCC_UsesLineConverter(MCC m) { return m && m->bUseConverter ? 1 : 0; }

} // extern "C"

void mcodec::setConstantAlpha(MCC m, int byteIndex, MByte value) {
    if (!m) return;
    m->lAlphaByte = byteIndex;
    m->byAlpha = value;
}
