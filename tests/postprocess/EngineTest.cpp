// The post-processing engine driven directly: colour conversion against the standards' formulas,
// creation rules, rectangles, alpha, palettes and packed layouts.
#include "MPP.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <vector>

int PPChooseBlockMode(int64_t requested, int64_t dstLayout, int64_t srcLayout, bool srcPalette, bool bilinear,
                      bool oneToOne, uint32_t orientation, bool needRangeTable, bool* specialPlanar);

namespace {

struct Handle {
    PPHandle h = nullptr;
    ~Handle() { MPPDestroy(h); }
};

MResult create(Handle& out, MInt64 dstID, MInt64 dw, MInt64 dh, MInt64 srcID, MInt64 sw, MInt64 sh, PPPara para = {},
               const MByte* palette = nullptr)
{
    PPFormat dst{dstID, dw, dh, nullptr}, src{srcID, sw, sh, palette};
    return MPPCreate(&dst, &src, &para, &out.h);
}

// Reference YUV -> RGB from the standards' matrices (Kr, Kb) in double precision.
std::array<double, 3> yuvToRgb(int y, int cb, int cr, double kr, double kb, bool full)
{
    const double kg = 1 - kr - kb;
    const double yy = full ? y : (y - 16) * 255.0 / 219.0;
    const double pb = full ? cb - 128 : (cb - 128) * 255.0 / 224.0;
    const double pr = full ? cr - 128 : (cr - 128) * 255.0 / 224.0;
    const double r = yy + 2 * (1 - kr) * pr;
    const double b = yy + 2 * (1 - kb) * pb;
    const double g = (yy - kr * r - kb * b) / kg;
    return {std::clamp(r, 0.0, 255.0), std::clamp(g, 0.0, 255.0), std::clamp(b, 0.0, 255.0)};
}

struct StandardCase {
    const char* name;
    MInt64 colorID;
    double kr, kb;
    bool full;
};

class YuvToRgb : public testing::TestWithParam<StandardCase> {};

TEST_P(YuvToRgb, FollowsTheStandardWithinTwo)
{
    const StandardCase& c = GetParam();
    constexpr MInt64 W = 64, H = 48;
    std::mt19937 rng(11);
    // Video-range input stays inside its legal range; full range uses every code.
    std::uniform_int_distribution<int> luma(c.full ? 0 : 16, c.full ? 255 : 235), chroma(c.full ? 0 : 16, c.full ? 255 : 240);
    std::vector<MByte> y(W * H), u(W * H), v(W * H), out(W * H * 4);
    for (MInt64 i = 0; i < W * H; ++i) {
        y[i] = static_cast<MByte>(luma(rng));
        u[i] = static_cast<MByte>(chroma(rng));
        v[i] = static_cast<MByte>(chroma(rng));
    }
    PPPara para{};
    para.lAlpha = 300; // out of range: written as 255
    Handle h;
    ASSERT_EQ(create(h, 0x37001777, W, H, c.colorID, W, H, para), MOK);
    MByte* dst[3] = {out.data(), nullptr, nullptr};
    const MByte* src[3] = {y.data(), u.data(), v.data()};
    const MInt64 dp[3] = {W * 4, 0, 0}, sp[3] = {W, W, W};
    ASSERT_EQ(MPProcess(h.h, dst, nullptr, dp, src, sp), MOK);
    for (MInt64 i = 0; i < W * H; ++i) {
        const auto want = yuvToRgb(y[i], u[i], v[i], c.kr, c.kb, c.full);
        for (int ch = 0; ch < 3; ++ch)
            ASSERT_NEAR(out[i * 4 + ch], want[ch], 2.0)
                << "Y " << int(y[i]) << " Cb " << int(u[i]) << " Cr " << int(v[i]) << " channel " << ch;
        ASSERT_EQ(out[i * 4 + 3], 255);
    }
}

INSTANTIATE_TEST_SUITE_P(Standards, YuvToRgb,
                         testing::Values(StandardCase{"Bt601Video", 0x50000800, 0.299, 0.114, false},
                                         StandardCase{"Bt601Full", 0x50001800, 0.299, 0.114, true},
                                         StandardCase{"Bt709Video", 0x50002800, 0.2126, 0.0722, false},
                                         StandardCase{"Bt709Full", 0x50003800, 0.2126, 0.0722, true}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(RgbToYuv, FollowsBt601FullRangeWithinTwo)
{
    constexpr MInt64 W = 32, H = 16;
    std::mt19937 rng(5);
    std::uniform_int_distribution<int> d(0, 255);
    std::vector<MByte> rgb(W * H * 3), y(W * H), u(W * H), v(W * H);
    for (MByte& b : rgb)
        b = static_cast<MByte>(d(rng));
    Handle h;
    ASSERT_EQ(create(h, 0x50001800, W, H, 0x16001777, W, H), MOK);
    MByte* dst[3] = {y.data(), u.data(), v.data()};
    const MByte* src[3] = {rgb.data(), nullptr, nullptr};
    const MInt64 dp[3] = {W, W, W}, sp[3] = {W * 3, 0, 0};
    ASSERT_EQ(MPProcess(h.h, dst, nullptr, dp, src, sp), MOK);
    for (MInt64 i = 0; i < W * H; ++i) {
        const double r = rgb[i * 3], g = rgb[i * 3 + 1], b = rgb[i * 3 + 2];
        const double yy = 0.299 * r + 0.587 * g + 0.114 * b;
        ASSERT_NEAR(y[i], yy, 2.0);
        ASSERT_NEAR(u[i], std::min(255.0, 128 + (b - yy) / 1.772), 2.0);
        ASSERT_NEAR(v[i], std::min(255.0, 128 + (r - yy) / 1.402), 2.0);
    }
}

TEST(Create, RestoresTheCallersRecordsOnEveryPath)
{
    PPFormat dst{0x37001777, 4, 4, nullptr}, src{0x37001777, 8, 8, nullptr};
    PPPara para{};
    para.lDither = 1;
    PPHandle h = nullptr;
    ASSERT_EQ(MPPCreate(&dst, &src, &para, &h), MOK);
    EXPECT_EQ(dst.lColorID, 0x37001777);
    EXPECT_EQ(src.lColorID, 0x37001777);
    EXPECT_EQ(para.lDither, 1);
    MPPDestroy(h);
    src.lColorID = 0x20001777; // no such class
    EXPECT_EQ(MPPCreate(&dst, &src, &para, &h), MERR_UNSUPPORTED);
    EXPECT_EQ(h, nullptr);
    EXPECT_EQ(dst.lColorID, 0x37001777);
    src.lColorID = 0x37001777;
    src.lWidth = 0;
    EXPECT_EQ(MPPCreate(&dst, &src, &para, &h), MERR_INVALID_PARAM);
    src.lWidth = -8;
    EXPECT_EQ(MPPCreate(&dst, &src, &para, &h), MERR_INVALID_PARAM);
    src.lWidth = 8;
    para.lSrcOriginX = -1;
    EXPECT_EQ(MPPCreate(&dst, &src, &para, &h), MERR_INVALID_PARAM);
    para = PPPara{};
    para.lSrcLeft = 20; // a source rectangle outside the source
    para.lSrcRight = 30;
    para.lSrcBottom = 4;
    EXPECT_EQ(MPPCreate(&dst, &src, &para, &h), MERR_INVALID_PARAM);
    src.lColorID = 0x44000000; // palette without its palette
    para = PPPara{};
    EXPECT_EQ(MPPCreate(&dst, &src, &para, &h), MERR_INVALID_PARAM);
    EXPECT_EQ(MPPCreate(nullptr, &src, &para, &h), MERR_INVALID_PARAM);
    EXPECT_EQ(MPPDestroy(nullptr), MOK);
}

struct BlockRow {
    const char* name;
    int64_t requested, dst, src;
    bool palette, bilinear, one;
    uint32_t orientation;
    bool range;
    int expected;
    bool special;
};

class BlockMode : public testing::TestWithParam<BlockRow> {};

TEST_P(BlockMode, IsChosenByLayoutsAndSteps)
{
    const BlockRow& r = GetParam();
    bool special = !r.special;
    EXPECT_EQ(PPChooseBlockMode(r.requested, r.dst, r.src, r.palette, r.bilinear, r.one, r.orientation, r.range,
                                &special),
              r.expected);
    EXPECT_EQ(special, r.special);
}

INSTANTIATE_TEST_SUITE_P(
    Rules, BlockMode,
    testing::Values(BlockRow{"OutOfRangeIsOne", 7, 256, 256, false, true, false, 0, false, 1, false},
                    BlockRow{"GeneralPlanarForcesOne", 3, 1024, 1025, false, false, false, 0, false, 1, false},
                    BlockRow{"PaletteForcesOne", 2, 256, 256, true, false, false, 0, false, 1, false},
                    BlockRow{"SpecialPlanar", 4, 1025, 1025, false, true, false, 3, false, 4, true},
                    BlockRow{"SpecialPlanarMirrored", 4, 1025, 1025, false, true, false, 2, false, 2, false},
                    BlockRow{"BilinearFourIsTwo", 3, 256, 256, false, true, false, 0, false, 2, false},
                    BlockRow{"NearestFourStays", 3, 256, 256, false, false, false, 0, false, 3, false},
                    BlockRow{"BothNV21Bilinear", 3, 0x70000002, 0x70000002, false, true, false, 0, false, 3, false},
                    BlockRow{"NV12ToRgb", 3, 256, 0x70000003, false, false, false, 0, false, 2, false},
                    BlockRow{"NV12ToI420", 3, 1025, 0x70000003, false, false, false, 0, false, 3, false},
                    BlockRow{"OneToOneRange", 4, 1025, 1025, false, false, true, 0, true, 2, false},
                    BlockRow{"PackedOneToOneKeeps", 3, 513, 1025, false, false, true, 0, false, 3, false}),
    [](const auto& info) { return std::string(info.param.name); });

class Rectangles : public testing::Test {
protected:
    static constexpr MInt64 W = 8, H = 8;
    std::vector<MByte> src = std::vector<MByte>(W * H * 4, 0x44), dst = std::vector<MByte>(W * H * 4, 0);
    MInt64 pitch[3] = {W * 4, 0, 0};
    MByte* d[3] = {dst.data(), nullptr, nullptr};
    const MByte* s[3] = {src.data(), nullptr, nullptr};
    int written() const
    {
        return static_cast<int>(std::count(dst.begin(), dst.end(), MByte{0x44}) / 4);
    }
};

TEST_F(Rectangles, OnePixelWithAutomaticBlocksIsProduced)
{
    Handle h;
    PPPara para{};
    para.lBlockMode = PP_BLOCK_AUTO;
    ASSERT_EQ(create(h, 0x37001777, W, H, 0x37001777, W, H, para), MOK);
    const MRECT r{3, 5, 4, 6};
    ASSERT_EQ(MPProcess(h.h, d, &r, pitch, s, pitch), MOK);
    EXPECT_EQ(written(), 1);
    EXPECT_EQ(dst[(5 * W + 3) * 4], 0x44);
    // The whole target through the automatic split: interior and borders cover every pixel once.
    ASSERT_EQ(MPProcess(h.h, d, nullptr, pitch, s, pitch), MOK);
    EXPECT_EQ(written(), W * H);
}

TEST_F(Rectangles, AreClampedToTheTargetAndOutsideDoNothing)
{
    Handle h;
    ASSERT_EQ(create(h, 0x37001777, W, H, 0x37001777, W, H), MOK);
    const MRECT outside{20, 20, 30, 30};
    ASSERT_EQ(MPProcess(h.h, d, &outside, pitch, s, pitch), MOK);
    EXPECT_EQ(written(), 0);
    const MRECT partly{6, -3, 12, 2};
    ASSERT_EQ(MPProcess(h.h, d, &partly, pitch, s, pitch), MOK);
    EXPECT_EQ(written(), 2 * 2);
    EXPECT_EQ(MPProcess(nullptr, d, nullptr, pitch, s, pitch), MERR_INVALID_PARAM);
    MByte* none[3] = {nullptr, nullptr, nullptr};
    EXPECT_EQ(MPProcess(h.h, none, nullptr, pitch, s, pitch), MERR_INVALID_PARAM);
}

TEST_F(Rectangles, OriginMovedPointersLandOnTheSamePixels)
{
    Handle h;
    ASSERT_EQ(create(h, 0x37001777, W, H, 0x37001777, W, H), MOK);
    const MRECT origin{2, 3, 8, 8};
    MByte* moved[3] = {dst.data() + (3 * W + 2) * 4, nullptr, nullptr};
    const MRECT r{2, 3, 4, 4};
    ASSERT_EQ(MPProcessEx(h.h, moved, &origin, &r, pitch, s, pitch), MOK);
    EXPECT_EQ(written(), 2);
    EXPECT_EQ(dst[(3 * W + 2) * 4], 0x44);
}

TEST(Aspect, FitCentresTheImageAndFillCropsTheSource)
{
    // A 40 x 20 source into a 40 x 40 target: fit uses rows 10..29 and leaves the rest alone.
    std::vector<MByte> src(40 * 20 * 4, 0x66), dst(40 * 40 * 4, 0);
    PPPara para{};
    para.lAspectMode = PP_ASPECT_FIT;
    Handle h;
    ASSERT_EQ(create(h, 0x37001777, 40, 40, 0x37001777, 40, 20, para), MOK);
    MByte* d[3] = {dst.data(), nullptr, nullptr};
    const MByte* s[3] = {src.data(), nullptr, nullptr};
    const MInt64 dp[3] = {160, 0, 0}, sp[3] = {160, 0, 0};
    ASSERT_EQ(MPProcess(h.h, d, nullptr, dp, s, sp), MOK);
    for (MInt64 y = 0; y < 40; ++y)
        EXPECT_EQ(dst[static_cast<size_t>(y * 160 + 80)], (y >= 10 && y < 30) ? 0x66 : 0) << y;
    // Fill: a 40 x 20 source whose left and right quarters differ; a 20 x 20 target shows only
    // the middle half.
    for (MInt64 y = 0; y < 20; ++y)
        for (MInt64 x = 0; x < 40; ++x)
            src[static_cast<size_t>((y * 40 + x) * 4)] = (x < 10 || x >= 30) ? 0xFF : 0x10;
    std::vector<MByte> small(20 * 20 * 4, 0);
    para.lAspectMode = PP_ASPECT_FILL;
    Handle f;
    ASSERT_EQ(create(f, 0x37001777, 20, 20, 0x37001777, 40, 20, para), MOK);
    MByte* d2[3] = {small.data(), nullptr, nullptr};
    const MInt64 dp2[3] = {80, 0, 0};
    ASSERT_EQ(MPProcess(f.h, d2, nullptr, dp2, s, sp), MOK);
    for (MInt64 x = 0; x < 20; ++x)
        EXPECT_EQ(small[static_cast<size_t>((10 * 20 + x) * 4)], 0x10) << x;
}

TEST(Align, MapsRectanglesBothWays)
{
    Handle h;
    PPPara para{};
    para.lResampleMode = PP_RESAMPLE_NEAREST;
    ASSERT_EQ(create(h, 0x37001777, 50, 40, 0x37001777, 100, 80, para), MOK);
    MRECT dst{}, src{20, 10, 60, 50};
    ASSERT_EQ(MPPAlign(h.h, &dst, &src), MOK);
    EXPECT_EQ(dst.left, 10);
    EXPECT_EQ(dst.top, 5);
    EXPECT_EQ(dst.right, 30);
    EXPECT_EQ(dst.bottom, 25);
    MRECT back{};
    ASSERT_EQ(MPPAlign(h.h, &dst, &back), MOK);
    EXPECT_EQ(back.left, 20);
    EXPECT_EQ(back.top, 10);
    EXPECT_GE(back.right, 59);
    EXPECT_GE(back.bottom, 49);
    EXPECT_EQ(MPPAlign(h.h, &dst, &src), MERR_INVALID_PARAM); // both given
}

TEST(Layouts, PaletteIndicesReadHighestBitsFirst)
{
    // Four entries (B, G, R, unused); a 4-bit source of two pixels in one byte: 0x21 is 2 then 1.
    const MByte palette[16 * 4] = {0, 0, 0, 0, 1, 2, 3, 0, 10, 20, 30, 0};
    const MByte src[1] = {0x21};
    MByte out[2 * 3] = {};
    Handle h;
    ASSERT_EQ(create(h, 0x16001777, 2, 1, 0x43000000, 2, 1, PPPara{}, palette), MOK);
    MByte* d[3] = {out, nullptr, nullptr};
    const MByte* s[3] = {src, nullptr, nullptr};
    const MInt64 dp[3] = {6, 0, 0}, sp[3] = {1, 0, 0};
    ASSERT_EQ(MPProcess(h.h, d, nullptr, dp, s, sp), MOK);
    EXPECT_EQ((std::array<int, 6>{out[0], out[1], out[2], out[3], out[4], out[5]}),
              (std::array<int, 6>{30, 20, 10, 3, 2, 1}));
}

TEST(Layouts, PackedYuyvMatchesPlanar)
{
    // Y0 U Y1 V for two pixels (layout order Y, U, Y, V).
    const MByte packed[4] = {50, 90, 60, 170};
    MByte y[2], u[2], v[2];
    Handle h;
    ASSERT_EQ(create(h, 0x50000800, 2, 1, 0x50000010, 2, 1), MOK);
    MByte* d[3] = {y, u, v};
    const MByte* s[3] = {packed, nullptr, nullptr};
    const MInt64 dp[3] = {2, 2, 2}, sp[3] = {4, 0, 0};
    ASSERT_EQ(MPProcess(h.h, d, nullptr, dp, s, sp), MOK);
    EXPECT_EQ((std::array<int, 6>{y[0], y[1], u[0], u[1], v[0], v[1]}), (std::array<int, 6>{50, 60, 90, 90, 170, 170}));
}

TEST(Layouts, VideoToFullRangeGreyStretchesLuma)
{
    const MByte src[3] = {16, 235, 126};
    MByte out[3] = {};
    Handle h;
    ASSERT_EQ(create(h, 0x64001000, 3, 1, 0x64000000, 3, 1), MOK);
    MByte* d[3] = {out, nullptr, nullptr};
    const MByte* s[3] = {src, nullptr, nullptr};
    const MInt64 p[3] = {3, 0, 0};
    ASSERT_EQ(MPProcess(h.h, d, nullptr, p, s, p), MOK);
    EXPECT_EQ(out[0], 0);
    EXPECT_EQ(out[1], 255);
    EXPECT_NEAR(out[2], 128, 1);
}

TEST(Adjustments, BrightnessContrastAndSaturationChangeTheConvertedColour)
{
    // Full-range 4:4:4, one neutral and one coloured pixel.
    const MByte y[2] = {100, 100}, u[2] = {128, 128}, v[2] = {128, 200};
    const auto convert = [&](MInt64 brightness, MInt64 contrast, MInt64 saturation) {
        std::array<MByte, 8> out{};
        PPPara para{};
        para.lBrightness = brightness;
        para.lContrast = contrast;
        para.lSaturation = saturation;
        Handle h;
        EXPECT_EQ(create(h, 0x16001777, 2, 1, 0x50001800, 2, 1, para), MOK);
        MByte* d[3] = {out.data(), nullptr, nullptr};
        const MByte* s[3] = {y, u, v};
        const MInt64 dp[3] = {6, 0, 0}, sp[3] = {2, 2, 2};
        EXPECT_EQ(MPProcess(h.h, d, nullptr, dp, s, sp), MOK);
        return out;
    };
    const auto plain = convert(0, 0, 0);
    EXPECT_EQ(plain[0], 100);
    EXPECT_EQ(convert(20, 0, 0)[0], 120);
    EXPECT_EQ(convert(500, 0, 0)[0], 228); // clamped to +128
    EXPECT_GT(convert(0, 64, 0)[0], 100);  // more contrast lifts luma above black
    const int red = plain[3], moreRed = convert(0, 0, 64)[3], lessRed = convert(0, 0, -128)[3];
    EXPECT_GT(moreRed, red);
    EXPECT_LT(lessRed, red);
}

TEST(Layouts, SixteenBitTargetKeepsTheTopBits)
{
    const MByte src[3] = {0xFF, 0x84, 0x0F}; // R, G, B
    MByte out[2] = {};
    Handle h;
    ASSERT_EQ(create(h, 0x15000454, 1, 1, 0x16001777, 1, 1), MOK);
    MByte* d[3] = {out, nullptr, nullptr};
    const MByte* s[3] = {src, nullptr, nullptr};
    const MInt64 dp[3] = {2, 0, 0}, sp[3] = {3, 0, 0};
    ASSERT_EQ(MPProcess(h.h, d, nullptr, dp, s, sp), MOK);
    EXPECT_EQ(out[0] | (out[1] << 8), (0x1F << 11) | (0x21 << 5) | 0x01);
}

TEST(Helpers, FixedPointAndRectangles)
{
    EXPECT_EQ(MUL16x32_8Bit(512, 65536), 131072);
    EXPECT_EQ(MUL16x32_8Bit(-256, 1000), -1000);
    EXPECT_EQ(MUL16x32_8Bit(384, -200), -300);
    EXPECT_EQ(MGetMaskSize(0xFF00), 8);
    EXPECT_EQ(MGetMaskPos(0xFF00), 8);
    EXPECT_EQ(MGetMaskPos(0), 0);
    MRECT r{1, 2, 3, 4};
    const MRECT bounds{0, 0, 10, 10};
    FlipUpDownRect(&bounds, &r);
    EXPECT_EQ(r.top, 6);
    EXPECT_EQ(r.bottom, 8);
    MFlipLeftRightRect(&bounds, &r);
    EXPECT_EQ(r.left, 7);
    EXPECT_EQ(r.right, 9);
    MSwapRect(&r);
    EXPECT_EQ(r.left, 6);
    EXPECT_EQ(r.top, 7);
    MRECT wide{-5, 3, 20, 30};
    AdjustRect(&wide, &bounds);
    EXPECT_EQ(wide.left, 0);
    EXPECT_EQ(wide.right, 10);
    EXPECT_EQ(wide.bottom, 10);
    MDWord major = 0, minor = 9, build = 0;
    char text[9] = {};
    EXPECT_EQ(PostProcessGetVersionInfo(&major, &minor, &build, text, 9), MOK);
    EXPECT_EQ(major, 1u);
    EXPECT_EQ(build, 8u);
    EXPECT_STREQ(text, "01072013");
}

} // namespace

// A source whose last column and row are only partly image: the target maps onto the covered
// part, so the far target pixels sample inside it instead of being pushed out by a stretch.
TEST(Extent, TargetMapsOntoTheCoveredPartOfTheSource)
{
    // Grey ramp: sample (x, y) = 10 x + y, so a sample's value gives its position.
    constexpr MInt64 SW = 9, SH = 7;
    std::vector<MByte> src(SW * SH);
    for (MInt64 y = 0; y < SH; ++y)
        for (MInt64 x = 0; x < SW; ++x)
            src[y * SW + x] = static_cast<MByte>(10 * x + y);
    // 8.25 x 6.5 covered pixels onto 8 x 6 target pixels, nearest: target column i samples
    // floor(i x 8.25 / 8), row j floor(j x 6.5 / 6); the whole source would give i x 9 / 8.
    PPPara para{};
    para.lResampleMode = PP_RESAMPLE_NEAREST;
    PPFormat dst{0x64000000, 8, 6, nullptr}, sf{0x64000000, SW, SH, nullptr};
    Handle h;
    ASSERT_EQ(MPPCreateWithExtent(&dst, &sf, &para, 8 * 65536 + 16384, 6 * 65536 + 32768, &h.h), MOK);
    std::vector<MByte> out(8 * 6, 0xCD);
    MByte* dp[3] = {out.data(), nullptr, nullptr};
    const MByte* sp[3] = {src.data(), nullptr, nullptr};
    const MInt64 dpitch[3] = {8, 0, 0}, spitch[3] = {SW, 0, 0};
    ASSERT_EQ(MPProcess(h.h, dp, nullptr, dpitch, sp, spitch), MOK);
    for (int j = 0; j < 6; ++j)
        for (int i = 0; i < 8; ++i)
            EXPECT_EQ(out[size_t(j * 8 + i)], 10 * (i * 33 / 32) + (j * 13 / 12)) << i << "," << j;
    // Going back from the target's last column reaches the partly covered one, no further.
    MRECT t{7, 0, 8, 6}, s{};
    ASSERT_EQ(MPPAlign(h.h, &t, &s), MOK);
    EXPECT_EQ(s.left, 7);
    EXPECT_EQ(s.right, 8);

    // Bilinear sampling at pixel centres: 8.5 covered pixels onto 4, so the centre of target
    // column i is source position 2.125 i + 0.5625; the whole source would give 2.25 i + 0.625.
    PPPara bilinear{};
    bilinear.lResampleMode = PP_RESAMPLE_BILINEAR;
    PPFormat one{0x64000000, 4, 1, nullptr}, row{0x64000000, 9, 1, nullptr};
    std::vector<MByte> ramp(9);
    for (int x = 0; x < 9; ++x)
        ramp[size_t(x)] = static_cast<MByte>(20 * x);
    Handle b;
    ASSERT_EQ(MPPCreateWithExtent(&one, &row, &bilinear, 8 * 65536 + 32768, 0, &b.h), MOK);
    std::vector<MByte> four(4);
    MByte* fp[3] = {four.data(), nullptr, nullptr};
    const MByte* rp[3] = {ramp.data(), nullptr, nullptr};
    const MInt64 fpitch[3] = {4, 0, 0}, rpitch[3] = {9, 0, 0};
    ASSERT_EQ(MPProcess(b.h, fp, nullptr, fpitch, rp, rpitch), MOK);
    for (int i = 0; i < 4; ++i)
        EXPECT_NEAR(four[size_t(i)], 20 * (2.125 * i + 0.5625), 1) << i;
}

TEST(Extent, OutsideTheLastPixelOrWithAspectWorkIsRefused)
{
    PPPara para{};
    PPFormat dst{0x64000000, 4, 4, nullptr}, src{0x64000000, 8, 8, nullptr};
    PPHandle h = nullptr;
    // The covered part must reach into the last pixel and not beyond the source.
    EXPECT_EQ(MPPCreateWithExtent(&dst, &src, &para, 7 * 65536, 0, &h), MERR_INVALID_PARAM);
    EXPECT_EQ(MPPCreateWithExtent(&dst, &src, &para, 0, 8 * 65536 + 1, &h), MERR_INVALID_PARAM);
    EXPECT_EQ(MPPCreateWithExtent(&dst, &src, &para, -65536, 0, &h), MERR_INVALID_PARAM);
    EXPECT_EQ(h, nullptr);
    para.lAspectMode = PP_ASPECT_FIT;
    EXPECT_EQ(MPPCreateWithExtent(&dst, &src, &para, 7 * 65536 + 1, 0, &h), MERR_INVALID_PARAM);
    // Whole extents are the plain creation.
    ASSERT_EQ(MPPCreateWithExtent(&dst, &src, &para, 8 * 65536, 8 * 65536, &h), MOK);
    MPPDestroy(h);
}
