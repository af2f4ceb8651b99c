// Reduced-size decoding (1/2, 1/4, 1/8) against a box average of the full-size decode.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

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

// Line art: one- and two-pixel strokes, a fine checker and hatching, black on white with a few
// coloured strokes; all of its energy sits in the high frequencies that reductions must keep.
Image makeLineArt(int width, int height, int channels, uint32_t seed) {
    Image img;
    img.width = width;
    img.height = height;
    img.channels = channels;
    img.pixels.assign(size_t(width) * height * channels, 255);
    auto put = [&](int x, int y, int r, int g, int b) {
        uint8_t* p = &img.pixels[(size_t(y) * width + x) * channels];
        const int v[3] = {r, g, b};
        for (int c = 0; c < channels; ++c) {
            p[c] = uint8_t(channels == 1 ? (r + g + b) / 3 : v[c]);
        }
    };
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            const int cell = (x / 24 + y / 24 + int(seed)) % 4;
            bool ink = false;
            switch (cell) {
            case 0: ink = (x % 5 == 0) || (y % 7 == 0); break;                 // grid of hairlines
            case 1: ink = ((x + y) % 6 < 2); break;                            // hatching
            case 2: ink = ((x ^ y) & 1) != 0; break;                           // checker
            default: ink = (x * 3 + y * 5 + int(seed)) % 11 < 2; break;        // slanted strokes
            }
            if (ink) {
                if ((x / 40 + y / 40) % 3 == 1) {
                    put(x, y, 200, 20, 30);
                } else {
                    put(x, y, 0, 0, 0);
                }
            }
        }
    }
    return img;
}

// Error of a reduced decode against the box average of the full decode over the boxes that lie
// wholly inside the image (a box cut by the edge meets the encoder's padding in the transform):
// largest, mean and mean signed (a bias of one level shows there where a largest error cannot).
struct Error {
    int max = 0;
    double mean = 0, bias = 0;
};

Error measure(const Planes& got, const Planes& want, const Planes& full, int s) {
    Error e;
    EXPECT_EQ(got.ncomp, want.ncomp);
    double n = 0;
    for (int c = 0; c < got.ncomp && c < want.ncomp; ++c) {
        EXPECT_EQ(got.w[c], want.w[c]) << "plane " << c;
        EXPECT_EQ(got.h[c], want.h[c]) << "plane " << c;
        if (got.w[c] != want.w[c] || got.h[c] != want.h[c]) {
            e.max = 999;
            return e;
        }
        for (int y = 0; (y + 1) * s <= full.h[c]; ++y) {
            for (int x = 0; (x + 1) * s <= full.w[c]; ++x) {
                const size_t i = size_t(y) * got.w[c] + x;
                const int d = int(got.p[c][i]) - int(want.p[c][i]);
                e.max = std::max(e.max, std::abs(d));
                e.mean += std::abs(d);
                e.bias += d;
                n += 1;
            }
        }
    }
    if (n > 0) {
        e.mean /= n;
        e.bias /= n;
    }
    return e;
}

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

TEST(JpegScaled, EveryScaleKeepsWhatTheReducedTransformNeeds) {
    // Photographs and line art, odd widths (493 among them) and several layouts: each reduced
    // decode is the box average of the full decode, at the size of the full decode's boxes.
    struct Art {
        bool lineArt;
        Case c;
    };
    const Art arts[] = {{true, {493, 67, 2, 2, 3, false}}, {true, {120, 96, 1, 1, 3, false}},
                        {true, {88, 72, 2, 1, 3, true}},   {true, {75, 50, 1, 1, 1, false}},
                        {false, {493, 67, 2, 2, 3, false}}, {false, {96, 80, 1, 1, 3, true}}};
    for (const Art& a : arts) {
        const Case& c = a.c;
        Image img = a.lineArt ? makeLineArt(c.w, c.h, c.channels, uint32_t(c.w))
                              : makeImage(c.w, c.h, c.channels, uint32_t(c.w));
        EncodeOptions opt;
        opt.quality = 92;
        opt.lumaH = c.lumaH;
        opt.lumaV = c.lumaV;
        opt.progressive = c.progressive;
        auto jpeg = encode(img, opt);
        int64_t r;
        Planes full = decode(jpeg, {}, &r);
        ASSERT_EQ(r, 0);
        for (int s : {2, 4, 8}) {
            SCOPED_TRACE(testing::Message() << (a.lineArt ? "line art " : "photograph ") << c.w << "x"
                                            << c.h << (c.progressive ? " progressive" : "") << " 1/" << s);
            Planes small = decode(jpeg, {0, s}, &r);
            ASSERT_EQ(r, 0);
            // What remains is rounding, and in line art the clipping of the overshoot beside
            // strokes on white, which the full decode does before averaging (it lowers the
            // average, so the reduced decode reads up to a level above on some boxes).
            const Error e = measure(small, boxAverage(full, s), full, s);
            EXPECT_LE(e.mean, 0.7) << "max " << e.max << " bias " << e.bias;
            EXPECT_LE(std::fabs(e.bias), a.lineArt ? 0.5 : 0.2) << "mean " << e.mean;
            EXPECT_LE(e.max, 5) << "mean " << e.mean;
        }
    }
}

