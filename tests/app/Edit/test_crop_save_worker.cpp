// The crop pipeline's worker over generated files: whole-image crops share the original's pixels,
// turned files and views give upright crops, writes report an existing target, failures and
// cancellation give their codes, and an original loaded here is handed back to the view mode.

#include "Edit/CropSaveWorker.h"
#include "edit_test_support.h"

#include "foundation/Operation.h"

#include <QFile>
#include <QTemporaryDir>

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
