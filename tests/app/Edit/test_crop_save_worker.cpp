// The crop pipeline's worker over generated files: whole-image crops share the original's pixels,
// turned files and views give upright crops, writes report an existing target, failures and
// cancellation give their codes, a saved crop keeps the original's metadata, and an original
// loaded here is handed back to the view mode.

#include "Edit/CropModeModel.h"
#include "Edit/CropSaveWorker.h"
#include "edit_test_support.h"

#include "Model/LMImageTools.h"
#include "foundation/Operation.h"

#include <QFile>
#include <QTemporaryDir>

#include <exiv2/exiv2.hpp>
#include <gtest/gtest.h>

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
