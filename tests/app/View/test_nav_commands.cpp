// The view mode's file commands on a model view with a recording host, a fake workspace and the
// manual clock: the upright save session, the trash, the unsaved-turn check in front of stepping,
// sorting and batch renames keeping the current file.

#include "nav_test_support.h"

#include "Model/LMSaveStages.h"
#include "View/NavigateSaveFileSession.h"
#include "imageio/ImageProperties.h"
#include "foundation/FileNames.h"
#include "foundation/FileReplace.h"
#include "imageio/DecodeBudget.h"
#include "imageio/ImageDestination.h"
#include "imageio/ImageSource.h"

#include "../../support/PagesTiff.h"
#include "../../support/FaultInjection.h"

#include <algorithm>
#include <QBuffer>
#include <QCoreApplication>
#include <QThread>
#include <QCryptographicHash>
#include <QScopeGuard>
#include <fcntl.h>
#include <unistd.h>
#include <linux/capability.h>
#include <sys/syscall.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <QDir>
#include <QFile>

#include <atomic>
#include <cstdio>
#include <thread>

#include <exiv2/exiv2.hpp>
#include <tiffio.h>

using namespace navtest;

namespace {

// A host that records alerts and answers them with a chosen button.
class CommandHost : public FakeHost {
public:
    using FakeHost::FakeHost;
    void beginAlertSheet(const QString &message, const QString &def, const QString &alt, const QString &,
                         const QString &informative, AlertDidEnd didEnd, kpv::AlertEscape) override
    {
        alerts << (message + "|" + def + "|" + alt);
        informatives << informative;
        if (didEnd)
            didEnd(alertAnswer);
    }
    void runSaveAsPanel(const QString &, const QString &, SavePanelHandler handler) override
    {
        ++saveAsPanels;
        handler(!saveAsPath.isEmpty(), saveAsPath, std::nullopt);
    }
    QString temporaryDirectoryWithSubDir(const QString &sub) const override
    {
        return QDir(tempRoot).mkpath(sub) ? QDir(tempRoot).filePath(sub) : QString();
    }
    kpv::WorkspaceServices *workspaceServices() override
    {
        return systemWorkspace ? systemWorkspace : FakeHost::workspaceServices();
    }
    void writeFileAndImageToPasteboard(const QString &path, const QImage &image) override
    {
        pasteboard << path;
        pastedSizes << image.size();
    }
    void printImage(const QImage &image, const QString &) override { printed << image; }
    QStringList pasteboard;
    QList<QSize> pastedSizes; // the pictures handed over with them
    QList<QImage> printed;    // the pictures the print panel got
    QStringList alerts;
    QStringList informatives; // the alerts' explanations, in the same order
    int alertAnswer = 0;
    QString saveAsPath;
    int saveAsPanels = 0;
    QString tempRoot;
    kpv::WorkspaceServices *systemWorkspace = nullptr; // the real trash instead of the fake
};

// A 3 x 2 picture whose pixels all differ, so any turn or mirror shows.
QImage pattern()
{
    QImage image(3, 2, QImage::Format_RGB32);
    const QRgb colours[6] = {qRgb(255, 0, 0), qRgb(0, 255, 0), qRgb(0, 0, 255),
                             qRgb(255, 255, 0), qRgb(0, 255, 255), qRgb(255, 0, 255)};
    for (int y = 0; y < 2; ++y)
        for (int x = 0; x < 3; ++x)
            image.setPixel(x, y, colours[y * 3 + x]);
    return image;
}

// Writes the pattern as a PNG at a path given by its bytes (which need not be UTF-8); the file's
// bytes go to `written` when asked for.
void writePatternAt(const QByteArray &native, QByteArray *written = nullptr)
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    pattern().save(&buffer, "PNG");
    FILE *f = std::fopen(native.constData(), "wb");
    ASSERT_TRUE(f) << native.constData();
    ASSERT_EQ(std::fwrite(bytes.constData(), 1, size_t(bytes.size()), f), size_t(bytes.size()));
    std::fclose(f);
    if (written)
        *written = bytes;
}

// Reference model of the EXIF orientation transforms (TIFF 6.0 tag 274): where stored pixel
// (x, y) of a w x h picture lands when shown upright.
QImage uprightModel(const QImage &stored, int orientation)
{
    const int w = stored.width(), h = stored.height();
    const bool swap = orientation >= 5;
    QImage out(swap ? h : w, swap ? w : h, QImage::Format_RGB32);
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
            int u = x, v = y;
            switch (orientation) {
            case 2: u = w - 1 - x; break;
            case 3: u = w - 1 - x; v = h - 1 - y; break;
            case 4: v = h - 1 - y; break;
            case 5: u = y; v = x; break;
            case 6: u = h - 1 - y; v = x; break;
            case 7: u = h - 1 - y; v = w - 1 - x; break;
            case 8: u = y; v = w - 1 - x; break;
            default: break;
            }
            out.setPixel(u, v, stored.pixel(x, y));
        }
    }
    return out;
}

// The smallest GIF: one white pixel.
void writeGif(const QString &path)
{
    static const unsigned char gif[] = {'G', 'I', 'F', '8', '9', 'a', 1, 0, 1, 0, 0x80, 0, 0, 0xFF, 0xFF, 0xFF,
                                        0, 0, 0, 0x2C, 0, 0, 0, 0, 1, 0, 1, 0, 0, 2, 2, 0x44, 1, 0, 0x3B};
    QFile f(path);
    if (f.open(QIODevice::WriteOnly))
        f.write(reinterpret_cast<const char *>(gif), sizeof gif);
}

LMNavFileInfoPtr recordWithOriginal(const QString &path, const QImage &pixels, int orientation)
{
    auto info = std::make_shared<LMNavFileInfo>(LMPathString(path, false));
    QVariantMap props{{QString::fromLatin1(kpv::kCGImagePropertyOrientation), orientation}};
    auto base = std::make_shared<LMFileImgBaseInfo>(info->filePath(), QStringLiteral("public.png"), 8, kFileDate,
                                                    QSizeF(pixels.size()), orientation, props);
    info->setImgBaseInfo(base);
    info->setImage(std::make_shared<LMImage>(pixels, base), false, 1, 0);
    return info;
}

QImage rgb(const QImage &image)
{
    return image.convertToFormat(QImage::Format_RGB32);
}

class CommandTest : public NavTest {
protected:
    void SetUp() override
    {
        NavTest::SetUp();
        controller.reset();
        commandHost = std::make_unique<CommandHost>(config.get());
        controller = std::make_unique<NavigateController>(&view, commandHost.get(), &loader);
        controller->awakeFromNib();
    }
    void TearDown() override
    {
        controller.reset();
        NavTest::TearDown();
    }
    // Real files in the temporary folder (so the trash and the writes have something to act on).
    // openReal with a controller that reads through `loader` (which outlives the controller).
    void openRealWith(NavImageLoader &loader, const QStringList &names)
    {
        controller = std::make_unique<NavigateController>(&view, commandHost.get(), &loader);
        controller->awakeFromNib();
        openReal(names);
    }
    void openReal(const QStringList &names)
    {
        paths.clear();
        for (const QString &n : names) {
            const QString p = dir.filePath(n);
            if (n.endsWith(".gif"))
                writeGif(p);
            else
                pattern().save(p);
            paths << LMPathString(p, false);
        }
        controller->openFilePaths(paths, {}, false);
        commandHost->runQueue(*controller);
    }
    // The system's word of a folder change arrives through the application's event loop: an
    // application for as long as the test keeps it, and a controller made under it.
    std::unique_ptr<QCoreApplication> listenForFolderChanges()
    {
        static int argc = 1;
        static char name[] = "test";
        static char *argv[] = {name, nullptr};
        std::unique_ptr<QCoreApplication> app;
        if (!QCoreApplication::instance())
            app = std::make_unique<QCoreApplication>(argc, argv);
        controller = std::make_unique<NavigateController>(&view, commandHost.get(), &loader);
        controller->awakeFromNib();
        return app;
    }
    // Runs the event loop until the controller has heard of a change (or for 20 s).
    void untilHeard(const std::function<bool()> &heard)
    {
        for (int i = 0; i < 400 && !heard(); ++i) {
            QCoreApplication::processEvents();
            clock.advance(0.05);
            kpv::RunLoop::main().runOnce();
            QThread::msleep(5);
        }
    }
    // Turns the shown photo a quarter on screen (a pattern stands in for its decoded picture);
    // the file's checksum before anything is saved.
    QByteArray turnShownPhoto()
    {
        LMNavFileInfoPtr info = controller->curFileInfo();
        info->setImage(std::make_shared<LMImage>(pattern(), info->imgBaseInfo()), false, 1, 0);
        view.rotate(2);
        view.endRotate();
        return kpv::test::checksum(paths[0].path());
    }
    // Lets the save session finish and delivers its result on the main loop.
    void finishSaves()
    {
        controller->navigateSaveFileSession()->waitUntilAllOperationsAreFinished();
        kpv::RunLoop::main().runOnce();
    }
    std::unique_ptr<CommandHost> commandHost;
};

} // namespace

TEST(NavSaveSession, EveryOrientationIsWrittenUprightWithOrientationOne)
{
    QTemporaryDir dir;
    NavigateSaveFileSession session(nullptr);
    for (int orientation = 1; orientation <= 8; ++orientation) {
        SCOPED_TRACE(orientation);
        const QString png = dir.filePath(QStringLiteral("o%1.png").arg(orientation));
        int code = 99;
        session.beginSaveFile(recordWithOriginal(png, pattern(), orientation), LMImageRotateAngle(), png, std::nullopt,
                              false, {}, [&](int r, const QImage &) { code = r; });
        session.waitUntilAllOperationsAreFinished();
        kpv::RunLoop::main().runOnce();
        ASSERT_EQ(code, 0);
        EXPECT_EQ(rgb(QImage(png)), uprightModel(pattern(), orientation));
    }
    // A JPEG carries the tag: it must say upright.
    const QString jpg = dir.filePath(QStringLiteral("turned.jpg"));
    session.beginSaveFile(recordWithOriginal(jpg, pattern().scaled(48, 32), 7), LMImageRotateAngle(90, 0, 0), jpg,
                          std::nullopt, false, {}, {});
    session.waitUntilAllOperationsAreFinished();
    kpv::RunLoop::main().runOnce();
    auto source = kpv::ImageSource::createWithFile(jpg);
    ASSERT_TRUE(source);
    EXPECT_EQ(source->propertiesAtIndex(0).value(QString::fromLatin1(kpv::kCGImagePropertyOrientation), 1).toInt(), 1);
}

// Save As to a name that was free when chosen, or to a file the user agreed to replace: another
// program writing there in the meantime keeps its file, and the save is told failed.
TEST(NavSaveSession, SaveAsLeavesAFileThatAppearedOrChangedMeanwhile)
{
    QTemporaryDir dir;
    NavigateSaveFileSession session(nullptr);
    const QString agreed = dir.filePath("agreed.png");
    ASSERT_TRUE(pattern().save(agreed));
    LMSaveStages::setObserverForTesting([](LMSaveStages::Stage stage, const QString &path) {
        if (stage == LMSaveStages::Preparing)
            QImage(9, 9, QImage::Format_RGB32).save(path); // another program, at either name
    });
    for (const QString &to : {dir.filePath("fresh.png"), agreed}) {
        SCOPED_TRACE(to.toStdString());
        int code = 99;
        session.beginSaveFile(recordWithOriginal(dir.filePath("src.png"), pattern(), 1), LMImageRotateAngle(90, 0, 0),
                              to, std::nullopt, false, {}, [&](int r, const QImage &) { code = r; });
        session.waitUntilAllOperationsAreFinished();
        kpv::RunLoop::main().runOnce();
        EXPECT_EQ(code, NavigateSaveFileSession::Failed);
        EXPECT_EQ(QImage(to).size(), QSize(9, 9));
    }
    LMSaveStages::setObserverForTesting({});
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden).size(), 2); // no temporary file
}

