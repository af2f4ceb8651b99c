#include "Shell/MainWindow/MainWndController.h"
#include "Shell/Program/CommandLine.h"

#include "Shell/MainWindow/AppDelegate.h"
#include "Shell/MainWindow/FileOpenViewController.h"
#include "Shell/MainWindow/LMMainWindow.h"
#include "Shell/MainWindow/LMMainWndContentView.h"
#include "Shell/Desktop/OpenWithMenu.h"
#include "Browse/FavoriteViewController.h"
#include "Browse/MiniWindowController.h"
#include "Shell/MainWindow/ViewModeController.h"
#include "foundation/TerminationSignals.h"
#include "foundation/Bundle.h"
#include "foundation/FileNames.h"

#include "Kit/LMIncludeSubDirOpenPanelController.h"
#include "Kit/LMNineSliceImageView.h"
#include "Model/LMBookmarkCache.h"
#include "Model/LMImageTools.h"
#include "Model/MainConfig.h"
#include "desktop/DesktopServices.h"
#include "desktop/RecentlyUsed.h"
#include "foundation/NotificationCenter.h"
#include "foundation/OperationQueue.h"
#include "foundation/RunLoop.h"

#include <QApplication>
#include <QDialog>
#include <QEvent>
#include <QMessageBox>
#include <QWidget>
#include <QDir>
#include <QDateTime>
#include <QFileInfo>
#include <QMimeDatabase>

#include <climits>
#include <cstdlib>
#include <QUrl>
#include <algorithm>
#include <utility>

const char* const WillChangeMainShowModeNotification = "willChangeMainShowMode";
const char* const DidChangeMainShowModeNotification = "didChangeMainShowMode";

namespace {

constexpr int kMaxRecentDocuments = 10;
// The settings key of the Open Recent list, newest first.
constexpr const char* kRecentDocumentsKey = "recentDocuments";

bool isMiniMode(long mode)
{
    return mode == MainShowModeMiniWithImage || mode == MainShowModeMiniEmpty;
}

// The controller that serves the mini window's two modes is kept under one key.
long controllerKey(long mode)
{
    return isMiniMode(mode) ? long(MainShowModeMiniWithImage) : mode;
}

} // namespace

MainWndController::MainWndController(AppDelegate& delegate, std::unique_ptr<LMMainWindow> window)
    : m_delegate(delegate), m_window(std::move(window))
{
    m_delegate.setMainWndController(this);
    kpv::NotificationCenter::defaultCenter().addObserver(
        this, kpv::kDesktopHelperFailedNotification, nullptr,
        [this](const kpv::Notification& n) { tellLateDesktopFailure(n.userInfo); });
    if (m_window) {
        m_window->setDelegate(this);
        // A window dragged larger by its top or left edge moves as well: its dialogs follow that too.
        kpv::NotificationCenter::defaultCenter().addObserver(
            this, QString::fromLatin1(kpv::WindowDidMoveNotification), static_cast<kpv::Window*>(m_window.get()),
            [this](const kpv::Notification&) { windowDidResize(m_window.get()); });
        m_window->mainContentView()->setMainWndController(this);
        m_window->onMiniMode = [this] { switchToSimpleMode(); };
        m_window->onFeedback = [this](kpv::Point p) { popUpFeedbackPopupMenuAtLocation(p, contentView()); };
        m_window->onFullScreenWillChange = [this] {
            if (m_window->isFullScreen())
                windowWillExitFullScreen();
            else
                windowWillEnterFullScreen();
        };
        m_window->onFullScreenDidChange = [this] {
            if (!m_window->isFullScreen())
                windowDidExitFullScreen();
            m_window->mainContentView()->updateBackgroundImage(m_window->isFullScreen());
        };
        m_window->eventForwarder = [this](const kpv::Event& e) {
            switch (e.type()) {
            case kpv::KeyDown: return keyDown(e);
            case kpv::KeyUp: return keyUp(e);
            case kpv::ScrollWheel: return scrollWheel(e);
            case kpv::EventTypeMagnify: return magnifyWithEvent(e);
            default: return false;
            }
        };
        // The favourite button's tip steps aside at the first key, which then does its work as it
        // would have without the tip; Esc only puts the tip away. This runs before the menu bar
        // matches the key, its monitor being added later (with the bar, made for this window):
        // while the tip is up it holds every command back, so a menu's key (Ctrl+R, Ctrl+T)
        // would otherwise be refused and lost, and only a second press would work.
        // The leave-favourites tip of a first visit holds the favourites' commands back in the same
        // way, and only the mouse could close it: the keyboard found every command greyed.
        m_tipKeyMonitor = kpv::Application::shared().addLocalMonitorForEventsMatchingMask(
            kpv::KeyDownMask, [this](const kpv::EventPtr& e) -> kpv::EventPtr {
                if (!e || e->window() != m_window.get())
                    return e;
                auto* favorites = m_showMode == MainShowModeFavorite
                                      ? dynamic_cast<FavoriteViewController*>(existingModeController(MainShowModeFavorite))
                                      : nullptr;
                if (favorites && favorites->curFavoriteIntroTipsShowStatus())
                    favorites->hideFavoriteIntroTips();
                else if (m_navigateController && m_navigateController->curLoveIntroTipsShowStatus())
                    m_navigateController->hideLoveIntroTips(false);
                else
                    return e;
                return e->keyCode() == kpv::KeyCode::Escape ? nullptr : e;
            });
    }
}

