#include "foundation/FileReplace.h"

#include "foundation/FileNames.h"

#include "MFileReplace.h"

#include <QFile>
#include <QFileInfo>

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/xattr.h>
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

// The file the path finally names; a dangling link names the file it would create. Read as bytes:
// a name need not be UTF-8.
QString followLinks(const QString& path)
{
    QByteArray file = encodeFileName(QFileInfo(path).absoluteFilePath());
    for (int depth = 0; depth < kMaxLinkDepth; ++depth) {
        struct stat st {};
        if (::lstat(file.constData(), &st) != 0 || !S_ISLNK(st.st_mode))
            break;
        QByteArray target(PATH_MAX, '\0');
        const ssize_t n = ::readlink(file.constData(), target.data(), size_t(target.size()));
        if (n <= 0 || n >= target.size())
            break;
        target.truncate(n);
        if (!target.startsWith('/'))
            target = file.left(file.lastIndexOf('/') + 1) + target;
        file = target;
    }
    return decodeFileName(file);
}

// Owner and group may only be kept where the user has the right. A member of a shared photo's
// group who is not its owner keeps at least the group, so the others of the group can still write.
void keepOwnership(int fd, const struct stat& old)
{
    if (old.st_uid == ::geteuid() && old.st_gid == ::getegid())
        return;
    if (::fchown(fd, old.st_uid, old.st_gid) != 0 && old.st_gid != ::getegid())
        (void)::fchown(fd, uid_t(-1), old.st_gid);
}

std::atomic<AttributeSetter> attributeSetter{nullptr};

// The extended attributes of the old file (tags, comments, the access list) go to the new one.
// Names the user may not set (other name spaces) are left behind, as the owner would be. With
// `userOnly`, only those of the user's name space go. False when one of the user's name space
// could not be set.
bool copyAttributes(const QByteArray& from, int fd, bool userOnly = false)
{
    ssize_t size = ::listxattr(from.constData(), nullptr, 0);
    if (size <= 0)
        return true;
    QByteArray names(size, '\0');
    size = ::listxattr(from.constData(), names.data(), size_t(names.size()));
    if (size <= 0)
        return true;
    names.truncate(size);
    QByteArray value;
    bool allKept = true;
    for (const QByteArray& name : names.split('\0')) {
        if (name.isEmpty() || (userOnly && !name.startsWith("user.")))
            continue;
        const ssize_t length = ::getxattr(from.constData(), name.constData(), nullptr, 0);
        if (length < 0)
            continue;
        value.resize(length);
        const ssize_t got = ::getxattr(from.constData(), name.constData(), value.data(), size_t(value.size()));
        if (got < 0)
            continue;
        const AttributeSetter set = attributeSetter.load();
        const int result = set ? set(fd, name.constData(), value.constData(), size_t(got), 0)
                               : ::fsetxattr(fd, name.constData(), value.constData(), size_t(got), 0);
        if (result != 0 && name.startsWith("user."))
            allKept = false;
    }
    return allKept;
}

} // namespace

bool copyUserAttributes(const QString& from, int fd) { return copyAttributes(encodeFileName(from), fd, true); }

void setAttributeSetterForTesting(AttributeSetter setter) { attributeSetter.store(setter); }

bool replaceFileContents(const QString& path, const QByteArray& bytes, const FileReplaceOptions& options,
                         QString* error)
{
    return replaceFileContents(
        path, [&bytes](int fd, QString*) { return MFileWriteAll(fd, bytes.constData(), size_t(bytes.size())); }, options,
        error);
}

