// Full-size inverse transform with AVX2: the factorised 8-point transform of jpg_idct.cpp in
// 32-bit lanes, one row of the block per register, two transposes.
//
// Fixed point: 3 fractional bits through both passes, multipliers with 11 fractional bits, so
// every product of a valid file's coefficients stays inside 31 bits. Inputs are saturated at
// four times the largest value a valid 8-bit file can produce; beyond that, lanes wrap (defined
// for vector integers) and only hostile files see odd samples.
#include "jpg_idct_impl.h"

#if defined(__x86_64__) || defined(__i386__)

#include <immintrin.h>

#include <algorithm>
#include <cstddef>
#include <cmath>
#include <cstring>

namespace {

constexpr int kFrac = 3;
constexpr int kConstBits = 11;

constexpr int32_t fix(double x) {
    return int32_t(x * (1 << kConstBits) + (x < 0 ? -0.5 : 0.5));
}

#define KPV_AVX2 __attribute__((target("avx2")))

KPV_AVX2 inline __m256i mulc(__m256i a, int32_t k) {
    __m256i p = _mm256_mullo_epi32(a, _mm256_set1_epi32(k));
    return _mm256_srai_epi32(_mm256_add_epi32(p, _mm256_set1_epi32(1 << (kConstBits - 1))),
                             kConstBits);
}

KPV_AVX2 inline void aan8(__m256i* v) {
    const __m256i in0 = v[0], in1 = v[1], in2 = v[2], in3 = v[3];
    const __m256i in4 = v[4], in5 = v[5], in6 = v[6], in7 = v[7];
    __m256i tmp10 = _mm256_add_epi32(in0, in4);
    __m256i tmp11 = _mm256_sub_epi32(in0, in4);
    __m256i tmp13 = _mm256_add_epi32(in2, in6);
    __m256i tmp12 = _mm256_sub_epi32(mulc(_mm256_sub_epi32(in2, in6), fix(1.414213562)), tmp13);
    __m256i e0 = _mm256_add_epi32(tmp10, tmp13), e3 = _mm256_sub_epi32(tmp10, tmp13);
    __m256i e1 = _mm256_add_epi32(tmp11, tmp12), e2 = _mm256_sub_epi32(tmp11, tmp12);
    __m256i z13 = _mm256_add_epi32(in5, in3), z10 = _mm256_sub_epi32(in5, in3);
    __m256i z11 = _mm256_add_epi32(in1, in7), z12 = _mm256_sub_epi32(in1, in7);
    __m256i o7 = _mm256_add_epi32(z11, z13);
    __m256i t11 = mulc(_mm256_sub_epi32(z11, z13), fix(1.414213562));
    __m256i z5 = mulc(_mm256_add_epi32(z10, z12), fix(1.847759065));
    __m256i t10 = _mm256_sub_epi32(z5, mulc(z12, fix(1.082392200)));
    __m256i t12 = _mm256_sub_epi32(z5, mulc(z10, fix(2.613125930)));
    __m256i o6 = _mm256_sub_epi32(t12, o7);
    __m256i o5 = _mm256_sub_epi32(t11, o6);
    __m256i o4 = _mm256_sub_epi32(t10, o5);
    v[0] = _mm256_add_epi32(e0, o7);
    v[7] = _mm256_sub_epi32(e0, o7);
    v[1] = _mm256_add_epi32(e1, o6);
    v[6] = _mm256_sub_epi32(e1, o6);
    v[2] = _mm256_add_epi32(e2, o5);
    v[5] = _mm256_sub_epi32(e2, o5);
    v[3] = _mm256_add_epi32(e3, o4);
    v[4] = _mm256_sub_epi32(e3, o4);
}

KPV_AVX2 inline void transpose8(__m256i* r) {
    __m256i t0 = _mm256_unpacklo_epi32(r[0], r[1]), t1 = _mm256_unpackhi_epi32(r[0], r[1]);
    __m256i t2 = _mm256_unpacklo_epi32(r[2], r[3]), t3 = _mm256_unpackhi_epi32(r[2], r[3]);
    __m256i t4 = _mm256_unpacklo_epi32(r[4], r[5]), t5 = _mm256_unpackhi_epi32(r[4], r[5]);
    __m256i t6 = _mm256_unpacklo_epi32(r[6], r[7]), t7 = _mm256_unpackhi_epi32(r[6], r[7]);
    __m256i u0 = _mm256_unpacklo_epi64(t0, t2), u1 = _mm256_unpackhi_epi64(t0, t2);
    __m256i u2 = _mm256_unpacklo_epi64(t1, t3), u3 = _mm256_unpackhi_epi64(t1, t3);
    __m256i u4 = _mm256_unpacklo_epi64(t4, t6), u5 = _mm256_unpackhi_epi64(t4, t6);
    __m256i u6 = _mm256_unpacklo_epi64(t5, t7), u7 = _mm256_unpackhi_epi64(t5, t7);
    r[0] = _mm256_permute2x128_si256(u0, u4, 0x20);
    r[1] = _mm256_permute2x128_si256(u1, u5, 0x20);
    r[2] = _mm256_permute2x128_si256(u2, u6, 0x20);
    r[3] = _mm256_permute2x128_si256(u3, u7, 0x20);
    r[4] = _mm256_permute2x128_si256(u0, u4, 0x31);
    r[5] = _mm256_permute2x128_si256(u1, u5, 0x31);
    r[6] = _mm256_permute2x128_si256(u2, u6, 0x31);
    r[7] = _mm256_permute2x128_si256(u3, u7, 0x31);
}

// (coef x dq) >> (14 - kFrac), saturated: dq = hi x 2^15 + lo, and coef x hi fits 32 bits.
KPV_AVX2 inline __m256i dequant(const int16_t* c, const int32_t* q) {
    const __m256i lim = _mm256_set1_epi32(1 << (13 + kFrac));
    const __m256i limHi = _mm256_set1_epi32(1 << 14);
    __m256i coef = _mm256_cvtepi16_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(c)));
    __m256i dq = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(q));
    __m256i hi = _mm256_srai_epi32(dq, 15);
    __m256i lo = _mm256_and_si256(dq, _mm256_set1_epi32(0x7FFF));
    __m256i ph = _mm256_mullo_epi32(coef, hi);
    ph = _mm256_max_epi32(_mm256_min_epi32(ph, limHi), _mm256_sub_epi32(_mm256_setzero_si256(), limHi));
    __m256i pl = _mm256_srai_epi32(_mm256_mullo_epi32(coef, lo), 14 - kFrac);
    __m256i v = _mm256_add_epi32(_mm256_slli_epi32(ph, 15 - (14 - kFrac)), pl);
    return _mm256_max_epi32(_mm256_min_epi32(v, lim), _mm256_sub_epi32(_mm256_setzero_si256(), lim));
}

