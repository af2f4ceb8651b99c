#include "Model/LMData.h"

#include <cstdlib>
#include <cstring>
#include <new>

LMData::~LMData() { std::free(m_bytes); }

std::shared_ptr<LMData> LMData::create(size_t length)
{
    // calloc so that an empty frame reads as transparent black; at least one byte so that a
    // zero-length block still has a valid address.
    auto *bytes = static_cast<uint8_t *>(std::calloc(length ? length : 1, 1));
    if (!bytes)
        return nullptr;
    try {
        return std::shared_ptr<LMData>(new LMData(bytes, length));
    } catch (const std::bad_alloc &) {
        std::free(bytes);
        return nullptr;
    }
}

std::shared_ptr<LMData> LMData::createWithBytes(const void *bytes, size_t length)
{
    auto block = create(length);
    if (block && length)
        std::memcpy(block->mutableBytes(), bytes, length);
    return block;
}
