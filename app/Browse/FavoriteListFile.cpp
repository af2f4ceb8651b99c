#include "Browse/FavoriteListFile.h"

#include "foundation/FileReplace.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSet>

namespace {
const QString kListKey = QStringLiteral("favorites");
const QString kVersionKey = QStringLiteral("version");
constexpr int kVersion = 1;

bool isUsablePath(const QString& path)
{
    return !path.isEmpty() && path.size() <= FavoriteListFile::kMaxPathLength && path.startsWith(u'/') &&
           !path.contains(QChar(u'\0')) && path.isValidUtf16();
}
} // namespace

FavoriteListFile::Contents FavoriteListFile::parse(const QByteArray& bytes)
{
    Contents out;
    if (bytes.size() > kMaxFileSize) {
        out.error = QStringLiteral("the favourites file is larger than %1 bytes").arg(kMaxFileSize);
        return out;
    }
    QJsonParseError parseError{};
    const QJsonDocument doc = QJsonDocument::fromJson(bytes, &parseError);
    if (parseError.error != QJsonParseError::NoError) {
        out.error = QStringLiteral("the favourites file is not readable JSON (%1 at byte %2)")
                        .arg(parseError.errorString())
                        .arg(parseError.offset);
        return out;
    }
    if (!doc.isObject()) {
        out.error = QStringLiteral("the favourites file does not hold an object");
        return out;
    }
    const QJsonObject root = doc.object();
    const QJsonValue version = root.value(kVersionKey);
    if (!version.isUndefined() && (!version.isDouble() || version.toDouble() != kVersion)) {
        out.error = QStringLiteral("the favourites file has a version this program does not know");
        return out;
    }
    const QJsonValue list = root.value(kListKey);
    if (!list.isArray()) {
        out.error = QStringLiteral("the favourites file holds no list of favourites");
        return out;
    }
    QSet<QString> seen;
    for (const QJsonValue& entry : list.toArray()) {
        const QString path = entry.isString() ? entry.toString() : QString();
        if (!isUsablePath(path) || seen.contains(path) || out.paths.size() >= kMaxEntries) {
            ++out.skipped;
            continue;
        }
        seen.insert(path);
        out.paths.append(LMPathString(path, false));
    }
    return out;
}

QByteArray FavoriteListFile::serialize(const QList<LMPathString>& paths)
{
    QJsonArray list;
    for (const LMPathString& path : paths)
        list.append(path.path());
    return QJsonDocument(QJsonObject{{kVersionKey, kVersion}, {kListKey, list}}).toJson(QJsonDocument::Indented);
}

FavoriteListFile::Contents FavoriteListFile::read()
{
    m_unreadable = false;
    QFile file(m_filePath);
    if (!file.exists())
        return {};
    Contents out;
    if (!file.open(QIODevice::ReadOnly)) {
        out.error = QStringLiteral("the favourites file cannot be opened: %1").arg(file.errorString());
    } else if (file.size() > kMaxFileSize) {
        out.error = QStringLiteral("the favourites file is larger than %1 bytes").arg(kMaxFileSize);
    } else {
        out = parse(file.read(kMaxFileSize + 1));
    }
    m_unreadable = !out.error.isEmpty();
    return out;
}

bool FavoriteListFile::write(const QList<LMPathString>& paths, QString* error)
{
    if (m_unreadable) {
        // Keep the damaged list for the user to look at; a failure here must not block saving.
        const QString aside = m_filePath + QStringLiteral(".corrupt");
        QFile::remove(aside);
        QFile::rename(m_filePath, aside);
    }
    kpv::FileReplaceOptions options;
    options.mode = 0600;
    if (!kpv::replaceFileContents(m_filePath, serialize(paths), options, error))
        return false;
    m_unreadable = false;
    return true;
}
