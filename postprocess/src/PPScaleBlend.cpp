// Planning and walking of the vector bilinear rows; the rows themselves are in the files of each
// instruction set.
#include "PPScaleBlend.h"

#include "PPCpu.h"
#include "PPFastCommon.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <vector>

namespace {

std::atomic<int64_t> g_vectorPixels{0};

// Where each target column of a band reads its two source pixels, and with which weights.
struct Plan {
    int64_t ua = 0, ub = 0;     // the columns [ua, ub) go through the vector rows
    std::vector<int32_t> off;   // per column of the run: the window's first byte in a source row
    std::vector<uint32_t> w;    // per column: its weights, in the layout the rows want
};

// The source window a row function reads per column: bytes per pixel, bytes before the left
// pixel, the window's size, and the sum of the two weights.
struct Window {
    int bpp, spare, size;
    uint32_t whole;
};
// Packed RGB: four-byte pixels read as left, right; three-byte pixels as two spare bytes, left,
// right. Planes of 8-bit samples: two spare bytes, left, right, with 16-bit fractions.
constexpr Window kWindow4{4, 0, 8, 4096}, kWindow3{3, 2, 8, 4096}, kWindowPlane{1, 2, 4, 65536};

// The window of one column as its left pixel and the right pixel's weight, or false when none
// fits inside the source rectangle [lo, hi). The sampling tables pair a column either with the
// next one, or (at a clamped edge, fraction 0) with itself; a clamped column may then sit on either
// side of its window with all the weight on it.
bool place(int64_t x0, int64_t x1, uint32_t fx, int64_t lo, int64_t hi, const Window& win, int64_t* left,
           uint32_t* right)
{
    const auto fits = [&](int64_t l) {
        return l * win.bpp - win.spare >= lo * win.bpp && l * win.bpp - win.spare + win.size <= hi * win.bpp;
    };
    if (x1 == x0 + 1 && fits(x0)) {
        *left = x0;
        *right = fx;
        return true;
    }
    if (x1 != x0 || fx != 0)
        return false;
    if (fits(x0)) {
        *left = x0;
        *right = 0;
        return true;
    }
    if (fits(x0 - 1)) {
        *left = x0 - 1;
        *right = win.whole;
        return true;
    }
    return false;
}

// Plans the longest run of placeable columns; false when it is too short to be worth it. Packed
// RGB wants four copies per column of (left weight | right weight << 16); planes the right weight.
bool plan(const PPBand& b, const PPEngine* e, const Window& win, Plan* p)
{
    const PPEngineContext* ctx = e->ctx;
    const int64_t n = b.u1 - b.u0, lo = e->srcRect.left, hi = e->srcRect.right;
    const bool packed = win.whole == 4096;
    // Offsets are 32-bit: a row longer than that is left to the portable path.
    if (n < 4 || hi * win.bpp >= INT32_MAX || lo * win.bpp < INT32_MIN + 8)
        return false;
    p->off.resize(static_cast<size_t>(n));
    p->w.resize(static_cast<size_t>(packed ? 4 * n : n));
    int64_t first = -1, last = -1;
    for (int64_t u = b.u0; u < b.u1; ++u) {
        int64_t left = 0;
        uint32_t right = 0;
        const uint32_t fx = packed ? ctx->colFrac[u] >> 4 : ctx->colFrac[u];
        if (!place(ctx->colIndex[2 * u], ctx->colIndex[2 * u + 1], fx, lo, hi, win, &left, &right)) {
            if (first >= 0)
                break;
            continue;
        }
        if (first < 0)
            first = u;
        last = u;
        // The vector rows take entries from the run's start.
        const size_t k = static_cast<size_t>(u - first);
        p->off[k] = static_cast<int32_t>(left * win.bpp - win.spare);
        if (packed)
            for (size_t c = 0; c < 4; ++c)
                p->w[4 * k + c] = (4096 - right) | right << 16;
        else
            p->w[k] = right;
    }
    if (first < 0 || last - first + 1 < 4)
        return false;
    p->ua = first;
    p->ub = last + 1;
    return true;
}

// Pairs of columns of the run whose two 8-byte windows lie within the 16 bytes from the first
// window's start (and inside the source rectangle's bytes, which end at hiByte): the shuffle of
// each pair puts, per pixel, the left and right sample of each channel side by side in 16 bits.
void pairGroups(const Plan& p, const Window& win, int64_t hiByte, std::vector<int32_t>* base,
                std::vector<uint8_t>* shuffle)
{
    const size_t groups = static_cast<size_t>(p.ub - p.ua) / 2;
    base->assign(groups, -1);
    shuffle->assign(groups * 32, 0x80);
    for (size_t g = 0; g < groups; ++g) {
        const int32_t first = p.off[2 * g], second = p.off[2 * g + 1];
        if (first + 16 > hiByte || second < first || second + 8 > first + 16)
            continue;
        (*base)[g] = first;
        for (int k = 0; k < 2; ++k) {
            const int d = (k ? second : first) - first + win.spare;
            uint8_t* c = shuffle->data() + 32 * g + 16 * static_cast<size_t>(k);
            for (int ch = 0; ch < win.bpp; ++ch) {
                c[4 * ch] = static_cast<uint8_t>(d + ch);
                c[4 * ch + 2] = static_cast<uint8_t>(d + win.bpp + ch);
            }
        }
    }
}

// The portable blend of one target column, as the kernels that hand bands here do it.
inline void blendPixel(uint8_t* out, const uint8_t* r0, const uint8_t* r1, const PPEngineContext* ctx, int64_t u,
                       uint32_t fy, int bpp)
{
    const int64_t c0 = ctx->colIndex[2 * u] * bpp, c1 = ctx->colIndex[2 * u + 1] * bpp;
    const uint32_t fx = ctx->colFrac[u] >> 4;
    for (int c = 0; c < bpp; ++c)
        out[c] = static_cast<uint8_t>(ppBlend12(r0[c0 + c], r0[c1 + c], r1[c0 + c], r1[c1 + c], fx, fy));
}

// One pixel of Bpp bytes.
template <int Bpp> inline void copyPixel(uint8_t* out, const uint8_t* in) { std::memcpy(out, in, Bpp); }

// Nearest sampling blends nothing: each target pixel is a copy of the source pixel at its first
// sampling position (what the blends give with both fractions 0), read from the first row only.
template <int Bpp> void copyBand(const PPBand& b, const PPPlaneSet& dst, const PPPlaneSet& src, const PPEngine* e)
{
    const PPEngineContext* ctx = e->ctx;
    const PPTargetWalk walk(e);
    int64_t base, du, dv;
    walk.linear(Bpp, dst.pitch[0], &base, &du, &dv);
    std::vector<int32_t> from;
    for (int64_t u = b.u0; u < b.u1; ++u)
        from.push_back(static_cast<int32_t>(ctx->colIndex[2 * u] * Bpp));
    const PPNearestRow<Bpp> copier(std::move(from), e->srcRect.right * Bpp);
    for (int64_t v = b.v0; v < b.v1; ++v) {
        const uint8_t* row = src.ptr[0] + ctx->rowIndex[2 * v] * src.pitch[0];
        uint8_t* out = dst.ptr[0] + base + b.u0 * du + v * dv;
        if (du != Bpp) {
            copier.copy(out, du, row);
            continue;
        }
        // Enlarging, the rows from v on that read the same source row are written together.
        int64_t rows = 1;
        while (v + rows < b.v1 && ctx->rowIndex[2 * (v + rows)] == ctx->rowIndex[2 * v])
            ++rows;
        // A shrinking copy skips source rows, which the processor does not see coming: the next
        // one is asked for while this one is copied. Rows read one after another need no hint.
        const int64_t nextIndex = v + rows < b.v1 ? ctx->rowIndex[2 * (v + rows)] : ctx->rowIndex[2 * v];
        const int64_t skip = nextIndex - ctx->rowIndex[2 * v];
        const uint8_t* next = skip > 1 || skip < -1 ? src.ptr[0] + nextIndex * src.pitch[0] : nullptr;
        copier.copy(out, row, next, dv, rows);
        v += rows - 1;
    }
    g_vectorPixels.fetch_add((b.u1 - b.u0) * (b.v1 - b.v0), std::memory_order_relaxed);
}

PPBlendRowFn rowFunction(int bpp)
{
#if KPV_HAVE_X86_SIMD
    switch (PPSimdLevel()) {
    case PPSimd::AVX2: return bpp == 4 ? PPBlendRow4Avx2 : PPBlendRow3Avx2;
    case PPSimd::SSE41: return bpp == 4 ? PPBlendRow4Sse41 : PPBlendRow3Sse41;
    default: break;
    }
#endif
    (void)bpp;
    return nullptr;
}

// The target rows from v on (at most kPPSharedRows, before end) that read three source rows
// between them, into *s with their rows of src and their weights (the row fractions >> shift);
// returns their count. Row v's first target pixel is at out, the next row's step bytes on.
int sharedRun(const PPEngineContext* ctx, const PPPlaneSet& src, int64_t v, int64_t end, int shift, uint8_t* out,
              int64_t step, PPSharedRows* s)
{
    const int64_t y0 = ctx->rowIndex[2 * v], y1 = ctx->rowIndex[2 * v + 1];
    int64_t third = -1;
    s->out = out;
    s->step = step;
    s->rows = s->split = 1;
    for (; s->rows < kPPSharedRows && v + s->rows < end; ++s->rows) {
        const int64_t a = ctx->rowIndex[2 * (v + s->rows)], c = ctx->rowIndex[2 * (v + s->rows) + 1];
        if (a == y0 && c == y1 && s->split == s->rows)
            ++s->split;
        else if (a == y1 && (third < 0 || c == third))
            third = c;
        else
            break;
    }
    s->row[0] = src.ptr[0] + y0 * src.pitch[0];
    s->row[1] = src.ptr[0] + y1 * src.pitch[0];
    s->row[2] = third < 0 ? s->row[1] : src.ptr[0] + third * src.pitch[0];
    for (int k = 0; k < s->rows; ++k)
        s->fy[k] = ctx->rowFrac[v + k] >> shift;
    return s->rows;
}

// The blend of target rows that share source rows (four-byte pixels) at the level in force.
PPBlendRows4Fn sharedRowsFunction()
{
#if KPV_HAVE_X86_SIMD
    switch (PPSimdLevel()) {
    case PPSimd::AVX2: return PPBlendRows4Avx2;
    case PPSimd::SSE41: return PPBlendRows4Sse41;
    default: break;
    }
#endif
    return nullptr;
}

// The same for planes.
PPBlendPlaneRowsFn sharedPlaneRowsFunction()
{
#if KPV_HAVE_X86_SIMD
    switch (PPSimdLevel()) {
    case PPSimd::AVX2: return PPBlendPlaneRowsAvx2;
    case PPSimd::SSE41: return PPBlendPlaneRowsSse41;
    default: break;
    }
#endif
    return nullptr;
}

PPPlaneRowFn planeRowFunction()
{
#if KPV_HAVE_X86_SIMD
    switch (PPSimdLevel()) {
    case PPSimd::AVX2: return PPBlendPlaneRowAvx2;
    case PPSimd::SSE41: return PPBlendPlaneRowSse41;
    default: break;
    }
#endif
    return nullptr;
}

} // namespace

