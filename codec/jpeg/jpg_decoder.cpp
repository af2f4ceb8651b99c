// The decoder handle: creation, destruction, properties and the scanline calls.
#include <climits>
#include <cstring>

#include "MMemory.h"
#include "jpg_idct_impl.h"
#include "jpg_internal.h"

void* JpgDecAlloc(JpgDecoder* d, size_t size) {
    if (size > UINT32_MAX - 64) {
        return nullptr;
    }
    return JpgMemAlloc(uint32_t(size), d->memAlloc, d->allocTable, d->memUser);
}

void JpgDecFree(JpgDecoder* d, void* block) {
    JpgMemFree(block, d->memFree, d->allocTable, d->memUser);
}

int64_t JpgDecSetPlanes(JpgDecoder* d, uint8_t** planes, const int64_t* pitches) {
    static const int kLayoutRow[6] = {1, 2, 3, 4, 0, 18};
    if (d->subsampling < 0 || d->subsampling > 5) {
        return JPG_ERR_UNSUPPORTED;
    }
    if (!planes || !pitches) {
        return JPG_ERR_PARAM;
    }
    d->layoutRow = kLayoutRow[d->subsampling];
    int n = d->subsampling == 4 ? 1 : (d->ncomp < 3 ? d->ncomp : 3);
    for (int i = 0; i < n; ++i) {
        d->comp[i].plane = planes[i];
        d->comp[i].pitch = int32_t(uint32_t(uint64_t(pitches[i])));
    }
    return 0;
}

