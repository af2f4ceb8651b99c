#pragma once
// Caps that keep a hostile or absurd image file from exhausting memory.

#include <cstdint>

namespace kpv {

struct ImageLimits {
    // Pixels one frame may have (width x height), checked against the header before decoding.
    static constexpr std::uint64_t kMaxPixelsPerFrame = std::uint64_t(1) << 28;
    // Bytes that all decoded frames of one request may take together (RGBA, 4 bytes a pixel); no
    // more than all decodes of the process may hold at once (DecodeBudget).
    static constexpr std::uint64_t kMaxDecodedBytes = std::uint64_t(1) << 30;

    // True when a frame of this size may be decoded.
    static constexpr bool frameAllowed(std::uint64_t width, std::uint64_t height)
    {
        return width > 0 && height > 0 && width <= kMaxPixelsPerFrame && height <= kMaxPixelsPerFrame &&
               width * height <= kMaxPixelsPerFrame;
    }
};

}  // namespace kpv
