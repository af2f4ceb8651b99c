// Batch resize: output naming, target sizes and decode scales, and whole runs over generated files
// (copy or re-encode, upright output, failures collected, cancellation, never overwriting).

#include "Edit/BatchResizeWorker.h"
#include "edit_test_support.h"

#include "foundation/Operation.h"
#include "imageio/DecodeBudget.h"
#include "imageio/ImageDestination.h"
#include "../../support/FaultInjection.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <exiv2/exiv2.hpp>
#include <gtest/gtest.h>

namespace {

using namespace BatchResizeKeys;

QVariantMap classicConfig(int w, int h, const QString &dest)
{
    return {{kClassicSizeType, true},   {kClassicSizeWidth, w},    {kClassicSizeHeight, h},
            {kCustomSizeUnitType, 0},   {kCustomSizeWidth, 1024},  {kCustomSizeHeight, 768},
            {kCustomSizePercent, 100},  {kDpi, QString()},         {kNotEnlarge, true},
            {kKeepAlpha, true},         {kNewNameBase, QString()}, {kDestFolderPath, dest}};
}

QByteArray fileHash(const QString &path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return {};
    return QCryptographicHash::hash(f.readAll(), QCryptographicHash::Sha1);
}

std::shared_ptr<LMFileInfo> record(const QString &path) { return std::make_shared<LMFileInfo>(LMPathString(path, false)); }

TEST(BatchResizeNaming, NewNamesKeepOrReplaceTheExtension)
{
    EXPECT_EQ(BatchResizeWorker::newFileNameBy("", "trip", true, 1), QString());
    EXPECT_EQ(BatchResizeWorker::newFileNameBy("a.png", "trip", false, 1), "trip1.jpg");
    EXPECT_EQ(BatchResizeWorker::newFileNameBy("a.png", "", true, 7), "a.png");
    EXPECT_EQ(BatchResizeWorker::newFileNameBy("a.TIF", "", true, 1), "a.TIF");
    EXPECT_EQ(BatchResizeWorker::newFileNameBy("a.TIF", "", false, 1), "a.jpg");
    EXPECT_EQ(BatchResizeWorker::newFileNameBy("x.JPEG", "b", false, 12), "b12.JPEG");
    EXPECT_EQ(BatchResizeWorker::newFileNameBy("noext", "", true, 1), "noext.jpg");
    EXPECT_EQ(BatchResizeWorker::newFileNameBy("clip.webp", "", true, 1), "clip.jpg");
}

TEST(BatchResizeNaming, TakenNamesMoveToTheNextNumberOrAFreeName)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    QFile(dir.filePath("trip1.jpg")).open(QIODevice::WriteOnly);
    QFile(dir.filePath("a.jpg")).open(QIODevice::WriteOnly);
    const LMPathString dest(dir.path(), true);
    qint64 n = 1;
    auto p = BatchResizeWorker::newFilePathBy(LMPathString("/src/a.jpg", false), "trip", false, &n, dest);
    ASSERT_TRUE(p);
    EXPECT_EQ(p->path(), dir.filePath("trip2.jpg"));
    EXPECT_EQ(n, 2);
    // Without a base the old name is kept, made free with a counter.
    n = 1;
    p = BatchResizeWorker::newFilePathBy(LMPathString("/src/a.jpg", false), "", false, &n, dest);
    ASSERT_TRUE(p);
    EXPECT_EQ(p->path(), dir.filePath("a_1.jpg"));
    EXPECT_FALSE(p->isDirectory());
    EXPECT_FALSE(BatchResizeWorker::newFilePathBy(LMPathString(), "", false, &n, dest));
    EXPECT_FALSE(BatchResizeWorker::newFilePathBy(LMPathString("/src/a.jpg", false), "", false, &n, LMPathString()));
}

