// Static block allocator: hands out blocks of 32-byte units from one caller-supplied buffer.
//
// The manager is a header of four 64-bit words at the (aligned) start of the buffer, followed by
// the managed area. Every block, free or allocated, starts with a 32-byte header of four words:
// its own unit index, its size in units (header included), and the index and size of the next
// free block (both 0 while allocated). Free blocks form a list ordered by unit index from the
// highest to the lowest, and no two free blocks touch: a freed block is merged with its free
// neighbours, and a free block that reaches the untouched end of the area returns to it.
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "MMemory.h"

namespace {

constexpr uint64_t kUnit = 32;
// Handles and blocks must be able to hold any object type; the header and every block start
// are multiples of 32 bytes from the handle, so aligning the handle aligns them all.
constexpr uintptr_t kAlign = alignof(std::max_align_t);
static_assert(kUnit % kAlign == 0, "block starts must stay aligned");

struct Manager {
    uint64_t top;       // units handed out from the start of the area
    uint64_t remaining; // units left in the untouched area
    uint64_t firstIndex; // anchor of the free list: index and size of its first block
    uint64_t firstSize;  // 0: the list is empty
};
static_assert(sizeof(Manager) == kUnit);

struct Block {
    uint64_t index;
    uint64_t size;
    uint64_t nextIndex;
    uint64_t nextSize;
};
static_assert(sizeof(Block) == kUnit);

// A link of the free list: the anchor's words or a free block's next words.
struct Link {
    uint64_t* index;
    uint64_t* size;
};

unsigned char* area(Manager* m)
{
    return reinterpret_cast<unsigned char*>(m) + kUnit;
}

Block* blockAt(Manager* m, uint64_t index)
{
    return reinterpret_cast<Block*>(area(m) + index * kUnit);
}

Link anchorLink(Manager* m)
{
    return {&m->firstIndex, &m->firstSize};
}

Link nextLink(Block* b)
{
    return {&b->nextIndex, &b->nextSize};
}

void setLink(Link l, uint64_t index, uint64_t size)
{
    *l.index = index;
    *l.size = size;
}

void clearHeader(Block* b)
{
    std::memset(b, 0, sizeof(Block));
}

// Units needed for a request: one header unit plus the data rounded up to whole units.
// Zero when the request is empty or its rounding would overflow.
uint64_t unitsFor(size_t size)
{
    if (size == 0 || size > SIZE_MAX - 2 * kUnit)
        return 0;
    return (static_cast<uint64_t>(size) + 2 * kUnit - 1) / kUnit;
}

// The header of the block owning a data pointer, or null when the pointer cannot be one of
// this manager's allocated blocks (outside the used area, misaligned, or a stale header).
Block* ownerOf(Manager* m, void* p)
{
    auto* bytes = static_cast<unsigned char*>(p);
    unsigned char* start = area(m);
    if (bytes < start + kUnit)
        return nullptr;
    uint64_t offset = static_cast<uint64_t>(bytes - start) - kUnit;
    if (offset % kUnit != 0)
        return nullptr;
    uint64_t index = offset / kUnit;
    if (index >= m->top)
        return nullptr;
    Block* b = blockAt(m, index);
    if (b->index != index || b->size == 0 || b->size > m->top - index || b->nextSize != 0)
        return nullptr;
    return b;
}

void* dataOf(Block* b)
{
    return reinterpret_cast<unsigned char*>(b) + kUnit;
}

void freeBlock(Manager* m, Block* blk)
{
    const uint64_t index = blk->index;
    const uint64_t size = blk->size;

    // The top block goes back to the untouched area, and the highest free block with it when
    // the two touch.
    if (index + size == m->top) {
        m->top -= size;
        m->remaining += size;
        if (index != 0 && m->firstSize != 0 && m->firstIndex + m->firstSize == index) {
            Block* f = blockAt(m, m->firstIndex);
            setLink(anchorLink(m), f->nextIndex, f->nextSize);
            m->top -= f->size;
            m->remaining += f->size;
            clearHeader(f);
        }
        clearHeader(blk);
        return;
    }

    // Find the place in the descending list: `upper` is the last free block above the freed
    // one (null: the anchor), `lower` the first one below it (null: the end of the list).
    Link beforeUpper{nullptr, nullptr};
    Link toLower = anchorLink(m);
    Block* upper = nullptr;
    Block* lower = nullptr;
    while (*toLower.size != 0) {
        Block* b = blockAt(m, *toLower.index);
        if (b->index <= index && index < b->index + b->size)
            return; // already free: a second free must not link the block to itself
        if (b->index < index) {
            lower = b;
            break;
        }
        beforeUpper = toLower;
        upper = b;
        toLower = nextLink(b);
    }

    const bool touchesUpper = upper != nullptr && index + size == upper->index;
    const bool touchesLower = lower != nullptr && lower->index + lower->size == index;

    if (touchesUpper && touchesLower) {
        lower->size += size + upper->size;
        setLink(beforeUpper, lower->index, lower->size);
        clearHeader(upper);
        clearHeader(blk);
    } else if (touchesUpper) {
        blk->size = size + upper->size;
        blk->nextIndex = upper->nextIndex;
        blk->nextSize = upper->nextSize;
        setLink(beforeUpper, index, blk->size);
        clearHeader(upper);
    } else if (touchesLower) {
        lower->size += size;
        setLink(toLower, lower->index, lower->size);
        clearHeader(blk);
    } else {
        blk->nextIndex = lower ? lower->index : 0;
        blk->nextSize = lower ? lower->size : 0;
        setLink(toLower, index, size);
    }
}

} // namespace

