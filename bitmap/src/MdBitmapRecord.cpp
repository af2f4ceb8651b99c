// The bitmap record: plane layouts per pixel format, allocation, fills and mask building.
#include "MdBitmap.h"
#include "MdBitmapLayout.h"

#include "MMemory.h"

#include <algorithm>
#include <cstring>

namespace {

int64_t align16(int64_t v) { return (v + 15) / 16 * 16; }
int64_t rowBytes4(int64_t w, int64_t bits) { return (w * bits + 31) / 32 * 4; }

} // namespace

bool MdBitmapDescribeLayout(uint64_t format, int64_t w, int64_t h, MdBitmapLayout* out)
{
    MdBitmapLayout l{};
    const int64_t a16 = align16(w), hh = align16(h);
    switch (format) {
    case 0x15000454: case 0x15001454:
        l.kind = MdBitmapLayout::Packed; l.pitch[0] = rowBytes4(w, 16); l.minRow[0] = 2 * w; l.rows[0] = h; break;
    case 0x16000555: case 0x16001555: case 0x16000777: case 0x16001777:
        l.kind = MdBitmapLayout::Packed; l.pitch[0] = rowBytes4(w, 24); l.minRow[0] = 3 * w; l.rows[0] = h; break;
    case 0x17000777: case 0x17001777: case 0x37000777: case 0x37001777: case 0x37004777: case 0x37005777:
        l.kind = MdBitmapLayout::Packed; l.pitch[0] = 4 * w; l.minRow[0] = 4 * w; l.rows[0] = h; break;
    case 0x44000000:
        l.kind = MdBitmapLayout::Packed; l.pitch[0] = rowBytes4(w, 8); l.minRow[0] = w; l.rows[0] = h; break;
    case 0x64000000: case 0x64001000:
        l.kind = MdBitmapLayout::Packed; l.pitch[0] = a16; l.minRow[0] = w; l.rows[0] = hh; break;
    case 0x50000010: case 0x50001010: case 0x50000610: case 0x50001610:
        l.kind = MdBitmapLayout::Packed; l.pitch[0] = rowBytes4(w, 16); l.minRow[0] = (w + 1) / 2 * 4; l.rows[0] = hh;
        break;
    case 0x70000002: case 0x70001002: case 0x70000003: case 0x70001003:
        l.kind = MdBitmapLayout::SemiPlanar;
        l.pitch[0] = l.pitch[1] = l.pitch[2] = a16;
        l.minRow[0] = w; l.minRow[1] = l.minRow[2] = (w + 1) / 2 * 2;
        l.rows[0] = hh; l.rows[1] = hh / 2; l.rows[2] = 0;
        break;
    default: {
        int hs = 0, vs = 0;
        switch (format) {
        case 0x50000800: case 0x50001800: hs = 1; vs = 1; break;
        case 0x50000801: case 0x50001801: hs = 1; vs = 2; break;
        case 0x50000803: case 0x50001803: hs = 1; vs = 4; break;
        case 0x50000810: case 0x50001810: hs = 2; vs = 1; break;
        case 0x50000811: case 0x50001811: case 0x50000a11: hs = 2; vs = 2; break;
        case 0x50000830: case 0x50001830: hs = 4; vs = 1; break;
        default: return false;
        }
        l.kind = MdBitmapLayout::Planar;
        l.pitch[0] = a16;
        l.pitch[1] = l.pitch[2] = a16 / hs;
        l.minRow[0] = w;
        l.minRow[1] = l.minRow[2] = (w + hs - 1) / hs;
        l.rows[0] = hh;
        l.rows[1] = l.rows[2] = hh / vs;
        break;
    }
    }
    *out = l;
    return true;
}

namespace {

// Byte count of the block for the given pitches, or -1 when it overflows.
int64_t blockSize(const MdBitmapLayout& l, const int64_t pitch[3])
{
    int64_t total = 0;
    const int planes = l.kind == MdBitmapLayout::Planar ? 3 : l.kind == MdBitmapLayout::SemiPlanar ? 2 : 1;
    for (int i = 0; i < planes; ++i) {
        if (pitch[i] > 0 && l.rows[i] > INT64_MAX / pitch[i])
            return -1;
        const int64_t bytes = pitch[i] * l.rows[i];
        if (bytes > INT64_MAX - total)
            return -1;
        total += bytes;
    }
    return total;
}

} // namespace

