// MCU output with edge clipping, the scanline state machine and the row-buffered decoding of
// progressive and multi-scan images.
#include <climits>
#include <cstring>

#include "jpg_idct_impl.h"
#include "jpg_internal.h"

#include <algorithm>
#include <array>

namespace {

void restartIfDue(JpgBitReader* br, JpgComponent** comps, int ncomp) {
    if (br->rstInterval > 0) {
        if (br->rstLeft == 0) {
            JpgDecRestart(br, comps, ncomp);
        }
        br->rstLeft--;
    }
}

// The transform of a whole block straight into its plane: at a quarter, from the weights made
// once for the component's table where it has them.
inline void transformInto(JpgComponent* c, uint8_t* dst, int16_t* blk, int step, int last, void* scratch) {
    if (c->weights2 && step == 1) {
        JpgIdct2Weighted(dst, blk, c->pitch, c->weights2, last);
    } else {
        c->idct(dst, blk, step, c->pitch, c->dq, c->lineDouble, last, scratch);
    }
}

inline int edgeClass(int64_t pos, int64_t limit) {
    return pos + 8 <= limit ? 0 : pos < limit ? 1 : 2;
}

// Reconstructs one block of component c: (ax, ay) is its absolute top-left sample at full
// resolution, (rx, ry) the same relative to the output planes. Grey blocks stand for data that
// could not be decoded. The coefficient block is all zero afterwards.
void putBlock(JpgDecoder* d, JpgComponent* c, int16_t* blk, int64_t ax, int64_t ay, int64_t rx,
              int64_t ry, int last, bool grey) {
    const int sx = c->sx, sy = c->sy;
    const int nx = 8 >> sx, ny = 8 >> sy;
    int64_t limW = c->width < (1 << sx) ? (1 << sx) : c->width;
    int64_t limH = c->height < (1 << sy) ? (1 << sy) : c->height;
    if (d->clipRows[c->index] < limH) {
        limH = d->clipRows[c->index];
    }
    int mode = jpg_mcumode_tbl[edgeClass(ay, limH)][edgeClass(ax, limW)];
    if (mode == 4 || !c->plane || !c->idct) {
        std::memset(blk, 0, 64 * sizeof(int16_t));
        return;
    }
    const int step = jpg_yccrun_tbl[d->layoutRow][c->index];
    uint8_t* dst = c->plane + ptrdiff_t(ry >> sy) * c->pitch + ptrdiff_t(rx >> sx) * step;
    auto transform = [&](uint8_t* to, int32_t toStep, int32_t toPitch) {
        c->idct(to, blk, toStep, toPitch, c->dq, c->lineDouble, last, d->scratch);
    };
    const int64_t unitX = int64_t(1) << sx, unitY = int64_t(1) << sy;
    const int cols = (mode & 1) ? int((limW - ax + unitX - 1) >> sx) : nx;
    const int rows = (mode & 2) ? int((limH - ay + unitY - 1) >> sy) : ny;
    if (!grey && (sx | sy) && (ax + 8 > c->width || ay + 8 > c->height) && c->dqFull) {
        // A reduced block cut by the picture's edge: each output sample is the average of the
        // picture samples in its area, from the full transform, not of the encoder's padding.
        JpgDQIDCT8(d->pixels, blk, 1, 8, c->dqFull, 0, last, d->scratch);
        const int visW = int(std::min<int64_t>(c->width - ax, 8)), visH = int(std::min<int64_t>(c->height - ay, 8));
        for (int y = 0; y < rows; ++y) {
            uint8_t* o = dst + ptrdiff_t(y) * c->pitch;
            const int y0 = y << sy, y1 = std::min((y + 1) << sy, visH);
            for (int x = 0; x < cols; ++x) {
                const int x0 = x << sx, x1 = std::min((x + 1) << sx, visW);
                int sum = 0, n = 0;
                for (int yy = y0; yy < y1; ++yy) {
                    for (int xx = x0; xx < x1; ++xx) {
                        sum += d->pixels[yy * 8 + xx];
                        ++n;
                    }
                }
                o[ptrdiff_t(x) * step] = n ? uint8_t((sum + n / 2) / n) : 128;
            }
        }
        return;
    }
    if (mode == 0) {
        if (grey) {
            for (int y = 0; y < ny; ++y) {
                for (int x = 0; x < nx; ++x) {
                    dst[ptrdiff_t(y) * c->pitch + ptrdiff_t(x) * step] = 128;
                }
            }
            std::memset(blk, 0, 64 * sizeof(int16_t));
        } else {
            transform(dst, step, c->pitch);
        }
        return;
    }
    if (grey) {
        std::memset(d->pixels, 128, 64);
        std::memset(blk, 0, 64 * sizeof(int16_t));
    } else {
        transform(d->pixels, 1, nx);
    }
    for (int y = 0; y < rows; ++y) {
        uint8_t* o = dst + ptrdiff_t(y) * c->pitch;
        const uint8_t* s = d->pixels + y * nx;
        for (int x = 0; x < cols; ++x) {
            o[ptrdiff_t(x) * step] = s[x];
        }
    }
}

} // namespace

void JpgDecStuff(uint8_t* dst, int step, int pitch, int shift) {
    int n = 8 >> shift;
    for (int y = 0; y < n; ++y) {
        for (int x = 0; x < n; ++x) {
            dst[ptrdiff_t(y) * pitch + ptrdiff_t(x) * step] = 128;
        }
    }
}

