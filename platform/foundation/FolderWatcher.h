#pragma once
// Tells when other programs change watched folders (a file added, removed, renamed or written and
// closed) or watched files (written over). The kernel reports the changes; nothing is polled, so a watched folder of
// any size costs nothing while it is quiet. A burst of changes (a copy of many files, a program
// writing a file in pieces) is reported once, after the folder has been quiet for a moment, on
// the main run loop's clock.

#include <QSet>
#include <QString>
#include <QStringList>

#include <functional>
#include <memory>

namespace kpv {

class Timer;

class FolderWatcher {
public:
    // Called on the main thread with the watched folders and files that changed since the last call.
    using Handler = std::function<void(const QStringList& folders, const QStringList& files)>;

    explicit FolderWatcher(Handler handler, double settleSeconds = 0.2);
    ~FolderWatcher();
    FolderWatcher(const FolderWatcher&) = delete;
    FolderWatcher& operator=(const FolderWatcher&) = delete;

    // Watches exactly these folders and files from now on (those gone are dropped).
    void watch(const QStringList& folders, const QStringList& files);
    QStringList watchedFolders() const;
    QStringList watchedFiles() const;

private:
    struct Kernel;
    bool addWatch(const QString& path, bool folder);
    void removeWatch(const QString& path);
    void readEvents();
    void changed(const QString& path, bool folder);
    void report();

    Handler m_handler;
    double m_settleSeconds;
    std::unique_ptr<Kernel> m_kernel;
    std::shared_ptr<Timer> m_settle;
    QSet<QString> m_folders, m_files;
    QSet<QString> m_changedFolders, m_changedFiles;
};

} // namespace kpv
