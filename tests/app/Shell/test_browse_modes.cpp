// The browsing modes as the program connects them: the thumbnail grid from the View menu, the
// photo bin under the viewer, and the mini window in place of the main window and back. Timers
// run on the manual clock.

#include "Shell/MainWindow/AppDelegate.h"
#include "Shell/MainWindow/LMMainWindow.h"
#include "Shell/Modes/MainWndEditSheets.h"
#include "Edit/BatchSheetController.h"
#include "Shell/MainWindow/LMMainWndContentView.h"
#include "Shell/MainWindow/MainWndController.h"
#include "Shell/Modes/MainWndFavoriteHost.h"
#include "Shell/Modes/MainWndNavigateHost.h"
#include "Shell/Modes/MainWndMiniWindow.h"
#include "Shell/ViewChrome/MainWndPhotoBin.h"
#include "Shell/ViewChrome/NavigateOverlays.h"
#include "Shell/Modes/MainWndSlideshowHost.h"
#include "Shell/Modes/MainWndThumbnailHost.h"
#include "Shell/Modes/NavigateViewMode.h"

#include "Browse/FavImageBrowserView.h"
#include "Browse/MiniWindowTitleBar.h"
#include "Kit/LMNineSliceImageRep.h"
#include "Kit/LMNineSliceImageView.h"
#include "Browse/PhotoBinView.h"
#include "Kit/LMButton.h"
#include "Kit/PhotoBinScrollView.h"
#include "Model/MainConfig.h"
#include "View/LMOpenGLView.h"
#include "View/NavigateController.h"
#include "View/NavigateSaveFileSession.h"
#include "appkit/Application.h"
#include "appkit/Event.h"
#include "appkit/Menu.h"
#include "appkit/Pasteboard.h"
#include "desktop/FakeWorkspaceServices.h"
#include "foundation/Bundle.h"
#include "foundation/Clock.h"
#include "foundation/NotificationCenter.h"
#include "foundation/OperationQueue.h"
#include "foundation/RunLoop.h"
#include "foundation/UserDefaults.h"
#include "ProgramTestSetup.h"

#include <QApplication>
#include <QDir>
#include <QDeadlineTimer>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QMessageBox>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

class BrowseModes : public ::testing::Test {
protected:
    static constexpr int kFiles = 40;

    void SetUp() override
    {
        ASSERT_TRUE(qApp);
        ASSERT_TRUE(scratch.isValid());
        kpv::RunLoop::main().setClock(&clock);
        folder = scratch.filePath(QStringLiteral("photos"));
        ASSERT_TRUE(QDir().mkpath(folder));
        for (int i = 0; i < kFiles; ++i) {
            QImage image(QSize(320, 240), QImage::Format_RGB32);
            image.fill(QColor::fromHsv(i * 15 % 360, 200, 200));
            ASSERT_TRUE(image.save(QDir(folder).filePath(QStringLiteral("p%1.png").arg(i, 2, 10, QLatin1Char('0')))));
        }
        defaults = std::make_unique<kpv::UserDefaults>(scratch.filePath(QStringLiteral("defaults.json")));
        AppDelegate::Setup setup = programTestSetup(*defaults, scratch);
        delegate = std::make_unique<AppDelegate>(std::move(setup));
        controller = std::make_unique<MainWndController>(
            *delegate, std::make_unique<LMMainWindow>(kpv::Rect(100, 100, 900, 640)));
        registerSlideshowMode(*controller);
        registerFavoriteMode(*controller);
        viewer = std::make_unique<NavigateViewMode>(*delegate, *controller);
        viewer->host().setWorkspaceServices(&workspace); // the trash is the stand-in's
        registerThumbnailMode(*controller, viewer->controller(), [this] { return &workspace; });
        registerMiniWindowMode(*controller, viewer->controller());
        controller->awakeFromNib();
        delegate->applicationOpenFiles({folder});
        delegate->applicationDidFinishLaunching();
        settle(2.0);
    }
    void TearDown() override
    {
        viewer.reset();
        controller.reset();
        delegate.reset();
        kpv::RunLoop::main().runOnce();
        kpv::RunLoop::main().setClock(nullptr);
    }

