// Open With through the desktop's application registry, with stand-in applications installed in a
// private data folder: the application receives the very bytes of the file's name, as a path or
// as an address, whatever the name holds.

#include "desktop/DesktopServices.h"
#include "foundation/FileNames.h"
#include "foundation/NotificationCenter.h"
#include "foundation/RunLoop.h"
#include "../../support/FaultInjection.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QThread>

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

namespace {

// The private registry: made, and pointed to, before anything in this process asks the desktop.
struct StandIns {
    QTemporaryDir dir;
    QString log;
    StandIns()
    {
        // Nothing here may reach the real desktop's session.
        qputenv("DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent/kpv-test-bus");
        qputenv("XDG_DATA_HOME", QFile::encodeName(dir.filePath("data")));
        QDir().mkpath(dir.filePath("data/applications"));
        log = dir.filePath("log");
        const QString script = dir.filePath("stand-in");
        QFile s(script);
        s.open(QIODevice::WriteOnly);
        s.write("#!/bin/sh\nprintf '%s\\n' \"$1\" >> '" + QFile::encodeName(log) + "'\n");
        s.close();
        ::chmod(QFile::encodeName(script).constData(), 0755);
        // An application that cannot take the photo: it ends with a failure at once.
        const QString failing = dir.filePath("failing-stand-in");
        QFile fs(failing);
        fs.open(QIODevice::WriteOnly);
        fs.write("#!/bin/sh\nexit 3\n");
        fs.close();
        ::chmod(QFile::encodeName(failing).constData(), 0755);
        QFile failingEntry(dir.filePath(QStringLiteral("data/applications/kpv-stand-in-fails.desktop")));
        failingEntry.open(QIODevice::WriteOnly);
        failingEntry.write("[Desktop Entry]\nType=Application\nName=Failing Stand-in\nExec=" + QFile::encodeName(failing) +
                           " %f\nMimeType=image/png;\n");
        for (const char* code : {"f", "u"}) {
            QFile entry(dir.filePath(QStringLiteral("data/applications/kpv-stand-in-%1.desktop").arg(code)));
            entry.open(QIODevice::WriteOnly);
            entry.write("[Desktop Entry]\nType=Application\nName=Stand-in " + QByteArray(code) + "\nExec=" +
                        QFile::encodeName(script) + " %" + code + "\nMimeType=image/png;\n");
        }
        // The index the desktop's database tool would write.
        QFile index(dir.filePath("data/applications/mimeinfo.cache"));
        index.open(QIODevice::WriteOnly);
        index.write("[MIME Cache]\nimage/png=kpv-stand-in-f.desktop;kpv-stand-in-u.desktop;\n");
    }
    // The line the stand-in logged, once it has run. The shell makes the log before it writes
    // the line: the line is whole once it ends.
    QByteArray takeLine()
    {
        QFile f(log);
        QByteArray line;
        const QDeadlineTimer deadline(30000);
        while (!line.endsWith('\n') && !deadline.hasExpired()) {
            QThread::msleep(20);
            if (f.open(QIODevice::ReadOnly)) {
                line = f.readAll();
                f.close();
            }
        }
        if (!line.endsWith('\n'))
            return "(the application did not run)\n";
        f.remove();
        return line;
    }
};

StandIns& standIns()
{
    static StandIns s;
    return s;
}

TEST(OpenWith, TheApplicationGetsTheVeryBytesOfANameThatIsNotUtf8)
{
    StandIns& apps = standIns();
    kpv::GioDesktopServices desktop;
    // Latin-1 "café", and a name with a cut sequence and an encoded surrogate.
    for (const QByteArray& name : {QByteArray("x\xc3(y\xed\xa0\x80.png"), QByteArray("caf\xe9.png")}) {
        SCOPED_TRACE(name.toHex().toStdString());
        const QByteArray native = QFile::encodeName(apps.dir.path()) + "/" + name;
        QFile::remove(apps.log);
        FILE* f = std::fopen(native.constData(), "wb");
        ASSERT_TRUE(f);
        std::fputs("\x89PNG\r\n\x1a\n", f);
        std::fclose(f);
        const QString path = kpv::decodeFileName(native);

        QStringList offered;
        for (const kpv::DesktopApplication& app : desktop.applicationsForFile(path))
            offered << app.id;
        EXPECT_TRUE(offered.contains("kpv-stand-in-f.desktop")) << offered.join(", ").toStdString();

        ASSERT_TRUE(desktop.openFileWithApplication(path, "kpv-stand-in-f.desktop"));
        EXPECT_EQ(apps.takeLine(), native + "\n");
        // An application that takes addresses gets the path of a local file, or its address
        // escaped from the bytes.
        ASSERT_TRUE(desktop.openFileWithApplication(path, "kpv-stand-in-u.desktop"));
        const QByteArray line = apps.takeLine().chopped(1);
        EXPECT_EQ(line.startsWith("file://") ? QByteArray::fromPercentEncoding(line.mid(7)) : line, native);
        EXPECT_EQ(::unlink(native.constData()), 0);
    }
}

// An application that ends with a failure as soon as it was started did not show the photo: that is
// told (the viewer's alert names the application), while one that took the photo says nothing.
TEST(OpenWith, AnApplicationThatFailsAtOnceIsTold)
{
    StandIns& apps = standIns();
    kpv::GioDesktopServices desktop;
    const QString path = apps.dir.filePath(QStringLiteral("told.png"));
    QFile photo(path);
    ASSERT_TRUE(photo.open(QIODevice::WriteOnly));
    photo.write("\x89PNG\r\n\x1a\n");
    photo.close();
    QStringList told;
    const int observer = 0;
    kpv::NotificationCenter::defaultCenter().addObserver(&observer, kpv::kDesktopHelperFailedNotification, nullptr,
                                                         [&](const kpv::Notification& n) {
                                                             EXPECT_EQ(n.userInfo.value("purpose").toString(),
                                                                       kpv::kDesktopHelperForOpenWith);
                                                             told << n.userInfo.value("subject").toString();
                                                         });
    QFile::remove(apps.log);
    ASSERT_TRUE(desktop.openFileWithApplication(path, "kpv-stand-in-f.desktop"));
    EXPECT_EQ(apps.takeLine(), QFile::encodeName(path) + "\n");
    ASSERT_TRUE(desktop.openFileWithApplication(path, "kpv-stand-in-fails.desktop"));
    // Until the failing one is told (the bound only keeps a broken run from hanging).
    const QDeadlineTimer deadline(30000);
    while (told.isEmpty() && !deadline.hasExpired()) {
        QThread::msleep(20);
        kpv::RunLoop::main().runOnce();
    }
    kpv::NotificationCenter::defaultCenter().removeObserver(&observer);
    EXPECT_EQ(told, QStringList{QStringLiteral("Failing Stand-in")});
}

// A list of defaults that cannot be written (a full disk, a folder of another user) fails every
// type of a photo kind the same way: one line in the log, not one per type, and the next that can
// be written is set.
TEST(OpenWith, DefaultsThatCannotBeSetAreLoggedOncePerCause)
{
    StandIns& apps = standIns();
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(apps.dir.filePath("config")));
    ASSERT_TRUE(QDir().mkpath(apps.dir.filePath("config")));
    kpv::GioDesktopServices desktop;
    static int lines;
    lines = 0;
    const QtMessageHandler previous = qInstallMessageHandler([](QtMsgType, const QMessageLogContext&, const QString& text) {
        lines += text.contains(QLatin1String("default program"));
    });
    {
        kpv::test::FileSizeLimit full(8);
        for (const char* type : {"image/png", "image/x-portable-anymap", "image/x-tga"}) {
            QString error;
            EXPECT_FALSE(desktop.setDefaultApplicationForType(type, "kpv-stand-in-f.desktop", &error));
            EXPECT_TRUE(error.contains(QLatin1String("mimeapps.list"))) << error.toStdString();
        }
    }
    qInstallMessageHandler(previous);
    EXPECT_EQ(lines, 1);
    EXPECT_TRUE(desktop.setDefaultApplicationForType("image/png", "kpv-stand-in-f.desktop", nullptr));
}

