// The bilinear rows of PPScaleBlend.h with AVX2: the arithmetic of the SSE4.1 rows, two pixels
// per 128-bit half, eight target pixels per step. The last few pixels of a row go through the
// SSE4.1 row.
#include "PPScaleBlend.h"

#include "PPCpu.h"
#include "PPScaleBlendLanes.h"

#if KPV_HAVE_X86_SIMD

#include <immintrin.h>

#include <cstring>

namespace {

// The horizontal sums of target pixels i and i + 1 (i even) in one source row, as eight 32-bit
// channels, pixel i in the lower half. A pair that fits in 16 bytes is read with one load.
KPV_TARGET_AVX2 inline __m256i sumsOne(const uint8_t* r, const int32_t* off, const uint32_t* w, int64_t i,
                                       __m128i shuffle, PPRowGroups groups)
{
    __m256i p;
    const int32_t base = groups.base[i / 2];
    if (base >= 0)
        p = _mm256_shuffle_epi8(
            _mm256_broadcastsi128_si256(_mm_loadu_si128(reinterpret_cast<const __m128i*>(r + base))),
            _mm256_loadu_si256(reinterpret_cast<const __m256i*>(groups.shuffle + 16 * i)));
    else
        p = _mm256_cvtepu8_epi16(_mm_shuffle_epi8(ppWindowPair(r, off[i], off[i + 1]), shuffle));
    return _mm256_madd_epi16(p, _mm256_loadu_si256(reinterpret_cast<const __m256i*>(w + 4 * i)));
}

// The same in both source rows of a target row (the table loads are shared once inlined).
KPV_TARGET_AVX2 inline void sumsTwo(const uint8_t* r0, const uint8_t* r1, const int32_t* off, const uint32_t* w,
                                    int64_t i, __m128i shuffle, PPRowGroups groups, __m256i* top, __m256i* bottom)
{
    *top = sumsOne(r0, off, w, i, shuffle, groups);
    *bottom = sumsOne(r1, off, w, i, shuffle, groups);
}

// The vertical step on horizontal sums: the rounded top * 4096 + (bottom - top) * fy >> 24.
KPV_TARGET_AVX2 inline __m256i vertical(__m256i top, __m256i bottom, __m256i fy)
{
    const __m256i sum =
        _mm256_add_epi32(_mm256_slli_epi32(top, 12), _mm256_mullo_epi32(_mm256_sub_epi32(bottom, top), fy));
    return _mm256_srli_epi32(_mm256_add_epi32(sum, _mm256_set1_epi32(1 << 23)), 24);
}

// Target pixels i and i + 1 (i even) as eight 32-bit channels, pixel i in the lower half.
KPV_TARGET_AVX2 inline __m256i blendTwo(const uint8_t* r0, const uint8_t* r1, const int32_t* off, const uint32_t* w,
                                        int64_t i, __m128i shuffle, __m256i fy, PPRowGroups groups)
{
    __m256i top, bottom;
    sumsTwo(r0, r1, off, w, i, shuffle, groups, &top, &bottom);
    return vertical(top, bottom, fy);
}

// Four registers of eight 32-bit channels (pixels 0-1, 2-3, 4-5, 6-7) as 32 bytes in order.
KPV_TARGET_AVX2 inline __m256i packEight(__m256i a, __m256i b, __m256i c, __m256i d)
{
    // Halves: (0, 2 | 1, 3) and (4, 6 | 5, 7) after the first pack, (0, 2, 4, 6 | 1, 3, 5, 7) after
    // the second; the permutation puts the pixels back in order.
    return _mm256_permutevar8x32_epi32(_mm256_packus_epi16(_mm256_packus_epi32(a, b), _mm256_packus_epi32(c, d)),
                                       _mm256_setr_epi32(0, 4, 1, 5, 2, 6, 3, 7));
}

// Eight target pixels from i on, four bytes each, in order.
KPV_TARGET_AVX2 inline __m256i blendEight(const uint8_t* r0, const uint8_t* r1, const int32_t* off, const uint32_t* w,
                                          int64_t i, __m128i shuffle, __m256i fy, PPRowGroups groups)
{
    return packEight(blendTwo(r0, r1, off, w, i, shuffle, fy, groups),
                     blendTwo(r0, r1, off, w, i + 2, shuffle, fy, groups),
                     blendTwo(r0, r1, off, w, i + 4, shuffle, fy, groups),
                     blendTwo(r0, r1, off, w, i + 6, shuffle, fy, groups));
}

// The windows of target pixels i .. i + 7 in one row, a group of four per half: one 16-byte load
// and a shuffle when the group fits in it, else one load each (gathers are slower here).
KPV_TARGET_AVX2 inline __m256i planeWindows8(const uint8_t* row, const int32_t* off, int64_t i, PPRowGroups g)
{
    const int32_t b0 = g.base[i / 4], b1 = g.base[i / 4 + 1];
    if (b0 >= 0 && b1 >= 0) {
        const __m256i bytes = _mm256_inserti128_si256(
            _mm256_castsi128_si256(_mm_loadu_si128(reinterpret_cast<const __m128i*>(row + b0))),
            _mm_loadu_si128(reinterpret_cast<const __m128i*>(row + b1)), 1);
        return _mm256_shuffle_epi8(bytes, _mm256_loadu_si256(reinterpret_cast<const __m256i*>(g.shuffle + 4 * i)));
    }
    return _mm256_inserti128_si256(_mm256_castsi128_si256(ppWord4(row, off + i)), ppWord4(row, off + i + 4), 1);
}

// The horizontal and vertical steps of ppPlaneAcross and ppPlaneDown on both halves at once.
KPV_TARGET_AVX2 inline __m256i planeAcross8(__m256i w, __m256i fx)
{
    const __m256i a = _mm256_and_si256(_mm256_srli_epi32(w, 16), _mm256_set1_epi32(0xFF)), b = _mm256_srli_epi32(w, 24);
    return _mm256_add_epi32(_mm256_slli_epi32(a, 16), _mm256_mullo_epi32(_mm256_sub_epi32(b, a), fx));
}

KPV_TARGET_AVX2 inline __m256i planeDown8(__m256i top, __m256i bottom, __m256i fy)
{
    const __m256i diff = _mm256_sub_epi32(bottom, top);
    const __m256i even = _mm256_srli_epi64(_mm256_mul_epi32(diff, fy), 16);
    const __m256i odd = _mm256_slli_epi64(_mm256_mul_epi32(_mm256_srli_epi64(diff, 32), fy), 16);
    const __m256i step = _mm256_blend_epi16(even, odd, 0xCC);
    return _mm256_srai_epi32(_mm256_add_epi32(_mm256_add_epi32(top, step), _mm256_set1_epi32(32768)), 16);
}

// Eight target samples of a plane: the arithmetic of ppPlaneFour on both halves at once.
KPV_TARGET_AVX2 inline __m256i planeEight(const uint8_t* r0, const uint8_t* r1, const int32_t* off, const int32_t* fxs,
                                          int64_t i, PPRowGroups g, __m256i fy)
{
    const __m256i fx = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(fxs + i));
    return planeDown8(planeAcross8(planeWindows8(r0, off, i, g), fx), planeAcross8(planeWindows8(r1, off, i, g), fx),
                      fy);
}

