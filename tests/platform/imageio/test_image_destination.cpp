// Writing: round trips of every format, orientation and resolution carried through, TIFF
// compressions, and failed saves that leave the existing file untouched. Also the thumbnailer.

#include "imageio/ContentTypes.h"
#include "imageio/ImageDestination.h"
#include "imageio/ImageProperties.h"
#include "imageio/ImageSource.h"
#include "imageio/Thumbnailer.h"
#include "foundation/FileNames.h"
#include "imageio_support.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QUrl>

#include <gtest/gtest.h>

#include <csignal>
#include <cstdio>
#include <sys/resource.h>

using namespace kpv;
using namespace kpv::test;

namespace {

QVariantMap withOrientationAndDpi(int orientation, double dpi)
{
    QVariantMap p;
    p.insert(kCGImagePropertyOrientation, orientation);
    p.insert(kCGImagePropertyDPIWidth, dpi);
    p.insert(kCGImagePropertyDPIHeight, dpi);
    return p;
}

struct WriteCase {
    const char* name;
    const char* file;
    int tolerance;  // 0 for lossless formats
    int compression;
    double quality;
    bool alpha;
};

class RoundTrip : public ::testing::TestWithParam<WriteCase> {};

TEST_P(RoundTrip, PixelsOrientationAndResolutionComeBack)
{
    const WriteCase c = GetParam();
    QTemporaryDir dir;
    const QString path = dir.filePath(QString::fromLatin1(c.file));
    const QImage original = pattern(48, 32, c.alpha);
    QVariantMap props = withOrientationAndDpi(6, 300);
    if (c.compression) {
        QVariantMap tiff;
        tiff.insert(kCGImagePropertyTIFFCompression, c.compression);
        props.insert(kCGImagePropertyTIFFDictionary, tiff);
    }
    if (c.quality > 0)
        props.insert(kCGImageDestinationLossyCompressionQuality, c.quality);
    QString error;
    ASSERT_TRUE(ImageDestination::writeImage(original, path, ImageDestination::typeForPath(path), props, &error))
        << error.toStdString();

    auto source = ImageSource::createWithFile(path, &error);
    ASSERT_TRUE(source) << error.toStdString();
    EXPECT_EQ(source->type(), ImageDestination::typeForPath(path));
    const QImage back = source->createImageAtIndex(0);
    ASSERT_EQ(back.size(), original.size());
    EXPECT_LE(maxChannelDifference(back, original), c.tolerance);
    const QVariantMap read = source->propertiesAtIndex(0);
    const bool carriesOrientation = QByteArray(c.file).endsWith("jpg") || QByteArray(c.file).endsWith("png") ||
                                    QByteArray(c.file).endsWith("tif");
    if (carriesOrientation)
        EXPECT_EQ(read.value(kCGImagePropertyOrientation).toInt(), 6);
    if (!QByteArray(c.file).endsWith("jp2"))
        EXPECT_NEAR(read.value(kCGImagePropertyDPIWidth).toDouble(), 300.0, 0.5);
}

INSTANTIATE_TEST_SUITE_P(
    Formats, RoundTrip,
    ::testing::Values(WriteCase{"jpeg", "a.jpg", 40, 0, 0.95, false}, WriteCase{"jpegUpperCase", "b.JPEG", 40, 0, 0.9, false},
                      WriteCase{"png", "c.png", 1, 0, 0, true}, WriteCase{"pngOpaque", "c2.png", 0, 0, 0, false},
                      WriteCase{"bmp", "d.bmp", 0, 0, 0, false}, WriteCase{"tiffNone", "e.tif", 1, 1, 0, true},
                      WriteCase{"tiffLzw", "f.tiff", 1, 5, 0, true}, WriteCase{"tiffPackBits", "g.tif", 0, 32773, 0, false},
                      WriteCase{"jp2Lossless", "h.jp2", 1, 0, 1.0, true}, WriteCase{"jp2Lossy", "i.jp2", 60, 0, 0.8, false}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(ImageDestinationTypes, OnlyTheKnownExtensionsWrite)
{
    EXPECT_EQ(ImageDestination::typeForPath(QStringLiteral("/x/photo.JPG")), ContentTypes::kJpeg);
    EXPECT_TRUE(ImageDestination::typeForPath(QStringLiteral("/x/anim.gif")).isEmpty());
    EXPECT_TRUE(ImageDestination::typeForPath(QStringLiteral("/x/noextension")).isEmpty());
    QTemporaryDir dir;
    EXPECT_FALSE(ImageDestination::writeImage(pattern(4, 4, false), dir.filePath(QStringLiteral("a.gif")),
                                              ImageDestination::typeForPath(QStringLiteral("a.gif")), {}));
    EXPECT_FALSE(QFileInfo::exists(dir.filePath(QStringLiteral("a.gif"))));
}

TEST(ImageDestinationSafety, AFailedSaveLeavesTheOriginalIntact)
{
    QTemporaryDir dir;
    const QString path = writeFile(dir, QStringLiteral("keep.jpg"), QByteArray("original bytes"));
    // JPEG cannot hold 70000 pixels across: the encoder fails after the file would have been opened.
    QImage wide(70000, 1, QImage::Format_RGBA8888_Premultiplied);
    wide.fill(Qt::white);
    QString error;
    EXPECT_FALSE(ImageDestination::writeImage(wide, path, ContentTypes::kJpeg, {}, &error));
    EXPECT_FALSE(error.isEmpty());
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    EXPECT_EQ(f.readAll(), QByteArray("original bytes"));
    // Nothing else was left behind in the folder.
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden).size(), 1);
    // A missing folder is a clear failure too.
    EXPECT_FALSE(ImageDestination::writeImage(pattern(4, 4, false), dir.filePath(QStringLiteral("no/such.png")),
                                              ContentTypes::kPng, {}, &error));
}

// A disk that fills up half-way through the write: the file being replaced keeps its bytes, no
// partial file is left, and the failure is reported (not a truncated file reported as saved).
TEST(ImageDestinationSafety, AFullDiskLeavesTheOriginalIntact)
{
    QTemporaryDir dir;
    const QString path = writeFile(dir, QStringLiteral("keep.png"), QByteArray("original bytes"));
    rlimit old{};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &old), 0);
    const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    const rlimit full{64, old.rlim_max};
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &full), 0);
    QString error;
    const bool written = ImageDestination::writeImage(pattern(64, 64, false), path, ContentTypes::kPng, {}, &error);
    setrlimit(RLIMIT_FSIZE, &old);
    std::signal(SIGXFSZ, oldHandler);
    EXPECT_FALSE(written);
    EXPECT_FALSE(error.isEmpty());
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    EXPECT_EQ(f.readAll(), QByteArray("original bytes"));
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden).size(), 1);
}

