// The program as main() assembles it, opened on a folder of generated images: every command of the
// main window's command table that validates as enabled in the viewer is run from its menu item
// and from its key equivalent, and must change something a user can observe (a window or sheet,
// the clipboard, a file written or moved, the mode, the file shown, a launch recorded by the
// stand-in desktop). A command that validates as disabled must change nothing.
//
// Modes extend this by adding rows to kExpected (what the command must change) and, where a mode
// needs its own start, a fixture like this one (the thumbnail grid, the favourites, the slideshow
// and the mini window below).

#include "Shell/MainWindow/AppDelegate.h"
#include "Shell/Tips/FileAssociateTipsViewController.h"
#include "Shell/MainWindow/LMMainWindow.h"
#include "Shell/MainWindow/MainCommand.h"
#include "Shell/MainWindow/MainWndController.h"
#include "Shell/Modes/MainWndFavoriteHost.h"
#include "Shell/Modes/MainWndMiniWindow.h"
#include "Shell/Modes/MainWndNavigateHost.h"
#include "Shell/ViewChrome/MainWndPhotoBin.h"
#include "Shell/ViewChrome/NavigateOverlays.h"
#include "Shell/Modes/NavigateViewMode.h"
#include "Shell/Program/ViewerProgram.h"

#include "Browse/FavImageBrowserView.h"
#include "Browse/ThumbnailViewController.h"
#include "Edit/ImageSaveAsPanel.h"
#include "Kit/LMEventMonitorCenter.h"
#include "Kit/LMIncludeSubDirOpenPanelController.h"
#include "Model/MainConfig.h"
#include "View/LMOpenGLView.h"
#include "View/NavigateController.h"
#include "appkit/Application.h"
#include "appkit/Event.h"
#include "appkit/Menu.h"
#include "appkit/MenuBar.h"
#include "appkit/OpenGLView.h"
#include "appkit/Panels.h"
#include "appkit/Pasteboard.h"
#include "desktop/FakeDesktopServices.h"
#include "desktop/FakeWorkspaceServices.h"
#include "foundation/Clock.h"
#include "foundation/OperationQueue.h"
#include "foundation/RunLoop.h"
#include "foundation/UserDefaults.h"
#include "../ProgramTestSetup.h"
#include "../../../support/QtTestApplication.h"

#include <QApplication>
#include <QCryptographicHash>
#include <QDir>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QImage>
#include <QMenuBar>
#include <QPainter>
#include <QSet>
#include <QTemporaryDir>
#include <QWidget>
#include <gtest/gtest.h>

#include <map>

