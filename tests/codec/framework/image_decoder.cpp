// The image decoder wrapper: direct JPEG and in-memory bitmap decoding with size, region,
// rotation and flip, and the GIF wrapper with frame merging onto a canvas.
#include <gtest/gtest.h>

#include "GifDecoder.h"
#include "MIDec.h"
#include "MdBitmap.h"
#include "framework_test_support.h"

using namespace fwtest;

namespace {

constexpr uint64_t kRGBA = 0x37001777;

Image scan(MHandle dec, int w, int h) {
    Image out{w, h, 4, std::vector<uint8_t>(size_t(w) * h * 4, 0xCD)};
    MByte* planes[3] = {out.px.data(), nullptr, nullptr};
    MInt64 pitches[3] = {w * 4, 0, 0}, start = 0, count = h;
    EXPECT_EQ(MIDec_Scanlines(dec, planes, pitches, &start, &count), MOK);
    return out;
}

} // namespace

TEST(ImageDecoder, InMemoryBitmapTurnsAndMirrorsExactly) {
    Manager m;
    const Image src = makeImage(13, 9, 4, 31);
    MBITMAP bmp{kRGBA, 13, 9, {13 * 4, 0, 0}, {const_cast<MByte*>(src.px.data()), nullptr, nullptr}};
    MHandle dec = nullptr;
    ASSERT_EQ(MIDec_Create(m.h, reinterpret_cast<MSTREAM>(&bmp), 0x1000, &dec), MOK);
    int64_t v = 0;
    EXPECT_EQ(MIDec_GetProp(dec, 3, &v, 8), MOK);
    EXPECT_EQ(uint64_t(v), kRGBA);
    Image same = scan(dec, 13, 9);
    EXPECT_EQ(same.px, src.px);
    int64_t rot = 90;
    ASSERT_EQ(MIDec_SetProp(dec, 0x100C, &rot, 8), MOK);
    int64_t wh[2] = {};
    ASSERT_EQ(MIDec_GetProp(dec, 0x1007, wh, 16), MOK);
    EXPECT_EQ(wh[0], 9);
    EXPECT_EQ(wh[1], 13);
    Image turned = scan(dec, 9, 13);
    for (int y = 0; y < 13; ++y)
        for (int x = 0; x < 9; ++x)
            for (int c = 0; c < 4; ++c)
                ASSERT_EQ(turned.at(x, y)[c], src.at(y, 8 - x)[c]) << x << "," << y;
    EXPECT_EQ(MIDec_GetProp(dec, 0x100D, &v, 8), MERR_UNSUPPORTED);
    int64_t bad = 45;
    EXPECT_EQ(MIDec_SetProp(dec, 0x100C, &bad, 8), MERR_INVALID_PARAM);
    int64_t zero[2] = {0, 10};
    EXPECT_EQ(MIDec_SetProp(dec, 0x1007, zero, 16), MERR_INVALID_PARAM);
    int64_t yuv = 0x1234;
    EXPECT_EQ(MIDec_SetProp(dec, 5, &yuv, 8), MERR_INVALID_PARAM);
    MIDec_Destroy(dec);
    EXPECT_EQ(MIDec_Destroy(nullptr), MOK);
}

TEST(ImageDecoder, RotationTurnsRegionAndSize) {
    Manager m;
    const Bytes jpg = encodeJpeg(makeSmooth(400, 300, 3), 2, 90);
    Stream st(jpg);
    MHandle dec = nullptr;
    ASSERT_EQ(MIDec_Create(m.h, st.s, 0, &dec), MOK);
    MRECT region{0, 0, 100, 50};
    ASSERT_EQ(MIDec_SetProp(dec, 0x100A, &region, 32), MOK);
    int64_t rot = 90;
    ASSERT_EQ(MIDec_SetProp(dec, 0x100C, &rot, 8), MOK);
    int64_t wh[2] = {};
    MRECT now{};
    ASSERT_EQ(MIDec_GetProp(dec, 0x1007, wh, 16), MOK);
    ASSERT_EQ(MIDec_GetProp(dec, 0x100A, &now, 32), MOK);
    EXPECT_EQ(wh[0], 300);
    EXPECT_EQ(wh[1], 400);
    EXPECT_EQ(now.left, 250);
    EXPECT_EQ(now.top, 0);
    EXPECT_EQ(now.right, 300);
    EXPECT_EQ(now.bottom, 100);
    MIDec_Destroy(dec);
}

