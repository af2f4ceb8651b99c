// Huffman block decoding: sequential (T.81 F.2.2) and progressive (T.81 G.1.2), restart markers.
#include "jpg_internal.h"

#include <algorithm>

namespace {

inline int32_t extend(uint32_t v, int s) {
    return v < (1u << (s - 1)) ? int32_t(v) + jpg_extend_tbl[s] : int32_t(v);
}

// Corrupt entropy data: the rest of the restart interval comes out grey.
inline int64_t corrupt(JpgBitReader* br) {
    br->starved = true;
    return 0;
}

// DC difference (F.2.2.1). Symbols above 11 cannot occur with 8-bit samples.
__attribute__((always_inline)) inline bool decodeDc(JpgBitReader* br, JpgHuffTable* t, int32_t* diff) {
    JpgBrNeed(br, 32); // a code of up to 16 bits and up to 15 value bits
    if (!t->dcReady) {
        JpgHuffPrepareDc(t);
    }
    // A short code with a small value in one step.
    const int f = t->fastDc[br->acc >> (64 - kJpgFastDcBits)];
    if (f) {
        JpgBrSkip(br, f & 15);
        *diff = f >> 4;
        return true;
    }
    int s = JpgHufDecode(br, t);
    if (s < 0 || s > 11) {
        return false;
    }
    *diff = s ? extend(JpgBrGet(br, s), s) : 0;
    return true;
}

inline int16_t wrap16(int32_t v) {
    return int16_t(uint16_t(uint32_t(v)));
}

// The bit reader's state in the decoder's locals, for loops over many symbols: the accumulator,
// its bit count, the next byte, and the last byte from which eight can be read straight (0 after a
// marker, where only the reader's own refill may go on).
struct Regs {
    uint64_t acc;
    int nbits;
    int fake;
    const uint8_t* p;
    uintptr_t fastEnd;
};

__attribute__((always_inline)) inline void regLoad(Regs& r, const JpgBitReader* br) {
    r.acc = br->acc;
    r.nbits = br->nbits;
    r.fake = br->fake;
    r.p = br->p;
    r.fastEnd = br->marker == 0 && br->valid >= 8 ? uintptr_t(br->buf + (br->valid - 8)) : 0;
}

__attribute__((always_inline)) inline void regStore(const Regs& r, JpgBitReader* br) {
    br->acc = r.acc;
    br->nbits = r.nbits;
    br->p = r.p;
}

// JpgBrFill on the locals: at least 57 bits, the bytes before the first 0xFF of the next eight
// in one load (all of them, mostly); from a 0xFF on, the reader's own fill takes them one by one.
__attribute__((always_inline)) inline void regFill(Regs& r, JpgBitReader* br) {
    if (r.nbits > 56) {
        return;
    }
    if (uintptr_t(r.p) <= r.fastEnd) {
        uint64_t raw;
        __builtin_memcpy(&raw, r.p, 8);
        const uint64_t inv = ~raw;
        // The high bit of each 0xFF byte; exact up to the first one, which is all that is used.
        const uint64_t ff = (inv - 0x0101010101010101ull) & ~inv & 0x8080808080808080ull;
        int n = (64 - r.nbits) >> 3; // whole bytes that fit: 1..8
        if (ff != 0) {
            n = std::min(n, __builtin_ctzll(ff) >> 3);
        }
        if (n > 0) {
            const uint64_t keep = __builtin_bswap64(raw) & (~uint64_t(0) << (64 - 8 * n));
            r.acc |= keep >> r.nbits;
            r.nbits += 8 * n;
            r.p += n;
            if (r.nbits > 56) {
                return;
            }
        }
    }
    regStore(r, br);
    JpgBrFillSlow(br);
    regLoad(r, br);
}

// Parses the coefficients of a block from zig-zag index k to its end without storing them: a
// short code with its value bits, or an end of block, is passed in one step, several while they
// fit in the table's bits. False on a code the table does not hold (the reader then holds the
// bits).
__attribute__((always_inline)) inline bool skipRest(JpgBitReader* br, JpgHuffTable* act, int k, Regs& r) {
    if (k <= 63 && !act->skipReady) {
        JpgHuffPrepareSkip(act);
    }
    const uint16_t* const skip = act->skipAc;
    while (k <= 63) {
        // The shortcut needs kJpgSkipAcBits bits; a refill brings at least 57, several steps' worth.
        if (r.nbits < kJpgSkipAcBits) {
            regFill(r, br);
        }
        // Several symbols at once, as long as they all lie inside the block: their coefficients
        // at 63 at most, and an end of block only where one can be (after a coefficient at 63
        // the block ends without it, and the next bits are the next block's). The entry is its
        // own shift count: only the step's length lies in its low six bits.
        const uint32_t f = skip[r.acc >> (64 - kJpgSkipAcBits)];
        if (k + int(f >> 7) <= 64) {
            r.acc <<= (f & 63);
            r.nbits -= int(f & 15);
            if (f & 64) {
                return true;
            }
            k += int(f >> 7);
            continue;
        }
        regStore(r, br);
        JpgBrNeed(br, 32); // a code of up to 16 bits and up to 15 value bits
        const int rs = JpgHufDecode(br, act);
        regLoad(r, br);
        if (rs < 0) {
            return false;
        }
        const int run = rs >> 4, sz = rs & 15;
        if (sz) {
            k += run + 1;
            r.acc <<= sz;
            r.nbits -= sz;
        } else if (run == 15) {
            k += 16;
        } else {
            break;
        }
    }
    return true;
}

// skipRest from the reader's own state, out of line: the decoder of stored coefficients gets
// here only when it stores fewer than all of them.
__attribute__((noinline)) bool skipBlockRest(JpgBitReader* br, JpgHuffTable* act, int k) {
    Regs r;
    regLoad(r, br);
    const bool ok = skipRest(br, act, k, r);
    regStore(r, br);
    return ok;
}

// One block that keeps only its DC coefficient, on the locals. False when the reader starved on
// it (a corrupt code, or data that ran out): the block comes out grey.
__attribute__((always_inline)) inline bool dcBlock(JpgBitReader* br, JpgComponent* comp, Regs& r, int16_t* out) {
    JpgHuffTable* t = br->dc[comp->dcTbl];
    if (!t->dcReady) {
        JpgHuffPrepareDc(t);
    }
    if (r.nbits < 32) {
        regFill(r, br); // a code of up to 16 bits and up to 15 value bits
    }
    int32_t diff;
    const int f = t->fastDc[r.acc >> (64 - kJpgFastDcBits)];
    if (f) {
        r.acc <<= (f & 15);
        r.nbits -= f & 15;
        diff = f >> 4;
    } else {
        // Symbols above 11 cannot occur with 8-bit samples.
        regStore(r, br);
        const int s = JpgHufDecode(br, t);
        if (s < 0 || s > 11) {
            regLoad(r, br);
            return false;
        }
        diff = s ? extend(JpgBrGet(br, s), s) : 0;
        regLoad(r, br);
    }
    const int16_t dc = wrap16(comp->dcPred + diff);
    comp->dcPred = dc;
    if (!skipRest(br, br->ac[comp->acTbl], 1, r)) {
        return false;
    }
    *out = dc;
    comp->lastIdx = 0;
    return r.fake <= r.nbits; // past the data: the block read padding
}

} // namespace