KPV_AVX2 int32_t idct8Avx2(uint8_t* dst, int16_t* coef, int32_t pitch, const int32_t* dq) {
    __m256i r[8];
    for (int u = 0; u < 8; ++u) {
        r[u] = dequant(coef + u * 8, dq + u * 8);
    }
    // Vertical pass (over u, lanes are columns), then horizontal after a transpose.
    aan8(r);
    transpose8(r);
    aan8(r);
    transpose8(r);
    const __m256i round = _mm256_set1_epi32((1 << (kFrac + 2)) + (128 << (kFrac + 3)));
    __m256i s[8];
    for (int y = 0; y < 8; ++y) {
        s[y] = _mm256_srai_epi32(_mm256_add_epi32(r[y], round), kFrac + 3);
    }
    // int32 -> int16 (saturating) -> uint8 (saturating: the clamp to 0..255).
    __m256i p01 = _mm256_permute4x64_epi64(_mm256_packs_epi32(s[0], s[1]), 0xD8);
    __m256i p23 = _mm256_permute4x64_epi64(_mm256_packs_epi32(s[2], s[3]), 0xD8);
    __m256i p45 = _mm256_permute4x64_epi64(_mm256_packs_epi32(s[4], s[5]), 0xD8);
    __m256i p67 = _mm256_permute4x64_epi64(_mm256_packs_epi32(s[6], s[7]), 0xD8);
    __m256i b0 = _mm256_packus_epi16(p01, p23); // rows 0, 2 | 1, 3
    __m256i b1 = _mm256_packus_epi16(p45, p67); // rows 4, 6 | 5, 7
    int64_t rows[8];
    rows[0] = _mm256_extract_epi64(b0, 0);
    rows[2] = _mm256_extract_epi64(b0, 1);
    rows[1] = _mm256_extract_epi64(b0, 2);
    rows[3] = _mm256_extract_epi64(b0, 3);
    rows[4] = _mm256_extract_epi64(b1, 0);
    rows[6] = _mm256_extract_epi64(b1, 1);
    rows[5] = _mm256_extract_epi64(b1, 2);
    rows[7] = _mm256_extract_epi64(b1, 3);
    for (int y = 0; y < 8; ++y) {
        std::memcpy(dst + std::ptrdiff_t(y) * pitch, &rows[y], 8);
    }
    const __m256i zero = _mm256_setzero_si256();
    for (int i = 0; i < 4; ++i) {
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(coef) + i, zero);
    }
    return 0;
}

