// BMP decoder component: the BMP decoder behind the component operation table.
#include <algorithm>
#include <cstdlib>

#include "BmpDecoder.h"
#include "ComponentCommon.h"
#include "MdColorID.h"

namespace {

using mdcomp::put;

struct BmpComponent {
    MDecComponentHead head;
    BMPHandle hDecoder;
    MSTREAM stream;
    MInt64 lOutWidth, lOutHeight;
    MInt64 lInversion;
    MInt64 bStarted;
    MInt64 lImgWidth, lImgHeight;
    MInt64 lBits;
    MInt64 bCutShort;  // the file is cut short: its rows come as blue, green, red, alpha
    MDecComponentFuncs table;
};

BmpComponent* self(MHandle h) { return static_cast<BmpComponent*>(h); }

MResult s_Init(MHandle h, MVoid* source) {
    auto* c = self(h);
    if (!c || !source) return MERR_INVALID_PARAM;
    auto stream = static_cast<MSTREAM>(source);
    if (c->hDecoder) {
        BMP_DecodeUninit(c->hDecoder);
    }
    c->hDecoder = nullptr;
    c->lInversion = c->bStarted = c->lBits = c->lImgWidth = c->lImgHeight = c->bCutShort = 0;
    MResult r = BMP_GetInfoFromFile(stream, &c->lImgWidth, &c->lImgHeight, &c->lBits);
    if (r != MOK) return r;
    MStreamSeek(stream, MSTREAM_SEEK_BEGIN, 0);
    r = BMP_DecodeInit(stream, &c->hDecoder);
    if (r != MOK) {
        c->hDecoder = nullptr;
        return r;
    }
    BMP_DecodeIsCutShort(c->hDecoder, &c->bCutShort);
    c->stream = stream;
    c->lOutWidth = c->lImgWidth;
    c->lOutHeight = c->lImgHeight;
    return MOK;
}

MResult s_Destroy(MHandle h) {
    auto* c = self(h);
    if (!c) return MERR_INVALID_PARAM;
    MResult r = c->hDecoder ? BMP_DecodeUninit(c->hDecoder) : MOK;
    mdcomp::destroy(c);
    return r;
}

bool masksOf(const BmpComponent* c, MUInt64 m[3]) {
    return c->hDecoder && BMP_DecodeGetMask(c->hDecoder, m) == MOK;
}

// One channel of a bit-field pixel widened (or narrowed) to 8 bits: narrow fields repeat their bits
// so that the largest value becomes 255, wide fields keep their top 8 bits. A file may give any
// mask, an empty or broken one included.
struct Field {
    MUInt64 mask = 0;
    int shift = 0, bits = 0;
    explicit Field(MUInt64 m) : mask(m & 0xFFFFFFFFu) {
        if (!mask) return;
        while (!((mask >> shift) & 1)) ++shift;
        while (shift + bits < 32 && ((mask >> (shift + bits)) & 1)) ++bits;
    }
    MByte operator()(uint32_t word) const {
        if (!bits) return 0;
        const uint32_t v = (word >> shift) & ((uint64_t(1) << bits) - 1);
        if (bits >= 8) return MByte(v >> (bits - 8));
        uint32_t out = v;
        int have = bits;
        while (have < 8) {
            out = (out << bits) | v;
            have += bits;
        }
        return MByte(out >> (have - 8));
    }
};

// The alpha mask of a bit-field file, 0 when it names none.
MUInt64 alphaMaskOf(const BmpComponent* c) {
    MUInt64 mask = 0;
    return c->hDecoder && BMP_DecodeGetAlphaMask(c->hDecoder, &mask) == MOK ? mask : 0;
}

// 32-bit rows are delivered as the plain 32-bit layout (blue, green, red, then alpha), whatever
// the masks, so that every converter reads them. Only a bit-field file's alpha mask names an alpha
// channel; without one the fourth byte is 255: the fourth byte of a plain file is padding that
// writers leave as they please, and is never taken for coverage.
void unpackFields(const BmpComponent* c, MByte* rows, MInt64 pitch, MInt64 rowBytes, MInt64 count) {
    if (c->lBits != 32 || c->bCutShort || !rows) return;
    MUInt64 m[3] = {};
    const bool fields = masksOf(c, m);
    const Field r(m[0]), g(m[1]), b(m[2]), a(fields ? alphaMaskOf(c) : 0);
    const MInt64 pixels = std::min(c->lOutWidth, std::min(rowBytes, std::abs(pitch)) / 4);
    for (MInt64 y = 0; y < count; ++y) {
        MByte* p = rows + y * pitch;
        for (MInt64 x = 0; x < pixels; ++x, p += 4) {
            if (fields) {
                const uint32_t w = uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
                p[0] = b(w);
                p[1] = g(w);
                p[2] = r(w);
                p[3] = a.bits ? a(w) : 255;
                continue;
            }
            p[3] = 255;
        }
    }
}

// Old colour ID of the delivered rows, from the file's depth and bit-field masks.
MResult colorOf(BmpComponent* c, MUInt64* id) {
    if (c->bCutShort) {
        *id = 0x25;  // a file cut short: rows come with alpha, so that what is missing stays clear
        return MOK;
    }
    MUInt64 m[3] = {};
    const bool fields = masksOf(c, m);
    switch (c->lBits) {
    case 1: *id = 0x16; return MOK;
    case 2: *id = 0x17; return MOK;
    case 4: *id = 0x18; return MOK;
    case 8: *id = 0x19; return MOK;
    case 16:
        *id = 0x20;
        if (fields) {
            if (m[0] == 0xF800 && m[1] == 0x7E0 && m[2] == 0x1F) *id = 0x05;
            else if (m[0] == 0xF00 && m[1] == 0xF0 && m[2] == 0xF) *id = 0x11;
        }
        return MOK;
    case 24: *id = 0x02; return MOK;
    case 32:
        *id = 0x25; // bit-field rows are unpacked to this layout
        return MOK;
    default: *id = 0; return MERR_UNKNOWN;
    }
}

// Sizes marked "at least" in the property table are checked too: a short buffer is refused
// rather than overrun.
MResult s_GetProp(MHandle h, MInt64 id, MVoid* buf, MInt64 size) {
    auto* c = self(h);
    if (!c || !buf) return MERR_INVALID_PARAM;
    if (MResult r; mdcomp::getCommonProp(c, BMP_DecodeGetColorTab, id, buf, size, &r)) return r;
    switch (id) {
    case MDEC_PROP_DELIVERY:
        if (size != 8) return MERR_INVALID_PARAM;
        put<MInt64>(buf, 2);
        return MOK;
    case MDEC_PROP_IMAGE_SIZE:
        return mdcomp::sizeAnswer(buf, size, c->lImgWidth, c->lImgHeight);
    case MDEC_PROP_PALETTE_SIZE:
        if (size < 8) return MERR_INVALID_PARAM;
        return mdcomp::paletteSize(BMP_DecodeGetColorTab, c->hDecoder, buf);
    case MDEC_PROP_BITS:
        if (size < 8) return MERR_INVALID_PARAM;
        put(buf, c->lBits);
        return MOK;
    case MDEC_PROP_COLOR: {
        if (size != 8) return MERR_INVALID_PARAM;
        MUInt64 v = 0;
        MResult r = colorOf(c, &v);
        put(buf, v);
        return r;
    }
    case MDEC_PROP_HAS_ALPHA: {
        if (size < 8) return MERR_INVALID_PARAM;
        MUInt64 m[3];
        put<MInt64>(buf, c->bCutShort || (c->lBits == 32 && (!masksOf(c, m) || alphaMaskOf(c))) ? 1 : 0);
        return MOK;
    }
    case MDEC_PROP_INFO_HEADER:
        if (size != (MInt64)sizeof(BMPInfoHeader)) return MERR_INVALID_PARAM;
        return BMP_DecodeGetInfoHeader(c->hDecoder, static_cast<BMPInfoHeader*>(buf));
    case MDEC_PROP_BMP_TYPE: {
        if (size < 8) return MERR_INVALID_PARAM;
        MInt64 t = 0;
        MResult r = BMP_DecodeGetBmpType(c->hDecoder, &t);
        if (r == MOK) put(buf, t);
        return r;
    }
    case MDEC_PROP_BMP_MASKS: {
        if (size < 24) return MERR_INVALID_PARAM;
        MUInt64 m[3];
        MResult r = BMP_DecodeGetMask(c->hDecoder, m);
        if (r == MOK) std::memcpy(buf, m, sizeof m);
        return r;
    }
    case MDEC_PROP_INVERT:
        if (size < 8) return MERR_INVALID_PARAM;
        put(buf, c->lInversion);
        return MOK;
    default:
        return MERR_INVALID_PARAM;
    }
}

// The decoder fixes its geometry once rows have been read.
MResult s_SetProp(MHandle h, MInt64 id, MVoid* buf, MInt64 size) {
    auto* c = self(h);
    return mdcomp::setProp(c, BMP_DecodeSetDimension, id, buf, size, c && c->bStarted,
                           {MDEC_PROP_BMP_TYPE, MDEC_PROP_BMP_MASKS, MDEC_PROP_INFO_HEADER}, [&](MInt64 prop) {
                               if (prop != MDEC_PROP_INVERT) return MResult(MERR_INVALID_PARAM);
                               return BMP_DecodeSetInvertion(c->hDecoder, mdcomp::get<MInt64>(buf));
                           });
}

MResult s_DecScanlines(MHandle h, MByte** planes, MInt64* pitches, MInt64* first, MInt64* count) {
    auto* c = self(h);
    if (!c || !c->hDecoder) return MERR_REGISTRATION;
    if (!planes || !planes[0] || !count) return MERR_INVALID_PARAM;
    c->bStarted = 1;
    // The decoder packs rows at its own DWORD-aligned size. A caller whose pitch differs gets the
    // rows one by one through a row buffer, so that neither the rows nor the last row's padding
    // land outside the caller's planes.
    const MInt64 bits = c->bCutShort ? 32 : c->lBits == 12 ? 16 : c->lBits;
    const MInt64 rowBytes = ((c->lOutWidth * bits + 31) >> 5) * 4;
    if (!pitches || pitches[0] == rowBytes || rowBytes <= 0) {
        const MResult r = BMP_DecodeScanLines(c->hDecoder, planes[0], *count, first, count);
        if (r == MOK) unpackFields(c, planes[0], rowBytes, rowBytes, *count);
        return r;
    }
    MHandle ctx = mdcomp::memContext(c->head.hAMCM);
    auto* row = static_cast<MByte*>(MMemAlloc(ctx, size_t(rowBytes)));
    if (!row) return MERR_NO_MEMORY;
    const MInt64 wanted = *count;
    const MInt64 copy = std::min(rowBytes, std::abs(pitches[0]));
    MInt64 done = 0;
    MResult r = MOK;
    for (MInt64 i = 0; i < wanted; ++i) {
        MInt64 idx = 0, n = 0;
        r = BMP_DecodeScanLines(c->hDecoder, row, 1, &idx, &n);
        if (r != MOK || n < 1) break;
        if (first && done == 0) *first = idx;
        std::memcpy(planes[0] + i * pitches[0], row, size_t(copy));
        ++done;
    }
    MMemFree(ctx, row);
    *count = done;
    unpackFields(c, planes[0], pitches[0], rowBytes, done);
    return r;
}

const MDecComponentFuncs kFuncs = {s_Init, s_Destroy, mdcomp::typeID<AMCM_CID_BMP_DECODER>,
                                   mdcomp::versionOp, s_GetProp, s_SetProp, s_DecScanlines};

} // namespace

extern "C" MResult MDecoder_BMPCreate(AMCMHandle hAMCM, MHandle* phInstance) {
    return mdcomp::create<BmpComponent>(hAMCM, phInstance, kFuncs);
}
