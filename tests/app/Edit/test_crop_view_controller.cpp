// Crop mode on screen: entering shows the crop page with the rectangle of the last visit, a drag
// updates the read-out, Crop shows the result page, Save As writes an upright file and returns to
// the view mode, and Esc leaves the mode except while a save runs.

#include "Edit/CropViewController.h"
#include "Edit/CropPreviewView.h"
#include "edit_test_support.h"
#include "../../support/PagesTiff.h"
#include "../../support/ReferencePng.h"

#include "Kit/LMAreaTrackView.h"
#include "Kit/LMButton.h"
#include "Kit/LMEventMonitorCenter.h"
#include "Kit/LMImageView.h"
#include "Kit/LMNormalCustomButton.h"
#include "Kit/LMPopMenuView.h"
#include "Kit/LMPopMenuViewController.h"
#include "Model/MainConfig.h"
#include "appkit/Control.h"
#include "appkit/GraphicsContext.h"
#include "appkit/Pasteboard.h"
#include "appkit/View.h"
#include "appkit/Application.h"
#include "appkit/Window.h"
#include "foundation/Bundle.h"
#include "foundation/Clock.h"
#include "foundation/NotificationCenter.h"
#include "foundation/UserDefaults.h"
#include "foundation/RunLoop.h"
#include "Model/LMImageTools.h"
#include "Model/LMSaveStages.h"
#include "imageio/DecodeBudget.h"
#include "imageio/ImageProperties.h"
#include "imageio/ImageSource.h"

#include <QCoreApplication>
#include <QDir>
#include <QNativeGestureEvent>
#include <QTest>
#include <QWheelEvent>
#include <QWidget>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <gtest/gtest.h>
#include <tiffio.h>
#include <turbojpeg.h>

namespace {

class FakeHost final : public CropViewHost {
public:
    LMNavFileInfoPtr curFileInfo() const override { return record; }
    LMImageRotateAngle angleRotate() const override { return angle; }
    const LMPhotoLoader &photoLoader() const override { return editTestLoader(); }
    QSizeF mainScreenSizePoints() const override { return screen; }
    double backingScale() const override { return 1.0; }
    kpv::View *popupParentView() override { return &container; }
    kpv::View *containerViewByShowMode(long) override { return &container; }
    void setShowMode(long mode) override { showModes.push_back(mode); }
    // The panel's own question before a file is replaced: recorded when it names a loss.
    void runSaveAsPanel(const QString &src, const QString &dir, ReplaceWarning warning, SavePanelDone done) override
    {
        panelSource = src;
        panelDir = dir;
        const QString loss = warning && QFileInfo::exists(panelAnswer) ? warning(panelAnswer) : QString();
        if (!loss.isEmpty()) {
            questions.push_back(panelAnswer);
            questionReasons.push_back(loss);
            if (!replaceAnswer) {
                done(QString(), QVariantMap());
                return;
            }
        }
        done(panelAnswer, QVariantMap());
    }
    QString lastSaveAsDir() const override { return lastDir; }
    void setLastSaveAsDir(const QString &d) override { lastDir = d; }
    QString temporaryCropFolder() override { return tempFolder; }
    QString keptCropFolder() override { return keptFolder; }
    void endSaveCurFileToPath(const LMPathString &p) override { savedPaths.push_back(p.path()); }
    void addFavoriteFile(const LMPathString &p, const LMImagePtr &) override { favorites.push_back(p.path()); }
    void postFileModified(const LMPathString &p) override { modified.push_back(p.path()); }
    void didLoadImageFromThread(const QVariantMap &) override {}
    bool isKeyWindowForView(kpv::View *) const override { return true; }
    kpv::Rect favoriteBoxFrameInWindow() const override { return kpv::Rect(300, 10, 40, 30); }
    MainConfig *mainConfig() const override { return config; }
    void showAlert(const QString &message, const QString &informative, std::function<void()> done) override
    {
        alerts.push_back(message);
        alertReasons.push_back(informative);
        if (done)
            done();
    }

