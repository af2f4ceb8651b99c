// The decoder components through their operation tables: properties, sizes, order of search.
#include <gtest/gtest.h>

#include <cstring>

#include "GifDecoder.h"
#include "MdBitmap.h"
#include "MdComponent.h"
#include "framework_test_support.h"

using namespace fwtest;

namespace {

struct Opened {
    MHandle inst = nullptr;
    const MDecComponentFuncs* f = nullptr;
    MResult init = -1;
    Opened(AMCMHandle m, MDWord id, MSTREAM s) {
        if (AMCM_CreateComponent(m, id, &inst) == MOK) {
            f = MDEC_FUNCS(inst);
            init = f->s_Init(inst, s);
        }
    }
    ~Opened() {
        if (inst) f->s_Destroy(inst);
    }
    int64_t get8(int64_t id) {
        int64_t v = -99;
        EXPECT_EQ(f->s_GetProp(inst, id, &v, 8), MOK) << std::hex << id;
        return v;
    }
};

} // namespace

TEST(Components, RegistrationAndSearchOrder) {
    Manager m;
    MUInt64 ids[10] = {};
    ASSERT_EQ(MdUtilsFindCodecComponents(m.h, 0x1000000 | 2, ids, 10), MOK);
    EXPECT_EQ(ids[0], 0x81001202u);
    EXPECT_EQ(ids[1], 0u);
    // Two decoders for one subtype: higher priority first; equal priorities, larger ID first.
    AMCM_RegisterEx(m.h, 0x81001100, 0x1000000, 1, 5, MDecoder_BMPCreate);
    AMCM_RegisterEx(m.h, 0x81001000, 0x1000000, 1, 3, MDecoder_BMPCreate);
    MUInt64 bmp[10] = {};
    ASSERT_EQ(MdUtilsFindCodecComponents(m.h, 0x1000000 | 1, bmp, 10), MOK);
    EXPECT_EQ(bmp[0], 0x81001100u);
    EXPECT_EQ(bmp[1], 0x81001001u);
    EXPECT_EQ(bmp[2], 0x81001000u);
    EXPECT_EQ(MdUtilsFindCodecComponents(m.h, 0x2000000 | 2, ids, 10), MERR_NO_CODEC);
    EXPECT_EQ(MdRegisterDecoderComponents(nullptr), MERR_INVALID_PARAM);
}

TEST(Components, CreationBySniffingSkipListAndUnknownTypes) {
    Manager m;
    const Bytes png = encodePng(makeImage(9, 7, 3, 1));
    Stream st(png);
    MHandle codec = nullptr;
    ASSERT_EQ(MCodec_CreateDecoderEx(m.h, st.s, 0, nullptr, nullptr, 0, &codec), MOK);
    int64_t wh[2] = {};
    EXPECT_EQ(MCodec_GetProp(codec, 2, wh, 16), MOK);
    EXPECT_EQ(wh[0], 9);
    EXPECT_EQ(wh[1], 7);
    uint64_t color = 0;
    EXPECT_EQ(MCodec_GetProp(codec, 3, &color, 8), MOK);
    EXPECT_EQ(color, 0x02u);
    MCodec_Destroy(codec);
    // The only PNG decoder skipped: the handle has no component left.
    const uint64_t skip[1] = {0x81001004};
    MHandle none = nullptr;
    EXPECT_NE(MCodec_CreateDecoderEx(m.h, st.s, 8, nullptr, skip, 1, &none), MOK);
    EXPECT_EQ(none, nullptr);
    const Bytes junk(64, 0x11);
    Stream js(junk);
    EXPECT_NE(MCodec_CreateDecoderEx(m.h, js.s, 0, nullptr, nullptr, 0, &none), MOK);
    EXPECT_EQ(MCodec_DecodeCreate(m.h, js.s, 0, &none), MERR_UNSUPPORTED);
    EXPECT_EQ(none, nullptr);
    // No encoder is registered.
    MCodecEncParam p{st.s, 8, 8, 0x02, 100, 100};
    EXPECT_EQ(MCodec_EncodeCreate(m.h, &p, 2, 0, &none), MERR_NO_CODEC);
    EXPECT_EQ(MCodec_EncodeCreate(m.h, &p, 64, 0, &none), MERR_UNSUPPORTED);
}

