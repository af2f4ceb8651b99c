// GIF decoder. GIF89a section numbers refer to the format's 1990 definition.
#include "GifDecoder.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <vector>

#include "MdIoUtil.h"

namespace {

constexpr int64_t kMaxPixels = int64_t(1) << 28;

struct Frame {
    uint16_t left = 0, top = 0, width = 0, height = 0;
    uint8_t packed = 0;
    int64_t tablePos = 0;  // local colour table, when packed has 0x80
    int64_t dataPos = 0;   // LZW minimum code size byte
    // GIF89a 23: graphic control extension that preceded the descriptor.
    int disposal = 0;
    int delay = 0;
    bool transparent = false;
    uint8_t transIndex = 0;
};

// Reads the data sub-blocks (GIF89a 15) that follow a position, as one byte stream.
class SubBlockReader {
public:
    explicit SubBlockReader(MSTREAM s) : s_(s) {}
    // False at the block terminator or when the data ends.
    bool next(uint8_t* b) {
        if (left_ == 0) {
            if (ended_) return false;
            uint8_t n;
            if (!mdio::readByte(s_, &n) || n == 0) { ended_ = true; return false; }
            have_ = MStreamRead(s_, buf_, n);
            if (have_ <= 0) { ended_ = true; return false; }
            if (have_ < n) ended_ = true;
            left_ = have_;
            pos_ = 0;
        }
        *b = buf_[pos_++];
        --left_;
        return true;
    }

private:
    MSTREAM s_;
    uint8_t buf_[256];
    int64_t have_ = 0, pos_ = 0, left_ = 0;
    bool ended_ = false;
};

// Skips data sub-blocks up to and including the terminator; false when the data ends first.
bool skipSubBlocks(MSTREAM s) {
    for (;;) {
        uint8_t n;
        if (!mdio::readByte(s, &n)) return false;
        if (n == 0) return true;
        int64_t pos = MStreamTell(s);
        int64_t size = MStreamGetSize(s);
        if (pos + n > size) return false;
        if (MStreamSeek(s, MSTREAM_SEEK_CUR, n) != 0) return false;
    }
}

}  // namespace

struct GIFDecoder {
    MSTREAM stream = nullptr;
    int64_t base = 0;
    GIFGlobalInfo glob{};
    uint8_t globalTable[768] = {};
    int globalEntries = 0;
    std::vector<Frame> frames;
    int64_t walkPos = 0;  // where the walk for further frames goes on
    bool walkDone = false;
    double scale = 1.0;
    int64_t outW = 0, outH = 0;
    int64_t current = -1;
    // The current frame, decoded: clipped to the screen, source coordinates.
    bool decoded = false;
    int64_t clipW = 0, clipH = 0;
    std::vector<uint8_t> pixels;
    // The current frame in output coordinates.
    int64_t oLeft = 0, oTop = 0, oWidth = 1, oHeight = 1;
    bool invisible = false;
    int64_t rowsDelivered = 0;
};

