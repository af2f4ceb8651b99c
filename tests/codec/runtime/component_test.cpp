// The component manager's tables, registration, creation, enumeration and global data, and the
// dynamic array under them.
#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <thread>
#include <vector>

#include "../../../codec/runtime/DArrayRecord.h"
#include "MRuntime.h"

namespace {

std::atomic<int> gCreated{0};

MResult createDummy(AMCMHandle, MHandle* out)
{
    ++gCreated;
    *out = reinterpret_cast<MHandle>(0x1234);
    return MOK;
}

MResult createFailing(AMCMHandle, MHandle*)
{
    return MERR_NO_MEMORY;
}

struct Manager {
    Manager() { EXPECT_EQ(AMCM_Create(nullptr, &h), MOK); }
    ~Manager() { EXPECT_EQ(AMCM_Destroy(h), MOK); }
    AMCMHandle h = nullptr;
};

std::vector<AMCM_COMPONENT_INFO> enumerate(AMCMHandle h)
{
    std::vector<AMCM_COMPONENT_INFO> out;
    MHandle e = nullptr;
    EXPECT_EQ(AMCM_EnumComponentStart(h, &e), MOK);
    AMCM_COMPONENT_INFO info;
    MResult r;
    while ((r = AMCM_EnumComponentNext(h, e, &info)) == MOK)
        out.push_back(info);
    EXPECT_EQ(r, MERR_REGISTRATION) << "enumeration ends with 5";
    EXPECT_EQ(AMCM_EnumComponentNext(h, e, &info), MERR_REGISTRATION) << "and stays at the end";
    EXPECT_EQ(AMCM_EnumComponentEnd(h, e), MOK);
    return out;
}

TEST(ComponentManager, TableOrderRegistrationNumbersAndDuplicates)
{
    Manager m;
    for (MDWord id : {AMCM_CID_BMP_DECODER, AMCM_CID_JPEG_DECODER, AMCM_CID_PNG_DECODER, AMCM_CID_GIF_DECODER})
        EXPECT_EQ(AMCM_RegisterEx(m.h, id, AMCM_TYPECLASS_DECODER, id & 0xF, 3, createDummy), MOK);
    EXPECT_EQ(AMCM_RegisterEx(m.h, AMCM_CID_BMP_DECODER, 1, 1, 1, createDummy), MERR_REGISTRATION);
    EXPECT_EQ(AMCM_RegisterEx(m.h, 0x7, 1, 1, 1, nullptr), MERR_INVALID_PARAM);
    EXPECT_EQ(AMCM_RegisterEx(nullptr, 0x7, 1, 1, 1, createDummy), MERR_INVALID_PARAM);

    auto all = enumerate(m.h);
    std::vector<uint64_t> ids;
    for (auto& c : all)
        ids.push_back(c.dwComponentID);
    EXPECT_EQ(ids, (std::vector<uint64_t>{0x81000010, 0x81001001, 0x81001003, 0x81001004, 0x81001202}));
    EXPECT_EQ(all[0].dwTypeClass, 0x120u);
    EXPECT_EQ(all[0].dwSubType, 0x110u);
    EXPECT_EQ(all[0].dwPriority, 3u);
    EXPECT_EQ(all[4].dwTypeClass, AMCM_TYPECLASS_DECODER);
    EXPECT_EQ(all[4].dwSubType, 2u);

    // IDs above 0x7FFFFFFF compare unsigned: 0x10 sorts first, 0xF0000000 last.
    AMCM_RegisterEx(m.h, 0xF0000000u, 0, 0, 0, createDummy);
    AMCM_RegisterEx(m.h, 0x10u, 0, 0, 0, createDummy);
    all = enumerate(m.h);
    ASSERT_EQ(all.size(), 7u);
    EXPECT_EQ(all.front().dwComponentID, 0x10u);
    EXPECT_EQ(all.back().dwComponentID, 0xF0000000u);

    EXPECT_EQ(AMCM_CMgrUnregister(m.h, 0x10u), MOK);
    EXPECT_EQ(AMCM_CMgrUnregister(m.h, 0x10u), MERR_REGISTRATION);
    EXPECT_EQ(enumerate(m.h).size(), 6u);
}

TEST(ComponentManager, CreateAndInfo)
{
    Manager m;
    AMCM_RegisterEx(m.h, AMCM_CID_PNG_DECODER, AMCM_TYPECLASS_DECODER, 4, 3, createDummy);
    AMCM_RegisterEx(m.h, 0x81001005, AMCM_TYPECLASS_DECODER, 5, 2, createFailing);
    MHandle inst = nullptr;
    gCreated = 0;
    EXPECT_EQ(AMCM_CreateComponent(m.h, AMCM_CID_PNG_DECODER, &inst), MOK);
    EXPECT_EQ(inst, reinterpret_cast<MHandle>(0x1234));
    EXPECT_EQ(gCreated, 1);
    EXPECT_EQ(AMCM_CreateComponent(m.h, 0x81001005, &inst), MERR_NO_MEMORY) << "the create function's result";

    MHandle untouched = reinterpret_cast<MHandle>(0x77);
    EXPECT_EQ(AMCM_CreateComponent(m.h, AMCM_CID_JPEG_DECODER, &untouched), MERR_UNKNOWN);
    EXPECT_EQ(untouched, reinterpret_cast<MHandle>(0x77));
    EXPECT_EQ(AMCM_CreateComponent(m.h, AMCM_CID_PNG_DECODER, nullptr), MERR_INVALID_PARAM);
    EXPECT_EQ(AMCM_CreateComponent(nullptr, AMCM_CID_PNG_DECODER, &inst), MERR_INVALID_PARAM);

    AMCM_COMPONENT_INFO info{};
    EXPECT_EQ(AMCM_GetComponentInfo(m.h, AMCM_CID_PNG_DECODER, &info), MOK);
    EXPECT_EQ(info.dwSubType, 4u);
    EXPECT_EQ(AMCM_GetComponentInfo(m.h, 0x5, &info), MERR_UNKNOWN);
    EXPECT_EQ(AMCM_GetComponentInfo(m.h, 0x5, nullptr), MERR_INVALID_PARAM);

    inst = reinterpret_cast<MHandle>(0x99);
    EXPECT_EQ(MPlugInMgr_Create(m.h, &inst), MERR_UNSUPPORTED);
    EXPECT_EQ(inst, nullptr);
    EXPECT_EQ(MPlugInMgr_Create(m.h, nullptr), MERR_INVALID_PARAM);
}

TEST(ComponentManager, GlobalDataSizes)
{
    Manager m;
    unsigned char ten[10] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10}, four[4] = {9, 9, 9, 9};
    unsigned char buf[16];
    EXPECT_EQ(AMCM_SetGlobalData(m.h, 7, ten, 10), MOK);
    EXPECT_EQ(AMCM_GetGlobalData(m.h, 7, buf, 9), MERR_BUFFER_TOO_SMALL);
    EXPECT_EQ(AMCM_SetGlobalData(m.h, 7, four, 4), MOK);
    // A smaller item replacing a larger one records its own size.
    std::memset(buf, 0xEE, sizeof buf);
    EXPECT_EQ(AMCM_GetGlobalData(m.h, 7, buf, 8), MOK);
    EXPECT_EQ(buf[3], 9);
    EXPECT_EQ(buf[4], 0xEE) << "only the stored 4 bytes are copied";
    void* p = nullptr;
    EXPECT_EQ(AMCM_GetGlobalDataPtr(m.h, 7, &p, 4), MOK);
    EXPECT_EQ(0, std::memcmp(p, four, 4));
    EXPECT_EQ(AMCM_SetGlobalData(m.h, 7, ten, 10), MOK) << "growing again";
    EXPECT_EQ(AMCM_GetGlobalData(m.h, 7, buf, 10), MOK);
    EXPECT_EQ(buf[9], 10);
    EXPECT_EQ(AMCM_GetGlobalDataPtr(m.h, 7, &p, 9), MERR_BUFFER_TOO_SMALL);

