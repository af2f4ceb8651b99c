#include "Shell/MainWindow/AppDelegate.h"

#include "Shell/MainWindow/MainWndController.h"
#include "Shell/Dialogs/OptionWindowModel.h"
#include "Shell/Program/CommandLine.h"

#include "Model/LMBookmarkCache.h"
#include "Model/LMFileImgBaseInfo.h"
#include "Model/LMFileInfo.h"
#include "Model/LMPathTools.h"
#include "Model/MainConfig.h"
#include "Model/PhotoSearchHandler.h"
#include "Model/PublicObject.h"
#include "Slideshow/SlideshowMusic.h"
#include "Kit/LMNineSliceImageRep.h"
#include "desktop/RecentlyUsed.h"
#include "foundation/Bundle.h"
#include "foundation/FileHelpers.h"
#include "foundation/FileNames.h"
#include "foundation/OperationQueue.h"
#include "foundation/RunLoop.h"
#include "foundation/Timer.h"

#include <QDir>
#include <QFileInfo>
#include <QHash>
#include <QStandardPaths>
#include <algorithm>
#include <cstdlib>
#include <thread>
#include <unistd.h>

namespace {

AppDelegate* g_sharedDelegate = nullptr;

// How long a quit waits for the workers it cancelled.
constexpr double kQuitWaitSeconds = 1.0;

// The codec's image type of GIF files.
constexpr uint64_t kGifImageType = 4;

const char* const kDesktopCacheName = "DesktopCache";

// Makes `path` a folder: true when it is one now. A file in the way is a failure.
bool ensureFolder(const QString& path)
{
    QFileInfo info(path);
    if (info.exists())
        return info.isDir();
    return QDir().mkpath(path);
}

} // namespace

namespace {
AppDelegate::Setup programSetup()
{
    AppDelegate::Setup setup;
    setup.recentlyUsedList = kpv::recentlyUsedListPath();
    return setup;
}
} // namespace

AppDelegate::AppDelegate() : AppDelegate(programSetup()) {}

AppDelegate::AppDelegate(Setup setup) : m_setup(std::move(setup))
{
    int processors = m_setup.processorCount > 0 ? m_setup.processorCount
                                                : int(std::thread::hardware_concurrency());
    m_operationQueue = std::make_unique<kpv::OperationQueue>();
    m_operationQueue->setName(QStringLiteral("application queue"));
    m_operationQueue->setMaxConcurrentOperationCount(std::max(2, processors));
    // Neighbours and thumbnails load on at most half the processors: the others stay free for the
    // picture the user waits for, the window's drawing and the software renderer's threads.
    m_operationQueue->setMaxConcurrentBackgroundOperationCount(std::max(1, processors / 2));
    if (m_setup.allowedFileExtensions.isEmpty())
        m_publicObject = PublicObject::getPublicObject();
    m_mainConfig = m_setup.mainConfig ? std::move(m_setup.mainConfig) : std::make_unique<MainConfig>();
    g_sharedDelegate = this;
    LMAppServices::setShared(this);
}

AppDelegate::~AppDelegate()
{
    if (m_themeLoadTimer)
        m_themeLoadTimer->invalidate();
    if (!m_terminated) {
        // Never leave workers running on objects that are about to go.
        m_operationQueue->cancelAllOperations();
        m_operationQueue->waitUntilAllOperationsAreFinished();
        removeTemporaryDirectory();
    }
    if (LMAppServices::shared() == this)
        LMAppServices::setShared(nullptr);
    if (g_sharedDelegate == this)
        g_sharedDelegate = nullptr;
}

AppDelegate* AppDelegate::shared()
{
    return g_sharedDelegate;
}

std::unique_ptr<SlideshowMusicSink> AppDelegate::makeMusicSink() const
{
    return m_setup.musicSink ? m_setup.musicSink() : makeSlideshowAudioSink(makeSoundDeviceOutput());
}

void AppDelegate::setSlideshowThemeMgr(std::unique_ptr<SlideshowThemeLoading> manager)
{
    m_slideshowThemeMgr = std::move(manager);
}

// ---- Application events ----

void AppDelegate::applicationDidFinishLaunching()
{
    if (m_mainWndController)
        m_mainWndController->applicationDidFinishLaunching();
    // Theme loading waits for the next turn, so that the window is on screen first.
    m_themeLoadTimer = kpv::RunLoop::current().performAfterDelay(0, [this] {
        if (m_slideshowThemeMgr && !m_terminated)
            m_slideshowThemeMgr->startLoad();
        // Making this run's temporary folder clears those that killed runs left behind.
        if (!m_terminated) {
            temporaryDirectoryWithSubDir(QString());
            removeStaleTemporaryFiles();
        }
    });
}

void AppDelegate::applicationOpenFiles(const QStringList& paths)
{
    if (firstSupportedFileInPaths(paths, false).isEmpty())
        return;
    if (m_mainWndController)
        m_mainWndController->openFiles(paths, false);
}

