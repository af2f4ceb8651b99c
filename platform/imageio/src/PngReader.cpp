// PNG through libpng: every colour type and depth comes out as 8-bit RGBA, transparency
// (tRNS) expanded to alpha, interlaced files deinterlaced by the library.

#include "FormatDecoder.h"
#include "imageio/ImageLimits.h"
#include "imageio/ContentTypes.h"

#include <png.h>

#include <cstring>
#include <memory>

namespace kpv {
namespace {

struct ReadState {
    const unsigned char* data = nullptr;
    size_t size = 0;
    size_t pos = 0;
};

extern "C" void readFromMemory(png_structp png, png_bytep out, png_size_t length)
{
    auto* state = static_cast<ReadState*>(png_get_io_ptr(png));
    if (length > state->size - state->pos)
        png_error(png, "unexpected end of file");
    std::memcpy(out, state->data + state->pos, length);
    state->pos += length;
}

extern "C" void onPngError(png_structp png, png_const_charp message)
{
    auto* text = static_cast<QString*>(png_get_error_ptr(png));
    if (text)
        *text = QString::fromLatin1(message);
    png_longjmp(png, 1);
}

extern "C" void onPngWarning(png_structp, png_const_charp) {}

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
    QSize size;
    double dpiX = 0, dpiY = 0;
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
    png_set_user_limits(job->png, 0x7fffffff, 0x7fffffff);
    png_set_chunk_malloc_max(job->png, 64u << 20);
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

bool runDecode(PngJob* job, const QByteArray& data)
{
    if (!runHeader(job, data))
        return false;
    if (setjmp(png_jmpbuf(job->png)))
        return false;
    const png_uint_32 width = png_get_image_width(job->png, job->info);
    const png_uint_32 height = png_get_image_height(job->png, job->info);
    if (!ImageLimits::frameAllowed(width, height)) {
        job->message = QStringLiteral("PNG image of %1 x %2 pixels exceeds the size limit").arg(width).arg(height);
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
    job->image = imageio_detail::allocateFrame(int(width), int(height), &job->message);
    if (job->image.isNull())
        return false;
    job->image.fill(0);
    for (int pass = 0; pass < passes; ++pass)
        for (png_uint_32 y = 0; y < height; ++y)
            png_read_row(job->png, job->image.scanLine(int(y)), nullptr);
    png_read_end(job->png, nullptr);
    return true;
}

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
        return true;
    }
    QString type() const override { return ContentTypes::kPng; }
    QSize frameSize(int) const override { return m_size; }
    QImage decode(int, int, QString* error) override
    {
        auto job = std::make_unique<PngJob>();
        if (!runDecode(job.get(), m_data)) {
            if (error)
                *error = QStringLiteral("PNG decoding failed: %1").arg(job->message);
            return {};
        }
        // Rows arrive with straight alpha.
        QImage image = std::move(job->image);
        imageio_detail::premultiplyRgba(image);
        return image;
    }
    QVariantMap formatProperties(int) const override { return imageio_detail::densityProperties(m_dpiX, m_dpiY); }

private:
    QByteArray m_data;
    QSize m_size;
    double m_dpiX = 0, m_dpiY = 0;
};

}  // namespace

std::unique_ptr<FormatDecoder> makePngDecoder() { return std::make_unique<PngDecoder>(); }

}  // namespace kpv

