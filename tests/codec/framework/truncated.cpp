// Every prefix of a file decodes through the whole framework without a fault: creation or
// decoding fails with a code, or what was decoded is delivered.
#include <gtest/gtest.h>

#include "MIDec.h"
#include "framework_test_support.h"

using namespace fwtest;

namespace {

void decodePrefix(AMCMHandle m, const Bytes& file, size_t n) {
    Bytes prefix(file.begin(), file.begin() + ptrdiff_t(n));
    Image out;
    const MResult r = decodeLines(m, prefix, 0x24, 4, &out);
    if (n < 8) EXPECT_NE(r, MOK) << n;
    // The zoom path and the wrapper walk the same bytes another way.
    Stream st(prefix);
    MHandle codec = nullptr;
    if (MCodec_CreateDecoderEx(m, st.s, 0, nullptr, nullptr, 0, &codec) == MOK) {
        uint64_t rgba = 0x24;
        MCodec_SetProp(codec, 3, &rgba, 8);
        std::vector<uint8_t> buf(64 * 64 * 4);
        MCodec_DecodeData(codec, nullptr, buf.data(), 64 * 4, 0.5);
        MCodec_Destroy(codec);
    }
    Stream st2(prefix);
    MHandle dec = nullptr;
    if (MIDec_Create(m, st2.s, 0, &dec) == MOK) {
        int64_t wh[2] = {};
        if (MIDec_GetProp(dec, 0x1007, wh, 16) == MOK && wh[0] > 0 && wh[1] > 0 && wh[0] * wh[1] < 1 << 20) {
            std::vector<uint8_t> buf(size_t(wh[0] * wh[1] * 4) + 64);
            MByte* planes[3] = {buf.data(), nullptr, nullptr};
            MInt64 pitches[3] = {wh[0] * 4, 0, 0}, start = 0, count = wh[1];
            uint64_t color = 0x37001777;
            if (MIDec_SetProp(dec, 3, &color, 8) == MOK) MIDec_Scanlines(dec, planes, pitches, &start, &count);
        }
        MIDec_Destroy(dec);
    }
}

} // namespace

TEST(Truncated, EveryPrefixFailsCleanly) {
    Manager m;
    const Image rgb = makeImage(19, 13, 3, 21);
    const std::pair<const char*, Bytes> files[] = {
        {"bmp24", encodeBmp24(rgb)},        {"bmp8 rle", encodeBmp8(rgb, true)}, {"png", encodePng(rgb)},
        {"png interlaced", encodePng(rgb, true)}, {"gif", encodeGif(rgb, 2, 3, 0)},
        {"jpeg 4:2:0", encodeJpeg(rgb, 2, 80)}, {"jpeg grey", encodeJpeg(makeImage(19, 13, 1, 22), 3, 80)},
    };
    for (const auto& [name, file] : files) {
        SCOPED_TRACE(name);
        for (size_t n = 0; n < file.size(); ++n) decodePrefix(m.h, file, n);
    }
}

// A JPEG of a few hundred bytes whose frame header declares 63,551 x 37,424 pixels, progressive
// or not: refused when it is opened, as every road would otherwise make all 2.4 gigapixels of it
// for a thumbnail, for minutes. The same picture at its own size still decodes.
TEST(Truncated, KilobyteDeclaringGigapixelsIsRefusedAtOnce) {
    Manager m;
    const Bytes small = encodeJpeg(makeImage(19, 13, 3, 23), 2, 80);
    for (bool progressive : {false, true}) {
        SCOPED_TRACE(progressive);
        Bytes file = small;
        size_t sof = 2;
        while (sof + 9 < file.size() && !(file[sof] == 0xFF && file[sof + 1] == 0xC0)) ++sof;
        ASSERT_LT(sof + 9, file.size());
        if (progressive) file[sof + 1] = 0xC2;
        // SOF: length, precision, then height and width (T.81 B.2.2).
        file[sof + 5] = 0x92, file[sof + 6] = 0x30, file[sof + 7] = 0xF8, file[sof + 8] = 0x3F;
        Stream st(file);
        MHandle dec = nullptr;
        EXPECT_NE(MIDec_Create(m.h, st.s, 0, &dec), MOK);
        if (dec) MIDec_Destroy(dec);
    }
    Stream st(small);
    MHandle dec = nullptr;
    ASSERT_EQ(MIDec_Create(m.h, st.s, 0, &dec), MOK);
    MIDec_Destroy(dec);
}