// Scale 1/2: the 2:1 box average of the full transform as two 8-to-4 matrix passes, each
// split into even and odd frequencies (output 3 - m mirrors output m).
struct Kernel4 {
    int32_t w[8][4];
    Kernel4() {
        for (int u = 0; u < 8; ++u) {
            for (int m = 0; m < 4; ++m) {
                w[u][m] = fix(JpgReducedKernel(1, u, m));
            }
        }
    }
};

// Frequencies below R only (the others are zero); frequency 4 has no weight.
template <int R>
KPV_AVX2 inline void reduce4(const __m256i* in, const Kernel4& k, __m256i* out) {
    for (int m = 0; m < 2; ++m) {
        __m256i e = _mm256_mullo_epi32(in[0], _mm256_set1_epi32(k.w[0][m]));
        __m256i o = _mm256_mullo_epi32(in[1], _mm256_set1_epi32(k.w[1][m]));
        for (int u = 2; u < R; u += 2) {
            if (u != 4) {
                e = _mm256_add_epi32(e, _mm256_mullo_epi32(in[u], _mm256_set1_epi32(k.w[u][m])));
            }
            o = _mm256_add_epi32(o, _mm256_mullo_epi32(in[u + 1], _mm256_set1_epi32(k.w[u + 1][m])));
        }
        const __m256i half = _mm256_set1_epi32(1 << (kConstBits - 1));
        out[m] = _mm256_srai_epi32(_mm256_add_epi32(_mm256_add_epi32(e, o), half), kConstBits);
        out[3 - m] = _mm256_srai_epi32(_mm256_add_epi32(_mm256_sub_epi32(e, o), half), kConstBits);
    }
}

const Kernel4 kKernel4;

// R: 4 when every coefficient lies in the block's top left 4 x 4 (zig-zag index 9 at most), else 8.
template <int R>
KPV_AVX2 int32_t idct4Rows(uint8_t* dst, int16_t* coef, int32_t pitch, const int32_t* dq) {
    const Kernel4& k = kKernel4;
    __m256i r[8];
    for (int u = 0; u < R; ++u) {
        r[u] = u == 4 ? _mm256_setzero_si256() : dequant(coef + u * 8, dq + u * 8);
    }
    __m256i g[8];
    reduce4<R>(r, k, g); // g[m], lanes are frequencies v
    for (int i = 4; i < 8; ++i) {
        g[i] = _mm256_setzero_si256();
    }
    transpose8(g); // g[v], lanes are output rows m (0..3)
    __m256i y[8];
    reduce4<R>(g, k, y); // y[n], lanes m
    for (int i = 4; i < 8; ++i) {
        y[i] = _mm256_setzero_si256();
    }
    transpose8(y); // y[m], lanes n (0..3)
    const __m256i round = _mm256_set1_epi32((1 << (kFrac - 1)) + (128 << kFrac));
    __m256i s01 = _mm256_permute2x128_si256(y[0], y[1], 0x20); // rows 0 | 1, four each
    __m256i s23 = _mm256_permute2x128_si256(y[2], y[3], 0x20);
    s01 = _mm256_srai_epi32(_mm256_add_epi32(s01, round), kFrac);
    s23 = _mm256_srai_epi32(_mm256_add_epi32(s23, round), kFrac);
    __m256i p = _mm256_packs_epi32(s01, s23);  // rows 0, 2 | 1, 3 as int16
    __m256i b = _mm256_packus_epi16(p, p);     // bytes: row0 row2 ... | row1 row3 ...
    int32_t rows[4];
    rows[0] = _mm256_extract_epi32(b, 0);
    rows[2] = _mm256_extract_epi32(b, 1);
    rows[1] = _mm256_extract_epi32(b, 4);
    rows[3] = _mm256_extract_epi32(b, 5);
    for (int m = 0; m < 4; ++m) {
        std::memcpy(dst + std::ptrdiff_t(m) * pitch, &rows[m], 4);
    }
    const __m256i zero = _mm256_setzero_si256();
    for (int i = 0; i < R / 2; ++i) {
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(coef) + i, zero);
    }
    return 0;
}

KPV_AVX2 int32_t idct4Avx2(uint8_t* dst, int16_t* coef, int32_t pitch, const int32_t* dq, int32_t lastIndex) {
    return lastIndex <= 9 ? idct4Rows<4>(dst, coef, pitch, dq) : idct4Rows<8>(dst, coef, pitch, dq);
}


