// Encoding road: lines in the caller's colour, converted in bands into the encoder component's
// colour and handed to its scanline operation. No encoder component ships with the library; the
// road runs once one is registered.
#include <algorithm>

#include "CodecInternal.h"
#include "MPP.h"

using namespace mcodec;

namespace {

MResult componentLines(MCodecRecord* c, MByte** planes, MInt64* pitches, MInt64 n) {
    auto fn = reinterpret_cast<MENC_FNSCANLINES>(funcs(c)->s_DecScanlines);
    return fn(c->pComponent, planes, pitches, n);
}

} // namespace

extern "C" {

MResult MOld_EncodeScanlines(MHandle h, MByte** planes, MInt64* pitches, MInt64* count) {
    auto* c = rec(h);
    if (!c || !c->pComponent) return MERR_REGISTRATION;
    if (!planes || !pitches || !count) return MERR_INVALID_PARAM;
    if (!c->pMCC) return componentLines(c, planes, pitches, *count);
    if (!c->bMemoryReady) {
        MResult r = InitMemory(c, *count);
        if (r != MOK) return r;
    }
    const MInt64 w = c->lOutWidth;
    if (c->bWholeBand) {
        MRECT rc{0, 0, w, *count};
        MResult r = MCC_Process(c->pMCC, c->pLineBuf, &rc, c->lLinePitch, &rc, planes, pitches);
        if (r == MOK) r = componentLines(c, c->pLineBuf, c->lLinePitch, *count);
        if (c->lLineBufSize > 32768) {
            MMgrFree(c->hMemMgr, c->pLineBuf[0]);
            c->pLineBuf[0] = c->pLineBuf[1] = c->pLineBuf[2] = nullptr;
            c->lLineBufSize = 0;
        }
        c->bMemoryReady = 0;
        return r;
    }
    MByte* src[3] = {planes[0], planes[1], planes[2]};
    MInt64 done = 0;
    for (MInt64 i = 0; i < *count; ++i) {
        MRECT rc{0, 0, w, 1};
        MResult r = MCC_Process(c->pMCC, c->pLineBuf, &rc, c->lLinePitch, &rc, src, pitches);
        if (r == MOK) r = componentLines(c, c->pLineBuf, c->lLinePitch, 1);
        if (r != MOK) return r;
        ++done;
        for (int k = 0; k < 3; ++k)
            if (src[k]) src[k] += pitches[k];
    }
    *count = done;
    return MOK;
}

MResult MCodec_EncodeScanlines(MHandle h, MByte** planes, MInt64* pitches, MInt64* count) {
    auto* c = rec(h);
    if (!c || !c->pComponent) return MERR_REGISTRATION;
    if (!planes || !pitches || !count) return MERR_INVALID_PARAM;
    const MUInt64 enc = c->dwZoomDstColor, in = c->dwZoomSrcColor;
    if (enc == in || enc == MdUtilsOldColorID2New(0x19)) return MOld_EncodeScanlines(h, planes, pitches, count);
    const MInt64 width = c->lOutWidth, n = *count;
    if (width < 1 || n < 0 || width > (MInt64(1) << 28)) return MERR_INVALID_PARAM;
    c->rcBand = {0, 0, width, n};
    if (c->lDstBpp == 1 && c->lSrcBpp == 24) {
        // Monochrome from 24-bit colour: a pixel is set when its luma reaches half.
        const MInt64 outPitch = ((width + 31) >> 5) * 4, inPitch = ((width * 24 + 31) >> 5) * 4;
        auto* buf = static_cast<MByte*>(MMemAlloc(nullptr, size_t(outPitch * 32)));
        if (!buf) return MERR_NO_MEMORY;
        MResult r = MOK;
        for (MInt64 top = 0; top < n && r == MOK; top += 32) {
            const MInt64 rows = std::min<MInt64>(32, n - top);
            std::memset(buf, 0, size_t(outPitch * 32));
            for (MInt64 y = 0; y < rows; ++y) {
                const MByte* in3 = planes[0] + (top + y) * inPitch;
                MByte* out = buf + y * outPitch;
                for (MInt64 x = 0; x < width; ++x) {
                    const MInt64 L = in3[3 * x] * 77 + in3[3 * x + 1] * 151 + in3[3 * x + 2] * 29;
                    if ((L >> 8) >= 128) out[x / 8] |= MByte(1u << (7 - x % 8));
                }
            }
            MByte* p[3] = {buf, nullptr, nullptr};
            MInt64 pp[3] = {outPitch, 0, 0};
            MInt64 cnt = rows;
            r = MOld_EncodeScanlines(h, p, pp, &cnt);
        }
        MMemFree(nullptr, buf);
        return r;
    }
    PPFormat dst{MInt64(enc), width, std::max<MInt64>(n, 1), nullptr};
    PPFormat src{MInt64(in), width, std::max<MInt64>(n, 1), nullptr};
    PPPara para{};
    para.lBlockMode = (width % 2 == 0 && n % 2 == 0) ? 2 : 1;
    para.lAlpha = c->bAlphaSet ? c->dwAlpha : 255;
    MdPPWrapper* wrapper = nullptr;
    PPHandle hPP = nullptr;
    MResult r = MdPPWrapperCreateEx(c->hComponentMgr, &wrapper, &dst, &src, &para, &hPP);
    if (r != MOK) return r;
    const MInt64 rowBytes = (width * c->lDstBpp + 7) >> 3;
    const MInt64 p0 = (rowBytes + 15) / 16 * 16;
    const MInt64 p1 = c->lDstPlanes == 3 ? p0 / std::max<MInt64>(c->lDstHSub, 1) : 0;
    const MInt64 vs = std::max<MInt64>(c->lDstVSub, 1);
    const MInt64 size = 32 * p0 + 2 * (32 / vs) * p1;
    auto* buf = static_cast<MByte*>(MMemAlloc(nullptr, size_t(size)));
    if (!buf) {
        MdPPWrapperDestroy(wrapper);
        return MERR_NO_MEMORY;
    }
    std::memset(buf, 0, size_t(size));
    MByte* bp[3] = {buf, p1 ? buf + 32 * p0 : nullptr, p1 ? buf + 32 * p0 + (32 / vs) * p1 : nullptr};
    MInt64 bpitch[3] = {p0, p1, p1};
    for (MInt64 top = 0; top < n && r == MOK; top += 32) {
        const MInt64 bottom = std::min<MInt64>(top + 32, n);
        MByte* off[3] = {bp[0] - top * p0, bp[1] ? bp[1] - top / vs * p1 : nullptr,
                         bp[2] ? bp[2] - top / vs * p1 : nullptr};
        MRECT rc{0, top, width, bottom};
        r = MPProcess(hPP, off, &rc, bpitch, planes, pitches);
        if (r == MOK)
            mcodec::fillAlpha(off[0], bpitch[0], rc, mcodec::constantAlphaByte(MUInt64(enc), MUInt64(in)),
                              mcodec::alphaByteValue(c->bAlphaSet, c->dwAlpha));
        MInt64 cnt = bottom - top;
        if (r == MOK) r = MOld_EncodeScanlines(h, bp, bpitch, &cnt);
    }
    MMemFree(nullptr, buf);
    MdPPWrapperDestroy(wrapper);
    return r;
}

MResult MOld_EncodeData(MHandle h, MByte* plane, MInt64 pitch) {
    auto* c = rec(h);
    if (!c) return MERR_REGISTRATION;
    MByte* p[3] = {plane, nullptr, nullptr};
    MInt64 pp[3] = {pitch, 0, 0};
    MInt64 n = c->lOutHeight;
    return MOld_EncodeScanlines(h, p, pp, &n);
}

MResult MCodec_EncodeData(MHandle h, MByte* plane, MInt64 pitch) { return MOld_EncodeData(h, plane, pitch); }

MResult MdRegisterDecoderComponents(AMCMHandle hAMCM) {
    if (!hAMCM) return MERR_INVALID_PARAM;
    AMCM_RegisterEx(hAMCM, AMCM_CID_BMP_DECODER, AMCM_TYPECLASS_DECODER, 1, 3, MDecoder_BMPCreate);
    AMCM_RegisterEx(hAMCM, AMCM_CID_JPEG_DECODER, AMCM_TYPECLASS_DECODER, 2, 3, MDecoder_AJL2Create);
    AMCM_RegisterEx(hAMCM, AMCM_CID_PNG_DECODER, AMCM_TYPECLASS_DECODER, 4, 3, MDecoder_PNGCreate);
    AMCM_RegisterEx(hAMCM, AMCM_CID_GIF_DECODER, AMCM_TYPECLASS_DECODER, 3, 3, MDecoder_GIFCreate);
    return MOK;
}

} // extern "C"
