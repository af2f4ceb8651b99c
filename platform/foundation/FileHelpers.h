#pragma once
// Folders and name comparison shared by the application.

#include <QByteArray>
#include <QString>
#include <QStringView>

#include <cstdint>

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

// What tells one version of a file from another: the file (device and inode) and its size and
// modification time to the nanosecond. A file replaced by rename gets another inode; one
// rewritten in place another size or time.
struct FileIdentity {
    std::uint64_t device = 0;
    std::uint64_t inode = 0;
    std::int64_t size = -1;
    std::int64_t modifiedNs = 0;
    bool isValid() const { return size >= 0; }
    bool operator==(const FileIdentity&) const = default;
};

// The identity of the file at `path` (links followed); invalid when there is none.
FileIdentity fileIdentity(const QString& path);

// Reads a whole regular file for decoding. Opens without blocking and refuses anything but a
// regular file (a FIFO, device or folder named like a picture would otherwise block or read
// forever) and files over `maxBytes`. *identity gets the identity of the file that was read.
// False with *error (when given) saying why.
bool readRegularFile(const QString& path, std::int64_t maxBytes, QByteArray* out, QString* error = nullptr,
                     FileIdentity* identity = nullptr);

// Orders names as people expect: case-insensitive, runs of digits compared by their value
// ("img2" before "img10"; "IMG" equals "img"; "01" equals "1" by value, then the shorter run first
// so that the order is total for different strings: "1" before "01"). Returns -1, 0 or 1; 0 only
// when the names are equal ignoring case.
int naturalCompare(QStringView a, QStringView b);

} // namespace kpv