extern "C" {

MResult MdBitmapAlloc(MBITMAP* pBitmap)
{
    if (!pBitmap)
        return MERR_INVALID_PARAM;
    if (pBitmap->lWidth < 0 || pBitmap->lHeight < 0)
        return MERR_INVALID_PARAM;
    if (pBitmap->lWidth < 1 || pBitmap->lHeight < 1)
        return MERR_UNSUPPORTED;
    // Sides beyond 2^28 cannot be allocated anyway; keeping them small keeps every product exact.
    if (pBitmap->lWidth > (int64_t{1} << 28) || pBitmap->lHeight > (int64_t{1} << 28))
        return MERR_INVALID_PARAM;
    MdBitmapLayout l;
    if (!MdBitmapDescribeLayout(pBitmap->dwPixelArrayFormat, pBitmap->lWidth, pBitmap->lHeight, &l))
        return MERR_UNSUPPORTED;

    int64_t pitch[3] = {l.pitch[0], l.pitch[1], l.pitch[2]};
    if (l.kind == MdBitmapLayout::Packed) {
        if (pBitmap->lPitch[0] != 0)
            pitch[0] = pBitmap->lPitch[0];
        pitch[1] = pitch[2] = 0;
    } else if (pBitmap->lPitch[0] && pBitmap->lPitch[1] && pBitmap->lPitch[2]) {
        for (int i = 0; i < 3; ++i)
            pitch[i] = pBitmap->lPitch[i];
    }
    // A caller's pitch must hold a row.
    const int planes = l.kind == MdBitmapLayout::Planar ? 3 : l.kind == MdBitmapLayout::SemiPlanar ? 2 : 1;
    for (int i = 0; i < planes; ++i)
        if (pitch[i] < l.minRow[i])
            return MERR_INVALID_PARAM;
    const int64_t size = blockSize(l, pitch);
    if (size < 0 || static_cast<uint64_t>(size) > SIZE_MAX)
        return MERR_INVALID_PARAM;
    for (int i = 0; i < 3; ++i)
        pBitmap->lPitch[i] = pitch[i];

    // Allocate first: on failure the record keeps its planes.
    auto* block = static_cast<MByte*>(MMemAlloc(nullptr, static_cast<size_t>(std::max<int64_t>(size, 1))));
    if (!block)
        return MERR_NO_MEMORY;
    std::memset(block, 0, static_cast<size_t>(size));
    if (pBitmap->pPlane[0])
        MMemFree(nullptr, pBitmap->pPlane[0]);
    pBitmap->pPlane[0] = block;
    pBitmap->pPlane[1] = pBitmap->pPlane[2] = nullptr;
    if (l.kind == MdBitmapLayout::Planar) {
        pBitmap->pPlane[1] = block + pitch[0] * l.rows[0];
        pBitmap->pPlane[2] = pBitmap->pPlane[1] + pitch[1] * l.rows[1];
    } else if (l.kind == MdBitmapLayout::SemiPlanar) {
        MByte* chroma = block + pitch[0] * l.rows[0];
        const uint64_t f = pBitmap->dwPixelArrayFormat;
        if (f == 0x70000002 || f == 0x70001002) {
            pBitmap->pPlane[2] = chroma;
            pBitmap->pPlane[1] = chroma + 1;
        } else {
            pBitmap->pPlane[1] = chroma;
            pBitmap->pPlane[2] = chroma + 1;
        }
    }
    return MOK;
}

MResult MdBitmapFree(MBITMAP* pBitmap)
{
    if (!pBitmap)
        return MERR_INVALID_PARAM;
    if (pBitmap->pPlane[0])
        MMemFree(nullptr, pBitmap->pPlane[0]);
    *pBitmap = MBITMAP{};
    return MOK;
}

} // extern "C"

namespace {

// old + ((new - old) * weight) >> 21, an arithmetic shift.
inline int blendChannel(int oldV, int newV, int64_t weight)
{
    return oldV + static_cast<int>(((newV - oldV) * weight) >> 21);
}

} // namespace

