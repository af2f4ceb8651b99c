/* Image decoder and encoder wrappers. MIDec turns an image stream (or a bitmap in memory) into
 * lines of any output size, region, rotation, flip and colour: JPEG and in-memory bitmaps are
 * driven directly through their components with region decoding; every other type goes through
 * an MCodec decoder. MIEnc drives an MCodec encoder. Colours here are new colour IDs. */
#ifndef KPV_CODEC_MIDEC_H
#define KPV_CODEC_MIDEC_H

#include "AMCM.h"
#include "MStream.h"
#include "MTypes.h"

#ifdef __cplusplus
extern "C" {
#endif

#define MIDEC_PROP_ROTATION 0x100C /* 8: 0, 90, 180, 270 */
#define MIDEC_PROP_FLIP 0x100D     /* 8: 0, 1, 2 */
#define MIDEC_PROP_CANVAS 0x1306   /* set: MBITMAP canvas for GIF frame merging */
#define MIDEC_PROP_DELAY 0x4001
#define MIDEC_PROP_DISPOSAL 0x4002

MResult MIDec_Create(AMCMHandle hAMCM, MSTREAM stream, MInt64 lImgType, MHandle* phDec);
MResult MIDec_CreateEx(AMCMHandle hAMCM, MSTREAM stream, MInt64 lImgType, MInt64 lDecodeMode,
                       const MUInt64* pSkipList, MInt64 lSkipCount, MHandle* phDec);
MResult MIDec_CreateWithCodec(AMCMHandle hAMCM, MInt64 lImgType, MHandle hComponent, MHandle* phDec);
MResult MIDec_CreateWithFileName(AMCMHandle hAMCM, MSTREAM stream, const MChar* szFileName, MInt64 lImgType,
                                 MHandle* phDec);
MResult MIDec_CreateExWithFileName(AMCMHandle hAMCM, MSTREAM stream, const MChar* szFileName, MInt64 lImgType,
                                   MInt64 lDecodeMode, const MUInt64* pSkipList, MInt64 lSkipCount, MHandle* phDec);
MResult MIDec_GetProp(MHandle hDec, MInt64 id, MVoid* pValue, MInt64 size);
MResult MIDec_SetProp(MHandle hDec, MInt64 id, MVoid* pValue, MInt64 size);
/* Direct handles: *plStart = lines of the output region already delivered, *plCount = lines
 * wanted. Wrapper handles: the MCodec line path. */
MResult MIDec_Scanlines(MHandle hDec, MByte** ppPlanes, MInt64* pPitches, MInt64* plStart, MInt64* plCount);
MResult MIDec_Destroy(MHandle hDec);

MResult MIEnc_Create(AMCMHandle hAMCM, MSTREAM stream, MInt64 lImgType, MInt64 lWidth, MInt64 lHeight,
                     MUInt64 dwColor, MHandle* phEnc);
MResult MIEnc_CreateEx(AMCMHandle hAMCM, MSTREAM stream, MInt64 lImgType, MInt64 lWidth, MInt64 lHeight,
                       MUInt64 dwColor, MVoid* p7, MVoid* p8, MVoid* p9, MHandle* phEnc);
MResult MIEnc_GetProp(MHandle hEnc, MInt64 id, MVoid* pValue, MInt64 size);
MResult MIEnc_SetProp(MHandle hEnc, MInt64 id, MVoid* pValue, MInt64 size);
MResult MIEnc_Scanlines(MHandle hEnc, MByte** ppPlanes, MInt64* pPitches, MInt64* plCount);
MResult MIEnc_Destroy(MHandle hEnc);

#ifdef __cplusplus
}
#endif

#endif
