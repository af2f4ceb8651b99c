#include "foundation/FileNames.h"

#include <QByteArrayView>

#include <algorithm>
#include <cerrno>
#include <limits>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace kpv {

namespace {

constexpr char16_t kRawByteBase = 0xDC00;

bool isRawByte(char16_t c)
{
    return c >= 0xDC80 && c <= 0xDCFF;
}

// Length of the valid UTF-8 sequence at `p` (RFC 3629: no overlong forms, no surrogates, nothing
// above U+10FFFF), 0 when the byte there does not start one.
int validSequenceAt(const uchar* p, qsizetype left)
{
    const uchar b = p[0];
    if (b < 0x80)
        return 1;
    int length = 0;
    uchar low = 0x80, high = 0xBF;
    if (b >= 0xC2 && b <= 0xDF) {
        length = 2;
    } else if (b >= 0xE0 && b <= 0xEF) {
        length = 3;
        if (b == 0xE0)
            low = 0xA0;
        else if (b == 0xED)
            high = 0x9F;
    } else if (b >= 0xF0 && b <= 0xF4) {
        length = 4;
        if (b == 0xF0)
            low = 0x90;
        else if (b == 0xF4)
            high = 0x8F;
    } else {
        return 0;
    }
    if (left < length || p[1] < low || p[1] > high)
        return 0;
    for (int i = 2; i < length; ++i)
        if (p[i] < 0x80 || p[i] > 0xBF)
            return 0;
    return length;
}

} // namespace

QString decodeFileName(const QByteArray& bytes)
{
    if (QByteArrayView(bytes).isValidUtf8())
        return QString::fromUtf8(bytes);
    QString out;
    out.reserve(bytes.size());
    const auto* p = reinterpret_cast<const uchar*>(bytes.constData());
    const qsizetype n = bytes.size();
    for (qsizetype i = 0; i < n;) {
        const int length = validSequenceAt(p + i, n - i);
        if (length == 0) {
            out += QChar(char16_t(kRawByteBase + p[i]));
            ++i;
        } else {
            out += QString::fromUtf8(reinterpret_cast<const char*>(p + i), length);
            i += length;
        }
    }
    return out;
}

QByteArray encodeFileName(const QString& name)
{
    if (!fileNameHasRawBytes(name))
        return name.toUtf8();
    QByteArray out;
    out.reserve(name.size() * 2);
    qsizetype start = 0;
    for (qsizetype i = 0; i < name.size(); ++i) {
        const char16_t c = name.at(i).unicode();
        // A low surrogate after a high one is half of a real character.
        const bool paired = i > 0 && name.at(i - 1).isHighSurrogate();
        if (isRawByte(c) && !paired) {
            out += QStringView(name).mid(start, i - start).toUtf8();
            out += char(c - kRawByteBase);
            start = i + 1;
        }
    }
    out += QStringView(name).mid(start).toUtf8();
    return out;
}

bool fileNameHasRawBytes(const QString& name)
{
    for (qsizetype i = 0; i < name.size(); ++i)
        if (isRawByte(name.at(i).unicode()) && !(i > 0 && name.at(i - 1).isHighSurrogate()))
            return true;
    return false;
}

namespace {

// How a character that would upset the line it is shown in reads there: a line break, a tab or
// an escape in a window title, a status line, an alert or a log line shows as the escape a
// programmer writes for it (plain ASCII, which every font draws) instead of breaking, moving or
// colouring the text. Empty for a character shown as it is.
QString visibleControl(char16_t c)
{
    switch (c) {
    case u'\t':
        return QStringLiteral("\\t");
    case u'\n':
        return QStringLiteral("\\n");
    case u'\r':
        return QStringLiteral("\\r");
    default:
        break;
    }
    if (c < 0x20 || c == 0x7F)
        return QStringLiteral("\\x") + QString::number(uint(c), 16).toUpper().rightJustified(2, u'0');
    // The other line breaks: the C1 controls (next line among them) and the line and paragraph
    // separators.
    // And the embeddings, overrides and isolates, which turn the order of what follows them: a name
    // "photo<RLO>gpj.sh" would otherwise read "photohs.jpg". (The plain direction marks stay: they
    // move no letters.)
    const bool turnsOrder = (c >= 0x202A && c <= 0x202E) || (c >= 0x2066 && c <= 0x2069);
    if ((c >= 0x80 && c <= 0x9F) || c == 0x2028 || c == 0x2029 || turnsOrder)
        return QStringLiteral("\\u") + QString::number(uint(c), 16).toUpper().rightJustified(4, u'0');
    return {};
}

} // namespace

