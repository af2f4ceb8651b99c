// WebP through libwebp. An animated file answers its first frame.

#include "FormatDecoder.h"
#include "imageio/DecodeBudget.h"
#include "imageio/ImageLimits.h"
#include "imageio/ContentTypes.h"

#include <webp/decode.h>
#include <webp/demux.h>

#include <algorithm>
#include <cstring>

namespace kpv {
namespace {

// Decodes into `image` (RGBA, not premultiplied) with `config`'s options. A file cut short (a
// download that stopped, a copy that did not finish) keeps the rows that arrived, as the other
// formats do: the rows below them are left transparent. A file of which no row decodes fails.
// The bytes are handed to the library a slice at a time (its decode of the bytes so far goes on
// where it stopped, and the pixels come out the same as from one call), so that a cancelled load
// stops between two slices: then it fails, *cancelled set, and no row is kept.
bool decodeAsFarAsItGoes(const uint8_t* data, size_t size, WebPDecoderConfig* config, QImage& image, bool* cancelled)
{
    // About a thirty-second of the file a slice, never less than this: a few milliseconds of
    // decoding.
    constexpr size_t kMinSliceBytes = size_t(64) << 10;
    *cancelled = false;
    config->output.colorspace = MODE_RGBA;
    config->output.is_external_memory = 1;
    config->output.u.RGBA.rgba = image.bits();
    config->output.u.RGBA.stride = int(image.bytesPerLine());
    config->output.u.RGBA.size = size_t(image.sizeInBytes());
    uint8_t* const rgba = image.bits();
    const size_t stride = size_t(image.bytesPerLine());
    const int height = image.height();
    WebPIDecoder* decoder = WebPIDecode(nullptr, 0, config);
    if (!decoder)
        return false;
    const size_t slice = std::max(size / 32, kMinSliceBytes);
    VP8StatusCode status = VP8_STATUS_SUSPENDED;
    for (size_t given = std::min(slice, size);; given = std::min(given + slice, size)) {
        status = WebPIUpdate(decoder, data, given);
        if (status != VP8_STATUS_SUSPENDED || given == size)
            break;
        if (imageio_detail::decodeCancelled(nullptr)) {
            *cancelled = true;
            break;
        }
    }
    int rows = 0;
    if (status == VP8_STATUS_OK)
        rows = height;
    else if (status == VP8_STATUS_SUSPENDED && !*cancelled && !WebPIDecGetRGB(decoder, &rows, nullptr, nullptr, nullptr))
        rows = 0;
    WebPIDelete(decoder);
    WebPFreeDecBuffer(&config->output);
    rows = std::clamp(rows, 0, height);
    if (rows == 0)
        return false;
    std::fill(rgba + size_t(rows) * stride, rgba + size_t(height) * stride, uint8_t(0));
    return true;
}

class WebpDecoder final : public FormatDecoder {
public:
    bool open(const QByteArray& data, QString* error) override
    {
        m_data = data;
        WebPBitstreamFeatures features;
        if (WebPGetFeatures(bytes(), size_t(m_data.size()), &features) != VP8_STATUS_OK) {
            if (error)
                *error = QStringLiteral("not a readable WebP file");
            return false;
        }
        m_size = QSize(features.width, features.height);
        m_animated = features.has_animation;
        // A lossy frame spends more than a bit on every 16 x 16 block, so it holds at most about
        // 2,000 pixels a byte; a lossless one can say more with less, but nothing real comes near
        // 32,768 pixels a byte. Checked before any pixel is allocated.
        const uint64_t perByte = features.format == 1 && !m_animated ? 4096 : 32768;
        if (uint64_t(features.width) * uint64_t(features.height) > uint64_t(m_data.size()) * perByte) {
            if (error)
                *error = QStringLiteral("the WebP file is far too short for %1 x %2 pixels")
                             .arg(features.width)
                             .arg(features.height);
            return false;
        }
        return true;
    }
    QString type() const override { return ContentTypes::kWebp; }
    QSize frameSize(int) const override { return m_size; }
    QImage decode(int index, int maxPixelSize, QString* error) override
    {
        // A still picture asked for smaller is scaled by the library as it decodes: the frame
        // costs its scaled size, so a picture larger than the decode budget shows fitted.
        if (!m_animated && maxPixelSize > 0 && std::max(m_size.width(), m_size.height()) > maxPixelSize) {
            const QSize scaled = m_size.scaled(maxPixelSize, maxPixelSize, Qt::KeepAspectRatio).expandedTo(QSize(1, 1));
            return decodeStill(QRect(QPoint(0, 0), m_size), scaled, error);
        }
        (void)index;
        QImage image = decodeStored(error);
        if (!image.isNull())
            imageio_detail::premultiplyRgba(image);
        return image;
    }
    // A still picture's part is cropped (and reduced) by the library as it decodes.
    QImage decodeRegion(int index, const QRect& rect, int reduction, QString* error) override
    {
        if (m_animated)
            return FormatDecoder::decodeRegion(index, rect, reduction, error);
        const QRect source = QRect(rect.x() * reduction, rect.y() * reduction, rect.width() * reduction,
                                   rect.height() * reduction)
                                 .intersected(QRect(QPoint(0, 0), m_size));
        return decodeStill(source, rect.size(), error);
    }
    QImage decodeStraight(int, QString* error) override
    {
        QImage image = decodeStored(error);
        image.reinterpretAsFormat(QImage::Format_RGBA8888);
        return image;
    }

private:
    // The part `crop` of a still picture brought to `out`, premultiplied. A lossy picture decodes
    // a few rows at a time; a lossless one holds its whole picture inside the library meanwhile,
    // which is charged too.
    QImage decodeStill(const QRect& crop, const QSize& out, QString* error) const
    {
        if (crop.isEmpty() || out.isEmpty()) {
            if (error)
                *error = QStringLiteral("the part lies outside the picture");
            return {};
        }
        // The library's picture is charged; a small frame beside a picture of the largest size
        // may go over the budget (as a decode's next buffer does), a full-size one may not.
        if (!chargeLosslessPicture(bytes(), size_t(m_data.size()), 0, error))
            return {};
        WebPDecoderConfig config;
        if (!WebPInitDecoderConfig(&config)) {
            if (error)
                *error = QStringLiteral("WebP decoder unavailable");
            return {};
        }
        QImage image = imageio_detail::allocateFrame(out.width(), out.height(), error);
        if (image.isNull())
            return {};
        if (crop != QRect(QPoint(0, 0), m_size)) {
            config.options.use_cropping = 1;
            config.options.crop_left = crop.x();
            config.options.crop_top = crop.y();
            config.options.crop_width = crop.width();
            config.options.crop_height = crop.height();
        }
        if (out != crop.size()) {
            config.options.use_scaling = 1;
            config.options.scaled_width = out.width();
            config.options.scaled_height = out.height();
        }
        bool cancelled = false;
        const bool decoded = decodeAsFarAsItGoes(bytes(), size_t(m_data.size()), &config, image, &cancelled);
        WebPFreeDecBuffer(&config.output);
        if (!decoded) {
            if (error)
                *error = cancelled ? DecodeBudget::cancelledError() : QStringLiteral("WebP decoding failed");
            return {};
        }
        imageio_detail::premultiplyRgba(image);
        return image;
    }