    LMNavFileInfoPtr record;
    bool replaceAnswer = false;
    std::vector<QString> questions, questionReasons;
    LMImageRotateAngle angle;
    MainConfig *config = nullptr;
    QSizeF screen{1440, 900};
    kpv::View container{kpv::Rect(0, 0, 400, 300)};
    std::vector<long> showModes;
    QString panelAnswer, panelSource, panelDir, lastDir, tempFolder, keptFolder;
    std::vector<QString> savedPaths, favorites, modified, alerts, alertReasons;
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
        openWritten(path);
    }
    // Opens a file already written, as the view mode does: its information and full-size pixels.
    void openWritten(const QString &path)
    {
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
    // Lets running fades and zoom animations finish on the manual clock.
    void settleZoom(double seconds = 2.0)
    {
        for (double t = 0; t < seconds; t += 1.0 / 60.0) {
            clock.advance(1.0 / 60.0);
            kpv::RunLoop::main().runOnce();
        }
    }
    kpv::ManualClock clock;
    QTemporaryDir dir;
    FakeHost host;
    CropViewController controller{host};
};

TEST_F(CropView, EnteringShowsTheCropPageAndKeepsTheLastRectangle)
{
    ASSERT_NO_FATAL_FAILURE(openFile("a.png", QSize(200, 100)));
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

    // The rectangle is drawn with a frame whose corner handles stand just outside it, in white.
    {
        const QImage shot = controller.cropPage()->renderToImage(1.0);
        const double h = controller.cropPage()->bounds().height();
        const QColor handle = QColor::fromRgba(shot.pixel(int(track.x() + 6), int(h - (track.maxY() + 1.5))));
        EXPECT_GT(handle.red(), 220);
        EXPECT_GT(handle.blue(), 220);
    }

    controller.selectAll();
    EXPECT_EQ(controller.originalImageRawCropRect(), QRectF(0, 0, 200, 100));
    leave();
    settleZoom(0.5);
    EXPECT_EQ(controller.view()->superview(), nullptr);
    enter();
    EXPECT_EQ(controller.originalImageRawCropRect(), QRectF(0, 0, 200, 100));

    // Another file starts again with its centred half.
    leave();
    settleZoom(0.5);
    ASSERT_NO_FATAL_FAILURE(openFile("b.png", QSize(40, 40)));
    enter();
    EXPECT_EQ(controller.originalImageRawCropRect(), QRectF(10, 10, 20, 20));
}

TEST_F(CropView, DraggingUpdatesTheReadOutAndStaysInsideTheImage)
{
    ASSERT_NO_FATAL_FAILURE(openFile("a.png", QSize(200, 100)));
    enter();
    const kpv::Rect img = controller.imageViewRect();
    const double s = img.width() / 200;
    // The view moved the rectangle to the lower-left quarter of the image.
    kpv::Rect dragged(img.x(), img.y(), 100 * s, 50 * s);
    controller.areaTrackView_doDragging(controller.cropTrackView(), dragged, 9, dragged);
    EXPECT_EQ(controller.cropSizeTipText(), QStringLiteral("100 x 50"));
    // A move keeps the size, so the size tip stays away.
    EXPECT_TRUE(controller.cropRectTextView()->isHidden());
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
    ASSERT_NO_FATAL_FAILURE(openFile("a.png", QSize(200, 100)));
    enter();
    controller.doCrop();
    ASSERT_NO_FATAL_FAILURE(waitForSave());
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

// A photo whose full-size picture is more than decodes may hold (as a blank fax page of a few
// hundred bytes declaring a vast page) shows its fitted picture on the crop page; the crop is read
// from the chosen part alone, shown and saved with the photo's pixels, and a crop itself too large
// for that memory is told, the original unchanged.
TEST_F(CropView, APhotoTooLargeToReadWholeIsCroppedFromThePartChosen)
{
    const QString path = dir.filePath("page.png");
    ASSERT_TRUE(writeTestImage(path, QSize(400, 300), Qt::blue));
    const QByteArray originalSum = fileChecksum(path);
    const QImage whole = readImage(path).convertToFormat(QImage::Format_ARGB32);
    // Room for a part of the picture, not for all of it (400 x 300 x 4 bytes).
    struct Budget {
        std::uint64_t former = kpv::DecodeBudget::shared().setCapacity(300000);
        ~Budget() { kpv::DecodeBudget::shared().setCapacity(former); }
    } budget;
    auto record = std::make_shared<LMNavFileInfo>(LMPathString(path, false));
    record->setImgBaseInfo(editTestLoader().loadImgBaseInfo(record->filePath(), nullptr));
    ASSERT_EQ(editTestLoader().loadImage(record->filePath(), 1, record->imgBaseInfo(), nullptr), nullptr);
    record->setImage(nullptr, true, 1, 0);
    QImage fitted(100, 75, QImage::Format_RGBA8888);
    fitted.fill(Qt::blue);
    record->setImage(std::make_shared<LMImage>(fitted, record->imgBaseInfo()), false, LMNavFileInfo::kMaxScaleType, 0);
    host.record = record;
    enter();
    ASSERT_EQ(controller.originalImageRawCropRect(), QRectF(100, 75, 200, 150));
    controller.doCrop();
    ASSERT_NO_FATAL_FAILURE(waitForSave());
    EXPECT_TRUE(host.alerts.empty());
    ASSERT_TRUE(controller.isCurCroppedImagePage());
    ASSERT_TRUE(controller.croppedImage());
    const QImage expected = whole.copy(100, 75, 200, 150);
    EXPECT_EQ(controller.croppedImage()->convertToImage().convertToFormat(QImage::Format_ARGB32), expected);

    host.lastDir = dir.path();
    host.panelAnswer = dir.filePath("part.png");
    controller.doSaveAs();
    ASSERT_NO_FATAL_FAILURE(waitForSave());
    EXPECT_TRUE(host.alerts.empty());
    EXPECT_EQ(readImage(host.panelAnswer).convertToFormat(QImage::Format_ARGB32), expected);

    // The whole picture, as the crop, is more than decodes may hold: told, nothing shown or written.
    leave();
    settleZoom(0.5);
    host.showModes.clear();
    enter();
    controller.selectAll();
    controller.doCrop();
    ASSERT_NO_FATAL_FAILURE(waitForSave());
    ASSERT_EQ(host.alerts.size(), 1u);
    EXPECT_TRUE(host.alertReasons.front().contains(QStringLiteral("too large")));
    EXPECT_FALSE(controller.isCurCroppedImagePage());
    EXPECT_TRUE(host.showModes.empty());
    EXPECT_EQ(fileChecksum(path), originalSum);
}

TEST_F(CropView, SaveAsWritesAnUprightFileAndReturns)
{
    // Stored 40 x 20, shown turned a quarter by its orientation.
    ASSERT_NO_FATAL_FAILURE(openFile("t.jpg", QSize(40, 20), 6));
    enter();
    host.lastDir = dir.path();
    host.panelAnswer = dir.filePath("out/cut.png");
    QDir().mkpath(dir.filePath("out"));
    controller.doSaveAs();
    ASSERT_NO_FATAL_FAILURE(waitForSave());
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

// A crop of a TIFF of several pages saved under a new name holds its first page only: the
// alert after the save says what the new file lacks, as Save As in the view does.
TEST_F(CropView, SaveAsUnderANewNameTellsWhatTheNewFileLacks)
{
    const QString pages = dir.filePath("pages.tif");
    ASSERT_TRUE(kpv::test::writePagesTiff(pages, 3));
    ASSERT_NO_FATAL_FAILURE(openWritten(pages));
    enter();
    const QByteArray before = fileChecksum(pages);
    host.panelAnswer = dir.filePath("first.png");
    controller.doSaveAs();
    ASSERT_NO_FATAL_FAILURE(waitForSave());
    EXPECT_TRUE(host.questions.empty());
    EXPECT_TRUE(QFileInfo::exists(host.panelAnswer));
    ASSERT_EQ(host.alerts.size(), 1u);
    EXPECT_TRUE(host.alerts[0].contains("first.png")) << host.alerts[0].toStdString();
    EXPECT_TRUE(host.alertReasons[0].contains("lacks 2 of its 3 pages")) << host.alertReasons[0].toStdString();
    EXPECT_EQ(fileChecksum(pages), before);
}

// A photo whose name is near the length limit is copied again and again: each copy gets a
// name the file system takes (the counter does not push it past the limit), keeping the
// extension, and no copy fails.
TEST_F(CropView, CopiesOfAPhotoWithALongNameAllGetAName)
{
    const QString stem(250, QLatin1Char('a'));
    ASSERT_NO_FATAL_FAILURE(openFile(stem + ".jpg", QSize(40, 20)));
    enter();
    QTemporaryDir copies;
    host.tempFolder = copies.path();
    for (int i = 0; i < 3; ++i) {
        controller.doCopy();
        ASSERT_NO_FATAL_FAILURE(waitForSave());
        enter();
    }
    EXPECT_TRUE(host.alerts.empty()) << (host.alertReasons.empty() ? "" : host.alertReasons[0].toStdString());
    const QStringList written = QDir(copies.path()).entryList(QDir::Files);
    ASSERT_EQ(written.size(), 3) << written.join(' ').toStdString();
    for (const QString &name : written) {
        EXPECT_TRUE(name.startsWith("aaaa") && name.endsWith(".jpg")) << name.toStdString();
        EXPECT_EQ(storedImageSize(copies.filePath(name)), QSize(20, 10));
    }
}

TEST_F(CropView, EscLeavesExceptWhileSaving)
{
    ASSERT_NO_FATAL_FAILURE(openFile("a.png", QSize(20, 10)));
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
    ASSERT_NO_FATAL_FAILURE(waitForSave());
    EXPECT_TRUE(controller.viewCropInfoPrompt()->isHidden());
    // The clipboard holds the written file and the picture itself, for image editors.
    const kpv::Pasteboard &pasteboard = kpv::Pasteboard::generalPasteboard();
    ASSERT_EQ(pasteboard.fileURLs().size(), 1);
    EXPECT_TRUE(pasteboard.fileURLs().front().toLocalFile().startsWith(dir.path()));
    EXPECT_EQ(storedImageSize(pasteboard.fileURLs().front().toLocalFile()), QSize(10, 5));
    EXPECT_EQ(pasteboard.image().size(), QSize(10, 5));
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
    ASSERT_NO_FATAL_FAILURE(openFile("a.png", QSize(400, 300)));
    enter();
    const QString target = dir.filePath("cut.png");
    ASSERT_TRUE(writeTestImage(target, QSize(8, 8), Qt::red));
    const QByteArray originalSum = fileChecksum(host.record->filePath().path());
    const QByteArray targetSum = fileChecksum(target);
    host.panelAnswer = target;
    {
        DiskFullScope full(64);
        controller.doSaveAs();
        ASSERT_NO_FATAL_FAILURE(waitForSave());
    }
    ASSERT_EQ(host.alerts.size(), 1u);
    EXPECT_FALSE(host.alerts.front().isEmpty());
    // Below it, what stopped the write, with the file it was for.
    EXPECT_TRUE(host.alertReasons.front().contains("cut.png")) << host.alertReasons.front().toStdString();
    EXPECT_TRUE(host.showModes.empty());
    EXPECT_TRUE(host.savedPaths.empty());
    EXPECT_TRUE(host.modified.empty());
    EXPECT_EQ(fileChecksum(host.record->filePath().path()), originalSum);
    EXPECT_EQ(fileChecksum(target), targetSum);
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files).size(), 2);  // no temporary file left behind

    // The same for I Love It and Copy, whose copies go to a full disk too.
    host.tempFolder = dir.filePath("tmp");
    host.keptFolder = dir.filePath("kept");
    QDir().mkpath(host.tempFolder);
    QDir().mkpath(host.keptFolder);
    {
        DiskFullScope full(64);
        controller.doFavorite();
        ASSERT_NO_FATAL_FAILURE(waitForSave());
        controller.doCopy();
        ASSERT_NO_FATAL_FAILURE(waitForSave());
    }
    ASSERT_EQ(host.alerts.size(), 3u);
    // Each headline names what failed: the favourite, then the copy, whose clipboard is kept.
    const kpv::Bundle &strings = kpv::Bundle::mainBundle();
    EXPECT_EQ(host.alerts[1], strings.localizedString(QStringLiteral("IDS_FailedFavoriteCrop")));
    EXPECT_EQ(host.alerts[2], strings.localizedString(QStringLiteral("IDS_FailedCopyCrop")));
    EXPECT_NE(host.alerts[1], host.alerts[0]);
    EXPECT_NE(host.alerts[2], host.alerts[0]);
    EXPECT_TRUE(host.favorites.empty());
    EXPECT_TRUE(host.showModes.empty());
}

// I Love It: the crop flies from the rectangle into the favourites box over 0.3 s and then joins
// the favourites; the mode is left at once.
TEST_F(CropView, ILoveItFliesIntoTheFavouritesBox)
{
    ASSERT_NO_FATAL_FAILURE(openFile("a.png", QSize(200, 100)));
    enter();
    host.keptFolder = dir.filePath("kept");
    QDir().mkpath(host.keptFolder);
    const kpv::Rect track = controller.cropTrackView()->convertRectToView(controller.cropTrackView()->cropTrackRect(), nullptr);
    controller.doFavorite();
    ASSERT_NO_FATAL_FAILURE(waitForSave());
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
    EXPECT_TRUE(host.favorites.front().startsWith(host.keptFolder + '/'));
    EXPECT_EQ(controller.favorFileAnimationView()->superview(), nullptr);
}

// Save As into a folder that refuses writing: the alert, and the file already there untouched.
TEST_F(CropView, SaveIntoAReadOnlyFolderShowsAnAlertAndKeepsTheFiles)
{
    ASSERT_NO_FATAL_FAILURE(openFile("a.png", QSize(60, 40)));
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
        ASSERT_NO_FATAL_FAILURE(waitForSave());
    }
    ASSERT_EQ(host.alerts.size(), 1u);
    EXPECT_FALSE(host.alertReasons.front().isEmpty());
    EXPECT_TRUE(host.showModes.empty());
    EXPECT_EQ(fileChecksum(target), targetSum);
    EXPECT_EQ(fileChecksum(host.record->filePath().path()), originalSum);
    EXPECT_EQ(QDir(folder).entryList(QDir::Files | QDir::Hidden).size(), 1);
}

