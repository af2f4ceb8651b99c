// PNG glue against libpng's simplified reader on generated images: every colour type and bit
// depth, interlaced or not, with and without tRNS; downscaling; failure handling; every prefix
// of a truncated file.
#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <random>
#include <vector>

#include <png.h>

#if defined(__has_feature)
#if __has_feature(address_sanitizer)
#define KPV_HAVE_ALLOC_HOOK 1
#endif
#endif
#if defined(__SANITIZE_ADDRESS__)
#define KPV_HAVE_ALLOC_HOOK 1
#endif
#ifndef KPV_HAVE_ALLOC_HOOK
#define KPV_HAVE_ALLOC_HOOK 0
#endif
#if KPV_HAVE_ALLOC_HOOK
#include <sanitizer/allocator_interface.h>
#endif

#include "MStream.h"
#include "PngDecoder.h"

namespace {

using Bytes = std::vector<uint8_t>;

struct Spec {
    int width = 7, height = 5;
    int type = PNG_COLOR_TYPE_RGB;
    int depth = 8;
    bool interlace = false;
    bool trns = false;
    int paletteEntries = 5;
};

struct Made {
    Bytes file;
};

void writeMem(png_structp png, png_bytep data, size_t n) {
    auto* out = static_cast<Bytes*>(png_get_io_ptr(png));
    out->insert(out->end(), data, data + n);
}
void flushMem(png_structp) {}

int channelsOf(int type) { return type == 0 || type == 3 ? 1 : type == 4 ? 2 : type == 6 ? 4 : 3; }

Bytes makePng(const Spec& s, uint32_t seed, int xPerMetre = 0) {
    std::mt19937 rng(seed);
    Bytes out;
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    png_set_write_fn(png, &out, writeMem, flushMem);
    png_set_IHDR(png, info, s.width, s.height, s.depth, s.type,
                 s.interlace ? PNG_INTERLACE_ADAM7 : PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
                 PNG_FILTER_TYPE_DEFAULT);
    const int maxv = (1 << s.depth) - 1;
    if (s.type == PNG_COLOR_TYPE_PALETTE) {
        std::vector<png_color> pal(static_cast<size_t>(s.paletteEntries));
        for (auto& c : pal) c.red = uint8_t(rng()), c.green = uint8_t(rng()), c.blue = uint8_t(rng());
        png_set_PLTE(png, info, pal.data(), s.paletteEntries);
        if (s.trns) {
            png_byte a[3] = {0, 128, 7};
            png_set_tRNS(png, info, a, std::min(3, s.paletteEntries), nullptr);
        }
    } else if (s.trns) {
        png_color_16 c{};
        // The transparent value is one that the pixels below use often.
        c.gray = uint16_t(1 & maxv);
        c.red = uint16_t(1 & maxv), c.green = 2, c.blue = 3;
        png_set_tRNS(png, info, nullptr, 0, &c);
    }
    if (xPerMetre) png_set_pHYs(png, info, xPerMetre, xPerMetre, PNG_RESOLUTION_METER);
    png_write_info(png, info);
    const int ch = channelsOf(s.type);
    const size_t rowBytes = (size_t(s.width) * ch * s.depth + 7) / 8;
    std::vector<Bytes> rows(size_t(s.height), Bytes(rowBytes, 0));
    for (auto& r : rows) {
        for (int x = 0; x < s.width * ch; ++x) {
            int v = int((rng() % 4 == 0 ? uint32_t(x % 3 + 1) : rng()) & 0xFFFF);
            if (s.type == PNG_COLOR_TYPE_PALETTE) v %= s.paletteEntries;
            if (s.depth == 16) {
                r[size_t(2 * x)] = uint8_t(v >> 8);
                r[size_t(2 * x + 1)] = uint8_t(v);
            } else if (s.depth == 8) {
                r[size_t(x)] = uint8_t(v);
            } else {
                int per = 8 / s.depth;
                r[size_t(x / per)] |= uint8_t((v & maxv) << (8 - s.depth * (x % per + 1)));
            }
        }
        // Black pixels with full alpha must survive.
        if (s.type == PNG_COLOR_TYPE_RGBA && s.depth == 8) std::memcpy(r.data(), "\0\0\0\xff", 4);
    }
    std::vector<png_bytep> ptrs;
    for (auto& r : rows) ptrs.push_back(r.data());
    png_write_image(png, ptrs.data());
    png_write_end(png, info);
    png_destroy_write_struct(&png, &info);
    return out;
}

// The reference: libpng's simplified reader, RGBA. 8-bit files come out as 8-bit RGBA; 16-bit
// files are read as linear 16-bit (libpng premultiplies those by alpha) so that no gamma
// conversion stands between the two.
Bytes reference(const Bytes& file, int& w, int& h, std::vector<uint16_t>* linear = nullptr) {
    png_image img{};
    img.version = PNG_IMAGE_VERSION;
    EXPECT_TRUE(png_image_begin_read_from_memory(&img, file.data(), file.size()));
    img.format = linear ? PNG_FORMAT_LINEAR_RGB_ALPHA : PNG_FORMAT_RGBA;
    Bytes px(PNG_IMAGE_SIZE(img));
    EXPECT_TRUE(png_image_finish_read(&img, nullptr, px.data(), 0, nullptr));
    w = int(img.width);
    h = int(img.height);
    if (linear) {
        linear->resize(px.size() / 2);
        std::memcpy(linear->data(), px.data(), px.size());
    }
    png_image_free(&img);
    return px;
}

struct Glue {
    Bytes data;
    MSTREAM s = nullptr;
    PNGHandle h = nullptr;
    MResult init;
    explicit Glue(const Bytes& f) : data(f) {
        s = MStreamOpenFromMemoryBlock(data.empty() ? nullptr : data.data(), int64_t(data.size()));
        init = PNG_DecodeInit(s, &h);
    }
    ~Glue() {
        if (h) PNG_DecodeUninit(h);
        MStreamClose(s);
    }
};

// Decodes all rows as RGBA through a small model of the row layout.
MResult decodeRgba(Glue& g, int64_t& w, int64_t& h, Bytes& rgba, bool invert) {
    if (invert) PNG_DecodeSetRGBInvert(g.h);
    PNGInfo pi;
    PNG_DecodeGetPngInfo(g.h, &pi);
    w = pi.lOutWidth;
    h = pi.lOutHeight;
    int64_t palSize = 0;
    PNG_DecodeGetColorTab(g.h, nullptr, &palSize);
    Bytes pal(static_cast<size_t>(palSize));
    PNG_DecodeGetColorTab(g.h, pal.data(), &palSize);
    const int d = int(pi.lPixelDepth);
    const int64_t rowBytes = (w * d + 7) / 8;
    rgba.assign(size_t(w * h * 4), 0);
    Bytes row(size_t(rowBytes) + 8);
    for (int64_t pass = 0; pass < pi.lPasses; ++pass) {
        for (int64_t y = 0; y < h; ++y) {
            std::fill(row.begin(), row.end(), 0xA5);  // the glue must write every byte
            int64_t first = -1, got = 0;
            MResult r = PNG_DecodeScanLines(g.h, row.data(), 1, &first, &got);
            if (r != MOK) return r;
            EXPECT_EQ(first, y);
            EXPECT_EQ(got, 1);
            for (int64_t x = 0; x < w; ++x) {
                uint8_t* o = &rgba[size_t((y * w + x) * 4)];
                const uint8_t* p = &row[size_t(x * d / 8)];
                int r0 = invert ? 0 : 2, b0 = invert ? 2 : 0;
                if (d < 8 || (d == 8 && !palSize)) {
                    int per = 8 / std::min(d, 8);
                    unsigned v = d == 8 ? p[0] : (row[size_t(x / per)] >> (8 - d * (x % per + 1))) & ((1u << d) - 1);
                    if (palSize) {
                        const uint8_t* e = &pal[v * 4];
                        o[0] = e[r0], o[1] = e[1], o[2] = e[b0], o[3] = e[3];
                    } else {
                        uint8_t gv = uint8_t(v * 255 / ((1u << d) - 1));
                        o[0] = o[1] = o[2] = gv, o[3] = 255;
                    }
                } else if (d == 8) {
                    const uint8_t* e = &pal[p[0] * 4];
                    o[0] = e[r0], o[1] = e[1], o[2] = e[b0], o[3] = e[3];
                } else if (d == 16) {
                    o[0] = o[1] = o[2] = p[0], o[3] = p[1];
                } else {
                    o[0] = p[r0], o[1] = p[1], o[2] = p[b0], o[3] = d == 32 ? p[3] : 255;
                }
            }
        }
    }
    return MOK;
}

TEST(PngGlue, MatchesLibpngForEveryLayout) {
    struct TD { int type; std::vector<int> depths; bool trnsAllowed; };
    const TD types[] = {{0, {1, 2, 4, 8, 16}, true}, {2, {8, 16}, true}, {3, {1, 2, 4, 8}, true},
                        {4, {8, 16}, false}, {6, {8, 16}, false}};
    uint32_t seed = 1;
    for (const TD& t : types)
        for (int depth : t.depths)
            for (bool interlace : {false, true})
                for (bool trns : {false, true}) {
                    if (trns && !t.trnsAllowed) continue;
                    for (int w : {1, 3, 9, 17}) {
                        Spec s;
                        s.type = t.type, s.depth = depth, s.interlace = interlace, s.trns = trns;
                        s.width = w, s.height = 1 + (w * 3) % 11;
                        s.paletteEntries = std::min(1 << depth, 5);
                        SCOPED_TRACE(testing::Message() << "type " << t.type << " depth " << depth << " interlace "
                                                        << interlace << " trns " << trns << " w " << w);
                        Bytes file = makePng(s, seed++);
                        int rw, rh;
                        std::vector<uint16_t> lin;
                        Bytes ref = reference(file, rw, rh, depth == 16 ? &lin : nullptr);
                        for (bool invert : {false, true}) {
                            Glue g(file);
                            ASSERT_EQ(g.init, MOK);
                            int64_t ow, oh;
                            Bytes got;
                            ASSERT_EQ(decodeRgba(g, ow, oh, got, invert), MOK);
                            ASSERT_EQ(ow, rw);
                            ASSERT_EQ(oh, rh);
                            if (depth != 16) {
                                ASSERT_EQ(got, ref);
                                continue;
                            }
                            for (size_t p = 0; p < got.size() / 4; ++p) {
                                const uint16_t* r = &lin[4 * p];
                                ASSERT_NEAR(got[4 * p + 3], r[3] >> 8, 1) << "pixel " << p;
                                for (int c = 0; c < 3; ++c) {
                                    // Stripping keeps the high byte; compare after premultiplying.
                                    double mine = got[4 * p + size_t(c)] * 257.0 * r[3] / 65535.0;
                                    ASSERT_NEAR(mine, r[c], 2 * 257.0) << "pixel " << p << " channel " << c;
                                }
                            }
                        }
                    }
                }
}

TEST(PngGlue, InfoFromFileCountsTheDeliveredChannels) {
    struct Row { Spec s; int64_t bits; };
    Spec rgba16;
    rgba16.type = 6, rgba16.depth = 16;
    Spec rgb8;
    Spec pal4;
    pal4.type = 3, pal4.depth = 4;
    Spec greyT;
    greyT.type = 0, greyT.depth = 2, greyT.trns = true;
    Spec rgbT;
    rgbT.trns = true;
    for (const Row& r : {Row{rgba16, 32}, Row{rgb8, 24}, Row{pal4, 4}, Row{greyT, 16}, Row{rgbT, 32}}) {
        Bytes f = makePng(r.s, 3);
        MSTREAM st = MStreamOpenFromMemoryBlock(f.data(), int64_t(f.size()));
        int64_t w, h, b;
        ASSERT_EQ(PNG_GetInfoFromFile(st, &w, &h, &b), MOK);
        EXPECT_EQ(b, r.bits);
        EXPECT_EQ(w, r.s.width);
        EXPECT_EQ(MStreamTell(st), 0);
        PNGHandle hd;
        ASSERT_EQ(PNG_DecodeInit(st, &hd), MOK);
        PNGInfoHeader ih;
        PNG_DecodeGetInfoHeader(hd, &ih);
        EXPECT_EQ(ih.wBitCount, r.bits);  // the rows are what the quick reader promised
        PNG_DecodeUninit(hd);
        MStreamClose(st);
    }
    Bytes tiny(25, 0);
    MSTREAM st = MStreamOpenFromMemoryBlock(tiny.data(), 25);
    int64_t w, h, b;
    EXPECT_EQ(PNG_GetInfoFromFile(st, &w, &h, &b), MERR_UNSUPPORTED);
    EXPECT_EQ(PNG_GetInfoFromFile(st, nullptr, &h, &b), MERR_INVALID_PARAM);
    MStreamClose(st);
}

TEST(PngGlue, DownscaleSamplesNearestPixelsAndWritesWholeRows) {
    for (int type : {0, 2, 3, 6})
        for (bool interlace : {false, true}) {
            Spec s;
            s.type = type, s.depth = type == 0 ? 4 : 8, s.width = 200, s.height = 200, s.interlace = interlace;
            Bytes file = makePng(s, 21);
            int rw, rh;
            Bytes ref = reference(file, rw, rh);
            Glue g(file);
            int64_t w = 100, h = 10;
            ASSERT_EQ(PNG_DecodeSetDimension(g.h, &w, &h), MOK);
            ASSERT_EQ(w, 10);
            ASSERT_EQ(h, 10);
            int64_t ow, oh;
            Bytes got;
            ASSERT_EQ(decodeRgba(g, ow, oh, got, false), MOK);
            for (int y = 0; y < 10; ++y)
                for (int x = 0; x < 10; ++x)
                    for (int c = 0; c < 4; ++c)
                        ASSERT_EQ(got[size_t((y * 10 + x) * 4 + c)], ref[size_t((y * 20 * 200 + x * 20) * 4 + c)])
                            << type << " " << interlace << " at " << x << "," << y;
            // Past the last row the glue fails and stays failed.
            uint8_t row[64];
            int64_t first, n;
            EXPECT_EQ(PNG_DecodeScanLines(g.h, row, 1, &first, &n), MERR_UNKNOWN);
            EXPECT_EQ(PNG_DecodeScanLines(g.h, row, 1, &first, &n), MERR_UNKNOWN);
        }
    Spec s;
    Bytes file = makePng(s, 4);
    Glue g(file);
    int64_t w = 1000, h = 1000;
    ASSERT_EQ(PNG_DecodeSetDimension(g.h, &w, &h), MOK);  // no enlarging
    EXPECT_EQ(w, s.width);
    EXPECT_EQ(h, s.height);
}

TEST(PngGlue, ResolutionPaletteAlphaAndSignature) {
    Spec s;
    s.type = 3, s.depth = 8, s.trns = true, s.paletteEntries = 5;
    Bytes f = makePng(s, 5, 2835);
    Glue g(f);
    ASSERT_EQ(g.init, MOK);
    PNGInfo pi;
    PNG_DecodeGetPngInfo(g.h, &pi);
    EXPECT_EQ(pi.lXResolution, 2835);
    EXPECT_EQ(pi.lPaletteTransparency, 1);
    EXPECT_EQ(pi.lPaletteEntries, 5);
    uint8_t pal[20];
    int64_t size;
    ASSERT_EQ(PNG_DecodeGetColorTab(g.h, pal, &size), MOK);
    EXPECT_EQ(size, 20);
    EXPECT_EQ(pal[3], 0);
    EXPECT_EQ(pal[7], 128);
    EXPECT_EQ(pal[15], 255);
    EXPECT_EQ(pal[19], 255);

    Bytes bad = f;
    bad[5] ^= 0xFF;  // first four bytes right, the rest of the signature wrong
    Glue b(bad);
    EXPECT_EQ(b.init, MERR_UNKNOWN);
    Bytes notPng = f;
    notPng[1] = 'X';
    Glue n(notPng);
    EXPECT_EQ(n.init, MERR_UNSUPPORTED);
}

TEST(PngGlue, CorruptDataStopsAtTheFirstFailure) {
    Spec s;
    s.width = 64, s.height = 64;
    Bytes f = makePng(s, 6);
    // Damage the compressed data in the middle of IDAT.
    f[f.size() / 2] ^= 0x5A;
    f[f.size() / 2 + 1] ^= 0xA5;
    Glue g(f);
    ASSERT_EQ(g.init, MOK);
    Bytes row(64 * 3);
    MResult r = MOK;
    int y = 0;
    for (; y < 64 && r == MOK; ++y) {
        int64_t first, n;
        r = PNG_DecodeScanLines(g.h, row.data(), 1, &first, &n);
    }
    ASSERT_EQ(r, MERR_UNKNOWN);
    int64_t first, n;
    EXPECT_EQ(PNG_DecodeScanLines(g.h, row.data(), 1, &first, &n), MERR_UNKNOWN);
    EXPECT_EQ(n, 0);
}

}  // namespace