namespace {

[[maybe_unused]] testing::Environment* const g_env = testing::AddGlobalTestEnvironment(
    new QtTestApplication("kestrane-viewer", &kpv::OpenGLView::configureSharedContext));

// What a command must change, by tag; commands without a row must change anything observable.
const std::map<long, const char*> kExpected = {
    {2, "file"},       {4, "written"},   {5, "windows"},   {6, "revealed"},   {7, "clipboard"},
    {40, "status"},
    {8, "trashed"},    {9, "mode"},      {11, "favourites"}, {14, "angle"},    {15, "angle"},
    {16, "angle"},     {17, "angle"},    {18, "sheet"},    {19, "sheet"},     {27, "desktop"},
    {28, "photoBin"},  {29, "windows"},  {30, "scale"},    {31, "scale"},     {32, "scale"},
    {33, "scale"},     {38, "mode"},     {39, "mode"},     {41, "file"},
    {42, "file"},      {43, "file"},     {44, "file"},     {45, "file"},      {46, "level"},
    {48, "urls"},      {49, "mails"},    {MainWndController::TagQuit, "quits"},
    {MainWndController::TagHelp, "urls"}, {MainWndController::TagBatchConvert, "sheet"},
    {MainWndController::TagMinimize, "minimized"}, {MainWndController::TagFullScreen, "fullScreen"},
    {10, "selection"}, {12, "favourites"},
};

// A panel that answers at once with a chosen path, as a user would.
class AnsweringOpenPanel : public kpv::OpenPanel {
public:
    explicit AnsweringOpenPanel(QString path) : m_path(std::move(path)) {}
    long runModal() override
    {
        m_urls = {QUrl::fromLocalFile(m_path).toString()};
        return kpv::ModalResponseOK;
    }
    void beginSheetModalForWindow(kpv::Window*, std::function<void(long)> handler) override { handler(runModal()); }

private:
    QString m_path;
};

class AnsweringSavePanel : public kpv::SavePanel {
public:
    explicit AnsweringSavePanel(QString folder) : m_folder(std::move(folder)) {}
    long runModal() override
    {
        m_urls = {QDir(m_folder).filePath(nameFieldStringValue().isEmpty() ? QStringLiteral("saved.jpg") : nameFieldStringValue())};
        return kpv::ModalResponseOK;
    }
    void beginSheetModalForWindow(kpv::Window*, std::function<void(long)> handler) override { handler(runModal()); }

private:
    QString m_folder;
};

// Every command of the table that has an item somewhere.
std::vector<long> commandTags()
{
    std::vector<long> tags;
    for (const MainCommand& c : MainWndController::commandTable()) {
        if (c.kind == MainCommandKind::Command && (c.menuKey || c.contextSlot > 0))
            tags.push_back(c.tag);
    }
    return tags;
}

std::string tagName(const ::testing::TestParamInfo<long>& info)
{
    return "tag" + std::to_string(info.param);
}

class CommandRun : public ::testing::TestWithParam<long> {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(qApp);
        ASSERT_TRUE(scratch.isValid());
        // The Trash and the settings stay inside the scratch folder.
        qputenv("XDG_DATA_HOME", scratch.filePath(QStringLiteral("data")).toUtf8());
        kpv::RunLoop::main().setClock(&clock);
        folder = scratch.filePath(QStringLiteral("photos"));
        other = scratch.filePath(QStringLiteral("other"));
        out = scratch.filePath(QStringLiteral("out"));
        for (const QString& dir : {folder, other, out})
            ASSERT_TRUE(QDir().mkpath(dir));
        ASSERT_NO_FATAL_FAILURE(writeImage(folder, QStringLiteral("a.jpg"), QSize(1600, 1200), Qt::red));
        ASSERT_NO_FATAL_FAILURE(writeImage(folder, QStringLiteral("b.jpg"), QSize(900, 1400), Qt::green));
        ASSERT_NO_FATAL_FAILURE(writeImage(folder, QStringLiteral("c.png"), QSize(1200, 800), Qt::blue));
        ASSERT_NO_FATAL_FAILURE(writeImage(folder, QStringLiteral("d.jpg"), QSize(640, 480), Qt::yellow));
        ASSERT_NO_FATAL_FAILURE(writeImage(other, QStringLiteral("x.png"), QSize(300, 200), Qt::cyan));
        desktop.fileApplications.insert(QStringLiteral("jpg"), {{QStringLiteral("paint.desktop"), QStringLiteral("Paint"), {}, {}}});
        kpv::DesktopServices::setShared(&desktop);

        defaults = std::make_unique<kpv::UserDefaults>(scratch.filePath(QStringLiteral("defaults.json")));
        AppDelegate::Setup setup = programTestSetup(*defaults, scratch, true);
        delegate = std::make_unique<AppDelegate>(std::move(setup));
        program = std::make_unique<ViewerProgram>(*delegate);
        MainWndController& c = program->controller();
        c.setOpenUrlHandler([this](const QUrl& url) {
            urls << url;
            return true;
        });
        c.setQuitHandler([this] { ++quits; });
        c.setOpenPanelFactory([this] {
            return std::make_unique<LMIncludeSubDirOpenPanelController>(
                delegate->mainConfig(), [this] { return std::make_unique<AnsweringOpenPanel>(other); });
        });
        ImageSaveAsPanel::shared().setPanelFactory([this] { return std::make_unique<AnsweringSavePanel>(out); });
        program->viewMode().host().setWorkspaceServices(&workspace);
        c.window()->makeKeyAndOrderFront();
        if (!opensFolder()) {
            delegate->applicationDidFinishLaunching();
            settle();
            ASSERT_EQ(c.showMode(), MainShowModeEmpty);
            return;
        }
        delegate->applicationOpenFiles({folder});
        delegate->applicationDidFinishLaunching();
        settle();
        ASSERT_EQ(c.showMode(), MainShowModeView);
        ASSERT_EQ(program->viewMode().controller().fileCount(), 4);
    }
    // A fixture of the empty window starts without files.
    virtual bool opensFolder() const { return true; }

