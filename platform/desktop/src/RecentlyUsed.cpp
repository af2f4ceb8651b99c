#include "desktop/RecentlyUsed.h"

#include "foundation/FileNames.h"

#include "foundation/FileReplace.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QUrl>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace kpv {

namespace {

// A list larger than this is not someone's recent files; it is not read into memory.
constexpr qint64 kMaxListBytes = 64 * 1024 * 1024;

QByteArray xmlEscaped(const QString& text)
{
    return text.toHtmlEscaped().replace(QLatin1Char('\''), QLatin1String("&apos;")).toUtf8();
}

QByteArray timeStamp(const QDateTime& when)
{
    return when.toUTC().toString(QStringLiteral("yyyy-MM-dd'T'HH:mm:ss.zzz'000Z'")).toLatin1();
}

QByteArray applicationElement(const RecentlyUsedApplication& app, const QByteArray& when, int count)
{
    return "          <bookmark:application name=\"" + xmlEscaped(app.name) + "\" exec=\"" + xmlEscaped(app.exec) +
           "\" modified=\"" + when + "\" count=\"" + QByteArray::number(count) + "\"/>\n";
}

QByteArray newBookmark(const QByteArray& href, const QString& mimeType, const RecentlyUsedApplication& app,
                       const QByteArray& when)
{
    return "  <bookmark href=\"" + href + "\" added=\"" + when + "\" modified=\"" + when + "\" visited=\"" + when +
           "\">\n"
           "    <info>\n"
           "      <metadata owner=\"http://freedesktop.org\">\n"
           "        <mime:mime-type type=\"" +
           xmlEscaped(mimeType) +
           "\"/>\n"
           "        <bookmark:applications>\n" +
           applicationElement(app, when, 1) +
           "        </bookmark:applications>\n"
           "      </metadata>\n"
           "    </info>\n"
           "  </bookmark>\n";
}

const QByteArray kEmptyList = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                              "<xbel version=\"1.0\"\n"
                              "      xmlns:bookmark=\"http://www.freedesktop.org/standards/desktop-bookmarks\"\n"
                              "      xmlns:mime=\"http://www.freedesktop.org/standards/shared-mime-info\"\n"
                              ">\n"
                              "</xbel>\n";

// Sets attribute `name` of the start tag `tag` to `value`, adding it when missing.
QByteArray withAttribute(QByteArray tag, const QByteArray& name, const QByteArray& value)
{
    const QRegularExpression re(QStringLiteral("(\\s%1=\")[^\"]*(\")").arg(QString::fromLatin1(name)));
    QString text = QString::fromUtf8(tag);
    const QRegularExpressionMatch m = re.match(text);
    if (m.hasMatch()) {
        text.replace(m.capturedStart(), m.capturedLength(), m.captured(1) + QString::fromLatin1(value) + m.captured(2));
        return text.toUtf8();
    }
    const int end = tag.endsWith("/>") ? tag.size() - 2 : tag.size() - 1;
    return tag.insert(end, " " + name + "=\"" + value + "\"");
}

// The edited entry for a file already listed: its times refreshed and this program's use counted.
QByteArray refreshedBookmark(QByteArray element, const RecentlyUsedApplication& app, const QByteArray& when)
{
    const int startEnd = element.indexOf('>');
    QByteArray start = element.left(startEnd + 1);
    start = withAttribute(withAttribute(start, "modified", when), "visited", when);
    element.replace(0, startEnd + 1, start);

    const QByteArray ours = "<bookmark:application name=\"" + xmlEscaped(app.name) + "\"";
    const int at = element.indexOf(ours);
    if (at >= 0) {
        const int tagEnd = element.indexOf('>', at);
        if (tagEnd < 0)
            return element;
        QByteArray tag = element.mid(at, tagEnd + 1 - at);
        const QRegularExpressionMatch count =
            QRegularExpression(QStringLiteral("\\scount=\"(\\d+)\"")).match(QString::fromUtf8(tag));
        const int next = count.hasMatch() ? count.captured(1).toInt() + 1 : 1;
        tag = withAttribute(withAttribute(tag, "modified", when), "count", QByteArray::number(next));
        element.replace(at, tagEnd + 1 - at, tag);
        return element;
    }
    const int close = element.indexOf("</bookmark:applications>");
    if (close >= 0) {
        const int lineStart = element.lastIndexOf('\n', close) + 1;
        element.insert(lineStart, applicationElement(app, when, 1));
    }
    return element;
}

// The bookmark element whose href is `href`: [start, end) in `list`, or start -1.
std::pair<qsizetype, qsizetype> findBookmark(const QByteArray& list, const QByteArray& href)
{
    const QByteArray needle = "href=\"" + href + "\"";
    qsizetype from = 0;
    while (true) {
        const qsizetype start = list.indexOf("<bookmark ", from);
        if (start < 0)
            return {-1, -1};
        const qsizetype tagEnd = list.indexOf('>', start);
        if (tagEnd < 0)
            return {-1, -1};
        const qsizetype close = list.at(tagEnd - 1) == '/' ? tagEnd + 1 : list.indexOf("</bookmark>", tagEnd);
        if (close < 0)
            return {-1, -1};
        const qsizetype end = list.at(tagEnd - 1) == '/' ? close : close + qsizetype(sizeof("</bookmark>") - 1);
        if (list.mid(start, tagEnd - start).contains(needle))
            return {start, end};
        from = end;
    }
}

} // namespace

