// Crop and zoom: the zoom path of the scanline driver and the one-buffer decode, against a float
// model of the reference decode.
#include <gtest/gtest.h>

#include <cmath>

#include "MdComponent.h"
#include "framework_test_support.h"

using namespace fwtest;

namespace {

// Area model of a zoomed reference: each output pixel averages its footprint in the source,
// sampled on a fine grid with bilinear interpolation (the reductions of the decoder are averages).
Image zoomModel(const Image& ref, int outW, int outH, const MRECT& region) {
    Image out{int(region.right - region.left), int(region.bottom - region.top), 4, {}};
    out.px.resize(size_t(out.width) * out.height * 4);
    const double sx = double(ref.width) / outW, sy = double(ref.height) / outH;
    const int n = 6;
    auto sample = [&](double fx, double fy, int c) {
        fx = std::clamp(fx, 0.0, ref.width - 1.0);
        fy = std::clamp(fy, 0.0, ref.height - 1.0);
        const int x0 = int(fx), y0 = int(fy), x1 = std::min(x0 + 1, ref.width - 1), y1 = std::min(y0 + 1, ref.height - 1);
        const double ax = fx - x0, ay = fy - y0;
        return (1 - ay) * ((1 - ax) * ref.at(x0, y0)[c] + ax * ref.at(x1, y0)[c]) +
               ay * ((1 - ax) * ref.at(x0, y1)[c] + ax * ref.at(x1, y1)[c]);
    };
    for (int y = 0; y < out.height; ++y)
        for (int x = 0; x < out.width; ++x)
            for (int c = 0; c < 4; ++c) {
                double sum = 0;
                for (int j = 0; j < n; ++j)
                    for (int i = 0; i < n; ++i)
                        sum += sample((x + region.left + (i + 0.5) / n) * sx - 0.5, (y + region.top + (j + 0.5) / n) * sy - 0.5, c);
                out.px[(size_t(y) * out.width + x) * 4 + c] = uint8_t(std::lround(sum / (n * n)));
            }
    return out;
}

MHandle openCodec(AMCMHandle m, Stream& st) {
    MHandle codec = nullptr;
    EXPECT_EQ(MCodec_CreateDecoderEx(m, st.s, 0, nullptr, nullptr, 0, &codec), MOK);
    return codec;
}

MResult zoomDecode(MHandle codec, int outW, int outH, MRECT region, uint64_t color, Image* out, int bpp) {
    MResult r = MCodec_SetProp(codec, 0x100A, &region, 32);
    if (r != MOK) return r;
    int64_t wh[2] = {outW, outH};
    if ((r = MCodec_SetProp(codec, 0x1007, wh, 16)) != MOK) return r;
    if ((r = MCodec_SetProp(codec, 3, &color, 8)) != MOK) return r;
    *out = Image{int(region.right - region.left), int(region.bottom - region.top), bpp, {}};
    out->px.assign(size_t(out->width) * out->height * bpp, 0xCD);
    MByte* planes[3] = {out->px.data(), nullptr, nullptr};
    MInt64 pitches[3] = {out->width * bpp, 0, 0};
    MInt64 first = 0, count = 0;
    r = MCodec_DecodeScanlines(codec, planes, pitches, &first, &count);
    if (r == MOK) EXPECT_EQ(count, out->height);
    return r;
}

} // namespace

TEST(ZoomPath, RegionsOfAZoomedJpegMatchTheModel) {
    Manager m;
    const Image img = makeSmooth(240, 176, 11);
    for (int sub : {0, 2}) {
        const Bytes jpg = encodeJpeg(img, sub, 95);
        const Image ref = referenceJpegRgba(jpg);
        struct Row {
            int outW, outH;
            MRECT region;
        } rows[] = {{240, 176, {0, 0, 240, 176}},  {120, 88, {0, 0, 120, 88}},  {120, 88, {13, 7, 101, 80}},
                    {60, 44, {0, 0, 60, 44}},      {100, 73, {5, 9, 95, 70}},   {200, 150, {0, 40, 200, 150}},
                    {31, 23, {0, 0, 31, 23}}};
        for (const auto& row : rows) {
            Stream st(jpg);
            MHandle codec = openCodec(m.h, st);
            ASSERT_NE(codec, nullptr);
            Image ours;
            ASSERT_EQ(zoomDecode(codec, row.outW, row.outH, row.region, 0x24, &ours, 4), MOK)
                << sub << " " << row.outW << "x" << row.outH;
            const Image model = zoomModel(ref, row.outW, row.outH, row.region);
            const Diff d = compareRgb(ours, model);
            EXPECT_LE(d.mean, 6.0) << sub << " " << row.outW << "x" << row.outH << " at " << row.region.left;
            for (size_t i = 3; i < ours.px.size(); i += 4) ASSERT_EQ(ours.px[i], 255);
            MCodec_Destroy(codec);
        }
    }
}

