// The general kernel: every layout pair the engine accepts, nearest or bilinear, any orientation.
//
// Kernels walk a band in oriented coordinates (u along the source's rows, v down its columns);
// the sampling positions of each u and v were computed at set-up and are already clamped into the
// source rectangle, so nothing here can read outside it. The 8-bit RGB pairs (24 and 32 bits per
// pixel) go through a template per pixel-size pair whose inner loop has no branches; every other
// pair goes through the per-pixel reader and writer below.
#include "PPFastCommon.h"
#include "PPScaleBlend.h"
#include "PPSimdTurn.h"
#include "PPSimdYuvRgb.h"

#include <algorithm>
#include <cstring>

namespace {

struct Walk {
    // Target pixel of oriented (u, v): tx = cx + sx * (swap ? v : u), ty = cy + sy * (swap ? u : v).
    int64_t cx, cy, sx, sy;
    bool swap;
    void map(int64_t u, int64_t v, int64_t& tx, int64_t& ty) const
    {
        tx = cx + sx * (swap ? v : u);
        ty = cy + sy * (swap ? u : v);
    }
};

Walk makeWalk(const PPEngine* e)
{
    Walk w{};
    const bool lr = e->orientation & PP_ORIENT_MIRROR_LR, tb = e->orientation & PP_ORIENT_MIRROR_TB;
    w.cx = e->dstAreaX + (lr ? e->dstAreaW - 1 : 0);
    w.cy = e->dstAreaY + (tb ? e->dstAreaH - 1 : 0);
    w.sx = lr ? -1 : 1;
    w.sy = tb ? -1 : 1;
    w.swap = e->orientation & PP_ORIENT_SWAPXY;
    return w;
}

// Bilinear blend of four 8-bit samples with 16-bit fractions, rounded to nearest.
inline int blend(int a, int b, int c, int d, int fx, int fy)
{
    const int32_t top = (a << 16) + (b - a) * fx;
    const int32_t bottom = (c << 16) + (d - c) * fx;
    return static_cast<int>((top + ((static_cast<int64_t>(bottom - top) * fy) >> 16) + 32768) >> 16);
}

// The same blend in unsigned 32-bit lanes with 12-bit fractions (position error below 1/4096 of a
// pixel), which the compiler can keep in vector registers.
inline uint32_t blend12(uint32_t a, uint32_t b, uint32_t c, uint32_t d, uint32_t fx, uint32_t fy)
{
    const uint32_t top = a * (4096 - fx) + b * fx;    // < 2^20
    const uint32_t bottom = c * (4096 - fx) + d * fx;
    return (top * (4096 - fy) + bottom * fy + (1u << 23)) >> 24; // < 2^32
}

inline uint8_t clamp8(int v) { return static_cast<uint8_t>(v < 0 ? 0 : v > 255 ? 255 : v); }

// ---- 8-bit RGB to 8-bit RGB, 24 or 32 bits per pixel on each side ----

struct ByteMap {
    int src[4]; // byte of R, G, B, alpha in a source pixel
    int dst[4]; // byte of R, G, B, alpha in a target pixel
};

template <int SB, int DB, int NC, bool SameOrder>
void rgbBytesKernel(const PPBand& band, const PPPlaneSet& dst, const PPPlaneSet& src, const PPEngine* e,
                    const ByteMap& bm)
{
    const PPEngineContext* ctx = e->ctx;
    const Walk w = makeWalk(e);
    // Byte step of the target per oriented column.
    const int64_t du = w.swap ? w.sy * dst.pitch[0] : w.sx * DB;
    const int32_t* cols = ctx->colIndex;
    const uint16_t* fxs = ctx->colFrac;
    // With the same byte order on both sides the channel offsets are constants.
    int s[NC], d[NC];
    for (int c = 0; c < NC; ++c) {
        s[c] = SameOrder ? c : bm.src[c];
        d[c] = SameOrder ? c : bm.dst[c];
    }
    for (int64_t v = band.v0; v < band.v1; ++v) {
        const uint8_t* row0 = src.ptr[0] + ctx->rowIndex[2 * v] * src.pitch[0];
        const uint8_t* row1 = src.ptr[0] + ctx->rowIndex[2 * v + 1] * src.pitch[0];
        const uint32_t fy = ctx->rowFrac[v] >> 4;
        int64_t tx, ty;
        w.map(band.u0, v, tx, ty);
        uint8_t* out = dst.ptr[0] + ty * dst.pitch[0] + tx * DB;
        for (int64_t u = band.u0; u < band.u1; ++u, out += du) {
            const uint8_t* p00 = row0 + static_cast<int64_t>(cols[2 * u]) * SB;
            const uint8_t* p01 = row0 + static_cast<int64_t>(cols[2 * u + 1]) * SB;
            const uint8_t* p10 = row1 + static_cast<int64_t>(cols[2 * u]) * SB;
            const uint8_t* p11 = row1 + static_cast<int64_t>(cols[2 * u + 1]) * SB;
            const uint32_t fx = fxs[u] >> 4;
            if constexpr (SameOrder) {
                for (int c = 0; c < NC; ++c)
                    out[c] = static_cast<uint8_t>(blend12(p00[c], p01[c], p10[c], p11[c], fx, fy));
            } else {
                for (int c = 0; c < NC; ++c)
                    out[d[c]] = static_cast<uint8_t>(blend12(p00[s[c]], p01[s[c]], p10[s[c]], p11[s[c]], fx, fy));
            }
        }
    }
}

// Byte positions of the 8-bit channels of a packed RGB side, or false when a channel is not a
// whole byte.
bool byteChannels(const PPEngineContext* ctx, bool dstSide, int bpp, int out[4], bool* alphaInTop)
{
    const int* size = dstSide ? ctx->dstMaskSize : ctx->srcMaskSize;
    const int* pos = dstSide ? ctx->dstMaskPos : ctx->srcMaskPos;
    for (int c = 0; c < 3; ++c) {
        if (size[c] != 8 || pos[c] % 8)
            return false;
        out[c] = pos[c] / 8;
    }
    out[3] = bpp == 32 ? (48 - pos[0] - pos[1] - pos[2]) / 8 : -1;
    *alphaInTop = bpp == 32 && pos[0] < 24 && pos[1] < 24 && pos[2] < 24;
    return true;
}

bool tryRgbBytes(const PPBand& band, const PPPlaneSet& dst, const PPPlaneSet& src, const PPEngine* e)
{
    const PPEngineContext* ctx = e->ctx;
    if (ctx->convClass != PPC_RGB2RGB || ctx->srcMap.palette || ctx->srcMap.bitsPerPixel < 24 ||
        ctx->dstMap.bitsPerPixel < 24 || ctx->dither)
        return false;
    ByteMap bm{};
    bool srcAlpha = false, dstAlphaTop = false;
    if (!byteChannels(ctx, false, ctx->srcMap.bitsPerPixel, bm.src, &srcAlpha) ||
        !byteChannels(ctx, true, ctx->dstMap.bitsPerPixel, bm.dst, &dstAlphaTop))
        return false;
    const int sb = ctx->srcMap.bitsPerPixel / 8, db = ctx->dstMap.bitsPerPixel / 8;
    // A 32-bit source hands its alpha on to a 32-bit target, interpolated with the colour's weights
    // (0 when the source keeps no alpha in its top byte). Other sources leave the target's alpha.
    if (sb == 4 && db == 4) {
        if (!srcAlpha)
            return false; // the zero alpha of such sources goes through the general path
        const bool same = bm.src[0] == 0 && bm.src[1] == 1 && bm.src[2] == 2 && bm.src[3] == 3 &&
                          bm.dst[0] == 0 && bm.dst[1] == 1 && bm.dst[2] == 2 && bm.dst[3] == 3;
        // Both sides in one byte order: every byte blends on its own, as the vector rows do it.
        if (std::equal(bm.src, bm.src + 4, bm.dst) && PPBlendBandVector(&band, &dst, &src, e, 4))
            return true;
        if (same)
            rgbBytesKernel<4, 4, 4, true>(band, dst, src, e, bm);
        else
            rgbBytesKernel<4, 4, 4, false>(band, dst, src, e, bm);
    } else if (sb == 4 && db == 3) {
        rgbBytesKernel<4, 3, 3, false>(band, dst, src, e, bm);
    } else if (sb == 3 && db == 4) {
        rgbBytesKernel<3, 4, 3, false>(band, dst, src, e, bm);
    } else {
        rgbBytesKernel<3, 3, 3, false>(band, dst, src, e, bm);
    }
    return true;
}

// ---- Planar and grey YUV to the same, without colour work ----

bool planarLayout(int64_t l)
{
    return l == PPL_GREY || (l >= 1025 && l <= 1028) || (l >= PPL_SEMI_NV21 && l <= PPL_SEMI422_B);
}

// Luma through the vector rows; chroma once per target sample, from the pixel that the per-pixel
// path writes last into it (it writes chroma for every pixel). False, touching nothing, when the
// vector rows do not take the band.
bool tryPlanarBytes(const PPBand& b, const PPPlaneSet& dst, const PPPlaneSet& src, const PPEngine* e)
{
    const PPEngineContext* ctx = e->ctx;
    if (ctx->convClass != PPC_YUV2YUV || ctx->needRangeTable || !planarLayout(ctx->srcMap.layout) ||
        !planarLayout(ctx->dstMap.layout))
        return false;
    if (!PPBlendPlaneVector(&b, &dst, &src, e))
        return false;
    if (ctx->dstMap.layout == PPL_GREY)
        return true;
    PPChromaNearest(&b, &dst, &src, e, ctx->srcMap.layout == PPL_GREY);
    return true;
}

// ---- The per-pixel path ----

struct Sample {
    int c[3];   // R, G, B or Y, Cb, Cr
    int alpha;  // source alpha of a 32-bit RGB source
};

class Reader {
public:
    Reader(const PPPlaneSet& s, const PPEngineContext* ctx) : s_(s), ctx_(ctx)
    {
        rgb_ = ctx->srcMap.layout == PPL_RGB;
        palette_ = rgb_ ? ctx->srcMap.palette : nullptr;
        bpp_ = ctx->srcMap.bitsPerPixel;
        bytes_ = (bpp_ + 7) / 8;
        alphaTop_ = bpp_ == 32 && ctx->srcMaskSize[0] == 8 && ctx->srcMaskSize[1] == 8 && ctx->srcMaskSize[2] == 8 &&
                    ctx->srcMaskPos[0] < 24 && ctx->srcMaskPos[1] < 24 && ctx->srcMaskPos[2] < 24;
        grey_ = ctx->srcMap.layout == PPL_GREY;
        lumaSwap_ = ctx->srcMap.layout >= 528 && ctx->srcMap.layout <= 531;
    }