TEST(ImageDecoder, JpegScaledAndTurnedMatchesTheReference) {
    Manager m;
    const Image img = makeSmooth(160, 96, 4);
    const Bytes jpg = encodeJpeg(img, 2, 95);
    const Image ref = referenceJpegRgba(jpg);
    Stream st(jpg);
    MHandle dec = nullptr;
    ASSERT_EQ(MIDec_Create(m.h, st.s, 2, &dec), MOK);
    uint64_t color = kRGBA;
    ASSERT_EQ(MIDec_SetProp(dec, 3, &color, 8), MOK);
    int64_t half[2] = {80, 48};
    ASSERT_EQ(MIDec_SetProp(dec, 0x1007, half, 16), MOK);
    Image small = scan(dec, 80, 48);
    double err = 0;
    for (int y = 0; y < 48; ++y)
        for (int x = 0; x < 80; ++x)
            for (int c = 0; c < 3; ++c) {
                const int r = (ref.at(2 * x, 2 * y)[c] + ref.at(2 * x + 1, 2 * y)[c] + ref.at(2 * x, 2 * y + 1)[c] +
                               ref.at(2 * x + 1, 2 * y + 1)[c]) / 4;
                err += std::abs(small.at(x, y)[c] - r);
            }
    EXPECT_LE(err / (80 * 48 * 3), 4.0);
    int64_t rot = 180;
    ASSERT_EQ(MIDec_SetProp(dec, 0x100C, &rot, 8), MOK);
    Image turned = scan(dec, 80, 48);
    err = 0;
    for (int y = 0; y < 48; ++y)
        for (int x = 0; x < 80; ++x)
            for (int c = 0; c < 3; ++c) err += std::abs(turned.at(x, y)[c] - small.at(79 - x, 47 - y)[c]);
    EXPECT_LE(err / (80 * 48 * 3), 1.0);
    // Bands of a cropped output come from the same picture.
    MRECT region{8, 8, 72, 40};
    ASSERT_EQ(MIDec_SetProp(dec, 0x100A, &region, 32), MOK);
    Image band{64, 8, 4, std::vector<uint8_t>(64 * 8 * 4)};
    MByte* planes[3] = {band.px.data(), nullptr, nullptr};
    MInt64 pitches[3] = {64 * 4, 0, 0}, start = 8, count = 8;
    ASSERT_EQ(MIDec_Scanlines(dec, planes, pitches, &start, &count), MOK);
    err = 0;
    for (int y = 0; y < 8; ++y)
        for (int x = 0; x < 64; ++x)
            for (int c = 0; c < 3; ++c) err += std::abs(band.at(x, y)[c] - turned.at(x + 8, y + 16)[c]);
    EXPECT_LE(err / (64 * 8 * 3), 2.0);
    MIDec_Destroy(dec);
}

TEST(ImageDecoder, OddSized420JpegTurnsAndMirrorsWithoutResampling) {
    // A quarter turn or a mirror moves pixels: each must land where the upright decode has it.
    Manager m;
    for (auto [w, h] : {std::pair{101, 75}, std::pair{96, 75}, std::pair{101, 64}}) {
        const Bytes jpg = encodeJpeg(makeImage(w, h, 3, 17), 2, 95);
        Stream st(jpg);
        MHandle dec = nullptr;
        ASSERT_EQ(MIDec_Create(m.h, st.s, 2, &dec), MOK);
        uint64_t color = kRGBA;
        ASSERT_EQ(MIDec_SetProp(dec, 3, &color, 8), MOK);
        const Image upright = scan(dec, w, h);
        struct Turn {
            int64_t rotation, flip;
        };
        for (Turn t : {Turn{90, 0}, Turn{180, 0}, Turn{270, 0}, Turn{0, 1}, Turn{0, 2}, Turn{90, 1}}) {
            SCOPED_TRACE(testing::Message() << w << "x" << h << " turned " << t.rotation << " flip " << t.flip);
            MIDec_Destroy(dec);
            dec = nullptr;
            Stream again(jpg);
            ASSERT_EQ(MIDec_Create(m.h, again.s, 2, &dec), MOK);
            ASSERT_EQ(MIDec_SetProp(dec, 3, &color, 8), MOK);
            ASSERT_EQ(MIDec_SetProp(dec, 0x100C, &t.rotation, 8), MOK);
            ASSERT_EQ(MIDec_SetProp(dec, 0x100D, &t.flip, 8), MOK);
            const bool swap = t.rotation == 90 || t.rotation == 270;
            const int ow = swap ? h : w, oh = swap ? w : h;
            int64_t wh[2] = {};
            ASSERT_EQ(MIDec_GetProp(dec, 0x1007, wh, 16), MOK);
            ASSERT_EQ(wh[0], ow);
            ASSERT_EQ(wh[1], oh);
            const Image out = scan(dec, ow, oh);
            double sum = 0;
            int worst = 0;
            for (int y = 0; y < oh; ++y)
                for (int x = 0; x < ow; ++x) {
                    // Undo the mirror of the output, then the turn (clockwise).
                    int ux = x, uy = y;
                    if (t.flip == 1) ux = ow - 1 - ux;
                    if (t.flip == 2) uy = oh - 1 - uy;
                    int sx = ux, sy = uy;
                    if (t.rotation == 90) sx = uy, sy = h - 1 - ux;
                    if (t.rotation == 180) sx = w - 1 - ux, sy = h - 1 - uy;
                    if (t.rotation == 270) sx = w - 1 - uy, sy = ux;
                    for (int c = 0; c < 3; ++c) {
                        const int e = std::abs(out.at(x, y)[c] - upright.at(sx, sy)[c]);
                        sum += e;
                        worst = std::max(worst, e);
                    }
                }
            EXPECT_EQ(worst, 0) << "mean error " << sum / (ow * oh * 3);
        }
        MIDec_Destroy(dec);
    }
}

