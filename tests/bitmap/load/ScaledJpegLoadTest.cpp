// JPEG loads at reduced sizes through both load roads (the image decoder wrapper and the codec's
// zoom path), against a box-filtered full-size decode of the same road: odd sizes whose reduced
// decode ends in a partly covered column or row, photographs and line art, the component's own
// scales and fitted sizes. A stretch or shift of a fraction of a pixel shows in the edge test.
#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "MIDec.h"
#include "MdBitmapLoad.h"
#include "load_test_support.h"

using namespace loadtest;
using fwtest::Manager;
using fwtest::Stream;

namespace {

constexpr uint64_t kRGBA = 0x37001777;

// Each output pixel is the area-weighted mean of the source pixels that its share of the image
// covers: output column i covers source columns [i * W / w, (i + 1) * W / w).
Image boxFilter(const Image& full, int w, int h) {
    Image out{w, h, 4, std::vector<uint8_t>(size_t(w) * h * 4, 255)};
    const double sx = double(full.width) / w, sy = double(full.height) / h;
    for (int y = 0; y < h; ++y) {
        const double y0 = y * sy, y1 = (y + 1) * sy;
        for (int x = 0; x < w; ++x) {
            const double x0 = x * sx, x1 = (x + 1) * sx;
            double sum[3] = {}, area = 0;
            for (int py = int(y0); py < full.height && py < y1; ++py) {
                const double wy = std::min<double>(py + 1, y1) - std::max<double>(py, y0);
                for (int px = int(x0); px < full.width && px < x1; ++px) {
                    const double wgt = wy * (std::min<double>(px + 1, x1) - std::max<double>(px, x0));
                    for (int c = 0; c < 3; ++c) sum[c] += wgt * full.at(px, py)[c];
                    area += wgt;
                }
            }
            for (int c = 0; c < 3; ++c) out.px[(size_t(y) * w + x) * 4 + c] = uint8_t(std::lround(sum[c] / area));
        }
    }
    return out;
}

// Mean absolute and mean signed difference of the luma (the colour subsampling of a reduced
// decode changes chroma, not luma), and the largest mean signed difference of one channel.
struct Error {
    double mean = 0, bias = 0, channelBias = 0;
};

Error measure(const Image& got, const Image& want) {
    Error e;
    double channel[3] = {};
    const double n = double(got.width) * got.height;
    for (int y = 0; y < got.height; ++y)
        for (int x = 0; x < got.width; ++x) {
            double d[3];
            for (int c = 0; c < 3; ++c) {
                d[c] = int(got.at(x, y)[c]) - int(want.at(x, y)[c]);
                channel[c] += d[c];
            }
            const double luma = 0.299 * d[0] + 0.587 * d[1] + 0.114 * d[2];
            e.mean += std::fabs(luma);
            e.bias += luma;
        }
    e.mean /= n;
    e.bias /= n;
    for (double c : channel) e.channelBias = std::max(e.channelBias, std::fabs(c / n));
    return e;
}

// Black bars on white across the whole width (vertical bars) or height (horizontal ones), each
// `bar` pixels wide; the last one ends a few pixels before the far edge, where a stretch is
// largest.
struct Bars {
    std::vector<int> at; // left (or top) edges
    int bar = 0;
};

Bars barsAcross(int extent, int bar) {
    Bars b;
    b.bar = bar;
    for (int x = 3; x + bar + 3 <= extent; x += 2 * bar + 5) b.at.push_back(x);
    // The last bar moves to the far edge, or one is added there when it fits beside it.
    if (b.at.back() + 2 * bar + 5 <= extent - bar - 3) b.at.push_back(extent - bar - 3);
    else b.at.back() = extent - bar - 3;
    return b;
}

Image makeBars(int w, int h, const Bars& b, bool vertical) {
    Image img{w, h, 3, std::vector<uint8_t>(size_t(w) * h * 3, 255)};
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            for (int e : b.at)
                if ((vertical ? x : y) >= e && (vertical ? x : y) < e + b.bar)
                    std::memset(&img.px[(size_t(y) * w + x) * 3], 0, 3);
    return img;
}

// Photograph-like: broad colour fields and soft luma waves, smooth enough at every scale asked
// that a box filter and a bilinear reduction of a right mapping agree to about a level.
Image makePhoto(int w, int h) {
    Image img{w, h, 3, std::vector<uint8_t>(size_t(w) * h * 3)};
    const double pi = 3.14159265358979;
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const double u = x / 400.0, v = y / 300.0;
            const double luma = 30 * std::sin(2 * pi * (u * 3 + v * 2)) + 20 * std::cos(2 * pi * (u - v) * 2);
            const double rgb[3] = {128 + luma + 60 * std::sin(2 * pi * u), 128 + luma + 50 * std::cos(2 * pi * v),
                                   128 + luma - 60 * std::sin(2 * pi * (u + v) / 2)};
            for (int c = 0; c < 3; ++c)
                img.px[(size_t(y) * w + x) * 3 + c] = uint8_t(std::clamp(int(std::lround(rgb[c])), 0, 255));
        }
    return img;
}

