// The 24-bit RGB kernels: RGB to RGB (copies, nearest and bilinear resampling, turns and mirrors,
// with or without exchanging red and blue), planar YUV to RGB, and RGB to planar YUV.
//
// The selector hands these kernels only 24-bit sides whose channels are whole bytes in one of the
// two orders, so a pixel is three bytes at fixed places: no mask work, no per-pixel branches.
#include "PPFastCommon.h"
#include "PPScaleBlend.h"
#include "PPSimdYuvRgb.h"

#include <algorithm>
#include <cstring>

namespace {

// ---- RGB to RGB ----

template <bool SwapRB> inline void put3(uint8_t* out, const uint8_t* p)
{
    out[0] = p[SwapRB ? 2 : 0];
    out[1] = p[1];
    out[2] = p[SwapRB ? 0 : 2];
}

// Four pixels into twelve bytes with three 32-bit stores.
template <bool SwapRB> inline void put12(uint8_t* out, const uint8_t* a, const uint8_t* b, const uint8_t* c, const uint8_t* d)
{
    constexpr int lo = SwapRB ? 2 : 0, hi = SwapRB ? 0 : 2;
    const uint32_t w0 = uint32_t{a[lo]} | uint32_t{a[1]} << 8 | uint32_t{a[hi]} << 16 | uint32_t{b[lo]} << 24;
    const uint32_t w1 = uint32_t{b[1]} | uint32_t{b[hi]} << 8 | uint32_t{c[lo]} << 16 | uint32_t{c[1]} << 24;
    const uint32_t w2 = uint32_t{c[hi]} | uint32_t{d[lo]} << 8 | uint32_t{d[1]} << 16 | uint32_t{d[hi]} << 24;
    std::memcpy(out, &w0, 4);
    std::memcpy(out + 4, &w1, 4);
    std::memcpy(out + 8, &w2, 4);
}

// Nearest (and one to one) for every orientation. Rows that run left to right pack four pixels per
// three stores; under a quarter turn four oriented rows are gathered so that each target row gets
// a twelve-byte segment at once.
template <bool SwapRB> MResult rgbNearest(const PPBand* bp, const PPPlaneSet* dstp, const PPPlaneSet* srcp, const PPEngine* e)
{
    const PPBand& b = *bp;
    const PPPlaneSet &dst = *dstp, &src = *srcp;
    const PPEngineContext* ctx = e->ctx;
    const int32_t* cols = ctx->colIndex;
    const int32_t* rows = ctx->rowIndex;
    const PPTargetWalk w(e);
    int64_t base, du, dv;
    w.linear(3, dst.pitch[0], &base, &du, &dv);
    int64_t v = b.v0;
    if (w.swap && (dv == 3 || dv == -3)) {
        for (; v + 4 <= b.v1; v += 4) {
            const uint8_t* r[4];
            for (int k = 0; k < 4; ++k)
                r[k] = src.ptr[0] + rows[2 * (v + k)] * src.pitch[0];
            uint8_t* out = dst.ptr[0] + base + b.u0 * du + (dv > 0 ? v : v + 3) * dv;
            for (int64_t u = b.u0; u < b.u1; ++u, out += du) {
                const int64_t c = cols[2 * u] * 3;
                if (dv > 0)
                    put12<SwapRB>(out, r[0] + c, r[1] + c, r[2] + c, r[3] + c);
                else
                    put12<SwapRB>(out, r[3] + c, r[2] + c, r[1] + c, r[0] + c);
            }
        }
    }
    for (; v < b.v1; ++v) {
        const uint8_t* srow = src.ptr[0] + rows[2 * v] * src.pitch[0];
        uint8_t* out = dst.ptr[0] + base + b.u0 * du + v * dv;
        int64_t u = b.u0;
        const int64_t n = b.u1 - b.u0;
        if (!SwapRB && du == 3 && ctx->oneToOne && cols[2 * (b.u1 - 1)] - cols[2 * b.u0] == n - 1) {
            std::memcpy(out, srow + cols[2 * b.u0] * 3, static_cast<size_t>(3 * n));
            continue;
        }
        if (du == 3)
            for (; u + 4 <= b.u1; u += 4, out += 12)
                put12<SwapRB>(out, srow + cols[2 * u] * 3, srow + cols[2 * u + 2] * 3, srow + cols[2 * u + 4] * 3,
                              srow + cols[2 * u + 6] * 3);
        for (; u < b.u1; ++u, out += du)
            put3<SwapRB>(out, srow + cols[2 * u] * 3);
    }
    return MOK;
}

// Bilinear between two sides of the same byte order, with the general kernel's 12-bit blend.
MResult rgbBilinear(const PPBand* bp, const PPPlaneSet* dstp, const PPPlaneSet* srcp, const PPEngine* e)
{
    if (PPBlendBandVector(bp, dstp, srcp, e, 3))
        return MOK;
    const PPBand& b = *bp;
    const PPPlaneSet &dst = *dstp, &src = *srcp;
    const PPEngineContext* ctx = e->ctx;
    const PPTargetWalk w(e);
    int64_t base, du, dv;
    w.linear(3, dst.pitch[0], &base, &du, &dv);
    for (int64_t v = b.v0; v < b.v1; ++v) {
        const uint8_t* r0 = src.ptr[0] + ctx->rowIndex[2 * v] * src.pitch[0];
        const uint8_t* r1 = src.ptr[0] + ctx->rowIndex[2 * v + 1] * src.pitch[0];
        const uint32_t fy = ctx->rowFrac[v] >> 4;
        uint8_t* out = dst.ptr[0] + base + b.u0 * du + v * dv;
        for (int64_t u = b.u0; u < b.u1; ++u, out += du) {
            const int64_t c0 = ctx->colIndex[2 * u] * 3, c1 = ctx->colIndex[2 * u + 1] * 3;
            const uint32_t fx = ctx->colFrac[u] >> 4;
            for (int c = 0; c < 3; ++c)
                out[c] = static_cast<uint8_t>(ppBlend12(r0[c0 + c], r0[c1 + c], r1[c0 + c], r1[c1 + c], fx, fy));
        }
    }
    return MOK;
}

// ---- Planar YUV to RGB ----

template <bool BGR> inline void putYuv(uint8_t* out, const PPYuvToRgbTables* t, int luma, int32_t rT, int32_t gT, int32_t bT)
{
    const int32_t yt = t->y[luma];
    const uint8_t red = ppClamp8((yt + rT) >> 16), green = ppClamp8((yt + gT) >> 16), blue = ppClamp8((yt + bT) >> 16);
    out[0] = BGR ? red : blue;
    out[1] = green;
    out[2] = BGR ? blue : red;
}

// One row at one to one over consecutive source columns c0 .. c0 + n - 1: the chroma terms are
// worked out once per chroma sample and shared by the pixels on it.
template <bool BGR>
void yuvToRgbRun(uint8_t* out, int64_t du, const uint8_t* luma, const uint8_t* cbRow, const uint8_t* crRow, int64_t c0,
                 int64_t n, int shs, int64_t stepC, const PPYuvToRgbTables* t)
{
    int64_t i = 0;
    while (i < n) {
        const int64_t cs = ((c0 + i) >> shs) * stepC;
        const int cb = cbRow[cs], cr = crRow[cs];
        const int32_t rT = t->crR[cr], gT = t->cbG[cb] + t->crG[cr], bT = t->cbB[cb];
        // The pixels of this chroma sample: up to the next multiple of its width.
        const int64_t stop = std::min<int64_t>(n, ((((c0 + i) >> shs) + 1) << shs) - c0);
        for (; i < stop; ++i)
            putYuv<BGR>(out + i * du, t, luma[c0 + i], rT, gT, bT);
    }
}

// Luma nearest or bilinear, chroma always from the first sampled position; memory order B, G, R
// (RGB order) or R, G, B (BGR order).
template <bool Bilinear, bool BGR>
MResult yuvToRgb(const PPBand* bp, const PPPlaneSet* dstp, const PPPlaneSet* srcp, const PPEngine* e)
{
    const PPBand& b = *bp;
    const PPPlaneSet &dst = *dstp, &src = *srcp;
    const PPEngineContext* ctx = e->ctx;
    const auto* t = reinterpret_cast<const PPYuvToRgbTables*>(ctx->table);
    const PPTargetWalk w(e);
    int64_t base, du, dv;
    w.linear(3, dst.pitch[0], &base, &du, &dv);
    const int shs = src.hs[1] - 1, svs = src.vs[1] - 1;
    // Rows of consecutive pixels go through the vector rows when the CPU has them.
    PPYuvRows vec;
    const bool vector = !Bilinear && du == 3 && PPYuvRowsPrepare(ctx, &vec);
    for (int64_t v = b.v0; v < b.v1; ++v) {
        const int64_t y0 = ctx->rowIndex[2 * v];
        const uint8_t* r0 = src.ptr[0] + y0 * src.pitch[0];
        const uint8_t* r1 = src.ptr[0] + ctx->rowIndex[2 * v + 1] * src.pitch[0];
        const uint8_t* cbRow = src.ptr[1] + (y0 >> svs) * src.pitch[1];
        const uint8_t* crRow = src.ptr[2] + (y0 >> svs) * src.pitch[2];
        const int fy = ctx->rowFrac[v];
        uint8_t* out = dst.ptr[0] + base + b.u0 * du + v * dv;
        if (!Bilinear && ctx->oneToOne &&
            ctx->colIndex[2 * (b.u1 - 1)] - ctx->colIndex[2 * b.u0] == b.u1 - 1 - b.u0) {
            if (vector)
                vec.row(vec.k, vec.pack, out, r0, cbRow, crRow, ctx->colIndex[2 * b.u0], b.u1 - b.u0, shs,
                        static_cast<int>(src.stepC));
            else
                yuvToRgbRun<BGR>(out, du, r0, cbRow, crRow, ctx->colIndex[2 * b.u0], b.u1 - b.u0, shs, src.stepC, t);
            continue;
        }
        for (int64_t u = b.u0; u < b.u1; ++u, out += du) {
            const int64_t c0 = ctx->colIndex[2 * u];
            int luma;
            if constexpr (Bilinear) {
                const int64_t c1 = ctx->colIndex[2 * u + 1];
                luma = ppBlend(r0[c0], r0[c1], r1[c0], r1[c1], ctx->colFrac[u], fy);
            } else {
                luma = r0[c0];
            }
            const int cb = cbRow[(c0 >> shs) * src.stepC], cr = crRow[(c0 >> shs) * src.stepC];
            const int32_t yt = t->y[luma];
            const uint8_t red = ppClamp8((yt + t->crR[cr]) >> 16);
            const uint8_t green = ppClamp8((yt + t->cbG[cb] + t->crG[cr]) >> 16);
            const uint8_t blue = ppClamp8((yt + t->cbB[cb]) >> 16);
            out[0] = BGR ? red : blue;
            out[1] = green;
            out[2] = BGR ? blue : red;
        }
    }
    return MOK;
}

// ---- RGB to planar YUV ----

struct Rgb {
    int r, g, b;
};

// The source pixel of oriented (u, v) of an RGB-order side (memory B, G, R).
template <bool Bilinear> inline Rgb rgbAt(const PPPlaneSet& src, const PPEngineContext* ctx, int64_t u, int64_t v)
{
    const uint8_t* r0 = src.ptr[0] + ctx->rowIndex[2 * v] * src.pitch[0];
    const uint8_t* a = r0 + ctx->colIndex[2 * u] * 3;
    if constexpr (!Bilinear) {
        return Rgb{a[2], a[1], a[0]};
    } else {
        const uint8_t* r1 = src.ptr[0] + ctx->rowIndex[2 * v + 1] * src.pitch[0];
        const int64_t c1 = ctx->colIndex[2 * u + 1] * 3;
        const uint8_t* bb = r0 + c1;
        const uint8_t* c = r1 + ctx->colIndex[2 * u] * 3;
        const uint8_t* d = r1 + c1;
        const int fx = ctx->colFrac[u], fy = ctx->rowFrac[v];
        return Rgb{ppBlend(a[2], bb[2], c[2], d[2], fx, fy), ppBlend(a[1], bb[1], c[1], d[1], fx, fy),
                   ppBlend(a[0], bb[0], c[0], d[0], fx, fy)};
    }
}

template <bool Bilinear>
MResult rgbToYuv(const PPBand* bp, const PPPlaneSet* dstp, const PPPlaneSet* srcp, const PPEngine* e)
{
    const PPBand& b = *bp;
    const PPPlaneSet &dst = *dstp, &src = *srcp;
    const PPEngineContext* ctx = e->ctx;
    const auto* t = reinterpret_cast<const PPRgbToYuvTables*>(ctx->table);
    const PPTargetWalk w(e);
    int64_t base, du, dv;
    w.linear(1, dst.pitch[0], &base, &du, &dv);
    for (int64_t v = b.v0; v < b.v1; ++v) {
        uint8_t* out = dst.ptr[0] + base + b.u0 * du + v * dv;
        for (int64_t u = b.u0; u < b.u1; ++u, out += du) {
            const Rgb p = rgbAt<Bilinear>(src, ctx, u, v);
            *out = ppClamp8((t->yr[p.r] + t->yg[p.g] + t->yb[p.b]) >> 16);
        }
    }
    // Chroma once per target sample, from the pixel the general kernel writes last into it.
    const int dhs = dst.hs[1] - 1, dvs = dst.vs[1] - 1;
    const PPLastWriters lu(b.u0, b.u1, w.swap ? w.cy : w.cx, w.swap ? w.sy : w.sx, w.swap ? dst.vs[1] : dst.hs[1]);
    const PPLastWriters lv(b.v0, b.v1, w.swap ? w.cx : w.cy, w.swap ? w.sx : w.sy, w.swap ? dst.hs[1] : dst.vs[1]);
    lv.forEach([&](int64_t v) {
        lu.forEach([&](int64_t u) {
            const Rgb p = rgbAt<Bilinear>(src, ctx, u, v);
            const int64_t tx = w.tx(u, v), ty = w.ty(u, v);
            dst.ptr[1][(ty >> dvs) * dst.pitch[1] + (tx >> dhs) * dst.stepC] =
                ppClamp8((t->cbr[p.r] + t->cbg[p.g] + t->cbb[p.b]) >> 16);
            dst.ptr[2][(ty >> dvs) * dst.pitch[2] + (tx >> dhs) * dst.stepC] =
                ppClamp8((t->cbb[p.r] + t->crg[p.g] + t->crb[p.b]) >> 16);
        });
    });
    return MOK;
}

} // namespace

