#include "foundation/FolderWatcher.h"

#include "foundation/Timer.h"

#include <QFileInfo>
#include <QFileSystemWatcher>

namespace kpv {

FolderWatcher::FolderWatcher(Handler handler, double settleSeconds)
    : m_handler(std::move(handler)), m_settleSeconds(settleSeconds), m_watcher(std::make_unique<QFileSystemWatcher>())
{
    QObject::connect(m_watcher.get(), &QFileSystemWatcher::directoryChanged,
                     [this](const QString& path) { changed(path, true); });
    QObject::connect(m_watcher.get(), &QFileSystemWatcher::fileChanged,
                     [this](const QString& path) { changed(path, false); });
}

FolderWatcher::~FolderWatcher()
{
    if (m_settle)
        m_settle->invalidate();
}

void FolderWatcher::watch(const QStringList& folders, const QStringList& files)
{
    const QSet<QString> wantFolders(folders.begin(), folders.end());
    const QSet<QString> wantFiles(files.begin(), files.end());
    QStringList drop;
    for (const QString& f : std::as_const(m_folders))
        if (!wantFolders.contains(f))
            drop << f;
    for (const QString& f : std::as_const(m_files))
        if (!wantFiles.contains(f))
            drop << f;
    if (!drop.isEmpty())
        m_watcher->removePaths(drop);
    QStringList add;
    for (const QString& f : wantFolders)
        if (!m_folders.contains(f))
            add << f;
    for (const QString& f : wantFiles)
        if (!m_files.contains(f))
            add << f;
    m_folders = wantFolders;
    m_files = wantFiles;
    // A path that cannot be watched (gone, or the system's watch limit reached) is simply not watched.
    if (!add.isEmpty())
        m_watcher->addPaths(add);
}

QStringList FolderWatcher::watchedFolders() const
{
    return m_watcher->directories();
}

QStringList FolderWatcher::watchedFiles() const
{
    return m_watcher->files();
}

void FolderWatcher::changed(const QString& path, bool folder)
{
    (folder ? m_changedFolders : m_changedFiles).insert(path);
    // A file replaced by renaming another over it is no longer watched: watched again, as the
    // name now stands for the new file.
    if (!folder && m_files.contains(path) && !m_watcher->files().contains(path) && QFileInfo::exists(path))
        m_watcher->addPath(path);
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
