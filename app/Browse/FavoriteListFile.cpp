#include "Browse/FavoriteListFile.h"

#include "foundation/FileHelpers.h"
#include "foundation/FileNames.h"
#include "foundation/FileReplace.h"

#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSet>

#include <algorithm>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace {
const QString kListKey = QStringLiteral("favorites");
const QString kVersionKey = QStringLiteral("version");
constexpr int kVersion = 1;

const QString kBytesKey = QStringLiteral("bytes");

// The list as far as it was whole: the text before `damageAt`, cut after an entry and closed.
// Only the last few entries are tried as the end, so a large file costs a few parses at most.
QJsonDocument closedBeforeDamage(const QByteArray& bytes, qsizetype damageAt)
{
    constexpr int kTries = 8;
    QByteArray head = bytes.left(std::max<qsizetype>(damageAt, 0));
    for (int attempt = 0; attempt < kTries && !head.isEmpty(); ++attempt) {
        // Damage inside the list, or after it (the list then already closed).
        for (const char* close : {"]}", "}"}) {
            QJsonParseError error{};
            const QJsonDocument doc = QJsonDocument::fromJson(head.trimmed() + close, &error);
            if (error.error == QJsonParseError::NoError)
                return doc;
        }
        head.truncate(std::max<qsizetype>(head.lastIndexOf(','), 0));
    }
    return {};
}

bool isUsablePath(const QString& path)
{
    return !path.isEmpty() && path.size() <= FavoriteListFile::kMaxPathLength && path.startsWith(u'/') &&
           !path.contains(QChar(u'\0')) && (path.isValidUtf16() || kpv::fileNameHasRawBytes(path));
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
        // A file cut short or damaged part way still holds the favourites written before the
        // damage: they are kept, and the error still says the file is not whole.
        const QJsonDocument before = closedBeforeDamage(bytes, parseError.offset);
        if (before.isObject())
            out = parseObject(before.object());
        out.error = QStringLiteral("the favourites file is not readable JSON (%1 at byte %2)")
                        .arg(parseError.errorString())
                        .arg(parseError.offset);
        return out;
    }
    if (!doc.isObject()) {
        out.error = QStringLiteral("the favourites file does not hold an object");
        return out;
    }
    return parseObject(doc.object());
}

FavoriteListFile::Contents FavoriteListFile::parseObject(const QJsonObject& root)
{
    Contents out;
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
        QString path = entry.isString() ? entry.toString() : QString();
        // A name that is not UTF-8 is kept as its bytes.
        if (entry.isObject()) {
            const QJsonValue bytes = entry.toObject().value(kBytesKey);
            if (bytes.isString()) {
                const QByteArray raw = QByteArray::fromBase64(bytes.toString().toLatin1());
                if (!raw.isEmpty() && raw.size() <= kMaxPathLength && !raw.contains('\0'))
                    path = kpv::decodeFileName(raw);
            }
        }
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
    for (const LMPathString& path : paths) {
        if (kpv::fileNameHasRawBytes(path.path()))
            list.append(QJsonObject{{kBytesKey, QString::fromLatin1(kpv::encodeFileName(path.path()).toBase64())}});
        else
            list.append(path.path());
    }
    return QJsonDocument(QJsonObject{{kVersionKey, kVersion}, {kListKey, list}}).toJson(QJsonDocument::Indented);
}

FavoriteListFile::Contents FavoriteListFile::read()
{
    Contents out = readFile();
    m_base = out.paths;
    return out;
}

FavoriteListFile::Contents FavoriteListFile::readFile()
{
    m_unreadable = false;
    QFile file(m_filePath);
    if (!file.exists())
        return {};
    Contents out;
    // Never waits on a pipe or a device put in the list's place: the viewer would not start.
    if (QString why; !kpv::openRegularFileToRead(m_filePath, &file, &why)) {
        out.error = QStringLiteral("the favourites file cannot be opened: %1").arg(why);
    } else if (file.size() > kMaxFileSize) {
        out.error = QStringLiteral("the favourites file is larger than %1 bytes").arg(kMaxFileSize);
    } else {
        out = parse(file.read(kMaxFileSize + 1));
    }
    m_unreadable = !out.error.isEmpty();
    return out;
}

QList<LMPathString> FavoriteListFile::merge(const QList<LMPathString>& base, const QList<LMPathString>& ours,
                                            const QList<LMPathString>& theirs)
{
    // Nobody else wrote: this viewer's list stands as it is, in its order.
    if (theirs == base)
        return ours;
    const QSet<LMPathString> before(base.begin(), base.end());
    const QSet<LMPathString> now(ours.begin(), ours.end());
    QList<LMPathString> merged;
    QSet<LMPathString> seen;
    // The file's list keeps its order, less what this viewer took out since it read it...
    for (const LMPathString& path : theirs) {
        if (before.contains(path) && !now.contains(path))
            continue;
        seen.insert(path);
        merged.append(path);
    }
    // ...and gains what this viewer added since, in this viewer's order.
    for (const LMPathString& path : ours) {
        if (!seen.contains(path) && !before.contains(path)) {
            seen.insert(path);
            merged.append(path);
        }
    }
    return merged;
}

bool FavoriteListFile::write(const QList<LMPathString>& paths, QString* error, QList<LMPathString>* written)
{
    // Another viewer of this user may save its own changes at the same moment: one at a time, and
    // each keeps the other's changes.
    // The lock is on the folder: the file itself is replaced by every save.
    const QByteArray lockPath = QFile::encodeName(QFileInfo(m_filePath).absolutePath());
    const int lock = ::open(lockPath.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (lock >= 0)
        ::flock(lock, LOCK_EX);
    const Contents onDisk = readFile();
    const QList<LMPathString> merged = m_unreadable ? paths : merge(m_base, paths, onDisk.paths);
    if (m_unreadable) {
        // Keep the damaged list for the user to look at; a failure here must not block saving.
        const QString aside = m_filePath + QStringLiteral(".corrupt");
        QFile::remove(aside);
        QFile::rename(m_filePath, aside);
    }
    kpv::FileReplaceOptions options;
    options.mode = 0600;
    const bool ok = kpv::replaceFileContents(m_filePath, serialize(merged), options, error);
    if (lock >= 0)
        ::close(lock);
    if (!ok)
        return false;
    m_unreadable = false;
    m_base = merged;
    if (written)
        *written = merged;
    return true;
}
