// Bilinear resampling of packed 8-bit RGB (three or four bytes a pixel) and of 8-bit planes with
// vector rows.
//
// The kernels that blend 8-bit channels with 12-bit fractions (the general kernel's 32-bit RGB
// pairs and the fast 24-bit RGB kernel), and those that blend luma or grey planes with 16-bit
// fractions, hand their bands here first. A band is planned once: per target column, where the
// two source pixels sit in a source row and their weights. The vector rows then blend every
// target row from that plan; the few columns the plan cannot place (at the edges of very narrow
// sources) go through the per-pixel blend. Each lane forms the same exact integer sum as the
// portable formula, so the bytes are the same.
#ifndef KPV_POSTPROCESS_PPSCALEBLEND_H
#define KPV_POSTPROCESS_PPSCALEBLEND_H

#include "PPCpu.h"
#include "PPInternal.h"

#include <cstdint>
#include <vector>

// Blends the band with the vector level in force, for bytesPerPixel 3 or 4 with the same byte
// order on both sides. Returns false, touching nothing, when the level is portable or the band
// cannot be planned; the caller then does the band itself.
bool PPBlendBandVector(const PPBand* band, const PPPlaneSet* dst, const PPPlaneSet* src, const PPEngine* e,
                       int bytesPerPixel);

// The same for the first plane of planar YUV and grey (one byte a sample on both sides), with
// the 16-bit fractions of the luma blend. Returns false, touching nothing, as above.
bool PPBlendPlaneVector(const PPBand* band, const PPPlaneSet* dst, const PPPlaneSet* src, const PPEngine* e);

// The chroma that goes with PPBlendPlaneVector's luma, for planar or semi-planar targets: each
// target chroma sample once, from the source chroma of the pixel that the per-pixel path writes
// last into it (128 from a grey source).
void PPChromaNearest(const PPBand* band, const PPPlaneSet* dst, const PPPlaneSet* src, const PPEngine* e,
                     bool greySource);

// A row copy by nearest sample: target sample k (Bpp bytes) is the one at byte from[k] of the
// source row, whose readable bytes end at sourceEnd. At the vector levels, groups of target bytes
// (16 of four-byte samples, else 8) whose sources lie within 16 bytes take one load and a shuffle.
template <int Bpp> class PPNearestRow {
public:
    PPNearestRow(std::vector<int32_t> from, int64_t sourceEnd);
    // The targets one after another from out on, and the same into the rows - 1 target rows that
    // follow, step bytes apart; next is the source row the following call will read (or null),
    // whose bytes are asked for meanwhile.
    void copy(uint8_t* out, const uint8_t* row, const uint8_t* next = nullptr, int64_t step = 0,
              int64_t rows = 1) const;
    // The targets step bytes apart.
    void copy(uint8_t* out, int64_t step, const uint8_t* row) const;

private:
    static constexpr int kGroupBytes = Bpp == 4 ? 16 : 8, kPer = Bpp == 3 ? 0 : kGroupBytes / Bpp;
    std::vector<int32_t> from_, base_;
    std::vector<uint8_t> shuffle_;
    int64_t groups_ = 0;
    PPSimd level_ = PPSimd::Portable;
    int64_t firstByte_ = 0; // the lowest source byte the row reads
    bool dense_ = false;    // the samples lie at most 64 bytes apart on average
};
extern template class PPNearestRow<1>;
extern template class PPNearestRow<2>;
extern template class PPNearestRow<3>;
extern template class PPNearestRow<4>;

// Target pixels written by vector rows since start-up (for tests: proof that a path really ran).
int64_t PPDebugVectorPixels();

// Groups of target pixels of a row whose windows lie within 16 bytes of a source row, so that one
// load and a byte shuffle make all their windows: base[g] is the byte where group g's 16 bytes
// start (-1 when the group does not fit) and shuffle points at the groups' shuffles.
struct PPRowGroups {
    const int32_t* base;
    const uint8_t* shuffle;
};

// The source row that the next target row reads, asked for piece by piece while the current one
// is copied (a hint only: no byte depends on it). When the samples cover the row densely, every
// cache line up to the current sample; else the line of each sample. No row: nothing is asked.
struct PPRowPrefetch {
    const uint8_t* row = nullptr;
    int64_t at = 0;     // dense: the next byte to ask for
    bool dense = false;

    // Before the targets [i, i + count) are copied.
    void before(const int32_t* from, int64_t i, int count)
    {
        if (!row)
            return;
        if (dense) {
            for (const int64_t until = int64_t{from[i + count - 1]} + 4; at < until; at += 64)
                __builtin_prefetch(row + at);
            return;
        }
        for (int k = 0; k < count; ++k)
            __builtin_prefetch(row + from[i + k]);
    }
};

// One target row of packed RGB: n pixels into out. Pixel i reads an 8-byte window at byte off[i]
// of both source rows: four-byte pixels as left, right; three-byte pixels as two spare bytes,
// left, right. w holds four copies per pixel of (left weight | right weight << 16), the two
// summing to 4096; fy is the lower row's weight out of 4096. Groups are pairs of pixels (2g,
// 2g + 1), each with 32 shuffle bytes: per pixel, four 32-bit lanes of (left, right) channel
// pairs in 16 bits.
using PPBlendRowFn = void (*)(uint8_t* out, const uint8_t* r0, const uint8_t* r1, const int32_t* off,
                              const uint32_t* w, int64_t n, uint32_t fy, PPRowGroups groups);

