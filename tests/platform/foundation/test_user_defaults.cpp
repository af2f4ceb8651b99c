// Settings store: typed reads, a round trip through a real file, mode 0600, safe replacement.
#include "../../support/FaultInjection.h"

#include "foundation/FileHelpers.h"
#include "foundation/FileNames.h"
#include "foundation/UserDefaults.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <cstring>
#include <sys/stat.h>

using namespace kpv;

namespace {

QByteArray readFile(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

void writeFile(const QString& path, const QByteArray& bytes)
{
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    f.write(bytes);
}

class UserDefaultsTest : public ::testing::Test {
protected:
    QTemporaryDir dir;
    QString path() const { return dir.path() + "/conf/settings.json"; }
};

TEST_F(UserDefaultsTest, AbsentAndConvertedValues)
{
    UserDefaults d(path());
    EXPECT_EQ(d.integerForKey("missing"), 0);
    EXPECT_FALSE(d.boolForKey("missing"));
    EXPECT_EQ(d.doubleForKey("missing"), 0.0);
    EXPECT_TRUE(d.stringForKey("missing").isEmpty());
    EXPECT_TRUE(d.dictionaryForKey("missing").isEmpty());
    EXPECT_TRUE(d.URLForKey("missing").isEmpty());
    EXPECT_FALSE(d.objectForKey("missing").isValid());

    d.setObject(QString("12"), "s");
    d.setObject(QString("YES"), "yes");
    d.setObject(QString("abc"), "junk");
    d.setDouble(2.9, "d");
    d.setObject(QVariantList{1, 2}, "list");
    EXPECT_EQ(d.integerForKey("s"), 12);
    EXPECT_TRUE(d.boolForKey("s"));
    EXPECT_TRUE(d.boolForKey("yes"));
    EXPECT_EQ(d.integerForKey("junk"), 0);
    EXPECT_FALSE(d.boolForKey("junk"));
    EXPECT_EQ(d.integerForKey("d"), 2);
    EXPECT_EQ(d.integerForKey("list"), 0); // wrong type reads as absent
    EXPECT_TRUE(d.dictionaryForKey("list").isEmpty());
    EXPECT_EQ(d.arrayForKey("list").size(), 2);
    d.setObject(QString("/home/u/Pictures"), "pathAsString");
    EXPECT_EQ(d.URLForKey("pathAsString"), QUrl::fromLocalFile("/home/u/Pictures"));
}

TEST_F(UserDefaultsTest, RoundTripThroughARealFileKeepsTypes)
{
    const QDateTime when = QDateTime::fromMSecsSinceEpoch(1700000000123, Qt::UTC);
    {
        UserDefaults d(path());
        d.setInteger(5, "sortByType");
        d.setInteger(-7, "neg");
        d.setDouble(2.0, "two");
        d.setBool(true, "flag");
        d.setObject(QString("text with \"quotes\" and ünïcode"), "str");
        d.setURL(QUrl::fromLocalFile("/tmp/some dir/x"), "lastSaveAsDirUrl");
        d.setObject(QVariantMap{{"SlideshowType", 0}, {"ThemeID", 3}, {"nested", QVariantList{"a", 1.5}}}, "map");
        d.setObject(when, "date");
        d.setObject(QByteArray("\x00\x01\xff", 3), "data");
        d.setObject(QVariantMap{{"@kpv:url", 5}}, "lookalike"); // a map that only resembles a tag
        // File names that are not UTF-8 (Latin-1, a cut sequence) keep their bytes.
        d.setObject(QStringList{decodeFileName("/photos/caf\xe9.jpg"), decodeFileName("/x\xc3(y.png")}, "recent");
        ASSERT_TRUE(d.synchronize());
        EXPECT_FALSE(d.hasUnsavedChanges());
    }
    UserDefaults d(path());
    EXPECT_EQ(d.integerForKey("sortByType"), 5);
    EXPECT_EQ(d.integerForKey("neg"), -7);
    EXPECT_EQ(d.objectForKey("two").typeId(), QMetaType::Double);
    EXPECT_TRUE(d.objectForKey("flag").toBool());
    EXPECT_EQ(d.objectForKey("flag").typeId(), QMetaType::Bool);
    EXPECT_EQ(d.stringForKey("str"), QString("text with \"quotes\" and ünïcode"));
    EXPECT_EQ(d.URLForKey("lastSaveAsDirUrl"), QUrl::fromLocalFile("/tmp/some dir/x"));
    const QVariantMap map = d.dictionaryForKey("map");
    EXPECT_EQ(map.value("ThemeID").toInt(), 3);
    EXPECT_EQ(map.value("nested").toList().value(1).toDouble(), 1.5);
    EXPECT_EQ(d.objectForKey("date").toDateTime(), when);
    EXPECT_EQ(d.objectForKey("data").toByteArray(), QByteArray("\x00\x01\xff", 3));
    EXPECT_EQ(d.dictionaryForKey("lookalike").value("@kpv:url").toInt(), 5);
    EXPECT_EQ(d.objectForKey("recent").toStringList(),
              (QStringList{decodeFileName("/photos/caf\xe9.jpg"), decodeFileName("/x\xc3(y.png")}));
    EXPECT_EQ(d.dictionaryRepresentation().size(), 11);

    d.removeObjectForKey("neg");
    ASSERT_TRUE(d.synchronize());
    EXPECT_FALSE(UserDefaults(path()).objectForKey("neg").isValid());
}

TEST_F(UserDefaultsTest, FileIsPrivateEvenWhenTheOldOneWasNot)
{
    QDir().mkpath(dir.path() + "/conf");
    ASSERT_NO_FATAL_FAILURE(writeFile(path(), "{\"a\": 1}"));
    ::chmod(QFile::encodeName(path()).constData(), 0644);
    UserDefaults d(path());
    EXPECT_EQ(d.integerForKey("a"), 1);
    d.setObject(QString("secret-token"), "token");
    ASSERT_TRUE(d.synchronize());
    struct stat st {};
    ASSERT_EQ(::stat(QFile::encodeName(path()).constData(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
}

TEST_F(UserDefaultsTest, InterruptedSaveLeavesTheOldFileIntact)
{
    {
        UserDefaults d(path());
        d.setInteger(1, "generation");
        ASSERT_TRUE(d.synchronize());
    }
    const QByteArray before = readFile(path());
    QString tempSeen;
    {
        UserDefaults d(path());
        d.setInteger(2, "generation");
        d.setBeforeReplaceHookForTesting([&](const QString& temp) {
            tempSeen = temp;
            // The new file is complete and private before it replaces anything.
            EXPECT_EQ(UserDefaults(temp).integerForKey("generation"), 2);
            return false;
        });
        EXPECT_FALSE(d.synchronize());
        EXPECT_EQ(readFile(path()), before);
        d.setBeforeReplaceHookForTesting(nullptr);
        d.setObject(QVariant(), "unused"); // the destructor's save then succeeds
    }
    EXPECT_FALSE(tempSeen.isEmpty());
    EXPECT_EQ(QFileInfo(tempSeen).absolutePath(), QFileInfo(path()).absolutePath());
    EXPECT_EQ(UserDefaults(path()).integerForKey("generation"), 2);
}

TEST_F(UserDefaultsTest, FullDiskKeepsTheOldFileAndTheChangesForTheNextSave)
{
    {
        UserDefaults d(path());
        d.setObject(QString("kept"), "name");
        ASSERT_TRUE(d.synchronize());
    }
    const QByteArray before = kpv::test::checksum(path());
    UserDefaults d(path());
    QStringList told;
    d.setSaveFailureHandler([&told](const QString& why) { told << why; });
    static int warnings;
    warnings = 0;
    const QtMessageHandler previousHandler =
        qInstallMessageHandler([](QtMsgType, const QMessageLogContext&, const QString&) { ++warnings; });
    d.setObject(QString(64 * 1024, QChar(u'x')), "long");
    {
        kpv::test::FileSizeLimit full(256);
        EXPECT_FALSE(d.synchronize());
        // Every later change fails for the same reason: told once, one line in the log.
        d.setInteger(1, "more");
        EXPECT_FALSE(d.synchronize());
    }
    qInstallMessageHandler(previousHandler);
    ASSERT_EQ(told.size(), 1);
    EXPECT_TRUE(told.first().contains(path())) << told.first().toStdString();
    EXPECT_EQ(warnings, 1);
    EXPECT_EQ(kpv::test::checksum(path()), before);
    EXPECT_EQ(kpv::test::entriesOf(dir.path() + "/conf"), QStringList{"settings.json"});
    EXPECT_TRUE(d.hasUnsavedChanges());
    // Once there is room the same changes are saved; a failure after that is news again.
    ASSERT_TRUE(d.synchronize());
    EXPECT_EQ(UserDefaults(path()).stringForKey("long").size(), 64 * 1024);
    d.setInteger(2, "more");
    {
        kpv::test::FileSizeLimit full(256);
        EXPECT_FALSE(d.synchronize());
    }
    EXPECT_EQ(told.size(), 2);
    d.setSaveFailureHandler({});
}

// A home the user may not write, with no settings folder yet: the reason told is the system's own
// for the home, not that a folder below it is missing.
TEST_F(UserDefaultsTest, AHomeThatCannotBeWrittenIsToldAsTheReason)
{
    const QString home = dir.path() + "/home";
    ASSERT_TRUE(QDir().mkpath(home));
    ASSERT_TRUE(QFile::setPermissions(home, QFileDevice::ReadOwner | QFileDevice::ExeOwner));
    QStringList told;
    {
        kpv::test::NoPermissionOverride asAnyUser;
        UserDefaults d(home + "/.config/kestrane-viewer/settings.json");
        d.setSaveFailureHandler([&told](const QString& why) { told << why; });
        d.setInteger(1, "changed");
        EXPECT_FALSE(d.synchronize());
        d.setSaveFailureHandler({});
    }
    ASSERT_TRUE(QFile::setPermissions(home, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner));
    ASSERT_EQ(told.size(), 1);
    EXPECT_EQ(told.first().toStdString(), QString("cannot make the folder %1/.config/kestrane-viewer: %2")
                                              .arg(home, QString::fromLocal8Bit(std::strerror(EACCES)))
                                              .toStdString());
}

// A settings folder the user made read-only (to keep the settings as they are) stays so at the
// next start: a change is told as not saved and the file keeps its bytes. Other users are still
// shut out of a folder that let them in.
TEST_F(UserDefaultsTest, AReadOnlySettingsFolderStaysReadOnlyAndTheChangeIsTold)
{
    const QString config = dir.path() + "/cfg/kestrane-viewer";
    ASSERT_TRUE(QDir().mkpath(config));
    ASSERT_NO_FATAL_FAILURE(writeFile(config + "/settings.json", "{\"ZoomMode\": 2, \"sortByType\": 2}"));
    const QByteArray before = kpv::test::checksum(config + "/settings.json");
    const auto modeOf = [&config] {
        struct stat st {};
        return ::stat(QFile::encodeName(config).constData(), &st) == 0 ? st.st_mode & 0777 : 0u;
    };
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(dir.path() + "/cfg"));
    ::chmod(QFile::encodeName(config).constData(), 0555);
    EXPECT_EQ(configDirectory(), config);
    EXPECT_EQ(modeOf(), 0500u);
    QStringList told;
    {
        kpv::test::NoPermissionOverride asAnyUser;
        UserDefaults d(configDirectory() + "/settings.json");
        EXPECT_EQ(d.integerForKey("sortByType"), 2);
        d.setSaveFailureHandler([&told](const QString& why) { told << why; });
        d.setInteger(1, "ZoomMode");
        EXPECT_FALSE(d.synchronize());
        d.setSaveFailureHandler({});
    }
    EXPECT_EQ(told.size(), 1);
    EXPECT_EQ(modeOf(), 0500u);
    EXPECT_EQ(kpv::test::checksum(config + "/settings.json"), before);
    ::chmod(QFile::encodeName(config).constData(), 0755);
    EXPECT_EQ(configDirectory(), config);
    EXPECT_EQ(modeOf(), 0700u);
    qunsetenv("XDG_CONFIG_HOME");
}

TEST_F(UserDefaultsTest, UnreadableFileIsKeptAsideNotOverwritten)
{
    QDir().mkpath(dir.path() + "/conf");
    ASSERT_NO_FATAL_FAILURE(writeFile(path(), "{ not json"));
    UserDefaults d(path());
    EXPECT_TRUE(d.dictionaryRepresentation().isEmpty());
    d.setInteger(3, "k");
    ASSERT_TRUE(d.synchronize());
    EXPECT_EQ(readFile(path() + ".corrupt"), QByteArray("{ not json"));
    EXPECT_EQ(UserDefaults(path()).integerForKey("k"), 3);

    // The name it was to be kept under is taken meanwhile (another run kept its own file there):
    // neither is lost.
    ASSERT_NO_FATAL_FAILURE(writeFile(path(), "{ broken again"));
    UserDefaults again(path());
    EXPECT_EQ(again.loadFailureKeptAs(), path() + ".corrupt.2");
    ASSERT_NO_FATAL_FAILURE(writeFile(path() + ".corrupt.2", "kept by another run"));
    again.setInteger(4, "k");
    ASSERT_TRUE(again.synchronize());
    EXPECT_EQ(readFile(path() + ".corrupt.2"), QByteArray("kept by another run"));
    EXPECT_EQ(readFile(path() + ".corrupt.3"), QByteArray("{ broken again"));
    EXPECT_EQ(again.loadFailureKeptAs(), path() + ".corrupt.3");
}

// A pipe where the settings belong is refused unread instead of holding the start for good; the
// first save sets it aside as it does a damaged file.
TEST_F(UserDefaultsTest, APipeInTheSettingsPlaceIsRefusedWithoutWaiting)
{
    QDir().mkpath(dir.path() + "/conf");
    ASSERT_EQ(::mkfifo(QFile::encodeName(path()).constData(), 0600), 0);
    UserDefaults d(path());
    EXPECT_TRUE(d.loadFailure().contains("not a regular file")) << d.loadFailure().toStdString();
    d.setInteger(3, "k");
    ASSERT_TRUE(d.synchronize());
    EXPECT_EQ(UserDefaults(path()).integerForKey("k"), 3);
    struct stat aside {};
    ASSERT_EQ(::lstat(QFile::encodeName(path() + ".corrupt").constData(), &aside), 0);
    EXPECT_TRUE(S_ISFIFO(aside.st_mode));
}

TEST_F(UserDefaultsTest, HostileFilesNeverCrashTheReader)
{
    QDir().mkpath(dir.path() + "/conf");
    const QByteArray good = R"({"a": {"@kpv:url": "http://x/"}, "b": [1, {"@kpv:data": "AAE="}], "c": {"@kpv:date": 5}})";
    for (qsizetype n = 0; n <= good.size(); ++n) {
        ASSERT_NO_FATAL_FAILURE(writeFile(path(), good.left(n)));
        UserDefaults d(path());
        (void)d.dictionaryRepresentation();
        (void)d.URLForKey("a");
        d.setBeforeReplaceHookForTesting([](const QString&) { return false; });
    }
    ASSERT_NO_FATAL_FAILURE(writeFile(path(), good));
    UserDefaults d(path());
    EXPECT_EQ(d.URLForKey("a"), QUrl("http://x/"));
    EXPECT_EQ(d.dictionaryForKey("c").value("@kpv:date").toInt(), 5); // wrong tag type stays a map
}

} // namespace

TEST_F(UserDefaultsTest, TwoViewersSavingKeepEachOthersSettings)
{
    {
        UserDefaults first(path());
        first.setInteger(1, "shared");
        first.setInteger(1, "dropped");
        ASSERT_TRUE(first.synchronize());
    }
    UserDefaults one(path()), other(path());
    one.setInteger(2, "sortByType");
    one.removeObjectForKey("dropped");
    ASSERT_TRUE(one.synchronize());
    other.setInteger(3, "slideshowSpeed");
    ASSERT_TRUE(other.synchronize());

    UserDefaults after(path());
    EXPECT_EQ(after.objectForKey("sortByType").toInt(), 2);
    EXPECT_EQ(after.objectForKey("slideshowSpeed").toInt(), 3);
    EXPECT_EQ(after.objectForKey("shared").toInt(), 1);
    EXPECT_FALSE(after.objectForKey("dropped").isValid());
}

// Two viewers of one user running at once, each changing its own settings and one both change,
// and both quitting at the same moment: nothing either changed is lost, and a setting both
// changed holds the value of whichever saved last.
TEST_F(UserDefaultsTest, TwoRunningViewersQuittingTogetherKeepEverySetting)
{
    for (int round = 0; round < 10; ++round) {
        SCOPED_TRACE(round);
        QFile::remove(path());
        {
            UserDefaults first(path());
            first.setInteger(7, "kept");
            first.setInteger(0, "both");
            ASSERT_TRUE(first.synchronize());
        }
        std::unique_ptr<UserDefaults> viewer;
        const bool passed = kpv::test::runTogether(
            2,
            [&](int i) {
                viewer = std::make_unique<UserDefaults>(path());
                viewer->setInteger(i + 1, i == 0 ? "sortByType" : "slideshowSpeed");
                viewer->setInteger(i + 1, "both");
            },
            [&](int) { EXPECT_TRUE(viewer->synchronize()); });
        ASSERT_TRUE(passed) << "see above";
        UserDefaults after(path());
        EXPECT_EQ(after.objectForKey("kept").toInt(), 7);
        EXPECT_EQ(after.objectForKey("sortByType").toInt(), 1);
        EXPECT_EQ(after.objectForKey("slideshowSpeed").toInt(), 2);
        const int both = after.objectForKey("both").toInt();
        EXPECT_TRUE(both == 1 || both == 2) << both;
    }
    // One after the other: the later save's value of the shared setting stands.
    UserDefaults one(path()), other(path());
    one.setInteger(5, "both");
    other.setInteger(6, "both");
    ASSERT_TRUE(one.synchronize());
    ASSERT_TRUE(other.synchronize());
    EXPECT_EQ(UserDefaults(path()).objectForKey("both").toInt(), 6);
    EXPECT_EQ(one.objectForKey("both").toInt(), 5) << "a viewer keeps its own value until it reads again";
}
