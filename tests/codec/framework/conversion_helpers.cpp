// The conversion control's choice of engine, the scanline driver's small helpers and the
// encoder road without an encoder component.
#include <gtest/gtest.h>

#include "MCodec.h"
#include "MIDec.h"
#include "framework_test_support.h"

using namespace fwtest;

namespace {

MCC make(AMCMHandle m, uint64_t dst, uint64_t src, int64_t alphaRule) {
    int64_t param[11] = {};
    param[10] = 255;
    MRECT rc{0, 0, 8, 4};
    return MCC_Init(m, param, &rc, &dst, &rc, &src, 0, 0, alphaRule);
}

} // namespace

TEST(ConversionControl, EngineChoice) {
    Manager m;
    struct Row {
        uint64_t dst, src;
        int64_t rule;
        int64_t line;
    } rows[] = {
        {0x1D, 0x1D, 0, 1},  // grey to grey: line converter
        {0x24, 0x02, 1, 0},  // RGB to RGBA under the alpha rule: engine
        {0x24, 0x02, 0, 1},  // ... without it: line converter
        {0x24, 0x19, 1, 1},  // palette sources keep the line converter
        {0x24, 0x0F, 0, 0},  // planar YUV: engine
        {0x02, 0x02, 0, 0},  // equal pair other than grey: engine
    };
    for (const auto& r : rows) {
        MCC c = make(m.h, r.dst, r.src, r.rule);
        ASSERT_NE(c, nullptr) << std::hex << r.src << "->" << r.dst;
        EXPECT_EQ(MCC_UsesLineConverter(c), r.line) << std::hex << r.src << "->" << r.dst;
        if (!r.line) {
            EXPECT_EQ(MCC_SetTransColor(c, 3), MERR_UNSUPPORTED);
            EXPECT_EQ(MCC_SetFillMode(c, 1), MERR_UNSUPPORTED);
        }
        MCC_Release(c);
    }
    EXPECT_EQ(MCC_SetFillMode(nullptr, 1), MERR_UNSUPPORTED);
    EXPECT_EQ(MCC_Align(nullptr, nullptr, nullptr), MERR_INVALID_PARAM);
    MCC_Release(nullptr);
    // RGB to RGBA by line converter: one row converted, alpha opaque.
    MCC c = make(m.h, 0x24, 0x02, 0);
    uint8_t src[8 * 3], dst[8 * 4] = {};
    for (int i = 0; i < 24; ++i) src[i] = uint8_t(i * 9);
    MByte* s[3] = {src, nullptr, nullptr};
    MByte* d[3] = {dst, nullptr, nullptr};
    MInt64 sp[3] = {24, 0, 0}, dp[3] = {32, 0, 0};
    MRECT one{0, 0, 8, 1};
    ASSERT_EQ(MCC_Process(c, d, &one, dp, nullptr, s, sp), MOK);
    for (int x = 0; x < 8; ++x) {
        EXPECT_EQ(dst[4 * x], src[3 * x + 2]);
        EXPECT_EQ(dst[4 * x + 2], src[3 * x]);
        EXPECT_EQ(dst[4 * x + 3], 255);
    }
    MCC_Release(c);
}

TEST(DriverHelpers, ReductionResamplingAndYuvTables) {
    MInt64 size[2], shift = -1;
    GetDecodeScaleSize(4000, 3000, 4000, 3000, 500, 375, size, &shift);
    EXPECT_EQ(shift, 3);
    EXPECT_EQ(size[0], 500);
    GetDecodeScaleSize(4000, 3000, 4000, 3000, 1001, 751, size, &shift);
    EXPECT_EQ(shift, 1);
    EXPECT_EQ(size[0], 2000);
    GetDecodeScaleSize(15, 2000, 15, 2000, 1, 100, size, &shift);
    EXPECT_EQ(shift, 0);
    GetDecodeScaleSize(100, 100, 100, 100, 5, 5, size, &shift);
    EXPECT_EQ(shift, 3);
    EXPECT_EQ(size[0], 13);
    // An eighth of a picture that is no multiple of eight, rounded up as the reduced decode gives
    // it, is that decode: not a quarter resampled down.
    GetDecodeScaleSize(22500, 33300, 22500, 33300, 2813, 4163, size, &shift);
    EXPECT_EQ(shift, 3);
    EXPECT_EQ(size[0], 2813);
    EXPECT_EQ(size[1], 4163);

    MInt64 alg = 8;
    const MInt64 big[3] = {0, 100, 100}, small[3] = {0, 50, 50};
    s_SetReizeAlgorithm(&alg, small, big);
    EXPECT_EQ(alg, 2);
    alg = 8;
    s_SetReizeAlgorithm(&alg, big, small);
    EXPECT_EQ(alg, 1);
    alg = 1;
    s_SetReizeAlgorithm(&alg, small, big);
    EXPECT_EQ(alg, 1);
    EXPECT_EQ(s_SetReizeAlgorithm(nullptr, small, big), MERR_INVALID_PARAM);

    uint8_t Y[4] = {0, 10, 200, 255}, U[2] = {100, 250}, V[2] = {100, 5};
    MInt64 t1[256] = {}, t2[256] = {};
    t1[0] = 10;
    t1[200] = 10;
    t2[0] = -200;
    t2[200] = -20;
    MByte* planes[3] = {Y, U, V};
    MInt64 pitches[3] = {4, 2, 2};
    ASSERT_EQ(s_YUVAdjustWithTable(planes, pitches, 4, 1, 0x50000810, t1, t2, 2, 1), MOK);
    EXPECT_EQ(U[0], 110);
    EXPECT_EQ(U[1], 255);
    EXPECT_EQ(V[0], 0);
    EXPECT_EQ(V[1], 0);
    // Other colours are left alone.
    ASSERT_EQ(s_YUVAdjustWithTable(planes, pitches, 4, 1, 0x37001777, t1, t2, 2, 1), MOK);
    EXPECT_EQ(U[0], 110);
}

TEST(EncoderRoad, NothingToEncodeWithout) {
    Manager m;
    MHandle enc = nullptr;
    EXPECT_EQ(MIEnc_CreateEx(m.h, nullptr, 2, 8, 8, 0x37001777, nullptr, nullptr, nullptr, &enc), MERR_UNSUPPORTED);
    EXPECT_EQ(MIEnc_Create(m.h, nullptr, 2, 8, 8, 0x37001777, &enc), MERR_NO_CODEC);
    EXPECT_EQ(enc, nullptr);
    EXPECT_EQ(MIEnc_GetProp(nullptr, 2, nullptr, 16), MERR_INVALID_PARAM);
    EXPECT_EQ(MIEnc_Destroy(nullptr), MERR_INVALID_PARAM);
    MCodecEncParam zero{nullptr, 0, 8, 0x02, 100, 100};
    EXPECT_EQ(MCodec_EncodeCreate(m.h, &zero, 2, 0, &enc), MERR_INVALID_PARAM);
}
