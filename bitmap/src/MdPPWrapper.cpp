// The post-processing handle pool, kept per component manager as its global data.
#include "MdPPWrapper.h"

#include "MMemory.h"

#include <cstring>
#include <initializer_list>
#include <new>

namespace {

struct PPStoredSet {
    PPFormat dst;
    PPFormat src;
    PPPara para;
    MInt64 extent[2]; // the source's covered extent, 1/65536 pixels (0: whole)
};
static_assert(sizeof(PPStoredSet) == 28 * 8, "a stored request is 28 words");

struct PPPoolHalf;
using PoolHalfFree = void (*)(PPPoolHalf*);
using PoolHandleDestroy = MResult (*)(void*);

struct PPPoolHalf {
    PPHandle handles[MDPP_POOL_SLOTS];
    MInt64 next;
    MInt64 inUse[MDPP_POOL_SLOTS];
    PoolHalfFree freeFn;
    PoolHandleDestroy destroyFn;
    PPStoredSet sets[MDPP_POOL_SLOTS];
};

struct PPPool {
    PPPoolHalf half[2];
};

// Releases the post-processing handles of a kind-0 half.
void freePPHalf(PPPoolHalf* half)
{
    for (PPHandle& h : half->handles) {
        if (h)
            MPPDestroy(h);
        h = nullptr;
    }
    half->next = 0;
}

// Releases a half whose handles are not post-processing handles, through its destroy function.
[[maybe_unused]] void freeOtherHalf(PPPoolHalf* half)
{
    for (PPHandle& h : half->handles) {
        if (h && half->destroyFn)
            half->destroyFn(h);
        h = nullptr;
    }
    half->next = 0;
}

// Published to the component manager, which calls it with its copy of the pool when destroyed.
void poolFree(MVoid* pPool)
{
    if (!pPool)
        return;
    auto* pool = static_cast<PPPool*>(pPool);
    for (PPPoolHalf& half : pool->half) {
        if (half.freeFn)
            half.freeFn(&half);
        half.freeFn = nullptr;
    }
}

PPPoolHalf* fetchHalf(AMCMHandle hAMCM, int kind)
{
    if (!hAMCM || (kind != 0 && kind != 1))
        return nullptr;
    MVoid* data = nullptr;
    if (AMCM_GetGlobalDataPtr(hAMCM, AMCM_GD_PP_POOL, &data, sizeof(PPPool)) != MOK || !data) {
        auto* fresh = static_cast<PPPool*>(MMemAlloc(nullptr, sizeof(PPPool)));
        if (!fresh)
            return nullptr;
        std::memset(fresh, 0, sizeof(PPPool));
        const MResult r = AMCM_SetGlobalData(hAMCM, AMCM_GD_PP_POOL, fresh, sizeof(PPPool));
        MMemFree(nullptr, fresh);
        if (r != MOK)
            return nullptr;
        AMCM_FNPOOLFREE fn = poolFree;
        if (AMCM_SetGlobalData(hAMCM, AMCM_GD_PP_POOL_FREE, &fn, sizeof fn) != MOK) {
            AMCM_RemoveGlobalData(hAMCM, AMCM_GD_PP_POOL);
            return nullptr;
        }
        if (AMCM_GetGlobalDataPtr(hAMCM, AMCM_GD_PP_POOL, &data, sizeof(PPPool)) != MOK || !data)
            return nullptr;
    }
    PPPoolHalf* half = &static_cast<PPPool*>(data)->half[kind];
    if (!half->freeFn)
        half->freeFn = kind == 0 ? freePPHalf : freeOtherHalf;
    return half;
}

// Chooses the slot for a new handle: the next index when it is free, else the first slot onward
// that has no handle or is not in use. -1 when every slot is in use.
int64_t chooseSlot(PPPoolHalf* half)
{
    if (half->next > MDPP_POOL_SLOTS - 1 || half->next < 0)
        half->next = 0;
    if (!half->inUse[half->next])
        return half->next;
    for (int64_t i = (half->next + 1) % MDPP_POOL_SLOTS; i != half->next; i = (i + 1) % MDPP_POOL_SLOTS) {
        if (!half->handles[i] || !half->inUse[i]) {
            half->next = i;
            return i;
        }
    }
    return -1;
}

void advance(PPPoolHalf* half) { half->next = (half->next + 1) % MDPP_POOL_SLOTS; }

MResult pooledHandle(PPPoolHalf* half, PPFormat* dst, PPFormat* src, PPPara* para, const MInt64 extent[2],
                     PPHandle* out, int64_t* slotOut)
{
    PPStoredSet want{};
    want.dst = *dst;
    want.src = *src;
    want.para = *para;
    want.extent[0] = extent[0];
    want.extent[1] = extent[1];
    for (int64_t i = 0; i < MDPP_POOL_SLOTS; ++i) {
        if (!half->inUse[i] && half->handles[i] && std::memcmp(&half->sets[i], &want, sizeof want) == 0) {
            half->inUse[i] = 1;
            *out = half->handles[i];
            *slotOut = i;
            return MOK;
        }
    }
    const int64_t slot = chooseSlot(half);
    if (slot < 0)
        return MERR_PP_POOL_FULL;
    if (half->handles[slot])
        MPPDestroy(half->handles[slot]);
    half->handles[slot] = nullptr;
    advance(half);
    PPHandle h = nullptr;
    MResult r = MPPCreateWithExtent(dst, src, para, extent[0], extent[1], &h);
    if (r == MOK && h) {
        half->handles[slot] = h;
        half->sets[slot] = want;
        half->inUse[slot] = 1;
        *out = h;
        *slotOut = slot;
        return MOK;
    }
    if (h)
        MPPDestroy(h);
    std::memset(&half->sets[slot], 0, sizeof(PPStoredSet));
    half->inUse[slot] = 0;
    return r != MOK ? r : MERR_UNKNOWN;
}

MdPPWrapper* newWrapper()
{
    auto* w = static_cast<MdPPWrapper*>(MMemAlloc(nullptr, sizeof(MdPPWrapper)));
    if (w)
        std::memset(w, 0, sizeof *w);
    return w;
}

void releaseWrapper(MdPPWrapper* w)
{
    if (!w)
        return;
    if (w->lOutsidePool && w->hPP)
        MPPDestroy(w->hPP);
    MMemFree(nullptr, w->pDefaultPalette);
    MMemFree(nullptr, w);
}

} // namespace

