// The component manager: a table of components ordered by ID, a table of global data items, and
// a plug-in manager slot. No global state: every manager is independent, so managers may be
// created and destroyed on any thread.
#include <cstdint>
#include <cstring>

#include "DArrayRecord.h"

#include "ADK.h"
#include "AMCM.h"
#include "MMemory.h"

namespace {

struct ComponentRecord {
    uint64_t id;
    AMCM_FNCREATE create;
    uint64_t registration;
    uint64_t typeClass;
    uint64_t subType;
    uint64_t priority;
};
static_assert(sizeof(ComponentRecord) == 48);

struct GlobalRecord {
    uint64_t id;
    int64_t size;
    void* copy;
};
static_assert(sizeof(GlobalRecord) == 24);

// A plug-in manager instance begins with a pointer to this table of operations.
struct PlugInOps {
    MResult (*start)(void* self, const MChar* regPath);
    void (*destroy)(void* self);
    void* unused2;
    void* unused3;
    MResult (*enumStart)(void* self, MHandle* phState);
    MResult (*enumNext)(void* self, MHandle hState, AMCM_COMPONENT_INFO* pInfo);
    MResult (*enumEnd)(void* self, MHandle hState);
    MResult (*info)(void* self, MDWord id, AMCM_COMPONENT_INFO* pInfo);
    MResult (*create)(void* self, MDWord id, MHandle* phInstance);
};

const PlugInOps& opsOf(void* instance)
{
    return **static_cast<PlugInOps**>(instance);
}

struct EnumState {
    int64_t next;
    MHandle plugInState;
};

constexpr int64_t kRegPathMax = 256;
constexpr MDWord kVersionMajor = 1, kVersionMinor = 2, kVersionBuild = 0;
constexpr const char* kVersionDate = "01302007";

} // namespace

struct AMCMRecord {
    ADK_DArray components;
    ADK_DArray globals;
    MHandle memContext;
    uint64_t registrations;
    void* plugInMgr;
};

namespace {

ComponentRecord* component(AMCMRecord* m, int64_t i)
{
    return reinterpret_cast<ComponentRecord*>(m->components->buffer) + i;
}

GlobalRecord* global(AMCMRecord* m, int64_t i)
{
    return reinterpret_cast<GlobalRecord*>(m->globals->buffer) + i;
}

int64_t componentCount(AMCMRecord* m)
{
    return m->components->upperBound + 1;
}

// Index of a component, or -1. The table is in ascending ID order, so the scan stops early.
int64_t locateComponent(AMCMRecord* m, MDWord id)
{
    const int64_t n = componentCount(m);
    int64_t i = 0;
    while (i < n && component(m, i)->id < id)
        ++i;
    return i < n && component(m, i)->id == id ? i : -1;
}

// Index of a global data item, searching from the last one, or -1.
int64_t locateGlobal(AMCMRecord* m, MDWord id)
{
    for (int64_t i = m->globals->upperBound; i >= 0; --i) {
        if (global(m, i)->id == id)
            return i;
    }
    return -1;
}

void freeGlobalAt(AMCMRecord* m, int64_t i)
{
    MMemFree(m->memContext, global(m, i)->copy);
    ADK_DArrayRemoveAt(m->globals, i, 1);
}

void freeAllGlobals(AMCMRecord* m)
{
    for (int64_t i = m->globals->upperBound; i >= 0; --i)
        freeGlobalAt(m, i);
}

void fillInfo(const ComponentRecord* c, AMCM_COMPONENT_INFO* info)
{
    info->dwComponentID = c->id;
    info->dwTypeClass = c->typeClass;
    info->dwSubType = c->subType;
    info->dwPriority = c->priority;
}

// Makes the plug-in manager instance when there is none yet. With the only create function
// there is, this always fails and the slot stays empty.
void* obtainPlugInMgr(AMCMRecord* m)
{
    if (m->plugInMgr != nullptr)
        return m->plugInMgr;
    const int64_t i = locateComponent(m, AMCM_CID_PLUGIN_MGR);
    if (i < 0)
        return nullptr;
    MHandle instance = nullptr;
    if (component(m, i)->create(m, &instance) != MOK || instance == nullptr)
        return nullptr;
    char path[kRegPathMax];
    const bool hasPath = AMCM_GetGlobalData(m, AMCM_GD_DYN_REG_PATH, path, sizeof path) == MOK;
    if (hasPath)
        path[sizeof path - 1] = 0;
    if (opsOf(instance).start(instance, hasPath ? path : nullptr) != MOK) {
        opsOf(instance).destroy(instance);
        return nullptr;
    }
    m->plugInMgr = instance;
    return instance;
}

} // namespace