TEST(BatchResizeSizes, BoxFollowsTheSourceAndDecodeScaleCoversTheTarget)
{
    const QVariantMap c = classicConfig(1024, 768, "/tmp");
    EXPECT_EQ(BatchResizeWorker::targetSizeForSource(QSizeF(4000, 3000), c), QSizeF(1024, 768));
    EXPECT_EQ(BatchResizeWorker::decodeScaleTypeFor(QSizeF(4000, 3000), QSizeF(1024, 768)), 2);
    EXPECT_EQ(BatchResizeWorker::targetSizeForSource(QSizeF(3000, 4000), c), QSizeF(768, 1024));
    EXPECT_EQ(BatchResizeWorker::targetSizeForSource(QSizeF(600, 400), c), QSizeF(600, 400));
    QVariantMap enlarge = c;
    enlarge[kNotEnlarge] = false;
    EXPECT_EQ(BatchResizeWorker::targetSizeForSource(QSizeF(600, 400), enlarge), QSizeF(1024, 1024.0 * 400 / 600));
    QVariantMap percent = c;
    percent[kClassicSizeType] = false;
    percent[kCustomSizeUnitType] = 1;
    percent[kCustomSizePercent] = 50;
    EXPECT_EQ(BatchResizeWorker::targetSizeForSource(QSizeF(1001, 501), percent), QSizeF(500.5, 250.5));
    // A target larger than the source decodes at full size; a tiny one at 1/64.
    EXPECT_EQ(BatchResizeWorker::decodeScaleTypeFor(QSizeF(100, 100), QSizeF(200, 200)), 1);
    EXPECT_EQ(BatchResizeWorker::decodeScaleTypeFor(QSizeF(6400, 6400), QSizeF(10, 10)), 7);
}

class BatchResizeRun : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(src.isValid());
        ASSERT_TRUE(dst.isValid());
    }
    QString srcPath(const QString &name) const { return src.filePath(name); }
    QString dstPath(const QString &name) const { return dst.filePath(name); }
    QTemporaryDir src;
    QTemporaryDir dst;
    BatchResizeWorker worker{editTestLoader()};
};

TEST_F(BatchResizeRun, UnchangedJpegIsCopiedAndANewResolutionIsWritten)
{
    ASSERT_TRUE(writeTestImage(srcPath("small.jpg"), QSize(600, 400), Qt::red, 0, 72));
    QVariantMap c = classicConfig(1024, 768, dst.path());
    qint64 n = 1;
    EXPECT_EQ(worker.resizeOneFileOnThread(record(srcPath("small.jpg")), c, &n, nullptr), 0);
    EXPECT_EQ(fileHash(dstPath("small.jpg")), fileHash(srcPath("small.jpg")));

    c[kDpi] = QStringLiteral("300");
    EXPECT_EQ(worker.resizeOneFileOnThread(record(srcPath("small.jpg")), c, &n, nullptr), 0);
    // The first output stays; the new one takes a free name at the same size.
    ASSERT_TRUE(QFile::exists(dstPath("small_1.jpg")));
    EXPECT_EQ(storedImageSize(dstPath("small_1.jpg")), QSize(600, 400));
    EXPECT_NE(fileHash(dstPath("small_1.jpg")), fileHash(srcPath("small.jpg")));
}

TEST_F(BatchResizeRun, PngWithoutKeepAlphaBecomesJpegAndRotatedSourcesComeOutUpright)
{
    ASSERT_TRUE(writeTestImage(srcPath("pic.png"), QSize(80, 40)));
    ASSERT_TRUE(writeTestImage(srcPath("turned.jpg"), QSize(400, 200), Qt::green, 6));
    QVariantMap c = classicConfig(100, 100, dst.path());
    c[kKeepAlpha] = false;
    c[kNewNameBase] = QStringLiteral("trip");
    LMFailedFiles failed;
    std::vector<qint64> progress;
    const int result = worker.resizeFilesOnThread({record(srcPath("pic.png")), nullptr, record(srcPath("turned.jpg"))}, c,
                                                  &failed, nullptr, [&](qint64 n) { progress.push_back(n); });
    EXPECT_EQ(result, 0);
    EXPECT_TRUE(failed.isEmpty());
    EXPECT_EQ(progress, (std::vector<qint64>{1, 3}));
    EXPECT_EQ(storedImageSize(dstPath("trip1.jpg")), QSize(80, 40));
    // Stored 400 x 200 turned by 90 degrees: the box 100 x 100 gives 100 x 50 raw, upright 50 x 100.
    EXPECT_EQ(storedImageSize(dstPath("trip2.jpg")), QSize(50, 100));
    EXPECT_EQ(storedOrientation(dstPath("trip2.jpg")), 1);
}

