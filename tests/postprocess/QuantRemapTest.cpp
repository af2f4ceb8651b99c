// Remapping to palette indexes: guards, the quick table against a brute-force nearest search,
// exact remaps of palette colours, the dithered mean, row padding of the index rows, the 15-bit
// table remappers and the network's index search.
#include "AMQuant.h"
#include "QuantTestImages.h"

#include <gtest/gtest.h>

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
using Palette = std::array<uint8_t, 1024>;

struct Built {
    Handle handle;
    Palette palette;
};

Built build(MInt64 type, const Image& img, int colors, MInt64 pitch = 0) {
    Built b{Handle(AMQuant_CreatePalette(type)), {}};
    b.palette.fill(0);
    EXPECT_EQ(AMQuant_GetPalette(b.handle.get(), img.bytes.data(), pitch, img.width, img.height, colors, b.palette.data()), 0);
    return b;
}

std::array<double, 3> meanColour(const Image& img) {
    std::array<double, 3> m{0, 0, 0};
    for (int64_t y = 0; y < img.height; ++y)
        for (int64_t x = 0; x < img.width; ++x)
            for (int k = 0; k < 3; ++k) m[size_t(k)] += img.at(x, y)[k];
    for (double& v : m) v /= double(img.width * img.height);
    return m;
}

}  // namespace

TEST(RemapGuards, NullAndBadArgumentsAreRefused) {
    Image img = photoLike(4, 4, 1);
    Built b = build(AMQUANT_NEURAL, img, 256);
    std::vector<uint8_t> idx(64, 0x11);
    AMQuantHandle h = b.handle.get();
    const MByte* pal = b.palette.data();
    EXPECT_EQ(AMQuant_Remapfloyd(nullptr, img.data(), 0, idx.data(), 0, 4, 4, pal), 2);
    EXPECT_EQ(AMQuant_Remapfloyd(h, nullptr, 0, idx.data(), 0, 4, 4, pal), 2);
    EXPECT_EQ(AMQuant_Remapfloyd(h, img.data(), 0, nullptr, 0, 4, 4, pal), 2);
    EXPECT_EQ(AMQuant_Remapfloyd(h, img.data(), 0, idx.data(), 0, 4, 4, nullptr), 2);
    EXPECT_EQ(AMQuant_Remapfloyd(h, img.data(), 0, idx.data(), 0, 0, 4, pal), 2);
    EXPECT_EQ(AMQuant_Remapfloyd(h, img.data(), 0, idx.data(), 0, 4, -3, pal), 2);
    EXPECT_EQ(AMQuant_Remapfloyd(h, img.data(), 11, idx.data(), 0, 4, 4, pal), 2) << "source pitch below 3 * width";
    EXPECT_EQ(AMQuant_Remapfloyd(h, img.data(), 0, idx.data(), 3, 4, 4, pal), 2) << "index pitch below width";
    EXPECT_EQ(AMQuant_Remapfloyd(h, img.data(), 0, idx.data(), INT64_MAX / 2, 4, 4, pal), 2) << "size overflows";
    for (uint8_t v : idx) ASSERT_EQ(v, 0x11);

    std::vector<uint8_t> table(AMQUANT_TAB15_SIZE, 0), out(64);
    EXPECT_EQ(RemapSimple(nullptr, img.data(), 0, idx.data(), 0, 4, 4), 2);
    EXPECT_EQ(RemapSimple(table.data(), nullptr, 0, idx.data(), 0, 4, 4), 2);
    EXPECT_EQ(RemapSimple(table.data(), img.data(), 0, nullptr, 0, 4, 4), 2);
    EXPECT_EQ(RemapSimple(table.data(), img.data(), 0, idx.data(), 2, 4, 4), 2);
    EXPECT_EQ(mediacut_RemapFloyd(nullptr, img.data(), 0, out.data(), 0, 4, 4, pal), 2);
    EXPECT_EQ(mediacut_RemapFloyd(table.data(), img.data(), 0, nullptr, 0, 4, 4, pal), 2);
    EXPECT_EQ(mediacut_RemapFloyd(table.data(), img.data(), 0, out.data(), 0, 4, 4, nullptr), 2);
    EXPECT_EQ(mediacut_RemapFloyd(table.data(), img.data(), 0, out.data(), 11, 4, 4, pal), 2) << "output pitch below 3 * width";
    EXPECT_EQ(IndexSearch(nullptr, 1, 2, 3), -1);
}

