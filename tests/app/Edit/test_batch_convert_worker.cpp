// Batch convert over generated files: the format picker's parameters, same-type copies, new names
// that never replace a file, upright output, failures and the pause after a clean run.

#include "Edit/BatchConvertWorker.h"
#include "Edit/LMImageSaveParamController.h"
#include "edit_test_support.h"
#include "../../support/ReferencePng.h"

#include "foundation/Operation.h"
#include "imageio/ContentTypes.h"
#include "imageio/DecodeBudget.h"
#include "imageio/FileAccess.h"
#include "imageio/ImageDestination.h"
#include "imageio/ImageProperties.h"
#include "imageio/ImageSource.h"

#include <QBuffer>
#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTransform>

#include <exiv2/exiv2.hpp>

#include <gtest/gtest.h>

#include <map>
#include <thread>

namespace {

using namespace kpv::ContentTypes;

class RecordingDelegate : public LMImageSaveParamControllerDelegate {
public:
    void saveTypeChangedOfImageSaveParamController(LMImageSaveParamController *) override { ++calls; }
    int calls = 0;
};

TEST(SaveParamPicker, DefaultsTabsAndTheLiveParameters)
{
    LMImageSaveParamController picker;
    EXPECT_TRUE(picker.saveType().isEmpty());
    EXPECT_EQ(picker.saveTab(), 0);
    EXPECT_FLOAT_EQ(picker.saveQuality().toFloat(), 0.9f);
    EXPECT_EQ(picker.saveCompression(), 1);
    auto params = picker.saveParameters();
    EXPECT_TRUE(params->value(kpv::kCGImagePropertyTIFFDictionary).toMap().isEmpty());

    RecordingDelegate delegate;
    picker.setDelegate(&delegate);
    picker.setSaveType(kTiff);
    EXPECT_EQ(picker.saveTab(), 3);
    picker.setSaveType(kTiff);
    EXPECT_EQ(delegate.calls, 2);
    picker.setSaveType(kGif);
    EXPECT_EQ(picker.saveTab(), 0);
    EXPECT_EQ(delegate.calls, 3);
    picker.setSaveType(kJpeg2000);
    EXPECT_EQ(picker.saveTab(), 2);

    // A dictionary taken earlier sees later changes.
    picker.setSaveQuality(0.5);
    EXPECT_DOUBLE_EQ(params->value(kpv::kCGImageDestinationLossyCompressionQuality).toDouble(), 0.5);
    picker.setSaveCompression(5);
    EXPECT_EQ(picker.saveCompression(), 5);
    picker.setSaveCompression(7);
    EXPECT_EQ(picker.saveCompression(), 1);
    EXPECT_EQ(params->value(kpv::kCGImagePropertyTIFFDictionary).toMap().value(kpv::kCGImagePropertyTIFFCompression).toInt(), 7);

    const auto types = picker.saveTypes();
    ASSERT_EQ(types.size(), 5);
    EXPECT_EQ(types[0].uti, kJpeg);
    EXPECT_EQ(types[4].uti, kBmp);
    EXPECT_EQ(types, picker.saveTypes());
    EXPECT_EQ(picker.saveCompressions().size(), 3);
    EXPECT_EQ(LMImageSaveParamController::compressionLabel(32773), "PackBits");
    EXPECT_EQ(LMImageSaveParamController::compressionLabel(2), QString());
    EXPECT_EQ(LMImageSaveParamController::savedFileExtensionAndUtis().value(kJpeg2000), "jp2");
}

QByteArray fileHash(const QString &path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return {};
    return QCryptographicHash::hash(f.readAll(), QCryptographicHash::Sha1);
}

std::shared_ptr<LMFileInfo> record(const QString &path) { return std::make_shared<LMFileInfo>(LMPathString(path, false)); }

class BatchConvertRun : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(src.isValid());
        ASSERT_TRUE(dst.isValid());
        worker.setPauseBlock([this] { ++pauses; });
    }
    QString s(const QString &n) const { return src.filePath(n); }
    QString d(const QString &n) const { return dst.filePath(n); }
    QTemporaryDir src, dst;
    BatchConvertWorker worker{editTestLoader()};
    int pauses = 0;
    QVariantMap params{{kpv::kCGImageDestinationLossyCompressionQuality, 0.9}};
};

