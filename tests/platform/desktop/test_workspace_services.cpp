// The desktop picture through the desktop's settings: a change that nothing would store is
// reported as refused, not as done. Each desktop's own tool is played by a stand-in program on
// the search path that keeps what it is told in a folder and logs its arguments.

#include "desktop/MimeAppsList.h"
#include "desktop/WorkspaceServices.h"
#include "foundation/FileNames.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QUrl>
#include <QtGlobal>

#include <gtest/gtest.h>

// GLib names a struct member "signals", which Qt defines as a keyword.
#undef signals
#include <gio/gio.h>

#include <sys/stat.h>
#include <unistd.h>

namespace {

TEST(DesktopPicture, ASessionWithoutItsBusRefusesTheChange)
{
    // The settings writer is reached over the session bus; here there is none to reach. Set
    // before anything in this process reads settings or opens the bus.
    qputenv("GSETTINGS_BACKEND", "dconf");
    qputenv("DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent/kpv-test-bus");
    const QByteArray desktop = qgetenv("XDG_CURRENT_DESKTOP");
    qunsetenv("XDG_CURRENT_DESKTOP");
    QTemporaryDir dir;
    const QString picture = dir.filePath(QStringLiteral("wall.png"));
    kpv::SystemWorkspaceServices workspace;
    EXPECT_FALSE(workspace.setDesktopImagePath(picture));
    EXPECT_NE(workspace.desktopImagePath(), picture);
    EXPECT_FALSE(workspace.desktopImageFailureReason().isEmpty());
    if (!desktop.isEmpty())
        qputenv("XDG_CURRENT_DESKTOP", desktop);
}

// A bare X server: no desktop named, settings that keep what they are given, the session bus up,
// but nothing on it that shows a picture. The change is refused and told, and nothing stored;
// once the shell that draws the picture is on the bus, the same change is made. The bus is a
// private one started for the test, the settings a key file in a scratch folder.
TEST(DesktopPicture, WithNoDesktopToShowItThePictureIsNotSetAndTheUserIsTold)
{
    const QString daemon = QStandardPaths::findExecutable(QStringLiteral("dbus-daemon"));
    if (daemon.isEmpty())
        GTEST_SKIP() << "no dbus-daemon to play the session bus";
    GSettingsSchemaSource* source = g_settings_schema_source_get_default();
    GSettingsSchema* schema = source ? g_settings_schema_source_lookup(source, "org.gnome.desktop.background", TRUE) : nullptr;
    if (!schema)
        GTEST_SKIP() << "the desktop's background settings are not installed";
    g_settings_schema_unref(schema);

    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    QFile config(dir.filePath("bus.conf"));
    ASSERT_TRUE(config.open(QIODevice::WriteOnly));
    config.write("<busconfig><type>session</type><listen>unix:path=" + QFile::encodeName(dir.filePath("bus")) +
                 "</listen><auth>EXTERNAL</auth><policy context=\"default\"><allow send_destination=\"*\" "
                 "eavesdrop=\"true\"/><allow eavesdrop=\"true\"/><allow own=\"*\"/></policy></busconfig>");
    config.close();
    QProcess bus;
    bus.start(daemon, {"--config-file=" + config.fileName(), "--nofork", "--print-address=1"});
    ASSERT_TRUE(bus.waitForStarted());
    while (!bus.canReadLine() && bus.waitForReadyRead(10000)) {
    }
    const QByteArray address = bus.readLine().trimmed();
    ASSERT_FALSE(address.isEmpty()) << "the private bus did not start";
    qputenv("DBUS_SESSION_BUS_ADDRESS", address);
    qputenv("GSETTINGS_BACKEND", "keyfile");
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(dir.filePath("config")));
    qunsetenv("XDG_CURRENT_DESKTOP");
    const QString kept = dir.filePath("config/glib-2.0/settings/keyfile");
    const QString picture = dir.filePath("wall.png");

    kpv::SystemWorkspaceServices workspace;
    EXPECT_FALSE(workspace.setDesktopImagePath(picture));
    const QString why = workspace.desktopImageFailureReason();
    EXPECT_TRUE(why.contains("no desktop that shows a picture is running")) << why.toStdString();
    QFile keyfile(kept);
    EXPECT_FALSE(keyfile.open(QIODevice::ReadOnly) && keyfile.readAll().contains("wall.png"));
    keyfile.close();