    void TearDown() override
    {
        closeNewWindows(QSet<QWidget*>());
        ImageSaveAsPanel::shared().setPanelFactory({});
        program.reset();
        delegate.reset();
        kpv::DesktopServices::setShared(nullptr);
        kpv::RunLoop::main().runOnce();
        kpv::RunLoop::main().setClock(nullptr);
    }

    static void writeImage(const QString& dir, const QString& name, QSize size, Qt::GlobalColor colour)
    {
        QImage image(size, QImage::Format_RGB32);
        image.fill(colour);
        QPainter(&image).fillRect(QRect(QPoint(0, 0), size / 4), Qt::white);
        ASSERT_TRUE(image.save(QDir(dir).filePath(name)));
    }

    // Lets loads, saves and animations finish, with time moving on for the timers.
    void settle(double seconds = 2.0)
    {
        for (double t = 0; t <= seconds; t += 0.05) {
            delegate->operationQueue()->waitUntilAllOperationsAreFinished();
            waitForFavoritesCopy();
            kpv::RunLoop::main().runOnce();
            QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
            clock.advance(0.05);
        }
    }

    // The favourites' copy (their Save As) runs on a queue of its own and reports each file through
    // the main run loop: its calls are run until the last file is in and the copy has ended.
    void waitForFavoritesCopy()
    {
        auto* favorites = dynamic_cast<FavoriteViewController*>(
            program->controller().existingModeController(MainShowModeFavorite));
        if (favorites && favorites->isCopyingFiles())
            kpv::RunLoop::main().runWhile([favorites] { return favorites->isCopyingFiles(); });
    }

