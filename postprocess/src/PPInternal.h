// Internal records of the post-processing engine, shared by the set-up, the driver and the kernels.
#ifndef KPV_POSTPROCESS_PPINTERNAL_H
#define KPV_POSTPROCESS_PPINTERNAL_H

#include "MPP.h"

#include <cstdint>

// Layout codes of the engine, derived from the colour ID.
enum : int64_t {
    PPL_RGB = 256,
    PPL_GREY = 640,
    PPL_PLANAR_GENERAL = 1024,
    PPL_PLANAR_YVU_GENERAL = 768,
    PPL_I420 = 1025,
    PPL_SEMI_NV21 = 0x70000002,
    PPL_SEMI_NV12 = 0x70000003,
    PPL_SEMI422_A = 0x70000004,
    PPL_SEMI422_B = 0x70000005,
    PPL_SPECIAL16 = 0x70000008,
    PPL_SPECIAL8 = 0x70000009,
};

// Conversion classes.
enum : int { PPC_YUV2YUV = 0, PPC_YUV2RGB = 1, PPC_RGB2RGB = 2, PPC_RGB2YUV = 3 };

// What a colour ID says about one side.
struct PPPixelMap {
    int64_t layout = 0;
    int64_t width = 0;
    int64_t height = 0;
    int bitsPerPixel = 0;      // RGB and palette
    uint32_t mask[3] = {};     // R, G, B (RGB)
    int64_t yuvStandard = 0;   // 0x10001, 0x10002, 0x20001, 0x20002 (YUV and grey)
    int hs[3] = {1, 1, 1};     // sampling factors per plane (YUV and grey)
    int vs[3] = {1, 1, 1};
    const uint8_t* palette = nullptr;
};

// How one side is laid out in memory; pointers and pitches are bound for each run.
struct PPPlaneSet {
    int64_t layout = 0;
    bool packed = false;
    int bitsPerPixel = 0;
    int kind = 0;              // 1 packed, 3 planar
    int offY = 0, offU = 0, offV = 0;
    int stepY = 1, stepC = 1;
    int hs[3] = {1, 1, 1};
    int vs[3] = {1, 1, 1};
    int64_t pitch[3] = {};
    uint8_t* ptr[3] = {};
};

// One engine's set-up, owned by the engine.
struct PPEngineContext {
    PPPara para{};
    int64_t dither = 0;
    int alpha = 255;
    PPPixelMap dstMap, srcMap;
    PPPlaneSet dstSet, srcSet;
    int dstMaskSize[3] = {}, dstMaskPos[3] = {};
    int srcMaskSize[3] = {}, srcMaskPos[3] = {};
    int convClass = 0;
    bool bilinear = false;
    bool oneToOne = false;
    bool needRangeTable = false;
    bool specialPlanar = false;
    int blockMode = 1;
    int brightness = 0, contrast = 0, saturation = 0;
    // Colour tables: class 0 uses 512 bytes (luma map, chroma map); class 1 and 3 int32 tables.
    uint8_t* table = nullptr;
    int64_t tableSize = 0;
    // Per source-oriented column and row: first and second source index and the 16-bit fraction.
    int32_t* colIndex = nullptr; // 2 * orientedWidth entries (x0, x1)
    uint16_t* colFrac = nullptr;
    int32_t* rowIndex = nullptr; // 2 * orientedHeight entries (y0, y1)
    uint16_t* rowFrac = nullptr;
};

struct PPEngine {
    int64_t srcOriginX = 0, srcOriginY = 0;
    int64_t srcWidth = 0, srcHeight = 0;
    // Target area in target coordinates (after fitting) and the target image's size.
    int64_t dstAreaX = 0, dstAreaY = 0, dstAreaW = 0, dstAreaH = 0;
    int64_t dstWidth = 0, dstHeight = 0;
    // The target area as the source sees it (exchanged under a quarter turn).
    int64_t orientedW = 0, orientedH = 0;
    uint32_t orientation = 0;
    int64_t resampleMode = 0;
    int64_t bandMode = 0;
    PPPlaneSet dst, src;
    int64_t stepX = 0, stepY = 0, zoomX = 0, zoomY = 0;
    MRECT srcRect{};
    MRECT span{};          // target columns/rows (oriented) that the source rectangle covers
    bool rotated = false;
    PPEngineContext* ctx = nullptr;
};

struct PPHandleRecord {
    int32_t blockMode = 0;
    PPEngine* engine[3] = {};
};

// A band of work in source-oriented coordinates, with the way back to target pixels.
struct PPBand {
    int64_t u0, u1, v0, v1;    // oriented columns and rows, relative to the target area
};

// The colour tables the set-up builds and every kernel reads. Class 1 (YUV to RGB): the Y term,
// and per chroma value its red, green and blue parts, 16.16 with rounding.
struct PPYuvToRgbTables {
    int32_t y[256];
    int32_t crR[256], crG[256];
    int32_t cbB[256], cbG[256];
};

// Class 3 (RGB to YUV).
struct PPRgbToYuvTables {
    int32_t yr[256], yg[256], yb[256];
    int32_t cbr[256], cbg[256], cbb[256];
    int32_t crg[256], crb[256];
};


MResult MMapPixel(const PPFormat* fmt, PPPixelMap* map);
MResult MFormatColorID_GetBPP(const PPPixelMap* map, PPPlaneSet* set);
MResult MInitConvertParam(const PPPixelMap* map, PPPlaneSet* set);
MResult MInitConvertData(int64_t layout, PPPlaneSet* set, MByte* const* planes, const MInt64* pitches);
// extentX and extentY: the part of the source that the target maps onto, in 1/65536 pixels; 0 is
// the whole side (see MPPCreateWithExtent).
MResult MPPCreateIn(const PPFormat* dst, const PPFormat* src, const PPPara* para, PPEngine** out,
                    int64_t extentX = 0, int64_t extentY = 0);
void MPPDestroyIn(PPEngine* engine);
MResult MPProcessIn(PPEngine* engine, MByte* const* dstPlanes, const MRECT* rect, const MInt64* dstPitch,
                    const MByte* const* srcPlanes, const MInt64* srcPitch);
MResult MProcessImage_C(const PPEngine* engine, const PPPlaneSet* dst, const PPPlaneSet* src,
                        const MRECT* band);
MResult ANY_ANY_Bilinear_No_Table(const PPBand* band, const PPPlaneSet* dst, const PPPlaneSet* src,
                                  const PPEngine* engine);
MResult ANY_ANY_C_SLOW(const PPBand* band, const PPPlaneSet* dst, const PPPlaneSet* src, const PPEngine* engine);
// A 16.16 coefficient times the contrast gain, and the saturation gain too when asked.
int64_t MCMul(const PPEngineContext* ctx, int64_t coefficient, bool withSaturation);
// Counters of handles alive and handles ever made, for tests of the pool.
int64_t PPDebugLiveHandles();
int64_t PPDebugCreatedHandles();
// Chooses the block mode an engine really uses (see the set-up).
int PPChooseBlockMode(int64_t requested, int64_t dstLayout, int64_t srcLayout, bool srcPalette,
                      bool bilinear, bool oneToOne, uint32_t orientation, bool needRangeTable,
                      bool* specialPlanar);

#endif
