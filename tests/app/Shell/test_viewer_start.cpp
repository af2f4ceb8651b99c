// The viewer assembled as the program assembles it: delegate, main window controller, the image
// viewer behind its view-mode interface and the menu bar, opened on a folder of generated images.
// Loads run on the application queue with the real photo loader; timers run on the manual clock.

#include "Shell/MainWindow/AppDelegate.h"
#include "Shell/MainWindow/LMMainWindow.h"
#include "Shell/MainWindow/MainWndController.h"
#include "Shell/Modes/NavigateViewMode.h"
#include "Shell/Modes/NavigateViewModeAdapter.h"
#include "Shell/Panels/PropertiesPanelWindow.h"
#include "Shell/Panels/NavigateWindowController.h"
#include "Shell/MainWindow/MainWndSecondaryWindows.h"
#include "Shell/Dialogs/AboutWindowController.h"
#include "Shell/Dialogs/OptionWindowController.h"
#include "Shell/Panels/LM3DRotateImageView.h"
#include "Shell/ViewChrome/MainWndPhotoBin.h"
#include "Kit/LMCustomWindow.h"
#include "Kit/LMLinkButton.h"
#include "Kit/LMUnderLineTextFieldCell.h"
#include "Shell/ViewChrome/NavigateOverlays.h"
#include "Shell/ViewChrome/NavigateToolbar.h"
#include "Kit/LMThumbZoomSlider.h"
#include "foundation/NotificationCenter.h"
#include "Shell/MainWindow/LMMainWndContentView.h"
#include "foundation/Bundle.h"
#include "Share/ShareWindowController.h"
#include "Model/LMFileImgBaseInfo.h"
#include "Model/MainConfig.h"
#include "desktop/FakeDesktopServices.h"
#include "Kit/LMAreaTrackView.h"
#include "Kit/LMImageView.h"
#include "appkit/Image.h"
#include "Kit/LMNormalCustomWindow.h"

#include "Model/MainConfig.h"
#include "View/LMOpenGLView.h"
#include "View/NavigateController.h"
#include "View/NavigateSaveFileSession.h"
#include "appkit/Application.h"
#include "appkit/Event.h"
#include "appkit/MenuBar.h"
#include "foundation/Clock.h"
#include "foundation/FileNames.h"
#include "foundation/OperationQueue.h"
#include "foundation/RunLoop.h"
#include "foundation/UserDefaults.h"
#include "ProgramTestSetup.h"

#include <QApplication>
#include <cmath>
#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QImageReader>
#include <QMessageBox>
#include <QPushButton>
#include <QPainter>
#include <QTemporaryDir>
#include <functional>
#include <mutex>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <gtest/gtest.h>

namespace {

QString fileName(const LMImagePtr& image)
{
    if (!image || !image->originalImgBaseInfo())
        return {};
    return QFileInfo(image->originalImgBaseInfo()->filePath().path()).fileName();
}

class ViewerStart : public ProgramTest {
protected:
    void SetUp() override
    {
        ASSERT_NO_FATAL_FAILURE(ProgramTest::SetUp());
        // Bigger than the window, so that the fit-in scale is below 1; each a different colour.
        ASSERT_NO_FATAL_FAILURE(writeImage(QStringLiteral("a.png"), QSize(1600, 1200), Qt::red));
        ASSERT_NO_FATAL_FAILURE(writeImage(QStringLiteral("b.png"), QSize(900, 1400), Qt::green));
        ASSERT_NO_FATAL_FAILURE(writeImage(QStringLiteral("c.png"), QSize(1200, 800), Qt::blue));

        defaults = std::make_unique<kpv::UserDefaults>(scratch.filePath(QStringLiteral("defaults.json")));
        AppDelegate::Setup setup = programTestSetup(*defaults, scratch, true);
        delegate = std::make_unique<AppDelegate>(std::move(setup));
        controller = std::make_unique<MainWndController>(
            *delegate, std::make_unique<LMMainWindow>(kpv::Rect(0, 0, 800, 600)));
        viewer = std::make_unique<NavigateViewMode>(*delegate, *controller);
        controller->awakeFromNib();
        menuBar = std::make_unique<kpv::MenuBar>(controller->window());
        menuBar->setMenus(controller->mainMenus());
    }
    void TearDown() override
    {
        menuBar.reset();
        viewer.reset();
        controller.reset();
        delegate.reset();
        kpv::RunLoop::main().runOnce();
        kpv::RunLoop::main().setClock(nullptr);
    }

    void writeImage(const QString& name, QSize size, Qt::GlobalColor colour)
    {
        QImage image(size, QImage::Format_RGB32);
        image.fill(colour);
        QPainter(&image).fillRect(QRect(QPoint(0, 0), size / 4), Qt::white);
        ASSERT_TRUE(image.save(QDir(folder).filePath(name)));
    }

    // Long enough for the end of a key's auto-navigation and the zoom steps.
    void settle(double seconds = 2.0) { settleProgram(*delegate, clock, seconds); }
    static void expectWholeOnScreen(const kpv::Rect& frame, const kpv::Rect& screen)
    {
        EXPECT_LE(frame.maxX(), screen.maxX());
        EXPECT_GE(frame.minX(), screen.minX());
        EXPECT_GE(frame.minY(), screen.minY());
        EXPECT_LE(frame.maxY(), screen.maxY());
    }

    void start()
    {
        delegate->applicationOpenFiles({folder});
        delegate->applicationDidFinishLaunching();
        settle();
    }

    // Starts on the folder with an empty "d.jpg" added to it, shown (it is the last file).
    void startOnAnEmptyFile()
    {
        QFile empty(QDir(folder).filePath(QStringLiteral("d.jpg")));
        ASSERT_TRUE(empty.open(QIODevice::WriteOnly));
        empty.close();
        start();
        sendKey(kpv::KeyCode::End, kpv::FunctionKey::End, kpv::FunctionKeyMask);
        settle();
        ASSERT_EQ(QFileInfo(nav().curFilePath().path()).fileName(), QStringLiteral("d.jpg"));
    }

    void sendKey(unsigned short code, char16_t character, std::uint64_t flags)
    {
        const QString chars{QChar(character)};
        kpv::Application::shared().sendEvent(
            kpv::Event::keyEvent(kpv::KeyDown, code, chars, chars, controller->window(), flags));
        kpv::Application::shared().sendEvent(
            kpv::Event::keyEvent(kpv::KeyUp, code, chars, chars, controller->window(), flags));
    }

    NavigateController& nav() const { return viewer->controller(); }
    LMOpenGLView& view() const { return *viewer->imageView(); }