    void settle(double seconds = 1.0) { settleProgram(*delegate, clock, seconds); }

    // Photo `index` shown in the mini window and turned right there; null (with a failure) when
    // the mini window did not come.
    MainWndMiniController* turnInMiniWindow(long index)
    {
        viewer->controller().doNavCurFileToIndex(index, false, {});
        settle();
        controller->switchToSimpleMode();
        settle();
        MainWndMiniController* mini = miniWindowControllerOf(*controller);
        if (!mini || !mini->window()) {
            ADD_FAILURE() << "no mini window";
            return nullptr;
        }
        controller->performMenuAction(15); // Rotate Right
        settle(2.0);
        return mini;
    }

    MainWndThumbnailController* thumbnails() const
    {
        return dynamic_cast<MainWndThumbnailController*>(controller->existingModeController(MainShowModeThumbnail));
    }

    kpv::ManualClock clock;
    kpv::FakeWorkspaceServices workspace;
    QTemporaryDir scratch;
    QString folder;
    std::unique_ptr<kpv::UserDefaults> defaults;
    std::unique_ptr<AppDelegate> delegate;
    std::unique_ptr<MainWndController> controller;
    std::unique_ptr<NavigateViewMode> viewer;
};

TEST_F(BrowseModes, ThumbnailGridFromTheViewMenuAndBack)
{
    ASSERT_EQ(controller->showMode(), MainShowModeView);
    ASSERT_EQ(viewer->controller().fileCount(), kFiles);
    viewer->controller().doNavCurFileToIndex(5, false, {});
    settle();
    ASSERT_TRUE(controller->menuItemForAction(38)) << "the View menu holds the thumbnail command";
    ASSERT_TRUE(controller->canDoAction(38));
    controller->performMenuAction(38);
    settle();
    ASSERT_EQ(controller->showMode(), MainShowModeThumbnail);
    MainWndThumbnailController* grid = thumbnails();
    ASSERT_TRUE(grid);
    EXPECT_EQ(grid->browser()->numberOfItems(), std::size_t(kFiles));
    EXPECT_EQ(grid->browser()->selectionIndexes(), std::set<std::size_t>{5}) << "the current file is selected";
    EXPECT_TRUE(grid->view()->superview()) << "the grid is in the window";

    // The edit commands act on the selection.
    EXPECT_TRUE(controller->canDoAction(7));
    EXPECT_TRUE(controller->canDoAction(6));
    EXPECT_TRUE(controller->canDoAction(8));
    EXPECT_FALSE(controller->canDoAction(4)) << "Save As is the viewer's";
    grid->browser()->setSelectionIndexes({2, 3});
    // I Love It and the Share items belong to the photo shown in the viewer: in the grid they stay
    // greyed out, and chosen anyway they neither love nor share the viewer's photo behind the grid.
    for (long id : {11L, 21L, 22L, 23L, 24L}) {
        std::shared_ptr<kpv::MenuItem> item = controller->menuItemForAction(id);
        ASSERT_TRUE(item) << id;
        EXPECT_FALSE(controller->validateMenuItem(*item)) << id;
    }
    controller->performMenuAction(11);
    settle();
    auto* favorites = dynamic_cast<MainWndFavoriteController*>(controller->favoriteViewController());
    ASSERT_TRUE(favorites);
    EXPECT_EQ(favorites->favoriteFileCount(), 0u) << "a photo was loved from the grid";
    EXPECT_EQ(controller->showMode(), MainShowModeThumbnail);
    controller->performMenuAction(7);
    const QList<QUrl> copied = kpv::Pasteboard::generalPasteboard().fileURLs();
    ASSERT_EQ(copied.size(), 2);
    EXPECT_TRUE(copied[0].toLocalFile().endsWith(QStringLiteral("p02.png")));

    // The context menu offers the same commands, validated against the mode.
    auto menu = grid->host().contextMenu();
    menu->update();
    ASSERT_TRUE(menu->itemWithTag(7));
    EXPECT_TRUE(menu->itemWithTag(7)->isEnabled());
    grid->browser()->setSelectionIndexes({});
    menu->update();
    EXPECT_FALSE(menu->itemWithTag(8)->isEnabled()) << "nothing to move to the Trash";

    // Reveal shows the first selected file in the file manager.
    grid->browser()->setSelectionIndexes({4, 6});
    controller->performMenuAction(6);
    ASSERT_EQ(workspace.revealed.size(), 1);
    EXPECT_TRUE(workspace.revealed.first().endsWith(QStringLiteral("p04.png")));
    // No file manager to start: an alert says so.
    workspace.refuseReveal = true;
    controller->performMenuAction(6);
    workspace.refuseReveal = false;
    QList<QMessageBox*> alerts;
    for (QWidget* w : QApplication::topLevelWidgets())
        if (auto* box = qobject_cast<QMessageBox*>(w); box && box->isVisible())
            alerts.append(box);
    ASSERT_EQ(alerts.size(), 1);
    EXPECT_EQ(alerts.first()->text(), kpv::Bundle::mainBundle().localizedString("IDS_FileManagerFailed"));
    alerts.first()->accept();
    clock.advance(0);

    // The batch tools take the selection, as in My Favourites.
    grid->browser()->setSelectionIndexes({1, 3, 7});
    for (long tag : {18L, 19L, long(MainWndController::TagBatchConvert)})
        EXPECT_TRUE(controller->canDoAction(tag)) << tag;
    controller->performMenuAction(19);
    settle();
    BatchSheetController* sheet = MainWndEditSheets::activeBatchSheet();
    ASSERT_TRUE(sheet);
    ASSERT_EQ(sheet->srcFileInfos().size(), 3);
    EXPECT_TRUE(sheet->srcFileInfos()[1]->filePath().path().endsWith(QStringLiteral("p03.png")));
    sheet->closeWindow();
    settle();
    ASSERT_FALSE(MainWndEditSheets::activeBatchSheet());

    // A double click opens the file in the viewer.
    grid->imageBrowserCellWasDoubleClickedAtIndex(grid->browser(), 9);
    settle();
    EXPECT_EQ(controller->showMode(), MainShowModeView);
    EXPECT_EQ(viewer->controller().curFileIndex(), 9);

    // Back in the grid, the exit button leaves it.
    controller->performMenuAction(38);
    settle();
    ASSERT_EQ(controller->showMode(), MainShowModeThumbnail);
    EXPECT_EQ(grid->browser()->selectionIndexes(), std::set<std::size_t>{9});
    grid->exitButton()->sendAction();
    settle();
    EXPECT_EQ(controller->showMode(), MainShowModeView);
}

