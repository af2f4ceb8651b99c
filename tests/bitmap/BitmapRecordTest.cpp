// The bitmap record: plane layouts, caller pitches, refusals, fills and masks.
#include "MdBitmap.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

namespace {

struct LayoutRow {
    const char* name;
    MUInt64 format;
    MInt64 w, h;
    MInt64 callerPitch[3];
    MInt64 pitch[3];
    MInt64 planeOffset[3]; // -1: no plane
    MInt64 blockSize;
};

class Layout : public testing::TestWithParam<LayoutRow> {};

TEST_P(Layout, GivesPitchesAndPlaneOffsets)
{
    const LayoutRow& r = GetParam();
    MBITMAP b{};
    b.dwPixelArrayFormat = r.format;
    b.lWidth = r.w;
    b.lHeight = r.h;
    std::memcpy(b.lPitch, r.callerPitch, sizeof b.lPitch);
    ASSERT_EQ(MdBitmapAlloc(&b), MOK);
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(b.lPitch[i], r.pitch[i]) << "pitch " << i;
        if (r.planeOffset[i] < 0)
            EXPECT_EQ(b.pPlane[i], nullptr) << "plane " << i;
        else
            EXPECT_EQ(b.pPlane[i] - b.pPlane[0], r.planeOffset[i]) << "plane " << i;
    }
    // The block is zeroed and exactly as large as stated (AddressSanitizer checks the bound).
    for (MInt64 i = 0; i < r.blockSize; ++i)
        ASSERT_EQ(b.pPlane[0][i], 0);
    EXPECT_EQ(MdBitmapFree(&b), MOK);
    EXPECT_EQ(b.pPlane[0], nullptr);
    EXPECT_EQ(b.lWidth, 0);
}

