// PNG through libpng: every colour type and depth comes out as 8-bit RGBA, transparency
// (tRNS) expanded to alpha, interlaced files deinterlaced by the library. A reduced decode of a
// non-interlaced file averages blocks of rows as they arrive, so the full-size picture is never
// held in memory.

#include "FormatDecoder.h"
#include "imageio/ImageLimits.h"
#include "imageio/ContentTypes.h"
#include "imageio/ImageProperties.h"

#include <png.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <vector>
#include <memory>

namespace kpv {
namespace {

constexpr png_alloc_size_t kMaxChunkBytes = png_alloc_size_t(8) << 20;
constexpr png_uint_32 kMaxCachedChunks = 128;

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
        if (png)
            png_destroy_read_struct(&png, info ? &info : nullptr, nullptr);
    }
    png_structp png = nullptr;
    png_infop info = nullptr;
    ReadState input;
    QString message;
    QImage image;
    std::vector<unsigned char> row;  // one decoded row and the column sums of a reduced decode
    std::vector<uint64_t> sums;
    QSize size;
    double dpiX = 0, dpiY = 0;
    // Rows read so far; with `partialOk` a file damaged after some rows gives those rows (the
    // rest stays clear), as a file cut off by a download shows as far as it came.
    png_uint_32 rowsDone = 0;
    bool partialOk = false;
    bool interlaced = false;  // a part was asked of an interlaced file
};

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
    job->image = imageio_detail::allocateFrame(int(outW), int(outH), &job->message);
    if (job->image.isNull())
        return false;
    job->image.fill(0);
    std::vector<unsigned char>& row = job->row;
    std::vector<uint64_t>& sums = job->sums;
    row.resize(size_t(width) * 4);
    sums.resize(size_t(outW) * 4);
    for (png_uint_32 oy = 0; oy < outH; ++oy) {
        std::fill(sums.begin(), sums.end(), uint64_t(0));
        const png_uint_32 rows = std::min(factor, height - oy * factor);
        for (png_uint_32 r = 0; r < rows; ++r) {
            png_read_row(job->png, row.data(), nullptr);
            ++job->rowsDone;
            addPremultiplied(row.data(), width, factor, sums.data());
        }
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

bool runDecode(PngJob* job, const QByteArray& data, int maxPixelSize, bool* premultiplied)
{
    if (!runHeader(job, data))
        return false;
    if (setjmp(png_jmpbuf(job->png)))
        return job->partialOk && job->rowsDone > 0 && !job->image.isNull();
    const png_uint_32 width = png_get_image_width(job->png, job->info);
    const png_uint_32 height = png_get_image_height(job->png, job->info);
    // A reduced decode holds a row of the picture and the reduced frame: the limit applies to
    // those, so that a panorama of more pixels than a frame may have still shows fitted.
    if (!ImageLimits::frameAllowed(width, 1)) {
        job->message = QStringLiteral("PNG image of %1 x %2 pixels exceeds the size limit").arg(width).arg(height);
        return false;
    }
    if (!imageio_detail::pngCanHold(data.size() - job->input.pos, png_get_rowbytes(job->png, job->info), height)) {
        job->message = QStringLiteral("the file is far too short for %1 x %2 pixels").arg(width).arg(height);
        return false;
    }
    const int colorType = png_get_color_type(job->png, job->info);
    png_set_expand(job->png);  // palette and low-depth grey to 8 bits, tRNS to alpha
    png_set_strip_16(job->png);
    if (colorType == PNG_COLOR_TYPE_GRAY || colorType == PNG_COLOR_TYPE_GRAY_ALPHA)
        png_set_gray_to_rgb(job->png);
    png_set_add_alpha(job->png, 0xff, PNG_FILLER_AFTER);  // no effect when alpha is already there
    const int passes = png_set_interlace_handling(job->png);
    png_read_update_info(job->png, job->info);
    if (png_get_rowbytes(job->png, job->info) != size_t(width) * 4) {
        job->message = QStringLiteral("unexpected PNG row layout");
        return false;
    }
    // Interlaced rows arrive in passes over the whole picture: those files are decoded at full size.
    const png_uint_32 factor = passes == 1 ? reductionFor(width, height, maxPixelSize) : 1;
    *premultiplied = factor > 1;
    if (factor > 1)
        return readReduced(job, width, height, factor);
    if (!ImageLimits::frameAllowed(width, height)) {
        job->message = QStringLiteral("PNG image of %1 x %2 pixels exceeds the size limit").arg(width).arg(height);
        return false;
    }
    job->image = imageio_detail::allocateFrame(int(width), int(height), &job->message);
    if (job->image.isNull())
        return false;
    job->image.fill(0);
    for (int pass = 0; pass < passes; ++pass)
        for (png_uint_32 y = 0; y < height; ++y) {
            png_read_row(job->png, job->image.scanLine(int(y)), nullptr);
            ++job->rowsDone;
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
        !imageio_detail::pngCanHold(data.size() - job->input.pos, png_get_rowbytes(job->png, job->info), height)) {
        job->message = QStringLiteral("the file is far too short for %1 x %2 pixels, or they exceed the limit")
                           .arg(width)
                           .arg(height);
        return false;
    }
    const int colorType = png_get_color_type(job->png, job->info);
    png_set_expand(job->png);
    png_set_strip_16(job->png);
    if (colorType == PNG_COLOR_TYPE_GRAY || colorType == PNG_COLOR_TYPE_GRAY_ALPHA)
        png_set_gray_to_rgb(job->png);
    png_set_add_alpha(job->png, 0xff, PNG_FILLER_AFTER);
    if (png_set_interlace_handling(job->png) != 1) {
        job->interlaced = true;
        return false;
    }
    png_read_update_info(job->png, job->info);
    const png_uint_32 outW = (width + reduction - 1) / reduction, outH = (height + reduction - 1) / reduction;
    if (png_get_rowbytes(job->png, job->info) != size_t(width) * 4 || rect.x() < 0 || rect.y() < 0 ||
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
    for (png_uint_32 y = 0; y < png_uint_32(rect.y()) * reduction; ++y)
        png_read_row(job->png, row.data(), nullptr);
    const png_uint_32 firstColumn = png_uint_32(rect.x()) * reduction;
    for (int oy = 0; oy < rect.height(); ++oy) {
        std::fill(sums.begin(), sums.end(), uint64_t(0));
        const png_uint_32 top = (png_uint_32(rect.y()) + png_uint_32(oy)) * reduction;
        const png_uint_32 rows = std::min(reduction, height - top);
        for (png_uint_32 r = 0; r < rows; ++r) {
            png_read_row(job->png, row.data(), nullptr);
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

}  // namespace

namespace imageio_detail {
bool pngCanHold(uint64_t fileBytes, uint64_t rawRowBytes, uint64_t height)
{
    // Deflate never packs more than 1032 bytes into one; each row also has its filter byte.
    return fileBytes >= (rawRowBytes + 1) * height / 1032;
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
        QImage image = decodeRows(maxPixelSize, true, &premultiplied, error);
        // Full-size rows arrive with straight alpha.
        if (!image.isNull() && !premultiplied)
            imageio_detail::premultiplyRgba(image);
        return image;
    }
    QImage decodeStraight(int, QString* error) override
    {
        bool premultiplied = false;
        // Written back to a file, a picture must be whole: a damaged one is refused.
        QImage image = decodeRows(0, false, &premultiplied, error);
        if (!image.isNull() && !premultiplied)
            image.reinterpretAsFormat(QImage::Format_RGBA8888);
        return image;
    }
    QImage decodeRegion(int index, const QRect& rect, int reduction, QString* error) override
    {
        auto job = std::make_unique<PngJob>();
        if (runRegionDecode(job.get(), m_data, rect, png_uint_32(reduction)))
            return std::move(job->image);
        // Interlaced rows come in passes over the whole picture: such a file is decoded whole.
        if (job->interlaced)
            return FormatDecoder::decodeRegion(index, rect, reduction, error);
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
    QImage decodeRows(int maxPixelSize, bool partialOk, bool* premultiplied, QString* error) const
    {
        auto job = std::make_unique<PngJob>();
        job->partialOk = partialOk;
        if (!runDecode(job.get(), m_data, maxPixelSize, premultiplied)) {
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