    std::unique_ptr<kpv::UserDefaults> defaults;
    std::unique_ptr<AppDelegate> delegate;
    std::unique_ptr<MainWndController> controller;
    std::unique_ptr<NavigateViewMode> viewer;
    std::unique_ptr<kpv::MenuBar> menuBar;
};

// Quitting leaves the current file as stepping to another does: a turn not yet written goes into
// the file first (a writable PNG here, so without a question), and without a turn the file's
// bytes stay as they were.
TEST_F(ViewerStart, QuitWritesTheViewersUnsavedTurnIntoTheFileFirst)
{
    start();
    int quits = 0;
    controller->setQuitHandler([&] { ++quits; });
    const QString a = QDir(folder).filePath(QStringLiteral("a.png"));
    ASSERT_EQ(nav().curFilePath().path(), a);
    QFile file(a);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QByteArray before = file.readAll();
    file.close();

    controller->performMenuAction(MainWndController::TagQuit);
    settle();
    EXPECT_EQ(quits, 1);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_EQ(file.readAll(), before);
    file.close();

    controller->performMenuAction(15); // turn right
    settle();
    ASSERT_TRUE(view().angleRotate().isRotatedOrFlipped());
    controller->performMenuAction(MainWndController::TagQuit);
    // The turned picture is written on the save session's own queue.
    settleProgram(*delegate, clock, 2.0, [this] { nav().navigateSaveFileSession()->waitUntilAllOperationsAreFinished(); });
    EXPECT_EQ(quits, 2);
    EXPECT_EQ(QImageReader(a).size(), QSize(1200, 1600)) << "the turn was lost";
}

// Closing the window quits too, and keeps the turn the same way.
TEST_F(ViewerStart, ClosingTheWindowWritesTheViewersUnsavedTurnIntoTheFileFirst)
{
    start();
    int quits = 0;
    controller->setQuitHandler([&] { ++quits; });
    const QString a = QDir(folder).filePath(QStringLiteral("a.png"));
    ASSERT_EQ(nav().curFilePath().path(), a);
    controller->performMenuAction(15); // turn right
    settle();
    ASSERT_TRUE(view().angleRotate().isRotatedOrFlipped());
    controller->window()->performClose();
    settleProgram(*delegate, clock, 2.0, [this] { nav().navigateSaveFileSession()->waitUntilAllOperationsAreFinished(); });
    EXPECT_EQ(quits, 1);
    EXPECT_FALSE(controller->window()->isVisible());
    EXPECT_EQ(QImageReader(a).size(), QSize(1200, 1600)) << "the turn was lost";
}

// Files handed over from another start replace the shown one only after its turn is written.
TEST_F(ViewerStart, FilesHandedOverWhileATurnIsPendingKeepTheTurn)
{
    start();
    const QString a = QDir(folder).filePath(QStringLiteral("a.png"));
    const QString other = QDir(folder).filePath(QStringLiteral("c.png"));
    controller->performMenuAction(15); // turn right
    settle();
    ASSERT_TRUE(view().angleRotate().isRotatedOrFlipped());
    delegate->applicationOpenFiles({other});
    settleProgram(*delegate, clock, 2.0, [this] { nav().navigateSaveFileSession()->waitUntilAllOperationsAreFinished(); });
    EXPECT_EQ(QImageReader(a).size(), QSize(1200, 1600)) << "the turn was lost";
    EXPECT_EQ(nav().curFilePath().path(), other);
}

// A file handed over while the first-use tip of the heart is up (another copy of the program was
// started on it) is opened, not dropped behind the tip.
TEST_F(ViewerStart, FilesHandedOverWhileTheFirstUseTipShowsAreOpened)
{
    delegate->mainConfig()->setLoveTipsAlreadyShowed(false);
    start();
    ASSERT_TRUE(controller->navigateController()->curLoveIntroTipsShowStatus());
    const QString other = QDir(folder).filePath(QStringLiteral("c.png"));
    ASSERT_NE(nav().curFilePath().path(), other);
    delegate->applicationOpenFiles({other});
    settle();
    EXPECT_EQ(nav().curFilePath().path(), other);
    EXPECT_FALSE(controller->navigateController()->curLoveIntroTipsShowStatus());
}

// The zoom percentage shows in the middle of the picture; while the toolbar is up (the pointer on
// it), it stands above the toolbar instead, out of the way of the play button in the middle.
TEST_F(ViewerStart, ZoomPercentageIsNeverUnderTheToolbarsButtons)
{
    start();
    const NavigateOverlays* overlays = viewer->overlays();
    NavToolbarController& toolbar = viewer->toolbar()->controller();
    const NavToolbarOutlets& bar = toolbar.outlets();
    kpv::View* content = controller->contentView(); // where the toolbar and the status line are
    const kpv::Rect play = bar.btnPlay->convertRectToView(bar.btnPlay->bounds(), content);
    const auto overlap = [](const kpv::Rect& a, const kpv::Rect& b) { return !kpv::intersectionRect(a, b).isEmpty(); };
    // "=" with the command key, as the user zooms; waits for the new percentage.
    const auto zoomIn = [&] {
        const QString before = overlays->statusText();
        sendKey(24, u'=', kpv::CommandKeyMask);
        for (int i = 0; i < 100 && overlays->statusText() == before; ++i)
            settle(0.05);
        ASSERT_TRUE(overlays->statusText().endsWith(QLatin1Char('%'))) << overlays->statusText().toStdString();
    };

    toolbar.updateToolbarShowStatus(true, false); // as with the pointer on it
    settle(0.5);
    ASSERT_FALSE(bar.btnPlay->isHidden());
    zoomIn();
    ASSERT_FALSE(bar.viewNavToolbarContainer->isHidden());
    EXPECT_FALSE(overlap(overlays->statusLineFrame(), play)) << "the play button covers the zoom percentage";

    toolbar.hideToolbarWithDelay(false);
    settle(1.0);
    ASSERT_TRUE(bar.viewNavToolbarContainer->isHidden());
    zoomIn();
    const kpv::Rect centred = overlays->statusLineFrame();
    EXPECT_EQ(centred.y(), std::floor(content->bounds().height() / 2 - centred.height() / 2));
    // The pointer reaches the toolbar while the percentage shows: it moves out of the way.
    toolbar.updateToolbarShowStatus(true, false);
    EXPECT_FALSE(overlap(overlays->statusLineFrame(), play));
}

// The wheel zooms the picture with the pointer on the play button in its middle, as it does a
// pixel beside the button; the button stays where it is.
TEST_F(ViewerStart, WheelOverThePlayButtonZoomsThePicture)
{
    start();
    NavToolbarController& toolbar = viewer->toolbar()->controller();
    const NavToolbarOutlets& bar = toolbar.outlets();
    toolbar.updateToolbarShowStatus(true, false); // as with the pointer on the toolbar
    settle(0.5);
    ASSERT_FALSE(bar.btnPlay->isHidden());
    const kpv::Rect play = bar.btnPlay->convertRectToView(bar.btnPlay->bounds(), nullptr);
    const double fitted = view().scale();
    auto wheel = kpv::Event::mouseEvent(kpv::ScrollWheel, kpv::Point{play.midX(), play.midY()}, controller->window());
    wheel->setScrollingDelta(0, 5);
    kpv::Application::shared().sendEvent(wheel);
    settle();
    EXPECT_GT(view().scale(), fitted) << "the play button took the wheel";
    EXPECT_EQ(bar.btnPlay->convertRectToView(bar.btnPlay->bounds(), nullptr), play);
}

// At 100 % the photo panned to its bottom comes out from under the photo bin and the file line,
// which stay over the picture: its last rows can be seen. Panned back, its top reaches the top.
TEST_F(ViewerStart, PhotoPannedToItsBottomEdgeShowsItsLastRowsAboveThePhotoBin)
{
    start();
    ASSERT_TRUE(viewer->photoBin().isShown());
    sendKey(29, u'0', kpv::CommandKeyMask); // Actual Size
    settle();
    ASSERT_DOUBLE_EQ(view().scale(), 1.0);
    const auto panFar = [this](unsigned short code, char16_t key) {
        for (int i = 0; i < 40; ++i)
            sendKey(code, key, kpv::NumericPadKeyMask | kpv::FunctionKeyMask);
        settle();
    };
    panFar(kpv::KeyCode::DownArrow, kpv::FunctionKey::DownArrow);
    // The view's y grows upwards: the picture's bottom edge is its rectangle's y.
    const double covered = std::max(viewer->photoBin().coveredHeight(), viewer->overlays()->fileLineCoveredTop());
    ASSERT_GT(covered, 0);
    EXPECT_GE(view().imageVisibleViewRect().y(), covered - 0.5) << "rows stay under the photo bin";
    EXPECT_LE(view().imageVisibleViewRect().y(), covered + 0.5) << "panned past the edge";
    panFar(kpv::KeyCode::UpArrow, kpv::FunctionKey::UpArrow);
    EXPECT_NEAR(view().imageVisibleViewRect().bottom(), view().getBoundsForFitin().bottom(), 0.5);
}

// A zoom still under way when the window changes size (full screen, restored, resized) lands
// where the user sent it, instead of stopping half-way with the picture neither fitted nor at
// the size asked for.
TEST_F(ViewerStart, ZoomUnderWayWhenTheWindowChangesSizeLandsOnItsTarget)
{
    start();
    ASSERT_TRUE(view().fitinMode());
    sendKey(29, u'0', kpv::CommandKeyMask); // Actual Size
    settle(0.2);
    ASSERT_TRUE(view().isZoomTimerRunning());
    controller->window()->setFrame(kpv::Rect(0, 0, 1000, 700));
    settle();
    EXPECT_DOUBLE_EQ(view().scale(), 1.0);

    sendKey(25, u'9', kpv::CommandKeyMask); // Zoom to Fit
    settle(0.2);
    ASSERT_TRUE(view().isZoomTimerRunning());
    controller->window()->setFrame(kpv::Rect(0, 0, 800, 600));
    settle();
    EXPECT_TRUE(view().fitinMode());
    EXPECT_DOUBLE_EQ(view().scale(), view().calcFitinScale());
    EXPECT_EQ(view().offset(), QPointF(0, 0)) << "the fitted picture is not centred";
}

// The picture follows the toolbar's zoom slider while its knob is dragged, not only once it is
// let go.
TEST_F(ViewerStart, PictureFollowsTheZoomSliderWhileItsKnobIsDragged)
{
    start();
    NavToolbarController& toolbar = viewer->toolbar()->controller();
    toolbar.updateToolbarShowStatus(true, false);
    settle(0.5);
    LMThumbZoomSlider* slider = toolbar.outlets().thumbZoomSlider;
    ASSERT_TRUE(slider && slider->window());
    std::vector<double> scales;
    kpv::NotificationCenter::defaultCenter().addObserver(&scales, QStringLiteral("doChangeScale"), &view(),
                                                        [&](const kpv::Notification&) { scales.push_back(view().scale()); });
    const kpv::Rect track = slider->convertRectToView(slider->bounds(), nullptr);
    const auto at = [&](double part) { return kpv::Point{track.x() + track.width() * part, track.midY()}; };
    kpv::Application& app = kpv::Application::shared();
    app.postEvent(kpv::Event::mouseEvent(kpv::LeftMouseDragged, at(0.5), slider->window()));
    app.postEvent(kpv::Event::mouseEvent(kpv::LeftMouseDragged, at(0.7), slider->window()));
    app.postEvent(kpv::Event::mouseEvent(kpv::LeftMouseUp, at(0.7), slider->window()));
    slider->mouseDown(*kpv::Event::mouseEvent(kpv::LeftMouseDown, at(0.3), slider->window()));
    kpv::NotificationCenter::defaultCenter().removeObserver(&scales);
    ASSERT_GE(scales.size(), 3u) << "the picture stood still until the knob was let go";
    EXPECT_LT(scales[0], scales[1]);
    EXPECT_LT(scales[1], scales[2]);
}

// The file line along the bottom stays centred as the window is made wider or narrower, its
// texts inside the window rather than where the first width put them.
TEST_F(ViewerStart, FileLineFollowsTheWindowsWidth)
{
    start();
    const NavFileInfoView& line = viewer->overlays()->fileInfo();
    ASSERT_FALSE(line.txtExifInfo().stringValue.isEmpty());
    for (const kpv::Rect& frame : {kpv::Rect(0, 0, 1300, 700), kpv::Rect(0, 0, 560, 420)}) {
        controller->window()->setFrame(frame);
        settle(0.2);
        const double width = controller->contentView()->bounds().width();
        ASSERT_LT(std::abs(width - frame.width()), 1.0) << frame.width();
        EXPECT_DOUBLE_EQ(line.bounds().width(), width);
        const double left = line.txtFileName().frame.left(), right = line.txtExifInfo().frame.right();
        EXPECT_LE(std::abs((left + right) / 2 - width / 2), 1.0) << frame.width();
        EXPECT_GE(left, 0) << frame.width();
        EXPECT_LE(right, width) << frame.width();
    }
}

TEST_F(ViewerStart, OpenedFolderShowsItsFirstImageFitted)
{
    EXPECT_EQ(controller->navigateController(), &viewer->adapter());
    start();

    EXPECT_EQ(controller->showMode(), MainShowModeView);
    ASSERT_EQ(nav().fileCount(), 3);
    EXPECT_EQ(QFileInfo(nav().curFilePath().path()).fileName(), QStringLiteral("a.png"));
    EXPECT_FALSE(view().isHidden());
    EXPECT_TRUE(view().enable());

    // The decoded image reached the view, laid out at the fit-in scale of the window's view.
    const LMImagePtr shown = view().validImage();
    ASSERT_TRUE(shown);
    EXPECT_EQ(fileName(shown), QStringLiteral("a.png"));
    EXPECT_TRUE(view().fitinMode());
    EXPECT_GT(view().viewBounds().width(), 0);
    EXPECT_LT(view().scale(), 1.0);
    EXPECT_DOUBLE_EQ(view().scale(), view().calcFitinScale());
    EXPECT_LE(1600 * view().scale(), view().viewBounds().width() + 0.5);
    EXPECT_LE(1200 * view().scale(), view().viewBounds().height() + 0.5);
    // The title names the file.
    EXPECT_TRUE(controller->window()->representedFilename().endsWith(QStringLiteral("a.png")));
}

// Linux lets a name hold any byte but '/' and NUL. A line break or a tab in a name shows as its
// escape (\n, \t) in the title, the file line and the log, each kept on one line; a name that is not
// UTF-8 shows its odd byte as the replacement mark. Both files open by their very names.
std::mutex logMutex;
QStringList logLines;
void keepLogLine(QtMsgType, const QMessageLogContext&, const QString& text)
{
    std::lock_guard lock(logMutex);
    logLines << text;
}

TEST_F(ViewerStart, OddNamesShowOnOneLineAndStillOpen)
{
    delegate->mainConfig()->setFilePropertyMask(delegate->mainConfig()->filePropertyMask() | 1); // the name too
    const QString tabbed = QStringLiteral("trip\n2024\t01.png");
    ASSERT_NO_FATAL_FAILURE(writeImage(tabbed, QSize(400, 300), Qt::yellow));
    QFile broken(QDir(folder).filePath(QStringLiteral("broken\nphoto.png")));
    ASSERT_TRUE(broken.open(QIODevice::WriteOnly));
    broken.write("\x89PNG\r\n\x1a\n but nothing more");
    broken.close();
    QByteArray png;
    QBuffer buffer(&png);
    ASSERT_TRUE(buffer.open(QIODevice::WriteOnly));
    ASSERT_TRUE(QImage(QSize(300, 200), QImage::Format_RGB32).save(&buffer, "PNG"));
    const QByteArray latin1 = kpv::encodeFileName(folder) + "/caf\xe9.png";
    const int fd = ::open(latin1.constData(), O_WRONLY | O_CREAT | O_EXCL, 0644);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::write(fd, png.constData(), size_t(png.size())), png.size());
    ::close(fd);
    const QString latin1Name = kpv::decodeFileName(latin1);

