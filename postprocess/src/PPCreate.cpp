// Engine set-up: reading the colour IDs, steps and zooms, block-mode choice, fit and fill, and the
// colour tables. Floating point is used here only, for the steps; the kernels are fixed point.
#include "PPInternal.h"

#include "MMemory.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <new>

namespace {

// Coefficients, 16.16 fixed point.
struct RGB2YUVCoef { int32_t yr, yg, yb, cbr, cbg, cbb, crr, crg, crb; };
constexpr RGB2YUVCoef MRGB2YCBCR601{19595, 38470, 7471, 11058, 21710, 32768, 32768, 27439, 5329};
constexpr RGB2YUVCoef MRGB2YCBCR709{13933, 46871, 4732, 7510, 25258, 32768, 32768, 29766, 3005};
constexpr RGB2YUVCoef MRGB2YUV601{16763, 32910, 6391, 9676, 18999, 28672, 28672, 24012, 4663};
constexpr RGB2YUVCoef MRGB2YUV709{11921, 40095, 4050, 6573, 22099, 28672, 28672, 26044, 2629};

struct YUV2RGBCoef { int32_t gain, crR, crG, cbB, cbG; };
constexpr YUV2RGBCoef MYCBCR2RGB601{65536, 91881, 46802, 116130, 22554};
constexpr YUV2RGBCoef MYCBCR2RGB709{65536, 103206, 30677, 121609, 12275};
constexpr YUV2RGBCoef MYUV2RGB601{76605, 105048, 53510, 132796, 25788};
constexpr YUV2RGBCoef MYUV2RGB709{76605, 117952, 35062, 138982, 14031};

constexpr int64_t STD_601_VIDEO = 0x10001, STD_601_FULL = 0x10002, STD_709_VIDEO = 0x20001,
                  STD_709_FULL = 0x20002;

bool isFullRange(int64_t std) { return (std & 3) == 2; }
bool is709(int64_t std) { return (std >> 16) == 2; }

int64_t yuvStandardOf(uint64_t id)
{
    switch (id & 0x3000) {
    case 0x1000: return STD_601_FULL;
    case 0x2000: return STD_709_VIDEO;
    case 0x3000: return STD_709_FULL;
    default: return STD_601_VIDEO;
    }
}

bool isPackedYUVLayout(int64_t l)
{
    return (l >= 512 && l <= 531) || (l >= 576 && l <= 581) || l == PPL_SPECIAL16 || l == PPL_SPECIAL8;
}

// K(x) v: the gain (256 + 4x) / 256 applied to v.
int64_t gainK(int x, int64_t v) { return MUL16x32_8Bit(static_cast<MInt32>(256 + 4 * x), static_cast<MInt32>(v)); }

int halveNegative(int x) { return x < 0 ? (x >> 1) : x; }

uint8_t clampByte(int64_t v) { return static_cast<uint8_t>(std::clamp<int64_t>(v, 0, 255)); }

} // namespace