namespace {

// Walks the blocks after the header until frame `want` is known or the data ends.
void walkTo(GIFDecoder& d, int64_t want) {
    MSTREAM s = d.stream;
    Frame pending;
    bool havePending = false;
    while (!d.walkDone && int64_t(d.frames.size()) <= want) {
        if (!mdio::seekTo(s, d.walkPos)) { d.walkDone = true; break; }
        uint8_t id;
        if (!mdio::readByte(s, &id)) { d.walkDone = true; break; }
        if (id == 0x21) {
            uint8_t label;
            if (!mdio::readByte(s, &label)) { d.walkDone = true; break; }
            if (label == 0xF9) {
                uint8_t size, g[255];
                if (!mdio::readByte(s, &size) || !mdio::readExact(s, g, size) || size < 4 ||
                    !skipSubBlocks(s)) {
                    d.walkDone = true;
                    break;
                }
                pending = Frame{};
                pending.disposal = (g[0] >> 2) & 7;
                pending.transparent = g[0] & 1;
                pending.delay = mdio::le16(g + 1);
                pending.transIndex = g[3];
                havePending = true;
            } else if (!skipSubBlocks(s)) {
                d.walkDone = true;
                break;
            }
        } else if (id == 0x2C) {
            // GIF89a 20: image descriptor.
            uint8_t desc[9];
            if (!mdio::readExact(s, desc, 9)) { d.walkDone = true; break; }
            Frame f = havePending ? pending : Frame{};
            havePending = false;
            f.left = mdio::le16(desc);
            f.top = mdio::le16(desc + 2);
            f.width = mdio::le16(desc + 4);
            f.height = mdio::le16(desc + 6);
            f.packed = desc[8];
            f.tablePos = MStreamTell(s);
            int64_t tableBytes = (f.packed & 0x80) ? 3 * (int64_t(2) << (f.packed & 7)) : 0;
            f.dataPos = f.tablePos + tableBytes;
            d.frames.push_back(f);
            uint8_t codeSize;
            if (!mdio::seekTo(s, f.dataPos) || !mdio::readByte(s, &codeSize) || !skipSubBlocks(s)) {
                d.walkDone = true;  // this frame's data is cut short; it keeps what it has
                break;
            }
        } else {
            d.walkDone = true;  // the trailer (0x3B) or an unknown block
            break;
        }
        d.walkPos = MStreamTell(s);
    }
}

// GIF89a appendix E: interlaced rows are stored in four passes.
int64_t interlacedRow(int64_t i, int64_t h) {
    static const int start[4] = {0, 4, 2, 1}, step[4] = {8, 8, 4, 2};
    for (int p = 0; p < 4; ++p) {
        int64_t n = h > start[p] ? (h - start[p] + step[p] - 1) / step[p] : 0;
        if (i < n) return start[p] + i * step[p];
        i -= n;
    }
    return h;  // past the end
}

void placeFrame(GIFDecoder& d) {
    const Frame& f = d.frames[size_t(d.current)];
    const int64_t W = d.glob.wWidth, H = d.glob.wHeight;
    d.clipW = f.left < W ? std::min<int64_t>(f.width, W - f.left) : 0;
    d.clipH = f.top < H ? std::min<int64_t>(f.height, H - f.top) : 0;
    d.invisible = d.clipW <= 0 || d.clipH <= 0;
    if (d.invisible) {
        d.oLeft = d.oTop = 0;
        d.oWidth = d.oHeight = 1;
        return;
    }
    auto map = [&](int64_t v) { return int64_t(double(v) * d.scale + 0.5); };
    d.oLeft = std::min(map(f.left), d.outW - 1);
    d.oTop = std::min(map(f.top), d.outH - 1);
    d.oWidth = std::max<int64_t>(1, std::min(map(f.left + d.clipW), d.outW) - d.oLeft);
    d.oHeight = std::max<int64_t>(1, std::min(map(f.top + d.clipH), d.outH) - d.oTop);
}

// GIF89a appendix F: variable-length-code LZW. Decodes the current frame into `pixels`.
MResult decodeFrame(GIFDecoder& d) {
    const Frame& f = d.frames[size_t(d.current)];
    const uint8_t fill = f.transparent ? f.transIndex : 0;
    if (d.invisible) {
        d.pixels.assign(1, fill);
        d.decoded = true;
        return MOK;
    }
    if (d.clipW > kMaxPixels / d.clipH) return MERR_UNSUPPORTED;
    MSTREAM s = d.stream;
    // GIF89a appendix F: a code stands for at most 4,096 pixels and takes three bits at least, so
    // no byte of a file makes more than 4,096 of them. A frame far larger than its file is
    // refused before its indexes are allocated (a 41-byte file asked for 268 MB).
    const int64_t fileBytes = MStreamGetSize(s) - d.base;
    if (d.clipW * d.clipH > std::max<int64_t>(fileBytes, 0) * 4096) return MERR_UNSUPPORTED;
    uint8_t minCode = 0;
    const bool haveCode = mdio::seekTo(s, f.dataPos) && mdio::readByte(s, &minCode);
    // GIF89a 22: the root size is at most 8 bits (a pixel is one byte). A larger one would
    // need codes past the 12-bit table; a file that says so is refused, not shown blank.
    if (haveCode && (minCode < 1 || minCode > 8)) return MERR_UNSUPPORTED;
    try {
        d.pixels.assign(size_t(d.clipW * d.clipH), fill);
    } catch (const std::bad_alloc&) {
        return MERR_NO_MEMORY;
    }
    d.decoded = true;
    if (!haveCode) return MOK;  // the data is cut off before it starts: the frame stays filled

    const bool interlace = f.packed & 0x40;
    const int64_t fw = f.width, fh = f.height;
    const int64_t total = fw * fh;
    int64_t i = 0, x = 0, row = 0;
    int64_t y = interlace ? interlacedRow(0, fh) : 0;
    auto emit = [&](uint8_t v) {
        if (x < d.clipW && y < d.clipH) d.pixels[size_t(y * d.clipW + x)] = v;
        ++i;
        if (++x == fw) {
            x = 0;
            ++row;
            y = interlace ? interlacedRow(row, fh) : row;
        }
    };

    static thread_local uint16_t prefix[4096];
    static thread_local uint8_t suffix[4096];
    static thread_local uint8_t stack[4097];
    const int clear = 1 << minCode, eoi = clear + 1;
    int codeSize = minCode + 1, next = clear + 2, prev = -1;
    uint8_t firstOfPrev = 0;
    SubBlockReader in(s);
    uint32_t bits = 0;
    int nbits = 0;
    while (i < total) {
        while (nbits < codeSize) {
            uint8_t b;
            if (!in.next(&b)) return MOK;  // data ends early: keep what we have
            bits |= uint32_t(b) << nbits;
            nbits += 8;
        }
        int code = int(bits & ((1u << codeSize) - 1));
        bits >>= codeSize;
        nbits -= codeSize;
        if (code == clear) {
            codeSize = minCode + 1;
            next = clear + 2;
            prev = -1;
            continue;
        }
        if (code == eoi) return MOK;
        int sp = 0;
        int c = code;
        if (prev < 0) {
            if (code >= clear) return MOK;  // invalid first code
            emit(uint8_t(code));
            prev = code;
            firstOfPrev = uint8_t(code);
            // With one-bit roots the first free entry (4) already needs three bits, so the
            // width grows after the first code, before any entry is added.
            if (next >= (1 << codeSize) && codeSize < 12) ++codeSize;
            continue;
        }
        if (code > next || (code == next && next >= 4096)) return MOK;  // invalid code
        if (code == next) {  // the KwKwK case: the string of prev plus its own first byte
            stack[sp++] = firstOfPrev;
            c = prev;
        }
        while (c >= clear) {
            stack[sp++] = suffix[c];
            c = prefix[c];
        }
        stack[sp++] = uint8_t(c);
        uint8_t first = uint8_t(c);
        // Codes past the last table entry stop growing the table (a "deferred clear").
        if (next < 4096) {
            prefix[next] = uint16_t(prev);
            suffix[next] = first;
            ++next;
            if (next == (1 << codeSize) && codeSize < 12) ++codeSize;
        }
        while (sp > 0 && i < total) emit(stack[--sp]);
        prev = code;
        firstOfPrev = first;
    }
    return MOK;
}

}  // namespace

