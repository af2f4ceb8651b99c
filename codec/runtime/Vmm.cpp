// The virtual memory manager: blocks in five priority lists, a resident budget, and swap files in
// a private folder for the blocks that had to give up their memory.
//
// A block's swap file is "valid" while it holds the block's current data. A valid file lets a
// resident block give up its memory at once; unlocking with the changed flag (or locking for
// overwrite) drops the file, so the data is written again the next time room is needed.
#include <cinttypes>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <unistd.h>

#include "MMemory.h"
#include "MStream.h"
#include "MVmm.h"

struct VMMBlockRecord {
    MInt64 size;
    MVoid* memory;  // null while not resident
    MChar* swapPath; // null when the manager has no storage path
    bool onDisk;    // the swap file holds the block's current data
    MDWord flags;
    MInt32 priority;
    VMMBlockRecord* prev;
    VMMBlockRecord* next;
    VMMRecord* owner; // lets every entry point refuse a block of another manager
};

namespace {

constexpr MDWord kLocked = 1;
// Room after the storage path for "/vmm_<up to 20 digits>.tmp" and the terminator.
constexpr size_t kNameRoom = 32;
constexpr char kPrivateFolderTemplate[] = "vmm-XXXXXX";

struct BlockList {
    VMMBlockRecord* head;
    VMMBlockRecord* tail;
};

} // namespace

struct VMMRecord {
    MHandle memContext;
    BlockList lists[VMM_PRIORITY_COUNT];
    MInt64 maxMem;
    MChar* storagePath; // the private swap folder, without a final "/"
    MInt64 storageSpace;
    size_t pathLength;
    size_t pathBufferLength;
    // 64-bit so that the names never repeat within one manager's life, even past 2^31 blocks.
    MInt64 nextFileIndex;
    MInt64 memInUse;
    MInt64 bytesOnDisk;
    VMM_NOTIFY notify;
    MVoid* notifyData;
    MInt64 bytesRead;
    MInt64 bytesWritten;
    MInt64 totalBytesRead;
    MInt64 totalBytesWritten;
};

