// Buffered bit reader over the entropy-coded data (T.81 F.2.2.5, byte stuffing B.1.1.5).
//
// Bits enter a 64-bit accumulator byte by byte; a 0xFF 0x00 pair is one 0xFF data byte, and any
// other byte after 0xFF is a marker: the reader stops in front of it and feeds zero bits
// instead, counting them, so a block that needed them is known to have run out of data. At the
// end of the stream 0xFF 0xD9 (EOI) is appended, so truncated files end at a marker too.
#include <cstring>

#include "jpg_internal.h"

namespace {

// Reads from the stream behind the valid bytes. Scan readers share one stream: each seeks it
// back to where it stopped when another reader moved it.
uint32_t readMore(JpgBitReader* br, uint8_t* dst, uint32_t count) {
    if (br->sharedPos && *br->sharedPos != br->streamPos) {
        bool placed = br->streamPos >= 0 && br->streamPos <= int64_t(UINT32_MAX) &&
                      JpgStreamSeek(br->stream, 0, uint32_t(br->streamPos), br->cb) == 0;
        // A stream that cannot seek still serves a file read once from its start.
        bool fresh = *br->sharedPos == -1 && br->streamPos == 0;
        if (!placed && !fresh) {
            return 0;
        }
    }
    int32_t got = JpgStreamRead(br->stream, dst, count, br->cb);
    if (got < 0) {
        got = 0;
    }
    if (uint32_t(got) > count) {
        got = int32_t(count);
    }
    br->streamPos += got;
    if (br->sharedPos) {
        *br->sharedPos = br->streamPos;
    }
    return uint32_t(got);
}

void appendEoi(JpgBitReader* br) {
    br->end = true;
    br->buf[br->valid++] = 0xFF;
    br->buf[br->valid++] = 0xD9;
}

} // namespace

bool JpgBrEnsure(JpgBitReader* br, uint32_t n) {
    while (JpgBrAvail(br) < n) {
        if (br->end) {
            return false;
        }
        // Keep some history before p (the accumulator may give bytes back), drop the rest.
        uint32_t pos = uint32_t(br->p - br->buf);
        uint32_t keep = pos < kJpgHistory ? pos : kJpgHistory;
        uint32_t drop = pos - keep;
        if (drop > 0) {
            std::memmove(br->buf, br->buf + drop, br->valid - drop);
            br->valid -= drop;
            br->bufOffset += drop;
            br->p -= drop;
        }
        uint32_t room = br->cap - br->valid;
        uint32_t want = room < br->bufSize ? room : br->bufSize;
        uint32_t got = readMore(br, br->buf + br->valid, want);
        br->valid += got;
        if (got < want) {
            appendEoi(br);
        }
    }
    return true;
}

bool JpgBrReadByte(JpgBitReader* br, int* value) {
    if (!JpgBrEnsure(br, 1)) {
        return false;
    }
    *value = *br->p++;
    return true;
}

void JpgBrFillSlow(JpgBitReader* br) {
    while (br->nbits <= 56) {
        if (br->marker != 0 || (JpgBrAvail(br) < 2 && !JpgBrEnsure(br, 2))) {
            if (br->marker == 0 && JpgBrAvail(br) == 1 && *br->p != 0xFF) {
                // The last byte (cannot happen after the appended EOI, kept for safety).
                br->acc |= uint64_t(*br->p++) << (56 - br->nbits);
                br->nbits += 8;
                continue;
            }
            if (br->marker == 0) {
                br->marker = 0xD9;
            }
            br->nbits += 8;
            br->fake += 8;
            continue;
        }
        uint8_t c = br->p[0];
        if (c == 0xFF) {
            uint8_t c2 = br->p[1];
            if (c2 == 0x00) {
                br->p += 2;
            } else if (c2 == 0xFF) {
                br->p += 1; // fill byte before a marker
                continue;
            } else {
                br->marker = c2; // stop in front of the marker
                continue;
            }
        } else {
            br->p++;
        }
        br->acc |= uint64_t(c) << (56 - br->nbits);
        br->nbits += 8;
    }
}

namespace {

// Steps p back over one data byte (a 0xFF 0x00 pair counts as one).
const uint8_t* stepBack(const JpgBitReader* br, const uint8_t* p) {
    if (p - br->buf >= 2 && p[-1] == 0x00 && p[-2] == 0xFF) {
        return p - 2;
    }
    return p - 1;
}

} // namespace

int64_t JpgBrBitPosition(const JpgBitReader* br) {
    int real = br->nbits - br->fake;
    if (real < 0) {
        real = 0;
    }
    const uint8_t* p = br->p;
    while (real >= 8 && p > br->buf) {
        p = stepBack(br, p);
        real -= 8;
    }
    if (real == 0) {
        return (br->bufOffset + (p - br->buf)) * 8;
    }
    // The unread bits belong to the data byte just before p.
    const uint8_t* q = stepBack(br, p);
    return (br->bufOffset + (q - br->buf)) * 8 + 8 - real;
}