    // RGB (and alpha) of one source pixel.
    void rgbAt(int64_t x, int64_t y, int out[4]) const
    {
        const uint8_t* row = s_.ptr[0] + y * s_.pitch[0];
        if (palette_) {
            const int64_t bit = x * bpp_;
            const int shift = 8 - bpp_ - static_cast<int>(bit % 8);
            const int index = (row[bit / 8] >> shift) & ((1 << bpp_) - 1);
            const uint8_t* entry = palette_ + 4 * index;
            out[0] = entry[2];
            out[1] = entry[1];
            out[2] = entry[0];
            out[3] = 0;
            return;
        }
        const uint8_t* p = row + x * bytes_;
        uint32_t v = 0;
        for (int i = 0; i < bytes_; ++i)
            v |= static_cast<uint32_t>(p[i]) << (8 * i);
        for (int c = 0; c < 3; ++c) {
            const int width = ctx_->srcMaskSize[c];
            out[c] = width ? static_cast<int>(((v >> ctx_->srcMaskPos[c]) << (32 - width)) >> 24) : 0;
        }
        out[3] = alphaTop_ ? static_cast<int>(v >> 24) : 0;
    }

    int lumaAt(int64_t x, int64_t y) const
    {
        if (lumaSwap_)
            x ^= 1;
        return s_.ptr[0][y * s_.pitch[0] + x * s_.stepY];
    }

