// The check and mending of a JPEG 2000 code-stream (ITU-T T.800 annex A for the markers, annex B
// for the packets). Everything read comes from a hostile file: each length is checked against
// the bytes present before it is used, and every count that sizes an allocation is capped.

#include "Jpeg2000Stream.h"

#include <algorithm>
#include <array>
#include <map>
#include <tuple>

namespace kpv::imageio_detail {
namespace {

constexpr unsigned kSIZ = 0xff51, kCOD = 0xff52, kCOC = 0xff53, kPOC = 0xff5f, kPPM = 0xff60, kPPT = 0xff61;
constexpr unsigned kSOT = 0xff90, kSOP = 0xff91, kEPH = 0xff92, kSOD = 0xff93, kEOC = 0xffd9;
constexpr uint64_t kMaxTiles = 65535;  // tile indexes are 16 bits
// The read of a cut tile's packet headers keeps a few dozen bytes for each code block and
// precinct: no more of them than real files hold for their bytes (a code block takes some
// bytes of a real file, and a tiny hostile file costs little), and no more than a few dozen
// megabytes in all. A tile of more is not mended at the packet (its whole tile-parts still show).
constexpr uint64_t kMaxPrecincts = uint64_t(1) << 20, kMaxCodeBlocks = uint64_t(1) << 20;
constexpr uint64_t kCodeBlocksPerByte = 16, kPrecinctsPerByte = 4;
// The steps through code blocks that the library may take in reading packet headers: some four
// million (about half a second), and four a byte of the file besides.
constexpr uint64_t kBlockVisitsBeyondBytes = uint64_t(1) << 22, kBlockVisitsPerByte = 4;

struct View {
    const uchar* p;
    size_t size;
    bool has(size_t at, size_t n) const { return at <= size && n <= size - at; }
    unsigned u8(size_t at) const { return p[at]; }
    unsigned u16(size_t at) const { return unsigned(p[at]) << 8 | p[at + 1]; }
    uint64_t u32(size_t at) const
    {
        return uint64_t(p[at]) << 24 | uint64_t(p[at + 1]) << 16 | uint64_t(p[at + 2]) << 8 | p[at + 3];
    }
};

void putU32(QByteArray& out, size_t at, uint64_t value)
{
    for (int i = 0; i < 4; ++i)
        out[qsizetype(at) + i] = char(uchar(value >> (24 - 8 * i)));
}

// A mended stream's last bytes: the end marker, and the length of the code-stream's box.
void finish(QByteArray& out, size_t boxStart, size_t boxHeader)
{
    out.append(char(0xff));
    out.append(char(0xd9));
    if (boxHeader == 8) {
        putU32(out, boxStart, uint64_t(out.size()) - boxStart);
    } else if (boxHeader == 16) {
        putU32(out, boxStart + 8, 0);
        putU32(out, boxStart + 12, uint64_t(out.size()) - boxStart);
    }
}

int64_t ceilDiv(int64_t a, int64_t b) { return a >= 0 ? (a + b - 1) / b : -((-a) / b); }
int64_t floorDivPow2(int64_t a, unsigned s) { return a >> s; }  // arithmetic: floor for negatives
int64_t ceilDivPow2(int64_t a, unsigned s) { return -((-a) >> s); }

// The coding style of a component: COD or COC (A.6.1, A.6.2).
struct Coding {
    unsigned levels = 0, cbw = 6, cbh = 6, style = 0;
    std::array<uint8_t, 33> ppx{}, ppy{};
    bool pointPrecincts = false;  // precincts of one sample past the coarsest level, which the
                                  // standard forbids and the read of packets does not follow
};

bool readCoding(const View& v, size_t at, size_t end, bool precincts, Coding* out)
{
    if (at + 5 > end)
        return false;
    out->levels = v.u8(at);
    out->cbw = v.u8(at + 1) + 2;
    out->cbh = v.u8(at + 2) + 2;
    out->style = v.u8(at + 3);
    if (out->levels > 32 || out->cbw > 10 || out->cbh > 10 || out->cbw + out->cbh > 12)
        return false;
    out->ppx.fill(15);
    out->ppy.fill(15);
    if (precincts) {
        if (at + 5 + out->levels + 1 > end)
            return false;
        for (unsigned r = 0; r <= out->levels; ++r) {
            const unsigned b = v.u8(at + 5 + r);
            out->ppx[r] = uint8_t(b & 15);
            out->ppy[r] = uint8_t(b >> 4);
            if (r > 0 && (out->ppx[r] == 0 || out->ppy[r] == 0))
                out->pointPrecincts = true;
        }
    }
    return true;
}

// The coding markers of the main header or of a tile's first tile-part; later ones override.
struct CodingMarkers {
    bool cod = false, codUsable = false;
    unsigned scod = 0, order = 0, layers = 0;
    Coding codCoding;
    std::vector<int> cocUsable;  // per component: 0 none, 1 read, -1 unreadable
    std::vector<Coding> coc;
    bool unreadable = false;  // a packet order or packed headers the read of packets does not follow