bool replaceFileContents(const QString& path, const FileContentsWriter& write, const FileReplaceOptions& options,
                         QString* error)
{
    if (path.isEmpty())
        return fail(error, QStringLiteral("no file name was given to write"));
    const QString target = followLinks(path);
    const QByteArray native = encodeFileName(target);

    struct stat old {};
    if (options.nameTaken)
        *options.nameTaken = false;
    if (options.attributesLeftOut)
        *options.attributesLeftOut = false;
    const auto taken = [&] {
        if (options.nameTaken)
            *options.nameTaken = true;
        return fail(error, QStringLiteral("%1 already exists").arg(displayFileName(path)));
    };
    if (options.createOnly && ::lstat(native.constData(), &old) == 0)
        return taken();
    const bool exists = ::stat(native.constData(), &old) == 0;
    if (exists && !S_ISREG(old.st_mode))
        return fail(error, QStringLiteral("cannot write %1: it is not a regular file").arg(displayFileName(path)));
    // A file the user made read-only stays as it is, though its folder would allow a rename.
    if (exists && ::faccessat(AT_FDCWD, native.constData(), W_OK, AT_EACCESS) != 0)
        return fail(error, QStringLiteral("%1 is read-only").arg(displayFileName(path)));

    const mode_t createMode = options.mode >= 0 ? mode_t(options.mode) & 0777 : 0666;
    std::string tempName;
    const int fd = MFileCreateBeside(native.toStdString(), createMode, &tempName);
    if (fd < 0)
        return fail(error, QStringLiteral("cannot write %1: %2").arg(displayFileName(path), reason(errno)));
    const QByteArray temp = QByteArray::fromStdString(tempName);

    const auto abandon = [&](int err, const QString& what) {
        ::close(fd);
        ::unlink(temp.constData());
        return fail(error, what.arg(displayFileName(path), reason(err)));
    };
    if (options.mode >= 0) {
        // Exactly the mode asked for, whatever the umask took away.
        if (::fchmod(fd, mode_t(options.mode) & 0777) != 0)
            return abandon(errno, QStringLiteral("cannot write %1: %2"));
    } else if (exists) {
        keepOwnership(fd, old);
        if (::fchmod(fd, old.st_mode & 0777) != 0)
            return abandon(errno, QStringLiteral("cannot write %1: %2"));
        // After the mode: an access list sets the group bits from its mask.
        copyAttributes(native, fd);
    } else if (!exists && !options.attributesFrom.isEmpty()) {
        if (!copyUserAttributes(options.attributesFrom, fd) && options.attributesLeftOut)
            *options.attributesLeftOut = true;
    }
    // Written data may sit in the page cache; a full disk can show only in the sync.
    QString why;
    errno = 0;
    if (!write(fd, &why)) {
        if (why.isEmpty())
            return abandon(errno, QStringLiteral("cannot write %1: %2"));
        ::close(fd);
        ::unlink(temp.constData());
        return fail(error, why);
    }
    if (::fsync(fd) != 0)
        return abandon(errno, QStringLiteral("cannot write %1: %2"));
    if (::close(fd) != 0) {
        const int err = errno;
        ::unlink(temp.constData());
        return fail(error, QStringLiteral("cannot write %1: %2").arg(displayFileName(path), reason(err)));
    }
    if (options.beforeRename && !options.beforeRename(decodeFileName(temp), error)) {
        ::unlink(temp.constData());
        return false;
    }
    if (options.createOnly) {
        if (!renameWithoutReplacing(temp, native)) {
            const int err = errno;
            ::unlink(temp.constData());
            if (err == EEXIST)
                return taken();
            return fail(error, QStringLiteral("cannot write %1: %2").arg(displayFileName(path), reason(err)));
        }
    } else if (::rename(temp.constData(), native.constData()) != 0) {
        const int err = errno;
        ::unlink(temp.constData());
        return fail(error, QStringLiteral("cannot replace %1: %2").arg(displayFileName(path), reason(err)));
    }
    MFileSyncFolderOf(native.toStdString());
    return true;
}

bool isOutOfRoomError(const QString& error)
{
    // In this file's words, or in the system's (writers that go by the system's).
    for (int err : {ENOSPC, EDQUOT})
        if (error.contains(reason(err)) || error.contains(QString::fromLocal8Bit(std::strerror(err))))
            return true;
    return false;
}

} // namespace kpv
