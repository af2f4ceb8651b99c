// Palette builders: argument guards, exact palettes for images with few colours, the order and
// quick table every palette ends with, row padding, tiny images, and the quality of both builders
// against float models of their algorithms.
#include "AMQuant.h"
#include "QuantTestImages.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <memory>
#include <random>
#include <set>
#include <vector>

using namespace quanttest;

namespace {

struct HandleDeleter {
    void operator()(AMQuantRecord* h) const { AMQuant_DestroyPalette(h); }
};
using Handle = std::unique_ptr<AMQuantRecord, HandleDeleter>;

Handle makeHandle(MInt64 type) { return Handle(AMQuant_CreatePalette(type)); }

using Palette = std::array<uint8_t, 1024>;

Palette build(MInt64 type, const Image& img, int colors, uint8_t preset = 0, MInt64 pitch = 0) {
    Handle h = makeHandle(type);
    Palette pal;
    pal.fill(preset);
    EXPECT_EQ(AMQuant_GetPalette(h.get(), img.bytes.data(), pitch, img.width, img.height, colors, pal.data()), 0);
    return pal;
}

std::set<Rgb> entries(const Palette& pal, int n) {
    std::set<Rgb> s;
    for (int i = 0; i < n; ++i) s.insert(Rgb{pal[4 * i], pal[4 * i + 1], pal[4 * i + 2]});
    return s;
}

void expectSortedBySum(const Palette& pal, int n) {
    for (int i = 1; i < n; ++i)
        EXPECT_LE(pal[4 * (i - 1)] + pal[4 * (i - 1) + 1] + pal[4 * (i - 1) + 2], pal[4 * i] + pal[4 * i + 1] + pal[4 * i + 2])
            << "entry " << i;
}

}  // namespace

TEST(QuantGuards, NullAndBadArgumentsAreRefusedWithoutTouchingTheBuffers) {
    Handle h = makeHandle(AMQUANT_MEDIANCUT);
    ASSERT_TRUE(h);
    std::vector<uint8_t> px(64, 7);
    Palette pal;
    pal.fill(0x5A);
    EXPECT_EQ(AMQuant_GetPalette(nullptr, px.data(), 0, 2, 2, 256, pal.data()), 2);
    EXPECT_EQ(AMQuant_GetPalette(h.get(), nullptr, 0, 2, 2, 256, pal.data()), 2);
    EXPECT_EQ(AMQuant_GetPalette(h.get(), px.data(), 0, 2, 2, 256, nullptr), 2);
    EXPECT_EQ(AMQuant_GetPalette(h.get(), px.data(), 0, 0, 2, 256, pal.data()), 2);
    EXPECT_EQ(AMQuant_GetPalette(h.get(), px.data(), 0, 2, -1, 256, pal.data()), 2);
    EXPECT_EQ(AMQuant_GetPalette(h.get(), px.data(), 5, 2, 2, 256, pal.data()), 2) << "pitch below 3 * width";
    EXPECT_EQ(AMQuant_GetPalette(h.get(), px.data(), 0, 2, 2, 257, pal.data()), 2) << "more than a byte can index";
    EXPECT_EQ(AMQuant_GetPalette(h.get(), px.data(), INT64_MAX / 2, 2, 4, 256, pal.data()), 2) << "size overflows";
    EXPECT_EQ(AMQuant_GetPalette(h.get(), px.data(), 0, INT64_MAX / 2, 1, 256, pal.data()), 2);
    for (uint8_t b : pal) ASSERT_EQ(b, 0x5A);
    EXPECT_EQ(AMQuant_DestroyPalette(nullptr), 2);
}

TEST(QuantGuards, UnknownTypeAndTooFewMedianColoursChangeNothing) {
    const Image img = photoLike(16, 8, 1);
    for (auto [type, colors] : {std::pair<MInt64, int>{2, 256}, {-1, 256}, {AMQUANT_MEDIANCUT, 15}, {AMQUANT_MEDIANCUT, 0}}) {
        const Palette pal = build(type, img, colors, 0x33);
        for (uint8_t b : pal) ASSERT_EQ(b, 0x33) << "type " << type << " colours " << colors;
    }
}

