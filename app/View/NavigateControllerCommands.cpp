// The view mode's file commands: move to the trash, turn and flip, copy, save under another name,
// print, desktop picture, reveal, mode switches, sharing, the batch sheets and zoom; and keeping
// the list true after a save under another name or a batch rename.

#include "View/NavigateController.h"
#include "View/NavigateControllerGuard.h"
#include "foundation/FileNames.h"

#include "Model/LMPathTools.h"
#include "Model/ShareWebsiteType.h"
#include "Model/LMPerformSelectorWrapper.h"
#include "Model/MainConfig.h"
#include "Model/PhotoSearchHandler.h"
#include "View/LMImageViewModel.h"
#include "View/NavGestureScrollFileSession.h"
#include "View/NavLoadPlanner.h"
#include "View/NavigateSaveFileSession.h"
#include "desktop/WorkspaceServices.h"
#include "foundation/FileReplace.h"
#include "foundation/NotificationCenter.h"
#include "imageio/ImageDestination.h"
#include "imageio/FileAccess.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>


const char *const NavFilesDeletedNotification = "filesDeleted";
const char *const NavFileModifiedNotification = "fileModified";
const char *const NavFilesBatchRenamedNotification = "filesBatchRenamed";
const char *const NavDidRenameCurrentFileNotification = "didRenameCurrentFile";

namespace {

QString latin1(const char *s)
{
    return QString::fromLatin1(s);
}

constexpr int kFullSizeType = 1;

// A one-button alert telling the user what the desktop would not do.
void tellFailure(NavigateControllerHost *host, const QString &key)
{
    host->beginAlertSheet(host->localizedString(key), host->localizedString(QStringLiteral("IDS_OK")), QString(),
                          QString(), QString(), nullptr);
}

} // namespace

NavigateSaveFileSession *NavigateController::navigateSaveFileSession()
{
    if (!m_navigateSaveFileSession)
        m_navigateSaveFileSession = std::make_unique<NavigateSaveFileSession>(m_loader);
    return m_navigateSaveFileSession.get();
}

// ---- Trash ----

void NavigateController::deleteCurFile()
{
    if (!canDoAction(8))
        return;
    abortScrollSession();
    if (!m_curFilePath.isEmpty())
        deleteFiles({m_curFilePath});
}

void NavigateController::deleteFiles(const QList<LMPathString> &filePaths)
{
    kpv::WorkspaceServices *workspace = m_host ? m_host->workspaceServices() : nullptr;
    if (filePaths.isEmpty() || !workspace)
        return;
    QStringList paths;
    QHash<QString, TrashedFile> favorites;
    for (const LMPathString &p : filePaths) {
        paths << p.path();
        // Asked before the move: once the file is gone, the favourites let it go too.
        if (m_host && m_host->isFavoriteFile(p)) {
            TrashedFile &mark = favorites[p.path()];
            mark.favorite = true;
            if (const LMNavFileInfoPtr info = fileInfoByPath(p)) {
                mark.favoriteInfo = info->imgBaseInfo();
                if (const LMImagePtr thumb = info->imageByType(NavLoadPlanner::kSmallThumbType))
                    mark.favoriteThumb = thumb->convertToImage();
            }
        }
    }
    const kpv::WorkspaceServices::RecycleResult result = workspace->recyclePaths(paths);
    // What went can be put back with Undo, after the later moves are undone.
    QList<TrashedFile> trashed;
    for (const QString &path : paths) {
        const QString where = result.moved.value(path);
        if (where.isEmpty())
            continue;
        TrashedFile file = favorites.value(path);
        file.originalPath = path;
        file.trashedPath = where;
        trashed << file;
    }
    if (!trashed.isEmpty())
        m_trashedMoves << trashed;
    QList<LMPathString> gone;
    for (const LMPathString &p : filePaths) {
        if (result.errorCode == 0 || result.moved.contains(p.path()) || !kpv::pathStatus(p.path()).exists)
            gone << p;
    }
    if (result.errorCode != 0 && result.errorCode != kpv::WorkspaceServices::kUserCancelledError && m_host) {
        m_host->beginAlertSheet(m_host->localizedString(QStringLiteral("IDS_FailedDeleteFile")),
                                m_host->localizedString(QStringLiteral("IDS_OK")), QString(), QString(),
                                result.failureReason,
                                guarded(m_self, [this, gone](int) { postNotificationForDeletedFiles(gone); }));
        return;
    }
    postNotificationForDeletedFiles(gone);
}

