// The bilinear rows of PPScaleBlend.h with SSE4.1: two target pixels per register, each channel
// in a 32-bit lane.
//
// Per channel: the horizontal sums left * (4096 - fx) + right * fx of both source rows come from
// one multiply-add of 16-bit pairs (below 2^20), then top * 4096 + (bottom - top) * fy in 32-bit
// lanes. That sum is below 2^32 and equal to the portable one, which wraps the same way, so the
// rounded shift by 24 gives the portable byte.
#include "PPScaleBlend.h"

#include "PPCpu.h"
#include "PPScaleBlendLanes.h"

#if KPV_HAVE_X86_SIMD

#include <immintrin.h>

#include <cstring>

namespace {

KPV_TARGET_SSE41 inline __m128i vertical(__m128i top, __m128i bottom, __m128i fy)
{
    const __m128i sum = _mm_add_epi32(_mm_slli_epi32(top, 12), _mm_mullo_epi32(_mm_sub_epi32(bottom, top), fy));
    return _mm_srli_epi32(_mm_add_epi32(sum, _mm_set1_epi32(1 << 23)), 24);
}

// The horizontal sums of target pixels i and j (j may equal i) in one source row: per channel
// left * (4096 - fx) + right * fx in a 32-bit lane, four lanes per pixel. A pair that starts a
// group which fits in 16 bytes is read with one load and two shuffles.
KPV_TARGET_SSE41 inline void sumsPair(const uint8_t* r, const int32_t* off, const uint32_t* w, int64_t i, int64_t j,
                                      __m128i shuffle, PPRowGroups groups, __m128i* si, __m128i* sj)
{
    __m128i pi, pj;
    const int32_t base = j == i + 1 && !(i & 1) ? groups.base[i / 2] : -1;
    if (base >= 0) {
        const __m128i p = _mm_loadu_si128(reinterpret_cast<const __m128i*>(r + base));
        pi = _mm_shuffle_epi8(p, _mm_loadu_si128(reinterpret_cast<const __m128i*>(groups.shuffle + 16 * i)));
        pj = _mm_shuffle_epi8(p, _mm_loadu_si128(reinterpret_cast<const __m128i*>(groups.shuffle + 16 * i + 16)));
    } else {
        const __m128i p = _mm_shuffle_epi8(ppWindowPair(r, off[i], off[j]), shuffle);
        pi = _mm_cvtepu8_epi16(p);
        pj = _mm_unpackhi_epi8(p, _mm_setzero_si128());
    }
    *si = _mm_madd_epi16(pi, _mm_loadu_si128(reinterpret_cast<const __m128i*>(w + 4 * i)));
    *sj = _mm_madd_epi16(pj, _mm_loadu_si128(reinterpret_cast<const __m128i*>(w + 4 * j)));
}

// Target pixels i and j (j may equal i): eight 16-bit channels, pixel i first.
KPV_TARGET_SSE41 inline __m128i blendTwo(const uint8_t* r0, const uint8_t* r1, const int32_t* off, const uint32_t* w,
                                         int64_t i, int64_t j, __m128i shuffle, __m128i fy, PPRowGroups groups)
{
    __m128i ti, tj, bi, bj;
    sumsPair(r0, off, w, i, j, shuffle, groups, &ti, &tj);
    sumsPair(r1, off, w, i, j, shuffle, groups, &bi, &bj);
    return _mm_packus_epi32(vertical(ti, bi, fy), vertical(tj, bj, fy));
}

// PPBlendRows4Sse41 for fixed counts: four target pixels per step, the sums of each source row
// formed once for all rows.
template <int Rows, int Split>
KPV_TARGET_SSE41 int64_t blendRows(PPSharedRows s, const int32_t* off, const uint32_t* w, int64_t n,
                                   PPRowGroups groups)
{
    const __m128i shuffle = ppPairShuffle(4);
    __m128i fy[Rows];
    for (int k = 0; k < Rows; ++k)
        fy[k] = _mm_set1_epi32(static_cast<int>(s.fy[k]));
    const uint8_t *r0 = s.row[0], *r1 = s.row[1], *r2 = s.row[2];
    return ppSharedRowsWalk<__m128i, Rows, Split, 4, 4>(
        n,
        [&](int64_t i, __m128i* s0, __m128i* s1, __m128i* s2) KPV_TARGET_SSE41 {
            for (int k = 0; k < 2; ++k) {
                sumsPair(r0, off, w, i + 2 * k, i + 2 * k + 1, shuffle, groups, &s0[2 * k], &s0[2 * k + 1]);
                sumsPair(r1, off, w, i + 2 * k, i + 2 * k + 1, shuffle, groups, &s1[2 * k], &s1[2 * k + 1]);
                if constexpr (Split < Rows)
                    sumsPair(r2, off, w, i + 2 * k, i + 2 * k + 1, shuffle, groups, &s2[2 * k], &s2[2 * k + 1]);
            }
        },
        [&](int k, int64_t i, const __m128i* top, const __m128i* bottom) KPV_TARGET_SSE41 {
            const __m128i px = _mm_packus_epi16(
                _mm_packus_epi32(vertical(top[0], bottom[0], fy[k]), vertical(top[1], bottom[1], fy[k])),
                _mm_packus_epi32(vertical(top[2], bottom[2], fy[k]), vertical(top[3], bottom[3], fy[k])));
            _mm_storeu_si128(reinterpret_cast<__m128i*>(s.out + k * s.step + 4 * i), px);
        });
}

template <int Bpp>
KPV_TARGET_SSE41 inline void blendRow(uint8_t* out, const uint8_t* r0, const uint8_t* r1, const int32_t* off,
                                      const uint32_t* w, int64_t n, uint32_t fyIn, PPRowGroups groups)
{
    const __m128i shuffle = ppPairShuffle(Bpp);
    const __m128i fy = _mm_set1_epi32(static_cast<int>(fyIn));
    // Three-byte pixels: the four bytes of each lane to three, twelve bytes in all.
    const __m128i narrow = _mm_setr_epi8(0, 1, 2, 4, 5, 6, 8, 9, 10, 12, 13, 14, -1, -1, -1, -1);
    int64_t i = 0;
    for (; i + 4 <= n; i += 4) {
        __m128i px = _mm_packus_epi16(blendTwo(r0, r1, off, w, i, i + 1, shuffle, fy, groups),
                                      blendTwo(r0, r1, off, w, i + 2, i + 3, shuffle, fy, groups));
        if constexpr (Bpp == 4) {
            _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 4 * i), px);
        } else {
            px = _mm_shuffle_epi8(px, narrow);
            _mm_storel_epi64(reinterpret_cast<__m128i*>(out + 3 * i), px);
            const uint32_t tail = static_cast<uint32_t>(_mm_extract_epi32(px, 2));
            std::memcpy(out + 3 * i + 8, &tail, 4);
        }
    }
    for (; i < n; i += 2) {
        const int64_t j = i + 1 < n ? i + 1 : i;
        const __m128i px =
            _mm_packus_epi16(blendTwo(r0, r1, off, w, i, j, shuffle, fy, groups), _mm_setzero_si128());
        uint8_t bytes[8];
        _mm_storel_epi64(reinterpret_cast<__m128i*>(bytes), px);
        for (int64_t k = i; k <= j; ++k)
            std::memcpy(out + Bpp * k, bytes + 4 * (k - i), Bpp);
    }
}

