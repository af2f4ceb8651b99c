// Records and stage functions shared by the files of the JPEG decoder. Not a public header.
#ifndef KPV_CODEC_JPEG_INTERNAL_H
#define KPV_CODEC_JPEG_INTERNAL_H

#include <cstddef>
#include <cstdint>

#include "AjlJpgDecoder.h"
#include "JpgIdct.h"

extern const int32_t jpg_extend_tbl[16];
extern const int32_t jpg_scalese_tbl[4];
extern const int32_t jpg_mcumode_tbl[3][3];
extern const uint8_t jpg_yccrun_tbl[24][3];
extern const int32_t jpg_yuvsample_tbl[9];

// Limits against hostile files.
constexpr int kJpgMaxScans = 1000;        // SOS segments in one file
// A progressive frame is decoded by walking every scan over every block: the work is blocks
// times scans, fixed by a few header bytes. Beyond this many block visits (a 2^28-pixel 4:2:0
// picture with 40 scans, a 24-megapixel 4:4:4 one with 200), or kJpgBlockScansPerByte for each
// byte of a larger file, a file is refused before any decoding, so a small file cannot keep a
// worker busy for seconds while a real photograph of any size, which brings its data along, is
// taken (a 750-megapixel one makes about two visits per byte).
constexpr uint64_t kJpgMaxProgressiveBlockScans = uint64_t(1) << 28;
constexpr uint64_t kJpgBlockScansPerByte = 64;
constexpr int kJpgMaxHuffTables = 1024;   // DHT tables built over the life of a decoder
constexpr size_t kJpgMaxHuffBytes = size_t(8) << 20; // and their memory
constexpr int kJpgMaxScanBlocks = 10;     // T.81 B.2.3: blocks in an interleaved MCU
constexpr int kJpgMaxFrameBlocks = 48;    // blocks per frame MCU, all components
constexpr uint32_t kJpgGuard = 128;       // bytes behind every input buffer
constexpr uint32_t kJpgHistory = 128;     // bytes kept before the read position on a refill
constexpr int64_t kJpgMaxIndexBytes = int64_t(1) << 28;

// Two-level Huffman lookup table. First level: 256 entries indexed by the next 8 bits.
// Direct entry: (symbol << 8) | length (1..8). Pointer entry: kHuffPointer | (start << 8) | k,
// the second level at `start` indexed by the next k bits. Second-level entry:
// (symbol << 8) | (length - 8). A zero entry is a code that the table does not hold.
constexpr uint32_t kHuffPointer = 0x80000000u;
constexpr int kJpgFastAcBits = 11;
constexpr int kJpgSkipAcBits = 13;
constexpr int kJpgMultiAcBits = 12;
constexpr int kJpgFastDcBits = 11;
// Making the several-symbol table costs about as much as it saves on this many blocks: smaller
// components decode one symbol at a time.
constexpr int64_t kJpgMultiMinBlocks = int64_t(1) << 15;
// One step of several AC symbols: the whole symbols (codes with their value bits) that fit in
// kJpgMultiAcBits bits, with at most two coefficients (a third would cost every step more than it
// saves). Each field is read by itself, without shifts and masks.
struct JpgMultiStep {
    // The bits they take (0 when not even one fits), with bit 7 set when they end the block: the
    // accumulator's shift by the whole byte leaves that bit out.
    uint8_t bits;
    // The zig-zag positions they advance, as the span of skipAc.
    uint8_t span;
    // The coefficients' values and their zig-zag offsets from the step's position; a value and
    // offset both 0 when unused, written first, where nothing is stored yet.
    int16_t value[2];
    uint8_t at[2];
};
static_assert(sizeof(JpgMultiStep) == 8, "a step is read with one index");