    GDBusConnection* connection = g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, nullptr);
    ASSERT_TRUE(connection);
    GVariant* owned = g_dbus_connection_call_sync(connection, "org.freedesktop.DBus", "/org/freedesktop/DBus",
                                                  "org.freedesktop.DBus", "RequestName",
                                                  g_variant_new("(su)", "org.gnome.Shell", 4u), G_VARIANT_TYPE("(u)"),
                                                  G_DBUS_CALL_FLAGS_NONE, 5000, nullptr, nullptr);
    ASSERT_TRUE(owned);
    g_variant_unref(owned);
    EXPECT_TRUE(workspace.setDesktopImagePath(picture)) << workspace.desktopImageFailureReason().toStdString();
    EXPECT_EQ(workspace.desktopImagePath(), picture);
    g_dbus_connection_close_sync(connection, nullptr, nullptr);
    g_object_unref(connection);
    bus.kill();
    bus.waitForFinished();
}

class DesktopTools : public testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(dir.isValid());
        tools = dir.filePath("bin");
        store = dir.filePath("store");
        ASSERT_TRUE(QDir().mkpath(tools) && QDir().mkpath(store));
        // Settings: "set" keeps the value, "get" prints it back (a forgetful tool keeps nothing).
        writeTool("gsettings", R"(case "$1" in
  set) [ -e "$STORE/forgetful" ] || printf '%s' "$4" > "$STORE/$2.$3"; exit 0 ;;
  get) [ -e "$STORE/$2.$3" ] || exit 1; cat "$STORE/$2.$3"; echo ;;
  *) exit 1 ;;
esac)");
        // xfconf: -l lists the channel's properties, -p P -s V sets one, -p P prints it.
        writeTool("xfconf-query", R"(prop= value= list=
while [ $# -gt 0 ]; do case "$1" in -l) list=1 ;; -p) prop=$2; shift ;; -s) value=$2; shift ;; esac; shift; done
if [ -n "$list" ]; then cat "$STORE/xfce-props" 2>/dev/null; exit 0; fi
key=$(printf '%s' "$prop" | tr / _)
if [ -n "$value" ]; then printf '%s' "$value" > "$STORE/xfce$key"; exit 0; fi
[ -e "$STORE/xfce$key" ] || exit 1; cat "$STORE/xfce$key"; echo)");
        writeTool("gdbus", R"([ -e "$STORE/no-plasma" ] && exit 1; exit 0)");
        savedPath = qgetenv("PATH");
        savedDesktop = qgetenv("XDG_CURRENT_DESKTOP");
        qputenv("PATH", QFile::encodeName(tools) + ":" + savedPath);
        qputenv("STORE", QFile::encodeName(store));
        picture = dir.filePath("Cache/it's a $wall.png");
    }
    void TearDown() override
    {
        qputenv("PATH", savedPath);
        savedDesktop.isEmpty() ? qunsetenv("XDG_CURRENT_DESKTOP") : qputenv("XDG_CURRENT_DESKTOP", savedDesktop);
        qunsetenv("STORE");
    }
    void writeTool(const QString& name, const QByteArray& body)
    {
        QFile f(tools + "/" + name);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("#!/bin/bash\nprintf '%s\\n' \"" + name.toUtf8() + " $*\" >> \"$STORE/log\"\n" + body + "\n");
        f.close();
        f.setPermissions(f.permissions() | QFileDevice::ExeOwner);
    }
    QByteArray stored(const QString& name) const
    {
        QFile f(store + "/" + name);
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("(nothing)");
    }
    QString log() const { return QString::fromUtf8(stored("log")); }
    void touch(const QString& name)
    {
        QFile f(store + "/" + name);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    }
    bool set(const char* desktop)
    {
        qputenv("XDG_CURRENT_DESKTOP", desktop);
        return workspace.setDesktopImagePath(picture);
    }
    // The file's address as the settings tool is given it: quoted, its quote escaped.
    QByteArray uriQuoted() const
    {
        return "'" + QUrl::fromLocalFile(picture).toEncoded().replace("'", "\\'") + "'";
    }

    QTemporaryDir dir;
    QString tools, store, picture;
    QByteArray savedPath, savedDesktop;
    kpv::SystemWorkspaceServices workspace;
};