void NavigateController::undoMoveToTrash()
{
    if (!canDoAction(kUndoMoveToTrashAction) || runAfterSaves([this] { undoMoveToTrash(); }))
        return;
    abortScrollSession();
    restoreTrashed(m_trashedMoves.takeLast(), false);
}

void NavigateController::restoreTrashed(QList<TrashedFile> files, bool replaceOccupied)
{
    kpv::WorkspaceServices *workspace = m_host ? m_host->workspaceServices() : nullptr;
    if (!workspace || files.isEmpty())
        return;
    QList<LMPathString> restored;
    QList<TrashedFile> occupied;
    QList<TrashedFile> stayed; // could not come back and are still in the trash
    QStringList failures;
    for (const TrashedFile &file : files) {
        kpv::WorkspaceServices::RestoreResult result = workspace->restoreFromTrash(file.trashedPath);
        if (result.occupied && replaceOccupied) {
            // The newcomer is not lost: it goes to the trash in turn, and then the photo comes back.
            const kpv::WorkspaceServices::RecycleResult moved = workspace->recyclePaths({result.restoredPath});
            if (moved.errorCode == 0)
                result = workspace->restoreFromTrash(file.trashedPath);
            else
                result.error = moved.failureReason;
            result.occupied = false;
        }
        if (result.ok) {
            restored << LMPathString(result.restoredPath.isEmpty() ? file.originalPath : result.restoredPath, false);
            // A favourite comes back as one: the undo is whole only with its mark.
            if (file.favorite && m_host && !m_host->isFavoriteFile(restored.last())) {
                m_host->addFavoriteFile(restored.last(), file.favoriteInfo, file.favoriteThumb);
                m_host->updateFavPhotoBoxUI();
            }
        } else if (result.occupied) {
            occupied << file;
        } else {
            failures << result.error;
            if (kpv::pathStatus(file.trashedPath).exists || QFileInfo(file.trashedPath).isSymLink())
                stayed << file;
        }
    }
    // What could not come back stays in the trash, and Undo stays offered for it: once the cause
    // is mended (a folder made writable again), the user tries again.
    if (!stayed.isEmpty())
        m_trashedMoves << stayed;
    if (!restored.isEmpty()) {
        // The list gets them back as it was before they went, and the first is shown.
        QList<LMPathString> files = filePaths();
        for (const LMPathString &path : std::as_const(restored))
            if (!files.contains(path))
                files << path;
        openFilePaths(files, {}, false);
        const qsizetype index = filePaths().indexOf(restored.first());
        if (index >= 0)
            navCurFileToIndexByFileListChanged(index);
        // Undone from the empty window the last photo's move left: the photo is shown again.
        if (m_host && m_host->showMode() == NavShowModeEmpty)
            m_host->setShowMode(NavShowModeView);
        else if (m_host && m_host->showMode() == NavShowModeMiniEmpty)
            m_host->setShowMode(NavShowModeMiniImage);
    }
    if (!m_host)
        return;
    // Asked before anything there is replaced; a No keeps them next for Undo.
    auto askToReplace = [this, occupied] {
        m_trashedMoves << occupied;
        QStringList names;
        for (const TrashedFile &file : occupied)
            names << kpv::displayFileName(LMPathString::lastPathComponent(file.originalPath));
        m_host->beginAlertSheet(
            m_host->localizedString(QStringLiteral("IDS_UndoTrashOccupied_Fmt")).arg(names.join(QStringLiteral(", "))),
            m_host->localizedString(QStringLiteral("IDS_UndoTrashReplace")),
            m_host->localizedString(QStringLiteral("IDS_Cancel")), QString(),
            m_host->localizedString(QStringLiteral("IDS_UndoTrashOccupiedInfo")),
            guarded(m_self, [this, occupied](int returnCode) {
                if (returnCode == 1) {
                    if (!m_trashedMoves.isEmpty())
                        m_trashedMoves.removeLast();
                    restoreTrashed(occupied, true);
                }
            }));
    };
    if (failures.isEmpty()) {
        if (!occupied.isEmpty())
            askToReplace();
        return;
    }
    // The failures are told first, each by name; a name taken meanwhile is asked about after.
    if (!stayed.isEmpty())
        failures << m_host->localizedString(QStringLiteral("IDS_UndoTrashStays"));
    m_host->beginAlertSheet(m_host->localizedString(QStringLiteral("IDS_UndoTrashFailed")),
                            m_host->localizedString(QStringLiteral("IDS_OK")), QString(), QString(),
                            failures.join(QLatin1Char('\n')),
                            occupied.isEmpty() ? std::function<void(int)>()
                                               : guarded(m_self, [this, askToReplace](int) { nextTurn(guarded(m_self, askToReplace)); }));
}

