// Random-access index over the entropy-coded data of a baseline scan, and region reads.
//
// Index blob (little-endian): magic, interval, entry count N, DC count N x C, then N bit
// positions (absolute bit offsets in the stream, 0 = not recorded) and N x C DC predictors.
#include <cstring>

#include "jpg_internal.h"

#include <algorithm>

static_assert(__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__, "the index blob is kept in host order");

namespace {

bool rowBuffered(const JpgDecoder* d) {
    return d->scanMode == 1 || d->scanMode == 2;
}

void put32(uint8_t* p, uint32_t v) {
    std::memcpy(p, &v, 4);
}
uint32_t get32(const uint8_t* p) {
    uint32_t v;
    std::memcpy(&v, p, 4);
    return v;
}

// Entry count and blob size for an interval over this image, or false when too large.
bool indexGeometry(const JpgDecoder* d, uint32_t interval, uint32_t* perRow, uint32_t* entries,
                   uint32_t* size) {
    if (interval == 0) {
        return false;
    }
    int64_t pr = (d->mcusPerRow + interval - 1) / interval;
    int64_t n = pr * d->mcuRows;
    int64_t bytes = 16 + n * 4 + n * 2 * d->ncomp;
    if (n < 1 || bytes > kJpgMaxIndexBytes) {
        return false;
    }
    *perRow = uint32_t(pr);
    *entries = uint32_t(n);
    *size = uint32_t(bytes);
    return true;
}

void attachTables(JpgIndex* idx) {
    idx->bits = reinterpret_cast<uint32_t*>(idx->blob + 16);
    idx->dcs = reinterpret_cast<int16_t*>(idx->blob + 16 + size_t(idx->entries) * 4);
}

// (Re)builds an empty index with this interval.
int64_t buildIndex(JpgDecoder* d, JpgIndex* idx, uint32_t interval) {
    uint32_t perRow, entries, size;
    if (!indexGeometry(d, interval, &perRow, &entries, &size)) {
        return JPG_ERR_MEMORY;
    }
    if (idx->blob && idx->blobSize != size) {
        JpgDecFree(d, idx->blob);
        idx->blob = nullptr;
    }
    if (!idx->blob) {
        idx->blob = static_cast<uint8_t*>(JpgDecAlloc(d, size));
        if (!idx->blob) {
            idx->blobSize = 0;
            return JPG_ERR_MEMORY;
        }
    }
    std::memset(idx->blob, 0, size);
    put32(idx->blob, JPG_INDEX_MAGIC);
    put32(idx->blob + 4, interval);
    put32(idx->blob + 8, entries);
    put32(idx->blob + 12, entries * uint32_t(d->ncomp));
    idx->blobSize = size;
    idx->interval = interval;
    idx->perRow = perRow;
    idx->entries = entries;
    idx->missing = entries;
    idx->correction = 0;
    attachTables(idx);
    return 0;
}

JpgIndex* newIndex(JpgDecoder* d) {
    auto* idx = static_cast<JpgIndex*>(JpgDecAlloc(d, sizeof(JpgIndex)));
    if (idx) {
        std::memset(idx, 0, sizeof(JpgIndex));
    }
    return idx;
}

} // namespace

void JpgDecFreeIndex(JpgDecoder* d, JpgIndex* idx) {
    if (idx) {
        JpgDecFree(d, idx->blob);
        JpgDecFree(d, idx);
    }
}

int64_t JpgDecResetIndex(JpgDecoder* d) {
    JpgDecFreeIndex(d, d->finer);
    d->finer = nullptr;
    if (!d->index) {
        return 0;
    }
    return buildIndex(d, d->index, d->index->interval);
}

int64_t DecIndexInit(JpgDecoder* d, int64_t interval) {
    if (rowBuffered(d) || interval <= 0) {
        return 0;
    }
    if (interval > d->mcusPerRow) {
        interval = d->mcusPerRow; // one entry per MCU row
    }
    d->index = newIndex(d);
    if (!d->index) {
        return JPG_ERR_MEMORY;
    }
    return buildIndex(d, d->index, uint32_t(interval));
}

