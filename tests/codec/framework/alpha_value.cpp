// The alpha byte of 32-bit targets decoded from images without alpha: opaque by default, the
// codec's alpha value (property 0x1803) when one is set, on the line path and the zoom path.
#include <gtest/gtest.h>

#include "MdComponent.h"
#include "framework_test_support.h"

using namespace fwtest;

namespace {

constexpr uint64_t kRGBA = 0x24, kBGRA = 0x25;

// Decodes through MCodec into a 4-byte colour, pre-filled with 0xCD so that an alpha byte left
// alone shows. zoom: ask for the whole image through the output region (JPEG zoom path).
MResult decode(AMCMHandle m, const Bytes& file, uint64_t color, int64_t alpha, bool zoom, Image* out) {
    Stream st(file);
    MHandle codec = nullptr;
    MResult r = MCodec_DecodeCreate(m, st.s, 0, &codec);
    if (r != MOK) return r;
    if (alpha >= 0) r = MCodec_SetProp(codec, 0x1803, &alpha, 8);
    int64_t wh[2] = {};
    if (r == MOK) r = MCodec_GetProp(codec, 2, wh, 16);
    if (r == MOK && zoom) {
        MRECT rc{0, 0, wh[0], wh[1]};
        r = MCodec_SetProp(codec, MCODEC_PROP_OUT_REGION, &rc, 32);
        if (r == MOK) r = MCodec_SetProp(codec, 0x1007, wh, 16);
    }
    if (r == MOK) r = MCodec_SetProp(codec, 3, &color, 8);
    if (r == MOK) {
        *out = Image{int(wh[0]), int(wh[1]), 4, std::vector<uint8_t>(size_t(wh[0]) * wh[1] * 4, 0xCD)};
        MByte* planes[3] = {out->px.data(), nullptr, nullptr};
        MInt64 pitches[3] = {wh[0] * 4, 0, 0};
        MInt64 first = 0, count = wh[1];
        r = MCodec_DecodeScanlines(codec, planes, pitches, &first, &count);
        if (r == MOK && count != wh[1]) r = 1;
    }
    MCodec_Destroy(codec);
    return r;
}

// Index of the first pixel whose alpha byte is not `want`, or -1.
int firstWrongAlpha(const Image& img, uint8_t want) {
    for (size_t i = 3; i < img.px.size(); i += 4)
        if (img.px[i] != want) return int(i / 4);
    return -1;
}

} // namespace

TEST(AlphaValue, TwentyFourBitBmpComesOutOpaque) {
    Manager m;
    const Image rgb = makeImage(37, 23, 3, 11);
    const Bytes bmp = encodeBmp24(rgb);
    const Image ref = referenceRgba(bmp);
    for (uint64_t color : {kRGBA, kBGRA}) {
        SCOPED_TRACE(color);
        Image out;
        ASSERT_EQ(decode(m.h, bmp, color, -1, false, &out), MOK);
        EXPECT_EQ(firstWrongAlpha(out, 0xFF), -1);
        if (color == kRGBA) EXPECT_EQ(compareRgb(out, ref).max, 0);
    }
}

TEST(AlphaValue, ImagesWithoutAlphaTakeTheCodecsAlphaValue) {
    Manager m;
    const Image rgb = makeSmooth(40, 24, 3);
    const std::pair<const char*, Bytes> files[] = {
        {"jpeg 4:2:0", encodeJpeg(rgb, 2)}, {"jpeg 4:4:4", encodeJpeg(rgb, 0)},
        {"jpeg grey", encodeJpeg(rgb, 3)},  {"bmp 24", encodeBmp24(rgb)}};
    for (const auto& [name, file] : files) {
        const bool isJpeg = name[0] == 'j';
        for (bool zoom : {false, true}) {
            if (zoom && !isJpeg) continue;
            Image plain;
            ASSERT_EQ(decode(m.h, file, kRGBA, -1, zoom, &plain), MOK) << name;
            EXPECT_EQ(firstWrongAlpha(plain, 0xFF), -1) << name << " zoom " << zoom;
            for (int64_t alpha : {0, 128, 255}) {
                SCOPED_TRACE(std::string(name) + (zoom ? " zoom" : " lines") + " alpha " + std::to_string(alpha));
                Image out;
                ASSERT_EQ(decode(m.h, file, kRGBA, alpha, zoom, &out), MOK);
                EXPECT_EQ(firstWrongAlpha(out, uint8_t(alpha)), -1);
                // The colour bytes do not depend on the alpha value.
                EXPECT_EQ(compareRgb(out, plain).max, 0);
            }
        }
    }
}

TEST(AlphaValue, SourcesWithAlphaKeepTheirOwn) {
    Manager m;
    const Image rgba = makeImage(19, 7, 4, 5);
    Image out;
    ASSERT_EQ(decode(m.h, encodePng(rgba), kRGBA, 128, false, &out), MOK);
    for (size_t i = 3; i < out.px.size(); i += 4) ASSERT_EQ(out.px[i], rgba.px[i]) << i / 4;
}

TEST(AlphaValue, AlphaSetAfterTheOutputColourStillCounts) {
    Manager m;
    const Bytes jpeg = encodeJpeg(makeSmooth(24, 16, 7), 2);
    Stream st(jpeg);
    MHandle codec = nullptr;
    ASSERT_EQ(MCodec_DecodeCreate(m.h, st.s, 0, &codec), MOK);
    uint64_t color = kRGBA;
    int64_t alpha = 77;
    ASSERT_EQ(MCodec_SetProp(codec, 3, &color, 8), MOK);
    ASSERT_EQ(MCodec_SetProp(codec, 0x1803, &alpha, 8), MOK);
    Image out{24, 16, 4, std::vector<uint8_t>(24 * 16 * 4, 0xCD)};
    MByte* planes[3] = {out.px.data(), nullptr, nullptr};
    MInt64 pitches[3] = {24 * 4, 0, 0};
    MInt64 first = 0, count = 16;
    EXPECT_EQ(MCodec_DecodeScanlines(codec, planes, pitches, &first, &count), MOK);
    MCodec_Destroy(codec);
    EXPECT_EQ(firstWrongAlpha(out, 77), -1);
}