void NavigateController::postNotificationForDeletedFiles(const QList<LMPathString> &filePaths)
{
    if (filePaths.isEmpty())
        return;
    postNotification(NavFilesDeletedNotification, {{latin1("filePathList"), QVariant::fromValue(filePaths)}});
}

// ---- Turning ----

void NavigateController::rotateCurFile(int rotateType)
{
    if (rotateType < 1 || rotateType > 4 || !canDoAction(13 + rotateType))
        return;
    abortScrollSession();
    if (m_host && m_host->showMode() == NavShowModeMiniImage)
        m_host->miniWindowDoBeforeRotate();
    if (LMImageViewModel *view = currentView()) {
        view->rotate(rotateType);
        holdTurnedFile();
    }
}

// ---- Copy ----

void NavigateController::copyCurFile()
{
    if (!canDoAction(7))
        return;
    abortScrollSession();
    LMImageViewModel *view = currentView();
    if (view)
        view->endRotate();
    const LMNavFileInfoPtr info = curFileInfo();
    if (!info || !m_host)
        return;
    const LMImageRotateAngle angle = view ? view->angleRotate() : LMImageRotateAngle();
    NavigateControllerHost *host = m_host;
    // A copy that cannot be made is told: the clipboard still holds what it held before, and the
    // user must not paste that believing it is this photo.
    const auto tellCopyFailed = [host](const QString &reason) {
        host->beginAlertSheet(host->localizedString(QStringLiteral("IDS_FailedCopy")),
                              host->localizedString(QStringLiteral("IDS_OK")), QString(), QString(), reason, nullptr);
    };
    QString target;
    QString pasteboardPath = info->filePath().path();
    if (angle.isRotatedOrFlipped()) {
        const QString dir = m_host->temporaryDirectoryWithSubDir(QStringLiteral("$navigate$"));
        if (!dir.isEmpty())
            target = LMPathTools::writableFilePathInDirectory(dir, QFileInfo(pasteboardPath).completeBaseName() +
                                                                       QStringLiteral(".jpg"));
        if (target.isEmpty()) {
            tellCopyFailed(QStringLiteral("no place for the turned copy could be made in the temporary folder"));
            return;
        }
        pasteboardPath = target;
    }
    navigateSaveFileSession()->beginSaveFile(
        info, angle, target, std::nullopt, true,
        guarded(m_self, [this] {
            m_host->showPreviewStatus(false, false);
            updateStatusInfo(m_host->localizedString(QStringLiteral("IDS_Copying")), true, 0);
        }),
        guarded(m_self, [this, host, pasteboardPath, tellCopyFailed](int result, const QImage &image) {
            host->hidePreviewStatus(false, false);
            updateStatusInfo(QString(), false, 0);
            if (result == 0)
                host->writeFileAndImageToPasteboard(pasteboardPath, image);
            else if (result == NavigateSaveFileSession::Failed)
                tellCopyFailed(navigateSaveFileSession()->lastError());
        }));
}

// ---- Save under another name ----

