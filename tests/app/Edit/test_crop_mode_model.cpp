// Crop mode's state: entering keeps or resets the rectangle, presets, select all and the quarter
// turn on real frames, keyboard steps through a turned file, key decisions and enabled commands.

#include "Edit/CropModeModel.h"

#include "appkit/Event.h"

#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

class CropMode : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(dir.isValid());
        QFile f(dir.filePath("p.jpg"));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        path = LMPathString(dir.filePath("p.jpg"), false);
    }
    LMFileImgBaseInfoPtr infoFor(QSizeF size, int orientation = 1)
    {
        return std::make_shared<LMFileImgBaseInfo>(path, "public.jpeg", 2, QFileInfo(path.path()).lastModified(), size,
                                                   orientation, QVariantMap());
    }
    QTemporaryDir dir;
    LMPathString path;
    CropModeModel model;
};

TEST_F(CropMode, EnteringKeepsTheRectangleOfTheSameUnchangedFile)
{
    model.enterWithFile(path, infoFor(QSizeF(5, 3)), {}, QSizeF(1440, 900));
    EXPECT_EQ(model.originalImageRawCropRect(), QRectF(1, 1, 3, 2));
    EXPECT_TRUE(model.setOriginalImageRawCropRect(QRectF(0, 0, 2, 2)));
    EXPECT_FALSE(model.setOriginalImageRawCropRect(QRectF(0, 0, 2, 2)));
    model.choosePreset(6, 1.0);
    model.enterWithFile(path, infoFor(QSizeF(5, 3)), {}, QSizeF(1440, 900));
    EXPECT_EQ(model.presets().curCustomSizeIdx(), 0u);
    EXPECT_EQ(model.originalImageRawCropRect(), QRectF(0, 0, 2, 2));

    // The file changes on disk: the next entry starts afresh.
    QFile f(path.path());
    ASSERT_TRUE(f.open(QIODevice::ReadWrite));
    ASSERT_TRUE(f.setFileTime(QDateTime::currentDateTime().addSecs(-3600), QFileDevice::FileModificationTime));
    f.close();
    model.enterWithFile(path, infoFor(QSizeF(5, 3)), {}, QSizeF(1440, 900));
    EXPECT_EQ(model.originalImageRawCropRect(), QRectF(1, 1, 3, 2));
}

TEST_F(CropMode, WithoutInformationTheRectangleIsOnePixel)
{
    model.enterWithFile(path, nullptr, {}, QSizeF(1440, 900));
    EXPECT_EQ(model.originalImageRawCropRect(), QRectF(0, 0, 1, 1));
    EXPECT_EQ(model.visualFrame(), QRectF());
    // A kept ratio without a known image size never divides by zero.
    model.choosePreset(2, 1.0);
    EXPECT_FALSE(model.aspect().isKept());
}

TEST_F(CropMode, PresetsRotateAndSelectAll)
{
    model.enterWithFile(path, infoFor(QSizeF(1000, 200)), {}, QSizeF(1440, 900));
    model.setOriginalImageRawCropRect(QRectF(100, 50, 300, 100));
    EXPECT_TRUE(model.doRotate());
    EXPECT_EQ(model.originalImageRawCropRect(), QRectF(200, 0, 100, 200));
    model.setOriginalImageRawCropRect(QRectF(100, 15, 300, 169));
    // 16 x 9 already fits this rectangle.
    EXPECT_FALSE(model.choosePreset(3, 1.0));
    EXPECT_EQ(model.presets().curCustomSizeIdx(), 3u);
    EXPECT_TRUE(model.doRotate());
    EXPECT_EQ(model.originalImageRawCropRect().size(), QSizeF(113, 200));
    // Choosing the same fixed preset again changes nothing.
    EXPECT_FALSE(model.choosePreset(3, 1.0));
    EXPECT_TRUE(model.selectAll());
    EXPECT_EQ(model.presets().curCustomSizeIdx(), 2u);
    EXPECT_EQ(model.originalImageRawCropRect(), QRectF(0, 0, 1000, 200));
    // The display preset at scale 2 on a smaller image: the largest 16:10 rectangle that fits.
    EXPECT_TRUE(model.choosePreset(1, 2.0));
    EXPECT_EQ(model.originalImageRawCropRect(), QRectF(340, 0, 320, 200));
}