TEST_F(BatchConvertRun, SameTypePngIsCopiedElsewhereAndLeftAloneInPlace)
{
    ASSERT_TRUE(writeTestImage(s("a.png"), QSize(20, 10)));
    EXPECT_EQ(worker.convertOneFileOnThread(record(s("a.png")), dst.path(), kPng, params, nullptr), 0);
    EXPECT_EQ(fileHash(d("a.png")), fileHash(s("a.png")));
    EXPECT_EQ(worker.convertOneFileOnThread(record(s("a.png")), dst.path(), kPng, params, nullptr), 0);
    EXPECT_EQ(fileHash(d("a_1.png")), fileHash(s("a.png")));
    EXPECT_EQ(worker.convertOneFileOnThread(record(s("a.png")), src.path(), kPng, params, nullptr), 0);
    EXPECT_FALSE(QFile::exists(s("a_1.png")));
}

TEST_F(BatchConvertRun, JpegInItsOwnFolderGetsAFreeNameAndJpegBecomesJpg)
{
    ASSERT_TRUE(writeTestImage(s("a.jpg"), QSize(20, 10)));
    ASSERT_TRUE(writeTestImage(s("b.jpeg"), QSize(20, 10)));
    const QByteArray before = fileHash(s("a.jpg"));
    EXPECT_EQ(worker.convertOneFileOnThread(record(s("a.jpg")), src.path(), kJpeg, params, nullptr), 0);
    EXPECT_EQ(fileHash(s("a.jpg")), before);
    EXPECT_EQ(storedImageSize(s("a_1.jpg")), QSize(20, 10));
    EXPECT_EQ(worker.convertOneFileOnThread(record(s("b.jpeg")), dst.path(), kJpeg, params, nullptr), 0);
    EXPECT_TRUE(QFile::exists(d("b.jpg")));
}

TEST_F(BatchConvertRun, TransparencyStaysInABmpAndIsToldLostInAJpeg)
{
    // The transparent pixels hide a colour, as a painting program may leave them.
    QImage picture(40, 20, QImage::Format_ARGB32);
    picture.fill(qRgba(0, 255, 0, 0));
    for (int y = 5; y < 15; ++y)
        for (int x = 10; x < 30; ++x)
            picture.setPixel(x, y, qRgba(255, 0, 0, 255));
    picture.setPixel(0, 19, qRgba(0, 0, 255, 128));
    ASSERT_TRUE(picture.save(s("logo.png")));
    const QByteArray before = fileChecksum(s("logo.png"));
    EXPECT_EQ(worker.convertOneFileOnThread(record(s("logo.png")), dst.path(), kBmp, params, nullptr), 0);
    const QImage written = readImage(d("logo.bmp")).convertToFormat(QImage::Format_ARGB32);
    ASSERT_EQ(written.size(), QSize(40, 20));
    EXPECT_EQ(qAlpha(written.pixel(0, 0)), 0);
    EXPECT_EQ(written.pixel(20, 10), qRgba(255, 0, 0, 255));
    EXPECT_EQ(qAlpha(written.pixel(0, 19)), 128);
    EXPECT_EQ(qBlue(written.pixel(0, 19)), 255);
    // A JPEG cannot hold it: the picture is laid over white, and that is told.
    QString why;
    EXPECT_EQ(worker.convertOneFileOnThread(record(s("logo.png")), dst.path(), kJpeg, params, nullptr, &why), 0);
    EXPECT_TRUE(why.contains("its transparency")) << why.toStdString();
    const QImage jpeg = readImage(d("logo.jpg")).convertToFormat(QImage::Format_ARGB32);
    EXPECT_GT(qMin(qRed(jpeg.pixel(0, 0)), qMin(qGreen(jpeg.pixel(0, 0)), qBlue(jpeg.pixel(0, 0)))), 240);
    // An opaque photo has nothing of the kind to tell.
    ASSERT_TRUE(writeTestImage(s("photo.png"), QSize(20, 10)));
    why.clear();
    EXPECT_EQ(worker.convertOneFileOnThread(record(s("photo.png")), dst.path(), kJpeg, params, nullptr, &why), 0);
    EXPECT_FALSE(why.contains("transparency")) << why.toStdString();
    EXPECT_EQ(fileChecksum(s("logo.png")), before);
}

