// The application shell: start-up and shut-down of the delegate, show-mode switching and its
// notifications, the open-files road from every source, menu validation and event forwarding.

#include "Shell/MainWindow/AppDelegate.h"
#include "Shell/MainWindow/LMMainWindow.h"
#include "Shell/MainWindow/MainCommand.h"
#include "Shell/MainWindow/MainWndController.h"
#include "Shell/Desktop/OtherApplicationChooser.h"
#include "Shell/Program/CommandLine.h"
#include "view_mode_stub.h"
#include "../../support/FaultInjection.h"

#include "Model/MainConfig.h"
#include "appkit/Event.h"
#include "appkit/Menu.h"
#include "foundation/Bundle.h"
#include "appkit/Panels.h"
#include "Kit/LMIncludeSubDirOpenPanelController.h"
#include "desktop/FakeDesktopServices.h"
#include "appkit/SingleInstance.h"
#include "foundation/FileHelpers.h"
#include "foundation/FileNames.h"
#include "foundation/NotificationCenter.h"
#include "foundation/OperationQueue.h"
#include "foundation/RunLoop.h"
#include "foundation/UserDefaults.h"

#include "MFileReplace.h"

#include <QApplication>
#include <pwd.h>
#include <unistd.h>
#include <cstdlib>
#include <QDir>
#include <QStandardPaths>
#include <QFile>
#include <QImage>
#include <QLineEdit>
#include <QMessageBox>
#include <QListWidget>
#include <QPushButton>
#include <QTemporaryDir>
#include <QKeyEvent>
#include <QTimer>
#include <QTreeWidget>
#include <QUrl>
#include <cerrno>
#include <cstring>
#include <set>
#include <vector>
#include <sys/stat.h>
#include <gtest/gtest.h>

#include <atomic>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>

namespace {

void ensureApp()
{
    static int argc = 1;
    static char name[] = "test_shell";
    static char* argv[] = {name, nullptr};
    if (!qApp)
        new QApplication(argc, argv);
}

void touch(const QString& path)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write("x");
}

class FakeViewMode : public ViewModeStub {
public:
    bool canSwitchToViewMode() const override { return !files.isEmpty(); }
    LMPathString curFilePath() const override { return files.isEmpty() ? LMPathString() : files.first(); }
    bool canDoAction(long id) override { return allowed.contains(id); }
    void openFilePaths(const QList<LMPathString>& f, const QStringList& chosen, bool sub) override
    {
        files = f;
        chosenPaths = chosen;
        includeSub = sub;
        ++opens;
    }
    void doAction(long tag, long argument) override
    {
        ViewModeStub::doAction(tag, argument);
        if (tag >= 34 && tag <= 37)
            sortedWith = argument;
        if (tag >= 14 && tag <= 17)
            rotated = int(argument);
    }
    QList<LMPathString> files;
    QStringList chosenPaths;
    bool includeSub = false;
    int opens = 0;
    long sortedWith = 0;
    int rotated = 0;
    QSet<long> allowed;
};

class ModeStub : public ShowModeController {
public:
    bool canDoAction(long id) override { return id == 7; }
    void doAction(long id, long) override { lastAction = id; }
    bool isFavoriteFile(const LMPathString&) const override { return false; }
    void popUpContextMenuWithEvent(const kpv::Event&) override {}
    kpv::Window* window() const override { return nullptr; }
    long lastAction = 0;
};

class Shell : public ::testing::Test {
protected:
    void SetUp() override
    {
        ensureApp();
        ASSERT_TRUE(scratch.isValid());
        defaults = std::make_unique<kpv::UserDefaults>(scratch.filePath("defaults.json"));
        AppDelegate::Setup setup;
        setup.mainConfig = std::make_unique<MainConfig>(*defaults);
        setup.temporaryParent = scratch.filePath("tmp");
        setup.cacheDirectory = scratch.filePath("cache");
        setup.allowedFileExtensions = {"jpg", "png", "gif"};
        setup.allowedFileTypes = {"public.jpeg", "public.png", "com.compuserve.gif"};
        setup.processorCount = processors;
        setup.recentlyUsedList = path("share/recently-used.xbel");
        delegate = std::make_unique<AppDelegate>(std::move(setup));
        controller = std::make_unique<MainWndController>(*delegate, std::make_unique<LMMainWindow>(kpv::Rect(0, 0, 640, 480)));
        controller->setNavigateController(&nav);
        controller->awakeFromNib();
        kpv::NotificationCenter::defaultCenter().addObserver(this, {}, nullptr, [this](const kpv::Notification& n) {
            if (n.name.endsWith(QLatin1String("ChangeMainShowMode")))
                posted.append(QStringLiteral("%1 %2>%3").arg(n.name).arg(n.userInfo["old"].toLongLong()).arg(n.userInfo["new"].toLongLong()));
        });
    }
    void TearDown() override
    {
        kpv::NotificationCenter::defaultCenter().removeObserver(this);
        controller.reset();
        delegate.reset();
    }
    QString path(const QString& rel) const { return scratch.filePath(rel); }

    int processors = 4;
    QTemporaryDir scratch;
    std::unique_ptr<kpv::UserDefaults> defaults;
    std::unique_ptr<AppDelegate> delegate;
    std::unique_ptr<MainWndController> controller;
    FakeViewMode nav;
    QStringList posted;
};

TEST_F(Shell, QueueWidthIsAtLeastTwo)
{
    EXPECT_EQ(delegate->operationQueue()->maxConcurrentOperationCount(), 4);
    TearDown();
    processors = 1;
    SetUp();
    EXPECT_EQ(delegate->operationQueue()->maxConcurrentOperationCount(), 2);
}

TEST_F(Shell, SupportedFilesFromFoldersAndFiles)
{
    ASSERT_NO_FATAL_FAILURE(touch(path("a/one.jpg")));
    ASSERT_NO_FATAL_FAILURE(touch(path("a/notes.txt")));
    ASSERT_NO_FATAL_FAILURE(touch(path("deep/sub/two.png")));
    // A folder with images only in a sub-folder: nothing unless sub-folders are searched.
    EXPECT_TRUE(delegate->extractSupportedFiles({path("deep")}, false).isEmpty());
    EXPECT_EQ(delegate->extractSupportedFiles({path("deep")}, true).size(), 1);
    // The same file named twice counts once; text files and missing paths are skipped.
    auto found = delegate->extractSupportedFiles({path("a/one.jpg"), path("a/one.jpg"), path("a"), path("nothing")}, false);
    ASSERT_EQ(found.size(), 1);
    EXPECT_EQ(found.first().path(), path("a/one.jpg"));
    EXPECT_TRUE(delegate->firstSupportedFileInPaths({path("a/notes.txt")}, true).isEmpty());
    // A pipe named like a photo is no photo: opening it would wait for a writer for ever.
    ASSERT_EQ(::mkfifo(QFile::encodeName(path("a/pipe.jpg")).constData(), 0600), 0);
    EXPECT_TRUE(delegate->extractSupportedFiles({path("a/pipe.jpg")}, false).isEmpty());
    EXPECT_TRUE(AppDelegate::checkSupportForFilePath("/x/Y.JPG", {"jpg"}));
    EXPECT_FALSE(AppDelegate::checkSupportForFilePath("/x/jpg", {"jpg"}));
    EXPECT_TRUE(AppDelegate::fileInfoDisplayNameByType(19).isEmpty());
    EXPECT_EQ(delegate->defaultImage(0), nullptr);
    EXPECT_EQ(delegate->defaultImage(4), nullptr);
}

