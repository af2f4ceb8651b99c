// The static block allocator against a model, the heap path and the memory-manager context.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <map>
#include <random>
#include <vector>

#include "MRuntime.h"

namespace {

constexpr uint64_t kUnit = 32;

// The manager's header words and the block headers are part of the allocator's contract, so the
// test reads them directly.
struct Words {
    uint64_t a, b, c, d;
};

struct AlignedBuffer {
    explicit AlignedBuffer(size_t bytes) : storage(bytes + 64) {}
    unsigned char* at(size_t offsetFromAligned)
    {
        auto p = reinterpret_cast<uintptr_t>(storage.data());
        return reinterpret_cast<unsigned char*>((p + 63) & ~uintptr_t{63}) + offsetFromAligned;
    }
    std::vector<unsigned char> storage;
};

const Words& header(MHandle m)
{
    return *static_cast<const Words*>(m);
}

const Words& blockAt(MHandle m, uint64_t index)
{
    return *reinterpret_cast<const Words*>(static_cast<unsigned char*>(m) + kUnit + index * kUnit);
}

uint64_t indexOf(MHandle m, void* p)
{
    return (static_cast<unsigned char*>(p) - static_cast<unsigned char*>(m)) / kUnit - 2;
}

struct Live {
    size_t bytes;
    unsigned char fill;
};

// Checks the invariants: the free list is descending and never touches itself or the untouched
// area, free and allocated blocks tile [0, top) exactly, and every live block holds its data.
void checkManager(MHandle m, uint64_t totalUnits, const std::map<void*, Live>& live)
{
    const Words& h = header(m);
    ASSERT_EQ(h.a + h.b, totalUnits);
    std::vector<std::pair<uint64_t, uint64_t>> spans; // (index, size)
    uint64_t idx = h.c, size = h.d;
    uint64_t prevIndex = UINT64_MAX;
    while (size != 0) {
        const Words& b = blockAt(m, idx);
        ASSERT_EQ(b.a, idx);
        ASSERT_EQ(b.b, size);
        ASSERT_LT(idx, prevIndex) << "free list must descend";
        if (prevIndex != UINT64_MAX)
            ASSERT_LT(idx + size, prevIndex) << "free blocks must be coalesced";
        ASSERT_LT(idx + size, h.a) << "a free block must not touch the untouched area";
        spans.emplace_back(idx, size);
        prevIndex = idx;
        idx = b.c;
        size = b.d;
    }
    for (const auto& [p, info] : live) {
        const Words& b = blockAt(m, indexOf(m, p));
        ASSERT_EQ(b.a, indexOf(m, p));
        ASSERT_EQ(b.b, (info.bytes + 63) / 32);
        ASSERT_EQ(b.d, 0u);
        spans.emplace_back(b.a, b.b);
        auto* bytes = static_cast<unsigned char*>(p);
        for (size_t i = 0; i < info.bytes; ++i)
            ASSERT_EQ(bytes[i], info.fill) << "data lost at byte " << i;
    }
    std::sort(spans.begin(), spans.end());
    uint64_t expect = 0;
    for (auto [i, s] : spans) {
        ASSERT_EQ(i, expect) << "blocks overlap or leave a gap";
        expect = i + s;
    }
    ASSERT_EQ(expect, h.a);
}

TEST(StaticAllocator, CreateRefusesBuffersWithoutRoom)
{
    AlignedBuffer buf(128);
    EXPECT_EQ(MMemMgrCreate(nullptr, 1000), nullptr);
    EXPECT_EQ(MMemMgrCreate(buf.at(0), 35), nullptr);
    MHandle m = MMemMgrCreate(buf.at(0), 36);
    ASSERT_NE(m, nullptr);
    EXPECT_EQ(MMemAllocStatic(m, 1), nullptr);
    m = MMemMgrCreate(buf.at(0), 63);
    ASSERT_NE(m, nullptr);
    EXPECT_EQ(MMemAllocStatic(m, 1), nullptr);
    EXPECT_NE(MMemMgrCreate(buf.at(0), 96), nullptr);
}

TEST(StaticAllocator, HandleAndBlocksAreAlignedForAnyType)
{
    AlignedBuffer buf(4096);
    for (size_t shift : {0, 4, 8, 12}) {
        MHandle m = MMemMgrCreate(buf.at(shift), 2048);
        ASSERT_NE(m, nullptr);
        EXPECT_EQ(reinterpret_cast<uintptr_t>(m) % alignof(std::max_align_t), 0u);
        for (size_t n : {1, 7, 33, 100}) {
            void* p = MMemAllocStatic(m, n);
            ASSERT_NE(p, nullptr);
            EXPECT_EQ(reinterpret_cast<uintptr_t>(p) % alignof(std::max_align_t), 0u);
        }
        EXPECT_GE(static_cast<unsigned char*>(m), buf.at(shift));
    }
}

TEST(StaticAllocator, UnitCountsAndRejectedSizes)
{
    AlignedBuffer buf(4096);
    MHandle m = MMemMgrCreate(buf.at(0), 4096);
    EXPECT_EQ(MMemAllocStatic(m, 0), nullptr);
    EXPECT_EQ(MMemAllocStatic(nullptr, 8), nullptr);
    EXPECT_EQ(MMemAllocStatic(m, SIZE_MAX), nullptr) << "rounding must not wrap to a tiny block";
    EXPECT_EQ(MMemAllocStatic(m, SIZE_MAX - 40), nullptr);
    void* a = MMemAllocStatic(m, 1);
    EXPECT_EQ(header(m).a, 2u);
    void* b = MMemAllocStatic(m, 32);
    EXPECT_EQ(header(m).a, 4u);
    MMemAllocStatic(m, 33);
    EXPECT_EQ(header(m).a, 7u);
    EXPECT_EQ(indexOf(m, a), 0u);
    EXPECT_EQ(indexOf(m, b), 2u);
    EXPECT_EQ(MMemAllocStatic(m, 4096), nullptr);
}

TEST(StaticAllocator, FreeingTheTopReturnsUnitsAndTheFreeBlockBelow)
{
    AlignedBuffer buf(4096);
    MHandle m = MMemMgrCreate(buf.at(0), 32 + 20 * 32);
    void* a = MMemAllocStatic(m, 40); // 3 units
    void* b = MMemAllocStatic(m, 40);
    void* c = MMemAllocStatic(m, 40);
    MMemFreeStatic(m, c);
    EXPECT_EQ(header(m).a, 6u);
    EXPECT_EQ(header(m).d, 0u);
    c = MMemAllocStatic(m, 40);
    MMemFreeStatic(m, b);
    EXPECT_EQ(header(m).d, 3u);
    MMemFreeStatic(m, c);
    EXPECT_EQ(header(m).a, 3u) << "B must follow C back to the untouched area";
    EXPECT_EQ(header(m).d, 0u);
    EXPECT_EQ(header(m).b, 17u);
    MMemFreeStatic(m, a);
    EXPECT_EQ(header(m).a, 0u);
}

TEST(StaticAllocator, AdjacentFreesMergeAndFirstFitSplits)
{
    AlignedBuffer buf(4096);
    MHandle m = MMemMgrCreate(buf.at(0), 32 + 9 * 32);
    void* a = MMemAllocStatic(m, 40); // units 0..2
    void* b = MMemAllocStatic(m, 40); // units 3..5
    void* c = MMemAllocStatic(m, 40); // units 6..8, area full
    ASSERT_NE(c, nullptr);
    MMemFreeStatic(m, a);
    MMemFreeStatic(m, b);
    EXPECT_EQ(header(m).c, 0u);
    EXPECT_EQ(header(m).d, 6u);
    void* again = MMemAllocStatic(m, 40);
    EXPECT_EQ(again, a);
    EXPECT_EQ(header(m).c, 3u);
    EXPECT_EQ(header(m).d, 3u);
}

TEST(StaticAllocator, ShrinkFreesTheTailIntoItsNeighbour)
{
    AlignedBuffer buf(4096);
    MHandle m = MMemMgrCreate(buf.at(0), 32 + 12 * 32);
    void* a = MMemAllocStatic(m, 150); // 6 units: 0..5
    void* b = MMemAllocStatic(m, 40);  // 6..8
    void* c = MMemAllocStatic(m, 40);  // 9..11
    MMemFreeStatic(m, b);
    std::memset(a, 0x5a, 64);
    EXPECT_EQ(MMemReallocStatic(m, a, 40), a);
    EXPECT_EQ(header(m).c, 3u);
    EXPECT_EQ(header(m).d, 6u) << "tail 3..5 merges with the free 6..8";
    EXPECT_EQ(static_cast<unsigned char*>(a)[63], 0x5a);
    EXPECT_EQ(MMemReallocStatic(m, a, 64), a) << "same unit count keeps the block";
    EXPECT_EQ(MMemReallocStatic(m, nullptr, 64), nullptr);
    EXPECT_EQ(MMemReallocStatic(m, a, 0), nullptr);
    (void)c;
}

TEST(StaticAllocator, FailedGrowKeepsTheOldBlock)
{
    AlignedBuffer buf(4096);
    MHandle m = MMemMgrCreate(buf.at(0), 32 + 4 * 32);
    void* a = MMemAllocStatic(m, 40);
    std::memset(a, 7, 40);
    EXPECT_EQ(MMemReallocStatic(m, a, 500), nullptr);
    EXPECT_EQ(static_cast<unsigned char*>(a)[39], 7);
    MMemFreeStatic(m, a);
    EXPECT_EQ(header(m).a, 0u);
}

TEST(StaticAllocator, ForeignAndDoubleFreesAreIgnored)
{
    AlignedBuffer buf(4096);
    MHandle m = MMemMgrCreate(buf.at(0), 1024);
    void* a = MMemAllocStatic(m, 40);
    void* b = MMemAllocStatic(m, 40);
    MMemAllocStatic(m, 40);
    int local = 0;
    MMemFreeStatic(m, &local);
    MMemFreeStatic(m, static_cast<unsigned char*>(a) + 8);
    MMemFreeStatic(m, b);
    MMemFreeStatic(m, b);
    EXPECT_EQ(header(m).c, 3u);
    EXPECT_EQ(header(m).d, 3u);
    EXPECT_EQ(blockAt(m, 3).c, 0u) << "a double free must not make the list a cycle";
    EXPECT_EQ(blockAt(m, 3).d, 0u);
    MMemFreeStatic(m, a);
    MMemFreeStatic(m, a);
    EXPECT_EQ(header(m).c, 0u);
    EXPECT_EQ(header(m).d, 6u);
    MMemFreeStatic(nullptr, a);
    MMemFreeStatic(m, nullptr);
}

// Long random sequences of allocate, free and reallocate, with the invariants checked after
// every step.
TEST(StaticAllocator, RandomSequencesKeepInvariantsAndData)
{
    for (uint32_t seed = 1; seed <= 12; ++seed) {
        std::mt19937 rng(seed);
        const size_t areaUnits = 64 + rng() % 400;
        AlignedBuffer buf(32 + areaUnits * 32);
        MHandle m = MMemMgrCreate(buf.at(0), 32 + areaUnits * 32);
        ASSERT_NE(m, nullptr);
        std::map<void*, Live> live;
        unsigned char nextFill = 1;
        for (int step = 0; step < 1500; ++step) {
            const int op = rng() % 10;
            const size_t bytes = 1 + rng() % (rng() % 4 == 0 ? 600 : 100);
            if (op < 5 || live.empty()) {
                void* p = MMemAllocStatic(m, bytes);
                if (p != nullptr) {
                    ASSERT_EQ(live.count(p), 0u);
                    std::memset(p, nextFill, bytes);
                    live[p] = {bytes, nextFill++};
                }
            } else {
                auto it = live.begin();
                std::advance(it, rng() % live.size());
                if (op < 8) {
                    MMemFreeStatic(m, it->first);
                    live.erase(it);
                } else {
                    Live info = it->second;
                    void* q = MMemReallocStatic(m, it->first, bytes);
                    if (q != nullptr) {
                        auto* data = static_cast<unsigned char*>(q);
                        for (size_t i = 0; i < std::min(bytes, info.bytes); ++i)
                            ASSERT_EQ(data[i], info.fill) << "realloc lost data";
                        live.erase(it);
                        std::memset(q, info.fill, bytes);
                        live[q] = {bytes, info.fill};
                    }
                }
            }
            ASSERT_NO_FATAL_FAILURE(checkManager(m, areaUnits, live));
            if (testing::Test::HasFatalFailure()) {
                ADD_FAILURE() << "seed " << seed << " step " << step;
                return;
            }
        }
        for (auto& [p, info] : live)
            MMemFreeStatic(m, p);
        EXPECT_EQ(header(m).a, 0u) << "everything freed returns the whole area";
        EXPECT_EQ(header(m).d, 0u);
    }
}

TEST(MemoryContext, NullContextIsTheHeapAndOthersTheStaticManager)
{
    void* p = MMemAlloc(nullptr, 100);
    ASSERT_NE(p, nullptr);
    p = MMemRealloc(nullptr, p, 1000);
    ASSERT_NE(p, nullptr);
    MMemFree(nullptr, p);

    AlignedBuffer buf(1024);
    MHandle m = MMemMgrCreate(buf.at(0), 1024);
    void* q = MMemAlloc(m, 10);
    EXPECT_GE(static_cast<unsigned char*>(q), buf.at(0));
    EXPECT_LT(static_cast<unsigned char*>(q), buf.at(1024));
    MMemFree(m, q);
    EXPECT_EQ(header(m).a, 0u);

    unsigned char x[4] = {1, 2, 3, 4}, y[4] = {};
    MMemCpy(y, x, 4);
    EXPECT_EQ(MMemCmp(x, y, 4), 0);
    MMemMove(x + 1, x, 3);
    EXPECT_EQ(x[3], 3);
    MMemSet(y, 0x1ff, 4);
    EXPECT_EQ(y[2], 0xff);
    void* h = MHugeMemAlloc(m, 64);
    EXPECT_EQ(MHugeMemLock(m, h), h);
    MHugeMemUnlock(m, h);
    MHugeMemFree(m, MHugeMemReAlloc(m, h, 128));
}

TEST(MemoryManagerContext, KeepsItsContextAndRefusesBadArguments)
{
    AlignedBuffer buf(1024);
    MHandle ctx = MMemMgrCreate(buf.at(0), 1024);
    MHandle mgr = nullptr;
    ASSERT_EQ(MMgrInit(ctx, &mgr), MOK);
    EXPECT_GE(static_cast<unsigned char*>(mgr), buf.at(0)) << "the record comes from the context";
    MHandle out = reinterpret_cast<MHandle>(1);
    EXPECT_EQ(MMgrGetMemContext(mgr, &out), MOK);
    EXPECT_EQ(out, ctx);
    out = reinterpret_cast<MHandle>(1);
    EXPECT_EQ(MMgrGetMemContext(nullptr, &out), MERR_INVALID_PARAM);
    EXPECT_EQ(out, nullptr);
    EXPECT_EQ(MMgrSetIramMgr(mgr, reinterpret_cast<MHandle>(8)), MOK);
    EXPECT_EQ(MMgrSetIramMgr(nullptr, nullptr), MERR_INVALID_PARAM);
    out = reinterpret_cast<MHandle>(1);
    EXPECT_EQ(MMgrGetIramMgr(mgr, &out), MOK);
    EXPECT_EQ(out, nullptr) << "nothing is ever stored";
    EXPECT_EQ(MMgrAlloc(mgr, 0), nullptr);
    EXPECT_EQ(MMgrAlloc(nullptr, 8), nullptr);
    void* p = MMgrAllocFast(mgr, 40);
    ASSERT_NE(p, nullptr);
    MMgrFree(mgr, p);
    MMgrFree(mgr, nullptr);
    EXPECT_EQ(MMgrUninit(mgr), MOK);
    EXPECT_EQ(MMgrUninit(nullptr), MOK);
    EXPECT_EQ(header(ctx).a, 0u);
}

} // namespace