MainWndController::~MainWndController()
{
    // Mode controllers may still look at the window while they go.
    m_modeControllers.clear();
    m_fileOpenViewController.reset();
    if (m_delegate.mainWndController() == this)
        m_delegate.setMainWndController(nullptr);
    kpv::NotificationCenter::defaultCenter().removeObserver(this);
    if (m_tipKeyMonitor)
        kpv::Application::shared().removeMonitor(m_tipKeyMonitor);
    if (m_window)
        m_window->setDelegate(nullptr);
}

void MainWndController::awakeFromNib()
{
    m_showMode = MainShowModeNone;
    restoreWindowFrame();
    restoreRecentDocuments();
    buildMenus();
}

void MainWndController::setShowModeControllerFactory(long mode, ShowModeControllerFactory factory)
{
    m_factories[controllerKey(mode)] = std::move(factory);
}

// ---- Window ----

LMMainWndContentView* MainWndController::contentView() const
{
    return m_window ? m_window->mainContentView() : nullptr;
}

LMNineSliceImageView* MainWndController::nineSliceImageViewBkgrd() const
{
    return contentView() ? contentView()->nineSliceImageViewBkgrd() : nullptr;
}

kpv::Window* MainWndController::getCurWindow() const
{
    if (isMiniMode(m_showMode)) {
        if (ShowModeController* mini = existingModeController(MainShowModeMiniWithImage)) {
            if (kpv::Window* w = mini->window())
                return w;
        }
    }
    return m_window.get();
}

kpv::View* MainWndController::containerViewByShowMode(long mode) const
{
    switch (mode) {
    case MainShowModeEmpty:
    case MainShowModeCrop:
    case MainShowModeThumbnail: return nineSliceImageViewBkgrd();
    case MainShowModeFavorite: return m_viewNavFavContainer;
    case MainShowModeSlideshow: return contentView();
    default: return nullptr;
    }
}

// ---- Show modes ----

void MainWndController::setShowMode(long mode)
{
    if (mode == m_showMode)
        return;
    if (mode == MainShowModeView && m_navigateController)
        mode = m_navigateController->canSwitchToViewMode() ? long(MainShowModeView) : long(MainShowModeEmpty);
    // A mode without a controller would leave an empty window with nothing to take the user back.
    if (!hasModeController(mode))
        return;
    m_delegate.operationQueue()->cancelAllOperations();
    initViewController(mode);
    const QVariantMap info{{QStringLiteral("old"), qlonglong(m_showMode)}, {QStringLiteral("new"), qlonglong(mode)}};
    auto& center = kpv::NotificationCenter::defaultCenter();
    center.postNotification(QString::fromLatin1(WillChangeMainShowModeNotification), nullptr, info);
    m_showMode = mode;
    center.postNotification(QString::fromLatin1(DidChangeMainShowModeNotification), nullptr, info);
    // Files handed over during crop mode or a slideshow open once it has ended.
    if (!m_heldOpenPaths.isEmpty() && isWorkableWindow() && mode != MainShowModeCrop && mode != MainShowModeSlideshow) {
        kpv::RunLoop::current().perform([this, alive = std::weak_ptr<bool>(m_lifetime)] {
            if (alive.expired() || m_heldOpenPaths.isEmpty())
                return;
            const QStringList held = std::exchange(m_heldOpenPaths, {});
            openFiles(held, m_heldIncludeSubDir);
        });
    }
}