    Sample read(int64_t x0, int64_t x1, int64_t y0, int64_t y1, int fx, int fy, bool bilinear) const
    {
        Sample smp{};
        if (rgb_) {
            int a[4], b[4], c[4], d[4];
            rgbAt(x0, y0, a);
            if (!bilinear) {
                std::memcpy(smp.c, a, sizeof smp.c);
                smp.alpha = a[3];
                return smp;
            }
            rgbAt(x1, y0, b);
            rgbAt(x0, y1, c);
            rgbAt(x1, y1, d);
            for (int k = 0; k < 3; ++k)
                smp.c[k] = blend(a[k], b[k], c[k], d[k], fx, fy);
            smp.alpha = blend(a[3], b[3], c[3], d[3], fx, fy);
            return smp;
        }
        smp.c[0] = bilinear ? blend(lumaAt(x0, y0), lumaAt(x1, y0), lumaAt(x0, y1), lumaAt(x1, y1), fx, fy)
                            : lumaAt(x0, y0);
        if (grey_) {
            smp.c[1] = smp.c[2] = 128;
        } else {
            // Chroma is taken from the first sample, not interpolated.
            smp.c[1] = s_.ptr[1][(y0 / s_.vs[1]) * s_.pitch[1] + (x0 / s_.hs[1]) * s_.stepC];
            smp.c[2] = s_.ptr[2][(y0 / s_.vs[2]) * s_.pitch[2] + (x0 / s_.hs[2]) * s_.stepC];
        }
        return smp;
    }

private:
    const PPPlaneSet& s_;
    const PPEngineContext* ctx_;
    const uint8_t* palette_ = nullptr;
    bool rgb_ = false, alphaTop_ = false, grey_ = false, lumaSwap_ = false;
    int bpp_ = 0, bytes_ = 0;
};

} // namespace

