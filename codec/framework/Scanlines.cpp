// Scanline decoding: the line path (component rows through the conversion control) and the
// buffers it keeps.
#include <algorithm>

#include "CodecInternal.h"

using namespace mcodec;

namespace {

MInt64 planesOf(MUInt64 oldID) { return MInt64(MUtilsGetColorSpacePanes(oldID)); }

MUInt64 adjustColor(const MCodecRecord* c) {
    MUInt64 id = MdUtilsOldColorID2New(c->dwSourceColor);
    if (c->bYUVRangeSet && isYUV(id)) id = (id & ~MUInt64(0x3000)) | c->dwYUVRange;
    return id;
}

MResult adjust(MCodecRecord* c, MByte** planes, MInt64* pitches, MInt64 rows) {
    MRECT rc{};
    MResult r = MOld_GetProp(c, MDEC_PROP_REGION, &rc, 32);
    if (r != MOK) return r;
    MUInt64 hs = 1, vs = 1;
    const MUInt64 id = adjustColor(c);
    MdUtilsFormatColorID(id, &hs, &vs, nullptr, nullptr);
    return s_YUVAdjustWithTable(planes, pitches, rc.right - rc.left, rows, id, c->pAdjustTable1, c->pAdjustTable2,
                                MInt64(hs), MInt64(vs));
}

} // namespace

void mcodec::freeLineBuf(MCodecRecord* c) {
    MMgrFree(c->hMemMgr, c->pLineBuf[0]);
    c->pLineBuf[0] = c->pLineBuf[1] = c->pLineBuf[2] = nullptr;
    c->lLineBufSize = 0;
    MMgrFree(c->hMemMgr, c->pMaskLine);
    c->pMaskLine = nullptr;
}

MInt64 mcodec::bNeedAdjust(const MCodecRecord* c) {
    const MUInt64 s = c->dwSourceColor;
    return (s == 0x0F || s == 0x13 || s == 0x14 || s == 0x15) && (c->pAdjustTable1 || c->pAdjustTable2) ? 1 : 0;
}

MVoid mcodec::InitConverter(MCodecRecord* c) {
    c->bConverterReady = 1;
    if (c->pLocalPalette) {
        MCC_SetbTransColorGif(c->pMCC, c->bTransColorGif);
        if (c->bTransColorGif) MCC_SetdwTransColorGif(c->pMCC, c->dwTransIndex);
        MCC_SetPalette(c->pMCC, c->pLocalPalette, 0);
    } else if (c->pGlobalPalette) {
        if (c->dwImgType == 4) {
            MCC_SetbTransColorGif(c->pMCC, c->bTransColorGif);
            if (c->bTransColorGif) MCC_SetdwTransColorGif(c->pMCC, c->dwTransIndex);
        }
        MCC_SetPalette(c->pMCC, c->pGlobalPalette, 0);
    }
}