    EXPECT_EQ(AMCM_SetGlobalData(m.h, 8, nullptr, 4), MERR_INVALID_PARAM);
    EXPECT_EQ(AMCM_SetGlobalData(m.h, 8, ten, 0), MERR_INVALID_PARAM);
    EXPECT_EQ(AMCM_GetGlobalData(m.h, 8, buf, 16), MERR_UNKNOWN);
    EXPECT_EQ(AMCM_GetGlobalData(m.h, 7, nullptr, 16), MERR_INVALID_PARAM);
    EXPECT_EQ(AMCM_GetGlobalDataPtr(m.h, 7, &p, 0), MERR_INVALID_PARAM);
    EXPECT_EQ(AMCM_RemoveGlobalData(m.h, 7), MOK);
    EXPECT_EQ(AMCM_RemoveGlobalData(m.h, 7), MERR_UNKNOWN);

    EXPECT_EQ(AMCM_SetDynComponentRegPath(m.h, "/plugins"), MOK);
    char path[32];
    EXPECT_EQ(AMCM_GetGlobalData(m.h, AMCM_GD_DYN_REG_PATH, path, sizeof path), MOK);
    EXPECT_STREQ(path, "/plugins");
    EXPECT_EQ(AMCM_SetDynComponentRegPath(m.h, nullptr), MERR_INVALID_PARAM);

