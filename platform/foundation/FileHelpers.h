#pragma once
// Folders and name comparison shared by the application.

#include <QString>
#include <QFile>
#include <QStringList>
#include <QStringView>

#include <functional>

namespace kpv {

// XDG folders of this application ("kestrane-viewer" inside $XDG_CONFIG_HOME, $XDG_DATA_HOME and
// $XDG_CACHE_HOME, or their defaults under the home folder). Made when missing; the
// configuration folder with mode 0700.
QString configDirectory();
QString dataDirectory();
QString cacheDirectory();

// A private folder (mode 0700) made once per run with mkdtemp inside $TMPDIR (or /tmp); never the
// shared temporary folder itself. Empty when it could not be made.
QString temporaryDirectory();
// Removes the private folder and everything in it (at exit).
void removeTemporaryDirectory();

// Marks a private temporary folder as in use for as long as this process runs: a lock on the file
// ".in-use" inside it, which the system lets go when the process ends, however it ends. Returns
// the descriptor holding the lock (-1 on failure); closing it ends the mark.
int holdTemporaryFolder(const QString& folder);
// Removes the folders of this user in `parent` named `prefix` plus six characters (as mkdtemp
// makes them) whose run has ended without removing them: their ".in-use" lock is free. Folders of
// runs still going, and folders without the mark, are left alone. Returns how many went.
int removeStaleTemporaryFolders(const QString& parent, const QString& prefix);

// Removes from `folder` the hidden temporary files that writers of this user left there when they
// were killed mid-write (their names say which process wrote them, and that process is gone).
// Files of writers still running, of other users or other machines are left alone. Returns how
// many went.
int removeStaleTemporaryFiles(const QString& folder);
// The same for the program's own folders (configuration, data and cache, as far as they exist;
// none is made) and for `more`.
int removeStaleTemporaryFilesOfOwnFolders(const QStringList& more);

// Copies the regular file `from` to the new name `to`, whatever bytes either name holds. The copy
// is written beside `to` and takes the name only once complete, and only while nothing stands
// there: then false with *nameTaken set, so the caller can try the next free name. Otherwise false
// with *error (when given) saying why; nothing is left behind. The copy takes the tags and comments
// too (extended attributes of the user's name space); *attributesLeftOut, when given, tells whether
// some could not be kept (a file system that stores none), the copy made all the same.
// `stop`, when given, is asked between the pieces of a large copy: once it answers true the copy
// ends there, false with *error saying so, and the part written is removed.
bool copyFileToNewName(const QString& from, const QString& to, bool* nameTaken, QString* error = nullptr,
                       bool* attributesLeftOut = nullptr, const std::function<bool()>& stop = {});

// Opens a file of the user's own (settings, lists) for reading without waiting on what may stand
// in its place: a pipe or a device is refused unread, as is anything else that is not a regular
// file. False with *why saying what stood there or why it could not be opened.
bool openRegularFileToRead(const QString& path, QFile* file, QString* why);

// Orders names as people expect: case-insensitive, runs of digits compared by their value
// ("img2" before "img10"; "IMG" equals "img"; "01" equals "1" by value, then the shorter run first
// so that the order is total for different strings: "1" before "01"). Decimal digits of every
// script count by their value and sort among other characters as ASCII digits do; equal values in
// different scripts are told apart last, by code point. Returns -1, 0 or 1; 0 only when the names
// are equal ignoring case.
int naturalCompare(QStringView a, QStringView b);

} // namespace kpv
