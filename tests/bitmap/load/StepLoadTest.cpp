// The step loader: band-by-band loads against one-call loads for every JPEG layout and target
// colour, the steps and progress, early ends that leave the caller's bitmap alone and free
// everything, the halving and YUV-band roads, chroma tables, and truncated files.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "MdBitmapLoad.h"
#include "MdBitmapLoadStep.h"
#include "MdColorID.h"
#include "load_test_support.h"

using namespace fwtest;
using namespace loadtest;

namespace {

constexpr uint64_t kRGBA = 0x37001777, kRGB24 = 0x16001777, kRGB565 = 0x15000454, kYUV420 = 0x50000811;

// Bytes of every plane, row by row, without the padding.
Bytes planeBytes(const MBITMAP& b) {
    MUInt64 hs = 1, vs = 1, bpp = 0, planes = 1;
    MdUtilsFormatColorID(b.dwPixelArrayFormat, &hs, &vs, &bpp, &planes);
    Bytes out;
    for (MUInt64 k = 0; k < planes; ++k) {
        const int64_t rows = k == 0 ? b.lHeight : (b.lHeight + int64_t(vs) - 1) / int64_t(vs);
        const int64_t bytes = k == 0 ? (b.lWidth * int64_t(bpp) + 7) / 8 : (b.lWidth + int64_t(hs) - 1) / int64_t(hs);
        for (int64_t y = 0; y < rows; ++y)
            out.insert(out.end(), b.pPlane[k] + y * b.lPitch[k], b.pPlane[k] + y * b.lPitch[k] + bytes);
    }
    return out;
}

// One-call load of a file into a fresh bitmap of the given size and colour.
void loadOnce(AMCMHandle m, const Bytes& file, Bitmap* b) {
    Stream st(file);
    ASSERT_EQ(MdBitmapLoad(m, st.s, 0, &b->b), MOK);
}

// A 5-6-5 bitmap as RGB bytes.
Image rgbOf565(const MBITMAP& b) {
    Image img{int(b.lWidth), int(b.lHeight), 3, std::vector<uint8_t>(size_t(b.lWidth * b.lHeight * 3))};
    for (int64_t y = 0; y < b.lHeight; ++y)
        for (int64_t x = 0; x < b.lWidth; ++x) {
            const uint8_t* p = b.pPlane[0] + y * b.lPitch[0] + 2 * x;
            const unsigned w = p[0] | (p[1] << 8);
            uint8_t* o = &img.px[size_t((y * b.lWidth + x) * 3)];
            o[0] = uint8_t((w >> 11) << 3), o[1] = uint8_t(((w >> 5) & 63) << 2), o[2] = uint8_t((w & 31) << 3);
        }
    return img;
}

// Area average of an RGBA image down to w x h.
Image boxReduce(const Image& src, int w, int h) {
    Image out{w, h, 4, std::vector<uint8_t>(size_t(w * h * 4))};
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const int x0 = x * src.width / w, x1 = (x + 1) * src.width / w;
            const int y0 = y * src.height / h, y1 = (y + 1) * src.height / h;
            for (int c = 0; c < 4; ++c) {
                long sum = 0;
                for (int yy = y0; yy < y1; ++yy)
                    for (int xx = x0; xx < x1; ++xx) sum += src.at(xx, yy)[c];
                out.px[size_t((y * w + x) * 4 + c)] = uint8_t(sum / ((x1 - x0) * (y1 - y0)));
            }
        }
    return out;
}

struct Step {
    MdBitmapLoadHandle h = nullptr;
    int64_t steps = 0;
};

} // namespace