// Scale 1/4: only frequencies 0, 1, 3, 5 and 7 carry weight, and the two outputs of each
// direction are the even part (frequency 0) plus and minus the odd part. Each row of the block is
// weighted lane by lane, the rows summed into the two output rows, then each of them into its two
// samples. Single precision, as the portable form.
struct Kernel2 {
    alignas(32) float w[5][8]; // rows 0, 1, 3, 5, 7: weight of (u, v), fraction bits taken out
    Kernel2() {
        static const int rows[5] = {0, 1, 3, 5, 7};
        float k[8];
        for (int u = 0; u < 8; ++u) {
            k[u] = float(std::lround(JpgReducedKernel(2, u, 0) * (1 << 14))) / float(1 << 14);
        }
        for (int i = 0; i < 5; ++i) {
            for (int v = 0; v < 8; ++v) {
                w[i][v] = k[rows[i]] * (k[v] / float(1 << 14));
            }
        }
    }
};

inline uint8_t sample2(float v) {
    v += 128.5f;
    return uint8_t(v <= 0 ? 0 : v >= 255 ? 255 : int(v));
}

// One row of coefficients, dequantised and weighted.
KPV_AVX2 inline __m256 weightedRow(const int16_t* c, const int32_t* q, const float* w) {
    const __m256 cf = _mm256_cvtepi32_ps(_mm256_cvtepi16_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(c))));
    const __m256 qf = _mm256_cvtepi32_ps(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(q)));
    return _mm256_mul_ps(_mm256_mul_ps(cf, qf), _mm256_load_ps(w));
}

// The end of both quarter-size transforms: the 2x2 samples of a block from the sums of its even and
// odd rows (lane v of each: frequency v across), and the block's coefficients cleared for the next.
KPV_AVX2 inline int32_t storeIdct2(uint8_t* dst, int32_t pitch, __m256 even, __m256 odd, int16_t* coef) {
    // Lanes v of output rows 0 and 1, then the halves of each side by side: (row 0 | row 1).
    const __m256 top = _mm256_add_ps(even, odd), bottom = _mm256_sub_ps(even, odd);
    const __m256 s = _mm256_add_ps(_mm256_permute2f128_ps(top, bottom, 0x20), _mm256_permute2f128_ps(top, bottom, 0x31));
    // Lane 0: frequency 0 (4 has no weight); lanes 1 and 3: frequencies 1 + 5 and 3 + 7.
    const __m256 e = _mm256_permute_ps(s, 0x00);
    const __m256 o = _mm256_add_ps(_mm256_permute_ps(s, 0x55), _mm256_permute_ps(s, 0xFF));
    __m256 y = _mm256_add_ps(e, _mm256_mul_ps(o, _mm256_setr_ps(1, -1, 1, -1, 1, -1, 1, -1)));
    y = _mm256_add_ps(y, _mm256_set1_ps(128.5f));
    y = _mm256_min_ps(_mm256_max_ps(y, _mm256_setzero_ps()), _mm256_set1_ps(255));
    const __m256i i32 = _mm256_cvttps_epi32(y);
    const __m256i b = _mm256_packus_epi16(_mm256_packs_epi32(i32, i32), _mm256_setzero_si256());
    const uint16_t r0 = uint16_t(_mm256_extract_epi16(b, 0)), r1 = uint16_t(_mm256_extract_epi16(b, 8));
    std::memcpy(dst, &r0, 2);
    std::memcpy(dst + pitch, &r1, 2);
    const __m256i zero = _mm256_setzero_si256();
    for (int i = 0; i < 4; ++i) {
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(coef) + i, zero);
    }
    return 0;
}

KPV_AVX2 int32_t idct2Avx2(uint8_t* dst, int16_t* coef, int32_t pitch, const int32_t* dq, int32_t lastIndex) {
    static const Kernel2 k;
    if (lastIndex == 0) {
        const uint8_t s = sample2(float(coef[0]) * float(dq[0]) * k.w[0][0]);
        dst[0] = dst[1] = dst[pitch] = dst[pitch + 1] = s;
        coef[0] = 0;
        return 0;
    }
    // Rows that the zig-zag order has not reached by the last index hold zeros: they are left
    // out, which changes no sum (rows 3, 5 and 7 begin at indexes 9, 20 and 35).
    const __m256 even = weightedRow(coef, dq, k.w[0]);
    __m256 odd = weightedRow(coef + 8, dq + 8, k.w[1]);
    if (lastIndex >= 9) {
        odd = _mm256_add_ps(odd, weightedRow(coef + 24, dq + 24, k.w[2]));
        if (lastIndex >= 20) {
            const __m256 r5 = weightedRow(coef + 40, dq + 40, k.w[3]);
            odd = _mm256_add_ps(odd, lastIndex >= 35 ? _mm256_add_ps(r5, weightedRow(coef + 56, dq + 56, k.w[4])) : r5);
        }
    }
    return storeIdct2(dst, pitch, even, odd, coef);
}

