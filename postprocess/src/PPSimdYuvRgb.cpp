// Set-up of the vector YUV to RGB rows, and the general kernel's band shortcut through them.
#include "PPSimdYuvRgb.h"

#include "PPCpu.h"

#include <atomic>

namespace {

std::atomic<int64_t> g_vectorBands{0};

// Slope and offset of a 256-entry table, when every entry is offset + slope * i.
bool linear(const int32_t* t, int32_t* slope, int32_t* offset)
{
    const uint32_t a = static_cast<uint32_t>(t[1]) - static_cast<uint32_t>(t[0]);
    for (uint32_t i = 0; i < 256; ++i)
        if (static_cast<uint32_t>(t[i]) != static_cast<uint32_t>(t[0]) + a * i)
            return false;
    *slope = static_cast<int32_t>(a);
    *offset = t[0];
    return true;
}

int32_t wrapAdd(int32_t a, int32_t b) { return static_cast<int32_t>(static_cast<uint32_t>(a) + static_cast<uint32_t>(b)); }

bool linearFromTables(const PPYuvToRgbTables* t, PPYuvLinear* k)
{
    int32_t y0, r0, gb0, gr0, b0;
    if (!linear(t->y, &k->gy, &y0) || !linear(t->crR, &k->rCr, &r0) || !linear(t->cbG, &k->gCb, &gb0) ||
        !linear(t->crG, &k->gCr, &gr0) || !linear(t->cbB, &k->bCb, &b0))
        return false;
    k->kr = wrapAdd(y0, r0);
    k->kg = wrapAdd(wrapAdd(y0, gb0), gr0);
    k->kb = wrapAdd(y0, b0);
    return true;
}

// The target's channels as the general kernel writes them for a YUV source without dithering.
bool packFor(const PPEngineContext* ctx, PPRgbPack* pk)
{
    const int bpp = ctx->dstMap.bitsPerPixel;
    if (ctx->dstMap.layout != PPL_RGB || ctx->dstMap.palette || ctx->dither)
        return false;
    if (bpp == 16) {
        for (int c = 0; c < 3; ++c) {
            const int width = ctx->dstMaskSize[c];
            if (width < 1 || width > 8 || ctx->dstMaskPos[c] + width > 16)
                return false;
            pk->narrow[c] = 8 - width;
            pk->place[c] = ctx->dstMaskPos[c];
        }
        pk->bytes = 2;
        return true;
    }
    if (bpp != 24 && bpp != 32)
        return false;
    const int bytes = bpp / 8;
    int at[3];
    for (int c = 0; c < 3; ++c) {
        if (ctx->dstMaskSize[c] != 8 || ctx->dstMaskPos[c] % 8 || ctx->dstMaskPos[c] >= bpp)
            return false;
        at[c] = ctx->dstMaskPos[c] / 8;
    }
    // A 32-bit target gets the constant alpha in the byte the channels leave free.
    const int alphaByte = bytes == 4 ? (48 - ctx->dstMaskPos[0] - ctx->dstMaskPos[1] - ctx->dstMaskPos[2]) / 8 : -1;
    if (bytes == 4 && (alphaByte < 0 || alphaByte > 3 || alphaByte == at[0] || alphaByte == at[1] || alphaByte == at[2]))
        return false;
    pk->bytes = bytes;
    pk->alpha = static_cast<uint8_t>(ctx->alpha);
    for (int c = 0; c < 3; ++c)
        pk->byteOf[at[c]] = c;
    if (bytes == 4) {
        pk->byteOf[alphaByte] = 3;
        // The rows know the two orders of the 32-bit layouts: R, G, B or B, G, R, then alpha.
        if (pk->byteOf[3] != 3 || pk->byteOf[1] != 1)
            return false;
    }
    for (int b = 0; b < 16 * bytes; ++b) {
        const int k = b / 16, j = b % 16, pixel = b / bytes, q = b % bytes;
        for (int c = 0; c < 3; ++c)
            pk->shuf[k][c][j] = q == at[c] ? static_cast<uint8_t>(pixel) : 0x80;
        pk->fill[k][j] = q == alphaByte ? static_cast<uint8_t>(ctx->alpha) : 0;
    }
    return true;
}

} // namespace

bool PPYuvRowsPrepare(const PPEngineContext* ctx, PPYuvRows* rows)
{
    switch (PPSimdLevel()) {
    case PPSimd::AVX2: rows->row = PPYuvRowAVX2; break;
    case PPSimd::SSE41: rows->row = PPYuvRowSSE41; break;
    default: return false;
    }
    if (ctx->convClass != PPC_YUV2RGB || !ctx->table ||
        !linearFromTables(reinterpret_cast<const PPYuvToRgbTables*>(ctx->table), &rows->k) || !packFor(ctx, &rows->pack))
        return false;
    g_vectorBands.fetch_add(1, std::memory_order_relaxed);
    return true;
}

int64_t PPDebugVectorYuvBands() { return g_vectorBands.load(); }

bool PPYuvToRgbBandSimd(const PPBand& band, const PPPlaneSet& dst, const PPPlaneSet& src, const PPEngine* e)
{
    const PPEngineContext* ctx = e->ctx;
    const int64_t n = band.u1 - band.u0;
    // Upright rows (a top-bottom mirror only reverses their order) of consecutive source columns.
    if (ctx->convClass != PPC_YUV2RGB || ctx->bilinear || !ctx->oneToOne || n < 16 ||
        (e->orientation & (PP_ORIENT_SWAPXY | PP_ORIENT_MIRROR_LR)) ||
        ctx->colIndex[2 * (band.u1 - 1)] - ctx->colIndex[2 * band.u0] != n - 1)
        return false;
    // Luma one byte per sample; chroma planar, or in interleaved pairs at half width.
    const int64_t sl = ctx->srcMap.layout;
    const bool planar = (sl >= 1024 && sl <= 1028) || (sl >= 768 && sl <= 772);
    const bool semi = sl >= PPL_SEMI_NV21 && sl <= PPL_SEMI422_B;
    if ((!planar && !semi) || src.stepY != 1 || src.hs[1] != src.hs[2] || src.hs[1] < 1 || src.hs[1] > 2 ||
        src.vs[1] < 1 || src.vs[2] < 1)
        return false;
    const int shs = src.hs[1] - 1;
    if (semi ? src.stepC != 2 || shs != 1 || src.pitch[1] != src.pitch[2] || src.vs[1] != src.vs[2]
             : src.stepC != 1)
        return false;
    PPYuvRows rows;
    if (!PPYuvRowsPrepare(ctx, &rows))
        return false;
    if (semi) {
        const intptr_t gap = src.ptr[1] - src.ptr[2];
        if (gap != 1 && gap != -1)
            return false;
    }
    const int64_t bytes = rows.pack.bytes;
    const bool tb = e->orientation & PP_ORIENT_MIRROR_TB;
    const int64_t c0 = ctx->colIndex[2 * band.u0];
    for (int64_t v = band.v0; v < band.v1; ++v) {
        const int64_t y0 = ctx->rowIndex[2 * v];
        const int64_t tx = e->dstAreaX + band.u0;
        const int64_t ty = tb ? e->dstAreaY + e->dstAreaH - 1 - v : e->dstAreaY + v;
        rows.row(rows.k, rows.pack, dst.ptr[0] + ty * dst.pitch[0] + tx * bytes, src.ptr[0] + y0 * src.pitch[0],
                 src.ptr[1] + (y0 / src.vs[1]) * src.pitch[1], src.ptr[2] + (y0 / src.vs[2]) * src.pitch[2], c0, n, shs,
                 src.stepC);
    }
    return true;
}
