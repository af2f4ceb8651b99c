// Region reads by MCU, with and without the random-access index, against the full decode.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>

#include <jpeglib.h>

#include "jpeg_test_support.h"

using namespace jpgtest;

namespace {

struct Opened {
    MemStream ms;
    JpgDecoder* d = nullptr;
    ~Opened() {
        if (d) {
            ajlJpgDecoderDestroy(d);
        }
    }
};

void open(Opened& o, const std::vector<uint8_t>& jpeg, int64_t interval, int64_t scale = 1) {
    o.ms = MemStream{jpeg.data(), int64_t(jpeg.size()), 0};
    JpgDecParam param{};
    param.stream = &o.ms;
    param.streamCallback = memStreamCallback;
    param.indexInterval = interval;
    ASSERT_EQ(ajlJpgDecoderCreate(&o.d, &param), 0);
    if (scale != 1) {
        ASSERT_EQ(ajlJpgDecoderSetProp(o.d, JPG_PROP_SCALE, &scale, 8), 0);
    }
}

// Reads MCU columns [col, col + cols) of MCU rows [row, row + rows) one row per call and
// checks them against the same samples of the full decode.
void expectRegion(JpgDecoder* d, const Planes& full, int64_t col, int64_t row, int64_t cols,
                  int64_t rows, const std::string& what) {
    int64_t mcu[2], scale;
    ajlJpgDecoderGetProp(d, JPG_PROP_MCU_SIZE, mcu, 16);
    ajlJpgDecoderGetProp(d, JPG_PROP_SCALE, &scale, 8);
    int maxH = int(mcu[0] / 8), maxV = int(mcu[1] / 8);
    int64_t ratio[2];
    ajlJpgDecoderGetProp(d, JPG_PROP_CHROMA_RATIO, ratio, 16);
    for (int64_t r = row; r < row + rows; ++r) {
        std::vector<uint8_t> buf[3];
        uint8_t* planes[3] = {};
        int64_t pitches[3] = {};
        int bw[3], bh[3];
        for (int c = 0; c < full.ncomp; ++c) {
            int h = c == 0 ? maxH : int(maxH / ratio[0]);
            int v = c == 0 ? maxV : int(maxV / ratio[1]);
            bw[c] = int(cols * 8 * h / scale);
            bh[c] = int(8 * v / scale);
            buf[c].assign(size_t(bw[c]) * bh[c], 0xEE);
            planes[c] = buf[c].data();
            pitches[c] = bw[c];
        }
        JpgReadOutput out{planes, pitches};
        JpgReadRequest req{2, cols, col, r, &out};
        ASSERT_EQ(ajlJpgDecoderReadMCUs(d, &req), 0) << what;
        EXPECT_EQ(req.count, 0);
        for (int c = 0; c < full.ncomp; ++c) {
            int x0 = int(col * bw[c] / cols), y0 = int(r * bh[c]);
            for (int y = 0; y < bh[c] && y0 + y < full.h[c]; ++y) {
                for (int x = 0; x < bw[c] && x0 + x < full.w[c]; ++x) {
                    ASSERT_EQ(buf[c][size_t(y) * bw[c] + x],
                              full.p[c][size_t(y0 + y) * full.w[c] + x0 + x])
                        << what << " comp " << c << " at " << x0 + x << "," << y0 + y;
                }
            }
        }
    }
}

std::vector<uint8_t> file(int w, int h, int restart, bool progressive = false, int lumaH = 2,
                          int lumaV = 2) {
    EncodeOptions opt;
    opt.restartInterval = restart;
    opt.progressive = progressive;
    opt.lumaH = lumaH;
    opt.lumaV = lumaV;
    return encode(makeImage(w, h, 3, uint32_t(w + restart)), opt);
}

const int64_t kRegions[][4] = {{3, 2, 4, 2}, {0, 0, 2, 1}, {10, 5, 3, 2}, {1, 1, 12, 1},
                               {12, 5, 1, 2}, {0, 6, 13, 1}, {5, 0, 2, 7}};

} // namespace

