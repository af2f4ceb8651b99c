// The crop pipeline's worker over generated files: whole-image crops share the original's pixels,
// turned files and views give upright crops, writes report an existing target, failures and
// cancellation give their codes, a saved crop keeps the original's metadata, and an original
// loaded here is handed back to the view mode.

#include "Edit/CropModeModel.h"
#include "Edit/CropSaveWorker.h"
#include "edit_test_support.h"

#include "Model/LMImageTools.h"
#include "foundation/Operation.h"
#include "imageio/ImageDestination.h"

#include <QFile>
#include <functional>
#include <QTemporaryDir>

#include <exiv2/exiv2.hpp>
#include <gtest/gtest.h>
#include <png.h>
#include <tiffio.h>

namespace {

class CropSave : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(dir.isValid()); }
    LMNavFileInfoPtr recordFor(const QString &name, QSize size, int orientation = 0, bool loadOriginal = true)
    {
        const QString path = dir.filePath(name);
        EXPECT_TRUE(writeTestImage(path, size, Qt::blue, orientation));
        auto record = std::make_shared<LMNavFileInfo>(LMPathString(path, false));
        record->setImgBaseInfo(editTestLoader().loadImgBaseInfo(record->filePath(), nullptr));
        if (loadOriginal)
            record->setImage(editTestLoader().loadImage(record->filePath(), 1, record->imgBaseInfo(), nullptr), false, 1, 0);
        return record;
    }
    QTemporaryDir dir;
    CropSaveWorker worker{editTestLoader()};
};

TEST_F(CropSave, WholeImageCropSharesTheOriginalsPixels)
{
    const auto record = recordFor("a.jpg", QSize(30, 20));
    const auto r = worker.beginSaveCropImageOnThread(record, LMImageRotateAngle(), std::nullopt, std::nullopt,
                                                     CropSaveWorker::Preview, nullptr, QRectF(0, 0, 30, 20), nullptr);
    ASSERT_EQ(r.code, 0);
    ASSERT_TRUE(r.croppedImage);
    EXPECT_EQ(r.croppedImage->frameDatas().first().get(), record->imageByType(1)->frameDatas().first().get());
    EXPECT_TRUE(r.croppedImage->originalImgBaseInfo()->filePath().isMemoryFilePathString());
}

TEST_F(CropSave, TurnedFileAndViewGiveAnUprightCrop)
{
    // Stored 40 x 20 with orientation 6 (shown turned by 90 degrees).
    const auto record = recordFor("t.jpg", QSize(40, 20), 6);
    auto r = worker.beginSaveCropImageOnThread(record, LMImageRotateAngle(), std::nullopt, std::nullopt,
                                               CropSaveWorker::Preview, nullptr, QRectF(0, 0, 40, 10), nullptr);
    ASSERT_EQ(r.code, 0);
    EXPECT_EQ(r.croppedImage->width(), 10u);
    EXPECT_EQ(r.croppedImage->height(), 40u);
    // A further quarter turn of the view brings it back to landscape.
    r = worker.beginSaveCropImageOnThread(record, LMImageRotateAngle(90, 0, 0), std::nullopt, std::nullopt,
                                          CropSaveWorker::Preview, nullptr, QRectF(0, 0, 40, 10), nullptr);
    ASSERT_EQ(r.code, 0);
    EXPECT_EQ(r.croppedImage->width(), 40u);
    // A rectangle partly outside the image is cut to it.
    r = worker.beginSaveCropImageOnThread(record, LMImageRotateAngle(), std::nullopt, std::nullopt,
                                          CropSaveWorker::Preview, nullptr, QRectF(30, 10, 50, 50), nullptr);
    ASSERT_EQ(r.code, 0);
    EXPECT_EQ(r.croppedImage->width(), 10u);
    EXPECT_EQ(r.croppedImage->height(), 10u);
}

