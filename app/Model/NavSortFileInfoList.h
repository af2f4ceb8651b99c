#pragma once

// The ordered list of image files that the view steps through and the thumbnail mode shows: the
// paths in display order beside one entry record per file (for its modification date when sorting
// by date). A list is used on one thread at a time; copies share the entry records.
//
// Sort types: 1 by name (LMPathString::compare), 2 by modification date with ties by name; add
// 0x1000 for descending. Any other base value leaves the order as it is.

#include "Model/LMPathString.h"
#include "Model/NavSortFileInfo.h"

#include <QHash>
#include <QList>

#include <functional>
#include <memory>
#include <optional>

enum NavSortType : int {
    NavSortByName = 1,
    NavSortByDate = 2,
    NavSortDescending = 0x1000,
};

class NavSortFileInfoList {
public:
    using Entry = std::shared_ptr<NavSortFileInfo>;
    // Polled between the steps of a long sort; answering true abandons it.
    using CancelCheck = std::function<bool()>;

    NavSortFileInfoList() = default;
    // The files in the given order, later duplicates dropped.
    explicit NavSortFileInfoList(const QList<LMPathString> &filePaths);
    // Copying gives a new array and table that share the other list's entry records, so dates that
    // were read already are kept.
    NavSortFileInfoList(const NavSortFileInfoList &) = default;
    NavSortFileInfoList &operator=(const NavSortFileInfoList &) = default;
    NavSortFileInfoList(NavSortFileInfoList &&) = default;
    NavSortFileInfoList &operator=(NavSortFileInfoList &&) = default;
    virtual ~NavSortFileInfoList() = default;

    const QList<LMPathString> &sortedFilePaths() const { return m_filePaths; }
    const QHash<LMPathString, Entry> &dictFileInfos() const { return m_dictFileInfos; }
    qsizetype count() const { return m_filePaths.size(); }
    bool contains(const LMPathString &path) const { return m_dictFileInfos.contains(path); }
    Entry sortFileInfoByFilePath(const LMPathString &path) const { return m_dictFileInfos.value(path); }

    // Adds the files not yet listed at the end, then sorts by sortType.
    void appendFilePaths(const QList<LMPathString> &filePaths, int sortType);
    // As appendFilePaths, keeping the given entry records (and any dates already read into them).
    void appendFileInfos(const QList<Entry> &fileInfos, int sortType);
    // True when at least one listed file was removed.
    bool removeFromFiles(const QList<LMPathString> &filePaths);
    // Places file right after `after` (at the end when `after` is absent or last) and answers its
    // index; a file already listed keeps its place. The file's entry is renewed either way, so a
    // file saved over an existing one has its date read again.
    qsizetype insertToFiles(const LMPathString &file, const LMPathString &after);
    // Applies a whole renaming at once: each listed old path is replaced, at its index, by its new
    // path, with a fresh entry. Chains (a to b, b to c) and swaps work; a new path that equals
    // another listed file (a file that was replaced on disk) keeps only the renamed entry's place,
    // so no file is listed twice. The list is not sorted again. True when anything was renamed.
    bool renameForFiles(const QHash<LMPathString, LMPathString> &oldToNew);

    // Reads the held dates of the given listed files again; true when any changed, so that an
    // order by date no longer holds.
    bool refreshModificationDates(const QList<LMPathString> &filePaths);

    // Re-sorts the list and answers the new order.
    const QList<LMPathString> &sortFilesByType(int sortType);

    // Sorts paths by sortType. Dates come from the entries in referSortFileInfos, read once and
    // kept there; paths without an entry get a temporary one. nullopt when cancelled.
    static std::optional<QList<LMPathString>> sortFiles(const QList<LMPathString> &filePaths, int sortType,
                                                        const QHash<LMPathString, Entry> &referSortFileInfos,
                                                        const CancelCheck &isCancelled = {});

protected:
    QHash<LMPathString, Entry> m_dictFileInfos;
    QList<LMPathString> m_filePaths;
};
