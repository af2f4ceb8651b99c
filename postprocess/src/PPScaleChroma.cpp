// Chroma of planar and semi-planar YUV resampling: each target chroma sample once, taken from
// the source chroma at the sampling position of the pixel that the per-pixel path writes last
// into it (that path writes chroma for every pixel, so the last one stays).
//
// Upright and mirrored bands fill each target chroma row from offsets worked out once per band;
// under a quarter turn the samples are addressed one by one.
#include "PPScaleBlend.h"

#include "PPFastCommon.h"

#include <cstdint>
#include <cstring>
#include <vector>

namespace {

// Interleaved chroma (U, V pairs or V, U pairs): the first byte of the pairs, or null when the
// two planes are not one byte apart.
uint8_t* pairBase(const PPPlaneSet& s)
{
    const uintptr_t a = reinterpret_cast<uintptr_t>(s.ptr[1]), b = reinterpret_cast<uintptr_t>(s.ptr[2]);
    if (s.stepC != 2 || s.pitch[1] != s.pitch[2] || (a + 1 != b && b + 1 != a))
        return nullptr;
    return a < b ? s.ptr[1] : s.ptr[2];
}

} // namespace

void PPChromaNearest(const PPBand* bp, const PPPlaneSet* dstp, const PPPlaneSet* srcp, const PPEngine* e,
                     bool greySource)
{
    const PPBand& b = *bp;
    const PPPlaneSet &dst = *dstp, &src = *srcp;
    const PPEngineContext* ctx = e->ctx;
    const PPTargetWalk w(e);
    const int dhs = dst.hs[1] - 1, dvs = dst.vs[1] - 1, shs = src.hs[1] - 1, svs = src.vs[1] - 1;
    const PPLastWriters lu(b.u0, b.u1, w.swap ? w.cy : w.cx, w.swap ? w.sy : w.sx, w.swap ? dst.vs[1] : dst.hs[1]);
    const PPLastWriters lv(b.v0, b.v1, w.swap ? w.cx : w.cy, w.swap ? w.sx : w.sy, w.swap ? dst.hs[1] : dst.vs[1]);
    if (w.swap) {
        lv.forEach([&](int64_t v) {
            const int64_t sr = ctx->rowIndex[2 * v] >> svs;
            lu.forEach([&](int64_t u) {
                const int64_t tx = w.tx(u, v) >> dhs, ty = w.ty(u, v) >> dvs;
                const int64_t sc = (ctx->colIndex[2 * u] >> shs) * src.stepC;
                for (int p = 1; p < 3; ++p)
                    dst.ptr[p][ty * dst.pitch[p] + tx * dst.stepC] =
                        greySource ? 128 : src.ptr[p][sr * src.pitch[p] + sc];
            });
        });
        return;
    }
    // Per chosen column: its target and source byte offsets within a chroma row. The loops below
    // read them through local pointers, which the byte stores cannot alias.
    std::vector<int64_t> toList, fromList;
    lu.forEach([&](int64_t u) {
        toList.push_back((w.tx(u, 0) >> dhs) * dst.stepC);
        fromList.push_back((ctx->colIndex[2 * u] >> shs) * src.stepC);
    });
    const size_t n = toList.size();
    const int64_t* to = toList.data();
    const int64_t* from = fromList.data();
    // Interleaved pairs in the same order on both sides move as two-byte units.
    const uint8_t* sPair = greySource ? nullptr : pairBase(src);
    uint8_t* dPair = pairBase(dst);
    const bool pairs = sPair && dPair && (sPair == src.ptr[1]) == (dPair == dst.ptr[1]);
    // Written left to right: target samples (or pairs) one after another.
    bool runs = n > 0, pairRuns = n > 0;
    for (size_t k = 0; k < n; ++k) {
        runs = runs && to[k] == to[0] + static_cast<int64_t>(k);
        pairRuns = pairRuns && to[k] == to[0] + 2 * static_cast<int64_t>(k);
    }
    runs = runs && dst.stepC == 1;
    // Rows written left to right copy through the nearest-row copier (groups of samples that lie
    // close take one load and a shuffle); its offsets are 32-bit. Readable bytes of a source chroma
    // row, from its plane's pointer: up to the chroma sample of the source rectangle's last column.
    const int64_t readable = ((e->srcRect.right - 1) >> shs) * src.stepC + 1;
    const bool copier = readable < INT32_MAX && !greySource && ((pairs && pairRuns) || (!pairs && runs));
    std::vector<int32_t> offsets;
    if (copier)
        for (size_t k = 0; k < n; ++k)
            offsets.push_back(static_cast<int32_t>(from[k]));
    const PPNearestRow<2> pairCopier(pairs && copier ? offsets : std::vector<int32_t>{}, readable + 1);
    const PPNearestRow<1> sampleCopier(!pairs && copier ? offsets : std::vector<int32_t>{}, readable);
    lv.forEach([&](int64_t v) {
        const int64_t sr = ctx->rowIndex[2 * v] >> svs, ty = w.ty(0, v) >> dvs;
        if (pairs) {
            const uint8_t* s = sPair + sr * src.pitch[1];
            uint8_t* d = dPair + ty * dst.pitch[1];
            if (copier) {
                pairCopier.copy(d + to[0], s);
            } else {
                for (size_t k = 0; k < n; ++k)
                    std::memcpy(d + to[k], s + from[k], 2);
            }
            return;
        }
        uint8_t* d1 = dst.ptr[1] + ty * dst.pitch[1];
        uint8_t* d2 = dst.ptr[2] + ty * dst.pitch[2];
        if (greySource) {
            for (size_t k = 0; k < n; ++k)
                d1[to[k]] = d2[to[k]] = 128;
            return;
        }
        const uint8_t* s1 = src.ptr[1] + sr * src.pitch[1];
        const uint8_t* s2 = src.ptr[2] + sr * src.pitch[2];
        if (copier) {
            sampleCopier.copy(d1 + to[0], s1);
            sampleCopier.copy(d2 + to[0], s2);
            return;
        }
        for (size_t k = 0; k < n; ++k) {
            d1[to[k]] = s1[from[k]];
            d2[to[k]] = s2[from[k]];
        }
    });
}
