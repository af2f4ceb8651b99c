#pragma once
// The application's delegate: owner of the objects that live for the whole run (the shared
// operation queue, the settings, the slideshow theme manager, the placeholder images and the
// private temporary folder), the receiver of open-file requests, and the one place where the run
// starts and ends in a fixed order. Everything else reaches it through AppDelegate::shared().
//
// Temporary files go into a folder of the run's own, made with mkdtemp under the system's
// temporary folder, so that the clean-up at exit can never touch another program's files. The
// desktop-picture cache ("DesktopCache") must survive the run and lives in the user's cache
// folder instead. Main thread only.

#include "Model/LMAppServices.h"
#include "Model/LMPathString.h"
#include "Slideshow/SlideshowThemeLoading.h"

#include <QHash>
#include <QList>
#include <QString>
#include <QStringList>
#include <QUrl>
#include <functional>
#include <memory>

class LMFileInfo;
class MainConfig;
class MainWndController;
class PublicObject;
namespace kpv {
class Image;
class OperationQueue;
class Timer;
}

class SlideshowMusicSink;

class AppDelegate : public LMAppServices {
public:
    // Where the delegate keeps what it makes; tests point these into a scratch folder.
    struct Setup {
        // Settings; the standard user defaults when null.
        std::unique_ptr<MainConfig> mainConfig;
        // Processor count for the queue's width; the machine's when 0 or less.
        int processorCount = 0;
        // Parent of the private temporary folder; the system's temporary folder when empty.
        QString temporaryParent;
        // The user's cache folder for "DesktopCache"; the XDG cache location when empty.
        QString cacheDirectory;
        // The supported extensions; the bundle's document types (PublicObject) when empty.
        QStringList allowedFileExtensions;
        QStringList allowedFileTypes;
        // The user's data folder, where loved crops are kept; the XDG data location when empty.
        QString dataDirectory;
        // Where the slideshow's music goes; the sound device when empty (tests give a silent sink).
        std::function<std::unique_ptr<SlideshowMusicSink>()> musicSink;
        // The desktop's shared list of recent files that opened photos are added to; none when
        // empty (the program's own start sets the user's).
        QString recentlyUsedList;
    };

    AppDelegate();
    explicit AppDelegate(Setup setup);
    ~AppDelegate() override;
    AppDelegate(const AppDelegate&) = delete;
    AppDelegate& operator=(const AppDelegate&) = delete;

    // The installed delegate (the application's), or nullptr.
    static AppDelegate* shared();

    // ---- Long-lived objects ----
    MainWndController* mainWndController() const { return m_mainWndController; }
    void setMainWndController(MainWndController* controller) { m_mainWndController = controller; }
    kpv::OperationQueue* operationQueue() const { return m_operationQueue.get(); }
    MainConfig* mainConfig() override { return m_mainConfig.get(); }
    QString recentlyUsedList() const { return m_setup.recentlyUsedList; }
    SlideshowThemeLoading* slideshowThemeMgr() const { return m_slideshowThemeMgr.get(); }
    void setSlideshowThemeMgr(std::unique_ptr<SlideshowThemeLoading> manager);
    // A sink for the slideshow's music, as the setup says.
    std::unique_ptr<SlideshowMusicSink> makeMusicSink() const;

    // ---- Application events ----
    void applicationDidFinishLaunching();
    // Opens the paths when at least one of them is or holds a supported file.
    void applicationOpenFiles(const QStringList& paths);
    // Opens paths named on a command line (this program's, or a later start's that handed them
    // over): what cannot be opened is told in the window, one line each, and the rest opens.
    // Returns the lines told.
    QStringList openCommandLinePaths(const QStringList& paths);
    // Brings the current window to the front.
    bool applicationOpenUntitledFile();
    // Always 1: terminate now.
    long applicationShouldTerminate() const { return 1; }
    void applicationWillTerminate();
    // True after a quit whose workers did not stop within a second (stuck reading a file): the
    // settings are saved and the temporary folder is gone, and the program may end at once.
    bool hasStuckWorkers() const { return m_stuckWorkers; }

    // ---- Supported files ----
    QStringList allowedFileExtensions() const override;
    QStringList allowedFileTypes() const override;
    // The extensions of the formats the application writes.
    static QStringList allowedWriteFileTypes();
    // One supported file among the paths (folders searched one level, or deeper only to find a
    // first file when `includeSubDir`), or an empty string.
    QString firstSupportedFileInPaths(const QStringList& paths, bool includeSubDir) const;
    // Every supported file of the paths, each once, in no defined order.
    QList<LMPathString> extractSupportedFiles(const QStringList& paths, bool includeSubDir) const;
    QList<LMPathString> extractSupportedFiles(const QStringList& paths, bool includeSubDir, bool stopWhileFindFirst,
                                              bool cacheBookmark) const;
    static bool checkSupportForFilePath(const QString& path, const QStringList& extensions);
    static bool isGifFile(const LMFileInfo& fileInfo);

    // ---- Temporary folder ----
    // The private folder (empty name) or its sub-folder `name`, made when missing; "DesktopCache"
    // is the sub-folder of the user's cache folder. Empty when it cannot be made.
    QUrl temporaryDirectoryUrlWithSubDir(const QString& name);
    QString temporaryDirectoryWithSubDir(const QString& name);
    // Where crops loved before they were saved are kept, in the user's data folder; made when
    // `create` and missing. Empty when it cannot be made.
    QString keptCropFolder(bool create) const;
    // The private folder if it was made in this run, else empty.
    QString privateTemporaryDirectory() const { return m_temporaryDirectory; }

    // ---- Small services ----
    // 1 not loaded yet, 2 cannot be decoded, 3 generic; nullptr for other kinds or a missing image.
    std::shared_ptr<kpv::Image> defaultImage(long kind);
    QString appName() const;
    QString appVersion() const;
    // The label of a file-information field (0 to 18); empty for other numbers.
    static QString fileInfoDisplayNameByType(long type);

private:
    void removeTemporaryDirectory();
    void removeStaleTemporaryFiles();

    Setup m_setup;
    MainWndController* m_mainWndController = nullptr;
    std::unique_ptr<kpv::OperationQueue> m_operationQueue;
    std::unique_ptr<MainConfig> m_mainConfig;
    std::unique_ptr<SlideshowThemeLoading> m_slideshowThemeMgr;
    PublicObject* m_publicObject = nullptr;
    QHash<long, std::shared_ptr<kpv::Image>> m_defaultImages;
    QString m_temporaryDirectory;
    int m_temporaryDirectoryHold = -1; // the lock that marks the folder as this run's
    bool m_terminated = false;
    bool m_stuckWorkers = false;
    // The theme loading waiting for the next turn of the run loop.
    std::shared_ptr<kpv::Timer> m_themeLoadTimer;
};
