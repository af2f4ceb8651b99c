// Crop mode on screen: entering shows the crop page with the rectangle of the last visit, a drag
// updates the read-out, Crop shows the result page, Save As writes an upright file and returns to
// the view mode, and Esc leaves the mode except while a save runs.

#include "Edit/CropViewController.h"
#include "edit_test_support.h"

#include "Kit/LMAreaTrackView.h"
#include "Kit/LMButton.h"
#include "Kit/LMImageView.h"
#include "Kit/LMNormalCustomButton.h"
#include "appkit/Control.h"
#include "appkit/View.h"
#include "foundation/Bundle.h"
#include "foundation/Clock.h"
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
    double backingScale() const override { return 1.0; }
    kpv::View *popupParentView() override { return &container; }
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
    void addFavoriteFile(const LMPathString &p, const LMImagePtr &) override { favorites.push_back(p.path()); }
    void postFileModified(const LMPathString &p) override { modified.push_back(p.path()); }
    void didLoadImageFromThread(const QVariantMap &) override {}
    bool isKeyWindowForView(kpv::View *) const override { return true; }
    kpv::Rect favoriteBoxFrameInWindow() const override { return kpv::Rect(300, 10, 40, 30); }
    void showAlert(const QString &message, const QString &, std::function<void()> done) override
    {
        alerts.push_back(message);
        if (done)
            done();
    }

    LMNavFileInfoPtr record;
    LMImageRotateAngle angle;
    kpv::View container{kpv::Rect(0, 0, 400, 300)};
    std::vector<long> showModes;
    QString panelAnswer, panelSource, panelDir, lastDir, tempFolder;
    std::vector<QString> savedPaths, favorites, modified, alerts;
};

class CropView : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(dir.isValid());
        kpv::RunLoop::main().setClock(&clock);
    }
    void TearDown() override { kpv::RunLoop::main().setClock(nullptr); }
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
        // Sleeps until the worker posts its answer, however long the machine takes; a count of
        // loop passes ran out under load.
        kpv::RunLoop::main().runWhile([this] { return controller.inSaving(); });
        ASSERT_FALSE(controller.inSaving());
    }
    kpv::ManualClock clock;
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
    // What is being done shows until it is done.
    EXPECT_FALSE(controller.viewCropInfoPrompt()->isHidden());
    EXPECT_EQ(controller.viewCropInfoPrompt()->stringValue(),
              kpv::Bundle::mainBundle().localizedString(QStringLiteral("IDS_Copying")));
    EXPECT_FALSE(controller.handleKeyDown(*esc));
    waitForSave();
    EXPECT_TRUE(controller.viewCropInfoPrompt()->isHidden());
    host.showModes.clear();
    EXPECT_TRUE(controller.handleKeyDown(*esc));
    ASSERT_EQ(host.showModes.size(), 1u);
    EXPECT_EQ(host.showModes.back(), 4);
}

} // namespace

namespace {

// A save that fails on a full disk says so, stays in the mode for another try, and leaves both
// the original and the file it would have replaced as they were.
TEST_F(CropView, FailedSaveShowsAnAlertAndKeepsTheFiles)
{
    openFile("a.png", QSize(400, 300));
    enter();
    const QString target = dir.filePath("cut.png");
    ASSERT_TRUE(writeTestImage(target, QSize(8, 8), Qt::red));
    const QByteArray originalSum = fileChecksum(host.record->filePath().path());
    const QByteArray targetSum = fileChecksum(target);
    host.panelAnswer = target;
    {
        DiskFullScope full(64);
        controller.doSaveAs();
        waitForSave();
    }
    ASSERT_EQ(host.alerts.size(), 1u);
    EXPECT_FALSE(host.alerts.front().isEmpty());
    EXPECT_TRUE(host.showModes.empty());
    EXPECT_TRUE(host.savedPaths.empty());
    EXPECT_TRUE(host.modified.empty());
    EXPECT_EQ(fileChecksum(host.record->filePath().path()), originalSum);
    EXPECT_EQ(fileChecksum(target), targetSum);
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files).size(), 2);  // no temporary file left behind

    // The same for I Love It and Copy, whose temporary copies go to a full disk too.
    host.tempFolder = dir.filePath("tmp");
    QDir().mkpath(host.tempFolder);
    {
        DiskFullScope full(64);
        controller.doFavorite();
        waitForSave();
        controller.doCopy();
        waitForSave();
    }
    EXPECT_EQ(host.alerts.size(), 3u);
    EXPECT_TRUE(host.favorites.empty());
    EXPECT_TRUE(host.showModes.empty());
}