void MainWndController::initViewController(long mode)
{
    switch (mode) {
    case MainShowModeEmpty: fileOpenViewController(); break;
    case MainShowModeFavorite:
    case MainShowModeCrop:
    case MainShowModeSlideshow:
    case MainShowModeThumbnail:
    case MainShowModeMiniWithImage:
    case MainShowModeMiniEmpty: modeController(mode); break;
    default: break;
    }
}

FileOpenViewController* MainWndController::fileOpenViewController()
{
    if (!m_fileOpenViewController)
        m_fileOpenViewController = std::make_unique<FileOpenViewController>(*this);
    return m_fileOpenViewController.get();
}

bool MainWndController::hasModeController(long mode) const
{
    switch (mode) {
    case MainShowModeFavorite:
    case MainShowModeCrop:
    case MainShowModeSlideshow:
    case MainShowModeThumbnail:
    case MainShowModeMiniWithImage:
    case MainShowModeMiniEmpty: return m_factories.count(controllerKey(mode)) != 0 || existingModeController(mode);
    default: return true;
    }
}

ShowModeController* MainWndController::modeController(long mode)
{
    const long key = controllerKey(mode);
    if (ShowModeController* c = existingModeController(key))
        return c;
    auto f = m_factories.find(key);
    if (f == m_factories.end() || !f->second)
        return nullptr;
    auto made = f->second(*this);
    ShowModeController* raw = made.get();
    if (made)
        m_modeControllers[key] = std::move(made);
    return raw;
}

ShowModeController* MainWndController::existingModeController(long mode) const
{
    auto it = m_modeControllers.find(controllerKey(mode));
    return it == m_modeControllers.end() ? nullptr : it->second.get();
}

// ---- Opening files ----

void MainWndController::applicationDidFinishLaunching()
{
    m_appLaunched = true;
    if (m_window)
        m_window->makeKeyAndOrderFront();
    // The default-viewer tip is not part of this build: nothing to show.
    const bool hasFile = m_navigateController && m_navigateController->canSwitchToViewMode();
    setShowMode(hasFile ? MainShowModeView : MainShowModeEmpty);
    delayCheckRateForUs();
}

QStringList MainWndController::resolvingSymlinks(const QStringList& paths)
{
    QStringList out;
    out.reserve(paths.size());
    for (const QString& p : paths) {
        // Names that are not UTF-8 are beyond Qt's file calls; realpath takes their bytes.
        char buffer[PATH_MAX];
        const QString resolved =
            ::realpath(kpv::encodeFileName(p).constData(), buffer) ? kpv::decodeFileName(QByteArray(buffer)) : QString();
        // A path that cannot be resolved (missing, or a broken link) stays as given.
        out.append(resolved.isEmpty() ? p : resolved);
    }
    return out;
}

