// The AVX2 level of the vector turns: luma transposes two 16 x 16 blocks side by side, one per lane.
#include "PPSimdTurn.h"

#include "PPCpu.h"

#if KPV_HAVE_X86_SIMD
#include <immintrin.h>

#pragma clang attribute push(__attribute__((target("avx2"))), apply_to = function)

namespace {

inline __m256i unpackLo8(__m256i a, __m256i b) { return _mm256_unpacklo_epi8(a, b); }
inline __m256i unpackHi8(__m256i a, __m256i b) { return _mm256_unpackhi_epi8(a, b); }
inline __m256i unpackLo16(__m256i a, __m256i b) { return _mm256_unpacklo_epi16(a, b); }
inline __m256i unpackHi16(__m256i a, __m256i b) { return _mm256_unpackhi_epi16(a, b); }
inline __m256i unpackLo32(__m256i a, __m256i b) { return _mm256_unpacklo_epi32(a, b); }
inline __m256i unpackHi32(__m256i a, __m256i b) { return _mm256_unpackhi_epi32(a, b); }
inline __m256i unpackLo64(__m256i a, __m256i b) { return _mm256_unpacklo_epi64(a, b); }
inline __m256i unpackHi64(__m256i a, __m256i b) { return _mm256_unpackhi_epi64(a, b); }

#include "PPSimdTurn.inc"

} // namespace

int64_t PPTurnLumaAVX2(const uint8_t* const rows[16], int64_t m, uint8_t* out, int64_t pitch)
{
    const int64_t whole = m / 32 * 32;
    for (int64_t i = 0; i < whole; i += 32) {
        __m256i r[16];
        for (int k = 0; k < 16; ++k)
            r[k] = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(rows[k] + i));
        transpose16(r);
        // Lane 0 holds columns i .. i + 15, lane 1 columns i + 16 .. i + 31.
        for (int c = 0; c < 16; ++c) {
            _mm_storeu_si128(reinterpret_cast<__m128i*>(out + (i + c) * pitch), _mm256_castsi256_si128(r[c]));
            _mm_storeu_si128(reinterpret_cast<__m128i*>(out + (i + 16 + c) * pitch), _mm256_extracti128_si256(r[c], 1));
        }
    }
    // A last block of 16 columns goes the 128-bit way.
    if (m - whole >= 16) {
        turnBlock16(rows, whole, out, pitch);
        return whole + 16;
    }
    return whole;
}

// Both components in one transpose: each row a vector of its 16 U samples in the low lane and its
// 16 V samples in the high lane, so that column c comes out as U in the low lane, V in the high.
void PPTurnChromaAVX2(const uint8_t* const u[16], const uint8_t* const v[16], int srcStep, int64_t m, uint8_t* outU,
                      uint8_t* outV, int64_t pitchU, int64_t pitchV, int dstStep)
{
    // Interleaved pairs: each lane's eight pairs split into their eight U and eight V bytes.
    const __m256i split = _mm256_setr_epi8(0, 2, 4, 6, 8, 10, 12, 14, 1, 3, 5, 7, 9, 11, 13, 15, 0, 2, 4, 6, 8, 10, 12,
                                           14, 1, 3, 5, 7, 9, 11, 13, 15);
    uint8_t* pairs = outU < outV ? outU : outV;
    const bool uFirst = outU < outV;
    for (int64_t i = 0; i < m; i += 16) {
        __m256i r[16];
        for (int k = 0; k < 16; ++k) {
            if (srcStep == 1) {
                r[k] = _mm256_inserti128_si256(
                    _mm256_castsi128_si256(_mm_loadu_si128(reinterpret_cast<const __m128i*>(u[k] + i))),
                    _mm_loadu_si128(reinterpret_cast<const __m128i*>(v[k] + i)), 1);
                continue;
            }
            const bool uLow = u[k] < v[k];
            const __m256i both = _mm256_loadu_si256(reinterpret_cast<const __m256i*>((uLow ? u[k] : v[k]) + 2 * i));
            // Lane 0: even bytes of pairs 0-7, odd bytes; lane 1 the same of pairs 8-15; then the
            // even bytes of all 16 in the low lane, the odd in the high.
            const __m256i grouped = _mm256_permute4x64_epi64(_mm256_shuffle_epi8(both, split), _MM_SHUFFLE(3, 1, 2, 0));
            r[k] = uLow ? grouped : _mm256_permute2x128_si256(grouped, grouped, 0x01);
        }
        transpose16(r);
        for (int c = 0; c < 16; ++c) {
            const __m128i cu = _mm256_castsi256_si128(r[c]), cv = _mm256_extracti128_si256(r[c], 1);
            if (dstStep == 1) {
                _mm_storeu_si128(reinterpret_cast<__m128i*>(outU + (i + c) * pitchU), cu);
                _mm_storeu_si128(reinterpret_cast<__m128i*>(outV + (i + c) * pitchV), cv);
            } else {
                const __m128i first = uFirst ? cu : cv, second = uFirst ? cv : cu;
                uint8_t* at = pairs + (i + c) * pitchU;
                _mm_storeu_si128(reinterpret_cast<__m128i*>(at), _mm_unpacklo_epi8(first, second));
                _mm_storeu_si128(reinterpret_cast<__m128i*>(at + 16), _mm_unpackhi_epi8(first, second));
            }
        }
    }
}

#pragma clang attribute pop

#else

int64_t PPTurnLumaAVX2(const uint8_t* const*, int64_t, uint8_t*, int64_t) { return 0; }
void PPTurnChromaAVX2(const uint8_t* const*, const uint8_t* const*, int, int64_t, uint8_t*, uint8_t*, int64_t, int64_t, int) {}

#endif
