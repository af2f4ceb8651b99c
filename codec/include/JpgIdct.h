/* Scaled dequantising inverse DCTs shared by the JPEG decoder and encoder.
 *
 * coef: 64 coefficients in natural order, not dequantised; cleared on return.
 * dq: 64 dequantisation factors in natural order: quantiser x jpg_idct_scale_tbl[row].
 * step: bytes between samples of a line; pitch: bytes between lines.
 * lastIndex: zig-zag index of the last non-zero coefficient (63 when not tracked).
 * JpgDQIDCT8 writes 8 x 8 samples, JpgDQIDCT4 4 x 4, JpgDQIDCT2 2 x 2, JpgDQIDCT1 one sample,
 * level-shifted by 128 and clamped to 0..255. All return 0. */
#ifndef KPV_CODEC_JPGIDCT_H
#define KPV_CODEC_JPGIDCT_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef int32_t (*JpgIdctFn)(uint8_t* dst, int16_t* coef, int32_t step, int32_t pitch,
                             const int32_t* dq, int32_t lineDouble, int32_t lastIndex,
                             void* scratch);

int32_t JpgDQIDCT8(uint8_t* dst, int16_t* coef, int32_t step, int32_t pitch, const int32_t* dq,
                   int32_t lineDouble, int32_t lastIndex, void* scratch);
int32_t JpgDQIDCT4(uint8_t* dst, int16_t* coef, int32_t step, int32_t pitch, const int32_t* dq,
                   int32_t lineDouble, int32_t lastIndex, void* scratch);
int32_t JpgDQIDCT2(uint8_t* dst, int16_t* coef, int32_t step, int32_t pitch, const int32_t* dq,
                   int32_t lineDouble, int32_t lastIndex, void* scratch);
int32_t JpgDQIDCT1(uint8_t* dst, int16_t* coef, int32_t step, int32_t pitch, const int32_t* dq,
                   int32_t lineDouble, int32_t lastIndex, void* scratch);

/* Scale factors by scale shift (0: 1/1 .. 3: 1/8), natural order. */
extern const int16_t jpg_idct_scale_tbl[4][64];
/* Zig-zag to natural order, followed by 16 entries of 63 for overlong runs. */
extern const uint8_t jpg_natural_order[80];

#ifdef __cplusplus
}
#endif

#endif
