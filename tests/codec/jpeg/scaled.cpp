// Reduced-size decoding (1/2, 1/4, 1/8) against a box average of the full-size decode.
#include <gtest/gtest.h>

#include "jpeg_test_support.h"

using namespace jpgtest;

namespace {

// Averages s x s boxes of each plane; boxes cut by the edge average what lies inside.
Planes boxAverage(const Planes& full, int s) {
    Planes out;
    out.ncomp = full.ncomp;
    for (int c = 0; c < full.ncomp; ++c) {
        out.w[c] = (full.w[c] + s - 1) / s;
        out.h[c] = (full.h[c] + s - 1) / s;
        out.p[c].resize(size_t(out.w[c]) * out.h[c]);
        for (int y = 0; y < out.h[c]; ++y) {
            for (int x = 0; x < out.w[c]; ++x) {
                int sum = 0, n = 0;
                for (int yy = y * s; yy < y * s + s && yy < full.h[c]; ++yy) {
                    for (int xx = x * s; xx < x * s + s && xx < full.w[c]; ++xx) {
                        sum += full.p[c][size_t(yy) * full.w[c] + xx];
                        ++n;
                    }
                }
                out.p[c][size_t(y) * out.w[c] + x] = uint8_t((sum + n / 2) / n);
            }
        }
    }
    return out;
}

struct Case {
    int w, h, lumaH, lumaV, channels;
    bool progressive;
};

} // namespace

TEST(JpegScaled, ReducedScalesFollowTheBoxAverageOfTheFullDecode) {
    const Case cases[] = {{96, 64, 2, 2, 3, false}, {101, 75, 2, 1, 3, false},
                          {57, 43, 1, 1, 3, true},  {64, 64, 1, 2, 3, true},
                          {50, 30, 1, 1, 1, false}, {203, 97, 2, 2, 3, true}};
    for (const Case& c : cases) {
        for (int quality : {50, 90}) {
            Image img = makeImage(c.w, c.h, c.channels, uint32_t(c.w + quality));
            EncodeOptions opt;
            opt.quality = quality;
            opt.lumaH = c.lumaH;
            opt.lumaV = c.lumaV;
            opt.progressive = c.progressive;
            auto jpeg = encode(img, opt);
            int64_t r;
            Planes full = decode(jpeg, {}, &r);
            ASSERT_EQ(r, 0);
            for (int s : {2, 4, 8}) {
                Planes small = decode(jpeg, {0, s}, &r);
                ASSERT_EQ(r, 0);
                Diff d = compare(small, boxAverage(full, s));
                std::string what = std::to_string(c.w) + "x" + std::to_string(c.h) + " q" +
                                   std::to_string(quality) + " 1/" + std::to_string(s);
                // Baseline reductions drop the highest frequencies, and boxes cut by the
                // image edge differ from the transform's own padding: a small error remains.
                EXPECT_GT(d.psnr, 40.0) << what;
                EXPECT_LE(d.maxError, s == 8 ? 5 : 12) << what;
            }
        }
    }
}

TEST(JpegScaled, EighthScaleOfAProgressiveFileUsesOnlyTheDcScans) {
    Image img = makeImage(64, 64, 3, 3);
    EncodeOptions opt;
    opt.progressive = true;
    auto jpeg = encode(img, opt);
    int64_t r;
    Planes eighth = decode(jpeg, {0, 8}, &r);
    ASSERT_EQ(r, 0);
    // Breaking every AC scan's data must not change the 1/8 result.
    std::vector<uint8_t> broken = jpeg;
    size_t pos = 0;
    int scan = 0;
    while ((pos = findMarker(broken, 0xDA, pos + 1)) != std::string::npos) {
        size_t len = size_t(broken[pos + 2]) << 8 | broken[pos + 3];
        int ns = broken[pos + 4];
        int ss = broken[pos + 5 + 2 * ns];
        if (ss > 0 && pos + 2 + len + 4 < broken.size()) {
            broken[pos + 2 + len + 1] ^= 0x55;
        }
        ++scan;
    }
    ASSERT_GT(scan, 2);
    Planes other = decode(broken, {0, 8}, &r);
    ASSERT_EQ(r, 0);
    EXPECT_EQ(compare(eighth, other).maxError, 0);
}
