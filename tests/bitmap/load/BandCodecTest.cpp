// Band decoder and band encoder wrappers: bands of any height against the one-call load, the
// stream position given back, refusals past the end, short bands only at the bottom of an
// encode, and truncated files.
#include <gtest/gtest.h>

#include "MdBandCodec.h"
#include "MdBitmapLoad.h"
#include "fake_encoder.h"
#include "load_test_support.h"

using namespace fwtest;
using namespace loadtest;

namespace {

constexpr uint64_t kRGBA = 0x37001777, kRGB24 = 0x16001777;

Bytes contents(MSTREAM s) {
    Bytes out(size_t(MStreamGetSize(s)));
    MStreamSeek(s, MSTREAM_SEEK_BEGIN, 0);
    MStreamRead(s, out.data(), int64_t(out.size()));
    return out;
}

} // namespace

TEST(BandDecoder, BandsOfAnyHeightGiveTheOneCallPicture) {
    Manager m;
    const Bytes jpeg = encodeJpeg(makeSmooth(50, 45, 2), 2);
    for (auto [w, h] : {std::pair{50, 45}, std::pair{25, 22}}) {
        Bitmap once(kRGBA, w, h);
        {
            Stream st(jpeg);
            ASSERT_EQ(MdBitmapLoad(m.h, st.s, 0, &once.b), MOK);
        }
        const Image want = toImage(once.b, 4);
        for (int band : {16, 10, 1, 64}) {
            SCOPED_TRACE(std::to_string(w) + " band " + std::to_string(band));
            Stream st(jpeg);
            MStreamSeek(st.s, MSTREAM_SEEK_BEGIN, 5);
            const int64_t size[2] = {w, h};
            MdDecoderHandle d = nullptr;
            ASSERT_EQ(MdDecoder_Create(m.h, st.s, 0, w == 50 ? nullptr : size, kRGBA, &d), MOK);
            Bitmap b(kRGBA, w, band);
            ASSERT_EQ(MdBitmapAlloc(&b.b), MOK);
            Image got{w, h, 4, std::vector<uint8_t>(size_t(w * h * 4))};
            for (int top = 0; top < h; top += band) {
                ASSERT_EQ(MdDecoder_Scanlines(d, &b.b), MOK) << top;
                const Image part = toImage(b.b, 4);
                const int rows = std::min(band, h - top);
                std::copy(part.px.begin(), part.px.begin() + rows * w * 4, got.px.begin() + top * w * 4);
            }
            EXPECT_EQ(MdDecoder_Scanlines(d, &b.b), MERR_INVALID_PARAM); // past the last line
            EXPECT_EQ(MdDecoder_Destroy(d), MOK);
            EXPECT_EQ(MStreamTell(st.s), 5);
            EXPECT_EQ(got.px, want.px);
        }
    }
}

TEST(BandDecoder, RefusesOtherFormatsAndMismatchedBitmaps) {
    Manager m;
    const Bytes jpeg = encodeJpeg(makeSmooth(16, 16, 1), 0), png = encodePng(makeSmooth(16, 16, 1));
    Stream sj(jpeg), sp(png);
    MdDecoderHandle d = nullptr;
    EXPECT_EQ(MdDecoder_Create(m.h, sp.s, 0, nullptr, kRGBA, &d), MERR_INVALID_PARAM);
    EXPECT_EQ(MdDecoder_Create(m.h, sj.s, 0, nullptr, 0, &d), MERR_INVALID_PARAM);
    const int64_t bad[2] = {0, 16};
    EXPECT_EQ(MdDecoder_Create(m.h, sj.s, 0, bad, kRGBA, &d), MERR_INVALID_PARAM);
    EXPECT_EQ(d, nullptr);
    ASSERT_EQ(MdDecoder_Create(m.h, sj.s, 2, nullptr, kRGBA, &d), MOK);
    Bitmap otherColour(kRGB24, 16, 16), otherWidth(kRGBA, 15, 16), noPlanes(kRGBA, 16, 16);
    ASSERT_EQ(MdBitmapAlloc(&otherColour.b), MOK);
    ASSERT_EQ(MdBitmapAlloc(&otherWidth.b), MOK);
    EXPECT_EQ(MdDecoder_Scanlines(d, &otherColour.b), MERR_INVALID_PARAM);
    EXPECT_EQ(MdDecoder_Scanlines(d, &otherWidth.b), MERR_INVALID_PARAM);
    EXPECT_EQ(MdDecoder_Scanlines(d, &noPlanes.b), MERR_INVALID_PARAM);
    EXPECT_EQ(MdDecoder_Scanlines(nullptr, &otherWidth.b), MERR_INVALID_PARAM);
    EXPECT_EQ(MdDecoder_Destroy(d), MOK);
    EXPECT_EQ(MdDecoder_Destroy(nullptr), MOK);
}