TEST_F(CropMode, TurnedFileMapsBothWaysAndKeysWorkInWhatTheUserSees)
{
    // Stored 40 x 20, shown turned by 90 degrees: 20 wide and 40 high.
    model.enterWithFile(path, infoFor(QSizeF(40, 20), 6), {}, QSizeF(1440, 900));
    EXPECT_EQ(model.visualFrame(), QRectF(0, 0, 20, 40));
    const QRectF raw(4, 2, 10, 6);
    EXPECT_EQ(model.visualToRaw(model.rawToVisual(raw)), raw);
    EXPECT_EQ(model.rawToVisual(raw).size(), QSizeF(6, 10));
    model.setOriginalImageRawCropRect(QRectF(0, 0, 40, 20));
    // The whole picture cannot move; growing is clamped; shrinking the shown width works.
    EXPECT_FALSE(model.moveOrResizeByKeyboard(QPointF(1, 0), true));
    EXPECT_FALSE(model.moveOrResizeByKeyboard(QPointF(1, 0), false));
    EXPECT_TRUE(model.moveOrResizeByKeyboard(QPointF(-1, 0), false));
    EXPECT_EQ(model.rawToVisual(model.originalImageRawCropRect()).size(), QSizeF(19, 40));
    bool changed = true;
    EXPECT_FALSE(model.scrollWheelUsed(1, 1, false, true, &changed));
    EXPECT_TRUE(model.scrollWheelUsed(0, 0, false, false, &changed));
    EXPECT_FALSE(changed);
    EXPECT_TRUE(model.magnify(-0.5));
    EXPECT_EQ(model.rawToVisual(model.originalImageRawCropRect()).size(), QSizeF(10, 20));
}

TEST(CropModeKeys, DecisionsByPageAndModifiers)
{
    using M = CropModeModel;
    const QString up(QChar(0xF700)), left(QChar(0xF702));
    auto d = M::keyDownDecision(up, kpv::NumericPadKeyMask, false);
    EXPECT_TRUE(d.consumed && d.move);
    EXPECT_EQ(d.delta, QPointF(0, 1));
    d = M::keyDownDecision(left, kpv::NumericPadKeyMask | kpv::CommandKeyMask, false);
    EXPECT_TRUE(d.consumed && !d.move);
    EXPECT_EQ(d.delta, QPointF(-1, 0));
    d = M::keyDownDecision("5", kpv::NumericPadKeyMask, false);
    EXPECT_TRUE(d.consumed);
    EXPECT_EQ(d.delta, QPointF(0, 0));
    EXPECT_FALSE(M::keyDownDecision(up, kpv::NumericPadKeyMask | kpv::ShiftKeyMask, false).consumed);
    EXPECT_FALSE(M::keyDownDecision("a", 0, false).consumed);
    d = M::keyDownDecision(up, kpv::NumericPadKeyMask | kpv::CommandKeyMask, true);
    EXPECT_TRUE(d.consumed && d.zoom && d.zoomIn);
    EXPECT_FALSE(M::keyDownDecision(up, kpv::NumericPadKeyMask, true).consumed);
}

TEST(CropModeKeys, CommandsEnabledByPageAndPreview)
{
    using M = CropModeModel;
    const QRectF r(0, 0, 10, 10);
    M::PreviewState p;
    EXPECT_TRUE(M::canDoAction(M::Crop, r, false, p));
    EXPECT_FALSE(M::canDoAction(M::SaveAs, QRectF(), false, p));
    EXPECT_TRUE(M::canDoAction(M::RotateLeft, r, false, p));
    EXPECT_FALSE(M::canDoAction(M::SelectAll, r, true, p));
    EXPECT_FALSE(M::canDoAction(M::ZoomIn, r, false, M::PreviewState{2, false, true, true}));
    EXPECT_TRUE(M::canDoAction(M::ZoomIn, r, true, M::PreviewState{2, false, true, true}));
    EXPECT_TRUE(M::canDoAction(M::ActualSize, r, true, M::PreviewState{2, false, true, true}));
    EXPECT_FALSE(M::canDoAction(M::ActualSize, r, true, p));
    EXPECT_FALSE(M::canDoAction(M::ZoomToFit, r, true, p));
    EXPECT_FALSE(M::canDoAction(16, r, false, p));
}

} // namespace
