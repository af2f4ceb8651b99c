#pragma once

// The entry record of one file in a sorted navigation list: the path and its modification date,
// read from the file system once, on first request, and kept. Entries are shared between copies of
// a list (std::shared_ptr), and the date is guarded by the entry's own lock because several
// threads may read it while lists share the entry.

#include "Model/LMPathString.h"

#include <QDateTime>

#include <mutex>

class NavSortFileInfo {
public:
    explicit NavSortFileInfo(const LMPathString &filePath) : m_filePath(filePath) {}

    const LMPathString &filePath() const { return m_filePath; }

    // The held date; on first use the file's modification date, or 1970-01-01 00:00:00 UTC when
    // that cannot be read (so unreadable files sort as oldest).
    QDateTime fileModificationDate();
    void setFileModificationDate(const QDateTime &date);
    // Whether a date is held already (read or set), without touching the file system.
    bool hasFileModificationDate() const;
    // Reads a held date again (a file another program wrote since); true when it changed. A date
    // not read yet stays unread.
    bool refreshFileModificationDate();

private:
    const LMPathString m_filePath;
    mutable std::mutex m_lock;
    QDateTime m_date;
    bool m_hasDate = false;
};