TEST(NavSaveSession, UserTurnAfterOrientationAndRefusals)
{
    QTemporaryDir dir;
    NavigateSaveFileSession session(nullptr);
    // Orientation 6 turned back by the user: stored pixels unchanged.
    QImage produced;
    int code = 99;
    bool began = false;
    session.beginSaveFile(recordWithOriginal(dir.filePath("a.png"), pattern(), 6), LMImageRotateAngle(270, 0, 0),
                          QString(), std::nullopt, true, [&] { began = true; },
                          [&](int r, const QImage &i) { code = r; produced = i; });
    session.waitUntilAllOperationsAreFinished();
    kpv::RunLoop::main().runOnce();
    EXPECT_EQ(code, 0);
    EXPECT_TRUE(began); // an image was wanted back
    EXPECT_EQ(rgb(produced), pattern());

    // No record, or neither a path nor an image wanted: -1 at once.
    code = 99;
    session.beginSaveFile(nullptr, {}, dir.filePath("x.png"), std::nullopt, false, {}, [&](int r, const QImage &) { code = r; });
    EXPECT_EQ(code, -1);
    code = 99;
    session.beginSaveFile(recordWithOriginal("y.png", pattern(), 1), {}, QString(), std::nullopt, false, {},
                          [&](int r, const QImage &) { code = r; });
    EXPECT_EQ(code, -1);

    // A failed write (unknown type) leaves an existing file untouched.
    const QString keep = dir.filePath("keep.xyz");
    { QFile f(keep); ASSERT_TRUE(f.open(QIODevice::WriteOnly)); f.write("original"); }
    session.beginSaveFile(recordWithOriginal(keep, pattern(), 1), LMImageRotateAngle(90, 0, 0), keep, std::nullopt,
                          false, {}, [&](int r, const QImage &) { code = r; });
    session.waitUntilAllOperationsAreFinished();
    kpv::RunLoop::main().runOnce();
    EXPECT_EQ(code, -1);
    QFile f(keep);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    EXPECT_EQ(f.readAll(), QByteArray("original"));

    // A photo whose whole picture was never read, moved away since: the failure says why.
    auto gone = std::make_shared<LMNavFileInfo>(LMPathString(dir.filePath("gone.png"), false));
    gone->setImgBaseInfo(recordWithOriginal(dir.filePath("gone.png"), pattern(), 1)->imgBaseInfo());
    session.beginSaveFile(gone, LMImageRotateAngle(90, 0, 0), dir.filePath("copy.png"), std::nullopt, false, {},
                          [&](int r, const QImage &) {
                              code = r;
                              EXPECT_TRUE(session.lastError().contains("moved or removed by another program"))
                                  << session.lastError().toStdString();
                          });
    session.waitUntilAllOperationsAreFinished();
    kpv::RunLoop::main().runOnce();
    EXPECT_EQ(code, -1);
    EXPECT_FALSE(QFileInfo::exists(dir.filePath("copy.png")));
}

TEST_F(CommandTest, DeleteMovesToTrashAndNavigatesOn)
{
    openReal({"a.png", "b.png", "c.png"});
    Recorder rec(controller.get());
    controller->deleteCurFile();
    ASSERT_EQ(commandHost->workspace.recycled.size(), 1);
    EXPECT_EQ(rec.count("filesDeleted"), 1);
    EXPECT_TRUE(commandHost->alerts.isEmpty()); // no question asked
    EXPECT_EQ(controller->fileCount(), 2);
    EXPECT_EQ(controller->curFilePath(), paths[1]);

    // A refused file: the alert names the failure, and only what went is reported.
    rec.clear();
    commandHost->workspace.refuse.insert(paths[2].path());
    controller->deleteFiles({paths[1], paths[2]});
    EXPECT_EQ(commandHost->alerts.size(), 1);
    EXPECT_TRUE(commandHost->alerts[0].startsWith("IDS_FailedDeleteFile"));
    ASSERT_EQ(rec.count("filesDeleted"), 1);
    EXPECT_EQ(rec.infos[rec.names.indexOf("filesDeleted")].value("filePathList").value<QList<LMPathString>>(),
              QList<LMPathString>{paths[1]});
    EXPECT_EQ(controller->curFilePath(), paths[2]);

    // The user cancelled: no alert, nothing posted for an empty list.
    rec.clear();
    commandHost->workspace.failCode = kpv::WorkspaceServices::kUserCancelledError;
    controller->deleteFiles({paths[2]});
    EXPECT_EQ(commandHost->alerts.size(), 1);
    EXPECT_EQ(rec.count("filesDeleted"), 0);
}

// Undo Move to Trash against the desktop's real trash in a scratch home: the photos come back
// byte for byte where they were and the first is shown; a file that took a name meanwhile is
// replaced only when the user says so, and then goes to the trash itself.
class UndoTrashTest : public CommandTest {
protected:
    void SetUp() override
    {
        CommandTest::SetUp();
        ASSERT_TRUE(home.isValid());
        qputenv("HOME", QFile::encodeName(home.path()));
        qunsetenv("XDG_DATA_HOME");
        commandHost->systemWorkspace = &system;
    }
    void TearDown() override
    {
        CommandTest::TearDown();
        savedHome.isEmpty() ? qunsetenv("HOME") : qputenv("HOME", savedHome);
        savedData.isEmpty() ? qunsetenv("XDG_DATA_HOME") : qputenv("XDG_DATA_HOME", savedData);
    }
    static QByteArray sum(const QString &path)
    {
        QFile f(path);
        return f.open(QIODevice::ReadOnly) ? QCryptographicHash::hash(f.readAll(), QCryptographicHash::Sha256) : "gone";
    }
    void writeFile(const QString &path, const QByteArray &bytes)
    {
        QFile f(path);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        f.write(bytes);
    }
    QByteArray savedHome = qgetenv("HOME");
    QByteArray savedData = qgetenv("XDG_DATA_HOME");
    QTemporaryDir home;
    kpv::SystemWorkspaceServices system;
};

TEST_F(UndoTrashTest, PhotosComeBackFromTheHomeTrashAndNothingIsReplacedUnasked)
{
    openReal({"a.png", "b.png", "c.png"});
    const QByteArray before = sum(paths[0].path());
    EXPECT_FALSE(controller->canDoAction(NavigateController::kUndoMoveToTrashAction));
    controller->deleteCurFile();
    ASSERT_FALSE(QFileInfo::exists(paths[0].path()));
    const QString trashed = home.filePath(".local/share/Trash/files/a.png");
    ASSERT_TRUE(QFileInfo::exists(trashed));
    ASSERT_TRUE(controller->canDoAction(NavigateController::kUndoMoveToTrashAction));

    controller->undoMoveToTrash();
    commandHost->runQueue(*controller);
    EXPECT_EQ(sum(paths[0].path()), before);
    EXPECT_FALSE(QFileInfo::exists(trashed));
    EXPECT_FALSE(QFileInfo::exists(home.filePath(".local/share/Trash/info/a.png.trashinfo")));
    EXPECT_EQ(controller->curFilePath(), paths[0]) << "the photo put back is shown";
    EXPECT_EQ(controller->fileCount(), 3);
    EXPECT_FALSE(controller->canDoAction(NavigateController::kUndoMoveToTrashAction));
    EXPECT_TRUE(commandHost->alerts.isEmpty());

    // Another file took b.png's name meanwhile: the user is asked, and No changes nothing.
    controller->deleteFiles({paths[1]});
    const QByteArray trashedB = sum(home.filePath(".local/share/Trash/files/b.png"));
    writeFile(paths[1].path(), "a newer file under the same name");
    const QByteArray newcomer = sum(paths[1].path());
    commandHost->alertAnswer = 0;
    controller->undoMoveToTrash();
    ASSERT_EQ(commandHost->alerts.size(), 1);
    EXPECT_TRUE(commandHost->alerts[0].startsWith("IDS_UndoTrashOccupied_Fmt")) << commandHost->alerts[0].toStdString();
    EXPECT_EQ(sum(paths[1].path()), newcomer);
    EXPECT_EQ(sum(home.filePath(".local/share/Trash/files/b.png")), trashedB);
    EXPECT_TRUE(controller->canDoAction(NavigateController::kUndoMoveToTrashAction)) << "undo stays offered";

    // Yes: the photo comes back and the newcomer is in the trash, not lost.
    commandHost->alertAnswer = 1;
    controller->undoMoveToTrash();
    commandHost->runQueue(*controller);
    EXPECT_EQ(sum(paths[1].path()), trashedB);
    QList<QByteArray> inTrash;
    for (const QFileInfo &f : QDir(home.filePath(".local/share/Trash/files")).entryInfoList(QDir::Files))
        inTrash << sum(f.filePath());
    EXPECT_EQ(inTrash, QList<QByteArray>{newcomer});
    EXPECT_FALSE(controller->canDoAction(NavigateController::kUndoMoveToTrashAction));
}

// Each Undo puts back the move before the one it undid, the latest first, a batch as a batch.
TEST_F(UndoTrashTest, UndoWalksBackThroughTheMovesOfThisRun)
{
    openReal({"a.png", "b.png", "c.png"});
    controller->deleteFiles({paths[0]});
    controller->deleteFiles({paths[1], paths[2]});
    commandHost->runQueue(*controller);
    for (const LMPathString &p : paths)
        ASSERT_FALSE(QFileInfo::exists(p.path()));

    controller->undoMoveToTrash();
    commandHost->runQueue(*controller);
    EXPECT_FALSE(QFileInfo::exists(paths[0].path())) << "only the latest move comes back";
    EXPECT_TRUE(QFileInfo::exists(paths[1].path()));
    EXPECT_TRUE(QFileInfo::exists(paths[2].path()));
    ASSERT_TRUE(controller->canDoAction(NavigateController::kUndoMoveToTrashAction));

    controller->undoMoveToTrash();
    commandHost->runQueue(*controller);
    EXPECT_TRUE(QFileInfo::exists(paths[0].path()));
    EXPECT_EQ(controller->curFilePath(), paths[0]);
    EXPECT_EQ(controller->fileCount(), 3);
    EXPECT_FALSE(controller->canDoAction(NavigateController::kUndoMoveToTrashAction));
    EXPECT_TRUE(commandHost->alerts.isEmpty());
}

// Ctrl+Z and Ctrl+T pressed while "Saving…" shows, the viewer about to step on: the menu's keys
// reach their commands past the input the save holds back. Undo showed the photo put back and the
// step then went past it; the grid opened on the photo being written while the viewer stepped on
// behind it. Both now wait for the save and the step.
TEST_F(UndoTrashTest, UndoAndTheGridAskedForWhileATurnIsSavedComeAfterTheSave)
{
    openReal({"a.png", "b.png", "c.png"});
    controller->deleteFiles({paths[1]});
    commandHost->runQueue(*controller);
    ASSERT_EQ(controller->curFilePath(), paths[0]);
    LMNavFileInfoPtr info = controller->curFileInfo();
    ASSERT_TRUE(info);
    info->setImage(std::make_shared<LMImage>(pattern(), info->imgBaseInfo()), false, 1, 0);
    controller->rotateCurFile(2);
    view.endRotate();
    controller->doNavCurFileToNext(true, false, {});
    ASSERT_GT(controller->navigateSaveFileSession()->runningSaves(), 0);

    controller->undoMoveToTrash();
    controller->switchToThumbView();
    EXPECT_EQ(controller->curFilePath(), paths[0]) << "the photo being written stays until its save ends";
    EXPECT_FALSE(QFileInfo::exists(paths[1].path()));
    EXPECT_TRUE(commandHost->setShowModeCalls.empty());

    finishSaves();
    commandHost->runQueue(*controller);
    EXPECT_EQ(rgb(QImage(paths[0].path())), rgb(pattern().transformed(QTransform().rotate(90))));
    EXPECT_TRUE(QFileInfo::exists(paths[1].path()));
    EXPECT_EQ(controller->curFilePath(), paths[1]) << "the photo put back is the one shown";
    EXPECT_EQ(commandHost->setShowModeCalls, std::vector<int64_t>{NavShowModeThumbnail});
    EXPECT_TRUE(commandHost->alerts.isEmpty());
}

