#include "imageio/FileAccess.h"

#include "foundation/FileNames.h"

#include <QFile>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace kpv {

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
    if (path.isEmpty() || ::stat(kpv::encodeFileName(path).constData(), &st) != 0)
        return {};
    return identityOf(st);
}

namespace {

// Reads up to `maxBytes` of the regular file at `path`; `wholeOnly` refuses a longer file instead
// of cutting it.
bool readRegular(const QString& path, std::int64_t maxBytes, bool wholeOnly, QByteArray* out, bool* whole,
                 QString* error, FileIdentity* identity)
{
    const auto fail = [&](const QString& why) {
        if (error)
            *error = QStringLiteral("cannot read %1: %2").arg(path, why);
        return false;
    };
    // Non-blocking, so that opening a FIFO with no writer returns at once.
    const int fd = ::open(kpv::encodeFileName(path).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
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
    if (wholeOnly && st.st_size > maxBytes)
        return fail(QStringLiteral("the file is too large"));
    const std::int64_t wanted = std::min<std::int64_t>(st.st_size, std::max<std::int64_t>(maxBytes, 0));
    QByteArray data(qsizetype(wanted), Qt::Uninitialized);
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
    if (whole)
        *whole = wanted == st.st_size;
    *out = std::move(data);
    return true;
}

} // namespace

bool readRegularFile(const QString& path, std::int64_t maxBytes, QByteArray* out, QString* error, FileIdentity* identity)
{
    return readRegular(path, maxBytes, true, out, nullptr, error, identity);
}

bool readRegularFileHead(const QString& path, std::int64_t maxBytes, QByteArray* out, bool* whole, QString* error)
{
    return readRegular(path, maxBytes, false, out, whole, error, nullptr);
}

} // namespace kpv