void PPRegisterRGBKernels(PPKernel* k)
{
    k[PPK_YUV2RGBFast_NORESAMPLE_B8G8R8] = yuvToRgb<false, true>;
    k[PPK_YUV2RGBFast_B8G8R8_Nearest] = yuvToRgb<false, true>;
    k[PPK_YUV2RGBFast_B8G8R8] = yuvToRgb<true, true>;
    k[PPK_YUV2RGBFast_NORESAMPLE] = yuvToRgb<false, false>;
    k[PPK_YUV2RGBFast_R8G8B8_Nearest] = yuvToRgb<false, false>;
    k[PPK_YUV2RGBFast] = yuvToRgb<true, false>;

    k[PPK_RGB2RGBFast_NORESAMPLE] = rgbNearest<false>;
    k[PPK_RGB2RGBFast_RGB888_N_RESIZE_2x2] = rgbBilinear;
    k[PPK_RGB2RGBFast] = rgbBilinear;
    k[PPK_RGB2RGBFast_RGB888_N_RESIZE_4x4_R0] = rgbNearest<false>;
    k[PPK_RGB2RGBFast_RGB888_N_RESIZE_4x4_R270] = rgbNearest<false>;
    k[PPK_RGB2RGBFast_RGB888_N_RESIZE_4x4_VERTICAL] = rgbNearest<false>;
    k[PPK_RGB2RGBFast_RGB888_N_RESIZE_4x4_SwapXY] = rgbNearest<false>;
    k[PPK_RGB2RGBFast_RGB888_N_RESIZE_4x4] = rgbNearest<false>;
    k[PPK_RGB2RGBFast_RGB888_N_RESIZE] = rgbNearest<false>;
    k[PPK_BGR2RGBFast_RGB888_N_RESIZE_4x4] = rgbNearest<true>;

    k[PPK_RGB2YUVFast_NORESAMPLE_NOROTATE_R8G8B8_4x4] = rgbToYuv<false>;
    k[PPK_RGB2YUVFast_NORESAMPLE_NOROTATE_R8G8B8_2x2] = rgbToYuv<false>;
    k[PPK_RGB2YUVFast_NORESAMPLE] = rgbToYuv<false>;
    k[PPK_RGB2YUVFast] = rgbToYuv<true>;
}