// A photo of one colour with its author and the place it was taken in its EXIF block.
bool writeAuthoredPhoto(const QString &path, QSize size, QColor colour, const QString &artist, double latitude)
{
    QImage image(size, QImage::Format_RGB32);
    image.fill(colour);
    const QVariantMap tiff{{QStringLiteral("Artist"), artist}};
    const QVariantMap gps{{QString::fromLatin1(kpv::kCGImagePropertyGPSLatitude), latitude},
                          {QString::fromLatin1(kpv::kCGImagePropertyGPSLatitudeRef), QStringLiteral("N")}};
    return LMImageTools::saveImage(image, path,
                                   {{QString::fromLatin1(kpv::kCGImagePropertyTIFFDictionary), tiff},
                                    {QString::fromLatin1(kpv::kCGImagePropertyGPSDictionary), gps}});
}

// "author at latitude" as stored in the file's EXIF block.
QString storedAuthorAndPlace(const QString &path)
{
    auto source = kpv::ImageSource::createWithFile(path);
    if (!source)
        return QString();
    const QVariantMap p = source->propertiesAtIndex(0);
    return p.value(QString::fromLatin1(kpv::kCGImagePropertyTIFFDictionary)).toMap().value(QStringLiteral("Artist")).toString() +
           QStringLiteral(" at ") +
           QString::number(p.value(QString::fromLatin1(kpv::kCGImagePropertyGPSDictionary))
                               .toMap()
                               .value(QString::fromLatin1(kpv::kCGImagePropertyGPSLatitude))
                               .toDouble(), 'f', 3);
}

// Another program removes or replaces the photo while it is being cropped: the crop is still the
// user's to save elsewhere, with the metadata of the photo it was cut from, and the file that
// now stands at the photo's name is left alone.
TEST_F(CropView, OriginalRemovedOrReplacedMeanwhileStillSavesElsewhere)
{
    const QString original = dir.filePath("a.jpg");
    ASSERT_TRUE(writeAuthoredPhoto(original, QSize(60, 40), Qt::blue, QStringLiteral("Ann"), 48.25));
    ASSERT_NO_FATAL_FAILURE(openWritten(original));
    enter();

    ASSERT_TRUE(QFile::remove(original));
    host.panelAnswer = dir.filePath("cut.jpg");
    controller.doSaveAs();
    ASSERT_NO_FATAL_FAILURE(waitForSave());
    EXPECT_TRUE(host.alerts.empty()) << host.alertReasons.front().toStdString();
    ASSERT_EQ(host.savedPaths.size(), 1u);
    EXPECT_EQ(storedImageSize(host.panelAnswer), QSize(30, 20));
    EXPECT_EQ(storedAuthorAndPlace(host.panelAnswer), QStringLiteral("Ann at 48.250"));

    // Now a different photo, by someone else, stands at the name.
    leave();
    ASSERT_TRUE(writeAuthoredPhoto(original, QSize(50, 50), Qt::red, QStringLiteral("Bob"), 10.5));
    const QByteArray otherSum = fileChecksum(original);
    enter();
    host.panelAnswer = dir.filePath("cut2.png");
    controller.doSaveAs();
    ASSERT_NO_FATAL_FAILURE(waitForSave());
    EXPECT_TRUE(host.alerts.empty());
    ASSERT_EQ(host.savedPaths.size(), 2u);
    EXPECT_EQ(storedImageSize(host.panelAnswer), QSize(30, 20));
    const QColor corner = readImage(host.panelAnswer).pixelColor(0, 0);
    EXPECT_TRUE(corner.blue() > 200 && corner.red() < 50) << corner.name().toStdString();
    EXPECT_EQ(storedAuthorAndPlace(host.panelAnswer), QStringLiteral("Ann at 48.250"));
    EXPECT_EQ(fileChecksum(original), otherSum);
}

// Save As writes to the name chosen in the panel. A file that another program puts there while
// the crop is being written, or a file the user agreed to replace that is rewritten meanwhile, is
// left as it is: the save is told failed and the crop stays to be saved again.
TEST_F(CropView, SaveAsLeavesAFileThatAppearedOrChangedMeanwhile)
{
    ASSERT_NO_FATAL_FAILURE(openFile("a.png", QSize(60, 40)));
    enter();
    const QString fresh = dir.filePath("fresh.png");
    const QString agreed = dir.filePath("agreed.png");
    ASSERT_TRUE(writeTestImage(agreed, QSize(8, 8), Qt::green));
    const QByteArray originalSum = fileChecksum(host.record->filePath().path());
    LMSaveStages::setObserverForTesting([&](LMSaveStages::Stage stage, const QString &path) {
        if (stage == LMSaveStages::Preparing)
            writeTestImage(path, QSize(9, 9), Qt::red);  // another program, at either name
    });
    host.panelAnswer = fresh;
    controller.doSaveAs();
    ASSERT_NO_FATAL_FAILURE(waitForSave());
    host.panelAnswer = agreed;
    controller.doSaveAs();
    ASSERT_NO_FATAL_FAILURE(waitForSave());
    LMSaveStages::setObserverForTesting({});

    // What the other program wrote stands, not the 30 x 20 crop.
    EXPECT_EQ(storedImageSize(fresh), QSize(9, 9));
    EXPECT_EQ(storedImageSize(agreed), QSize(9, 9));
    ASSERT_EQ(host.alerts.size(), 2u);
    EXPECT_TRUE(host.alertReasons[0].contains("fresh.png")) << host.alertReasons[0].toStdString();
    EXPECT_TRUE(host.alertReasons[1].contains("agreed.png")) << host.alertReasons[1].toStdString();
    EXPECT_TRUE(host.savedPaths.empty());
    EXPECT_TRUE(host.modified.empty());
    EXPECT_TRUE(host.showModes.empty());
    EXPECT_EQ(fileChecksum(host.record->filePath().path()), originalSum);
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden).size(), 3);  // no temporary file

    // The crop is still there for another name.
    host.panelAnswer = dir.filePath("elsewhere.png");
    controller.doSaveAs();
    ASSERT_NO_FATAL_FAILURE(waitForSave());
    EXPECT_EQ(storedImageSize(host.panelAnswer), QSize(30, 20));
    EXPECT_EQ(host.savedPaths.size(), 1u);
}