// ---- Planes ----

// The windows of four target pixels in one row: from one 16-byte load when the group fits in it,
// else one load each.
KPV_TARGET_SSE41 inline __m128i planeWindows(const uint8_t* row, const int32_t* off, int32_t base, const uint8_t* shuffle)
{
    if (base >= 0)
        return _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(row + base)),
                                _mm_loadu_si128(reinterpret_cast<const __m128i*>(shuffle)));
    return ppWord4(row, off);
}

// PPBlendPlaneRowsSse41 for fixed counts: eight target samples per step, the horizontal steps of
// each source row formed once for all rows.
template <int Rows, int Split>
KPV_TARGET_SSE41 int64_t planeRows(PPSharedRows s, const int32_t* off, const int32_t* fxs, int64_t n,
                                   PPRowGroups groups)
{
    __m128i fy[Rows];
    for (int k = 0; k < Rows; ++k)
        fy[k] = _mm_set1_epi32(static_cast<int>(s.fy[k]));
    const uint8_t *r0 = s.row[0], *r1 = s.row[1], *r2 = s.row[2];
    return ppSharedRowsWalk<__m128i, Rows, Split, 8, 2>(
        n,
        [&](int64_t i, __m128i* s0, __m128i* s1, __m128i* s2) KPV_TARGET_SSE41 {
            for (int h = 0; h < 2; ++h) {
                const int64_t j = i + 4 * h;
                const int32_t base = groups.base[j / 4];
                const uint8_t* shuffle = groups.shuffle + 4 * j;
                const __m128i fx = _mm_loadu_si128(reinterpret_cast<const __m128i*>(fxs + j));
                s0[h] = ppPlaneAcross(planeWindows(r0, off + j, base, shuffle), fx);
                s1[h] = ppPlaneAcross(planeWindows(r1, off + j, base, shuffle), fx);
                if constexpr (Split < Rows)
                    s2[h] = ppPlaneAcross(planeWindows(r2, off + j, base, shuffle), fx);
            }
        },
        [&](int k, int64_t i, const __m128i* top, const __m128i* bottom) KPV_TARGET_SSE41 {
            const __m128i px =
                _mm_packus_epi32(ppPlaneDown(top[0], bottom[0], fy[k]), ppPlaneDown(top[1], bottom[1], fy[k]));
            _mm_storel_epi64(reinterpret_cast<__m128i*>(s.out + k * s.step + i), _mm_packus_epi16(px, px));
        });
}

} // namespace