MResult ANY_ANY_C_SLOW(const PPBand* bandPtr, const PPPlaneSet* dstPtr, const PPPlaneSet* srcPtr, const PPEngine* e)
{
    const PPBand& band = *bandPtr;
    const PPPlaneSet& dst = *dstPtr;
    const PPPlaneSet& src = *srcPtr;
    if (tryRgbBytes(band, dst, src, e) || PPYuvTurnBand(band, dst, src, e) || tryPlanarBytes(band, dst, src, e) ||
        PPYuvToRgbBandSimd(band, dst, src, e))
        return MOK;

    const PPEngineContext* ctx = e->ctx;
    const Walk w = makeWalk(e);
    const Reader reader(src, ctx);
    const bool dstRGB = ctx->dstMap.layout == PPL_RGB;
    const bool srcRGB = ctx->srcMap.layout == PPL_RGB;
    const int dstBytes = (ctx->dstMap.bitsPerPixel + 7) / 8;
    const int alphaByte = ctx->dstMap.bitsPerPixel == 32
                              ? (48 - ctx->dstMaskPos[0] - ctx->dstMaskPos[1] - ctx->dstMaskPos[2]) / 8
                              : -1;
    // Which value goes into a 32-bit target's alpha byte: the constant, the source's, or none.
    enum { AlphaKeep, AlphaConst, AlphaSource } alphaRule = AlphaKeep;
    if (alphaByte >= 0 && alphaByte < 4) {
        if (!srcRGB)
            alphaRule = AlphaConst;
        else if (ctx->srcMap.bitsPerPixel == 32 && !ctx->srcMap.palette)
            alphaRule = AlphaSource;
    }
    const bool dither = ctx->dither && !srcRGB && dstRGB && ctx->dstMap.bitsPerPixel == 16;
    int remainder[3] = {}, carry[3] = {};
    if (dither)
        for (int c = 0; c < 3; ++c) {
            remainder[c] = (1 << (8 - ctx->dstMaskSize[c])) - 1;
            carry[c] = remainder[c] / 2;
        }
    const bool dstGrey = ctx->dstMap.layout == PPL_GREY;
    const bool dstLumaSwap = ctx->dstMap.layout >= 528 && ctx->dstMap.layout <= 531;
    const auto* y2r = reinterpret_cast<const PPYuvToRgbTables*>(ctx->table);
    const auto* r2y = reinterpret_cast<const PPRgbToYuvTables*>(ctx->table);

    for (int64_t v = band.v0; v < band.v1; ++v) {
        const int64_t y0 = ctx->rowIndex[2 * v], y1 = ctx->rowIndex[2 * v + 1];
        const int fy = ctx->rowFrac[v];
        for (int64_t u = band.u0; u < band.u1; ++u) {
            const Sample s = reader.read(ctx->colIndex[2 * u], ctx->colIndex[2 * u + 1], y0, y1, ctx->colFrac[u],
                                         fy, ctx->bilinear);
            int out[3] = {s.c[0], s.c[1], s.c[2]};
            switch (ctx->convClass) {
            case PPC_YUV2RGB: {
                const int32_t yt = y2r->y[out[0]];
                const int cb = out[1], cr = out[2];
                out[0] = clamp8((yt + y2r->crR[cr]) >> 16);
                out[1] = clamp8((yt + y2r->cbG[cb] + y2r->crG[cr]) >> 16);
                out[2] = clamp8((yt + y2r->cbB[cb]) >> 16);
                break;
            }
            case PPC_RGB2YUV: {
                const int r = out[0], g = out[1], b = out[2];
                out[0] = clamp8((r2y->yr[r] + r2y->yg[g] + r2y->yb[b]) >> 16);
                out[1] = clamp8((r2y->cbr[r] + r2y->cbg[g] + r2y->cbb[b]) >> 16);
                out[2] = clamp8((r2y->cbb[r] + r2y->crg[g] + r2y->crb[b]) >> 16);
                break;
            }
            case PPC_YUV2YUV:
                if (ctx->needRangeTable) {
                    out[0] = ctx->table[out[0]];
                    out[1] = ctx->table[256 + out[1]];
                    out[2] = ctx->table[256 + out[2]];
                }
                break;
            default:
                break;
            }
            int64_t tx, ty;
            w.map(u, v, tx, ty);
            if (dstRGB) {
                uint32_t pixel = 0;
                for (int c = 0; c < 3; ++c) {
                    int value = out[c];
                    if (dither) {
                        value = clamp8(value + carry[c]);
                        carry[c] = value & remainder[c];
                    }
                    const int width = ctx->dstMaskSize[c];
                    pixel |= (static_cast<uint32_t>(value) >> (8 - width)) << ctx->dstMaskPos[c];
                }
                uint8_t* p = dst.ptr[0] + ty * dst.pitch[0] + tx * dstBytes;
                for (int i = 0; i < dstBytes; ++i)
                    if (i != alphaByte)
                        p[i] = static_cast<uint8_t>(pixel >> (8 * i));
                if (alphaRule == AlphaConst)
                    p[alphaByte] = static_cast<uint8_t>(ctx->alpha);
                else if (alphaRule == AlphaSource)
                    p[alphaByte] = static_cast<uint8_t>(s.alpha);
                continue;
            }
            const int64_t lx = dstLumaSwap ? (tx ^ 1) : tx;
            dst.ptr[0][ty * dst.pitch[0] + lx * dst.stepY] = static_cast<uint8_t>(out[0]);
            if (!dstGrey) {
                dst.ptr[1][(ty / dst.vs[1]) * dst.pitch[1] + (tx / dst.hs[1]) * dst.stepC] = static_cast<uint8_t>(out[1]);
                dst.ptr[2][(ty / dst.vs[2]) * dst.pitch[2] + (tx / dst.hs[2]) * dst.stepC] = static_cast<uint8_t>(out[2]);
            }
        }
    }
    return MOK;
}
