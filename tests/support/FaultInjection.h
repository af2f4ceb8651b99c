#pragma once
// Failures a data-safety test brings about on purpose, each undone when its guard goes:
//   FileSizeLimit  every write past N bytes of a file fails (EFBIG), as on a full disk;
//   NoPermissionOverride  root loses its power to ignore file modes, so read-only folders and
//                         files refuse writes in root's hands too (CI runs as a normal user and
//                         needs none of it);
//   SmallTmpfs     a real full disk or a second volume: a 1 MiB tmpfs, mounted in a child that
//                  runWithOwnMounts (ChildProcess.h) gave a mount namespace of its own.
// Plus a checksum of a file's bytes, to prove a failure left the original alone.

#include "ChildProcess.h"
#include "FileSizeLimit.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QString>

#include <csignal>
#include <linux/capability.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace kpv::test {

inline QByteArray checksum(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return "missing";
    QCryptographicHash hash(QCryptographicHash::Sha256);
    hash.addData(&file);
    return hash.result().toHex();
}

// Names in a folder, for "nothing was left behind" checks.
inline QStringList entriesOf(const QString& folder)
{
    return QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDir::Name);
}

// Per thread, as capabilities are: the writes under test must run on the calling thread.
class NoPermissionOverride {
public:
    NoPermissionOverride()
    {
        m_header.version = _LINUX_CAPABILITY_VERSION_3;
        m_header.pid = 0;
        if (::syscall(SYS_capget, &m_header, m_saved) != 0)
            return;
        __user_cap_data_struct lowered[2] = {m_saved[0], m_saved[1]};
        lowered[0].effective &= ~((1u << CAP_DAC_OVERRIDE) | (1u << CAP_DAC_READ_SEARCH) | (1u << CAP_FOWNER));
        m_active = ::syscall(SYS_capset, &m_header, lowered) == 0;
    }
    ~NoPermissionOverride()
    {
        if (m_active)
            ::syscall(SYS_capset, &m_header, m_saved);
    }
    NoPermissionOverride(const NoPermissionOverride&) = delete;
    NoPermissionOverride& operator=(const NoPermissionOverride&) = delete;

private:
    __user_cap_header_struct m_header{};
    __user_cap_data_struct m_saved[2]{};
    bool m_active = false;
};

// Mounted over an empty folder; isMounted() tells whether this machine allowed it.
class SmallTmpfs {
public:
    // `flags` as mount(2) takes them (MS_RDONLY: a read-only volume); `more` adds tmpfs options
    // (",nr_inodes=1": a volume with no room for one more file or folder).
    explicit SmallTmpfs(const QString& folder, int kib = 1024, unsigned long flags = 0, const QByteArray& more = {})
        : m_folder(QFile::encodeName(folder))
    {
        const QByteArray options = "size=" + QByteArray::number(kib) + "k,mode=0777" + more;
        m_mounted = ::mount("tmpfs", m_folder.constData(), "tmpfs", flags, options.constData()) == 0;
    }
    ~SmallTmpfs()
    {
        if (m_mounted)
            ::umount2(m_folder.constData(), MNT_DETACH);
    }
    bool isMounted() const { return m_mounted; }
    SmallTmpfs(const SmallTmpfs&) = delete;
    SmallTmpfs& operator=(const SmallTmpfs&) = delete;

private:
    QByteArray m_folder;
    bool m_mounted = false;
};

} // namespace kpv::test
