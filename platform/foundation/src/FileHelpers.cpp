#include "foundation/FileHelpers.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <mutex>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace kpv {

namespace {

constexpr const char* kAppFolder = "kestrane-viewer";

QString envPath(const char* name)
{
    const QByteArray value = qgetenv(name);
    // The XDG rules ignore relative paths.
    if (value.isEmpty() || value.at(0) != '/') {
        return {};
    }
    return QString::fromLocal8Bit(value);
}

QString homeSub(const char* sub)
{
    return QDir::homePath() + QLatin1Char('/') + QLatin1String(sub);
}

QString appFolderIn(const QString& base, bool privateFolder)
{
    const QString path = base + QLatin1Char('/') + QLatin1String(kAppFolder);
    QDir().mkpath(path);
    if (privateFolder) {
        ::chmod(QFile::encodeName(path).constData(), 0700);
    }
    return path;
}

std::mutex g_tempMutex;
QString g_tempDir;
bool g_tempTried = false;

} // namespace

QString configDirectory()
{
    QString base = envPath("XDG_CONFIG_HOME");
    return appFolderIn(base.isEmpty() ? homeSub(".config") : base, true);
}

QString dataDirectory()
{
    QString base = envPath("XDG_DATA_HOME");
    return appFolderIn(base.isEmpty() ? homeSub(".local/share") : base, false);
}

QString cacheDirectory()
{
    QString base = envPath("XDG_CACHE_HOME");
    return appFolderIn(base.isEmpty() ? homeSub(".cache") : base, false);
}

QString temporaryDirectory()
{
    std::lock_guard lock(g_tempMutex);
    if (!g_tempTried) {
        g_tempTried = true;
        QString base = envPath("TMPDIR");
        if (base.isEmpty() || !QFileInfo(base).isDir()) {
            base = QStringLiteral("/tmp");
        }
        QByteArray templ = QFile::encodeName(base + QLatin1String("/kestrane-viewer-XXXXXX"));
        std::vector<char> buffer(templ.constData(), templ.constData() + templ.size() + 1);
        // mkdtemp makes the folder with mode 0700, under a name nobody could have guessed.
        if (::mkdtemp(buffer.data()) != nullptr) {
            g_tempDir = QFile::decodeName(buffer.data());
        }
    }
    return g_tempDir;
}

void removeTemporaryDirectory()
{
    std::lock_guard lock(g_tempMutex);
    if (!g_tempDir.isEmpty()) {
        QDir(g_tempDir).removeRecursively();
        g_tempDir.clear();
    }
    // A later request makes a fresh folder.
    g_tempTried = false;
}

namespace {

FileIdentity identityOf(const struct stat& st)
{
    FileIdentity id;
    id.device = std::uint64_t(st.st_dev);
    id.inode = std::uint64_t(st.st_ino);
    id.size = std::int64_t(st.st_size);
    id.modifiedNs = std::int64_t(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
    return id;
}

QString systemError(int code)
{
    return QString::fromLocal8Bit(std::strerror(code));
}

} // namespace

FileIdentity fileIdentity(const QString& path)
{
    struct stat st {};
    if (path.isEmpty() || ::stat(QFile::encodeName(path).constData(), &st) != 0)
        return {};
    return identityOf(st);
}

bool readRegularFile(const QString& path, std::int64_t maxBytes, QByteArray* out, QString* error, FileIdentity* identity)
{
    const auto fail = [&](const QString& why) {
        if (error)
            *error = QStringLiteral("cannot read %1: %2").arg(path, why);
        return false;
    };
    // Non-blocking, so that opening a FIFO with no writer returns at once.
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd < 0)
        return fail(systemError(errno));
    struct Closer {
        int fd;
        ~Closer() { ::close(fd); }
    } closer{fd};
    struct stat st {};
    if (::fstat(fd, &st) != 0)
        return fail(systemError(errno));
    if (!S_ISREG(st.st_mode))
        return fail(QStringLiteral("not a regular file"));
    if (st.st_size > maxBytes)
        return fail(QStringLiteral("the file is too large"));
    QByteArray data(qsizetype(st.st_size), Qt::Uninitialized);
    qsizetype done = 0;
    while (done < data.size()) {
        const ssize_t n = ::read(fd, data.data() + done, size_t(data.size() - done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return fail(systemError(errno));
        if (n == 0)
            break;
        done += n;
    }
    if (done != data.size())
        return fail(QStringLiteral("the file became shorter while it was read"));
    if (identity)
        *identity = identityOf(st);
    *out = std::move(data);
    return true;
}

int naturalCompare(QStringView a, QStringView b)
{
    qsizetype i = 0;
    qsizetype j = 0;
    int tieBreak = 0; // from runs equal in value but not in leading zeros
    while (i < a.size() && j < b.size()) {
        const QChar ca = a[i];
        const QChar cb = b[j];
        if (ca.isDigit() && cb.isDigit()) {
            qsizetype ai = i;
            qsizetype bj = j;
            while (ai < a.size() && a[ai].isDigit() && a[ai].digitValue() == 0) ++ai;
            while (bj < b.size() && b[bj].isDigit() && b[bj].digitValue() == 0) ++bj;
            qsizetype ae = ai;
            qsizetype be = bj;
            while (ae < a.size() && a[ae].isDigit()) ++ae;
            while (be < b.size() && b[be].isDigit()) ++be;
            // Values of any length: more significant digits means larger.
            if (ae - ai != be - bj) {
                return ae - ai < be - bj ? -1 : 1;
            }
            for (qsizetype k = 0; k < ae - ai; ++k) {
                const int da = a[ai + k].digitValue();
                const int db = b[bj + k].digitValue();
                if (da != db) {
                    return da < db ? -1 : 1;
                }
            }
            if (tieBreak == 0 && (ae - i) != (be - j)) {
                tieBreak = (ae - i) < (be - j) ? -1 : 1;
            }
            i = ae;
            j = be;
            continue;
        }
        const char32_t fa = ca.toCaseFolded().unicode();
        const char32_t fb = cb.toCaseFolded().unicode();
        if (fa != fb) {
            return fa < fb ? -1 : 1;
        }
        ++i;
        ++j;
    }
    if (i < a.size()) {
        return 1;
    }
    if (j < b.size()) {
        return -1;
    }
    return tieBreak;
}

} // namespace kpv