void JpgDecSetClipAll(JpgDecoder* d) {
    for (int i = 0; i < 4; ++i) {
        d->clipRows[i] = INT64_MAX;
    }
}

void JpgDecSetClipLines(JpgDecoder* d, int64_t lines) {
    for (int i = 0; i < d->ncomp; ++i) {
        const JpgComponent& c = d->comp[i];
        // The band starts at the current MCU row (a one-component frame has V = 1).
        int64_t top = d->mcuRow * 8 * c.v;
        d->clipRows[i] = top + (lines * c.v + d->maxV - 1) / d->maxV;
    }
}

bool JpgDecScanDataEnded(const JpgBitReader* br) {
    return br->starved && br->marker != 0 && !(br->marker >= 0xD0 && br->marker <= 0xD7);
}

int64_t JpgDecDeadMCUs(const JpgBitReader* br) {
    if (!br->starved) {
        return 0;
    }
    // A stopped scan resumes only at a restart marker: without restarts it never does.
    if (JpgDecScanDataEnded(br) || br->rstInterval <= 0) {
        return INT64_MAX;
    }
    return br->rstLeft;
}

namespace {

// The restart count of a reader that passes `mcus` MCUs without reading them.
void passRestartCount(JpgBitReader* br, int64_t mcus) {
    if (br->rstInterval > 0 && br->rstLeft > 0) {
        br->rstLeft -= int(std::min<int64_t>(mcus, br->rstLeft));
    }
}

} // namespace

// Walking the passed MCUs block by block would take seconds on a frame of a few bytes that claims
// a gigapixel. Index entries of the passed MCUs point at the end of the data, where a region
// decode finds the same empty blocks.
void JpgDecPassEmptyMCUs(JpgDecoder* d, int64_t mcus) {
    if (mcus <= 0) {
        return;
    }
    JpgIndex* t = d->finer ? d->finer : d->index;
    const int64_t pos = JpgBrBitPosition(d->br);
    if (t && t->missing != 0 && pos > 0 && pos <= int64_t(UINT32_MAX)) {
        const int64_t from = d->mcuRow * int64_t(t->perRow) + d->mcuCol / int64_t(t->interval);
        const int64_t toMcu = d->mcuRow * d->mcusPerRow + d->mcuCol + mcus;
        const int64_t to = std::min<int64_t>(int64_t(t->entries),
                                             toMcu / d->mcusPerRow * int64_t(t->perRow) +
                                                 (toMcu % d->mcusPerRow) / int64_t(t->interval) + 1);
        for (int64_t e = std::max<int64_t>(from, 0); e < to; ++e) {
            if (t->bits[e] != 0) {
                continue;
            }
            t->bits[e] = uint32_t(pos);
            for (int i = 0; i < d->scanComps; ++i) {
                t->dcs[e * d->ncomp + i] = int16_t(d->scanComp[i]->dcPred);
            }
            t->missing--;
        }
    }
    passRestartCount(d->br, mcus);
    const int64_t at = d->mcuRow * d->mcusPerRow + d->mcuCol + mcus;
    d->mcuRow = at / d->mcusPerRow;
    d->mcuCol = at % d->mcusPerRow;
}

int64_t JpgDecStreamMCU(JpgDecoder* d, int64_t, int64_t) {
    JpgBitReader* br = d->br;
    restartIfDue(br, d->scanComp, d->scanComps);
    int saved = br->lastIndex;
    br->lastIndex = 1; // DC and the first AC coefficient keep the predictors exact
    for (int b = 0; b < d->scanBlocks; ++b) {
        JpgDecBlock(br, d->block, &d->comp[d->blockComp[b]]);
        std::memset(d->block, 0, 64 * sizeof(int16_t));
    }
    br->lastIndex = saved;
    return 0;
}

int64_t JpgDecCoefMCU(JpgDecoder* d, int64_t col, int64_t row) {
    JpgBitReader* br = d->br;
    restartIfDue(br, d->scanComp, d->scanComps);
    int saved = br->lastIndex;
    br->lastIndex = 63;
    JpgComponent* first = d->scanComp[0];
    auto* base = reinterpret_cast<int16_t*>(first->plane);
    if (!base) {
        br->lastIndex = saved;
        return JPG_ERR_PARAM;
    }
    int16_t* mcu = base + ptrdiff_t(row) * first->pitch + ptrdiff_t(col) * d->blocksPerMcu * 64;
    for (int b = 0; b < d->scanBlocks; ++b) {
        int16_t* blk = mcu + ptrdiff_t(first->firstBlock + b) * 64;
        std::memset(blk, 0, 64 * sizeof(int16_t));
        JpgDecBlock(br, blk, &d->comp[d->blockComp[b]]);
        if (br->starved) {
            std::memset(blk, 0, 64 * sizeof(int16_t));
        }
    }
    br->lastIndex = saved;
    return 0;
}

