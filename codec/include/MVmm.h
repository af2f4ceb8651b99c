/* The virtual memory manager: lets a codec hold more block data than a memory budget allows by
 * writing blocks that are not locked to swap files and reading them back when they are locked
 * again.
 *
 * Blocks belong to one of five priority lists (0 to 4). When room is needed the lists are walked
 * in the order 0, 1, 2, 3, 4; lists 0 to 2 from their oldest block, lists 3 and 4 from their most
 * recently locked block. Locking a block moves it to the end of its list.
 *
 * Swap files live in a private folder that the manager makes (mode 0700) inside the folder given
 * to VMM_SetStoragePath, so two managers, or two processes, given the same folder never share a
 * swap file. The files and the private folder are removed when the manager is destroyed.
 *
 * Every function returns an MResult; a null manager gives MERR_INVALID_PARAM. A manager belongs to
 * one thread. */
#ifndef KPV_CODEC_MVMM_H
#define KPV_CODEC_MVMM_H

#include "MTypes.h"

#ifdef __cplusplus
extern "C" {
#endif

typedef struct VMMRecord* HVMM;
typedef struct VMMBlockRecord* HVMMBLOCK;

#define VMM_PRIORITY_COUNT 5
#define VMM_DEFAULT_MAX_MEM 0x7FFFFFFF
#define VMM_DEFAULT_STORAGE_SPACE 0x7FFFFFFF

/* Asked for help when swapping cannot bring the memory in use down far enough. `reason` is 0;
 * `bytesNeeded` is how far the memory in use is above the target. A non-zero answer is returned
 * to the caller as the result; 0 means "try again" (the manager swaps out once more). */
typedef MResult (*VMM_NOTIFY)(MInt64 reason, MInt64 bytesNeeded, MVoid* pUserData);

typedef struct VMM_INFO {
    MInt64 maxMem;        /* byte budget for resident blocks */
    MInt64 storageSpace;  /* byte budget for swapped-out blocks */
    MInt64 memInUse;      /* bytes of resident blocks */
    MInt64 bytesOnDisk;   /* bytes of blocks whose swap file holds their current data */
    MInt64 lockedBytes;   /* bytes of blocks that are locked and resident */
} VMM_INFO;

/* Makes a manager whose records and block memory come from the memory context (null: the heap).
 * 2 for a null output, 4 without memory. */
MResult VMM_Create(MHandle hMemContext, HVMM* phVmm);
/* Frees every block, deletes every swap file and the private swap folder, then the manager. */
MResult VMM_Destroy(HVMM hVmm);

/* Sets the resident budget. When more is resident than the new budget, unlocked blocks are first
 * swapped out; if that fails the old budget stays and the failure is returned. 2 for a negative
 * budget. */
MResult VMM_SetMaxMem(HVMM hVmm, MInt64 bytes);
/* Makes the private swap folder inside szFolder and checks that a file can be written there and
 * read back. 5 when a storage path is set already, 2 for a null or empty path, 4 without memory,
 * 0x1008 when the folder or the test file cannot be made, 0x1007 / 0x1006 when the test file
 * cannot be written / read back. On failure no path is set. */
MResult VMM_SetStoragePath(HVMM hVmm, const MChar* szFolder);
/* Sets the budget for swapped-out blocks. 2 for a negative budget. */
MResult VMM_SetStorageSpace(HVMM hVmm, MInt64 bytes);
/* True when a storage path is set (the name is historical). False for a null manager. */
MBool VMM_IsSetStorageSpace(HVMM hVmm);

/* Makes a block of `size` bytes in the priority's list; its memory is only allocated when it is
 * first locked. 2 for a size of 0 or less, a null output or a priority outside 0..4; 4 when the
 * size is beyond the budgets. */
MResult VMM_Alloc(HVMM hVmm, MInt64 size, MInt32 priority, HVMMBLOCK* phBlock);
/* Makes the block resident (reading its swap file back when it was swapped out) and locks it.
 * 2 for a null or foreign block or a null output; 4 when no room can be made; 0x1006 when the
 * swap file cannot be read back (the block then stays swapped out, its data kept in the file). */
MResult VMM_Lock(HVMM hVmm, HVMMBLOCK hBlock, MVoid** ppMemory);
/* As VMM_Lock, for a caller that overwrites the whole block: a swapped-out block is not read back
 * and its swap file is dropped, since the memory handed out no longer matches it. */
MResult VMM_Lock2(HVMM hVmm, HVMMBLOCK hBlock, MVoid** ppMemory);
/* Unlocks the block. With `changed` set on a resident block its swap file is dropped, so the new
 * data is written out when the block is next swapped out. */
MResult VMM_Unlock(HVMM hVmm, HVMMBLOCK hBlock, MBool changed);
/* Releases the block, its memory and its swap file. 2 for a null or foreign block. */
MResult VMM_Free(HVMM hVmm, HVMMBLOCK hBlock);
/* Moves the block to the end of another priority's list. 2 for a priority outside 0..4. */
MResult VMM_SetPriority(HVMM hVmm, HVMMBLOCK hBlock, MInt32 priority);
MResult VMM_SetNotify(HVMM hVmm, VMM_NOTIFY fnNotify, MVoid* pUserData);
/* 2 for a null output. */
MResult VMM_GetInfo(HVMM hVmm, VMM_INFO* pInfo);

/* Byte counters of swap-file reads and writes: since the last reset, and since creation. Each
 * output is optional. */
MResult VMM_ReadWriteReset(HVMM hVmm);
MResult VMM_ReadWriteGetBytes(HVMM hVmm, MInt64* pRead, MInt64* pWritten);
MResult VMM_ReadWriteGetTotalBytes(HVMM hVmm, MInt64* pRead, MInt64* pWritten);

#ifdef __cplusplus
}
#endif

#endif