template <int Bpp>
PPNearestRow<Bpp>::PPNearestRow(std::vector<int32_t> from, int64_t sourceEnd) : from_(std::move(from))
{
    if (!kPer || PPSimdLevel() == PPSimd::Portable)
        return;
    level_ = PPSimdLevel();
    if (!from_.empty()) {
        const auto [lo, hi] = std::minmax_element(from_.begin(), from_.end());
        firstByte_ = *lo;
        dense_ = (*hi - *lo) / 64 <= static_cast<int64_t>(from_.size());
    }
    if (Bpp == 4 && level_ == PPSimd::AVX2) {
        // Blocks of eight four-byte targets whose sources lie in the 32 bytes from the first one:
        // one load and a permutation of its eight words, by the word indices in shuffle_.
        const int64_t blocks = static_cast<int64_t>(from_.size()) / 8;
        base_.assign(static_cast<size_t>(blocks), -1);
        shuffle_.assign(static_cast<size_t>(blocks) * 8, 0);
        for (int64_t g = 0; g < blocks; ++g) {
            const int32_t* f = from_.data() + 8 * g;
            bool fits = f[0] + 32 <= sourceEnd;
            for (int k = 0; k < 8 && fits; ++k) {
                fits = f[k] >= f[0] && f[k] - f[0] <= 28;
                shuffle_[static_cast<size_t>(8 * g + k)] = static_cast<uint8_t>((f[k] - f[0]) / 4);
            }
            base_[static_cast<size_t>(g)] = fits ? f[0] : -1;
        }
        return;
    }
    groups_ = static_cast<int64_t>(from_.size()) / kPer;
    base_.assign(static_cast<size_t>(groups_), -1);
    shuffle_.assign(static_cast<size_t>(groups_) * 16, 0x80);
    for (int64_t g = 0; g < groups_; ++g) {
        const int32_t* f = from_.data() + g * kPer;
        if (f[kPer - 1] < f[0] || f[kPer - 1] + Bpp - f[0] > 16 || f[0] + 16 > sourceEnd)
            continue;
        base_[static_cast<size_t>(g)] = f[0];
        for (int k = 0; k < kPer; ++k)
            for (int c = 0; c < Bpp; ++c)
                shuffle_[static_cast<size_t>(16 * g + k * Bpp + c)] = static_cast<uint8_t>(f[k] - f[0] + c);
    }
}