void JpgDecIdxUpdate(JpgDecoder* d) {
    JpgIndex* t = d->finer ? d->finer : d->index;
    if (!t || t->missing == 0) {
        return;
    }
    int64_t e = d->mcuRow * t->perRow + d->mcuCol / t->interval;
    if (e < 0 || e >= t->entries || t->bits[e] != 0) {
        return;
    }
    int64_t pos = JpgBrBitPosition(d->br);
    if (pos <= 0 || pos > int64_t(UINT32_MAX)) {
        return; // beyond what a blob can hold: this entry stays unrecorded
    }
    t->bits[e] = uint32_t(pos);
    for (int i = 0; i < d->scanComps; ++i) {
        t->dcs[e * d->ncomp + i] = int16_t(d->scanComp[i]->dcPred);
    }
    t->missing--;
}

int64_t JpgDecBuildIndex(JpgDecoder* d) {
    if (rowBuffered(d)) {
        return JPG_ERR_UNSUPPORTED;
    }
    if (!d->index) {
        return JPG_ERR_PARAM;
    }
    int saved = d->outputMode;
    d->outputMode = 0;
    d->state = 2;
    d->mcuCol = 0;
    d->mcuRow = 0;
    int64_t r = JpgHufReset(d->br, d->br->scanStart);
    if (r != 0) {
        d->outputMode = saved;
        return r;
    }
    for (int i = 0; i < d->scanComps; ++i) {
        d->scanComp[i]->dcPred = 0;
    }
    d->br->rstNext = 0;
    d->br->rstLeft = d->br->rstInterval;
    d->br->eobrun = 0;
    JpgDecSetClipAll(d);
    r = JpgDecImage(d, d->width, d->height);
    d->outputMode = saved;
    return r;
}

int64_t JpgDecGetIndexInfo(JpgDecoder* d, int64_t* size, void** blob) {
    JpgIndex* t = nullptr;
    if (d->finer && d->finer->missing == 0) {
        t = d->finer;
    } else if (d->index && d->index->missing == 0) {
        t = d->index;
    }
    if (!t) {
        return JPG_ERR_NO_INDEX;
    }
    *size = t->blobSize;
    *blob = t->blob;
    return 0;
}

int64_t JpgDecSetIndexInfo(JpgDecoder* d, uint32_t size, const void* blob) {
    if (!blob) {
        return JPG_ERR_PARAM;
    }
    if (rowBuffered(d)) {
        return JPG_ERR_UNSUPPORTED;
    }
    if (size < 16) {
        return JPG_ERR_UNSUPPORTED;
    }
    auto* in = static_cast<const uint8_t*>(blob);
    uint32_t interval = get32(in + 4);
    uint32_t perRow, entries, expect;
    if (get32(in) != JPG_INDEX_MAGIC || interval == 0 ||
        !indexGeometry(d, interval, &perRow, &entries, &expect) || expect != size ||
        get32(in + 8) != entries) {
        return JPG_ERR_UNSUPPORTED;
    }
    if (!d->index) {
        d->index = newIndex(d);
        if (!d->index) {
            return JPG_ERR_MEMORY;
        }
    }
    JpgIndex* idx = d->index;
    if (idx->blob && idx->blobSize != size) {
        JpgDecFree(d, idx->blob);
        idx->blob = nullptr;
        idx->blobSize = 0;
    }
    if (!idx->blob) {
        idx->blob = static_cast<uint8_t*>(JpgDecAlloc(d, size));
        if (!idx->blob) {
            return JPG_ERR_MEMORY;
        }
    }
    std::memcpy(idx->blob, blob, size);
    idx->blobSize = size;
    idx->interval = interval;
    idx->perRow = perRow;
    idx->entries = entries;
    idx->missing = 0;
    attachTables(idx);
    // The same entropy-coded data may start elsewhere in this stream.
    idx->correction = idx->bits[0] ? d->br->scanStart - int64_t(idx->bits[0]) : 0;
    return 0;
}

