// Vector quarter turns of YUV planes: sixteen oriented rows at a time are transposed in registers,
// so that every target row gets 16 (luma) or 16 per component (chroma) consecutive bytes per store
// instead of one 32-bit word. Byte for byte what the portable turn writes.
#ifndef KPV_POSTPROCESS_PPSIMDTURN_H
#define KPV_POSTPROCESS_PPSIMDTURN_H

#include "PPFastCommon.h"

#include <cstdint>

// Sixteen rows of samples 1 byte apart, columns 0 .. m - 1: column i (row 0 first) becomes the 16
// bytes at out + i * pitch. Does the largest multiple of the level's block width of m and returns
// how many columns that is.
using PPTurnLumaFn = int64_t (*)(const uint8_t* const rows[16], int64_t m, uint8_t* out, int64_t pitch);

// Both chroma components at once: rows u[k] and v[k] with samples srcStep (1 or 2) bytes apart;
// column i goes to outU + i * pitchU and outV + i * pitchV, 16 bytes each when dstStep is 1, or as
// 16 interleaved pairs when dstStep is 2 (outU and outV then one byte apart, the pitches equal). m
// is a multiple of 16.
// With srcStep 2, u[k] and v[k] are one byte apart, and no byte past a row's last pair is read.
using PPTurnChromaFn = void (*)(const uint8_t* const u[16], const uint8_t* const v[16], int srcStep, int64_t m,
                                uint8_t* outU, uint8_t* outV, int64_t pitchU, int64_t pitchV, int dstStep);

// The active level's kernels; null at the portable level.
PPTurnLumaFn PPTurnLumaKernel();
PPTurnChromaFn PPTurnChromaKernel();

int64_t PPTurnLumaSSE41(const uint8_t* const rows[16], int64_t m, uint8_t* out, int64_t pitch);
int64_t PPTurnLumaAVX2(const uint8_t* const rows[16], int64_t m, uint8_t* out, int64_t pitch);
void PPTurnChromaSSE41(const uint8_t* const u[16], const uint8_t* const v[16], int srcStep, int64_t m, uint8_t* outU,
                       uint8_t* outV, int64_t pitchU, int64_t pitchV, int dstStep);
void PPTurnChromaAVX2(const uint8_t* const u[16], const uint8_t* const v[16], int srcStep, int64_t m, uint8_t* outU,
                      uint8_t* outV, int64_t pitchU, int64_t pitchV, int dstStep);

// The chroma pass of a quarter turn at one to one in vector blocks: the target samples that the
// walkers choose, each written once from the source sample the portable pass would read. False
// (nothing written) when the level is portable or the band does not suit.
bool PPTurnChromaBand(const PPBand& b, const PPPlaneSet& dst, const PPPlaneSet& src, const PPEngine* e,
                      const PPLastWriters& lu, const PPLastWriters& lv);

// The general kernel's shortcut for a quarter turn at one to one between YUV planes that the fast
// selector leaves to it (a planar layout onto itself, for one): the turn kernels' passes, which
// write what the general kernel writes. At vector levels only, so that the portable path stays
// the general kernel. False (nothing written) when the band does not suit.
bool PPYuvTurnBand(const PPBand& b, const PPPlaneSet& dst, const PPPlaneSet& src, const PPEngine* e);

#endif