extern "C" {

MResult MPlugInMgr_Create(AMCMHandle hAMCM, MHandle* phInstance)
{
    if (hAMCM == nullptr || phInstance == nullptr)
        return MERR_INVALID_PARAM;
    *phInstance = nullptr;
    return MERR_UNSUPPORTED;
}

MResult AMCM_Create(MHandle hMemContext, AMCMHandle* phAMCM)
{
    if (phAMCM == nullptr)
        return MERR_INVALID_PARAM;
    auto* m = static_cast<AMCMRecord*>(MMemAlloc(hMemContext, sizeof(AMCMRecord)));
    if (m == nullptr)
        return MERR_NO_MEMORY;
    *m = AMCMRecord{nullptr, nullptr, hMemContext, 0, nullptr};
    if (ADK_DArrayCreate(sizeof(ComponentRecord), hMemContext, &m->components) != MOK ||
        ADK_DArrayCreate(sizeof(GlobalRecord), hMemContext, &m->globals) != MOK ||
        AMCM_RegisterEx(m, AMCM_CID_PLUGIN_MGR, AMCM_TYPECLASS_PLUGIN_MGR, AMCM_SUBTYPE_PLUGIN_MGR, 3,
                        MPlugInMgr_Create) != MOK) {
        if (m->components != nullptr)
            ADK_DArrayDestroy(m->components);
        if (m->globals != nullptr)
            ADK_DArrayDestroy(m->globals);
        MMemFree(hMemContext, m);
        return MERR_NO_MEMORY;
    }
    *phAMCM = m;
    return MOK;
}

MResult AMCM_Destroy(AMCMHandle hAMCM)
{
    if (hAMCM == nullptr)
        return MERR_INVALID_PARAM;
    AMCMRecord* m = hAMCM;
    // The handle pool goes first, through the free function its owner published.
    const int64_t freeIndex = locateGlobal(m, AMCM_GD_PP_POOL_FREE);
    const int64_t poolIndex = locateGlobal(m, AMCM_GD_PP_POOL);
    if (freeIndex >= 0 && poolIndex >= 0 && global(m, freeIndex)->size >= static_cast<int64_t>(sizeof(AMCM_FNPOOLFREE))) {
        AMCM_FNPOOLFREE release = nullptr;
        std::memcpy(&release, global(m, freeIndex)->copy, sizeof release);
        if (release != nullptr)
            release(global(m, poolIndex)->copy);
    }
    freeAllGlobals(m);
    ADK_DArrayDestroy(m->components);
    ADK_DArrayDestroy(m->globals);
    if (m->plugInMgr != nullptr)
        opsOf(m->plugInMgr).destroy(m->plugInMgr);
    MMemFree(m->memContext, m);
    return MOK;
}

MResult AMCM_RegisterEx(AMCMHandle hAMCM, MDWord dwComponentID, MDWord dwTypeClass, MDWord dwSubType,
                        MDWord dwPriority, AMCM_FNCREATE fnCreate)
{
    if (hAMCM == nullptr || fnCreate == nullptr)
        return MERR_INVALID_PARAM;
    AMCMRecord* m = hAMCM;
    if (locateComponent(m, dwComponentID) >= 0)
        return MERR_REGISTRATION;
    const int64_t n = componentCount(m);
    int64_t at = 0;
    while (at < n && component(m, at)->id <= dwComponentID)
        ++at;
    const ComponentRecord rec{dwComponentID, fnCreate, m->registrations, dwTypeClass, dwSubType, dwPriority};
    const MResult r = at < n ? ADK_DArrayInsertAt(m->components, at, &rec) : ADK_DArrayAdd(m->components, &rec, nullptr);
    ++m->registrations;
    return r;
}

MResult AMCM_CMgrUnregister(AMCMHandle hAMCM, MDWord dwComponentID)
{
    if (hAMCM == nullptr)
        return MERR_INVALID_PARAM;
    const int64_t i = locateComponent(hAMCM, dwComponentID);
    if (i < 0)
        return MERR_REGISTRATION;
    return ADK_DArrayRemoveAt(hAMCM->components, i, 1);
}

MResult AMCM_CreateComponent(AMCMHandle hAMCM, MDWord dwComponentID, MHandle* phInstance)
{
    if (hAMCM == nullptr || phInstance == nullptr)
        return MERR_INVALID_PARAM;
    AMCMRecord* m = hAMCM;
    int64_t i = locateComponent(m, dwComponentID);
    if (i < 0) {
        void* plugIns = obtainPlugInMgr(m);
        if (plugIns != nullptr && opsOf(plugIns).create(plugIns, dwComponentID, phInstance) == MOK)
            i = locateComponent(m, dwComponentID);
    }
    if (i < 0)
        return MERR_UNKNOWN;
    return component(m, i)->create(m, phInstance);
}

MResult AMCM_GetComponentInfo(AMCMHandle hAMCM, MDWord dwComponentID, AMCM_COMPONENT_INFO* pInfo)
{
    if (hAMCM == nullptr || pInfo == nullptr)
        return MERR_INVALID_PARAM;
    AMCMRecord* m = hAMCM;
    const int64_t i = locateComponent(m, dwComponentID);
    if (i >= 0) {
        fillInfo(component(m, i), pInfo);
        return MOK;
    }
    void* plugIns = obtainPlugInMgr(m);
    if (plugIns != nullptr)
        return opsOf(plugIns).info(plugIns, dwComponentID, pInfo);
    return MERR_UNKNOWN;
}

// A new item replacing a larger one records its own size, so later reads see exactly the bytes
// last set; the larger storage is kept for reuse.
MResult AMCM_SetGlobalData(AMCMHandle hAMCM, MDWord dwItemID, const MVoid* pData, MInt64 size)
{
    if (hAMCM == nullptr || pData == nullptr || size < 1)
        return MERR_INVALID_PARAM;
    AMCMRecord* m = hAMCM;
    int64_t i = locateGlobal(m, dwItemID);
    if (i >= 0 && global(m, i)->size < size) {
        freeGlobalAt(m, i);
        i = -1;
    }
    if (i < 0) {
        if (size > INT64_MAX - 3 || static_cast<uint64_t>(size) > SIZE_MAX - 3)
            return MERR_NO_MEMORY;
        const size_t rounded = (static_cast<size_t>(size) + 3) & ~size_t{3};
        void* copy = MMemAlloc(m->memContext, rounded);
        if (copy == nullptr)
            return MERR_NO_MEMORY;
        const GlobalRecord rec{dwItemID, size, copy};
        if (ADK_DArrayAdd(m->globals, &rec, &i) != MOK) {
            MMemFree(m->memContext, copy);
            return MERR_NO_MEMORY;
        }
    }
    std::memcpy(global(m, i)->copy, pData, static_cast<size_t>(size));
    global(m, i)->size = size;
    return MOK;
}

MResult AMCM_GetGlobalData(AMCMHandle hAMCM, MDWord dwItemID, MVoid* pBuffer, MInt64 size)
{
    if (hAMCM == nullptr || pBuffer == nullptr)
        return MERR_INVALID_PARAM;
    const int64_t i = locateGlobal(hAMCM, dwItemID);
    if (i < 0)
        return MERR_UNKNOWN;
    const GlobalRecord* g = global(hAMCM, i);
    if (g->size > size)
        return MERR_BUFFER_TOO_SMALL;
    std::memcpy(pBuffer, g->copy, static_cast<size_t>(g->size));
    return MOK;
}

MResult AMCM_GetGlobalDataPtr(AMCMHandle hAMCM, MDWord dwItemID, MVoid** ppData, MInt64 size)
{
    if (hAMCM == nullptr || ppData == nullptr || size < 1)
        return MERR_INVALID_PARAM;
    const int64_t i = locateGlobal(hAMCM, dwItemID);
    if (i < 0)
        return MERR_UNKNOWN;
    const GlobalRecord* g = global(hAMCM, i);
    if (g->size > size)
        return MERR_BUFFER_TOO_SMALL;
    *ppData = g->copy;
    return MOK;
}

MResult AMCM_RemoveGlobalData(AMCMHandle hAMCM, MDWord dwItemID)
{
    if (hAMCM == nullptr)
        return MERR_INVALID_PARAM;
    const int64_t i = locateGlobal(hAMCM, dwItemID);
    if (i < 0)
        return MERR_UNKNOWN;
    freeGlobalAt(hAMCM, i);
    return MOK;
}

MResult AMCM_SetDynComponentRegPath(AMCMHandle hAMCM, const MChar* szPath)
{
    if (hAMCM == nullptr || szPath == nullptr)
        return MERR_INVALID_PARAM;
    return AMCM_SetGlobalData(hAMCM, AMCM_GD_DYN_REG_PATH, szPath, static_cast<MInt64>(std::strlen(szPath)) + 1);
}

MResult AMCM_EnumComponentStart(AMCMHandle hAMCM, MHandle* phEnum)
{
    if (hAMCM == nullptr || phEnum == nullptr)
        return MERR_INVALID_PARAM;
    auto* state = static_cast<EnumState*>(MMemAlloc(hAMCM->memContext, sizeof(EnumState)));
    if (state == nullptr)
        return MERR_NO_MEMORY;
    *state = EnumState{0, nullptr};
    if (hAMCM->plugInMgr != nullptr)
        opsOf(hAMCM->plugInMgr).enumStart(hAMCM->plugInMgr, &state->plugInState);
    *phEnum = state;
    return MOK;
}

MResult AMCM_EnumComponentNext(AMCMHandle hAMCM, MHandle hEnum, AMCM_COMPONENT_INFO* pInfo)
{
    if (hAMCM == nullptr || hEnum == nullptr || pInfo == nullptr)
        return MERR_INVALID_PARAM;
    AMCMRecord* m = hAMCM;
    auto* state = static_cast<EnumState*>(hEnum);
    if (state->next >= 0 && state->next < componentCount(m)) {
        fillInfo(component(m, state->next), pInfo);
        ++state->next;
        return MOK;
    }
    void* plugIns = m->plugInMgr;
    if (plugIns != nullptr && state->plugInState != nullptr) {
        MResult r;
        while ((r = opsOf(plugIns).enumNext(plugIns, state->plugInState, pInfo)) == MOK) {
            if (locateComponent(m, static_cast<MDWord>(pInfo->dwComponentID)) < 0)
                return MOK;
        }
        return r;
    }
    return MERR_REGISTRATION;
}

MResult AMCM_EnumComponentEnd(AMCMHandle hAMCM, MHandle hEnum)
{
    if (hAMCM == nullptr)
        return MERR_INVALID_PARAM;
    if (hEnum == nullptr)
        return MOK;
    auto* state = static_cast<EnumState*>(hEnum);
    if (state->plugInState != nullptr && hAMCM->plugInMgr != nullptr)
        opsOf(hAMCM->plugInMgr).enumEnd(hAMCM->plugInMgr, state->plugInState);
    MMemFree(hAMCM->memContext, state);
    return MOK;
}

MResult AMCM_GetVersionInfo(MDWord* pMajor, MDWord* pMinor, MDWord* pBuild, MChar* szText, MInt64 size)
{
    if (pMajor != nullptr)
        *pMajor = kVersionMajor;
    if (pMinor != nullptr)
        *pMinor = kVersionMinor;
    if (pBuild != nullptr)
        *pBuild = kVersionBuild;
    if (szText != nullptr)
        return ADK_FormatVersionInfo(kVersionMajor, kVersionMinor, kVersionBuild, kVersionDate, szText, size);
    return MOK;
}

} // extern "C"
