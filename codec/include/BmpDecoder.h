/* BMP decoder: Windows (40-, 52-, 56-, 108- and 124-byte) and OS/2 (12-byte) headers; 1, 2, 4, 8,
 * 16, 24 and 32 bits per pixel, bit-field masks, RLE8 and RLE4.
 *
 * Row delivery (BMP_DecodeScanLines):
 *  - Rows come in the file's own pixel format: palette indexes packed as in the file (RLE8 gives
 *    8-bit indexes, RLE4 4-bit indexes, first pixel in the high bits), 16- and 32-bit words as
 *    stored (read them with BMP_DecodeGetMask for bit-field files), 24-bit blue-green-red.
 *  - Each delivered row takes ((output width x bits + 31) / 32) x 4 bytes of the caller's
 *    buffer (12 bits count as 16); unused tail bits of a row are zero.
 *  - Row order: top of the picture first, whatever order the file stores its rows in. After
 *    BMP_DecodeSetInvertion with a non-zero flag the bottom row comes first. The first-row index
 *    reported counts delivered rows (0 for the first row of the order in force).
 *  - BMP_DecodeSetDimension only shrinks: scale = min(1, width / image width, height / image
 *    height); the delivered size is image size x scale rounded, at least 1; each output pixel
 *    takes the nearest source pixel at (x / scale, y / scale), truncated. It must come before the
 *    first row (5 afterwards).
 *  - A file cut short (its stored rows, or its RLE stream before its end-of-bitmap code and
 *    before its last row) shows what it holds: every row then comes as 32-bit blue, green, red,
 *    alpha (the palette is empty, the info header gives 32 bits), the pixels whose bytes are
 *    present (whole stored rows, the pixels of whole RLE codes) in their colour with alpha 255
 *    (or a bit-field file's alpha), the others all zero. A file that holds none of its pixels, or
 *    a 12-bit file cut short, fails with 0x1006 at init; one that holds fewer than a sixty-fourth
 *    of its stored rows fails with 3, so that a few bytes cannot declare a large picture.
 *    Pixels that an RLE stream skips (delta and end-of-line codes) are index 0.
 *  - Limits: width and height at most 2^28 pixels together; other sizes give 3.
 */
#ifndef KPV_CODEC_BMPDECODER_H
#define KPV_CODEC_BMPDECODER_H

#include "MStream.h"
#include "MTypes.h"

#ifdef __cplusplus
extern "C" {
#endif

/* The BMP information header as handed out (80 bytes). Width and height are the output size. */
typedef struct BMPInfoHeader {
    MUInt64 dwSize;
    MInt64 lWidth;
    MInt64 lHeight;
    MWord wPlanes;
    MWord wBitCount;
    MDWord dwReserved;
    MUInt64 dwCompression;
    MUInt64 dwSizeImage;
    MInt64 lXPelsPerMeter;
    MInt64 lYPelsPerMeter;
    MUInt64 dwClrUsed;
    MUInt64 dwClrImportant;
} BMPInfoHeader;

typedef struct BMPDecoder* BMPHandle;

/* Width, height (made positive) and bits per pixel from the header after the 14-byte file
 * header at position 0; each output optional. 2 when the header size cannot be read, 0x1005
 * seek failure, 0x1006 short header, 2 for a height of -2^31. */
MResult BMP_GetInfoFromFile(MSTREAM stream, MInt64* plWidth, MInt64* plHeight, MInt64* plBitCount);

/* Opens a decoder on the BMP that starts at the stream's current position. On failure the handle
 * stays null. */
MResult BMP_DecodeInit(MSTREAM stream, BMPHandle* phDecoder);
MResult BMP_DecodeUninit(BMPHandle hDecoder);
MResult BMP_DecodeGetInfoHeader(BMPHandle hDecoder, BMPInfoHeader* pHeader);
/* Palette size in bytes (2^bits entries of 4 bytes for 1 to 8 bits, at most 256 entries, 0 for
 * direct colour); entries are blue, green, red, 0, entries past the file's table zero. */
MResult BMP_DecodeGetColorTab(BMPHandle hDecoder, MByte* pTable, MInt64* plSize);
/* 0 for a Windows information header, 1 for an OS/2 core header. */
MResult BMP_DecodeGetBmpType(BMPHandle hDecoder, MInt64* plType);
/* Red, green and blue masks of a bit-field file; 5 for any other compression. */
MResult BMP_DecodeGetMask(BMPHandle hDecoder, MUInt64 masks[3]);
/* Alpha mask of a bit-field file whose header holds one (56 bytes and longer), else 0; 5 for any
 * other compression. */
MResult BMP_DecodeGetAlphaMask(BMPHandle hDecoder, MUInt64* mask);
MResult BMP_DecodeSetInvertion(BMPHandle hDecoder, MInt64 flag);
MResult BMP_DecodeSetDimension(BMPHandle hDecoder, MInt64* plWidth, MInt64* plHeight);
/* 1 when the file is cut short, and its rows come as 32-bit blue, green, red, alpha. */
MResult BMP_DecodeIsCutShort(BMPHandle hDecoder, MInt64* pbCutShort);
MResult BMP_DecodeScanLines(BMPHandle hDecoder, MByte* pBuffer, MInt64 lRows, MInt64* plFirstRow,
                            MInt64* plRowsDelivered);

#ifdef __cplusplus
}
#endif

#endif
