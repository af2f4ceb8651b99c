// Saving bitmaps through encoder components, and re-encoding a JPEG at a new size under an
// optional byte budget.
#include "MdBitmapSave.h"

#include <algorithm>
#include <vector>

#include "MCodec.h"
#include "MdColorID.h"
#include "MdComponent.h"
#include "MdImgInfo.h"
#include "MdLoadInternal.h"

namespace {

const MResult g_dwFileResizeReturn[8] = {2, 4, 3, 0x1001, 0x1008, 0x1005, 0x1006, 0x1007};

constexpr MInt64 kBand = 16;
constexpr MInt64 kBigFile = 0x32000;
constexpr MInt64 kEstimateStep = 10, kFinalStep = 5;
constexpr MInt64 kGrey = 0x1D, kYuv420 = 0x0F;
constexpr MInt64 kPropQuality = 0x2101, kPropBmp = 0x2203;

MResult filterResize(MResult r) { return MdUtilConvertErrorCode(r, g_dwFileResizeReturn, 8); }

struct Codec {
    MHandle h = nullptr;
    Codec() = default;
    Codec(const Codec&) = delete;
    Codec& operator=(const Codec&) = delete;
    ~Codec() { reset(); }
    void reset() {
        if (h) MCodec_Destroy(h);
        h = nullptr;
    }
};

struct MemStream {
    MSTREAM s = nullptr;
    MemStream() = default;
    MemStream(const MemStream&) = delete;
    MemStream& operator=(const MemStream&) = delete;
    ~MemStream() { close(); }
    void close() {
        if (s) MStreamClose(s);
        s = nullptr;
    }
};

MResult set8(MHandle d, MInt64 id, MInt64 v) { return MCodec_SetProp(d, id, &v, 8); }
MInt64 pitchOf(MInt64 w) { return ((w * 8 + 127) >> 7) * 16; }

// Planes of a work buffer: one for grey, three (each of full luma size) for YUV.
struct WorkBuffer {
    std::vector<MByte> data;
    MByte* planes[3] = {};
    MInt64 pitches[3] = {};
    MResult alloc(MInt64 colour, MInt64 w, MInt64 rows) {
        const MInt64 p = pitchOf(w), n = colour == kGrey ? 1 : 3;
        if (w < 1 || rows < 1 || p > (MInt64(1) << 40) / rows / n) return MERR_UNSUPPORTED;
        try {
            data.assign(size_t(p * rows * n), 0);
        } catch (...) {
            return MERR_NO_MEMORY;
        }
        for (MInt64 i = 0; i < n; ++i) {
            planes[i] = data.data() + i * p * rows;
            pitches[i] = p;
        }
        return MOK;
    }
};

MResult workingColour(MHandle dec, MInt64* colour) {
    MInt64 natural = 0;
    const MResult r = MCodec_GetProp(dec, MCODEC_PROP_OUT_COLOR, &natural, 8);
    *colour = natural == kGrey ? kGrey : kYuv420;
    return r;
}

MResult setDecodeTarget(MHandle dec, MInt64 colour, MInt64 w, MInt64 h) {
    MRECT rc{0, 0, w, h};
    MResult r = MCodec_SetProp(dec, MCODEC_PROP_OUT_REGION, &rc, 32);
    if (r == MOK) r = set8(dec, MCODEC_PROP_OUT_COLOR, colour);
    MInt64 wh[2] = {w, h};
    if (r == MOK) r = MCodec_SetProp(dec, MDEC_PROP_OUT_SIZE, wh, 16);
    return r;
}

MResult createJpegEncoder(AMCMHandle m, MSTREAM s, MInt64 w, MInt64 h, MInt64 colour, MInt64 q, Codec* enc) {
    MCodecEncParam p{s, w, h, MUInt64(colour), 1000, 1000};
    MResult r = MCodec_EncodeCreate(m, &p, MD_IMG_JPEG, 0, &enc->h);
    if (r == MOK) r = set8(enc->h, kPropQuality, q);
    return r;
}

// One re-encode at quality q, streamed through a 16-line band.
MResult s_CodecFileByLine(AMCMHandle m, MSTREAM src, MSTREAM dst, MInt64 W, MInt64 H, MInt64 q) {
    if (!m || !src) return MERR_INVALID_PARAM;
    MStreamSeek(src, MSTREAM_SEEK_BEGIN, 0);
    MStreamSeek(dst, MSTREAM_SEEK_BEGIN, 0);
    MdImgSize size{};
    MResult r = MdUtilsGetImgInfo(src, nullptr, &size, nullptr);
    if (r != MOK) return r;
    MStreamSeek(src, MSTREAM_SEEK_BEGIN, 0);
    Codec dec, enc;
    WorkBuffer band;
    MInt64 colour = kYuv420;
    r = MCodec_DecodeCreate(m, src, 0, &dec.h);
    if (r == MOK) r = workingColour(dec.h, &colour);
    if (r == MOK) r = createJpegEncoder(m, dst, W, H, colour, q, &enc);
    if (r == MOK) r = band.alloc(colour, W, kBand);
    if (r == MOK) r = setDecodeTarget(dec.h, colour, W, H);
    for (MInt64 top = 0; r == MOK && top < H; top += kBand) {
        MRECT rc{0, top, W, std::min(top + kBand, H)};
        r = MCodec_SetProp(dec.h, MCODEC_PROP_OUT_REGION, &rc, 32);
        MInt64 first = 0, count = kBand;
        if (r == MOK) r = MCodec_DecodeScanlines(dec.h, band.planes, band.pitches, &first, &count);
        count = kBand;
        if (r == MOK) r = MCodec_EncodeScanlines(enc.h, band.planes, band.pitches, &count);
    }
    MStreamSeek(src, MSTREAM_SEEK_BEGIN, 0);
    return r;
}

// Trial encodes of a w/fx x h/fy decode from quality q0 down in steps of 10 until a file, its
// size multiplied by fx * fy, fits the budget. The fitting file goes to dst when one is given.
MResult s_GetFitQuality(AMCMHandle m, MSTREAM src, MSTREAM dst, MInt64 W, MInt64 H, MInt64 B, MInt64 fx, MInt64 fy,
                        MInt64 q0, MInt64* outQ) {
    if (!m || !src) return MERR_INVALID_PARAM;
    MStreamSeek(src, MSTREAM_SEEK_BEGIN, 0);
    Codec dec;
    MemStream trial;
    WorkBuffer work;
    const MInt64 w = W / fx, h = H / fy;
    MInt64 colour = kYuv420, q = q0;
    MResult r = MCodec_DecodeCreate(m, src, 0, &dec.h);
    if (r == MOK) r = workingColour(dec.h, &colour);
    if (r == MOK) r = work.alloc(colour, w, ((h * 8 + 127) >> 7) * 16);
    if (r == MOK) r = setDecodeTarget(dec.h, colour, w, h);
    if (r == MOK) {
        MInt64 first = 0, count = h;
        r = MCodec_DecodeScanlines(dec.h, work.planes, work.pitches, &first, &count);
    }
    while (r == MOK) {
        if (!s_IsVaildQuality(q)) {
            r = MERR_INVALID_PARAM;
            break;
        }
        trial.s = MStreamOpenFromMemoryBlock(nullptr, 4096);
        if (!trial.s) {
            r = MERR_NO_MEMORY;
            break;
        }
        MStreamSetSize(trial.s, 0);
        Codec enc;
        r = createJpegEncoder(m, trial.s, w, h, colour, q, &enc);
        MInt64 count = h;
        if (r == MOK) r = MCodec_EncodeScanlines(enc.h, work.planes, work.pitches, &count);
        enc.reset();
        if (r != MOK) break;
        const MInt64 S = MStreamGetSize(trial.s);
        if (S > 0 && S * fx * fy <= B) break;
        trial.close();
        q -= kEstimateStep;
    }
    MStreamSeek(src, MSTREAM_SEEK_BEGIN, 0);
    // Only a fitting file reaches the destination; a trial that failed half-way writes nothing.
    if (r == MOK && trial.s && dst) r = MdUtilCopyStream(trial.s, dst);
    if (outQ) *outQ = q;
    return r;
}

MResult s_AutoResizeWithResample(AMCMHandle m, MSTREAM src, MSTREAM dst, MInt64 W, MInt64 H, MInt64 B) {
    if (!m || !src) return MERR_INVALID_PARAM;
    MInt64 q = 0;
    MResult r = s_GetFitQuality(m, src, nullptr, W, H, B, 2, 2, MD_SAVE_DEFAULT_QUALITY, &q);
    if (r != MOK) r = s_GetFitQuality(m, src, nullptr, W, H, B, 1, 1, 40, &q);
    if (r != MOK) return r;
    if (q <= 89) q = std::min<MInt64>(q + kEstimateStep, MD_SAVE_DEFAULT_QUALITY);
    for (;; q -= kFinalStep) {
        if (!s_IsVaildQuality(q)) return MERR_INVALID_PARAM;
        MemStream trial;
        trial.s = MStreamOpenFromMemoryBlock(nullptr, 4096);
        if (!trial.s) return MERR_NO_MEMORY;
        MStreamSetSize(trial.s, 0);
        MStreamSeek(src, MSTREAM_SEEK_BEGIN, 0);
        r = s_CodecFileByLine(m, src, trial.s, W, H, q);
        if (r != MOK) return r;
        if (MStreamGetSize(trial.s) <= B) return MdUtilCopyStream(trial.s, dst);
    }
}

MResult s_MdAutoResize(AMCMHandle m, MSTREAM src, MSTREAM dst, MInt64 W, MInt64 H, MInt64 B) {
    if (!src || !dst || W <= 0 || H <= 0) return MERR_INVALID_PARAM;
    ImgFormat type = 0;
    MdImgSize size{};
    MInt64 bits = 0;
    const MResult r = MdUtilsGetImgInfo(src, &type, &size, &bits);
    MStreamSeek(src, MSTREAM_SEEK_BEGIN, 0);
    if (r != MOK) return r;
    if (type != MD_IMG_JPEG) return MERR_INVALID_PARAM;
    if (B <= 0) return s_CodecFileByLine(m, src, dst, W, H, MD_SAVE_DEFAULT_QUALITY);
    if (s_IsBigFile(size.lWidth, size.lHeight, bits)) return s_AutoResizeWithResample(m, src, dst, W, H, B);
    return s_GetFitQuality(m, src, dst, W, H, B, 1, 1, MD_SAVE_DEFAULT_QUALITY, nullptr);
}

} // namespace