struct JpgHuffTable {
    uint32_t* entries;
    uint32_t size;
    JpgHuffTable* next; // list of every table the decoder built
    // AC shortcut by the next kJpgFastAcBits bits: when a code and its value bits fit in them and
    // the value in 8 bits, the coefficient (int8 << 8) | (run << 4) | (code + value bits); an end
    // of block (run 0) or a run of 16 zeros (run 15) with value 0; 0 otherwise.
    int16_t fastAc[1 << kJpgFastAcBits];
    bool fastReady, skipReady; // fastAc and skipAc made (JpgHuffPrepareFast, JpgHuffPrepareSkip)
    bool multiReady;           // multiAc made (JpgHuffPrepareMulti)
    bool dcReady;              // fastDc made (JpgHuffPrepareDc)
    // DC shortcut by the next kJpgFastDcBits bits: when a difference's code and value bits fit in
    // them and the value in 8 bits, (value << 4) | (code + value bits); 0 otherwise.
    int16_t fastDc[1 << kJpgFastDcBits];
    // AC skipping by the next kJpgSkipAcBits bits, for coefficients that are parsed but not kept:
    // the whole symbols (codes with their value bits) that fit in them, as (span << 7) | (ends the
    // block << 6) | their bits (bits 4 and 5 clear, so that the entry itself is a shift count).
    // The span is the zig-zag positions they advance, plus one when they end the block, or 127
    // when not even one symbol fits: an entry serves where the position plus its span is at
    // most 64.
    uint16_t skipAc[1 << kJpgSkipAcBits];
    // AC decoding several symbols at a time, by the next kJpgMultiAcBits bits (JpgMultiStep).
    JpgMultiStep multiAc[1 << kJpgMultiAcBits];
};

struct JpgDecoder;

struct JpgBitReader {
    void* stream;
    JpgStreamCallback cb;
    uint8_t* buf;      // bufSize + guard + slack bytes
    uint32_t bufSize;
    uint32_t cap;      // bytes the buffer may hold
    int64_t bufOffset; // stream offset of buf[0]
    uint32_t valid;    // bytes valid in buf (EOI appended after the end of data)
    bool end;          // the stream has no more data
    int64_t streamPos; // stream position after this reader's last read
    int64_t* sharedPos; // where the stream stands, shared by every reader of the decoder

    const uint8_t* p;  // next byte to enter the accumulator
    uint64_t acc;      // bits, most significant first
    int nbits;         // bits in acc
    int fake;          // zero bits padded behind a marker or the end of data (tail of acc)
    int marker;        // marker the reader stands before (0 none)
    bool starved;      // a block ran out of data or met corrupt codes: output grey until restart

    JpgHuffTable* dc[4];
    JpgHuffTable* ac[4];
    int lastIndex;     // last zig-zag index to store (Se or the scale limit)
    int ss, se, ah, al;
    uint32_t eobrun;
    int64_t scanStart; // bit position of the scan's first entropy-coded bit

    int rstNext;       // expected restart number 0..7
    int rstInterval;   // MCUs per restart interval, 0 none
    int rstLeft;       // MCUs left before the next restart
};

struct JpgComponent {
    uint8_t* plane;
    int32_t pitch;
    int32_t width, height; // samples
    int id, index, h, v, tq, dcTbl, acTbl;
    int32_t dcPred;
    int32_t lastIdx;
    int hb, vb;            // blocks per MCU in the current scan
    int firstBlock;
    int32_t* dq;
    int32_t lineDouble;
    // Output reduction of this component, horizontally and vertically (the scale shift, or less
    // for chroma delivered at the luma plane's size), and its inverse transform when both are equal.
    int sx, sy;
    JpgIdctFn idct;
    int32_t* dqFull;  // dequantisation for the full transform
    // The vector quarter-size transform's weights for this component's table (JpgIdct2Weigh),
    // where that transform is the component's and the processor has it; null otherwise.
    const float* weights2;
    int32_t lastAtLeast; // coefficients to store whatever the scale (chroma that needs them at 1/8)
    bool multiAc;        // large enough to decode several AC symbols a step (kJpgMultiMinBlocks)
};

