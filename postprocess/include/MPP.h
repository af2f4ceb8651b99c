/* The post-processing engine: converts a rectangle of one bitmap into a rectangle of another in one
 * pass (pixel-format conversion, nearest or bilinear resampling, quarter turns, mirrors,
 * brightness, contrast, saturation, constant alpha).
 *
 * Describe both sides with a PPFormat and the job with a PPPara, make a handle once with MPPCreate,
 * run it any number of times with MPProcess and free it with MPPDestroy. Every pair of arguments
 * is given TARGET first, SOURCE second. Per-pixel work is 16.16 fixed point. */
#ifndef KPV_POSTPROCESS_MPP_H
#define KPV_POSTPROCESS_MPP_H

#include "MTypes.h"

#ifdef __cplusplus
extern "C" {
#endif

/* One side of a conversion. */
typedef struct PPFormat {
    MInt64 lColorID;          /* colour ID in the 32-bit numbering */
    MInt64 lWidth;            /* pixels; must be positive */
    MInt64 lHeight;           /* rows; must be positive */
    const MByte* pPalette;    /* 4-byte entries (B, G, R, unused); read only for palette IDs */
} PPFormat;

/* Resample modes (word 0). */
#define PP_RESAMPLE_NEAREST 1
#define PP_RESAMPLE_BILINEAR 2

/* Orientation flags (word 1). A quarter turn clockwise is 3, a half turn 6, three quarters 5. */
#define PP_ORIENT_SWAPXY 1
#define PP_ORIENT_MIRROR_LR 2
#define PP_ORIENT_MIRROR_TB 4

/* Block modes (word 3). */
#define PP_BLOCK_1X1 1
#define PP_BLOCK_2X2 2
#define PP_BLOCK_4X4 3
#define PP_BLOCK_4X4_PLANAR 4
#define PP_BLOCK_AUTO 256

/* Aspect modes (word 4). */
#define PP_ASPECT_FIT 1
#define PP_ASPECT_FILL 2

/* The job: 18 words; a caller zeroes it and sets what it needs. */
typedef struct PPPara {
    MInt64 lResampleMode;   /* 0: 2 bilinear, anything else nearest */
    MInt64 lOrientation;    /* 1: PP_ORIENT_* */
    MInt64 lBandMode;       /* 2: 4 = bands of 64 rows under a quarter turn, else 32 */
    MInt64 lBlockMode;      /* 3: PP_BLOCK_* */
    MInt64 lAspectMode;     /* 4: PP_ASPECT_* when the two steps differ */
    MInt64 lDither;         /* 5: error diffusion into 16-bit RGB targets */
    MInt64 lBrightness;     /* 6: -128..128 */
    MInt64 lContrast;       /* 7: -128..128 */
    MInt64 lSaturation;     /* 8: -128..128 */
    MInt64 lSrcOriginX;     /* 9, 10: source coordinates of the source image's pixel (0, 0) */
    MInt64 lSrcOriginY;
    MInt64 lDstOriginX;     /* 11, 12: target coordinates of the target image's pixel (0, 0) */
    MInt64 lDstOriginY;
    MInt64 lSrcLeft;        /* 13-16: source rectangle, right and bottom exclusive; all 0 = all */
    MInt64 lSrcTop;
    MInt64 lSrcRight;
    MInt64 lSrcBottom;
    MInt64 lAlpha;          /* 17: alpha byte written into 32-bit RGB targets from non-RGB sources */
} PPPara;

typedef struct PPHandleRecord* PPHandle;

MResult MPPCreate(PPFormat* pDstFormat, PPFormat* pSrcFormat, PPPara* pPara, PPHandle* phPP);
/* As MPPCreate, for a source whose image ends part-way through its last column or row (the
 * reduced decode of an image whose size is not a multiple of the reduction): the target maps onto
 * lExtentX / 65536 source columns and lExtentY / 65536 source rows instead of the whole source.
 * Each extent must lie above (size - 1) x 65536 and at most size x 65536; 0 means the whole side.
 * Fit and fill take whole sources only. */
MResult MPPCreateWithExtent(PPFormat* pDstFormat, PPFormat* pSrcFormat, PPPara* pPara, MInt64 lExtentX,
                            MInt64 lExtentY, PPHandle* phPP);
MResult MPPDestroy(PPHandle hPP);

/* Runs the handle. ppDstPlane/pDstPitch and ppSrcPlane/pSrcPitch are arrays of three (unused
 * planes null/0). The rectangle is in target coordinates; null means the whole target. */
MResult MPProcess(PPHandle hPP, MByte* const* ppDstPlane, const MRECT* pDstRect,
                  const MInt64* pDstPitch, const MByte* const* ppSrcPlane, const MInt64* pSrcPitch);
/* As MPProcess, with target plane pointers that point at the first pixel of pOrigin rather than
 * at the image's pixel (0, 0). */
MResult MPProcessEx(PPHandle hPP, MByte* const* ppDstPlane, const MRECT* pOrigin, const MRECT* pDstRect,
                    const MInt64* pDstPitch, const MByte* const* ppSrcPlane, const MInt64* pSrcPitch);
/* Given exactly one of the two rectangles (the other all zero), fills the other with the
 * rectangle that corresponds to it. */
MResult MPPAlign(PPHandle hPP, MRECT* pDstRect, MRECT* pSrcRect);

MResult PostProcessGetVersionInfo(MDWord* pMajor, MDWord* pMinor, MDWord* pBuild, MChar* szText,
                                  MInt64 size);

/* Rectangle helpers. */
MVoid RectCopy(MRECT* pTo, const MRECT* pFrom);
MVoid AdjustRect(MRECT* pRect, const MRECT* pBounds);
MVoid MSwapRect(MRECT* pRect);
MVoid FlipUpDownRect(const MRECT* pBounds, MRECT* pRect);
MVoid MFlipLeftRightRect(const MRECT* pBounds, MRECT* pRect);
MInt32 MGetMaskSize(MUInt32 mask);
MInt32 MGetMaskPos(MUInt32 mask);
MInt64 MUL16x32_8Bit(MInt32 a, MInt32 b);

#ifdef __cplusplus
}
#endif

#endif
