// Memory-manager context kept by decoder components: the memory context they allocate from and
// a fast-memory manager slot that is never filled.
#include "MMemory.h"

namespace {

struct MgrRecord {
    MHandle memContext;
    MHandle iramMgr; // stays null: there is no fast memory on this platform
};

} // namespace

extern "C" {

MResult MMgrInit(MHandle hMemContext, MHandle* phMgr)
{
    if (phMgr == nullptr)
        return MERR_INVALID_PARAM;
    auto* r = static_cast<MgrRecord*>(MMemAlloc(hMemContext, sizeof(MgrRecord)));
    if (r == nullptr)
        return MERR_NO_MEMORY;
    r->memContext = hMemContext;
    r->iramMgr = nullptr;
    *phMgr = r;
    return MOK;
}

MResult MMgrSetIramMgr(MHandle hMgr, MHandle)
{
    return hMgr == nullptr ? MERR_INVALID_PARAM : MOK;
}

MResult MMgrGetIramMgr(MHandle hMgr, MHandle* phIramMgr)
{
    if (phIramMgr != nullptr)
        *phIramMgr = nullptr;
    if (hMgr == nullptr || phIramMgr == nullptr)
        return MERR_INVALID_PARAM;
    *phIramMgr = static_cast<MgrRecord*>(hMgr)->iramMgr;
    return MOK;
}

MResult MMgrGetMemContext(MHandle hMgr, MHandle* phMemContext)
{
    if (phMemContext != nullptr)
        *phMemContext = nullptr;
    if (hMgr == nullptr || phMemContext == nullptr)
        return MERR_INVALID_PARAM;
    *phMemContext = static_cast<MgrRecord*>(hMgr)->memContext;
    return MOK;
}

MResult MMgrUninit(MHandle hMgr)
{
    if (hMgr != nullptr) {
        auto* r = static_cast<MgrRecord*>(hMgr);
        MMemFree(r->memContext, r);
    }
    return MOK;
}

MVoid* MMgrAlloc(MHandle hMgr, MInt64 size)
{
    if (hMgr == nullptr || size < 1)
        return nullptr;
    return MMemAlloc(static_cast<MgrRecord*>(hMgr)->memContext, static_cast<size_t>(size));
}

MVoid* MMgrAllocFast(MHandle hMgr, MInt64 size)
{
    return MMgrAlloc(hMgr, size);
}

MVoid MMgrFree(MHandle hMgr, MVoid* pBlock)
{
    if (hMgr == nullptr || pBlock == nullptr)
        return;
    MMemFree(static_cast<MgrRecord*>(hMgr)->memContext, pBlock);
}

} // extern "C"