extern "C" MResult MdBitmapFillColor(AMCMHandle hAMCM, MBITMAP* pBitmap, MDWord dwColor, const MRECT* pRect,
                                     const MBITMAP* pMask, MInt64 lOpacity)
{
    if (!pBitmap || !pRect)
        return MERR_INVALID_PARAM;
    if (!pMask && lOpacity == 0)
        return MOK;
    if (pBitmap->lWidth < 0 || pBitmap->lHeight < 0)
        return MERR_INVALID_PARAM;
    if (pBitmap->lWidth < 1 || pBitmap->lHeight < 1)
        return MERR_UNSUPPORTED;
    const uint64_t f = pBitmap->dwPixelArrayFormat;
    const int64_t w = pBitmap->lWidth, h = pBitmap->lHeight;
    const bool rgb16 = f == 0x15000454 || f == 0x15001454, rgb24 = f == 0x16001777 || f == 0x16000777;
    const bool rgb32 = f == 0x37000777 || f == 0x37001777, yuv420 = f == 0x50000811 || f == 0x50001811;
    if (!rgb16 && !rgb24 && !rgb32 && !yuv420)
        return MERR_UNSUPPORTED;
    const int bytes = rgb16 ? 2 : rgb24 ? 3 : rgb32 ? 4 : 1;
    if (!pBitmap->pPlane[0] || pBitmap->lPitch[0] < w * bytes)
        return MERR_INVALID_PARAM;
    if (yuv420 && (!pBitmap->pPlane[1] || !pBitmap->pPlane[2] || pBitmap->lPitch[1] < (w + 1) / 2 ||
                   pBitmap->lPitch[2] < (w + 1) / 2))
        return MERR_INVALID_PARAM;
    if (h > INT64_MAX / pBitmap->lPitch[0])
        return MERR_INVALID_PARAM;

    // Whole-bitmap clear of a 16- or 24-bit bitmap.
    if (dwColor == 0 && pRect->left == 0 && pRect->top == 0 && pRect->right == w && pRect->bottom == h && !pMask &&
        lOpacity == 100 && (rgb16 || rgb24)) {
        std::memset(pBitmap->pPlane[0], 0, static_cast<size_t>(pBitmap->lPitch[0] * h));
        return MOK;
    }
    if (pMask) {
        if (pMask->lWidth < 1 || pMask->lHeight < 1)
            return MERR_UNSUPPORTED;
        if (pMask->dwPixelArrayFormat != 0x64000000 || !pMask->pPlane[0] || pMask->lPitch[0] < pMask->lWidth)
            return MERR_INVALID_PARAM;
    }
    MRECT r = *pRect;
    r.left = std::max<int64_t>(r.left, 0);
    r.top = std::max<int64_t>(r.top, 0);
    r.right = std::min(r.right, w);
    r.bottom = std::min(r.bottom, h);
    if (r.left >= r.right || r.top >= r.bottom)
        return MOK; // nothing of the rectangle lies in the bitmap
    const int64_t p = std::clamp<int64_t>(lOpacity, 0, 100);

    // Components: byte 0, 1, 2 of a 24/32-bit pixel.
    const bool lowFirst = f == 0x16001777 || f == 0x15000454 || f == 0x37001777;
    int c[3];
    if (lowFirst) {
        c[0] = dwColor & 0xFF; c[1] = (dwColor >> 8) & 0xFF; c[2] = (dwColor >> 16) & 0xFF;
    } else {
        c[0] = (dwColor >> 16) & 0xFF; c[1] = (dwColor >> 8) & 0xFF; c[2] = dwColor & 0xFF;
    }
    const auto weightAt = [&](int64_t x, int64_t y) -> int64_t {
        if (pMask && x < pMask->lWidth && y < pMask->lHeight) {
            const int m = pMask->pPlane[0][y * pMask->lPitch[0] + x];
            return static_cast<int64_t>(255 - m) * p * 81;
        }
        return p * 20736;
    };
    MByte* base = pBitmap->pPlane[0];
    const int64_t pitch = pBitmap->lPitch[0];

    if (!yuv420) {
        const uint16_t packed16 = static_cast<uint16_t>(((c[0] << 8) & 0xF800) | ((c[1] << 3) & 0x07E0) | (c[2] >> 3));
        if (!pMask && p == 100) {
            // Fast fill: one row, then copied.
            MByte* first = base + r.top * pitch + r.left * bytes;
            for (int64_t x = 0; x < r.right - r.left; ++x) {
                MByte* px = first + x * bytes;
                if (rgb16) {
                    std::memcpy(px, &packed16, 2);
                } else {
                    px[0] = static_cast<MByte>(c[0]);
                    px[1] = static_cast<MByte>(c[1]);
                    px[2] = static_cast<MByte>(c[2]);
                    if (rgb32)
                        px[3] = 255;
                }
            }
            const size_t rowLen = static_cast<size_t>((r.right - r.left) * bytes);
            for (int64_t y = r.top + 1; y < r.bottom; ++y)
                std::memcpy(base + y * pitch + r.left * bytes, first, rowLen);
            return MOK;
        }
        for (int64_t y = r.top; y < r.bottom; ++y) {
            for (int64_t x = r.left; x < r.right; ++x) {
                MByte* px = base + y * pitch + x * bytes;
                const int64_t wgt = weightAt(x, y);
                const bool insideMask = pMask && x < pMask->lWidth && y < pMask->lHeight;
                if (rgb16) {
                    uint16_t old;
                    std::memcpy(&old, px, 2);
                    uint16_t value = packed16;
                    if (insideMask || p != 100) {
                        const int o0 = (old & 0xF800) >> 8, o1 = (old & 0x07E0) >> 3, o2 = (old & 0x1F) * 8;
                        const int n0 = blendChannel(o0, c[0], wgt), n1 = blendChannel(o1, c[1], wgt),
                                  n2 = blendChannel(o2, c[2], wgt);
                        value = static_cast<uint16_t>(((n0 << 8) & 0xF800) | ((n1 << 3) & 0x07E0) | ((n2 >> 3) & 0x1F));
                    }
                    std::memcpy(px, &value, 2);
                } else {
                    for (int k = 0; k < 3; ++k)
                        px[k] = (insideMask || p != 100) ? static_cast<MByte>(blendChannel(px[k], c[k], wgt))
                                                         : static_cast<MByte>(c[k]);
                    if (rgb32 && !pMask)
                        px[3] = 255;
                }
            }
        }
        return MOK;
    }

    // YUV 4:2:0: one chroma sample per 2 x 2 block, so the rectangle is made even.
    MByte yy = 0, uu = 0, vv = 0;
    const int r0 = dwColor & 0xFF, g0 = (dwColor >> 8) & 0xFF, b0 = (dwColor >> 16) & 0xFF;
    const MResult res = f == 0x50000811 ? MdUtilRGB2YUV(hAMCM, r0, g0, b0, &yy, &uu, &vv)
                                        : MdUtilRGB2YUV_YCbCr(hAMCM, r0, g0, b0, &yy, &uu, &vv);
    if (res != MOK)
        return res == MERR_NO_MEMORY || res == MERR_UNSUPPORTED ? res : MERR_INVALID_PARAM;
    r.left &= ~int64_t{1};
    r.top &= ~int64_t{1};
    r.right &= ~int64_t{1};
    r.bottom &= ~int64_t{1};
    if (r.right - r.left < 2 || r.bottom - r.top < 2)
        return MOK;
    for (int64_t y = r.top; y < r.bottom; ++y) {
        for (int64_t x = r.left; x < r.right; ++x) {
            const int64_t wgt = weightAt(x, y);
            MByte* py = base + y * pitch + x;
            *py = static_cast<MByte>(blendChannel(*py, yy, wgt));
            if (!(x & 1) && !(y & 1)) {
                MByte* pu = pBitmap->pPlane[1] + (y / 2) * pBitmap->lPitch[1] + x / 2;
                MByte* pv = pBitmap->pPlane[2] + (y / 2) * pBitmap->lPitch[2] + x / 2;
                *pu = static_cast<MByte>(blendChannel(*pu, uu, wgt));
                *pv = static_cast<MByte>(blendChannel(*pv, vv, wgt));
            }
        }
    }
    return MOK;
}

