// The encoding road driven through a test encoder component: band conversion through the
// post-processing engine, the monochrome path and the encoder wrapper's properties.
#include <gtest/gtest.h>

#include <cstring>

#include "MCodec.h"
#include "MIDec.h"
#include "MMemory.h"
#include "framework_test_support.h"

using namespace fwtest;

namespace {

// What the test encoder received.
struct Received {
    uint64_t colour = 0;
    uint64_t rewriteTo = 0;
    std::vector<int64_t> bands;
    std::vector<std::vector<uint8_t>> rows; // plane 0 rows as handed over
    int64_t rowBytes = 0;
    int64_t quality = 0;
};
Received g_rx;

struct TestEncoder {
    MDecComponentHead head;
    MDecComponentFuncs table;
};

MResult encInit(MHandle, MVoid* rec) {
    auto* p = static_cast<MCodecEncParam*>(rec);
    return p && p->lWidth > 0 ? MOK : MERR_INVALID_PARAM;
}
MResult encDestroy(MHandle h) {
    MMemFree(nullptr, h);
    return MOK;
}
MResult encType(MHandle, MUInt64* id) {
    *id = 0x81002202;
    return MOK;
}
MResult encVersion(MHandle, MUInt64*, MUInt64*, MUInt64*, MChar*, MInt64) { return MOK; }
MResult encGet(MHandle, MInt64 id, MVoid* v, MInt64 n) {
    if (id == 1 && n == 8) {
        int64_t one = 1;
        std::memcpy(v, &one, 8);
        return MOK;
    }
    return MERR_INVALID_PARAM;
}
MResult encSet(MHandle, MInt64 id, MVoid* v, MInt64 n) {
    if (id == 0x2002 && n == 8) {
        std::memcpy(&g_rx.colour, v, 8);
        if (g_rx.rewriteTo) std::memcpy(v, &g_rx.rewriteTo, 8), g_rx.colour = g_rx.rewriteTo;
        return MOK;
    }
    if (id == 0x2101) {
        std::memcpy(&g_rx.quality, v, 8);
        return MOK;
    }
    return MOK;
}
MResult encLines(MHandle, MByte** planes, MInt64* pitches, MInt64 n) {
    g_rx.bands.push_back(n);
    for (int64_t y = 0; y < n; ++y)
        g_rx.rows.emplace_back(planes[0] + y * pitches[0], planes[0] + y * pitches[0] + g_rx.rowBytes);
    return MOK;
}

MResult encCreate(AMCMHandle m, MHandle* out) {
    auto* e = static_cast<TestEncoder*>(MMemAlloc(nullptr, sizeof(TestEncoder)));
    e->table = {encInit, encDestroy, encType, encVersion, encGet, encSet,
                reinterpret_cast<MDEC_FNDECSCANLINES>(reinterpret_cast<void*>(encLines))};
    e->head.pFuncs = &e->table;
    e->head.hAMCM = m;
    *out = e;
    return MOK;
}

} // namespace

TEST(EncoderRoad, RgbaIntoYuvInBandsOf32) {
    Manager m;
    ASSERT_EQ(AMCM_RegisterEx(m.h, 0x81002202, 0x2000000, 2, 3, encCreate), MOK);
    g_rx = {};
    g_rx.rewriteTo = 0x0F; // the encoder works in planar 4:2:0
    g_rx.rowBytes = 16;
    MHandle enc = nullptr;
    ASSERT_EQ(MIEnc_Create(m.h, nullptr, 2, 16, 70, 0x37001777, &enc), MOK);
    int64_t q = 0;
    EXPECT_EQ(MIEnc_GetProp(enc, 0x2101, &q, 8), MOK);
    EXPECT_EQ(q, 80);
    int64_t bad = 0x1234;
    EXPECT_EQ(MIEnc_SetProp(enc, 5, &bad, 8), MERR_INVALID_PARAM);
    std::vector<uint8_t> block(65536);
    EXPECT_EQ(MIEnc_SetProp(enc, 0x2102, block.data(), 0), MERR_INVALID_PARAM);
    EXPECT_EQ(MIEnc_SetProp(enc, 0x2102, block.data(), 65536), MERR_INVALID_PARAM);
    EXPECT_EQ(MIEnc_SetProp(enc, 0x2102, block.data(), 65535), MOK);
    int64_t q2 = 60;
    EXPECT_EQ(MIEnc_SetProp(enc, 0x2101, &q2, 8), MOK);
    EXPECT_EQ(g_rx.quality, 60);
    // Grey RGBA rows: luma equals the grey level in full range.
    std::vector<uint8_t> rgba(16 * 70 * 4);
    for (int y = 0; y < 70; ++y)
        for (int x = 0; x < 16; ++x)
            for (int c = 0; c < 3; ++c) rgba[(y * 16 + x) * 4 + c] = uint8_t(y * 3);
    MByte* planes[3] = {rgba.data(), nullptr, nullptr};
    MInt64 pitches[3] = {64, 0, 0}, count = 70;
    ASSERT_EQ(MIEnc_Scanlines(enc, planes, pitches, &count), MOK);
    ASSERT_EQ(g_rx.bands, (std::vector<int64_t>{32, 32, 6}));
    ASSERT_EQ(g_rx.rows.size(), 70u);
    for (int y = 0; y < 70; ++y) EXPECT_NEAR(g_rx.rows[size_t(y)][5], y * 3, 2) << y;
    EXPECT_EQ(MIEnc_Destroy(enc), MOK);
}

TEST(EncoderRoad, MonochromeFromTwentyFourBits) {
    Manager m;
    ASSERT_EQ(AMCM_RegisterEx(m.h, 0x81002202, 0x2000000, 1, 3, encCreate), MOK);
    g_rx = {};
    g_rx.rowBytes = 4;
    MHandle enc = nullptr;
    ASSERT_EQ(MIEnc_Create(m.h, nullptr, 1, 9, 2, 0x41000000, &enc), MOK);
    uint64_t in = 0x16000777;
    ASSERT_EQ(MIEnc_SetProp(enc, 3, &in, 8), MOK);
    EXPECT_EQ(in, 0x16000777u);
    // Row 0 grey 128 (luma 32,896 >> 8 = 128: set), row 1 grey 127 (clear).
    std::vector<uint8_t> rgb(2 * 28, 0);
    for (int x = 0; x < 9; ++x) {
        for (int c = 0; c < 3; ++c) {
            rgb[size_t(x * 3 + c)] = 128;
            rgb[size_t(28 + x * 3 + c)] = 127;
        }
    }
    MByte* planes[3] = {rgb.data(), nullptr, nullptr};
    MInt64 pitches[3] = {28, 0, 0}, count = 2;
    ASSERT_EQ(MIEnc_Scanlines(enc, planes, pitches, &count), MOK);
    ASSERT_EQ(g_rx.rows.size(), 2u);
    EXPECT_EQ(g_rx.rows[0][0], 0xFF);
    EXPECT_EQ(g_rx.rows[0][1], 0x80);
    EXPECT_EQ(g_rx.rows[1][0], 0x00);
    EXPECT_EQ(g_rx.rows[1][1], 0x00);
    MIEnc_Destroy(enc);
}
