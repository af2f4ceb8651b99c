/* The codec framework: decoders and encoders made by image type from the registered components,
 * their numbered properties, scanline decoding with colour conversion, crop and zoom, the
 * crop-and-zoom decode into one buffer, and the colour-conversion control that turns rows of one
 * pixel format into another.
 *
 * Handles are opaque; each belongs to its creator and is freed by its destroy function. A handle
 * is used by one thread at a time. Colours passed to MCodec properties are old colour IDs. */
#ifndef KPV_CODEC_MCODEC_H
#define KPV_CODEC_MCODEC_H

#include "AMCM.h"
#include "MStream.h"
#include "MTypes.h"
#include "MdComponent.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Framework properties (the component's own IDs, MdComponent.h, pass through). */
#define MCODEC_PROP_OUT_COLOR 0x0003   /* 8: old colour ID of the output */
#define MCODEC_PROP_TRANS_INDEX 0x0004 /* 1: transparent palette index */
#define MCODEC_PROP_YUV_RANGE 0x0005   /* 8: 0, 0x1000, 0x2000, 0x3000 */
#define MCODEC_PROP_BACKGROUND 0x0006  /* 4 */
#define MCODEC_PROP_OUT_REGION 0x100A  /* 32: output region of the zoom path */
#define MCODEC_PROP_RESIZE 0x100B      /* 8: 1 nearest, 2 bilinear, 8 automatic */
#define MCODEC_PROP_ADJUST1 0x1509     /* 2048 */
#define MCODEC_PROP_ADJUST2 0x1510     /* 2048 */
#define MCODEC_PROP_DITHER 0x1511      /* 8 */
#define MCODEC_PROP_ALPHA 0x1803       /* 8 */
#define MCODEC_PROP_ENC_COLOR 0x2002   /* 8 */

/* Progress callback of a component (property 0x1002): (percent, user) -> non-zero stops. */
typedef MInt32 (*MCODEC_FNPROGRESS)(MInt32 percent, MVoid* pUser);

/* Image type bit (1 BMP, 2 JPEG, 4 GIF, 8 PNG, ...) -> component subtype; 0 for none. */
MInt64 GetCodecSubType(MInt64 lImgType);

/* Lists component IDs whose type class and subtype match (wanted = type class | subtype),
 * highest priority first; the array should be zeroed by the caller. 0x80000 when none. */
MResult MdUtilsFindCodecComponents(AMCMHandle hAMCM, MUInt64 dwWanted, MUInt64* pIDs, MInt64 capacity);

MResult MCodec_DecodeCreate(AMCMHandle hAMCM, MSTREAM stream, MUInt64 dwComponentID, MHandle* phCodec);
MResult MOld_DecodeCreate(AMCMHandle hAMCM, MSTREAM stream, MUInt64 dwComponentID, MHandle* phCodec);
/* pParam: 8 bytes for the generic component's property 1 (may be null); pSkipList: component
 * IDs not to try. */
MResult MCodec_CreateDecoderEx(AMCMHandle hAMCM, MSTREAM stream, MInt64 lImgType, MVoid* pParam,
                               const MVoid* pSkipList, MInt64 lSkipCount, MHandle* phCodec);
MResult MCodec_CreateDecoderExWithFileName(AMCMHandle hAMCM, MSTREAM stream, const MChar* szFileName,
                                           MInt64 lImgType, MVoid* pParam, const MVoid* pSkipList,
                                           MInt64 lSkipCount, MHandle* phCodec);

/* Encoder creation record: {stream, width, height, colour (old ID), two words for the encoder}. */
typedef struct MCodecEncParam {
    MSTREAM stream;
    MInt64 lWidth;
    MInt64 lHeight;
    MUInt64 dwColor;
    MInt64 lReserved1;
    MInt64 lReserved2;
} MCodecEncParam;

MResult MCodec_EncodeCreate(AMCMHandle hAMCM, MCodecEncParam* pParam, MInt64 lImgType, MUInt64 dwComponentID,
                            MHandle* phCodec);
MResult MOld_EncodeCreate(AMCMHandle hAMCM, MCodecEncParam* pParam, MInt64 lImgType, MUInt64 dwComponentID,
                          MHandle* phCodec);

MResult MCodec_Destroy(MHandle hCodec);
MResult MOld_Destroy(MHandle hCodec);
MResult MCodec_GetProp(MHandle hCodec, MInt64 id, MVoid* pValue, MInt64 size);
MResult MOld_GetProp(MHandle hCodec, MInt64 id, MVoid* pValue, MInt64 size);
MResult MCodec_SetProp(MHandle hCodec, MInt64 id, MVoid* pValue, MInt64 size);
MResult MOld_SetProp(MHandle hCodec, MInt64 id, MVoid* pValue, MInt64 size);

