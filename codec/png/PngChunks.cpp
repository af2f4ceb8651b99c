// Walking a PNG's chunks: length, type, data and CRC, one after another up to IEND.
#include "MPngChunks.h"

MPngWalkEnd MPngWalkChunks(int64_t size, const MPngReadAt& readAt, const MPngVisit& visit, int64_t start)
{
    for (int64_t pos = start;;) {
        if (size >= 0 && size - pos < 12)
            return MPNG_WALK_END;
        uint8_t header[8];
        if (!readAt(pos, header, sizeof header))
            return MPNG_WALK_BROKEN;
        MPngChunk chunk{};
        chunk.length = uint32_t(header[0]) << 24 | uint32_t(header[1]) << 16 | uint32_t(header[2]) << 8 | header[3];
        std::memcpy(chunk.type, header + 4, 4);
        chunk.offset = pos;
        if (size >= 0 && int64_t(chunk.length) > size - pos - 12)
            return MPNG_WALK_BROKEN;
        if (!visit(chunk))
            return MPNG_WALK_STOPPED;
        if (chunk.is("IEND"))
            return MPNG_WALK_END;
        pos += 12 + int64_t(chunk.length);
    }
}

MPngWalkEnd MPngWalkChunksInMemory(const uint8_t* data, size_t size, const MPngVisit& visit)
{
    const auto readAt = [data, size](int64_t offset, uint8_t* buffer, size_t count) {
        if (offset < 0 || uint64_t(offset) > size || count > size - size_t(offset))
            return false;
        std::memcpy(buffer, data + offset, count);
        return true;
    };
    return MPngWalkChunks(int64_t(size), readAt, visit);
}
