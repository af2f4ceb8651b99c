// The colour ID model: the pairing table between the two numberings and the describing functions.
#include "MdColorID.h"

extern "C" const MColorPair g_arrColorPair[MCOLOR_PAIR_COUNT] = {
    {0x01, 0x16001777, 0}, {0x02, 0x16000777, 0}, {0x03, 0x16000555, 0}, {0x04, 0x16001555, 0},
    {0x05, 0x15000454, 0}, {0x06, 0x15001454, 0}, {0x07, 0x50001210, 0}, {0x07, 0x50000210, 1},
    {0x08, 0x50001010, 0}, {0x08, 0x50000010, 1}, {0x09, 0x50001410, 0}, {0x09, 0x50000410, 1},
    {0x0A, 0x50001610, 0}, {0x0A, 0x50000610, 1}, {0x0B, 0x50001210, 0}, {0x0B, 0x50000210, 1},
    {0x0C, 0x50001010, 0}, {0x0C, 0x50000010, 1}, {0x0D, 0x50001610, 0}, {0x0D, 0x50000610, 1},
    {0x0E, 0x50001410, 0}, {0x0E, 0x50000410, 1}, {0x0F, 0x50001811, 0}, {0x0F, 0x50000811, 1},
    {0x11, 0x15000333, 0}, {0x21, 0x15001333, 0}, {0x13, 0x50001801, 0}, {0x13, 0x50000801, 1},
    {0x14, 0x50001810, 0}, {0x14, 0x50000810, 1}, {0x15, 0x50001800, 0}, {0x15, 0x50000800, 1},
    {0x16, 0x41000000, 0}, {0x17, 0x42000000, 0}, {0x18, 0x43000000, 0}, {0x19, 0x44000000, 0},
    {0x1A, 0x61000000, 0}, {0x1B, 0x62000000, 0}, {0x1C, 0x63000000, 0}, {0x1D, 0x64001000, 0},
    {0x1D, 0x64000000, 1}, {0x1E, 0x65000000, 0}, {0x20, 0x15000444, 0}, {0x1F, 0x15001444, 0},
    {0x24, 0x37001777, 0}, {0x25, 0x37000777, 0}, {0x24, 0x37005777, 0}, {0x27, 0x50001A11, 0},
    {0x27, 0x50000A11, 1}, {0x28, 0x50001510, 0}, {0x28, 0x50000510, 1}, {0x29, 0x50001710, 0},
    {0x29, 0x50000710, 1}, {0x2A, 0x50001830, 0}, {0x2A, 0x50000830, 1}, {0x2B, 0x50001803, 0},
    {0x2B, 0x50000803, 1},
};

namespace {

struct Description {
    MUInt64 hor = 1, ver = 1, bits = 8, planes = 1, step = 1;
};

// Returns false for an ID that cannot be described.
bool describeNew(MUInt64 id, Description& d)
{
    const MUInt32 cls = MCOLOR_CLASS(id);
    if (cls == MCOLOR_CLASS_RGB || cls == MCOLOR_CLASS_RGBA) {
        switch ((id >> 24) & 0xF) {
        case 4: d.bits = 8; break;
        case 5: d.bits = 16; break;
        case 6: d.bits = 24; break;
        case 7: d.bits = 32; break;
        default: return false;
        }
        return true;
    }
    if (cls == MCOLOR_CLASS_YUV) {
        switch (id & ~MUInt64{0x3000}) {
        case 0x50000000: case 0x50000200: case 0x50000400: case 0x50000600:
            d.bits = 24; return true;
        case 0x50000010: case 0x50000110: case 0x50000210: case 0x50000310:
        case 0x50000410: case 0x50000510: case 0x50000610: case 0x50000710:
            d.bits = 16; return true;
        case 0x50000800: case 0x50000A00: d.planes = 3; return true;
        case 0x50000801: case 0x50000A01: d.planes = 3; d.ver = 2; return true;
        case 0x50000803: d.planes = 3; d.ver = 4; return true;
        case 0x50000810: case 0x50000A10: d.planes = 3; d.hor = 2; return true;
        case 0x50000811: case 0x50000A11: d.planes = 3; d.hor = 2; d.ver = 2; return true;
        case 0x50000813: d.planes = 3; d.hor = 2; d.ver = 4; return true;
        case 0x50000820: d.planes = 3; d.hor = 3; return true;
        case 0x50000830: d.planes = 3; d.hor = 4; return true;
        default: return false;
        }
    }
    if (cls == MCOLOR_CLASS_GRAY)
        return true;
    // Every other class (the semi-planar one among them) is described as two-plane 4:2:0 with
    // interleaved chroma.
    d.hor = 2; d.ver = 2; d.planes = 3; d.step = 2;
    return true;
}

template <typename T> void put(T* out, T value)
{
    if (out) *out = value;
}

} // namespace