QString NavigateController::savedFileLacksInfo(const NavigateControllerHost &host, const QStringList &lost,
                                               bool tagsLeftOut)
{
    QStringList sentences;
    if (!lost.isEmpty())
        sentences << host.localizedString(QStringLiteral("IDS_SavedFileLacksInfo"))
                         .replace(QStringLiteral("%@"), lost.join(QStringLiteral(", ")));
    if (tagsLeftOut)
        sentences << host.localizedString(QStringLiteral("IDS_SavedFileTagsLeftOut"));
    return sentences.join(QLatin1Char(' '));
}

void NavigateController::saveAsCurFile()
{
    // Asked for while "Saving…" shows: the viewer may be about to step on once the save ends, and
    // the panel opened for this photo would then write the next one under this one's name. Clicks
    // and keys wait for the save; so do the menu's keys.
    if (m_navigateSaveFileSession && m_navigateSaveFileSession->runningSaves() > 0)
        return;
    if (LMImageViewModel *view = currentView())
        view->endRotate();
    saveAsCurFile(true, {});
}

bool NavigateController::runAfterSaves(std::function<void()> command)
{
    // Keys are held back while a save works, but the menu's keys reach their commands first: run
    // now, the grid opened on the photo being written and the viewer stepped on behind it, and a
    // photo put back from the trash was shown and at once stepped past.
    NavigateSaveFileSession *session = m_navigateSaveFileSession.get();
    if (!session || session->runningSaves() == 0)
        return false;
    session->performWhenIdle(guarded(m_self, [command = std::move(command)](bool allDone) {
        if (allDone)
            command();
    }));
    return true;
}

void NavigateController::saveAsCurFile(bool navToSavedFile, std::function<void(int)> completeBlock)
{
    if (!canDoAction(4) || !curFileInfo() || !m_host)
        return;
    MainConfig *c = config();
    const QString dir = c ? kpv::fileNameFromUrl(c->lastSaveAsDirUrl()) : QString();
    m_host->runSaveAsPanel(
        m_curFilePath.path(), dir,
        guarded(m_self, [this, navToSavedFile, completeBlock](bool chosen, const QString &path,
                                                              const std::optional<QVariantMap> &params) {
            if (!chosen || path.isEmpty()) {
                if (completeBlock)
                    completeBlock(-2);
                return;
            }
            if (MainConfig *cfg = config())
                cfg->setLastSaveAsDirUrl(kpv::fileUrlFromName(QFileInfo(path).absolutePath()));
            // The new file holds one picture: what the photo has beyond it (an animation, more
            // pages, CMYK inks, metadata the chosen type cannot hold) is told once it is written,
            // as a batch tells it, and so are its tags and comments when the folder stores none.
            // The depth a type cannot hold goes with the type the user chose.
            using kpv::ImageDestination;
            const QStringList lost = ImageDestination::contentLostInNewFile(m_curFilePath.path(),
                                                                            ImageDestination::typeForPath(path), true);
            beginSaveCurFileToPath(path, params, guarded(m_self, [this, path, navToSavedFile, completeBlock, lost](int r) {
                                       const bool tagsLeftOut = r == 0 && navigateSaveFileSession()->lastTagsLeftOut();
                                       endSaveCurFileToPath(path, r, navToSavedFile, completeBlock);
                                       if (r == 0 && (!lost.isEmpty() || tagsLeftOut) && m_host)
                                           m_host->beginAlertSheet(
                                               m_host->localizedString(QStringLiteral("IDS_SavedFileLacks"))
                                                   .replace(QStringLiteral("%@"), kpv::displayFileName(LMPathString::lastPathComponent(path))),
                                               m_host->localizedString(QStringLiteral("IDS_OK")), QString(), QString(),
                                               savedFileLacksInfo(*m_host, lost, tagsLeftOut), nullptr);
                                   }), true);
        }));
}

void NavigateController::beginSaveCurFileToPath(const QString &path, std::function<void(int)> completeBlock)
{
    beginSaveCurFileToPath(path, std::nullopt, std::move(completeBlock), false);
}

