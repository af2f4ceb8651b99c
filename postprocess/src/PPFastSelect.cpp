// The fast selectors. Each looks at the engine's layouts, steps, orientation and block mode and
// either runs the kernel of the matching slot over the band and returns 0, or returns 3 without
// touching anything so that the next stage takes the band. Every kernel writes exactly what the
// general kernel would write for its case, but for the chroma that a semi-planar side decimates
// (PPFastYUV.cpp).
#include "PPKernels.h"

#include <array>
#include <atomic>

namespace {

std::array<PPKernel, PPK_FAST_KERNEL_COUNT> makeSlots()
{
    std::array<PPKernel, PPK_FAST_KERNEL_COUNT> slots{};
    PPRegisterRGBKernels(slots.data());
    PPRegisterYUVKernels(slots.data());
    return slots;
}

std::atomic<bool> g_enabled{true};
std::atomic<int64_t> g_runs[PPK_FAST_KERNEL_COUNT];

} // namespace

PPKernel g_ppFastKernels[PPK_FAST_KERNEL_COUNT] = {};

namespace {

// The slots are filled on first use, so that the table does not depend on the order in which
// static objects of different files are built.
const PPKernel* slots()
{
    static const bool filled = [] {
        const auto s = makeSlots();
        for (int i = 0; i < PPK_FAST_KERNEL_COUNT; ++i)
            g_ppFastKernels[i] = s[static_cast<size_t>(i)];
        return true;
    }();
    (void)filled;
    return g_ppFastKernels;
}

MResult run(PPFastKernelID id, const PPBand* band, const PPPlaneSet* dst, const PPPlaneSet* src, const PPEngine* e)
{
    PPKernel k = slots()[id];
    if (!k || !g_enabled.load(std::memory_order_relaxed))
        return MERR_UNSUPPORTED;
    g_runs[id].fetch_add(1, std::memory_order_relaxed);
    return k(band, dst, src, e);
}

// 24-bit RGB whose channels are whole bytes: R in bits 0-7 (memory order R, G, B) for BGR order,
// R in bits 16-23 (memory order B, G, R) for RGB order. Any other 24-bit side (narrower channels)
// is neither, and the fast kernels leave it to the general kernel, which widens and narrows the
// channels through their masks.
bool channelsAt(const PPEngineContext* ctx, bool dstSide, int r, int g, int b)
{
    const int* pos = dstSide ? ctx->dstMaskPos : ctx->srcMaskPos;
    const int* size = dstSide ? ctx->dstMaskSize : ctx->srcMaskSize;
    return size[0] == 8 && size[1] == 8 && size[2] == 8 && pos[0] == r && pos[1] == g && pos[2] == b;
}
bool bgrOrder(const PPEngineContext* ctx, bool dstSide) { return channelsAt(ctx, dstSide, 0, 8, 16); }
bool rgbOrder(const PPEngineContext* ctx, bool dstSide) { return channelsAt(ctx, dstSide, 16, 8, 0); }

} // namespace

