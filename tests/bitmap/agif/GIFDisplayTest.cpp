// The display GIF decoder: frames, reduction, loops and palettes against giflib's decode
// composited by the reference model, on generated animations.
#include <gtest/gtest.h>

#include "AGIFTestSupport.h"
#include "MUtilsGIFDec.h"

using namespace agiftest;

namespace {

constexpr MUInt64 kRGB = 0x16001777;   // red, green, blue bytes
constexpr MUInt64 kBGR = 0x16000777;
constexpr MUInt64 kRGB565 = 0x15000454;

struct Bitmap {
    std::vector<uint8_t> px;
    MBITMAP bmp{};
    Bitmap(MUInt64 color, int w, int h, int bpp) {
        const int pitch = (w * bpp + 3) / 4 * 4 + 8;
        px.assign(size_t(pitch) * std::max(h, 1), 0);
        bmp = {color, w, h, {pitch, 0, 0}, {px.data(), nullptr, nullptr}};
    }
    const uint8_t* at(int x, int y, int bpp) const { return &px[size_t(y * bmp.lPitch[0] + x * bpp)]; }
};

struct Player {
    Manager m;
    Bytes file;
    Stream st;
    GIFDecHandle dec = nullptr;
    explicit Player(Bytes f) : file(std::move(f)), st(file) { EXPECT_EQ(MUtilsGIFDec_Create(m.h, st.s, &dec), MOK); }
    ~Player() { MUtilsGIFDec_Destroy(dec); }
};

Animation mixed(uint32_t seed) {
    Animation a;
    a.width = 31, a.height = 23;
    a.global = randomPalette(seed);
    Frame f0 = randomFrame(0, 0, 31, 23, seed + 1);
    f0.delay = 7;
    Frame f1 = randomFrame(4, 3, 17, 11, seed + 2);
    f1.disposal = 2, f1.transparent = 9, f1.delay = 25;
    Frame f2 = randomFrame(8, 6, 20, 20, seed + 3);
    f2.disposal = 3, f2.localPalette = true, f2.rgb = randomPalette(seed + 9), f2.interlace = true;
    Frame f3 = randomFrame(2, 10, 12, 9, seed + 4);
    f3.disposal = 3, f3.transparent = 1;
    Frame f4 = randomFrame(20, 1, 11, 21, seed + 5);
    a.frames = {f0, f1, f2, f3, f4};
    return a;
}

} // namespace

TEST(GIFDisplay, FullSizeFramesMatchTheReference) {
    const Bytes file = writeGif(mixed(3));
    const auto ref = referenceFrames(file);
    Player p(file);
    MInt64 size[2] = {}, loop = 9, count = 0;
    ASSERT_EQ(MUtilsGIFDec_GetGlobalInfo(p.dec, size, &loop, &count), MOK);
    EXPECT_EQ(size[0], 31);
    EXPECT_EQ(size[1], 23);
    EXPECT_EQ(loop, 0);
    EXPECT_EQ(count, 5);
    for (MUInt64 color : {kRGB, kBGR}) {
        Player q(file); // the format is fixed by a handle's first frame
        ASSERT_EQ(MUtilsGIFDec_ReSet(q.dec), MOK);
        Bitmap b(color, 31, 23, 3);
        for (size_t i = 0; i < ref.size(); ++i) {
            ASSERT_EQ(MUtilsGIFDec_GetFrameData(q.dec, &b.bmp), MOK) << i;
            for (int y = 0; y < 23; ++y)
                for (int x = 0; x < 31; ++x) {
                    const uint8_t* e = &ref[i][size_t(y * 31 + x) * 4];
                    const uint8_t* g = b.at(x, y, 3);
                    const int r = color == kRGB ? g[0] : g[2], bl = color == kRGB ? g[2] : g[0];
                    ASSERT_EQ(r, e[0]) << i << " " << x << "," << y;
                    ASSERT_EQ(g[1], e[1]);
                    ASSERT_EQ(bl, e[2]);
                }
        }
        MInt64 ms = 0;
        EXPECT_EQ(MUtilsGIFDec_GetDelayTime(q.dec, &ms), MOK);
        EXPECT_EQ(ms, 100);
    }
}