void MainWndController::openFiles(const QStringList& paths, bool includeSubDir)
{
    // Files handed over from outside (another copy of the program, the desktop) are what the
    // user asked for: the first-use tip steps aside for them as it does for a click, instead of
    // holding the command back and losing the files.
    if (m_navigateController && m_navigateController->curLoveIntroTipsShowStatus())
        m_navigateController->hideLoveIntroTips(false);
    // The grid and the favourites only browse: files handed over leave them for the viewer, as a
    // double click on a photo there does, though their File > Open waits for the viewer.
    const bool browsing = m_showMode == MainShowModeThumbnail || m_showMode == MainShowModeFavorite;
    if (!canDoAction(2) && !(browsing && isWorkableWindow())) {
        // Behind a dialog (an alert, a panel) they wait for its answer instead of being lost; in
        // crop mode or a slideshow, for the mode to end (a crop may be being saved).
        if (m_appLaunched && !paths.isEmpty()) {
            if (!isWorkableWindow()) {
                holdFilesWhileDialogIsUp(paths, includeSubDir);
            } else {
                m_heldOpenPaths = paths;
                m_heldIncludeSubDir = includeSubDir;
            }
        }
        return;
    }
    kpv::Window* cur = getCurWindow();
    if (m_appLaunched && cur && (!kpv::Application::shared().keyWindow() || !cur->isVisible()))
        cur->makeKeyAndOrderFront();
    if (m_navigateController)
        m_navigateController->abortScrollSession();
    const QStringList resolved = resolvingSymlinks(paths);
    const QList<LMPathString> files = m_delegate.extractSupportedFiles(resolved, includeSubDir);
    if (files.isEmpty()) {
        // Nothing to show (a folder without photos, a recent photo since removed, a dropped file
        // of another kind): the user hears why instead of seeing nothing happen.
        if (!paths.isEmpty())
            tellNothingToOpen(resolved);
        return;
    }
    std::weak_ptr<bool> alive = m_lifetime;
    auto open = [this, alive, files, resolved, includeSubDir](bool leave) {
        if (!leave || !alive.lock())
            return;
        if (m_showMode == MainShowModeView)
            m_delegate.operationQueue()->cancelAllOperations();
        if (m_navigateController) {
            m_navigateController->openFilePaths(files, resolved, includeSubDir);
            addFileToRecent(m_navigateController->curFilePath());
        }
        setSaveAsDirByOpenPaths(resolved);
        if (isMiniMode(m_showMode))
            setShowMode(MainShowModeMiniWithImage);
        else if (m_showMode != MainShowModeNone)
            setShowMode(MainShowModeView);
    };
    // A turn not yet written is saved (or asked about) before other files replace the shown one.
    if (m_showMode == MainShowModeView && m_navigateController)
        m_navigateController->checkUnsavedTurnBeforeLeaving(std::move(open));
    else
        open(true);
}

void MainWndController::tellNothingToOpen(const QStringList& paths)
{
    QStringList lines;
    for (const QString& problem : CommandLine::problemsWithPaths(paths, m_delegate.allowedFileExtensions()))
        lines << problem.left(1).toUpper() + problem.mid(1) + QLatin1Char('.');
    if (lines.isEmpty())
        lines << kpv::Bundle::mainBundle().localizedString(QStringLiteral("IDS_NoPhotosToOpen"));
    showFailureAlert(lines.join(QLatin1Char('\n')));
}

void MainWndController::holdFilesWhileDialogIsUp(const QStringList& paths, bool includeSubDir)
{
    QWidget* dialog = qApp ? QApplication::activeModalWidget() : nullptr;
    if (!dialog)
        return;
    // The latest hand-over is the one the user expects to see.
    m_heldOpenPaths = paths;
    m_heldIncludeSubDir = includeSubDir;
    whenDialogGoes(dialog, [this, alive = std::weak_ptr<bool>(m_lifetime)] {
        if (alive.expired() || m_heldOpenPaths.isEmpty())
            return;
        if (!isWorkableWindow()) {
            // Another dialog followed (an answer that asks again): the files wait for it too.
            holdFilesWhileDialogIsUp(m_heldOpenPaths, m_heldIncludeSubDir);
            return;
        }
        const QStringList held = std::exchange(m_heldOpenPaths, {});
        openFiles(held, m_heldIncludeSubDir);
    });
}

