// Camera raw files answer the preview their camera embedded (nearly always a full-size JPEG),
// found through LibRaw without developing the sensor data.

#include "FormatDecoder.h"
#include "imageio/ImageLimits.h"
#include "imageio/ContentTypes.h"

#include <libraw/libraw.h>

#include <memory>

namespace kpv {
namespace {

class RawDecoder final : public FormatDecoder {
public:
    // Only the preview's bytes are taken out of the file here; they are decoded when asked, at
    // the size asked, and charged to the decode budget as every decode is.
    bool open(const QByteArray& data, QString* error) override
    {
        m_data = data;
        QString why;
        if (!extract(&why)) {
            if (error)
                *error = QStringLiteral("camera raw file without a usable preview: %1").arg(why);
            return false;
        }
        return true;
    }
    QString type() const override { return ContentTypes::kCameraRaw; }
    QSize frameSize(int) const override { return m_jpeg ? m_jpeg->frameSize(0) : m_bitmapSize; }
    QImage decode(int, int maxPixelSize, QString* error) override
    {
        if (m_jpeg)
            return m_jpeg->decode(0, maxPixelSize, error);
        // An uncompressed preview: 8-bit RGB rows.
        QImage image = imageio_detail::allocateFrame(m_bitmapSize.width(), m_bitmapSize.height(), error);
        for (int y = 0; !image.isNull() && y < m_bitmapSize.height(); ++y) {
            const auto* src = reinterpret_cast<const uchar*>(m_bitmap.constData()) + size_t(y) * size_t(m_bitmapSize.width()) * 3;
            uchar* dst = image.scanLine(y);
            for (int x = 0; x < m_bitmapSize.width(); ++x) {
                dst[4 * x] = src[3 * x];
                dst[4 * x + 1] = src[3 * x + 1];
                dst[4 * x + 2] = src[3 * x + 2];
                dst[4 * x + 3] = 255;
            }
        }
        return image;
    }
    QImage decodeRegion(int index, const QRect& rect, int reduction, QString* error) override
    {
        return m_jpeg ? m_jpeg->decodeRegion(0, rect, reduction, error) : FormatDecoder::decodeRegion(index, rect, reduction, error);
    }

private:
    bool extract(QString* error)
    {
        auto raw = std::make_unique<LibRaw>(LIBRAW_OPIONS_NO_DATAERR_CALLBACK);
        if (raw->open_buffer(const_cast<char*>(m_data.constData()), size_t(m_data.size())) != LIBRAW_SUCCESS ||
            raw->unpack_thumb() != LIBRAW_SUCCESS) {
            *error = QStringLiteral("no embedded preview");
            return false;
        }
        int err = 0;
        libraw_processed_image_t* thumb = raw->dcraw_make_mem_thumb(&err);
        if (!thumb) {
            *error = QStringLiteral("embedded preview unreadable");
            return false;
        }
        bool ok = false;
        if (thumb->type == LIBRAW_IMAGE_JPEG) {
            m_jpeg = makeJpegDecoder();
            ok = m_jpeg->open(QByteArray(reinterpret_cast<const char*>(thumb->data), qsizetype(thumb->data_size)), error);
            if (!ok)
                m_jpeg.reset();
        } else if (thumb->type == LIBRAW_IMAGE_BITMAP && thumb->colors == 3 && thumb->bits == 8 &&
                   ImageLimits::frameAllowed(thumb->width, thumb->height) &&
                   uint64_t(thumb->width) * thumb->height * 3 <= thumb->data_size) {
            m_bitmapSize = QSize(thumb->width, thumb->height);
            m_bitmap = QByteArray(reinterpret_cast<const char*>(thumb->data), qsizetype(thumb->width) * thumb->height * 3);
            ok = true;
        } else {
            *error = QStringLiteral("embedded preview of an unsupported kind");
        }
        LibRaw::dcraw_clear_mem(thumb);
        return ok;
    }

    QByteArray m_data;
    std::unique_ptr<FormatDecoder> m_jpeg;  // a JPEG preview, read when asked
    QByteArray m_bitmap;                    // else its RGB rows
    QSize m_bitmapSize;
};

}  // namespace

std::unique_ptr<FormatDecoder> makeRawDecoder() { return std::make_unique<RawDecoder>(); }

}  // namespace kpv
