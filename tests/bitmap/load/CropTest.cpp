// Cutting rectangles: the crop load of every format into 24- and 16-bit bitmaps against the
// reference decode cut and resampled by the post-processing engine, the odd-rectangle rules,
// the rectangle mapping, the JPEG file crop through the test encoder, and refusals.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "MdBitmapCrop.h"
#include "MdBitmapLoad.h"
#include "fake_encoder.h"
#include "load_test_support.h"

using namespace fwtest;
using namespace loadtest;

namespace {

// The reference picture's rectangle, resampled by the engine to w x h, as R, G, B.
Image referenceCrop(AMCMHandle m, const Image& rgba, MRECT rc, int w, int h) {
    Bitmap src(0x37001777, rgba.width, rgba.height), dst(0x16001777, w, h);
    EXPECT_EQ(MdBitmapAlloc(&src.b), MOK);
    EXPECT_EQ(MdBitmapAlloc(&dst.b), MOK);
    fromRgba(&src.b, rgba);
    MRECT all{0, 0, w, h};
    EXPECT_EQ(MdBitmapCropRotFlipResample(m, &src.b, &dst.b, &rc, &all, 0, 0), MOK);
    return toImage(dst.b, 3);
}

Bytes readFile(const std::string& path) {
    Bytes out;
    FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) return out;
    int c;
    while ((c = std::fgetc(f)) != EOF) out.push_back(uint8_t(c));
    std::fclose(f);
    return out;
}

} // namespace

TEST(CropLoad, RectanglesOfEveryFormat) {
    Manager m;
    const Image rgb = makeSmooth(64, 48, 6);
    const std::pair<const char*, Bytes> cases[] = {
        {"bmp", encodeBmp24(rgb)}, {"png", encodePng(rgb)}, {"png interlaced", encodePng(rgb, true)},
        {"jpeg", encodeJpeg(rgb, 0, 95)}, {"gif", encodeGif(rgb)},
    };
    struct Cut {
        MRECT rc;
        int bw, bh;
    };
    const Cut cuts[] = {{{8, 4, 40, 28}, 0, 0}, {{0, 0, 64, 48}, 64, 48}, {{16, 16, 48, 48}, 16, 16}, {{2, 10, 62, 30}, 30, 10}};
    for (const auto& [name, file] : cases) {
        const Image ref = name[0] == 'j' ? referenceJpegRgba(file) : referenceRgba(file);
        for (const auto& cut : cuts) {
            SCOPED_TRACE(std::string(name) + " " + std::to_string(cut.rc.left) + "," + std::to_string(cut.rc.top));
            Bitmap b(0x16001777, cut.bw, cut.bh);
            MRECT rc = cut.rc;
            Stream st(file);
            ASSERT_EQ(MdBitmapLoadFilewithCrop(m.h, st.s, 64, 48, &rc, &b.b), MOK);
            const int w = int(b.b.lWidth), h = int(b.b.lHeight);
            EXPECT_EQ(w, cut.bw ? cut.bw : cut.rc.right - cut.rc.left);
            const Image want = referenceCrop(m.h, ref, cut.rc, w, h);
            const Diff d = compareRgb(toImage(b.b, 3), want);
            EXPECT_LT(d.mean, name[0] == 'g' ? 14.0 : 6.0);
        }
    }
}

TEST(CropLoad, OddRectanglesAndResampleRoad) {
    Manager m;
    const Image rgb = makeSmooth(100, 100, 2);
    const Bytes jpeg = encodeJpeg(rgb, 2, 90), png = encodePng(rgb);
    Bitmap b(0x16001777, 0, 0);
    MRECT rc{1, 1, 5, 5};
    Stream st(jpeg);
    ASSERT_EQ(MdBitmapLoadFilewithCrop(m.h, st.s, 100, 100, &rc, &b.b), MOK);
    EXPECT_EQ(rc.left, 0);
    EXPECT_EQ(rc.top, 1);
    EXPECT_EQ(rc.right, 4);
    EXPECT_EQ(rc.bottom, 5);
    // A PNG crop into a bitmap of another size comes back with the bitmap's full rectangle.
    Bitmap p(0x15000454, 20, 10);
    MRECT prc{10, 10, 50, 30};
    Stream ps(png);
    ASSERT_EQ(MdBitmapLoadFilewithCrop(m.h, ps.s, 100, 100, &prc, &p.b), MOK);
    EXPECT_EQ(prc.right, 20);
    EXPECT_EQ(prc.bottom, 10);
}

TEST(CropLoad, RectangleMapping) {
    MRECT out{};
    const MRECT r{10, 20, 30, 41};
    ASSERT_EQ(s_MGetDecRect(&r, 100, 100, 50, 200, &out), MOK);
    EXPECT_EQ(out.left, 5);
    EXPECT_EQ(out.top, 40);
    EXPECT_EQ(out.right, 15);
    EXPECT_EQ(out.bottom, 82);
    const MRECT edge{90, 90, 100, 100};
    ASSERT_EQ(s_MGetDecRect(&edge, 100, 100, 33, 33, &out), MOK);
    EXPECT_LE(out.right, 33);
    EXPECT_LE(out.bottom, 33);
    EXPECT_EQ(s_MGetDecRect(nullptr, 100, 100, 33, 33, &out), MERR_INVALID_PARAM);
}

