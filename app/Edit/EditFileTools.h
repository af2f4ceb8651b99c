#pragma once

// File-system checks shared by the batch tools and crop mode: whether anything (a dangling link
// included) stands at a path, whether two folder paths name the same folder, the default
// destination folder, and making a destination folder ready for writing.

#include <QString>

class EditFileTools {
public:
    enum class FolderCheck { Ready, Empty, NotUsable };
    // Why a folder is not usable, as the file system put it.
    enum class FolderFault {
        None,
        NoPermission,   // EACCES, EPERM
        ReadOnlyVolume, // EROFS
        NameTooLong,    // ENAMETOOLONG: `item` is the name, or empty when the whole path is too long
        FileInPath,     // ENOTDIR, EEXIST: `item` is the file (or link) standing where a folder should be
        DiskFull,       // ENOSPC, EDQUOT
        Other,          // `error` tells
    };
    struct FolderProblem {
        FolderFault fault = FolderFault::None;
        QString item;
        int error = 0;
    };

    // True when a file, folder or link (even a dangling one) stands at the path.
    static bool itemExistsAtPath(const QString &path);
    // The same folder after cleaning both paths ("/a/b/" and "/a/./b" name "/a/b"); case-sensitive,
    // as file names are here.
    static bool isSameFolder(const QString &a, const QString &b);
    // The user's Pictures folder with links resolved; empty when the platform does not name exactly one.
    static QString defaultDestFolderPath();
    // Empty: nothing typed. A folder that exists must be writable; when nothing exists it is made
    // with its intermediate folders; anything else standing there, a folder that cannot be made or
    // one that is not writable is not usable, and `problem` (when given) says why. The name's
    // bytes are kept: they need not be UTF-8.
    static FolderCheck prepareDestinationFolder(const QString &path, FolderProblem *problem = nullptr);
    // The same test of a folder that is already there (one chosen in a panel): nothing is made.
    static FolderCheck checkExistingFolder(const QString &path, FolderProblem *problem = nullptr);
    // The file name without its last extension ("a.b.jpg" gives "a.b", ".profile" stays).
    static QString fileNameWithoutExtension(const QString &fileName);
    // The last extension without the point, letter case kept; empty when there is none.
    static QString fileExtension(const QString &fileName);
};