// Centre of the darkness between two positions of a line of grey levels.
double centroid(const std::vector<double>& line, double from, double to) {
    double sum = 0, weight = 0;
    for (int i = std::max(0, int(from)); i < int(line.size()) && i < to; ++i) {
        const double ink = 255 - line[size_t(i)];
        sum += ink * (i + 0.5);
        weight += ink;
    }
    return weight > 0 ? sum / weight : -1;
}

struct Size {
    int w, h;
};

// The output sizes asked of a W x H image: each reduction rounded down, up and to nearest, and
// sizes fitted into boxes, as a viewer asks for a thumbnail or a zoomed-out view.
std::vector<Size> sizesFor(int W, int H) {
    std::vector<Size> sizes;
    for (int d : {2, 4, 8}) {
        sizes.push_back({W / d, H / d});
        sizes.push_back({(W + d - 1) / d, (H + d - 1) / d});
        sizes.push_back({int(std::lround(double(W) / d)), int(std::lround(double(H) / d))});
    }
    for (int box : {300, 200, 150, 100}) {
        const double s = std::min(double(box) / W, double(box) / H);
        sizes.push_back({std::max(1, int(std::lround(W * s))), std::max(1, int(std::lround(H * s)))});
    }
    std::vector<Size> kept;
    for (Size s : sizes)
        if (s.w >= 16 && s.h >= 16 && s.w < W && s.h < H) kept.push_back(s);
    return kept;
}

} // namespace

TEST(ScaledJpegLoad, PhotographsFollowTheBoxFilteredFullDecode) {
    struct Case {
        int w, h, subsamp;
    };
    const Case cases[] = {{493, 331, 2}, {1001, 77, 2}, {331, 493, 1}, {250, 163, 0}};
    for (const Case& c : cases) {
        const Bytes jpg = fwtest::encodeJpeg(makePhoto(c.w, c.h), c.subsamp, 95);
        for (Road road : {Road::Wrapper, Road::Codec}) {
            const Image full = loadRgba(road, jpg, c.w, c.h);
            ASSERT_EQ(full.width, c.w);
            for (Size s : sizesFor(c.w, c.h)) {
                SCOPED_TRACE(testing::Message() << name(road) << " " << c.w << "x" << c.h << " to " << s.w << "x" << s.h);
                const Image got = loadRgba(road, jpg, s.w, s.h);
                ASSERT_EQ(got.width, s.w);
                const Error e = measure(got, boxFilter(full, s.w, s.h));
                // A stretch by the part of a pixel that the last reduced column lacks, or a
                // level's bias, shows in the luma; chroma is coarser at reduced scales.
                EXPECT_LE(e.mean, 0.8) << "bias " << e.bias;
                EXPECT_LE(std::fabs(e.bias), 0.25) << "mean " << e.mean;
                EXPECT_LE(e.channelBias, 1.5) << "mean " << e.mean;
            }
        }
    }
}

