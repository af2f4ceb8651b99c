// Loading generated BMP, GIF, PNG and JPEG files into bitmaps: pixels against reference decoders,
// fitting to another size against the post-processing engine's resample of the reference,
// several target colours, GIF frames on a canvas, alpha, file facts and clean failures.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "MCodec.h"
#include "MdBitmapLoad.h"
#include "MdColorID.h"
#include "load_test_support.h"

using namespace fwtest;
using namespace loadtest;

namespace {

constexpr uint64_t kRGBA = 0x37001777; // memory order R, G, B, A

MResult load(AMCMHandle m, const Bytes& file, MBITMAP* b, int64_t type = 0) {
    Stream st(file);
    return MdBitmapLoad(m, st.s, type, b);
}

// The reference picture resampled by the post-processing engine to w x h.
Image referenceAt(AMCMHandle m, const Image& rgba, int w, int h) {
    Bitmap src(kRGBA, rgba.width, rgba.height), dst(kRGBA, w, h);
    EXPECT_EQ(MdBitmapAlloc(&src.b), MOK);
    EXPECT_EQ(MdBitmapAlloc(&dst.b), MOK);
    fromRgba(&src.b, rgba);
    EXPECT_EQ(MdBitmapResample(m, &src.b, &dst.b), MOK);
    return toImage(dst.b, 4);
}

struct Case {
    const char* name;
    Bytes file;
    bool jpeg;
    Image ref; // RGBA
};

Image rgbaOf(const Image& rgb) {
    Image out{rgb.width, rgb.height, 4, std::vector<uint8_t>(size_t(rgb.width) * rgb.height * 4, 255)};
    for (int y = 0; y < rgb.height; ++y)
        for (int x = 0; x < rgb.width; ++x) std::memcpy(&out.px[(size_t(y) * rgb.width + x) * 4], rgb.at(x, y), 3);
    return out;
}

// A smooth picture with a smooth alpha ramp.
Image withAlpha(const Image& rgb) {
    Image out = rgbaOf(rgb);
    for (int y = 0; y < rgb.height; ++y)
        for (int x = 0; x < rgb.width; ++x) out.px[(size_t(y) * rgb.width + x) * 4 + 3] = uint8_t(40 + x * 3);
    return out;
}

std::vector<Case> files() {
    const Image rgb = makeSmooth(61, 43, 3);
    std::vector<Case> cases = {
        {"bmp24", encodeBmp24(rgb), false, {}},
        {"bmp8 rle", encodeBmp8(rgb, true), false, rgbaOf(quantised332(rgb))},
        {"png", encodePng(rgb), false, {}},
        {"png rgba", encodePng(withAlpha(makeSmooth(61, 43, 5))), false, {}},
        {"png interlaced", encodePng(rgb, true), false, {}},
        {"gif", encodeGif(rgb), false, rgbaOf(quantised332(rgb))},
        {"jpeg 4:2:0", encodeJpeg(rgb, 2, 92), true, {}},
        {"jpeg grey", encodeJpeg(makeSmooth(61, 43, 4), 3, 92), true, {}},
    };
    for (auto& c : cases)
        if (c.ref.px.empty()) c.ref = c.jpeg ? referenceJpegRgba(c.file) : referenceRgba(c.file);
    return cases;
}

const Image& reference(const Case& c) { return c.ref; }

} // namespace

TEST(BitmapLoad, OwnSizeMatchesReferenceDecoders) {
    Manager m;
    for (const auto& c : files()) {
        SCOPED_TRACE(c.name);
        Bitmap b(kRGBA, 0, 0);
        ASSERT_EQ(load(m.h, c.file, &b.b), MOK);
        EXPECT_EQ(b.b.lWidth, 61);
        EXPECT_EQ(b.b.lHeight, 43);
        const Image& ref = reference(c);
        const Diff d = compareRgb(toImage(b.b, 4), ref);
        if (c.jpeg) {
            EXPECT_LT(d.mean, 1.5);
            EXPECT_LE(d.max, 12);
        } else {
            EXPECT_EQ(d.max, 0);
        }
    }
}