// A photo whose name is not UTF-8 (Latin-1 "café") comes back under its very bytes.
TEST_F(UndoTrashTest, APhotoWhoseNameIsNotUtf8ComesBack)
{
    const QByteArray native = QFile::encodeName(dir.path()) + "/caf\xe9.png";
    QByteArray bytes;
    ASSERT_NO_FATAL_FAILURE(writePatternAt(native, &bytes));
    paths = {LMPathString(kpv::decodeFileName(native), false)};
    controller->openFilePaths(paths, {}, false);
    commandHost->runQueue(*controller);
    controller->deleteCurFile();
    commandHost->runQueue(*controller);
    ASSERT_NE(::access(native.constData(), F_OK), 0) << "the photo did not go to the trash";

    controller->undoMoveToTrash();
    commandHost->runQueue(*controller);
    EXPECT_TRUE(commandHost->alerts.isEmpty()) << commandHost->alerts.join(";").toStdString();
    FILE *f = std::fopen(native.constData(), "rb");
    ASSERT_TRUE(f) << "the photo did not come back under its name";
    QByteArray back(int(bytes.size()) + 16, '\0');
    back.truncate(qsizetype(std::fread(back.data(), 1, size_t(back.size()), f)));
    std::fclose(f);
    EXPECT_EQ(back, bytes);
    EXPECT_EQ(controller->curFilePath(), paths[0]) << "the photo put back is shown";
    EXPECT_TRUE(QDir(home.filePath(".local/share/Trash/info")).isEmpty());
    EXPECT_EQ(::unlink(native.constData()), 0);
}

TEST_F(UndoTrashTest, PhotoComesBackFromAnotherVolumesTrash)
{
    const QString mountPoint = dir.filePath("card");
    ASSERT_TRUE(QDir().mkpath(mountPoint));
    kpv::test::SmallTmpfs volume(mountPoint);
    if (!volume.isMounted())
        GTEST_SKIP() << "no right to mount a second volume here";
    ASSERT_TRUE(QDir().mkpath(mountPoint + "/DCIM"));
    const QString photo = mountPoint + "/DCIM/card.png";
    ASSERT_TRUE(pattern().save(photo));
    const QByteArray before = sum(photo);
    controller->openFilePaths({LMPathString(photo, false)}, {}, false);
    commandHost->runQueue(*controller);
    controller->deleteCurFile();
    const QString volumeTrash = mountPoint + "/.Trash-" + QString::number(::getuid());
    ASSERT_TRUE(QFileInfo::exists(volumeTrash + "/files/card.png"));
    // The folder went too; it is made again.
    ASSERT_TRUE(QDir(mountPoint + "/DCIM").removeRecursively());

    controller->undoMoveToTrash();
    commandHost->runQueue(*controller);
    EXPECT_EQ(sum(photo), before);
    EXPECT_FALSE(QFileInfo::exists(volumeTrash + "/files/card.png"));
    EXPECT_FALSE(QFileInfo::exists(volumeTrash + "/info/card.png.trashinfo"));
    EXPECT_EQ(controller->curFilePath().path(), photo);
    EXPECT_TRUE(commandHost->alerts.isEmpty()) << commandHost->alerts.join("; ").toStdString();
}

// A photo that cannot go back (another program put a plain file where its folder was) stays in
// the trash with Undo still offered; once the way is clear the same Undo brings it back.
TEST_F(UndoTrashTest, APhotoThatCouldNotComeBackCanBeTriedAgain)
{
    const QString album = dir.filePath("album");
    ASSERT_TRUE(QDir().mkpath(album));
    const QString photo = album + "/a.png";
    ASSERT_TRUE(pattern().save(photo));
    const QByteArray before = sum(photo);
    controller->openFilePaths({LMPathString(photo, false)}, {}, false);
    commandHost->runQueue(*controller);
    controller->deleteCurFile();
    ASSERT_TRUE(QDir(album).removeRecursively());
    ASSERT_NO_FATAL_FAILURE(writeFile(album, "not a folder"));

    controller->undoMoveToTrash();
    commandHost->runQueue(*controller);
    ASSERT_EQ(commandHost->alerts.size(), 1);
    EXPECT_TRUE(commandHost->alerts[0].startsWith("IDS_UndoTrashFailed")) << commandHost->alerts[0].toStdString();
    EXPECT_TRUE(commandHost->informatives[0].contains("\"a.png\"")) << commandHost->informatives[0].toStdString();
    EXPECT_TRUE(QFileInfo::exists(home.filePath(".local/share/Trash/files/a.png")));
    ASSERT_TRUE(controller->canDoAction(NavigateController::kUndoMoveToTrashAction));

    ASSERT_TRUE(QFile::remove(album));
    controller->undoMoveToTrash();
    commandHost->runQueue(*controller);
    EXPECT_EQ(sum(photo), before);
    EXPECT_FALSE(controller->canDoAction(NavigateController::kUndoMoveToTrashAction));
    EXPECT_EQ(commandHost->alerts.size(), 1);
}

TEST_F(CommandTest, DesktopPictureKeepsTheOldCopyUnlessTheNewOneWasSet)
{
    commandHost->tempRoot = dir.filePath("private");
    const QString cache = commandHost->temporaryDirectoryWithSubDir("DesktopCache");
    auto touch = [](const QString &p) {
        QFile f(p);
        return f.open(QIODevice::WriteOnly) && f.write("x") == 1;
    };
    const QString old = cache + "/1.jpg", next = cache + "/2.jpg";
    ASSERT_TRUE(touch(old) && touch(next));
    commandHost->workspace.desktopImage = old;

    // Refused: the desktop still shows the old copy, which stays; the new copy goes.
    commandHost->workspace.refuseDesktopImage = true;
    commandHost->workspace.desktopImageFailure = "the desktop's settings cannot be stored in this session";
    controller->setDesktopImageForFile(next);
    // The user is told, not left with a command that seemed to do nothing, and why, in a sentence.
    ASSERT_EQ(commandHost->alerts.size(), 1);
    EXPECT_TRUE(commandHost->alerts[0].startsWith("IDS_FailedSetDesktop|IDS_OK|"));
    EXPECT_EQ(commandHost->informatives.value(0), "The desktop's settings cannot be stored in this session.");
    EXPECT_EQ(commandHost->workspace.desktopImage, old);
    EXPECT_TRUE(QFile::exists(old));
    EXPECT_FALSE(QFile::exists(next));

    // Set: the old copy in the cache goes.
    ASSERT_TRUE(touch(next));
    commandHost->workspace.refuseDesktopImage = false;
    controller->setDesktopImageForFile(next);
    EXPECT_EQ(commandHost->workspace.desktopImage, next);
    EXPECT_FALSE(QFile::exists(old));

    // A picture in a folder whose name differs from the cache's only by case is the user's own.
    QDir(commandHost->tempRoot).mkpath("desktopcache");
    const QString users = commandHost->tempRoot + "/desktopcache/mine.jpg";
    ASSERT_TRUE(touch(users));
    commandHost->workspace.desktopImage = users;
    controller->setDesktopImageForFile(next);
    EXPECT_TRUE(QFile::exists(users));
    EXPECT_TRUE(QFile::exists(next));
}

// No cache folder can be made (the temporary folder's disk is full or read-only), or its copy
// cannot be written: a photo that the desktop takes as it is still becomes the picture; a turned
// one, which needs a copy, says why it cannot, where it used to do nothing at all.
TEST_F(CommandTest, DesktopPictureWithoutRoomForItsCopy)
{
    const QString blocker = dir.filePath("private");
    QFile file(blocker);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly)); // a file where the folder would go
    file.close();
    commandHost->tempRoot = blocker;
    openReal({"a.png"});
    controller->setCurFileToDesktop();
    EXPECT_EQ(commandHost->workspace.desktopImage, paths[0].path());
    EXPECT_TRUE(commandHost->alerts.isEmpty());

    commandHost->workspace.desktopImage.clear();
    LMNavFileInfoPtr info = controller->curFileInfo();
    ASSERT_TRUE(info);
    info->setImage(std::make_shared<LMImage>(pattern(), info->imgBaseInfo()), false, 1, 0);
    controller->rotateCurFile(2);
    view.endRotate();
    controller->setCurFileToDesktop();
    ASSERT_EQ(commandHost->alerts.size(), 1);
    EXPECT_TRUE(commandHost->alerts[0].startsWith("IDS_FailedSetDesktop|IDS_OK|"));
    EXPECT_EQ(commandHost->informatives.value(0), "IDS_DesktopCopyNoFolder");
    EXPECT_TRUE(commandHost->workspace.desktopImage.isEmpty());
    EXPECT_EQ(rgb(QImage(paths[0].path())), rgb(pattern())) << "the photo is unchanged";

    // The folder is there but its disk is full: the turned copy cannot be written, and that is
    // told too, where nothing at all was said.
    ASSERT_TRUE(QFile::remove(blocker));
    commandHost->alerts.clear();
    commandHost->informatives.clear();
    const QByteArray before = kpv::test::checksum(paths[0].path());
    {
        kpv::test::FileSizeLimit fullDisk(16);
        controller->setCurFileToDesktop();
        for (int i = 0; i < 4; ++i)
            finishSaves();
    }
    ASSERT_EQ(commandHost->alerts.size(), 1) << commandHost->alerts.join("; ").toStdString();
    EXPECT_TRUE(commandHost->alerts[0].startsWith("IDS_FailedSetDesktop|IDS_OK|"));
    EXPECT_FALSE(commandHost->informatives.value(0).isEmpty());
    EXPECT_TRUE(commandHost->workspace.desktopImage.isEmpty());
    EXPECT_EQ(kpv::test::checksum(paths[0].path()), before);
    EXPECT_TRUE(view.angleRotate().isRotatedOrFlipped()) << "the turn is kept";
}

TEST_F(CommandTest, RevealSaysSoWhenNoFileManagerStarts)
{
    openReal({"a.png"});
    controller->revealCurFileInFinder();
    EXPECT_EQ(commandHost->workspace.revealed, QStringList{paths[0].path()});
    EXPECT_TRUE(commandHost->alerts.isEmpty());

    commandHost->workspace.refuseReveal = true;
    controller->revealCurFileInFinder();
    ASSERT_EQ(commandHost->alerts.size(), 1);
    EXPECT_TRUE(commandHost->alerts[0].startsWith("IDS_FileManagerFailed|IDS_OK|"));
}

// A photo whose pixels cannot be read at full size (larger than all decodes may hold) is not
// printed, and the user is told so.
TEST_F(CommandTest, PrintThatCannotReadThePictureSaysSo)
{
    struct NoFullSize : FakeLoader {
        LMImagePtr loadImage(const LMPathString &path, int type, LMFileImgBaseInfoPtr info, const kpv::Operation *o,
                             int *equivalent, const FramesSoFarSink &sink) const override
        {
            return type == 1 ? nullptr : FakeLoader::loadImage(path, type, std::move(info), o, equivalent, sink);
        }
    } noFullSize;
    openRealWith(noFullSize, {"a.png"});
    controller->printCurFile();
    finishSaves();
    ASSERT_EQ(commandHost->alerts.size(), 1);
    EXPECT_TRUE(commandHost->alerts[0].startsWith("IDS_PrintUnreadable|IDS_OK|"));
    controller.reset();
}

// A loader whose photos all say they are `width` x `height`.
struct LoaderOfSize : FakeLoader {
    LoaderOfSize(int w, int h) : width(w), height(h) {}
    LMFileImgBaseInfoPtr loadImgBaseInfo(const LMPathString &path, const kpv::Operation *) const override
    {
        return makeBaseInfo(path, codecType, width, height);
    }
    int width, height;
};

// A panorama far larger than a page is printed from a reduced decode, never read at full size.
TEST_F(CommandTest, APanoramaIsPrintedAtAPagesSize)
{
    LoaderOfSize panorama(100000, 3000);
    for (int type = 1; type <= 11; ++type)
        panorama.sizes[type] = QSizeF(64, 2);  // the pictures the fake makes stay small
    openRealWith(panorama, {"a.png"});
    panorama.loads.clear();
    controller->printCurFile();
    finishSaves();
    EXPECT_TRUE(commandHost->alerts.isEmpty());
    std::vector<int> types;
    for (const auto &load : panorama.loads)
        types.push_back(load.type);
    EXPECT_EQ(std::count(types.begin(), types.end(), 1), 0);
    EXPECT_EQ(std::count(types.begin(), types.end(), 5), 1) << "100,000 / 16 = 6,250 pixels; 1/32 would be too few";
    controller.reset();
}