    const QtMessageHandler previous = qInstallMessageHandler(keepLogLine);
    delegate->applicationOpenFiles({QDir(folder).filePath(tabbed)});
    delegate->applicationDidFinishLaunching();
    settle();
    ASSERT_EQ(nav().curFilePath().path(), QDir(folder).filePath(tabbed));
    EXPECT_EQ(fileName(view().validImage()), tabbed);
    EXPECT_EQ(controller->window()->representedFilename(), QDir(folder).filePath(tabbed));
    const QString title = controller->window()->txtTitle()->stringValue();
    EXPECT_TRUE(title.startsWith(QStringLiteral("trip\\n2024\\t01.png ("))) << title.toStdString();
    EXPECT_EQ(viewer->overlays()->fileInfo().txtFileName().stringValue, QStringLiteral("trip\\n2024\\t01.png"));

    const auto show = [this](const QString& path) {
        nav().navCurFileToIndex(nav().filePaths().indexOf(LMPathString(path, false)), false, true, false);
        settle();
        return nav().curFilePath().path() == path;
    };
    ASSERT_TRUE(show(latin1Name));
    EXPECT_EQ(view().validImage() ? view().validImage()->originalImgBaseInfo()->filePath().path() : QString(), latin1Name);
    EXPECT_TRUE(controller->window()->txtTitle()->stringValue().startsWith(QStringLiteral("caf\uFFFD.png (")));

    ASSERT_TRUE(show(QDir(folder).filePath(QStringLiteral("broken\nphoto.png"))));
    qInstallMessageHandler(previous);
    std::lock_guard lock(logMutex);
    const QStringList told = logLines.filter(QStringLiteral("broken"));
    ASSERT_FALSE(told.isEmpty()) << logLines.join(QStringLiteral(" / ")).toStdString();
    for (const QString& line : told) {
        EXPECT_FALSE(line.contains(u'\n')) << line.toStdString();
        EXPECT_TRUE(line.contains(QStringLiteral("broken\\nphoto.png"))) << line.toStdString();
    }
}

