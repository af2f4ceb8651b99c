// The fast-kernel seam. The dispatcher offers every band first to the fast RGB selector, then to
// the fast YUV selector, and only then to the general kernel. A selector returns 0 after doing the
// band and 3 when it does not cover the case (touching nothing). The selectors below pick their
// kernels from this table; an empty entry counts as "not covered".
//
// What a kernel receives: the band in oriented coordinates (u along the source's rows, v down its
// columns, both relative to the engine's target area); both plane sets bound at the image origin
// (target pixel (0, 0), source coordinate (0, 0)); the engine, whose context holds the sampling
// position of every oriented column and row (colIndex/colFrac, rowIndex/rowFrac, clamped into the
// source rectangle) and the colour tables. The target pixel of (u, v) follows from the engine's
// target area and orientation flags exactly as in ANY_ANY_C_SLOW, whose output a kernel must
// reproduce.
#ifndef KPV_POSTPROCESS_PPKERNELS_H
#define KPV_POSTPROCESS_PPKERNELS_H

#include "PPInternal.h"

using PPKernel = MResult (*)(const PPBand* band, const PPPlaneSet* dst, const PPPlaneSet* src,
                             const PPEngine* engine);

// Named kernel slots of the fast selectors, in the selectors' order of preference.
enum PPFastKernelID {
    // YUV planar to 24-bit RGB
    PPK_YUV2RGBFast_NORESAMPLE_B8G8R8,
    PPK_YUV2RGBFast_B8G8R8_Nearest,
    PPK_YUV2RGBFast_B8G8R8,
    PPK_YUV2RGBFast_NORESAMPLE,
    PPK_YUV2RGBFast_R8G8B8_Nearest,
    PPK_YUV2RGBFast,
    // 24-bit RGB to 24-bit RGB
    PPK_RGB2RGBFast_NORESAMPLE,
    PPK_RGB2RGBFast_RGB888_N_RESIZE_2x2,
    PPK_RGB2RGBFast,
    PPK_RGB2RGBFast_RGB888_N_RESIZE_4x4_R0,
    PPK_RGB2RGBFast_RGB888_N_RESIZE_4x4_R270,
    PPK_RGB2RGBFast_RGB888_N_RESIZE_4x4_VERTICAL,
    PPK_RGB2RGBFast_RGB888_N_RESIZE_4x4_SwapXY,
    PPK_RGB2RGBFast_RGB888_N_RESIZE_4x4,
    PPK_RGB2RGBFast_RGB888_N_RESIZE,
    PPK_BGR2RGBFast_RGB888_N_RESIZE_4x4,
    // 24-bit RGB to planar YUV
    PPK_RGB2YUVFast_NORESAMPLE_NOROTATE_R8G8B8_4x4,
    PPK_RGB2YUVFast_NORESAMPLE_NOROTATE_R8G8B8_2x2,
    PPK_RGB2YUVFast_NORESAMPLE,
    PPK_RGB2YUVFast,
    // YUV to YUV: planar copies and chroma resampling by sampling factors
    PPK_I422_TO_I420_NORESAMPLE_4x4,
    PPK_YUV_TO_YUV_NORESAMPLE_NO_4x4,
    PPK_YUV_TO_YUV_NORESAMPLE_NO_1x1,
    // semi-planar 4:2:0 into planar 4:2:0
    PPK_NV21toI420Fast_NORESAMPLE_R0_4x4,
    PPK_NV21VtoI420Fast_NORESAMPLE_R270_4x4,
    PPK_NV21VtoI420Fast_NORESAMPLE_R270_2x2,
    PPK_NV21toI420Fast_Nearest_RESAMPLE_R0_4x4,
    PPK_NV21toI420Fast_Nearest_RESAMPLE_R0_1x1,
    // packed and semi-planar 4:2:2 into planar 4:2:0
    PPK_YUYVtoI420Fast_NORESAMPLE_R0_4x4,
    PPK_YUV422toI420Fast_NORESAMPLE_R0_4x4,
    // semi-planar 4:2:0 onto the same layout
    PPK_NV21toNV21Fast_NORESAMPLE_V_Flip_4x4,
    PPK_NV21toNV21Fast_NORESAMPLE_H_Flip_4x4,
    PPK_NV21toNV21Fast_NORESAMPLE_R180_4x4,
    PPK_NV21toNV21Fast_NORESAMPLE_R90_4x4,
    PPK_NV21toNV21Fast_NORESAMPLE_R270_4x4,
    PPK_NV12_TO_NV12_NORESAMPLE_Rotate180,
    PPK_NV12_TO_NV12_NORESAMPLE_Rotate,
    PPK_NV21toNV21Fast_N_RESAMPLE_R0_4x4,
    PPK_NV21_To_NV21_REAMPLE_NOROTATE_BILINEAR_Fast_2x2,
    PPK_NV21_To_NV21_REAMPLE_NOROTATE_BILINEAR_Fast,
    // between the two semi-planar 4:2:0 chroma orders
    PPK_NV12_TO_NV21_NORESAMPLE_4x4,
    PPK_NV12_TO_NV21_NORESAMPLE,
    PPK_NV12_TO_NV21_NORESAMPLE_R180_4x4,
    PPK_NV12_TO_NV21_NORESAMPLE_R180,
    PPK_NV12_TO_NV21_NORESAMPLE_Rotate,
    // planar or grey into semi-planar 4:2:0, by orientation
    PPK_YUVtoNV21Fast_NORESAMPLE_R0_4x4,
    PPK_YUVtoNV21Fast_NORESAMPLE_R90_4x4,
    PPK_YUVtoNV21Fast_NORESAMPLE_R180_4x4,
    PPK_YUVtoNV21Fast_NORESAMPLE_R270_4x4,
    PPK_YUVtoNV21Fast_NORESAMPLE_H_Flip_4x4,
    PPK_YUVtoNV21Fast_NORESAMPLE_V_Flip_4x4,
    PPK_YUVtoNV21Fast_NORESAMPLE_SwapXY_4x4,
    // semi-planar 4:2:2
    PPK_YUV422toYUV422Fast_NORESAMPLE_H_Flip_4x4,
    PPK_YUV422toYUV422Fast_NORESAMPLE_V_Flip_4x4,
    PPK_YUV422toYUV422Fast_NORESAMPLE_R180_4x4,
    PPK_YUV422toYUV422Fast_NORESAMPLE_R90_4x4,
    PPK_YUV422toYUV422Fast_NORESAMPLE_R270_4x4,
    PPK_YUV422toYUV422Fast_N_RESAMPLE_R0_4x4,
    // planar or grey into semi-planar 4:2:2, by orientation
    PPK_YUVtoYUV422Fast_NORESAMPLE_R0_4x4,
    PPK_YUVtoYUV422Fast_NORESAMPLE_R90_4x4,
    PPK_YUVtoYUV422Fast_NORESAMPLE_R180_4x4,
    PPK_YUVtoYUV422Fast_NORESAMPLE_R270_4x4,
    PPK_YUVtoYUV422Fast_NORESAMPLE_H_Flip_4x4,
    PPK_YUVtoYUV422Fast_NORESAMPLE_V_Flip_4x4,
    PPK_YUVtoYUV422Fast_NORESAMPLE_SwapXY_4x4,
    // packed Y U Y V onto itself
    PPK_YUYVtoYUYVFast_N_RESAMPLE_R0_4x4,
    PPK_FAST_KERNEL_COUNT
};

// The kernel of each slot; an empty slot declines.
extern PPKernel g_ppFastKernels[PPK_FAST_KERNEL_COUNT];

// Test hooks: switch every fast kernel off (both selectors then decline, so the general kernel
// does all the work) and count how often each slot ran. Not for production use.
void PPSetFastKernelsEnabled(bool enabled);
bool PPFastKernelsEnabled();
int64_t PPDebugFastKernelRuns(PPFastKernelID id);

// The kernel families behind the slots (PPFastRGB.cpp, PPFastYUV.cpp).
void PPRegisterRGBKernels(PPKernel* slots);
void PPRegisterYUVKernels(PPKernel* slots);

// The two selectors.
MResult ANY_ANY_C_FAST_R8G8B8(const PPBand* band, const PPPlaneSet* dst, const PPPlaneSet* src,
                             const PPEngine* engine);
MResult YUV2YUV_Fast(const PPBand* band, const PPPlaneSet* dst, const PPPlaneSet* src, const PPEngine* engine);

#endif