// A photo larger than a page reaches the print panel at a page's pixels, upright and with the
// user's turn; a small one reaches it as it is.
TEST_F(CommandTest, APrintedPictureHoldsNoMorePixelsThanAPage)
{
    openReal({"a.png"});
    LMNavFileInfoPtr info = controller->curFileInfo();
    const LMFileImgBaseInfoPtr base = info->imgBaseInfo();
    // Stored 5000 x 2000, shown turned a quarter by its orientation.
    const auto turned = std::make_shared<LMFileImgBaseInfo>(base->filePath(), base->imageUTI(), base->AMCMImageType(),
                                                            base->fileModificationDate(), QSizeF(5000, 2000), 6,
                                                            QVariantMap(), base->fileIdentity());
    QImage large(5000, 2000, QImage::Format_RGB32);
    large.fill(Qt::gray);
    info->setImage(std::make_shared<LMImage>(large, turned), false, 1, 0);
    controller->printCurFile();
    finishSaves();
    ASSERT_EQ(commandHost->printed.size(), 1);
    EXPECT_EQ(commandHost->printed[0].size(), QSize(1638, 4096));

    // The user's own turn then lays it back down.
    controller->rotateCurFile(2);
    view.endRotate();
    controller->printCurFile();
    finishSaves();
    ASSERT_EQ(commandHost->printed.size(), 2);
    EXPECT_EQ(commandHost->printed[1].size(), QSize(4096, 1638));

    info->setImage(std::make_shared<LMImage>(pattern(), base), false, 1, 0);
    controller->rotateCurFile(1);
    view.endRotate();
    controller->printCurFile();
    finishSaves();
    ASSERT_EQ(commandHost->printed.size(), 3);
    EXPECT_EQ(rgb(commandHost->printed[2]), pattern());
    EXPECT_TRUE(commandHost->alerts.isEmpty());
    controller.reset();
}

// A copy of a photo far larger than a page, whose whole picture is not held, hands over the
// whole picture, never a reduced one.
TEST_F(CommandTest, ACopyOfAHugePhotoHandsOverItsWholePicture)
{
    LoaderOfSize huge(16000, 12000);
    for (int type = 1; type <= 11; ++type)
        huge.sizes[type] = QSizeF(160 >> std::min(type - 1, 4), 120 >> std::min(type - 1, 4)); // kept small
    openRealWith(huge, {"a.png"});
    controller->copyCurFile();
    finishSaves();
    EXPECT_TRUE(commandHost->alerts.isEmpty());
    ASSERT_EQ(commandHost->pastedSizes.size(), 1);
    EXPECT_EQ(commandHost->pastedSizes[0], QSize(160, 120));
    controller.reset();
}

TEST_F(CommandTest, TurnedWritableFileIsSavedUprightBeforeStepping)
{
    openReal({"a.png", "b.png"});
    LMNavFileInfoPtr info = controller->curFileInfo();
    ASSERT_TRUE(info);
    info->setImage(std::make_shared<LMImage>(pattern(), info->imgBaseInfo()), false, 1, 0);
    controller->rotateCurFile(2); // rotate right
    view.endRotate();
    ASSERT_TRUE(view.angleRotate().isRotatedOrFlipped());
    Recorder rec(controller.get());
    bool stepped = false;
    controller->doNavCurFileToNext(true, false, [&](bool ok) { stepped = ok; });
    EXPECT_EQ(controller->curFileIndex(), 0); // waits for the write
    finishSaves();
    EXPECT_TRUE(stepped);
    EXPECT_EQ(controller->curFileIndex(), 1);
    EXPECT_EQ(rec.count("fileModified"), 1);
    EXPECT_TRUE(commandHost->alerts.isEmpty());
    EXPECT_EQ(rgb(QImage(paths[0].path())), rgb(pattern().transformed(QTransform().rotate(90))));
}

// Ctrl+R pressed again while "Saving…" shows, before the viewer steps on: the photo on screen is
// the one being written, and a turn it took then was left behind, never saved nor asked about.
// Ctrl+S then opened a panel named after this photo that, answered after the step, wrote the next.
TEST_F(CommandTest, MenuKeysPressedWhileTheTurnedPhotoIsSavedWaitForTheSave)
{
    openReal({"a.png", "b.png"});
    LMNavFileInfoPtr info = controller->curFileInfo();
    ASSERT_TRUE(info);
    info->setImage(std::make_shared<LMImage>(pattern(), info->imgBaseInfo()), false, 1, 0);
    controller->rotateCurFile(2);
    view.endRotate();
    ASSERT_TRUE(controller->canDoAction(15));
    controller->doNavCurFileToNext(true, false, {});
    ASSERT_EQ(controller->curFileIndex(), 0);
    EXPECT_FALSE(controller->canDoAction(15)); // the menu item and its key are off meanwhile
    const LMImageRotateAngle before = view.angleRotate();
    controller->rotateCurFile(2);
    view.endRotate();
    EXPECT_EQ(view.angleRotate().angleRotate(), before.angleRotate());
    controller->saveAsCurFile();
    EXPECT_EQ(commandHost->saveAsPanels, 0);
    finishSaves();
    EXPECT_EQ(controller->curFileIndex(), 1);
    EXPECT_EQ(rgb(QImage(paths[0].path())), rgb(pattern().transformed(QTransform().rotate(90))));
}

// The photo bin and the grid hear of a changed photo through "fileModified" and then take its
// pictures from the viewer's records. Listening before the viewer does (the photo bin is made
// first), they must find the new reading already there: after a turn saved into the file, and
// after a turn let go on a photo that another program replaced meanwhile.
TEST_F(CommandTest, WhoHearsOfAChangedPhotoFindsItsNewPictures)
{
    LMImagePtr before;
    QList<bool> staleWhenHeard;
    kpv::NotificationCenter::defaultCenter().addObserver(
        &staleWhenHeard, QStringLiteral("fileModified"), nullptr, [&](const kpv::Notification &n) {
            const LMNavFileInfoPtr record = controller->fileInfoByPath(n.userInfo.value("filePath").value<LMPathString>());
            staleWhenHeard << (record && record->imageByType(8) == before);
        });
    controller = std::make_unique<NavigateController>(&view, commandHost.get(), &loader);
    controller->awakeFromNib();
    openReal({"a.png", "b.png"});
    const auto turnShown = [&] {
        LMNavFileInfoPtr info = controller->curFileInfo();
        info->setImage(std::make_shared<LMImage>(pattern(), info->imgBaseInfo()), false, 1, 0);
        before = std::make_shared<LMImage>(pattern().scaled(4, 4), info->imgBaseInfo());
        info->setImage(before, false, 8, 0);
        controller->rotateCurFile(2);
        view.endRotate();
    };

    // Turned and stepped on: the turn is written into the file.
    turnShown();
    controller->doNavCurFileToNext(true, false, {});
    finishSaves();
    EXPECT_EQ(staleWhenHeard, QList<bool>{false});

    // Turned, then replaced by another program; the user goes on without the turn.
    turnShown();
    const QString incoming = dir.filePath("incoming.png");
    ASSERT_TRUE(QImage(5, 5, QImage::Format_RGB32).save(incoming));
    ASSERT_EQ(::rename(QFile::encodeName(incoming).constData(), QFile::encodeName(paths[1].path()).constData()), 0);
    commandHost->alertAnswer = 0; // Continue
    controller->doNavCurFileToNext(false, false, {});
    finishSaves();
    ASSERT_EQ(commandHost->alerts.size(), 1);
    EXPECT_EQ(staleWhenHeard, (QList<bool>{false, false}));
    kpv::NotificationCenter::defaultCenter().removeObserver(&staleWhenHeard);
}

// Copying a turned photo writes the turned copy first; when that cannot be written (a full disk)
// the user is told and the clipboard is left alone, and a copy that can be made reaches it.
TEST_F(CommandTest, CopyThatCannotBeMadeIsToldAndLeavesTheClipboardAlone)
{
    commandHost->tempRoot = dir.filePath("private");
    openReal({"a.png"});
    LMNavFileInfoPtr info = controller->curFileInfo();
    info->setImage(std::make_shared<LMImage>(pattern(), info->imgBaseInfo()), false, 1, 0);
    controller->rotateCurFile(2);
    view.endRotate();
    {
        kpv::test::FileSizeLimit fullDisk(16);
        controller->copyCurFile();
        finishSaves();
    }
    ASSERT_EQ(commandHost->alerts.size(), 1);
    EXPECT_TRUE(commandHost->alerts[0].startsWith("IDS_FailedCopy|IDS_OK|"));
    EXPECT_TRUE(commandHost->pasteboard.isEmpty());

    controller->copyCurFile();
    finishSaves();
    EXPECT_EQ(commandHost->alerts.size(), 1);
    ASSERT_EQ(commandHost->pasteboard.size(), 1);
    EXPECT_TRUE(commandHost->pasteboard[0].endsWith("a.jpg"));
}

TEST_F(CommandTest, TurnedGifAsksAndContinueStepsWithoutWriting)
{
    openReal({"a.gif", "b.png"});
    const QByteArray before = [&] { QFile f(paths[0].path()); f.open(QIODevice::ReadOnly); return f.readAll(); }();
    view.rotate(2);
    view.endRotate();
    EXPECT_TRUE(controller->isCurFileModifiedAndCannotOverwriteable());
    bool result = true;
    controller->doNavCurFileToNext(true, true, [&](bool ok) { result = ok; });
    ASSERT_EQ(commandHost->alerts.size(), 1);
    EXPECT_EQ(commandHost->alerts[0], "IDS_SAVE_PHOTOTIP|IDS_SAVEAS|IDS_Continue");
    EXPECT_FALSE(result); // went on after a question: the caller does not continue
    EXPECT_EQ(controller->curFileIndex(), 1);
    QFile f(paths[0].path());
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    EXPECT_EQ(f.readAll(), before);

    // Save as chosen but the panel cancelled: the file stays and the block is not called.
    controller->navCurFileToIndex(0, false, false, false);
    view.rotate(2);
    view.endRotate();
    commandHost->alertAnswer = 1;
    bool called = false;
    controller->doNavCurFileToNext(true, false, [&](bool) { called = true; });
    kpv::RunLoop::main().runOnce();
    EXPECT_FALSE(called);
    EXPECT_EQ(controller->curFileIndex(), 0);
}

TEST_F(CommandTest, SaveAsInsertsAfterCurrentAndCancelKeepsList)
{
    openReal({"a.png", "c.png"});
    LMNavFileInfoPtr info = controller->curFileInfo();
    info->setImage(std::make_shared<LMImage>(pattern(), info->imgBaseInfo()), false, 1, 0);
    int result = 99;
    controller->saveAsCurFile(false, [&](int r) { result = r; });
    EXPECT_EQ(result, -2);
    EXPECT_EQ(controller->fileCount(), 2);

    Recorder rec(controller.get());
    commandHost->saveAsPath = dir.filePath("b-copy.png");
    controller->saveAsCurFile(false, [&](int r) { result = r; });
    finishSaves();
    EXPECT_EQ(result, 0);
    EXPECT_EQ(controller->fileCount(), 3);
    EXPECT_EQ(controller->filePaths().at(1).path(), commandHost->saveAsPath);
    EXPECT_EQ(controller->curFileIndex(), 0);
    EXPECT_EQ(rec.count("didChangeFileList"), 1);
    EXPECT_EQ(rec.count("fileModified"), 0); // a new file, not a modified one
}

// Saved under another name, an animated GIF becomes one picture: the user is told, after the
// save, what the new file lacks.
TEST_F(CommandTest, SaveAsOfAnAnimationTellsTheNewFileLacksIt)
{
    openReal({"a.gif"});
    QFile gif(paths[0].path());
    ASSERT_TRUE(gif.open(QIODevice::ReadWrite));
    QByteArray bytes = gif.readAll();
    const QByteArray frame = bytes.mid(19, bytes.size() - 20); // the image descriptor and its data
    bytes.insert(bytes.size() - 1, frame);
    ASSERT_TRUE(gif.seek(0) && gif.write(bytes) == bytes.size());
    gif.close();
    const QByteArray before = kpv::test::checksum(paths[0].path());
    commandHost->saveAsPath = dir.filePath("still.png");
    int result = 99;
    controller->saveAsCurFile(false, [&](int r) { result = r; });
    finishSaves();
    EXPECT_EQ(result, 0);
    EXPECT_TRUE(QFileInfo::exists(commandHost->saveAsPath));
    ASSERT_EQ(commandHost->alerts.size(), 1);
    EXPECT_EQ(commandHost->alerts[0], "IDS_SavedFileLacks|IDS_OK|");
    EXPECT_EQ(commandHost->informatives[0], "IDS_SavedFileLacksInfo");
    EXPECT_EQ(kpv::test::checksum(paths[0].path()), before);
}

