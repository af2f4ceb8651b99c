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
        m_size = reader.size();
        return m_size.isValid() || m_ico;
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
        QImage image = reader.read();
        if (image.isNull()) {
            if (error)
                *error = QStringLiteral("decoding failed: %1").arg(reader.errorString());
            return {};
        }
        if (!m_size.isValid())
            m_size = image.size();
        return image.convertToFormat(QImage::Format_RGBA8888_Premultiplied);
    }

private:
    bool m_ico;
    QByteArray m_data;
    QSize m_size;
};

}  // namespace

std::unique_ptr<FormatDecoder> makeBmpIcoDecoder(bool ico) { return std::make_unique<QtFormatDecoder>(ico); }

}  // namespace kpv
