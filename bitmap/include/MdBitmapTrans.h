/* Loading an image over a background: where the image has transparency (a GIF frame with a
 * transparent index, a PNG with alpha or a transparency chunk, an ICO) it is decoded as 32-bit
 * BGRA and blended into the caller's pixels; opaque images, and targets with an alpha channel
 * of their own, load as MdBitmapLoad does.
 *
 * Blend targets: 0x16001777 (R, G, B), 0x16000777 (B, G, R), 0x15000454 (5-6-5, red on top) and
 * 0x15001454 (blue on top). A blend into any other colour gives 2. 0x37005777 is loaded as
 * B, G, R, A and turned into R, G, B, A. Results are filtered as the loads' (MdBitmapLoad.h). */
#ifndef KPV_BITMAP_MDBITMAPTRANS_H
#define KPV_BITMAP_MDBITMAPTRANS_H

#include "AMCM.h"
#include "MStream.h"
#include "MTypes.h"
#include "MdBitmap.h"

#ifdef __cplusplus
extern "C" {
#endif

MResult MdBitmapLoadWithTransColor(AMCMHandle hAMCM, MSTREAM stream, MInt64 lImgType, MBITMAP* pBitmap);
MResult MdBitmapLoadWithTransColor2(AMCMHandle hAMCM, const MChar* szPath, MInt64 lImgType, MBITMAP* pBitmap);

/* Blends rows of 0x37000777 pixels (B, G, R, A) into one of the four blend targets: alpha 255
 * replaces, alpha 0 keeps, anything between gives d + ((s - d) * a >> 8). 2 for null rows or
 * colours outside the list. */
MResult s_MergerBuffer(MInt64 lWidth, MInt64 lHeight, MByte* pDst, MUInt64 dwDstColor, MInt64 lDstPitch,
                       const MByte* pSrc, MUInt64 dwSrcColor, MInt64 lSrcPitch);
MResult s_MergerLine(MInt64 lWidth, MByte* pDst, MUInt64 dwDstColor, const MByte* pSrc, MUInt64 dwSrcColor);
MVoid s_MergerToRGB888_Line(MInt64 lWidth, const MByte* pSrc, MByte* pDst, MInt64 bRedFirst);
MVoid s_MergerToRGB565_Line(MInt64 lWidth, const MByte* pSrc, MByte* pDst, MInt64 bBlueOnTop);

/* Swaps bytes 0 and 2 of every pixel of a 0x37000777 bitmap; the colour ID is not changed. */
MResult MdBitmapBGRA2RGBA(MBITMAP* pBitmap);

#ifdef __cplusplus
}
#endif

#endif