bool MainWndController::doOpenFile(const QString& directory, bool fromSandboxAccessTips)
{
    if (!canDoAction(2))
        return false;
    std::unique_ptr<LMIncludeSubDirOpenPanelController> panel =
        m_openPanelFactory ? m_openPanelFactory() : LMIncludeSubDirOpenPanelController::includeSubDirOpenPanelController();
    if (!panel)
        return false;
    // Without a folder of its own the panel starts where the last photo was opened, in this run
    // or an earlier one.
    QString start = directory;
    if (start.isEmpty()) {
        for (const QString& recent : std::as_const(m_recentDocuments)) {
            const QString folder = QFileInfo(recent).absolutePath();
            if (kpv::pathStatus(folder).isDirectory) {
                start = folder;
                break;
            }
        }
    }
    // The URL keeps the folder name's bytes, which the panel takes back from it.
    const QUrl dir = start.isEmpty() ? QUrl() : kpv::fileUrlFromName(start);
    if (panel->runModalOpenPanelWithDirectory(dir, !fromSandboxAccessTips, !fromSandboxAccessTips) != kpv::ModalResponseOK)
        return false;
    QStringList paths;
    for (const QString& u : panel->openFileURLs()) {
        const QUrl url(u);
        paths.append(url.isLocalFile() ? url.toLocalFile() : u);
    }
    openFiles(paths, panel->includeSubDir());
    return true;
}

void MainWndController::setSaveAsDirByOpenPaths(const QStringList& paths)
{
    QString best;
    for (int i = 0; i < paths.size(); ++i) {
        const QFileInfo info(paths[i]);
        const QString parent = QDir::cleanPath(info.absolutePath());
        if (i == 0) {
            if (paths.size() == 1) {
                if (info.isDir())
                    best = QDir::cleanPath(info.absoluteFilePath());
                else if (info.exists())
                    best = parent;
            } else {
                best = parent;
            }
        } else if (parent.size() < best.size()) {
            best = parent;
        }
    }
    if (!best.isEmpty())
        m_delegate.mainConfig()->setLastSaveAsDirUrl(kpv::fileUrlFromName(best + QLatin1Char('/')));
}

void MainWndController::addFileToRecent(const LMPathString& path)
{
    if (path.isEmpty())
        return;
    m_recentDocuments.removeAll(path.path());
    m_recentDocuments.prepend(path.path());
    while (m_recentDocuments.size() > kMaxRecentDocuments)
        m_recentDocuments.removeLast();
    storeRecentDocuments();
    rebuildRecentMenu();
    // The desktop's own list too, where file choosers and other programs show recent files.
    const QString shared = m_delegate.recentlyUsedList();
    if (!shared.isEmpty()) {
        static const QMimeDatabase mimeTypes;
        QString error;
        if (!kpv::addToRecentlyUsed(shared, path.path(), mimeTypes.mimeTypeForFile(path.path()).name(),
                                    {m_delegate.appName(), QStringLiteral("kestrane-viewer %u")},
                                    QDateTime::currentDateTimeUtc(), &error))
            qWarning("recent files: %s", qPrintable(error));
    }
}

void MainWndController::restoreRecentDocuments()
{
    m_recentDocuments.clear();
    MainConfig* config = m_delegate.mainConfig();
    if (!config)
        return;
    // Photos deleted or moved since are not offered.
    for (const QString& path : config->configInfoValueForKey(QString::fromLatin1(kRecentDocumentsKey)).toStringList()) {
        if (m_recentDocuments.size() >= kMaxRecentDocuments)
            break;
        if (!path.isEmpty() && kpv::pathStatus(path).isRegularFile && !m_recentDocuments.contains(path))
            m_recentDocuments << path;
    }
}

void MainWndController::storeRecentDocuments()
{
    if (MainConfig* config = m_delegate.mainConfig())
        config->setConfigInfoValue(m_recentDocuments, QString::fromLatin1(kRecentDocumentsKey));
}

QStringList MainWndController::recentDocumentPaths() const
{
    return m_recentDocuments;
}

void MainWndController::openRecentDocument(QString path)
{
    // A photo deleted, renamed or on a drive taken away since is told (by the opening), and leaves
    // the list instead of failing again at every choice; a restart would drop it as well.
    if (canDoAction(2) && !kpv::pathStatus(path).isRegularFile && m_recentDocuments.removeAll(path) > 0) {
        storeRecentDocuments();
        rebuildRecentMenu();
    }
    openFiles({path}, false);
}

void MainWndController::clearRecentDocuments()
{
    m_recentDocuments.clear();
    storeRecentDocuments();
    rebuildRecentMenu();
}

