// Vector rows of YUV to RGB: one source row of consecutive columns (nearest at one to one) into
// one target row of consecutive pixels, for 16-, 24- and 32-bit targets whose channels the general
// kernel would write. The result is byte for byte the table conversion of the portable kernels:
// the colour tables are linear in their index, so the vector paths compute the same 32-bit sums
// from the tables' slopes and offsets, shift and saturate exactly as the clamp does.
#ifndef KPV_POSTPROCESS_PPSIMDYUVRGB_H
#define KPV_POSTPROCESS_PPSIMDYUVRGB_H

#include "PPInternal.h"

#include <cstdint>

// R = gy*Y + rCr*Cr + kr, G = gy*Y + gCb*Cb + gCr*Cr + kg, B = gy*Y + bCb*Cb + kb, in wrapping
// 32-bit arithmetic, then >> 16 and clamped to 0..255.
struct PPYuvLinear {
    int32_t gy, rCr, gCb, gCr, bCb;
    int32_t kr, kg, kb;
};

// How 16 pixels of R, G and B bytes become target bytes.
struct PPRgbPack {
    int bytes = 0; // 2, 3 or 4 per pixel
    // 24 and 32 bits: output vector k (16 bytes) is the OR of R, G and B shuffled by shuf[k][c]
    // and the constant fill[k] (the alpha byte).
    alignas(16) uint8_t shuf[4][3][16] = {};
    alignas(16) uint8_t fill[4][16] = {};
    // 32 bits: the channel of each byte of a pixel (0 R, 1 G, 2 B, 3 the constant alpha).
    int byteOf[4] = {};
    uint8_t alpha = 255;
    // 16 bits: channel c is shifted right by narrow[c] and left by place[c].
    int narrow[3] = {}, place[3] = {};
};

using PPYuvRowFn = void (*)(const PPYuvLinear& k, const PPRgbPack& pack, uint8_t* out, const uint8_t* y,
                            const uint8_t* cb, const uint8_t* cr, int64_t c0, int64_t n, int shs, int stepC);

struct PPYuvRows {
    PPYuvLinear k{};
    PPRgbPack pack;
    PPYuvRowFn row = nullptr;
};

// Sets up the vector rows for an engine whose target is RGB, at the active vector level; false
// when that level is the portable one or the target or tables do not suit (the caller then goes
// the portable way).
bool PPYuvRowsPrepare(const PPEngineContext* ctx, PPYuvRows* rows);

// The two vector levels' row functions (n >= 1; planar chroma with stepC 1, or interleaved pairs
// with stepC 2 and shs 1).
void PPYuvRowSSE41(const PPYuvLinear& k, const PPRgbPack& pack, uint8_t* out, const uint8_t* y, const uint8_t* cb,
                   const uint8_t* cr, int64_t c0, int64_t n, int shs, int stepC);
void PPYuvRowAVX2(const PPYuvLinear& k, const PPRgbPack& pack, uint8_t* out, const uint8_t* y, const uint8_t* cb,
                  const uint8_t* cr, int64_t c0, int64_t n, int shs, int stepC);

// How many bands the vector rows have done, for tests that must know the vector path ran.
int64_t PPDebugVectorYuvBands();

// The general kernel's shortcut: a band of YUV to RGB at one to one, upright or mirrored top to
// bottom, done in vector rows. False (nothing written) when the band does not suit.
bool PPYuvToRgbBandSimd(const PPBand& band, const PPPlaneSet& dst, const PPPlaneSet& src, const PPEngine* e);

#endif
