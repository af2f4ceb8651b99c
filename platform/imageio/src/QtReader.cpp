// BMP and ICO through Qt's own readers, behind the same size checks as every other format.

#include "FormatDecoder.h"
#include "imageio/ImageLimits.h"
#include "imageio/ContentTypes.h"

#include <QBuffer>
#include <QImageReader>

namespace kpv {
namespace {

class QtFormatDecoder final : public FormatDecoder {
public:
    explicit QtFormatDecoder(bool ico) : m_ico(ico) {}

    bool open(const QByteArray& data, QString* error) override
    {
        m_data = data;
        QBuffer buffer(&m_data);
        buffer.open(QIODevice::ReadOnly);
        QImageReader reader(&buffer, m_ico ? "ico" : "bmp");
        if (!reader.canRead()) {
            if (error)
                *error = QStringLiteral("not a readable %1 file").arg(m_ico ? "ICO" : "BMP");
            return false;
        }
        if (m_ico) {
            // An icon file holds the same picture at several sizes: show the largest.
            const int count = reader.imageCount();
            qint64 best = -1;
            for (int i = 0; i < count && reader.jumpToImage(i); ++i) {
                const QSize size = reader.size();
                const qint64 area = size.isValid() ? qint64(size.width()) * size.height() : -1;
                if (area > best) {
                    best = area;
                    m_index = i;
                    m_size = size;
                }
            }
            return true;
        }
        m_size = reader.size();
        if (!m_size.isValid() && error)
            *error = QStringLiteral("the BMP header gives no usable size");
        return m_size.isValid();
    }
    QString type() const override { return m_ico ? ContentTypes::kIco : ContentTypes::kBmp; }
    QVariantMap formatProperties(int) const override
    {
        // BMP info header: pixels per metre at offsets 38 and 42 of the file.
        if (m_ico || m_data.size() < 46)
            return {};
        const auto le32 = [this](int at) {
            const auto* p = reinterpret_cast<const uchar*>(m_data.constData()) + at;
            return qint32(quint32(p[0]) | quint32(p[1]) << 8 | quint32(p[2]) << 16 | quint32(p[3]) << 24);
        };
        const qint32 headerSize = le32(14), x = le32(38), y = le32(42);
        if (headerSize < 40)
            return {};
        return imageio_detail::densityProperties(x * 0.0254, y * 0.0254);
    }
    QSize frameSize(int) const override { return m_size; }
    QImage decode(int, int, QString* error) override
    {
        if (m_size.isValid() && !ImageLimits::frameAllowed(uint64_t(m_size.width()), uint64_t(m_size.height()))) {
            if (error)
                *error = QStringLiteral("image of %1 x %2 pixels exceeds the size limit")
                             .arg(m_size.width())
                             .arg(m_size.height());
            return {};
        }
        QBuffer buffer(&m_data);
        buffer.open(QIODevice::ReadOnly);
        QImageReader reader(&buffer, m_ico ? "ico" : "bmp");
        reader.setAllocationLimit(int((ImageLimits::kMaxPixelsPerFrame * 4) >> 20));
        if (m_ico && m_index > 0)
            reader.jumpToImage(m_index);
        QImage image = reader.read();
        if (image.isNull()) {
            if (error) {
                // The toolkit's readers often fail without a reason; a refusal always says why.
                const QString why = reader.errorString();
                *error = QStringLiteral("decoding failed: %1")
                             .arg(why.isEmpty() || why == QLatin1String("Unknown error")
                                      ? QStringLiteral("the image data is damaged or cut short")
                                      : why);
            }
            return {};
        }
        if (!m_size.isValid())
            m_size = image.size();
        return image.convertToFormat(QImage::Format_RGBA8888_Premultiplied);
    }

private:
    bool m_ico;
    int m_index = 0;  // the icon image shown: the largest
    QByteArray m_data;
    QSize m_size;
};

}  // namespace

std::unique_ptr<FormatDecoder> makeBmpIcoDecoder(bool ico) { return std::make_unique<QtFormatDecoder>(ico); }

}  // namespace kpv