// I Love It: the crop flies from the rectangle into the favourites box over 0.3 s and then joins
// the favourites; the mode is left at once.
TEST_F(CropView, ILoveItFliesIntoTheFavouritesBox)
{
    openFile("a.png", QSize(200, 100));
    enter();
    host.tempFolder = dir.filePath("tmp");
    QDir().mkpath(host.tempFolder);
    const kpv::Rect track = controller.cropTrackView()->convertRectToView(controller.cropTrackView()->cropTrackRect(), nullptr);
    controller.doFavorite();
    waitForSave();
    ASSERT_FALSE(host.showModes.empty());
    EXPECT_EQ(host.showModes.back(), 4);
    ASSERT_TRUE(controller.favorFileAnimationView());
    EXPECT_EQ(controller.favorFileAnimationView()->superview(), &host.container);
    EXPECT_EQ(controller.favorFileAnimationView()->frame(), kpv::intersectionRect(track, host.container.bounds()));
    EXPECT_TRUE(host.favorites.empty());
    for (int i = 0; i < 30 && host.favorites.empty(); ++i) {
        clock.advance(1.0 / 60.0);
        kpv::RunLoop::main().runOnce();
        if (i == 5) {
            // On its way: smaller than at the start, nearer the box.
            const kpv::Rect f = controller.favorFileAnimationView()->frame();
            EXPECT_LT(f.width(), track.width());
            EXPECT_GT(f.midX(), track.midX());
        }
    }
    ASSERT_EQ(host.favorites.size(), 1u);
    EXPECT_TRUE(host.favorites.front().startsWith(host.tempFolder));
    EXPECT_EQ(controller.favorFileAnimationView()->superview(), nullptr);
}

// Save As into a folder that refuses writing: the alert, and the file already there untouched.
TEST_F(CropView, SaveIntoAReadOnlyFolderShowsAnAlertAndKeepsTheFiles)
{
    openFile("a.png", QSize(60, 40));
    enter();
    const QString folder = dir.filePath("locked");
    ASSERT_TRUE(QDir().mkpath(folder));
    const QString target = QDir(folder).filePath("cut.png");
    ASSERT_TRUE(writeTestImage(target, QSize(8, 8), Qt::red));
    const QByteArray targetSum = fileChecksum(target);
    const QByteArray originalSum = fileChecksum(host.record->filePath().path());
    host.panelAnswer = target;
    {
        ReadOnlyFolderScope locked(folder);
        ASSERT_TRUE(locked.isReadOnly());
        controller.doSaveAs();
        waitForSave();
    }
    ASSERT_EQ(host.alerts.size(), 1u);
    EXPECT_TRUE(host.showModes.empty());
    EXPECT_EQ(fileChecksum(target), targetSum);
    EXPECT_EQ(fileChecksum(host.record->filePath().path()), originalSum);
    EXPECT_EQ(QDir(folder).entryList(QDir::Files | QDir::Hidden).size(), 1);
}

