// Animated GIF encoding through the image encoder wrapper: animation-wide settings before the
// first frame, a frame descriptor and delay for every frame, the stream range of every frame
// kept so that the frames can be appended again in reverse order (ping-pong).
#include "MdAGIF.h"

#include <cstring>

#include "GifDecoder.h"
#include "MIDec.h"
#include "MMemory.h"
#include "MdImgInfo.h"

namespace {

constexpr MUInt64 kInputColor = 0x16000777; // 24-bit, blue, green, red
constexpr MInt64 kHeaderValue = 2;

struct FrameRecord {
    MInt64 lOffset;
    MInt64 lLength;
};

} // namespace

struct AGIFEncodeRecord {
    AMCMHandle hAMCM;
    MHandle hEnc;
    MInt64 lHeader;
    MInt64 lLoop;
    MInt64 lDelay;
    MInt64 lAlgorithm;
    MInt64 bFirstPending;
    MSTREAM stream;
    FrameRecord frames[AGIF_MAX_FRAMES];
    MInt64 lFrameCount;
    MInt64 lPingPong;
};

namespace {

MResult headerOnce(AGIFEncodeRecord* e) {
    if (!e->bFirstPending) return MOK;
    MResult r = MIEnc_SetProp(e->hEnc, AGIF_ENC_PROP_LOOP, &e->lLoop, 8);
    if (r == MOK) r = MIEnc_SetProp(e->hEnc, AGIF_ENC_PROP_HEADER, &e->lHeader, 8);
    if (r == MOK) e->bFirstPending = 0;
    return r;
}

bool fitsWord(MInt64 v) { return v >= 0 && v <= 0xFFFF; }

// Start of a frame: its stream position, the header before the first frame, its descriptor and
// delay. Places and sizes that the 16-bit fields of a GIF cannot hold are refused.
MResult beginFrame(AGIFEncodeRecord* e, MInt64 left, MInt64 top, MInt64 width, MInt64 height, MInt64* start) {
    if (!fitsWord(left) || !fitsWord(top) || width < 1 || height < 1 || !fitsWord(width) || !fitsWord(height))
        return MERR_INVALID_PARAM;
    *start = MStreamTell(e->stream);
    MResult r = headerOnce(e);
    if (r != MOK) return r;
    GIFFrameInfo fi{};
    fi.wLeft = MWord(left);
    fi.wTop = MWord(top);
    fi.wWidth = MWord(width);
    fi.wHeight = MWord(height);
    fi.wColorBits = 8;
    fi.dwLocalTable = 1;
    r = MIEnc_SetProp(e->hEnc, AGIF_ENC_PROP_FRAME, &fi, sizeof fi);
    if (r == MOK) r = MIEnc_SetProp(e->hEnc, AGIF_ENC_PROP_DELAY, &e->lDelay, 8);
    return r;
}

void endFrame(AGIFEncodeRecord* e, MInt64 start) {
    e->frames[e->lFrameCount] = {start, MStreamTell(e->stream) - start};
    ++e->lFrameCount;
}

// Copies a recorded frame's bytes to the end of the stream.
MResult appendFrame(AGIFEncodeRecord* e, const FrameRecord& f) {
    if (f.lLength < 1) return MOK;
    auto* buf = static_cast<MByte*>(MMemAlloc(nullptr, size_t(f.lLength)));
    if (!buf) return MERR_NO_MEMORY;
    MResult r = MOK;
    if (MStreamSeek(e->stream, MSTREAM_SEEK_BEGIN, f.lOffset) != 0) r = MERR_FILE_SEEK;
    else if (MStreamRead(e->stream, buf, f.lLength) != f.lLength) r = MERR_FILE_READ;
    else if (MStreamSeek(e->stream, MSTREAM_SEEK_END, 0) != 0) r = MERR_FILE_SEEK;
    else if (MStreamWrite(e->stream, buf, f.lLength) != f.lLength) r = MERR_FILE_WRITE;
    MMemFree(nullptr, buf);
    return r;
}

bool isBitmap24(const MBITMAP* b) {
    return b && b->pPlane[0] && b->lWidth >= 1 && b->lHeight >= 1 && b->lWidth <= (MInt64(1) << 28) / 3 &&
           b->lPitch[0] >= b->lWidth * 3;
}

} // namespace