TEST_F(DesktopTools, GnomeCinnamonAndMateKeepThePictureInTheirSettings)
{
    ASSERT_TRUE(set("ubuntu:GNOME")) << workspace.desktopImageFailureReason().toStdString();
    EXPECT_EQ(stored("org.gnome.desktop.background.picture-uri"), uriQuoted());
    EXPECT_EQ(stored("org.gnome.desktop.background.picture-uri-dark"), uriQuoted());
    EXPECT_EQ(workspace.desktopImagePath(), picture);

    ASSERT_TRUE(set("X-Cinnamon"));
    EXPECT_EQ(stored("org.cinnamon.desktop.background.picture-uri"), uriQuoted());
    ASSERT_TRUE(set("MATE"));
    // MATE takes a path; the quote in the name is escaped for the settings tool.
    EXPECT_EQ(stored("org.mate.background.picture-filename"), "'" + QFile::encodeName(picture).replace("'", "\\'") + "'");
    EXPECT_EQ(workspace.desktopImagePath(), picture);

    // Settings held only in the tool's memory are gone when read back: refused, and said why.
    touch("forgetful");
    picture = dir.filePath("other.png");
    EXPECT_FALSE(set("GNOME"));
    EXPECT_TRUE(workspace.desktopImageFailureReason().contains("did not keep"));
}

TEST_F(DesktopTools, XfceSetsEveryMonitorsPicture)
{
    QFile props(store + "/xfce-props");
    ASSERT_TRUE(props.open(QIODevice::WriteOnly));
    props.write("/backdrop/screen0/monitorHDMI-1/workspace0/last-image\n"
                "/backdrop/screen0/monitorHDMI-1/workspace0/image-style\n"
                "/backdrop/screen0/monitoreDP-1/workspace0/last-image\n");
    props.close();
    ASSERT_TRUE(set("XFCE")) << workspace.desktopImageFailureReason().toStdString();
    EXPECT_EQ(stored("xfce_backdrop_screen0_monitorHDMI-1_workspace0_last-image"), QFile::encodeName(picture));
    EXPECT_EQ(stored("xfce_backdrop_screen0_monitoreDP-1_workspace0_last-image"), QFile::encodeName(picture));
    EXPECT_EQ(stored("xfce_backdrop_screen0_monitorHDMI-1_workspace0_image-style"), "(nothing)");
    EXPECT_EQ(workspace.desktopImagePath(), picture);
}

TEST_F(DesktopTools, PlasmaGetsAScriptForEveryDesktopAndElsewhereTheUserIsToldWhichDesktopsWork)
{
    ASSERT_TRUE(set("KDE")) << workspace.desktopImageFailureReason().toStdString();
    const QString call = log();
    EXPECT_TRUE(call.contains("gdbus call --session --dest org.kde.plasmashell --object-path /PlasmaShell "
                              "--method org.kde.PlasmaShell.evaluateScript")) << call.toStdString();
    EXPECT_TRUE(call.contains("desktops()"));
    // The script reaches the bus tool as one quoted argument, its quote escaped.
    const QString uri = QString::fromLatin1(QUrl::fromLocalFile(picture).toEncoded()).replace("'", "\\'");
    EXPECT_TRUE(call.contains("writeConfig(\"Image\", \"" + uri + "\")"))
        << call.toStdString();
    touch("no-plasma");
    EXPECT_FALSE(set("KDE"));

    EXPECT_FALSE(set("Sway"));
    const QString why = workspace.desktopImageFailureReason();
    EXPECT_TRUE(why.contains("GNOME, KDE Plasma, Xfce, MATE and Cinnamon") && why.contains("(Sway)")) << why.toStdString();
}

