// Following other programs' changes: the folders of the list and the file shown are watched, and
// what changed there is brought into the list, the bins and the grid.

#include "View/NavigateController.h"
#include "View/LMImageViewModel.h"

#include "Model/LMAppServices.h"
#include "Model/MainConfig.h"
#include "foundation/FileNames.h"
#include "foundation/FolderWatcher.h"
#include "foundation/Timer.h"
#include "imageio/FileAccess.h"

#include <QHash>
#include <QSet>

#include <algorithm>
#include <cerrno>
#include <utility>

#include <dirent.h>
#include <sys/stat.h>

namespace {

// Folders of one list that are watched at most; the system's watches are shared by all programs.
constexpr qsizetype kMaxWatchedFolders = 512;
// How long the photo shown that left its folder waits for its arrival under a new name, in seconds.
constexpr double kWaitForRenamedArrival = 1.0;

QString folderOf(const QString &path)
{
    const qsizetype slash = path.lastIndexOf(QLatin1Char('/'));
    return slash <= 0 ? QStringLiteral("/") : path.left(slash);
}

} // namespace

bool NavigateController::refreshTreeFolders()
{
    QSet<QString> found;
    QStringList pending;
    for (const QString &tree : std::as_const(m_watchedTrees)) {
        if (kpv::pathStatus(tree).isDirectory)
            pending << tree;
    }
    // Read by the names' bytes, as the folders' photos are. Hidden folders are left out, as the
    // folder search leaves them out; links are not followed, so a link back up the tree cannot
    // make it endless.
    while (!pending.isEmpty() && found.size() < kMaxWatchedFolders) {
        const QString folder = pending.takeFirst();
        if (found.contains(folder))
            continue;
        found.insert(folder);
        DIR *dir = ::opendir(kpv::encodeFileName(folder).constData());
        if (!dir)
            continue;
        while (const dirent *entry = ::readdir(dir)) {
            if (entry->d_name[0] == '.')
                continue;
            const QByteArray path = kpv::encodeFileName(folder) + '/' + QByteArray(entry->d_name);
            struct stat st;
            if (::lstat(path.constData(), &st) == 0 && S_ISDIR(st.st_mode))
                pending << kpv::decodeFileName(path);
        }
        ::closedir(dir);
    }
    if (found == m_treeFolders)
        return false;
    m_treeFolders = std::move(found);
    return true;
}

void NavigateController::updateWatchedFolders()
{
    // The opened trees' folders first: a folder without photos yet must still be watched.
    QSet<QString> folders = m_treeFolders;
    for (const LMPathString &path : filePaths()) {
        folders.insert(folderOf(path.path()));
        if (folders.size() >= kMaxWatchedFolders)
            break;
    }
    m_watchedFolders = QStringList(folders.begin(), folders.end());
    std::sort(m_watchedFolders.begin(), m_watchedFolders.end());
    updateWatchedFile();
}

void NavigateController::updateWatchedFile()
{
    if (!m_folderWatcher) {
        m_folderWatcher = std::make_unique<kpv::FolderWatcher>(
            [this](const QStringList &folders, const QStringList &files) { watchedPathsChanged(folders, files); });
    }
    m_folderWatcher->watch(m_watchedFolders, m_curFilePath.isEmpty() ? QStringList() : QStringList{m_curFilePath.path()});
}

