#include "Model/LMPathString.h"

#include "foundation/FileHelpers.h"

#include <QFileInfo>

namespace {

const QString kMemoryFilePath = QStringLiteral("$memoryfile$");

int sign(int v) { return v < 0 ? -1 : (v > 0 ? 1 : 0); }

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
    int r = kpv::naturalCompare(stringByDeletingLastPathComponent(m_path), stringByDeletingLastPathComponent(other.m_path));
    if (r == 0)
        r = kpv::naturalCompare(lastPathComponent(m_path), lastPathComponent(other.m_path));
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
    const QFileInfo info(m_path);
    if (!info.exists())
        return {};
    return info.lastModified();
}

LMPathString LMPathString::memoryFilePathString() { return LMPathString(kMemoryFilePath, false); }

bool LMPathString::isMemoryFilePathString() const { return m_path == kMemoryFilePath; }
