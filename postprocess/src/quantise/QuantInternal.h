// Shared pieces of the palette quantisers: the handle record, the checked image geometry and
// the two palette builders.
#ifndef KPV_POSTPROCESS_QUANTINTERNAL_H
#define KPV_POSTPROCESS_QUANTINTERNAL_H

#include "AMQuant.h"

#include <cstdint>

struct AMQuantRecord {
    MInt64 type;
    MByte qkTab[AMQUANT_QKTAB_SIZE];
};

namespace kpv::quant {

// Rows of three-byte pixels, with a pitch already checked against the width.
struct Image24 {
    const MByte* pixels;
    int64_t pitch;
    int64_t width;
    int64_t height;
    const MByte* pixel(int64_t x, int64_t y) const { return pixels + y * pitch + 3 * x; }
};

// Bytes per row padded to a multiple of 4, or -1 when it does not fit.
int64_t paddedRow(int64_t bytes);

// Resolves a caller's pitch (0 or below: padded to 4 bytes) for rows of rowBytes bytes and checks
// that pitch * height fits; -1 when the geometry is unusable.
int64_t resolvePitch(int64_t pitch, int64_t rowBytes, int64_t height);

// The 16-bit quick-table key: bits 15-11 byte 0 >> 3, bits 10-5 byte 1 >> 2, bits 4-0 byte 2 >> 3.
inline unsigned qkKey(int b0, int b1, int b2) {
    return (unsigned(b0 >> 3) << 11) | (unsigned(b1 >> 2) << 5) | unsigned(b2 >> 3);
}

// Sorts the first n palette entries by the sum of their bytes and fills the quick table with the
// nearest entry for every key. Returns false (palette and table untouched) without memory.
bool GetQkTabFromPalette(MByte* palette, int n, MByte* table);

// The palette builders; both end with GetQkTabFromPalette.
void mediacut_GetPalette(const Image24& image, int colors, MByte* palette, MByte* table);
void neu_GetPalette(const Image24& image, MByte* palette, MByte* table);

}  // namespace kpv::quant

#endif