// In the grid, as in the viewer, Backspace is no way to the trash: only Delete moves the
// selected photo there, one photo a press: a Delete held down sends no more photos after it.
TEST_F(BrowseModes, BackspaceInTheGridKeepsThePhotoAndDeleteTrashesIt)
{
    controller->performMenuAction(38);
    settle();
    MainWndThumbnailController* grid = thumbnails();
    ASSERT_TRUE(grid);
    grid->browser()->setSelectionIndexes({3});
    const auto press = [this](unsigned short code, char16_t character, bool repeat = false) {
        const QString text(QChar{character});
        kpv::Application::shared().sendEvent(
            kpv::Event::keyEvent(kpv::KeyDown, code, text, text, controller->window(), 0, repeat));
        settle(0.2);
    };
    const auto holdDelete = [&] {
        press(kpv::KeyCode::ForwardDelete, kpv::FunctionKey::ForwardDelete);
        for (int i = 0; i < 5; ++i)
            press(kpv::KeyCode::ForwardDelete, kpv::FunctionKey::ForwardDelete, true);
    };
    press(kpv::KeyCode::Delete, kpv::FunctionKey::Delete); // Backspace
    EXPECT_TRUE(workspace.recycled.isEmpty()) << "Backspace moved a photo to the trash";
    EXPECT_EQ(controller->showMode(), MainShowModeThumbnail);
    holdDelete();
    ASSERT_EQ(workspace.recycled.size(), 1);
    EXPECT_EQ(workspace.recycled.first(), QStringList{QDir(folder).filePath(QStringLiteral("p03.png"))});

    grid->exitButton()->sendAction();
    settle();
    ASSERT_EQ(controller->showMode(), MainShowModeView);
    holdDelete();
    EXPECT_EQ(workspace.recycled.size(), 2) << "the viewer trashed more than the photo shown";
}

