// Folder search on temporary folder trees: what is listed, how it is handed over, what a stopped
// or failed search delivers, and that merging batches keeps the order a full sort gives.

#include "Model/PhotoSearchHandler.h"
#include "Model/PhotoSearchTaskInfo.h"
#include "foundation/Operation.h"
#include "foundation/FileReplace.h"
#include "foundation/RunLoop.h"
#include "../../support/FaultInjection.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <csignal>
#include <random>
#include <sys/wait.h>
#include <fcntl.h>
#include <linux/capability.h>
#include <sys/syscall.h>
#include <sys/stat.h>
#include <unistd.h>

// Readable failure messages.
inline void PrintTo(const QString& s, std::ostream* os) { *os << '"' << s.toStdString() << '"'; }

namespace {

const QStringList kExtensions{"jpg", "png", "gif"};

void makeFile(const QString& path)
{
    QDir().mkpath(QFileInfo(path).path());
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly)) << path.toStdString();
}

void makeFiles(const QString& folder, int count, const QString& prefix = "img")
{
    for (int i = 0; i < count; ++i)
        ASSERT_NO_FATAL_FAILURE(makeFile(QString("%1/%2%3.jpg").arg(folder, prefix).arg(i)));
}

void setModificationTime(const QString& path, time_t seconds)
{
    const timespec times[2] = {{seconds, 0}, {seconds, 0}};
    ASSERT_EQ(::utimensat(AT_FDCWD, QFile::encodeName(path).constData(), times, 0), 0);
}

QStringList pathsOf(const QList<LMPathString>& list)
{
    QStringList out;
    for (const LMPathString& p : list)
        out.append(p.path());
    return out;
}

// Records what a search hands to the main thread.
struct Recorder {
    std::vector<qsizetype> listSizes;
    QList<LMPathString> lastList;
    bool completed = false;
    bool accessRefused = false;

    PhotoSearchHandler::ProcessBlock process()
    {
        return [this](const NavSortFileInfoList& list) {
            listSizes.push_back(list.count());
            lastList = list.sortedFilePaths();
        };
    }
    PhotoSearchHandler::CompleteBlock complete()
    {
        return [this](bool refused) {
            completed = true;
            accessRefused = refused;
        };
    }
    void waitForCompletion()
    {
        kpv::RunLoop::main().runWhile([this] { return !completed; });
    }
};

class PhotoSearchTest : public ::testing::Test {
protected:
    PhotoSearchHandler::Environment environment()
    {
        return {[] { return kExtensions; }, [this] { return sortType_; }};
    }
    QString root() const { return QFileInfo(dir_.path()).canonicalFilePath(); }
    LMPathString file(const QString& relative) const { return LMPathString(root() + "/" + relative, false); }

    QTemporaryDir dir_;
    int sortType_ = 1;
};

TEST_F(PhotoSearchTest, FolderOfASingleFileArrivesInOneHandOver)
{
    ASSERT_NO_FATAL_FAILURE(makeFiles(root() + "/album", 450));
    ASSERT_NO_FATAL_FAILURE(makeFile(root() + "/album/chosen.jpg"));
    ASSERT_NO_FATAL_FAILURE(makeFiles(root() + "/album/sub", 10)); // the folder of a file is walked without sub-folders

    PhotoSearchHandler handler(environment());
    const LMPathString chosen = file("album/chosen.jpg");
    const NavSortFileInfoList initial = handler.submitSearchTaskWithSearchedFilePaths({chosen}, {chosen.path()}, true);
    EXPECT_EQ(initial.count(), 1);
    ASSERT_TRUE(handler.needStartSearch());
    EXPECT_TRUE(handler.taskInfo()->needEnumFileParentFolder());

    Recorder rec;
    handler.startSearchWithProcessBlock(rec.process(), rec.complete());
    EXPECT_FALSE(handler.needStartSearch()) << "started once";
    rec.waitForCompletion();

    EXPECT_EQ(rec.listSizes, std::vector<qsizetype>{451});
    EXPECT_FALSE(rec.accessRefused);
    EXPECT_EQ(handler.taskInfo(), nullptr) << "a finished search leaves the handler idle";
    // Sorted by name: img0, img1, img10, img100, ... in numeric order.
    EXPECT_EQ(rec.lastList.front(), file("album/chosen.jpg"));
    EXPECT_EQ(rec.lastList[1], file("album/img0.jpg"));
    EXPECT_EQ(rec.lastList[2], file("album/img1.jpg"));
    EXPECT_EQ(rec.lastList[3], file("album/img2.jpg"));
}

