// Natural name order, XDG folders and the private temporary folder.
#include "foundation/FileHelpers.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <sys/stat.h>

using namespace kpv;

namespace {

TEST(NaturalCompare, OrdersAsPeopleExpect)
{
    struct Row {
        const char* a;
        const char* b;
        int expected;
    };
    const Row rows[] = {
        {"img2.jpg", "img10.jpg", -1},
        {"IMG2.jpg", "img10.JPG", -1},
        {"Photo.jpg", "photo.JPG", 0},
        {"a", "b", -1},
        {"B", "a", 1},
        {"file", "file1", -1},
        {"x9y", "x10a", -1},
        {"v1.10", "v1.9", 1},
        {"1", "01", -1},      // equal values: the shorter run first, so the order is total
        {"a01b2", "a1b10", -1}, // ... and only when the rest is equal
        {"99999999999999999999999", "100000000000000000000000", -1}, // beyond 64 bits
        {"", "", 0},
        {"", "a", -1},
    };
    for (const Row& r : rows) {
        EXPECT_EQ(naturalCompare(QString(r.a), QString(r.b)), r.expected) << r.a << " vs " << r.b;
        EXPECT_EQ(naturalCompare(QString(r.b), QString(r.a)), -r.expected) << r.b << " vs " << r.a;
    }
}

TEST(NaturalCompare, SortingIsConsistent)
{
    QStringList names = {"img10.jpg", "Img1.jpg", "img2.jpg", "img01.jpg", "IMG002.jpg", "a.jpg", "img2a.jpg"};
    std::sort(names.begin(), names.end(), [](const QString& x, const QString& y) { return naturalCompare(x, y) < 0; });
    EXPECT_EQ(names, (QStringList{"a.jpg", "Img1.jpg", "img01.jpg", "img2.jpg", "IMG002.jpg", "img2a.jpg", "img10.jpg"}));
}

TEST(FileHelpers, XdgFoldersFollowTheEnvironment)
{
    QTemporaryDir home;
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(home.path() + "/cfg"));
    qputenv("XDG_CACHE_HOME", QFile::encodeName(home.path() + "/cache"));
    qputenv("XDG_DATA_HOME", "relative/ignored");
    EXPECT_EQ(configDirectory(), home.path() + "/cfg/kestrane-viewer");
    EXPECT_EQ(cacheDirectory(), home.path() + "/cache/kestrane-viewer");
    EXPECT_TRUE(QFileInfo(configDirectory()).isDir());
    struct stat st {};
    ASSERT_EQ(::stat(QFile::encodeName(configDirectory()).constData(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);
    EXPECT_TRUE(dataDirectory().endsWith("/.local/share/kestrane-viewer"));
    qunsetenv("XDG_CONFIG_HOME");
    qunsetenv("XDG_CACHE_HOME");
    qunsetenv("XDG_DATA_HOME");
}

TEST(FileHelpers, PrivateTemporaryFolderIsMadeOncePerRun)
{
    const QString dir = temporaryDirectory();
    ASSERT_FALSE(dir.isEmpty());
    EXPECT_EQ(temporaryDirectory(), dir);
    EXPECT_NE(QDir(dir).canonicalPath(), QDir(QDir::tempPath()).canonicalPath());
    struct stat st {};
    ASSERT_EQ(::stat(QFile::encodeName(dir).constData(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);
    QDir(dir).mkpath("$crop$");
    removeTemporaryDirectory();
    EXPECT_FALSE(QFileInfo::exists(dir));
    const QString fresh = temporaryDirectory();
    EXPECT_NE(fresh, dir);
    removeTemporaryDirectory();
}

} // namespace