TEST(QuickTable, EveryCellMapsToItsNearestEntry) {
    // A one-pixel remap reads the table at that pixel's key without any carried error.
    const Image photo = photoLike(64, 48, 9);
    for (MInt64 type : {AMQUANT_MEDIANCUT, AMQUANT_NEURAL}) {
        Built b = build(type, photo, 256);
        int checked = 0;
        for (unsigned key = 0; key < AMQUANT_QKTAB_SIZE; ++key) {
            const unsigned u = key >> 11, g = (key >> 5) & 63, v = key & 31;
            uint8_t px[4] = {uint8_t(u * 8 + u / 4), uint8_t(g * 4 + g / 16), uint8_t(v * 8 + v / 4), 0};
            const uint8_t cell[3] = {px[0], px[1], px[2]};
            uint8_t index = 0;
            ASSERT_EQ(AMQuant_Remapfloyd(b.handle.get(), px, 0, &index, 0, 1, 1, b.palette.data()), 0);
            int best = INT32_MAX;
            for (int i = 0; i < 256; ++i) best = std::min(best, dist2(cell, b.palette.data() + 4 * i));
            const int got = dist2(cell, b.palette.data() + 4 * index);
            // Entries whose brightness sum is 100 or more away are not searched, so only cells
            // farther than that from every entry may settle for a farther one.
            if (3 * best < 10000) {
                ASSERT_EQ(got, best) << "type " << type << " key " << key;
                ++checked;
            }
        }
        EXPECT_GT(checked, 10000);
    }
}

TEST(Remap, PaletteColoursRemapExactlyAndLeaveTheSourceAlone) {
    std::mt19937 rng(5);
    std::uniform_int_distribution<int> cell(1, 31);
    std::vector<Rgb> colours;
    std::set<Rgb> seen;
    while (colours.size() < 40) {
        const Rgb c{widen5(cell(rng)), widen5(cell(rng)), widen5(cell(rng))};
        if (seen.insert(c).second) colours.push_back(c);
    }
    const Image src = makeImage(9, 23, [&](int64_t x, int64_t y) { return colours[size_t((x * 7 + y) % 40)]; });
    Built b = build(AMQUANT_MEDIANCUT, src, 256);
    Image work = src;
    const int64_t ipitch = 12;
    std::vector<uint8_t> idx(size_t(ipitch * src.height), 0xEE);
    ASSERT_EQ(AMQuant_Remapfloyd(b.handle.get(), work.data(), 0, idx.data(), 0, src.width, src.height, b.palette.data()), 0);
    EXPECT_EQ(work.bytes, src.bytes) << "no error to diffuse";
    for (int64_t y = 0; y < src.height; ++y) {
        for (int64_t x = 0; x < src.width; ++x) {
            const uint8_t* pal = b.palette.data() + 4 * idx[size_t(y * ipitch + x)];
            ASSERT_EQ((Rgb{pal[0], pal[1], pal[2]}), colours[size_t((x * 7 + y) % 40)]) << x << "," << y;
        }
        // Index rows are padded to 4 bytes and the padding is left alone.
        for (int64_t x = src.width; x < ipitch; ++x) ASSERT_EQ(idx[size_t(y * ipitch + x)], 0xEE);
    }
}