void JpgBrSyncToByte(JpgBitReader* br) {
    int real = br->nbits - br->fake;
    if (real < 0) {
        real = 0;
    }
    while (real >= 8 && br->p > br->buf) {
        br->p = stepBack(br, br->p);
        real -= 8;
    }
    // The rest of a partly read byte is dropped; p is already past it and its stuffing.
    br->acc = 0;
    br->nbits = 0;
    br->fake = 0;
}

int JpgBrNextMarker(JpgBitReader* br) {
    JpgBrSyncToByte(br);
    br->marker = 0;
    int c;
    for (;;) {
        // Entropy-coded data between here and the marker (a whole scan, when the header reader
        // passes over one) is skipped a buffer at a time.
        if (!JpgBrEnsure(br, 1)) {
            return 0;
        }
        const auto* ff = static_cast<const uint8_t*>(std::memchr(br->p, 0xFF, JpgBrAvail(br)));
        if (!ff) {
            br->p += JpgBrAvail(br);
            continue;
        }
        br->p = ff + 1;
        do {
            if (!JpgBrReadByte(br, &c)) {
                return 0;
            }
        } while (c == 0xFF);
        if (c != 0x00) {
            return c;
        }
    }
}

int64_t JpgDecHufInit(JpgBitReader* br) {
    br->bufOffset = 0;
    br->valid = 0;
    br->end = false;
    br->p = br->buf;
    br->acc = 0;
    br->nbits = 0;
    br->fake = 0;
    br->marker = 0;
    br->starved = false;
    br->streamPos = 0;
    if (br->sharedPos) {
        *br->sharedPos = -1; // position unknown: seek before the first read
    }
    JpgBrEnsure(br, 1);
    return 0;
}

int64_t JpgHufReset(JpgBitReader* br, int64_t bitPos) {
    br->marker = 0;
    br->starved = false;
    br->acc = 0;
    br->nbits = 0;
    br->fake = 0;
    if (bitPos < 0) {
        br->end = true;
        return JPG_ERR_DATA;
    }
    int64_t byte = bitPos >> 3;
    int unread = 8 - int(bitPos & 7);
    if (byte >= br->bufOffset && byte < br->bufOffset + int64_t(br->valid)) {
        br->p = br->buf + (byte - br->bufOffset);
    } else {
        if (byte > int64_t(UINT32_MAX) || JpgStreamSeek(br->stream, 0, uint32_t(byte), br->cb) != 0) {
            br->end = true;
            return JPG_ERR_DATA;
        }
        br->streamPos = byte;
        if (br->sharedPos) {
            *br->sharedPos = byte;
        }
        br->bufOffset = byte;
        br->valid = 0;
        br->end = false;
        br->p = br->buf;
        JpgBrEnsure(br, 1);
    }
    if (unread < 8) {
        int c;
        if (!JpgBrReadByte(br, &c)) {
            return JPG_ERR_DATA;
        }
        if (c == 0xFF && JpgBrEnsure(br, 1) && *br->p == 0x00) {
            br->p++;
        }
        br->acc = uint64_t(c & ((1 << unread) - 1)) << (64 - unread);
        br->nbits = unread;
    }
    return 0;
}

int64_t JpgScanHufInit(JpgDecoder* d, JpgBitReader* sb, uint8_t* buffer, uint32_t size) {
    JpgBitReader* m = d->br;
    int64_t start = JpgBrBitPosition(m);
    *sb = JpgBitReader{};
    sb->stream = m->stream;
    sb->cb = m->cb;
    sb->buf = buffer;
    sb->bufSize = size;
    sb->cap = size + kJpgGuard;
    sb->sharedPos = &d->sharedPos;
    for (int i = 0; i < 4; ++i) {
        sb->dc[i] = m->dc[i];
        sb->ac[i] = m->ac[i];
    }
    sb->lastIndex = m->lastIndex;
    sb->ss = m->ss;
    sb->se = m->se;
    sb->ah = m->ah;
    sb->al = m->al;
    sb->eobrun = 0;
    sb->rstInterval = m->rstInterval;
    sb->rstLeft = m->rstInterval;
    sb->rstNext = 0;
    sb->scanStart = start;
    sb->bufOffset = -1; // nothing buffered: the reset below seeks
    sb->valid = 0;
    sb->p = buffer;
    return JpgHufReset(sb, start);
}

int64_t JpgScanHufReset(JpgBitReader* br) {
    int64_t r = JpgHufReset(br, br->scanStart);
    br->eobrun = 0;
    br->rstNext = 0;
    br->rstLeft = br->rstInterval;
    return r;
}