// A photo of 16 bits per channel cropped and saved as PNG over itself keeps them: no question,
// the crop's samples are the photo's own, as a reference decoder reads both files.
TEST_F(CropView, SaveAsOfASixteenBitPhotoKeepsSixteenBits)
{
    const QString deep = dir.filePath("deep.png");
    QImage picture(QSize(40, 20), QImage::Format_RGBA64);
    for (int y = 0; y < 20; ++y)
        for (int x = 0; x < 40; ++x)
            picture.setPixelColor(x, y, QColor::fromRgba64(quint16(x * 1601 + 3), quint16(y * 3001 + 5),
                                                           quint16(x * 37 + y * 4099 + 7), 0xffff));
    ASSERT_TRUE(picture.save(deep, "PNG"));
    QSize sourceSize;
    const auto source = kpv::test::referencePngSamples(deep, &sourceSize);
    ASSERT_EQ(sourceSize, QSize(40, 20));
    ASSERT_NO_FATAL_FAILURE(openWritten(deep));
    enter();
    host.panelAnswer = deep;
    controller.doSaveAs();
    ASSERT_NO_FATAL_FAILURE(waitForSave());
    EXPECT_TRUE(host.questions.empty()) << "a question about losing what is kept";
    EXPECT_TRUE(host.alerts.empty());
    QSize cropSize;
    int bits = 0;
    const auto crop = kpv::test::referencePngSamples(deep, &cropSize, &bits);
    EXPECT_EQ(bits, 16) << "the crop was written with fewer bits";
    ASSERT_EQ(cropSize, QSize(20, 10));
    // Where the crop lies in the photo: its first sample is found there once, the rest must follow.
    int left = -1, top = -1;
    for (int y = 0; y < 20 && left < 0; ++y)
        for (int x = 0; x < 40 && left < 0; ++x)
            if (source[size_t(y * 40 + x)] == crop[0])
                left = x, top = y;
    ASSERT_GE(left, 0) << "the crop's samples are not the photo's";
    for (int y = 0; y < 10; ++y)
        for (int x = 0; x < 20; ++x)
            ASSERT_EQ(crop[size_t(y * 20 + x)], source[size_t((top + y) * 40 + left + x)]) << x << "," << y;

    // Cropped again into a new TIFF, read back by libtiff: 16 bits a sample, the same samples.
    ASSERT_NO_FATAL_FAILURE(openWritten(deep));
    enter();
    host.panelAnswer = dir.filePath("deep.tif");
    controller.doSaveAs();
    ASSERT_NO_FATAL_FAILURE(waitForSave());
    EXPECT_TRUE(host.alerts.empty());
    TIFF *tif = TIFFOpen(QFile::encodeName(host.panelAnswer).constData(), "r");
    ASSERT_NE(tif, nullptr);
    uint32_t width = 0, height = 0;
    uint16_t bits16 = 0, samples = 0;
    TIFFGetField(tif, TIFFTAG_IMAGEWIDTH, &width);
    TIFFGetField(tif, TIFFTAG_IMAGELENGTH, &height);
    TIFFGetFieldDefaulted(tif, TIFFTAG_BITSPERSAMPLE, &bits16);
    TIFFGetFieldDefaulted(tif, TIFFTAG_SAMPLESPERPIXEL, &samples);
    EXPECT_EQ(bits16, 16);
    std::vector<std::vector<quint16>> rows(height, std::vector<quint16>(size_t(TIFFScanlineSize(tif)) / 2 + 1));
    for (uint32_t y = 0; y < height; ++y)
        TIFFReadScanline(tif, rows[y].data(), y, 0);
    TIFFClose(tif);
    ASSERT_EQ(QSize(int(width), int(height)), QSize(10, 5));
    ASSERT_EQ(bits16, 16);
    ASSERT_GE(samples, 3); // the photo's alpha channel stays
    const int step = samples;
    left = -1;
    for (int y = 0; y < 10 && left < 0; ++y)
        for (int x = 0; x < 20 && left < 0; ++x)
            if (std::equal(rows[0].begin(), rows[0].begin() + step, crop[size_t(y * 20 + x)].begin()))
                left = x, top = y;
    ASSERT_GE(left, 0) << "the TIFF's samples are not the photo's";
    for (int y = 0; y < 5; ++y)
        for (int x = 0; x < 10; ++x)
            ASSERT_TRUE(std::equal(rows[size_t(y)].begin() + x * step, rows[size_t(y)].begin() + x * step + step,
                                   crop[size_t((top + y) * 20 + left + x)].begin()))
                << x << "," << y;
}

// A crop of a 16-bit photo larger than its samples may take in memory, saved as PNG, is cut and
// written a band of rows at a time: it keeps every sample at 16 bits, and the photo is unchanged.
TEST_F(CropView, ASixteenBitCropTooLargeToHoldAtItsDepthIsWrittenInBands)
{
    const QString deep = dir.filePath("deep.png");
    QImage picture(QSize(400, 300), QImage::Format_RGBA64);
    for (int y = 0; y < 300; ++y)
        for (int x = 0; x < 400; ++x)
            picture.setPixelColor(x, y, QColor::fromRgba64(quint16(x * 163 + 1), quint16(y * 217 + 3), 50005));
    ASSERT_TRUE(picture.save(deep, "PNG"));
    const QByteArray before = fileChecksum(deep);
    ASSERT_NO_FATAL_FAILURE(openWritten(deep));
    enter();
    // Room for the centred half at 8 bits a sample (200 x 150 x 4 bytes), not at 16.
    struct Budget {
        std::uint64_t former = kpv::DecodeBudget::shared().setCapacity(200000);
        ~Budget() { kpv::DecodeBudget::shared().setCapacity(former); }
    } budget;
    host.panelAnswer = dir.filePath("part.png");
    controller.doSaveAs();
    ASSERT_NO_FATAL_FAILURE(waitForSave());
    EXPECT_TRUE(host.alerts.empty()) << (host.alerts.empty() ? "" : host.alertReasons.front().toStdString());
    EXPECT_TRUE(kpv::ImageDestination::keepsSixteenBitsOnRewrite(host.panelAnswer)) << "written with fewer bits";
    EXPECT_EQ(kpv::ImageDestination::readSixteenBitPicture(host.panelAnswer), picture.copy(100, 75, 200, 150));
    EXPECT_EQ(fileChecksum(deep), before);
}

// A TIFF of two pages, the first of 40 x 20 RGB pixels of 16 bits a sample (unsigned levels that
// tell their place, or half floats), the second a small grey one of 8 bits.
quint16 pageSample(int x, int y, int c) { return quint16(c == 0 ? x * 1601 + 7 : c == 1 ? y * 3203 + 11 : x * 97 + y * 389); }

bool writeSixteenBitPagesTiff(const QString &path, bool halfFloats)
{
    TIFF *tif = TIFFOpen(QFile::encodeName(path).constData(), "w");
    if (!tif)
        return false;
    TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, 40u);
    TIFFSetField(tif, TIFFTAG_IMAGELENGTH, 20u);
    TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, 16);
    TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, 3);
    TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_RGB);
    TIFFSetField(tif, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
    TIFFSetField(tif, TIFFTAG_SAMPLEFORMAT, halfFloats ? SAMPLEFORMAT_IEEEFP : SAMPLEFORMAT_UINT);
    bool ok = true;
    std::vector<quint16> row(40 * 3);
    for (int y = 0; y < 20 && ok; ++y) {
        for (int x = 0; x < 40; ++x)
            for (int c = 0; c < 3; ++c)
                row[size_t(x * 3 + c)] = halfFloats ? quint16(0x3800) : pageSample(x, y, c); // 0.5
        ok = TIFFWriteScanline(tif, row.data(), uint32_t(y), 0) == 1;
    }
    ok = ok && TIFFWriteDirectory(tif) == 1 && kpv::test::writeGreyPage(tif);
    TIFFClose(tif);
    return ok;
}

// A crop of a 16-bit TIFF of two pages saved as TIFF keeps the first page's 16 bits per channel,
// under a new name and over the photo itself; only the other page is told lost. Where the depth
// cannot be kept (the photo rewritten meanwhile, a first page of half floats) the alert says so,
// and the photo stays as it was.
TEST_F(CropView, ACropOfASixteenBitTiffOfSeveralPagesKeepsItsDepth)
{
    const QString deep = dir.filePath("deep.tif");
    ASSERT_TRUE(writeSixteenBitPagesTiff(deep, false));
    const QByteArray before = fileChecksum(deep);
    ASSERT_NO_FATAL_FAILURE(openWritten(deep));
    enter();
    const QRect part = controller.originalImageRawCropRect().toRect();
    QImage expected(part.size(), QImage::Format_RGBA64);
    for (int y = 0; y < part.height(); ++y)
        for (int x = 0; x < part.width(); ++x)
            expected.setPixelColor(x, y, QColor::fromRgba64(pageSample(part.x() + x, part.y() + y, 0),
                                                          pageSample(part.x() + x, part.y() + y, 1),
                                                          pageSample(part.x() + x, part.y() + y, 2)));
    host.panelAnswer = dir.filePath("first.tif");
    controller.doSaveAs();
    ASSERT_NO_FATAL_FAILURE(waitForSave());
    EXPECT_EQ(kpv::ImageDestination::readSixteenBitPicture(host.panelAnswer), expected) << "written with fewer bits";
    ASSERT_EQ(host.alerts.size(), 1u);
    EXPECT_TRUE(host.alertReasons[0].contains("lacks 1 of its 2 pages")) << host.alertReasons[0].toStdString();
    EXPECT_FALSE(host.alertReasons[0].contains("bits")) << host.alertReasons[0].toStdString();
    EXPECT_EQ(fileChecksum(deep), before);

    // Over the photo itself: the question names the page, and the first page keeps its depth.
    ASSERT_NO_FATAL_FAILURE(openWritten(deep));
    enter();
    host.panelAnswer = deep;
    host.replaceAnswer = true;
    controller.doSaveAs();
    ASSERT_NO_FATAL_FAILURE(waitForSave());
    ASSERT_EQ(host.questions.size(), 1u);
    EXPECT_TRUE(host.questionReasons[0].contains("1 of its 2 pages")) << host.questionReasons[0].toStdString();
    EXPECT_FALSE(host.questionReasons[0].contains("bits")) << host.questionReasons[0].toStdString();
    EXPECT_EQ(kpv::ImageDestination::readSixteenBitPicture(deep), expected) << "written with fewer bits";

    // Rewritten by another program once opened: the crop of the pixels read before is written at
    // 8 bits, and that is told.
    ASSERT_NO_FATAL_FAILURE(openWritten(deep));
    enter();
    ASSERT_TRUE(writeSixteenBitPagesTiff(deep, false));
    host.alerts.clear();
    host.alertReasons.clear();
    host.panelAnswer = dir.filePath("changed.tif");
    controller.doSaveAs();
    ASSERT_NO_FATAL_FAILURE(waitForSave());
    ASSERT_EQ(host.alerts.size(), 1u);
    EXPECT_TRUE(host.alertReasons[0].contains("16 bits per channel")) << host.alertReasons[0].toStdString();

    const QString half = dir.filePath("half.tif");
    ASSERT_TRUE(writeSixteenBitPagesTiff(half, true));
    const QByteArray halfBefore = fileChecksum(half);
    ASSERT_NO_FATAL_FAILURE(openWritten(half));
    enter();
    host.alerts.clear();
    host.alertReasons.clear();
    host.panelAnswer = dir.filePath("half-first.tif");
    controller.doSaveAs();
    ASSERT_NO_FATAL_FAILURE(waitForSave());
    EXPECT_TRUE(QFileInfo::exists(host.panelAnswer));
    ASSERT_EQ(host.alerts.size(), 1u);
    EXPECT_TRUE(host.alertReasons[0].contains("1 of its 2 pages")) << host.alertReasons[0].toStdString();
    EXPECT_TRUE(host.alertReasons[0].contains("16 bits per channel")) << host.alertReasons[0].toStdString();
    EXPECT_EQ(fileChecksum(half), halfBefore);
}

