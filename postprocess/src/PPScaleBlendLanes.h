// Pieces the SSE4.1 and AVX2 bilinear rows share: the pair shuffles, the window loads and the
// per-lane arithmetic of a plane blend on 128-bit registers. The SSE4.1 target is a subset of
// AVX2, so they inline into the AVX2 rows too.
#ifndef KPV_POSTPROCESS_PPSCALEBLENDLANES_H
#define KPV_POSTPROCESS_PPSCALEBLENDLANES_H

#include "PPCpu.h"
#include "PPScaleBlend.h"

#if KPV_HAVE_X86_SIMD

#include <immintrin.h>

#include <cstdint>
#include <cstring>

// Left and right samples of each channel side by side, per pixel of a pair of 8-byte windows:
// four-byte pixels as left, right; three-byte pixels as two spare bytes, left, right.
KPV_TARGET_SSE41 inline __m128i ppPairShuffle(int bpp)
{
    return bpp == 4 ? _mm_setr_epi8(0, 4, 1, 5, 2, 6, 3, 7, 8, 12, 9, 13, 10, 14, 11, 15)
                    : _mm_setr_epi8(2, 5, 3, 6, 4, 7, -1, -1, 10, 13, 11, 14, 12, 15, -1, -1);
}

// The 8-byte windows at bytes a and b of a row, a in the lower half.
KPV_TARGET_SSE41 inline __m128i ppWindowPair(const uint8_t* row, int32_t a, int32_t b)
{
    return _mm_unpacklo_epi64(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(row + a)),
                              _mm_loadl_epi64(reinterpret_cast<const __m128i*>(row + b)));
}

// The four bytes at p, unaligned.
KPV_TARGET_SSE41 inline int32_t ppWord(const uint8_t* p)
{
    int32_t v;
    std::memcpy(&v, p, 4);
    return v;
}

// The 4-byte plane windows of four target pixels, one load each.
KPV_TARGET_SSE41 inline __m128i ppWord4(const uint8_t* row, const int32_t* off)
{
    return _mm_setr_epi32(ppWord(row + off[0]), ppWord(row + off[1]), ppWord(row + off[2]), ppWord(row + off[3]));
}

// The horizontal step of four target samples of a plane from their windows in one row, in 32-bit
// lanes: left << 16 plus the difference times fx, below 2^24.
KPV_TARGET_SSE41 inline __m128i ppPlaneAcross(__m128i w, __m128i fx)
{
    const __m128i a = _mm_and_si128(_mm_srli_epi32(w, 16), _mm_set1_epi32(0xFF)), b = _mm_srli_epi32(w, 24);
    return _mm_add_epi32(_mm_slli_epi32(a, 16), _mm_mullo_epi32(_mm_sub_epi32(b, a), fx));
}

// The vertical step from the horizontal steps of both rows: the portable rounding of top + (bottom
// - top) * fy / 65536, whose product needs 40 bits: it is formed in 64-bit halves and shifted back,
// the even and odd lanes apart.
KPV_TARGET_SSE41 inline __m128i ppPlaneDown(__m128i top, __m128i bottom, __m128i fy)
{
    const __m128i diff = _mm_sub_epi32(bottom, top);
    const __m128i even = _mm_srli_epi64(_mm_mul_epi32(diff, fy), 16);
    const __m128i odd = _mm_slli_epi64(_mm_mul_epi32(_mm_srli_epi64(diff, 32), fy), 16);
    const __m128i step = _mm_blend_epi16(even, odd, 0xCC);
    return _mm_srai_epi32(_mm_add_epi32(_mm_add_epi32(top, step), _mm_set1_epi32(32768)), 16);
}

// Four target samples of a plane from their windows in both rows, in 32-bit lanes.
KPV_TARGET_SSE41 inline __m128i ppPlaneFour(__m128i w0, __m128i w1, __m128i fx, __m128i fy)
{
    return ppPlaneDown(ppPlaneAcross(w0, fx), ppPlaneAcross(w1, fx), fy);
}

// Runs f.template operator()<Rows>() with the count of rows fixed when it is 1 or 2 (the counts
// nearly every copy has), else with Rows = 0 for a count given at run time.
template <typename F> inline void ppFixedRows(int64_t rows, F&& f)
{
    if (rows == 1)
        f.template operator()<1>();
    else if (rows == 2)
        f.template operator()<2>();
    else
        f.template operator()<0>();
}