MResult mcodec::InitMemory(MCodecRecord* c, MInt64 rows) {
    c->lLinePitch[0] = c->lLinePitch[1] = c->lLinePitch[2] = 0;
    c->lTargetPanes = planesOf(c->dwTargetColor);
    c->lSourcePanes = planesOf(c->dwSourceColor);
    MInt64 s0 = 0, s1 = 0, s2 = 0;
    const MInt64 depth = MInt64(MdUtilsGetColorDepth(c->dwSourceColor));
    MInt64 mode = 0;
    if (c->bDecoder) {
        if (compGet(c, MDEC_PROP_DELIVERY, &mode, 8) != MOK) mode = 0;
        if (mode != 4) {
            if (c->lOutWidth == 0 && c->lOutHeight == 0) {
                MInt64 wh[2] = {};
                if (compGet(c, MDEC_PROP_OUT_SIZE, wh, 16) == MOK) {
                    c->lOutWidth = wh[0];
                    c->lOutHeight = wh[1];
                }
            }
            c->bBlockMode = 0;
            c->lLinePitch[0] = ((c->lOutWidth * depth + 31) >> 5) * 4;
            s0 = c->lLinePitch[0] * rows;
        } else {
            MRECT rc{};
            compGet(c, MDEC_PROP_REGION, &rc, 32);
            c->lOutWidth = rc.right - rc.left;
            c->lOutHeight = rc.bottom - rc.top;
            c->bBlockMode = 1;
            MInt64 sizes[3] = {};
            compGet(c, MDEC_PROP_PLANE_SIZES, sizes, 24);
            compGet(c, MDEC_PROP_PLANE_PITCHES, c->lLinePitch, 24);
            s0 = sizes[0];
            s1 = sizes[1];
            s2 = sizes[2];
            rows = c->lOutHeight;
            if (c->lSourcePanes == 1) c->lSourcePanes = 3;
        }
    } else {
        MInt64 wh[2] = {};
        compGet(c, MDEC_PROP_IMAGE_SIZE, wh, 16);
        c->lOutWidth = wh[0];
        c->lOutHeight = wh[1];
        compGet(c, MDEC_PROP_DELIVERY, &mode, 8);
        if (mode != 4) {
            c->bBlockMode = 0;
            rows = 1;
            c->lLinePitch[0] = ((c->lOutWidth * depth + 31) >> 5) * 4;
            s0 = c->lLinePitch[0];
        } else {
            c->bBlockMode = 1;
            MInt64 h = 0, v = 0;
            switch (c->dwSourceColor) {
            case 0x0F: h = 2; v = 2; break;
            case 0x13: h = 1; v = 2; break;
            case 0x14: h = 2; v = 1; break;
            case 0x15: case 0x1D: h = 1; v = 1; break;
            default: return MERR_UNSUPPORTED;
            }
            c->lLinePitch[0] = (c->lOutWidth + 8 * h - 1) / (8 * h) * (8 * h);
            c->lLinePitch[1] = c->lLinePitch[2] = c->lLinePitch[0] / h;
            rows = (rows + 8 * v - 1) / (8 * v) * (8 * v);
            s0 = c->lLinePitch[0] * rows;
            s1 = c->lLinePitch[1] * (rows / v);
            s2 = c->lLinePitch[2] * (rows / v);
        }
    }
    // Sizes come from the component and the file: refuse what cannot be a buffer.
    if (c->lOutWidth < 0 || c->lOutWidth > (MInt64(1) << 28) || rows < 0 || rows > (MInt64(1) << 28) || s0 < 0 ||
        s1 < 0 || s2 < 0)
        return MERR_UNSUPPORTED;
    MInt64 total;
    if (c->lSourcePanes != 1) {
        total = s0 + s1 + s2;
    } else {
        c->lLinePitch[0] = ((c->lOutWidth * depth + 31) >> 5) * 4;
        if (rows && c->lLinePitch[0] > (MInt64(1) << 40) / rows) return MERR_UNSUPPORTED;
        total = c->lLinePitch[0] * rows;
    }
    if (c->lLineBufSize < total) {
        MMgrFree(c->hMemMgr, c->pLineBuf[0]);
        c->pLineBuf[0] = nullptr;
        c->lLineBufSize = 0;
        c->pLineBuf[0] = static_cast<MByte*>(MMgrAlloc(c->hMemMgr, total));
        if (!c->pLineBuf[0]) return MERR_NO_MEMORY;
        c->lLineBufSize = total;
        std::memset(c->pLineBuf[0], 0, size_t(total));
        if (c->dwImgType == 2048) {
            MMgrFree(c->hMemMgr, c->pMaskLine);
            c->lMaskPitch = ((c->lOutWidth + 31) >> 5) * 4;
            c->pMaskLine = static_cast<MByte*>(MMgrAlloc(c->hMemMgr, std::max<MInt64>(c->lMaskPitch, 1)));
            if (!c->pMaskLine) return MERR_NO_MEMORY;
            std::memset(c->pMaskLine, 0, size_t(c->lMaskPitch));
        }
    }
    c->pLineBuf[1] = c->pLineBuf[0] + s0;
    c->pLineBuf[2] = c->pLineBuf[1] + s1;
    c->bMemoryReady = 1;
    return MOK;
}

