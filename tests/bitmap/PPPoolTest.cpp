// The handle pool: reuse of an identical request, slot replacement, the handle made outside a
// full pool, and release of every pooled handle with the component manager.
#include "MdPPWrapper.h"

#include <gtest/gtest.h>

#include <vector>

int64_t PPDebugLiveHandles();
int64_t PPDebugCreatedHandles();

namespace {

struct Request {
    PPFormat dst{0x37001777, 40, 30, nullptr};
    PPFormat src{0x37001777, 80, 60, nullptr};
    PPPara para{};
    Request() { para.lResampleMode = PP_RESAMPLE_BILINEAR; }
};

class Pool : public testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(AMCM_Create(nullptr, &amcm), MOK); }
    void TearDown() override
    {
        if (amcm)
            AMCM_Destroy(amcm);
    }
    AMCMHandle amcm = nullptr;
};

TEST_F(Pool, AnIdenticalRequestAfterDestroyGetsTheSameHandleWithoutCreating)
{
    Request r;
    MdPPWrapper* w = nullptr;
    PPHandle first = nullptr, second = nullptr;
    ASSERT_EQ(MdPPWrapperCreateEx(amcm, &w, &r.dst, &r.src, &r.para, &first), MOK);
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(w->lOutsidePool, 0);
    EXPECT_EQ(r.para.lBlockMode, PP_BLOCK_1X1);
    EXPECT_EQ(r.para.lAlpha, 255);
    EXPECT_EQ(MdPPWrapperDestroy(w), MOK);
    const int64_t made = PPDebugCreatedHandles();
    Request again;
    ASSERT_EQ(MdPPWrapperCreateEx(amcm, &w, &again.dst, &again.src, &again.para, &second), MOK);
    EXPECT_EQ(second, first);
    EXPECT_EQ(PPDebugCreatedHandles(), made);
    MdPPWrapperDestroy(w);
}

TEST_F(Pool, AHeldHandleIsNotSharedAndADifferentRequestReplacesTheNextSlot)
{
    Request a;
    MdPPWrapper *w1 = nullptr, *w2 = nullptr;
    PPHandle h1 = nullptr, h2 = nullptr;
    ASSERT_EQ(MdPPWrapperCreateEx(amcm, &w1, &a.dst, &a.src, &a.para, &h1), MOK);
    Request b;
    ASSERT_EQ(MdPPWrapperCreateEx(amcm, &w2, &b.dst, &b.src, &b.para, &h2), MOK);
    EXPECT_NE(h1, h2); // the first is still held
    EXPECT_EQ(w1->lSlot, 0);
    EXPECT_EQ(w2->lSlot, 1);
    MdPPWrapperDestroy(w1);
    MdPPWrapperDestroy(w2);
    // Next index is 2 and slot 2 is empty: a request with another source size goes there.
    Request c;
    c.src.lWidth = 81;
    ASSERT_EQ(MdPPWrapperCreateEx(amcm, &w1, &c.dst, &c.src, &c.para, &h1), MOK);
    EXPECT_EQ(w1->lSlot, 2);
    MdPPWrapperDestroy(w1);
}

TEST_F(Pool, TheTwentyFirstConcurrentRequestLivesOutsideThePool)
{
    const int64_t liveBefore = PPDebugLiveHandles();
    std::vector<MdPPWrapper*> held;
    for (int i = 0; i < MDPP_POOL_SLOTS; ++i) {
        Request r;
        MdPPWrapper* w = nullptr;
        ASSERT_EQ(MdPPWrapperCreateEx(amcm, &w, &r.dst, &r.src, &r.para, nullptr), MOK);
        EXPECT_EQ(w->lOutsidePool, 0);
        held.push_back(w);
    }
    Request r;
    MdPPWrapper* extra = nullptr;
    PPHandle h = nullptr;
    ASSERT_EQ(MdPPWrapperCreateEx(amcm, &extra, &r.dst, &r.src, &r.para, &h), MOK);
    EXPECT_EQ(extra->lOutsidePool, 1);
    EXPECT_EQ(PPDebugLiveHandles(), liveBefore + 21);
    MdPPWrapperDestroy(extra); // destroys its own handle
    EXPECT_EQ(PPDebugLiveHandles(), liveBefore + 20);
    // A reserving request finds no slot while all twenty are held.
    MdPPWrapper* reserve = nullptr;
    EXPECT_EQ(MdPPWrapperCreate(amcm, &reserve), MERR_NO_MEMORY);
    EXPECT_EQ(reserve, nullptr);
    for (MdPPWrapper* w : held)
        MdPPWrapperDestroy(w);
    EXPECT_EQ(PPDebugLiveHandles(), liveBefore + 20); // pooled handles stay for reuse
    // Destroying the manager releases each pooled handle exactly once (AddressSanitizer would
    // report a second release, LeakSanitizer a missing one).
    ASSERT_EQ(AMCM_Destroy(amcm), MOK);
    amcm = nullptr;
    EXPECT_EQ(PPDebugLiveHandles(), liveBefore);
}