// The walk of a four-byte nearest copy into rows target rows, step bytes apart (PPCopyRow4Sse41
// and PPCopyRow4Avx2): group(i, rows) copies the Width targets from i on into every row, the last
// targets go one at a time. The count of rows reaches group fixed where ppFixedRows fixes it.
template <int Width, typename Group>
inline void ppCopyRow4(uint8_t* out, int64_t step, int64_t rows, const uint8_t* row, const int32_t* from, int64_t n,
                       PPRowPrefetch next, Group&& group)
{
    ppFixedRows(rows, [&]<int Rows>() {
        const int64_t count = Rows ? Rows : rows;
        int64_t i = 0;
        for (; i + Width <= n; i += Width) {
            next.before(from, i, Width);
            group(i, count);
        }
        for (; i < n; ++i) {
            const int32_t v = ppWord(row + from[i]);
            for (int64_t k = 0; k < count; ++k)
                std::memcpy(out + k * step + 4 * i, &v, 4);
        }
    });
}

// The walk of a shared-rows blend for fixed counts (the pixel and plane kernels of both widths):
// Width targets per step; sums(i, s0, s1, s2) forms the horizontal steps of the source rows for the
// targets from i on, in Parts registers of type V a row, the third row's only when Split < Rows;
// store(k, i, top, bottom) blends target row k from its two source rows' steps and stores it.
// Returns the count of targets made. Inlined, so that the kernels' own code inlines into it.
template <typename V, int Rows, int Split, int Width, int Parts, typename Sums, typename Store>
__attribute__((always_inline)) inline int64_t ppSharedRowsWalk(int64_t n, Sums&& sums, Store&& store)
{
    int64_t i = 0;
    for (; i + Width <= n; i += Width) {
        V s0[Parts], s1[Parts], s2[Parts];
        sums(i, s0, s1, s2);
        for (int k = 0; k < Rows; ++k)
            store(k, i, k < Split ? s0 : s1, k < Split ? s1 : s2);
    }
    return i;
}

// Target rows that share source rows (PPSharedRows). Blend is a callable template <Rows, Split>
// for 2 to 4 rows that makes the first pixels of every row and returns their count; rest(k, done)
// makes the rest of row k from done on, and all of each row in counts Blend has no instance for.
template <typename Blend, typename Rest>
inline void ppBlendSharedRows(const PPSharedRows& s, Blend&& blend, Rest&& rest)
{
    int64_t done = 0;
    switch (s.rows * 8 + s.split) {
    case 2 * 8 + 1: done = blend.template operator()<2, 1>(); break;
    case 2 * 8 + 2: done = blend.template operator()<2, 2>(); break;
    case 3 * 8 + 1: done = blend.template operator()<3, 1>(); break;
    case 3 * 8 + 2: done = blend.template operator()<3, 2>(); break;
    case 3 * 8 + 3: done = blend.template operator()<3, 3>(); break;
    case 4 * 8 + 1: done = blend.template operator()<4, 1>(); break;
    case 4 * 8 + 2: done = blend.template operator()<4, 2>(); break;
    case 4 * 8 + 3: done = blend.template operator()<4, 3>(); break;
    case 4 * 8 + 4: done = blend.template operator()<4, 4>(); break;
    default: break;
    }
    for (int k = 0; k < s.rows; ++k)
        rest(k, done);
}

// ppBlendSharedRows for four-byte pixels: the rest of each row by the one-row blend.
template <typename Blend>
inline void ppBlendSharedRows4(const PPSharedRows& s, const int32_t* off, const uint32_t* w, int64_t n,
                               PPRowGroups groups, Blend&& blend)
{
    ppBlendSharedRows(s, blend, [&](int k, int64_t done) {
        if (done < n)
            PPBlendRow4Sse41(s.out + k * s.step + 4 * done, s.top(k), s.bottom(k), off + done, w + 4 * done, n - done,
                             s.fy[k], PPRowGroups{groups.base + done / 2, groups.shuffle + 16 * done});
    });
}

// ppBlendSharedRows for planes: the rest of each row by row, the one-row blend of the caller's level.
template <typename Blend>
inline void ppBlendSharedPlaneRows(const PPSharedRows& s, const int32_t* off, const int32_t* fx, int64_t n,
                                   PPRowGroups groups, PPPlaneRowFn row, Blend&& blend)
{
    ppBlendSharedRows(s, blend, [&](int k, int64_t done) {
        if (done < n)
            row(s.out + k * s.step + done, s.top(k), s.bottom(k), off + done, fx + done, n - done, s.fy[k],
                PPRowGroups{groups.base + done / 4, groups.shuffle + 4 * done});
    });
}

#endif

#endif
