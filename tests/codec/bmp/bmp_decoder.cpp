// BMP decoder against stb_image on generated files, RLE round trips against the source indexes,
// scaling, row order, and every prefix of a truncated file.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <random>
#include <vector>

#include "BmpDecoder.h"
#include "MStream.h"

#define STBI_NO_STDIO
#include <stb/stb_image.h>

namespace {

using Bytes = std::vector<uint8_t>;

void put16(Bytes& b, uint32_t v) { b.push_back(v & 0xFF); b.push_back((v >> 8) & 0xFF); }
void put32(Bytes& b, uint32_t v) { put16(b, v & 0xFFFF); put16(b, v >> 16); }

struct Spec {
    int width = 5, height = 4, bits = 24;
    bool topDown = false;
    bool core = false;          // 12-byte OS/2 header
    uint32_t compression = 0;   // 0, 1 RLE8, 2 RLE4, 3 bit fields
    uint32_t masks[3] = {0, 0, 0};
    int paletteEntries = -1;    // -1: 2^bits
};

struct Image {
    Spec shape;
    std::vector<uint32_t> pixels;  // raw pixel value (index or word), top row first
    std::vector<uint8_t> palette;  // BGR0
    Bytes file;
};

int64_t stride(int w, int bits) { return ((int64_t(w) * bits + 31) / 32) * 4; }

// RLE encoder used to generate test files: encoded runs for repeats, absolute runs otherwise.
Bytes encodeRle(const Image& im) {
    const Spec& s = im.shape;
    const bool four = s.compression == 2;
    Bytes out;
    for (int y = s.height - 1; y >= 0; --y) {
        const uint32_t* row = &im.pixels[size_t(y) * s.width];
        int x = 0;
        while (x < s.width) {
            int run = 1;
            while (x + run < s.width && run < 255 && row[x + run] == row[x]) ++run;
            if (run >= 3 || s.width - x < 3) {
                out.push_back(uint8_t(run));
                out.push_back(four ? uint8_t(row[x] << 4 | row[x]) : uint8_t(row[x]));
                x += run;
            } else {
                int n = std::min(s.width - x, 8);
                out.push_back(0);
                out.push_back(uint8_t(n));
                int bytes = four ? (n + 1) / 2 : n;
                for (int i = 0; i < bytes; ++i) {
                    if (four) {
                        uint8_t hi = uint8_t(row[x + 2 * i]), lo = 2 * i + 1 < n ? uint8_t(row[x + 2 * i + 1]) : 0;
                        out.push_back(uint8_t(hi << 4 | lo));
                    } else {
                        out.push_back(uint8_t(row[x + i]));
                    }
                }
                if (bytes & 1) out.push_back(0);
                x += n;
            }
        }
        out.push_back(0);
        out.push_back(0);
    }
    out.push_back(0);
    out.push_back(1);
    return out;
}

Image makeImage(const Spec& s, uint32_t seed) {
    Image im;
    im.shape = s;
    std::mt19937 rng(seed);
    int entries = s.bits <= 8 ? (s.paletteEntries >= 0 ? s.paletteEntries : 1 << s.bits) : 0;
    for (int i = 0; i < entries; ++i)
        for (int c = 0; c < 3; ++c) im.palette.push_back(uint8_t(rng()));
    im.pixels.resize(size_t(s.width) * s.height);
    for (auto& p : im.pixels) {
        if (s.bits <= 8) {
            // Short runs of repeats exercise both RLE run kinds.
            p = uint32_t(rng() % (entries ? entries : 1));
        } else if (s.bits == 16) {
            p = rng() & 0xFFFF;
        } else if (s.bits == 24) {
            p = rng() & 0xFFFFFF;
        } else {
            p = rng();
        }
    }
    for (size_t i = 1; i < im.pixels.size(); i += 3) im.pixels[i] = im.pixels[i - 1];

    Bytes pix;
    if (s.compression == 1 || s.compression == 2) {
        pix = encodeRle(im);
    } else {
        int64_t st = stride(s.width, s.bits);
        pix.assign(size_t(st * s.height), 0);
        for (int y = 0; y < s.height; ++y) {
            int fy = s.topDown ? y : s.height - 1 - y;
            uint8_t* row = &pix[size_t(fy * st)];
            for (int x = 0; x < s.width; ++x) {
                uint32_t v = im.pixels[size_t(y) * s.width + x];
                if (s.bits < 8) {
                    int per = 8 / s.bits;
                    row[x / per] |= uint8_t(v << (8 - s.bits * (x % per + 1)));
                } else {
                    for (int b = 0; b < s.bits / 8; ++b) row[x * (s.bits / 8) + b] = uint8_t(v >> (8 * b));
                }
            }
        }
    }
    int hdr = s.core ? 12 : 40;
    int maskBytes = (!s.core && s.compression == 3) ? 12 : 0;
    int entryBytes = s.core ? 3 : 4;
    int64_t off = 14 + hdr + maskBytes + int64_t(entries) * entryBytes;
    Bytes& f = im.file;
    f.push_back('B');
    f.push_back('M');
    put32(f, uint32_t(off + pix.size()));
    put32(f, 0);
    put32(f, uint32_t(off));
    put32(f, hdr);
    if (s.core) {
        put16(f, s.width);
        put16(f, s.height);
        put16(f, 1);
        put16(f, s.bits);
    } else {
        put32(f, uint32_t(s.width));
        put32(f, uint32_t(s.topDown ? -s.height : s.height));
        put16(f, 1);
        put16(f, s.bits);
        put32(f, s.compression);
        put32(f, uint32_t(pix.size()));
        put32(f, 2835);
        put32(f, 2835);
        put32(f, s.paletteEntries >= 0 ? uint32_t(s.paletteEntries) : 0);
        put32(f, 0);
        if (maskBytes)
            for (uint32_t m : s.masks) put32(f, m);
    }
    for (int i = 0; i < entries; ++i) {
        f.push_back(im.palette[3 * i]);
        f.push_back(im.palette[3 * i + 1]);
        f.push_back(im.palette[3 * i + 2]);
        if (!s.core) f.push_back(0);
    }
    f.insert(f.end(), pix.begin(), pix.end());
    return im;
}

struct Decoded {
    MResult init = -1, scan = -1;
    int64_t width = 0, height = 0;
    Bytes rows;
    int64_t stride = 0;
    Bytes palette;
};

Decoded decode(const Bytes& file, int64_t wantW = 0, int64_t wantH = 0, bool invert = false,
               int64_t rowsPerCall = 3) {
    Decoded out;
    Bytes copy = file;
    MSTREAM s = MStreamOpenFromMemoryBlock(copy.empty() ? nullptr : copy.data(), int64_t(copy.size()));
    BMPHandle h = nullptr;
    out.init = BMP_DecodeInit(s, &h);
    if (out.init == MOK) {
        if (wantW) EXPECT_EQ(BMP_DecodeSetDimension(h, &wantW, &wantH), MOK);
        if (invert) BMP_DecodeSetInvertion(h, 1);
        BMPInfoHeader ih;
        BMP_DecodeGetInfoHeader(h, &ih);
        out.width = ih.lWidth;
        out.height = ih.lHeight;
        out.stride = stride(int(ih.lWidth), ih.wBitCount == 12 ? 16 : ih.wBitCount);
        int64_t palSize = 0;
        BMP_DecodeGetColorTab(h, nullptr, &palSize);
        out.palette.resize(size_t(palSize));
        BMP_DecodeGetColorTab(h, out.palette.data(), &palSize);
        out.rows.assign(size_t(out.stride * out.height), 0xCD);
        int64_t done = 0;
        out.scan = MOK;
        while (done < out.height) {
            int64_t first = -1, got = 0;
            out.scan = BMP_DecodeScanLines(h, out.rows.data() + done * out.stride, rowsPerCall, &first, &got);
            if (out.scan != MOK) break;
            EXPECT_EQ(first, done);
            if (got == 0) break;
            done += got;
        }
        BMP_DecodeUninit(h);
    }
    MStreamClose(s);
    return out;
}

uint32_t rawPixel(const Decoded& d, int bits, int64_t x, int64_t y) {
    const uint8_t* row = &d.rows[size_t(y * d.stride)];
    if (bits < 8) {
        int per = 8 / bits;
        return (row[x / per] >> (8 - bits * (x % per + 1))) & ((1u << bits) - 1);
    }
    uint32_t v = 0;
    for (int b = 0; b < bits / 8; ++b) v |= uint32_t(row[x * (bits / 8) + b]) << (8 * b);
    return v;
}

// Widens a masked field to 8 bits by bit replication, as stb_image does.
int widen(uint32_t v, uint32_t mask) {
    if (!mask) return 0;
    int shift = __builtin_ctz(mask);
    int n = __builtin_popcount(mask);
    uint32_t f = (v & mask) >> shift;
    int out = 0, have = 0;
    while (have < 8) { out = (out << n) | int(f); have += n; }
    return (out >> (have - 8)) & 0xFF;
}

void expectMatchesStb(const Spec& shape, uint32_t seed) {
    Image im = makeImage(shape, seed);
    Decoded d = decode(im.file);
    ASSERT_EQ(d.init, MOK);
    ASSERT_EQ(d.scan, MOK);
    int w, h, n;
    uint8_t* ref = stbi_load_from_memory(im.file.data(), int(im.file.size()), &w, &h, &n, 3);
    ASSERT_NE(ref, nullptr) << stbi_failure_reason();
    ASSERT_EQ(w, d.width);
    ASSERT_EQ(h, d.height);
    uint32_t masks[3] = {0x7C00, 0x3E0, 0x1F};
    if (shape.bits == 32) masks[0] = 0xFF0000, masks[1] = 0xFF00, masks[2] = 0xFF;
    if (shape.compression == 3) std::memcpy(masks, shape.masks, sizeof masks);
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
            uint32_t v = rawPixel(d, shape.bits, x, y);
            int rgb[3];
            if (shape.bits <= 8) {
                ASSERT_LT(v * 4, d.palette.size());
                rgb[0] = d.palette[v * 4 + 2], rgb[1] = d.palette[v * 4 + 1], rgb[2] = d.palette[v * 4];
            } else if (shape.bits == 24) {
                rgb[0] = (v >> 16) & 0xFF, rgb[1] = (v >> 8) & 0xFF, rgb[2] = v & 0xFF;
            } else {
                for (int c = 0; c < 3; ++c) rgb[c] = widen(v, masks[c]);
            }
            const uint8_t* r = ref + (y * w + x) * 3;
            for (int c = 0; c < 3; ++c) ASSERT_NEAR(rgb[c], r[c], 1) << "pixel " << x << "," << y;
        }
    }
    stbi_image_free(ref);
}