    // What a user can observe, one "key=value" line each.
    std::map<QString, QString> observe() const
    {
        MainWndController& c = program->controller();
        NavigateController& nav = program->viewMode().controller();
        LMOpenGLView& view = *program->viewMode().imageView();
        std::map<QString, QString> o;
        o["mode"] = QString::number(c.showMode());
        o["file"] = nav.curFilePath().path();
        // The mini window shows the picture in an image view of its own.
        const MainWndMiniController* mini = miniWindowControllerOf(c);
        const LMImageViewModel* shown = mini && mini->openGLView() && (c.showMode() & (MainShowModeMiniWithImage | MainShowModeMiniEmpty))
                                            ? mini->openGLView()
                                            : static_cast<const LMImageViewModel*>(&view);
        o["scale"] = QString::number(shown->scale(), 'f', 4);
        const LMImageRotateAngle& a = shown->angleRotate();
        o["angle"] = QStringLiteral("%1/%2/%3").arg(a.angleRotate()).arg(a.angleHorizontalFlip()).arg(a.angleVerticalFlip());
        const QImage clip = kpv::Pasteboard::generalPasteboard().image();
        QStringList clipUrls;
        for (const QUrl& u : kpv::Pasteboard::generalPasteboard().fileURLs())
            clipUrls << u.toString();
        o["clipboard"] = clipUrls.join(' ') + QStringLiteral(" %1x%2").arg(clip.width()).arg(clip.height());
        QStringList written;
        for (const QString& dir : {folder, out}) {
            QDirIterator it(dir, QDir::Files);
            while (it.hasNext()) {
                const QFileInfo f(it.next());
                written << f.fileName() + QStringLiteral(":%1:%2").arg(f.size()).arg(f.lastModified().toMSecsSinceEpoch());
            }
        }
        written.sort();
        o["written"] = written.join(' ');
        o["trashed"] = QString::number(workspace.recycled.size());
        o["revealed"] = QString::number(workspace.revealed.size());
        o["desktop"] = QString::number(workspace.desktopImageCalls.size());
        // The window of the mode: the mini window in modes 128 and 256.
        kpv::Window* w = c.getCurWindow();
        o["sheet"] = w->attachedSheet() ? QStringLiteral("sheet") : QString();
        o["windows"] = QString::number(visibleWindows().size());
        o["level"] = QString::number(w->level()) +
                     (w->widget() && (w->widget()->windowFlags() & Qt::WindowStaysOnTopHint) ? QStringLiteral(" on top") : QString());
        o["minimized"] = w->widget() && w->widget()->isMinimized() ? QStringLiteral("yes") : QString();
        o["fullScreen"] = c.window()->isFullScreen() ? QStringLiteral("yes") : QString();
        // The information panel's switch (its window shows only over the viewer).
        o["info"] = program->viewMode().host().propertiesWindowShown() ? QStringLiteral("on") : QStringLiteral("off");
        o["sort"] = QString::number(delegate->mainConfig()->sortByType());
        o["photoBin"] = delegate->mainConfig()->photoBinVisible() ? QStringLiteral("shown") : QStringLiteral("hidden");
        o["favourites"] = QString::number(program->viewMode().host().favoriteFileCount());
        // The selection of the grid in sight (thumbnails or favourites).
        LMImageBrowserView* grid = nullptr;
        if (auto* t = dynamic_cast<ThumbnailViewController*>(c.existingModeController(MainShowModeThumbnail)))
            grid = c.showMode() == MainShowModeThumbnail ? t->browser() : nullptr;
        if (auto* f = dynamic_cast<FavoriteViewController*>(c.existingModeController(MainShowModeFavorite)))
            grid = c.showMode() == MainShowModeFavorite ? f->browser() : grid;
        QStringList selection;
        if (grid)
            for (std::size_t i : grid->selectionIndexes())
                selection << QString::number(i);
        o["selection"] = selection.join(',');
        o["urls"] = QString::number(urls.size());
        o["mails"] = QString::number(desktop.mails.size());
        o["launches"] = QString::number(desktop.launches.size());
        o["quits"] = QString::number(quits);
        // The status line (zoom, loading, the end-of-folder tip).
        if (const NavigateOverlays* overlays = program->viewMode().overlays())
            o["status"] = overlays->statusText();
        return o;
    }

    QSet<QWidget*> visibleWindows() const
    {
        QSet<QWidget*> shown;
        for (QWidget* w : QApplication::topLevelWidgets()) {
            if (w->isVisible() && w != program->controller().window()->widget())
                shown.insert(w);
        }
        return shown;
    }

    void closeNewWindows(const QSet<QWidget*>& before)
    {
        for (QWidget* w : QApplication::topLevelWidgets()) {
            if (w->isVisible() && !before.contains(w) && (!program || w != program->controller().window()->widget()))
                w->close();
        }
        QCoreApplication::processEvents();
    }

    // Runs `perform` and follows what a user would see while the work goes on: half a second on
    // the manual clock, and, when a change is expected, until that change (`expected`; without one,
    // any) was seen or five seconds of work on other threads passed: a command that shows a sheet
    // first and writes afterwards is followed to its write. Answers the names of what changed, also for a
    // moment only (a tip that comes and goes). A command expected to do nothing is not waited for
    // beyond the manual clock: nothing it could start runs on another thread.
    QStringList runAndObserve(const std::function<void()>& perform, bool waitForChange = true,
                              const char* expected = nullptr)
    {
        const auto before = observe();
        const QSet<QWidget*> windowsBefore = visibleWindows();
        perform();
        QSet<QString> changed;
        QElapsedTimer spent;
        spent.start();
        do {
            for (int step = 0; step < 10; ++step) {
                settle(0.05);
                for (const auto& [key, value] : observe()) {
                    if (before.at(key) != value)
                        changed.insert(key);
                }
            }
        } while (waitForChange && (expected ? !changed.contains(QLatin1String(expected)) : changed.isEmpty()) &&
                 spent.elapsed() < 5000);
        closeNewWindows(windowsBefore);
        QStringList names(changed.begin(), changed.end());
        names.sort();
        return names;
    }

