// The image decoder wrapper's handle, shared by its property and decode-path sources.
#pragma once

#include "CodecInternal.h"
#include "MIDec.h"
#include "MdBitmap.h"

struct MIDecBuffer {
    MRECT region;
    MByte* pBlock;
    MInt64 lCapacity;
    MByte* pPlane[3];
    MInt64 lPitch[3];
    MInt64 lSize[3];
    // What the held rows are: valid once decoded, at this scale and in this colour.
    MInt64 bValid;
    MInt64 lScale;
    MUInt64 dwColor;
};

struct MIDecRecord {
    AMCMHandle hAMCM;
    MHandle hMemMgr;
    MInt64 bInitialised;
    MHandle pComponent;
    MInt64 bOwned;
    MUInt64 dwNativeColor;
    MUInt64 dwOutColor;
    MInt64 lResizeAlg;
    MInt64 lImgWidth, lImgHeight;
    MByte byProp4;
    MUInt64 dwYUVLayout;
    MRECT rcSource;
    MInt64 lOutWidth, lOutHeight;
    MRECT rcOut;
    MInt64 lRotation;
    MInt64 lFlip;
    MUInt64 nativeDesc[4]; // hsub, vsub, bpp, planes
    MUInt64 outDesc[4];
    MRECT rcDecoded;
    MUInt32 dwOrientType;
    MInt64 bRegionDecoding;
    MInt64 lImgType;
    MUInt64 dwComponentID;
    MInt64 bMerge;
    MByte frameInfo[56];
    MBITMAP canvas;
    MInt64 lDecodedW, lDecodedH;
    // How far the image reaches into the decoded region, in 1/65536 decoded pixels: a reduced
    // decode of a size that is not a multiple of the reduction ends in a partly covered column
    // and row. 0 when the decoded region is whole image.
    MInt64 lCoveredW, lCoveredH;
    MdPPWrapper* pPPWrapper;
    MInt64 bPPAlphaSet, lPPAlpha;
    MIDecBuffer buffers[2];
    MInt64 lBackup, lCurrent;
    MInt64 bDirectOutput;
    MInt64 bWrapper;
    MHandle hCodec;
};

MUInt32 s_MICodec_RotFlip2RotType(MInt64 rotation, MInt64 flip);
MResult s_MIDec_Scanlines(MIDecRecord* d, MByte** planes, MInt64* pitches, MInt64* start, MInt64* count);
