// Whole-image decoding through the framework's line path, against reference decoders.
#include <gtest/gtest.h>

#include "MdComponent.h"
#include "framework_test_support.h"

using namespace fwtest;

namespace {

constexpr uint64_t kRGBA = 0x24, kBGRX = 0x25, kRGB24 = 0x02, kGrey = 0x1D;

// Our RGBA (memory R, G, B, A) against the reference's RGBA.
void expectRgbaEqual(const Image& ours, const Image& ref, int tolerance, double meanTolerance, const char* what) {
    ASSERT_EQ(ours.width, ref.width) << what;
    ASSERT_EQ(ours.height, ref.height) << what;
    Diff d = compareRgb(ours, ref);
    EXPECT_LE(d.max, tolerance) << what;
    EXPECT_LE(d.mean, meanTolerance) << what;
}

struct Case {
    const char* name;
    Bytes file;
    int tolerance;
    double mean;
};

} // namespace

TEST(DecodeLines, LosslessFormatsMatchTheReferenceInRgba) {
    Manager m;
    const Image rgb = makeImage(37, 23, 3, 1), rgba = makeImage(29, 31, 4, 2), grey = makeImage(33, 9, 1, 3);
    std::vector<Case> cases = {
        {"bmp24", encodeBmp24(rgb), 0, 0},
        {"bmp8", encodeBmp8(rgb), 0, 0},
        {"png rgb", encodePng(rgb), 0, 0},
        {"png rgb interlaced", encodePng(rgb, true), 0, 0},
        {"png grey", encodePng(grey), 0, 0},
        {"png palette", encodePngPalette(17, 13, 4), 0, 0},
        {"gif", encodeGif(rgb), 0, 0},
    };
    for (const auto& c : cases) {
        Image ours;
        ASSERT_EQ(decodeLines(m.h, c.file, kRGBA, 4, &ours), MOK) << c.name;
        ASSERT_NO_FATAL_FAILURE(expectRgbaEqual(ours, referenceRgba(c.file), c.tolerance, c.mean, c.name));
    }
    // The reference has no run-length BMP reader; the uncompressed twin is the reference.
    Image rle, plain;
    ASSERT_EQ(decodeLines(m.h, encodeBmp8(rgb, true), kRGBA, 4, &rle), MOK);
    ASSERT_EQ(decodeLines(m.h, encodeBmp8(rgb, false), kRGBA, 4, &plain), MOK);
    EXPECT_EQ(rle.px, plain.px);
}

TEST(DecodeLines, AlphaComesThroughFromRgbaAndPaletteTransparency) {
    Manager m;
    const Image rgba = makeImage(29, 31, 4, 2);
    const Bytes png = encodePng(rgba);
    Image ours;
    ASSERT_EQ(decodeLines(m.h, png, kRGBA, 4, &ours), MOK);
    const Image ref = referenceRgba(png);
    for (size_t i = 3; i < ours.px.size(); i += 4) ASSERT_EQ(ours.px[i], ref.px[i]) << i;

    const Bytes pal = encodePngPalette(17, 13, 4);
    ASSERT_EQ(decodeLines(m.h, pal, kRGBA, 4, &ours), MOK);
    const Image pref = referenceRgba(pal);
    int transparent = 0;
    for (size_t i = 3; i < ours.px.size(); i += 4) {
        ASSERT_EQ(ours.px[i], pref.px[i]) << i;
        transparent += ours.px[i] == 0;
    }
    EXPECT_GT(transparent, 0);
}

TEST(DecodeLines, OtherOutputColours) {
    Manager m;
    const Image rgb = makeImage(21, 14, 3, 5);
    const Bytes bmp = encodeBmp24(rgb), gif = encodeGif(rgb), pngGrey = encodePng(makeImage(21, 14, 1, 6));
    Image ours;
    // The BMP's own colour: blue, green, red in memory.
    ASSERT_EQ(decodeLines(m.h, bmp, kRGB24, 3, &ours), MOK);
    for (int y = 0; y < rgb.height; ++y)
        for (int x = 0; x < rgb.width; ++x)
            for (int c = 0; c < 3; ++c) ASSERT_EQ(ours.at(x, y)[c], rgb.at(x, y)[2 - c]) << x << "," << y;
    // Palette rows into 24-bit colour.
    ASSERT_EQ(decodeLines(m.h, gif, kRGB24, 3, &ours), MOK);
    const Image q = quantised332(rgb);
    for (int y = 0; y < rgb.height; ++y)
        for (int x = 0; x < rgb.width; ++x)
            for (int c = 0; c < 3; ++c) ASSERT_EQ(ours.at(x, y)[c], q.at(x, y)[2 - c]) << x << "," << y;
    // Grey stays grey.
    ASSERT_EQ(decodeLines(m.h, pngGrey, kGrey, 1, &ours), MOK);
    const Image gref = referenceRgba(pngGrey);
    for (int y = 0; y < ours.height; ++y)
        for (int x = 0; x < ours.width; ++x) ASSERT_EQ(ours.at(x, y)[0], gref.at(x, y)[0]);
    // Colour to grey through a line converter stays close to the luma of the reference.
    ASSERT_EQ(decodeLines(m.h, bmp, kGrey, 1, &ours), MOK);
    for (int y = 0; y < ours.height; ++y)
        for (int x = 0; x < ours.width; ++x) {
            const uint8_t* p = rgb.at(x, y);
            const double l = 0.299 * p[0] + 0.587 * p[1] + 0.114 * p[2];
            ASSERT_NEAR(ours.at(x, y)[0], l, 3.0) << x << "," << y;
        }
    (void)kBGRX;
}

