#include "Edit/EditFileTools.h"

#include "foundation/FileNames.h"

#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>
#include <QStringList>

#include <cerrno>
#include <climits>
#include <sys/stat.h>
#include <unistd.h>

bool EditFileTools::itemExistsAtPath(const QString &path)
{
    if (path.isEmpty())
        return false;
    // By the name's bytes, which need not be UTF-8; a dangling link counts as taken.
    struct stat st {};
    return ::lstat(kpv::encodeFileName(path).constData(), &st) == 0;
}

bool EditFileTools::isSameFolder(const QString &a, const QString &b)
{
    if (a.isEmpty() || b.isEmpty())
        return false;
    return QDir::cleanPath(a) == QDir::cleanPath(b);
}

QString EditFileTools::defaultDestFolderPath()
{
    const QStringList found = QStandardPaths::standardLocations(QStandardPaths::PicturesLocation);
    if (found.size() != 1)
        return QString();
    const QString resolved = QFileInfo(found.front()).canonicalFilePath();
    return resolved.isEmpty() ? found.front() : resolved;
}

namespace {

using FolderCheck = EditFileTools::FolderCheck;
using FolderFault = EditFileTools::FolderFault;
using FolderProblem = EditFileTools::FolderProblem;

bool isFolder(const QString &path)
{
    struct stat st {};
    return ::stat(kpv::encodeFileName(path).constData(), &st) == 0 && S_ISDIR(st.st_mode);
}

// "/a/b/c" gives "/a", "/a/b", "/a/b/c": each folder the path goes through.
QStringList pathsOnTheWay(const QString &path)
{
    QStringList out;
    QString prefix;
    const QStringList names = path.split(QLatin1Char('/'));
    for (qsizetype i = 0; i < names.size(); ++i) {
        if (i > 0)
            prefix += QLatin1Char('/');
        prefix += names[i];
        if (!names[i].isEmpty())
            out.append(prefix);
    }
    return out;
}

// The first name of the path longer than a name may be; empty when each fits (the whole path is
// too long).
QString overLongName(const QString &path)
{
    for (const QString &name : path.split(QLatin1Char('/')))
        if (kpv::encodeFileName(name).size() > NAME_MAX)
            return name;
    return QString();
}

// The first item on the way that is there but is not a folder (a dangling link included).
QString itemInTheWay(const QString &path)
{
    for (const QString &step : pathsOnTheWay(path))
        if (EditFileTools::itemExistsAtPath(step) && !isFolder(step))
            return step;
    return path;
}

FolderProblem problemFor(int error, const QString &path)
{
    switch (error) {
    case EACCES:
    case EPERM:
        return {FolderFault::NoPermission, QString(), error};
    case EROFS:
        return {FolderFault::ReadOnlyVolume, QString(), error};
    case ENAMETOOLONG:
        return {FolderFault::NameTooLong, overLongName(path), error};
    case ENOTDIR:
    case EEXIST:
        return {FolderFault::FileInPath, itemInTheWay(path), error};
    case ENOSPC:
    case EDQUOT:
        return {FolderFault::DiskFull, QString(), error};
    default:
        return {FolderFault::Other, QString(), error};
    }
}

// Makes each missing folder on the way, as mkdir -p does; 0, or the error of the one that failed.
int makeFolders(const QString &path)
{
    for (const QString &step : pathsOnTheWay(path)) {
        if (::mkdir(kpv::encodeFileName(step).constData(), 0777) == 0)
            continue;
        const int error = errno;
        if (error != EEXIST || !isFolder(step))
            return error;
    }
    return 0;
}

FolderCheck checkFolder(const QString &path, FolderProblem *problem, bool make)
{
    if (path.isEmpty())
        return FolderCheck::Empty;
    const auto refuse = [&](int error) {
        if (problem)
            *problem = problemFor(error, path);
        return FolderCheck::NotUsable;
    };
    const QByteArray native = kpv::encodeFileName(path);
    struct stat st {};
    if (::stat(native.constData(), &st) != 0) {
        const int error = errno;
        if (error != ENOENT || !make)
            return refuse(error);
        // Nothing is made on the way to a folder that could never be made.
        if (native.size() >= PATH_MAX || !overLongName(path).isEmpty())
            return refuse(ENAMETOOLONG);
        if (const int failed = makeFolders(path))
            return refuse(failed);
    } else if (!S_ISDIR(st.st_mode)) {
        return refuse(ENOTDIR);
    }
    // New files are made in it: it must take writes and let its entries be reached.
    if (::access(native.constData(), W_OK | X_OK) != 0)
        return refuse(errno);
    if (problem)
        *problem = FolderProblem();
    return FolderCheck::Ready;
}

} // namespace

EditFileTools::FolderCheck EditFileTools::prepareDestinationFolder(const QString &path, FolderProblem *problem)
{
    return checkFolder(path, problem, true);
}

EditFileTools::FolderCheck EditFileTools::checkExistingFolder(const QString &path, FolderProblem *problem)
{
    return checkFolder(path, problem, false);
}

QString EditFileTools::fileNameWithoutExtension(const QString &fileName)
{
    const qsizetype dot = fileName.lastIndexOf(QLatin1Char('.'));
    if (dot <= 0)
        return fileName;
    return fileName.left(dot);
}

QString EditFileTools::fileExtension(const QString &fileName)
{
    const qsizetype dot = fileName.lastIndexOf(QLatin1Char('.'));
    if (dot <= 0)
        return QString();
    return fileName.mid(dot + 1);
}
