// Planning and walking of the vector bilinear rows; the rows themselves are in the files of each
// instruction set.
#include "PPScaleBlend.h"

#include "PPCpu.h"
#include "PPFastCommon.h"

#include <atomic>
#include <cstring>
#include <vector>

namespace {

std::atomic<int64_t> g_vectorPixels{0};

// Where each target column of a band reads its two source pixels, and with which weights.
struct Plan {
    int64_t ua = 0, ub = 0; // the columns [ua, ub) go through the vector rows
    std::vector<int32_t> off;
    std::vector<uint32_t> w;
};

constexpr uint32_t weights(uint32_t left, uint32_t right) { return left | right << 16; }

// The window of one column, or false when none fits inside the source rectangle [lo, hi). The
// sampling tables pair a column either with the next one, or (at a clamped edge, fraction 0) with
// itself; a clamped column may sit on either side of its window with all the weight on it.
bool place(int64_t x0, int64_t x1, uint32_t fx, int64_t lo, int64_t hi, int bpp, int32_t* off, uint32_t* w)
{
    const int64_t spare = bpp == 3 ? 2 : 0; // three-byte windows start two bytes before the left pixel
    const auto fits = [&](int64_t left) { return left * bpp - spare >= lo * bpp && left + 1 < hi; };
    if (x1 == x0 + 1 && fits(x0)) {
        *off = static_cast<int32_t>(x0 * bpp - spare);
        *w = weights(4096 - fx, fx);
        return true;
    }
    if (x1 != x0 || fx != 0)
        return false;
    if (fits(x0)) {
        *off = static_cast<int32_t>(x0 * bpp - spare);
        *w = weights(4096, 0);
        return true;
    }
    if (fits(x0 - 1)) {
        *off = static_cast<int32_t>((x0 - 1) * bpp - spare);
        *w = weights(0, 4096);
        return true;
    }
    return false;
}

// Plans the longest run of placeable columns; false when it is too short to be worth it.
bool plan(const PPBand& b, const PPEngine* e, int bpp, Plan* p)
{
    const PPEngineContext* ctx = e->ctx;
    const int64_t n = b.u1 - b.u0, lo = e->srcRect.left, hi = e->srcRect.right;
    // Offsets are 32-bit: a row longer than that is left to the portable path.
    if (n < 4 || hi * bpp >= INT32_MAX || lo * bpp < INT32_MIN + 8)
        return false;
    p->off.resize(static_cast<size_t>(n));
    p->w.resize(static_cast<size_t>(4 * n));
    int64_t first = -1, last = -1;
    for (int64_t u = b.u0; u < b.u1; ++u) {
        uint32_t wt = 0;
        int32_t off = 0;
        if (!place(ctx->colIndex[2 * u], ctx->colIndex[2 * u + 1], ctx->colFrac[u] >> 4, lo, hi, bpp, &off, &wt)) {
            if (first >= 0)
                break;
            continue;
        }
        if (first < 0)
            first = u;
        last = u;
        // The vector rows take entries from the run's start.
        const size_t k = static_cast<size_t>(u - first);
        p->off[k] = off;
        for (int c = 0; c < 4; ++c)
            p->w[4 * k + static_cast<size_t>(c)] = wt;
    }
    if (first < 0 || last - first + 1 < 4)
        return false;
    p->ua = first;
    p->ub = last + 1;
    return true;
}

// The portable blend of one target column, as the kernels that hand bands here do it.
inline void blendPixel(uint8_t* out, const uint8_t* r0, const uint8_t* r1, const PPEngineContext* ctx, int64_t u,
                       uint32_t fy, int bpp)
{
    const int64_t c0 = ctx->colIndex[2 * u] * bpp, c1 = ctx->colIndex[2 * u + 1] * bpp;
    const uint32_t fx = ctx->colFrac[u] >> 4;
    for (int c = 0; c < bpp; ++c)
        out[c] = static_cast<uint8_t>(ppBlend12(r0[c0 + c], r0[c1 + c], r1[c0 + c], r1[c1 + c], fx, fy));
}

PPBlendRowFn rowFunction(int bpp)
{
#if KPV_HAVE_X86_SIMD
    switch (PPSimdLevel()) {
    case PPSimd::AVX2: return bpp == 4 ? PPBlendRow4Avx2 : PPBlendRow3Avx2;
    case PPSimd::SSE41: return bpp == 4 ? PPBlendRow4Sse41 : PPBlendRow3Sse41;
    default: break;
    }
#endif
    (void)bpp;
    return nullptr;
}

} // namespace

int64_t PPDebugVectorPixels() { return g_vectorPixels.load(); }

bool PPBlendBandVector(const PPBand* bp, const PPPlaneSet* dstp, const PPPlaneSet* srcp, const PPEngine* e,
                       int bpp)
{
    const PPBlendRowFn row = rowFunction(bpp);
    if (!row || (bpp != 3 && bpp != 4))
        return false;
    const PPBand& b = *bp;
    Plan p;
    if (!plan(b, e, bpp, &p))
        return false;
    const PPPlaneSet &dst = *dstp, &src = *srcp;
    const PPEngineContext* ctx = e->ctx;
    const PPTargetWalk walk(e);
    int64_t base, du, dv;
    walk.linear(bpp, dst.pitch[0], &base, &du, &dv);
    const int64_t n = p.ub - p.ua;
    // Rows that do not run left to right in memory are blended into a scratch row first.
    std::vector<uint8_t> scratch(du == bpp ? 0 : static_cast<size_t>(n * bpp));
    for (int64_t v = b.v0; v < b.v1; ++v) {
        const uint8_t* r0 = src.ptr[0] + ctx->rowIndex[2 * v] * src.pitch[0];
        const uint8_t* r1 = src.ptr[0] + ctx->rowIndex[2 * v + 1] * src.pitch[0];
        const uint32_t fy = ctx->rowFrac[v] >> 4;
        uint8_t* out = dst.ptr[0] + base + v * dv;
        for (int64_t u = b.u0; u < p.ua; ++u)
            blendPixel(out + u * du, r0, r1, ctx, u, fy, bpp);
        if (du == bpp) {
            row(out + p.ua * du, r0, r1, p.off.data(), p.w.data(), n, fy);
        } else {
            row(scratch.data(), r0, r1, p.off.data(), p.w.data(), n, fy);
            for (int64_t i = 0; i < n; ++i)
                std::memcpy(out + (p.ua + i) * du, scratch.data() + i * bpp, static_cast<size_t>(bpp));
        }
        for (int64_t u = p.ub; u < b.u1; ++u)
            blendPixel(out + u * du, r0, r1, ctx, u, fy, bpp);
    }
    g_vectorPixels.fetch_add(n * (b.v1 - b.v0), std::memory_order_relaxed);
    return true;
}