void NavigateController::watchedPathsChanged(const QStringList &folders, const QStringList &files)
{
    if (!m_navSortFileInfoList)
        return;
    LMAppServices *services = LMAppServices::shared();
    const QStringList extensions = services ? services->allowedFileExtensions() : QStringList();
    const QList<LMPathString> listed = filePaths();
    QSet<QString> modified(files.begin(), files.end());
    QList<LMPathString> gone, added;
    // A sub-folder made or removed in an opened tree: looked through as a changed folder, so the
    // photos it came with join the list (those copied in before its watch began too) and those
    // it took away leave it; then the watch follows the tree as it is now.
    QStringList changed = folders;
    const QSet<QString> before = m_treeFolders;
    const bool treeChanged = !m_watchedTrees.isEmpty() && refreshTreeFolders();
    if (treeChanged) {
        for (const QString &folder : std::as_const(m_treeFolders))
            if (!before.contains(folder) && !changed.contains(folder))
                changed << folder;
        for (const QString &folder : before)
            if (!m_treeFolders.contains(folder) && !changed.contains(folder))
                changed << folder;
    }
    for (const QString &folder : std::as_const(changed)) {
        // The photos in the folder now, named as the list names them (hidden files left out, as
        // the folder search leaves them out). Read by the names' bytes: a name that is not UTF-8
        // is a photo like any other, not one that vanished (Qt's folder reading changes them).
        QSet<QString> present;
        DIR *dir = ::opendir(kpv::encodeFileName(folder).constData());
        // A folder whose rights were taken away is not an emptied one: what it holds is unknown
        // until they come back (a change the watch hears too), and its photos stay listed.
        if (!dir && errno != ENOENT && errno != ENOTDIR)
            continue;
        if (dir) {
            while (const dirent *entry = ::readdir(dir)) {
                if (entry->d_name[0] == '.')
                    continue;
                const QString path = folder + QLatin1Char('/') + kpv::decodeFileName(QByteArray(entry->d_name));
                const qsizetype dot = path.lastIndexOf(QLatin1Char('.'));
                if (dot > 0 && extensions.contains(path.mid(dot + 1).toLower()) && kpv::pathStatus(path).isRegularFile)
                    present.insert(path);
            }
            ::closedir(dir);
        }
        QSet<QString> inList;
        const bool oneFolder = m_watchedFolders.size() == 1;
        for (const LMPathString &path : listed) {
            if (!oneFolder && folderOf(path.path()) != folder)
                continue;
            inList.insert(path.path());
            if (!present.contains(path.path()) && !kpv::pathStatus(path.path()).exists)
                gone << path;
        }
        if (m_addFilesFromWatchedFolders) {
            for (const QString &path : std::as_const(present))
                if (!inList.contains(path))
                    added << LMPathString(path, false);
        }
        // A file saved by writing a new one and renaming it over the old shows as a folder change.
        if (!m_curFilePath.isEmpty() && folderOf(m_curFilePath.path()) == folder)
            modified.insert(m_curFilePath.path());
    }
    // A photo another program renamed is the same photo under a new name (the same file, size and
    // time): it keeps its place in the list and, when it is the one shown, stays shown under its
    // new name, rather than leaving the list and coming back as another photo further on.
    // The photo shown that left in an earlier change is still looked for among those that came.
    if (!m_curFileLeftPath.isEmpty() && !gone.contains(m_curFileLeftPath) && listed.contains(m_curFileLeftPath) &&
        !kpv::pathStatus(m_curFileLeftPath.path()).exists)
        gone << m_curFileLeftPath;
    QHash<LMPathString, LMPathString> renamed;
    for (qsizetype i = gone.size() - 1; i >= 0 && !added.isEmpty(); --i) {
        const LMNavFileInfoPtr cached = m_cacheFileInfos.value(gone[i]);
        const LMFileImgBaseInfoPtr base = cached ? cached->imgBaseInfo() : nullptr;
        if (!base || !base->fileIdentity().isValid())
            continue;
        for (qsizetype j = 0; j < added.size(); ++j) {
            if (kpv::fileIdentity(added[j].path()) != base->fileIdentity())
                continue;
            renamed.insert(gone[i], added[j]);
            gone.removeAt(i);
            added.removeAt(j);
            break;
        }
    }
    // The photo shown left without an arrival of its own: a rename whose arrival comes next keeps
    // it shown under its new name, with any turn not yet saved; a photo really removed leaves the
    // list once the moment is over, as any other.
    if (const LMNavFileInfoPtr cur = m_cacheFileInfos.value(m_curFilePath);
        gone.contains(m_curFilePath) && cur && cur->imgBaseInfo() && cur->imgBaseInfo()->fileIdentity().isValid()) {
        gone.removeAll(m_curFilePath);
        if (m_curFileLeftPath != m_curFilePath || !m_curFileLeftTimer) {
            endWaitForCurFileLeft();
            m_curFileLeftPath = m_curFilePath;
            m_curFileLeftTimer = kpv::Timer::scheduled(kWaitForRenamedArrival, false,
                                                       [this](kpv::Timer &) { endWaitForCurFileLeft(true); });
        }
    } else if (gone.contains(m_curFilePath) && hasUnsavedTurn()) {
        // Gone with a turn not yet saved, and nothing to know it again by: it stays shown all the
        // same (see endWaitForCurFileLeft).
        gone.removeAll(m_curFilePath);
        endWaitForCurFileLeft();
        m_curFileLeftPath = m_curFilePath;
    } else {
        // Found under its new name, back under its old one, or no longer the one shown (then it
        // leaves with the others that are gone).
        endWaitForCurFileLeft();
    }
    if (!renamed.isEmpty()) {
        QVariantMap info;
        for (auto it = renamed.cbegin(); it != renamed.cend(); ++it)
            info.insert(it.key().path(), QVariant::fromValue(it.value()));
        postNotification(NavFilesBatchRenamedNotification, info);
    }
    // Gone from the list (and so from the bins and the grid, which follow it); a favourite of a
    // file that vanished stays a favourite, shown as missing, as it was before.
    if (!gone.isEmpty())
        didFilesDeleted(gone);
    MainConfig *c = config();
    const int64_t sortType = c ? c->sortByType() : int64_t(NavSortByName);
    if (!added.isEmpty() && m_navSortFileInfoList) {
        std::sort(added.begin(), added.end());
        m_navSortFileInfoList->appendFilePaths(added, int(sortType));
        const qsizetype index = m_navSortFileInfoList->sortedFilePaths().indexOf(m_curFilePath);
        navCurFileToIndexByFileListChanged(std::max<qsizetype>(0, index));
    } else if (treeChanged) {
        updateWatchedFolders();
    }
    const int64_t mode = m_host ? m_host->showMode() : 0;
    // In date order, a photo written since its date was read takes its new place, as a renamed
    // one does: at once in the viewer and the grid, otherwise once the viewer shows again.
    QList<LMPathString> written;
    for (const LMPathString &path : filePaths()) {
        if (changed.contains(folderOf(path.path())) || modified.contains(path.path()))
            written << path;
    }
    if (m_navSortFileInfoList->refreshModificationDates(written) &&
        (sortType & ~int64_t(NavSortDescending)) == NavSortByDate) {
        m_needReorderFilePaths = true;
        if (mode == NavShowModeView || mode == NavShowModeThumbnail)
            sortFiles(sortType, true);
    }
    // The other photos of the changed folders that were read: each one changed since is read
    // again, never shown as it was.
    // Those near the current one are read again now, so that the bins show them as they are.
    const QList<LMPathString> cached = m_cacheFileInfos.keys();
    bool forgotten = false;
    for (const LMPathString &path : cached) {
        if (path != m_curFilePath && changed.contains(folderOf(path.path())))
            forgotten = forgetRecordIfFileChanged(path) || forgotten;
    }
    if (forgotten && (mode == NavShowModeView || mode == NavShowModeMiniImage) && !m_autoNavTimer)
        submitCacheOperation(true, false);
    for (const QString &file : std::as_const(modified)) {
        if (file != m_curFilePath.path() || !kpv::pathStatus(file).exists)
            continue;
        // The viewer reads the file again first, so that the bins and the grid, told next, take
        // their pictures from the new reading rather than from the old one.
        // A turn not yet saved stays on the picture it was made on, and the picture with it: the
        // step that saves the turn then finds the file changed and asks, never writing over what
        // the other program saved. The file as it is now shows once the turn is let go.
        if (const LMImageViewModel *view = currentView(); view && view->angleRotate().isRotatedOrFlipped())
            continue;
        const LMPathString path = m_curFilePath;
        didFileModified(path);
        postNotification("fileModified", {{QStringLiteral("filePath"), QVariant::fromValue(path)}});
    }
}