TEST(BmpDecoder, MatchesStbOnEveryUncompressedLayout) {
    struct Row { const char* name; Spec shape; };
    std::vector<Row> rows;
    for (int bits : {1, 4, 8, 16, 24, 32})
        for (bool td : {false, true})
            for (int w : {1, 7, 9, 33}) {
                Spec s;
                s.bits = bits, s.topDown = td, s.width = w, s.height = 3 + w % 4;
                rows.push_back({"plain", s});
            }
    Spec f565;
    f565.bits = 16, f565.compression = 3, f565.masks[0] = 0xF800, f565.masks[1] = 0x7E0, f565.masks[2] = 0x1F;
    rows.push_back({"565 fields", f565});
    Spec f32;
    f32.bits = 32, f32.compression = 3, f32.masks[0] = 0xFF000000, f32.masks[1] = 0xFF0000, f32.masks[2] = 0xFF00;
    rows.push_back({"32 fields", f32});
    Spec core;
    core.core = true, core.bits = 8, core.width = 6;
    rows.push_back({"os2 core", core});
    Spec shortPal;
    shortPal.bits = 8, shortPal.paletteEntries = 20;
    rows.push_back({"short palette", shortPal});
    uint32_t seed = 1;
    for (auto& r : rows) {
        SCOPED_TRACE(testing::Message() << r.name << " bits " << r.shape.bits << " w " << r.shape.width
                                        << " topDown " << r.shape.topDown);
        ASSERT_NO_FATAL_FAILURE(expectMatchesStb(r.shape, seed++));
    }
}

