// The YUV-to-YUV kernels: copies, nearest and bilinear resampling, quarter turns and mirrors
// between planar, grey, packed 4:2:2 and semi-planar layouts. None converts colour (the selector
// leaves range and adjustment work to the general kernel).
//
// Every kernel works in two passes over the band: luma, one sample per target pixel, and chroma,
// one write per target chroma sample from the pixel whose write the general kernel would leave
// there (see PPFastCommon.h), except where a semi-planar side decimates chroma that the source has
// per pixel: planar into semi-planar, and semi-planar 4:2:2 into planar 4:2:0, take the first
// pixel of each block along such an axis (the even row or column) instead. The luma pass is specialised by direction: rows copied as runs when
// the source columns are consecutive, and under a quarter turn four source rows gathered at once so
// that every target store is a whole 32-bit word.
#include "PPFastCommon.h"
#include "PPScaleBlend.h"
#include "PPSimdTurn.h"

#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace {

// ---- Luma ----

// One target row of nearest samples, target bytes du apart.
// At one to one the columns rise by one or stay (at the clamped edges), so a rise of n - 1 over n
// columns means a consecutive run.
inline void nearestRow(uint8_t* out, int64_t du, const uint8_t* srow, int64_t sstep, const int32_t* cols, int64_t u0,
                       int64_t u1, bool oneToOne)
{
    const int64_t n = u1 - u0;
    const bool run = oneToOne && sstep == 1 && cols[2 * (u1 - 1)] - cols[2 * u0] == n - 1;
    if (run && du == 1) {
        std::memcpy(out, srow + cols[2 * u0], static_cast<size_t>(n));
        return;
    }
    if (run && du == -1) {
        const uint8_t* p = srow + cols[2 * u0];
        for (int64_t i = 0; i < n; ++i)
            out[-i] = p[i];
        return;
    }
    for (int64_t u = u0; u < u1; ++u, out += du)
        *out = srow[cols[2 * u] * sstep];
}

// Four oriented rows (already in target byte order) whose columns c0 + i are consecutive: each
// column becomes one 32-bit word of its own target row. SSE2 interleaves sixteen columns of the
// four rows into sixteen words with two rounds of unpacking; the portable path builds the words
// from bytes.
inline int64_t transposeRun(const uint8_t* a, const uint8_t* b, const uint8_t* c, const uint8_t* d, int64_t n,
                            uint8_t* out, int64_t du)
{
    int64_t i = 0;
#if defined(__SSE2__)
    for (; i + 16 <= n; i += 16) {
        const __m128i ra = _mm_loadu_si128(reinterpret_cast<const __m128i*>(a + i));
        const __m128i rb = _mm_loadu_si128(reinterpret_cast<const __m128i*>(b + i));
        const __m128i rc = _mm_loadu_si128(reinterpret_cast<const __m128i*>(c + i));
        const __m128i rd = _mm_loadu_si128(reinterpret_cast<const __m128i*>(d + i));
        const __m128i ab0 = _mm_unpacklo_epi8(ra, rb), ab1 = _mm_unpackhi_epi8(ra, rb);
        const __m128i cd0 = _mm_unpacklo_epi8(rc, rd), cd1 = _mm_unpackhi_epi8(rc, rd);
        const __m128i q[4] = {_mm_unpacklo_epi16(ab0, cd0), _mm_unpackhi_epi16(ab0, cd0),
                              _mm_unpacklo_epi16(ab1, cd1), _mm_unpackhi_epi16(ab1, cd1)};
        for (int k = 0; k < 4; ++k) {
            alignas(16) uint32_t words[4];
            _mm_store_si128(reinterpret_cast<__m128i*>(words), q[k]);
            for (int j = 0; j < 4; ++j)
                std::memcpy(out + (i + 4 * k + j) * du, &words[j], 4);
        }
    }
#endif
    for (; i < n; ++i) {
        const uint32_t w = uint32_t{a[i]} | uint32_t{b[i]} << 8 | uint32_t{c[i]} << 16 | uint32_t{d[i]} << 24;
        std::memcpy(out + i * du, &w, 4);
    }
    return n;
}

