// What happens to a turn the user made before the current file is left or used: written into the
// file when its type can be written and the file is writable, otherwise the user is asked to save
// under another name or to go on without saving. The same rule guards dragging the file out.

#include "View/NavigateController.h"
#include "View/NavigateControllerGuard.h"

#include "Model/LMPerformSelectorWrapper.h"
#include "View/LMImageViewModel.h"
#include "View/NavigateControllerHost.h"
#include "View/NavLoadPlanner.h"
#include "View/NavigateSaveFileSession.h"
#include "foundation/FileNames.h"
#include "imageio/FileAccess.h"
#include "imageio/ImageDestination.h"

#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/sendfile.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

namespace {

// A photo larger than this is not copied at its turn: should it be moved away before the turn is
// saved, a copy of it then has no more than what was decoded of it already. The copy is made on
// the main thread from bytes the decode has just read, and held in memory: the bound keeps both
// the pause and the memory small (the largest camera files are well below it).
constexpr off_t kMaxHeldTurnedFileBytes = off_t(128) << 20;

bool isOnReadOnlyVolume(const QByteArray &native)
{
    struct statvfs volume {};
    return ::statvfs(native.constData(), &volume) == 0 && (volume.f_flag & ST_RDONLY);
}

// Why the turned picture cannot be written into the file at `path` at all, for the user; empty
// when it can. The turned file is written beside the old one and renamed over it: the folder must
// take a new file, not only the file its new bytes.
QString whyFileCannotBeWritten(const QString &path, const LMNavFileInfoPtr &info, NavigateControllerHost *host)
{
    if (NavigateSaveFileSession::writeTypeOf(info ? info->imgBaseInfo() : nullptr, path).isEmpty())
        return QStringLiteral("Photos of this type cannot be written; the turned picture can only be saved as a new file.");
    const QString folder = QFileInfo(path).absolutePath();
    const QByteArray nativeFolder = kpv::encodeFileName(folder);
    const QByteArray native = kpv::encodeFileName(path);
    if (struct stat st {}; ::lstat(native.constData(), &st) != 0 && (errno == ENOENT || errno == ENOTDIR))
        return NavigateSaveFileSession::goneError(path);
    const bool fileRefused = ::faccessat(AT_FDCWD, native.constData(), W_OK, AT_EACCESS) != 0;
    const bool folderRefused = !fileRefused && ::faccessat(AT_FDCWD, nativeFolder.constData(), W_OK | X_OK, AT_EACCESS) != 0;
    if (!fileRefused && !folderRefused)
        return {};
    const int error = errno;
    if (error == EROFS || isOnReadOnlyVolume(nativeFolder))
        return QStringLiteral("The folder \u201C%1\u201D is on a read-only volume and cannot be changed.")
            .arg(kpv::displayFileName(folder));
    if (fileRefused)
        return QStringLiteral("You have no permission to change \u201C%1\u201D.")
            .arg(kpv::displayFileName(QFileInfo(path).fileName()));
    return host ? host->localizedString(QStringLiteral("IDS_NoPermissionToSaveFile"))
                : QStringLiteral("You have no permission to save the file in this folder.");
}

} // namespace

void NavigateController::holdTurnedFile()
{
    const LMNavFileInfoPtr info = curFileInfo();
    const LMFileImgBaseInfoPtr base = info ? info->imgBaseInfo() : nullptr;
    if (!base || !base->fileIdentity().isValid())
        return;
    if (m_turnedFileFd >= 0 && m_turnedFileCopiedFrom == base->fileIdentity())
        return;
    releaseTurnedFile(); // a file the turn was saved into before, since replaced
    // Only the very file that was read, and never a pipe or a device that would keep the open waiting.
    const int fd = ::open(kpv::encodeFileName(m_curFilePath.path()).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return;
    const QString opened = QStringLiteral("/proc/self/fd/%1").arg(fd);
    struct stat st {};
    int copy = -1;
    if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_size <= kMaxHeldTurnedFileBytes &&
        kpv::fileIdentity(opened) == base->fileIdentity())
        copy = ::memfd_create("turned-photo", MFD_CLOEXEC);
    bool copied = copy >= 0;
    for (off_t done = 0; copied && done < st.st_size;) {
        const ssize_t n = ::sendfile(copy, fd, &done, size_t(st.st_size - done));
        if (n < 0 && errno == EINTR)
            continue;
        copied = n > 0;
    }
    // Rewritten in place while it was copied: the bytes are not those of the picture shown.
    copied = copied && kpv::fileIdentity(opened) == base->fileIdentity();
    ::close(fd);
    if (!copied) {
        if (copy >= 0)
            ::close(copy);
        return;
    }
    m_turnedFileFd = copy;
    m_turnedFileCopiedFrom = base->fileIdentity();
}