TEST_F(CropSave, SavingWritesUprightAndReportsAnExistingTarget)
{
    const auto record = recordFor("t.jpg", QSize(40, 20), 6);
    const LMPathString out(dir.filePath("out.png"), false);
    auto r = worker.beginSaveCropImageOnThread(record, LMImageRotateAngle(), out, QVariantMap(), CropSaveWorker::SaveAs,
                                               nullptr, QRectF(0, 0, 20, 20), nullptr);
    ASSERT_EQ(r.code, 0);
    EXPECT_FALSE(r.fileExisted);
    EXPECT_EQ(storedImageSize(out.path()), QSize(20, 20));
    EXPECT_EQ(storedOrientation(out.path()), 1);
    // Saving again over it says so; the already-made crop is reused.
    r = worker.beginSaveCropImageOnThread(record, LMImageRotateAngle(), out, std::nullopt, CropSaveWorker::Favorite,
                                          r.croppedImage, QRectF(), nullptr);
    ASSERT_EQ(r.code, 0);
    EXPECT_TRUE(r.fileExisted);
    EXPECT_TRUE(r.thumb);
}

TEST_F(CropSave, FailuresAndCancellation)
{
    const auto record = recordFor("a.jpg", QSize(30, 20));
    const LMPathString out(dir.filePath("x.jpg"), false);
    EXPECT_EQ(worker.beginSaveCropImageOnThread(record, {}, out, std::nullopt, CropSaveWorker::Copy, nullptr,
                                                QRectF(0, 0, 0, 5), nullptr).code, -1);
    EXPECT_EQ(worker.beginSaveCropImageOnThread(record, {}, std::nullopt, std::nullopt, CropSaveWorker::Copy, nullptr,
                                                QRectF(0, 0, 5, 5), nullptr).code, -1);
    // An unknown extension fails and leaves nothing behind.
    const LMPathString bad(dir.filePath("x.xyz"), false);
    EXPECT_EQ(worker.beginSaveCropImageOnThread(record, {}, bad, std::nullopt, CropSaveWorker::SaveAs, nullptr,
                                                QRectF(0, 0, 5, 5), nullptr).code, -1);
    EXPECT_FALSE(QFile::exists(bad.path()));
    auto op = std::make_shared<kpv::Operation>();
    op->cancel();
    EXPECT_EQ(worker.beginSaveCropImageOnThread(record, {}, out, std::nullopt, CropSaveWorker::Copy, nullptr,
                                                QRectF(0, 0, 5, 5), op.get()).code, -2);
    EXPECT_FALSE(QFile::exists(out.path()));
}

TEST_F(CropSave, SavedCropKeepsTheOriginalsLocationAndKeywords)
{
    const auto record = recordFor("g.jpg", QSize(40, 20), 6);
    {
        auto meta = Exiv2::ImageFactory::open(QFile::encodeName(record->filePath().path()).toStdString());
        meta->readMetadata();
        Exiv2::ExifData exif = meta->exifData();
        exif["Exif.GPSInfo.GPSLatitudeRef"] = "N";
        exif["Exif.GPSInfo.GPSLatitude"] = std::string("48/1 51/1 0/1");
        exif["Exif.Image.Make"] = "Maker";
        meta->setExifData(exif);
        Exiv2::XmpData xmp;
        xmp["Xmp.dc.subject"] = "tower";
        meta->setXmpData(xmp);
        meta->writeMetadata();
    }
    // The record read the file before its metadata was added; read it again.
    record->setImgBaseInfo(editTestLoader().loadImgBaseInfo(record->filePath(), nullptr));
    record->setImage(editTestLoader().loadImage(record->filePath(), 1, record->imgBaseInfo(), nullptr), false, 1, 0);
    for (const char *name : {"crop.jpg", "crop.png", "crop.tiff"}) {
        SCOPED_TRACE(name);
        const LMPathString out(dir.filePath(name), false);
        ASSERT_EQ(worker.beginSaveCropImageOnThread(record, LMImageRotateAngle(), out, QVariantMap(),
                                                    CropSaveWorker::SaveAs, nullptr, QRectF(0, 0, 20, 20), nullptr)
                      .code,
                  0);
        auto meta = Exiv2::ImageFactory::open(QFile::encodeName(out.path()).toStdString());
        meta->readMetadata();
        const Exiv2::ExifData &exif = meta->exifData();
        EXPECT_NE(exif.findKey(Exiv2::ExifKey("Exif.GPSInfo.GPSLatitude")), exif.end());
        EXPECT_NE(exif.findKey(Exiv2::ExifKey("Exif.Image.Make")), exif.end());
        EXPECT_NE(meta->xmpData().findKey(Exiv2::XmpKey("Xmp.dc.subject")), meta->xmpData().end());
        // The crop is stored upright at its own size, whatever the original said.
        EXPECT_EQ(storedOrientation(out.path()), 1);
        EXPECT_EQ(storedImageSize(out.path()), QSize(20, 20));
    }
}