TEST_F(BrowseModes, PhotoBinUnderTheViewerAndItsPage)
{
    MainWndPhotoBin& bin = viewer->photoBin();
    ASSERT_TRUE(delegate->mainConfig()->photoBinVisible());
    EXPECT_TRUE(bin.isShown());
    PhotoBinScrollView* strip = bin.controller().view();
    ASSERT_TRUE(strip->superview()) << "the strip is in the window";
    EXPECT_FALSE(strip->superview()->isHidden());
    EXPECT_EQ(bin.controller().numberOfItems(nullptr), std::uint64_t(kFiles));

    // Page Down steps by the strip's page of wholly visible items.
    const qsizetype page = bin.photoBinWholeVisibleItemCountOfCurPage();
    ASSERT_GT(page, 2);
    ASSERT_LT(page, kFiles);
    controller->performMenuAction(43);
    settle();
    EXPECT_EQ(viewer->controller().curFileIndex(), page - 1) << "page " << page;
    // The page is counted again around the new current item, which the strip centres.
    const qsizetype from = viewer->controller().curFileIndex();
    const qsizetype pageThere = bin.photoBinWholeVisibleItemCountOfCurPage();
    ASSERT_GT(pageThere, 2);
    controller->performMenuAction(42);
    settle();
    EXPECT_EQ(viewer->controller().curFileIndex(), std::max<qsizetype>(0, from - (pageThere - 1)));

    // The strip follows the current file.
    viewer->controller().doNavCurFileToIndex(7, false, {});
    settle();
    EXPECT_TRUE(bin.controller().photoBinView()->cellAtIndex(7)) << "the current item is in sight";

    // The View menu's command hides it and stores that; other modes hide it too.
    controller->performMenuAction(28);
    settle();
    EXPECT_FALSE(bin.isShown());
    EXPECT_FALSE(delegate->mainConfig()->photoBinVisible());
    controller->performMenuAction(28);
    settle();
    EXPECT_TRUE(bin.isShown());
    controller->performMenuAction(38);
    settle();
    EXPECT_FALSE(bin.isShown()) << "the grid has no photo bin";
    controller->setShowMode(MainShowModeView);
    settle();
    EXPECT_TRUE(bin.isShown());
}

// The bin hidden while the user steps on, then shown again: every cell it shows gets its
// picture, none stays on the loading mark until the next step.
TEST_F(BrowseModes, ThePhotoBinShownAgainFillsEveryCellItShows)
{
    MainWndPhotoBin& bin = viewer->photoBin();
    controller->performMenuAction(28);
    settle();
    ASSERT_FALSE(bin.isShown());
    viewer->controller().doNavCurFileToIndex(20, false, {});
    settle(2.0);
    controller->performMenuAction(28);
    settle(2.0);
    ASSERT_TRUE(bin.isShown());
    PhotoBinView* strip = bin.controller().photoBinView();
    const auto range = strip->visibleItemRange();
    int shown = 0;
    for (std::uint64_t i = range.location; i < range.location + range.length; ++i) {
        const PhotoBinItemView* cell = strip->cellAtIndex(i);
        if (!cell || cell->isHidden())
            continue;
        ++shown;
        const LMPathString path = viewer->controller().filePaths().at(qsizetype(i));
        const std::shared_ptr<LMNavFileInfo> info = viewer->controller().fileInfoByPath(path);
        EXPECT_TRUE(info && info->imageByType(8)) << "no picture for the cell of " << path.path().toStdString();
    }
    EXPECT_GT(shown, 8);
}

