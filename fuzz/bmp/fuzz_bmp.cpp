// Feeds arbitrary bytes to the BMP decoder: headers, colour table, full and scaled rows.
#include <cstdint>
#include <vector>

#include "BmpDecoder.h"
#include "MStream.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::vector<uint8_t> copy(data, data + size);
    MSTREAM s = MStreamOpenFromMemoryBlock(copy.data(), int64_t(size));
    if (!s) return 0;
    int64_t w, h, b;
    BMP_GetInfoFromFile(s, &w, &h, &b);
    MStreamSeek(s, 0, 0);
    BMPHandle d = nullptr;
    if (BMP_DecodeInit(s, &d) == MOK) {
        BMPInfoHeader ih;
        BMP_DecodeGetInfoHeader(d, &ih);
        uint8_t pal[1024];
        int64_t palSize = 0;
        BMP_DecodeGetColorTab(d, pal, &palSize);
        if (size & 1) {
            int64_t ow = ih.lWidth / 3 + 1, oh = ih.lHeight / 2 + 1;
            BMP_DecodeSetDimension(d, &ow, &oh);
            BMP_DecodeGetInfoHeader(d, &ih);
        }
        int64_t stride = ((ih.lWidth * (ih.wBitCount == 12 ? 16 : ih.wBitCount) + 31) / 32) * 4;
        if (stride * 2 < (int64_t(1) << 26)) {
            std::vector<uint8_t> rows(size_t(stride * 2));
            for (int64_t y = 0; y < ih.lHeight && y < 4096; y += 2) {
                int64_t first, got = 0;
                if (BMP_DecodeScanLines(d, rows.data(), 2, &first, &got) != MOK || got == 0) break;
            }
        }
        BMP_DecodeUninit(d);
    }
    MStreamClose(s);
    return 0;
}
