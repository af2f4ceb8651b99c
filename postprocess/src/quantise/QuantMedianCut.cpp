// Median cut over a 32 x 32 x 32 histogram of 5-bit cells: start from a coarse grid of boxes,
// split the box with the most pixels times extent at its median plane until there are enough
// boxes, then give each of the fullest boxes one palette colour.
#include "QuantInternal.h"

#include "MMemory.h"

#include <algorithm>
#include <cstdint>

namespace kpv::quant {
namespace {

constexpr int kSide = 32;
constexpr int kCells = kSide * kSide * kSide;

// An initial grid can hold up to 64 boxes, whatever number of colours is asked for.
constexpr int kMinBoxSlots = 64;

struct Box {
    MByte lower[3];  // inclusive, per axis (byte 0, 1, 2), in 5-bit cells
    MByte upper[3];  // exclusive
    bool used;       // has given a palette colour
    uint32_t count;
};

class Histogram {
public:
    explicit Histogram(uint32_t* cells) : cells_(cells) {}
    uint32_t& at(int a0, int a1, int a2) { return cells_[(a2 * kSide + a1) * kSide + a0]; }

    // Pixels of the box in plane p of the given axis.
    uint64_t plane(const Box& b, int axis, int p) {
        int lo[3] = {b.lower[0], b.lower[1], b.lower[2]};
        int hi[3] = {b.upper[0], b.upper[1], b.upper[2]};
        lo[axis] = p;
        hi[axis] = p + 1;
        uint64_t sum = 0;
        for (int a2 = lo[2]; a2 < hi[2]; ++a2)
            for (int a1 = lo[1]; a1 < hi[1]; ++a1)
                for (int a0 = lo[0]; a0 < hi[0]; ++a0) sum += at(a0, a1, a2);
        return sum;
    }

    // Adds whole planes from the lower bound on while the sum stays below half and the next
    // plane is not the last one; returns the plane reached and the sum before it.
    int scan(const Box& b, int axis, uint64_t half, uint64_t* sum) {
        int p = b.lower[axis];
        uint64_t s = 0;
        do {
            s += plane(b, axis, p);
            ++p;
        } while (s < half && p < b.upper[axis] - 1);
        *sum = s;
        return p;
    }

    // The plane of the given axis that holds the box's median pixel.
    int medianPlane(const Box& b, int axis) {
        const uint64_t target = (uint64_t(b.count) + 1) / 2;
        uint64_t sum = 0;
        int p = b.lower[axis];
        for (; p < b.upper[axis] - 1; ++p) {
            sum += plane(b, axis, p);
            if (sum >= target) break;
        }
        return p;
    }

private:
    uint32_t* cells_;
};

template <class T>
struct HeapBlock {
    T* p;
    explicit HeapBlock(size_t n) : p(static_cast<T*>(MMemAlloc(nullptr, sizeof(T) * n))) {}
    ~HeapBlock() {
        if (p) MMemFree(nullptr, p);
    }
    HeapBlock(const HeapBlock&) = delete;
    HeapBlock& operator=(const HeapBlock&) = delete;
};

int sideSum(const Box& b) {
    return (b.upper[0] - b.lower[0]) + (b.upper[1] - b.lower[1]) + (b.upper[2] - b.lower[2]);
}

}  // namespace

void mediacut_GetPalette(const Image24& image, int colors, MByte* palette, MByte* table) {
    if (colors < 16) return;
    HeapBlock<uint32_t> cells(kCells);
    const int slots = std::max(colors, kMinBoxSlots);
    HeapBlock<Box> boxes{size_t(slots)};
    if (!cells.p || !boxes.p) return;
    MMemSet(cells.p, 0, sizeof(uint32_t) * kCells);
    Histogram hist(cells.p);

    for (int64_t y = 0; y < image.height; ++y) {
        const MByte* px = image.pixel(0, y);
        for (int64_t x = 0; x < image.width; ++x, px += 3) {
            uint32_t& c = hist.at(px[0] >> 3, px[1] >> 3, px[2] >> 3);
            if (c != UINT32_MAX) ++c;
        }
    }

    // Initial grid: cubes of side 8 (4 x 4 x 4) or, for few colours, side 16 (2 x 2 x 2).
    const int cube = colors >= 32 ? 8 : 16;
    int nBoxes = 0;
    for (int c2 = 0; c2 < kSide; c2 += cube)
        for (int c1 = 0; c1 < kSide; c1 += cube)
            for (int c0 = 0; c0 < kSide; c0 += cube) {
                Box b{{MByte(c0), MByte(c1), MByte(c2)},
                      {MByte(c0 + cube), MByte(c1 + cube), MByte(c2 + cube)}, false, 0};
                uint64_t n = 0;
                for (int p = c0; p < c0 + cube; ++p) n += hist.plane(b, 0, p);
                if (n == 0) continue;
                b.count = uint32_t(std::min<uint64_t>(n, UINT32_MAX));
                boxes.p[nBoxes++] = b;
            }

    while (nBoxes < colors) {
        int chosen = -1;
        uint64_t bestScore = 0;
        for (int i = 0; i < nBoxes; ++i) {
            const uint64_t score = uint64_t(sideSum(boxes.p[i]) - 3) * boxes.p[i].count;
            if (score > bestScore) { bestScore = score; chosen = i; }
        }
        if (chosen < 0) break;
        Box& b = boxes.p[chosen];
        Box& fresh = boxes.p[nBoxes];
        fresh = b;
        // Longest side; ties prefer byte 2, then byte 1, then byte 0.
        int axis = 2;
        for (int a = 1; a >= 0; --a)
            if (b.upper[a] - b.lower[a] > b.upper[axis] - b.lower[axis]) axis = a;
        uint64_t sum = 0;
        const int p = hist.scan(b, axis, (uint64_t(b.count) + 1) / 2, &sum);
        if (sum == 0) {
            b.lower[axis] = MByte(p);
        } else if (sum >= b.count) {
            b.upper[axis] = MByte(p);
        } else {
            b.upper[axis] = MByte(p);
            fresh.lower[axis] = MByte(p);
            fresh.count = b.count - uint32_t(sum);
            b.count = uint32_t(sum);
            ++nBoxes;
        }
    }

    for (int entry = 0; entry < colors; ++entry) {
        int taken = -1;
        for (int i = 0; i < nBoxes; ++i) {
            const Box& b = boxes.p[i];
            if (!b.used && b.count > 0 && (taken < 0 || b.count > boxes.p[taken].count)) taken = i;
        }
        if (taken < 0) break;
        Box& b = boxes.p[taken];
        b.used = true;
        // Each channel comes from the plane that holds the box's median pixel. Stepping one plane
        // past it, as the split does, would give a box whose pixels share a plane (a box of one
        // pixel, say) a colour that none of them has.
        for (int axis = 0; axis < 3; ++axis) {
            const int p = hist.medianPlane(b, axis);
            palette[4 * entry + axis] = MByte(p * 8 + p / 4);
        }
    }

    GetQkTabFromPalette(palette, colors, table);
}

}  // namespace kpv::quant