TEST_F(Shell, TemporaryFolderIsPrivateAndGoneAtExit)
{
    const QString crop = delegate->temporaryDirectoryWithSubDir("$crop$");
    ASSERT_FALSE(crop.isEmpty());
    EXPECT_TRUE(crop.startsWith(path("tmp/kestrane-viewer-")));
    ASSERT_NO_FATAL_FAILURE(touch(crop + "/x.jpg"));
    ASSERT_NO_FATAL_FAILURE(touch(path("tmp/someone-else.txt")));
    const QString desktop = delegate->temporaryDirectoryWithSubDir("DesktopCache");
    EXPECT_TRUE(desktop.startsWith(path("cache")));
    ASSERT_NO_FATAL_FAILURE(touch(desktop + "/kept.jpg"));
    // Names that would leave the folder are refused.
    EXPECT_TRUE(delegate->temporaryDirectoryWithSubDir("../escape").isEmpty());
    EXPECT_TRUE(delegate->temporaryDirectoryWithSubDir("..").isEmpty());

    delegate->mainConfig()->setSortByType(2);
    delegate->applicationWillTerminate();
    EXPECT_FALSE(QFileInfo::exists(crop));
    EXPECT_TRUE(QFileInfo::exists(path("tmp/someone-else.txt")));
    EXPECT_TRUE(QFileInfo::exists(desktop + "/kept.jpg"));
    // The settings were saved on the way out.
    kpv::UserDefaults reread(scratch.filePath("defaults.json"));
    EXPECT_EQ(reread.integerForKey("sortByType"), 2);
}

class FakeThemes : public SlideshowThemeLoading {
public:
    explicit FakeThemes(QStringList* log) : m_log(log) {}
    void startLoad() override { m_log->append("start"); }
    void uninit() override { m_log->append("uninit"); }
    QStringList* m_log;
};

TEST_F(Shell, StartUpShowsEmptyStateThenLoadsThemesOnTheNextTurn)
{
    // What a run killed mid-save left behind: its temporary folder and a desktop picture's
    // temporary file. The start that follows clears both.
    ASSERT_TRUE(QDir().mkpath(path("tmp/kestrane-viewer-Ab12Cd")) && QDir().mkpath(path("cache/DesktopCache")));
    ASSERT_NO_FATAL_FAILURE(touch(path("tmp/kestrane-viewer-Ab12Cd/x.jpg")));
    std::fflush(nullptr);
    const pid_t killed = ::fork();
    if (killed == 0) {
        std::string temp;
        const bool held = kpv::holdTemporaryFolder(path("tmp/kestrane-viewer-Ab12Cd")) >= 0;
        const bool made = MFileCreateBeside(QFile::encodeName(path("cache/DesktopCache/1.jpg")).toStdString(), 0600,
                                            &temp) >= 0;
        ::_exit(held && made ? 0 : 1);
    }
    int status = -1;
    ASSERT_EQ(::waitpid(killed, &status, 0), killed);
    ASSERT_EQ(status, 0);
    ASSERT_EQ(QDir(path("cache/DesktopCache")).entryList(QDir::Files | QDir::Hidden).size(), 1);

    QStringList log;
    delegate->setSlideshowThemeMgr(std::make_unique<FakeThemes>(&log));
    EXPECT_EQ(controller->showMode(), 0);
    delegate->applicationDidFinishLaunching();
    EXPECT_EQ(controller->showMode(), MainShowModeEmpty);
    EXPECT_TRUE(log.isEmpty());
    kpv::RunLoop::current().runOnce();
    EXPECT_EQ(log, QStringList{"start"});
    EXPECT_FALSE(QFileInfo::exists(path("tmp/kestrane-viewer-Ab12Cd")));
    EXPECT_TRUE(QDir(path("cache/DesktopCache")).entryList(QDir::Files | QDir::Hidden).isEmpty());
    delegate->applicationWillTerminate();
    EXPECT_EQ(log, (QStringList{"start", "uninit"}));
}

TEST_F(Shell, OpenedBeforeLaunchEntersViewAtLaunch)
{
    ASSERT_NO_FATAL_FAILURE(touch(path("p/one.jpg")));
    delegate->applicationOpenFiles({path("p/one.jpg")});
    EXPECT_EQ(nav.opens, 1);
    EXPECT_EQ(controller->showMode(), 0);
    delegate->applicationDidFinishLaunching();
    EXPECT_EQ(controller->showMode(), MainShowModeView);
    EXPECT_EQ(posted, (QStringList{"willChangeMainShowMode 0>4", "didChangeMainShowMode 0>4"}));
    EXPECT_EQ(controller->recentDocumentPaths(), QStringList{path("p/one.jpg")});
}

