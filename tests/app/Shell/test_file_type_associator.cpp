// Taking and giving back the default-viewer role, against an in-memory desktop.
#include "../../support/FaultInjection.h"

#include "Shell/Desktop/FileTypeAssociator.h"
#include "Shell/Desktop/AppDesktopEntry.h"

#include "Model/MainConfig.h"
#include "desktop/FakeDesktopServices.h"
#include "foundation/UserDefaults.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

const QString kOurs = QStringLiteral("org.kestrane.viewer.desktop");
const QString kJpeg = QStringLiteral("public.jpeg");
const QString kPng = QStringLiteral("public.png");
const QString kGif = QStringLiteral("com.compuserve.gif");

struct AssociatorTest : ::testing::Test {
    QTemporaryDir dir;
    std::unique_ptr<kpv::UserDefaults> defaults{new kpv::UserDefaults(dir.filePath("settings.json"))};
    MainConfig config{*defaults};
    kpv::FakeDesktopServices desktop;
    FileTypeAssociator associator{desktop, config, kOurs, {kJpeg, kPng, kGif}};

    static QString mime(const QString& type) { return kpv::DesktopServices::mimeTypeForContentType(type); }
};

TEST_F(AssociatorTest, ContentTypesMapToDesktopMimeTypes)
{
    EXPECT_EQ(mime(kJpeg), "image/jpeg");
    EXPECT_EQ(mime(kPng), "image/png");
    EXPECT_EQ(mime(kGif), "image/gif");
    EXPECT_TRUE(mime(QStringLiteral("no.such.type")).isEmpty());
}

TEST_F(AssociatorTest, AssociatedComparesIdsWithoutCaseAndReportsHandler)
{
    desktop.defaults.insert("image/jpeg", "ORG.Kestrane.Viewer.desktop");
    QString handler;
    EXPECT_TRUE(associator.fileTypeAssociated(kJpeg, QString(), &handler));
    EXPECT_EQ(handler, "ORG.Kestrane.Viewer.desktop");
    EXPECT_FALSE(associator.fileTypeAssociated(kPng, QString(), &handler));
    EXPECT_TRUE(handler.isEmpty());
}

TEST_F(AssociatorTest, TakingTypesRemembersOnlyForeignHandlers)
{
    desktop.defaults.insert("image/jpeg", "viewer-a.desktop");
    desktop.defaults.insert("image/png", kOurs);
    associator.makeFileAssoicateForFileTypes({kJpeg, kPng});
    EXPECT_EQ(desktop.defaults.value("image/jpeg"), kOurs);
    EXPECT_EQ(desktop.defaults.value("image/png"), kOurs);
    EXPECT_FALSE(desktop.defaults.contains("image/gif"));
    const QVariantMap prev = config.prevAssociatedApps();
    EXPECT_EQ(prev.size(), 1);
    EXPECT_EQ(prev.value(kJpeg).toString(), "viewer-a.desktop");
    // With no stored table yet, a type already ours is set again.
    EXPECT_EQ(desktop.setDefaultCalls.size(), 2);
}

TEST_F(AssociatorTest, TableExistsAfterEveryRunEvenEmpty)
{
    EXPECT_FALSE(associator.hasPrevAssociatedApps());
    associator.makeFileAssoicateForFileTypes({});
    EXPECT_TRUE(associator.hasPrevAssociatedApps());
    EXPECT_TRUE(config.prevAssociatedApps().isEmpty());
}

TEST_F(AssociatorTest, SecondRunLeavesOwnedWantedTypesAlone)
{
    associator.makeFileAssoicateForFileTypes({kJpeg});
    desktop.setDefaultCalls.clear();
    associator.makeFileAssoicateForFileTypes({kJpeg});
    EXPECT_TRUE(desktop.setDefaultCalls.isEmpty());
}

TEST_F(AssociatorTest, ReleasingGivesTypeBackInPreferenceOrder)
{
    desktop.defaults.insert("image/jpeg", "viewer-a.desktop");
    associator.makeFileAssoicateForFileTypes({kJpeg});
    ASSERT_EQ(desktop.defaults.value("image/jpeg"), kOurs);

    // The previous handler, still installed, gets it back.
    desktop.allHandlers.insert("image/jpeg", {kOurs, "Viewer-A.desktop", "editor-b.desktop"});
    desktop.viewers.insert("image/jpeg", {kOurs, "editor-b.desktop"});
    associator.makeFileAssoicateForFileTypes({});
    EXPECT_EQ(desktop.defaults.value("image/jpeg"), "viewer-a.desktop");
    // Entries of released types are kept.
    EXPECT_EQ(config.prevAssociatedApps().value(kJpeg).toString(), "viewer-a.desktop");

    // Previous handler gone: the first other viewer.
    desktop.defaults.insert("image/jpeg", kOurs);
    desktop.allHandlers.insert("image/jpeg", {kOurs, "editor-b.desktop", "zzz.desktop"});
    associator.makeFileAssoicateForFileTypes({});
    EXPECT_EQ(desktop.defaults.value("image/jpeg"), "editor-b.desktop");

    // No viewer but us: the first remaining candidate by lower-cased id.
    desktop.defaults.insert("image/jpeg", kOurs);
    desktop.viewers.insert("image/jpeg", {kOurs});
    desktop.allHandlers.insert("image/jpeg", {kOurs, "Zed.desktop", "Alpha.desktop"});
    associator.makeFileAssoicateForFileTypes({});
    EXPECT_EQ(desktop.defaults.value("image/jpeg"), "alpha.desktop");
}