TEST_F(PhotoSearchTest, SubFoldersArriveInBatchesOf200)
{
    ASSERT_NO_FATAL_FAILURE(makeFiles(root() + "/top/a", 150));
    ASSERT_NO_FATAL_FAILURE(makeFiles(root() + "/top/a/deeper", 151));
    ASSERT_NO_FATAL_FAILURE(makeFiles(root() + "/top/b", 100));

    PhotoSearchHandler handler(environment());
    handler.submitSearchTaskWithSearchedFilePaths({}, {root() + "/top"}, true);
    Recorder rec;
    handler.startSearchWithProcessBlock(rec.process(), rec.complete());
    rec.waitForCompletion();
    EXPECT_EQ(rec.listSizes, (std::vector<qsizetype>{200, 400, 401}));
}

TEST_F(PhotoSearchTest, WhatNeedsNoWalkStartsNone)
{
    ASSERT_NO_FATAL_FAILURE(makeFiles(root() + "/top", 3));
    PhotoSearchHandler handler(environment());
    handler.submitSearchTaskWithSearchedFilePaths({file("top/img0.jpg"), file("top/img1.jpg")}, {root() + "/top"},
                                                  false);
    EXPECT_FALSE(handler.needStartSearch());
    EXPECT_FALSE(handler.taskInfo()->needSearchSubFolders());
    // A chosen path that does not exist is not a folder to walk.
    handler.submitSearchTaskWithSearchedFilePaths({}, {root() + "/missing"}, true);
    EXPECT_FALSE(handler.needStartSearch());
}

TEST_F(PhotoSearchTest, NestedChosenFoldersAreWalkedOnce)
{
    ASSERT_NO_FATAL_FAILURE(makeFiles(root() + "/top/sub", 50));
    ASSERT_NO_FATAL_FAILURE(makeFiles(root() + "/top", 20, "t"));
    PhotoSearchHandler handler(environment());
    // The inner folder first: the outer one replaces it.
    handler.submitSearchTaskWithSearchedFilePaths({}, {root() + "/top/sub", root() + "/top", root() + "/top/sub"},
                                                  true);
    Recorder rec;
    handler.startSearchWithProcessBlock(rec.process(), rec.complete());
    rec.waitForCompletion();
    EXPECT_EQ(rec.listSizes, std::vector<qsizetype>{70}) << "one walk, one hand-over";
}