extern "C" MResult MOld_DecodeScanlines(MHandle h, MByte** planes, MInt64* pitches, MInt64* first, MInt64* count) {
    auto* c = rec(h);
    if (!c || !c->pComponent) return MERR_REGISTRATION;
    if (!planes || !pitches || !count) return MERR_INVALID_PARAM;
    if (!c->pMCC) {
        MResult r = funcs(c)->s_DecScanlines(c->pComponent, planes, pitches, first, count);
        if (r == MOK && bNeedAdjust(c)) r = adjust(c, planes, pitches, *count);
        return r;
    }
    if (!c->bConverterReady) InitConverter(c);
    if (!c->bMemoryReady) {
        MResult r = InitMemory(c, 1);
        if (r != MOK) return r;
    }
    if (c->bBlockMode) {
        // The engine was made for the block size at the time the colour was chosen; a later
        // region or size change needs a new one.
        if (!MCC_UsesLineConverter(c->pMCC) && (c->lMccWidth != c->lOutWidth || c->lMccHeight != c->lOutHeight)) {
            MResult r = setupConverter(c);
            if (r != MOK) return r;
            InitConverter(c);
        }
        MResult r = funcs(c)->s_DecScanlines(c->pComponent, c->pLineBuf, c->lLinePitch, first, count);
        if (r != MOK) return r;
        if (bNeedAdjust(c)) {
            r = adjust(c, c->pLineBuf, c->lLinePitch, *count);
            if (r != MOK) return r;
        }
        MRECT rc{0, 0, c->lOutWidth, c->lOutHeight};
        r = MCC_Process(c->pMCC, planes, &rc, pitches, nullptr, c->pLineBuf, c->lLinePitch);
        if (r == MOK && c->lLineBufSize > 32768) {
            MMgrFree(c->hMemMgr, c->pLineBuf[0]);
            c->pLineBuf[0] = nullptr;
            c->lLineBufSize = 0;
        }
        c->bMemoryReady = 0;
        return r;
    }
    if (!MCC_UsesLineConverter(c->pMCC) && (c->lMccWidth != c->lOutWidth || c->lMccHeight != 1)) {
        MResult r = setupConverter(c);
        if (r != MOK) return r;
        InitConverter(c);
        c->lMccHeight = 1;
    }
    MByte* target[3] = {planes[0], planes[1], planes[2]};
    const MInt64 wanted = *count;
    MInt64 done = 0, local = 1;
    for (MInt64 i = 0; i < wanted; ++i) {
        std::memset(c->pLineBuf[0], 0, size_t(c->lLinePitch[0]));
        MInt64 row = 0;
        MResult r = funcs(c)->s_DecScanlines(c->pComponent, c->pLineBuf, c->lLinePitch, &row, &local);
        if (r != MOK) return r;
        ++done;
        if (first && i == 0) *first = row;
        if (c->bHasPngInfo && row == 0) {
            if (c->lPassCount == 1) {
                r = MCC_SetFillMode(c->pMCC, 1);
                if (r != MOK) return r;
            }
            ++c->lPassCount;
        }
        MRECT rc{0, 0, c->lOutWidth, local};
        if (c->dwImgType == 2048 && c->dwTargetColor == MOLDCOLOR_ARGB8888) {
            MByte* mask[1] = {c->pMaskLine};
            compGet(c, MDEC_PROP_ICO_MASK, &mask[0], 8);
            if (!mask[0]) mask[0] = c->pMaskLine;
            r = MCC_Process_ICO(c->pMCC, target, &rc, pitches, nullptr, c->pLineBuf, c->lLinePitch, mask,
                                &c->lMaskPitch);
        } else {
            r = MCC_Process(c->pMCC, target, &rc, pitches, nullptr, c->pLineBuf, c->lLinePitch);
        }
        if (r != MOK) return r;
        target[0] += pitches[0];
    }
    *count = done;
    return MOK;
}