namespace {

// A component whose blocks come out as one sample from the DC coefficient alone (the eighth
// scale, unless its chroma is delivered at the luma's size).
inline bool oneSampleFromDc(const JpgComponent* c) {
    return c->lastAtLeast == 0 && c->idct == JpgDQIDCT1 && c->sx == 3 && c->sy == 3 && !c->lineDouble;
}

// Gathers the run of blocks from b on (b itself taken) while `takes` accepts the next, their
// components into comps (room for kJpgMaxScanBlocks); returns the block after the run.
template <class Takes>
int gatherRun(JpgDecoder* d, int b, int n, Takes takes, JpgComponent** comps) {
    int e = b;
    do {
        comps[e - b] = &d->comp[d->blockComp[e]];
        ++e;
    } while (e < n && e - b < kJpgMaxScanBlocks && takes(e));
    return e;
}

// Whether the blocks of an MCU that lies wholly inside the frame can all go straight into their
// planes: every component has a plane and a transform, and the MCU ends above the band's clip.
bool straightInside(const JpgDecoder* d) {
    for (int i = 0; i < d->scanComps; ++i) {
        const JpgComponent* c = d->scanComp[i];
        if (!c->plane || !c->idct || (d->mcuRow + 1) * 8 * c->vb > d->clipRows[c->index]) {
            return false;
        }
    }
    return true;
}

} // namespace

int64_t JpgDecYCbCrMCU(JpgDecoder* d, int64_t col, int64_t row) {
    JpgBitReader* br = d->br;
    restartIfDue(br, d->scanComp, d->scanComps);
    // What every block of the MCU shares, read once: the block decoder's calls leave it alone.
    int16_t* const blk = d->block;
    void* const scratch = d->scratch;
    const uint8_t* const steps = jpg_yccrun_tbl[d->layoutRow];
    const int64_t mcuX = d->mcuCol * 8, mcuY = d->mcuRow * 8, outX = col * 8, outY = row * 8;
    // A block inside the picture that keeps only its DC coefficient, written as one sample.
    const bool dcOnly = br->lastIndex == 0;
    if (d->mcuCol < d->wholePerRow && d->mcuRow < d->wholeRows && straightInside(d)) {
        // The common MCU, every block inside: each block is decoded and transformed straight into
        // its plane. At an eighth the runs of blocks that keep only their DC coefficient are
        // decoded at once and written as one sample each.
        const int n = d->scanBlocks;
        for (int b = 0; b < n;) {
            JpgComponent* c = &d->comp[d->blockComp[b]];
            if (!dcOnly || !oneSampleFromDc(c)) {
                const int64_t rx = c->hb * outX + d->bx[b], ry = c->vb * outY + d->by[b];
                JpgDecBlock(br, blk, c);
                if (br->starved) {
                    putBlock(d, c, blk, c->hb * mcuX + d->bx[b], c->vb * mcuY + d->by[b], rx, ry, c->lastIdx, true);
                } else {
                    const int step = steps[c->index];
                    transformInto(c, c->plane + ptrdiff_t(ry >> c->sy) * c->pitch + ptrdiff_t(rx >> c->sx) * step, blk,
                                  step, c->lastIdx, scratch);
                }
                ++b;
                continue;
            }
            JpgComponent* comps[kJpgMaxScanBlocks];
            int16_t dcs[kJpgMaxScanBlocks];
            const int e = gatherRun(d, b, n, [d](int i) { return oneSampleFromDc(&d->comp[d->blockComp[i]]); }, comps);
            const int count = e - b;
            const int good = JpgDecDcBlocks(br, comps, count, dcs);
            for (int i = 0; i < count; ++i, ++b) {
                c = comps[i];
                const int64_t rx = c->hb * outX + d->bx[b], ry = c->vb * outY + d->by[b];
                if (i < good) {
                    // JpgIdct1Sample's sample (without line doubling).
                    const int64_t v = ((int64_t(dcs[i]) * c->dq[0] + 256) >> 9) + 128;
                    c->plane[ptrdiff_t(ry >> 3) * c->pitch + ptrdiff_t(rx >> 3) * steps[c->index]] =
                        uint8_t(v < 0 ? 0 : v > 255 ? 255 : v);
                } else {
                    putBlock(d, c, blk, c->hb * mcuX + d->bx[b], c->vb * mcuY + d->by[b], rx, ry, 0, true);
                }
            }
        }
        return 0;
    }
    auto oneSample = [&](int b) {
        const JpgComponent* c = &d->comp[d->blockComp[b]];
        const int64_t ax = c->hb * mcuX + d->bx[b], ay = c->vb * mcuY + d->by[b];
        return c->lastAtLeast == 0 && c->idct == JpgDQIDCT1 && c->plane && ax + 8 <= c->width &&
               ay + 8 <= c->height && ay + 8 <= d->clipRows[c->index];
    };
    for (int b = 0, n = d->scanBlocks; b < n; ++b) {
        if (dcOnly && oneSample(b)) {
            // A run of such blocks (the luma's of the MCU, or all of them) is decoded in one go,
            // the reader's state kept in registers across them.
            JpgComponent* comps[kJpgMaxScanBlocks];
            int16_t dcs[kJpgMaxScanBlocks];
            const int e = gatherRun(d, b, n, oneSample, comps);
            const int good = JpgDecDcBlocks(br, comps, e - b, dcs);
            for (int i = 0; i < e - b; ++i) {
                JpgComponent* c = comps[i];
                const int64_t bx = d->bx[b + i], by = d->by[b + i];
                const int64_t rx = c->hb * outX + bx, ry = c->vb * outY + by;
                if (i < good) {
                    uint8_t* const dst = c->plane + ptrdiff_t(ry >> c->sy) * c->pitch + ptrdiff_t(rx >> c->sx) * steps[c->index];
                    JpgIdct1Sample(dst, &dcs[i], c->pitch, c->dq, c->lineDouble, 0);
                } else {
                    putBlock(d, c, blk, c->hb * mcuX + bx, c->vb * mcuY + by, rx, ry, 0, true);
                }
            }
            b = e - 1;
            continue;
        }
        JpgComponent* c = &d->comp[d->blockComp[b]];
        const int64_t bx = d->bx[b], by = d->by[b];
        const int64_t ax = c->hb * mcuX + bx, ay = c->vb * mcuY + by;
        const bool inside = ax + 8 <= c->width && ay + 8 <= c->height;
        if (inside) {
            if (br->lastIndex == 0 && c->lastAtLeast == 0) {
                JpgDecBlockDc(br, blk, c);
            } else {
                JpgDecBlock(br, blk, c);
            }
        } else {
            // A block cut by the picture's edge keeps every coefficient at 1/8 too: its partly
            // covered output samples average only the picture.
            const int saved = br->lastIndex;
            br->lastIndex = 63;
            JpgDecBlock(br, blk, c);
            br->lastIndex = saved;
        }
        const int64_t rx = c->hb * outX + bx, ry = c->vb * outY + by;
        if (inside && !br->starved && c->idct && c->plane && ay + 8 <= d->clipRows[c->index]) {
            // A whole block inside the picture, the common case: straight into the plane (at 1/8
            // its one sample is written here, without a call).
            const int step = steps[c->index];
            uint8_t* const dst = c->plane + ptrdiff_t(ry >> c->sy) * c->pitch + ptrdiff_t(rx >> c->sx) * step;
            if (c->idct == JpgDQIDCT1) {
                JpgIdct1Sample(dst, blk, c->pitch, c->dq, c->lineDouble, c->lastIdx);
            } else {
                transformInto(c, dst, blk, step, c->lastIdx, scratch);
            }
            continue;
        }
        putBlock(d, c, blk, ax, ay, rx, ry, c->lastIdx, br->starved);
    }
    return 0;
}

