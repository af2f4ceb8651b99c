/* Colour IDs: the codec library's pixel-format codes in their two numberings.
 *
 * The new numbering is a structured 32-bit code (held in a 64-bit word) used by MBITMAP and the
 * post-processing engine:
 *   bits 31-28  class: 0x1 RGB, 0x3 RGB with alpha, 0x4 palette, 0x5 YUV, 0x6 grey,
 *               0x7 two-plane YUV with interleaved chroma
 *   bits 27-24  bits-per-pixel code for classes 1, 3, 4, 6 (1=1 2=2 3=4 4=8 5=16 6=24 7=32)
 *   bits 15-12  flags; 0x1000 is the RGB channel-order bit (set: R in the lowest bits), for YUV,
 *               grey and class 0x7 bits 12-13 select the YUV standard and range
 *   bits 11-0   RGB: three nibbles, channel widths minus one (R, G, B);
 *               YUV: layout code (bits 11-8), horizontal and vertical chroma subsampling minus one
 * The old numbering is a small integer 0x01..0x2B used by decoder components and line converters.
 * All functions here are pure: no state, no allocation. */
#ifndef KPV_CODEC_MDCOLORID_H
#define KPV_CODEC_MDCOLORID_H

#include "MTypes.h"

#ifdef __cplusplus
extern "C" {
#endif

/* New numbering: the IDs the library's bitmaps and the post-processing engine use. */
#define MCOLOR_RGB565           0x15000454u /* 16-bit, B in the low bits */
#define MCOLOR_BGR565           0x15001454u /* 16-bit, R in the low bits */
#define MCOLOR_RGB444           0x15000333u
#define MCOLOR_BGR444           0x15001333u
#define MCOLOR_RGB555           0x15000444u
#define MCOLOR_BGR555           0x15001444u
#define MCOLOR_RGB666           0x16000555u
#define MCOLOR_BGR666           0x16001555u
#define MCOLOR_RGB888           0x16000777u /* 24-bit, memory order B, G, R */
#define MCOLOR_BGR888           0x16001777u /* 24-bit, memory order R, G, B */
#define MCOLOR_XRGB8888         0x17000777u
#define MCOLOR_XBGR8888         0x17001777u /* 32-bit, memory order R, G, B, unused */
#define MCOLOR_ARGB8888         0x37000777u
#define MCOLOR_ABGR8888         0x37001777u /* 32-bit, memory order R, G, B, A: the app's bitmaps */
#define MCOLOR_ABGR8888_B       0x37004777u
#define MCOLOR_ABGR8888_C       0x37005777u
#define MCOLOR_PAL1             0x41000000u
#define MCOLOR_PAL2             0x42000000u
#define MCOLOR_PAL4             0x43000000u
#define MCOLOR_PAL8             0x44000000u
#define MCOLOR_GRAY1            0x61000000u
#define MCOLOR_GRAY2            0x62000000u
#define MCOLOR_GRAY4            0x63000000u
#define MCOLOR_GRAY8            0x64000000u
#define MCOLOR_GRAY8_FULL       0x64001000u
#define MCOLOR_GRAY16           0x65000000u
#define MCOLOR_YUYV             0x50000010u /* packed 4:2:2 Y U Y V */
#define MCOLOR_YVYU             0x50000210u
#define MCOLOR_UYVY             0x50000410u
#define MCOLOR_VYUY             0x50000610u
#define MCOLOR_YUV444P          0x50000800u
#define MCOLOR_YUV440P          0x50000801u
#define MCOLOR_YUV422P          0x50000810u
#define MCOLOR_YUV420P          0x50000811u /* planar 4:2:0, BT.601 video range */
#define MCOLOR_YUV420P_FULL     0x50001811u /* planar 4:2:0, BT.601 full range */
#define MCOLOR_YVU420P          0x50000A11u
#define MCOLOR_NV21             0x70000002u /* Y plane, chroma pairs V, U */
#define MCOLOR_NV12             0x70000003u /* Y plane, chroma pairs U, V */

/* YUV standard and range selector of YUV, grey and class-0x7 IDs. */
#define MCOLOR_YUV_STD_MASK     0x3000u
#define MCOLOR_YUV_601_VIDEO    0x0000u
#define MCOLOR_YUV_601_FULL     0x1000u
#define MCOLOR_YUV_709_VIDEO    0x2000u
#define MCOLOR_YUV_709_FULL     0x3000u

/* Old numbering (the values the decoder components and converters use). */
#define MOLDCOLOR_BGR888        0x01
#define MOLDCOLOR_RGB888        0x02
#define MOLDCOLOR_YUV420P       0x0F
#define MOLDCOLOR_PAL8          0x19
#define MOLDCOLOR_GRAY8         0x1D
#define MOLDCOLOR_ABGR8888      0x24
#define MOLDCOLOR_ARGB8888      0x25

/* Class nibble of a new ID, and the classes. */
#define MCOLOR_CLASS(id)        ((MUInt32)(((MUInt64)(id) >> 28) & 0xFu))
#define MCOLOR_CLASS_RGB        0x1u
#define MCOLOR_CLASS_RGBA       0x3u
#define MCOLOR_CLASS_PALETTE    0x4u
#define MCOLOR_CLASS_YUV        0x5u
#define MCOLOR_CLASS_GRAY       0x6u
#define MCOLOR_CLASS_YUV_SP     0x7u

/* One row of the pairing table: {old ID, new ID, secondary flag}. */
typedef struct MColorPair {
    MInt64 lOldID;
    MInt64 lNewID;
    MInt64 lSecondary;
} MColorPair;

#define MCOLOR_PAIR_COUNT 57
/* Row order matters: every search takes the first match. */
extern const MColorPair g_arrColorPair[MCOLOR_PAIR_COUNT];

/* Pixel description of an old ID: old ID, bits per pixel, three channel masks, two zero words. */
typedef struct MPixelDesc {
    MUInt64 dwColorID;
    MUInt64 dwBitsPerPixel;
    MUInt64 dwMask[3];
    MUInt64 dwReserved[2];
} MPixelDesc;

/* Old -> new: the first primary row with this old ID; the argument itself when there is none. */
MUInt64 MdUtilsOldColorID2New(MUInt64 dwOldID);
/* New -> old: the first row (secondary rows included) with this new ID; else the argument. */
MUInt64 MdUtilsNewColorID2Old(MUInt64 dwNewID);

/* Describes a new ID: chroma subsampling, bits per pixel (of the luma plane for planar layouts),
 * plane count and chroma step (chroma samples side by side in a chroma plane). Each output is
 * optional. 0, or 3 for an unknown ID with every output left untouched. */
MResult MdUtilsFormatColorIDEx(MUInt64 dwColorID, MUInt64* pHorSub, MUInt64* pVerSub,
                               MUInt64* pBitsPerPixel, MUInt64* pPlanes, MUInt64* pChromaStep);
MResult MdUtilsFormatColorID(MUInt64 dwColorID, MUInt64* pHorSub, MUInt64* pVerSub,
                             MUInt64* pBitsPerPixel, MUInt64* pPlanes);
/* Describes an old ID; returns its new ID (or the argument for values it does not pair). */
MUInt64 MdUtilsFormatOldColorID(MUInt64 dwOldID, MUInt64* pHorSub, MUInt64* pVerSub,
                                MUInt64* pBitsPerPixel, MUInt64* pPlanes);
/* Bits per pixel of an old ID; 0 for YUV IDs and anything unknown (every new ID among them). */
MUInt64 MdUtilsGetColorDepth(MUInt64 dwOldID);
/* 1 for single-plane old IDs, 3 for the planar YUV ones the line machinery handles, else 0. */
MUInt64 MUtilsGetColorSpacePanes(MUInt64 dwOldID);
/* Fills the pixel description of an old ID: 0; 2 for a null record; 3 for an unsupported ID. */
MResult MUtilsFormat2MPixel(MUInt64 dwOldID, MPixelDesc* pDesc);

#ifdef __cplusplus
}
#endif

#endif