TEST(ZoomPath, ConsecutiveStripsAndYuvOutput) {
    Manager m;
    const Image img = makeSmooth(128, 96, 12);
    const Bytes jpg = encodeJpeg(img, 2, 95);
    const Image ref = referenceJpegRgba(jpg);
    Stream st(jpg);
    MHandle codec = openCodec(m.h, st);
    ASSERT_NE(codec, nullptr);
    // Strips walking down the image on one handle.
    for (int top = 0; top < 48; top += 16) {
        Image strip;
        MRECT region{0, top, 64, top + 16};
        ASSERT_EQ(zoomDecode(codec, 64, 48, region, 0x24, &strip, 4), MOK) << top;
        EXPECT_LE(compareRgb(strip, zoomModel(ref, 64, 48, region)).mean, 6.0) << top;
    }
    // The component's own colour at its own size goes straight into the caller's three planes.
    uint64_t yuv = 0x0F;
    MRECT whole{0, 0, 128, 96};
    ASSERT_EQ(MCodec_SetProp(codec, 0x100A, &whole, 32), MOK);
    int64_t wh[2] = {128, 96};
    ASSERT_EQ(MCodec_SetProp(codec, 0x1007, wh, 16), MOK);
    ASSERT_EQ(MCodec_SetProp(codec, 3, &yuv, 8), MOK);
    std::vector<uint8_t> Y(128 * 96), U(64 * 48), V(64 * 48);
    MByte* planes[3] = {Y.data(), U.data(), V.data()};
    MInt64 pitches[3] = {128, 64, 64}, first = 0, count = 0;
    ASSERT_EQ(MCodec_DecodeScanlines(codec, planes, pitches, &first, &count), MOK);
    EXPECT_EQ(count, 96);
    double err = 0;
    for (int y = 0; y < 96; ++y)
        for (int x = 0; x < 128; ++x) {
            const uint8_t* p = ref.at(x, y);
            err += std::abs(Y[size_t(y) * 128 + x] - (0.299 * p[0] + 0.587 * p[1] + 0.114 * p[2]));
        }
    EXPECT_LE(err / (128 * 96), 2.0);
    MCodec_Destroy(codec);
}

TEST(DecodeData, CropAndZoomIntoOneBuffer) {
    Manager m;
    const Image img = makeSmooth(160, 120, 13);
    const Bytes jpg = encodeJpeg(img, 2, 95), bmp = encodeBmp24(img);
    const Image jref = referenceJpegRgba(jpg);
    struct Row {
        MRECT rect;
        double zoom;
    } rows[] = {{{0, 0, 160, 120}, 1.0}, {{0, 0, 160, 120}, 0.25}, {{16, 8, 144, 104}, 0.5}, {{0, 0, 160, 120}, 0.3}};
    for (const auto& row : rows) {
        Stream st(jpg);
        MHandle codec = openCodec(m.h, st);
        ASSERT_NE(codec, nullptr);
        uint64_t rgba = 0x24;
        ASSERT_EQ(MCodec_SetProp(codec, 3, &rgba, 8), MOK);
        int64_t z[4] = {row.rect.left, row.rect.top, row.rect.right, row.rect.bottom};
        for (auto& v : z) v = int64_t(v * row.zoom + 0.5);
        const int w = int(z[2] - z[0]), h = int(z[3] - z[1]);
        Image ours{w, h, 4, std::vector<uint8_t>(size_t(w) * h * 4, 0xCD)};
        ASSERT_EQ(MCodec_DecodeData(codec, &row.rect, ours.px.data(), w * 4, row.zoom), MOK) << row.zoom;
        const int fullW = int(160 * row.zoom + 0.5), fullH = int(120 * row.zoom + 0.5);
        MRECT zr{z[0], z[1], z[2], z[3]};
        // Beyond the component's own reduction the rest is nearest sampling.
        EXPECT_LE(compareRgb(ours, zoomModel(jref, fullW, fullH, zr)).mean, 10.0) << row.zoom;
        MCodec_Destroy(codec);
    }
    // Other formats decode whole at the zoomed size by nearest pixels and copy the rectangle.
    Stream st(bmp);
    MHandle codec = openCodec(m.h, st);
    ASSERT_NE(codec, nullptr);
    uint64_t rgba = 0x24;
    ASSERT_EQ(MCodec_SetProp(codec, 3, &rgba, 8), MOK);
    MRECT rect{20, 10, 120, 90};
    Image ours{50, 40, 4, std::vector<uint8_t>(50 * 40 * 4, 0xCD)};
    ASSERT_EQ(MCodec_DecodeData(codec, &rect, ours.px.data(), 50 * 4, 0.5), MOK);
    // Nearest pixels of the reduced picture, top row first.
    for (int y = 0; y < 40; ++y)
        for (int x = 0; x < 50; ++x)
            for (int c = 0; c < 3; ++c)
                ASSERT_EQ(ours.at(x, y)[c], img.at((x + 10) * 2, (y + 5) * 2)[c]) << x << "," << y;
    MCodec_Destroy(codec);
    // Zoom above 1 is refused.
    Stream st2(jpg);
    MHandle c2 = openCodec(m.h, st2);
    EXPECT_EQ(MCodec_DecodeData(c2, nullptr, ours.px.data(), 200, 1.5), 5);
    MCodec_Destroy(c2);
}