TEST(BitmapLoad, FittingToAnotherSizeFollowsTheResampledReference) {
    Manager m;
    const std::pair<int, int> sizes[] = {{30, 21}, {15, 10}, {80, 50}, {61, 20}};
    for (const auto& c : files()) {
        for (auto [w, h] : sizes) {
            SCOPED_TRACE(std::string(c.name) + " " + std::to_string(w) + "x" + std::to_string(h));
            Bitmap b(kRGBA, w, h);
            ASSERT_EQ(load(m.h, c.file, &b.b), MOK);
            ASSERT_EQ(b.b.lWidth, w);
            const Image want = referenceAt(m.h, reference(c), w, h);
            const Diff d = compareRgb(toImage(b.b, 4), want);
            // The decoders reduce by their own kernels (DCT scaling, nearest rows) and two of the
            // files are quantised to 3-3-2 colour; a flipped, shifted or garbled picture stands
            // far above this.
            EXPECT_LT(d.mean, c.name[0] == 'g' || c.name[3] == '8' ? 14.0 : 10.0);
            EXPECT_LE(d.max, 100);
        }
    }
}

TEST(BitmapLoad, TargetColoursHoldTheSamePicture) {
    Manager m;
    const Image rgb = makeSmooth(40, 24, 7);
    const Bytes png = encodePng(rgb);
    const Image ref = referenceRgba(png);
    {
        Bitmap b(0x16001777, 0, 0); // R, G, B
        ASSERT_EQ(load(m.h, png, &b.b), MOK);
        EXPECT_EQ(compareRgb(toImage(b.b, 3), ref).max, 0);
    }
    {
        Bitmap b(0x16000777, 0, 0); // B, G, R
        ASSERT_EQ(load(m.h, png, &b.b), MOK);
        const Image got = toImage(b.b, 3);
        for (int y = 0; y < 24; ++y)
            for (int x = 0; x < 40; ++x) ASSERT_EQ(got.at(x, y)[0], ref.at(x, y)[2]) << x << "," << y;
    }
    {
        Bitmap b(0x15000454, 0, 0); // 5-6-5, red on top
        ASSERT_EQ(load(m.h, png, &b.b), MOK);
        for (int y = 0; y < 24; ++y)
            for (int x = 0; x < 40; ++x) {
                uint16_t v;
                std::memcpy(&v, b.b.pPlane[0] + y * b.b.lPitch[0] + 2 * x, 2);
                ASSERT_NEAR((v >> 11) << 3, ref.at(x, y)[0], 8);
                ASSERT_NEAR(((v >> 5) & 63) << 2, ref.at(x, y)[1], 4);
                ASSERT_NEAR((v & 31) << 3, ref.at(x, y)[2], 8);
            }
    }
    {
        Bitmap b(0x64000000, 0, 0); // grey
        ASSERT_EQ(load(m.h, encodeJpeg(rgb, 3, 95), &b.b), MOK);
        const Image grey = referenceJpegRgba(encodeJpeg(rgb, 3, 95));
        double sum = 0;
        for (int y = 0; y < 24; ++y)
            for (int x = 0; x < 40; ++x) sum += std::abs(int(b.b.pPlane[0][y * b.b.lPitch[0] + x]) - grey.at(x, y)[0]);
        EXPECT_LT(sum / (40 * 24), 2.0);
    }
}