TEST(BmpDecoder, TwoBitRowsKeepTheirIndexes) {
    Spec s;
    s.bits = 2, s.width = 11, s.height = 5;
    Image im = makeImage(s, 7);
    Decoded d = decode(im.file);
    ASSERT_EQ(d.scan, MOK);
    for (int y = 0; y < s.height; ++y)
        for (int x = 0; x < s.width; ++x) EXPECT_EQ(rawPixel(d, 2, x, y), im.pixels[size_t(y) * s.width + x]);
}

TEST(BmpDecoder, RleRoundTripsForBothDepths) {
    for (uint32_t comp : {1u, 2u}) {
        for (int w : {1, 2, 5, 16, 37}) {
            Spec s;
            s.compression = comp, s.bits = comp == 1 ? 8 : 4, s.width = w, s.height = 6;
            Image im = makeImage(s, uint32_t(w * 10 + comp));
            Decoded d = decode(im.file);
            ASSERT_EQ(d.scan, MOK);
            for (int y = 0; y < s.height; ++y)
                for (int x = 0; x < w; ++x)
                    ASSERT_EQ(rawPixel(d, s.bits, x, y), im.pixels[size_t(y) * w + x])
                        << "comp " << comp << " w " << w << " at " << x << "," << y;
        }
    }
}

