// Scaled dequantising inverse DCTs (T.81 A.3.3), portable fixed-point versions and dispatch.
//
// The full-size transform is the factorised 8-point form whose input scaling c(u) c(v) lives in
// the dequantisation table (jpg_idct_scale_tbl row 0, 14 fractional bits). Values carry
// kFrac fractional bits through both passes in 64-bit arithmetic, so neither hostile
// coefficients nor large quantisers can overflow; inputs are saturated far outside the range
// of any valid file.
//
// The reduced transforms compute the 2:1 and 4:1 box average of the full transform directly:
// y(m) = sum over u of F(u) W(u, m), with the table rows 1 and 2 folded out of W.
#include <cmath>
#include <cstring>

#include "jpg_idct_impl.h"
#include "jpg_internal.h"

namespace {

constexpr int kFrac = 8;        // fractional bits of the working values
constexpr int kConstBits = 14;  // fractional bits of the multipliers
constexpr int64_t kInLimit = int64_t(1) << (16 + kFrac);

constexpr int64_t fix(double x) {
    return int64_t(x * (1 << kConstBits) + (x < 0 ? -0.5 : 0.5));
}
constexpr int64_t kSqrt2 = fix(1.414213562);
constexpr int64_t k1_847 = fix(1.847759065);
constexpr int64_t k1_082 = fix(1.082392200);
constexpr int64_t k2_613 = fix(2.613125930);

inline int64_t mul(int64_t a, int64_t k) {
    return (a * k + (int64_t(1) << (kConstBits - 1))) >> kConstBits;
}

inline uint8_t clampSample(int64_t v) {
    return uint8_t(v < 0 ? 0 : v > 255 ? 255 : v);
}

// Dequantises to kFrac fractional bits of the (scaled) coefficient.
inline int64_t dequant(int16_t c, int32_t q, int shift) {
    int64_t v = (int64_t(c) * q) >> shift;
    return v > kInLimit ? kInLimit : v < -kInLimit ? -kInLimit : v;
}

// One 8-point pass over in[0], in[s], ... in[7s] into out[0], out[os], ...
inline void aan8(const int64_t* in, int s, int64_t* out, int os) {
    int64_t tmp10 = in[0] + in[4 * s];
    int64_t tmp11 = in[0] - in[4 * s];
    int64_t tmp13 = in[2 * s] + in[6 * s];
    int64_t tmp12 = mul(in[2 * s] - in[6 * s], kSqrt2) - tmp13;
    int64_t e0 = tmp10 + tmp13, e3 = tmp10 - tmp13;
    int64_t e1 = tmp11 + tmp12, e2 = tmp11 - tmp12;
    int64_t z13 = in[5 * s] + in[3 * s];
    int64_t z10 = in[5 * s] - in[3 * s];
    int64_t z11 = in[1 * s] + in[7 * s];
    int64_t z12 = in[1 * s] - in[7 * s];
    int64_t o7 = z11 + z13;
    int64_t t11 = mul(z11 - z13, kSqrt2);
    int64_t z5 = mul(z10 + z12, k1_847);
    int64_t t10 = z5 - mul(z12, k1_082);
    int64_t t12 = z5 - mul(z10, k2_613);
    int64_t o6 = t12 - o7;
    int64_t o5 = t11 - o6;
    int64_t o4 = t10 - o5;
    out[0] = e0 + o7;
    out[7 * os] = e0 - o7;
    out[1 * os] = e1 + o6;
    out[6 * os] = e1 - o6;
    out[2 * os] = e2 + o5;
    out[5 * os] = e2 - o5;
    out[3 * os] = e3 + o4;
    out[4 * os] = e3 - o4;
}

void fillBlock(uint8_t* dst, int n, int32_t step, int32_t pitch, uint8_t v) {
    for (int y = 0; y < n; ++y) {
        uint8_t* row = dst + ptrdiff_t(y) * pitch;
        for (int x = 0; x < n; ++x) {
            row[ptrdiff_t(x) * step] = v;
        }
    }
}

// Box-average kernels of the reduced transforms: W[u][m] in kConstBits fixed point.
struct ReducedKernels {
    int64_t w4[8][4];
    int64_t w2[8][2];
};

ReducedKernels makeKernels() {
    ReducedKernels k{};
    for (int u = 0; u < 8; ++u) {
        for (int m = 0; m < 4; ++m) {
            k.w4[u][m] = fix(JpgReducedKernel(1, u, m));
        }
        for (int m = 0; m < 2; ++m) {
            k.w2[u][m] = fix(JpgReducedKernel(2, u, m));
        }
    }
    return k;
}

const ReducedKernels& kernels() {
    static const ReducedKernels k = makeKernels();
    return k;
}

// Kernel symmetry: output N-1-m mirrors output m, so W[u][N-1-m] = (-1)^u W[u][m]; even and
// odd frequencies are summed apart and combined by a butterfly.
// Frequencies whose box average is zero carry no weight: 4 at 2:1, and 2, 4 and 6 at 4:1.
template <int N>
constexpr bool zeroWeight(int u) {
    return N == 4 ? u == 4 : (u == 2 || u == 4 || u == 6);
}

template <int N>
inline void reduce1d(const int64_t* in, int stride, const int64_t (*w)[N], int64_t* out,
                     int ostride) {
    for (int m = 0; m < N / 2; ++m) {
        int64_t e = 0, o = 0;
        for (int u = 0; u < 8; u += 2) {
            if (!zeroWeight<N>(u)) {
                e += in[u * stride] * w[u][m];
            }
            o += in[(u + 1) * stride] * w[u + 1][m];
        }
        out[m * ostride] = e + o;
        out[(N - 1 - m) * ostride] = e - o;
    }
}

template <int N>
void reducedIdct(uint8_t* dst, int16_t* coef, int32_t step, int32_t pitch, const int32_t* dq,
                 const int64_t (*w)[N]) {
    int64_t tmp[8][N];
    int64_t in[8];
    for (int u = 0; u < 8; ++u) {
        const int16_t* c = coef + u * 8;
        if (zeroWeight<N>(u) || (c[0] | c[1] | c[2] | c[3] | c[4] | c[5] | c[6] | c[7]) == 0) {
            for (int n = 0; n < N; ++n) {
                tmp[u][n] = 0;
            }
            continue;
        }
        for (int v = 0; v < 8; ++v) {
            in[v] = c[v] && !zeroWeight<N>(v) ? dequant(c[v], dq[u * 8 + v], kConstBits - kFrac) : 0;
        }
        reduce1d<N>(in, 1, w, tmp[u], 1);
        for (int n = 0; n < N; ++n) {
            tmp[u][n] >>= kConstBits;
        }
    }
    for (int n = 0; n < N; ++n) {
        int64_t col[N];
        reduce1d<N>(&tmp[0][n], N, w, col, 1);
        for (int m = 0; m < N; ++m) {
            int64_t v = ((col[m] >> kConstBits) + (int64_t(1) << (kFrac - 1))) >> kFrac;
            dst[ptrdiff_t(m) * pitch + ptrdiff_t(n) * step] = clampSample(v + 128);
        }
    }
    std::memset(coef, 0, 64 * sizeof(int16_t));
}

} // namespace