// The file line along the bottom of the image stands on the photo bin while the bin is shown, so
// the strip never covers it, and goes back to the bottom edge when the bin is hidden.
TEST_F(BrowseModes, FileLineStandsAboveThePhotoBin)
{
    MainWndPhotoBin& bin = viewer->photoBin();
    ASSERT_TRUE(bin.isShown());
    NavigateOverlays* overlays = viewer->overlays();
    ASSERT_TRUE(overlays);
    kpv::View* strip = bin.controller().view();
    const kpv::Rect stripInWindow = strip->convertRectToView(strip->bounds(), nullptr);
    const kpv::Rect contentInWindow = controller->contentView()->convertRectToView(controller->contentView()->bounds(), nullptr);
    const double stripTop = std::max(stripInWindow.y(), stripInWindow.y() + stripInWindow.height()) - contentInWindow.y();
    EXPECT_GE(overlays->fileLineBottom(), stripTop - 0.5) << "the strip covers the file line";
    EXPECT_GT(bin.coveredHeight(), 0);

    controller->performMenuAction(28);
    settle();
    ASSERT_FALSE(bin.isShown());
    EXPECT_EQ(overlays->fileLineBottom(), 0);
    controller->performMenuAction(28);
    settle();
    EXPECT_GE(overlays->fileLineBottom(), stripTop - 0.5);
}

TEST_F(BrowseModes, MiniWindowTakesTheMainWindowsPlaceAndGivesItBack)
{
    kpv::Window* main = controller->window();
    const kpv::Rect mainFrame = main->frame();
    viewer->controller().doNavCurFileToIndex(3, false, {});
    settle();
    controller->switchToSimpleMode();
    settle();
    ASSERT_EQ(controller->showMode(), MainShowModeMiniWithImage);
    MainWndMiniController* mini = miniWindowControllerOf(*controller);
    ASSERT_TRUE(mini);
    ASSERT_TRUE(mini->window());
    EXPECT_TRUE(mini->window()->isVisible());
    EXPECT_FALSE(main->isVisible()) << "the main window gives way";
    EXPECT_EQ(controller->getCurWindow(), mini->window());
    EXPECT_EQ(mini->window()->frame().size, (kpv::Size{320, 240})) << "the window fits the picture";
    EXPECT_EQ(viewer->controller().curFileIndex(), 3);
    EXPECT_FALSE(mini->host().imageView()->isHidden());
    EXPECT_TRUE(mini->host().dragView()->isHidden());

    // The zoom status stands on its dark plate over the picture, wide enough for its text.
    mini->host().setStatusText(QStringLiteral("100%"), false);
    LMNineSliceImageView* plate = mini->host().statusPlate();
    ASSERT_TRUE(plate);
    EXPECT_FALSE(plate->isHidden());
    EXPECT_EQ(mini->host().statusField()->superview(), plate);
    ASSERT_TRUE(plate->bkNineSliceImageRep());
    EXPECT_TRUE(plate->bkNineSliceImageRep()->nineSliceImage()) << "the plate's skin image is missing";
    EXPECT_GE(plate->frame().width(), mini->host().statusField()->attributedStringValueSize().width);
    mini->host().setStatusText(QString(), false);
    EXPECT_TRUE(plate->isHidden());

    // Keys reach the viewer through the mini window: the next file, and the window follows.
    EXPECT_EQ(mini->equivalentResponderCount(), 1u);
    auto right = kpv::Event::keyEvent(kpv::KeyDown, 124, QString(QChar(0xF703)), QString(QChar(0xF703)), mini->window(),
                                      kpv::NumericPadKeyMask);
    mini->window()->keyDown(*right);
    settle();
    EXPECT_EQ(viewer->controller().curFileIndex(), 4);
    EXPECT_TRUE(mini->window()->isVisible());
    EXPECT_TRUE(mini->window()->title().startsWith(QStringLiteral("p04.png"))) << "window lists do not say which photo";

    // The title bar's button brings the main window back where it was.
    mini->host().windowTitleBar()->normalmodeButton()->sendAction();
    settle();
    EXPECT_EQ(controller->showMode(), MainShowModeView);
    EXPECT_TRUE(main->isVisible());
    EXPECT_FALSE(mini->window()->isVisible());
    EXPECT_EQ(main->frame(), mainFrame);
    EXPECT_EQ(viewer->controller().curFileIndex(), 4);
    EXPECT_EQ(mini->equivalentResponderCount(), 0u);

    // From the empty state the mini window shows the drop prompt, and leaving returns there.
    controller->setShowMode(MainShowModeEmpty);
    settle();
    controller->switchToSimpleMode();
    settle();
    EXPECT_EQ(controller->showMode(), MainShowModeMiniEmpty);
    EXPECT_FALSE(mini->host().dragView()->isHidden());
    EXPECT_TRUE(mini->host().imageView()->isHidden());
    mini->host().dragTitleBar()->normalmodeButton()->sendAction();
    settle();
    EXPECT_EQ(controller->showMode(), MainShowModeEmpty);
    EXPECT_TRUE(main->isVisible());
}

