// BMP decoder. Every field read from the file is checked before it sizes anything.
#include "BmpDecoder.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <new>
#include <vector>

#include "MMemory.h"
#include "MdIoUtil.h"

namespace {

constexpr int64_t kMaxPixels = int64_t(1) << 28;

enum Compression : uint32_t { kRgb = 0, kRle8 = 1, kRle4 = 2, kBitFields = 3 };

int64_t rowBytes(int64_t width, int64_t bits) {
    if (bits == 12) bits = 16;
    return ((width * bits + 31) / 32) * 4;
}

// Reads a pixel of `bits` (1, 2, 4, 8) from a packed row, first pixel in the high bits.
inline unsigned getPacked(const uint8_t* row, int64_t x, int bits) {
    switch (bits) {
        case 1: return (row[x >> 3] >> (7 - (x & 7))) & 1;
        case 2: return (row[x >> 2] >> (6 - 2 * (x & 3))) & 3;
        case 4: return (row[x >> 1] >> ((x & 1) ? 0 : 4)) & 15;
        default: return row[x];
    }
}

inline void putPacked(uint8_t* row, int64_t x, int bits, unsigned v) {
    switch (bits) {
        case 1: row[x >> 3] |= uint8_t((v & 1) << (7 - (x & 7))); break;
        case 2: row[x >> 2] |= uint8_t((v & 3) << (6 - 2 * (x & 3))); break;
        case 4: row[x >> 1] |= uint8_t((v & 15) << ((x & 1) ? 0 : 4)); break;
        default: row[x] = uint8_t(v); break;
    }
}

// One colour channel of a 16- or 32-bit word as 8 bits: a narrow field repeats its bits so that its
// largest value becomes 255, a wide one keeps its top 8 bits; an empty mask gives 0.
uint8_t channel(uint32_t word, uint64_t mask) {
    mask &= 0xFFFFFFFFu;
    if (!mask) return 0;
    int shift = 0, bits = 0;
    while (!((mask >> shift) & 1)) ++shift;
    while (shift + bits < 32 && ((mask >> (shift + bits)) & 1)) ++bits;
    const uint32_t v = (word >> shift) & uint32_t((uint64_t(1) << bits) - 1);
    if (bits >= 8) return uint8_t(v >> (bits - 8));
    uint32_t out = v;
    int have = bits;
    for (; have < 8; have += bits) out = out << bits | v;
    return uint8_t(out >> (have - 8));
}

}  // namespace

struct BMPDecoder {
    MSTREAM stream = nullptr;
    int64_t base = 0;          // stream position of the "BM" signature
    int64_t pixelOffset = 0;   // absolute position of the pixel data
    int64_t type = 0;          // 0 Windows, 1 OS/2 core
    uint32_t headerSize = 0;
    int64_t width = 0, height = 0;  // image size, height positive
    bool topDown = false;
    int bits = 0;
    uint32_t compression = kRgb;
    uint64_t masks[3] = {0, 0, 0};
    uint64_t alphaMask = 0;    // a bit-field file's alpha mask (56-byte and longer headers), 0 for none
    BMPInfoHeader info{};
    uint8_t palette[1024] = {};
    int64_t paletteBytes = 0;
    bool invert = false;
    bool started = false;
    int64_t outWidth = 0, outHeight = 0;
    std::vector<uint32_t> colMap, rowMap;  // 32-bit: images may exceed 65,536 pixels a side
    int64_t delivered = 0;
    std::vector<uint8_t> fileRow;  // one stored row
    std::vector<uint8_t> rle;      // whole RLE image, 8-bit indexes, top row first
    bool rleDone = false;
    // Pixels whose bytes the file holds, counted in stored order (first stored row first); fewer
    // than width x height for a file cut short, whose rows then come as blue, green, red, alpha.
    int64_t present = 0;
    bool cutShort = false;
};

