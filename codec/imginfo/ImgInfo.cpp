// Image type sniffing and header facts read straight from the file, without a decoder.
#include <cstdlib>
#include <cstring>
#include <strings.h>

#include "MMemory.h"
#include "MdColorID.h"
#include "MdImgInfo.h"
#include "MdIoUtil.h"

// The codec framework's declarations, so that the calls below are checked against it. Its
// library stays optional for this one (targets that link the header readers alone do not link
// the framework): the references are weak and resolve to null without it.
#include "MCodec.h"
#pragma weak MCodec_CreateDecoderEx
#pragma weak MCodec_CreateDecoderExWithFileName
#pragma weak MCodec_GetProp
#pragma weak MCodec_Destroy

namespace {

using mdio::be16;
using mdio::be32;
using mdio::le16;
using mdio::le32;

// Looks for "<svg" in 256-byte blocks from the start; 0 found, 1 not found, 4 no memory.
MResult parseSvg(MSTREAM s) {
    int64_t pos = MStreamTell(s);
    auto* buf = static_cast<uint8_t*>(MMemAlloc(nullptr, 256));
    if (!buf) return MERR_NO_MEMORY;
    MResult r = 1;
    if (MStreamSeek(s, MSTREAM_SEEK_BEGIN, 0) == 0) {
        for (;;) {
            int64_t n = MStreamRead(s, buf, 256);
            if (n <= 0) break;
            for (int64_t i = 0; i + 3 < n; ++i) {
                if (buf[i] == '<' && std::memcmp(buf + i + 1, "svg", 3) == 0) {
                    r = 0;
                    break;
                }
            }
            if (r == 0 || n < 256) break;
        }
    }
    MMemFree(nullptr, buf);
    MStreamSeek(s, MSTREAM_SEEK_BEGIN, pos);
    return r;
}

bool readBE16(MSTREAM s, uint16_t* v) {
    uint8_t b[2];
    if (!mdio::readExact(s, b, 2)) return false;
    *v = be16(b);
    return true;
}

}  // namespace

