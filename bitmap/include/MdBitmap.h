/* Bitmap records and the transforms over them: allocation, fills, crop, quarter turns, mirrors,
 * colour conversion and resampling through the post-processing engine. */
#ifndef KPV_BITMAP_MDBITMAP_H
#define KPV_BITMAP_MDBITMAP_H

#include "AMCM.h"
#include "MStream.h"
#include "MTypes.h"

#ifdef __cplusplus
extern "C" {
#endif

/* A pixel array: its colour ID (32-bit numbering), size, and up to three planes with their row
 * pitches in bytes. When MdBitmapAlloc made the planes, pPlane[0] owns one block holding them all
 * and MdBitmapFree releases it; a record over caller memory must not be passed to MdBitmapFree. */
typedef struct __tag_MBITMAP {
    MUInt64 dwPixelArrayFormat;
    MInt64 lWidth;
    MInt64 lHeight;
    MInt64 lPitch[3];
    MByte* pPlane[3];
} MBITMAP;

/* Flip flags. */
#define MD_FLIP_LEFT_RIGHT 1
#define MD_FLIP_UP_DOWN 2

/* ---- The record ---- */

/* Allocates the planes of a record whose format, width and height are set (pitches optional: a
 * pitch given by the caller is kept when it covers a row). 0; 2 for a null record, a pitch below
 * the row width or a size whose byte count overflows; 3 for a size below 1 or an unsupported
 * format; 4 without memory. On failure the record's planes are unchanged. */
MResult MdBitmapAlloc(MBITMAP* pBitmap);
MResult MdBitmapFree(MBITMAP* pBitmap);
/* Fills a rectangle with a 24-bit colour at an opacity in percent, optionally through a grey mask
 * (mask 0 lets the colour through, 255 keeps the pixel). */
MResult MdBitmapFillColor(AMCMHandle hAMCM, MBITMAP* pBitmap, MDWord dwColor, const MRECT* pRect,
                          const MBITMAP* pMask, MInt64 lOpacity);
/* Builds a grey mask measuring how far each pixel of a 24-bit source lies from key colour B
 * towards key colour A. */
MResult MdGetMaskBuffer(const MBITMAP* pSrc, MDWord dwColorA, MDWord dwColorB, MBITMAP* pMask);

/* ---- Transforms (rotation in degrees 0, 90, 180, 270 clockwise; then the flip flags) ---- */

MResult MdBitmapCropRotFlipResample(AMCMHandle hAMCM, const MBITMAP* pSrc, MBITMAP* pDst,
                                    const MRECT* pSrcRect, const MRECT* pDstRect, MInt64 lRotation,
                                    MInt64 lFlip);
MResult MdBitmapCropRotFlipResampleEx(AMCMHandle hAMCM, const MBITMAP* pSrc, MBITMAP* pDst,
                                      const MRECT* pSrcRect, const MRECT* pDstRect, MInt64 lRotation,
                                      MInt64 lFlip, MInt64 lDither);
MResult MdBitmapCropRotFlipResampleEx_Dither(AMCMHandle hAMCM, const MBITMAP* pSrc, MBITMAP* pDst,
                                             const MRECT* pSrcRect, const MRECT* pDstRect,
                                             MInt64 lRotation, MInt64 lFlip, MInt64 lDither);
MResult MdBitmapCropResample(AMCMHandle hAMCM, const MBITMAP* pSrc, MBITMAP* pDst,
                             const MRECT* pSrcRect, const MRECT* pDstRect);
/* The whole source into the whole target, bilinear, converting the pixel format. */
MResult MdBitmapResample(AMCMHandle hAMCM, const MBITMAP* pSrc, MBITMAP* pDst);
MResult MdBitmapResampleEx(AMCMHandle hAMCM, const MBITMAP* pSrc, MBITMAP* pDst, MInt64 lDither);
MResult MdBitmapColorConvert(AMCMHandle hAMCM, const MBITMAP* pSrc, MBITMAP* pDst);
MResult MdBitmapColorConvertEx(AMCMHandle hAMCM, const MBITMAP* pSrc, MBITMAP* pDst, MInt64 lDither);
MResult MdBitmapCrop(AMCMHandle hAMCM, const MBITMAP* pSrc, MBITMAP* pDst, const MRECT* pSrcRect);
MResult MdBitmapRotate(AMCMHandle hAMCM, const MBITMAP* pSrc, MBITMAP* pDst, MInt64 lRotation);
MResult MdBitmapFlip(AMCMHandle hAMCM, const MBITMAP* pSrc, MBITMAP* pDst, MInt64 lFlip);

/* ---- Utilities ---- */

struct PPFormat;
struct PPPara;
MResult MdUtilInitPPPara(const MBITMAP* pSrc, const MBITMAP* pDst, const MRECT* pSrcRect,
                         const MRECT* pDstRect, struct PPPara* pPara, struct PPFormat* pSrcFormat,
                         struct PPFormat* pDstFormat);
MResult MdUtilRGB2YUV(AMCMHandle hAMCM, MInt64 c0, MInt64 c1, MInt64 c2, MByte* pY, MByte* pU, MByte* pV);
MResult MdUtilRGB2YUV_YCbCr(AMCMHandle hAMCM, MInt64 c0, MInt64 c1, MInt64 c2, MByte* pY, MByte* pU,
                            MByte* pV);
MResult MdUtilsAddLogo(MBITMAP* pBitmap, MInt64 x, MInt64 y);
MResult MdUtilsGetLogoSize(MInt64* pWidth, MInt64* pHeight);
MResult MdUtilAddLogoEx(MBITMAP* pBitmap);
/* 1 when the rectangle is non-empty and lies inside width x height, else 0. */
MInt64 MdUtilIsRectValid(const MRECT* pRect, MInt64 lWidth, MInt64 lHeight);
MResult MdUtilConvertErrorCode(MResult code, const MResult* pList, MInt64 count);
MVoid MdUtilFlipUpDownRect(MInt64 lHeight, MRECT* pRect);
MResult MdUtilCopyStream(MSTREAM src, MSTREAM dst);
MUInt64 MdUtilPixelFormatNew2Old(MUInt64 dwColorID);
MResult s_GetSamplingFactors(MUInt64 dwColorID, MInt64* pHor, MInt64* pVer);

#ifdef __cplusplus
}
#endif

#endif
