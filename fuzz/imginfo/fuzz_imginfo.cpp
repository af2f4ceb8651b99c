// Feeds arbitrary bytes to the sniffer, every header reader, the EXIF walk and the GIF walk.
#include <cstdint>
#include <vector>

#include "MStream.h"
#include "MdImgInfo.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::vector<uint8_t> copy(data, data + size);
    MSTREAM s = MStreamOpenFromMemoryBlock(copy.data(), int64_t(size));
    if (!s) return 0;
    ImgFormat t;
    MdImgSize sz;
    MInt64 detail, bits, w, h;
    MImgGetFileInfoWithFileName(nullptr, s, (size & 1) ? "a.wbmp" : "a.gif", &t, &sz, &detail, &bits);
    MdUtilsGetThumbImgInfoEx(s, &t, &sz, &detail, &bits);
    using Reader = MResult (*)(MSTREAM, MInt64*, MInt64*, MInt64*);
    for (Reader r : {_GetInfoFromBmpStream, _GetInfoFromGifStream, _GetInfoFromPngStream, _GetInfoFromWbmpStream,
                     _GetInfoFromIcoStream, _GetInfoFromTifStream}) {
        MStreamSeek(s, 0, 0);
        r(s, &w, &h, &bits);
    }
    MStreamSeek(s, 0, 0);
    _GetInfoFromJpegStream(s, &w, &h, &bits, &detail);
    MStreamClose(s);
    return 0;
}
