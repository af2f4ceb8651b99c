// BMP and ICO through Qt's own readers, behind the same size checks as every other format; 16- and
// 32-bit BMPs with colour masks, and 16-bit ones without (5 bits a channel), are read here.

#include "FormatDecoder.h"
#include "imageio/DecodeBudget.h"
#include "imageio/ImageLimits.h"
#include "imageio/ToolkitReadLimit.h"
#include "imageio/ContentTypes.h"

#include <QBuffer>
#include <QImageReader>

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <climits>
#include <cstring>
#include <optional>
#include <utility>

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

quint16 le16At(const QByteArray& d, qint64 at)
{
    const auto* p = reinterpret_cast<const uchar*>(d.constData()) + at;
    return quint16(p[0] | p[1] << 8);
}

// The size a picture of an icon file stored as a PNG states in its own header, which is what the
// toolkit allocates for it; nothing for a picture stored otherwise. The icon's directory says no
// more than 256 pixels a side, whatever the PNG inside holds.
std::optional<QSize> icoPngSize(const QByteArray& d, int index)
{
    const qint64 entry = 6 + 16 * qint64(index);
    if (index < 0 || entry + 16 > d.size())
        return std::nullopt;
    const qint64 at = le32At(d, entry + 12);
    if (at < 0 || at + 24 > d.size() || !d.mid(at, 8).startsWith("\x89PNG\r\n\x1a\n"))
        return std::nullopt;
    const auto* p = reinterpret_cast<const uchar*>(d.constData()) + at + 16;
    const quint32 width = quint32(p[0]) << 24 | quint32(p[1]) << 16 | quint32(p[2]) << 8 | p[3];
    const quint32 height = quint32(p[4]) << 24 | quint32(p[5]) << 16 | quint32(p[6]) << 8 | p[7];
    return QSize(int(std::min<quint32>(width, INT_MAX)), int(std::min<quint32>(height, INT_MAX)));
}

// What a BMP's headers declare, read before any pixel is allocated.
struct BmpHeader {
    qint64 pixels = 0;  // file offset of the first stored row
    int width = 0, height = 0;
    bool topDown = false;  // a negative height in the header: rows stored from the top
    int bits = 0;
    quint32 compression = 0;
    quint32 masks[4] = {};  // red, green, blue, alpha of a bit-field file
};

enum BmpCompression : quint32 { kBiRgb = 0, kBiRle8 = 1, kBiRle4 = 2, kBiBitFields = 3, kBiJpeg = 4, kBiPng = 5, kBiAlphaBitFields = 6 };

