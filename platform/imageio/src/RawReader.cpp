// Camera raw files answer the preview their camera embedded (nearly always a full-size JPEG),
// read through LibRaw without developing the sensor data.

#include "FormatDecoder.h"
#include "imageio/ImageLimits.h"
#include "imageio/ContentTypes.h"

#include <libraw/libraw.h>

#include <memory>

namespace kpv {
namespace {

class RawDecoder final : public FormatDecoder {
public:
    bool open(const QByteArray& data, QString* error) override
    {
        m_data = data;
        QString why;
        m_preview = extract(&why);
        if (m_preview.isNull()) {
            if (error)
                *error = QStringLiteral("camera raw file without a usable preview: %1").arg(why);
            return false;
        }
        return true;
    }
    QString type() const override { return ContentTypes::kCameraRaw; }
    QSize frameSize(int) const override { return m_preview.size(); }
    QImage decode(int, int, QString*) override { return m_preview; }

private:
    QImage extract(QString* error)
    {
        auto raw = std::make_unique<LibRaw>(LIBRAW_OPIONS_NO_DATAERR_CALLBACK);
        if (raw->open_buffer(const_cast<char*>(m_data.constData()), size_t(m_data.size())) != LIBRAW_SUCCESS ||
            raw->unpack_thumb() != LIBRAW_SUCCESS) {
            *error = QStringLiteral("no embedded preview");
            return {};
        }
        int err = 0;
        libraw_processed_image_t* thumb = raw->dcraw_make_mem_thumb(&err);
        if (!thumb) {
            *error = QStringLiteral("embedded preview unreadable");
            return {};
        }
        QImage image;
        if (thumb->type == LIBRAW_IMAGE_JPEG) {
            image = imageio_detail::decodeJpegBytes(thumb->data, thumb->data_size, 0, error);
        } else if (thumb->type == LIBRAW_IMAGE_BITMAP && thumb->colors == 3 && thumb->bits == 8 &&
                   uint64_t(thumb->width) * thumb->height * 3 <= thumb->data_size) {
            image = imageio_detail::allocateFrame(thumb->width, thumb->height, error);
            for (int y = 0; !image.isNull() && y < thumb->height; ++y) {
                const unsigned char* src = thumb->data + size_t(y) * thumb->width * 3;
                uchar* dst = image.scanLine(y);
                for (int x = 0; x < thumb->width; ++x) {
                    dst[4 * x] = src[3 * x];
                    dst[4 * x + 1] = src[3 * x + 1];
                    dst[4 * x + 2] = src[3 * x + 2];
                    dst[4 * x + 3] = 255;
                }
            }
        } else {
            *error = QStringLiteral("embedded preview of an unsupported kind");
        }
        LibRaw::dcraw_clear_mem(thumb);
        return image;
    }

    QByteArray m_data;
    QImage m_preview;
};

}  // namespace

std::unique_ptr<FormatDecoder> makeRawDecoder() { return std::make_unique<RawDecoder>(); }

}  // namespace kpv
