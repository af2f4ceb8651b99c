/* The post-processing handle pool: up to 20 handles per component manager, kept as its global
 * data, handed out again for an identical request (target format, source format, parameters).
 * When the pool is full a handle is made outside it and destroyed with its wrapper. */
#ifndef KPV_BITMAP_MDPPWRAPPER_H
#define KPV_BITMAP_MDPPWRAPPER_H

#include "AMCM.h"
#include "MPP.h"

#ifdef __cplusplus
extern "C" {
#endif

#define MDPP_POOL_SLOTS 20

typedef struct MdPPWrapper {
    PPHandle* pHandleAddress; /* the wrapper's own handle field, or a pool slot's handle word */
    PPHandle hPP;
    MInt64 lValid;
    MInt64 lSlot;
    AMCMHandle hAMCM;
    MInt64 lOutsidePool;
    MByte* pDefaultPalette;
} MdPPWrapper;

/* A handle for (target, source, parameters); word 2 and 3 of the parameters become 0 and 1 and
 * word 17 255. On failure the wrapper is null. */
MResult MdPPWrapperCreateEx(AMCMHandle hAMCM, MdPPWrapper** ppWrapper, PPFormat* pDstFormat,
                            PPFormat* pSrcFormat, PPPara* pPara, PPHandle* phPP);
/* As MdPPWrapperCreateEx for a source that the image covers only part-way into its last column or
 * row; the extents are in 1/65536 pixels, 0 for a whole side (MPPCreateWithExtent). Handles of
 * different extents are different pool entries. */
MResult MdPPWrapperCreateWithExtent(AMCMHandle hAMCM, MdPPWrapper** ppWrapper, PPFormat* pDstFormat,
                                    PPFormat* pSrcFormat, PPPara* pPara, MInt64 lExtentX, MInt64 lExtentY,
                                    PPHandle* phPP);
/* As MdPPWrapperCreateEx after applying the manager's colour-ID options to copies of the formats. */
MResult MdPPWrapperCreateEx_Plus(AMCMHandle hAMCM, MdPPWrapper** ppWrapper, PPFormat* pDstFormat,
                                 PPFormat* pSrcFormat, PPPara* pPara, PPHandle* phPP);
/* Reserves a pool slot with no handle; the caller creates into MdPPWrapperGetPPAddress. */
MResult MdPPWrapperCreate(AMCMHandle hAMCM, MdPPWrapper** ppWrapper);
MResult MdPPWrapperGetPPAddress(MdPPWrapper* pWrapper, PPHandle** pphAddress);
MResult MdPPWrapperDestroy(MdPPWrapper* pWrapper);

#ifdef __cplusplus
}
#endif

#endif