// The controls reach the commands: the toolbar at the rectangle, the preset pop-up, and the
// result page's toolbar with the preview's zoom.
TEST_F(CropView, ToolbarsPresetsAndPreviewZoom)
{
    openFile("a.png", QSize(200, 100));
    enter();
    // The toolbar sits right-aligned under the rectangle, inside the page.
    const kpv::Rect track = controller.cropTrackView()->cropTrackRect();
    const kpv::Rect bar = controller.trackToolbar()->frame();
    EXPECT_FALSE(controller.trackToolbar()->isHidden());
    EXPECT_NEAR(bar.x() + bar.width(), track.x() + track.width() - 2, 1);
    EXPECT_NEAR(bar.y() + bar.height(), track.y() - 2, 1);
    controller.areaTrackView_beginDrag(controller.cropTrackView(), track, 1, nullptr);
    EXPECT_TRUE(controller.trackToolbar()->isHidden());
    controller.areaTrackView_endDrag(controller.cropTrackView(), track, 1, track);
    EXPECT_FALSE(controller.trackToolbar()->isHidden());
    EXPECT_EQ(controller.txtCropRectInfo()->stringValue(), controller.cropRectInfoText());

    // The preset pop-up lists the presets, checks the current one and applies a choice.
    controller.customSizeButtonClicked();
    ASSERT_TRUE(controller.customSizePopMenuViewController());
    const unsigned long presets = controller.numberOfItemsInPopMenuView(nullptr, {});
    ASSERT_EQ(presets, controller.model().presets().arrayCustomSizes().size());
    EXPECT_TRUE(controller.popMenuViewItemChecked(nullptr, QVariant::fromValue(qulonglong(0)), {}));
    const size_t original = controller.model().presets().customSizeIdxByType(CropAspectPresets::Image);
    controller.popMenuViewItemClicked(nullptr, QVariant::fromValue(qulonglong(original)), {});
    EXPECT_EQ(controller.originalImageRawCropRect(), QRectF(0, 0, 200, 100));
    EXPECT_EQ(controller.btnCustomSize()->textButtonTitle()->stringValue(), controller.customSizeButtonTitle());
    EXPECT_TRUE(controller.popMenuViewItemChecked(nullptr, QVariant::fromValue(qulonglong(original)), {}));

    // The rotate button turns the rectangle (kept at the picture's 2 : 1 as 1 : 2, inside it); the
    // crop button shows the result page.
    controller.btnRotate()->sendAction();
    EXPECT_EQ(controller.originalImageRawCropRect().size(), QSizeF(50, 100));
    controller.btnCrop()->sendAction();
    waitForSave();
    ASSERT_TRUE(controller.isCurCroppedImagePage());
    EXPECT_EQ(controller.croppedToolbar()->superview(), controller.croppedImageView()->superview());

    // A 50 x 100 crop fits at its own size: only zooming in is offered until it is zoomed.
    EXPECT_TRUE(controller.previewFitinMode());
    EXPECT_FALSE(controller.canDoAction(CropModeModel::ActualSize));
    EXPECT_FALSE(controller.canDoAction(CropModeModel::ZoomToFit));
    EXPECT_FALSE(controller.canDoAction(CropModeModel::ZoomOut));
    ASSERT_TRUE(controller.canDoAction(CropModeModel::ZoomIn));
    const double before = controller.croppedImageView()->frame().width();
    controller.doAction(CropModeModel::ZoomIn, 0);
    EXPECT_GT(controller.croppedImageView()->frame().width(), before);
    EXPECT_TRUE(controller.canDoAction(CropModeModel::ZoomToFit));
    EXPECT_TRUE(controller.canDoAction(CropModeModel::ActualSize));
    controller.doAction(CropModeModel::ActualSize, 0);
    EXPECT_DOUBLE_EQ(controller.previewScale(), 1.0);
    controller.doAction(CropModeModel::ZoomIn, 0);
    controller.doAction(CropModeModel::ZoomToFit, 0);
    EXPECT_TRUE(controller.previewFitinMode());
    EXPECT_DOUBLE_EQ(controller.croppedImageView()->frame().width(), before);

    // The back button returns to the crop page; close leaves the mode.
    controller.btnBackToCrop()->sendAction();
    EXPECT_FALSE(controller.isCurCroppedImagePage());
    controller.btnClose1()->sendAction();
    ASSERT_FALSE(host.showModes.empty());
    EXPECT_EQ(host.showModes.back(), 4);
}

} // namespace