    // Runs the command of the tag from its menu item and checks what it changed.
    void runFromMenu(long tag);
    // What the command of the tag must change in this fixture's mode (nullptr: anything).
    virtual const char* expectedChange(long tag) const
    {
        const auto it = kExpected.find(tag);
        return it == kExpected.end() ? nullptr : it->second;
    }

    kpv::ManualClock clock;
    QTemporaryDir scratch;
    QString folder, other, out;
    kpv::FakeDesktopServices desktop;
    kpv::FakeWorkspaceServices workspace;
    std::unique_ptr<kpv::UserDefaults> defaults;
    std::unique_ptr<AppDelegate> delegate;
    std::unique_ptr<ViewerProgram> program;
    QList<QUrl> urls;
    int quits = 0;
};

std::shared_ptr<kpv::MenuItem> itemFor(MainWndController& c, long tag)
{
    if (auto item = c.menuItemForAction(tag))
        return item;
    for (const auto& item : c.rightPopMenu()->itemArray()) {
        if (item->tag() == tag)
            return item;
    }
    return nullptr;
}

void CommandRun::runFromMenu(long tag)
{
    MainWndController& c = program->controller();
    const std::shared_ptr<kpv::MenuItem> item = itemFor(c, tag);
    if (!item) {
        // Hidden on this desktop (the photo library): never shown, never run.
        const MainCommand* row = MainWndController::commandForTag(tag);
        ASSERT_TRUE(row && row->shown && !row->shown()) << "tag " << tag << " has no item";
        return;
    }
    const bool enabled = c.validateMenuItem(*item);
    const QString title = item->title();
    if (tag == MainWndController::TagOpenWith && enabled) {
        // A submenu: its applications launch the file.
        c.rebuildOpenWithMenu();
        ASSERT_TRUE(c.validateMenuItem(*item));
        ASSERT_GT(c.openWithMenu()->numberOfItems(), 0);
        const QStringList changed = runAndObserve([&] { c.openWithMenu()->itemAtIndex(0)->performAction(); });
        EXPECT_TRUE(changed.contains(QStringLiteral("launches"))) << changed.join(' ').toStdString();
        return;
    }
    if (!enabled) {
        const QStringList changed = runAndObserve([&] { item->performAction(); }, false);
        EXPECT_TRUE(changed.isEmpty()) << "disabled \"" << title.toStdString() << "\" changed " << changed.join(' ').toStdString();
        return;
    }
    if (tag >= 34 && tag <= 37 && item->state() == 1) {
        // The sort already chosen: its tick is what the user sees; choosing it again keeps it.
        return;
    }
    const char* expected = expectedChange(tag);
    const auto escIgnoredBefore = LMEventMonitorCenter::eventMonitorCenter().ignoreEscKeyCount();
    const QStringList changed = runAndObserve([&] { item->performAction(); }, true, expected);
    EXPECT_FALSE(changed.isEmpty()) << "enabled \"" << title.toStdString() << "\" (" << tag << ") did nothing";
    if (expected)
        EXPECT_TRUE(changed.contains(QLatin1String(expected)))
            << "\"" << title.toStdString() << "\" changed " << changed.join(' ').toStdString() << ", not " << expected;
    // Whatever it did, the main window stays an ordinary window (Keep on Top included), and once
    // its panels are closed Esc reaches the window again.
    EXPECT_NE(c.window()->widget()->windowType(), Qt::Tool) << title.toStdString();
    EXPECT_EQ(LMEventMonitorCenter::eventMonitorCenter().ignoreEscKeyCount(), escIgnoredBefore) << title.toStdString();
}

