// Line converters against a per-pixel reference model for every selectable pair (plain and
// masked, as the selection sets bSwapRB), on random lines of widths 0 to 17 with random flags;
// the selection table as golden rows; the palette rules and the documented exact values.
#include <gtest/gtest.h>

#include <cstring>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "MdConverter.h"

namespace {

using Bytes = std::vector<uint8_t>;

int srcBits(unsigned id) {
    switch (id) {
        case 0x16: case 0x1A: return 1;
        case 0x17: case 0x1B: return 2;
        case 0x18: case 0x1C: return 4;
        case 0x19: case 0x1D: return 8;
        case 0x1E: case 0x05: case 0x06: case 0x1F: case 0x20: case 0x21: return 16;
        case 0x01: case 0x02: return 24;
        default: return 32;
    }
}
int dstBytes(unsigned id) {
    switch (id) {
        case 0x01: case 0x02: return 3;
        case 0x05: case 0x06: return 2;
        case 0x12: case 0x1D: return 1;
        default: return 4;
    }
}
bool isPalette(unsigned id) { return id >= 0x16 && id <= 0x19; }
bool isGrey(unsigned id) { return id >= 0x1A && id <= 0x1E; }

unsigned rawAt(const Bytes& line, int bits, int x) {
    if (bits < 8) {
        int per = 8 / bits;
        return (line[size_t(x / per)] >> (8 - bits * (x % per + 1))) & ((1u << bits) - 1);
    }
    return line[size_t(x * bits / 8)];
}

uint16_t w565(unsigned X, unsigned G, unsigned Y) { return uint16_t(((X & 0xF8) << 8) | ((G & 0xFC) << 3) | (Y >> 3)); }

unsigned over(unsigned c, unsigned a, unsigned byTrans) {
    if (byTrans != 255) return a == 0 ? c : a == 255 ? 255 : (c + (((255 - c) * a) >> 8)) & 0xFF;
    return a == 255 ? c : a == 0 ? 255 : unsigned((((int(c) - 255) * int(a)) >> 8) - 1) & 0xFF;
}

// The expected bytes of output pixel x, written over `out` (which holds the destination's old
// contents), straight from the converters' rules.
void model(unsigned src, unsigned dst, bool masked, const MdConverter& r, const Bytes& line, int x, uint8_t* out) {
    const bool swap = r.bSwapRB != 0;
    const int bits = srcBits(src);
    const int ob = dstBytes(dst);
    unsigned c[3] = {0, 0, 0};  // in output order
    int alpha = -1;             // -1: leave the alpha byte
    bool keyed = false;
    bool greyOut = dst == 0x12 || dst == 0x1D;
    unsigned greyValue = 0;
    std::optional<uint16_t> word;
    static const uint8_t def1[8] = {0, 0, 0, 0, 255, 255, 255, 255};
    static const uint8_t def2[16] = {0, 0, 0, 0, 64, 64, 64, 64, 128, 128, 128, 128, 192, 192, 192, 192};
    auto alphaRule = [&](unsigned a) -> int {
        if (r.bAlpha && r.lAlpha == 0) return r.bTransColor ? int(255 - a) : 0;
        return r.bTransColor ? int(a) : 255;
    };
    if (isPalette(src)) {
        unsigned v = rawAt(line, bits, x);
        const uint8_t* pal = r.pSrcPalette ? r.pSrcPalette : bits == 1 ? def1 : def2;
        const uint8_t* e = pal + 4 * v;
        bool other = src == 0x19 && (dst == 0x22 || dst == 0x23 || dst == 0x24 || dst == 0x25);
        bool first0 = swap != other;
        c[0] = first0 ? e[0] : e[2], c[1] = e[1], c[2] = first0 ? e[2] : e[0];
        greyValue = (76 * e[2] + 150 * e[1] + 29 * e[0]) / 255;
        keyed = masked && v == 0;
        if (!masked) alpha = alphaRule(e[3]);
        else alpha = r.bTransColor ? e[3] : (bits == 1 ? 255 : -1);
    } else if (isGrey(src)) {
        unsigned raw = bits == 16 ? line[size_t(2 * x)] : rawAt(line, bits, x);
        unsigned g = bits == 1 ? raw * 255 : bits == 2 ? raw * 85 : bits == 4 ? raw * 17 : raw;
        c[0] = c[1] = c[2] = greyValue = g;
        keyed = masked && raw == 0;
        unsigned b1 = bits == 16 ? line[size_t(2 * x + 1)] : 0;
        if (bits == 16) alpha = r.bTransColor ? int(b1) : (masked ? -1 : 255);
        else alpha = (!masked || bits == 1) ? 255 : -1;
        if (keyed && bits == 16 && r.bTransColor && b1 != 0 && (dst == 0x24 || dst == 0x25)) {
            out[3] = uint8_t(b1);
            return;
        }
    } else if (bits == 16) {
        unsigned w = line[size_t(2 * x)] | (line[size_t(2 * x + 1)] << 8);
        unsigned T, G, L;
        if (src == 0x05 || src == 0x06) T = (w >> 8) & 0xF8, G = (w >> 3) & 0xFC, L = (w << 3) & 0xF8;
        else if (src == 0x21) T = (w & 0xF00) >> 4, G = w & 0xF0, L = (w << 4) & 0xF0;
        else T = (w & 0x7C00) >> 7, G = (w & 0x3E0) >> 2, L = (w << 3) & 0xF8;
        c[0] = swap ? L : T, c[1] = G, c[2] = swap ? T : L;
        if (dst == 0x05 || dst == 0x06) {
            if (src == 0x05 || src == 0x06) word = uint16_t((w >> 11) | (w & 0x7E0) | ((w << 11) & 0xFFFF));
            else if (src == 0x21) {
                unsigned t = (w >> 8) & 15, g = (w >> 4) & 15, l = w & 15;
                word = uint16_t(swap ? (l << 12) | (g << 7) | (t << 1) : (t << 12) | (g << 7) | (l << 1));
            } else {
                unsigned t = (w >> 10) & 31, g = (w >> 5) & 31, l = w & 31;
                word = uint16_t(swap ? (l << 11) | (g << 6) | t : (t << 11) | (g << 6) | l);
            }
        }
        greyValue = src == 0x05 ? (76 * L + 150 * G + 30 * T) >> 8 : (76 * T + 150 * G + 30 * L) >> 8;
    } else if (bits == 24) {
        const uint8_t* s = &line[size_t(3 * x)];
        bool rev = dst == 0x01 || dst == 0x02;
        bool first2 = rev || swap;
        c[0] = first2 ? s[2] : s[0], c[1] = s[1], c[2] = first2 ? s[0] : s[2];
        keyed = masked && !s[0] && !s[1] && !s[2];
        alpha = 255;
        greyValue = (src == 0x01) != swap ? (76 * s[0] + 150 * s[1] + 30 * s[2]) >> 8
                                          : (76 * s[2] + 150 * s[1] + 30 * s[0]) >> 8;
        if (src == 0x02 && dst == 0x1D) greyValue = (76 * s[2] + 150 * s[1] + 30 * s[0]) >> 8;
        if (dst == 0x12) greyValue = (76 * s[0] + 150 * s[1] + 30 * s[2]) >> 8;  // R8G8B8 whatever the swap
    } else {
        const uint8_t* s = &line[size_t(4 * x)];
        if (dst == 0x24 || dst == 0x25) {  // reorderings
            keyed = masked && !s[0] && !s[1] && !s[2];
            if (keyed) return;
            uint8_t o[4] = {s[2], s[1], s[0], s[3]};
            if (src == 0x22) o[0] = s[3], o[1] = s[2], o[2] = s[1], o[3] = s[0];
            std::memcpy(out, o, 4);
            return;
        }
        bool alphaFirst = src == 0x22;
        bool always = alphaFirst && (dst == 0x05 || dst == 0x06);
        bool comp = always || r.bTransColor;
        keyed = masked && (alphaFirst || r.bTransColor) && !s[0] && !s[1] && !s[2];
        unsigned cc[3] = {alphaFirst ? s[1] : s[0], alphaFirst ? s[2] : s[1], alphaFirst ? s[3] : s[2]};
        unsigned a = alphaFirst ? s[0] : s[3];
        if (comp)
            for (auto& v : cc) v = over(v, a, r.byTransColor);
        c[0] = swap ? cc[2] : cc[0], c[1] = cc[1], c[2] = swap ? cc[0] : cc[2];
    }
    if (keyed) return;
    if (greyOut) {
        out[0] = uint8_t(greyValue);
        return;
    }
    if (ob == 2) {
        uint16_t v = word ? *word : w565(c[0], c[1], c[2]);
        out[0] = uint8_t(v), out[1] = uint8_t(v >> 8);
    } else if (ob == 3) {
        out[0] = uint8_t(c[0]), out[1] = uint8_t(c[1]), out[2] = uint8_t(c[2]);
    } else if (dst == 0x22 || dst == 0x23) {
        out[1] = uint8_t(c[0]), out[2] = uint8_t(c[1]), out[3] = uint8_t(c[2]);
        if (alpha >= 0) out[0] = uint8_t(alpha);
    } else {
        out[0] = uint8_t(c[0]), out[1] = uint8_t(c[1]), out[2] = uint8_t(c[2]);
        if (alpha >= 0) out[3] = uint8_t(alpha);
    }
}

std::vector<std::pair<unsigned, unsigned>> selectablePairs() {
    std::vector<std::pair<unsigned, unsigned>> pairs;
    for (unsigned s = 0; s <= 0x2B; ++s)
        for (unsigned d = 0; d <= 0x2B; ++d) {
            MdConverter* r = nullptr;
            if (MdInitConvert((uint64_t(s) << 16) | d, &r) == MOK) pairs.emplace_back(s, d);
            MdUninitConvert(r);
        }
    return pairs;
}

TEST(Converters, EveryPairMatchesTheModel) {
    std::mt19937 rng(1);
    int checked = 0;
    for (auto [s, d] : selectablePairs()) {
        for (bool masked : {false, true}) {
            MdConverter* r = nullptr;
            ASSERT_EQ(MdInitConvert((uint64_t(s) << 16) | d, &r), MOK);
            if (masked && MdSetFillMode(r, 1) != MOK) {
                MdUninitConvert(r);
                continue;
            }
            for (int trial = 0; trial < 6; ++trial) {
                // Random flags; palettes given for 4 and 8 bits, sometimes left out for 1 and 2.
                r->bTransColor = rng() & 1;
                r->byTransColor = (rng() & 1) ? 255 : uint8_t(rng());
                r->bAlpha = rng() & 1;
                r->lAlpha = (rng() & 1) ? 0 : 128;
                Bytes pal(256 * 4);
                for (auto& b : pal) b = uint8_t(rng());
                if (isPalette(s) && (srcBits(s) >= 4 || (rng() & 1))) MdSetPallette(r, pal.data(), nullptr);
                for (int w = 0; w <= 17; ++w) {
                    const int bits = srcBits(s);
                    Bytes line(size_t((w * bits + 7) / 8) + 4);
                    for (auto& b : line) b = (rng() % 5 == 0) ? 0 : uint8_t(rng());
                    const int ob = dstBytes(d);
                    Bytes got(size_t(w * ob) + 8), want;
                    for (auto& b : got) b = uint8_t(rng());
                    want = got;
                    MdConvertLine(line.data(), got.data(), w, r);
                    for (int x = 0; x < w; ++x) model(s, d, masked, *r, line, x, &want[size_t(x * ob)]);
                    ASSERT_EQ(got, want) << std::hex << "src 0x" << s << " dst 0x" << d << " masked " << masked
                                         << std::dec << " width " << w << " swap " << r->bSwapRB;
                    ++checked;
                }
            }
            MdUninitConvert(r);
        }
    }
    EXPECT_GT(checked, 10000);
}

TEST(Converters, SelectionGoldenRows) {
    struct Row { uint64_t key; MdLineConverter fn; int swap; };
    const Row rows[] = {
        {0x190001, _MdConvertIndex8ToRGB888, 0}, {0x190002, _MdConvertIndex8ToRGB888, 1},
        {0x190024, _MdConvertIndex8ToRGBA8888, 1}, {0x160024, _MdConvertIndex1ToRGBA8888, 0},
        {0x010022, _MdConvertRGB888ToA8B8G8R8, 1}, {0x020012, _MdConverR8G8B8ToGREY, 1},
        {0x1F0001, _MdConvertB5G5R5ToRGB888, 1}, {0x200001, _MdConvertB5G5R5ToRGB888, 0},
        {0x220025, _MdConvertA8R8G8B8ToB8G8R8A8, 0}, {0x240005, _MdConvertR8G8B8A8ToRGB565, 0},
        {0x250005, _MdConvertB8G8R8A8ToRGB565, 1}, {0x1D001D, _MdConvertGRAY8ToGRAY8, 0},
        {0x180012, _MdConverINDEX4ToGREY, 0}, {0x1A0002, _MdConvertGray1ToRGB888, 0},
        {0x050006, _MdConvertReverse565, 0}, {0x060001, _MdConvertRGB565ToRGB888, 1},
    };
    for (const Row& row : rows) {
        MdConverter* r = nullptr;
        ASSERT_EQ(MdInitConvert(row.key, &r), MOK) << std::hex << row.key;
        EXPECT_EQ(r->fnConvertLine, row.fn) << std::hex << row.key;
        EXPECT_EQ(r->bSwapRB, row.swap) << std::hex << row.key;
        MdUninitConvert(r);
    }
    EXPECT_EQ(selectablePairs().size(), 111u);
    MdConverter* r = reinterpret_cast<MdConverter*>(1);
    EXPECT_EQ(MdInitConvert(0x0F0001, &r), MERR_UNSUPPORTED);
    EXPECT_EQ(r, nullptr);
    // Masked twins: 111 pairs minus the 30 without one.
    int twins = 0;
    for (auto [s, d] : selectablePairs()) {
        MdInitConvert((uint64_t(s) << 16) | d, &r);
        twins += MdSetFillMode(r, 1) == MOK;
        MdUninitConvert(r);
    }
    EXPECT_EQ(twins, 111 - 30);
    MdInitConvert(0x050001, &r);
    EXPECT_EQ(MdSetFillMode(r, 1), MERR_UNSUPPORTED);
    EXPECT_EQ(r->fnConvertLine, _MdConvertRGB565ToRGB888);
    EXPECT_EQ(MdSetFillMode(r, 2), MERR_INVALID_PARAM);
    MdUninitConvert(r);
    MdInitConvert(0x190005, &r);
    EXPECT_EQ(MdSetFillMode(r, 1), MOK);
    EXPECT_EQ(r->fnConvertLine, _MdConvertIndex8ToRGB565WithMask);
    MdUninitConvert(r);
}

TEST(Converters, DocumentedExactValues) {
    MdConverter rec{};
    auto one = [&](MdLineConverter fn, Bytes src, int outBytes) {
        Bytes out(size_t(outBytes), 0xEE);
        fn(src.data(), out.data(), 1, &rec);
        return out;
    };
    // Grey levels of fewer than 8 bits are widened by repeating their bits: the top level is
    // white, level 1 of 16 is 0x11.
    EXPECT_EQ(one(_MdConvertGray4ToRGB565, {0xF0}, 2), (Bytes{0xFF, 0xFF}));
    EXPECT_EQ(one(_MdConvertGray4ToRGBA8888, {0xF0}, 4), (Bytes{0xFF, 0xFF, 0xFF, 0xFF}));
    EXPECT_EQ(one(_MdConvertGray4ToRGBA8888, {0x10}, 4), (Bytes{0x11, 0x11, 0x11, 0xFF}));
    EXPECT_EQ(one(_MdConvertGray2ToRGB888, {0xC0}, 3), (Bytes{0xFF, 0xFF, 0xFF}));
    EXPECT_EQ(one(_MdConvertGray1ToRGB888, {0x80}, 3), (Bytes{0xFF, 0xFF, 0xFF}));
    EXPECT_EQ(one(_MdConvertRGB565ToRGB888, {0xFF, 0xFF}, 3), (Bytes{0xF8, 0xFC, 0xF8}));
    EXPECT_EQ(one(_MdConvertB4G4R4ToRGB888, {0xFF, 0x0F}, 3), (Bytes{0xF0, 0xF0, 0xF0}));
    EXPECT_EQ(one(_MdConvertB5G5R5ToRGB565, {0xFF, 0xFF}, 2), (Bytes{0xDF, 0xFF}));
    EXPECT_EQ(one(_MdConvertReverse565, {0x00, 0xF8}, 2), (Bytes{0x1F, 0x00}));
    EXPECT_EQ(one(_MdConvertB5G6R5ToGRAY8, {0x00, 0xF8}, 1), (Bytes{73}));
    EXPECT_EQ(one(_MdConvertB5G6R5ToGRAY8, {0xE0, 0x07}, 1), (Bytes{147}));
    EXPECT_EQ(one(_MdConvertR5G6B5ToGRAY8, {0x1F, 0x00}, 1), (Bytes{73}));
    EXPECT_EQ(one(_MdConvertR8G8B8ToGRAY8, {0, 255, 0}, 1), (Bytes{149}));
    EXPECT_EQ(one(_MdConvertR8G8B8ToGRAY8, {255, 255, 255}, 1), (Bytes{255}));
    rec.bTransColor = 1;
    rec.byTransColor = 0;
    EXPECT_EQ(one(_MdConvertB8G8R8A8ToRGB888, {0, 0, 0, 128}, 3), (Bytes{127, 127, 127}));
    rec.byTransColor = 255;
    EXPECT_EQ(one(_MdConvertB8G8R8A8ToRGB888, {0, 0, 0, 128}, 3), (Bytes{127, 127, 127}));
    EXPECT_EQ(one(_MdConvertB8G8R8A8ToRGB888, {0, 0, 0, 0}, 3), (Bytes{255, 255, 255}));
    EXPECT_EQ(one(_MdConvertB8G8R8A8ToRGB888, {0, 0, 0, 255}, 3), (Bytes{0, 0, 0}));

    // The alpha rule.
    MdConverter a{};
    a.bAlpha = 1, a.lAlpha = 0, a.bTransColor = 1;
    EXPECT_EQ(_MdGetAlphaValue(&a, 0x30), 0xCF);
    a.bTransColor = 0;
    EXPECT_EQ(_MdGetAlphaValue(&a, 0x30), 0);
    a.lAlpha = 128;
    EXPECT_EQ(_MdGetAlphaValue(&a, 0x30), 255);
    a.bTransColor = 1;
    EXPECT_EQ(_MdGetAlphaValue(&a, 0x30), 0x30);

    // Width 0 writes nothing; a null record is accepted by the 24-to-565 member.
    Bytes out(4, 0xAB);
    _MdConvertIndex4ToRGB888(out.data(), out.data(), 0, &rec);
    EXPECT_EQ(out, Bytes(4, 0xAB));
    uint8_t px[3] = {255, 255, 255};
    _MdConvertRGB888ToRGB565(px, out.data(), 1, nullptr);
    EXPECT_EQ(out[0], 0xFF);
    EXPECT_EQ(MdConvertRGB(px, out.data(), 0x0F, 0x01, 1), MERR_UNSUPPORTED);
    EXPECT_EQ(MdConvertRGB(px, out.data(), 0x01, 0x02, 1), MOK);
}

TEST(Converters, PaletteRules) {
    MdConverter* r = nullptr;
    ASSERT_EQ(MdInitConvert(0x190024, &r), MOK);
    Bytes pal(1024);
    for (int i = 0; i < 256; ++i) pal[4 * i] = uint8_t(i), pal[4 * i + 1] = 1, pal[4 * i + 2] = 2, pal[4 * i + 3] = 9;
    // GIF, transparency not supported, no background: the transparent entry turns opaque white.
    MdSetbTransColorGif(r, 1);
    MdSetdwTransColorGif(r, 5);
    ASSERT_EQ(MdSetPallette(r, pal.data(), nullptr), MOK);
    EXPECT_EQ(Bytes(r->pSrcPalette + 20, r->pSrcPalette + 24), Bytes(4, 255));
    EXPECT_EQ(r->pSrcPalette[7], 255);
    // With support: alpha 0; with a background: its colour and byTransColor.
    MdSetbSupportTransparency(r, 1);
    MdSetPallette(r, pal.data(), nullptr);
    EXPECT_EQ(r->pSrcPalette[23], 0);
    EXPECT_EQ(r->pSrcPalette[20], 5);
    MdSetBackGroundColor(r, 0x00332211);
    MdSetTransColor(r, 0x77);
    MdSetPallette(r, pal.data(), nullptr);
    EXPECT_EQ(Bytes(r->pSrcPalette + 20, r->pSrcPalette + 24), (Bytes{0x11, 0x22, 0x33, 0x77}));
    MdUninitConvert(r);

    // PNG without transparency support: over white by the entry's alpha.
    ASSERT_EQ(MdInitConvert(0x190001, &r), MOK);
    MdSetbTransColorPng(r, 1);
    pal[0] = pal[1] = pal[2] = 0, pal[3] = 128;
    MdSetPallette(r, pal.data(), nullptr);
    EXPECT_EQ(Bytes(r->pSrcPalette, r->pSrcPalette + 3), (Bytes{127, 127, 127}));
    MdUninitConvert(r);

    // A palette given to a 16-bit source is ignored.
    ASSERT_EQ(MdInitConvert(0x1E0001, &r), MOK);
    EXPECT_EQ(MdSetPallette(r, pal.data(), pal.data()), MOK);
    MByte *sp, *dp;
    EXPECT_EQ(MdGetPalette(r, &sp, &dp), MOK);
    EXPECT_EQ(sp, nullptr);
    EXPECT_EQ(MdGetPalette(r, nullptr, &dp), MERR_INVALID_PARAM);
    MdUninitConvert(r);
}

TEST(Converters, IcoAlphaFromTheMask) {
    for (unsigned src : {0x01u, 0x02u, 0x16u, 0x17u, 0x18u, 0x19u}) {
        for (unsigned dst : {0x24u, 0x25u}) {
            MdConverter* r = nullptr;
            ASSERT_EQ(MdInitConvert((uint64_t(src) << 16) | dst, &r), MOK);
            MdSetbICOTransColor(r, 1);
            ASSERT_NE(r->fnConvertLineICO, nullptr);
            Bytes pal(1024);
            for (size_t i = 0; i < pal.size(); ++i) pal[i] = uint8_t(i * 13);
            for (int i = 0; i < 256; ++i) pal[size_t(4 * i + 3)] = 0;  // palette alpha is not read
            MdSetPallette(r, pal.data(), nullptr);
            Bytes line(64, 0x5A), mask = {0x80, 0x40}, out(40, 0);
            MdConvertLine_ICO(line.data(), mask.data(), out.data(), 10, r, 0);
            for (int x = 0; x < 10; ++x) EXPECT_EQ(out[size_t(4 * x + 3)], (x == 0 || x == 9) ? 0 : 255) << x;
            MdUninitConvert(r);
        }
    }
}

}  // namespace