TEST(StepLoad, BandsGiveTheSamePixelsAsOneCallForEveryLayoutAndColour) {
    Manager m;
    const Image rgb = makeSmooth(70, 100, 4);
    for (int sub : {0, 1, 2, 3}) {
        const Bytes jpeg = encodeJpeg(rgb, sub);
        for (uint64_t color : {kRGBA, kRGB24, kRGB565, kYUV420}) {
            for (auto [w, h] : {std::pair{70, 100}, std::pair{35, 50}}) {
                SCOPED_TRACE("subsampling " + std::to_string(sub) + " colour " + std::to_string(color) + " size " +
                             std::to_string(w));
                Bitmap once(color, w, h), stepped(color, w, h);
                ASSERT_NO_FATAL_FAILURE(loadOnce(m.h, jpeg, &once));
                ASSERT_EQ(MdBitmapAlloc(&stepped.b), MOK);
                Stream st(jpeg);
                Step s;
                ASSERT_EQ(MdBitmapLoadStartEx(m.h, st.s, 2, &stepped.b, 1, 2, &s.h, &s.steps, 0), MOK);
                EXPECT_EQ(s.steps, (h + 15) / 16);
                int64_t done = -1, total = 0;
                for (int64_t i = 0; i < s.steps; ++i) {
                    ASSERT_EQ(MdBitmapLoadDoStep(s.h), MOK) << i;
                    ASSERT_EQ(MdBitmapLoadGetProgress(s.h, &done, &total), MOK);
                    EXPECT_EQ(done, std::min<int64_t>(16 * (i + 1), h));
                }
                EXPECT_EQ(done, total);
                EXPECT_EQ(total, h);
                // A step past the end changes nothing and keeps the loader.
                EXPECT_EQ(MdBitmapLoadDoStep(s.h), MOK);
                EXPECT_EQ(MdBitmapLoadEnd(s.h), MOK);
                EXPECT_EQ(planeBytes(stepped.b), planeBytes(once.b));
            }
        }
    }
}

TEST(StepLoad, EarlyEndLeavesTheCallersBitmapAloneAndAFullRunHandsItOver) {
    Manager m;
    const Bytes jpeg = encodeJpeg(makeSmooth(64, 100, 9), 2);
    Bitmap once(kRGBA, 64, 100);
    ASSERT_NO_FATAL_FAILURE(loadOnce(m.h, jpeg, &once));
    for (int stop : {0, 3, 7}) {
        SCOPED_TRACE(stop);
        Bitmap b(kRGBA, 64, 100);
        ASSERT_EQ(MdBitmapAlloc(&b.b), MOK);
        std::memset(b.b.pPlane[0], 0x5A, size_t(b.b.lPitch[0] * 100));
        const Bytes before = planeBytes(b.b);
        Stream st(jpeg);
        Step s;
        ASSERT_EQ(MdBitmapLoadStart(m.h, st.s, 2, &b.b, 1, 2, &s.h, &s.steps), MOK);
        ASSERT_EQ(s.steps, 7);
        for (int i = 0; i < stop; ++i) ASSERT_EQ(MdBitmapLoadDoStep(s.h), MOK);
        EXPECT_EQ(planeBytes(b.b), before); // nothing reaches the target before the end
        EXPECT_EQ(MdBitmapLoadEnd(s.h), MOK);
        if (stop == 7)
            EXPECT_EQ(planeBytes(b.b), planeBytes(once.b));
        else
            EXPECT_EQ(planeBytes(b.b), before);
    }
}

TEST(StepLoad, HalvingRoadResamplesAFarLargerImage) {
    Manager m;
    const Image rgb = makeSmooth(320, 240, 6);
    const Bytes jpeg = encodeJpeg(rgb, 2);
    // 320 x 240 into 40 x 30: scale 8 fits exactly, no halving; into 30 x 20 the scale stays 8
    // and halving makes an intermediate of (30 + 40) / 2 x (20 + 30) / 2, handed over resampled.
    for (auto [w, h] : {std::pair{40, 30}, std::pair{30, 20}, std::pair{17, 11}}) {
        SCOPED_TRACE(w);
        Bitmap once(kRGBA, w, h), stepped(kRGBA, w, h);
        ASSERT_NO_FATAL_FAILURE(loadOnce(m.h, jpeg, &once));
        ASSERT_EQ(MdBitmapAlloc(&stepped.b), MOK);
        Stream st(jpeg);
        Step s;
        ASSERT_EQ(MdBitmapLoadStart(m.h, st.s, 2, &stepped.b, 8, 2, &s.h, &s.steps), MOK);
        for (int64_t i = 0; i < s.steps; ++i) ASSERT_EQ(MdBitmapLoadDoStep(s.h), MOK);
        MdBitmapLoadEnd(s.h);
        // A far reduction is judged against an area average of the reference decode: the
        // stepped road may be no further from it than the one-call load, give or take a little.
        const Image ref = referenceRgba(jpeg), avg = boxReduce(ref, w, h);
        const Diff ds = compareRgb(toImage(stepped.b, 4), avg), d1 = compareRgb(toImage(once.b, 4), avg);
        EXPECT_LE(ds.mean, d1.mean + 2.0);
    }
}

