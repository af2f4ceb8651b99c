// Memory streams: over a caller's fixed buffer, or growing in chunks of MSTREAM_CHUNK_SIZE bytes.
#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "StreamRecord.h"

#include "MMemory.h"

namespace {

bool isChunked(const MStreamRecord* s)
{
    return s->chunks != nullptr;
}

// Absolute position: the sizes of the chunks before the current one plus the block position.
int64_t memoryPosition(const MStreamRecord* s)
{
    uint64_t pos = s->blockPosition;
    if (isChunked(s)) {
        for (MStreamChunk* c = s->chunks->first; c != nullptr && c != s->chunks->current; c = c->next)
            pos += c->size;
    }
    return static_cast<int64_t>(pos);
}

void makeCurrent(MStreamRecord* s, MStreamChunk* c, uint64_t position)
{
    s->chunks->current = c;
    s->data = c->bytes();
    s->blockCapacity = c->size;
    s->blockPosition = position;
}

// Moves to an absolute position, clamped to 0 .. length. A position exactly at a chunk's end
// stays in that chunk, at its end.
void setMemoryPosition(MStreamRecord* s, int64_t wanted)
{
    if (wanted < 0)
        wanted = 0;
    if (wanted > s->length)
        wanted = s->length;
    uint64_t rest = static_cast<uint64_t>(wanted);
    if (!isChunked(s)) {
        s->blockPosition = rest;
        return;
    }
    MStreamChunk* c = s->chunks->first;
    while (rest > c->size && c->next != nullptr) {
        rest -= c->size;
        c = c->next;
    }
    makeCurrent(s, c, rest);
}

// Steps to the next chunk when the current block is exhausted; makes a new one when writing
// past the last. False when there is nowhere to go.
bool advanceBlock(MStreamRecord* s, bool mayAllocate)
{
    if (!isChunked(s))
        return false;
    MStreamChunk* c = s->chunks->current;
    if (c->next == nullptr) {
        if (!mayAllocate)
            return false;
        auto* fresh = static_cast<MStreamChunk*>(std::malloc(sizeof(MStreamChunk) + MSTREAM_CHUNK_SIZE));
        if (fresh == nullptr)
            return false;
        fresh->size = MSTREAM_CHUNK_SIZE;
        fresh->next = nullptr;
        c->next = fresh;
        s->totalCapacity += MSTREAM_CHUNK_SIZE;
    }
    makeCurrent(s, c->next, 0);
    return true;
}

} // namespace

int64_t kpvMemoryRead(MStreamRecord* s, void* buffer, int64_t count)
{
    if (buffer == nullptr || count <= 0)
        return 0;
    // Reads stop at the valid length, over a caller buffer as well: bytes past a lowered length
    // are no longer the stream's data.
    const int64_t left = s->length - memoryPosition(s);
    if (left <= 0)
        return 0;
    if (count > left)
        count = left;
    auto* out = static_cast<unsigned char*>(buffer);
    int64_t done = 0;
    while (done < count) {
        uint64_t room = s->blockCapacity - s->blockPosition;
        if (room == 0) {
            if (!advanceBlock(s, false))
                break;
            continue;
        }
        uint64_t piece = std::min<uint64_t>(room, static_cast<uint64_t>(count - done));
        std::memcpy(out + done, static_cast<unsigned char*>(s->data) + s->blockPosition, piece);
        s->blockPosition += piece;
        done += static_cast<int64_t>(piece);
    }
    return done;
}

int64_t kpvMemoryWrite(MStreamRecord* s, const void* buffer, int64_t count)
{
    if (buffer == nullptr || count <= 0)
        return 0;
    const auto* in = static_cast<const unsigned char*>(buffer);
    const int64_t start = memoryPosition(s);
    int64_t done = 0;
    while (done < count) {
        uint64_t room = s->blockCapacity - s->blockPosition;
        if (room == 0) {
            if (!advanceBlock(s, true))
                break; // a fixed buffer is full, or no memory for another chunk
            continue;
        }
        uint64_t piece = std::min<uint64_t>(room, static_cast<uint64_t>(count - done));
        std::memcpy(static_cast<unsigned char*>(s->data) + s->blockPosition, in + done, piece);
        s->blockPosition += piece;
        done += static_cast<int64_t>(piece);
    }
    if (done > 0 && start + done > s->length)
        s->length = start + done;
    return done;
}

MResult kpvMemorySeek(MStreamRecord* s, MWord origin, int64_t offset)
{
    int64_t base;
    switch (origin) {
    case MSTREAM_SEEK_BEGIN:
        base = 0;
        break;
    case MSTREAM_SEEK_END:
        base = s->length;
        break;
    case MSTREAM_SEEK_CUR:
        base = memoryPosition(s);
        break;
    default:
        return MERR_UNKNOWN;
    }
    int64_t wanted;
    if (__builtin_add_overflow(base, offset, &wanted))
        wanted = offset < 0 ? 0 : INT64_MAX;
    setMemoryPosition(s, wanted);
    return MOK;
}

int64_t kpvMemoryTell(MStreamRecord* s)
{
    return memoryPosition(s);
}

void kpvMemoryClose(MStreamRecord* s)
{
    if (isChunked(s)) {
        // The first chunk lives in the head's allocation.
        MStreamChunk* c = s->chunks->first->next;
        while (c != nullptr) {
            MStreamChunk* next = c->next;
            std::free(c);
            c = next;
        }
        std::free(s->chunks);
    }
    MMemFree(nullptr, s);
}

extern "C" MSTREAM MStreamOpenFromMemoryBlock(MVoid* pBuffer, MInt64 length)
{
    if (length < 0)
        return nullptr;
    auto* s = static_cast<MStreamRecord*>(MMemAlloc(nullptr, sizeof(MStreamRecord)));
    if (s == nullptr)
        return nullptr;
    std::memset(s, 0, sizeof(*s));
    s->type = MSTREAM_TYPE_MEMORY;
    if (pBuffer != nullptr) {
        s->data = pBuffer;
        s->blockCapacity = static_cast<uint64_t>(length);
        s->length = length;
        s->totalCapacity = static_cast<uint64_t>(length);
        return s;
    }
    const uint64_t first = (length >= 1 && length <= MSTREAM_CHUNK_SIZE) ? static_cast<uint64_t>(length)
                                                                         : MSTREAM_CHUNK_SIZE;
    auto* head = static_cast<MStreamChunkList*>(
        std::malloc(sizeof(MStreamChunkList) + sizeof(MStreamChunk) + first));
    if (head == nullptr) {
        MMemFree(nullptr, s);
        return nullptr;
    }
    auto* chunk = reinterpret_cast<MStreamChunk*>(head + 1);
    chunk->size = first;
    chunk->next = nullptr;
    head->first = chunk;
    head->current = chunk;
    s->chunks = head;
    s->growable = kGrowableMarker;
    s->data = chunk->bytes();
    s->blockCapacity = first;
    s->totalCapacity = first;
    return s;
}