TEST(ImageDestinationMetadata, ExifEntriesAreCarriedIntoJpeg)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("exif.jpg"));
    QVariantMap exif;
    exif.insert(kCGImagePropertyExifFNumber, 2.8);
    exif.insert(kCGImagePropertyExifDateTimeOriginal, QStringLiteral("2024:05:06 07:08:09"));
    QVariantMap tiff;
    tiff.insert(kCGImagePropertyTIFFMake, QStringLiteral("Maker"));
    QVariantMap props = withOrientationAndDpi(1, 72);
    props.insert(kCGImagePropertyExifDictionary, exif);
    props.insert(kCGImagePropertyTIFFDictionary, tiff);
    ASSERT_TRUE(ImageDestination::writeImage(pattern(16, 16, false), path, ContentTypes::kJpeg, props));
    auto source = ImageSource::createWithFile(path);
    ASSERT_TRUE(source);
    const QVariantMap read = source->propertiesAtIndex(0);
    EXPECT_NEAR(read.value(kCGImagePropertyExifDictionary).toMap().value(kCGImagePropertyExifFNumber).toDouble(), 2.8, 1e-3);
    EXPECT_EQ(read.value(kCGImagePropertyExifDictionary).toMap().value(kCGImagePropertyExifDateTimeOriginal).toString(),
              QStringLiteral("2024:05:06 07:08:09"));
    EXPECT_EQ(read.value(kCGImagePropertyTIFFDictionary).toMap().value(kCGImagePropertyTIFFMake).toString(),
              QStringLiteral("Maker"));
}