template <int Bpp>
void PPNearestRow<Bpp>::copy(uint8_t* out, const uint8_t* row, const uint8_t* next, int64_t step, int64_t rows) const
{
    // Through local pointers, which the byte stores cannot alias.
    const int32_t* from = from_.data();
    const int32_t* base = base_.data();
    const int64_t n = static_cast<int64_t>(from_.size()), groups = groups_;
    int64_t i = 0;
#if KPV_HAVE_X86_SIMD
    if constexpr (Bpp == 4) {
        const PPRowGroups g{base, shuffle_.data()};
        const PPRowPrefetch ahead{next, firstByte_ & ~int64_t{63}, dense_};
        if (level_ == PPSimd::AVX2) {
            PPCopyRow4Avx2(out, step, rows, row, from, n, g, ahead);
            return;
        }
        if (level_ == PPSimd::SSE41) {
            PPCopyRow4Sse41(out, step, rows, row, from, n, g, ahead);
            return;
        }
    }
    if (groups) {
        PPCopyRowSse41(out, row, PPRowGroups{base, shuffle_.data()}, groups, kGroupBytes);
        // Groups that did not fit, one sample at a time.
        for (int64_t g = 0; g < groups; ++g)
            if (base[g] < 0)
                for (int64_t k = g * kPer; k < (g + 1) * kPer; ++k)
                    copyPixel<Bpp>(out + k * Bpp, row + from[k]);
        i = groups * kPer;
    }
#endif
    for (; i < n; ++i)
        copyPixel<Bpp>(out + i * Bpp, row + from[i]);
    for (int64_t k = 1; k < rows; ++k)
        std::memcpy(out + k * step, out, static_cast<size_t>(n * Bpp));
}