TEST_F(PhotoSearchTest, ListsOnlyVisibleSupportedRegularFiles)
{
    const QString top = root() + "/top";
    ASSERT_NO_FATAL_FAILURE(makeFile(top + "/a.jpg"));
    ASSERT_NO_FATAL_FAILURE(makeFile(top + "/B.JPG"));         // capitals match
    ASSERT_NO_FATAL_FAILURE(makeFile(top + "/c.Png"));
    ASSERT_NO_FATAL_FAILURE(makeFile(top + "/notes.txt"));     // unsupported
    ASSERT_NO_FATAL_FAILURE(makeFile(top + "/noext"));         // no extension
    ASSERT_NO_FATAL_FAILURE(makeFile(top + "/trailing."));     // empty extension
    ASSERT_NO_FATAL_FAILURE(makeFile(top + "/.hidden.jpg"));   // hidden
    ASSERT_NO_FATAL_FAILURE(makeFile(top + "/.cache/x.jpg"));  // inside a hidden folder
    QDir().mkpath(top + "/folder.jpg"); // a folder, whatever its name
    ASSERT_NO_FATAL_FAILURE(makeFile(top + "/folder.jpg/inner.gif"));
    ASSERT_NO_FATAL_FAILURE(makeFile(root() + "/outside/target.jpg"));
    ASSERT_EQ(::symlink(QFile::encodeName(root() + "/outside/target.jpg").constData(),
                        QFile::encodeName(top + "/link.jpg").constData()), 0);
    ASSERT_EQ(::symlink("/nonexistent/gone.jpg", QFile::encodeName(top + "/broken.jpg").constData()), 0);
    ASSERT_EQ(::symlink(QFile::encodeName(root() + "/outside").constData(),
                        QFile::encodeName(top + "/linkdir").constData()), 0);
    ASSERT_EQ(::mkfifo(QFile::encodeName(top + "/pipe.jpg").constData(), 0600), 0);

    auto found = PhotoSearchHandler::EnumDirectoryFiles(QUrl::fromLocalFile(top), true, kExtensions, false);
    ASSERT_TRUE(found.has_value());
    QStringList paths = pathsOf(*found);
    paths.sort();
    QStringList expected{top + "/B.JPG", top + "/a.jpg", top + "/c.Png", top + "/folder.jpg/inner.gif",
                         root() + "/outside/target.jpg"};
    expected.sort();
    EXPECT_EQ(paths, expected);

    // Without sub-folders only the top level; with stop-at-first exactly one file.
    auto flat = PhotoSearchHandler::EnumDirectoryFiles(QUrl::fromLocalFile(top), false, kExtensions, false);
    ASSERT_TRUE(flat.has_value());
    EXPECT_EQ(flat->size(), 4);
    int callbacks = 0;
    auto first = PhotoSearchHandler::EnumDirectoryFiles(QUrl::fromLocalFile(top), true, kExtensions, true, nullptr,
                                                        nullptr, [&](const LMPathString&) { ++callbacks; });
    ASSERT_TRUE(first.has_value());
    EXPECT_EQ(first->size(), 1);
    EXPECT_EQ(callbacks, 1);
}

TEST_F(PhotoSearchTest, EnumerationFailuresAreClear)
{
    PhotoSearchError error;
    EXPECT_FALSE(PhotoSearchHandler::EnumDirectoryFiles(QUrl::fromLocalFile(root() + "/missing"), true, kExtensions,
                                                        false, nullptr, &error));
    EXPECT_EQ(error.code, PhotoSearchError::kFileReadNoSuchFileError);

    ASSERT_NO_FATAL_FAILURE(makeFile(root() + "/empty/readme.txt"));
    error = {};
    EXPECT_FALSE(PhotoSearchHandler::EnumDirectoryFiles(QUrl::fromLocalFile(root() + "/empty"), true, kExtensions,
                                                        false, nullptr, &error));
    EXPECT_EQ(error.code, 0) << "nothing found is not an error";

    ASSERT_NO_FATAL_FAILURE(makeFiles(root() + "/some", 5));
    kpv::Operation cancelled;
    cancelled.cancel();
    EXPECT_FALSE(PhotoSearchHandler::EnumDirectoryFiles(QUrl::fromLocalFile(root() + "/some"), true, kExtensions,
                                                        false, &cancelled));
}