TEST(ImageDestinationMetadata, EveryOrientationIsReadBackAndOthersAreNotWritten)
{
    QTemporaryDir dir;
    for (int orientation = 0; orientation <= 9; ++orientation) {
        const QString path = dir.filePath(QStringLiteral("o%1.jpg").arg(orientation));
        ASSERT_TRUE(ImageDestination::writeImage(pattern(8, 4, false), path, ContentTypes::kJpeg,
                                                 withOrientationAndDpi(orientation, 72)));
        auto source = ImageSource::createWithFile(path);
        ASSERT_TRUE(source);
        const QVariant read = source->propertiesAtIndex(0).value(kCGImagePropertyOrientation);
        if (orientation >= 1 && orientation <= 8)
            EXPECT_EQ(read.toInt(), orientation);
        else // no such orientation: none is written, and the picture reads as upright
            EXPECT_TRUE(!read.isValid() || read.toInt() == 1) << orientation << " read as " << read.toInt();
    }
}

TEST(ThumbnailerCache, FreshEntriesAreUsedAndStaleOnesIgnored)
{
    QTemporaryDir dir;
    Thumbnailer::setCacheDirectoryForTesting(dir.filePath(QStringLiteral("cache")));
    const QString photo = dir.filePath(QStringLiteral("photo.png"));
    ASSERT_TRUE(ImageDestination::writeImage(pattern(400, 200, false), photo, ContentTypes::kPng, {}));

    // Without a cache entry: a scaled decode of the file, and no stored picture.
    EXPECT_EQ(Thumbnailer::thumbnail(photo, 160).size(), QSize(160, 80));
    EXPECT_TRUE(Thumbnailer::storedThumbnail(photo, 160).isNull());
    const QString jpeg = dir.filePath(QStringLiteral("photo.jpg"));
    ASSERT_TRUE(ImageDestination::writeImage(pattern(400, 200, false), jpeg, ContentTypes::kJpeg, {}));
    EXPECT_TRUE(Thumbnailer::storedThumbnail(jpeg, 160).isNull());

    // A fresh cache entry (a plain red square) wins over decoding.
    const QString entry = Thumbnailer::cachePathFor(photo, QStringLiteral("large"));
    ASSERT_TRUE(QDir().mkpath(QFileInfo(entry).path()));
    QImage red(256, 256, QImage::Format_RGBA8888_Premultiplied);
    red.fill(Qt::red);
    const QByteArray uri = QUrl::fromLocalFile(photo).toEncoded();
    const QByteArray mtime = QByteArray::number(QFileInfo(photo).lastModified().toSecsSinceEpoch());
    // The desktop's thumbnailers store the file's address and time as PNG text chunks.
    ASSERT_FALSE(writeFile(dir, QStringLiteral("cache/large/") + QFileInfo(entry).fileName(),
                           referencePng(red, false, false, {{"Thumb::URI", uri}, {"Thumb::MTime", mtime}}))
                     .isEmpty());
    const QImage cached = Thumbnailer::thumbnail(photo, 160);
    EXPECT_EQ(cached.size(), QSize(160, 160));
    EXPECT_EQ(cached.pixel(10, 10), qRgba(255, 0, 0, 255));
    EXPECT_EQ(Thumbnailer::storedThumbnail(photo, 160), cached);

    // The same entry with another modification time is stale.
    writeFile(dir, QStringLiteral("cache/large/") + QFileInfo(entry).fileName(),
              referencePng(red, false, false, {{"Thumb::URI", uri}, {"Thumb::MTime", "12345"}}));
    EXPECT_EQ(Thumbnailer::thumbnail(photo, 160).size(), QSize(160, 80));
    EXPECT_TRUE(Thumbnailer::storedThumbnail(photo, 160).isNull());
    // So is one of the same second that names another size: made while another program was still
    // writing the file, which it finished within that second.
    const QByteArray bytes = QByteArray::number(QFileInfo(photo).size());
    for (const QByteArray &size : {QByteArray::number(QFileInfo(photo).size() / 2), bytes}) {
        writeFile(dir, QStringLiteral("cache/large/") + QFileInfo(entry).fileName(),
                  referencePng(red, false, false, {{"Thumb::URI", uri}, {"Thumb::MTime", mtime}, {"Thumb::Size", size}}));
        EXPECT_EQ(Thumbnailer::thumbnail(photo, 160).size(), size == bytes ? QSize(160, 160) : QSize(160, 80));
    }
    EXPECT_TRUE(Thumbnailer::thumbnail(dir.filePath(QStringLiteral("missing.png")), 160).isNull());
    EXPECT_TRUE(Thumbnailer::storedThumbnail(dir.filePath(QStringLiteral("missing.jpg")), 160).isNull());
    Thumbnailer::setCacheDirectoryForTesting(QString());
}