TEST(ImageDecoder, GifLinesMergeOntoTheCanvas) {
    Manager m;
    const Image rgb = makeImage(12, 8, 3, 5);
    const Bytes gif = encodeGif(rgb, 1, 0);
    Stream st(gif);
    MHandle dec = nullptr;
    ASSERT_EQ(MIDec_Create(m.h, st.s, 0, &dec), MOK);
    GIFFrameInfo fi{};
    ASSERT_EQ(MIDec_GetProp(dec, 0x1305, &fi, sizeof fi), MOK);
    int64_t delay = 0;
    ASSERT_EQ(MIDec_GetProp(dec, 0x4001, &delay, 8), MOK);
    EXPECT_EQ(delay, 10);
    MRECT full{};
    ASSERT_EQ(MIDec_GetProp(dec, 0x100A, &full, 32), MOK);
    EXPECT_EQ(full.right, 12);
    std::vector<uint8_t> canvas(12 * 8 * 4, 7);
    MBITMAP cv{kRGBA, 12, 8, {48, 0, 0}, {canvas.data(), nullptr, nullptr}};
    ASSERT_EQ(MIDec_SetProp(dec, 0x1306, &cv, sizeof cv), MOK);
    std::vector<uint8_t> line(16);
    const Image q = quantised332(rgb);
    for (int y = 0; y < 8; ++y) {
        MByte* planes[3] = {line.data(), nullptr, nullptr};
        MInt64 pitches[3] = {16, 0, 0}, start = 0, count = 1;
        ASSERT_EQ(MIDec_Scanlines(dec, planes, pitches, &start, &count), MOK);
        EXPECT_EQ(start, y);
    }
    for (int y = 0; y < 8; ++y)
        for (int x = 0; x < 12; ++x) {
            const uint8_t* p = &canvas[size_t(y * 12 + x) * 4];
            const bool transparent = ((q.at(x, y)[0] & 0xE0) | ((q.at(x, y)[1] & 0xE0) >> 3) | (q.at(x, y)[2] >> 6)) == 0;
            if (transparent) {
                EXPECT_EQ(p[0], 7);
            } else {
                EXPECT_EQ(p[0], q.at(x, y)[0]) << x << "," << y;
                EXPECT_EQ(p[3], 255);
            }
        }
    MIDec_Destroy(dec);
}

namespace {

int64_t g_rows = 0;
MDecComponentFuncs g_table;
MDEC_FNDECSCANLINES g_scan = nullptr;

MResult countScan(MHandle h, MByte** p, MInt64* pitch, MInt64* first, MInt64* count) {
    MResult r = g_scan(h, p, pitch, first, count);
    if (r == MOK && count) g_rows += *count;
    return r;
}

MResult countingJpeg(AMCMHandle m, MHandle* out) {
    MResult r = MDecoder_AJL2Create(m, out);
    if (r != MOK) return r;
    auto* head = static_cast<MDecComponentHead*>(*out);
    g_table = *head->pFuncs;
    g_scan = g_table.s_DecScanlines;
    g_table.s_DecScanlines = countScan;
    head->pFuncs = &g_table;
    return MOK;
}

Image band(MHandle dec, int w, int64_t start, int64_t rows) {
    Image out{w, int(rows), 4, std::vector<uint8_t>(size_t(w) * rows * 4, 0xCD)};
    MByte* planes[3] = {out.px.data(), nullptr, nullptr};
    MInt64 pitches[3] = {w * 4, 0, 0}, s = start, n = rows;
    EXPECT_EQ(MIDec_Scanlines(dec, planes, pitches, &s, &n), MOK);
    return out;
}

} // namespace