using JpgBlockFn = int64_t (*)(JpgBitReader* br, int16_t* block, JpgComponent* comp);

struct JpgScan {
    int64_t col, row;
    int64_t mcusPerRow, mcuRows, wholePerRow, wholeRows;
    int ncomp;
    int blocksPerMcu;
    JpgComponent* comp[4]; // copies taken at the SOS
    JpgComponent compStore[4];
    int frameComp[4];      // frame component index of each copy
    uint8_t blockComp[kJpgMaxFrameBlocks];
    int16_t bx[kJpgMaxFrameBlocks], by[kJpgMaxFrameBlocks];
    JpgBlockFn block;
    bool isAc;
    JpgBitReader br;
    JpgScan* next;
    int firstBlock;
    int64_t limit;
};

struct JpgIndex {
    uint32_t interval;
    uint32_t perRow;
    uint32_t* bits;   // bit positions, 0 = not yet recorded
    int16_t* dcs;     // DC predictors, entry after entry, components in scan order
    uint32_t missing; // entries still unrecorded; 0 = complete
    int64_t correction;
    uint8_t* blob;
    uint32_t blobSize;
    uint32_t entries;
};

struct JpgDecoder;
using JpgMcuFn = int64_t (*)(JpgDecoder* d, int64_t col, int64_t row);

struct JpgDecoder {
    // Frame
    int precision;
    int32_t width, height;
    int64_t linesDone;
    bool bandCut; // the last band ended inside an MCU row: the rest of that row is gone
    int layoutRow;
    int32_t subsampling;
    int outputMode; // 0 stream, 1 coefficients, 2 planes, 3 none
    int maxH, maxV;
    int ncomp;
    int blocksPerMcu;
    JpgComponent* comp; // four records
    JpgBitReader* br;
    JpgIndex* index;
    JpgIndex* finer;

    // Scan geometry
    int scanMaxV;
    int mcuHeight;
    int64_t frameMcusPerRow, frameMcuRows;
    int64_t mcuCol, mcuRow;
    int64_t mcusPerRow, mcuRows, wholePerRow, wholeRows;

    // Work area: one coefficient block, one 8 x 8 pixel block, four dequantisation tables
    int16_t* block;
    uint8_t* pixels;
    int32_t* dq[4];
    uint8_t* work;

    int state; // 0 markers, 1 SOS read, 2 baseline MCUs, 3 EOI, 4 row-buffered
    int scanComps;
    int scanBlocks;
    JpgComponent* scanComp[4];
    uint8_t blockComp[kJpgMaxFrameBlocks];
    int16_t bx[kJpgMaxFrameBlocks], by[kJpgMaxFrameBlocks];

    JpgMcuFn mcuFn[4];
    JpgIdctFn idct;
    bool progressive;
    int16_t* rowBuf;
    size_t rowBufCount; // coefficients
    bool seenSOI, seenSOF, seenDQT, seenDHT, seenSOS;
    int shift;
    int64_t scaledW, scaledH;

    uint16_t* qt;          // 4 x 64 raw quantisers, natural order
    bool qtDefined[4];
    int tableSlots;
    JpgHuffTable* tables;  // every table built
    int tableCount;
    size_t tableBytes;
    JpgHuffTable* dcTbl[4];
    JpgHuffTable* acTbl[4];
    JpgScan* scans;
    JpgScan* lastScan;
    int scanCount;
    int scanMode; // 0 baseline, 1 progressive, 2 multi-scan sequential, 3 unsupported
    int32_t rgb;
    uint32_t flags;
    JpgProgressCallback progress;
    void* progressUser;
    void* memUser;
    JpgAllocCallback memAlloc;
    JpgFreeCallback memFree;
    void** allocTable;
    JpgStreamCallback streamCb;
    int64_t sharedPos;