TEST(MedianCut, SingleColourGivesOneWidenedEntryAndKeepsTheRest) {
    const Image img = makeImage(7, 3, [](int64_t, int64_t) { return Rgb{200, 100, 40}; });
    const Rgb expected{widen5(25), widen5(12), widen5(5)};
    ASSERT_EQ(expected, (Rgb{206, 99, 41}));

    // Cleared entries sort first, so the colour ends up last.
    Palette pal = build(AMQUANT_MEDIANCUT, img, 256, 0);
    EXPECT_EQ((Rgb{pal[1020], pal[1021], pal[1022]}), expected);
    for (int i = 0; i < 1020; ++i) ASSERT_EQ(pal[i], 0) << i;

    // Entries the boxes did not fill keep the caller's bytes and sort after the colour here.
    pal = build(AMQUANT_MEDIANCUT, img, 256, 0xAA);
    EXPECT_EQ((Rgb{pal[0], pal[1], pal[2]}), expected);
    for (int i = 1; i < 256; ++i) ASSERT_EQ((Rgb{pal[4 * i], pal[4 * i + 1], pal[4 * i + 2]}), (Rgb{0xAA, 0xAA, 0xAA}));
    for (int i = 0; i < 256; ++i) ASSERT_EQ(pal[4 * i + 3], 0xAA) << "byte 3 is never written";
}

TEST(MedianCut, ImagesWithFewColoursComeBackExact) {
    // Colours already at 5-bit precision, each in its own cell, never black (cleared entries are).
    std::mt19937 rng(42);
    for (int n : {1, 4, 7, 16, 60, 200}) {
        std::set<Rgb> colours;
        while (int(colours.size()) < n) {
            std::uniform_int_distribution<int> cell(1, 31);
            colours.insert(Rgb{widen5(cell(rng)), widen5(cell(rng)), widen5(cell(rng))});
        }
        const std::vector<Rgb> list(colours.begin(), colours.end());
        // 1 x n and a wider image with every colour repeated unevenly.
        const Image strip = makeImage(1, n, [&](int64_t, int64_t y) { return list[size_t(y)]; });
        const Image wide = makeImage(13, n, [&](int64_t x, int64_t y) { return list[size_t((y + (x % 3 == 0 ? 0 : x)) % n)]; });
        for (const Image* img : {&strip, &wide}) {
            for (int k : {std::max(16, n), 256}) {
                const Palette pal = build(AMQUANT_MEDIANCUT, *img, k, 0);
                std::set<Rgb> got = entries(pal, k);
                got.erase(Rgb{0, 0, 0});
                EXPECT_EQ(got, colours) << n << " colours, " << k << " asked, width " << img->width;
                expectSortedBySum(pal, k);
            }
        }
    }
}

TEST(MedianCut, OneByFourBitmap) {
    const std::vector<Rgb> px{{255, 0, 0}, {0, 255, 0}, {0, 0, 255}, {255, 255, 255}};
    const Image img = makeImage(1, 4, [&](int64_t, int64_t y) { return px[size_t(y)]; });
    const Palette pal = build(AMQUANT_MEDIANCUT, img, 16, 0);
    // Twelve cleared entries first, then the three primaries (equal sums: the sort's order) and white.
    for (int i = 0; i < 48; ++i) ASSERT_EQ(pal[i], 0);
    EXPECT_EQ(entries(pal, 16), (std::set<Rgb>{{0, 0, 0}, {255, 0, 0}, {0, 255, 0}, {0, 0, 255}, {255, 255, 255}}));
    EXPECT_EQ((Rgb{pal[60], pal[61], pal[62]}), (Rgb{255, 255, 255}));
}

TEST(MedianCut, EveryColourCountBetween16And256Stays) {
    // Colour counts from 32 to 63 may start with more grid boxes than colours asked for.
    const Image img = photoLike(40, 30, 7);
    for (int k : {16, 17, 31, 32, 40, 63, 64, 100, 255, 256}) {
        Palette pal;
        pal.fill(0xEE);
        Handle h = makeHandle(AMQUANT_MEDIANCUT);
        ASSERT_EQ(AMQuant_GetPalette(h.get(), img.bytes.data(), 0, img.width, img.height, k, pal.data()), 0);
        for (size_t i = 4 * size_t(k); i < pal.size(); ++i) ASSERT_EQ(pal[i], 0xEE) << "wrote past " << k << " entries";
        expectSortedBySum(pal, k);
        std::set<Rgb> got = entries(pal, k);
        got.erase(Rgb{0xEE, 0xEE, 0xEE});
        EXPECT_GE(int(got.size()), std::min(k, 16)) << k;
    }
}