TEST(JpegRegion, ReadsInAnyOrderWithAndWithoutIndex) {
    for (int restart : {0, 3}) {
        auto jpeg = file(203, 97, restart);
        int64_t r;
        Planes full = decode(jpeg, {}, &r);
        ASSERT_EQ(r, 0);
        for (int64_t interval : {0, 1, 4, 100}) {
            Opened o;
            ASSERT_NO_FATAL_FAILURE(open(o, jpeg, interval));
            for (const auto& g : kRegions) {
                ASSERT_NO_FATAL_FAILURE(expectRegion(o.d, full, g[0], g[1], g[2], g[3],
                             "restart " + std::to_string(restart) + " interval " +
                                 std::to_string(interval)));
            }
        }
    }
}

TEST(JpegRegion, ExportedIndexSeeksInAFreshDecoderAndInACopyWithALongerHeader) {
    auto jpeg = file(203, 97, 2);
    int64_t r;
    Planes full = decode(jpeg, {}, &r);
    ASSERT_EQ(r, 0);
    Opened a;
    ASSERT_NO_FATAL_FAILURE(open(a, jpeg, 2));
    int64_t info[2];
    EXPECT_EQ(ajlJpgDecoderGetProp(a.d, JPG_PROP_INDEX, info, 16), JPG_ERR_NO_INDEX);
    ASSERT_EQ(ajlJpgDecoderGetProp(a.d, JPG_PROP_BUILD_INDEX, info, 0), 0);
    ASSERT_EQ(ajlJpgDecoderGetProp(a.d, JPG_PROP_INDEX, info, 16), 0);
    uint32_t magic;
    std::vector<uint8_t> blob(static_cast<size_t>(info[0]));
    std::memcpy(blob.data(), reinterpret_cast<void*>(info[1]), blob.size());
    std::memcpy(&magic, blob.data(), 4);
    EXPECT_EQ(magic, JPG_INDEX_MAGIC);
    // 16 + 4N + 2NC with N = ceil(13 / 2) x 7 entries and C = 3.
    EXPECT_EQ(blob.size(), 16u + 49 * 4 + 49 * 2 * 3);
    ASSERT_NO_FATAL_FAILURE(expectRegion(a.d, full, 7, 3, 3, 2, "built"));

    // A copy with 1000 more header bytes: a comment segment right after SOI.
    std::vector<uint8_t> longer(jpeg.begin(), jpeg.begin() + 2);
    longer.insert(longer.end(), {0xFF, 0xFE, 0x03, 0xE6});
    longer.resize(longer.size() + 996, 'x');
    longer.insert(longer.end(), jpeg.begin() + 2, jpeg.end());
    ASSERT_EQ(longer.size(), jpeg.size() + 1000);
    for (const auto* target : {&jpeg, &longer}) {
        Opened b;
        ASSERT_NO_FATAL_FAILURE(open(b, *target, 0));
        int64_t set[2] = {int64_t(blob.size()), 0};
        void* p = blob.data();
        std::memcpy(&set[1], &p, sizeof(p));
        ASSERT_EQ(ajlJpgDecoderSetProp(b.d, JPG_PROP_INDEX, set, 16), 0);
        for (const auto& g : kRegions) {
            ASSERT_NO_FATAL_FAILURE(expectRegion(b.d, full, g[0], g[1], g[2], g[3], "loaded"));
        }
        EXPECT_GT(b.ms.seeks, 1);
    }
}

