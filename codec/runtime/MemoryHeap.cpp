// Allocation through a memory context, and the huge-memory functions.
#include <cstdlib>
#include <cstring>

#include "MMemory.h"

extern "C" {

MVoid* MMemAlloc(MHandle hContext, size_t size)
{
    if (hContext == nullptr)
        return std::malloc(size);
    return MMemAllocStatic(hContext, size);
}

MVoid MMemFree(MHandle hContext, MVoid* pBlock)
{
    if (hContext == nullptr)
        std::free(pBlock);
    else
        MMemFreeStatic(hContext, pBlock);
}

MVoid* MMemRealloc(MHandle hContext, MVoid* pBlock, size_t size)
{
    if (hContext == nullptr)
        return std::realloc(pBlock, size);
    return MMemReallocStatic(hContext, pBlock, size);
}

MVoid* MMemCpy(MVoid* pDst, const MVoid* pSrc, size_t size)
{
    return size ? std::memcpy(pDst, pSrc, size) : pDst;
}

MVoid* MMemMove(MVoid* pDst, const MVoid* pSrc, size_t size)
{
    return size ? std::memmove(pDst, pSrc, size) : pDst;
}

MVoid* MMemSet(MVoid* pDst, MInt32 value, size_t size)
{
    return size ? std::memset(pDst, value, size) : pDst;
}

MInt32 MMemCmp(const MVoid* pA, const MVoid* pB, size_t size)
{
    return size ? std::memcmp(pA, pB, size) : 0;
}

MVoid* MHugeMemAlloc(MHandle, size_t size)
{
    return std::malloc(size);
}

MVoid MHugeMemFree(MHandle, MVoid* pBlock)
{
    std::free(pBlock);
}

MVoid* MHugeMemReAlloc(MHandle, MVoid* pBlock, size_t size)
{
    return std::realloc(pBlock, size);
}

MVoid* MHugeMemLock(MHandle, MVoid* pBlock)
{
    return pBlock;
}

MVoid MHugeMemUnlock(MHandle, MVoid*) {}

} // extern "C"
