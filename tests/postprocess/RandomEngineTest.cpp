// The engine under random parameters: origins, source rectangles, fit and fill, block modes,
// orientations, adjustments and target rectangles, over planes exactly as large as the formats
// say. Whatever the parameters, the engine either refuses them or stays inside the planes.
#include "MPP.h"

#include <gtest/gtest.h>

#include <random>
#include <vector>

namespace {

struct Side {
    MInt64 id;
    int bytes;  // of plane 0
    int hs, vs; // chroma subsampling, 0 = single plane
};

const Side kSides[] = {{0x17001777, 4, 0, 0}, {0x16000777, 3, 0, 0}, {0x15001454, 2, 0, 0}, {0x64000000, 1, 0, 0},
                       {0x50000811, 1, 2, 2}, {0x50001800, 1, 1, 1}, {0x50000a10, 1, 2, 1}, {0x50000010, 2, 0, 0}};

struct Planes {
    std::vector<MByte> p[3];
    MByte* ptr[3] = {};
    MInt64 pitch[3] = {};
    Planes(const Side& s, MInt64 w, MInt64 h)
    {
        pitch[0] = s.id == 0x50000010 ? (w + 1) / 2 * 4 : w * s.bytes;
        p[0].assign(static_cast<size_t>(pitch[0] * h), 0x40);
        ptr[0] = p[0].data();
        if (s.hs) {
            const MInt64 cw = (w + s.hs - 1) / s.hs, ch = (h + s.vs - 1) / s.vs;
            for (int i = 1; i < 3; ++i) {
                pitch[i] = cw;
                p[i].assign(static_cast<size_t>(cw * ch), 0x80);
                ptr[i] = p[i].data();
            }
        }
    }
};

TEST(RandomEngine, RefusesOrStaysInsideThePlanes)
{
    std::mt19937 rng(77);
    std::uniform_int_distribution<size_t> pick(0, std::size(kSides) - 1);
    std::uniform_int_distribution<MInt64> side(1, 29), small(-6, 12), adjust(-200, 200);
    std::uniform_int_distribution<int> bits(0, 7), coin(0, 1), block(0, 5);
    int processed = 0;
    for (int i = 0; i < 3000; ++i) {
        const Side& ds = kSides[pick(rng)];
        const Side& ss = kSides[pick(rng)];
        const MInt64 dw = side(rng), dh = side(rng), sw = side(rng), sh = side(rng);
        PPFormat dst{ds.id, dw, dh, nullptr}, src{ss.id, sw, sh, nullptr};
        PPPara para{};
        para.lResampleMode = coin(rng) ? PP_RESAMPLE_BILINEAR : PP_RESAMPLE_NEAREST;
        para.lOrientation = bits(rng);
        const MInt64 blocks[] = {1, 2, 3, 4, 256, 9};
        para.lBlockMode = blocks[block(rng)];
        para.lBandMode = coin(rng) ? 4 : 0;
        para.lAspectMode = bits(rng) & 3;
        para.lBrightness = adjust(rng);
        para.lContrast = adjust(rng);
        para.lSaturation = adjust(rng);
        if (coin(rng)) {
            para.lSrcOriginX = small(rng);
            para.lSrcOriginY = small(rng);
            para.lDstOriginX = small(rng);
            para.lDstOriginY = small(rng);
        }
        if (coin(rng)) {
            para.lSrcLeft = small(rng);
            para.lSrcTop = small(rng);
            para.lSrcRight = para.lSrcLeft + side(rng);
            para.lSrcBottom = para.lSrcTop + side(rng);
        }
        para.lDither = coin(rng);
        para.lAlpha = adjust(rng) * 2;
        PPHandle h = nullptr;
        const MResult r = MPPCreate(&dst, &src, &para, &h);
        if (r != MOK) {
            ASSERT_TRUE(r == MERR_INVALID_PARAM || r == MERR_UNSUPPORTED) << r;
            ASSERT_EQ(h, nullptr);
            continue;
        }
        // The source origin moves the readable area: the planes cover it from coordinate 0.
        Planes dp(ds, dw, dh), sp(ss, sw + para.lSrcOriginX, sh + para.lSrcOriginY);
        const MByte* sptr[3] = {sp.ptr[0], sp.ptr[1], sp.ptr[2]};
        MRECT rect{small(rng), small(rng), small(rng) + dw, small(rng) + dh};
        ASSERT_EQ(MPProcess(h, dp.ptr, coin(rng) ? &rect : nullptr, dp.pitch, sptr, sp.pitch), MOK)
            << "iteration " << i;
        MPPDestroy(h);
        ++processed;
    }
    EXPECT_GT(processed, 1000);
}

} // namespace
