// The virtual memory manager: swapping order, data surviving swap-out and swap-in, the swap folder,
// failures of the disk and of the budgets, and random sequences against a model.
#include "../../support/FileSizeLimit.h"

#include <gtest/gtest.h>

#include <csignal>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <random>
#include <string>
#include <vector>

#include <sys/resource.h>
#include <sys/stat.h>

#include "MRuntime.h"

namespace fs = std::filesystem;

namespace {

// A folder of the test's own under $TMPDIR, removed with everything in it.
class TempFolder {
public:
    TempFolder()
    {
        const char* base = std::getenv("TMPDIR");
        std::string pattern = std::string(base != nullptr && base[0] != '\0' ? base : "/tmp") + "/kpv-vmm-test-XXXXXX";
        std::vector<char> buffer(pattern.begin(), pattern.end());
        buffer.push_back('\0');
        if (::mkdtemp(buffer.data()) != nullptr)
            path_ = buffer.data();
    }
    ~TempFolder()
    {
        std::error_code ec;
        if (!path_.empty())
            fs::remove_all(path_, ec);
    }
    const std::string& path() const { return path_; }

private:
    std::string path_;
};

std::vector<std::string> entries(const fs::path& folder)
{
    std::vector<std::string> names;
    std::error_code ec;
    for (const auto& e : fs::directory_iterator(folder, ec))
        names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

// The manager's private swap folder: the only entry of the folder given to it.
fs::path swapFolder(const TempFolder& parent)
{
    const auto names = entries(parent.path());
    return names.size() == 1 ? fs::path(parent.path()) / names[0] : fs::path();
}

void fill(HVMM vmm, HVMMBLOCK block, MInt64 size, unsigned char seed)
{
    void* memory = nullptr;
    ASSERT_EQ(VMM_Lock2(vmm, block, &memory), MOK);
    auto* bytes = static_cast<unsigned char*>(memory);
    for (MInt64 i = 0; i < size; ++i)
        bytes[i] = static_cast<unsigned char>(seed + i * 7);
    ASSERT_EQ(VMM_Unlock(vmm, block, MTrue), MOK);
}

bool holds(HVMM vmm, HVMMBLOCK block, MInt64 size, unsigned char seed)
{
    void* memory = nullptr;
    if (VMM_Lock(vmm, block, &memory) != MOK)
        return false;
    const auto* bytes = static_cast<const unsigned char*>(memory);
    bool same = true;
    for (MInt64 i = 0; i < size && same; ++i)
        same = bytes[i] == static_cast<unsigned char>(seed + i * 7);
    VMM_Unlock(vmm, block, MFalse);
    return same;
}

VMM_INFO info(HVMM vmm)
{
    VMM_INFO i{};
    VMM_GetInfo(vmm, &i);
    return i;
}

class Vmm : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_FALSE(folder.path().empty());
        ASSERT_EQ(VMM_Create(nullptr, &vmm), MOK);
    }
    void TearDown() override
    {
        if (vmm != nullptr)
            EXPECT_EQ(VMM_Destroy(vmm), MOK);
    }
    void withStorage() { ASSERT_EQ(VMM_SetStoragePath(vmm, folder.path().c_str()), MOK); }

    TempFolder folder;
    HVMM vmm = nullptr;
};