// Quarter turns, nearest: four oriented rows become four consecutive target bytes (dv = +1 or -1)
// of the target rows that the oriented columns walk down or up.
void nearestTransposed(uint8_t* d0, int64_t base, int64_t du, int64_t dv, const uint8_t* s0, int64_t spitch,
                       int64_t sstep, const int32_t* cols, const int32_t* rows, const PPBand& b, bool oneToOne)
{
    // At one to one the band's columns are usually one consecutive run (see nearestRow).
    const bool run = oneToOne && sstep == 1 && cols[2 * (b.u1 - 1)] - cols[2 * b.u0] == b.u1 - 1 - b.u0;
    int64_t v = b.v0;
    // With vector instructions, sixteen oriented rows at a time become 16-byte target segments;
    // the columns past the last whole block take the four-row words below.
    const PPTurnLumaFn turn = run ? PPTurnLumaKernel() : nullptr;
    for (; turn && v + 16 <= b.v1; v += 16) {
        const int64_t c = cols[2 * b.u0], n = b.u1 - b.u0;
        const uint8_t* r[16];
        for (int k = 0; k < 16; ++k)
            r[k] = s0 + rows[2 * (dv > 0 ? v + k : v + 15 - k)] * spitch + c;
        uint8_t* out = d0 + base + b.u0 * du + (dv > 0 ? v : v + 15) * dv;
        const int64_t done = turn(r, n, out, du);
        for (int q = 0; q < 16 && done < n; q += 4)
            transposeRun(r[q] + done, r[q + 1] + done, r[q + 2] + done, r[q + 3] + done, n - done, out + q + done * du,
                         du);
    }
    for (; v + 4 <= b.v1; v += 4) {
        const uint8_t* r0 = s0 + rows[2 * v] * spitch;
        const uint8_t* r1 = s0 + rows[2 * v + 2] * spitch;
        const uint8_t* r2 = s0 + rows[2 * v + 4] * spitch;
        const uint8_t* r3 = s0 + rows[2 * v + 6] * spitch;
        // Lowest target address of the four and the byte order within the word.
        uint8_t* out = d0 + base + b.u0 * du + (dv > 0 ? v : v + 3) * dv;
        if (run) {
            const int64_t c = cols[2 * b.u0];
            if (dv > 0)
                transposeRun(r0 + c, r1 + c, r2 + c, r3 + c, b.u1 - b.u0, out, du);
            else
                transposeRun(r3 + c, r2 + c, r1 + c, r0 + c, b.u1 - b.u0, out, du);
        } else if (dv > 0) {
            for (int64_t u = b.u0; u < b.u1; ++u, out += du) {
                const int64_t c = cols[2 * u] * sstep;
                const uint32_t w = uint32_t{r0[c]} | uint32_t{r1[c]} << 8 | uint32_t{r2[c]} << 16 | uint32_t{r3[c]} << 24;
                std::memcpy(out, &w, 4);
            }
        } else {
            for (int64_t u = b.u0; u < b.u1; ++u, out += du) {
                const int64_t c = cols[2 * u] * sstep;
                const uint32_t w = uint32_t{r3[c]} | uint32_t{r2[c]} << 8 | uint32_t{r1[c]} << 16 | uint32_t{r0[c]} << 24;
                std::memcpy(out, &w, 4);
            }
        }
    }
    for (; v < b.v1; ++v) {
        const uint8_t* r = s0 + rows[2 * v] * spitch;
        uint8_t* out = d0 + base + b.u0 * du + v * dv;
        for (int64_t u = b.u0; u < b.u1; ++u, out += du)
            *out = r[cols[2 * u] * sstep];
    }
}

void lumaNearest(const PPBand& b, const PPPlaneSet& dst, const PPPlaneSet& src, const PPEngine* e)
{
    const PPEngineContext* ctx = e->ctx;
    const PPTargetWalk w(e);
    int64_t base, du, dv;
    w.linear(dst.stepY, dst.pitch[0], &base, &du, &dv);
    if (w.swap && (dv == 1 || dv == -1)) {
        nearestTransposed(dst.ptr[0], base, du, dv, src.ptr[0], src.pitch[0], src.stepY, ctx->colIndex, ctx->rowIndex, b,
                          ctx->oneToOne);
        return;
    }
    for (int64_t v = b.v0; v < b.v1; ++v)
        nearestRow(dst.ptr[0] + base + b.u0 * du + v * dv, du, src.ptr[0] + ctx->rowIndex[2 * v] * src.pitch[0],
                   src.stepY, ctx->colIndex, b.u0, b.u1, ctx->oneToOne);
}

