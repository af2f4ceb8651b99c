// Marker segments (T.81 Annex B): frame, scan, tables, restart interval, line count.
#include <cstring>

#include "jpg_idct_impl.h"
#include "jpg_internal.h"

namespace {

// Reads the next byte of a segment; false when the data ended.
bool byte(JpgDecoder* d, int* v) {
    return JpgBrReadByte(d->br, v);
}

bool word(JpgDecoder* d, int* v) {
    int hi, lo;
    if (!byte(d, &hi) || !byte(d, &lo)) {
        return false;
    }
    *v = (hi << 8) | lo;
    return true;
}

bool skip(JpgDecoder* d, int count) {
    JpgBitReader* br = d->br;
    while (count > 0) {
        if (!JpgBrEnsure(br, 1)) {
            return false;
        }
        uint32_t avail = JpgBrAvail(br);
        uint32_t take = avail < uint32_t(count) ? avail : uint32_t(count);
        br->p += take;
        count -= int(take);
    }
    return true;
}

int64_t GetSOI(JpgDecoder* d) {
    if (d->seenSOI) {
        return JPG_ERR_DATA;
    }
    d->br->rstInterval = 0;
    d->restartInterval = 0;
    d->seenSOI = true;
    return 0;
}

// Frame analysis: sampling geometry, block places, subsampling type.
int64_t JpgDecSetFrameInfo(JpgDecoder* d) {
    if (d->ncomp == 1) {
        d->comp[0].h = 1;
        d->comp[0].v = 1;
    }
    int maxH = 0, maxV = 0, blocks = 0;
    for (int i = 0; i < d->ncomp; ++i) {
        JpgComponent& c = d->comp[i];
        // T.81 B.2.2: sampling factors are 1 to 4.
        if (c.h < 1 || c.h > 4 || c.v < 1 || c.v > 4) {
            return JPG_ERR_UNSUPPORTED;
        }
        maxH = c.h > maxH ? c.h : maxH;
        maxV = c.v > maxV ? c.v : maxV;
        c.dq = d->dq[c.tq];
        c.firstBlock = blocks;
        blocks += c.h * c.v;
    }
    if (blocks > kJpgMaxFrameBlocks) {
        return JPG_ERR_UNSUPPORTED;
    }
    d->blocksPerMcu = blocks;
    d->outputMode = 2;
    if (maxH != d->comp[0].h || maxV != d->comp[0].v) {
        return JPG_ERR_UNSUPPORTED;
    }
    if (d->ncomp == 3) {
        const JpgComponent& b = d->comp[1];
        const JpgComponent& r = d->comp[2];
        if (b.h != r.h || b.v != r.v || maxH % b.h != 0 || maxV % b.v != 0) {
            return JPG_ERR_UNSUPPORTED;
        }
    }
    d->maxH = maxH;
    d->maxV = maxV;
    int32_t type;
    if (maxH > 2 || maxV > 2) {
        type = 5;
    } else {
        type = jpg_yuvsample_tbl[maxV * 3 + maxH];
        if (d->ncomp == 1 && type == 3) {
            type = 4;
        }
        if (d->ncomp == 3) {
            // The layout follows the ratio of luma to chroma sampling, not the luma factors
            // alone: all components at 1 x 2 (or 2 x 1) are full-resolution colour.
            const int rh = maxH / d->comp[1].h, rv = maxV / d->comp[1].v;
            type = rh == 1 ? (rv == 1 ? 3 : 2) : (rv == 1 ? 1 : 0);
        }
    }
    d->subsampling = type;
    for (int i = 0; i < d->ncomp; ++i) {
        JpgComponent& c = d->comp[i];
        c.width = int32_t((int64_t(d->width) * c.h + maxH - 1) / maxH);
        c.height = int32_t((int64_t(d->height) * c.v + maxV - 1) / maxV);
    }
    d->frameMcusPerRow = (int64_t(d->width) + 8 * maxH - 1) / (8 * maxH);
    d->frameMcuRows = (int64_t(d->height) + 8 * maxV - 1) / (8 * maxV);
    JpgDecSetComponentScales(d);
    if (d->dqChroma) {
        for (int t = 0; t < 4; ++t) {
            JpgDecSetDeQuantScale(d, t);
        }
    }
    return 0;
}

int64_t GetSOF(JpgDecoder* d, bool progressive, int tableSlots) {
    if (d->seenSOF) {
        return JPG_ERR_DATA;
    }
    d->tableSlots = tableSlots;
    int len, prec, h, w, n;
    if (!word(d, &len) || !byte(d, &prec) || !word(d, &h) || !word(d, &w) || !byte(d, &n)) {
        return JPG_ERR_DATA;
    }
    if (prec != 8 || len - 8 != 3 * n || w < 1 || h < 1 || n < 1 || n > 4) {
        return JPG_ERR_DATA;
    }
    if (n == 4) {
        return JPG_ERR_UNSUPPORTED;
    }
    if (progressive) {
        d->scanMode = 1;
    }
    d->precision = prec;
    d->width = w;
    d->height = h;
    d->ncomp = n;
    d->progressive = progressive;
    for (int i = 0; i < n; ++i) {
        int id, hv, tq;
        if (!byte(d, &id) || !byte(d, &hv) || !byte(d, &tq)) {
            return JPG_ERR_DATA;
        }
        if (tq > 3) {
            return JPG_ERR_DATA;
        }
        JpgComponent& c = d->comp[i];
        c.id = id;
        c.index = i;
        c.h = hv >> 4;
        c.v = hv & 15;
        c.tq = tq;
    }
    d->seenSOF = true;
    if (n == 3) {
        auto is = [](int id, char up) { return id == up || id == up + 32; };
        d->rgb = is(d->comp[0].id, 'R') && is(d->comp[1].id, 'G') && is(d->comp[2].id, 'B');
    }
    return JpgDecSetFrameInfo(d);
}

} // namespace