// The preferences write the program's own entry just before they make it the default: an entry
// written a moment ago is known at once.
TEST(OpenWith, AnEntryWrittenAMomentAgoCanBeMadeTheDefault)
{
    StandIns& apps = standIns();
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(apps.dir.filePath("config")));
    ASSERT_TRUE(QDir().mkpath(apps.dir.filePath("config")));
    kpv::GioDesktopServices desktop;
    ASSERT_TRUE(desktop.setDefaultApplicationForType("image/png", "kpv-stand-in-f.desktop", nullptr));
    QFile entry(apps.dir.filePath("data/applications/kpv-stand-in-new.desktop"));
    ASSERT_TRUE(entry.open(QIODevice::WriteOnly));
    entry.write("[Desktop Entry]\nType=Application\nName=New\nExec=true %F\nMimeType=image/png;\n");
    entry.close();
    QString error;
    EXPECT_TRUE(desktop.setDefaultApplicationForType("image/png", "kpv-stand-in-new.desktop", &error)) << error.toStdString();
    QFile list(apps.dir.filePath("config/mimeapps.list"));
    ASSERT_TRUE(list.open(QIODevice::ReadOnly));
    EXPECT_TRUE(list.readAll().contains("image/png=kpv-stand-in-new.desktop"));
    EXPECT_FALSE(desktop.setDefaultApplicationForType("image/png", "kpv-no-such-entry.desktop", &error));
}

