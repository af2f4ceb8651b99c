/* Memory: allocation through a memory context, the static block allocator, the huge-memory
 * functions and the per-codec memory-manager context. */
#ifndef KPV_CODEC_MMEMORY_H
#define KPV_CODEC_MMEMORY_H

#include "MTypes.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Allocation through a memory context: null is the process heap, anything else a static block
 * manager. Blocks are aligned for any object type (alignof(max_align_t)). */
MVoid* MMemAlloc(MHandle hContext, size_t size);
MVoid MMemFree(MHandle hContext, MVoid* pBlock);
MVoid* MMemRealloc(MHandle hContext, MVoid* pBlock, size_t size);

MVoid* MMemCpy(MVoid* pDst, const MVoid* pSrc, size_t size);
MVoid* MMemMove(MVoid* pDst, const MVoid* pSrc, size_t size);
MVoid* MMemSet(MVoid* pDst, MInt32 value, size_t size);
MInt32 MMemCmp(const MVoid* pA, const MVoid* pB, size_t size);

/* Huge memory: always the process heap; the context is ignored. */
MVoid* MHugeMemAlloc(MHandle hContext, size_t size);
MVoid MHugeMemFree(MHandle hContext, MVoid* pBlock);
MVoid* MHugeMemReAlloc(MHandle hContext, MVoid* pBlock, size_t size);
MVoid* MHugeMemLock(MHandle hContext, MVoid* pBlock);
MVoid MHugeMemUnlock(MHandle hContext, MVoid* pBlock);

/* Static block allocator: carves blocks of 32-byte units out of one caller-supplied buffer.
 * The manager lives inside the buffer; destroying it does nothing. */
MHandle MMemMgrCreate(MVoid* pBuffer, size_t size);
MVoid MMemMgrDestroy(MHandle hMgr);
MVoid* MMemAllocStatic(MHandle hMgr, size_t size);
MVoid MMemFreeStatic(MHandle hMgr, MVoid* pBlock);
MVoid* MMemReallocStatic(MHandle hMgr, MVoid* pBlock, size_t size);

/* Memory-manager context kept by decoder components: the memory context and a fast-memory
 * manager slot (always null). */
MResult MMgrInit(MHandle hMemContext, MHandle* phMgr);
MResult MMgrSetIramMgr(MHandle hMgr, MHandle hIramMgr);
MResult MMgrGetIramMgr(MHandle hMgr, MHandle* phIramMgr);
MResult MMgrGetMemContext(MHandle hMgr, MHandle* phMemContext);
MResult MMgrUninit(MHandle hMgr);
MVoid* MMgrAlloc(MHandle hMgr, MInt64 size);
MVoid* MMgrAllocFast(MHandle hMgr, MInt64 size);
MVoid MMgrFree(MHandle hMgr, MVoid* pBlock);

#ifdef __cplusplus
}
#endif

#endif