TEST(QuantPadding, RowPaddingIsNeverTakenForPixels) {
    // Width 5: 15 bytes of pixels in 16-byte rows. Garbage in the padding must change nothing.
    for (MInt64 type : {AMQUANT_MEDIANCUT, AMQUANT_NEURAL}) {
        auto colour = [](int64_t x, int64_t y) { return Rgb{int(30 + 40 * x), int(20 + 30 * y), 90}; };
        const Image clean = makeImage(5, 40, colour, 0, 0);
        const Image dirty = makeImage(5, 40, colour, 0, 0xFF);
        EXPECT_EQ(build(type, clean, 256), build(type, dirty, 256)) << "type " << type;
    }
}

TEST(QuantPadding, AnExplicitPitchIsHonouredAndNotReadPast) {
    // Tightly packed rows in a buffer of exactly 3 * width * height bytes.
    for (MInt64 type : {AMQUANT_MEDIANCUT, AMQUANT_NEURAL}) {
        auto colour = [](int64_t x, int64_t y) { return Rgb{int(8 * x), int(8 * y), int(4 * (x + y))}; };
        const Image packed = makeImage(7, 31, colour, 21);
        ASSERT_EQ(packed.bytes.size(), 7u * 31u * 3u);
        const Image padded = makeImage(7, 31, colour);
        EXPECT_EQ(build(type, packed, 256, 0, 21), build(type, padded, 256)) << "type " << type;
    }
}

// ---- Float models: the same algorithms in real arithmetic, judged by the error they leave. ----

namespace {

std::vector<uint8_t> neuralModel(const Image& img) {
    constexpr int N = 256;
    double net[N][3], freq[N], bias[N];
    for (int i = 0; i < N; ++i) {
        net[i][0] = net[i][1] = net[i][2] = i;
        freq[i] = 1.0 / N;
        bias[i] = 0;
    }
    const int64_t samples = img.width * img.height, length = 3 * samples;
    int64_t step = 3 * 503;
    for (int p : {499, 491, 487})
        if (length % p) { step = 3 * p; break; }
    const int64_t delta = std::max<int64_t>(samples / 100, 1);
    double alpha = 1.0, radius = 32.0;
    int rad = 32;
    int64_t pos = 0;
    for (int64_t i = 1; i <= samples; ++i) {
        const int64_t pixel = pos / 3;
        const uint8_t* px = img.at(pixel % img.width, pixel / img.width);
        const double c[3] = {double(px[0]), double(px[1]), double(px[2])};
        double bestD = 1e30, bestBD = 1e30;
        int best = 0, bestB = 0;
        for (int n = 0; n < N; ++n) {
            const double d = std::abs(net[n][0] - c[0]) + std::abs(net[n][1] - c[1]) + std::abs(net[n][2] - c[2]);
            if (d < bestD) { bestD = d; best = n; }
            if (d - bias[n] < bestBD) { bestBD = d - bias[n]; bestB = n; }
            bias[n] += freq[n];
            freq[n] -= freq[n] / 1024;
        }
        freq[best] += 1.0 / 1024;
        bias[best] -= 1.0;
        for (int k = 0; k < 3; ++k) net[bestB][k] -= alpha * (net[bestB][k] - c[k]);
        for (int m = 1; m < rad; ++m) {
            const double a = alpha * double(rad * rad - m * m) / double(rad * rad);
            for (int j : {bestB + m, bestB - m})
                if (j >= 0 && j < N)
                    for (int k = 0; k < 3; ++k) net[j][k] -= a * (net[j][k] - c[k]);
        }
        pos += step;
        while (pos >= length) pos -= length;
        if (i % delta == 0) {
            alpha -= alpha / 30;
            radius -= radius / 30;
            rad = int(radius);
            if (rad <= 1) rad = 0;
        }
    }
    std::vector<uint8_t> pal(1024, 0);
    for (int n = 0; n < N; ++n)
        for (int k = 0; k < 3; ++k) pal[4 * n + k] = uint8_t(std::clamp(int(std::lround(net[n][k])), 0, 255));
    return pal;
}

// Median cut on the pixels themselves: split the box with the largest extent times count at the
// median of its longest axis, then take each box's mean.
std::vector<uint8_t> medianCutModel(const Image& img, int k) {
    using Px = std::array<double, 3>;
    std::vector<std::vector<Px>> boxes(1);
    for (int64_t y = 0; y < img.height; ++y)
        for (int64_t x = 0; x < img.width; ++x) boxes[0].push_back({double(img.at(x, y)[0]), double(img.at(x, y)[1]), double(img.at(x, y)[2])});
    auto extent = [](const std::vector<Px>& b, int axis) {
        double lo = 1e9, hi = -1e9;
        for (const Px& p : b) { lo = std::min(lo, p[axis]); hi = std::max(hi, p[axis]); }
        return hi - lo;
    };
    while (int(boxes.size()) < k) {
        int chosen = -1;
        double bestScore = 0;
        for (size_t i = 0; i < boxes.size(); ++i) {
            const double s = (extent(boxes[i], 0) + extent(boxes[i], 1) + extent(boxes[i], 2)) * double(boxes[i].size());
            if (s > bestScore) { bestScore = s; chosen = int(i); }
        }
        if (chosen < 0) break;
        std::vector<Px>& b = boxes[size_t(chosen)];
        int axis = 0;
        for (int a = 1; a < 3; ++a)
            if (extent(b, a) > extent(b, axis)) axis = a;
        std::sort(b.begin(), b.end(), [axis](const Px& p, const Px& q) { return p[axis] < q[axis]; });
        std::vector<Px> upper(b.begin() + std::ptrdiff_t(b.size() / 2), b.end());
        b.resize(b.size() / 2);
        boxes.push_back(std::move(upper));
    }
    std::vector<uint8_t> pal(1024, 0);
    for (size_t i = 0; i < boxes.size(); ++i) {
        Px m{0, 0, 0};
        for (const Px& p : boxes[i])
            for (int a = 0; a < 3; ++a) m[a] += p[a] / double(boxes[i].size());
        for (int a = 0; a < 3; ++a) pal[4 * i + size_t(a)] = uint8_t(std::lround(m[a]));
    }
    return pal;
}

}  // namespace

