// Full-size decoding against libjpeg-turbo's planar output on generated files.
#include <gtest/gtest.h>

#include "MStream.h"
#include "jpeg_test_support.h"

using namespace jpgtest;

namespace {

struct Layout {
    const char* name;
    int channels, h, v;
};
const Layout kLayouts[] = {
    {"444", 3, 1, 1}, {"422", 3, 2, 1}, {"420", 3, 2, 2}, {"440", 3, 1, 2}, {"grey", 1, 1, 1}};
const int kSizes[][2] = {{1, 1}, {17, 9}, {101, 75}, {64, 48}};
const int kQualities[] = {10, 50, 90, 100};

void expectClose(const std::vector<uint8_t>& jpeg, const std::string& what) {
    Planes ref = referenceDecode(jpeg);
    int64_t r = -1;
    Planes ours = decode(jpeg, {}, &r);
    ASSERT_EQ(r, 0) << what;
    Diff diff = compare(ours, ref);
    EXPECT_LE(diff.maxError, 2) << what;
    EXPECT_GT(diff.psnr, 45.0) << what;
}

} // namespace

TEST(JpegDecode, MatchesReferenceAcrossLayoutsSizesAndQualities) {
    for (bool progressive : {false, true}) {
        for (const Layout& l : kLayouts) {
            for (const auto& s : kSizes) {
                for (int q : kQualities) {
                    Image img = makeImage(s[0], s[1], l.channels, uint32_t(s[0] * 31 + q));
                    EncodeOptions opt;
                    opt.quality = q;
                    opt.lumaH = l.h;
                    opt.lumaV = l.v;
                    opt.progressive = progressive;
                    std::string what = std::string(l.name) + " " + std::to_string(s[0]) + "x" +
                                       std::to_string(s[1]) + " q" + std::to_string(q) +
                                       (progressive ? " progressive" : " baseline");
                    ASSERT_NO_FATAL_FAILURE(expectClose(encode(img, opt), what));
                }
            }
        }
    }
}

TEST(JpegDecode, RestartIntervalsAndOptimisedTables) {
    for (bool progressive : {false, true}) {
        for (int ri : {1, 3, 7}) {
            for (const Layout& l : kLayouts) {
                Image img = makeImage(101, 75, l.channels, uint32_t(ri));
                EncodeOptions opt;
                opt.lumaH = l.h;
                opt.lumaV = l.v;
                opt.progressive = progressive;
                opt.restartInterval = ri;
                opt.optimize = ri == 3;
                ASSERT_NO_FATAL_FAILURE(expectClose(encode(img, opt), std::string(l.name) + " restart " + std::to_string(ri)));
            }
        }
    }
}

TEST(JpegDecode, SequentialFilesWithOneScanPerComponent) {
    for (const Layout& l : kLayouts) {
        if (l.channels != 3) {
            continue;
        }
        for (int ri : {0, 2}) {
            EncodeOptions opt;
            opt.lumaH = l.h;
            opt.lumaV = l.v;
            opt.separateScans = true;
            opt.restartInterval = ri;
            auto jpeg = encode(makeImage(77, 45, 3, 12), opt);
            MemStream ms{jpeg.data(), int64_t(jpeg.size()), 0};
            JpgDecParam param{};
            param.stream = &ms;
            param.streamCallback = memStreamCallback;
            JpgDecoder* d = nullptr;
            ASSERT_EQ(ajlJpgDecoderCreate(&d, &param), 0);
            int32_t mode = -1;
            EXPECT_EQ(ajlJpgDecoderGetProp(d, JPG_PROP_SCAN_MODE, &mode, 4), 0);
            EXPECT_EQ(mode, 2);
            ajlJpgDecoderDestroy(d);
            ASSERT_NO_FATAL_FAILURE(expectClose(jpeg, std::string("multi-scan ") + l.name));
        }
    }
}

TEST(JpegDecode, OutputDoesNotDependOnBufferSize) {
    for (bool progressive : {false, true}) {
        Image img = makeImage(333, 211, 3, 5);
        EncodeOptions opt;
        opt.quality = 97;
        opt.progressive = progressive;
        opt.restartInterval = progressive ? 0 : 5;
        auto jpeg = encode(img, opt);
        ASSERT_GT(jpeg.size(), 128u * 1024 / 4);
        int64_t r;
        Planes first = decode(jpeg, {1024}, &r);
        ASSERT_EQ(r, 0);
        for (int64_t size : {4096, 128 * 1024}) {
            Planes other = decode(jpeg, {size}, &r);
            ASSERT_EQ(r, 0);
            EXPECT_EQ(compare(first, other).maxError, 0) << size;
        }
        EXPECT_LE(compare(first, referenceDecode(jpeg)).maxError, 2);
    }
}