extern "C" {

MResult GIF_GetInfoFromFile(MSTREAM stream, MInt64* plWidth, MInt64* plHeight, MInt64* plBits) {
    if (!stream) return MERR_INVALID_PARAM;
    int64_t pos = MStreamTell(stream);
    if (MStreamGetSize(stream) < 13) return MERR_UNSUPPORTED;
    if (MStreamSeek(stream, MSTREAM_SEEK_BEGIN, 0) != 0) return MERR_FILE_SEEK;
    uint8_t h[13];
    bool ok = mdio::readExact(stream, h, 13);
    if (MStreamSeek(stream, MSTREAM_SEEK_BEGIN, pos) != 0) return MERR_FILE_SEEK;
    if (!ok) return MERR_UNSUPPORTED;
    if (plWidth) *plWidth = mdio::le16(h + 6);
    if (plHeight) *plHeight = mdio::le16(h + 8);
    if (plBits) *plBits = (h[10] & 7) + 1;
    return MOK;
}

// Reads the signature and logical screen descriptor at the current position and skips the
// global colour table.
static MResult readHeader(MSTREAM s, uint8_t h[13]) {
    if (!mdio::readExact(s, h, 13)) return MERR_FILE_READ;
    if (std::memcmp(h, "GIF87a", 6) != 0 && std::memcmp(h, "GIF89a", 6) != 0) return MERR_UNSUPPORTED;
    return MOK;
}

MResult GIF_GetGifInfo(MSTREAM stream, MUInt64 info[3]) {
    if (!stream || !info) return MERR_INVALID_PARAM;
    info[0] = info[1] = info[2] = 0;
    uint8_t h[13];
    MResult r = readHeader(stream, h);
    if (r != MOK) return r;
    if (h[10] & 0x80) {
        if (MStreamSeek(stream, MSTREAM_SEEK_CUR, 3 * (int64_t(2) << (h[10] & 7))) != 0) return MERR_FILE_SEEK;
    }
    for (;;) {
        uint8_t id, label;
        if (!mdio::readByte(stream, &id) || id != 0x21) return MOK;
        if (!mdio::readByte(stream, &label)) return MERR_FILE_READ;
        if (label == 0xFF) {
            uint8_t app[12];
            if (!mdio::readExact(stream, app, 12)) return MERR_FILE_READ;
            if (app[0] == 11 && std::memcmp(app + 1, "NETSCAPE2.0", 11) == 0) {
                uint8_t sub[4];  // size 3, id 1, count
                if (!mdio::readExact(stream, sub, 4)) return MERR_FILE_READ;
                if (sub[0] >= 3 && sub[1] == 1) {
                    info[1] = 1;
                    info[2] = mdio::le16(sub + 2);
                }
                if (sub[0] > 3 && MStreamSeek(stream, MSTREAM_SEEK_CUR, sub[0] - 3) != 0) return MERR_FILE_SEEK;
            } else if (MStreamSeek(stream, MSTREAM_SEEK_CUR, int64_t(app[0]) - 11) != 0) {
                return MERR_FILE_SEEK;
            }
        }
        if (!skipSubBlocks(stream)) return MERR_FILE_READ;
    }
}

MResult GIF_GetFrameCount(MSTREAM stream, MInt64* plCount) {
    if (!stream || !plCount) return MERR_INVALID_PARAM;
    int64_t pos = MStreamTell(stream);
    GIFDecoder d;
    d.stream = stream;
    uint8_t h[13];
    if (mdio::readExact(stream, h, 13) && std::memcmp(h, "GIF8", 4) == 0) {
        d.walkPos = pos + 13 + ((h[10] & 0x80) ? 3 * (int64_t(2) << (h[10] & 7)) : 0);
    } else {
        d.walkPos = pos;
    }
    walkTo(d, INT64_MAX - 1);
    *plCount = int64_t(d.frames.size());
    if (MStreamSeek(stream, MSTREAM_SEEK_BEGIN, pos) != 0) return MERR_FILE_SEEK;
    return MOK;
}

MResult GIF_DecodeInit(MSTREAM stream, GIFHandle* phDecoder) {
    if (!stream || !phDecoder) return MERR_INVALID_PARAM;
    *phDecoder = nullptr;
    if (MStreamSeek(stream, MSTREAM_SEEK_BEGIN, 0) != 0) return MERR_FILE_SEEK;
    auto* d = new (std::nothrow) GIFDecoder;
    if (!d) return MERR_NO_MEMORY;
    d->stream = stream;
    uint8_t h[13];
    MResult r = readHeader(stream, h);
    if (r == MOK) {
        GIFGlobalInfo& g = d->glob;
        g.wWidth = mdio::le16(h + 6);
        g.wHeight = mdio::le16(h + 8);
        g.wColorResolution = uint16_t(((h[10] >> 4) & 7) + 1);
        g.wGlobalBits = uint16_t((h[10] & 7) + 1);
        g.dwGlobalTable = (h[10] & 0x80) ? 1 : 0;
        g.dwSorted = (h[10] & 0x08) ? 1 : 0;
        g.dwBackground = h[11];
        g.dwAspect = h[12];
        if (g.wWidth == 0 || g.wHeight == 0) r = MERR_UNSUPPORTED;
        if (r == MOK && g.dwGlobalTable) {
            d->globalEntries = 2 << (h[10] & 7);
            if (!mdio::readExact(stream, d->globalTable, 3 * d->globalEntries)) r = MERR_FILE_READ;
        }
    }
    if (r != MOK) {
        delete d;
        return r;
    }
    d->walkPos = MStreamTell(stream);
    d->outW = d->glob.wWidth;
    d->outH = d->glob.wHeight;
    *phDecoder = d;
    return MOK;
}

MResult GIF_DecodeUninit(GIFHandle d) {
    if (!d) return MERR_INVALID_PARAM;
    delete d;
    return MOK;
}

MResult GIF_DecodeGetGlobInfo(GIFHandle d, GIFGlobalInfo* p) {
    if (!d || !p) return MERR_INVALID_PARAM;
    *p = d->glob;
    return MOK;
}

static bool selectFrame(GIFDecoder& d, int64_t index) {
    if (index < 0) return false;
    try {
        walkTo(d, index);
    } catch (const std::bad_alloc&) {
        return false;
    }
    if (index >= int64_t(d.frames.size())) return false;
    if (d.current != index) {
        d.current = index;
        d.decoded = false;
        d.pixels.clear();
        d.rowsDelivered = 0;
    }
    placeFrame(d);
    return true;
}

MResult GIF_DecodeGetFrameInfo(GIFHandle d, GIFFrameInfo* p, MInt64 lFrame) {
    if (!d || !p || lFrame < 0) return MERR_INVALID_PARAM;
    if (!selectFrame(*d, lFrame)) return MERR_UNKNOWN;
    const Frame& f = d->frames[size_t(lFrame)];
    std::memset(p, 0, sizeof *p);
    p->wLeft = uint16_t(d->oLeft);
    p->wTop = uint16_t(d->oTop);
    p->wWidth = uint16_t(d->oWidth);
    p->wHeight = uint16_t(d->oHeight);
    p->wColorBits = uint16_t(((f.packed & 0x80) ? (f.packed & 7) : (d->glob.wGlobalBits - 1)) + 1);
    p->wDelay = uint16_t(f.delay);
    p->dwDisposal = uint64_t(f.disposal);
    p->dwLocalTable = f.packed & 0x80;
    p->dwInterlace = f.packed & 0x40;
    p->dwTransparent = f.transparent || d->invisible ? 1 : 0;
    p->byTransIndex = f.transparent ? f.transIndex : 0;
    return MOK;
}

MResult GIF_DecodeGetColorTab(GIFHandle d, MByte* pTable, MInt64* plSize) {
    if (!d || !plSize) return MERR_INVALID_PARAM;
    const uint8_t* rgb = d->globalTable;
    int entries = d->globalEntries;
    uint8_t local[768];
    if (d->current >= 0) {
        const Frame& f = d->frames[size_t(d->current)];
        if (f.packed & 0x80) {
            entries = 2 << (f.packed & 7);
            int64_t pos = MStreamTell(d->stream);
            bool ok = mdio::seekTo(d->stream, f.tablePos) && mdio::readExact(d->stream, local, 3 * entries);
            MStreamSeek(d->stream, MSTREAM_SEEK_BEGIN, pos);
            if (!ok) return MERR_FILE_READ;
            rgb = local;
        }
    }
    if (entries == 0) return MERR_UNKNOWN;
    *plSize = int64_t(entries) * 4;
    if (pTable) {
        for (int i = 0; i < entries; ++i) {
            pTable[4 * i + 0] = rgb[3 * i + 2];
            pTable[4 * i + 1] = rgb[3 * i + 1];
            pTable[4 * i + 2] = rgb[3 * i + 0];
            pTable[4 * i + 3] = 0;
        }
    }
    return MOK;
}

MResult GIF_DecodeSetDimension(GIFHandle d, MInt64* plWidth, MInt64* plHeight) {
    if (!d || !plWidth || !plHeight) return MERR_INVALID_PARAM;
    const int64_t W = d->glob.wWidth, H = d->glob.wHeight;
    double scale = 1.0;
    if (*plWidth > 0 && *plHeight > 0) {
        double sx = double(*plWidth) / double(W), sy = double(*plHeight) / double(H);
        scale = std::min(1.0, std::min(sx, sy));
    }
    d->scale = scale;
    d->outW = std::max<int64_t>(1, int64_t(double(W) * scale + 0.5));
    d->outH = std::max<int64_t>(1, int64_t(double(H) * scale + 0.5));
    *plWidth = d->outW;
    *plHeight = d->outH;
    if (d->current >= 0) {
        placeFrame(*d);
        d->rowsDelivered = 0;
    }
    return MOK;
}

MResult GIF_DecodeScanLines(GIFHandle d, MByte* pBuffer, MInt64 lRows, MInt64* plFirstRow,
                            MInt64* plRowsDelivered) {
    if (!d || !pBuffer || !plRowsDelivered || lRows < 0) return MERR_INVALID_PARAM;
    *plRowsDelivered = 0;
    if (d->current < 0 && !selectFrame(*d, 0)) return MERR_UNKNOWN;
    if (!d->decoded) {
        MResult r = decodeFrame(*d);
        if (r != MOK) return r;
    }
    if (plFirstRow) *plFirstRow = d->rowsDelivered;
    const int64_t pitch = (d->oWidth + 3) & ~int64_t(3);
    const int64_t n = std::min(lRows, d->oHeight - d->rowsDelivered);
    const bool same = d->scale == 1.0;
    const Frame& f = d->frames[size_t(d->current)];
    for (int64_t i = 0; i < n; ++i) {
        uint8_t* dst = pBuffer + i * pitch;
        std::memset(dst + d->oWidth, 0, size_t(pitch - d->oWidth));
        const int64_t oy = d->rowsDelivered + i;
        if (d->invisible) {
            dst[0] = d->pixels[0];
            continue;
        }
        int64_t sy = same ? oy : int64_t(double(d->oTop + oy) / d->scale) - f.top;
        sy = std::max<int64_t>(0, std::min(sy, d->clipH - 1));
        const uint8_t* src = d->pixels.data() + sy * d->clipW;
        if (same) {
            std::memcpy(dst, src, size_t(d->oWidth));
        } else {
            for (int64_t x = 0; x < d->oWidth; ++x) {
                int64_t sx = int64_t(double(d->oLeft + x) / d->scale) - f.left;
                sx = std::max<int64_t>(0, std::min(sx, d->clipW - 1));
                dst[x] = src[sx];
            }
        }
    }
    d->rowsDelivered += n;
    *plRowsDelivered = n;
    return MOK;
}

}  // extern "C"