TEST_F(BatchResizeRun, ScalingInTheSameFolderNeverReplacesTheSource)
{
    ASSERT_TRUE(writeTestImage(srcPath("a.jpg"), QSize(300, 200)));
    const QByteArray before = fileHash(srcPath("a.jpg"));
    const QVariantMap c = classicConfig(150, 100, src.path());
    qint64 n = 1;
    EXPECT_EQ(worker.resizeOneFileOnThread(record(srcPath("a.jpg")), c, &n, nullptr), 0);
    EXPECT_EQ(fileHash(srcPath("a.jpg")), before);
    EXPECT_EQ(storedImageSize(srcPath("a_1.jpg")), QSize(150, 100));
    // A file that would only be copied into its own folder is left alone and counts as done.
    EXPECT_EQ(worker.resizeOneFileOnThread(record(srcPath("a_1.jpg")), c, &n, nullptr), 0);
    EXPECT_FALSE(QFile::exists(srcPath("a_2.jpg")));
}

TEST_F(BatchResizeRun, BrokenFilesFailAndTheRunGoesOn)
{
    QFile broken(srcPath("broken.jpg"));
    ASSERT_TRUE(broken.open(QIODevice::WriteOnly));
    broken.write("not an image at all");
    broken.close();
    ASSERT_TRUE(writeTestImage(srcPath("ok.jpg"), QSize(64, 48)));
    LMFailedFiles failed;
    const int result = worker.resizeFilesOnThread(
        {record(srcPath("broken.jpg")), record(srcPath("missing.jpg")), record(srcPath("ok.jpg"))},
        classicConfig(32, 24, dst.path()), &failed, nullptr);
    EXPECT_EQ(result, 0);
    ASSERT_EQ(failed.size(), 2);
    EXPECT_EQ(failed.paths()[0].path(), srcPath("broken.jpg"));
    EXPECT_EQ(failed.paths()[1].path(), srcPath("missing.jpg"));
    EXPECT_EQ(storedImageSize(dstPath("ok.jpg")), QSize(32, 24));
    EXPECT_FALSE(QFile::exists(dstPath("broken.jpg")));
}

TEST_F(BatchResizeRun, ASizeNoPictureMayHaveIsToldAsTooLargeNotAsAnUnreadablePhoto)
{
    // 500 percent of 4000 x 3000 is 20000 x 15000, more pixels than any picture may have.
    ASSERT_TRUE(writeTestImage(srcPath("large.jpg"), QSize(4000, 3000)));
    ASSERT_TRUE(writeTestImage(srcPath("small.jpg"), QSize(64, 48)));
    const QByteArray before = fileChecksum(srcPath("large.jpg"));
    QVariantMap c = classicConfig(0, 0, dst.path());
    c[kClassicSizeType] = false;
    c[kCustomSizeUnitType] = 1;
    c[kCustomSizePercent] = 500;
    c[kNotEnlarge] = false;
    LMFailedFiles failed;
    EXPECT_EQ(worker.resizeFilesOnThread({record(srcPath("large.jpg")), record(srcPath("small.jpg"))}, c, &failed, nullptr), 0);
    ASSERT_EQ(failed.size(), 1);
    EXPECT_EQ(failed.paths()[0].path(), srcPath("large.jpg"));
    EXPECT_TRUE(failed.reasons()[0].contains("20000 x 15000 pixels would be too large")) << failed.reasons()[0].toStdString();
    EXPECT_EQ(fileChecksum(srcPath("large.jpg")), before);
    EXPECT_FALSE(QFile::exists(dstPath("large.jpg")));
    EXPECT_EQ(storedImageSize(dstPath("small.jpg")), QSize(320, 240));
}

