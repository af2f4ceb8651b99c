// What the fast kernels share: the linear addressing of
// a target plane in oriented coordinates, and the walk over the pixels that decide a subsampled
// chroma sample.
//
// The general kernel writes chroma for every target pixel, so the value that stays in a subsampled
// chroma sample is the one of the last pixel of its block in the walk order (rows v outermost,
// columns u inside). Which pixel that is depends on the orientation: under a mirror the last
// pixel of a block is its first target column. The fast kernels write each chroma sample once, from
// exactly that pixel.
#ifndef KPV_POSTPROCESS_PPFASTCOMMON_H
#define KPV_POSTPROCESS_PPFASTCOMMON_H

#include "PPKernels.h"

#include <algorithm>
#include <cstdint>

// Branch-free (the compiler makes min and max conditional moves): random colours would defeat
// branch prediction.
inline uint8_t ppClamp8(int v) { return static_cast<uint8_t>(std::min(std::max(v, 0), 255)); }

// Bilinear blend of four 8-bit samples with 16-bit fractions, rounded to nearest; the general
// kernel's formula for YUV luma and for RGB sources converted to YUV.
inline int ppBlend(int a, int b, int c, int d, int fx, int fy)
{
    const int32_t top = (a << 16) + (b - a) * fx;
    const int32_t bottom = (c << 16) + (d - c) * fx;
    return static_cast<int>((top + ((static_cast<int64_t>(bottom - top) * fy) >> 16) + 32768) >> 16);
}

// The same blend in 12-bit fractions; the general kernel's formula between 8-bit RGB sides.
inline uint32_t ppBlend12(uint32_t a, uint32_t b, uint32_t c, uint32_t d, uint32_t fx, uint32_t fy)
{
    const uint32_t top = a * (4096 - fx) + b * fx;
    const uint32_t bottom = c * (4096 - fx) + d * fx;
    return (top * (4096 - fy) + bottom * fy + (1u << 23)) >> 24;
}

// Target pixel of oriented (u, v), as the general kernel maps it.
struct PPTargetWalk {
    int64_t cx, cy, sx, sy;
    bool swap;

    explicit PPTargetWalk(const PPEngine* e)
    {
        const bool lr = e->orientation & PP_ORIENT_MIRROR_LR, tb = e->orientation & PP_ORIENT_MIRROR_TB;
        cx = e->dstAreaX + (lr ? e->dstAreaW - 1 : 0);
        cy = e->dstAreaY + (tb ? e->dstAreaH - 1 : 0);
        sx = lr ? -1 : 1;
        sy = tb ? -1 : 1;
        swap = e->orientation & PP_ORIENT_SWAPXY;
    }
    int64_t tx(int64_t u, int64_t v) const { return cx + sx * (swap ? v : u); }
    int64_t ty(int64_t u, int64_t v) const { return cy + sy * (swap ? u : v); }

    // Byte address of (u, v) in a plane of full resolution: base + u * du + v * dv.
    void linear(int64_t bytesPerPixel, int64_t pitch, int64_t* base, int64_t* du, int64_t* dv) const
    {
        *base = cy * pitch + cx * bytesPerPixel;
        const int64_t alongX = sx * bytesPerPixel, alongY = sy * pitch;
        *du = swap ? alongY : alongX;
        *dv = swap ? alongX : alongY;
    }
};

// The oriented positions along one axis of the band whose pixel is the last one written of its
// subsampled chroma sample. With target coordinate t(i) = c + s * i and sampling factor f (1 or 2),
// position i is last when i is the band's end or t(i + 1) falls into the next sample: every
// position for f = 1, else every second one plus possibly the band's end.
//
// With firstWins, the positions of the first pixel of each sample instead (for the kernel that
// takes a 4:2:0 chroma row from the first row of its pair): every second one, plus the band's
// first position when the band starts part-way through a sample.
struct PPLastWriters {
    int64_t first = 0, end = 0, stride = 1;
    bool extra = false; // the band's last (firstWins: first) position counts too but is off the stride
    bool firstWins = false;

    PPLastWriters(int64_t i0, int64_t i1, int64_t c, int64_t s, int f, bool firstWins_ = false)
        : firstWins(firstWins_)
    {
        end = i1;
        stride = f;
        first = i0;
        if (f == 2) {
            // s = +1: t(i) odd ends a sample, even starts one; s = -1: the other way round.
            const int64_t t0 = c + s * i0;
            const int64_t want = (s > 0) != firstWins ? 1 : 0;
            if (((t0 % 2) + 2) % 2 != want)
                first = i0 + 1;
        }
        if (firstWins)
            extra = i1 > i0 && first != i0;
        else
            extra = i1 > i0 && (first > i1 - 1 || (i1 - 1 - first) % stride != 0);
    }
    template <typename F> void forEach(F&& f) const
    {
        if (extra && firstWins)
            f(first - 1);
        for (int64_t i = first; i < end; i += stride)
            f(i);
        if (extra && !firstWins)
            f(end - 1);
    }
};

#endif