void NavigateController::endWaitForCurFileLeft(bool expired)
{
    const LMPathString left = std::exchange(m_curFileLeftPath, LMPathString());
    if (const std::shared_ptr<kpv::Timer> timer = std::exchange(m_curFileLeftTimer, nullptr))
        timer->invalidate();
    if (!expired || left.isEmpty() || !filePaths().contains(left) || kpv::pathStatus(left.path()).exists)
        return;
    // Nothing came with its identity: it was moved away or removed. Shown with a turn not yet
    // saved, it stays shown with its turn, its picture still at hand: leaving it asks, as for any
    // turn that cannot go into its file, and the user may keep the turn in a new file. It is still
    // looked for under a new name meanwhile, and leaves the list once the user has left it.
    if (left == m_curFilePath && hasUnsavedTurn()) {
        m_curFileLeftPath = left;
        return;
    }
    didFilesDeleted({left});
}

bool NavigateController::hasUnsavedTurn() const
{
    const LMImageViewModel *view = currentView();
    return view && view->angleRotate().isRotatedOrFlipped();
}

void NavigateController::dropShownPhotoThatLeftSoon()
{
    // On the next turn of the loop: the step under way lands first, so that the list shrinks
    // under the photo the user went to.
    if (!m_curFileLeftPath.isEmpty() && !m_curFileLeftTimer)
        m_curFileLeftTimer = kpv::Timer::scheduled(0, false, [this](kpv::Timer &) { endWaitForCurFileLeft(true); });
}

bool NavigateController::forgetRecordIfFileChanged(const LMPathString &path)
{
    const LMNavFileInfoPtr cached = fileInfoByPath(path);
    if (!cached || !cached->fileChangedSinceRead())
        return false;
    m_cacheFileInfos.remove(path);
    m_operationMasks.remove(path);
    postNotification("fileModified", {{QStringLiteral("filePath"), QVariant::fromValue(path)}});
    return true;
}
