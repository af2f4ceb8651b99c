// Small bitmap utilities: colour to YUV, the logo stamp, rectangles, result filtering, stream copy.
#include "MdBitmap.h"
#include "MdColorID.h"
#include "MdPPWrapper.h"

#include "MMemory.h"

#include <algorithm>
#include <array>

namespace {

MResult rgbToYUV(AMCMHandle hAMCM, MUInt64 target, MInt64 c0, MInt64 c1, MInt64 c2, MByte* pY, MByte* pU, MByte* pV)
{
    if (!pY || !pU || !pV)
        return MERR_INVALID_PARAM;
    // A 1 x 1 bitmap of memory order R, G, B. The arguments are R, G, B in that order, the order in
    // which the fills pass a colour value's bytes (bits 0-7 are red there as in every RGB fill);
    // taking them the other way round would fill YUV bitmaps with red and blue exchanged.
    MByte src[16] = {static_cast<MByte>(c0), static_cast<MByte>(c1), static_cast<MByte>(c2)};
    MByte y[16] = {}, u[16] = {}, v[16] = {};
    PPFormat dstFmt{static_cast<MInt64>(target), 1, 1, nullptr};
    PPFormat srcFmt{0x16001777, 1, 1, nullptr};
    PPPara para{};
    para.lBlockMode = PP_BLOCK_AUTO;
    MdPPWrapper* wrapper = nullptr;
    PPHandle h = nullptr;
    MResult r = MdPPWrapperCreateEx(hAMCM, &wrapper, &dstFmt, &srcFmt, &para, &h);
    if (r != MOK)
        return r;
    MByte* dstPlanes[3] = {y, u, v};
    const MByte* srcPlanes[3] = {src, nullptr, nullptr};
    const MInt64 pitches[3] = {16, 16, 16};
    const MRECT rect{0, 0, 1, 1};
    r = MPProcess(h, dstPlanes, &rect, pitches, srcPlanes, pitches);
    MdPPWrapperDestroy(wrapper);
    if (r == MOK) {
        *pY = y[0];
        *pU = u[0];
        *pV = v[0];
    }
    return r;
}

constexpr int kLogoW = 60, kLogoH = 18, kLogoRowBytes = 15;

// The logo: a framed mark with a stylised K, stored bottom row first, four 2-bit codes per byte
// (lowest bits first): 0 black, 1 logo colour, 2 and 3 leave the pixel.
constexpr std::array<MByte, kLogoRowBytes * kLogoH> makeLogo()
{
    std::array<MByte, kLogoRowBytes * kLogoH> bytes{};
    for (int storedRow = 0; storedRow < kLogoH; ++storedRow) {
        const int y = kLogoH - 1 - storedRow; // drawn row
        for (int x = 0; x < kLogoW; ++x) {
            int code = 3;
            const bool frame = x == 0 || x == kLogoW - 1 || y == 0 || y == kLogoH - 1;
            const int kx = x - 6, ky = y - 3; // the K inside a 12 x 12 cell
            const bool stem = kx >= 0 && kx < 2 && ky >= 0 && ky < 12;
            const int diag = ky < 6 ? 6 - ky : ky - 5;
            const bool arm = ky >= 0 && ky < 12 && kx >= 2 + diag - 1 && kx <= 2 + diag;
            const bool bar = y >= 8 && y < 10 && x >= 22 && x < 54;
            if (frame)
                code = 0;
            else if (stem || arm || bar)
                code = 1;
            bytes[storedRow * kLogoRowBytes + x / 4] |= static_cast<MByte>(code << (2 * (x % 4)));
        }
    }
    return bytes;
}

constexpr auto kLogo = makeLogo();

} // namespace