    void read(const View& v, unsigned marker, size_t at, size_t end, unsigned components)
    {
        if (marker == kCOD) {
            cod = true;
            codUsable = at + 5 <= end && readCoding(v, at + 5, end, v.u8(at) & 1, &codCoding);
            if (codUsable) {
                scod = v.u8(at);
                order = v.u8(at + 1);
                layers = v.u16(at + 2);
            }
        } else if (marker == kCOC) {
            const size_t wide = components > 256 ? 2 : 1;
            if (at + wide + 1 > end)
                return;
            const unsigned c = wide == 2 ? v.u16(at) : v.u8(at);
            if (c >= components)
                return;
            cocUsable.resize(components);
            coc.resize(components);
            cocUsable[c] = readCoding(v, at + wide + 1, end, v.u8(at + wide) & 1, &coc[c]) ? 1 : -1;
        } else if (marker == kPOC || marker == kPPM || marker == kPPT) {
            unreadable = true;
        }
    }
};

// SIZ (A.5.1).
struct Size {
    int64_t x1 = 0, y1 = 0, x0 = 0, y0 = 0, tdx = 0, tdy = 0, tx0 = 0, ty0 = 0;
    unsigned components = 0;
    std::vector<unsigned> dx, dy;
    uint64_t across = 0, down = 0;
};

bool readSize(const View& v, size_t at, size_t end, Size* s)
{
    if (at + 36 > end)
        return false;
    s->x1 = int64_t(v.u32(at + 2));
    s->y1 = int64_t(v.u32(at + 6));
    s->x0 = int64_t(v.u32(at + 10));
    s->y0 = int64_t(v.u32(at + 14));
    s->tdx = int64_t(v.u32(at + 18));
    s->tdy = int64_t(v.u32(at + 22));
    s->tx0 = int64_t(v.u32(at + 26));
    s->ty0 = int64_t(v.u32(at + 30));
    s->components = v.u16(at + 34);
    if (s->components == 0 || at + 36 + 3 * size_t(s->components) > end || s->x0 >= s->x1 || s->y0 >= s->y1 ||
        s->tdx == 0 || s->tdy == 0 || s->tx0 > s->x0 || s->ty0 > s->y0 || s->tx0 + s->tdx <= s->x0 ||
        s->ty0 + s->tdy <= s->y0)
        return false;
    for (unsigned c = 0; c < s->components; ++c) {
        s->dx.push_back(v.u8(at + 36 + 3 * c + 1));
        s->dy.push_back(v.u8(at + 36 + 3 * c + 2));
        if (s->dx.back() == 0 || s->dy.back() == 0)
            return false;
    }
    s->across = uint64_t(ceilDiv(s->x1 - s->tx0, s->tdx));
    s->down = uint64_t(ceilDiv(s->y1 - s->ty0, s->tdy));
    return s->across <= kMaxTiles && s->down <= kMaxTiles && s->across * s->down <= kMaxTiles;
}

// Bits of a packet header (B.10.1): after a byte of 0xff only seven bits of the next are used.
struct Bits {
    const uchar* start;
    const uchar* p;
    const uchar* end;
    unsigned buf = 0, ct = 0;
    bool over = false;  // the header runs past the data present

    void byteIn()
    {
        buf = (buf << 8) & 0xffff;
        ct = buf == 0xff00 ? 7 : 8;
        if (p >= end) {
            over = true;
            return;
        }
        buf |= *p++;
    }
    unsigned bit()
    {
        if (ct == 0)
            byteIn();
        --ct;
        return (buf >> ct) & 1;
    }
    uint64_t read(unsigned n)
    {
        uint64_t value = 0;
        for (unsigned i = 0; i < n; ++i)
            value = value << 1 | bit();
        return value;
    }
    void align()
    {
        if ((buf & 0xff) == 0xff)
            byteIn();
        ct = 0;
    }
};

// A tag tree (B.10.2) over a grid of code blocks.
struct TagTree {
    std::vector<int32_t> value, low;
    std::vector<uint32_t> parent;  // UINT32_MAX at the root

