/* Loading a JPEG into a bitmap a band of 16 lines at a time, so that a caller can spread a large
 * decode over many short calls, and the one-shot loads that use it for 16-bit 5-6-5 targets.
 *
 * Calling order: a start, then MdBitmapLoadDoStep as many times as the step count says, then
 * MdBitmapLoadEnd. A step that fails has already ended the loader: the caller must not use or
 * end it again. Ending early (after fewer steps) is how a caller cancels; it frees everything.
 *
 * The target must have its size, colour and planes. The loader may decode through an
 * intermediate bitmap that reaches the target only when the loader is ended:
 *  - MdBitmapLoadStart keeps the caller's bitmap untouched until the whole image was decoded (an
 *    early end leaves it as it was) and, with resize mode 2 and a much larger image, decodes at
 *    about half the way between the image's reduced size and the target's, then resamples;
 *  - the Ex entries write the target band by band. With the band flag, a JPEG whose rows are YUV
 *    and a 5-6-5 target, each band is decoded as YUV and converted to 5-6-5, optionally after
 *    shifting its chroma samples by tables indexed by the co-sited luma value (256 signed 64-bit
 *    entries each; the sum is clamped to 0..255).
 *
 * Scale: 1, 2, 4 or 8, the largest reduction the loader may consider. Resize mode: 0, 1 or 2
 * (2 bilinear). Non-JPEG images and a band flag together with halving give 3; other argument
 * faults 2; no memory 4; codec faults pass through. No Qt here. */
#ifndef KPV_BITMAP_MDBITMAPLOADSTEP_H
#define KPV_BITMAP_MDBITMAPLOADSTEP_H

#include "AMCM.h"
#include "MStream.h"
#include "MTypes.h"
#include "MdBitmap.h"

#ifdef __cplusplus
extern "C" {
#endif

typedef struct MdBitmapLoadRecord* MdBitmapLoadHandle;

#define MD_LOAD_BAND_LINES 16

/* plSteps (optional) receives the number of steps. */
MResult MdBitmapLoadStart(AMCMHandle hAMCM, MSTREAM stream, MInt64 lImgType, MBITMAP* pBitmap, MInt64 lScale,
                          MInt64 lResizeMode, MdBitmapLoadHandle* phLoader, MInt64* plSteps);
MResult MdBitmapLoadStartEx(AMCMHandle hAMCM, MSTREAM stream, MInt64 lImgType, MBITMAP* pBitmap, MInt64 lScale,
                            MInt64 lResizeMode, MdBitmapLoadHandle* phLoader, MInt64* plSteps, MInt64 bBand);
/* bYUVTypeReset: decode the YUV rows in the decoder's default standard and range. */
MResult MdBitmapLoadStartExWithYUVType(AMCMHandle hAMCM, MSTREAM stream, MInt64 lImgType, MBITMAP* pBitmap,
                                       MInt64 lScale, MInt64 lResizeMode, MdBitmapLoadHandle* phLoader,
                                       MInt64* plSteps, MInt64 bBand, MInt64 bYUVTypeReset);
/* pUTable, pVTable: 256 entries each, or null; copied. */
MResult MdBitmapLoadStartExWithUVOffsetTable(AMCMHandle hAMCM, MSTREAM stream, MInt64 lImgType, MBITMAP* pBitmap,
                                             MInt64 lScale, MInt64 lResizeMode, MdBitmapLoadHandle* phLoader,
                                             MInt64* plSteps, MInt64 bBand, const MInt64* pUTable,
                                             const MInt64* pVTable);
/* Decodes the next band. Once every line is done further steps do nothing and give 0. */
MResult MdBitmapLoadDoStep(MdBitmapLoadHandle hLoader);
/* Lines decoded so far and lines in all (either output optional). */
MResult MdBitmapLoadGetProgress(MdBitmapLoadHandle hLoader, MInt64* plDone, MInt64* plTotal);
/* Hands a complete intermediate over and frees everything; always 0. */
MResult MdBitmapLoadEnd(MdBitmapLoadHandle hLoader);

/* As MdBitmapLoad (sizes and planes taken as it does); with bStep, a JPEG and a 5-6-5 target
 * the image goes through the step loader with YUV bands. The stream position is kept. */
MResult MdBitmapLoadEx(AMCMHandle hAMCM, MSTREAM stream, MInt64 lImgType, MBITMAP* pBitmap, MInt64 bStep);
MResult MdBitmapLoadEx2(AMCMHandle hAMCM, const MChar* szPath, MInt64 lImgType, MBITMAP* pBitmap, MInt64 bStep);

#ifdef __cplusplus
}
#endif

#endif