QString displayFileName(const QString& name)
{
    // Most names show as they are: shared, not copied a character at a time.
    const auto plain = [&](qsizetype i) {
        const char16_t c = name.at(i).unicode();
        return !(isRawByte(c) && !(i > 0 && name.at(i - 1).isHighSurrogate())) && visibleControl(c).isEmpty();
    };
    qsizetype first = 0;
    while (first < name.size() && plain(first))
        ++first;
    if (first == name.size())
        return name;
    QString out;
    out.reserve(name.size());
    for (qsizetype i = 0; i < name.size(); ++i) {
        const char16_t c = name.at(i).unicode();
        if (isRawByte(c) && !(i > 0 && name.at(i - 1).isHighSurrogate())) {
            out += QChar(QChar::ReplacementCharacter);
        } else if (const QString escape = visibleControl(c); !escape.isEmpty()) {
            out += escape;
        } else {
            out += name.at(i);
        }
    }
    return out;
}

PathStatus pathStatus(const QString& path)
{
    PathStatus status;
    struct stat st {};
    if (path.isEmpty() || ::stat(encodeFileName(path).constData(), &st) != 0)
        return status;
    status.exists = true;
    status.isDirectory = S_ISDIR(st.st_mode);
    status.isRegularFile = S_ISREG(st.st_mode);
    status.size = qint64(st.st_size);
    status.modified = QDateTime::fromMSecsSinceEpoch(fileTimeMsecs(qint64(st.st_mtim.tv_sec), st.st_mtim.tv_nsec));
    return status;
}

QString canonicalFileName(const QString& path)
{
    if (path.isEmpty())
        return {};
    char* resolved = ::realpath(encodeFileName(path).constData(), nullptr);
    const QString name = resolved ? decodeFileName(QByteArray(resolved)) : QString();
    std::free(resolved);
    return name;
}

qint64 fileTimeMsecs(qint64 seconds, long nanoseconds)
{
    constexpr qint64 kMaxSeconds = std::numeric_limits<qint64>::max() / 1000 - 1;
    return std::clamp(seconds, -kMaxSeconds, kMaxSeconds) * 1000 + nanoseconds / 1000000;
}

bool renameWithoutReplacing(const QByteArray& from, const QByteArray& to)
{
    if (::renameat2(AT_FDCWD, from.constData(), AT_FDCWD, to.constData(), RENAME_NOREPLACE) == 0)
        return true;
    if (errno != EINVAL && errno != ENOSYS && errno != ENOTSUP)
        return false;
    // A file system without the flag: a hard link refuses an existing name as well.
    struct stat st {};
    if (::lstat(from.constData(), &st) != 0)
        return false;
    if (S_ISDIR(st.st_mode)) {
        errno = ENOTSUP;
        return false;
    }
    if (::link(from.constData(), to.constData()) != 0)
        return false;
    ::unlink(from.constData());
    return true;
}

bool renameWithoutReplacing(const QString& from, const QString& to)
{
    return renameWithoutReplacing(encodeFileName(from), encodeFileName(to));
}

QString fileNameFromUrl(const QUrl& url)
{
    if (!url.isLocalFile())
        return {};
    const QByteArray bytes = QByteArray::fromPercentEncoding(url.path(QUrl::FullyEncoded).toLatin1());
    if (bytes.isEmpty())
        return url.toLocalFile();
    return decodeFileName(bytes);
}

QString absoluteFileName(const QString& path)
{
    if (path.startsWith(u'/'))
        return path;
    char* cwd = ::getcwd(nullptr, 0);
    const QString absolute = decodeFileName(QByteArray(cwd ? cwd : "/")) + u'/' + path;
    std::free(cwd);
    return absolute;
}

QUrl fileUrlFromName(const QString& path)
{
    if (path.isEmpty())
        return {};
    const QString absolute = absoluteFileName(path);
    if (!fileNameHasRawBytes(absolute))
        return QUrl::fromLocalFile(absolute);
    // The characters a path may hold unescaped in a URL (RFC 3986 pchar and '/'); every other
    // byte is escaped, so the URL is plain ASCII whatever the name holds.
    const QByteArray escaped = encodeFileName(absolute).toPercentEncoding("/!$&'()*+,;=:@~");
    return QUrl::fromEncoded(QByteArrayLiteral("file://") + escaped, QUrl::StrictMode);
}

QUrl portableFileUrl(const QUrl& url)
{
    if (!url.isLocalFile())
        return url;
    const QString name = url.toLocalFile();
    return fileNameHasRawBytes(name) ? fileUrlFromName(name) : url;
}

QStringList argumentsWithBytes(int argc, char** argv)
{
    QStringList args;
    for (int i = 0; i < argc; ++i)
        args << decodeFileName(QByteArray(argv[i]));
    return args;
}

} // namespace kpv