// The crop is one picture: Save As over a file holding more (here three pages) asks first and
// says what would go. Cancel or Esc leaves the file as it was and the crop in the mode; Replace
// writes it. A file that would lose nothing is not asked about again.
TEST_F(CropView, SaveAsOverAFileThatWouldLoseContentAsksFirst)
{
    ASSERT_NO_FATAL_FAILURE(openFile("photo.png", QSize(40, 20)));
    const QString pages = dir.filePath("pages.tif");
    ASSERT_TRUE(kpv::test::writePagesTiff(pages, 3));
    enter();
    const QByteArray before = fileChecksum(pages);
    host.panelAnswer = pages;
    host.replaceAnswer = false;
    controller.doSaveAs();
    EXPECT_FALSE(controller.inSaving());
    ASSERT_EQ(host.questions.size(), 1u);
    EXPECT_TRUE(host.questions[0].contains("pages.tif")) << host.questions[0].toStdString();
    EXPECT_TRUE(host.questionReasons[0].contains("2 of its 3 pages")) << host.questionReasons[0].toStdString();
    EXPECT_EQ(fileChecksum(pages), before);
    EXPECT_TRUE(host.alerts.empty());
    EXPECT_TRUE(host.savedPaths.empty());
    EXPECT_TRUE(host.showModes.empty());
    EXPECT_TRUE(controller.canDoAction(CropModeModel::SaveAs));

    host.replaceAnswer = true;
    controller.doSaveAs();
    ASSERT_NO_FATAL_FAILURE(waitForSave());
    EXPECT_EQ(host.questions.size(), 2u);
    EXPECT_EQ(storedImageSize(pages), QSize(20, 10));
    EXPECT_EQ(host.savedPaths.size(), 1u);
    ASSERT_FALSE(host.showModes.empty());
    EXPECT_EQ(host.showModes.back(), 4);

    // The one page it is now loses nothing to the next crop: only the panel's question stands.
    ASSERT_NO_FATAL_FAILURE(openWritten(pages));
    enter();
    controller.doSaveAs();
    ASSERT_NO_FATAL_FAILURE(waitForSave());
    EXPECT_EQ(host.questions.size(), 2u);
    EXPECT_EQ(storedImageSize(pages), QSize(10, 5));

    // A CMYK JPEG whose edges are whole blocks keeps its inks when turned, but a crop is coded
    // anew from RGB: that is asked about too.
    const QString inks = dir.filePath("inks.jpg");
    {
        std::vector<unsigned char> cmyk(size_t(64) * 48 * 4, 0x30);
        tjhandle tj = tjInitCompress();
        unsigned char *out = nullptr;
        unsigned long size = 0;
        ASSERT_EQ(tjCompress2(tj, cmyk.data(), 64, 64 * 4, 48, TJPF_CMYK, &out, &size, TJSAMP_444, 90, 0), 0);
        QFile file(inks);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(reinterpret_cast<const char *>(out), qint64(size));
        tjFree(out);
        tjDestroy(tj);
    }
    ASSERT_NO_FATAL_FAILURE(openWritten(inks));
    host.showModes.clear();
    enter();
    const QByteArray inksBefore = fileChecksum(inks);
    host.panelAnswer = inks;
    host.replaceAnswer = false;
    controller.doSaveAs();
    ASSERT_EQ(host.questions.size(), 3u);
    EXPECT_TRUE(host.questionReasons[2].contains("CMYK")) << host.questionReasons[2].toStdString();
    EXPECT_EQ(fileChecksum(inks), inksBefore);
    EXPECT_TRUE(host.showModes.empty());
}

// The controls reach the commands: the toolbar at the rectangle, the preset pop-up, and the
// result page's toolbar with the preview's zoom.
TEST_F(CropView, ToolbarsPresetsAndPreviewZoom)
{
    ASSERT_NO_FATAL_FAILURE(openFile("a.png", QSize(200, 100)));
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
    // Select All from the menu takes the Original preset back from the free one, button and all.
    controller.popMenuViewItemClicked(nullptr, QVariant::fromValue(qulonglong(0)), {});
    const QString freeTitle = controller.btnCustomSize()->textButtonTitle()->stringValue();
    controller.doAction(CropModeModel::SelectAll, 0);
    EXPECT_TRUE(controller.popMenuViewItemChecked(nullptr, QVariant::fromValue(qulonglong(original)), {}));
    EXPECT_EQ(controller.btnCustomSize()->textButtonTitle()->stringValue(), controller.customSizeButtonTitle());
    EXPECT_NE(controller.btnCustomSize()->textButtonTitle()->stringValue(), freeTitle);

    // The rotate button turns the rectangle (kept at the picture's 2 : 1 as 1 : 2, inside it); the
    // crop button shows the result page.
    controller.btnRotate()->sendAction();
    EXPECT_EQ(controller.originalImageRawCropRect().size(), QSizeF(50, 100));
    controller.btnCrop()->sendAction();
    ASSERT_NO_FATAL_FAILURE(waitForSave());
    ASSERT_TRUE(controller.isCurCroppedImagePage());
    EXPECT_EQ(controller.croppedToolbar()->superview(), controller.croppedImageView()->superview());

    // A 50 x 100 crop fits at its own size: only zooming in is offered until it is zoomed.
    EXPECT_TRUE(controller.previewFitinMode());
    EXPECT_FALSE(controller.canDoAction(CropModeModel::ActualSize));
    EXPECT_FALSE(controller.canDoAction(CropModeModel::ZoomToFit));
    EXPECT_FALSE(controller.canDoAction(CropModeModel::ZoomOut));
    ASSERT_TRUE(controller.canDoAction(CropModeModel::ZoomIn));
    const double before = controller.croppedImageView()->imageVisibleViewRect().width();
    controller.doAction(CropModeModel::ZoomIn, 0);
    settleZoom();
    EXPECT_GT(controller.croppedImageView()->imageVisibleViewRect().width(), before);
    EXPECT_TRUE(controller.canDoAction(CropModeModel::ZoomToFit));
    EXPECT_TRUE(controller.canDoAction(CropModeModel::ActualSize));
    controller.doAction(CropModeModel::ActualSize, 0);
    settleZoom();
    EXPECT_DOUBLE_EQ(controller.previewScale(), 1.0);
    controller.doAction(CropModeModel::ZoomIn, 0);
    settleZoom();
    controller.doAction(CropModeModel::ZoomToFit, 0);
    settleZoom();
    EXPECT_TRUE(controller.previewFitinMode());
    EXPECT_DOUBLE_EQ(controller.croppedImageView()->imageVisibleViewRect().width(), before);

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
    ASSERT_NO_FATAL_FAILURE(openFile("a.png", QSize(200, 100)));
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

    // Return applies the crop; on the result page command-up zooms the preview in.
    const auto enterKey = kpv::Event::keyEvent(kpv::KeyDown, kpv::KeyCode::Return, "\r", "\r", nullptr);
    EXPECT_TRUE(controller.handleKeyDown(*enterKey));
    ASSERT_NO_FATAL_FAILURE(waitForSave());
    ASSERT_TRUE(controller.isCurCroppedImagePage());
    const double scale = controller.previewScale();
    EXPECT_TRUE(key(QChar(0xF700), kpv::CommandKeyMask));
    settleZoom(0.5);
    EXPECT_GT(controller.previewScale(), scale);
    // The new zoom shows while it changes, and for a moment after.
    EXPECT_FALSE(controller.viewCropInfoPrompt()->isHidden());
    settleZoom(1.5);
    EXPECT_EQ(controller.viewCropInfoPrompt()->stringValue(), QStringLiteral("%1%").arg(qint64(controller.previewScale() * 100)));
    settleZoom(1.1);
    EXPECT_TRUE(controller.viewCropInfoPrompt()->isHidden());
}

} // namespace

