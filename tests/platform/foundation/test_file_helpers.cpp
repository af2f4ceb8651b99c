// Natural name order, XDG folders and the private temporary folder.
#include "foundation/FileHelpers.h"
#include "foundation/FileNames.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

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

// Names mixing ASCII, Arabic-Indic and fullwidth digits with letters, signs and case: the order
// must be a strict weak order, or sorting and merging sorted lists give results that depend on
// the order the names came in.
TEST(NaturalCompare, IsAStrictWeakOrderOverDigitsOfEveryScript)
{
    const QString alphabet = QStringLiteral("0123aAbB.-_ \u0660\u0661\u0662\uFF10\uFF11\uFF12\u0966\u00C9\u00E9");
    std::mt19937 rng(20);
    QStringList names;
    for (int n = 0; n < 300; ++n) {
        QString name;
        const int len = 1 + int(rng() % 6);
        for (int k = 0; k < len; ++k)
            name += alphabet[qsizetype(rng() % unsigned(alphabet.size()))];
        names << name;
    }
    auto sign = [](int v) { return (v > 0) - (v < 0); };
    for (const QString& x : names) {
        ASSERT_EQ(naturalCompare(x, x), 0) << x.toStdString();
        for (const QString& y : names)
            ASSERT_EQ(sign(naturalCompare(x, y)), -sign(naturalCompare(y, x))) << x.toStdString() << " / " << y.toStdString();
    }
    // A sorted list must be ordered between every pair, not only between neighbours: a cycle or
    // a non-transitive equivalence shows up as a later name that sorts before an earlier one.
    std::sort(names.begin(), names.end(), [](const QString& x, const QString& y) { return naturalCompare(x, y) < 0; });
    for (qsizetype p = 0; p < names.size(); ++p)
        for (qsizetype q = p + 1; q < names.size(); ++q)
            ASSERT_LE(naturalCompare(names[p], names[q]), 0) << names[p].toStdString() << " / " << names[q].toStdString();

    // The three names that formed a cycle: equal values in two scripts beside a letter.
    const QString one = QStringLiteral("a1"), arabicOne = QStringLiteral("a\u0661"), letter = QStringLiteral("ab");
    EXPECT_EQ(sign(naturalCompare(one, letter)), sign(naturalCompare(arabicOne, letter)));
    EXPECT_NE(naturalCompare(one, arabicOne), 0) << "different names have a fixed order";
    EXPECT_LT(naturalCompare(QStringLiteral("img\u0662"), QStringLiteral("img10")), 0) << "values count in any script";
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

TEST(FileHelpers, TemporaryFoldersOfEndedRunsGoAtTheNextStart)
{
    QTemporaryDir parent;
    const auto make = [&](const QString& name) {
        const QString folder = parent.filePath(name);
        QDir().mkpath(folder);
        QFile(folder + "/left-over.jpg").open(QIODevice::WriteOnly);
        return folder;
    };
    const QString running = make("kestrane-viewer-run001");
    const QString killed = make("kestrane-viewer-dead01");
    const QString unmarked = make("kestrane-viewer-nomark");
    const QString other = make("someone-else-dead01");
    const int hold = kpv::holdTemporaryFolder(running);
    ASSERT_GE(hold, 0);
    // A run that was killed: it held its mark, and the system let go of it when it ended.
    int ready[2];
    ASSERT_EQ(::pipe(ready), 0);
    std::fflush(nullptr);
    const pid_t run = ::fork();
    if (run == 0) {
        const char held = kpv::holdTemporaryFolder(killed) >= 0 ? 'y' : 'n';
        (void)!::write(ready[1], &held, 1);
        for (;;)
            ::pause();
    }
    ::close(ready[1]);
    char held = 0;
    EXPECT_EQ(::read(ready[0], &held, 1), 1);
    ::close(ready[0]);
    EXPECT_EQ(held, 'y');
    // Still running: its folder stays.
    EXPECT_EQ(kpv::removeStaleTemporaryFolders(parent.path(), "kestrane-viewer-"), 0);
    ::kill(run, SIGKILL);
    ::waitpid(run, nullptr, 0);
    ::close(kpv::holdTemporaryFolder(other));

    EXPECT_EQ(kpv::removeStaleTemporaryFolders(parent.path(), "kestrane-viewer-"), 1);
    EXPECT_TRUE(QFileInfo::exists(running));
    EXPECT_FALSE(QFileInfo::exists(killed));
    EXPECT_TRUE(QFileInfo::exists(unmarked));
    EXPECT_TRUE(QFileInfo::exists(other));
    ::close(hold);
    EXPECT_EQ(kpv::removeStaleTemporaryFolders(parent.path(), "kestrane-viewer-"), 1);
    EXPECT_FALSE(QFileInfo::exists(running));
}

TEST(FileNames, EveryByteOfANameSurvivesTheTripThroughAString)
{
    const QList<QByteArray> names{"/photos/caf\xe9.jpg",             // Latin-1
                                  "/photos/x\xc3(.jpg",              // a broken sequence
                                  "/photos/\xed\xa0\x80.jpg",       // an encoded surrogate
                                  "/photos/\xf0\x9f\x93\xb7 ok.jpg", // valid UTF-8, four bytes
                                  "/photos/\xe2\x82",              // cut at the end
                                  "/photos/plain.jpg"};
    for (const QByteArray& bytes : names) {
        const QString name = kpv::decodeFileName(bytes);
        EXPECT_EQ(kpv::encodeFileName(name), bytes) << bytes.toHex().toStdString();
        EXPECT_EQ(kpv::fileNameHasRawBytes(name), !QByteArrayView(bytes).isValidUtf8());
        EXPECT_FALSE(kpv::displayFileName(name).contains(QChar(0xDCE9)));
    }
    EXPECT_EQ(kpv::decodeFileName("/photos/\xf0\x9f\x93\xb7 ok.jpg"), QString::fromUtf8("/photos/\xf0\x9f\x93\xb7 ok.jpg"));
    EXPECT_EQ(kpv::displayFileName(kpv::decodeFileName("caf\xe9.jpg")), QString::fromUtf8("caf\xef\xbf\xbd.jpg"));
    // A mark that turns the direction would show "photo<RLO>gpj.sh" as "photohs.jpg".
    EXPECT_EQ(kpv::displayFileName(QStringLiteral("photo\u202Egpj.sh")), QStringLiteral("photo\\u202Egpj.sh"));
    EXPECT_EQ(kpv::displayFileName(QStringLiteral("a\u2067b\u2069.jpg")), QStringLiteral("a\\u2067b\\u2069.jpg"));
    // A dropped file arrives as a URL whose escapes stand for the name's bytes.
    EXPECT_EQ(kpv::fileNameFromUrl(QUrl("file:///photos/caf%E9%20x.jpg")), kpv::decodeFileName("/photos/caf\xe9 x.jpg"));
    EXPECT_EQ(kpv::fileNameFromUrl(QUrl("file:///photos/caf%C3%A9.jpg")), QString::fromUtf8("/photos/caf\xc3\xa9.jpg"));
    EXPECT_TRUE(kpv::fileNameFromUrl(QUrl("https://example.com/a.jpg")).isEmpty());

    // The file is reached by those bytes.
    QTemporaryDir dir;
    const QByteArray native = QFile::encodeName(dir.path()) + "/caf\xe9.jpg";
    FILE* f = std::fopen(native.constData(), "w");
    ASSERT_TRUE(f);
    std::fputs("12345", f);
    std::fclose(f);
    const kpv::PathStatus status = kpv::pathStatus(kpv::decodeFileName(native));
    EXPECT_TRUE(status.exists && status.isRegularFile);
    EXPECT_EQ(status.size, 5);
    ::unlink(native.constData()); // Qt's folder removal cannot see the name
}