// Reads the file and info headers. False with *error when they are damaged, give no usable size,
// or declare more pixels than the bytes of the file could ever hold: the check comes before
// anything is allocated, so a few hostile bytes never cost a gigabyte.
bool readBmpHeader(const QByteArray& d, BmpHeader* out, QString* error)
{
    if (d.size() < 26 || !d.startsWith("BM")) {
        *error = QStringLiteral("the BMP header is cut short");
        return false;
    }
    const quint32 headerSize = le32At(d, 14);
    qint64 width = 0, height = 0;
    if (headerSize == 12) {
        width = le16At(d, 18);
        height = le16At(d, 20);
        out->bits = le16At(d, 24);
    } else if (headerSize >= 16 && headerSize <= 1024 && d.size() >= 30) {
        width = qint32(le32At(d, 18));
        height = qint32(le32At(d, 22));
        out->bits = le16At(d, 28);
        out->compression = headerSize >= 20 && d.size() >= 34 ? le32At(d, 30) : 0;
    } else {
        *error = QStringLiteral("the BMP info header is damaged");
        return false;
    }
    if (width < 1 || height == 0 || height == INT32_MIN) {
        *error = QStringLiteral("the BMP header gives no usable size");
        return false;
    }
    out->width = int(width);
    out->topDown = height < 0;
    out->height = int(height < 0 ? -height : height);
    out->pixels = le32At(d, 10);
    if (out->compression == kBiBitFields || out->compression == kBiAlphaBitFields) {
        // The masks close a long info header, or follow a short one.
        const qint64 maskAt = 14 + qint64(headerSize >= 52 ? 40 : headerSize);
        const int count = headerSize >= 56 || out->compression == kBiAlphaBitFields ? 4 : 3;
        if (maskAt + 4 * count > d.size()) {
            *error = QStringLiteral("the BMP colour masks are cut short");
            return false;
        }
        for (int c = 0; c < count; ++c)
            out->masks[c] = le32At(d, maskAt + 4 * c);
    } else if (out->compression == kBiRgb && out->bits == 16) {
        // Without masks 16 bits hold 5 a channel, the top one unused.
        out->masks[0] = 0x7C00;
        out->masks[1] = 0x03E0;
        out->masks[2] = 0x001F;
    }
    if (out->compression == kBiJpeg || out->compression == kBiPng) {
        *error = QStringLiteral("BMP files that wrap a JPEG or PNG picture are not supported");
        return false;
    }
    if (!ImageLimits::frameAllowed(uint64_t(out->width), uint64_t(out->height))) {
        *error = QStringLiteral("image of %1 x %2 pixels exceeds the size limit").arg(out->width).arg(out->height);
        return false;
    }
    // Bytes of pixel data present, against what the header declares. Stored rows take their full
    // width (a file cut short shows the rows it holds, down to a sixty-fourth of them, and a few
    // bytes still cannot declare a large picture); a run-length row takes at least a code
    // for every 255 pixels and one to end it, and far fewer than 1024 pixels a byte.
    const qint64 present = out->pixels >= 14 && out->pixels < d.size() ? d.size() - out->pixels : 0;
    const uint64_t pixelCount = uint64_t(out->width) * uint64_t(out->height);
    bool fits;
    if (out->compression == kBiRle8 || out->compression == kBiRle4) {
        fits = pixelCount <= uint64_t(present) * 1024;
    } else {
        const uint64_t rowBytes = (uint64_t(out->width) * uint64_t(std::max(out->bits, 1)) + 31) / 32 * 4;
        fits = uint64_t(present) * 64 >= rowBytes * uint64_t(out->height);
    }
    if (!fits) {
        *error = QStringLiteral("the BMP file is far too short for %1 x %2 pixels").arg(out->width).arg(out->height);
        return false;
    }
    return true;
}

// Whether the toolkit's reader is left out for this file: 16- and 32-bit files whose channels
// are placed by masks (it refuses some of these headers and misreads fields wider than 8 bits),
// and 16-bit files without masks (it makes their white 248, not 255).
bool readsBitFields(const BmpHeader& h)
{
    return ((h.compression == kBiBitFields || h.compression == kBiAlphaBitFields) && (h.bits == 16 || h.bits == 32)) ||
           (h.compression == kBiRgb && h.bits == 16);
}

// Decodes a bit-field file; rows the file lacks stay transparent. An alpha mask gives each pixel
// its coverage (stored straight, made premultiplied here); without one every pixel is opaque.
QImage decodeBitFieldBmp(const QByteArray& d, const BmpHeader& f, QString* error)
{
    const int bytesPerPixel = f.bits / 8;
    const qint64 rowBytes = (qint64(f.width) * bytesPerPixel + 3) / 4 * 4;
    const qint64 rowsPresent = std::min<qint64>(f.height, (d.size() - f.pixels) / rowBytes);
    if (rowsPresent < 1) {
        *error = QStringLiteral("the BMP pixel data is cut short");
        return {};
    }
    QImage image = imageio_detail::allocateFrame(f.width, f.height, error);
    if (image.isNull())
        return {};
    image.fill(0);
    const BitField red(f.masks[0]), green(f.masks[1]), blue(f.masks[2]), alpha(f.masks[3]);
    const bool hasAlpha = f.masks[3] != 0;
    for (int y = 0; y < f.height; ++y) {
        const qint64 stored = f.topDown ? y : f.height - 1 - y;
        if (stored >= rowsPresent)
            continue;
        const qint64 at = f.pixels + stored * rowBytes;
        uchar* out = image.scanLine(y);
        for (int x = 0; x < f.width; ++x, out += 4) {
            const qint64 p = at + qint64(x) * bytesPerPixel;
            const quint32 w = bytesPerPixel == 4 ? le32At(d, p) : le16At(d, p);
            const int a = hasAlpha ? alpha(w) : 255;
            out[0] = uchar((red(w) * a + 127) / 255);
            out[1] = uchar((green(w) * a + 127) / 255);
            out[2] = uchar((blue(w) * a + 127) / 255);
            out[3] = uchar(a);
        }
    }
    return image;
}

