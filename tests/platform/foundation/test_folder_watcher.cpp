// Other programs' changes to watched folders and files, as the kernel tells them, reported once
// each burst has settled on the manual clock.
#include "foundation/Clock.h"
#include "foundation/FolderWatcher.h"
#include "foundation/RunLoop.h"

#include <QCoreApplication>
#include <QFile>
#include <QTemporaryDir>
#include <QThread>
#include <gtest/gtest.h>

#include <cstdio>
#include <vector>

using namespace kpv;

namespace {

class FolderWatcherTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!QCoreApplication::instance())
            new QCoreApplication(argc, argv);
        RunLoop::main().setClock(&clock);
        ASSERT_TRUE(dir.isValid());
    }
    void TearDown() override { RunLoop::main().setClock(nullptr); }

    // Lets the kernel's word arrive, then lets the burst settle.
    void settle()
    {
        for (int i = 0; i < 25; ++i) {
            QCoreApplication::processEvents();
            QThread::msleep(2);
        }
        clock.advance(0.5);
    }

    int argc = 1;
    char name[5] = "test";
    char* argv[2] = {name, nullptr};
    ManualClock clock;
    QTemporaryDir dir;
    std::vector<QStringList> folders, files;
};

TEST_F(FolderWatcherTest, AFileWrittenInPiecesIsToldAgainOnceClosed)
{
    FolderWatcher watcher([&](const QStringList& f, const QStringList& g) {
        folders.push_back(f);
        files.push_back(g);
    });
    watcher.watch({dir.path()}, {});
    ASSERT_EQ(watcher.watchedFolders(), QStringList{dir.path()});

    // A program starts a file, writes part of it and pauses longer than the settling: the folder
    // is told of the new name while the file is still incomplete.
    const QByteArray path = QFile::encodeName(dir.filePath(QStringLiteral("shot.png")));
    FILE* file = std::fopen(path.constData(), "wb");
    ASSERT_TRUE(file);
    const QByteArray half(64 * 1024, 'x');
    std::fwrite(half.constData(), 1, size_t(half.size()), file);
    std::fflush(file);
    settle();
    ASSERT_EQ(folders.size(), 1u);
    EXPECT_EQ(folders[0], QStringList{dir.path()});
    // More writing says nothing yet; closing the finished file tells the folder again.
    std::fwrite(half.constData(), 1, size_t(half.size()), file);
    std::fflush(file);
    settle();
    EXPECT_EQ(folders.size(), 1u);
    std::fclose(file);
    settle();
    ASSERT_EQ(folders.size(), 2u);
    EXPECT_EQ(folders[1], QStringList{dir.path()});
}

TEST_F(FolderWatcherTest, AWatchedFileReplacedByRenameStaysWatched)
{
    const QString shown = dir.filePath(QStringLiteral("shown.jpg")), other = dir.filePath(QStringLiteral("new.tmp"));
    for (const QString& p : {shown, other}) {
        QFile f(p);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("first");
    }
    FolderWatcher watcher([&](const QStringList& f, const QStringList& g) {
        folders.push_back(f);
        files.push_back(g);
    });
    watcher.watch({}, {shown});
    ASSERT_EQ(watcher.watchedFiles(), QStringList{shown});
    // Another program saves by writing a new file and renaming it over the one shown.
    ASSERT_EQ(std::rename(QFile::encodeName(other).constData(), QFile::encodeName(shown).constData()), 0);
    settle();
    ASSERT_EQ(files.size(), 1u);
    EXPECT_EQ(files[0], QStringList{shown});
    EXPECT_EQ(watcher.watchedFiles(), QStringList{shown});
    // The new file is the one watched now: writing it is told.
    {
        QFile f(shown);
        ASSERT_TRUE(f.open(QIODevice::Append));
        f.write("more");
    }
    settle();
    ASSERT_EQ(files.size(), 2u);
    EXPECT_EQ(files[1], QStringList{shown});
    // Watching nothing any more: nothing is told.
    watcher.watch({}, {});
    EXPECT_TRUE(watcher.watchedFiles().isEmpty());
    QFile::remove(shown);
    settle();
    EXPECT_EQ(files.size(), 2u);
}

} // namespace