double JpgReducedKernel(int shift, int u, int m) {
    const double pi = 3.14159265358979323846;
    const int span = 1 << shift;
    double cu = (u == 0 ? std::sqrt(0.5) : 1.0) / 2.0;
    double f = jpg_idct_scale_tbl[shift][u] / 16384.0;
    if (f == 0) {
        return 0; // the box average of this frequency is zero
    }
    double avg = 0;
    for (int j = 0; j < span; ++j) {
        avg += std::cos((2 * (span * m + j) + 1) * u * pi / 16) / span;
    }
    return cu * avg / f;
}

namespace {

// Unequal reductions (chroma of 4:2:2 and 4:4:0 at the luma plane's size): the square transform
// of the smaller one, whose samples are box averages too, then the average of each pair along the
// axis reduced twice as much. Halves are rounded up and down in turn, so that no bias builds up.
template <int Shift, bool Across>
void pairedIdct(uint8_t* dst, int16_t* coef, int32_t step, int32_t pitch, const int32_t* dq, int32_t lastIndex,
                void* scratch) {
    static const JpgIdctFn kSquare[4] = {JpgDQIDCT8, JpgDQIDCT4, JpgDQIDCT2, JpgDQIDCT1};
    constexpr int n = 8 >> Shift;
    uint8_t square[64];
    kSquare[Shift](square, coef, 1, n, dq, 0, lastIndex, scratch);
    constexpr int w = Across ? n / 2 : n, h = Across ? n : n / 2;
    for (int y = 0; y < h; ++y) {
        uint8_t* row = dst + ptrdiff_t(y) * pitch;
        for (int x = 0; x < w; ++x) {
            const int a = Across ? square[y * n + 2 * x] : square[2 * y * n + x];
            const int b = Across ? square[y * n + 2 * x + 1] : square[(2 * y + 1) * n + x];
            row[ptrdiff_t(x) * step] = uint8_t((a + b + ((x + y) & 1)) >> 1);
        }
    }
}

template <int Shift, bool Across>
int32_t paired(uint8_t* dst, int16_t* coef, int32_t step, int32_t pitch, const int32_t* dq, int32_t, int32_t lastIndex,
               void* scratch) {
    pairedIdct<Shift, Across>(dst, coef, step, pitch, dq, lastIndex, scratch);
    return 0;
}

// 1/4 one way and 1/8 the other: the 8:1 average of every frequency but 0 is zero, so the two
// samples come from the first row (Across: column) of coefficients alone, as the 2 x 2 transform
// sums them, without rounding between.
template <bool Across>
int32_t quarterByEighth(uint8_t* dst, int16_t* coef, int32_t step, int32_t pitch, const int32_t* dq, int32_t,
                        int32_t lastIndex, void*) {
    // The weights of the 2 x 2 transform, with the fraction bits of the dequantisation taken out.
    struct Weights {
        float kr[8], k0;
    };
    static const Weights wt = [] {
        Weights r{};
        for (int u = 0; u < 8; ++u) {
            r.kr[u] = float(kernels().w2[u][0]) / float(1 << kConstBits) / float(1 << kConstBits);
        }
        r.k0 = float(kernels().w2[0][0]) / float(1 << kConstBits);
        return r;
    }();
    auto term = [&](int i) {
        const int at = Across ? i * 8 : i;
        return float(coef[at]) * float(dq[at]) * wt.kr[i];
    };
    const float even = term(0), odd = ((term(1) + term(3)) + term(5)) + term(7);
    const float k0 = wt.k0;
    auto put = [](float v) {
        v += 128.5f;
        return uint8_t(v <= 0 ? 0 : v >= 255 ? 255 : int(v));
    };
    dst[0] = put((even + odd) * k0);
    dst[Across ? pitch : step] = put((even - odd) * k0);
    if (lastIndex == 0) {
        coef[0] = 0;
    } else {
        std::memset(coef, 0, 64 * sizeof(int16_t));
    }
    return 0;
}

} // namespace