TEST_F(BatchConvertRun, TurnedJpegBecomesAnUprightPng)
{
    ASSERT_TRUE(writeTestImage(s("t.jpg"), QSize(40, 20), Qt::red, 6));
    EXPECT_EQ(worker.convertOneFileOnThread(record(s("t.jpg")), dst.path(), kPng, params, nullptr), 0);
    EXPECT_EQ(storedImageSize(d("t.png")), QSize(20, 40));
    EXPECT_EQ(storedOrientation(d("t.png")), 1);
    // An opaque photo stays opaque: no alpha channel is added on the way.
    EXPECT_FALSE(QImage(d("t.png")).hasAlphaChannel());
    EXPECT_FALSE(QImage(d("t.png")).convertToFormat(QImage::Format_ARGB32).pixelColor(5, 5).alpha() < 255);

    // A picture with see-through pixels keeps them.
    QImage clear(QSize(20, 10), QImage::Format_ARGB32);
    clear.fill(QColor(0, 0, 255, 100));
    ASSERT_TRUE(clear.save(s("clear.png")));
    EXPECT_EQ(worker.convertOneFileOnThread(record(s("clear.png")), dst.path(), kTiff, params, nullptr), 0);
    const QStringList written = QDir(dst.path()).entryList({"clear.*"});
    ASSERT_EQ(written.size(), 1);
    const auto source = kpv::ImageSource::createWithFile(d(written[0]));
    ASSERT_TRUE(source);
    const QImage kept = source->createImageAtIndex(0);
    ASSERT_FALSE(kept.isNull());
    EXPECT_TRUE(kept.hasAlphaChannel());
    EXPECT_NEAR(kept.convertToFormat(QImage::Format_ARGB32).pixelColor(3, 3).alpha(), 100, 2);
}

// The list's record of a file another program rewrote since it was read is read again: the
// output is the photo as it is now.
TEST_F(BatchConvertRun, FileChangedSinceTheListWasReadIsConvertedAsItIsNow)
{
    ASSERT_TRUE(writeTestImage(s("c.jpg"), QSize(40, 20)));
    const auto file = record(s("c.jpg"));
    ASSERT_EQ(worker.convertOneFileOnThread(file, dst.path(), kPng, params, nullptr), 0);
    ASSERT_EQ(storedImageSize(d("c.png")), QSize(40, 20));
    ASSERT_TRUE(file->imgBaseInfo());

    ASSERT_TRUE(writeTestImage(s("c.jpg"), QSize(40, 20), Qt::red, 6));
    ASSERT_EQ(worker.convertOneFileOnThread(file, dst.path(), kPng, params, nullptr), 0);
    EXPECT_EQ(storedImageSize(d("c_1.png")), QSize(20, 40)) << "turned by the old record's orientation";
}

TEST_F(BatchConvertRun, RunCollectsFailuresAndPausesOnlyAfterACleanRun)
{
    ASSERT_TRUE(writeTestImage(s("ok.jpg"), QSize(8, 8)));
    std::vector<qint64> progress;
    LMFailedFiles failed;
    EXPECT_EQ(worker.convertFilesOnThread({record(s("ok.jpg")), nullptr}, dst.path(), kBmp, params, &failed,
                                          nullptr, [&](qint64 n) { progress.push_back(n); }),
              0);
    EXPECT_TRUE(failed.isEmpty());
    EXPECT_EQ(progress, (std::vector<qint64>{1}));
    EXPECT_EQ(storedImageSize(d("ok.bmp")), QSize(8, 8));

    QFile junk(s("junk.jpg"));
    ASSERT_TRUE(junk.open(QIODevice::WriteOnly));
    junk.write("junk");
    junk.close();
    const int pausesBefore = pauses;
    EXPECT_EQ(worker.convertFilesOnThread({record(s("junk.jpg")), record(s("ok.jpg"))}, dst.path(), kTiff, params,
                                          &failed, nullptr),
              0);
    ASSERT_EQ(failed.size(), 1);
    EXPECT_EQ(failed.paths()[0].path(), s("junk.jpg"));
    EXPECT_EQ(pauses, pausesBefore);
    EXPECT_FALSE(QFile::exists(d("junk.tiff")));
    EXPECT_TRUE(QFile::exists(d("ok.tiff")));
}

