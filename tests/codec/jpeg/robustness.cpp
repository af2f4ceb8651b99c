// Broken, truncated and refused files: clean failures or clean recovery, never a crash.
#include <gtest/gtest.h>

#include <algorithm>
#include <csetjmp>
#include <cstring>
#include <utility>

#include <jpeglib.h>

#include "jpeg_test_support.h"

using namespace jpgtest;

namespace {

int64_t createResult(const std::vector<uint8_t>& jpeg) {
    MemStream ms{jpeg.data(), int64_t(jpeg.size()), 0};
    JpgDecParam param{};
    param.stream = &ms;
    param.streamCallback = memStreamCallback;
    JpgDecoder* d = nullptr;
    int64_t r = ajlJpgDecoderCreate(&d, &param);
    if (d) {
        ajlJpgDecoderDestroy(d);
    }
    if (r != 0) {
        EXPECT_EQ(d, nullptr);
    }
    return r;
}

// Offset of the first byte of a segment's payload (after the length).
size_t payload(const std::vector<uint8_t>& v, uint8_t marker, int nth = 0) {
    size_t pos = 0;
    for (int i = 0; i <= nth; ++i) {
        pos = findMarker(v, marker, i == 0 ? 0 : pos + 2);
        if (pos == std::string::npos) {
            return pos;
        }
    }
    return pos + 4;
}

std::vector<uint8_t> cmykFile() {
    jpeg_compress_struct cinfo;
    jpeg_error_mgr err;
    cinfo.err = jpeg_std_error(&err);
    jpeg_create_compress(&cinfo);
    unsigned char* out = nullptr;
    unsigned long size = 0;
    jpeg_mem_dest(&cinfo, &out, &size);
    cinfo.image_width = 16;
    cinfo.image_height = 16;
    cinfo.input_components = 4;
    cinfo.in_color_space = JCS_CMYK;
    jpeg_set_defaults(&cinfo);
    jpeg_start_compress(&cinfo, TRUE);
    std::vector<uint8_t> row(16 * 4, 77);
    while (cinfo.next_scanline < 16) {
        JSAMPROW r = row.data();
        jpeg_write_scanlines(&cinfo, &r, 1);
    }
    jpeg_finish_compress(&cinfo);
    jpeg_destroy_compress(&cinfo);
    std::vector<uint8_t> v(out, out + size);
    free(out);
    return v;
}

} // namespace

TEST(JpegRobustness, EveryPrefixDecodesOrFailsCleanly) {
    EncodeOptions base;
    base.quality = 60;
    EncodeOptions restart = base;
    restart.restartInterval = 2;
    EncodeOptions progressive = base;
    progressive.progressive = true;
    const std::vector<uint8_t> files[] = {encode(makeImage(40, 24, 3, 1), restart),
                                          encode(makeImage(33, 17, 3, 2), progressive),
                                          encode(makeImage(20, 20, 1, 3), base)};
    for (const auto& file : files) {
        for (size_t n = 0; n <= file.size(); ++n) {
            std::vector<uint8_t> prefix(file.begin(), file.begin() + ptrdiff_t(n));
            int64_t r;
            decode(prefix, {256}, &r);
            if (n == file.size()) {
                EXPECT_EQ(r, 0);
            }
            for (int scale : {2, 8}) {
                decode(prefix, {0, scale}, &r);
            }
        }
    }
}

TEST(JpegRobustness, AFileCutInsideTheScanEndsInGrey) {
    Image img = makeImage(64, 64, 1, 4);
    EncodeOptions opt;
    auto jpeg = encode(img, opt);
    size_t sos = findMarker(jpeg, 0xDA);
    ASSERT_NE(sos, std::string::npos);
    std::vector<uint8_t> cut(jpeg.begin(), jpeg.begin() + ptrdiff_t(sos + 14 + 200));
    int64_t r;
    Planes p = decode(cut, {}, &r);
    ASSERT_EQ(r, 0);
    // The last block row never got data.
    for (int x = 0; x < 64; ++x) {
        EXPECT_EQ(p.p[0][63 * 64 + size_t(x)], 128);
    }
    Planes ref = referenceDecode(jpeg);
    EXPECT_LE(std::abs(int(p.p[0][0]) - int(ref.p[0][0])), 2);
}