TEST_P(CommandRun, EnabledCommandsDoWhatTheySay)
{
    ASSERT_NO_FATAL_FAILURE(runFromMenu(GetParam()));
}

TEST_P(CommandRun, KeyEquivalentsRunTheirCommand)
{
    MainWndController& c = program->controller();
    const MainCommand* row = MainWndController::commandForTag(GetParam());
    ASSERT_TRUE(row);
    if (!*row->keyEquivalent)
        return; // no key: covered by the menu run above
    const std::shared_ptr<kpv::MenuItem> item = itemFor(c, row->tag);
    ASSERT_TRUE(item);
    const bool enabled = c.validateMenuItem(*item);
    const QString chars = QString::fromLatin1(row->keyEquivalent).toLower();
    const auto expected = kExpected.find(row->tag);
    const QStringList changed = runAndObserve(
        [&] {
            kpv::Application::shared().sendEvent(kpv::Event::keyEvent(kpv::KeyDown, 0, chars, chars, c.window(),
                                                                      kpv::CommandKeyMask | row->keyModifiers));
            kpv::Application::shared().sendEvent(kpv::Event::keyEvent(kpv::KeyUp, 0, chars, chars, c.window(),
                                                                      kpv::CommandKeyMask | row->keyModifiers));
        },
        enabled, expected == kExpected.end() ? nullptr : expected->second);
    if (enabled)
        EXPECT_FALSE(changed.isEmpty()) << "the key of \"" << item->title().toStdString() << "\" did nothing";
    if (enabled && expected != kExpected.end())
        EXPECT_TRUE(changed.contains(QLatin1String(expected->second))) << changed.join(' ').toStdString();
}

INSTANTIATE_TEST_SUITE_P(MainWindow, CommandRun, ::testing::ValuesIn(commandTags()), tagName);

// The keys of this desktop in the viewer: Space and Backspace step, End and Home jump, Delete
// trashes; F11 shows the photo alone (no menu bar, no photo bin) and Esc brings the window back.
TEST_F(CommandRun, DesktopKeysStepTrashAndShowThePhotoAlone)
{
    MainWndController& c = program->controller();
    auto key = [&](unsigned short code, const QString& chars) {
        return runAndObserve([&] {
            kpv::Application::shared().sendEvent(kpv::Event::keyEvent(kpv::KeyDown, code, chars, chars, c.window()));
            kpv::Application::shared().sendEvent(kpv::Event::keyEvent(kpv::KeyUp, code, chars, chars, c.window()));
        });
    };
    auto shown = [&] { return QFileInfo(program->viewMode().controller().curFilePath().path()).fileName(); };
    // The first start's default-viewer tip goes with Esc, as with its close button.
    if (FileAssociateTipsViewController* tips = program->fileAssociateTips(); tips && tips->isShown()) {
        key(kpv::KeyCode::Escape, QString(QChar(0x1b)));
        EXPECT_FALSE(tips->isShown());
    }
    const QString first = shown();
    key(kpv::KeyCode::Space, QStringLiteral(" "));
    const QString second = shown();
    EXPECT_NE(second, first);
    key(kpv::KeyCode::Delete, QString(QChar(0x7F))); // Backspace
    EXPECT_EQ(shown(), first);
    key(kpv::KeyCode::End, QString(QChar(0xF72B)));
    const QString last = shown();
    EXPECT_NE(last, second);
    key(kpv::KeyCode::Home, QString(QChar(0xF729)));
    EXPECT_EQ(shown(), first);
    EXPECT_EQ(workspace.recycled.size(), 0);
    EXPECT_TRUE(key(kpv::KeyCode::ForwardDelete, QString(QChar(0xF728))).contains(QStringLiteral("trashed")));

    ASSERT_TRUE(program->menuBar().qMenuBar()->isVisible());
    // Around the picture the window's tile shows, so that the picture's shadow shows too.
    EXPECT_EQ(program->viewMode().imageView()->backgroundColor(), QColor(24, 25, 27));
    const bool binShown = program->viewMode().photoBin().isShown();
    key(103, QString()); // F11
    EXPECT_TRUE(c.window()->isFullScreen());
    EXPECT_EQ(program->viewMode().imageView()->backgroundColor(), QColor(0, 0, 0));
    EXPECT_FALSE(program->menuBar().qMenuBar()->isVisible());
    EXPECT_FALSE(program->viewMode().photoBin().isShown());
    key(kpv::KeyCode::Escape, QString(QChar(0x1b)));
    EXPECT_FALSE(c.window()->isFullScreen());
    EXPECT_TRUE(program->menuBar().qMenuBar()->isVisible());
    EXPECT_EQ(program->viewMode().photoBin().isShown(), binShown);
}

