#include "imageio/ImageSource.h"

#include "FormatDecoder.h"
#include "Metadata.h"
#include "foundation/FileNames.h"
#include "imageio/ContentTypes.h"
#include "imageio/DecodeBudget.h"
#include "imageio/ImageLimits.h"
#include "imageio/ImageProperties.h"
#include "imageio/FileAccess.h"

#include <QFileInfo>

#include <algorithm>
#include <cstring>
#include <system_error>
#include <vector>

#include <sys/mman.h>

namespace kpv {

namespace {

// A file that is read into memory rather than mapped is read whole; nothing a camera or editor
// writes comes near this.
constexpr qint64 kMaxFileBytes = qint64(1) << 30;

// The reservations of the decode this thread runs now, held until the call that started it
// returns; null outside a decode.
thread_local std::vector<DecodeBudget::Reservation>* t_decodeReservations = nullptr;

// Opens a decode's account with the process-wide budget for the length of one request; every
// frame the readers allocate meanwhile is charged to it and given back when it closes.
class DecodeAccount {
public:
    DecodeAccount() : m_outer(t_decodeReservations) { t_decodeReservations = &m_held; }
    ~DecodeAccount()
    {
        m_held.clear();
        t_decodeReservations = m_outer;
    }
    DecodeAccount(const DecodeAccount&) = delete;
    DecodeAccount& operator=(const DecodeAccount&) = delete;

private:
    std::vector<DecodeBudget::Reservation> m_held;
    std::vector<DecodeBudget::Reservation>* m_outer;
};

const QString kCutShort = QStringLiteral("the file was cut short while it was read");

bool startsWith(const QByteArray& data, const char* magic, int length, int offset = 0)
{
    return data.size() >= offset + length && std::memcmp(data.constData() + offset, magic, size_t(length)) == 0;
}

}  // namespace

std::unique_ptr<FormatDecoder> makeDecoderFor(const QByteArray& data, const QString& fileName)
{
    // Many camera raw formats are TIFF containers: the name decides before the bytes do.
    const QString byName = ContentTypes::typeForExtension(QFileInfo(fileName).suffix());
    if (byName == ContentTypes::kCameraRaw)
        return makeRawDecoder();
    if (startsWith(data, "\xFF\xD8\xFF", 3))
        return makeJpegDecoder();
    if (startsWith(data, "\x89PNG\r\n\x1A\n", 8))
        return makePngDecoder();
    if (startsWith(data, "GIF87a", 6) || startsWith(data, "GIF89a", 6))
        return makeGifDecoder();
    if (imageio_detail::isTiffHeader(data))
        return makeTiffDecoder();
    if (startsWith(data, "RIFF", 4) && startsWith(data, "WEBP", 4, 8))
        return makeWebpDecoder();
    if (startsWith(data, "\0\0\0\x0CjP  \r\n\x87\n", 12) || startsWith(data, "\xFF\x4F\xFF\x51", 4))
        return makeJpeg2000Decoder();
    if (startsWith(data, "BM", 2))
        return makeBmpIcoDecoder(false);
    if (startsWith(data, "\0\0\1\0", 4))
        return makeBmpIcoDecoder(true);
    return makeToolkitDecoder(data, QFileInfo(fileName).suffix());
}

namespace imageio_detail {

namespace {

// A large frame is new memory that nothing has touched yet: the kernel clears and maps each page
// of it on the first write. In pages of 2 MB instead of 4 KB, a frame of a gigabyte costs a few
// hundred faults rather than a quarter of a million, most of a second. Small frames stay as they
// are (a large page for them would only waste memory).
void preferLargePages(QImage& image)
{
#if defined(MADV_HUGEPAGE)
    constexpr uintptr_t kLargePage = uintptr_t(2) << 20;
    const auto begin = reinterpret_cast<uintptr_t>(image.bits());
    const uintptr_t end = begin + uintptr_t(image.sizeInBytes());
    if (uint64_t(image.sizeInBytes()) < 16 * kLargePage)
        return;
    const uintptr_t first = (begin + kLargePage - 1) & ~(kLargePage - 1), last = end & ~(kLargePage - 1);
    if (first < last)
        madvise(reinterpret_cast<void*>(first), last - first, MADV_HUGEPAGE);  // a hint: a refusal changes nothing
#else
    (void)image;
#endif
}

}  // namespace

bool reserveDecodeBytes(uint64_t bytes, QString* error)
{
    DecodeBudget& budget = DecodeBudget::shared();
    QString why;
    // The buffers of one decode are held together: a frame that fits the budget alone, beside
    // the rows or coefficients the same decode holds already, is more than the budget, and
    // the budget would let the decode's own later buffers through rather than wait for itself.
    uint64_t held = 0;
    if (t_decodeReservations)
        for (const DecodeBudget::Reservation& r : *t_decodeReservations)
            held += r.bytes();
    if (!budget.fits(bytes > UINT64_MAX - held ? UINT64_MAX : held + bytes, error))
        return false;
    DecodeBudget::Reservation reservation = budget.reserve(bytes, &why);
    if (!reservation.isValid()) {
        if (error)
            *error = why;
        return false;
    }
    // Outside a decode request nothing holds the bytes: only the refusal above applies.
    if (t_decodeReservations)
        t_decodeReservations->push_back(std::move(reservation));
    return true;
}

bool decodeCancelled(QString* error)
{
    if (!DecodeBudget::cancelRequested())
        return false;
    if (error)
        *error = DecodeBudget::cancelledError();
    return true;
}

QImage allocateFrame(int width, int height, QString* error)
{
    if (width <= 0 || height <= 0 || !ImageLimits::frameAllowed(uint64_t(width), uint64_t(height))) {
        if (error)
            *error = QStringLiteral("a frame of %1 x %2 pixels is empty or exceeds the size limit").arg(width).arg(height);
        return {};
    }
    if (!reserveDecodeBytes(uint64_t(width) * uint64_t(height) * 4, error))
        return {};
    QImage image(width, height, QImage::Format_RGBA8888_Premultiplied);
    if (image.isNull() && error)
        *error = QStringLiteral("out of memory for a frame of %1 x %2 pixels").arg(width).arg(height);
    else
        preferLargePages(image);
    return image;
}

FramePages::FramePages(const QImage& frame)
{
#if defined(MADV_POPULATE_WRITE)
    // Below this the clearing costs a few milliseconds: no thread is worth it.
    constexpr qsizetype kMinBytes = qsizetype(64) << 20;
    if (frame.isNull() || frame.sizeInBytes() < kMinBytes)
        return;
    m_bits = frame.constBits();
    m_rowBytes = frame.bytesPerLine();
    m_rows = frame.height();
    try {
        m_thread = std::thread([this] { run(); });
    } catch (const std::system_error&) {
        // No thread to spare: the decode's own writes fault the pages in, as they always did.
    }
#else
    (void)frame;
#endif
}

FramePages::~FramePages()
{
    m_stop.store(true);
    if (m_thread.joinable())
        m_thread.join();
}

void FramePages::run()
{
#if defined(MADV_POPULATE_WRITE)
    // Bands of 8 MB from the bottom up, page aligned inside the frame, until the band reaches the
    // rows the reader is writing (its own writes clear those pages) or the reader is done.
    constexpr uintptr_t kPage = 4096;
    constexpr uintptr_t kBand = uintptr_t(8) << 20;
    const auto begin = reinterpret_cast<uintptr_t>(m_bits);
    uintptr_t end = begin + uintptr_t(m_rowBytes) * uintptr_t(m_rows);
    while (!m_stop.load(std::memory_order_relaxed)) {
        const uintptr_t reached = begin + uintptr_t(m_rowBytes) * uintptr_t(m_written.load(std::memory_order_relaxed));
        const uintptr_t bandStart = std::max(end > kBand ? end - kBand : 0, reached + kBand);
        const uintptr_t first = (bandStart + kPage - 1) & ~(kPage - 1), last = end & ~(kPage - 1);
        if (bandStart >= end || first >= last)
            break;
        // Faults the pages in as writable; their contents (zero, or rows already written) stay.
        if (madvise(reinterpret_cast<void*>(first), last - first, MADV_POPULATE_WRITE) != 0)
            break;
        end = first;
    }
#endif
}

QVariantMap densityProperties(double dpiX, double dpiY)
{
    QVariantMap map;
    if (dpiX > 0 && dpiY > 0) {
        map.insert(kCGImagePropertyDPIWidth, dpiX);
        map.insert(kCGImagePropertyDPIHeight, dpiY);
    }
    return map;
}

void premultiplyRgba(QImage& image)
{
    // The size is asked once: asked at every pixel, the toolkit's call cost more than the
    // arithmetic, seconds for the largest pictures.
    const int width = image.width(), height = image.height();
    for (int y = 0; y < height; ++y) {
        uchar* p = image.scanLine(y);
        for (const uchar* end = p + size_t(width) * 4; p != end; p += 4) {
            const unsigned a = p[3];
            if (a == 255)
                continue;
            p[0] = uchar((p[0] * a + 127) / 255);
            p[1] = uchar((p[1] * a + 127) / 255);
            p[2] = uchar((p[2] * a + 127) / 255);
        }
    }
}

}  // namespace imageio_detail

ImageSource::ImageSource(QByteArray data, std::unique_ptr<FormatDecoder> decoder)
    : m_data(std::move(data)), m_decoder(std::move(decoder))
{
}

ImageSource::~ImageSource() = default;

std::unique_ptr<ImageSource> ImageSource::createWithFile(const QString& path, QString* error)
{
    std::shared_ptr<const FileContents> contents = FileContents::open(path, kMaxFileBytes, error);
    if (!contents)
        return {};
    const QByteArray& data = contents->bytes();
    std::unique_ptr<FormatDecoder> decoder = makeDecoderFor(data, path);
    if (!decoder) {
        if (error)
            *error = QStringLiteral("%1 is not an image file of a supported format").arg(displayFileName(path));
        return {};
    }
    QString why;
    if (!decoder->open(data, &why) || contents->wasCutShort()) {
        if (error)
            *error = QStringLiteral("%1: %2").arg(displayFileName(path), contents->wasCutShort() ? kCutShort : why);
        return {};
    }
    std::unique_ptr<ImageSource> source(new ImageSource(data, std::move(decoder)));
    source->m_contents = std::move(contents);
    return source;
}

bool ImageSource::isImageFormat(const QByteArray& head, const QString& fileName)
{
    return makeDecoderFor(head, fileName) != nullptr;
}

std::unique_ptr<ImageSource> ImageSource::createWithData(QByteArray data, QString* error)
{
    std::unique_ptr<FormatDecoder> decoder = makeDecoderFor(data, QString());
    if (!decoder) {
        if (error)
            *error = QStringLiteral("not an image of a supported format");
        return {};
    }
    if (!decoder->open(data, error))
        return {};
    return std::unique_ptr<ImageSource>(new ImageSource(std::move(data), std::move(decoder)));
}

void ImageSource::stoppedByCancel(QImage* image, QString* error)
{
    // Whatever a reader made of a cancelled load (the rows before it stopped, or a message of
    // its own), the answer is the cancel: no picture, and no word of a damaged file.
    if (!DecodeBudget::cancelRequested())
        return;
    *image = QImage();
    *error = DecodeBudget::cancelledError();
}

bool ImageSource::cutShort(QString* error) const
{
    if (!m_contents || !m_contents->wasCutShort())
        return false;
    if (error)
        *error = kCutShort;
    return true;
}

QString ImageSource::type() const { return m_decoder->type(); }

int ImageSource::count() const { return m_decoder->frameCount(); }

QVariantMap ImageSource::propertiesAtIndex(int index) const
{
    if (index < 0 || index >= count())
        return {};
    if (!m_metadataRead) {
        m_metadata = imageio_detail::readMetadata(m_data);
        m_metadataRead = true;
        if (cutShort(nullptr))
            m_metadata.clear();
    }
    QVariantMap map = m_metadata;
    const QVariantMap own = m_decoder->formatProperties(index);
    for (auto it = own.begin(); it != own.end(); ++it)
        map.insert(it.key(), it.value());
    const QSize size = m_decoder->frameSize(index);
    map.insert(kCGImagePropertyPixelWidth, size.width());
    map.insert(kCGImagePropertyPixelHeight, size.height());
    return map;
}

QImage ImageSource::fullDecode(int index, bool straight, QString* error) const
{
    QString why;
    QImage image;
    DecodeAccount account;
    if (m_contents)
        m_contents->willReadAll();
    if (index < 0 || index >= count())
        why = QStringLiteral("no frame %1").arg(index);
    else
        image = straight ? m_decoder->decodeStraight(index, &why) : m_decoder->decode(index, 0, &why);
    if (cutShort(&why))
        image = QImage();
    stoppedByCancel(&image, &why);
    if (image.isNull()) {
        m_lastError = why;
        if (error)
            *error = why;
    }
    return image;
}

QImage ImageSource::createImageAtIndex(int index, QString* error) const { return fullDecode(index, false, error); }

std::shared_ptr<const GifAnimation> ImageSource::createAnimation(QString* error) const
{
    QString why;
    std::shared_ptr<const GifAnimation> animation = m_decoder->animation(&why);
    if (!animation) {
        m_lastError = why;
        if (error)
            *error = why;
    }
    return animation;
}

QImage ImageSource::createStraightImageAtIndex(int index, QString* error) const
{
    return fullDecode(index, true, error);
}

QSize ImageSource::reducedFrameSize(int index, int reduction) const
{
    if (index < 0 || index >= count() || (reduction != 1 && reduction != 2 && reduction != 4 && reduction != 8))
        return {};
    const QSize full = m_decoder->frameSize(index);
    // Counted wide: a side near the largest int must not wrap.
    return QSize(int((qint64(full.width()) + reduction - 1) / reduction), int((qint64(full.height()) + reduction - 1) / reduction));
}

QImage ImageSource::createImageInRect(int index, const QRect& rect, int reduction, QString* error) const
{
    QString why;
    QImage image;
    // The request's own account: parts decoded on several threads at once each charge theirs.
    DecodeAccount account;
    const QSize reduced = reducedFrameSize(index, reduction);
    if (reduced.isEmpty())
        why = QStringLiteral("no frame %1 at a reduction of %2").arg(index).arg(reduction);
    else if (rect.isEmpty() || !QRect(QPoint(0, 0), reduced).contains(rect))
        why = QStringLiteral("the part (%1, %2, %3 x %4) is not inside the picture of %5 x %6")
                  .arg(rect.x())
                  .arg(rect.y())
                  .arg(rect.width())
                  .arg(rect.height())
                  .arg(reduced.width())
                  .arg(reduced.height());
    else
        image = m_decoder->decodeRegion(index, rect, reduction, &why);
    if (cutShort(&why))
        image = QImage();
    stoppedByCancel(&image, &why);
    if (!image.isNull() && image.size() != rect.size()) {
        image = QImage();
        why = QStringLiteral("the decoded part has the wrong size");
    }
    if (image.isNull() && error)
        *error = why;
    return image;
}

QImage FormatDecoder::decodeRegion(int index, const QRect& rect, int reduction, QString* error)
{
    const QSize full = frameSize(index);
    const QSize reduced(int((qint64(full.width()) + reduction - 1) / reduction), int((qint64(full.height()) + reduction - 1) / reduction));
    QImage whole = decode(index, reduction == 1 ? 0 : std::max(reduced.width(), reduced.height()), error);
    if (whole.isNull())
        return {};
    if (!imageio_detail::reserveDecodeBytes(uint64_t(rect.width()) * uint64_t(rect.height()) * 4, error))
        return {};
    QImage part;
    if (whole.size() == reduced) {
        part = whole.copy(rect);
    } else if (whole.size() == full && whole.format() == QImage::Format_RGBA8888_Premultiplied) {
        // Decoded at full size: blocks of reduction x reduction averaged, as a reduced decode of
        // rows does (edge blocks with the pixels they have).
        part = QImage(rect.size(), QImage::Format_RGBA8888_Premultiplied);
        for (int y = 0; !part.isNull() && y < rect.height(); ++y) {
            uchar* out = part.scanLine(y);
            const int top = (rect.y() + y) * reduction, rows = std::min(reduction, full.height() - top);
            for (int x = 0; x < rect.width(); ++x) {
                const int left = (rect.x() + x) * reduction, columns = std::min(reduction, full.width() - left);
                unsigned sum[4] = {0, 0, 0, 0};
                for (int r = 0; r < rows; ++r) {
                    const uchar* p = whole.constScanLine(top + r) + size_t(left) * 4;
                    for (int c = 0; c < columns * 4; ++c)
                        sum[c % 4] += p[c];
                }
                const unsigned n = unsigned(rows * columns);
                for (int c = 0; c < 4; ++c)
                    out[x * 4 + c] = uchar((sum[c] + n / 2) / n);
            }
        }
    } else {
        // The reader decoded at another size: brought to the reduced one, which is charged too.
        if (!imageio_detail::reserveDecodeBytes(uint64_t(reduced.width()) * uint64_t(reduced.height()) * 4, error))
            return {};
        part = whole.scaled(reduced, Qt::IgnoreAspectRatio, Qt::SmoothTransformation)
                   .convertToFormat(QImage::Format_RGBA8888_Premultiplied)
                   .copy(rect);
    }
    if (part.isNull() && error)
        *error = QStringLiteral("out of memory for a part of %1 x %2 pixels").arg(rect.width()).arg(rect.height());
    return part;
}

QImage ImageSource::createThumbnailAtIndex(int index, int maxPixelSize, bool fromImageAlways, QString* error) const
{
    QString why;
    QImage image;
    DecodeAccount account;
    if (index < 0 || index >= count() || maxPixelSize <= 0) {
        why = QStringLiteral("bad thumbnail request");
    } else if (!fromImageAlways) {
        image = m_decoder->embeddedThumbnail();
        if (image.isNull())
            image = imageio_detail::readExifThumbnail(m_data, maxPixelSize);
        if (image.isNull())
            why = QStringLiteral("the file holds no thumbnail");
    } else {
        if (m_contents)
            m_contents->willReadAll();
        image = m_decoder->decode(index, maxPixelSize, &why);
    }
    if (cutShort(&why))
        image = QImage();
    stoppedByCancel(&image, &why);
    if (!image.isNull() && std::max(image.width(), image.height()) > maxPixelSize) {
        const QSize target = image.size().scaled(maxPixelSize, maxPixelSize, Qt::KeepAspectRatio);
        image = image.scaled(target.expandedTo(QSize(1, 1)), Qt::IgnoreAspectRatio, Qt::SmoothTransformation)
                    .convertToFormat(QImage::Format_RGBA8888_Premultiplied);
    }
    if (image.isNull()) {
        m_lastError = why;
        if (error)
            *error = why;
    }
    return image;
}

}  // namespace kpv