extern "C" {

MInt64 s_IsBigFile(MInt64 w, MInt64 h, MInt64 bits) {
    const MInt64 bytes = bits >> 3;
    if (w <= 0 || h <= 0 || bytes <= 0) return 0;
    if (w > kBigFile / bytes / h) return 1; // no product that could overflow
    return bytes * w * h > kBigFile ? 1 : 0;
}

MInt64 s_IsVaildQuality(MInt64 q) { return MUInt64(q) > 39 ? 1 : 0; }

MResult MdBitmapSaveEx(AMCMHandle m, MSTREAM s, MInt64 type, const MBITMAP* b, MInt64 q, MUInt64 fileColour) {
    if (!m || !s || !b || type == 0) return MERR_INVALID_PARAM;
    if (type == MD_IMG_GIF || type == MD_IMG_WBMP) return MERR_UNSUPPORTED;
    if (type == MD_IMG_JPEG && (q > 100 || q < 0)) return MERR_INVALID_PARAM;
    Codec enc;
    MCodecEncParam p{s, b->lWidth, b->lHeight, MdUtilPixelFormatNew2Old(fileColour), 1000, 1000};
    MResult r = MCodec_EncodeCreate(m, &p, type, 0, &enc.h);
    if (r == MOK && type == MD_IMG_JPEG) r = set8(enc.h, kPropQuality, std::max<MInt64>(q, 3));
    if (r == MOK && type == MD_IMG_BMP) r = set8(enc.h, kPropBmp, 1);
    if (r == MOK) r = set8(enc.h, MCODEC_PROP_ENC_COLOR, MInt64(MdUtilPixelFormatNew2Old(b->dwPixelArrayFormat)));
    if (r == MOK) {
        MByte* planes[3] = {b->pPlane[0], b->pPlane[1], b->pPlane[2]};
        MInt64 pitches[3] = {b->lPitch[0], b->lPitch[1], b->lPitch[2]}, count = b->lHeight;
        r = MCodec_EncodeScanlines(enc.h, planes, pitches, &count);
    }
    return MdFilterSave(r);
}

MResult MdBitmapSave(AMCMHandle m, MSTREAM s, MInt64 type, const MBITMAP* b) {
    if (!b) return MERR_INVALID_PARAM;
    return MdFilterSave(MdBitmapSaveEx(m, s, type, b, MD_SAVE_DEFAULT_QUALITY, b->dwPixelArrayFormat));
}

MResult MdBitmapSaveEx2(AMCMHandle m, const MChar* path, MInt64 type, const MBITMAP* b, MInt64 q, MUInt64 colour) {
    if (!path || !b) return MERR_INVALID_PARAM;
    return MdFilterSave(MdWriteFileReplacing(
        path, MERR_FILE_WRITE, [&](MSTREAM s) { return MdBitmapSaveEx(m, s, type, b, q, colour); }));
}

MResult MdBitmapSave2(AMCMHandle m, const MChar* path, MInt64 type, const MBITMAP* b) {
    if (!path || !b) return MERR_INVALID_PARAM;
    return MdFilterSave(MdWriteFileReplacing(path, MERR_FILE_WRITE, [&](MSTREAM s) { return MdBitmapSave(m, s, type, b); }));
}

MResult MdFileResizeStream(AMCMHandle m, MSTREAM src, MInt64 W, MInt64 H, MInt64 B, MSTREAM dst) {
    if (!m || !src || !dst || W < 1 || H <= 0) return MERR_INVALID_PARAM;
    return filterResize(s_MdAutoResize(m, src, dst, W, H, B));
}

MResult MdFileResize(AMCMHandle m, const MChar* source, MInt64 W, MInt64 H, MInt64 B, const MChar* destination) {
    if (!m || !source || !destination || W < 1 || H <= 0) return MERR_INVALID_PARAM;
    MSTREAM src = MStreamOpenFromFileS(source, MSTREAM_MODE_READ);
    if (!src) return MERR_FILE_OPEN;
    const MResult r = MdWriteFileReplacing(destination, MERR_FILE_WRITE,
                                           [&](MSTREAM dst) { return s_MdAutoResize(m, src, dst, W, H, B); });
    MStreamClose(src);
    return filterResize(r);
}

} // extern "C"
