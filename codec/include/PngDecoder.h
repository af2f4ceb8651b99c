/* PNG decoding glue over libpng: reads a PNG from a codec stream and hands out its rows one at a
 * time, optionally shrunk by nearest-neighbour sampling.
 *
 * Rows delivered by PNG_DecodeScanLines:
 *  - 16-bit channels are reduced to 8 bits; palette and grey images keep their packed 1-, 2-, 4-
 *    or 8-bit pixels (first pixel in the high bits); colour comes blue-green-red (red-green-blue
 *    after PNG_DecodeSetRGBInvert), alpha last.
 *  - A tRNS chunk on a grey or truecolour image becomes an alpha channel: grey rows then come as
 *    8-bit grey plus alpha (16 bits a pixel), truecolour rows as 32-bit pixels. Palette images
 *    keep their indexes and carry the tRNS values in the palette's alpha bytes.
 *  - Interlaced images are put together inside the glue and delivered once, top row first, like
 *    plain ones; PNGInfo reports them as interlaced with one delivery pass. The first-row index
 *    counts the rows of that pass.
 *  - Every byte of the caller's row up to the row's width is written on each call.
 *  - After the first libpng failure the handle stays failed: every later call returns 1.
 *  - Limits: 2^28 pixels for an interlaced image (held whole while it is put together).
 */
#ifndef KPV_CODEC_PNGDECODER_H
#define KPV_CODEC_PNGDECODER_H

#include "MStream.h"
#include "MTypes.h"

#ifdef __cplusplus
extern "C" {
#endif

typedef struct PNGInfoHeader {
    MUInt64 dwSize; /* 80 */
    MInt64 lWidth;
    MInt64 lHeight;
    MWord wPlanes;
    MWord wBitCount;
    MDWord dwReserved;
    MUInt64 dwCompression;
    MUInt64 dwSizeImage;
    MInt64 lXResolution;
    MInt64 lYResolution;
    MUInt64 dwClrUsed;
    MUInt64 dwClrImportant;
} PNGInfoHeader;

typedef struct PNGInfo {
    MInt64 lInterlaced;
    MInt64 lPasses;
    MInt64 lOutHeight;
    MInt64 lOutWidth;
    MInt64 lPixelDepth;
    MInt64 lBitDepth;
    MInt64 lPaletteEntries;
    MInt64 lRowBytes;
    MInt64 lXResolution;
    MInt64 lYResolution;
    MInt64 lPaletteTransparency;
} PNGInfo;

typedef struct PNGDecodeHandle* PNGHandle;

/* Width, height and bits per pixel of the rows the glue delivers (a tRNS chunk on a grey or
 * truecolour image counts its alpha channel); no libpng involved. The stream is left at 0. */
MResult PNG_GetInfoFromFile(MSTREAM stream, MInt64* plWidth, MInt64* plHeight, MInt64* plBits);
MResult PNG_DecodeInit(MSTREAM stream, PNGHandle* phDecoder);
MResult PNG_DecodeSetRGBInvert(PNGHandle hDecoder);
MResult PNG_DecodeSetDimension(PNGHandle hDecoder, MInt64* plWidth, MInt64* plHeight);
MResult PNG_DecodeGetInfoHeader(PNGHandle hDecoder, PNGInfoHeader* pHeader);
MResult PNG_DecodeGetPngInfo(PNGHandle hDecoder, PNGInfo* pInfo);
MResult PNG_DecodeGetColorTab(PNGHandle hDecoder, MByte* pTable, MInt64* plSize);
MResult PNG_DecodeScanLines(PNGHandle hDecoder, MByte* pRow, MInt64 lRows, MInt64* plFirstRow,
                            MInt64* plRowsDelivered);
MResult PNG_DecodeUninit(PNGHandle hDecoder);

#ifdef __cplusplus
}
#endif

#endif
