// The handle from the caller's side: progress and cancelling, caller memory, replacing the
// stream, decoding a second file of the same shape, identifier-based flags.
#include <gtest/gtest.h>

#include <cstring>

#include "jpeg_test_support.h"

using namespace jpgtest;

namespace {

struct Opened {
    MemStream ms;
    JpgDecoder* d = nullptr;
    Opened(const std::vector<uint8_t>& jpeg, JpgDecParam param = {}) {
        ms = MemStream{jpeg.data(), int64_t(jpeg.size()), 0};
        param.stream = &ms;
        param.streamCallback = memStreamCallback;
        EXPECT_EQ(ajlJpgDecoderCreate(&d, &param), 0);
    }
    ~Opened() {
        if (d) {
            ajlJpgDecoderDestroy(d);
        }
    }
};

struct Progress {
    std::vector<int> seen;
    int cancelAt = 1000;
};

int32_t onProgress(int32_t percent, void* user) {
    auto* p = static_cast<Progress*>(user);
    p->seen.push_back(percent);
    return percent >= p->cancelAt ? 1 : 0;
}

} // namespace

TEST(JpegApi, ProgressIsReportedPerMcuRowAndCanCancel) {
    for (bool progressive : {false, true}) {
        EncodeOptions opt;
        opt.progressive = progressive;
        auto jpeg = encode(makeImage(64, 64, 3, 1), opt);
        Opened o(jpeg);
        Progress progress;
        void* cb[2] = {reinterpret_cast<void*>(&onProgress), &progress};
        ASSERT_EQ(ajlJpgDecoderSetProp(o.d, JPG_PROP_PROGRESS, cb, 16), 0);
        Planes p = allocatePlanes(o.d);
        uint8_t* planes[3] = {p.p[0].data(), p.p[1].data(), p.p[2].data()};
        int64_t pitches[3] = {p.w[0], p.w[1], p.w[2]};
        int64_t lines = 64;
        ASSERT_EQ(ajlJpgDecoderScanlines(o.d, planes, pitches, 0, &lines), 0);
        // Four MCU rows: reports after the first three.
        EXPECT_EQ(progress.seen, (std::vector<int>{25, 50, 75}));
    }
    auto jpeg = encode(makeImage(64, 64, 3, 1), {});
    Opened o(jpeg);
    Progress progress;
    progress.cancelAt = 50;
    void* cb[2] = {reinterpret_cast<void*>(&onProgress), &progress};
    ASSERT_EQ(ajlJpgDecoderSetProp(o.d, JPG_PROP_PROGRESS, cb, 16), 0);
    Planes p = allocatePlanes(o.d);
    uint8_t* planes[3] = {p.p[0].data(), p.p[1].data(), p.p[2].data()};
    int64_t pitches[3] = {p.w[0], p.w[1], p.w[2]};
    int64_t lines = 64;
    EXPECT_EQ(ajlJpgDecoderScanlines(o.d, planes, pitches, 0, &lines), JPG_ERR_CANCELLED);
}

namespace {

struct Counter {
    int live = 0, total = 0;
};
void* countAlloc(int64_t size, void* user) {
    auto* c = static_cast<Counter*>(user);
    c->live++;
    c->total++;
    return std::malloc(size_t(size));
}
void countFree(void* block, void* user) {
    static_cast<Counter*>(user)->live--;
    std::free(block);
}

} // namespace

TEST(JpegApi, CallerMemoryIsReturnedOnDestroyAndOnFailedCreation) {
    EncodeOptions opt;
    opt.progressive = true; // many scans: more blocks than the 18 slots
    auto jpeg = encode(makeImage(48, 32, 3, 2), opt);
    Counter counter;
    {
        JpgDecParam param{};
        param.memAlloc = countAlloc;
        param.memFree = countFree;
        param.memUser = &counter;
        Opened o(jpeg, param);
        int64_t r;
        (void)r;
        EXPECT_EQ(counter.total, 18);
    }
    EXPECT_EQ(counter.live, 0);
    std::vector<uint8_t> cut(jpeg.begin(), jpeg.begin() + 300);
    MemStream ms{cut.data(), int64_t(cut.size()), 0};
    JpgDecParam param{};
    param.stream = &ms;
    param.streamCallback = memStreamCallback;
    param.memAlloc = countAlloc;
    param.memFree = countFree;
    param.memUser = &counter;
    JpgDecoder* d = nullptr;
    EXPECT_NE(ajlJpgDecoderCreate(&d, &param), 0);
    EXPECT_EQ(d, nullptr);
    EXPECT_EQ(counter.live, 0);
}