// Closing the mini window quits as closing the main window does, instead of leaving the program
// running with no window; a photo turned in it is written first, there and on Quit, as a quit
// from the viewer does.
TEST_F(BrowseModes, ClosingOrQuittingTheMiniWindowQuitsAndWritesTheTurn)
{
    int quits = 0;
    controller->setQuitHandler([&] { ++quits; });
    MainWndMiniController* mini = turnInMiniWindow(3);
    ASSERT_TRUE(mini);
    const QString path = viewer->controller().curFilePath().path();
    ASSERT_EQ(mini->window()->frame().size, (kpv::Size{240, 320})) << "the turn did not reach the mini window";
    mini->host().windowTitleBar()->closeButton()->sendAction();
    settle();
    viewer->controller().navigateSaveFileSession()->waitUntilAllOperationsAreFinished();
    settle();
    EXPECT_EQ(quits, 1) << "the program goes on with no window";
    EXPECT_EQ(QImage(path).size(), QSize(240, 320)) << "the turn made in the mini window was dropped";

    controller->switchToSimpleMode();
    settle();
    controller->performMenuAction(15);
    settle(2.0);
    controller->performMenuAction(MainWndController::TagQuit);
    settle();
    viewer->controller().navigateSaveFileSession()->waitUntilAllOperationsAreFinished();
    settle();
    EXPECT_EQ(quits, 2);
    EXPECT_EQ(QImage(path).size(), QSize(320, 240)) << "Quit in the mini window dropped its turn";
}

// A photo turned in the mini window and seen again there after a visit to the viewer: the mini
// window showed it unturned, and the way back then gave the viewer the photo as not turned.
TEST_F(BrowseModes, APhotoTurnedInTheMiniWindowKeepsItsTurnOnTheNextVisit)
{
    MainWndMiniController* mini = turnInMiniWindow(3);
    ASSERT_TRUE(mini);
    const LMImageRotateAngle turned = mini->host().imageView()->angleRotate();
    ASSERT_TRUE(turned.isRotatedOrFlipped());
    mini->host().windowTitleBar()->normalmodeButton()->sendAction();
    settle();
    ASSERT_TRUE(viewer->controller().openGLView()->angleRotate().isEqual(turned));

    controller->switchToSimpleMode();
    settle();
    EXPECT_TRUE(mini->host().imageView()->angleRotate().isEqual(turned)) << "the photo came back unturned";
    EXPECT_EQ(mini->window()->frame().size, (kpv::Size{240, 320}));
    mini->host().windowTitleBar()->normalmodeButton()->sendAction();
    settle();
    EXPECT_TRUE(viewer->controller().openGLView()->angleRotate().isEqual(turned)) << "the turn was dropped";
}

// The wheel set to step through the photos zoomed in the mini window all the same.
TEST_F(BrowseModes, TheWheelDoesInTheMiniWindowWhatTheUserChoseForIt)
{
    const auto chooseWheelZoom = [&](bool zoom) {
        delegate->mainConfig()->setZoomWhileMouseWheel(zoom);
        kpv::NotificationCenter::defaultCenter().postNotification(QStringLiteral("didChangeOptionSetting"), nullptr);
        settle();
    };
    chooseWheelZoom(false);
    controller->switchToSimpleMode();
    settle();
    MainWndMiniController* mini = miniWindowControllerOf(*controller);
    ASSERT_TRUE(mini && mini->window());
    EXPECT_EQ(mini->host().imageView()->mouseWheelAction(), MouseWheelActionPassOn) << "the wheel zooms, not steps";
    chooseWheelZoom(true);
    EXPECT_EQ(mini->host().imageView()->mouseWheelAction(), MouseWheelActionZoom);
}