// Saved as a BMP into a folder that stores no tags, a photo loses its camera data there and its
// tags beside it: the alert after the save tells both.
TEST_F(CommandTest, SaveAsTellsTheMetadataAndTagsTheNewFileLacks)
{
    const QString path = dir.filePath("a.jpg");
    ASSERT_TRUE(pattern().save(path));
    {
        auto meta = Exiv2::ImageFactory::open(QFile::encodeName(path).toStdString());
        meta->readMetadata();
        Exiv2::ExifData exif;
        exif["Exif.Image.Model"] = "Harbour 7";
        meta->setExifData(exif);
        meta->writeMetadata();
    }
    if (::setxattr(kpv::encodeFileName(path).constData(), "user.xdg.tags", "harbour", 7, 0) != 0)
        GTEST_SKIP() << "this file system keeps no extended attributes";
    paths = {LMPathString(path, false)};
    controller->openFilePaths(paths, {}, false);
    commandHost->runQueue(*controller);
    const QByteArray before = kpv::test::checksum(path);
    kpv::setAttributeSetterForTesting([](int, const char *, const void *, size_t, int) {
        errno = EOPNOTSUPP;
        return -1;
    });
    commandHost->saveAsPath = dir.filePath("a.bmp");
    int result = 99;
    controller->saveAsCurFile(false, [&](int r) { result = r; });
    finishSaves();
    kpv::setAttributeSetterForTesting(nullptr);
    EXPECT_EQ(result, 0);
    EXPECT_TRUE(QFileInfo::exists(commandHost->saveAsPath));
    ASSERT_EQ(commandHost->alerts.size(), 1);
    EXPECT_EQ(commandHost->alerts[0], "IDS_SavedFileLacks|IDS_OK|");
    EXPECT_EQ(commandHost->informatives[0], "IDS_SavedFileLacksInfo IDS_SavedFileTagsLeftOut");
    EXPECT_EQ(kpv::test::checksum(path), before);
}

TEST_F(CommandTest, SortingAndBatchRenameKeepTheCurrentFile)
{
    open(4);
    controller->navCurFileToIndex(1, false, true, false);
    const LMPathString cur = controller->curFilePath();
    controller->sortFiles(0x1001); // by name, descending
    EXPECT_EQ(controller->curFilePath(), cur);
    EXPECT_EQ(controller->curFileIndex(), 2);
    EXPECT_EQ(config->sortByType(), 0x1001);
    // The same order again does nothing.
    Recorder rec(controller.get());
    controller->sortFiles(0x1001);
    EXPECT_TRUE(rec.names.isEmpty());

    const LMPathString renamed(QStringLiteral("/nonexistent/photos/renamed.jpg"), false);
    QHash<LMPathString, LMPathString> map{{cur, renamed}};
    controller->didFilesBatchRenamed(map);
    EXPECT_EQ(controller->curFilePath(), renamed);
    EXPECT_EQ(controller->filePaths().at(controller->curFileIndex()), renamed);
    EXPECT_EQ(rec.count("didRenameCurrentFile"), 1);

    // Files outside the list change nothing.
    rec.clear();
    controller->didFilesBatchRenamed({{LMPathString("/elsewhere/x.jpg", false), LMPathString("/elsewhere/y.jpg", false)}});
    EXPECT_TRUE(rec.names.isEmpty());
    EXPECT_EQ(controller->curFilePath(), renamed);
}

// ---- The user's file first ----

TEST_F(CommandTest, TurnedFileReplacedUnderUsAsksAndIsNeverOverwritten)
{
    openReal({"a.png", "b.png"});
    LMNavFileInfoPtr info = controller->curFileInfo();
    ASSERT_TRUE(info && info->imgBaseInfo() && info->imgBaseInfo()->fileIdentity().isValid());
    info->setImage(std::make_shared<LMImage>(pattern(), info->imgBaseInfo()), false, 1, 0);
    view.rotate(2);
    view.endRotate();
    EXPECT_FALSE(controller->isCurFileModifiedAndCannotOverwriteable());

    // Another program saves its own version by rename.
    const QString incoming = dir.filePath("incoming.png");
    QImage(5, 5, QImage::Format_RGB32).save(incoming);
    ASSERT_EQ(::rename(QFile::encodeName(incoming).constData(), QFile::encodeName(paths[0].path()).constData()), 0);
    const QByteArray newer = kpv::test::checksum(paths[0].path());

    EXPECT_TRUE(controller->isCurFileModifiedAndCannotOverwriteable());
    EXPECT_FALSE(controller->curFileOverwriteConcern().isEmpty());
    controller->doNavCurFileToNext(true, false, {});
    finishSaves();
    ASSERT_EQ(commandHost->alerts.size(), 1);
    EXPECT_EQ(commandHost->alerts[0], "IDS_SAVE_PHOTOTIP|IDS_SAVEAS|IDS_Continue");
    EXPECT_EQ(controller->curFileIndex(), 1);
    EXPECT_EQ(kpv::test::checksum(paths[0].path()), newer);
}

TEST_F(CommandTest, ATurnPendingWhenAnotherProgramChangesTheFileIsKeptAndNeverWrittenOverIt)
{
    const auto app = listenForFolderChanges();
    paths = {LMPathString(dir.filePath("a.png"), false), LMPathString(dir.filePath("b.png"), false),
             LMPathString(dir.filePath("c.png"), false)};
    for (const LMPathString &p : paths)
        ASSERT_TRUE(pattern().save(p.path()));
    controller->openFilePaths(paths, {dir.path()}, false);
    commandHost->runQueue(*controller);
    ASSERT_EQ(controller->curFilePath(), paths[0]);
    LMNavFileInfoPtr info = controller->curFileInfo();
    ASSERT_TRUE(info && info->imgBaseInfo());
    info->setImage(std::make_shared<LMImage>(pattern(), info->imgBaseInfo()), false, 1, 0);
    controller->rotateCurFile(2);
    view.endRotate();

    // Another program saves its own version of the photo shown, by rename, and the viewer hears of it.
    const QString incoming = dir.filePath("incoming.png");
    ASSERT_TRUE(QImage(5, 5, QImage::Format_RGB32).save(incoming));
    ASSERT_EQ(::rename(QFile::encodeName(incoming).constData(), QFile::encodeName(paths[0].path()).constData()), 0);
    const QByteArray theirs = kpv::test::checksum(paths[0].path());
    // Then removes another: once the list has lost it, the change before it was heard of too.
    ASSERT_TRUE(QFile::remove(paths[2].path()));
    untilHeard([&] { return controller->fileCount() == 2; });
    ASSERT_EQ(controller->fileCount(), 2);
    EXPECT_EQ(controller->curFilePath(), paths[0]);
    EXPECT_TRUE(view.angleRotate().isRotatedOrFlipped());

    // Stepping asks where the turn goes instead of writing it over the other program's photo.
    controller->doNavCurFileToNext(true, false, {});
    finishSaves();
    ASSERT_EQ(commandHost->alerts.size(), 1);
    EXPECT_EQ(commandHost->alerts[0], "IDS_SAVE_PHOTOTIP|IDS_SAVEAS|IDS_Continue");
    EXPECT_EQ(kpv::test::checksum(paths[0].path()), theirs);
    controller.reset();
}

TEST_F(CommandTest, SaveSessionRefusesAFileChangedAfterItWasDecoded)
{
    const QString path = dir.filePath("race.png");
    ASSERT_TRUE(pattern().save(path));
    auto info = std::make_shared<LMNavFileInfo>(LMPathString(path, false));
    auto base = std::make_shared<LMFileImgBaseInfo>(info->filePath(), QStringLiteral("public.png"), 8,
                                                    info->filePath().dateModified(), QSizeF(3, 2), 1, QVariantMap(),
                                                    kpv::fileIdentity(path));
    info->setImgBaseInfo(base);
    info->setImage(std::make_shared<LMImage>(pattern(), base), false, 1, 0);
    // A second viewer saved first.
    ASSERT_TRUE(QImage(7, 7, QImage::Format_RGB32).save(path + ".new", "PNG"));
    ASSERT_EQ(::rename(QFile::encodeName(path + ".new").constData(), QFile::encodeName(path).constData()), 0);
    const QByteArray theirs = kpv::test::checksum(path);

    NavigateSaveFileSession session(&loader);
    int code = 1;
    session.beginSaveFile(info, LMImageRotateAngle::zeroAngle().angleByIncreaseAngle(90), path, std::nullopt, false, {},
                          [&](int c, const QImage &) { code = c; });
    session.waitUntilAllOperationsAreFinished();
    kpv::RunLoop::main().runOnce();
    EXPECT_EQ(code, NavigateSaveFileSession::Failed);
    EXPECT_EQ(kpv::test::checksum(path), theirs);
    EXPECT_EQ(kpv::test::entriesOf(dir.path()), QStringList{"race.png"});
}

TEST_F(CommandTest, TurnAndSaveKeepsTheFilesMetadata)
{
    // The photos are written whole before they are opened: a write after it would be another
    // program's, which the folder's watch reports at a moment of its own.
    paths = {LMPathString(dir.filePath("a.jpg"), false), LMPathString(dir.filePath("b.png"), false)};
    for (const LMPathString &p : paths)
        ASSERT_TRUE(pattern().save(p.path()));
    {
        auto meta = Exiv2::ImageFactory::open(QFile::encodeName(paths[0].path()).toStdString());
        meta->readMetadata();
        Exiv2::ExifData exif;
        exif["Exif.GPSInfo.GPSLatitudeRef"] = "S";
        exif["Exif.GPSInfo.GPSLatitude"] = std::string("33/1 52/1 0/1");
        meta->setExifData(exif);
        Exiv2::XmpData xmp;
        xmp["Xmp.dc.subject"] = "harbour";
        meta->setXmpData(xmp);
        meta->writeMetadata();
    }
    controller->openFilePaths(paths, {}, false);
    commandHost->runQueue(*controller);
    LMNavFileInfoPtr info = controller->curFileInfo();
    ASSERT_TRUE(info);
    info->setImage(std::make_shared<LMImage>(pattern(), info->imgBaseInfo()), false, 1, 0);
    view.rotate(2);
    view.endRotate();
    controller->doNavCurFileToNext(true, false, {});
    finishSaves();
    EXPECT_TRUE(commandHost->alerts.isEmpty()) << commandHost->alerts.join("; ").toStdString();
    EXPECT_EQ(QImage(paths[0].path()).size(), QSize(2, 3));
    auto meta = Exiv2::ImageFactory::open(QFile::encodeName(paths[0].path()).toStdString());
    meta->readMetadata();
    EXPECT_NE(meta->exifData().findKey(Exiv2::ExifKey("Exif.GPSInfo.GPSLatitude")), meta->exifData().end());
    EXPECT_NE(meta->xmpData().findKey(Exiv2::XmpKey("Xmp.dc.subject")), meta->xmpData().end());
}

TEST_F(CommandTest, TurnedMultiPageTiffAsksInsteadOfDroppingPages)
{
    const QString path = dir.filePath("scan.tif");
    ASSERT_TRUE(kpv::test::writePagesTiff(path, 3));
    const QByteArray before = kpv::test::checksum(path);
    paths = {LMPathString(path, false)};
    controller->openFilePaths(paths, {}, false);
    commandHost->runQueue(*controller);
    view.rotate(2);
    view.endRotate();
    EXPECT_EQ(controller->curFileOverwriteConcern(), "IDS_SaveWouldLose");
    controller->checkAndSaveCurFile(false, {});
    finishSaves();
    ASSERT_EQ(commandHost->alerts.size(), 1);
    EXPECT_EQ(kpv::test::checksum(path), before);
}

