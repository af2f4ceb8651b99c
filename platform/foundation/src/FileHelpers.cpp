#include "foundation/FileHelpers.h"
#include "foundation/FileReplace.h"

#include "foundation/FileNames.h"

#include "MFileReplace.h"

#include <algorithm>

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#include <string>
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

QString appFolderPath(const char* env, const char* sub)
{
    const QString base = envPath(env);
    return (base.isEmpty() ? homeSub(sub) : base) + QLatin1Char('/') + QLatin1String(kAppFolder);
}

QString appFolderIn(const QString& base, bool privateFolder)
{
    const QString path = base + QLatin1Char('/') + QLatin1String(kAppFolder);
    QDir().mkpath(path);
    // Closed to other users; what the owner may do stays the owner's choice: a settings folder the
    // user made read-only stays read-only, and the save that cannot be made is told.
    struct stat st {};
    if (privateFolder && ::stat(QFile::encodeName(path).constData(), &st) == 0 && (st.st_mode & 077) != 0) {
        ::chmod(QFile::encodeName(path).constData(), st.st_mode & 0700);
    }
    return path;
}

std::mutex g_tempMutex;
QString g_tempDir;
bool g_tempTried = false;
int g_tempHold = -1;

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
            // Marked for the life of the process: a later start removes it if this one is killed.
            g_tempHold = holdTemporaryFolder(g_tempDir);
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
        if (g_tempHold >= 0)
            ::close(g_tempHold);
        g_tempHold = -1;
    }
    // A later request makes a fresh folder.
    g_tempTried = false;
}

int holdTemporaryFolder(const QString& folder)
{
    // The mark takes its name only once it is locked: a start that clears stale folders at this
    // moment must never find it unlocked and take the folder for a dead run's.
    const QByteArray mark = encodeFileName(folder + QStringLiteral("/.in-use"));
    const QByteArray fresh = mark + ".new";
    const int fd = ::open(fresh.constData(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0)
        return -1;
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0 || ::rename(fresh.constData(), mark.constData()) != 0) {
        ::unlink(fresh.constData());
        ::close(fd);
        return -1;
    }
    return fd;
}

