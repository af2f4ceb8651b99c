// Animated GIF decoding onto a canvas, checked frame by frame against giflib's decode composited
// by a reference model, on generated animations.
#include <gtest/gtest.h>

#include "AGIFTestSupport.h"
#include "MdAGIF.h"

using namespace agiftest;

namespace {

constexpr MUInt64 kRGBA = 0x37001777;

struct Canvas {
    std::vector<uint8_t> px;
    MBITMAP bmp{};
    Canvas(int w, int h, int pitch = 0) {
        if (pitch == 0) pitch = w * 4;
        px.assign(size_t(pitch) * h, 0);
        bmp = {kRGBA, w, h, {pitch, 0, 0}, {px.data(), nullptr, nullptr}};
    }
    std::vector<uint8_t> packed() const {
        std::vector<uint8_t> out;
        for (MInt64 y = 0; y < bmp.lHeight; ++y)
            out.insert(out.end(), px.begin() + y * bmp.lPitch[0], px.begin() + y * bmp.lPitch[0] + bmp.lWidth * 4);
        return out;
    }
};

// Decodes every frame it can; returns the canvases and the first failure (0 when all went well).
std::vector<std::vector<uint8_t>> decodeAll(const Bytes& file, int w, int h, MResult* firstFailure, int pitch = 0,
                                            int64_t* countOut = nullptr) {
    Manager m;
    Stream st(file);
    std::vector<std::vector<uint8_t>> out;
    AGIFDecodeHandle dec = nullptr;
    MInt64 count = 0;
    *firstFailure = MdUtilsAGIFDecode_Create(m.h, st.s, kRGBA, nullptr, &count, &dec);
    if (countOut) *countOut = count;
    if (*firstFailure != MOK) {
        EXPECT_EQ(dec, nullptr);
        return out;
    }
    Canvas c(w, h, pitch);
    for (MInt64 i = 0; i < count; ++i) {
        MResult r = MdUtilsAGIFDecode_DecodeFrame(dec, &c.bmp);
        if (r != MOK) {
            *firstFailure = r;
            break;
        }
        out.push_back(c.packed());
    }
    MdUtilsAGIFDecode_Destroy(dec);
    return out;
}

// An animation that goes through every disposal method, with transparency, local palettes,
// interlaced frames and frames partly and wholly outside the screen.
Animation mixedAnimation(uint32_t seed) {
    Animation a;
    a.width = 37, a.height = 29, a.loop = 0;
    a.global = randomPalette(seed);
    Frame f0 = randomFrame(0, 0, 37, 29, seed + 1);
    Frame f1 = randomFrame(5, 3, 20, 17, seed + 2);
    f1.disposal = 2, f1.transparent = 7;
    Frame f2 = randomFrame(10, 8, 12, 19, seed + 3); // reaches past the bottom
    f2.disposal = 3, f2.localPalette = true, f2.rgb = randomPalette(seed + 30), f2.transparent = 3;
    Frame f3 = randomFrame(1, 1, 30, 11, seed + 4);
    f3.disposal = 3, f3.interlace = true;
    Frame f4 = randomFrame(30, 20, 16, 16, seed + 5); // past the right and bottom edges
    f4.disposal = 1, f4.transparent = 0;
    Frame f5 = randomFrame(60, 40, 4, 4, seed + 6); // wholly outside
    Frame f6 = randomFrame(2, 2, 9, 23, seed + 7, 16);
    f6.interlace = true, f6.localPalette = true, f6.rgb = randomPalette(seed + 60);
    a.frames = {f0, f1, f2, f3, f4, f5, f6};
    return a;
}

} // namespace

TEST(AGIFDecode, EveryFrameMatchesTheReferenceComposition) {
    for (uint32_t seed : {1u, 77u, 901u}) {
        const Bytes file = writeGif(mixedAnimation(seed));
        const auto ref = referenceFrames(file);
        ASSERT_EQ(ref.size(), 7u);
        MResult r = 0;
        int64_t count = 0;
        const auto got = decodeAll(file, 37, 29, &r, 0, &count);
        EXPECT_EQ(r, MOK);
        EXPECT_EQ(count, 7);
        ASSERT_EQ(got.size(), ref.size());
        for (size_t i = 0; i < got.size(); ++i) EXPECT_EQ(got[i], ref[i]) << "seed " << seed << " frame " << i;
    }
}

