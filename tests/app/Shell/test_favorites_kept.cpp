// Favourites outlive the run: the program as main() assembles it is started on a folder, files are
// loved, the program is taken down and started again on the same settings folder. The favourites
// box of the viewer and My Favourites show them at once, in the order they were loved; a favourite
// whose file was deleted meanwhile stays, drawn with the missing mark, until the user removes it.
// Timers run on the manual clock.

#include "Shell/MainWindow/AppDelegate.h"
#include "Shell/MainWindow/LMMainWindow.h"
#include "Shell/MainWindow/LMMainWndContentView.h"
#include "Shell/MainWindow/MainWndController.h"
#include "Shell/Modes/MainWndFavoriteHost.h"
#include "Shell/Modes/MainWndNavigateHost.h"
#include "Shell/ViewChrome/NavigateToolbar.h"
#include "Shell/Modes/NavigateViewMode.h"
#include "Shell/Program/ViewerProgram.h"

#include "Browse/FavBinButton.h"
#include "Edit/CropViewController.h"
#include "Browse/FavImageBrowserView.h"
#include "Browse/FavoriteListFile.h"
#include "appkit/Application.h"
#include "appkit/Event.h"
#include "appkit/Menu.h"
#include "appkit/MenuBar.h"
#include "foundation/Bundle.h"
#include "View/NavigateController.h"
#include "foundation/Clock.h"
#include "foundation/RunLoop.h"
#include "foundation/UserDefaults.h"
#include "Model/MainConfig.h"
#include "ProgramTestSetup.h"
#include "../../support/FaultInjection.h"

#include <QFileInfo>
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QJsonDocument>
#include <QMenu>
#include <QMessageBox>
#include <QTemporaryDir>
#include <QThread>
#include <gtest/gtest.h>

namespace {

class FavoritesKept : public ProgramTest {
protected:
    void SetUp() override
    {
        ASSERT_NO_FATAL_FAILURE(ProgramTest::SetUp());
        ASSERT_TRUE(QDir().mkpath(scratch.filePath(QStringLiteral("conf"))));
        const Qt::GlobalColor colours[] = {Qt::red, Qt::green, Qt::blue};
        for (int i = 0; i < 3; ++i) {
            QImage image(QSize(320, 240), QImage::Format_RGB32);
            image.fill(colours[i]);
            ASSERT_TRUE(image.save(photo(i)));
        }
    }
    void TearDown() override
    {
        stop();
        kpv::RunLoop::main().setClock(nullptr);
    }

    QString photo(int i) const { return QDir(folder).filePath(QStringLiteral("p%1.png").arg(i)); }
    QString listPath() const { return scratch.filePath(QStringLiteral("conf/favorites.json")); }

    void start()
    {
        defaults = std::make_unique<kpv::UserDefaults>(scratch.filePath(QStringLiteral("conf/settings.json")));
        delegate = std::make_unique<AppDelegate>(programTestSetup(*defaults, scratch));
        program = std::make_unique<ViewerProgram>(*delegate);
        program->controller().window()->makeKeyAndOrderFront();
        delegate->applicationOpenFiles({folder});
        delegate->applicationDidFinishLaunching();
        settle();
    }
    void stop()
    {
        if (!program)
            return;
        delegate->applicationWillTerminate();
        program.reset();
        delegate.reset();
        defaults.reset();
        kpv::RunLoop::main().runOnce();
    }
    void settle(double seconds = 2.0) { settleProgram(*delegate, clock, seconds); }

    MainWndFavoriteController* favorites() const
    {
        return dynamic_cast<MainWndFavoriteController*>(
            program->controller().existingModeController(MainShowModeFavorite));
    }
    QStringList favoritePaths() const
    {
        QStringList out;
        if (favorites())
            for (const LMPathString& p : favorites()->favoriteFilePaths())
                out << p.path();
        return out;
    }
    NavigateController& navigator() const { return program->viewMode().controller(); }
    void showFile(int i)
    {
        for (int step = 0; step < 3 && navigator().curFilePath().path() != photo(i); ++step) {
            navigator().doNavCurFileToNext(true);
            settle(0.5);
        }
        ASSERT_EQ(navigator().curFilePath().path(), photo(i));
    }
    void loveCurrentFile()
    {
        program->controller().performMenuAction(11);
        settle();
    }

    static QList<QMessageBox*> alerts()
    {
        QList<QMessageBox*> boxes;
        for (QWidget* w : QApplication::topLevelWidgets())
            if (auto* box = qobject_cast<QMessageBox*>(w); box && box->isVisible())
                boxes << box;
        return boxes;
    }

