// The quantiser interface, the quick table shared by both palette builders and the remappers.
#include "QuantInternal.h"

#include "MMemory.h"

#include <algorithm>
#include <cstdint>
#include <limits>

namespace kpv::quant {

int64_t paddedRow(int64_t bytes) {
    if (bytes < 0 || bytes > std::numeric_limits<int64_t>::max() - 3) return -1;
    return (bytes + 3) / 4 * 4;
}

int64_t resolvePitch(int64_t pitch, int64_t rowBytes, int64_t height) {
    if (rowBytes < 1 || height < 1) return -1;
    if (pitch <= 0) pitch = paddedRow(rowBytes);
    if (pitch < rowBytes) return -1;
    // The whole buffer must be addressable; also keeps every row offset below in range.
    if (pitch > std::numeric_limits<int64_t>::max() / height) return -1;
    return pitch;
}

namespace {

struct Entry {
    int sum;
    MByte c[3];
};

// 3 d^2 for d in -255..255, the distance weight of the nearest-entry search.
struct SquareTable {
    int v[511];
    SquareTable() {
        for (int d = -255; d <= 255; ++d) v[d + 255] = 3 * d * d;
    }
    int operator()(int d) const { return v[d + 255]; }
};

const SquareTable& squares() {
    static const SquareTable table;
    return table;
}

// Entries whose brightness sum differs from the cell's by 100 or more are never looked at: the
// search stays short and only cells far from every entry can miss their true nearest one.
constexpr int kSumWindow = 10000;

}  // namespace

bool GetQkTabFromPalette(MByte* palette, int n, MByte* table) {
    if (n <= 0) return true;
    auto* work = static_cast<Entry*>(MMemAlloc(nullptr, sizeof(Entry) * size_t(n)));
    if (!work) return false;
    for (int i = 0; i < n; ++i) {
        const MByte* p = palette + 4 * i;
        work[i] = Entry{p[0] + p[1] + p[2], {p[0], p[1], p[2]}};
    }
    // Selection sort by sum: the first strictly smaller entry is swapped in, so the order of
    // equal sums is the one callers have always seen.
    for (int i = 0; i < n - 1; ++i) {
        int m = i;
        for (int j = i + 1; j < n; ++j)
            if (work[j].sum < work[m].sum) m = j;
        if (work[m].sum < work[i].sum) std::swap(work[i], work[m]);
    }

    const SquareTable& sq = squares();
    for (unsigned key = 0; key < AMQUANT_QKTAB_SIZE; ++key) {
        // The cell stands for its colours widened the way the palette's are (5 and 6 bits
        // repeated into the low bits), not for its lowest corner: from the corner, a pixel that
        // equals a palette entry could be sent to a neighbour of that entry.
        const int u = int(key >> 11), g = int((key >> 5) & 63), v = int(key & 31);
        const int c0 = u * 8 + u / 4;
        const int c1 = g * 4 + g / 16;
        const int c2 = v * 8 + v / 4;
        const int s = c0 + c1 + c2;
        auto dist = [&](const Entry& e) { return sq(c0 - e.c[0]) + sq(c1 - e.c[1]) + sq(c2 - e.c[2]); };

        int lo = 0, hi = n - 1, mid = 0;
        while (lo <= hi) {
            mid = (lo + hi) / 2;
            if (work[mid].sum == s) break;
            if (work[mid].sum < s) lo = mid + 1;
            else hi = mid - 1;
        }
        int best = mid;
        int bestDist = dist(work[mid]);
        // Sums only grow upwards and shrink downwards, and (s - S)^2 never exceeds the weighted
        // distance, so a walk stops as soon as the sum alone is too far.
        for (int j = mid + 1; j < n; ++j) {
            const int ds = (work[j].sum - s) * (work[j].sum - s);
            if (ds >= bestDist || ds >= kSumWindow) break;
            const int d = dist(work[j]);
            if (d < bestDist) { bestDist = d; best = j; }
        }
        for (int j = mid - 1; j >= 0; --j) {
            const int ds = (work[j].sum - s) * (work[j].sum - s);
            if (ds >= bestDist || ds >= kSumWindow) break;
            const int d = dist(work[j]);
            if (d < bestDist) { bestDist = d; best = j; }
        }
        table[key] = MByte(best);
    }

    for (int i = 0; i < n; ++i) {
        palette[4 * i + 0] = work[i].c[0];
        palette[4 * i + 1] = work[i].c[1];
        palette[4 * i + 2] = work[i].c[2];
    }
    MMemFree(nullptr, work);
    return true;
}

namespace {

inline MByte clamp255(int v) { return MByte(v < 0 ? 0 : (v > 255 ? 255 : v)); }

// How far the carried error may grow before it is halved: any component squared above
// componentMax, the squared length above lengthMax, or above twice the fresh error's.
struct DiffuseLimits {
    int componentMax;
    int lengthMax;
};

// The error-diffusion walk shared by the remappers. lookup(c0, c1, c2) gives the palette index
// of a corrected colour; emit(x, y, index) stores the result. The error carries along the row and
// shares of it (3/16, 5/16, 1/16) go into the row below, or into the last row itself.
template <class Lookup, class Emit>
void diffuse(MByte* pixels, int64_t pitch, int64_t width, int64_t height, const MByte* palette,
             DiffuseLimits limits, Lookup lookup, Emit emit) {
    for (int64_t y = 0; y < height; ++y) {
        MByte* row = pixels + y * pitch;
        MByte* below = y + 1 < height ? row + pitch : row;
        int e[3] = {0, 0, 0};
        for (int64_t x = 0; x < width; ++x) {
            MByte* px = row + 3 * x;
            const int index = lookup(clamp255(px[0] - e[0]), clamp255(px[1] - e[1]), clamp255(px[2] - e[2]));
            emit(x, y, index);
            const MByte* pal = palette + 4 * index;
            int fresh[3];
            for (int k = 0; k < 3; ++k) {
                fresh[k] = pal[k] - px[k];
                e[k] += fresh[k];
            }
            const int freshLen = fresh[0] * fresh[0] + fresh[1] * fresh[1] + fresh[2] * fresh[2];
            for (;;) {
                const int len = e[0] * e[0] + e[1] * e[1] + e[2] * e[2];
                const bool big = e[0] * e[0] > limits.componentMax || e[1] * e[1] > limits.componentMax ||
                                 e[2] * e[2] > limits.componentMax || len > limits.lengthMax || len > 2 * freshLen;
                if (!big) break;
                for (int k = 0; k < 3; ++k) e[k] /= 2;
            }
            for (int k = 0; k < 3; ++k) {
                if (x > 0) {
                    MByte* q = below + 3 * (x - 1) + k;
                    *q = clamp255(*q - 3 * e[k] / 16);
                }
                if (x + 1 < width) {
                    MByte* q = below + 3 * (x + 1) + k;
                    *q = clamp255(*q - e[k] / 16);
                }
                MByte* q = below + 3 * x + k;
                *q = clamp255(*q - 5 * e[k] / 16);
            }
        }
    }
}

inline unsigned key15(int b0, int b1, int b2) {
    return (unsigned(b0 >> 3) << 10) | (unsigned(b1 >> 3) << 5) | unsigned(b2 >> 3);
}

// Checks the common geometry of a remap: three-byte source rows and output rows of outBytes
// bytes per pixel. Returns false for anything unusable.
bool remapGeometry(MInt64 width, MInt64 height, MInt64& srcPitch, MInt64& outPitch, int outBytes) {
    if (width < 1 || height < 1 || width > std::numeric_limits<int64_t>::max() / 3) return false;
    srcPitch = resolvePitch(srcPitch, 3 * width, height);
    outPitch = resolvePitch(outPitch, outBytes * width, height);
    return srcPitch > 0 && outPitch > 0;
}

}  // namespace
}  // namespace kpv::quant