// Other programs' changes to the open folder reach the viewer as they happen: a photo added joins
// the list, one removed leaves it, and the photo shown is read again when it is written over.
TEST_F(ViewerStart, ChangesByOtherProgramsToTheOpenFolderAreFollowed)
{
    delegate->mainConfig()->setFilePropertyMask(delegate->mainConfig()->filePropertyMask() | 1); // the name too
    start();
    ASSERT_EQ(nav().fileCount(), 3);
    // The kernel's report comes with the next events; the viewer waits for the folder to be quiet.
    const auto settleUntil = [this](const std::function<bool()>& done) {
        for (int i = 0; i < 100 && !done(); ++i)
            settle(0.1);
        return done();
    };
    writeImage(QStringLiteral("d.png"), QSize(400, 300), Qt::yellow);
    ASSERT_TRUE(settleUntil([this] { return nav().fileCount() == 4; })) << nav().fileCount();
    EXPECT_EQ(QFileInfo(nav().curFilePath().path()).fileName(), QStringLiteral("a.png"));

    const LMPathString b(QDir(folder).filePath(QStringLiteral("b.png")), false);
    ASSERT_TRUE(QFile::remove(b.path()));
    ASSERT_TRUE(settleUntil([this] { return nav().fileCount() == 3; })) << nav().fileCount();
    EXPECT_FALSE(nav().filePaths().contains(b));

    // Written over by another program: the new picture is shown.
    writeImage(QStringLiteral("a.png"), QSize(640, 480), Qt::magenta);
    const auto shownSize = [this] {
        const LMImagePtr shown = view().validImage();
        return shown && shown->originalImgBaseInfo() ? shown->originalImgBaseInfo()->frameSize() : QSizeF();
    };
    EXPECT_TRUE(settleUntil([&] { return shownSize() == QSizeF(640, 480); })) << shownSize().width();
    EXPECT_EQ(QFileInfo(nav().curFilePath().path()).fileName(), QStringLiteral("a.png"));

    // Renamed by another program: the same photo stays shown under its new name, in its place in
    // the list, rather than leaving it and coming back as another photo.
    const QString renamed = QDir(folder).filePath(QStringLiteral("e.png"));
    ASSERT_TRUE(QFile::rename(QDir(folder).filePath(QStringLiteral("a.png")), renamed));
    ASSERT_TRUE(settleUntil([&] { return nav().filePaths().contains(LMPathString(renamed, false)); }));
    settle(0.5);
    EXPECT_EQ(nav().fileCount(), 3);
    EXPECT_EQ(nav().curFilePath().path(), renamed);
    EXPECT_EQ(controller->window()->representedFilename(), renamed);
    EXPECT_EQ(viewer->overlays()->fileInfo().txtFileName().stringValue, QStringLiteral("e.png"));
    EXPECT_EQ(shownSize(), QSizeF(640, 480));
}

// In date order, a photo another program writes over moves to its new place, at once and when the
// user sorts again; the photo shown stays shown.
TEST_F(ViewerStart, InDateOrderAPhotoWrittenOverTakesItsNewPlace)
{
    const QDir dir(folder);
    const QDateTime now = QDateTime::currentDateTimeUtc();
    for (const auto& [name, age] : {std::pair{"a.png", 300}, {"b.png", 200}, {"c.png", 100}}) {
        QFile file(dir.filePath(QLatin1String(name)));
        ASSERT_TRUE(file.open(QIODevice::ReadWrite));
        ASSERT_TRUE(file.setFileTime(now.addSecs(-age), QFileDevice::FileModificationTime));
    }
    delegate->mainConfig()->setSortByType(NavSortByDate);
    start();
    const auto order = [&] {
        QStringList names;
        for (const LMPathString& p : nav().filePaths())
            names << QFileInfo(p.path()).fileName();
        return names.join(QLatin1Char(' '));
    };
    ASSERT_EQ(order(), QStringLiteral("a.png b.png c.png"));
    ASSERT_NO_FATAL_FAILURE(writeImage(QStringLiteral("a.png"), QSize(640, 480), Qt::magenta));
    for (int i = 0; i < 100 && order() != QStringLiteral("b.png c.png a.png"); ++i)
        settle(0.1);
    EXPECT_EQ(order(), QStringLiteral("b.png c.png a.png"));
    EXPECT_EQ(controller->window()->title(), QStringLiteral("a.png (3/3)"));
    nav().sortFiles(NavSortByDate | NavSortDescending, false);
    EXPECT_EQ(order(), QStringLiteral("a.png c.png b.png"));
}

// The photo shown, renamed by another program to a name that sorts elsewhere, stays shown with its
// turn under its new name, whether the viewer hears the rename at once or hears the photo leave and,
// in a later change, arrive. A photo shown without a turn that is really removed gives way to the
// next one.
TEST_F(ViewerStart, ShownPhotoRenamedByAnotherProgramStaysShownWithItsTurn)
{
    start();
    const QDir dir(folder);
    const auto settleUntil = [this](const std::function<bool()>& done) {
        for (int i = 0; i < 100 && !done(); ++i)
            settle(0.1);
        return done();
    };
    const auto listed = [&](const QString& name) { return nav().filePaths().contains(LMPathString(dir.filePath(name), false)); };
    const auto expectShown = [&](const QString& name, int position) {
        EXPECT_EQ(nav().fileCount(), 3);
        EXPECT_EQ(nav().curFilePath().path(), dir.filePath(name));
        EXPECT_EQ(controller->window()->title(), QStringLiteral("%1 (%2/3)").arg(name).arg(position));
        EXPECT_TRUE(view().angleRotate().isRotatedOrFlipped()) << "the turn was lost";
    };
    ASSERT_EQ(nav().curFilePath().path(), dir.filePath(QStringLiteral("a.png")));
    controller->performMenuAction(15); // turn right
    settle();
    ASSERT_TRUE(view().angleRotate().isRotatedOrFlipped());

    ASSERT_TRUE(QFile::rename(dir.filePath(QStringLiteral("a.png")), dir.filePath(QStringLiteral("zz.png"))));
    ASSERT_TRUE(settleUntil([&] { return listed(QStringLiteral("zz.png")); }));
    settle();
    expectShown(QStringLiteral("zz.png"), 3);

    // Out of the folder, heard on its own, then back under another name.
    const QString away = scratch.filePath(QStringLiteral("away.png"));
    ASSERT_TRUE(QFile::rename(dir.filePath(QStringLiteral("zz.png")), away));
    settle(0.4);
    ASSERT_TRUE(QFile::rename(away, dir.filePath(QStringLiteral("a2.png"))));
    ASSERT_TRUE(settleUntil([&] { return listed(QStringLiteral("a2.png")); }));
    settle();
    expectShown(QStringLiteral("a2.png"), 1);

    // Turned back, it is a photo like any other: removed, it gives way to the next one.
    controller->performMenuAction(14); // turn left
    settle();
    ASSERT_FALSE(view().angleRotate().isRotatedOrFlipped());
    ASSERT_TRUE(QFile::remove(dir.filePath(QStringLiteral("a2.png"))));
    ASSERT_TRUE(settleUntil([&] { return nav().fileCount() == 2; }));
    EXPECT_EQ(nav().curFilePath().path(), dir.filePath(QStringLiteral("b.png")));
}

// A turn waiting to be saved when another program renamed the photo is written into the renamed
// file when the user quits, never into a new file under the old name.
TEST_F(ViewerStart, TurnOfARenamedPhotoIsSavedUnderItsNewName)
{
    start();
    const QDir dir(folder);
    const QString a = dir.filePath(QStringLiteral("a.png")), renamed = dir.filePath(QStringLiteral("zz.png"));
    controller->performMenuAction(15); // turn right
    settle();
    ASSERT_TRUE(QFile::rename(a, renamed));
    for (int i = 0; i < 100 && nav().curFilePath().path() != renamed; ++i)
        settle(0.1);
    ASSERT_EQ(nav().curFilePath().path(), renamed);
    controller->performMenuAction(MainWndController::TagQuit);
    settleProgram(*delegate, clock, 2.0, [this] { nav().navigateSaveFileSession()->waitUntilAllOperationsAreFinished(); });
    EXPECT_EQ(QImageReader(renamed).size(), QSize(1200, 1600)) << "the turn was lost";
    EXPECT_FALSE(QFileInfo::exists(a));
}