TEST(JpegApi, ANewStreamWithTheSameDataContinuesTheDecode) {
    auto jpeg = encode(makeImage(40, 48, 3, 3), {});
    std::vector<uint8_t> copy = jpeg;
    JpgDecParam small{};
    small.bufferSize = 256;
    Opened o(jpeg, small);
    Planes p = allocatePlanes(o.d);
    int64_t pitches[3] = {p.w[0], p.w[1], p.w[2]};
    for (int band = 0; band < 3; ++band) {
        uint8_t* planes[3] = {p.p[0].data() + band * 16 * p.w[0], p.p[1].data() + band * 8 * p.w[1],
                              p.p[2].data() + band * 8 * p.w[2]};
        int64_t lines = 16;
        ASSERT_EQ(ajlJpgDecoderScanlines(o.d, planes, pitches, 0, &lines), 0);
        if (band == 0) {
            // Same bytes, another stream standing at another position.
            static MemStream other;
            other = MemStream{copy.data(), int64_t(copy.size()), 17};
            other.pos = o.ms.pos;
            std::memset(jpeg.data(), 0, jpeg.size()); // the old stream must not be read again
            void* s = &other;
            ASSERT_EQ(ajlJpgDecoderSetProp(o.d, JPG_PROP_STREAM, &s, 8), 0);
        }
    }
    EXPECT_LE(compare(p, referenceDecode(copy)).maxError, 2);
}

TEST(JpegApi, DefaultScanlinesDecodesTheFirstBandOfAnotherFileOfTheSameShape) {
    auto a = encode(makeImage(32, 32, 3, 4), {});
    auto b = encode(makeImage(32, 32, 3, 5), {});
    JpgDecParam withIndex{};
    withIndex.indexInterval = 1;
    Opened o(a, withIndex);
    int64_t info[2];
    ASSERT_EQ(ajlJpgDecoderGetProp(o.d, JPG_PROP_BUILD_INDEX, info, 0), 0);
    Planes p = allocatePlanes(o.d);
    uint8_t* planes[3] = {p.p[0].data(), p.p[1].data(), p.p[2].data()};
    int64_t pitches[3] = {p.w[0], p.w[1], p.w[2]};
    MemStream other{b.data(), int64_t(b.size()), 0};
    int64_t lines = 16;
    ASSERT_EQ(ajlJpgDecoderDefaultScanlines(o.d, planes, pitches, 0, &lines, &other), 0);
    EXPECT_EQ(lines, 16);
    Planes ref = referenceDecode(b);
    for (int i = 0; i < 32 * 16; ++i) {
        EXPECT_LE(std::abs(int(p.p[0][size_t(i)]) - int(ref.p[0][size_t(i)])), 2);
    }
    // The index of the first file is gone: a region of the second comes out right.
    EXPECT_EQ(ajlJpgDecoderGetProp(o.d, JPG_PROP_INDEX, info, 16), JPG_ERR_NO_INDEX);
    std::vector<uint8_t> y(32 * 16), cb(16 * 8), cr(16 * 8);
    uint8_t* region[3] = {y.data(), cb.data(), cr.data()};
    int64_t regionPitches[3] = {32, 16, 16};
    JpgReadOutput out{region, regionPitches};
    JpgReadRequest req{2, 1, 1, 1, &out}; // MCU (1, 1): not where the decoder stands
    ASSERT_EQ(ajlJpgDecoderReadMCUs(o.d, &req), 0);
    for (int yy = 0; yy < 16; ++yy) {
        for (int x = 0; x < 16; ++x) {
            EXPECT_LE(std::abs(int(y[size_t(yy * 32 + x)]) -
                               int(ref.p[0][size_t((16 + yy) * 32 + 16 + x)])),
                      2);
        }
    }
    // A file of another shape leaves the handle failed.
    auto c = encode(makeImage(16, 32, 3, 6), {});
    MemStream third{c.data(), int64_t(c.size()), 0};
    lines = 16;
    EXPECT_EQ(ajlJpgDecoderDefaultScanlines(o.d, planes, pitches, 0, &lines, &third),
              JPG_ERR_UNSUPPORTED);
    lines = 16;
    EXPECT_EQ(ajlJpgDecoderScanlines(o.d, planes, pitches, 0, &lines), JPG_ERR_UNSUPPORTED);
    EXPECT_EQ(ajlJpgDecoderDefaultScanlines(o.d, planes, pitches, 0, &lines, nullptr), JPG_ERR_PARAM);
}