// The layout is typed from the ratio of luma to chroma sampling: equal factors everywhere are
// full-resolution colour whatever the factors are.
TEST(JpegDecode, SamplingLayoutComesFromTheLumaToChromaRatio) {
    struct Row { int lh, lv, ch, cv; int32_t type; };
    const Row rows[] = {
        {1, 1, 1, 1, 3}, {1, 2, 1, 2, 3}, {2, 1, 2, 1, 3},
        {2, 2, 1, 1, 0}, {2, 1, 1, 1, 1}, {1, 2, 1, 1, 2}, {2, 2, 1, 2, 1}, {2, 2, 2, 1, 2},
    };
    const Image img = makeImage(33, 19, 3, 4);
    for (const Row& r : rows) {
        EncodeOptions opt;
        opt.lumaH = r.lh, opt.lumaV = r.lv, opt.chromaH = r.ch, opt.chromaV = r.cv;
        auto jpeg = encode(img, opt);
        MSTREAM s = MStreamOpenFromMemoryBlock(jpeg.data(), int64_t(jpeg.size()));
        ASSERT_NE(s, nullptr);
        JpgDecParam param{};
        param.stream = s;
        JpgDecoder* d = nullptr;
        ASSERT_EQ(ajlJpgDecoderCreate(&d, &param), 0);
        int32_t t = -1;
        EXPECT_EQ(ajlJpgDecoderGetProp(d, JPG_PROP_SUBSAMPLING, &t, 4), 0);
        EXPECT_EQ(t, r.type) << r.lh << "x" << r.lv << " / " << r.ch << "x" << r.cv;
        // The planes still match the reference decoder's.
        int64_t result = -1;
        const Planes ours = decode(jpeg, {}, &result);
        EXPECT_EQ(result, 0);
        EXPECT_LE(compare(ours, referenceDecode(jpeg)).maxError, 1) << r.lh << "x" << r.lv;
        ajlJpgDecoderDestroy(d);
        MStreamClose(s);
    }
}

TEST(JpegDecode, RuntimeMemoryStreamAndPropertiesOfA420File) {
    Image img = makeImage(37, 21, 3, 9);
    auto jpeg = encode(img, {});
    MSTREAM s = MStreamOpenFromMemoryBlock(jpeg.data(), int64_t(jpeg.size()));
    ASSERT_NE(s, nullptr);
    JpgDecParam param{};
    param.stream = s;
    JpgDecoder* d = nullptr;
    ASSERT_EQ(ajlJpgDecoderCreate(&d, &param), 0);
    int64_t v2[2], v1;
    int32_t t;
    EXPECT_EQ(ajlJpgDecoderGetProp(d, JPG_PROP_IMAGE_SIZE, v2, 16), 0);
    EXPECT_EQ(v2[0], 37);
    EXPECT_EQ(v2[1], 21);
    EXPECT_EQ(ajlJpgDecoderGetProp(d, JPG_PROP_IMAGE_SIZE, v2, 8), JPG_ERR_PARAM);
    EXPECT_EQ(ajlJpgDecoderGetProp(d, JPG_PROP_SUBSAMPLING, &t, 4), 0);
    EXPECT_EQ(t, 0);
    EXPECT_EQ(ajlJpgDecoderGetProp(d, JPG_PROP_MCU_COUNT, v2, 16), 0);
    EXPECT_EQ(v2[0], 3);
    EXPECT_EQ(v2[1], 2);
    EXPECT_EQ(ajlJpgDecoderGetProp(d, JPG_PROP_BLOCKS_PER_MCU, &v1, 8), 0);
    EXPECT_EQ(v1, 6);
    EXPECT_EQ(ajlJpgDecoderGetProp(d, JPG_PROP_CHROMA_RATIO, v2, 16), 0);
    EXPECT_EQ(v2[0], 2);
    EXPECT_EQ(v2[1], 2);
    v1 = 8;
    EXPECT_EQ(ajlJpgDecoderSetProp(d, JPG_PROP_SCALE, &v1, 8), 0);
    EXPECT_EQ(ajlJpgDecoderGetProp(d, JPG_PROP_SCALED_SIZE, v2, 16), 0);
    EXPECT_EQ(v2[0], 4);
    EXPECT_EQ(v2[1], 2);
    v1 = 3;
    EXPECT_EQ(ajlJpgDecoderSetProp(d, JPG_PROP_SCALE, &v1, 8), JPG_ERR_PARAM);
    v1 = 1;
    EXPECT_EQ(ajlJpgDecoderSetProp(d, JPG_PROP_SCALE, &v1, 8), 0);
    Planes p = allocatePlanes(d);
    uint8_t* planes[3] = {p.p[0].data(), p.p[1].data(), p.p[2].data()};
    int64_t pitches[3] = {p.w[0], p.w[1], p.w[2]};
    // Bands of one MCU row into planes positioned at each band.
    for (int band = 0; band < 2; ++band) {
        uint8_t* at[3] = {planes[0] + band * 16 * p.w[0], planes[1] + band * 8 * p.w[1],
                          planes[2] + band * 8 * p.w[2]};
        int64_t lines = 16;
        ASSERT_EQ(ajlJpgDecoderScanlines(d, at, pitches, 0, &lines), 0);
        EXPECT_EQ(lines, band == 0 ? 16 : 5);
    }
    int64_t lines = 16;
    EXPECT_EQ(ajlJpgDecoderScanlines(d, planes, pitches, 0, &lines), 0);
    EXPECT_EQ(lines, 0);
    EXPECT_LE(compare(p, referenceDecode(jpeg)).maxError, 2);
    ajlJpgDecoderDestroy(d);
    MStreamClose(s);
}

