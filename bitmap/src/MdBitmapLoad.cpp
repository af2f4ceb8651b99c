// Loading an encoded image into a bitmap through a codec framework decoder, the load through the
// image decoder wrapper, and the file facts asked on the way.
#include "MdBitmapLoad.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "MCodec.h"
#include "MIDec.h"
#include "MMemory.h"
#include "MdColorID.h"
#include "MdComponent.h"
#include "MdLoadInternal.h"

const MResult g_dwLoadReturn[6] = {2, 4, 3, 0x1005, 0x1006, 0x1008};
const MResult g_dwFileInfoReturn[5] = {2, 4, 3, 0x1005, 0x1006};
const MResult g_dwFileFrmtReturn[4] = {2, 4, 0x1005, 0x1006};
const MResult g_dwSaveReturn[5] = {2, 4, 3, 0x1007, 0x1004};

namespace {

bool isYuvClass(MUInt64 id) { return (id & 0xF0000000u) == 0x50000000u; }

struct Decoder {
    MHandle h = nullptr;
    Decoder() = default;
    Decoder(const Decoder&) = delete;
    Decoder& operator=(const Decoder&) = delete;
    ~Decoder() {
        if (h) MCodec_Destroy(h);
    }
};

MResult set8(MHandle d, MInt64 id, MInt64 v) { return MCodec_SetProp(d, id, &v, 8); }

// GIF frame facts as the load reads them from a GIFFrameInfo record.
struct FrameFacts {
    MInt64 left = 0, top = 0, width = 0, height = 0;
    MUInt64 interlace = 0, transparent = 0;
};

MResult readFrame(MHandle d, FrameFacts* f) {
    MByte info[56] = {};
    MResult r = MCodec_GetProp(d, MDEC_PROP_GIF_FRAMEINFO, info, 56);
    if (r != MOK) return r;
    MWord w[4];
    std::memcpy(w, info, 8);
    f->left = w[0];
    f->top = w[1];
    f->width = w[2];
    f->height = w[3];
    std::memcpy(&f->interlace, info + 32, 8);
    std::memcpy(&f->transparent, info + 40, 8);
    return MOK;
}

// Takes the image's size when the caller asked for it; refuses what no bitmap should hold.
MResult adoptImageSize(MBITMAP* b, const MInt64 img[2]) {
    if (b->lWidth > 0 && b->lHeight > 0) return MOK;
    if (img[0] < 1 || img[1] < 1) return MERR_UNSUPPORTED;
    if (img[0] > MD_LOAD_MAX_PIXELS / img[1]) return MERR_UNSUPPORTED;
    b->lWidth = img[0];
    b->lHeight = img[1];
    return MOK;
}

MResult s_utils_decode(AMCMHandle hAMCM, MSTREAM stream, MInt64 type, MBITMAP* bmp, MInt64 bAlpha, MInt64 alpha,
                       MCODEC_FNPROGRESS progress = nullptr, MVoid* progressUser = nullptr) {
    if (!hAMCM || !stream || !bmp || bmp->dwPixelArrayFormat == 0) return MERR_INVALID_PARAM;
    if (type == 0) {
        ImgFormat f = 0;
        const MResult r = MdGetImgFileFormat(hAMCM, stream, &f);
        if (r != MOK) return r;
        type = f;
    }
    if (!MdUtils_bSupportedFileFormat(type)) return MERR_INVALID_PARAM;
    // Only the JPEG decoder produces YUV output.
    if (type != MD_IMG_JPEG && isYuvClass(bmp->dwPixelArrayFormat)) return MERR_UNSUPPORTED;

    MdStreamPosition keep(stream);
    bool ownPlanes = false;
    MdOwnedBitmap temp;
    MResult r = MOK;
    {
        Decoder dec;
        r = MStreamSeek(stream, MSTREAM_SEEK_BEGIN, 0) == MOK ? MOK : MERR_FILE_SEEK;
        if (r == MOK) r = MCodec_DecodeCreate(hAMCM, stream, 0, &dec.h);
        if (r == MOK && bAlpha) r = set8(dec.h, MCODEC_PROP_ALPHA, alpha);
        if (r == MOK && progress) {
            // Asked of the decoder: one that reports no progress loads to the end.
            void* callback[2] = {reinterpret_cast<void*>(progress), progressUser};
            MCodec_SetProp(dec.h, MDEC_PROP_PROGRESS, callback, 16);
        }
        MInt64 img[2] = {};
        if (r == MOK) r = MCodec_GetProp(dec.h, MDEC_PROP_IMAGE_SIZE, img, 16);
        if (r == MOK) r = adoptImageSize(bmp, img);
        if (r == MOK && !bmp->pPlane[0]) {
            r = MdBitmapAlloc(bmp);
            ownPlanes = r == MOK;
        }
        const MInt64 W = bmp->lWidth, H = bmp->lHeight;
        MInt64 D[2] = {W, H};
        MInt64 passes = 1;
        if (r == MOK && type == MD_IMG_JPEG) {
            MRECT rc{0, 0, W, H};
            r = MCodec_SetProp(dec.h, MCODEC_PROP_OUT_REGION, &rc, 32);
        }
        if (r == MOK) {
            MInt64 wh[2] = {W, H};
            r = MCodec_SetProp(dec.h, MDEC_PROP_OUT_SIZE, wh, 16);
        }
        if (r == MOK && type == MD_IMG_GIF && !bAlpha) r = s_SetMBITMAP(0xFF, bmp);
        if (r == MOK) r = set8(dec.h, MCODEC_PROP_RESIZE, 2);
        if (r == MOK) r = set8(dec.h, MCODEC_PROP_OUT_COLOR, MInt64(MdUtilPixelFormatNew2Old(bmp->dwPixelArrayFormat)));
        if (r == MOK && type == MD_IMG_PNG) {
            r = MCodec_GetProp(dec.h, MDEC_PROP_PNG_PASSES, &passes, 8);
            MByte t = 0xFF;
            if (r == MOK) r = MCodec_SetProp(dec.h, MCODEC_PROP_TRANS_INDEX, &t, 1);
        } else if (r == MOK && type == MD_IMG_BMP) {
            // Our BMP decoder already hands rows over top-down; asking it to invert them
            // (property 0x1203) would turn the picture upside down, so the load leaves it.
            MByte t = 0;
            r = MCodec_SetProp(dec.h, MCODEC_PROP_TRANS_INDEX, &t, 1);
        }
        // Row decoders only reduce, and keep the aspect ratio while they do: ask what will
        // really come out (not only for PNG), so that any other size goes through a resample
        // instead of rows of the wrong length landing in the caller's bitmap.
        if (r == MOK && type != MD_IMG_JPEG) r = MCodec_GetProp(dec.h, MDEC_PROP_OUT_SIZE, D, 16);
        MBITMAP* target = bmp;
        if (r == MOK && (D[0] != W || D[1] != H)) {
            r = temp.alloc(bmp->dwPixelArrayFormat, D[0], D[1]);
            target = &temp.bmp;
        }
        MInt64 x = 0, y = 0, linePath = 0;
        if (r == MOK && type == MD_IMG_GIF) {
            FrameFacts f;
            r = readFrame(dec.h, &f);
            x = f.left;
            y = f.top;
            linePath = f.interlace ? 1 : 0;
            if (D[0] <= f.width || D[1] <= f.height) linePath = 1;
            D[0] = f.width;
            D[1] = f.height;
            if (r == MOK && target == &temp.bmp && !bAlpha) r = s_SetMBITMAP(0xFF, target);
        }
        if (r == MOK) r = s_Decode(dec.h, passes, linePath, D[0], D[1], target, x, y);
        if (r == MOK && target == &temp.bmp) r = MdBitmapResample(hAMCM, &temp.bmp, bmp);
    }
    if (r != MOK && ownPlanes) MdBitmapFree(bmp);
    return MdFilterLoad(r);
}

} // namespace

