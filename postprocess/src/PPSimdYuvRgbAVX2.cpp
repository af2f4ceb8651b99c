// The AVX2 level of the vector YUV to RGB rows: eight 32-bit sums per instruction.
#include "PPSimdYuvRgb.h"

#include "PPCpu.h"

#include <algorithm>
#include <cstring>

#if KPV_HAVE_X86_SIMD
#include <immintrin.h>

#pragma clang attribute push(__attribute__((target("avx2"))), apply_to = function)

namespace {

struct Coefs {
    __m256i gy, rCr, gCb, gCr, bCb, kr, kg, kb;
    explicit Coefs(const PPYuvLinear& k)
        : gy(_mm256_set1_epi32(k.gy)), rCr(_mm256_set1_epi32(k.rCr)), gCb(_mm256_set1_epi32(k.gCb)),
          gCr(_mm256_set1_epi32(k.gCr)), bCb(_mm256_set1_epi32(k.bCb)), kr(_mm256_set1_epi32(k.kr)),
          kg(_mm256_set1_epi32(k.kg)), kb(_mm256_set1_epi32(k.kb))
    {
    }
};

// Sixteen 32-bit sums (pixels 0-7 in a, 8-15 in b) shifted, saturated and narrowed to bytes.
inline __m128i narrow(__m256i a, __m256i b)
{
    const __m256i words = _mm256_permute4x64_epi64(
        _mm256_packs_epi32(_mm256_srai_epi32(a, 16), _mm256_srai_epi32(b, 16)), _MM_SHUFFLE(3, 1, 2, 0));
    return _mm_packus_epi16(_mm256_castsi256_si128(words), _mm256_extracti128_si256(words, 1));
}

inline void terms(const Coefs& k, __m256i u, __m256i v, __m256i& r, __m256i& g, __m256i& b)
{
    r = _mm256_add_epi32(_mm256_mullo_epi32(v, k.rCr), k.kr);
    g = _mm256_add_epi32(_mm256_add_epi32(_mm256_mullo_epi32(u, k.gCb), _mm256_mullo_epi32(v, k.gCr)), k.kg);
    b = _mm256_add_epi32(_mm256_mullo_epi32(u, k.bCb), k.kb);
}

void compute(const Coefs& k, __m128i luma, __m128i cb, __m128i cr, bool half, __m128i& r, __m128i& g, __m128i& b)
{
    const __m256i y0 = _mm256_mullo_epi32(_mm256_cvtepu8_epi32(luma), k.gy);
    const __m256i y1 = _mm256_mullo_epi32(_mm256_cvtepu8_epi32(_mm_srli_si128(luma, 8)), k.gy);
    __m256i r0, g0, b0, r1, g1, b1;
    if (half) {
        __m256i rs, gs, bs;
        terms(k, _mm256_cvtepu8_epi32(cb), _mm256_cvtepu8_epi32(cr), rs, gs, bs);
        // Each sample serves two pixels.
        const __m256i first = _mm256_setr_epi32(0, 0, 1, 1, 2, 2, 3, 3), second = _mm256_setr_epi32(4, 4, 5, 5, 6, 6, 7, 7);
        r0 = _mm256_permutevar8x32_epi32(rs, first), r1 = _mm256_permutevar8x32_epi32(rs, second);
        g0 = _mm256_permutevar8x32_epi32(gs, first), g1 = _mm256_permutevar8x32_epi32(gs, second);
        b0 = _mm256_permutevar8x32_epi32(bs, first), b1 = _mm256_permutevar8x32_epi32(bs, second);
    } else {
        terms(k, _mm256_cvtepu8_epi32(cb), _mm256_cvtepu8_epi32(cr), r0, g0, b0);
        terms(k, _mm256_cvtepu8_epi32(_mm_srli_si128(cb, 8)), _mm256_cvtepu8_epi32(_mm_srli_si128(cr, 8)), r1, g1, b1);
    }
    r = narrow(_mm256_add_epi32(y0, r0), _mm256_add_epi32(y1, r1));
    g = narrow(_mm256_add_epi32(y0, g0), _mm256_add_epi32(y1, g1));
    b = narrow(_mm256_add_epi32(y0, b0), _mm256_add_epi32(y1, b1));
}

// Thirty-two pixels work as four groups of eight 32-bit sums, each lane holding four: even0 the
// even pixels 0-6 and 16-22, odd0 the odd pixels 1-7 and 17-23, even1 and odd1 the same of 8-15
// and 24-31. The high halves of the sums (the shifted results, which always fit 16 bits)
// interleave back into pixel order with one blend, and narrow to pixels 0-15 in the low lane and
// 16-31 in the high lane.
inline __m256i narrow32(__m256i even0, __m256i odd0, __m256i even1, __m256i odd1)
{
    const __m256i lo = _mm256_blend_epi16(_mm256_srli_epi32(even0, 16), odd0, 0xAA);
    const __m256i hi = _mm256_blend_epi16(_mm256_srli_epi32(even1, 16), odd1, 0xAA);
    return _mm256_packus_epi16(lo, hi);
}

// Four bytes of each lane widened to 32 bits: lane 0 takes its bytes A0..A3, lane 1 its bytes
// B0..B3.
template <int A0, int A1, int A2, int A3, int B0, int B1, int B2, int B3> inline __m256i pick(__m256i v)
{
    return _mm256_shuffle_epi8(v, _mm256_setr_epi8(A0, -1, -1, -1, A1, -1, -1, -1, A2, -1, -1, -1, A3, -1, -1, -1, B0,
                                                   -1, -1, -1, B1, -1, -1, -1, B2, -1, -1, -1, B3, -1, -1, -1));
}

// Lane 0 bytes Lo, Lo + S, Lo + 2S, Lo + 3S; lane 1 the same from Hi.
template <int Lo, int Hi, int S> inline __m256i widen(__m256i v)
{
    return pick<Lo, Lo + S, Lo + 2 * S, Lo + 3 * S, Hi, Hi + S, Hi + 2 * S, Hi + 3 * S>(v);
}

// The 32 bytes at p (a sample per pixel, or 16 chroma pairs) widened in the four groups of
// narrow32. For 32-bit targets the pixels are dealt out in groups of four, the even groups
// (pixels 0-3, 8-11, 16-19, 24-27) to lane 0 and the odd ones to lane 1, so that the interleave of
// the four channels leaves eight whole pixels in each vector; groups 0 and 1 then come from the
// first 16 bytes and groups 2 and 3 from the last 16, each half loaded into both lanes.
template <bool Dealt> inline void groups(const uint8_t* p, __m256i g[4])
{
    if constexpr (Dealt) {
        const __m256i lo = _mm256_broadcastsi128_si256(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p)));
        const __m256i hi = _mm256_broadcastsi128_si256(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 16)));
        g[0] = pick<0, 2, 8, 10, 4, 6, 12, 14>(lo), g[1] = pick<1, 3, 9, 11, 5, 7, 13, 15>(lo);
        g[2] = pick<0, 2, 8, 10, 4, 6, 12, 14>(hi), g[3] = pick<1, 3, 9, 11, 5, 7, 13, 15>(hi);
    } else {
        const __m256i v = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
        g[0] = widen<0, 0, 2>(v), g[1] = widen<1, 1, 2>(v), g[2] = widen<8, 8, 2>(v), g[3] = widen<9, 9, 2>(v);
    }
}

