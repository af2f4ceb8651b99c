// Cutting a rectangle out of an image: the JPEG file crop (re-encoded 16 lines at a time) and
// the crop load into a bitmap.
#include "MdBitmapCrop.h"

#include <algorithm>
#include <cstring>

#include "MCodec.h"
#include "MdBitmapLoad.h"
#include "MdColorID.h"
#include "MdComponent.h"
#include "MdLoadInternal.h"

namespace {

constexpr MInt64 kBand = 16;
constexpr MUInt64 kRGB565 = 0x15000454;

struct Codec {
    MHandle h = nullptr;
    Codec() = default;
    Codec(const Codec&) = delete;
    Codec& operator=(const Codec&) = delete;
    ~Codec() {
        if (h) MCodec_Destroy(h);
    }
};

MResult set8(MHandle d, MInt64 id, MInt64 v) { return MCodec_SetProp(d, id, &v, 8); }

bool allOdd(const MRECT& r) { return (r.left & 1) && (r.top & 1) && (r.right & 1) && (r.bottom & 1); }

bool argsOk(AMCMHandle m, const void* src, MInt64 W, MInt64 H, const MRECT* R, const void* dst) {
    return m && src && R && dst && W >= 1 && H >= 1 && MdUtilIsRectValid(R, W, H);
}

bool outTypeOk(MInt64 t) { return t == MD_IMG_BMP || t == MD_IMG_JPEG || t == MD_IMG_PNG; }

MResult s_MdBitmapLoadFilewithCropEx(AMCMHandle hAMCM, MSTREAM stream, MInt64 type, MInt64 W, MInt64 H, MRECT* R,
                                     MBITMAP* bmp) {
    if (!hAMCM || !stream || !bmp || !R || bmp->dwPixelArrayFormat == 0 || W <= 0 || H <= 0 ||
        !MdUtilIsRectValid(R, W, H) || !MdUtils_bSupportedFileFormat(type))
        return MERR_INVALID_PARAM;
    if (MCOLOR_CLASS(bmp->dwPixelArrayFormat) == MCOLOR_CLASS_YUV && type != MD_IMG_JPEG) return MERR_INVALID_PARAM;

    MdStreamPosition keep(stream);
    bool ownPlanes = false;
    MdOwnedBitmap temp;
    MResult r = MOK;
    {
        Codec dec;
        r = MStreamSeek(stream, MSTREAM_SEEK_BEGIN, 0) == MOK ? MOK : MERR_FILE_SEEK;
        if (r == MOK) r = MCodec_DecodeCreate(hAMCM, stream, 0, &dec.h);
        MInt64 D[2] = {W, H}, passes = 1;
        if (r == MOK && type == MD_IMG_JPEG) {
            if (allOdd(*R)) {
                R->right &= ~MInt64(1);
                R->left &= ~MInt64(1);
            }
            r = MCodec_SetProp(dec.h, MCODEC_PROP_OUT_REGION, R, 32);
        }
        if (r == MOK) {
            MInt64 wh[2] = {W, H};
            r = MCodec_SetProp(dec.h, MDEC_PROP_OUT_SIZE, wh, 16);
        }
        if (r == MOK) r = set8(dec.h, MCODEC_PROP_RESIZE, 2);
        if (r == MOK) r = set8(dec.h, MCODEC_PROP_OUT_COLOR, MInt64(MdUtilPixelFormatNew2Old(bmp->dwPixelArrayFormat)));
        if (r == MOK && type == MD_IMG_PNG) {
            r = MCodec_GetProp(dec.h, MDEC_PROP_PNG_PASSES, &passes, 8);
            MByte t = 0xFF;
            if (r == MOK) r = MCodec_SetProp(dec.h, MCODEC_PROP_TRANS_INDEX, &t, 1);
        } else if (r == MOK && type == MD_IMG_BMP) {
            // Our BMP decoder already delivers rows top-down (see MdBitmapLoad).
            MByte t = 0;
            r = MCodec_SetProp(dec.h, MCODEC_PROP_TRANS_INDEX, &t, 1);
        }
        // Row decoders keep the aspect ratio and never enlarge: decode at what they deliver.
        if (r == MOK && type != MD_IMG_JPEG) r = MCodec_GetProp(dec.h, MDEC_PROP_OUT_SIZE, D, 16);
        if (r == MOK && (bmp->lWidth <= 0 || bmp->lHeight <= 0)) {
            bmp->lWidth = R->right - R->left;
            bmp->lHeight = R->bottom - R->top;
        }
        if (r == MOK && !bmp->pPlane[0]) {
            r = MdBitmapAlloc(bmp);
            ownPlanes = r == MOK;
        }
        const MInt64 rw = R->right - R->left, rh = R->bottom - R->top;
        if (r != MOK) {
        } else if (type == MD_IMG_JPEG) {
            if (rw == bmp->lWidth && rh == bmp->lHeight) {
                r = s_Decode(dec.h, passes, 0, rw, rh, bmp, 0, 0);
            } else {
                r = temp.alloc(bmp->dwPixelArrayFormat, rw, rh);
                if (r == MOK) r = s_Decode(dec.h, passes, 0, rw, rh, &temp.bmp, 0, 0);
                if (r == MOK) r = MdBitmapResample(hAMCM, &temp.bmp, bmp);
            }
        } else {
            const MInt64 desc[2] = {D[0], D[1]};
            MInt64 x = 0, y = 0, linePath = 0;
            if (type == MD_IMG_GIF) {
                MByte info[56] = {};
                r = MCodec_GetProp(dec.h, MDEC_PROP_GIF_FRAMEINFO, info, 56);
                MWord f[4];
                std::memcpy(f, info, 8);
                MUInt64 interlace;
                std::memcpy(&interlace, info + 32, 8);
                linePath = interlace ? 1 : 0;
                // A frame larger than the canvas buffer cannot take the direct road.
                if (f[2] > desc[0] || f[3] > desc[1]) linePath = 1;
                x = f[0];
                y = f[1];
                D[0] = f[2];
                D[1] = f[3];
            }
            const bool direct = desc[0] == bmp->lWidth && desc[1] == bmp->lHeight && R->left == 0 && R->top == 0 &&
                                R->right == bmp->lWidth && R->bottom == bmp->lHeight;
            MBITMAP* target = bmp;
            if (r == MOK && !direct) {
                r = temp.alloc(bmp->dwPixelArrayFormat, desc[0], desc[1]);
                target = &temp.bmp;
            }
            // GIF areas outside the frame are white, as in MdBitmapLoad; the fill is made once
            // the target's planes exist.
            if (r == MOK && type == MD_IMG_GIF) r = s_SetMBITMAP(0xFF, target);
            if (r == MOK) r = s_Decode(dec.h, passes, linePath, D[0], D[1], target, x, y);
            if (r == MOK && !direct) {
                MRECT mapped{};
                r = s_MGetDecRect(R, W, H, desc[0], desc[1], &mapped);
                *R = MRECT{0, 0, bmp->lWidth, bmp->lHeight};
                if (r == MOK) r = MdBitmapCropRotFlipResample(hAMCM, &temp.bmp, bmp, &mapped, R, 0, 0);
            }
        }
    }
    if (r != MOK && ownPlanes) MdBitmapFree(bmp);
    return MdFilterLoad(r);
}

} // namespace