int64_t JpgDecSetDeQuantScale(JpgDecoder* d, int table) {
    const int16_t* scale = jpg_idct_scale_tbl[d->shift];
    const uint16_t* q = d->qt + table * 64;
    int32_t* out = d->dq[table];
    for (int i = 0; i < 64; ++i) {
        // Quantisers are at most 65535 and the factors at most 31521 in magnitude: the product
        // fits in 32 bits.
        out[i] = int32_t(q[i]) * int32_t(scale[i]);
    }
    if (d->shift == 2 && d->weights2) {
        JpgIdct2Weigh(out, d->weights2 + table * kJpgIdct2Weights);
    }
    int32_t* full = d->dqFull + table * 64;
    for (int i = 0; i < 64; ++i) {
        full[i] = int32_t(q[i]) * int32_t(jpg_idct_scale_tbl[0][i]);
    }
    int sx, sy;
    if (d->dqChroma && JpgDecChromaShifts(d, &sx, &sy)) {
        int32_t* alt = d->dqChroma + table * 64;
        // Unequal reductions go through the square transform of the smaller one.
        const int16_t* s = jpg_idct_scale_tbl[sx < sy ? sx : sy];
        for (int i = 0; i < 64; ++i) {
            alt[i] = int32_t(q[i]) * int32_t(s[i]);
        }
        if (sx == 2 && sy == 2 && d->weights2) {
            JpgIdct2Weigh(alt, d->weights2 + (4 + table) * kJpgIdct2Weights);
        }
    }
    return 0;
}

bool JpgDecChromaShifts(const JpgDecoder* d, int* sx, int* sy) {
    if (!d->chromaAtLuma || d->ncomp != 3 || d->subsampling < 0 || d->subsampling > 2) {
        return false;
    }
    const int lx = d->maxH / d->comp[1].h == 2 ? 1 : 0;
    const int ly = d->maxV / d->comp[1].v == 2 ? 1 : 0;
    if (d->shift < lx || d->shift < ly || (lx == 0 && ly == 0)) {
        return false;
    }
    *sx = d->shift - lx;
    *sy = d->shift - ly;
    return true;
}