int removeStaleTemporaryFolders(const QString& parent, const QString& prefix)
{
    int removed = 0;
    const QDir dir(parent);
    const QStringList names = dir.entryList({prefix + QStringLiteral("??????")}, QDir::Dirs | QDir::Hidden |
                                                                                     QDir::NoDotAndDotDot);
    for (const QString& name : names) {
        const QString folder = dir.filePath(name);
        struct stat st {};
        if (::lstat(encodeFileName(folder).constData(), &st) != 0 || !S_ISDIR(st.st_mode) ||
            st.st_uid != ::geteuid())
            continue;
        const QByteArray mark = encodeFileName(folder + QStringLiteral("/.in-use"));
        const int fd = ::open(mark.constData(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
        if (fd < 0)
            continue;
        // Free only when the run that made it has ended.
        const bool stale = ::flock(fd, LOCK_EX | LOCK_NB) == 0;
        if (stale && QDir(folder).removeRecursively())
            ++removed;
        ::close(fd);
    }
    return removed;
}

int removeStaleTemporaryFiles(const QString& folder)
{
    return folder.isEmpty() ? 0 : MFileRemoveStaleTemporaries(encodeFileName(folder).toStdString());
}

bool openRegularFileToRead(const QString& path, QFile* file, QString* why)
{
    const int fd = ::open(encodeFileName(path).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd < 0) {
        if (why)
            *why = QString::fromLocal8Bit(std::strerror(errno));
        return false;
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        if (why)
            *why = QStringLiteral("it is not a regular file");
        return false;
    }
    if (!file->open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
        ::close(fd);
        if (why)
            *why = file->errorString();
        return false;
    }
    return true;
}

bool copyFileToNewName(const QString& from, const QString& to, bool* nameTaken, QString* error, bool* attributesLeftOut,
                       const std::function<bool()>& stop)
{
    if (nameTaken)
        *nameTaken = false;
    if (attributesLeftOut)
        *attributesLeftOut = false;
    const auto fail = [error](const QString& what, int err) {
        if (error)
            *error = QStringLiteral("%1: %2").arg(what, QString::fromLocal8Bit(std::strerror(err)));
        return false;
    };
    // Never blocks on a pipe or device named like a photo.
    const int in = ::open(encodeFileName(from).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (in < 0)
        return fail(QStringLiteral("cannot read %1").arg(displayFileName(from)), errno);
    struct stat st {};
    if (::fstat(in, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(in);
        if (error)
            *error = QStringLiteral("cannot read %1: it is not a regular file").arg(displayFileName(from));
        return false;
    }
    std::string temp;
    const QByteArray target = encodeFileName(to);
    // The copy is no more open to others than the photo: a private one stays private.
    const int out = MFileCreateBeside(target.toStdString(), st.st_mode & 0777, &temp);
    if (out < 0) {
        const int err = errno;
        ::close(in);
        return fail(QStringLiteral("cannot write %1").arg(displayFileName(to)), err);
    }
    std::vector<char> buffer(1 << 20);
    bool ok = true;
    bool writeFailed = false;
    bool stopped = false;
    int err = 0;
    for (;;) {
        // A large photo on a slow disk takes long: whoever waits for the copy to end is not kept
        // waiting for the rest of it.
        if (stop && stop()) {
            ok = false;
            stopped = true;
            break;
        }
        const ssize_t n = ::read(in, buffer.data(), buffer.size());
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            ok = n == 0;
            err = errno;
            break;
        }
        if (!MFileWriteAll(out, buffer.data(), size_t(n))) {
            ok = false;
            writeFailed = true;
            err = errno;
            break;
        }
    }
    ::close(in);
    // An exact copy keeps the tags and comments too.
    if (ok && !copyUserAttributes(from, out) && attributesLeftOut)
        *attributesLeftOut = true;
    if (!ok) {
        ::close(out);
        ::unlink(temp.c_str());
        if (stopped) {
            if (error)
                *error = QStringLiteral("the copy of %1 was stopped").arg(displayFileName(from));
            return false;
        }
        // Which side failed matters to the user: a full or failing destination is not a bad photo.
        return fail(writeFailed ? QStringLiteral("cannot write %1").arg(displayFileName(to))
                                : QStringLiteral("cannot read %1").arg(displayFileName(from)),
                    err);
    }
    // A full disk can show only when the data reaches it.
    if (!MFileSyncAndClose(out)) {
        err = errno;
        ::unlink(temp.c_str());
        return fail(QStringLiteral("cannot write %1").arg(displayFileName(to)), err);
    }
    if (!renameWithoutReplacing(QByteArray::fromStdString(temp), target)) {
        err = errno;
        ::unlink(temp.c_str());
        if (err == EEXIST && nameTaken)
            *nameTaken = true;
        return fail(QStringLiteral("cannot write %1").arg(displayFileName(to)), err);
    }
    MFileSyncFolderOf(target.toStdString());
    return true;
}

int removeStaleTemporaryFilesOfOwnFolders(const QStringList& more)
{
    int removed = 0;
    QStringList folders{appFolderPath("XDG_CONFIG_HOME", ".config"), appFolderPath("XDG_DATA_HOME", ".local/share"),
                        appFolderPath("XDG_CACHE_HOME", ".cache")};
    folders += more;
    folders.removeDuplicates();
    for (const QString& folder : std::as_const(folders))
        removed += removeStaleTemporaryFiles(folder);
    return removed;
}

namespace {

// The key of one character outside a digit run: a decimal digit of any script stands for its ASCII
// digit, everything else for its case-folded self. Digits of every script then sit in one place
// among the other characters, so that "a1" and "a\u0661" (equal by value) relate to "ab" alike.
char32_t characterKey(QChar c)
{
    return c.isDigit() ? char32_t(U'0' + c.digitValue()) : char32_t(c.toCaseFolded().unicode());
}

} // namespace

int naturalCompare(QStringView a, QStringView b)
{
    // Three keys, each deciding only when the ones before are equal: the characters and run values,
    // then the lengths of the first runs that differ in leading zeros, then the code points of the
    // digits (so that digits of different scripts with equal values still have a fixed order).
    qsizetype i = 0;
    qsizetype j = 0;
    int tieBreak = 0;
    int scriptBreak = 0;
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
            if (scriptBreak == 0) {
                for (qsizetype k = 0; k < std::min(ae - i, be - j); ++k) {
                    const char16_t ua = a[i + k].unicode();
                    const char16_t ub = b[j + k].unicode();
                    if (ua != ub) {
                        scriptBreak = ua < ub ? -1 : 1;
                        break;
                    }
                }
            }
            i = ae;
            j = be;
            continue;
        }
        const char32_t fa = characterKey(ca);
        const char32_t fb = characterKey(cb);
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
    return tieBreak != 0 ? tieBreak : scriptBreak;
}

} // namespace kpv