TEST(BandDecoder, EveryPrefixOfATruncatedFileFailsCleanly) {
    Manager m;
    const Bytes jpeg = encodeJpeg(makeSmooth(20, 36, 5), 1, 60);
    for (size_t n = 0; n < jpeg.size(); ++n) {
        const Bytes cut(jpeg.begin(), jpeg.begin() + long(n));
        Stream st(cut);
        MdDecoderHandle d = nullptr;
        if (MdDecoder_Create(m.h, st.s, 0, nullptr, kRGBA, &d) != MOK) {
            ASSERT_EQ(d, nullptr) << n;
            continue;
        }
        Bitmap b(kRGBA, 20, 16);
        ASSERT_EQ(MdBitmapAlloc(&b.b), MOK);
        for (int i = 0; i < 3 && MdDecoder_Scanlines(d, &b.b) == MOK; ++i) {
        }
        EXPECT_EQ(MdDecoder_Destroy(d), MOK);
    }
}

TEST(BandEncoder, BandsReachTheEncoderAndOnlyTheLastMayBeShort) {
    Manager m;
    registerFakeEncoder(m.h);
    MSTREAM out = MStreamOpenFromMemoryBlock(nullptr, 4096);
    const int64_t size[2] = {12, 40};
    MdEncoderHandle e = nullptr;
    g_fakeQualities.clear();
    ASSERT_EQ(MdEncoder_Create(m.h, out, 2, size, kRGB24, &e), MOK);
    Bitmap band(kRGB24, 12, 16), shortBand(kRGB24, 12, 10), wide(kRGB24, 13, 16), rgba(kRGBA, 12, 16);
    for (Bitmap* b : {&band, &shortBand, &wide, &rgba}) ASSERT_EQ(MdBitmapAlloc(&b->b), MOK);
    auto fill = [&](Bitmap& b, int top) {
        for (int64_t y = 0; y < b.b.lHeight; ++y)
            for (int x = 0; x < 36; ++x) b.b.pPlane[0][y * b.b.lPitch[0] + x] = uint8_t(x + 7 * (top + y));
    };
    fill(band, 0);
    ASSERT_EQ(MdEncoder_Scanlines(e, &band.b), MOK);
    EXPECT_EQ(MdEncoder_Scanlines(e, &shortBand.b), MERR_UNSUPPORTED); // 16 + 10 < 40: not the last
    EXPECT_EQ(MdEncoder_Scanlines(e, &wide.b), MERR_INVALID_PARAM);
    EXPECT_EQ(MdEncoder_Scanlines(e, &rgba.b), MERR_INVALID_PARAM);
    fill(band, 16);
    ASSERT_EQ(MdEncoder_Scanlines(e, &band.b), MOK);
    // The last band: 8 lines are left, so the 10-line bitmap is cut.
    fill(shortBand, 32);
    ASSERT_EQ(MdEncoder_Scanlines(e, &shortBand.b), MOK);
    EXPECT_EQ(MdEncoder_Scanlines(e, &band.b), MERR_INVALID_PARAM); // finished
    EXPECT_EQ(MdEncoder_Destroy(e), MOK);
    const FakeFile f = parseFake(contents(out));
    ASSERT_TRUE(f.ok);
    EXPECT_EQ(f.width, 12);
    EXPECT_EQ(f.height, 40);
    EXPECT_EQ(f.quality, 85);
    ASSERT_EQ(f.rows.size(), 40u);
    for (size_t y = 0; y < 40; ++y) {
        ASSERT_FALSE(f.rows[y].empty());
        for (size_t x = 0; x < std::min<size_t>(f.rows[y].size(), 36); ++x)
            ASSERT_EQ(f.rows[y][x], uint8_t(x + 7 * y)) << x << "," << y;
    }
    MStreamClose(out);
}

TEST(BandEncoder, RefusesOtherTypesAndBadArguments) {
    Manager m;
    registerFakeEncoder(m.h);
    MSTREAM out = MStreamOpenFromMemoryBlock(nullptr, 4096);
    const int64_t size[2] = {8, 8}, empty[2] = {0, 8};
    MdEncoderHandle e = nullptr;
    EXPECT_EQ(MdEncoder_Create(m.h, out, 8, size, kRGB24, &e), MERR_UNSUPPORTED);
    EXPECT_EQ(MdEncoder_Create(m.h, out, 0, size, kRGB24, &e), MERR_INVALID_PARAM);
    EXPECT_EQ(MdEncoder_Create(m.h, out, 2, nullptr, kRGB24, &e), MERR_INVALID_PARAM);
    EXPECT_EQ(MdEncoder_Create(m.h, out, 2, empty, kRGB24, &e), MERR_INVALID_PARAM);
    EXPECT_EQ(e, nullptr);
    EXPECT_EQ(MdEncoder_Scanlines(nullptr, nullptr), MERR_INVALID_PARAM);
    EXPECT_EQ(MdEncoder_Destroy(nullptr), MERR_INVALID_PARAM);
    // Without an encoder component there is nothing to write with.
    Manager bare;
    EXPECT_NE(MdEncoder_Create(bare.h, out, 2, size, kRGB24, &e), MOK);
    EXPECT_EQ(e, nullptr);
    MStreamClose(out);
}