// A file that cannot be shown is shown in the mini window as in the viewer: the picture that says
// so, the window at its size, instead of an empty window at the last photo's size.
TEST_F(BrowseModes, MiniWindowOnAFileThatCannotBeShownShowsTheBadFilePicture)
{
    const QString bad = QDir(folder).filePath(QStringLiteral("p40.png"));
    {
        QFile file(bad);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write("not a picture at all");
    }
    controller->openFiles({bad}, false);
    settle();
    ASSERT_EQ(viewer->controller().curFilePath().path(), bad);
    controller->switchToSimpleMode();
    settle();
    ASSERT_EQ(controller->showMode(), MainShowModeMiniWithImage);
    MainWndMiniController* mini = miniWindowControllerOf(*controller);
    ASSERT_TRUE(mini && mini->window());
    const LMImagePtr picture = viewer->controller().acquireBadFileImage();
    ASSERT_TRUE(picture && picture->originalImgBaseInfo());
    EXPECT_EQ(mini->host().imageView()->imageBadFile(), picture);
    const QSizeF size = picture->originalImgBaseInfo()->frameSize();
    const kpv::Size least = mini->host().minWindowSize();
    EXPECT_EQ(mini->window()->frame().size,
              (kpv::Size{std::max(size.width(), least.width), std::max(size.height(), least.height)}));
    // It says so, and why, as the viewer does: the reason along the bottom, under the mark.
    const QString cannot = kpv::Bundle::mainBundle().localizedString(QStringLiteral("IDS_BAD_IMAGE"));
    EXPECT_EQ(mini->host().badFileMessageShown(), cannot);
    EXPECT_TRUE(mini->host().statusPlate()->isHidden()) << "the status line says it a second time";
    EXPECT_FALSE(mini->host().badFileReasonShown().isEmpty());
    EXPECT_LE(mini->host().badFileReasonFrame().maxX(), mini->host().imageView()->frame().maxX());

    // Stepped to from a photo, it is laid out as itself, not in the photo's shape: the pictures
    // of the photo left behind go with it.
    const auto press = [&](unsigned short code, QChar text) {
        mini->window()->keyDown(*kpv::Event::keyEvent(kpv::KeyDown, code, QString(text), QString(text), mini->window(),
                                                      kpv::NumericPadKeyMask));
        settle();
    };
    press(123, QChar(0xF702));
    ASSERT_EQ(viewer->controller().curFileIndex(), kFiles - 1);
    ASSERT_TRUE(mini->host().imageView()->imageFitin() || mini->host().imageView()->imageNormal());
    EXPECT_EQ(mini->window()->frame().size, (kpv::Size{320, 240}));
    EXPECT_TRUE(mini->host().badFileMessageShown().isEmpty()) << "a photo said it cannot be shown";
    EXPECT_TRUE(mini->host().badFileReasonShown().isEmpty());
    press(124, QChar(0xF703));
    ASSERT_EQ(viewer->controller().curFilePath().path(), bad);
    EXPECT_EQ(mini->host().imageView()->validImage(), picture) << "the bad-file picture is drawn in another photo's frame";
    EXPECT_FALSE(mini->host().imageView()->imageFitin());
    EXPECT_EQ(mini->window()->frame().size,
              (kpv::Size{std::max(size.width(), least.width), std::max(size.height(), least.height)}));
}

} // namespace