void NavigateController::beginSaveCurFileToPath(const QString &path, const std::optional<QVariantMap> &saveParameters,
                                                std::function<void(int)> completeBlock, bool asNewFile)
{
    const bool existed = kpv::pathStatus(path).exists;
    const LMImageViewModel *view = currentView();
    const LMImageRotateAngle angle = view ? view->angleRotate() : LMImageRotateAngle();
    navigateSaveFileSession()->beginSaveFile(
        curFileInfo(), angle, path, saveParameters, false,
        guarded(m_self, [this] {
            if (m_host)
                m_host->showPreviewStatus(false, false);
            updateStatusInfo(m_host ? m_host->localizedString(QStringLiteral("IDS_Saving")) : QString(), false, 0);
        }),
        [weak = std::weak_ptr<NavigateController *>(m_self), path, existed, completeBlock](int result, const QImage &) {
            const auto p = weak.lock();
            if (p && *p) {
                NavigateController *self = *p;
                if (self->m_host)
                    self->m_host->hidePreviewStatus(false, false);
                self->updateStatusInfo(QString(), false, 0);
                if (result == 0 && existed) {
                    // The own record first: whoever hears of the change next (the photo bin, the
                    // grid) asks this controller for the file's pictures, and must not get the
                    // ones of the file as it was.
                    const LMPathString written(path, false);
                    self->didFileModified(written);
                    self->postNotification(NavFileModifiedNotification,
                                           {{latin1("filePath"), QVariant::fromValue(written)}});
                }
            }
            if (completeBlock)
                completeBlock(result);
        },
        asNewFile, heldTurnedFile());
}

void NavigateController::endSaveCurFileToPath(const QString &path, int saveResult, bool navToSavedFile,
                                              std::function<void(int)> completeBlock)
{
    if (saveResult == NavigateSaveFileSession::Failed && m_host) {
        // Nothing was written and the turn is still on screen: the user may try another place.
        m_host->beginAlertSheet(m_host->localizedString(QStringLiteral("IDS_FailedSaveAs"))
                                    .replace(QStringLiteral("%@"), kpv::displayFileName(LMPathString::lastPathComponent(path))),
                                m_host->localizedString(QStringLiteral("IDS_OK")), QString(), QString(),
                                navigateSaveFileSession()->lastError(), nullptr);
    }
    if (saveResult == 0 && m_navSortFileInfoList) {
        const LMPathString saved(path, false);
        const qsizetype index = m_navSortFileInfoList->insertToFiles(saved, m_curFilePath);
        m_photoSearchHandler->insertToSearchedFiles(saved, m_curFilePath);
        if (navToSavedFile) {
            navCurFileToIndexByFileListChanged(index);
        } else {
            // The current file may have moved down by one when the new file went before it.
            m_curFileIndex = std::max<qsizetype>(0, m_navSortFileInfoList->sortedFilePaths().indexOf(m_curFilePath));
            postNotification(NavDidChangeFileListNotification,
                             {{latin1("filePathList"), QVariant::fromValue(m_navSortFileInfoList->sortedFilePaths())}});
            updateWindowTitle();
        }
    }
    if (completeBlock)
        completeBlock(saveResult);
}

// ---- Print ----

void NavigateController::printCurFile()
{
    if (!canDoAction(5))
        return;
    abortScrollSession();
    if (m_openGLView)
        m_openGLView->endRotate();
    const LMNavFileInfoPtr info = curFileInfo();
    if (!info || !m_host)
        return;
    NavigateControllerHost *host = m_host;
    navigateSaveFileSession()->beginPrintPicture(
        info, m_openGLView ? m_openGLView->angleRotate() : LMImageRotateAngle(),
        guarded(m_self, [this] {
            m_host->showPreviewStatus(false, false);
            updateStatusInfo(m_host->localizedString(QStringLiteral("IDS_PreparingData")), true, 0);
        }),
        guarded(m_self, [this, host, name = kpv::displayFileName(LMPathString::lastPathComponent(info->filePath().path()))](
                            int result, const QImage &image) {
            host->hidePreviewStatus(false, false);
            updateStatusInfo(QString(), false, 0);
            if (result == 0 && !image.isNull())
                nextTurn(guarded(m_self, [host, image, name] { host->printImage(image, name); }));
            else if (result == NavigateSaveFileSession::Failed)
                host->beginAlertSheet(host->localizedString(QStringLiteral("IDS_PrintUnreadable")),
                                      host->localizedString(QStringLiteral("IDS_OK")), QString(), QString(),
                                      navigateSaveFileSession()->lastError(), nullptr);
        }));
}