extern "C" {

MResult MdUtilRGB2YUV(AMCMHandle hAMCM, MInt64 c0, MInt64 c1, MInt64 c2, MByte* pY, MByte* pU, MByte* pV)
{
    return rgbToYUV(hAMCM, 0x50000811, c0, c1, c2, pY, pU, pV);
}

MResult MdUtilRGB2YUV_YCbCr(AMCMHandle hAMCM, MInt64 c0, MInt64 c1, MInt64 c2, MByte* pY, MByte* pU, MByte* pV)
{
    return rgbToYUV(hAMCM, 0x50001811, c0, c1, c2, pY, pU, pV);
}

MResult MdUtilsGetLogoSize(MInt64* pWidth, MInt64* pHeight)
{
    if (!pWidth || !pHeight)
        return MERR_INVALID_PARAM;
    *pWidth = 62;
    *pHeight = 20;
    return MOK;
}

MResult MdUtilsAddLogo(MBITMAP* pBitmap, MInt64 x, MInt64 y)
{
    if (!pBitmap || pBitmap->lWidth < 63 || pBitmap->lHeight < 21 || !pBitmap->pPlane[0])
        return MERR_INVALID_PARAM;
    x = std::clamp<MInt64>(x, 0, pBitmap->lWidth - 62);
    y = std::clamp<MInt64>(y, 0, pBitmap->lHeight - 20);
    const uint64_t f = pBitmap->dwPixelArrayFormat;
    int bytes = 0, first = 0;
    MByte colour[3] = {};
    uint16_t word = 0;
    switch (f) {
    case 0x15000454: bytes = 2; word = 0x289E; break;
    case 0x15001454: bytes = 2; word = 0xF085; break;
    case 0x16000777: bytes = 3; colour[0] = 45; colour[1] = 16; colour[2] = 246; break;
    case 0x16001777: bytes = 3; colour[0] = 246; colour[1] = 16; colour[2] = 45; break;
    case 0x37001777: bytes = 4; colour[0] = 246; colour[1] = 16; colour[2] = 45; break;
    case 0x37004777: bytes = 4; colour[0] = 45; colour[1] = 16; colour[2] = 246; break;
    case 0x37000777: bytes = 4; first = 1; colour[0] = 45; colour[1] = 16; colour[2] = 246; break;
    case 0x37005777: bytes = 4; first = 1; colour[0] = 246; colour[1] = 16; colour[2] = 45; break;
    default: return MOK;
    }
    if (pBitmap->lPitch[0] < pBitmap->lWidth * bytes)
        return MERR_INVALID_PARAM;
    for (int row = 0; row < kLogoH; ++row) {
        const MByte* codes = &kLogo[(kLogoH - 1 - row) * kLogoRowBytes];
        MByte* line = pBitmap->pPlane[0] + (y + row) * pBitmap->lPitch[0] + x * bytes;
        for (int col = 0; col < kLogoW; ++col) {
            const int code = (codes[col / 4] >> (2 * (col % 4))) & 3;
            if (code > 1)
                continue;
            MByte* px = line + col * bytes;
            if (bytes == 2) {
                const uint16_t v = code == 1 ? word : 0;
                px[0] = static_cast<MByte>(v);
                px[1] = static_cast<MByte>(v >> 8);
            } else {
                for (int k = 0; k < 3; ++k)
                    px[first + k] = code == 1 ? colour[k] : 0;
            }
        }
    }
    return MOK;
}

MResult MdUtilAddLogoEx(MBITMAP* pBitmap)
{
    if (!pBitmap)
        return MERR_INVALID_PARAM;
    const uint64_t f = pBitmap->dwPixelArrayFormat;
    if (f != 0x15000454 && f != 0x15001454 && f != 0x16001777 && f != 0x16000777)
        return MERR_UNSUPPORTED;
    return MOK;
}

MInt64 MdUtilIsRectValid(const MRECT* pRect, MInt64 lWidth, MInt64 lHeight)
{
    if (!pRect)
        return 0;
    return pRect->right - pRect->left >= 1 && pRect->bottom - pRect->top >= 1 && pRect->left >= 0 &&
           pRect->top >= 0 && pRect->right <= lWidth && pRect->bottom <= lHeight;
}

MResult MdUtilConvertErrorCode(MResult code, const MResult* pList, MInt64 count)
{
    if (code == MOK || !pList || count < 1)
        return code;
    for (MInt64 i = 0; i < count; ++i)
        if (pList[i] == code)
            return code;
    return pList[0];
}

MVoid MdUtilFlipUpDownRect(MInt64 lHeight, MRECT* pRect)
{
    if (!pRect)
        return;
    const MInt64 top = lHeight - pRect->bottom, bottom = lHeight - pRect->top;
    pRect->top = top;
    pRect->bottom = bottom;
}

MResult MdUtilCopyStream(MSTREAM src, MSTREAM dst)
{
    if (!src)
        return MERR_INVALID_PARAM;
    if (MStreamSeek(src, MSTREAM_SEEK_BEGIN, 0) != MOK)
        return MERR_FILE_SEEK;
    const MInt64 size = MStreamGetSize(src);
    if (size < 0)
        return MERR_FILE_READ;
    auto* buffer = static_cast<MByte*>(MMemAlloc(nullptr, static_cast<size_t>(std::max<MInt64>(size, 1))));
    if (!buffer)
        return MERR_NO_MEMORY;
    MResult result = MOK;
    MInt64 done = 0;
    while (done < size) {
        const MInt64 n = MStreamRead(src, buffer + done, size - done);
        if (n <= 0) { // a short source stops the copy instead of looping
            result = MERR_FILE_READ;
            break;
        }
        done += n;
    }
    if (result == MOK && dst) {
        MInt64 written = 0;
        while (written < size) {
            const MInt64 n = MStreamWrite(dst, buffer + written, size - written);
            if (n <= 0) {
                result = MERR_FILE_WRITE;
                break;
            }
            written += n;
        }
    }
    MMemFree(nullptr, buffer);
    return result;
}

MUInt64 MdUtilPixelFormatNew2Old(MUInt64 dwColorID) { return MdUtilsNewColorID2Old(dwColorID); }

MResult s_GetSamplingFactors(MUInt64 dwColorID, MInt64* pHor, MInt64* pVer)
{
    if (!pHor || !pVer)
        return MERR_INVALID_PARAM;
    switch (dwColorID) {
    case 0x64000000: case 0x64001000: case 0x50000800: case 0x50001800: *pHor = 1; *pVer = 1; break;
    case 0x50000801: case 0x50001801: *pHor = 1; *pVer = 2; break;
    case 0x50000810: case 0x50001810: *pHor = 2; *pVer = 1; break;
    case 0x50000811: case 0x50001811: *pHor = 2; *pVer = 2; break;
    default: break;
    }
    return MOK;
}

} // extern "C"
