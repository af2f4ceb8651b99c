#include "Model/LMPathTools.h"

#include "foundation/FileHelpers.h"
#include "foundation/FileNames.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QStorageInfo>

#include <climits>
#include <fcntl.h>
#include <limits>
#include <sys/stat.h>

namespace {

// Taken when anything stands there, a dangling symbolic link included: writing through it
// would create a file somewhere else.
bool isTaken(const QString &path)
{
    // By the name's bytes, which need not be UTF-8.
    struct stat st {};
    return ::lstat(kpv::encodeFileName(path).constData(), &st) == 0;
}

QString joinPath(const QString &directory, const QString &name)
{
    if (directory.endsWith(u'/'))
        return directory + name;
    return directory + u'/' + name;
}

} // namespace

bool LMPathTools::isValidFileName(const QString &name)
{
    return !name.isEmpty() && name != u"." && name != u".." && !name.contains(u'/') && !name.contains(QChar(0));
}

QString LMPathTools::writableFilePathInDirectory(const QString &directory, const QString &fileName)
{
    if (directory.isEmpty() || !isValidFileName(fileName) || directory.contains(QChar(0)))
        return {};
    const QString direct = joinPath(directory, fileName);
    if (!isTaken(direct) && kpv::encodeFileName(fileName).size() <= qsizetype(NAME_MAX))
        return direct;

    // Split off the extension: the text after the last point, unless the point begins the name
    // (a hidden file) or ends it.
    QString base = fileName, extension;
    const qsizetype dot = fileName.lastIndexOf(u'.');
    if (dot > 0 && dot < fileName.size() - 1) {
        base = fileName.left(dot);
        extension = fileName.mid(dot + 1);
    }

    // A name that ends in "_N" continues its numbering.
    qint64 first = 1;
    const qsizetype underscore = base.lastIndexOf(u'_');
    if (underscore >= 0) {
        const QString tail = base.mid(underscore + 1);
        bool ok = false;
        const qint64 n = tail.toLongLong(&ok);
        if (ok && QString::number(n) == tail && n < std::numeric_limits<qint64>::max() / 2) {
            base = base.left(underscore);
            first = n + 1;
        }
    }

    // A name near the length limit makes room for its counter: its stem loses characters from
    // the end, a character at a time (a pair of surrogates together), until the whole name fits.
    auto candidate = [&](qint64 counter) {
        QString tail = u'_' + QString::number(counter);
        if (!extension.isEmpty())
            tail += u'.' + extension;
        const qsizetype room = qsizetype(NAME_MAX) - kpv::encodeFileName(tail).size();
        QString stem = base;
        while (!stem.isEmpty() && kpv::encodeFileName(stem).size() > room) {
            const qsizetype n = stem.size();
            stem.chop(n >= 2 && stem.at(n - 1).isLowSurrogate() && stem.at(n - 2).isHighSurrogate() ? 2 : 1);
        }
        return stem.isEmpty() ? QString() : joinPath(directory, stem + tail);
    };

    // Passes of randomly many candidates, each pass starting 200 above the previous one, so that
    // a folder crowded with numbered names is not searched one by one forever.
    QRandomGenerator *rng = QRandomGenerator::global();
    const int passes = int(rng->bounded(100)) + 100;
    for (int pass = 0; pass < passes; ++pass) {
        const int count = pass == 0 ? int(rng->bounded(100)) + 100 : int(rng->bounded(50)) + 50;
        const qint64 start = first + qint64(pass) * 200;
        for (int i = 0; i < count; ++i) {
            const QString path = candidate(start + i);
            if (path.isEmpty())
                return {};
            if (!isTaken(path))
                return path;
        }
    }
    return {};
}

void LMPathTools::removeAllFilesUnderDirectory(const QString &directory)
{
    if (directory.isEmpty())
        return;
    const QDir dir(directory);
    const QFileInfoList entries = dir.entryInfoList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::System);
    for (const QFileInfo &entry : entries) {
        if (entry.fileName().startsWith(u'.'))
            continue;
        if (entry.isDir() && !entry.isSymLink())
            QDir(entry.absoluteFilePath()).removeRecursively();
        else
            QFile::remove(entry.absoluteFilePath());
    }
}

QDateTime LMPathTools::fileCreationDate(const QString &filePath)
{
    if (filePath.isEmpty())
        return {};
    struct statx st {};
    if (::statx(AT_FDCWD, kpv::encodeFileName(filePath).constData(), 0, STATX_BTIME | STATX_MTIME, &st) != 0)
        return {};
    const statx_timestamp &t = (st.stx_mask & STATX_BTIME) ? st.stx_btime : st.stx_mtime;
    if (!(st.stx_mask & (STATX_BTIME | STATX_MTIME)))
        return {};
    return QDateTime::fromMSecsSinceEpoch(kpv::fileTimeMsecs(qint64(t.tv_sec), long(t.tv_nsec)));
}

bool LMPathTools::isFileOnLocalDisk(const QString &filePath)
{
    if (filePath.isEmpty())
        return false;
    const QFileInfo info(filePath);
    if (!info.exists())
        return false;
    const QStorageInfo storage(info.absoluteFilePath());
    if (!storage.isValid())
        return false;
    const QString root = storage.rootPath();
    for (const char *removable : {"/media/", "/run/media/", "/mnt/"}) {
        if (root.startsWith(QLatin1String(removable)) || root == QLatin1String(removable).chopped(1))
            return false;
    }
    const QByteArray type = storage.fileSystemType().toLower();
    for (const char *network : {"nfs", "nfs4", "cifs", "smb3", "smbfs", "fuse.sshfs", "sshfs", "9p", "afs", "ceph",
                                "glusterfs", "fuse.rclone", "davfs", "fuse.davfs2"}) {
        if (type == network)
            return false;
    }
    return true;
}

QString LMPathTools::userDataDirectoryWithSubDir(const QString &subDir)
{
    const QString base = kpv::dataDirectory();
    if (base.isEmpty())
        return {};
    if (subDir.isEmpty())
        return base;
    if (subDir.startsWith(u'/') || subDir.contains(QChar(0)))
        return {};
    for (const QString &part : subDir.split(u'/', Qt::SkipEmptyParts)) {
        if (part == u"." || part == u"..")
            return {};
    }
    const QString path = joinPath(base, subDir);
    const QFileInfo info(path);
    if (info.exists())
        return info.isDir() ? path : QString();
    return QDir().mkpath(path) ? path : QString();
}

bool LMPathTools::isPath(const QString &path, const QString &hasPrefix)
{
    if (!path.startsWith(hasPrefix, Qt::CaseSensitive))
        return false;
    if (path.size() == hasPrefix.size())
        return true;
    if (hasPrefix == u"/")
        return true;
    return path[hasPrefix.size()] == u'/';
}
