// Bringing a file back out of the trash, as the trash's record of it says.

#include "desktop/Trash.h"
#include "foundation/FileNames.h"

#include <QFile>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace kpv {

namespace {

// A record is a few lines; a larger one is not a record.
constexpr qsizetype kMaxRecordBytes = 64 * 1024;

QByteArray parentPath(const QByteArray& path)
{
    const qsizetype slash = path.lastIndexOf('/');
    return slash <= 0 ? QByteArray("/") : path.left(slash);
}

QByteArray baseName(const QByteArray& path)
{
    return path.mid(path.lastIndexOf('/') + 1);
}

Trash::RestoreResult failed(const QByteArray& trashed, const QString& why)
{
    Trash::RestoreResult r;
    r.error = QStringLiteral("\"%1\" could not be put back: %2")
                  .arg(displayFileName(decodeFileName(baseName(trashed))), why);
    return r;
}

QString systemError(int code)
{
    return QString::fromLocal8Bit(std::strerror(code));
}

bool readRecord(const QByteArray& path, QByteArray* out)
{
    const int fd = ::open(path.constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    char buffer[4096];
    bool ok = true;
    for (ssize_t n; (n = ::read(fd, buffer, sizeof buffer)) != 0;) {
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 || out->size() + n > kMaxRecordBytes) {
            ok = false;
            break;
        }
        out->append(buffer, n);
    }
    ::close(fd);
    return ok;
}

// mkdir -p; folders made here get the user's usual mode.
bool makeFolders(const QByteArray& path)
{
    struct stat st {};
    if (::stat(path.constData(), &st) == 0)
        return S_ISDIR(st.st_mode);
    const QByteArray up = parentPath(path);
    if (up != path && !makeFolders(up))
        return false;
    return ::mkdir(path.constData(), 0777) == 0 || errno == EEXIST;
}

// Moves `from` to `to` unless `to` exists: false with errno EEXIST when it does.
bool renameNoReplace(const QByteArray& from, const QByteArray& to)
{
    if (::renameat2(AT_FDCWD, from.constData(), AT_FDCWD, to.constData(), RENAME_NOREPLACE) == 0)
        return true;
    if (errno != EINVAL && errno != ENOSYS)
        return false;
    // A file system without the no-replace rename: a hard link claims the name atomically for a
    // file; a folder is checked just before the move.
    struct stat st {};
    if (::lstat(from.constData(), &st) == 0 && !S_ISDIR(st.st_mode)) {
        if (::link(from.constData(), to.constData()) != 0)
            return false;
        ::unlink(from.constData());
        return true;
    }
    if (::lstat(to.constData(), &st) == 0) {
        errno = EEXIST;
        return false;
    }
    return ::rename(from.constData(), to.constData()) == 0;
}

} // namespace

Trash::RestoreResult Trash::restore(const QByteArray& nativeTrashedPath)
{
    const QByteArray trashed = nativeTrashedPath;
    const QByteArray filesFolder = parentPath(trashed);
    if (!trashed.startsWith('/') || baseName(filesFolder) != "files")
        return failed(trashed, QStringLiteral("it is not in a trash"));
    const QByteArray trash = parentPath(filesFolder);
    const QByteArray recordPath = trash + "/info/" + baseName(trashed) + ".trashinfo";
    QByteArray record;
    if (!readRecord(recordPath, &record))
        return failed(trashed, QStringLiteral("the trash has no readable record of where it came from"));

    QByteArray original;
    bool inSection = false;
    for (const QByteArray& line : record.split('\n')) {
        const QByteArray trimmed = line.trimmed();
        if (trimmed.startsWith('['))
            inSection = trimmed == "[Trash Info]";
        else if (inSection && trimmed.startsWith("Path=") && original.isEmpty())
            original = QByteArray::fromPercentEncoding(trimmed.mid(5));
    }
    if (original.isEmpty() || original.contains('\0'))
        return failed(trashed, QStringLiteral("the trash's record does not say where it came from"));
    // A volume's trash records paths relative to the volume's top folder.
    if (!original.startsWith('/')) {
        QByteArray top;
        if (baseName(trash).startsWith(".Trash-"))
            top = parentPath(trash);
        else if (baseName(parentPath(trash)) == ".Trash")
            top = parentPath(parentPath(trash));
        else
            return failed(trashed, QStringLiteral("the trash's record does not say where it came from"));
        original = (top == "/" ? QByteArray() : top) + "/" + original;
    }
    for (const QByteArray& part : original.split('/')) {
        if (part == "..")
            return failed(trashed, QStringLiteral("the trash's record names an unsafe place"));
    }

    RestoreResult r;
    r.restoredPath = original;
    if (!makeFolders(parentPath(original))) {
        const int error = errno;
        r.error = failed(trashed, QStringLiteral("its folder cannot be made again: %1").arg(systemError(error))).error;
        return r;
    }
    if (!renameNoReplace(trashed, original)) {
        const int error = errno;
        if (error == EEXIST || error == ENOTEMPTY) {
            r.occupied = true;
            r.error = QStringLiteral("\"%1\" is taken by another file now").arg(displayFileName(decodeFileName(original)));
        } else {
            r.error = failed(trashed, error == EXDEV ? QStringLiteral("its folder is on another volume now")
                                                     : systemError(error))
                          .error;
        }
        return r;
    }
    ::unlink(recordPath.constData());
    r.ok = true;
    return r;
}

} // namespace kpv