TEST(JpegRegion, RefusesBadIndexBlobsAndBadRequests) {
    auto jpeg = file(64, 48, 0);
    Opened o;
    ASSERT_NO_FATAL_FAILURE(open(o, jpeg, 1));
    ASSERT_EQ(ajlJpgDecoderGetProp(o.d, JPG_PROP_BUILD_INDEX, nullptr, 0), JPG_ERR_PARAM);
    int64_t info[2];
    ASSERT_EQ(ajlJpgDecoderGetProp(o.d, JPG_PROP_BUILD_INDEX, info, 0), 0);
    ASSERT_EQ(ajlJpgDecoderGetProp(o.d, JPG_PROP_INDEX, info, 16), 0);
    std::vector<uint8_t> blob(static_cast<size_t>(info[0]));
    std::memcpy(blob.data(), reinterpret_cast<void*>(info[1]), blob.size());
    auto setBlob = [&](std::vector<uint8_t>& b, int64_t size) {
        int64_t set[2] = {size, 0};
        void* p = b.data();
        std::memcpy(&set[1], &p, sizeof(p));
        return ajlJpgDecoderSetProp(o.d, JPG_PROP_INDEX, set, 16);
    };
    EXPECT_EQ(setBlob(blob, int64_t(blob.size()) - 2), JPG_ERR_UNSUPPORTED);
    auto bad = blob;
    bad[0] ^= 1;
    EXPECT_EQ(setBlob(bad, int64_t(bad.size())), JPG_ERR_UNSUPPORTED);
    bad = blob;
    std::memset(bad.data() + 4, 0, 4); // interval 0
    EXPECT_EQ(setBlob(bad, int64_t(bad.size())), JPG_ERR_UNSUPPORTED);
    EXPECT_EQ(setBlob(blob, int64_t(blob.size())), 0);

    std::vector<uint8_t> y(64 * 16), c(32 * 8);
    uint8_t* planes[3] = {y.data(), c.data(), c.data()};
    int64_t pitches[3] = {64, 32, 32};
    JpgReadOutput out{planes, pitches};
    const int64_t bad_requests[][3] = {{-1, 0, 1}, {4, 0, 1}, {0, 3, 1}, {0, -1, 1}, {0, 0, -5}};
    for (const auto& b : bad_requests) {
        JpgReadRequest req{2, b[2], b[0], b[1], &out};
        EXPECT_EQ(ajlJpgDecoderReadMCUs(o.d, &req), JPG_ERR_PARAM) << b[0] << "," << b[1];
    }
    JpgReadRequest req{7, 1, 0, 0, &out};
    EXPECT_EQ(ajlJpgDecoderReadMCUs(o.d, &req), JPG_ERR_UNSUPPORTED);
    EXPECT_EQ(ajlJpgDecoderReadMCUs(o.d, nullptr), JPG_ERR_PARAM);
    // Position only: the output address receives the decoder.
    JpgReadRequest pos{0, 3, 2, 1, &out};
    EXPECT_EQ(ajlJpgDecoderReadMCUs(o.d, &pos), 0);
    EXPECT_EQ(reinterpret_cast<void*>(pos.output), reinterpret_cast<void*>(o.d));
    EXPECT_EQ(pos.count, 0);
}

TEST(JpegRegion, ProgressiveAndMultiScanRegionsComeFromTheRowBuffer) {
    auto jpeg = file(203, 97, 2, true); // with restart markers in every scan
    int64_t r;
    Planes full = decode(jpeg, {}, &r);
    ASSERT_EQ(r, 0);
    Opened o;
    ASSERT_NO_FATAL_FAILURE(open(o, jpeg, 4)); // ignored for progressive files
    int64_t info[2];
    EXPECT_EQ(ajlJpgDecoderGetProp(o.d, JPG_PROP_BUILD_INDEX, info, 0), JPG_ERR_UNSUPPORTED);
    for (const auto& g : kRegions) {
        ASSERT_NO_FATAL_FAILURE(expectRegion(o.d, full, g[0], g[1], g[2], g[3], "progressive"));
    }
    JpgReadRequest req{0, 1, 0, 0, nullptr};
    EXPECT_EQ(ajlJpgDecoderReadMCUs(o.d, &req), JPG_ERR_UNSUPPORTED);
}

