#pragma once
// What one folder search has to do (which folders, with or without their sub-folders, whether it
// is the folder of a single chosen file), together with the sorted list of the files known so far.
// The folder fields are fixed at creation, so the search's worker may read them while the main
// thread owns the list.

#include "Model/NavSortFileInfoList.h"

#include <QStringList>

#include <optional>

class PhotoSearchTaskInfo : public NavSortFileInfoList {
public:
    // `searchedFilePaths`: the files already found (kept in their order, later duplicates dropped).
    // `choosedOriginalPaths`: the items the user chose. When exactly one file was found and no
    // chosen item is an existing folder, the task walks that file's folder (without sub-folders);
    // otherwise it walks the chosen folders' sub-folders, when `includeSubDir` is on.
    PhotoSearchTaskInfo(const QList<LMPathString>& searchedFilePaths, const QStringList& choosedOriginalPaths,
                        bool includeSubDir);

    // An independent copy of the list (the entry records are shared, so dates read are kept).
    NavSortFileInfoList createNavSortFileInfoList() const { return NavSortFileInfoList(*this); }

    const QStringList& folderPathsForSearch() const { return folderPathsForSearch_; }
    bool needSearchSubFolders() const { return needSearchSubFolders_; }
    bool needEnumFileParentFolder() const { return needEnumFileParentFolder_; }

    // Adds the files not yet listed and leaves the list sorted by `sortType`, as appendFileInfos
    // does. Once the list is sorted by that type, a batch is sorted on its own and merged in, so a
    // big folder costs one pass per batch instead of a full sort.
    void mergeFileInfos(QList<Entry> fileInfos, int sortType);

    // The list was changed in a way that may break its order (an insertion or a rename).
    void invalidateSortOrder() { sortedByType_.reset(); }

private:
    QStringList folderPathsForSearch_;
    bool needSearchSubFolders_ = false;
    bool needEnumFileParentFolder_ = false;
    std::optional<int> sortedByType_; // the type the list is known to be sorted by
};