// The largest single allocation of the process since the last reset: the sanitizer's allocator
// reports each one to a hook, and in other builds this program's own malloc counts them before
// handing them to the C library's (so the cap is checked in every build, not only where the
// sanitizer happens to refuse a huge block).
std::atomic<size_t> g_largestAlloc{0};
static void noteAllocation(size_t size) {
    size_t seen = g_largestAlloc.load(std::memory_order_relaxed);
    while (size > seen && !g_largestAlloc.compare_exchange_weak(seen, size)) {}
}
#if KPV_HAVE_ALLOC_HOOK
static void onMalloc(const volatile void*, size_t size) { noteAllocation(size); }
static void onFreeHook(const volatile void*) {}
#else
extern "C" void* __libc_malloc(size_t size) noexcept;
extern "C" void* malloc(size_t size) noexcept {
    noteAllocation(size);
    return __libc_malloc(size);
}
#endif

namespace {

TEST(PngGlue, HugeDeclaredChunkIsRefusedWithoutAllocatingIt) {
    Spec s;
    s.width = 1, s.height = 1;
    const Bytes good = makePng(s, 3);
    // Signature and header, then a text chunk that declares almost 2 GB and carries a few bytes.
    Bytes f(good.begin(), good.begin() + 33);
    const uint8_t text[] = {0x7F, 0xFF, 0xFF, 0x00, 't', 'E', 'X', 't', 'k', 'e', 'y', 0, 'v', 'a', 'l', 'u', 'e'};
    f.insert(f.end(), std::begin(text), std::end(text));
    f.resize(82, 0);
#if KPV_HAVE_ALLOC_HOOK
    static bool installed = __sanitizer_install_malloc_and_free_hooks(onMalloc, onFreeHook) != 0;
    ASSERT_TRUE(installed);
#endif
    g_largestAlloc = 0;
    {
        Glue g(f);
        EXPECT_NE(g.init, MOK);
        EXPECT_EQ(g.h, nullptr);
    }
    EXPECT_LT(g_largestAlloc.load(), size_t(64) << 20);
}

TEST(PngGlue, EveryTruncatedPrefixFailsCleanly) {
    for (bool interlace : {false, true}) {
        Spec s;
        s.type = 6, s.interlace = interlace, s.width = 5, s.height = 4;
        Bytes f = makePng(s, 8);
        for (size_t n = 0; n < f.size(); ++n) {
            Bytes prefix(f.begin(), f.begin() + long(n));
            Glue g(prefix);
            if (g.init != MOK) continue;
            int64_t w, h;
            Bytes rgba;
            MResult r = decodeRgba(g, w, h, rgba, false);
            // The IEND chunk carries no pixels; cutting into anything before it must fail.
            if (n + 12 < f.size()) EXPECT_NE(r, MOK) << n;
        }
    }
}

}  // namespace
