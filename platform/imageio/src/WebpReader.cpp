// WebP through libwebp. An animated file answers its first frame.

#include "FormatDecoder.h"
#include "imageio/ImageLimits.h"
#include "imageio/ContentTypes.h"

#include <webp/decode.h>
#include <webp/demux.h>

namespace kpv {
namespace {

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
    QImage decode(int, int, QString* error) override
    {
        QImage image = decodeStored(error);
        if (!image.isNull())
            imageio_detail::premultiplyRgba(image);
        return image;
    }
    QImage decodeStraight(int, QString* error) override
    {
        QImage image = decodeStored(error);
        image.reinterpretAsFormat(QImage::Format_RGBA8888);
        return image;
    }

private:
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
            image = imageio_detail::allocateFrame(w, h, error);
            if (!image.isNull() &&
                !WebPDecodeRGBAInto(payload, payloadSize, image.bits(), size_t(image.sizeInBytes()),
                                    int(image.bytesPerLine()))) {
                image = QImage();
                if (error)
                    *error = QStringLiteral("WebP decoding failed");
            }
        } else if (error) {
            *error = QStringLiteral("WebP frame is unreadable or exceeds the size limit");
        }
        if (demux) {
            WebPDemuxReleaseIterator(&iter);
            WebPDemuxDelete(demux);
        }
        return image;
    }

    const uint8_t* bytes() const { return reinterpret_cast<const uint8_t*>(m_data.constData()); }
    QByteArray m_data;
    QSize m_size;
    bool m_animated = false;
};

}  // namespace

std::unique_ptr<FormatDecoder> makeWebpDecoder() { return std::make_unique<WebpDecoder>(); }

}  // namespace kpv
