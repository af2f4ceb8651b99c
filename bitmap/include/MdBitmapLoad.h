/* Loading encoded images (BMP, JPEG, GIF, PNG, WBMP, TIFF, ICO) into bitmaps through the codec
 * framework, and the file facts asked on the way.
 *
 * A load takes the caller's MBITMAP with its colour ID (new numbering) set. A width or height of
 * 0 or less asks for the image's own size. Without planes (pPlane[0] null) the load allocates
 * them with MdBitmapAlloc and frees them again when it fails; planes the caller supplied are never
 * freed and may hold a partly decoded image after a failure. The stream is handed back at the
 * position where it was found.
 *
 * Results pass through a fixed list: 0, 2, 3, 4, 0x1005, 0x1006 and 0x1008 reach the caller,
 * any other code from below (no component, codec-specific codes) arrives as 2. The path variants
 * (suffix 2) open the file read-only; 0x1008 when it cannot be opened.
 *
 * An image of more than 2^28 pixels is refused with 3 when the load would take the image's own
 * size. No Qt here; one thread at a time per component manager. */
#ifndef KPV_BITMAP_MDBITMAPLOAD_H
#define KPV_BITMAP_MDBITMAPLOAD_H

#include "AMCM.h"
#include "MStream.h"
#include "MTypes.h"
#include "MdBitmap.h"
#include "MdImgInfo.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Largest image a load sizes a bitmap for on its own. */
#define MD_LOAD_MAX_PIXELS ((MInt64)1 << 28)

/* What MdGetImgFileInfo reports. dwKind: JPEG 4 baseline, 5 progressive, 1 other; GIF 1 no
 * decoder, 2 one frame, 3 more frames; 0 for the other types. */
typedef struct MImgFileInfo {
    MUInt64 dwImageType;
    MUInt64 dwKind;
    MInt64 lWidth;
    MInt64 lHeight;
    MUInt64 dwBitCount;
} MImgFileInfo;

/* 1 for BMP, JPEG, GIF, PNG, WBMP, TIFF and ICO; 0 for anything else. */
MInt64 MdUtils_bSupportedFileFormat(MInt64 lImgType);

/* Loads through a codec decoder; type 0 sniffs the stream. */
MResult MdBitmapLoad(AMCMHandle hAMCM, MSTREAM stream, MInt64 lImgType, MBITMAP* pBitmap);
/* As MdBitmapLoad, with the alpha value handed to the decoder for 32-bit targets with alpha.
 * GIF areas outside the frame are then left as they were instead of being filled with 0xFF. */
MResult MdBitmapLoadWithAlphaTrans(AMCMHandle hAMCM, MSTREAM stream, MInt64 lImgType, MBITMAP* pBitmap,
                                   MInt64 lAlpha);
/* As MdBitmapLoadWithAlphaTrans, the decoder calling fnProgress(percent, pUser) as it goes (the JPEG
 * decoder between bands of rows or rows of MCUs; the others not at all): a non-zero answer stops
 * the load, which then fails with 2 and leaves no picture in planes it allocated. */
MResult MdBitmapLoadWithProgress(AMCMHandle hAMCM, MSTREAM stream, MInt64 lImgType, MBITMAP* pBitmap, MInt64 lAlpha,
                                 MInt32 (*fnProgress)(MInt32, MVoid*), MVoid* pUser);
MResult MdBitmapLoad2(AMCMHandle hAMCM, const MChar* szPath, MInt64 lImgType, MBITMAP* pBitmap);
/* Only 0 and 255 are accepted as the alpha value here (2 otherwise). */
MResult MdBitmapLoad2WithAlphaTrans(AMCMHandle hAMCM, const MChar* szPath, MInt64 lImgType, MBITMAP* pBitmap,
                                    MInt64 lAlpha);

/* Loads through the image decoder wrapper (MIDec), which also takes SWF and SVG when a
 * component for them is registered. The stream position is not restored. */
MResult MdUtilsLoad(AMCMHandle hAMCM, MSTREAM stream, MInt64 lImgType, MBITMAP* pBitmap);
MResult MdUtilsLoad2(AMCMHandle hAMCM, const MChar* szPath, MInt64 lImgType, MBITMAP* pBitmap);

MResult MdGetImgFileInfo(AMCMHandle hAMCM, MSTREAM stream, MImgFileInfo* pInfo);
MResult MdGetImgFileFormat(AMCMHandle hAMCM, MSTREAM stream, ImgFormat* pType);
MResult MdUtilsImgGetFileInfo(AMCMHandle hAMCM, MSTREAM stream, ImgFormat* pType, MdImgSize* pSize,
                              MInt64* plKind, MInt64* plBits);
/* *pbTransparent = 1 when the image can hold transparent pixels (32 bits, a PNG with alpha or a
 * transparency chunk, a GIF whose first frame has a transparent index, any ICO). Unfiltered. */
MResult MdUtilsImgIsTransparent(AMCMHandle hAMCM, MSTREAM stream, MInt64* pbTransparent);

#ifdef __cplusplus
}
#endif

#endif