extern "C" {

MResult MdUtilsAGIFEncode_Create(AMCMHandle hAMCM, MSTREAM stream, MInt64 w, MInt64 h, AGIFEncodeHandle* out) {
    if (!out) return MERR_INVALID_PARAM;
    *out = nullptr;
    if (!hAMCM || !stream) return MERR_INVALID_PARAM;
    auto* e = static_cast<AGIFEncodeRecord*>(MMemAlloc(nullptr, sizeof(AGIFEncodeRecord)));
    if (!e) return MERR_NO_MEMORY;
    std::memset(e, 0, sizeof *e);
    e->hAMCM = hAMCM;
    e->lHeader = kHeaderValue;
    e->lLoop = -1;
    e->lDelay = 10;
    e->bFirstPending = 1;
    e->lPingPong = 2;
    MResult r = MIEnc_Create(hAMCM, stream, MD_IMG_GIF, w, h, kInputColor, &e->hEnc);
    MUInt64 color = kInputColor;
    if (r == MOK) r = MIEnc_SetProp(e->hEnc, AGIF_ENC_PROP_IN_COLOR, &color, 8);
    if (r != MOK) {
        MdUtilsAGIFEncode_Destroy(e);
        return r;
    }
    e->stream = stream;
    *out = e;
    return MOK;
}

MResult MdUtilsAGIFEncode_Destroy(AGIFEncodeHandle e) {
    if (!e) return MOK;
    if (e->hEnc) MIEnc_Destroy(e->hEnc);
    MMemFree(nullptr, e);
    return MOK;
}

MResult MdUtilsAGIFEncode_SetDurationTime(AGIFEncodeHandle e, MInt64 ms) {
    if (!e) return MERR_INVALID_PARAM;
    e->lDelay = ms / 10;
    return MOK;
}

MResult MdUtilsAGIFEncode_SetLoopNum(AGIFEncodeHandle e, MInt64 loop) {
    if (!e) return MERR_INVALID_PARAM;
    e->lLoop = loop;
    return MOK;
}

MResult MdUtilsAGIFEncode_UsePalette(AGIFEncodeHandle e, MInt64 v) {
    if (!e) return MERR_INVALID_PARAM;
    return MIEnc_SetProp(e->hEnc, AGIF_ENC_PROP_USEPALETTE, &v, 8);
}

MResult MdUtilsAGIFEncode_SetAlgorithmType(AGIFEncodeHandle e, MInt64 type) {
    if (!e) return MERR_INVALID_PARAM;
    e->lAlgorithm = type;
    return MIEnc_SetProp(e->hEnc, AGIF_ENC_PROP_ALGORITHM, &type, 8);
}

MResult MdUtilsAGIFEncode_AddFrame(AGIFEncodeHandle e, MBITMAP* bmp, MInt64 left, MInt64 top) {
    if (!e || !isBitmap24(bmp) || e->lFrameCount >= AGIF_MAX_FRAMES) return MERR_INVALID_PARAM;
    MInt64 start = 0;
    MResult r = beginFrame(e, left, top, bmp->lWidth, bmp->lHeight, &start);
    if (r != MOK) return r;
    MByte* planes[3] = {bmp->pPlane[0], bmp->pPlane[1], bmp->pPlane[2]};
    MInt64 pitches[3] = {bmp->lPitch[0], bmp->lPitch[1], bmp->lPitch[2]};
    MInt64 count = bmp->lHeight;
    r = MIEnc_Scanlines(e->hEnc, planes, pitches, &count);
    if (r != MOK) return r;
    endFrame(e, start);
    return MOK;
}

MResult MdUtilsAGIFEncode_CreatePalette(MBITMAP* bmp, AGIFPalette* out, MInt64 type) {
    if (!out) return MERR_INVALID_PARAM;
    *out = nullptr;
    if (!isBitmap24(bmp)) return MERR_INVALID_PARAM;
    auto* p = static_cast<AGIFPaletteRecord*>(MMemAlloc(nullptr, sizeof(AGIFPaletteRecord)));
    if (!p) return MERR_NO_MEMORY;
    std::memset(p, 0, sizeof *p);
    p->hQuant = AMQuant_CreatePalette(type);
    if (!p->hQuant) {
        MMemFree(nullptr, p);
        return MERR_NO_MEMORY;
    }
    // The bitmap's own pitch: rows padded beyond 4 bytes are read where they lie.
    MResult r = AMQuant_GetPalette(p->hQuant, bmp->pPlane[0], bmp->lPitch[0], bmp->lWidth, bmp->lHeight, 256,
                                   p->palette);
    *out = p;
    return r;
}

MResult MdUtilsAGIFEncode_GetFrameDataByPalette(AGIFPalette p, MBITMAP* bmp, MByte* index, MInt64 indexPitch) {
    if (!p || !isBitmap24(bmp) || !index) return MERR_INVALID_PARAM;
    return AMQuant_Remapfloyd(p->hQuant, bmp->pPlane[0], bmp->lPitch[0], index, indexPitch, bmp->lWidth, bmp->lHeight,
                              p->palette);
}

MResult MdUtilsAGIFEncode_AddFrameWithData(AGIFEncodeHandle e, AGIFPalette p, MByte* index, MInt64 indexPitch,
                                           MInt64 w, MInt64 h, MInt64 left, MInt64 top) {
    if (!e || !p || !index || e->lFrameCount >= AGIF_MAX_FRAMES) return MERR_INVALID_PARAM;
    if (w < 1 || h < 1 || indexPitch < w) return MERR_INVALID_PARAM;
    MInt64 start = 0;
    MResult r = beginFrame(e, left, top, w, h, &start);
    if (r != MOK) return r;
    r = MIEnc_SetProp(e->hEnc, AGIF_ENC_PROP_PALETTE, p->palette, 256);
    if (r != MOK) return r;
    // The encoder takes the index rows packed at the width padded to 4 bytes; other pitches are
    // repacked rather than read at the wrong place.
    const MInt64 packed = (w + 3) / 4 * 4;
    MByte* rows = index;
    MByte* copy = nullptr;
    if (indexPitch != packed) {
        copy = static_cast<MByte*>(MMemAlloc(nullptr, size_t(packed * h)));
        if (!copy) return MERR_NO_MEMORY;
        std::memset(copy, 0, size_t(packed * h));
        for (MInt64 y = 0; y < h; ++y) std::memcpy(copy + y * packed, index + y * indexPitch, size_t(w));
        rows = copy;
    }
    r = MIEnc_SetProp(e->hEnc, AGIF_ENC_PROP_INDEXES, rows, h);
    MMemFree(nullptr, copy);
    if (r != MOK) return r;
    endFrame(e, start);
    return MOK;
}

MResult MdUtilsAGIFEncode_DestoryPalette(AGIFPalette p) {
    if (!p) return MERR_INVALID_PARAM;
    AMQuant_DestroyPalette(p->hQuant);
    MMemFree(nullptr, p);
    return MOK;
}

MResult MdUtilsAGIFEncode_LoopDataDostep(AGIFEncodeHandle e, MInt64* remaining) {
    if (!e || !e->stream) return MERR_INVALID_PARAM;
    const MInt64 n = e->lFrameCount;
    if (remaining) *remaining = 0;
    if (n < 3) return MERR_AGIF_NO_MORE;
    // Three frames a step: n - 2, n - 3, ... down to frame 1.
    while (e->lPingPong <= n - 1) {
        MResult r = appendFrame(e, e->frames[n - e->lPingPong]);
        if (r != MOK) return r;
        ++e->lPingPong;
        if ((e->lPingPong + 1) % 3 == 0) {
            if (remaining) *remaining = n - e->lPingPong;
            return MOK;
        }
    }
    return MERR_AGIF_NO_MORE;
}

} // extern "C"