TEST(ImageDecoder, OverlappingBandsDecodeOnlyTheNewStrip) {
    Manager m;
    ASSERT_EQ(AMCM_RegisterEx(m.h, 0x81001300, 0x1000000, 2, 9, countingJpeg), MOK);
    const Bytes jpg = encodeJpeg(makeSmooth(128, 128, 6), 2, 95);
    auto open = [&](Stream& st) {
        MHandle dec = nullptr;
        EXPECT_EQ(MIDec_Create(m.h, st.s, 2, &dec), MOK);
        uint64_t color = kRGBA;
        EXPECT_EQ(MIDec_SetProp(dec, 3, &color, 8), MOK);
        MRECT region{16, 0, 80, 128};
        EXPECT_EQ(MIDec_SetProp(dec, 0x100A, &region, 32), MOK);
        return dec;
    };
    Stream st(jpg);
    MHandle dec = open(st);
    g_rows = 0;
    Image first = band(dec, 64, 0, 32);
    const int64_t firstRows = g_rows;
    // Half a band further down: the upper half is already in the previous decode buffer.
    Image second = band(dec, 64, 16, 32);
    const int64_t secondRows = g_rows - firstRows;
    EXPECT_GT(firstRows, 0);
    EXPECT_LT(secondRows, firstRows);
    MIDec_Destroy(dec);
    // The same bands from a fresh handle, each decoded whole.
    Stream st2(jpg);
    MHandle fresh = open(st2);
    band(fresh, 64, 64, 32);
    Image again = band(fresh, 64, 16, 32);
    EXPECT_EQ(again.px, second.px);
    MIDec_Destroy(fresh);
}

TEST(ImageDecoder, SidewaysMoveReusesTheOverlap) {
    Manager m;
    const Bytes jpg = encodeJpeg(makeSmooth(128, 64, 7), 2, 95);
    auto decodeAt = [&](MHandle dec, MRECT region) {
        EXPECT_EQ(MIDec_SetProp(dec, 0x100A, &region, 32), MOK);
        return band(dec, 64, 0, 32);
    };
    Stream st(jpg);
    MHandle dec = nullptr;
    ASSERT_EQ(MIDec_Create(m.h, st.s, 2, &dec), MOK);
    uint64_t color = kRGBA;
    ASSERT_EQ(MIDec_SetProp(dec, 3, &color, 8), MOK);
    decodeAt(dec, {0, 16, 64, 48});
    Image moved = decodeAt(dec, {32, 16, 96, 48});
    Image back = decodeAt(dec, {16, 16, 80, 48});
    MIDec_Destroy(dec);
    for (MRECT r : {MRECT{32, 16, 96, 48}, MRECT{16, 16, 80, 48}}) {
        Stream s2(jpg);
        MHandle fresh = nullptr;
        ASSERT_EQ(MIDec_Create(m.h, s2.s, 2, &fresh), MOK);
        ASSERT_EQ(MIDec_SetProp(fresh, 3, &color, 8), MOK);
        Image again = decodeAt(fresh, r);
        EXPECT_EQ(again.px, r.left == 32 ? moved.px : back.px) << r.left;
        MIDec_Destroy(fresh);
    }
}
TEST(ImageDecoder, OddSizedYuvOutputTurnsWithoutResampling) {
    // Planar 4:2:0 output of odd size: the luma plane of a quarter turn is the upright one moved.
    Manager m;
    const int w = 101, h = 75;
    const Bytes jpg = encodeJpeg(makeImage(w, h, 3, 17), 2, 95);
    auto run = [&](int64_t rot, std::vector<uint8_t>* y, MResult* res) {
        Stream st(jpg);
        MHandle dec = nullptr;
        ASSERT_EQ(MIDec_Create(m.h, st.s, 2, &dec), MOK);
        uint64_t color = 0x50001811u;
        ASSERT_EQ(MIDec_SetProp(dec, 3, &color, 8), MOK);
        ASSERT_EQ(MIDec_SetProp(dec, 0x100C, &rot, 8), MOK);
        const int ow = rot == 90 ? h : w, oh = rot == 90 ? w : h;
        y->assign(size_t(ow) * oh, 0);
        std::vector<uint8_t> u(size_t((ow + 1) / 2) * ((oh + 1) / 2)), v(u.size());
        MByte* planes[3] = {y->data(), u.data(), v.data()};
        MInt64 pitches[3] = {ow, (ow + 1) / 2, (ow + 1) / 2}, start = 0, count = oh;
        *res = MIDec_Scanlines(dec, planes, pitches, &start, &count);
        MIDec_Destroy(dec);
    };
    std::vector<uint8_t> a, b;
    MResult ra, rb;
    ASSERT_NO_FATAL_FAILURE(run(0, &a, &ra));
    ASSERT_NO_FATAL_FAILURE(run(90, &b, &rb));
    EXPECT_EQ(ra, MOK);
    EXPECT_EQ(rb, MOK);
    int worst = 0;
    for (int y = 0; y < w; ++y)
        for (int x = 0; x < h; ++x) worst = std::max(worst, std::abs(b[size_t(y) * h + x] - a[size_t(h - 1 - x) * w + y]));
    EXPECT_EQ(worst, 0);
}