// Root reads any folder through its file-permission overrides. This takes them out of the calling
// thread's effective set for its lifetime (threads started meanwhile inherit the smaller set), so
// that mode bits refuse reads as they do for everyone else. Nothing to do for other users.
class WithoutPermissionOverrides {
public:
    WithoutPermissionOverrides()
    {
        if (::geteuid() != 0)
            return;
        if (::syscall(SYS_capget, &header_, saved_) != 0)
            return;
        __user_cap_data_struct reduced[2] = {saved_[0], saved_[1]};
        reduced[0].effective &= ~((1u << CAP_DAC_OVERRIDE) | (1u << CAP_DAC_READ_SEARCH));
        active_ = ::syscall(SYS_capset, &header_, reduced) == 0;
    }
    ~WithoutPermissionOverrides()
    {
        if (active_)
            ::syscall(SYS_capset, &header_, saved_);
    }
    // True when permissions now refuse reads to this process.
    bool effective() const { return ::geteuid() != 0 || active_; }

private:
    __user_cap_header_struct header_{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct saved_[2]{};
    bool active_ = false;
};

TEST_F(PhotoSearchTest, UnreadableFolderCompletesWithTheFlag)
{
    const WithoutPermissionOverrides asAUser;
    ASSERT_TRUE(asAUser.effective()) << "the permission overrides of root could not be dropped";
    ASSERT_NO_FATAL_FAILURE(makeFile(root() + "/locked/a.jpg"));
    ASSERT_NO_FATAL_FAILURE(makeFile(root() + "/locked/b.jpg"));
    ASSERT_NO_FATAL_FAILURE(makeFiles(root() + "/open/ok", 3));
    ASSERT_NO_FATAL_FAILURE(makeFiles(root() + "/open/shut", 3));
    ASSERT_EQ(::chmod(QFile::encodeName(root() + "/open/shut").constData(), 0), 0);
    ASSERT_EQ(::chmod(QFile::encodeName(root() + "/locked").constData(), 0300), 0); // enter, not list
    struct Restore {
        QString a, b;
        ~Restore()
        {
            ::chmod(QFile::encodeName(a).constData(), 0700);
            ::chmod(QFile::encodeName(b).constData(), 0700);
        }
    } restore{root() + "/locked", root() + "/open/shut"};

    PhotoSearchHandler handler(environment());
    const LMPathString chosen = file("locked/a.jpg");
    handler.submitSearchTaskWithSearchedFilePaths({chosen}, {chosen.path()}, false);
    Recorder rec;
    handler.startSearchWithProcessBlock(rec.process(), rec.complete());
    rec.waitForCompletion();
    EXPECT_TRUE(rec.accessRefused);
    EXPECT_TRUE(rec.listSizes.empty());
    EXPECT_EQ(handler.taskInfo(), nullptr);

    // A chosen folder that cannot be read reports it too, and leaves the handler idle.
    handler.submitSearchTaskWithSearchedFilePaths({}, {root() + "/locked"}, true);
    Recorder rec2;
    handler.startSearchWithProcessBlock(rec2.process(), rec2.complete());
    rec2.waitForCompletion();
    EXPECT_TRUE(rec2.accessRefused);
    EXPECT_EQ(handler.taskInfo(), nullptr);

    // An unreadable sub-folder costs only its own files.
    auto found = PhotoSearchHandler::EnumDirectoryFiles(QUrl::fromLocalFile(root() + "/open"), true, kExtensions, false);
    ASSERT_TRUE(found.has_value());
    EXPECT_EQ(found->size(), 3);
}

TEST_F(PhotoSearchTest, StoppedSearchDeliversNothingMore)
{
    for (int i = 0; i < 20; ++i)
        ASSERT_NO_FATAL_FAILURE(makeFiles(QString("%1/top/d%2").arg(root()).arg(i), 100));

    auto handler = std::make_unique<PhotoSearchHandler>(environment());
    handler->submitSearchTaskWithSearchedFilePaths({}, {root() + "/top"}, true);
    Recorder rec;
    int handOversAfterStop = 0;
    bool stopped = false;
    handler->startSearchWithProcessBlock(
        [&](const NavSortFileInfoList&) {
            if (stopped)
                ++handOversAfterStop;
            stopped = true;
            handler->stopSearch();
        },
        rec.complete());
    kpv::RunLoop::main().runWhile([&] { return !stopped; });
    EXPECT_EQ(handler->taskInfo(), nullptr);

    // The worker may have queued more batches and its completion before it saw the stop. Let it
    // finish, then run everything it queued.
    handler.reset();
    while (kpv::RunLoop::main().runOnce() > 0) {
    }
    EXPECT_EQ(handOversAfterStop, 0);
    EXPECT_FALSE(rec.completed);
}

TEST_F(PhotoSearchTest, ListKeepingBetweenBatches)
{
    ASSERT_NO_FATAL_FAILURE(makeFiles(root() + "/top/sub", 5));
    PhotoSearchHandler handler(environment());
    EXPECT_FALSE(handler.removeFromSearchedFiles({file("x.jpg")})) << "no task";
    EXPECT_EQ(handler.insertToSearchedFiles(file("x.jpg"), file("y.jpg")), 0);

    const LMPathString kept = file("top/kept.jpg");
    handler.submitSearchTaskWithSearchedFilePaths({kept, file("top/gone.jpg")}, {root() + "/top"}, true);
    EXPECT_TRUE(handler.removeFromSearchedFiles({file("top/gone.jpg")}));
    EXPECT_EQ(handler.insertToSearchedFiles(file("top/saved.jpg"), kept), 1);
    EXPECT_TRUE(handler.renameForSearchedFiles({{kept, file("top/renamed.jpg")}}));

    Recorder rec;
    handler.startSearchWithProcessBlock(rec.process(), rec.complete());
    rec.waitForCompletion();
    QStringList names = pathsOf(rec.lastList);
    EXPECT_EQ(names.size(), 7);
    EXPECT_TRUE(names.contains(file("top/saved.jpg").path()));
    EXPECT_TRUE(names.contains(file("top/renamed.jpg").path()));
    EXPECT_FALSE(names.contains(file("top/gone.jpg").path()));
    EXPECT_FALSE(names.contains(kept.path()));
}

// Batches are merged into the sorted list; the outcome must be the list a full sort gives, for
// every sort type, including equal dates (ties broken by name) and descending order.
TEST_F(PhotoSearchTest, MergedBatchesGiveTheFullSortOrder)
{
    std::mt19937 rng(7);
    for (int d = 0; d < 4; ++d) {
        const QString folder = QString("%1/top/F%2").arg(root()).arg(d);
        for (int i = 0; i < 260; ++i) {
            const QString path = QString("%1/%2_%3.jpg").arg(folder, i % 3 ? "Pic" : "pic").arg(rng() % 5000);
            ASSERT_NO_FATAL_FAILURE(makeFile(path));
            ASSERT_NO_FATAL_FAILURE(setModificationTime(path, 1'600'000'000 + time_t(rng() % 40))); // many equal dates
        }
    }
    for (int sortType : {1, 2, 0x1001, 0x1002}) {
        sortType_ = sortType;
        PhotoSearchHandler handler(environment());
        handler.submitSearchTaskWithSearchedFilePaths({}, {root() + "/top"}, true);
        Recorder rec;
        handler.startSearchWithProcessBlock(rec.process(), rec.complete());
        rec.waitForCompletion();
        ASSERT_GT(rec.listSizes.size(), 3u) << "several batches were merged";

        const NavSortFileInfoList fresh(rec.lastList);
        const auto expected = NavSortFileInfoList::sortFiles(rec.lastList, sortType, fresh.dictFileInfos());
        ASSERT_TRUE(expected.has_value());
        EXPECT_EQ(pathsOf(rec.lastList), pathsOf(*expected)) << "sort type " << sortType;
    }
}

} // namespace

// A save killed mid-write (a signal, a power cut) leaves its hidden temporary file beside the
// photo. Listing the folder again removes it once its writer is surely gone, and nothing else:
// not the file of a save still running, not a file whose name only looks alike, not the photo.
TEST_F(PhotoSearchTest, ListingAFolderRemovesWhatKilledSavesLeftAndNothingElse)
{
    const QString top = root() + "/album";
    const QString photo = top + "/photo.jpg";
    ASSERT_TRUE(QDir().mkpath(top));
    {
        QFile f(photo);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(QByteArray(100000, 'p'));
    }
    const QByteArray before = kpv::test::checksum(photo);
    const auto hiddenNames = [&] {
        QStringList names = QDir(top).entryList(QDir::Files | QDir::Hidden);
        names.removeAll("photo.jpg");
        return names;
    };

    // A child that saves the photo and stops just before the rename, until it is killed.
    struct Writer {
        pid_t pid = -1;
        QString temp;
    };
    const auto startWriter = [&]() -> Writer {
        const QStringList earlier = hiddenNames();
        int ready[2];
        if (::pipe(ready) != 0)
            return {};
        std::fflush(nullptr);
        const pid_t pid = ::fork();
        if (pid == 0) {
            kpv::FileReplaceOptions options;
            options.beforeRename = [&](const QString&, QString*) {
                (void)!::write(ready[1], "r", 1);
                for (;;)
                    ::pause();
                return false;
            };
            kpv::replaceFileContents(photo, QByteArray(300000, 'n'), options);
            ::_exit(1);
        }
        ::close(ready[1]);
        char c = 0;
        const bool stopped = ::read(ready[0], &c, 1) == 1;
        ::close(ready[0]);
        Writer w{pid, {}};
        for (const QString& name : hiddenNames())
            if (stopped && !earlier.contains(name))
                w.temp = name;
        return w;
    };
    const auto kill = [](const Writer& w) {
        ::kill(w.pid, SIGKILL);
        int status = 0;
        ::waitpid(w.pid, &status, 0);
    };

    const Writer killed = startWriter();
    const Writer running = startWriter();
    const Writer otherUsers = startWriter();
    ASSERT_FALSE(killed.temp.isEmpty() || running.temp.isEmpty() || otherUsers.temp.isEmpty()) << "no save started";
    kill(killed);
    kill(otherUsers);
    // Another user's leftover is theirs to clear, even where we could.
    const bool rootHere = ::geteuid() == 0;
    if (rootHere)
        ASSERT_EQ(::chown(QFile::encodeName(top + "/" + otherUsers.temp).constData(), 65534, 65534), 0);
    else
        QFile::remove(top + "/" + otherUsers.temp);
    // Names that only look alike: the writer of another machine (a shared folder), an older
    // program's temporary file, a name with something after the writer's mark.
    const QStringList lookalikes{".photo.jpg.kpv-00000000-00000000-1-1.abc", ".photo.jpg.x7k2m",
                                 "." + killed.temp.mid(1) + ".more"};
    const QString otherMachine = QString(killed.temp).replace(QRegularExpression("kpv-[0-9a-f]{8}"), "kpv-00000000");
    for (const QString& name : lookalikes + QStringList{otherMachine})
        ASSERT_NO_FATAL_FAILURE(makeFile(top + "/" + name));

    auto found = PhotoSearchHandler::EnumDirectoryFiles(QUrl::fromLocalFile(top), false, kExtensions, false);
    ASSERT_TRUE(found.has_value());
    EXPECT_EQ(pathsOf(*found), QStringList{photo});
    QStringList expected = lookalikes + QStringList{running.temp, otherMachine};
    if (rootHere)
        expected << otherUsers.temp;
    expected.sort();
    QStringList left = hiddenNames();
    left.sort();
    EXPECT_EQ(left, expected) << "killed save's file: " << killed.temp.toStdString();
    EXPECT_EQ(kpv::test::checksum(photo), before);

    // Once the running save is killed too, its file goes at the next listing.
    kill(running);
    PhotoSearchHandler::EnumDirectoryFiles(QUrl::fromLocalFile(top), false, kExtensions, false);
    EXPECT_FALSE(hiddenNames().contains(running.temp));
    EXPECT_EQ(kpv::test::checksum(photo), before);
}
