// PNG decoding glue over libpng. libpng reports errors by longjmp, so the functions that call
// it hold no objects with destructors; all buffers are plain MMemAlloc blocks.
#include "PngDecoder.h"

#include <csetjmp>
#include <cstring>

#include <png.h>

#include "MMemory.h"
#include "MPngChunks.h"
#include "MdIoUtil.h"

namespace {

constexpr int64_t kMaxPixels = int64_t(1) << 28;
// The most one chunk may make us allocate. A text or profile chunk declaring gigabytes is
// refused from its length before anything is read into it; real ones are far smaller.
constexpr png_alloc_size_t kMaxChunkBytes = png_alloc_size_t(64) << 20;
// How many ancillary chunks with stored data (text, sPLT, unknown) one file may carry.
constexpr png_uint_32 kMaxCachedChunks = 1000;

}  // namespace

struct PNGDecodeHandle {
    png_structp png;
    png_infop info;
    MSTREAM stream;
    int64_t xRes, yRes;
    double scale;
    int64_t imgW, imgH;
    int64_t outW, outH;
    int colorType, bitDepth, interlace;
    int pixelDepth;       // bits per delivered pixel
    int channels;
    int64_t rowBytes;     // libpng's transformed row at full width
    bool rgbOrder;        // red first
    bool failed;
    bool paletteTrns;
    int paletteEntries;
    uint8_t palette[256 * 4];  // red, green, blue, alpha
    uint32_t* colMap;     // 32-bit: images may exceed 65,536 pixels a side
    uint32_t* rowMap;
    uint8_t* rowBuf;      // one source row (non-interlaced)
    int64_t srcRowsRead;  // rows read from libpng so far (non-interlaced)
    uint8_t* image;       // the whole image (interlaced), rowBytes per row
    uint8_t** rowPtrs;
    int64_t delivered;    // output rows delivered
    size_t allocCap;      // the largest block libpng may ask for (see onAlloc)
};

namespace {

[[noreturn]] void onError(png_structp png, png_const_charp) { png_longjmp(png, 1); }
void onWarning(png_structp, png_const_charp) {}

void onRead(png_structp png, png_bytep data, size_t length) {
    auto* h = static_cast<PNGDecodeHandle*>(png_get_io_ptr(png));
    if (MStreamRead(h->stream, data, int64_t(length)) != int64_t(length)) png_error(png, "Read Error");
}

// libpng only warns about a chunk longer than the chunk limit and then allocates it anyway for
// text chunks, so the cap is kept here: a larger request fails and the chunk is skipped or the
// decode fails, without touching gigabytes first. Row buffers are sized by the image, so the cap
// grows to cover them once the header is known.
png_voidp onAlloc(png_structp png, png_alloc_size_t size) {
    auto* h = static_cast<PNGDecodeHandle*>(png_get_mem_ptr(png));
    if (h && size > h->allocCap) return nullptr;
    return MMemAlloc(nullptr, size);
}
void onFree(png_structp, png_voidp p) { MMemFree(nullptr, p); }

void freeBuffers(PNGDecodeHandle* h) {
    MMemFree(nullptr, h->colMap);
    MMemFree(nullptr, h->rowMap);
    MMemFree(nullptr, h->rowBuf);
    MMemFree(nullptr, h->image);
    MMemFree(nullptr, h->rowPtrs);
    h->colMap = h->rowMap = nullptr;
    h->rowBuf = h->image = nullptr;
    h->rowPtrs = nullptr;
}

// Copies (or samples) one transformed source row into the caller's row, writing every byte of
// the output width, and puts red first when asked.
void emitRow(PNGDecodeHandle* h, const uint8_t* src, uint8_t* dst) {
    const int d = h->pixelDepth;
    const bool scaled = h->colMap != nullptr;
    const int64_t w = h->outW;
    if (d >= 8) {
        const int bpp = d / 8;
        if (!scaled) {
            std::memcpy(dst, src, size_t(w * bpp));
        } else {
            for (int64_t x = 0; x < w; ++x) std::memcpy(dst + x * bpp, src + int64_t(h->colMap[x]) * bpp, size_t(bpp));
        }
        if (!h->rgbOrder && bpp >= 3) {
            // libpng delivers red first; the codec's default order is blue first.
            for (int64_t x = 0; x < w; ++x) {
                uint8_t t = dst[x * bpp];
                dst[x * bpp] = dst[x * bpp + 2];
                dst[x * bpp + 2] = t;
            }
        }
        return;
    }
    const int64_t bytes = (w * d + 7) / 8;
    if (!scaled) {
        std::memcpy(dst, src, size_t(bytes));
        int64_t tail = bytes * 8 - w * d;
        if (tail) dst[bytes - 1] &= uint8_t(0xFF << tail);
        return;
    }
    std::memset(dst, 0, size_t(bytes));
    const int per = 8 / d;
    const unsigned mask = (1u << d) - 1;
    for (int64_t x = 0; x < w; ++x) {
        int64_t sx = h->colMap[x];
        unsigned v = (src[sx / per] >> (8 - d * (sx % per + 1))) & mask;
        dst[x / per] |= uint8_t(v << (8 - d * (x % per + 1)));
    }
}

}  // namespace

