// The animated GIF encoder. The library ships no GIF encoder component, so these tests register
// one of their own: it writes real GIF89a through giflib into the encoder's stream (the screen and
// loop when the header value arrives, every frame as its last call arrives) and records what it
// was told. The files it helps to write are read back with giflib.
#include <gtest/gtest.h>

#include "AGIFTestSupport.h"
#include "GifDecoder.h"
#include "MCodec.h"
#include "MMemory.h"
#include "MdAGIF.h"

using namespace agiftest;

namespace {

constexpr MDWord kEncoderID = 0x81002203;

struct Told {
    int loopSets = 0, headerSets = 0;
    int64_t loop = 0, header = 0, usePalette = -7, algorithm = -7;
    std::vector<int64_t> delays;
    bool failIndexes = false;
};
Told g_told;

struct FakeGifEncoder {
    MDecComponentHead head;
    MDecComponentFuncs table;
    MSTREAM stream;
    int64_t width, height;
    GifFileType* gif;
    GIFFrameInfo frame;
    int64_t delay;
    uint8_t palette[1024];
    std::vector<uint8_t>* rows; // 24-bit rows of the frame being handed over as lines
};

int toStream(GifFileType* g, const GifByteType* b, int n) {
    return int(MStreamWrite(static_cast<FakeGifEncoder*>(g->UserData)->stream, b, n));
}

void writeFrame(FakeGifEncoder* e, const std::vector<GifColorType>& colours, const uint8_t* idx, int64_t pitch) {
    GraphicsControlBlock gcb{};
    gcb.DelayTime = int(e->delay);
    gcb.TransparentColor = -1;
    GifByteType ext[4];
    EGifPutExtension(e->gif, GRAPHICS_EXT_FUNC_CODE, int(EGifGCBToExtension(&gcb, ext)), ext);
    ColorMapObject* map = GifMakeMapObject(256, colours.data());
    if (e->gif->Image.ColorMap) GifFreeMapObject(e->gif->Image.ColorMap), e->gif->Image.ColorMap = nullptr;
    EGifPutImageDesc(e->gif, e->frame.wLeft, e->frame.wTop, e->frame.wWidth, e->frame.wHeight, false, map);
    GifFreeMapObject(map);
    for (int y = 0; y < e->frame.wHeight; ++y)
        EGifPutLine(e->gif, const_cast<GifPixelType*>(idx + y * pitch), e->frame.wWidth);
}

MResult fInit(MHandle h, MVoid* rec) {
    auto* e = static_cast<FakeGifEncoder*>(h);
    auto* p = static_cast<MCodecEncParam*>(rec);
    e->stream = p->stream, e->width = p->lWidth, e->height = p->lHeight;
    return MOK;
}
MResult fDestroy(MHandle h) {
    auto* e = static_cast<FakeGifEncoder*>(h);
    int err = 0;
    if (e->gif) {
        if (e->gif->Image.ColorMap) GifFreeMapObject(e->gif->Image.ColorMap), e->gif->Image.ColorMap = nullptr;
        EGifCloseFile(e->gif, &err);
    }
    delete e->rows;
    MMemFree(nullptr, e);
    return MOK;
}
MResult fType(MHandle, MUInt64* id) {
    *id = kEncoderID;
    return MOK;
}
MResult fVersion(MHandle, MUInt64*, MUInt64*, MUInt64*, MChar*, MInt64) { return MOK; }
MResult fGet(MHandle, MInt64, MVoid*, MInt64) { return MERR_INVALID_PARAM; }
MResult fSet(MHandle h, MInt64 id, MVoid* v, MInt64 n) {
    auto* e = static_cast<FakeGifEncoder*>(h);
    int64_t x = 0;
    if (n == 8) std::memcpy(&x, v, 8);
    switch (id) {
    case AGIF_ENC_PROP_LOOP: ++g_told.loopSets, g_told.loop = x; return MOK;
    case AGIF_ENC_PROP_HEADER: {
        ++g_told.headerSets, g_told.header = x;
        int err = 0;
        e->gif = EGifOpen(e, toStream, &err);
        EGifSetGifVersion(e->gif, true);
        EGifPutScreenDesc(e->gif, int(e->width), int(e->height), 8, 0, nullptr);
        if (g_told.loop != 0) { // -1, for ever, is the loop field 0
            const int64_t field = g_told.loop < 0 ? 0 : g_told.loop;
            const uint8_t app[] = {'N', 'E', 'T', 'S', 'C', 'A', 'P', 'E', '2', '.', '0'};
            const uint8_t sub[] = {1, uint8_t(field & 0xFF), uint8_t(field >> 8)};
            EGifPutExtensionLeader(e->gif, APPLICATION_EXT_FUNC_CODE);
            EGifPutExtensionBlock(e->gif, sizeof app, app);
            EGifPutExtensionBlock(e->gif, sizeof sub, sub);
            EGifPutExtensionTrailer(e->gif);
        }
        return MOK;
    }
    case AGIF_ENC_PROP_FRAME:
        if (n != 56) return MERR_INVALID_PARAM;
        std::memcpy(&e->frame, v, 56);
        return MOK;
    case AGIF_ENC_PROP_DELAY: e->delay = x, g_told.delays.push_back(x); return MOK;
    case AGIF_ENC_PROP_PALETTE: std::memcpy(e->palette, v, 1024); return MOK;
    case AGIF_ENC_PROP_INDEXES: {
        if (g_told.failIndexes) return MERR_UNSUPPORTED;
        if (n != e->frame.wHeight) return MERR_INVALID_PARAM;
        std::vector<GifColorType> c(256);
        for (int i = 0; i < 256; ++i) c[size_t(i)] = {e->palette[4 * i + 2], e->palette[4 * i + 1], e->palette[4 * i]};
        writeFrame(e, c, static_cast<uint8_t*>(v), (e->frame.wWidth + 3) / 4 * 4);
        return MOK;
    }
    case AGIF_ENC_PROP_USEPALETTE: g_told.usePalette = x; return MOK;
    case AGIF_ENC_PROP_ALGORITHM: g_told.algorithm = x; return MOK;
    default: return MOK;
    }
}
// 24-bit lines: quantised to 3-3-2 colour once the frame's last line has come.
MResult fLines(MHandle h, MByte** planes, MInt64* pitches, MInt64 n) {
    auto* e = static_cast<FakeGifEncoder*>(h);
    if (!e->rows) e->rows = new std::vector<uint8_t>;
    const int w = e->frame.wWidth;
    for (int64_t y = 0; y < n; ++y) {
        const uint8_t* s = planes[0] + y * pitches[0];
        for (int x = 0; x < w; ++x)
            e->rows->push_back(uint8_t((s[3 * x + 2] & 0xE0) | ((s[3 * x + 1] & 0xE0) >> 3) | (s[3 * x] >> 6)));
    }
    if (int64_t(e->rows->size()) == int64_t(w) * e->frame.wHeight) {
        std::vector<GifColorType> c(256);
        for (int i = 0; i < 256; ++i) c[size_t(i)] = {uint8_t(i & 0xE0), uint8_t((i << 3) & 0xE0), uint8_t((i << 6) & 0xC0)};
        writeFrame(e, c, e->rows->data(), w);
        e->rows->clear();
    }
    return MOK;
}

MResult fCreate(AMCMHandle m, MHandle* out) {
    auto* e = static_cast<FakeGifEncoder*>(MMemAlloc(nullptr, sizeof(FakeGifEncoder)));
    std::memset(e, 0, sizeof *e);
    e->table = {fInit, fDestroy, fType, fVersion, fGet, fSet,
                reinterpret_cast<MDEC_FNDECSCANLINES>(reinterpret_cast<void*>(fLines))};
    e->head.pFuncs = &e->table;
    e->head.hAMCM = m;
    *out = e;
    return MOK;
}

struct Encoding {
    Manager m;
    MSTREAM out = nullptr;
    AGIFEncodeHandle enc = nullptr;
    Encoding(int w, int h) {
        g_told = {};
        EXPECT_EQ(AMCM_RegisterEx(m.h, kEncoderID, AMCM_TYPECLASS_ENCODER, 3, 3, fCreate), MOK);
        out = MStreamOpenFromMemoryBlock(nullptr, 0);
        EXPECT_EQ(MdUtilsAGIFEncode_Create(m.h, out, w, h, &enc), MOK);
    }
    // Closes the encoder (the component writes the trailer) and gives the file.
    Bytes finish() {
        MdUtilsAGIFEncode_Destroy(enc);
        enc = nullptr;
        Bytes b(size_t(MStreamGetSize(out)));
        MStreamSeek(out, MSTREAM_SEEK_BEGIN, 0);
        MStreamRead(out, b.data(), MInt64(b.size()));
        return b;
    }
    ~Encoding() {
        MdUtilsAGIFEncode_Destroy(enc);
        MStreamClose(out);
    }
};

struct Decoded {
    int frames = 0, loop = -1;
    std::vector<int> delays;
    std::vector<std::vector<uint8_t>> rasters;
};
Decoded readBack(const Bytes& file) {
    Source src{&file};
    int err = 0;
    Decoded d;
    GifFileType* g = DGifOpen(&src, readSource, &err);
    if (!g) return d;
    if (DGifSlurp(g) == GIF_OK) {
        d.frames = g->ImageCount;
        for (int i = 0; i < g->ImageCount; ++i) {
            GraphicsControlBlock gcb{};
            DGifSavedExtensionToGCB(g, i, &gcb);
            d.delays.push_back(gcb.DelayTime);
            const SavedImage& im = g->SavedImages[i];
            d.rasters.emplace_back(im.RasterBits, im.RasterBits + im.ImageDesc.Width * im.ImageDesc.Height);
        }
        // The loop extension comes before the first frame, so giflib files it with that frame.
        const SavedImage& first = g->SavedImages[0];
        for (int i = 0; g->ImageCount > 0 && i < first.ExtensionBlockCount; ++i) {
            const ExtensionBlock& b = first.ExtensionBlocks[i];
            if (b.Function == CONTINUE_EXT_FUNC_CODE && b.ByteCount == 3) d.loop = b.Bytes[1] | (b.Bytes[2] << 8);
        }
    }
    DGifCloseFile(g, &err);
    return d;
}

std::vector<uint8_t> bgrImage(int w, int h, int pitch, uint32_t seed) {
    std::mt19937 rng(seed);
    std::vector<uint8_t> px(size_t(pitch) * h);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w * 3; ++x) px[size_t(y * pitch + x)] = uint8_t((x * 7 + y * 11 + (rng() & 15)) & 0xFF);
    return px;
}

} // namespace

