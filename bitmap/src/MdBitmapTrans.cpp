// Loading over a background: transparent images are decoded as B, G, R, A and blended into the
// caller's 24- or 16-bit pixels by the line mergers below.
#include "MdBitmapTrans.h"

#include <cstring>
#include <utility>

#include "MCodec.h"
#include "MdBitmapLoad.h"
#include "MdColorID.h"
#include "MdComponent.h"
#include "MdLoadInternal.h"

namespace {

constexpr MUInt64 kBGRA = 0x37000777; // memory order B, G, R, A
constexpr MUInt64 kRGBA = 0x37001777;
constexpr MUInt64 kRGBA_Swapped = 0x37005777;

bool isMergeTarget(MUInt64 c) {
    return c == 0x16001777 || c == 0x16000777 || c == 0x15000454 || c == 0x15001454;
}

// d + ((s - d) * a >> 8): a signed product and an arithmetic shift (floor).
inline MByte blend(int s, int d, int a) {
    if (a == 255) return MByte(s);
    if (a == 0) return MByte(d);
    return MByte(d + (((s - d) * a) >> 8));
}

struct Decoder {
    MHandle h = nullptr;
    Decoder() = default;
    Decoder(const Decoder&) = delete;
    Decoder& operator=(const Decoder&) = delete;
    ~Decoder() {
        if (h) MCodec_Destroy(h);
    }
};

MResult setColor(MHandle d, MUInt64 newID) {
    MInt64 v = MInt64(MdUtilPixelFormatNew2Old(newID));
    return MCodec_SetProp(d, MCODEC_PROP_OUT_COLOR, &v, 8);
}

MResult mergeLine(MInt64 n, MByte* dst, MUInt64 dc, const MByte* src, MUInt64 sc) {
    return s_MergerLine(n, dst, dc, src, sc);
}

MResult s_MdBitmapLoadWithTransColor_Fitin(AMCMHandle hAMCM, MSTREAM stream, MInt64 type, MBITMAP* bmp) {
    if (!hAMCM || !stream || !bmp || bmp->dwPixelArrayFormat == 0) return MERR_INVALID_PARAM;
    if (type == 0) {
        ImgFormat f = 0;
        const MResult r = MdGetImgFileFormat(hAMCM, stream, &f);
        if (r != MOK) return r;
        type = f;
    }
    if (!MdUtils_bSupportedFileFormat(type)) return MERR_INVALID_PARAM;
    if (type != MD_IMG_JPEG && MCOLOR_CLASS(bmp->dwPixelArrayFormat) == MCOLOR_CLASS_YUV) return MERR_UNSUPPORTED;

    MdStreamPosition keep(stream);
    bool ownPlanes = false;
    MdOwnedBitmap temp, second;
    MResult r = MOK;
    {
        Decoder dec;
        r = MStreamSeek(stream, MSTREAM_SEEK_BEGIN, 0) == MOK ? MOK : MERR_FILE_SEEK;
        if (r == MOK) r = MCodec_DecodeCreate(hAMCM, stream, 0, &dec.h);
        MInt64 img[2] = {};
        if (r == MOK) r = MCodec_GetProp(dec.h, MDEC_PROP_IMAGE_SIZE, img, 16);
        if (r == MOK && (bmp->lWidth < 1 || bmp->lHeight < 1)) {
            if (img[0] < 1 || img[1] < 1 || img[0] > MD_LOAD_MAX_PIXELS / img[1]) r = MERR_UNSUPPORTED;
            bmp->lWidth = img[0];
            bmp->lHeight = img[1];
        }
        if (r == MOK && !bmp->pPlane[0]) {
            r = MdBitmapAlloc(bmp);
            ownPlanes = r == MOK;
        }
        MBITMAP B = *bmp;
        if (B.dwPixelArrayFormat == kRGBA_Swapped) B.dwPixelArrayFormat = kBGRA;
        const MInt64 O[2] = {B.lWidth, B.lHeight};
        if (r == MOK && type == MD_IMG_JPEG) {
            MRECT rc{0, 0, O[0], O[1]};
            r = MCodec_SetProp(dec.h, MCODEC_PROP_OUT_REGION, &rc, 32);
        }
        if (r == MOK) r = MCodec_SetProp(dec.h, MDEC_PROP_OUT_SIZE, const_cast<MInt64*>(O), 16);
        MInt64 D[2] = {O[0], O[1]}, S[2] = {O[0], O[1]}, passes = 1;
        if (r == MOK) {
            MInt64 two = 2;
            r = MCodec_SetProp(dec.h, MCODEC_PROP_RESIZE, &two, 8);
        }
        MInt64 transparent = 0, linePath = 0, x = 0, y = 0;
        if (r == MOK && type == MD_IMG_PNG) {
            r = MCodec_GetProp(dec.h, MDEC_PROP_PNG_PASSES, &passes, 8);
            MByte t = 0xFF;
            if (r == MOK) r = MCodec_SetProp(dec.h, MCODEC_PROP_TRANS_INDEX, &t, 1);
            if (r == MOK) r = MCodec_GetProp(dec.h, MDEC_PROP_PNG_TRANS, &transparent, 8);
        } else if (r == MOK && type == MD_IMG_BMP) {
            // As in MdBitmapLoad: our BMP decoder already delivers rows top-down.
            MByte t = 0;
            r = MCodec_SetProp(dec.h, MCODEC_PROP_TRANS_INDEX, &t, 1);
        } else if (r == MOK && type == MD_IMG_ICO) {
            transparent = 1;
        }
        // Row decoders only reduce, keeping the aspect ratio: learn the size they will deliver
        // for every type, so that any other size takes the resampling road.
        if (r == MOK && type != MD_IMG_JPEG) r = MCodec_GetProp(dec.h, MDEC_PROP_OUT_SIZE, S, 16);
        if (r == MOK && type == MD_IMG_GIF) {
            MByte info[56] = {};
            r = MCodec_GetProp(dec.h, MDEC_PROP_GIF_FRAMEINFO, info, 56);
            MWord f[4];
            std::memcpy(f, info, 8);
            MUInt64 interlace, trans;
            std::memcpy(&interlace, info + 32, 8);
            std::memcpy(&trans, info + 40, 8);
            linePath = interlace ? 1 : 0;
            if (B.lWidth < f[2] || B.lHeight < f[3]) linePath = 1;
            // Nor may a frame larger than the decoder's canvas be written straight into a
            // canvas-sized buffer.
            if (S[0] < f[2] || S[1] < f[3]) linePath = 1;
            x = f[0];
            y = f[1];
            D[0] = f[2];
            D[1] = f[3];
            transparent = trans ? 1 : 0;
        }
        if (r == MOK && type != MD_IMG_GIF) {
            D[0] = S[0];
            D[1] = S[1];
        }
        const bool merge = transparent && B.dwPixelArrayFormat != kBGRA && B.dwPixelArrayFormat != kRGBA;
        if (r == MOK && merge && !isMergeTarget(B.dwPixelArrayFormat)) r = MERR_INVALID_PARAM;
        const bool sameSize = S[0] == O[0] && S[1] == O[1];
        if (r != MOK) {
        } else if (sameSize && merge && type == MD_IMG_GIF) {
            r = setColor(dec.h, kBGRA);
            if (r == MOK)
                r = MdDecodeWithMerge(dec.h, passes, 1, D[0], D[1], &B, x, y, mergeLine, kBGRA);
        } else if (sameSize && merge) {
            r = temp.alloc(kBGRA, S[0], S[1]);
            if (r == MOK) r = setColor(dec.h, kBGRA);
            if (r == MOK) r = s_Decode(dec.h, passes, linePath, D[0], D[1], &temp.bmp, x, y);
            if (r == MOK)
                r = s_MergerBuffer(temp.bmp.lWidth, temp.bmp.lHeight, B.pPlane[0], B.dwPixelArrayFormat, B.lPitch[0],
                                   temp.bmp.pPlane[0], kBGRA, temp.bmp.lPitch[0]);
        } else if (sameSize) {
            r = setColor(dec.h, B.dwPixelArrayFormat);
            if (r == MOK) r = s_Decode(dec.h, passes, linePath, D[0], D[1], &B, x, y);
        } else if (merge) {
            // A frame or image smaller than the wanted size: decode at the decoder's size
            // (transparent where nothing is drawn), resample, then blend.
            r = temp.alloc(kBGRA, S[0], S[1]);
            if (r == MOK) r = second.alloc(kBGRA, O[0], O[1]);
            if (r == MOK) r = setColor(dec.h, kBGRA);
            if (r == MOK) r = s_Decode(dec.h, passes, type == MD_IMG_GIF ? 1 : linePath, D[0], D[1], &temp.bmp, x, y);
            if (r == MOK) r = MdBitmapResample(hAMCM, &temp.bmp, &second.bmp);
            if (r == MOK)
                r = s_MergerBuffer(O[0], O[1], B.pPlane[0], B.dwPixelArrayFormat, B.lPitch[0], second.bmp.pPlane[0],
                                   kBGRA, second.bmp.lPitch[0]);
        } else {
            r = temp.alloc(B.dwPixelArrayFormat, S[0], S[1]);
            if (r == MOK) r = setColor(dec.h, B.dwPixelArrayFormat);
            if (r == MOK) r = s_Decode(dec.h, passes, linePath, D[0], D[1], &temp.bmp, x, y);
            if (r == MOK) r = MdBitmapResample(hAMCM, &temp.bmp, &B);
        }
        if (r == MOK && bmp->dwPixelArrayFormat == kRGBA_Swapped) r = MdBitmapBGRA2RGBA(&B);
    }
    if (r != MOK && ownPlanes) MdBitmapFree(bmp);
    return MdFilterLoad(r);
}

} // namespace