int64_t JpgDecSetIndexByMemorySize(JpgDecoder* d, int64_t budget) {
    if (rowBuffered(d)) {
        return 0;
    }
    int64_t b = int64_t(uint32_t(budget));
    int64_t n = b / ((2 * d->ncomp + 4) * (d->mcuRows > 0 ? d->mcuRows : 1));
    int64_t interval = d->mcusPerRow / (n > 1 ? n : 1);
    if (interval < 1) {
        interval = 1;
    }
    JpgIndex* idx = d->index;
    if (idx && idx->missing == 0) {
        if (idx->interval > interval) {
            JpgIndex* f = d->finer ? d->finer : newIndex(d);
            if (!f) {
                return JPG_ERR_MEMORY;
            }
            d->finer = f;
            int64_t r = buildIndex(d, f, uint32_t(interval));
            if (r != 0) {
                JpgDecFreeIndex(d, f);
                d->finer = nullptr;
            }
            return r;
        }
        return 0;
    }
    if (idx && idx->interval == interval) {
        return 0;
    }
    if (!idx) {
        idx = d->index = newIndex(d);
        if (!idx) {
            return JPG_ERR_MEMORY;
        }
    }
    return buildIndex(d, idx, uint32_t(interval));
}

namespace {

void restartStateAt(JpgDecoder* d, int64_t q) {
    JpgBitReader* br = d->br;
    int64_t r = br->rstInterval;
    if (r <= 0) {
        return;
    }
    if (q == 0) {
        br->rstNext = 0;
        br->rstLeft = int(r);
    } else {
        br->rstNext = int(((q - 1) / r) % 8);
        br->rstLeft = q % r == 0 ? 0 : int(r - q % r);
    }
    br->eobrun = 0;
}

int64_t readRowBuffered(JpgDecoder* d, JpgReadRequest* req) {
    if (req->mode == 0) {
        return JPG_ERR_UNSUPPORTED;
    }
    if (!d->rowBuf) {
        return JPG_ERR_DATA;
    }
    int64_t err = 0;
    if (d->mcuRow > req->startRow) {
        JpgDecRewindScans(d, &err);
        if (err != 0) {
            return err;
        }
    }
    while (d->mcuRow < req->startRow) {
        if (JpgDecPScanRow(d)) {
            std::memset(d->rowBuf, 0, d->rowBufCount * sizeof(int16_t)); // decoded, not output
        }
        d->mcuRow++;
    }
    int64_t col = req->startColumn;
    int64_t relRow = 0;
    while (req->count > 0 && d->mcuRow < d->frameMcuRows) {
        JpgDecPScanRow(d);
        int64_t n = d->frameMcusPerRow - col;
        if (n > req->count) {
            n = req->count;
        }
        d->mcuCol = col;
        for (int64_t i = 0; i < n; ++i) {
            if (req->mode == 1) {
                JpgDecPOutCoef(d, i, relRow);
            } else {
                JpgDecPOutYCbCr(d, i, relRow);
            }
            d->mcuCol++;
        }
        std::memset(d->rowBuf, 0, d->rowBufCount * sizeof(int16_t));
        req->count -= n;
        relRow++;
        d->mcuRow++;
        d->mcuCol = 0;
        col = 0;
    }
    return 0;
}

} // namespace

