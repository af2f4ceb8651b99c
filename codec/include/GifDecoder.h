/* GIF decoder (GIF87a and GIF89a): LZW with codes up to 12 bits, any number of frames reached in
 * any order, interlaced frames, local colour tables, graphic control and loop extensions.
 *
 * Choices where the format leaves the caller's view open:
 *  - Frames are selected with GIF_DecodeGetFrameInfo; GIF_DecodeScanLines then delivers the rows
 *    of that frame, one byte (palette index) per pixel, at the frame's size in output
 *    coordinates (GIFFrameInfo width and height), not the whole logical screen.
 *  - Rows always come top row first, interlaced frames included (they are put in order inside
 *    the decoder); the first-row index reported is the row's index inside the frame. Rows of one
 *    call follow each other at a pitch of the frame's width padded to a multiple of 4 bytes.
 *  - A frame that reaches outside the logical screen is clipped to it. A frame wholly outside
 *    reports a 1 x 1 frame at (0, 0) whose one pixel is its own transparent index, so it draws
 *    nothing.
 *  - GIF_DecodeSetDimension only shrinks; output pixel (x, y) of the screen takes the source
 *    pixel (x / scale, y / scale), truncated, so frames line up with each other when scaled.
 *  - Damaged data: a frame whose LZW data ends early or holds an invalid code keeps the pixels
 *    decoded up to that point; the rest are its transparent index (index 0 without
 *    transparency). Frames are found by walking the file once; a block that cannot be read ends
 *    the walk, so later frames report 1 (no such frame) while every earlier frame stays
 *    decodable.
 *  - Limits: a frame's visible area is at most 2^28 pixels (3 beyond).
 */
#ifndef KPV_CODEC_GIFDECODER_H
#define KPV_CODEC_GIFDECODER_H

#include "MStream.h"
#include "MTypes.h"

#ifdef __cplusplus
extern "C" {
#endif

/* One frame's facts (56 bytes); the caller zeroes it before it is filled. */
typedef struct GIFFrameInfo {
    MWord wLeft;
    MWord wTop;
    MWord wWidth;
    MWord wHeight;
    MWord wColorBits;     /* (packed field AND 7) + 1 of the frame's colour table */
    MWord wDelay;         /* hundredths of a second */
    MDWord dwReserved;
    MUInt64 dwDisposal;   /* 0 to 7 */
    MUInt64 dwLocalTable; /* 0 or 0x80 */
    MUInt64 dwInterlace;  /* 0 or 0x40 */
    MUInt64 dwTransparent;/* 0 or 1 */
    MByte byTransIndex;
    MByte reserved[7];
} GIFFrameInfo;

/* The logical screen (40 bytes). */
typedef struct GIFGlobalInfo {
    MWord wWidth;
    MWord wHeight;
    MWord wColorResolution; /* ((packed >> 4) AND 7) + 1 */
    MWord wGlobalBits;      /* (packed AND 7) + 1 */
    MUInt64 dwGlobalTable;  /* non-zero when the file has a global colour table */
    MUInt64 dwBackground;   /* background colour index */
    MUInt64 dwAspect;       /* pixel aspect ratio byte */
    MUInt64 dwSorted;       /* the global table's sort flag */
} GIFGlobalInfo;

typedef struct GIFDecoder* GIFHandle;

MResult GIF_GetInfoFromFile(MSTREAM stream, MInt64* plWidth, MInt64* plHeight, MInt64* plBits);
/* info[0] = 0; info[1] = 1 and info[2] = loop count when a "NETSCAPE2.0" extension comes before
 * the first image. Reads from the stream's current position. */
MResult GIF_GetGifInfo(MSTREAM stream, MUInt64 info[3]);
/* Counts the image descriptors from the current position (a "GIF8" header there is skipped);
 * the position is restored. */
MResult GIF_GetFrameCount(MSTREAM stream, MInt64* plCount);

MResult GIF_DecodeInit(MSTREAM stream, GIFHandle* phDecoder);
MResult GIF_DecodeUninit(GIFHandle hDecoder);
MResult GIF_DecodeGetGlobInfo(GIFHandle hDecoder, GIFGlobalInfo* pInfo);
MResult GIF_DecodeGetFrameInfo(GIFHandle hDecoder, GIFFrameInfo* pInfo, MInt64 lFrame);
/* Palette of the current frame (its local table, else the global one) as blue, green, red, 0. */
MResult GIF_DecodeGetColorTab(GIFHandle hDecoder, MByte* pTable, MInt64* plSize);
MResult GIF_DecodeSetDimension(GIFHandle hDecoder, MInt64* plWidth, MInt64* plHeight);
MResult GIF_DecodeScanLines(GIFHandle hDecoder, MByte* pBuffer, MInt64 lRows, MInt64* plFirstRow,
                            MInt64* plRowsDelivered);

#ifdef __cplusplus
}
#endif

#endif
