// The whole decode road on hostile bytes: sniff the type, create a decoder through the
// registered components, decode into RGBA at a reduced size, and through the image decoder.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "AMCM.h"
#include "MCodec.h"
#include "MIDec.h"
#include "MStream.h"
#include "MdImgInfo.h"

namespace {

constexpr int64_t kMaxPixels = 1 << 20;

void lines(AMCMHandle m, const uint8_t* data, size_t size) {
    MSTREAM s = MStreamOpenFromMemoryBlock(const_cast<uint8_t*>(data), int64_t(size));
    if (!s) return;
    MHandle codec = nullptr;
    if (MCodec_CreateDecoderEx(m, s, 0, nullptr, nullptr, 0, &codec) == MOK) {
        int64_t wh[2] = {};
        uint64_t rgba = 0x24;
        if (MCodec_GetProp(codec, 2, wh, 16) == MOK && wh[0] > 0 && wh[1] > 0 && wh[0] * wh[1] <= kMaxPixels &&
            MCodec_SetProp(codec, 3, &rgba, 8) == MOK) {
            // Half size through the one-buffer decode.
            const int64_t w = (wh[0] + 1) / 2, h = (wh[1] + 1) / 2;
            std::vector<uint8_t> buf(size_t(w * h * 4) + 16);
            MCodec_DecodeData(codec, nullptr, buf.data(), w * 4, 0.5);
        }
        MCodec_Destroy(codec);
    }
    MStreamClose(s);
}

void zoom(AMCMHandle m, const uint8_t* data, size_t size) {
    MSTREAM s = MStreamOpenFromMemoryBlock(const_cast<uint8_t*>(data), int64_t(size));
    if (!s) return;
    MHandle dec = nullptr;
    if (MIDec_Create(m, s, 0, &dec) == MOK) {
        int64_t wh[2] = {};
        uint64_t rgba = 0x37001777;
        if (MIDec_GetProp(dec, 0x1007, wh, 16) == MOK && wh[0] > 0 && wh[1] > 0 && wh[0] * wh[1] <= kMaxPixels &&
            MIDec_SetProp(dec, 3, &rgba, 8) == MOK) {
            int64_t out[2] = {(wh[0] + 2) / 3, (wh[1] + 2) / 3};
            if (MIDec_SetProp(dec, 0x1007, out, 16) == MOK) {
                std::vector<uint8_t> buf(size_t(out[0] * out[1] * 4) + 16);
                MByte* planes[3] = {buf.data(), nullptr, nullptr};
                MInt64 pitches[3] = {out[0] * 4, 0, 0}, start = 0, count = out[1];
                MIDec_Scanlines(dec, planes, pitches, &start, &count);
            }
        }
        MIDec_Destroy(dec);
    }
    MStreamClose(s);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    AMCMHandle m = nullptr;
    if (AMCM_Create(nullptr, &m) != MOK) return 0;
    MdRegisterDecoderComponents(m);
    lines(m, data, size);
    zoom(m, data, size);
    AMCM_Destroy(m);
    return 0;
}