void lumaBilinear(const PPBand& b, const PPPlaneSet& dst, const PPPlaneSet& src, const PPEngine* e)
{
    if (PPBlendPlaneVector(&b, &dst, &src, e))
        return;
    const PPEngineContext* ctx = e->ctx;
    const PPTargetWalk w(e);
    int64_t base, du, dv;
    w.linear(dst.stepY, dst.pitch[0], &base, &du, &dv);
    const int64_t ss = src.stepY;
    for (int64_t v = b.v0; v < b.v1; ++v) {
        const uint8_t* r0 = src.ptr[0] + ctx->rowIndex[2 * v] * src.pitch[0];
        const uint8_t* r1 = src.ptr[0] + ctx->rowIndex[2 * v + 1] * src.pitch[0];
        const int fy = ctx->rowFrac[v];
        uint8_t* out = dst.ptr[0] + base + b.u0 * du + v * dv;
        for (int64_t u = b.u0; u < b.u1; ++u, out += du) {
            const int64_t c0 = ctx->colIndex[2 * u] * ss, c1 = ctx->colIndex[2 * u + 1] * ss;
            *out = static_cast<uint8_t>(ppBlend(r0[c0], r0[c1], r1[c0], r1[c1], ctx->colFrac[u], fy));
        }
    }
}

// ---- Chroma ----

// Every target chroma sample that the band touches, once, from the source chroma at the sampling
// position of the pixel that the general kernel writes last into it (with FirstRow, of the first
// band row of each chroma sample instead; with FirstColumn, of its first band column). A grey
// source gives 128.
template <bool GreySource, bool FirstRow = false, bool FirstColumn = false>
void chroma(const PPBand& b, const PPPlaneSet& dst, const PPPlaneSet& src, const PPEngine* e)
{
    const PPEngineContext* ctx = e->ctx;
    const PPTargetWalk w(e);
    const int dhs = dst.hs[1] - 1, dvs = dst.vs[1] - 1; // shifts: factors are 1 or 2
    const int shs = src.hs[1] - 1, svs = src.vs[1] - 1;
    const PPLastWriters lu(b.u0, b.u1, w.swap ? w.cy : w.cx, w.swap ? w.sy : w.sx, w.swap ? dst.vs[1] : dst.hs[1],
                           FirstColumn);
    const PPLastWriters lv(b.v0, b.v1, w.swap ? w.cx : w.cy, w.swap ? w.sx : w.sy, w.swap ? dst.hs[1] : dst.vs[1],
                           FirstRow);
    if constexpr (!GreySource)
        if (PPTurnChromaBand(b, dst, src, e, lu, lv))
            return;
    const int64_t dstep = dst.stepC, sstep = src.stepC;
    lv.forEach([&](int64_t v) {
        const int64_t sr = ctx->rowIndex[2 * v];
        const uint8_t* s1 = GreySource ? nullptr : src.ptr[1] + (sr >> svs) * src.pitch[1];
        const uint8_t* s2 = GreySource ? nullptr : src.ptr[2] + (sr >> svs) * src.pitch[2];
        lu.forEach([&](int64_t u) {
            const int64_t tx = w.tx(u, v), ty = w.ty(u, v);
            uint8_t* d1 = dst.ptr[1] + (ty >> dvs) * dst.pitch[1] + (tx >> dhs) * dstep;
            uint8_t* d2 = dst.ptr[2] + (ty >> dvs) * dst.pitch[2] + (tx >> dhs) * dstep;
            if constexpr (GreySource) {
                *d1 = 128;
                *d2 = 128;
            } else {
                const int64_t sc = (ctx->colIndex[2 * u] >> shs) * sstep;
                *d1 = s1[sc];
                *d2 = s2[sc];
            }
        });
    });
}

// ---- The kernels ----

MResult yuvNearest(const PPBand* b, const PPPlaneSet* dst, const PPPlaneSet* src, const PPEngine* e)
{
    lumaNearest(*b, *dst, *src, e);
    if (e->ctx->srcMap.layout == PPL_GREY)
        chroma<true>(*b, *dst, *src, e);
    else
        chroma<false>(*b, *dst, *src, e);
    return MOK;
}

