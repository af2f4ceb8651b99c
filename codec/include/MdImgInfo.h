/* Image type sniffing, header information without a decoder, file type by extension, a raw BMP
 * dump and the size-fitting arithmetic. */
#ifndef KPV_CODEC_MDIMGINFO_H
#define KPV_CODEC_MDIMGINFO_H

#include "AMCM.h"
#include "MStream.h"
#include "MTypes.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Image type codes, one bit per format. */
#define MD_IMG_NONE 0
#define MD_IMG_BMP 1
#define MD_IMG_JPEG 2
#define MD_IMG_GIF 4
#define MD_IMG_PNG 8
#define MD_IMG_WBMP 32
#define MD_IMG_SWF 128
#define MD_IMG_SVG 256
#define MD_IMG_TIFF 1024
#define MD_IMG_ICO 2048
#define MD_IMG_MBITMAP 4096
#define MD_IMG_BY_CODEC 0xFFFFFFFFu

/* Format detail (the fourth output of MdUtilsGetImgInfoEx). */
#define MD_DETAIL_NONE 0
#define MD_DETAIL_CODEC 1
#define MD_DETAIL_GIF_STILL 2
#define MD_DETAIL_GIF_ANIMATED 3
#define MD_DETAIL_JPEG_BASELINE 4
#define MD_DETAIL_JPEG_PROGRESSIVE 5

typedef MDWord ImgFormat;

/* Image size {width, height}. */
typedef struct MdImgSize {
    MInt64 lWidth;
    MInt64 lHeight;
} MdImgSize;

/* Sniffs the type from up to 10 bytes at the current position (missing bytes count as 0);
 * does not restore the position. 0, 3 unknown, 0x1006 short read. */
MResult _GetImgFormat(MSTREAM stream, ImgFormat* pFormat);

MResult MdUtilsGetImgInfo(MSTREAM stream, ImgFormat* pType, MdImgSize* pSize, MInt64* plBits);
MResult MdUtilsGetImgInfoEx(MSTREAM stream, ImgFormat* pType, MdImgSize* pSize, MInt64* plDetail,
                            MInt64* plBits);
/* As MdUtilsGetImgInfoEx for the JPEG's EXIF thumbnail; 2 when there is none. */
MResult MdUtilsGetThumbImgInfoEx(MSTREAM stream, ImgFormat* pType, MdImgSize* pSize, MInt64* plDetail,
                                 MInt64* plBits);
/* Adds the WBMP name check, the GIF animation test and, with a component manager, a fall-back
 * that asks the registered decoder components (0x80000 when the codec framework is not linked
 * in or no component takes the stream). */
MResult MImgGetFileInfo(AMCMHandle hAMCM, MSTREAM stream, ImgFormat* pType, MdImgSize* pSize,
                        MInt64* plDetail, MInt64* plBits);
MResult MImgGetFileInfoWithFileName(AMCMHandle hAMCM, MSTREAM stream, const MChar* szFileName,
                                    ImgFormat* pType, MdImgSize* pSize, MInt64* plDetail, MInt64* plBits);

/* 1 and the stream on the EXIF thumbnail's first byte; 0 when there is none; 0x1005 when the
 * first seek fails. */
MResult GotoThumbnailPos(MSTREAM stream);
/* *pbAnimated = 1 when the GIF holds two images or more. */
MResult SGetGifFileAttr(MSTREAM stream, MInt64* pbAnimated);

MResult _GetInfoFromBmpStream(MSTREAM stream, MInt64* plWidth, MInt64* plHeight, MInt64* plBits);
MResult _GetInfoFromGifStream(MSTREAM stream, MInt64* plWidth, MInt64* plHeight, MInt64* plBits);
MResult _GetInfoFromPngStream(MSTREAM stream, MInt64* plWidth, MInt64* plHeight, MInt64* plBits);
MResult _GetInfoFromJpegStream(MSTREAM stream, MInt64* plWidth, MInt64* plHeight, MInt64* plBits,
                               MInt64* plDetail);
MResult _GetInfoFromWbmpStream(MSTREAM stream, MInt64* plWidth, MInt64* plHeight, MInt64* plBits);
MResult _GetInfoFromIcoStream(MSTREAM stream, MInt64* plWidth, MInt64* plHeight, MInt64* plBits);
MResult _GetInfoFromTifStream(MSTREAM stream, MInt64* plWidth, MInt64* plHeight, MInt64* plBits);

/* Image type of a file name's extension; 0 when none matches. */
ImgFormat MdUtilsGetFileType(const MChar* szFileName);

/* Writes padded rows (file order) as a BMP. 1 on success; 0 when the file cannot be created or
 * any write or the close fails (the partial file is then removed). The file is written beside
 * the target under a temporary name and renamed over it only when complete. */
MInt64 MdUtilsSaveAsBmp(const MChar* szFileName, const MByte* pData, MInt64 lWidth, MInt64 lHeight,
                        MInt64 lBitCount);

/* Fit an image size into a box (fit-in) or over it (fit-out); never enlarges. 2 for a box or
 * image side below 1 or a ratio that would divide by zero. */
MResult MdUtilsCalcFitinSize(MInt64 lBoxWidth, MInt64 lBoxHeight, MInt64* plWidth, MInt64* plHeight,
                             double* pdScale);
MResult MdUtilsCalcFitoutSize(MInt64 lBoxWidth, MInt64 lBoxHeight, MInt64* plWidth, MInt64* plHeight,
                              double* pdScale);
MResult MdUtilsCalcZoomSize(MInt64* plWidth, MInt64* plHeight, double dZoom);
MResult MdUtilsCalcZoomRegion(MInt64 rect[4], double dZoom);

#ifdef __cplusplus
}
#endif

#endif