TEST(JpegScaled, EighthScaleOfAProgressiveFileUsesOnlyTheDcScans) {
    // Large enough that the AC scans are not read for the picture's edge.
    Image img = makeImage(160, 160, 3, 3);
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

// Large enough that the AC scans are passed over: each sample of every plane (chroma at its own
// size) is its block's mean, as the reference's full decode averages it.
TEST(JpegScaled, EighthScaleOfAProgressiveFileFollowsTheReference) {
    struct Layout {
        int lumaH, lumaV, channels;
    };
    for (const Layout l : {Layout{2, 2, 3}, Layout{1, 1, 3}, Layout{2, 1, 3}, Layout{1, 1, 1}}) {
        for (auto [w, h] : {std::pair{200, 136}, std::pair{203, 141}}) {
            SCOPED_TRACE(testing::Message() << l.lumaH << "x" << l.lumaV << " " << l.channels << " channels " << w
                                            << "x" << h);
            EncodeOptions opt;
            opt.lumaH = l.lumaH;
            opt.lumaV = l.lumaV;
            opt.progressive = true;
            const auto jpeg = encode(makeImage(w, h, l.channels, uint32_t(w + h)), opt);
            int64_t r;
            const Planes eighth = decode(jpeg, {0, 8}, &r);
            ASSERT_EQ(r, 0);
            const Planes full = referenceDecode(jpeg);
            const Error e = measure(eighth, boxAverage(full, 8), full, 8);
            EXPECT_LE(e.mean, 0.5) << "max " << e.max << " bias " << e.bias;
            EXPECT_LE(std::fabs(e.bias), 0.2) << "mean " << e.mean;
            EXPECT_LE(e.max, 3) << "mean " << e.mean;
        }
    }
}

namespace {

// Absolute and signed error sums of one channel, every pixel counted (edge boxes included).
struct ChannelError {
    double abs = 0, signedSum = 0, n = 0;
    int max = 0;
    void add(const Planes& got, const Planes& want, int c) {
        ASSERT_EQ(got.w[c], want.w[c]);
        ASSERT_EQ(got.h[c], want.h[c]);
        for (size_t i = 0; i < got.p[c].size(); ++i) {
            const int d = int(got.p[c][i]) - int(want.p[c][i]);
            abs += std::abs(d);
            signedSum += d;
            max = std::max(max, std::abs(d));
            n += 1;
        }
    }
    double mean() const { return n ? abs / n : 0; }
    double bias() const { return n ? signedSum / n : 0; }
};

} // namespace

// At 1/4 the luma's last refinement scan (the lowest bit of its AC coefficients, much of a fine
// file) is not read where its quantisers are fine enough for that bit to be lost in the box
// averages: breaking its data changes nothing then, and the quarter stays within rounding of the
// reference on grainy content, where that bit matters most. Coarser files read it.
TEST(JpegScaled, QuarterScaleReadsTheLumasLastBitOnlyWhereItShows) {
    for (int channels : {1, 3}) {
        Image img = makeImage(480, 320, channels, 5);
        uint32_t state = 17;
        for (auto& v : img.pixels) {
            state = state * 1664525u + 1013904223u;
            v = uint8_t(std::clamp(int(v) + int(state >> 28) - 8, 0, 255));
        }
        for (int quality : {75, 90, 95}) {
            SCOPED_TRACE(testing::Message() << channels << " channels q" << quality);
            EncodeOptions opt;
            opt.quality = quality;
            opt.progressive = true;
            const auto jpeg = encode(img, opt);
            std::vector<uint8_t> broken = jpeg;
            size_t pos = 0;
            int found = 0;
            while ((pos = findMarker(broken, 0xDA, pos + 1)) != std::string::npos) {
                const size_t len = size_t(broken[pos + 2]) << 8 | broken[pos + 3];
                const int ns = broken[pos + 4], id = broken[pos + 5];
                const int ss = broken[pos + 5 + 2 * ns], a = broken[pos + 7 + 2 * ns];
                if (ns == 1 && id == 1 && ss > 0 && (a >> 4) > 0 && (a & 15) == 0) {
                    // Garbled bits, but no byte that could start a marker.
                    for (size_t i = pos + 2 + len; i < pos + 2 + len + 64; i += 2) {
                        if (broken[i] != 0xFF && broken[i] != (0xFF ^ 0x5A) && broken[i - 1] != 0xFF) {
                            broken[i] ^= 0x5A;
                        }
                    }
                    ++found;
                }
            }
            ASSERT_EQ(found, 1);
            DecodeOptions o;
            o.scale = 4;
            o.chromaAtLuma = true;
            int64_t r;
            const Planes quarter = decode(jpeg, o, &r);
            ASSERT_EQ(r, 0);
            const Planes other = decode(broken, o, &r);
            ASSERT_EQ(r, 0);
            if (quality == 75) {
                EXPECT_GT(compare(quarter, other).maxError, 0);
                continue;
            }
            EXPECT_EQ(compare(quarter, other).maxError, 0);
            const Planes want = boxAverage(referenceYcc(jpeg), 4);
            for (int c = 0; c < channels; ++c) {
                ChannelError e;
                ASSERT_NO_FATAL_FAILURE(e.add(quarter, want, c));
                EXPECT_LE(e.mean(), 0.5) << "channel " << c << " bias " << e.bias() << " max " << e.max;
                EXPECT_LE(std::fabs(e.bias()), 0.35) << "channel " << c << " mean " << e.mean();
                EXPECT_LE(e.max, 5) << "channel " << c << " mean " << e.mean();
            }
        }
    }
}

// Every layout, odd and tiny sizes and a large one, baseline and progressive: each channel of a
// reduced decode (chroma delivered at the luma plane's size) follows the box-filtered full decode
// of the reference decoder as it shows the picture, within a level on average.
TEST(JpegScaled, ReducedDecodesFollowTheReferenceInEveryChannel) {
    struct Layout {
        const char* name;
        int lumaH, lumaV, channels;
    };
    const Layout layouts[] = {{"4:4:4", 1, 1, 3}, {"4:2:2", 2, 1, 3}, {"4:2:0", 2, 2, 3}, {"4:4:0", 1, 2, 3},
                              {"grey", 1, 1, 1}};
    std::vector<std::pair<int, int>> sizes;
    for (int w = 1; w <= 17; ++w) {
        sizes.push_back({w, 18 - w});
    }
    sizes.push_back({1001, 667});
    for (const Layout& l : layouts) {
        for (bool progressive : {false, true}) {
            for (int s : {2, 4, 8}) {
                ChannelError small[3], large[3];
                for (auto [w, h] : sizes) {
                    Image img = makeImage(w, h, l.channels, uint32_t(w * 31 + h));
                    EncodeOptions opt;
                    opt.quality = 90;
                    opt.lumaH = l.lumaH;
                    opt.lumaV = l.lumaV;
                    opt.progressive = progressive;
                    auto jpeg = encode(img, opt);
                    const Planes want = boxAverage(referenceYcc(jpeg), s);
                    int64_t r;
                    DecodeOptions o;
                    o.scale = s;
                    o.chromaAtLuma = true;
                    const Planes got = decode(jpeg, o, &r);
                    ASSERT_EQ(r, 0);
                    ASSERT_EQ(got.ncomp, l.channels);
                    for (int c = 0; c < got.ncomp; ++c) {
                        ASSERT_NO_FATAL_FAILURE((w > 100 ? large : small)[c].add(got, want, c));
                    }
                }
                for (int c = 0; c < l.channels; ++c) {
                    SCOPED_TRACE(testing::Message() << l.name << (progressive ? " progressive" : " baseline") << " 1/"
                                                    << s << " channel " << c);
                    // Rounding stays; a level's bias, a shift or chroma at its own coarser size
                    // (several levels off) does not. Small pictures are mostly edge.
                    for (const ChannelError* e : {&large[c], &small[c]}) {
                        EXPECT_LE(e->mean(), 0.5) << "bias " << e->bias() << " max " << e->max;
                        EXPECT_LE(std::fabs(e->bias()), 0.35) << "mean " << e->mean();
                        EXPECT_LE(e->max, 5) << "mean " << e->mean();
                    }
                }
            }
        }
    }
}

// Blocks full of noise end on a coefficient at 63 as often as on an end of block: passing their
// coefficients several codes at a time must stop where each block ends, so the next block's
// codes are read as its own. The eighth of each block is its mean.
TEST(JpegScaled, EighthScaleOfNoiseKeepsEveryBlocksCodesApart) {
    for (uint32_t seed = 0; seed < 8; ++seed) {
        for (int channels : {1, 3}) {
            Image img = makeImage(96, 48, channels, seed);
            uint32_t state = seed * 2654435761u + 1;
            for (auto& v : img.pixels) {
                state = state * 1664525u + 1013904223u;
                if ((state >> 29) == 0) {
                    v = (state >> 20) & 1 ? 255 : 0;
                }
            }
            EncodeOptions opt;
            opt.quality = 95;
            opt.lumaH = channels == 3 ? 2 : 1;
            opt.lumaV = channels == 3 ? 2 : 1;
            auto jpeg = encode(img, opt);
            int64_t r;
            Planes full = decode(jpeg, {}, &r);
            ASSERT_EQ(r, 0);
            Planes eighth = decode(jpeg, {0, 8}, &r);
            ASSERT_EQ(r, 0);
            const Error e = measure(eighth, boxAverage(full, 8), full, 8);
            EXPECT_LE(e.max, 3) << "seed " << seed << " channels " << channels << " mean " << e.mean;
        }
    }
}

// Large pictures (their components decode several codes a step): noise speckles make blocks that
// end on a coefficient at 63, strokes at top quality values that do not fit a byte. Each channel
// follows the reference, at full size and box-averaged at 1/4.
TEST(JpegScaled, LargePicturesFollowTheReferenceAtFullAndQuarterSize) {
    struct Layout {
        const char* name;
        int lumaH, lumaV, channels;
    };
    for (const Layout l : {Layout{"grey", 1, 1, 1}, Layout{"4:2:0", 2, 2, 3}}) {
        Image img = makeImage(1464, 1464, l.channels, 7);
        uint32_t state = 99;
        for (int y = 0; y < img.height; ++y) {
            for (int x = 0; x < img.width; ++x) {
                uint8_t* p = &img.pixels[(size_t(y) * img.width + x) * l.channels];
                state = state * 1664525u + 1013904223u;
                const bool speckle = y < img.height / 3 && (state >> 28) == 0;
                const bool stroke = y > 2 * img.height / 3 && ((x ^ y) & 3) == 0;
                if (speckle || stroke) {
                    for (int c = 0; c < l.channels; ++c) {
                        p[c] = (state >> (20 + c)) & 1 ? 255 : 0;
                    }
                }
            }
        }
        for (int quality : {85, 100}) {
            SCOPED_TRACE(testing::Message() << l.name << " q" << quality);
            EncodeOptions opt;
            opt.quality = quality;
            opt.lumaH = l.lumaH;
            opt.lumaV = l.lumaV;
            opt.restartInterval = quality == 85 ? 40 : 0;
            const auto jpeg = encode(img, opt);
            int64_t r;
            const Planes full = decode(jpeg, {}, &r);
            ASSERT_EQ(r, 0);
            const Diff d = compare(full, referenceDecode(jpeg));
            EXPECT_LE(d.maxError, 2);
            EXPECT_GT(d.psnr, 45.0);
            DecodeOptions o;
            o.scale = 4;
            o.chromaAtLuma = true;
            const Planes quarter = decode(jpeg, o, &r);
            ASSERT_EQ(r, 0);
            const Planes want = boxAverage(referenceYcc(jpeg), 4);
            for (int c = 0; c < l.channels; ++c) {
                ChannelError e;
                ASSERT_NO_FATAL_FAILURE(e.add(quarter, want, c));
                EXPECT_LE(e.mean(), 0.5) << "channel " << c << " bias " << e.bias() << " max " << e.max;
                EXPECT_LE(std::fabs(e.bias()), 0.35) << "channel " << c << " mean " << e.mean();
            }
        }
    }
}