// ---- Mode switches ----

void NavigateController::cropCurFile()
{
    if (!canDoAction(9) || !m_host)
        return;
    abortScrollSession();
    if (m_openGLView)
        m_openGLView->endRotate();
    m_host->setShowMode(NavShowModeCrop);
}

void NavigateController::switchToMyFavorites()
{
    if (!canDoAction(13) || !m_host)
        return;
    abortScrollSession();
    m_host->setShowMode(NavShowModeFavorite);
}

void NavigateController::switchToThumbView()
{
    if (!canDoAction(38) || !m_host || runAfterSaves([this] { switchToThumbView(); }))
        return;
    abortScrollSession();
    m_host->setShowMode(NavShowModeThumbnail);
}

void NavigateController::switchPhotoBin()
{
    if (m_host)
        m_host->switchPhotoBin();
}

// ---- Share ----

bool NavigateController::doShareForType(int64_t shareType)
{
    const int64_t action = shareActionForWebsiteType(shareType);
    if (action == 0 || !canDoAction(action) || !m_host)
        return false;
    abortScrollSession();
    if (m_openGLView)
        m_openGLView->endRotate();
    if (MainConfig *c = config())
        c->setCurShareType(shareType);
    m_host->updateShareButtonUI(shareType);
    auto share = [this, shareType](bool turnSaved) {
        const LMNavFileInfoPtr info = curFileInfo();
        if (!info || !m_host)
            return;
        // The sheet's thumbnail is made from the picture on screen: a photo shown fitted has no
        // full-size picture, as it is never decoded whole.
        NavSlideshowFile file{info->filePath(), info->imgBaseInfo(), info->imageByType(fitinImageType()),
                              info->imageByType(kFullSizeType), turnSaved};
        if (isGifFile(info.get()) && shareType >= 1 && shareType <= 3) {
            m_host->beginAlertSheet(m_host->localizedString(QStringLiteral("IDS_UPLOADWARN_HASGIF")),
                                    m_host->localizedString(QStringLiteral("IDS_YES")),
                                    m_host->localizedString(QStringLiteral("IDS_NO")), QString(), QString(),
                                    guarded(m_self, [this, file, shareType](int code) {
                                        if (code == 1)
                                            nextTurn(guarded(m_self, [this, file, shareType] {
                                                m_host->shareFiles({file}, shareType);
                                            }));
                                    }));
            return;
        }
        m_host->shareFiles({file}, shareType);
    };
    checkAndSaveCurFile(true, guarded(m_self, [this, share](int outcome) {
                            if (outcome == 2 || outcome == 4) {
                                letTurnGo(m_openGLView);
                            } else if (outcome != 0 && outcome != 1 && outcome != 5) {
                                return;
                            }
                            // Outcome 1: the turn was written into the photo itself.
                            nextTurn(guarded(m_self, [share, outcome] { share(outcome == 1); }));
                        }));
    return true;
}

// ---- Desktop picture and reveal ----