namespace {

TEST_F(BrowseModes, FavouritesFromMyFavouritesWithAMissingFileAndSaveAs)
{
    // Two favourites from the viewer's I Love It; then one of the files goes away.
    ASSERT_FALSE(controller->canDoAction(13)) << "My Favourites waits for a favourite";
    for (int index : {2, 6}) {
        viewer->controller().doNavCurFileToIndex(index, false, {});
        settle();
        ASSERT_TRUE(controller->canDoAction(11));
        controller->performMenuAction(11);
        settle(1.0);
    }
    auto* favorites = dynamic_cast<MainWndFavoriteController*>(controller->existingModeController(MainShowModeFavorite));
    ASSERT_TRUE(favorites);
    ASSERT_EQ(favorites->favoriteFileCount(), 2u);
    const QString gone = QDir(folder).filePath(QStringLiteral("p02.png"));
    ASSERT_TRUE(QFile::remove(gone));

    ASSERT_TRUE(controller->canDoAction(13));
    controller->performMenuAction(13);
    settle();
    ASSERT_EQ(controller->showMode(), MainShowModeFavorite);
    if (favorites->host().introTips())
        favorites->host().closeClickedOnFavoriteIntroTipsViewController(favorites->host().introTips());
    FavImageBrowserView* grid = favorites->browser();
    ASSERT_EQ(grid->numberOfItems(), 2u);
    grid->setLoadsPicturesSynchronously(true);
    grid->requestVisiblePictures();
    const QString missingUID = favorites->imageBrowserItemAtIndex(grid, 0)->imageUID();
    EXPECT_TRUE(grid->hasCachedPicture(missingUID)) << "the missing file was looked for";
    EXPECT_TRUE(grid->cachedPicture(missingUID).isNull()) << "and is drawn as missing";
    EXPECT_FALSE(grid->cachedPicture(favorites->imageBrowserItemAtIndex(grid, 1)->imageUID()).isNull());
    QImage canvas(grid->widget()->size(), QImage::Format_ARGB32_Premultiplied);
    grid->widget()->render(&canvas); // drawing the missing one does not fail

    // Save As copies the selected favourite that still exists into the chosen folder.
    const QString target = scratch.filePath(QStringLiteral("saved"));
    ASSERT_TRUE(QDir().mkpath(target));
    int asked = 0;
    favorites->host().setFolderChooser([target, &asked](const QString&) {
        ++asked;
        return target;
    });
    grid->setSelectionIndexes({1});
    ASSERT_TRUE(controller->canDoAction(4));
    controller->performMenuAction(4);
    EXPECT_EQ(asked, 1) << "the folder is asked for";
    // The copy runs on a queue of its own.
    const QString copied = QDir(target).filePath(QStringLiteral("p06.png"));
    QDeadlineTimer deadline(20000);
    while (!QFileInfo::exists(copied) && !deadline.hasExpired())
        settle(0.1);
    settle(0.5);
    QFile original(QDir(folder).filePath(QStringLiteral("p06.png"))), copy(QDir(target).filePath(QStringLiteral("p06.png")));
    ASSERT_TRUE(original.open(QIODevice::ReadOnly));
    ASSERT_TRUE(copy.open(QIODevice::ReadOnly)) << "the favourite was copied";
    EXPECT_EQ(copy.readAll(), original.readAll());
}

} // namespace

// A photo handed over from outside (a double click in the file manager, another start of the
// program) while the grid shows leaves the grid for the viewer with that photo; during a
// slideshow it waits for the show to end. Neither is dropped.
TEST_F(BrowseModes, APhotoHandedOverInTheGridOrASlideshowIsShown)
{
    controller->window()->makeKeyAndOrderFront();
    const QString other = scratch.filePath(QStringLiteral("other"));
    ASSERT_TRUE(QDir().mkpath(other));
    const QString first = QDir(other).filePath(QStringLiteral("a.png")), second = QDir(other).filePath(QStringLiteral("b.png"));
    for (const QString& path : {first, second}) {
        QImage image(QSize(64, 48), QImage::Format_RGB32);
        image.fill(Qt::white);
        ASSERT_TRUE(image.save(path));
    }
    controller->performMenuAction(38);
    settle();
    ASSERT_EQ(controller->showMode(), MainShowModeThumbnail);
    delegate->applicationOpenFiles({first});
    settle();
    EXPECT_EQ(controller->showMode(), MainShowModeView);
    EXPECT_EQ(viewer->controller().curFilePath().path().toStdString(), first.toStdString());

    controller->performMenuAction(39);
    settle();
    ASSERT_EQ(controller->showMode(), MainShowModeSlideshow);
    delegate->applicationOpenFiles({second});
    settle();
    EXPECT_EQ(controller->showMode(), MainShowModeSlideshow);
    controller->setShowMode(MainShowModeView);
    settle();
    EXPECT_EQ(controller->showMode(), MainShowModeView);
    EXPECT_EQ(viewer->controller().curFilePath().path().toStdString(), second.toStdString());
}