MResult MMapPixel(const PPFormat* fmt, PPPixelMap* map)
{
    *map = PPPixelMap{};
    const uint64_t id = static_cast<uint32_t>(fmt->lColorID);
    map->width = fmt->lWidth;
    map->height = fmt->lHeight;
    map->palette = fmt->pPalette;
    const uint32_t cls = (id >> 28) & 0xF;
    if (cls == 1 || cls == 3) {
        int bits = 0;
        switch ((id >> 24) & 0xF) {
        case 5: bits = 16; break;
        case 6: bits = 24; break;
        case 7: bits = 32; break;
        default: return MERR_UNSUPPORTED;
        }
        const int wr = ((id >> 8) & 0xF) + 1, wg = ((id >> 4) & 0xF) + 1, wb = (id & 0xF) + 1;
        if (wr > 8 || wg > 8 || wb > 8 || wr + wg + wb > bits)
            return MERR_UNSUPPORTED;
        // The unused (alpha) bits of class 3 lie below the components.
        const int base = cls == 3 ? bits - (wr + wg + wb) : 0;
        const auto mask = [](int pos, int width) { return ((1u << width) - 1u) << pos; };
        if (id & 0x1000) { // R lowest
            map->mask[0] = mask(base, wr);
            map->mask[1] = mask(base + wr, wg);
            map->mask[2] = mask(base + wr + wg, wb);
        } else {           // B lowest
            map->mask[2] = mask(base, wb);
            map->mask[1] = mask(base + wb, wg);
            map->mask[0] = mask(base + wb + wg, wr);
        }
        map->bitsPerPixel = bits;
        map->layout = PPL_RGB;
        return MOK;
    }
    if (cls == 4) {
        switch (id) {
        case 0x41000000: map->bitsPerPixel = 1; break;
        case 0x43000000: map->bitsPerPixel = 4; break;
        case 0x44000000: map->bitsPerPixel = 8; break;
        default: return MERR_UNSUPPORTED;
        }
        map->layout = PPL_RGB;
        return MOK;
    }
    if (cls == 6) {
        if ((id & ~uint64_t{0x3000}) != 0x64000000)
            return MERR_UNSUPPORTED;
        map->layout = PPL_GREY;
        map->yuvStandard = yuvStandardOf(id);
        return MOK;
    }
    if (cls == 5) {
        map->yuvStandard = yuvStandardOf(id);
        const uint64_t bare = id & ~uint64_t{0x3000};
        const uint32_t arrangement = (bare >> 8) & 0xF;
        const int h = static_cast<int>((bare >> 4) & 0xF) + 1, v = static_cast<int>(bare & 0xF) + 1;
        if (arrangement == 8 || arrangement == 0xA) {
            const bool yvu = arrangement == 0xA;
            const uint32_t sub = bare & 0xFF;
            int64_t l = 0;
            switch (sub) {
            case 0x11: l = 1025; break;
            case 0x01: l = 1026; break;
            case 0x10: l = 1027; break;
            case 0x00: l = 1028; break;
            default: l = 1024; break;
            }
            if (yvu)
                l = l == 1024 ? 768 : l - 256;
            if (h > 4 || v > 4)
                return MERR_UNSUPPORTED;
            map->layout = l;
            map->hs[1] = map->hs[2] = h;
            map->vs[1] = map->vs[2] = v;
            return MOK;
        }
        const uint32_t low = bare & 0xFF;
        if (low == 0x10 && arrangement <= 7) {
            static constexpr int64_t kPacked422[8] = {513, 529, 512, 528, 514, 530, 515, 531};
            map->layout = kPacked422[arrangement];
            return MOK;
        }
        if (low == 0x00 && (arrangement == 0 || arrangement == 2 || arrangement == 4 || arrangement == 6)) {
            map->layout = 576 + arrangement / 2;
            return MOK;
        }
        return MERR_UNSUPPORTED;
    }
    if (cls == 7) {
        const uint64_t bare = id & ~uint64_t{0x3000};
        if (bare == 0x70000002 || bare == 0x70000003 || bare == 0x70000004 || bare == 0x70000005 ||
            bare == 0x70000008 || bare == 0x70000009) {
            map->layout = static_cast<int64_t>(bare);
            map->yuvStandard = yuvStandardOf(id);
            return MOK;
        }
    }
    return MERR_UNSUPPORTED;
}

MResult MFormatColorID_GetBPP(const PPPixelMap* map, PPPlaneSet* set)
{
    const int64_t l = map->layout;
    set->layout = l;
    if (l == PPL_RGB) {
        set->packed = true;
        set->bitsPerPixel = map->bitsPerPixel;
    } else if ((l >= 512 && l <= 531) || l == PPL_SPECIAL16) {
        set->packed = true;
        set->bitsPerPixel = 16;
    } else if (l >= 576 && l <= 581) {
        set->packed = true;
        set->bitsPerPixel = 24;
    } else if (l == PPL_SPECIAL8) {
        set->packed = true;
        set->bitsPerPixel = 8;
    } else if (l == PPL_GREY || (l >= 768 && l <= 772) || (l >= 1024 && l <= 1028) ||
               (l >= PPL_SEMI_NV21 && l <= PPL_SEMI422_B)) {
        set->packed = false;
        set->bitsPerPixel = 8;
    } else {
        set->bitsPerPixel = 0;
        return MERR_UNSUPPORTED;
    }
    return MOK;
}