namespace {

// Crop and back cross-fade the two pages over 0.3 s; the page that is not current when its fade
// ends leaves the mode view, even when the user switched back half-way.
TEST_F(CropView, PagesCrossFadeBothWays)
{
    ASSERT_NO_FATAL_FAILURE(openFile("a.png", QSize(200, 100)));
    enter();
    kpv::View *cropPage = controller.cropPage();
    kpv::View *resultPage = controller.resultPage();
    controller.doCrop();
    ASSERT_NO_FATAL_FAILURE(waitForSave());
    ASSERT_TRUE(controller.isCurCroppedImagePage());
    EXPECT_EQ(resultPage->superview(), controller.view());
    EXPECT_EQ(cropPage->superview(), controller.view());
    settleZoom(0.15);
    EXPECT_GT(resultPage->alphaValue(), 0.2);
    EXPECT_LT(resultPage->alphaValue(), 0.8);
    EXPECT_GT(cropPage->alphaValue(), 0.2);
    EXPECT_LT(cropPage->alphaValue(), 0.8);
    settleZoom(0.3);
    EXPECT_EQ(cropPage->superview(), nullptr);
    EXPECT_DOUBLE_EQ(resultPage->alphaValue(), 1.0);
    EXPECT_FALSE(resultPage->isHidden());

    controller.doCrop();  // back to the crop page
    EXPECT_EQ(cropPage->superview(), controller.view());
    EXPECT_FALSE(cropPage->isHidden());
    settleZoom(0.15);
    EXPECT_LT(cropPage->alphaValue(), 1.0);
    settleZoom(0.3);
    EXPECT_EQ(resultPage->superview(), nullptr);
    EXPECT_DOUBLE_EQ(cropPage->alphaValue(), 1.0);

    // There and straight back: the crop page stays, shown in full.
    controller.doCrop();
    ASSERT_TRUE(controller.isCurCroppedImagePage());
    settleZoom(0.1);
    controller.doCrop();
    settleZoom(0.5);
    EXPECT_FALSE(controller.isCurCroppedImagePage());
    EXPECT_EQ(cropPage->superview(), controller.view());
    EXPECT_FALSE(cropPage->isHidden());
    EXPECT_DOUBLE_EQ(cropPage->alphaValue(), 1.0);
    EXPECT_EQ(resultPage->superview(), nullptr);

    // Leaving half-way through a fade and coming back starts on a whole crop page.
    controller.doCrop();
    settleZoom(0.1);
    leave();
    enter();
    settleZoom(0.5);
    EXPECT_EQ(cropPage->superview(), controller.view());
    EXPECT_FALSE(cropPage->isHidden());
    EXPECT_DOUBLE_EQ(cropPage->alphaValue(), 1.0);
    EXPECT_EQ(resultPage->superview(), nullptr);
}

class CropPreview : public CropView {
protected:
    // The whole 400 x 300 picture cut, shown on the result page; its fitted scale is below 1.
    void cropWholePicture()
    {
        ASSERT_NO_FATAL_FAILURE(openFile("a.png", QSize(400, 300)));
        enter();
        controller.selectAll();
        controller.doCrop();
        ASSERT_NO_FATAL_FAILURE(waitForSave());
        ASSERT_TRUE(controller.isCurCroppedImagePage());
        settleZoom(0.5);
        preview = controller.croppedImageView();
        fit = controller.previewScale();
        ASSERT_LT(fit, 1.0);
    }
    void wheel(double dy, QPointF at)
    {
        kpv::Event e(kpv::ScrollWheel);
        e.setScrollingDelta(0, dy);
        e.setLocationInWindow(controller.croppedImageView()->convertPointToView(kpv::Point{at.x(), at.y()}, nullptr));
        controller.croppedImageView()->scrollWheel(e);
    }
    void pinch(double magnification)
    {
        kpv::Event e(kpv::EventTypeMagnify);
        e.setMagnification(magnification);
        controller.croppedImageView()->magnifyWithEvent(e);
    }
    CropPreviewView *preview = nullptr;
    double fit = 0;
};

// The wheel zooms about the pointer, a pinch about the middle; neither goes past four times the
// picture's size nor below its fitted size, and the menu's zoom commands follow.
TEST_F(CropPreview, WheelAndPinchZoomWithinTheLimits)
{
    ASSERT_NO_FATAL_FAILURE(cropWholePicture());
    // The picture fits above the toolbar.
    const QRectF fitted = preview->imageVisibleViewRect();
    EXPECT_GE(fitted.y(), controller.croppedToolbar()->frame().y() + controller.croppedToolbar()->frame().height());

    // The wheel zooms in.
    const QPointF at(fitted.x() + fitted.width() * 0.4, fitted.y() + fitted.height() * 0.6);
    wheel(3, at);
    settleZoom();
    EXPECT_GT(controller.previewScale(), fit);
    EXPECT_FALSE(controller.previewFitinMode());
    // Once the picture is larger than the page, the pixel under the pointer stays under it.
    const QPointF pixel = preview->convertToOriginalImagePointForPoint(at);
    wheel(10, at);
    settleZoom();
    const QRectF zoomed = preview->imageVisibleViewRectByOriginalImageRect(QRectF(pixel, QSizeF(0, 0)));
    // (A zoom about the page's middle would have moved it by a hundred points and more.)
    EXPECT_NEAR(zoomed.x(), at.x(), 4);
    EXPECT_NEAR(zoomed.y(), at.y(), 4);
    EXPECT_TRUE(controller.canDoAction(CropModeModel::ZoomToFit));
    EXPECT_TRUE(controller.canDoAction(CropModeModel::ZoomOut));

    for (int i = 0; i < 20; ++i) {
        wheel(10, at);
        settleZoom(0.3);
    }
    settleZoom();
    EXPECT_DOUBLE_EQ(controller.previewScale(), 4.0);
    EXPECT_FALSE(controller.canDoAction(CropModeModel::ZoomIn));
    for (int i = 0; i < 20; ++i) {
        wheel(-10, at);
        settleZoom(0.3);
    }
    settleZoom();
    EXPECT_DOUBLE_EQ(controller.previewScale(), fit);
    EXPECT_TRUE(controller.previewFitinMode());
    EXPECT_FALSE(controller.canDoAction(CropModeModel::ZoomOut));

    // A pinch scales by one plus its magnification, clamped the same way.
    pinch(0.5);
    EXPECT_NEAR(controller.previewScale(), fit * 1.5, 1e-9);
    pinch(20);
    EXPECT_DOUBLE_EQ(controller.previewScale(), 4.0);
    pinch(-0.99);
    EXPECT_DOUBLE_EQ(controller.previewScale(), fit);
    EXPECT_TRUE(controller.previewFitinMode());
    // Each change shows the new percentage.
    EXPECT_FALSE(controller.viewCropInfoPrompt()->isHidden());
    EXPECT_EQ(controller.viewCropInfoPrompt()->stringValue(), QStringLiteral("%1%").arg(qint64(fit * 100)));
}

// A zoomed picture can be dragged about, never past its edges; a fitted one stays put. With the
// wheel turned off in the settings it pans instead of zooming.
TEST_F(CropPreview, DragAndTheWheelSettingPanTheZoomedPicture)
{
    QTemporaryDir settings;
    kpv::UserDefaults defaults(settings.path() + "/settings.json");
    MainConfig config(defaults);
    host.config = &config;
    kpv::NotificationCenter::defaultCenter().postNotification(QStringLiteral("didChangeOptionSetting"));
    ASSERT_NO_FATAL_FAILURE(cropWholePicture());
    const QRectF fitted = preview->imageVisibleViewRect();
    auto mouse = [&](kpv::EventType type, QPointF at) {
        const auto e = kpv::Event::mouseEvent(
            type, preview->convertPointToView(kpv::Point{at.x(), at.y()}, nullptr), nullptr);
        if (type == kpv::LeftMouseDown)
            preview->mouseDown(*e);
        else if (type == kpv::LeftMouseDragged)
            preview->mouseDragged(*e);
        else
            preview->mouseUp(*e);
    };
    const QPointF mid = fitted.center();
    mouse(kpv::LeftMouseDown, mid);
    mouse(kpv::LeftMouseDragged, mid + QPointF(30, 20));
    mouse(kpv::LeftMouseUp, mid + QPointF(30, 20));
    EXPECT_EQ(preview->imageVisibleViewRect(), fitted);

    pinch(2);
    const QRectF zoomed = preview->imageVisibleViewRect();
    mouse(kpv::LeftMouseDown, mid);
    mouse(kpv::LeftMouseDragged, mid + QPointF(30, 20));
    mouse(kpv::LeftMouseUp, mid + QPointF(30, 20));
    EXPECT_EQ(preview->imageVisibleViewRect().topLeft(), zoomed.topLeft() + QPointF(30, 20));
    // Far past the corner: the picture's edge stops at the page's.
    mouse(kpv::LeftMouseDown, mid);
    mouse(kpv::LeftMouseDragged, mid + QPointF(5000, -5000));
    mouse(kpv::LeftMouseUp, mid + QPointF(5000, -5000));
    const QRectF pinned = preview->imageVisibleViewRect();
    const QRectF bounds = preview->getBoundsForFitin();
    EXPECT_NEAR(pinned.left(), bounds.left(), 1);
    EXPECT_NEAR(pinned.top() + pinned.height(), bounds.top() + bounds.height(), 1);

    // The wheel zooms by default; turned off in the settings it moves the picture.
    config.setMouseWheelEnabled(false);
    kpv::NotificationCenter::defaultCenter().postNotification(QStringLiteral("didChangeOptionSetting"));
    const double scale = controller.previewScale();
    wheel(-4, mid);
    settleZoom();
    EXPECT_DOUBLE_EQ(controller.previewScale(), scale);
    EXPECT_NE(preview->imageVisibleViewRect(), pinned);
    host.config = nullptr;
}

// The preview stands on a soft drop shadow that reaches 7 points left, 6 up, 12 right and 13
// down from the picture, and follows it when it is zoomed.
TEST_F(CropPreview, DropShadowBehindThePicture)
{
    ASSERT_NO_FATAL_FAILURE(cropWholePicture());
    ASSERT_TRUE(preview->hasShadowImage());
    QRectF picture = preview->imageVisibleViewRect();
    EXPECT_EQ(preview->shadowRect(), QRectF(picture.x() - 7, picture.y() - 13, picture.width() + 19,
                                            picture.height() + 19));
    // Drawn: darker than the empty page just outside the picture's lower-right corner, nothing
    // far from it, and the picture itself on top.
    const QImage shot = controller.resultPage()->renderToImage(1.0);
    const double h = controller.resultPage()->bounds().height();
    auto alphaAt = [&](double x, double y) { return qAlpha(shot.pixel(int(x), int(h - y))); };
    EXPECT_GT(alphaAt(picture.right() + 4, picture.center().y()), 0);
    EXPECT_GT(alphaAt(picture.center().x(), picture.y() - 5), 0);
    EXPECT_EQ(alphaAt(picture.right() + 14, picture.center().y()), 0);
    const QColor inside = QColor::fromRgba(shot.pixel(int(picture.right() - 5), int(h - picture.center().y())));
    EXPECT_GT(inside.blue(), 200);
    EXPECT_LT(inside.red(), 60);

    pinch(0.2);
    picture = preview->imageVisibleViewRect();
    EXPECT_EQ(preview->shadowRect().size(), picture.size() + QSizeF(19, 19));
}

// Resting the pointer on the preset button opens the preset list under it after half a second;
// passing over it opens nothing, and leaving closes the list a moment later.
TEST_F(CropView, PresetListOpensOnHover)
{
    ASSERT_NO_FATAL_FAILURE(openFile("a.png", QSize(200, 100)));
    host.screen = QSizeF(123456, 78901);  // a title longer than the button's usual width
    enter();
    LMNormalCustomButton *button = controller.btnCustomSize();
    const kpv::Event entered(kpv::MouseEntered), exited(kpv::MouseExited);
    button->mouseEntered(entered);
    settleZoom(0.2);
    button->mouseExited(exited);
    settleZoom(0.6);
    EXPECT_FALSE(controller.customSizeMenuViewPopup());

    button->mouseEntered(entered);
    settleZoom(0.4);
    EXPECT_FALSE(controller.customSizeMenuViewPopup());
    settleZoom(0.2);
    ASSERT_TRUE(controller.customSizeMenuViewPopup());
    EXPECT_EQ(button->state(), kpv::OnState);
    LMPopMenuView *menu = controller.customSizePopMenuViewController()->popMenuView();
    ASSERT_TRUE(menu);
    const kpv::Rect b = button->convertRectToView(button->bounds(), nullptr);
    const kpv::Rect m = menu->convertRectToView(menu->bounds(), nullptr);
    EXPECT_DOUBLE_EQ(m.x(), std::floor(b.x()));
    EXPECT_LE(m.y() + m.height(), b.y());
    EXPECT_GE(m.y() + m.height(), b.y() - 3);
    // A click on the open list's button leaves it where it is.
    controller.customSizeButtonClicked();
    EXPECT_EQ(menu->convertRectToView(menu->bounds(), nullptr), m);

    button->mouseExited(exited);
    EXPECT_TRUE(controller.customSizeMenuViewPopup());
    settleZoom(0.2);
    EXPECT_FALSE(controller.customSizeMenuViewPopup());
    EXPECT_EQ(button->state(), kpv::OffState);

    // Every preset's title fits the button, and the read-out stands beside it, not under it.
    const kpv::Font font = button->textButtonTitle()->font();
    for (const auto &preset : controller.model().presets().arrayCustomSizes())
        EXPECT_LT(kpv::GraphicsContext::sizeOfText(CropAspectPresets::customSizeTitleString(preset), font).width,
                  button->frame().width() - 20);
    EXPECT_GE(controller.txtCropRectInfo()->frame().x(), button->frame().x() + button->frame().width());

    // Nothing opens outside the mode.
    button->mouseEntered(entered);
    leave();
    settleZoom(0.6);
    EXPECT_FALSE(controller.customSizeMenuViewPopup());
}

} // namespace