TEST(BmpDecoder, RleDeltaSkipsLeaveIndexZero) {
    Spec s;
    s.compression = 1, s.bits = 8, s.width = 4, s.height = 2, s.paletteEntries = 4;
    Image im = makeImage(s, 3);
    // Replace the pixel data: bottom row "2 7", delta (1, 1), run "1 5", end of bitmap.
    size_t off = im.file.size() - encodeRle(im).size();
    im.file.resize(off);
    for (uint8_t b : {2, 7, 0, 2, 1, 1, 1, 5, 0, 1}) im.file.push_back(b);
    Decoded d = decode(im.file);
    ASSERT_EQ(d.scan, MOK);
    EXPECT_EQ(rawPixel(d, 8, 0, 1), 7u);
    EXPECT_EQ(rawPixel(d, 8, 1, 1), 7u);
    EXPECT_EQ(rawPixel(d, 8, 2, 1), 0u);
    EXPECT_EQ(rawPixel(d, 8, 0, 0), 0u);
    EXPECT_EQ(rawPixel(d, 8, 2, 0), 0u);
    EXPECT_EQ(rawPixel(d, 8, 3, 0), 5u);
}

// A 4-bit absolute run of n pixels holds (n + 1) / 2 bytes, padded to an even count: every length
// from 3 to 8 (odd and even pixel counts, padded and unpadded byte counts), each followed by an
// encoded run that must start right after it, on one row; the row's last pixel is left as zero.
TEST(BmpDecoder, Rle4AbsoluteRunsOfEveryLengthKeepTheirPixelsAndPadding) {
    for (int n = 3; n <= 8; ++n) {
        Spec s;
        s.compression = 2, s.bits = 4, s.width = n + 3, s.height = 2, s.paletteEntries = 16;
        Image im = makeImage(s, uint32_t(40 + n));
        const size_t off = im.file.size() - encodeRle(im).size();
        im.file.resize(off);
        std::vector<uint32_t> want(size_t(s.width) * s.height, 0);
        for (int row = 0; row < 2; ++row) { // bottom row first in the file
            const int y = s.height - 1 - row;
            im.file.push_back(0);
            im.file.push_back(uint8_t(n));
            const int bytes = (n + 1) / 2;
            for (int i = 0; i < bytes; ++i) {
                const uint8_t hi = uint8_t((i * 2 + row * 5 + 1) & 15), lo = uint8_t((i * 2 + row * 5 + 2) & 15);
                im.file.push_back(uint8_t(hi << 4 | lo));
                want[size_t(y) * s.width + 2 * i] = hi;
                if (2 * i + 1 < n) want[size_t(y) * s.width + 2 * i + 1] = lo;
            }
            if (bytes & 1) im.file.push_back(0xEE); // the pad byte is skipped, never read as a code
            im.file.push_back(2);
            im.file.push_back(0xDC); // two pixels: 13, 12
            want[size_t(y) * s.width + n] = 13;
            want[size_t(y) * s.width + n + 1] = 12;
            im.file.push_back(0);
            im.file.push_back(0);
        }
        im.file.push_back(0);
        im.file.push_back(1);
        Decoded d = decode(im.file);
        ASSERT_EQ(d.scan, MOK) << "run of " << n;
        for (int y = 0; y < s.height; ++y)
            for (int x = 0; x < s.width; ++x)
                EXPECT_EQ(rawPixel(d, 4, x, y), want[size_t(y) * s.width + x]) << "run of " << n << " at " << x << "," << y;
    }
}

