// Shared pieces of the decoder components: instance allocation on the manager's memory context,
// the type and version operations, and the property answers several decoders give alike.
#pragma once

#include <cstring>
#include <initializer_list>
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

// As create(), and gives the instance a memory manager of its own in hMemMgr, backed by the
// manager's internal RAM when there is one.
template <class T>
MResult createWithMemMgr(AMCMHandle hAMCM, MHandle* phInstance, const MDecComponentFuncs& funcs) {
    MResult r = create<T>(hAMCM, phInstance, funcs);
    if (r != MOK) return r;
    auto* inst = static_cast<T*>(*phInstance);
    if (MMgrInit(memContext(hAMCM), &inst->hMemMgr) != MOK) {
        destroy(inst);
        *phInstance = nullptr;
        return MERR_NO_MEMORY;
    }
    MHandle iram = nullptr;
    if (AMCM_GetGlobalData(hAMCM, AMCM_GD_IRAM_MGR, &iram, 8) == MOK && iram) MMgrSetIramMgr(inst->hMemMgr, iram);
    return MOK;
}

// The type operation of a component whose type is Id.
template <MUInt64 Id>
MResult typeID(MHandle, MUInt64* id) {
    if (!id) return MERR_INVALID_PARAM;
    *id = Id;
    return MOK;
}

// Every component reports version 2.0.2 of 25 January 2007.
inline MResult versionInfo(MUInt64* pMajor, MUInt64* pMinor, MUInt64* pBuild, MChar* szText, MInt64 size) {
    if (pMajor) *pMajor = 2;
    if (pMinor) *pMinor = 0;
    if (pBuild) *pBuild = 2;
    if (szText) ADK_FormatVersionInfo(2, 0, 2, "01252007", szText, size);
    return MOK;
}

inline MResult versionOp(MHandle, MUInt64* pMajor, MUInt64* pMinor, MUInt64* pBuild, MChar* szText, MInt64 size) {
    return versionInfo(pMajor, pMinor, pBuild, szText, size);
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

// Two 64-bit values one after the other, as sizes are exchanged.
inline void putPair(void* buf, MInt64 a, MInt64 b) {
    put(buf, a);
    put(static_cast<MByte*>(buf) + 8, b);
}

// A width and height answer: the buffer holds exactly the pair.
inline MResult sizeAnswer(void* buf, MInt64 size, MInt64 w, MInt64 h) {
    if (size != 16) return MERR_INVALID_PARAM;
    putPair(buf, w, h);
    return MOK;
}

// Palette answers of decoders whose colour table is read by getTab(decoder, table, &bytes). The
// caller checks the buffer of the count; the table's buffer is checked against the table.
template <class H, class GetTab>
MResult paletteSize(GetTab getTab, H dec, void* buf) {
    MInt64 n = 0;
    MResult r = getTab(dec, nullptr, &n);
    if (r == MOK) put(buf, n);
    return r;
}

template <class H, class GetTab>
MResult palette(GetTab getTab, H dec, void* buf, MInt64 size) {
    MInt64 n = 0;
    MResult r = getTab(dec, nullptr, &n);
    if (r != MOK) return r;
    if (size < n) return MERR_INVALID_PARAM;
    return getTab(dec, static_cast<MByte*>(buf), &n);
}

// Asks setDim(decoder, &w, &h) for the output size in buf; on success the size granted is kept
// in *outW and *outH and written back to buf.
template <class H, class SetDim>
MResult setOutSize(SetDim setDim, H dec, void* buf, MInt64 size, MInt64* outW, MInt64* outH) {
    if (size != 16) return MERR_INVALID_PARAM;
    MInt64 w = get<MInt64>(buf), h = get<MInt64>(static_cast<MByte*>(buf) + 8);
    MResult r = setDim(dec, &w, &h);
    if (r != MOK) return r;
    *outW = w;
    *outH = h;
    putPair(buf, w, h);
    return MOK;
}

// The get operation's answers that every decoder component gives alike: the output size, the
// colour table (read by getTab), and no progress or region. False for any other property, which
// the component answers itself.
template <class C, class GetTab>
bool getCommonProp(const C* c, GetTab getTab, MInt64 id, void* buf, MInt64 size, MResult* result) {
    switch (id) {
    case MDEC_PROP_OUT_SIZE: *result = sizeAnswer(buf, size, c->lOutWidth, c->lOutHeight); return true;
    case MDEC_PROP_PALETTE: *result = palette(getTab, c->hDecoder, buf, size); return true;
    case MDEC_PROP_PROGRESS:
    case MDEC_PROP_REGION: *result = MERR_UNSUPPORTED; return true;
    default: return false;
    }
}

// The set operation of a decoder component: a decoder must be there, and the value at least 8
// bytes; while `locked` (rows already read) nothing changes. The properties every component
// only reports, and those in `readOnly`, are refused; the output size is asked of the decoder
// through setDim. Anything else goes to `own`, which gives MERR_INVALID_PARAM for what it does
// not know.
template <class C, class SetDim, class Own>
MResult setProp(C* c, SetDim setDim, MInt64 id, void* buf, MInt64 size, bool locked,
                std::initializer_list<MInt64> readOnly, Own own) {
    if (!c) return MERR_INVALID_PARAM;
    if (!c->hDecoder) return MERR_REGISTRATION;
    if (!buf || size < 8) return MERR_INVALID_PARAM;
    if (locked) return MERR_REGISTRATION;
    switch (id) {
    case MDEC_PROP_DELIVERY:
    case MDEC_PROP_IMAGE_SIZE:
    case MDEC_PROP_PROGRESS:
    case MDEC_PROP_BITS:
    case MDEC_PROP_REGION:
    case MDEC_PROP_COLOR:
        return MERR_UNSUPPORTED;
    case MDEC_PROP_OUT_SIZE:
        return setOutSize(setDim, c->hDecoder, buf, size, &c->lOutWidth, &c->lOutHeight);
    default:
        for (MInt64 r : readOnly)
            if (id == r) return MERR_UNSUPPORTED;
        return own(id);
    }
}

} // namespace mdcomp