int64_t JpgDecBlock(JpgBitReader* br, int16_t* block, JpgComponent* comp) {
    if (br->starved) {
        return 0;
    }
    int32_t diff;
    if (!decodeDc(br, br->dc[comp->dcTbl], &diff)) {
        return corrupt(br);
    }
    int16_t dc = wrap16(comp->dcPred + diff);
    comp->dcPred = dc;
    block[0] = dc;
    JpgHuffTable* act = br->ac[comp->acTbl];
    const int last = br->lastIndex > comp->lastAtLeast ? br->lastIndex : comp->lastAtLeast;
    if (last > 0 && !act->fastReady) {
        JpgHuffPrepareFast(act); // for the coefficients stored one at a time
    }
    // The last index stored, for the inverse transform to spare the zeros after it: told by where
    // the end of block stands (a bound, never below it), so that the steps need not keep it.
    int lastStored = -1;
    int k = 1;
    // F.2.2.2: store coefficients up to the last index. The accumulator lives in locals here:
    // this loop is the decoder's hottest.
    Regs r;
    regLoad(r, br);
    uint64_t& acc = r.acc;
    int& nbits = r.nbits;
    // Where every coefficient is stored (and the component is large), several symbols are decoded
    // a step while they fit in the table's bits and stay inside the block; the others one at a time.
    const bool multi = last == 63 && comp->multiAc;
    if (multi && !act->multiReady) {
        JpgHuffPrepareMulti(act);
    }
    const JpgMultiStep* const multiAc = act->multiAc;
    for (;;) {
        if (multi) {
            const uint8_t* const order = jpg_natural_order;
            intptr_t pos = k; // of the processor's width: no widening at each step
            for (;;) {
                // A step needs only its table's bits: a refill (at least 57 bits) serves a few.
                if (nbits < kJpgMultiAcBits) {
                    regFill(r, br);
                }
                const JpgMultiStep& e = multiAc[acc >> (64 - kJpgMultiAcBits)];
                // Past the block's end (or no whole symbol in the bits): one symbol at a time
                // below. A block filled to its last coefficient stops here too, every span being
                // at least one.
                const intptr_t next = pos + e.span;
                if (next > 64) {
                    break;
                }
                const uint32_t bits = e.bits;
                acc <<= (bits & 63); // the end-of-block bit lies outside the shift's count
                nbits -= int(bits);
                const int16_t v0 = e.value[0], v1 = e.value[1];
                const uint8_t a0 = e.at[0], a1 = e.at[1];
                // An unused slot (the second) writes a zero where nothing is stored yet, before
                // the used one.
                const uint8_t* const at = order + pos;
                block[at[a1]] = v1;
                block[at[a0]] = v0;
                if (bits & 0x80) {
                    nbits += 0x80;
                    lastStored = int(next) - 2; // before the end of block
                    pos = 64;
                    break;
                }
                pos = next;
            }
            k = int(pos);
        }
        if (k > last) {
            break;
        }
        // One symbol.
        if (nbits < 32) {
            regFill(r, br);
        }
        int f = act->fastAc[acc >> (64 - kJpgFastAcBits)];
        if (f) {
            int len = f & 15;
            acc <<= len;
            nbits -= len;
            if ((f >> 8) == 0) {
                if (((f >> 4) & 15) == 0) {
                    lastStored = k - 1; // end of block
                    k = 64;
                    break;
                }
                k += 16;
                continue;
            }
            k += (f >> 4) & 15;
            block[jpg_natural_order[k]] = int16_t(f >> 8); // runs past 63 land on 63
            ++k;
            continue;
        }
        uint32_t e = act->entries[acc >> 56];
        uint32_t rs;
        if (!(e & kHuffPointer)) {
            uint32_t len = e & 0xFF;
            if (len == 0) {
                regStore(r, br);
                return corrupt(br);
            }
            acc <<= len;
            nbits -= int(len);
            rs = (e >> 8) & 0xFF;
        } else {
            uint32_t kk = e & 0xFF;
            uint32_t start = (e & ~kHuffPointer) >> 8;
            uint32_t e2 = act->entries[start + uint32_t((acc << 8) >> (64 - kk))];
            uint32_t len2 = e2 & 0xFF;
            if (len2 == 0) {
                regStore(r, br);
                return corrupt(br);
            }
            acc <<= 8 + len2;
            nbits -= int(8 + len2);
            rs = (e2 >> 8) & 0xFF;
        }
        int run = int(rs >> 4), sz = int(rs & 15);
        if (sz) {
            k += run;
            uint32_t v = uint32_t(acc >> (64 - sz));
            acc <<= sz;
            nbits -= sz;
            block[jpg_natural_order[k]] = wrap16(extend(v, sz));
            ++k;
        } else if (run == 15) {
            k += 16;
        } else {
            lastStored = k - 1;
            k = 64;
            break;
        }
    }
    if (lastStored < 0) {
        lastStored = k - 1 > 63 ? 63 : k - 1; // past the last index: nothing stored from k on
    }
    // ... and parse the rest without storing (at reduced scales most of the block).
    regStore(r, br);
    if (k <= 63 && !skipBlockRest(br, act, k)) {
        return corrupt(br);
    }
    comp->lastIdx = lastStored;
    if (JpgBrOverrun(br)) {
        br->starved = true;
    }
    return 0;
}

