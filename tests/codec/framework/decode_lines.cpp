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
        expectRgbaEqual(ours, referenceRgba(c.file), c.tolerance, c.mean, c.name);
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
        expectRgbaEqual(ours, referenceJpegRgba(jpg), sub == 1 || sub == 2 ? 20 : 12, 1.5, ("jpeg sub " + std::to_string(sub)).c_str());
    }
    const Bytes grey = encodeJpeg(makeImage(40, 24, 1, 9), 3, 95);
    Image ours;
    ASSERT_EQ(decodeLines(m.h, grey, kGrey, 1, &ours), MOK);
    const Image ref = referenceRgba(grey);
    for (int y = 0; y < ours.height; ++y)
        for (int x = 0; x < ours.width; ++x) ASSERT_NEAR(ours.at(x, y)[0], ref.at(x, y)[0], 3) << x << "," << y;
}
