#include "Model/NavSortFileInfoList.h"

#include <QSet>

#include <algorithm>
#include <vector>

NavSortFileInfoList::NavSortFileInfoList(const QList<LMPathString> &filePaths) { appendFilePaths(filePaths, 0); }

void NavSortFileInfoList::appendFilePaths(const QList<LMPathString> &filePaths, int sortType)
{
    QList<Entry> entries;
    entries.reserve(filePaths.size());
    for (const LMPathString &p : filePaths)
        entries.append(std::make_shared<NavSortFileInfo>(p));
    appendFileInfos(entries, sortType);
}

void NavSortFileInfoList::appendFileInfos(const QList<Entry> &fileInfos, int sortType)
{
    for (const Entry &e : fileInfos) {
        if (!e || m_dictFileInfos.contains(e->filePath()))
            continue;
        m_dictFileInfos.insert(e->filePath(), e);
        m_filePaths.append(e->filePath());
    }
    sortFilesByType(sortType);
}

bool NavSortFileInfoList::removeFromFiles(const QList<LMPathString> &filePaths)
{
    QSet<LMPathString> gone;
    for (const LMPathString &p : filePaths) {
        if (m_dictFileInfos.remove(p))
            gone.insert(p);
    }
    if (gone.isEmpty())
        return false;
    m_filePaths.removeIf([&](const LMPathString &p) { return gone.contains(p); });
    return true;
}

qsizetype NavSortFileInfoList::insertToFiles(const LMPathString &file, const LMPathString &after)
{
    qsizetype index = m_dictFileInfos.contains(file) ? m_filePaths.indexOf(file) : -1;
    if (index < 0) {
        const qsizetype afterIndex = m_dictFileInfos.contains(after) ? m_filePaths.indexOf(after) : -1;
        if (afterIndex >= 0 && afterIndex + 1 < m_filePaths.size()) {
            index = afterIndex + 1;
            m_filePaths.insert(index, file);
        } else {
            m_filePaths.append(file);
            index = m_filePaths.size() - 1;
        }
    }
    m_dictFileInfos.insert(file, std::make_shared<NavSortFileInfo>(file));
    return index;
}

bool NavSortFileInfoList::renameForFiles(const QHash<LMPathString, LMPathString> &oldToNew)
{
    // Only listed files are renamed; renaming a file to itself changes nothing.
    QHash<LMPathString, LMPathString> renames;
    QSet<LMPathString> targets;
    for (auto it = oldToNew.cbegin(); it != oldToNew.cend(); ++it) {
        const LMPathString &from = it.key(), &to = it.value();
        if (from == to || to.isEmpty() || !m_dictFileInfos.contains(from) || renames.contains(from))
            continue;
        renames.insert(from, to);
        targets.insert(to);
    }
    if (renames.isEmpty())
        return false;

    // Rebuild the order in one pass, so every rename sees the list as it was before any of them:
    // a renamed file takes its old index; a listed file whose name became the target of a rename
    // (and that is not renamed itself) is the same file on disk now and is dropped.
    QList<LMPathString> order;
    order.reserve(m_filePaths.size());
    QHash<LMPathString, Entry> dict;
    dict.reserve(m_filePaths.size());
    for (const LMPathString &p : std::as_const(m_filePaths)) {
        const auto rename = renames.constFind(p);
        if (rename != renames.cend()) {
            const LMPathString &to = rename.value();
            if (dict.contains(to))
                continue; // two files renamed to one name: list it once
            order.append(to);
            dict.insert(to, std::make_shared<NavSortFileInfo>(to));
        } else if (!targets.contains(p) && !dict.contains(p)) {
            order.append(p);
            dict.insert(p, m_dictFileInfos.value(p));
        }
    }
    m_filePaths = std::move(order);
    m_dictFileInfos = std::move(dict);
    return true;
}

bool NavSortFileInfoList::refreshModificationDates(const QList<LMPathString> &filePaths)
{
    bool changed = false;
    for (const LMPathString &p : filePaths) {
        if (const Entry e = m_dictFileInfos.value(p))
            changed = e->refreshFileModificationDate() || changed;
    }
    return changed;
}

const QList<LMPathString> &NavSortFileInfoList::sortFilesByType(int sortType)
{
    if (auto sorted = sortFiles(m_filePaths, sortType, m_dictFileInfos))
        m_filePaths = std::move(*sorted);
    return m_filePaths;
}

std::optional<QList<LMPathString>> NavSortFileInfoList::sortFiles(const QList<LMPathString> &filePaths, int sortType,
                                                                  const QHash<LMPathString, Entry> &referSortFileInfos,
                                                                  const CancelCheck &isCancelled)
{
    const auto cancelled = [&] { return isCancelled && isCancelled(); };
    const bool descending = (sortType & NavSortDescending) != 0;
    const int base = sortType & ~NavSortDescending;

    QList<LMPathString> result;
    if (base == NavSortByName) {
        result = filePaths;
        std::stable_sort(result.begin(), result.end(), [descending](const LMPathString &a, const LMPathString &b) {
            return descending ? b.compare(a) < 0 : a.compare(b) < 0;
        });
    } else if (base == NavSortByDate) {
        struct Keyed {
            QDateTime date;
            LMPathString path;
        };
        std::vector<Keyed> keyed;
        keyed.reserve(size_t(filePaths.size()));
        for (qsizetype i = 0; i < filePaths.size(); ++i) {
            // Reading dates touches the file system: poll for cancellation as we go.
            if ((i & 63) == 0 && cancelled())
                return std::nullopt;
            const LMPathString &p = filePaths[i];
            Entry e = referSortFileInfos.value(p);
            if (!e)
                e = std::make_shared<NavSortFileInfo>(p);
            keyed.push_back({e->fileModificationDate(), p});
        }
        if (cancelled())
            return std::nullopt;
        std::stable_sort(keyed.begin(), keyed.end(), [descending](const Keyed &x, const Keyed &y) {
            const Keyed &a = descending ? y : x;
            const Keyed &b = descending ? x : y;
            if (a.date != b.date)
                return a.date < b.date;
            return a.path.compare(b.path) < 0;
        });
        result.reserve(qsizetype(keyed.size()));
        for (const Keyed &k : keyed)
            result.append(k.path);
    } else {
        result = filePaths;
    }
    if (cancelled())
        return std::nullopt;
    return result;
}
