/* Saving bitmaps and re-encoding JPEG files through encoder components.
 *
 * The library ships no encoder component: a caller registers one with the component manager
 * under type class 0x2000000 (AMCM.h) for the image type it wants to write. The component is
 * created with the record {stream, width, height, old colour ID, 1000, 1000} (MCodecEncParam),
 * gets its quality through property 0x2101 (JPEG, 3..100), 0x2203 = 1 for BMP and its input
 * colour through 0x2002, and must take no more lines than its height.
 *
 * Re-encoding (MdFileResize) decodes a JPEG at a new size and encodes it again at quality 90,
 * or, under a byte budget, at the highest quality from 90 down to 40 whose file fits; a big
 * image (more than 204800 bytes of pixels) is estimated on a half-size trial and then streamed
 * through 16-line bands. A budget that no quality meets gives 2 and writes nothing.
 *
 * Results pass through a fixed list: saves let 0, 2, 3, 4, 0x1004 and 0x1007 through, the
 * re-encode 0, 2, 3, 4, 0x1001, 0x1005 to 0x1008; anything else arrives as 2. Path variants
 * write beside the target under a temporary name and rename it into place when complete
 * (0x1007 when that cannot be made). */
#ifndef KPV_BITMAP_MDBITMAPSAVE_H
#define KPV_BITMAP_MDBITMAPSAVE_H

#include "AMCM.h"
#include "MStream.h"
#include "MTypes.h"
#include "MdBitmap.h"

#ifdef __cplusplus
extern "C" {
#endif

#define MD_SAVE_DEFAULT_QUALITY 90

/* Quality 90, the bitmap's own colour as the file's colour. */
MResult MdBitmapSave(AMCMHandle hAMCM, MSTREAM stream, MInt64 lImgType, const MBITMAP* pBitmap);
MResult MdBitmapSave2(AMCMHandle hAMCM, const MChar* szPath, MInt64 lImgType, const MBITMAP* pBitmap);
/* GIF and WBMP give 3; a JPEG quality outside 0..100 gives 2, 0 to 2 count as 3. dwFileColor is
 * a new colour ID. */
MResult MdBitmapSaveEx(AMCMHandle hAMCM, MSTREAM stream, MInt64 lImgType, const MBITMAP* pBitmap, MInt64 lQuality,
                       MUInt64 dwFileColor);
MResult MdBitmapSaveEx2(AMCMHandle hAMCM, const MChar* szPath, MInt64 lImgType, const MBITMAP* pBitmap,
                        MInt64 lQuality, MUInt64 dwFileColor);

/* Re-encodes a JPEG at width x height; lBudget > 0 is the largest file in bytes. */
MResult MdFileResize(AMCMHandle hAMCM, const MChar* szSource, MInt64 lWidth, MInt64 lHeight, MInt64 lBudget,
                     const MChar* szDestination);
MResult MdFileResizeStream(AMCMHandle hAMCM, MSTREAM source, MInt64 lWidth, MInt64 lHeight, MInt64 lBudget,
                           MSTREAM destination);

/* 1 when (bits >> 3) x width x height exceeds 204800 bytes. */
MInt64 s_IsBigFile(MInt64 lWidth, MInt64 lHeight, MInt64 lBits);
/* 1 for a quality above 39 (tested unsigned). */
MInt64 s_IsVaildQuality(MInt64 lQuality);

#ifdef __cplusplus
}
#endif

#endif