// A photo that another program replaced by a named pipe is shown as a file that cannot be opened,
// never with the picture it had, whether the viewer is told of the change or only comes back to
// it; and the pipe is never opened in a way that waits for a writer. A picture put back in its
// place is shown again.
TEST_F(ViewerStart, APhotoReplacedByAPipeIsShownAsOneThatCannotBeOpened)
{
    start();
    const auto step = [this](bool right) {
        sendKey(right ? kpv::KeyCode::RightArrow : kpv::KeyCode::LeftArrow,
                right ? kpv::FunctionKey::RightArrow : kpv::FunctionKey::LeftArrow,
                kpv::NumericPadKeyMask | kpv::FunctionKeyMask);
        settle();
    };
    const LMPathString b(QDir(folder).filePath(QStringLiteral("b.png")), false);
    step(true);
    ASSERT_EQ(nav().curFilePath(), b);
    ASSERT_EQ(nav().curFileState(), 1);
    step(false);

    ASSERT_TRUE(QFile::remove(b.path()));
    ASSERT_EQ(::mkfifo(kpv::encodeFileName(b.path()).constData(), 0644), 0);
    // Told of the change: the picture it had is let go at once, and the pipe read as what it is.
    const auto keepsOldPicture = [&] {
        const LMNavFileInfoPtr info = nav().fileInfoByPath(b);
        return info && info->imageByType(LMNavFileInfo::kSmallThumbType);
    };
    for (int i = 0; i < 100 && keepsOldPicture(); ++i)
        settle(0.1);
    EXPECT_FALSE(keepsOldPicture()) << "the old picture is kept for the pipe";

    const QString bad = kpv::Bundle::mainBundle().localizedString(QStringLiteral("IDS_BAD_IMAGE"));
    for (int visit = 0; visit < 2; ++visit) {
        step(true);
        ASSERT_EQ(nav().curFilePath(), b);
        EXPECT_EQ(nav().curFileState(), 2) << "visit " << visit;
        EXPECT_EQ(viewer->overlays()->statusText(), bad);
        const LMImagePtr shown = view().validImage();
        EXPECT_FALSE(shown && shown->originalImgBaseInfo() && shown->originalImgBaseInfo()->filePath() == b)
            << "the picture the file had is shown";
        step(false);
    }

    // A picture again (the other program put one back): it is shown.
    ASSERT_TRUE(QFile::remove(b.path()));
    writeImage(QStringLiteral("b.png"), QSize(300, 200), Qt::cyan);
    settle();
    step(true);
    EXPECT_EQ(nav().curFileState(), 1);
    const LMImagePtr shown = view().validImage();
    ASSERT_TRUE(shown && shown->originalImgBaseInfo());
    EXPECT_EQ(shown->originalImgBaseInfo()->frameSize(), QSizeF(300, 200));
}

// Opened with its sub-folders, the tree is followed as it grows: photos in a sub-folder made
// afterwards join the list, and leave it with the sub-folder.
TEST_F(ViewerStart, SubFoldersMadeAfterOpeningAreFollowed)
{
    delegate->applicationDidFinishLaunching();
    controller->openFiles({folder}, true);
    settle();
    ASSERT_EQ(nav().fileCount(), 3);
    const auto settleUntil = [this](const std::function<bool()>& done) {
        for (int i = 0; i < 100 && !done(); ++i)
            settle(0.1);
        return done();
    };
    const QString sub = QDir(folder).filePath(QStringLiteral("later"));
    ASSERT_TRUE(QDir().mkpath(sub + QStringLiteral("/deeper")));
    settle(0.5);
    // Into the new folders once they are watched, and while they are being found.
    QImage image(64, 48, QImage::Format_RGB32);
    image.fill(Qt::yellow);
    ASSERT_TRUE(image.save(sub + QStringLiteral("/deeper/d.png")));
    ASSERT_TRUE(settleUntil([this] { return nav().fileCount() == 4; })) << nav().fileCount();
    ASSERT_TRUE(QDir().mkpath(sub + QStringLiteral("/new")));
    ASSERT_TRUE(image.save(sub + QStringLiteral("/new/e.png")));
    ASSERT_TRUE(settleUntil([this] { return nav().fileCount() == 5; })) << nav().fileCount();
    EXPECT_EQ(QFileInfo(nav().curFilePath().path()).fileName(), QStringLiteral("a.png"));

    ASSERT_TRUE(QDir(sub).removeRecursively());
    EXPECT_TRUE(settleUntil([this] { return nav().fileCount() == 3; })) << nav().fileCount();
}

TEST_F(ViewerStart, ArrowKeysStepThroughTheFolder)
{
    start();
    ASSERT_EQ(nav().fileCount(), 3);

    sendKey(kpv::KeyCode::RightArrow, kpv::FunctionKey::RightArrow, kpv::NumericPadKeyMask | kpv::FunctionKeyMask);
    settle();
    EXPECT_EQ(QFileInfo(nav().curFilePath().path()).fileName(), QStringLiteral("b.png"));
    EXPECT_EQ(fileName(view().validImage()), QStringLiteral("b.png"));
    EXPECT_FALSE(nav().isAutoNavStarted());

    sendKey(kpv::KeyCode::LeftArrow, kpv::FunctionKey::LeftArrow, kpv::NumericPadKeyMask | kpv::FunctionKeyMask);
    settle();
    EXPECT_EQ(QFileInfo(nav().curFilePath().path()).fileName(), QStringLiteral("a.png"));
}

TEST_F(ViewerStart, MenuKeyEquivalentsRunValidatedCommands)
{
    // Nothing open: the zoom command is refused, so the key is not taken by the menu bar.
    auto zoomIn = kpv::Event::keyEvent(kpv::KeyDown, 24, QStringLiteral("="), QStringLiteral("="),
                                       controller->window(), kpv::CommandKeyMask);
    EXPECT_TRUE(menuBar->itemForKeyEquivalent(*zoomIn));
    EXPECT_FALSE(menuBar->performKeyEquivalent(*zoomIn));

    start();
    const double fitted = view().scale();
    kpv::Application::shared().sendEvent(zoomIn);
    settle();
    EXPECT_GT(view().scale(), fitted);
    EXPECT_FALSE(view().fitinMode());

    // Without the command modifier "=" is no equivalent at all.
    auto plain = kpv::Event::keyEvent(kpv::KeyDown, 24, QStringLiteral("="), QStringLiteral("="),
                                      controller->window(), 0);
    EXPECT_FALSE(menuBar->itemForKeyEquivalent(*plain));

    // Ctrl+, opens Preferences, as on the desktop's other programs.
    sendKey(43, u',', kpv::CommandKeyMask);
    settle();
    OptionWindowController* options = controller->secondaryWindows().optionWindowController();
    ASSERT_TRUE(options);
    EXPECT_TRUE(options->optionWindow()->isVisible());
    options->cancelButtonClicked();
}

TEST_F(ViewerStart, TakingTheViewerDownLeavesNoResponderBehind)
{
    start();
    viewer.reset();
    EXPECT_EQ(controller->navigateController(), nullptr);
    // A key after the viewer went reaches nobody instead of a freed controller.
    auto key = kpv::Event::keyEvent(kpv::KeyDown, kpv::KeyCode::RightArrow, QString(QChar(kpv::FunctionKey::RightArrow)),
                                    QString(QChar(kpv::FunctionKey::RightArrow)), controller->window(),
                                    kpv::NumericPadKeyMask | kpv::FunctionKeyMask);
    EXPECT_FALSE(controller->keyDown(*key));
}

} // namespace

namespace {
// View > Show Info: the panel's wish follows the command and its rows follow the current file as
// the user steps; the command's title says which way it goes.
TEST_F(ViewerStart, ShowInfoTogglesThePanelThatFollowsTheCurrentFile)
{
    start();
    ASSERT_EQ(nav().fileCount(), 3);
    PropertiesPanelWindow& panel = viewer->propertiesPanel();
    EXPECT_FALSE(panel.showStatus());
    controller->performMenuAction(29);
    EXPECT_TRUE(panel.showStatus());
    EXPECT_TRUE(controller->navigateController()->curPropertiesWindowShowStatus());
    EXPECT_EQ(panel.rowValue(0), QStringLiteral("a.png"));
    EXPECT_EQ(panel.rowValue(1), QStringLiteral("1600x1200"));

    sendKey(kpv::KeyCode::RightArrow, kpv::FunctionKey::RightArrow, kpv::NumericPadKeyMask | kpv::FunctionKeyMask);
    settle();
    EXPECT_EQ(panel.rowValue(0), QStringLiteral("b.png"));

    controller->performMenuAction(29);
    EXPECT_FALSE(panel.showStatus());
    EXPECT_FALSE(panel.window()->isVisible());
}
}  // namespace