// Data that breaks off into codes no table holds stops the scan until the next restart marker
// (or for good without them): the MCUs behind the break are passed without reading, and regions
// read through the index or from the top give what the band decode gives. Baseline and
// progressive.
TEST(JpegRegion, RegionsBehindDamagedDataMatchTheBandDecode) {
    for (bool progressive : {false, true}) {
        for (int restart : {0, 3}) {
            auto jpeg = file(203, 97, restart, progressive);
            // A run of all-one bits (stuffed 0xFF bytes) a third into the first scan's data.
            const size_t sos = findMarker(jpeg, 0xDA);
            const size_t next = findMarker(jpeg, progressive ? 0xC4 : 0xD9, sos + 2);
            ASSERT_NE(next, std::string::npos);
            size_t at = sos + (next - sos) / 3;
            std::vector<uint8_t> damaged(jpeg.begin(), jpeg.begin() + ptrdiff_t(at));
            for (int i = 0; i < 40; ++i) {
                damaged.insert(damaged.end(), {0xFF, 0x00});
            }
            // The data goes on behind the break up to the next restart marker.
            size_t resume = next;
            for (uint8_t m = 0xD0; restart && m <= 0xD7; ++m) {
                resume = std::min(resume, findMarker(jpeg, m, at));
            }
            damaged.insert(damaged.end(), jpeg.begin() + ptrdiff_t(resume), jpeg.end());
            const std::string what = std::string(progressive ? "progressive" : "baseline") + " restart " +
                                     std::to_string(restart);
            int64_t r;
            Planes full = decode(damaged, {}, &r);
            ASSERT_EQ(r, 0) << what;
            for (int64_t interval : {0, 4}) {
                Opened o;
                ASSERT_NO_FATAL_FAILURE(open(o, damaged, interval));
                if (interval && !progressive) {
                    int64_t info[2];
                    ASSERT_EQ(ajlJpgDecoderGetProp(o.d, JPG_PROP_BUILD_INDEX, info, 0), 0) << what;
                }
                for (const auto& g : kRegions) {
                    ASSERT_NO_FATAL_FAILURE(expectRegion(o.d, full, g[0], g[1], g[2], g[3],
                                                         what + " interval " + std::to_string(interval)));
                }
            }
        }
    }
}

TEST(JpegRegion, ReducedScaleRegionsAndAMemoryBudgetIndex) {
    // At an eighth, MCUs that are only DC samples are read a run at a time: runs end at restart
    // markers, and while the index is still being recorded (the first pass) there are none.
    for (int64_t scale : {4, 8}) {
        for (int restart : {1, 3, 0}) {
            const std::string what = "scale 1/" + std::to_string(scale) + ", restart " + std::to_string(restart);
            auto jpeg = file(203, 97, restart);
            int64_t r;
            Planes full = decode(jpeg, {0, int(scale)}, &r);
            ASSERT_EQ(r, 0);
            Opened o;
            ASSERT_NO_FATAL_FAILURE(open(o, jpeg, 0, scale));
            int64_t budget = 4096;
            ASSERT_EQ(ajlJpgDecoderSetProp(o.d, JPG_PROP_INDEX_BUDGET, &budget, 8), 0);
            for (int pass = 0; pass < 2; ++pass) {
                for (const auto& g : kRegions) {
                    ASSERT_NO_FATAL_FAILURE(expectRegion(o.d, full, g[0], g[1], g[2], g[3], what));
                }
            }
        }
    }
}