// Pixels of a file the toolkit reads whose bytes are present, counted in the order the file stores
// them (its first stored row first). Stored rows count whole; a run-length stream counts up to its
// last whole code, and a delta or an end of line passes over pixels as it would in a whole file.
// The toolkit leaves the pixels past them undefined.
qint64 bmpPixelsPresent(const QByteArray& d, const BmpHeader& f)
{
    const qint64 all = qint64(f.width) * f.height;
    const qint64 end = d.size();
    if (f.pixels < 14 || f.pixels >= end)
        return 0;
    if (f.compression != kBiRle8 && f.compression != kBiRle4) {
        const qint64 rowBytes = (qint64(f.width) * std::max(f.bits, 1) + 31) / 32 * 4;
        return std::min<qint64>(f.height, (end - f.pixels) / rowBytes) * f.width;
    }
    const auto* p = reinterpret_cast<const uchar*>(d.constData());
    qint64 at = f.pixels, x = 0, y = 0;
    while (y < f.height && at + 2 <= end) {
        const int count = p[at], code = p[at + 1];
        if (count > 0) {
            x += count;
            at += 2;
        } else if (code == 0) {
            x = 0, ++y, at += 2;
        } else if (code == 1) {
            return all;
        } else if (code == 2) {
            if (at + 4 > end)
                break;
            x += p[at + 2], y += p[at + 3], at += 4;
        } else {
            // An absolute run, its bytes padded to an even count.
            const qint64 bytes = f.compression == kBiRle4 ? (code + 1) / 2 : code;
            if (at + 2 + bytes > end)
                break;
            x += code;
            at += 2 + (bytes + 1) / 2 * 2;
        }
    }
    return y >= f.height ? all : y * f.width + std::min<qint64>(x, f.width);
}

