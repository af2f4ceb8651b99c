/* Writing a file whole or not at all. The new content goes to a fresh file beside the target;
 * once complete it is synced to the disk and renamed over the target, and the folder is synced so
 * that the rename itself is on the disk too. Until the rename the target is untouched, and a
 * failure removes the fresh file. Every writer that replaces a file goes through here, the steps
 * one by one where it has checks of its own between them. */
#ifndef KPV_CODEC_MFILEREPLACE_H
#define KPV_CODEC_MFILEREPLACE_H

#include <sys/types.h>

#include <cstddef>
#include <functional>
#include <string>

/* A new, empty file beside `target`, opened for writing with `mode` less the umask. Returns its
 * descriptor and sets *tempPath, or -1 with errno set. Its name is
 *     .<name>.kpv-<host>-<boot>-<pid>-<start>.<random>
 * (the name cut on a character boundary when long): <host> (8 hex digits) stands for this machine
 * and its process-id space, <boot> (8 hex digits) for the system's current boot, <pid> and <start>
 * (decimal: the process id and its start time in clock ticks since the boot) for the writing
 * process. A writer killed before it could remove the file (a signal, a power cut) thus leaves a
 * name that says whose it was, and MFileRemoveStaleTemporaries can tell that the writer is gone. */
int MFileCreateBeside(const std::string& target, mode_t mode, std::string* tempPath);

/* True when the bare file name has exactly the shape MFileCreateBeside gives its files. */
bool MFileIsTemporaryName(const char* name);

/* Removes the file `name` of the folder open as `dirFd` when it is such a temporary file whose
 * writer has died: a regular file of this user whose name says it was made on this machine by a
 * process that no longer runs (an earlier boot, no process of that id, or another process under the
 * id since). A file of a live writer, of another user or of another machine (a shared folder) is
 * never touched. True when it was removed. */
bool MFileRemoveStaleTemporary(int dirFd, const char* name);

/* Every temporary file in `folder` that MFileRemoveStaleTemporary removes; returns how many went. */
int MFileRemoveStaleTemporaries(const std::string& folder);

/* Writes every byte, going on after short writes and interruptions; false with errno set. */
bool MFileWriteAll(int fd, const void* data, size_t size);

/* Syncs the file to the disk and closes it; false with errno set when either fails. The
 * descriptor is closed either way. Written data may sit in the page cache until then: a full
 * disk can show only here. */
bool MFileSyncAndClose(int fd);

/* Syncs the folder holding `path`, so that a rename in it is on the disk. Some file systems
 * cannot sync a folder; the rename has happened either way, so that is no failure. */
void MFileSyncFolderOf(const std::string& path);

/* The whole job for a writer with no checks of its own: the fresh file gets the replaced file's
 * mode (a new file the umask's), `write` fills it through the descriptor or by opening
 * `tempPath`, and it is synced, renamed over `target` and the folder synced. `write` returns
 * false on failure, with errno set where a system call failed. Returns false with errno set
 * (0 when `write` gave no reason). */
bool MFileReplace(const std::string& target, const std::function<bool(int fd, const std::string& tempPath)>& write);

#endif