TEST(ScaledJpegLoad, EdgesOfLineArtStayWhereTheyAre) {
    for (auto [w, h] : {std::pair{493, 331}, std::pair{1001, 77}, std::pair{331, 493}, std::pair{250, 163}}) {
        for (bool vertical : {true, false}) {
            const int extent = vertical ? w : h;
            const Bars bars = barsAcross(extent, std::max(8, std::min(w, h) / 6));
            const Bytes jpg = fwtest::encodeJpeg(makeBars(w, h, bars, vertical), 2, 95);
            for (Road road : {Road::Wrapper, Road::Codec}) {
                for (Size s : sizesFor(w, h)) {
                    SCOPED_TRACE(testing::Message() << name(road) << " " << w << "x" << h << " to " << s.w << "x" << s.h
                                                    << (vertical ? " vertical" : " horizontal") << " bars");
                    const Image got = loadRgba(road, jpg, s.w, s.h);
                    ASSERT_EQ(got.width, s.w);
                    const int n = vertical ? s.w : s.h;
                    const double k = double(n) / extent;
                    // Along the middle row (column); each bar's centre must land where the scale
                    // puts it.
                    std::vector<double> line(static_cast<size_t>(n));
                    for (int i = 0; i < n; ++i)
                        line[size_t(i)] = vertical ? got.at(i, s.h / 2)[1] : got.at(s.w / 2, i)[1];
                    double worst = 0;
                    for (int e : bars.at) {
                        const double want = (e + bars.bar / 2.0) * k;
                        const double at = centroid(line, want - bars.bar * k, want + bars.bar * k);
                        worst = std::max(worst, std::fabs(at - want));
                    }
                    // Bilinear reduction moves an edge by up to a quarter pixel with the phase
                    // of its samples; a stretch over a partly covered last column moves the
                    // far bars by half a pixel and more.
                    EXPECT_LE(worst, 0.3);
                }
            }
        }
    }
}

// Turned and mirrored reduced decodes through the wrapper move the pixels of the upright reduced
// decode: the partly covered last column and row end up on the side the turn puts them.
TEST(ScaledJpegLoad, TurnedReducedDecodesMoveThePixelsOfTheUprightOne) {
    const int W = 493, H = 331;
    const Bytes jpg = fwtest::encodeJpeg(makePhoto(W, H), 2, 95);
    Manager m;
    auto decode = [&](int64_t rotation, int64_t flip, int64_t w, int64_t h) {
        Stream st(jpg);
        MHandle dec = nullptr;
        EXPECT_EQ(MIDec_Create(m.h, st.s, 2, &dec), MOK);
        uint64_t color = kRGBA;
        EXPECT_EQ(MIDec_SetProp(dec, 3, &color, 8), MOK);
        EXPECT_EQ(MIDec_SetProp(dec, 0x100C, &rotation, 8), MOK);
        EXPECT_EQ(MIDec_SetProp(dec, 0x100D, &flip, 8), MOK);
        int64_t wh[2] = {w, h};
        EXPECT_EQ(MIDec_SetProp(dec, 0x1007, wh, 16), MOK);
        Image out{int(w), int(h), 4, std::vector<uint8_t>(size_t(w * h * 4))};
        MByte* planes[3] = {out.px.data(), nullptr, nullptr};
        MInt64 pitches[3] = {w * 4, 0, 0}, start = 0, count = h;
        EXPECT_EQ(MIDec_Scanlines(dec, planes, pitches, &start, &count), MOK);
        MIDec_Destroy(dec);
        return out;
    };
    for (Size s : {Size{123, 82}, Size{61, 41}, Size{246, 165}, Size{200, 134}}) {
        const Image upright = decode(0, 0, s.w, s.h);
        for (auto [rotation, flip] : {std::pair<int64_t, int64_t>{90, 0}, {180, 0}, {270, 0}, {0, 1}, {90, 1}}) {
            SCOPED_TRACE(testing::Message() << s.w << "x" << s.h << " turned " << rotation << " flip " << flip);
            const bool swap = rotation == 90 || rotation == 270;
            const int ow = swap ? s.h : s.w, oh = swap ? s.w : s.h;
            const Image out = decode(rotation, flip, ow, oh);
            int worst = 0;
            for (int y = 0; y < oh; ++y)
                for (int x = 0; x < ow; ++x) {
                    int ux = flip == 1 ? ow - 1 - x : x, uy = y;
                    int sx = ux, sy = uy;
                    if (rotation == 90) sx = uy, sy = s.h - 1 - ux;
                    if (rotation == 180) sx = s.w - 1 - ux, sy = s.h - 1 - uy;
                    if (rotation == 270) sx = s.w - 1 - uy, sy = ux;
                    for (int c = 0; c < 3; ++c) worst = std::max(worst, std::abs(out.at(x, y)[c] - upright.at(sx, sy)[c]));
                }
            EXPECT_EQ(worst, 0);
        }
    }
}
