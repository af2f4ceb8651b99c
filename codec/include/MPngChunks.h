/* The chunks of a PNG file, walked in file order: the one walker that every reader of a PNG's
 * chunks goes through, over a stream, a file or bytes in memory. */
#ifndef KPV_CODEC_MPNGCHUNKS_H
#define KPV_CODEC_MPNGCHUNKS_H

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <functional>

struct MPngChunk {
    char type[5];     /* four letters and a terminating zero */
    uint32_t length;  /* of the chunk's data */
    int64_t offset;   /* of the chunk's length field; its data starts 8 bytes later */
    bool is(const char* name) const { return std::memcmp(type, name, 4) == 0; }
};

enum MPngWalkEnd {
    MPNG_WALK_END,     /* IEND was visited, or fewer bytes than a chunk header are left */
    MPNG_WALK_STOPPED, /* the visitor asked to stop */
    MPNG_WALK_BROKEN,  /* a header could not be read, or a chunk runs past the end */
};

/* Bytes at an offset: true when all `count` were read. */
using MPngReadAt = std::function<bool(int64_t offset, uint8_t* buffer, size_t count)>;
/* Sees one chunk; false stops the walk. */
using MPngVisit = std::function<bool(const MPngChunk& chunk)>;

/* Walks from `start` (8: just after the signature). `size` is the file's size, or -1 when it is
 * not known: then only a failed read ends the walk early. A chunk is visited only when its data
 * and CRC lie within `size`. */
MPngWalkEnd MPngWalkChunks(int64_t size, const MPngReadAt& readAt, const MPngVisit& visit, int64_t start = 8);

/* The same over bytes in memory, which start with the signature. */
MPngWalkEnd MPngWalkChunksInMemory(const uint8_t* data, size_t size, const MPngVisit& visit);

#endif
