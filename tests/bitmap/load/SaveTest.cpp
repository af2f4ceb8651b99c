// Saving through the test encoder component (fake_encoder.h): rows, qualities and properties
// as the encoder receives them, path variants that keep the old file on failure, and the JPEG
// re-encode with and without a byte budget, on small and big images.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "MdBitmapSave.h"
#include "MdImgInfo.h"
#include "fake_encoder.h"
#include "load_test_support.h"

using namespace fwtest;
using namespace loadtest;

namespace {

Bytes contents(MSTREAM s) {
    Bytes out(size_t(MStreamGetSize(s)));
    MStreamSeek(s, MSTREAM_SEEK_BEGIN, 0);
    MStreamRead(s, out.data(), int64_t(out.size()));
    return out;
}

struct Out {
    MSTREAM s = MStreamOpenFromMemoryBlock(nullptr, 4096);
    ~Out() { MStreamClose(s); }
};

Bytes readFile(const std::string& path) {
    Bytes out;
    FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) return out;
    for (int c; (c = std::fgetc(f)) != EOF;) out.push_back(uint8_t(c));
    std::fclose(f);
    return out;
}

} // namespace

TEST(BitmapSave, RowsAndQualityReachTheEncoder) {
    Manager m;
    registerFakeEncoder(m.h);
    Bitmap b(0x16001777, 13, 7);
    ASSERT_EQ(MdBitmapAlloc(&b.b), MOK);
    for (int y = 0; y < 7; ++y)
        for (int x = 0; x < 39; ++x) b.b.pPlane[0][y * b.b.lPitch[0] + x] = uint8_t(x + 40 * y);
    {
        Out o;
        ASSERT_EQ(MdBitmapSave(m.h, o.s, MD_IMG_BMP, &b.b), MOK);
        const FakeFile f = parseFake(contents(o.s));
        ASSERT_TRUE(f.ok);
        ASSERT_EQ(f.rows.size(), 7u);
        for (int y = 0; y < 7; ++y) EXPECT_EQ(f.rows[size_t(y)][5], uint8_t(5 + 40 * y));
    }
    for (auto [q, want] : {std::pair{1, 3}, {0, 3}, {55, 55}, {100, 100}}) {
        Out o;
        ASSERT_EQ(MdBitmapSaveEx(m.h, o.s, MD_IMG_JPEG, &b.b, q, 0x16001777), MOK);
        EXPECT_EQ(parseFake(contents(o.s)).quality, want) << q;
    }
    Out o;
    EXPECT_EQ(MdBitmapSaveEx(m.h, o.s, MD_IMG_JPEG, &b.b, 101, 0x16001777), MERR_INVALID_PARAM);
    EXPECT_EQ(MdBitmapSaveEx(m.h, o.s, MD_IMG_JPEG, &b.b, -1, 0x16001777), MERR_INVALID_PARAM);
    EXPECT_EQ(MdBitmapSave(m.h, o.s, MD_IMG_GIF, &b.b), MERR_UNSUPPORTED);
    EXPECT_EQ(MdBitmapSave(m.h, o.s, MD_IMG_WBMP, &b.b), MERR_UNSUPPORTED);
    EXPECT_EQ(MdBitmapSave(m.h, o.s, 0, &b.b), MERR_INVALID_PARAM);
    Manager bare; // no encoder: "no codec" arrives as 2
    EXPECT_EQ(MdBitmapSave(bare.h, o.s, MD_IMG_JPEG, &b.b), MERR_INVALID_PARAM);
}

TEST(BitmapSave, PathVariantsKeepTheOldFileOnFailure) {
    Manager m;
    registerFakeEncoder(m.h);
    Bitmap b(0x16001777, 4, 3);
    ASSERT_EQ(MdBitmapAlloc(&b.b), MOK);
    const std::string path = testing::TempDir() + "kpv_save_test.bin";
    ASSERT_EQ(MdBitmapSave2(m.h, path.c_str(), MD_IMG_BMP, &b.b), MOK);
    const Bytes first = readFile(path);
    EXPECT_TRUE(parseFake(first).ok);
    Manager bare;
    EXPECT_NE(MdBitmapSaveEx2(bare.h, path.c_str(), MD_IMG_JPEG, &b.b, 80, 0x16001777), MOK);
    EXPECT_EQ(readFile(path), first);
    EXPECT_EQ(MdBitmapSave2(m.h, "/nonexistent/dir/x.bin", MD_IMG_BMP, &b.b), MERR_FILE_WRITE);
    EXPECT_EQ(MdBitmapSave2(m.h, nullptr, MD_IMG_BMP, &b.b), MERR_INVALID_PARAM);
    std::remove(path.c_str());
}