TEST(BitmapLoad, YuvTargetsOnlyFromJpeg) {
    Manager m;
    const Image rgb = makeSmooth(32, 32, 1);
    Bitmap fromPng(0x50000811, 0, 0);
    EXPECT_EQ(load(m.h, encodePng(rgb), &fromPng.b), MERR_UNSUPPORTED);
    EXPECT_EQ(fromPng.b.pPlane[0], nullptr);
    Bitmap fromJpeg(0x50000811, 0, 0);
    ASSERT_EQ(load(m.h, encodeJpeg(rgb, 2, 95), &fromJpeg.b), MOK);
    // Luma of a mid-grey region is near what the reference makes of it.
    const Image ref = referenceJpegRgba(encodeJpeg(rgb, 2, 95));
    const auto& p = ref.at(16, 16);
    const double yRef = 0.299 * p[0] + 0.587 * p[1] + 0.114 * p[2];
    EXPECT_NEAR(fromJpeg.b.pPlane[0][16 * fromJpeg.b.lPitch[0] + 16], yRef, 12);
}

TEST(BitmapLoad, GifFrameOnTheCanvas) {
    Manager m;
    struct Row {
        const char* name;
        int left, top, w, h;
        bool interlace;
    };
    const Row rows[] = {
        {"small frame at origin: direct path", 0, 0, 10, 8, false},
        {"offset frame", 5, 3, 10, 8, false},
        {"interlaced offset frame", 4, 2, 12, 11, true},
        {"full-width frame", 0, 6, 24, 9, false},
    };
    for (const auto& r : rows) {
        for (int alpha = 0; alpha < 2; ++alpha) {
            SCOPED_TRACE(std::string(r.name) + (alpha ? " with alpha" : ""));
            const Bytes gif = encodeGifFrame(24, 18, r.left, r.top, r.w, r.h, r.interlace);
            Bitmap b(kRGBA, 0, 0);
            Stream st(gif);
            ASSERT_EQ(alpha ? MdBitmapLoadWithAlphaTrans(m.h, st.s, 0, &b.b, 255) : MdBitmapLoad(m.h, st.s, 0, &b.b),
                      MOK);
            ASSERT_EQ(b.b.lWidth, 24);
            ASSERT_EQ(b.b.lHeight, 18);
            const Image got = toImage(b.b, 4);
            for (int y = 0; y < 18; ++y)
                for (int x = 0; x < 24; ++x) {
                    const bool in = x >= r.left && x < r.left + r.w && y >= r.top && y < r.top + r.h;
                    if (in) {
                        ASSERT_EQ(got.at(x, y)[0], gifGrey(x - r.left, y - r.top)) << x << "," << y;
                    } else {
                        // Outside the frame: white without the alpha flag, untouched (zero) with it.
                        ASSERT_EQ(got.at(x, y)[1], alpha ? 0 : 0xFF) << x << "," << y;
                    }
                }
        }
    }
}

TEST(BitmapLoad, GifFrameClippedToASmallerBitmap) {
    Manager m;
    // The frame lies partly (and in a second file wholly) outside a bitmap smaller than the canvas.
    const Bytes partly = encodeGifFrame(40, 30, 10, 6, 20, 20, true);
    Bitmap b(0x16001777, 0, 0);
    b.b.lWidth = 40;
    b.b.lHeight = 30;
    ASSERT_EQ(load(m.h, partly, &b.b), MOK);
    const Image got = toImage(b.b, 3);
    EXPECT_EQ(got.at(10, 6)[0], gifGrey(0, 0));
    EXPECT_EQ(got.at(29, 25)[0], gifGrey(19, 19));
    EXPECT_EQ(got.at(5, 5)[0], 0xFF);
    // Canvas 40x30 into 8x6: the frame shrinks with the canvas and stays inside.
    Bitmap small(0x16001777, 8, 6);
    EXPECT_EQ(load(m.h, partly, &small.b), MOK);
}

