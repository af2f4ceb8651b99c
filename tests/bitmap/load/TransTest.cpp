// Loading over a background: the blend arithmetic of the line mergers, transparent GIF and PNG
// files blended into 24- and 16-bit backgrounds against a model of the blend over the reference
// decode, targets that keep their own alpha, and the refusals.
#include <gtest/gtest.h>

#include <string>

#include "MdBitmapLoad.h"
#include "MdBitmapTrans.h"
#include "load_test_support.h"

using namespace fwtest;
using namespace loadtest;

namespace {

int model(int s, int d, int a) { return a == 255 ? s : a == 0 ? d : uint8_t(d + (((s - d) * a) >> 8)); }

uint16_t word(const MBITMAP& b, int x, int y) {
    uint16_t w;
    std::memcpy(&w, b.pPlane[0] + y * b.lPitch[0] + 2 * x, 2);
    return w;
}

void fillBytes(MBITMAP* b, uint8_t v) {
    for (int64_t y = 0; y < b->lHeight; ++y) std::memset(b->pPlane[0] + y * b->lPitch[0], v, size_t(b->lPitch[0]));
}

} // namespace

TEST(MergeLines, BlendArithmetic) {
    // B, G, R, A source pixels: opaque, clear, half (0 over 255 gives 127), and a darkening.
    const uint8_t src[16] = {10, 20, 30, 255, 10, 20, 30, 0, 0, 0, 0, 128, 200, 100, 50, 64};
    uint8_t rgb[12], bgr[12];
    std::memset(rgb, 255, 12);
    std::memset(bgr, 255, 12);
    s_MergerToRGB888_Line(4, src, rgb, 1);
    s_MergerToRGB888_Line(4, src, bgr, 0);
    const uint8_t wantRgb[12] = {30, 20, 10, 255, 255, 255, 127, 127, 127, uint8_t(model(50, 255, 64)),
                                 uint8_t(model(100, 255, 64)), uint8_t(model(200, 255, 64))};
    for (int i = 0; i < 12; ++i) EXPECT_EQ(rgb[i], wantRgb[i]) << i;
    for (int p = 0; p < 4; ++p)
        for (int c = 0; c < 3; ++c) EXPECT_EQ(bgr[p * 3 + c], wantRgb[p * 3 + 2 - c]) << p;

    // 16-bit: opaque builds the word from the source, clear keeps it, half blends the fields.
    uint16_t w565[3] = {0xFFFF, 0x1234, 0xFFFF};
    s_MergerToRGB565_Line(3, src, reinterpret_cast<uint8_t*>(w565), 0);
    EXPECT_EQ(w565[0], ((30 << 8) & 0xF800) | ((20 * 8) & 0x7E0) | (10 >> 3));
    EXPECT_EQ(w565[1], 0x1234);
    EXPECT_EQ(w565[2], ((127 * 256) & 0xF800) | ((model(0, 252, 128) * 8) & 0x7E0) | (127 >> 3));
    uint16_t w2 = 0;
    s_MergerToRGB565_Line(1, src, reinterpret_cast<uint8_t*>(&w2), 1);
    EXPECT_EQ(w2, ((10 << 8) & 0xF800) | ((20 * 8) & 0x7E0) | (30 >> 3));

    uint8_t line[4] = {};
    EXPECT_EQ(s_MergerLine(1, line, 0x16001777, nullptr, 0x37000777), MERR_INVALID_PARAM);
    EXPECT_EQ(s_MergerLine(1, line, 0x16001777, src, 0x37001777), MERR_INVALID_PARAM);
    EXPECT_EQ(s_MergerLine(1, line, 0x64000000, src, 0x37000777), MERR_INVALID_PARAM);
    EXPECT_EQ(s_MergerBuffer(1, 1, line, 0x37001777, 4, src, 0x37000777, 4), MERR_INVALID_PARAM);
}