TEST(AGIFEncode, ThreeIndexFramesRoundTrip) {
    Encoding e(20, 12);
    MdUtilsAGIFEncode_SetLoopNum(e.enc, 3);
    MdUtilsAGIFEncode_SetDurationTime(e.enc, 250);
    std::vector<std::vector<uint8_t>> expected;
    for (int k = 0; k < 3; ++k) {
        const int w = 20 - 4 * k, h = 12 - 2 * k, pitch = w * 3 + 5;
        std::vector<uint8_t> px = bgrImage(w, h, pitch, uint32_t(k + 1));
        MBITMAP bmp{0x16000777, w, h, {pitch, 0, 0}, {px.data(), nullptr, nullptr}};
        AGIFPalette pal = nullptr;
        ASSERT_EQ(MdUtilsAGIFEncode_CreatePalette(&bmp, &pal, k % 2), MOK);
        // An index pitch wider than the packed rows: the encoder must still see each row whole.
        const int ip = w + 9;
        std::vector<uint8_t> idx(size_t(ip) * h);
        ASSERT_EQ(MdUtilsAGIFEncode_GetFrameDataByPalette(pal, &bmp, idx.data(), ip), MOK);
        ASSERT_EQ(MdUtilsAGIFEncode_AddFrameWithData(e.enc, pal, idx.data(), ip, w, h, k, k), MOK);
        std::vector<uint8_t> rows;
        for (int y = 0; y < h; ++y) rows.insert(rows.end(), idx.begin() + y * ip, idx.begin() + y * ip + w);
        expected.push_back(rows);
        EXPECT_EQ(MdUtilsAGIFEncode_DestoryPalette(pal), MOK);
        if (k == 1) MdUtilsAGIFEncode_SetDurationTime(e.enc, 40);
    }
    const Decoded d = readBack(e.finish());
    ASSERT_EQ(d.frames, 3);
    EXPECT_EQ(d.loop, 3);
    EXPECT_EQ(d.delays, (std::vector<int>{25, 25, 4}));
    EXPECT_EQ(d.rasters, expected);
}