// How many MCUs from the current one on, at most `limit`, JpgDecGreyRun may take at once: the
// data has ended or broken off, no restart marker can pick it up again before them, and they are
// whole MCUs inside the picture with no index entry to record. 0 where it may not.
int64_t JpgDecGreyRunLength(const JpgDecoder* d, int64_t limit) {
    const JpgBitReader* br = d->br;
    const JpgIndex* t = d->finer ? d->finer : d->index;
    if (!br->starved || (t && t->missing != 0) || d->mcuRow >= d->wholeRows || !straightInside(d)) {
        return 0;
    }
    int64_t run = std::min(limit, d->wholePerRow - d->mcuCol);
    // Once the scan's data has ended no restart marker can resume it: the run goes on across the
    // intervals (one MCU an interval would take seconds on a frame that claims a gigapixel).
    if (br->rstInterval > 0 && !JpgDecScanDataEnded(br)) {
        if (br->rstLeft == 0) {
            return 0; // a restart marker may resume the data at this MCU
        }
        run = std::min<int64_t>(run, br->rstLeft);
    }
    return run > 1 ? run : 0;
}

void JpgDecGreyRun(JpgDecoder* d, int64_t col, int64_t row, int64_t count) {
    JpgBitReader* br = d->br;
    if (br->rstInterval > 0) {
        // Each MCU's count; across intervals only after the data ended, where each restart finds
        // no marker and starts the count again.
        const int64_t left = (int64_t(br->rstLeft) - count) % br->rstInterval;
        br->rstLeft = int(left < 0 ? left + br->rstInterval : left);
    }
    const uint8_t* const steps = jpg_yccrun_tbl[d->layoutRow];
    for (int b = 0; b < d->scanBlocks; ++b) {
        // The blocks of a component side by side in the MCU, and the MCUs of the run, lie side
        // by side in its plane: the first block of each row of blocks writes them all.
        if (d->bx[b] != 0) {
            continue;
        }
        const JpgComponent* c = &d->comp[d->blockComp[b]];
        const int nx = 8 >> c->sx, ny = 8 >> c->sy, step = steps[c->index];
        const int64_t rx = c->hb * col * 8, ry = c->vb * row * 8 + d->by[b];
        uint8_t* const first = c->plane + ptrdiff_t(ry >> c->sy) * c->pitch + ptrdiff_t(rx >> c->sx) * step;
        const int64_t samples = count * c->hb * nx;
        for (int y = 0; y < ny; ++y) {
            uint8_t* const out = first + ptrdiff_t(y) * c->pitch;
            if (step == 1) {
                std::memset(out, 128, size_t(samples));
                continue;
            }
            for (int64_t x = 0; x < samples; ++x) {
                out[x * step] = 128;
            }
        }
    }
}

// How many MCUs from the current one on, at most `limit`, JpgDecDcRun may take at once: whole MCUs
// inside the picture whose blocks all come out as one sample from their DC coefficient, with no
// restart marker among them after the first and no index entry to record. 0 where it may not.
int64_t JpgDecDcRunLength(const JpgDecoder* d, int64_t limit) {
    const JpgBitReader* br = d->br;
    const JpgIndex* t = d->finer ? d->finer : d->index;
    if (br->lastIndex != 0 || br->starved || (t && t->missing != 0) || d->mcuRow >= d->wholeRows ||
        !straightInside(d)) {
        return 0;
    }
    for (int b = 0; b < d->scanBlocks; ++b) {
        if (!oneSampleFromDc(&d->comp[d->blockComp[b]])) {
            return 0;
        }
    }
    int64_t run = std::min(limit, d->wholePerRow - d->mcuCol);
    if (br->rstInterval > 0) {
        // The first MCU may start a restart interval; the run ends with the interval.
        run = std::min<int64_t>(run, br->rstLeft == 0 ? br->rstInterval : br->rstLeft);
    }
    return run > 1 ? run : 0;
}

