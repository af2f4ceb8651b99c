// Transform entry points: argument checks, crop, colour conversion, the dithered form, and the
// small utilities.
#include "MdBitmap.h"

#include "MMemory.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

namespace {

struct Manager {
    AMCMHandle h = nullptr;
    Manager() { EXPECT_EQ(AMCM_Create(nullptr, &h), MOK); }
    ~Manager() { AMCM_Destroy(h); }
};

struct Owned {
    MBITMAP b{};
    Owned(MUInt64 format, MInt64 w, MInt64 h)
    {
        b.dwPixelArrayFormat = format;
        b.lWidth = w;
        b.lHeight = h;
        EXPECT_EQ(MdBitmapAlloc(&b), MOK);
    }
    ~Owned() { MdBitmapFree(&b); }
    MByte* px(MInt64 x, MInt64 y, int bytes) { return b.pPlane[0] + y * b.lPitch[0] + x * bytes; }
};

TEST(Transform, RefusesBadArguments)
{
    Manager m;
    Owned src(0x37001777, 8, 6), dst(0x37001777, 4, 3);
    const MRECT s{0, 0, 8, 6}, d{0, 0, 4, 3};
    EXPECT_EQ(MdBitmapCropRotFlipResample(m.h, &src.b, &dst.b, &s, &d, 45, 0), MERR_INVALID_PARAM);
    const MRECT beyond{0, 0, 9, 6};
    EXPECT_EQ(MdBitmapCropRotFlipResample(m.h, &src.b, &dst.b, &beyond, &d, 0, 0), MERR_INVALID_PARAM);
    const MRECT empty{2, 2, 2, 4};
    EXPECT_EQ(MdBitmapCropRotFlipResample(m.h, &src.b, &dst.b, &empty, &d, 0, 0), MERR_INVALID_PARAM);
    MBITMAP flat = dst.b;
    flat.lHeight = 0;
    EXPECT_EQ(MdBitmapCropRotFlipResample(m.h, &src.b, &flat, &s, &d, 0, 0), MERR_UNSUPPORTED);
    MBITMAP negative = dst.b;
    negative.lHeight = -3;
    EXPECT_EQ(MdBitmapResample(m.h, &src.b, &negative), MERR_INVALID_PARAM);
    MBITMAP shortPitch = src.b;
    shortPitch.lPitch[0] = 8;
    EXPECT_EQ(MdBitmapResample(m.h, &shortPitch, &dst.b), MERR_INVALID_PARAM);
    MBITMAP noPlane = src.b;
    noPlane.pPlane[0] = nullptr;
    EXPECT_EQ(MdBitmapResample(m.h, &noPlane, &dst.b), MERR_INVALID_PARAM);
    EXPECT_EQ(MdBitmapResample(m.h, nullptr, &dst.b), MERR_INVALID_PARAM);
    EXPECT_EQ(MdBitmapColorConvert(m.h, &src.b, &dst.b), MERR_UNSUPPORTED);
    EXPECT_EQ(MdBitmapRotate(m.h, &src.b, nullptr, 90), MERR_INVALID_PARAM);
    // A packed 4:2:2 rectangle cannot begin on the second pixel of a pair.
    Owned yuyv(0x50000010, 8, 6);
    const MRECT odd{1, 0, 4, 2};
    EXPECT_EQ(MdBitmapCropRotFlipResample(m.h, &yuyv.b, &dst.b, &odd, &d, 0, 0), MERR_INVALID_PARAM);
    EXPECT_EQ(MdBitmapCropRotFlipResample(m.h, &src.b, &yuyv.b, &s, &odd, 0, 0), MERR_INVALID_PARAM);
    // A palette bitmap has no palette in its record: refused rather than read through a stand-in.
    Owned pal(0x44000000, 8, 6);
    EXPECT_EQ(MdBitmapResample(m.h, &pal.b, &dst.b), MERR_INVALID_PARAM);
}

TEST(Transform, CropCopiesTheRectangleExactly)
{
    Manager m;
    Owned src(0x37001777, 6, 4), dst(0x37001777, 3, 2);
    for (MInt64 y = 0; y < 4; ++y)
        for (MInt64 x = 0; x < 6; ++x)
            std::memset(src.px(x, y, 4), static_cast<int>(y * 6 + x), 4);
    const MRECT r{2, 1, 5, 3};
    ASSERT_EQ(MdBitmapCrop(m.h, &src.b, &dst.b, &r), MOK);
    for (MInt64 y = 0; y < 2; ++y)
        for (MInt64 x = 0; x < 3; ++x)
            EXPECT_EQ(dst.px(x, y, 4)[1], (y + 1) * 6 + x + 2);
}

TEST(Transform, ResampleWritesOnlyTheTargetRectangle)
{
    Manager m;
    Owned src(0x37001777, 4, 4), dst(0x37001777, 10, 10);
    std::memset(src.b.pPlane[0], 0xAA, static_cast<size_t>(src.b.lPitch[0] * 4));
    std::memset(dst.b.pPlane[0], 0x11, static_cast<size_t>(dst.b.lPitch[0] * 10));
    const MRECT s{0, 0, 4, 4}, d{3, 2, 9, 7};
    ASSERT_EQ(MdBitmapCropResample(m.h, &src.b, &dst.b, &s, &d), MOK);
    for (MInt64 y = 0; y < 10; ++y)
        for (MInt64 x = 0; x < 10; ++x) {
            const bool inside = x >= 3 && x < 9 && y >= 2 && y < 7;
            ASSERT_EQ(dst.px(x, y, 4)[0], inside ? 0xAA : 0x11) << x << "," << y;
        }
}

TEST(Transform, DitheredFormWritesOnlyTheTargetRectangle)
{
    Manager m;
    Owned src(0x37001777, 8, 8), dst(0x15000454, 12, 12);
    std::memset(src.b.pPlane[0], 0x80, static_cast<size_t>(src.b.lPitch[0] * 8));
    std::memset(dst.b.pPlane[0], 0x5A, static_cast<size_t>(dst.b.lPitch[0] * 12));
    const MRECT s{0, 0, 8, 8}, d{2, 2, 10, 10};
    ASSERT_EQ(MdBitmapCropRotFlipResampleEx(m.h, &src.b, &dst.b, &s, &d, 90, 0, 1), MOK);
    for (MInt64 y = 0; y < 12; ++y)
        for (MInt64 x = 0; x < 12; ++x) {
            const bool inside = x >= 2 && x < 10 && y >= 2 && y < 10;
            const MByte* p = dst.px(x, y, 2);
            if (!inside) {
                ASSERT_EQ(p[0], 0x5A) << x << "," << y;
                ASSERT_EQ(p[1], 0x5A) << x << "," << y;
            } else {
                uint16_t v;
                std::memcpy(&v, p, 2);
                const int r = (v >> 11) << 3, g = ((v >> 5) & 0x3F) << 2, b = (v & 0x1F) << 3;
                // Mid grey survives the round trip through YUV within the 5- and 6-bit steps.
                EXPECT_NEAR(r, 0x80, 12);
                EXPECT_NEAR(g, 0x80, 8);
                EXPECT_NEAR(b, 0x80, 12);
            }
        }
}

TEST(Transform, RgbToYuvOfOneColour)
{
    Manager m;
    MByte y = 0, u = 0, v = 0;
    ASSERT_EQ(MdUtilRGB2YUV_YCbCr(m.h, 255, 255, 255, &y, &u, &v), MOK);
    EXPECT_EQ(y, 255);
    EXPECT_NEAR(u, 128, 1);
    EXPECT_NEAR(v, 128, 1);
    ASSERT_EQ(MdUtilRGB2YUV(m.h, 0, 0, 0, &y, &u, &v), MOK);
    EXPECT_EQ(y, 16);
    EXPECT_EQ(u, 128);
    EXPECT_EQ(v, 128);
    ASSERT_EQ(MdUtilRGB2YUV(m.h, 255, 0, 0, &y, &u, &v), MOK); // red, BT.601 video range
    EXPECT_NEAR(y, 81, 1);
    EXPECT_NEAR(u, 90, 1);
    EXPECT_NEAR(v, 240, 1);
}

// A fill takes the colour value as 0xBBGGRR on every format, YUV ones included.
TEST(Transform, RedFillIsRedOnRgbAndYuvBitmaps)
{
    Manager m;
    Owned yuv(0x50000811, 4, 4), rgba(0x37001777, 4, 4);
    const MRECT all{0, 0, 4, 4};
    ASSERT_EQ(MdBitmapFillColor(m.h, &yuv.b, 0x0000FF, &all, nullptr, 100), MOK);
    ASSERT_EQ(MdBitmapColorConvert(m.h, &yuv.b, &rgba.b), MOK);
    const MByte* p = rgba.px(1, 1, 4);
    EXPECT_GT(p[0], 200);
    EXPECT_LT(p[2], 40);
    ASSERT_EQ(MdBitmapFillColor(m.h, &rgba.b, 0x0000FF, &all, nullptr, 100), MOK);
    EXPECT_EQ(rgba.px(1, 1, 4)[0], 255);
    EXPECT_EQ(rgba.px(1, 1, 4)[2], 0);
}

TEST(Utilities, RectanglesAndResultCodes)
{
    const MRECT ok{0, 0, 4, 3};
    EXPECT_EQ(MdUtilIsRectValid(&ok, 4, 3), 1);
    EXPECT_EQ(MdUtilIsRectValid(&ok, 3, 3), 0);
    const MRECT negative{-1, 0, 2, 2};
    EXPECT_EQ(MdUtilIsRectValid(&negative, 4, 3), 0);
    MRECT r{1, 2, 3, 5};
    MdUtilFlipUpDownRect(10, &r);
    EXPECT_EQ(r.top, 5);
    EXPECT_EQ(r.bottom, 8);
    const MResult list[] = {2, 4, 3};
    EXPECT_EQ(MdUtilConvertErrorCode(0x80007, list, 3), 2);
    EXPECT_EQ(MdUtilConvertErrorCode(4, list, 3), 4);
    EXPECT_EQ(MdUtilConvertErrorCode(0, list, 3), 0);
    MInt64 w = 0, h = 0;
    EXPECT_EQ(MdUtilsGetLogoSize(&w, &h), MOK);
    EXPECT_EQ(w, 62);
    EXPECT_EQ(h, 20);
    EXPECT_EQ(MdUtilPixelFormatNew2Old(0x37001777), 0x24u);
    MInt64 hs = 9, vs = 9;
    EXPECT_EQ(s_GetSamplingFactors(0x50000810, &hs, &vs), MOK);
    EXPECT_EQ(hs, 2);
    EXPECT_EQ(vs, 1);
}

TEST(Utilities, LogoIsClampedIntoTheBitmap)
{
    Owned b(0x16001777, 100, 30);
    std::memset(b.b.pPlane[0], 0x77, static_cast<size_t>(b.b.lPitch[0] * 30));
    ASSERT_EQ(MdUtilsAddLogo(&b.b, 1000, 0), MOK);
    // Drawing starts at x = 100 - 62 = 38: the frame's first column is black there.
    EXPECT_EQ(b.px(37, 0, 3)[0], 0x77);
    EXPECT_EQ(b.px(38, 0, 3)[0], 0);
    EXPECT_EQ(b.px(98, 5, 3)[0], 0x77); // right of the 60 drawn columns
    Owned narrow(0x16001777, 62, 30);
    EXPECT_EQ(MdUtilsAddLogo(&narrow.b, 0, 0), MERR_INVALID_PARAM);
    Owned rgba(0x37001777, 70, 21);
    EXPECT_EQ(MdUtilAddLogoEx(&rgba.b), MERR_UNSUPPORTED);
    EXPECT_EQ(MdUtilsAddLogo(&rgba.b, 0, 0), MOK);
}

TEST(Utilities, CopyStreamCopiesEveryByte)
{
    std::vector<MByte> data(20000), out(20000, 0);
    for (size_t i = 0; i < data.size(); ++i)
        data[i] = static_cast<MByte>(i * 7);
    MSTREAM src = MStreamOpenFromMemoryBlock(data.data(), static_cast<MInt64>(data.size()));
    MSTREAM dst = MStreamOpenFromMemoryBlock(out.data(), static_cast<MInt64>(out.size()));
    ASSERT_NE(src, nullptr);
    ASSERT_NE(dst, nullptr);
    MStreamSeek(src, MSTREAM_SEEK_END, 0);
    EXPECT_EQ(MdUtilCopyStream(src, dst), MOK);
    EXPECT_EQ(out, data);
    EXPECT_EQ(MdUtilCopyStream(src, nullptr), MOK);
    MStreamClose(src);
    MStreamClose(dst);
}

} // namespace
