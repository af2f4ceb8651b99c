#include "imageio/FileAccess.h"

#include "foundation/FileNames.h"

#include <QFile>

#include <algorithm>
#include <array>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <optional>
#include <vector>
#include <fcntl.h>
#include <sys/mman.h>
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
    id.modifiedSecs = std::int64_t(st.st_mtim.tv_sec);
    id.modifiedNsec = std::int64_t(st.st_mtim.tv_nsec);
    id.changedSecs = std::int64_t(st.st_ctim.tv_sec);
    id.changedNsec = std::int64_t(st.st_ctim.tv_nsec);
    return id;
}

QString systemError(int code)
{
    return QString::fromLocal8Bit(std::strerror(code));
}

// Closes a descriptor when it goes out of scope.
struct DescriptorCloser {
    int fd;
    ~DescriptorCloser() { ::close(fd); }
};

// Opens the regular file at `path` for reading and describes it in `st`; -1, with the reason in
// `why`, for anything else. Non-blocking, so that opening a FIFO with no writer returns at once.
int openRegularForReading(const QString& path, struct stat* st, QString* why)
{
    const int fd = ::open(kpv::encodeFileName(path).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd < 0) {
        *why = systemError(errno);
        return -1;
    }
    if (::fstat(fd, st) != 0) {
        *why = systemError(errno);
        ::close(fd);
        return -1;
    }
    if (!S_ISREG(st->st_mode)) {
        *why = QStringLiteral("not a regular file");
        ::close(fd);
        return -1;
    }
    return fd;
}

std::mutex g_observerMutex;
FileAccessObserver g_observer;

void notifyAccess(const QString& path, const char* kind)
{
    FileAccessObserver observer;
    {
        std::lock_guard lock(g_observerMutex);
        observer = g_observer;
    }
    if (observer)
        observer(path, kind);
}

} // namespace

void setFileAccessObserverForTesting(FileAccessObserver observer)
{
    std::lock_guard lock(g_observerMutex);
    g_observer = std::move(observer);
}

FileIdentity fileIdentity(const QString& path)
{
    struct stat st {};
    if (path.isEmpty() || ::stat(kpv::encodeFileName(path).constData(), &st) != 0)
        return {};
    return identityOf(st);
}

// ---- Mapped files ----
//
// A mapped file cut short by another program raises SIGBUS on the first touch of a page past its
// new end. The handler below looks the address up among the live mappings; one of ours gets a page
// of zeros mapped over the missing one and is marked, and the read goes on. Any other SIGBUS goes
// to the handler that was there before (by default it ends the process, as it would have).