TEST(AGIFDecode, FirstFrameDrawsOverTheCallersCanvas) {
    Animation a;
    a.width = 8, a.height = 6;
    a.global = randomPalette(5);
    Frame f = randomFrame(2, 1, 3, 3, 6);
    f.transparent = f.idx[0];
    a.frames = {f};
    const Bytes file = writeGif(a);
    Manager m;
    Stream st(file);
    AGIFDecodeHandle dec = nullptr;
    ASSERT_EQ(MdUtilsAGIFDecode_Create(m.h, st.s, kRGBA, nullptr, nullptr, &dec), MOK);
    Canvas c(8, 6);
    std::fill(c.px.begin(), c.px.end(), 0x5A);
    ASSERT_EQ(MdUtilsAGIFDecode_DecodeFrame(dec, &c.bmp), MOK);
    EXPECT_EQ(c.px[0], 0x5A);                           // outside the frame
    EXPECT_EQ(c.px[size_t((1 * 8 + 2) * 4)], 0x5A);     // the frame's transparent first pixel
    EXPECT_EQ(c.px[size_t((1 * 8 + 3) * 4 + 3)], 255);  // an opaque one
    // One frame more than the file holds fails and leaves the canvas alone.
    const auto before = c.px;
    EXPECT_NE(MdUtilsAGIFDecode_DecodeFrame(dec, &c.bmp), MOK);
    EXPECT_EQ(c.px, before);
    MdUtilsAGIFDecode_Destroy(dec);
}

TEST(AGIFDecode, PaddedCanvasRowsAndRestoreToPrevious) {
    // Rows padded beyond 4 bytes a pixel: the copy kept for disposal 3 must be as long as the
    // caller's plane, or the restore would read past it.
    const Bytes file = writeGif(mixedAnimation(44));
    const auto ref = referenceFrames(file);
    MResult r = 0;
    const auto got = decodeAll(file, 37, 29, &r, 37 * 4 + 20);
    EXPECT_EQ(r, MOK);
    ASSERT_EQ(got.size(), ref.size());
    for (size_t i = 0; i < got.size(); ++i) EXPECT_EQ(got[i], ref[i]) << i;
}

TEST(AGIFDecode, RefusesBadArgumentsAndChangedCanvases) {
    const Bytes file = writeGif(mixedAnimation(3));
    Manager m;
    Stream st(file);
    AGIFDecodeHandle dec = reinterpret_cast<AGIFDecodeHandle>(1);
    EXPECT_EQ(MdUtilsAGIFDecode_Create(nullptr, st.s, kRGBA, nullptr, nullptr, &dec), MERR_INVALID_PARAM);
    EXPECT_EQ(dec, nullptr);
    EXPECT_EQ(MdUtilsAGIFDecode_Create(m.h, st.s, kRGBA, nullptr, nullptr, nullptr), MERR_INVALID_PARAM);
    EXPECT_EQ(MdUtilsAGIFDecode_Create(m.h, st.s, 0x12345678, nullptr, nullptr, &dec), MERR_UNSUPPORTED);
    EXPECT_EQ(dec, nullptr);
    EXPECT_EQ(MdUtilsAGIFDecode_DecodeFrame(nullptr, nullptr), MERR_INVALID_PARAM);
    EXPECT_EQ(MdUtilsAGIFDecode_Destroy(nullptr), MOK);

    ASSERT_EQ(MdUtilsAGIFDecode_Create(m.h, st.s, kRGBA, nullptr, nullptr, &dec), MOK);
    Canvas shortRows(37, 29, 37 * 4 - 4);
    EXPECT_EQ(MdUtilsAGIFDecode_DecodeFrame(dec, &shortRows.bmp), MERR_INVALID_PARAM);
    Canvas c(37, 29);
    ASSERT_EQ(MdUtilsAGIFDecode_DecodeFrame(dec, &c.bmp), MOK);
    Canvas taller(37, 40);
    EXPECT_EQ(MdUtilsAGIFDecode_DecodeFrame(dec, &taller.bmp), MERR_INVALID_PARAM);
    MBITMAP otherColour = c.bmp;
    otherColour.dwPixelArrayFormat = 0x37000777;
    EXPECT_EQ(MdUtilsAGIFDecode_DecodeFrame(dec, &otherColour), MERR_INVALID_PARAM);
    EXPECT_EQ(MdUtilsAGIFDecode_DecodeFrame(dec, &c.bmp), MOK);
    MdUtilsAGIFDecode_Destroy(dec);
}