void NavigateController::releaseTurnedFile()
{
    if (m_turnedFileFd >= 0)
        ::close(m_turnedFileFd);
    m_turnedFileFd = -1;
    m_turnedFileCopiedFrom = {};
}

NavigateSaveFileSession::HeldCopy NavigateController::heldTurnedFile() const
{
    if (m_turnedFileFd < 0)
        return {};
    const QString path = QStringLiteral("/proc/self/fd/%1").arg(m_turnedFileFd);
    return {path, m_turnedFileCopiedFrom, kpv::fileIdentity(path)};
}

bool NavigateController::isCurFileModifiedAndCannotOverwriteable() const
{
    const LMImageViewModel *view = currentView();
    if (m_curFilePath.isEmpty() || !view || !view->angleRotate().isRotatedOrFlipped())
        return false;
    if (!whyFileCannotBeWritten(m_curFilePath.path(), curFileInfo(), nullptr).isEmpty())
        return true;
    return !curFileOverwriteConcern().isEmpty();
}

QString NavigateController::curFileOverwriteConcern() const
{
    const LMImageViewModel *view = currentView();
    if (m_curFilePath.isEmpty() || !view || !view->angleRotate().isRotatedOrFlipped() || !m_host)
        return {};
    const LMNavFileInfoPtr info = curFileInfo();
    const LMFileImgBaseInfoPtr base = info ? info->imgBaseInfo() : nullptr;
    if (base && base->fileModified())
        return m_host->localizedString(QStringLiteral("IDS_FileChangedOnDisk"));
    // Written over itself, the file keeps its type: a PNG or TIFF keeps 16 bits per channel.
    const QString path = m_curFilePath.path();
    const QStringList lost = kpv::ImageDestination::contentLostByRewriting(
        path, kpv::ImageDestination::Rewrite::Turn, kpv::ImageDestination::keepsSixteenBitsOnRewrite(path));
    if (!lost.isEmpty())
        return m_host->localizedString(QStringLiteral("IDS_SaveWouldLose")).replace(QStringLiteral("%@"), lost.join(QStringLiteral(", ")));
    return {};
}

void NavigateController::checkAndSaveCurFile(bool navToSavedFile, bool cancelAlternateButton,
                                             std::function<void(int)> completeSaveBlock)
{
    auto finish = [completeSaveBlock](int outcome) {
        if (completeSaveBlock)
            completeSaveBlock(outcome);
    };
    // A save still at work (Save As, a copy, a turn being written) is waited for, "Saving…"
    // showing: leaving now (a quit, the window closed, other files opened) would end it unfinished,
    // the file never written and nobody told. One that failed or was cancelled keeps the viewer
    // where it is, its own message up; after the others the check goes on as it would have.
    if (NavigateSaveFileSession *session = navigateSaveFileSession(); session && session->runningSaves() > 0) {
        session->performWhenIdle(
            guarded(m_self, [this, navToSavedFile, cancelAlternateButton, completeSaveBlock, finish](bool allDone) {
                if (allDone)
                    checkAndSaveCurFile(navToSavedFile, cancelAlternateButton, completeSaveBlock);
                else
                    finish(6);
            }));
        return;
    }
    const LMImageViewModel *view = currentView();
    if (isCurFileModifiedAndCannotOverwriteable() && m_host) {
        // The question says why: a file that cannot be written at all, or one that should not be.
        QString why = whyFileCannotBeWritten(m_curFilePath.path(), curFileInfo(), m_host);
        if (why.isEmpty())
            why = curFileOverwriteConcern();
        m_host->beginAlertSheet(
            m_host->localizedString(QStringLiteral("IDS_SAVE_PHOTOTIP")),
            m_host->localizedString(QStringLiteral("IDS_SAVEAS")),
            m_host->localizedString(cancelAlternateButton ? QStringLiteral("IDS_Cancel") : QStringLiteral("IDS_Continue")),
            QString(), why, guarded(m_self, [this, navToSavedFile, cancelAlternateButton, finish](int code) {
                if (code == kpv::AlertDismissedReturn) {
                    finish(7); // Esc: as a cancelled save panel, the file and its turn stay
                    return;
                }
                if (code != 1) {
                    // Going on without saving lets the turn go, so that a later check (the window
                    // closing after a quit) does not ask again.
                    if (!cancelAlternateButton)
                        letTurnGo(currentView());
                    finish(4);
                    return;
                }
                nextTurn(guarded(m_self, [this, navToSavedFile, finish] { saveTurnAs(navToSavedFile, finish); }));
            }),
            // "Continue" lets the turn go: Esc must not.
            cancelAlternateButton ? kpv::AlertEscape::Alternate : kpv::AlertEscape::Dismiss);
        return;
    }
    if (view && view->angleRotate().isRotatedOrFlipped() && !m_curFilePath.isEmpty()) {
        beginSaveCurFileToPath(m_curFilePath.path(), guarded(m_self, [this, navToSavedFile, finish](int r) {
                                   if (r == 0 || r == -2 || !m_host) {
                                       finish(r == 0 ? 1 : (r == -2 ? 3 : 2));
                                       return;
                                   }
                                   tellTurnNotWritten(navToSavedFile, finish);
                               }));
        return;
    }
    finish(0);
}