extern "C" {

MHandle MMemMgrCreate(MVoid* pBuffer, size_t size)
{
    if (pBuffer == nullptr)
        return nullptr;
    const uintptr_t address = reinterpret_cast<uintptr_t>(pBuffer);
    const uintptr_t aligned = (address + kAlign - 1) & ~(kAlign - 1);
    const size_t leadIn = aligned - address;
    if (size < kUnit + leadIn)
        return nullptr;
    const size_t usable = (size - kUnit - leadIn) & ~size_t{3};
    if (usable < 1)
        return nullptr;
    auto* m = reinterpret_cast<Manager*>(aligned);
    m->top = 0;
    m->remaining = usable / kUnit;
    m->firstIndex = 0;
    m->firstSize = 0;
    return m;
}

MVoid MMemMgrDestroy(MHandle) {}

MVoid* MMemAllocStatic(MHandle hMgr, size_t size)
{
    auto* m = static_cast<Manager*>(hMgr);
    const uint64_t units = unitsFor(size);
    if (m == nullptr || units == 0)
        return nullptr;

    if (m->remaining >= units) {
        Block* b = blockAt(m, m->top);
        *b = Block{m->top, units, 0, 0};
        m->top += units;
        m->remaining -= units;
        return dataOf(b);
    }

    // First fit along the free list.
    Link link = anchorLink(m);
    while (*link.size != 0) {
        Block* b = blockAt(m, *link.index);
        if (b->size == units) {
            setLink(link, b->nextIndex, b->nextSize);
            b->nextIndex = 0;
            b->nextSize = 0;
            return dataOf(b);
        }
        if (b->size > units) {
            Block* rest = blockAt(m, b->index + units);
            *rest = Block{b->index + units, b->size - units, b->nextIndex, b->nextSize};
            setLink(link, rest->index, rest->size);
            *b = Block{b->index, units, 0, 0};
            return dataOf(b);
        }
        link = nextLink(b);
    }
    return nullptr;
}

MVoid MMemFreeStatic(MHandle hMgr, MVoid* pBlock)
{
    auto* m = static_cast<Manager*>(hMgr);
    if (m == nullptr || pBlock == nullptr)
        return;
    Block* b = ownerOf(m, pBlock);
    if (b == nullptr)
        return; // not a live block of this manager: freeing it would corrupt the lists
    freeBlock(m, b);
}

MVoid* MMemReallocStatic(MHandle hMgr, MVoid* pBlock, size_t size)
{
    auto* m = static_cast<Manager*>(hMgr);
    if (m == nullptr || pBlock == nullptr || size == 0)
        return nullptr;
    const uint64_t units = unitsFor(size);
    Block* b = ownerOf(m, pBlock);
    if (units == 0 || b == nullptr)
        return nullptr;
    const uint64_t oldUnits = b->size;
    if (units == oldUnits)
        return pBlock;

    if (units > oldUnits) {
        void* grown = MMemAllocStatic(m, size);
        if (grown == nullptr)
            return nullptr; // the old block stays valid
        std::memcpy(grown, pBlock, (oldUnits - 1) * kUnit);
        freeBlock(m, b);
        return grown;
    }

    // Shrinking: the tail becomes a block of its own and is freed, merging with its neighbours.
    b->size = units;
    Block* tail = blockAt(m, b->index + units);
    *tail = Block{b->index + units, oldUnits - units, 0, 0};
    freeBlock(m, tail);
    return pBlock;
}

} // extern "C"
