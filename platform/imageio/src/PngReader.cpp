// PNG through libpng: every colour type and depth comes out as 8-bit RGBA, transparency
// (tRNS) expanded to alpha. The rows of an interlaced file arrive pass by pass (PNG 8.2: each
// pass is a small picture of its own) and are placed here. A reduced decode averages blocks of
// rows (or of pass rows) as they arrive, so the full-size picture is never held in memory.

#include "FormatDecoder.h"
#include "imageio/ImageLimits.h"
#include "imageio/ContentTypes.h"
#include "imageio/ImageProperties.h"

#include <png.h>
#include <zlib.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <vector>
#include <memory>

namespace kpv {
namespace {

constexpr png_alloc_size_t kMaxChunkBytes = png_alloc_size_t(8) << 20;
constexpr png_uint_32 kMaxCachedChunks = 128;
// Working rows of up to a megabyte live in the margin the decode budget leaves, as every
// reader's small buffers do; larger ones are charged to it.
constexpr uint64_t kMarginRowBytes = uint64_t(1) << 20;

struct ReadState {
    const unsigned char* data = nullptr;
    size_t size = 0;
    size_t pos = 0;
    size_t padding = 0;  // zero bytes handed out past the end
};

// Past the end of a file cut short the reader hands out zeros, a little: the library reads a chunk
// whole before it inflates any of it, so the rows the present part of a cut chunk holds decode
// before the zeros stop it with an error.
constexpr size_t kMaxPaddingBytes = size_t(1) << 20;
// The zeros inflate too, into rows of no picture, until the stream breaks: a row is only taken
// from a read that stayed inside the file (readRow). So that a file cut short loses only the rows
// of the read that crossed its end, the library reads little at a time near the end.
constexpr size_t kNearEndBytes = size_t(64) << 10;
constexpr size_t kNearEndReadBytes = 16;

extern "C" void readFromMemory(png_structp png, png_bytep out, png_size_t length)
{
    auto* state = static_cast<ReadState*>(png_get_io_ptr(png));
    const size_t present = std::min<size_t>(length, state->size - state->pos);
    if (length - present > kMaxPaddingBytes - state->padding)
        png_error(png, "unexpected end of file");
    std::memcpy(out, state->data + state->pos, present);
    std::memset(out + present, 0, length - present);
    state->pos += present;
    state->padding += length - present;
    if (state->size - state->pos < kNearEndBytes)
        png_set_compression_buffer_size(png, kNearEndReadBytes);
}

extern "C" void onPngError(png_structp png, png_const_charp message)
{
    auto* text = static_cast<QString*>(png_get_error_ptr(png));
    if (text)
        *text = QString::fromLatin1(message);
    png_longjmp(png, 1);
}

// libpng only warns about a chunk over the limits and reads on; such a file is refused instead.
extern "C" void onPngWarning(png_structp png, png_const_charp message)
{
    const char* text = message ? message : "";
    if (std::strstr(text, "too large") || std::strstr(text, "insufficient memory") || std::strstr(text, "exceeds"))
        png_error(png, text);
}

// Everything that outlives a longjmp lives here, reached through an unchanging pointer.
struct PngJob {
    ~PngJob()
    {
        pages.reset();
        if (png)
            png_destroy_read_struct(&png, info ? &info : nullptr, nullptr);
    }
    png_structp png = nullptr;
    png_infop info = nullptr;
    ReadState input;
    QString message;
    QImage image;
    // Two decoded rows (the one just read and the last different one) and the column sums of a
    // reduced decode: those of the last different row, and those of the output row or rows.
    std::vector<unsigned char> row, previousRow;
    std::vector<uint64_t> rowSums, sums;
    QSize size;
    double dpiX = 0, dpiY = 0;
    // Rows read so far; with `partialOk` a file damaged after some rows gives those rows (the
    // rest stays clear), as a file cut off by a download shows as far as it came.
    png_uint_32 rowsDone = 0;
    bool partialOk = false;
    bool premultiply = false;  // full-size rows are premultiplied as they arrive
    bool interlaced = false;  // a part was asked of an interlaced file
    // A reduced decode of an interlaced file: the sums of every output pixel, turned into the
    // frame once the passes are done (or broke off).
    png_uint_32 width = 0, height = 0, factor = 1;
    bool sumsPending = false;
    // The reduction asked for by a part of an interlaced file (0: the one the longest side
    // asks for).
    png_uint_32 exactFactor = 0;
    // With `exactFactor`, the part of the reduced picture wanted (empty: all of it); the sums
    // cover only the part.
    QRect area;
    // A full-size decode of a file that is not interlaced, whose frame is not cleared first: the
    // rows it never read are cleared when the file breaks off.
    bool clearUnread = false;
    // A full-size decode of an interlaced file, whose frame is not cleared first either: the
    // pass and the row of it being read, so that what never came is cleared when the file
    // breaks off.
    bool passesUnread = false;
    int passIndex = 0;
    png_uint_32 passRow = 0;
    // Palette and low-depth grey rows are read as stored and made RGBA through a table (see
    // SampleTable); the stored rows are held here, the one just read and the last different one.
    bool tabled = false;
    // Rows the library fills in with opaque alpha (no alpha channel, no tRNS): nothing to premultiply.
    bool opaque = false;
    int depth = 8;
    uint32_t straight[256] = {};
    uint32_t premultiplied[256] = {};
    std::vector<unsigned char> stored, previousStored;
    // Rows asked of the library, and whether the load stopped the decode among them (no fault
    // of the file: nothing read so far is kept).
    unsigned rowsAsked = 0;
    bool cancelled = false;
    // Makes a full-size frame's pages resident beside the decode; stopped before the frame leaves.
    std::unique_ptr<imageio_detail::FramePages> pages;
};

// PNG 8.2: the Adam7 passes, as first column, first row, column step and row step.
struct Pass {
    png_uint_32 x0, y0, dx, dy;
};
constexpr Pass kAdam7[7] = {{0, 0, 8, 8}, {4, 0, 8, 8}, {0, 4, 4, 8}, {2, 0, 4, 4}, {0, 2, 2, 4}, {1, 0, 2, 2}, {0, 1, 1, 2}};

// The columns and rows pass `p` holds of a picture of this size (none: libpng skips the pass).
png_uint_32 passWidth(const Pass& p, png_uint_32 width) { return (width + p.dx - 1 - p.x0) / p.dx; }
png_uint_32 passHeight(const Pass& p, png_uint_32 height) { return (height + p.dy - 1 - p.y0) / p.dy; }

void premultiplyPixel(unsigned char* p)
{
    const unsigned a = p[3];
    if (a == 255)
        return;
    p[0] = static_cast<unsigned char>((p[0] * a + 127) / 255);
    p[1] = static_cast<unsigned char>((p[1] * a + 127) / 255);
    p[2] = static_cast<unsigned char>((p[2] * a + 127) / 255);
}

void premultiplyRow16(unsigned char* p)
{
    for (int i = 0; i < 16; ++i)
        premultiplyPixel(p + i * 4);
}

// Straight alpha to premultiplied, in place, with the rounding every reader uses. Runs of
// opaque pixels, most of any picture, are passed sixteen at a time.
void premultiplyRow(unsigned char* p, size_t count)
{
    for (; count >= 16; count -= 16, p += 64) {
        uint32_t alphas = 0xFF;
        for (int i = 0; i < 16; ++i)
            alphas &= p[i * 4 + 3];
        if (alphas == 0xFF)
            continue;
        premultiplyRow16(p);
    }
    for (const unsigned char* end = p + count * 4; p != end; p += 4)
        premultiplyPixel(p);
}

// PNG 11.2.3 (PLTE, tRNS) and 13.12: a palette index, or a grey level of up to 8 bits, made
// RGBA through a table of its 256 possible values, in the byte order of the frame. The library's
// own expansion makes three passes over a row (palette to RGB, alpha added, copied out); a table
// writes each pixel once, straight into the frame, which for a picture of a quarter of a
// gigapixel is the difference of a second. The table holds what the library gives: an index past
// the palette is black, alpha comes from tRNS where it has an entry, and grey is scaled to 8 bits
// by replicating its bits.
bool buildSampleTable(PngJob* job)
{
    const int colorType = png_get_color_type(job->png, job->info);
    const int depth = png_get_bit_depth(job->png, job->info);
    if (depth > 8 || (colorType != PNG_COLOR_TYPE_PALETTE && colorType != PNG_COLOR_TYPE_GRAY))
        return false;
    unsigned char rgba[256][4] = {};
    png_bytep transAlpha = nullptr;
    int transCount = 0;
    png_color_16p transColor = nullptr;
    const bool hasTrans = png_get_tRNS(job->png, job->info, &transAlpha, &transCount, &transColor) != 0;
    if (colorType == PNG_COLOR_TYPE_PALETTE) {
        png_colorp palette = nullptr;
        int count = 0;
        if (!png_get_PLTE(job->png, job->info, &palette, &count) || !palette)
            return false;
        for (int i = 0; i < 256; ++i) {
            if (i < count) {
                rgba[i][0] = palette[i].red;
                rgba[i][1] = palette[i].green;
                rgba[i][2] = palette[i].blue;
            }
            rgba[i][3] = hasTrans && transAlpha && i < transCount ? transAlpha[i] : 0xFF;
        }
    } else {
        const int levels = 1 << depth;
        // A transparent grey beyond the depth is left to the library, which masks it its own way.
        if (hasTrans && (!transColor || transColor->gray >= levels))
            return false;
        for (int i = 0; i < levels; ++i) {
            const auto grey = static_cast<unsigned char>(i * 255 / (levels - 1));
            rgba[i][0] = rgba[i][1] = rgba[i][2] = grey;
            rgba[i][3] = hasTrans && i == transColor->gray ? 0 : 0xFF;
        }
    }
    for (int i = 0; i < 256; ++i) {
        std::memcpy(&job->straight[i], rgba[i], 4);
        premultiplyPixel(rgba[i]);
        std::memcpy(&job->premultiplied[i], rgba[i], 4);
    }
    job->depth = depth;
    job->tabled = true;
    return true;
}

// `pixels` stored samples of `depth` bits, first in the high bits of each byte (PNG 7.2), made
// RGBA through `table`.
void expandSamples(const unsigned char* in, unsigned char* out, size_t pixels, int depth, const uint32_t* table)
{
    if (depth == 8) {
        for (size_t i = 0; i < pixels; ++i, out += 4)
            std::memcpy(out, &table[in[i]], 4);
        return;
    }
    const unsigned perByte = 8u / unsigned(depth), mask = (1u << depth) - 1;
    size_t i = 0;
    for (; i + perByte <= pixels; i += perByte, ++in) {
        const unsigned byte = *in;
        if (byte == 0 || byte == 0xFF) {
            // A run of one level, most of a page or a flat picture: one look-up for the byte.
            const uint32_t pixel = table[byte & mask];
            for (unsigned k = 0; k < perByte; ++k, out += 4)
                std::memcpy(out, &pixel, 4);
            continue;
        }
        for (unsigned k = 0; k < perByte; ++k, out += 4)
            std::memcpy(out, &table[(byte >> (8 - unsigned(depth) * (k + 1))) & mask], 4);
    }
    for (unsigned k = 0; i < pixels; ++i, ++k, out += 4)
        std::memcpy(out, &table[(*in >> (8 - unsigned(depth) * (k + 1))) & mask], 4);
}

// The next row from the library. A row finished once the reads went past the file's end may be
// the padding's zeros inflated, not the picture: the file is damaged there.
void readRow(PngJob* job, png_bytep out)
{
    // Every few rows, a decode whose load was cancelled leaves the way an error does.
    if (++job->rowsAsked % imageio_detail::kCancelPollRows == 0 && imageio_detail::decodeCancelled(&job->message)) {
        job->cancelled = true;
        png_longjmp(job->png, 1);
    }
    png_read_row(job->png, out, nullptr);
    if (job->input.padding != 0)
        png_error(job->png, "the file ends early");
}

// The stored bytes of a row of `pixels` samples.
size_t storedBytes(const PngJob* job, size_t pixels) { return (pixels * size_t(job->depth) + 7) / 8; }

// Reads the next row of `pixels` pixels into `out` as RGBA: straight, or premultiplied when
// `premultiply` (rows the library expands are premultiplied here too).
void readRgbaRow(PngJob* job, unsigned char* out, size_t pixels, bool premultiply)
{
    if (!job->tabled) {
        readRow(job, out);
        ++job->rowsDone;
        if (premultiply && !job->opaque)
            premultiplyRow(out, pixels);
        return;
    }
    readRow(job, job->stored.data());
    ++job->rowsDone;
    expandSamples(job->stored.data(), out, pixels, job->depth, premultiply ? job->premultiplied : job->straight);
}

// Reads the next row of `pixels` pixels; true when it repeats the last different row, whose
// straight RGBA pixels in job->previousRow (and sums in job->rowSums) then stand for it too;
// false when it differs (it becomes that row). A flat or banded picture repeats most rows, and a
// picture of a few bytes may declare a quarter of a gigapixel: comparing costs far less than
// summing again. Stored rows of a table are compared as stored, before they are expanded.
bool readRowSeenBefore(PngJob* job, size_t pixels, bool* known)
{
    if (job->tabled) {
        const size_t bytes = storedBytes(job, pixels);
        readRow(job, job->stored.data());
        ++job->rowsDone;
        if (*known && std::memcmp(job->stored.data(), job->previousStored.data(), bytes) == 0)
            return true;
        job->stored.swap(job->previousStored);
        expandSamples(job->previousStored.data(), job->previousRow.data(), pixels, job->depth, job->straight);
        *known = true;
        return false;
    }
    readRow(job, job->row.data());
    ++job->rowsDone;
    if (*known && std::memcmp(job->row.data(), job->previousRow.data(), pixels * 4) == 0)
        return true;
    job->row.swap(job->previousRow);
    *known = true;
    return false;
}

// Sets up the rows as the readers want them, 8-bit RGBA, through a table or the library's
// transformations; false (with the message set) when the library's row layout is not that.
bool setUpRows(PngJob* job, png_uint_32 width)
{
    if (!buildSampleTable(job)) {
        const int colorType = png_get_color_type(job->png, job->info);
        png_set_expand(job->png);  // palette and low-depth grey to 8 bits, tRNS to alpha
        png_set_strip_16(job->png);
        if (colorType == PNG_COLOR_TYPE_GRAY || colorType == PNG_COLOR_TYPE_GRAY_ALPHA)
            png_set_gray_to_rgb(job->png);
        png_set_add_alpha(job->png, 0xff, PNG_FILLER_AFTER);  // no effect when alpha is already there
        job->opaque = (colorType & PNG_COLOR_MASK_ALPHA) == 0 && !png_get_valid(job->png, job->info, PNG_INFO_tRNS);
    }
    png_read_update_info(job->png, job->info);
    const size_t expected = job->tabled ? storedBytes(job, width) : size_t(width) * 4;
    if (png_get_rowbytes(job->png, job->info) != expected) {
        job->message = QStringLiteral("unexpected PNG row layout");
        return false;
    }
    if (job->tabled) {
        if (uint64_t(expected) * 2 > kMarginRowBytes && !imageio_detail::reserveDecodeBytes(uint64_t(expected) * 2, &job->message))
            return false;
        job->stored.resize(expected);
        job->previousStored.resize(expected);
    }
    return true;
}

// Charges the budget for the two RGBA rows of the picture and the sums of a row of `outW`
// reduced pixels a reduced decode holds besides its frame: a picture a quarter of a gigapixel
// wide and a row high is a file of 32 KB, whose rows alone take two gigabytes.
bool reserveReducedRows(PngJob* job, png_uint_32 width, png_uint_32 outW)
{
    const uint64_t bytes = uint64_t(width) * 4 * 2 + uint64_t(outW) * 4 * sizeof(uint64_t) * 2;
    return bytes <= kMarginRowBytes || imageio_detail::reserveDecodeBytes(bytes, &job->message);
}

bool begin(PngJob* job, const QByteArray& data)
{
    job->input.data = reinterpret_cast<const unsigned char*>(data.constData());
    job->input.size = size_t(data.size());
    job->png = png_create_read_struct(PNG_LIBPNG_VER_STRING, &job->message, onPngError, onPngWarning);
    if (!job->png)
        return false;
    job->info = png_create_info_struct(job->png);
    if (!job->info)
        return false;
    png_set_read_fn(job->png, &job->input, readFromMemory);
    // Our own limits apply; keep libpng's as a second guard against huge ancillary chunks.
    png_set_user_limits(job->png, png_uint_32(ImageLimits::kMaxPixelsPerFrame), png_uint_32(ImageLimits::kMaxPixelsPerFrame));
    // Ancillary chunks (text, profiles, unknown ones) are small in real files: a larger one is not
    // read into memory, and a flood of them is not cached.
    png_set_chunk_malloc_max(job->png, kMaxChunkBytes);
    png_set_chunk_cache_max(job->png, kMaxCachedChunks);
#ifdef PNG_IGNORE_ADLER32
    // A deliberate deviation: the image data's Adler-32 sum is not computed. The CRC of every
    // IDAT chunk already guards the same bytes (a damaged chunk still stops the decode), and the
    // sum took a quarter of the time of a large picture's decode.
    png_set_option(job->png, PNG_IGNORE_ADLER32, PNG_OPTION_ON);
#endif
    return true;
}

bool runHeader(PngJob* job, const QByteArray& data)
{
    if (!begin(job, data))
        return false;
    if (setjmp(png_jmpbuf(job->png)))
        return false;
    png_read_info(job->png, job->info);
    job->size = QSize(int(png_get_image_width(job->png, job->info)), int(png_get_image_height(job->png, job->info)));
    png_uint_32 resX = 0, resY = 0;
    int unit = 0;
    if (png_get_pHYs(job->png, job->info, &resX, &resY, &unit) && unit == PNG_RESOLUTION_METER) {
        job->dpiX = resX * 0.0254;
        job->dpiY = resY * 0.0254;
    }
    return true;
}

// The integer reduction that keeps the longer side at least `maxPixelSize` (1: none).
png_uint_32 reductionFor(png_uint_32 width, png_uint_32 height, int maxPixelSize)
{
    if (maxPixelSize <= 0)
        return 1;
    return std::max<png_uint_32>(1, std::max(width, height) / png_uint_32(maxPixelSize));
}

// Adds `count` straight-alpha pixels, premultiplied, to the sums of blocks `factor` wide. A block
// of a small thumbnail of a large picture is thousands of pixels wide: opaque pixels, most of any
// picture, go in without arithmetic, and a block's pixels are summed before they are added.
void addPremultiplied(const unsigned char* p, png_uint_32 count, png_uint_32 factor, uint64_t* sums)
{
    for (png_uint_32 x = 0; x < count; sums += 4) {
        const png_uint_32 blockEnd = std::min(count, x + factor);
        uint64_t s0 = 0, s1 = 0, s2 = 0, s3 = 0;
        for (; x < blockEnd; ++x, p += 4) {
            const unsigned a = p[3];
            if (a == 255) {
                s0 += p[0];
                s1 += p[1];
                s2 += p[2];
            } else {
                s0 += (p[0] * a + 127) / 255;
                s1 += (p[1] * a + 127) / 255;
                s2 += (p[2] * a + 127) / 255;
            }
            s3 += a;
        }
        sums[0] += s0;
        sums[1] += s1;
        sums[2] += s2;
        sums[3] += s3;
    }
}

// Box-averages `factor` x `factor` blocks of straight-alpha rows into a premultiplied picture,
// one row at a time; edge blocks average the pixels they have. A block of a small thumbnail of a
// large picture holds millions of pixels, so its sums are 64-bit.
bool readReduced(PngJob* job, png_uint_32 width, png_uint_32 height, png_uint_32 factor)
{
    const png_uint_32 outW = (width + factor - 1) / factor, outH = (height + factor - 1) / factor;
    if (!reserveReducedRows(job, width, outW))
        return false;
    job->image = imageio_detail::allocateFrame(int(outW), int(outH), &job->message);
    if (job->image.isNull())
        return false;
    job->image.fill(0);
    const size_t rowBytes = size_t(width) * 4;
    job->row.resize(rowBytes);
    job->previousRow.resize(rowBytes);
    std::vector<uint64_t>& rowSums = job->rowSums;
    std::vector<uint64_t>& sums = job->sums;
    rowSums.resize(size_t(outW) * 4);
    sums.resize(size_t(outW) * 4);
    bool known = false;
    // Rows of the block row that repeat the one whose sums rowSums hold, added at once: a flat
    // picture of a quarter of a gigapixel costs its inflating and a comparison a row, as the
    // library's own reading of its rows does, not the sums of a thumbnail's row for every row.
    uint64_t repeats = 0;
    const auto addRepeats = [&] {
        for (size_t i = 0; i < sums.size(); ++i)
            sums[i] += rowSums[i] * repeats;
        repeats = 0;
    };
    for (png_uint_32 oy = 0; oy < outH; ++oy) {
        std::fill(sums.begin(), sums.end(), uint64_t(0));
        const png_uint_32 rows = std::min(factor, height - oy * factor);
        for (png_uint_32 r = 0; r < rows; ++r) {
            if (!readRowSeenBefore(job, width, &known)) {
                addRepeats();
                std::fill(rowSums.begin(), rowSums.end(), uint64_t(0));
                addPremultiplied(job->previousRow.data(), width, factor, rowSums.data());
            }
            ++repeats;
        }
        addRepeats();
        uchar* out = job->image.scanLine(int(oy));
        for (png_uint_32 ox = 0; ox < outW; ++ox) {
            const uint64_t count = uint64_t(rows) * std::min(factor, width - ox * factor);
            for (int c = 0; c < 4; ++c)
                out[ox * 4 + png_uint_32(c)] = uchar((sums[size_t(ox) * 4 + size_t(c)] + count / 2) / count);
        }
    }
    png_read_end(job->png, nullptr);
    return true;
}

// The sums of an interlaced reduced decode made into its frame: every block averaged over all
// the pixels it covers, so that pixels of passes that never came count as clear.
void finishReducedPasses(PngJob* job)
{
    job->sumsPending = false;
    const png_uint_32 factor = job->factor, width = job->width, height = job->height;
    const int outW = job->image.width(), outH = job->image.height();
    for (int oy = 0; oy < outH; ++oy) {
        uchar* out = job->image.scanLine(oy);
        const uint64_t* sum = job->sums.data() + size_t(oy) * size_t(outW) * 4;
        const uint64_t rows = std::min(factor, height - png_uint_32(job->area.y() + oy) * factor);
        for (int ox = 0; ox < outW; ++ox) {
            const uint64_t count = rows * std::min(factor, width - png_uint_32(job->area.x() + ox) * factor);
            for (int c = 0; c < 4; ++c)
                out[ox * 4 + c] = uchar((sum[size_t(ox) * 4 + size_t(c)] + count / 2) / count);
        }
    }
}

// A reduced decode of an interlaced file, or of a part of it (job->area, in reduced pixels):
// each pass row's pixels go into the sums of the blocks they fall in, so the full-size picture
// is never held. The sums of the reduced frame or part are held meanwhile, and charged to the
// decode budget.
bool readReducedPasses(PngJob* job, png_uint_32 width, png_uint_32 height, png_uint_32 factor)
{
    const png_uint_32 reducedW = (width + factor - 1) / factor, reducedH = (height + factor - 1) / factor;
    if (job->area.isEmpty())
        job->area = QRect(0, 0, int(std::min<png_uint_32>(reducedW, INT32_MAX)), int(std::min<png_uint_32>(reducedH, INT32_MAX)));
    const QRect area = job->area;
    if (area.x() < 0 || area.y() < 0 || png_uint_32(area.right()) >= reducedW || png_uint_32(area.bottom()) >= reducedH) {
        job->message = QStringLiteral("the part is not inside the PNG picture");
        return false;
    }
    const png_uint_32 outW = png_uint_32(area.width()), outH = png_uint_32(area.height());
    if (!ImageLimits::frameAllowed(outW, outH)) {
        job->message = QStringLiteral("PNG image of %1 x %2 pixels exceeds the size limit").arg(width).arg(height);
        return false;
    }
    const uint64_t sumCount = uint64_t(outW) * outH * 4;
    if (!reserveReducedRows(job, width, outW) || !imageio_detail::reserveDecodeBytes(sumCount * sizeof(uint64_t), &job->message))
        return false;
    job->image = imageio_detail::allocateFrame(int(outW), int(outH), &job->message);
    if (job->image.isNull())
        return false;
    job->sums.assign(size_t(sumCount), 0);
    job->rowSums.resize(size_t(outW) * 4);
    job->row.resize(size_t(width) * 4);
    job->previousRow.resize(size_t(width) * 4);
    job->width = width;
    job->height = height;
    job->factor = factor;
    job->sumsPending = true;
    // The columns of the picture the part covers.
    const png_uint_32 left = png_uint_32(area.x()) * factor;
    const png_uint_32 right = std::min(width, (png_uint_32(area.right()) + 1) * factor);
    for (const Pass& pass : kAdam7) {
        const png_uint_32 columns = passWidth(pass, width), rows = passHeight(pass, height);
        if (columns == 0 || rows == 0)
            continue;
        // The pass's columns inside the part.
        const png_uint_32 first = left > pass.x0 ? (left - pass.x0 + pass.dx - 1) / pass.dx : 0;
        const png_uint_32 end = std::min(columns, right > pass.x0 ? (right - pass.x0 + pass.dx - 1) / pass.dx : 0);
        bool known = false;
        bool summed = false;  // job->rowSums hold the sums of the last different row
        for (png_uint_32 r = 0; r < rows; ++r) {
            if (!readRowSeenBefore(job, columns, &known))
                summed = false;
            const png_uint_32 oy = (pass.y0 + r * pass.dy) / factor;
            if (oy < png_uint_32(area.y()) || oy > png_uint_32(area.bottom()) || first >= end)
                continue;
            if (!summed) {
                summed = true;
                std::fill(job->rowSums.begin(), job->rowSums.end(), uint64_t(0));
                const unsigned char* p = job->previousRow.data() + size_t(first) * 4;
                png_uint_32 ox = (pass.x0 + first * pass.dx) / factor, blockEnd = (ox + 1) * factor;
                for (png_uint_32 i = first, x = pass.x0 + first * pass.dx; i < end; ++i, x += pass.dx, p += 4) {
                    while (x >= blockEnd) {
                        ++ox;
                        blockEnd += factor;
                    }
                    uint64_t* sum = job->rowSums.data() + size_t(ox - png_uint_32(area.x())) * 4;
                    const unsigned a = p[3];
                    sum[0] += (p[0] * a + 127) / 255;
                    sum[1] += (p[1] * a + 127) / 255;
                    sum[2] += (p[2] * a + 127) / 255;
                    sum[3] += a;
                }
            }
            uint64_t* sum = job->sums.data() + size_t(oy - png_uint_32(area.y())) * size_t(outW) * 4;
            for (size_t i = 0; i < job->rowSums.size(); ++i)
                sum[i] += job->rowSums[i];
        }
    }
    finishReducedPasses(job);
    png_read_end(job->png, nullptr);
    return true;
}

// A full-size decode of an interlaced file: each pass row's pixels are placed in their columns.
// The seven passes place every pixel once, so the frame is not cleared first (a pass over a
// gigabyte); the rows of the last pass, half the picture, are read straight into it.
bool readPasses(PngJob* job, png_uint_32 width, png_uint_32 height)
{
    job->row.resize(size_t(width) * 4);
    job->passesUnread = true;
    for (job->passIndex = 0; job->passIndex < 7; ++job->passIndex) {
        const Pass& pass = kAdam7[job->passIndex];
        const png_uint_32 columns = passWidth(pass, width), rows = passHeight(pass, height);
        if (columns == 0 || rows == 0)
            continue;
        for (job->passRow = 0; job->passRow < rows; ++job->passRow) {
            uchar* out = job->image.scanLine(int(pass.y0 + job->passRow * pass.dy)) + size_t(pass.x0) * 4;
            if (pass.dx == 1) {
                readRgbaRow(job, out, columns, job->premultiply);
                continue;
            }
            readRgbaRow(job, job->row.data(), columns, job->premultiply);
            const unsigned char* in = job->row.data();
            for (png_uint_32 i = 0; i < columns; ++i, in += 4, out += size_t(pass.dx) * 4)
                std::memcpy(out, in, 4);
        }
    }
    job->passesUnread = false;
    png_read_end(job->png, nullptr);
    return true;
}

// After a break in the passes: the pixels of the row that broke, of the rest of its pass and
// of the passes after it are cleared.
void clearUnreadPasses(PngJob* job)
{
    const png_uint_32 width = png_uint_32(job->image.width()), height = png_uint_32(job->image.height());
    for (int p = job->passIndex; p < 7; ++p) {
        const Pass& pass = kAdam7[p];
        const png_uint_32 columns = passWidth(pass, width), rows = passHeight(pass, height);
        if (columns == 0)
            continue;
        for (png_uint_32 r = p == job->passIndex ? job->passRow : 0; r < rows; ++r) {
            uchar* out = job->image.scanLine(int(pass.y0 + r * pass.dy)) + size_t(pass.x0) * 4;
            for (png_uint_32 i = 0; i < columns; ++i, out += size_t(pass.dx) * 4)
                std::memset(out, 0, 4);
        }
    }
}

bool runDecode(PngJob* job, const QByteArray& data, int maxPixelSize, bool* premultiplied)
{
    if (!runHeader(job, data))
        return false;
    if (setjmp(png_jmpbuf(job->png))) {
        if (job->cancelled || !job->partialOk || job->rowsDone == 0 || job->image.isNull())
            return false;
        // What came before the damage is shown; what did not come stays clear.
        if (job->sumsPending)
            finishReducedPasses(job);
        else if (job->passesUnread)
            clearUnreadPasses(job);
        else if (job->clearUnread)
            for (int y = int(job->rowsDone); y < job->image.height(); ++y)
                std::memset(job->image.scanLine(y), 0, size_t(job->image.bytesPerLine()));
        return true;
    }
    const png_uint_32 width = png_get_image_width(job->png, job->info);
    const png_uint_32 height = png_get_image_height(job->png, job->info);
    // A reduced decode holds a row of the picture and the reduced frame: the limit applies to
    // those, so that a panorama of more pixels than a frame may have still shows fitted.
    if (!ImageLimits::frameAllowed(width, 1)) {
        job->message = QStringLiteral("PNG image of %1 x %2 pixels exceeds the size limit").arg(width).arg(height);
        return false;
    }
    if (!imageio_detail::pngCanHold(data, data.size() - job->input.pos, png_get_rowbytes(job->png, job->info), width, height)) {
        job->message = QStringLiteral("the file is far too short for %1 x %2 pixels").arg(width).arg(height);
        return false;
    }
    // The passes of an interlaced file are read as the pictures they are (no interlace handling
    // asked of the library, which would walk every row of the picture seven times).
    const bool interlaced = png_get_interlace_type(job->png, job->info) == PNG_INTERLACE_ADAM7;
    if (!setUpRows(job, width))
        return false;
    const png_uint_32 factor = job->exactFactor ? job->exactFactor : reductionFor(width, height, maxPixelSize);
    *premultiplied = factor > 1 || job->premultiply;
    if (interlaced && (factor > 1 || !job->area.isEmpty()))
        return readReducedPasses(job, width, height, factor);
    if (factor > 1)
        return readReduced(job, width, height, factor);
    if (!ImageLimits::frameAllowed(width, height)) {
        job->message = QStringLiteral("PNG image of %1 x %2 pixels exceeds the size limit").arg(width).arg(height);
        return false;
    }
    job->image = imageio_detail::allocateFrame(int(width), int(height), &job->message);
    if (job->image.isNull())
        return false;
    if (interlaced)
        return readPasses(job, width, height);
    // Every row is written as it arrives; only rows a damaged file never delivers are cleared.
    job->clearUnread = true;
    job->pages = std::make_unique<imageio_detail::FramePages>(job->image);
    for (png_uint_32 y = 0; y < height; ++y) {
        readRgbaRow(job, job->image.scanLine(int(y)), width, job->premultiply);
        job->pages->written(int(y) + 1);
    }
    png_read_end(job->png, nullptr);
    return true;
}

// A part of the picture reduced by `reduction`: the rows above it are inflated and dropped, the
// rows below are never read, and only the part's columns are kept (box-averaged and
// premultiplied as a reduced decode is). Non-interlaced files only.
bool runRegionDecode(PngJob* job, const QByteArray& data, const QRect& rect, png_uint_32 reduction)
{
    if (!runHeader(job, data))
        return false;
    if (setjmp(png_jmpbuf(job->png)))
        return false;
    const png_uint_32 width = png_get_image_width(job->png, job->info);
    const png_uint_32 height = png_get_image_height(job->png, job->info);
    // Only a row of the picture is held: its width is what the limit applies to.
    if (!ImageLimits::frameAllowed(width, 1) ||
        !imageio_detail::pngCanHold(data, data.size() - job->input.pos, png_get_rowbytes(job->png, job->info), width, height)) {
        job->message = QStringLiteral("the file is far too short for %1 x %2 pixels, or they exceed the limit")
                           .arg(width)
                           .arg(height);
        return false;
    }
    if (png_get_interlace_type(job->png, job->info) != PNG_INTERLACE_NONE) {
        job->interlaced = true;
        return false;
    }
    if (!setUpRows(job, width))
        return false;
    const png_uint_32 outW = (width + reduction - 1) / reduction, outH = (height + reduction - 1) / reduction;
    if (rect.x() < 0 || rect.y() < 0 ||
        png_uint_32(rect.right()) >= outW || png_uint_32(rect.bottom()) >= outH) {
        job->message = QStringLiteral("the part is not inside the PNG picture");
        return false;
    }
    if (!imageio_detail::reserveDecodeBytes(uint64_t(width) * 4 + uint64_t(rect.width()) * 32, &job->message))
        return false;
    job->image = imageio_detail::allocateFrame(rect.width(), rect.height(), &job->message);
    if (job->image.isNull())
        return false;
    std::vector<unsigned char>& row = job->row;
    std::vector<uint64_t>& sums = job->sums;
    row.resize(size_t(width) * 4);
    sums.resize(size_t(rect.width()) * 4);
    // The rows above the part are inflated and dropped, never expanded.
    for (png_uint_32 y = 0; y < png_uint_32(rect.y()) * reduction; ++y)
        readRow(job, job->tabled ? job->stored.data() : row.data());
    const png_uint_32 firstColumn = png_uint_32(rect.x()) * reduction;
    for (int oy = 0; oy < rect.height(); ++oy) {
        std::fill(sums.begin(), sums.end(), uint64_t(0));
        const png_uint_32 top = (png_uint_32(rect.y()) + png_uint_32(oy)) * reduction;
        const png_uint_32 rows = std::min(reduction, height - top);
        for (png_uint_32 r = 0; r < rows; ++r) {
            readRgbaRow(job, row.data(), width, false);
            const png_uint_32 end = std::min(width, firstColumn + png_uint_32(rect.width()) * reduction);
            addPremultiplied(row.data() + size_t(firstColumn) * 4, end - firstColumn, reduction, sums.data());
        }
        uchar* out = job->image.scanLine(oy);
        for (int ox = 0; ox < rect.width(); ++ox) {
            const png_uint_32 left = firstColumn + png_uint_32(ox) * reduction;
            const uint64_t count = uint64_t(rows) * std::min(reduction, width - left);
            for (int c = 0; c < 4; ++c)
                out[ox * 4 + c] = uchar((sums[size_t(ox) * 4 + size_t(c)] + count / 2) / count);
        }
    }
    return true;
}

// Why a read of rows broke off: the file's damage, or the load that was cancelled.
QString damage(const PngJob* job)
{
    return job->cancelled ? job->message : QStringLiteral("the PNG file is damaged: %1").arg(job->message);
}

// Sets a PNG of 16 bits a sample up to hand out its rows as RGBA64 with straight alpha in the
// machine's order; *passes is 1, or 7 for an interlaced file. False, with *why set, for a file not
// so stored, damaged or declaring more than it can hold.
bool setUpSixteenBitRows(PngJob* job, const QByteArray& data, int* passes, QString* why)
{
    if (!runHeader(job, data)) {
        *why = QStringLiteral("not a readable PNG file: %1").arg(job->message);
        return false;
    }
    if (setjmp(png_jmpbuf(job->png))) {
        *why = damage(job);
        return false;
    }
    const png_uint_32 width = png_get_image_width(job->png, job->info);
    const png_uint_32 height = png_get_image_height(job->png, job->info);
    const int colorType = png_get_color_type(job->png, job->info);
    if (png_get_bit_depth(job->png, job->info) != 16 || colorType == PNG_COLOR_TYPE_PALETTE) {
        *why = QStringLiteral("the PNG picture has no 16 bits per channel");
        return false;
    }
    // A row of the picture is held beside what the caller keeps.
    if (!ImageLimits::frameAllowed(width, 1) ||
        !imageio_detail::pngCanHold(data, data.size() - job->input.pos, png_get_rowbytes(job->png, job->info), width, height)) {
        *why = QStringLiteral("the file is far too short for %1 x %2 pixels, or they exceed the limit").arg(width).arg(height);
        return false;
    }
    // Four samples a pixel in the machine's order, as RGBA64 holds them: grey made RGB, a
    // transparent colour (tRNS) made alpha, an opaque alpha added where there is none.
    if (png_get_valid(job->png, job->info, PNG_INFO_tRNS))
        png_set_tRNS_to_alpha(job->png);
    if ((colorType & PNG_COLOR_MASK_COLOR) == 0)
        png_set_gray_to_rgb(job->png);
    png_set_add_alpha(job->png, 0xffff, PNG_FILLER_AFTER);
#if Q_BYTE_ORDER == Q_LITTLE_ENDIAN
    png_set_swap(job->png);
#endif
    *passes = png_set_interlace_handling(job->png);
    png_read_update_info(job->png, job->info);
    if (png_get_rowbytes(job->png, job->info) != size_t(width) * 8) {
        *why = QStringLiteral("unexpected PNG row layout");
        return false;
    }
    job->row.resize(size_t(width) * 8);
    return true;
}

}  // namespace

namespace {

// RFC 1951 3.2.5: a match of 258 bytes coded in two bits at best; deflate never packs more than
// 1032 bytes into one.
constexpr uint64_t kDeflateMost = 1032;
// The memory a file's byte may claim: as much as an honest file of one bit a pixel at deflate's
// best (each bit a pixel of four bytes).
constexpr uint64_t kFrameBytesPerFileByte = kDeflateMost * 32;
// A file cut short shows the rows that arrived when they are at least this share of the picture.
constexpr uint64_t kFairShareOfRows = 64;

// The bytes the file's image data (PNG 11.2.4: the IDAT chunks, in order) inflates to, counted
// through a small buffer up to `enough`, as far as the file goes: what a cut file really holds.
uint64_t inflatedImageData(const QByteArray& data, uint64_t enough)
{
    const auto* bytes = reinterpret_cast<const unsigned char*>(data.constData());
    const size_t size = size_t(data.size());
    z_stream z{};
    if (inflateInit(&z) != Z_OK)
        return 0;
    std::vector<unsigned char> out(size_t(64) << 10);
    uint64_t inflated = 0;
    bool started = false, ended = false;
    // PNG 5.3: after the signature, chunks of a length, a type, the data and a CRC.
    for (size_t pos = 8; !ended && inflated < enough && pos <= size && size - pos >= 8;) {
        const uint64_t length = uint64_t(bytes[pos]) << 24 | uint64_t(bytes[pos + 1]) << 16 | uint64_t(bytes[pos + 2]) << 8 | bytes[pos + 3];
        const bool idat = std::memcmp(bytes + pos + 4, "IDAT", 4) == 0;
        if (length > 0x7FFFFFFFu || (started && !idat))
            break;
        const size_t begin = pos + 8;
        const size_t present = size_t(std::min<uint64_t>(length, size - begin));
        if (idat) {
            started = true;
            z.next_in = const_cast<Bytef*>(bytes + begin);
            z.avail_in = uInt(present);
            while (inflated < enough) {
                z.next_out = out.data();
                z.avail_out = uInt(out.size());
                const int result = inflate(&z, Z_NO_FLUSH);
                inflated += out.size() - z.avail_out;
                if (result == Z_STREAM_END || (result != Z_OK && result != Z_BUF_ERROR)) {
                    ended = true;
                    break;
                }
                // Room left in the buffer: the chunk's bytes are all taken in.
                if (z.avail_out != 0)
                    break;
            }
        }
        if (present < length)
            break;
        pos = begin + present + 4;
    }
    inflateEnd(&z);
    return inflated;
}

}  // namespace

namespace imageio_detail {
bool pngCanHold(const QByteArray& data, uint64_t fileBytes, uint64_t rawRowBytes, uint64_t width, uint64_t height)
{
    // Each row has its filter byte beside its samples.
    const uint64_t raw = (rawRowBytes + 1) * height;
    if (fileBytes >= raw / kDeflateMost)
        return true;
    // Too few bytes for the whole picture at deflate's best: a file cut short. Its frame may cost
    // no more than an honest file of its length could, and the rows that arrived, inflated to be
    // sure (at most a thousand times the few bytes), must be a fair share of the picture. A few
    // bytes declaring a huge picture stop here, cheaply; a flat picture cut short shows its rows.
    if (width * height * 4 > kFrameBytesPerFileByte * fileBytes)
        return false;
    const uint64_t wanted = std::max(rawRowBytes + 1, raw / kFairShareOfRows);
    return inflatedImageData(data, wanted) >= wanted;
}

QImage pngSixteenBitPart(const QByteArray& data, const QRect& rect, QString* error)
{
    auto job = std::make_unique<PngJob>();
    const auto fail = [&](const QString& why) {
        if (error)
            *error = why;
        return QImage();
    };
    int passes = 0;
    QString why;
    if (!setUpSixteenBitRows(job.get(), data, &passes, &why))
        return fail(why);
    if (setjmp(png_jmpbuf(job->png)))
        return fail(damage(job.get()));
    const png_uint_32 width = png_get_image_width(job->png, job->info);
    const png_uint_32 height = png_get_image_height(job->png, job->info);
    if (rect.isEmpty() || rect.x() < 0 || rect.y() < 0 || png_uint_32(rect.right()) >= width ||
        png_uint_32(rect.bottom()) >= height)
        return fail(QStringLiteral("the part lies outside the picture"));
    if (!ImageLimits::frameAllowed(uint64_t(rect.width()), uint64_t(rect.height())))
        return fail(QStringLiteral("a part of %1 x %2 pixels exceeds the limit").arg(rect.width()).arg(rect.height()));
    job->image = QImage(rect.size(), QImage::Format_RGBA64);
    if (job->image.isNull())
        return fail(QStringLiteral("out of memory for a part of %1 x %2 pixels").arg(rect.width()).arg(rect.height()));
    const size_t offset = size_t(rect.x()) * 8, bytes = size_t(rect.width()) * 8;
    const png_uint_32 top = png_uint_32(rect.y()), bottom = png_uint_32(rect.bottom());
    if (passes == 1) {
        // The rows above the part are inflated and dropped; those below are never read.
        for (png_uint_32 y = 0; y <= bottom; ++y) {
            readRow(job.get(), job->row.data());
            if (y >= top)
                std::memcpy(job->image.scanLine(int(y - top)), job->row.data() + offset, bytes);
        }
        return std::move(job->image);
    }
    // Each pass of an interlaced file covers the whole picture: the library puts the pixels of a
    // pass into the row it is given and leaves the others, so a row of the part is handed over
    // with what the earlier passes placed in it.
    job->image.fill(0);
    for (int pass = 0; pass < passes; ++pass) {
        for (png_uint_32 y = 0; y < height; ++y) {
            const bool inPart = y >= top && y <= bottom;
            if (inPart)
                std::memcpy(job->row.data() + offset, job->image.constScanLine(int(y - top)), bytes);
            readRow(job.get(), job->row.data());
            if (inPart)
                std::memcpy(job->image.scanLine(int(y - top)), job->row.data() + offset, bytes);
        }
    }
    return std::move(job->image);
}

struct PngSixteenBitRows::State {
    std::unique_ptr<PngJob> job = std::make_unique<PngJob>();
    png_uint_32 width = 0, height = 0, next = 0;
};

PngSixteenBitRows::PngSixteenBitRows() : m_state(std::make_unique<State>()) {}
PngSixteenBitRows::~PngSixteenBitRows() = default;

bool PngSixteenBitRows::open(const QByteArray& data, QString* error)
{
    QString why;
    int passes = 0;
    if (!setUpSixteenBitRows(m_state->job.get(), data, &passes, &why) || passes != 1) {
        m_interlaced = passes > 1;
        if (error)
            *error = m_interlaced ? QStringLiteral("the PNG file is interlaced") : why;
        return false;
    }
    m_state->width = png_get_image_width(m_state->job->png, m_state->job->info);
    m_state->height = png_get_image_height(m_state->job->png, m_state->job->info);
    return true;
}

bool PngSixteenBitRows::read(QImage* band, int left, QString* error)
{
    PngJob* job = m_state->job.get();
    if (!job->png || band->format() != QImage::Format_RGBA64 || left < 0 ||
        quint64(left) + quint64(band->width()) > m_state->width ||
        quint64(m_state->next) + quint64(band->height()) > m_state->height) {
        if (error)
            *error = QStringLiteral("the rows lie outside the picture");
        return false;
    }
    band->detach();
    const size_t offset = size_t(left) * 8, bytes = size_t(band->width()) * 8;
    if (setjmp(png_jmpbuf(job->png))) {
        if (error)
            *error = damage(job);
        return false;
    }
    for (int y = 0; y < band->height(); ++y) {
        readRow(job, job->row.data());
        std::memcpy(band->scanLine(y), job->row.data() + offset, bytes);
        ++m_state->next;
    }
    return true;
}
}  // namespace imageio_detail

namespace {

class PngDecoder final : public FormatDecoder {
public:
    bool open(const QByteArray& data, QString* error) override
    {
        m_data = data;
        auto job = std::make_unique<PngJob>();
        if (!runHeader(job.get(), m_data)) {
            if (error)
                *error = QStringLiteral("not a readable PNG file: %1").arg(job->message);
            return false;
        }
        m_size = job->size;
        m_dpiX = job->dpiX;
        m_dpiY = job->dpiY;
        // IHDR, as stored: what a file written again from these pixels should keep.
        const int colorType = png_get_color_type(job->png, job->info);
        m_grey = (colorType & PNG_COLOR_MASK_COLOR) == 0;
        m_alpha = (colorType & PNG_COLOR_MASK_ALPHA) != 0 || png_get_valid(job->png, job->info, PNG_INFO_tRNS) != 0;
        m_depth = png_get_bit_depth(job->png, job->info);
        m_indexed = colorType == PNG_COLOR_TYPE_PALETTE;
        m_adam7 = png_get_interlace_type(job->png, job->info) == PNG_INTERLACE_ADAM7;
        return true;
    }
    QString type() const override { return ContentTypes::kPng; }
    QSize frameSize(int) const override { return m_size; }
    QImage decode(int, int maxPixelSize, QString* error) override
    {
        bool premultiplied = false;
        QImage image = decodeRows(maxPixelSize, true, true, &premultiplied, error);
        if (!image.isNull() && !premultiplied)
            imageio_detail::premultiplyRgba(image);
        return image;
    }
    QImage decodeStraight(int, QString* error) override
    {
        bool premultiplied = false;
        // Written back to a file, a picture must be whole: a damaged one is refused.
        QImage image = decodeRows(0, false, false, &premultiplied, error);
        if (!image.isNull() && !premultiplied)
            image.reinterpretAsFormat(QImage::Format_RGBA8888);
        return image;
    }
    QImage decodeRegion(int, const QRect& rect, int reduction, QString* error) override
    {
        auto job = std::make_unique<PngJob>();
        if (runRegionDecode(job.get(), m_data, rect, png_uint_32(reduction)))
            return std::move(job->image);
        // Interlaced rows come in passes over the whole picture: every pass is read, and only
        // the pixels that fall in the part are kept, reduced as the part is.
        if (job->interlaced) {
            auto passes = std::make_unique<PngJob>();
            passes->partialOk = true;
            passes->premultiply = true;
            passes->exactFactor = png_uint_32(reduction);
            passes->area = rect;
            bool premultiplied = false;
            if (!runDecode(passes.get(), m_data, 0, &premultiplied)) {
                if (error)
                    *error = QStringLiteral("PNG decoding failed: %1").arg(passes->message);
                return {};
            }
            return std::move(passes->image);
        }
        if (error)
            *error = QStringLiteral("PNG decoding failed: %1").arg(job->message);
        return {};
    }
    QVariantMap formatProperties(int) const override
    {
        QVariantMap map = imageio_detail::densityProperties(m_dpiX, m_dpiY);
        map.insert(kCGImagePropertyColorModel,
                   QString::fromLatin1(m_grey ? kCGImagePropertyColorModelGray : kCGImagePropertyColorModelRGB));
        map.insert(kCGImagePropertyDepth, m_depth);
        map.insert(kCGImagePropertyHasAlpha, m_alpha);
        map.insert(kCGImagePropertyIsIndexed, m_indexed);
        map.insert(kCGImagePropertyPNGDictionary, QVariantMap{{kCGImagePropertyPNGIsInterlaced, m_adam7}});
        return map;
    }

private:
    // The picture's rows as the decoder hands them out; *premultiplied says whether their alpha is.
    // With `partialOk` a damaged file gives the rows before the damage.
    QImage decodeRows(int maxPixelSize, bool partialOk, bool premultiply, bool* premultiplied, QString* error) const
    {
        auto job = std::make_unique<PngJob>();
        job->partialOk = partialOk;
        job->premultiply = premultiply;
        const bool decoded = runDecode(job.get(), m_data, maxPixelSize, premultiplied);
        job->pages.reset();
        if (!decoded) {
            if (error)
                *error = QStringLiteral("PNG decoding failed: %1").arg(job->message);
            return {};
        }
        return std::move(job->image);
    }

    QByteArray m_data;
    QSize m_size;
    double m_dpiX = 0, m_dpiY = 0;
    bool m_grey = false;
    bool m_alpha = false;
    bool m_indexed = false;
    bool m_adam7 = false;
    int m_depth = 8;
};

}  // namespace

std::unique_ptr<FormatDecoder> makePngDecoder() { return std::make_unique<PngDecoder>(); }

}  // namespace kpv