JpgIdctFn JpgIdctPaired(int sx, int sy) {
    static const JpgIdctFn kTaller[3] = {paired<0, false>, paired<1, false>, quarterByEighth<false>};
    static const JpgIdctFn kWider[3] = {paired<0, true>, paired<1, true>, quarterByEighth<true>};
    if (sy == sx + 1 && sx >= 0 && sx < 3) {
        return kTaller[sx];
    }
    if (sx == sy + 1 && sy >= 0 && sy < 3) {
        return kWider[sy];
    }
    return nullptr;
}

int32_t JpgIdct8Portable(uint8_t* dst, int16_t* coef, int32_t step, int32_t pitch,
                         const int32_t* dq, int32_t lastIndex) {
    constexpr int kInShift = kConstBits - kFrac;
    if (lastIndex == 0) {
        // DC only: x = F(0,0) / 8.
        int64_t v = dequant(coef[0], dq[0], kInShift);
        int64_t s = (v + (int64_t(1) << (kFrac + 2))) >> (kFrac + 3);
        fillBlock(dst, 8, step, pitch, clampSample(s + 128));
        coef[0] = 0;
        return 0;
    }
    int64_t ws[64];
    for (int u = 0; u < 8; ++u) {
        const int16_t* c = coef + u * 8;
        int64_t* w = ws + u * 8;
        if ((c[1] | c[2] | c[3] | c[4] | c[5] | c[6] | c[7]) == 0) {
            int64_t dc = c[0] ? dequant(c[0], dq[u * 8], kInShift) : 0;
            for (int i = 0; i < 8; ++i) {
                w[i] = dc;
            }
            continue;
        }
        int64_t in[8];
        for (int v = 0; v < 8; ++v) {
            in[v] = c[v] ? dequant(c[v], dq[u * 8 + v], kInShift) : 0;
        }
        aan8(in, 1, w, 1);
    }
    int64_t out[64];
    for (int x = 0; x < 8; ++x) {
        aan8(ws + x, 8, out + x, 8);
    }
    for (int y = 0; y < 8; ++y) {
        uint8_t* row = dst + ptrdiff_t(y) * pitch;
        for (int x = 0; x < 8; ++x) {
            int64_t s = (out[y * 8 + x] + (int64_t(1) << (kFrac + 2))) >> (kFrac + 3);
            row[ptrdiff_t(x) * step] = clampSample(s + 128);
        }
    }
    std::memset(coef, 0, 64 * sizeof(int16_t));
    return 0;
}

