// The desktop's list of recent files gains a photo whatever state the session's folders are in.

#include "desktop/RecentlyUsed.h"
#include "../../support/ChildProcess.h"

#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <sys/mount.h>

namespace {

// A runtime folder that takes no file (read-only here) leaves the copies' lock beside the list;
// the photo is still added instead of the list being left unwritten.
TEST(RecentlyUsed, APhotoIsAddedThoughTheRuntimeFolderIsReadOnly)
{
    QTemporaryDir data;
    QTemporaryDir runtime;
    ASSERT_TRUE(data.isValid() && runtime.isValid());
    const QByteArray folder = QFile::encodeName(runtime.path());
    const QByteArray saved = qgetenv("XDG_RUNTIME_DIR");
    const bool wasSet = qEnvironmentVariableIsSet("XDG_RUNTIME_DIR");
    qputenv("XDG_RUNTIME_DIR", folder);
    const QString list = data.filePath(QStringLiteral("recently-used.xbel"));
    KPV_EXPECT_CHILD_PASSED(kpv::test::runWithOwnMounts([&] {
        ASSERT_EQ(::mount(folder.constData(), folder.constData(), nullptr, MS_BIND, nullptr), 0);
        ASSERT_EQ(::mount(nullptr, folder.constData(), nullptr, MS_REMOUNT | MS_BIND | MS_RDONLY, nullptr), 0);
        QString error;
        EXPECT_TRUE(kpv::addToRecentlyUsed(list, data.filePath(QStringLiteral("beach.jpg")), QStringLiteral("image/jpeg"),
                                           {QStringLiteral("Kestrane Photo Viewer"), QStringLiteral("kestrane-viewer %u")},
                                           QDateTime::currentDateTimeUtc(), &error))
            << error.toStdString();
        QFile written(list);
        ASSERT_TRUE(written.open(QIODevice::ReadOnly));
        EXPECT_TRUE(written.readAll().contains("beach.jpg\""));
    }), "the kernel lets this user mount nothing here");
    wasSet ? qputenv("XDG_RUNTIME_DIR", saved) : qunsetenv("XDG_RUNTIME_DIR");
}

} // namespace