template <int Bpp> void PPNearestRow<Bpp>::copy(uint8_t* out, int64_t step, const uint8_t* row) const
{
    const int32_t* from = from_.data();
    const int64_t n = static_cast<int64_t>(from_.size());
    for (int64_t i = 0; i < n; ++i)
        copyPixel<Bpp>(out + i * step, row + from[i]);
}

template class PPNearestRow<1>;
template class PPNearestRow<2>;
template class PPNearestRow<3>;
template class PPNearestRow<4>;

int64_t PPDebugVectorPixels() { return g_vectorPixels.load(); }

bool PPBlendBandVector(const PPBand* bp, const PPPlaneSet* dstp, const PPPlaneSet* srcp, const PPEngine* e,
                       int bpp)
{
    const PPBlendRowFn row = rowFunction(bpp);
    if (!row || (bpp != 3 && bpp != 4))
        return false;
    const PPBand& b = *bp;
    if (e->srcRect.right * bpp >= INT32_MAX || e->srcRect.left * bpp < INT32_MIN + 16) // offsets are 32-bit
        return false;
    if (!e->ctx->bilinear) {
        if (bpp == 4)
            copyBand<4>(b, *dstp, *srcp, e);
        else
            copyBand<3>(b, *dstp, *srcp, e);
        return true;
    }
    Plan p;
    if (!plan(b, e, bpp == 4 ? kWindow4 : kWindow3, &p))
        return false;
    const PPPlaneSet &dst = *dstp, &src = *srcp;
    const PPEngineContext* ctx = e->ctx;
    const PPTargetWalk walk(e);
    int64_t base, du, dv;
    walk.linear(bpp, dst.pitch[0], &base, &du, &dv);
    const int64_t n = p.ub - p.ua;
    // Rows that do not run left to right in memory are blended into a scratch row first.
    std::vector<uint8_t> scratch(du == bpp ? 0 : static_cast<size_t>(n * bpp));
    std::vector<int32_t> groupBase;
    std::vector<uint8_t> shuffle;
    pairGroups(p, bpp == 4 ? kWindow4 : kWindow3, e->srcRect.right * bpp, &groupBase, &shuffle);
    const PPRowGroups groups{groupBase.data(), shuffle.data()};
    // Enlarging, neighbouring target rows often read the same two source rows: such rows are blended
    // together when they run left to right.
    const PPBlendRows4Fn rowsFn = bpp == 4 && du == bpp ? sharedRowsFunction() : nullptr;
    const auto edges = [&](uint8_t* out, const uint8_t* r0, const uint8_t* r1, uint32_t fy) {
        for (int64_t u = b.u0; u < p.ua; ++u)
            blendPixel(out + u * du, r0, r1, ctx, u, fy, bpp);
        for (int64_t u = p.ub; u < b.u1; ++u)
            blendPixel(out + u * du, r0, r1, ctx, u, fy, bpp);
    };
    for (int64_t v = b.v0; v < b.v1; ++v) {
        const uint8_t* r0 = src.ptr[0] + ctx->rowIndex[2 * v] * src.pitch[0];
        const uint8_t* r1 = src.ptr[0] + ctx->rowIndex[2 * v + 1] * src.pitch[0];
        const uint32_t fy = ctx->rowFrac[v] >> 4;
        uint8_t* out = dst.ptr[0] + base + v * dv;
        PPSharedRows shared;
        if (rowsFn && sharedRun(ctx, src, v, b.v1, 4, out + p.ua * du, dv, &shared) > 1) {
            for (int k = 0; k < shared.rows; ++k)
                edges(out + k * dv, shared.top(k), shared.bottom(k), shared.fy[k]);
            rowsFn(shared, p.off.data(), p.w.data(), n, groups);
            v += shared.rows - 1;
            continue;
        }
        edges(out, r0, r1, fy);
        if (du == bpp) {
            row(out + p.ua * du, r0, r1, p.off.data(), p.w.data(), n, fy, groups);
        } else {
            row(scratch.data(), r0, r1, p.off.data(), p.w.data(), n, fy, groups);
            for (int64_t i = 0; i < n; ++i)
                std::memcpy(out + (p.ua + i) * du, scratch.data() + i * bpp, static_cast<size_t>(bpp));
        }
    }
    g_vectorPixels.fetch_add(n * (b.v1 - b.v0), std::memory_order_relaxed);
    return true;
}

