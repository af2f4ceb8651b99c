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

    // Whether a JPEG file of this many bytes can hold a frame of this size: every 8 x 8 block of
    // the first component costs at least one bit in the first scan that covers it (a DC
    // difference code), so a complete file has at least blocks / 8 bytes. A file far shorter is
    // refused before anything is allocated for its frame.
    static constexpr bool jpegFileCanHold(std::uint64_t fileBytes, std::uint64_t width, std::uint64_t height)
    {
        return fileBytes >= ((width + 7) / 8) * ((height + 7) / 8) / 8;
    }

    // True when a frame of this size may be decoded.
    static constexpr bool frameAllowed(std::uint64_t width, std::uint64_t height)
    {
        return width > 0 && height > 0 && width <= kMaxPixelsPerFrame && height <= kMaxPixelsPerFrame &&
               width * height <= kMaxPixelsPerFrame;
    }
};

}  // namespace kpv
