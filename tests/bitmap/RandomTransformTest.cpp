// Random transforms between every format a bitmap can hold, with random rectangles, turns, flips
// and dithering, over buffers that end exactly where the last row ends. Any read or write outside
// them is caught by AddressSanitizer; every valid request must succeed.
#include "MdBitmap.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <random>
#include <vector>

namespace {

struct Format {
    MUInt64 id;
    int planes;      // 1 or 3 (semi-planar counts as 3 plane pointers into 2 blocks)
    int bytes;       // bytes per pixel of plane 0
    int hs, vs;      // chroma subsampling
    bool semi;
};

const Format kFormats[] = {
    {0x37001777, 1, 4, 1, 1, false}, {0x37000777, 1, 4, 1, 1, false}, {0x16001777, 1, 3, 1, 1, false},
    {0x16000777, 1, 3, 1, 1, false}, {0x15000454, 1, 2, 1, 1, false}, {0x15001454, 1, 2, 1, 1, false},
    {0x64000000, 1, 1, 1, 1, false}, {0x64001000, 1, 1, 1, 1, false}, {0x50000811, 3, 1, 2, 2, false},
    {0x50001811, 3, 1, 2, 2, false}, {0x50000800, 3, 1, 1, 1, false}, {0x50000810, 3, 1, 2, 1, false},
    {0x50000801, 3, 1, 1, 2, false}, {0x50000a11, 3, 1, 2, 2, false}, {0x70000002, 3, 1, 2, 2, true},
    {0x70000003, 3, 1, 2, 2, true},  {0x50000010, 1, 2, 1, 1, false}, {0x50000610, 1, 2, 1, 1, false},
};

// A bitmap whose planes are exactly as large as its rows need.
struct Exact {
    std::vector<MByte> p0, p1, p2;
    MBITMAP b{};
    Exact(const Format& f, MInt64 w, MInt64 h)
    {
        b.dwPixelArrayFormat = f.id;
        b.lWidth = w;
        b.lHeight = h;
        const bool packed422 = (f.id >> 28) == 5 && f.planes == 1;
        b.lPitch[0] = packed422 ? (w + 1) / 2 * 4 : w * f.bytes;
        p0.assign(static_cast<size_t>(b.lPitch[0] * h), 0x33);
        b.pPlane[0] = p0.data();
        if (f.planes == 3) {
            const MInt64 cw = (w + f.hs - 1) / f.hs, ch = (h + f.vs - 1) / f.vs;
            if (f.semi) {
                b.lPitch[1] = b.lPitch[2] = cw * 2;
                p1.assign(static_cast<size_t>(cw * 2 * ch), 0x80);
                // Interleaved chroma: the two planes are one block, one byte apart.
                const bool vFirst = (f.id & 0xF) == 2;
                b.pPlane[1] = p1.data() + (vFirst ? 1 : 0);
                b.pPlane[2] = p1.data() + (vFirst ? 0 : 1);
            } else {
                b.lPitch[1] = b.lPitch[2] = cw;
                p1.assign(static_cast<size_t>(cw * ch), 0x70);
                p2.assign(static_cast<size_t>(cw * ch), 0x90);
                b.pPlane[1] = p1.data();
                b.pPlane[2] = p2.data();
            }
        }
    }
};

MRECT randomRect(std::mt19937& rng, MInt64 w, MInt64 h)
{
    std::uniform_int_distribution<MInt64> x0(0, w - 1), y0(0, h - 1);
    const MInt64 l = x0(rng), t = y0(rng);
    std::uniform_int_distribution<MInt64> x1(l + 1, w), y1(t + 1, h);
    return MRECT{l, t, x1(rng), y1(rng)};
}

TEST(RandomTransforms, StayInsideTheirBuffersAndSucceed)
{
    AMCMHandle amcm = nullptr;
    ASSERT_EQ(AMCM_Create(nullptr, &amcm), MOK);
    std::mt19937 rng(20240601);
    std::uniform_int_distribution<size_t> pick(0, std::size(kFormats) - 1);
    std::uniform_int_distribution<MInt64> side(1, 37);
    std::uniform_int_distribution<int> turn(0, 3), flip(0, 3), coin(0, 3);
    for (int i = 0; i < 4000; ++i) {
        const Format& sf = kFormats[pick(rng)];
        const Format& df = kFormats[pick(rng)];
        // The semi-planar layouts address chroma by pairs of rows and columns: even sizes only.
        const auto size = [&](const Format& f) {
            const MInt64 s = side(rng);
            return f.semi ? std::max<MInt64>(2, s & ~MInt64{1}) : s;
        };
        Exact src(sf, size(sf), size(sf)), dst(df, size(df), size(df));
        MRECT sr = randomRect(rng, src.b.lWidth, src.b.lHeight);
        MRECT dr = randomRect(rng, dst.b.lWidth, dst.b.lHeight);
        // Packed 4:2:2 rectangles begin on a pixel pair (an odd left edge is refused).
        const auto pairStart = [](const Format& f, MRECT& r) {
            if ((f.id >> 28) == 5 && f.planes == 1)
                r.left &= ~MInt64{1};
        };
        pairStart(sf, sr);
        pairStart(df, dr);
        const MInt64 rotation = 90 * turn(rng), flips = flip(rng), dither = coin(rng) == 0 ? 1 : 0;
        if (getenv("KPV_TRACE")) fprintf(stderr, "%d %lx %ldx%ld -> %lx %ldx%ld src %ld,%ld,%ld,%ld dst %ld,%ld,%ld,%ld rot %ld flip %ld d %ld\n", i, (long)sf.id, src.b.lWidth, src.b.lHeight, (long)df.id, dst.b.lWidth, dst.b.lHeight, sr.left, sr.top, sr.right, sr.bottom, dr.left, dr.top, dr.right, dr.bottom, rotation, flips, dither);
        const MResult r = MdBitmapCropRotFlipResampleEx(amcm, &src.b, &dst.b, &sr, &dr, rotation, flips, dither);
        ASSERT_EQ(r, MOK) << std::hex << sf.id << " -> " << df.id << std::dec << " rot " << rotation << " flip "
                          << flips << " iteration " << i;
    }
    AMCM_Destroy(amcm);
}

} // namespace