kpv::Rect MainWndController::restoredWindowFrame(const kpv::Rect& stored, const kpv::Rect& visible)
{
    kpv::Rect f = stored;
    if (!(f.width() > 0 && f.height() > 0)) {
        double w = 800, h = 600;
        if (visible.width() > 800 && visible.height() > 600) {
            const QSizeF s = LMImageTools::calcScalingSize(QSizeF(800, 600), QSizeF(visible.width(), visible.height()), 3);
            w = s.width();
            h = s.height();
        }
        return kpv::Rect(visible.x() + visible.width() / 2 - w / 2, visible.y() + visible.height() / 2 - h / 2, w, h);
    }
    double x = f.x(), y = f.y(), w = f.width(), h = f.height();
    if (w > visible.width()) {
        w = visible.width();
        x = visible.x();
    } else if (x + w > visible.maxX()) {
        x = visible.maxX() - w;
    } else if (x < visible.x()) {
        x = visible.x();
    }
    if (h > visible.height()) {
        h = visible.height();
        y = visible.y();
    } else if (y + h > visible.maxY()) {
        y = visible.maxY() - h;
    } else if (y < visible.y()) {
        y = visible.y();
    }
    return kpv::Rect(x, y, w, h);
}

kpv::Rect MainWndController::screenForStoredFrame(const kpv::Rect& stored, const std::vector<kpv::Rect>& visibleFrames)
{
    kpv::Rect best = visibleFrames.empty() ? kpv::Rect() : visibleFrames.front();
    double bestArea = 0;
    for (const kpv::Rect& visible : visibleFrames) {
        const kpv::Rect common = kpv::intersectionRect(stored, visible);
        const double area = common.isEmpty() ? 0 : common.width() * common.height();
        if (area > bestArea) {
            best = visible;
            bestArea = area;
        }
    }
    return best;
}

void MainWndController::restoreWindowFrame()
{
    if (!m_window)
        return;
    kpv::Rect stored;
    if (auto r = m_delegate.mainConfig()->mainWindowFrame())
        stored = kpv::Rect(r->x(), r->y(), r->width(), r->height());
    // The window's own screen first: a frame on no screen (one since unplugged) comes back there.
    std::vector<kpv::Rect> visibleFrames{m_window->screen().visibleFrame};
    for (const kpv::Screen& screen : kpv::Screen::screens())
        visibleFrames.push_back(screen.visibleFrame);
    // A window as large as the visible frame would have its title bar pushed off the screen (some
    // window managers put the content at the top of the screen and the title bar above it), and
    // the status line and the strip below the bottom of a screen: the frame is kept inside with
    // room for a title bar of the usual heights and for thin borders.
    constexpr double kTitleBarRoom = 40, kBorderRoom = 8;
    const kpv::Rect visible = screenForStoredFrame(stored, visibleFrames);
    const kpv::Rect room(visible.x() + kBorderRoom, visible.y() + kBorderRoom,
                         std::max(visible.width() - 2 * kBorderRoom, 0.0),
                         std::max(visible.height() - kTitleBarRoom - kBorderRoom, 0.0));
    m_window->setFrame(restoredWindowFrame(stored, room), false);
}

// ---- Events ----

void MainWndController::registEquivalentResponder(LMEquivalentResponder* responder, bool regist)
{
    m_equivalentResponders.registEquivalentResponder(responder, regist);
}

bool MainWndController::doEquivalentResponder(const std::function<bool(LMEquivalentResponder&)>& block)
{
    return m_equivalentResponders.doEquivalentResponder(block);
}

