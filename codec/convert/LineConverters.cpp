// The line converters. Each named member is an instance of a few templates: palette sources,
// grey sources, 16-, 24- and 32-bit sources, each with a plain and a masked ("draw over")
// variant. Channel arithmetic of 16-bit words truncates; grey levels of 1, 2 and 4 bits are
// widened by repeating their bits, so that the top level is white.
#include <cstring>

#include "MMemory.h"
#include "MdConverter.h"

namespace {

enum Dst { k565, k888, kRGBA, kARGB, kGrey };

inline unsigned packed(const uint8_t* src, int64_t x, int bits) {
    switch (bits) {
        case 1: return (src[x >> 3] >> (7 - (x & 7))) & 1;
        case 2: return (src[x >> 2] >> (6 - 2 * (x & 3))) & 3;
        case 4: return (src[x >> 1] >> ((x & 1) ? 0 : 4)) & 15;
        default: return src[x];
    }
}

inline uint16_t word565(unsigned X, unsigned G, unsigned Y) {
    return uint16_t(((X & 0xF8) << 8) | ((G & 0xFC) << 3) | (Y >> 3));
}

inline void put565(uint8_t* d, uint16_t w) {
    d[0] = uint8_t(w);
    d[1] = uint8_t(w >> 8);
}

constexpr int bytesOf(Dst d) { return d == k565 ? 2 : d == k888 ? 3 : d == kGrey ? 1 : 4; }

// Writes three colour bytes in output order (first, green, third) to any colour destination.
// The alpha byte is the caller's business.
inline void putColour(Dst d, uint8_t* p, unsigned c0, unsigned c1, unsigned c2) {
    switch (d) {
        case k565: put565(p, word565(c0, c1, c2)); break;
        case k888:
        case kRGBA: p[0] = uint8_t(c0), p[1] = uint8_t(c1), p[2] = uint8_t(c2); break;
        case kARGB: p[1] = uint8_t(c0), p[2] = uint8_t(c1), p[3] = uint8_t(c2); break;
        case kGrey: break;
    }
}

inline void putAlpha(Dst d, uint8_t* p, unsigned a) {
    if (d == kRGBA) p[3] = uint8_t(a);
    else if (d == kARGB) p[0] = uint8_t(a);
}

const uint8_t kDefault1[8] = {0, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0xFF};
const uint8_t kDefault2[16] = {0, 0, 0, 0, 0x40, 0x40, 0x40, 0x40, 0x80, 0x80, 0x80, 0x80, 0xC0, 0xC0, 0xC0, 0xC0};
const uint8_t kNoPalette[1024] = {};  // 4- and 8-bit sources need a palette; never read through null

// Palette sources. Unswapped members put p2 first; `Reversed` marks the 8-bit RGBA and ARGB
// members, whose sense of bSwapRB is the other way round.
template <int Bits, Dst D, bool Masked, bool Reversed = false>
MInt64 fromPalette(const MByte* src, MByte* dst, MInt64 w, const MdConverter* rec) {
    const uint8_t* pal = rec->pSrcPalette;
    if (!pal) pal = Bits == 1 ? kDefault1 : Bits == 2 ? kDefault2 : kNoPalette;
    const bool swap = (rec->bSwapRB != 0) != Reversed;
    for (int64_t x = 0; x < w; ++x) {
        const unsigned v = packed(src, x, Bits);
        uint8_t* p = dst + x * bytesOf(D);
        if (Masked && v == 0) continue;
        const uint8_t* e = pal + 4 * v;
        if (D == kGrey) {
            *p = uint8_t((76 * e[2] + 150 * e[1] + 29 * e[0]) / 255);
            continue;
        }
        if (swap) putColour(D, p, e[0], e[1], e[2]);
        else putColour(D, p, e[2], e[1], e[0]);
        if (D == kRGBA || D == kARGB) {
            if (!Masked) putAlpha(D, p, _MdGetAlphaValue(rec, e[3]));
            else if (rec->bTransColor) putAlpha(D, p, e[3]);
            else if (Bits == 1) putAlpha(D, p, 255);
        }
    }
    return w;
}

// Grey sources of 1, 2, 4, 8 bits and the 16-bit grey-plus-second-byte layout. A level v of n bits
// becomes v * 255 / (2^n - 1), which is the bit pattern repeated (4 bits: v * 0x11).
template <int Bits, Dst D, bool Masked>
MInt64 fromGrey(const MByte* src, MByte* dst, MInt64 w, const MdConverter* rec) {
    const bool trans = rec && rec->bTransColor;
    for (int64_t x = 0; x < w; ++x) {
        unsigned raw = Bits == 16 ? src[2 * x] : packed(src, x, Bits);
        unsigned g = Bits == 1 ? (raw ? 255 : 0) : Bits == 2 ? raw * 0x55 : Bits == 4 ? raw * 17 : raw;
        uint8_t* p = dst + x * bytesOf(D);
        if (Masked && raw == 0) {
            if (Bits == 16 && D == kRGBA && trans && src[2 * x + 1] != 0) p[3] = src[2 * x + 1];
            continue;
        }
        putColour(D, p, g, g, g);
        if (D == kRGBA) {
            if (Bits == 16) {
                if (trans) p[3] = src[2 * x + 1];
                else if (!Masked) p[3] = 255;
            } else if (!Masked || Bits == 1) {
                p[3] = 255;
            }
        }
    }
    return w;
}

// 16-bit words: fields top (T), green (G) and low (L), widened by shifting.
enum Word { k565w, k555w, k444w };
inline void widen(Word k, unsigned w, unsigned& T, unsigned& G, unsigned& L) {
    if (k == k565w) {
        T = (w >> 8) & 0xF8;
        G = ((w >> 3) & 0xFC);
        L = (w << 3) & 0xF8;
    } else if (k == k555w) {
        T = (w & 0x7C00) >> 7;
        G = (w & 0x3E0) >> 2;
        L = (w << 3) & 0xF8;
    } else {
        T = (w & 0xF00) >> 4;
        G = w & 0xF0;
        L = (w << 4) & 0xF0;
    }
}

template <Word K>
MInt64 wordTo888(const MByte* src, MByte* dst, MInt64 w, const MdConverter* rec) {
    const bool swap = rec && rec->bSwapRB;
    for (int64_t x = 0; x < w; ++x) {
        unsigned T, G, L;
        widen(K, unsigned(src[2 * x] | (src[2 * x + 1] << 8)), T, G, L);
        uint8_t* p = dst + 3 * x;
        if (swap) putColour(k888, p, L, G, T);
        else putColour(k888, p, T, G, L);
    }
    return w;
}

// 24-bit sources.
enum Out24 { k24to565, k24toRGBA, k24toARGB, k24reverse };
template <Out24 O, bool Masked>
MInt64 from24(const MByte* src, MByte* dst, MInt64 w, const MdConverter* rec) {
    const bool swap = O != k24reverse && rec && rec->bSwapRB;
    constexpr int ob = O == k24to565 ? 2 : O == k24reverse ? 3 : 4;
    for (int64_t x = 0; x < w; ++x) {
        const uint8_t* s = src + 3 * x;
        uint8_t* p = dst + ob * x;
        if (Masked && s[0] == 0 && s[1] == 0 && s[2] == 0) continue;
        unsigned a = s[0], b = s[1], c = s[2];
        if (swap || O == k24reverse) a = s[2], c = s[0];
        switch (O) {
            case k24to565: putColour(k565, p, a, b, c); break;
            case k24reverse: putColour(k888, p, a, b, c); break;
            case k24toRGBA: putColour(kRGBA, p, a, b, c), p[3] = 255; break;
            case k24toARGB: putColour(kARGB, p, a, b, c), p[0] = 255; break;
        }
    }
    return w;
}

// Reduces colour byte c by alpha byte a over white; byTransColor 255 means a is an opacity.
inline unsigned composite(unsigned c, unsigned a, const MdConverter* rec) {
    if (rec->byTransColor != 255) {
        if (a == 0) return c;
        if (a == 255) return 255;
        return (c + (((255 - c) * a) >> 8)) & 0xFF;
    }
    if (a == 255) return c;
    if (a == 0) return 255;
    return unsigned(((int32_t(c) - 255) * int32_t(a)) >> 8) - 1 & 0xFF;
}

// 32-bit sources with alpha, reduced to 565 or 888. AlphaFirst: colour s1..s3, alpha s0.
template <bool AlphaFirst, Dst D, bool AlwaysComposite, bool Masked>
MInt64 from32(const MByte* src, MByte* dst, MInt64 w, const MdConverter* rec) {
    const bool comp = AlwaysComposite || rec->bTransColor;
    const bool keyOn = Masked && (AlwaysComposite || rec->bTransColor);
    const bool swap = rec->bSwapRB != 0;
    for (int64_t x = 0; x < w; ++x) {
        const uint8_t* s = src + 4 * x;
        uint8_t* p = dst + bytesOf(D) * x;
        if (keyOn && s[0] == 0 && s[1] == 0 && s[2] == 0) continue;
        unsigned c0 = AlphaFirst ? s[1] : s[0], c1 = AlphaFirst ? s[2] : s[1], c2 = AlphaFirst ? s[3] : s[2];
        unsigned a = AlphaFirst ? s[0] : s[3];
        if (comp) c0 = composite(c0, a, rec), c1 = composite(c1, a, rec), c2 = composite(c2, a, rec);
        if (swap) putColour(D, p, c2, c1, c0);
        else putColour(D, p, c0, c1, c2);
    }
    return w;
}

// Byte reorderings of 32-bit pixels: `Rotate` reverses all four bytes, else bytes 0 and 2 swap.
template <bool Reverse4, bool Masked>
MInt64 reorder32(const MByte* src, MByte* dst, MInt64 w, const MdConverter*) {
    for (int64_t x = 0; x < w; ++x) {
        const uint8_t* s = src + 4 * x;
        uint8_t* p = dst + 4 * x;
        if (Masked && s[0] == 0 && s[1] == 0 && s[2] == 0) continue;
        uint8_t o[4] = {s[2], s[1], s[0], s[3]};
        if (Reverse4) o[0] = s[3], o[1] = s[2], o[2] = s[1], o[3] = s[0];
        std::memcpy(p, o, 4);
    }
    return w;
}

template <int Bits, bool Reversed>
MInt64 icoFromPalette(const MByte* src, const MByte* mask, MByte* dst, MInt64 w, const MdConverter* rec) {
    const uint8_t* pal = rec->pSrcPalette;
    if (!pal) pal = Bits == 1 ? kDefault1 : Bits == 2 ? kDefault2 : kNoPalette;
    const bool swap = (rec->bSwapRB != 0) != Reversed;
    for (int64_t x = 0; x < w; ++x) {
        const uint8_t* e = pal + 4 * packed(src, x, Bits);
        uint8_t* p = dst + 4 * x;
        if (swap) putColour(kRGBA, p, e[0], e[1], e[2]);
        else putColour(kRGBA, p, e[2], e[1], e[0]);
        p[3] = ((mask[x >> 3] >> (7 - (x & 7))) & 1) ? 0 : 255;
    }
    return w;
}

}  // namespace