TEST(Components, BmpProperties) {
    Manager m;
    const Bytes bmp = encodeBmp24(makeImage(10, 6, 3, 2));
    Stream st(bmp);
    Opened o(m.h, 0x81001001, st.s);
    ASSERT_EQ(o.init, MOK);
    EXPECT_EQ(o.get8(1), 2);
    EXPECT_EQ(o.get8(0x1008), 0x02);
    EXPECT_EQ(o.get8(0x1005), 24);
    EXPECT_EQ(o.get8(0x100E), 0);
    EXPECT_EQ(o.get8(0x1000), 0);
    int64_t wh[2] = {7, 7};
    EXPECT_EQ(o.f->s_GetProp(o.inst, 0x1007, wh, 12), MERR_INVALID_PARAM);
    EXPECT_EQ(wh[0], 7);
    EXPECT_EQ(o.f->s_GetProp(o.inst, 0x1008, wh, 4), MERR_INVALID_PARAM);
    EXPECT_EQ(o.f->s_SetProp(o.inst, 2, wh, 16), MERR_UNSUPPORTED);
    EXPECT_EQ(o.f->s_SetProp(o.inst, 0x1008, wh, 16), MERR_UNSUPPORTED);
    int64_t half[2] = {5, 3};
    EXPECT_EQ(o.f->s_SetProp(o.inst, 0x1007, half, 16), MOK);
    std::vector<uint8_t> row(64);
    MByte* planes[3] = {row.data(), nullptr, nullptr};
    MInt64 pitches[3] = {16, 0, 0}, first = 0, count = 1;
    EXPECT_EQ(o.f->s_DecScanlines(o.inst, planes, pitches, &first, &count), MOK);
    EXPECT_EQ(o.f->s_SetProp(o.inst, 0x1007, half, 16), MERR_REGISTRATION);
    MUInt64 id = 0, major = 0, minor = 9, build = 0;
    char text[4];
    EXPECT_EQ(o.f->s_GetTypeID(o.inst, &id), MOK);
    EXPECT_EQ(id, 0x81001001u);
    EXPECT_EQ(o.f->s_GetVersionInfo(o.inst, &major, &minor, &build, text, sizeof text), MOK);
    EXPECT_EQ(major * 100 + minor * 10 + build, 202u);
    // Palette asked with a buffer smaller than the palette is refused, not overrun.
    const Bytes bmp8 = encodeBmp8(makeImage(10, 6, 3, 2));
    Stream s8(bmp8);
    Opened p(m.h, 0x81001001, s8.s);
    ASSERT_EQ(p.init, MOK);
    EXPECT_EQ(p.get8(0x1008), 0x19);
    EXPECT_EQ(p.get8(0x1000), 1024);
    std::vector<uint8_t> small(16);
    EXPECT_EQ(p.f->s_GetProp(p.inst, 0x1001, small.data(), 16), MERR_INVALID_PARAM);
}

TEST(Components, GifAndPngProperties) {
    Manager m;
    const Bytes forever = encodeGif(makeImage(12, 8, 3, 3), 2, 5, 0), once = encodeGif(makeImage(12, 8, 3, 3), 1);
    Stream a(forever), b(once);
    Opened g(m.h, 0x81001003, a.s), h(m.h, 0x81001003, b.s);
    ASSERT_EQ(g.init, MOK);
    ASSERT_EQ(h.init, MOK);
    EXPECT_EQ(g.get8(0x1304), -1);
    EXPECT_EQ(h.get8(0x1304), 0);
    EXPECT_EQ(g.get8(0x1306), 2);
    EXPECT_EQ(g.get8(0x1008), 0x19);
    EXPECT_EQ(g.get8(0x100E), 1);
    std::vector<uint8_t> rows(64 * 8);
    MByte* planes[3] = {rows.data(), nullptr, nullptr};
    MInt64 pitches[3] = {13, 0, 0}, first = 0, count = 2;
    EXPECT_EQ(g.f->s_DecScanlines(g.inst, planes, pitches, &first, &count), MERR_INVALID_PARAM);
    count = 1;
    EXPECT_EQ(g.f->s_DecScanlines(g.inst, planes, pitches, &first, &count), MOK);
    GIFFrameInfo fi{};
    int64_t frame = 1;
    EXPECT_EQ(g.f->s_SetProp(g.inst, 0x1301, &frame, 8), MOK);
    EXPECT_EQ(g.f->s_GetProp(g.inst, 0x1305, &fi, sizeof fi), MOK);
    EXPECT_EQ(fi.byTransIndex, 5);

    const Bytes png16 = [] {
        // 16 bits a channel: delivered as 8-bit RGB.
        Image img = makeImage(5, 4, 3, 4);
        return encodePng(img);
    }();
    Stream p(png16);
    Opened q(m.h, 0x81001004, p.s);
    ASSERT_EQ(q.init, MOK);
    EXPECT_EQ(q.get8(1), 1);
    EXPECT_EQ(q.get8(0x1008), 0x02);
    EXPECT_EQ(q.get8(0x1401), 1);
    int64_t wh[2] = {};
    EXPECT_EQ(q.f->s_SetProp(q.inst, 2, wh, 16), MERR_UNSUPPORTED);
    // Nothing opened: rows and settings are refused.
    MHandle raw = nullptr;
    ASSERT_EQ(AMCM_CreateComponent(m.h, 0x81001004, &raw), MOK);
    MInt64 c1 = 1;
    EXPECT_EQ(MDEC_FUNCS(raw)->s_DecScanlines(raw, planes, pitches, &first, &c1), MERR_REGISTRATION);
    EXPECT_EQ(MDEC_FUNCS(raw)->s_SetProp(raw, 0x1007, wh, 16), MERR_REGISTRATION);
    MDEC_FUNCS(raw)->s_Destroy(raw);
}