TEST(BmpDecoder, InversionDeliversBottomRowFirst) {
    Spec s;
    s.bits = 24, s.width = 3, s.height = 4;
    Image im = makeImage(s, 11);
    Decoded normal = decode(im.file), inverted = decode(im.file, 0, 0, true);
    ASSERT_EQ(inverted.scan, MOK);
    for (int y = 0; y < 4; ++y)
        EXPECT_EQ(0, std::memcmp(&normal.rows[size_t(y * normal.stride)],
                                 &inverted.rows[size_t((3 - y) * normal.stride)], size_t(normal.stride)));
}

TEST(BmpDecoder, ScaledDecodePicksNearestSourcePixels) {
    for (int bits : {1, 4, 8, 24}) {
        Spec s;
        s.bits = bits, s.width = 40, s.height = 30;
        Image im = makeImage(s, uint32_t(bits));
        Decoded d = decode(im.file, 10, 100);
        ASSERT_EQ(d.scan, MOK);
        ASSERT_EQ(d.width, 10);
        ASSERT_EQ(d.height, 8);  // 30 x 0.25 = 7.5, rounded
        for (int y = 0; y < d.height; ++y)
            for (int x = 0; x < d.width; ++x)
                ASSERT_EQ(rawPixel(d, bits, x, y), im.pixels[size_t(y * 4) * 40 + x * 4]) << bits;
    }
    Spec s;
    Image im = makeImage(s, 2);
    Decoded d = decode(im.file, 500, 500);  // never enlarges
    EXPECT_EQ(d.width, s.width);
    EXPECT_EQ(d.height, s.height);
}