TEST_F(CropSave, OriginalLoadedHereIsRelayedToTheViewMode)
{
    const auto record = recordFor("a.jpg", QSize(30, 20), 0, false);
    QVariantMap relayed;
    const auto r = worker.beginSaveCropImageOnThread(record, {}, std::nullopt, std::nullopt, CropSaveWorker::Preview,
                                                     nullptr, QRectF(5, 5, 10, 10), nullptr,
                                                     [&](const QVariantMap &m) { relayed = m; });
    ASSERT_EQ(r.code, 0);
    EXPECT_EQ(relayed.value("result").toInt(), 0);
    EXPECT_EQ(relayed.value("ImageScaleType").toInt(), 1);
    EXPECT_TRUE(relayed.value("image").value<LMImagePtr>());
}

TEST(CropSaveNames, TemporaryCopiesGetFreeJpegNames)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString first = CropSaveWorker::temporaryCropFilePath(dir.path(), "holiday.png");
    EXPECT_EQ(first, dir.filePath("holiday.jpg"));
    QFile(first).open(QIODevice::WriteOnly);
    EXPECT_EQ(CropSaveWorker::temporaryCropFilePath(dir.path(), "holiday.png"), dir.filePath("holiday_1.jpg"));
}

// A large picture of 16 bits a sample in which every pixel tells its place, written a row at a
// time (quickly: the rows differ from the ones above by the same amounts).
quint16 deepSample(int x, int y, int c) { return quint16(c == 0 ? x * 3 + y : c == 1 ? y * 5 : x + y * 7); }

bool writeDeepPng(const QString &path, int width, int height)
{
    FILE *file = std::fopen(QFile::encodeName(path).constData(), "wb");
    png_structp png = file ? png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr) : nullptr;
    png_infop info = png ? png_create_info_struct(png) : nullptr;
    std::vector<quint16> row(size_t(width) * 3);
    bool ok = info && !setjmp(png_jmpbuf(png));
    if (ok) {
        png_init_io(png, file);
        png_set_IHDR(png, info, png_uint_32(width), png_uint_32(height), 16, PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE,
                     PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
        png_set_compression_level(png, 1);
        png_set_filter(png, 0, PNG_FILTER_UP);
        png_write_info(png, info);
        png_set_swap(png);
        for (int y = 0; y < height; ++y) {
            for (int x = 0; x < width; ++x)
                for (int c = 0; c < 3; ++c)
                    row[size_t(x) * 3 + size_t(c)] = deepSample(x, y, c);
            png_write_row(png, reinterpret_cast<png_bytep>(row.data()));
        }
        png_write_end(png, nullptr);
    }
    if (png)
        png_destroy_write_struct(&png, info ? &info : nullptr);
    return file && std::fclose(file) == 0 && ok;
}

bool writeDeepTiff(const QString &path, int width, int height,
                   const std::function<quint16(int, int, int)> &sample = deepSample, int orientation = 1)
{
    TIFF *tif = TIFFOpen(QFile::encodeName(path).constData(), "w");
    if (!tif)
        return false;
    TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, uint32_t(width));
    TIFFSetField(tif, TIFFTAG_IMAGELENGTH, uint32_t(height));
    TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, 16);
    TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, 3);
    TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_RGB);
    TIFFSetField(tif, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
    TIFFSetField(tif, TIFFTAG_COMPRESSION, COMPRESSION_ADOBE_DEFLATE);
    TIFFSetField(tif, TIFFTAG_ZIPQUALITY, 1);
    TIFFSetField(tif, TIFFTAG_PREDICTOR, PREDICTOR_HORIZONTAL);
    TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, 64);
    TIFFSetField(tif, TIFFTAG_ORIENTATION, orientation);
    std::vector<quint16> row(size_t(width) * 3);
    bool ok = true;
    for (int y = 0; ok && y < height; ++y) {
        for (int x = 0; x < width; ++x)
            for (int c = 0; c < 3; ++c)
                row[size_t(x) * 3 + size_t(c)] = sample(x, y, c);
        ok = TIFFWriteScanline(tif, row.data(), uint32_t(y), 0) >= 0;
    }
    TIFFClose(tif);
    return ok;
}