TEST(Components, EveryDecoderAnswersItsOwnTypeAndTheVersion) {
    Manager m;
    AMCM_RegisterEx(m.h, 0x81001008, 0x1000000, 10, 3, MDecoder_MBitmapCreate);
    for (MDWord cid : {0x81001001u, 0x81001003u, 0x81001004u, 0x81001008u, 0x81001202u}) {
        MHandle inst = nullptr;
        ASSERT_EQ(AMCM_CreateComponent(m.h, cid, &inst), MOK) << std::hex << cid;
        const MDecComponentFuncs* f = MDEC_FUNCS(inst);
        MUInt64 id = 0, major = 0, minor = 9, build = 0;
        EXPECT_EQ(f->s_GetTypeID(inst, &id), MOK);
        EXPECT_EQ(id, cid);
        EXPECT_EQ(f->s_GetTypeID(inst, nullptr), MERR_INVALID_PARAM);
        EXPECT_EQ(f->s_GetVersionInfo(inst, &major, &minor, &build, nullptr, 0), MOK);
        EXPECT_EQ(major * 100 + minor * 10 + build, 202u) << std::hex << cid;
        EXPECT_EQ(f->s_Destroy(inst), MOK);
    }
}

// A granted output size is kept and written back; a refused one changes neither the component's
// size nor the caller's buffer.
TEST(Components, OutputSizeGrantedKeptAndWrittenBack) {
    Manager m;
    const Bytes bmp = encodeBmp24(makeImage(12, 8, 3, 6)), gif = encodeGif(makeImage(12, 8, 3, 6)),
                png = encodePng(makeImage(12, 8, 3, 6));
    Stream sb(bmp), sg(gif), sp(png);
    Opened b(m.h, 0x81001001, sb.s), g(m.h, 0x81001003, sg.s), p(m.h, 0x81001004, sp.s);
    for (Opened* o : {&b, &g, &p}) {
        ASSERT_EQ(o->init, MOK);
        const MUInt64 cid = [&] {
            MUInt64 id = 0;
            o->f->s_GetTypeID(o->inst, &id);
            return id;
        }();
        int64_t want[2] = {6, 6};
        ASSERT_EQ(o->f->s_SetProp(o->inst, 0x1007, want, 16), MOK) << std::hex << cid;
        EXPECT_EQ(want[0], 6);
        EXPECT_EQ(want[1], 4);
        int64_t got[2] = {};
        ASSERT_EQ(o->f->s_GetProp(o->inst, 0x1007, got, 16), MOK);
        EXPECT_EQ(got[0], 6);
        EXPECT_EQ(got[1], 4);
        EXPECT_EQ(o->f->s_SetProp(o->inst, 0x1007, want, 8), MERR_INVALID_PARAM);
        if (o == &g) continue; // the GIF decoder takes a non-positive size as "full size"
        int64_t bad[2] = {-1, 3};
        EXPECT_EQ(o->f->s_SetProp(o->inst, 0x1007, bad, 16), MERR_INVALID_PARAM) << std::hex << cid;
        EXPECT_EQ(bad[0], -1);
        EXPECT_EQ(bad[1], 3);
        ASSERT_EQ(o->f->s_GetProp(o->inst, 0x1007, got, 16), MOK);
        EXPECT_EQ(got[0], 6);
        EXPECT_EQ(got[1], 4);
    }
}

