// Huffman lookup tables from DHT specifications (T.81 Annex C: canonical codes).
#include <cstring>

#include "jpg_internal.h"

int64_t JpgDecSetHuffTable(JpgDecoder* d, const uint8_t* counts, const uint8_t* values,
                           JpgHuffTable** out) {
    *out = nullptr;
    if (d->tableCount >= kJpgMaxHuffTables) {
        return JPG_ERR_DATA;
    }
    uint16_t codes[256];
    uint8_t lengths[256];
    int n = 0;
    uint32_t code = 0;
    // C.2: code lengths and canonical codes; a code that reaches 2^length cannot exist.
    for (int len = 1; len <= 16; ++len) {
        for (int i = 0; i < counts[len - 1]; ++i) {
            if (n >= 256 || code >= (1u << len)) {
                return JPG_ERR_PARAM;
            }
            codes[n] = uint16_t(code);
            lengths[n] = uint8_t(len);
            ++n;
            ++code;
        }
        code <<= 1;
    }
    // Second level sized per table: each 8-bit prefix of a longer code gets 2^k entries, k the
    // longest remainder under that prefix.
    uint8_t prefixK[256] = {};
    for (int i = 0; i < n; ++i) {
        if (lengths[i] > 8) {
            uint32_t prefix = uint32_t(codes[i]) >> (lengths[i] - 8);
            uint8_t k = uint8_t(lengths[i] - 8);
            if (k > prefixK[prefix]) {
                prefixK[prefix] = k;
            }
        }
    }
    uint32_t size = 256;
    uint32_t start[256] = {};
    for (int p = 0; p < 256; ++p) {
        if (prefixK[p]) {
            start[p] = size;
            size += 1u << prefixK[p];
        }
    }
    size_t bytes = sizeof(JpgHuffTable) + size_t(size) * sizeof(uint32_t);
    // Tables stay alive while any scan may use them; redefinitions must not grow without bound.
    if (d->tableBytes + bytes > kJpgMaxHuffBytes) {
        return JPG_ERR_DATA;
    }
    d->tableBytes += bytes;
    auto* t = static_cast<JpgHuffTable*>(JpgDecAlloc(d, bytes));
    if (!t) {
        return JPG_ERR_MEMORY;
    }
    t->entries = reinterpret_cast<uint32_t*>(t + 1);
    t->size = size;
    std::memset(t->entries, 0, size_t(size) * sizeof(uint32_t)); // zero = no such code
    for (int p = 0; p < 256; ++p) {
        if (prefixK[p]) {
            t->entries[p] = kHuffPointer | (start[p] << 8) | prefixK[p];
        }
    }
    for (int i = 0; i < n; ++i) {
        uint32_t len = lengths[i];
        uint32_t c = codes[i];
        uint32_t sym = values[i];
        if (len <= 8) {
            uint32_t first = c << (8 - len);
            uint32_t count = 1u << (8 - len);
            for (uint32_t j = 0; j < count; ++j) {
                t->entries[first + j] = (sym << 8) | len;
            }
        } else {
            uint32_t prefix = c >> (len - 8);
            uint32_t k = prefixK[prefix];
            uint32_t rest = len - 8;
            uint32_t low = c & ((1u << rest) - 1);
            uint32_t first = start[prefix] + (low << (k - rest));
            uint32_t count = 1u << (k - rest);
            for (uint32_t j = 0; j < count; ++j) {
                t->entries[first + j] = (sym << 8) | rest;
            }
        }
    }
    // The AC shortcuts are made when a block decoder first needs them (JpgHuffPrepare*): a DC
    // table never does, and most decodes never skip.
    t->fastReady = false;
    t->skipReady = false;
    t->multiReady = false;
    t->dcReady = false;
    t->next = d->tables;
    d->tables = t;
    d->tableCount++;
    *out = t;
    return 0;
}

namespace {

// The symbol whose code begins the `bits`-bit prefix p, as (code length << 8) | symbol; 0 when the
// code is longer than `bits` or not in the table.
uint32_t prefixSymbol(const JpgHuffTable* t, uint32_t p, int bits) {
    const uint32_t e = t->entries[p >> (bits - 8)];
    if (!(e & kHuffPointer)) {
        return e & 0xFF ? (((e & 0xFF) << 8) | ((e >> 8) & 0xFF)) : 0;
    }
    const uint32_t k = e & 0xFF;
    const uint32_t start = (e & ~kHuffPointer) >> 8;
    const uint32_t rest = p & ((1u << (bits - 8)) - 1); // the bits after the first 8
    const uint32_t sub = int(k) >= bits - 8 ? rest << (k - uint32_t(bits - 8)) : rest >> (uint32_t(bits - 8) - k);
    const uint32_t e2 = t->entries[start + sub];
    const uint32_t len = 8 + (e2 & 0xFF);
    if ((e2 & 0xFF) == 0 || len > uint32_t(bits)) {
        return 0;
    }
    return (len << 8) | ((e2 >> 8) & 0xFF);
}

// The symbol each `bits`-bit prefix starts with (as prefixSymbol gives it), in a buffer of the
// calling thread that its next call overwrites.
const uint16_t* symbolsByPrefix(const JpgHuffTable* t, int bits) {
    static thread_local uint16_t byPrefix[1 << 15];
    for (uint32_t p = 0; p < (1u << bits); ++p) {
        byPrefix[p] = uint16_t(prefixSymbol(t, p, bits));
    }
    return byPrefix;
}

// The zig-zag positions an entry of several symbols needs before the block's end: those it
// advances, one more when it ends the block (an end of block cannot follow a coefficient at 63),
// and more than a block has when it holds no whole symbol; the decoder takes the entry while its
// position plus this is at most 64.
uint32_t entrySpan(uint32_t used, uint32_t advance, uint32_t ends) {
    return used ? advance + ends : 127;
}

} // namespace