    bool rowDcOnly;      // the row buffer holds DC coefficients only (every AC scan passed over)
    int64_t clipRows[4]; // absolute component rows (full resolution) output may reach
    bool chromaAtLuma;   // subsampled chroma planes at the luma plane's size at reduced scales
    int32_t* dqChroma;   // 4 x 64: the chroma's dequantisation tables in that mode
    int32_t* dqFull;     // 4 x 64: the tables of the full transform (blocks cut by the image edge)
    float* weights2;     // 8 x kJpgIdct2Weights: the quarter-size transform's, of dq then of dqChroma
    int64_t restartInterval;
    uint8_t* scratch;
    int64_t fatal; // after a fault that leaves the handle inconsistent, every call returns it
};

// Memory of one decoder (through its callbacks).
void* JpgDecAlloc(JpgDecoder* d, size_t size);
void JpgDecFree(JpgDecoder* d, void* block);

// Bit reader (jpg_bitreader.cpp)
int64_t JpgDecHufInit(JpgBitReader* br);
int64_t JpgHufReset(JpgBitReader* br, int64_t bitPos);
int64_t JpgScanHufInit(JpgDecoder* d, JpgBitReader* scanBr, uint8_t* buffer, uint32_t size);
int64_t JpgScanHufReset(JpgBitReader* br);
bool JpgBrEnsure(JpgBitReader* br, uint32_t n);
void JpgBrFillSlow(JpgBitReader* br);
int64_t JpgBrBitPosition(const JpgBitReader* br);
void JpgBrSyncToByte(JpgBitReader* br);
int JpgBrNextMarker(JpgBitReader* br); // 0 when the data ended
bool JpgBrReadByte(JpgBitReader* br, int* value);

inline uint32_t JpgBrAvail(const JpgBitReader* br) {
    return br->valid - uint32_t(br->p - br->buf);
}

// Keeps at least 57 bits in the accumulator (zero bits after a marker or the end of data).
inline void JpgBrFill(JpgBitReader* br) {
    if (br->nbits > 56) {
        return;
    }
    // Fast path: the next eight bytes hold no 0xFF, so they are all data.
    if (br->marker == 0 && JpgBrAvail(br) >= 8) {
        uint64_t raw;
        __builtin_memcpy(&raw, br->p, 8);
        uint64_t inv = ~raw;
        if (((inv - 0x0101010101010101ull) & ~inv & 0x8080808080808080ull) == 0) {
            uint64_t w = __builtin_bswap64(raw);
            int n = (64 - br->nbits) >> 3; // whole bytes that fit: 1..8
            uint64_t keep = n == 8 ? w : w & ~((uint64_t(1) << (64 - 8 * n)) - 1);
            br->acc |= keep >> br->nbits;
            br->nbits += 8 * n;
            br->p += n;
            return;
        }
    }
    JpgBrFillSlow(br);
}

// Makes sure n (at most 57) bits are in the accumulator.
inline void JpgBrNeed(JpgBitReader* br, int n) {
    if (br->nbits < n) {
        JpgBrFill(br);
    }
}

inline uint32_t JpgBrPeek(const JpgBitReader* br, int n) {
    return uint32_t(br->acc >> (64 - n));
}
inline void JpgBrSkip(JpgBitReader* br, int n) {
    br->acc <<= n;
    br->nbits -= n;
}
inline uint32_t JpgBrGet(JpgBitReader* br, int n) {
    if (n == 0) {
        return 0;
    }
    uint32_t v = JpgBrPeek(br, n);
    JpgBrSkip(br, n);
    return v;
}
// True when the block consumed bits that were padding, not data.
inline bool JpgBrOverrun(const JpgBitReader* br) {
    return br->fake > br->nbits;
}

// Huffman tables (jpg_huffman.cpp)
int64_t JpgDecSetHuffTable(JpgDecoder* d, const uint8_t* counts, const uint8_t* values,
                           JpgHuffTable** out);