// A plain 32-bit BMP of the picture whose fourth bytes hold `pad` (writers leave anything there).
Bytes encodeBmp32Plain(const Image& rgb, uint8_t pad) {
    const Bytes bmp24 = encodeBmp24(rgb);
    Bytes b(bmp24.begin(), bmp24.begin() + 54);
    const uint32_t data = uint32_t(rgb.width * rgb.height * 4);
    auto put32 = [&b](size_t at, uint32_t v) { for (int i = 0; i < 4; ++i) b[at + size_t(i)] = uint8_t(v >> (8 * i)); };
    put32(2, 54 + data);
    b[28] = 32;
    put32(34, data);
    for (int y = rgb.height - 1; y >= 0; --y)
        for (int x = 0; x < rgb.width; ++x) {
            const uint8_t* p = rgb.at(x, y);
            b.insert(b.end(), {p[2], p[1], p[0], pad});
        }
    return b;
}

TEST(BitmapLoad, OpaqueImagesComeOutOpaque) {
    Manager m;
    const Image rgb = makeSmooth(16, 16, 2);
    const std::pair<const char*, Bytes> cases[] = {
        {"jpeg", encodeJpeg(rgb, 2, 90)}, {"png", encodePng(rgb)}, {"bmp", encodeBmp24(rgb)}, {"gif", encodeGif(rgb)},
        {"bmp 32-bit, padding byte set", encodeBmp32Plain(rgb, 0x55)}};
    for (const auto& [name, file] : cases) {
        SCOPED_TRACE(name);
        Bitmap b(kRGBA, 0, 0);
        Stream st(file);
        ASSERT_EQ(MdBitmapLoadWithAlphaTrans(m.h, st.s, 0, &b.b, 255), MOK);
        for (int y = 0; y < 16; ++y)
            for (int x = 0; x < 16; ++x) ASSERT_EQ(b.b.pPlane[0][y * b.b.lPitch[0] + 4 * x + 3], 255);
    }
    // The padding byte changes no colour either.
    Bitmap b(kRGBA, 0, 0);
    const Bytes padded = encodeBmp32Plain(rgb, 0x55);
    Stream st(padded);
    ASSERT_EQ(MdBitmapLoadWithAlphaTrans(m.h, st.s, 0, &b.b, 255), MOK);
    EXPECT_EQ(compareRgb(toImage(b.b, 4), rgb).max, 0);
}

// A 32-bit bit-field BMP of the picture with an info header of `header` bytes (52 and more hold
// the masks, 56 and more an alpha mask too), each pixel's fourth byte `alpha(x, y)`.
Bytes encodeBmp32Fields(const Image& rgb, int header, uint8_t (*alpha)(int, int)) {
    Bytes b(14 + size_t(header), 0);
    auto put32 = [&b](size_t at, uint32_t v) { for (int i = 0; i < 4; ++i) b[at + size_t(i)] = uint8_t(v >> (8 * i)); };
    b[0] = 'B', b[1] = 'M';
    put32(10, uint32_t(b.size()));
    put32(14, uint32_t(header));
    put32(18, uint32_t(rgb.width));
    put32(22, uint32_t(rgb.height));
    b[26] = 1, b[28] = 32, b[30] = 3;
    const uint32_t masks[4] = {0x00FF0000, 0x0000FF00, 0x000000FF, 0xFF000000};
    for (int i = 0; i < 4 && 54 + 4 * i + 4 <= 14 + header; ++i) put32(54 + 4 * size_t(i), masks[i]);
    for (int y = rgb.height - 1; y >= 0; --y)
        for (int x = 0; x < rgb.width; ++x) {
            const uint8_t* p = rgb.at(x, y);
            b.insert(b.end(), {p[2], p[1], p[0], alpha(x, y)});
        }
    put32(2, uint32_t(b.size()));
    return b;
}

