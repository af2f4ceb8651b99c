// Crop mode on screen: entering shows the crop page with the rectangle of the last visit, a drag
// updates the read-out, Crop shows the result page, Save As writes an upright file and returns to
// the view mode, and Esc leaves the mode except while a save runs.

#include "Edit/CropViewController.h"
#include "edit_test_support.h"

#include "Kit/LMAreaTrackView.h"
#include "appkit/View.h"
#include "foundation/RunLoop.h"

#include <QDir>
#include <QFileInfo>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

class FakeHost final : public CropViewHost {
public:
    LMNavFileInfoPtr curFileInfo() const override { return record; }
    LMImageRotateAngle angleRotate() const override { return angle; }
    const LMPhotoLoader &photoLoader() const override { return editTestLoader(); }
    QSizeF mainScreenSizePoints() const override { return QSizeF(1440, 900); }
    kpv::View *containerViewByShowMode(long) override { return &container; }
    void setShowMode(long mode) override { showModes.push_back(mode); }
    void runSaveAsPanel(const QString &src, const QString &dir, SavePanelDone done) override
    {
        panelSource = src;
        panelDir = dir;
        done(panelAnswer, QVariantMap());
    }
    QString lastSaveAsDir() const override { return lastDir; }
    void setLastSaveAsDir(const QString &d) override { lastDir = d; }
    QString temporaryCropFolder() override { return tempFolder; }
    void endSaveCurFileToPath(const LMPathString &p) override { savedPaths.push_back(p.path()); }

    LMNavFileInfoPtr record;
    LMImageRotateAngle angle;
    kpv::View container{kpv::Rect(0, 0, 400, 300)};
    std::vector<long> showModes;
    QString panelAnswer, panelSource, panelDir, lastDir, tempFolder;
    std::vector<QString> savedPaths;
};

class CropView : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(dir.isValid()); }
    void openFile(const QString &name, QSize size, int orientation = 0)
    {
        const QString path = dir.filePath(name);
        ASSERT_TRUE(writeTestImage(path, size, Qt::blue, orientation));
        auto record = std::make_shared<LMNavFileInfo>(LMPathString(path, false));
        record->setImgBaseInfo(editTestLoader().loadImgBaseInfo(record->filePath(), nullptr));
        record->setImage(editTestLoader().loadImage(record->filePath(), 1, record->imgBaseInfo(), nullptr), false, 1, 0);
        host.record = record;
    }
    void enter()
    {
        controller.willChangeMainShowMode(4, 16);
        controller.didChangeMainShowMode(4, 16);
    }
    void leave()
    {
        controller.willChangeMainShowMode(16, 4);
        controller.didChangeMainShowMode(16, 4);
    }
    // Runs the main loop until the running save has answered.
    void waitForSave()
    {
        for (int i = 0; i < 100000 && controller.inSaving(); ++i)
            kpv::RunLoop::main().runOnce();
        ASSERT_FALSE(controller.inSaving());
    }
    QTemporaryDir dir;
    FakeHost host;
    CropViewController controller{host};
};

TEST_F(CropView, EnteringShowsTheCropPageAndKeepsTheLastRectangle)
{
    openFile("a.png", QSize(200, 100));
    enter();
    EXPECT_EQ(controller.view()->superview(), &host.container);
    EXPECT_FALSE(controller.isCurCroppedImagePage());
    EXPECT_EQ(controller.originalImageRawCropRect(), QRectF(50, 25, 100, 50));
    EXPECT_EQ(controller.cropRectInfoText(), QStringLiteral("X:50 Y:25 | 100 x 50"));
    // The rectangle on screen sits over the centred half of the fitted image.
    const kpv::Rect img = controller.imageViewRect();
    const kpv::Rect track = controller.cropTrackView()->cropTrackRect();
    EXPECT_NEAR(track.width(), img.width() / 2, 0.01);
    EXPECT_NEAR(track.x() - img.x(), img.width() / 4, 0.01);

    controller.selectAll();
    EXPECT_EQ(controller.originalImageRawCropRect(), QRectF(0, 0, 200, 100));
    leave();
    EXPECT_EQ(controller.view()->superview(), nullptr);
    enter();
    EXPECT_EQ(controller.originalImageRawCropRect(), QRectF(0, 0, 200, 100));

    // Another file starts again with its centred half.
    leave();
    openFile("b.png", QSize(40, 40));
    enter();
    EXPECT_EQ(controller.originalImageRawCropRect(), QRectF(10, 10, 20, 20));
}