// A photo whose name fills the 255 bytes a name may have, resized into a folder where that name
// is taken, is written under a name cut short to make room for its number; the report says which.
TEST_F(BatchResizeRun, ANameCutShortToMakeRoomForItsNumberIsTold)
{
    const QString longName = QString(251, QLatin1Char('a')) + QStringLiteral(".jpg");
    ASSERT_TRUE(writeTestImage(srcPath(longName), QSize(64, 48)));
    ASSERT_TRUE(writeTestImage(dstPath(longName), QSize(8, 8)));
    const QByteArray taken = fileChecksum(dstPath(longName));
    LMFailedFiles failed;
    EXPECT_EQ(worker.resizeFilesOnThread({record(srcPath(longName))}, classicConfig(32, 24, dst.path()), &failed, nullptr), 0);
    EXPECT_EQ(fileChecksum(dstPath(longName)), taken);
    const QStringList written = QDir(dst.path()).entryList(QDir::Files);
    ASSERT_EQ(written.size(), 2) << qPrintable(written.join(", "));
    const QString shortened = written.at(written.at(0) == longName ? 1 : 0);
    EXPECT_EQ(storedImageSize(dstPath(shortened)), QSize(32, 24));
    EXPECT_TRUE(failed.details().contains(QStringLiteral("so it was saved as “%1”").arg(shortened)))
        << qPrintable(failed.details());
}

TEST_F(BatchResizeRun, CancelledRunTouchesNothing)
{
    ASSERT_TRUE(writeTestImage(srcPath("a.jpg"), QSize(64, 48)));
    auto op = std::make_shared<kpv::Operation>();
    op->cancel();
    LMFailedFiles failed;
    int reports = 0;
    EXPECT_EQ(worker.resizeFilesOnThread({record(srcPath("a.jpg"))}, classicConfig(32, 24, dst.path()), &failed,
                                         op.get(), [&](qint64) { ++reports; }),
              -2);
    EXPECT_EQ(reports, 0);
    EXPECT_TRUE(failed.isEmpty());
    EXPECT_TRUE(QDir(dst.path()).isEmpty());
}

} // namespace

TEST_F(BatchResizeRun, ResizedCopyKeepsLocationWithTheNewPixelSize)
{
    ASSERT_TRUE(writeTestImage(srcPath("walk.jpg"), QSize(400, 200), Qt::blue, 6));
    {
        auto meta = Exiv2::ImageFactory::open(QFile::encodeName(srcPath("walk.jpg")).toStdString());
        meta->readMetadata();
        Exiv2::ExifData exif = meta->exifData();
        exif["Exif.GPSInfo.GPSLatitudeRef"] = "S";
        exif["Exif.GPSInfo.GPSLatitude"] = std::string("33/1 52/1 0/1");
        exif["Exif.Photo.PixelXDimension"] = uint32_t(400);
        exif["Exif.Photo.PixelYDimension"] = uint32_t(200);
        meta->setExifData(exif);
        meta->writeMetadata();
    }
    const QVariantMap c = classicConfig(100, 100, dst.path());
    qint64 n = 1;
    ASSERT_EQ(worker.resizeOneFileOnThread(record(srcPath("walk.jpg")), c, &n, nullptr), 0);
    auto meta = Exiv2::ImageFactory::open(QFile::encodeName(dstPath("walk.jpg")).toStdString());
    meta->readMetadata();
    const Exiv2::ExifData &exif = meta->exifData();
    EXPECT_NE(exif.findKey(Exiv2::ExifKey("Exif.GPSInfo.GPSLatitude")), exif.end());
    ASSERT_NE(exif.findKey(Exiv2::ExifKey("Exif.Photo.PixelXDimension")), exif.end());
    EXPECT_EQ(exif.findKey(Exiv2::ExifKey("Exif.Photo.PixelXDimension"))->toLong(), 50);
    EXPECT_EQ(exif.findKey(Exiv2::ExifKey("Exif.Photo.PixelYDimension"))->toLong(), 100);
    EXPECT_EQ(storedOrientation(dstPath("walk.jpg")), 1);
}

