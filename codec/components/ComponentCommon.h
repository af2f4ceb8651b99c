// Shared pieces of the decoder components: instance allocation on the manager's memory context,
// the version answer and the size checks of property buffers.
#pragma once

#include <cstring>
#include <new>

#include "ADK.h"
#include "AMCM.h"
#include "MMemory.h"
#include "MdComponent.h"

namespace mdcomp {

inline MHandle memContext(AMCMHandle hAMCM) {
    MHandle ctx = nullptr;
    if (hAMCM) AMCM_GetGlobalData(hAMCM, AMCM_GD_MEM_CONTEXT, &ctx, sizeof ctx);
    return ctx;
}

// Allocates and zeroes an instance of T, points its table at the copy held inside it.
template <class T>
MResult create(AMCMHandle hAMCM, MHandle* phInstance, const MDecComponentFuncs& funcs) {
    if (!hAMCM || !phInstance) return MERR_INVALID_PARAM;
    void* mem = MMemAlloc(memContext(hAMCM), sizeof(T));
    if (!mem) return MERR_NO_MEMORY;
    std::memset(mem, 0, sizeof(T));
    T* inst = new (mem) T();
    inst->table = funcs;
    inst->head.pFuncs = &inst->table;
    inst->head.hAMCM = hAMCM;
    *phInstance = inst;
    return MOK;
}

template <class T>
void destroy(T* inst) {
    MHandle ctx = memContext(inst->head.hAMCM);
    inst->~T();
    MMemFree(ctx, inst);
}

// Every component reports version 2.0.2 of 25 January 2007.
inline MResult versionInfo(MUInt64* pMajor, MUInt64* pMinor, MUInt64* pBuild, MChar* szText, MInt64 size) {
    if (pMajor) *pMajor = 2;
    if (pMinor) *pMinor = 0;
    if (pBuild) *pBuild = 2;
    if (szText) ADK_FormatVersionInfo(2, 0, 2, "01252007", szText, size);
    return MOK;
}

template <class V>
inline void put(void* buf, V v) {
    std::memcpy(buf, &v, sizeof v);
}

template <class V>
inline V get(const void* buf) {
    V v;
    std::memcpy(&v, buf, sizeof v);
    return v;
}

} // namespace mdcomp