TEST_F(AssociatorTest, TypeWithoutOtherHandlerStaysOurs)
{
    desktop.defaults.insert("image/png", kOurs);
    desktop.allHandlers.insert("image/png", {kOurs});
    EXPECT_TRUE(associator.preferredOtherAppBundleIDForType(kPng, {}, kOurs).isEmpty());
    associator.makeFileAssoicateForFileTypes({});
    EXPECT_EQ(desktop.defaults.value("image/png"), kOurs);
    EXPECT_TRUE(associator.preferredOtherAppBundleIDForType(QString(), {}, kOurs).isEmpty());
}

// Camera raw and JPEG 2000 are many MIME types to the desktop: every one is taken, so that a
// Nikon or Canon raw and a .jp2 file open here too, and every one is given back.
TEST_F(AssociatorTest, TypeOfManyMimeTypesTakesAndReleasesThemAll)
{
    const QString raw = QStringLiteral("public.camera-raw-image");
    const QString jp2 = QStringLiteral("public.jpeg-2000");
    FileTypeAssociator many{desktop, config, kOurs, {raw, jp2}};
    const QStringList mimes = kpv::DesktopServices::mimeTypesForContentType(raw) +
                              kpv::DesktopServices::mimeTypesForContentType(jp2);
    for (const char* wanted : {"image/x-nikon-nef", "image/x-canon-cr2", "image/x-adobe-dng", "image/jp2"})
        ASSERT_TRUE(mimes.contains(QString::fromLatin1(wanted))) << wanted;
    EXPECT_FALSE(mimes.contains("application/x-jbuilder-project"));
    desktop.defaults.insert("image/x-canon-cr2", "raw-editor.desktop");
    desktop.defaults.insert("image/jp2", kOurs);
    EXPECT_FALSE(many.fileTypeAssociated(jp2, QString(), nullptr));

    ASSERT_TRUE(many.makeFileAssoicateForFileTypes({raw, jp2}));
    for (const QString& mime : mimes)
        EXPECT_EQ(desktop.defaults.value(mime), kOurs) << mime.toStdString();
    EXPECT_TRUE(many.fileTypeAssociated(raw, QString(), nullptr));
    EXPECT_TRUE(many.fileTypeAssociated(jp2, QString(), nullptr));
    EXPECT_EQ(config.prevAssociatedApps().value(raw).toString(), "raw-editor.desktop");

    for (const QString& mime : mimes)
        desktop.allHandlers.insert(mime, {kOurs, "raw-editor.desktop"});
    ASSERT_TRUE(many.makeFileAssoicateForFileTypes({}));
    for (const QString& mime : mimes)
        EXPECT_EQ(desktop.defaults.value(mime), "raw-editor.desktop") << mime.toStdString();
    // A type the user left alone in the preferences keeps the kinds that are ours.
    desktop.defaults.insert("image/x-nikon-nef", kOurs);
    ASSERT_TRUE(many.makeFileAssoicateForFileTypes({}, {raw}));
    EXPECT_EQ(desktop.defaults.value("image/x-nikon-nef"), kOurs);
}

}  // namespace

