// The resampling road: RGBA against a floating-point bilinear model, the eight orientations
// against a naive transform, and reads that stay inside exactly sized source buffers.
#include "MdBitmap.h"

#include "AMCM.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <vector>

namespace {

struct Manager {
    AMCMHandle h = nullptr;
    Manager() { EXPECT_EQ(AMCM_Create(nullptr, &h), MOK); }
    ~Manager() { AMCM_Destroy(h); }
};

// A bitmap over a vector of exactly pitch x height bytes.
struct Image {
    std::vector<MByte> bytes;
    MBITMAP bmp{};
    Image(MUInt64 format, MInt64 w, MInt64 h, MInt64 bytesPerPixel)
    {
        bytes.assign(static_cast<size_t>(w * h * bytesPerPixel), 0);
        bmp.dwPixelArrayFormat = format;
        bmp.lWidth = w;
        bmp.lHeight = h;
        bmp.lPitch[0] = w * bytesPerPixel;
        bmp.pPlane[0] = bytes.data();
    }
    MByte* at(MInt64 x, MInt64 y, int bpp) { return bytes.data() + y * bmp.lPitch[0] + x * bpp; }
};

void fillRandom(Image& img, unsigned seed)
{
    std::mt19937 rng(seed);
    std::uniform_int_distribution<int> d(0, 255);
    for (MByte& b : img.bytes)
        b = static_cast<MByte>(d(rng));
}

// Pixel-centre bilinear sampling with edge clamping, in double precision.
double modelSample(const Image& src, int bpp, int channel, double sx, double sy)
{
    const double w = static_cast<double>(src.bmp.lWidth), h = static_cast<double>(src.bmp.lHeight);
    sx = std::clamp(sx, 0.0, w - 1);
    sy = std::clamp(sy, 0.0, h - 1);
    const int x0 = static_cast<int>(sx), y0 = static_cast<int>(sy);
    const int x1 = std::min(x0 + 1, static_cast<int>(w) - 1), y1 = std::min(y0 + 1, static_cast<int>(h) - 1);
    const double fx = sx - x0, fy = sy - y0;
    const auto px = [&](int x, int y) {
        return static_cast<double>(src.bytes[static_cast<size_t>(y * src.bmp.lPitch[0] + x * bpp + channel)]);
    };
    const double top = px(x0, y0) + (px(x1, y0) - px(x0, y0)) * fx;
    const double bottom = px(x0, y1) + (px(x1, y1) - px(x0, y1)) * fx;
    return top + (bottom - top) * fy;
}

struct ScaleCase {
    const char* name;
    MInt64 sw, sh, dw, dh;
};

class RgbaResample : public testing::TestWithParam<ScaleCase> {};

TEST_P(RgbaResample, MatchesTheBilinearModelWithinOne)
{
    const ScaleCase& c = GetParam();
    Manager m;
    Image src(0x37001777, c.sw, c.sh, 4), dst(0x37001777, c.dw, c.dh, 4);
    fillRandom(src, 7);
    ASSERT_EQ(MdBitmapResample(m.h, &src.bmp, &dst.bmp), MOK);
    const double scaleX = static_cast<double>(c.sw) / c.dw, scaleY = static_cast<double>(c.sh) / c.dh;
    int worst = 0;
    for (MInt64 y = 0; y < c.dh; ++y)
        for (MInt64 x = 0; x < c.dw; ++x)
            for (int ch = 0; ch < 4; ++ch) {
                const double sx = c.sw == c.dw ? x : (x + 0.5) * scaleX - 0.5;
                const double sy = c.sh == c.dh ? y : (y + 0.5) * scaleY - 0.5;
                const double want = modelSample(src, 4, ch, sx, sy);
                const int got = dst.at(x, y, 4)[ch];
                worst = std::max(worst, static_cast<int>(std::ceil(std::abs(got - want) - 1e-9)));
                ASSERT_LE(std::abs(got - want), 1.0) << "pixel " << x << "," << y << " channel " << ch;
            }
    EXPECT_LE(worst, 1);
}

INSTANTIATE_TEST_SUITE_P(Scales, RgbaResample,
                         testing::Values(ScaleCase{"Identity", 37, 23, 37, 23}, ScaleCase{"DownBy2", 96, 64, 48, 32},
                                         ScaleCase{"DownBy3_7", 370, 185, 100, 50},
                                         ScaleCase{"DownBy15_6", 780, 468, 50, 30},
                                         ScaleCase{"UpBy1_5", 40, 30, 60, 45},
                                         ScaleCase{"Anisotropic", 50, 20, 20, 50}),
                         [](const auto& info) { return std::string(info.param.name); });

// Alpha is interpolated with the colour's weights, so premultiplied pixels stay valid (no colour
// channel above alpha) and a hard transparent edge has no halo.
TEST(RgbaResample, InterpolatesAlphaWithTheColour)
{
    Manager m;
    Image src(0x37001777, 8, 1, 4), dst(0x37001777, 20, 1, 4);
    for (MInt64 x = 0; x < 8; ++x) {
        const MByte a = x < 4 ? 255 : 0; // premultiplied white, then fully transparent
        MByte* p = src.at(x, 0, 4);
        p[0] = p[1] = p[2] = a;
        p[3] = a;
    }
    ASSERT_EQ(MdBitmapResample(m.h, &src.bmp, &dst.bmp), MOK);
    bool sawEdge = false;
    for (MInt64 x = 0; x < 20; ++x) {
        const MByte* p = dst.at(x, 0, 4);
        EXPECT_LE(p[0], p[3]) << x;
        EXPECT_EQ(p[0], p[3]) << x; // colour and alpha ramp together
        sawEdge |= p[3] > 0 && p[3] < 255;
    }
    EXPECT_TRUE(sawEdge);
}

// The naive transform: rotate clockwise by the rotation, then mirror as the flip flags say.
std::vector<MByte> naive(const Image& src, int rotation, int flip, MInt64* outW, MInt64* outH)
{
    MInt64 w = src.bmp.lWidth, h = src.bmp.lHeight;
    std::vector<MByte> cur(src.bytes);
    for (int turn = 0; turn < rotation / 90; ++turn) {
        std::vector<MByte> next(cur.size());
        // Clockwise: target (x, y) of size (h, w) takes source (y, h - 1 - x).
        for (MInt64 y = 0; y < w; ++y)
            for (MInt64 x = 0; x < h; ++x)
                std::copy_n(&cur[static_cast<size_t>(((h - 1 - x) * w + y) * 4)], 4,
                            &next[static_cast<size_t>((y * h + x) * 4)]);
        cur.swap(next);
        std::swap(w, h);
    }
    std::vector<MByte> out(cur.size());
    for (MInt64 y = 0; y < h; ++y)
        for (MInt64 x = 0; x < w; ++x) {
            const MInt64 sx = (flip & MD_FLIP_LEFT_RIGHT) ? w - 1 - x : x;
            const MInt64 sy = (flip & MD_FLIP_UP_DOWN) ? h - 1 - y : y;
            std::copy_n(&cur[static_cast<size_t>((sy * w + sx) * 4)], 4, &out[static_cast<size_t>((y * w + x) * 4)]);
        }
    *outW = w;
    *outH = h;
    return out;
}

TEST(Orientation, EveryRotationAndFlipMatchesTheNaiveTransform)
{
    Manager m;
    Image src(0x37001777, 7, 5, 4);
    fillRandom(src, 3);
    for (int rotation : {0, 90, 180, 270})
        for (int flip = 0; flip < 4; ++flip) {
            MInt64 w = 0, h = 0;
            const std::vector<MByte> want = naive(src, rotation, flip, &w, &h);
            Image dst(0x37001777, w, h, 4);
            MRECT s{0, 0, 7, 5}, d{0, 0, w, h};
            ASSERT_EQ(MdBitmapCropRotFlipResample(m.h, &src.bmp, &dst.bmp, &s, &d, rotation, flip), MOK);
            EXPECT_EQ(dst.bytes, want) << "rotation " << rotation << " flip " << flip;
        }
}

TEST(Orientation, ScaledQuarterTurnKeepsAConstantImageConstant)
{
    Manager m;
    Image src(0x16001777, 9, 4, 3), dst(0x37001777, 10, 23, 4);
    for (size_t i = 0; i < src.bytes.size(); i += 3) {
        src.bytes[i] = 10;
        src.bytes[i + 1] = 20;
        src.bytes[i + 2] = 30;
    }
    MRECT s{0, 0, 9, 4}, d{0, 0, 10, 23};
    ASSERT_EQ(MdBitmapCropRotFlipResample(m.h, &src.bmp, &dst.bmp, &s, &d, 90, 1), MOK);
    for (MInt64 y = 0; y < 23; ++y)
        for (MInt64 x = 0; x < 10; ++x) {
            const MByte* p = dst.at(x, y, 4);
            ASSERT_EQ((std::array<int, 3>{p[0], p[1], p[2]}), (std::array<int, 3>{10, 20, 30}));
        }
}

// Every buffer below is exactly width x height x bytes: a read past the source's right edge or
// last row is caught by AddressSanitizer.
struct EdgeCase {
    const char* name;
    MUInt64 srcFormat;
    int srcBytes;
    MInt64 sw, sh;
    MUInt64 dstFormat;
    int dstBytes;
    MInt64 dw, dh;
};

class ExactBuffers : public testing::TestWithParam<EdgeCase> {};

TEST_P(ExactBuffers, ReadAndWriteOnlyInside)
{
    const EdgeCase& c = GetParam();
    Manager m;
    Image src(c.srcFormat, c.sw, c.sh, c.srcBytes), dst(c.dstFormat, c.dw, c.dh, c.dstBytes);
    std::fill(src.bytes.begin(), src.bytes.end(), MByte{200});
    EXPECT_EQ(MdBitmapResample(m.h, &src.bmp, &dst.bmp), MOK);
    // A flat source stays flat (grey 200 everywhere, whatever the pixel format's channels).
    if (c.srcFormat == c.dstFormat)
        for (MByte b : dst.bytes)
            ASSERT_EQ(b, 200);
    // Cropping the last column and row reads right up to the buffer's end.
    MRECT s{c.sw - 1, c.sh - 1, c.sw, c.sh}, d{0, 0, c.dw, c.dh};
    EXPECT_EQ(MdBitmapCropResample(m.h, &src.bmp, &dst.bmp, &s, &d), MOK);
}

INSTANTIATE_TEST_SUITE_P(
    Sizes, ExactBuffers,
    testing::Values(EdgeCase{"OnePixelWideUp", 0x37001777, 4, 1, 9, 0x37001777, 4, 7, 20},
                    EdgeCase{"OnePixelUp", 0x37001777, 4, 1, 1, 0x37001777, 4, 5, 5},
                    EdgeCase{"OneRowUp", 0x37001777, 4, 9, 1, 0x37001777, 4, 31, 4},
                    EdgeCase{"SmallUp", 0x37001777, 4, 3, 2, 0x37001777, 4, 11, 9},
                    EdgeCase{"Rgb24Up", 0x16000777, 3, 1, 3, 0x16000777, 3, 13, 7},
                    EdgeCase{"Rgb24To32", 0x16001777, 3, 5, 4, 0x37001777, 4, 17, 3},
                    EdgeCase{"Rgb16Up", 0x15000454, 2, 2, 2, 0x15000454, 2, 9, 9},
                    EdgeCase{"GreyUp", 0x64000000, 1, 1, 2, 0x64000000, 1, 6, 7},
                    EdgeCase{"Down", 0x37001777, 4, 61, 47, 0x37001777, 4, 4, 3}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(ExactBuffers, PlanarSourceUpscaleStaysInside)
{
    Manager m;
    // 3 x 3 planar 4:2:0 in exactly sized planes: 9 luma bytes and 2 x 2 chroma bytes each.
    std::vector<MByte> y(9, 120), u(4, 128), v(4, 128);
    MBITMAP src{};
    src.dwPixelArrayFormat = 0x50000811;
    src.lWidth = 3;
    src.lHeight = 3;
    src.lPitch[0] = 3;
    src.lPitch[1] = src.lPitch[2] = 2;
    src.pPlane[0] = y.data();
    src.pPlane[1] = u.data();
    src.pPlane[2] = v.data();
    Image dst(0x37001777, 10, 11, 4);
    ASSERT_EQ(MdBitmapResample(m.h, &src, &dst.bmp), MOK);
    for (MInt64 i = 0; i < 10 * 11; ++i)
        EXPECT_EQ(dst.bytes[static_cast<size_t>(i * 4 + 3)], 255); // constant alpha for YUV sources
}

} // namespace
