// The fast selectors. They choose a kernel slot the way the general kernel's callers expect and
// run it when the slot is filled; an empty slot declines with 3 so that the next stage takes the
// band.
#include "PPKernels.h"

PPKernel g_ppFastKernels[PPK_FAST_KERNEL_COUNT] = {};

namespace {

MResult run(PPFastKernelID id, const PPBand* band, const PPPlaneSet* dst, const PPPlaneSet* src, const PPEngine* e)
{
    PPKernel k = g_ppFastKernels[id];
    return k ? k(band, dst, src, e) : MERR_UNSUPPORTED;
}

// 24-bit RGB with R in bits 0-7 (memory order R, G, B).
bool bgrOrder(const PPEngineContext* ctx, bool dstSide)
{
    const int* pos = dstSide ? ctx->dstMaskPos : ctx->srcMaskPos;
    return pos[0] == 0 && pos[1] == 8 && pos[2] == 16;
}

} // namespace

MResult ANY_ANY_C_FAST_R8G8B8(const PPBand* band, const PPPlaneSet* dst, const PPPlaneSet* src, const PPEngine* e)
{
    const PPEngineContext* ctx = e->ctx;
    const bool dst24 = ctx->dstMap.layout == PPL_RGB && ctx->dstMap.bitsPerPixel == 24 && !ctx->dstMap.palette;
    const bool src24 = ctx->srcMap.layout == PPL_RGB && ctx->srcMap.bitsPerPixel == 24 && !ctx->srcMap.palette;
    if (!dst24 && !src24)
        return MERR_UNSUPPORTED;
    const bool one = ctx->oneToOne, bil = ctx->bilinear;
    const int block = ctx->blockMode;
    const uint32_t o = e->orientation;
    const int64_t sl = ctx->srcMap.layout, dl = ctx->dstMap.layout;
    if (ctx->convClass == PPC_YUV2RGB && dst24 && sl >= 1025 && sl <= 1028) {
        if (bgrOrder(ctx, true))
            return run(one ? PPK_YUV2RGBFast_NORESAMPLE_B8G8R8 : !bil ? PPK_YUV2RGBFast_B8G8R8_Nearest
                                                                      : PPK_YUV2RGBFast_B8G8R8,
                       band, dst, src, e);
        return run(one ? PPK_YUV2RGBFast_NORESAMPLE : !bil ? PPK_YUV2RGBFast_R8G8B8_Nearest : PPK_YUV2RGBFast, band,
                   dst, src, e);
    }
    if (ctx->convClass == PPC_RGB2RGB && src24 && dst24) {
        const bool sBGR = bgrOrder(ctx, false), dBGR = bgrOrder(ctx, true);
        if (!sBGR && !dBGR) {
            if (one)
                return run(PPK_RGB2RGBFast_NORESAMPLE, band, dst, src, e);
            if (bil)
                return run(block == 2 ? PPK_RGB2RGBFast_RGB888_N_RESIZE_2x2 : PPK_RGB2RGBFast, band, dst, src, e);
            if (block == 3) {
                PPFastKernelID id = PPK_RGB2RGBFast_RGB888_N_RESIZE_4x4;
                if (o == 0) id = PPK_RGB2RGBFast_RGB888_N_RESIZE_4x4_R0;
                else if (o == (PP_ORIENT_SWAPXY | PP_ORIENT_MIRROR_TB)) id = PPK_RGB2RGBFast_RGB888_N_RESIZE_4x4_R270;
                else if (o == PP_ORIENT_MIRROR_TB) id = PPK_RGB2RGBFast_RGB888_N_RESIZE_4x4_VERTICAL;
                else if (o == PP_ORIENT_SWAPXY) id = PPK_RGB2RGBFast_RGB888_N_RESIZE_4x4_SwapXY;
                return run(id, band, dst, src, e);
            }
            return run(PPK_RGB2RGBFast_RGB888_N_RESIZE, band, dst, src, e);
        }
        if (sBGR && dBGR) {
            if (one)
                return MERR_UNSUPPORTED;
            if (bil)
                return block == 2 ? run(PPK_RGB2RGBFast_RGB888_N_RESIZE_2x2, band, dst, src, e) : MERR_UNSUPPORTED;
            return run(block == 3 ? PPK_RGB2RGBFast_RGB888_N_RESIZE_4x4 : PPK_RGB2RGBFast_RGB888_N_RESIZE, band, dst,
                       src, e);
        }
        if (sBGR && !dBGR && !bil && !one && block == 3)
            return run(PPK_BGR2RGBFast_RGB888_N_RESIZE_4x4, band, dst, src, e);
        return MERR_UNSUPPORTED;
    }
    if (ctx->convClass == PPC_RGB2YUV && src24 && !bgrOrder(ctx, false) && dl >= 1025 && dl <= 1028) {
        if (one) {
            if (o == 0 && block == 3 && dl == 1025)
                return run(PPK_RGB2YUVFast_NORESAMPLE_NOROTATE_R8G8B8_4x4, band, dst, src, e);
            if (!(o & PP_ORIENT_MIRROR_TB) && block == 3 && dl == 1025)
                return run(PPK_RGB2YUVFast_NORESAMPLE_NOROTATE_R8G8B8_2x2, band, dst, src, e);
            return run(PPK_RGB2YUVFast_NORESAMPLE, band, dst, src, e);
        }
        return bil ? run(PPK_RGB2YUVFast, band, dst, src, e) : MERR_UNSUPPORTED;
    }
    return MERR_UNSUPPORTED;
}

MResult YUV2YUV_Fast(const PPBand*, const PPPlaneSet*, const PPPlaneSet*, const PPEngine* e)
{
    // Never for colour work: the range and adjustment table is the general kernel's.
    if (e->ctx->needRangeTable || e->ctx->convClass != PPC_YUV2YUV)
        return MERR_UNSUPPORTED;
    return MERR_UNSUPPORTED;
}