namespace {

// libjpeg-turbo's quantised coefficients of one component, block rows of width_in_blocks.
struct RefCoefficients {
    int widthInBlocks[3], heightInBlocks[3], h[3], v[3];
    std::vector<int16_t> blocks[3];
};

RefCoefficients referenceCoefficients(const std::vector<uint8_t>& jpeg) {
    jpeg_decompress_struct cinfo;
    jpeg_error_mgr err;
    cinfo.err = jpeg_std_error(&err);
    jpeg_create_decompress(&cinfo);
    jpeg_mem_src(&cinfo, jpeg.data(), jpeg.size());
    jpeg_read_header(&cinfo, TRUE);
    jvirt_barray_ptr* arrays = jpeg_read_coefficients(&cinfo);
    RefCoefficients out{};
    for (int c = 0; c < cinfo.num_components; ++c) {
        jpeg_component_info& ci = cinfo.comp_info[c];
        out.widthInBlocks[c] = int(ci.width_in_blocks);
        out.heightInBlocks[c] = int(ci.height_in_blocks);
        out.h[c] = ci.h_samp_factor;
        out.v[c] = ci.v_samp_factor;
        out.blocks[c].resize(size_t(ci.width_in_blocks) * ci.height_in_blocks * 64);
        for (JDIMENSION by = 0; by < ci.height_in_blocks; ++by) {
            JBLOCKARRAY row = cinfo.mem->access_virt_barray(reinterpret_cast<j_common_ptr>(&cinfo),
                                                            arrays[c], by, 1, FALSE);
            for (JDIMENSION bx = 0; bx < ci.width_in_blocks; ++bx) {
                std::memcpy(out.blocks[c].data() + (size_t(by) * ci.width_in_blocks + bx) * 64,
                            row[0][bx], 64 * sizeof(int16_t));
            }
        }
    }
    jpeg_finish_decompress(&cinfo);
    jpeg_destroy_decompress(&cinfo);
    return out;
}

} // namespace

TEST(JpegRegion, CoefficientReadsEqualTheReferenceDecodersCoefficientsExactly) {
    EncodeOptions restart;
    restart.restartInterval = 2;
    EncodeOptions progressive;
    progressive.progressive = true;
    progressive.lumaV = 1;
    EncodeOptions scans;
    scans.separateScans = true;
    const std::vector<uint8_t> files[] = {encode(makeImage(75, 41, 3, 1), restart),
                                          encode(makeImage(75, 41, 3, 2), progressive),
                                          encode(makeImage(75, 41, 3, 3), scans)};
    for (const auto& jpeg : files) {
        RefCoefficients ref = referenceCoefficients(jpeg);
        Opened o;
        ASSERT_NO_FATAL_FAILURE(open(o, jpeg, 0));
        int64_t mcus[2], blocks;
        ajlJpgDecoderGetProp(o.d, JPG_PROP_MCU_COUNT, mcus, 16);
        ajlJpgDecoderGetProp(o.d, JPG_PROP_BLOCKS_PER_MCU, &blocks, 8);
        // Rows from the bottom up: every read starts before the current position.
        for (int64_t row = mcus[1] - 1; row >= 0; --row) {
            std::vector<int16_t> buf(size_t(mcus[0] * blocks * 64), 77);
            uint8_t* planes[3] = {reinterpret_cast<uint8_t*>(buf.data()), nullptr, nullptr};
            int64_t pitches[3] = {mcus[0] * blocks * 64, 0, 0};
            JpgReadOutput out{planes, pitches};
            JpgReadRequest req{1, mcus[0], 0, row, &out};
            ASSERT_EQ(ajlJpgDecoderReadMCUs(o.d, &req), 0);
            for (int64_t col = 0; col < mcus[0]; ++col) {
                const int16_t* mcu = buf.data() + col * blocks * 64;
                int b = 0;
                for (int c = 0; c < 3; ++c) {
                    for (int y = 0; y < ref.v[c]; ++y) {
                        for (int x = 0; x < ref.h[c]; ++x, ++b) {
                            int64_t bx = col * ref.h[c] + x, by = row * ref.v[c] + y;
                            if (bx >= ref.widthInBlocks[c] || by >= ref.heightInBlocks[c]) {
                                continue;
                            }
                            const int16_t* want =
                                ref.blocks[c].data() + (by * ref.widthInBlocks[c] + bx) * 64;
                            ASSERT_EQ(std::memcmp(mcu + b * 64, want, 128), 0)
                                << "component " << c << " block " << bx << "," << by;
                        }
                    }
                }
            }
        }
    }
}