TEST(DecodeData, GreyAndColourJpegsZoomIntoRgbaAtAnyScale) {
    // The zoomed size differs from the reduced decode's: the rows must be resampled, not copied.
    Manager m;
    const Image img = makeSmooth(160, 120, 21);
    for (int subsamp : {3, 2}) {
        const Bytes jpg = encodeJpeg(img, subsamp, 95);
        const Image jref = referenceJpegRgba(jpg);
        for (double zoom : {0.3, 0.77, 0.2}) {
            SCOPED_TRACE(testing::Message() << "layout " << subsamp << ", zoom " << zoom);
            Stream st(jpg);
            MHandle codec = openCodec(m.h, st);
            ASSERT_NE(codec, nullptr);
            uint64_t rgba = 0x24;
            ASSERT_EQ(MCodec_SetProp(codec, 3, &rgba, 8), MOK);
            const MRECT rect{0, 0, 160, 120};
            const int w = int(160 * zoom + 0.5), h = int(120 * zoom + 0.5);
            Image ours{w, h, 4, std::vector<uint8_t>(size_t(w) * h * 4, 0xCD)};
            ASSERT_EQ(MCodec_DecodeData(codec, &rect, ours.px.data(), w * 4, zoom), MOK);
            const Diff d = compareRgb(ours, zoomModel(jref, w, h, MRECT{0, 0, w, h}));
            // The reduced decode is resampled by nearest pixels, hence the model's margin; a
            // corner of the reduced picture in place of the whole is off by 40 and more.
            EXPECT_LE(d.mean, 10.0);
            EXPECT_LE(d.max, 48);
            MCodec_Destroy(codec);
        }
    }
}

namespace {

// The JPEG component with its rows counted: a copy of its table whose scanline operation adds
// up what the component delivers.
int64_t g_rowsDecoded = 0;
MDecComponentFuncs g_counting;
MDEC_FNDECSCANLINES g_realScan = nullptr;

MResult countingScan(MHandle h, MByte** p, MInt64* pitch, MInt64* first, MInt64* count) {
    MResult r = g_realScan(h, p, pitch, first, count);
    if (r == MOK && count) g_rowsDecoded += *count;
    return r;
}

MResult countingCreate(AMCMHandle m, MHandle* out) {
    MResult r = MDecoder_AJL2Create(m, out);
    if (r != MOK) return r;
    auto* head = static_cast<MDecComponentHead*>(*out);
    g_counting = *head->pFuncs;
    g_realScan = g_counting.s_DecScanlines;
    g_counting.s_DecScanlines = countingScan;
    head->pFuncs = &g_counting;
    return MOK;
}

} // namespace

TEST(ZoomPath, StripsReuseRowsAlreadyDecoded) {
    Manager m;
    ASSERT_EQ(AMCM_RegisterEx(m.h, 0x81001300, 0x1000000, 2, 9, countingCreate), MOK);
    const Bytes jpg = encodeJpeg(makeSmooth(256, 192, 14), 2, 95);
    Stream st(jpg);
    MHandle codec = openCodec(m.h, st);
    ASSERT_NE(codec, nullptr);
    g_rowsDecoded = 0;
    std::vector<Image> strips;
    for (int top = 0; top < 96; top += 8) {
        Image strip;
        ASSERT_EQ(zoomDecode(codec, 128, 96, MRECT{16, top, 112, top + 8}, 0x24, &strip, 4), MOK) << top;
        strips.push_back(strip);
    }
    // The half-size image has 96 rows; bands overlap by their resampling margin only.
    EXPECT_GE(g_rowsDecoded, 96);
    EXPECT_LE(g_rowsDecoded, 96 + 16);
    MCodec_Destroy(codec);
    // Each strip is what a fresh handle makes of it.
    for (int i = 0; i < 12; ++i) {
        Stream s2(jpg);
        MHandle fresh = openCodec(m.h, s2);
        Image again;
        ASSERT_EQ(zoomDecode(fresh, 128, 96, MRECT{16, i * 8, 112, i * 8 + 8}, 0x24, &again, 4), MOK);
        EXPECT_EQ(again.px, strips[size_t(i)].px) << i;
        MCodec_Destroy(fresh);
    }
}