TEST(StepLoad, YuvBandsInto565MatchTheDirectLoadAndTablesMoveOnlyChroma) {
    Manager m;
    const Image rgb = makeSmooth(48, 40, 8);
    const Bytes jpeg = encodeJpeg(rgb, 2);
    Bitmap direct(kRGB565, 48, 40), banded(kRGB565, 0, 0);
    ASSERT_NO_FATAL_FAILURE(loadOnce(m.h, jpeg, &direct));
    {
        Stream st(jpeg);
        ASSERT_EQ(MdBitmapLoadEx(m.h, st.s, 0, &banded.b, 1), MOK); // own size, own planes
    }
    ASSERT_EQ(banded.b.lWidth, 48);
    const Diff d = compareRgb(rgbOf565(banded.b), rgbOf565(direct.b));
    EXPECT_LE(d.mean, 3.0);
    EXPECT_LE(d.max, 24);

    // Zero tables change nothing; a U shift changes the colours but not the grey level much.
    int64_t zero[256] = {}, shift[256];
    for (int64_t& v : shift) v = 40;
    auto load = [&](const int64_t* u, const int64_t* v, Bitmap* b) {
        ASSERT_EQ(MdBitmapAlloc(&b->b), MOK);
        Stream st(jpeg);
        Step s;
        ASSERT_EQ(MdBitmapLoadStartExWithUVOffsetTable(m.h, st.s, 2, &b->b, 1, 2, &s.h, &s.steps, 1, u, v), MOK);
        for (int64_t i = 0; i < s.steps; ++i) ASSERT_EQ(MdBitmapLoadDoStep(s.h), MOK);
        MdBitmapLoadEnd(s.h);
    };
    Bitmap none(kRGB565, 48, 40), zeroed(kRGB565, 48, 40), shifted(kRGB565, 48, 40);
    ASSERT_NO_FATAL_FAILURE(load(nullptr, nullptr, &none));
    ASSERT_NO_FATAL_FAILURE(load(zero, zero, &zeroed));
    ASSERT_NO_FATAL_FAILURE(load(shift, nullptr, &shifted));
    EXPECT_EQ(planeBytes(zeroed.b), planeBytes(none.b));
    const Image a = rgbOf565(none.b), b = rgbOf565(shifted.b);
    double blue = 0;
    for (size_t i = 0; i < a.px.size(); i += 3) blue += int(b.px[i + 2]) - int(a.px[i + 2]);
    EXPECT_GT(blue / double(a.px.size() / 3), 30); // more U is more blue
}

TEST(StepLoad, ArgumentsAndFormatsRefused) {
    Manager m;
    const Bytes jpeg = encodeJpeg(makeSmooth(32, 32, 1), 2), png = encodePng(makeSmooth(32, 32, 1));
    Bitmap b(kRGBA, 32, 32);
    ASSERT_EQ(MdBitmapAlloc(&b.b), MOK);
    Stream sj(jpeg), sp(png);
    Step s;
    EXPECT_EQ(MdBitmapLoadStart(m.h, sj.s, 2, &b.b, 3, 2, &s.h, &s.steps), MERR_INVALID_PARAM);
    EXPECT_EQ(MdBitmapLoadStart(m.h, sj.s, 2, &b.b, 1, 3, &s.h, &s.steps), MERR_INVALID_PARAM);
    EXPECT_EQ(MdBitmapLoadStart(nullptr, sj.s, 2, &b.b, 1, 2, &s.h, &s.steps), MERR_INVALID_PARAM);
    EXPECT_EQ(MdBitmapLoadStart(m.h, sp.s, 8, &b.b, 1, 2, &s.h, &s.steps), MERR_UNSUPPORTED);
    // Called a JPEG, but holds a PNG.
    EXPECT_EQ(MdBitmapLoadStartEx(m.h, sp.s, 2, &b.b, 1, 2, &s.h, &s.steps, 0), MERR_UNSUPPORTED);
    EXPECT_EQ(s.h, nullptr);
    Bitmap noPlanes(kRGBA, 32, 32);
    EXPECT_EQ(MdBitmapLoadStartEx(m.h, sj.s, 2, &noPlanes.b, 1, 2, &s.h, &s.steps, 0), MERR_INVALID_PARAM);
    EXPECT_EQ(MdBitmapLoadDoStep(nullptr), MERR_INVALID_PARAM);
    EXPECT_EQ(MdBitmapLoadEnd(nullptr), MOK);
}

