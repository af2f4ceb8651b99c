// The desktop picture through the desktop's settings: a change that nothing would store is
// reported as refused, not as done.

#include "desktop/MimeAppsList.h"
#include "desktop/WorkspaceServices.h"

#include <QFile>
#include <QTemporaryDir>
#include <QtGlobal>

#include <gtest/gtest.h>

#include <sys/stat.h>

namespace {

TEST(DesktopPicture, ASessionWithoutItsBusRefusesTheChange)
{
    // The settings writer is reached over the session bus; here there is none to reach. Set
    // before anything in this process reads settings or opens the bus.
    qputenv("GSETTINGS_BACKEND", "dconf");
    qputenv("DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent/kpv-test-bus");
    QTemporaryDir dir;
    const QString picture = dir.filePath(QStringLiteral("wall.png"));
    kpv::SystemWorkspaceServices workspace;
    EXPECT_FALSE(workspace.setDesktopImagePath(picture));
    EXPECT_NE(workspace.desktopImagePath(), picture);
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