// Decodes a run-length coded file (RLE8: a byte an index; RLE4: a nibble, the high one first) in
// one pass over its codes, straight into a premultiplied frame, and counts in *present the pixels
// the file holds as bmpPixelsPresent() counts them. Pixels no code reaches (passed over by a delta,
// an early end of line or of the picture) take the palette's first colour; a run or an absolute
// stretch that overflows its row is cut at the row's end, and codes past the last row are not
// read. Every code costs at most the pixels of one row.
QImage decodeRunLengthBmp(const QByteArray& d, const BmpHeader& f, qint64* present, QString* error)
{
    const bool four = f.compression == kBiRle4;
    if (f.bits != (four ? 4 : 8)) {
        *error = QStringLiteral("a run-length coded BMP of %1 bits a pixel is damaged").arg(f.bits);
        return {};
    }
    // The palette follows the info header, four bytes (blue, green, red, unused) a colour: as
    // many as the header says are used (all 2^bits when it says 0), as far as the file holds them.
    const quint32 headerSize = le32At(d, 14);
    const qint64 paletteAt = 14 + qint64(headerSize);
    const qint64 used = headerSize >= 36 && d.size() >= 50 ? qint64(le32At(d, 46)) : 0;
    const qint64 most = qint64(1) << f.bits;
    const qint64 paletteEnd = std::min<qint64>(f.pixels, d.size());
    const qint64 colours = std::clamp<qint64>((paletteEnd - paletteAt) / 4, 0, used > 0 && used < most ? used : most);
    // Premultiplied RGBA as a frame's row holds it, read as one 32-bit word on this machine.
    static_assert(Q_BYTE_ORDER == Q_LITTLE_ENDIAN, "RGBA words assume little endian");
    quint32 palette[256];
    std::fill(std::begin(palette), std::end(palette), 0xFF000000u);
    const auto* p = reinterpret_cast<const uchar*>(d.constData());
    for (qint64 i = 0; i < colours; ++i) {
        const uchar* c = p + paletteAt + i * 4;
        palette[i] = 0xFF000000u | quint32(c[0]) << 16 | quint32(c[1]) << 8 | c[2];
    }
    QImage image = imageio_detail::allocateFrame(f.width, f.height, error);
    if (image.isNull())
        return {};
    image.fill(0);
    const qint64 width = f.width, height = f.height, end = d.size();
    uchar* const bits = image.bits();
    const qsizetype rowBytes = image.bytesPerLine();
    // Stored rows start at the bottom but for a file stored top down.
    const auto row = [&](qint64 y) {
        return reinterpret_cast<quint32*>(bits + rowBytes * (f.topDown ? y : height - 1 - y));
    };
    // Rows before the one the codes stand at are whole once passed: those a code never reached
    // take the first colour.
    qint64 filledTo = 0;  // stored rows [0, filledTo) hold their every pixel
    qint64 at = f.pixels, x = 0, y = 0;
    const auto passRows = [&](qint64 to) {
        for (; filledTo < std::min(to, height); ++filledTo) {
            quint32* out = row(filledTo);
            for (qint64 i = 0; i < width; ++i)
                if (out[i] == 0)
                    out[i] = palette[0];
        }
    };
    bool ended = false;
    unsigned polled = 0;
    while (y < height && at + 2 <= end) {
        if (++polled % 4096 == 0 && imageio_detail::decodeCancelled(error))
            return {};
        const int count = p[at], code = p[at + 1];
        if (count > 0) {
            // A run: one index, or two nibbles in turn.
            quint32* out = row(y);
            for (qint64 i = 0, n = std::min<qint64>(count, std::max<qint64>(width - x, 0)); i < n; ++i)
                out[x + i] = palette[four ? (i % 2 == 0 ? code >> 4 : code & 0xF) : code];
            x += count;
            at += 2;
        } else if (code == 0) {
            x = 0, ++y, at += 2;
        } else if (code == 1) {
            ended = true;
            break;
        } else if (code == 2) {
            if (at + 4 > end)
                break;
            x += p[at + 2], y += p[at + 3], at += 4;
        } else {
            // An absolute stretch of `code` indexes, its bytes padded to an even count.
            const qint64 bytes = four ? (code + 1) / 2 : code;
            if (at + 2 + bytes > end)
                break;
            quint32* out = row(y);
            const uchar* in = p + at + 2;
            for (qint64 i = 0, n = std::min<qint64>(code, std::max<qint64>(width - x, 0)); i < n; ++i)
                out[x + i] = palette[four ? (i % 2 == 0 ? in[i / 2] >> 4 : in[i / 2] & 0xF) : in[i]];
            x += code;
            at += 2 + (bytes + 1) / 2 * 2;
        }
        passRows(y);
    }
    const qint64 all = width * height;
    *present = ended || y >= height ? all : y * width + std::min<qint64>(x, width);
    // The rest of the pixels the file holds, up to where its codes end, take the first colour.
    passRows(*present / width);
    if (*present < all && *present % width != 0) {
        quint32* out = row(*present / width);
        for (qint64 i = 0; i < *present % width; ++i)
            if (out[i] == 0)
                out[i] = palette[0];
    }
    return image;
}

// Leaves transparent the pixels of a picture the toolkit read whose bytes the file lacks.
void clearPixelsPast(QImage* image, const BmpHeader& f, qint64 present)
{
    for (int y = 0; y < image->height() && y < f.height; ++y) {
        const qint64 stored = f.topDown ? y : f.height - 1 - y;
        const qint64 from = std::clamp<qint64>(present - stored * f.width, 0, image->width());
        if (from < image->width())
            std::memset(image->scanLine(y) + from * 4, 0, size_t(image->width() - from) * 4);
    }
}