namespace {

__attribute__((always_inline)) inline int dcBlocks(JpgBitReader* br, JpgComponent* const* comps, int n, int16_t* dcs) {
    Regs r;
    regLoad(r, br);
    int i = 0;
    for (; i < n; ++i) {
        if (!dcBlock(br, comps[i], r, &dcs[i])) {
            br->starved = true;
            break;
        }
    }
    regStore(r, br);
    return i;
}

// The same with the shifts by a variable count that the processor may do in one step: the
// accumulator's shift lies on every symbol's path.
__attribute__((target("bmi2"))) int dcBlocksBmi2(JpgBitReader* br, JpgComponent* const* comps, int n, int16_t* dcs) {
    return dcBlocks(br, comps, n, dcs);
}

int dcBlocksPlain(JpgBitReader* br, JpgComponent* const* comps, int n, int16_t* dcs) {
    return dcBlocks(br, comps, n, dcs);
}

using DcBlocksFn = int (*)(JpgBitReader*, JpgComponent* const*, int, int16_t*);

// Chosen at the first decode rather than among the static initialisers, whose order across files
// is unknown: a decode run by another file's initialiser still finds it set.
DcBlocksFn dcBlocksForThisProcessor() {
    static const DcBlocksFn fn = __builtin_cpu_supports("bmi2") ? dcBlocksBmi2 : dcBlocksPlain;
    return fn;
}

} // namespace

