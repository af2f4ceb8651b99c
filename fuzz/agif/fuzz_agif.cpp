// Feeds arbitrary bytes to both animated GIF players: frames onto a canvas through the image
// decoder wrapper, and the display decoder at full and reduced size.
#include <algorithm>
#include <cstdint>
#include <vector>

#include "AMCM.h"
#include "MStream.h"
#include "MUtilsGIFDec.h"
#include "MdAGIF.h"
#include "MdComponent.h"

namespace {

void canvasPlayer(AMCMHandle m, std::vector<uint8_t>& bytes, bool reduce) {
    MSTREAM s = MStreamOpenFromMemoryBlock(bytes.data(), int64_t(bytes.size()));
    if (!s) return;
    AGIFDecodeHandle dec = nullptr;
    MInt64 want[2] = {64, 48}, count = 0;
    if (MdUtilsAGIFDecode_Create(m, s, 0x37001777, reduce ? want : nullptr, &count, &dec) == MOK) {
        // Canvases bigger than the screen are fine; keep them small so runs stay quick.
        const MInt64 w = reduce ? want[0] : 96, h = reduce ? want[1] : 80;
        std::vector<uint8_t> px(size_t(w * h * 4));
        MBITMAP c{0x37001777, w, h, {w * 4, 0, 0}, {px.data(), nullptr, nullptr}};
        for (MInt64 i = 0; i < std::min<MInt64>(count, 8); ++i)
            if (MdUtilsAGIFDecode_DecodeFrame(dec, &c) != MOK) break;
        MdUtilsAGIFDecode_Destroy(dec);
    }
    MStreamClose(s);
}

void displayPlayer(AMCMHandle m, std::vector<uint8_t>& bytes, bool reduce) {
    MSTREAM s = MStreamOpenFromMemoryBlock(bytes.data(), int64_t(bytes.size()));
    if (!s) return;
    GIFDecHandle dec = nullptr;
    if (MUtilsGIFDec_Create(m, s, &dec) == MOK) {
        MInt64 size[2] = {}, loop = 0, count = 0;
        MUtilsGIFDec_GetGlobalInfo(dec, size, &loop, &count);
        MInt64 w = size[0], h = size[1];
        MUtilsCalcGIFFitinSize(reduce ? 37 : 200, reduce ? 23 : 200, &w, &h, nullptr);
        std::vector<uint8_t> px(size_t(((w * 3 + 3) / 4 * 4) * h));
        MBITMAP b{0x15000454, w, h, {(w * 3 + 3) / 4 * 4, 0, 0}, {px.data(), nullptr, nullptr}};
        if (!reduce) b.dwPixelArrayFormat = 0x16000777;
        for (int i = 0; i < 10; ++i)
            if (MUtilsGIFDec_GetFrameData(dec, &b) > 1) break;
        MUtilsGIFDec_Destroy(dec);
    }
    MStreamClose(s);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::vector<uint8_t> copy(data, data + size);
    AMCMHandle m = nullptr;
    if (AMCM_Create(nullptr, &m) != MOK) return 0;
    MdRegisterDecoderComponents(m);
    canvasPlayer(m, copy, size & 1);
    displayPlayer(m, copy, size & 2);
    AMCM_Destroy(m);
    return 0;
}