TEST_F(CommandTest, TurnThatCannotBeWrittenIsToldAndKeptUntilTheUserLetsItGo)
{
    openReal({"a.png", "b.png"});
    const QByteArray before = turnShownPhoto();
    // Pumps the main loop until the saves and the steps between them are over.
    auto settle = [&] {
        for (int i = 0; i < 4; ++i)
            finishSaves();
    };

    // A full disk: the write fails; the user hears so and keeps the turn (Esc, or Cancel).
    {
        kpv::test::FileSizeLimit fullDisk(16);
        controller->doNavCurFileToNext(true, false, {});
        settle();
    }
    ASSERT_EQ(commandHost->alerts.size(), 1);
    EXPECT_EQ(commandHost->alerts[0], "IDS_FailedSaveTurn|IDS_SAVEAS|IDS_Cancel");
    EXPECT_EQ(controller->curFileIndex(), 0);
    EXPECT_TRUE(view.angleRotate().isRotatedOrFlipped());

    // Save As onto the same full disk is told as well, and the turn is still there.
    commandHost->alerts.clear();
    commandHost->alertAnswer = 1;
    commandHost->saveAsPath = dir.filePath("a-turned.png");
    {
        kpv::test::FileSizeLimit fullDisk(16);
        controller->doNavCurFileToNext(true, false, {});
        settle();
    }
    ASSERT_EQ(commandHost->alerts.size(), 2);
    EXPECT_TRUE(commandHost->alerts[1].startsWith("IDS_FailedSaveAs|IDS_OK|"));
    EXPECT_EQ(controller->curFileIndex(), 0);
    EXPECT_EQ(controller->fileCount(), 2);
    EXPECT_FALSE(QFileInfo::exists(commandHost->saveAsPath));

    // Letting the turn go steps on; the file was never touched.
    commandHost->alerts.clear();
    commandHost->alertAnswer = -1;
    {
        kpv::test::FileSizeLimit fullDisk(16);
        controller->doNavCurFileToNext(true, false, {});
        settle();
    }
    EXPECT_EQ(controller->curFileIndex(), 1);
    EXPECT_EQ(kpv::test::checksum(paths[0].path()), before);
    EXPECT_EQ(kpv::test::entriesOf(dir.path()), (QStringList{"a.png", "b.png"}));

    // Let go where no step follows (a quit): the turn is gone, so closing the window asks nothing.
    view.rotate(2);
    view.endRotate();
    commandHost->alerts.clear();
    int outcome = -1;
    {
        kpv::test::FileSizeLimit fullDisk(16);
        controller->checkAndSaveCurFile(false, [&](int o) { outcome = o; });
        settle();
    }
    EXPECT_EQ(outcome, 2);
    EXPECT_FALSE(view.angleRotate().isRotatedOrFlipped());
    controller->checkAndSaveCurFile(false, [&](int o) { outcome = o; });
    EXPECT_EQ(outcome, 0);
    EXPECT_EQ(commandHost->alerts.size(), 1);
}

TEST_F(CommandTest, SavingATurnBeforeDraggingItOutTellsAWriteThatFailed)
{
    openReal({"a.png", "b.png"});
    const QByteArray before = turnShownPhoto();

    // "Save" in the drag's question onto a full disk: the user hears the write failed and may
    // save elsewhere (here the panel is cancelled); the file is as it was and the turn is kept.
    commandHost->alertAnswer = 1;
    {
        kpv::test::FileSizeLimit fullDisk(16);
        EXPECT_TRUE(controller->beginDraggingSessionAtIndex(0));
        for (int i = 0; i < 4; ++i)
            finishSaves();
    }
    ASSERT_EQ(commandHost->alerts.size(), 2) << commandHost->alerts.join("; ").toStdString();
    EXPECT_TRUE(commandHost->alerts[0].endsWith("|IDS_Save|IDS_Cancel")) << commandHost->alerts[0].toStdString();
    EXPECT_EQ(commandHost->alerts[1], "IDS_FailedSaveTurn|IDS_SAVEAS|IDS_Cancel");
    EXPECT_FALSE(commandHost->informatives[1].isEmpty());
    EXPECT_EQ(commandHost->saveAsPanels, 1);
    EXPECT_TRUE(view.angleRotate().isRotatedOrFlipped());
    EXPECT_EQ(kpv::test::checksum(paths[0].path()), before);
    EXPECT_EQ(kpv::test::entriesOf(dir.path()), (QStringList{"a.png", "b.png"}));

    // Where the write succeeds nothing more is said.
    commandHost->alerts.clear();
    EXPECT_TRUE(controller->beginDraggingSessionAtIndex(0));
    finishSaves();
    EXPECT_EQ(commandHost->alerts.size(), 1);
    EXPECT_NE(kpv::test::checksum(paths[0].path()), before);
}

TEST_F(CommandTest, ATurnSavedAsANewFileOnLeavingIsNotAskedAboutAgain)
{
    openReal({"a.gif", "b.png"});
    const QByteArray before = turnShownPhoto();

    // Quit: the GIF cannot take the turn, the user saves it under another name.
    commandHost->alertAnswer = 1;
    commandHost->saveAsPath = dir.filePath("a-turned.png");
    int outcome = -1;
    controller->checkAndSaveCurFile(false, [&](int o) { outcome = o; });
    for (int i = 0; i < 4; ++i)
        finishSaves();
    EXPECT_EQ(outcome, 5);
    EXPECT_EQ(QImage(commandHost->saveAsPath).size(), QSize(2, 3));

    // The window closing as the program quits checks again: the turn is in the new file.
    controller->checkAndSaveCurFile(false, [&](int o) { outcome = o; });
    EXPECT_EQ(outcome, 0);
    EXPECT_EQ(commandHost->alerts.size(), 1) << commandHost->alerts.join("; ").toStdString();
    EXPECT_EQ(kpv::test::checksum(paths[0].path()), before);
}

TEST_F(CommandTest, TurnOnARealFullDiskIsToldWithTheReason)
{
    const QString mountPoint = dir.filePath("disk");
    ASSERT_TRUE(QDir().mkpath(mountPoint));
    kpv::test::SmallTmpfs disk(mountPoint, 64);
    if (!disk.isMounted())
        GTEST_SKIP() << "no right to mount a tmpfs here; the file-size limit case covers a full disk";
    const QString a = mountPoint + "/a.png", b = mountPoint + "/b.png";
    QImage big(64, 64, QImage::Format_RGB32);
    for (int y = 0; y < 64; ++y)
        for (int x = 0; x < 64; ++x)
            big.setPixel(x, y, qRgb(x * 4, y * 4, (x * y) & 255));
    ASSERT_TRUE(big.save(a) && pattern().save(b));
    {
        QFile filler(mountPoint + "/filler");
        ASSERT_TRUE(filler.open(QIODevice::WriteOnly));
        while (filler.write(QByteArray(4096, 'f')) == 4096 && filler.flush()) {
        }
    }
    paths = {LMPathString(a, false), LMPathString(b, false)};
    controller->openFilePaths(paths, {}, false);
    commandHost->runQueue(*controller);
    controller->curFileInfo()->setImage(std::make_shared<LMImage>(big, controller->curFileInfo()->imgBaseInfo()), false,
                                        1, 0);
    view.rotate(2);
    view.endRotate();
    const QByteArray before = kpv::test::checksum(a);
    controller->doNavCurFileToNext(true, false, {});
    finishSaves();
    ASSERT_EQ(commandHost->alerts.size(), 1);
    EXPECT_EQ(commandHost->alerts[0], "IDS_FailedSaveTurn|IDS_SAVEAS|IDS_Cancel");
    EXPECT_TRUE(controller->navigateSaveFileSession()->lastError().contains("the disk is full"))
        << controller->navigateSaveFileSession()->lastError().toStdString();
    EXPECT_EQ(controller->curFileIndex(), 0);
    EXPECT_EQ(kpv::test::checksum(a), before);
    EXPECT_EQ(kpv::test::entriesOf(mountPoint), (QStringList{"a.png", "b.png", "filler"}));
}