TEST(GIFDisplay, ReducedFramesSampleTheReference) {
    const Bytes file = writeGif(mixed(40));
    const auto ref = referenceFrames(file);
    Player p(file);
    MInt64 w = 31, h = 23;
    double scale = 0;
    MUtilsCalcGIFFitinSize(16, 16, &w, &h, &scale);
    EXPECT_EQ(w, 16);
    EXPECT_EQ(h, 12);
    Bitmap b(kRGB565, int(w), int(h), 2);
    const MInt64 sx = w * 1024 / 31, sy = h * 1024 / 23;
    for (size_t i = 0; i < ref.size(); ++i) {
        ASSERT_EQ(MUtilsGIFDec_GetFrameData(p.dec, &b.bmp), MOK) << i;
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x) {
                const MInt64 X = std::min<MInt64>(x * 1024 / sx, 30), Y = std::min<MInt64>(y * 1024 / sy, 22);
                const uint8_t* e = &ref[i][size_t(Y * 31 + X) * 4];
                const int v = b.at(x, y, 2)[0] | (b.at(x, y, 2)[1] << 8);
                ASSERT_EQ(v, ((e[0] >> 3) << 11) | ((e[1] >> 2) << 5) | (e[2] >> 3)) << i << " " << x << "," << y;
            }
    }
}

TEST(GIFDisplay, EnlargedRowsAreAllFilled) {
    // Narrower but taller than the screen: every display row of a source row shows it.
    Animation a;
    a.width = 8, a.height = 4;
    a.global = randomPalette(2);
    a.frames = {randomFrame(0, 0, 8, 4, 3)};
    const Bytes file = writeGif(a);
    const auto ref = referenceFrames(file);
    Player p(file);
    Bitmap b(kRGB, 4, 8, 3);
    ASSERT_EQ(MUtilsGIFDec_GetFrameData(p.dec, &b.bmp), MOK);
    for (int y = 0; y < 8; ++y)
        for (int x = 0; x < 4; ++x) {
            const MInt64 X = x * 1024 / 512, Y = y * 1024 / 2048;
            EXPECT_EQ(b.at(x, y, 3)[0], ref[0][size_t(Y * 8 + X) * 4]) << x << "," << y;
        }
}

TEST(GIFDisplay, LoopCounts) {
    struct Row {
        const char* name;
        int loopField; // -1 no extension
        int expectedPlays; // 0: endless
    };
    for (const Row& row : {Row{"no extension plays once", -1, 1}, Row{"loop field 2 plays three times", 2, 3},
                           Row{"loop field 0 repeats without end", 0, 0}}) {
        Animation a;
        a.width = 4, a.height = 4, a.loop = row.loopField;
        a.global = randomPalette(1);
        a.frames = {randomFrame(0, 0, 4, 4, 2), randomFrame(1, 1, 2, 2, 3)};
        Player p(writeGif(a));
        Bitmap b(kRGB, 4, 4, 3);
        std::vector<MResult> seen;
        for (int k = 0; k < 12; ++k) seen.push_back(MUtilsGIFDec_GetFrameData(p.dec, &b.bmp));
        std::vector<MResult> want;
        for (int play = 0; want.size() < 12; ++play) {
            const bool more = row.expectedPlays == 0 || play < row.expectedPlays;
            if (more) want.insert(want.end(), {MOK, MOK});
            want.push_back(MERR_UNKNOWN);
        }
        want.resize(12);
        EXPECT_EQ(seen, want) << row.name;
    }
}