// Where the rows of a binary any-map file (P4, P5, P6) start and how many bytes each takes, from
// its header: the magic, width, height and (but for a bitmap) the largest sample, separated by
// white space or comments, then one white-space byte. False for any other bytes.
bool binaryPnmLayout(const QByteArray& d, qint64* rowsAt, qint64* rowBytes, int* height)
{
    if (d.size() < 3 || d[0] != 'P' || (d[1] != '4' && d[1] != '5' && d[1] != '6'))
        return false;
    const char kind = d[1];
    qint64 at = 2;
    qint64 fields[3] = {0, 0, 0};
    const int count = kind == '4' ? 2 : 3;
    if (kind == '4')
        fields[2] = 1;
    for (int i = 0; i < count; ++i) {
        while (at < d.size() && (std::isspace(uchar(d[at])) || d[at] == '#')) {
            if (d[at] == '#')
                while (at < d.size() && d[at] != '\n' && d[at] != '\r')
                    ++at;
            else
                ++at;
        }
        if (at >= d.size() || !std::isdigit(uchar(d[at])))
            return false;
        for (; at < d.size() && std::isdigit(uchar(d[at])); ++at) {
            fields[i] = fields[i] * 10 + (d[at] - '0');
            if (fields[i] > INT32_MAX)
                return false;
        }
    }
    if (at >= d.size() || !std::isspace(uchar(d[at])) || fields[0] < 1 || fields[1] < 1 || fields[2] < 1 || fields[2] > 65535)
        return false;
    const qint64 sampleBytes = fields[2] > 255 ? 2 : 1;
    *rowsAt = at + 1;
    *rowBytes = kind == '4' ? (fields[0] + 7) / 8 : fields[0] * sampleBytes * (kind == '6' ? 3 : 1);
    *height = int(fields[1]);
    // The whole file's length must be a number: width and height of up to 2^31 each could exceed it.
    return *rowBytes <= (INT64_MAX - *rowsAt) / fields[1];
}

// Why a toolkit reader failed. Its readers often fail without a reason; a refusal always says why.
QString toolkitFailure(const QImageReader& reader)
{
    const QString why = reader.errorString();
    return QStringLiteral("decoding failed: %1")
        .arg(why.isEmpty() || why == QLatin1String("Unknown error") ? QStringLiteral("the image data is damaged or cut short")
                                                                      : why);
}

// The file's bytes as the toolkit's readers take them: once the load is cancelled every read
// fails, and the reader gives up where it stands (most read a row, or a buffer's worth, at a
// time). What it made of the rows before is no picture: cancelled() says so.
class CancellableBuffer final : public QBuffer {
public:
    // Without `stops`, a plain buffer: the reading of a header is never cancelled.
    explicit CancellableBuffer(QByteArray* data, bool stops = true) : QBuffer(data), m_stops(stops) {}
    bool cancelled() const { return m_cancelled; }
    bool stops() const { return m_stops; }

protected:
    qint64 readData(char* data, qint64 maxSize) override
    {
        if (m_cancelled || (m_stops && imageio_detail::decodeCancelled(nullptr))) {
            m_cancelled = true;
            return -1;
        }
        return QBuffer::readData(data, maxSize);
    }

private:
    bool m_stops;
    bool m_cancelled = false;
};

