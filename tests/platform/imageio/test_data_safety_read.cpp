// Opening files for decoding: only regular files are read, nothing blocks, and the identity read
// with the bytes tells a later replacement apart.

#include "imageio/FileAccess.h"
#include "imageio/ImageSource.h"
#include "imageio_support.h"
#include "imageio/ImageProperties.h"
#include "../../../platform/imageio/src/Metadata.h"

#include <exiv2/exiv2.hpp>

#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <functional>
#include <random>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

using namespace kpv;

// A small JPEG with the EXIF entries `fill` sets, written through the metadata library; empty
// when it cannot be made.
QByteArray jpegWithExif(const std::function<void(Exiv2::ExifData &)> &fill)
{
    const QByteArray bytes = test::referenceJpeg(test::pattern(32, 16, false), 90, false, 0);
    auto image = Exiv2::ImageFactory::open(reinterpret_cast<const Exiv2::byte *>(bytes.constData()), long(bytes.size()));
    if (!image.get())
        return {};
    Exiv2::ExifData exif;
    fill(exif);
    image->setExifData(exif);
    image->writeMetadata();
    Exiv2::BasicIo &io = image->io();
    io.seek(0, Exiv2::BasicIo::beg);
    const Exiv2::DataBuf written = io.read(long(io.size()));
    return QByteArray(reinterpret_cast<const char *>(written.pData_), int(written.size_));
}