    // A pointer-sized item read back as the memory context.
    MHandle ctx = reinterpret_cast<MHandle>(0xABC0);
    EXPECT_EQ(AMCM_SetGlobalData(m.h, AMCM_GD_MEM_CONTEXT, &ctx, sizeof ctx), MOK);
    MHandle got = nullptr;
    EXPECT_EQ(AMCM_GetGlobalData(m.h, AMCM_GD_MEM_CONTEXT, &got, sizeof got), MOK);
    EXPECT_EQ(got, ctx);
}

int gPoolFreed = 0;
void* gPoolSeen = nullptr;

void freePool(void* pool)
{
    ++gPoolFreed;
    gPoolSeen = pool;
}

TEST(ComponentManager, DestroyReleasesThePoolThroughItsFreeFunction)
{
    AMCMHandle h = nullptr;
    ASSERT_EQ(AMCM_Create(nullptr, &h), MOK);
    uint64_t pool[4] = {1, 2, 3, 4};
    ASSERT_EQ(AMCM_SetGlobalData(h, AMCM_GD_PP_POOL, pool, sizeof pool), MOK);
    AMCM_FNPOOLFREE fn = freePool;
    ASSERT_EQ(AMCM_SetGlobalData(h, AMCM_GD_PP_POOL_FREE, &fn, sizeof fn), MOK);
    void* copy = nullptr;
    AMCM_GetGlobalDataPtr(h, AMCM_GD_PP_POOL, &copy, sizeof pool);
    gPoolFreed = 0;
    EXPECT_EQ(AMCM_Destroy(h), MOK);
    EXPECT_EQ(gPoolFreed, 1);
    EXPECT_EQ(gPoolSeen, copy) << "called with the manager's copy of the pool";
    EXPECT_EQ(AMCM_Destroy(nullptr), MERR_INVALID_PARAM);
    EXPECT_EQ(AMCM_Create(nullptr, nullptr), MERR_INVALID_PARAM);
}

