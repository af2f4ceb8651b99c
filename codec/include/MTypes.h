/* Basic types and result codes of the codec library. Plain C; no platform headers beyond the
 * fixed-width integers. */
#ifndef KPV_CODEC_MTYPES_H
#define KPV_CODEC_MTYPES_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef void MVoid;
typedef char MChar;
typedef uint8_t MByte;
typedef int8_t MInt8;
typedef uint16_t MWord;
typedef int16_t MShort;
typedef uint32_t MDWord;
typedef int32_t MInt32;
typedef uint32_t MUInt32;
typedef int64_t MInt64;
typedef uint64_t MUInt64;
typedef int64_t MLong;
typedef int32_t MBool;
typedef void* MPVoid;

/* The library's own 16-bit text unit (zero-terminated arrays of these). char16_t in C++ so that
 * u"..." literals can be passed directly; the same width and representation in C. */
#ifdef __cplusplus
typedef char16_t MWChar;
#else
typedef uint16_t MWChar;
#endif

/* An opaque handle. A memory context is an MHandle: null means the process heap, anything else
 * is a static block manager made by MMemMgrCreate. */
typedef void* MHandle;

#define MTrue 1
#define MFalse 0
#define MNull 0

/* The codec result code: every library function that does not return a count, a size or a
 * pointer returns one. Compare for equality only; no code is a bit mask. */
typedef int64_t MResult;

#define MOK 0                      /* success */
#define MERR_UNKNOWN 1             /* failure, or the thing looked for is not there */
#define MERR_INVALID_PARAM 2       /* null handle or output, empty size, bad index */
#define MERR_UNSUPPORTED 3         /* unsupported format, size or type; no plug-in manager */
#define MERR_NO_MEMORY 4           /* an allocation failed */
#define MERR_REGISTRATION 5        /* already registered, not registered, or past the last record */
#define MERR_BUFFER_TOO_SMALL 9    /* the caller's buffer cannot hold the result */
#define MERR_FILE_SEEK 0x1005      /* seek failed */
#define MERR_FILE_READ 0x1006      /* read failed */
#define MERR_FILE_WRITE 0x1007     /* write failed */
#define MERR_FILE_OPEN 0x1008      /* file could not be opened */
#define MERR_NO_CODEC 0x80000      /* no codec component for the image type */
#define MERR_CODEC_NOT_OPEN 0x80001 /* the image codec wrapper has no codec open */
#define MERR_AGIF_NO_MORE 0x80002  /* animated GIF encoding step has nothing more to do */
#define MERR_PP_POOL_FULL 0x80007  /* post-processing handle pool is full */

/* A point and a rectangle. Right and bottom are exclusive; a rectangle is empty unless
 * left < right and top < bottom. */
typedef struct MPOINT {
    MInt64 x;
    MInt64 y;
} MPOINT;

typedef struct MSIZE {
    MInt64 cx;
    MInt64 cy;
} MSIZE;

typedef struct MRECT {
    MInt64 left;
    MInt64 top;
    MInt64 right;
    MInt64 bottom;
} MRECT;

#ifdef __cplusplus
}
#endif

#endif