QStringList AppDelegate::openCommandLinePaths(const QStringList& paths)
{
    const QStringList problems = CommandLine::problemsWithPaths(paths, allowedFileExtensions());
    applicationOpenFiles(paths);
    if (!problems.isEmpty() && m_mainWndController) {
        // Told once the window is up: at start the files are opened before the window shows.
        QStringList lines;
        for (const QString& problem : problems)
            lines << problem.left(1).toUpper() + problem.mid(1) + QLatin1Char('.');
        m_mainWndController->showFailureAlertSoon(lines.join(QLatin1Char('\n')));
    }
    return problems;
}

bool AppDelegate::applicationOpenUntitledFile()
{
    if (m_mainWndController) {
        if (kpv::Window* w = m_mainWndController->getCurWindow())
            w->makeKeyAndOrderFront();
    }
    return true;
}

void AppDelegate::applicationWillTerminate()
{
    if (m_terminated)
        return;
    m_terminated = true;
    m_operationQueue->cancelAllOperations();
    LMBookmarkCache::defaultCache().stopAccessingAllSecurityScopedResource();
    // A worker stuck in a read must not keep the quit from finishing.
    m_stuckWorkers = !m_operationQueue->waitUntilAllOperationsAreFinished(kQuitWaitSeconds);
    if (m_slideshowThemeMgr)
        m_slideshowThemeMgr->uninit();
    m_mainConfig->save(false);
    removeTemporaryDirectory();
}

// ---- Supported files ----

QStringList AppDelegate::allowedFileExtensions() const
{
    if (!m_setup.allowedFileExtensions.isEmpty())
        return m_setup.allowedFileExtensions;
    return m_publicObject ? m_publicObject->allowedFileExtensions() : QStringList();
}

QStringList AppDelegate::allowedFileTypes() const
{
    if (!m_setup.allowedFileExtensions.isEmpty())
        return m_setup.allowedFileTypes;
    return m_publicObject ? m_publicObject->allowedFileTypes() : QStringList();
}

QStringList AppDelegate::allowedWriteFileTypes()
{
    return {"jpg", "jpeg", "png", "bmp", "tif", "tiff"};
}

bool AppDelegate::checkSupportForFilePath(const QString& path, const QStringList& extensions)
{
    const QString ext = QFileInfo(path).suffix().toLower();
    return !ext.isEmpty() && extensions.contains(ext);
}

bool AppDelegate::isGifFile(const LMFileInfo& fileInfo)
{
    if (auto base = fileInfo.imgBaseInfo())
        return base->AMCMImageType() == kGifImageType;
    return QFileInfo(fileInfo.filePath().path()).suffix().toLower() == QLatin1String("gif");
}

QString AppDelegate::firstSupportedFileInPaths(const QStringList& paths, bool includeSubDir) const
{
    const QList<LMPathString> found = extractSupportedFiles(paths, includeSubDir, true, false);
    return found.isEmpty() ? QString() : found.first().path();
}

QList<LMPathString> AppDelegate::extractSupportedFiles(const QStringList& paths, bool includeSubDir) const
{
    return extractSupportedFiles(paths, includeSubDir, false, true);
}

QList<LMPathString> AppDelegate::extractSupportedFiles(const QStringList& paths, bool includeSubDir,
                                                       bool stopWhileFindFirst, bool cacheBookmark) const
{
    const QStringList extensions = allowedFileExtensions();
    LMBookmarkCache& bookmarks = LMBookmarkCache::defaultCache();
    // Keyed by the path, so a file named twice is counted once; the order is the order of finding.
    QList<LMPathString> result;
    QSet<QString> seen;
    auto add = [&](const LMPathString& p) {
        if (!seen.contains(p.path())) {
            seen.insert(p.path());
            result.append(p);
        }
    };
    QStringList folders;
    QSet<QString> openedParents;
    for (const QString& path : paths) {
        const QFileInfo info(path);
        const kpv::PathStatus status = kpv::pathStatus(path);
        if (path.isEmpty() || !status.exists)
            continue;
        if (status.isDirectory) {
            folders.append(path);
            continue;
        }
        // Pipes, sockets and devices are no photos: reading one could wait for ever.
        if (!status.isRegularFile)
            continue;
        if (cacheBookmark) {
            const QString parent = info.absolutePath().toLower();
            if (!openedParents.contains(parent)) {
                openedParents.insert(parent);
                bookmarks.startAccessingSecurityScopedResourceForPath(parent);
            }
        }
        if (checkSupportForFilePath(path, extensions)) {
            add(LMPathString(path, false));
            if (stopWhileFindFirst)
                return result;
        }
    }
    for (const QString& folder : folders) {
        const QUrl url = QUrl::fromLocalFile(folder);
        if (cacheBookmark && !bookmarks.securityScopedURLAllowingAccessToPath(folder))
            bookmarks.cacheSecurityScopedURL(url);
        if (auto files = PhotoSearchHandler::EnumDirectoryFiles(url, false, extensions, stopWhileFindFirst)) {
            for (const LMPathString& f : *files)
                add(f);
        }
    }
    // Only a starting file is looked for in the sub-folders; the viewer searches them in full.
    if (result.isEmpty() && includeSubDir) {
        for (const QString& folder : folders) {
            if (auto files = PhotoSearchHandler::EnumDirectoryFiles(QUrl::fromLocalFile(folder), true, extensions, true)) {
                for (const LMPathString& f : *files)
                    add(f);
            }
        }
    }
    return result;
}

