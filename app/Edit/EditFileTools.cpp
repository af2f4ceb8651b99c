#include "Edit/EditFileTools.h"

#include "foundation/FileNames.h"

#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>
#include <QStringList>
#include <sys/stat.h>

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

EditFileTools::FolderCheck EditFileTools::prepareDestinationFolder(const QString &path)
{
    if (path.isEmpty())
        return FolderCheck::Empty;
    const QFileInfo info(path);
    if (info.exists() || info.isSymLink()) {
        if (!info.isDir())
            return FolderCheck::NotUsable;
        return info.isWritable() ? FolderCheck::Ready : FolderCheck::NotUsable;
    }
    if (!QDir().mkpath(path))
        return FolderCheck::NotUsable;
    return QFileInfo(path).isWritable() ? FolderCheck::Ready : FolderCheck::NotUsable;
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