// An entry that names the file as it is but is not whole (cut short by a crash or a full disk
// while another program wrote it, or damaged on the disk) would show with rows missing: it is
// passed by for the file itself, and the next thumbnail made writes it over.
TEST(ThumbnailerCache, AnEntryCutShortOrDamagedIsNotShownAndIsMadeAgain)
{
    QTemporaryDir dir;
    Thumbnailer::setCacheDirectoryForTesting(dir.filePath(QStringLiteral("cache")));
    const QString photo = dir.filePath(QStringLiteral("photo.png"));
    ASSERT_TRUE(ImageDestination::writeImage(pattern(400, 200, false), photo, ContentTypes::kPng, {}));
    const PathStatus status = pathStatus(photo);
    const QString entry = Thumbnailer::cachePathFor(photo, QStringLiteral("large"));
    ASSERT_TRUE(QDir().mkpath(QFileInfo(entry).path()));
    QImage red(256, 256, QImage::Format_RGBA8888_Premultiplied);
    red.fill(Qt::red);
    const QByteArray whole =
        referencePng(red, false, false,
                     {{"Thumb::URI", QUrl::fromLocalFile(photo).toEncoded()},
                      {"Thumb::MTime", QByteArray::number(status.modified.toSecsSinceEpoch())}});
    QByteArray damaged = whole;
    damaged[damaged.size() - 40] = char(damaged[damaged.size() - 40] ^ 0x5A);
    for (const QByteArray& broken : {whole.left(whole.size() * 2 / 3), damaged}) {
        ASSERT_FALSE(writeFile(dir, QStringLiteral("cache/large/") + QFileInfo(entry).fileName(), broken).isEmpty());
        EXPECT_EQ(Thumbnailer::thumbnail(photo, 160).size(), QSize(160, 80)) << "the file's own picture";
        EXPECT_TRUE(Thumbnailer::cachedThumbnail(photo, 160, 1).isNull());
        Thumbnailer::storeThumbnail(photo, pattern(400, 200, false), 1, status.modified.toSecsSinceEpoch(), status.size);
        EXPECT_EQ(Thumbnailer::cachedThumbnail(photo, 160, 1).size(), QSize(160, 80)) << "made again";
    }
    Thumbnailer::setCacheDirectoryForTesting(QString());
}

// A name that is not UTF-8 (a disk from another system): the grid's thumbnail is made, and the
// shared cache keeps it under the URI of the name's very bytes, where it is found again.
TEST(ThumbnailerCache, ANameThatIsNotUtf8IsThumbnailedAndCachedUnderItsOwnBytes)
{
    QTemporaryDir dir;
    Thumbnailer::setCacheDirectoryForTesting(dir.filePath(QStringLiteral("cache")));
    const QString plain = dir.filePath(QStringLiteral("plain.jpg"));
    ASSERT_TRUE(ImageDestination::writeImage(pattern(400, 200, false), plain, ContentTypes::kJpeg, {}));
    const QByteArray bytes = QFile::encodeName(dir.path()) + "/caf\xe9.jpg";
    ASSERT_EQ(::rename(QFile::encodeName(plain).constData(), bytes.constData()), 0);
    const QString photo = decodeFileName(bytes);

    const QImage thumb = Thumbnailer::uprightThumbnail(photo, 160);
    EXPECT_EQ(thumb.size(), QSize(160, 80));
    const PathStatus status = pathStatus(photo);
    Thumbnailer::storeThumbnail(photo, pattern(400, 200, false), 1, status.modified.toSecsSinceEpoch(), status.size);
    const QByteArray uri = "file://" + bytes.toPercentEncoding("/!$&'()*+,;=:@~");
    EXPECT_TRUE(uri.endsWith("/caf%E9.jpg")) << uri.constData();
    const QString entry = Thumbnailer::cachePathFor(photo, QStringLiteral("large"));
    EXPECT_EQ(QFileInfo(entry).fileName(),
              QString::fromLatin1(QCryptographicHash::hash(uri, QCryptographicHash::Md5).toHex()) + QStringLiteral(".png"));
    EXPECT_TRUE(QFileInfo::exists(entry));
    // The entry alone in its folder (nothing left of its writing), private as the cache is.
    EXPECT_EQ(QDir(QFileInfo(entry).path()).entryList(QDir::Files | QDir::Hidden), QStringList{QFileInfo(entry).fileName()});
    EXPECT_EQ(QFileInfo(entry).permissions() & (QFile::ReadGroup | QFile::WriteGroup | QFile::ReadOther | QFile::WriteOther),
              QFileDevice::Permissions());
    EXPECT_EQ(Thumbnailer::cachedThumbnail(photo, 160, 1).size(), QSize(160, 80));
    Thumbnailer::setCacheDirectoryForTesting(QString());
}