// A 16-bit photo stored in each of the eight EXIF orientations, under a plain, a turned and a
// flipped view: the crop saved at full depth holds exactly the pixels of the crop the user saw
// (the rectangle drawn on the upright picture), as the 8-bit preview cut them.
TEST_F(CropSave, SixteenBitCropsFollowEveryOrientationAndTurn)
{
    // Levels that 8 bits hold exactly, so that both roads give the same pixels.
    const auto level = [](int x, int y, int c) { return quint16(257 * ((c == 0 ? x * 6 : c == 1 ? y * 12 : (x + y) * 3) & 255)); };
    const QRectF rect(5, 3, 17, 9);
    for (int orientation = 1; orientation <= 8; ++orientation) {
        const QString path = dir.filePath(QStringLiteral("o%1.tif").arg(orientation));
        ASSERT_TRUE(writeDeepTiff(path, 40, 20, level, orientation));
        auto record = std::make_shared<LMNavFileInfo>(LMPathString(path, false));
        record->setImgBaseInfo(editTestLoader().loadImgBaseInfo(record->filePath(), nullptr));
        ASSERT_TRUE(record->imgBaseInfo());
        record->setImage(editTestLoader().loadImage(record->filePath(), 1, record->imgBaseInfo(), nullptr), false, 1, 0);
        for (const LMImageRotateAngle &angle : {LMImageRotateAngle(), LMImageRotateAngle(90, 0, 0), LMImageRotateAngle(0, 180, 0)}) {
            SCOPED_TRACE(testing::Message() << "orientation " << orientation << ", view " << angle.angleRotate() << " "
                                            << angle.angleHorizontalFlip());
            QImage shown;
            ASSERT_TRUE(worker.cropImage(record, angle, rect, nullptr, {}, &shown));
            const QString target = dir.filePath(QStringLiteral("crop.png"));
            QFile::remove(target);
            const auto r = worker.beginSaveCropImageOnThread(record, angle, LMPathString(target, false), std::nullopt,
                                                             CropSaveWorker::SaveAs, nullptr, rect, nullptr);
            ASSERT_EQ(r.code, CropSaveWorker::kDone) << r.error.toStdString();
            ASSERT_TRUE(kpv::ImageDestination::keepsSixteenBitsOnRewrite(target));
            const QImage written = kpv::ImageDestination::readSixteenBitPicture(target);
            EXPECT_EQ(written.convertToFormat(QImage::Format_RGB32), shown.convertToFormat(QImage::Format_RGB32));
        }
    }
}

// A photo of 16 bits a sample far too large to read whole at that depth (16384 x 8200), cropped
// and saved as PNG and as TIFF: the crop is read from the part the user chose and keeps the
// photo's own samples (read back by the toolkit's reader); the photo is untouched.
TEST_F(CropSave, APhotoTooLargeToReadWholeKeepsSixteenBitsInItsCrop)
{
    const int width = 16384, height = 8200;
    const QRectF rect(10001, 2003, 37, 23);
    for (const QString &name : {QStringLiteral("deep.png"), QStringLiteral("deep.tif")}) {
        SCOPED_TRACE(name.toStdString());
        const QString path = dir.filePath(name);
        ASSERT_TRUE(name.endsWith(QLatin1String("png")) ? writeDeepPng(path, width, height)
                                                        : writeDeepTiff(path, width, height));
        const QByteArray before = fileChecksum(path);
        auto record = std::make_shared<LMNavFileInfo>(LMPathString(path, false));
        record->setImgBaseInfo(editTestLoader().loadImgBaseInfo(record->filePath(), nullptr));
        ASSERT_TRUE(record->imgBaseInfo());
        record->setImage(nullptr, true, 1, 0); // the full-size picture was not read
        for (const QString &out : {QStringLiteral("crop.png"), QStringLiteral("crop.tif")}) {
            SCOPED_TRACE(out.toStdString());
            const QString target = dir.filePath(out);
            QFile::remove(target);
            const auto r = worker.beginSaveCropImageOnThread(record, LMImageRotateAngle(), LMPathString(target, false),
                                                             std::nullopt, CropSaveWorker::SaveAs, nullptr, rect, nullptr);
            ASSERT_EQ(r.code, CropSaveWorker::kDone) << r.error.toStdString();
            EXPECT_TRUE(kpv::ImageDestination::keepsSixteenBitsOnRewrite(target)) << "the crop was written with fewer bits";
            // Read back whole by the toolkit's own reader.
            const QImage crop = kpv::ImageDestination::readSixteenBitPicture(target);
            ASSERT_EQ(crop.size(), QSize(37, 23));
            for (int y = 0; y < 23; ++y) {
                const auto *row = reinterpret_cast<const quint16 *>(crop.constScanLine(y));
                for (int x = 0; x < 37; ++x)
                    for (int c = 0; c < 3; ++c)
                        ASSERT_EQ(row[x * 4 + c], deepSample(10001 + x, 2003 + y, c)) << x << "," << y << " sample " << c;
            }
        }
        EXPECT_EQ(fileChecksum(path), before);
        QFile::remove(path);
    }
}

} // namespace

