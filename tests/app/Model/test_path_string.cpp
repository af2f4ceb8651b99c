#include "Model/LMPathString.h"

#include "foundation/FileHelpers.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QSet>
#include <QTemporaryDir>

#include <algorithm>
#include <random>
#include <unordered_set>

namespace {

LMPathString file(const char *p) { return LMPathString(QString::fromUtf8(p), false); }

TEST(PathString, EqualityAndHashAreCaseSensitive)
{
    EXPECT_NE(file("/Photos/A.JPG"), file("/photos/a.jpg"));
    EXPECT_EQ(file("/photos/a.jpg"), LMPathString("/photos/a.jpg", true)); // flag plays no part
    EXPECT_EQ(file("/photos/a.jpg").hash(), LMPathString("/photos/a.jpg", true).hash());
    EXPECT_TRUE(file("/p/x.jpg").isEqual(QStringLiteral("/p/x.jpg")));
    EXPECT_FALSE(file("/p/x.jpg").isEqual(QStringLiteral("/p/X.jpg")));

    QSet<LMPathString> set{file("/a/b.jpg"), file("/a/B.jpg"), file("/a/b.jpg")};
    EXPECT_EQ(set.size(), 2);
    std::unordered_set<LMPathString> stdSet{file("/a/b.jpg"), file("/a/B.jpg"), LMPathString("/a/b.jpg", true)};
    EXPECT_EQ(stdSet.size(), 2u);
}

struct OrderRow {
    const char *before;
    const char *after;
};

TEST(PathString, OrderingTable)
{
    const OrderRow rows[] = {
        {"/p/img2.jpg", "/p/img10.jpg"},      // numeric runs by value
        {"/p/a.jpg", "/p/B.jpg"},             // case ignored
        {"/p/z.jpg", "/p/sub/a.jpg"},         // files of a folder before its sub-folders
        {"/p/sub/z.jpg", "/p/sub2/a.jpg"},    // folders by whole path
        {"/p/A.jpg", "/p/a.jpg"},             // same ignoring case: case-sensitive tie-break
        {"/p/x9/a.jpg", "/p/x10/a.jpg"},      // numeric runs in folder names
        {"/a.jpg", "/p/a.jpg"},               // root folder first
    };
    for (const OrderRow &r : rows) {
        SCOPED_TRACE(std::string(r.before) + " < " + r.after);
        EXPECT_EQ(file(r.before).compare(file(r.after)), -1);
        EXPECT_EQ(file(r.after).compare(file(r.before)), 1);
    }
    EXPECT_EQ(file("/p/a.jpg").compare(LMPathString("/p/a.jpg", true)), 0);
}

TEST(PathString, OrderIsTotalAndAgreesWithEquality)
{
    const char *names[] = {"/p/a.jpg", "/p/A.jpg", "/p/a1.jpg", "/p/a01.jpg", "/p/a001.jpg", "/p/A1.jpg",
                           "/p/a10.jpg", "/p/a2.jpg", "/p/sub/a.jpg", "/p/Sub/a.jpg", "/q/a.jpg", "/p/b.jpg",
                           "/p/img 2.jpg", "/p/img2.jpg", "/P/a.jpg", "/p", "/p/", "rel.jpg"};
    std::vector<LMPathString> v;
    for (const char *n : names)
        v.push_back(file(n));
    for (const auto &x : v) {
        for (const auto &y : v) {
            const int xy = x.compare(y);
            EXPECT_EQ(xy, -y.compare(x)) << x.path().toStdString() << " / " << y.path().toStdString();
            EXPECT_EQ(xy == 0, x == y) << x.path().toStdString() << " / " << y.path().toStdString();
            for (const auto &z : v) {
                if (xy < 0 && y.compare(z) < 0) {
                    EXPECT_LT(x.compare(z), 0) << x.path().toStdString() << " " << y.path().toStdString() << " "
                                                << z.path().toStdString();
                }
            }
        }
    }
    // Sorting any permutation gives the same order.
    std::vector<LMPathString> sorted = v;
    std::sort(sorted.begin(), sorted.end());
    std::mt19937 rng(3);
    for (int i = 0; i < 20; ++i) {
        std::shuffle(v.begin(), v.end(), rng);
        std::sort(v.begin(), v.end());
        EXPECT_EQ(v, sorted);
    }
}

TEST(PathString, PathPieces)
{
    const LMPathString parent = file("/p/q/r.jpg").parentDirectory();
    EXPECT_EQ(parent.path(), "/p/q");
    EXPECT_TRUE(parent.isDirectory());
    EXPECT_EQ(LMPathString("/p/q/", true).parentDirectory().path(), "/p");
    EXPECT_EQ(file("/a.jpg").parentDirectory().path(), "/");
    EXPECT_EQ(LMPathString::lastPathComponent("/p/q/"), "q");
    EXPECT_EQ(LMPathString::lastPathComponent("/"), "/");
    EXPECT_EQ(LMPathString::lastPathComponent("a.jpg"), "a.jpg");
    EXPECT_EQ(LMPathString::stringByDeletingLastPathComponent("a.jpg"), "");
    EXPECT_EQ(LMPathString::stringByDeletingLastPathComponent("//a"), "/");
    // Ordering splits paths the same way as the string forms.
    for (const char *a : {"/", "//x//", "a.jpg", "/p/q/", "/p//q", "p/q.jpg", ""}) {
        for (const char *b : {"/", "/x", "a.jpg", "/p/q", "/p/q/r", "p/r.jpg", ""}) {
            const QString pa = QString::fromUtf8(a), pb = QString::fromUtf8(b);
            int expected = kpv::naturalCompare(LMPathString::stringByDeletingLastPathComponent(pa),
                                               LMPathString::stringByDeletingLastPathComponent(pb));
            if (expected == 0)
                expected = kpv::naturalCompare(LMPathString::lastPathComponent(pa), LMPathString::lastPathComponent(pb));
            if (expected == 0)
                expected = pa.compare(pb) < 0 ? -1 : (pa == pb ? 0 : 1);
            EXPECT_EQ(file(a).compare(file(b)), expected) << a << " / " << b;
        }
    }

    EXPECT_EQ(LMPathString("/p/q", true).filePathURL().toString(), "file:///p/q/");
    EXPECT_EQ(file("/p/a b.jpg").filePathURL().toLocalFile(), "/p/a b.jpg");
    EXPECT_EQ(file("/p/a.jpg").description(), "/p/a.jpg");
}

TEST(PathString, MemoryFileAndDates)
{
    const LMPathString mem = LMPathString::memoryFilePathString();
    EXPECT_TRUE(mem.isMemoryFilePathString());
    EXPECT_FALSE(mem.isDirectory());
    EXPECT_FALSE(file("$MemoryFile$").isMemoryFilePathString());
    EXPECT_FALSE(mem.dateModified().isValid());

    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString path = dir.filePath("x.jpg");
    {
        QFile f(path);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("x");
    }
    const LMPathString p(path, false);
    EXPECT_TRUE(p.dateModified().isValid());
    QFile::remove(path);
    EXPECT_FALSE(p.dateModified().isValid());
}

} // namespace