extern "C" {

MResult _GetImgFormat(MSTREAM stream, ImgFormat* pFormat) {
    if (!stream || !pFormat) return MERR_INVALID_PARAM;
    uint8_t b[10] = {};
    int64_t size = MStreamGetSize(stream);
    int64_t n = size < 10 ? (size < 0 ? 0 : size) : 10;
    if (MStreamRead(stream, b, n) != n) return MERR_FILE_READ;
    ImgFormat f = MD_IMG_NONE;
    MResult r = MOK;
    if (b[0] == 0xFF && b[1] == 0xD8) f = MD_IMG_JPEG;
    else if (std::memcmp(b, "GIF", 3) == 0) f = MD_IMG_GIF;
    else if (b[0] == 'B' && b[1] == 'M') f = MD_IMG_BMP;
    else if (b[0] == 0x89 && std::memcmp(b + 1, "PNG", 3) == 0) f = MD_IMG_PNG;
    else if ((b[0] == 'I' && b[1] == 'I') || (b[0] == 'M' && b[1] == 'M')) f = MD_IMG_TIFF;
    else if (b[0] == 0 && b[1] == 0) {
        if ((b[2] == 1 || b[2] == 2) && b[3] == 0) f = MD_IMG_ICO;
        else if (b[2] == 0 && b[4] == 'f' && b[5] == 't') r = MERR_UNSUPPORTED;
        else f = MD_IMG_WBMP;
    } else if (std::memcmp(b, "FWS", 3) == 0) f = MD_IMG_SWF;
    else if (std::memcmp(b, "<?xml", 5) == 0 && parseSvg(stream) == 0) f = MD_IMG_SVG;
    else if (b[0] == 0x1F && b[1] == 0x8B && b[2] == 0x08) f = MD_IMG_SVG;
    else r = MERR_UNSUPPORTED;
    *pFormat = f;
    return r;
}

MResult _GetInfoFromBmpStream(MSTREAM s, MInt64* w, MInt64* h, MInt64* bits) {
    if (!s) return MERR_INVALID_PARAM;
    if (MStreamSeek(s, MSTREAM_SEEK_BEGIN, 14) != 0) return MERR_FILE_SEEK;
    uint8_t b[40];
    if (!mdio::readExact(s, b, 4)) return MERR_FILE_READ;
    uint32_t size = le32(b);
    if (MStreamSeek(s, MSTREAM_SEEK_BEGIN, 14) != 0) return MERR_FILE_SEEK;
    if (size == 40 || size == 56 || size == 108 || size == 124) {
        if (!mdio::readExact(s, b, 40)) return MERR_FILE_READ;
        int32_t height = int32_t(le32(b + 8));
        if (height == INT32_MIN) return MERR_INVALID_PARAM;  // no positive counterpart
        if (w) *w = int32_t(le32(b + 4));
        if (h) *h = height < 0 ? -int64_t(height) : height;
        if (bits) *bits = le16(b + 14);
    } else {
        if (!mdio::readExact(s, b, 12)) return MERR_FILE_READ;
        if (w) *w = le16(b + 4);
        if (h) *h = le16(b + 6);
        if (bits) *bits = le16(b + 10);
    }
    return MOK;
}

MResult _GetInfoFromGifStream(MSTREAM s, MInt64* w, MInt64* h, MInt64* bits) {
    if (!s) return MERR_INVALID_PARAM;
    int64_t pos = MStreamTell(s);
    if (MStreamSeek(s, MSTREAM_SEEK_BEGIN, 0) != 0) return MERR_FILE_SEEK;
    if (MStreamGetSize(s) < 13) return MERR_UNSUPPORTED;
    uint8_t b[13];
    bool ok = mdio::readExact(s, b, 13);
    MStreamSeek(s, MSTREAM_SEEK_BEGIN, pos);
    if (!ok) return MERR_FILE_READ;
    if (w) *w = le16(b + 6);
    if (h) *h = le16(b + 8);
    if (bits) *bits = (b[10] & 7) + 1;
    return MOK;
}

MResult _GetInfoFromPngStream(MSTREAM s, MInt64* w, MInt64* h, MInt64* bits) {
    if (!s) return MERR_INVALID_PARAM;
    if (MStreamGetSize(s) <= 25) return MERR_UNSUPPORTED;
    uint8_t b[10];
    if (MStreamSeek(s, MSTREAM_SEEK_BEGIN, 0) != 0) return MERR_FILE_SEEK;
    if (!mdio::readExact(s, b, 4)) return MERR_FILE_READ;
    if (b[0] != 0x89 || std::memcmp(b + 1, "PNG", 3) != 0) return MERR_UNSUPPORTED;
    if (MStreamSeek(s, MSTREAM_SEEK_BEGIN, 16) != 0) return MERR_FILE_SEEK;
    if (!mdio::readExact(s, b, 10)) return MERR_FILE_READ;
    MStreamSeek(s, MSTREAM_SEEK_BEGIN, 0);
    int type = b[9];
    int channels = (type == 0 || type == 3) ? 1 : type == 4 ? 2 : type == 6 ? 4 : 3;
    if (w) *w = be32(b);
    if (h) *h = be32(b + 4);
    if (bits) *bits = int64_t(b[8]) * channels;
    return MOK;
}

MResult _GetInfoFromJpegStream(MSTREAM s, MInt64* w, MInt64* h, MInt64* bits, MInt64* detail) {
    if (!s) return MERR_INVALID_PARAM;
    uint16_t soi;
    if (!readBE16(s, &soi)) return MERR_FILE_READ;
    if (soi != 0xFFD8) return MERR_UNSUPPORTED;
    for (;;) {
        uint8_t m;
        do {
            if (!mdio::readByte(s, &m)) return MERR_FILE_READ;
        } while (m != 0xFF);
        do {
            if (!mdio::readByte(s, &m)) return MERR_FILE_READ;
        } while (m == 0xFF);
        // T.81 B.1.1.3: SOF0-3, 5-7, 9-11, 13-15 are frame headers (C4, C8 and CC are not).
        bool sof = m >= 0xC0 && m <= 0xCF && m != 0xC4 && m != 0xC8 && m != 0xCC;
        if (sof) {
            int64_t d = m == 0xC0 ? MD_DETAIL_JPEG_BASELINE
                        : (m == 0xC2 || m == 0xC6 || m == 0xCA) ? MD_DETAIL_JPEG_PROGRESSIVE
                                                                 : MD_DETAIL_CODEC;
            uint8_t f[8];  // length, precision, height, width, component count
            if (!mdio::readExact(s, f, 8)) return MERR_FILE_READ;
            if (detail) *detail = d;
            if (h) *h = be16(f + 3);
            if (w) *w = be16(f + 5);
            if (bits) *bits = 8 * (f[7] == 4 ? 3 : f[7]);
            return MOK;
        }
        if (m == 0xD9 || m == 0xDA) return MERR_UNSUPPORTED;
        uint16_t len;
        if (!readBE16(s, &len)) return MERR_FILE_READ;
        if (len < 2) return MERR_INVALID_PARAM;  // a length counts its own two bytes
        if (MStreamSeek(s, MSTREAM_SEEK_CUR, int64_t(len) - 2) != 0) return MERR_FILE_SEEK;
    }
}

MResult _GetInfoFromWbmpStream(MSTREAM s, MInt64* w, MInt64* h, MInt64* bits) {
    if (!s) return MERR_INVALID_PARAM;
    uint8_t th[2];
    if (!mdio::readExact(s, th, 2)) return MERR_FILE_READ;
    if (th[0] != 0 || th[1] != 0) return MERR_UNSUPPORTED;
    uint16_t v[2];
    for (auto& value : v) {
        value = 0;
        for (int i = 0; i < 3; ++i) {
            uint8_t b;
            if (!mdio::readByte(s, &b)) return MERR_FILE_READ;
            value = uint16_t(value * 128 + (b & 0x7F));
            if (!(b & 0x80)) break;
        }
    }
    if (v[0] == 0 || v[1] == 0) return MERR_UNSUPPORTED;
    if (w) *w = v[0];
    if (h) *h = v[1];
    if (bits) *bits = 1;
    return MOK;
}

MResult _GetInfoFromIcoStream(MSTREAM s, MInt64* w, MInt64* h, MInt64* bits) {
    if (!s) return MERR_INVALID_PARAM;
    uint8_t dir[6], entry[16], bih[40];
    if (!mdio::readExact(s, dir, 6)) return MERR_FILE_READ;
    if (le16(dir + 4) == 0) return MERR_UNSUPPORTED;
    if (!mdio::readExact(s, entry, 16)) return MERR_FILE_READ;
    if (MStreamSeek(s, MSTREAM_SEEK_BEGIN, int64_t(le32(entry + 12))) != 0) return MERR_FILE_SEEK;
    if (!mdio::readExact(s, bih, 40)) return MERR_FILE_READ;
    if (w) *w = int32_t(le32(bih + 4));
    if (h) *h = int32_t(le32(bih + 8)) / 2;  // the height covers the colour and mask images
    if (bits) *bits = le16(bih + 14);
    return MOK;
}

MResult _GetInfoFromTifStream(MSTREAM s, MInt64* w, MInt64* h, MInt64* bits) {
    if (!s) return MERR_INVALID_PARAM;
    if (MStreamSeek(s, MSTREAM_SEEK_BEGIN, 0) != 0) return MERR_FILE_SEEK;
    uint8_t hd[8];
    if (!mdio::readExact(s, hd, 8)) return MERR_FILE_READ;
    bool big;
    if (hd[0] == 'M' && hd[1] == 'M') big = true;
    else if (hd[0] == 'I' && hd[1] == 'I') big = false;
    else return MERR_UNSUPPORTED;
    auto u16 = [big](const uint8_t* p) { return big ? be16(p) : le16(p); };
    auto u32 = [big](const uint8_t* p) { return big ? be32(p) : le32(p); };
    if (u16(hd + 2) != 42) return MERR_UNSUPPORTED;
    if (MStreamSeek(s, MSTREAM_SEEK_BEGIN, int64_t(u32(hd + 4))) != 0) return MERR_FILE_SEEK;
    uint8_t cb[2];
    if (!mdio::readExact(s, cb, 2)) return MERR_FILE_READ;
    const int count = u16(cb);
    auto* e = static_cast<uint8_t*>(MMemAlloc(nullptr, size_t(count) * 12 + 1));
    if (!e) return MERR_NO_MEMORY;
    MResult r = MOK;
    int64_t width = 0, height = 0, samples = 1;
    int bitsEntry = -1;
    if (!mdio::readExact(s, e, int64_t(count) * 12)) r = MERR_FILE_READ;
    // TIFF 6.0 section 2: entries are {tag, type, count, value or offset}; a SHORT value sits
    // in the first two bytes of the value field.
    auto value = [&](const uint8_t* p) -> uint32_t { return u16(p + 2) == 3 ? u16(p + 8) : u32(p + 8); };
    for (int i = 0; r == MOK && i < count; ++i) {
        const uint8_t* p = e + 12 * i;
        switch (u16(p)) {
            case 256: width = value(p); break;
            case 257: height = value(p); break;
            case 277: samples = value(p); break;
            case 258: bitsEntry = i; break;
            default: break;
        }
    }
    int64_t bpp = 1;
    if (r == MOK && bits && bitsEntry >= 0) {
        const uint8_t* p = e + 12 * bitsEntry;
        int64_t n = u32(p + 4);
        int type = u16(p + 2);
        if (n < samples) {
            r = MERR_UNSUPPORTED;
        } else if (n == 1) {
            bpp = value(p);
        } else if (type == 3 || type == 4) {
            uint8_t v[2];
            if (MStreamSeek(s, MSTREAM_SEEK_BEGIN, int64_t(u32(p + 8))) != 0) r = MERR_FILE_SEEK;
            else if (!mdio::readExact(s, v, 2)) r = MERR_FILE_READ;
            else bpp = u16(v);
        }
    }
    MMemFree(nullptr, e);
    if (r != MOK) return r;
    if (width == 0 || height == 0) return MERR_UNSUPPORTED;
    if (w) *w = width;
    if (h) *h = height;
    if (bits) *bits = bpp;
    return MOK;
}

MResult GotoThumbnailPos(MSTREAM s) {
    if (!s) return 0;
    if (MStreamSeek(s, MSTREAM_SEEK_BEGIN, 0) != 0) return MERR_FILE_SEEK;
    uint8_t b[8];
    if (!mdio::readExact(s, b, 4) || b[0] != 0xFF || b[1] != 0xD8 || b[2] != 0xFF) return 0;
    uint8_t marker = b[3];
    while (marker != 0xE1) {
        if (marker < 0xE0 || marker > 0xEF) return 0;
        uint16_t len;
        if (!readBE16(s, &len) || len < 2) return 0;
        if (MStreamSeek(s, MSTREAM_SEEK_CUR, int64_t(len) - 2) != 0) return 0;
        uint8_t m;
        if (!mdio::readByte(s, &m) || m != 0xFF) return 0;
        do {
            if (!mdio::readByte(s, &m)) return 0;
        } while (m == 0xFF);
        marker = m;
    }
    uint16_t appLen;
    if (!readBE16(s, &appLen)) return 0;
    if (!mdio::readExact(s, b, 6) || std::memcmp(b, "Exif\0\0", 6) != 0) return 0;
    const int64_t base = MStreamTell(s);
    if (!mdio::readExact(s, b, 8)) return 0;
    const bool little = le16(b) == 0x4949;
    auto u16 = [little](const uint8_t* p) { return little ? le16(p) : be16(p); };
    auto u32 = [little](const uint8_t* p) { return little ? le32(p) : be32(p); };
    uint32_t ifd0 = u32(b + 4);
    if (ifd0 != 8 && MStreamSeek(s, MSTREAM_SEEK_CUR, int64_t(ifd0) - 8) != 0) return 0;
    if (!mdio::readExact(s, b, 2)) return 0;
    if (MStreamSeek(s, MSTREAM_SEEK_CUR, int64_t(u16(b)) * 12) != 0) return 0;
    if (!mdio::readExact(s, b, 4)) return 0;
    uint32_t ifd1 = u32(b);
    if (ifd1 == 0 || int64_t(ifd1) + 8 >= appLen) return 0;
    if (MStreamSeek(s, MSTREAM_SEEK_BEGIN, base + ifd1) != 0) return 0;
    if (!mdio::readExact(s, b, 2)) return 0;
    const int n = u16(b);
    int64_t thumb = 0;
    bool found = false;
    for (int i = 0; i < n; ++i) {
        uint8_t e[12];
        if (!mdio::readExact(s, e, 12)) return 0;
        int tag = u16(e);
        uint32_t v = u32(e + 8);
        if (tag == 513) {
            thumb = base + v;
            found = true;
        } else if (tag == 514 && v == 0) {
            found = false;
        }
    }
    if (!found) return 0;
    return MStreamSeek(s, MSTREAM_SEEK_BEGIN, thumb) == 0 ? 1 : 0;
}

static MResult gifWalk(MSTREAM s, MInt64* pbAnimated) {
    uint8_t b[6];
    if (!mdio::readExact(s, b, 6)) return MERR_FILE_READ;
    if (std::memcmp(b, "GIF", 3) != 0) return MERR_REGISTRATION;
    if (!mdio::readExact(s, b, 4)) return MERR_INVALID_PARAM;
    if (!mdio::readExact(s, b, 3)) return MERR_FILE_READ;
    if (b[0] & 0x80) {
        if (MStreamSeek(s, MSTREAM_SEEK_CUR, int64_t(3) << ((b[0] & 7) + 1)) != 0) return MERR_REGISTRATION;
    }
    *pbAnimated = 0;
    auto skipBlocks = [s]() -> MResult {
        for (;;) {
            uint8_t n;
            if (!mdio::readByte(s, &n)) return MERR_FILE_READ;
            if (n == 0) return MOK;
            if (MStreamSeek(s, MSTREAM_SEEK_CUR, n) != 0) return MERR_REGISTRATION;
        }
    };
    int images = 0;
    for (;;) {
        uint8_t id;
        if (!mdio::readByte(s, &id)) return MOK;
        if (id == 0x21) {
            uint8_t lab[2];
            if (!mdio::readExact(s, lab, 2)) return MERR_FILE_READ;
            if (MStreamSeek(s, MSTREAM_SEEK_CUR, lab[1]) != 0) return MERR_REGISTRATION;
            if (lab[1] != 0) {
                MResult r = skipBlocks();
                if (r != MOK) return r;
            }
        } else if (id == 0x2C) {
            if (++images == 2) {
                *pbAnimated = 1;
                return MOK;
            }
            uint8_t d[9];
            if (!mdio::readExact(s, d, 9)) return MERR_FILE_READ;
            if ((d[8] & 0x80) && MStreamSeek(s, MSTREAM_SEEK_CUR, int64_t(3) << ((d[8] & 7) + 1)) != 0)
                return MERR_REGISTRATION;
            uint8_t code;
            if (!mdio::readByte(s, &code)) return MERR_FILE_READ;
            MResult r = skipBlocks();
            if (r != MOK) return r;
        } else {
            return MOK;  // the trailer, or a byte that starts no block
        }
    }
}

MResult SGetGifFileAttr(MSTREAM s, MInt64* pbAnimated) {
    if (!s || !pbAnimated) return MERR_INVALID_PARAM;
    int64_t pos = MStreamTell(s);
    if (pos != 0 && MStreamSeek(s, MSTREAM_SEEK_BEGIN, 0) != 0) return MERR_FILE_SEEK;
    MResult r = gifWalk(s, pbAnimated);
    MStreamSeek(s, MSTREAM_SEEK_BEGIN, pos);
    return r;
}

static MResult getImgInfo(MSTREAM s, bool thumb, ImgFormat* pType, MdImgSize* pSize, MInt64* plDetail,
                          MInt64* plBits) {
    if (!s) return MERR_INVALID_PARAM;
    if (pType) *pType = 0;
    if (plDetail) *plDetail = 0;
    const int64_t pos = MStreamTell(s);
    ImgFormat type = 0;
    MResult r = MStreamSeek(s, MSTREAM_SEEK_BEGIN, 0) == 0 ? _GetImgFormat(s, &type) : MERR_FILE_SEEK;
    if (r == MOK) {
        if (pType) *pType = type;
        if (pSize || plDetail || plBits) {
            int64_t w = 0, h = 0, bits = 0, detail = 0;
            if (thumb) {
                MResult t = GotoThumbnailPos(s);
                r = t == 1 ? MOK : t == 0 ? MERR_INVALID_PARAM : t;
            } else if (MStreamSeek(s, MSTREAM_SEEK_BEGIN, 0) != 0) {
                r = MERR_FILE_SEEK;
            }
            if (r == MOK) {
                switch (type) {
                    case MD_IMG_BMP: r = _GetInfoFromBmpStream(s, &w, &h, &bits); break;
                    case MD_IMG_JPEG: r = _GetInfoFromJpegStream(s, &w, &h, &bits, &detail); break;
                    case MD_IMG_GIF: r = _GetInfoFromGifStream(s, &w, &h, &bits); break;
                    case MD_IMG_PNG: r = _GetInfoFromPngStream(s, &w, &h, &bits); break;
                    case MD_IMG_WBMP: r = _GetInfoFromWbmpStream(s, &w, &h, &bits); break;
                    case MD_IMG_TIFF: r = _GetInfoFromTifStream(s, &w, &h, &bits); break;
                    case MD_IMG_ICO: r = _GetInfoFromIcoStream(s, &w, &h, &bits); break;
                    case MD_IMG_SVG: r = MOK; break;
                    default: r = MERR_UNSUPPORTED; break;
                }
            }
            if (r == MOK && type != MD_IMG_SVG) {
                if (pSize) pSize->lWidth = w, pSize->lHeight = h;
                if (plBits) *plBits = bits;
                if (plDetail) *plDetail = detail;
            }
        }
    }
    MStreamSeek(s, MSTREAM_SEEK_BEGIN, pos);
    return r;
}

MResult MdUtilsGetImgInfoEx(MSTREAM s, ImgFormat* t, MdImgSize* sz, MInt64* d, MInt64* b) {
    return getImgInfo(s, false, t, sz, d, b);
}

MResult MdUtilsGetThumbImgInfoEx(MSTREAM s, ImgFormat* t, MdImgSize* sz, MInt64* d, MInt64* b) {
    return getImgInfo(s, true, t, sz, d, b);
}

MResult MdUtilsGetImgInfo(MSTREAM s, ImgFormat* t, MdImgSize* sz, MInt64* b) {
    return getImgInfo(s, false, t, sz, nullptr, b);
}

// Asks the registered decoder components (the codec framework) about the stream.
static MResult infoFromCodec(AMCMHandle cm, MSTREAM s, const MChar* name, ImgFormat* type, MdImgSize* size,
                             MInt64* detail, MInt64* bits) {
    const bool svg = *type == MD_IMG_SVG;
    if (!svg) *type = 0;
    if (detail) *detail = 0;
    const int64_t pos = MStreamTell(s);
    MStreamSeek(s, MSTREAM_SEEK_BEGIN, 0);
    MHandle codec = nullptr;
    MResult r = MERR_NO_CODEC;
    if (svg && MCodec_CreateDecoderEx) {
        r = MCodec_CreateDecoderEx(cm, s, MD_IMG_SVG, nullptr, nullptr, 0, &codec);
    } else if (!svg && MCodec_CreateDecoderExWithFileName) {
        r = MCodec_CreateDecoderExWithFileName(cm, s, name, 0, nullptr, nullptr, 0, &codec);
    }
    if (r == MOK && codec) {
        if (!svg) *type = MD_IMG_BY_CODEC;
        int64_t wh[2] = {0, 0};
        if (MCodec_GetProp && MCodec_GetProp(codec, 2, wh, sizeof wh) == MOK && size)
            size->lWidth = wh[0], size->lHeight = wh[1];
        if (detail) *detail = MD_DETAIL_CODEC;
        uint64_t old = 0;
        if (MCodec_GetProp && MCodec_GetProp(codec, 0x1008, &old, sizeof old) == MOK && bits) {
            uint64_t b = 0;
            MdUtilsFormatOldColorID(old, nullptr, nullptr, &b, nullptr);
            *bits = int64_t(b);
        }
    }
    MStreamSeek(s, MSTREAM_SEEK_BEGIN, pos);
    if (codec && MCodec_Destroy) MCodec_Destroy(codec);
    return r;
}

MResult MImgGetFileInfoWithFileName(AMCMHandle cm, MSTREAM s, const MChar* name, ImgFormat* pType,
                                    MdImgSize* pSize, MInt64* plDetail, MInt64* plBits) {
    ImgFormat type = 0;
    MResult r = MdUtilsGetImgInfoEx(s, &type, pSize, plDetail, plBits);
    if (type == MD_IMG_WBMP && name) {
        // Two zero bytes start many files; only the name tells a WBMP apart.
        const char* dot = std::strrchr(name, '.');
        if (dot && strcasecmp(dot, ".WBMP") != 0) {
            type = 0;
            r = MERR_UNSUPPORTED;
        }
    }
    if (type == MD_IMG_GIF && r == MOK && plDetail) {
        MInt64 animated = 0;
        MResult g = SGetGifFileAttr(s, &animated);
        if (g != MOK) return g;
        *plDetail = animated ? MD_DETAIL_GIF_ANIMATED : MD_DETAIL_GIF_STILL;
    }
    if (cm && s && ((type == 0 && r != MOK) || (type == MD_IMG_SVG && r == MOK)))
        r = infoFromCodec(cm, s, name, &type, pSize, plDetail, plBits);
    if (pType) *pType = type;
    return r;
}

MResult MImgGetFileInfo(AMCMHandle cm, MSTREAM s, ImgFormat* pType, MdImgSize* pSize, MInt64* plDetail,
                        MInt64* plBits) {
    return MImgGetFileInfoWithFileName(cm, s, nullptr, pType, pSize, plDetail, plBits);
}

}  // extern "C"