KPV_TARGET_SSE41 void PPBlendPlaneRowsSse41(const PPSharedRows& s, const int32_t* off, const int32_t* fx, int64_t n,
                                            PPRowGroups groups)
{
    ppBlendSharedPlaneRows(s, off, fx, n, groups, PPBlendPlaneRowSse41, [&]<int Rows, int Split>() KPV_TARGET_SSE41 {
        return planeRows<Rows, Split>(s, off, fx, n, groups);
    });
}

KPV_TARGET_SSE41 void PPBlendPlaneRowSse41(uint8_t* out, const uint8_t* r0, const uint8_t* r1, const int32_t* off,
                                           const int32_t* fx, int64_t n, uint32_t fyIn, PPRowGroups groups)
{
    const __m128i fy = _mm_set1_epi32(static_cast<int>(fyIn));
    const auto four = [&](int64_t i) KPV_TARGET_SSE41 {
        const int32_t base = groups.base[i / 4];
        const uint8_t* shuffle = groups.shuffle + 4 * i;
        return ppPlaneFour(planeWindows(r0, off + i, base, shuffle), planeWindows(r1, off + i, base, shuffle),
                           _mm_loadu_si128(reinterpret_cast<const __m128i*>(fx + i)), fy);
    };
    int64_t i = 0;
    for (; i + 8 <= n; i += 8) {
        const __m128i px = _mm_packus_epi32(four(i), four(i + 4));
        _mm_storel_epi64(reinterpret_cast<__m128i*>(out + i), _mm_packus_epi16(px, px));
    }
    for (; i < n; ++i) { // the last few one at a time, each with its own window in all four lanes
        const __m128i w0 = _mm_set1_epi32(ppWord(r0 + off[i])), w1 = _mm_set1_epi32(ppWord(r1 + off[i]));
        out[i] = static_cast<uint8_t>(_mm_cvtsi128_si32(ppPlaneFour(w0, w1, _mm_set1_epi32(fx[i]), fy)));
    }
}

KPV_TARGET_SSE41 void PPCopyRowSse41(uint8_t* out, const uint8_t* row, PPRowGroups groups, int64_t count, int bytes)
{
    for (int64_t g = 0; g < count; ++g) {
        const int32_t base = groups.base[g];
        if (base < 0)
            continue;
        const __m128i px = _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(row + base)),
                                            _mm_loadu_si128(reinterpret_cast<const __m128i*>(groups.shuffle + 16 * g)));
        if (bytes == 16)
            _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 16 * g), px);
        else
            _mm_storel_epi64(reinterpret_cast<__m128i*>(out + 8 * g), px);
    }
}

KPV_TARGET_SSE41 void PPCopyRow4Sse41(uint8_t* out, int64_t step, int64_t rows, const uint8_t* row, const int32_t* from,
                                      int64_t n, PPRowGroups groups, PPRowPrefetch next)
{
    ppCopyRow4<4>(out, step, rows, row, from, n, next, [&](int64_t i, int64_t count) KPV_TARGET_SSE41 {
        const int32_t base = groups.base[i / 4];
        const __m128i px =
            base >= 0 ? _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(row + base)),
                                         _mm_loadu_si128(reinterpret_cast<const __m128i*>(groups.shuffle + 4 * i)))
                      : ppWord4(row, from + i);
        for (int64_t k = 0; k < count; ++k)
            _mm_storeu_si128(reinterpret_cast<__m128i*>(out + k * step + 4 * i), px);
    });
}

KPV_TARGET_SSE41 void PPBlendRow4Sse41(uint8_t* out, const uint8_t* r0, const uint8_t* r1, const int32_t* off,
                                       const uint32_t* w, int64_t n, uint32_t fy, PPRowGroups groups)
{
    blendRow<4>(out, r0, r1, off, w, n, fy, groups);
}

KPV_TARGET_SSE41 void PPBlendRows4Sse41(const PPSharedRows& s, const int32_t* off, const uint32_t* w, int64_t n,
                                        PPRowGroups groups)
{
    ppBlendSharedRows4(s, off, w, n, groups, [&]<int Rows, int Split>() KPV_TARGET_SSE41 {
        return blendRows<Rows, Split>(s, off, w, n, groups);
    });
}


KPV_TARGET_SSE41 void PPBlendRow3Sse41(uint8_t* out, const uint8_t* r0, const uint8_t* r1, const int32_t* off,
                                       const uint32_t* w, int64_t n, uint32_t fy, PPRowGroups groups)
{
    blendRow<3>(out, r0, r1, off, w, n, fy, groups);
}

#endif
