#pragma once
// An in-memory workspace for tests: paths listed in `refuse` fail to go to the trash (with
// `failCode`), the others are removed from disk when they exist; reveals and desktop pictures
// are logged.

#include "desktop/WorkspaceServices.h"

#include <QFile>
#include <QSet>

namespace kpv {

class FakeWorkspaceServices : public WorkspaceServices {
public:
    QSet<QString> refuse;
    int failCode = kRecycleFailedError;
    QList<QStringList> recycled;
    QStringList revealed;
    QString desktopImage;
    QStringList desktopImageCalls;

    RecycleResult recyclePaths(const QStringList &paths) override
    {
        recycled.append(paths);
        RecycleResult result;
        for (const QString &path : paths) {
            if (refuse.contains(path)) {
                result.errorCode = failCode;
                result.failureReason = QStringLiteral("refused");
                continue;
            }
            QFile::remove(path);
            result.moved.insert(path, QStringLiteral("/trash/") + path.section(QLatin1Char('/'), -1));
        }
        return result;
    }
    bool selectFileInFileViewer(const QString &path) override
    {
        revealed.append(path);
        return !refuseReveal;
    }
    QString desktopImagePath() override { return desktopImage; }
    bool setDesktopImagePath(const QString &path) override
    {
        desktopImageCalls.append(path);
        if (refuseDesktopImage)
            return false;
        desktopImage = path;
        return true;
    }
    bool refuseDesktopImage = false;
    QString desktopImageFailure; // why a refused picture was refused
    QString desktopImageFailureReason() const override { return refuseDesktopImage ? desktopImageFailure : QString(); }
    bool refuseReveal = false; // no file manager could be started
};

} // namespace kpv