// A toolkit read through `buffer`, or null with *error set when the load was cancelled meanwhile.
QImage readUnlessCancelled(QImageReader& reader, const CancellableBuffer& buffer, QString* error)
{
    QImage image = reader.read();
    if (buffer.cancelled() || (buffer.stops() && imageio_detail::decodeCancelled(nullptr))) {
        if (error)
            *error = DecodeBudget::cancelledError();
        return {};
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
            // The size comes from the header as the file states it: the toolkit answers a
            // negative height for a file stored top down.
            QString why;
            if (!readBmpHeader(m_data, &m_bmp, &why)) {
                if (error)
                    *error = why;
                return false;
            }
            m_fields = readsBitFields(m_bmp);
            m_size = QSize(m_bmp.width, m_bmp.height);
            if (m_fields)
                return true;
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
                const QSize size = icoPngSize(m_data, i).value_or(reader.size());
                const qint64 area = size.isValid() ? qint64(size.width()) * size.height() : -1;
                if (area > best) {
                    best = area;
                    m_index = i;
                    m_size = size;
                }
            }
            // An icon's pictures are small: one that claims far more pixels than its file could
            // hold is refused before the toolkit allocates it.
            if (m_size.isValid() && uint64_t(m_size.width()) * uint64_t(m_size.height()) > uint64_t(m_data.size()) * 1024) {
                if (error)
                    *error = QStringLiteral("the ICO file is far too short for %1 x %2 pixels").arg(m_size.width()).arg(m_size.height());
                return false;
            }
        }
        return true;
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
            QImage image = decodeBitFieldBmp(m_data, m_bmp, &why);
            if (image.isNull() && error)
                *error = QStringLiteral("decoding failed: %1").arg(why);
            return image;
        }
        if (!m_ico && (m_bmp.compression == kBiRle8 || m_bmp.compression == kBiRle4)) {
            QString why;
            qint64 present = 0;
            QImage image = decodeRunLengthBmp(m_data, m_bmp, &present, &why);
            if (image.isNull() && error)
                *error = DecodeBudget::isCancelledError(why) ? why : QStringLiteral("decoding failed: %1").arg(why);
            if (image.isNull())
                return {};
            if (present < 1) {
                if (error)
                    *error = QStringLiteral("decoding failed: the BMP pixel data is cut short");
                return {};
            }
            if (present < qint64(m_bmp.width) * m_bmp.height)
                clearPixelsPast(&image, m_bmp, present);
            return image;
        }
        CancellableBuffer buffer(&m_data);
        buffer.open(QIODevice::ReadOnly);
        QImageReader reader(&buffer, m_ico ? "ico" : "bmp");
        // The toolkit's frame, then its premultiplied copy, are charged to the budget first.
        if (m_size.isValid() && !imageio_detail::reserveDecodeBytes(uint64_t(m_size.width()) * uint64_t(m_size.height()) * 8, error))
            return {};
        if (m_ico && m_index > 0)
            reader.jumpToImage(m_index);
        // A file cut short (a download that stopped) shows the pixels it holds, the rest left
        // transparent; one that holds none is damaged.
        const qint64 present = m_ico ? 0 : bmpPixelsPresent(m_data, m_bmp);
        if (!m_ico && present < 1) {
            if (error)
                *error = QStringLiteral("decoding failed: the BMP pixel data is cut short");
            return {};
        }
        QString cancelled;
        QImage image;
        {
            const ToolkitReadLimit limit(ToolkitReadLimit::wholeFrameMegabytes());
            image = readUnlessCancelled(reader, buffer, &cancelled);
        }
        if (image.isNull()) {
            if (error)
                *error = cancelled.isEmpty() ? toolkitFailure(reader) : cancelled;
            return {};
        }
        if (!m_size.isValid())
            m_size = image.size();
        image = image.convertToFormat(QImage::Format_RGBA8888_Premultiplied);
        if (!m_ico && present < qint64(m_bmp.width) * m_bmp.height)
            clearPixelsPast(&image, m_bmp, present);
        return image;
    }

private:
    bool m_ico;
    bool m_fields = false;  // a bit-field BMP, read by decodeBitFieldBmp
    BmpHeader m_bmp;
    int m_index = 0;  // the icon image shown: the largest
    QByteArray m_data;
    QSize m_size;
};

// Any further format the toolkit's installed readers know. Their headers are read by the toolkit;
// the size they declare is held against the bytes present before a pixel is allocated, since a
// few bytes of no format here describe more than 4,096 pixels a byte.
class ToolkitDecoder final : public FormatDecoder {
public:
    explicit ToolkitDecoder(QByteArray format) : m_format(std::move(format)) {}