MResult MInitConvertParam(const PPPixelMap* map, PPPlaneSet* set)
{
    const int64_t l = map->layout;
    auto packed = [&](int y, int u, int v, int sy, int sc, int h) {
        set->kind = 1;
        set->offY = y; set->offU = u; set->offV = v;
        set->stepY = sy; set->stepC = sc;
        set->hs[1] = set->hs[2] = h;
        set->vs[1] = set->vs[2] = 1;
    };
    auto planar = [&](int sc, int h, int v) {
        set->kind = 3;
        set->offY = set->offU = set->offV = 0;
        set->stepY = 1; set->stepC = sc;
        set->hs[1] = set->hs[2] = h;
        set->vs[1] = set->vs[2] = v;
    };
    set->hs[0] = set->vs[0] = 1;
    switch (l) {
    case PPL_RGB: packed(0, 0, 0, (map->bitsPerPixel + 7) / 8, (map->bitsPerPixel + 7) / 8, 1); break;
    case 512: case 528: packed(0, 3, 1, 2, 4, 2); break;
    case 513: case 529: packed(0, 1, 3, 2, 4, 2); break;
    case 514: case 530: packed(1, 0, 2, 2, 4, 2); break;
    case 515: case 531: packed(1, 2, 0, 2, 4, 2); break;
    case 576: packed(0, 1, 2, 3, 3, 1); break;
    case 577: packed(0, 2, 1, 3, 3, 1); break;
    case 578: packed(2, 0, 1, 3, 3, 1); break;
    case 579: packed(2, 1, 0, 3, 3, 1); break;
    case 580: packed(1, 0, 2, 3, 3, 1); break;
    case 581: packed(1, 2, 0, 3, 3, 1); break;
    case PPL_GREY: packed(0, 0, 0, 1, 1, 1); break;
    case 1025: case 769: planar(1, 2, 2); break;
    case 1026: case 770: planar(1, 1, 2); break;
    case 1027: case 771: planar(1, 2, 1); break;
    case 1028: case 772: planar(1, 1, 1); break;
    case 1024: case 768:
        planar(1, map->hs[1], map->vs[1]);
        break;
    case PPL_SEMI_NV21: case PPL_SEMI_NV12: planar(2, 2, 2); break;
    case PPL_SEMI422_A: case PPL_SEMI422_B: planar(2, 2, 1); break;
    case PPL_SPECIAL16: packed(0, 2, 3, 2, 4, 2); break;
    case PPL_SPECIAL8: packed(0, 1, 2, 4, 4, 1); break;
    default: return MERR_UNSUPPORTED;
    }
    return MOK;
}

int PPChooseBlockMode(int64_t requested, int64_t dstLayout, int64_t srcLayout, bool srcPalette, bool bilinear,
                      bool oneToOne, uint32_t orientation, bool needRangeTable, bool* specialPlanar)
{
    *specialPlanar = false;
    int mode = (requested >= 2 && requested <= 4) ? static_cast<int>(requested) : 1;
    const auto general = [](int64_t l) { return l == 768 || l == 1024; };
    if (general(dstLayout) || general(srcLayout) || srcPalette)
        return 1;
    if (mode == 4) {
        if (bilinear && dstLayout == 1025 && srcLayout == 1025 &&
            (orientation == 0 || orientation == 3 || orientation == 5)) {
            *specialPlanar = true;
        } else {
            mode = 3;
        }
    }
    if (mode == 3) {
        const bool bothNV21 = bilinear && dstLayout == PPL_SEMI_NV21 && srcLayout == PPL_SEMI_NV21;
        if (!bothNV21) {
            if (bilinear || isPackedYUVLayout(dstLayout) || isPackedYUVLayout(srcLayout)) {
                if (!oneToOne)
                    mode = 2;
            }
            if (mode == 3 && !bilinear) {
                if (srcLayout == PPL_SEMI_NV12) {
                    if (dstLayout != 1025 && dstLayout != PPL_SEMI_NV21)
                        mode = 2;
                } else if (srcLayout == PPL_SEMI_NV21) {
                    if (dstLayout != 1025 && dstLayout != PPL_SEMI_NV12)
                        mode = 2;
                }
            }
        }
    }
    if (oneToOne) {
        *specialPlanar = false;
        if (mode == 4)
            mode = 3;
        if (needRangeTable && mode == 3)
            mode = 2;
    }
    return mode;
}

