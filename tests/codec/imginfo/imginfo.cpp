// Sniffing, header readers, the EXIF thumbnail walk, the GIF animation test and the name checks.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "MStream.h"
#include "MdImgInfo.h"

namespace {

using Bytes = std::vector<uint8_t>;

Bytes operator+(Bytes a, const Bytes& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}
Bytes str(const char* s) { return Bytes(s, s + std::strlen(s)); }
Bytes le16(uint32_t v) { return {uint8_t(v), uint8_t(v >> 8)}; }
Bytes le32(uint32_t v) { return le16(v & 0xFFFF) + le16(v >> 16); }
Bytes be16(uint32_t v) { return {uint8_t(v >> 8), uint8_t(v)}; }
Bytes be32(uint32_t v) { return be16(v >> 16) + be16(v & 0xFFFF); }

struct Info {
    MResult r;
    ImgFormat type = 77;
    MdImgSize size{-1, -1};
    int64_t detail = -1, bits = -1;
};

Info info(Bytes data, bool thumb = false, const char* name = nullptr, bool viaFileInfo = false) {
    Info i;
    MSTREAM s = MStreamOpenFromMemoryBlock(data.empty() ? nullptr : data.data(), int64_t(data.size()));
    MStreamSeek(s, 0, data.size() > 3 ? 3 : 0);
    const int64_t before = MStreamTell(s);
    if (viaFileInfo)
        i.r = MImgGetFileInfoWithFileName(nullptr, s, name, &i.type, &i.size, &i.detail, &i.bits);
    else if (thumb)
        i.r = MdUtilsGetThumbImgInfoEx(s, &i.type, &i.size, &i.detail, &i.bits);
    else
        i.r = MdUtilsGetImgInfoEx(s, &i.type, &i.size, &i.detail, &i.bits);
    EXPECT_EQ(MStreamTell(s), before) << "position restored";
    MStreamClose(s);
    return i;
}

Bytes bmpHeader(int32_t w, int32_t h, int bits) {
    return str("BM") + le32(0) + le32(0) + le32(54) + le32(40) + le32(uint32_t(w)) + le32(uint32_t(h)) + le16(1) +
           le16(uint32_t(bits)) + Bytes(24, 0);
}
Bytes pngHeader(uint32_t w, uint32_t h, int depth, int type) {
    return Bytes{0x89, 'P', 'N', 'G', 13, 10, 26, 10} + be32(13) + str("IHDR") + be32(w) + be32(h) +
           Bytes{uint8_t(depth), uint8_t(type), 0, 0, 0} + be32(0) + Bytes(4, 0);
}
Bytes jpeg(uint8_t sof, uint16_t w, uint16_t h, int comps) {
    return Bytes{0xFF, 0xD8, 0xFF, 0xE0} + be16(6) + Bytes{1, 2, 3, 4} + Bytes{0xFF, 0xFF, sof} + be16(8) +
           Bytes{8} + be16(h) + be16(w) + Bytes{uint8_t(comps)} + Bytes(12, 0);
}
Bytes gif(int images) {
    Bytes g = str("GIF89a") + le16(5) + le16(3) + Bytes{0x81, 0, 0} + Bytes(12, 0);
    g = g + Bytes{0x21, 0xF9, 4, 0, 0, 0, 0, 0};
    for (int i = 0; i < images; ++i) g = g + Bytes{0x2C} + Bytes(8, 0) + Bytes{0, 2, 2, 0x4C, 0x01, 0};
    return g + Bytes{0x3B};
}

TEST(ImgInfo, SniffingRules) {
    struct Row { const char* name; Bytes data; ImgFormat type; MResult r; };
    const Row rows[] = {
        {"jpeg", {0xFF, 0xD8, 0, 0}, MD_IMG_JPEG, MOK},
        {"gif", str("GIF87a"), MD_IMG_GIF, MOK},
        {"bmp alone", str("BM"), MD_IMG_BMP, MOK},
        {"png", {0x89, 'P', 'N', 'G'}, MD_IMG_PNG, MOK},
        {"tiff II", str("II*\0"), MD_IMG_TIFF, MOK},
        {"tiff MM", str("MM"), MD_IMG_TIFF, MOK},
        {"ico", {0, 0, 1, 0, 1, 0}, MD_IMG_ICO, MOK},
        {"cur", {0, 0, 2, 0, 1, 0}, MD_IMG_ICO, MOK},
        {"ten zeros", Bytes(10, 0), MD_IMG_WBMP, MOK},
        {"ftyp", {0, 0, 0, 0, 'f', 't', 'y', 'p'}, 0, MERR_UNSUPPORTED},
        {"swf", str("FWS"), MD_IMG_SWF, MOK},
        {"svg", str("<?xml version='1.0'?><svg/>"), MD_IMG_SVG, MOK},
        {"xml", str("<?xml version='1.0'?><html/>"), 0, MERR_UNSUPPORTED},
        {"gzip", {0x1F, 0x8B, 0x08, 0}, MD_IMG_SVG, MOK},
        {"text", str("hello"), 0, MERR_UNSUPPORTED},
    };
    for (const Row& row : rows) {
        Bytes d = row.data;
        MSTREAM s = MStreamOpenFromMemoryBlock(d.data(), int64_t(d.size()));
        ImgFormat t = 77;
        EXPECT_EQ(_GetImgFormat(s, &t), row.r) << row.name;
        EXPECT_EQ(t, row.type) << row.name;
        MStreamClose(s);
    }
    // "<svg" split across two 256-byte blocks is not seen.
    Bytes split = str("<?xml") + Bytes(250, ' ') + str("<svg");
    MSTREAM s = MStreamOpenFromMemoryBlock(split.data(), int64_t(split.size()));
    ImgFormat t;
    EXPECT_EQ(_GetImgFormat(s, &t), MERR_UNSUPPORTED);
    MStreamClose(s);
}

TEST(ImgInfo, HeaderReadersReportSizeAndDepth) {
    Info up = info(bmpHeader(7, 5, 24)), down = info(bmpHeader(7, -5, 24));
    EXPECT_EQ(up.r, MOK);
    EXPECT_EQ(up.size.lHeight, 5);
    EXPECT_EQ(down.size.lHeight, 5);
    EXPECT_EQ(down.bits, 24);
    EXPECT_EQ(info(bmpHeader(7, INT32_MIN, 24)).r, MERR_INVALID_PARAM);
    Bytes core = str("BM") + le32(0) + le32(0) + le32(26) + le32(12) + le16(9) + le16(4) + le16(1) + le16(8);
    Info c = info(core);
    EXPECT_EQ(c.size.lWidth, 9);
    EXPECT_EQ(c.bits, 8);

    EXPECT_EQ(info(pngHeader(3, 4, 8, 2)).bits, 24);
    EXPECT_EQ(info(pngHeader(3, 4, 16, 6)).bits, 64);
    Bytes png25 = pngHeader(3, 4, 8, 2);
    png25.resize(25);
    EXPECT_EQ(info(png25).r, MERR_UNSUPPORTED);

    Info j = info(jpeg(0xC2, 640, 480, 4));
    EXPECT_EQ(j.r, MOK);
    EXPECT_EQ(j.size.lWidth, 640);
    EXPECT_EQ(j.size.lHeight, 480);
    EXPECT_EQ(j.bits, 24);
    EXPECT_EQ(j.detail, MD_DETAIL_JPEG_PROGRESSIVE);
    EXPECT_EQ(info(jpeg(0xC0, 1, 1, 1)).detail, MD_DETAIL_JPEG_BASELINE);
    EXPECT_EQ(info(jpeg(0xC1, 1, 1, 3)).detail, MD_DETAIL_CODEC);
    EXPECT_EQ(info(jpeg(0xDA, 1, 1, 3)).r, MERR_UNSUPPORTED);
    Bytes badLen = Bytes{0xFF, 0xD8, 0xFF, 0xE0, 0, 1} + Bytes(20, 0);
    EXPECT_EQ(info(badLen).r, MERR_INVALID_PARAM);

    Info g = info(gif(1));
    EXPECT_EQ(g.size.lWidth, 5);
    EXPECT_EQ(g.bits, 2);

    Info w = info(Bytes{0, 0, 0x81, 0x00, 0x05});
    EXPECT_EQ(w.type, MD_IMG_WBMP);
    EXPECT_EQ(w.size.lWidth, 128);
    EXPECT_EQ(w.size.lHeight, 5);
    EXPECT_EQ(w.bits, 1);

    Bytes ico = Bytes{0, 0, 1, 0, 1, 0} + Bytes(12, 0) + le32(22) + le32(40) + le32(32) + le32(64) + le16(1) +
                le16(32) + Bytes(24, 0);
    Info i = info(ico);
    EXPECT_EQ(i.r, MOK);
    EXPECT_EQ(i.size.lHeight, 32);
    EXPECT_EQ(i.bits, 32);
    Bytes shortIco(ico.begin(), ico.begin() + 30);
    EXPECT_EQ(info(shortIco).r, MERR_FILE_READ);

    // Little-endian TIFF: width SHORT, height LONG, three samples of 8 bits at an offset.
    Bytes tif = str("II") + le16(42) + le32(8) + le16(4) + le16(256) + le16(3) + le32(1) + le32(33) + le16(257) +
                le16(4) + le32(1) + le32(44) + le16(277) + le16(3) + le32(1) + le32(3) + le16(258) + le16(3) +
                le32(3) + le32(62) + le32(0) + le16(8) + le16(8) + le16(8);
    Info t = info(tif);
    EXPECT_EQ(t.r, MOK);
    EXPECT_EQ(t.size.lWidth, 33);
    EXPECT_EQ(t.size.lHeight, 44);
    EXPECT_EQ(t.bits, 8);
    Bytes mm = str("MM") + be16(42) + be32(8) + be16(2) + be16(256) + be16(3) + be32(1) + be16(70) + be16(0) +
               be16(257) + be16(4) + be32(1) + be32(90);
    Info m = info(mm);
    EXPECT_EQ(m.size.lWidth, 70);
    EXPECT_EQ(m.size.lHeight, 90);
}

TEST(ImgInfo, GifAnimationAndWbmpNameChecks) {
    EXPECT_EQ(info(gif(1), false, "a.gif", true).detail, MD_DETAIL_GIF_STILL);
    EXPECT_EQ(info(gif(2), false, "a.gif", true).detail, MD_DETAIL_GIF_ANIMATED);
    Bytes wbmp{0, 0, 4, 4};
    Info bad = info(wbmp, false, "photo.bmp", true);
    EXPECT_EQ(bad.type, 0u);
    EXPECT_EQ(bad.r, MERR_UNSUPPORTED);
    EXPECT_EQ(info(wbmp, false, "photo.WbMp", true).type, MD_IMG_WBMP);
    EXPECT_EQ(info(wbmp, false, "photo", true).type, MD_IMG_WBMP);

    Bytes g = gif(2);
    MSTREAM s = MStreamOpenFromMemoryBlock(g.data(), int64_t(g.size()));
    MInt64 animated = -1;
    EXPECT_EQ(SGetGifFileAttr(s, &animated), MOK);
    EXPECT_EQ(animated, 1);
    MStreamClose(s);
    Bytes notGif = str("GIX89a") + Bytes(20, 0);
    s = MStreamOpenFromMemoryBlock(notGif.data(), int64_t(notGif.size()));
    EXPECT_EQ(SGetGifFileAttr(s, &animated), MERR_REGISTRATION);
    MStreamClose(s);
}

TEST(ImgInfo, ExifThumbnailWalk) {
    Bytes thumb = jpeg(0xC0, 160, 120, 3);
    // TIFF header, IFD0 with no entries, IFD1 with the thumbnail's offset and length.
    Bytes tiff = str("II") + le16(42) + le32(8) + le16(0) + le32(14) + le16(2) + le16(513) + le16(4) + le32(1) +
                 le32(44) + le16(514) + le16(4) + le32(1) + le32(uint32_t(thumb.size())) + le32(0);
    tiff = tiff + Bytes(44 - tiff.size(), 0) + thumb;
    Bytes app1 = Bytes{0xFF, 0xD8, 0xFF, 0xE1} + be16(uint16_t(tiff.size() + 8)) + str("Exif") + Bytes{0, 0} + tiff;
    Bytes file = app1 + Bytes{0xFF, 0xC0} + be16(8) + Bytes{8} + be16(1000) + be16(2000) + Bytes{3} + Bytes(8, 0);
    Info main = info(file);
    EXPECT_EQ(main.size.lWidth, 2000);
    Info t = info(file, true);
    EXPECT_EQ(t.r, MOK);
    EXPECT_EQ(t.size.lWidth, 160);
    EXPECT_EQ(t.size.lHeight, 120);
    EXPECT_EQ(info(jpeg(0xC0, 5, 5, 3), true).r, MERR_INVALID_PARAM);
    EXPECT_EQ(info(pngHeader(3, 4, 8, 2), true).r, MERR_INVALID_PARAM);
}

TEST(ImgInfo, FileTypeByExtension) {
    struct Row { const char* name; ImgFormat type; };
    for (const Row& r : {Row{"a.JPEG", MD_IMG_JPEG}, Row{"x.tar.gz", 0}, Row{".bmp", 0}, Row{"a.", 0},
                         Row{"dir.d/pic.PnG", MD_IMG_PNG}, Row{"a.svgz", MD_IMG_SVG}, Row{"i.icon", MD_IMG_ICO},
                         Row{"t.tif", MD_IMG_TIFF}, Row{"noext", 0}})
        EXPECT_EQ(MdUtilsGetFileType(r.name), r.type) << r.name;
    EXPECT_EQ(MdUtilsGetFileType(nullptr), 0u);
}

TEST(ImgInfo, FittingArithmetic) {
    int64_t w = 4000, h = 3000;
    double scale = 0;
    ASSERT_EQ(MdUtilsCalcFitinSize(800, 800, &w, &h, &scale), MOK);
    EXPECT_EQ(w, 800);
    EXPECT_EQ(h, 600);
    EXPECT_DOUBLE_EQ(scale, 0.2);
    w = 4000, h = 3000;
    ASSERT_EQ(MdUtilsCalcFitoutSize(800, 800, &w, &h, nullptr), MOK);
    EXPECT_EQ(w, 1066);
    EXPECT_EQ(h, 800);
    w = 100, h = 50;
    ASSERT_EQ(MdUtilsCalcFitinSize(800, 800, &w, &h, &scale), MOK);
    EXPECT_EQ(w, 100);
    EXPECT_EQ(scale, 1.0);
    w = 10000, h = 1;
    ASSERT_EQ(MdUtilsCalcFitinSize(100, 100, &w, &h, nullptr), MOK);
    EXPECT_EQ(h, 1);
    // A zero box side and ratios that round to zero are refused instead of dividing by zero.
    w = 10, h = 10;
    EXPECT_EQ(MdUtilsCalcFitinSize(0, 5, &w, &h, nullptr), MERR_INVALID_PARAM);
    w = 1, h = 100000;
    EXPECT_EQ(MdUtilsCalcFitoutSize(5000, 10, &w, &h, nullptr), MERR_INVALID_PARAM);
    EXPECT_EQ(w, 1);

    w = 3, h = 1;
    MdUtilsCalcZoomSize(&w, &h, 0.1);
    EXPECT_EQ(w, 1);
    EXPECT_EQ(h, 1);
    MInt64 rect[4] = {10, 15, 25, 31};
    MdUtilsCalcZoomRegion(rect, 0.5);
    EXPECT_EQ(rect[0], 5);
    EXPECT_EQ(rect[1], 8);
    EXPECT_EQ(rect[2], 13);
    EXPECT_EQ(rect[3], 16);

    // A zoom that is not a number, is infinite or overflows a size is refused and leaves the
    // values as they were, instead of converting an out-of-range double to an integer.
    for (double bad : {std::nan(""), HUGE_VAL, -HUGE_VAL, 1e300, -0.5}) {
        w = 640, h = 480;
        EXPECT_EQ(MdUtilsCalcZoomSize(&w, &h, bad), MERR_INVALID_PARAM) << bad;
        EXPECT_EQ(w, 640);
        EXPECT_EQ(h, 480);
        MInt64 r[4] = {1, 2, 3, 4};
        EXPECT_EQ(MdUtilsCalcZoomRegion(r, bad), MERR_INVALID_PARAM) << bad;
        EXPECT_EQ(r[3], 4);
    }
}

TEST(ImgInfo, EveryPrefixIsReadSafely) {
    for (const Bytes& f : {bmpHeader(3, 3, 8), pngHeader(3, 3, 8, 6), jpeg(0xC2, 9, 9, 3), gif(2)}) {
        for (size_t n = 0; n < f.size(); ++n) {
            Bytes prefix(f.begin(), f.begin() + long(n));
            info(prefix);
            info(prefix, true);
            info(prefix, false, "x.gif", true);
        }
    }
}

}  // namespace