void NavigateController::tellTurnNotWritten(bool navToSavedFile, std::function<void(int)> finish)
{
    // The write failed (a full disk, a folder that refused the new file): the file is as it was
    // and the turn stays on screen until the user says where it goes. Esc keeps both.
    const QString reason = navigateSaveFileSession()->lastError();
    m_host->beginAlertSheet(
        m_host->localizedString(QStringLiteral("IDS_FailedSaveTurn")), m_host->localizedString(QStringLiteral("IDS_SAVEAS")),
        m_host->localizedString(QStringLiteral("IDS_Cancel")), m_host->localizedString(QStringLiteral("IDS_DontSave")),
        reason, guarded(m_self, [this, navToSavedFile, finish](int code) {
            if (code == 1) {
                nextTurn(guarded(m_self, [this, navToSavedFile, finish] { saveTurnAs(navToSavedFile, finish); }));
            } else if (code == -1) {
                // The user lets the turn go: nothing is left to ask about when the window closes.
                letTurnGo(currentView());
                finish(2);
            } else {
                finish(7); // the file and its turn stay
            }
        }));
}

void NavigateController::saveTurnAs(bool navToSavedFile, std::function<void(int)> finish)
{
    saveAsCurFile(navToSavedFile, [weak = std::weak_ptr<NavigateController *>(m_self), navToSavedFile, finish](int r) {
        // Saved under another name while this photo stays: the turn is in the new file, so a
        // later check (the window closing as the program quits) does not ask about it again.
        if (const auto self = weak.lock(); r == 0 && !navToSavedFile && self && *self)
            (*self)->letTurnGo((*self)->currentView());
        finish(r == 0 ? 5 : (r == -2 ? 7 : 6));
    });
}

void NavigateController::letTurnGo(LMImageViewModel *view)
{
    if (!view)
        return;
    view->resetRotateAngle();
    if (view != currentView() || m_curFilePath.isEmpty())
        return;
    // The file as another program left it shows now; the photo bin and the grid are told too,
    // after the own record was read again, or they keep the picture of the file as it was.
    const LMPathString path = m_curFilePath;
    if (path == m_curFileLeftPath && !kpv::pathStatus(path.path()).exists) {
        // Moved away or removed meanwhile: nothing is left to show, and it leaves the list.
        dropShownPhotoThatLeftSoon();
        return;
    }
    const LMNavFileInfoPtr info = fileInfoByPath(path);
    const bool changed = info && (info->fileModified() || info->fileChangedSinceRead());
    didFileModified(path);
    if (changed)
        postNotification(NavFileModifiedNotification, {{QStringLiteral("filePath"), QVariant::fromValue(path)}});
}

bool NavigateController::beginDraggingSessionAtIndex(qsizetype index)
{
    const LMNavFileInfoPtr info = fileInfoByIndex(index);
    const LMImageViewModel *view = currentView();
    if (!info || !m_host)
        return true;
    if (index == m_curFileIndex && view && view->angleRotate().isRotatedOrFlipped()) {
        const bool saveAs = isCurFileModifiedAndCannotOverwriteable();
        const QString path = info->filePath().path();
        m_host->beginAlertSheet(
            m_host->localizedString(QStringLiteral("IDS_DragMsg_NeedSave")).arg(kpv::displayFileName(LMPathString::lastPathComponent(path))),
            m_host->localizedString(saveAs ? QStringLiteral("IDS_SAVEAS") : QStringLiteral("IDS_Save")),
            m_host->localizedString(QStringLiteral("IDS_Cancel")), QString(), QString(),
            guarded(m_self, [this, saveAs, path](int code) {
                if (code != 1)
                    return;
                if (saveAs)
                    nextTurn(guarded(m_self, [this] { saveAsCurFile(true, {}); }));
                else
                    // A write that fails is told as when the photo is left: the file is as it
                    // was, and the turn stays until the user says where it goes.
                    beginSaveCurFileToPath(path, guarded(m_self, [this](int result) {
                                               if (result == NavigateSaveFileSession::Failed && m_host)
                                                   tellTurnNotWritten(true, [](int) {});
                                           }));
            }));
        return true;
    }
    const LMImagePtr thumb = info->imageByType(NavLoadPlanner::kSmallThumbType);
    m_host->beginDragFile(info->filePath().path(), thumb ? thumb->convertToUprightImage() : QImage());
    return true;
}