void NavigateController::setCurFileToDesktop()
{
    if (!canDoAction(27) || !m_host)
        return;
    abortScrollSession();
    if (m_openGLView)
        m_openGLView->endRotate();
    const LMNavFileInfoPtr info = curFileInfo();
    if (!info)
        return;
    const QString source = info->filePath().path();
    const bool turned = m_openGLView && m_openGLView->angleRotate().isRotatedOrFlipped();
    const bool asItIs = !turned && isSupportedDesktopImage(source);
    // A photo on the local disk goes to the desktop as it is; only a copy needs the cache folder.
    if (asItIs && !kpv::fileNameHasRawBytes(source) && LMPathTools::isFileOnLocalDisk(source)) {
        setDesktopImageForFile(source);
        return;
    }
    const QString dir = m_host->temporaryDirectoryWithSubDir(QStringLiteral("DesktopCache"));
    if (dir.isEmpty()) {
        m_host->beginAlertSheet(m_host->localizedString(QStringLiteral("IDS_FailedSetDesktop")),
                                m_host->localizedString(QStringLiteral("IDS_OK")), QString(), QString(),
                                m_host->localizedString(QStringLiteral("IDS_DesktopCopyNoFolder")), nullptr);
        return;
    }
    static const QDateTime reference(QDate(2001, 1, 1), QTime(0, 0), Qt::UTC);
    const qint64 ms = reference.msecsTo(QDateTime::currentDateTimeUtc());
    const QString target = QDir(dir).filePath(QStringLiteral("%1.jpg").arg(ms));
    if (asItIs) {
        // Files on removable or network volumes may go away, and some desktops keep the picture's
        // name only as UTF-8 text: the desktop gets its own copy, under a plain name. The copy
        // goes by the name's bytes.
        const QString suffix = QFileInfo(source).suffix();
        const QString copy = QDir(dir).filePath(
            QStringLiteral("%1.%2").arg(ms).arg(kpv::fileNameHasRawBytes(suffix) ? QStringLiteral("jpg") : suffix));
        QByteArray bytes;
        QString why;
        kpv::FileReplaceOptions once;
        once.createOnly = true;
        if (!kpv::readRegularFile(source, qint64(1) << 31, &bytes, &why) ||
            !kpv::replaceFileContents(copy, bytes, once, &why)) {
            m_host->beginAlertSheet(m_host->localizedString(QStringLiteral("IDS_FailedSetDesktop")),
                                    m_host->localizedString(QStringLiteral("IDS_OK")), QString(), QString(), why,
                                    nullptr);
            return;
        }
        setDesktopImageForFile(copy);
        return;
    }
    beginSaveCurFileToPath(target, guarded(m_self, [this, target](int result) {
                               if (result == NavigateSaveFileSession::Done) {
                                   setDesktopImageForFile(target);
                               } else if (result == NavigateSaveFileSession::Failed && m_host) {
                                   // The turned copy could not be written (a full disk): the
                                   // desktop keeps its picture, and the user hears why.
                                   m_host->beginAlertSheet(
                                       m_host->localizedString(QStringLiteral("IDS_FailedSetDesktop")),
                                       m_host->localizedString(QStringLiteral("IDS_OK")), QString(), QString(),
                                       navigateSaveFileSession()->lastError(), nullptr);
                               }
                           }));
}

void NavigateController::setDesktopImageForFile(const QString &path)
{
    kpv::WorkspaceServices *workspace = m_host ? m_host->workspaceServices() : nullptr;
    if (path.isEmpty() || !workspace)
        return;
    const QString previous = workspace->desktopImagePath();
    const QString cache = m_host->temporaryDirectoryWithSubDir(QStringLiteral("DesktopCache"));
    // Only our own copies in the cache folder are ever removed; names differ by case here.
    auto inCache = [&cache](const QString &file) {
        return !cache.isEmpty() && QFileInfo(file).absolutePath() == QFileInfo(cache).absoluteFilePath();
    };
    if (!workspace->setDesktopImagePath(path)) {
        // The desktop keeps its picture, so the cached copy it may still show stays; the copy
        // made for this attempt is of no use. The user is told rather than left to guess.
        if (path != previous && inCache(path))
            QFile::remove(path);
        // The desktop's reason reads as a clause; under the message it stands as a sentence.
        QString reason = workspace->desktopImageFailureReason();
        if (!reason.isEmpty()) {
            reason[0] = reason[0].toUpper();
            if (!reason.endsWith(QLatin1Char('.')))
                reason += QLatin1Char('.');
        }
        m_host->beginAlertSheet(m_host->localizedString(QStringLiteral("IDS_FailedSetDesktop")),
                                m_host->localizedString(QStringLiteral("IDS_OK")), QString(), QString(), reason,
                                nullptr);
        return;
    }
    if (previous.isEmpty() || previous == path)
        return;
    if (inCache(previous))
        QFile::remove(previous);
}