TEST(QuantQuality, NeuralPaletteIsCloseToItsFloatModel) {
    for (uint32_t seed : {3u, 11u}) {
        const Image img = photoLike(96, 64, seed);
        const Palette ours = build(AMQUANT_NEURAL, img, 256);
        const std::vector<uint8_t> model = neuralModel(img);
        const double eo = nearestError(img, ours.data(), 256), em = nearestError(img, model.data(), 256);
        // Integer learning steps cost a little; stated tolerance: 25% plus 3 squared levels.
        EXPECT_LE(eo, em * 1.25 + 3.0) << "seed " << seed << " ours " << eo << " model " << em;
        expectSortedBySum(ours, 256);
    }
}

TEST(QuantQuality, MedianCutPaletteIsCloseToItsFloatModel) {
    for (int k : {16, 64, 256}) {
        const Image img = photoLike(96, 64, 5);
        const Palette ours = build(AMQUANT_MEDIANCUT, img, k);
        const std::vector<uint8_t> model = medianCutModel(img, k);
        const double eo = nearestError(img, ours.data(), k), em = nearestError(img, model.data(), k);
        // 5-bit cells and the coarse start grid cost precision; stated tolerance: twice the model's
        // error plus one 5-bit cell's mean squared error in every channel.
        EXPECT_LE(eo, em * 2.0 + 3 * 64.0 / 3.0) << k << " colours: ours " << eo << " model " << em;
    }
}

TEST(Neural, TinyImagesStayInsideTheImageAndMatchTheModel) {
    // Fewer than 100 pixels, and images shorter than one sampling step.
    const std::vector<Rgb> colours{{250, 10, 10}, {10, 240, 20}, {30, 30, 220}, {128, 128, 128}};
    for (auto [w, h] : {std::pair<int64_t, int64_t>{1, 1}, {1, 4}, {3, 3}, {10, 9}, {500, 1}}) {
        const Image img = makeImage(w, h, [&](int64_t x, int64_t y) { return colours[size_t((x + y) % 4)]; });
        const Palette ours = build(AMQUANT_NEURAL, img, 256);
        expectSortedBySum(ours, 256);
        const std::vector<uint8_t> model = neuralModel(img);
        const double eo = nearestError(img, ours.data(), 256), em = nearestError(img, model.data(), 256);
        EXPECT_LE(eo, em * 1.25 + 3.0) << w << "x" << h << " ours " << eo << " model " << em;
    }
    // A single pixel is learnt outright.
    const Image one = makeImage(1, 1, [](int64_t, int64_t) { return Rgb{17, 99, 201}; });
    EXPECT_EQ(nearestError(one, build(AMQUANT_NEURAL, one, 256).data(), 256), 0.0);
}
