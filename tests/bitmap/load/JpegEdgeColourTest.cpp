// Odd-sized subsampled JPEGs loaded through both load roads (the image decoder wrapper and the
// codec's zoom path), at full size and at every reduced scale, against the reference decoder: the
// last column and row show their own colour, not a blend with their neighbours'.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <vector>

#include "load_test_support.h"

using namespace loadtest;

namespace {

struct Sampling {
    int subsamp; // encodeJpeg's numbering
    const char* name;
};

const Sampling kSamplings[] = {{2, "4:2:0"}, {1, "4:2:2"}, {4, "4:4:0"}, {5, "4:1:1"}};

struct Size {
    int w, h;
};

// Pictures whose full-size decode ends on an odd column and row, and, for each reduction, pictures
// whose reduced decode does: the reduction times an odd size, so that the reduced decode is whole
// and the load converts it without resampling. (Other sizes are resampled, and so are loads of 15
// pixels or fewer a side, which are decoded at full size.)
struct Case {
    int w, h, denom;
};

std::vector<Case> cases() {
    std::vector<Case> out = {{101, 77, 1}, {1, 1, 1}, {3, 5, 1}, {7, 9, 1}, {31, 16, 1}, {493, 331, 1}};
    for (int d : {2, 4, 8})
        for (Size reduced : {Size{51, 39}, Size{17, 21}})
            out.push_back({reduced.w * d, reduced.h * d, d});
    return out;
}

// Signed and absolute differences of R, G and B over a set of pixels.
struct Tally {
    double sum = 0, signedSum[3] = {};
    int worst = 0, n = 0;
    void add(const uint8_t* got, const uint8_t* want) {
        for (int c = 0; c < 3; ++c) {
            const int d = int(got[c]) - int(want[c]);
            sum += std::abs(d);
            signedSum[c] += d;
            worst = std::max(worst, std::abs(d));
        }
        ++n;
    }
    double mean() const { return sum / (3.0 * n); }
    double bias() const {
        double b = 0;
        for (double s : signedSum) b = std::max(b, std::fabs(s / n));
        return b;
    }
};

} // namespace

// Against the reference decoder's planes at full size, box-filtered to the same scale: the whole
// picture's mean and signed mean difference (a one-level bias) and the last column's and row's,
// whose own colour is tens of levels from their neighbours' in R or B.
TEST(JpegEdgeColour, LastColumnAndRowShowTheirOwnColourOnBothRoadsAtEveryScale) {
    for (const Sampling& s : kSamplings) {
        for (const Case& c : cases()) {
            const Bytes jpg = fwtest::encodeJpeg(fwtest::makeEdgePicture(c.w, c.h), s.subsamp, 95);
            const int w = (c.w + c.denom - 1) / c.denom, h = (c.h + c.denom - 1) / c.denom;
            // Both roads deliver 4:2:0, 4:2:2 and 4:4:0 chroma at the reduced luma's size.
            const bool wide = c.denom > 1 && (s.subsamp == 2 || s.subsamp == 1 || s.subsamp == 4);
            for (Road road : {Road::Wrapper, Road::Codec}) {
                const Image want = fwtest::rgbaFromPlanes(
                    fwtest::referenceJpegPlanes(jpg, c.denom, wide), w, h);
                SCOPED_TRACE(testing::Message() << s.name << " " << c.w << "x" << c.h << " at 1/" << c.denom << " "
                                                << name(road));
                const Image got = loadRgba(road, jpg, w, h);
                ASSERT_EQ(got.width, w);
                ASSERT_EQ(got.height, h);
                Tally all, edge;
                for (int y = 0; y < h; ++y)
                    for (int x = 0; x < w; ++x) {
                        all.add(got.at(x, y), want.at(x, y));
                        if (x == w - 1 || y == h - 1) edge.add(got.at(x, y), want.at(x, y));
                    }
                // Rounding of the colour equations differs by a level or so, and the reference's
                // samples are rounded before they are averaged: a pair's mean rounded up again
                // reads a quarter of a level high, 0.44 in blue (1.772 x Cb) before the colour
                // equations' own rounding. A neighbour's colour is tens of levels off, a bias a
                // level. A few pixels of a tiny picture say nothing of a bias.
                EXPECT_LE(all.worst, 3);
                EXPECT_LE(edge.worst, 3);
                if (all.n >= 100) {
                    EXPECT_LE(all.mean(), 0.45);
                    EXPECT_LE(all.bias(), 0.55);
                }
                if (edge.n >= 50) EXPECT_LE(edge.bias(), 0.55);
            }
        }
    }
}