int JpgDecDcBlocks(JpgBitReader* br, JpgComponent* const* comps, int n, int16_t* dcs) {
    if (br->starved) {
        return 0;
    }
    return dcBlocksForThisProcessor()(br, comps, n, dcs);
}

int64_t JpgDecBlockDc(JpgBitReader* br, int16_t* block, JpgComponent* comp) {
    int16_t dc;
    if (JpgDecDcBlocks(br, &comp, 1, &dc) == 1) {
        block[0] = dc;
    }
    return 0;
}

int64_t JpgDecBlockDCFirst(JpgBitReader* br, int16_t* block, JpgComponent* comp) {
    if (br->starved) {
        return 0;
    }
    int32_t diff;
    if (!decodeDc(br, br->dc[comp->dcTbl], &diff)) {
        br->starved = true;
        return JPG_ERR_DATA;
    }
    int16_t dc = wrap16(comp->dcPred + diff);
    comp->dcPred = dc;
    block[0] = wrap16(int32_t(dc) * (1 << br->al));
    if (JpgBrOverrun(br)) {
        br->starved = true;
    }
    return 0;
}

int64_t JpgDecBlockDCRefine(JpgBitReader* br, int16_t* block, JpgComponent*) {
    if (br->starved) {
        return 0;
    }
    JpgBrNeed(br, 1);
    if (JpgBrGet(br, 1)) {
        block[0] = int16_t(block[0] | (1 << br->al));
    }
    if (JpgBrOverrun(br)) {
        br->starved = true;
    }
    return 0;
}

int64_t JpgDecBlockACFirst(JpgBitReader* br, int16_t* block, JpgComponent* comp) {
    if (br->starved) {
        return 0;
    }
    if (br->eobrun > 0) {
        br->eobrun--;
        return 0;
    }
    JpgHuffTable* act = br->ac[comp->acTbl];
    if (!act->fastReady) {
        JpgHuffPrepareFast(act);
    }
    const int al = br->al;
    for (int k = br->ss; k <= br->se; ++k) {
        JpgBrNeed(br, 32);
        int f = act->fastAc[br->acc >> (64 - kJpgFastAcBits)];
        if (f) {
            JpgBrSkip(br, f & 15);
            if ((f >> 8) == 0) {
                if (((f >> 4) & 15) == 0) {
                    br->eobrun = 0; // an end-of-band run of this block alone
                    break;
                }
                k += 15;
                continue;
            }
            k += (f >> 4) & 15;
            block[jpg_natural_order[k > 79 ? 79 : k]] = wrap16((f >> 8) * (1 << al));
            continue;
        }
        int rs = JpgHufDecode(br, act);
        if (rs < 0) {
            br->starved = true;
            return JPG_ERR_DATA;
        }
        int r = rs >> 4, s = rs & 15;
        if (s) {
            k += r;
            int32_t v = extend(JpgBrGet(br, s), s);
            block[jpg_natural_order[k > 79 ? 79 : k]] = wrap16(v * (1 << al));
        } else if (r < 15) {
            // G.1.2.2: end-of-band run of 2^r + r extra bits blocks, this one included.
            uint32_t run = 1u << r;
            if (r) {
                run += JpgBrGet(br, r);
            }
            br->eobrun = run - 1;
            break;
        } else {
            k += 15;
        }
    }
    if (JpgBrOverrun(br)) {
        br->starved = true;
    }
    return 0;
}