TEST(BitmapLoad, BitFieldBmpWithAnAlphaMaskKeepsItsAlpha) {
    Manager m;
    const Image rgb = makeSmooth(16, 12, 5);
    auto alpha = [](int x, int y) { return uint8_t(x * 16 + y); };
    for (int header : {52, 56, 108, 124}) {
        SCOPED_TRACE(header);
        const Bytes file = encodeBmp32Fields(rgb, header, alpha);
        Bitmap b(kRGBA, 0, 0);
        Stream st(file);
        ASSERT_EQ(MdBitmapLoadWithAlphaTrans(m.h, st.s, 0, &b.b, 255), MOK);
        EXPECT_EQ(compareRgb(toImage(b.b, 4), rgb).max, 0);
        // A 52-byte header has no room for an alpha mask: its fourth bytes are padding.
        for (int y = 0; y < 12; ++y)
            for (int x = 0; x < 16; ++x)
                ASSERT_EQ(b.b.pPlane[0][y * b.b.lPitch[0] + 4 * x + 3], header == 52 ? 255 : alpha(x, y)) << x << "," << y;
    }
}

// A BMP of a 40-byte header, `bits` deep, a negative height for rows stored top down: `extra` (the
// colour table or masks), then the stored `rows`.
Bytes plainBmp(int w, int h, int bits, uint32_t compression, const Bytes& extra, const Bytes& rows) {
    Bytes b(54, 0);
    auto put32 = [&b](size_t at, uint32_t v) { for (int i = 0; i < 4; ++i) b[at + size_t(i)] = uint8_t(v >> (8 * i)); };
    b[0] = 'B', b[1] = 'M', b[26] = 1, b[28] = uint8_t(bits);
    put32(10, uint32_t(54 + extra.size())), put32(14, 40), put32(18, uint32_t(w)), put32(22, uint32_t(h)), put32(30, compression);
    b.insert(b.end(), extra.begin(), extra.end());
    b.insert(b.end(), rows.begin(), rows.end());
    return b;
}

// A BMP of any depth cut short (a download that stopped) loads the rows that arrived where the
// whole file has them, at its size and fitted to a smaller one, and leaves the rest transparent.
TEST(BitmapLoad, CutShortBmpLoadsTheRowsThatArrived) {
    Manager m;
    constexpr int w = 16, h = 12, arrived = 5;
    Bytes palette;
    for (int i = 0; i < 256; ++i) palette.insert(palette.end(), {uint8_t(i), uint8_t(255 - i), uint8_t(i * 40), 0});
    const Bytes masks16 = {0, 0xF8, 0, 0, 0xE0, 7, 0, 0, 0x1F, 0, 0, 0}, masks32 = {0, 0, 0xFF, 0, 0, 0xFF, 0, 0, 0xFF, 0, 0, 0};
    // Depth and compression (1 and 2 run-length, 3 bit fields); each stored row has its own colour,
    // a run-length row as one run of 8 pixels, one of 8 and its end.
    for (const auto& [bits, compression] : std::vector<std::pair<int, uint32_t>>{
             {1, 0}, {4, 0}, {8, 0}, {16, 0}, {16, 3}, {24, 0}, {32, 0}, {32, 3}, {8, 1}, {4, 2}})
        for (bool topDown : {false, true}) {
            const bool runs = compression == 1 || compression == 2;
            if (runs && topDown) continue;  // run-length rows are stored bottom up only
            SCOPED_TRACE(testing::Message() << bits << " bits, compression " << compression << (topDown ? ", top down" : ""));
            const int rowBytes = runs ? 6 : (w * bits + 31) / 32 * 4;
            Bytes rows;
            for (int y = 0; y < h; ++y) {
                const Bytes row = runs ? Bytes{8, uint8_t(y * 17), 8, uint8_t(y * 17 + 1), 0, 0} : Bytes(size_t(rowBytes), uint8_t(y * 21 + 7));
                rows.insert(rows.end(), row.begin(), row.end());
            }
            const Bytes extra = bits <= 8 ? Bytes(palette.begin(), palette.begin() + 4 * (1 << bits)) : compression != 3 ? Bytes() : bits == 16 ? masks16 : masks32;
            const Bytes whole = plainBmp(w, topDown ? -h : h, bits, compression, extra, rows);
            // Cut inside the row after those that arrived, past a run of a run-length one.
            const Bytes cut(whole.begin(), whole.end() - ptrdiff_t(rows.size() - rowBytes * arrived - (runs ? 3 : rowBytes / 2)));
            Bitmap all(kRGBA, 0, 0), shown(kRGBA, 0, 0), fitted(kRGBA, 8, 6);
            Stream wholeStream(whole), cutStream(cut), fittedStream(cut);
            ASSERT_EQ(MdBitmapLoadWithAlphaTrans(m.h, wholeStream.s, 0, &all.b, 255), MOK);
            ASSERT_EQ(MdBitmapLoadWithAlphaTrans(m.h, cutStream.s, 0, &shown.b, 255), MOK);
            static const MByte kClear[4] = {};
            for (int y = 0; y < h; ++y)
                for (int x = 0; x < w; ++x) {
                    const int stored = topDown ? y : h - 1 - y;
                    const bool present = stored < arrived || (runs && stored == arrived && x < 8);
                    const MByte* expected = present ? all.b.pPlane[0] + y * all.b.lPitch[0] + 4 * x : kClear;
                    ASSERT_EQ(std::memcmp(shown.b.pPlane[0] + y * shown.b.lPitch[0] + 4 * x, expected, 4), 0) << x << "," << y;
                }
            ASSERT_EQ(MdBitmapLoadWithAlphaTrans(m.h, fittedStream.s, 0, &fitted.b, 255), MOK);
            EXPECT_EQ(fitted.b.pPlane[0][(topDown ? 0 : 5) * fitted.b.lPitch[0] + 4 * 4 + 3], 255);
            EXPECT_EQ(fitted.b.pPlane[0][(topDown ? 5 : 0) * fitted.b.lPitch[0] + 4 * 4 + 3], 0);
        }
}

