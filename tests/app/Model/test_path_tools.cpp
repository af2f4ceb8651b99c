#include "Model/LMPathTools.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

namespace {

void touch(const QString &path)
{
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly)) << path.toStdString();
}

class PathToolsDir : public ::testing::Test {
protected:
    QString at(const char *name) const { return dir.filePath(QString::fromUtf8(name)); }
    QString freeName(const char *name) const { return LMPathTools::writableFilePathInDirectory(dir.path(), QString::fromUtf8(name)); }
    QTemporaryDir dir;
};

TEST_F(PathToolsDir, FreeNamesContinueNumbering)
{
    EXPECT_EQ(freeName("a.jpg"), at("a.jpg"));
    ASSERT_NO_FATAL_FAILURE(touch(at("a.jpg")));
    EXPECT_EQ(freeName("a.jpg"), at("a_1.jpg"));
    ASSERT_NO_FATAL_FAILURE(touch(at("a_1.jpg")));
    ASSERT_NO_FATAL_FAILURE(touch(at("a_2.jpg")));
    EXPECT_EQ(freeName("a.jpg"), at("a_3.jpg"));

    ASSERT_NO_FATAL_FAILURE(touch(at("b_3.jpg")));
    EXPECT_EQ(freeName("b_3.jpg"), at("b_4.jpg"));
    ASSERT_NO_FATAL_FAILURE(touch(at("b_03.jpg")));
    EXPECT_EQ(freeName("b_03.jpg"), at("b_03_1.jpg")); // leading zero: not a counter
    ASSERT_NO_FATAL_FAILURE(touch(at("c_12a.png")));
    EXPECT_EQ(freeName("c_12a.png"), at("c_12a_1.png"));

    // Names without an extension get no trailing point; hidden files keep their leading point.
    ASSERT_NO_FATAL_FAILURE(touch(at("README")));
    EXPECT_EQ(freeName("README"), at("README_1"));
    ASSERT_NO_FATAL_FAILURE(touch(at(".hidden")));
    EXPECT_EQ(freeName(".hidden"), at(".hidden_1"));
    ASSERT_NO_FATAL_FAILURE(touch(at("dot.")));
    EXPECT_EQ(freeName("dot."), at("dot._1"));

    // A dangling symbolic link occupies its name.
    ASSERT_TRUE(QFile::link(at("nowhere"), at("link.jpg")));
    EXPECT_EQ(freeName("link.jpg"), at("link_1.jpg"));

    // A name near the length limit makes room for its counter without splitting a character, and
    // every copy after it gets a name that can be written.
    const QString longName = QString(248, u'x') + QStringLiteral("\u00e9.jpg");  // 254 bytes
    ASSERT_NO_FATAL_FAILURE(touch(dir.filePath(longName)));
    for (int copy = 1; copy <= 3; ++copy) {
        const QString path = LMPathTools::writableFilePathInDirectory(dir.path(), longName);
        const QByteArray name = QFileInfo(path).fileName().toUtf8();
        EXPECT_LE(name.size(), 255);
        EXPECT_TRUE(name.endsWith("_" + QByteArray::number(copy) + ".jpg")) << name.constData();
        ASSERT_NO_FATAL_FAILURE(touch(path));
    }
}

TEST_F(PathToolsDir, RefusesNamesThatAreNotPlainFileNames)
{
    for (const char *bad : {"", ".", "..", "../x.jpg", "sub/x.jpg", "/etc/passwd"})
        EXPECT_TRUE(freeName(bad).isEmpty()) << bad;
    EXPECT_TRUE(LMPathTools::writableFilePathInDirectory(dir.path(), QStringLiteral("a") + QChar(0) + "b.jpg").isEmpty());
    EXPECT_TRUE(LMPathTools::writableFilePathInDirectory(QString(), "a.jpg").isEmpty());
    EXPECT_EQ(LMPathTools::writableFilePathInDirectory(dir.path() + "/", "a.jpg"), at("a.jpg"));
}

TEST_F(PathToolsDir, EmptyingKeepsHiddenItemsAndDoesNotFollowLinks)
{
    QTemporaryDir outside;
    ASSERT_NO_FATAL_FAILURE(touch(outside.filePath("keep.jpg")));
    ASSERT_NO_FATAL_FAILURE(touch(at("a.jpg")));
    ASSERT_NO_FATAL_FAILURE(touch(at(".hidden")));
    ASSERT_TRUE(QDir(dir.path()).mkpath("sub/deeper"));
    ASSERT_NO_FATAL_FAILURE(touch(at("sub/deeper/x.jpg")));
    ASSERT_TRUE(QFile::link(outside.path(), at("linked")));

    LMPathTools::removeAllFilesUnderDirectory(dir.path());
    QStringList left = QDir(dir.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System);
    EXPECT_EQ(left, QStringList{".hidden"});
    EXPECT_TRUE(QFile::exists(outside.filePath("keep.jpg")));
    LMPathTools::removeAllFilesUnderDirectory(QString()); // nothing happens
}

TEST(PathTools, PrefixesEndAtComponentBoundaries)
{
    EXPECT_FALSE(LMPathTools::isPath("/Users/x/Pictures", "/Users/x/Pic"));
    EXPECT_TRUE(LMPathTools::isPath("/Users/x/Pictures", "/Users/x"));
    EXPECT_TRUE(LMPathTools::isPath("/Users/x/Pictures", "/"));
    EXPECT_TRUE(LMPathTools::isPath("/Users/x/Pictures", "/Users/x/Pictures"));
    EXPECT_FALSE(LMPathTools::isPath("/Users/x/Pictures", "/Users/x/"));
    EXPECT_FALSE(LMPathTools::isPath("/users/x/Pictures", "/Users/x"));
    EXPECT_FALSE(LMPathTools::isPath("/Users", "/Users/x"));
}

TEST(PathTools, UserDataFolders)
{
    QTemporaryDir home;
    qputenv("XDG_DATA_HOME", home.path().toUtf8());
    const QString base = LMPathTools::userDataDirectoryWithSubDir(QString());
    ASSERT_FALSE(base.isEmpty());
    EXPECT_TRUE(base.startsWith(home.path()));
    const QString themes = LMPathTools::userDataDirectoryWithSubDir("themesContents/a");
    EXPECT_EQ(themes, base + "/themesContents/a");
    EXPECT_TRUE(QFileInfo(themes).isDir());
    ASSERT_NO_FATAL_FAILURE(touch(base + "/afile"));
    EXPECT_TRUE(LMPathTools::userDataDirectoryWithSubDir("afile").isEmpty());
    EXPECT_TRUE(LMPathTools::userDataDirectoryWithSubDir("../escape").isEmpty());
    EXPECT_TRUE(LMPathTools::userDataDirectoryWithSubDir("/abs").isEmpty());
}

TEST(PathTools, LocalDisk)
{
    QTemporaryDir dir;
    EXPECT_FALSE(LMPathTools::isFileOnLocalDisk(dir.filePath("missing.jpg")));
    EXPECT_FALSE(LMPathTools::isFileOnLocalDisk(QString()));
}

} // namespace
