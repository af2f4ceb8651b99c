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
    PPK_FAST_KERNEL_COUNT
};

// Filled by the fast-kernel files; every entry is empty until they exist.
extern PPKernel g_ppFastKernels[PPK_FAST_KERNEL_COUNT];

// The two selectors. The YUV one declines every band until its kernels exist.
MResult ANY_ANY_C_FAST_R8G8B8(const PPBand* band, const PPPlaneSet* dst, const PPPlaneSet* src,
                             const PPEngine* engine);
MResult YUV2YUV_Fast(const PPBand* band, const PPPlaneSet* dst, const PPPlaneSet* src, const PPEngine* engine);

#endif