namespace {
// The desktop entry that the MIME defaults name: written once into the user's applications
// folder with the program quoted safely, left alone when one is installed, and a failed
// preparation changes no association.
// The user's data folders point into a scratch folder for the length of a test.
class ScratchDataHome {
public:
    ScratchDataHome() : m_oldDataHome(qgetenv("XDG_DATA_HOME")), m_oldDataDirs(qgetenv("XDG_DATA_DIRS"))
    {
        qputenv("XDG_DATA_HOME", home.filePath("data").toUtf8());
        qputenv("XDG_DATA_DIRS", home.filePath("none").toUtf8());
    }
    ~ScratchDataHome()
    {
        qputenv("XDG_DATA_HOME", m_oldDataHome);
        qputenv("XDG_DATA_DIRS", m_oldDataDirs);
    }
    QTemporaryDir home;

private:
    QByteArray m_oldDataHome;
    QByteArray m_oldDataDirs;
};

TEST(AppDesktopEntryTest, WritesAnEntryOnceAndKeepsAnInstalledOne)
{
    ScratchDataHome scratch;
    const QTemporaryDir& home = scratch.home;

    EXPECT_EQ(AppDesktopEntry::execValue("/opt/my \"odd\" $dir/kestrane-viewer"),
              "\"/opt/my \\\\\"odd\\\\\" \\\\$dir/kestrane-viewer\" %F");
    EXPECT_EQ(AppDesktopEntry::execValue("/opt/100%/viewer"), "/opt/100%%/viewer %F");
    EXPECT_EQ(AppDesktopEntry::execValue("/opt/my viewer/kestrane-viewer"), "\"/opt/my viewer/kestrane-viewer\" %F");
    EXPECT_TRUE(AppDesktopEntry::execValue("/opt/a\nExec=evil").isEmpty());
    EXPECT_TRUE(AppDesktopEntry::entryText("Viewer", "/bad\npath", {}).isEmpty());

    const QString id = "org.kestrane.viewer.desktop";
    ASSERT_TRUE(AppDesktopEntry::ensureInstalled(id, "Kestrane Photo Viewer", "/usr/bin/kestrane-viewer",
                                                 {"image/jpeg", "image/png", "bad;type", ""}));
    const QString path = home.filePath("data/applications/" + id);
    QFile entry(path);
    ASSERT_TRUE(entry.open(QIODevice::ReadOnly));
    const QString text = QString::fromUtf8(entry.readAll());
    entry.close();
    EXPECT_TRUE(text.startsWith("[Desktop Entry]\n"));
    // A plain path stands bare, so that an opener that takes the first word as the program finds it.
    EXPECT_TRUE(text.contains("\nExec=/usr/bin/kestrane-viewer %F\n")) << text.toStdString();
    EXPECT_TRUE(text.contains("\nMimeType=image/jpeg;image/png;\n"));

    // An installed entry (here one the user edited) is never replaced.
    ASSERT_TRUE(entry.open(QIODevice::WriteOnly | QIODevice::Truncate));
    entry.write("[Desktop Entry]\nName=Mine\n");
    entry.close();
    EXPECT_TRUE(AppDesktopEntry::ensureInstalled(id, "Kestrane Photo Viewer", "/elsewhere/kestrane-viewer", {}));
    ASSERT_TRUE(entry.open(QIODevice::ReadOnly));
    EXPECT_EQ(entry.readAll(), QByteArray("[Desktop Entry]\nName=Mine\n"));
    entry.close();

    // A program whose path holds "%": the entry names it through a link the launcher can find.
    const QString odd = "another.desktop";
    ASSERT_TRUE(AppDesktopEntry::ensureInstalled(odd, "Viewer", "/opt/100%/kestrane-viewer", {}));
    QFile second(home.filePath("data/applications/" + odd));
    ASSERT_TRUE(second.open(QIODevice::ReadOnly));
    const QString exec = QString::fromUtf8(second.readAll()).section("\nExec=", 1).section('\n', 0, 0);
    EXPECT_FALSE(exec.chopped(3).contains('%')) << exec.toStdString();
    const QString link = exec.startsWith('"') ? exec.section('"', 1, 1) : exec.section(' ', 0, 0);
    EXPECT_EQ(QFileInfo(link).symLinkTarget(), "/opt/100%/kestrane-viewer");
    EXPECT_FALSE(AppDesktopEntry::ensureInstalled("../escape.desktop", "x", "/usr/bin/x", {}));
}

// An entry the viewer wrote for itself before it named plain paths bare, quoted, sent photos
// opened by the generic opener nowhere; it is the viewer's own and is written anew. One the user
// changed, and any other program's, stay as they are.
TEST(AppDesktopEntryTest, AnEntryTheViewerWroteEarlierIsWrittenAnew)
{
    ScratchDataHome scratch;
    const QString folder = scratch.home.filePath("data/applications");
    ASSERT_TRUE(QDir().mkpath(folder));
    const QString id = "org.kestrane.viewer.desktop";
    const QByteArray quoted = "[Desktop Entry]\nType=Application\nName=Kestrane Photo Viewer\n"
                              "Exec=\"/home/me/kpv/build/release/app/kestrane-viewer\" %F\nTerminal=false\n"
                              "Icon=org.kestrane.viewer\nCategories=Graphics;Viewer;\nMimeType=image/jpeg;\n";
    const auto write = [](const QString& path, const QByteArray& bytes) {
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(bytes);
    };
    const auto read = [](const QString& path) {
        QFile file(path);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    };
    write(folder + "/" + id, quoted);
    write(folder + "/other.desktop", quoted);
    const QByteArray otherBefore = kpv::test::checksum(folder + "/other.desktop");

    ASSERT_TRUE(AppDesktopEntry::ensureInstalled(id, "Kestrane Photo Viewer", "/usr/bin/kestrane-viewer",
                                                 {"image/jpeg", "image/png"}));
    const QByteArray now = read(folder + "/" + id);
    EXPECT_TRUE(now.contains("\nExec=/usr/bin/kestrane-viewer %F\n")) << now.constData();
    EXPECT_TRUE(now.endsWith("\nMimeType=image/jpeg;image/png;\n")) << now.constData();
    EXPECT_EQ(kpv::test::checksum(folder + "/other.desktop"), otherBefore);

    // A path that needs its quotes keeps them, and reads back as the same program.
    ASSERT_TRUE(AppDesktopEntry::ensureInstalled(id, "Kestrane Photo Viewer", "/opt/my \"odd\" $dir\\kpv",
                                                 {"image/jpeg"}));
    EXPECT_TRUE(read(folder + "/" + id).contains("\nExec=\"/opt/my \\\\\"odd\\\\\" \\\\$dir\\\\\\\\kpv\" %F\n"))
        << read(folder + "/" + id).constData();

    // The same entry with a line the user added is theirs.
    const QByteArray edited = quoted + "NoDisplay=true\n";
    write(folder + "/" + id, edited);
    EXPECT_TRUE(AppDesktopEntry::ensureInstalled(id, "Kestrane Photo Viewer", "/usr/bin/kestrane-viewer",
                                                 {"image/jpeg"}));
    EXPECT_EQ(read(folder + "/" + id), edited);
}

// A full disk while the entry is written leaves no entry at all: a cut one would pass for an
// installed entry at every later start and never be written whole.
TEST(AppDesktopEntryTest, FullDiskLeavesNoCutEntryAndTheNextTryWritesIt)
{
    ScratchDataHome scratch;
    const QString folder = scratch.home.filePath("data/applications");
    ASSERT_TRUE(QDir().mkpath(folder));
    // Another program's entry beside ours is not touched either.
    QFile other(folder + "/other.desktop");
    ASSERT_TRUE(other.open(QIODevice::WriteOnly));
    other.write("[Desktop Entry]\nName=Other\n");
    other.close();
    const QByteArray otherBefore = kpv::test::checksum(other.fileName());

    const QString id = "org.kestrane.viewer.desktop";
    QString error;
    {
        kpv::test::FileSizeLimit full(32);
        EXPECT_FALSE(AppDesktopEntry::ensureInstalled(id, "Kestrane Photo Viewer", "/usr/bin/kestrane-viewer",
                                                      {"image/jpeg", "image/png"}, &error));
    }
    EXPECT_TRUE(error.contains(folder + "/" + id)) << error.toStdString();
    EXPECT_EQ(kpv::test::entriesOf(folder), QStringList{"other.desktop"});
    EXPECT_EQ(kpv::test::checksum(other.fileName()), otherBefore);

    ASSERT_TRUE(AppDesktopEntry::ensureInstalled(id, "Kestrane Photo Viewer", "/usr/bin/kestrane-viewer",
                                                 {"image/jpeg", "image/png"}, &error));
    QFile entry(folder + "/" + id);
    ASSERT_TRUE(entry.open(QIODevice::ReadOnly));
    EXPECT_TRUE(entry.readAll().endsWith("\nMimeType=image/jpeg;image/png;\n"));
}

TEST(AppDesktopEntryTest, FailedPreparationChangesNoAssociation)
{
    QTemporaryDir dir;
    kpv::UserDefaults defaults(dir.filePath("settings.conf"));
    MainConfig config(defaults);
    kpv::FakeDesktopServices desktop;
    FileTypeAssociator associator(desktop, config, "org.kestrane.viewer.desktop", {"public.jpeg", "public.png"});
    int prepared = 0;
    associator.setPrepareOurApplication([&](QString*) { return ++prepared > 1; });
    associator.makeFileAssoicateForFileTypes({"public.jpeg"});
    EXPECT_EQ(prepared, 1);
    EXPECT_TRUE(desktop.setDefaultCalls.isEmpty());
    associator.makeFileAssoicateForFileTypes({"public.jpeg"});
    EXPECT_EQ(desktop.defaults.value("image/jpeg"), "org.kestrane.viewer.desktop");
    // Giving types back never needs our entry.
    associator.makeFileAssoicateForFileTypes({});
    EXPECT_EQ(prepared, 2);
}
}  // namespace