TEST(MergeLines, ByteSwapOnlyForBgra) {
    Bitmap b(0x37001777, 3, 2);
    ASSERT_EQ(MdBitmapAlloc(&b.b), MOK);
    b.b.pPlane[0][0] = 1;
    EXPECT_EQ(MdBitmapBGRA2RGBA(&b.b), MERR_INVALID_PARAM);
    EXPECT_EQ(b.b.pPlane[0][0], 1);
    b.b.dwPixelArrayFormat = 0x37000777;
    b.b.pPlane[0][2] = 9;
    EXPECT_EQ(MdBitmapBGRA2RGBA(&b.b), MOK);
    EXPECT_EQ(b.b.pPlane[0][0], 9);
    EXPECT_EQ(b.b.pPlane[0][2], 1);
    EXPECT_EQ(MdBitmapBGRA2RGBA(nullptr), MERR_INVALID_PARAM);
}

TEST(TransLoad, TransparentGifKeepsTheBackground) {
    Manager m;
    // Index 0 is transparent; the frame covers part of the canvas.
    const Bytes gif = encodeGifFrame(20, 14, 4, 3, 10, 8, false, 0);
    for (uint64_t colour : {0x15000454ull, 0x16001777ull}) {
        SCOPED_TRACE(colour);
        Bitmap b(colour, 20, 14);
        ASSERT_EQ(MdBitmapAlloc(&b.b), MOK);
        fillBytes(&b.b, 0x5A);
        Stream st(gif);
        ASSERT_EQ(MdBitmapLoadWithTransColor(m.h, st.s, 0, &b.b), MOK);
        for (int y = 0; y < 14; ++y)
            for (int x = 0; x < 20; ++x) {
                const bool in = x >= 4 && x < 14 && y >= 3 && y < 11;
                const int g = in ? gifGrey(x - 4, y - 3) : -1;
                const bool keep = !in || g == 0;
                if (colour == 0x15000454) {
                    const uint16_t want = keep ? 0x5A5A : uint16_t(((g << 8) & 0xF800) | ((g * 8) & 0x7E0) | (g >> 3));
                    ASSERT_EQ(word(b.b, x, y), want) << x << "," << y;
                } else {
                    ASSERT_EQ(b.b.pPlane[0][y * b.b.lPitch[0] + 3 * x], keep ? 0x5A : g) << x << "," << y;
                }
            }
    }
}

TEST(TransLoad, PngAlphaBlendsLikeTheModel) {
    Manager m;
    Image rgba = makeImage(23, 17, 4, 9);
    for (size_t i = 3; i < rgba.px.size(); i += 4) rgba.px[i] = uint8_t(i * 7); // every alpha, 0 and 255 included
    rgba.px[3] = 0;
    rgba.px[7] = 255;
    const Bytes png = encodePng(rgba);
    const Image ref = referenceRgba(png);
    Bitmap b(0x16001777, 0, 0);
    ASSERT_EQ(MdBitmapAlloc(&b.b), MERR_UNSUPPORTED); // size unknown until the load
    b.b.lWidth = 23;
    b.b.lHeight = 17;
    ASSERT_EQ(MdBitmapAlloc(&b.b), MOK);
    fillBytes(&b.b, 200);
    Stream st(png);
    ASSERT_EQ(MdBitmapLoadWithTransColor(m.h, st.s, 0, &b.b), MOK);
    for (int y = 0; y < 17; ++y)
        for (int x = 0; x < 23; ++x)
            for (int c = 0; c < 3; ++c)
                ASSERT_EQ(b.b.pPlane[0][y * b.b.lPitch[0] + 3 * x + c], model(ref.at(x, y)[c], 200, ref.at(x, y)[3]))
                    << x << "," << y << " " << c;

    // Fitted to half size: decoded, resampled and then blended; close to the model.
    Bitmap half(0x16000777, 12, 9);
    ASSERT_EQ(MdBitmapAlloc(&half.b), MOK);
    fillBytes(&half.b, 0);
    Stream st2(png);
    ASSERT_EQ(MdBitmapLoadWithTransColor(m.h, st2.s, 0, &half.b), MOK);
    double sum = 0;
    for (int y = 0; y < 9; ++y)
        for (int x = 0; x < 12; ++x) {
            const auto* p = ref.at(x * 23 / 12, y * 17 / 9);
            sum += std::abs(int(half.b.pPlane[0][y * half.b.lPitch[0] + 3 * x + 2]) - model(p[0], 0, p[3]));
        }
    EXPECT_LT(sum / (12 * 9), 60.0); // a noisy picture: only a gross fault stands out
}