// Photos of 16 bits per channel resized as PNG and as TIFF keep them: levels that 8 bits cannot
// hold come out as they went in, each half of the photo in its half of the copy, still opaque.
TEST_F(BatchResizeRun, SixteenBitPhotosKeepTheirDepth)
{
    // Its left half one colour, its right half another, at levels 8 bits cannot hold.
    const QColor left = QColor::fromRgba64(0x1234, 0xabcd, 0x0f0f), right = QColor::fromRgba64(0xfedc, 0x0101, 0x7777);
    QImage picture(QSize(80, 40), QImage::Format_RGBX64);
    picture.fill(left);
    for (int y = 0; y < 40; ++y)
        for (int x = 40; x < 80; ++x)
            picture.setPixelColor(x, y, right);
    ASSERT_TRUE(picture.save(srcPath("deep.png")));
    ASSERT_TRUE(picture.save(srcPath("deep.tif")));
    const QVariantMap c = classicConfig(40, 20, dst.path());
    for (const QString &name : {QStringLiteral("deep.png"), QStringLiteral("deep.tif")}) {
        SCOPED_TRACE(name.toStdString());
        qint64 n = 1;
        ASSERT_EQ(worker.resizeOneFileOnThread(record(srcPath(name)), c, &n, nullptr), 0);
        ASSERT_TRUE(kpv::ImageDestination::keepsSixteenBitsOnRewrite(dstPath(name))) << "written with fewer bits";
        const QImage kept = kpv::ImageDestination::readSixteenBitPicture(dstPath(name));
        ASSERT_EQ(kept.size(), QSize(40, 20));
        EXPECT_EQ(kept.pixelColor(17, 9).rgba64(), left.rgba64());
        EXPECT_EQ(kept.pixelColor(22, 9).rgba64(), right.rgba64());
        EXPECT_FALSE(QImage(dstPath(name)).hasAlphaChannel()) << "an opaque photo was given an alpha channel";
    }
}

// A photo of 16 bits per channel too large for the decode budget to hold whole at that depth is
// resized from its rows a band at a time, every new sample as a resize of the whole photo makes
// it. A size too large to make at that depth is refused with the reason, and nothing is written.
TEST_F(BatchResizeRun, ASixteenBitPhotoTooLargeToHoldWholeIsResizedInBands)
{
    QImage picture(QSize(90, 60), QImage::Format_RGBA64);
    for (int y = 0; y < 60; ++y)
        for (int x = 0; x < 90; ++x)
            picture.setPixelColor(x, y, QColor::fromRgba64(quint16(x * 701 + y * 13), quint16(y * 1091 + 7), quint16(x * y * 11 + 5)));
    ASSERT_TRUE(picture.save(srcPath("deep.png")));
    ASSERT_TRUE(picture.save(srcPath("deep.tif")));
    QTemporaryDir whole;
    ASSERT_TRUE(whole.isValid());
    for (const QString &name : {QStringLiteral("deep.png"), QStringLiteral("deep.tif")}) {
        SCOPED_TRACE(name.toStdString());
        qint64 n = 1;
        ASSERT_EQ(worker.resizeOneFileOnThread(record(srcPath(name)), classicConfig(40, 27, whole.path()), &n, nullptr), 0);
        const std::uint64_t was = kpv::DecodeBudget::shared().setCapacity(90 * 60 * 8 / 2);
        QString why;
        EXPECT_EQ(worker.resizeOneFileOnThread(record(srcPath(name)), classicConfig(40, 27, dst.path()), &n, nullptr, &why), 0)
            << why.toStdString();
        const QByteArray before = kpv::test::checksum(srcPath(name));
        QVariantMap tooLarge = classicConfig(90, 60, dst.path());
        tooLarge[kNotEnlarge] = false;
        tooLarge[kDpi] = QStringLiteral("300");
        EXPECT_EQ(worker.resizeOneFileOnThread(record(srcPath(name)), tooLarge, &n, nullptr, &why), -1);
        kpv::DecodeBudget::shared().setCapacity(was);
        EXPECT_TRUE(why.contains("90 x 60 pixels at 16 bits per channel is too large")) << why.toStdString();
        EXPECT_EQ(kpv::test::checksum(srcPath(name)), before);
        EXPECT_EQ(QDir(dst.path()).entryList(QDir::Files | QDir::Hidden), QStringList{name});
        const QImage banded = kpv::ImageDestination::readSixteenBitPicture(dstPath(name));
        ASSERT_EQ(banded.size(), QSize(40, 26));
        EXPECT_EQ(banded, kpv::ImageDestination::readSixteenBitPicture(whole.filePath(name)));
        ASSERT_TRUE(QFile::remove(dstPath(name)));
    }
}