extern "C" {

MUInt64 MdUtilsOldColorID2New(MUInt64 dwOldID)
{
    for (const MColorPair& row : g_arrColorPair)
        if (static_cast<MUInt64>(row.lOldID) == dwOldID && row.lSecondary == 0)
            return static_cast<MUInt64>(row.lNewID);
    return dwOldID;
}

MUInt64 MdUtilsNewColorID2Old(MUInt64 dwNewID)
{
    for (const MColorPair& row : g_arrColorPair)
        if (static_cast<MUInt64>(row.lNewID) == dwNewID)
            return static_cast<MUInt64>(row.lOldID);
    return dwNewID;
}

MResult MdUtilsFormatColorIDEx(MUInt64 dwColorID, MUInt64* pHorSub, MUInt64* pVerSub,
                               MUInt64* pBitsPerPixel, MUInt64* pPlanes, MUInt64* pChromaStep)
{
    Description d;
    if (!describeNew(dwColorID, d))
        return MERR_UNSUPPORTED;
    put(pHorSub, d.hor);
    put(pVerSub, d.ver);
    put(pBitsPerPixel, d.bits);
    put(pPlanes, d.planes);
    put(pChromaStep, d.step);
    return MOK;
}

MResult MdUtilsFormatColorID(MUInt64 dwColorID, MUInt64* pHorSub, MUInt64* pVerSub,
                             MUInt64* pBitsPerPixel, MUInt64* pPlanes)
{
    return MdUtilsFormatColorIDEx(dwColorID, pHorSub, pVerSub, pBitsPerPixel, pPlanes, nullptr);
}

MUInt64 MdUtilsFormatOldColorID(MUInt64 dwOldID, MUInt64* pHorSub, MUInt64* pVerSub,
                                MUInt64* pBitsPerPixel, MUInt64* pPlanes)
{
    put<MUInt64>(pHorSub, 1);
    put<MUInt64>(pVerSub, 1);
    put<MUInt64>(pPlanes, 1);
    put<MUInt64>(pBitsPerPixel, 8);
    const MUInt64 result = MdUtilsOldColorID2New(dwOldID);
    // Small IDs and large ones are told apart by a signed comparison.
    const MInt64 id = static_cast<MInt64>(dwOldID);
    auto planar = [&](MUInt64 h, MUInt64 v) {
        put(pHorSub, h);
        put(pVerSub, v);
        put<MUInt64>(pPlanes, 3);
    };
    switch (id) {
    case 0x01: case 0x02: case 0x03: case 0x04:
        put<MUInt64>(pBitsPerPixel, 24); return result;
    case 0x05: case 0x06: case 0x07: case 0x08: case 0x09: case 0x0A: case 0x0B: case 0x0C:
    case 0x0D: case 0x0E: case 0x11: case 0x1E: case 0x1F: case 0x20: case 0x21: case 0x28:
    case 0x29:
        put<MUInt64>(pBitsPerPixel, 16); return result;
    case 0x0F: case 0x27: planar(2, 2); return result;
    case 0x12: case 0x19: case 0x1D: return result;
    case 0x13: planar(1, 2); return result;
    case 0x14: planar(2, 1); return result;
    case 0x15: planar(1, 1); return result;
    case 0x16: case 0x1A: put<MUInt64>(pBitsPerPixel, 1); return result;
    case 0x17: case 0x1B: put<MUInt64>(pBitsPerPixel, 2); return result;
    case 0x18: case 0x1C: put<MUInt64>(pBitsPerPixel, 4); return result;
    case 0x22: case 0x23: case 0x24: case 0x25: put<MUInt64>(pBitsPerPixel, 32); return result;
    case 0x2A: planar(4, 1); return result;
    case 0x2B: planar(1, 4); return result;
    case 0x50000813: planar(2, 4); return result;
    case 0x70000002: case 0x70000003: case 0x70001002: case 0x70001003:
        planar(2, 2); return result;
    default:
        break;
    }
    // Anything else is described as a new ID; its result code does not matter here.
    (void)MdUtilsFormatColorIDEx(dwOldID, pHorSub, pVerSub, pBitsPerPixel, pPlanes, nullptr);
    return dwOldID;
}

MUInt64 MdUtilsGetColorDepth(MUInt64 dwOldID)
{
    switch (dwOldID) {
    case 0x01: case 0x02: case 0x03: case 0x04: return 24;
    case 0x05: case 0x06: case 0x11: case 0x1F: case 0x20: case 0x21: return 16;
    case 0x16: return 1;
    case 0x17: return 2;
    case 0x18: return 4;
    case 0x19: return 8;
    case 0x1A: return 1;
    case 0x1B: return 2;
    case 0x1C: return 4;
    case 0x1D: return 8;
    case 0x1E: return 16;
    case 0x22: case 0x23: case 0x24: case 0x25: return 32;
    default: return 0;
    }
}

MUInt64 MUtilsGetColorSpacePanes(MUInt64 dwOldID)
{
    if ((dwOldID >= 0x01 && dwOldID <= 0x06) || dwOldID == 0x11 || dwOldID == 0x12 ||
        (dwOldID >= 0x16 && dwOldID <= 0x25))
        return 1;
    if (dwOldID >= 0x0F && dwOldID <= 0x15 && dwOldID != 0x10 && dwOldID != 0x11 && dwOldID != 0x12)
        return 3;
    return 0;
}

MResult MUtilsFormat2MPixel(MUInt64 dwOldID, MPixelDesc* pDesc)
{
    if (!pDesc)
        return MERR_INVALID_PARAM;
    *pDesc = MPixelDesc{};
    auto set = [&](MUInt64 bits, MUInt64 m0, MUInt64 m1, MUInt64 m2) {
        pDesc->dwColorID = dwOldID;
        pDesc->dwBitsPerPixel = bits;
        pDesc->dwMask[0] = m0;
        pDesc->dwMask[1] = m1;
        pDesc->dwMask[2] = m2;
        return MOK;
    };
    switch (static_cast<MInt64>(dwOldID)) {
    case 0x01: return set(24, 0xFF, 0xFF00, 0xFF0000);
    case 0x02: return set(24, 0xFF0000, 0xFF00, 0xFF);
    case 0x03: return set(24, 0x3F000, 0xFC0, 0x3F);
    case 0x04: return set(24, 0x3F, 0xFC0, 0x3F000);
    case 0x05: return set(16, 0x1F, 0x7E0, 0xF800);
    case 0x06: return set(16, 0xF800, 0x7E0, 0x1F);
    case 0x11: return set(16, 0xF, 0xF0, 0xF00);
    case 0x1F: return set(16, 0x7C00, 0x3E0, 0x1F);
    case 0x20: return set(16, 0x1F, 0x3E0, 0x7C00);
    case 0x21: return set(16, 0xF00, 0xF0, 0xF);
    case 0x16: return set(1, 0xFF, 0xFF, 0xFF);
    case 0x17: return set(2, 0xFF, 0xFF, 0xFF);
    case 0x18: return set(4, 0xFF, 0xFF, 0xFF);
    case 0x19: return set(8, 0xFF, 0xFF, 0xFF);
    case 0x1A: return set(1, 0, 0, 0);
    case 0x1B: return set(2, 0, 0, 0);
    case 0x1C: return set(4, 0, 0, 0);
    case 0x1D: return set(8, 0, 0, 0);
    case 0x1E: return set(16, 0, 0, 0);
    case 0x12: return set(8, 0, 0, 0);
    case 0x22: case 0x23: case 0x24: case 0x25: return set(32, 0, 0, 0);
    case 0x0F: case 0x13: case 0x14: case 0x15:
    case 0x50000803: case 0x50000813: case 0x50000820:
        return set(0, 0, 0, 0);
    default:
        return MERR_UNSUPPORTED;
    }
}

} // extern "C"
