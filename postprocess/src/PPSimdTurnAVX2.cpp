// The AVX2 level of the vector turns: luma transposes two 16 x 16 blocks side by side, one per lane.
#include "PPSimdTurn.h"

#include "PPCpu.h"

#if KPV_HAVE_X86_SIMD
#include <immintrin.h>

#pragma clang attribute push(__attribute__((target("avx2"))), apply_to = function)

namespace {
#include "PPSimdTurn.inc"

// transpose16 with each lane doing its own block.
inline void transpose16x2(__m256i r[16])
{
    __m256i a[16], b[16];
    for (int i = 0; i < 8; ++i) {
        a[i] = _mm256_unpacklo_epi8(r[2 * i], r[2 * i + 1]);
        a[i + 8] = _mm256_unpackhi_epi8(r[2 * i], r[2 * i + 1]);
    }
    for (int h = 0; h < 2; ++h)
        for (int i = 0; i < 4; ++i) {
            b[8 * h + i] = _mm256_unpacklo_epi16(a[8 * h + 2 * i], a[8 * h + 2 * i + 1]);
            b[8 * h + 4 + i] = _mm256_unpackhi_epi16(a[8 * h + 2 * i], a[8 * h + 2 * i + 1]);
        }
    for (int g = 0; g < 4; ++g)
        for (int j = 0; j < 2; ++j) {
            a[4 * g + 2 * j] = _mm256_unpacklo_epi32(b[4 * g + 2 * j], b[4 * g + 2 * j + 1]);
            a[4 * g + 2 * j + 1] = _mm256_unpackhi_epi32(b[4 * g + 2 * j], b[4 * g + 2 * j + 1]);
        }
    for (int g = 0; g < 4; ++g)
        for (int p = 0; p < 2; ++p) {
            r[4 * g + 2 * p] = _mm256_unpacklo_epi64(a[4 * g + p], a[4 * g + 2 + p]);
            r[4 * g + 2 * p + 1] = _mm256_unpackhi_epi64(a[4 * g + p], a[4 * g + 2 + p]);
        }
}

} // namespace

int64_t PPTurnLumaAVX2(const uint8_t* const rows[16], int64_t m, uint8_t* out, int64_t pitch)
{
    const int64_t whole = m / 32 * 32;
    for (int64_t i = 0; i < whole; i += 32) {
        __m256i r[16];
        for (int k = 0; k < 16; ++k)
            r[k] = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(rows[k] + i));
        transpose16x2(r);
        // Lane 0 holds columns i .. i + 15, lane 1 columns i + 16 .. i + 31.
        for (int c = 0; c < 16; ++c) {
            _mm_storeu_si128(reinterpret_cast<__m128i*>(out + (i + c) * pitch), _mm256_castsi256_si128(r[c]));
            _mm_storeu_si128(reinterpret_cast<__m128i*>(out + (i + 16 + c) * pitch), _mm256_extracti128_si256(r[c], 1));
        }
    }
    // A last block of 16 columns goes the 128-bit way.
    if (m - whole >= 16) {
        __m128i r[16];
        for (int k = 0; k < 16; ++k)
            r[k] = _mm_loadu_si128(reinterpret_cast<const __m128i*>(rows[k] + whole));
        transpose16(r);
        for (int c = 0; c < 16; ++c)
            _mm_storeu_si128(reinterpret_cast<__m128i*>(out + (whole + c) * pitch), r[c]);
        return whole + 16;
    }
    return whole;
}

void PPTurnChromaAVX2(const uint8_t* const u[16], const uint8_t* const v[16], int srcStep, int64_t m, uint8_t* outU,
                      uint8_t* outV, int64_t pitchU, int64_t pitchV, int dstStep)
{
    turnChroma(u, v, srcStep, m, outU, outV, pitchU, pitchV, dstStep);
}

#pragma clang attribute pop

#else

int64_t PPTurnLumaAVX2(const uint8_t* const*, int64_t, uint8_t*, int64_t) { return 0; }
void PPTurnChromaAVX2(const uint8_t* const*, const uint8_t* const*, int, int64_t, uint8_t*, uint8_t*, int64_t, int64_t, int) {}

#endif
