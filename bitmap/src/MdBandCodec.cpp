// Band-by-band JPEG decoding into caller bitmaps and encoding from them, over codec framework
// decoders and encoders.
#include "MdBandCodec.h"

#include <algorithm>
#include <new>

#include "MCodec.h"
#include "MMemory.h"
#include "MdBitmapLoad.h"
#include "MdComponent.h"
#include "MdLoadInternal.h"

struct MdDecoderRecord {
    MHandle hDecoder;
    MSTREAM stream;
    MInt64 lOutWidth, lOutHeight;
    MInt64 lImgWidth, lImgHeight;
    MUInt64 dwColor;
    MInt64 lCurrentLine;
    MInt64 lStreamPos;
};

struct MdEncoderRecord {
    MHandle hEncoder;
    MInt64 lWidth, lHeight;
    MUInt64 dwColor;
    MInt64 lLinesWritten;
};

namespace {

constexpr MInt64 kEncoderQuality = 85;
constexpr MInt64 kPropQuality = 0x2101;

MResult set8(MHandle h, MInt64 id, MInt64 v) { return MCodec_SetProp(h, id, &v, 8); }

template <typename T> T* newRecord() {
    void* p = MMemAlloc(nullptr, sizeof(T));
    return p ? new (p) T{} : nullptr;
}

MResult createDecoder(AMCMHandle m, MSTREAM s, MInt64 type, const MInt64* size, MUInt64 color, MdDecoderHandle* out) {
    if (!m || !s || color == 0 || !out) return MERR_INVALID_PARAM;
    *out = nullptr;
    if (type == 0) {
        ImgFormat f = 0;
        const MResult r = MdGetImgFileFormat(m, s, &f);
        if (r != MOK) return r;
        type = f;
    }
    if (type != MD_IMG_JPEG) return MERR_INVALID_PARAM;
    if (size && (size[0] < 1 || size[1] < 1 || size[0] > MD_LOAD_MAX_PIXELS / size[1])) return MERR_INVALID_PARAM;
    auto* d = newRecord<MdDecoderRecord>();
    if (!d) return MERR_NO_MEMORY;
    d->stream = s;
    d->dwColor = color;
    d->lStreamPos = MStreamTell(s);
    MResult r = MStreamSeek(s, MSTREAM_SEEK_BEGIN, 0) == MOK ? MOK : MERR_FILE_SEEK;
    if (r == MOK) r = MCodec_DecodeCreate(m, s, 0, &d->hDecoder);
    if (r == MOK && !d->hDecoder) r = MERR_UNSUPPORTED;
    MInt64 img[2] = {};
    if (r == MOK) r = MCodec_GetProp(d->hDecoder, MDEC_PROP_IMAGE_SIZE, img, 16);
    if (r == MOK && (img[0] < 1 || img[1] < 1)) r = MERR_UNSUPPORTED;
    d->lImgWidth = img[0];
    d->lImgHeight = img[1];
    d->lOutWidth = size ? size[0] : img[0];
    d->lOutHeight = size ? size[1] : img[1];
    if (r == MOK) {
        MRECT rc{0, 0, d->lOutWidth, d->lOutHeight};
        r = MCodec_SetProp(d->hDecoder, MCODEC_PROP_OUT_REGION, &rc, 32);
    }
    if (r == MOK) {
        MInt64 wh[2] = {d->lOutWidth, d->lOutHeight};
        r = MCodec_SetProp(d->hDecoder, MDEC_PROP_OUT_SIZE, wh, 16);
    }
    if (r == MOK) r = set8(d->hDecoder, MCODEC_PROP_RESIZE, 2);
    if (r == MOK) r = set8(d->hDecoder, MCODEC_PROP_OUT_COLOR, MInt64(MdUtilPixelFormatNew2Old(color)));
    if (r != MOK) {
        if (d->hDecoder) MCodec_Destroy(d->hDecoder);
        MStreamSeek(s, MSTREAM_SEEK_BEGIN, d->lStreamPos);
        d->~MdDecoderRecord();
        MMemFree(nullptr, d);
        return r;
    }
    *out = d;
    return MOK;
}

MResult createEncoder(AMCMHandle m, MSTREAM s, MInt64 type, const MInt64* size, MUInt64 color, MdEncoderHandle* out) {
    if (!m || !s || !size || type == 0 || !out) return MERR_INVALID_PARAM;
    *out = nullptr;
    if (type != MD_IMG_JPEG) return MERR_UNSUPPORTED;
    if (size[0] < 1 || size[1] < 1 || color == 0) return MERR_INVALID_PARAM;
    auto* e = newRecord<MdEncoderRecord>();
    if (!e) return MERR_NO_MEMORY;
    e->lWidth = size[0];
    e->lHeight = size[1];
    e->dwColor = color;
    const MInt64 old = MInt64(MdUtilPixelFormatNew2Old(color));
    MCodecEncParam p{s, size[0], size[1], MUInt64(old), 1000, 1000};
    MResult r = MCodec_EncodeCreate(m, &p, type, 0, &e->hEncoder);
    if (r == MOK && !e->hEncoder) r = MERR_UNSUPPORTED;
    if (r == MOK) r = set8(e->hEncoder, kPropQuality, kEncoderQuality);
    if (r == MOK) r = set8(e->hEncoder, MCODEC_PROP_ENC_COLOR, old);
    if (r != MOK) {
        if (e->hEncoder) MCodec_Destroy(e->hEncoder);
        e->~MdEncoderRecord();
        MMemFree(nullptr, e);
        return r;
    }
    *out = e;
    return MOK;
}

} // namespace