    bool open(const QByteArray& data, QString* error) override
    {
        m_data = data;
        // The toolkit's TGA reader takes only files that end with the footer of the format's
        // second version; most writers leave it out, and it says nothing about the pixels.
        static const QByteArray kTgaSignature("TRUEVISION-XFILE.\0", 18);
        if (m_format == "tga" && !m_data.endsWith(kTgaSignature))
            m_data.append(QByteArray(8, '\0')).append(kTgaSignature);
        QBuffer buffer(&m_data);
        buffer.open(QIODevice::ReadOnly);
        QImageReader reader(&buffer, m_format);
        if (!reader.canRead()) {
            if (error)
                *error = QStringLiteral("not a readable %1 file").arg(QString::fromLatin1(m_format).toUpper());
            return false;
        }
        m_size = reader.size();
        if (m_size.isValid())
            return sizeFits(error);
        // A reader that tells no size before decoding (icons of several sizes) decodes once here,
        // held to what its bytes may hold; the picture serves the first decode.
        m_opening = true;
        m_decoded = decode(0, 0, error);
        m_opening = false;
        return !m_decoded.isNull();
    }
    QString type() const override { return ContentTypes::kToolkitImage; }
    QSize frameSize(int) const override { return m_size; }
    QImage decode(int, int, QString* error) override
    {
        if (!m_decoded.isNull())
            return std::exchange(m_decoded, QImage());
        if (m_size.isValid() && !sizeFits(error))
            return {};
        CancellableBuffer buffer(&m_data, !m_opening);
        buffer.open(QIODevice::ReadOnly);
        QImageReader reader(&buffer, m_format);
        // The toolkit's frame, then its premultiplied copy, are charged to the budget first; a
        // reader that could not tell its size is held to what its bytes may hold, and so is what
        // the toolkit may allocate (a frame inside the file may declare any size).
        const uint64_t pixels = m_size.isValid() ? uint64_t(m_size.width()) * uint64_t(m_size.height())
                                                 : std::min<uint64_t>(uint64_t(m_data.size()) * kPixelsPerByte,
                                                                      ImageLimits::kMaxPixelsPerFrame);
        if (!imageio_detail::reserveDecodeBytes(pixels * 8, error))
            return {};
        QString cancelled;
        QImage image;
        {
            const ToolkitReadLimit limit(int(((pixels * 8) >> 20) + 1)); // up to 16 bits a channel
            image = readUnlessCancelled(reader, buffer, &cancelled);
        }
        if (!cancelled.isEmpty()) {
            if (error)
                *error = cancelled;
            return {};
        }
        int rowsPresent = -1;
        if (image.isNull())
            image = readCutShortPnm(&rowsPresent, error);
        if (rowsPresent == 0)
            return {};
        if (image.isNull() || uint64_t(image.width()) * uint64_t(image.height()) > pixels) {
            if (error)
                *error = image.isNull() ? toolkitFailure(reader)
                                        : QStringLiteral("decoding failed: the picture is larger than its header said");
            return {};
        }
        if (!m_size.isValid())
            m_size = image.size();
        image = image.convertToFormat(QImage::Format_RGBA8888_Premultiplied);
        // The rows a cut-short file lacks stay transparent.
        for (int y = std::max(rowsPresent, 0); rowsPresent > 0 && y < image.height(); ++y)
            std::memset(image.scanLine(y), 0, size_t(image.bytesPerLine()));
        return image;
    }

private:
    // The toolkit refuses a binary any-map file cut short (a download that stopped) whole. Read
    // with its missing rows filled in, it shows the rows that arrived; *rowsPresent is how many
    // (0, with *error set, when none did or the file is far too short to be worth it), and stays
    // -1 for a file that is not a cut-short any-map.
    QImage readCutShortPnm(int* rowsPresent, QString* error) const
    {
        qint64 rowsAt = 0, rowBytes = 0;
        int height = 0;
        if ((m_format != "ppm" && m_format != "pgm" && m_format != "pbm") || !binaryPnmLayout(m_data, &rowsAt, &rowBytes, &height))
            return {};
        const qint64 whole = rowsAt + rowBytes * height;
        if (m_data.size() >= whole)
            return {};
        // As for a BMP: the rows shown are at least a sixty-fourth of the picture.
        const qint64 present = std::max<qint64>(m_data.size() - rowsAt, 0) / rowBytes;
        *rowsPresent = int(present);
        if (present < 1 || present * 64 < height) {
            *rowsPresent = 0;
            if (error)
                *error = QStringLiteral("decoding failed: the file was cut short before enough of its rows");
            return {};
        }
        if (!imageio_detail::reserveDecodeBytes(uint64_t(whole), error)) {
            *rowsPresent = 0;
            return {};
        }
        QByteArray filled = m_data;
        filled.append(QByteArray(whole - m_data.size(), '\0'));
        CancellableBuffer buffer(&filled);
        buffer.open(QIODevice::ReadOnly);
        QImageReader reader(&buffer, m_format);
        QString cancelled;
        QImage image;
        {
            const ToolkitReadLimit limit(int(((uint64_t(m_size.width()) * uint64_t(m_size.height()) * 8) >> 20) + 1));
            image = readUnlessCancelled(reader, buffer, &cancelled);
        }
        if (!cancelled.isEmpty()) {
            *rowsPresent = 0;
            if (error)
                *error = cancelled;
        }
        return image;
    }

    static constexpr uint64_t kPixelsPerByte = 4096;