void JpgDecSetComponentScales(JpgDecoder* d) {
    static const JpgIdctFn kIdct[4] = {JpgDQIDCT8, JpgDQIDCT4, JpgDQIDCT2, JpgDQIDCT1};
    int sx = 0, sy = 0;
    const bool wide = d->dqChroma && JpgDecChromaShifts(d, &sx, &sy);
    for (int i = 0; i < 4; ++i) {
        JpgComponent& c = d->comp[i];
        const int t = c.tq & 3;
        c.dqFull = d->dqFull ? d->dqFull + t * 64 : nullptr;
        c.multiAc = int64_t((c.width + 7) / 8) * int64_t((c.height + 7) / 8) >= kJpgMultiMinBlocks;
        if (wide && (i == 1 || i == 2)) {
            c.sx = sx;
            c.sy = sy;
            c.idct = sx == sy ? kIdct[sx] : JpgIdctPaired(sx, sy);
            c.dq = d->dqChroma + t * 64;
            c.lastAtLeast = sx < 3 || sy < 3 ? 63 : 0;
            c.weights2 = sx == 2 && sy == 2 && d->weights2 && JpgIdct2Weighted
                             ? d->weights2 + (4 + t) * kJpgIdct2Weights
                             : nullptr;
        } else {
            c.sx = c.sy = d->shift;
            c.idct = kIdct[d->shift];
            c.dq = d->dq[t];
            c.lastAtLeast = 0;
            c.weights2 = d->shift == 2 && d->weights2 && JpgIdct2Weighted ? d->weights2 + t * kJpgIdct2Weights
                                                                          : nullptr;
        }
    }
}

