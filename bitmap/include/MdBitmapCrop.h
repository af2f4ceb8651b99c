/* Cutting a rectangle out of an image without decoding all of it at full size.
 *
 * The rectangle is given in the coordinates of a view of the image at W x H (the decoder scales
 * the image to that size); it must be non-empty and inside the view. When all four of its
 * coordinates are odd, the file crop drops its last column and row, and the crop load of a JPEG
 * moves it one column left; the caller's rectangle is changed in place.
 *
 * MdBitmapJpgFileCrop re-encodes the rectangle of a JPEG as a BMP (1), JPEG (2, quality 90) or
 * PNG (8) through a registered encoder component (none ships with the library), 16 lines at a
 * time. MdBitmapLoadFilewithCrop loads the rectangle of any supported image into a 24- or 16-bit
 * RGB bitmap (size 0 x 0 takes the rectangle's size); on the resampling road the caller's
 * rectangle comes back as {0, 0, bitmap width, bitmap height}. Results are filtered as the loads'
 * (MdBitmapLoad.h); MdBitmapJpgFileCrop2 returns its own codes (0x1006 for a source that cannot
 * be opened) and writes the destination beside it under a temporary name, renamed into place
 * only when complete. */
#ifndef KPV_BITMAP_MDBITMAPCROP_H
#define KPV_BITMAP_MDBITMAPCROP_H

#include "AMCM.h"
#include "MStream.h"
#include "MTypes.h"
#include "MdBitmap.h"

#ifdef __cplusplus
extern "C" {
#endif

MResult MdBitmapJpgFileCrop(AMCMHandle hAMCM, MSTREAM source, MInt64 lViewWidth, MInt64 lViewHeight, MRECT* pRect,
                            MInt64 lOutType, MSTREAM destination);
MResult MdBitmapJpgFileCrop2(AMCMHandle hAMCM, const MChar* szSource, MInt64 lViewWidth, MInt64 lViewHeight,
                             MRECT* pRect, MInt64 lOutType, const MChar* szDestination);
MResult MdBitmapLoadFilewithCrop(AMCMHandle hAMCM, MSTREAM stream, MInt64 lViewWidth, MInt64 lViewHeight,
                                 MRECT* pRect, MBITMAP* pBitmap);
MResult MdBitmapLoadFilewithCrop2(AMCMHandle hAMCM, const MChar* szPath, MInt64 lViewWidth, MInt64 lViewHeight,
                                  MRECT* pRect, MBITMAP* pBitmap);
MResult MdBitmapLoadFilewithCropEx(AMCMHandle hAMCM, MSTREAM stream, MInt64 lViewWidth, MInt64 lViewHeight,
                                   MRECT* pRect, MBITMAP* pBitmap);

/* Maps a rectangle of a W x H view onto a DW x DH image, rounding to nearest (16.16 fixed
 * point): the origin and the size are mapped, and the result is clipped to the image. */
MResult s_MGetDecRect(const MRECT* pRect, MInt64 lWidth, MInt64 lHeight, MInt64 lDecWidth, MInt64 lDecHeight,
                      MRECT* pOut);

#ifdef __cplusplus
}
#endif

#endif