// A file its reader refuses is reported with the reader's reason, in plain words: a header that
// claims a picture too large to hold, a file cut short before its pixels.
TEST_F(BatchConvertRun, AnUnreadableFileIsReportedWithWhyItCouldNotBeRead)
{
    auto le = [](QByteArray &out, quint32 value, int bytes) {
        for (int i = 0; i < bytes; ++i)
            out.append(char(value >> (8 * i)));
    };
    QByteArray huge("BM");
    le(huge, 54 + 3000, 4), le(huge, 0, 4), le(huge, 54, 4);
    le(huge, 40, 4), le(huge, 60000, 4), le(huge, 60000, 4), le(huge, 1, 2), le(huge, 24, 2);
    huge.append(QByteArray(24, '\0')).append(QByteArray(3000, '\x80'));
    QFile hugeFile(s("huge.bmp"));
    ASSERT_TRUE(hugeFile.open(QIODevice::WriteOnly) && hugeFile.write(huge) == huge.size());
    hugeFile.close();
    QImage photo(400, 300, QImage::Format_RGB32);
    photo.fill(Qt::blue);
    ASSERT_TRUE(photo.save(s("cut.ppm"), "PPM"));
    ASSERT_TRUE(QFile::resize(s("cut.ppm"), 200));
    ASSERT_TRUE(photo.save(s("cut.webp"), "WEBP"));
    ASSERT_TRUE(QFile::resize(s("cut.webp"), 40));

    LMFailedFiles failed;
    worker.convertFilesOnThread({record(s("huge.bmp")), record(s("cut.ppm")), record(s("cut.webp"))}, dst.path(), kPng,
                                params, &failed, nullptr);
    ASSERT_EQ(failed.size(), 3);
    EXPECT_TRUE(failed.reasons()[0].contains("60000 x 60000 pixels exceeds the size limit")) << qPrintable(failed.reasons()[0]);
    EXPECT_TRUE(failed.reasons()[1].contains("cut short")) << qPrintable(failed.reasons()[1]);
    EXPECT_TRUE(failed.reasons()[2].contains("damaged or cut short")) << qPrintable(failed.reasons()[2]);
    for (const QString &reason : failed.reasons()) {
        EXPECT_TRUE(reason.startsWith("it could not be read as a picture: ")) << qPrintable(reason);
        EXPECT_FALSE(reason.contains(src.path()) || reason.contains("decoding failed")) << qPrintable(reason);
    }
}

// A file cut short shows what arrived and converts; its report tells that the new file lacks the
// rest, whatever the format, from the file's own lengths. The whole files convert without a note.
TEST_F(BatchConvertRun, AFileCutShortOfAnyFormatIsToldToLackTheRest)
{
    QImage photo(240, 160, QImage::Format_RGB32);
    for (int y = 0; y < photo.height(); ++y)
        for (int x = 0; x < photo.width(); ++x)
            photo.setPixel(x, y, qRgb(x, y, (x * y) & 0x7F));
    std::map<QString, QByteArray> files;
    for (const char *format : {"bmp", "ppm", "webp"}) {
        QBuffer buffer(&files[format]);
        buffer.open(QIODevice::WriteOnly);
        ASSERT_TRUE(photo.save(&buffer, format)) << format;
    }
    // TGA, uncompressed true colour, rows from the top.
    QByteArray &tga = files["tga"];
    tga = QByteArray(18, '\0');
    tga[2] = 2, tga[12] = char(240), tga[14] = char(160), tga[16] = 24, tga[17] = 0x20;
    for (int y = 0; y < photo.height(); ++y)
        for (int x = 0; x < photo.width(); ++x)
            tga.append(char(qBlue(photo.pixel(x, y)))).append(char(qGreen(photo.pixel(x, y)))).append(char(qRed(photo.pixel(x, y))));
    // GIF of 7-bit codes: a clear code before every 100 pixels keeps each code one byte wide.
    QByteArray &gif = files["gif"];
    gif = QByteArray("GIF89a") + QByteArray::fromHex("f000a000f60000");
    for (int i = 0; i < 128; ++i)
        gif.append(char(i * 2)).append(char(255 - i * 2)).append(char(i));
    gif += QByteArray::fromHex("2c00000000f000a0000007");
    QByteArray codes;
    for (int i = 0; i < 240 * 160; ++i) {
        if (i % 100 == 0)
            codes.append(char(128));
        codes.append(char((i / 240 + i % 240) & 0x7F));
    }
    codes.append(char(129));
    for (qsizetype at = 0; at < codes.size(); at += 255)
        gif.append(char(std::min<qsizetype>(255, codes.size() - at))).append(codes.mid(at, 255));
    gif.append('\0').append(';');

    BatchFileWorker::FileInfoList run;
    for (const auto &[format, bytes] : files) {
        for (const QString &name : {"whole." + format, "cut." + format}) {
            QFile out(s(name));
            const QByteArray kept = name.startsWith("cut") ? bytes.left(bytes.size() * 6 / 10) : bytes;
            ASSERT_TRUE(out.open(QIODevice::WriteOnly) && out.write(kept) == kept.size());
            run << record(s(name));
        }
    }
    LMFailedFiles failed;
    worker.convertFilesOnThread(run, dst.path(), kPng, params, &failed, nullptr);
    const QString report = failed.details();
    EXPECT_EQ(failed.size(), 0) << qPrintable(report);
    for (const auto &[format, bytes] : files) {
        EXPECT_TRUE(report.contains("cut." + format + ": its new file lacks the part of the picture that could not be read"))
            << qPrintable(format);
        EXPECT_FALSE(report.contains("whole." + format)) << qPrintable(format);
    }
}