QString recentlyUsedListPath()
{
    QString base = QFile::decodeName(qgetenv("XDG_DATA_HOME"));
    if (base.isEmpty() || !QDir::isAbsolutePath(base)) {
        const QString home = QDir::homePath();
        if (home.isEmpty() || !QDir::isAbsolutePath(home) || home == QLatin1String("/"))
            return {};
        base = home + QStringLiteral("/.local/share");
    }
    return base + QStringLiteral("/recently-used.xbel");
}

bool addToRecentlyUsed(const QString& listPath, const QString& filePath, const QString& mimeType,
                       const RecentlyUsedApplication& application, const QDateTime& now, QString* error)
{
    const auto fail = [error](const QString& why) {
        if (error)
            *error = why;
        return false;
    };
    if (listPath.isEmpty() || filePath.isEmpty())
        return fail(QStringLiteral("no list or no file"));
    const QString folder = QFileInfo(listPath).absolutePath();
    if (!QDir().mkpath(folder))
        return fail(QStringLiteral("cannot make the folder %1").arg(folder));

    // Copies of this program take turns. The lock file lives in the session's runtime folder,
    // so the user's data folder gains nothing but the list; it is left for the next turn. A
    // runtime folder that takes no file (read-only) leaves the lock beside the list, where every
    // copy of the session then looks for it, rather than the list unwritten.
    const QString runtime = QFile::decodeName(qgetenv("XDG_RUNTIME_DIR"));
    const QString lockName = QStringLiteral("kestrane-viewer-%1.lock")
                                 .arg(QString::fromLatin1(QCryptographicHash::hash(QFile::encodeName(QFileInfo(listPath).absoluteFilePath()),
                                                                                  QCryptographicHash::Sha1)
                                                             .toHex()
                                                             .left(16)));
    const QByteArray besideList = QFile::encodeName(listPath + QStringLiteral(".lock"));
    const bool inRuntime = runtime.startsWith(QLatin1Char('/')) && QFileInfo(runtime).isDir() &&
                           ::access(QFile::encodeName(runtime).constData(), W_OK | X_OK) == 0;
    QByteArray lockPath = inRuntime ? QFile::encodeName(runtime + QLatin1Char('/') + lockName) : besideList;
    int lock = ::open(lockPath.constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (lock < 0 && inRuntime && (errno == EROFS || errno == EACCES || errno == EPERM)) {
        lockPath = besideList;
        lock = ::open(lockPath.constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    }
    if (lock < 0)
        return fail(QStringLiteral("cannot lock %1: %2").arg(listPath, QString::fromLocal8Bit(std::strerror(errno))));
    struct Unlock {
        int fd;
        ~Unlock() { ::close(fd); }
    } unlock{lock};
    if (::flock(lock, LOCK_EX) != 0)
        return fail(QStringLiteral("cannot lock %1: %2").arg(listPath, QString::fromLocal8Bit(std::strerror(errno))));

    QByteArray list;
    QFile file(listPath);
    if (file.exists()) {
        if (!file.open(QIODevice::ReadOnly))
            return fail(QStringLiteral("cannot read %1: %2").arg(listPath, file.errorString()));
        if (file.size() > kMaxListBytes)
            return fail(QStringLiteral("%1 is too large to be a list of recent files").arg(listPath));
        list = file.readAll();
        file.close();
    }
    if (list.trimmed().isEmpty())
        list = kEmptyList;
    const qsizetype close = list.lastIndexOf("</xbel>");
    if (!list.contains("<xbel") || close < 0)
        return fail(QStringLiteral("%1 is not a list of recent files; it was left as it is").arg(listPath));

    // Escaped from the name's bytes: the entry names the very file, whatever its name holds.
    const QByteArray href = fileUrlFromName(filePath).toEncoded();
    const QByteArray hrefText = xmlEscaped(QString::fromLatin1(href));
    const QByteArray when = timeStamp(now);
    const auto [start, end] = findBookmark(list, hrefText);
    if (start >= 0) {
        list.replace(start, end - start, refreshedBookmark(list.mid(start, end - start), application, when));
    } else {
        const qsizetype lineStart = list.lastIndexOf('\n', close) + 1;
        const qsizetype at = list.mid(lineStart, close - lineStart).trimmed().isEmpty() ? lineStart : close;
        list.insert(at, newBookmark(hrefText, mimeType, application, when));
    }
    return replaceFileContents(listPath, list, {}, error);
}

} // namespace kpv