namespace {

int64_t DecMemInit(JpgDecoder* d, const JpgDecParam* param) {
    d->comp = static_cast<JpgComponent*>(JpgDecAlloc(d, 4 * sizeof(JpgComponent)));
    d->br = static_cast<JpgBitReader*>(JpgDecAlloc(d, sizeof(JpgBitReader)));
    if (!d->comp || !d->br) {
        return JPG_ERR_MEMORY;
    }
    std::memset(d->comp, 0, 4 * sizeof(JpgComponent));
    std::memset(d->br, 0, sizeof(JpgBitReader));
    int64_t size = param->bufferSize == 0 ? 4096 : param->bufferSize;
    // The reader keeps history and a guard inside the buffer; very small buffers would leave
    // no room to read, hostile huge ones would exhaust memory.
    if (size < 256) {
        size = 256;
    }
    if (size > (int64_t(1) << 26)) {
        size = int64_t(1) << 26;
    }
    JpgBitReader* br = d->br;
    br->bufSize = uint32_t(size);
    br->cap = br->bufSize + kJpgGuard;
    br->buf = static_cast<uint8_t*>(JpgDecAlloc(d, br->cap + 16));
    // Work area, scratch, then the dequantisation tables of the full transform and of chroma at
    // the luma plane's size (4 x 64 entries each), then the weights of the quarter-size transform
    // for the four tables and for chroma at the luma plane's size.
    constexpr size_t kWeights = 2 * 4 * kJpgIdct2Weights * sizeof(float);
    constexpr size_t kWork = 1216 + 2 * 257 * 4 + 2 * 1024 + kWeights;
    d->work = static_cast<uint8_t*>(JpgDecAlloc(d, kWork));
    d->qt = static_cast<uint16_t*>(JpgDecAlloc(d, 4 * 64 * sizeof(uint16_t)));
    if (!br->buf || !d->work || !d->qt) {
        return JPG_ERR_MEMORY;
    }
    std::memset(d->work, 0, kWork);
    std::memset(d->qt, 0, 4 * 64 * sizeof(uint16_t));
    d->block = reinterpret_cast<int16_t*>(d->work);
    d->pixels = d->work + 128;
    for (int i = 0; i < 4; ++i) {
        d->dq[i] = reinterpret_cast<int32_t*>(d->work + 192 + i * 256);
    }
    d->scratch = d->work + 1216;
    d->dqFull = reinterpret_cast<int32_t*>(d->work + 1216 + 2 * 257 * 4);
    d->dqChroma = d->dqFull + 4 * 64;
    d->weights2 = reinterpret_cast<float*>(d->dqChroma + 4 * 64);
    br->stream = param->stream;
    br->cb = param->streamCallback;
    br->sharedPos = &d->sharedPos;
    br->lastIndex = 63;
    return 0;
}

void DecFuncInit(JpgDecoder* d) {
    d->mcuFn[0] = JpgDecStreamMCU;
    d->mcuFn[1] = JpgDecCoefMCU;
    d->mcuFn[2] = JpgDecYCbCrMCU;
    d->mcuFn[3] = JpgDecRGBMCU;
    d->idct = JpgDQIDCT8;
    JpgDecSetClipAll(d);
}

int64_t DecValidInit(JpgDecoder* d) {
    for (int i = 0; i < d->ncomp; ++i) {
        if (!d->qtDefined[d->comp[i].tq]) {
            return JPG_ERR_DATA;
        }
    }
    if (d->scanMode == 0) {
        for (int i = 0; i < d->scanComps; ++i) {
            const JpgComponent* c = d->scanComp[i];
            if (!d->br->dc[c->dcTbl] || !d->br->ac[c->acTbl]) {
                return JPG_ERR_DATA;
            }
        }
    }
    return 0;
}

int64_t JpgDecInit(JpgDecoder** out, const JpgDecParam* param) {
    void** table = nullptr;
    if (param->memAlloc) {
        table = static_cast<void**>(MMemAlloc(nullptr, JPG_ALLOC_SLOTS * sizeof(void*)));
        if (!table) {
            return JPG_ERR_MEMORY;
        }
        std::memset(table, 0, JPG_ALLOC_SLOTS * sizeof(void*));
    }
    auto* d = static_cast<JpgDecoder*>(
        JpgMemAlloc(sizeof(JpgDecoder), param->memAlloc, table, param->memUser));
    if (!d) {
        MMemFree(nullptr, table);
        return JPG_ERR_MEMORY;
    }
    std::memset(static_cast<void*>(d), 0, sizeof(JpgDecoder));
    d->flags = param->flags;
    d->memUser = param->memUser;
    d->memAlloc = param->memAlloc;
    d->memFree = param->memFree;
    d->allocTable = table;
    d->streamCb = param->streamCallback;
    d->tableSlots = 4;
    int64_t r = DecMemInit(d, param);
    if (r == 0) {
        DecFuncInit(d);
        JpgDecHufInit(d->br);
        r = JpgDecReadHeader(d);
    }
    if (r == 0 && !(d->seenSOI && d->seenSOF && d->seenDQT && d->seenDHT && d->seenSOS)) {
        r = JPG_ERR_DATA;
    }
    if (r == 0) {
        r = DecValidInit(d);
    }
    if (r == 0) {
        r = DecIndexInit(d, param->indexInterval);
    }
    if (r == 0 && d->scanMode != 0) {
        r = DecProgInit(d);
    }
    if (r != 0) {
        ajlJpgDecoderDestroy(d);
        return r;
    }
    *out = d;
    return 0;
}

bool sizeIs(int64_t size, int64_t want) {
    return size == want;
}

// Image lines covered by the MCU rows decoded so far (whole or begun).
int64_t linesDecoded(const JpgDecoder* d) {
    int64_t rows = d->mcuRow + (d->mcuCol > 0 ? 1 : 0);
    int64_t perRow = d->rowBuf ? 8 * int64_t(d->maxV)
                               : int64_t(d->mcuHeight) * d->maxV / (d->scanMaxV > 0 ? d->scanMaxV : 1);
    return rows * perRow;
}

} // namespace