INSTANTIATE_TEST_SUITE_P(
    Golden, Layout,
    testing::Values(
        LayoutRow{"Rgba", 0x37001777, 13, 7, {}, {52, 0, 0}, {0, -1, -1}, 364},
        LayoutRow{"Rgb565", 0x15000454, 13, 7, {}, {28, 0, 0}, {0, -1, -1}, 196},
        LayoutRow{"Rgb24", 0x16000777, 5, 3, {}, {16, 0, 0}, {0, -1, -1}, 48},
        LayoutRow{"Palette8", 0x44000000, 5, 3, {}, {8, 0, 0}, {0, -1, -1}, 24},
        LayoutRow{"I420", 0x50001811, 13, 7, {}, {16, 8, 8}, {0, 256, 320}, 384},
        LayoutRow{"I420Large", 0x50001811, 17, 17, {}, {32, 16, 16}, {0, 1024, 1280}, 1536},
        LayoutRow{"I420PartialPitches", 0x50001811, 13, 7, {32, 0, 16}, {16, 8, 8}, {0, 256, 320}, 384},
        LayoutRow{"I420CallerPitches", 0x50001811, 13, 7, {32, 20, 20}, {32, 20, 20}, {0, 512, 672}, 832},
        LayoutRow{"NV21", 0x70000002, 13, 7, {}, {16, 16, 16}, {0, 257, 256}, 384},
        LayoutRow{"NV12", 0x70000003, 13, 7, {}, {16, 16, 16}, {0, 256, 257}, 384},
        LayoutRow{"GreyPadded", 0x64001000, 17, 17, {}, {32, 0, 0}, {0, -1, -1}, 1024},
        LayoutRow{"Yuyv", 0x50000010, 3, 3, {}, {8, 0, 0}, {0, -1, -1}, 128},
        LayoutRow{"Quarter", 0x50000830, 16, 4, {}, {16, 4, 4}, {0, 256, 320}, 384},
        LayoutRow{"WidePitch", 0x37001777, 3, 2, {20, 0, 0}, {20, 0, 0}, {0, -1, -1}, 40}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(Alloc, RefusesBadSizesFormatsAndPitches)
{
    MBITMAP b{};
    b.dwPixelArrayFormat = 0x37001777;
    b.lWidth = 0;
    b.lHeight = 4;
    EXPECT_EQ(MdBitmapAlloc(&b), MERR_UNSUPPORTED);
    EXPECT_EQ(b.pPlane[0], nullptr);
    b.lWidth = -3;
    EXPECT_EQ(MdBitmapAlloc(&b), MERR_INVALID_PARAM);
    b.lWidth = 4;
    b.lHeight = -4;
    EXPECT_EQ(MdBitmapAlloc(&b), MERR_INVALID_PARAM);
    b.lHeight = 4;
    b.lPitch[0] = 15; // below 4 x 4 bytes
    EXPECT_EQ(MdBitmapAlloc(&b), MERR_INVALID_PARAM);
    b.lPitch[0] = -16;
    EXPECT_EQ(MdBitmapAlloc(&b), MERR_INVALID_PARAM);
    b.lPitch[0] = INT64_MAX / 2; // pitch x rows overflows
    EXPECT_EQ(MdBitmapAlloc(&b), MERR_INVALID_PARAM);
    EXPECT_EQ(b.pPlane[0], nullptr);
    b.lPitch[0] = 0;
    b.dwPixelArrayFormat = 0x50000210; // a packed order MBITMAP cannot hold
    EXPECT_EQ(MdBitmapAlloc(&b), MERR_UNSUPPORTED);
    b.dwPixelArrayFormat = 0x50001811;
    b.lPitch[0] = 8;
    b.lPitch[1] = b.lPitch[2] = 1; // chroma rows need 2 bytes
    EXPECT_EQ(MdBitmapAlloc(&b), MERR_INVALID_PARAM);
    EXPECT_EQ(MdBitmapAlloc(nullptr), MERR_INVALID_PARAM);
    EXPECT_EQ(MdBitmapFree(nullptr), MERR_INVALID_PARAM);
}

TEST(Alloc, ReplacesTheOldBlockOnlyAfterTheNewOneExists)
{
    MBITMAP b{};
    b.dwPixelArrayFormat = 0x37001777;
    b.lWidth = 4;
    b.lHeight = 4;
    ASSERT_EQ(MdBitmapAlloc(&b), MOK);
    MByte* old = b.pPlane[0];
    // A refused request leaves the existing block in place and usable.
    b.lPitch[0] = 3;
    EXPECT_EQ(MdBitmapAlloc(&b), MERR_INVALID_PARAM);
    EXPECT_EQ(b.pPlane[0], old);
    old[63] = 1;
    b.lPitch[0] = 0;
    b.lWidth = 8;
    ASSERT_EQ(MdBitmapAlloc(&b), MOK); // the old block is released (LeakSanitizer checks)
    b.pPlane[0][8 * 4 * 4 - 1] = 1;
    MdBitmapFree(&b);
}

MBITMAP makeBitmap(MUInt64 format, MInt64 w, MInt64 h)
{
    MBITMAP b{};
    b.dwPixelArrayFormat = format;
    b.lWidth = w;
    b.lHeight = h;
    EXPECT_EQ(MdBitmapAlloc(&b), MOK);
    return b;
}

TEST(Fill, OpaqueFillSetsColourAndAlphaInsideTheRectangleOnly)
{
    MBITMAP b = makeBitmap(0x37001777, 6, 5);
    const MRECT r{1, 1, 4, 3};
    ASSERT_EQ(MdBitmapFillColor(nullptr, &b, 0x302010, &r, nullptr, 100), MOK);
    for (MInt64 y = 0; y < 5; ++y)
        for (MInt64 x = 0; x < 6; ++x) {
            const MByte* p = b.pPlane[0] + y * b.lPitch[0] + x * 4;
            const bool inside = x >= 1 && x < 4 && y >= 1 && y < 3;
            EXPECT_EQ(p[0], inside ? 0x10 : 0);
            EXPECT_EQ(p[1], inside ? 0x20 : 0);
            EXPECT_EQ(p[2], inside ? 0x30 : 0);
            EXPECT_EQ(p[3], inside ? 255 : 0);
        }
    MdBitmapFree(&b);
}

TEST(Fill, ARectangleWhollyOutsideWritesNothing)
{
    MBITMAP b = makeBitmap(0x16001777, 4, 4);
    std::vector<MByte> before(b.pPlane[0], b.pPlane[0] + b.lPitch[0] * 4);
    for (const MRECT r : {MRECT{10, 0, 20, 4}, MRECT{-9, -9, -1, -1}, MRECT{0, 4, 4, 8}, MRECT{3, 3, 2, 2}}) {
        EXPECT_EQ(MdBitmapFillColor(nullptr, &b, 0xFFFFFF, &r, nullptr, 100), MOK);
        EXPECT_EQ(std::vector<MByte>(b.pPlane[0], b.pPlane[0] + b.lPitch[0] * 4), before);
    }
    MdBitmapFree(&b);
}

TEST(Fill, BlendsByOpacityAndMask)
{
    MBITMAP b = makeBitmap(0x16000777, 2, 1);
    MBITMAP mask = makeBitmap(0x64000000, 1, 1); // covers only pixel 0
    mask.pPlane[0][0] = 255;                     // keep pixel 0
    const MRECT r{0, 0, 2, 1};
    ASSERT_EQ(MdBitmapFillColor(nullptr, &b, 0xC8C8C8, &r, &mask, 50), MOK);
    EXPECT_EQ(b.pPlane[0][0], 0);
    // Outside the mask: 0 + (200 * 50 * 20736) >> 21 = 98.
    EXPECT_EQ(b.pPlane[0][3], 98);
    MBITMAP wrongMask = makeBitmap(0x37001777, 1, 1);
    EXPECT_EQ(MdBitmapFillColor(nullptr, &b, 0, &r, &wrongMask, 50), MERR_INVALID_PARAM);
    MBITMAP pal = makeBitmap(0x44000000, 2, 2);
    EXPECT_EQ(MdBitmapFillColor(nullptr, &pal, 0, &r, nullptr, 100), MERR_UNSUPPORTED);
    EXPECT_EQ(MdBitmapFillColor(nullptr, &b, 0, nullptr, nullptr, 100), MERR_INVALID_PARAM);
    MdBitmapFree(&b);
    MdBitmapFree(&mask);
    MdBitmapFree(&wrongMask);
    MdBitmapFree(&pal);
}

TEST(Fill, SixteenBitPacksTheColour)
{
    MBITMAP b = makeBitmap(0x15000454, 3, 2);
    const MRECT r{0, 0, 3, 2};
    ASSERT_EQ(MdBitmapFillColor(nullptr, &b, 0xFF0000, &r, nullptr, 100), MOK); // c0 = 0x00, c2 = 0xFF
    uint16_t px;
    std::memcpy(&px, b.pPlane[0] + b.lPitch[0] + 2, 2);
    EXPECT_EQ(px, 0x001F);
    MdBitmapFree(&b);
}

TEST(Fill, Yuv420BlendsLumaEverywhereAndChromaPerBlock)
{
    MBITMAP b = makeBitmap(0x50001811, 4, 4);
    const MRECT r{0, 0, 3, 4}; // made even: 0..2
    ASSERT_EQ(MdBitmapFillColor(nullptr, &b, 0xFFFFFF, &r, nullptr, 100), MOK);
    // White in full range is Y 255; the weight at 100 percent is 2073600 / 2^21 of the way.
    EXPECT_EQ(b.pPlane[0][0], (255 * 2073600) >> 21);
    EXPECT_EQ(b.pPlane[0][2], 0); // column 2 lies outside the even rectangle
    EXPECT_EQ(b.pPlane[1][0], (128 * 2073600) >> 21);
    MdBitmapFree(&b);
}

TEST(Mask, MeasuresTheDistanceFromBTowardsA)
{
    MBITMAP src = makeBitmap(0x16000777, 4, 1);
    MBITMAP mask = makeBitmap(0x64000000, 4, 1);
    const MByte pixels[12] = {0, 0, 0, 255, 0, 0, 128, 0, 0, 7, 7, 7};
    std::memcpy(src.pPlane[0], pixels, 12);
    // A = 0xFF0000 (first byte 255), B = 0x000000.
    ASSERT_EQ(MdGetMaskBuffer(&src, 0xFF0000, 0x000000, &mask), MOK);
    EXPECT_EQ(mask.pPlane[0][0], 255);
    EXPECT_EQ(mask.pPlane[0][1], 0);
    EXPECT_EQ(mask.pPlane[0][2], 255 - 128);
    EXPECT_EQ(mask.pPlane[0][3], 255 - 7);
    EXPECT_EQ(MdGetMaskBuffer(&src, 1, 1, &mask), MERR_INVALID_PARAM);
    MBITMAP other = makeBitmap(0x64000000, 3, 1);
    EXPECT_EQ(MdGetMaskBuffer(&src, 1, 2, &other), MERR_INVALID_PARAM);
    MdBitmapFree(&src);
    MdBitmapFree(&mask);
    MdBitmapFree(&other);
}

} // namespace
