/* Decoder components: plug-in objects of the component manager that turn one image stream into
 * rows of pixels behind a table of seven operations, and the create functions of the BMP, GIF,
 * PNG, JPEG and in-memory bitmap components.
 *
 * Every instance begins with the address of its operation table; the framework reaches the
 * component only through that table. Colours that a component reports and delivers are old
 * colour IDs (MdColorID.h). */
#ifndef KPV_CODEC_MDCOMPONENT_H
#define KPV_CODEC_MDCOMPONENT_H

#include "AMCM.h"
#include "MStream.h"
#include "MTypes.h"

#ifdef __cplusplus
extern "C" {
#endif

/* The seven operations, in slot order. The first argument is always the instance. */
typedef MResult (*MDEC_FNINIT)(MHandle hInst, MVoid* pSource);
typedef MResult (*MDEC_FNDESTROY)(MHandle hInst);
typedef MResult (*MDEC_FNGETTYPEID)(MHandle hInst, MUInt64* pID);
typedef MResult (*MDEC_FNGETVERSION)(MHandle hInst, MUInt64* pMajor, MUInt64* pMinor, MUInt64* pBuild,
                                     MChar* szText, MInt64 size);
typedef MResult (*MDEC_FNGETPROP)(MHandle hInst, MInt64 id, MVoid* pValue, MInt64 size);
typedef MResult (*MDEC_FNSETPROP)(MHandle hInst, MInt64 id, MVoid* pValue, MInt64 size);
typedef MResult (*MDEC_FNDECSCANLINES)(MHandle hInst, MByte** ppPlanes, MInt64* pPitches, MInt64* plFirstRow,
                                       MInt64* plCount);

typedef struct MDecComponentFuncs {
    MDEC_FNINIT s_Init;
    MDEC_FNDESTROY s_Destroy;
    MDEC_FNGETTYPEID s_GetTypeID;
    MDEC_FNGETVERSION s_GetVersionInfo;
    MDEC_FNGETPROP s_GetProp;
    MDEC_FNSETPROP s_SetProp;
    MDEC_FNDECSCANLINES s_DecScanlines;
} MDecComponentFuncs;

/* The component registered for every image type (subtype 0xFFFF) has two operations more: the
 * ninth opens a stream knowing its file name and image type. None is part of this library. */
typedef MResult (*MDEC_FNOPENFILE)(MHandle hInst, MSTREAM stream, const MChar* szFileName, MInt64 lImgType);
typedef struct MDecGenericFuncs {
    MDecComponentFuncs base;
    MVoid* pReserved;
    MDEC_FNOPENFILE s_OpenFile;
} MDecGenericFuncs;

/* An encoder component's table has the same slots; its scanline operation takes (planes,
 * pitches, line count) and its s_Init the encoder creation record. */
typedef MResult (*MENC_FNSCANLINES)(MHandle hInst, MByte** ppPlanes, MInt64* pPitches, MInt64 lCount);

/* What every instance starts with. */
typedef struct MDecComponentHead {
    const MDecComponentFuncs* pFuncs;
    AMCMHandle hAMCM;
} MDecComponentHead;

#define MDEC_FUNCS(inst) (((const MDecComponentHead*)(inst))->pFuncs)

/* The generic component's ID, and the subtype that matches every image type. */
#define AMCM_CID_GENERIC_DECODER 0x81001fffu
#define AMCM_SUBTYPE_ANY 0xFFFFu

/* Component properties. */
#define MDEC_PROP_DELIVERY 1          /* 4 block decoder, else row decoder */
#define MDEC_PROP_IMAGE_SIZE 2        /* 16: width, height */
#define MDEC_PROP_OUT_COLOR 3
#define MDEC_PROP_TRANS_INDEX 4
#define MDEC_PROP_PALETTE_SIZE 0x1000 /* bytes */
#define MDEC_PROP_PALETTE 0x1001      /* 4 bytes an entry */
#define MDEC_PROP_PROGRESS 0x1002     /* 16: callback, user value */
#define MDEC_PROP_BITS 0x1005
#define MDEC_PROP_REGION 0x1006       /* 32: MRECT */
#define MDEC_PROP_OUT_SIZE 0x1007     /* 16: width, height */
#define MDEC_PROP_COLOR 0x1008        /* old colour ID of the rows */
#define MDEC_PROP_HAS_ALPHA 0x100E
#define MDEC_PROP_BMP_TYPE 0x1201
#define MDEC_PROP_BMP_MASKS 0x1202
#define MDEC_PROP_INVERT 0x1203
#define MDEC_PROP_INFO_HEADER 0x1204
#define MDEC_PROP_GIF_FRAME 0x1301
#define MDEC_PROP_GIF_GLOBAL 0x1302
#define MDEC_PROP_GIF_INFO0 0x1303
#define MDEC_PROP_GIF_LOOP 0x1304
#define MDEC_PROP_GIF_FRAMEINFO 0x1305
#define MDEC_PROP_GIF_FRAMECOUNT 0x1306
#define MDEC_PROP_PNG_PASSES 0x1401
#define MDEC_PROP_PNG_TRANS 0x1402
#define MDEC_PROP_PLANE_SIZES 0x1504  /* 24 */
#define MDEC_PROP_PLANE_PITCHES 0x1505 /* 24 */
/* JPEG, 8: 1 = at 1/2, 1/4 and 1/8 subsampled chroma comes at the luma plane's size and the
 * colour (MDEC_PROP_COLOR) reads 4:4:4 while such a scale is set; 0 (default) = the file's layout */
#define MDEC_PROP_JPEG_WIDE_CHROMA 0x1513
#define MDEC_PROP_ICO_MASK 0x1602
#define MDEC_PROP_BANDS 0x1901
#define MDEC_PROP_ALIGNMENT 0xFF01    /* 16: horizontal, vertical */

/* Create functions: (manager, out instance); 2 for a null argument, 4 without memory. */
MResult MDecoder_BMPCreate(AMCMHandle hAMCM, MHandle* phInstance);
MResult MDecoder_GIFCreate(AMCMHandle hAMCM, MHandle* phInstance);
MResult MDecoder_PNGCreate(AMCMHandle hAMCM, MHandle* phInstance);
MResult MDecoder_AJL2Create(AMCMHandle hAMCM, MHandle* phInstance);
MResult MDecoder_MBitmapCreate(AMCMHandle hAMCM, MHandle* phInstance);

/* Registers the BMP, JPEG, PNG and GIF decoders (in that order) as decoders of priority 3.
 * Already registered components stay as they are. 0, or 2 for a null manager. */
MResult MdRegisterDecoderComponents(AMCMHandle hAMCM);

/* JPEG result codes onto library result codes. */
MResult MdUtilsConvertResult(MInt64 code, MBool bDecoding);
MResult MdUtilsDecodeConvertResult(MInt64 code);
MResult MdUtilsEncodeConvertResult(MInt64 code);

#ifdef __cplusplus
}
#endif

#endif