TEST(FileResize, BudgetsSmallImage) {
    Manager m;
    registerFakeEncoder(m.h);
    const Bytes jpeg = encodeJpeg(makeSmooth(64, 48, 1), 2, 90);
    // Trial file: 36 header bytes + 32 rows of (8 + 32 * q / 100) bytes at 32 x 32.
    auto size = [](int q) { return 36 + 32 * (8 + 32 * q / 100); };
    struct Row {
        int64_t budget;
        MResult result;
        int64_t quality;
    };
    const Row rows[] = {{0, MOK, 90}, {size(90), MOK, 90}, {size(90) - 1, MOK, 80}, {size(40), MOK, 40},
                        {size(40) - 1, MERR_INVALID_PARAM, -1}};
    for (const auto& r : rows) {
        SCOPED_TRACE(r.budget);
        Stream src(jpeg);
        Out dst;
        g_fakeQualities.clear();
        ASSERT_EQ(MdFileResizeStream(m.h, src.s, 32, 32, r.budget, dst.s), r.result);
        const Bytes out = contents(dst.s);
        if (r.result != MOK) {
            EXPECT_TRUE(out.empty());
            EXPECT_EQ(g_fakeQualities, (std::vector<int64_t>{90, 80, 70, 60, 50, 40}));
            continue;
        }
        const FakeFile f = parseFake(out);
        ASSERT_TRUE(f.ok);
        EXPECT_EQ(f.quality, r.quality);
        EXPECT_EQ(f.width, 32);
        EXPECT_EQ(f.rows.size(), 32u);
    }
    const Bytes pngFile = encodePng(makeSmooth(8, 8, 1));
    Stream png(pngFile);
    Out dst;
    EXPECT_EQ(MdFileResizeStream(m.h, png.s, 8, 8, 0, dst.s), MERR_INVALID_PARAM);
}

TEST(FileResize, BigImageEstimatesOnHalfSizeThenStreamsBands) {
    Manager m;
    registerFakeEncoder(m.h);
    const Bytes jpeg = encodeJpeg(makeSmooth(320, 240, 1), 2, 85); // 230400 bytes of pixels: big
    // Full size 200 x 100: a final file is 36 + 100 * (8 + 2q) bytes; the half-size estimate
    // (100 x 50: 4 * (436 + 50q)) first fits at 60, so the final search runs 70, 65, 60.
    const int64_t budget = 4 * (436 + 50 * 60);
    Stream src(jpeg);
    Out dst;
    g_fakeQualities.clear();
    ASSERT_EQ(MdFileResizeStream(m.h, src.s, 200, 100, budget, dst.s), MOK);
    const FakeFile f = parseFake(contents(dst.s));
    ASSERT_TRUE(f.ok);
    EXPECT_EQ(f.rows.size(), 100u); // 100 is no multiple of 16: the last band is short
    EXPECT_EQ(f.quality, 60);
    ASSERT_GE(g_fakeQualities.size(), 3u);
    EXPECT_EQ(g_fakeQualities, (std::vector<int64_t>{90, 80, 70, 60, 70, 65, 60}));
    EXPECT_EQ(s_IsBigFile(320, 240, 24), 1);
    EXPECT_EQ(s_IsBigFile(100, 100, 24), 0);
    EXPECT_EQ(s_IsBigFile(INT64_MAX / 2, 3, 24), 1);
    EXPECT_EQ(s_IsVaildQuality(40), 1);
    EXPECT_EQ(s_IsVaildQuality(39), 0);
    EXPECT_EQ(s_IsVaildQuality(-5), 1); // tested unsigned
}

TEST(FileResize, PathVariant) {
    Manager m;
    registerFakeEncoder(m.h);
    const Bytes jpeg = encodeJpeg(makeSmooth(40, 30, 1), 2, 90);
    const std::string in = testing::TempDir() + "kpv_resize_in.jpg", out = testing::TempDir() + "kpv_resize_out.bin";
    FILE* f = std::fopen(in.c_str(), "wb");
    std::fwrite(jpeg.data(), 1, jpeg.size(), f);
    std::fclose(f);
    ASSERT_EQ(MdFileResize(m.h, in.c_str(), 20, 15, 0, out.c_str()), MOK);
    EXPECT_EQ(parseFake(readFile(out)).rows.size(), 15u);
    EXPECT_EQ(MdFileResize(m.h, "/nonexistent/a.jpg", 20, 15, 0, out.c_str()), MERR_FILE_OPEN);
    EXPECT_EQ(MdFileResize(m.h, in.c_str(), 0, 15, 0, out.c_str()), MERR_INVALID_PARAM);
    std::remove(in.c_str());
    std::remove(out.c_str());
}