/* Pulls decoded rows. Line path: *plCount rows wanted in, delivered out; *plFirstRow the first
 * delivered row. Zoom path (output region set on a JPEG decoder): the whole region lands in the
 * caller's planes, *plCount = its height. */
MResult MCodec_DecodeScanlines(MHandle hCodec, MByte** ppPlanes, MInt64* pPitches, MInt64* plFirstRow,
                               MInt64* plCount);
MResult MOld_DecodeScanlines(MHandle hCodec, MByte** ppPlanes, MInt64* pPitches, MInt64* plFirstRow,
                             MInt64* plCount);

/* A rectangle of the image (null: all of it) reduced by zoom (at most 1.0) into one buffer in
 * the output colour. */
MResult MCodec_DecodeData(MHandle hCodec, const MRECT* pRect, MByte* pBuffer, MInt64 lPitch, double dZoom);
MResult MOld_DecodeData(MHandle hCodec, const MRECT* pRect, MByte* pBuffer, MInt64 lPitch, double dZoom);

/* Encoding through an encoder component (none is part of this library). */
MResult MCodec_EncodeScanlines(MHandle hCodec, MByte** ppPlanes, MInt64* pPitches, MInt64* plCount);
MResult MOld_EncodeScanlines(MHandle hCodec, MByte** ppPlanes, MInt64* pPitches, MInt64* plCount);
MResult MCodec_EncodeData(MHandle hCodec, MByte* pPlane, MInt64 lPitch);
MResult MOld_EncodeData(MHandle hCodec, MByte* pPlane, MInt64 lPitch);

/* Helpers of the scanline driver. */
MResult GetDecodeScaleSize(MInt64 lImgWidth, MInt64 lImgHeight, MInt64 lSrcWidth, MInt64 lSrcHeight,
                           MInt64 lWantWidth, MInt64 lWantHeight, MInt64 size[2], MInt64* plShift);
/* Format record: {colour, width, height}. */
MResult s_SetReizeAlgorithm(MInt64* plAlg, const MInt64 dst[3], const MInt64 src[3]);
MResult s_AutoChoiceReizeAlgorithm(MInt64* plAlg, const MInt64 dst[3], const MInt64 src[3]);
MResult s_YUVAdjustWithTable(MByte** ppPlanes, const MInt64* pPitches, MInt64 lWidth, MInt64 lRows,
                             MUInt64 dwColor, const MInt64* pTable1, const MInt64* pTable2, MInt64 lHStep,
                             MInt64 lVStep);

/* ---- Colour-conversion control ---- */

typedef struct MCCRecord* MCC;

/* Colours are passed by pointer to a record whose first word is the old ID; rectangles give
 * sizes through their right and bottom. Null when no engine could be made. */
MCC MCC_Init(AMCMHandle hAMCM, const MInt64* pParam, const MRECT* pDstRect, const MUInt64* pDstColor,
             const MRECT* pSrcRect, const MUInt64* pSrcColor, MInt64 bYUV, MUInt64 dwYUVRange, MInt64 lAlphaRule);
MResult MCC_Process(MCC hMCC, MByte** ppDst, const MRECT* pRect, const MInt64* pDstPitch, const MVoid* pReserved,
                    MByte** ppSrc, const MInt64* pSrcPitch);
MResult MCC_Process_ICO(MCC hMCC, MByte** ppDst, const MRECT* pRect, const MInt64* pDstPitch, const MVoid* pReserved,
                        MByte** ppSrc, const MInt64* pSrcPitch, MByte** ppMask, const MInt64* pMaskPitch);
MVoid MCC_Release(MCC hMCC);
MResult MCC_Align(MCC hMCC, MRECT* pSrcRect, MRECT* pDstRect);
MResult MCC_SetFillMode(MCC hMCC, MInt64 lMode);
MResult MCC_SetPalette(MCC hMCC, const MByte* pPalette, MInt64 lCount);
MResult MCC_SetTransColor(MCC hMCC, MUInt64 dwIndex);
MResult MCC_SetBackGroundColor(MCC hMCC, MDWord dwColor);
MResult MCC_SetbTransColorPng(MCC hMCC, MInt64 lValue);
MResult MCC_SetbTransColorGif(MCC hMCC, MInt64 bFlag);
MResult MCC_SetdwTransColorGif(MCC hMCC, MUInt64 dwIndex);
MResult MCC_SetbSupportTransparency(MCC hMCC, MInt64 bFlag);
MResult MCC_SetAlpha(MCC hMCC, MInt64 bSet, MInt64 lAlpha);
MResult MCC_SetbTransColorICO(MCC hMCC, MInt64 bFlag);
/* 1 when the control converts with a line converter, 0 with the post-processing engine. */
MInt64 MCC_UsesLineConverter(MCC hMCC);

#ifdef __cplusplus
}
#endif

#endif