TEST_F(CommandTest, TurnInAReadOnlyFolderAsksBeforeWriting)
{
    openReal({"a.png", "b.png"});
    view.rotate(2);
    view.endRotate();
    const QByteArray before = kpv::test::checksum(paths[0].path());
    ASSERT_TRUE(QFile::setPermissions(dir.path(), QFile::ReadOwner | QFile::ExeOwner));
    {
        kpv::test::NoPermissionOverride asUser;
        EXPECT_TRUE(controller->isCurFileModifiedAndCannotOverwriteable());
        controller->doNavCurFileToNext(true, false, {});
    }
    QFile::setPermissions(dir.path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    ASSERT_EQ(commandHost->alerts.size(), 1);
    EXPECT_EQ(commandHost->alerts[0], "IDS_SAVE_PHOTOTIP|IDS_SAVEAS|IDS_Continue");
    EXPECT_EQ(kpv::test::checksum(paths[0].path()), before);
}

// The question before leaving a turn that cannot go into its file says why, so that the user
// knows what to change: a type that is never written, or a folder that may not be changed.
TEST_F(CommandTest, ATurnThatCannotBeWrittenIsAskedAboutWithTheReason)
{
    openReal({"a.gif", "b.png", "c.png"});
    view.rotate(2);
    view.endRotate();
    controller->doNavCurFileToNext(true, true, {});
    ASSERT_EQ(commandHost->informatives.size(), 1);
    EXPECT_TRUE(commandHost->informatives[0].contains("cannot be written")) << commandHost->informatives[0].toStdString();
    ASSERT_EQ(controller->curFileIndex(), 1);

    view.rotate(2);
    view.endRotate();
    const QByteArray before = kpv::test::checksum(paths[1].path());
    ASSERT_TRUE(QFile::setPermissions(dir.path(), QFile::ReadOwner | QFile::ExeOwner));
    {
        kpv::test::NoPermissionOverride asUser;
        controller->doNavCurFileToNext(true, false, {});
    }
    QFile::setPermissions(dir.path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    ASSERT_EQ(commandHost->informatives.size(), 2);
    EXPECT_EQ(commandHost->informatives[1], "IDS_NoPermissionToSaveFile");
    EXPECT_EQ(kpv::test::checksum(paths[1].path()), before);
}

TEST_F(CommandTest, ANameThatIsNotUtf8IsTurnedAndSavedLikeAnyOther)
{
    // Latin-1 "café.png", as a disk from another system holds it.
    const QByteArray native = QFile::encodeName(dir.path()) + "/caf\xe9.png";
    ASSERT_NO_FATAL_FAILURE(writePatternAt(native));
    paths = {LMPathString(kpv::decodeFileName(native), false), LMPathString(dir.filePath("z.png"), false)};
    pattern().save(paths[1].path());
    controller->openFilePaths(paths, {}, false);
    commandHost->runQueue(*controller);
    LMNavFileInfoPtr info = controller->curFileInfo();
    ASSERT_TRUE(info && info->imgBaseInfo());
    info->setImage(std::make_shared<LMImage>(pattern(), info->imgBaseInfo()), false, 1, 0);
    view.rotate(2);
    view.endRotate();
    controller->doNavCurFileToNext(true, false, {});
    finishSaves();
    EXPECT_TRUE(commandHost->alerts.isEmpty()) << commandHost->alerts.join(";").toStdString();
    EXPECT_EQ(controller->curFileIndex(), 1);
    FILE *f = std::fopen(native.constData(), "rb");
    ASSERT_TRUE(f) << "the file is no longer where its bytes say";
    QByteArray written(4096, '\0');
    written.truncate(qsizetype(std::fread(written.data(), 1, size_t(written.size()), f)));
    std::fclose(f);
    EXPECT_EQ(QImage::fromData(written).size(), QSize(2, 3));
    // Qt's own folder calls cannot see the name: it goes by its bytes before the folder does.
    EXPECT_EQ(::unlink(native.constData()), 0);
    EXPECT_EQ(kpv::test::entriesOf(dir.path()), QStringList{"z.png"}) << "a temporary file was left";
}

TEST_F(CommandTest, ANameThatIsNotUtf8ReachesTheDesktopByItsBytes)
{
    commandHost->tempRoot = dir.filePath("private");
    // Latin-1 "café", and a name with a cut sequence and an encoded surrogate.
    for (const QByteArray &name : {QByteArray("caf\xe9.png"), QByteArray("x\xc3(y\xed\xa0\x80.png")}) {
        SCOPED_TRACE(name.toHex().toStdString());
        const QByteArray native = QFile::encodeName(dir.path()) + "/" + name;
        QByteArray bytes;
        ASSERT_NO_FATAL_FAILURE(writePatternAt(native, &bytes));
        paths = {LMPathString(kpv::decodeFileName(native), false)};
        controller->openFilePaths(paths, {}, false);
        commandHost->runQueue(*controller);
        commandHost->alerts.clear();
        commandHost->workspace.revealed.clear();

        // The desktop gets a copy of the very bytes under a plain name it can keep as text.
        controller->setCurFileToDesktop();
        EXPECT_TRUE(commandHost->alerts.isEmpty()) << commandHost->alerts.join(";").toStdString();
        const QString picture = commandHost->workspace.desktopImage;
        EXPECT_TRUE(picture.startsWith(commandHost->tempRoot + "/DesktopCache/")) << picture.toStdString();
        EXPECT_FALSE(kpv::fileNameHasRawBytes(picture));
        QFile copy(picture);
        ASSERT_TRUE(copy.open(QIODevice::ReadOnly));
        EXPECT_EQ(copy.readAll(), bytes);

        // The file manager is asked for the file itself.
        controller->revealCurFileInFinder();
        ASSERT_EQ(commandHost->workspace.revealed.size(), 1);
        EXPECT_EQ(kpv::encodeFileName(commandHost->workspace.revealed[0]), native);
        EXPECT_EQ(::unlink(native.constData()), 0);
    }
}

// A photo beside the shown one that another program writes over in place and then dates back
// keeps its file, size and date. The viewer reads it again all the same, and the photo bin, told
// of it, shows it as it is now rather than the small picture read before.
TEST_F(CommandTest, APhotoWrittenOverInPlaceAndDatedBackIsReadAgain)
{
    const auto app = listenForFolderChanges();
    // The loader here decodes nothing: a reading is known by the file it was read from.
    QImage blue(40, 30, QImage::Format_RGB32), red(40, 30, QImage::Format_RGB32);
    blue.fill(Qt::blue);
    red.fill(Qt::red);
    paths = {LMPathString(dir.filePath("a.bmp"), false), LMPathString(dir.filePath("b.bmp"), false)};
    for (const LMPathString &p : paths)
        ASSERT_TRUE(blue.save(p.path()));
    controller->openFilePaths(paths, {dir.path()}, false);
    commandHost->runQueue(*controller);
    const auto smallPictureOfB = [&] {
        const LMNavFileInfoPtr record = controller->fileInfoByPath(paths[1]);
        return record ? record->imageByType(8) : nullptr;
    };
    const LMImagePtr before = smallPictureOfB();
    ASSERT_TRUE(before);
    QList<LMPathString> told;
    kpv::NotificationCenter::defaultCenter().addObserver(&told, QStringLiteral("fileModified"), nullptr,
                                                         [&](const kpv::Notification &n) {
                                                             told << n.userInfo.value("filePath").value<LMPathString>();
                                                         });
    const auto cleanUp = qScopeGuard([&] { kpv::NotificationCenter::defaultCenter().removeObserver(&told); });

    const QByteArray b = QFile::encodeName(paths[1].path());
    struct stat was {};
    ASSERT_EQ(::stat(b.constData(), &was), 0);
    ASSERT_TRUE(red.save(paths[1].path())); // in place: the same file, written over
    const struct timespec times[2] = {was.st_atim, was.st_mtim};
    ASSERT_EQ(::utimensat(AT_FDCWD, b.constData(), times, 0), 0);
    struct stat after {};
    ASSERT_EQ(::stat(b.constData(), &after), 0);
    ASSERT_EQ(after.st_ino, was.st_ino);
    ASSERT_EQ(after.st_size, was.st_size);
    ASSERT_EQ(after.st_mtim.tv_nsec, was.st_mtim.tv_nsec);

    untilHeard([&] { return told.contains(paths[1]); });
    EXPECT_TRUE(told.contains(paths[1])) << "the bins and the grid are told of the photo";
    commandHost->runQueue(*controller);
    const LMImagePtr now = smallPictureOfB();
    ASSERT_TRUE(now);
    EXPECT_NE(now.get(), before.get()) << "the photo as it is now, not the picture read before";
    EXPECT_EQ(now->originalImgBaseInfo()->fileIdentity().changedSecs, after.st_ctim.tv_sec);
    EXPECT_EQ(now->originalImgBaseInfo()->fileIdentity().changedNsec, after.st_ctim.tv_nsec);
}

TEST_F(CommandTest, ANameThatIsNotUtf8StaysListedWhenAnotherProgramChangesTheFolder)
{
    const auto app = listenForFolderChanges();
    // Latin-1 "café" in a folder opened as a whole.
    const QByteArray native = QFile::encodeName(dir.path()) + "/caf\xe9.png";
    ASSERT_NO_FATAL_FAILURE(writePatternAt(native));
    paths = {LMPathString(kpv::decodeFileName(native), false), LMPathString(dir.filePath("b.png"), false)};
    pattern().save(paths[1].path());
    controller->openFilePaths(paths, {dir.path()}, false);
    commandHost->runQueue(*controller);
    ASSERT_EQ(controller->fileCount(), 2);
    controller->navCurFileToIndex(controller->filePaths().indexOf(paths[0]), false, true, false);
    commandHost->runQueue(*controller);
    ASSERT_EQ(controller->curFilePath(), paths[0]);

    // Another program removes the other photo: it leaves the list; the one shown stays, by its
    // bytes (read as text, its name would be taken for a file that vanished too).
    ASSERT_TRUE(QFile::remove(paths[1].path()));
    untilHeard([&] { return controller->fileCount() != 2; });
    EXPECT_EQ(controller->filePaths(), QList<LMPathString>{paths[0]});
    EXPECT_EQ(controller->curFilePath(), paths[0]);
    EXPECT_EQ(::unlink(native.constData()), 0);
    controller.reset();
}

TEST_F(CommandTest, TurnedFileKeepsTheTypeOfItsBytesWhateverItsName)
{
    // A transparent PNG that someone named .jpg.
    QImage clear(3, 2, QImage::Format_ARGB32);
    clear.fill(qRgba(200, 10, 10, 100));
    clear.setPixel(0, 0, qRgba(0, 0, 255, 0));
    const QString path = dir.filePath("logo.jpg");
    ASSERT_TRUE(clear.save(path, "PNG"));
    paths = {LMPathString(path, false), LMPathString(dir.filePath("z.png"), false)};
    pattern().save(paths[1].path());
    controller->openFilePaths(paths, {}, false);
    commandHost->runQueue(*controller);
    LMNavFileInfoPtr info = controller->curFileInfo();
    ASSERT_TRUE(info && info->imgBaseInfo());
    info->setImage(std::make_shared<LMImage>(clear, info->imgBaseInfo()), false, 1, 0);
    view.rotate(2);
    view.endRotate();
    EXPECT_FALSE(controller->isCurFileModifiedAndCannotOverwriteable());
    const QByteArray before = kpv::test::checksum(path);
    controller->doNavCurFileToNext(true, false, {});
    finishSaves();
    EXPECT_TRUE(commandHost->alerts.isEmpty()) << commandHost->alerts.join(";").toStdString();
    EXPECT_EQ(controller->curFileIndex(), 1);
    EXPECT_NE(kpv::test::checksum(path), before);
    const auto source = kpv::ImageSource::createWithFile(path);
    ASSERT_TRUE(source);
    EXPECT_EQ(source->type(), QStringLiteral("public.png"));
    const QImage written(path, "PNG");
    ASSERT_EQ(written.size(), QSize(2, 3));
    EXPECT_EQ(qAlpha(written.pixel(1, 0)), 0); // the clear corner, turned right
    EXPECT_EQ(qAlpha(written.pixel(0, 0)), 100);
}

TEST_F(CommandTest, EscDuringTheWriteNeverCallsAWrittenFileCancelled)
{
    // Large enough that the write takes a while; Esc comes while the new file is being written.
    QImage big(1800, 1200, QImage::Format_RGB32);
    quint32 seed = 1;
    for (int y = 0; y < big.height(); ++y) {
        auto *line = reinterpret_cast<quint32 *>(big.scanLine(y));
        for (int x = 0; x < big.width(); ++x)
            line[x] = (seed = seed * 1664525u + 1013904223u) | 0xFF000000u;
    }
    const QString path = dir.filePath("big.png");
    ASSERT_TRUE(big.save(path, "PNG", 100));
    paths = {LMPathString(path, false)};
    controller->openFilePaths(paths, {}, false);
    commandHost->runQueue(*controller);
    LMNavFileInfoPtr info = controller->curFileInfo();
    info->setImage(std::make_shared<LMImage>(big, info->imgBaseInfo()), false, 1, 0);
    view.rotate(2);
    view.endRotate();
    const QByteArray before = kpv::test::checksum(path);
    int outcome = -1;
    controller->checkAndSaveCurFile(false, [&](int o) { outcome = o; });
    // Esc as soon as the new file appears beside the old one.
    std::atomic<bool> stop{false};
    std::thread esc([&] {
        while (!stop && kpv::test::entriesOf(dir.path()).size() < 2)
            std::this_thread::yield();
        controller->navigateSaveFileSession()->cancelAll();
    });
    controller->navigateSaveFileSession()->waitUntilAllOperationsAreFinished();
    stop = true;
    esc.join();
    kpv::RunLoop::main().runOnce();
    const bool written = kpv::test::checksum(path) != before;
    if (written) {
        EXPECT_EQ(outcome, 1); // written means written, Esc or not
    } else {
        EXPECT_EQ(outcome, 3);
        EXPECT_TRUE(commandHost->alerts.isEmpty());
    }
}

TEST(NavSaveSession, TurnedJpegIsTransformedWithoutLossForEveryOrientation)
{
    QTemporaryDir dir;
    NavigateSaveFileSession session(nullptr);
    // Grey, 48 x 32 (whole blocks): the block transform is exact, a re-encode is not.
    QImage stored(48, 32, QImage::Format_Grayscale8);
    for (int y = 0; y < 32; ++y)
        for (int x = 0; x < 48; ++x)
            stored.setPixel(x, y, qRgb((x * 37 + y * 91) % 256, 0, 0));
    for (int orientation = 1; orientation <= 8; ++orientation) {
        SCOPED_TRACE(orientation);
        const QString path = dir.filePath(QStringLiteral("o%1.jpg").arg(orientation));
        ASSERT_TRUE(stored.save(path, "JPG", 80));
        {
            auto meta = Exiv2::ImageFactory::open(QFile::encodeName(path).toStdString());
            meta->readMetadata();
            Exiv2::ExifData exif;
            exif["Exif.Image.Orientation"] = uint16_t(orientation);
            exif["Exif.GPSInfo.GPSLatitudeRef"] = "N";
            exif["Exif.GPSInfo.GPSLatitude"] = std::string("52/1 0/1 0/1");
            meta->setExifData(exif);
            meta->writeMetadata();
        }
        const QImage decoded = QImage(path).convertToFormat(QImage::Format_RGB32);
        auto info = std::make_shared<LMNavFileInfo>(LMPathString(path, false));
        auto base = std::make_shared<LMFileImgBaseInfo>(info->filePath(), QStringLiteral("public.jpeg"), 2,
                                                        info->filePath().dateModified(), QSizeF(48, 32), orientation,
                                                        QVariantMap(), kpv::fileIdentity(path));
        info->setImgBaseInfo(base);
        info->setImage(std::make_shared<LMImage>(decoded, base), false, 1, 0);
        const LMImageRotateAngle turn = LMImageRotateAngle::zeroAngle().angleByIncreaseAngle(90);
        const QImage expected = rgb(NavigateSaveFileSession::uprightImage(LMImage(decoded, base), turn));
        int code = 1;
        session.beginSaveFile(info, turn, path, std::nullopt, false, {}, [&](int c, const QImage &) { code = c; });
        session.waitUntilAllOperationsAreFinished();
        kpv::RunLoop::main().runOnce();
        ASSERT_EQ(code, 0);
        // QImage reads the file upright by its tag: the tag must say 1 and the pixels be exact.
        // Quarter turns move the coefficients exactly; only the inverse transform's row-then-
        // column rounding may differ by a level. A second encoding of this noise costs far more.
        const QImage written = rgb(QImage(path));
        ASSERT_EQ(written.size(), expected.size());
        int worst = 0;
        for (int y = 0; y < written.height(); ++y)
            for (int x = 0; x < written.width(); ++x)
                worst = std::max(worst, std::abs(qRed(written.pixel(x, y)) - qRed(expected.pixel(x, y))));
        EXPECT_LE(worst, 2) << "re-encoded instead of transformed";
        auto meta = Exiv2::ImageFactory::open(QFile::encodeName(path).toStdString());
        meta->readMetadata();
        EXPECT_EQ(meta->exifData().findKey(Exiv2::ExifKey("Exif.Image.Orientation"))->toLong(), 1);
        EXPECT_NE(meta->exifData().findKey(Exiv2::ExifKey("Exif.GPSInfo.GPSLatitude")), meta->exifData().end());
    }
}

TEST(NavSaveSession, TransparentPngIsWrittenWithEveryColourLevelItStores)
{
    QTemporaryDir dir;
    NavigateSaveFileSession session(nullptr);
    // Straight-alpha pixels whose levels premultiplying merges: 200 and 199 under alpha 128 are
    // one premultiplied level, and under alpha 0 nothing of the colour is left.
    const int alphas[] = {0, 1, 37, 128, 200, 254, 255};
    QImage stored(7, 3, QImage::Format_RGBA8888);
    for (int y = 0; y < 3; ++y)
        for (int x = 0; x < 7; ++x)
            stored.setPixelColor(x, y, QColor(200 - y, 199 + y, (17 * x + 3 * y) % 256, alphas[x]));
    const QString source = dir.filePath("clear.png");
    ASSERT_TRUE(stored.save(source, "PNG"));
    const QImage shown = kpv::ImageSource::createWithFile(source)->createImageAtIndex(0);
    ASSERT_EQ(shown.format(), QImage::Format_RGBA8888_Premultiplied);

    auto info = std::make_shared<LMNavFileInfo>(LMPathString(source, false));
    auto base = std::make_shared<LMFileImgBaseInfo>(info->filePath(), QStringLiteral("public.png"), 8,
                                                    info->filePath().dateModified(), QSizeF(7, 3), 1, QVariantMap(),
                                                    kpv::fileIdentity(source));
    info->setImgBaseInfo(base);
    info->setImage(std::make_shared<LMImage>(shown, base), false, 1, 0);
    const auto saveAs = [&](const QString &name, const LMImageRotateAngle &turn) {
        const QString path = dir.filePath(name);
        int code = 1;
        session.beginSaveFile(info, turn, path, std::nullopt, false, {}, [&](int c, const QImage &) { code = c; });
        session.waitUntilAllOperationsAreFinished();
        kpv::RunLoop::main().runOnce();
        EXPECT_EQ(code, 0);
        return QImage(path).convertToFormat(QImage::Format_RGBA8888);
    };

    EXPECT_EQ(saveAs("copy.png", LMImageRotateAngle()), stored);
    // A turn moves the stored pixels; it changes none of them.
    EXPECT_EQ(saveAs("turned.png", LMImageRotateAngle::zeroAngle().angleByIncreaseAngle(90)),
              stored.transformed(QTransform().rotate(90)));

    // A file that no longer holds what was shown: the shown pixels are written, not the new file's.
    QImage other = stored;
    other.fill(QColor(1, 2, 3, 90));
    ASSERT_TRUE(other.save(source, "PNG"));
    const QImage written = saveAs("after.png", LMImageRotateAngle());
    EXPECT_EQ(written.convertToFormat(QImage::Format_RGBA8888_Premultiplied), shown);
}

namespace {

// Samples of 16 bits that 8 bits cannot hold, different in every pixel; with `alpha`, a
// transparent stripe.
QImage deepSamples(int width, int height, bool alpha)
{
    QImage image(width, height, alpha ? QImage::Format_RGBA64 : QImage::Format_RGBX64);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            image.setPixelColor(x, y, QColor::fromRgba64(quint16(x * 701 + 3), quint16(y * 977 + 5), quint16(x * y * 13 + 7),
                                                         alpha && x % 7 == 0 ? quint16(y * 1000 + 1) : 0xffff));
    return image;
}

// An RGBA TIFF of 16 bits a sample, LZW-coded, as a scanner or an editor leaves one.
bool writeDeepTiff(const QString &path, const QImage &rgba64)
{
    TIFF *tif = TIFFOpen(QFile::encodeName(path).constData(), "w");
    if (!tif)
        return false;
    const uint16_t extra[1] = {EXTRASAMPLE_UNASSALPHA};
    TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, uint32_t(rgba64.width()));
    TIFFSetField(tif, TIFFTAG_IMAGELENGTH, uint32_t(rgba64.height()));
    TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, 16);
    TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, 4);
    TIFFSetField(tif, TIFFTAG_EXTRASAMPLES, 1, extra);
    TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_RGB);
    TIFFSetField(tif, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
    TIFFSetField(tif, TIFFTAG_COMPRESSION, COMPRESSION_LZW);
    TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, 8);
    bool ok = true;
    for (int y = 0; ok && y < rgba64.height(); ++y) {
        QByteArray row(reinterpret_cast<const char *>(rgba64.constScanLine(y)), rgba64.width() * 8);
        ok = TIFFWriteScanline(tif, row.data(), uint32_t(y), 0) == 1;
    }
    TIFFClose(tif);
    return ok;
}

