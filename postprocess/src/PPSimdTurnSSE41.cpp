// The SSE4.1 level of the vector turns.
#include "PPSimdTurn.h"

#include "PPCpu.h"

#if KPV_HAVE_X86_SIMD
#include <immintrin.h>

#pragma clang attribute push(__attribute__((target("sse4.1,ssse3"))), apply_to = function)

namespace {
#include "PPSimdTurn.inc"

// Both chroma components, each transposed on its own.
void turnChroma(const uint8_t* const u[16], const uint8_t* const v[16], int srcStep, int64_t m, uint8_t* outU,
                uint8_t* outV, int64_t pitchU, int64_t pitchV, int dstStep)
{
    uint8_t* pairs = outU < outV ? outU : outV;
    const bool uFirst = outU < outV;
    const __m128i low = _mm_set1_epi16(0xFF);
    for (int64_t i = 0; i < m; i += 16) {
        __m128i cu[16], cv[16];
        for (int k = 0; k < 16; ++k) {
            if (srcStep == 1) {
                cu[k] = _mm_loadu_si128(reinterpret_cast<const __m128i*>(u[k] + i));
                cv[k] = _mm_loadu_si128(reinterpret_cast<const __m128i*>(v[k] + i));
                continue;
            }
            // Sixteen pairs in two loads from the lower component, split into the even and the
            // odd bytes.
            const bool uLow = u[k] < v[k];
            const uint8_t* p = (uLow ? u[k] : v[k]) + 2 * i;
            const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
            const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 16));
            const __m128i even = _mm_packus_epi16(_mm_and_si128(a, low), _mm_and_si128(b, low));
            const __m128i odd = _mm_packus_epi16(_mm_srli_epi16(a, 8), _mm_srli_epi16(b, 8));
            cu[k] = uLow ? even : odd;
            cv[k] = uLow ? odd : even;
        }
        transpose16(cu);
        transpose16(cv);
        for (int c = 0; c < 16; ++c) {
            const int64_t at = (i + c) * pitchU;
            if (dstStep == 1) {
                _mm_storeu_si128(reinterpret_cast<__m128i*>(outU + at), cu[c]);
                _mm_storeu_si128(reinterpret_cast<__m128i*>(outV + (i + c) * pitchV), cv[c]);
            } else {
                const __m128i first = uFirst ? cu[c] : cv[c], second = uFirst ? cv[c] : cu[c];
                _mm_storeu_si128(reinterpret_cast<__m128i*>(pairs + at), _mm_unpacklo_epi8(first, second));
                _mm_storeu_si128(reinterpret_cast<__m128i*>(pairs + at + 16), _mm_unpackhi_epi8(first, second));
            }
        }
    }
}

} // namespace

int64_t PPTurnLumaSSE41(const uint8_t* const rows[16], int64_t m, uint8_t* out, int64_t pitch)
{
    const int64_t whole = m / 16 * 16;
    for (int64_t i = 0; i < whole; i += 16)
        turnBlock16(rows, i, out, pitch);
    return whole;
}

void PPTurnChromaSSE41(const uint8_t* const u[16], const uint8_t* const v[16], int srcStep, int64_t m, uint8_t* outU,
                       uint8_t* outV, int64_t pitchU, int64_t pitchV, int dstStep)
{
    turnChroma(u, v, srcStep, m, outU, outV, pitchU, pitchV, dstStep);
}

#pragma clang attribute pop

#else

int64_t PPTurnLumaSSE41(const uint8_t* const*, int64_t, uint8_t*, int64_t) { return 0; }
void PPTurnChromaSSE41(const uint8_t* const*, const uint8_t* const*, int, int64_t, uint8_t*, uint8_t*, int64_t, int64_t, int) {}

#endif