TEST(ThumbnailerCache, CachedUprightEntriesComeBackInTheStoredOrientation)
{
    QTemporaryDir dir;
    Thumbnailer::setCacheDirectoryForTesting(dir.filePath(QStringLiteral("cache")));
    const QString photo = dir.filePath(QStringLiteral("turned.jpg"));
    ASSERT_TRUE(ImageDestination::writeImage(pattern(400, 200, false), photo, ContentTypes::kJpeg,
                                             withOrientationAndDpi(6, 72)));
    // The desktop's entry is upright: a portrait picture, red above blue. Orientation 6 shows
    // the stored picture turned a quarter clockwise, so stored, the red half is on the left.
    QImage upright(128, 256, QImage::Format_RGBA8888_Premultiplied);
    upright.fill(Qt::blue);
    for (int y = 0; y < 128; ++y)
        for (int x = 0; x < 128; ++x)
            upright.setPixel(x, y, qRgba(255, 0, 0, 255));
    // The desktop's fresh entry for a photo: its address and time as PNG text chunks.
    auto cacheUpright = [&](const QString& file) {
        const QString entry = Thumbnailer::cachePathFor(file, QStringLiteral("normal"));
        const QByteArray uri = QUrl::fromLocalFile(file).toEncoded();
        const QByteArray mtime = QByteArray::number(QFileInfo(file).lastModified().toSecsSinceEpoch());
        return QDir().mkpath(QFileInfo(entry).path()) &&
               !writeFile(dir, QStringLiteral("cache/normal/") + QFileInfo(entry).fileName(),
                          referencePng(upright, false, false, {{"Thumb::URI", uri}, {"Thumb::MTime", mtime}}))
                    .isEmpty();
    };
    // A cache hit reads only the metadata of the photo for its orientation: the same photo grown
    // past the size any whole-file read accepts (a sparse tail) comes back turned as well.
    const QString huge = dir.filePath(QStringLiteral("huge.jpg"));
    ASSERT_TRUE(QFile::copy(photo, huge));
    {
        QFile grow(huge);
        ASSERT_TRUE(grow.open(QIODevice::ReadWrite));
        ASSERT_TRUE(grow.resize(qint64(3) << 30));
    }
    // A large PNG's image data runs past the head; its orientation chunk is found all the same,
    // without reading the image data (here too a sparse tail no whole-file read accepts).
    const QString hugePng = dir.filePath(QStringLiteral("huge.png"));
    {
        QImage noise(600, 600, QImage::Format_RGBA8888_Premultiplied);
        quint32 state = 12345;
        for (int y = 0; y < noise.height(); ++y)
            for (int x = 0; x < noise.width(); ++x) {
                state = state * 1664525u + 1013904223u;
                noise.setPixel(x, y, qRgba(int(state >> 24), int(state >> 16) & 0xFF, int(state >> 8) & 0xFF, 255));
            }
        ASSERT_TRUE(ImageDestination::writeImage(noise, hugePng, ContentTypes::kPng, withOrientationAndDpi(6, 72)));
        ASSERT_GT(QFileInfo(hugePng).size(), 512 * 1024);
        QFile grow(hugePng);
        ASSERT_TRUE(grow.open(QIODevice::ReadWrite));
        ASSERT_TRUE(grow.resize(qint64(3) << 30));
    }
    for (const QString& file : {photo, huge, hugePng}) {
        SCOPED_TRACE(file.toStdString());
        ASSERT_TRUE(cacheUpright(file));
        const QImage thumb = Thumbnailer::thumbnail(file, 128);
        ASSERT_EQ(thumb.size(), QSize(128, 64));
        EXPECT_EQ(thumb.pixel(10, 32), qRgba(255, 0, 0, 255));
        EXPECT_EQ(thumb.pixel(118, 32), qRgba(0, 0, 255, 255));
    }

    // Without orientation in its head a photo keeps the cached picture as it is.
    const QString plain = dir.filePath(QStringLiteral("plain.jpg"));
    ASSERT_TRUE(ImageDestination::writeImage(pattern(400, 200, false), plain, ContentTypes::kJpeg, {}));
    ASSERT_TRUE(cacheUpright(plain));
    EXPECT_EQ(Thumbnailer::thumbnail(plain, 128).size(), QSize(64, 128));

    // Asked upright, the entry comes back as the desktop stored it.
    const QImage uprightThumb = Thumbnailer::uprightThumbnail(photo, 128);
    ASSERT_EQ(uprightThumb.size(), QSize(64, 128));
    EXPECT_EQ(uprightThumb.pixel(32, 10), qRgba(255, 0, 0, 255));
    EXPECT_EQ(uprightThumb.pixel(32, 118), qRgba(0, 0, 255, 255));
    Thumbnailer::setCacheDirectoryForTesting(QString());
}

