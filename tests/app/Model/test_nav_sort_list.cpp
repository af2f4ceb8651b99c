#include "Model/NavSortFileInfoList.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QTemporaryDir>
#include <QTimeZone>

#include <atomic>

namespace {

LMPathString file(const QString &p) { return LMPathString(p, false); }

QStringList names(const QList<LMPathString> &paths)
{
    QStringList out;
    for (const auto &p : paths)
        out << LMPathString::lastPathComponent(p.path());
    return out;
}

// Checks the list's invariant: every listed file has exactly one entry, and nothing else has one.
void expectConsistent(const NavSortFileInfoList &list)
{
    const auto &paths = list.sortedFilePaths();
    EXPECT_EQ(paths.size(), list.dictFileInfos().size());
    for (const auto &p : paths) {
        ASSERT_TRUE(list.dictFileInfos().contains(p)) << p.path().toStdString();
        EXPECT_EQ(list.dictFileInfos().value(p)->filePath(), p);
        EXPECT_EQ(paths.count(p), 1) << p.path().toStdString();
    }
}

NavSortFileInfoList listOf(std::initializer_list<const char *> ns)
{
    QList<LMPathString> paths;
    for (const char *n : ns)
        paths << file(QStringLiteral("/d/") + QString::fromUtf8(n));
    return NavSortFileInfoList(paths);
}

TEST(NavSortList, AppendDropsDuplicatesAndSortsByName)
{
    auto list = listOf({"img1.jpg", "img10.jpg", "img2.jpg", "img1.jpg"});
    EXPECT_EQ(names(list.sortedFilePaths()), (QStringList{"img1.jpg", "img10.jpg", "img2.jpg"}));
    ASSERT_NO_FATAL_FAILURE(expectConsistent(list));

    list.sortFilesByType(NavSortByName);
    EXPECT_EQ(names(list.sortedFilePaths()), (QStringList{"img1.jpg", "img2.jpg", "img10.jpg"}));
    list.sortFilesByType(NavSortByName | NavSortDescending);
    EXPECT_EQ(names(list.sortedFilePaths()), (QStringList{"img10.jpg", "img2.jpg", "img1.jpg"}));
    for (int type : {0, 3, 0x1003}) {
        list.sortFilesByType(type);
        EXPECT_EQ(names(list.sortedFilePaths()), (QStringList{"img10.jpg", "img2.jpg", "img1.jpg"}));
    }

    // Names that differ in case are different files here.
    list.appendFilePaths({file("/d/IMG1.jpg"), file("/d/img2.jpg")}, NavSortByName);
    EXPECT_EQ(list.count(), 4);
    ASSERT_NO_FATAL_FAILURE(expectConsistent(list));
}

TEST(NavSortList, CopiesShareEntriesButNotOrder)
{
    auto list = listOf({"a.jpg", "b.jpg"});
    list.sortFileInfoByFilePath(file("/d/a.jpg"))->setFileModificationDate(QDateTime::fromSecsSinceEpoch(5, Qt::UTC));
    NavSortFileInfoList copy(list);
    EXPECT_EQ(copy.sortFileInfoByFilePath(file("/d/a.jpg")), list.sortFileInfoByFilePath(file("/d/a.jpg")));
    copy.removeFromFiles({file("/d/a.jpg")});
    EXPECT_EQ(list.count(), 2);
    EXPECT_EQ(copy.count(), 1);
    EXPECT_FALSE(copy.removeFromFiles({file("/d/zzz.jpg")}));
    EXPECT_TRUE(list.removeFromFiles({file("/d/zzz.jpg"), file("/d/b.jpg")}));
    ASSERT_NO_FATAL_FAILURE(expectConsistent(list));
    ASSERT_NO_FATAL_FAILURE(expectConsistent(copy));
}

TEST(NavSortList, InsertAfter)
{
    auto list = listOf({"a.jpg", "b.jpg", "c.jpg"});
    const auto oldEntry = list.sortFileInfoByFilePath(file("/d/b.jpg"));
    EXPECT_EQ(list.insertToFiles(file("/d/b.jpg"), file("/d/c.jpg")), 1); // already listed: index kept
    EXPECT_NE(list.sortFileInfoByFilePath(file("/d/b.jpg")), oldEntry);   // but its entry is fresh
    EXPECT_EQ(list.insertToFiles(file("/d/a2.jpg"), file("/d/a.jpg")), 1);
    EXPECT_EQ(list.insertToFiles(file("/d/z.jpg"), file("/d/c.jpg")), 4);     // after the last: appended
    EXPECT_EQ(list.insertToFiles(file("/d/y.jpg"), file("/d/none.jpg")), 5);  // after an unknown file: appended
    EXPECT_EQ(names(list.sortedFilePaths()), (QStringList{"a.jpg", "a2.jpg", "b.jpg", "c.jpg", "z.jpg", "y.jpg"}));
    ASSERT_NO_FATAL_FAILURE(expectConsistent(list));
}

TEST(NavSortList, RenamesApplyAsOneMapping)
{
    {   // chain: a to b while b goes to c
        auto list = listOf({"a.jpg", "b.jpg", "x.jpg"});
        EXPECT_TRUE(list.renameForFiles(QHash<LMPathString, LMPathString>{{file("/d/a.jpg"), file("/d/b.jpg")}, {file("/d/b.jpg"), file("/d/c.jpg")}}));
        EXPECT_EQ(names(list.sortedFilePaths()), (QStringList{"b.jpg", "c.jpg", "x.jpg"}));
        ASSERT_NO_FATAL_FAILURE(expectConsistent(list));
    }
    {   // the same chain listed the other way round
        auto list = listOf({"a.jpg", "b.jpg", "x.jpg"});
        EXPECT_TRUE(list.renameForFiles(QHash<LMPathString, LMPathString>{{file("/d/b.jpg"), file("/d/c.jpg")}, {file("/d/a.jpg"), file("/d/b.jpg")}}));
        EXPECT_EQ(names(list.sortedFilePaths()), (QStringList{"b.jpg", "c.jpg", "x.jpg"}));
        ASSERT_NO_FATAL_FAILURE(expectConsistent(list));
    }
    {   // swap
        auto list = listOf({"a.jpg", "b.jpg"});
        EXPECT_TRUE(list.renameForFiles({{file("/d/a.jpg"), file("/d/b.jpg")}, {file("/d/b.jpg"), file("/d/a.jpg")}}));
        EXPECT_EQ(names(list.sortedFilePaths()), (QStringList{"b.jpg", "a.jpg"}));
        ASSERT_NO_FATAL_FAILURE(expectConsistent(list));
    }
    {   // new name equal to another listed file: listed once, at the renamed file's place
        auto list = listOf({"a.jpg", "b.jpg", "c.jpg"});
        EXPECT_TRUE(list.renameForFiles(QHash<LMPathString, LMPathString>{{file("/d/c.jpg"), file("/d/a.jpg")}}));
        EXPECT_EQ(names(list.sortedFilePaths()), (QStringList{"b.jpg", "a.jpg"}));
        ASSERT_NO_FATAL_FAILURE(expectConsistent(list));
    }
    {   // renamed file keeps its index even when the name would sort elsewhere; unknown olds ignored
        auto list = listOf({"a.jpg", "b.jpg", "c.jpg"});
        EXPECT_FALSE(list.renameForFiles(QHash<LMPathString, LMPathString>{{file("/d/q.jpg"), file("/d/r.jpg")}, {file("/d/a.jpg"), file("/d/a.jpg")}}));
        EXPECT_TRUE(list.renameForFiles(QHash<LMPathString, LMPathString>{{file("/d/a.jpg"), file("/d/zz.jpg")}, {file("/d/B.jpg"), file("/d/0.jpg")}}));
        EXPECT_EQ(names(list.sortedFilePaths()), (QStringList{"zz.jpg", "b.jpg", "c.jpg"}));
        ASSERT_NO_FATAL_FAILURE(expectConsistent(list));
    }
}

class DatedFiles : public ::testing::Test {
protected:
    LMPathString make(const char *name, qint64 secs)
    {
        const QString path = dir.filePath(QString::fromUtf8(name));
        QFile f(path);
        EXPECT_TRUE(f.open(QIODevice::WriteOnly));
        EXPECT_TRUE(f.setFileTime(QDateTime::fromSecsSinceEpoch(secs, Qt::UTC), QFileDevice::FileModificationTime));
        return file(path);
    }
    QTemporaryDir dir;
};

TEST_F(DatedFiles, SortByDateWithNameTieBreakAndUnreadableDates)
{
    const auto newer = make("b.jpg", 2000000);
    const auto tieA = make("c1.jpg", 1000000);
    const auto tieB = make("c10.jpg", 1000000);
    const auto missing = file(dir.filePath("gone.jpg")); // no file: sorts as 1970
    NavSortFileInfoList list({newer, tieB, missing, tieA});

    list.sortFilesByType(NavSortByDate);
    EXPECT_EQ(names(list.sortedFilePaths()), (QStringList{"gone.jpg", "c1.jpg", "c10.jpg", "b.jpg"}));
    list.sortFilesByType(NavSortByDate | NavSortDescending);
    EXPECT_EQ(names(list.sortedFilePaths()), (QStringList{"b.jpg", "c10.jpg", "c1.jpg", "gone.jpg"}));
    EXPECT_EQ(list.sortFileInfoByFilePath(missing)->fileModificationDate(), QDateTime::fromSecsSinceEpoch(0, Qt::UTC));

    // Dates are read once and kept in the entries: changing the file does not reorder.
    QFile f(newer.path());
    ASSERT_TRUE(f.open(QIODevice::ReadWrite));
    ASSERT_TRUE(f.setFileTime(QDateTime::fromSecsSinceEpoch(10, Qt::UTC), QFileDevice::FileModificationTime));
    list.sortFilesByType(NavSortByDate);
    EXPECT_EQ(names(list.sortedFilePaths()).last(), "b.jpg");
    // Clearing the date makes the next sort read it again.
    list.sortFileInfoByFilePath(newer)->setFileModificationDate(QDateTime());
    list.sortFilesByType(NavSortByDate);
    EXPECT_EQ(names(list.sortedFilePaths()), (QStringList{"gone.jpg", "b.jpg", "c1.jpg", "c10.jpg"}));
}

TEST_F(DatedFiles, CancelledSortAnswersNothingAndKeepsOrder)
{
    QList<LMPathString> paths;
    for (int i = 0; i < 300; ++i)
        paths << file(dir.filePath(QStringLiteral("f%1.jpg").arg(i)));
    std::atomic<int> polls{0};
    auto cancelAfterTwo = [&] { return ++polls > 2; };
    EXPECT_FALSE(NavSortFileInfoList::sortFiles(paths, NavSortByDate, {}, cancelAfterTwo).has_value());
    EXPECT_LE(polls.load(), 3); // stopped early, not after reading every date
    EXPECT_FALSE(NavSortFileInfoList::sortFiles(paths, NavSortByName, {}, [] { return true; }).has_value());
    const auto unsorted = NavSortFileInfoList::sortFiles(paths, 0, {}, [] { return false; });
    ASSERT_TRUE(unsorted.has_value());
    EXPECT_EQ(*unsorted, paths);
}

} // namespace