TEST(AGIFEncode, BitmapFramesAsLines) {
    Encoding e(9, 7);
    std::vector<uint8_t> px = bgrImage(9, 7, 28, 5);
    MBITMAP bmp{0x16000777, 9, 7, {28, 0, 0}, {px.data(), nullptr, nullptr}};
    ASSERT_EQ(MdUtilsAGIFEncode_AddFrame(e.enc, &bmp, 0, 0), MOK);
    ASSERT_EQ(MdUtilsAGIFEncode_AddFrame(e.enc, &bmp, 0, 0), MOK);
    const Decoded d = readBack(e.finish());
    ASSERT_EQ(d.frames, 2);
    EXPECT_EQ(d.loop, 0); // for ever
    for (int y = 0; y < 7; ++y)
        for (int x = 0; x < 9; ++x) {
            const uint8_t* s = &px[size_t(y * 28 + x * 3)];
            EXPECT_EQ(d.rasters[1][size_t(y * 9 + x)], (s[2] & 0xE0) | ((s[1] & 0xE0) >> 3) | (s[0] >> 6));
        }
}

TEST(AGIFEncode, SettingsReachTheEncoderOnce) {
    Encoding e(4, 4);
    EXPECT_EQ(MdUtilsAGIFEncode_UsePalette(e.enc, 1), MOK);
    EXPECT_EQ(MdUtilsAGIFEncode_SetAlgorithmType(e.enc, 1), MOK);
    EXPECT_EQ(g_told.usePalette, 1);
    EXPECT_EQ(g_told.algorithm, 1);
    std::vector<uint8_t> px = bgrImage(4, 4, 12, 1);
    MBITMAP bmp{0x16000777, 4, 4, {12, 0, 0}, {px.data(), nullptr, nullptr}};
    struct Row {
        int64_t ms, delay;
    };
    for (Row r : {Row{105, 10}, Row{5, 0}, Row{-15, -1}}) {
        MdUtilsAGIFEncode_SetDurationTime(e.enc, r.ms);
        MdUtilsAGIFEncode_SetLoopNum(e.enc, r.ms);
        ASSERT_EQ(MdUtilsAGIFEncode_AddFrame(e.enc, &bmp, 0, 0), MOK);
        EXPECT_EQ(g_told.delays.back(), r.delay) << r.ms;
    }
    EXPECT_EQ(g_told.loopSets, 1);
    EXPECT_EQ(g_told.headerSets, 1);
    EXPECT_EQ(g_told.loop, 105);
    EXPECT_EQ(g_told.header, 2);
}