// A desktop that keeps the user's defaults in a list of its own (xfce-mimeapps.list for XFCE)
// reads that one first: the new default is written there too, the list's other lines kept, so the
// desktop opens the type with it. A desktop without such a list gets none made.
TEST(OpenWith, TheDefaultReachesTheListOfTheUsersOwnDesktop)
{
    StandIns& apps = standIns();
    const QString config = apps.dir.filePath("config-desktop");
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(config));
    const QByteArray desktopBefore = qgetenv("XDG_CURRENT_DESKTOP");
    qputenv("XDG_CURRENT_DESKTOP", "XFCE:Other");
    ASSERT_TRUE(QDir().mkpath(config));
    QFile own(config + "/xfce-mimeapps.list");
    ASSERT_TRUE(own.open(QIODevice::WriteOnly));
    own.write("# mine\n[Default Applications]\nimage/png=kpv-stand-in-u.desktop;\ntext/plain=editor.desktop;\n");
    own.close();
    kpv::GioDesktopServices desktop;
    QString error;
    EXPECT_TRUE(desktop.setDefaultApplicationForType("image/png", "kpv-stand-in-f.desktop", &error)) << error.toStdString();
    if (desktopBefore.isNull())
        qunsetenv("XDG_CURRENT_DESKTOP");
    else
        qputenv("XDG_CURRENT_DESKTOP", desktopBefore);
    ASSERT_TRUE(own.open(QIODevice::ReadOnly));
    const QByteArray text = own.readAll();
    EXPECT_TRUE(text.contains("image/png=kpv-stand-in-f.desktop;\n")) << text.toStdString();
    EXPECT_TRUE(text.startsWith("# mine\n") && text.contains("text/plain=editor.desktop;")) << text.toStdString();
    // Only the user's file may add associations: the desktop warns about them anywhere else.
    EXPECT_FALSE(text.contains("[Added Associations]")) << text.toStdString();
    EXPECT_FALSE(QFile::exists(config + "/other-mimeapps.list"));
    QFile list(config + "/mimeapps.list");
    ASSERT_TRUE(list.open(QIODevice::ReadOnly));
    EXPECT_TRUE(list.readAll().contains("image/png=kpv-stand-in-f.desktop"));
}

} // namespace
