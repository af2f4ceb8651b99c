// Bitmap loads on hostile bytes: the photo loader's load with alpha at the image's own size
// (when small), at an eighth of it and at a fixed size, the load over a background, and the crop
// load.
#include <cstddef>
#include <cstdint>

#include "AMCM.h"
#include "MCodec.h"
#include "MStream.h"
#include "MdBitmapCrop.h"
#include "MdBitmapLoad.h"
#include "MdBitmapTrans.h"

namespace {

constexpr int64_t kMaxPixels = 1 << 20;

struct Owned {
    MBITMAP b{};
    Owned(uint64_t color, int64_t w, int64_t h) {
        b.dwPixelArrayFormat = color;
        b.lWidth = w;
        b.lHeight = h;
    }
    ~Owned() {
        if (b.pPlane[0]) MdBitmapFree(&b);
    }
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    AMCMHandle m = nullptr;
    if (AMCM_Create(nullptr, &m) != MOK) return 0;
    MdRegisterDecoderComponents(m);
    MSTREAM s = MStreamOpenFromMemoryBlock(const_cast<uint8_t*>(data), int64_t(size));
    if (s) {
        MImgFileInfo info{};
        if (MdGetImgFileInfo(m, s, &info) == MOK && info.lWidth > 0 && info.lHeight > 0 &&
            info.lWidth <= kMaxPixels / info.lHeight) {
            Owned own(0x37001777, 0, 0);
            MdBitmapLoadWithAlphaTrans(m, s, 0, &own.b, 255);
            // At an eighth of the image's size, as the photo loader asks for a large JPEG's thumbnail.
            Owned eighth(0x37001777, (info.lWidth + 7) / 8, (info.lHeight + 7) / 8);
            MdBitmapLoadWithAlphaTrans(m, s, 0, &eighth.b, 255);
            MRECT rc{info.lWidth / 4, info.lHeight / 4, info.lWidth - info.lWidth / 4, info.lHeight};
            Owned crop(0x16001777, 0, 0);
            MdBitmapLoadFilewithCrop(m, s, info.lWidth, info.lHeight, &rc, &crop.b);
        }
        Owned fixed(0x37001777, 37, 23);
        MdBitmapLoadWithAlphaTrans(m, s, 0, &fixed.b, 255);
        Owned over(0x15000454, 29, 31);
        MdBitmapLoadWithTransColor(m, s, 0, &over.b);
        MRECT rc{1, 2, 20, 17};
        Owned crop(0x15000454, 13, 11);
        MdBitmapLoadFilewithCrop(m, s, 24, 18, &rc, &crop.b);
        MStreamClose(s);
    }
    AMCM_Destroy(m);
    return 0;
}