TEST(TransLoad, TargetsWithTheirOwnAlpha) {
    Manager m;
    const Bytes png = encodePng(makeImage(9, 5, 4, 2));
    const Image ref = referenceRgba(png);
    {
        Bitmap b(0x37001777, 0, 0);
        Stream st(png);
        ASSERT_EQ(MdBitmapLoadWithTransColor(m.h, st.s, 0, &b.b), MOK);
        EXPECT_EQ(compareRgb(toImage(b.b, 4), ref).max, 0);
        EXPECT_EQ(b.b.pPlane[0][3], ref.at(0, 0)[3]);
    }
    {
        Bitmap b(0x37005777, 0, 0);
        Stream st(png);
        ASSERT_EQ(MdBitmapLoadWithTransColor(m.h, st.s, 0, &b.b), MOK);
        EXPECT_EQ(b.b.dwPixelArrayFormat, 0x37005777u);
        EXPECT_EQ(compareRgb(toImage(b.b, 4), ref).max, 0); // R, G, B, A in memory
    }
}

TEST(TransLoad, OpaqueFilesAndRefusals) {
    Manager m;
    const Image rgb = makeSmooth(16, 12, 4);
    {
        Bitmap b(0x16001777, 0, 0);
        const Bytes file_st = encodeBmp24(rgb);
        Stream st(file_st);
        ASSERT_EQ(MdBitmapLoadWithTransColor(m.h, st.s, 0, &b.b), MOK);
        EXPECT_EQ(compareRgb(toImage(b.b, 3), rgb).max, 0);
    }
    Bitmap grey(0x64000000, 0, 0);
    const Bytes gif = encodeGifFrame(8, 8, 0, 0, 8, 8, false, 0);
    Stream st(gif);
    EXPECT_EQ(MdBitmapLoadWithTransColor(m.h, st.s, 0, &grey.b), MERR_INVALID_PARAM);
    EXPECT_EQ(grey.b.pPlane[0], nullptr);
    Bitmap yuv(0x50000811, 0, 0);
    EXPECT_EQ(MdBitmapLoadWithTransColor(m.h, st.s, 0, &yuv.b), MERR_UNSUPPORTED);
    EXPECT_EQ(MdBitmapLoadWithTransColor(m.h, st.s, 0x80, &yuv.b), MERR_INVALID_PARAM);
    EXPECT_EQ(MdBitmapLoadWithTransColor2(m.h, "/nonexistent/x.gif", 0, &grey.b), MERR_FILE_OPEN);
    EXPECT_EQ(MdBitmapLoadWithTransColor2(m.h, nullptr, 0, &grey.b), MERR_INVALID_PARAM);
}

TEST(TransLoad, EveryPrefixFailsCleanly) {
    Manager m;
    const std::pair<const char*, Bytes> cases[] = {
        {"gif", encodeGifFrame(30, 20, 5, 4, 19, 13, true, 0)},
        {"png", encodePng(makeImage(19, 13, 4, 3), true)},
    };
    for (const auto& [name, file] : cases) {
        SCOPED_TRACE(name);
        for (size_t n = 0; n < file.size(); ++n) {
            Bytes prefix(file.begin(), file.begin() + ptrdiff_t(n));
            Bitmap b(0x15001454, 0, 0);
            Stream st(prefix);
            if (MdBitmapLoadWithTransColor(m.h, st.s, 0, &b.b) != MOK) EXPECT_EQ(b.b.pPlane[0], nullptr) << n;
        }
    }
}