TEST(BitmapLoad, ArgumentsTypesAndResultFilter) {
    Manager m;
    const Bytes png = encodePng(makeSmooth(8, 8, 1));
    Bitmap b(kRGBA, 0, 0);
    Stream st(png);
    EXPECT_EQ(MdBitmapLoad(nullptr, st.s, 0, &b.b), MERR_INVALID_PARAM);
    EXPECT_EQ(MdBitmapLoad(m.h, nullptr, 0, &b.b), MERR_INVALID_PARAM);
    EXPECT_EQ(MdBitmapLoad(m.h, st.s, 0, nullptr), MERR_INVALID_PARAM);
    Bitmap noColour(0, 0, 0);
    EXPECT_EQ(MdBitmapLoad(m.h, st.s, 0, &noColour.b), MERR_INVALID_PARAM);
    EXPECT_EQ(MdBitmapLoad(m.h, st.s, MD_IMG_SWF, &b.b), MERR_INVALID_PARAM);
    EXPECT_EQ(MdBitmapLoad(m.h, st.s, MD_IMG_SVG, &b.b), MERR_INVALID_PARAM);
    for (int64_t t : {1, 2, 4, 8, 0x20, 0x400, 0x800}) EXPECT_EQ(MdUtils_bSupportedFileFormat(t), 1) << t;
    for (int64_t t : {0, 0x80, 0x100, 0x1000, 3}) EXPECT_EQ(MdUtils_bSupportedFileFormat(t), 0) << t;
    // No component registered: "no codec" from below reaches the caller as 2.
    AMCMHandle bare = nullptr;
    ASSERT_EQ(AMCM_Create(nullptr, &bare), MOK);
    EXPECT_EQ(MdBitmapLoad(bare, st.s, 0, &b.b), MERR_INVALID_PARAM);
    EXPECT_EQ(b.b.pPlane[0], nullptr);
    AMCM_Destroy(bare);
    // Not an image at all.
    const Bytes junk(64, 0x11);
    Stream js(junk);
    EXPECT_EQ(MdBitmapLoad(m.h, js.s, 0, &b.b), MERR_INVALID_PARAM);
}

