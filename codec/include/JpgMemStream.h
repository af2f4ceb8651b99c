/* Memory and stream access of the JPEG codec: the caller's allocator and stream access when
 * given, the runtime's heap and MStream functions otherwise. */
#ifndef KPV_CODEC_JPGMEMSTREAM_H
#define KPV_CODEC_JPGMEMSTREAM_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef void* (*JpgAllocCallback)(int64_t size, void* user);
typedef void (*JpgFreeCallback)(void* block, void* user);

/* op 0 read {buffer, uint32 count}, 1 write (same), 2 flush (null), 3 seek {int32 origin,
 * uint32 offset} with origins 0 start, 1 end, 2 current, 4 tell (null). */
typedef int32_t (*JpgStreamCallback)(int32_t op, void* stream, void* args);

#define JPG_STREAM_READ 0
#define JPG_STREAM_WRITE 1
#define JPG_STREAM_FLUSH 2
#define JPG_STREAM_SEEK 3
#define JPG_STREAM_TELL 4

#define JPG_ALLOC_SLOTS 18

typedef struct JpgStreamIo {
    void* buffer;
    uint32_t count;
} JpgStreamIo;

typedef struct JpgStreamSeekArgs {
    int32_t origin;
    uint32_t offset;
} JpgStreamSeekArgs;

/* Blocks are 16-byte aligned; the word before each holds its distance from the raw block. */
void* JpgMemAlloc(uint32_t size, JpgAllocCallback alloc, void** table, void* user);
void JpgMemFree(void* block, JpgFreeCallback free, void** table, void* user);
void* JpgMemSet(void* dst, int value, int32_t count);
void* JpgMemCopy(void* dst, const void* src, int32_t count);

int32_t JpgStreamRead(void* stream, void* buffer, uint32_t count, JpgStreamCallback cb);
int32_t JpgStreamWrite(void* stream, void* buffer, uint32_t count, JpgStreamCallback cb);
int32_t JpgStreamSeek(void* stream, int16_t origin, uint32_t offset, JpgStreamCallback cb);
int32_t JpgStreamTell(void* stream, JpgStreamCallback cb);
int32_t JpgStreamFlush(void* stream, JpgStreamCallback cb);

#ifdef __cplusplus
}
#endif

#endif