TEST(AGIFEncode, PingPongAppendsFramesInReverse) {
    struct Row {
        int frames;
        std::vector<int64_t> remaining; // per successful step; then no more
    };
    for (const Row& row : {Row{3, {}}, Row{10, {5, 2}}, Row{8, {3, 0}}, Row{2, {}}}) {
        Encoding e(6, 5);
        AGIFPalette pal = nullptr;
        std::vector<uint8_t> px = bgrImage(6, 5, 20, 3);
        MBITMAP bmp{0x16000777, 6, 5, {20, 0, 0}, {px.data(), nullptr, nullptr}};
        ASSERT_EQ(MdUtilsAGIFEncode_CreatePalette(&bmp, &pal, 0), MOK);
        for (int k = 0; k < row.frames; ++k) {
            std::vector<uint8_t> idx(8 * 5, uint8_t(k)); // frame k is all index k
            ASSERT_EQ(MdUtilsAGIFEncode_AddFrameWithData(e.enc, pal, idx.data(), 8, 6, 5, 0, 0), MOK);
        }
        MdUtilsAGIFEncode_DestoryPalette(pal);
        std::vector<int64_t> steps;
        MInt64 left = -1;
        MResult r;
        while ((r = MdUtilsAGIFEncode_LoopDataDostep(e.enc, &left)) == MOK) steps.push_back(left);
        EXPECT_EQ(r, MERR_AGIF_NO_MORE);
        EXPECT_EQ(left, 0);
        EXPECT_EQ(steps, row.remaining) << row.frames << " frames";
        const Decoded d = readBack(e.finish());
        const int total = row.frames < 3 ? row.frames : 2 * row.frames - 2;
        ASSERT_EQ(d.frames, total);
        for (int i = 0; i < total; ++i) {
            const int source = i < row.frames ? i : 2 * row.frames - 2 - i;
            EXPECT_EQ(d.rasters[size_t(i)][0], source) << i;
        }
    }
}