    void build(uint64_t w, uint64_t h)
    {
        std::vector<std::pair<uint64_t, uint64_t>> dims;
        if (w == 0 || h == 0)
            return;
        dims.push_back({w, h});
        while (dims.back().first * dims.back().second > 1)
            dims.push_back({(dims.back().first + 1) / 2, (dims.back().second + 1) / 2});
        uint64_t total = 0;
        for (const auto& d : dims)
            total += d.first * d.second;
        value.assign(size_t(total), 999);
        low.assign(size_t(total), 0);
        parent.assign(size_t(total), UINT32_MAX);
        uint64_t start = 0;
        for (size_t k = 0; k + 1 < dims.size(); ++k) {
            const uint64_t next = start + dims[k].first * dims[k].second;
            for (uint64_t y = 0; y < dims[k].second; ++y)
                for (uint64_t x = 0; x < dims[k].first; ++x)
                    parent[size_t(start + y * dims[k].first + x)] =
                        uint32_t(next + (y / 2) * dims[k + 1].first + x / 2);
            start = next;
        }
    }
    // Whether the leaf's value is below `threshold`, reading as few bits as that takes.
    bool below(Bits& bits, size_t leaf, int32_t threshold)
    {
        uint32_t path[64];
        unsigned depth = 0;
        uint32_t node = uint32_t(leaf);
        while (parent[node] != UINT32_MAX && depth < 64) {
            path[depth++] = node;
            node = parent[node];
        }
        int32_t lowest = 0;
        for (;;) {
            if (lowest > low[node])
                low[node] = lowest;
            else
                lowest = low[node];
            while (lowest < threshold && lowest < value[node] && !bits.over) {
                if (bits.bit())
                    value[node] = lowest;
                else
                    ++lowest;
            }
            low[node] = lowest;
            if (depth == 0)
                break;
            node = path[--depth];
        }
        return value[node] < threshold;
    }
};

struct Block {
    bool included = false;
    uint8_t lengthBits = 3;
    uint8_t segmentPasses = 0, segmentMax = 0;
};

struct Band {
    uint64_t cw = 0, ch = 0;
    size_t firstBlock = 0;
    TagTree inclusion, zeroPlanes;
};

struct Precinct {
    std::vector<Band> bands;  // the bands that are not empty, in order
};

struct Resolution {
    uint64_t pw = 0, ph = 0;
    int64_t x0 = 0, y0 = 0;  // on the resolution's grid
    unsigned pdx = 15, pdy = 15;
    std::vector<Precinct> precincts;
};

struct Component {
    Coding coding;
    std::vector<Resolution> resolutions;
};

// The maximum passes of a code block's next codeword segment (B.10.7.1 and D.6).
uint8_t segmentMax(unsigned style, bool first, uint8_t previous)
{
    if (style & 4)  // a segment ends at every pass
        return 1;
    if (style & 1)  // raw passes after the first four bit-planes
        return first ? 10 : (previous == 1 || previous == 10) ? 2 : 1;
    return 109;
}

unsigned floorLog2(unsigned v)
{
    unsigned l = 0;
    while (v >>= 1)
        ++l;
    return l;
}

// The tile on the reference grid (B.3); false when it holds no sample.
bool tileArea(const Size& size, unsigned tileIndex, int64_t* tx0, int64_t* ty0, int64_t* tx1, int64_t* ty1)
{
    const int64_t p = int64_t(tileIndex % size.across), q = int64_t(tileIndex / size.across);
    *tx0 = std::max(size.tx0 + p * size.tdx, size.x0);
    *tx1 = std::min(size.tx0 + (p + 1) * size.tdx, size.x1);
    *ty0 = std::max(size.ty0 + q * size.tdy, size.y0);
    *ty1 = std::min(size.ty0 + (q + 1) * size.tdy, size.y1);
    return *tx0 < *tx1 && *ty0 < *ty1;
}

// The coding style of component c in a tile: the tile's COC, its COD, the main COC, the main COD.
bool componentCoding(const CodingMarkers& main, const CodingMarkers& tile, unsigned c, Coding* out)
{
    const int fromTile = c < tile.cocUsable.size() ? tile.cocUsable[c] : 0;
    const int fromMain = c < main.cocUsable.size() ? main.cocUsable[c] : 0;
    if (!main.codUsable || (tile.cod && !tile.codUsable) || fromTile < 0 || (!tile.cod && fromMain < 0))
        return false;
    *out = fromTile > 0 ? tile.coc[c] : tile.cod ? tile.codCoding : fromMain > 0 ? main.coc[c] : main.codCoding;
    return true;
}

// The precincts of a resolution (B.6) of a tile-component's samples [cx0, cx1) x [cy0, cy1).
struct PrecinctGrid {
    int64_t x0, y0, x1, y1;     // the resolution, on its own grid
    int64_t px0, py0;           // where the first precinct starts
    uint64_t pw, ph;
};

PrecinctGrid precinctGrid(int64_t cx0, int64_t cy0, int64_t cx1, int64_t cy1, unsigned level, unsigned pdx, unsigned pdy)
{
    PrecinctGrid g;
    g.x0 = ceilDivPow2(cx0, level);
    g.y0 = ceilDivPow2(cy0, level);
    g.x1 = ceilDivPow2(cx1, level);
    g.y1 = ceilDivPow2(cy1, level);
    g.px0 = floorDivPow2(g.x0, pdx) << pdx;
    g.py0 = floorDivPow2(g.y0, pdy) << pdy;
    g.pw = g.x0 == g.x1 ? 0 : uint64_t(((ceilDivPow2(g.x1, pdx) << pdx) - g.px0) >> pdx);
    g.ph = g.y0 == g.y1 ? 0 : uint64_t(((ceilDivPow2(g.y1, pdy) << pdy) - g.py0) >> pdy);
    return g;
}

constexpr uint64_t kMany = uint64_t(1) << 62;
uint64_t addCapped(uint64_t a, uint64_t b) { return std::min(kMany, a + std::min(b, kMany)); }
uint64_t mulCapped(uint64_t a, uint64_t b) { return a != 0 && b > kMany / a ? kMany : std::min(kMany, a * b); }

// What reading a tile's packet headers costs the library. It reads every packet of every
// precinct of every resolution of every component, in each layer; and a packet that is not
// empty makes it step through every code block of its precinct, included or not. Each such
// packet takes a byte at least of the `headerBytes` that can hold its header, so no more of
// them are counted. Both figures stop at 2^62; zero when the coding markers cannot be read.
struct TileCost {
    uint64_t packets = 0;
    uint64_t blockVisits = 0;
};

TileCost tileCost(const Size& size, const CodingMarkers& main, const CodingMarkers& tile, unsigned tileIndex,
                  uint64_t headerBytes)
{
    int64_t tx0, ty0, tx1, ty1;
    if (!tileArea(size, tileIndex, &tx0, &ty0, &tx1, &ty1))
        return {};
    const unsigned layers = (tile.cod && tile.codUsable ? tile : main).layers;
    uint64_t precincts = 0, everyPacketVisits = 0, largestPrecinct = 0;
    for (unsigned c = 0; c < size.components; ++c) {
        Coding coding;
        if (!componentCoding(main, tile, c, &coding))
            return {};
        const int64_t cx0 = ceilDiv(tx0, size.dx[c]), cx1 = ceilDiv(tx1, size.dx[c]);
        const int64_t cy0 = ceilDiv(ty0, size.dy[c]), cy1 = ceilDiv(ty1, size.dy[c]);
        for (unsigned r = 0; r <= coding.levels; ++r) {
            const PrecinctGrid g = precinctGrid(cx0, cy0, cx1, cy1, coding.levels - r, coding.ppx[r], coding.ppy[r]);
            const uint64_t count = mulCapped(g.pw, g.ph);
            if (count == 0)
                continue;
            precincts = addCapped(precincts, count);
            // The code blocks of a precinct (B.6, B.7): in each of its bands (one at the lowest
            // resolution, three above, each half the resolution's size), no more than the
            // precinct's partition holds nor than the band has.
            const unsigned gw = r == 0 ? coding.ppx[r] : std::max<unsigned>(coding.ppx[r], 1) - 1;
            const unsigned gh = r == 0 ? coding.ppy[r] : std::max<unsigned>(coding.ppy[r], 1) - 1;
            const unsigned bw = std::min(coding.cbw, gw), bh = std::min(coding.cbh, gh);
            const uint64_t rw = uint64_t(g.x1 - g.x0), rh = uint64_t(g.y1 - g.y0);
            const uint64_t bandWidth = r == 0 ? rw : (rw + 1) / 2, bandHeight = r == 0 ? rh : (rh + 1) / 2;
            const uint64_t across = std::min<uint64_t>(uint64_t(1) << (gw - bw), (bandWidth >> bw) + 2);
            const uint64_t down = std::min<uint64_t>(uint64_t(1) << (gh - bh), (bandHeight >> bh) + 2);
            const uint64_t blocks = mulCapped(across * down, r == 0 ? 1 : 3);
            largestPrecinct = std::max(largestPrecinct, blocks);
            everyPacketVisits = addCapped(everyPacketVisits, mulCapped(mulCapped(count, blocks), layers));
        }
    }
    return {mulCapped(precincts, layers), std::min(everyPacketVisits, mulCapped(headerBytes, largestPrecinct))};
}

// Reads the packet headers of one tile's data (its tile-parts' data one after another) in
// packet order and tells where the last packet whose header and body are both present ends.
struct PacketRead {
    bool ok = false;        // the headers could be followed
    size_t wholeEnd = 0;    // offset in the data after the last whole packet
    bool complete = false;  // every packet of the tile is there
    bool markedEnds = false;  // each packet header ends with a marker, which the library requires
    uint64_t missing = 0;     // packets after the last whole one
};

PacketRead readPackets(const View& v, const Size& size, const CodingMarkers& main, const CodingMarkers& tile,
                       unsigned tileIndex, const QByteArray& data)
{
    PacketRead result;
    if (main.unreadable || tile.unreadable || !main.codUsable || (tile.cod && !tile.codUsable))
        return result;
    const uint64_t maxPrecincts = std::min(kMaxPrecincts, kPrecinctsPerByte * v.size + 4096);
    const uint64_t maxBlocks = std::min(kMaxCodeBlocks, kCodeBlocksPerByte * v.size + 4096);
    const CodingMarkers& cod = tile.cod ? tile : main;
    const unsigned order = cod.order, layers = cod.layers;
    const bool sop = cod.scod & 2, eph = cod.scod & 4;
    if (order > 4 || layers == 0)
        return result;

    int64_t tx0, ty0, tx1, ty1;
    if (!tileArea(size, tileIndex, &tx0, &ty0, &tx1, &ty1))
        return result;

    // Components, resolutions, precincts and the code blocks of each band in a precinct (B.5-B.7).
    std::vector<Component> comps(size.components);
    uint64_t precinctCount = 0, blockCount = 0;
    for (unsigned c = 0; c < size.components; ++c) {
        Component& comp = comps[c];
        if (!componentCoding(main, tile, c, &comp.coding) || comp.coding.pointPrecincts)
            return result;
        if (comp.coding.style & ~0x3fu)  // high-throughput blocks code their passes otherwise
            return result;
        const int64_t cx0 = ceilDiv(tx0, size.dx[c]), cx1 = ceilDiv(tx1, size.dx[c]);
        const int64_t cy0 = ceilDiv(ty0, size.dy[c]), cy1 = ceilDiv(ty1, size.dy[c]);
        const unsigned levels = comp.coding.levels;
        comp.resolutions.resize(levels + 1);
        for (unsigned r = 0; r <= levels; ++r) {
            Resolution& res = comp.resolutions[r];
            const unsigned level = levels - r;
            res.pdx = comp.coding.ppx[r];
            res.pdy = comp.coding.ppy[r];
            const PrecinctGrid grid = precinctGrid(cx0, cy0, cx1, cy1, level, res.pdx, res.pdy);
            res.x0 = grid.x0;
            res.y0 = grid.y0;
            const int64_t rx1 = grid.x1, ry1 = grid.y1, px0 = grid.px0, py0 = grid.py0;
            res.pw = grid.pw;
            res.ph = grid.ph;
            if (res.pw > maxPrecincts || res.ph > maxPrecincts || res.pw * res.ph > maxPrecincts - precinctCount)
                return result;
            precinctCount += res.pw * res.ph;
            const int64_t gx0 = r == 0 ? px0 : ceilDivPow2(px0, 1), gy0 = r == 0 ? py0 : ceilDivPow2(py0, 1);
            const unsigned gw = r == 0 ? res.pdx : res.pdx - 1, gh = r == 0 ? res.pdy : res.pdy - 1;
            const unsigned bw = std::min(comp.coding.cbw, gw), bh = std::min(comp.coding.cbh, gh);
            res.precincts.resize(size_t(res.pw * res.ph));
            for (unsigned b = r == 0 ? 0 : 1; b <= (r == 0 ? 0u : 3u); ++b) {
                int64_t bx0, by0, bx1, by1;
                if (r == 0) {
                    bx0 = res.x0, by0 = res.y0, bx1 = rx1, by1 = ry1;
                } else {
                    const int64_t xb = b & 1, yb = b >> 1;
                    bx0 = ceilDivPow2(cx0 - (xb << level), level + 1);
                    by0 = ceilDivPow2(cy0 - (yb << level), level + 1);
                    bx1 = ceilDivPow2(cx1 - (xb << level), level + 1);
                    by1 = ceilDivPow2(cy1 - (yb << level), level + 1);
                }
                if (bx0 == bx1 || by0 == by1)
                    continue;  // an empty band has no place in the packets
                for (uint64_t n = 0; n < res.pw * res.ph; ++n) {
                    const int64_t x0 = std::max(gx0 + (int64_t(n % res.pw) << gw), bx0);
                    const int64_t x1 = std::min(gx0 + (int64_t(n % res.pw) << gw) + (int64_t(1) << gw), bx1);
                    const int64_t y0 = std::max(gy0 + (int64_t(n / res.pw) << gh), by0);
                    const int64_t y1 = std::min(gy0 + (int64_t(n / res.pw) << gh) + (int64_t(1) << gh), by1);
                    Band band;
                    band.cw = uint64_t(std::max<int64_t>(0, ((ceilDivPow2(x1, bw) << bw) - (floorDivPow2(x0, bw) << bw)) >> bw));
                    band.ch = uint64_t(std::max<int64_t>(0, ((ceilDivPow2(y1, bh) << bh) - (floorDivPow2(y0, bh) << bh)) >> bh));
                    if (band.cw > maxBlocks || band.ch > maxBlocks || band.cw * band.ch > maxBlocks - blockCount)
                        return result;
                    band.firstBlock = size_t(blockCount);
                    blockCount += band.cw * band.ch;
                    band.inclusion.build(band.cw, band.ch);
                    band.zeroPlanes.build(band.cw, band.ch);
                    res.precincts[size_t(n)].bands.push_back(std::move(band));
                }
            }
        }
    }
    std::vector<Block> blocks(static_cast<size_t>(blockCount));
    uint64_t total = 0, done = 0;

    // One packet (B.9, B.10): false when it is not all there or cannot be read.
    const uchar* bytes = reinterpret_cast<const uchar*>(data.constData());
    const size_t end = size_t(data.size());
    size_t pos = 0;
    bool stop = false;
    auto packet = [&](unsigned c, unsigned r, size_t n, unsigned layer) {
        Precinct& precinct = comps[c].resolutions[r].precincts[n];
        const unsigned style = comps[c].coding.style;
        size_t at = pos;
        if (sop && at + 2 <= end && bytes[at] == 0xff && bytes[at + 1] == (kSOP & 0xff)) {
            if (at + 6 > end)
                return false;
            at += 6;
        }
        Bits bits{bytes + at, bytes + at, bytes + end};
        uint64_t body = 0;
        if (bits.bit()) {
            for (Band& band : precinct.bands) {
                for (size_t i = 0; i < size_t(band.cw * band.ch); ++i) {
                    Block& block = blocks[band.firstBlock + i];
                    const bool in = block.included ? bits.bit() : band.inclusion.below(bits, i, int32_t(layer) + 1);
                    if (bits.over)
                        return false;
                    if (!in)
                        continue;
                    if (!block.included) {
                        int32_t planes = 0;
                        while (!band.zeroPlanes.below(bits, i, planes)) {
                            if (bits.over || ++planes > 74)
                                return false;
                        }
                    }
                    // The number of new coding passes (B.10.6).
                    unsigned passes;
                    if (!bits.bit())
                        passes = 1;
                    else if (!bits.bit())
                        passes = 2;
                    else if (const unsigned two = unsigned(bits.read(2)); two != 3)
                        passes = 3 + two;
                    else if (const unsigned five = unsigned(bits.read(5)); five != 31)
                        passes = 6 + five;
                    else
                        passes = 37 + unsigned(bits.read(7));
                    while (bits.bit() && !bits.over) {
                        if (++block.lengthBits > 32)
                            return false;
                    }
                    if (!block.included) {
                        block.included = true;
                        block.segmentMax = segmentMax(style, true, 0);
                        block.segmentPasses = 0;
                    } else if (block.segmentPasses == block.segmentMax) {
                        block.segmentMax = segmentMax(style, false, block.segmentMax);
                        block.segmentPasses = 0;
                    }
                    // The lengths of the codeword segments the passes fall in (B.10.7).
                    for (unsigned left = passes; left > 0;) {
                        const unsigned take = std::min<unsigned>(block.segmentMax - block.segmentPasses, left);
                        const unsigned width = block.lengthBits + floorLog2(take);
                        if (width > 32)
                            return false;
                        body += bits.read(width);
                        block.segmentPasses = uint8_t(block.segmentPasses + take);
                        left -= take;
                        if (left > 0) {
                            block.segmentMax = segmentMax(style, false, block.segmentMax);
                            block.segmentPasses = 0;
                        }
                    }
                    if (bits.over)
                        return false;
                }
            }
        }
        bits.align();
        if (bits.over)
            return false;
        at += size_t(bits.p - bits.start);
        if (eph) {
            if (at + 2 > end)
                return false;
            if (bytes[at] == 0xff && bytes[at + 1] == (kEPH & 0xff))
                at += 2;
        }
        if (body > end - at)
            return false;
        pos = at + size_t(body);
        return true;
    };
    auto visit = [&](unsigned c, unsigned r, size_t n, unsigned layer) {
        if (!stop && !packet(c, r, n, layer))
            stop = true;
        if (!stop)
            ++done;
    };

    unsigned maxResolutions = 0;
    for (const Component& comp : comps)
        maxResolutions = std::max<unsigned>(maxResolutions, unsigned(comp.resolutions.size()));
    if (order <= 1) {
        // Layer-resolution-component-position, or resolution first.
        for (unsigned outer = 0; outer < (order == 0 ? layers : maxResolutions) && !stop; ++outer)
            for (unsigned inner = 0; inner < (order == 0 ? maxResolutions : layers) && !stop; ++inner) {
                const unsigned layer = order == 0 ? outer : inner, r = order == 0 ? inner : outer;
                for (unsigned c = 0; c < size.components && !stop; ++c)
                    if (r < comps[c].resolutions.size())
                        for (size_t n = 0; n < comps[c].resolutions[r].precincts.size() && !stop; ++n)
                            visit(c, r, n, layer);
            }
        total = uint64_t(layers) * precinctCount;
    } else {
        // Orders driven by position (B.12.1.3-B.12.1.5): each precinct is met at the first point
        // of the reference grid the progression steps on that falls in it.
        struct Entry {
            std::array<int64_t, 4> key;
            unsigned c, r;
            size_t n;
        };
        std::vector<Entry> entries;
        entries.reserve(size_t(precinctCount));
        for (unsigned c = 0; c < size.components; ++c)
            for (unsigned r = 0; r < comps[c].resolutions.size(); ++r) {
                const Resolution& res = comps[c].resolutions[r];
                if (res.pw == 0 || res.ph == 0)
                    continue;
                const unsigned level = unsigned(comps[c].resolutions.size()) - 1 - r;
                // The points along one axis at which the precincts of this resolution start.
                auto firstPoints = [&](int64_t t0, int64_t t1, int64_t r0, unsigned pd, unsigned sub, uint64_t count) {
                    std::vector<int64_t> at(size_t(count), -1);
                    const int64_t step = int64_t(sub) << (pd + level);
                    auto place = [&](int64_t point) {
                        const int64_t k = floorDivPow2(ceilDiv(point, int64_t(sub) << level), pd) - floorDivPow2(r0, pd);
                        if (k >= 0 && uint64_t(k) < count && at[size_t(k)] < 0)
                            at[size_t(k)] = point;
                    };
                    if (t0 % step == 0 || ((r0 << level) % (int64_t(1) << (pd + level))) != 0)
                        place(t0);
                    for (int64_t point = (t0 / step + 1) * step; point < t1; point += step)
                        place(point);
                    return at;
                };
                const std::vector<int64_t> xs = firstPoints(tx0, tx1, res.x0, res.pdx, size.dx[c], res.pw);
                const std::vector<int64_t> ys = firstPoints(ty0, ty1, res.y0, res.pdy, size.dy[c], res.ph);
                for (uint64_t n = 0; n < res.pw * res.ph; ++n) {
                    const int64_t x = xs[size_t(n % res.pw)], y = ys[size_t(n / res.pw)];
                    if (x < 0 || y < 0)
                        continue;  // never stepped on: no packets
                    std::array<int64_t, 4> key;
                    if (order == 2)
                        key = {int64_t(r), y, x, int64_t(c)};
                    else if (order == 3)
                        key = {y, x, int64_t(c), int64_t(r)};
                    else
                        key = {int64_t(c), y, x, int64_t(r)};
                    entries.push_back({key, c, r, size_t(n)});
                }
            }
        std::stable_sort(entries.begin(), entries.end(), [](const Entry& a, const Entry& b) { return a.key < b.key; });
        for (const Entry& e : entries)
            for (unsigned layer = 0; layer < layers && !stop; ++layer)
                visit(e.c, e.r, e.n, layer);
        total = uint64_t(layers) * entries.size();
    }
    result.ok = true;
    result.wholeEnd = pos;
    result.complete = !stop;
    result.markedEnds = eph;
    result.missing = total - done;
    return result;
}

struct TilePart {
    size_t sot = 0, dataStart = 0, end = 0;  // end: of the bytes present, or of the tile-part
    unsigned tile = 0;
    bool first = false;  // the tile's first tile-part, which may carry its coding markers
    uint64_t declared = 0;  // its length as its header gives it
    uint64_t emptyPackets = 0;  // empty packets with end markers to add, for packets cut off
};

}  // namespace

Jpeg2000Candidate jpeg2000WithoutCutPart(const Jpeg2000Candidate& candidate)
{
    Jpeg2000Candidate out;
    if (candidate.cutPartAt < 0 || candidate.cutPartAt > candidate.data.size())
        return out;
    out.data = candidate.data.left(candidate.cutPartAt);
    finish(out.data, candidate.boxStart, candidate.boxHeader);
    out.tilePresent = candidate.tilePresent;
    if (candidate.cutPartAlone && candidate.cutPartTile < out.tilePresent.size())
        out.tilePresent[candidate.cutPartTile] = false;
    return out;
}

Jpeg2000StreamCheck checkJpeg2000Stream(const QByteArray& file)
{
    Jpeg2000StreamCheck check;
    const View v{reinterpret_cast<const uchar*>(file.constData()), size_t(file.size())};

    // The code-stream: the file itself, or the contents of its code-stream box (I.4).
    size_t cs = 0, csEnd = v.size, boxHeader = 0, boxStart = 0;
    if (!(v.has(0, 4) && v.u16(0) == 0xff4f && v.u16(2) == kSIZ)) {
        bool found = false;
        for (size_t box = 0; v.has(box, 8);) {
            uint64_t length = v.u32(box), header = 8;
            if (length == 1) {
                if (!v.has(box, 16))
                    break;
                length = v.u32(box + 8) << 32 | v.u32(box + 12);
                header = 16;
            } else if (length == 0) {
                length = v.size - box;
            }
            if (v.u32(box + 4) == 0x6a703263) {  // "jp2c"
                boxStart = box;
                boxHeader = size_t(header);
                cs = box + size_t(header);
                csEnd = length >= header && length <= v.size - box ? box + size_t(length) : v.size;
                found = true;
                break;
            }
            if (length < header || length > v.size - box)
                break;
            box += size_t(length);
        }
        if (!found || !v.has(cs, 4) || v.u16(cs) != 0xff4f || v.u16(cs + 2) != kSIZ)
            return check;  // the library tells what is wrong
    }

    // The main header (A.4.1), up to the first tile-part.
    Size size;
    CodingMarkers main;
    size_t pos = cs + 2;
    const QString cutInHeader = QStringLiteral("the JPEG 2000 file is cut short in its header");
    for (;;) {
        if (pos + 4 > csEnd) {
            check.state = Jpeg2000StreamCheck::State::Refused;
            check.error = cutInHeader;
            return check;
        }
        const unsigned marker = v.u16(pos);
        if (marker == kSOT)
            break;
        const unsigned length = v.u16(pos + 2);
        if ((marker >> 8) != 0xff || length < 2)
            return check;
        if (pos + 2 + length > csEnd) {
            check.state = Jpeg2000StreamCheck::State::Refused;
            check.error = cutInHeader;
            return check;
        }
        if (marker == kSIZ) {
            if (!readSize(v, pos + 4, pos + 2 + length, &size))
                return check;
        } else if (size.components > 0) {
            main.read(v, marker, pos + 4, pos + 2 + length, size.components);
        }
        pos += 2 + length;
    }
    if (size.components == 0)
        return check;
    const size_t firstTilePart = pos;
    check.tileX0 = uint64_t(size.tx0);
    check.tileY0 = uint64_t(size.ty0);
    check.tileWidth = uint64_t(size.tdx);
    check.tileHeight = uint64_t(size.tdy);
    check.tilesAcross = size.across;
    check.tilesDown = size.down;
    const size_t tiles = size_t(size.across * size.down);

    // The tile-parts (A.4.2), each whole, until the end marker, the end of the bytes, or damage.
    std::vector<TilePart> parts;
    std::map<unsigned, CodingMarkers> tileMarkers;
    std::vector<bool> seen(tiles);
    bool ended = false;   // the end marker came
    bool lost = false;    // something of the file is not there or not readable
    bool damaged = false; // ... because of bytes that make no sense, rather than bytes missing
    bool cutPart = false; // the last tile-part's data runs past the bytes present
    for (;;) {
        if (pos == csEnd)
            break;  // no end marker
        if (pos + 2 > csEnd) {
            lost = true;
            break;
        }
        const unsigned marker = v.u16(pos);
        if (marker == kEOC) {
            ended = true;
            break;
        }
        if (marker != kSOT) {
            lost = damaged = true;
            break;
        }
        if (pos + 12 > csEnd) {
            lost = true;
            break;
        }
        const unsigned tile = v.u16(pos + 4);
        const uint64_t length = v.u32(pos + 6);
        if (v.u16(pos + 2) != 10 || tile >= tiles || (length != 0 && length < 14)) {
            lost = damaged = true;
            break;
        }
        TilePart part;
        part.sot = pos;
        part.declared = length;
        part.tile = tile;
        part.first = !seen[tile];
        bool cut = false;
        if (length == 0) {
            // Up to the end of the code-stream, which ends with the end marker when whole.
            part.end = csEnd >= pos + 14 && v.u16(csEnd - 2) == kEOC ? csEnd - 2 : csEnd;
            cut = part.end == csEnd;
        } else {
            cut = length > csEnd - pos;
            part.end = cut ? csEnd : pos + size_t(length);
        }
        // The tile-part header, up to the start of its data.
        size_t at = pos + 12;
        bool headerWhole = false;
        CodingMarkers scratch;
        CodingMarkers& markers = part.first ? tileMarkers[tile] : scratch;
        for (;;) {
            if (at + 2 > part.end)
                break;
            const unsigned m = v.u16(at);
            if (m == kSOD) {
                part.dataStart = at + 2;
                headerWhole = true;
                break;
            }
            if (at + 4 > part.end)
                break;
            const unsigned l = v.u16(at + 2);
            if ((m >> 8) != 0xff || l < 2) {
                damaged = !cut;
                break;
            }
            if (at + 2 + l > part.end) {
                damaged = !cut;
                break;
            }
            markers.read(v, m, at + 4, at + 2 + l, size.components);
            if (m == kPOC || m == kPPT)
                tileMarkers[tile].unreadable = true;
            at += 2 + l;
        }
        if (!headerWhole) {
            lost = true;
            break;
        }
        seen[tile] = true;
        parts.push_back(part);
        if (cut) {
            cutPart = true;
            break;
        }
        pos = part.end + (length == 0 && part.end + 2 == csEnd ? 2 : 0);
        if (length == 0) {
            ended = part.end + 2 == csEnd;
            break;
        }
    }

    // The library reads every packet of a tile, those past its data too, at about a microsecond
    // each: a file that declares far more packets than its bytes hold (each packet takes a byte at
    // least, in the data or in the headers) would keep it busy for seconds on nothing. The tiles
    // whose tile-parts are cut off or missing may declare more than is there, within reason.
    // Besides, each packet that is not empty costs the library a step through every code block
    // of its precinct, a tenth of a microsecond or more each: a few hundred bytes of packets over
    // a precinct of hundreds of thousands of tiny code blocks kept it busy for seconds at every
    // decode. Real files need far fewer steps than this bound allows (their packets carry data).
    {
        std::map<unsigned, uint64_t> bytes, present;
        for (const TilePart& part : parts) {
            bytes[part.tile] += part.declared != 0 ? part.declared : part.end - part.sot;
            present[part.tile] += part.end - part.sot;
        }
        if (uint64_t(bytes.size()) * size.components <= (uint64_t(1) << 20)) {
            constexpr uint64_t kPacketsBeyondBytes = uint64_t(1) << 18;
            const uint64_t mainHeader = firstTilePart - cs;
            const uint64_t maxVisits = kBlockVisitsBeyondBytes + kBlockVisitsPerByte * uint64_t(v.size);
            const CodingMarkers none;
            uint64_t packets = 0, visits = 0, held = mainHeader + kPacketsBeyondBytes;
            for (const auto& [tile, length] : bytes) {
                const auto markers = tileMarkers.find(tile);
                // Packed headers (PPM) lie in the main header, so its bytes may hold them too.
                const TileCost cost = tileCost(size, main, markers != tileMarkers.end() ? markers->second : none, tile,
                                               present[tile] + mainHeader);
                packets = addCapped(packets, cost.packets);
                visits = addCapped(visits, cost.blockVisits);
                held += length;
                if ((packets > held && packets - held > (uint64_t(1) << 40)) || visits > maxVisits)
                    break;
            }
            if (packets > held) {
                check.state = Jpeg2000StreamCheck::State::Refused;
                check.error = QStringLiteral("the JPEG 2000 file declares far more packets than its bytes can hold");
                return check;
            }
            if (visits > maxVisits) {
                check.state = Jpeg2000StreamCheck::State::Refused;
                check.error =
                    QStringLiteral("the JPEG 2000 file declares far more code blocks in its packets than its bytes can fill");
                return check;
            }
        }
    }

    auto present = [&](const std::vector<TilePart>& kept) {
        std::vector<bool> out(tiles);
        for (const TilePart& part : kept)
            out[part.tile] = true;
        return out;
    };
    // Every tile has a tile-part at least: a file missing one is damaged, though the library reads it.
    auto allThere = [](const std::vector<bool>& tilePresent) {
        return std::find(tilePresent.begin(), tilePresent.end(), false) == tilePresent.end();
    };
    if (!lost && !cutPart && ended) {
        check.candidates.push_back({file, present(parts)});
        check.state = allThere(check.candidates.back().tilePresent) ? Jpeg2000StreamCheck::State::Whole
                                                                     : Jpeg2000StreamCheck::State::Mended;
        return check;
    }

    // The copy the library reads: the boxes before the code-stream (its box now ending with the
    // copy), the main header, the tile-parts kept, and the end marker.
    // Where the last tile-part kept starts in the copy.
    qsizetype lastPartAt = -1;
    auto build = [&](const std::vector<TilePart>& kept) {
        QByteArray out = file.left(qsizetype(firstTilePart));
        for (const TilePart& part : kept) {
            const size_t from = size_t(out.size());
            lastPartAt = qsizetype(from);
            out.append(file.constData() + part.sot, qsizetype(part.end - part.sot));
            for (uint64_t k = 0; k < part.emptyPackets; ++k)
                out.append("\x00\xff\x92", 3);
            putU32(out, from + 6, uint64_t(out.size()) - from);
        }
        finish(out, boxStart, boxHeader);
        return out;
    };

    std::vector<TilePart> whole = parts;
    if (cutPart) {
        whole.pop_back();
        const TilePart cut = parts.back();
        // The cut tile-part kept up to its last whole packet, read after the tile's earlier data.
        QByteArray tileData;
        size_t before = 0;
        for (const TilePart& part : parts)
            if (part.tile == cut.tile) {
                if (&part != &parts.back())
                    before += part.end - part.dataStart;
                tileData.append(file.constData() + part.dataStart, qsizetype(part.end - part.dataStart));
            }
        const PacketRead read = readPackets(v, size, main, tileMarkers[cut.tile], cut.tile, tileData);
        // Where each packet header must end with a marker, the packets cut off are given as empty
        // ones, within reason.
        const uint64_t emptyPackets = read.markedEnds && !read.complete ? read.missing : 0;
        if (read.ok && read.wholeEnd > before && emptyPackets <= uint64_t(file.size()) + 65536) {
            std::vector<TilePart> kept = whole;
            TilePart shortened = cut;
            shortened.end = cut.dataStart + (read.wholeEnd - before);
            shortened.emptyPackets = emptyPackets;
            kept.push_back(shortened);
            if (!read.complete)
                lost = true;
            Jpeg2000Candidate mended{build(kept), present(kept)};
            if (!whole.empty()) {
                mended.cutPartAt = lastPartAt;
                mended.cutPartTile = cut.tile;
                mended.cutPartAlone = !present(whole)[cut.tile];
                mended.boxStart = boxStart;
                mended.boxHeader = boxHeader;
            }
            check.candidates.push_back(std::move(mended));
        } else {
            lost = true;
        }
    }
    // Without the cut tile-part, where its packets cannot be kept.
    if (!whole.empty() && check.candidates.empty())
        check.candidates.push_back({build(whole), present(whole)});
    if (check.candidates.empty()) {
        check.state = Jpeg2000StreamCheck::State::Refused;
        check.error = damaged ? QStringLiteral("the JPEG 2000 file is damaged, and none of its picture can be read")
                              : QStringLiteral("the JPEG 2000 file is cut short, and none of its picture can be read");
        return check;
    }
    check.state = lost || !allThere(check.candidates.front().tilePresent) ? Jpeg2000StreamCheck::State::Mended
                                                                         : Jpeg2000StreamCheck::State::Whole;
    return check;
}

}  // namespace kpv::imageio_detail
