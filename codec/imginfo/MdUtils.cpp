// File type by extension, raw BMP dump and size fitting.
#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>
#include <strings.h>

#include "MFileReplace.h"
#include "MdImgInfo.h"

namespace {

void put16(uint8_t* p, uint32_t v) { p[0] = uint8_t(v), p[1] = uint8_t(v >> 8); }
void put32(uint8_t* p, uint32_t v) { put16(p, v & 0xFFFF), put16(p + 2, v >> 16); }

bool writeAll(MSTREAM s, const void* p, int64_t n) { return n == 0 || MStreamWrite(s, p, n) == n; }

// Ratios are in units of 1/1024.
MResult fitImageSize(MInt64 boxW, MInt64 boxH, MInt64* pW, MInt64* pH, double* pScale, bool fitIn) {
    if (!pW || !pH) return MERR_INVALID_PARAM;
    const int64_t W = *pW, H = *pH;
    if (boxW < 1 || boxH < 1 || W < 1 || H < 1) return MERR_INVALID_PARAM;
    if (W <= boxW && H <= boxH) {
        if (pScale) *pScale = 1.0;
        return MOK;
    }
    if (W > (INT64_MAX >> 10) || H > (INT64_MAX >> 10)) return MERR_INVALID_PARAM;
    const int64_t a = (W << 10) / boxW, b = (H << 10) / boxH;
    int64_t nw, nh;
    double scale;
    if ((fitIn && a > b) || (!fitIn && a < b)) {
        if (a == 0) return MERR_INVALID_PARAM;  // the width is below 1/1024 of the box
        nw = boxW;
        nh = (H << 10) / a;
        if (nh == 0) nh = 1;
        scale = double(nh) / double(H);
    } else {
        if (b == 0) return MERR_INVALID_PARAM;
        nh = boxH;
        nw = (W << 10) / b;
        if (nw == 0) nw = 1;
        scale = double(nw) / double(W);
    }
    *pW = nw;
    *pH = nh;
    if (pScale) *pScale = scale;
    return MOK;
}

// Rounds v * zoom to the nearest integer. A zoom that is not a finite number at or above zero,
// or a product beyond what a 64-bit size holds, is refused: converting it would be undefined.
bool zoomed(int64_t v, double zoom, int64_t* out) {
    if (!std::isfinite(zoom) || zoom < 0) return false;
    const double r = double(v) * zoom + 0.5;
    if (!(r > -9.0e18 && r < 9.0e18)) return false;
    *out = int64_t(r);
    return true;
}

}  // namespace

extern "C" {

ImgFormat MdUtilsGetFileType(const MChar* name) {
    if (!name) return 0;
    const char* dot = std::strrchr(name, '.');
    if (!dot || dot == name || dot[1] == 0) return 0;
    const char* ext = dot + 1;
    static const struct { const char* ext; ImgFormat type; } table[] = {
        {"bmp", MD_IMG_BMP}, {"jpg", MD_IMG_JPEG}, {"jpeg", MD_IMG_JPEG}, {"gif", MD_IMG_GIF},
        {"png", MD_IMG_PNG}, {"wbmp", MD_IMG_WBMP}, {"swf", MD_IMG_SWF}, {"svg", MD_IMG_SVG},
        {"svgz", MD_IMG_SVG}, {"tif", MD_IMG_TIFF}, {"tiff", MD_IMG_TIFF}, {"ico", MD_IMG_ICO},
        {"icon", MD_IMG_ICO},
    };
    for (const auto& e : table)
        if (strcasecmp(ext, e.ext) == 0) return e.type;
    return 0;
}

MInt64 MdUtilsSaveAsBmp(const MChar* name, const MByte* data, MInt64 width, MInt64 height, MInt64 bits) {
    if (!name || !data || width < 1 || height == 0 || height == INT32_MIN) return 0;
    if (width > INT32_MAX || height > INT32_MAX || height < INT32_MIN) return 0;
    if (bits != 1 && bits != 4 && bits != 8 && bits != 16 && bits != 24 && bits != 32) return 0;
    const int64_t rows = height < 0 ? -height : height;
    const int64_t rowSize = ((width * bits + 31) >> 5) * 4;
    const int64_t extra = bits == 16 ? 16 : bits == 8 ? 1024 : bits == 1 ? 8 : 0;
    if (rowSize > (int64_t(UINT32_MAX) - 54 - extra) / rows) return 0;
    const int64_t pixelBytes = rowSize * rows;

    uint8_t head[54] = {'B', 'M'};
    put32(head + 2, uint32_t(pixelBytes + 54 + extra));
    put32(head + 10, uint32_t(54 + extra));
    put32(head + 14, 40);
    put32(head + 18, uint32_t(width));
    put32(head + 22, uint32_t(int32_t(height)));
    put16(head + 26, 1);
    put16(head + 28, uint32_t(bits));
    put32(head + 30, bits == 16 ? 3 : 0);
    uint8_t ext[1024] = {};
    if (bits == 16) {
        put32(ext, 0xF800);
        put32(ext + 4, 0x07E0);
        put32(ext + 8, 0x001F);
    } else if (bits == 8) {
        for (int i = 0; i < 256; ++i) ext[4 * i] = ext[4 * i + 1] = ext[4 * i + 2] = uint8_t(i);
    } else if (bits == 1) {
        ext[4] = ext[5] = ext[6] = 255;
    }

    // Written beside the target and renamed over it only when complete.
    const bool ok = MFileReplace(name, [&](int, const std::string& temp) {
        MSTREAM s = MStreamOpenFromFileS(temp.c_str(), MSTREAM_MODE_WRITE);
        if (!s) return false;
        const bool written = writeAll(s, head, 54) && writeAll(s, ext, extra) && writeAll(s, data, pixelBytes) &&
                             MStreamFlush(s);
        return MStreamClose(s) && written;
    });
    return ok ? 1 : 0;
}

MResult MdUtilsCalcFitinSize(MInt64 boxW, MInt64 boxH, MInt64* pW, MInt64* pH, double* pScale) {
    return fitImageSize(boxW, boxH, pW, pH, pScale, true);
}

MResult MdUtilsCalcFitoutSize(MInt64 boxW, MInt64 boxH, MInt64* pW, MInt64* pH, double* pScale) {
    return fitImageSize(boxW, boxH, pW, pH, pScale, false);
}

MResult MdUtilsCalcZoomSize(MInt64* pW, MInt64* pH, double zoom) {
    if (!pW || !pH) return MERR_INVALID_PARAM;
    int64_t w, h;
    if (!zoomed(*pW, zoom, &w) || !zoomed(*pH, zoom, &h)) return MERR_INVALID_PARAM;
    *pW = w < 1 ? 1 : w;
    *pH = h < 1 ? 1 : h;
    return MOK;
}

MResult MdUtilsCalcZoomRegion(MInt64 rect[4], double zoom) {
    if (!rect) return MERR_INVALID_PARAM;
    int64_t out[4];
    for (int i = 0; i < 4; ++i)
        if (!zoomed(rect[i], zoom, &out[i])) return MERR_INVALID_PARAM;
    std::memcpy(rect, out, sizeof out);
    return MOK;
}

}  // extern "C"
