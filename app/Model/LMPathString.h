#pragma once

// The value that stands for one file or folder everywhere in the application: the element of every
// file list and the key of every per-file table. It is an immutable path plus a directory flag,
// cheap to copy (the string is shared) and safe to pass between threads.
//
// Equality and hashing are case-sensitive, because "a.jpg" and "A.JPG" are two files on the file
// systems we run on. Ordering (compare) sorts by parent folder, then by name, ignoring case and
// comparing runs of digits by value (img2 before img10); a case-sensitive comparison of the whole
// path breaks the remaining ties, so the order is total and agrees with equality.

#include <QDateTime>
#include <QHash>
#include <QMetaType>
#include <QString>
#include <QStringList>
#include <QUrl>

#include <cstddef>
#include <functional>

class LMPathString {
public:
    // An empty path (a file with no name); lists never hold it.
    LMPathString() = default;
    LMPathString(const QString &path, bool isDirectory);

    // The stored path exactly as given: not normalised, links not resolved, trailing slash kept.
    const QString &path() const { return m_path; }
    QString description() const { return m_path; }
    bool isDirectory() const { return m_isDirectory; }
    bool isEmpty() const { return m_path.isEmpty(); }

    // Same path string (case-sensitive); the directory flag plays no part.
    bool isEqual(const LMPathString &other) const { return m_path == other.m_path; }
    bool isEqual(const QString &other) const { return m_path == other; }
    bool operator==(const LMPathString &other) const { return isEqual(other); }
    bool operator!=(const LMPathString &other) const { return !isEqual(other); }
    size_t hash() const { return qHash(m_path); }

    // -1, 0 or 1: parent folders first, then the last path components, both case-insensitive with
    // numeric runs compared by value; ties broken by the case-sensitive whole path. A folder sorts
    // before its own sub-folders, so the files of a folder come before those of its sub-folders.
    int compare(const LMPathString &other) const;
    bool operator<(const LMPathString &other) const { return compare(other) < 0; }

    // file:// URL; a folder's URL ends in a slash.
    QUrl filePathURL() const;
    // The containing folder, with the directory flag set ("/p/q/r.jpg" gives "/p/q", "/a" gives "/").
    LMPathString parentDirectory() const;
    // The file's modification time; an invalid QDateTime when the file cannot be read.
    QDateTime dateModified() const;

    // The path value of an image that exists only in memory (for example a crop result).
    static LMPathString memoryFilePathString();
    bool isMemoryFilePathString() const;

    // Path pieces with the usual rules: trailing slashes ignored, "/" for a top-level item.
    static QString lastPathComponent(const QString &path);
    static QString stringByDeletingLastPathComponent(const QString &path);
    // The folders holding `paths`, each once, in the order first met, at most `limit` of them.
    static QStringList foldersHolding(const QStringList &paths, qsizetype limit);

private:
    QString m_path;
    bool m_isDirectory = false;
};

inline size_t qHash(const LMPathString &p, size_t seed = 0) { return qHash(p.path(), seed); }

template <>
struct std::hash<LMPathString> {
    size_t operator()(const LMPathString &p) const noexcept { return p.hash(); }
};

Q_DECLARE_METATYPE(LMPathString)
