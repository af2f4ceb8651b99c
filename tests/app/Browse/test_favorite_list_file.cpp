// The favourites list file: what it keeps, in order, and how it stands up to a damaged or hostile
// file (every prefix of a good one, wrong types, bad text, a huge file) and to a failing disk.
#include "../../support/ChildProcess.h"
#include "../../support/FileSizeLimit.h"

#include "Browse/FavoriteListFile.h"
#include "foundation/FileNames.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

LMPathString P(const QString& s)
{
    return LMPathString(s, false);
}

QStringList texts(const QList<LMPathString>& paths)
{
    QStringList out;
    for (const LMPathString& p : paths)
        out << p.path();
    return out;
}

QByteArray checksum(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? QCryptographicHash::hash(f.readAll(), QCryptographicHash::Sha256) : QByteArray();
}

class FavoriteListFileTest : public testing::Test {
protected:
    QTemporaryDir dir;
    QString path() const { return dir.filePath(QStringLiteral("favorites.json")); }
    void put(const QByteArray& bytes) const
    {
        QFile f(path());
        ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        f.write(bytes);
    }
};

TEST_F(FavoriteListFileTest, KeepsTheListInItsOrderWithUnusualNames)
{
    const QStringList names = {QStringLiteral("/p/z last.png"), QStringLiteral("/p/A.JPG"), QStringLiteral("/p/a.jpg"),
                               QStringLiteral("/p/\"quoted\" \\ back.png"), QStringLiteral("/p/\u00e9t\u00e9 \u65e5\u672c.jpg"),
                               QStringLiteral("/p/emoji \U0001F600.gif")};
    QList<LMPathString> paths;
    for (const QString& n : names)
        paths << P(n);
    FavoriteListFile file(path());
    QString error;
    ASSERT_TRUE(file.write(paths, &error)) << error.toStdString();
    EXPECT_EQ(QFile(path()).permissions() & (QFileDevice::ReadOther | QFileDevice::ReadGroup), 0);

    const FavoriteListFile::Contents back = FavoriteListFile(path()).read();
    EXPECT_TRUE(back.error.isEmpty()) << back.error.toStdString();
    EXPECT_EQ(texts(back.paths), names); // paths differing only in case are two favourites here
    EXPECT_EQ(back.skipped, 0);
}

TEST_F(FavoriteListFileTest, NoFileIsAnEmptyListWithoutError)
{
    const FavoriteListFile::Contents c = FavoriteListFile(path()).read();
    EXPECT_TRUE(c.paths.isEmpty());
    EXPECT_TRUE(c.error.isEmpty());
}

TEST_F(FavoriteListFileTest, EveryPrefixOfAGoodFileFailsCleanlyOrKeepsAnInOrderPart)
{
    const QList<LMPathString> paths = {P("/a/one.png"), P("/a/two.jpg"), P("/a/\u00fc\u00df three.png")};
    const QByteArray whole = FavoriteListFile::serialize(paths);
    const qsizetype lastBrace = whole.lastIndexOf('}');
    for (qsizetype n = 0; n < whole.size(); ++n) {
        const FavoriteListFile::Contents c = FavoriteListFile::parse(whole.left(n));
        if (n <= lastBrace) {
            // A document is only complete with its last brace: every shorter prefix is refused,
            // keeping only whole entries from its start, never a name cut short.
            EXPECT_FALSE(c.error.isEmpty()) << "prefix " << n;
            EXPECT_EQ(texts(c.paths), texts(paths).mid(0, c.paths.size())) << "prefix " << n;
        } else {
            EXPECT_EQ(texts(c.paths), texts(paths)) << "prefix " << n;
        }
    }
    EXPECT_EQ(texts(FavoriteListFile::parse(whole).paths), texts(paths));
}

