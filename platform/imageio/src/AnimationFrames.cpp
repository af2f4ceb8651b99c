// Whether a GIF or WebP file holds more than one frame, and whether it stops before its end, told
// from its blocks and chunks alone: no picture is decoded. A batch asks this of every photo it has
// just written anew, so only what lies before the second frame is walked to count frames. The
// bytes may be anything: every length is checked against what remains before it is followed, and
// a file broken or cut short counts the frames before the break (the ones the viewer shows).

#include "FormatDecoder.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>

namespace kpv::imageio_detail {

namespace {

// GIF89a 18: a global or local colour table follows when bit 7 of the packed field is set, with
// 2^(n+1) entries of three bytes.
size_t colourTableBytes(uint8_t packed) { return (packed & 0x80) ? size_t(3) << ((packed & 7) + 1) : 0; }

// GIF89a 15: data sub-blocks, each a size byte and that many bytes, ended by a block of size 0.
// The offset after the terminator, or 0 when the bytes end first.
size_t skipSubBlocks(const uint8_t* bytes, size_t size, size_t at)
{
    while (at < size) {
        const size_t length = bytes[at];
        ++at;
        if (length == 0)
            return at;
        if (length > size - at)
            return 0;
        at += length;
    }
    return 0;
}

uint32_t littleEndian32(const uint8_t* p) { return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24; }

} // namespace

bool gifHasMoreFrames(const QByteArray& data)
{
    const auto* bytes = reinterpret_cast<const uint8_t*>(data.constData());
    const size_t size = size_t(data.size());
    // GIF89a 17 and 18: the header and the logical screen descriptor.
    if (size < 13 || (!data.startsWith("GIF87a") && !data.startsWith("GIF89a")))
        return false;
    size_t at = 13 + colourTableBytes(bytes[10]);
    int frames = 0;
    while (at < size) {
        switch (bytes[at]) {
        case 0x2C: {
            // GIF89a 20: an image descriptor, its colour table, the LZW code size and the data.
            if (size - at < 10)
                return false;
            const size_t table = colourTableBytes(bytes[at + 9]);
            if (table >= size - at - 10)
                return false;
            at += 10 + table;
            if (++frames > 1)
                return true;
            at = skipSubBlocks(bytes, size, at + 1);
            break;
        }
        case 0x21:
            // GIF89a 23 to 26: an extension, its label and its sub-blocks.
            at = size - at < 2 ? 0 : skipSubBlocks(bytes, size, at + 2);
            break;
        default:
            // GIF89a 27: the trailer, or anything else that ends what can be read.
            return false;
        }
        if (at == 0)
            return false;
    }
    return false;
}

bool webpHasMoreFrames(const QByteArray& data)
{
    const auto* bytes = reinterpret_cast<const uint8_t*>(data.constData());
    size_t size = size_t(data.size());
    if (size < 12 || !data.startsWith("RIFF") || data.mid(8, 4) != "WEBP")
        return false;
    // The RIFF size counts from the form type on; a file longer than it has trailing bytes that are
    // not the picture's.
    const uint64_t riffEnd = uint64_t(littleEndian32(bytes + 4)) + 8;
    if (riffEnd < 12)
        return false;
    if (riffEnd < size)
        size = size_t(riffEnd);
    // An animation is an extended file whose VP8X chunk sets the animation flag (bit 1), and each
    // of its frames an ANMF chunk; chunks are padded to an even size.
    size_t at = 12;
    int frames = 0;
    while (size - at >= 8) {
        const uint8_t* chunk = bytes + at;
        const uint64_t length = littleEndian32(chunk + 4);
        if (at == 12) {
            if (std::memcmp(chunk, "VP8X", 4) != 0 || length < 1 || size - at - 8 < 1)
                return false;
            if ((chunk[8] & 0x02) == 0)
                return false;
        }
        // A frame counts once its whole chunk is there (the padding byte may be missing at the end).
        if (8 + length > size - at)
            return false;
        if (std::memcmp(chunk, "ANMF", 4) == 0 && ++frames > 1)
            return true;
        at += size_t(std::min<uint64_t>(8 + length + (length & 1), size - at));
    }
    return false;
}

bool gifEndsEarly(const QByteArray& data)
{
    const auto* bytes = reinterpret_cast<const uint8_t*>(data.constData());
    const size_t size = size_t(data.size());
    if (size < 6 || (!data.startsWith("GIF87a") && !data.startsWith("GIF89a")))
        return false;
    if (size < 13)
        return true;
    const size_t table = colourTableBytes(bytes[10]);
    if (table > size - 13)
        return true;
    // Every block up to the trailer: one cut inside, or bytes that begin no block (the rest of a
    // picture whose data a run of damaged bytes ended early), leave the picture unfinished.
    size_t at = 13 + table;
    while (at < size) {
        switch (bytes[at]) {
        case 0x2C: {
            if (size - at < 10)
                return true;
            const size_t local = colourTableBytes(bytes[at + 9]);
            if (local >= size - at - 10)
                return true;
            at = skipSubBlocks(bytes, size, at + 11 + local);
            break;
        }
        case 0x21:
            at = size - at < 2 ? 0 : skipSubBlocks(bytes, size, at + 2);
            break;
        case 0x3B:
            return false;
        default:
            return true;
        }
        if (at == 0)
            return true;
    }
    // Ended between two blocks: every picture begun was whole.
    return false;
}

bool webpEndsEarly(const QByteArray& data)
{
    const auto* bytes = reinterpret_cast<const uint8_t*>(data.constData());
    const size_t size = size_t(data.size());
    if (size < 12 || !data.startsWith("RIFF") || data.mid(8, 4) != "WEBP")
        return false;
    // The RIFF size counts from the form type on; each chunk is padded to an even size, and a
    // last chunk without its padding byte lacks nothing of the picture.
    const uint64_t riffEnd = uint64_t(littleEndian32(bytes + 4)) + 8;
    if (riffEnd < 12)
        return false;
    uint64_t at = 12;
    while (at + 8 <= riffEnd) {
        if (size - at < 8)
            return true;
        const uint64_t length = littleEndian32(bytes + at + 4);
        if (length > size - at - 8)
            return true;
        at = std::min<uint64_t>(at + 8 + length + (length & 1), size);
    }
    return false;
}

} // namespace kpv::imageio_detail