void NavigateController::revealCurFileInFinder()
{
    kpv::WorkspaceServices *workspace = m_host ? m_host->workspaceServices() : nullptr;
    if (workspace && !m_curFilePath.isEmpty() && !workspace->selectFileInFileViewer(m_curFilePath.path()))
        tellFailure(m_host, QStringLiteral("IDS_FileManagerFailed"));
}

// ---- Batch sheets ----

void NavigateController::doBatchRename()
{
    if (!canDoAction(18))
        return;
    batchRenameFiles(filePaths());
}

void NavigateController::batchRenameFiles(const QList<LMPathString> &files)
{
    if (files.isEmpty() || !m_host)
        return;
    m_host->beginBatchRename(files, guarded(m_self, [this](const QHash<LMPathString, LMPathString> &map) {
        if (map.isEmpty())
            return;
        QVariantMap info;
        for (auto it = map.cbegin(); it != map.cend(); ++it)
            info.insert(it.key().path(), QVariant::fromValue(it.value()));
        postNotification(NavFilesBatchRenamedNotification, info);
    }));
}

void NavigateController::didFilesBatchRenamed(const QHash<LMPathString, LMPathString> &renameMap)
{
    if (renameMap.isEmpty() || !m_navSortFileInfoList)
        return;
    const bool changed = m_navSortFileInfoList->renameForFiles(renameMap);
    m_photoSearchHandler->renameForSearchedFiles(renameMap);
    const LMPathString oldPath = m_curFilePath;
    const LMPathString newPath = renameMap.value(oldPath, oldPath);
    if (!changed)
        return;
    QHash<LMPathString, LMNavFileInfoPtr> cache;
    for (auto it = m_cacheFileInfos.cbegin(); it != m_cacheFileInfos.cend(); ++it) {
        LMNavFileInfoPtr info = it.value();
        const auto renamed = renameMap.constFind(it.key());
        if (renamed != renameMap.cend() && info)
            info = info->navFileInfoByReplaceFilePath(renamed.value());
        if (info)
            cache.insert(info->filePath(), info);
    }
    m_curFilePath = newPath;
    const qsizetype index = std::max<qsizetype>(0, m_navSortFileInfoList->sortedFilePaths().indexOf(newPath));
    m_cacheFileInfos = std::move(cache);
    m_needReorderFilePaths = true;
    clearLoadMasks();
    navCurFileToIndexByFileListChanged(index);
    if (m_host && m_host->showMode() == NavShowModeView) {
        MainConfig *c = config();
        sortFiles(c ? c->sortByType() : 1, true);
    }
    if (newPath != oldPath) {
        // The file line names the photo as it is called now.
        updatePreviewStatusUIForCurFile(false);
        postNotification(NavDidRenameCurrentFileNotification);
    }
}

void NavigateController::doBatchResizeOrConvert(bool resize)
{
    if (!canDoAction(resize ? 19 : 20) || !m_host)
        return;
    abortScrollSession();
    if (m_openGLView)
        m_openGLView->endRotate();
    checkAndSaveCurFile(true, guarded(m_self, [this, resize](int outcome) {
                            if (outcome == 2 || outcome == 4) {
                                letTurnGo(m_openGLView);
                            } else if (outcome != 0 && outcome != 1 && outcome != 5) {
                                return;
                            }
                            nextTurn(guarded(m_self, [this, resize] {
                                QList<NavSlideshowFile> files;
                                for (const LMPathString &p : filePaths()) {
                                    if (p.isEmpty())
                                        continue;
                                    const LMNavFileInfoPtr cached = m_cacheFileInfos.value(p);
                                    files << NavSlideshowFile{p, cached ? cached->imgBaseInfo() : nullptr, nullptr, nullptr};
                                }
                                if (!files.isEmpty() && m_host)
                                    m_host->beginBatchResizeOrConvert(resize, files, {});
                            }));
                        }));
}

void NavigateController::doZoomCurFile(bool zoomIn)
{
    if (!canDoAction(zoomIn ? 32 : 33))
        return;
    beginArrowKeyZoom(zoomIn, true);
}
