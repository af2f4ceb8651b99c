// GIF decoder against giflib on generated files: frames, local tables, interlacing,
// transparency, the loop extension, 12-bit codes with full tables, clipping, scaling, random
// access, damaged later frames and every prefix of a truncated file.
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <unordered_map>
#include <vector>

#include <gif_lib.h>

#include "GifDecoder.h"
#include "MStream.h"

namespace {

using Bytes = std::vector<uint8_t>;

struct FrameSpec {
    int left = 0, top = 0, width = 8, height = 6;
    bool interlace = false;
    int localBits = 0;  // 0: no local table
    int transparent = -1;
    int disposal = 0, delay = 0;
    int colors = 4;     // indexes drawn from 0 .. colors-1
};

struct GifSpec {
    int width = 8, height = 6;
    int globalBits = 2;
    int loop = -1;  // -1: no NETSCAPE2.0 extension
    std::vector<FrameSpec> frames{FrameSpec{}};
};

struct Made {
    Bytes file;
    std::vector<std::vector<uint8_t>> pixels;  // per frame, top row first
};

int writeMem(GifFileType* g, const GifByteType* b, int n) {
    auto* out = static_cast<Bytes*>(g->UserData);
    out->insert(out->end(), b, b + n);
    return n;
}

ColorMapObject* makeMap(int bits, std::mt19937& rng) {
    int n = 1 << bits;
    std::vector<GifColorType> c(static_cast<size_t>(n));
    for (auto& e : c) e.Red = uint8_t(rng()), e.Green = uint8_t(rng()), e.Blue = uint8_t(rng());
    return GifMakeMapObject(n, c.data());
}

Made makeGif(const GifSpec& shape, uint32_t seed) {
    Made m;
    std::mt19937 rng(seed);
    int err = 0;
    GifFileType* g = EGifOpen(&m.file, writeMem, &err);
    EGifSetGifVersion(g, true);
    ColorMapObject* global = shape.globalBits ? makeMap(shape.globalBits, rng) : nullptr;
    EGifPutScreenDesc(g, shape.width, shape.height, 8, 0, global);
    if (shape.loop >= 0) {
        EGifPutExtensionLeader(g, APPLICATION_EXT_FUNC_CODE);
        EGifPutExtensionBlock(g, 11, "NETSCAPE2.0");
        unsigned char sub[3] = {1, uint8_t(shape.loop & 0xFF), uint8_t(shape.loop >> 8)};
        EGifPutExtensionBlock(g, 3, sub);
        EGifPutExtensionTrailer(g);
    }
    for (const FrameSpec& f : shape.frames) {
        GraphicsControlBlock gcb{};
        gcb.DisposalMode = f.disposal;
        gcb.DelayTime = f.delay;
        gcb.TransparentColor = f.transparent;
        unsigned char ext[4];
        size_t len = EGifGCBToExtension(&gcb, ext);
        EGifPutExtension(g, GRAPHICS_EXT_FUNC_CODE, int(len), ext);
        ColorMapObject* local = f.localBits ? makeMap(f.localBits, rng) : nullptr;
        if (!local && g->Image.ColorMap) {
            // giflib drops the previous frame's local table without freeing it.
            GifFreeMapObject(g->Image.ColorMap);
            g->Image.ColorMap = nullptr;
        }
        EGifPutImageDesc(g, f.left, f.top, f.width, f.height, f.interlace, local);
        std::vector<uint8_t> px(size_t(f.width) * f.height);
        for (size_t i = 0; i < px.size(); ++i) px[i] = uint8_t((i % 5 == 0) ? px[i ? i - 1 : 0] : rng() % f.colors);
        m.pixels.push_back(px);
        std::vector<int> order;
        if (f.interlace) {
            for (int p : {0, 4, 2, 1})
                for (int y = p; y < f.height; y += (p == 0 || p == 4) ? 8 : (p == 2 ? 4 : 2)) order.push_back(y);
        } else {
            for (int y = 0; y < f.height; ++y) order.push_back(y);
        }
        for (int y : order) EGifPutLine(g, &px[size_t(y) * f.width], f.width);
        if (local) GifFreeMapObject(local);
    }
    EGifCloseFile(g, &err);
    if (global) GifFreeMapObject(global);
    return m;
}

struct Dec {
    GIFHandle h = nullptr;
    MSTREAM s = nullptr;
    Bytes data;
    MResult init;
    explicit Dec(const Bytes& file) : data(file) {
        s = MStreamOpenFromMemoryBlock(data.empty() ? nullptr : data.data(), int64_t(data.size()));
        init = GIF_DecodeInit(s, &h);
    }
    ~Dec() {
        if (h) GIF_DecodeUninit(h);
        MStreamClose(s);
    }
    // Decodes one frame a row at a time; returns the rows top first.
    MResult frame(int64_t index, GIFFrameInfo& info, std::vector<uint8_t>& out) {
        std::memset(&info, 0, sizeof info);
        MResult r = GIF_DecodeGetFrameInfo(h, &info, index);
        if (r != MOK) return r;
        out.assign(size_t(info.wWidth) * info.wHeight, 0xEE);
        std::vector<uint8_t> row((info.wWidth + 3) & ~3);
        for (int y = 0; y < info.wHeight; ++y) {
            int64_t first = -1, got = 0;
            r = GIF_DecodeScanLines(h, row.data(), 1, &first, &got);
            if (r != MOK) return r;
            if (got != 1 || first != y) return 99;
            std::memcpy(&out[size_t(y) * info.wWidth], row.data(), info.wWidth);
        }
        return MOK;
    }
};

int readMem(GifFileType* g, GifByteType* b, int n) {
    auto* src = static_cast<std::pair<const Bytes*, size_t>*>(g->UserData);
    int k = int(std::min<size_t>(size_t(n), src->first->size() - src->second));
    std::memcpy(b, src->first->data() + src->second, size_t(k));
    src->second += size_t(k);
    return k;
}

void expectMatchesGiflib(const GifSpec& shape, uint32_t seed) {
    Made m = makeGif(shape, seed);
    std::pair<const Bytes*, size_t> src{&m.file, 0};
    int err = 0;
    GifFileType* ref = DGifOpen(&src, readMem, &err);
    ASSERT_NE(ref, nullptr);
    ASSERT_EQ(DGifSlurp(ref), GIF_OK);
    Dec d(m.file);
    ASSERT_EQ(d.init, MOK);
    ASSERT_EQ(ref->ImageCount, int(shape.frames.size()));
    // Visit the frames backwards to exercise random access.
    for (int i = ref->ImageCount - 1; i >= 0; --i) {
        SCOPED_TRACE(i);
        const SavedImage& im = ref->SavedImages[i];
        GIFFrameInfo info;
        std::vector<uint8_t> px;
        ASSERT_EQ(d.frame(i, info, px), MOK);
        EXPECT_EQ(info.wLeft, im.ImageDesc.Left);
        EXPECT_EQ(info.wTop, im.ImageDesc.Top);
        ASSERT_EQ(info.wWidth, im.ImageDesc.Width);
        ASSERT_EQ(info.wHeight, im.ImageDesc.Height);
        EXPECT_EQ(info.dwInterlace != 0, bool(im.ImageDesc.Interlace));
        EXPECT_EQ(info.dwLocalTable != 0, im.ImageDesc.ColorMap != nullptr);
        GraphicsControlBlock gcb;
        DGifSavedExtensionToGCB(ref, i, &gcb);
        EXPECT_EQ(int(info.dwDisposal), gcb.DisposalMode);
        EXPECT_EQ(int(info.wDelay), gcb.DelayTime);
        EXPECT_EQ(info.dwTransparent != 0, gcb.TransparentColor >= 0);
        if (gcb.TransparentColor >= 0) {
            EXPECT_EQ(info.byTransIndex, gcb.TransparentColor);
        }
        ASSERT_EQ(0, std::memcmp(px.data(), im.RasterBits, px.size()));
        // The palette of the frame: local when it has one.
        ColorMapObject* map = im.ImageDesc.ColorMap ? im.ImageDesc.ColorMap : ref->SColorMap;
        int64_t size = 0;
        ASSERT_EQ(GIF_DecodeGetColorTab(d.h, nullptr, &size), MOK);
        ASSERT_EQ(size, map->ColorCount * 4);
        std::vector<uint8_t> pal(static_cast<size_t>(size));
        GIF_DecodeGetColorTab(d.h, pal.data(), &size);
        for (int c = 0; c < map->ColorCount; ++c) {
            EXPECT_EQ(pal[4 * c], map->Colors[c].Blue);
            EXPECT_EQ(pal[4 * c + 2], map->Colors[c].Red);
            EXPECT_EQ(pal[4 * c + 3], 0);
        }
    }
    DGifCloseFile(ref, &err);
}

TEST(GifDecoder, MatchesGiflibOnGeneratedFiles) {
    GifSpec one;
    ASSERT_NO_FATAL_FAILURE(expectMatchesGiflib(one, 1));

    GifSpec anim;
    anim.width = 40, anim.height = 30, anim.globalBits = 8;
    FrameSpec a{0, 0, 40, 30};
    a.colors = 256;
    FrameSpec b{5, 7, 13, 11, true, 3, 2, 2, 10, 8};
    FrameSpec c{1, 2, 17, 19, true};
    c.transparent = 3, c.disposal = 3, c.delay = 500;
    FrameSpec dd{39, 29, 1, 1};
    anim.frames = {a, b, c, dd};
    ASSERT_NO_FATAL_FAILURE(expectMatchesGiflib(anim, 2));

    // Every interlace pass shape, small heights included.
    for (int h = 1; h <= 10; ++h) {
        GifSpec s;
        s.height = h;
        s.frames[0].height = h;
        s.frames[0].interlace = true;
        SCOPED_TRACE(h);
        ASSERT_NO_FATAL_FAILURE(expectMatchesGiflib(s, uint32_t(10 + h)));
    }
    // Large random frames fill the 4096-entry table and use 12-bit codes.
    GifSpec big;
    big.width = 300, big.height = 200, big.globalBits = 8;
    big.frames[0] = FrameSpec{0, 0, 300, 200};
    big.frames[0].colors = 256;
    ASSERT_NO_FATAL_FAILURE(expectMatchesGiflib(big, 3));
    // One-bit tables (minimum code size 2).
    GifSpec mono;
    mono.globalBits = 1;
    mono.frames[0].colors = 2;
    ASSERT_NO_FATAL_FAILURE(expectMatchesGiflib(mono, 4));
}

// LZW written without the clear code that encoders usually send when the table fills: the
// decoder must go on with 12-bit codes and a frozen table.
// A one-frame file of w x h pixels coded by a plain LZW encoder whose table freezes once it holds
// 4096 codes. It widens its codes one entry later than its own table grows, since the decoder's
// table lags by one entry. `next` receives the encoder's final table size.
Bytes lzwFile(const std::vector<uint8_t>& px, int w, int h, int minCode, int* nextOut = nullptr) {
    std::unordered_map<int, int> map;
    std::vector<uint8_t> bytes;
    uint32_t acc = 0;
    int nacc = 0, codeSize = minCode + 1, next = (1 << minCode) + 2;
    auto out = [&](int code) {
        acc |= uint32_t(code) << nacc;
        nacc += codeSize;
        while (nacc >= 8) { bytes.push_back(uint8_t(acc)); acc >>= 8; nacc -= 8; }
    };
    out(1 << minCode);
    int cur = px[0];
    for (size_t i = 1; i < px.size(); ++i) {
        int key = cur * 256 + px[i];
        auto it = map.find(key);
        if (it != map.end()) { cur = it->second; continue; }
        out(cur);
        if (next < 4096) map[key] = next++;
        if (next == (1 << codeSize) + 1 && codeSize < 12) ++codeSize;
        cur = px[i];
    }
    out(cur);
    out((1 << minCode) + 1);
    if (nacc > 0) bytes.push_back(uint8_t(acc));
    Bytes file = {'G', 'I', 'F', '8', '9', 'a', uint8_t(w), uint8_t(w >> 8), uint8_t(h), uint8_t(h >> 8), 0x87, 0, 0};
    for (int i = 0; i < 256 * 3; ++i) file.push_back(uint8_t(i));
    for (uint8_t b : {0x2C, 0, 0, 0, 0, int(uint8_t(w)), w >> 8, int(uint8_t(h)), h >> 8, 0}) file.push_back(uint8_t(b));
    file.push_back(uint8_t(minCode));
    for (size_t i = 0; i < bytes.size(); i += 255) {
        size_t n = std::min<size_t>(255, bytes.size() - i);
        file.push_back(uint8_t(n));
        file.insert(file.end(), bytes.begin() + long(i), bytes.begin() + long(i + n));
    }
    file.push_back(0);
    file.push_back(0x3B);
    if (nextOut) *nextOut = next;
    return file;
}

// Decodes frame 0 with ours and with giflib and checks both give `px`.
void expectBothDecode(const Bytes& file, const std::vector<uint8_t>& px) {
    Dec d(file);
    ASSERT_EQ(d.init, MOK);
    GIFFrameInfo info;
    std::vector<uint8_t> out2;
    ASSERT_EQ(d.frame(0, info, out2), MOK);
    EXPECT_EQ(out2, px);

    std::pair<const Bytes*, size_t> src{&file, 0};
    int err = 0;
    GifFileType* ref = DGifOpen(&src, readMem, &err);
    ASSERT_EQ(DGifSlurp(ref), GIF_OK);
    EXPECT_EQ(0, std::memcmp(ref->SavedImages[0].RasterBits, px.data(), px.size()));
    DGifCloseFile(ref, &err);
}

TEST(GifDecoder, FullTableWithoutClearCode) {
    const int w = 128, h = 128;
    std::mt19937 rng(5);
    std::vector<uint8_t> px(size_t(w * h));
    for (auto& p : px) p = uint8_t(rng() % 7);
    int next = 0;
    const Bytes file = lzwFile(px, w, h, 8, &next);
    ASSERT_GE(next, 4096);
    ASSERT_NO_FATAL_FAILURE(expectBothDecode(file, px));
}

TEST(GifDecoder, MinimumCodeSizeOneWidensItsCodes) {
    // Two-colour data coded with one-bit roots: the code width must grow past two bits as the
    // table fills, exactly as for wider roots.
    const int w = 61, h = 37;
    std::mt19937 rng(11);
    std::vector<uint8_t> px(size_t(w * h));
    for (auto& p : px) p = uint8_t(rng() % 2);
    ASSERT_NO_FATAL_FAILURE(expectBothDecode(lzwFile(px, w, h, 1), px));
}

TEST(GifDecoder, MinimumCodeSizeAboveEightIsRefused) {
    std::vector<uint8_t> px(64, 1);
    for (int bad : {0, 9, 12}) {
        Bytes file = lzwFile(px, 8, 8, 2);
        // The code size byte follows the image descriptor.
        const size_t at = 13 + 256 * 3 + 10;
        ASSERT_EQ(file[at], 2);
        file[at] = uint8_t(bad);
        Dec d(file);
        ASSERT_EQ(d.init, MOK);
        GIFFrameInfo info;
        std::vector<uint8_t> out;
        EXPECT_NE(d.frame(0, info, out), MOK) << "code size " << bad;
    }
}

TEST(GifDecoder, AFrameFarLargerThanItsFileIsRefusedBeforeItsPixelsAreMade) {
    // 41 bytes: a screen and a frame of 16,384 x 16,384 whose data is one pixel. The frame's
    // indexes would take 268 MB, and no byte of a GIF makes more than 4,096 pixels.
    const Bytes file = {'G', 'I', 'F', '8', '9', 'a', 0x00, 0x40, 0x00, 0x40, 0x81, 0, 0,
                        0, 0, 0, 255, 0, 0, 0, 255, 0, 0, 0, 255,
                        0x2C, 0, 0, 0, 0, 0x00, 0x40, 0x00, 0x40, 0x00,
                        2, 2, 0x4C, 0x01, 0, 0x3B};
    Dec d(file);
    ASSERT_EQ(d.init, MOK);
    GIFFrameInfo info;
    ASSERT_EQ(GIF_DecodeGetFrameInfo(d.h, &info, 0), MOK);
    std::vector<uint8_t> row(16384);
    int64_t first = -1, got = 0;
    EXPECT_EQ(GIF_DecodeScanLines(d.h, row.data(), 1, &first, &got), MERR_UNSUPPORTED);
}

TEST(GifDecoder, LoopExtensionAndFrameCount) {
    GifSpec s;
    s.loop = 0;
    s.frames = {FrameSpec{}, FrameSpec{}, FrameSpec{}};
    Made m = makeGif(s, 6);
    MSTREAM st = MStreamOpenFromMemoryBlock(m.file.data(), int64_t(m.file.size()));
    MUInt64 info[3] = {9, 9, 9};
    ASSERT_EQ(GIF_GetGifInfo(st, info), MOK);
    EXPECT_EQ(info[0], 0u);
    EXPECT_EQ(info[1], 1u);
    EXPECT_EQ(info[2], 0u);
    MStreamSeek(st, 0, 0);
    int64_t count = 0;
    ASSERT_EQ(GIF_GetFrameCount(st, &count), MOK);
    EXPECT_EQ(count, 3);
    EXPECT_EQ(MStreamTell(st), 0);
    int64_t w, h, bits;
    ASSERT_EQ(GIF_GetInfoFromFile(st, &w, &h, &bits), MOK);
    EXPECT_EQ(w, 8);
    EXPECT_EQ(bits, 2);
    MStreamClose(st);

    s.loop = 7;
    m = makeGif(s, 6);
    st = MStreamOpenFromMemoryBlock(m.file.data(), int64_t(m.file.size()));
    ASSERT_EQ(GIF_GetGifInfo(st, info), MOK);
    EXPECT_EQ(info[2], 7u);
    MStreamClose(st);

    s.loop = -1;
    m = makeGif(s, 6);
    st = MStreamOpenFromMemoryBlock(m.file.data(), int64_t(m.file.size()));
    ASSERT_EQ(GIF_GetGifInfo(st, info), MOK);
    EXPECT_EQ(info[1], 0u);
    MStreamClose(st);
}

TEST(GifDecoder, FramesOutsideTheScreenAreClipped) {
    GifSpec s;
    s.width = 10, s.height = 10;
    FrameSpec over{6, 7, 8, 6};
    FrameSpec outside{12, 0, 3, 3};
    s.frames = {over, outside};
    Made m = makeGif(s, 8);
    Dec d(m.file);
    GIFFrameInfo info;
    std::vector<uint8_t> px;
    ASSERT_EQ(d.frame(0, info, px), MOK);
    EXPECT_EQ(info.wWidth, 4);
    EXPECT_EQ(info.wHeight, 3);
    for (int y = 0; y < 3; ++y)
        for (int x = 0; x < 4; ++x) EXPECT_EQ(px[size_t(y * 4 + x)], m.pixels[0][size_t(y * 8 + x)]);
    ASSERT_EQ(d.frame(1, info, px), MOK);
    EXPECT_EQ(info.wWidth, 1);
    EXPECT_EQ(info.wHeight, 1);
    EXPECT_EQ(info.dwTransparent, 1u);
    EXPECT_EQ(px[0], info.byTransIndex);
    EXPECT_EQ(d.frame(2, info, px), MERR_UNKNOWN);
}

TEST(GifDecoder, ScaledFramesTakeNearestPixels) {
    GifSpec s;
    s.width = 40, s.height = 20;
    s.frames = {FrameSpec{0, 0, 40, 20}, FrameSpec{8, 4, 20, 12}};
    Made m = makeGif(s, 9);
    Dec d(m.file);
    int64_t w = 10, h = 100;
    ASSERT_EQ(GIF_DecodeSetDimension(d.h, &w, &h), MOK);
    EXPECT_EQ(w, 10);
    EXPECT_EQ(h, 5);
    GIFFrameInfo info;
    std::vector<uint8_t> px;
    ASSERT_EQ(d.frame(0, info, px), MOK);
    ASSERT_EQ(info.wWidth, 10);
    for (int y = 0; y < 5; ++y)
        for (int x = 0; x < 10; ++x) EXPECT_EQ(px[size_t(y * 10 + x)], m.pixels[0][size_t(y * 4 * 40 + x * 4)]);
    ASSERT_EQ(d.frame(1, info, px), MOK);
    EXPECT_EQ(info.wLeft, 2);
    EXPECT_EQ(info.wTop, 1);
    EXPECT_EQ(info.wWidth, 5);
    EXPECT_EQ(info.wHeight, 3);
    for (int y = 0; y < 3; ++y)
        for (int x = 0; x < 5; ++x) EXPECT_EQ(px[size_t(y * 5 + x)], m.pixels[1][size_t(y * 4 * 20 + x * 4)]);
    w = 0, h = 0;  // zero asks for the screen size
    ASSERT_EQ(GIF_DecodeSetDimension(d.h, &w, &h), MOK);
    EXPECT_EQ(w, 40);
    EXPECT_EQ(h, 20);
}

TEST(GifDecoder, BrokenLaterFrameKeepsEarlierFrames) {
    GifSpec s;
    s.frames = {FrameSpec{}, FrameSpec{}, FrameSpec{}};
    Made m = makeGif(s, 10);
    // Cut the file inside the third frame's data and corrupt the second frame's codes.
    Bytes cut(m.file.begin(), m.file.end() - 8);
    Dec d(cut);
    ASSERT_EQ(d.init, MOK);
    GIFFrameInfo info;
    std::vector<uint8_t> px;
    ASSERT_EQ(d.frame(2, info, px), MOK);  // partial frame: no crash, the rest filled
    ASSERT_EQ(d.frame(0, info, px), MOK);
    EXPECT_EQ(px, m.pixels[0]);
    ASSERT_EQ(d.frame(1, info, px), MOK);
    EXPECT_EQ(px, m.pixels[1]);
    EXPECT_EQ(d.frame(3, info, px), MERR_UNKNOWN);
}

TEST(GifDecoder, EveryTruncatedPrefixIsSafe) {
    GifSpec s;
    s.loop = 2;
    FrameSpec f{0, 0, 8, 6, true, 2};
    f.transparent = 1;
    s.frames = {FrameSpec{}, f};
    Made m = makeGif(s, 11);
    for (size_t n = 0; n < m.file.size(); ++n) {
        Bytes prefix(m.file.begin(), m.file.begin() + long(n));
        Dec d(prefix);
        if (n < 13 + 12) {
            EXPECT_NE(d.init, MOK) << n;
            continue;
        }
        ASSERT_EQ(d.init, MOK) << n;
        for (int i = 0; i < 3; ++i) {
            GIFFrameInfo info;
            std::vector<uint8_t> px;
            MResult r = d.frame(i, info, px);
            EXPECT_TRUE(r == MOK || r == MERR_UNKNOWN || r == MERR_FILE_READ) << n << " " << r;
        }
        MSTREAM st = MStreamOpenFromMemoryBlock(prefix.data(), int64_t(prefix.size()));
        MUInt64 info[3];
        int64_t count;
        GIF_GetGifInfo(st, info);
        MStreamSeek(st, 0, 0);
        EXPECT_EQ(GIF_GetFrameCount(st, &count), MOK);
        MStreamClose(st);
    }
}

}  // namespace