void PPSetFastKernelsEnabled(bool enabled) { g_enabled.store(enabled); }
bool PPFastKernelsEnabled() { return g_enabled.load(); }
int64_t PPDebugFastKernelRuns(PPFastKernelID id) { return g_runs[id].load(); }

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
    if (ctx->convClass == PPC_YUV2RGB && dst24 && sl >= 1025 && sl <= 1028 &&
        (bgrOrder(ctx, true) || rgbOrder(ctx, true))) {
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
            if (!rgbOrder(ctx, false) || !rgbOrder(ctx, true))
                return MERR_UNSUPPORTED;
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
        if (sBGR && rgbOrder(ctx, true) && !bil && !one && block == 3)
            return run(PPK_BGR2RGBFast_RGB888_N_RESIZE_4x4, band, dst, src, e);
        return MERR_UNSUPPORTED;
    }
    if (ctx->convClass == PPC_RGB2YUV && src24 && rgbOrder(ctx, false) && dl >= 1025 && dl <= 1028) {
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

MResult YUV2YUV_Fast(const PPBand* band, const PPPlaneSet* dst, const PPPlaneSet* src, const PPEngine* e)
{
    const PPEngineContext* ctx = e->ctx;
    // Never for colour work: the range and adjustment table is the general kernel's.
    if (ctx->needRangeTable || ctx->convClass != PPC_YUV2YUV)
        return MERR_UNSUPPORTED;
    const int64_t sl = ctx->srcMap.layout, dl = ctx->dstMap.layout;
    const bool one = ctx->oneToOne, bil = ctx->bilinear;
    const int block = ctx->blockMode;
    const uint32_t o = e->orientation;
    constexpr uint32_t S = PP_ORIENT_SWAPXY, LR = PP_ORIENT_MIRROR_LR, TB = PP_ORIENT_MIRROR_TB;
    const auto go = [&](PPFastKernelID id) { return run(id, band, dst, src, e); };
    const bool planar = sl >= 1025 && sl <= 1028;
    const bool planarOrGrey = planar || sl == PPL_GREY;
    const bool semi420 = [](int64_t l) { return l == PPL_SEMI_NV21 || l == PPL_SEMI_NV12; }(sl);

    // Planar 4:2:0 against 4:4:0 or 4:2:2: only the chroma sampling changes.
    if ((sl == 1025 && (dl == 1026 || dl == 1027)) || ((sl == 1026 || sl == 1027) && dl == 1025))
        return one && !(o & (S | LR)) ? go(PPK_I422_TO_I420_NORESAMPLE_4x4) : MERR_UNSUPPORTED;
    if (planar && sl == dl) {
        if (!one || o)
            return MERR_UNSUPPORTED;
        return go(block == 3 && sl != 1028 ? PPK_YUV_TO_YUV_NORESAMPLE_NO_4x4 : PPK_YUV_TO_YUV_NORESAMPLE_NO_1x1);
    }
    if (sl == PPL_SEMI_NV21 && dl == 1025) {
        if (one && o == 0 && block == 3)
            return go(PPK_NV21toI420Fast_NORESAMPLE_R0_4x4);
        if (one && o == (S | TB)) {
            if (block == 3)
                return go(PPK_NV21VtoI420Fast_NORESAMPLE_R270_4x4);
            if (block == 2)
                return go(PPK_NV21VtoI420Fast_NORESAMPLE_R270_2x2);
            return MERR_UNSUPPORTED;
        }
        if (bil || o)
            return MERR_UNSUPPORTED;
        return go(block == 3 ? PPK_NV21toI420Fast_Nearest_RESAMPLE_R0_4x4 : PPK_NV21toI420Fast_Nearest_RESAMPLE_R0_1x1);
    }
    if (sl == 513 && dl == 1025)
        return one && o == 0 && block == 3 ? go(PPK_YUYVtoI420Fast_NORESAMPLE_R0_4x4) : MERR_UNSUPPORTED;
    if (sl == PPL_SEMI_NV12 && dl == 1025) {
        if (!one || o)
            return MERR_UNSUPPORTED;
        return go(block == 3 ? PPK_NV21toI420Fast_NORESAMPLE_R0_4x4 : PPK_NV21toI420Fast_Nearest_RESAMPLE_R0_1x1);
    }
    if (semi420 && sl == dl) {
        if (one) {
            switch (o) {
            case TB: return block == 3 ? go(PPK_NV21toNV21Fast_NORESAMPLE_V_Flip_4x4) : MERR_UNSUPPORTED;
            case LR: return block == 3 ? go(PPK_NV21toNV21Fast_NORESAMPLE_H_Flip_4x4) : MERR_UNSUPPORTED;
            case LR | TB:
                return go(block == 3 ? PPK_NV21toNV21Fast_NORESAMPLE_R180_4x4 : PPK_NV12_TO_NV12_NORESAMPLE_Rotate180);
            case S | LR:
                return go(block == 3 ? PPK_NV21toNV21Fast_NORESAMPLE_R90_4x4 : PPK_NV12_TO_NV12_NORESAMPLE_Rotate);
            case S | TB:
                return go(block == 3 ? PPK_NV21toNV21Fast_NORESAMPLE_R270_4x4 : PPK_NV12_TO_NV12_NORESAMPLE_Rotate);
            default: return MERR_UNSUPPORTED; // no flag, the swap alone, all three
            }
        }
        if (o)
            return MERR_UNSUPPORTED;
        if (!bil)
            return block == 3 ? go(PPK_NV21toNV21Fast_N_RESAMPLE_R0_4x4) : MERR_UNSUPPORTED;
        return go(block == 3 ? PPK_NV21_To_NV21_REAMPLE_NOROTATE_BILINEAR_Fast_2x2
                             : PPK_NV21_To_NV21_REAMPLE_NOROTATE_BILINEAR_Fast);
    }
    if (semi420 && (dl == PPL_SEMI_NV21 || dl == PPL_SEMI_NV12)) { // the two chroma orders
        if (!one)
            return MERR_UNSUPPORTED;
        if (o == 0)
            return go(block == 3 ? PPK_NV12_TO_NV21_NORESAMPLE_4x4 : PPK_NV12_TO_NV21_NORESAMPLE);
        if (o == (LR | TB))
            return go(block == 3 ? PPK_NV12_TO_NV21_NORESAMPLE_R180_4x4 : PPK_NV12_TO_NV21_NORESAMPLE_R180);
        return go(PPK_NV12_TO_NV21_NORESAMPLE_Rotate);
    }
    // Planar or grey into semi-planar, by orientation; (1, 1, 1) is the general kernel's.
    const auto byOrientation = [&](PPFastKernelID r0) -> MResult {
        if (!one || block != 3)
            return MERR_UNSUPPORTED;
        // Slot order after r0: R90, R180, R270, H_Flip, V_Flip, SwapXY.
        switch (o) {
        case 0: return go(r0);
        case S | LR: return go(static_cast<PPFastKernelID>(r0 + 1));
        case LR | TB: return go(static_cast<PPFastKernelID>(r0 + 2));
        case S | TB: return go(static_cast<PPFastKernelID>(r0 + 3));
        case LR: return go(static_cast<PPFastKernelID>(r0 + 4));
        case TB: return go(static_cast<PPFastKernelID>(r0 + 5));
        case S: return go(static_cast<PPFastKernelID>(r0 + 6));
        default: return MERR_UNSUPPORTED;
        }
    };
    if (planarOrGrey && (dl == PPL_SEMI_NV21 || dl == PPL_SEMI_NV12))
        return byOrientation(PPK_YUVtoNV21Fast_NORESAMPLE_R0_4x4);
    if (sl == PPL_SEMI422_A && dl == 1025)
        return one && o == 0 && block == 3 ? go(PPK_YUV422toI420Fast_NORESAMPLE_R0_4x4) : MERR_UNSUPPORTED;
    if (sl == PPL_SEMI422_A && dl == PPL_SEMI422_A) {
        if (one) {
            if (block != 3)
                return MERR_UNSUPPORTED;
            switch (o) {
            case LR: return go(PPK_YUV422toYUV422Fast_NORESAMPLE_H_Flip_4x4);
            case TB: return go(PPK_YUV422toYUV422Fast_NORESAMPLE_V_Flip_4x4);
            case LR | TB: return go(PPK_YUV422toYUV422Fast_NORESAMPLE_R180_4x4);
            case S | LR: return go(PPK_YUV422toYUV422Fast_NORESAMPLE_R90_4x4);
            case S | TB: return go(PPK_YUV422toYUV422Fast_NORESAMPLE_R270_4x4);
            default: return MERR_UNSUPPORTED;
            }
        }
        return o == 0 && !bil && block == 3 ? go(PPK_YUV422toYUV422Fast_N_RESAMPLE_R0_4x4) : MERR_UNSUPPORTED;
    }
    if (planarOrGrey && dl == PPL_SEMI422_A)
        return byOrientation(PPK_YUVtoYUV422Fast_NORESAMPLE_R0_4x4);
    if (sl == 513 && dl == 513)
        return !one && o == 0 && !bil && block == 2 ? go(PPK_YUYVtoYUYVFast_N_RESAMPLE_R0_4x4) : MERR_UNSUPPORTED;
    return MERR_UNSUPPORTED;
}