MResult s_SetMBITMAP(MByte value, MBITMAP* b) {
    if (!b) return MERR_INVALID_PARAM;
    MUInt64 vs = 1;
    const MResult r = MdUtilsFormatColorID(b->dwPixelArrayFormat, nullptr, &vs, nullptr, nullptr);
    if (r != MOK) return r;
    if (b->lHeight < 1) return MOK;
    if (b->pPlane[0] && b->lPitch[0] > 0) std::memset(b->pPlane[0], value, size_t(b->lPitch[0] * b->lHeight));
    for (int i = 1; i < 3; ++i)
        if (b->pPlane[i] && b->lPitch[i] > 0)
            std::memset(b->pPlane[i], value, size_t(b->lPitch[i] * (b->lHeight / MInt64(std::max<MUInt64>(vs, 1)))));
    return MOK;
}

MResult MdDecodeWithMerge(MHandle dec, MInt64 passes, MInt64 linePath, MInt64 width, MInt64 height, MBITMAP* b,
                          MInt64 x, MInt64 y, MdLineMergeFn merge, MUInt64 srcColor) {
    if (!b) return MERR_INVALID_PARAM;
    if (merge && !linePath) return MERR_INVALID_PARAM;
    MResult r = MERR_UNKNOWN;
    std::vector<MByte> line;
    for (MInt64 pass = 0; pass < passes; ++pass) {
        if (!linePath && x == 0 && y == 0) {
            MInt64 first = 0, count = height;
            r = MCodec_DecodeScanlines(dec, b->pPlane, b->lPitch, &first, &count);
            if (r != MOK) return r;
            continue;
        }
        MUInt64 bpp = 0;
        r = MdUtilsFormatColorID(b->dwPixelArrayFormat, nullptr, nullptr, &bpp, nullptr);
        if (r != MOK) return r;
        const MInt64 lineBits = merge ? 32 : MInt64(bpp);
        if (width < 1 || height < 0 || width > MD_LOAD_MAX_PIXELS) return MERR_UNSUPPORTED;
        const MInt64 L = ((width * lineBits + 31) & ~MInt64(31)) / 8;
        const MInt64 P = MInt64(bpp) / 8;
        // A frame placed beyond the bitmap (a canvas offset larger than the target) copies
        // nothing, but its lines are still read so the decoder stays in step.
        const MInt64 cw = std::min(b->lWidth - x, width), ch = std::min(b->lHeight - y, height);
        if (line.empty()) {
            try {
                line.assign(size_t(L), 0);
            } catch (...) {
                return MERR_NO_MEMORY;
            }
        }
        const bool inside = x >= 0 && y >= 0 && cw > 0 && ch > 0;
        MByte* origin = inside ? b->pPlane[0] + x * P + y * b->lPitch[0] : nullptr;
        MByte* planes[3] = {line.data(), nullptr, nullptr};
        MInt64 pitches[3] = {L, 0, 0};
        for (MInt64 i = 0; i < height; ++i) {
            MInt64 first = 0, count = 1;
            r = MCodec_DecodeScanlines(dec, planes, pitches, &first, &count);
            if (r != MOK) return r;
            if (!inside || first < 0 || first >= ch) continue;
            MByte* dst = origin + first * b->lPitch[0];
            if (merge) {
                r = merge(cw, dst, b->dwPixelArrayFormat, line.data(), srcColor);
                if (r != MOK) return r;
            } else {
                std::memcpy(dst, line.data(), size_t(cw * P));
            }
        }
    }
    return r;
}