TEST_F(DesktopTools, ANameThatIsNotUtf8ReachesTheDesktopByItsBytes)
{
    writeTool("xdg-open", "exit 0");
    const QByteArray bus = qgetenv("DBUS_SESSION_BUS_ADDRESS");
    // No file-manager service to reach: the folder is opened instead.
    qputenv("DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent/kpv-test-bus");
    const QByteArray folder = QFile::encodeName(dir.path()) + "/Fotos \xc4rger";
    ASSERT_EQ(::mkdir(folder.constData(), 0700), 0);
    for (const QByteArray& name : {QByteArray("caf\xe9.png"), QByteArray("x\xc3(y\xed\xa0\x80.png")}) {
        SCOPED_TRACE(name.toHex().toStdString());
        const QByteArray native = folder + "/" + name;
        picture = kpv::decodeFileName(native);
        // The address escapes every byte of the name, so it is plain text whatever the name.
        const QByteArray uri = "file://" + native.toPercentEncoding("/!$&'()*+,;=:@~");
        ASSERT_TRUE(set("GNOME")) << workspace.desktopImageFailureReason().toStdString();
        EXPECT_EQ(stored("org.gnome.desktop.background.picture-uri"), "'" + uri + "'");
        EXPECT_EQ(kpv::encodeFileName(workspace.desktopImagePath()), native);
        // A desktop that keeps a path as text cannot hold this one: refused, and said why.
        EXPECT_FALSE(set("MATE"));
        EXPECT_TRUE(workspace.desktopImageFailureReason().contains("UTF-8"));
        EXPECT_FALSE(set("XFCE"));

        QFile::remove(store + "/log");
        EXPECT_TRUE(workspace.selectFileInFileViewer(picture));
        const QByteArray folderUri = "file://" + folder.toPercentEncoding("/!$&'()*+,;=:@~");
        EXPECT_EQ(stored("log"), "xdg-open " + folderUri + "\n");
    }
    bus.isNull() ? qunsetenv("DBUS_SESSION_BUS_ADDRESS") : qputenv("DBUS_SESSION_BUS_ADDRESS", bus);
    EXPECT_EQ(::rmdir(folder.constData()), 0);
}

} // namespace

TEST(MimeAppsList, ChoosingTheViewerKeepsEveryOtherLineAndTheFileMode)
{
    QTemporaryDir dir;
    const QString path = dir.filePath("mimeapps.list");
    const QByteArray before = "# my own notes, keep them\n"
                              "[Default Applications]\n"
                              "text/plain=editor.desktop;\n"
                              "image/png=other-viewer.desktop;\n"
                              "\n"
                              "# another comment\n"
                              "[Added Associations]\n"
                              "image/png=other-viewer.desktop;gimp.desktop;\n";
    {
        QFile f(path);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(before);
    }
    ::chmod(QFile::encodeName(path).constData(), 0644);
    QString error;
    ASSERT_TRUE(kpv::MimeAppsList::setDefault(path, "image/png", "kestrane-viewer.desktop", &error))
        << error.toStdString();
    ASSERT_TRUE(kpv::MimeAppsList::setDefault(path, "image/jpeg", "kestrane-viewer.desktop", &error));
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    EXPECT_EQ(f.readAll(), QByteArray("# my own notes, keep them\n"
                                      "[Default Applications]\n"
                                      "text/plain=editor.desktop;\n"
                                      "image/png=kestrane-viewer.desktop;\n"
                                      "image/jpeg=kestrane-viewer.desktop;\n"
                                      "\n"
                                      "# another comment\n"
                                      "[Added Associations]\n"
                                      "image/png=kestrane-viewer.desktop;other-viewer.desktop;gimp.desktop;\n"
                                      "image/jpeg=kestrane-viewer.desktop;\n"));
    struct stat st {};
    ASSERT_EQ(::stat(QFile::encodeName(path).constData(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0644u);
}

// What another program writes into the file while the viewer edits it (the desktop's settings
// choosing a browser) stays: the viewer's edit is made again on the file as that program left it,
// whether the file was there before or appeared meanwhile.
TEST(MimeAppsList, AnotherProgramsEditMeanwhileIsKept)
{
    QTemporaryDir dir;
    const QString path = dir.filePath("mimeapps.list");
    const auto contents = [&] {
        QFile f(path);
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    };
    for (const bool existed : {true, false}) {
        QFile::remove(path);
        if (existed) {
            QFile f(path);
            ASSERT_TRUE(f.open(QIODevice::WriteOnly));
            f.write("[Default Applications]\n");
        }
        int edits = 0;
        kpv::MimeAppsList::setBeforeReplaceHookForTesting([&] {
            if (edits++ > 0)
                return;
            QFile f(path);
            ASSERT_TRUE(f.open(QIODevice::WriteOnly));
            f.write("[Default Applications]\ntext/html=browser.desktop;\n");
        });
        QString error;
        EXPECT_TRUE(kpv::MimeAppsList::setDefault(path, "image/png", "kestrane-viewer.desktop", &error))
            << error.toStdString();
        kpv::MimeAppsList::setBeforeReplaceHookForTesting({});
        EXPECT_EQ(edits, 2);
        EXPECT_TRUE(contents().contains("text/html=browser.desktop;\n")) << existed << contents().toStdString();
        EXPECT_TRUE(contents().contains("image/png=kestrane-viewer.desktop;\n")) << existed;
    }
}