TEST(BitmapLoad, StreamPositionIsHandedBack) {
    Manager m;
    const Bytes png = encodePng(makeSmooth(8, 8, 1));
    Stream st(png);
    ASSERT_EQ(MStreamSeek(st.s, MSTREAM_SEEK_BEGIN, 5), MOK);
    Bitmap b(kRGBA, 0, 0);
    EXPECT_EQ(MdBitmapLoad(m.h, st.s, MD_IMG_PNG, &b.b), MOK);
    EXPECT_EQ(MStreamTell(st.s), 5);
    MImgFileInfo info{};
    EXPECT_EQ(MdGetImgFileInfo(m.h, st.s, &info), MOK);
    EXPECT_EQ(MStreamTell(st.s), 5);
}

TEST(BitmapLoad, PathVariants) {
    Manager m;
    const Bytes png = encodePng(makeSmooth(9, 7, 1));
    const std::string path = testing::TempDir() + "kpv_load_test.png";
    FILE* f = std::fopen(path.c_str(), "wb");
    ASSERT_TRUE(f);
    std::fwrite(png.data(), 1, png.size(), f);
    std::fclose(f);
    {
        Bitmap b(kRGBA, 0, 0);
        EXPECT_EQ(MdBitmapLoad2(m.h, path.c_str(), 0, &b.b), MOK);
        EXPECT_EQ(b.b.lWidth, 9);
    }
    {
        Bitmap b(kRGBA, 0, 0);
        EXPECT_EQ(MdBitmapLoad2WithAlphaTrans(m.h, path.c_str(), 0, &b.b, 255), MOK);
        EXPECT_EQ(MdBitmapLoad2WithAlphaTrans(m.h, path.c_str(), 0, &b.b, 128), MERR_INVALID_PARAM);
    }
    {
        Bitmap b(kRGBA, 0, 0);
        EXPECT_EQ(MdUtilsLoad2(m.h, path.c_str(), 0, &b.b), MOK);
        EXPECT_EQ(compareRgb(toImage(b.b, 4), referenceRgba(png)).max, 0);
    }
    Bitmap b(kRGBA, 0, 0);
    EXPECT_EQ(MdBitmapLoad2(m.h, "/nonexistent/kpv.png", 0, &b.b), MERR_FILE_OPEN);
    EXPECT_EQ(MdUtilsLoad2(m.h, "/nonexistent/kpv.png", 0, &b.b), MERR_FILE_OPEN);
    EXPECT_EQ(MdBitmapLoad2(m.h, nullptr, 0, &b.b), MERR_INVALID_PARAM);
    std::remove(path.c_str());
}

TEST(BitmapLoad, ImageDecoderRoadMatchesTheReference) {
    Manager m;
    for (const auto& c : files()) {
        SCOPED_TRACE(c.name);
        Bitmap b(kRGBA, 0, 0);
        Stream st(c.file);
        ASSERT_EQ(MdUtilsLoad(m.h, st.s, 0, &b.b), MOK);
        const Diff d = compareRgb(toImage(b.b, 4), reference(c));
        EXPECT_LT(d.mean, c.jpeg ? 1.5 : 0.01);
    }
    Bitmap b(kRGBA, 0, 0);
    const Bytes file_st = encodePng(makeSmooth(8, 8, 1));
    Stream st(file_st);
    EXPECT_EQ(MdUtilsLoad(m.h, st.s, 0x80, &b.b), MERR_INVALID_PARAM); // no component takes SWF here
}