TEST(FileAccess, OnlyRegularFilesAreReadAndNothingBlocks)
{
    QTemporaryDir dir;
    const QString fifo = dir.filePath("x.jpg");
    ASSERT_EQ(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    QByteArray data;
    QString error;
    // Without a writer a blocking open would never return.
    EXPECT_FALSE(readRegularFile(fifo, 1 << 20, &data, &error));
    EXPECT_TRUE(error.contains("not a regular file")) << error.toStdString();
    EXPECT_FALSE(ImageSource::createWithFile(fifo, &error));
    EXPECT_TRUE(error.contains("not a regular file")) << error.toStdString();

    EXPECT_FALSE(readRegularFile(QStringLiteral("/dev/zero"), 1 << 20, &data, &error));
    EXPECT_FALSE(readRegularFile(dir.path(), 1 << 20, &data, &error));
    EXPECT_FALSE(readRegularFile(dir.filePath("missing.png"), 1 << 20, &data, &error));

    const QString big = test::writeFile(dir, "big.png", QByteArray(4096, 'x'));
    EXPECT_FALSE(readRegularFile(big, 4095, &data, &error));
    EXPECT_TRUE(error.contains("too large"));
}

// A photo open for decoding that another program cuts short: the decode fails with the reason
// instead of the process dying on the missing pages, and an untouched photo decodes from the same
// kind of opening as before.
TEST(FileAccess, APhotoCutShortWhileOpenFailsItsDecodeNotTheProgram)
{
    QTemporaryDir dir;
    // Noise at the best quality: far larger than the files read rather than mapped.
    QImage noise(1200, 900, QImage::Format_RGBA8888);
    std::mt19937 random(3);
    for (int y = 0; y < noise.height(); ++y) {
        auto* row = reinterpret_cast<quint32*>(noise.scanLine(y));
        for (int x = 0; x < noise.width(); ++x)
            row[x] = random() | 0xFF000000u;
    }
    const QByteArray jpeg = test::referenceJpeg(noise, 100, false, 0);
    ASSERT_GT(jpeg.size(), 256 * 1024);
    const QString path = test::writeFile(dir, "photo.jpg", jpeg);
    int opened = 0;
    setFileAccessObserverForTesting([&](const QString& file, const char*) { opened += file == path; });

    QString error;
    auto intact = ImageSource::createWithFile(path, &error);
    ASSERT_TRUE(intact) << error.toStdString();
    EXPECT_FALSE(intact->createThumbnailAtIndex(0, 300, true, &error).isNull()) << error.toStdString();

    auto source = ImageSource::createWithFile(path, &error);
    ASSERT_TRUE(source) << error.toStdString();
    ASSERT_EQ(::truncate(QFile::encodeName(path).constData(), 3000), 0);
    EXPECT_TRUE(source->createImageAtIndex(0, &error).isNull());
    EXPECT_TRUE(error.contains("cut short")) << error.toStdString();
    EXPECT_TRUE(source->createThumbnailAtIndex(0, 300, true, &error).isNull());
    EXPECT_TRUE(error.contains("cut short")) << error.toStdString();
    // The source opened before the cut was cut too: the second opening shared its mapping.
    EXPECT_TRUE(intact->createImageAtIndex(0, &error).isNull());
    EXPECT_EQ(opened, 1);
    // Once cut, the file is opened again, as it is now, not served from the cut mapping.
    ImageSource::createWithFile(path, &error);
    setFileAccessObserverForTesting(nullptr);
    EXPECT_EQ(opened, 2);
}

TEST(FileAccess, IdentityTellsAReplacementFromTheFileThatWasRead)
{
    QTemporaryDir dir;
    const QString path = test::writeFile(dir, "a.png", "first version");
    QByteArray data;
    FileIdentity read;
    ASSERT_TRUE(readRegularFile(path, 1 << 20, &data, nullptr, &read));
    EXPECT_EQ(data, "first version");
    EXPECT_TRUE(read.isValid());
    EXPECT_EQ(fileIdentity(path), read);

    // Same size, same time, another inode: replaced by rename.
    const QString other = test::writeFile(dir, "b.png", "other version");
    struct stat st {};
    ::stat(QFile::encodeName(path).constData(), &st);
    struct timespec times[2] = {st.st_atim, st.st_mtim};
    ::utimensat(AT_FDCWD, QFile::encodeName(other).constData(), times, 0);
    ASSERT_EQ(::rename(QFile::encodeName(other).constData(), QFile::encodeName(path).constData()), 0);
    EXPECT_NE(fileIdentity(path), read);
    EXPECT_FALSE(fileIdentity(dir.filePath("gone.png")).isValid());
}

// A camera's, a lens's or an author's name longer than 32 characters is shown as it is, not
// left out of the photo's information.
TEST(PhotoMetadata, LongNamesAreKept)
{
    const std::string model = "Kestrel Optics Field Camera Mark II, Expedition Edition";
    const std::string lens = "Kestrel 24-105 mm f/4 stabilised zoom with weather sealing";
    const QByteArray photo = jpegWithExif([&](Exiv2::ExifData &exif) {
        exif["Exif.Image.Model"] = model;
        exif["Exif.Photo.LensModel"] = lens;
        exif["Exif.Image.Artist"] = std::string(5000, 'a'); // past any length a row could show
    });
    ASSERT_FALSE(photo.isEmpty());
    const QVariantMap properties = imageio_detail::readMetadata(photo);
    const QVariantMap tiff = properties.value(QLatin1String(kCGImagePropertyTIFFDictionary)).toMap();
    EXPECT_EQ(tiff.value(QLatin1String(kCGImagePropertyTIFFModel)).toString().toStdString(), model);
    EXPECT_FALSE(tiff.contains(QStringLiteral("Artist")));
    const QVariantMap aux = properties.value(QLatin1String(kCGImagePropertyExifAuxDictionary)).toMap();
    EXPECT_EQ(aux.value(QLatin1String(kCGImagePropertyExifAuxLensModel)).toString().toStdString(), lens);
}

// A photo whose colour profile is damaged (its pieces do not add up to the size it states) keeps
// its EXIF block, wherever the profile stands: it shows upright, with its camera.
TEST(PhotoMetadata, DamagedColourProfileLeavesTheExifBlock)
{
    const QByteArray photo = jpegWithExif([](Exiv2::ExifData &exif) {
        exif["Exif.Image.Orientation"] = uint16_t(6);
        exif["Exif.Image.Model"] = std::string("Field Camera");
    });
    ASSERT_FALSE(photo.isEmpty());
    const qsizetype exifAt = photo.indexOf(QByteArray("\xFF\xE1", 2));
    ASSERT_GT(exifAt, 0);
    // A profile in one piece that states 4096 bytes and holds 500.
    const QByteArray body = QByteArray("ICC_PROFILE\0\1\1\0\0\x10\0", 18) + QByteArray(496, '\0');
    const QByteArray profile = QByteArray("\xFF\xE2\x02\x04", 4) + body;
    const qsizetype exifEnd = exifAt + 2 + ((uchar(photo[exifAt + 2]) << 8) | uchar(photo[exifAt + 3]));
    for (const QByteArray &damaged : {photo.left(exifAt) + profile + photo.mid(exifAt), photo.left(exifEnd) + profile + photo.mid(exifEnd)}) {
        QString error;
        const auto source = ImageSource::createWithData(damaged, &error);
        ASSERT_TRUE(source) << error.toStdString();
        const QVariantMap properties = source->propertiesAtIndex(0);
        EXPECT_EQ(properties.value(QLatin1String(kCGImagePropertyOrientation)).toInt(), 6);
        const QVariantMap tiff = properties.value(QLatin1String(kCGImagePropertyTIFFDictionary)).toMap();
        EXPECT_EQ(tiff.value(QLatin1String(kCGImagePropertyTIFFModel)).toString(), QStringLiteral("Field Camera"));
    }
}

// Bytes that the metadata library takes for a video container are not given to it: its parsers
// of those spend many seconds of processor time on a few hostile bytes (this head, found by
// fuzzing, held the reader for over ten), and no picture is such a container. Pictures are read
// as before.
TEST(HostileMetadata, VideoContainersAreNotParsed)
{
    static const unsigned char quickTimeHead[] = {
          0x00, 0xef, 0x00, 0x14, 0x66, 0x74, 0x79, 0x70, 0x6a, 0x70, 0x32, 0x20,
          0x00, 0x00, 0x00, 0x00, 0x6a, 0x70, 0x32, 0x20, 0x00, 0x00, 0x00, 0x4f,
          0x6a, 0x70, 0x32, 0x68, 0x00, 0x00, 0x00, 0x16, 0x69, 0x68, 0x64, 0x47,
          0x49, 0x46, 0x38, 0x39, 0x61, 0x02, 0x00, 0x02, 0x5a, 0x80, 0x00, 0x00,
          0x00, 0x00, 0x00, 0xff, 0xff, 0xff, 0x21, 0xf9, 0x04, 0x01, 0x0a, 0x00,
          0x01, 0x00, 0x2c, 0x32, 0x68, 0x00, 0x00, 0x00, 0x16, 0x69, 0x68, 0x64,
          0x47, 0x49, 0x46, 0x38, 0x39, 0x61, 0x02, 0x00, 0x02, 0x5a, 0x80, 0x00,
          0x00, 0x00, 0x00, 0x00, 0xff, 0xff, 0xff, 0x21, 0xf9, 0x04, 0x01, 0x0a,
          0x00, 0x01, 0x00, 0x2c, 0x00, 0x00, 0x00, 0x00, 0x02, 0x00, 0x02, 0x00,
          0x00, 0x02, 0x02, 0x84, 0x51, 0x00, 0xff, 0x04, 0x01, 0x0a, 0x00, 0x01,
          0x00, 0x2c, 0x00, 0x00, 0x00, 0x00, 0x02, 0x00, 0x02, 0x00, 0x00, 0x02,
          0x02, 0x84, 0x51, 0x00, 0x3b
    };
    const QByteArray quickTime(reinterpret_cast<const char*>(quickTimeHead), int(sizeof quickTimeHead));
    EXPECT_FALSE(imageio_detail::readOrientation(quickTime).has_value());
    EXPECT_TRUE(imageio_detail::readMetadata(quickTime).isEmpty());
    EXPECT_TRUE(imageio_detail::readExifThumbnail(quickTime, 64).isNull());

    QByteArray riff("RIFF\x40\0\0\0AVI LIST", 16);
    riff.append(QByteArray(64, '\xff'));
    EXPECT_FALSE(imageio_detail::metadataReadable(riff));

    const QByteArray jpeg = test::referenceJpeg(test::pattern(32, 16, false), 90, false, 0);
    EXPECT_TRUE(imageio_detail::metadataReadable(jpeg));
    EXPECT_EQ(imageio_detail::readOrientation(jpeg), std::optional<int>(1));
}

} // namespace
