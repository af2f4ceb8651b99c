// Feeds arbitrary bytes to the PNG glue: the quick header reader, then full or scaled rows.
#include <cstdint>
#include <vector>

#include "MStream.h"
#include "PngDecoder.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::vector<uint8_t> copy(data, data + size);
    MSTREAM s = MStreamOpenFromMemoryBlock(copy.data(), int64_t(size));
    if (!s) return 0;
    int64_t w, h, b;
    PNG_GetInfoFromFile(s, &w, &h, &b);
    MStreamSeek(s, 0, 0);
    PNGHandle d = nullptr;
    if (PNG_DecodeInit(s, &d) == MOK) {
        PNGInfo pi;
        PNG_DecodeGetPngInfo(d, &pi);
        if (size & 1) PNG_DecodeSetRGBInvert(d);
        if (size & 2) {
            int64_t ow = pi.lOutWidth / 3 + 1, oh = pi.lOutHeight / 2 + 1;
            PNG_DecodeSetDimension(d, &ow, &oh);
            PNG_DecodeGetPngInfo(d, &pi);
        }
        uint8_t pal[1024];
        int64_t palSize;
        PNG_DecodeGetColorTab(d, pal, &palSize);
        int64_t rowBytes = (pi.lOutWidth * pi.lPixelDepth + 7) / 8;
        if (rowBytes > 0 && rowBytes < (int64_t(1) << 24) && pi.lOutWidth * pi.lOutHeight < (int64_t(1) << 22)) {
            std::vector<uint8_t> row(static_cast<size_t>(rowBytes));
            for (int64_t y = 0; y < pi.lOutHeight; ++y) {
                int64_t first, got;
                if (PNG_DecodeScanLines(d, row.data(), 1, &first, &got) != MOK) break;
            }
        }
        PNG_DecodeUninit(d);
    }
    MStreamClose(s);
    return 0;
}