    // A lossless picture is held whole inside the library while it decodes: its bytes are
    // charged to the decode budget, and refused when with a frame of `frameBytes` they would
    // take more than all decodes may use (a full-size picture then shows fitted or in parts,
    // never held twice over the budget). True for a lossy picture, which decodes a few rows at
    // a time.
    static bool chargeLosslessPicture(const uint8_t* payload, size_t size, uint64_t frameBytes, QString* error)
    {
        WebPBitstreamFeatures features;
        if (WebPGetFeatures(payload, size, &features) != VP8_STATUS_OK || features.format != 2)
            return true;
        const uint64_t held = uint64_t(features.width) * uint64_t(features.height) * 4;
        return DecodeBudget::shared().fits(held + frameBytes, error) && imageio_detail::reserveDecodeBytes(held, error);
    }

    // The first frame as the file stores it: alpha not premultiplied.
    QImage decodeStored(QString* error) const
    {
        const uint8_t* payload = bytes();
        size_t payloadSize = size_t(m_data.size());
        WebPDemuxer* demux = nullptr;
        WebPIterator iter;
        if (m_animated) {
            WebPData whole = {payload, payloadSize};
            demux = WebPDemux(&whole);
            if (!demux || !WebPDemuxGetFrame(demux, 1, &iter)) {
                if (demux)
                    WebPDemuxDelete(demux);
                if (error)
                    *error = QStringLiteral("WebP animation has no readable frame");
                return {};
            }
            payload = iter.fragment.bytes;
            payloadSize = iter.fragment.size;
        }
        QImage image;
        int w = 0, h = 0;
        if (WebPGetInfo(payload, payloadSize, &w, &h) && ImageLimits::frameAllowed(uint64_t(w), uint64_t(h))) {
            if (chargeLosslessPicture(payload, payloadSize, uint64_t(w) * uint64_t(h) * 4, error))
                image = imageio_detail::allocateFrame(w, h, error);
            WebPDecoderConfig config;
            if (!image.isNull() && !WebPInitDecoderConfig(&config))
                image = QImage();
            bool cancelled = false;
            if (!image.isNull() && !decodeAsFarAsItGoes(payload, payloadSize, &config, image, &cancelled)) {
                image = QImage();
                if (error)
                    *error = cancelled ? DecodeBudget::cancelledError() : QStringLiteral("WebP decoding failed");
            }
        } else if (error) {
            *error = QStringLiteral("WebP frame is unreadable or exceeds the size limit");
        }
        if (demux) {
            // The first frame may cover only part of the canvas: it is placed at its offset on a
            // transparent canvas of the animation's size, the size the file's properties give.
            if (!image.isNull() && (image.size() != m_size || iter.x_offset != 0 || iter.y_offset != 0))
                image = placedOnCanvas(image, QPoint(iter.x_offset, iter.y_offset), error);
            WebPDemuxReleaseIterator(&iter);
            WebPDemuxDelete(demux);
        }
        return image;
    }

    // `frame` drawn at `offset` on a transparent picture of the canvas size, clipped to it.
    QImage placedOnCanvas(const QImage& frame, QPoint offset, QString* error) const
    {
        QImage canvas = imageio_detail::allocateFrame(m_size.width(), m_size.height(), error);
        if (canvas.isNull())
            return {};
        canvas.fill(0);
        const QRect area = QRect(offset, frame.size()) & canvas.rect();
        for (int y = area.top(); y <= area.bottom(); ++y)
            std::memcpy(canvas.scanLine(y) + size_t(area.left()) * 4,
                        frame.constScanLine(y - offset.y()) + size_t(area.left() - offset.x()) * 4,
                        size_t(area.width()) * 4);
        return canvas;
    }

    const uint8_t* bytes() const { return reinterpret_cast<const uint8_t*>(m_data.constData()); }
    QByteArray m_data;
    QSize m_size;
    bool m_animated = false;
};

}  // namespace

std::unique_ptr<FormatDecoder> makeWebpDecoder() { return std::make_unique<WebpDecoder>(); }

}  // namespace kpv