extern "C" {

int64_t ajlJpgDecoderCreate(JpgDecoder** handle, const JpgDecParam* param) {
    if (!handle || !param) {
        return JPG_ERR_PARAM;
    }
    *handle = nullptr;
    return JpgDecInit(handle, param);
}

int64_t ajlJpgDecoderDestroy(JpgDecoder* d) {
    if (!d) {
        return JPG_ERR_PARAM;
    }
    if (d->br) {
        JpgDecFree(d, d->br->buf);
    }
    JpgDecFree(d, d->br);
    JpgDecFree(d, d->comp);
    JpgDecFreeIndex(d, d->index);
    JpgDecFreeIndex(d, d->finer);
    for (JpgScan* s = d->scans; s;) {
        JpgScan* next = s->next;
        JpgDecFree(d, s->br.buf);
        JpgDecFree(d, s);
        s = next;
    }
    JpgDecFree(d, d->rowBuf);
    JpgDecFree(d, d->work);
    JpgDecFree(d, d->qt);
    for (JpgHuffTable* t = d->tables; t;) {
        JpgHuffTable* next = t->next;
        JpgDecFree(d, t);
        t = next;
    }
    void** table = d->allocTable;
    JpgMemFree(d, d->memFree, table, d->memUser);
    MMemFree(nullptr, table);
    return 0;
}

int64_t ajlJpgDecoderGetProp(JpgDecoder* d, int64_t id, void* value, int64_t size) {
    if (!d || !value) {
        return JPG_ERR_PARAM;
    }
    auto* v64 = static_cast<int64_t*>(value);
    auto* v32 = static_cast<int32_t*>(value);
    switch (id) {
    case JPG_PROP_IMAGE_SIZE:
        if (!sizeIs(size, 16)) {
            return JPG_ERR_PARAM;
        }
        v64[0] = d->width;
        v64[1] = d->height;
        return 0;
    case JPG_PROP_PRECISION:
        if (!sizeIs(size, 8)) {
            return JPG_ERR_PARAM;
        }
        v64[0] = d->precision;
        return 0;
    case JPG_PROP_SCALE:
        if (!sizeIs(size, 8)) {
            return JPG_ERR_PARAM;
        }
        v64[0] = int64_t(1) << d->shift;
        return 0;
    case JPG_PROP_COMPONENTS:
        if (!sizeIs(size, 8)) {
            return JPG_ERR_PARAM;
        }
        v64[0] = d->ncomp;
        return 0;
    case JPG_PROP_SCALED_SIZE: {
        if (!sizeIs(size, 16)) {
            return JPG_ERR_PARAM;
        }
        int64_t w = int64_t(d->width) >> d->shift, h = int64_t(d->height) >> d->shift;
        d->scaledW = w < 1 ? 1 : w;
        d->scaledH = h < 1 ? 1 : h;
        v64[0] = d->scaledW;
        v64[1] = d->scaledH;
        return 0;
    }
    case JPG_PROP_MCU_COUNT:
        if (!sizeIs(size, 16)) {
            return JPG_ERR_PARAM;
        }
        v64[0] = d->frameMcusPerRow;
        v64[1] = d->frameMcuRows;
        return 0;
    case JPG_PROP_MCU_SIZE:
        if (!sizeIs(size, 16)) {
            return JPG_ERR_PARAM;
        }
        v64[0] = 8 * d->maxH;
        v64[1] = 8 * d->maxV;
        return 0;
    case JPG_PROP_BLOCKS_PER_MCU:
        if (!sizeIs(size, 8)) {
            return JPG_ERR_PARAM;
        }
        v64[0] = d->blocksPerMcu;
        return 0;
    case JPG_PROP_SUBSAMPLING:
        if (!sizeIs(size, 4)) {
            return JPG_ERR_PARAM;
        }
        v32[0] = d->subsampling;
        return 0;
    case JPG_PROP_CHROMA_RATIO:
        if (!sizeIs(size, 16)) {
            return JPG_ERR_PARAM;
        }
        // A greyscale image has no second component: it reports 1, 1.
        v64[0] = d->ncomp > 1 ? d->maxH / d->comp[1].h : 1;
        v64[1] = d->ncomp > 1 ? d->maxV / d->comp[1].v : 1;
        return 0;
    case JPG_PROP_BUILD_INDEX:
        return d->fatal ? d->fatal : JpgDecBuildIndex(d);
    case JPG_PROP_SCAN_MODE:
        if (!sizeIs(size, 4)) {
            return JPG_ERR_PARAM;
        }
        v32[0] = d->scanMode;
        return 0;
    case JPG_PROP_RGB:
        if (!sizeIs(size, 4)) {
            return JPG_ERR_PARAM;
        }
        v32[0] = d->rgb;
        return 0;
    case JPG_PROP_INDEX: {
        if (!sizeIs(size, 16)) {
            return JPG_ERR_PARAM;
        }
        int64_t n;
        void* blob;
        int64_t r = JpgDecGetIndexInfo(d, &n, &blob);
        if (r != 0) {
            return r;
        }
        v64[0] = n;
        std::memcpy(v64 + 1, &blob, sizeof(void*));
        return 0;
    }
    case JPG_PROP_CHROMA_AT_LUMA:
        if (!sizeIs(size, 8)) {
            return JPG_ERR_PARAM;
        }
        v64[0] = d->chromaAtLuma ? 1 : 0;
        return 0;
    default:
        return 0;
    }
}

int64_t ajlJpgDecoderSetProp(JpgDecoder* d, int64_t id, const void* value, int64_t size) {
    if (!d || !value) {
        return JPG_ERR_PARAM;
    }
    const auto* v64 = static_cast<const int64_t*>(value);
    switch (id) {
    case JPG_PROP_SCALE: {
        if (!sizeIs(size, 8)) {
            return JPG_ERR_PARAM;
        }
        int shift;
        switch (v64[0]) {
        case 1: shift = 0; break;
        case 2: shift = 1; break;
        case 4: shift = 2; break;
        case 8: shift = 3; break;
        default: return JPG_ERR_PARAM;
        }
        static const JpgIdctFn kIdct[4] = {JpgDQIDCT8, JpgDQIDCT4, JpgDQIDCT2, JpgDQIDCT1};
        d->shift = shift;
        d->idct = kIdct[shift];
        for (int t = 0; t < 4; ++t) {
            JpgDecSetDeQuantScale(d, t);
        }
        JpgDecSetComponentScales(d);
        d->br->lastIndex = jpg_scalese_tbl[shift];
        return 0;
    }
    case JPG_PROP_CHROMA_AT_LUMA: {
        if (!sizeIs(size, 8) || (v64[0] != 0 && v64[0] != 1)) {
            return JPG_ERR_PARAM;
        }
        d->chromaAtLuma = v64[0] == 1;
        for (int t = 0; t < 4; ++t) {
            JpgDecSetDeQuantScale(d, t);
        }
        JpgDecSetComponentScales(d);
        return 0;
    }
    case JPG_PROP_PROGRESS: {
        if (!sizeIs(size, 16)) {
            return JPG_ERR_PARAM;
        }
        JpgProgressCallback cb;
        void* user;
        std::memcpy(&cb, v64, sizeof(cb));
        std::memcpy(&user, v64 + 1, sizeof(user));
        d->progress = cb;
        d->progressUser = user;
        return 0;
    }
    case JPG_PROP_INDEX: {
        if (!sizeIs(size, 16)) {
            return JPG_ERR_PARAM;
        }
        void* blob;
        std::memcpy(&blob, v64 + 1, sizeof(blob));
        return JpgDecSetIndexInfo(d, uint32_t(uint64_t(v64[0])), blob);
    }
    case JPG_PROP_STREAM: {
        if (!sizeIs(size, 8)) {
            return JPG_ERR_PARAM;
        }
        void* stream;
        std::memcpy(&stream, v64, sizeof(stream));
        d->br->stream = stream;
        for (JpgScan* s = d->scans; s; s = s->next) {
            s->br.stream = stream;
        }
        d->sharedPos = -1; // the new stream's position is unknown
        return 0;
    }
    case JPG_PROP_INDEX_BUDGET:
        if (!sizeIs(size, 8)) {
            return JPG_ERR_PARAM;
        }
        return JpgDecSetIndexByMemorySize(d, v64[0]);
    default:
        return 0;
    }
}

int64_t ajlJpgDecoderScanlines(JpgDecoder* d, uint8_t** planes, int64_t* pitches, int64_t,
                               int64_t* lines) {
    if (!d || !planes || !lines) {
        return JPG_ERR_PARAM;
    }
    if (d->fatal) {
        return d->fatal;
    }
    if (d->bandCut) {
        // The rows between the last band and the end of its MCU row were never kept: going on
        // would hand out the next MCU row in their place.
        *lines = 0;
        return JPG_ERR_PARAM;
    }
    int64_t r = JpgDecSetPlanes(d, planes, pitches);
    if (r != 0) {
        return r;
    }
    int64_t n = *lines;
    int64_t left = d->height - d->linesDone;
    if (n > left) {
        n = left;
    }
    if (n < 0) {
        n = 0;
    }
    *lines = n;
    if (n == 0) {
        return 0;
    }
    if (d->outputMode == 0) {
        d->outputMode = 2;
    }
    // Only the rows asked for are written, even when they end inside an MCU row.
    JpgDecSetClipLines(d, n);
    r = JpgDecImage(d, d->width, n);
    JpgDecSetClipAll(d);
    d->linesDone += n;
    if (d->linesDone < d->height && linesDecoded(d) > d->linesDone) {
        d->bandCut = true;
    }
    return r;
}

int64_t ajlJpgDecoderDefaultScanlines(JpgDecoder* d, uint8_t** planes, int64_t* pitches,
                                      int64_t reserved, int64_t* lines, void* stream) {
    if (!d || !stream) {
        return JPG_ERR_PARAM;
    }
    if (d->fatal) {
        return d->fatal;
    }
    if (d->scanMode != 0) {
        return JPG_ERR_UNSUPPORTED;
    }
    d->state = 0;
    d->seenSOF = false;
    d->seenSOI = false;
    d->seenSOS = false;
    d->br->stream = stream;
    JpgDecHufInit(d->br);
    // The other file must have the same shape: keep this frame's geometry to compare.
    int32_t w = d->width, h = d->height;
    int ncomp = d->ncomp, maxH = d->maxH, maxV = d->maxV;
    int64_t r = JpgDecReadHeader(d);
    if (r == 0 && d->state != 1) {
        r = JPG_ERR_DATA;
    }
    if (r == 0 && (d->width != w || d->height != h || d->ncomp != ncomp || d->maxH != maxH ||
                   d->maxV != maxV || d->scanMode != 0)) {
        r = JPG_ERR_UNSUPPORTED;
    }
    if (r == 0) {
        r = DecValidInit(d);
    }
    if (r == 0) {
        r = JpgDecResetIndex(d); // positions of the first file mean nothing in this one
    }
    if (r != 0) {
        // The handle now mixes two files: it stays failed.
        d->fatal = r;
        d->state = 3;
        return r;
    }
    d->comp[0].dcPred = 0;
    if (d->subsampling != 4) {
        d->comp[1].dcPred = 0;
        d->comp[2].dcPred = 0;
    }
    d->linesDone = 0;
    d->bandCut = false;
    d->mcuCol = 0;
    d->mcuRow = 0;
    r = ajlJpgDecoderScanlines(d, planes, pitches, reserved, lines);
    if (r == 0) {
        d->linesDone -= *lines;
    }
    return r;
}

} // extern "C"