extern "C" {

MResult s_MGetDecRect(const MRECT* R, MInt64 W, MInt64 H, MInt64 DW, MInt64 DH, MRECT* out) {
    if (!R || !out || W < 1 || H < 1) return MERR_INVALID_PARAM;
    const MInt64 fx = (DW << 16) / W, fy = (DH << 16) / H;
    out->left = std::max<MInt64>(0, (R->left * fx + 0x8000) >> 16);
    out->top = std::max<MInt64>(0, (R->top * fy + 0x8000) >> 16);
    out->right = std::min(DW, out->left + (((R->right - R->left) * fx + 0x8000) >> 16));
    out->bottom = std::min(DH, out->top + (((R->bottom - R->top) * fy + 0x8000) >> 16));
    return MOK;
}

MResult MdBitmapJpgFileCrop(AMCMHandle hAMCM, MSTREAM src, MInt64 W, MInt64 H, MRECT* R, MInt64 outType,
                            MSTREAM dst) {
    if (!argsOk(hAMCM, src, W, H, R, dst) || !outTypeOk(outType)) return MERR_INVALID_PARAM;
    ImgFormat type = 0;
    if (MdGetImgFileFormat(hAMCM, src, &type) != MOK || type != MD_IMG_JPEG) return MERR_INVALID_PARAM;
    const MInt64 pos = MStreamTell(src);
    MResult r = MOK;
    {
        Codec dec, enc;
        MdOwnedBitmap band;
        r = MStreamSeek(src, MSTREAM_SEEK_BEGIN, 0) == MOK ? MOK : MERR_FILE_SEEK;
        if (r == MOK) r = MCodec_DecodeCreate(hAMCM, src, 0, &dec.h);
        if (r == MOK && allOdd(*R)) {
            R->right &= ~MInt64(1);
            R->bottom &= ~MInt64(1);
        }
        if (r == MOK) r = MCodec_SetProp(dec.h, MCODEC_PROP_OUT_REGION, R, 32);
        if (r == MOK) {
            MInt64 wh[2] = {W, H};
            r = MCodec_SetProp(dec.h, MDEC_PROP_OUT_SIZE, wh, 16);
        }
        if (r == MOK) r = set8(dec.h, MCODEC_PROP_RESIZE, 2);
        MInt64 natural = 0;
        if (r == MOK) r = MCodec_GetProp(dec.h, MDEC_PROP_COLOR, &natural, 8);
        const MInt64 work = outType == MD_IMG_JPEG ? natural : MInt64(MdUtilPixelFormatNew2Old(kRGB565));
        if (r == MOK) r = set8(dec.h, MCODEC_PROP_OUT_COLOR, work);
        const MInt64 rw = R->right - R->left;
        if (r == MOK) {
            MCodecEncParam p{dst, rw, R->bottom - R->top, MUInt64(work), 1000, 1000};
            r = MCodec_EncodeCreate(hAMCM, &p, outType, 0, &enc.h);
        }
        if (r == MOK && outType == MD_IMG_JPEG) r = set8(enc.h, 0x2101, 90);
        if (r == MOK) r = band.alloc(MdUtilsOldColorID2New(MUInt64(work)), rw, kBand);
        if (r == MOK) r = set8(enc.h, MCODEC_PROP_ENC_COLOR, work);
        // The first band is cut at the rectangle's bottom too, so that no line below it is
        // decoded or handed to the encoder.
        MRECT rc{R->left, R->top, R->right, std::min(R->top + kBand, R->bottom)};
        while (r == MOK && rc.top < rc.bottom) {
            MCodec_SetProp(dec.h, MCODEC_PROP_OUT_REGION, &rc, 32);
            MInt64 first = 0, count = rc.bottom - rc.top;
            r = MCodec_DecodeScanlines(dec.h, band.bmp.pPlane, band.bmp.lPitch, &first, &count);
            // A decoder that delivers nothing would never reach the bottom.
            if (r == MOK && count < 1) r = MERR_UNKNOWN;
            if (r == MOK) r = MCodec_EncodeScanlines(enc.h, band.bmp.pPlane, band.bmp.lPitch, &count);
            rc.top = std::min(rc.top + count, R->bottom);
            rc.bottom = std::min(rc.bottom + count, R->bottom);
        }
    }
    if (r != MOK) MStreamSeek(src, MSTREAM_SEEK_BEGIN, pos);
    return MdFilterLoad(r);
}

MResult MdBitmapJpgFileCrop2(AMCMHandle hAMCM, const MChar* source, MInt64 W, MInt64 H, MRECT* R, MInt64 outType,
                             const MChar* destination) {
    if (!argsOk(hAMCM, source, W, H, R, destination) || !outTypeOk(outType)) return MERR_INVALID_PARAM;
    MSTREAM src = MStreamOpenFromFileS(source, MSTREAM_MODE_READ);
    if (!src) return MERR_FILE_READ;
    const MResult r = MdWriteFileReplacing(destination, MERR_FILE_WRITE, [&](MSTREAM dst) {
        return MdBitmapJpgFileCrop(hAMCM, src, W, H, R, outType, dst);
    });
    MStreamClose(src);
    return r;
}

MResult MdBitmapLoadFilewithCropEx(AMCMHandle hAMCM, MSTREAM stream, MInt64 W, MInt64 H, MRECT* R, MBITMAP* bmp) {
    if (!hAMCM || !stream || !bmp || W < 1 || H <= 0 || !R || !MdUtilIsRectValid(R, W, H)) return MERR_INVALID_PARAM;
    const MInt64 pos = MStreamTell(stream);
    if (MStreamSeek(stream, MSTREAM_SEEK_BEGIN, 0) != MOK) return MERR_FILE_SEEK;
    ImgFormat type = 0;
    MResult r = MdGetImgFileFormat(hAMCM, stream, &type);
    if (r != MOK || !MdUtils_bSupportedFileFormat(type) || MCOLOR_CLASS(bmp->dwPixelArrayFormat) != MCOLOR_CLASS_RGB)
        r = MERR_INVALID_PARAM;
    if (r == MOK) r = s_MdBitmapLoadFilewithCropEx(hAMCM, stream, type, W, H, R, bmp);
    // The position is handed back on success too: the load reads from the start either way.
    MStreamSeek(stream, MSTREAM_SEEK_BEGIN, pos);
    return r;
}

MResult MdBitmapLoadFilewithCrop(AMCMHandle hAMCM, MSTREAM stream, MInt64 W, MInt64 H, MRECT* R, MBITMAP* bmp) {
    if (!argsOk(hAMCM, stream, W, H, R, bmp)) return MERR_INVALID_PARAM;
    return MdBitmapLoadFilewithCropEx(hAMCM, stream, W, H, R, bmp);
}

MResult MdBitmapLoadFilewithCrop2(AMCMHandle hAMCM, const MChar* path, MInt64 W, MInt64 H, MRECT* R, MBITMAP* bmp) {
    if (!argsOk(hAMCM, path, W, H, R, bmp)) return MERR_INVALID_PARAM;
    return MdWithFile(path, MSTREAM_MODE_READ, MERR_FILE_OPEN,
                      [&](MSTREAM s) { return MdBitmapLoadFilewithCropEx(hAMCM, s, W, H, R, bmp); });
}

} // extern "C"
