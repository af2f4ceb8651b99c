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

template <int J> inline __m128i widen(__m128i v) { return _mm_cvtepu8_epi32(_mm_srli_si128(v, 4 * J)); }

inline __m128i narrow(__m128i a, __m128i b, __m128i c, __m128i d)
{
    return _mm_packus_epi16(_mm_packs_epi32(_mm_srai_epi32(a, 16), _mm_srai_epi32(b, 16)),
                            _mm_packs_epi32(_mm_srai_epi32(c, 16), _mm_srai_epi32(d, 16)));
}

// The chroma terms of four samples.
inline void terms(const Coefs& k, __m128i u, __m128i v, __m128i& r, __m128i& g, __m128i& b)
{
    r = _mm_add_epi32(_mm_mullo_epi32(v, k.rCr), k.kr);
    g = _mm_add_epi32(_mm_add_epi32(_mm_mullo_epi32(u, k.gCb), _mm_mullo_epi32(v, k.gCr)), k.kg);
    b = _mm_add_epi32(_mm_mullo_epi32(u, k.bCb), k.kb);
}

void compute(const Coefs& k, __m128i luma, __m128i cb, __m128i cr, bool half, __m128i& r, __m128i& g, __m128i& b)
{
    const __m128i y[4] = {_mm_mullo_epi32(widen<0>(luma), k.gy), _mm_mullo_epi32(widen<1>(luma), k.gy),
                          _mm_mullo_epi32(widen<2>(luma), k.gy), _mm_mullo_epi32(widen<3>(luma), k.gy)};
    __m128i rt[4], gt[4], bt[4];
    if (half) {
        __m128i r0, g0, b0, r1, g1, b1;
        terms(k, widen<0>(cb), widen<0>(cr), r0, g0, b0);
        terms(k, widen<1>(cb), widen<1>(cr), r1, g1, b1);
        // Each sample serves two pixels.
        rt[0] = _mm_unpacklo_epi32(r0, r0), rt[1] = _mm_unpackhi_epi32(r0, r0);
        rt[2] = _mm_unpacklo_epi32(r1, r1), rt[3] = _mm_unpackhi_epi32(r1, r1);
        gt[0] = _mm_unpacklo_epi32(g0, g0), gt[1] = _mm_unpackhi_epi32(g0, g0);
        gt[2] = _mm_unpacklo_epi32(g1, g1), gt[3] = _mm_unpackhi_epi32(g1, g1);
        bt[0] = _mm_unpacklo_epi32(b0, b0), bt[1] = _mm_unpackhi_epi32(b0, b0);
        bt[2] = _mm_unpacklo_epi32(b1, b1), bt[3] = _mm_unpackhi_epi32(b1, b1);
    } else {
        terms(k, widen<0>(cb), widen<0>(cr), rt[0], gt[0], bt[0]);
        terms(k, widen<1>(cb), widen<1>(cr), rt[1], gt[1], bt[1]);
        terms(k, widen<2>(cb), widen<2>(cr), rt[2], gt[2], bt[2]);
        terms(k, widen<3>(cb), widen<3>(cr), rt[3], gt[3], bt[3]);
    }
    r = narrow(_mm_add_epi32(y[0], rt[0]), _mm_add_epi32(y[1], rt[1]), _mm_add_epi32(y[2], rt[2]),
               _mm_add_epi32(y[3], rt[3]));
    g = narrow(_mm_add_epi32(y[0], gt[0]), _mm_add_epi32(y[1], gt[1]), _mm_add_epi32(y[2], gt[2]),
               _mm_add_epi32(y[3], gt[3]));
    b = narrow(_mm_add_epi32(y[0], bt[0]), _mm_add_epi32(y[1], bt[1]), _mm_add_epi32(y[2], bt[2]),
               _mm_add_epi32(y[3], bt[3]));
}

constexpr int64_t kBlock = 16;

struct Stores;
template <int Bytes> void store16(const Stores& s, __m128i r, __m128i g, __m128i b, uint8_t* out);
void chroma16(const uint8_t* cb, const uint8_t* cr, const uint8_t* pairs, int64_t c, int shs, int stepC, __m128i& u,
              __m128i& v);

template <int Bytes>
void block(const Coefs& k, const Stores& s, uint8_t* out, const uint8_t* y, const uint8_t* cb, const uint8_t* cr,
           const uint8_t* pairs, int64_t c, int shs, int stepC)
{
    __m128i u, v, r, g, b;
    chroma16(cb, cr, pairs, c, shs, stepC, u, v);
    compute(k, _mm_loadu_si128(reinterpret_cast<const __m128i*>(y + c)), u, v, shs != 0, r, g, b);
    store16<Bytes>(s, r, g, b, out);
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