bool PPBlendPlaneVector(const PPBand* bp, const PPPlaneSet* dstp, const PPPlaneSet* srcp, const PPEngine* e)
{
    const PPPlaneRowFn row = planeRowFunction();
    if (!row || srcp->stepY != 1 || dstp->stepY != 1)
        return false;
    const PPBand& b = *bp;
    if (e->srcRect.right >= INT32_MAX || e->srcRect.left < INT32_MIN + 16) // offsets are 32-bit
        return false;
    if (!e->ctx->bilinear) {
        copyBand<1>(b, *dstp, *srcp, e);
        return true;
    }
    Plan p;
    if (!plan(b, e, kWindowPlane, &p))
        return false;
    const PPPlaneSet &dst = *dstp, &src = *srcp;
    const PPEngineContext* ctx = e->ctx;
    const PPTargetWalk walk(e);
    int64_t base, du, dv;
    walk.linear(1, dst.pitch[0], &base, &du, &dv);
    const int64_t n = p.ub - p.ua;
    std::vector<uint8_t> scratch(du == 1 ? 0 : static_cast<size_t>(n));
    const int32_t* fx = reinterpret_cast<const int32_t*>(p.w.data());
    // Groups of four columns whose windows lie within 16 bytes of the source row.
    std::vector<int32_t> groupBase(static_cast<size_t>(n / 4));
    std::vector<uint8_t> shuffle(static_cast<size_t>(n / 4) * 16);
    for (int64_t g = 0; g < n / 4; ++g) {
        const int32_t* o = p.off.data() + 4 * g;
        const int64_t first = o[0] + 2; // the group's first left sample
        bool fits = first + 16 <= e->srcRect.right;
        for (int k = 0; k < 4 && fits; ++k) {
            const int64_t d = o[k] + 2 - first;
            fits = d >= 0 && d + 1 < 16;
            uint8_t* c = shuffle.data() + 16 * g + 4 * k;
            c[0] = c[1] = 0x80;
            c[2] = static_cast<uint8_t>(d);
            c[3] = static_cast<uint8_t>(d + 1);
        }
        groupBase[static_cast<size_t>(g)] = fits ? static_cast<int32_t>(first) : -1;
    }
    const PPRowGroups groups{groupBase.data(), shuffle.data()};
    // Enlarging, neighbouring target rows that read the same source rows are blended together.
    const PPBlendPlaneRowsFn rowsFn = du == 1 ? sharedPlaneRowsFunction() : nullptr;
    const auto edges = [&](uint8_t* out, const uint8_t* r0, const uint8_t* r1, int fy) {
        const auto one = [&](int64_t u) {
            const int64_t c0 = ctx->colIndex[2 * u], c1 = ctx->colIndex[2 * u + 1];
            out[u * du] = static_cast<uint8_t>(ppBlend(r0[c0], r0[c1], r1[c0], r1[c1], ctx->colFrac[u], fy));
        };
        for (int64_t u = b.u0; u < p.ua; ++u)
            one(u);
        for (int64_t u = p.ub; u < b.u1; ++u)
            one(u);
    };
    for (int64_t v = b.v0; v < b.v1; ++v) {
        const uint8_t* r0 = src.ptr[0] + ctx->rowIndex[2 * v] * src.pitch[0];
        const uint8_t* r1 = src.ptr[0] + ctx->rowIndex[2 * v + 1] * src.pitch[0];
        const int fy = ctx->rowFrac[v];
        uint8_t* out = dst.ptr[0] + base + v * dv;
        PPSharedRows shared;
        if (rowsFn && sharedRun(ctx, src, v, b.v1, 0, out + p.ua, dv, &shared) > 1) {
            for (int k = 0; k < shared.rows; ++k)
                edges(out + k * dv, shared.top(k), shared.bottom(k), static_cast<int>(shared.fy[k]));
            rowsFn(shared, p.off.data(), fx, n, groups);
            v += shared.rows - 1;
            continue;
        }
        edges(out, r0, r1, fy);
        if (du == 1) {
            row(out + p.ua, r0, r1, p.off.data(), fx, n, static_cast<uint32_t>(fy), groups);
        } else {
            row(scratch.data(), r0, r1, p.off.data(), fx, n, static_cast<uint32_t>(fy), groups);
            for (int64_t i = 0; i < n; ++i)
                out[(p.ua + i) * du] = scratch[static_cast<size_t>(i)];
        }
    }
    g_vectorPixels.fetch_add(n * (b.v1 - b.v0), std::memory_order_relaxed);
    return true;
}
