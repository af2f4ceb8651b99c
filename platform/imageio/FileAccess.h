#pragma once
// Reading image files safely and telling whether a file is still the one that was read.

#include <QByteArray>
#include <QString>

#include <cstdint>
#include <functional>
#include <memory>

namespace kpv {

// What tells one version of a file from another: the file (device and inode) and its size and
// modification time to the nanosecond. A file replaced by rename gets another inode; one
// rewritten in place another size or time.
struct FileIdentity {
    std::uint64_t device = 0;
    std::uint64_t inode = 0;
    std::int64_t size = -1;
    // The modification time: whole seconds since 1970 (rounded down) and the nanoseconds past them.
    std::int64_t modifiedSecs = 0;
    std::int64_t modifiedNsec = 0;
    // When the file last changed in any way (its bytes written, its dates or attributes set), as
    // the kernel keeps it. Not part of which version it is (anyone may set an attribute); see
    // changedSince.
    std::int64_t changedSecs = 0;
    std::int64_t changedNsec = 0;
    bool isValid() const { return size >= 0; }
    bool operator==(const FileIdentity& o) const
    {
        return device == o.device && inode == o.inode && size == o.size && modifiedSecs == o.modifiedSecs &&
               modifiedNsec == o.modifiedNsec;
    }
    // Whether the file, as `now` finds it, is another version than this one or was touched since
    // in any way: a program that writes a file over in place and sets its old date again leaves
    // the same size and date, and only this trace.
    bool changedSince(const FileIdentity& now) const
    {
        return now != *this || now.changedSecs != changedSecs || now.changedNsec != changedNsec;
    }
};

// The identity of the file at `path` (links followed); invalid when there is none.
FileIdentity fileIdentity(const QString& path);

// Names one version of a file (which file, its size, when it last changed in any way), so that a
// picture read of it is told from one read of another file put at the path under the same date.
inline QString fileVersionText(std::uint64_t device, std::uint64_t inode, std::int64_t size, std::int64_t changedSecs,
                               std::int64_t changedNsec)
{
    return QStringLiteral("%1:%2:%3:%4.%5").arg(device).arg(inode).arg(size).arg(changedSecs).arg(changedNsec);
}

// Reads a whole regular file for decoding. Opens without blocking and refuses anything but a
// regular file (a FIFO, device or folder named like a picture would otherwise block or read
// forever) and files over `maxBytes`. *identity gets the identity of the file that was read.
// False with *error (when given) saying why.
bool readRegularFile(const QString& path, std::int64_t maxBytes, QByteArray* out, QString* error = nullptr,
                     FileIdentity* identity = nullptr);

// The bytes of a regular file opened once for reading, shared by everything that reads it: its
// type, its metadata, its stored thumbnail and its pixels. A file large enough to be worth it is
// mapped into memory, so that a scaled decode never copies it and metadata costs only the pages
// it touches; a small one (or one that cannot be mapped) is read into a buffer.
//
// Another program may cut a mapped file short while it is read. The pages past its new end then
// read as zeros instead of stopping the process, and wasCutShort() says so: whatever was read is
// not the file's, and a reader must fail rather than answer it.
class FileContents {
public:
    ~FileContents();
    FileContents(const FileContents&) = delete;
    FileContents& operator=(const FileContents&) = delete;

    // Opens the regular file at `path` with the care of readRegularFile (no blocking, nothing but
    // a regular file). A file read into memory may have at most `maxBytes`; a mapped one costs no
    // memory of its own and may be larger. A file mapped already, and still as it was mapped, is
    // not opened again: its live mapping is answered. Null with *error (when given) saying why.
    static std::shared_ptr<const FileContents> open(const QString& path, std::int64_t maxBytes,
                                                    QString* error = nullptr);

    // The bytes, without a copy: valid as long as this object lives, and never to be written.
    const QByteArray& bytes() const { return m_bytes; }
    qsizetype size() const { return m_bytes.size(); }
    // The identity of the file that was opened (fstat of the open file, not of the name).
    FileIdentity identity() const { return m_identity; }
    bool isMapped() const { return m_mapping != nullptr; }
    bool wasCutShort() const;
    // Tells the system that all of the file is about to be read (a decode), so that a file not
    // yet in memory is read ahead of the decoder rather than a few pages at each fault.
    void willReadAll() const;

private:
    FileContents() = default;
    QByteArray m_bytes;
    FileIdentity m_identity;
    void* m_mapping = nullptr;
    std::size_t m_mappedLength = 0;
    int m_guardSlot = -1;
};

// For tests: told each time a file's contents are taken from the disk (path, and "map" or "read"
// for a mapping or a whole read), after the file was opened and before its bytes are used. Null
// to stop.
using FileAccessObserver = std::function<void(const QString& path, const char* kind)>;
void setFileAccessObserverForTesting(FileAccessObserver observer);

} // namespace kpv
