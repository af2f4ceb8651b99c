#pragma once
// The file-manager side of the desktop: moving files to the trash, showing a file in the file
// manager and setting the desktop picture. The view mode reaches these only through here, so
// tests swap in FakeWorkspaceServices. Programs are started with an argument vector, never a shell.

#include <QHash>
#include <QString>
#include <QStringList>

namespace kpv {

class WorkspaceServices {
public:
    // Outcome of a move to the trash. `moved` maps each path that went to its place in the trash
    // (empty when the desktop does not say); `errorCode` is 0 when every file went, 3072 when the
    // user cancelled, another value for a failure described by `failureReason`.
    struct RecycleResult {
        QHash<QString, QString> moved;
        int errorCode = 0;
        QString failureReason;
    };
    static constexpr int kUserCancelledError = 3072;
    static constexpr int kRecycleFailedError = 1;

    virtual ~WorkspaceServices() = default;

    virtual RecycleResult recyclePaths(const QStringList &paths) = 0;
    // Shows the file selected in a file-manager window; false when none could be started.
    virtual bool selectFileInFileViewer(const QString &path) = 0;
    // The file currently set as desktop picture, or empty when the desktop does not say.
    virtual QString desktopImagePath() = 0;
    // Makes the file the desktop picture; false when the desktop refused.
    virtual bool setDesktopImagePath(const QString &path) = 0;
    // Why the last setDesktopImagePath failed, for the user; empty when there is nothing to add.
    virtual QString desktopImageFailureReason() const { return {}; }

    // Outcome of putting a trashed file back: `occupied` when a file has its name there now
    // (nothing was moved), else `error` says why it failed.
    struct RestoreResult {
        bool ok = false;
        bool occupied = false;
        QString restoredPath;
        QString error;
    };
    // Puts the file that went to `trashedPath` (as a move to the trash reported) back where it was.
    virtual RestoreResult restoreFromTrash(const QString &trashedPath)
    {
        RestoreResult r;
        r.error = QStringLiteral("this desktop cannot put files back from the trash");
        return r;
    }
};

// The desktop through the freedesktop trash (Trash.h), the file-manager D-Bus service (or xdg-open on the
// folder) and the desktop's background settings (DesktopPicture.h, by XDG_CURRENT_DESKTOP).
class SystemWorkspaceServices : public WorkspaceServices {
public:
    QString desktopImageFailureReason() const override { return m_desktopImageFailure; }
    RecycleResult recyclePaths(const QStringList &paths) override;
    bool selectFileInFileViewer(const QString &path) override;
    QString desktopImagePath() override;
    bool setDesktopImagePath(const QString &path) override;
    RestoreResult restoreFromTrash(const QString &trashedPath) override;

private:
    QString m_desktopImageFailure;
};

} // namespace kpv