extern "C" {

MByte _MdGetAlphaValue(const MdConverter* rec, MByte a) {
    if (rec->bAlpha && rec->lAlpha == 0) return rec->bTransColor ? MByte(255 - a) : 0;
    return rec->bTransColor ? a : 255;
}

#define MD_DEFINE(name, ...) \
    MInt64 name(const MByte* s, MByte* d, MInt64 w, const MdConverter* r) { return __VA_ARGS__(s, d, w < 0 ? 0 : w, r); }

MD_DEFINE(_MdConvertIndex1ToRGB565, fromPalette<1, k565, false>)
MD_DEFINE(_MdConvertIndex1ToRGB888, fromPalette<1, k888, false>)
MD_DEFINE(_MdConvertIndex1ToRGBA8888, fromPalette<1, kRGBA, false>)
MD_DEFINE(_MdConvertIndex2ToRGB565, fromPalette<2, k565, false>)
MD_DEFINE(_MdConvertIndex2ToRGB888, fromPalette<2, k888, false>)
MD_DEFINE(_MdConvertIndex2ToRGBA8888, fromPalette<2, kRGBA, false>)
MD_DEFINE(_MdConvertIndex4ToRGB565, fromPalette<4, k565, false>)
MD_DEFINE(_MdConvertIndex4ToRGB888, fromPalette<4, k888, false>)
MD_DEFINE(_MdConvertIndex4ToRGBA8888, fromPalette<4, kRGBA, false>)
MD_DEFINE(_MdConvertIndex8ToRGB565, fromPalette<8, k565, false>)
MD_DEFINE(_MdConvertIndex8ToRGB888, fromPalette<8, k888, false>)
MD_DEFINE(_MdConvertIndex8ToARGB8888, fromPalette<8, kARGB, false, true>)
MD_DEFINE(_MdConvertIndex8ToRGBA8888, fromPalette<8, kRGBA, false, true>)
MD_DEFINE(_MdConvertIndex8ToGRAY8, fromPalette<8, kGrey, false>)
MD_DEFINE(_MdConverINDEX4ToGREY, fromPalette<4, kGrey, false>)
MD_DEFINE(_MdConvertGray1ToRGB565, fromGrey<1, k565, false>)
MD_DEFINE(_MdConvertGray1ToRGB888, fromGrey<1, k888, false>)
MD_DEFINE(_MdConvertGray1ToRGBA8888, fromGrey<1, kRGBA, false>)
MD_DEFINE(_MdConvertGray2ToRGB565, fromGrey<2, k565, false>)
MD_DEFINE(_MdConvertGray2ToRGB888, fromGrey<2, k888, false>)
MD_DEFINE(_MdConvertGray2ToRGBA8888, fromGrey<2, kRGBA, false>)
MD_DEFINE(_MdConvertGray4ToRGB565, fromGrey<4, k565, false>)
MD_DEFINE(_MdConvertGray4ToRGB888, fromGrey<4, k888, false>)
MD_DEFINE(_MdConvertGray4ToRGBA8888, fromGrey<4, kRGBA, false>)
MD_DEFINE(_MdConvertGray8ToRGB565, fromGrey<8, k565, false>)
MD_DEFINE(_MdConvertGray8ToRGB888, fromGrey<8, k888, false>)
MD_DEFINE(_MdConvertGray8ToRGBA8888, fromGrey<8, kRGBA, false>)
MD_DEFINE(_MdConvertGray16ToRGB565, fromGrey<16, k565, false>)
MD_DEFINE(_MdConvertGray16ToRGB888, fromGrey<16, k888, false>)
MD_DEFINE(_MdConvertGray16ToRGBA8888, fromGrey<16, kRGBA, false>)

MInt64 _MdConvertGRAY8ToGRAY8(const MByte* s, MByte* d, MInt64 w, const MdConverter*) {
    if (w > 0) MMemCpy(d, s, size_t(w));
    return w;
}

MInt64 _MdConvertB5G5R5ToRGB565(const MByte* s, MByte* d, MInt64 w, const MdConverter* r) {
    const bool swap = r->bSwapRB != 0;
    for (int64_t x = 0; x < w; ++x) {
        unsigned v = s[2 * x] | (s[2 * x + 1] << 8);
        unsigned T = (v >> 10) & 31, G = (v >> 5) & 31, L = v & 31;
        put565(d + 2 * x, uint16_t(swap ? (L << 11) | (G << 6) | T : (T << 11) | (G << 6) | L));
    }
    return w < 0 ? 0 : w;
}

MInt64 _MdConvertB4G4R4ToRGB565(const MByte* s, MByte* d, MInt64 w, const MdConverter* r) {
    const bool swap = r->bSwapRB != 0;
    for (int64_t x = 0; x < w; ++x) {
        unsigned v = s[2 * x] | (s[2 * x + 1] << 8);
        unsigned T = (v >> 8) & 15, G = (v >> 4) & 15, L = v & 15;
        put565(d + 2 * x, uint16_t(swap ? (L << 12) | (G << 7) | (T << 1) : (T << 12) | (G << 7) | (L << 1)));
    }
    return w < 0 ? 0 : w;
}

MInt64 _MdConvertReverse565(const MByte* s, MByte* d, MInt64 w, const MdConverter*) {
    for (int64_t x = 0; x < w; ++x) {
        unsigned v = s[2 * x] | (s[2 * x + 1] << 8);
        put565(d + 2 * x, uint16_t((v >> 11) | (v & 0x7E0) | ((v << 11) & 0xFFFF)));
    }
    return w < 0 ? 0 : w;
}

MD_DEFINE(_MdConvertRGB565ToRGB888, wordTo888<k565w>)
MD_DEFINE(_MdConvertB5G5R5ToRGB888, wordTo888<k555w>)
MD_DEFINE(_MdConvertB4G4R4ToRGB888, wordTo888<k444w>)

MInt64 _MdConvertB5G6R5ToGRAY8(const MByte* s, MByte* d, MInt64 w, const MdConverter*) {
    for (int64_t x = 0; x < w; ++x) {
        unsigned T, G, L;
        widen(k565w, unsigned(s[2 * x] | (s[2 * x + 1] << 8)), T, G, L);
        d[x] = uint8_t((76 * T + 150 * G + 30 * L) >> 8);
    }
    return w < 0 ? 0 : w;
}

MInt64 _MdConvertR5G6B5ToGRAY8(const MByte* s, MByte* d, MInt64 w, const MdConverter*) {
    for (int64_t x = 0; x < w; ++x) {
        unsigned T, G, L;
        widen(k565w, unsigned(s[2 * x] | (s[2 * x + 1] << 8)), T, G, L);
        d[x] = uint8_t((76 * L + 150 * G + 30 * T) >> 8);
    }
    return w < 0 ? 0 : w;
}

MD_DEFINE(_MdConvertRGB888ToRGB565, from24<k24to565, false>)
MD_DEFINE(_MdConvertRGB888ToR8G8B8A8, from24<k24toRGBA, false>)
MD_DEFINE(_MdConvertRGB888ToA8B8G8R8, from24<k24toARGB, false>)
MD_DEFINE(_MdConvertReverse888, from24<k24reverse, false>)

MInt64 _MdConvertB8G8R8ToGRAY8(const MByte* s, MByte* d, MInt64 w, const MdConverter*) {
    for (int64_t x = 0; x < w; ++x) d[x] = uint8_t((76 * s[3 * x + 2] + 150 * s[3 * x + 1] + 30 * s[3 * x]) >> 8);
    return w < 0 ? 0 : w;
}

MInt64 _MdConvertR8G8B8ToGRAY8(const MByte* s, MByte* d, MInt64 w, const MdConverter*) {
    for (int64_t x = 0; x < w; ++x) d[x] = uint8_t((76 * s[3 * x] + 150 * s[3 * x + 1] + 30 * s[3 * x + 2]) >> 8);
    return w < 0 ? 0 : w;
}

MInt64 _MdConverR8G8B8ToGREY(const MByte* s, MByte* d, MInt64 w, const MdConverter* r) {
    return _MdConvertR8G8B8ToGRAY8(s, d, w, r);
}

MD_DEFINE(_MdConvertR8G8B8A8ToB8G8R8A8, reorder32<false, false>)
MD_DEFINE(_MdConvertA8R8G8B8ToB8G8R8A8, reorder32<true, false>)
MD_DEFINE(_MdConvertB8G8R8A8ToRGB565, from32<false, k565, false, false>)
MD_DEFINE(_MdConvertR8G8B8A8ToRGB565, from32<false, k565, false, false>)
MD_DEFINE(_MdConvertA8B8G8R8ToRGB565, from32<true, k565, true, false>)
MD_DEFINE(_MdConvertB8G8R8A8ToRGB888, from32<false, k888, false, false>)
MD_DEFINE(_MdConvertA8B8G8R8ToRGB888, from32<true, k888, false, false>)

// Masked twins.
MD_DEFINE(_MdConvertGray1ToRGB565WithMask, fromGrey<1, k565, true>)
MD_DEFINE(_MdConvertGray2ToRGB565WithMask, fromGrey<2, k565, true>)
MD_DEFINE(_MdConvertGray4ToRGB565WithMask, fromGrey<4, k565, true>)
MD_DEFINE(_MdConvertGray8ToRGB565WithMask, fromGrey<8, k565, true>)
MD_DEFINE(_MdConvertGray16ToRGB565WithMask, fromGrey<16, k565, true>)
MD_DEFINE(_MdConvertGray1ToRGB888WithMask, fromGrey<1, k888, true>)
MD_DEFINE(_MdConvertGray1ToRGBA8888WithMask, fromGrey<1, kRGBA, true>)
MD_DEFINE(_MdConvertGray2ToRGB888WithMask, fromGrey<2, k888, true>)
MD_DEFINE(_MdConvertGray2ToRGBA8888WithMask, fromGrey<2, kRGBA, true>)
MD_DEFINE(_MdConvertGray4ToRGB888WithMask, fromGrey<4, k888, true>)
MD_DEFINE(_MdConvertGray4ToRGBA8888WithMask, fromGrey<4, kRGBA, true>)
MD_DEFINE(_MdConvertGray8ToRGB888WithMask, fromGrey<8, k888, true>)
MD_DEFINE(_MdConvertGray8ToRGBA8888WithMask, fromGrey<8, kRGBA, true>)
MD_DEFINE(_MdConvertGray16ToRGB888WithMask, fromGrey<16, k888, true>)
MD_DEFINE(_MdConvertGray16ToRGBA8888WithMask, fromGrey<16, kRGBA, true>)
MD_DEFINE(_MdConvertIndex1ToRGB565WithMask, fromPalette<1, k565, true>)
MD_DEFINE(_MdConvertIndex2ToRGB565WithMask, fromPalette<2, k565, true>)
MD_DEFINE(_MdConvertIndex4ToRGB565WithMask, fromPalette<4, k565, true>)
MD_DEFINE(_MdConvertIndex8ToRGB565WithMask, fromPalette<8, k565, true>)
MD_DEFINE(_MdConvertIndex1ToRGB888WithMask, fromPalette<1, k888, true>)
MD_DEFINE(_MdConvertIndex1ToRGBA8888WithMask, fromPalette<1, kRGBA, true>)
MD_DEFINE(_MdConvertIndex2ToRGB888WithMask, fromPalette<2, k888, true>)
MD_DEFINE(_MdConvertIndex2ToRGBA8888WithMask, fromPalette<2, kRGBA, true>)
MD_DEFINE(_MdConvertIndex4ToRGB888WithMask, fromPalette<4, k888, true>)
MD_DEFINE(_MdConvertIndex4ToRGBA8888WithMask, fromPalette<4, kRGBA, true>)
MD_DEFINE(_MdConvertIndex8ToRGB888WithMask, fromPalette<8, k888, true>)
MD_DEFINE(_MdConvertIndex8ToARGB8888WithMask, fromPalette<8, kARGB, true, true>)
MD_DEFINE(_MdConvertIndex8ToRGBA8888WithMask, fromPalette<8, kRGBA, true, true>)
MD_DEFINE(_MdConvertRGB888ToRGB565WithMask, from24<k24to565, true>)
MD_DEFINE(_MdConvertA8B8G8R8ToRGB565WithMask, from32<true, k565, true, true>)
MD_DEFINE(_MdConvertB8G8R8A8ToRGB565WithMask, from32<false, k565, false, true>)
MD_DEFINE(_MdConvertR8G8B8A8ToRGB565WithMask, from32<false, k565, false, true>)
MD_DEFINE(_MdConvertA8B8G8R8ToRGB888WithMask, from32<true, k888, true, true>)
MD_DEFINE(_MdConvertB8G8R8A8ToRGB888WithMask, from32<false, k888, false, true>)
MD_DEFINE(_MdConvertRGB888ToR8G8B8A8WithMask, from24<k24toRGBA, true>)
MD_DEFINE(_MdConvertRGB888ToA8B8G8R8WithMask, from24<k24toARGB, true>)
MD_DEFINE(_MdConvertReverse888WithMask, from24<k24reverse, true>)
MD_DEFINE(_MdConvertA8R8G8B8ToB8G8R8A8WithMask, reorder32<true, true>)
MD_DEFINE(_MdConvertR8G8B8A8ToB8G8R8A8WithMask, reorder32<false, true>)

#define MD_DEFINE_ICO(name, ...)                                                                   \
    MInt64 name(const MByte* s, const MByte* m, MByte* d, MInt64 w, const MdConverter* r) {      \
        return __VA_ARGS__(s, m, d, w < 0 ? 0 : w, r);                                            \
    }
MD_DEFINE_ICO(_MdConvertIndex1ToRGBA8888_ICO, icoFromPalette<1, false>)
MD_DEFINE_ICO(_MdConvertIndex2ToRGBA8888_ICO, icoFromPalette<2, false>)
MD_DEFINE_ICO(_MdConvertIndex4ToRGBA8888_ICO, icoFromPalette<4, false>)
MD_DEFINE_ICO(_MdConvertIndex8ToRGBA8888_ICO, icoFromPalette<8, true>)

MInt64 _MdConvertRGB888ToR8G8B8A8_ICO(const MByte* s, const MByte* m, MByte* d, MInt64 w, const MdConverter* r) {
    const bool swap = r->bSwapRB != 0;
    for (int64_t x = 0; x < w; ++x) {
        const uint8_t* p = s + 3 * x;
        uint8_t* o = d + 4 * x;
        if (swap) o[0] = p[2], o[1] = p[1], o[2] = p[0];
        else o[0] = p[0], o[1] = p[1], o[2] = p[2];
        o[3] = ((m[x >> 3] >> (7 - (x & 7))) & 1) ? 0 : 255;
    }
    return w < 0 ? 0 : w;
}

}  // extern "C"