TEST(ComponentManager, WorksInsideAStaticBlockManagerAndFailsCleanlyWhenItRunsOut)
{
    // Large enough for a manager with a few items; then shrink the buffer until creation fails,
    // which must always come back as 4 with nothing leaked inside the block manager.
    alignas(16) static unsigned char buffer[8192];
    MHandle ctx = MMemMgrCreate(buffer, sizeof buffer);
    AMCMHandle h = nullptr;
    ASSERT_EQ(AMCM_Create(ctx, &h), MOK);
    unsigned char data[100] = {};
    for (MDWord id = 1; id <= 10; ++id)
        EXPECT_EQ(AMCM_SetGlobalData(h, id, data, sizeof data), MOK);
    EXPECT_EQ(AMCM_Destroy(h), MOK);
    EXPECT_EQ(static_cast<uint64_t*>(ctx)[0], 0u) << "everything went back to the block manager";

    for (size_t size = 64; size < 1024; size += 32) {
        MHandle small = MMemMgrCreate(buffer, size);
        AMCMHandle hs = nullptr;
        const MResult r = AMCM_Create(small, &hs);
        if (r == MOK) {
            AMCM_Destroy(hs);
        } else {
            EXPECT_EQ(r, MERR_NO_MEMORY);
        }
        EXPECT_EQ(static_cast<uint64_t*>(small)[0], 0u) << "size " << size;
    }
}

TEST(ComponentManager, VersionText)
{
    MDWord a = 0, b = 0, c = 9;
    char text[32];
    EXPECT_EQ(AMCM_GetVersionInfo(&a, &b, &c, text, sizeof text), MOK);
    EXPECT_EQ(a, 1u);
    EXPECT_EQ(b, 2u);
    EXPECT_EQ(c, 0u);
    EXPECT_STREQ(text, "1.2.0.01302007");
    EXPECT_EQ(AMCM_GetVersionInfo(nullptr, nullptr, nullptr, nullptr, 0), MOK);
}

// ---- Dynamic array ----

struct Array {
    explicit Array(MInt64 elementSize = 4) { EXPECT_EQ(ADK_DArrayCreate(elementSize, nullptr, &a), MOK); }
    ~Array() { ADK_DArrayDestroy(a); }
    std::vector<int32_t> values()
    {
        MInt64 n = 0;
        ADK_DArrayGetCount(a, &n);
        void* buf = nullptr;
        ADK_DArrayGetBuffer(a, &buf);
        auto* p = static_cast<int32_t*>(buf);
        return std::vector<int32_t>(p, p + n);
    }
    ADK_DArray a = nullptr;
};

TEST(DynamicArray, GrowthSteps)
{
    Array arr;
    std::vector<int64_t> seen;
    for (int32_t i = 0; i < 6000; ++i) {
        const int64_t before = arr.a->capacity;
        MInt64 index = -2;
        ASSERT_EQ(ADK_DArrayAdd(arr.a, &i, &index), MOK);
        ASSERT_EQ(index, i);
        if (arr.a->capacity != before)
            seen.push_back(arr.a->capacity);
    }
    EXPECT_EQ(std::vector<int64_t>(seen.begin(), seen.begin() + 6),
              (std::vector<int64_t>{32, 64, 96, 416, 736, 1056}));
    EXPECT_EQ(seen[6], 2080);
    EXPECT_NE(std::find(seen.begin(), seen.end(), 5152), seen.end());
    EXPECT_NE(std::find(seen.begin(), seen.end(), 5664), seen.end());
    EXPECT_EQ(arr.values()[5999], 5999);
}

TEST(DynamicArray, SetSizeAndFreeExtra)
{
    Array arr;
    EXPECT_EQ(ADK_DArraySetSize(arr.a, 5), MOK);
    EXPECT_EQ(arr.a->capacity, 8) << "capacities are multiples of 8";
    for (int32_t i = 0; i < 3; ++i)
        ADK_DArrayAdd(arr.a, &i, nullptr);
    EXPECT_EQ(ADK_DArraySetSize(arr.a, 2), MERR_INVALID_PARAM) << "below the elements";
    EXPECT_EQ(ADK_DArraySetSize(arr.a, 0), MERR_INVALID_PARAM);
    EXPECT_EQ(ADK_DArrayGrow(arr.a, 20), MOK);
    EXPECT_EQ(arr.a->capacity, 32);
    EXPECT_EQ(ADK_DArrayFreeExtra(arr.a), MOK);
    EXPECT_EQ(arr.a->capacity, 8);
    EXPECT_EQ(arr.values(), (std::vector<int32_t>{0, 1, 2}));
    ADK_DArrayRemoveAll(arr.a);
    EXPECT_EQ(ADK_DArraySetSize(arr.a, 0), MOK);
    EXPECT_EQ(arr.a->capacity, 0);
    EXPECT_EQ(arr.a->buffer, nullptr);
    EXPECT_EQ(ADK_DArraySetSize(arr.a, INT64_MAX), MERR_NO_MEMORY);
    EXPECT_EQ(ADK_DArrayGrow(arr.a, INT64_MAX), MERR_NO_MEMORY);
}