TEST(ThumbnailerUpright, EveryOrientationIsTurnedAsTheViewerShowsIt)
{
    QTemporaryDir dir;
    Thumbnailer::setCacheDirectoryForTesting(dir.filePath(QStringLiteral("cache")));
    // Stored landscape, blue with a red top-left quarter.
    QImage stored(160, 80, QImage::Format_RGBA8888_Premultiplied);
    stored.fill(Qt::blue);
    for (int y = 0; y < 40; ++y)
        for (int x = 0; x < 80; ++x)
            stored.setPixel(x, y, qRgba(255, 0, 0, 255));
    // Where the red quarter is once upright (0 left/top, 1 right/bottom), and whether it turns.
    struct Expected { int column, row; bool portrait; };
    const Expected expected[9] = {{0, 0, false}, {0, 0, false}, {1, 0, false}, {1, 1, false}, {0, 1, false},
                                  {0, 0, true},  {1, 0, true},  {1, 1, true},  {0, 1, true}};
    for (int orientation = 1; orientation <= 8; ++orientation) {
        const QString photo = dir.filePath(QStringLiteral("o%1.jpg").arg(orientation));
        ASSERT_TRUE(ImageDestination::writeImage(stored, photo, ContentTypes::kJpeg,
                                                 withOrientationAndDpi(orientation, 72)));
        const QImage thumb = Thumbnailer::uprightThumbnail(photo, 160);
        const Expected e = expected[orientation];
        ASSERT_EQ(thumb.size(), e.portrait ? QSize(80, 160) : QSize(160, 80)) << "orientation " << orientation;
        const int w = thumb.width(), h = thumb.height();
        for (int row = 0; row < 2; ++row)
            for (int column = 0; column < 2; ++column) {
                const QRgb p = thumb.pixel(w / 4 + column * w / 2, h / 4 + row * h / 2);
                const bool red = qRed(p) > 200 && qBlue(p) < 60;
                EXPECT_EQ(red, column == e.column && row == e.row)
                    << "orientation " << orientation << " quarter " << column << "," << row;
            }
        // The plain thumbnail stays as stored.
        EXPECT_EQ(Thumbnailer::thumbnail(photo, 160).size(), QSize(160, 80));
    }
    Thumbnailer::setCacheDirectoryForTesting(QString());
}

}  // namespace