bool MainWndController::keyDown(const kpv::Event& e)
{
    if (doEquivalentResponder([&](LMEquivalentResponder& r) { return r.performKeyDownEquivalent(e); }))
        return true;
    // F11 enters and leaves full screen, and Esc leaves it, as everywhere on this desktop; a mode
    // that takes Esc itself (a slideshow, crop, the grids) has had it first. A slideshow keeps Esc
    // for itself even when it is not playing, but F11 works there as in every other mode.
    constexpr unsigned short kF11 = 103;
    constexpr std::uint64_t kModifiers = kpv::ShiftKeyMask | kpv::ControlKeyMask | kpv::AlternateKeyMask | kpv::CommandKeyMask;
    if (!m_window || (e.modifierFlags() & kModifiers) != 0 || isMiniMode(m_showMode))
        return false;
    const bool escapeLeaves = m_showMode != MainShowModeSlideshow && m_window->isFullScreen();
    if (e.keyCode() == kF11 || (e.keyCode() == kpv::KeyCode::Escape && escapeLeaves)) {
        if (!e.isARepeat())
            toggleFullScreen();
        return true;
    }
    return false;
}

bool MainWndController::keyUp(const kpv::Event& e)
{
    return doEquivalentResponder([&](LMEquivalentResponder& r) { return r.performKeyUpEquivalent(e); });
}

bool MainWndController::scrollWheel(const kpv::Event& e)
{
    return doEquivalentResponder([&](LMEquivalentResponder& r) { return r.performScrollWheelEquivalent(e); });
}

bool MainWndController::magnifyWithEvent(const kpv::Event& e)
{
    return doEquivalentResponder([&](LMEquivalentResponder& r) { return r.performMagnifyEquivalent(e); });
}

bool MainWndController::mouseMoved(const kpv::Event& e)
{
    // While the favourite button's tip shows, mouse moves are dropped altogether.
    if (m_navigateController && m_navigateController->curLoveIntroTipsShowStatus())
        return true;
    return doEquivalentResponder([&](LMEquivalentResponder& r) { return r.performMouseMovedEquivalent(e); });
}

// ---- Window delegate ----

void MainWndController::windowWillClose(kpv::Window*)
{
    if (m_navigateController)
        m_navigateController->hideLoveIntroTips(false);
    if (m_showMode == MainShowModeFavorite || m_showMode == MainShowModeCrop || m_showMode == MainShowModeThumbnail)
        setShowMode(MainShowModeView);
    if (m_window && m_window->isFullScreen())
        m_window->setFrame(m_windowFrameBeforeEnterFullScreen, true);
    if (m_window) {
        const kpv::Rect f = m_window->frame();
        m_delegate.mainConfig()->setMainWindowFrame(QRectF(f.x(), f.y(), f.width(), f.height()));
    }
    if (m_navigateController)
        m_navigateController->savePopWindowsPostionInfo();
    m_delegate.mainConfig()->save(true);
    // The slideshow controller is made afresh the next time.
    if (m_showMode != MainShowModeSlideshow)
        m_modeControllers.erase(MainShowModeSlideshow);
    // The viewer is its window: closing it quits, on the next turn so that the close completes
    // (the delegate then saves the settings and removes the temporary folder).
    std::weak_ptr<bool> alive = m_lifetime;
    kpv::RunLoop::main().perform([this, alive] {
        if (alive.lock())
            quitApplication();
    });
}

void MainWndController::windowDidResize(kpv::Window*)
{
    if (!m_window || !qApp)
        return;
    // The window system places a dialog once, when it opens; a window made smaller afterwards
    // would leave it hanging beside the window, its buttons over whatever lies there.
    // Alerts stand in the middle; the other dialogs (the application chooser) keep their place
    // below the title bar as long as they fit above the window's bottom.
    QWidget* parent = m_window->widget();
    const QRect area = parent->frameGeometry();
    for (QWidget* w : QApplication::topLevelWidgets()) {
        auto* dialog = qobject_cast<QDialog*>(w);
        if (!dialog || !dialog->isVisible() || dialog->parentWidget() != parent)
            continue;
        const QRect r = dialog->frameGeometry();
        const int y = qobject_cast<QMessageBox*>(dialog)
                          ? area.center().y() - r.height() / 2
                          : std::max(area.top(), std::min(r.top(), area.bottom() + 1 - r.height()));
        dialog->move(area.center().x() - r.width() / 2, y);
    }
}