namespace {

struct GuardSlot {
    std::atomic<std::uintptr_t> begin{0};
    std::atomic<std::uintptr_t> end{0};
    std::atomic<bool> cutShort{false};
};

// Mappings alive at once: one per file being read by a worker, and a few held by sources. A file
// that finds every slot taken is read into a buffer instead.
constexpr int kGuardSlots = 128;
std::array<GuardSlot, kGuardSlots> g_slots;
std::mutex g_slotMutex;
struct sigaction g_previousSigbus {};
std::uintptr_t g_pageSize = 4096;

void onSigbus(int signal, siginfo_t* info, void* context)
{
    const int savedErrno = errno;
    const auto address = reinterpret_cast<std::uintptr_t>(info ? info->si_addr : nullptr);
    for (GuardSlot& slot : g_slots) {
        const std::uintptr_t begin = slot.begin.load(std::memory_order_acquire);
        if (begin == 0 || address < begin || address >= slot.end.load(std::memory_order_acquire))
            continue;
        void* page = reinterpret_cast<void*>(address & ~(g_pageSize - 1));
        if (::mmap(page, g_pageSize, PROT_READ, MAP_PRIVATE | MAP_ANONYMOUS | MAP_FIXED, -1, 0) != MAP_FAILED) {
            slot.cutShort.store(true, std::memory_order_release);
            errno = savedErrno;
            return;
        }
        break;
    }
    errno = savedErrno;
    if ((g_previousSigbus.sa_flags & SA_SIGINFO) && g_previousSigbus.sa_sigaction) {
        g_previousSigbus.sa_sigaction(signal, info, context);
        return;
    }
    if (!(g_previousSigbus.sa_flags & SA_SIGINFO) && g_previousSigbus.sa_handler != SIG_DFL &&
        g_previousSigbus.sa_handler != SIG_IGN) {
        g_previousSigbus.sa_handler(signal);
        return;
    }
    // The default action: a fault repeats on return and then ends the process; a SIGBUS sent by
    // another process is raised again.
    struct sigaction fallback {};
    fallback.sa_handler = SIG_DFL;
    sigemptyset(&fallback.sa_mask);
    ::sigaction(signal, &fallback, nullptr);
    if (!info || info->si_code <= 0)
        ::raise(signal);
}

void installSigbusGuard()
{
    static std::once_flag once;
    std::call_once(once, [] {
        const long page = ::sysconf(_SC_PAGESIZE);
        if (page > 0)
            g_pageSize = std::uintptr_t(page);
        struct sigaction action {};
        action.sa_sigaction = onSigbus;
        action.sa_flags = SA_SIGINFO;
        sigemptyset(&action.sa_mask);
        ::sigaction(SIGBUS, &action, &g_previousSigbus);
    });
}

int takeGuardSlot(const void* begin, std::size_t length)
{
    std::lock_guard lock(g_slotMutex);
    for (int i = 0; i < kGuardSlots; ++i) {
        GuardSlot& slot = g_slots[size_t(i)];
        if (slot.begin.load(std::memory_order_relaxed) != 0)
            continue;
        slot.cutShort.store(false, std::memory_order_relaxed);
        slot.end.store(reinterpret_cast<std::uintptr_t>(begin) + length, std::memory_order_release);
        slot.begin.store(reinterpret_cast<std::uintptr_t>(begin), std::memory_order_release);
        return i;
    }
    return -1;
}

void releaseGuardSlot(int index)
{
    std::lock_guard lock(g_slotMutex);
    GuardSlot& slot = g_slots[size_t(index)];
    slot.begin.store(0, std::memory_order_release);
    slot.end.store(0, std::memory_order_release);
}

// The `size` bytes of the open file `fd` into *out (left as it was on a failure, *why then saying
// why).
bool readWhole(int fd, std::int64_t size, QByteArray* out, QString* why)
{
    QByteArray data(qsizetype(size), Qt::Uninitialized);
    qsizetype done = 0;
    while (done < data.size()) {
        const ssize_t n = ::pread(fd, data.data() + done, size_t(data.size() - done), off_t(done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            *why = systemError(errno);
            return false;
        }
        if (n == 0)
            break;
        done += n;
    }
    if (done != data.size()) {
        *why = QStringLiteral("the file became shorter while it was read");
        return false;
    }
    *out = std::move(data);
    return true;
}

// Below this size a read costs less than a mapping and its page faults.
constexpr std::int64_t kMinMappedBytes = 64 * 1024;

// The mapped files alive in the process. A file opened again while one of its mappings lives (the
// parts of a zoomed photo and its full decode, a thumbnail and a fitted picture of one photo made
// side by side) shares that mapping, as long as the file is still the one that was mapped.
std::mutex g_mappedMutex;
std::vector<std::weak_ptr<const FileContents>> g_mapped;

std::shared_ptr<const FileContents> liveMappingLocked(const FileIdentity& identity)
{
    std::shared_ptr<const FileContents> found;
    std::erase_if(g_mapped, [&](const std::weak_ptr<const FileContents>& weak) {
        std::shared_ptr<const FileContents> contents = weak.lock();
        if (contents && !found && contents->identity() == identity && !contents->wasCutShort())
            found = contents;
        return !contents;
    });
    return found;
}

// The files being mapped now: a second opening of one waits for the first and shares its mapping
// (the pictures made at start-up side by side), rather than mapping the file again beside it.
std::vector<FileIdentity> g_opening;
std::condition_variable g_openingDone;

// Claims the mapping of the file `identity` names, or answers its live mapping (waiting while
// another thread maps it). The claim ends when the object goes, after the mapping, if any, is
// registered.
class MappingClaim {
public:
    explicit MappingClaim(const FileIdentity& identity) : m_identity(identity) {}
    std::shared_ptr<const FileContents> claimOrShare()
    {
        std::unique_lock lock(g_mappedMutex);
        for (;;) {
            if (std::shared_ptr<const FileContents> shared = liveMappingLocked(m_identity))
                return shared;
            if (std::find(g_opening.begin(), g_opening.end(), m_identity) == g_opening.end())
                break;
            g_openingDone.wait(lock);
        }
        g_opening.push_back(m_identity);
        m_claimed = true;
        return nullptr;
    }
    ~MappingClaim()
    {
        if (!m_claimed)
            return;
        {
            std::lock_guard lock(g_mappedMutex);
            g_opening.erase(std::find(g_opening.begin(), g_opening.end(), m_identity));
        }
        g_openingDone.notify_all();
    }
    MappingClaim(const MappingClaim&) = delete;
    MappingClaim& operator=(const MappingClaim&) = delete;

private:
    FileIdentity m_identity;
    bool m_claimed = false;
};

void addLiveMapping(const std::shared_ptr<const FileContents>& contents)
{
    std::lock_guard lock(g_mappedMutex);
    g_mapped.push_back(contents);
}

} // namespace

FileContents::~FileContents()
{
    m_bytes = QByteArray();
    if (m_mapping) {
        // Unregistered first: the handler must not take a later mapping at this address for ours.
        if (m_guardSlot >= 0)
            releaseGuardSlot(m_guardSlot);
        ::munmap(m_mapping, m_mappedLength);
    }
}

bool FileContents::wasCutShort() const
{
    return m_guardSlot >= 0 && g_slots[size_t(m_guardSlot)].cutShort.load(std::memory_order_acquire);
}

void FileContents::willReadAll() const
{
    if (m_mapping)
        ::madvise(m_mapping, m_mappedLength, MADV_WILLNEED);
}

std::shared_ptr<const FileContents> FileContents::open(const QString& path, std::int64_t maxBytes, QString* error)
{
    const auto fail = [&](const QString& why) {
        if (error)
            *error = QStringLiteral("cannot read %1: %2").arg(displayFileName(path), why);
        return nullptr;
    };
    struct stat st {};
    // The file as its name shows it now: a mapping of it that lives already serves, or one being
    // made (waited for).
    std::optional<MappingClaim> claim;
    if (!path.isEmpty() && ::stat(kpv::encodeFileName(path).constData(), &st) == 0 && S_ISREG(st.st_mode) &&
        st.st_size >= kMinMappedBytes)
        if (std::shared_ptr<const FileContents> shared = claim.emplace(identityOf(st)).claimOrShare())
            return shared;
    QString why;
    const int fd = openRegularForReading(path, &st, &why);
    if (fd < 0)
        return fail(why);
    const DescriptorCloser closer{fd};
    std::shared_ptr<FileContents> contents(new FileContents);
    contents->m_identity = identityOf(st);
    if (st.st_size >= kMinMappedBytes) {
        installSigbusGuard();
        const auto length = std::size_t(st.st_size);
        void* mapping = ::mmap(nullptr, length, PROT_READ, MAP_PRIVATE, fd, 0);
        if (mapping != MAP_FAILED) {
            const int slot = takeGuardSlot(mapping, length);
            if (slot >= 0) {
                contents->m_mapping = mapping;
                contents->m_mappedLength = length;
                contents->m_guardSlot = slot;
                contents->m_bytes = QByteArray::fromRawData(static_cast<const char*>(mapping), qsizetype(length));
                addLiveMapping(contents);
                notifyAccess(path, "map");
                return contents;
            }
            ::munmap(mapping, length);
        }
    }
    if (st.st_size > maxBytes)
        return fail(QStringLiteral("the file is too large"));
    if (!readWhole(fd, st.st_size, &contents->m_bytes, &why))
        return fail(why);
    notifyAccess(path, "read");
    return contents;
}

bool readRegularFile(const QString& path, std::int64_t maxBytes, QByteArray* out, QString* error, FileIdentity* identity)
{
    const auto fail = [&](const QString& why) {
        if (error)
            *error = QStringLiteral("cannot read %1: %2").arg(displayFileName(path), why);
        return false;
    };
    struct stat st {};
    QString why;
    const int fd = openRegularForReading(path, &st, &why);
    if (fd < 0)
        return fail(why);
    const DescriptorCloser closer{fd};
    if (st.st_size > maxBytes)
        return fail(QStringLiteral("the file is too large"));
    if (!readWhole(fd, st.st_size, out, &why))
        return fail(why);
    notifyAccess(path, "read");
    if (identity)
        *identity = identityOf(st);
    return true;
}

} // namespace kpv