constexpr int64_t kBlock = 32;

struct Stores;
void chroma16(const uint8_t* cb, const uint8_t* cr, const uint8_t* pairs, int64_t c, int shs, int stepC, __m128i& u,
              __m128i& v);

template <int Bytes, int Order>
void block(const Coefs& k, const Stores& s, uint8_t* out, const uint8_t* y, const uint8_t* cb, const uint8_t* cr,
           const uint8_t* pairs, int64_t c, int shs, int stepC);

} // namespace

#include "PPSimdYuvRgbRow.inc"

namespace {

template <int Bytes, int Order>
void block(const Coefs& k, const Stores& s, uint8_t* out, const uint8_t* y, const uint8_t* cb, const uint8_t* cr,
           const uint8_t* pairs, int64_t c, int shs, int stepC)
{
    constexpr bool dealt = Bytes == 4;
    // Luma: each lane's 16 pixels (pixels 0-15 in the low lane and 16-31 in the high one, or the
    // dealt groups).
    __m256i yt[4];
    groups<dealt>(y + c, yt);
    for (__m256i& t : yt)
        t = _mm256_mullo_epi32(t, k.gy);
    // Chroma of the same groups: per pixel (4:4:4), or per sample of two pixels, where an even
    // group and the odd one beside it share the samples (cu[0] for the first two, cu[1] for the
    // last two).
    __m256i cu[4], cv[4];
    if (!shs) {
        groups<dealt>(cb + c, cu);
        groups<dealt>(cr + c, cv);
    } else if (stepC == 2) {
        // 16 pairs: those of each lane's pixels, eight per lane; the even groups take the first
        // byte of each pair, the odd ones the second.
        __m256i g[4];
        groups<dealt>(pairs + c, g);
        const bool uFirst = cb == pairs;
        cu[0] = uFirst ? g[0] : g[1], cu[1] = uFirst ? g[2] : g[3];
        cv[0] = uFirst ? g[1] : g[0], cv[1] = uFirst ? g[3] : g[2];
    } else {
        const __m256i u = _mm256_broadcastsi128_si256(_mm_loadu_si128(reinterpret_cast<const __m128i*>(cb + (c >> 1))));
        const __m256i v = _mm256_broadcastsi128_si256(_mm_loadu_si128(reinterpret_cast<const __m128i*>(cr + (c >> 1))));
        if constexpr (dealt) { // samples 0-1, 4-5, 8-9, 12-13 in lane 0, the others in lane 1
            cu[0] = pick<0, 1, 4, 5, 2, 3, 6, 7>(u), cu[1] = pick<8, 9, 12, 13, 10, 11, 14, 15>(u);
            cv[0] = pick<0, 1, 4, 5, 2, 3, 6, 7>(v), cv[1] = pick<8, 9, 12, 13, 10, 11, 14, 15>(v);
        } else {
            cu[0] = widen<0, 8, 1>(u), cu[1] = widen<4, 12, 1>(u);
            cv[0] = widen<0, 8, 1>(v), cv[1] = widen<4, 12, 1>(v);
        }
    }
    // One channel at a time: the chroma part of each sample (term(g), from the samples of group
    // g) added to the luma part of its pixels.
    const auto channel = [&](auto term) {
        if (shs) {
            const __m256i p = term(0), q = term(1);
            return narrow32(_mm256_add_epi32(yt[0], p), _mm256_add_epi32(yt[1], p), _mm256_add_epi32(yt[2], q),
                            _mm256_add_epi32(yt[3], q));
        }
        return narrow32(_mm256_add_epi32(yt[0], term(0)), _mm256_add_epi32(yt[1], term(1)),
                        _mm256_add_epi32(yt[2], term(2)), _mm256_add_epi32(yt[3], term(3)));
    };
    const __m256i r = channel([&](int g) { return _mm256_add_epi32(_mm256_mullo_epi32(cv[g], k.rCr), k.kr); });
    const __m256i g = channel([&](int j) {
        return _mm256_add_epi32(_mm256_add_epi32(_mm256_mullo_epi32(cu[j], k.gCb), _mm256_mullo_epi32(cv[j], k.gCr)),
                                k.kg);
    });
    const __m256i b = channel([&](int j) { return _mm256_add_epi32(_mm256_mullo_epi32(cu[j], k.bCb), k.kb); });
    const __m256i zero = _mm256_setzero_si256();
    // Each lane holds 16 pixels; lane 0 goes to the first half of the target bytes, lane 1 to the second.
    const auto put = [&](int at, __m256i v) {
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + at), _mm256_castsi256_si128(v));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 16 * Bytes + at), _mm256_extracti128_si256(v, 1));
    };
    if constexpr (Bytes == 2) {
        const __m256i c3[3] = {r, g, b};
        __m256i lo = zero, hi = zero;
        for (int j = 0; j < 3; ++j) {
            lo = _mm256_or_si256(lo, _mm256_sll_epi16(_mm256_srl_epi16(_mm256_unpacklo_epi8(c3[j], zero), s.narrow[j]),
                                                      s.place[j]));
            hi = _mm256_or_si256(hi, _mm256_sll_epi16(_mm256_srl_epi16(_mm256_unpackhi_epi8(c3[j], zero), s.narrow[j]),
                                                      s.place[j]));
        }
        put(0, lo);
        put(16, hi);
    } else if constexpr (Bytes == 4) {
        // The bytes of each pixel paired, then the pairs joined: with the groups dealt, each
        // vector holds an even group in lane 0 and the odd group after it in lane 1.
        const __m256i c4[4] = {r, g, b, _mm256_broadcastsi128_si256(s.alpha)};
        const __m256i b0 = c4[channelOf<Order>(0)], b1 = c4[channelOf<Order>(1)], b2 = c4[channelOf<Order>(2)],
                      b3 = c4[channelOf<Order>(3)];
        const __m256i lo01 = _mm256_unpacklo_epi8(b0, b1), hi01 = _mm256_unpackhi_epi8(b0, b1);
        const __m256i lo23 = _mm256_unpacklo_epi8(b2, b3), hi23 = _mm256_unpackhi_epi8(b2, b3);
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(out), _mm256_unpacklo_epi16(lo01, lo23));
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + 32), _mm256_unpackhi_epi16(lo01, lo23));
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + 64), _mm256_unpacklo_epi16(hi01, hi23));
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + 96), _mm256_unpackhi_epi16(hi01, hi23));
    } else {
        for (int j = 0; j < Bytes; ++j) {
            const auto wide = [](__m128i m) { return _mm256_broadcastsi128_si256(m); };
            __m256i v = _mm256_shuffle_epi8(r, wide(s.shuf[j][0]));
            v = _mm256_or_si256(v, _mm256_or_si256(_mm256_shuffle_epi8(g, wide(s.shuf[j][1])),
                                                   _mm256_shuffle_epi8(b, wide(s.shuf[j][2]))));
            put(16 * j, v);
        }
    }
}

} // namespace

void PPYuvRowAVX2(const PPYuvLinear& k, const PPRgbPack& pack, uint8_t* out, const uint8_t* y, const uint8_t* cb,
                  const uint8_t* cr, int64_t c0, int64_t n, int shs, int stepC)
{
    row(k, pack, out, y, cb, cr, c0, n, shs, stepC);
}

#pragma clang attribute pop

#else

void PPYuvRowAVX2(const PPYuvLinear&, const PPRgbPack&, uint8_t*, const uint8_t*, const uint8_t*, const uint8_t*,
                  int64_t, int64_t, int, int)
{
}

#endif
