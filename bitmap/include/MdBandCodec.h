/* Band-by-band JPEG decoding into, and encoding from, caller bitmaps.
 *
 * A band decoder reads the image from the top down in bands of the caller's bitmap height, at a
 * chosen output size, into bitmaps of one colour and width; it gives the stream back at the
 * position where it found it when destroyed. A band encoder writes a JPEG at quality 85 through
 * the registered encoder component, taking bands of a multiple of 16 lines and any line count for
 * the last band. Colours are new colour IDs. Argument faults give 2 (a short band in the middle of
 * an encode 3); results pass through the load and save lists. No Qt here. */
#ifndef KPV_BITMAP_MDBANDCODEC_H
#define KPV_BITMAP_MDBANDCODEC_H

#include "AMCM.h"
#include "MStream.h"
#include "MTypes.h"
#include "MdBitmap.h"

#ifdef __cplusplus
extern "C" {
#endif

typedef struct MdDecoderRecord* MdDecoderHandle;
typedef struct MdEncoderRecord* MdEncoderHandle;

/* pSize {width, height} or null for the image's own size. Type 0 is sniffed; JPEG only. */
MResult MdDecoder_Create(AMCMHandle hAMCM, MSTREAM stream, MInt64 lImgType, const MInt64* pSize, MUInt64 dwColor,
                         MdDecoderHandle* phDecoder);
/* Decodes the next bitmap-height lines (fewer at the bottom); 2 once every line was read. */
MResult MdDecoder_Scanlines(MdDecoderHandle hDecoder, MBITMAP* pBitmap);
MResult MdDecoder_Destroy(MdDecoderHandle hDecoder);

/* pSize {width, height}; JPEG only (3 otherwise). */
MResult MdEncoder_Create(AMCMHandle hAMCM, MSTREAM stream, MInt64 lImgType, const MInt64* pSize, MUInt64 dwColor,
                         MdEncoderHandle* phEncoder);
MResult MdEncoder_Scanlines(MdEncoderHandle hEncoder, const MBITMAP* pBitmap);
MResult MdEncoder_Destroy(MdEncoderHandle hEncoder);

#ifdef __cplusplus
}
#endif

#endif