TEST_F(FavoriteListFileTest, DamagedEntriesAreSkippedOneByOne)
{
    const QByteArray bytes = R"({"version": 1, "favorites": [
        "/ok/1.png", 7, null, true, {"path": "/x.png"}, ["/y.png"], "", "relative/2.png",
        "/ok/1.png", "/nul/\u0000.png", "/lone/\ud800.png", "/ok/2.png"]})";
    const FavoriteListFile::Contents c = FavoriteListFile::parse(bytes);
    EXPECT_TRUE(c.error.isEmpty()) << c.error.toStdString();
    EXPECT_EQ(texts(c.paths), QStringList({"/ok/1.png", "/ok/2.png"}));
    EXPECT_EQ(c.skipped, 10);
}

TEST_F(FavoriteListFileTest, WrongShapesAreRefusedWithAReason)
{
    const QByteArray cases[] = {
        "", "not json", "[\"/a.png\"]", "\"/a.png\"", "{}", R"({"favorites": "/a.png"})",
        R"({"favorites": {"0": "/a.png"}})", R"({"version": 2, "favorites": ["/a.png"]})",
        R"({"version": "1", "favorites": ["/a.png"]})",
        // Not UTF-8 inside a string.
        QByteArray("{\"favorites\": [\"/a/\xff\xfe.png\"]}"),
    };
    for (const QByteArray& bytes : cases) {
        const FavoriteListFile::Contents c = FavoriteListFile::parse(bytes);
        EXPECT_FALSE(c.error.isEmpty()) << bytes.toStdString();
        EXPECT_TRUE(c.paths.isEmpty()) << bytes.toStdString();
    }
    // Without a version it is still our list (a hand-made one).
    EXPECT_EQ(FavoriteListFile::parse(R"({"favorites": ["/a.png"]})").paths.size(), 1);
}

TEST_F(FavoriteListFileTest, OversizedFileAndOverlongListsAreBounded)
{
    QByteArray huge = "{\"favorites\": [\"/a.png\"], \"pad\": \"";
    huge += QByteArray(FavoriteListFile::kMaxFileSize, 'x');
    huge += "\"}";
    ASSERT_NO_FATAL_FAILURE(put(huge));
    const FavoriteListFile::Contents big = FavoriteListFile(path()).read();
    EXPECT_FALSE(big.error.isEmpty());
    EXPECT_TRUE(big.paths.isEmpty());

    QByteArray many = "{\"favorites\": [";
    for (int i = 0; i < FavoriteListFile::kMaxEntries + 5; ++i)
        many += "\"/m/" + QByteArray::number(i) + ".png\",";
    many += "\"/" + QByteArray(FavoriteListFile::kMaxPathLength + 1, 'l') + "\"]}";
    const FavoriteListFile::Contents capped = FavoriteListFile::parse(many);
    EXPECT_TRUE(capped.error.isEmpty());
    EXPECT_EQ(capped.paths.size(), FavoriteListFile::kMaxEntries);
    EXPECT_EQ(capped.paths.last().path(), QStringLiteral("/m/%1.png").arg(FavoriteListFile::kMaxEntries - 1));
}

TEST_F(FavoriteListFileTest, AnUnreadableListIsMovedAsideBeforeItIsReplaced)
{
    ASSERT_NO_FATAL_FAILURE(put("{\"favorites\": [\"/a.png\", "));
    const QByteArray damaged = checksum(path());
    FavoriteListFile file(path());
    EXPECT_FALSE(file.read().error.isEmpty());
    ASSERT_TRUE(file.write({P("/b.png")}));
    EXPECT_EQ(checksum(path() + QStringLiteral(".corrupt")), damaged);
    EXPECT_EQ(texts(FavoriteListFile(path()).read().paths), QStringList({"/b.png"}));
    // The good list is not moved aside at the next save.
    ASSERT_TRUE(file.write({P("/c.png")}));
    EXPECT_EQ(checksum(path() + QStringLiteral(".corrupt")), damaged);
}