namespace {

bool validPriority(MInt32 priority)
{
    return priority >= 0 && priority < VMM_PRIORITY_COUNT;
}

bool ownBlock(const VMMRecord* vmm, const VMMBlockRecord* block)
{
    return block != nullptr && block->owner == vmm && validPriority(block->priority);
}

void append(VMMRecord* vmm, VMMBlockRecord* block)
{
    BlockList& list = vmm->lists[block->priority];
    block->prev = list.tail;
    block->next = nullptr;
    if (list.tail != nullptr)
        list.tail->next = block;
    else
        list.head = block;
    list.tail = block;
}

void unlink(VMMRecord* vmm, VMMBlockRecord* block)
{
    BlockList& list = vmm->lists[block->priority];
    if (block->prev != nullptr)
        block->prev->next = block->next;
    else
        list.head = block->next;
    if (block->next != nullptr)
        block->next->prev = block->prev;
    else
        list.tail = block->prev;
    block->prev = block->next = nullptr;
}

void moveToEnd(VMMRecord* vmm, VMMBlockRecord* block)
{
    if (block->next == nullptr)
        return;
    unlink(vmm, block);
    append(vmm, block);
}

// a - b + c - d without overflow, saturated to the MInt64 range.
MInt64 headroom(MInt64 a, MInt64 b, MInt64 c, MInt64 d)
{
    const __int128 sum = static_cast<__int128>(a) - b + static_cast<__int128>(c) - d;
    if (sum > INT64_MAX)
        return INT64_MAX;
    if (sum < INT64_MIN)
        return INT64_MIN;
    return static_cast<MInt64>(sum);
}

void formatSwapName(MChar* dst, size_t dstSize, const MChar* folder, size_t folderLength, MInt64 index)
{
    if (folderLength > 0 && folder[folderLength - 1] == '/')
        std::snprintf(dst, dstSize, "%svmm_%" PRId64 ".tmp", folder, index);
    else
        std::snprintf(dst, dstSize, "%s%cvmm_%" PRId64 ".tmp", folder, '/', index);
}

void dropSwapFile(VMMRecord* vmm, VMMBlockRecord* block)
{
    if (!block->onDisk)
        return;
    MStreamFileDeleteS(block->swapPath);
    block->onDisk = false;
    vmm->bytesOnDisk -= block->size;
}

void countRead(VMMRecord* vmm, MInt64 bytes)
{
    if (bytes <= 0)
        return;
    vmm->bytesRead += bytes;
    vmm->totalBytesRead += bytes;
}

void countWritten(VMMRecord* vmm, MInt64 bytes)
{
    if (bytes <= 0)
        return;
    vmm->bytesWritten += bytes;
    vmm->totalBytesWritten += bytes;
}

// Writes the block's memory to its swap file. A full disk often shows only when the buffered data
// is flushed, so the close counts as part of the write; a partial file is never left behind.
MResult writeSwapFile(VMMRecord* vmm, VMMBlockRecord* block)
{
    MSTREAM stream = MStreamOpenFromFileS(block->swapPath, MSTREAM_MODE_WRITE);
    if (stream == nullptr)
        return MERR_FILE_WRITE;
    const MInt64 written = MStreamWrite(stream, block->memory, block->size);
    countWritten(vmm, written);
    const bool closed = MStreamClose(stream) != MFalse;
    if (written != block->size || !closed) {
        MStreamFileDeleteS(block->swapPath);
        return MERR_FILE_WRITE;
    }
    block->onDisk = true;
    vmm->bytesOnDisk += block->size;
    return MOK;
}

MResult readSwapFile(VMMRecord* vmm, VMMBlockRecord* block, MVoid* memory)
{
    MSTREAM stream = MStreamOpenFromFileS(block->swapPath, MSTREAM_MODE_READ);
    if (stream == nullptr)
        return MERR_FILE_READ;
    const MInt64 got = MStreamRead(stream, memory, block->size);
    countRead(vmm, got);
    MStreamClose(stream);
    return got == block->size ? MOK : MERR_FILE_READ;
}

// Swaps unlocked blocks out until the memory in use is at most `target`.
MResult swapOut(VMMRecord* vmm, MInt64 target, bool mayNotify)
{
    if (vmm->memInUse <= target)
        return MOK;
    if (vmm->storagePath == nullptr)
        return MERR_NO_MEMORY;

    bool writeFailed = false;
    for (MInt32 p = 0; p < VMM_PRIORITY_COUNT; ++p) {
        // The lower lists give up their oldest blocks first; the upper two their most recently
        // locked ones.
        const bool forwards = p < 3;
        VMMBlockRecord* block = forwards ? vmm->lists[p].head : vmm->lists[p].tail;
        while (block != nullptr) {
            VMMBlockRecord* following = forwards ? block->next : block->prev;
            if ((block->flags & kLocked) == 0 && block->memory != nullptr && block->swapPath != nullptr) {
                if (!block->onDisk) {
                    // The storage budget bounds what may sit on disk.
                    if (block->size > vmm->storageSpace - vmm->bytesOnDisk) {
                        block = following;
                        continue;
                    }
                    if (writeSwapFile(vmm, block) != MOK)
                        writeFailed = true;
                }
                if (block->onDisk) {
                    MMemFree(vmm->memContext, block->memory);
                    block->memory = nullptr;
                    vmm->memInUse -= block->size;
                    if (vmm->memInUse <= target)
                        return MOK;
                }
            }
            block = following;
        }
    }

    const MResult result = writeFailed ? MERR_FILE_WRITE : MERR_NO_MEMORY;
    if (result == MERR_NO_MEMORY && mayNotify && vmm->notify != nullptr) {
        const MResult answer = vmm->notify(0, vmm->memInUse - target, vmm->notifyData);
        if (answer != MOK)
            return answer;
        return swapOut(vmm, target, false);
    }
    return result;
}

void releaseBlock(VMMRecord* vmm, VMMBlockRecord* block)
{
    if (block->memory != nullptr) {
        MMemFree(vmm->memContext, block->memory);
        vmm->memInUse -= block->size;
    }
    dropSwapFile(vmm, block);
    if (block->swapPath != nullptr)
        MMemFree(vmm->memContext, block->swapPath);
    MMemFree(vmm->memContext, block);
}

MResult lockBlock(VMMRecord* vmm, VMMBlockRecord* block, MVoid** ppMemory, bool readBack)
{
    if (vmm == nullptr)
        return MERR_INVALID_PARAM;
    if (ppMemory == nullptr || !ownBlock(vmm, block))
        return MERR_INVALID_PARAM;

    if (block->memory == nullptr) {
        if (block->size > vmm->maxMem)
            return MERR_NO_MEMORY;
        if (vmm->maxMem - vmm->memInUse < block->size) {
            const MResult r = swapOut(vmm, vmm->maxMem - block->size, true);
            if (r != MOK)
                return r;
        }
        if (vmm->maxMem - vmm->memInUse < block->size)
            return MERR_NO_MEMORY;
        if (static_cast<uint64_t>(block->size) > SIZE_MAX)
            return MERR_NO_MEMORY;
        MVoid* memory = MMemAlloc(vmm->memContext, static_cast<size_t>(block->size));
        if (memory == nullptr)
            return MERR_NO_MEMORY;
        if (block->onDisk) {
            if (readBack) {
                const MResult r = readSwapFile(vmm, block, memory);
                if (r != MOK) {
                    MMemFree(vmm->memContext, memory);
                    return r;
                }
            } else {
                // The caller overwrites the block: the file no longer describes the memory.
                dropSwapFile(vmm, block);
            }
        }
        block->memory = memory;
        vmm->memInUse += block->size;
    }
    block->flags |= kLocked;
    *ppMemory = block->memory;
    moveToEnd(vmm, block);
    return MOK;
}

} // namespace

