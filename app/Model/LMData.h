#pragma once

// A block of bytes shared between the objects that use it: a decoded frame is made by a loader
// thread, wrapped by a raw bitmap for the codec library, kept by a decoded image and shown by the
// view, all without copying the pixels. The block is written only by its maker, before it is handed
// on; the shared count is thread-safe.

#include <cstddef>
#include <cstdint>
#include <memory>

class LMData {
public:
    ~LMData();
    LMData(const LMData &) = delete;
    LMData &operator=(const LMData &) = delete;

    // A zero-filled block of `length` bytes; nullptr when the memory is not available.
    static std::shared_ptr<LMData> create(size_t length);
    // A block holding a copy of `length` bytes at `bytes`; nullptr when the memory is not available.
    static std::shared_ptr<LMData> createWithBytes(const void *bytes, size_t length);
    // A block over `length` bytes at `bytes` that `owner` keeps alive (a decoder's picture handed
    // on without copying its pixels); nullptr when either is missing.
    static std::shared_ptr<LMData> createWithOwner(uint8_t *bytes, size_t length, std::shared_ptr<const void> owner);

    const uint8_t *bytes() const { return m_bytes; }
    uint8_t *mutableBytes() { return m_bytes; }
    size_t length() const { return m_length; }

private:
    LMData(uint8_t *bytes, size_t length, std::shared_ptr<const void> owner = nullptr)
        : m_bytes(bytes), m_length(length), m_owner(std::move(owner)) {}
    uint8_t *m_bytes;
    size_t m_length;
    std::shared_ptr<const void> m_owner; // when set, it owns m_bytes

};

using LMDataBlock = std::shared_ptr<LMData>;