    std::unique_ptr<kpv::UserDefaults> defaults;
    std::unique_ptr<AppDelegate> delegate;
    std::unique_ptr<ViewerProgram> program;
};

TEST_F(FavoritesKept, LovedFilesComeBackInOrderAfterARestart)
{
    start();
    ASSERT_NO_FATAL_FAILURE(showFile(2));
    loveCurrentFile();
    ASSERT_NO_FATAL_FAILURE(showFile(0));
    loveCurrentFile();
    const QStringList loved = {photo(2), photo(0)};
    ASSERT_EQ(favoritePaths(), loved);
    // Saved at once, not only at quit: a crash later loses nothing.
    EXPECT_EQ(FavoriteListFile(listPath()).read().paths.size(), 2);
    stop();

    start();
    EXPECT_EQ(favoritePaths(), loved);
    NavigateToolbar* toolbar = program->viewMode().toolbar();
    ASSERT_TRUE(toolbar && toolbar->favBinButton());
    EXPECT_EQ(toolbar->favBinButton()->photoCount(), 2);
    EXPECT_TRUE(toolbar->favBinButton()->isEnabled());
    // The box shows the last loved file's picture, read from the file in this run.
    const QImage thumb = toolbar->favBinButton()->thumb();
    ASSERT_FALSE(thumb.isNull());
    EXPECT_EQ(QColor(thumb.pixel(thumb.width() / 2, thumb.height() / 2)).name(), QColor(Qt::red).name());
    // The file just shown is marked as loved, and the Edit menu offers to remove it once.
    EXPECT_TRUE(program->viewMode().host().isFavoriteFile(LMPathString(photo(0), false)));
    const QString removeTitle = kpv::Bundle::mainBundle().localizedString(QStringLiteral("IDS_MENU_RemoveFavorite"));
    int removeItems = 0;
    for (const auto& menu : program->menuBar().menus()) {
        menu->update();
        for (const auto& item : menu->itemArray())
            removeItems += item->title() == removeTitle && !item->isHidden();
    }
    EXPECT_EQ(removeItems, 1);

    // My Favourites opens on both.
    program->controller().performMenuAction(13);
    settle();
    EXPECT_EQ(program->controller().showMode(), MainShowModeFavorite);
    ASSERT_TRUE(favorites()->browser());
    EXPECT_EQ(favorites()->numberOfItemsInImageBrowser(favorites()->browser()), 2u);

    // Reordered in the grid: the box, on screen beside the grid, shows the new last favourite at
    // once, and the new order is what the next run sees.
    ASSERT_TRUE(favorites()->imageBrowserMoveItemsAtIndexes(favorites()->browser(), {1}, 0));
    settle();
    const QImage last = toolbar->favBinButton()->thumb();
    ASSERT_FALSE(last.isNull());
    EXPECT_EQ(QColor(last.pixel(last.width() / 2, last.height() / 2)).name(), QColor(Qt::blue).name());
    stop();
    start();
    EXPECT_EQ(favoritePaths(), QStringList({photo(0), photo(2)}));
}

// A list that cannot be written (a full disk) is told once, not at every later mark, and the next
// change that can be written saves every favourite.
TEST_F(FavoritesKept, AListThatCannotBeSavedIsToldOnceAndSavedWithTheNextChange)
{
    start();
    {
        kpv::test::FileSizeLimit full(8);
        ASSERT_NO_FATAL_FAILURE(showFile(0));
        loveCurrentFile();
        const QList<QMessageBox*> told = alerts();
        ASSERT_EQ(told.size(), 1);
        EXPECT_TRUE(told.first()->text().contains(listPath())) << told.first()->text().toStdString();
        told.first()->accept();
        settle(0.5);
        ASSERT_NO_FATAL_FAILURE(showFile(1));
        loveCurrentFile();
        EXPECT_TRUE(alerts().isEmpty()) << "told once";
    }
    EXPECT_EQ(favoritePaths(), (QStringList{photo(0), photo(1)}));
    EXPECT_TRUE(FavoriteListFile(listPath()).read().paths.isEmpty());

    ASSERT_NO_FATAL_FAILURE(showFile(2));
    loveCurrentFile();
    EXPECT_TRUE(alerts().isEmpty());
    EXPECT_EQ(FavoriteListFile(listPath()).read().paths.size(), 3);
}

// Settings that cannot be written (a full disk) are told once, a moment after the change rather
// than never, whatever changes after it; the next change that can be written saves them all.
TEST_F(FavoritesKept, SettingsThatCannotBeSavedAreToldOnceAndSavedWithTheNextChange)
{
    const QString settingsPath = scratch.filePath(QStringLiteral("conf/settings.json"));
    start();
    {
        kpv::test::FileSizeLimit full(8);
        program->controller().performMenuAction(35); // Sort By > Date Modified
        settle();
        const QList<QMessageBox*> told = alerts();
        ASSERT_EQ(told.size(), 1);
        EXPECT_TRUE(told.first()->text().contains(settingsPath)) << told.first()->text().toStdString();
        told.first()->accept();
        settle(0.5);
        program->controller().performMenuAction(37); // Sort By > Descending
        settle();
        EXPECT_TRUE(alerts().isEmpty()) << "told once";
    }
    const qint64 chosen = delegate->mainConfig()->sortByType();
    program->controller().performMenuAction(28); // Hide Photo Bin
    settle();
    EXPECT_TRUE(alerts().isEmpty());
    kpv::UserDefaults reread(settingsPath);
    EXPECT_EQ(MainConfig(reread).sortByType(), chosen);
    EXPECT_EQ(MainConfig(reread).photoBinVisible(), delegate->mainConfig()->photoBinVisible());
}

TEST_F(FavoritesKept, AFileDeletedBetweenRunsStaysWithTheMissingMarkUntilRemoved)
{
    start();
    ASSERT_NO_FATAL_FAILURE(showFile(1));
    loveCurrentFile();
    ASSERT_NO_FATAL_FAILURE(showFile(2));
    loveCurrentFile();
    stop();
    ASSERT_TRUE(QFile::remove(photo(1)));

    start();
    EXPECT_EQ(favoritePaths(), QStringList({photo(1), photo(2)}));
    program->controller().performMenuAction(13);
    settle();
    ASSERT_EQ(program->controller().showMode(), MainShowModeFavorite);
    FavImageBrowserView* grid = favorites()->browser();
    ASSERT_TRUE(grid);
    grid->setLoadsPicturesSynchronously(true);
    grid->requestVisiblePictures();
    const QString goneUid = favorites()->favImageBrowserItems()[0]->imageUID();
    const QString keptUid = favorites()->favImageBrowserItems()[1]->imageUID();
    // Pictures the grid asked for on its own before it was made synchronous arrive from its own
    // threads, in real time: a busy machine may take a while.
    for (int i = 0; i < 400 && !(grid->hasCachedPicture(goneUid) && grid->hasCachedPicture(keptUid)); ++i) {
        QThread::msleep(25);
        settle(0.05);
    }
    // The gone file was looked for and found nothing (drawn with the missing mark); the other one
    // has its picture.
    EXPECT_TRUE(grid->hasCachedPicture(goneUid));
    EXPECT_TRUE(grid->cachedPicture(goneUid).isNull());
    EXPECT_FALSE(grid->cachedPicture(keptUid).isNull());

    // The user removes it; the next run no longer has it.
    favorites()->removeFavoriteFile(LMPathString(photo(1), false));
    stop();
    start();
    EXPECT_EQ(favoritePaths(), QStringList({photo(2)}));
}

// A crop loved before it was saved is the user's only copy of it: it is kept in the program's data
// folder, outlives the run and the emptying of the temporary folder, and goes only when the user
// removes it from the favourites.
TEST_F(FavoritesKept, ALovedCropOutlivesTheRunUntilRemoved)
{
    start();
    ASSERT_NO_FATAL_FAILURE(showFile(1));
    MainWndController& controller = program->controller();
    controller.performMenuAction(9); // Crop
    settle();
    ASSERT_EQ(controller.showMode(), MainShowModeCrop);
    auto* crop = dynamic_cast<CropViewController*>(controller.existingModeController(MainShowModeCrop));
    ASSERT_TRUE(crop);
    ASSERT_TRUE(controller.canDoAction(11));
    controller.performMenuAction(11); // I Love It
    for (int i = 0; i < 20 && crop->inSaving(); ++i) {
        crop->waitUntilSavesFinished();
        settle(0.1);
    }
    settle();
    const QStringList loved = favoritePaths();
    ASSERT_EQ(loved.size(), 1);
    const QString kept = scratch.filePath(QStringLiteral("data/Loved Crops"));
    EXPECT_TRUE(loved[0].startsWith(kept + '/')) << loved[0].toStdString();
    const QByteArray bytes = [&] {
        QFile f(loved[0]);
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }();
    ASSERT_FALSE(bytes.isEmpty());
    stop();
    ASSERT_FALSE(QDir(scratch.filePath(QStringLiteral("tmp"))).entryList(QDir::Dirs | QDir::NoDotAndDotDot).size())
        << "the temporary folder is emptied at quit";

    start();
    EXPECT_EQ(favoritePaths(), loved);
    QFile again(loved[0]);
    ASSERT_TRUE(again.open(QIODevice::ReadOnly));
    EXPECT_EQ(again.readAll(), bytes);
    again.close();
    // The original file is not a copy of the program's: removing it from the favourites keeps it.
    ASSERT_NO_FATAL_FAILURE(showFile(2));
    loveCurrentFile();
    favorites()->removeFavoriteFile(LMPathString(photo(2), false));
    EXPECT_TRUE(QFile::exists(photo(2)));
    favorites()->removeFavoriteFile(LMPathString(loved[0], false));
    EXPECT_FALSE(QFile::exists(loved[0]));
    stop();
    start();
    EXPECT_TRUE(favoritePaths().isEmpty());
}

// My Favourites on screen: the grid stands on its own opaque ground, and the favourites bin stays
// above it, with a face and taking clicks, whether or not the last favourite's file is there.
TEST_F(FavoritesKept, MyFavouritesCoversThePictureAndTheBinLeadsOut)
{
    start();
    ASSERT_NO_FATAL_FAILURE(showFile(1));
    loveCurrentFile();
    ASSERT_NO_FATAL_FAILURE(showFile(2));
    loveCurrentFile();
    stop();
    for (bool lastMissing : {false, true}) {
        SCOPED_TRACE(lastMissing ? "last favourite missing" : "all favourites present");
        if (lastMissing)
            ASSERT_TRUE(QFile::rename(photo(2), scratch.filePath(QStringLiteral("away.png"))));
        start();
        MainWndController& controller = program->controller();
        controller.performMenuAction(13);
        settle();
        ASSERT_EQ(controller.showMode(), MainShowModeFavorite);
        // The leave tip of the first visit is closed first.
        if (favorites()->curFavoriteIntroTipsShowStatus())
            favorites()->host().introTips()->closeButtonClicked();
        ASSERT_FALSE(favorites()->curFavoriteIntroTipsShowStatus());
        kpv::View* content = controller.contentView();

        // Between and beside the cells only the ground shows, never what lies under the screen.
        const QImage shot = content->renderToImage(1.0);
        ASSERT_FALSE(shot.isNull());
        const QColor ground = FavoriteViewController::backgroundColor().toQColor();
        const QColor beside = shot.pixelColor(shot.width() - 80, shot.height() / 2);
        EXPECT_EQ(beside.alpha(), 255);
        EXPECT_EQ(beside.rgb(), ground.rgb());

        // The bin is on screen with a face, on top of the grid.
        FavBinButton* bin = program->viewMode().toolbar()->favBinButton();
        ASSERT_TRUE(bin && bin->superview());
        EXPECT_FALSE(bin->superview()->isHidden());
        EXPECT_DOUBLE_EQ(bin->superview()->alphaValue(), 1.0);
        EXPECT_EQ(bin->photoCount(), 2);
        // Its face is drawn: the picture, or the missing mark on the frame.
        const QImage face = bin->renderToImage(1.0);
        ASSERT_FALSE(face.isNull());
        int painted = 0;
        for (int y = 0; y < face.height(); ++y)
            for (int x = 0; x < face.width(); ++x)
                painted += qAlpha(face.pixel(x, y)) > 0;
        EXPECT_GT(painted, face.width() * face.height() / 2);
        const kpv::Rect r = bin->convertRectToView(bin->bounds(), nullptr);
        const kpv::Point centre{r.midX(), r.midY()};
        EXPECT_EQ(content->hitTest(content->superview() ? content->convertPointToView(centre, content->superview())
                                                        : centre),
                  bin);

        // A click on it leaves My Favourites.
        kpv::Application& app = kpv::Application::shared();
        app.postEvent(kpv::Event::mouseEvent(kpv::LeftMouseUp, centre, controller.window()));
        app.sendEvent(kpv::Event::mouseEvent(kpv::LeftMouseDown, centre, controller.window()));
        settle();
        EXPECT_EQ(controller.showMode(), MainShowModeView);
        stop();
    }
}

TEST_F(FavoritesKept, AListCutShortKeepsItsWholeEntriesIsToldAndIsKeptAside)
{
    const QByteArray cut = "{\"favorites\": [\"" + photo(0).toUtf8() + "\", \"" + photo(1).toUtf8() + "\", \"" +
                           photo(2).left(10).toUtf8();
    {
        QFile f(listPath());
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(cut);
    }
    start();
    EXPECT_EQ(favoritePaths(), (QStringList{photo(0), photo(1)}));
    EXPECT_EQ(program->viewMode().toolbar()->favBinButton()->photoCount(), 2);
    const QList<QMessageBox*> told = alerts();
    ASSERT_EQ(told.size(), 1) << "the user is told why favourites are missing";
    EXPECT_TRUE(told.first()->text().contains(QStringLiteral("favorites.json.corrupt"))) << told.first()->text().toStdString();
    told.first()->accept();
    settle();
    // Nothing changed yet: the damaged file is as it was.
    {
        QFile f(listPath());
        ASSERT_TRUE(f.open(QIODevice::ReadOnly));
        EXPECT_EQ(f.readAll(), cut);
    }
    showFile(2);
    loveCurrentFile();
    EXPECT_EQ(favoritePaths(), (QStringList{photo(0), photo(1), photo(2)}));
    QFile aside(listPath() + QStringLiteral(".corrupt"));
    ASSERT_TRUE(aside.open(QIODevice::ReadOnly));
    EXPECT_EQ(aside.readAll(), cut);
    EXPECT_EQ(FavoriteListFile(listPath()).read().paths.size(), 3);
}

// Settings that cannot be read (a file cut short, another program's bytes) leave the viewer on its
// own settings: the user is told why, where the file is kept and how to have it back, and neither it
// nor a file kept aside by an earlier run is written over.
TEST_F(FavoritesKept, SettingsThatCannotBeReadAreToldAndKeptAside)
{
    const QString settings = scratch.filePath(QStringLiteral("conf/settings.json"));
    const auto write = [](const QString& path, const QByteArray& bytes) {
        QFile f(path);
        return f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size();
    };
    const auto read = [](const QString& path) {
        QFile f(path);
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("(missing)");
    };
    ASSERT_TRUE(write(settings, "{\"ZoomMode\": 1, \"Mouse"));
    ASSERT_TRUE(write(settings + QStringLiteral(".corrupt"), "kept by an earlier run"));
    start();
    const QList<QMessageBox*> told = alerts();
    ASSERT_EQ(told.size(), 1) << "the user is told why the settings are the viewer's own";
    EXPECT_TRUE(told.first()->text().contains(QStringLiteral("settings.json.corrupt.2"))) << told.first()->text().toStdString();
    EXPECT_TRUE(told.first()->text().contains(QStringLiteral("damaged or cut short"))) << told.first()->text().toStdString();
    EXPECT_TRUE(told.first()->text().contains(QStringLiteral("rename it settings.json"))) << "the user learns how to have them back";
    told.first()->accept();
    settle();
    stop();
    EXPECT_EQ(read(settings + QStringLiteral(".corrupt")), "kept by an earlier run");
    EXPECT_EQ(read(settings + QStringLiteral(".corrupt.2")), "{\"ZoomMode\": 1, \"Mouse");
    EXPECT_TRUE(QJsonDocument::fromJson(read(settings)).isObject()) << "the settings are saved again";

    // An empty file (made by hand, or left by a program stopped while writing it) holds nothing to
    // lose: the viewer starts as with no settings, says nothing and keeps nothing aside.
    ASSERT_TRUE(write(settings, " \n"));
    start();
    EXPECT_TRUE(alerts().isEmpty());
    stop();
    EXPECT_FALSE(QFileInfo::exists(settings + QStringLiteral(".corrupt.3")));
    EXPECT_TRUE(QJsonDocument::fromJson(read(settings)).isObject()) << "the settings are saved";
}

// A right click on a favourite offers what can be done with it, not the viewer's commands for
// the photo it shows; Remove from My Favorites takes that favourite out and leaves its file as it
// was.
TEST_F(FavoritesKept, ARightClickedFavouriteIsRemovedFromItsContextMenuAndItsFileIsUntouched)
{
    start();
    ASSERT_NO_FATAL_FAILURE(showFile(0));
    loveCurrentFile();
    ASSERT_NO_FATAL_FAILURE(showFile(1));
    loveCurrentFile();
    QFile file(photo(1));
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QByteArray bytes = file.readAll();
    file.close();
    MainWndController& controller = program->controller();
    controller.performMenuAction(13);
    settle();
    ASSERT_EQ(controller.showMode(), MainShowModeFavorite);
    if (favorites()->curFavoriteIntroTipsShowStatus())
        favorites()->host().introTips()->closeButtonClicked();

    FavImageBrowserView* browser = favorites()->browser();
    const kpv::Rect cell = browser->itemImageFrameAtIndex(1);
    const kpv::Point at = browser->convertPointToView({cell.midX(), cell.midY()}, nullptr);
    kpv::Application::shared().sendEvent(kpv::Event::mouseEvent(kpv::RightMouseDown, at, controller.window()));
    settle(0.2);
    QMenu* menu = nullptr;
    for (QWidget* w : QApplication::topLevelWidgets())
        if (auto* m = qobject_cast<QMenu*>(w); m && m->isVisible())
            menu = m;
    ASSERT_TRUE(menu) << "a right click on a favourite opens a menu";
    const auto titled = [&](const char* key) -> QAction* {
        const QString title = kpv::Menu::shownTitle(kpv::Bundle::mainBundle().localizedString(QString::fromLatin1(key)));
        for (QAction* action : menu->actions())
            if (action->text() == title && action->isVisible())
                return action;
        return nullptr;
    };
    EXPECT_FALSE(titled("IDS_MENU_ILoveit"));
    EXPECT_FALSE(titled("IDS_MENU_Crop"));
    QAction* remove = titled("IDS_MENU_RemoveFavorite");
    ASSERT_TRUE(remove);
    ASSERT_TRUE(remove->isEnabled());
    remove->trigger();
    menu->close();
    settle();
    EXPECT_EQ(favoritePaths(), QStringList{photo(0)});
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_EQ(file.readAll(), bytes);
}

// A favourite moved to the trash by mistake comes back with Edit > Undo as it went: in the folder,
// in the favourites box and in the list the next run reads; and Undo still works from the empty
// window that moving every photo leaves. The trash is the desktop's own, in a scratch home.
TEST_F(FavoritesKept, TrashedPhotosComeBackWithUndoLovedAndFromTheEmptyWindow)
{
    struct Home {
        QByteArray home = qgetenv("HOME"), data = qgetenv("XDG_DATA_HOME");
        ~Home()
        {
            home.isNull() ? qunsetenv("HOME") : qputenv("HOME", home);
            data.isNull() ? qunsetenv("XDG_DATA_HOME") : qputenv("XDG_DATA_HOME", data);
        }
    } savedHome;
    ASSERT_TRUE(QDir().mkpath(scratch.filePath(QStringLiteral("home"))));
    qputenv("HOME", QFile::encodeName(scratch.filePath(QStringLiteral("home"))));
    qunsetenv("XDG_DATA_HOME");
    start();
    ASSERT_NO_FATAL_FAILURE(showFile(1));
    loveCurrentFile();
    program->controller().performMenuAction(8);
    settle();
    EXPECT_FALSE(QFile::exists(photo(1)));
    EXPECT_TRUE(favoritePaths().isEmpty());

    program->controller().performMenuAction(MainWndController::TagUndoMoveToTrash);
    settle();
    EXPECT_TRUE(QFile::exists(photo(1)));
    EXPECT_EQ(navigator().curFilePath().path(), photo(1));
    EXPECT_EQ(favoritePaths(), QStringList({photo(1)}));
    EXPECT_TRUE(program->viewMode().host().isFavoriteFile(LMPathString(photo(1), false)));
    EXPECT_EQ(program->viewMode().toolbar()->favBinButton()->photoCount(), 1);
    EXPECT_EQ(FavoriteListFile(listPath()).read().paths.size(), 1);

    // Every photo of the folder moved: the window is empty, and Undo there shows the last one again.
    for (int i = 0; i < 3; ++i) {
        program->controller().performMenuAction(8);
        settle();
    }
    ASSERT_EQ(program->controller().showMode(), MainShowModeEmpty);
    EXPECT_TRUE(program->controller().canDoAction(MainWndController::TagUndoMoveToTrash));
    program->controller().performMenuAction(MainWndController::TagUndoMoveToTrash);
    settle();
    EXPECT_EQ(program->controller().showMode(), MainShowModeView);
    EXPECT_EQ(QDir(folder).entryList(QDir::Files).size(), 1);
    EXPECT_TRUE(QFile::exists(navigator().curFilePath().path())) << navigator().curFilePath().path().toStdString();
    stop();
}

} // namespace