TEST_F(BatchConvertRun, CancelledRunStopsAtTheFirstFile)
{
    ASSERT_TRUE(writeTestImage(s("a.jpg"), QSize(8, 8)));
    auto op = std::make_shared<kpv::Operation>();
    op->cancel();
    LMFailedFiles failed;
    EXPECT_EQ(worker.convertFilesOnThread({record(s("a.jpg"))}, dst.path(), kPng, params, &failed, op.get()), -2);
    EXPECT_TRUE(failed.isEmpty());
    EXPECT_FALSE(QFile::exists(d("a.png")));
}

} // namespace

TEST_F(BatchConvertRun, ConvertedFileKeepsLocationAndKeywords)
{
    ASSERT_TRUE(writeTestImage(s("g.jpg"), QSize(40, 20), Qt::red, 6));
    {
        auto meta = Exiv2::ImageFactory::open(QFile::encodeName(s("g.jpg")).toStdString());
        meta->readMetadata();
        Exiv2::ExifData exif = meta->exifData();
        exif["Exif.GPSInfo.GPSLatitudeRef"] = "N";
        exif["Exif.GPSInfo.GPSLatitude"] = std::string("60/1 10/1 0/1");
        meta->setExifData(exif);
        Exiv2::XmpData xmp;
        xmp["Xmp.dc.subject"] = "fjord";
        meta->setXmpData(xmp);
        meta->writeMetadata();
    }
    const QByteArray before = fileHash(s("g.jpg"));
    for (const QString &type : {kPng, kTiff}) {
        SCOPED_TRACE(type.toStdString());
        ASSERT_EQ(worker.convertOneFileOnThread(record(s("g.jpg")), dst.path(), type, params, nullptr), 0);
        const QString out = d(type == kPng ? "g.png" : "g.tiff");
        auto meta = Exiv2::ImageFactory::open(QFile::encodeName(out).toStdString());
        meta->readMetadata();
        EXPECT_NE(meta->exifData().findKey(Exiv2::ExifKey("Exif.GPSInfo.GPSLatitude")), meta->exifData().end());
        EXPECT_NE(meta->xmpData().findKey(Exiv2::XmpKey("Xmp.dc.subject")), meta->xmpData().end());
        EXPECT_EQ(storedOrientation(out), 1);
        EXPECT_EQ(storedImageSize(out), QSize(20, 40));
    }
    EXPECT_EQ(fileHash(s("g.jpg")), before);
}

namespace {

std::string xmpText(const Exiv2::Image &image, const char *key)
{
    const auto it = image.xmpData().findKey(Exiv2::XmpKey(key));
    return it == image.xmpData().end() ? std::string() : it->toString();
}

std::string exifText(const Exiv2::Image &image, const char *key)
{
    const auto it = image.exifData().findKey(Exiv2::ExifKey(key));
    return it == image.exifData().end() ? std::string() : it->toString();
}

} // namespace

