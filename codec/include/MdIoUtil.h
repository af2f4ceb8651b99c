/* Small helpers shared by the codec front ends: exact reads from a stream and byte-order
 * decoding of header fields. Header-only; C++ callers only. */
#ifndef KPV_CODEC_MDIOUTIL_H
#define KPV_CODEC_MDIOUTIL_H

#ifdef __cplusplus

#include <cstdint>

#include "MStream.h"
#include "MTypes.h"

namespace mdio {

inline uint16_t le16(const uint8_t* p) { return uint16_t(p[0] | (p[1] << 8)); }
inline uint32_t le32(const uint8_t* p) {
    return uint32_t(p[0]) | (uint32_t(p[1]) << 8) | (uint32_t(p[2]) << 16) | (uint32_t(p[3]) << 24);
}
inline uint16_t be16(const uint8_t* p) { return uint16_t((p[0] << 8) | p[1]); }
inline uint32_t be32(const uint8_t* p) {
    return (uint32_t(p[0]) << 24) | (uint32_t(p[1]) << 16) | (uint32_t(p[2]) << 8) | uint32_t(p[3]);
}

/* True when exactly `n` bytes were read. */
inline bool readExact(MSTREAM s, void* buf, int64_t n) {
    return n == 0 || MStreamRead(s, buf, n) == n;
}

inline bool seekTo(MSTREAM s, int64_t pos) {
    return pos >= 0 && MStreamSeek(s, MSTREAM_SEEK_BEGIN, pos) == 0;
}

inline bool readByte(MSTREAM s, uint8_t* b) { return MStreamRead(s, b, 1) == 1; }

}  // namespace mdio

#endif
#endif