// The bare zoom keys: + and - step, 1 shows the photo at its actual size, 0 fits it again.
TEST_F(CommandRun, BareZoomKeysZoomThePhoto)
{
    MainWndController& c = program->controller();
    auto key = [&](const QString& chars, unsigned long flags = 0) {
        kpv::Application::shared().sendEvent(kpv::Event::keyEvent(kpv::KeyDown, 0, chars, chars, c.window(), flags));
        kpv::Application::shared().sendEvent(kpv::Event::keyEvent(kpv::KeyUp, 0, chars, chars, c.window(), flags));
        settle();
    };
    if (FileAssociateTipsViewController* tips = program->fileAssociateTips(); tips && tips->isShown())
        tips->closeButtonClicked();
    const LMOpenGLView* view = program->viewMode().imageView();
    const double fitted = view->scale();
    ASSERT_LT(fitted, 1.0) << "the photos are larger than the window";
    key(QStringLiteral("+"), kpv::ShiftKeyMask);
    const double larger = view->scale();
    EXPECT_GT(larger, fitted);
    key(QStringLiteral("-"));
    EXPECT_LT(view->scale(), larger);
    key(QStringLiteral("1"));
    EXPECT_NEAR(view->scale(), 1.0, 1e-6);
    key(QStringLiteral("0"));
    EXPECT_NEAR(view->scale(), fitted, 1e-6);
    key(QStringLiteral("="));
    EXPECT_GT(view->scale(), fitted);
}

// Every command again in full screen: the same enable rules, and the ones that full screen
// turns off (Keep on Top, the desktop picture) change nothing.
class FullScreenCommandRun : public CommandRun {
protected:
    void SetUp() override
    {
        CommandRun::SetUp();
        if (HasFatalFailure())
            return;
        MainWndController& c = program->controller();
        c.toggleFullScreen();
        settle(0.5);
        ASSERT_TRUE(c.window()->isFullScreen());
        ASSERT_FALSE(program->menuBar().qMenuBar()->isVisible());
    }
    const char* expectedChange(long tag) const override
    {
        // Minimizing a full-screen window is the window manager's to refuse.
        return tag == MainWndController::TagMinimize ? nullptr : CommandRun::expectedChange(tag);
    }
};

// Every command from its menu item in the mode a fixture sets up.
#define COMMANDS_IN_MODE(Suite, Fixture)                                                                \
    TEST_P(Fixture, EnabledCommandsDoWhatTheySay) { runFromMenu(GetParam()); }                        \
    INSTANTIATE_TEST_SUITE_P(Suite, Fixture, ::testing::ValuesIn(commandTags()), tagName)

// The same commands in the thumbnail grid, with the second file selected.
class ThumbnailCommandRun : public CommandRun {
protected:
    void SetUp() override
    {
        CommandRun::SetUp();
        MainWndController& c = program->controller();
        c.performMenuAction(38);
        settle();
        ASSERT_EQ(c.showMode(), MainShowModeThumbnail);
        auto* grid = dynamic_cast<ThumbnailViewController*>(c.existingModeController(MainShowModeThumbnail));
        ASSERT_TRUE(grid);
        grid->browser()->setSelectionIndexes({1});
    }
};