// Sixteen target samples (two registers of eight, in order) as bytes.
KPV_TARGET_AVX2 inline __m128i planeBytes(__m256i a, __m256i b)
{
    // Halves (0-3, 8-11 | 4-7, 12-15) after the packs; the permutation restores the order.
    const __m256i px = _mm256_packus_epi32(a, b);
    return _mm256_castsi256_si128(
        _mm256_permutevar8x32_epi32(_mm256_packus_epi16(px, px), _mm256_setr_epi32(0, 4, 1, 5, 0, 4, 1, 5)));
}

// PPBlendPlaneRowsAvx2 for fixed counts: sixteen target samples per step, the horizontal steps of
// each source row formed once for all rows.
template <int Rows, int Split>
KPV_TARGET_AVX2 int64_t planeRows(PPSharedRows s, const int32_t* off, const int32_t* fxs, int64_t n,
                                  PPRowGroups groups)
{
    __m256i fy[Rows];
    for (int k = 0; k < Rows; ++k)
        fy[k] = _mm256_set1_epi32(static_cast<int>(s.fy[k]));
    const uint8_t *r0 = s.row[0], *r1 = s.row[1], *r2 = s.row[2];
    return ppSharedRowsWalk<__m256i, Rows, Split, 16, 2>(
        n,
        [&](int64_t i, __m256i* s0, __m256i* s1, __m256i* s2) KPV_TARGET_AVX2 {
            for (int h = 0; h < 2; ++h) {
                const __m256i fx = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(fxs + i + 8 * h));
                s0[h] = planeAcross8(planeWindows8(r0, off, i + 8 * h, groups), fx);
                s1[h] = planeAcross8(planeWindows8(r1, off, i + 8 * h, groups), fx);
                if constexpr (Split < Rows)
                    s2[h] = planeAcross8(planeWindows8(r2, off, i + 8 * h, groups), fx);
            }
        },
        [&](int k, int64_t i, const __m256i* top, const __m256i* bottom) KPV_TARGET_AVX2 {
            _mm_storeu_si128(reinterpret_cast<__m128i*>(s.out + k * s.step + i),
                             planeBytes(planeDown8(top[0], bottom[0], fy[k]), planeDown8(top[1], bottom[1], fy[k])));
        });
}

} // namespace