void JpgDecDcRun(JpgDecoder* d, int64_t col, int64_t row, int64_t count) {
    JpgBitReader* br = d->br;
    restartIfDue(br, d->scanComp, d->scanComps);
    if (br->rstInterval > 0) {
        br->rstLeft -= count - 1; // the run's later MCUs, the first counted above
    }
    const int n = d->scanBlocks;
    const uint8_t* const steps = jpg_yccrun_tbl[d->layoutRow];
    // Each block's sample of the run's first MCU, and how far the next MCU's lies to its right.
    JpgComponent* comps[kJpgMaxScanBlocks];
    uint8_t* first[kJpgMaxScanBlocks];
    ptrdiff_t across[kJpgMaxScanBlocks];
    for (int b = 0; b < n; ++b) {
        JpgComponent* c = &d->comp[d->blockComp[b]];
        comps[b] = c;
        const int64_t rx = c->hb * col * 8 + d->bx[b], ry = c->vb * row * 8 + d->by[b];
        first[b] = c->plane + ptrdiff_t(ry >> 3) * c->pitch + ptrdiff_t(rx >> 3) * steps[c->index];
        across[b] = ptrdiff_t(c->hb) * steps[c->index];
    }
    // In chunks that fit on the stack; the reader's state goes with each chunk's call.
    constexpr int kChunk = 32;
    JpgComponent* runComps[kChunk * kJpgMaxScanBlocks];
    int16_t dcs[kChunk * kJpgMaxScanBlocks];
    for (int64_t m0 = 0; m0 < count; m0 += kChunk) {
        const int mcus = int(std::min<int64_t>(kChunk, count - m0));
        for (int m = 0; m < mcus; ++m) {
            std::copy(comps, comps + n, runComps + m * n);
        }
        const int good = JpgDecDcBlocks(br, runComps, mcus * n, dcs);
        const int whole = good / n;
        for (int b = 0; b < n; ++b) {
            // JpgIdct1Sample's sample (without line doubling).
            const int64_t q = comps[b]->dq[0];
            uint8_t* out = first[b] + m0 * across[b];
            for (int m = 0; m < whole; ++m, out += across[b]) {
                const int64_t v = ((int64_t(dcs[m * n + b]) * q + 256) >> 9) + 128;
                *out = uint8_t(v < 0 ? 0 : v > 255 ? 255 : v);
            }
        }
        if (whole == mcus) {
            continue;
        }
        // The data ended or went bad: from the block it did on, the run comes out grey, as it
        // does block by block.
        for (int i = whole * n; i < mcus * n; ++i) {
            const int m = i / n, b = i % n;
            JpgComponent* c = comps[b];
            if (i < good) {
                const int64_t v = ((int64_t(dcs[i]) * c->dq[0] + 256) >> 9) + 128;
                first[b][(m0 + m) * across[b]] = uint8_t(v < 0 ? 0 : v > 255 ? 255 : v);
                continue;
            }
            const int64_t mc = d->mcuCol + m0 + m;
            const int64_t rx = c->hb * (col + m0 + m) * 8 + d->bx[b], ry = c->vb * row * 8 + d->by[b];
            putBlock(d, c, d->block, c->hb * mc * 8 + d->bx[b], c->vb * d->mcuRow * 8 + d->by[b], rx, ry, 0, true);
        }
    }
}

int64_t JpgDecYCbCrLastMCU(JpgDecoder* d, int64_t col, int64_t row) {
    return JpgDecYCbCrMCU(d, col, row); // putBlock clips every block by its edge class
}

int64_t JpgDecRGBMCU(JpgDecoder*, int64_t, int64_t) {
    return 0;
}