namespace {

// In a window, the wheel and a trackpad pinch as the desktop delivers them reach the preview.
TEST_F(CropPreview, WheelAndPinchFromTheDesktopReachThePreview)
{
    ASSERT_NO_FATAL_FAILURE(cropWholePicture());
    kpv::Window window(kpv::Rect(0, 0, 400, 300), kpv::TitledWindowMask);
    window.contentView()->addSubview(&host.container);
    window.makeKeyAndOrderFront();
    QWidget *widget = preview->widget();
    ASSERT_TRUE(widget);
    const QRectF fitted = preview->imageVisibleViewRect();
    const QPointF local(fitted.center().x(), preview->bounds().height() - fitted.center().y());

    QWheelEvent wheel(local, widget->mapToGlobal(local), QPoint(), QPoint(0, 120), Qt::NoButton, Qt::NoModifier,
                      Qt::NoScrollPhase, false);
    QCoreApplication::sendEvent(widget, &wheel);
    settleZoom();
    const double zoomed = controller.previewScale();
    EXPECT_GT(zoomed, fit);

    QNativeGestureEvent pinch(Qt::ZoomNativeGesture, QPointingDevice::primaryPointingDevice(), 2, local, local,
                              widget->mapToGlobal(local), 0.25, QPointF(), 1);
    QCoreApplication::sendEvent(widget, &pinch);
    EXPECT_NEAR(controller.previewScale(), std::min(4.0, zoomed * 1.25), 1e-9);

    // Two fingers spreading on a touch screen zoom it too: from 120 to 150 points apart.
    const double beforeTouch = controller.previewScale();
    const std::unique_ptr<QPointingDevice> device(QTest::createTouchDevice());
    QWidget *top = window.widget();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(top));
    const QPoint centre = widget->mapTo(top, local.toPoint());
    QTest::touchEvent(top, device.get()).press(0, centre - QPoint(60, 0));
    QTest::touchEvent(top, device.get()).move(0, centre - QPoint(60, 0)).press(1, centre + QPoint(60, 0));
    for (int i = 1; i <= 3; ++i)
        QTest::touchEvent(top, device.get()).move(0, centre - QPoint(60 + 5 * i, 0)).move(1, centre + QPoint(60 + 5 * i, 0));
    QTest::touchEvent(top, device.get()).release(0, centre - QPoint(75, 0)).release(1, centre + QPoint(75, 0));
    EXPECT_NEAR(controller.previewScale(), std::min(4.0, beforeTouch * 1.25), 1e-9);

    window.orderOut();
    host.container.removeFromSuperview();
}

} // namespace