namespace {
// A row that needs more room than the Info panel has (a long file name) widens the panel, so the
// value is shown whole rather than cut.
TEST_F(ViewerStart, InfoPanelGrowsForARowThatNeedsMoreWidth)
{
    const QString name = QStringLiteral("0 a photo whose name needs much more room than the info panel has.png");
    ASSERT_NO_FATAL_FAILURE(writeImage(name, QSize(200, 100), Qt::yellow));
    start();
    PropertiesPanelWindow& panel = viewer->propertiesPanel();
    controller->performMenuAction(29);
    ASSERT_EQ(panel.rowValue(0), name);
    const double grown = panel.window()->frame().width();
    EXPECT_GT(grown, 330);
    const kpv::Rect screen = panel.window()->screen().visibleFrame;
    ASSERT_FALSE(screen.isEmpty());
    EXPECT_LE(panel.window()->frame().maxX(), screen.maxX()) << "grown past the screen's edge";

    // Back to a short name: the panel keeps its width.
    sendKey(kpv::KeyCode::RightArrow, kpv::FunctionKey::RightArrow, kpv::NumericPadKeyMask | kpv::FunctionKeyMask);
    settle();
    EXPECT_EQ(panel.rowValue(0), QStringLiteral("a.png"));
    EXPECT_EQ(panel.window()->frame().width(), grown);
    EXPECT_EQ(panel.rowShown(0), QStringLiteral("a.png"));

    // A name longer than any panel: the panel stops growing and the name is shortened in the
    // middle, its whole in the row's tip.
    const QString longName = QStringLiteral("0 ") + QString(220, QLatin1Char('x')) + QStringLiteral("-end.png");
    ASSERT_TRUE(QFile::rename(QDir(folder).filePath(name), QDir(folder).filePath(longName)));
    settle();
    sendKey(kpv::KeyCode::LeftArrow, kpv::FunctionKey::LeftArrow, kpv::NumericPadKeyMask | kpv::FunctionKeyMask);
    settle();
    ASSERT_EQ(panel.rowValue(0), longName);
    EXPECT_LE(panel.window()->frame().width(), std::min(640.0, screen.width()));
    EXPECT_GE(panel.window()->frame().minX(), screen.minX());
    EXPECT_LE(panel.window()->frame().maxX(), screen.maxX());
    const QString shown = panel.rowShown(0);
    EXPECT_LT(shown.size(), longName.size());
    EXPECT_TRUE(shown.startsWith(QStringLiteral("0 x")) && shown.endsWith(QStringLiteral("-end.png"))) << shown.toStdString();
}
}  // namespace

namespace {
// The end-of-folder tip over a file that cannot be shown gives way to that file's own message
// once it fades.
TEST_F(ViewerStart, BrokenFileSaysSoAgainAfterTheEndOfFolderTip)
{
    QFile broken(QDir(folder).filePath(QStringLiteral("d.png")));
    ASSERT_TRUE(broken.open(QIODevice::WriteOnly));
    broken.write("not a picture at all");
    broken.close();
    start();
    sendKey(kpv::KeyCode::End, kpv::FunctionKey::End, kpv::FunctionKeyMask);
    settle();
    ASSERT_EQ(QFileInfo(nav().curFilePath().path()).fileName(), QStringLiteral("d.png"));
    const QString bad = kpv::Bundle::mainBundle().localizedString(QStringLiteral("IDS_BAD_IMAGE"));
    const NavigateOverlays* overlays = viewer->overlays();
    ASSERT_TRUE(overlays);
    EXPECT_EQ(overlays->statusText(), bad);
    sendKey(kpv::KeyCode::RightArrow, kpv::FunctionKey::RightArrow, kpv::NumericPadKeyMask | kpv::FunctionKeyMask);
    settle(0.2);
    EXPECT_NE(overlays->statusText(), bad); // the tip
    settle(10);
    EXPECT_EQ(overlays->statusText(), bad);
}
}  // namespace

namespace {
// A file that cannot be shown says why under the picture that says so, in a smaller line of its
// own that keeps clear of that picture and of the play button below it; the next photo drops it.
TEST_F(ViewerStart, FileThatCannotBeShownSaysWhy)
{
    ASSERT_NO_FATAL_FAILURE(startOnAnEmptyFile());
    const NavigateOverlays* overlays = viewer->overlays();
    ASSERT_TRUE(overlays);
    EXPECT_EQ(overlays->statusText(), kpv::Bundle::mainBundle().localizedString(QStringLiteral("IDS_BAD_IMAGE")));
    EXPECT_EQ(overlays->statusReasonShown(), kpv::Bundle::mainBundle().localizedString(QStringLiteral("IDS_FileIsEmpty")));

    NavToolbarController& toolbar = viewer->toolbar()->controller();
    toolbar.updateToolbarShowStatus(true, false);
    settle(0.5);
    kpv::View* content = controller->contentView();
    const kpv::Rect reason = overlays->statusReasonFrame();
    const double pictureHalf = double(nav().acquireBadFileImage()->height()) / 2;
    EXPECT_LE(reason.maxY(), content->bounds().height() / 2 - pictureHalf) << "the reason covers the picture";
    const kpv::Rect play = toolbar.outlets().btnPlay->convertRectToView(toolbar.outlets().btnPlay->bounds(), content);
    EXPECT_TRUE(kpv::intersectionRect(reason, play).isEmpty()) << "the play button covers the reason";
    EXPECT_LE(reason.maxX(), content->bounds().width());

    sendKey(kpv::KeyCode::Home, kpv::FunctionKey::Home, kpv::FunctionKeyMask);
    settle();
    EXPECT_TRUE(overlays->statusReasonShown().isEmpty());
}
}  // namespace

namespace {
// The Info panel shows the bad-file picture for such a file, drawn from its largest picture: the
// place is several times the picture's size, on a dense screen more so, and the smallest one
// enlarged there was soft.
TEST_F(ViewerStart, InfoPanelShowsTheBadFilePictureFromItsSharpestPixels)
{
    ASSERT_NO_FATAL_FAILURE(startOnAnEmptyFile());
    controller->performMenuAction(29); // Show Info
    settle();
    PropertiesPanelWindow& panel = viewer->propertiesPanel();
    ASSERT_TRUE(panel.showStatus());
    const kpv::ImagePtr bad = delegate->defaultImage(2);
    ASSERT_TRUE(bad && bad->isValid());
    const QImage largest = bad->bestRepresentation(100.0);
    ASSERT_GT(largest.width(), int(bad->size().width)) << "the picture has no denser representation";
    EXPECT_EQ(panel.controller().thumbImage().size(), largest.size());
}
}  // namespace

namespace {
// A file whose header reads but whose pixels cannot be decoded (a JPEG whose frame says far more
// pixels than its bytes hold) and which stores no thumbnail says it cannot be shown, rather than
// loading for ever.
TEST_F(ViewerStart, FileWhosePixelsCannotBeDecodedIsMarkedBad)
{
    QImage small(16, 16, QImage::Format_RGB32);
    small.fill(Qt::darkCyan);
    QByteArray bytes;
    QBuffer buffer(&bytes);
    ASSERT_TRUE(buffer.open(QIODevice::WriteOnly));
    ASSERT_TRUE(small.save(&buffer, "JPEG"));
    const qsizetype frame = bytes.indexOf(QByteArray("\xFF\xC0", 2));
    ASSERT_GT(frame, 0);
    bytes.replace(frame + 5, 4, QByteArray("\xFF\xDC\xFF\xDC", 4));  // 65500 x 65500
    QFile file(QDir(folder).filePath(QStringLiteral("d.jpg")));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(bytes);
    file.close();
    delegate->applicationOpenFiles({file.fileName()});
    delegate->applicationDidFinishLaunching();
    settle(5);
    ASSERT_EQ(QFileInfo(nav().curFilePath().path()).fileName(), QStringLiteral("d.jpg"));
    const NavigateOverlays* overlays = viewer->overlays();
    ASSERT_TRUE(overlays);
    EXPECT_EQ(overlays->statusText(), kpv::Bundle::mainBundle().localizedString(QStringLiteral("IDS_BAD_IMAGE")));
}
}  // namespace