// A pipe put where the list belongs is refused unread instead of holding the viewer's start
// forever, and the next save sets it aside as it does a damaged list.
TEST_F(FavoriteListFileTest, APipeInTheListsPlaceIsRefusedWithoutWaiting)
{
    ASSERT_EQ(::mkfifo(QFile::encodeName(path()).constData(), 0600), 0);
    FavoriteListFile file(path());
    const FavoriteListFile::Contents read = file.read();
    EXPECT_FALSE(read.error.isEmpty());
    EXPECT_TRUE(read.paths.isEmpty());
    ASSERT_TRUE(file.write({P("/b.png")}));
    EXPECT_EQ(texts(FavoriteListFile(path()).read().paths), QStringList({"/b.png"}));
    struct stat aside {};
    ASSERT_EQ(::lstat(QFile::encodeName(path() + QStringLiteral(".corrupt")).constData(), &aside), 0);
    EXPECT_TRUE(S_ISFIFO(aside.st_mode));
}

TEST_F(FavoriteListFileTest, AFailedWriteLeavesTheOldListAsItWas)
{
    FavoriteListFile file(path());
    ASSERT_TRUE(file.write({P("/old/1.png"), P("/old/2.png")}));
    const QByteArray before = checksum(path());
    QList<LMPathString> many;
    for (int i = 0; i < 500; ++i)
        many << P(QStringLiteral("/new/%1.png").arg(i));
    {
        kpv::test::FileSizeLimit full(64); // the disk fills after 64 bytes
        QString error;
        EXPECT_FALSE(file.write(many, &error));
        EXPECT_FALSE(error.isEmpty());
    }
    EXPECT_EQ(checksum(path()), before);
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files), QStringList({"favorites.json"})); // no temporary left

    FavoriteListFile nowhere(dir.filePath(QStringLiteral("no/such/folder/favorites.json")));
    QString error;
    EXPECT_FALSE(nowhere.write(many, &error));
    EXPECT_FALSE(error.isEmpty());
}

} // namespace

TEST_F(FavoriteListFileTest, TwoViewersSavingTheirOwnChangesKeepBoth)
{
    const LMPathString a("/photos/a.jpg", false), b("/photos/b.jpg", false), c("/photos/c.jpg", false);
    {
        FavoriteListFile first(path());
        ASSERT_TRUE(first.write({c}));
    }
    // Two viewers start on the same list: one loves a and lets c go, the other loves b.
    FavoriteListFile one(path()), other(path());
    one.read();
    other.read();
    ASSERT_TRUE(one.write({c, a}));
    ASSERT_TRUE(one.write({a}));
    // The other viewer is another process.
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0)
        ::_exit(other.write({c, b}) ? 0 : 1);
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    EXPECT_EQ(FavoriteListFile(path()).read().paths, (QList<LMPathString>{a, b}));

    // A name that is not UTF-8 comes back with its bytes.
    const LMPathString latin1(kpv::decodeFileName("/photos/caf\xe9.jpg"), false);
    const QString second = dir.filePath(QStringLiteral("second.json"));
    ASSERT_TRUE(FavoriteListFile(second).write({latin1, a}));
    EXPECT_EQ(FavoriteListFile(second).read().paths, (QList<LMPathString>{latin1, a}));
}

// Two viewers running at once, each loving a photo of its own, quitting at the same moment:
// both photos stay favourites, and so does the one they started with.
TEST_F(FavoriteListFileTest, TwoRunningViewersQuittingTogetherKeepBothFavourites)
{
    const LMPathString a("/photos/a.jpg", false), b("/photos/b.jpg", false), c("/photos/c.jpg", false);
    for (int round = 0; round < 10; ++round) {
        SCOPED_TRACE(round);
        QFile::remove(path());
        ASSERT_TRUE(FavoriteListFile(path()).write({c}));
        std::unique_ptr<FavoriteListFile> viewer;
        QList<LMPathString> loved;
        const bool passed = kpv::test::runTogether(
            2,
            [&](int i) {
                viewer = std::make_unique<FavoriteListFile>(path());
                loved = viewer->read().paths;
                loved << (i == 0 ? a : b);
            },
            [&](int) { EXPECT_TRUE(viewer->write(loved)); });
        ASSERT_TRUE(passed) << "see above";
        QList<LMPathString> after = FavoriteListFile(path()).read().paths;
        ASSERT_EQ(after.size(), 3);
        EXPECT_EQ(after.first(), c);
        EXPECT_TRUE(after.contains(a) && after.contains(b));
    }
}