// A PNG's title, author, description, copyright and other text (plain, compressed and in UTF-8)
// stay with the photo converted to JPEG and to TIFF, in their fields of the same meaning; a BMP,
// which holds none, is told to lack them. The PNG is left as it was.
TEST_F(BatchConvertRun, PngTextStaysWithThePhotoConvertedToAnotherType)
{
    ASSERT_TRUE(writeTestImage(s("text.png"), QSize(40, 20)));
    QFile file(s("text.png"));
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    QByteArray png = file.readAll();
    file.close();
    const QByteArray deflated = qCompress(QByteArray("no warranty")).mid(4);
    png.insert(png.size() - 12, kpv::test::pngChunk("tEXt", QByteArray("Title\0Harbour", 13)) +
                                    kpv::test::pngChunk("tEXt", QByteArray("Author\0Ann Lee", 14)) +
                                    kpv::test::pngChunk("tEXt", QByteArray("Comment\0at dawn", 15)) +
                                    kpv::test::pngChunk("zTXt", QByteArray("Copyright\0\0", 11) + qCompress("(c) Ann").mid(4)) +
                                    kpv::test::pngChunk("zTXt", QByteArray("Disclaimer\0\0", 12) + deflated) +
                                    kpv::test::pngChunk("iTXt", QByteArray("Place\0\0\0en\0\0Hafen M\xc3\xbcnchen", 27)));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    ASSERT_EQ(file.write(png), png.size());
    file.close();
    const QByteArray before = fileHash(s("text.png"));

    for (const QString &type : {kJpeg, kTiff}) {
        SCOPED_TRACE(type.toStdString());
        ASSERT_EQ(worker.convertOneFileOnThread(record(s("text.png")), dst.path(), type, params, nullptr), 0);
        auto meta = Exiv2::ImageFactory::open(QFile::encodeName(d(type == kJpeg ? "text.jpg" : "text.tiff")).toStdString());
        meta->readMetadata();
        EXPECT_EQ(xmpText(*meta, "Xmp.dc.title"), "lang=\"x-default\" Harbour");
        EXPECT_EQ(xmpText(*meta, "Xmp.dc.creator"), "Ann Lee");
        EXPECT_EQ(exifText(*meta, "Exif.Image.Artist"), "Ann Lee");
        EXPECT_EQ(exifText(*meta, "Exif.Image.ImageDescription"), "at dawn");
        EXPECT_EQ(exifText(*meta, "Exif.Image.Copyright"), "(c) Ann");
        EXPECT_EQ(xmpText(*meta, "Xmp.kpvpng.Disclaimer"), "no warranty");
        EXPECT_EQ(xmpText(*meta, "Xmp.kpvpng.Place"), "Hafen M\xc3\xbcnchen");
        if (type == kJpeg)
            EXPECT_EQ(meta->comment(), "at dawn");
    }
    // A BMP holds none of it: the run says so.
    LMFailedFiles failed;
    worker.convertFilesOnThread({record(s("text.png"))}, dst.path(), kBmp, params, &failed, nullptr);
    EXPECT_TRUE(QFile::exists(d("text.bmp")));
    EXPECT_TRUE(failed.details().contains("text.png: its new file lacks its title, author and other text"))
        << qPrintable(failed.details());
    EXPECT_EQ(fileHash(s("text.png")), before);
}

TEST_F(BatchConvertRun, TwoRunsIntoOneFolderKeepEveryOutput)
{
    QList<std::shared_ptr<LMFileInfo>> files;
    for (int i = 0; i < 12; ++i) {
        const QString name = QStringLiteral("p%1.jpg").arg(i);
        ASSERT_TRUE(writeTestImage(s(name), QSize(64, 48)));
        files << record(s(name));
    }
    BatchConvertWorker other{editTestLoader()};
    other.setPauseBlock([] {});
    LMFailedFiles failedA, failedB;
    std::thread a([&] { worker.convertFilesOnThread(files, dst.path(), kPng, params, &failedA, nullptr); });
    std::thread b([&] { other.convertFilesOnThread(files, dst.path(), kPng, params, &failedB, nullptr); });
    a.join();
    b.join();
    EXPECT_TRUE(failedA.isEmpty());
    EXPECT_TRUE(failedB.isEmpty());
    EXPECT_EQ(QDir(dst.path()).entryList(QDir::Files | QDir::Hidden).size(), 24);
}