TEST(BmpDecoder, RejectsHostileHeaders) {
    Spec s;
    Image im = makeImage(s, 5);
    auto withHeight = [&](uint32_t hgt) {
        Bytes f = im.file;
        std::memcpy(&f[22], &hgt, 4);
        return f;
    };
    EXPECT_EQ(decode(withHeight(0x80000000u)).init, MERR_INVALID_PARAM);
    EXPECT_EQ(decode(withHeight(0)).init, MERR_UNSUPPORTED);
    EXPECT_EQ(decode(withHeight(0x7FFFFFFF)).init, MERR_UNSUPPORTED);  // pixel cap
    // Within the cap, but far more rows than the file holds: refused before a scaled decode
    // sizes its row map (hundreds of megabytes) by them, stored or run-length.
    EXPECT_EQ(decode(withHeight(0x03000000), 1, 0x01000000).init, MERR_UNSUPPORTED);
    Spec rle;
    rle.bits = 8, rle.compression = 1;
    Bytes runs = makeImage(rle, 3).file;
    const uint32_t rleHeight = 0x03000000;
    std::memcpy(&runs[22], &rleHeight, 4);
    EXPECT_EQ(decode(runs, 1, 0x01000000).init, MERR_UNSUPPORTED);

    Bytes bits = im.file;
    bits[28] = 7;
    EXPECT_EQ(decode(bits).init, MERR_UNSUPPORTED);

    // A colour count above 256 must not overflow the 1024-byte table.
    Spec p;
    p.bits = 8;
    Image pi = makeImage(p, 9);
    uint32_t many = 100000;
    std::memcpy(&pi.file[46], &many, 4);
    Decoded d = decode(pi.file);
    ASSERT_EQ(d.init, MOK);
    EXPECT_EQ(d.palette.size(), 1024u);

    Bytes copy = withHeight(0x80000000u);
    MSTREAM st = MStreamOpenFromMemoryBlock(copy.data(), int64_t(copy.size()));
    int64_t w, h, b;
    EXPECT_EQ(BMP_GetInfoFromFile(st, &w, &h, &b), MERR_INVALID_PARAM);
    MStreamClose(st);
}

TEST(BmpDecoder, ShortPaletteSlotsAreZeroAndInfoMatches) {
    Spec s;
    s.bits = 4, s.paletteEntries = 3;
    Image im = makeImage(s, 4);
    Decoded d = decode(im.file);
    ASSERT_EQ(d.palette.size(), 64u);
    for (size_t i = 12; i < 64; ++i) EXPECT_EQ(d.palette[i], 0) << i;
    EXPECT_EQ(d.palette[3], 0);
    MSTREAM st = MStreamOpenFromMemoryBlock(im.file.data(), int64_t(im.file.size()));
    int64_t w, h, b;
    ASSERT_EQ(BMP_GetInfoFromFile(st, &w, &h, &b), MOK);
    EXPECT_EQ(w, s.width);
    EXPECT_EQ(h, s.height);
    EXPECT_EQ(b, 4);
    BMPHandle hd = nullptr;
    MStreamSeek(st, 0, 0);
    ASSERT_EQ(BMP_DecodeInit(st, &hd), MOK);
    MUInt64 masks[3];
    EXPECT_EQ(BMP_DecodeGetMask(hd, masks), MERR_REGISTRATION);
    int64_t type = -1;
    BMP_DecodeGetBmpType(hd, &type);
    EXPECT_EQ(type, 0);
    int64_t ww = 2, hh = 2, first, got;
    uint8_t row[64];
    BMP_DecodeScanLines(hd, row, 1, &first, &got);
    EXPECT_EQ(BMP_DecodeSetDimension(hd, &ww, &hh), MERR_REGISTRATION);
    BMP_DecodeUninit(hd);
    MStreamClose(st);
}

// A prefix that holds none of the pixels (no whole stored row, no whole run-length code) fails;
// one that holds some decodes them.
TEST(BmpDecoder, EveryTruncatedPrefixFailsCleanlyOrDecodesWhatItHolds) {
    for (Spec s : {Spec{6, 5, 24}, Spec{9, 4, 4, false, false, 2}, Spec{7, 3, 8, true}}) {
        Image im = makeImage(s, 17);
        const size_t data = im.file[10] | im.file[11] << 8;
        const size_t first = data + (s.compression ? 2 : size_t(stride(s.width, s.bits)));
        for (size_t n = 0; n < im.file.size(); ++n) {
            Bytes prefix(im.file.begin(), im.file.begin() + long(n));
            Decoded d = decode(prefix, 0, 0, false, 1);
            // A run-length stream's first code may be longer than two bytes.
            if (n < first || !s.compression)
                EXPECT_EQ(n < first, d.init != MOK || d.scan != MOK) << "prefix " << n << " bits " << s.bits;
        }
    }
}

}  // namespace
