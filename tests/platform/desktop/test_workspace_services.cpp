// The desktop picture through the desktop's settings: a change that nothing would store is
// reported as refused, not as done.

#include "desktop/WorkspaceServices.h"

#include <QTemporaryDir>
#include <QtGlobal>

#include <gtest/gtest.h>

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