KPV_TARGET_AVX2 void PPCopyRow4Avx2(uint8_t* out, int64_t step, int64_t rows, const uint8_t* row, const int32_t* from,
                                    int64_t n, PPRowGroups groups, PPRowPrefetch next)
{
    ppCopyRow4<8>(out, step, rows, row, from, n, next, [&](int64_t i, int64_t count) KPV_TARGET_AVX2 {
        const int32_t base = groups.base[i / 8];
        __m256i px;
        if (base >= 0) {
            const __m256i words =
                _mm256_cvtepu8_epi32(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(groups.shuffle + i)));
            px = _mm256_permutevar8x32_epi32(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(row + base)), words);
        } else {
            px = _mm256_i32gather_epi32(reinterpret_cast<const int*>(row),
                                        _mm256_loadu_si256(reinterpret_cast<const __m256i*>(from + i)), 1);
        }
        for (int64_t k = 0; k < count; ++k)
            _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + k * step + 4 * i), px);
    });
}

KPV_TARGET_AVX2 void PPBlendPlaneRowAvx2(uint8_t* out, const uint8_t* r0, const uint8_t* r1, const int32_t* off,
                                         const int32_t* fx, int64_t n, uint32_t fyIn, PPRowGroups groups)
{
    const __m256i fy = _mm256_set1_epi32(static_cast<int>(fyIn));
    int64_t i = 0;
    for (; i + 16 <= n; i += 16) {
        const __m256i a = planeEight(r0, r1, off, fx, i, groups, fy);
        const __m256i b = planeEight(r0, r1, off, fx, i + 8, groups, fy);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + i), planeBytes(a, b));
    }
    if (i < n) {
        const PPRowGroups rest{groups.base + i / 4, groups.shuffle + 4 * i};
        PPBlendPlaneRowSse41(out + i, r0, r1, off + i, fx + i, n - i, fyIn, rest);
    }
}

KPV_TARGET_AVX2 void PPBlendPlaneRowsAvx2(const PPSharedRows& s, const int32_t* off, const int32_t* fx, int64_t n,
                                          PPRowGroups groups)
{
    ppBlendSharedPlaneRows(s, off, fx, n, groups, PPBlendPlaneRowAvx2, [&]<int Rows, int Split>() KPV_TARGET_AVX2 {
        return planeRows<Rows, Split>(s, off, fx, n, groups);
    });
}

KPV_TARGET_AVX2 void PPBlendRow4Avx2(uint8_t* out, const uint8_t* r0, const uint8_t* r1, const int32_t* off,
                                     const uint32_t* w, int64_t n, uint32_t fyIn, PPRowGroups groups)
{
    const __m128i shuffle = ppPairShuffle(4);
    const __m256i fy = _mm256_set1_epi32(static_cast<int>(fyIn));
    int64_t i = 0;
    for (; i + 8 <= n; i += 8)
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + 4 * i), blendEight(r0, r1, off, w, i, shuffle, fy, groups));
    if (i < n)
        PPBlendRow4Sse41(out + 4 * i, r0, r1, off + i, w + 4 * i, n - i, fyIn,
                          PPRowGroups{groups.base + i / 2, groups.shuffle + 16 * i});
}