extern "C" {

MResult MdBitmapLoadWithTransColor(AMCMHandle hAMCM, MSTREAM stream, MInt64 type, MBITMAP* bmp) {
    return s_MdBitmapLoadWithTransColor_Fitin(hAMCM, stream, type, bmp);
}

MResult MdBitmapLoadWithTransColor2(AMCMHandle hAMCM, const MChar* path, MInt64 type, MBITMAP* bmp) {
    if (!path || !bmp) return MERR_INVALID_PARAM;
    return MdFilterLoad(MdWithFile(path, MSTREAM_MODE_READ, MERR_FILE_OPEN,
                                   [&](MSTREAM s) { return MdBitmapLoadWithTransColor(hAMCM, s, type, bmp); }));
}

MVoid s_MergerToRGB888_Line(MInt64 n, const MByte* src, MByte* dst, MInt64 redFirst) {
    for (MInt64 i = 0; i < n; ++i, src += 4, dst += 3) {
        const int b = src[0], g = src[1], r = src[2], a = src[3];
        dst[0] = blend(redFirst ? r : b, dst[0], a);
        dst[1] = blend(g, dst[1], a);
        dst[2] = blend(redFirst ? b : r, dst[2], a);
    }
}

MVoid s_MergerToRGB565_Line(MInt64 n, const MByte* src, MByte* dst, MInt64 blueOnTop) {
    for (MInt64 i = 0; i < n; ++i, src += 4, dst += 2) {
        const int b = src[0], g = src[1], r = src[2], a = src[3];
        const int top = blueOnTop ? b : r, low = blueOnTop ? r : b;
        MWord w;
        std::memcpy(&w, dst, 2);
        if (a == 255) {
            w = MWord(((top << 8) & 0xF800) | ((g * 8) & 0x7E0) | (low >> 3));
        } else if (a != 0) {
            const int dt = (w & 0xF800) >> 8, dg = (w & 0x7E0) >> 3, dl = (w & 0x1F) * 8;
            const int t = blend(top, dt, a), gg = blend(g, dg, a), l = blend(low, dl, a);
            w = MWord(((t * 256) & 0xF800) | ((gg * 8) & 0x7E0) | (l >> 3));
        }
        std::memcpy(dst, &w, 2);
    }
}

MResult s_MergerLine(MInt64 n, MByte* dst, MUInt64 dc, const MByte* src, MUInt64 sc) {
    if (!dst || !src || sc != kBGRA) return MERR_INVALID_PARAM;
    switch (dc) {
    case 0x16001777: s_MergerToRGB888_Line(n, src, dst, 1); return MOK;
    case 0x16000777: s_MergerToRGB888_Line(n, src, dst, 0); return MOK;
    case 0x15000454: s_MergerToRGB565_Line(n, src, dst, 0); return MOK;
    case 0x15001454: s_MergerToRGB565_Line(n, src, dst, 1); return MOK;
    default: return MERR_INVALID_PARAM;
    }
}

MResult s_MergerBuffer(MInt64 w, MInt64 h, MByte* dst, MUInt64 dc, MInt64 dp, const MByte* src, MUInt64 sc,
                       MInt64 sp) {
    if (!dst || !src || sc != kBGRA || !isMergeTarget(dc)) return MERR_INVALID_PARAM;
    for (MInt64 y = 0; y < h; ++y) {
        const MResult r = s_MergerLine(w, dst + y * dp, dc, src + y * sp, sc);
        if (r != MOK) return r;
    }
    return MOK;
}

MResult MdBitmapBGRA2RGBA(MBITMAP* b) {
    if (!b || b->dwPixelArrayFormat != kBGRA || !b->pPlane[0]) return MERR_INVALID_PARAM;
    for (MInt64 y = 0; y < b->lHeight; ++y) {
        MByte* p = b->pPlane[0] + y * b->lPitch[0];
        for (MInt64 x = 0; x < b->lWidth; ++x, p += 4) std::swap(p[0], p[2]);
    }
    return MOK;
}

} // extern "C"