namespace {

MResult buildTables(PPEngineContext* ctx)
{
    const int c = halveNegative(ctx->contrast), s = halveNegative(ctx->saturation), b = ctx->brightness;
    if (ctx->convClass == PPC_YUV2YUV && ctx->needRangeTable) {
        ctx->tableSize = 512;
        ctx->table = static_cast<uint8_t*>(MMemAlloc(nullptr, 512));
        if (!ctx->table)
            return MERR_NO_MEMORY;
        const bool srcFull = isFullRange(ctx->srcMap.yuvStandard), dstFull = isFullRange(ctx->dstMap.yuvStandard);
        int64_t lumaSlope, lumaOff, chromaSlope, chromaOff;
        if (srcFull && !dstFull) {
            lumaSlope = gainK(c, 56066);
            lumaOff = (16 + b) * 65536LL - 4LL * c * (112 - b) * 65536 / 256;
            chromaSlope = gainK(s, gainK(c, 57344));
            const int64_t v = static_cast<int64_t>(-1.75 * s * 65536);
            chromaOff = 16 * 65536LL + v - 4LL * c * (112 * 65536LL - v) / 256;
        } else if (!srcFull && dstFull) {
            lumaSlope = gainK(c, 76608);
            lumaOff = b * 65536LL - 4LL * c * (7162880 - b * 65536LL) / 256 - 1225728;
            chromaSlope = gainK(s, gainK(c, 74901));
            const int64_t v = (s * -299604LL) >> 1;
            chromaOff = v - 4LL * c * (9586980 - v) / 256 - 1198372;
        } else {
            lumaSlope = gainK(c, 65536);
            chromaSlope = gainK(s, lumaSlope);
            lumaOff = b * 65536LL - 4LL * c * (128 - b) * 65536 / 256;
            const int64_t v = -2LL * s * 65536;
            chromaOff = v - 4LL * c * (128 * 65536LL - v) / 256;
        }
        for (int i = 0; i < 256; ++i) {
            ctx->table[i] = clampByte((i * lumaSlope + lumaOff + 32768) >> 16);
            ctx->table[256 + i] = clampByte((i * chromaSlope + chromaOff + 32768) >> 16);
        }
        return MOK;
    }
    if (ctx->convClass == PPC_RGB2YUV) {
        const int64_t std = ctx->dstMap.yuvStandard;
        const RGB2YUVCoef& k = is709(std) ? (isFullRange(std) ? MRGB2YCBCR709 : MRGB2YUV709)
                                          : (isFullRange(std) ? MRGB2YCBCR601 : MRGB2YUV601);
        ctx->tableSize = sizeof(PPRgbToYuvTables);
        auto* t = static_cast<PPRgbToYuvTables*>(MMemAlloc(nullptr, sizeof(PPRgbToYuvTables)));
        if (!t)
            return MERR_NO_MEMORY;
        ctx->table = reinterpret_cast<uint8_t*>(t);
        const int32_t yStart = isFullRange(std) ? 0 : 16 * 65536;
        for (int i = 0; i < 256; ++i) {
            t->yr[i] = yStart + i * k.yr;
            t->yg[i] = i * k.yg;
            t->yb[i] = i * k.yb;
            t->cbr[i] = -i * k.cbr;
            t->cbg[i] = -i * k.cbg;
            t->cbb[i] = 128 * 65536 + i * k.cbb; // also Cr from R: the two coefficients are equal
            t->crg[i] = -i * k.crg;
            t->crb[i] = -i * k.crb;
        }
        return MOK;
    }
    if (ctx->convClass == PPC_YUV2RGB) {
        // A grey source has no chroma to adjust, and its contrast is not applied either.
        const bool grey = ctx->srcMap.layout == PPL_GREY;
        const int64_t std = ctx->srcMap.yuvStandard;
        const YUV2RGBCoef& k = is709(std) ? (isFullRange(std) ? MYCBCR2RGB709 : MYUV2RGB709)
                                          : (isFullRange(std) ? MYCBCR2RGB601 : MYUV2RGB601);
        ctx->tableSize = sizeof(PPYuvToRgbTables);
        auto* t = static_cast<PPYuvToRgbTables*>(MMemAlloc(nullptr, sizeof(PPYuvToRgbTables)));
        if (!t)
            return MERR_NO_MEMORY;
        ctx->table = reinterpret_cast<uint8_t*>(t);
        PPEngineContext gains;
        gains.contrast = grey ? 0 : ctx->contrast;
        gains.saturation = grey ? 0 : ctx->saturation;
        const int64_t g = MCMul(&gains, k.gain, false);
        const auto chroma = [&](int64_t coef) { return MCMul(&gains, coef, true); };
        const int64_t r = chroma(k.crR), pg = chroma(k.crG), u = chroma(k.cbB), q = chroma(k.cbG);
        const int yBlack = isFullRange(std) ? 0 : 16;
        for (int i = 0; i < 256; ++i) {
            // Luma term with the brightness and the rounding folded in; chroma terms centred.
            t->y[i] = static_cast<int32_t>(g * (i - yBlack) + b * 65536LL + 32768);
            t->crR[i] = static_cast<int32_t>(r * (i - 128));
            t->crG[i] = static_cast<int32_t>(-pg * (i - 128));
            t->cbB[i] = static_cast<int32_t>(u * (i - 128));
            t->cbG[i] = static_cast<int32_t>(-q * (i - 128));
        }
        return MOK;
    }
    return MOK;
}

void destroyEngine(PPEngine* e)
{
    if (!e)
        return;
    if (e->ctx) {
        MMemFree(nullptr, e->ctx->table);
        MMemFree(nullptr, e->ctx->colIndex);
        MMemFree(nullptr, e->ctx->colFrac);
        MMemFree(nullptr, e->ctx->rowIndex);
        MMemFree(nullptr, e->ctx->rowFrac);
        e->ctx->~PPEngineContext();
        MMemFree(nullptr, e->ctx);
    }
    e->~PPEngine();
    MMemFree(nullptr, e);
}

template <typename T> T* allocArray(int64_t count)
{
    if (count < 1 || static_cast<uint64_t>(count) > SIZE_MAX / sizeof(T))
        return nullptr;
    return static_cast<T*>(MMemAlloc(nullptr, static_cast<size_t>(count) * sizeof(T)));
}

// Source index and fraction for each oriented target position along one axis. Every index lies
// inside [lo, hi): a kernel never reads outside the source rectangle, whatever the step.
void fillAxis(int64_t count, int64_t origin, int64_t step, bool bilinear, int64_t lo, int64_t hi, int32_t* idx,
              uint16_t* frac)
{
    const int64_t bias = bilinear ? step / 2 - 32768 : 0;
    for (int64_t i = 0; i < count; ++i) {
        const int64_t pos = (origin << 16) + i * step + bias;
        const int64_t ip = pos >> 16;
        int64_t i0 = ip, i1 = ip + 1;
        int64_t f = bilinear ? (pos & 0xFFFF) : 0;
        if (ip < lo) {
            i0 = i1 = lo;
            f = 0;
        } else if (ip >= hi - 1) {
            i0 = i1 = hi - 1;
            f = 0;
        }
        idx[2 * i] = static_cast<int32_t>(i0);
        idx[2 * i + 1] = static_cast<int32_t>(i1);
        frac[i] = static_cast<uint16_t>(f);
    }
}

// Moves the origin of the smaller-step axis so that the image keeps its aspect ratio (fit), or
// crops the source on the larger-step axis (fill).
void applyAspect(PPEngine* e, int64_t mode, int blockSize)
{
    if (e->stepX == e->stepY)
        return;
    // Oriented target extents and origins (along the source axes).
    int64_t* tOrigin[2];
    int64_t tExtent[2] = {e->orientedW, e->orientedH};
    int64_t ox = e->orientation & PP_ORIENT_SWAPXY ? e->dstAreaY : e->dstAreaX;
    int64_t oy = e->orientation & PP_ORIENT_SWAPXY ? e->dstAreaX : e->dstAreaY;
    tOrigin[0] = &ox;
    tOrigin[1] = &oy;
    int64_t sExtent[2] = {e->srcWidth, e->srcHeight};
    int64_t* sOrigin[2] = {&e->srcOriginX, &e->srcOriginY};
    int64_t* step[2] = {&e->stepX, &e->stepY};
    const int64_t b = blockSize;
    if (mode & PP_ASPECT_FIT) {
        const int axis = *step[0] < *step[1] ? 0 : 1, other = 1 - axis;
        const int64_t d = tExtent[other] * sExtent[axis] / sExtent[other];
        int64_t o = (1 - d + tExtent[axis] + ((b - 1) & d)) >> 1;
        if (o % b)
            o += b - o % b;
        if (o > 0 && 2 * o < tExtent[axis]) {
            *tOrigin[axis] += o;
            tExtent[axis] -= 2 * o;
        }
        *step[axis] = *step[other];
    }
    if ((mode & PP_ASPECT_FILL) && *step[0] != *step[1]) {
        const int axis = *step[0] > *step[1] ? 0 : 1, other = 1 - axis;
        const int64_t d = tExtent[axis] * sExtent[other] / tExtent[other];
        int64_t o = (1 - d + sExtent[axis] + ((b - 1) & d)) >> 1;
        o &= ~(b - 1);
        if (o > 0 && 2 * o < sExtent[axis]) {
            *sOrigin[axis] += o;
            sExtent[axis] -= 2 * o;
        }
        *step[axis] = *step[other];
    }
    e->srcWidth = sExtent[0];
    e->srcHeight = sExtent[1];
    e->orientedW = tExtent[0];
    e->orientedH = tExtent[1];
    if (e->orientation & PP_ORIENT_SWAPXY) {
        e->dstAreaY = ox; e->dstAreaX = oy;
        e->dstAreaH = tExtent[0]; e->dstAreaW = tExtent[1];
    } else {
        e->dstAreaX = ox; e->dstAreaY = oy;
        e->dstAreaW = tExtent[0]; e->dstAreaH = tExtent[1];
    }
    e->zoomX = e->stepX ? (int64_t{1} << 32) / e->stepX : 0;
    e->zoomY = e->stepY ? (int64_t{1} << 32) / e->stepY : 0;
}

int maskSize(uint32_t m) { return MGetMaskSize(m); }
int maskPos(uint32_t m) { return MGetMaskPos(m); }

} // namespace