TEST(JpegApi, ComponentIdentifiersRGBAndGreyProperties) {
    auto jpeg = encode(makeImage(16, 16, 3, 7), {});
    // Frame and scan identifiers 1, 2, 3 become 'R', 'g', 'B'.
    for (size_t i = 0; i + 1 < jpeg.size(); ++i) {
        if (jpeg[i] == 0xFF && (jpeg[i + 1] == 0xC0 || jpeg[i + 1] == 0xDA)) {
            bool sof = jpeg[i + 1] == 0xC0;
            size_t first = i + (sof ? 10 : 5);
            int step = sof ? 3 : 2;
            jpeg[first] = 'R';
            jpeg[first + size_t(step)] = 'g';
            jpeg[first + 2 * size_t(step)] = 'B';
        }
    }
    {
        Opened o(jpeg);
        int32_t rgb = 0;
        EXPECT_EQ(ajlJpgDecoderGetProp(o.d, JPG_PROP_RGB, &rgb, 4), 0);
        EXPECT_EQ(rgb, 1);
    }
    auto grey = encode(makeImage(5, 3, 1, 8), {});
    Opened g(grey);
    int32_t type = -1;
    int64_t v2[2], one = 0;
    EXPECT_EQ(ajlJpgDecoderGetProp(g.d, JPG_PROP_SUBSAMPLING, &type, 4), 0);
    EXPECT_EQ(type, 4);
    EXPECT_EQ(ajlJpgDecoderGetProp(g.d, JPG_PROP_CHROMA_RATIO, v2, 16), 0);
    EXPECT_EQ(v2[0], 1);
    int64_t eight = 8;
    ASSERT_EQ(ajlJpgDecoderSetProp(g.d, JPG_PROP_SCALE, &eight, 8), 0);
    EXPECT_EQ(ajlJpgDecoderGetProp(g.d, JPG_PROP_SCALED_SIZE, v2, 16), 0);
    EXPECT_EQ(v2[0], 1);
    EXPECT_EQ(v2[1], 1);
    EXPECT_EQ(ajlJpgDecoderGetProp(g.d, JPG_PROP_PRECISION, &one, 8), 0);
    EXPECT_EQ(one, 8);
    EXPECT_EQ(ajlJpgDecoderGetProp(g.d, 0x7777, &one, 8), 0); // unknown: untouched
    EXPECT_EQ(one, 8);
    EXPECT_EQ(ajlJpgDecoderGetProp(g.d, JPG_PROP_PRECISION, nullptr, 8), JPG_ERR_PARAM);
    // Only the first plane is written for grey.
    std::vector<uint8_t> y(1);
    uint8_t* planes[3] = {y.data(), nullptr, nullptr};
    int64_t pitches[3] = {1, 0, 0};
    int64_t lines = 3;
    EXPECT_EQ(ajlJpgDecoderScanlines(g.d, planes, pitches, 0, &lines), 0);
}

namespace {

int32_t forwardOnly(int32_t op, void* stream, void* args) {
    return op == JPG_STREAM_SEEK ? -1 : memStreamCallback(op, stream, args);
}

} // namespace

TEST(JpegApi, AStreamThatCannotSeekServesASequentialDecode) {
    EncodeOptions opt;
    opt.quality = 95;
    auto jpeg = encode(makeImage(64, 64, 3, 9), opt);
    ASSERT_GT(jpeg.size(), 2000u);
    MemStream ms{jpeg.data(), int64_t(jpeg.size()), 0};
    JpgDecParam param{};
    param.stream = &ms;
    param.streamCallback = forwardOnly;
    param.bufferSize = 256;
    JpgDecoder* d = nullptr;
    ASSERT_EQ(ajlJpgDecoderCreate(&d, &param), 0);
    Planes p = allocatePlanes(d);
    uint8_t* planes[3] = {p.p[0].data(), p.p[1].data(), p.p[2].data()};
    int64_t pitches[3] = {p.w[0], p.w[1], p.w[2]};
    for (int band = 0; band < 4; ++band) {
        uint8_t* at[3] = {planes[0] + band * 16 * p.w[0], planes[1] + band * 8 * p.w[1],
                          planes[2] + band * 8 * p.w[2]};
        int64_t lines = 16;
        ASSERT_EQ(ajlJpgDecoderScanlines(d, at, pitches, 0, &lines), 0);
    }
    EXPECT_LE(compare(p, referenceDecode(jpeg)).maxError, 2);
    // Going back to data that left the buffer needs a seek: the read reports it.
    JpgReadOutput out{planes, pitches};
    JpgReadRequest req{2, 1, 0, 0, &out};
    EXPECT_EQ(ajlJpgDecoderReadMCUs(d, &req), JPG_ERR_DATA);
    ajlJpgDecoderDestroy(d);
}