TEST_F(CropView, DraggingUpdatesTheReadOutAndStaysInsideTheImage)
{
    openFile("a.png", QSize(200, 100));
    enter();
    const kpv::Rect img = controller.imageViewRect();
    const double s = img.width() / 200;
    // The view moved the rectangle to the lower-left quarter of the image.
    kpv::Rect dragged(img.x(), img.y(), 100 * s, 50 * s);
    controller.areaTrackView_doDragging(controller.cropTrackView(), dragged, 9, dragged);
    EXPECT_EQ(controller.cropSizeTipText(), QStringLiteral("100 x 50"));
    EXPECT_EQ(controller.cropRectInfoText(), QStringLiteral("X:0 Y:50 | 100 x 50"));
    // A drag reaching past the image is cut to it.
    kpv::Rect past(img.x() - 40, img.y(), 300 * s, 100 * s);
    controller.areaTrackView_endDrag(controller.cropTrackView(), past, 2, past);
    EXPECT_EQ(controller.originalImageRawCropRect().size(), QSizeF(200, 100));
    // A collapsed rectangle is repaired to at least one pixel, so the commands stay usable.
    kpv::Rect flat(img.x() + 10, img.y() + 10, 0, 0);
    controller.areaTrackView_endDrag(controller.cropTrackView(), flat, 1, flat);
    EXPECT_GE(controller.originalImageRawCropRect().width(), 1);
    EXPECT_GE(controller.originalImageRawCropRect().height(), 1);
    EXPECT_TRUE(controller.canDoAction(CropModeModel::Crop));
}

TEST_F(CropView, CropShowsTheResultAndBackAgain)
{
    openFile("a.png", QSize(200, 100));
    enter();
    controller.doCrop();
    waitForSave();
    ASSERT_TRUE(controller.isCurCroppedImagePage());
    ASSERT_TRUE(controller.croppedImage());
    EXPECT_EQ(controller.croppedImage()->width(), 100u);
    EXPECT_FALSE(controller.canDoAction(CropModeModel::SelectAll));
    const LMImagePtr first = controller.croppedImage();
    controller.doCrop();  // back to the crop page
    EXPECT_FALSE(controller.isCurCroppedImagePage());
    controller.doCrop();  // same rectangle: the preview is reused
    EXPECT_TRUE(controller.isCurCroppedImagePage());
    EXPECT_FALSE(controller.inSaving());
    EXPECT_EQ(controller.croppedImage(), first);
}

TEST_F(CropView, SaveAsWritesAnUprightFileAndReturns)
{
    // Stored 40 x 20, shown turned a quarter by its orientation.
    openFile("t.jpg", QSize(40, 20), 6);
    enter();
    host.lastDir = dir.path();
    host.panelAnswer = dir.filePath("out/cut.png");
    QDir().mkpath(dir.filePath("out"));
    controller.doSaveAs();
    waitForSave();
    EXPECT_EQ(host.panelSource, host.record->filePath().path());
    EXPECT_EQ(host.panelDir, dir.path());
    EXPECT_EQ(host.lastDir, dir.filePath("out"));
    const QSize written = storedImageSize(host.panelAnswer);
    EXPECT_EQ(written, QSize(10, 20));  // the raw 20 x 10 half, upright
    EXPECT_EQ(storedOrientation(host.panelAnswer), 1);
    ASSERT_EQ(host.savedPaths.size(), 1u);
    ASSERT_FALSE(host.showModes.empty());
    EXPECT_EQ(host.showModes.back(), 4);

    // A cancelled panel writes nothing and stays.
    host.showModes.clear();
    host.panelAnswer.clear();
    controller.doSaveAs();
    EXPECT_FALSE(controller.inSaving());
    EXPECT_TRUE(host.showModes.empty());
}

TEST_F(CropView, EscLeavesExceptWhileSaving)
{
    openFile("a.png", QSize(20, 10));
    enter();
    const auto other = kpv::Event::keyEvent(kpv::KeyDown, 0, "a", "a", nullptr);
    EXPECT_FALSE(controller.handleKeyDown(*other));
    const auto esc = kpv::Event::keyEvent(kpv::KeyDown, kpv::KeyCode::Escape, "\x1b", "\x1b", nullptr);
    host.tempFolder = dir.path();
    controller.doCopy();
    EXPECT_TRUE(controller.inSaving());
    EXPECT_FALSE(controller.handleKeyDown(*esc));
    waitForSave();
    host.showModes.clear();
    EXPECT_TRUE(controller.handleKeyDown(*esc));
    ASSERT_EQ(host.showModes.size(), 1u);
    EXPECT_EQ(host.showModes.back(), 4);
}

} // namespace