void MPPDestroyIn(PPEngine* engine) { destroyEngine(engine); }

int64_t MCMul(const PPEngineContext* ctx, int64_t coefficient, bool withSaturation)
{
    int64_t v = coefficient;
    if (withSaturation)
        v = gainK(halveNegative(ctx->saturation), v);
    return gainK(halveNegative(ctx->contrast), v);
}

MResult MPPCreateIn(const PPFormat* dst, const PPFormat* src, const PPPara* para, PPEngine** out, int64_t extentX,
                    int64_t extentY)
{
    if (!dst || !src || !para || !out)
        return MERR_INVALID_PARAM;
    *out = nullptr;
    // Sizes must be positive; an engine cannot walk a negative extent.
    if (dst->lWidth < 1 || dst->lHeight < 1 || src->lWidth < 1 || src->lHeight < 1)
        return MERR_INVALID_PARAM;
    // Keep every coordinate product of the kernels inside 32 bits of pixels and 48 bits of 16.16.
    constexpr int64_t kMaxSide = int64_t{1} << 24;
    if (dst->lWidth > kMaxSide || dst->lHeight > kMaxSide || src->lWidth > kMaxSide || src->lHeight > kMaxSide)
        return MERR_UNSUPPORTED;
    if (para->lSrcOriginX < 0 || para->lSrcOriginY < 0 || para->lSrcOriginX > kMaxSide ||
        para->lSrcOriginY > kMaxSide || para->lDstOriginX < -kMaxSide || para->lDstOriginX > kMaxSide ||
        para->lDstOriginY < -kMaxSide || para->lDstOriginY > kMaxSide)
        return MERR_INVALID_PARAM;
    // A partial extent covers more than the source's last pixel but not more than the source;
    // fit and fill work on whole pixels, so they take whole sources only.
    if (extentX == 0)
        extentX = src->lWidth << 16;
    if (extentY == 0)
        extentY = src->lHeight << 16;
    if (extentX <= (src->lWidth - 1) << 16 || extentX > src->lWidth << 16 || extentY <= (src->lHeight - 1) << 16 ||
        extentY > src->lHeight << 16)
        return MERR_INVALID_PARAM;
    if ((para->lAspectMode & (PP_ASPECT_FIT | PP_ASPECT_FILL)) &&
        (extentX != src->lWidth << 16 || extentY != src->lHeight << 16))
        return MERR_INVALID_PARAM;

    void* engineMem = MMemAlloc(nullptr, sizeof(PPEngine));
    void* ctxMem = MMemAlloc(nullptr, sizeof(PPEngineContext));
    if (!engineMem || !ctxMem) {
        MMemFree(nullptr, engineMem);
        MMemFree(nullptr, ctxMem);
        return MERR_NO_MEMORY;
    }
    PPEngine* e = new (engineMem) PPEngine{};
    PPEngineContext* ctx = new (ctxMem) PPEngineContext{};
    e->ctx = ctx;
    auto fail = [&](MResult r) {
        destroyEngine(e);
        return r;
    };

    ctx->para = *para;
    ctx->dither = para->lDither;
    ctx->alpha = static_cast<uint64_t>(para->lAlpha) < 256 ? static_cast<int>(para->lAlpha) : 255;

    MResult r = MMapPixel(dst, &ctx->dstMap);
    if (r == MOK)
        r = MMapPixel(src, &ctx->srcMap);
    if (r != MOK)
        return fail(r);
    const bool srcPalette = ((static_cast<uint64_t>(src->lColorID) >> 28) & 0xF) == 4;
    const bool dstPalette = ((static_cast<uint64_t>(dst->lColorID) >> 28) & 0xF) == 4;
    if (dstPalette)
        return fail(MERR_UNSUPPORTED); // the engine does not quantise
    // A palette source without its palette cannot be read.
    if (srcPalette && !src->pPalette)
        return fail(MERR_INVALID_PARAM);

    e->orientation = static_cast<uint32_t>(para->lOrientation) & 7;
    const bool swap = e->orientation & PP_ORIENT_SWAPXY;
    e->dstWidth = dst->lWidth;
    e->dstHeight = dst->lHeight;
    e->dstAreaX = para->lDstOriginX;
    e->dstAreaY = para->lDstOriginY;
    e->dstAreaW = dst->lWidth;
    e->dstAreaH = dst->lHeight;
    e->orientedW = swap ? dst->lHeight : dst->lWidth;
    e->orientedH = swap ? dst->lWidth : dst->lHeight;
    e->srcOriginX = para->lSrcOriginX;
    e->srcOriginY = para->lSrcOriginY;
    e->srcWidth = src->lWidth;
    e->srcHeight = src->lHeight;
    e->resampleMode = para->lResampleMode;
    e->bandMode = para->lBandMode;
    e->rotated = swap;

    // The steps map the target onto the covered extent of the source, so that a source whose
    // last column is only partly image is not stretched over that column as if it were whole.
    const double coveredW = static_cast<double>(extentX) / 65536.0, coveredH = static_cast<double>(extentY) / 65536.0;
    e->stepX = static_cast<int64_t>(coveredW / static_cast<double>(e->orientedW) * 65536.0);
    e->stepY = static_cast<int64_t>(coveredH / static_cast<double>(e->orientedH) * 65536.0);
    e->zoomX = static_cast<int64_t>(static_cast<double>(e->orientedW) / coveredW * 65536.0);
    e->zoomY = static_cast<int64_t>(static_cast<double>(e->orientedH) / coveredH * 65536.0);
    if (e->stepX == 0 || e->stepY == 0)
        return fail(MERR_INVALID_PARAM);

    ctx->brightness = static_cast<int>(std::clamp<int64_t>(para->lBrightness, -128, 128));
    ctx->contrast = static_cast<int>(std::clamp<int64_t>(para->lContrast, -128, 128));
    ctx->saturation = static_cast<int>(std::clamp<int64_t>(para->lSaturation, -128, 128));
    ctx->oneToOne = e->stepX == 65536 && e->stepY == 65536;
    ctx->bilinear = para->lResampleMode == PP_RESAMPLE_BILINEAR && !ctx->oneToOne;

    if ((r = MFormatColorID_GetBPP(&ctx->dstMap, &ctx->dstSet)) != MOK ||
        (r = MInitConvertParam(&ctx->dstMap, &ctx->dstSet)) != MOK ||
        (r = MFormatColorID_GetBPP(&ctx->srcMap, &ctx->srcSet)) != MOK ||
        (r = MInitConvertParam(&ctx->srcMap, &ctx->srcSet)) != MOK)
        return fail(r);
    for (int i = 0; i < 3; ++i) {
        ctx->dstMaskSize[i] = maskSize(ctx->dstMap.mask[i]);
        ctx->dstMaskPos[i] = maskPos(ctx->dstMap.mask[i]);
        ctx->srcMaskSize[i] = maskSize(ctx->srcMap.mask[i]);
        ctx->srcMaskPos[i] = maskPos(ctx->srcMap.mask[i]);
    }

    const bool dstRGB = ctx->dstMap.layout == PPL_RGB, srcRGB = ctx->srcMap.layout == PPL_RGB;
    ctx->convClass = srcRGB ? (dstRGB ? PPC_RGB2RGB : PPC_RGB2YUV) : (dstRGB ? PPC_YUV2RGB : PPC_YUV2YUV);
    if (!srcRGB && ctx->srcMap.yuvStandard != STD_601_FULL && ctx->srcMap.yuvStandard != STD_709_VIDEO &&
        ctx->srcMap.yuvStandard != STD_709_FULL)
        ctx->srcMap.yuvStandard = STD_601_VIDEO;
    if (!dstRGB && ctx->dstMap.yuvStandard != STD_601_FULL && ctx->dstMap.yuvStandard != STD_709_VIDEO &&
        ctx->dstMap.yuvStandard != STD_709_FULL)
        ctx->dstMap.yuvStandard = STD_601_VIDEO;
    if (ctx->convClass == PPC_YUV2YUV)
        ctx->needRangeTable = ctx->brightness || ctx->contrast || ctx->saturation ||
                              ((ctx->srcMap.yuvStandard & 3) != (ctx->dstMap.yuvStandard & 3));
    // Dithering is for 16-bit RGB targets only.
    if (((static_cast<uint64_t>(dst->lColorID) >> 24) & 0xFF) != 0x15)
        ctx->dither = 0;

    ctx->blockMode = PPChooseBlockMode(para->lBlockMode, ctx->dstMap.layout, ctx->srcMap.layout, srcPalette,
                                       ctx->bilinear, ctx->oneToOne, e->orientation, ctx->needRangeTable,
                                       &ctx->specialPlanar);
    const int blockSize = ctx->blockMode == 3 ? 4 : ctx->blockMode == 2 ? 2 : 1;
    if (para->lAspectMode & (PP_ASPECT_FIT | PP_ASPECT_FILL))
        applyAspect(e, para->lAspectMode, blockSize);

    // Source rectangle: the given one, kept inside the source area, else the whole area.
    const MRECT area{e->srcOriginX, e->srcOriginY, e->srcOriginX + e->srcWidth, e->srcOriginY + e->srcHeight};
    if (para->lSrcLeft || para->lSrcTop || para->lSrcRight || para->lSrcBottom) {
        e->srcRect = MRECT{para->lSrcLeft, para->lSrcTop, para->lSrcRight, para->lSrcBottom};
        AdjustRect(&e->srcRect, &area);
        if (e->srcRect.right <= e->srcRect.left || e->srcRect.bottom <= e->srcRect.top)
            return fail(MERR_INVALID_PARAM);
    } else {
        e->srcRect = area;
    }

    if ((r = buildTables(ctx)) != MOK)
        return fail(r);

    // Target span of the source rectangle, in oriented coordinates.
    const auto spanStart = [](int64_t edge, int64_t origin, int64_t step) {
        return (((edge - origin) << 16) + step / 2 + 32768) / step;
    };
    const auto spanEnd = [](int64_t edge, int64_t origin, int64_t step) {
        return (((65535 - origin + edge) << 16) + step / 2 + 32768) / step + 1;
    };
    e->span = MRECT{spanStart(e->srcRect.left, e->srcOriginX, e->stepX),
                    spanStart(e->srcRect.top, e->srcOriginY, e->stepY),
                    spanEnd(e->srcRect.right, e->srcOriginX, e->stepX),
                    spanEnd(e->srcRect.bottom, e->srcOriginY, e->stepY)};

    // Per-column and per-row sampling positions, clamped into the source rectangle.
    ctx->colIndex = allocArray<int32_t>(2 * e->orientedW);
    ctx->colFrac = allocArray<uint16_t>(e->orientedW);
    ctx->rowIndex = allocArray<int32_t>(2 * e->orientedH);
    ctx->rowFrac = allocArray<uint16_t>(e->orientedH);
    if (!ctx->colIndex || !ctx->colFrac || !ctx->rowIndex || !ctx->rowFrac)
        return fail(MERR_NO_MEMORY);
    fillAxis(e->orientedW, e->srcOriginX, e->stepX, ctx->bilinear, e->srcRect.left, e->srcRect.right,
             ctx->colIndex, ctx->colFrac);
    fillAxis(e->orientedH, e->srcOriginY, e->stepY, ctx->bilinear, e->srcRect.top, e->srcRect.bottom,
             ctx->rowIndex, ctx->rowFrac);

    e->dst = ctx->dstSet;
    e->src = ctx->srcSet;
    *out = e;
    return MOK;
}

