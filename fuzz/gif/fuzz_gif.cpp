// Feeds arbitrary bytes to the GIF decoder: header, loop and frame walks, frames in both orders.
#include <cstdint>
#include <vector>

#include "GifDecoder.h"
#include "MStream.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::vector<uint8_t> copy(data, data + size);
    MSTREAM s = MStreamOpenFromMemoryBlock(copy.data(), int64_t(size));
    if (!s) return 0;
    int64_t w, h, b, count = 0;
    GIF_GetInfoFromFile(s, &w, &h, &b);
    MUInt64 info[3];
    GIF_GetGifInfo(s, info);
    MStreamSeek(s, 0, 0);
    GIF_GetFrameCount(s, &count);
    GIFHandle d = nullptr;
    if (GIF_DecodeInit(s, &d) == MOK) {
        if (size & 1) {
            int64_t ow = w / 3 + 1, oh = h / 2 + 1;
            GIF_DecodeSetDimension(d, &ow, &oh);
        }
        std::vector<uint8_t> row(65536 + 4);
        for (int64_t k = 0; k < 6; ++k) {
            int64_t f = (k & 1) ? 3 - k / 2 : k / 2;
            GIFFrameInfo fi{};
            if (GIF_DecodeGetFrameInfo(d, &fi, f) != MOK) continue;
            int64_t palSize;
            uint8_t pal[1024];
            GIF_DecodeGetColorTab(d, pal, &palSize);
            for (int y = 0; y < fi.wHeight && y < 2048; ++y) {
                int64_t first, got = 0;
                if (GIF_DecodeScanLines(d, row.data(), 1, &first, &got) != MOK || got == 0) break;
            }
        }
        GIF_DecodeUninit(d);
    }
    MStreamClose(s);
    return 0;
}
