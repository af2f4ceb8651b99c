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

/* A new, empty file beside `target`, named ".<name>.<random>" (the name cut on a character
 * boundary when long), opened for writing with `mode` less the umask. Returns its descriptor and
 * sets *tempPath, or -1 with errno set. */
int MFileCreateBeside(const std::string& target, mode_t mode, std::string* tempPath);

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