TEST(JpegRobustness, AtAnEighthTheBlocksBeforeACutKeepTheirValuesAndTheRestAreGrey) {
    // The eighth scale passes over each block's AC codes several blocks at a time. Wherever the
    // data ends (inside an MCU of six blocks, or in front of a restart marker), every block before
    // it must keep its value and every block the full decode shows grey must be grey here too,
    // with the chroma at its own size or, decoded whole, at the luma's. The wide picture's rows
    // hold more MCUs than one pass over a run of them takes, and restart markers end runs.
    for (const auto& [width, height] : {std::pair{64, 48}, std::pair{656, 32}}) {
        Planes withoutMarkers[2];
        for (int interval : {0, 1, 3}) {
            EncodeOptions opt; // 4:2:0
            opt.restartInterval = interval;
            const auto jpeg = encode(makeImage(width, height, 3, 9), opt);
            const size_t data = findMarker(jpeg, 0xDA) + 14;
            const size_t step = std::max<size_t>(37, (jpeg.size() - data) / 80);
            for (bool atLuma : {false, true}) {
                int64_t r;
                const Planes clean = decode(jpeg, {0, 8, 0, atLuma}, &r);
                ASSERT_EQ(r, 0);
                // Restart markers change no coefficient: the same picture comes out.
                if (interval == 0) {
                    withoutMarkers[atLuma] = clean;
                } else {
                    for (int c = 0; c < 3; ++c) {
                        EXPECT_EQ(clean.p[c], withoutMarkers[atLuma].p[c]) << width << " wide, interval " << interval;
                    }
                }
                for (size_t end = data + 20; end + 2 < jpeg.size(); end += step) {
                    const std::vector<uint8_t> cut(jpeg.begin(), jpeg.begin() + ptrdiff_t(end));
                    const Planes full = decode(cut, {}, &r);
                    ASSERT_EQ(r, 0);
                    const Planes eighth = decode(cut, {0, 8, 0, atLuma}, &r);
                    ASSERT_EQ(r, 0);
                    for (int c = 0; c < 3; ++c) {
                        // Full-size samples per output sample: 8, or 4 for chroma at the luma's size.
                        const int f = full.w[c] / eighth.w[c];
                        for (int y = 0; y < eighth.h[c]; ++y) {
                            for (int x = 0; x < eighth.w[c]; ++x) {
                                const int bx = x * f / 8, by = y * f / 8;
                                bool grey = true;
                                for (int yy = 0; yy < 8; ++yy) {
                                    for (int xx = 0; xx < 8; ++xx) {
                                        grey = grey && full.p[c][size_t(by * 8 + yy) * size_t(full.w[c]) + size_t(bx * 8 + xx)] == 128;
                                    }
                                }
                                const size_t i = size_t(y) * size_t(eighth.w[c]) + size_t(x);
                                EXPECT_EQ(eighth.p[c][i], grey ? 128 : clean.p[c][i])
                                    << width << " wide, interval " << interval << (atLuma ? ", chroma at the luma's size" : "")
                                    << ", cut at " << end << ", component " << c << ", sample " << x << "," << y;
                            }
                        }
                    }
                }
            }
        }
    }
}