extern "C" {

MResult BMP_GetInfoFromFile(MSTREAM stream, MInt64* plWidth, MInt64* plHeight, MInt64* plBitCount) {
    if (!stream) return MERR_INVALID_PARAM;
    if (MStreamSeek(stream, MSTREAM_SEEK_BEGIN, 14) != 0) return MERR_FILE_SEEK;
    uint8_t h[16];
    if (!mdio::readExact(stream, h, 4)) return MERR_INVALID_PARAM;
    uint32_t size = mdio::le32(h);
    int64_t w, hgt, bits;
    if (size == 12) {
        if (!mdio::readExact(stream, h + 4, 8)) return MERR_FILE_READ;
        w = mdio::le16(h + 4);
        hgt = mdio::le16(h + 6);
        bits = mdio::le16(h + 10);
    } else {
        if (!mdio::readExact(stream, h + 4, 12)) return MERR_FILE_READ;
        w = int32_t(mdio::le32(h + 4));
        int32_t sh = int32_t(mdio::le32(h + 8));
        // The height's sign gives the row order; -2^31 has no positive counterpart.
        if (sh == INT32_MIN) return MERR_INVALID_PARAM;
        hgt = sh < 0 ? -int64_t(sh) : sh;
        bits = mdio::le16(h + 14);
    }
    if (plWidth) *plWidth = w;
    if (plHeight) *plHeight = hgt;
    if (plBitCount) *plBitCount = bits;
    return MOK;
}

// Walks the RLE pixel data and counts in d.present the pixels whose codes are whole, in stored
// order (all of them once the stream reaches its end or its last row); with `expand` it also
// writes one 8-bit index per pixel into d.rle, top row first.
// RLE8/RLE4 codes: 0 0 end of line, 0 1 end of bitmap, 0 2 dx dy delta, 0 n absolute run of n
// (padded to a 16-bit boundary), n v encoded run.
static MResult walkRle(BMPDecoder& d, bool expand) {
    const int64_t w = d.width, h = d.height;
    if (expand) d.rle.assign(size_t(w * h), 0);
    if (!mdio::seekTo(d.stream, d.pixelOffset)) return MERR_FILE_SEEK;
    const bool four = d.compression == kRle4;
    int64_t x = 0, y = 0;  // y counts from the bottom
    uint8_t buf[4096];
    int64_t have = 0, pos = 0;
    auto next = [&](uint8_t* b) -> bool {
        if (pos == have) {
            have = MStreamRead(d.stream, buf, sizeof buf);
            pos = 0;
            if (have <= 0) { have = 0; return false; }
        }
        *b = buf[pos++];
        return true;
    };
    auto put = [&](unsigned v) {
        if (expand && x < w && y < h) d.rle[size_t((h - 1 - y) * w + x)] = uint8_t(v);
        ++x;
    };
    d.present = w * h;
    for (;;) {
        if (y >= h) return MOK;
        // Where the stream stops short of a whole code, the pixels before that code are present.
        const int64_t codeX = x, codeY = y;
        auto cut = [&]() {
            d.present = codeY * w + std::min(codeX, w);
            return MOK;
        };
        uint8_t a, b;
        if (!next(&a) || !next(&b)) return cut();
        if (a > 0) {
            for (int i = 0; i < a; ++i) put(four ? ((i & 1) ? (b & 15) : (b >> 4)) : b);
            continue;
        }
        if (b == 0) { x = 0; ++y; continue; }
        if (b == 1) return MOK;
        if (b == 2) {
            uint8_t dx, dy;
            if (!next(&dx) || !next(&dy)) return cut();
            x += dx;
            y += dy;
            continue;
        }
        int n = b;
        int bytes = four ? (n + 1) / 2 : n;
        for (int i = 0; i < bytes; ++i) {
            uint8_t v;
            if (!next(&v)) return cut();
            if (four) {
                put(v >> 4);
                if (2 * i + 1 < n) put(v & 15);
            } else {
                put(v);
            }
        }
        if (bytes & 1) {
            uint8_t pad;
            if (!next(&pad)) return cut();
        }
    }
}

static MResult readHeaders(BMPDecoder& d) {
    MSTREAM s = d.stream;
    uint8_t fh[14];
    if (!mdio::readExact(s, fh, 14)) return MERR_FILE_READ;
    if (fh[0] != 'B' || fh[1] != 'M') return MERR_UNSUPPORTED;
    uint32_t offBits = mdio::le32(fh + 10);
    uint8_t ih[124] = {};
    if (!mdio::readExact(s, ih, 4)) return MERR_FILE_READ;
    uint32_t hs = mdio::le32(ih);
    d.headerSize = hs;
    if (hs == 12) {
        if (!mdio::readExact(s, ih + 4, 8)) return MERR_FILE_READ;
        d.type = 1;
        d.width = mdio::le16(ih + 4);
        d.height = mdio::le16(ih + 6);
        d.bits = mdio::le16(ih + 10);
        d.compression = kRgb;
        d.info.wPlanes = mdio::le16(ih + 8);
    } else if (hs >= 16 && hs <= 1024) {
        int64_t want = hs < 124 ? hs : 124;
        if (!mdio::readExact(s, ih + 4, want - 4)) return MERR_FILE_READ;
        if (hs > 124 && MStreamSeek(s, MSTREAM_SEEK_CUR, hs - 124) != 0) return MERR_FILE_SEEK;
        d.type = 0;
        d.width = int32_t(mdio::le32(ih + 4));
        int32_t sh = int32_t(mdio::le32(ih + 8));
        if (sh == INT32_MIN) return MERR_INVALID_PARAM;
        d.topDown = sh < 0;
        d.height = sh < 0 ? -int64_t(sh) : sh;
        d.info.wPlanes = mdio::le16(ih + 12);
        d.bits = mdio::le16(ih + 14);
        d.compression = mdio::le32(ih + 16);
        d.info.dwSizeImage = mdio::le32(ih + 20);
        d.info.lXPelsPerMeter = int32_t(mdio::le32(ih + 24));
        d.info.lYPelsPerMeter = int32_t(mdio::le32(ih + 28));
        d.info.dwClrUsed = mdio::le32(ih + 32);
        d.info.dwClrImportant = mdio::le32(ih + 36);
        if (d.compression == kBitFields) {
            if (hs >= 52) {
                for (int i = 0; i < 3; ++i) d.masks[i] = mdio::le32(ih + 40 + 4 * i);
                if (hs >= 56) d.alphaMask = mdio::le32(ih + 52);
            } else {
                uint8_t m[12];
                if (!mdio::readExact(s, m, 12)) return MERR_FILE_READ;
                for (int i = 0; i < 3; ++i) d.masks[i] = mdio::le32(m + 4 * i);
            }
        }
    } else {
        return MERR_UNSUPPORTED;
    }

    if (d.width < 1 || d.height < 1) return MERR_UNSUPPORTED;
    if (d.width > kMaxPixels / d.height) return MERR_UNSUPPORTED;
    switch (d.bits) {
        case 1: case 2: case 4: case 8: case 12: case 16: case 24: case 32: break;
        default: return MERR_UNSUPPORTED;
    }
    bool ok = d.compression == kRgb || (d.compression == kRle8 && d.bits == 8) ||
              (d.compression == kRle4 && d.bits == 4) ||
              (d.compression == kBitFields && (d.bits == 16 || d.bits == 32));
    if (!ok) return MERR_UNSUPPORTED;
    // RLE images are stored bottom-up only.
    if (d.topDown && d.compression != kRgb && d.compression != kBitFields) return MERR_UNSUPPORTED;

    // Colour table: at most 256 entries, 2^bits slots handed out, unused slots zero.
    if (d.bits <= 8) {
        int64_t slots = int64_t(1) << d.bits;
        int64_t entries = slots;
        if (d.type == 0 && d.info.dwClrUsed != 0 && int64_t(d.info.dwClrUsed) < slots)
            entries = int64_t(d.info.dwClrUsed);
        int entryBytes = d.type == 1 ? 3 : 4;
        uint8_t raw[1024];
        if (!mdio::readExact(s, raw, entries * entryBytes)) return MERR_FILE_READ;
        for (int64_t i = 0; i < entries; ++i) {
            d.palette[4 * i + 0] = raw[entryBytes * i + 0];
            d.palette[4 * i + 1] = raw[entryBytes * i + 1];
            d.palette[4 * i + 2] = raw[entryBytes * i + 2];
            d.palette[4 * i + 3] = 0;
        }
        d.paletteBytes = slots * 4;
    }
    int64_t afterTable = MStreamTell(s);
    d.pixelOffset = offBits >= 14 ? d.base + int64_t(offBits) : afterTable;

    // A file far too short for the pixels its header declares is refused here, before anything
    // is sized by them (a scaled decode's row map, the expanded run-length picture): stored rows
    // take their full width, and a file cut short (a download that stopped) shows the rows it
    // holds down to a sixty-fourth of them, so that a few bytes cannot declare a large picture; a
    // run-length picture takes a code for far fewer than 1,024 pixels a byte.
    const int64_t fileSize = MStreamGetSize(s);
    const int64_t present = fileSize > d.pixelOffset ? fileSize - d.pixelOffset : 0;
    if (d.compression == kRle8 || d.compression == kRle4) {
        if (d.width * d.height > present * 1024) return MERR_UNSUPPORTED;
    } else if (rowBytes(d.width, d.bits) * d.height > present * 64) {
        return MERR_UNSUPPORTED;
    }

    if (d.compression == kRle8 || d.compression == kRle4) {
        const MResult r = walkRle(d, false);
        if (r != MOK) return r;
    } else {
        d.present = std::min(d.height, present / rowBytes(d.width, d.bits)) * d.width;
    }
    // Rows of a file cut short come with an alpha channel, so that what is missing stays clear;
    // 12-bit files, whose channels nothing here reads, still need every row.
    if (d.present < 1) return MERR_FILE_READ;
    d.cutShort = d.present < d.width * d.height;
    if (d.cutShort && d.bits == 12) return MERR_FILE_READ;

    d.info.dwSize = 80;
    d.info.wBitCount = uint16_t(d.cutShort ? 32 : d.bits);
    d.info.dwCompression = d.compression;
    d.outWidth = d.width;
    d.outHeight = d.height;
    d.info.lWidth = d.outWidth;
    d.info.lHeight = d.outHeight;
    return MOK;
}

MResult BMP_DecodeInit(MSTREAM stream, BMPHandle* phDecoder) {
    if (!stream || !phDecoder) return MERR_INVALID_PARAM;
    *phDecoder = nullptr;
    auto* d = new (std::nothrow) BMPDecoder;
    if (!d) return MERR_NO_MEMORY;
    d->stream = stream;
    d->base = MStreamTell(stream);
    MResult r;
    try {
        r = readHeaders(*d);
        if (r == MOK) d->fileRow.resize(size_t(rowBytes(d->width, d->bits)));
    } catch (const std::bad_alloc&) {
        r = MERR_NO_MEMORY;
    }
    if (r != MOK) {
        delete d;
        return r;
    }
    *phDecoder = d;
    return MOK;
}

MResult BMP_DecodeUninit(BMPHandle d) {
    if (!d) return MERR_INVALID_PARAM;
    delete d;
    return MOK;
}

MResult BMP_DecodeGetInfoHeader(BMPHandle d, BMPInfoHeader* p) {
    if (!d || !p) return MERR_INVALID_PARAM;
    *p = d->info;
    return MOK;
}

MResult BMP_DecodeGetColorTab(BMPHandle d, MByte* pTable, MInt64* plSize) {
    if (!d || !plSize) return MERR_INVALID_PARAM;
    // The rows of a file cut short come in colour, not as indexes.
    *plSize = d->cutShort ? 0 : d->paletteBytes;
    if (pTable && *plSize > 0) std::memcpy(pTable, d->palette, size_t(d->paletteBytes));
    return MOK;
}

MResult BMP_DecodeGetBmpType(BMPHandle d, MInt64* plType) {
    if (!d || !plType) return MERR_INVALID_PARAM;
    *plType = d->type;
    return MOK;
}

MResult BMP_DecodeGetMask(BMPHandle d, MUInt64 masks[3]) {
    if (!d || !masks) return MERR_INVALID_PARAM;
    if (d->compression != kBitFields) return MERR_REGISTRATION;
    for (int i = 0; i < 3; ++i) masks[i] = d->masks[i];
    return MOK;
}

MResult BMP_DecodeGetAlphaMask(BMPHandle d, MUInt64* mask) {
    if (!d || !mask) return MERR_INVALID_PARAM;
    if (d->compression != kBitFields) return MERR_REGISTRATION;
    *mask = d->alphaMask;
    return MOK;
}

MResult BMP_DecodeSetInvertion(BMPHandle d, MInt64 flag) {
    if (!d) return MERR_INVALID_PARAM;
    if (flag) d->invert = !d->invert;
    return MOK;
}

MResult BMP_DecodeSetDimension(BMPHandle d, MInt64* plWidth, MInt64* plHeight) {
    if (!d || !plWidth || !plHeight) return MERR_INVALID_PARAM;
    if (*plWidth < 1 || *plHeight < 1) return MERR_INVALID_PARAM;
    if (d->started) return MERR_REGISTRATION;
    int64_t w = *plWidth < d->width ? *plWidth : d->width;
    int64_t h = *plHeight < d->height ? *plHeight : d->height;
    double sx = double(w) / double(d->width), sy = double(h) / double(d->height);
    double scale = sx < sy ? sx : sy;
    int64_t ow = int64_t(double(d->width) * scale + 0.5), oh = int64_t(double(d->height) * scale + 0.5);
    if (ow < 1) ow = 1;
    if (oh < 1) oh = 1;
    try {
        if (ow == d->width && oh == d->height) {
            d->colMap.clear();
            d->rowMap.clear();
        } else {
            d->colMap.resize(size_t(ow));
            d->rowMap.resize(size_t(oh));
            for (int64_t x = 0; x < ow; ++x) {
                int64_t s = int64_t(double(x) / scale);
                d->colMap[size_t(x)] = uint32_t(s < d->width ? s : d->width - 1);
            }
            for (int64_t y = 0; y < oh; ++y) {
                int64_t s = int64_t(double(y) / scale);
                d->rowMap[size_t(y)] = uint32_t(s < d->height ? s : d->height - 1);
            }
        }
    } catch (const std::bad_alloc&) {
        return MERR_NO_MEMORY;
    }
    d->outWidth = ow;
    d->outHeight = oh;
    d->info.lWidth = ow;
    d->info.lHeight = oh;
    *plWidth = ow;
    *plHeight = oh;
    return MOK;
}

MResult BMP_DecodeIsCutShort(BMPHandle d, MInt64* pbCutShort) {
    if (!d || !pbCutShort) return MERR_INVALID_PARAM;
    *pbCutShort = d->cutShort ? 1 : 0;
    return MOK;
}

// One pixel of a source row in `bits` as blue, green, red, alpha.
static void toColour(const BMPDecoder& d, const uint8_t* src, int64_t x, int bits, uint8_t* out) {
    if (bits <= 8) {
        const uint8_t* entry = d.palette + 4 * getPacked(src, x, bits);
        out[0] = entry[0], out[1] = entry[1], out[2] = entry[2], out[3] = 255;
        return;
    }
    if (bits == 24) {
        out[0] = src[3 * x], out[1] = src[3 * x + 1], out[2] = src[3 * x + 2], out[3] = 255;
        return;
    }
    const uint8_t* p = src + x * (bits / 8);
    if (bits == 16) {
        // As a whole file's words are read: 5-6-5 and 4-4-4 masks as they say, any other as 5
        // bits a channel, each channel widened by a shift.
        const uint32_t word = uint32_t(p[0] | p[1] << 8);
        const bool fields = d.compression == kBitFields;
        const bool f565 = fields && d.masks[0] == 0xF800 && d.masks[1] == 0x7E0 && d.masks[2] == 0x1F;
        const bool f444 = fields && d.masks[0] == 0xF00 && d.masks[1] == 0xF0 && d.masks[2] == 0xF;
        if (f565) out[2] = uint8_t((word >> 8) & 0xF8), out[1] = uint8_t((word >> 3) & 0xFC), out[0] = uint8_t((word << 3) & 0xF8);
        else if (f444) out[2] = uint8_t((word >> 4) & 0xF0), out[1] = uint8_t(word & 0xF0), out[0] = uint8_t((word << 4) & 0xF0);
        else out[2] = uint8_t((word & 0x7C00) >> 7), out[1] = uint8_t((word & 0x3E0) >> 2), out[0] = uint8_t((word << 3) & 0xF8);
        out[3] = 255;
        return;
    }
    // 32-bit words: a bit-field file's masks, its alpha mask the only alpha channel; without
    // masks 8 bits a channel and no alpha.
    const uint32_t word = uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
    const bool fields = d.compression == kBitFields;
    out[0] = channel(word, fields ? d.masks[2] : 0xFF);
    out[1] = channel(word, fields ? d.masks[1] : 0xFF00);
    out[2] = channel(word, fields ? d.masks[0] : 0xFF0000);
    out[3] = fields && d.alphaMask ? channel(word, d.alphaMask) : 255;
}

MResult BMP_DecodeScanLines(BMPHandle d, MByte* pBuffer, MInt64 lRows, MInt64* plFirstRow,
                            MInt64* plRowsDelivered) {
    if (!d || !pBuffer || !plRowsDelivered || lRows < 0) return MERR_INVALID_PARAM;
    *plRowsDelivered = 0;
    d->started = true;
    const bool rle = d->compression == kRle8 || d->compression == kRle4;
    if (rle && !d->rleDone) {
        MResult r;
        try {
            r = walkRle(*d, true);
        } catch (const std::bad_alloc&) {
            r = MERR_NO_MEMORY;
        }
        if (r != MOK) {
            d->rle.clear();
            return r;
        }
        d->rleDone = true;
    }
    if (plFirstRow) *plFirstRow = d->delivered;
    const int64_t left = d->outHeight - d->delivered;
    const int64_t n = lRows < left ? lRows : left;
    const int bits = d->bits == 12 ? 16 : d->bits;
    const int64_t outStride = rowBytes(d->outWidth, d->cutShort ? 32 : bits);
    const int64_t fileStride = rowBytes(d->width, bits);
    const bool scaled = !d->colMap.empty();
    for (int64_t i = 0; i < n; ++i) {
        int64_t outRow = d->delivered;
        if (d->invert) outRow = d->outHeight - 1 - outRow;
        int64_t srcRow = scaled ? d->rowMap[size_t(outRow)] : outRow;  // from the top
        uint8_t* dst = pBuffer + i * outStride;
        std::memset(dst, 0, size_t(outStride));
        const uint8_t* src;
        int srcBits = bits;
        // The row's place in the file, first stored row 0.
        const int64_t storedRow = d->topDown ? srcRow : d->height - 1 - srcRow;
        const int64_t storedFrom = storedRow * d->width;
        if (rle) {
            src = d->rle.data() + srcRow * d->width;
            srcBits = 8;
        } else if (storedFrom >= d->present) {
            src = nullptr;  // a row the file lacks
        } else {
            if (!mdio::seekTo(d->stream, d->pixelOffset + storedRow * fileStride)) return MERR_FILE_SEEK;
            if (!mdio::readExact(d->stream, d->fileRow.data(), fileStride)) return MERR_FILE_READ;
            src = d->fileRow.data();
        }
        if (d->cutShort) {
            // Pixels the file holds in colour, the others clear.
            for (int64_t x = 0; src && x < d->outWidth; ++x) {
                const int64_t sx = scaled ? d->colMap[size_t(x)] : x;
                if (storedFrom + sx < d->present) toColour(*d, src, sx, srcBits, dst + 4 * x);
            }
            ++d->delivered;
            ++*plRowsDelivered;
            continue;
        }
        const int outBits = rle ? (d->compression == kRle4 ? 4 : 8) : bits;
        if (!scaled && srcBits == outBits) {
            int64_t used = (d->width * bits + 7) / 8;
            std::memcpy(dst, src, size_t(used));
            // Clear the bits past the last pixel of a packed row.
            int64_t tailBits = used * 8 - d->width * bits;
            if (tailBits > 0) dst[used - 1] &= uint8_t(0xFF << tailBits);
        } else if (srcBits >= 8 && !rle) {
            const int bpp = srcBits / 8;
            for (int64_t x = 0; x < d->outWidth; ++x) {
                int64_t sx = scaled ? d->colMap[size_t(x)] : x;
                std::memcpy(dst + x * bpp, src + sx * bpp, size_t(bpp));
            }
        } else {
            for (int64_t x = 0; x < d->outWidth; ++x) {
                int64_t sx = scaled ? d->colMap[size_t(x)] : x;
                putPacked(dst, x, outBits, getPacked(src, sx, srcBits));
            }
        }
        ++d->delivered;
        ++*plRowsDelivered;
    }
    return MOK;
}

}  // extern "C"
