// The AVX2 level of the vector YUV to RGB rows: eight 32-bit sums per instruction.
#include "PPSimdYuvRgb.h"

#include "PPCpu.h"

#include <cstring>

#if KPV_HAVE_X86_SIMD
#include <immintrin.h>

#pragma clang attribute push(__attribute__((target("avx2"))), apply_to = function)

namespace {

struct Coefs {
    __m256i gy, rCr, gCb, gCr, bCb, kr, kg, kb;
    explicit Coefs(const PPYuvLinear& k)
        : gy(_mm256_set1_epi32(k.gy)), rCr(_mm256_set1_epi32(k.rCr)), gCb(_mm256_set1_epi32(k.gCb)),
          gCr(_mm256_set1_epi32(k.gCr)), bCb(_mm256_set1_epi32(k.bCb)), kr(_mm256_set1_epi32(k.kr)),
          kg(_mm256_set1_epi32(k.kg)), kb(_mm256_set1_epi32(k.kb))
    {
    }
};

// Sixteen 32-bit sums (pixels 0-7 in a, 8-15 in b) shifted, saturated and narrowed to bytes.
inline __m128i narrow(__m256i a, __m256i b)
{
    const __m256i words = _mm256_permute4x64_epi64(
        _mm256_packs_epi32(_mm256_srai_epi32(a, 16), _mm256_srai_epi32(b, 16)), _MM_SHUFFLE(3, 1, 2, 0));
    return _mm_packus_epi16(_mm256_castsi256_si128(words), _mm256_extracti128_si256(words, 1));
}

inline void terms(const Coefs& k, __m256i u, __m256i v, __m256i& r, __m256i& g, __m256i& b)
{
    r = _mm256_add_epi32(_mm256_mullo_epi32(v, k.rCr), k.kr);
    g = _mm256_add_epi32(_mm256_add_epi32(_mm256_mullo_epi32(u, k.gCb), _mm256_mullo_epi32(v, k.gCr)), k.kg);
    b = _mm256_add_epi32(_mm256_mullo_epi32(u, k.bCb), k.kb);
}

void compute(const Coefs& k, __m128i luma, __m128i cb, __m128i cr, bool half, __m128i& r, __m128i& g, __m128i& b)
{
    const __m256i y0 = _mm256_mullo_epi32(_mm256_cvtepu8_epi32(luma), k.gy);
    const __m256i y1 = _mm256_mullo_epi32(_mm256_cvtepu8_epi32(_mm_srli_si128(luma, 8)), k.gy);
    __m256i r0, g0, b0, r1, g1, b1;
    if (half) {
        __m256i rs, gs, bs;
        terms(k, _mm256_cvtepu8_epi32(cb), _mm256_cvtepu8_epi32(cr), rs, gs, bs);
        // Each sample serves two pixels.
        const __m256i first = _mm256_setr_epi32(0, 0, 1, 1, 2, 2, 3, 3), second = _mm256_setr_epi32(4, 4, 5, 5, 6, 6, 7, 7);
        r0 = _mm256_permutevar8x32_epi32(rs, first), r1 = _mm256_permutevar8x32_epi32(rs, second);
        g0 = _mm256_permutevar8x32_epi32(gs, first), g1 = _mm256_permutevar8x32_epi32(gs, second);
        b0 = _mm256_permutevar8x32_epi32(bs, first), b1 = _mm256_permutevar8x32_epi32(bs, second);
    } else {
        terms(k, _mm256_cvtepu8_epi32(cb), _mm256_cvtepu8_epi32(cr), r0, g0, b0);
        terms(k, _mm256_cvtepu8_epi32(_mm_srli_si128(cb, 8)), _mm256_cvtepu8_epi32(_mm_srli_si128(cr, 8)), r1, g1, b1);
    }
    r = narrow(_mm256_add_epi32(y0, r0), _mm256_add_epi32(y1, r1));
    g = narrow(_mm256_add_epi32(y0, g0), _mm256_add_epi32(y1, g1));
    b = narrow(_mm256_add_epi32(y0, b0), _mm256_add_epi32(y1, b1));
}

} // namespace

#include "PPSimdYuvRgbRow.inc"

void PPYuvRowAVX2(const PPYuvLinear& k, const PPRgbPack& pack, uint8_t* out, const uint8_t* y, const uint8_t* cb,
                  const uint8_t* cr, int64_t c0, int64_t n, int shs, int stepC)
{
    row(k, pack, out, y, cb, cr, c0, n, shs, stepC);
}

#pragma clang attribute pop

#else

void PPYuvRowAVX2(const PPYuvLinear&, const PPRgbPack&, uint8_t*, const uint8_t*, const uint8_t*, const uint8_t*,
                  int64_t, int64_t, int, int)
{
}

#endif