// idct2Avx2 with each row's quantisers and kernel weights multiplied beforehand (JpgIdct2Weigh).
KPV_AVX2 inline __m256 weighedRow(const int16_t* c, const float* w) {
    const __m256 cf = _mm256_cvtepi32_ps(_mm256_cvtepi16_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(c))));
    return _mm256_mul_ps(cf, _mm256_loadu_ps(w));
}

KPV_AVX2 int32_t idct2WeightedAvx2(uint8_t* dst, int16_t* coef, int32_t pitch, const float* w, int32_t lastIndex) {
    if (lastIndex == 0) {
        const uint8_t s = sample2(float(coef[0]) * w[0]);
        dst[0] = dst[1] = dst[pitch] = dst[pitch + 1] = s;
        coef[0] = 0;
        return 0;
    }
    const __m256 even = weighedRow(coef, w);
    __m256 odd = weighedRow(coef + 8, w + 8);
    if (lastIndex >= 9) {
        odd = _mm256_add_ps(odd, weighedRow(coef + 24, w + 16));
        if (lastIndex >= 20) {
            const __m256 r5 = weighedRow(coef + 40, w + 24);
            odd = _mm256_add_ps(odd, lastIndex >= 35 ? _mm256_add_ps(r5, weighedRow(coef + 56, w + 32)) : r5);
        }
    }
    return storeIdct2(dst, pitch, even, odd, coef);
}

} // namespace

void JpgIdct2Weigh(const int32_t* dq, float* weights) {
    static const Kernel2 k;
    static const int rows[5] = {0, 1, 3, 5, 7};
    for (int i = 0; i < 5; ++i) {
        for (int v = 0; v < 8; ++v) {
            weights[i * 8 + v] = float(dq[rows[i] * 8 + v]) * k.w[i][v];
        }
    }
}

int32_t JpgIdct4Dc(uint8_t* dst, int16_t* coef, int32_t pitch, const int32_t* dq) {
    // dequant(): the high and low halves of the factor, the high product saturated, the sum too.
    const int32_t c = coef[0], hi = dq[0] >> 15, lo = dq[0] & 0x7FFF;
    const int64_t ph = std::clamp<int64_t>(int64_t(c) * hi, -(1 << 14), 1 << 14);
    const int64_t v = std::clamp<int64_t>(ph * (1 << (15 - (14 - kFrac))) + ((int64_t(c) * lo) >> (14 - kFrac)),
                                          -(1 << (13 + kFrac)), 1 << (13 + kFrac));
    // Both passes of reduce4() with frequency 0 alone, then the rounding and clamping of the output.
    const int32_t w = kKernel4.w[0][0], half = 1 << (kConstBits - 1);
    const int32_t g = int32_t((v * w + half) >> kConstBits);
    const int32_t y = int32_t((int64_t(g) * w + half) >> kConstBits);
    const int32_t s = (y + (1 << (kFrac - 1)) + (128 << kFrac)) >> kFrac;
    const uint8_t sample = uint8_t(std::clamp(s, 0, 255));
    for (int m = 0; m < 4; ++m) {
        std::memset(dst + std::ptrdiff_t(m) * pitch, sample, 4);
    }
    coef[0] = 0;
    return 0;
}

namespace {

bool hasAvx2() {
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx2");
}

} // namespace

JpgIdct8SimdFn JpgIdct8Simd = hasAvx2() ? idct8Avx2 : nullptr;
JpgIdct2SimdFn JpgIdct4Simd = hasAvx2() ? idct4Avx2 : nullptr;
JpgIdct2SimdFn JpgIdct2Simd = hasAvx2() ? idct2Avx2 : nullptr;
JpgIdct2WeightedFn JpgIdct2Weighted = hasAvx2() ? idct2WeightedAvx2 : nullptr;

#else

// Called only beside the vector 4 x 4 transform, which this processor does not have.
int32_t JpgIdct4Dc(uint8_t*, int16_t* coef, int32_t, const int32_t*) {
    coef[0] = 0;
    return 0;
}

JpgIdct8SimdFn JpgIdct8Simd = nullptr;
JpgIdct2SimdFn JpgIdct4Simd = nullptr;
JpgIdct2SimdFn JpgIdct2Simd = nullptr;
JpgIdct2WeightedFn JpgIdct2Weighted = nullptr;

void JpgIdct2Weigh(const int32_t*, float*) {}

#endif
