#include "foundation/FileReplace.h"

#include "MFileReplace.h"

#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace kpv {

namespace {

// Linux gives up on link chains at this depth too.
constexpr int kMaxLinkDepth = 40;

QString reason(int err)
{
    switch (err) {
    case ENOSPC:
        return QStringLiteral("the disk is full");
    case EDQUOT:
        return QStringLiteral("the disk quota is used up");
    case EFBIG:
        return QStringLiteral("the file is larger than this disk allows");
    default:
        return QString::fromLocal8Bit(std::strerror(err));
    }
}

bool fail(QString* error, const QString& text)
{
    if (error)
        *error = text;
    return false;
}

// The file the path finally names; a dangling link names the file it would create.
QString followLinks(const QString& path)
{
    QFileInfo info(path);
    for (int depth = 0; depth < kMaxLinkDepth && info.isSymLink(); ++depth)
        info.setFile(info.symLinkTarget());
    return info.absoluteFilePath();
}

} // namespace

bool replaceFileContents(const QString& path, const QByteArray& bytes, const FileReplaceOptions& options,
                         QString* error)
{
    if (path.isEmpty())
        return fail(error, QStringLiteral("no file name was given to write"));
    const QString target = followLinks(path);
    const QByteArray native = QFile::encodeName(target);

    struct stat old {};
    const bool exists = ::stat(native.constData(), &old) == 0;
    if (exists && !S_ISREG(old.st_mode))
        return fail(error, QStringLiteral("cannot write %1: it is not a regular file").arg(path));
    // A file the user made read-only stays as it is, though its folder would allow a rename.
    if (exists && ::faccessat(AT_FDCWD, native.constData(), W_OK, AT_EACCESS) != 0)
        return fail(error, QStringLiteral("%1 is read-only").arg(path));

    const mode_t createMode = options.mode >= 0 ? mode_t(options.mode) & 0777 : 0666;
    std::string tempName;
    const int fd = MFileCreateBeside(native.toStdString(), createMode, &tempName);
    if (fd < 0)
        return fail(error, QStringLiteral("cannot write %1: %2").arg(path, reason(errno)));
    const QByteArray temp = QByteArray::fromStdString(tempName);

    const auto abandon = [&](int err, const QString& what) {
        ::close(fd);
        ::unlink(temp.constData());
        return fail(error, what.arg(path, reason(err)));
    };
    if (options.mode >= 0) {
        // Exactly the mode asked for, whatever the umask took away.
        if (::fchmod(fd, mode_t(options.mode) & 0777) != 0)
            return abandon(errno, QStringLiteral("cannot write %1: %2"));
    } else if (exists) {
        // Owner and group may only be kept where the user has the right; the mode always is.
        if (old.st_uid != ::geteuid() || old.st_gid != ::getegid())
            (void)::fchown(fd, old.st_uid, old.st_gid);
        if (::fchmod(fd, old.st_mode & 0777) != 0)
            return abandon(errno, QStringLiteral("cannot write %1: %2"));
    }
    // Written data may sit in the page cache; a full disk can show only in the sync.
    if (!MFileWriteAll(fd, bytes.constData(), size_t(bytes.size())) || ::fsync(fd) != 0)
        return abandon(errno, QStringLiteral("cannot write %1: %2"));
    if (::close(fd) != 0) {
        const int err = errno;
        ::unlink(temp.constData());
        return fail(error, QStringLiteral("cannot write %1: %2").arg(path, reason(err)));
    }
    if (options.beforeRename && !options.beforeRename(QFile::decodeName(temp), error)) {
        ::unlink(temp.constData());
        return false;
    }
    if (::rename(temp.constData(), native.constData()) != 0) {
        const int err = errno;
        ::unlink(temp.constData());
        return fail(error, QStringLiteral("cannot replace %1: %2").arg(path, reason(err)));
    }
    MFileSyncFolderOf(native.toStdString());
    return true;
}

} // namespace kpv