// Make the AC shortcuts of a table, on first use.
void JpgHuffPrepareFast(JpgHuffTable* t);
void JpgHuffPrepareSkip(JpgHuffTable* t);
void JpgHuffPrepareMulti(JpgHuffTable* t);
void JpgHuffPrepareDc(JpgHuffTable* t);
// Decodes one symbol; -1 for a code that the table does not hold. Needs >= 16 bits in acc.
inline int JpgHufDecode(JpgBitReader* br, const JpgHuffTable* t) {
    uint32_t e = t->entries[br->acc >> 56];
    if (!(e & kHuffPointer)) {
        uint32_t len = e & 0xFF;
        if (len == 0) {
            return -1;
        }
        JpgBrSkip(br, int(len));
        return int((e >> 8) & 0xFF);
    }
    uint32_t k = e & 0xFF;
    uint32_t start = (e & ~kHuffPointer) >> 8;
    uint32_t sub = uint32_t((br->acc << 8) >> (64 - k));
    uint32_t e2 = t->entries[start + sub];
    uint32_t len2 = e2 & 0xFF;
    if (len2 == 0) {
        return -1;
    }
    JpgBrSkip(br, int(8 + len2));
    return int((e2 >> 8) & 0xFF);
}

// Markers (jpg_markers.cpp)
int64_t JpgDecReadHeader(JpgDecoder* d);
int64_t JpgDecSetDeQuantScale(JpgDecoder* d, int table);
// Chooses every component's output reduction, transform and dequantisation table for the scale.
void JpgDecSetComponentScales(JpgDecoder* d);
// Chroma reduction by (sx, sy) in that mode, by the subsampling type: false when the frame's
// chroma stays at its own size.
bool JpgDecChromaShifts(const JpgDecoder* d, int* sx, int* sy);

// Entropy decoding (jpg_entropy.cpp)
int64_t JpgDecBlock(JpgBitReader* br, int16_t* block, JpgComponent* comp);
// JpgDecBlock with the last index to store 0 (the eighth scale): the DC coefficient alone is kept.
int64_t JpgDecBlockDc(JpgBitReader* br, int16_t* block, JpgComponent* comp);
// JpgDecBlockDc over n blocks in a row (comps[i] the component of block i, dcs[i] its DC
// coefficient), with the reader's state in registers from one block to the next. Returns the
// number of blocks decoded before the reader starved: the blocks from there on come out grey.
int JpgDecDcBlocks(JpgBitReader* br, JpgComponent* const* comps, int n, int16_t* dcs);
int64_t JpgDecBlockDCFirst(JpgBitReader* br, int16_t* block, JpgComponent* comp);
int64_t JpgDecBlockACFirst(JpgBitReader* br, int16_t* block, JpgComponent* comp);
int64_t JpgDecBlockDCRefine(JpgBitReader* br, int16_t* block, JpgComponent* comp);
int64_t JpgDecBlockACRefine(JpgBitReader* br, int16_t* block, JpgComponent* comp);
int64_t JpgDecRestart(JpgBitReader* br, JpgComponent** comps, int ncomp);

// Inverse transform of horizontal and vertical reductions sx and sy that differ by one (0..3):
// (8 >> sx) x (8 >> sy) samples, each the average of the full transform over its area, with the
// dequantisation of the square transform of the smaller one; null for other pairs.
JpgIdctFn JpgIdctPaired(int sx, int sy);