extern "C" {

MResult PNG_GetInfoFromFile(MSTREAM stream, MInt64* plWidth, MInt64* plHeight, MInt64* plBits) {
    if (!stream || !plWidth || !plHeight || !plBits) return MERR_INVALID_PARAM;
    if (MStreamGetSize(stream) <= 25) return MERR_UNSUPPORTED;
    if (MStreamSeek(stream, MSTREAM_SEEK_BEGIN, 0) != 0) return MERR_FILE_SEEK;
    uint8_t sig[4];
    if (!mdio::readExact(stream, sig, 4) || sig[0] != 137 || sig[1] != 'P' || sig[2] != 'N' || sig[3] != 'G') {
        MStreamSeek(stream, MSTREAM_SEEK_BEGIN, 0);
        return MERR_UNSUPPORTED;
    }
    if (MStreamSeek(stream, MSTREAM_SEEK_BEGIN, 16) != 0) return MERR_FILE_SEEK;
    uint8_t ihdr[10];
    if (!mdio::readExact(stream, ihdr, 10)) return MERR_FILE_READ;
    const int depth = ihdr[8], type = ihdr[9];
    // Look for a tRNS chunk before the image data: on grey and truecolour images it becomes an
    // alpha channel of the delivered rows.
    bool trns = false;
    if (type == 0 || type == 2) {
        int seen = 0;
        MPngWalkChunks(
            -1,
            [stream](int64_t pos, uint8_t* buffer, size_t count) {
                return MStreamSeek(stream, MSTREAM_SEEK_BEGIN, pos) == 0 && mdio::readExact(stream, buffer, int64_t(count));
            },
            [&](const MPngChunk& chunk) {
                trns = chunk.is("tRNS");
                return !trns && !chunk.is("IDAT") && ++seen < 4096;
            },
            33);
    }
    if (MStreamSeek(stream, MSTREAM_SEEK_BEGIN, 0) != 0) return MERR_FILE_SEEK;
    int channels = (type == 0 || type == 3) ? 1 : type == 4 ? 2 : type == 6 ? 4 : 3;
    int bits = depth == 16 ? 8 : depth;
    if (trns) {
        ++channels;
        bits = 8;
    }
    *plWidth = mdio::be32(ihdr);
    *plHeight = mdio::be32(ihdr + 4);
    *plBits = int64_t(bits) * channels;
    return MOK;
}

MResult PNG_DecodeInit(MSTREAM stream, PNGHandle* phDecoder) {
    if (!stream || !phDecoder) return MERR_INVALID_PARAM;
    *phDecoder = nullptr;
    auto* h = static_cast<PNGDecodeHandle*>(MMemAlloc(nullptr, sizeof(PNGDecodeHandle)));
    if (!h) return MERR_NO_MEMORY;
    std::memset(h, 0, sizeof *h);
    h->stream = stream;
    uint8_t sig[4];
    if (!mdio::readExact(stream, sig, 4) || png_sig_cmp(sig, 0, 4) != 0) {
        MMemFree(nullptr, h);
        return MERR_UNSUPPORTED;
    }
    h->allocCap = kMaxChunkBytes;
    h->png = png_create_read_struct_2(PNG_LIBPNG_VER_STRING, nullptr, onError, onWarning, h, onAlloc, onFree);
    if (!h->png) {
        MMemFree(nullptr, h);
        return MERR_NO_MEMORY;
    }
    h->info = png_create_info_struct(h->png);
    if (!h->info) {
        png_destroy_read_struct(&h->png, nullptr, nullptr);
        MMemFree(nullptr, h);
        return MERR_NO_MEMORY;
    }
    if (setjmp(png_jmpbuf(h->png))) {
        png_destroy_read_struct(&h->png, &h->info, nullptr);
        MMemFree(nullptr, h);
        return MERR_UNKNOWN;
    }
    png_set_read_fn(h->png, h, onRead);
    png_set_sig_bytes(h->png, 4);
    png_set_chunk_malloc_max(h->png, kMaxChunkBytes);
    png_set_chunk_cache_max(h->png, kMaxCachedChunks);
    png_read_info(h->png, h->info);
    png_uint_32 w, hh;
    int depth, type, interlace;
    png_get_IHDR(h->png, h->info, &w, &hh, &depth, &type, &interlace, nullptr, nullptr);
    h->imgW = w;
    h->imgH = hh;
    h->colorType = type;
    h->bitDepth = depth;
    h->interlace = interlace != PNG_INTERLACE_NONE;

    png_uint_32 rx, ry;
    int unit;
    if (png_get_pHYs(h->png, h->info, &rx, &ry, &unit)) {
        if (unit == 0 || unit == 1) {
            h->xRes = rx;
            h->yRes = ry;
        } else if (unit == 2) {
            h->xRes = h->yRes = 72;
        }
    }
    if (depth == 16) png_set_strip_16(h->png);
    if (type == PNG_COLOR_TYPE_PALETTE) {
        png_colorp pal;
        int n = 0;
        if (png_get_PLTE(h->png, h->info, &pal, &n)) {
            if (n > 256) n = 256;
            h->paletteEntries = n;
            for (int i = 0; i < n; ++i) {
                h->palette[4 * i] = pal[i].red;
                h->palette[4 * i + 1] = pal[i].green;
                h->palette[4 * i + 2] = pal[i].blue;
                h->palette[4 * i + 3] = 255;
            }
        }
        png_bytep alpha;
        int na = 0;
        if (png_get_tRNS(h->png, h->info, &alpha, &na, nullptr) && na > 0) {
            h->paletteTrns = true;
            for (int i = 0; i < na && i < h->paletteEntries; ++i) h->palette[4 * i + 3] = alpha[i];
        }
    } else if (png_get_valid(h->png, h->info, PNG_INFO_tRNS)) {
        // Transparent grey levels and colours become an alpha channel.
        if (type == PNG_COLOR_TYPE_GRAY && depth < 8) png_set_expand_gray_1_2_4_to_8(h->png);
        png_set_tRNS_to_alpha(h->png);
    }
    int intent;
    if (png_get_sRGB(h->png, h->info, &intent)) png_set_sRGB(h->png, h->info, intent);
    png_set_interlace_handling(h->png);
    // Rows of up to eight bytes a pixel, a few of them at once (previous, current, filter work).
    if (h->imgW <= kMaxPixels) h->allocCap += size_t(h->imgW) * 8 * 4;
    png_read_update_info(h->png, h->info);
    h->channels = png_get_channels(h->png, h->info);
    h->pixelDepth = png_get_bit_depth(h->png, h->info) * h->channels;
    h->rowBytes = int64_t(png_get_rowbytes(h->png, h->info));
    h->scale = 1.0;
    h->outW = h->imgW;
    h->outH = h->imgH;
    *phDecoder = h;
    return MOK;
}

MResult PNG_DecodeSetRGBInvert(PNGHandle h) {
    if (!h) return MERR_INVALID_PARAM;
    if (h->srcRowsRead == 0 && h->delivered == 0) h->rgbOrder = true;
    return MOK;
}

MResult PNG_DecodeSetDimension(PNGHandle h, MInt64* plWidth, MInt64* plHeight) {
    if (!h || !plWidth || !plHeight) return MERR_INVALID_PARAM;
    if (*plWidth < 0 || *plHeight < 0) return MERR_INVALID_PARAM;
    if (*plWidth == 0 || *plHeight == 0) {
        *plWidth = h->imgW;
        *plHeight = h->imgH;
        return MOK;
    }
    if (h->failed) return MERR_UNKNOWN;
    int64_t w = *plWidth < h->imgW ? *plWidth : h->imgW;
    int64_t hh = *plHeight < h->imgH ? *plHeight : h->imgH;
    double sx = double(w) / double(h->imgW), sy = double(hh) / double(h->imgH);
    double scale = sx < sy ? sx : sy;
    int64_t ow = int64_t(double(h->imgW) * scale + 0.5), oh = int64_t(double(h->imgH) * scale + 0.5);
    if (ow < 1) ow = 1;
    if (oh < 1) oh = 1;
    MMemFree(nullptr, h->colMap);
    MMemFree(nullptr, h->rowMap);
    h->colMap = h->rowMap = nullptr;
    if (scale != 1.0) {
        h->colMap = static_cast<uint32_t*>(MMemAlloc(nullptr, size_t(ow) * 4));
        h->rowMap = static_cast<uint32_t*>(MMemAlloc(nullptr, size_t(oh) * 4));
        if (!h->colMap || !h->rowMap) return MERR_NO_MEMORY;
        for (int64_t x = 0; x < ow; ++x) {
            int64_t s = int64_t(double(x) / scale);
            h->colMap[x] = uint32_t(s < h->imgW ? s : h->imgW - 1);
        }
        for (int64_t y = 0; y < oh; ++y) {
            int64_t s = int64_t(double(y) / scale);
            h->rowMap[y] = uint32_t(s < h->imgH ? s : h->imgH - 1);
        }
    }
    h->scale = scale;
    h->outW = ow;
    h->outH = oh;
    *plWidth = ow;
    *plHeight = oh;
    return MOK;
}

MResult PNG_DecodeGetInfoHeader(PNGHandle h, PNGInfoHeader* p) {
    if (!h || !p) return MERR_INVALID_PARAM;
    std::memset(p, 0, sizeof *p);
    p->dwSize = 80;
    p->lWidth = h->outW < 1 ? 1 : h->outW;
    p->lHeight = h->outH < 1 ? 1 : h->outH;
    p->wPlanes = 1;
    p->wBitCount = uint16_t(h->pixelDepth);
    p->dwSizeImage = uint64_t(((p->lWidth * h->pixelDepth + 31) / 32) * 4 * h->imgH);
    p->lXResolution = h->xRes;
    p->lYResolution = h->yRes;
    return MOK;
}

MResult PNG_DecodeGetPngInfo(PNGHandle h, PNGInfo* p) {
    if (!h || !p) return MERR_INVALID_PARAM;
    p->lInterlaced = h->interlace ? 1 : 0;
    p->lPasses = 1;  // interlaced images are put together here and delivered in one pass
    p->lOutHeight = h->outH;
    p->lOutWidth = h->outW;
    p->lPixelDepth = h->pixelDepth;
    p->lBitDepth = h->channels ? h->pixelDepth / h->channels : 0;
    p->lPaletteEntries = h->paletteEntries;
    p->lRowBytes = h->rowBytes;
    p->lXResolution = h->xRes;
    p->lYResolution = h->yRes;
    p->lPaletteTransparency = h->paletteTrns ? 1 : 0;
    return MOK;
}

MResult PNG_DecodeGetColorTab(PNGHandle h, MByte* pTable, MInt64* plSize) {
    if (!h || !plSize) return MERR_INVALID_PARAM;
    *plSize = int64_t(h->paletteEntries) * 4;
    if (pTable) {
        for (int i = 0; i < h->paletteEntries; ++i) {
            const uint8_t* e = h->palette + 4 * i;
            pTable[4 * i] = h->rgbOrder ? e[0] : e[2];
            pTable[4 * i + 1] = e[1];
            pTable[4 * i + 2] = h->rgbOrder ? e[2] : e[0];
            pTable[4 * i + 3] = e[3];
        }
    }
    return MOK;
}

MResult PNG_DecodeScanLines(PNGHandle h, MByte* pRow, MInt64 lRows, MInt64* plFirstRow,
                            MInt64* plRowsDelivered) {
    if (!h || !pRow || !plFirstRow || !plRowsDelivered || lRows < 1) return MERR_INVALID_PARAM;
    *plRowsDelivered = 0;
    if (h->failed) return MERR_UNKNOWN;
    if (h->delivered >= h->outH) {
        // Reading past the image.
        h->failed = true;
        return MERR_UNKNOWN;
    }
    if (setjmp(png_jmpbuf(h->png))) {
        h->failed = true;
        return MERR_UNKNOWN;
    }
    const int64_t srcRow = h->rowMap ? int64_t(h->rowMap[h->delivered]) : h->delivered;
    const uint8_t* src;
    if (h->interlace) {
        if (!h->image) {
            if (h->imgW > kMaxPixels / h->imgH) {
                h->failed = true;
                return MERR_UNSUPPORTED;
            }
            h->image = static_cast<uint8_t*>(MMemAlloc(nullptr, size_t(h->rowBytes * h->imgH)));
            h->rowPtrs = static_cast<uint8_t**>(MMemAlloc(nullptr, size_t(h->imgH) * sizeof(uint8_t*)));
            if (!h->image || !h->rowPtrs) {
                h->failed = true;
                return MERR_NO_MEMORY;
            }
            std::memset(h->image, 0, size_t(h->rowBytes * h->imgH));
            for (int64_t y = 0; y < h->imgH; ++y) h->rowPtrs[y] = h->image + y * h->rowBytes;
            png_read_image(h->png, h->rowPtrs);
        }
        src = h->image + srcRow * h->rowBytes;
    } else {
        if (!h->rowBuf) {
            h->rowBuf = static_cast<uint8_t*>(MMemAlloc(nullptr, size_t(h->rowBytes)));
            if (!h->rowBuf) {
                h->failed = true;
                return MERR_NO_MEMORY;
            }
        }
        while (h->srcRowsRead <= srcRow) {
            png_read_row(h->png, h->rowBuf, nullptr);
            ++h->srcRowsRead;
        }
        src = h->rowBuf;
    }
    emitRow(h, src, pRow);
    *plFirstRow = h->delivered;
    ++h->delivered;
    *plRowsDelivered = 1;
    return MOK;
}

MResult PNG_DecodeUninit(PNGHandle h) {
    if (!h) return MERR_INVALID_PARAM;
    if (!h->failed && h->delivered >= h->outH) {
        // Reads the chunks after the image data; a complaint there changes nothing delivered.
        if (setjmp(png_jmpbuf(h->png)) == 0) png_read_end(h->png, nullptr);
    }
    png_destroy_read_struct(&h->png, &h->info, nullptr);
    freeBuffers(h);
    MMemFree(nullptr, h);
    return MOK;
}

}  // extern "C"