namespace {
std::atomic<int64_t> g_liveHandles{0};
std::atomic<int64_t> g_createdHandles{0};
} // namespace

int64_t PPDebugLiveHandles() { return g_liveHandles.load(); }
int64_t PPDebugCreatedHandles() { return g_createdHandles.load(); }

extern "C" {

MResult MPPCreate(PPFormat* pDstFormat, PPFormat* pSrcFormat, PPPara* pPara, PPHandle* phPP)
{
    return MPPCreateWithExtent(pDstFormat, pSrcFormat, pPara, 0, 0, phPP);
}

MResult MPPCreateWithExtent(PPFormat* pDstFormat, PPFormat* pSrcFormat, PPPara* pPara, MInt64 extentX, MInt64 extentY,
                            PPHandle* phPP)
{
    if (!phPP)
        return MERR_INVALID_PARAM;
    *phPP = nullptr;
    if (!pDstFormat || !pSrcFormat || !pPara)
        return MERR_INVALID_PARAM;
    void* mem = MMemAlloc(nullptr, sizeof(PPHandleRecord));
    if (!mem)
        return MERR_NO_MEMORY;
    auto* h = new (mem) PPHandleRecord{};
    h->blockMode = static_cast<int32_t>(pPara->lBlockMode);

    // The engine reads the 32-bit RGBA IDs as their unused-byte twins; the caller's records are
    // restored on every path.
    const MInt64 dstID = pDstFormat->lColorID, srcID = pSrcFormat->lColorID, dither = pPara->lDither;
    const auto twin = [](MInt64 id) -> MInt64 {
        if (id == 0x37001777) return 0x17001777;
        if (id == 0x37000777) return 0x17000777;
        return id;
    };
    pDstFormat->lColorID = twin(dstID);
    pSrcFormat->lColorID = twin(srcID);
    if (((static_cast<uint64_t>(pDstFormat->lColorID) >> 24) & 0xFF) != 0x15)
        pPara->lDither = 0;

    MResult r = MOK;
    if (pPara->lBlockMode == PP_BLOCK_AUTO) {
        PPPara copy = *pPara;
        for (int i = 0; i < 3 && r == MOK; ++i) {
            copy.lBlockMode = i + 1;
            r = MPPCreateIn(pDstFormat, pSrcFormat, &copy, &h->engine[i], extentX, extentY);
        }
    } else {
        r = MPPCreateIn(pDstFormat, pSrcFormat, pPara, &h->engine[0], extentX, extentY);
    }
    pDstFormat->lColorID = dstID;
    pSrcFormat->lColorID = srcID;
    pPara->lDither = dither;
    if (r != MOK) {
        MPPDestroy(h);
        return r;
    }
    *phPP = h;
    ++g_liveHandles;
    ++g_createdHandles;
    return MOK;
}

MResult MPPDestroy(PPHandle hPP)
{
    if (!hPP)
        return MOK;
    // Handles that failed half-way were never counted as made.
    if (hPP->engine[0] && (hPP->blockMode != PP_BLOCK_AUTO || hPP->engine[2]))
        --g_liveHandles;
    for (PPEngine* e : hPP->engine)
        destroyEngine(e);
    hPP->~PPHandleRecord();
    MMemFree(nullptr, hPP);
    return MOK;
}

MResult PostProcessGetVersionInfo(MDWord* pMajor, MDWord* pMinor, MDWord* pBuild, MChar* szText, MInt64 size)
{
    if (pMajor) *pMajor = 1;
    if (pMinor) *pMinor = 0;
    if (pBuild) *pBuild = 8;
    if (szText && size >= 9)
        std::memcpy(szText, "01072013", 9);
    return MOK;
}

} // extern "C"