namespace {

// The portable reduced transforms, out of line: the vector ones are reached through their callers
// without saving what these need.
__attribute__((noinline)) int32_t idct4Portable(uint8_t* dst, int16_t* coef, int32_t step, int32_t pitch,
                                                const int32_t* dq) {
    reducedIdct<4>(dst, coef, step, pitch, dq, kernels().w4);
    return 0;
}

__attribute__((noinline)) int32_t idct2Portable(uint8_t* dst, int16_t* coef, int32_t step, int32_t pitch,
                                                const int32_t* dq) {
    // Only frequencies 0, 1, 3, 5 and 7 carry weight at 4:1, and the two outputs of each pass are
    // the even part plus and minus the odd part: 25 coefficients, no general loop. Single
    // precision holds every value of a valid file exactly enough for 8-bit output, and hostile
    // ones only saturate. Rows 1, 3, 5 and 7 go through four lanes at once, without a branch;
    // each lane does the operations of the one-row form in the same order, so the samples are
    // the same whichever form runs.
    using F4 = float __attribute__((vector_size(16)));
    using I4 = int32_t __attribute__((vector_size(16)));
    // Kernel weights; the row pass also takes out the fraction bits of the dequantisation.
    struct Weights {
        float k[8], kr[8];
        F4 rowK;
    };
    static const Weights w = [] {
        Weights r{};
        for (int u = 0; u < 8; ++u) {
            r.k[u] = float(kernels().w2[u][0]) / float(1 << kConstBits);
            r.kr[u] = r.k[u] / float(1 << kConstBits);
        }
        r.rowK = F4{r.k[1], r.k[3], r.k[5], r.k[7]};
        return r;
    }();
    // A column v of rows 1, 3, 5, 7: coefficient x quantiser x row weight, per lane.
    auto column = [&](int v) {
        const I4 c{coef[8 + v], coef[24 + v], coef[40 + v], coef[56 + v]};
        const I4 q{dq[8 + v], dq[24 + v], dq[40 + v], dq[56 + v]};
        return __builtin_convertvector(c, F4) * __builtin_convertvector(q, F4) * w.kr[v];
    };
    const F4 even = column(0);
    const F4 odd = ((column(1) + column(3)) + column(5)) + column(7);
    const F4 plus = (even + odd) * w.rowK, minus = (even - odd) * w.rowK;
    const float o0 = ((plus[0] + plus[1]) + plus[2]) + plus[3];
    const float o1 = ((minus[0] + minus[1]) + minus[2]) + minus[3];
    auto term = [&](int v) { return float(coef[v]) * float(dq[v]) * w.kr[v]; };
    const float even0 = term(0);
    const float odd0 = ((term(1) + term(3)) + term(5)) + term(7);
    const float e0 = (even0 + odd0) * w.k[0], e1 = (even0 - odd0) * w.k[0];
    auto put = [](float v) {
        v += 128.5f;
        return uint8_t(v <= 0 ? 0 : v >= 255 ? 255 : int(v));
    };
    dst[0] = put(e0 + o0);
    dst[step] = put(e1 + o1);
    dst[pitch] = put(e0 - o0);
    dst[pitch + step] = put(e1 - o1);
    std::memset(coef, 0, 64 * sizeof(int16_t));
    return 0;
}

} // namespace

extern "C" {

int32_t JpgDQIDCT8(uint8_t* dst, int16_t* coef, int32_t step, int32_t pitch, const int32_t* dq,
                   int32_t lineDouble, int32_t lastIndex, void* scratch) {
    if (step == 1 && JpgIdct8Simd && lastIndex != 0) {
        return JpgIdct8Simd(dst, coef, pitch, dq);
    }
    return JpgIdct8Portable(dst, coef, step, pitch, dq, lastIndex);
}

int32_t JpgDQIDCT4(uint8_t* dst, int16_t* coef, int32_t step, int32_t pitch, const int32_t* dq,
                   int32_t, int32_t lastIndex, void*) {
    if (step == 1 && JpgIdct4Simd) {
        return lastIndex == 0 ? JpgIdct4Dc(dst, coef, pitch, dq) : JpgIdct4Simd(dst, coef, pitch, dq, lastIndex);
    }
    return idct4Portable(dst, coef, step, pitch, dq);
}

int32_t JpgDQIDCT2(uint8_t* dst, int16_t* coef, int32_t step, int32_t pitch, const int32_t* dq,
                   int32_t, int32_t lastIndex, void*) {
    if (step == 1 && JpgIdct2Simd) {
        return JpgIdct2Simd(dst, coef, pitch, dq, lastIndex);
    }
    return idct2Portable(dst, coef, step, pitch, dq);
}

int32_t JpgDQIDCT1(uint8_t* dst, int16_t* coef, int32_t step, int32_t pitch, const int32_t* dq,
                   int32_t lineDouble, int32_t lastIndex, void*) {
    return JpgIdct1Sample(dst, coef, pitch, dq, lineDouble, lastIndex);
}

} // extern "C"
