#include "Model/PhotoSearchTaskInfo.h"

#include "foundation/FileNames.h"

#include <QFileInfo>

#include <algorithm>
#include <functional>

PhotoSearchTaskInfo::PhotoSearchTaskInfo(const QList<LMPathString>& searchedFilePaths,
                                         const QStringList& choosedOriginalPaths, bool includeSubDir)
    : NavSortFileInfoList(searchedFilePaths)
{
    QStringList folders;
    for (const QString& chosen : choosedOriginalPaths) {
        if (!chosen.isEmpty() && kpv::pathStatus(chosen).isDirectory)
            folders.append(chosen);
    }
    if (searchedFilePaths.size() == 1 && folders.isEmpty()) {
        folderPathsForSearch_ = {LMPathString::stringByDeletingLastPathComponent(searchedFilePaths.front().path())};
        needEnumFileParentFolder_ = true;
    } else {
        folderPathsForSearch_ = folders;
        needSearchSubFolders_ = includeSubDir && !folders.isEmpty();
    }
}

void PhotoSearchTaskInfo::mergeFileInfos(QList<Entry> fileInfos, int sortType)
{
    const bool descending = (sortType & NavSortDescending) != 0;
    const int base = sortType & ~NavSortDescending;
    const bool sortable = base == NavSortByName || base == NavSortByDate;

    if (!sortable || sortedByType_ != sortType) {
        appendFileInfos(fileInfos, sortType);
        sortedByType_ = sortType;
        return;
    }

    // Keep only new files, first occurrence wins, as appending does.
    QList<LMPathString> fresh;
    fresh.reserve(fileInfos.size());
    for (const Entry& e : fileInfos) {
        if (!e || m_dictFileInfos.contains(e->filePath()))
            continue;
        m_dictFileInfos.insert(e->filePath(), e);
        fresh.append(e->filePath());
    }
    if (fresh.isEmpty())
        return;
    auto sortedFresh = sortFiles(fresh, sortType, m_dictFileInfos);
    if (!sortedFresh)
        sortedFresh = fresh; // not cancellable here; keeps the compiler honest

    // The same order the full sort gives: ties are impossible, because the comparison is total.
    // Each new file finds its place searching onwards from the place of the one before it, so a
    // batch costs a few comparisons per new file plus one pass that moves the existing paths.
    std::function<bool(const LMPathString&, const LMPathString&)> less;
    if (base == NavSortByName) {
        less = [descending](const LMPathString& a, const LMPathString& b) {
            return descending ? b.compare(a) < 0 : a.compare(b) < 0;
        };
    } else {
        less = [this, descending](const LMPathString& x, const LMPathString& y) {
            const LMPathString& a = descending ? y : x;
            const LMPathString& b = descending ? x : y;
            const QDateTime da = m_dictFileInfos.value(a)->fileModificationDate();
            const QDateTime db = m_dictFileInfos.value(b)->fileModificationDate();
            if (da != db)
                return da < db;
            return a.compare(b) < 0;
        };
    }
    QList<LMPathString> old = std::move(m_filePaths);
    m_filePaths = QList<LMPathString>();
    QList<LMPathString> merged;
    merged.reserve(old.size() + sortedFresh->size());
    const bool canMove = old.isDetached(); // nobody else shares the old array: take its paths
    auto copyRange = [&](qsizetype from, qsizetype to) {
        if (canMove) {
            for (qsizetype i = from; i < to; ++i)
                merged.append(std::move(old[i]));
        } else {
            for (qsizetype i = from; i < to; ++i)
                merged.append(old.at(i));
        }
    };
    // Galloping search: the files of one batch mostly come from one folder and land side by side,
    // so after the first one each needs only a few comparisons.
    const qsizetype count = old.size();
    qsizetype next = 0;
    for (const LMPathString& path : *sortedFresh) {
        qsizetype low = next;
        qsizetype probe = next;
        qsizetype step = 1;
        while (probe < count && less(old.at(probe), path)) {
            low = probe + 1;
            probe = next + step;
            step *= 2;
        }
        const qsizetype high = std::min(probe, count);
        const auto at = std::lower_bound(old.constBegin() + low, old.constBegin() + high, path, less);
        const qsizetype index = at - old.constBegin();
        copyRange(next, index);
        merged.append(path);
        next = index;
    }
    copyRange(next, old.size());
    m_filePaths = std::move(merged);
}