TEST_F(Vmm, SwapFilesLiveInAPrivateFolderThatDestroyRemoves)
{
    EXPECT_EQ(VMM_SetStorageSpace(vmm, 1000), MOK);
    EXPECT_FALSE(VMM_IsSetStorageSpace(vmm));
    ASSERT_NO_FATAL_FAILURE(withStorage());
    EXPECT_TRUE(VMM_IsSetStorageSpace(vmm));

    const fs::path swap = swapFolder(folder);
    ASSERT_FALSE(swap.empty());
    EXPECT_EQ(swap.filename().string().rfind("vmm-", 0), 0u);
    struct stat st{};
    ASSERT_EQ(::stat(swap.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);
    EXPECT_TRUE(entries(swap).empty()) << "the storage test leaves no file behind";

    HVMMBLOCK a = nullptr, b = nullptr, c = nullptr;
    ASSERT_EQ(VMM_Alloc(vmm, 40, 0, &a), MOK);
    ASSERT_EQ(VMM_Alloc(vmm, 40, 0, &b), MOK);
    ASSERT_EQ(VMM_Alloc(vmm, 40, 0, &c), MOK);
    ASSERT_NO_FATAL_FAILURE(fill(vmm, a, 40, 1));
    ASSERT_NO_FATAL_FAILURE(fill(vmm, b, 40, 2));
    ASSERT_NO_FATAL_FAILURE(fill(vmm, c, 40, 3));
    ASSERT_EQ(VMM_SetMaxMem(vmm, 0), MOK);
    EXPECT_EQ(entries(swap), (std::vector<std::string>{"vmm_0.tmp", "vmm_1.tmp", "vmm_2.tmp"}));

    ASSERT_EQ(VMM_Destroy(vmm), MOK);
    vmm = nullptr;
    EXPECT_TRUE(entries(folder.path()).empty());
}

TEST_F(Vmm, TwoManagersOnOneFolderKeepTheirOwnData)
{
    HVMM other = nullptr;
    ASSERT_EQ(VMM_Create(nullptr, &other), MOK);
    ASSERT_NO_FATAL_FAILURE(withStorage());
    // A final slash adds no second separator.
    ASSERT_EQ(VMM_SetStoragePath(other, (folder.path() + "/").c_str()), MOK);
    EXPECT_EQ(entries(folder.path()).size(), 2u);

    HVMMBLOCK mine = nullptr, theirs = nullptr;
    ASSERT_EQ(VMM_Alloc(vmm, 64, 2, &mine), MOK);
    ASSERT_EQ(VMM_Alloc(other, 64, 2, &theirs), MOK);
    ASSERT_NO_FATAL_FAILURE(fill(vmm, mine, 64, 10));
    ASSERT_NO_FATAL_FAILURE(fill(other, theirs, 64, 99));
    ASSERT_EQ(VMM_SetMaxMem(vmm, 0), MOK);
    ASSERT_EQ(VMM_SetMaxMem(other, 0), MOK);
    ASSERT_EQ(VMM_SetMaxMem(vmm, 64), MOK);
    ASSERT_EQ(VMM_SetMaxMem(other, 64), MOK);
    EXPECT_TRUE(holds(vmm, mine, 64, 10));
    EXPECT_TRUE(holds(other, theirs, 64, 99));

    // A block belongs to its manager only.
    void* memory = nullptr;
    EXPECT_EQ(VMM_Lock(vmm, theirs, &memory), MERR_INVALID_PARAM);
    EXPECT_EQ(VMM_Free(vmm, theirs), MERR_INVALID_PARAM);
    EXPECT_EQ(VMM_Destroy(other), MOK);
    EXPECT_EQ(entries(folder.path()).size(), 1u);
}

TEST_F(Vmm, StoragePathFailuresLeaveNoPathSet)
{
    EXPECT_EQ(VMM_SetStoragePath(vmm, nullptr), MERR_INVALID_PARAM);
    EXPECT_EQ(VMM_SetStoragePath(vmm, ""), MERR_INVALID_PARAM);

    // A folder that cannot hold files: a path below a plain file.
    const std::string file = folder.path() + "/plain";
    std::FILE* f = std::fopen(file.c_str(), "wb");
    ASSERT_NE(f, nullptr);
    std::fclose(f);
    EXPECT_EQ(VMM_SetStoragePath(vmm, (file + "/swap").c_str()), MERR_FILE_OPEN);
    EXPECT_EQ(VMM_SetStoragePath(vmm, (folder.path() + "/missing/deeper").c_str()), MERR_FILE_OPEN);
    EXPECT_FALSE(VMM_IsSetStorageSpace(vmm));

    ASSERT_NO_FATAL_FAILURE(withStorage());
    EXPECT_EQ(VMM_SetStoragePath(vmm, folder.path().c_str()), MERR_REGISTRATION);
}

TEST_F(Vmm, BudgetsAndSwappingOfTwoBlocks)
{
    ASSERT_EQ(VMM_SetMaxMem(vmm, 100), MOK);
    HVMMBLOCK a = nullptr, b = nullptr;
    EXPECT_EQ(VMM_Alloc(vmm, 101, 0, &a), MERR_NO_MEMORY);
    EXPECT_EQ(VMM_Alloc(vmm, 0, 0, &a), MERR_INVALID_PARAM);
    EXPECT_EQ(VMM_Alloc(vmm, -5, 0, &a), MERR_INVALID_PARAM);
    EXPECT_EQ(VMM_Alloc(vmm, 60, 5, &a), MERR_INVALID_PARAM);
    EXPECT_EQ(VMM_Alloc(vmm, 60, -1, &a), MERR_INVALID_PARAM);
    EXPECT_EQ(VMM_Alloc(vmm, 60, 0, nullptr), MERR_INVALID_PARAM);

    // Without a storage path nothing can make room.
    ASSERT_EQ(VMM_Alloc(vmm, 60, 0, &a), MOK);
    ASSERT_EQ(VMM_Alloc(vmm, 60, 0, &b), MOK);
    ASSERT_NO_FATAL_FAILURE(fill(vmm, a, 60, 5));
    void* memory = nullptr;
    EXPECT_EQ(VMM_Lock(vmm, b, &memory), MERR_NO_MEMORY);
    EXPECT_EQ(info(vmm).memInUse, 60);
    ASSERT_EQ(VMM_Free(vmm, a), MOK);
    ASSERT_EQ(VMM_Free(vmm, b), MOK);
    EXPECT_EQ(info(vmm).memInUse, 0);

    ASSERT_NO_FATAL_FAILURE(withStorage());
    ASSERT_EQ(VMM_Alloc(vmm, 60, 0, &a), MOK);
    ASSERT_EQ(VMM_Alloc(vmm, 60, 0, &b), MOK);
    ASSERT_NO_FATAL_FAILURE(fill(vmm, a, 60, 5));
    ASSERT_EQ(VMM_ReadWriteReset(vmm), MOK);
    ASSERT_NO_FATAL_FAILURE(fill(vmm, b, 60, 6)); // swaps a out
    MInt64 read = -1, written = -1;
    ASSERT_EQ(VMM_ReadWriteGetBytes(vmm, &read, &written), MOK);
    EXPECT_EQ(read, 0);
    EXPECT_EQ(written, 60);
    VMM_INFO i = info(vmm);
    EXPECT_EQ(i.memInUse, 60);
    EXPECT_EQ(i.bytesOnDisk, 60);

    EXPECT_TRUE(holds(vmm, a, 60, 5)); // swaps b out, reads a back
    ASSERT_EQ(VMM_ReadWriteGetBytes(vmm, &read, &written), MOK);
    EXPECT_EQ(read, 60);
    EXPECT_EQ(written, 120);
    EXPECT_TRUE(holds(vmm, b, 60, 6));
    // a's file is still valid: giving up its memory again costs no write.
    ASSERT_EQ(VMM_ReadWriteGetBytes(vmm, &read, &written), MOK);
    EXPECT_EQ(written, 120);

    ASSERT_EQ(VMM_ReadWriteReset(vmm), MOK);
    MInt64 totalRead = 0, totalWritten = 0;
    ASSERT_EQ(VMM_ReadWriteGetTotalBytes(vmm, &totalRead, &totalWritten), MOK);
    EXPECT_EQ(totalRead, 120);
    EXPECT_EQ(totalWritten, 120);
    ASSERT_EQ(VMM_ReadWriteGetBytes(vmm, &read, nullptr), MOK);
    EXPECT_EQ(read, 0);

    // Two locked blocks of 60 never fit in 100.
    ASSERT_EQ(VMM_Lock(vmm, a, &memory), MOK);
    EXPECT_EQ(VMM_Lock(vmm, b, &memory), MERR_NO_MEMORY);
    EXPECT_EQ(info(vmm).lockedBytes, 60);
    // Lowering the budget below the locked bytes fails and keeps the old budget.
    EXPECT_EQ(VMM_SetMaxMem(vmm, 10), MERR_NO_MEMORY);
    EXPECT_EQ(info(vmm).maxMem, 100);
    EXPECT_EQ(VMM_SetMaxMem(vmm, -1), MERR_INVALID_PARAM);
}

TEST_F(Vmm, AllocationCountsWhatSwappingCanFree)
{
    ASSERT_NO_FATAL_FAILURE(withStorage());
    ASSERT_EQ(VMM_SetMaxMem(vmm, 100), MOK);
    ASSERT_EQ(VMM_SetStorageSpace(vmm, 50), MOK);
    HVMMBLOCK a = nullptr, b = nullptr, c = nullptr;
    ASSERT_EQ(VMM_Alloc(vmm, 80, 0, &a), MOK);
    ASSERT_NO_FATAL_FAILURE(fill(vmm, a, 80, 1));
    // 20 bytes of memory left plus 50 of disk.
    EXPECT_EQ(VMM_Alloc(vmm, 71, 0, &b), MERR_NO_MEMORY);
    ASSERT_EQ(VMM_Alloc(vmm, 70, 0, &b), MOK);
    // a does not fit the storage budget, so nothing can make room for b.
    void* memory = nullptr;
    EXPECT_EQ(VMM_Lock(vmm, b, &memory), MERR_NO_MEMORY);
    ASSERT_EQ(VMM_SetStorageSpace(vmm, 80), MOK);
    EXPECT_EQ(VMM_Lock(vmm, b, &memory), MOK);
    EXPECT_EQ(info(vmm).bytesOnDisk, 80);
    // 30 bytes of memory left, the disk budget used up.
    EXPECT_EQ(VMM_Alloc(vmm, 31, 0, &c), MERR_NO_MEMORY);
    EXPECT_EQ(VMM_Alloc(vmm, 30, 0, &c), MOK);
}

// Which blocks were written shows in which swap files exist (named by allocation order).
TEST_F(Vmm, SwappingWalksTheListsInOrder)
{
    ASSERT_NO_FATAL_FAILURE(withStorage());
    const fs::path swap = swapFolder(folder);
    ASSERT_EQ(VMM_SetMaxMem(vmm, 40), MOK);
    HVMMBLOCK b[4] = {};
    ASSERT_EQ(VMM_Alloc(vmm, 10, 4, &b[0]), MOK); // vmm_0
    ASSERT_EQ(VMM_Alloc(vmm, 10, 1, &b[1]), MOK); // vmm_1
    ASSERT_EQ(VMM_Alloc(vmm, 10, 1, &b[2]), MOK); // vmm_2
    ASSERT_EQ(VMM_Alloc(vmm, 10, 3, &b[3]), MOK); // vmm_3
    for (int i = 0; i < 4; ++i)
        ASSERT_NO_FATAL_FAILURE(fill(vmm, b[i], 10, static_cast<unsigned char>(i)));

    // List 1 gives up its oldest block first; locking b[1] again made b[2] the oldest.
    EXPECT_TRUE(holds(vmm, b[1], 10, 1));
    ASSERT_EQ(VMM_SetMaxMem(vmm, 30), MOK);
    EXPECT_EQ(entries(swap), std::vector<std::string>{"vmm_2.tmp"});
    ASSERT_EQ(VMM_SetMaxMem(vmm, 20), MOK);
    EXPECT_EQ(entries(swap), (std::vector<std::string>{"vmm_1.tmp", "vmm_2.tmp"}));

    // Lists 3 and 4 give up their most recent blocks first, and list 3 before list 4.
    ASSERT_EQ(VMM_SetPriority(vmm, b[1], 4), MOK);
    ASSERT_EQ(VMM_SetPriority(vmm, b[1], 4), MOK);
    ASSERT_EQ(VMM_SetPriority(vmm, b[1], 7), MERR_INVALID_PARAM);
    ASSERT_EQ(VMM_SetMaxMem(vmm, 100), MOK);
    EXPECT_TRUE(holds(vmm, b[1], 10, 1)); // list 4: b[0], b[1]
    ASSERT_EQ(VMM_SetMaxMem(vmm, 20), MOK);
    EXPECT_EQ(entries(swap), (std::vector<std::string>{"vmm_1.tmp", "vmm_2.tmp", "vmm_3.tmp"}));
    ASSERT_EQ(VMM_SetMaxMem(vmm, 10), MOK);
    EXPECT_EQ(info(vmm).memInUse, 10);
    // b[1] went, b[0] stays resident: reading it costs nothing.
    ASSERT_EQ(VMM_ReadWriteReset(vmm), MOK);
    EXPECT_TRUE(holds(vmm, b[0], 10, 0));
    MInt64 read = -1;
    VMM_ReadWriteGetBytes(vmm, &read, nullptr);
    EXPECT_EQ(read, 0);
}

TEST_F(Vmm, ChangedDataIsWrittenAgainAndOverwriteLocksSkipTheRead)
{
    ASSERT_NO_FATAL_FAILURE(withStorage());
    ASSERT_EQ(VMM_SetMaxMem(vmm, 64), MOK);
    HVMMBLOCK a = nullptr, b = nullptr;
    ASSERT_EQ(VMM_Alloc(vmm, 64, 2, &a), MOK);
    ASSERT_EQ(VMM_Alloc(vmm, 64, 2, &b), MOK);
    ASSERT_NO_FATAL_FAILURE(fill(vmm, a, 64, 1));
    ASSERT_NO_FATAL_FAILURE(fill(vmm, b, 64, 2)); // a on disk
    EXPECT_TRUE(holds(vmm, a, 64, 1)); // b on disk, a's file still valid
    EXPECT_EQ(info(vmm).bytesOnDisk, 128);

    // Changing a drops its file.
    void* memory = nullptr;
    ASSERT_EQ(VMM_Lock(vmm, a, &memory), MOK);
    std::memset(memory, 0xAB, 64);
    ASSERT_EQ(VMM_Unlock(vmm, a, MTrue), MOK);
    EXPECT_EQ(info(vmm).bytesOnDisk, 64);

    // Overwriting b: no read, and a later swap-out writes the new bytes.
    ASSERT_EQ(VMM_ReadWriteReset(vmm), MOK);
    ASSERT_EQ(VMM_Lock2(vmm, b, &memory), MOK);
    MInt64 read = -1, written = -1;
    VMM_ReadWriteGetBytes(vmm, &read, &written);
    EXPECT_EQ(read, 0);
    EXPECT_EQ(written, 64);
    EXPECT_EQ(info(vmm).bytesOnDisk, 64) << "b's stale file is gone, a's new one is there";
    std::memset(memory, 0xCD, 64);
    // Even unlocked without the changed flag the new bytes survive: the stale file was dropped.
    ASSERT_EQ(VMM_Unlock(vmm, b, MFalse), MOK);
    ASSERT_EQ(VMM_Lock(vmm, a, &memory), MOK);
    EXPECT_EQ(static_cast<unsigned char*>(memory)[63], 0xAB);
    ASSERT_EQ(VMM_Unlock(vmm, a, MFalse), MOK);
    ASSERT_EQ(VMM_Lock(vmm, b, &memory), MOK);
    EXPECT_EQ(static_cast<unsigned char*>(memory)[0], 0xCD);
    EXPECT_EQ(static_cast<unsigned char*>(memory)[63], 0xCD);
    ASSERT_EQ(VMM_Unlock(vmm, b, MFalse), MOK);
}

using kpv::test::FileSizeLimit;

TEST_F(Vmm, AFailedDiskWriteKeepsTheBlockInMemory)
{
    ASSERT_NO_FATAL_FAILURE(withStorage());
    const fs::path swap = swapFolder(folder);
    constexpr MInt64 kSize = 64 * 1024;
    HVMMBLOCK a = nullptr;
    ASSERT_EQ(VMM_Alloc(vmm, kSize, 0, &a), MOK);
    ASSERT_NO_FATAL_FAILURE(fill(vmm, a, kSize, 42));
    {
        FileSizeLimit limit(4096);
        EXPECT_EQ(VMM_SetMaxMem(vmm, 0), MERR_FILE_WRITE);
    }
    VMM_INFO i = info(vmm);
    EXPECT_EQ(i.maxMem, VMM_DEFAULT_MAX_MEM);
    EXPECT_EQ(i.memInUse, kSize);
    EXPECT_EQ(i.bytesOnDisk, 0);
    EXPECT_TRUE(entries(swap).empty()) << "no partial swap file is left";
    EXPECT_TRUE(holds(vmm, a, kSize, 42));

    // With room on the disk again the same swap succeeds.
    ASSERT_EQ(VMM_SetMaxMem(vmm, 0), MOK);
    ASSERT_EQ(VMM_SetMaxMem(vmm, kSize), MOK);
    EXPECT_TRUE(holds(vmm, a, kSize, 42));
}

TEST_F(Vmm, AnUnreadableSwapFileLeavesTheBlockSwappedOut)
{
    ASSERT_NO_FATAL_FAILURE(withStorage());
    const fs::path swap = swapFolder(folder);
    HVMMBLOCK a = nullptr;
    ASSERT_EQ(VMM_Alloc(vmm, 256, 0, &a), MOK);
    ASSERT_NO_FATAL_FAILURE(fill(vmm, a, 256, 7));
    ASSERT_EQ(VMM_SetMaxMem(vmm, 0), MOK);
    ASSERT_EQ(VMM_SetMaxMem(vmm, 1000), MOK);

    const fs::path file = swap / "vmm_0.tmp";
    const fs::path aside = swap / "aside";
    fs::rename(file, aside);
    void* memory = nullptr;
    EXPECT_EQ(VMM_Lock(vmm, a, &memory), MERR_FILE_READ);
    EXPECT_EQ(info(vmm).memInUse, 0);

    // A short file is no better.
    fs::copy_file(aside, file);
    fs::resize_file(file, 100);
    EXPECT_EQ(VMM_Lock(vmm, a, &memory), MERR_FILE_READ);
    EXPECT_EQ(info(vmm).memInUse, 0);
    EXPECT_EQ(info(vmm).bytesOnDisk, 256);

    fs::remove(file);
    fs::rename(aside, file);
    EXPECT_TRUE(holds(vmm, a, 256, 7));
}

struct NotifyLog {
    int calls = 0;
    MInt64 needed = 0;
    MResult answer = MOK;
    HVMM vmm = nullptr;
    HVMMBLOCK release = nullptr;
};

MResult onNotify(MInt64 reason, MInt64 needed, MVoid* data)
{
    auto* log = static_cast<NotifyLog*>(data);
    ++log->calls;
    log->needed = needed;
    EXPECT_EQ(reason, 0);
    if (log->release != nullptr)
        VMM_Unlock(log->vmm, log->release, MFalse);
    return log->answer;
}

TEST_F(Vmm, NotifyIsAskedOnceWhenSwappingFallsShort)
{
    ASSERT_NO_FATAL_FAILURE(withStorage());
    ASSERT_EQ(VMM_SetMaxMem(vmm, 100), MOK);
    NotifyLog log;
    log.vmm = vmm;
    ASSERT_EQ(VMM_SetNotify(vmm, onNotify, &log), MOK);
    HVMMBLOCK a = nullptr, b = nullptr;
    ASSERT_EQ(VMM_Alloc(vmm, 70, 0, &a), MOK);
    ASSERT_EQ(VMM_Alloc(vmm, 70, 0, &b), MOK);
    void* memory = nullptr;
    ASSERT_EQ(VMM_Lock(vmm, a, &memory), MOK);

    log.answer = 77;
    EXPECT_EQ(VMM_Lock(vmm, b, &memory), 77);
    EXPECT_EQ(log.calls, 1);
    EXPECT_EQ(log.needed, 40);

    log.answer = MOK;
    EXPECT_EQ(VMM_Lock(vmm, b, &memory), MERR_NO_MEMORY);
    EXPECT_EQ(log.calls, 2);

    // The callback frees room by unlocking a; the retry then swaps a out.
    log.release = a;
    EXPECT_EQ(VMM_Lock(vmm, b, &memory), MOK);
    EXPECT_EQ(log.calls, 3);
    EXPECT_EQ(info(vmm).bytesOnDisk, 70);
}

TEST_F(Vmm, RefusesNullAndBadArguments)
{
    HVMMBLOCK block = nullptr;
    void* memory = nullptr;
    VMM_INFO i{};
    MInt64 n = 0;
    EXPECT_EQ(VMM_Create(nullptr, nullptr), MERR_INVALID_PARAM);
    EXPECT_EQ(VMM_Destroy(nullptr), MERR_INVALID_PARAM);
    EXPECT_EQ(VMM_SetMaxMem(nullptr, 1), MERR_INVALID_PARAM);
    EXPECT_EQ(VMM_SetStoragePath(nullptr, "/tmp"), MERR_INVALID_PARAM);
    EXPECT_EQ(VMM_SetStorageSpace(nullptr, 1), MERR_INVALID_PARAM);
    EXPECT_EQ(VMM_SetStorageSpace(vmm, -1), MERR_INVALID_PARAM);
    EXPECT_FALSE(VMM_IsSetStorageSpace(nullptr));
    EXPECT_EQ(VMM_Alloc(nullptr, 1, 0, &block), MERR_INVALID_PARAM);
    EXPECT_EQ(VMM_Lock(nullptr, block, &memory), MERR_INVALID_PARAM);
    EXPECT_EQ(VMM_Lock(vmm, nullptr, &memory), MERR_INVALID_PARAM);
    EXPECT_EQ(VMM_Lock2(vmm, nullptr, &memory), MERR_INVALID_PARAM);
    EXPECT_EQ(VMM_Unlock(vmm, nullptr, MFalse), MERR_INVALID_PARAM);
    EXPECT_EQ(VMM_Free(vmm, nullptr), MERR_INVALID_PARAM);
    EXPECT_EQ(VMM_SetPriority(vmm, nullptr, 0), MERR_INVALID_PARAM);
    EXPECT_EQ(VMM_SetNotify(nullptr, nullptr, nullptr), MERR_INVALID_PARAM);
    EXPECT_EQ(VMM_GetInfo(vmm, nullptr), MERR_INVALID_PARAM);
    EXPECT_EQ(VMM_GetInfo(nullptr, &i), MERR_INVALID_PARAM);
    EXPECT_EQ(VMM_ReadWriteReset(nullptr), MERR_INVALID_PARAM);
    EXPECT_EQ(VMM_ReadWriteGetBytes(nullptr, &n, &n), MERR_INVALID_PARAM);
    EXPECT_EQ(VMM_ReadWriteGetTotalBytes(nullptr, &n, &n), MERR_INVALID_PARAM);

    ASSERT_EQ(VMM_Alloc(vmm, 8, 0, &block), MOK);
    EXPECT_EQ(VMM_Lock(vmm, block, nullptr), MERR_INVALID_PARAM);
    // Huge sizes are refused by the budget, not by an overflowing sum.
    ASSERT_EQ(VMM_SetMaxMem(vmm, INT64_MAX), MOK);
    ASSERT_EQ(VMM_SetStorageSpace(vmm, INT64_MAX), MOK);
    HVMMBLOCK huge = nullptr;
    EXPECT_EQ(VMM_Alloc(vmm, INT64_MAX, 0, &huge), MOK);
    EXPECT_EQ(VMM_Free(vmm, huge), MOK);
    ASSERT_EQ(VMM_SetMaxMem(vmm, VMM_DEFAULT_MAX_MEM), MOK);
    EXPECT_EQ(VMM_Alloc(vmm, INT64_MAX, 0, &huge), MERR_NO_MEMORY);
}

TEST(VmmMemoryContext, RunsOutOfAStaticBufferCleanly)
{
    alignas(64) static unsigned char buffer[4096];
    MHandle context = MMemMgrCreate(buffer, sizeof(buffer));
    ASSERT_NE(context, nullptr);
    HVMM vmm = nullptr;
    ASSERT_EQ(VMM_Create(context, &vmm), MOK);
    std::vector<HVMMBLOCK> blocks;
    MResult r = MOK;
    while (r == MOK && blocks.size() < 1000) {
        HVMMBLOCK b = nullptr;
        r = VMM_Alloc(vmm, 200, 0, &b);
        if (r == MOK) {
            void* memory = nullptr;
            r = VMM_Lock(vmm, b, &memory);
            if (r == MOK) {
                std::memset(memory, 0x5A, 200);
                VMM_Unlock(vmm, b, MTrue);
            }
            blocks.push_back(b);
        }
    }
    EXPECT_EQ(r, MERR_NO_MEMORY);
    EXPECT_GT(blocks.size(), 2u);
    EXPECT_EQ(VMM_Destroy(vmm), MOK);
    MMemMgrDestroy(context);
}

// Random sequences of every operation against a model of the blocks' contents.
TEST_F(Vmm, RandomSequencesMatchAModel)
{
    ASSERT_NO_FATAL_FAILURE(withStorage());
    ASSERT_EQ(VMM_SetMaxMem(vmm, 2000), MOK);
    std::mt19937 rng(20240611);
    struct Model {
        std::vector<unsigned char> bytes;
        bool locked = false;
        bool written = false; // a block's bytes are undefined until first unlocked
        void* memory = nullptr;
    };
    std::map<HVMMBLOCK, Model> model;
    auto pick = [&]() {
        auto it = model.begin();
        std::advance(it, rng() % model.size());
        return it;
    };

    for (int step = 0; step < 4000; ++step) {
        const unsigned op = rng() % 8;
        if (op == 0 || model.empty()) {
            HVMMBLOCK b = nullptr;
            const MInt64 size = 1 + rng() % 700;
            const MResult r = VMM_Alloc(vmm, size, static_cast<MInt32>(rng() % 5), &b);
            if (r == MOK)
                model[b].bytes.assign(static_cast<size_t>(size), 0);
            else
                ASSERT_EQ(r, MERR_NO_MEMORY);
        } else if (op <= 2) {
            auto it = pick();
            void* memory = nullptr;
            const bool overwrite = rng() % 3 == 0;
            const MResult r = overwrite ? VMM_Lock2(vmm, it->first, &memory) : VMM_Lock(vmm, it->first, &memory);
            if (r != MOK) {
                ASSERT_EQ(r, MERR_NO_MEMORY);
                ASSERT_FALSE(it->second.locked);
                continue;
            }
            if (!overwrite && it->second.memory == nullptr && it->second.written)
                ASSERT_EQ(std::memcmp(memory, it->second.bytes.data(), it->second.bytes.size()), 0) << "step " << step;
            it->second.locked = true;
            it->second.memory = memory;
        } else if (op <= 4) {
            auto it = pick();
            Model& m = it->second;
            if (!m.locked)
                continue;
            if (m.memory != nullptr && rng() % 2 == 0) {
                for (auto& byte : m.bytes)
                    byte = static_cast<unsigned char>(rng());
                std::memcpy(m.memory, m.bytes.data(), m.bytes.size());
                ASSERT_EQ(VMM_Unlock(vmm, it->first, MTrue), MOK);
            } else {
                // An overwrite lock hands out memory the caller must fill before unlocking.
                std::memcpy(m.memory, m.bytes.data(), m.bytes.size());
                ASSERT_EQ(VMM_Unlock(vmm, it->first, MFalse), MOK);
            }
            m.locked = false;
            m.written = true;
            m.memory = nullptr;
        } else if (op == 5) {
            auto it = pick();
            ASSERT_EQ(VMM_Free(vmm, it->first), MOK);
            model.erase(it);
        } else if (op == 6) {
            ASSERT_EQ(VMM_SetPriority(vmm, pick()->first, static_cast<MInt32>(rng() % 5)), MOK);
        } else {
            const MInt64 budget = 700 + rng() % 2000;
            const MResult r = VMM_SetMaxMem(vmm, budget);
            ASSERT_TRUE(r == MOK || r == MERR_NO_MEMORY) << r;
        }

        // Memory handed out stays where it is while locked; the sums agree with the model.
        const VMM_INFO i = info(vmm);
        MInt64 locked = 0;
        for (const auto& [block, m] : model)
            if (m.locked)
                locked += static_cast<MInt64>(m.bytes.size());
        ASSERT_EQ(i.lockedBytes, locked);
        ASSERT_LE(i.memInUse, i.maxMem);
        ASSERT_GE(i.memInUse, locked);
        ASSERT_GE(i.bytesOnDisk, 0);
    }

    // Everything unlocked still reads back as the model says.
    ASSERT_EQ(VMM_SetMaxMem(vmm, 100000), MOK);
    for (auto& [block, m] : model) {
        if (m.locked) {
            std::memcpy(m.memory, m.bytes.data(), m.bytes.size());
            ASSERT_EQ(VMM_Unlock(vmm, block, MFalse), MOK);
        }
    }
    for (auto& [block, m] : model) {
        void* memory = nullptr;
        ASSERT_EQ(VMM_Lock(vmm, block, &memory), MOK);
        if (m.written || m.locked)
            EXPECT_EQ(std::memcmp(memory, m.bytes.data(), m.bytes.size()), 0);
    }
    MInt64 read = 0, written = 0;
    VMM_ReadWriteGetTotalBytes(vmm, &read, &written);
    EXPECT_GT(read, 0);
    EXPECT_GT(written, 0);
}

} // namespace