void JpgHuffPrepareFast(JpgHuffTable* t) {
    // Run/size symbols whose code and value bits fit in the shortcut's bits, with values of up to
    // 7 bits (F.2.2.2); an end of block and a run of 16 zeros with value 0.
    constexpr int kFast = kJpgFastAcBits;
    for (uint32_t i = 0; i < (1u << kFast); ++i) {
        t->fastAc[i] = 0;
        const uint32_t e = prefixSymbol(t, i, kFast);
        const uint32_t len = e >> 8, rs = e & 0xFF, r = rs >> 4, sz = rs & 15;
        if (len != 0 && sz == 0 && (r == 0 || r == 15) && len <= uint32_t(kFast)) {
            t->fastAc[i] = int16_t((r << 4) | len); // an end of block or a run of 16 zeros: no value
            continue;
        }
        if (len == 0 || sz == 0 || sz > 7 || len + sz > uint32_t(kFast)) {
            continue;
        }
        uint32_t bits = (i >> (kFast - len - sz)) & ((1u << sz) - 1);
        int32_t v = bits < (1u << (sz - 1)) ? int32_t(bits) - int32_t((1u << sz) - 1) : int32_t(bits);
        t->fastAc[i] = int16_t(uint16_t(uint32_t(v) << 8) | (r << 4) | (len + sz));
    }
    t->fastReady = true;
}

void JpgHuffPrepareSkip(JpgHuffTable* t) {
    constexpr int kSkip = kJpgSkipAcBits;
    static_assert(kJpgSkipAcBits >= 8 && kJpgSkipAcBits <= 15, "lengths fit in 4 bits");
    // Symbols by prefix first, then the whole symbols each prefix holds.
    const uint16_t* byPrefix = symbolsByPrefix(t, kSkip);
    for (uint32_t p = 0; p < (1u << kSkip); ++p) {
        uint32_t used = 0, advance = 0, ends = 0;
        while (used < kSkip && !ends) {
            const uint32_t e = byPrefix[(p << used) & ((1u << kSkip) - 1)];
            const uint32_t len = e >> 8, rs = e & 0xFF, r = rs >> 4, sz = rs & 15;
            const uint32_t step = sz ? r + 1 : r == 15 ? 16 : 0;
            if (len == 0 || used + len + sz > kSkip || advance + step > 63) {
                break;
            }
            used += len + sz;
            advance += step;
            ends = (sz == 0 && r != 15) ? 1 : 0;
        }
        t->skipAc[p] = uint16_t((entrySpan(used, advance, ends) << 7) | (ends << 6) | used);
    }
    t->skipReady = true;
}

void JpgHuffPrepareMulti(JpgHuffTable* t) {
    constexpr int kBits = kJpgMultiAcBits;
    static_assert(kJpgMultiAcBits >= 8 && kJpgMultiAcBits <= 15, "lengths fit in 4 bits");
    const uint16_t* byPrefix = symbolsByPrefix(t, kBits);
    for (uint32_t p = 0; p < (1u << kBits); ++p) {
        JpgMultiStep step{};
        uint32_t used = 0, advance = 0, ends = 0, count = 0;
        while (used < kBits && !ends) {
            const uint32_t e = byPrefix[(p << used) & ((1u << kBits) - 1)];
            const uint32_t len = e >> 8, rs = e & 0xFF, r = rs >> 4, sz = rs & 15;
            const uint32_t move = sz ? r + 1 : r == 15 ? 16 : 0;
            if (len == 0 || used + len + sz > kBits || advance + move > 63 || (sz && count == 2)) {
                break;
            }
            if (sz) {
                const uint32_t bits = (p >> (kBits - used - len - sz)) & ((1u << sz) - 1);
                const int32_t v = bits < (1u << (sz - 1)) ? int32_t(bits) - int32_t((1u << sz) - 1) : int32_t(bits);
                step.value[count] = int16_t(v);
                step.at[count] = uint8_t((advance + r) & 63);
                ++count;
            }
            used += len + sz;
            advance += move;
            ends = (sz == 0 && r != 15) ? 1 : 0;
        }
        step.bits = uint8_t(used ? used | (ends << 7) : 0);
        step.span = uint8_t(entrySpan(used, advance, ends));
        t->multiAc[p] = step;
    }
    t->multiReady = true;
}

void JpgHuffPrepareDc(JpgHuffTable* t) {
    constexpr int kFast = kJpgFastDcBits;
    static_assert(kJpgFastDcBits <= 15, "lengths fit in 4 bits");
    for (uint32_t i = 0; i < (1u << kFast); ++i) {
        t->fastDc[i] = 0;
        const uint32_t e = prefixSymbol(t, i, kFast);
        const uint32_t len = e >> 8, sz = e & 0xFF;
        if (len == 0 || sz > 7 || len + sz > uint32_t(kFast)) {
            continue; // also the symbols above 11 that a DC table cannot use: the slow path refuses them
        }
        int32_t v = 0;
        if (sz) {
            const uint32_t bits = (i >> (kFast - len - sz)) & ((1u << sz) - 1);
            v = bits < (1u << (sz - 1)) ? int32_t(bits) - int32_t((1u << sz) - 1) : int32_t(bits);
        }
        t->fastDc[i] = int16_t(uint16_t(uint32_t(v) << 4) | (len + sz));
    }
    t->dcReady = true;
}