namespace {

int64_t GetDQT(JpgDecoder* d) {
    int len;
    if (!word(d, &len)) {
        return JPG_ERR_DATA;
    }
    int left = len - 2;
    while (left > 0) {
        int pq;
        if (!byte(d, &pq)) {
            return JPG_ERR_DATA;
        }
        int t = pq & 15;
        bool wide = pq >= 16;
        if (t > 3) {
            return JPG_ERR_DATA;
        }
        int need = wide ? 129 : 65;
        if (left < need) {
            return JPG_ERR_DATA;
        }
        for (int i = 0; i < 64; ++i) {
            int v;
            if (wide ? !word(d, &v) : !byte(d, &v)) {
                return JPG_ERR_DATA;
            }
            d->qt[t * 64 + jpg_natural_order[i]] = uint16_t(v);
        }
        d->qtDefined[t] = true;
        JpgDecSetDeQuantScale(d, t);
        left -= need;
    }
    if (left != 0) {
        return JPG_ERR_DATA;
    }
    d->seenDQT = true;
    return 0;
}

int64_t GetDHT(JpgDecoder* d) {
    int len;
    if (!word(d, &len)) {
        return JPG_ERR_DATA;
    }
    int left = len - 2;
    while (left > 16) {
        int tc;
        if (!byte(d, &tc)) {
            return JPG_ERR_DATA;
        }
        bool ac = (tc & 0x10) != 0;
        int idx = ac ? tc - 16 : tc;
        if (idx < 0 || idx > 3) {
            return JPG_ERR_DATA;
        }
        uint8_t counts[16];
        int total = 0;
        for (int i = 0; i < 16; ++i) {
            int v;
            if (!byte(d, &v)) {
                return JPG_ERR_DATA;
            }
            counts[i] = uint8_t(v);
            total += v;
        }
        if (total > 256 || total > left - 17) {
            return JPG_ERR_DATA;
        }
        uint8_t values[256];
        for (int i = 0; i < total; ++i) {
            int v;
            if (!byte(d, &v)) {
                return JPG_ERR_DATA;
            }
            values[i] = uint8_t(v);
        }
        JpgHuffTable* t;
        int64_t r = JpgDecSetHuffTable(d, counts, values, &t);
        if (r != 0) {
            return r;
        }
        if (ac) {
            d->acTbl[idx] = t;
            d->br->ac[idx] = t;
        } else {
            d->dcTbl[idx] = t;
            d->br->dc[idx] = t;
        }
        left -= 17 + total;
    }
    if (left != 0) {
        return JPG_ERR_DATA;
    }
    d->seenDHT = true;
    return 0;
}

int64_t GetDRI(JpgDecoder* d) {
    int len, ri;
    if (!word(d, &len)) {
        return JPG_ERR_DATA;
    }
    if (len != 4) {
        return JPG_ERR_DATA;
    }
    if (!word(d, &ri)) {
        return JPG_ERR_DATA;
    }
    d->br->rstInterval = ri;
    d->restartInterval = ri;
    return 0;
}

int64_t GetDNL(JpgDecoder* d) {
    int len, lines;
    if (!word(d, &len)) {
        return JPG_ERR_DATA;
    }
    if (len != 4) {
        return JPG_ERR_DATA;
    }
    if (!word(d, &lines)) {
        return JPG_ERR_DATA;
    }
    // The line count is defined by the frame here; a DNL may only repeat a known height.
    if (d->seenSOS && lines > 0 && lines == d->height) {
        d->height = lines;
    }
    return 0;
}

int64_t ParseSkip(JpgDecoder* d) {
    int len;
    if (!word(d, &len)) {
        return JPG_ERR_DATA;
    }
    if (len > 2 && !skip(d, len - 2)) {
        return JPG_ERR_DATA;
    }
    return 0;
}

// Scan geometry for the decoder's current scan components.
void JpgDecSetScanInfo(JpgDecoder* d) {
    int ns = d->scanComps;
    int maxV = 0;
    int blocks = 0;
    for (int i = 0; i < ns; ++i) {
        JpgComponent* c = d->scanComp[i];
        c->hb = ns == 1 ? 1 : c->h;
        c->vb = ns == 1 ? 1 : c->v;
        maxV = c->vb > maxV ? c->vb : maxV;
        for (int y = 0; y < c->vb; ++y) {
            for (int x = 0; x < c->hb; ++x) {
                d->blockComp[blocks] = uint8_t(c->index);
                d->bx[blocks] = int16_t(8 * x);
                d->by[blocks] = int16_t(8 * y);
                ++blocks;
            }
        }
    }
    d->scanBlocks = blocks;
    d->scanMaxV = ns == 1 ? d->scanComp[0]->v : d->maxV;
    d->mcuHeight = 8 * maxV;
    int64_t w, h;
    if (ns == 1) {
        w = d->scanComp[0]->width;
        h = d->scanComp[0]->height;
        d->mcusPerRow = (w + 7) / 8;
        d->mcuRows = (h + 7) / 8;
        d->wholePerRow = w / 8;
        d->wholeRows = h / 8;
    } else {
        int64_t mw = 8 * d->maxH, mh = 8 * d->maxV;
        d->mcusPerRow = (d->width + mw - 1) / mw;
        d->mcuRows = (d->height + mh - 1) / mh;
        d->wholePerRow = d->width / mw;
        d->wholeRows = d->height / mh;
    }
    d->mcuCol = 0;
    d->mcuRow = 0;
}

int64_t GetSOS(JpgDecoder* d) {
    if (!d->seenSOF) {
        return JPG_ERR_DATA;
    }
    if (d->scanCount >= kJpgMaxScans) {
        return JPG_ERR_DATA;
    }
    int len, ns;
    if (!word(d, &len) || !byte(d, &ns)) {
        return JPG_ERR_DATA;
    }
    if (ns < 1 || ns > 4 || len != 2 * ns + 6) {
        return JPG_ERR_DATA;
    }
    // T.81 B.2.3: each scan component once, and only components of the frame.
    if (ns > d->ncomp) {
        return JPG_ERR_DATA;
    }
    bool used[4] = {};
    JpgComponent* comps[4];
    for (int i = 0; i < ns; ++i) {
        int id, tt;
        if (!byte(d, &id) || !byte(d, &tt)) {
            return JPG_ERR_DATA;
        }
        int found = -1;
        for (int k = 0; k < d->ncomp; ++k) {
            if (d->comp[k].id == id && !used[k]) {
                found = k;
                break;
            }
        }
        if (found < 0) {
            return JPG_ERR_DATA;
        }
        used[found] = true;
        int td = tt >> 4, ta = tt & 15;
        if (td >= d->tableSlots || ta >= d->tableSlots) {
            return JPG_ERR_DATA;
        }
        comps[i] = &d->comp[found];
        comps[i]->dcTbl = td;
        comps[i]->acTbl = ta;
    }
    int ss, se, a;
    if (!byte(d, &ss) || !byte(d, &se) || !byte(d, &a)) {
        return JPG_ERR_DATA;
    }
    int ah = a >> 4, al = a & 15;
    // T.81 G.1.1.1.1 (progressive) and B.2.3 (sequential) scan parameters.
    if (d->progressive) {
        if (ss > se || se > 63 || al > 13 || ah > 13) {
            return JPG_ERR_DATA;
        }
        if ((ss == 0) != (se == 0)) {
            return JPG_ERR_DATA; // DC coefficients are coded alone
        }
        if (ss > 0 && ns != 1) {
            return JPG_ERR_DATA; // AC scans carry one component
        }
    } else if (ss != 0 || se != 63 || ah != 0 || al != 0) {
        return JPG_ERR_DATA;
    }
    if (ns > 1) {
        int blocks = 0;
        for (int i = 0; i < ns; ++i) {
            blocks += comps[i]->h * comps[i]->v;
        }
        if (blocks > kJpgMaxScanBlocks) {
            return JPG_ERR_DATA;
        }
    }
    // The scan's tables must exist now: the scan keeps their addresses.
    for (int i = 0; i < ns; ++i) {
        bool needDc = !d->progressive || (ss == 0 && ah == 0);
        bool needAc = !d->progressive || ss > 0;
        if ((needDc && !d->dcTbl[comps[i]->dcTbl]) || (needAc && !d->acTbl[comps[i]->acTbl])) {
            return JPG_ERR_DATA;
        }
    }
    JpgBitReader* br = d->br;
    br->ss = ss;
    br->se = se;
    br->ah = ah;
    br->al = al;
    br->lastIndex = d->progressive ? se : (d->shift ? jpg_scalese_tbl[d->shift] : se);
    br->eobrun = 0;
    br->rstNext = 0;
    br->rstLeft = br->rstInterval;
    br->starved = false;
    d->state = 1;
    d->scanComps = ns;
    for (int i = 0; i < ns; ++i) {
        d->scanComp[i] = comps[i];
    }
    JpgBrSyncToByte(br);
    if (d->scanMode == 0) {
        br->scanStart = JpgBrBitPosition(br);
        if (ns < d->ncomp) {
            d->scanMode = 2;
        }
    }
    JpgDecSetScanInfo(d);
    d->seenSOS = true;
    d->scanCount++;
    if (d->scanMode != 0) {
        return DecScanInit(d);
    }
    return 0;
}

} // namespace