// Every EXIF orientation, mirrored ones included, under a plain, a turned and a flipped view:
// the rectangle the user marks on the picture as shown is exactly what the crop holds.
TEST(CropSaveOrientation, EveryOrientationCropsThePixelsShown)
{
    // 40 x 20 stored pixels in eight 10 x 10 blocks of different colours.
    QImage stored(40, 20, QImage::Format_RGB32);
    for (int by = 0; by < 2; ++by)
        for (int bx = 0; bx < 4; ++bx)
            for (int y = 0; y < 10; ++y)
                for (int x = 0; x < 10; ++x)
                    stored.setPixel(bx * 10 + x, by * 10 + y, qRgb(30 * bx + 20, 120 * by + 40, 15 * (bx + by) + 5));
    const LMPathString path(QStringLiteral("/nonexistent/o.png"), false);
    const LMImageRotateAngle views[] = {LMImageRotateAngle(), LMImageRotateAngle(90, 0, 0),
                                        LMImageRotateAngle(0, 180, 0), LMImageRotateAngle(270, 0, 180)};
    CropSaveWorker worker(editTestLoader());
    for (int orientation = 1; orientation <= 8; ++orientation) {
        const auto info = std::make_shared<const LMFileImgBaseInfo>(path, QStringLiteral("public.png"), 0, QDateTime(),
                                                                    QSizeF(40, 20), orientation, QVariantMap());
        auto image = std::make_shared<LMImage>(stored, info);
        auto record = std::make_shared<LMNavFileInfo>(path);
        record->setImgBaseInfo(info);
        record->setImage(image, false, 1, 0);
        for (const LMImageRotateAngle &view : views) {
            SCOPED_TRACE(testing::Message() << "orientation " << orientation << " view " << view.angleRotate() << "/"
                                            << view.angleHorizontalFlip() << "/" << view.angleVerticalFlip());
            QImage shown = image->convertToUprightImage();
            if (view.isRotatedOrFlipped())
                shown = LMImageTools::imageRotatedByAngle(shown, view);
            // The marked block: 10 x 10 at the top-left of the picture as shown (visual y grows up).
            const QRect marked(0, 0, 10, 10);
            CropModeModel model;
            model.enterWithFile(path, info, view, QSizeF(1440, 900));
            const QRectF visual(marked.x(), shown.height() - marked.y() - marked.height(), marked.width(),
                                marked.height());
            const QRectF raw = model.visualToRaw(visual);
            const auto r = worker.beginSaveCropImageOnThread(record, view, std::nullopt, std::nullopt,
                                                             CropSaveWorker::Preview, nullptr, raw, nullptr);
            ASSERT_EQ(r.code, 0);
            const QImage got = r.croppedImage->convertToImage().convertToFormat(QImage::Format_RGB32);
            EXPECT_EQ(got, shown.copy(marked).convertToFormat(QImage::Format_RGB32));
        }
    }
}
