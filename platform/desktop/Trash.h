#pragma once
// Moving files to the desktop's trash as the freedesktop.org trash layout has it, so that any file
// manager can list and restore them.
//
// A file on the home folder's volume goes to the home trash ($XDG_DATA_HOME/Trash, made when
// missing); a file on another volume to that volume's $topdir/.Trash/$uid (when the
// administrator provided a safe .Trash) or $topdir/.Trash-$uid. Files are never copied across
// volumes. The info file is written, synced and checked first; only then is the file moved, and
// a failed move takes the info file away again. Names are handled as bytes, so a name that is not
// UTF-8 or is very long goes to the trash like any other.

#include <QByteArray>
#include <QString>

namespace kpv {

class Trash {
public:
    struct Result {
        bool ok = false;
        QString trashedPath;  // where the file went (in files/)
        QString infoPath;     // its .trashinfo
        QString error;        // why not, for the user
        // The same two paths as the file system's bytes (names need not be UTF-8).
        QByteArray nativeTrashedPath, nativeInfoPath;
    };

    // Moves the file or folder at `path` (a link itself, not its target) to the trash.
    static Result moveToTrash(const QString& path);
    // The same with the path as the bytes the file system knows it by.
    static Result moveToTrash(const QByteArray& nativePath);

    // The home trash folder ($XDG_DATA_HOME/Trash or ~/.local/share/Trash); empty when there is
    // no absolute home folder to put it in, and nothing then goes to any trash.
    static QByteArray homeTrashDirectory();

    struct RestoreResult {
        bool ok = false;
        bool occupied = false;     // something is at the original place now: nothing was moved
        QByteArray restoredPath;   // where it went back to (or would have), as bytes
        QString error;             // why not, for the user
    };
    // Puts the trashed file at `nativeTrashedPath` (in a trash's files/) back where its record
    // says it came from, making the folders that are gone meanwhile, and removes the record. A
    // name that is taken there is never replaced: the result says `occupied` instead.
    static RestoreResult restore(const QByteArray& nativeTrashedPath);
};

} // namespace kpv