TEST(DecodeLines, JpegBlocksThroughTheEngine) {
    Manager m;
    for (int sub = 0; sub < 4; ++sub) {
        const Image img = makeImage(101, 75, sub == 3 ? 1 : 3, 7 + sub);
        const Bytes jpg = encodeJpeg(img, sub, 95);
        Image ours;
        ASSERT_EQ(decodeLines(m.h, jpg, kRGBA, 4, &ours), MOK) << sub;
        // Upsampling of chroma differs between decoders; the picture must agree closely.
        ASSERT_NO_FATAL_FAILURE(expectRgbaEqual(ours, referenceJpegRgba(jpg), sub == 1 || sub == 2 ? 20 : 12, 1.5, ("jpeg sub " + std::to_string(sub)).c_str()));
    }
    const Bytes grey = encodeJpeg(makeImage(40, 24, 1, 9), 3, 95);
    Image ours;
    ASSERT_EQ(decodeLines(m.h, grey, kGrey, 1, &ours), MOK);
    const Image ref = referenceRgba(grey);
    for (int y = 0; y < ours.height; ++y)
        for (int x = 0; x < ours.width; ++x) ASSERT_NEAR(ours.at(x, y)[0], ref.at(x, y)[0], 3) << x << "," << y;
}

namespace {

// A 32-bit BMP whose channels sit where `masks` (red, green, blue) say, after a 40-byte header
// followed by the three masks. Fields narrower or wider than 8 bits hold the sample scaled to them.
Bytes encodeBmp32Fields(const Image& rgb, const uint32_t masks[3]) {
    auto le32 = [](Bytes& b, uint32_t v) {
        for (int i = 0; i < 4; ++i) b.push_back(uint8_t(v >> (8 * i)));
    };
    const uint32_t dataSize = uint32_t(rgb.width * rgb.height * 4), off = 14 + 40 + 12;
    Bytes b{'B', 'M'};
    le32(b, off + dataSize);
    le32(b, 0);
    le32(b, off);
    le32(b, 40);
    le32(b, uint32_t(rgb.width));
    le32(b, uint32_t(rgb.height));
    le32(b, 1u | 32u << 16);
    le32(b, 3);
    le32(b, dataSize);
    for (int i = 0; i < 4; ++i) le32(b, 0);
    for (int c = 0; c < 3; ++c) le32(b, masks[c]);
    for (int y = rgb.height - 1; y >= 0; --y)
        for (int x = 0; x < rgb.width; ++x) {
            uint32_t word = 0;
            for (int c = 0; c < 3; ++c) {
                const int shift = __builtin_ctz(masks[c]), bits = __builtin_popcount(masks[c]);
                const uint32_t v = (uint32_t(rgb.at(x, y)[c]) * ((1u << bits) - 1) + 127) / 255;
                word |= v << shift;
            }
            le32(b, word);
        }
    return b;
}

} // namespace

// The masks of a 32-bit file say where each channel is; every layout reads back as its picture.
TEST(DecodeLines, ThirtyTwoBitFilesWithBitFieldMasks) {
    Manager m;
    const Image rgb = makeImage(23, 11, 3, 12);
    const uint32_t layouts[][3] = {
        {0x00FF0000, 0x0000FF00, 0x000000FF}, // the usual order, as plain 32-bit files
        {0x000000FF, 0x0000FF00, 0x00FF0000}, // red in the lowest byte
        {0xFF000000, 0x00FF0000, 0x0000FF00}, // the padding byte first
        {0x3FF00000, 0x000FFC00, 0x000003FF}, // ten bits a channel
        {0x0000F800, 0x000007E0, 0x0000001F}, // five-six-five in a 32-bit word
    };
    for (const auto& masks : layouts) {
        SCOPED_TRACE(testing::Message() << std::hex << masks[0] << " " << masks[1] << " " << masks[2]);
        Image ours;
        ASSERT_EQ(decodeLines(m.h, encodeBmp32Fields(rgb, masks), kRGBA, 4, &ours), MOK);
        // A field narrower than 8 bits loses its low bits; each value must be the nearest the
        // field can hold, widened back.
        Image expected = rgb;
        for (size_t i = 0; i < expected.px.size(); ++i) {
            const int bits = __builtin_popcount(masks[i % 3]);
            if (bits >= 8) continue;
            const int max = (1 << bits) - 1;
            expected.px[i] = uint8_t(((expected.px[i] * max + 127) / 255 * 255 + max / 2) / max);
        }
        const Diff d = compareRgb(ours, expected);
        EXPECT_LE(d.max, 1);
        EXPECT_LE(d.mean, 0.25);
        int transparent = 0;
        for (size_t i = 3; i < ours.px.size(); i += 4) transparent += ours.px[i] != 255;
        EXPECT_EQ(transparent, 0) << "no alpha field: opaque";
    }
}