// The decode budget at another size while it lives.
struct BudgetOf {
    explicit BudgetOf(std::uint64_t bytes) : was(kpv::DecodeBudget::shared().setCapacity(bytes)) {}
    ~BudgetOf() { kpv::DecodeBudget::shared().setCapacity(was); }
    std::uint64_t was;
};

} // namespace

// Photos of 16 bits per channel larger than the decode budget holds whole at that depth, turned
// or mirrored and saved on the way to the next photo: each is turned a band at a time and keeps
// its depth, every sample in its turned place, its metadata, mode and extended attributes. On a
// full disk the save is told, and the photo stays byte for byte as it was.
TEST_F(CommandTest, ASixteenBitPhotoTooLargeToHoldWholeIsTurnedAndKeepsEverything)
{
    const QString png = dir.filePath("deep.png"), tif = dir.filePath("deep.tif");
    const QImage opaque = deepSamples(90, 60, false), clear = deepSamples(90, 60, true);
    ASSERT_TRUE(opaque.save(png));
    ASSERT_TRUE(writeDeepTiff(tif, clear));
    bool tagged = true;
    for (const QString &p : {png, tif}) {
        auto meta = Exiv2::ImageFactory::open(QFile::encodeName(p).toStdString());
        meta->readMetadata();
        Exiv2::ExifData exif = meta->exifData();
        exif["Exif.GPSInfo.GPSLatitudeRef"] = "S";
        exif["Exif.GPSInfo.GPSLatitude"] = std::string("33/1 52/1 0/1");
        meta->setExifData(exif);
        meta->writeMetadata();
        ASSERT_EQ(::chmod(QFile::encodeName(p).constData(), 0640), 0);
        tagged = tagged && ::setxattr(QFile::encodeName(p).constData(), "user.xdg.tags", "harbour", 7, 0) == 0;
    }
    ASSERT_TRUE(pattern().save(dir.filePath("z.png")));
    paths = {LMPathString(png, false), LMPathString(tif, false), LMPathString(dir.filePath("z.png"), false)};
    controller->openFilePaths(paths, {}, false);
    commandHost->runQueue(*controller);
    // Room for a few rows at 16 bits, not for either picture whole.
    BudgetOf budget(90 * 60 * 8 / 2);

    const struct {
        QString path;
        int action;
        QImage expected;
    } turns[] = {{png, RotateActionRight, opaque.transformed(QTransform().rotate(90))},
                 {tif, RotateActionFlipVertical, clear.mirrored(false, true)}};
    for (const auto &turn : turns) {
        SCOPED_TRACE(turn.path.toStdString());
        ASSERT_EQ(controller->curFilePath().path(), turn.path);
        controller->rotateCurFile(turn.action);
        view.endRotate();
        const QByteArray before = kpv::test::checksum(turn.path);
        {
            kpv::test::FileSizeLimit fullDisk(4096);
            commandHost->alertAnswer = 0; // Cancel: the turn stays
            controller->doNavCurFileToNext(true, false, {});
            for (int i = 0; i < 3; ++i)
                finishSaves();
        }
        ASSERT_EQ(commandHost->alerts.size(), 1);
        EXPECT_TRUE(commandHost->alerts.takeFirst().startsWith("IDS_FailedSaveTurn"));
        EXPECT_EQ(kpv::test::checksum(turn.path), before);
        EXPECT_EQ(kpv::test::entriesOf(dir.path()), (QStringList{"deep.png", "deep.tif", "z.png"}));

        controller->doNavCurFileToNext(true, false, {});
        finishSaves();
        EXPECT_TRUE(commandHost->alerts.isEmpty()) << commandHost->alerts.join("; ").toStdString();
        EXPECT_TRUE(kpv::ImageDestination::keepsSixteenBitsOnRewrite(turn.path)) << "the 16 bits were lost";
        const QImage written = kpv::ImageDestination::readSixteenBitPicture(turn.path);
        EXPECT_EQ(written, turn.expected.convertToFormat(QImage::Format_RGBA64));
        auto meta = Exiv2::ImageFactory::open(QFile::encodeName(turn.path).toStdString());
        meta->readMetadata();
        EXPECT_NE(meta->exifData().findKey(Exiv2::ExifKey("Exif.GPSInfo.GPSLatitude")), meta->exifData().end());
        struct stat st {};
        ASSERT_EQ(::stat(QFile::encodeName(turn.path).constData(), &st), 0);
        EXPECT_EQ(st.st_mode & 0777, 0640u);
        if (tagged)
            EXPECT_EQ(::getxattr(QFile::encodeName(turn.path).constData(), "user.xdg.tags", nullptr, 0), 7);
    }
}

namespace {

// Root passes every check of rights. While it lives, this thread (the one that reads the folders)
// gives up that power, only in its effective set, so that a folder without rights is refused to
// it as to any user; false where that cannot be done.
class RefusedLikeAnyUser {
public:
    RefusedLikeAnyUser()
    {
        if (::geteuid() != 0) {
            m_ready = true;
            return;
        }
        if (::syscall(SYS_capget, &m_head, m_saved) != 0)
            return;
        __user_cap_data_struct lowered[2] = {m_saved[0], m_saved[1]};
        lowered[0].effective &= ~((1u << CAP_DAC_OVERRIDE) | (1u << CAP_DAC_READ_SEARCH));
        m_ready = m_lowered = ::syscall(SYS_capset, &m_head, lowered) == 0;
    }
    ~RefusedLikeAnyUser()
    {
        if (m_lowered)
            ::syscall(SYS_capset, &m_head, m_saved);
    }
    bool ready() const { return m_ready; }

private:
    __user_cap_header_struct m_head{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct m_saved[2] = {};
    bool m_ready = false, m_lowered = false;
};

} // namespace

// Another program takes a folder's rights away for a while (a chmod, a backup tool): its photos
// are not taken for removed, and stay listed with the one shown.
TEST_F(CommandTest, APhotoFolderThatCannotBeReadForAWhileKeepsItsPhotos)
{
    const auto app = listenForFolderChanges();
    paths = {LMPathString(dir.filePath("1.png"), false), LMPathString(dir.filePath("2.png"), false)};
    for (const LMPathString &p : paths)
        ASSERT_TRUE(pattern().save(p.path()));
    controller->openFilePaths(paths, {dir.path()}, false);
    commandHost->runQueue(*controller);
    ASSERT_EQ(controller->fileCount(), 2);

    RefusedLikeAnyUser refused;
    if (!refused.ready())
        GTEST_SKIP() << "this process cannot give up root's power over rights";
    const QByteArray folder = QFile::encodeName(dir.path());
    ASSERT_EQ(::chmod(folder.constData(), 0), 0);
    // The change of rights is heard within the wait; the list must not shrink on it.
    untilHeard([&] { return controller->fileCount() != 2; });
    EXPECT_EQ(controller->filePaths(), paths);
    EXPECT_EQ(controller->curFilePath(), paths[0]);
    ::chmod(folder.constData(), 0700);
    controller.reset();
}
