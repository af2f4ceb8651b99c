/* Line colour converters and their selection: one line of pixels from a decoder's layout (old
 * colour ID numbering) into the caller's layout. */
#ifndef KPV_CODEC_MDCONVERTER_H
#define KPV_CODEC_MDCONVERTER_H

#include "MTypes.h"

#ifdef __cplusplus
extern "C" {
#endif

typedef struct MdConverter MdConverter;

/* (source line, destination line, pixel count, record); the result carries no meaning. */
typedef MInt64 (*MdLineConverter)(const MByte* pSrc, MByte* pDst, MInt64 lWidth, const MdConverter* pRec);
/* (colour line, AND-mask line, destination RGBA line, pixel count, record). */
typedef MInt64 (*MdLineConverterICO)(const MByte* pSrc, const MByte* pMask, MByte* pDst, MInt64 lWidth,
                                     const MdConverter* pRec);

struct MdConverter {
    MUInt64 dwConvertKey;   /* (old source ID << 16) | old destination ID */
    MInt64 lSrcBitCount;
    MInt64 lDstBitCount;
    MByte* pSrcPalette;     /* 2^lSrcBitCount entries of 4 bytes; owned */
    MByte* pDstPalette;     /* owned; read by no converter */
    MdLineConverter fnConvertLine;
    MdLineConverterICO fnConvertLineICO;
    MInt64 bSwapRB;
    MByte byTransColor;
    MInt64 bTransColor;
    MInt64 bTransColorPng;
    MInt64 bSupportTransparency;
    MUInt64 dwTransColorGif;
    MByte byBackGroundColor[4];
    MInt64 bBackGroundColor;
    MInt64 bTransColorGif;
    MInt64 bICOTransColor;
    MInt64 bAlpha;
    MInt64 lAlpha;
};

/* Selection and control. */
MResult MdInitConvert(MUInt64 dwKey, MdConverter** ppRec);
MVoid MdUninitConvert(MdConverter* pRec);
MResult _MdInitFunc(MdConverter* pRec);
MInt64 MdConvertLine(const MByte* pSrc, MByte* pDst, MInt64 lWidth, MdConverter* pRec);
MInt64 MdConvertLine_ICO(const MByte* pSrc, const MByte* pMask, MByte* pDst, MInt64 lWidth, MdConverter* pRec,
                         MInt64 reserved);
MResult MdConvertRGB(const MByte* pSrc, MByte* pDst, MUInt64 dwSrcID, MUInt64 dwDstID, MInt64 lWidth);
MResult MdSetFillMode(MdConverter* pRec, MInt64 lMode);
MVoid MdSetbICOTransColor(MdConverter* pRec, MInt64 bFlag);
MResult MdSetPallette(MdConverter* pRec, const MByte* pSrcPalette, const MByte* pDstPalette);
MResult MdGetPalette(MdConverter* pRec, MByte** ppSrcPalette, MByte** ppDstPalette);
MVoid MdSetTransColor(MdConverter* pRec, MUInt64 value);
MVoid MdSetBackGroundColor(MdConverter* pRec, MDWord color);
MVoid MdSetbTransColorGif(MdConverter* pRec, MInt64 bFlag);
MVoid MdSetbTransColorPng(MdConverter* pRec, MInt64 bFlag);
MVoid MdSetbSupportTransparency(MdConverter* pRec, MInt64 bFlag);
MVoid MdSetdwTransColorGif(MdConverter* pRec, MUInt64 index);
MVoid MdSetAlpha(MdConverter* pRec, MInt64 bFlag, MInt64 lValue);

/* The alpha an RGBA or ARGB pixel gets from a palette entry whose alpha is a. */
MByte _MdGetAlphaValue(const MdConverter* pRec, MByte a);

#define MD_CONVERTERS(X)                                                                          \
    X(_MdConvertIndex1ToRGB565) X(_MdConvertIndex1ToRGB888) X(_MdConvertIndex1ToRGBA8888)        \
    X(_MdConvertIndex2ToRGB565) X(_MdConvertIndex2ToRGB888) X(_MdConvertIndex2ToRGBA8888)        \
    X(_MdConvertIndex4ToRGB565) X(_MdConvertIndex4ToRGB888) X(_MdConvertIndex4ToRGBA8888)        \
    X(_MdConvertIndex8ToRGB565) X(_MdConvertIndex8ToRGB888) X(_MdConvertIndex8ToARGB8888)        \
    X(_MdConvertIndex8ToRGBA8888) X(_MdConvertIndex8ToGRAY8) X(_MdConverINDEX4ToGREY)            \
    X(_MdConvertGray1ToRGB565) X(_MdConvertGray1ToRGB888) X(_MdConvertGray1ToRGBA8888)           \
    X(_MdConvertGray2ToRGB565) X(_MdConvertGray2ToRGB888) X(_MdConvertGray2ToRGBA8888)           \
    X(_MdConvertGray4ToRGB565) X(_MdConvertGray4ToRGB888) X(_MdConvertGray4ToRGBA8888)           \
    X(_MdConvertGray8ToRGB565) X(_MdConvertGray8ToRGB888) X(_MdConvertGray8ToRGBA8888)           \
    X(_MdConvertGray16ToRGB565) X(_MdConvertGray16ToRGB888) X(_MdConvertGray16ToRGBA8888)        \
    X(_MdConvertGRAY8ToGRAY8)                                                                     \
    X(_MdConvertB5G5R5ToRGB565) X(_MdConvertB4G4R4ToRGB565) X(_MdConvertReverse565)              \
    X(_MdConvertRGB565ToRGB888) X(_MdConvertB5G5R5ToRGB888) X(_MdConvertB4G4R4ToRGB888)          \
    X(_MdConvertB5G6R5ToGRAY8) X(_MdConvertR5G6B5ToGRAY8)                                         \
    X(_MdConvertRGB888ToRGB565) X(_MdConvertRGB888ToR8G8B8A8) X(_MdConvertRGB888ToA8B8G8R8)      \
    X(_MdConvertReverse888) X(_MdConvertB8G8R8ToGRAY8) X(_MdConvertR8G8B8ToGRAY8)                \
    X(_MdConverR8G8B8ToGREY) X(_MdConvertR8G8B8A8ToB8G8R8A8) X(_MdConvertA8R8G8B8ToB8G8R8A8)     \
    X(_MdConvertB8G8R8A8ToRGB565) X(_MdConvertR8G8B8A8ToRGB565) X(_MdConvertA8B8G8R8ToRGB565)    \
    X(_MdConvertB8G8R8A8ToRGB888) X(_MdConvertA8B8G8R8ToRGB888)                                   \
    X(_MdConvertGray1ToRGB565WithMask) X(_MdConvertGray2ToRGB565WithMask)                        \
    X(_MdConvertGray4ToRGB565WithMask) X(_MdConvertGray8ToRGB565WithMask)                        \
    X(_MdConvertGray16ToRGB565WithMask) X(_MdConvertGray1ToRGB888WithMask)                       \
    X(_MdConvertGray1ToRGBA8888WithMask) X(_MdConvertGray2ToRGB888WithMask)                      \
    X(_MdConvertGray2ToRGBA8888WithMask) X(_MdConvertGray4ToRGB888WithMask)                      \
    X(_MdConvertGray4ToRGBA8888WithMask) X(_MdConvertGray8ToRGB888WithMask)                      \
    X(_MdConvertGray8ToRGBA8888WithMask) X(_MdConvertGray16ToRGB888WithMask)                     \
    X(_MdConvertGray16ToRGBA8888WithMask) X(_MdConvertIndex1ToRGB565WithMask)                    \
    X(_MdConvertIndex2ToRGB565WithMask) X(_MdConvertIndex4ToRGB565WithMask)                      \
    X(_MdConvertIndex8ToRGB565WithMask) X(_MdConvertIndex1ToRGB888WithMask)                      \
    X(_MdConvertIndex1ToRGBA8888WithMask) X(_MdConvertIndex2ToRGB888WithMask)                    \
    X(_MdConvertIndex2ToRGBA8888WithMask) X(_MdConvertIndex4ToRGB888WithMask)                    \
    X(_MdConvertIndex4ToRGBA8888WithMask) X(_MdConvertIndex8ToRGB888WithMask)                    \
    X(_MdConvertIndex8ToARGB8888WithMask) X(_MdConvertIndex8ToRGBA8888WithMask)                  \
    X(_MdConvertRGB888ToRGB565WithMask) X(_MdConvertA8B8G8R8ToRGB565WithMask)                    \
    X(_MdConvertB8G8R8A8ToRGB565WithMask) X(_MdConvertR8G8B8A8ToRGB565WithMask)                  \
    X(_MdConvertA8B8G8R8ToRGB888WithMask) X(_MdConvertB8G8R8A8ToRGB888WithMask)                  \
    X(_MdConvertRGB888ToR8G8B8A8WithMask) X(_MdConvertRGB888ToA8B8G8R8WithMask)                  \
    X(_MdConvertReverse888WithMask) X(_MdConvertA8R8G8B8ToB8G8R8A8WithMask)                      \
    X(_MdConvertR8G8B8A8ToB8G8R8A8WithMask)

#define MD_ICO_CONVERTERS(X)                                                                      \
    X(_MdConvertIndex1ToRGBA8888_ICO) X(_MdConvertIndex2ToRGBA8888_ICO)                          \
    X(_MdConvertIndex4ToRGBA8888_ICO) X(_MdConvertIndex8ToRGBA8888_ICO)                          \
    X(_MdConvertRGB888ToR8G8B8A8_ICO)

#define MD_DECLARE_CONVERTER(name) MInt64 name(const MByte*, MByte*, MInt64, const MdConverter*);
#define MD_DECLARE_ICO_CONVERTER(name) MInt64 name(const MByte*, const MByte*, MByte*, MInt64, const MdConverter*);
MD_CONVERTERS(MD_DECLARE_CONVERTER)
MD_ICO_CONVERTERS(MD_DECLARE_ICO_CONVERTER)
#undef MD_DECLARE_CONVERTER
#undef MD_DECLARE_ICO_CONVERTER

#ifdef __cplusplus
}
#endif

#endif