TEST(DynamicArray, InsertRemoveMoveSwap)
{
    Array arr;
    for (int32_t i = 0; i < 5; ++i)
        ADK_DArrayAdd(arr.a, &i, nullptr);
    int32_t x = 42;
    EXPECT_EQ(ADK_DArrayInsertAt(arr.a, 1, &x), MOK);
    EXPECT_EQ(arr.values(), (std::vector<int32_t>{0, 42, 1, 2, 3, 4}));
    EXPECT_EQ(ADK_DArrayInsertAt(arr.a, 6, &x), MOK) << "at the count appends";
    EXPECT_EQ(ADK_DArrayInsertAt(arr.a, 8, &x), MERR_INVALID_PARAM);
    EXPECT_EQ(ADK_DArrayInsertAt(arr.a, -1, &x), MERR_INVALID_PARAM);
    EXPECT_EQ(ADK_DArrayInsertAt(arr.a, 0, nullptr), MERR_INVALID_PARAM);

    const int64_t cap = arr.a->capacity;
    EXPECT_EQ(ADK_DArrayRemoveAt(arr.a, 6, 1), MOK);
    EXPECT_EQ(arr.a->capacity, cap);
    EXPECT_EQ(ADK_DArrayRemoveAt(arr.a, 1, 2), MOK);
    EXPECT_EQ(arr.values(), (std::vector<int32_t>{0, 2, 3, 4}));
    EXPECT_EQ(ADK_DArrayRemoveAt(arr.a, 2, 3), MERR_INVALID_PARAM);
    EXPECT_EQ(ADK_DArrayRemoveAt(arr.a, 4, 1), MERR_INVALID_PARAM);
    EXPECT_EQ(ADK_DArrayRemoveAt(arr.a, 0, 0), MERR_INVALID_PARAM);

    MBool moved = MFalse;
    EXPECT_EQ(ADK_DArrayMoveElement(arr.a, 0, 3, &moved), MOK);
    EXPECT_EQ(moved, MTrue);
    EXPECT_EQ(arr.values(), (std::vector<int32_t>{2, 3, 4, 0}));
    EXPECT_EQ(ADK_DArrayMoveElement(arr.a, 3, 1, nullptr), MOK);
    EXPECT_EQ(arr.values(), (std::vector<int32_t>{2, 0, 3, 4}));
    EXPECT_EQ(ADK_DArrayMoveElement(arr.a, 1, 1, nullptr), MERR_INVALID_PARAM);
    EXPECT_EQ(ADK_DArraySwapElement(arr.a, 0, 3, &moved), MOK);
    EXPECT_EQ(arr.values(), (std::vector<int32_t>{4, 0, 3, 2}));
    EXPECT_EQ(ADK_DArraySwapElement(arr.a, 0, 4, nullptr), MERR_INVALID_PARAM);

    void* p = reinterpret_cast<void*>(1);
    EXPECT_EQ(ADK_DArrayGetAt(arr.a, 9, &p), MOK);
    EXPECT_EQ(p, nullptr);
    EXPECT_EQ(ADK_DArrayGetAt(arr.a, 2, &p), MOK);
    EXPECT_EQ(*static_cast<int32_t*>(p), 3);
    EXPECT_EQ(ADK_DArraySetAt(arr.a, 2, &x), MOK);
    EXPECT_EQ(ADK_DArraySetAt(arr.a, 7, &x), MOK);
    EXPECT_EQ(arr.values(), (std::vector<int32_t>{4, 0, 42, 2}));
    MBool valid = MTrue;
    ADK_DArrayIsValidIndex(arr.a, 4, &valid);
    EXPECT_EQ(valid, MFalse);
    MInt64 found = 0;
    EXPECT_EQ(ADK_DArrayFind(arr.a, &x, &found), MOK);
    EXPECT_EQ(found, 2);
    int32_t absent = 77;
    ADK_DArrayFind(arr.a, &absent, &found);
    EXPECT_EQ(found, -1);
    MInt64 ub = 0;
    ADK_DArrayGetUpperBound(arr.a, &ub);
    EXPECT_EQ(ub, 3);
}