namespace {

// The blue of the test picture in the middle of the crop page: the page still shows the photo.
bool cropPageShowsThePicture(CropViewController &controller)
{
    const QImage shot = controller.cropPage()->renderToImage(1.0);
    const kpv::Rect img = controller.imageViewRect();
    const QColor c = QColor::fromRgba(shot.pixel(int(img.midX()), int(shot.height() - img.midY())));
    return c.blue() > 60 && c.red() < 60;
}

// The whole mode fades in over 0.3 s on entering and out over 0.3 s on leaving. It takes input
// from the start of its fade-in; once left, keys and clicks belong to the viewer again while the
// pictures fade out with it, and only then is the view taken away.
TEST_F(CropView, ModeFadesInAndOut)
{
    ASSERT_NO_FATAL_FAILURE(openFile("a.png", QSize(200, 100)));
    kpv::View *view = controller.view();
    EXPECT_TRUE(view->isHidden());
    enter();
    EXPECT_EQ(view->superview(), &host.container);
    EXPECT_FALSE(view->isHidden());
    EXPECT_LT(view->alphaValue(), 0.1);
    settleZoom(0.15);
    EXPECT_GT(view->alphaValue(), 0.3);
    EXPECT_LT(view->alphaValue(), 0.7);
    // Half-way in, the commands already work and clicks reach the crop page.
    controller.selectAll();
    EXPECT_EQ(controller.originalImageRawCropRect(), QRectF(0, 0, 200, 100));
    const kpv::Point middle{200, 150};
    kpv::View *hit = host.container.hitTest(middle);
    ASSERT_TRUE(hit);
    EXPECT_TRUE(hit->isDescendantOf(view));
    settleZoom(0.3);
    EXPECT_DOUBLE_EQ(view->alphaValue(), 1.0);

    // Esc leaves once: the second press is not the mode's any more.
    auto &monitors = LMEventMonitorCenter::eventMonitorCenter();
    auto esc = [] { return kpv::Event::keyEvent(kpv::KeyDown, kpv::KeyCode::Escape, "\x1b", "\x1b", nullptr); };
    EXPECT_EQ(monitors.dispatch(esc()), nullptr);
    ASSERT_EQ(host.showModes, std::vector<long>{4});
    leave();
    EXPECT_NE(monitors.dispatch(esc()), nullptr);
    EXPECT_EQ(host.showModes.size(), 1u);

    // Fading out: still over the viewer with its picture, but the mouse goes to what is beneath.
    settleZoom(0.15);
    EXPECT_EQ(view->superview(), &host.container);
    EXPECT_GT(view->alphaValue(), 0.3);
    EXPECT_LT(view->alphaValue(), 0.7);
    EXPECT_TRUE(cropPageShowsThePicture(controller));
    EXPECT_EQ(host.container.hitTest(middle), &host.container);
    EXPECT_FALSE(controller.canDoAction(CropModeModel::ZoomIn));
    settleZoom(0.3);
    EXPECT_EQ(view->superview(), nullptr);
    EXPECT_TRUE(view->isHidden());
    EXPECT_FALSE(cropPageShowsThePicture(controller));
}

// Leaving while the mode fades in turns the fade round from where it had got; coming back while it
// fades out does the same and keeps the view, its picture and a preview of the same picture.
TEST_F(CropView, LeavingAndComingBackHalfWayTurnTheFadeRound)
{
    ASSERT_NO_FATAL_FAILURE(openFile("a.png", QSize(200, 100)));
    kpv::View *view = controller.view();
    enter();
    settleZoom(0.1);
    const double reached = view->alphaValue();
    ASSERT_GT(reached, 0.1);
    leave();
    settleZoom(1.0 / 60.0);
    EXPECT_LT(view->alphaValue(), reached);
    EXPECT_GT(view->alphaValue(), 0.0);
    settleZoom(0.4);
    EXPECT_EQ(view->superview(), nullptr);

    // A preview made, the mode left and entered again half-way out.
    enter();
    settleZoom(0.4);
    controller.doCrop();
    ASSERT_NO_FATAL_FAILURE(waitForSave());
    const LMImagePtr preview = controller.croppedImage();
    ASSERT_TRUE(preview);
    leave();
    settleZoom(0.15);
    const double half = view->alphaValue();
    enter();
    EXPECT_EQ(view->superview(), &host.container);
    settleZoom(1.0 / 60.0);
    EXPECT_GT(view->alphaValue(), half);
    settleZoom(0.5);
    EXPECT_EQ(view->superview(), &host.container);
    EXPECT_FALSE(view->isHidden());
    EXPECT_DOUBLE_EQ(view->alphaValue(), 1.0);
    EXPECT_TRUE(cropPageShowsThePicture(controller));
    EXPECT_FALSE(controller.isCurCroppedImagePage());
    controller.doCrop();
    EXPECT_FALSE(controller.inSaving());
    EXPECT_EQ(controller.croppedImage(), preview);

    // Back half-way out on another picture of the same size: its crop is made anew, never the last
    // picture's preview.
    controller.doCrop();
    leave();
    settleZoom(0.1);
    ASSERT_NO_FATAL_FAILURE(openFile("b.png", QSize(200, 100)));
    enter();
    EXPECT_FALSE(controller.croppedImage());
    controller.doCrop();
    EXPECT_TRUE(controller.inSaving());
    ASSERT_NO_FATAL_FAILURE(waitForSave());
    ASSERT_TRUE(controller.croppedImage());
    EXPECT_NE(controller.croppedImage(), preview);
}

} // namespace

namespace {

// Mouse drags on the crop page, as the desktop delivers them: an edge drag keeps the chosen ratio
// and stays in the picture, a press outside the rectangle draws a new one, and each part of the
// rectangle shows the cursor of what a drag there does.
TEST_F(CropView, DragsKeepTheRatioAndDrawNewRectangles)
{
    ASSERT_NO_FATAL_FAILURE(openFile("a.png", QSize(200, 100)));
    kpv::Window window(kpv::Rect(0, 0, 400, 300), kpv::TitledWindowMask);
    window.contentView()->addSubview(&host.container);
    enter();
    settleZoom(0.5);
    ASSERT_EQ(controller.imageViewRect(), kpv::Rect(100, 100, 200, 100));  // one point per pixel
    kpv::Application &app = kpv::Application::shared();
    app.discardQueuedEvents();
    auto drag = [&](kpv::Point from, std::vector<kpv::Point> path) {
        for (kpv::Point p : path)
            app.postEvent(kpv::Event::mouseEvent(kpv::LeftMouseDragged, p, &window));
        app.postEvent(kpv::Event::mouseEvent(kpv::LeftMouseUp, path.back(), &window));
        controller.cropTrackView()->mouseDown(*kpv::Event::mouseEvent(kpv::LeftMouseDown, from, &window));
    };

    // 16 x 9 makes the centred 100 x 50 rectangle 100 x 56; its right edge dragged 30 points
    // right makes it 130 wide, and as high as the ratio asks: 73.
    const size_t wide = 3;
    ASSERT_EQ(controller.model().presets().arrayCustomSizes()[wide].aspectRatio, QSizeF(16, 9));
    controller.chooseCustomSize(wide);
    ASSERT_EQ(controller.originalImageRawCropRect().size(), QSizeF(100, 56));
    kpv::Rect track = controller.cropTrackView()->cropTrackRect();
    EXPECT_EQ(controller.cropTrackView()->cursorByTrackPosition(6).qcursor().shape(), Qt::SizeHorCursor);
    EXPECT_EQ(controller.cropTrackView()->cursorByTrackPosition(9).qcursor().shape(), Qt::SizeAllCursor);
    drag(kpv::Point{track.maxX(), track.midY()}, {kpv::Point{track.maxX() + 15, track.midY()},
                                                  kpv::Point{track.maxX() + 30, track.midY()}});
    QRectF crop = controller.originalImageRawCropRect();
    EXPECT_EQ(crop.width(), 130);
    EXPECT_EQ(crop.height(), 73);
    EXPECT_GE(crop.y(), 0);
    EXPECT_LE(crop.bottom(), 100);
    EXPECT_EQ(controller.cropRectInfoText(), controller.txtCropRectInfo()->stringValue());
    EXPECT_FALSE(controller.trackToolbar()->isHidden());
    // The drawn rectangle is the stored one.
    track = controller.cropTrackView()->cropTrackRect();
    EXPECT_NEAR(track.width(), 130, 0.5);
    EXPECT_NEAR(track.height(), 73, 0.5);

    // Further right the edge meets the picture's: the width stops there, the ratio holds.
    drag(kpv::Point{track.maxX(), track.midY()}, {kpv::Point{track.maxX() + 200, track.midY()}});
    crop = controller.originalImageRawCropRect();
    EXPECT_EQ(crop.right(), 200);
    EXPECT_LE(crop.height(), 100);
    EXPECT_NEAR(crop.width() * 9, crop.height() * 16, 16);

    // While an edge is dragged its size shows just right of the pointer, centred on it.
    track = controller.cropTrackView()->cropTrackRect();
    window.setMouseLocationInternal(kpv::Point{150, 160});
    controller.areaTrackView_beginDrag(controller.cropTrackView(), track, 2, nullptr);
    controller.areaTrackView_doDragging(controller.cropTrackView(), track, 2, track);
    const kpv::Rect tip = controller.cropRectTextView()->frame();
    EXPECT_FALSE(controller.cropRectTextView()->isHidden());
    EXPECT_EQ(tip.x(), 155);
    EXPECT_NEAR(tip.midY(), 160, 1);
    controller.areaTrackView_endDrag(controller.cropTrackView(), track, 2, track);
    EXPECT_TRUE(controller.cropRectTextView()->isHidden());

    // Free again: a press beside the rectangle and a drag draw a new one there.
    controller.chooseCustomSize(0);
    controller.selectAll();
    controller.chooseCustomSize(0);
    controller.areaTrackView_endDrag(controller.cropTrackView(), kpv::Rect(110, 110, 20, 20), 1, kpv::Rect(110, 110, 20, 20));
    ASSERT_EQ(controller.originalImageRawCropRect(), QRectF(10, 70, 20, 20));
    drag(kpv::Point{200, 150}, {kpv::Point{220, 160}, kpv::Point{250, 180}});
    EXPECT_EQ(controller.originalImageRawCropRect(), QRectF(100, 20, 50, 30));

    window.orderOut();
    host.container.removeFromSuperview();
    app.discardQueuedEvents();
}

} // namespace