extern "C" {

MResult MdDecoder_Create(AMCMHandle m, MSTREAM s, MInt64 type, const MInt64* size, MUInt64 color,
                         MdDecoderHandle* out) {
    return MdFilterLoad(createDecoder(m, s, type, size, color, out));
}

MResult MdDecoder_Scanlines(MdDecoderHandle d, MBITMAP* b) {
    if (!d || !b || !b->pPlane[0] || b->lHeight < 1) return MERR_INVALID_PARAM;
    if (b->dwPixelArrayFormat != d->dwColor || b->lWidth != d->lOutWidth || d->lCurrentLine >= d->lOutHeight)
        return MERR_INVALID_PARAM;
    MInt64 n = std::min(b->lHeight, d->lOutHeight - d->lCurrentLine);
    MRECT rc{0, d->lCurrentLine, b->lWidth, d->lCurrentLine + n};
    MResult r = MCodec_SetProp(d->hDecoder, MCODEC_PROP_OUT_REGION, &rc, 32);
    MInt64 first = d->lCurrentLine;
    if (r == MOK) r = MCodec_DecodeScanlines(d->hDecoder, b->pPlane, b->lPitch, &first, &n);
    if (r == MOK) d->lCurrentLine += rc.bottom - rc.top;
    return r;
}

MResult MdDecoder_Destroy(MdDecoderHandle d) {
    if (!d) return MOK;
    if (d->hDecoder) {
        const MResult r = MCodec_Destroy(d->hDecoder);
        if (r != MOK) return r;
    }
    MStreamSeek(d->stream, MSTREAM_SEEK_BEGIN, d->lStreamPos);
    d->~MdDecoderRecord();
    MMemFree(nullptr, d);
    return MOK;
}

MResult MdEncoder_Create(AMCMHandle m, MSTREAM s, MInt64 type, const MInt64* size, MUInt64 color,
                         MdEncoderHandle* out) {
    return MdFilterSave(createEncoder(m, s, type, size, color, out));
}

MResult MdEncoder_Scanlines(MdEncoderHandle e, const MBITMAP* b) {
    if (!e || !b) return MERR_INVALID_PARAM;
    MInt64 n = b->lHeight;
    // Only the last band may be short of a whole 16-line band.
    if (n % 16 != 0 && e->lLinesWritten + n < e->lHeight) return MERR_UNSUPPORTED;
    if (!e->hEncoder || !b->pPlane[0] || n < 1 || b->lWidth != e->lWidth || b->dwPixelArrayFormat != e->dwColor ||
        e->lLinesWritten >= e->lHeight)
        return MERR_INVALID_PARAM;
    n = std::min(n, e->lHeight - e->lLinesWritten);
    MByte* planes[3] = {b->pPlane[0], b->pPlane[1], b->pPlane[2]};
    MInt64 pitches[3] = {b->lPitch[0], b->lPitch[1], b->lPitch[2]};
    MInt64 count = n;
    const MResult r = MCodec_EncodeScanlines(e->hEncoder, planes, pitches, &count);
    if (r == MOK) e->lLinesWritten += n;
    return r;
}

MResult MdEncoder_Destroy(MdEncoderHandle e) {
    if (!e) return MERR_INVALID_PARAM;
    if (e->hEncoder) MCodec_Destroy(e->hEncoder);
    e->~MdEncoderRecord();
    MMemFree(nullptr, e);
    return MOK;
}

} // extern "C"