extern "C" int64_t ajlJpgDecoderReadMCUs(JpgDecoder* d, JpgReadRequest* req) {
    if (!d || !req) {
        return JPG_ERR_PARAM;
    }
    if (d->fatal) {
        return d->fatal;
    }
    if (!d->seenSOS) {
        return JPG_ERR_DATA;
    }
    // Output description.
    d->linesDone = 0;
    JpgDecSetClipAll(d);
    if (req->mode == 1 || req->mode == 2) {
        if (!req->output || !req->output->planes || !req->output->pitches) {
            return JPG_ERR_PARAM;
        }
    }
    if (req->mode == 1) {
        for (int i = 0; i < d->ncomp; ++i) {
            d->comp[i].plane = req->output->planes[0];
            d->comp[i].pitch = int32_t(req->output->pitches[0]);
        }
    } else if (req->mode == 2) {
        int64_t r = JpgDecSetPlanes(d, req->output->planes, req->output->pitches);
        if (r != 0) {
            return r;
        }
    } else if (req->mode != 0) {
        return JPG_ERR_UNSUPPORTED;
    }
    // A start outside the image or a negative count would index past the index tables.
    int64_t mpr = rowBuffered(d) ? d->frameMcusPerRow : d->mcusPerRow;
    int64_t rows = rowBuffered(d) ? d->frameMcuRows : d->mcuRows;
    if (req->count < 0 || req->startColumn < 0 || req->startColumn >= mpr || req->startRow < 0 ||
        req->startRow >= rows) {
        return JPG_ERR_PARAM;
    }
    if (rowBuffered(d)) {
        d->outputMode = req->mode;
        return readRowBuffered(d, req);
    }
    JpgMcuFn fn = req->mode == 1 ? JpgDecCoefMCU : JpgDecYCbCrMCU;
    JpgBitReader* br = d->br;
    int64_t target = req->startRow * mpr + req->startColumn;
    int64_t current = d->mcuRow * mpr + d->mcuCol;
    int64_t skip = 0;
    if (target != current) {
        bool placed = false;
        JpgIndex* t = nullptr;
        if (d->finer && d->finer->bits[req->startRow * d->finer->perRow +
                                      req->startColumn / d->finer->interval] != 0) {
            t = d->finer;
        } else if (d->index) {
            t = d->index;
        }
        if (t) {
            int64_t e = req->startRow * t->perRow + req->startColumn / t->interval;
            int64_t entryCol = req->startColumn / t->interval * t->interval;
            int64_t entryPos = req->startRow * mpr + entryCol;
            if (t->bits[e] != 0 && !(current >= entryPos && current <= target)) {
                int64_t r = JpgHufReset(br, int64_t(t->bits[e]) + t->correction);
                if (r != 0) {
                    return r;
                }
                for (int i = 0; i < d->scanComps; ++i) {
                    d->scanComp[i]->dcPred = t->dcs[e * d->ncomp + i];
                }
                d->mcuCol = entryCol;
                d->mcuRow = req->startRow;
                restartStateAt(d, entryPos);
                placed = true;
            }
        }
        if (!placed && target < current) {
            int64_t r = JpgHufReset(br, br->scanStart);
            if (r != 0) {
                return r;
            }
            for (int i = 0; i < d->scanComps; ++i) {
                d->scanComp[i]->dcPred = 0;
            }
            d->mcuCol = 0;
            d->mcuRow = 0;
            restartStateAt(d, 0);
        }
        skip = target - (d->mcuRow * mpr + d->mcuCol);
    }
    if (d->state == 1) {
        d->state = 2;
    }
    for (int64_t i = 0; i < skip; ++i) {
        const int64_t dead = JpgDecDeadMCUs(br);
        if (dead > 0) {
            const int64_t n = dead < skip - i ? dead : skip - i;
            JpgDecPassEmptyMCUs(d, n);
            i += n - 1;
            continue;
        }
        JpgDecIdxUpdate(d);
        JpgDecStreamMCU(d, 0, 0);
        if (++d->mcuCol >= mpr) {
            d->mcuCol = 0;
            d->mcuRow++;
        }
    }
    if (req->mode == 0) {
        req->output = reinterpret_cast<JpgReadOutput*>(d);
        req->count = 0;
        return 0;
    }
    d->outputMode = req->mode;
    int64_t relCol = 0, relRow = 0;
    while (req->count > 0) {
        req->count--;
        if (d->mcuRow >= d->mcuRows) {
            req->count = 0;
            break; // past the last MCU: nothing more to read
        }
        // After the data ends the MCUs come out grey a run at a time, and at an eighth the MCUs
        // that are only DC samples are decoded so.
        const int64_t limit = std::min(req->count + 1, mpr - d->mcuCol);
        const int64_t grey = fn == JpgDecYCbCrMCU ? JpgDecGreyRunLength(d, limit) : 0;
        const int64_t run = grey > 0 ? grey : fn == JpgDecYCbCrMCU ? JpgDecDcRunLength(d, limit) : 0;
        if (run > 0) {
            (grey > 0 ? JpgDecGreyRun : JpgDecDcRun)(d, relCol, relRow, run);
            req->count -= run - 1;
            relCol += run - 1;
            d->mcuCol += run - 1;
        } else {
            JpgDecIdxUpdate(d);
            int64_t r = fn(d, relCol, relRow);
            if (r != 0) {
                return r;
            }
        }
        relCol++;
        if (++d->mcuCol >= mpr) {
            d->mcuCol = 0;
            d->mcuRow++;
            relCol = 0;
            relRow++;
        }
    }
    return 0;
}