TEST(BitmapLoad, FileFacts) {
    Manager m;
    const Image rgb = makeSmooth(20, 10, 1);
    struct Row {
        const char* name;
        Bytes file;
        uint64_t type, kind, bits;
    };
    const Row rows[] = {
        {"jpeg", encodeJpeg(rgb, 2, 90), 2, 4, 24},
        {"still gif", encodeGif(rgb), 4, 2, 8},
        {"animated gif", encodeGif(rgb, 2), 4, 3, 8},
        {"png", encodePng(rgb), 8, 0, 24},
        {"bmp", encodeBmp24(rgb), 1, 0, 24},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.name);
        Stream st(r.file);
        MImgFileInfo info{};
        ASSERT_EQ(MdGetImgFileInfo(m.h, st.s, &info), MOK);
        EXPECT_EQ(info.dwImageType, r.type);
        EXPECT_EQ(info.dwKind, r.kind);
        EXPECT_EQ(info.lWidth, 20);
        EXPECT_EQ(info.lHeight, 10);
        EXPECT_EQ(info.dwBitCount, r.bits);
        ImgFormat t = 0;
        EXPECT_EQ(MdGetImgFileFormat(m.h, st.s, &t), MOK);
        EXPECT_EQ(t, r.type);
    }
    EXPECT_EQ(MdGetImgFileInfo(m.h, nullptr, nullptr), MERR_INVALID_PARAM);
    EXPECT_EQ(MdGetImgFileFormat(m.h, nullptr, nullptr), MERR_INVALID_PARAM);
}

TEST(BitmapLoad, TransparencyQuery) {
    Manager m;
    const Image rgb = makeSmooth(12, 12, 1);
    struct Row {
        const char* name;
        Bytes file;
        int64_t transparent;
    };
    const Row rows[] = {
        {"rgb png", encodePng(rgb), 0},
        {"rgba png", encodePng(makeImage(12, 12, 4, 1)), 1},
        {"palette png with tRNS", encodePngPalette(12, 12, 3), 1},
        {"gif", encodeGif(rgb), 0},
        {"gif with transparent index", encodeGif(rgb, 1, 5), 1},
        {"jpeg", encodeJpeg(rgb, 2), 0},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.name);
        Stream st(r.file);
        int64_t flag = -1;
        ASSERT_EQ(MdUtilsImgIsTransparent(m.h, st.s, &flag), MOK);
        EXPECT_EQ(flag, r.transparent);
    }
    int64_t flag = 0;
    EXPECT_EQ(MdUtilsImgIsTransparent(m.h, nullptr, &flag), MERR_INVALID_PARAM);
}

TEST(BitmapLoad, EveryPrefixFailsCleanly) {
    Manager m;
    const Image rgb = makeImage(19, 13, 3, 21);
    const std::pair<const char*, Bytes> cases[] = {
        {"bmp24", encodeBmp24(rgb)},
        {"bmp8 rle", encodeBmp8(rgb, true)},
        {"png interlaced", encodePng(rgb, true)},
        {"gif", encodeGif(rgb, 2, 3, 0)},
        {"gif offset interlaced", encodeGifFrame(30, 20, 5, 4, 19, 13, true)},
        {"jpeg", encodeJpeg(rgb, 2, 80)},
    };
    for (const auto& [name, file] : cases) {
        SCOPED_TRACE(name);
        for (size_t n = 0; n < file.size(); ++n) {
            Bytes prefix(file.begin(), file.begin() + ptrdiff_t(n));
            Bitmap own(kRGBA, 0, 0);
            const MResult r = load(m.h, prefix, &own.b);
            if (r != MOK) EXPECT_EQ(own.b.pPlane[0], nullptr) << n; // planes it made are gone
            if (n < 8) EXPECT_NE(r, MOK) << n;
            // Caller planes at a fitted size survive a failure.
            Bitmap given(0x15000454, 7, 5);
            ASSERT_EQ(MdBitmapAlloc(&given.b), MOK);
            MByte* planes = given.b.pPlane[0];
            Stream st(prefix);
            MdBitmapLoadWithAlphaTrans(m.h, st.s, 0, &given.b, 255);
            EXPECT_EQ(given.b.pPlane[0], planes);
        }
    }
}