namespace {

// The keyboard, the wheel and a pinch change the rectangle; the size tip shows only while a drag
// runs; on the result page command-up and command-down zoom the preview.
TEST_F(CropView, KeysWheelPinchAndTheSizeTip)
{
    openFile("a.png", QSize(200, 100));
    enter();
    ASSERT_EQ(controller.originalImageRawCropRect(), QRectF(50, 25, 100, 50));
    const quint64 pad = kpv::NumericPadKeyMask;
    auto key = [&](QChar c, quint64 flags) {
        return controller.handleKeyDown(*kpv::Event::keyEvent(kpv::KeyDown, 124, QString(c), QString(c), nullptr, flags));
    };
    // Right arrow: one pixel right. Visual y grows upwards, raw y downwards: up moves raw y by -1.
    EXPECT_TRUE(key(QChar(0xF703), pad));
    EXPECT_EQ(controller.originalImageRawCropRect(), QRectF(51, 25, 100, 50));
    EXPECT_TRUE(key(QChar(0xF700), pad));
    EXPECT_EQ(controller.originalImageRawCropRect(), QRectF(51, 24, 100, 50));
    // With the command key an arrow resizes instead.
    EXPECT_TRUE(key(QChar(0xF703), pad | kpv::CommandKeyMask));
    EXPECT_EQ(controller.originalImageRawCropRect().size(), QSizeF(101, 50));
    // Other keys are left to others.
    EXPECT_FALSE(key(QChar('a'), 0));

    // The wheel moves; a pinch grows the rectangle about its centre.
    kpv::Event wheel(kpv::ScrollWheel);
    wheel.setScrollingDelta(0, 3);
    const QRectF beforeWheel = controller.originalImageRawCropRect();
    EXPECT_TRUE(controller.areaTrackView_scrollWheel(controller.cropTrackView(), wheel));
    EXPECT_NE(controller.originalImageRawCropRect(), beforeWheel);
    EXPECT_EQ(controller.originalImageRawCropRect().size(), beforeWheel.size());
    kpv::Event pinch(kpv::EventTypeMagnify);
    pinch.setMagnification(0.2);
    controller.areaTrackView_magnifyWithEvent(controller.cropTrackView(), pinch);
    EXPECT_GT(controller.originalImageRawCropRect().width(), beforeWheel.width());

    // The size tip during a drag, gone at its end.
    const kpv::Rect track = controller.cropTrackView()->cropTrackRect();
    EXPECT_TRUE(controller.cropRectTextView()->isHidden());
    controller.areaTrackView_doDragging(controller.cropTrackView(), track, 2, track);
    EXPECT_FALSE(controller.cropRectTextView()->isHidden());
    EXPECT_EQ(controller.cropRectTextView()->stringValue(), controller.cropSizeTipText());
    controller.areaTrackView_endDrag(controller.cropTrackView(), track, 2, track);
    EXPECT_TRUE(controller.cropRectTextView()->isHidden());

    // Result page: command-up zooms the preview in.
    controller.doCrop();
    waitForSave();
    ASSERT_TRUE(controller.isCurCroppedImagePage());
    const double scale = controller.previewScale();
    EXPECT_TRUE(key(QChar(0xF700), kpv::CommandKeyMask));
    EXPECT_GT(controller.previewScale(), scale);
    // The new zoom shows for a moment.
    EXPECT_FALSE(controller.viewCropInfoPrompt()->isHidden());
    EXPECT_EQ(controller.viewCropInfoPrompt()->stringValue(), QStringLiteral("%1%").arg(qint64(controller.previewScale() * 100)));
    clock.advance(1.1);
    kpv::RunLoop::main().runOnce();
    EXPECT_TRUE(controller.viewCropInfoPrompt()->isHidden());
}

} // namespace