extern "C" {

MResult VMM_Create(MHandle hMemContext, HVMM* phVmm)
{
    if (phVmm == nullptr)
        return MERR_INVALID_PARAM;
    auto* vmm = static_cast<VMMRecord*>(MMemAlloc(hMemContext, sizeof(VMMRecord)));
    if (vmm == nullptr)
        return MERR_NO_MEMORY;
    std::memset(vmm, 0, sizeof(*vmm));
    vmm->memContext = hMemContext;
    vmm->maxMem = VMM_DEFAULT_MAX_MEM;
    vmm->storageSpace = VMM_DEFAULT_STORAGE_SPACE;
    *phVmm = vmm;
    return MOK;
}

MResult VMM_Destroy(HVMM hVmm)
{
    if (hVmm == nullptr)
        return MERR_INVALID_PARAM;
    for (BlockList& list : hVmm->lists) {
        VMMBlockRecord* block = list.head;
        while (block != nullptr) {
            VMMBlockRecord* next = block->next;
            releaseBlock(hVmm, block);
            block = next;
        }
        list.head = list.tail = nullptr;
    }
    if (hVmm->storagePath != nullptr) {
        ::rmdir(hVmm->storagePath);
        MMemFree(hVmm->memContext, hVmm->storagePath);
    }
    MMemFree(hVmm->memContext, hVmm);
    return MOK;
}

MResult VMM_SetMaxMem(HVMM hVmm, MInt64 bytes)
{
    if (hVmm == nullptr || bytes < 0)
        return MERR_INVALID_PARAM;
    if (hVmm->memInUse > bytes) {
        const MResult r = swapOut(hVmm, bytes, true);
        if (r != MOK)
            return r;
    }
    hVmm->maxMem = bytes;
    return MOK;
}

MResult VMM_SetStoragePath(HVMM hVmm, const MChar* szFolder)
{
    if (hVmm == nullptr)
        return MERR_INVALID_PARAM;
    if (hVmm->storagePath != nullptr)
        return MERR_REGISTRATION;
    if (szFolder == nullptr || szFolder[0] == '\0')
        return MERR_INVALID_PARAM;

    // The swap files go to a folder of our own inside the given one: the given folder may be
    // shared (the system's temporary folder, another manager's folder), and predictable names
    // there could be taken over by a link or clobbered by another manager's files.
    const size_t folderLength = std::strlen(szFolder);
    const bool hasSlash = szFolder[folderLength - 1] == '/';
    const size_t privateLength = folderLength + (hasSlash ? 0 : 1) + sizeof(kPrivateFolderTemplate) - 1;
    if (privateLength > SIZE_MAX - kNameRoom - 1)
        return MERR_INVALID_PARAM;
    auto* path = static_cast<MChar*>(MMemAlloc(hVmm->memContext, privateLength + 1));
    if (path == nullptr)
        return MERR_NO_MEMORY;
    std::snprintf(path, privateLength + 1, "%s%s%s", szFolder, hasSlash ? "" : "/", kPrivateFolderTemplate);
    if (::mkdtemp(path) == nullptr) {
        MMemFree(hVmm->memContext, path);
        return MERR_FILE_OPEN;
    }

    const size_t nameSize = privateLength + kNameRoom + 1;
    auto* name = static_cast<MChar*>(MMemAlloc(hVmm->memContext, nameSize));
    if (name == nullptr) {
        ::rmdir(path);
        MMemFree(hVmm->memContext, path);
        return MERR_NO_MEMORY;
    }
    formatSwapName(name, nameSize, path, privateLength, 0);

    MResult result = MOK;
    MSTREAM stream = MStreamOpenFromFileS(name, MSTREAM_MODE_WRITE);
    if (stream == nullptr) {
        result = MERR_FILE_OPEN;
    } else {
        const bool written = MStreamWrite(stream, "test", 4) == 4;
        const bool closed = MStreamClose(stream) != MFalse;
        if (!written || !closed) {
            result = MERR_FILE_WRITE;
        } else {
            stream = MStreamOpenFromFileS(name, MSTREAM_MODE_READ);
            if (stream == nullptr) {
                result = MERR_FILE_OPEN;
            } else {
                char back[4] = {};
                if (MStreamRead(stream, back, 4) != 4 || std::memcmp(back, "test", 4) != 0)
                    result = MERR_FILE_READ;
                MStreamClose(stream);
            }
        }
    }
    MStreamFileDeleteS(name);
    MMemFree(hVmm->memContext, name);

    if (result != MOK) {
        ::rmdir(path);
        MMemFree(hVmm->memContext, path);
        return result;
    }
    hVmm->storagePath = path;
    hVmm->pathLength = privateLength;
    hVmm->pathBufferLength = privateLength + kNameRoom;
    return MOK;
}

MResult VMM_SetStorageSpace(HVMM hVmm, MInt64 bytes)
{
    if (hVmm == nullptr || bytes < 0)
        return MERR_INVALID_PARAM;
    hVmm->storageSpace = bytes;
    return MOK;
}

MBool VMM_IsSetStorageSpace(HVMM hVmm)
{
    return (hVmm != nullptr && hVmm->storagePath != nullptr) ? MTrue : MFalse;
}

MResult VMM_Alloc(HVMM hVmm, MInt64 size, MInt32 priority, HVMMBLOCK* phBlock)
{
    if (hVmm == nullptr || size <= 0 || phBlock == nullptr)
        return MERR_INVALID_PARAM;
    if (size > hVmm->maxMem ||
        size > headroom(hVmm->maxMem, hVmm->memInUse, hVmm->storageSpace, hVmm->bytesOnDisk))
        return MERR_NO_MEMORY;
    if (!validPriority(priority))
        return MERR_INVALID_PARAM;

    auto* block = static_cast<VMMBlockRecord*>(MMemAlloc(hVmm->memContext, sizeof(VMMBlockRecord)));
    if (block == nullptr)
        return MERR_NO_MEMORY;
    std::memset(block, 0, sizeof(*block));
    block->size = size;
    block->priority = priority;
    block->owner = hVmm;
    if (hVmm->storagePath != nullptr) {
        block->swapPath = static_cast<MChar*>(MMemAlloc(hVmm->memContext, hVmm->pathBufferLength + 1));
        if (block->swapPath == nullptr) {
            MMemFree(hVmm->memContext, block);
            return MERR_NO_MEMORY;
        }
        formatSwapName(block->swapPath, hVmm->pathBufferLength + 1, hVmm->storagePath, hVmm->pathLength,
                       hVmm->nextFileIndex++);
    }
    append(hVmm, block);
    *phBlock = block;
    return MOK;
}

MResult VMM_Lock(HVMM hVmm, HVMMBLOCK hBlock, MVoid** ppMemory)
{
    return lockBlock(hVmm, hBlock, ppMemory, true);
}

MResult VMM_Lock2(HVMM hVmm, HVMMBLOCK hBlock, MVoid** ppMemory)
{
    return lockBlock(hVmm, hBlock, ppMemory, false);
}

MResult VMM_Unlock(HVMM hVmm, HVMMBLOCK hBlock, MBool changed)
{
    if (hVmm == nullptr || !ownBlock(hVmm, hBlock))
        return MERR_INVALID_PARAM;
    if (changed && hBlock->memory != nullptr)
        dropSwapFile(hVmm, hBlock);
    hBlock->flags &= ~kLocked;
    return MOK;
}

MResult VMM_Free(HVMM hVmm, HVMMBLOCK hBlock)
{
    if (hVmm == nullptr || !ownBlock(hVmm, hBlock))
        return MERR_INVALID_PARAM;
    unlink(hVmm, hBlock);
    releaseBlock(hVmm, hBlock);
    return MOK;
}

MResult VMM_SetPriority(HVMM hVmm, HVMMBLOCK hBlock, MInt32 priority)
{
    if (hVmm == nullptr || !ownBlock(hVmm, hBlock) || !validPriority(priority))
        return MERR_INVALID_PARAM;
    if (hBlock->priority == priority)
        return MOK;
    unlink(hVmm, hBlock);
    hBlock->priority = priority;
    append(hVmm, hBlock);
    return MOK;
}

MResult VMM_SetNotify(HVMM hVmm, VMM_NOTIFY fnNotify, MVoid* pUserData)
{
    if (hVmm == nullptr)
        return MERR_INVALID_PARAM;
    hVmm->notify = fnNotify;
    hVmm->notifyData = pUserData;
    return MOK;
}

MResult VMM_GetInfo(HVMM hVmm, VMM_INFO* pInfo)
{
    if (hVmm == nullptr || pInfo == nullptr)
        return MERR_INVALID_PARAM;
    MInt64 locked = 0;
    for (const BlockList& list : hVmm->lists)
        for (const VMMBlockRecord* b = list.head; b != nullptr; b = b->next)
            if ((b->flags & kLocked) != 0 && b->memory != nullptr)
                locked += b->size;
    pInfo->maxMem = hVmm->maxMem;
    pInfo->storageSpace = hVmm->storageSpace;
    pInfo->memInUse = hVmm->memInUse;
    pInfo->bytesOnDisk = hVmm->bytesOnDisk;
    pInfo->lockedBytes = locked;
    return MOK;
}

MResult VMM_ReadWriteReset(HVMM hVmm)
{
    if (hVmm == nullptr)
        return MERR_INVALID_PARAM;
    hVmm->bytesRead = 0;
    hVmm->bytesWritten = 0;
    return MOK;
}

MResult VMM_ReadWriteGetBytes(HVMM hVmm, MInt64* pRead, MInt64* pWritten)
{
    if (hVmm == nullptr)
        return MERR_INVALID_PARAM;
    if (pRead != nullptr)
        *pRead = hVmm->bytesRead;
    if (pWritten != nullptr)
        *pWritten = hVmm->bytesWritten;
    return MOK;
}

MResult VMM_ReadWriteGetTotalBytes(HVMM hVmm, MInt64* pRead, MInt64* pWritten)
{
    if (hVmm == nullptr)
        return MERR_INVALID_PARAM;
    if (pRead != nullptr)
        *pRead = hVmm->totalBytesRead;
    if (pWritten != nullptr)
        *pWritten = hVmm->totalBytesWritten;
    return MOK;
}

} // extern "C"