TEST(StepLoad, LoadExEqualsTheLoadForOtherFormatsAndPaths) {
    Manager m;
    const Image rgb = makeSmooth(21, 13, 2);
    const std::pair<const char*, Bytes> files[] = {
        {"png", encodePng(rgb)}, {"bmp", encodeBmp24(rgb)}, {"gif", encodeGif(rgb)}, {"jpeg", encodeJpeg(rgb, 1)}};
    for (const auto& [name, file] : files) {
        for (uint64_t color : {kRGBA, kRGB565}) {
            SCOPED_TRACE(std::string(name) + " " + std::to_string(color));
            Bitmap once(color, 0, 0), ex(color, 0, 0);
            ASSERT_NO_FATAL_FAILURE(loadOnce(m.h, file, &once));
            Stream st(file);
            MStreamSeek(st.s, MSTREAM_SEEK_BEGIN, 3);
            ASSERT_EQ(MdBitmapLoadEx(m.h, st.s, 0, &ex.b, color == kRGB565 && name[0] != 'j'), MOK);
            EXPECT_EQ(MStreamTell(st.s), 3);
            EXPECT_EQ(planeBytes(ex.b), planeBytes(once.b));
        }
    }
    const std::string path = ::testing::TempDir() + "steploadex.jpg";
    const Bytes jpeg = encodeJpeg(rgb, 2);
    FILE* f = std::fopen(path.c_str(), "wb");
    std::fwrite(jpeg.data(), 1, jpeg.size(), f);
    std::fclose(f);
    Bitmap b(kRGB565, 0, 0);
    EXPECT_EQ(MdBitmapLoadEx2(m.h, path.c_str(), 0, &b.b, 1), MOK);
    EXPECT_EQ(b.b.lWidth, 21);
    Bitmap c(kRGB565, 0, 0);
    EXPECT_EQ(MdBitmapLoadEx2(m.h, (path + ".none").c_str(), 0, &c.b, 1), MERR_FILE_OPEN);
    EXPECT_EQ(c.b.pPlane[0], nullptr);
    std::remove(path.c_str());
}

TEST(StepLoad, EveryPrefixOfATruncatedFileFailsCleanly) {
    Manager m;
    const Bytes jpeg = encodeJpeg(makeSmooth(24, 40, 3), 2, 50);
    for (size_t n = 0; n < jpeg.size(); ++n) {
        const Bytes cut(jpeg.begin(), jpeg.begin() + long(n));
        for (int road = 0; road < 3; ++road) {
            Bitmap b(road == 2 ? kRGB565 : kRGBA, 24, 40);
            ASSERT_EQ(MdBitmapAlloc(&b.b), MOK);
            Stream st(cut);
            Step s;
            MResult r = road == 0   ? MdBitmapLoadStart(m.h, st.s, 2, &b.b, 1, 2, &s.h, &s.steps)
                        : road == 1 ? MdBitmapLoadStartEx(m.h, st.s, 2, &b.b, 1, 2, &s.h, &s.steps, 0)
                                    : MdBitmapLoadStartEx(m.h, st.s, 2, &b.b, 1, 2, &s.h, &s.steps, 1);
            if (r != MOK) {
                ASSERT_EQ(s.h, nullptr) << n;
                continue;
            }
            for (int64_t i = 0; r == MOK && i < s.steps; ++i) r = MdBitmapLoadDoStep(s.h);
            if (r == MOK) MdBitmapLoadEnd(s.h);
        }
        Bitmap ex(kRGB565, 0, 0);
        Stream st(cut);
        const MResult r = MdBitmapLoadEx(m.h, st.s, 0, &ex.b, 1);
        if (r != MOK) EXPECT_EQ(ex.b.pPlane[0], nullptr) << n;
    }
}