// Semi-planar 4:2:2 to planar 4:2:0 (one to one, upright only): each 4:2:0 chroma row comes from
// the first row of its pair, where the general kernel leaves the second.
MResult semi422ToI420(const PPBand* b, const PPPlaneSet* dst, const PPPlaneSet* src, const PPEngine* e)
{
    lumaNearest(*b, *dst, *src, e);
    chroma<false, true>(*b, *dst, *src, e);
    return MOK;
}

// Planar or grey into semi-planar 4:2:0 or 4:2:2, one to one, every orientation the selector
// takes: along each source axis that has a chroma sample per pixel, a target chroma sample comes
// from the first pixel of its block in the band's walk (the even band row or column), so a 4:4:4
// or 4:2:2 source gives its even columns and rows. Along an axis where the source shares one
// sample between two pixels, both pixels of a block read it alike, and the last one is taken as
// the general kernel does (they differ only where a mirrored odd size straddles two samples).
MResult planarToSemiPlanar(const PPBand* b, const PPPlaneSet* dst, const PPPlaneSet* src, const PPEngine* e)
{
    lumaNearest(*b, *dst, *src, e);
    const bool fullRows = src->vs[1] == 1, fullColumns = src->hs[1] == 1;
    if (e->ctx->srcMap.layout == PPL_GREY)
        chroma<true>(*b, *dst, *src, e);
    else if (fullRows && fullColumns)
        chroma<false, true, true>(*b, *dst, *src, e);
    else if (fullRows)
        chroma<false, true, false>(*b, *dst, *src, e);
    else if (fullColumns)
        chroma<false, false, true>(*b, *dst, *src, e);
    else
        chroma<false>(*b, *dst, *src, e);
    return MOK;
}

MResult yuvBilinear(const PPBand* b, const PPPlaneSet* dst, const PPPlaneSet* src, const PPEngine* e)
{
    lumaBilinear(*b, *dst, *src, e);
    PPChromaNearest(b, dst, src, e, false);
    return MOK;
}

} // namespace

bool PPYuvTurnBand(const PPBand& b, const PPPlaneSet& dst, const PPPlaneSet& src, const PPEngine* e)
{
    const PPEngineContext* ctx = e->ctx;
    if (!PPTurnLumaKernel() || ctx->convClass != PPC_YUV2YUV || ctx->needRangeTable || !ctx->oneToOne ||
        !(e->orientation & PP_ORIENT_SWAPXY) || src.stepY != 1 || dst.stepY != 1)
        return false;
    // Planes of one byte per sample with chroma factors of 1 or 2, the kernels' own ground.
    const auto planes = [](int64_t l) {
        return (l >= 1025 && l <= 1028) || (l >= 769 && l <= 772) || (l >= PPL_SEMI_NV21 && l <= PPL_SEMI422_B);
    };
    if (!planes(ctx->dstMap.layout) || !(planes(ctx->srcMap.layout) || ctx->srcMap.layout == PPL_GREY))
        return false;
    yuvNearest(&b, &dst, &src, e);
    return true;
}

void PPRegisterYUVKernels(PPKernel* k)
{
    // Copies, turns and nearest resampling differ only in the sampling tables and the target walk,
    // which the shared passes take from the engine; the bilinear pair interpolates luma.
    for (int id = PPK_I422_TO_I420_NORESAMPLE_4x4; id <= PPK_YUYVtoYUYVFast_N_RESAMPLE_R0_4x4; ++id)
        k[id] = yuvNearest;
    k[PPK_YUV422toI420Fast_NORESAMPLE_R0_4x4] = semi422ToI420;
    for (int id = PPK_YUVtoNV21Fast_NORESAMPLE_R0_4x4; id <= PPK_YUVtoNV21Fast_NORESAMPLE_SwapXY_4x4; ++id)
        k[id] = planarToSemiPlanar;
    for (int id = PPK_YUVtoYUV422Fast_NORESAMPLE_R0_4x4; id <= PPK_YUVtoYUV422Fast_NORESAMPLE_SwapXY_4x4; ++id)
        k[id] = planarToSemiPlanar;
    k[PPK_NV21_To_NV21_REAMPLE_NOROTATE_BILINEAR_Fast_2x2] = yuvBilinear;
    k[PPK_NV21_To_NV21_REAMPLE_NOROTATE_BILINEAR_Fast] = yuvBilinear;
}