TEST(AGIFDecode, AScreenFarLargerThanItsFileIsRefusedBeforeACanvasIsMade) {
    // A screen and a frame of side x side whose data is one pixel, `padding` bytes before the end.
    auto file = [](uint8_t sideHigh, size_t padding) {
        Bytes f = {'G', 'I', 'F', '8', '9', 'a', 0, sideHigh, 0, sideHigh, 0x80, 0, 0, 0, 0, 0, 255, 255, 255,
                   0x2C, 0, 0, 0, 0, 0, sideHigh, 0, sideHigh, 0x00, 2, 2, 0x44, 0x01, 0};
        f.insert(f.end(), padding, 0);
        f.push_back(0x3B);
        return f;
    };
    auto create = [](const Bytes& f) {
        Manager m;
        Stream st(f);
        AGIFDecodeHandle dec = nullptr;
        MInt64 count = 0;
        const MResult r = MdUtilsAGIFDecode_Create(m.h, st.s, kRGBA, nullptr, &count, &dec);
        EXPECT_EQ(dec != nullptr, r == MOK);
        MdUtilsAGIFDecode_Destroy(dec);
        return r;
    };
    // 35 bytes declaring 16,384 x 16,384: the caller's canvas would take a gigabyte.
    EXPECT_EQ(create(file(0x40, 0)), MERR_UNSUPPORTED);
    EXPECT_EQ(create(file(0x08, 0)), MERR_UNSUPPORTED);
    // A file long enough to fill its 2,048 x 2,048 screen keeps it.
    MResult r = 0;
    EXPECT_EQ(decodeAll(file(0x08, 1024), 4, 4, &r).size(), 1u);
    EXPECT_EQ(r, MOK);
}

TEST(AGIFDecode, SmallerCanvasThanTheScreenIsNeverOverrun) {
    // Frames reaching outside a canvas that is smaller than the logical screen are cut at its edge.
    const Bytes file = writeGif(mixedAnimation(12));
    MResult r = 0;
    const auto got = decodeAll(file, 11, 7, &r);
    EXPECT_EQ(r, MOK);
    EXPECT_EQ(got.size(), 7u);
}

TEST(AGIFDecode, ReducedOutputSize) {
    const Bytes file = writeGif(mixedAnimation(8));
    Manager m;
    Stream st(file);
    AGIFDecodeHandle dec = nullptr;
    MInt64 want[2] = {18, 100}, count = 0;
    ASSERT_EQ(MdUtilsAGIFDecode_Create(m.h, st.s, kRGBA, want, &count, &dec), MOK);
    EXPECT_EQ(count, 7);
    EXPECT_LE(want[0], 18);
    EXPECT_LT(want[1], 29);
    Canvas c{int(want[0]), int(want[1])};
    for (int i = 0; i < 7; ++i) EXPECT_EQ(MdUtilsAGIFDecode_DecodeFrame(dec, &c.bmp), MOK) << i;
    MdUtilsAGIFDecode_Destroy(dec);
}

TEST(AGIFDecode, BrokenLaterFrameKeepsTheEarlierOnes) {
    Animation a = mixedAnimation(21);
    const Bytes whole = writeGif(a);
    const auto ref = referenceFrames(whole);
    // Cut the file inside the fourth frame's image data.
    a.frames.resize(3);
    const size_t threeFrames = writeGif(a).size() - 1; // without the trailer
    const Bytes cut(whole.begin(), whole.begin() + long(threeFrames + 40));
    MResult r = 0;
    const auto got = decodeAll(cut, 37, 29, &r);
    ASSERT_GE(got.size(), 3u);
    for (size_t i = 0; i < 3; ++i) EXPECT_EQ(got[i], ref[i]) << i;
}

TEST(AGIFDecode, EveryPrefixOfATruncatedFile) {
    const Bytes file = writeGif(mixedAnimation(99));
    const auto ref = referenceFrames(file);
    for (size_t n = 0; n < file.size(); ++n) {
        const Bytes cut(file.begin(), file.begin() + long(n));
        MResult r = 0;
        const auto got = decodeAll(cut, 37, 29, &r);
        ASSERT_LE(got.size(), ref.size()) << n;
        // Whatever a prefix yields, the frames before the last one delivered are complete.
        for (size_t i = 0; i + 1 < got.size(); ++i) ASSERT_EQ(got[i], ref[i]) << "prefix " << n << " frame " << i;
    }
}