TEST(Components, JpegComponentGeometry) {
    Manager m;
    const Bytes jpg = encodeJpeg(makeImage(101, 75, 3, 5), 2, 90);
    Stream st(jpg);
    Opened j(m.h, 0x81001202, st.s);
    ASSERT_EQ(j.init, MOK);
    EXPECT_EQ(j.get8(1), 4);
    EXPECT_EQ(j.get8(0x1008), 0x0F);
    int64_t wh[2] = {};
    ASSERT_EQ(j.f->s_GetProp(j.inst, 0x1007, wh, 16), MOK);
    EXPECT_EQ(wh[0], 102);
    EXPECT_EQ(wh[1], 76);
    // A region off the MCU grid is widened to whole MCUs and written back.
    int64_t rc[4] = {20, 10, 40, 30};
    ASSERT_EQ(j.f->s_SetProp(j.inst, 0x1006, rc, 32), MOK);
    EXPECT_EQ(rc[0], 16);
    EXPECT_EQ(rc[1], 0);
    EXPECT_EQ(rc[2], 48);
    EXPECT_EQ(rc[3], 32);
    EXPECT_EQ(j.f->s_SetProp(j.inst, 0x1006, rc, 16), MERR_INVALID_PARAM);
    // Half of the region selects scale 2; two thirds is not reachable.
    int64_t whole[4] = {0, 0, 101, 75};
    ASSERT_EQ(j.f->s_SetProp(j.inst, 0x1006, whole, 32), MOK);
    int64_t half[2] = {51, 38};
    EXPECT_EQ(j.f->s_SetProp(j.inst, 0x1007, half, 16), MOK);
    int64_t twoThirds[2] = {67, 50};
    EXPECT_EQ(j.f->s_SetProp(j.inst, 0x1007, twoThirds, 16), MERR_UNSUPPORTED);
    EXPECT_EQ(MdUtilsDecodeConvertResult(0x8010), MERR_FILE_READ);
    EXPECT_EQ(MdUtilsEncodeConvertResult(0x8010), MERR_FILE_WRITE);
    EXPECT_EQ(MdUtilsDecodeConvertResult(0x8040), 0x8040);
}

TEST(Components, InMemoryBitmapRegionsAndBands) {
    Manager m;
    AMCM_RegisterEx(m.h, 0x81001008, 0x1000000, 10, 3, MDecoder_MBitmapCreate);
    std::vector<uint8_t> px(640 * 480 * 4);
    for (size_t i = 0; i < px.size(); ++i) px[i] = uint8_t(i * 13 + i / 2560);
    MBITMAP bmp{0x37001777, 640, 480, {2560, 0, 0}, {px.data(), nullptr, nullptr}};
    Opened o(m.h, 0x81001008, reinterpret_cast<MSTREAM>(&bmp));
    ASSERT_EQ(o.init, MOK);
    EXPECT_EQ(o.get8(0x1005), 32);
    EXPECT_EQ(o.get8(0x1008), 0x24);
    EXPECT_EQ(o.get8(1), 4);
    MRECT bad{0, 0, 641, 480}, good{10, 10, 20, 20};
    EXPECT_EQ(o.f->s_SetProp(o.inst, 0x1006, &bad, 32), MERR_INVALID_PARAM);
    EXPECT_EQ(o.f->s_SetProp(o.inst, 0x1006, &good, 32), MOK);
    int64_t half[2] = {320, 240}, same[2] = {640, 480};
    EXPECT_EQ(o.f->s_SetProp(o.inst, 0x1007, half, 16), MERR_UNSUPPORTED);
    EXPECT_EQ(o.f->s_SetProp(o.inst, 0x1007, same, 16), MOK);
    std::vector<uint8_t> out(10 * 40);
    MByte* planes[3] = {out.data(), nullptr, nullptr};
    MInt64 pitches[3] = {40, 0, 0};
    ASSERT_EQ(o.f->s_DecScanlines(o.inst, planes, pitches, nullptr, nullptr), MOK);
    for (int y = 0; y < 10; ++y) ASSERT_EQ(0, std::memcmp(&out[size_t(y) * 40], &px[size_t(10 + y) * 2560 + 40], 40));
    // Two bands of 240 rows: a region across the boundary reads on seamlessly.
    MBITMAP bands[2] = {bmp, bmp};
    bands[0].lHeight = bands[1].lHeight = 240;
    bands[1].pPlane[0] = px.data() + 240 * 2560;
    EXPECT_EQ(o.f->s_SetProp(o.inst, 0x1901, bands, 100), MERR_INVALID_PARAM);
    ASSERT_EQ(o.f->s_SetProp(o.inst, 0x1901, bands, 144), MOK);
    MRECT across{0, 230, 4, 250};
    ASSERT_EQ(o.f->s_SetProp(o.inst, 0x1006, &across, 32), MOK);
    std::vector<uint8_t> rows(20 * 16);
    planes[0] = rows.data();
    pitches[0] = 16;
    ASSERT_EQ(o.f->s_DecScanlines(o.inst, planes, pitches, nullptr, nullptr), MOK);
    for (int y = 0; y < 20; ++y) ASSERT_EQ(0, std::memcmp(&rows[size_t(y) * 16], &px[size_t(230 + y) * 2560], 16)) << y;
}