TEST(JpegRobustness, AWrongRestartMarkerGreysOneIntervalAndDecodingResumes) {
    Image img = makeImage(64, 32, 1, 6);
    EncodeOptions opt;
    opt.restartInterval = 2; // grey 8 x 8 MCUs: 4 intervals per block row
    auto jpeg = encode(img, opt);
    int64_t r;
    Planes clean = decode(jpeg, {}, &r);
    ASSERT_EQ(r, 0);
    size_t sos = findMarker(jpeg, 0xDA);
    size_t rst1 = findMarker(jpeg, 0xD1, sos);
    ASSERT_NE(rst1, std::string::npos);
    auto broken = withBytes(jpeg, rst1 + 1, {0xD2});
    Planes p = decode(broken, {}, &r);
    ASSERT_EQ(r, 0);
    // RST1 counts as lost: its interval (MCUs 4 and 5) is grey, the data behind the marker
    // goes to the next interval (MCUs 6 and 7), and the true RST2 then resynchronises.
    for (int y = 0; y < 32; ++y) {
        for (int x = 0; x < 64; ++x) {
            int mcu = (y / 8) * 8 + x / 8;
            size_t i = size_t(y) * 64 + x;
            if (mcu == 4 || mcu == 5) {
                EXPECT_EQ(p.p[0][i], 128) << x << "," << y;
            } else if (mcu == 6 || mcu == 7) {
                EXPECT_EQ(p.p[0][i], clean.p[0][i - 16]) << x << "," << y;
            } else {
                EXPECT_EQ(p.p[0][i], clean.p[0][i]) << x << "," << y;
            }
        }
    }
}

TEST(JpegRobustness, BrokenScansOfAProgressiveFileStillGiveAnImage) {
    Image img = makeImage(80, 64, 3, 7);
    EncodeOptions opt;
    opt.progressive = true;
    auto jpeg = encode(img, opt);
    Planes ref = referenceDecode(jpeg);
    int last = 0;
    while (payload(jpeg, 0xDA, last + 1) != std::string::npos) {
        ++last;
    }
    for (int scan = 1; scan <= last; ++scan) {
        size_t at = payload(jpeg, 0xDA, scan);
        size_t len = size_t(jpeg[at - 2]) << 8 | jpeg[at - 1];
        auto broken = jpeg;
        for (size_t i = at + len - 2; i < at + len + 40 && i < broken.size() - 2; ++i) {
            if (broken[i] == 0xFF && broken[i + 1] != 0x00) {
                break; // end of this scan's data
            }
            if (broken[i] != 0xFF && broken[i - 1] != 0xFF) {
                uint8_t v = uint8_t(broken[i] * 7 + 3);
                broken[i] = v == 0xFF ? 0x7F : v; // garble the data, keep the markers
            }
        }
        int64_t r;
        Planes p = decode(broken, {}, &r);
        EXPECT_EQ(r, 0) << scan;
        EXPECT_GT(compare(p, ref).psnr, 12.0) << scan;
    }
}

TEST(JpegRobustness, RefusedCodingProcessesAndPrecisions) {
    auto jpeg = encode(makeImage(16, 16, 3, 8), {});
    size_t sof = findMarker(jpeg, 0xC0);
    ASSERT_NE(sof, std::string::npos);
    EXPECT_EQ(createResult(withBytes(jpeg, sof + 1, {0xC3})), JPG_ERR_UNSUPPORTED); // lossless
    EXPECT_EQ(createResult(withBytes(jpeg, sof + 1, {0xC9})), JPG_ERR_UNSUPPORTED); // arithmetic
    EXPECT_EQ(createResult(withBytes(jpeg, sof + 1, {0xCA})), JPG_ERR_UNSUPPORTED);
    EXPECT_EQ(createResult(withBytes(jpeg, sof + 1, {0xC7})), JPG_ERR_UNSUPPORTED); // hierarchical
    EXPECT_EQ(createResult(withBytes(jpeg, sof + 4, {12})), JPG_ERR_DATA);          // 12-bit
    EXPECT_EQ(createResult(cmykFile()), JPG_ERR_UNSUPPORTED);
    EXPECT_EQ(createResult(withBytes(jpeg, sof + 5, {0, 0})), JPG_ERR_DATA); // height 0
    EXPECT_EQ(createResult(withBytes(jpeg, sof + 11, {0x02})), JPG_ERR_UNSUPPORTED); // H 0
    EXPECT_EQ(createResult(withBytes(jpeg, sof + 12, {4})), JPG_ERR_DATA); // quantiser index 4
    // EOI straight after the tables: no scan.
    size_t sos = findMarker(jpeg, 0xDA);
    std::vector<uint8_t> noScan(jpeg.begin(), jpeg.begin() + ptrdiff_t(sos));
    noScan.insert(noScan.end(), {0xFF, 0xD9});
    EXPECT_EQ(createResult(noScan), JPG_ERR_DATA);
    std::vector<uint8_t> empty;
    EXPECT_EQ(createResult(empty), JPG_ERR_DATA);
    JpgDecoder* d = reinterpret_cast<JpgDecoder*>(1);
    EXPECT_EQ(ajlJpgDecoderCreate(&d, nullptr), JPG_ERR_PARAM);
    EXPECT_EQ(ajlJpgDecoderCreate(nullptr, nullptr), JPG_ERR_PARAM);
    EXPECT_EQ(ajlJpgDecoderDestroy(nullptr), JPG_ERR_PARAM);
}

