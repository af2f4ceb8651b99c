// Batch rename on temporary folders: numbering, names already borne, names taken by files outside
// the list, files of the list moved aside, failures and cancellation.

#include "Edit/BatchRenameWorker.h"

#include "foundation/FileNames.h"
#include "foundation/Operation.h"

#include <QDir>
#include <QFile>
#include <QSet>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cstdio>

namespace {

class BatchRename : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(dir.isValid()); }
    LMPathString make(const QString &name, const QByteArray &content = QByteArray())
    {
        QFile f(dir.filePath(name));
        EXPECT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(content.isEmpty() ? name.toUtf8() : content);
        return LMPathString(dir.filePath(name), false);
    }
    QString contentOf(const QString &name)
    {
        QFile f(dir.filePath(name));
        return f.open(QIODevice::ReadOnly) ? QString::fromUtf8(f.readAll()) : QString();
    }
    QString at(const QString &name) const { return dir.filePath(name); }
    QTemporaryDir dir;
    BatchRenameWorker::RenameMap renamed;
    QList<LMPathString> failed;
};

TEST(BatchRenameNames, BaseIsTrimmedAndCheckedAndExtensionsKeepTheirCase)
{
    EXPECT_EQ(BatchRenameWorker::trimmedNameBase(" \tPhoto_ \t"), "Photo_");
    EXPECT_EQ(BatchRenameWorker::trimmedNameBase("  "), "");
    EXPECT_TRUE(BatchRenameWorker::isUsableNameBase("Photo_"));
    EXPECT_FALSE(BatchRenameWorker::isUsableNameBase(""));
    EXPECT_FALSE(BatchRenameWorker::isUsableNameBase(".hidden"));
    EXPECT_FALSE(BatchRenameWorker::isUsableNameBase("a/b"));
    EXPECT_EQ(BatchRenameWorker::newFileName("c.JPG", "Photo_", 3), "Photo_3.JPG");
    EXPECT_EQ(BatchRenameWorker::newFileName("README", "Photo_", 1), "Photo_1");
}

TEST_F(BatchRename, FilesAreNumberedInListOrderWithProgress)
{
    const QList<LMPathString> src{make("a.jpg"), make("b.png"), make("c.JPG")};
    std::vector<qint64> progress;
    EXPECT_EQ(BatchRenameWorker::renameFilesOnThread(src, " Photo_ ", &renamed, &failed, nullptr,
                                                     [&](qint64 n) { progress.push_back(n); }),
              0);
    EXPECT_TRUE(failed.isEmpty());
    EXPECT_EQ(renamed.value(src[0]).path(), at("Photo_1.jpg"));
    EXPECT_EQ(renamed.value(src[1]).path(), at("Photo_2.png"));
    EXPECT_EQ(renamed.value(src[2]).path(), at("Photo_3.JPG"));
    EXPECT_EQ(contentOf("Photo_2.png"), "b.png");
    EXPECT_EQ(progress, (std::vector<qint64>{1, 2, 3}));
}

TEST_F(BatchRename, NamesAlreadyBorneOrTakenOutsideTheListAreSkipped)
{
    const QList<LMPathString> src{make("Photo_1.jpg"), make("b.jpg"), make("c.jpg")};
    make("Photo_3.jpg", "outsider");
    EXPECT_EQ(BatchRenameWorker::renameFilesOnThread(src, "Photo_", &renamed, &failed, nullptr), 0);
    EXPECT_FALSE(renamed.contains(src[0]));
    EXPECT_EQ(renamed.value(src[1]).path(), at("Photo_2.jpg"));
    EXPECT_EQ(renamed.value(src[2]).path(), at("Photo_4.jpg"));
    EXPECT_EQ(contentOf("Photo_3.jpg"), "outsider");
}

TEST_F(BatchRename, AListFileStandingOnANewNameIsMovedAsideFirst)
{
    const QList<LMPathString> src{make("x.jpg"), make("Photo_1.jpg")};
    EXPECT_EQ(BatchRenameWorker::renameFilesOnThread(src, "Photo_", &renamed, &failed, nullptr), 0);
    EXPECT_TRUE(failed.isEmpty());
    EXPECT_EQ(renamed.value(src[0]).path(), at("Photo_1.jpg"));
    EXPECT_EQ(renamed.value(src[1]).path(), at("Photo_2.jpg"));
    EXPECT_EQ(contentOf("Photo_1.jpg"), "x.jpg");
    EXPECT_EQ(contentOf("Photo_2.jpg"), "Photo_1.jpg");
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files).size(), 2);
}

TEST_F(BatchRename, MissingFilesFailAndUseUpTheirNumber)
{
    const QList<LMPathString> src{LMPathString(at("gone.jpg"), false), make("b.jpg")};
    EXPECT_EQ(BatchRenameWorker::renameFilesOnThread(src, "P", &renamed, &failed, nullptr), 0);
    ASSERT_EQ(failed.size(), 1);
    EXPECT_EQ(failed[0], src[0]);
    EXPECT_EQ(renamed.value(src[1]).path(), at("P2.jpg"));
}