COMMANDS_IN_MODE(FullScreen, FullScreenCommandRun);

COMMANDS_IN_MODE(ThumbnailGrid, ThumbnailCommandRun);

// The same commands in the favourites, with the first two files loved and the second selected.
class FavoriteCommandRun : public CommandRun {
protected:
    void SetUp() override
    {
        CommandRun::SetUp();
        if (HasFatalFailure())
            return;
        MainWndController& c = program->controller();
        auto* favorites = dynamic_cast<MainWndFavoriteController*>(c.favoriteViewController());
        ASSERT_TRUE(favorites);
        // Loved from the viewer elsewhere; here the two files only need to be favourites.
        for (const char* name : {"a.jpg", "b.jpg"})
            favorites->addFovoriteFile(LMPathString(QDir(folder).filePath(QLatin1String(name)), false), nullptr, QImage());
        ASSERT_EQ(program->viewMode().host().favoriteFileCount(), 2);
        c.performMenuAction(13);
        settle(0.5);
        ASSERT_EQ(c.showMode(), MainShowModeFavorite);
        ASSERT_TRUE(favorites->browser());
        // The first visit's tip holds every command back until the user closes it.
        if (favorites->host().introTips() && favorites->curFavoriteIntroTipsShowStatus())
            favorites->host().introTips()->closeButtonClicked();
        ASSERT_FALSE(favorites->curFavoriteIntroTipsShowStatus());
        // Save As copies the favourites into a folder the user picks.
        favorites->host().setFolderChooser([this](const QString&) { return out; });
        favorites->browser()->setSelectionIndexes({1});
    }
};

COMMANDS_IN_MODE(Favorites, FavoriteCommandRun);

// The same commands in the mini window on the second file (mode 128).
class MiniCommandRun : public CommandRun {
protected:
    void SetUp() override
    {
        CommandRun::SetUp();
        if (HasFatalFailure())
            return;
        MainWndController& c = program->controller();
        if (opensFolder()) {
            program->viewMode().controller().doNavCurFileToNext(true);
            settle(0.5);
        }
        c.switchToSimpleMode();
        settle(0.5);
        ASSERT_EQ(c.showMode(), opensFolder() ? MainShowModeMiniWithImage : MainShowModeMiniEmpty);
        MainWndMiniController* mini = miniWindowControllerOf(c);
        ASSERT_TRUE(mini && mini->window());
        mini->window()->makeKeyAndOrderFront();
        settle(0.5);
    }
    const char* expectedChange(long tag) const override
    {
        switch (tag) {
        case 40: return "file";  // from the second file back to the first
        case 29: return "info";  // the panel itself shows over the viewer only
        default: return CommandRun::expectedChange(tag);
        }
    }
};

COMMANDS_IN_MODE(MiniWindow, MiniCommandRun);

// The same commands while the slideshow plays (mode 32), started from the View menu on the
// viewer's files: what stays enabled must work, the rest must leave the slideshow be.
class SlideshowCommandRun : public CommandRun {
protected:
    void SetUp() override
    {
        CommandRun::SetUp();
        if (HasFatalFailure())
            return;
        MainWndController& c = program->controller();
        ASSERT_TRUE(c.canDoAction(39));
        c.performMenuAction(39);
        settle(0.5);
        ASSERT_EQ(c.showMode(), MainShowModeSlideshow);
    }
};

COMMANDS_IN_MODE(Slideshow, SlideshowCommandRun);

// The mini window of the empty window (mode 256): only opening and leaving it do anything.
class EmptyMiniCommandRun : public MiniCommandRun {
protected:
    bool opensFolder() const override { return false; }
};

COMMANDS_IN_MODE(EmptyMiniWindow, EmptyMiniCommandRun);

} // namespace