namespace {
// Wherever the panel was left (on a screen since unplugged, or grown past the edge), it opens
// whole on the screen.
TEST_F(ViewerStart, InfoPanelOpensWholeOnTheScreen)
{
    start();
    PropertiesPanelWindow& panel = viewer->propertiesPanel();
    const kpv::Rect screen = panel.window()->screen().visibleFrame;
    ASSERT_FALSE(screen.isEmpty());
    delegate->mainConfig()->setInfoWindowOrigin(QPointF(screen.maxX() - 40, screen.minY() - 200));
    controller->performMenuAction(29);
    expectWholeOnScreen(panel.window()->frame(), screen);
}
}  // namespace

namespace {
// The Navigation panel too opens whole on the screen wherever it was left: on a screen since
// unplugged it would be out of reach, with the picture zoomed and nothing to steer it by.
TEST_F(ViewerStart, NavigationPanelOpensWholeOnTheScreen)
{
    start();
    NavigateWindowController& panel = viewer->navigateWindowController();
    const kpv::Rect screen = panel.window()->screen().visibleFrame;
    ASSERT_FALSE(screen.isEmpty());
    delegate->mainConfig()->setNavigationWindowOrigin(QPointF(screen.maxX() + 500, screen.minY() - 300));
    controller->performMenuAction(30); // actual size: larger than the window, so the panel shows
    settle();
    ASSERT_TRUE(panel.showStatus());
    expectWholeOnScreen(panel.window()->frame(), screen);
}
}  // namespace

namespace {
// The Navigation panel is wished while the image is larger than the view: its frame covers the
// visible part of the thumbnail, moving the frame pans the view, and fitting the image again
// takes the wish back.
TEST_F(ViewerStart, NavigationPanelFollowsTheZoomAndItsFramePansTheView)
{
    start();
    NavigateWindowController& panel = viewer->navigateWindowController();
    EXPECT_FALSE(panel.showStatus());
    controller->performMenuAction(30); // actual size: larger than the window
    settle();
    ASSERT_TRUE(view().canDragImageWithoutCheckCursorPosition());
    EXPECT_TRUE(panel.showStatus());
    const kpv::Rect whole = panel.trackViewZoom()->wholeTrackableRect();
    const kpv::Rect frame = panel.trackViewZoom()->cropTrackRect();
    EXPECT_FALSE(frame.isEmpty());
    EXPECT_LT(frame.width(), whole.width());
    EXPECT_GE(frame.minX(), whole.minX());
    EXPECT_LE(frame.maxX(), whole.maxX() + 1);

    // Moving the frame to the thumbnail's left edge brings the image's left part into view.
    const QPointF before = view().offset();
    panel.moveImageByTrackRect(kpv::Rect(whole.minX(), frame.y(), frame.width(), frame.height()));
    EXPECT_GT(view().offset().x(), before.x());
    panel.updateImageVisibleRect();
    EXPECT_NEAR(panel.trackViewZoom()->cropTrackRect().minX(), whole.minX(), 1.0);

    // A click on the frame without moving it ends a drag with no separate actual rectangle: the
    // view stays where it is.
    const kpv::Rect still = panel.trackViewZoom()->cropTrackRect();
    const QPointF offsetBeforeClick = view().offset();
    panel.areaTrackView_endDrag(panel.trackViewZoom(), still, 9, kpv::Rect());
    EXPECT_NEAR(view().offset().x(), offsetBeforeClick.x(), 0.5);
    EXPECT_NEAR(view().offset().y(), offsetBeforeClick.y(), 0.5);

    // A trackpad scroll over the panel pans (its vertical delta inverted); a mouse wheel zooms.
    auto scroll = kpv::Event::mouseEvent(kpv::ScrollWheel, kpv::Point{70, 60}, panel.window());
    scroll->setScrollingDelta(-30, 0);
    scroll->setPhase(2);
    const QPointF offsetBeforeScroll = view().offset();
    EXPECT_TRUE(panel.areaTrackView_scrollWheel(panel.trackViewZoom(), *scroll));
    EXPECT_LT(view().offset().x(), offsetBeforeScroll.x());
    scroll->setPhase(0);
    scroll->setScrollingDelta(0, 5);
    const double scaleBeforeWheel = view().scale();
    EXPECT_TRUE(panel.areaTrackView_scrollWheel(panel.trackViewZoom(), *scroll));
    settle();
    EXPECT_GT(view().scale(), scaleBeforeWheel);

    // The thumbnail's layer follows the panel's screen, and the picture is made for the pixels it
    // covers there.
    LM3DRotateImageView* thumb = panel.imageViewThumb();
    ASSERT_TRUE(thumb);
    EXPECT_EQ(thumb->imgLayer()->contentsScale(), panel.window()->backingScaleFactor());
    EXPECT_EQ(thumb->layer()->contentsScale(), panel.window()->backingScaleFactor());
    EXPECT_FALSE(thumb->renderToImage(panel.window()->backingScaleFactor()).isNull());
    const double s = thumb->imgLayer()->contentsScale();
    EXPECT_NEAR(std::max(thumb->drawnPixelSize().width(), thumb->drawnPixelSize().height()),
                std::max(thumb->imageRect().width(), thumb->imageRect().height()) * s, 2.0);

    controller->performMenuAction(31); // zoom to fit
    settle();
    EXPECT_FALSE(panel.showStatus());
    EXPECT_FALSE(panel.window()->isVisible());
}

// The About window's web link looks like a link and opens the help pages when clicked.
TEST_F(ViewerStart, AboutWindowLinkOpensTheHelpPages)
{
    QList<QUrl> opened;
    controller->setOpenUrlHandler([&opened](const QUrl& url) {
        opened << url;
        return true;
    });
    start();
    controller->performMenuAction(MainWndController::TagAbout);
    AboutWindowController* about = controller->secondaryWindows().aboutWindowController();
    ASSERT_TRUE(about);
    ASSERT_TRUE(about->aboutWindow()->isVisible());
    LMLinkButton* link = about->btnWebsite();
    ASSERT_TRUE(link);
    EXPECT_FALSE(link->textButtonTitle()->stringValue().isEmpty());
    EXPECT_TRUE(dynamic_cast<LMUnderLineTextFieldCell*>(link->textButtonTitle())) << "a link is underlined";
    EXPECT_LE(link->textButtonTitle()->attributedStringValueSize().width, link->bounds().width()) << "the link is cut";
    const kpv::Color normal = link->textButtonTitle()->textColor();
    const kpv::Rect r = link->convertRectToView(link->bounds(), nullptr);
    const kpv::Point p{r.midX(), r.midY()};
    kpv::Window* window = about->aboutWindow();
    ASSERT_EQ(window->contentView()->hitTest(p), link) << "a click would not reach the link";
    ASSERT_EQ(link->cursorRects().size(), 1u); // the pointing hand over it

    link->mouseEntered(*kpv::Event::mouseEvent(kpv::MouseEntered, p, window));
    EXPECT_NE(link->textButtonTitle()->textColor(), normal);
    link->mouseExited(*kpv::Event::mouseEvent(kpv::MouseExited, kpv::Point{1, 1}, window));
    EXPECT_EQ(link->textButtonTitle()->textColor(), normal);

    kpv::Application& app = kpv::Application::shared();
    app.postEvent(kpv::Event::mouseEvent(kpv::LeftMouseUp, p, window));
    app.sendEvent(kpv::Event::mouseEvent(kpv::LeftMouseDown, p, window));
    app.discardQueuedEvents();
    EXPECT_EQ(opened, QList<QUrl>{MainWndController::helpPageUrl()});
    // The alerts shown on the main window.
    auto alerts = [this] {
        QList<QMessageBox*> shown;
        for (QMessageBox* box : controller->window()->widget()->findChildren<QMessageBox*>())
            if (box->isVisible())
                shown << box;
        return shown;
    };
    EXPECT_TRUE(alerts().isEmpty());

    // A page that cannot be opened is told on the main window.
    controller->setOpenUrlHandler([](const QUrl&) { return false; });
    app.postEvent(kpv::Event::mouseEvent(kpv::LeftMouseUp, p, window));
    app.sendEvent(kpv::Event::mouseEvent(kpv::LeftMouseDown, p, window));
    app.discardQueuedEvents();
    const QList<QMessageBox*> told = alerts();
    ASSERT_EQ(told.size(), 1);
    EXPECT_FALSE(about->aboutWindow()->isVisible()) << "the About window would stand over the alert";
    ASSERT_TRUE(told.first()->defaultButton());
    told.first()->defaultButton()->click();
    settle(0.1);
    about->closeButtonClicked();
}
}  // namespace