// A name that fills the 255 bytes a file name may have cannot take the longer ending of TIFF: the
// photo is written under a shorter name and the report says which, while a short name is kept
// as it is without a word.
TEST_F(BatchConvertRun, ANameTooLongForTheNewEndingIsSavedShorterAndTold)
{
    const QString longName = QString(251, QLatin1Char('a')) + QStringLiteral(".jpg");
    ASSERT_TRUE(writeTestImage(s(longName), QSize(20, 10)));
    ASSERT_TRUE(writeTestImage(s("short.jpg"), QSize(20, 10)));
    const QByteArray before = fileHash(s(longName));
    LMFailedFiles failed;
    worker.convertFilesOnThread({record(s(longName)), record(s("short.jpg"))}, dst.path(), kTiff, params, &failed,
                                nullptr);
    EXPECT_TRUE(failed.isEmpty()) << qPrintable(failed.details());
    EXPECT_EQ(fileHash(s(longName)), before);
    const QStringList written = QDir(dst.path()).entryList(QDir::Files);
    ASSERT_EQ(written.size(), 2) << qPrintable(written.join(", "));
    EXPECT_TRUE(written.contains("short.tiff"));
    const QString shortened = written.at(written.at(0) == "short.tiff" ? 1 : 0);
    EXPECT_EQ(storedImageSize(d(shortened)), QSize(20, 10));
    const QString report = failed.details();
    EXPECT_TRUE(report.contains(QStringLiteral("so it was saved as “%1”").arg(shortened))) << qPrintable(report);
    EXPECT_FALSE(report.contains("short.jpg")) << qPrintable(report);
}

namespace {

// A small picture of 16 bits per channel whose every sample differs from its neighbours'.
QImage deepPicture()
{
    QImage picture(QSize(30, 20), QImage::Format_RGBA64);
    for (int y = 0; y < 20; ++y)
        for (int x = 0; x < 30; ++x)
            picture.setPixelColor(x, y, QColor::fromRgba64(quint16(x * 2011 + 1), quint16(y * 3001 + 3), quint16(x * y * 97 + 5)));
    return picture;
}

} // namespace

// Photos of 16 bits per channel converted to TIFF and to PNG keep them: the written files hold
// the photo's own samples at that depth (read back by the program's own reader at full depth).
TEST_F(BatchConvertRun, SixteenBitPhotosKeepTheirDepth)
{
    const QImage picture = deepPicture();
    ASSERT_TRUE(picture.save(s("deep.png")));
    ASSERT_EQ(worker.convertOneFileOnThread(record(s("deep.png")), dst.path(), kTiff, params, nullptr), 0);
    ASSERT_EQ(worker.convertOneFileOnThread(record(d("deep.tiff")), src.path(), kPng, params, nullptr), 0);
    for (const QString &written : {d("deep.tiff"), s("deep_1.png")}) {
        SCOPED_TRACE(written.toStdString());
        EXPECT_TRUE(kpv::ImageDestination::keepsSixteenBitsOnRewrite(written)) << "written with fewer bits";
        const QImage kept = kpv::ImageDestination::readSixteenBitPicture(written);
        ASSERT_EQ(kept.size(), picture.size());
        EXPECT_EQ(kept.convertToFormat(QImage::Format_RGBA64), picture);
    }
}

// A TIFF of 16 bits per channel of several megabytes, too large for the decode budget, stored
// turned (orientation 8) and converted to PNG: its turned rows are deflated in pieces on several
// cores, and the file reads back upright sample for sample.
TEST_F(BatchConvertRun, ALargeSixteenBitPhotoConvertedToPngInBandsReadsBackWhole)
{
    QImage picture(QSize(1100, 800), QImage::Format_RGBA64);
    quint32 state = 7;
    for (int y = 0; y < picture.height(); ++y) {
        auto *p = reinterpret_cast<quint16 *>(picture.scanLine(y));
        for (int x = 0; x < picture.width(); ++x, p += 4) {
            state = state * 1103515245u + 12345u;
            p[0] = quint16(x * 59 + (state >> 20));
            p[1] = quint16(y * 81);
            p[2] = quint16(state >> 16);
            p[3] = 0xffff;
        }
    }
    ASSERT_TRUE(picture.save(s("large.tif")));
    {
        auto meta = Exiv2::ImageFactory::open(QFile::encodeName(s("large.tif")).toStdString());
        meta->readMetadata();
        Exiv2::ExifData exif = meta->exifData();
        exif["Exif.Image.Orientation"] = uint16_t(8);
        meta->setExifData(exif);
        meta->writeMetadata();
    }
    const std::uint64_t was = kpv::DecodeBudget::shared().setCapacity(1100 * 800 * 8 / 2);
    QString why;
    EXPECT_EQ(worker.convertOneFileOnThread(record(s("large.tif")), dst.path(), kPng, params, nullptr, &why), 0)
        << why.toStdString();
    kpv::DecodeBudget::shared().setCapacity(was);
    EXPECT_EQ(kpv::ImageDestination::readSixteenBitPicture(d("large.png")), picture.transformed(QTransform().rotate(270)));
}

