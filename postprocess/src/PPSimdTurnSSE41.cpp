// The SSE4.1 level of the vector turns.
#include "PPSimdTurn.h"

#include "PPCpu.h"

#if KPV_HAVE_X86_SIMD
#include <immintrin.h>

#pragma clang attribute push(__attribute__((target("sse4.1,ssse3"))), apply_to = function)

namespace {
#include "PPSimdTurn.inc"
} // namespace

int64_t PPTurnLumaSSE41(const uint8_t* const rows[16], int64_t m, uint8_t* out, int64_t pitch)
{
    const int64_t whole = m / 16 * 16;
    for (int64_t i = 0; i < whole; i += 16) {
        __m128i r[16];
        for (int k = 0; k < 16; ++k)
            r[k] = _mm_loadu_si128(reinterpret_cast<const __m128i*>(rows[k] + i));
        transpose16(r);
        for (int c = 0; c < 16; ++c)
            _mm_storeu_si128(reinterpret_cast<__m128i*>(out + (i + c) * pitch), r[c]);
    }
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