// ---- Temporary folder ----

QUrl AppDelegate::temporaryDirectoryUrlWithSubDir(const QString& name)
{
    const QString path = temporaryDirectoryWithSubDir(name);
    return path.isEmpty() ? QUrl() : QUrl::fromLocalFile(path + QLatin1Char('/'));
}

QString AppDelegate::keptCropFolder(bool create) const
{
    const QString data = m_setup.dataDirectory.isEmpty() ? kpv::dataDirectory() : m_setup.dataDirectory;
    if (data.isEmpty())
        return {};
    const QString path = data + QStringLiteral("/Loved Crops");
    if (!create)
        return path;
    return ensureFolder(path) ? path : QString();
}

QString AppDelegate::temporaryDirectoryWithSubDir(const QString& name)
{
    if (name.contains(QLatin1Char('/')) || name == QLatin1String("..") || name == QLatin1String("."))
        return {};
    if (name == QLatin1String(kDesktopCacheName)) {
        QString cache = m_setup.cacheDirectory;
        if (cache.isEmpty())
            cache = QStandardPaths::writableLocation(QStandardPaths::GenericCacheLocation) +
                    QStringLiteral("/kestrane-viewer");
        const QString path = cache + QLatin1Char('/') + name;
        return ensureFolder(path) ? path : QString();
    }
    if (m_temporaryDirectory.isEmpty()) {
        if (m_terminated)
            return {};
        QString parent = m_setup.temporaryParent.isEmpty() ? QDir::tempPath() : m_setup.temporaryParent;
        if (!ensureFolder(parent))
            return {};
        // Folders of earlier runs that were killed before they could clean up go first.
        kpv::removeStaleTemporaryFolders(parent, QStringLiteral("kestrane-viewer-"));
        QByteArray pattern = QFile::encodeName(parent + QStringLiteral("/kestrane-viewer-XXXXXX"));
        if (!mkdtemp(pattern.data()))
            return {};
        m_temporaryDirectory = QFile::decodeName(pattern);
        m_temporaryDirectoryHold = kpv::holdTemporaryFolder(m_temporaryDirectory);
    }
    if (name.isEmpty())
        return m_temporaryDirectory;
    const QString path = m_temporaryDirectory + QLatin1Char('/') + name;
    return ensureFolder(path) ? path : QString();
}

void AppDelegate::removeStaleTemporaryFiles()
{
    // A save of the settings, the favourites, a kept crop or a desktop picture that was killed
    // mid-write left its hidden temporary file in our own folders.
    QStringList more{keptCropFolder(false)};
    if (!m_setup.dataDirectory.isEmpty())
        more << m_setup.dataDirectory;
    const QString cache = m_setup.cacheDirectory.isEmpty()
                              ? QStandardPaths::writableLocation(QStandardPaths::GenericCacheLocation) +
                                    QStringLiteral("/kestrane-viewer")
                              : m_setup.cacheDirectory;
    more << cache << cache + QLatin1Char('/') + QLatin1String(kDesktopCacheName);
    kpv::removeStaleTemporaryFilesOfOwnFolders(more);
}

void AppDelegate::removeTemporaryDirectory()
{
    if (m_temporaryDirectory.isEmpty())
        return;
    // The folder was made by mkdtemp for this run alone, so all of it goes.
    QDir(m_temporaryDirectory).removeRecursively();
    m_temporaryDirectory.clear();
    if (m_temporaryDirectoryHold >= 0)
        ::close(m_temporaryDirectoryHold);
    m_temporaryDirectoryHold = -1;
}

// ---- Small services ----

std::shared_ptr<kpv::Image> AppDelegate::defaultImage(long kind)
{
    if (auto it = m_defaultImages.find(kind); it != m_defaultImages.end())
        return it.value();
    static const char* const names[] = {"Img_DefaultThumb", "Img_BadThumb", "Img_Default"};
    if (kind < 1 || kind > 3)
        return nullptr;
    kpv::ImagePtr image = LMNineSliceImageRep::loadImageWithoutExtension(QString::fromLatin1(names[kind - 1]));
    if (image)
        m_defaultImages.insert(kind, image);
    return image;
}

QString AppDelegate::appName() const
{
    return kpv::Bundle::mainBundle().objectForInfoDictionaryKey(QStringLiteral("CFBundleName")).toString();
}

QString AppDelegate::appVersion() const
{
    return kpv::Bundle::mainBundle().objectForInfoDictionaryKey(QStringLiteral("CFBundleShortVersionString")).toString();
}

QString AppDelegate::fileInfoDisplayNameByType(long type)
{
    return OptionWindowModel::fileInfoDisplayNameByType(type);
}
