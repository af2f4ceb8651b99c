// The alpha byte of 32-bit targets whose source pixels carry no alpha of their own.
//
// The post-processing engine converts colour only: from 24-bit RGB rows it leaves a 32-bit
// target's alpha byte as it finds it, and for YUV and grey sources its pooled handles always write
// 255. The framework's alpha value (property 0x1803, 255 when unset) is what such pixels are meant
// to carry, so every place that converts through the engine writes it afterwards.
#include "CodecInternal.h"

namespace mcodec {

int constantAlphaByte(MUInt64 dstNew, MUInt64 srcNew) {
    // RGB with alpha, 8 bits a channel in a 32-bit word: the alpha is the top byte of the
    // little-endian word, the fourth byte in memory, for both channel orders.
    const MUInt64 d = dstNew & 0xFFFFEFFFu;
    if (d != 0x37000777u) return -1;
    switch (MCOLOR_CLASS(srcNew)) {
    case MCOLOR_CLASS_RGB:
    case MCOLOR_CLASS_YUV:
    case MCOLOR_CLASS_GRAY:
    case MCOLOR_CLASS_YUV_SP:
        return 3;
    default:
        // Sources with alpha hand theirs on; palette entries bring their own.
        return -1;
    }
}

MByte alphaByteValue(MInt64 bSet, MInt64 value) {
    if (!bSet) return 0xFF;
    return MUInt64(value) < 256 ? MByte(value) : MByte(0xFF);
}

void fillAlpha(MByte* origin, MInt64 pitch, const MRECT& rc, int byteIndex, MByte value) {
    if (!origin || byteIndex < 0 || rc.right <= rc.left || rc.bottom <= rc.top) return;
    for (MInt64 y = rc.top; y < rc.bottom; ++y) {
        MByte* p = origin + y * pitch + rc.left * 4 + byteIndex;
        for (MInt64 x = rc.left; x < rc.right; ++x, p += 4) *p = value;
    }
}

} // namespace mcodec