extern "C" {

MResult MdPPWrapperCreateEx(AMCMHandle hAMCM, MdPPWrapper** ppWrapper, PPFormat* pDstFormat, PPFormat* pSrcFormat,
                            PPPara* pPara, PPHandle* phPP)
{
    return MdPPWrapperCreateWithExtent(hAMCM, ppWrapper, pDstFormat, pSrcFormat, pPara, 0, 0, phPP);
}

MResult MdPPWrapperCreateWithExtent(AMCMHandle hAMCM, MdPPWrapper** ppWrapper, PPFormat* pDstFormat,
                                    PPFormat* pSrcFormat, PPPara* pPara, MInt64 lExtentX, MInt64 lExtentY,
                                    PPHandle* phPP)
{
    if (!pDstFormat || !pSrcFormat || !pPara || !ppWrapper)
        return MERR_INVALID_PARAM;
    *ppWrapper = nullptr;
    pPara->lBandMode = 0;
    pPara->lBlockMode = PP_BLOCK_1X1;
    MdPPWrapper* w = newWrapper();
    if (!w)
        return MERR_NO_MEMORY;
    // A palette source is read through the caller's palette; the engine refuses one without it.
    // (A stand-in palette of two entries would let 8-bit indices read past it.)
    pPara->lAlpha = 255;
    PPPoolHalf* half = fetchHalf(hAMCM, 0);
    w->hAMCM = hAMCM;
    w->pHandleAddress = &w->hPP;
    const MInt64 extent[2] = {lExtentX, lExtentY};
    MResult r = half ? pooledHandle(half, pDstFormat, pSrcFormat, pPara, extent, &w->hPP, &w->lSlot) : MERR_PP_POOL_FULL;
    if (r == MERR_PP_POOL_FULL) {
        // Not an error for the caller: the handle lives outside the pool for this wrapper only.
        w->lOutsidePool = 1;
        w->hPP = nullptr;
        r = MPPCreateWithExtent(pDstFormat, pSrcFormat, pPara, lExtentX, lExtentY, &w->hPP);
        if (r == MOK && !w->hPP)
            r = MERR_UNKNOWN;
    }
    if (r != MOK) {
        releaseWrapper(w);
        return r;
    }
    w->lValid = 1;
    *ppWrapper = w;
    if (phPP)
        *phPP = w->hPP;
    return MOK;
}

MResult MdPPWrapperCreateEx_Plus(AMCMHandle hAMCM, MdPPWrapper** ppWrapper, PPFormat* pDstFormat,
                                 PPFormat* pSrcFormat, PPPara* pPara, PPHandle* phPP)
{
    if (!pDstFormat || !pSrcFormat || !pPara)
        return MERR_INVALID_PARAM;
    PPFormat dst = *pDstFormat, src = *pSrcFormat;
    MInt64 enabled = 0, options = 0;
    if (hAMCM && AMCM_GetGlobalData(hAMCM, AMCM_GD_COLORID_OPTIONS_ENABLE, &enabled, 8) == MOK && enabled &&
        AMCM_GetGlobalData(hAMCM, AMCM_GD_COLORID_OPTIONS, &options, 8) == MOK) {
        for (PPFormat* f : {&dst, &src}) {
            const uint64_t cls = (static_cast<uint64_t>(f->lColorID) >> 28) & 0xF;
            if (cls == 5 || cls == 6)
                f->lColorID = (f->lColorID & ~MInt64{0x3000}) | options;
        }
    }
    pPara->lAlpha = 255;
    return MdPPWrapperCreateEx(hAMCM, ppWrapper, &dst, &src, pPara, phPP);
}

MResult MdPPWrapperCreate(AMCMHandle hAMCM, MdPPWrapper** ppWrapper)
{
    if (!ppWrapper)
        return MERR_INVALID_PARAM;
    *ppWrapper = nullptr;
    MdPPWrapper* w = newWrapper();
    if (!w)
        return MERR_NO_MEMORY;
    PPPoolHalf* half = fetchHalf(hAMCM, 0);
    const int64_t slot = half ? chooseSlot(half) : -1;
    if (slot < 0) {
        releaseWrapper(w);
        return MERR_NO_MEMORY;
    }
    if (half->handles[slot])
        MPPDestroy(half->handles[slot]);
    half->handles[slot] = nullptr;
    advance(half);
    half->inUse[slot] = 1;
    std::memset(&half->sets[slot], 0, sizeof(PPStoredSet));
    w->hAMCM = hAMCM;
    w->lSlot = slot;
    w->pHandleAddress = &half->handles[slot];
    w->lValid = 1;
    *ppWrapper = w;
    return MOK;
}

MResult MdPPWrapperGetPPAddress(MdPPWrapper* pWrapper, PPHandle** pphAddress)
{
    if (!pWrapper || !pphAddress || !pWrapper->pHandleAddress)
        return MERR_INVALID_PARAM;
    *pphAddress = pWrapper->pHandleAddress;
    return MOK;
}

MResult MdPPWrapperDestroy(MdPPWrapper* pWrapper)
{
    if (!pWrapper)
        return MOK;
    if (pWrapper->lValid && !pWrapper->lOutsidePool) {
        // The handle stays in its slot for the next identical request.
        PPPoolHalf* half = fetchHalf(pWrapper->hAMCM, 0);
        if (half && pWrapper->lSlot >= 0 && pWrapper->lSlot < MDPP_POOL_SLOTS)
            half->inUse[pWrapper->lSlot] = 0;
    }
    releaseWrapper(pWrapper);
    return MOK;
}

} // extern "C"