// A file of the list removed by another program while it stood aside fails alone: the files
// renamed before and after it keep their new names.
TEST_F(BatchRename, AMovedAsideFileRemovedMeanwhileFailsAloneAndUndoesNothing)
{
    const QList<LMPathString> src{make("x.jpg"), make("P1.jpg"), make("y.jpg")};
    // Once x.jpg has taken P1.jpg, the list's own P1.jpg stands aside under a temporary name.
    auto removeTheFileAside = [&](qint64 done) {
        if (done != 1)
            return;
        for (const QString &name : QDir(dir.path()).entryList(QDir::Files | QDir::Hidden))
            if (name != "P1.jpg" && name != "y.jpg")
                QFile::remove(at(name));
    };
    EXPECT_EQ(BatchRenameWorker::renameFilesOnThread(src, "P", &renamed, &failed, nullptr, removeTheFileAside), 0);
    ASSERT_EQ(failed, QList<LMPathString>{src[1]});
    EXPECT_FALSE(renamed.contains(src[1]));
    EXPECT_EQ(renamed.value(src[0]).path(), at("P1.jpg"));
    EXPECT_EQ(renamed.value(src[2]).path(), at("P3.jpg"));
    EXPECT_EQ(contentOf("P1.jpg"), "x.jpg");
    EXPECT_EQ(contentOf("P3.jpg"), "y.jpg");
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden).size(), 2);
}

TEST_F(BatchRename, UnusableBaseFailsEveryFileAndCancelRenamesNothing)
{
    const QList<LMPathString> src{make("a.jpg")};
    EXPECT_EQ(BatchRenameWorker::renameFilesOnThread(src, "../evil", &renamed, &failed, nullptr), 0);
    EXPECT_EQ(failed, src);
    EXPECT_TRUE(QFile::exists(at("a.jpg")));

    auto op = std::make_shared<kpv::Operation>();
    op->cancel();
    EXPECT_EQ(BatchRenameWorker::renameFilesOnThread(src, "P", &renamed, &failed, op.get()), -2);
    EXPECT_TRUE(renamed.isEmpty());
    EXPECT_TRUE(failed.isEmpty());
    EXPECT_TRUE(QFile::exists(at("a.jpg")));
}

} // namespace

TEST(BatchRenameCancel, StoppingHalfWayLeavesNoFileUnderAMovedAsideName)
{
    // 40 files numbered the other way round: each new name is held by a later file of the list.
    QTemporaryDir dir;
    QList<LMPathString> src;
    QSet<QString> wanted;
    for (int i = 40; i >= 1; --i) {
        const QString name = QStringLiteral("P%1.jpg").arg(i);
        QFile f(dir.filePath(name));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(name.toUtf8());
        src << LMPathString(dir.filePath(name), false);
        wanted << name;
    }
    auto op = std::make_shared<kpv::Operation>();
    BatchRenameWorker::RenameMap renamed;
    QList<LMPathString> failed;
    EXPECT_EQ(BatchRenameWorker::renameFilesOnThread(src, "P", &renamed, &failed, op.get(),
                                                     [&](qint64 done) {
                                                         if (done == 7)
                                                             op->cancel();
                                                     }),
              -2);
    // Every file is under its old name or its new one, and what is reported is what happened.
    const QStringList names = QDir(dir.path()).entryList(QDir::Files);
    EXPECT_EQ(names.size(), 40);
    for (const QString &name : names)
        EXPECT_TRUE(wanted.contains(name)) << name.toStdString();
    for (const LMPathString &s : src) {
        const QString now = renamed.contains(s) ? renamed.value(s).path() : s.path();
        QFile f(now);
        ASSERT_TRUE(f.open(QIODevice::ReadOnly)) << now.toStdString();
        EXPECT_EQ(f.readAll(), LMPathString::lastPathComponent(s.path()).toUtf8());
    }
}

// Names that are not UTF-8 (Latin-1, a cut sequence) are renamed by their bytes, contents kept.
TEST_F(BatchRename, NamesThatAreNotUtf8AreRenamedLikeAnyOther)
{
    QList<LMPathString> src;
    for (const QByteArray &name : {QByteArray("caf\xe9.jpg"), QByteArray("x\xc3(y.png")}) {
        const QByteArray native = QFile::encodeName(dir.path()) + "/" + name;
        FILE *f = std::fopen(native.constData(), "wb");
        ASSERT_TRUE(f);
        std::fputs(name.constData(), f);
        std::fclose(f);
        src << LMPathString(kpv::decodeFileName(native), false);
    }
    EXPECT_EQ(BatchRenameWorker::renameFilesOnThread(src, "Trip_", &renamed, &failed, nullptr, {}), 0);
    EXPECT_TRUE(failed.isEmpty());
    EXPECT_EQ(renamed.value(src[0]).path(), at("Trip_1.jpg"));
    EXPECT_EQ(renamed.value(src[1]).path(), at("Trip_2.png"));
    QFile renamedFile(at("Trip_1.jpg"));
    ASSERT_TRUE(renamedFile.open(QIODevice::ReadOnly));
    EXPECT_EQ(renamedFile.readAll(), QByteArray("caf\xe9.jpg"));
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files), (QStringList{"Trip_1.jpg", "Trip_2.png"}));
}
