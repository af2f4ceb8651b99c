#include "desktop/Trash.h"

#include "foundation/FileNames.h"

#include <QDateTime>
#include <QFile>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

namespace kpv {

namespace {

constexpr int kMaxNameBytes = NAME_MAX;
const QByteArray kInfoSuffix = ".trashinfo";

QString systemError(int code)
{
    return QString::fromLocal8Bit(std::strerror(code));
}

QString displayName(const QByteArray& native)
{
    return kpv::displayFileName(kpv::decodeFileName(native.mid(native.lastIndexOf('/') + 1)));
}

// mkdir -p with mode 0700 for what it makes.
bool makeFolders(const QByteArray& path)
{
    struct stat st {};
    if (::stat(path.constData(), &st) == 0)
        return S_ISDIR(st.st_mode);
    const qsizetype slash = path.lastIndexOf('/');
    if (slash > 0 && !makeFolders(path.left(slash)))
        return false;
    return ::mkdir(path.constData(), 0700) == 0 || errno == EEXIST;
}

QByteArray parentOf(const QByteArray& path)
{
    const qsizetype slash = path.lastIndexOf('/');
    return slash <= 0 ? QByteArray("/") : path.left(slash);
}

// The folder with links and dots resolved, so that walking up its parents walks up the mounts.
QByteArray realFolder(const QByteArray& path)
{
    char* resolved = ::realpath(path.constData(), nullptr);
    if (!resolved)
        return path;
    const QByteArray real(resolved);
    std::free(resolved);
    return real;
}

// A folder that another volume, or another view of the same volume (a bind mount), is mounted on.
// Files never move from one mount to another, even on the same device.
bool isMountRoot(const QByteArray& folder)
{
    struct statx sx {};
    return ::statx(AT_FDCWD, folder.constData(), 0, STATX_BASIC_STATS, &sx) == 0 &&
           (sx.stx_attributes_mask & STATX_ATTR_MOUNT_ROOT) && (sx.stx_attributes & STATX_ATTR_MOUNT_ROOT);
}

// The top folder of the mount that holds the real folder `path`: the highest ancestor on the same
// device that no mount starts below.
QByteArray topDirectoryOf(const QByteArray& path, dev_t device)
{
    QByteArray top = path;
    while (top != "/" && !isMountRoot(top)) {
        const QByteArray up = parentOf(top);
        struct stat st {};
        if (::stat(up.constData(), &st) != 0 || st.st_dev != device)
            break;
        top = up;
    }
    return top;
}

// Why the folder holding a file cannot be changed, or empty when it can: a file leaves a folder
// only when the folder may be written.
QString whyFolderIsLocked(const QByteArray& folder)
{
    struct statvfs volume {};
    if (::statvfs(folder.constData(), &volume) == 0 && (volume.f_flag & ST_RDONLY))
        return QStringLiteral("its folder \"%1\" is on a read-only volume and cannot be changed")
            .arg(kpv::displayFileName(kpv::decodeFileName(folder)));
    if (::faccessat(AT_FDCWD, folder.constData(), W_OK | X_OK, AT_EACCESS) != 0)
        return QStringLiteral("its folder \"%1\" cannot be changed (%2)")
            .arg(kpv::displayFileName(kpv::decodeFileName(folder)), systemError(errno));
    return {};
}

// The administrator's $topdir/.Trash may be used only when it is a real folder with the sticky bit.
bool isSafeSharedTrash(const QByteArray& folder)
{
    struct stat st {};
    return ::lstat(folder.constData(), &st) == 0 && S_ISDIR(st.st_mode) && (st.st_mode & S_ISVTX);
}

// A trash folder of ours: a real folder owned by us (made when missing), with files/ and info/.
bool prepareTrash(const QByteArray& trash, bool mustBePrivate)
{
    if (!makeFolders(trash))
        return false;
    struct stat st {};
    if (::lstat(trash.constData(), &st) != 0 || !S_ISDIR(st.st_mode))
        return false;
    if (mustBePrivate && st.st_uid != ::getuid())
        return false;
    return makeFolders(trash + "/files") && makeFolders(trash + "/info");
}

// A name of at most kMaxNameBytes bytes including the info suffix, cut at a character boundary
// where the name is UTF-8 and keeping the extension where it fits.
QByteArray fittingName(const QByteArray& name, const QByteArray& tail)
{
    const int room = kMaxNameBytes - int(kInfoSuffix.size()) - int(tail.size());
    if (name.size() <= room)
        return name + tail;
    QByteArray extension;
    const qsizetype dot = name.lastIndexOf('.');
    if (dot > 0 && name.size() - dot <= 16)
        extension = name.mid(dot);
    qsizetype keep = room - extension.size();
    // Do not end inside a UTF-8 sequence.
    while (keep > 0 && (uchar(name.at(keep)) & 0xC0) == 0x80)
        --keep;
    return name.left(keep) + extension + tail;
}

bool writeAll(int fd, const QByteArray& bytes)
{
    qsizetype done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.constData() + done, size_t(bytes.size() - done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        done += n;
    }
    return true;
}

Trash::Result failure(const QByteArray& native, const QString& why)
{
    Trash::Result r;
    r.error = QStringLiteral("\"%1\" could not be moved to the trash: %2").arg(displayName(native), why);
    return r;
}

} // namespace

QByteArray Trash::homeTrashDirectory()
{
    QByteArray data = qgetenv("XDG_DATA_HOME");
    if (!data.startsWith('/')) {
        const QByteArray home = qgetenv("HOME");
        if (!home.startsWith('/'))
            return {};
        data = home + "/.local/share";
    }
    while (data.size() > 1 && data.endsWith('/'))
        data.chop(1);
    return data + "/Trash";
}

Trash::Result Trash::moveToTrash(const QString& path)
{
    return moveToTrash(kpv::encodeFileName(path));
}

Trash::Result Trash::moveToTrash(const QByteArray& nativePath)
{
    if (!nativePath.startsWith('/'))
        return failure(nativePath, QStringLiteral("the path is not absolute"));
    QByteArray path = nativePath;
    while (path.size() > 1 && path.endsWith('/'))
        path.chop(1);
    struct stat file {};
    if (::lstat(path.constData(), &file) != 0)
        return failure(path, systemError(errno));
    const QByteArray name = path.mid(path.lastIndexOf('/') + 1);
    if (name.isEmpty() || name == "." || name == "..")
        return failure(path, QStringLiteral("this cannot go to the trash"));

    const QByteArray folder = realFolder(parentOf(path));
    const QString locked = whyFolderIsLocked(folder);
    if (!locked.isEmpty())
        return failure(path, locked);

    // Which trash: the home one on the home volume, else the volume's own. Without a home folder
    // the home volume is unknown, and no trash is invented somewhere else.
    QByteArray trash = homeTrashDirectory();
    if (trash.isEmpty())
        return failure(path, QStringLiteral("there is no home folder to keep the trash in"));
    QByteArray pathInInfo;
    struct stat home {};
    const QByteArray homeData = parentOf(trash);
    const bool homeVolume = makeFolders(homeData) && ::stat(homeData.constData(), &home) == 0 &&
                            home.st_dev == file.st_dev &&
                            topDirectoryOf(folder, file.st_dev) == topDirectoryOf(realFolder(homeData), home.st_dev);
    if (homeVolume) {
        if (!prepareTrash(trash, true))
            return failure(path, QStringLiteral("the trash folder %1 cannot be made").arg(kpv::decodeFileName(trash)));
        pathInInfo = path;
    } else {
        const QByteArray top = topDirectoryOf(folder, file.st_dev);
        const QByteArray uid = QByteArray::number(qulonglong(::getuid()));
        const QByteArray shared = (top == "/" ? QByteArray() : top) + "/.Trash";
        if (isSafeSharedTrash(shared) && prepareTrash(shared + "/" + uid, true))
            trash = shared + "/" + uid;
        else if (prepareTrash((top == "/" ? QByteArray() : top) + "/.Trash-" + uid, true))
            trash = (top == "/" ? QByteArray() : top) + "/.Trash-" + uid;
        else
            return failure(path, QStringLiteral("its volume has no trash and one cannot be made there"));
        // Paths in a volume's trash are relative to the volume's top folder.
        const QByteArray realPath = folder + (folder == "/" ? "" : "/") + name;
        pathInInfo = top == "/" ? realPath.mid(1) : realPath.mid(top.size() + 1);
    }

    const QByteArray info = "[Trash Info]\nPath=" + pathInInfo.toPercentEncoding("/") +
                            "\nDeletionDate=" +
                            QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-ddTHH:mm:ss")).toLatin1() +
                            "\n";

    // The info file claims the name: created exclusively, so two trashings never share one.
    QByteArray entry;
    QByteArray infoPath;
    int fd = -1;
    for (int n = 1; n < 10000 && fd < 0; ++n) {
        entry = fittingName(name, n == 1 ? QByteArray() : " " + QByteArray::number(n));
        infoPath = trash + "/info/" + entry + kInfoSuffix;
        struct stat taken {};
        if (::lstat((trash + "/files/" + entry).constData(), &taken) == 0)
            continue;
        fd = ::open(infoPath.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
        if (fd < 0 && errno != EEXIST)
            return failure(path, QStringLiteral("the trash cannot be written: %1").arg(systemError(errno)));
    }
    if (fd < 0)
        return failure(path, QStringLiteral("the trash has no free name for it"));
    const bool written = writeAll(fd, info) && ::fsync(fd) == 0;
    const int writeError = errno;
    const bool closed = ::close(fd) == 0;
    struct stat check {};
    if (!written || !closed || ::stat(infoPath.constData(), &check) != 0 || check.st_size != info.size()) {
        ::unlink(infoPath.constData());
        return failure(path, QStringLiteral("the trash's record of it cannot be written: %1")
                                 .arg(systemError(written ? EIO : writeError)));
    }

    const QByteArray target = trash + "/files/" + entry;
    // Whatever another program put under the name since it was found free stays there.
    if (!renameWithoutReplacing(path, target)) {
        const int moveError = errno;
        ::unlink(infoPath.constData());
        return failure(path, moveError == EEXIST ? QStringLiteral("another file took its name in the trash meanwhile")
                                                 : systemError(moveError));
    }
    Result r;
    r.ok = true;
    r.trashedPath = kpv::decodeFileName(target);
    r.infoPath = kpv::decodeFileName(infoPath);
    r.nativeTrashedPath = target;
    r.nativeInfoPath = infoPath;
    return r;
}

} // namespace kpv