int64_t JpgDecReadHeader(JpgDecoder* d) {
    JpgBitReader* br = d->br;
    JpgBrSyncToByte(br);
    for (;;) {
        // NextMarker also steps over a marker that the entropy reader stopped in front of.
        int m = JpgBrNextMarker(br);
        if (m == 0) {
            br->end = true;
            return JPG_ERR_DATA;
        }
        br->marker = 0;
        if (!d->seenSOI && m != 0xD8) {
            continue; // bytes before SOI are skipped
        }
        int64_t r = 0;
        switch (m) {
        case 0xC0:
            r = GetSOF(d, false, 2);
            break;
        case 0xC1:
            r = GetSOF(d, false, 4);
            break;
        case 0xC2:
            r = GetSOF(d, true, 4);
            break;
        case 0xC3: case 0xC5: case 0xC6: case 0xC7: case 0xC8: case 0xC9: case 0xCA:
        case 0xCB: case 0xCD: case 0xCE: case 0xCF:
            if (!d->seenSOF) {
                d->scanMode = 3; // a frame of another coding process
            }
            return JPG_ERR_UNSUPPORTED;
        case 0xC4:
            r = GetDHT(d);
            break;
        case 0xCC: case 0xDE: case 0xDF:
            return JPG_ERR_UNSUPPORTED;
        case 0xD0: case 0xD1: case 0xD2: case 0xD3: case 0xD4: case 0xD5: case 0xD6: case 0xD7:
        case 0x01:
            break;
        case 0xD8:
            r = GetSOI(d);
            break;
        case 0xD9:
            if (d->seenSOI && d->seenSOF && d->seenDQT && d->seenDHT && d->seenSOS) {
                d->state = 3;
                return 0;
            }
            break;
        case 0xDA:
            if (d->scanMode == 0 && d->seenSOS) {
                // A sequential frame whose components were all in one scan has no more scans.
                d->state = 3;
                return 0;
            }
            r = GetSOS(d);
            if (d->scanMode == 0 || r != 0) {
                return r;
            }
            break;
        case 0xDB:
            r = GetDQT(d);
            break;
        case 0xDC:
            r = GetDNL(d);
            break;
        case 0xDD:
            r = GetDRI(d);
            break;
        case 0xFE:
            r = ParseSkip(d);
            break;
        default:
            if (m >= 0xE0 && m <= 0xEF) {
                r = ParseSkip(d);
            } else {
                return JPG_ERR_UNSUPPORTED; // 0x02..0xBF, 0xF0..0xFD
            }
            break;
        }
        if (r != 0) {
            return r;
        }
    }
}