bool MainWndController::windowShouldClose(kpv::Window*)
{
    if (m_closingAfterTurnCheck)
        return true;
    if (m_showMode != MainShowModeView || !m_navigateController) {
        if (kpv::workQuitWaitsFor() == 0)
            return true;
        // The window closes once the crop being saved is written, not before: closing would
        // cancel it unwritten.
        std::weak_ptr<bool> alive = m_lifetime;
        kpv::whenNoQuitWaitsFor([this, alive] {
            if (!alive.lock() || !m_window)
                return;
            m_closingAfterTurnCheck = true;
            m_window->performClose();
            m_closingAfterTurnCheck = false;
        });
        return false;
    }
    // The check may answer at once (nothing to write) or later (a write, a question).
    auto answered = std::make_shared<int>(0); // 0 not yet, 1 go, 2 stay
    auto asking = std::make_shared<bool>(true);
    std::weak_ptr<bool> alive = m_lifetime;
    m_navigateController->checkUnsavedTurnBeforeLeaving([this, alive, answered, asking](bool leave) {
        *answered = leave ? 1 : 2;
        if (*asking || !leave || !alive.lock() || !m_window)
            return;
        m_closingAfterTurnCheck = true;
        m_window->performClose();
        m_closingAfterTurnCheck = false;
    });
    *asking = false;
    return *answered == 1;
}

void MainWndController::quitAfterCheckingUnsavedTurn()
{
    // From the mini window the main window comes back first, so that a turn made there is
    // written (or asked about) as in the viewer instead of being dropped.
    if (m_showMode == MainShowModeMiniWithImage)
        if (auto* mini = dynamic_cast<MiniWindowController*>(existingModeController(MainShowModeMiniWithImage)))
            mini->switchToNormalMode();
    if (m_showMode != MainShowModeView || !m_navigateController) {
        // A crop being saved is let finish first: leaving the mode would cancel it unwritten.
        std::weak_ptr<bool> alive = m_lifetime;
        kpv::whenNoQuitWaitsFor([this, alive] {
            if (alive.lock())
                quitApplication();
        });
        return;
    }
    std::weak_ptr<bool> alive = m_lifetime;
    m_navigateController->checkUnsavedTurnBeforeLeaving([this, alive](bool leave) {
        if (leave && alive.lock())
            quitApplication();
    });
}

void MainWndController::quitApplication()
{
    if (m_quitHandler)
        m_quitHandler();
    else if (qApp)
        QCoreApplication::quit();
}

void MainWndController::windowWillEnterFullScreen()
{
    m_windowFrameBeforeEnterFullScreen = m_window ? m_window->frame() : kpv::Rect();
    m_windowLevelBeforeEnterFullScreen = m_window ? m_window->level() : int(kpv::NormalWindowLevel);
    if (m_window && m_windowLevelBeforeEnterFullScreen != kpv::NormalWindowLevel)
        m_window->setLevel(kpv::NormalWindowLevel);
    startCursorAutoHide();
}

void MainWndController::windowWillExitFullScreen() { stopCursorAutoHide(); }

void MainWndController::windowDidExitFullScreen()
{
    if (m_window && m_windowLevelBeforeEnterFullScreen != kpv::NormalWindowLevel)
        m_window->setLevel(m_windowLevelBeforeEnterFullScreen);
}

void MainWndController::windowWillMiniaturize()
{
    kpv::Window* w = getCurWindow();
    if (!w)
        return;
    m_windowLevelBeforeMiniaturize = w->level();
    if (m_windowLevelBeforeMiniaturize == kpv::FloatingWindowLevel)
        w->setLevel(kpv::NormalWindowLevel);
}

void MainWndController::windowDidDeminiaturize()
{
    kpv::Window* w = getCurWindow();
    if (w && w->level() != m_windowLevelBeforeMiniaturize)
        w->setLevel(m_windowLevelBeforeMiniaturize);
}

void MainWndController::toggleFullScreen()
{
    if (m_window)
        m_window->enterOrLeaveFullScreen();
}

void MainWndController::switchToSimpleMode()
{
    // The mini window is not part of this build; its mode has no controller to show.
    if (!m_factories.count(MainShowModeMiniWithImage)) {
        noteUnavailable(-1);
        return;
    }
    setShowMode(m_showMode == MainShowModeEmpty ? MainShowModeMiniEmpty : MainShowModeMiniWithImage);
}