TEST(CropLoad, Refusals) {
    Manager m;
    const Bytes png = encodePng(makeSmooth(20, 20, 1));
    Stream st(png);
    MRECT rc{0, 0, 10, 10};
    for (uint64_t colour : {0x37001777ull, 0x64000000ull, 0x44000000ull, 0x50000811ull}) {
        Bitmap b(colour, 0, 0);
        EXPECT_EQ(MdBitmapLoadFilewithCrop(m.h, st.s, 20, 20, &rc, &b.b), MERR_INVALID_PARAM) << colour;
    }
    Bitmap b(0x16001777, 0, 0);
    MRECT outside{10, 10, 21, 15}, empty{5, 5, 5, 9};
    EXPECT_EQ(MdBitmapLoadFilewithCrop(m.h, st.s, 20, 20, &outside, &b.b), MERR_INVALID_PARAM);
    EXPECT_EQ(MdBitmapLoadFilewithCrop(m.h, st.s, 20, 20, &empty, &b.b), MERR_INVALID_PARAM);
    EXPECT_EQ(MdBitmapLoadFilewithCrop(m.h, st.s, 0, 20, &rc, &b.b), MERR_INVALID_PARAM);
    EXPECT_EQ(MdBitmapLoadFilewithCrop2(m.h, "/nonexistent/a.png", 20, 20, &rc, &b.b), MERR_FILE_OPEN);
    EXPECT_EQ(b.b.pPlane[0], nullptr);
}

TEST(JpgFileCrop, BandsThroughTheEncoder) {
    Manager m;
    registerFakeEncoder(m.h);
    const Image rgb = makeSmooth(80, 60, 3);
    const Bytes jpeg = encodeJpeg(rgb, 2, 92);
    // 565 output (BMP): the file's rows are what the crop load makes of the same rectangle.
    for (MRECT cut : {MRECT{8, 5, 48, 42}, MRECT{1, 1, 5, 5}, MRECT{0, 50, 80, 60}}) {
        SCOPED_TRACE(std::to_string(cut.left) + "," + std::to_string(cut.top));
        MRECT rc = cut;
        Stream src(jpeg);
        MSTREAM dst = MStreamOpenFromMemoryBlock(nullptr, 4096);
        ASSERT_EQ(MdBitmapJpgFileCrop(m.h, src.s, 80, 60, &rc, MD_IMG_BMP, dst), MOK);
        if (cut.left == 1) EXPECT_EQ(rc.right, 4); // odd rectangle: a column and a row less
        Bytes out(size_t(MStreamGetSize(dst)));
        MStreamSeek(dst, MSTREAM_SEEK_BEGIN, 0);
        MStreamRead(dst, out.data(), int64_t(out.size()));
        MStreamClose(dst);
        const FakeFile f = parseFake(out);
        ASSERT_TRUE(f.ok);
        ASSERT_EQ(f.width, rc.right - rc.left);
        ASSERT_EQ(f.height, rc.bottom - rc.top);
        ASSERT_EQ(int64_t(f.rows.size()), f.height);
        const Image ref = referenceJpegRgba(jpeg);
        double sum = 0;
        for (int64_t y = 0; y < f.height; ++y)
            for (int64_t x = 0; x < f.width; ++x) {
                uint16_t w;
                std::memcpy(&w, &f.rows[size_t(y)][size_t(2 * x)], 2);
                sum += std::abs(int((w >> 11) << 3) - ref.at(int(rc.left + x), int(rc.top + y))[0]);
            }
        EXPECT_LT(sum / double(f.width * f.height), 8.0);
    }
}

TEST(JpgFileCrop, RefusalsAndPathVariant) {
    Manager m;
    registerFakeEncoder(m.h);
    const Image rgb = makeSmooth(32, 32, 3);
    const Bytes jpeg = encodeJpeg(rgb, 2, 92), png = encodePng(rgb);
    MRECT rc{0, 0, 16, 16};
    Stream src(jpeg), psrc(png);
    MSTREAM dst = MStreamOpenFromMemoryBlock(nullptr, 4096);
    EXPECT_EQ(MdBitmapJpgFileCrop(m.h, src.s, 32, 32, &rc, MD_IMG_GIF, dst), MERR_INVALID_PARAM);
    EXPECT_EQ(MdBitmapJpgFileCrop(m.h, psrc.s, 32, 32, &rc, MD_IMG_JPEG, dst), MERR_INVALID_PARAM);
    EXPECT_EQ(MStreamGetSize(dst), 0);
    MStreamClose(dst);

    const std::string dir = testing::TempDir();
    const std::string in = dir + "kpv_crop_in.jpg", out = dir + "kpv_crop_out.jpg";
    FILE* f = std::fopen(in.c_str(), "wb");
    std::fwrite(jpeg.data(), 1, jpeg.size(), f);
    std::fclose(f);
    EXPECT_EQ(MdBitmapJpgFileCrop2(m.h, "/nonexistent/x.jpg", 32, 32, &rc, MD_IMG_JPEG, out.c_str()), MERR_FILE_READ);
    ASSERT_EQ(MdBitmapJpgFileCrop2(m.h, in.c_str(), 32, 32, &rc, MD_IMG_JPEG, out.c_str()), MOK);
    const FakeFile ff = parseFake(readFile(out));
    EXPECT_TRUE(ff.ok);
    EXPECT_EQ(ff.quality, 90);
    // Without an encoder the old file stays as it was.
    Manager bare;
    EXPECT_NE(MdBitmapJpgFileCrop2(bare.h, in.c_str(), 32, 32, &rc, MD_IMG_JPEG, out.c_str()), MOK);
    EXPECT_TRUE(parseFake(readFile(out)).ok);
    std::remove(in.c_str());
    std::remove(out.c_str());
}
