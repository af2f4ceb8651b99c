// The JPEG component's planes at the right and bottom edges of odd-sized subsampled pictures:
// the last column and row keep their own chroma samples at full size and at every reduced scale,
// sample for sample as the reference decoder's planes (box-filtered from full size at reduced
// scales: a sample the edge cuts averages only the picture).
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>

#include "MdComponent.h"
#include "framework_test_support.h"

using namespace fwtest;

namespace {

struct Sampling {
    int subsamp; // encodeJpeg's numbering
    const char* name;
    int hf, vf;
};

const Sampling kSamplings[] = {{2, "4:2:0", 2, 2}, {1, "4:2:2", 2, 1}, {4, "4:4:0", 1, 2}, {5, "4:1:1", 4, 1}};

struct Size {
    int w, h;
};

// 31 x 16 ends 4:1:1 chroma rows three columns short of a whole sample group, on the plane's last
// row.
const Size kSizes[] = {{101, 77}, {1, 1}, {3, 5}, {7, 9}, {31, 16}, {493, 331}};

// Planes delivered by the component at 1 / denom, cut to the picture's own samples.
struct Delivered {
    MResult result = -1;
    int width[3] = {}, height[3] = {};
    std::vector<uint8_t> plane[3];
    int64_t pitch[3] = {};
    uint8_t at(int k, int x, int y) const { return plane[k][size_t(y * pitch[k] + x)]; }
};

Delivered decodeComponent(AMCMHandle m, const Bytes& jpg, int W, int H, int denom, const Sampling& s) {
    Delivered d;
    Stream st(jpg);
    MHandle inst = nullptr;
    if (AMCM_CreateComponent(m, 0x81001202, &inst) != MOK) return d;
    const MDecComponentFuncs* f = MDEC_FUNCS(inst);
    struct Closer {
        MHandle i;
        const MDecComponentFuncs* f;
        ~Closer() { f->s_Destroy(i); }
    } closer{inst, f};
    if ((d.result = f->s_Init(inst, st.s)) != MOK) return d;
    int64_t region[4] = {0, 0, W, H};
    int64_t out[2] = {(W + denom - 1) / denom, (H + denom - 1) / denom};
    if ((d.result = f->s_SetProp(inst, 0x1006, region, 32)) != MOK) return d;
    if ((d.result = f->s_SetProp(inst, 0x1007, out, 16)) != MOK) return d;
    int64_t sizes[3] = {}, pitches[3] = {};
    if ((d.result = f->s_GetProp(inst, 0x1504, sizes, 24)) != MOK) return d;
    if ((d.result = f->s_GetProp(inst, 0x1505, pitches, 24)) != MOK) return d;
    MByte* planes[3] = {};
    for (int k = 0; k < 3; ++k) {
        d.plane[k].assign(size_t(sizes[k]), 0);
        planes[k] = d.plane[k].data();
        d.pitch[k] = pitches[k];
    }
    MInt64 first = 0, count = out[1];
    if ((d.result = f->s_DecScanlines(inst, planes, pitches, &first, &count)) != MOK) return d;
    d.width[0] = int(out[0]);
    d.height[0] = int(count);
    d.width[1] = d.width[2] = (d.width[0] + s.hf - 1) / s.hf;
    d.height[1] = d.height[2] = (d.height[0] + s.vf - 1) / s.vf;
    return d;
}

} // namespace

// Every sample of every plane against the reference decoder's, which the decoder follows to a
// level: a neighbour's colour in the last column or row is tens of levels away, and the mean
// signed difference of a plane and of its edge samples catches a one-level bias.
TEST(JpegComponentEdges, LastColumnAndRowKeepTheirOwnChromaAtEveryScale) {
    Manager m;
    for (const Sampling& s : kSamplings) {
        for (Size sz : kSizes) {
            const Bytes jpg = encodeJpeg(makeEdgePicture(sz.w, sz.h), s.subsamp, 95);
            int lastW = -1, lastH = -1;
            for (int denom : {1, 2, 4, 8}) {
                const int w = (sz.w + denom - 1) / denom, h = (sz.h + denom - 1) / denom;
                if (w == lastW && h == lastH) continue; // no scale of its own: the component answers with 1/1
                lastW = w;
                lastH = h;
                SCOPED_TRACE(testing::Message() << s.name << " " << sz.w << "x" << sz.h << " at 1/" << denom);
                // The reference decoder reads past a buffer of its own on 4:1:1 at 1/8 narrower
                // than one chroma sample's four pixels; those are checked through the loader only.
                if (s.hf == 4 && w < 4 && denom == 8) continue;
                const Planes want = referenceJpegPlanes(jpg, denom);
                ASSERT_GE(want.width[0], w);
                const Delivered got = decodeComponent(m.h, jpg, sz.w, sz.h, denom, s);
                ASSERT_EQ(got.result, MOK);
                ASSERT_EQ(got.width[0], w);
                ASSERT_EQ(got.height[0], h);
                for (int k = 0; k < 3; ++k) {
                    SCOPED_TRACE(testing::Message() << "plane " << k);
                    // The reference pads its planes to whole sampling units; only the picture's
                    // own samples are compared.
                    ASSERT_GE(want.width[k], got.width[k]);
                    ASSERT_GE(want.height[k], got.height[k]);
                    const int pw = got.width[k], ph = got.height[k];
                    double sum = 0, signedSum = 0, edgeSigned = 0;
                    int worst = 0, edges = 0;
                    for (int y = 0; y < ph; ++y)
                        for (int x = 0; x < pw; ++x) {
                            const int diff = int(got.at(k, x, y)) - int(want.at(k, x, y));
                            sum += std::abs(diff);
                            signedSum += diff;
                            worst = std::max(worst, std::abs(diff));
                            if (x == pw - 1 || y == ph - 1) {
                                edgeSigned += diff;
                                ++edges;
                            }
                        }
                    EXPECT_LE(worst, 1);
                    // A few samples of a tiny picture say nothing of a bias.
                    const double n = double(pw) * ph;
                    if (n >= 100) {
                        EXPECT_LE(sum / n, 0.15);
                        EXPECT_LE(std::fabs(signedSum / n), 0.15);
                    }
                    if (edges >= 50) EXPECT_LE(std::fabs(edgeSigned / edges), 0.2);
                }
            }
        }
    }
}