MResult s_Decode(MHandle dec, MInt64 passes, MInt64 linePath, MInt64 width, MInt64 height, MBITMAP* b, MInt64 x,
                 MInt64 y) {
    return MdDecodeWithMerge(dec, passes, linePath, width, height, b, x, y, nullptr, 0);
}

extern "C" {

MInt64 MdUtils_bSupportedFileFormat(MInt64 t) {
    switch (t) {
    case MD_IMG_BMP: case MD_IMG_JPEG: case MD_IMG_GIF: case MD_IMG_PNG: case MD_IMG_WBMP: case MD_IMG_TIFF:
    case MD_IMG_ICO:
        return 1;
    default:
        return 0;
    }
}

MResult MdBitmapLoad(AMCMHandle hAMCM, MSTREAM stream, MInt64 type, MBITMAP* bmp) {
    return s_utils_decode(hAMCM, stream, type, bmp, 0, 0);
}

MResult MdBitmapLoadWithAlphaTrans(AMCMHandle hAMCM, MSTREAM stream, MInt64 type, MBITMAP* bmp, MInt64 alpha) {
    return s_utils_decode(hAMCM, stream, type, bmp, 1, alpha);
}

MResult MdBitmapLoadWithProgress(AMCMHandle hAMCM, MSTREAM stream, MInt64 type, MBITMAP* bmp, MInt64 alpha,
                                 MInt32 (*fnProgress)(MInt32, MVoid*), MVoid* pUser) {
    return s_utils_decode(hAMCM, stream, type, bmp, 1, alpha, fnProgress, pUser);
}

MResult MdBitmapLoad2(AMCMHandle hAMCM, const MChar* path, MInt64 type, MBITMAP* bmp) {
    if (!path || !bmp) return MERR_INVALID_PARAM;
    return MdFilterLoad(MdWithFile(path, MSTREAM_MODE_READ, MERR_FILE_OPEN,
                                   [&](MSTREAM s) { return MdBitmapLoad(hAMCM, s, type, bmp); }));
}

MResult MdBitmapLoad2WithAlphaTrans(AMCMHandle hAMCM, const MChar* path, MInt64 type, MBITMAP* bmp, MInt64 alpha) {
    if (!path || !bmp) return MERR_INVALID_PARAM;
    if (alpha != 0 && alpha != 255) return MERR_INVALID_PARAM;
    return MdFilterLoad(MdWithFile(path, MSTREAM_MODE_READ, MERR_FILE_OPEN, [&](MSTREAM s) {
        return MdBitmapLoadWithAlphaTrans(hAMCM, s, type, bmp, alpha);
    }));
}

MResult MdUtilsLoad(AMCMHandle hAMCM, MSTREAM stream, MInt64 type, MBITMAP* bmp) {
    if (!stream || !bmp) return MERR_INVALID_PARAM;
    if (type == 0) {
        ImgFormat f = 0;
        const MResult r = MdGetImgFileFormat(hAMCM, stream, &f);
        if (r != MOK) return r;
        type = f;
    }
    if (!MdUtils_bSupportedFileFormat(type) && type != MD_IMG_SVG && type != MD_IMG_SWF) return MERR_INVALID_PARAM;
    MHandle dec = nullptr;
    bool ownPlanes = false;
    MResult r = MIDec_Create(hAMCM, stream, type, &dec);
    MInt64 img[2] = {};
    if (r == MOK) r = MIDec_GetProp(dec, MDEC_PROP_IMAGE_SIZE, img, 16);
    if (r == MOK) r = adoptImageSize(bmp, img);
    if (r == MOK && !bmp->pPlane[0]) {
        r = MdBitmapAlloc(bmp);
        ownPlanes = r == MOK;
    }
    if (r == MOK) {
        MUInt64 color = bmp->dwPixelArrayFormat;
        r = MIDec_SetProp(dec, MDEC_PROP_OUT_COLOR, &color, 8);
    }
    if (r == MOK) {
        MInt64 wh[2] = {bmp->lWidth, bmp->lHeight};
        r = MIDec_SetProp(dec, MDEC_PROP_OUT_SIZE, wh, 16);
    }
    if (r == MOK) {
        MInt64 first = 0, count = bmp->lHeight;
        r = MIDec_Scanlines(dec, bmp->pPlane, bmp->lPitch, &first, &count);
    }
    if (r != MOK && ownPlanes) MdBitmapFree(bmp);
    if (dec) MIDec_Destroy(dec);
    return MdFilterLoad(r);
}

MResult MdUtilsLoad2(AMCMHandle hAMCM, const MChar* path, MInt64 type, MBITMAP* bmp) {
    if (!path || !bmp) return MERR_INVALID_PARAM;
    return MdFilterLoad(MdWithFile(path, MSTREAM_MODE_READ, MERR_FILE_OPEN,
                                   [&](MSTREAM s) { return MdUtilsLoad(hAMCM, s, type, bmp); }));
}

MResult MdGetImgFileFormat(AMCMHandle, MSTREAM stream, ImgFormat* type) {
    if (!type) return MERR_INVALID_PARAM;
    return MdUtilConvertErrorCode(MdUtilsGetImgInfoEx(stream, type, nullptr, nullptr, nullptr), g_dwFileFrmtReturn, 4);
}

MResult MdGetImgFileInfo(AMCMHandle hAMCM, MSTREAM stream, MImgFileInfo* info) {
    if (!info) return MERR_INVALID_PARAM;
    MdStreamPosition keep(stream);
    if (stream) MStreamSeek(stream, MSTREAM_SEEK_BEGIN, 0);
    *info = MImgFileInfo{};
    ImgFormat type = 0;
    MdImgSize size{};
    MInt64 kind = 0, bits = 0;
    MResult r = MdUtilsGetImgInfoEx(stream, &type, &size, &kind, &bits);
    if (r == MOK && type == MD_IMG_SVG) r = MImgGetFileInfo(hAMCM, stream, &type, &size, &kind, &bits);
    if (r == MOK) {
        info->dwImageType = type;
        info->lWidth = size.lWidth;
        info->lHeight = size.lHeight;
        info->dwBitCount = MUInt64(bits);
        if (type == MD_IMG_GIF) {
            info->dwKind = MD_DETAIL_CODEC;
            MHandle dec = nullptr;
            r = MCodec_DecodeCreate(hAMCM, stream, 0, &dec);
            if (r == MOK) {
                MInt64 frames = 0;
                r = MCodec_GetProp(dec, MDEC_PROP_GIF_FRAMECOUNT, &frames, 8);
                if (r == MOK) info->dwKind = frames >= 2 ? MD_DETAIL_GIF_ANIMATED : MD_DETAIL_GIF_STILL;
                MCodec_Destroy(dec);
            }
        } else {
            info->dwKind = MUInt64(kind);
        }
    }
    return MdUtilConvertErrorCode(r, g_dwFileInfoReturn, 5);
}

MResult MdUtilsImgGetFileInfo(AMCMHandle hAMCM, MSTREAM stream, ImgFormat* type, MdImgSize* size, MInt64* kind,
                              MInt64* bits) {
    return MImgGetFileInfo(hAMCM, stream, type, size, kind, bits);
}

MResult MdUtilsImgIsTransparent(AMCMHandle hAMCM, MSTREAM stream, MInt64* flag) {
    if (!hAMCM || !stream || !flag) return MERR_INVALID_PARAM;
    *flag = 0;
    ImgFormat type = 0;
    MInt64 bits = 0;
    MResult r = MdUtilsImgGetFileInfo(hAMCM, stream, &type, nullptr, nullptr, &bits);
    if (r != MOK) return r;
    if (bits == 32) {
        *flag = 1;
    } else if (type == MD_IMG_PNG || type == MD_IMG_GIF) {
        MdStreamPosition keep(stream);
        MStreamSeek(stream, MSTREAM_SEEK_BEGIN, 0);
        Decoder dec;
        r = MCodec_DecodeCreate(hAMCM, stream, 0, &dec.h);
        if (r == MOK && type == MD_IMG_PNG) {
            r = MCodec_GetProp(dec.h, MDEC_PROP_PNG_TRANS, flag, 8);
        } else if (r == MOK) {
            FrameFacts f;
            r = readFrame(dec.h, &f);
            if (r == MOK) *flag = f.transparent ? 1 : 0;
        }
    } else if (type == MD_IMG_ICO) {
        *flag = 1;
    }
    return r;
}

} // extern "C"