TEST(JpegRobustness, ScanHeadersOutsideTheRulesAreBadData) {
    auto seq = encode(makeImage(16, 16, 3, 9), {});
    size_t sos = payload(seq, 0xDA);
    // Ns = 3: ids at +1, +3, +5; Ss at +7, Se at +8, Ah/Al at +9.
    EXPECT_EQ(createResult(withBytes(seq, sos + 8, {62})), JPG_ERR_DATA);
    EXPECT_EQ(createResult(withBytes(seq, sos + 7, {1})), JPG_ERR_DATA);
    EXPECT_EQ(createResult(withBytes(seq, sos + 9, {0x01})), JPG_ERR_DATA);
    EXPECT_EQ(createResult(withBytes(seq, sos + 3, {seq[sos + 1]})), JPG_ERR_DATA); // same id twice
    EXPECT_EQ(createResult(withBytes(seq, sos + 2, {0x30})), JPG_ERR_DATA); // DC table 3 of 2
    // Chroma 2 x 2 like luma: 12 blocks in the interleaved scan.
    size_t sof = payload(seq, 0xC0);
    auto twelve = withBytes(withBytes(seq, sof + 6 + 4, {0x22}), sof + 6 + 7, {0x22});
    EXPECT_EQ(createResult(twelve), JPG_ERR_DATA);

    EncodeOptions opt;
    opt.progressive = true;
    auto prog = encode(makeImage(16, 16, 3, 9), opt);
    // Find an AC scan (Ns = 1, Ss > 0) and break its parameters.
    for (int n = 0;; ++n) {
        size_t at = payload(prog, 0xDA, n);
        ASSERT_NE(at, std::string::npos);
        if (prog[at] != 1 || prog[at + 3] == 0) {
            continue;
        }
        EXPECT_EQ(createResult(withBytes(prog, at + 4, {64})), JPG_ERR_DATA);   // Se > 63
        EXPECT_EQ(createResult(withBytes(prog, at + 3, {0})), JPG_ERR_DATA);    // DC with AC
        EXPECT_EQ(createResult(withBytes(prog, at + 5, {0x0E})), JPG_ERR_DATA); // Al 14
        break;
    }
}

TEST(JpegRobustness, HostileTablesAndSymbolsDoNotReachPastTheirTables) {
    auto jpeg = encode(makeImage(32, 32, 3, 10), {});
    size_t dht = payload(jpeg, 0xC4);
    ASSERT_NE(dht, std::string::npos);
    ASSERT_EQ(jpeg[dht], 0x00); // the first table is DC 0 with 12 symbols
    // Make every DC symbol 15: each block's first symbol is then corrupt data.
    auto dc15 = jpeg;
    int count = 0;
    for (int i = 0; i < 16; ++i) {
        count += dc15[dht + 1 + size_t(i)];
    }
    for (int i = 0; i < count; ++i) {
        dc15[dht + 17 + size_t(i)] = 15;
    }
    int64_t r;
    Planes p = decode(dc15, {}, &r);
    EXPECT_EQ(r, 0);
    EXPECT_EQ(p.p[0][0], 128);
    EXPECT_EQ(createResult(withBytes(jpeg, dht, {0x04})), JPG_ERR_DATA); // table index 4
    // Codes that overflow their length: 3 codes of length 1 (same total: 0, 1, 5 -> 3, 1, 2).
    ASSERT_EQ(jpeg[dht + 1] + jpeg[dht + 2] + jpeg[dht + 3], 6);
    EXPECT_EQ(createResult(withBytes(jpeg, dht + 1, {3, 1, 2})), JPG_ERR_PARAM);
}

