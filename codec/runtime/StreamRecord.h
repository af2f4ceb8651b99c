// The stream record behind an MSTREAM handle, shared by the stream sources of this folder.
#ifndef KPV_CODEC_RUNTIME_STREAMRECORD_H
#define KPV_CODEC_RUNTIME_STREAMRECORD_H

#include <cstdint>
#include <optional>
#include <string>

#include "MStream.h"

// A growable memory stream keeps its data in a list of chunks. The first chunk is allocated
// together with the list head; every later one alone, with MSTREAM_CHUNK_SIZE data bytes.
struct MStreamChunk {
    uint64_t size;      // data bytes in this chunk
    MStreamChunk* next; // null at the end
    // data bytes follow
    unsigned char* bytes() { return reinterpret_cast<unsigned char*>(this + 1); }
};
static_assert(sizeof(MStreamChunk) == 16);

struct MStreamChunkList {
    MStreamChunk* first;
    MStreamChunk* current;
};

struct MStreamRecord {
    void* data;             // file: the FILE*; memory: the current block's data
    uint64_t type;          // MSTREAM_TYPE_FILE or MSTREAM_TYPE_MEMORY
    uint64_t blockCapacity; // memory: bytes in the current block
    uint64_t blockPosition; // memory: position inside the current block
    uint64_t growable;      // kGrowableMarker for a chunked stream, 0 over a caller buffer
    MStreamChunkList* chunks; // null over a caller buffer
    int64_t length;         // valid bytes
    uint64_t totalCapacity; // bytes in all chunks (the caller buffer's size when fixed)
};

inline constexpr uint64_t kGrowableMarker = 4097;

// Memory stream operations, dispatched to by the public stream functions.
int64_t kpvMemoryRead(MStreamRecord* s, void* buffer, int64_t count);
int64_t kpvMemoryWrite(MStreamRecord* s, const void* buffer, int64_t count);
MResult kpvMemorySeek(MStreamRecord* s, MWord origin, int64_t offset);
int64_t kpvMemoryTell(MStreamRecord* s);
void kpvMemoryClose(MStreamRecord* s);

// Converts the library's 16-bit path text to the file system's UTF-8, at whatever length the path
// has. Nothing for a null path or one with a lone surrogate, which names no file we could open.
std::optional<std::string> kpvNarrowPath(const MWChar* path);

#endif
