#pragma once
// The one way this program replaces a file's contents: the new bytes go to a hidden temporary file
// in the same folder, are written out, flushed to the disk (fsync) and only then renamed over the
// target; the folder is synced after the rename. Any failure removes the temporary file and leaves
// the old file byte for byte as it was. A full disk shows as a failed write or sync, never as a short
// file renamed into place.
//
// A read-only target is refused even where the folder would allow the rename. A symbolic link is
// followed, so the file it names is replaced and the link stays a link. The new file takes the mode,
// the extended attributes (tags, comments, access lists) and, where allowed, the owner and group of
// the file it replaces (the group alone where only it may be kept); a new file gets 0666 less the
// umask, unless FileReplaceOptions::mode says otherwise.

#include <QByteArray>
#include <QString>

#include <cstddef>
#include <functional>

namespace kpv {

struct FileReplaceOptions {
    // Permission bits of the new file (e.g. 0600 for a private one); negative: as described above.
    // A private file is private from its creation, never readable by others for a moment.
    int mode = -1;
    // Called with the finished and synced temporary file just before the rename. Returning false
    // abandons the replacement (the temporary file is removed); the callback then says why in *error.
    std::function<bool(const QString& tempPath, QString* error)> beforeRename;
    // A new file only: nothing that stands at the path (or appears there while the bytes are
    // written) is ever replaced. The write then fails and *nameTaken, when given, is set, so the
    // caller can try the next free name.
    bool createOnly = false;
    bool* nameTaken = nullptr;
    // A new file made from another (a converted or resized copy) takes that file's tags and
    // comments: its extended attributes of the user's name space. Its access list is the folder's.
    QString attributesFrom;
    // Set, when given, once the file is written without some of those tags and comments (its file
    // system stores none, as a FAT stick); the file itself is written all the same.
    bool* attributesLeftOut = nullptr;
};

// Gives the open file `fd` the extended attributes of the user's name space (tags, comments,
// where a download came from) that the file `from` has; any that cannot be set are left out, and
// then the answer is false.
bool copyUserAttributes(const QString& from, int fd);

// How an extended attribute is set on an open file: fsetxattr(2). Tests put a stand-in for a file
// system that refuses them in its place; null puts the system's back.
using AttributeSetter = int (*)(int fd, const char* name, const void* value, size_t size, int flags);
void setAttributeSetterForTesting(AttributeSetter setter);

// Replaces the contents of the file at `path` with `bytes` as described at the top. True on
// success; false with *error (when given) saying what failed and why ("cannot write …: the disk is
// full").
bool replaceFileContents(const QString& path, const QByteArray& bytes, const FileReplaceOptions& options = {},
                         QString* error = nullptr);

// As above, for contents too large to hold at once: `write` writes them to the open temporary file
// a piece at a time. It returns false when it failed, with *why saying what failed and why (the
// error then), or leaving *why empty and errno telling the system's reason.
using FileContentsWriter = std::function<bool(int fd, QString* why)>;
bool replaceFileContents(const QString& path, const FileContentsWriter& write, const FileReplaceOptions& options = {},
                         QString* error = nullptr);

// Whether the error of a failed write says the disk has no room left (full, or the user's quota used
// up), so that later writes to it fail the same way. A file over the size limit is not that: a
// smaller one still fits.
bool isOutOfRoomError(const QString& error);

} // namespace kpv