TEST(DynamicArray, AddingAnElementOfTheArrayItselfSurvivesGrowth)
{
    Array arr(64);
    std::vector<unsigned char> e(64);
    for (int i = 0; i < 32; ++i) {
        std::fill(e.begin(), e.end(), static_cast<unsigned char>(i));
        ADK_DArrayAdd(arr.a, e.data(), nullptr);
    }
    ASSERT_EQ(arr.a->capacity, 32);
    void* first = nullptr;
    ADK_DArrayGetAt(arr.a, 5, &first);
    EXPECT_EQ(ADK_DArrayAdd(arr.a, first, nullptr), MOK); // the buffer moves while adding
    EXPECT_EQ(ADK_DArrayGetAt(arr.a, 1, &first), MOK);
    EXPECT_EQ(ADK_DArrayInsertAt(arr.a, 0, first), MOK);
    void* p = nullptr;
    ADK_DArrayGetAt(arr.a, 33, &p);
    EXPECT_EQ(static_cast<unsigned char*>(p)[63], 5);
    ADK_DArrayGetAt(arr.a, 0, &p);
    EXPECT_EQ(static_cast<unsigned char*>(p)[0], 1);
    ADK_DArrayGetAt(arr.a, 2, &p);
    EXPECT_EQ(static_cast<unsigned char*>(p)[0], 1);
}

TEST(ComponentManager, IndependentManagersOnManyThreads)
{
    std::vector<std::thread> threads;
    std::atomic<int> failures{0};
    for (int t = 0; t < 8; ++t) {
        threads.emplace_back([t, &failures] {
            for (int round = 0; round < 50; ++round) {
                AMCMHandle h = nullptr;
                if (AMCM_Create(nullptr, &h) != MOK) {
                    ++failures;
                    return;
                }
                AMCM_RegisterEx(h, AMCM_CID_PNG_DECODER, AMCM_TYPECLASS_DECODER, 4, 3, createDummy);
                int value = t * 1000 + round, back = -1;
                AMCM_SetGlobalData(h, 1, &value, sizeof value);
                if (AMCM_GetGlobalData(h, 1, &back, sizeof back) != MOK || back != value)
                    ++failures;
                AMCM_Destroy(h);
            }
        });
    }
    for (auto& th : threads)
        th.join();
    EXPECT_EQ(failures.load(), 0);
}

TEST(DynamicArray, RejectsBadElementSizesAndNullArrays)
{
    ADK_DArray a = nullptr;
    EXPECT_EQ(ADK_DArrayCreate(0, nullptr, &a), MERR_INVALID_PARAM);
    EXPECT_EQ(ADK_DArrayCreate(6, nullptr, &a), MERR_INVALID_PARAM);
    EXPECT_EQ(ADK_DArrayCreate(8, nullptr, nullptr), MERR_INVALID_PARAM);
    EXPECT_EQ(ADK_DArrayDestroy(nullptr), MERR_INVALID_PARAM);
    EXPECT_EQ(ADK_DArrayAdd(nullptr, &a, nullptr), MERR_INVALID_PARAM);
    MInt64 n;
    EXPECT_EQ(ADK_DArrayGetCount(nullptr, &n), MERR_INVALID_PARAM);
}

} // namespace