namespace {
// The Share menu: a web site opens the share sheet on the current file, whose last step says
// uploading is not available; e-mail hands the file to the desktop's mail program.
TEST_F(ViewerStart, ShareMenuOpensTheSheetOrComposesAMail)
{
    kpv::FakeDesktopServices desktop;
    kpv::DesktopServices::setShared(&desktop);
    // Put the desktop back even when an assertion ends the test early.
    const std::shared_ptr<void> restore(nullptr, [](void*) { kpv::DesktopServices::setShared(nullptr); });
    // A JPEG larger than the window, first in the folder: shown fitted, it is never decoded whole.
    QImage photo(QSize(4000, 3000), QImage::Format_RGB32);
    photo.fill(Qt::red);
    ASSERT_TRUE(photo.save(QDir(folder).filePath(QStringLiteral("0.jpg"))));
    start();
    controller->performMenuAction(23); // Flickr
    settle();
    ShareWindowController* sheet = controller->secondaryWindows().shareWindowController();
    ASSERT_TRUE(sheet);
    EXPECT_TRUE(sheet->shareWindow()->sheetRunning());
    EXPECT_EQ(sheet->websiteType(), 2);
    ASSERT_EQ(sheet->files().size(), 1);
    EXPECT_EQ(sheet->files().front()->filePath(), nav().curFilePath());
    EXPECT_EQ(delegate->mainConfig()->curShareType(), 2);
    // The sheet shows the photo from its fitted picture.
    ASSERT_TRUE(sheet->thumbView(0)->image());
    const QImage thumb = sheet->thumbView(0)->image()->bestRepresentation(1.0);
    EXPECT_EQ(thumb.size(), QSize(168, 126));
    EXPECT_GT(qRed(thumb.pixel(84, 63)), 200);
    EXPECT_LT(qGreen(thumb.pixel(84, 63)), 60);
    sheet->shareButtonClicked();
    EXPECT_TRUE(sheet->finished());
    sheet->cancelButtonClicked();
    EXPECT_FALSE(sheet->shareWindow()->sheetRunning());

    controller->performMenuAction(25); // e-mail
    settle();
    ASSERT_EQ(desktop.mails.size(), 1);
    EXPECT_EQ(desktop.mails.front().attachments, QStringList({nav().curFilePath().path()}));
}
}  // namespace

namespace {
// The title the window should carry for the current file: its name, and with more than one file
// its place in the folder.
QString expectedTitle(const NavigateController& nav)
{
    const QString name = QFileInfo(nav.curFilePath().path()).fileName();
    return nav.fileCount() == 1 ? name : QStringLiteral("%1 (%2/%3)").arg(name).arg(nav.curFileIndex() + 1).arg(nav.fileCount());
}

// The window's title follows every step: keys pressed before any picture is decoded, steps in
// quick succession, and a file in the folder that cannot be read.
TEST_F(ViewerStart, TitleFollowsEveryStep)
{
    QFile bad(QDir(folder).filePath(QStringLiteral("b bad.png")));
    ASSERT_TRUE(bad.open(QIODevice::WriteOnly));
    bad.write("\x89PNG\r\n\x1a\nnot really");
    bad.close();
    delegate->applicationOpenFiles({folder});
    delegate->applicationDidFinishLaunching();
    ASSERT_EQ(nav().fileCount(), 4);
    EXPECT_EQ(controller->window()->title(), expectedTitle(nav()));
    QStringList seen;
    for (int i = 0; i < 6; ++i) {
        sendKey(kpv::KeyCode::RightArrow, kpv::FunctionKey::RightArrow, kpv::NumericPadKeyMask | kpv::FunctionKeyMask);
        EXPECT_EQ(controller->window()->title(), expectedTitle(nav())) << "step " << i;
        seen << controller->window()->title();
        // The first keys come in quick succession (quick taps, a step each), the later ones apart.
        kpv::RunLoop::main().runOnce();
        QCoreApplication::processEvents();
        clock.advance(i < 2 ? 0.05 : 0.4);
        EXPECT_EQ(controller->window()->title(), expectedTitle(nav())) << "step " << i;
    }
    settle();
    seen.removeDuplicates();
    EXPECT_GT(seen.size(), 2) << "the steps went through the folder";
    EXPECT_EQ(controller->window()->title(), expectedTitle(nav()));
    // The picture shown is the current file's, or the can't-open picture for the bad one.
    const QString current = QFileInfo(nav().curFilePath().path()).fileName();
    EXPECT_EQ(fileName(view().validImage()), current == bad.fileName().section('/', -1) ? QStringLiteral("img_bad.png") : current);
}

// A name too long for the title strip is drawn between the menus and the buttons, shortened in
// the middle so that its start and its extension stay readable; a short one stays centred.
TEST_F(ViewerStart, ALongNameInTheTitleLeavesTheMenusAndButtonsClear)
{
    const QString longName = QStringLiteral("0 holiday-") + QString(220, QLatin1Char('x')) + QStringLiteral("-end.png");
    ASSERT_TRUE(QFile::rename(QDir(folder).filePath(QStringLiteral("a.png")), QDir(folder).filePath(longName)));
    start();
    ASSERT_EQ(QFileInfo(nav().curFilePath().path()).fileName(), longName);
    LMMainWindow* window = controller->window();
    const double menus = window->menuBarWidth();
    ASSERT_GT(menus, 0) << "the menu bar tells the window its width";
    auto titleFrame = [&] { return window->txtTitle()->frame(); };
    const double width = window->frameView()->bounds().width();
    EXPECT_GE(titleFrame().x(), menus);
    EXPECT_LE(titleFrame().maxX(), width - LMMainWindow::kAccessoryWidth);
    const QString shown = window->txtTitle()->displayedStringValue();
    EXPECT_TRUE(shown.startsWith(QStringLiteral("0 holiday-"))) << shown.toStdString();
    EXPECT_TRUE(shown.contains(QStringLiteral("-end.png"))) << shown.toStdString();
    EXPECT_LT(shown.size(), window->title().size());

    sendKey(kpv::KeyCode::RightArrow, kpv::FunctionKey::RightArrow, kpv::NumericPadKeyMask | kpv::FunctionKeyMask);
    settle();
    ASSERT_NE(QFileInfo(nav().curFilePath().path()).fileName(), longName);
    EXPECT_NEAR(titleFrame().x() + titleFrame().width() / 2, width / 2, 20) << "a short title is centred";
    EXPECT_EQ(window->txtTitle()->displayedStringValue(), window->title());
}

// Made as narrow as the window manager allows, the window keeps every menu clear of the buttons
// at the right of the title strip.
TEST_F(ViewerStart, ANarrowWindowKeepsItsMenusClearOfTheButtons)
{
    start();
    LMMainWindow* window = controller->window();
    const double menus = window->menuBarWidth();
    ASSERT_GT(menus, 0);
    window->setFrame(kpv::Rect(0, 0, 200, 300));
    settle(0.2);
    EXPECT_GE(window->frameView()->bounds().width(), menus + LMMainWindow::kAccessoryWidth);
}
} // namespace

namespace {
// A line break is allowed in a file name here. Such a name reads as one line wherever one line
// of text shows it (the title, the Info panel's row, the file line under the photo), the break
// shown as its escape \n, instead of spilling a second line over the rows beside it.
TEST_F(ViewerStart, ANameWithALineBreakShowsOnOneLine)
{
    const QString name = QStringLiteral("0 two\nlines.png");
    const QString shown = QStringLiteral("0 two\\nlines.png");
    ASSERT_NO_FATAL_FAILURE(writeImage(name, QSize(200, 100), Qt::yellow));
    delegate->mainConfig()->setFilePropertyMask(delegate->mainConfig()->filePropertyMask() | 1); // the name too
    start();
    ASSERT_EQ(LMPathString::lastPathComponent(nav().curFilePath().path()), name);
    controller->performMenuAction(29);
    PropertiesPanelWindow& panel = viewer->propertiesPanel();
    ASSERT_EQ(panel.rowValue(0), shown);
    EXPECT_EQ(panel.rowShown(0), shown);
    EXPECT_TRUE(controller->window()->txtTitle()->displayedStringValue().startsWith(shown));
    EXPECT_EQ(viewer->overlays()->fileNameShown(), shown);
}
}  // namespace