extern "C" MResult MdGetMaskBuffer(const MBITMAP* pSrc, MDWord dwColorA, MDWord dwColorB, MBITMAP* pMask)
{
    if (!pSrc || !pMask || pSrc->lWidth != pMask->lWidth || pSrc->lHeight != pMask->lHeight || dwColorA == dwColorB)
        return MERR_INVALID_PARAM;
    if (pSrc->dwPixelArrayFormat != 0x16000777 || pMask->dwPixelArrayFormat != 0x64000000)
        return MERR_UNSUPPORTED;
    const int64_t w = pSrc->lWidth, h = pSrc->lHeight;
    if (w < 1 || h < 1 || !pSrc->pPlane[0] || !pMask->pPlane[0] || pSrc->lPitch[0] < 3 * w || pMask->lPitch[0] < w)
        return MERR_INVALID_PARAM;
    const int a[3] = {static_cast<int>((dwColorA >> 16) & 0xFF), static_cast<int>((dwColorA >> 8) & 0xFF),
                      static_cast<int>(dwColorA & 0xFF)};
    const int b[3] = {static_cast<int>((dwColorB >> 16) & 0xFF), static_cast<int>((dwColorB >> 8) & 0xFF),
                      static_cast<int>(dwColorB & 0xFF)};
    int k = 0;
    while (k < 3 && a[k] == b[k])
        ++k;
    if (k == 3)
        return MERR_INVALID_PARAM;
    for (int64_t y = 0; y < h; ++y) {
        const MByte* s = pSrc->pPlane[0] + y * pSrc->lPitch[0];
        MByte* m = pMask->pPlane[0] + y * pMask->lPitch[0];
        for (int64_t x = 0; x < w; ++x, s += 3) {
            const int px[3] = {s[0], s[1], s[2]};
            if (px[0] == b[0] && px[1] == b[1] && px[2] == b[2]) {
                m[x] = 255;
            } else if (px[0] == a[0] && px[1] == a[1] && px[2] == a[2]) {
                m[x] = 0;
            } else {
                const int t = (px[k] - b[k]) * 255 / (a[k] - b[k]);
                m[x] = static_cast<MByte>(t < 0 ? 255 : t <= 255 ? 255 - t : 0);
            }
        }
    }
    return MOK;
}