    bool sizeFits(QString* error) const
    {
        const uint64_t pixels = uint64_t(m_size.width()) * uint64_t(m_size.height());
        if (!ImageLimits::frameAllowed(uint64_t(m_size.width()), uint64_t(m_size.height()))) {
            if (error)
                *error = QStringLiteral("image of %1 x %2 pixels exceeds the size limit").arg(m_size.width()).arg(m_size.height());
            return false;
        }
        if (pixels > uint64_t(m_data.size()) * kPixelsPerByte) {
            if (error)
                *error = QStringLiteral("the file is far too short for %1 x %2 pixels").arg(m_size.width()).arg(m_size.height());
            return false;
        }
        return true;
    }

    QByteArray m_format;
    QByteArray m_data;
    QSize m_size;
    QImage m_decoded;  // the picture decoded to learn its size, until asked for
    bool m_opening = false;  // decoding to learn the size: not cancelled
};

}  // namespace

namespace imageio_detail {

bool bmpEndsEarly(const QByteArray& data)
{
    // The same count the decoder makes: rows it leaves clear are the part that did not arrive.
    BmpHeader header;
    QString refused;
    if (!data.startsWith("BM") || !readBmpHeader(data, &header, &refused))
        return false;
    return bmpPixelsPresent(data, header) < qint64(header.width) * header.height;
}

bool pnmEndsEarly(const QByteArray& data)
{
    qint64 rowsAt = 0, rowBytes = 0;
    int height = 0;
    return binaryPnmLayout(data, &rowsAt, &rowBytes, &height) && data.size() < rowsAt + rowBytes * height;
}

bool tgaEndsEarly(const QByteArray& data)
{
    // The 18-byte header (TGA 2.0, "Image File Specification", fields 1 to 5).
    if (data.size() < 18)
        return false;
    const auto* h = reinterpret_cast<const uchar*>(data.constData());
    const int idLength = h[0], mapType = h[1], imageType = h[2], mapBits = h[7], depth = h[16], descriptor = h[17];
    const qint64 mapLength = le16At(data, 5), width = le16At(data, 12), height = le16At(data, 14);
    const int kind = imageType & ~8;  // 1 colour-mapped, 2 true colour, 3 grey; +8 run-length coded
    const bool mapped = kind == 1;
    const bool depthFits = mapped ? (depth == 8 || depth == 16)
                         : kind == 2 ? (depth == 15 || depth == 16 || depth == 24 || depth == 32)
                                     : (depth == 8 || depth == 16);
    if (mapType > 1 || (imageType & ~11) != 0 || kind < 1 || kind > 3 || mapped != (mapType == 1) || !depthFits ||
        (mapped && mapBits != 15 && mapBits != 16 && mapBits != 24 && mapBits != 32) || (descriptor & 0xC0) != 0 ||
        (descriptor & 0x0F) > depth || width < 1 || height < 1)
        return false;
    const qint64 pixelBytes = (depth + 7) / 8;
    const qint64 pixels = width * height;
    const qint64 start = 18 + idLength + (mapType == 1 ? mapLength * ((mapBits + 7) / 8) : 0);
    if (!(imageType & 8))
        return data.size() < start + pixels * pixelBytes;
    // Run-length packets: a count byte, then one pixel repeated or that many stored.
    qint64 at = start, done = 0;
    while (done < pixels) {
        if (at >= data.size())
            return true;
        const int packet = h[at++];
        const qint64 count = (packet & 0x7F) + 1;
        const qint64 bytes = (packet & 0x80) ? pixelBytes : count * pixelBytes;
        if (bytes > data.size() - at)
            return true;
        at += bytes;
        done += count;
    }
    return false;
}

}  // namespace imageio_detail

std::unique_ptr<FormatDecoder> makeBmpIcoDecoder(bool ico) { return std::make_unique<QtFormatDecoder>(ico); }

std::unique_ptr<FormatDecoder> makeToolkitDecoder(const QByteArray& data, const QString& extension)
{
    // The bytes decide first; a format without a signature (TGA) goes by the file's name.
    QByteArray bytes = data;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::ReadOnly);
    QByteArray format = QImageReader::imageFormat(&buffer);
    if (ContentTypes::toolkitFormatForExtension(QString::fromLatin1(format)).isEmpty())
        format = ContentTypes::toolkitFormatForExtension(extension);
    if (format.isEmpty())
        return {};
    return std::make_unique<ToolkitDecoder>(format);
}

}  // namespace kpv
