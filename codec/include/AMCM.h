/* The component manager, root object of the codec library: components by 32-bit ID with create
 * functions and priorities, and global data items shared through it. Also the dynamic array it
 * keeps its tables in. One manager belongs to one thread at a time. */
#ifndef KPV_CODEC_AMCM_H
#define KPV_CODEC_AMCM_H

#include "MTypes.h"

#ifdef __cplusplus
extern "C" {
#endif

/* ---- Dynamic array of fixed-size elements ---- */

typedef struct ADK_DArrayRecord* ADK_DArray;

MResult ADK_DArrayCreate(MInt64 elementSize, MHandle hMemContext, ADK_DArray* pArray);
MResult ADK_DArrayDestroy(ADK_DArray array);
MResult ADK_DArraySetSize(ADK_DArray array, MInt64 capacity);
MResult ADK_DArrayGrow(ADK_DArray array, MInt64 delta);
MResult ADK_DArrayFreeExtra(ADK_DArray array);
MResult ADK_DArrayRemoveAll(ADK_DArray array);
MResult ADK_DArrayAdd(ADK_DArray array, const MVoid* pElement, MInt64* pIndex);
MResult ADK_DArrayInsertAt(ADK_DArray array, MInt64 index, const MVoid* pElement);
MResult ADK_DArrayRemoveAt(ADK_DArray array, MInt64 index, MInt64 count);
MResult ADK_DArrayMoveElement(ADK_DArray array, MInt64 from, MInt64 to, MBool* pMoved);
MResult ADK_DArraySwapElement(ADK_DArray array, MInt64 first, MInt64 second, MBool* pSwapped);
MResult ADK_DArrayGetAt(ADK_DArray array, MInt64 index, MVoid** ppElement);
MResult ADK_DArraySetAt(ADK_DArray array, MInt64 index, const MVoid* pElement);
MResult ADK_DArrayIsValidIndex(ADK_DArray array, MInt64 index, MBool* pValid);
MResult ADK_DArrayGetBuffer(ADK_DArray array, MVoid** ppBuffer);
MResult ADK_DArrayGetCount(ADK_DArray array, MInt64* pCount);
MResult ADK_DArrayGetUpperBound(ADK_DArray array, MInt64* pUpperBound);
MResult ADK_DArrayFind(ADK_DArray array, const MVoid* pElement, MInt64* pIndex);

/* ---- Component manager ---- */

typedef struct AMCMRecord* AMCMHandle;

/* A component's create function: (manager, out instance). */
typedef MResult (*AMCM_FNCREATE)(AMCMHandle hAMCM, MHandle* phInstance);

/* What AMCM_GetComponentInfo and AMCM_EnumComponentNext report. */
typedef struct AMCM_COMPONENT_INFO {
    MUInt64 dwComponentID;
    MUInt64 dwTypeClass;
    MUInt64 dwSubType;
    MUInt64 dwPriority;
} AMCM_COMPONENT_INFO;

/* Component IDs and type classes. */
#define AMCM_CID_PLUGIN_MGR 0x81000010u
#define AMCM_CID_BMP_DECODER 0x81001001u
#define AMCM_CID_GIF_DECODER 0x81001003u
#define AMCM_CID_PNG_DECODER 0x81001004u
#define AMCM_CID_MEMBITMAP_DECODER 0x81001008u
#define AMCM_CID_JPEG_DECODER 0x81001202u
#define AMCM_TYPECLASS_DECODER 0x1000000u
#define AMCM_TYPECLASS_ENCODER 0x2000000u
#define AMCM_TYPECLASS_PLUGIN_MGR 0x120u
#define AMCM_SUBTYPE_PLUGIN_MGR 0x110u

/* Global data item IDs used by the library. */
#define AMCM_GD_MEM_CONTEXT 0x80000001u       /* memory context for decoder components */
#define AMCM_GD_DYN_REG_PATH 0x80000003u      /* dynamic component registration path (text) */
#define AMCM_GD_IRAM_MGR 0x92000001u          /* fast-memory manager for components */
#define AMCM_GD_PP_POOL 0x92000002u           /* post-processing handle pool */
#define AMCM_GD_PP_POOL_FREE 0x92000003u      /* the pool's free function (one AMCM_FNPOOLFREE) */
#define AMCM_GD_JPEG_TUNING_1 0x92000005u
#define AMCM_GD_JPEG_TUNING_2 0x92000006u
#define AMCM_GD_JPEG_TUNING_3 0x92000007u
#define AMCM_GD_COLORID_OPTIONS 0x92000010u
#define AMCM_GD_COLORID_OPTIONS_ENABLE 0x92000011u

/* The handle pool's free function, stored by value (one pointer) as item AMCM_GD_PP_POOL_FREE.
 * AMCM_Destroy calls it with the manager's copy of item AMCM_GD_PP_POOL before freeing the
 * global data. */
typedef MVoid (*AMCM_FNPOOLFREE)(MVoid* pPool);

MResult AMCM_Create(MHandle hMemContext, AMCMHandle* phAMCM);
MResult AMCM_Destroy(AMCMHandle hAMCM);
MResult AMCM_RegisterEx(AMCMHandle hAMCM, MDWord dwComponentID, MDWord dwTypeClass, MDWord dwSubType,
                        MDWord dwPriority, AMCM_FNCREATE fnCreate);
MResult AMCM_CMgrUnregister(AMCMHandle hAMCM, MDWord dwComponentID);
MResult AMCM_CreateComponent(AMCMHandle hAMCM, MDWord dwComponentID, MHandle* phInstance);
MResult AMCM_GetComponentInfo(AMCMHandle hAMCM, MDWord dwComponentID, AMCM_COMPONENT_INFO* pInfo);

MResult AMCM_SetGlobalData(AMCMHandle hAMCM, MDWord dwItemID, const MVoid* pData, MInt64 size);
MResult AMCM_GetGlobalData(AMCMHandle hAMCM, MDWord dwItemID, MVoid* pBuffer, MInt64 size);
MResult AMCM_GetGlobalDataPtr(AMCMHandle hAMCM, MDWord dwItemID, MVoid** ppData, MInt64 size);
MResult AMCM_RemoveGlobalData(AMCMHandle hAMCM, MDWord dwItemID);
MResult AMCM_SetDynComponentRegPath(AMCMHandle hAMCM, const MChar* szPath);

MResult AMCM_EnumComponentStart(AMCMHandle hAMCM, MHandle* phEnum);
MResult AMCM_EnumComponentNext(AMCMHandle hAMCM, MHandle hEnum, AMCM_COMPONENT_INFO* pInfo);
MResult AMCM_EnumComponentEnd(AMCMHandle hAMCM, MHandle hEnum);

MResult AMCM_GetVersionInfo(MDWord* pMajor, MDWord* pMinor, MDWord* pBuild, MChar* szText, MInt64 size);

/* Create function of the plug-in manager component: there is no plug-in manager, so it always
 * reports 3 with a null instance. */
MResult MPlugInMgr_Create(AMCMHandle hAMCM, MHandle* phInstance);

#ifdef __cplusplus
}
#endif

#endif