TEST_F(Pool, AReservedSlotHandsOutItsHandleWord)
{
    MdPPWrapper* w = nullptr;
    ASSERT_EQ(MdPPWrapperCreate(amcm, &w), MOK);
    PPHandle* address = nullptr;
    ASSERT_EQ(MdPPWrapperGetPPAddress(w, &address), MOK);
    ASSERT_NE(address, nullptr);
    EXPECT_EQ(*address, nullptr);
    Request r;
    ASSERT_EQ(MPPCreate(&r.dst, &r.src, &r.para, address), MOK);
    MdPPWrapperDestroy(w); // the handle stays in the pool and goes with the manager
    EXPECT_EQ(MdPPWrapperGetPPAddress(nullptr, &address), MERR_INVALID_PARAM);
}

TEST_F(Pool, AFailedCreationLeavesNoWrapperAndAFreeSlot)
{
    Request bad;
    bad.src.lColorID = 0x20000000; // no such class
    MdPPWrapper* w = reinterpret_cast<MdPPWrapper*>(1);
    EXPECT_EQ(MdPPWrapperCreateEx(amcm, &w, &bad.dst, &bad.src, &bad.para, nullptr), MERR_UNSUPPORTED);
    EXPECT_EQ(w, nullptr);
    EXPECT_EQ(MdPPWrapperCreateEx(amcm, &w, nullptr, &bad.src, &bad.para, nullptr), MERR_INVALID_PARAM);
    Request good;
    ASSERT_EQ(MdPPWrapperCreateEx(amcm, &w, &good.dst, &good.src, &good.para, nullptr), MOK);
    EXPECT_EQ(w->lSlot, 1); // slot 0 was tried and left empty; the next index moved on
    MdPPWrapperDestroy(w);
    EXPECT_EQ(MdPPWrapperDestroy(nullptr), MOK);
}

TEST_F(Pool, APaletteSourceNeedsItsOwnPalette)
{
    Request r;
    r.src.lColorID = 0x44000000;
    MdPPWrapper* w = nullptr;
    EXPECT_EQ(MdPPWrapperCreateEx(amcm, &w, &r.dst, &r.src, &r.para, nullptr), MERR_INVALID_PARAM);
    std::vector<MByte> palette(256 * 4, 7);
    r.src.pPalette = palette.data();
    ASSERT_EQ(MdPPWrapperCreateEx(amcm, &w, &r.dst, &r.src, &r.para, nullptr), MOK);
    EXPECT_EQ(r.src.pPalette, palette.data()); // the caller's palette is what the engine reads
    MdPPWrapperDestroy(w);
}

TEST_F(Pool, ColourIDOptionsApplyToYUVAndGreySides)
{
    const MInt64 enable = 1, options = 0x1000;
    ASSERT_EQ(AMCM_SetGlobalData(amcm, AMCM_GD_COLORID_OPTIONS_ENABLE, &enable, 8), MOK);
    ASSERT_EQ(AMCM_SetGlobalData(amcm, AMCM_GD_COLORID_OPTIONS, &options, 8), MOK);
    Request r;
    r.src.lColorID = 0x50002811;
    MdPPWrapper* w = nullptr;
    ASSERT_EQ(MdPPWrapperCreateEx_Plus(amcm, &w, &r.dst, &r.src, &r.para, nullptr), MOK);
    EXPECT_EQ(r.src.lColorID, 0x50002811); // copies were changed, not the caller's formats
    MdPPWrapperDestroy(w);
    // The stored request holds the changed ID: the same request through the plain path differs.
    Request plain;
    plain.src.lColorID = 0x50001811;
    PPHandle h1 = nullptr, h2 = nullptr;
    ASSERT_EQ(MdPPWrapperCreateEx(amcm, &w, &plain.dst, &plain.src, &plain.para, &h1), MOK);
    MdPPWrapperDestroy(w);
    Request viaPlus;
    viaPlus.src.lColorID = 0x50002811;
    ASSERT_EQ(MdPPWrapperCreateEx_Plus(amcm, &w, &viaPlus.dst, &viaPlus.src, &viaPlus.para, &h2), MOK);
    EXPECT_EQ(h1, h2);
    MdPPWrapperDestroy(w);
}

} // namespace

TEST_F(Pool, RequestsThatDifferOnlyInTheCoveredExtentGetTheirOwnHandles)
{
    Request a;
    MdPPWrapper* w = nullptr;
    PPHandle whole = nullptr, part = nullptr, again = nullptr;
    ASSERT_EQ(MdPPWrapperCreateEx(amcm, &w, &a.dst, &a.src, &a.para, &whole), MOK);
    MdPPWrapperDestroy(w);
    Request b;
    ASSERT_EQ(MdPPWrapperCreateWithExtent(amcm, &w, &b.dst, &b.src, &b.para, 79 * 65536 + 16384, 0, &part), MOK);
    EXPECT_NE(part, whole);
    MdPPWrapperDestroy(w);
    Request c;
    ASSERT_EQ(MdPPWrapperCreateWithExtent(amcm, &w, &c.dst, &c.src, &c.para, 79 * 65536 + 16384, 0, &again), MOK);
    EXPECT_EQ(again, part);
    MdPPWrapperDestroy(w);
    Request d;
    EXPECT_EQ(MdPPWrapperCreateWithExtent(amcm, &w, &d.dst, &d.src, &d.para, 81 * 65536, 0, &again), MERR_INVALID_PARAM);
    EXPECT_EQ(w, nullptr);
}
