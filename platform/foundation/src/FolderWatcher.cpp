#include "foundation/FolderWatcher.h"

#include "foundation/FileNames.h"
#include "foundation/Timer.h"

#include <QCoreApplication>
#include <QHash>
#include <QSocketNotifier>

#include <cerrno>

#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

namespace kpv {

namespace {

// A folder changes when a name in it comes, goes or is renamed, when an entry's attributes change,
// when a file in it is closed after writing (a program that writes a file in pieces is done with
// it: the first report may have come while it was still being written), and when the folder
// itself goes.
constexpr uint32_t kFolderEvents = IN_CREATE | IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO | IN_ATTRIB | IN_CLOSE_WRITE |
                                   IN_DELETE_SELF | IN_MOVE_SELF | IN_ONLYDIR;
// A file changes when it is written, closed after writing, or its attributes change, and when
// it goes (removed, or renamed away as another file is renamed over its name).
constexpr uint32_t kFileEvents = IN_MODIFY | IN_CLOSE_WRITE | IN_ATTRIB | IN_DELETE_SELF | IN_MOVE_SELF;

} // namespace

struct FolderWatcher::Kernel {
    int fd = -1;
    std::unique_ptr<QSocketNotifier> notifier;
    QHash<int, QStringList> pathsOfWatch; // a folder and a file of one inode share a watch
    QHash<QString, int> watchOfPath;
};

FolderWatcher::FolderWatcher(Handler handler, double settleSeconds)
    : m_handler(std::move(handler)), m_settleSeconds(settleSeconds), m_kernel(std::make_unique<Kernel>())
{
    // Without the kernel's watches (none left for this user), or without an event loop to hear
    // them on, nothing is watched; the program works on, without hearing of other programs'
    // changes.
    if (!QCoreApplication::instance())
        return;
    m_kernel->fd = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (m_kernel->fd < 0)
        return;
    m_kernel->notifier = std::make_unique<QSocketNotifier>(m_kernel->fd, QSocketNotifier::Read);
    QObject::connect(m_kernel->notifier.get(), &QSocketNotifier::activated, [this] { readEvents(); });
}

FolderWatcher::~FolderWatcher()
{
    if (m_settle)
        m_settle->invalidate();
    m_kernel->notifier.reset();
    if (m_kernel->fd >= 0)
        ::close(m_kernel->fd);
}

bool FolderWatcher::addWatch(const QString& path, bool folder)
{
    if (m_kernel->fd < 0 || m_kernel->watchOfPath.contains(path))
        return m_kernel->watchOfPath.contains(path);
    // IN_MASK_ADD: another path of the same inode keeps the events it asked for.
    const int wd = ::inotify_add_watch(m_kernel->fd, encodeFileName(path).constData(),
                                       (folder ? kFolderEvents : kFileEvents) | IN_MASK_ADD);
    if (wd < 0)
        return false; // gone, or the system's watch limit reached: simply not watched
    m_kernel->watchOfPath.insert(path, wd);
    m_kernel->pathsOfWatch[wd].append(path);
    return true;
}

void FolderWatcher::removeWatch(const QString& path)
{
    const auto found = m_kernel->watchOfPath.constFind(path);
    if (found == m_kernel->watchOfPath.constEnd())
        return;
    const int wd = found.value();
    m_kernel->watchOfPath.erase(found);
    QStringList& paths = m_kernel->pathsOfWatch[wd];
    paths.removeAll(path);
    if (paths.isEmpty()) {
        m_kernel->pathsOfWatch.remove(wd);
        ::inotify_rm_watch(m_kernel->fd, wd);
    }
}

void FolderWatcher::watch(const QStringList& folders, const QStringList& files)
{
    const QSet<QString> wantFolders(folders.begin(), folders.end());
    const QSet<QString> wantFiles(files.begin(), files.end());
    for (const QString& f : std::as_const(m_folders))
        if (!wantFolders.contains(f))
            removeWatch(f);
    for (const QString& f : std::as_const(m_files))
        if (!wantFiles.contains(f))
            removeWatch(f);
    m_folders = wantFolders;
    m_files = wantFiles;
    for (const QString& f : wantFolders)
        addWatch(f, true);
    for (const QString& f : wantFiles)
        addWatch(f, false);
}

QStringList FolderWatcher::watchedFolders() const
{
    QStringList out;
    for (const QString& f : m_folders)
        if (m_kernel->watchOfPath.contains(f))
            out << f;
    return out;
}

QStringList FolderWatcher::watchedFiles() const
{
    QStringList out;
    for (const QString& f : m_files)
        if (m_kernel->watchOfPath.contains(f))
            out << f;
    return out;
}

void FolderWatcher::readEvents()
{
    alignas(inotify_event) char buffer[16 * 1024];
    for (;;) {
        const ssize_t n = ::read(m_kernel->fd, buffer, sizeof buffer);
        if (n <= 0) {
            if (n < 0 && errno == EINTR)
                continue;
            return;
        }
        for (ssize_t at = 0; at + ssize_t(sizeof(inotify_event)) <= n;) {
            const auto* event = reinterpret_cast<const inotify_event*>(buffer + at);
            at += ssize_t(sizeof(inotify_event) + event->len);
            if (event->mask & IN_Q_OVERFLOW) {
                // The kernel dropped events (a burst too large to queue): anything may have changed.
                for (const QString& folder : std::as_const(m_folders))
                    changed(folder, true);
                for (const QString& file : std::as_const(m_files))
                    changed(file, false);
                continue;
            }
            const QStringList paths = m_kernel->pathsOfWatch.value(event->wd);
            if (event->mask & IN_IGNORED) {
                // The kernel dropped the watch: its file or folder went.
                m_kernel->pathsOfWatch.remove(event->wd);
                for (const QString& path : paths)
                    m_kernel->watchOfPath.remove(path);
            }
            for (const QString& path : paths) {
                const bool folder = m_folders.contains(path);
                if (!folder && !m_files.contains(path))
                    continue;
                changed(path, folder);
            }
        }
    }
}

void FolderWatcher::changed(const QString& path, bool folder)
{
    (folder ? m_changedFolders : m_changedFiles).insert(path);
    // A file replaced by renaming another over it is no longer watched: watched again, as the
    // name now stands for the new file.
    if (!folder && m_files.contains(path) && !m_kernel->watchOfPath.contains(path) && pathStatus(path).exists)
        addWatch(path, false);
    if (m_settle)
        m_settle->invalidate();
    m_settle = Timer::scheduled(m_settleSeconds, false, [this](Timer&) { report(); }, TimerMode::Common);
}

void FolderWatcher::report()
{
    const QStringList folders(m_changedFolders.begin(), m_changedFolders.end());
    const QStringList files(m_changedFiles.begin(), m_changedFiles.end());
    m_changedFolders.clear();
    m_changedFiles.clear();
    if (m_handler && (!folders.isEmpty() || !files.isEmpty()))
        m_handler(folders, files);
}

} // namespace kpv