// One target row of a plane: pixel i reads a 4-byte window at off[i] of both source rows (two
// spare bytes, left, right) and gives the right sample the weight fx[i] out of 65536. Groups are
// four pixels (4g .. 4g + 3), each with 16 shuffle bytes that make their four windows.
using PPPlaneRowFn = void (*)(uint8_t* out, const uint8_t* r0, const uint8_t* r1, const int32_t* off,
                              const int32_t* fx, int64_t n, uint32_t fy, PPRowGroups groups);

#if defined(__x86_64__) || defined(__i386__)
// Nearest copies: bytes (8 or 16) target bytes per group g of count, the first bytes of the 16
// source bytes at groups.base[g] shuffled by groups.shuffle + 16 g; groups whose base is -1 are
// skipped.
void PPCopyRowSse41(uint8_t* out, const uint8_t* row, PPRowGroups groups, int64_t count, int bytes);
// Four-byte samples: n targets, sample k from byte from[k] of the row, the same bytes into rows
// target rows, step bytes apart. SSE4.1: groups of four targets (16 bytes) as above where they
// fit, the others one load per sample. AVX2: blocks of eight targets whose sources lie in the 32
// bytes at groups.base[b] take one load and a permutation of its words (indices in the 8 bytes at
// groups.shuffle + 8 b), the others are gathered.
void PPCopyRow4Sse41(uint8_t* out, int64_t step, int64_t rows, const uint8_t* row, const int32_t* from, int64_t n,
                     PPRowGroups groups, PPRowPrefetch next);
void PPCopyRow4Avx2(uint8_t* out, int64_t step, int64_t rows, const uint8_t* row, const int32_t* from, int64_t n,
                    PPRowGroups groups, PPRowPrefetch next);
void PPBlendPlaneRowSse41(uint8_t* out, const uint8_t* r0, const uint8_t* r1, const int32_t* off, const int32_t* fx,
                          int64_t n, uint32_t fy, PPRowGroups groups);
void PPBlendPlaneRowAvx2(uint8_t* out, const uint8_t* r0, const uint8_t* r1, const int32_t* off, const int32_t* fx,
                         int64_t n, uint32_t fy, PPRowGroups groups);
void PPBlendRow4Sse41(uint8_t* out, const uint8_t* r0, const uint8_t* r1, const int32_t* off, const uint32_t* w,
                      int64_t n, uint32_t fy, PPRowGroups groups);
void PPBlendRow3Sse41(uint8_t* out, const uint8_t* r0, const uint8_t* r1, const int32_t* off, const uint32_t* w,
                      int64_t n, uint32_t fy, PPRowGroups groups);
void PPBlendRow4Avx2(uint8_t* out, const uint8_t* r0, const uint8_t* r1, const int32_t* off, const uint32_t* w,
                     int64_t n, uint32_t fy, PPRowGroups groups);
// Up to kPPSharedRows target rows, step bytes apart, that read three source rows between them
// (enlarging): rows [0, split) read row[0] and row[1], the rest row[1] and row[2]; row k has the
// lower row's weight fy[k]. The shared-rows blends form the horizontal sums of each source row once
// for all of them: for four-byte pixels with the weights and windows of the pair rows, for planes
// with those of the plane rows.
constexpr int kPPSharedRows = 4;
struct PPSharedRows {
    uint8_t* out = nullptr;
    int64_t step = 0;
    int rows = 1, split = 1;
    const uint8_t* row[3] = {};
    uint32_t fy[kPPSharedRows] = {};
    const uint8_t* top(int k) const { return row[k < split ? 0 : 1]; }
    const uint8_t* bottom(int k) const { return row[k < split ? 1 : 2]; }
};
using PPBlendRows4Fn = void (*)(const PPSharedRows& s, const int32_t* off, const uint32_t* w, int64_t n,
                                PPRowGroups groups);
using PPBlendPlaneRowsFn = void (*)(const PPSharedRows& s, const int32_t* off, const int32_t* fx, int64_t n,
                                    PPRowGroups groups);
void PPBlendRows4Sse41(const PPSharedRows& s, const int32_t* off, const uint32_t* w, int64_t n, PPRowGroups groups);
void PPBlendRows4Avx2(const PPSharedRows& s, const int32_t* off, const uint32_t* w, int64_t n, PPRowGroups groups);
void PPBlendPlaneRowsSse41(const PPSharedRows& s, const int32_t* off, const int32_t* fx, int64_t n,
                           PPRowGroups groups);
void PPBlendPlaneRowsAvx2(const PPSharedRows& s, const int32_t* off, const int32_t* fx, int64_t n, PPRowGroups groups);
void PPBlendRow3Avx2(uint8_t* out, const uint8_t* r0, const uint8_t* r1, const int32_t* off, const uint32_t* w,
                     int64_t n, uint32_t fy, PPRowGroups groups);
#endif

#endif
