/* Animated GIF: frame-by-frame decoding onto a caller's canvas, and frame-by-frame encoding
 * through an encoder component with an optional forwards-and-backwards (ping-pong) tail.
 *
 * Decoding goes through the image decoder wrapper (MIDec.h); encoding through the image encoder
 * wrapper and therefore needs a GIF encoder component (type class 0x2000000, GIF subtype)
 * registered on the component manager. The library itself ships none. */
#ifndef KPV_BITMAP_MDAGIF_H
#define KPV_BITMAP_MDAGIF_H

#include "AMCM.h"
#include "AMQuant.h"
#include "MStream.h"
#include "MTypes.h"
#include "MdBitmap.h"

#ifdef __cplusplus
extern "C" {
#endif

/* ---- Decoding ---- */

typedef struct AGIFDecodeRecord* AGIFDecodeHandle;

/* Opens an animated GIF on the stream. pSize (width, height) is optional: when given, the frames
 * are delivered reduced to fit it and the size actually delivered is written back. The canvas
 * colour ID is the single-plane format (8 bits a channel or 16-bit 5-6-5) of the canvases later
 * handed to MdUtilsAGIFDecode_DecodeFrame. 0; 2 null manager, stream or out handle; 3 an
 * unsupported canvas colour; 4 no memory; or the image decoder's result. *phDecode is null on
 * failure. */
MResult MdUtilsAGIFDecode_Create(AMCMHandle hAMCM, MSTREAM stream, MUInt64 dwCanvasColor, MInt64* pSize,
                                 MInt64* plFrameCount, AGIFDecodeHandle* phDecode);
/* Disposes of the previous frame as it asked and draws the next frame onto the canvas. The canvas
 * must keep the colour, size and pitch of the first call (2 otherwise), so that after every call
 * it shows the animation at that frame. A frame past the last one fails with the decoder's
 * result and leaves the canvas as the last good frame left it. */
MResult MdUtilsAGIFDecode_DecodeFrame(AGIFDecodeHandle hDecode, MBITMAP* pCanvas);
MResult MdUtilsAGIFDecode_Destroy(AGIFDecodeHandle hDecode);

/* ---- Encoding ---- */

typedef struct AGIFEncodeRecord* AGIFEncodeHandle;
/* A quantiser handle and the 256-entry palette (4 bytes an entry) it built. */
typedef struct AGIFPaletteRecord {
    AMQuantHandle hQuant;
    MByte palette[1024];
} AGIFPaletteRecord;
typedef AGIFPaletteRecord* AGIFPalette;

#define AGIF_MAX_FRAMES 200

/* Encoder properties the animated encoder sets (sizes in bytes). */
#define AGIF_ENC_PROP_IN_COLOR 3       /* 8: input colour ID */
#define AGIF_ENC_PROP_LOOP 0x1304      /* 8: loop count, -1 for ever */
#define AGIF_ENC_PROP_HEADER 0x1306    /* 8: header value, 2 */
#define AGIF_ENC_PROP_PALETTE 0x2001   /* size argument 256: 256 entries of 4 bytes */
#define AGIF_ENC_PROP_FRAME 0x2302     /* 56: GIFFrameInfo of the next frame */
#define AGIF_ENC_PROP_USEPALETTE 0x2307
#define AGIF_ENC_PROP_ALGORITHM 0x2308
#define AGIF_ENC_PROP_INDEXES 0x2309   /* size argument = rows: index rows of the frame */
#define AGIF_ENC_PROP_DELAY 0x4001     /* 8: hundredths of a second */

MResult MdUtilsAGIFEncode_Create(AMCMHandle hAMCM, MSTREAM stream, MInt64 lWidth, MInt64 lHeight,
                                 AGIFEncodeHandle* phEncode);
MResult MdUtilsAGIFEncode_Destroy(AGIFEncodeHandle hEncode);
MResult MdUtilsAGIFEncode_SetDurationTime(AGIFEncodeHandle hEncode, MInt64 lMilliseconds);
MResult MdUtilsAGIFEncode_SetLoopNum(AGIFEncodeHandle hEncode, MInt64 lLoop);
MResult MdUtilsAGIFEncode_UsePalette(AGIFEncodeHandle hEncode, MInt64 lValue);
MResult MdUtilsAGIFEncode_SetAlgorithmType(AGIFEncodeHandle hEncode, MInt64 lType);
/* A 24-bit (blue, green, red) frame at (left, top), handed to the encoder as lines. */
MResult MdUtilsAGIFEncode_AddFrame(AGIFEncodeHandle hEncode, MBITMAP* pBitmap, MInt64 lLeft, MInt64 lTop);
/* Builds a 256-colour palette for a 24-bit bitmap: type 0 median cut, 1 network. */
MResult MdUtilsAGIFEncode_CreatePalette(MBITMAP* pBitmap, AGIFPalette* phPalette, MInt64 lType);
/* Maps the bitmap onto the palette with error diffusion (the bitmap's pixels are changed). */
MResult MdUtilsAGIFEncode_GetFrameDataByPalette(AGIFPalette hPalette, MBITMAP* pBitmap, MByte* pIndex,
                                                MInt64 lIndexPitch);
/* A frame of palette indexes, width x height at (left, top). The index rows are handed to the
 * encoder packed at the width padded to 4 bytes. */
MResult MdUtilsAGIFEncode_AddFrameWithData(AGIFEncodeHandle hEncode, AGIFPalette hPalette, MByte* pIndex,
                                           MInt64 lIndexPitch, MInt64 lWidth, MInt64 lHeight, MInt64 lLeft,
                                           MInt64 lTop);
MResult MdUtilsAGIFEncode_DestoryPalette(AGIFPalette hPalette);
/* Appends up to three earlier frames in reverse order; MERR_AGIF_NO_MORE when nothing is left. */
MResult MdUtilsAGIFEncode_LoopDataDostep(AGIFEncodeHandle hEncode, MInt64* plRemaining);

#ifdef __cplusplus
}
#endif

#endif