namespace {

void advance(JpgDecoder* d) {
    if (++d->mcuCol >= d->mcusPerRow) {
        d->mcuCol = 0;
        d->mcuRow++;
    }
}

int64_t imageBaseline(JpgDecoder* d, int64_t lines) {
    int64_t rows = ((lines * d->scanMaxV + d->maxV - 1) / d->maxV + d->mcuHeight - 1) / d->mcuHeight;
    JpgMcuFn fn = d->mcuFn[d->outputMode & 3];
    for (int64_t r = 0; r < rows; ++r) {
        if (fn == JpgDecStreamMCU && d->mcuCol == 0 && JpgDecDeadMCUs(d->br) == INT64_MAX) {
            JpgDecPassEmptyMCUs(d, std::min(rows - r, int64_t(d->mcuRows) - d->mcuRow) * d->mcusPerRow);
            if (d->mcuRow >= d->mcuRows) {
                d->state = 0;
                return 1;
            }
            return 0;
        }
        for (int64_t c = 0; c < d->mcusPerRow; ++c) {
            if (fn == JpgDecStreamMCU) {
                // Without output, MCUs that can only come out empty are passed at once.
                const int64_t dead = std::min(JpgDecDeadMCUs(d->br), d->mcusPerRow - c);
                if (dead > 0) {
                    JpgDecPassEmptyMCUs(d, dead);
                    c += dead - 1;
                    continue;
                }
            }
            if (fn == JpgDecYCbCrMCU) {
                // After the data ends the MCUs come out grey a run at a time, and at an eighth the
                // MCUs that are only DC samples are decoded so.
                const int64_t grey = JpgDecGreyRunLength(d, d->mcusPerRow - c);
                const int64_t run = grey > 0 ? grey : JpgDecDcRunLength(d, d->mcusPerRow - c);
                if (run > 0) {
                    (grey > 0 ? JpgDecGreyRun : JpgDecDcRun)(d, c, r, run);
                    d->mcuCol += run - 1;
                    c += run - 1;
                    advance(d);
                    continue;
                }
            }
            JpgDecIdxUpdate(d);
            int64_t res = fn(d, c, r);
            if (res != 0) {
                return res;
            }
            advance(d);
        }
        if (d->mcuRow >= d->mcuRows) {
            d->state = 0; // the parser meets EOI next
            return 1;     // go on in the state machine
        }
        if (d->progress && r + 1 < rows &&
            d->progress(int32_t((r + 1) * 100 / rows), d->progressUser) != 0) {
            return JPG_ERR_CANCELLED;
        }
    }
    return 0;
}

} // namespace

namespace {

// The spread that leaving out the lowest bit of every AC coefficient gives a 1/4 sample, in
// levels: each coefficient is then off by at most one quantiser step, and the steps of the
// frequencies a 4 x 4 box average keeps, weighted as that average weighs them, add up in
// quadrature (their errors are independent). At a level or less (quality 90 and above, for the
// usual tables) the samples stay about a third of a level from the exact ones on average.
bool lowestBitsNegligible(const JpgDecoder* d, const JpgComponent& c) {
    static const auto weights = [] {
        std::array<double, 8> w{};
        for (int u = 0; u < 8; ++u) {
            w[size_t(u)] = JpgReducedKernel(2, u, 0) * jpg_idct_scale_tbl[2][u] / 16384.0;
        }
        return w;
    }();
    const uint16_t* q = d->qt + c.tq * 64;
    double spread = 0;
    for (int u = 0; u < 8; ++u) {
        for (int v = u == 0 ? 1 : 0; v < 8; ++v) {
            const double e = q[u * 8 + v] * weights[size_t(u)] * weights[size_t(v)];
            spread += e * e;
        }
    }
    return spread <= 1.0;
}

} // namespace

bool JpgDecScanUnneeded(const JpgDecoder* d, const JpgScan* s) {
    if (d->shift < 2 || !s->isAc) {
        return false;
    }
    // A small frame reads them all: its edge, where output samples average only part of a
    // block, is much of the picture. Chroma delivered at the luma plane's size needs them too.
    if (d->frameMcusPerRow * d->frameMcuRows <= 64) {
        return false;
    }
    if (d->shift == 2) {
        // At 1/4 the luma's last refinement, the lowest bit of its AC coefficients, is often half
        // the file; it is left unread where the quantisers make it negligible at this scale.
        // (Chroma refinements are small, and their errors show more.)
        const JpgComponent& c = d->comp[s->frameComp[0]];
        const bool luma = s->frameComp[0] == 0 && (d->ncomp == 1 || (d->ncomp == 3 && !d->rgb));
        return luma && s->br.ah > 0 && s->br.al == 0 && c.sx == 2 && c.sy == 2 && c.lastAtLeast == 0 &&
               lowestBitsNegligible(d, c);
    }
    for (int i = 0; i < s->ncomp; ++i) {
        if (d->comp[s->frameComp[i]].lastAtLeast > 0) {
            return false;
        }
    }
    return true;
}

int64_t JpgDecPCoefMCU(JpgDecoder* d, JpgScan* scan, int64_t col, int64_t blockRow) {
    int64_t pos = scan->row * scan->mcusPerRow + scan->col;
    if (pos >= scan->limit) {
        return 0;
    }
    // (Scans that add nothing at this scale never get here: JpgDecPScanRow passes them over.)
    restartIfDue(&scan->br, scan->comp, scan->ncomp);
    const bool clear = d->scanMode == 2;
    auto run = [&](JpgComponent* c, int16_t* blk) {
        if (clear) {
            std::memset(blk, 0, 64 * sizeof(int16_t));
        }
        int64_t r = scan->block(&scan->br, blk, c);
        if (clear && scan->br.starved) {
            std::memset(blk, 0, 64 * sizeof(int16_t));
        }
        return r;
    };
    if (scan->ncomp == 1) {
        JpgComponent* c = scan->comp[0];
        const JpgComponent& fc = d->comp[scan->frameComp[0]];
        int64_t mcu = col / fc.h;
        int64_t blk = fc.firstBlock + blockRow * fc.h + col % fc.h;
        int16_t* addr = d->rowBuf + (mcu * d->blocksPerMcu + blk) * 64;
        if (run(c, addr) != 0) {
            scan->limit = pos;
        }
        return 0;
    }
    for (int b = 0; b < scan->blocksPerMcu; ++b) {
        int ci = scan->blockComp[b];
        const JpgComponent& fc = d->comp[scan->frameComp[ci]];
        int64_t blk = fc.firstBlock + (scan->by[b] / 8) * fc.h + scan->bx[b] / 8;
        int16_t* addr = d->rowBuf + (col * d->blocksPerMcu + blk) * 64;
        if (run(scan->comp[ci], addr) != 0) {
            scan->limit = pos;
            return 0;
        }
    }
    return 0;
}