TEST(AGIFEncode, RefusalsAndFailures) {
    Manager bare; // no encoder component
    MSTREAM s = MStreamOpenFromMemoryBlock(nullptr, 0);
    AGIFEncodeHandle h = reinterpret_cast<AGIFEncodeHandle>(1);
    EXPECT_NE(MdUtilsAGIFEncode_Create(bare.h, s, 4, 4, &h), MOK);
    EXPECT_EQ(h, nullptr);
    EXPECT_EQ(MdUtilsAGIFEncode_Create(nullptr, s, 4, 4, &h), MERR_INVALID_PARAM);
    EXPECT_EQ(MdUtilsAGIFEncode_Create(bare.h, s, 4, 4, nullptr), MERR_INVALID_PARAM);
    MStreamClose(s);
    EXPECT_EQ(MdUtilsAGIFEncode_Destroy(nullptr), MOK);
    EXPECT_EQ(MdUtilsAGIFEncode_SetDurationTime(nullptr, 1), MERR_INVALID_PARAM);
    EXPECT_EQ(MdUtilsAGIFEncode_LoopDataDostep(nullptr, nullptr), MERR_INVALID_PARAM);
    EXPECT_EQ(MdUtilsAGIFEncode_DestoryPalette(nullptr), MERR_INVALID_PARAM);

    Encoding e(2, 2);
    std::vector<uint8_t> px = bgrImage(1, 1, 4, 1);
    MBITMAP bmp{0x16000777, 1, 1, {4, 0, 0}, {px.data(), nullptr, nullptr}};
    AGIFPalette pal = nullptr;
    ASSERT_EQ(MdUtilsAGIFEncode_CreatePalette(&bmp, &pal, 0), MOK);
    uint8_t idx[4] = {};
    EXPECT_EQ(MdUtilsAGIFEncode_AddFrameWithData(e.enc, pal, idx, 0, 1, 1, 0, 0), MERR_INVALID_PARAM); // pitch
    EXPECT_EQ(MdUtilsAGIFEncode_AddFrameWithData(e.enc, pal, idx, 4, 1, 1, -1, 0), MERR_INVALID_PARAM);
    EXPECT_EQ(MdUtilsAGIFEncode_AddFrameWithData(e.enc, pal, idx, 4, 1, 1, 70000, 0), MERR_INVALID_PARAM);
    // A frame the encoder refuses is not counted.
    g_told.failIndexes = true;
    EXPECT_EQ(MdUtilsAGIFEncode_AddFrameWithData(e.enc, pal, idx, 4, 1, 1, 0, 0), MERR_UNSUPPORTED);
    g_told.failIndexes = false;
    for (int k = 0; k < AGIF_MAX_FRAMES; ++k)
        ASSERT_EQ(MdUtilsAGIFEncode_AddFrameWithData(e.enc, pal, idx, 4, 1, 1, 0, 0), MOK) << k;
    EXPECT_EQ(MdUtilsAGIFEncode_AddFrameWithData(e.enc, pal, idx, 4, 1, 1, 0, 0), MERR_INVALID_PARAM);
    EXPECT_EQ(MdUtilsAGIFEncode_AddFrame(e.enc, &bmp, 0, 0), MERR_INVALID_PARAM);
    MdUtilsAGIFEncode_DestoryPalette(pal);
    EXPECT_EQ(readBack(e.finish()).frames, AGIF_MAX_FRAMES);
}
