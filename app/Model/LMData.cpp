#include "Model/LMData.h"

#include <cstdlib>
#include <cstring>
#include <new>

LMData::~LMData()
{
    if (!m_owner)
        std::free(m_bytes);
}

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

std::shared_ptr<LMData> LMData::createWithOwner(uint8_t *bytes, size_t length, std::shared_ptr<const void> owner)
{
    if (!bytes || !owner)
        return nullptr;
    try {
        return std::shared_ptr<LMData>(new LMData(bytes, length, std::move(owner)));
    } catch (const std::bad_alloc &) {
        return nullptr;
    }
}
