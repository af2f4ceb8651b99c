#include "desktop/MimeAppsList.h"

#include "foundation/FileReplace.h"
#include "imageio/FileAccess.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QList>

#include <functional>

namespace kpv::MimeAppsList {

namespace {

constexpr qint64 kMaxFileBytes = 4 * 1024 * 1024;
// Edits made again on a file that another program keeps writing, before giving up.
constexpr int kEditAttempts = 5;

std::function<void()>& beforeReplaceHook()
{
    static std::function<void()> hook;
    return hook;
}

QByteArray trimmed(const QByteArray& line)
{
    return line.trimmed();
}

bool isSection(const QByteArray& line)
{
    const QByteArray t = trimmed(line);
    return t.startsWith('[') && t.endsWith(']');
}

// The key of a "key=value" line, empty for comments, blank lines and sections.
QByteArray keyOf(const QByteArray& line)
{
    const QByteArray t = trimmed(line);
    if (t.isEmpty() || t.startsWith('#') || isSection(t))
        return {};
    const qsizetype eq = t.indexOf('=');
    return eq <= 0 ? QByteArray() : t.left(eq).trimmed();
}

QByteArray valueOf(const QByteArray& line)
{
    const QByteArray t = trimmed(line);
    return t.mid(t.indexOf('=') + 1).trimmed();
}

// Sets `key` in `section` with the value `make` gives from the old value (empty when none): the
// line is changed where it stands, added at the end of the section, or a new section is added.
void setKey(QList<QByteArray>* lines, const QByteArray& section, const QByteArray& key,
            const std::function<QByteArray(const QByteArray&)>& make)
{
    qsizetype start = -1;
    for (qsizetype i = 0; i < lines->size(); ++i) {
        if (trimmed(lines->at(i)) == '[' + section + ']') {
            start = i;
            break;
        }
    }
    if (start < 0) {
        if (!lines->isEmpty() && !trimmed(lines->last()).isEmpty())
            lines->append(QByteArray());
        lines->append('[' + section + ']');
        lines->append(key + '=' + make({}));
        return;
    }
    qsizetype end = start + 1;
    while (end < lines->size() && !isSection(lines->at(end)))
        ++end;
    for (qsizetype i = start + 1; i < end; ++i) {
        if (keyOf(lines->at(i)) == key) {
            (*lines)[i] = key + '=' + make(valueOf(lines->at(i)));
            return;
        }
    }
    // After the section's last entry, before the blank lines and comments that lead to the next.
    qsizetype at = end;
    while (at > start + 1 && (trimmed(lines->at(at - 1)).isEmpty() || trimmed(lines->at(at - 1)).startsWith('#')))
        --at;
    lines->insert(at, key + '=' + make({}));
}

} // namespace

QString userFilePath()
{
    QString base = qEnvironmentVariable("XDG_CONFIG_HOME");
    if (!base.startsWith(u'/'))
        base = QDir::homePath() + QStringLiteral("/.config");
    return base + QStringLiteral("/mimeapps.list");
}

QStringList userDesktopFilePaths()
{
    const QString folder = QFileInfo(userFilePath()).absolutePath();
    QStringList paths;
    for (const QString& desktop : qEnvironmentVariable("XDG_CURRENT_DESKTOP").split(u':', Qt::SkipEmptyParts)) {
        // A name that could leave the folder names no list of it.
        if (desktop.contains(u'/') || desktop.startsWith(u'.'))
            continue;
        const QString path = folder + u'/' + desktop.toLower() + QStringLiteral("-mimeapps.list");
        if (QFileInfo(path).isFile() && !paths.contains(path))
            paths << path;
    }
    return paths;
}

QByteArray withDefault(const QByteArray& text, const QString& mimeType, const QString& applicationId, ListKind kind)
{
    QList<QByteArray> lines = text.split('\n');
    const bool endedWithNewline = text.endsWith('\n');
    if (endedWithNewline)
        lines.removeLast();
    const QByteArray key = mimeType.toUtf8();
    const QByteArray app = applicationId.toUtf8();
    setKey(&lines, "Default Applications", key, [&](const QByteArray&) { return app + ';'; });
    if (kind == ListKind::User)
        setKey(&lines, "Added Associations", key, [&](const QByteArray& old) {
            QByteArray value = app + ';';
            for (const QByteArray& other : old.split(';'))
                if (!other.trimmed().isEmpty() && other.trimmed() != app)
                    value += other.trimmed() + ';';
            return value;
        });
    return lines.join('\n') + '\n';
}

bool setDefault(const QString& filePath, const QString& mimeType, const QString& applicationId, QString* error,
                ListKind kind)
{
    if (mimeType.isEmpty() || applicationId.isEmpty() || mimeType.contains(u'\n') || mimeType.contains(u'=') ||
        applicationId.contains(u'\n') || applicationId.contains(u';')) {
        if (error)
            *error = QStringLiteral("no usable type or program was given");
        return false;
    }
    QDir().mkpath(QFileInfo(filePath).absolutePath());
    for (int attempt = 0; attempt < kEditAttempts; ++attempt) {
        QByteArray text;
        FileIdentity read;
        const QFileInfo info(filePath);
        const bool existed = info.exists();
        if (existed && !readRegularFile(filePath, kMaxFileBytes, &text, error, &read))
            return false;
        bool changed = false;
        FileReplaceOptions options;
        // A file that appears meanwhile is kept too (a link with nothing behind it is followed).
        options.createOnly = !existed && !info.isSymLink();
        options.nameTaken = &changed;
        options.beforeRename = [&](const QString&, QString* why) {
            if (beforeReplaceHook())
                beforeReplaceHook()();
            if (!existed || fileIdentity(filePath) == read)
                return true;
            changed = true;
            *why = QStringLiteral("%1 was changed by another program").arg(filePath);
            return false;
        };
        if (replaceFileContents(filePath, withDefault(text, mimeType, applicationId, kind), options, error))
            return true;
        if (!changed)
            return false;
    }
    if (error)
        *error = QStringLiteral("%1 kept being changed by another program").arg(filePath);
    return false;
}

void setBeforeReplaceHookForTesting(std::function<void()> hook)
{
    beforeReplaceHook() = std::move(hook);
}

} // namespace kpv::MimeAppsList