int64_t JpgDecPScanRow(JpgDecoder* d) {
    int64_t touched = 0;
    d->rowDcOnly = d->scanMode == 1;
    for (JpgScan* s = d->scans; s; s = s->next) {
        int64_t count = s->mcusPerRow * (s->ncomp == 1 ? d->comp[s->frameComp[0]].v : 1);
        // A scan that has nothing more to give (its data ended, or it is not needed at this
        // scale) is passed over at once: a few header bytes may claim millions of blocks.
        const int64_t pos = s->row * s->mcusPerRow + s->col;
        const bool dead = JpgDecDeadMCUs(&s->br) >= count;
        if (pos >= s->limit || JpgDecScanUnneeded(d, s) || dead) {
            if (dead) {
                passRestartCount(&s->br, count);
            }
            const int64_t at = pos + count;
            s->row = at / s->mcusPerRow;
            s->col = at % s->mcusPerRow;
            continue;
        }
        touched = 1;
        if (s->isAc) {
            d->rowDcOnly = false;
        }
        for (int64_t i = 0; i < count; ++i) {
            int64_t blockRow = s->ncomp == 1 ? i / s->mcusPerRow : 0;
            JpgDecPCoefMCU(d, s, s->col, blockRow);
            if (++s->col >= s->mcusPerRow) {
                s->col = 0;
                s->row++;
            }
        }
    }
    return touched;
}

int64_t JpgDecPOutYCbCr(JpgDecoder* d, int64_t col, int64_t row) {
    int16_t* mcu = d->rowBuf + d->mcuCol * d->blocksPerMcu * 64;
    // Without AC scans (1/8) only the first coefficient of each block can be set.
    const int last = d->rowDcOnly ? 0 : 63;
    for (int b = 0; b < d->blocksPerMcu; ++b) {
        JpgComponent* c = &d->comp[d->blockComp[b]];
        int64_t ax = int64_t(c->h) * d->mcuCol * 8 + d->bx[b];
        int64_t ay = int64_t(c->v) * d->mcuRow * 8 + d->by[b];
        int64_t rx = int64_t(c->h) * col * 8 + d->bx[b];
        int64_t ry = int64_t(c->v) * row * 8 + d->by[b];
        if (c->idct && c->plane && ax + 8 <= c->width && ay + 8 <= c->height &&
            ay + 8 <= d->clipRows[c->index]) {
            // A whole block inside the picture: straight into the plane.
            const int step = jpg_yccrun_tbl[d->layoutRow][c->index];
            transformInto(c, c->plane + ptrdiff_t(ry >> c->sy) * c->pitch + ptrdiff_t(rx >> c->sx) * step,
                          mcu + b * 64, step, last, d->scratch);
            continue;
        }
        putBlock(d, c, mcu + b * 64, ax, ay, rx, ry, last, false);
    }
    return 0;
}

int64_t JpgDecPOutCoef(JpgDecoder* d, int64_t col, int64_t row) {
    JpgComponent* first = &d->comp[0];
    auto* base = reinterpret_cast<int16_t*>(first->plane);
    int16_t* src = d->rowBuf + d->mcuCol * d->blocksPerMcu * 64;
    size_t n = size_t(d->blocksPerMcu) * 64;
    if (base) {
        std::memcpy(base + ptrdiff_t(row) * first->pitch + ptrdiff_t(col) * n, src, n * sizeof(int16_t));
    }
    std::memset(src, 0, n * sizeof(int16_t));
    return 0;
}

namespace {

int64_t imageRowBuffered(JpgDecoder* d, int64_t lines) {
    int64_t rows = (lines + 8 * d->maxV - 1) / (8 * d->maxV);
    for (int64_t r = 0; r < rows && d->mcuRow < d->frameMcuRows; ++r) {
        JpgDecPScanRow(d);
        for (d->mcuCol = 0; d->mcuCol < d->frameMcusPerRow; d->mcuCol++) {
            if (d->outputMode == 1) {
                JpgDecPOutCoef(d, d->mcuCol, r);
            } else {
                JpgDecPOutYCbCr(d, d->mcuCol, r);
            }
        }
        d->mcuCol = 0;
        d->mcuRow++;
        if (d->mcuRow >= d->frameMcuRows) {
            d->state = 3;
            return 0;
        }
        if (d->progress && r + 1 < rows &&
            d->progress(int32_t((r + 1) * 100 / rows), d->progressUser) != 0) {
            return JPG_ERR_CANCELLED;
        }
    }
    return 0;
}

} // namespace

int64_t JpgDecImage(JpgDecoder* d, int64_t width, int64_t lines) {
    for (;;) {
        switch (d->state) {
        case 0: {
            int64_t r = JpgDecReadHeader(d);
            if (r != 0) {
                return r;
            }
            if (d->state == 0) {
                return JPG_ERR_DATA;
            }
            if (d->state == 1 && d->scanMode != 0) {
                return JPG_ERR_DATA;
            }
            break;
        }
        case 1:
            d->state = 2;
            break;
        case 2: {
            int64_t r = imageBaseline(d, lines);
            if (r != 1) {
                return r;
            }
            break; // state 0: read the markers behind the scan
        }
        case 3:
            return 0;
        case 4:
            return imageRowBuffered(d, lines);
        default:
            return JPG_ERR_DATA;
        }
    }
}