int64_t JpgDecBlockACRefine(JpgBitReader* br, int16_t* block, JpgComponent* comp) {
    if (br->starved) {
        return 0;
    }
    const JpgHuffTable* act = br->ac[comp->acTbl];
    const int32_t p1 = 1 << br->al;
    const int32_t m1 = -p1;
    const int se = br->se;
    int k = br->ss;
    auto correct = [&](int16_t* c) {
        // G.1.2.3: a correction bit for a coefficient that is already non-zero.
        JpgBrNeed(br, 1);
        if (JpgBrGet(br, 1) && (*c & p1) == 0) {
            *c = wrap16(*c + (*c >= 0 ? p1 : m1));
        }
    };
    if (br->eobrun == 0) {
        for (; k <= se; ++k) {
            JpgBrNeed(br, 32);
            int rs = JpgHufDecode(br, act);
            if (rs < 0) {
                br->starved = true;
                return JPG_ERR_DATA;
            }
            int r = rs >> 4, s = rs & 15;
            int32_t value = 0;
            if (s) {
                if (s != 1) {
                    br->starved = true;
                    return JPG_ERR_DATA;
                }
                value = JpgBrGet(br, 1) ? p1 : m1;
            } else if (r != 15) {
                br->eobrun = 1u << r;
                if (r) {
                    br->eobrun += JpgBrGet(br, r);
                }
                break;
            }
            // Walk to the r-th zero coefficient, correcting the non-zero ones on the way.
            while (k <= se) {
                int16_t* c = &block[jpg_natural_order[k]];
                if (*c != 0) {
                    correct(c);
                } else {
                    if (r == 0) {
                        break;
                    }
                    --r;
                }
                ++k;
            }
            if (value && k <= 63) {
                block[jpg_natural_order[k]] = wrap16(value);
            }
        }
    }
    if (br->eobrun > 0) {
        for (; k <= se; ++k) {
            int16_t* c = &block[jpg_natural_order[k]];
            if (*c != 0) {
                correct(c);
            }
        }
        br->eobrun--;
    }
    if (JpgBrOverrun(br)) {
        br->starved = true;
    }
    return 0;
}

int64_t JpgDecRestart(JpgBitReader* br, JpgComponent** comps, int ncomp) {
    int e = br->rstNext;
    int m = JpgBrNextMarker(br);
    bool resume = false;
    // Resynchronisation: find the marker that belongs here, or leave a later one pending so the
    // blocks up to it come out grey.
    for (;;) {
        if (m == 0) {
            br->marker = 0xD9; // data ended
            break;
        }
        if (m == 0xD0 + e) {
            resume = true;
            break;
        }
        if (m < 0xC0) {
            m = JpgBrNextMarker(br);
            continue;
        }
        if (m < 0xD0 || m > 0xD7 || m == 0xD0 + ((e + 1) & 7) || m == 0xD0 + ((e + 2) & 7)) {
            br->p -= 2; // stand in front of the marker again
            br->marker = m;
            break;
        }
        if (m == 0xD0 + ((e + 7) & 7) || m == 0xD0 + ((e + 6) & 7)) {
            m = JpgBrNextMarker(br);
            continue;
        }
        resume = true; // a restart far from the expected one: drop it and go on
        break;
    }
    br->starved = !resume;
    br->rstNext = (e + 1) & 7;
    for (int i = 0; i < ncomp; ++i) {
        comps[i]->dcPred = 0;
    }
    br->rstLeft = br->rstInterval;
    br->eobrun = 0;
    return 0;
}
