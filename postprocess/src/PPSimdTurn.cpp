// Level choice of the vector turns, and the chroma pass that feeds them blocks.
#include "PPSimdTurn.h"

#include "PPCpu.h"

#include <algorithm>
#include <vector>

PPTurnLumaFn PPTurnLumaKernel()
{
    switch (PPSimdLevel()) {
    case PPSimd::AVX2: return PPTurnLumaAVX2;
    case PPSimd::SSE41: return PPTurnLumaSSE41;
    default: return nullptr;
    }
}

PPTurnChromaFn PPTurnChromaKernel()
{
    switch (PPSimdLevel()) {
    case PPSimd::AVX2: return PPTurnChromaAVX2;
    case PPSimd::SSE41: return PPTurnChromaSSE41;
    default: return nullptr;
    }
}

namespace {

// True when the values step by +1 throughout, or by -1 throughout.
bool unitSteps(const int64_t* x, size_t n, int64_t* step)
{
    if (n < 2)
        return false;
    *step = x[1] - x[0];
    if (*step != 1 && *step != -1)
        return false;
    for (size_t i = 2; i < n; ++i)
        if (x[i] - x[i - 1] != *step)
            return false;
    return true;
}

} // namespace

bool PPTurnChromaBand(const PPBand& b, const PPPlaneSet& dst, const PPPlaneSet& src, const PPEngine* e,
                      const PPLastWriters& lu, const PPLastWriters& lv)
{
    const PPEngineContext* ctx = e->ctx;
    const PPTurnChromaFn kernel = PPTurnChromaKernel();
    const PPTargetWalk w(e);
    if (!kernel || !w.swap || !ctx->oneToOne || (src.stepC != 1 && src.stepC != 2) ||
        (dst.stepC != 1 && dst.stepC != 2) || src.pitch[1] == 0 || dst.pitch[1] == 0)
        return false;
    // Interleaved sides keep their two components one byte apart in the same rows.
    if (src.stepC == 2 && (src.pitch[1] != src.pitch[2] || (src.ptr[1] - src.ptr[2] != 1 && src.ptr[2] - src.ptr[1] != 1)))
        return false;
    if (dst.stepC == 2 && (dst.pitch[1] != dst.pitch[2] || (dst.ptr[1] - dst.ptr[2] != 1 && dst.ptr[2] - dst.ptr[1] != 1)))
        return false;
    // The band columns are few; the band rows run the length of the target row, and every band
    // walks the same ones, so they are not listed but taken by index.
    std::vector<int64_t> us;
    lu.forEach([&](int64_t u) { us.push_back(u); });
    const size_t regular = lv.end > lv.first ? static_cast<size_t>((lv.end - lv.first + lv.stride - 1) / lv.stride) : 0;
    const size_t nv = regular + (lv.extra ? 1 : 0);
    if (us.size() < 16 || nv < 16)
        return false;
    const auto vAt = [&](size_t j) {
        if (lv.extra && lv.firstWins)
            return j == 0 ? lv.first - 1 : lv.first + static_cast<int64_t>(j - 1) * lv.stride;
        return j < regular ? lv.first + static_cast<int64_t>(j) * lv.stride : lv.end - 1;
    };
    const int dhs = dst.hs[1] - 1, dvs = dst.vs[1] - 1, shs = src.hs[1] - 1, svs = src.vs[1] - 1;
    // Under the swap a band column u fixes the target chroma row, a band row v the target chroma
    // column; each must move by one sample per walker step, every sample once.
    std::vector<int64_t> dstRow(us.size()), srcCol(us.size());
    for (size_t i = 0; i < us.size(); ++i) {
        dstRow[i] = w.ty(us[i], 0) >> dvs;
        srcCol[i] = ctx->colIndex[2 * us[i]] >> shs;
    }
    const auto dstCol = [&](size_t j) { return w.tx(0, vAt(j)) >> dhs; };
    int64_t rowStep = 0, srcStep = 0;
    if (!unitSteps(dstRow.data(), dstRow.size(), &rowStep) || !unitSteps(srcCol.data(), srcCol.size(), &srcStep) ||
        srcStep != 1)
        return false;
    // Rows on the stride of a sample's width step one target sample each; only the band's extra
    // row, off the stride, needs a look.
    const size_t r0 = lv.extra && lv.firstWins ? 1 : 0; // the first row on the stride
    const int64_t colStep = dstCol(r0 + 1) - dstCol(r0);
    if ((colStep != 1 && colStep != -1) || lv.stride != (int64_t{1} << dhs) ||
        (lv.extra && (lv.firstWins ? dstCol(1) - dstCol(0) : dstCol(nv - 1) - dstCol(nv - 2)) != colStep))
        return false;
    const int64_t ss = src.stepC, ds = dst.stepC;
    // Blocks of 16 walker steps each way; a last partial block is done as the 16 steps that end
    // the walk, overlapping the block before it, whose samples it writes again with the same values.
    const size_t whole = us.size() / 16 * 16;
    for (size_t j0 = 0; j0 < nv; j0 += 16) {
        const size_t j = std::min(j0, nv - 16);
        // Source rows in the order of rising target addresses, at the band's first column.
        const uint8_t* ru[16];
        const uint8_t* rv[16];
        const int64_t at0 = srcCol[0] * ss;
        for (int k = 0; k < 16; ++k) {
            const size_t at = colStep > 0 ? j + static_cast<size_t>(k) : j + 15 - static_cast<size_t>(k);
            const int64_t sr = ctx->rowIndex[2 * vAt(at)] >> svs;
            ru[k] = src.ptr[1] + sr * src.pitch[1] + at0;
            rv[k] = src.ptr[2] + sr * src.pitch[2] + at0;
        }
        const int64_t firstCol = colStep > 0 ? dstCol(j) : dstCol(j + 15);
        const auto columns = [&](size_t i, size_t count, const uint8_t* const* u, const uint8_t* const* v) {
            kernel(u, v, static_cast<int>(ss), static_cast<int64_t>(count),
                   dst.ptr[1] + dstRow[i] * dst.pitch[1] + firstCol * ds, dst.ptr[2] + dstRow[i] * dst.pitch[2] + firstCol * ds,
                   rowStep * dst.pitch[1], rowStep * dst.pitch[2], static_cast<int>(ds));
        };
        columns(0, whole, ru, rv);
        if (whole < us.size()) {
            const size_t i = us.size() - 16;
            const uint8_t* u[16];
            const uint8_t* v[16];
            for (int k = 0; k < 16; ++k) {
                u[k] = ru[k] + (srcCol[i] - srcCol[0]) * ss;
                v[k] = rv[k] + (srcCol[i] - srcCol[0]) * ss;
            }
            columns(i, 16, u, v);
        }
    }
    (void)b;
    return true;
}