TEST(JpegRobustness, ManyScansAreCapped) {
    // A progressive header followed by thousands of empty DC refinement scans.
    EncodeOptions opt;
    opt.progressive = true;
    auto jpeg = encode(makeImage(8, 8, 1, 11), opt);
    size_t eoi = jpeg.size() - 2;
    std::vector<uint8_t> many(jpeg.begin(), jpeg.begin() + ptrdiff_t(eoi));
    const uint8_t scan[] = {0xFF, 0xDA, 0x00, 0x08, 0x01, 0x01, 0x00, 0x00, 0x00, 0x10, 0x00};
    for (int i = 0; i < 1200; ++i) {
        many.insert(many.end(), std::begin(scan), std::end(scan));
    }
    many.insert(many.end(), {0xFF, 0xD9});
    EXPECT_EQ(createResult(many), JPG_ERR_DATA);
}

TEST(JpegRobustness, AScanAfterTheOnlySequentialScanEndsTheImage) {
    auto jpeg = encode(makeImage(32, 16, 3, 12), {});
    std::vector<uint8_t> twice(jpeg.begin(), jpeg.end() - 2);
    const uint8_t scan[] = {0xFF, 0xDA, 0x00, 0x08, 0x01, 0x01, 0x00, 0x00, 0x3F, 0x00, 0x12, 0x34};
    twice.insert(twice.end(), std::begin(scan), std::end(scan));
    twice.insert(twice.end(), {0xFF, 0xD9});
    int64_t r;
    Planes a = decode(jpeg, {}, &r);
    ASSERT_EQ(r, 0);
    Planes b = decode(twice, {}, &r);
    ASSERT_EQ(r, 0);
    EXPECT_EQ(compare(a, b).maxError, 0);
    // Region reads after the end stay on the first scan.
    MemStream ms{twice.data(), int64_t(twice.size()), 0};
    JpgDecParam param{};
    param.stream = &ms;
    param.streamCallback = memStreamCallback;
    JpgDecoder* d = nullptr;
    ASSERT_EQ(ajlJpgDecoderCreate(&d, &param), 0);
    Planes p = allocatePlanes(d);
    uint8_t* planes[3] = {p.p[0].data(), p.p[1].data(), p.p[2].data()};
    int64_t pitches[3] = {p.w[0], p.w[1], p.w[2]};
    int64_t lines = 16;
    ASSERT_EQ(ajlJpgDecoderScanlines(d, planes, pitches, 0, &lines), 0);
    JpgReadOutput out{planes, pitches};
    JpgReadRequest req{2, 2, 0, 0, &out};
    EXPECT_EQ(ajlJpgDecoderReadMCUs(d, &req), 0);
    EXPECT_EQ(compare(p, a).maxError, 0);
    ajlJpgDecoderDestroy(d);
}

TEST(JpegRobustness, ProgressiveWorkIsCappedBeforeDecoding) {
    // A few hundred bytes that declare 63551 x 37424 pixels and several scans: refused at once
    // instead of walking every scan over 2.4 billion pixels.
    EncodeOptions opt;
    opt.progressive = true;
    auto jpeg = encode(makeImage(8, 8, 3, 5), opt);
    const size_t sof = payload(jpeg, 0xC2);
    ASSERT_NE(sof, std::string::npos);
    auto declare = [&](int width, int height) {
        std::vector<uint8_t> v = jpeg;
        v[sof + 1] = uint8_t(height >> 8);
        v[sof + 2] = uint8_t(height);
        v[sof + 3] = uint8_t(width >> 8);
        v[sof + 4] = uint8_t(width);
        return v;
    };
    EXPECT_LT(jpeg.size(), 1000u);
    EXPECT_EQ(createResult(declare(63551, 37424)), JPG_ERR_UNSUPPORTED);
    // An ordinary large photo with the same scans is still taken.
    EXPECT_EQ(createResult(declare(6000, 4000)), 0);
}
