// The codec handle behind MCodec_ and MOld_ functions, and helpers shared by the framework's
// source files.
#pragma once

#include <cstring>

#include "MCodec.h"
#include "MMemory.h"
#include "MdColorID.h"
#include "MdConverter.h"
#include "MdPPWrapper.h"

// Decoded rows of the zoom path kept for the next band or the next call: a block of the reduced
// image (rcCache, reduced coordinates) at reduction lShift in colour dwColor.
struct MCodecCache {
    MUInt64 dwColor;
    MInt64 lWidth, lHeight;
    MInt64 lPitch[3];
    MByte* pPlane[3];
    MInt64 lRows;
    MInt64 lShift;
};

struct MCodecRecord {
    AMCMHandle hComponentMgr;
    MHandle pComponent;
    MUInt64 dwTypeID;
    MInt64 bDecoder;
    MUInt64 dwTargetColor;
    MUInt64 dwSourceColor;
    MInt64 mccParam[11];
    MPixelDesc pxTarget, pxSource;
    MCC pMCC;
    MHandle hMemMgr;
    MByte* pLineBuf[3];
    MInt64 lLinePitch[3];
    MByte* pMaskLine;
    MInt64 lMaskPitch;
    MInt64 lLineBufSize;
    MInt64 lSourcePanes, lTargetPanes;
    MInt64 lImgWidth, lImgHeight;
    MInt64 lOutWidth, lOutHeight;
    MInt64 bBlockMode;
    MByte* pGlobalPalette;
    MByte* pLocalPalette;
    MUInt64 dwTransColor;
    MUInt64 dwTransIndex;
    MInt64 dwAlpha;
    MInt64 bTransColorGif;
    MInt64 bConverterReady;
    MInt64 lPassCount;
    MInt64 bHasPngInfo;
    MInt64 bMemoryReady;
    MInt64 bAlphaSet;
    MInt64 bTransColorPng;
    MUInt64 dwZoomDstColor, dwZoomSrcColor;
    MRECT rcRegion, rcLastRegion, rcSource, rcAccepted;
    MInt64 lScaleShift;
    MInt64 lZoomHeight, lZoomWidth;
    MInt64 lSrcImgHeight, lSrcImgWidth;
    MInt64 bZoomPath;
    MInt64 lSrcHSub, lSrcVSub, lDstHSub, lDstVSub;
    MInt64 lSrcPlanes, lDstPlanes;
    MInt64 lSrcBpp, lDstBpp;
    MInt64 lResizeAlg;
    MUInt64 dwYUVRange;
    MInt64 bYUVRangeSet;
    MInt64 bCacheValid;
    MRECT rcCache;
    MCodecCache cache;
    MInt64 dwImgType;
    MInt64 bSupportTransparency;
    MInt64* pAdjustTable1;
    MInt64* pAdjustTable2;
    MInt64 bDither;
    MInt64 lMccWidth, lMccHeight; // sizes the post-processing converter was made for
    // Encoder side.
    MInt64 bWholeBand;
    MRECT rcBand;
};

namespace mcodec {

inline MCodecRecord* rec(MHandle h) { return static_cast<MCodecRecord*>(h); }
inline const MDecComponentFuncs* funcs(const MCodecRecord* c) { return MDEC_FUNCS(c->pComponent); }

inline MResult compGet(MCodecRecord* c, MInt64 id, MVoid* v, MInt64 n) {
    return funcs(c)->s_GetProp(c->pComponent, id, v, n);
}
inline MResult compSet(MCodecRecord* c, MInt64 id, MVoid* v, MInt64 n) {
    return funcs(c)->s_SetProp(c->pComponent, id, v, n);
}

inline bool isYUV(MUInt64 newID) { return MCOLOR_CLASS(newID) == MCOLOR_CLASS_YUV; }

// Describes an old colour ID into the zoom-path fields (new ID, subsampling, bpp, planes).
inline void describe(MUInt64 oldID, MUInt64* pNew, MInt64* h, MInt64* v, MInt64* bpp, MInt64* planes) {
    MUInt64 hs = 1, vs = 1, b = 0, p = 1;
    *pNew = MdUtilsFormatOldColorID(oldID, &hs, &vs, &b, &p);
    *h = MInt64(hs);
    *v = MInt64(vs);
    *bpp = MInt64(b);
    *planes = MInt64(p);
}

MResult InitMemory(MCodecRecord* c, MInt64 rows);
MVoid InitConverter(MCodecRecord* c);
MInt64 bNeedAdjust(const MCodecRecord* c);
void freeLineBuf(MCodecRecord* c);
MResult AllocBlockBuffer(const MInt64 size[2], MInt64 ignored, MInt64* pRows, MByte** planes, MInt64* pitches,
                         MUInt64 color);
MVoid FreeBlockBuffer(MByte** planes);
MResult s_ResetZoomScale(MCodecRecord* c);
MResult setupConverter(MCodecRecord* c);
MResult zoomDecode(MCodecRecord* c, MByte** planes, MInt64* pitches, MInt64* count);

// Alpha of 32-bit targets converted by the post-processing engine from sources without alpha:
// the byte that holds it (-1 when the pair needs nothing), the value for an alpha property
// (255 when unset) and the fill of a rectangle; origin addresses pixel (0, 0) of the target.
int constantAlphaByte(MUInt64 dstNew, MUInt64 srcNew);
MByte alphaByteValue(MInt64 bSet, MInt64 value);
void fillAlpha(MByte* origin, MInt64 pitch, const MRECT& rc, int byteIndex, MByte value);
// Makes a control write the alpha byte after every conversion, line converters included; for
// images that can hold no transparency at all.
void setConstantAlpha(MCC m, int byteIndex, MByte value);

} // namespace mcodec