QByteArray readAll(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// A photo whose name is not UTF-8 is a recent photo like any other: the desktop's list names it
// by its escaped bytes, and Open Recent still offers it after a restart.
TEST_F(Shell, ARecentPhotoWhoseNameIsNotUtf8SurvivesARestartByItsBytes)
{
    ASSERT_TRUE(QDir().mkpath(path("p")));
    const QByteArray native = QFile::encodeName(path("p")) + "/caf\xe9 \xff.jpg";
    FILE* f = std::fopen(native.constData(), "wb");
    ASSERT_TRUE(f);
    std::fclose(f);
    const QString latin1 = kpv::decodeFileName(native);
    delegate->applicationDidFinishLaunching();
    controller->openFiles({latin1}, false);
    EXPECT_EQ(controller->recentDocumentPaths(), QStringList{latin1});
    EXPECT_TRUE(readAll(path("share/recently-used.xbel"))
                    .contains("href=\"file://" + native.toPercentEncoding("/!$&'()*+,;=:@~") + "\""));

    delegate->applicationWillTerminate();
    TearDown();
    SetUp();
    EXPECT_EQ(controller->recentDocumentPaths(), QStringList{latin1});
    EXPECT_EQ(::unlink(native.constData()), 0);
}

// File > Open lists a photo whose name is not UTF-8, shows it readably, and opening it from the
// panel opens that very file (its bytes kept), as the command line and the photo bin do.
TEST_F(Shell, OpenPanelOpensAPhotoWhoseNameIsNotUtf8)
{
    ASSERT_TRUE(QDir().mkpath(path("p")));
    const QByteArray native = QFile::encodeName(path("p")) + "/caf\xe9.jpg";
    FILE* f = std::fopen(native.constData(), "wb");
    ASSERT_TRUE(f);
    std::fclose(f);
    delegate->applicationDidFinishLaunching();
    nav.allowed.insert(2);
    QStringList shown;
    QTimer::singleShot(0, [&shown] {
        QWidget* modal = QApplication::activeModalWidget();
        auto* panel = modal && modal->objectName() == "filePanel" ? qobject_cast<QDialog*>(modal) : nullptr;
        auto* list = panel ? panel->findChild<QTreeWidget*>("fileList") : nullptr;
        if (!list) {
            ADD_FAILURE() << "File > Open shows no panel of ours";
            if (modal)
                modal->close();
            return;
        }
        for (int i = 0; i < list->topLevelItemCount(); ++i)
            shown << list->topLevelItem(i)->text(0);
        for (auto [k, text] : {std::pair{Qt::Key_C, "c"}, std::pair{Qt::Key_Return, "\r"}}) {
            QKeyEvent press(QEvent::KeyPress, k, Qt::NoModifier, QString::fromLatin1(text));
            QApplication::sendEvent(list, &press);
        }
        if (panel->isVisible())
            panel->reject(); // the name was not found: end the panel rather than wait for ever
    });
    EXPECT_TRUE(controller->doOpenFile(path("p"), false));
    EXPECT_EQ(shown, QStringList{QStringLiteral("caf\uFFFD.jpg")});
    ASSERT_EQ(nav.chosenPaths.size(), 1);
    EXPECT_EQ(kpv::encodeFileName(nav.chosenPaths.first()), native);
    ASSERT_EQ(nav.files.size(), 1);
    EXPECT_EQ(kpv::encodeFileName(nav.files.first().path()), native);
}

// File > Open after a photo was opened from a folder whose name is not UTF-8 starts in that
// folder, not somewhere else.
TEST_F(Shell, OpenPanelStartsInAFolderWhoseNameIsNotUtf8)
{
    const QByteArray folder = QFile::encodeName(path("p")) + "/Ordner\xfc";
    ASSERT_TRUE(QDir().mkpath(path("p")));
    ASSERT_EQ(::mkdir(folder.constData(), 0755), 0);
    FILE* f = std::fopen((folder + "/inner.jpg").constData(), "wb");
    ASSERT_TRUE(f);
    std::fclose(f);
    delegate->applicationDidFinishLaunching();
    QStringList shown;
    QTimer::singleShot(0, [&shown] {
        QWidget* modal = QApplication::activeModalWidget();
        auto* panel = modal && modal->objectName() == "filePanel" ? qobject_cast<QDialog*>(modal) : nullptr;
        auto* list = panel ? panel->findChild<QTreeWidget*>("fileList") : nullptr;
        if (list)
            for (int i = 0; i < list->topLevelItemCount(); ++i)
                shown << list->topLevelItem(i)->text(0);
        if (modal)
            modal->close();
    });
    controller->addFileToRecent(LMPathString(kpv::decodeFileName(folder + "/inner.jpg"), false));
    controller->doOpenFile(QString(), false);
    EXPECT_EQ(shown, QStringList{QStringLiteral("inner.jpg")});
}

std::shared_ptr<kpv::Menu> openRecentMenu(MainWndController& controller)
{
    for (const auto& menu : controller.mainMenus())
        for (const auto& item : menu->itemArray())
            if (item->hasSubmenu() && item->title() == kpv::Bundle::mainBundle().localizedString(QStringLiteral("IDS_MENU_OpenRecent")))
                return item->submenu();
    return nullptr;
}

// Open Recent names each photo as the user reads it, and shortens a long name in the middle so
// that the menu stays narrow.
TEST_F(Shell, OpenRecentShowsLongAndNonUtf8NamesReadably)
{
    ASSERT_TRUE(QDir().mkpath(path("p")));
    const QByteArray native = QFile::encodeName(path("p")) + "/caf\xe9-" + QByteArray(200, 'x') + "-end.jpg";
    FILE* f = std::fopen(native.constData(), "wb");
    ASSERT_TRUE(f);
    std::fclose(f);
    delegate->applicationDidFinishLaunching();
    controller->openFiles({kpv::decodeFileName(native)}, false);
    const std::shared_ptr<kpv::Menu> recent = openRecentMenu(*controller);
    ASSERT_TRUE(recent);
    ASSERT_GT(recent->numberOfItems(), 0);
    const QString title = recent->itemAtIndex(0)->title();
    EXPECT_LE(title.size(), 61);
    EXPECT_TRUE(title.startsWith(QStringLiteral("caf") + QChar(0xFFFD) + u'-')) << title.toStdString();
    EXPECT_TRUE(title.endsWith(QStringLiteral("-end.jpg"))) << title.toStdString();
    EXPECT_EQ(::unlink(native.constData()), 0);

    // Photos of one name from two folders are told apart by their folders; another keeps its name.
    touch(path("a/img.jpg"));
    touch(path("b/img.jpg"));
    touch(path("b/other.jpg"));
    for (const char* photo : {"a/img.jpg", "b/other.jpg", "b/img.jpg"})
        controller->openFiles({path(photo)}, false);
    const QString b = recent->itemAtIndex(0)->title(), a = recent->itemAtIndex(2)->title();
    EXPECT_TRUE(b.startsWith(QStringLiteral("img.jpg \u2014 /")) && b.endsWith(QStringLiteral("/b"))) << b.toStdString();
    EXPECT_TRUE(a.startsWith(QStringLiteral("img.jpg \u2014 /")) && a.endsWith(QStringLiteral("/a"))) << a.toStdString();
    EXPECT_EQ(recent->itemAtIndex(1)->title(), QStringLiteral("other.jpg"));
}

// Open Recent is the program's own list, kept across runs; the desktop's shared list of recent
// files gains each opened photo, and every other program's entry in it stays byte for byte.
TEST_F(Shell, RecentPhotosSurviveARestartAndReachTheDesktopsList)
{
    const QByteArray others =
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<xbel version=\"1.0\"\n"
        "      xmlns:bookmark=\"http://www.freedesktop.org/standards/desktop-bookmarks\"\n"
        "      xmlns:mime=\"http://www.freedesktop.org/standards/shared-mime-info\"\n>\n"
        "  <bookmark href=\"file:///home/u/report%20&amp;%20notes.odt\" added=\"2020-01-01T00:00:00Z\"  visited=\"x\">\n"
        "    <info><metadata owner=\"http://freedesktop.org\"><mime:mime-type type=\"application/vnd.oasis.opendocument.text\"/>"
        "<bookmark:applications><bookmark:application name=\"Writer\" exec=\"&apos;writer %u&apos;\" count=\"7\"/>"
        "</bookmark:applications></metadata></info>\n  </bookmark>\n</xbel>";
    ASSERT_TRUE(QDir().mkpath(path("share")));
    {
        QFile list(path("share/recently-used.xbel"));
        ASSERT_TRUE(list.open(QIODevice::WriteOnly));
        list.write(others);
    }
    touch(path("p/one.jpg"));
    touch(path("p/two.jpg"));
    delegate->applicationDidFinishLaunching();
    controller->openFiles({path("p/one.jpg")}, false);
    controller->openFiles({path("p/two.jpg")}, false);
    controller->openFiles({path("p/one.jpg")}, false);
    EXPECT_EQ(controller->recentDocumentPaths(), (QStringList{path("p/one.jpg"), path("p/two.jpg")}));

    const QByteArray shared = readAll(path("share/recently-used.xbel"));
    // The other program's entry is still there as it was written, before ours.
    const qsizetype theirs = shared.indexOf(others.left(others.indexOf("</xbel>")));
    EXPECT_EQ(theirs, 0) << shared.constData();
    const QByteArray oneHref = "href=\"" + QUrl::fromLocalFile(path("p/one.jpg")).toEncoded() + "\"";
    EXPECT_EQ(shared.count(oneHref), 1) << "one entry per file";
    EXPECT_TRUE(shared.contains("href=\"" + QUrl::fromLocalFile(path("p/two.jpg")).toEncoded() + "\""));
    EXPECT_TRUE(shared.contains("<mime:mime-type type=\"image/jpeg\"/>"));
    const qsizetype oneAt = shared.indexOf(oneHref);
    const QByteArray oneEntry = shared.mid(oneAt, shared.indexOf("</bookmark>", oneAt) - oneAt);
    EXPECT_TRUE(oneEntry.contains("name=\"Kestrane Photo Viewer\" exec=\"kestrane-viewer %u\"")) << oneEntry.constData();
    EXPECT_TRUE(oneEntry.contains("count=\"2\"")) << "opened twice: " << oneEntry.constData();
    EXPECT_TRUE(shared.trimmed().endsWith("</xbel>"));

    // A photo gone since is not offered after the restart; the order stays.
    delegate->applicationWillTerminate();
    ASSERT_TRUE(QFile::remove(path("p/two.jpg")));
    touch(path("p/three.jpg"));
    TearDown();
    SetUp();
    EXPECT_EQ(controller->recentDocumentPaths(), QStringList{path("p/one.jpg")});
    // File > Open starts in the folder of the last photo opened.
    QString startedIn;
    struct StartPanel : kpv::OpenPanel {
        QString* seen;
        long runModal() override
        {
            *seen = directoryURL();
            return kpv::ModalResponseCancel;
        }
    };
    controller->setOpenPanelFactory([&startedIn] {
        return std::make_unique<LMIncludeSubDirOpenPanelController>(nullptr, [&startedIn] {
            auto panel = std::make_unique<StartPanel>();
            panel->seen = &startedIn;
            return panel;
        });
    });
    delegate->applicationDidFinishLaunching();
    EXPECT_FALSE(controller->doOpenFile(QString(), false));
    EXPECT_EQ(startedIn, path("p"));

    // A shared list that is not one is left alone rather than replaced.
    const QByteArray garbled = "<xbel version=\"1.0\"><bookmark href=";
    {
        QFile list(path("share/recently-used.xbel"));
        ASSERT_TRUE(list.open(QIODevice::WriteOnly | QIODevice::Truncate));
        list.write(garbled);
    }
    controller->openFiles({path("p/three.jpg")}, false);
    EXPECT_EQ(controller->recentDocumentPaths(), (QStringList{path("p/three.jpg"), path("p/one.jpg")}));
    EXPECT_EQ(readAll(path("share/recently-used.xbel")), garbled);
}

// A recent photo deleted or renamed since is told when chosen, and leaves Open Recent; the
// others stay, and so does the photo shown.
TEST_F(Shell, ARecentPhotoGoneSinceIsToldAndLeavesTheMenu)
{
    touch(path("p/one.jpg"));
    touch(path("p/two.jpg"));
    delegate->applicationDidFinishLaunching();
    controller->openFiles({path("p/two.jpg")}, false);
    controller->openFiles({path("p/one.jpg")}, false);
    ASSERT_TRUE(QFile::rename(path("p/two.jpg"), path("p/renamed.jpg")));
    const auto recentMenu = [&] { return openRecentMenu(*controller); };
    ASSERT_TRUE(recentMenu());
    ASSERT_EQ(recentMenu()->itemAtIndex(1)->title(), QStringLiteral("two.jpg"));
    const int opens = nav.opens;
    recentMenu()->itemAtIndex(1)->performAction();
    QStringList told;
    for (QWidget* w : QApplication::topLevelWidgets())
        if (auto* box = qobject_cast<QMessageBox*>(w); box && box->isVisible()) {
            told << box->text();
            box->close();
        }
    ASSERT_EQ(told.size(), 1);
    EXPECT_TRUE(told.first().contains(QStringLiteral("no such file"))) << told.first().toStdString();
    EXPECT_EQ(nav.opens, opens);
    EXPECT_EQ(controller->recentDocumentPaths(), QStringList{path("p/one.jpg")});
    EXPECT_EQ(recentMenu()->itemAtIndex(0)->title(), QStringLiteral("one.jpg"));
    EXPECT_TRUE(recentMenu()->itemAtIndex(1)->isSeparatorItem());

    // Clear Menu empties the list, and is then greyed: there is nothing left to clear.
    const auto clear = recentMenu()->itemAtIndex(2);
    EXPECT_TRUE(controller->validateMenuItem(*clear));
    clear->performAction();
    EXPECT_TRUE(controller->recentDocumentPaths().isEmpty());
    EXPECT_EQ(recentMenu()->numberOfItems(), 1);
    EXPECT_FALSE(controller->validateMenuItem(*recentMenu()->itemAtIndex(0)));
}

// The context menu's Open With: every application that opens images, whether or not it names
// this type, without this program (known by its installed entry's id); then "Other Application…",
// which lists every application and opens the photo with the one chosen.
TEST_F(Shell, OpenWithListsImageApplicationsAndOffersAnyOther)
{
    kpv::FakeDesktopServices desktop;
    kpv::DesktopServices::setShared(&desktop);
    desktop.fileApplications.insert("jpg", {{"org.kestrane.viewer.desktop", "Kestrane Photo Viewer", "", "", {}}});
    desktop.installed = {{"paint.desktop", "Paint", "", "", {"image/png"}},
                         {"editor.desktop", "Text Editor", "", "", {"text/plain"}},
                         {"org.kestrane.viewer.desktop", "Kestrane Photo Viewer", "", "", {"image/jpeg"}}};
    touch(path("p/one.jpg"));
    delegate->applicationDidFinishLaunching();
    controller->openFiles({path("p/one.jpg")}, false);
    controller->rebuildOpenWithMenu();
    const std::shared_ptr<kpv::Menu> menu = controller->openWithMenu();
    QStringList titles;
    for (const auto& item : menu->itemArray())
        titles << (item->isSeparatorItem() ? QStringLiteral("-") : item->title());
    EXPECT_EQ(titles, (QStringList{"Paint", "-", "Other Application…"}));
    const auto other = menu->itemWithTag(MainWndController::TagOpenWithOther);
    ASSERT_TRUE(other);
    ASSERT_TRUE(controller->validateMenuItem(*other));

    other->performAction();
    OtherApplicationChooser* chooser = nullptr;
    for (QWidget* w : QApplication::topLevelWidgets())
        if (auto* c = dynamic_cast<OtherApplicationChooser*>(w); c && c->isVisible())
            chooser = c;
    ASSERT_TRUE(chooser);
    ASSERT_EQ(chooser->list()->count(), 2); // every application but this one
    EXPECT_EQ(chooser->list()->item(0)->text(), "Paint");
    // The arrows typed in the filter step through what it shows.
    auto press = [&](Qt::Key key) {
        QKeyEvent event(QEvent::KeyPress, key, Qt::NoModifier);
        QCoreApplication::sendEvent(chooser->filterField(), &event);
        return chooser->list()->currentRow();
    };
    chooser->filterField()->setText("t");
    EXPECT_EQ(chooser->list()->currentRow(), 0);
    EXPECT_EQ(press(Qt::Key_Down), 1);
    EXPECT_EQ(press(Qt::Key_Up), 0);
    chooser->filterField()->setText("text");
    EXPECT_TRUE(chooser->list()->item(0)->isHidden());
    // The window made larger, then smaller, beneath the list: it stays over the window's middle.
    for (const kpv::Rect& frame : {kpv::Rect(0, 0, 1400, 900), kpv::Rect(100, 50, 700, 500)}) {
        controller->window()->setFrame(frame);
        QApplication::processEvents();
        const QRect area = controller->window()->widget()->frameGeometry();
        const QRect placed = chooser->frameGeometry();
        EXPECT_LE(std::abs(placed.center().x() - area.center().x()), 1) << frame.width();
        EXPECT_GE(placed.top(), area.top()) << frame.width();
        if (placed.height() <= area.height())
            EXPECT_LE(placed.bottom(), area.bottom()) << frame.width();
    }
    ASSERT_TRUE(chooser->openButton()->isEnabled());
    chooser->openButton()->click();
    ASSERT_EQ(desktop.launches.size(), 1);
    EXPECT_EQ(desktop.launches[0], qMakePair(path("p/one.jpg"), QString("editor.desktop")));

    // One that cannot be started is told by the name the list showed, with the photo as it was.
    desktop.launchWorks = false;
    other->performAction();
    chooser = nullptr;
    for (QWidget* w : QApplication::topLevelWidgets())
        if (auto* c = dynamic_cast<OtherApplicationChooser*>(w); c && c->isVisible())
            chooser = c;
    ASSERT_TRUE(chooser);
    chooser->list()->setCurrentRow(0);
    chooser->openButton()->click();
    QStringList told;
    for (QWidget* w : QApplication::topLevelWidgets())
        if (auto* box = qobject_cast<QMessageBox*>(w); box && box->isVisible()) {
            told << box->text();
            box->close();
        }
    EXPECT_EQ(told, QStringList{kpv::Bundle::mainBundle().localizedStringWithFormat(
                        QStringLiteral("IDS_OpenWithFailed_Fmt"), QStringLiteral("Paint"))});
    kpv::DesktopServices::setShared(nullptr);
}

// What the command line says about paths that cannot be opened: each named once with its reason,
// the photos beside them not at all.
TEST_F(Shell, CommandLineNamesWhatCannotBeOpenedAndWhy)
{
    QImage picture(8, 6, QImage::Format_RGB32);
    picture.fill(Qt::red);
    ASSERT_TRUE(QDir().mkpath(path("p")) && picture.save(path("p/one.jpg")));
    touch(path("p/notes.txt"));
    touch(path("p/locked.jpg"));
    touch(path("deep/sub/two.png"));
    ASSERT_TRUE(QDir().mkpath(path("empty")));
    ASSERT_TRUE(QFile::setPermissions(path("p/locked.jpg"), QFileDevice::WriteOwner));
    // Root reads everything; without its override the lock holds as for any user.
    kpv::test::NoPermissionOverride asAnyUser;
    const QStringList problems = CommandLine::problemsWithPaths(
        {path("p/one.jpg"), path("p/nope.jpg"), path("p/notes.txt"), path("p/locked.jpg"), path("empty"),
         path("deep"), path("p")},
        {"jpg", "png"});
    ASSERT_EQ(problems.size(), 5) << problems.join("\n").toStdString();
    EXPECT_EQ(problems[0], QString("cannot open “%1”: no such file or folder").arg(path("p/nope.jpg")));
    EXPECT_TRUE(problems[1].startsWith(QString("cannot open “%1”: it is not").arg(path("p/notes.txt"))));
    EXPECT_EQ(problems[2], QString("cannot open “%1”: %2").arg(path("p/locked.jpg"), QString::fromLocal8Bit(std::strerror(EACCES))));
    EXPECT_EQ(problems[3], QString("there are no photos in the folder “%1”").arg(path("empty")));
    // Sub-folders are not searched from the command line.
    EXPECT_EQ(problems[4], QString("there are no photos in the folder “%1”").arg(path("deep")));
}

// Started in a folder removed since, a relative name says so instead of "no photos in “.”".
TEST(CommandLine, ARelativeNameInARemovedFolderIsTold)
{
    const QString before = QDir::currentPath();
    QStringList problems;
    {
        QTemporaryDir gone;
        ASSERT_TRUE(QDir::setCurrent(gone.path()));
        ASSERT_TRUE(gone.remove());
        problems = CommandLine::problemsWithPaths({CommandLine::pathFromArgument("."), "/nowhere/x.jpg"}, {"jpg"});
        ASSERT_TRUE(QDir::setCurrent(before));
    }
    ASSERT_EQ(problems.size(), 2) << problems.join("\n").toStdString();
    EXPECT_EQ(problems[0], "cannot open “.”: the folder it was named in has been removed");
    EXPECT_EQ(problems[1], "cannot open “/nowhere/x.jpg”: no such file or folder");
}

// Started without HOME (from a service, or a bare environment), the home folder the settings and
// caches go into is the user's own, not the top of the file system; a HOME that is set is kept.
TEST(CommandLine, WithoutHomeTheUsersOwnHomeFolderIsTaken)
{
    const QByteArray home = qgetenv("HOME");
    qunsetenv("HOME");
    CommandLine::settleHome();
    const QString settled = QDir::homePath();
    qputenv("HOME", "/elsewhere/home");
    CommandLine::settleHome();
    const QString kept = QDir::homePath();
    qputenv("HOME", home);
    const passwd* user = ::getpwuid(::getuid());
    ASSERT_TRUE(user && user->pw_dir);
    EXPECT_EQ(settled.toStdString(), user->pw_dir);
    EXPECT_EQ(kept.toStdString(), "/elsewhere/home");
}

// Base folders given as relative paths are ignored, as the rules say: thumbnails and caches go
// to the home folder's, not into a folder beside the photos of wherever the viewer was started.
TEST(CommandLine, RelativeBaseFoldersAreIgnored)
{
    const char* names[] = {"XDG_CACHE_HOME", "XDG_DATA_HOME", "XDG_CONFIG_HOME", "XDG_DATA_DIRS", "XDG_CONFIG_DIRS"};
    std::vector<std::pair<QByteArray, bool>> saved;
    for (const char* name : names)
        saved.emplace_back(qgetenv(name), qEnvironmentVariableIsSet(name));
    qputenv("XDG_CACHE_HOME", "cache");
    qputenv("XDG_DATA_HOME", "/elsewhere/data");
    qunsetenv("XDG_CONFIG_HOME");
    qputenv("XDG_DATA_DIRS", "rel/share:/usr/local/share::/usr/share");
    qputenv("XDG_CONFIG_DIRS", "etc/xdg");
    CommandLine::settleBaseDirectories();
    const QString cache = QStandardPaths::writableLocation(QStandardPaths::GenericCacheLocation);
    const bool cacheSet = qEnvironmentVariableIsSet("XDG_CACHE_HOME");
    const QByteArray data = qgetenv("XDG_DATA_HOME");
    const bool configSet = qEnvironmentVariableIsSet("XDG_CONFIG_HOME");
    const QByteArray dataDirs = qgetenv("XDG_DATA_DIRS");
    const bool configDirsSet = qEnvironmentVariableIsSet("XDG_CONFIG_DIRS");
    for (size_t i = 0; i < saved.size(); ++i) {
        if (saved[i].second)
            qputenv(names[i], saved[i].first);
        else
            qunsetenv(names[i]);
    }
    EXPECT_FALSE(cacheSet);
    EXPECT_EQ(cache, QDir::homePath() + "/.cache");
    EXPECT_EQ(data, "/elsewhere/data");
    EXPECT_FALSE(configSet);
    EXPECT_EQ(dataDirs, "/usr/local/share:/usr/share");
    EXPECT_FALSE(configDirsSet);
}

TEST_F(Shell, ShowModeSwitching)
{
    delegate->applicationDidFinishLaunching();
    posted.clear();
    // No file: asking for the viewer gives the empty state, and both notifications still go out.
    controller->setShowMode(MainShowModeView);
    EXPECT_EQ(controller->showMode(), MainShowModeEmpty);
    EXPECT_EQ(posted, (QStringList{"willChangeMainShowMode 2>2", "didChangeMainShowMode 2>2"}));
    posted.clear();
    controller->setShowMode(MainShowModeEmpty);
    EXPECT_TRUE(posted.isEmpty());
    // Opening in the empty state switches to the viewer; a text file changes nothing.
    ASSERT_NO_FATAL_FAILURE(touch(path("q/a.txt")));
    controller->openFiles({path("q/a.txt")}, false);
    EXPECT_EQ(controller->showMode(), MainShowModeEmpty);
    // ... but says why; the word is read and put away before the next opening.
    int told = 0;
    for (QWidget* w : QApplication::topLevelWidgets())
        if (w->inherits("QMessageBox") && w->isVisible()) {
            ++told;
            w->close();
        }
    EXPECT_EQ(told, 1);
    kpv::RunLoop::main().runOnce();
    ASSERT_NO_FATAL_FAILURE(touch(path("q/b.png")));
    controller->openFiles({path("q")}, false);
    EXPECT_EQ(controller->showMode(), MainShowModeView);
    // A photo handed over while the thumbnail mode shows leaves it for the viewer (its own File >
    // Open waits for the viewer).
    controller->setShowModeControllerFactory(MainShowModeThumbnail, [](MainWndController&) { return std::make_unique<ModeStub>(); });
    controller->setShowMode(MainShowModeThumbnail);
    EXPECT_FALSE(controller->canDoAction(2));
    const int opens = nav.opens;
    controller->openFiles({path("q/b.png")}, false);
    EXPECT_EQ(nav.opens, opens + 1);
    EXPECT_EQ(controller->showMode(), MainShowModeView);
    controller->setShowMode(MainShowModeThumbnail);
    // Commands of the mode go to its controller.
    EXPECT_TRUE(controller->canDoAction(7));
    EXPECT_FALSE(controller->canDoAction(4));
}

TEST_F(Shell, MiniWindowModesStayMini)
{
    auto* fakeMode = new ModeStub;
    controller->setShowModeControllerFactory(MainShowModeMiniEmpty, [fakeMode](MainWndController&) { return std::unique_ptr<ShowModeController>(fakeMode); });
    delegate->applicationDidFinishLaunching();
    controller->setShowMode(MainShowModeMiniEmpty);
    ASSERT_NO_FATAL_FAILURE(touch(path("m/x.gif")));
    controller->openFiles({path("m/x.gif")}, false);
    EXPECT_EQ(controller->showMode(), MainShowModeMiniWithImage);
}

TEST_F(Shell, SaveAsFolderFromOpenedPaths)
{
    ASSERT_NO_FATAL_FAILURE(touch(path("a/b/1.jpg")));
    ASSERT_NO_FATAL_FAILURE(touch(path("a/2.jpg")));
    controller->setSaveAsDirByOpenPaths({path("a/b/1.jpg"), path("a/2.jpg")});
    EXPECT_EQ(delegate->mainConfig()->lastSaveAsDirUrl().toLocalFile(), path("a") + "/");
    controller->setSaveAsDirByOpenPaths({path("a/b")});
    EXPECT_EQ(delegate->mainConfig()->lastSaveAsDirUrl().toLocalFile(), path("a/b") + "/");
}

TEST_F(Shell, WindowFrameRestore)
{
    const kpv::Rect visible(0, 23, 1440, 877);
    auto f = MainWndController::restoredWindowFrame(kpv::Rect(), visible);
    EXPECT_NEAR(f.width(), 1169.333, 0.01);
    EXPECT_NEAR(f.height(), 877, 0.01);
    EXPECT_NEAR(f.x() + f.width() / 2, 720, 0.01);
    f = MainWndController::restoredWindowFrame(kpv::Rect(100, 100, 3000, 2000), kpv::Rect(0, 0, 1440, 900));
    EXPECT_EQ(f, kpv::Rect(0, 0, 1440, 900));
    f = MainWndController::restoredWindowFrame(kpv::Rect(1000, 10, 800, 600), kpv::Rect(0, 0, 1440, 900));
    EXPECT_EQ(f, kpv::Rect(640, 10, 800, 600));
    // Left on a second screen, the window comes back there; on a screen since unplugged, on the
    // first; across two, on the one that holds more of it.
    const std::vector<kpv::Rect> screens{kpv::Rect(0, 0, 1600, 1000), kpv::Rect(1600, 0, 1600, 1000)};
    EXPECT_EQ(MainWndController::screenForStoredFrame(kpv::Rect(2000, 200, 900, 600), screens), screens[1]);
    EXPECT_EQ(MainWndController::screenForStoredFrame(kpv::Rect(3500, 200, 900, 600), screens), screens[0]);
    EXPECT_EQ(MainWndController::screenForStoredFrame(kpv::Rect(1500, 200, 900, 600), screens), screens[1]);

    // The window's first frame, and one stored as large as the screen, leave room inside the
    // visible frame for the desktop's title bar above the content and its borders.
    kpv::Window* window = controller->window();
    const kpv::Rect screen = window->screen().visibleFrame;
    for (const std::optional<QRectF>& stored :
         {std::optional<QRectF>(), std::optional<QRectF>(QRectF(screen.x(), screen.y(), screen.width(), screen.height()))}) {
        delegate->mainConfig()->setMainWindowFrame(stored);
        controller->restoreWindowFrame();
        const kpv::Rect f = window->frame();
        EXPECT_GE(screen.maxY() - f.maxY(), 30) << "no room for the title bar";
        EXPECT_GE(f.y(), screen.y());
        EXPECT_GE(f.x(), screen.x());
        EXPECT_LE(f.maxX(), screen.maxX());
    }
}

TEST_F(Shell, MenuValidationAndSorting)
{
    ASSERT_NO_FATAL_FAILURE(touch(path("s/1.jpg")));
    controller->openFiles({path("s/1.jpg")}, false);
    delegate->applicationDidFinishLaunching();
    nav.allowed = {34, 35, 36, 37};
    delegate->mainConfig()->setSortByType(0x1002);
    auto byDate = controller->menuItemForAction(35);
    auto ascending = controller->menuItemForAction(36);
    ASSERT_TRUE(byDate && ascending);
    EXPECT_TRUE(controller->validateMenuItem(*byDate));
    EXPECT_EQ(byDate->state(), 1);
    controller->validateMenuItem(*ascending);
    EXPECT_EQ(ascending->state(), 0);
    controller->performMenuAction(36);
    EXPECT_EQ(nav.sortedWith, 2);
    // A refused command does nothing.
    controller->performMenuAction(14);
    EXPECT_EQ(nav.rotated, 0);
    nav.allowed.insert(14);
    controller->performMenuAction(14);
    EXPECT_EQ(nav.rotated, 1);
    EXPECT_FALSE(controller->canDoAction(50));
    EXPECT_EQ(MainWndController::mainActionTypeForShareType(3), 22);
    EXPECT_EQ(MainWndController::mainActionTypeForShareType(5), 0);
}

// Window > Float on Top lifts the window above others and back; in full screen it is off.
TEST_F(Shell, FloatOnTopTogglesAndStaysOffInFullScreen)
{
    delegate->applicationDidFinishLaunching();
    kpv::Window* window = controller->window();
    auto item = controller->menuItemForAction(46);
    ASSERT_TRUE(item);
    EXPECT_TRUE(controller->validateMenuItem(*item));
    controller->performMenuAction(46);
    EXPECT_EQ(window->level(), kpv::FloatingWindowLevel);
    controller->validateMenuItem(*item);
    EXPECT_EQ(item->state(), 1);
    controller->performMenuAction(46);
    EXPECT_EQ(window->level(), kpv::NormalWindowLevel);

    window->toggleFullScreen();
    EXPECT_FALSE(controller->validateMenuItem(*item));
    controller->performMenuAction(46);
    EXPECT_EQ(window->level(), kpv::NormalWindowLevel) << "a full-screen window was floated";
    window->toggleFullScreen();
}

TEST_F(Shell, CommandTableRowsAreDistinct)
{
    std::set<long> tags;
    std::set<std::pair<std::string, std::uint64_t>> keys;
    for (const MainCommand& c : MainWndController::commandTable()) {
        if (c.kind != MainCommandKind::Command)
            continue;
        EXPECT_TRUE(tags.insert(c.tag).second) << "tag " << c.tag << " twice";
        if (*c.keyEquivalent)
            EXPECT_TRUE(keys.insert({c.keyEquivalent, c.keyModifiers}).second) << "key " << c.keyEquivalent << " twice";
        // A command either routes to the modes or carries both its validation and its action.
        EXPECT_EQ(c.enabled == nullptr, c.perform == nullptr) << "tag " << c.tag;
        if (c.menuKey)
            EXPECT_TRUE(controller->menuItemForAction(c.tag) || (c.shown && !c.shown())) << "tag " << c.tag;
    }
    // The context menu: the rows by their slots, with a line between groups.
    auto menu = controller->rightPopMenu();
    ASSERT_TRUE(menu);
    std::vector<long> order;
    for (const auto& item : menu->itemArray())
        order.push_back(item->isSeparatorItem() ? -1 : item->tag());
    EXPECT_EQ(order, (std::vector<long>{9, 11, 7, 8, 6, -1, 14, 15, 27, -1, MainWndController::TagOpenWith}));
}

// The context menu is opened on one photo. When another program moves that photo away while the
// menu is up, the viewer shows the next one; a command chosen then (Move to Trash) must not fall
// on that next photo, which the user never chose: it is refused with a word, and nothing is done.
TEST_F(Shell, ContextMenuCommandsActOnlyOnThePhotoTheMenuWasOpenedOn)
{
    ASSERT_NO_FATAL_FAILURE(touch(path("c/a.jpg")));
    ASSERT_NO_FATAL_FAILURE(touch(path("c/b.jpg")));
    controller->openFiles({path("c/a.jpg"), path("c/b.jpg")}, false);
    delegate->applicationDidFinishLaunching();
    ASSERT_EQ(controller->showMode(), MainShowModeView);
    nav.allowed = {8};
    std::shared_ptr<kpv::MenuItem> trash;
    for (const auto& item : controller->rightPopMenu()->itemArray())
        if (item->tag() == 8)
            trash = item;
    ASSERT_TRUE(trash);
    const auto openMenu = [&] {
        const auto click = kpv::Event::mouseEvent(kpv::RightMouseDown, kpv::Point{20, 20}, controller->window());
        controller->popUpContextMenuWithEvent(*click, controller->window()->contentView());
    };
    const auto visibleAlerts = [] {
        int n = 0;
        for (QWidget* w : QApplication::topLevelWidgets())
            n += w->inherits("QMessageBox") && w->isVisible();
        return n;
    };

    openMenu();
    nav.files.removeFirst(); // a.jpg went; b.jpg is shown now
    nav.actions.clear();
    trash->performAction();
    EXPECT_TRUE(nav.actions.empty());
    EXPECT_EQ(visibleAlerts(), 1);
    for (QWidget* w : QApplication::topLevelWidgets())
        if (w->inherits("QMessageBox"))
            w->close();
    kpv::RunLoop::main().runOnce();

    // Opened on the photo shown now, the command goes through.
    openMenu();
    trash->performAction();
    EXPECT_EQ(nav.actions, (std::vector<std::pair<long, long>>{{8, 0}}));
}

TEST_F(Shell, ModesWithoutControllersAreNeverEntered)
{
    ASSERT_NO_FATAL_FAILURE(touch(path("m/1.jpg")));
    controller->openFiles({path("m/1.jpg")}, false);
    delegate->applicationDidFinishLaunching();
    ASSERT_EQ(controller->showMode(), MainShowModeView);
    // No crop controller is registered here: the viewer stays, the command is refused.
    nav.allowed = {9};
    controller->setShowMode(MainShowModeCrop);
    EXPECT_EQ(controller->showMode(), MainShowModeView);
    EXPECT_FALSE(controller->hasModeController(MainShowModeCrop));
    controller->setShowModeControllerFactory(MainShowModeCrop, [](MainWndController&) {
        return std::unique_ptr<ShowModeController>(std::make_unique<ModeStub>());
    });
    controller->setShowMode(MainShowModeCrop);
    EXPECT_EQ(controller->showMode(), MainShowModeCrop);
}

TEST_F(Shell, RoutedCommandsCarryTheirArgument)
{
    ASSERT_NO_FATAL_FAILURE(touch(path("r/1.jpg")));
    controller->openFiles({path("r/1.jpg")}, false);
    delegate->applicationDidFinishLaunching();
    nav.allowed = {16, 17, 19, 25, 41};
    nav.actions.clear();
    controller->performMenuAction(17);
    controller->performMenuAction(MainWndController::TagBatchConvert); // answers as 19
    controller->shareForType(33);
    controller->performMenuAction(41);
    controller->performMenuAction(40); // refused: not allowed
    EXPECT_EQ(nav.actions, (std::vector<std::pair<long, long>>{
                               {17, 4}, {MainWndController::TagBatchConvert, 0}, {25, 33}, {41, 0}}));
}

TEST_F(Shell, ClosingTheMainWindowQuits)
{
    int quits = 0;
    controller->setQuitHandler([&] { ++quits; });
    delegate->mainConfig()->setSortByType(2);
    controller->windowWillClose(controller->window());
    // After the close has completed, with the settings already written.
    EXPECT_EQ(quits, 0);
    kpv::RunLoop::main().runOnce();
    EXPECT_EQ(quits, 1);
    kpv::UserDefaults reread(scratch.filePath("defaults.json"));
    EXPECT_EQ(MainConfig(reread).sortByType(), 2);
    // Quit from the menu goes the same way.
    controller->performMenuAction(MainWndController::TagQuit);
    EXPECT_EQ(quits, 2);
}

class Responder : public LMEquivalentResponder {
public:
    explicit Responder(QStringList* log, QString name) : m_log(log), m_name(std::move(name)) {}
    bool performKeyDownEquivalent(const kpv::Event&) override
    {
        m_log->append(m_name);
        return true;
    }
    QStringList* m_log;
    QString m_name;
};

TEST_F(Shell, FirstRegisteredResponderTakesTheKey)
{
    QStringList log;
    Responder a(&log, "a"), b(&log, "b");
    controller->registEquivalentResponder(&a, true);
    controller->registEquivalentResponder(&b, true);
    controller->registEquivalentResponder(&a, true);
    auto key = kpv::Event::keyEvent(kpv::KeyDown, 49, " ", " ", controller->window());
    EXPECT_TRUE(controller->keyDown(*key));
    EXPECT_EQ(log, QStringList{"a"});
    controller->registEquivalentResponder(&a, false);
    EXPECT_TRUE(controller->keyDown(*key));
    EXPECT_EQ(log, (QStringList{"a", "b"}));
}

TEST_F(Shell, ClosingInCropReturnsToViewAndStoresTheFrame)
{
    ASSERT_NO_FATAL_FAILURE(touch(path("c/1.jpg")));
    controller->openFiles({path("c/1.jpg")}, false);
    delegate->applicationDidFinishLaunching();
    controller->setShowModeControllerFactory(MainShowModeCrop, [](MainWndController&) { return std::make_unique<ModeStub>(); });
    controller->setShowMode(MainShowModeCrop);
    controller->windowWillClose(controller->window());
    EXPECT_EQ(controller->showMode(), MainShowModeView);
    EXPECT_TRUE(delegate->mainConfig()->mainWindowFrame().has_value());
}

TEST(SingleInstance, PathsTravelToTheRunningInstance)
{
    ensureApp();
    kpv::SingleInstance first(QStringLiteral("kpv-test-%1").arg(QCoreApplication::applicationPid()));
    QStringList got;
    bool received = false;
    ASSERT_TRUE(first.listen([&](const QStringList& p) { got = p; received = true; }));
    kpv::SingleInstance second(QStringLiteral("kpv-test-%1").arg(QCoreApplication::applicationPid()));
    // The later start is another process: here another thread.
    std::atomic<int> taken{-1};
    std::thread start([&] { taken = second.handOver({"/photos/a b.jpg", "/photos/c.png"}) ? 1 : 0; });
    while (taken < 0 || !received)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    start.join();
    EXPECT_EQ(taken, 1);
    EXPECT_EQ(got, (QStringList{"/photos/a b.jpg", "/photos/c.png"}));
    QStringList decoded;
    EXPECT_EQ(kpv::SingleInstance::decodePaths(kpv::SingleInstance::encodePaths({"/abs"}), &decoded),
              kpv::SingleInstance::Message::Complete);
    EXPECT_EQ(decoded, QStringList{"/abs"});
    kpv::SingleInstance nobody(QStringLiteral("kpv-test-none-%1").arg(QCoreApplication::applicationPid()));
    EXPECT_FALSE(nobody.handOver({"/x.jpg"}, 200));
}

} // namespace
