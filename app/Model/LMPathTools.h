#pragma once

// Small file-system helpers shared by the application: a free file name in a folder, emptying a
// folder, whether a file lies on a local disk, the application's data folder, and path prefixes.
// No state; every function may run on any thread.

#include <QDateTime>
#include <QString>

class LMPathTools {
public:
    // A path in `directory` for a new file called `fileName` that nothing occupies yet: the name
    // itself when free, else "base_N.ext" (or "base_N" for a name without extension) with the
    // first free counter. A name that already ends in "_N" (N written plainly, without leading
    // zeros) continues from N + 1. The name always fits the file system's limit: one near it, which
    // the counter would push past it, loses characters from the end of its base. Empty when the
    // folder or the name is empty, when the name is not a plain file name ("/" or NUL in it, "."
    // or ".."), or when no free name was found. The search is not atomic: another writer may take
    // the name before the caller writes.
    static QString writableFilePathInDirectory(const QString &directory, const QString &fileName);

    // Removes everything directly under `directory` (sub-folders with their contents) except hidden
    // items (names beginning with a point). Symbolic links are removed, never followed. Errors are
    // ignored item by item.
    static void removeAllFilesUnderDirectory(const QString &directory);

    // True when the file lies on a local, fixed disk: false for network file systems, removable
    // media mounted under /media, /run/media or /mnt, and paths that cannot be resolved.
    static bool isFileOnLocalDisk(const QString &filePath);

    // The application's data folder (created when missing), or its sub-folder `subDir` (created
    // with intermediate folders). Empty when it cannot be made, when a file stands in its place,
    // or when subDir is absolute or has "." or ".." components or a NUL.
    static QString userDataDirectoryWithSubDir(const QString &subDir);

    // True when `path` is `prefix` or lies below it (case-sensitive; "/" is a prefix of every
    // absolute path; "/a/b" is not below "/a/" because the character after the prefix must be "/").
    static bool isPath(const QString &path, const QString &hasPrefix);

    // When the file was made, as the file system recorded it, else (a file system that keeps no
    // such date) when it was last changed; invalid when the file cannot be reached. The name's
    // bytes are used as they are, so a name that is not UTF-8 is dated as well.
    static QDateTime fileCreationDate(const QString &filePath);

    // Whether `name` can stand as one file name: not empty, not "." or "..", no "/" and no NUL.
    static bool isValidFileName(const QString &name);
};