int64_t DecScanInit(JpgDecoder* d) {
    auto* s = static_cast<JpgScan*>(JpgDecAlloc(d, sizeof(JpgScan)));
    if (!s) {
        return JPG_ERR_MEMORY;
    }
    std::memset(static_cast<void*>(s), 0, sizeof(JpgScan));
    constexpr uint32_t kScanBuffer = 512;
    auto* buf = static_cast<uint8_t*>(JpgDecAlloc(d, kScanBuffer + kJpgGuard + 16));
    if (!buf) {
        JpgDecFree(d, s);
        return JPG_ERR_MEMORY;
    }
    // Link first, so that destruction finds both blocks whatever happens next.
    if (d->lastScan) {
        d->lastScan->next = s;
    } else {
        d->scans = s;
    }
    d->lastScan = s;
    int64_t r = JpgScanHufInit(d, &s->br, buf, kScanBuffer);
    if (r != 0) {
        return r;
    }
    JpgBitReader* br = d->br;
    if (d->scanMode == 1) {
        if (br->ah != 0) {
            s->block = br->ss != 0 ? JpgDecBlockACRefine : JpgDecBlockDCRefine;
        } else {
            s->block = br->ss != 0 ? JpgDecBlockACFirst : JpgDecBlockDCFirst;
        }
        s->isAc = br->ss != 0;
    } else {
        s->block = JpgDecBlock;
    }
    s->ncomp = d->scanComps;
    int copyOf[4] = {-1, -1, -1, -1};
    for (int i = 0; i < s->ncomp; ++i) {
        s->compStore[i] = *d->scanComp[i];
        s->compStore[i].dcPred = 0;
        s->comp[i] = &s->compStore[i];
        s->frameComp[i] = d->scanComp[i]->index;
        copyOf[d->scanComp[i]->index] = i;
    }
    s->blocksPerMcu = d->scanBlocks;
    for (int b = 0; b < d->scanBlocks; ++b) {
        s->blockComp[b] = uint8_t(copyOf[d->blockComp[b]]);
        s->bx[b] = d->bx[b];
        s->by[b] = d->by[b];
    }
    s->mcusPerRow = d->mcusPerRow;
    s->mcuRows = d->mcuRows;
    s->wholePerRow = d->wholePerRow;
    s->wholeRows = d->wholeRows;
    s->firstBlock = d->scanComp[0]->firstBlock;
    s->limit = s->mcusPerRow * s->mcuRows;
    return 0;
}

int64_t DecProgInit(JpgDecoder* d) {
    // Every scan is known by now (the header reader runs to the end for these frames).
    const uint64_t blocks = uint64_t(d->blocksPerMcu) * uint64_t(d->frameMcusPerRow) * uint64_t(d->frameMcuRows);
    // The header reader stands at the end of the data: its position is the file's size.
    const uint64_t bytes = uint64_t(std::max<int64_t>(d->br->bufOffset + (d->br->p - d->br->buf), 0));
    const uint64_t allowed = std::max(kJpgMaxProgressiveBlockScans,
                                      std::min<uint64_t>(bytes, uint64_t(1) << 40) * kJpgBlockScansPerByte);
    if (d->scanCount <= 0 || blocks > allowed / uint64_t(d->scanCount)) {
        return JPG_ERR_UNSUPPORTED;
    }
    uint64_t count = uint64_t(d->blocksPerMcu) * uint64_t(d->frameMcusPerRow) * 64;
    if (count * sizeof(int16_t) > UINT32_MAX - 64) {
        return JPG_ERR_MEMORY;
    }
    d->rowBuf = static_cast<int16_t*>(JpgDecAlloc(d, size_t(count) * sizeof(int16_t)));
    if (!d->rowBuf) {
        return JPG_ERR_MEMORY;
    }
    std::memset(d->rowBuf, 0, size_t(count) * sizeof(int16_t));
    d->rowBufCount = size_t(count);
    // Frame block places: every component's H x V blocks, in frame order.
    int b = 0;
    for (int i = 0; i < d->ncomp; ++i) {
        const JpgComponent& c = d->comp[i];
        for (int y = 0; y < c.v; ++y) {
            for (int x = 0; x < c.h; ++x) {
                d->blockComp[b] = uint8_t(i);
                d->bx[b] = int16_t(8 * x);
                d->by[b] = int16_t(8 * y);
                ++b;
            }
        }
    }
    d->mcuCol = 0;
    d->mcuRow = 0;
    d->state = 4;
    return 0;
}

void JpgDecRewindScans(JpgDecoder* d, int64_t* err) {
    *err = 0;
    for (JpgScan* s = d->scans; s; s = s->next) {
        s->col = 0;
        s->row = 0;
        s->limit = s->mcusPerRow * s->mcuRows;
        int64_t r = JpgScanHufReset(&s->br);
        if (r != 0) {
            *err = r;
        }
        for (int i = 0; i < s->ncomp; ++i) {
            s->comp[i]->dcPred = 0;
        }
    }
    if (d->rowBuf) {
        std::memset(d->rowBuf, 0, d->rowBufCount * sizeof(int16_t));
    }
    d->mcuCol = 0;
    d->mcuRow = 0;
}