TEST(GIFDisplay, NoGlobalTableUsesBlackAndWhite) {
    // giflib refuses to write a frame without any colour table, so this one is written by hand:
    // a 3 x 1 screen without a global table, one frame of indexes 0, 1, 2 (LZW: clear, 0, 1, 2,
    // end at a minimum code size of 2).
    const Bytes file = {'G', 'I', 'F', '8', '9', 'a', 3, 0, 1, 0, 0, 0, 0,
                        0x2C, 0, 0, 0, 0, 3, 0, 1, 0, 0, 2, 2, 0x44, 0x54, 0, 0x3B};
    Player p(file);
    Bitmap b(kRGB, 3, 1, 3);
    std::fill(b.px.begin(), b.px.end(), 0x77);
    ASSERT_EQ(MUtilsGIFDec_GetFrameData(p.dec, &b.bmp), MOK);
    const std::vector<uint8_t> row(b.px.begin(), b.px.begin() + 9);
    EXPECT_EQ(row, (std::vector<uint8_t>{0, 0, 0, 255, 255, 255, 0, 0, 0}));
}

TEST(GIFDisplay, BadBitmapsAndArguments) {
    const Bytes file = writeGif(mixed(5));
    Player p(file);
    GIFDecHandle none = nullptr;
    EXPECT_EQ(MUtilsGIFDec_Create(p.m.h, p.st.s, nullptr), MERR_INVALID_PARAM);
    EXPECT_EQ(MUtilsGIFDec_Create(p.m.h, nullptr, &none), MERR_INVALID_PARAM);
    EXPECT_EQ(MUtilsGIFDec_Destroy(nullptr), MERR_INVALID_PARAM);
    EXPECT_EQ(MUtilsGIFDec_GetFrameData(p.dec, nullptr), MERR_INVALID_PARAM);
    Bitmap empty(kRGB, 0, 0, 3);
    EXPECT_EQ(MUtilsGIFDec_GetFrameData(p.dec, &empty.bmp), MERR_UNSUPPORTED);
    Bitmap rgba(0x37001777, 31, 23, 4);
    EXPECT_EQ(MUtilsGIFDec_GetFrameData(p.dec, &rgba.bmp), MERR_UNSUPPORTED);
    Bitmap good(kRGB, 31, 23, 3);
    ASSERT_EQ(MUtilsGIFDec_GetFrameData(p.dec, &good.bmp), MOK);
    Bitmap other(kRGB, 30, 23, 3);
    EXPECT_EQ(MUtilsGIFDec_GetFrameData(p.dec, &other.bmp), MERR_INVALID_PARAM);
    // Without the GIF component registered nothing can be opened.
    AMCMHandle bare = nullptr;
    ASSERT_EQ(AMCM_Create(nullptr, &bare), MOK);
    EXPECT_NE(MUtilsGIFDec_Create(bare, p.st.s, &none), MOK);
    EXPECT_EQ(none, nullptr);
    AMCM_Destroy(bare);
}

TEST(GIFDisplay, FitInSize) {
    MInt64 w = 400, h = 200;
    double s = 0;
    MUtilsCalcGIFFitinSize(100, 100, &w, &h, &s);
    EXPECT_EQ(w, 100);
    EXPECT_EQ(h, 50);
    EXPECT_DOUBLE_EQ(s, 0.25);
    w = 50, h = 40;
    MUtilsCalcGIFFitinSize(100, 100, &w, &h, &s);
    EXPECT_EQ(w, 50);
    EXPECT_EQ(h, 40);
    EXPECT_DOUBLE_EQ(s, 1.0);
    w = 0, h = 500; // an empty size never divides by zero
    MUtilsCalcGIFFitinSize(100, 100, &w, &h, nullptr);
    EXPECT_GE(w, 1);
}

TEST(GIFDisplay, EveryPrefixOfATruncatedFile) {
    const Bytes file = writeGif(mixed(7));
    for (size_t n = 0; n < file.size(); ++n) {
        const Bytes cut(file.begin(), file.begin() + long(n));
        Manager m;
        Stream st(cut);
        GIFDecHandle dec = nullptr;
        if (MUtilsGIFDec_Create(m.h, st.s, &dec) != MOK) continue;
        Bitmap b(kRGB, 31, 23, 3);
        for (int k = 0; k < 8; ++k)
            if (MUtilsGIFDec_GetFrameData(dec, &b.bmp) > 1) break;
        MUtilsGIFDec_Destroy(dec);
    }
}