MResult mcodec::AllocBlockBuffer(const MInt64 size[2], MInt64, MInt64* pRows, MByte** planes, MInt64* pitches,
                                 MUInt64 color) {
    const MInt64 w = size[0], rows = size[1];
    if (w < 1 || rows < 1 || w > (MInt64(1) << 24) || rows > (MInt64(1) << 24)) return MERR_UNSUPPORTED;
    const MInt64 a = (w + 15) / 16 * 16;
    MInt64 p0, p1, rowBytes, chromaRows;
    switch (color) {
    case 1: case 2: p0 = ((w * 24 + 31) >> 5) * 4; p1 = 0; rowBytes = p0; chromaRows = 0; break;
    case 0x0F: case 0x1D: p0 = a; p1 = a / 2; rowBytes = a + a / 2; chromaRows = rows / 2; break;
    case 0x13: p0 = a; p1 = a; rowBytes = 2 * a; chromaRows = rows / 2; break;
    case 0x14: p0 = a; p1 = a / 2; rowBytes = 2 * a; chromaRows = rows; break;
    case 0x15: p0 = a; p1 = a; rowBytes = 3 * a; chromaRows = rows; break;
    case 0x2A: p0 = a; p1 = a / 4; rowBytes = a + a / 2; chromaRows = rows; break;
    case 0x2B: case 0x50000803: p0 = a; p1 = a; rowBytes = a + a / 2; chromaRows = rows / 4; break;
    case 0x50000813: p0 = a; p1 = a / 2; rowBytes = a + a / 4; chromaRows = rows / 4; break;
    case 0x50000820: p0 = a; p1 = (a / 3 + 15) / 16 * 16; rowBytes = a + 2 * a / 3; chromaRows = rows / 2; break;
    default: return MERR_UNSUPPORTED;
    }
    // The table's bytes per row do not always cover both chroma planes at their pitch; size the
    // block for what the planes really span.
    const MInt64 total = std::max(rows * rowBytes, rows * p0 + 2 * chromaRows * p1);
    if (!planes[0]) {
        planes[0] = static_cast<MByte*>(MMemAlloc(nullptr, size_t(total)));
        if (!planes[0]) return MERR_NO_MEMORY;
        std::memset(planes[0], 0xFF, size_t(total));
    }
    pitches[0] = p0;
    pitches[1] = pitches[2] = p1;
    planes[1] = p1 ? planes[0] + rows * p0 : nullptr;
    planes[2] = p1 ? planes[1] + chromaRows * p1 : nullptr;
    if (pRows) *pRows = rows;
    return MOK;
}

MVoid mcodec::FreeBlockBuffer(MByte** planes) {
    MMemFree(nullptr, planes[0]);
    planes[0] = planes[1] = planes[2] = nullptr;
}

MResult mcodec::s_ResetZoomScale(MCodecRecord* c) {
    MInt64 rc[4] = {0, 0, 16, 16};
    MResult r = compSet(c, MDEC_PROP_REGION, rc, 32);
    if (r != MOK) return r;
    MInt64 wh[2] = {16, 16};
    return compSet(c, MDEC_PROP_OUT_SIZE, wh, 16);
}

extern "C" MResult MCodec_DecodeScanlines(MHandle h, MByte** planes, MInt64* pitches, MInt64* first, MInt64* count) {
    auto* c = rec(h);
    if (!c) return MERR_REGISTRATION;
    if (c->bZoomPath != 1) return MOld_DecodeScanlines(h, planes, pitches, first, count);
    if (!planes || !pitches || !count || !c->pComponent) return MERR_INVALID_PARAM;
    return zoomDecode(c, planes, pitches, count);
}
