#include "Model/LMPathString.h"

#include "foundation/FileHelpers.h"
#include "foundation/FileNames.h"

#include <QFileInfo>
#include <QSet>

namespace {

const QString kMemoryFilePath = QStringLiteral("$memoryfile$");

int sign(int v) { return v < 0 ? -1 : (v > 0 ? 1 : 0); }

// Views of the parent folder and the last component of a path, without copying (sorting compares
// millions of pairs). Same rules as the QString forms below.
void splitPath(const QString &path, QStringView *parent, QStringView *name)
{
    static const QString root = QStringLiteral("/");
    const QStringView all(path);
    qsizetype end = all.size();
    while (end > 1 && all[end - 1] == u'/')
        --end;
    if (end <= 1) {
        const bool isRoot = end == 1 && all[0] == u'/';
        *parent = isRoot ? QStringView(root) : QStringView();
        *name = isRoot ? QStringView(root) : all.left(end);
        return;
    }
    qsizetype slash = all.left(end).lastIndexOf(u'/');
    *name = all.mid(slash + 1, end - slash - 1);
    if (slash < 0) {
        *parent = QStringView();
        return;
    }
    while (slash > 0 && all[slash - 1] == u'/')
        --slash;
    *parent = slash == 0 ? QStringView(root) : all.left(slash);
}

} // namespace

LMPathString::LMPathString(const QString &path, bool isDirectory) : m_path(path), m_isDirectory(isDirectory) {}

QString LMPathString::lastPathComponent(const QString &path)
{
    qsizetype end = path.size();
    while (end > 1 && path[end - 1] == u'/')
        --end;
    if (end == 1 && path[0] == u'/')
        return QStringLiteral("/");
    const qsizetype slash = path.lastIndexOf(u'/', end - 1);
    return path.mid(slash + 1, end - slash - 1);
}

QStringList LMPathString::foldersHolding(const QStringList &paths, qsizetype limit)
{
    QStringList folders;
    QSet<QString> seen;
    for (const QString &path : paths) {
        if (folders.size() >= limit)
            break;
        const QString folder = stringByDeletingLastPathComponent(path);
        if (!folder.isEmpty() && !seen.contains(folder)) {
            seen.insert(folder);
            folders.append(folder);
        }
    }
    return folders;
}

QString LMPathString::stringByDeletingLastPathComponent(const QString &path)
{
    qsizetype end = path.size();
    while (end > 1 && path[end - 1] == u'/')
        --end;
    if (end <= 1)
        return (end == 1 && path[0] == u'/') ? QStringLiteral("/") : QString();
    qsizetype slash = path.lastIndexOf(u'/', end - 1);
    if (slash < 0)
        return QString();
    while (slash > 0 && path[slash - 1] == u'/')
        --slash;
    return slash == 0 ? QStringLiteral("/") : path.left(slash);
}

int LMPathString::compare(const LMPathString &other) const
{
    QStringView parentA, nameA, parentB, nameB;
    splitPath(m_path, &parentA, &nameA);
    splitPath(other.m_path, &parentB, &nameB);
    int r = kpv::naturalCompare(parentA, parentB);
    if (r == 0)
        r = kpv::naturalCompare(nameA, nameB);
    if (r == 0)
        r = m_path.compare(other.m_path, Qt::CaseSensitive);
    return sign(r);
}

QUrl LMPathString::filePathURL() const
{
    QString p = m_path;
    if (m_isDirectory && !p.endsWith(u'/'))
        p += u'/';
    return QUrl::fromLocalFile(p);
}

LMPathString LMPathString::parentDirectory() const
{
    return LMPathString(stringByDeletingLastPathComponent(m_path), true);
}

QDateTime LMPathString::dateModified() const
{
    if (m_path.isEmpty() || isMemoryFilePathString())
        return {};
    return kpv::pathStatus(m_path).modified;
}

LMPathString LMPathString::memoryFilePathString() { return LMPathString(kMemoryFilePath, false); }

bool LMPathString::isMemoryFilePathString() const { return m_path == kMemoryFilePath; }