TEST(Remap, DitheredMeanFollowsTheSource) {
    // A smooth ramp with few colours to choose from: dithering must keep the average colour.
    const Image ramp = makeImage(61, 40, [](int64_t x, int64_t y) {
        return Rgb{int(x * 255 / 60), int(y * 255 / 39), int((x + y) * 255 / 99)};
    });
    for (auto [type, k] : {std::pair<MInt64, int>{AMQUANT_MEDIANCUT, 16}, {AMQUANT_MEDIANCUT, 64}, {AMQUANT_NEURAL, 256}}) {
        Built b = build(type, ramp, k);
        Image work = ramp;
        const int64_t ipitch = (ramp.width + 3) / 4 * 4;
        std::vector<uint8_t> idx(size_t(ipitch * ramp.height));
        ASSERT_EQ(AMQuant_Remapfloyd(b.handle.get(), work.data(), 0, idx.data(), 0, ramp.width, ramp.height, b.palette.data()), 0);
        Image mapped = ramp;
        for (int64_t y = 0; y < ramp.height; ++y)
            for (int64_t x = 0; x < ramp.width; ++x) {
                const int i = idx[size_t(y * ipitch + x)];
                ASSERT_LT(i, type == AMQUANT_MEDIANCUT ? k : 256);
                for (int c = 0; c < 3; ++c) mapped.at(x, y)[c] = b.palette[size_t(4 * i + c)];
            }
        const auto want = meanColour(ramp), got = meanColour(mapped);
        for (int c = 0; c < 3; ++c) EXPECT_NEAR(got[size_t(c)], want[size_t(c)], 3.0) << got[size_t(c)] << " vs " << want[size_t(c)] << " type " << type << " k " << k << " channel " << c;
    }
}

TEST(Remap, TightlyPackedBuffersAreNotOverrun) {
    // Rows of exactly 3 * width and width bytes, in buffers of exactly that size.
    const Image src = makeImage(7, 13, [](int64_t x, int64_t y) { return Rgb{int(x * 30), int(y * 19), 77}; }, 21);
    Built b = build(AMQUANT_NEURAL, src, 256, 21);
    Image work = src;
    std::vector<uint8_t> idx(7 * 13);
    ASSERT_EQ(AMQuant_Remapfloyd(b.handle.get(), work.data(), 21, idx.data(), 7, 7, 13, b.palette.data()), 0);
    const Image padded = makeImage(7, 13, [](int64_t x, int64_t y) { return Rgb{int(x * 30), int(y * 19), 77}; });
    Image work2 = padded;
    std::vector<uint8_t> idx2(8 * 13);
    ASSERT_EQ(AMQuant_Remapfloyd(b.handle.get(), work2.data(), 0, idx2.data(), 0, 7, 13, b.palette.data()), 0);
    for (int y = 0; y < 13; ++y)
        for (int x = 0; x < 7; ++x) ASSERT_EQ(idx[size_t(y * 7 + x)], idx2[size_t(y * 8 + x)]) << x << "," << y;
}