using namespace kpv::quant;

extern "C" {

AMQuantHandle AMQuant_CreatePalette(MInt64 lType) {
    auto* h = static_cast<AMQuantRecord*>(MMemAlloc(nullptr, sizeof(AMQuantRecord)));
    if (!h) return nullptr;
    MMemSet(h, 0, sizeof(AMQuantRecord));
    h->type = lType;
    return h;
}

MResult AMQuant_DestroyPalette(AMQuantHandle hQuant) {
    if (!hQuant) return MERR_INVALID_PARAM;
    MMemFree(nullptr, hQuant);
    return MOK;
}

MResult AMQuant_GetPalette(AMQuantHandle hQuant, const MByte* pPixels, MInt64 lSrcPitch, MInt64 lWidth,
                           MInt64 lHeight, MInt64 lColors, MByte* pPalette) {
    if (!hQuant || !pPixels || !pPalette) return MERR_INVALID_PARAM;
    if (lWidth < 1 || lHeight < 1 || lWidth > std::numeric_limits<int64_t>::max() / 3) return MERR_INVALID_PARAM;
    if (lColors > AMQUANT_MAX_COLORS) return MERR_INVALID_PARAM;
    const int64_t pitch = resolvePitch(lSrcPitch, 3 * lWidth, lHeight);
    if (pitch < 0) return MERR_INVALID_PARAM;
    const Image24 image{pPixels, pitch, lWidth, lHeight};
    switch (hQuant->type) {
    case AMQUANT_MEDIANCUT:
        if (lColors >= 16) mediacut_GetPalette(image, int(lColors), pPalette, hQuant->qkTab);
        break;
    case AMQUANT_NEURAL:
        neu_GetPalette(image, pPalette, hQuant->qkTab);
        break;
    default:
        break;
    }
    return MOK;
}

MResult AMQuant_Remapfloyd(AMQuantHandle hQuant, MByte* pPixels, MInt64 lSrcPitch, MByte* pIndex,
                           MInt64 lIndexPitch, MInt64 lWidth, MInt64 lHeight, const MByte* pPalette) {
    if (!hQuant || !pPalette || !pPixels || !pIndex) return MERR_INVALID_PARAM;
    if (!remapGeometry(lWidth, lHeight, lSrcPitch, lIndexPitch, 1)) return MERR_INVALID_PARAM;
    const MByte* table = hQuant->qkTab;
    diffuse(pPixels, lSrcPitch, lWidth, lHeight, pPalette, DiffuseLimits{100, 200},
            [table](int c0, int c1, int c2) { return int(table[qkKey(c0, c1, c2)]); },
            [&](int64_t x, int64_t y, int index) { pIndex[y * lIndexPitch + x] = MByte(index); });
    return MOK;
}

MResult RemapSimple(const MByte* pTable, const MByte* pPixels, MInt64 lSrcPitch, MByte* pIndex,
                    MInt64 lIndexPitch, MInt64 lWidth, MInt64 lHeight) {
    if (!pTable || !pPixels || !pIndex) return MERR_INVALID_PARAM;
    if (!remapGeometry(lWidth, lHeight, lSrcPitch, lIndexPitch, 1)) return MERR_INVALID_PARAM;
    for (int64_t y = 0; y < lHeight; ++y) {
        const MByte* src = pPixels + y * lSrcPitch;
        MByte* dst = pIndex + y * lIndexPitch;
        for (int64_t x = 0; x < lWidth; ++x, src += 3) dst[x] = pTable[key15(src[0], src[1], src[2])];
    }
    return MOK;
}

MResult mediacut_RemapFloyd(const MByte* pTable, MByte* pPixels, MInt64 lSrcPitch, MByte* pOutput,
                            MInt64 lOutPitch, MInt64 lWidth, MInt64 lHeight, const MByte* pPalette) {
    if (!pTable || !pPixels || !pOutput || !pPalette) return MERR_INVALID_PARAM;
    if (!remapGeometry(lWidth, lHeight, lSrcPitch, lOutPitch, 3)) return MERR_INVALID_PARAM;
    diffuse(pPixels, lSrcPitch, lWidth, lHeight, pPalette, DiffuseLimits{200, 400},
            [pTable](int c0, int c1, int c2) { return int(pTable[key15(c0, c1, c2)]); },
            [&](int64_t x, int64_t y, int index) {
                MByte* out = pOutput + y * lOutPitch + 3 * x;
                const MByte* pal = pPalette + 4 * index;
                out[0] = pal[0];
                out[1] = pal[1];
                out[2] = pal[2];
            });
    return MOK;
}

}  // extern "C"
