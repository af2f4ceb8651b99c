// BMP and ICO through Qt's own readers, behind the same size checks as every other format; 32-bit
// BMPs with colour masks are read here.

#include "FormatDecoder.h"
#include "imageio/ImageLimits.h"
#include "imageio/ContentTypes.h"

#include <QBuffer>
#include <QImageReader>

namespace kpv {
namespace {

quint32 le32At(const QByteArray& d, qint64 at)
{
    const auto* p = reinterpret_cast<const uchar*>(d.constData()) + at;
    return quint32(p[0]) | quint32(p[1]) << 8 | quint32(p[2]) << 16 | quint32(p[3]) << 24;
}

// One colour channel of a bit-field pixel as 8 bits: a narrow field repeats its bits so that its
// largest value becomes 255, a wide one keeps its top 8 bits. Any mask is taken, an empty one too.
class BitField {
public:
    explicit BitField(quint32 mask)
    {
        if (!mask)
            return;
        while (!((mask >> m_shift) & 1))
            ++m_shift;
        while (m_shift + m_bits < 32 && ((mask >> (m_shift + m_bits)) & 1))
            ++m_bits;
    }
    int operator()(quint32 word) const
    {
        if (!m_bits)
            return 0;
        const quint32 v = (word >> m_shift) & quint32((quint64(1) << m_bits) - 1);
        if (m_bits >= 8)
            return int(v >> (m_bits - 8));
        quint32 out = v;
        int have = m_bits;
        for (; have < 8; have += m_bits)
            out = out << m_bits | v;
        return int(out >> (have - 8));
    }

private:
    int m_shift = 0, m_bits = 0;
};

// A 32-bit BMP whose channels are placed by masks. The toolkit's reader refuses some of these
// headers and misreads fields wider than 8 bits, so they are read here.
struct BitFieldBmp {
    qint64 pixels = 0;  // file offset of the first stored row
    int width = 0, height = 0;
    bool topDown = false;
    quint32 masks[3] = {};
};

// False when the file is not such a BMP; true with an error text when it is one but is damaged.
bool readBitFieldHeader(const QByteArray& d, BitFieldBmp* out, QString* error)
{
    if (d.size() < 54 || !d.startsWith("BM"))
        return false;
    const quint32 headerSize = le32At(d, 14);
    const quint16 bits = quint16(d[28] & 0xFF) | quint16((d[29] & 0xFF) << 8);
    if (headerSize < 40 || headerSize > 1024 || bits != 32 || le32At(d, 30) != 3)
        return false;
    const qint64 maskAt = headerSize >= 52 ? 14 + 40 : 14 + qint64(headerSize);
    const qint32 width = qint32(le32At(d, 18)), height = qint32(le32At(d, 22));
    if (maskAt + 12 > d.size()) {
        *error = QStringLiteral("the BMP colour masks are cut short");
        return true;
    }
    if (width < 1 || height == 0 || height == INT32_MIN) {
        *error = QStringLiteral("the BMP header gives no usable size");
        return true;
    }
    for (int c = 0; c < 3; ++c)
        out->masks[c] = le32At(d, maskAt + 4 * c);
    out->width = width;
    out->height = height < 0 ? -height : height;
    out->topDown = height < 0;
    out->pixels = le32At(d, 10);
    return true;
}

QImage decodeBitFieldBmp(const QByteArray& d, const BitFieldBmp& f, QString* error)
{
    const qint64 rowBytes = qint64(f.width) * 4;
    if (f.pixels < 14 || f.pixels > d.size() || (d.size() - f.pixels) / rowBytes < f.height) {
        *error = QStringLiteral("the BMP pixel data is cut short");
        return {};
    }
    QImage image(f.width, f.height, QImage::Format_RGBA8888_Premultiplied);
    if (image.isNull()) {
        *error = QStringLiteral("not enough memory for the image");
        return {};
    }
    const BitField red(f.masks[0]), green(f.masks[1]), blue(f.masks[2]);
    for (int y = 0; y < f.height; ++y) {
        const qint64 stored = f.topDown ? y : f.height - 1 - y;
        const qint64 at = f.pixels + stored * rowBytes;
        uchar* out = image.scanLine(y);
        for (int x = 0; x < f.width; ++x, out += 4) {
            const quint32 w = le32At(d, at + 4 * qint64(x));
            out[0] = uchar(red(w));
            out[1] = uchar(green(w));
            out[2] = uchar(blue(w));
            out[3] = 255;  // the masks name no alpha
        }
    }
    return image;
}

class QtFormatDecoder final : public FormatDecoder {
public:
    explicit QtFormatDecoder(bool ico) : m_ico(ico) {}

    bool open(const QByteArray& data, QString* error) override
    {
        m_data = data;
        if (!m_ico) {
            QString why;
            m_fields = readBitFieldHeader(m_data, &m_fieldBmp, &why);
            if (m_fields) {
                if (!why.isEmpty()) {
                    if (error)
                        *error = why;
                    return false;
                }
                m_size = QSize(m_fieldBmp.width, m_fieldBmp.height);
                return true;
            }
        }
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
        const qint32 headerSize = qint32(le32At(m_data, 14)), x = qint32(le32At(m_data, 38)),
                     y = qint32(le32At(m_data, 42));
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
        if (m_fields) {
            QString why;
            QImage image = decodeBitFieldBmp(m_data, m_fieldBmp, &why);
            if (image.isNull() && error)
                *error = QStringLiteral("decoding failed: %1").arg(why);
            return image;
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
    bool m_fields = false;  // a 32-bit bit-field BMP, read by decodeBitFieldBmp
    BitFieldBmp m_fieldBmp;
    int m_index = 0;  // the icon image shown: the largest
    QByteArray m_data;
    QSize m_size;
};

}  // namespace

std::unique_ptr<FormatDecoder> makeBmpIcoDecoder(bool ico) { return std::make_unique<QtFormatDecoder>(ico); }

}  // namespace kpv