TEST(Table15, SimpleAndDitheredRemapsFollowTheTable) {
    // A 6 x 6 x 6 grid palette and its 15-bit table built by brute force.
    std::vector<Rgb> colours;
    for (int a = 0; a < 6; ++a)
        for (int b = 0; b < 6; ++b)
            for (int c = 0; c < 6; ++c) colours.push_back(Rgb{a * 51, b * 51, c * 51});
    Palette pal{};
    for (size_t i = 0; i < colours.size(); ++i)
        for (int k = 0; k < 3; ++k) pal[4 * i + size_t(k)] = uint8_t(colours[i][size_t(k)]);
    std::vector<uint8_t> table(AMQUANT_TAB15_SIZE);
    for (unsigned key = 0; key < AMQUANT_TAB15_SIZE; ++key) {
        const uint8_t c[3] = {uint8_t((key >> 10) * 8 + 4), uint8_t(((key >> 5) & 31) * 8 + 4), uint8_t((key & 31) * 8 + 4)};
        int best = 0;
        for (int i = 1; i < int(colours.size()); ++i)
            if (dist2(c, pal.data() + 4 * i) < dist2(c, pal.data() + 4 * best)) best = i;
        table[key] = uint8_t(best);
    }
    const Image src = photoLike(37, 21, 4);
    const int64_t ipitch = 40;
    std::vector<uint8_t> idx(size_t(ipitch * src.height), 0xEE);
    ASSERT_EQ(RemapSimple(table.data(), src.bytes.data(), 0, idx.data(), 0, src.width, src.height), 0);
    for (int64_t y = 0; y < src.height; ++y) {
        for (int64_t x = 0; x < src.width; ++x) {
            const uint8_t* p = src.at(x, y);
            ASSERT_EQ(idx[size_t(y * ipitch + x)], table[(unsigned(p[0] >> 3) << 10) | (unsigned(p[1] >> 3) << 5) | unsigned(p[2] >> 3)]);
        }
        for (int64_t x = src.width; x < ipitch; ++x) ASSERT_EQ(idx[size_t(y * ipitch + x)], 0xEE);
    }

    // The dithered variant writes palette colours; a ramp keeps its mean.
    const Image ramp = makeImage(50, 30, [](int64_t x, int64_t y) { return Rgb{int(x * 5), int(y * 8), int(x * 2 + y * 3)}; });
    Image work = ramp;
    Image out = makeImage(50, 30, [](int64_t, int64_t) { return Rgb{1, 2, 3}; });
    ASSERT_EQ(mediacut_RemapFloyd(table.data(), work.data(), 0, out.data(), 0, 50, 30, pal.data()), 0);
    for (int64_t y = 0; y < 30; ++y)
        for (int64_t x = 0; x < 50; ++x) {
            const uint8_t* p = out.at(x, y);
            ASSERT_NE(std::find(colours.begin(), colours.end(), Rgb{p[0], p[1], p[2]}), colours.end()) << x << "," << y;
        }
    const auto want = meanColour(ramp), got = meanColour(out);
    for (int c = 0; c < 3; ++c) EXPECT_NEAR(got[size_t(c)], want[size_t(c)], 4.0) << "channel " << c;
}

TEST(IndexSearch, FindsTheNearestNeuronBySumOfDifferences) {
    std::mt19937 rng(8);
    std::uniform_int_distribution<int> byte(0, 255);
    AMQuantNetwork net{};
    std::vector<std::array<int, 4>> neurons(256);
    for (int i = 0; i < 256; ++i) neurons[size_t(i)] = {byte(rng), byte(rng), byte(rng), i};
    std::sort(neurons.begin(), neurons.end(), [](const auto& a, const auto& b) { return a[1] < b[1]; });
    for (int i = 0; i < 256; ++i)
        for (int k = 0; k < 4; ++k) net.neuron[i][k] = neurons[size_t(i)][size_t(k)];
    // netindex[v]: the first neuron whose byte 1 is v or more.
    for (int v = 0, i = 0; v < 256; ++v) {
        while (i < 256 && net.neuron[i][1] < v) ++i;
        net.netindex[v] = std::min(i, 255);
    }
    for (int q = 0; q < 2000; ++q) {
        const int b0 = byte(rng), b1 = byte(rng), b2 = byte(rng);
        int best = INT32_MAX;
        for (const auto& n : neurons) best = std::min(best, std::abs(n[0] - b0) + std::abs(n[1] - b1) + std::abs(n[2] - b2));
        const int got = IndexSearch(&net, b0, b1, b2);
        ASSERT_GE(got, 0);
        const auto it = std::find_if(neurons.begin(), neurons.end(), [got](const auto& n) { return n[3] == got; });
        EXPECT_EQ(std::abs((*it)[0] - b0) + std::abs((*it)[1] - b1) + std::abs((*it)[2] - b2), best);
    }
    // Out-of-range byte 1 values still search from a valid place.
    EXPECT_GE(IndexSearch(&net, 10, -5, 10), 0);
    EXPECT_GE(IndexSearch(&net, 10, 999, 10), 0);
}
