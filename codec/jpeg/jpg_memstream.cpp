// Memory and stream access of the JPEG codec: the caller's callbacks when given, the runtime's
// heap and MStream functions otherwise.
#include <cstring>

#include "JpgMemStream.h"
#include "MMemory.h"
#include "MStream.h"

extern "C" {

void* JpgMemAlloc(uint32_t size, JpgAllocCallback alloc, void** table, void* user) {
    uint64_t want = uint64_t(size) + 16;
    uint8_t* raw = nullptr;
    if (alloc && table) {
        for (int i = 0; i < JPG_ALLOC_SLOTS; ++i) {
            if (!table[i]) {
                raw = static_cast<uint8_t*>(alloc(int64_t(want), user));
                table[i] = raw;
                break;
            }
        }
    }
    if (!raw) {
        raw = static_cast<uint8_t*>(MMemAlloc(nullptr, size_t(want)));
        if (!raw) {
            return nullptr;
        }
    }
    // Round raw + 16 down to 16: the distance is 1..16 and the word before the block is free.
    uintptr_t out = (reinterpret_cast<uintptr_t>(raw) + 16) & ~uintptr_t(15);
    uint64_t distance = out - reinterpret_cast<uintptr_t>(raw);
    std::memcpy(reinterpret_cast<uint8_t*>(out) - 8, &distance, 8);
    return reinterpret_cast<void*>(out);
}

void JpgMemFree(void* block, JpgFreeCallback free, void** table, void* user) {
    if (!block) {
        return;
    }
    uint64_t distance;
    std::memcpy(&distance, static_cast<uint8_t*>(block) - 8, 8);
    void* raw = static_cast<uint8_t*>(block) - distance;
    if (free && table) {
        for (int i = 0; i < JPG_ALLOC_SLOTS; ++i) {
            if (table[i] == raw) {
                table[i] = nullptr;
                free(raw, user);
                return;
            }
        }
    }
    MMemFree(nullptr, raw);
}

void* JpgMemSet(void* dst, int value, int32_t count) {
    if (count > 0) {
        std::memset(dst, value & 0xFF, size_t(count));
    }
    return dst;
}

void* JpgMemCopy(void* dst, const void* src, int32_t count) {
    if (count > 0) {
        std::memcpy(dst, src, size_t(count));
    }
    return dst;
}

int32_t JpgStreamRead(void* stream, void* buffer, uint32_t count, JpgStreamCallback cb) {
    if (!stream) {
        return 0;
    }
    if (cb) {
        JpgStreamIo io{buffer, count};
        return cb(JPG_STREAM_READ, stream, &io);
    }
    return int32_t(MStreamRead(static_cast<MSTREAM>(stream), buffer, count));
}

int32_t JpgStreamWrite(void* stream, void* buffer, uint32_t count, JpgStreamCallback cb) {
    if (!stream) {
        return 0;
    }
    if (cb) {
        JpgStreamIo io{buffer, count};
        return cb(JPG_STREAM_WRITE, stream, &io);
    }
    return int32_t(MStreamWrite(static_cast<MSTREAM>(stream), buffer, count));
}

int32_t JpgStreamSeek(void* stream, int16_t origin, uint32_t offset, JpgStreamCallback cb) {
    if (!stream) {
        return 0;
    }
    if (cb) {
        JpgStreamSeekArgs args{int32_t(origin), offset};
        return cb(JPG_STREAM_SEEK, stream, &args);
    }
    return int32_t(MStreamSeek(static_cast<MSTREAM>(stream), MWord(origin), int64_t(offset)));
}

int32_t JpgStreamTell(void* stream, JpgStreamCallback cb) {
    if (!stream) {
        return 0;
    }
    if (cb) {
        return cb(JPG_STREAM_TELL, stream, nullptr);
    }
    return int32_t(MStreamTell(static_cast<MSTREAM>(stream)));
}

int32_t JpgStreamFlush(void* stream, JpgStreamCallback cb) {
    if (!stream) {
        return 0;
    }
    if (cb) {
        return cb(JPG_STREAM_FLUSH, stream, nullptr);
    }
    return int32_t(MStreamFlush(static_cast<MSTREAM>(stream)));
}

} // extern "C"