TEST(JpegDecode, BandsThatEndInsideAnMcuRowWriteOnlyTheRowsAskedFor) {
    Image img = makeImage(40, 40, 3, 2);
    auto jpeg = encode(img, {});
    MemStream ms{jpeg.data(), int64_t(jpeg.size()), 0};
    JpgDecParam param{};
    param.stream = &ms;
    param.streamCallback = memStreamCallback;
    JpgDecoder* d = nullptr;
    ASSERT_EQ(ajlJpgDecoderCreate(&d, &param), 0);
    // Exactly 5 luma rows and 3 chroma rows: the sanitizer catches any write beyond them.
    std::vector<uint8_t> y(40 * 5), cb(20 * 3), cr(20 * 3);
    uint8_t* planes[3] = {y.data(), cb.data(), cr.data()};
    int64_t pitches[3] = {40, 20, 20};
    int64_t lines = 5;
    ASSERT_EQ(ajlJpgDecoderScanlines(d, planes, pitches, 0, &lines), 0);
    Planes ref = referenceDecode(jpeg);
    for (int i = 0; i < 40 * 5; ++i) {
        EXPECT_LE(std::abs(int(y[size_t(i)]) - int(ref.p[0][size_t(i)])), 2);
    }
    ajlJpgDecoderDestroy(d);
}

TEST(JpegDecode, BandsShorterThanAnMcuRowNeverSkipRowsSilently) {
    // Bands of 8 lines: a 4:2:0 file (16-line MCU rows, baseline and progressive) cannot go on
    // after the first band, whose MCU row was cut; a grey file (8-line MCU rows) decodes whole.
    struct Case {
        int channels;
        bool progressive;
    };
    for (Case k : {Case{3, false}, Case{3, true}, Case{1, false}, Case{1, true}}) {
        SCOPED_TRACE(testing::Message() << k.channels << " channels, progressive " << k.progressive);
        EncodeOptions opt;
        opt.progressive = k.progressive;
        auto jpeg = encode(makeImage(40, 48, k.channels, 7), opt);
        Planes ref = referenceDecode(jpeg);
        MemStream ms{jpeg.data(), int64_t(jpeg.size()), 0};
        JpgDecParam param{};
        param.stream = &ms;
        param.streamCallback = memStreamCallback;
        JpgDecoder* d = nullptr;
        ASSERT_EQ(ajlJpgDecoderCreate(&d, &param), 0);
        Planes p = allocatePlanes(d);
        int64_t pitches[3] = {p.w[0], p.w[1], p.w[2]};
        int64_t done = 0;
        int64_t result = 0;
        while (done < 48) {
            uint8_t* at[3] = {p.p[0].data() + done * p.w[0], nullptr, nullptr};
            for (int c = 1; c < p.ncomp; ++c) {
                at[c] = p.p[c].data() + done / 2 * p.w[c];
            }
            int64_t lines = 8;
            result = ajlJpgDecoderScanlines(d, at, pitches, 0, &lines);
            if (result != 0) {
                EXPECT_EQ(lines, 0);
                break;
            }
            ASSERT_EQ(lines, 8);
            // Every row handed out is the row of the image at that place.
            for (int64_t i = done * p.w[0]; i < (done + 8) * p.w[0]; ++i) {
                ASSERT_LE(std::abs(int(p.p[0][size_t(i)]) - int(ref.p[0][size_t(i)])), 2) << "row " << i / p.w[0];
            }
            done += lines;
        }
        if (k.channels == 1) {
            EXPECT_EQ(result, 0);
            EXPECT_EQ(done, 48);
        } else {
            EXPECT_EQ(result, JPG_ERR_PARAM);
            EXPECT_EQ(done, 8);
        }
        ajlJpgDecoderDestroy(d);
    }
}

TEST(JpegDecode, ExtraSegmentsAndLeadingBytesDoNotChangeTheResult) {
    Image img = makeImage(30, 20, 3, 4);
    auto jpeg = encode(img, {});
    // Garbage before SOI, then APP1, APP5 and COM segments after it.
    std::vector<uint8_t> extra = {0x00, 0x12, 0xFF, 0x00};
    extra.insert(extra.end(), jpeg.begin(), jpeg.begin() + 2);
    for (uint8_t m : {uint8_t(0xE1), uint8_t(0xE5), uint8_t(0xFE)}) {
        extra.insert(extra.end(), {0xFF, m, 0x00, 0x06, 'a', 'b', 'c', 'd'});
    }
    extra.insert(extra.end(), jpeg.begin() + 2, jpeg.end());
    int64_t r1, r2;
    Planes a = decode(jpeg, {}, &r1);
    Planes b = decode(extra, {}, &r2);
    ASSERT_EQ(r1, 0);
    ASSERT_EQ(r2, 0);
    EXPECT_EQ(compare(a, b).maxError, 0);
}