// Output (jpg_output.cpp)
int64_t JpgDecStreamMCU(JpgDecoder* d, int64_t col, int64_t row);
int64_t JpgDecCoefMCU(JpgDecoder* d, int64_t col, int64_t row);
int64_t JpgDecYCbCrMCU(JpgDecoder* d, int64_t col, int64_t row);
// At an eighth, a run of MCUs whose blocks are all one sample from their DC coefficient, decoded
// at once (output MCU column `col` on, row `row`): JpgDecDcRunLength says how many from the
// current MCU on, at most `limit`, may go (0: none, decode them one by one), JpgDecDcRun decodes
// them, as many MCUs of JpgDecYCbCrMCU would, and leaves the MCU position for the caller to move.
int64_t JpgDecDcRunLength(const JpgDecoder* d, int64_t limit);
void JpgDecDcRun(JpgDecoder* d, int64_t col, int64_t row, int64_t count);
// The same for a run of MCUs after the data has ended or broken off (until a restart marker
// resumes it): every block grey, as JpgDecYCbCrMCU makes it, written a row of samples at a time.
int64_t JpgDecGreyRunLength(const JpgDecoder* d, int64_t limit);
void JpgDecGreyRun(JpgDecoder* d, int64_t col, int64_t row, int64_t count);
int64_t JpgDecYCbCrLastMCU(JpgDecoder* d, int64_t col, int64_t row);
int64_t JpgDecRGBMCU(JpgDecoder* d, int64_t col, int64_t row);
int64_t JpgDecPCoefMCU(JpgDecoder* d, JpgScan* scan, int64_t col, int64_t blockRow);
// Whether a progressive scan adds nothing at this scale (AC scans at 1/8, unless needed).
bool JpgDecScanUnneeded(const JpgDecoder* d, const JpgScan* s);
int64_t JpgDecPOutYCbCr(JpgDecoder* d, int64_t col, int64_t row);
int64_t JpgDecPOutCoef(JpgDecoder* d, int64_t col, int64_t row);
// Decodes every scan's blocks of the next MCU row into the row buffer; 1 when any block was
// read, 0 when every scan had nothing more to give (the buffer is then unchanged).
int64_t JpgDecPScanRow(JpgDecoder* d);
void JpgDecStuff(uint8_t* dst, int step, int pitch, int shift);
int64_t JpgDecImage(JpgDecoder* d, int64_t width, int64_t lines);
int64_t DecProgInit(JpgDecoder* d);
int64_t DecScanInit(JpgDecoder* d);
void JpgDecSetClipAll(JpgDecoder* d);
void JpgDecSetClipLines(JpgDecoder* d, int64_t lines);
void JpgDecRewindScans(JpgDecoder* d, int64_t* err);

// Index and regions (jpg_index.cpp)
int64_t DecIndexInit(JpgDecoder* d, int64_t interval);
void JpgDecIdxUpdate(JpgDecoder* d);
// Whether the scan's data is used up for good: the reader ran dry in front of a marker that is no
// restart (the end of the file counts as one), so every block after this one is empty.
bool JpgDecScanDataEnded(const JpgBitReader* br);
// MCUs the reader can pass without reading, because their blocks can only come out empty (or
// grey): all of them (INT64_MAX) when the data has ended, or when corrupt data stopped a scan that
// has no restart markers to resume at; the rest of the restart interval when corrupt data stopped
// it inside one; 0 while there is data to read.
int64_t JpgDecDeadMCUs(const JpgBitReader* br);
// Moves the decoder `mcus` MCUs on without reading, when JpgDecDeadMCUs allows it.
void JpgDecPassEmptyMCUs(JpgDecoder* d, int64_t mcus);
int64_t JpgDecBuildIndex(JpgDecoder* d);
int64_t JpgDecGetIndexInfo(JpgDecoder* d, int64_t* size, void** blob);
int64_t JpgDecSetIndexInfo(JpgDecoder* d, uint32_t size, const void* blob);
int64_t JpgDecSetIndexByMemorySize(JpgDecoder* d, int64_t budget);
void JpgDecFreeIndex(JpgDecoder* d, JpgIndex* idx);
// Forgets every recorded entry (the stream now holds another file).
int64_t JpgDecResetIndex(JpgDecoder* d);

// Sets the output planes for mode 2 by subsampling type; 0x8008 for an unknown type.
int64_t JpgDecSetPlanes(JpgDecoder* d, uint8_t** planes, const int64_t* pitches);

#endif