namespace {

// A file of more than 512 MB: SOI, then empty APP15 segments, then a small image. Served by
// a callback that makes the padding on the fly.
struct BigStream {
    std::vector<uint8_t> tail; // the image without its SOI
    int64_t segments = 0;
    int64_t pos = 0;
    int64_t size() const { return 2 + segments * 65537 + int64_t(tail.size()); }
    uint8_t at(int64_t i) const {
        if (i < 2) {
            return i == 0 ? 0xFF : 0xD8;
        }
        i -= 2;
        if (i < segments * 65537) {
            int64_t k = i % 65537;
            return k == 0 ? 0xFF : k == 1 ? 0xEF : k == 2 ? 0xFF : k == 3 ? 0xFF : 0;
        }
        return tail[size_t(i - segments * 65537)];
    }
};

int32_t bigCallback(int32_t op, void* stream, void* args) {
    auto* s = static_cast<BigStream*>(stream);
    if (op == JPG_STREAM_READ) {
        auto* io = static_cast<JpgStreamIo*>(args);
        auto* out = static_cast<uint8_t*>(io->buffer);
        uint32_t n = 0;
        while (n < io->count && s->pos < s->size()) {
            int64_t i = s->pos - 2;
            if (i >= 0 && i < s->segments * 65537 && i % 65537 >= 4) {
                // Inside a segment's zero payload: copy the run at once.
                int64_t run = 65537 - i % 65537;
                if (run > int64_t(io->count - n)) {
                    run = io->count - n;
                }
                std::memset(out + n, 0, size_t(run));
                n += uint32_t(run);
                s->pos += run;
                continue;
            }
            out[n++] = s->at(s->pos++);
        }
        return int32_t(n);
    }
    if (op == JPG_STREAM_SEEK) {
        auto* a = static_cast<JpgStreamSeekArgs*>(args);
        if (a->origin != 0 || int64_t(a->offset) > s->size()) {
            return 1;
        }
        s->pos = a->offset;
        return 0;
    }
    return 0;
}

} // namespace

TEST(JpegRegion, PositionsBeyond512MegabytesStayExact) {
    EncodeOptions opt;
    opt.restartInterval = 3;
    auto jpeg = encode(makeImage(64, 48, 3, 5), opt);
    int64_t r;
    Planes full = decode(jpeg, {}, &r);
    ASSERT_EQ(r, 0);
    BigStream big;
    big.tail.assign(jpeg.begin() + 2, jpeg.end());
    big.segments = 8300; // 544 MB of header: the scan starts past bit 2^32
    ASSERT_GT(big.size() * 8, int64_t(1) << 32);
    JpgDecParam param{};
    param.stream = &big;
    param.streamCallback = bigCallback;
    param.bufferSize = 1 << 20;
    param.indexInterval = 1;
    JpgDecoder* d = nullptr;
    ASSERT_EQ(ajlJpgDecoderCreate(&d, &param), 0);
    int64_t info[2];
    ASSERT_EQ(ajlJpgDecoderGetProp(d, JPG_PROP_BUILD_INDEX, info, 0), 0);
    // Positions past 2^32 bits do not fit the blob: the index cannot be handed out ...
    EXPECT_EQ(ajlJpgDecoderGetProp(d, JPG_PROP_INDEX, info, 16), JPG_ERR_NO_INDEX);
    // ... and regions are still found by decoding from the scan start.
    for (const auto& g : {std::array<int64_t, 4>{2, 1, 2, 2}, std::array<int64_t, 4>{0, 0, 4, 3}}) {
        ASSERT_NO_FATAL_FAILURE(expectRegion(d, full, g[0], g[1], g[2], g[3], "big"));
    }
    ajlJpgDecoderDestroy(d);
}
