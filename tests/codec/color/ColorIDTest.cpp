// Golden rows for the colour ID model: both mapping directions and every describing function.
#include "MdColorID.h"

#include <gtest/gtest.h>

#include <set>

namespace {

TEST(ColorPairTable, KeepsItsOrderAndPairsEveryPrimaryOldIDOnce)
{
    // Spot rows whose position matters: the two rows of old 0x24 and the swapped 0x1F/0x20.
    EXPECT_EQ(g_arrColorPair[0].lNewID, 0x16001777);
    EXPECT_EQ(g_arrColorPair[42].lOldID, 0x20);
    EXPECT_EQ(g_arrColorPair[43].lOldID, 0x1F);
    EXPECT_EQ(g_arrColorPair[44].lNewID, 0x37001777);
    EXPECT_EQ(g_arrColorPair[46].lNewID, 0x37005777);
    EXPECT_EQ(g_arrColorPair[56].lNewID, 0x50000803);
    std::set<MInt64> newIDs;
    for (const MColorPair& row : g_arrColorPair)
        EXPECT_TRUE(newIDs.insert(row.lNewID).second || row.lNewID == 0x50001210 ||
                    row.lNewID == 0x50000210 || row.lNewID == 0x50001010 || row.lNewID == 0x50000010 ||
                    row.lNewID == 0x50001410 || row.lNewID == 0x50000410 || row.lNewID == 0x50001610 ||
                    row.lNewID == 0x50000610)
            << std::hex << row.lNewID;
}

struct MapRow {
    const char* name;
    MUInt64 input;
    MUInt64 expected;
};

class OldToNew : public testing::TestWithParam<MapRow> {};
TEST_P(OldToNew, Maps) { EXPECT_EQ(MdUtilsOldColorID2New(GetParam().input), GetParam().expected); }
INSTANTIATE_TEST_SUITE_P(
    Golden, OldToNew,
    testing::Values(MapRow{"PackedYVYU", 0x07, 0x50001210}, MapRow{"PackedYVYUAgain", 0x0B, 0x50001210},
                    MapRow{"AppBitmap", 0x24, 0x37001777}, MapRow{"Planar420", 0x0F, 0x50001811},
                    MapRow{"Grey", 0x1D, 0x64001000}, MapRow{"Palette8", 0x19, 0x44000000},
                    MapRow{"NoRow", 0x10, 0x10}, MapRow{"NoRow26", 0x26, 0x26},
                    MapRow{"Rgb555", 0x20, 0x15000444}, MapRow{"Bgr555", 0x1F, 0x15001444}),
    [](const auto& info) { return std::string(info.param.name); });

class NewToOld : public testing::TestWithParam<MapRow> {};
TEST_P(NewToOld, Maps) { EXPECT_EQ(MdUtilsNewColorID2Old(GetParam().input), GetParam().expected); }
INSTANTIATE_TEST_SUITE_P(
    Golden, NewToOld,
    testing::Values(MapRow{"PrimaryYVYU", 0x50001210, 0x07}, MapRow{"SecondaryYVYU", 0x50000210, 0x07},
                    MapRow{"SecondAppRow", 0x37005777, 0x24}, MapRow{"VideoGrey", 0x64000000, 0x1D},
                    MapRow{"AppBitmap", 0x37001777, 0x24}, MapRow{"Argb", 0x37000777, 0x25},
                    MapRow{"Unknown", 0x37004777, 0x37004777}, MapRow{"Video420", 0x50000811, 0x0F}),
    [](const auto& info) { return std::string(info.param.name); });

struct DescRow {
    const char* name;
    MUInt64 id;
    MResult result;
    MUInt64 hor, ver, bits, planes, step;
};

class DescribeNew : public testing::TestWithParam<DescRow> {};
TEST_P(DescribeNew, Describes)
{
    const DescRow& r = GetParam();
    const MUInt64 untouched = 0xDEAD;
    MUInt64 h = untouched, v = untouched, b = untouched, p = untouched, s = untouched;
    ASSERT_EQ(MdUtilsFormatColorIDEx(r.id, &h, &v, &b, &p, &s), r.result);
    if (r.result != MOK) {
        for (MUInt64 x : {h, v, b, p, s})
            EXPECT_EQ(x, untouched);
        return;
    }
    EXPECT_EQ(h, r.hor);
    EXPECT_EQ(v, r.ver);
    EXPECT_EQ(b, r.bits);
    EXPECT_EQ(p, r.planes);
    EXPECT_EQ(s, r.step);
    // The short form agrees and every output is optional.
    MUInt64 h2 = 0, p2 = 0;
    EXPECT_EQ(MdUtilsFormatColorID(r.id, &h2, nullptr, nullptr, &p2), MOK);
    EXPECT_EQ(h2, r.hor);
    EXPECT_EQ(p2, r.planes);
}
INSTANTIATE_TEST_SUITE_P(
    Golden, DescribeNew,
    testing::Values(DescRow{"AppBitmap", 0x37001777, MOK, 1, 1, 32, 1, 1},
                    DescRow{"Rgb565", 0x15000454, MOK, 1, 1, 16, 1, 1},
                    DescRow{"Rgb888", 0x16000777, MOK, 1, 1, 24, 1, 1},
                    DescRow{"BadBitsCode", 0x32001777, MERR_UNSUPPORTED, 0, 0, 0, 0, 0},
                    DescRow{"Full420", 0x50001811, MOK, 2, 2, 8, 3, 1},
                    DescRow{"Std2Ignored", 0x50002811, MOK, 2, 2, 8, 3, 1},
                    DescRow{"Unknown812", 0x50000812, MERR_UNSUPPORTED, 0, 0, 0, 0, 0},
                    DescRow{"Packed422", 0x50000610, MOK, 1, 1, 16, 1, 1},
                    DescRow{"Packed444", 0x50000400, MOK, 1, 1, 24, 1, 1},
                    DescRow{"Quarter440", 0x50000803, MOK, 1, 4, 8, 3, 1},
                    DescRow{"Third", 0x50000820, MOK, 3, 1, 8, 3, 1},
                    DescRow{"Grey", 0x64000000, MOK, 1, 1, 8, 1, 1},
                    DescRow{"SemiPlanar", 0x70000002, MOK, 2, 2, 8, 3, 2},
                    DescRow{"PaletteByLastRule", 0x44000000, MOK, 2, 2, 8, 3, 2}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(DescribeOld, ReturnsTheNewIDAndDescribesThePlanes)
{
    MUInt64 h = 0, v = 0, b = 0, p = 0;
    EXPECT_EQ(MdUtilsFormatOldColorID(0x0F, &h, &v, &b, &p), 0x50001811u);
    EXPECT_EQ((std::array<MUInt64, 4>{h, v, b, p}), (std::array<MUInt64, 4>{2, 2, 8, 3}));
    EXPECT_EQ(MdUtilsFormatOldColorID(0x19, &h, &v, &b, &p), 0x44000000u);
    EXPECT_EQ((std::array<MUInt64, 4>{h, v, b, p}), (std::array<MUInt64, 4>{1, 1, 8, 1}));
    EXPECT_EQ(MdUtilsFormatOldColorID(0x24, nullptr, nullptr, &b, nullptr), 0x37001777u);
    EXPECT_EQ(b, 32u);
    EXPECT_EQ(MdUtilsFormatOldColorID(0x2B, &h, &v, &b, &p), 0x50001803u);
    EXPECT_EQ((std::array<MUInt64, 4>{h, v, b, p}), (std::array<MUInt64, 4>{1, 4, 8, 3}));
    // Large values are described as new IDs and returned unchanged.
    EXPECT_EQ(MdUtilsFormatOldColorID(0x37001777, &h, &v, &b, &p), 0x37001777u);
    EXPECT_EQ(b, 32u);
    EXPECT_EQ(MdUtilsFormatOldColorID(0x70001003, &h, &v, &b, &p), 0x70001003u);
    EXPECT_EQ((std::array<MUInt64, 4>{h, v, b, p}), (std::array<MUInt64, 4>{2, 2, 8, 3}));
}

TEST(DepthAndPlanes, FollowTheOldNumbering)
{
    EXPECT_EQ(MdUtilsGetColorDepth(0x0F), 0u);
    EXPECT_EQ(MdUtilsGetColorDepth(0x24), 32u);
    EXPECT_EQ(MdUtilsGetColorDepth(0x01), 24u);
    EXPECT_EQ(MdUtilsGetColorDepth(0x1E), 16u);
    EXPECT_EQ(MdUtilsGetColorDepth(0x18), 4u);
    EXPECT_EQ(MdUtilsGetColorDepth(0x37001777), 0u);
    EXPECT_EQ(MUtilsGetColorSpacePanes(0x01), 1u);
    EXPECT_EQ(MUtilsGetColorSpacePanes(0x12), 1u);
    EXPECT_EQ(MUtilsGetColorSpacePanes(0x25), 1u);
    EXPECT_EQ(MUtilsGetColorSpacePanes(0x0F), 3u);
    EXPECT_EQ(MUtilsGetColorSpacePanes(0x15), 3u);
    EXPECT_EQ(MUtilsGetColorSpacePanes(0x07), 0u);
    EXPECT_EQ(MUtilsGetColorSpacePanes(0x10), 0u);
    EXPECT_EQ(MUtilsGetColorSpacePanes(0x26), 0u);
}

TEST(PixelDescription, FillsMasksOrRefuses)
{
    MPixelDesc d;
    EXPECT_EQ(MUtilsFormat2MPixel(0x07, &d), MERR_UNSUPPORTED);
    EXPECT_EQ(d.dwColorID, 0u);
    EXPECT_EQ(MUtilsFormat2MPixel(0x0F, &d), MOK);
    EXPECT_EQ(d.dwColorID, 0x0Fu);
    EXPECT_EQ(d.dwBitsPerPixel, 0u);
    EXPECT_EQ(MUtilsFormat2MPixel(0x05, &d), MOK);
    EXPECT_EQ(d.dwBitsPerPixel, 16u);
    EXPECT_EQ(d.dwMask[0], 0x1Fu);
    EXPECT_EQ(d.dwMask[2], 0xF800u);
    EXPECT_EQ(MUtilsFormat2MPixel(0x50000813, &d), MOK);
    EXPECT_EQ(d.dwColorID, 0x50000813u);
    EXPECT_EQ(MUtilsFormat2MPixel(0x50000811, &d), MERR_UNSUPPORTED);
    EXPECT_EQ(MUtilsFormat2MPixel(0x01, nullptr), MERR_INVALID_PARAM);
}

} // namespace
