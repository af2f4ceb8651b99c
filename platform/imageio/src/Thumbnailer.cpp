#include "imageio/Thumbnailer.h"

#include "Encoders.h"
#include "Metadata.h"
#include "MPngChunks.h"
#include "imageio/FileAccess.h"
#include "imageio/ImageDestination.h"
#include "imageio/ImageProperties.h"
#include "imageio/ImageSource.h"
#include "imageio/Orientation.h"
#include "foundation/FileNames.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QMutex>
#include <QStandardPaths>
#include <QUrl>

#include <algorithm>
#include <array>
#include <cstdlib>
#include <cerrno>
#include <optional>
#include <utility>
#include <vector>

#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

namespace kpv {
namespace {

// A file's absolute name as the cache names it, its bytes kept (the name may not be UTF-8).
QString cacheFileName(const QString& path)
{
    return QDir::cleanPath(absoluteFileName(path));
}

// The file's URI as the shared cache names it: its very bytes escaped.
QByteArray fileUri(const QString& absolute)
{
    return fileUrlFromName(absolute).toEncoded();
}

QMutex g_cacheMutex;
QString g_cacheOverride;

// The tEXt chunks of a PNG file that come before its image data. Qt's reader folds keys that
// hold a colon, and the cache's keys ("Thumb::URI") do, so the chunks are walked here.
QHash<QByteArray, QByteArray> pngTextChunks(QFile& file)
{
    QHash<QByteArray, QByteArray> texts;
    const QByteArray head = file.read(64 * 1024);
    if (!head.startsWith("\x89PNG\r\n\x1A\n"))
        return texts;
    MPngWalkChunksInMemory(reinterpret_cast<const uint8_t*>(head.constData()), size_t(head.size()),
                           [&](const MPngChunk& chunk) {
                               if (chunk.is("IDAT"))
                                   return false;
                               if (chunk.is("tEXt")) {
                                   const QByteArray body = head.mid(chunk.offset + 8, qsizetype(chunk.length));
                                   const qsizetype nul = body.indexOf('\0');
                                   if (nul > 0)
                                       texts.insert(body.left(nul), body.mid(nul + 1));
                               }
                               return true;
                           });
    return texts;
}

// Whether a cache entry's texts name the file as it is: its address, its modification time (in
// whole seconds) and, when the entry says it, its size. A file another program was still writing
// when it was thumbnailed ends within the same second with another size.
bool namesFileAsItIs(const QHash<QByteArray, QByteArray>& texts, const QByteArray& uri, qint64 mtime, qint64 bytes)
{
    return texts.value("Thumb::URI") == uri && texts.value("Thumb::MTime") == QByteArray::number(mtime) &&
           (!texts.contains("Thumb::Size") || texts.value("Thumb::Size") == QByteArray::number(bytes));
}

quint32 crc32(const QByteArray& bytes)
{
    static const auto table = [] {
        std::array<quint32, 256> t{};
        for (quint32 n = 0; n < 256; ++n) {
            quint32 c = n;
            for (int k = 0; k < 8; ++k)
                c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
            t[n] = c;
        }
        return t;
    }();
    quint32 c = 0xFFFFFFFFu;
    for (const char b : bytes)
        c = table[(c ^ quint8(b)) & 0xFF] ^ (c >> 8);
    return c ^ 0xFFFFFFFFu;
}

// Whether the PNG is whole: every chunk inside the bytes with the check sum it was written with,
// up to its end chunk. An entry another program was writing when it crashed or the disk filled
// ends early, and one damaged on the disk fails its sums; either would show as a picture with
// rows missing, and is made again instead.
bool isWholePng(const QByteArray& png)
{
    bool ended = false;
    bool sound = true;
    const MPngWalkEnd walked =
        MPngWalkChunksInMemory(reinterpret_cast<const uint8_t*>(png.constData()), size_t(png.size()),
                               [&](const MPngChunk& chunk) {
                                   const QByteArray typeAndData = png.mid(chunk.offset + 4, qsizetype(chunk.length) + 4);
                                   const QByteArray stored = png.mid(chunk.offset + 8 + qsizetype(chunk.length), 4);
                                   quint32 sum = 0;
                                   for (const char b : stored)
                                       sum = (sum << 8) | quint8(b);
                                   sound = stored.size() == 4 && crc32(typeAndData) == sum;
                                   ended = chunk.is("IEND");
                                   return sound && !ended;
                               });
    return sound && ended && walked != MPNG_WALK_BROKEN;
}

// When a file last changed in any way, as the kernel keeps it: its bytes written, its dates or
// attributes set, another file renamed over its name. Unlike the modification date, no program
// can set it back.
struct ChangeTime {
    qint64 secs = 0;
    long nsec = 0;
    bool operator<(const ChangeTime& o) const { return secs != o.secs ? secs < o.secs : nsec < o.nsec; }
};

// The change time of the file at `path` (links followed), and which file it is; nothing when
// there is none.
std::optional<std::pair<ChangeTime, FileIdentity>> fileChange(const QString& path)
{
    struct stat st {};
    if (::stat(encodeFileName(path).constData(), &st) != 0)
        return std::nullopt;
    FileIdentity which;
    which.device = std::uint64_t(st.st_dev);
    which.inode = std::uint64_t(st.st_ino);
    return std::pair(ChangeTime{qint64(st.st_ctim.tv_sec), long(st.st_ctim.tv_nsec)}, which);
}

// The bytes of the cache entry when it names the file as it is and is whole; empty otherwise.
// Date and size do not tell two files apart: another file copied to the path with its date kept,
// or written there and dated back, has them too. So an entry written before the file last changed
// (`changed`) is no longer taken to show it.
QByteArray freshWholeEntry(const QString& cacheFile, const QByteArray& uri, qint64 mtime, qint64 bytes,
                           const ChangeTime& changed)
{
    QFile file(cacheFile);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    struct stat entry {};
    if (::fstat(file.handle(), &entry) != 0 ||
        ChangeTime{qint64(entry.st_mtim.tv_sec), long(entry.st_mtim.tv_nsec)} < changed)
        return {};
    if (!namesFileAsItIs(pngTextChunks(file), uri, mtime, bytes))
        return {};
    constexpr qint64 kMaxEntryBytes = 8 << 20;
    if (file.size() > kMaxEntryBytes || !file.seek(0))
        return {};
    QByteArray png = file.readAll();
    return isWholePng(png) ? png : QByteArray();
}

QImage freshCacheEntry(const QString& cacheFile, const QByteArray& uri, qint64 mtime, qint64 bytes,
                       const ChangeTime& changed)
{
    const QByteArray png = freshWholeEntry(cacheFile, uri, mtime, bytes, changed);
    if (png.isEmpty())
        return {};
    // Read with our own reader, not the platform's plug-ins: the start-up picture comes from
    // here on a thread of its own, before the application object exists.
    std::unique_ptr<ImageSource> source = ImageSource::createWithData(png);
    if (!source)
        return {};
    const QVariantMap properties = source->propertiesAtIndex(0);
    const int width = properties.value(QLatin1String(kCGImagePropertyPixelWidth)).toInt();
    const int height = properties.value(QLatin1String(kCGImagePropertyPixelHeight)).toInt();
    if (width < 1 || height < 1 || width > 1024 || height > 1024)
        return {};
    return source->createImageAtIndex(0);
}

// EXIF orientation (TIFF 6.0 tag 274) as the turn that makes a stored picture upright: a quarter
// turn clockwise by the angle, then a mirror left to right.
QImage applyOrientation(const QImage& image, int orientation)
{
    const OrientationTurn turn = orientationTurn(orientation);
    return turnedUpright(image, turn.angle, turn.mirrored);
}

// The desktop's thumbnailers store their pictures upright. Every other thumbnail keeps the file's
// stored orientation (the viewer turns it), so a cached one is turned back: the inverse of the
// orientation is the orientation itself except for the two quarter turns, each the other's inverse.
QImage toStoredOrientation(const QImage& upright, int orientation)
{
    return applyOrientation(upright, orientation == 6 ? 8 : orientation == 8 ? 6 : orientation);
}

// The PNG with uncompressed text chunks (keyword, value) right after its header chunk, where
// every reader of the cache looks for them; empty when the bytes are no PNG.
QByteArray withTextChunks(const QByteArray& png, const std::vector<std::pair<QByteArray, QByteArray>>& texts)
{
    constexpr qsizetype kHeaderEnd = 8 + 12 + 13; // signature, then IHDR with its 13 bytes of data
    if (png.size() < kHeaderEnd || !png.startsWith("\x89PNG\r\n\x1A\n") || png.mid(12, 4) != "IHDR")
        return {};
    QByteArray out = png.left(kHeaderEnd);
    auto be32 = [&out](quint32 v) {
        for (int shift = 24; shift >= 0; shift -= 8)
            out.append(char((v >> shift) & 0xFF));
    };
    for (const auto& [keyword, value] : texts) {
        const QByteArray chunk = "tEXt" + keyword + '\0' + value;
        be32(quint32(chunk.size() - 4));
        out += chunk;
        be32(crc32(chunk));
    }
    return out + png.mid(kHeaderEnd);
}

// Writes a cache entry whole under another name in its folder (private, as the entries are) and
// renames it over `target`: a reader never sees half an entry. It is not forced to the disk: an
// entry a crash loses is made again, and a folder's visit writes many.
bool writeEntry(const QString& target, const QByteArray& bytes)
{
    QByteArray name = QFile::encodeName(target) + ".XXXXXX";
    const int fd = ::mkstemp(name.data());
    if (fd < 0)
        return false;
    const char* at = bytes.constData();
    qsizetype left = bytes.size();
    bool written = true;
    while (written && left > 0) {
        const ssize_t n = ::write(fd, at, size_t(left));
        if (n < 0 && errno == EINTR)
            continue;
        written = n > 0;
        at += written ? n : 0;
        left -= written ? n : 0;
    }
    written = ::close(fd) == 0 && written;
    if (written && ::rename(name.constData(), QFile::encodeName(target).constData()) == 0)
        return true;
    ::unlink(name.constData());
    return false;
}

// The thumbnail stored in a file, as far as it shows the file's picture of `stored` pixels (its
// stored orientation). A camera pads the thumbnail of a photo of another shape with black bars
// (a 3:2 photo in 160 x 120): the bars are cut away. A thumbnail of another shape without bars was
// left behind by a program that cropped or turned the picture and shows what is no longer there:
// it is not used (null).
QImage thumbnailOfPicture(const QImage& thumb, QSize stored)
{
    if (thumb.isNull() || stored.isEmpty())
        return thumb;
    const QSize content = stored.scaled(thumb.size(), Qt::KeepAspectRatio).expandedTo(QSize(1, 1));
    // Rounding, and a camera's thumbnail of a size of its own, leave a pixel or so either way.
    const auto near = [](int a, int b) { return std::abs(a - b) <= std::max(1, std::max(a, b) / 50); };
    if (near(content.width(), thumb.width()) && near(content.height(), thumb.height()))
        return thumb;
    const QRect kept((thumb.width() - content.width()) / 2, (thumb.height() - content.height()) / 2, content.width(),
                     content.height());
    // Bars are dark all through; the row or column touching the picture may carry the picture's
    // colours into them (JPEG blocks), and a bar may be a pixel off the middle.
    const QImage rgb = thumb.convertToFormat(QImage::Format_RGB32);
    const auto dark = [&rgb](int x, int y) {
        const QRgb c = rgb.pixel(x, y);
        return std::max({qRed(c), qGreen(c), qBlue(c)}) <= 48;
    };
    const int bandX = kept.left() - 2, bandY = kept.top() - 2;
    for (int y = 0; y < rgb.height(); ++y) {
        for (int x = 0; x < rgb.width(); ++x) {
            const bool inBar = x < bandX || x > kept.right() + 2 || y < bandY || y > kept.bottom() + 2;
            if (inBar && !dark(x, y))
                return {};
        }
    }
    return thumb.copy(kept);
}

QImage fitted(QImage image, int maxPixelSize)
{
    if (image.isNull())
        return image;
    if (std::max(image.width(), image.height()) > maxPixelSize)
        image = image.scaled(image.size().scaled(maxPixelSize, maxPixelSize, Qt::KeepAspectRatio).expandedTo(QSize(1, 1)),
                             Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    return image.convertToFormat(QImage::Format_RGBA8888_Premultiplied);
}

}  // namespace

QString Thumbnailer::cacheDirectory()
{
    QMutexLocker lock(&g_cacheMutex);
    if (!g_cacheOverride.isEmpty())
        return g_cacheOverride;
    return QStandardPaths::writableLocation(QStandardPaths::GenericCacheLocation) + QStringLiteral("/thumbnails");
}

void Thumbnailer::setCacheDirectoryForTesting(const QString& folder)
{
    QMutexLocker lock(&g_cacheMutex);
    g_cacheOverride = folder;
}

QString Thumbnailer::cachePathFor(const QString& path, const QString& sizeFolder)
{
    const QByteArray uri = fileUri(cacheFileName(path));
    const QByteArray md5 = QCryptographicHash::hash(uri, QCryptographicHash::Md5).toHex();
    return cacheDirectory() + u'/' + sizeFolder + u'/' + QString::fromLatin1(md5) + QStringLiteral(".png");
}

namespace {

// A fresh entry of the shared cache for the file at the absolute path `file`, modified at `mtime`
// (whole seconds), `bytes` long and last changed at `changed`, upright as the cache keeps it; null
// without one.
QImage freshCachedThumbnail(const QString& file, qint64 mtime, qint64 bytes, const ChangeTime& changed,
                            int maxPixelSize)
{
    const QByteArray uri = fileUri(file);
    // The larger cached size first: it scales down to our box without losing detail.
    const char* folders[] = {maxPixelSize > 128 ? "large" : "normal", maxPixelSize > 128 ? "normal" : "large"};
    for (const char* folder : folders) {
        QImage cached =
            freshCacheEntry(Thumbnailer::cachePathFor(file, QString::fromLatin1(folder)), uri, mtime, bytes, changed);
        if (!cached.isNull())
            return cached;
    }
    return {};
}

QImage freshCachedThumbnail(const QString& path, const PathStatus& status, int maxPixelSize)
{
    const auto change = fileChange(path);
    if (!change)
        return {};
    return freshCachedThumbnail(cacheFileName(path), status.modified.toSecsSinceEpoch(), status.size, change->first,
                                maxPixelSize);
}

// With `decode` false only a picture that costs no decode of the image is answered: a fresh cache
// entry or the thumbnail stored in the file.
QImage makeThumbnail(const QString& path, int maxPixelSize, bool upright, bool decode = true)
{
    if (maxPixelSize <= 0)
        return {};
    const PathStatus status = pathStatus(path);
    if (!status.isRegularFile)
        return {};
    const QImage cached = freshCachedThumbnail(path, status, maxPixelSize);
    if (!cached.isNull() && upright)
        return fitted(cached, maxPixelSize);
    // Opened once for all that is needed of it. A large file is mapped, not read: its orientation
    // and its stored thumbnail cost the pages of its metadata.
    auto source = ImageSource::createWithFile(path);
    if (!cached.isNull()) {
        const int orientation =
            source ? source->propertiesAtIndex(0).value(QLatin1String(kCGImagePropertyOrientation), 1).toInt() : 1;
        return fitted(toStoredOrientation(cached, orientation), maxPixelSize);
    }
    if (!source)
        return {};
    QImage image = source->createThumbnailAtIndex(0, maxPixelSize, false);
    // The metadata is read only when something needs it: the stored thumbnail's check, the turn.
    const QVariantMap properties = !image.isNull() || upright ? source->propertiesAtIndex(0) : QVariantMap();
    if (!image.isNull())
        image = thumbnailOfPicture(image, QSize(properties.value(QLatin1String(kCGImagePropertyPixelWidth)).toInt(),
                                                properties.value(QLatin1String(kCGImagePropertyPixelHeight)).toInt()));
    if (image.isNull() && decode)
        image = source->createThumbnailAtIndex(0, maxPixelSize, true);
    if (upright && !image.isNull())
        image = applyOrientation(image, properties.value(QLatin1String(kCGImagePropertyOrientation)).toInt());
    return fitted(image, maxPixelSize);
}

}  // namespace

void Thumbnailer::storeThumbnail(const QString& path, const QImage& image, int orientation, qint64 modifiedSecs,
                                 qint64 fileBytes)
{
    if (image.isNull() || std::max(image.width(), image.height()) < 256)
        return;
    const PathStatus status = pathStatus(path);
    const QString file = cacheFileName(path);
    const QString cache = cacheDirectory();
    // The cache's own pictures are not thumbnailed, and a file changed since it was read would be
    // named with a time that is no longer its own.
    if (file.startsWith(cache + u'/') || !status.isRegularFile || status.modified.toSecsSinceEpoch() != modifiedSecs ||
        status.size != fileBytes)
        return;
    const QString target = cachePathFor(file, QStringLiteral("large"));
    const QByteArray uri = fileUri(file);
    // A fresh entry is there already (made on an earlier visit): nothing to encode or write. One
    // that is not whole, or older than the file, is written over.
    const auto change = fileChange(path);
    if (!change || !freshWholeEntry(target, uri, modifiedSecs, fileBytes, change->first).isEmpty())
        return;
    const QString folder = QFileInfo(target).path();
    // Private folders, as the desktop keeps them: thumbnails show what the pictures show.
    if (!QDir().mkpath(folder))
        return;
    QFile::setPermissions(cache, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    QFile::setPermissions(folder, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    const QImage picture = fitted(applyOrientation(image, orientation), 256).convertToFormat(QImage::Format_RGBA8888);
    // Quick to make, as thumbnails are made while the user browses: the rows stored as they are
    // (deflating them costs several times the rest of the encode, and inflating them costs every
    // later visit), and no alpha for an opaque picture, as most photos are.
    imageio_detail::EncodeOptions options;
    options.hasAlpha = ImageDestination::hasTransparency(picture);
    options.pngCompressionLevel = 0;
    QByteArray encoded;
    if (picture.isNull() || !imageio_detail::encodePng(picture, options, &encoded, nullptr))
        return;
    const QByteArray png = withTextChunks(encoded, {{"Thumb::URI", uri},
                                                         {"Thumb::MTime", QByteArray::number(modifiedSecs)},
                                                         {"Thumb::Size", QByteArray::number(fileBytes)},
                                                         {"Software", "Kestrane Photo Viewer"}});
    if (png.isEmpty())
        return;
    writeEntry(target, png);
}

QImage Thumbnailer::thumbnail(const QString& path, int maxPixelSize)
{
    return makeThumbnail(path, maxPixelSize, false);
}

QImage Thumbnailer::cachedThumbnail(const QString& path, int maxPixelSize, int orientation)
{
    if (maxPixelSize <= 0)
        return {};
    const PathStatus status = pathStatus(path);
    if (!status.isRegularFile)
        return {};
    const QImage cached = freshCachedThumbnail(path, status, maxPixelSize);
    return cached.isNull() ? cached : fitted(toStoredOrientation(cached, orientation), maxPixelSize);
}

QImage Thumbnailer::cachedThumbnail(const QString& path, int maxPixelSize, int orientation, const FileIdentity& identity)
{
    if (!identity.isValid())
        return cachedThumbnail(path, maxPixelSize, orientation);
    if (maxPixelSize <= 0)
        return {};
    // Another file at the path now (the caller's was replaced since it opened it): the entry
    // cannot be checked against the caller's file, whose change time is not known.
    const auto change = fileChange(path);
    if (!change || change->second.device != identity.device || change->second.inode != identity.inode)
        return {};
    // The cache names whole seconds, rounded down as the file's time is.
    const QImage cached = freshCachedThumbnail(cacheFileName(path), qint64(identity.modifiedSecs),
                                               identity.size, change->first, maxPixelSize);
    return cached.isNull() ? cached : fitted(toStoredOrientation(cached, orientation), maxPixelSize);
}

QImage Thumbnailer::storedThumbnail(const QString& path, int maxPixelSize)
{
    return makeThumbnail(path, maxPixelSize, false, false);
}

QImage Thumbnailer::uprightThumbnail(const QString& path, int maxPixelSize)
{
    return makeThumbnail(path, maxPixelSize, true);
}

}  // namespace kpv