// A photo in a file larger than a gigabyte (a sparse tail after its end), stored turned: it is
// converted upright at 16 bits per channel with its metadata.
TEST_F(BatchConvertRun, APhotoInAFileLargerThanAGigabyteIsConvertedWithItsMetadata)
{
    const QImage picture = deepPicture();
    ASSERT_TRUE(picture.save(s("huge.png")));
    {
        auto meta = Exiv2::ImageFactory::open(QFile::encodeName(s("huge.png")).toStdString());
        meta->readMetadata();
        Exiv2::ExifData exif;
        exif["Exif.Image.Orientation"] = uint16_t(6);
        exif["Exif.Image.Artist"] = "Harbour";
        meta->setExifData(exif);
        meta->writeMetadata();
    }
    {
        QFile file(s("huge.png"));
        ASSERT_TRUE(file.resize((qint64(1) << 30) + 4096));
    }
    const std::uint64_t was = kpv::DecodeBudget::shared().setCapacity(30 * 20 * 8 / 2);
    QString why;
    EXPECT_EQ(worker.convertOneFileOnThread(record(s("huge.png")), dst.path(), kTiff, params, nullptr, &why), 0)
        << why.toStdString();
    kpv::DecodeBudget::shared().setCapacity(was);
    EXPECT_EQ(kpv::ImageDestination::readSixteenBitPicture(d("huge.tiff")), picture.transformed(QTransform().rotate(90)));
    auto meta = Exiv2::ImageFactory::open(QFile::encodeName(d("huge.tiff")).toStdString());
    meta->readMetadata();
    EXPECT_NE(meta->exifData().findKey(Exiv2::ExifKey("Exif.Image.Artist")), meta->exifData().end());
}

// A photo of 16 bits per channel too large for the decode budget to hold whole at that depth,
// stored turned or mirrored (each orientation, 6 last), converted to TIFF: it is written upright a
// band of rows at a time, every sample its own, from one pass over its rows. Cancelled between two
// bands, it leaves nothing in the destination.
TEST_F(BatchConvertRun, ASixteenBitPhotoTooLargeToHoldWholeIsConvertedInBands)
{
    const QImage picture = deepPicture();
    ASSERT_TRUE(picture.save(s("deep.png")));
    const std::uint64_t was = kpv::DecodeBudget::shared().setCapacity(30 * 20 * 8 / 2);
    int reads = 0;
    using T = kpv::LosslessTransform;
    const std::pair<uint16_t, T> orientations[] = {{2, T::FlipHorizontal}, {3, T::Rotate180}, {4, T::FlipVertical},
                                                   {5, T::Transpose},      {7, T::Transverse}, {8, T::Rotate270},
                                                   {6, T::Rotate90}};
    for (const auto &[orientation, upright] : orientations) {
        SCOPED_TRACE(orientation);
        auto meta = Exiv2::ImageFactory::open(QFile::encodeName(s("deep.png")).toStdString());
        meta->readMetadata();
        Exiv2::ExifData exif;
        exif["Exif.Image.Orientation"] = orientation;
        meta->setExifData(exif);
        meta->writeMetadata();
        QFile::remove(d("deep.tiff"));
        QString why;
        reads = 0;
        kpv::setFileAccessObserverForTesting([&](const QString &path, const char *) { reads += path == s("deep.png"); });
        ASSERT_EQ(worker.convertOneFileOnThread(record(s("deep.png")), dst.path(), kTiff, params, nullptr, &why), 0)
            << why.toStdString();
        EXPECT_EQ(kpv::ImageDestination::readSixteenBitPicture(d("deep.tiff")), kpv::ImageDestination::transformed(picture, upright));
        // The file is read a few times (its kind, its metadata, its rows), not once a band.
        EXPECT_LE(reads, 6);
    }

    kpv::Operation op;
    reads = 0;
    kpv::setFileAccessObserverForTesting([&](const QString &path, const char *) {
        if (path == s("deep.png") && ++reads == 2)
            op.cancel();
    });
    EXPECT_EQ(worker.convertOneFileOnThread(record(s("deep.png")), dst.path(), kTiff, params, &op),
              BatchFileWorker::kCancelled);
    kpv::setFileAccessObserverForTesting({});
    kpv::DecodeBudget::shared().setCapacity(was);
    EXPECT_GE(reads, 2);
    EXPECT_EQ(QDir(dst.path()).entryList(QDir::Files | QDir::Hidden), QStringList{"deep.tiff"});
}