namespace {

// PPBlendRows4Avx2 for fixed counts, so that the weights and sums stay in registers.
template <int Rows, int Split>
KPV_TARGET_AVX2 int64_t blendRows(PPSharedRows s, const int32_t* off, const uint32_t* w, int64_t n,
                                  PPRowGroups groups)
{
    const __m128i shuffle = ppPairShuffle(4);
    __m256i fy[Rows];
    for (int k = 0; k < Rows; ++k)
        fy[k] = _mm256_set1_epi32(static_cast<int>(s.fy[k]));
    const uint8_t *r0 = s.row[0], *r1 = s.row[1], *r2 = s.row[2];
    return ppSharedRowsWalk<__m256i, Rows, Split, 8, 4>(
        n,
        [&](int64_t i, __m256i* s0, __m256i* s1, __m256i* s2) KPV_TARGET_AVX2 {
            for (int k = 0; k < 4; ++k) {
                sumsTwo(r0, r1, off, w, i + 2 * k, shuffle, groups, &s0[k], &s1[k]);
                if constexpr (Split < Rows)
                    s2[k] = sumsOne(r2, off, w, i + 2 * k, shuffle, groups);
            }
        },
        [&](int k, int64_t i, const __m256i* top, const __m256i* bottom) KPV_TARGET_AVX2 {
            _mm256_storeu_si256(reinterpret_cast<__m256i*>(s.out + k * s.step + 4 * i),
                                packEight(vertical(top[0], bottom[0], fy[k]), vertical(top[1], bottom[1], fy[k]),
                                          vertical(top[2], bottom[2], fy[k]), vertical(top[3], bottom[3], fy[k])));
        });
}

} // namespace

KPV_TARGET_AVX2 void PPBlendRows4Avx2(const PPSharedRows& s, const int32_t* off, const uint32_t* w, int64_t n,
                                      PPRowGroups groups)
{
    ppBlendSharedRows4(s, off, w, n, groups, [&]<int Rows, int Split>() KPV_TARGET_AVX2 {
        return blendRows<Rows, Split>(s, off, w, n, groups);
    });
}

KPV_TARGET_AVX2 void PPBlendRow3Avx2(uint8_t* out, const uint8_t* r0, const uint8_t* r1, const int32_t* off,
                                     const uint32_t* w, int64_t n, uint32_t fyIn, PPRowGroups groups)
{
    const __m128i shuffle = ppPairShuffle(3);
    const __m256i fy = _mm256_set1_epi32(static_cast<int>(fyIn));
    // Each half's four pixels to twelve bytes, then the two halves' bytes together.
    const __m256i narrow = _mm256_setr_epi8(0, 1, 2, 4, 5, 6, 8, 9, 10, 12, 13, 14, -1, -1, -1, -1, 0, 1, 2, 4, 5, 6,
                                            8, 9, 10, 12, 13, 14, -1, -1, -1, -1);
    const __m256i join = _mm256_setr_epi32(0, 1, 2, 4, 5, 6, 7, 7);
    int64_t i = 0;
    for (; i + 8 <= n; i += 8) {
        const __m256i px = _mm256_permutevar8x32_epi32(
            _mm256_shuffle_epi8(blendEight(r0, r1, off, w, i, shuffle, fy, groups), narrow), join);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 3 * i), _mm256_castsi256_si128(px));
        _mm_storel_epi64(reinterpret_cast<__m128i*>(out + 3 * i + 16), _mm256_extracti128_si256(px, 1));
    }
    if (i < n)
        PPBlendRow3Sse41(out + 3 * i, r0, r1, off + i, w + 4 * i, n - i, fyIn,
                          PPRowGroups{groups.base + i / 2, groups.shuffle + 16 * i});
}

#endif
