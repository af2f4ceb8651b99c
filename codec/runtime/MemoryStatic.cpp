// Static block allocator (filled in below in a later step).
#include "MMemory.h"

extern "C" {
MHandle MMemMgrCreate(MVoid*, size_t) { return nullptr; }
MVoid MMemMgrDestroy(MHandle) {}
MVoid* MMemAllocStatic(MHandle, size_t) { return nullptr; }
MVoid MMemFreeStatic(MHandle, MVoid*) {}
MVoid* MMemReallocStatic(MHandle, MVoid*, size_t) { return nullptr; }
}
