#pragma once
// Reading image files safely and telling whether a file is still the one that was read.

#include <QByteArray>
#include <QString>

#include <cstdint>

namespace kpv {

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

// Reads at most `maxBytes` from the start of a regular file, with the same care as
// readRegularFile. *whole (when given) tells whether that was all of it.
bool readRegularFileHead(const QString& path, std::int64_t maxBytes, QByteArray* out, bool* whole,
                         QString* error = nullptr);

} // namespace kpv
