// The full-size inverse transform: portable version and the vector version picked at start.
#ifndef KPV_CODEC_JPEG_IDCT_IMPL_H
#define KPV_CODEC_JPEG_IDCT_IMPL_H

#include <cstdint>

int32_t JpgIdct8Portable(uint8_t* dst, int16_t* coef, int32_t step, int32_t pitch,
                         const int32_t* dq, int32_t lastIndex);

// Writes 8 x 8 samples with pixel step 1; null when the processor lacks the instructions.
using JpgIdct8SimdFn = int32_t (*)(uint8_t* dst, int16_t* coef, int32_t pitch, const int32_t* dq);
extern JpgIdct8SimdFn JpgIdct8Simd;
// With the zig-zag index of the last non-zero coefficient, which spares the work of the ones known
// to be zero.
using JpgIdct2SimdFn = int32_t (*)(uint8_t* dst, int16_t* coef, int32_t pitch, const int32_t* dq, int32_t lastIndex);
// Writes 4 x 4 samples (scale 1/2) with pixel step 1; null without vector support.
extern JpgIdct2SimdFn JpgIdct4Simd;
// The vector 4 x 4 transform of a block of only a DC term, one sample for all, in the same steps.
int32_t JpgIdct4Dc(uint8_t* dst, int16_t* coef, int32_t pitch, const int32_t* dq);
// Writes 2 x 2 samples (scale 1/4) with pixel step 1, from the coefficients that transform uses
// (the DC term alone when lastIndex is 0); null without vector support.
extern JpgIdct2SimdFn JpgIdct2Simd;
// The same transform from weights made once per dequantisation table (JpgIdct2Weigh: each
// coefficient's quantiser times its kernel weight), which spares the conversion and product of the
// quantisers at every block; null without vector support.
constexpr int kJpgIdct2Weights = 40; // floats: rows 0, 1, 3, 5 and 7 of eight lanes
using JpgIdct2WeightedFn = int32_t (*)(uint8_t* dst, int16_t* coef, int32_t pitch, const float* weights,
                                       int32_t lastIndex);
extern JpgIdct2WeightedFn JpgIdct2Weighted;
void JpgIdct2Weigh(const int32_t* dq, float* weights);

// The 1/8 transform: one sample, the block's mean, F(0,0) / 8 = DC x dq / 512 rounded (dq is the
// quantiser x 64), into dst and, with line doubling, half a pitch below; the block left all zero.
// Inline, so that the MCU loop writes the sample without a call.
inline int32_t JpgIdct1Sample(uint8_t* dst, int16_t* coef, int32_t pitch, const int32_t* dq, int32_t lineDouble,
                              int32_t lastIndex) {
    const int64_t v = ((int64_t(coef[0]) * dq[0] + 256) >> 9) + 128;
    const uint8_t s = uint8_t(v < 0 ? 0 : v > 255 ? 255 : v);
    dst[0] = s;
    if (lineDouble) {
        dst[pitch / 2] = s;
    }
    if (lastIndex == 0) {
        coef[0] = 0; // nothing else was stored
    } else {
        __builtin_memset(coef, 0, 64 * sizeof(int16_t));
    }
    return 0;
}

// Box-average kernel of the reduced transforms: the weight of frequency u (with the factor of
// jpg_idct_scale_tbl row `shift` divided out) in output m, for shift 1 (m < 4) and 2 (m < 2).
double JpgReducedKernel(int shift, int u, int m);

#endif
