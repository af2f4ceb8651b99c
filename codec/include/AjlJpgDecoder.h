/* The library's own JPEG decoder: baseline, extended sequential and progressive Huffman JPEG,
 * 8-bit, one to three components, planar output at 1/1, 1/2, 1/4 and 1/8 scale, by line bands or
 * by MCU regions with an optional random-access index.
 *
 * Every entry point returns a JPEG result code (0 or one of JPG_ERR_*) widened to 64 bits. */
#ifndef KPV_CODEC_AJLJPGDECODER_H
#define KPV_CODEC_AJLJPGDECODER_H

#include <stdint.h>

#include "JpgMemStream.h"

#ifdef __cplusplus
extern "C" {
#endif

#define JPG_OK 0
#define JPG_ERR_PARAM 0x8001       /* null handle or buffer, wrong size, value out of range */
#define JPG_ERR_MEMORY 0x8002      /* out of memory */
#define JPG_ERR_CATEGORY 0x8004    /* (encoder) coefficient category too large */
#define JPG_ERR_UNSUPPORTED 0x8008 /* coding process, 4 components, layout, mode */
#define JPG_ERR_DATA 0x8010        /* bad or truncated data */
#define JPG_ERR_WRITE 0x8020       /* (encoder) stream write shortfall */
#define JPG_ERR_NO_INDEX 0x8040    /* no complete random-access index */
#define JPG_ERR_CANCELLED 0x8FFF   /* stopped by the progress callback */

/* Properties: (handle, id, value, size). Values are 64-bit unless noted. */
#define JPG_PROP_IMAGE_SIZE 0x1001     /* get 16: width, height */
#define JPG_PROP_PRECISION 0x1002      /* get 8 */
#define JPG_PROP_SCALE 0x1003          /* get/set 8: denominator 1, 2, 4, 8 */
#define JPG_PROP_COMPONENTS 0x1004     /* get 8 */
#define JPG_PROP_PROGRESS 0x1005       /* set 16: callback, user value */
#define JPG_PROP_SCALED_SIZE 0x1006    /* get 16: scaled width, height */
#define JPG_PROP_MCU_COUNT 0x1007      /* get 16: MCUs per row, MCU rows */
#define JPG_PROP_MCU_SIZE 0x1008       /* get 16: MCU width, height in pixels */
#define JPG_PROP_BLOCKS_PER_MCU 0x1009 /* get 8 */
#define JPG_PROP_SUBSAMPLING 0x100A    /* get 4: 0 4:2:0, 1 4:2:2, 2 4:4:0, 3 4:4:4, 4 grey, 5 other */
#define JPG_PROP_CHROMA_RATIO 0x100B   /* get 16: maxH / H and maxV / V of the second component */
#define JPG_PROP_BUILD_INDEX 0x100D    /* get, any size: decode the whole scan to build the index */
#define JPG_PROP_SCAN_MODE 0x100E      /* get 4: 0 baseline, 1 progressive, 2 multi-scan sequential */
#define JPG_PROP_RGB 0x100F            /* get 4: components identified R, G, B */
#define JPG_PROP_INDEX 0x1010          /* get/set 16: size and address of the index blob */
#define JPG_PROP_STREAM 0x1011         /* set 8: new input stream handle */
#define JPG_PROP_INDEX_BUDGET 0x1012   /* set 8: memory budget for an index in bytes */
/* get/set 8: 1 = at 1/2, 1/4 and 1/8, the chroma planes of a 4:2:0, 4:2:2 or 4:4:0 frame come at
 * the luma plane's size, each sample the average of its own output pixel's area (the chroma
 * transform is reduced by less); 0 (the default) = every plane at its component's own size. */
#define JPG_PROP_CHROMA_AT_LUMA 0x1013

#define JPG_INDEX_MAGIC 0x18100C0Du

typedef struct JpgDecoder JpgDecoder;

/* Creation record; read only during ajlJpgDecoderCreate. The JPEG must begin at stream offset 0. */
typedef struct JpgDecParam {
    void* stream;
    int64_t indexInterval;    /* MCU columns between index points; 0 = no index */
    int64_t bufferSize;       /* input buffer in bytes; 0 = 4096 */
    int64_t reserved;
    uint32_t flags;
    void* memUser;
    JpgAllocCallback memAlloc; /* may be null */
    JpgFreeCallback memFree;   /* may be null */
    JpgStreamCallback streamCallback; /* may be null: the MStream functions on stream */
} JpgDecParam;

/* Called after each decoded MCU row; a non-zero answer stops the call with JPG_ERR_CANCELLED. */
typedef int32_t (*JpgProgressCallback)(int32_t percent, void* user);

/* Region read request (ajlJpgDecoderReadMCUs). */
typedef struct JpgReadOutput {
    uint8_t** planes;  /* three plane addresses */
    int64_t* pitches;  /* three pitches in bytes (mode 1: coefficients per MCU row) */
} JpgReadOutput;

typedef struct JpgReadRequest {
    int32_t mode;        /* 0 position only, 1 coefficients, 2 component planes */
    int64_t count;       /* MCUs to read; counted down to 0 */
    int64_t startColumn; /* MCU column */
    int64_t startRow;    /* MCU row */
    JpgReadOutput* output; /* mode 0: receives the decoder handle */
} JpgReadRequest;

int64_t ajlJpgDecoderCreate(JpgDecoder** handle, const JpgDecParam* param);
int64_t ajlJpgDecoderDestroy(JpgDecoder* handle);
int64_t ajlJpgDecoderGetProp(JpgDecoder* handle, int64_t id, void* value, int64_t size);
int64_t ajlJpgDecoderSetProp(JpgDecoder* handle, int64_t id, const void* value, int64_t size);
/* Decodes the next band of *lines image lines into one plane per component (planar). */
int64_t ajlJpgDecoderScanlines(JpgDecoder* handle, uint8_t** planes, int64_t* pitches,
                               int64_t reserved, int64_t* lines);
/* Decodes the first band of another JPEG of the same shape through this decoder. */
int64_t ajlJpgDecoderDefaultScanlines(JpgDecoder* handle, uint8_t** planes, int64_t* pitches,
                                      int64_t reserved, int64_t* lines, void* stream);
int64_t ajlJpgDecoderReadMCUs(JpgDecoder* handle, JpgReadRequest* request);

#ifdef __cplusplus
}
#endif

#endif
