// The SSE4.1 level of the vector YUV to RGB rows: four 32-bit sums per instruction.
#include "PPSimdYuvRgb.h"

#include "PPCpu.h"

#include <algorithm>
#include <cstring>

#if KPV_HAVE_X86_SIMD
#include <immintrin.h>

#pragma clang attribute push(__attribute__((target("sse4.1,ssse3"))), apply_to = function)

namespace {

struct Coefs {
    __m128i gy, rCr, gCb, gCr, bCb, kr, kg, kb;
    explicit Coefs(const PPYuvLinear& k)
        : gy(_mm_set1_epi32(k.gy)), rCr(_mm_set1_epi32(k.rCr)), gCb(_mm_set1_epi32(k.gCb)),
          gCr(_mm_set1_epi32(k.gCr)), bCb(_mm_set1_epi32(k.bCb)), kr(_mm_set1_epi32(k.kr)),
          kg(_mm_set1_epi32(k.kg)), kb(_mm_set1_epi32(k.kb))
    {
    }
};

// Four bytes of v widened to 32 bits: bytes At, At + S, At + 2S, At + 3S.
template <int At, int S> inline __m128i widen(__m128i v)
{
    constexpr auto b = [](int j) { return static_cast<char>(At + S * j); };
    return _mm_shuffle_epi8(v, _mm_setr_epi8(b(0), -1, -1, -1, b(1), -1, -1, -1, b(2), -1, -1, -1, b(3), -1, -1, -1));
}

// Sixteen pixels work as four groups of four 32-bit sums: the even pixels 0-6, the odd pixels 1-7,
// the even pixels 8-14 and the odd pixels 9-15. An even and an odd group share their chroma
// samples under half-width chroma, and the high halves of their sums (the shifted results, which
// always fit 16 bits) interleave back into pixel order with one blend.
inline __m128i narrow(__m128i even0, __m128i odd0, __m128i even1, __m128i odd1)
{
    const __m128i lo = _mm_blend_epi16(_mm_srli_epi32(even0, 16), odd0, 0xAA);
    const __m128i hi = _mm_blend_epi16(_mm_srli_epi32(even1, 16), odd1, 0xAA);
    return _mm_packus_epi16(lo, hi);
}

template <bool Half>
__attribute__((always_inline)) inline void computeOf(const Coefs& k, __m128i luma, __m128i cb, __m128i cr, __m128i& r,
                                                     __m128i& g, __m128i& b)
{
    const __m128i y[4] = {_mm_mullo_epi32(widen<0, 2>(luma), k.gy), _mm_mullo_epi32(widen<1, 2>(luma), k.gy),
                          _mm_mullo_epi32(widen<8, 2>(luma), k.gy), _mm_mullo_epi32(widen<9, 2>(luma), k.gy)};
    // The chroma samples of each group: with half-width chroma, samples 0-3 for the first two
    // groups and 4-7 for the last two.
    __m128i u[4], v[4];
    if constexpr (Half) {
        u[0] = u[1] = widen<0, 1>(cb), u[2] = u[3] = widen<4, 1>(cb);
        v[0] = v[1] = widen<0, 1>(cr), v[2] = v[3] = widen<4, 1>(cr);
    } else {
        u[0] = widen<0, 2>(cb), u[1] = widen<1, 2>(cb), u[2] = widen<8, 2>(cb), u[3] = widen<9, 2>(cb);
        v[0] = widen<0, 2>(cr), v[1] = widen<1, 2>(cr), v[2] = widen<8, 2>(cr), v[3] = widen<9, 2>(cr);
    }
    // One channel at a time from its chroma part term(j) of group j; under half-width chroma an
    // even group and the odd one beside it share the term.
    const auto channel = [&](auto term) {
        if constexpr (Half) {
            const __m128i t0 = term(0), t1 = term(2);
            return narrow(_mm_add_epi32(y[0], t0), _mm_add_epi32(y[1], t0), _mm_add_epi32(y[2], t1),
                          _mm_add_epi32(y[3], t1));
        }
        return narrow(_mm_add_epi32(y[0], term(0)), _mm_add_epi32(y[1], term(1)), _mm_add_epi32(y[2], term(2)),
                      _mm_add_epi32(y[3], term(3)));
    };
    r = channel([&](int j) { return _mm_add_epi32(_mm_mullo_epi32(v[j], k.rCr), k.kr); });
    g = channel([&](int j) {
        return _mm_add_epi32(_mm_add_epi32(_mm_mullo_epi32(u[j], k.gCb), _mm_mullo_epi32(v[j], k.gCr)), k.kg);
    });
    b = channel([&](int j) { return _mm_add_epi32(_mm_mullo_epi32(u[j], k.bCb), k.kb); });
}

void compute(const Coefs& k, __m128i luma, __m128i cb, __m128i cr, bool half, __m128i& r, __m128i& g, __m128i& b)
{
    if (half)
        computeOf<true>(k, luma, cb, cr, r, g, b);
    else
        computeOf<false>(k, luma, cb, cr, r, g, b);
}

constexpr int64_t kBlock = 16;

struct Stores;
template <int Bytes, int Order> void store16(const Stores& s, __m128i r, __m128i g, __m128i b, uint8_t* out);
void chroma16(const uint8_t* cb, const uint8_t* cr, const uint8_t* pairs, int64_t c, int shs, int stepC, __m128i& u,
              __m128i& v);

template <int Bytes, int Order>
void block(const Coefs& k, const Stores& s, uint8_t* out, const uint8_t* y, const uint8_t* cb, const uint8_t* cr,
           const uint8_t* pairs, int64_t c, int shs, int stepC)
{
    __m128i u, v, r, g, b;
    chroma16(cb, cr, pairs, c, shs, stepC, u, v);
    compute(k, _mm_loadu_si128(reinterpret_cast<const __m128i*>(y + c)), u, v, shs != 0, r, g, b);
    store16<Bytes, Order>(s, r, g, b, out);
}

} // namespace

#include "PPSimdYuvRgbRow.inc"

void PPYuvRowSSE41(const PPYuvLinear& k, const PPRgbPack& pack, uint8_t* out, const uint8_t* y, const uint8_t* cb,
                   const uint8_t* cr, int64_t c0, int64_t n, int shs, int stepC)
{
    row(k, pack, out, y, cb, cr, c0, n, shs, stepC);
}

#pragma clang attribute pop

#else

void PPYuvRowSSE41(const PPYuvLinear&, const PPRgbPack&, uint8_t*, const uint8_t*, const uint8_t*, const uint8_t*,
                   int64_t, int64_t, int, int)
{
}

#endif
