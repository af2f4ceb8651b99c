#include "View/NavigateController.h"
#include "View/NavLaunchPicture.h"
#include "foundation/FolderWatcher.h"

#include "Model/LMAppServices.h"
#include "Model/LMBlockOperation.h"
#include "Model/MainConfig.h"
#include "Model/PhotoSearchHandler.h"
#include "View/LMImageViewModel.h"
#include "View/NavGestureScrollFileSession.h"
#include "View/NavigateSaveFileSession.h"
#include "View/NavImageLoader.h"
#include "View/NavLoadPlanner.h"
#include "foundation/FileNames.h"

#include "foundation/Bundle.h"
#include "foundation/NotificationCenter.h"
#include "foundation/RunLoop.h"

#include <QDir>
#include <QFileInfo>

#include <algorithm>
#include <cmath>

const char *const NavDidChangeFileListNotification = "didChangeFileList";
const char *const NavDidChangeCurFileNotification = "didChangeCurFile";
const char *const NavDidLoadImageNotification = "didLoadImage";
const char *const NavDidUpdateSmallThumbNotification = "didUpdateSmallThumb";
const char *const NavDidLoadCurrentFileInfoNotification = "didLoadCurrentFileInfo";
const char *const NavDidLoadCurrentSmallThumbNotification = "didLoadCurrentSmallThumb";
const char *const NavDidLoadCurrentLargeThumbNotification = "didLoadCurrentLargeThumb";
const char *const NavDidCurFileImageUpdatedNotification = "didCurFileImageUpdated";

namespace {

constexpr double kViewportAnimationTick = 1.0 / 60.0;
constexpr double kViewportAnimationDuration = 0.3;
constexpr int64_t kFavoriteViewportMargin = 30;
// How long the last photo stays on screen for a next one whose picture is late.
constexpr double kLoadingMarkDelay = 0.3;

QString latin1(const char *s) { return QString::fromLatin1(s); }

} // namespace

// ---- Life cycle and wiring ----

NavigateController::NavigateController(LMImageViewModel *openGLView, NavigateControllerHost *host,
                                       const NavImageLoader *loader, NavPagingViewFactory *pagingViews)
    : m_openGLView(openGLView)
    , m_host(host)
    , m_loader(loader)
    , m_pagingViews(pagingViews)
    , m_self(std::make_shared<NavigateController *>(this))
{
    PhotoSearchHandler::Environment env;
    env.allowedFileExtensions = [] {
        LMAppServices *services = LMAppServices::shared();
        return services ? services->allowedFileExtensions() : QStringList();
    };
    env.sortByType = [this] {
        MainConfig *c = config();
        return c ? int(c->sortByType()) : int(NavSortByName);
    };
    m_photoSearchHandler = std::make_unique<PhotoSearchHandler>(std::move(env));
    m_unsavedRotationCheck = [this](bool cancelAlternateButton, std::function<void(int)> done) {
        checkAndSaveCurFile(false, cancelAlternateButton, std::move(done));
    };
}

NavigateController::~NavigateController()
{
    *m_self = nullptr;
    releaseTurnedFile();
    registNotifications(false);
    stopFavorFileAnimationTimer();
    m_navigateSaveFileSession.reset();
    if (m_autoNavTimer)
        m_autoNavTimer->invalidate();
    if (m_curFileLeftTimer)
        m_curFileLeftTimer->invalidate();
    if (m_loadingMarkTimer)
        m_loadingMarkTimer->invalidate();
    // The swipe session refers to the controller; it goes first.
    m_navGestureScrollFileSession.reset();
    m_photoSearchHandler.reset();
}

MainConfig *NavigateController::config() const
{
    return m_host ? m_host->mainConfig() : nullptr;
}

void NavigateController::postNotification(const char *name, const QVariantMap &userInfo) const
{
    kpv::NotificationCenter::defaultCenter().postNotification(latin1(name), this, userInfo);
}

void NavigateController::awakeFromNib()
{
    registNotifications(true);
    m_filenameUIHeight = 10.0;
    if (m_openGLView)
        m_openGLView->setFitinLeftMargin(0, 0, 0, 1.0);
    updateOpenGLViewSettingsByCurConfig();
    if (m_host) {
        m_host->updateStatusInfo(QString(), false, 0);
        m_host->setFileImgBaseInfo(nullptr, 0);
    }
}

void NavigateController::registNotifications(bool regist)
{
    auto &center = kpv::NotificationCenter::defaultCenter();
    if (!regist) {
        if (m_registered)
            center.removeObserver(this);
        m_registered = false;
        return;
    }
    if (m_registered)
        return;
    m_registered = true;
    auto mode = [](const kpv::Notification &n, const char *key) { return n.userInfo.value(latin1(key)).toLongLong(); };
    center.addObserver(this, latin1("willChangeMainShowMode"), nullptr, [this, mode](const kpv::Notification &n) {
        willChangeMainShowMode(mode(n, "old"), mode(n, "new"));
    });
    center.addObserver(this, latin1("didChangeMainShowMode"), nullptr, [this, mode](const kpv::Notification &n) {
        didChangeMainShowMode(mode(n, "old"), mode(n, "new"));
    });
    center.addObserver(this, latin1(NavDidLoadImageNotification), nullptr,
                       [this](const kpv::Notification &n) { didLoadImage(n.userInfo); });
    center.addObserver(this, latin1(NavDidUpdateSmallThumbNotification), nullptr,
                       [this](const kpv::Notification &n) { didUpdateSmallThumb(n.userInfo); });
    if (m_openGLView) {
        center.addObserver(this, latin1(LMOpenGLViewDoChangeScaleNotification), m_openGLView->notificationObject(),
                           [this](const kpv::Notification &) { doChangeScale(); });
        center.addObserver(this, latin1(LMOpenGLViewDidChangeImageVisibleRectNotification),
                           m_openGLView->notificationObject(),
                           [this](const kpv::Notification &) { scheduleRegionsForStillView(); });
    }
    center.addObserver(this, latin1("fileModified"), nullptr, [this](const kpv::Notification &n) {
        didFileModified(n.userInfo.value(latin1("filePath")).value<LMPathString>());
    });
    center.addObserver(this, latin1("filesDeleted"), nullptr, [this](const kpv::Notification &n) {
        didFilesDeleted(n.userInfo.value(latin1("filePathList")).value<QList<LMPathString>>());
    });
    center.addObserver(this, latin1("didChangeOptionSetting"), nullptr,
                       [this](const kpv::Notification &) { didChangeOptionSetting(); });
    center.addObserver(this, latin1(NavFilesBatchRenamedNotification), nullptr, [this](const kpv::Notification &n) {
        QHash<LMPathString, LMPathString> map;
        for (auto it = n.userInfo.cbegin(); it != n.userInfo.cend(); ++it)
            map.insert(LMPathString(it.key(), false), it.value().value<LMPathString>());
        didFilesBatchRenamed(map);
    });
    center.addObserver(this, latin1("didAutoHideCursor"), nullptr,
                       [this](const kpv::Notification &) { didAutoHideCursor(); });
    center.addObserver(this, latin1("DidSlideshowFirstFrameDisplayed"), nullptr,
                       [this](const kpv::Notification &) { didSlideshowFirstFrameDisplayed(); });
}

void NavigateController::updateOpenGLViewSettingsByCurConfig()
{
    MainConfig *c = config();
    if (!m_openGLView || !c)
        return;
    int64_t action = MouseWheelActionPan;
    if (c->mouseWheelEnabled())
        action = c->zoomWhileMouseWheel() ? MouseWheelActionZoom : MouseWheelActionPassOn;
    m_openGLView->setMouseWheelAction(action);
    m_openGLView->setAnimationZoom(c->animationZoom());
    // The wheel does in the mini window what the user chose for it, there too.
    if (LMImageViewModel *mini = m_host ? m_host->miniWindowOpenGLView() : nullptr)
        mini->setMouseWheelAction(action);
}

void NavigateController::updatePreviewStatusShowProxyAutoHideInterval(bool zoomStatus)
{
    if (!m_host)
        return;
    double interval = 3.0;
    if (zoomStatus) {
        MainConfig *c = config();
        interval = (c && !c->animationZoom()) ? 0.3 : 0.1;
    }
    m_host->setPreviewStatusAutoHideInterval(interval);
}

// ---- The list ----

QList<LMPathString> NavigateController::filePaths() const
{
    return m_navSortFileInfoList ? m_navSortFileInfoList->sortedFilePaths() : QList<LMPathString>();
}

qsizetype NavigateController::fileCount() const
{
    return m_navSortFileInfoList ? m_navSortFileInfoList->count() : 0;
}

void NavigateController::openFilePaths(const QList<LMPathString> &paths, const QStringList &choosedOriginalPaths,
                                       bool includeSubDir)
{
    if (paths.isEmpty())
        return;
    // Files added later to what the user opened join the list: a folder, or a file standing for
    // its folder; a choice of several files stays that choice. A list given again without a
    // choice (as Undo Move to Trash does) keeps the rule of the open it came from.
    if (!choosedOriginalPaths.isEmpty()) {
        m_addFilesFromWatchedFolders = includeSubDir || choosedOriginalPaths.size() == 1 ||
                                       std::any_of(choosedOriginalPaths.begin(), choosedOriginalPaths.end(),
                                                   [](const QString &p) { return kpv::pathStatus(p).isDirectory; });
        m_watchedTrees.clear();
        if (includeSubDir) {
            for (const QString &p : choosedOriginalPaths)
                if (kpv::pathStatus(p).isDirectory)
                    m_watchedTrees << QDir::cleanPath(p);
        }
        m_treeFolders.clear();
        refreshTreeFolders();
    }
    if (m_host)
        m_host->hideSandboxAccessTips(m_host->showMode() == NavShowModeView);
    m_navSortFileInfoList = std::make_unique<NavSortFileInfoList>(
        m_photoSearchHandler->submitSearchTaskWithSearchedFilePaths(paths, choosedOriginalPaths, includeSubDir));
    if (MainConfig *c = config())
        m_navSortFileInfoList->sortFilesByType(int(c->sortByType()));

    qsizetype index = 0;
    if (!m_curFilePath.isEmpty()) {
        const qsizetype found = m_navSortFileInfoList->sortedFilePaths().indexOf(m_curFilePath);
        if (found >= 0) {
            index = found;
            // The decoded images of the file shown survive a new open only when the file has not
            // changed on disk since they were decoded.
            const LMNavFileInfoPtr info = fileInfoByPath(m_curFilePath);
            if (info) {
                const LMFileImgBaseInfoPtr base = info->imgBaseInfo();
                const QDateTime now = m_curFilePath.dateModified();
                if (!base || !base->fileModificationDate().isValid() || !now.isValid()
                    || base->fileModificationDate() != now)
                    m_cacheFileInfos.remove(m_curFilePath);
            }
        }
    }
    clearLoadMasks();
    navCurFileToIndexByFileListChanged(index);
}

void NavigateController::resetAllNavFiles()
{
    if (m_host)
        stopFavorFileAnimationTimer();
    abortScrollSession();
    endAutoNav();
    m_navSortFileInfoList.reset();
    releaseTurnedFile();
    m_curFilePath = LMPathString();
    m_curFileIndex = 0;
    m_cacheFileInfos.clear();
    m_photoSearchHandler->stopSearch();
    // Cleared, not destroyed: this may run from inside the watcher's own report.
    m_watchedFolders.clear();
    m_watchedTrees.clear();
    m_treeFolders.clear();
    endWaitForCurFileLeft();
    if (m_folderWatcher)
        m_folderWatcher->watch({}, {});
    clearLoadMasks();
    if (m_openGLView)
        m_openGLView->didChangeFile();
    if (m_host)
        m_host->resetPhotoBinFiles();
}

void NavigateController::navCurFileToIndexByFileListChanged(qsizetype index)
{
    const bool changed = navCurFileToIndex(index, true, true, false);
    updateWatchedFolders();
    postNotification(NavDidChangeFileListNotification,
                     {{latin1("filePathList"), QVariant::fromValue(filePaths())}});
    updateWindowTitle();
    if (changed) {
        postNotification(NavDidChangeCurFileNotification, {{latin1("filePath"), QVariant::fromValue(m_curFilePath)},
                                                           {latin1("quickNav"), false}});
    }
}

bool NavigateController::navCurFileToIndex(qsizetype index, bool fileListChanged, bool navNext, bool quick)
{
    if (m_host)
        stopFavorFileAnimationTimer();
    if (index < 0 || index >= fileCount())
        return false;
    const LMPathString path = m_navSortFileInfoList->sortedFilePaths().at(index);
    const LMPathString old = m_curFilePath;
    bool changed = false;
    if (path == old && m_curFileIndex == index) {
        if (!fileListChanged)
            return false;
    } else if (path == old) {
        m_curFileIndex = index;
        changed = true;
    } else {
        m_steppedInList = !fileListChanged && !old.isEmpty();
        if (!old.isEmpty() && old == m_curFileLeftPath)
            dropShownPhotoThatLeftSoon();
        releaseTurnedFile();
        if (!old.isEmpty())
            NavLaunchPicture::closeFiles(); // the start's photo was left
        m_curFilePath = path;
        m_curFileIndex = index;
        clearLoadMasks();
        forgetRecordIfFileChanged(path);
        m_curFileChangedSincePass = true;
        changed = true;
    }

    const int64_t mode = m_host ? m_host->showMode() : 0;
    if (mode == NavShowModeView || mode == NavShowModeMiniImage)
        submitCacheOperation(navNext, quick);

    if (changed) {
        updateWindowTitle();
        if (m_folderWatcher)
            updateWatchedFile();
        const LMNavFileInfoPtr info = curFileInfo();
        // The same photo at another place in the list is read again only if it changed: one gone
        // with a turn not yet saved (its folder emptied, its drive ejected) stays shown with its
        // turn, as when it alone went, for leaving it to ask.
        const bool sameGoneWithTurn = hasUnsavedTurn() && !kpv::pathStatus(path.path()).exists;
        const bool refresh = (info && old == info->filePath()) ? info->fileModified() && !sameGoneWithTurn : true;
        if (refresh && m_openGLView) {
            MainConfig *c = config();
            const bool keep = c && c->keepPrevScaleWhenNavFile();
            // Only a step: a photo taken away (deleted, a new list) leaves the screen at once.
            const bool step = (mode == NavShowModeView || mode == NavShowModeMiniImage) && !fileListChanged &&
                              !old.isEmpty() && path != old && !curFilePictureAtHand();
            LMImageViewModel *shown = currentView();
            if (step && shown == m_openGLView)
                emptyViewHoldingPicture(*m_openGLView, keep);
            else
                m_openGLView->didChangeFileByKeepPrevScale(keep);
            // The mini window's view lets go of the last file's pictures too: a fit-in picture
            // kept from it would be drawn under the next file, and would lay out the picture
            // that says a file cannot be shown in the last photo's shape and turn. On a step
            // only its screen keeps the last photo, as the main view's does.
            if (shown && shown != m_openGLView) {
                if (step)
                    emptyViewHoldingPicture(*shown, false);
                else
                    shown->didChangeFileByKeepPrevScale(false);
            }
            m_openGLView->setImage(info ? info->imageByType(NavLoadPlanner::kSmallThumbType) : nullptr, ImageModeNormal);
            const bool gif = info ? isGifFile(info.get()) : path.path().endsWith(latin1(".gif"), Qt::CaseInsensitive);
            m_openGLView->setImageSupportRotate(!gif);
            updateOpenGLViewImage(ImageModeFitin);
            updateOpenGLViewImage(ImageModeNormal);
            updatePreviewStatusUIForCurFile(false);
            if (m_host)
                m_host->checkShowHideNavigationWindow();
        }
    }
    if (changed && !fileListChanged) {
        postNotification(NavDidChangeCurFileNotification, {{latin1("filePath"), QVariant::fromValue(m_curFilePath)},
                                                           {latin1("quickNav"), quick}});
    }
    return changed;
}

bool NavigateController::curFilePictureAtHand() const
{
    const LMNavFileInfoPtr info = curFileInfo();
    return info && (info->matchImageByScale(1.0) || curFileCannotBeShown());
}

void NavigateController::emptyViewHoldingPicture(LMImageViewModel &view, bool keepPrevScale)
{
    const bool held = view.holdsPicture();
    view.didChangeFileHoldingPicture(keepPrevScale);
    if (held || !view.holdsPicture())
        return;
    if (m_loadingMarkTimer)
        m_loadingMarkTimer->invalidate();
    std::weak_ptr<NavigateController *> self = m_self;
    m_loadingMarkTimer = kpv::RunLoop::current().performAfterDelay(kLoadingMarkDelay, [self] {
        if (auto s = self.lock(); s && *s)
            (*s)->showLoadingUnderHeldPicture();
    });
}

void NavigateController::showLoadingUnderHeldPicture()
{
    m_loadingMarkTimer.reset();
    LMImageViewModel *shown = currentView();
    if (!shown || !shown->holdsPicture())
        return;
    shown->releaseHeldPicture();
    // The mini window takes the next photo's size now: it kept the last one's for the picture held.
    if (shown != m_openGLView)
        updateOpenGLViewImage(ImageModeFitin);
    updatePreviewStatusUIForCurFile(true);
}

void NavigateController::updateWindowTitle()
{
    if (!m_host)
        return;
    if (m_curFilePath.isEmpty()) {
        m_host->setWindowTitle(QString(), QString());
        return;
    }
    const QString name = kpv::displayFileName(LMPathString::lastPathComponent(m_curFilePath.path()));
    const qsizetype count = fileCount();
    const QString title = count == 1 ? name : QStringLiteral("%1 (%2/%3)").arg(name).arg(m_curFileIndex + 1).arg(count);
    m_host->setWindowTitle(title, m_curFilePath.path());
}

bool NavigateController::isGifFile(const LMNavFileInfo *fileInfo)
{
    if (!fileInfo)
        return false;
    if (const LMFileImgBaseInfoPtr base = fileInfo->imgBaseInfo())
        return base->AMCMImageType() == 4;
    return fileInfo->filePath().path().endsWith(QStringLiteral(".gif"), Qt::CaseInsensitive);
}

// ---- Records ----

LMNavFileInfoPtr NavigateController::curFileInfo() const
{
    return fileInfoByPath(m_curFilePath);
}

LMNavFileInfoPtr NavigateController::fileInfoByPath(const LMPathString &path) const
{
    return m_cacheFileInfos.value(path);
}

LMNavFileInfoPtr NavigateController::fileInfoByIndex(qsizetype index) const
{
    if (index < 0 || index >= fileCount())
        return nullptr;
    return fileInfoByPath(m_navSortFileInfoList->sortedFilePaths().at(index));
}

LMNavFileInfoPtr NavigateController::acquireFileInfoByPath(const LMPathString &path)
{
    if (path.isEmpty())
        return nullptr;
    auto it = m_cacheFileInfos.find(path);
    if (it != m_cacheFileInfos.end())
        return it.value();
    auto info = std::make_shared<LMNavFileInfo>(path);
    m_cacheFileInfos.insert(path, info);
    return info;
}

LMNavFileInfoPtr NavigateController::acquireFileInfoByIndex(qsizetype index)
{
    if (index < 0 || index >= fileCount())
        return nullptr;
    return acquireFileInfoByPath(m_navSortFileInfoList->sortedFilePaths().at(index));
}

// ---- Showing the current file ----

bool NavigateController::putCurFileImageIntoView(LMImageViewModel &view, int imageMode)
{
    const LMNavFileInfoPtr info = curFileInfo();
    if (imageMode == ImageModeFitin && info) {
        const LMFileImgBaseInfoPtr base = info->imgBaseInfo();
        if ((base && base->AMCMImageType() == 4) || view.imageFitin())
            return false;
        LMImagePtr image = info->imageByType(NavLoadPlanner::kSmallFitinType);
        if (!image)
            image = info->imageByType(NavLoadPlanner::kLargeFitinType);
        if (!image)
            return false;
        view.setImage(image, ImageModeFitin);
    } else if (imageMode == ImageModeNormal && info) {
        // The scale the file will be shown at: a fitted view fits this file, whatever it showed
        // before. Until the file's size is known nothing larger is asked for: the pass has asked
        // for the fit-in image, and a view without a picture has no scale of its own.
        double scale = view.scale();
        const LMFileImgBaseInfoPtr base = info->imgBaseInfo();
        if (view.fitinMode() && base) {
            if (const double fit = view.calcFitinScaleForImage(base, view.angleRotate()); fit > 0)
                scale = fit;
        }
        // A zoom in shows the picture it is going to from its first frame when that is decoded
        // already: its frames on the way then draw the file's pixels rather than a smaller
        // picture enlarged.
        if (view.isZoomTimerRunning()) {
            const double end = view.zoomTimerUserInfo().value(QStringLiteral("endScale")).toDouble();
            if (end > scale)
                scale = end;
        }
        // Nor while the fit-in image is on its way: it may well be the size wanted, and the
        // filing of it looks again.
        const int fitin = fitinImageType();
        bool fitinFailed = false;
        const bool fitinPending = (m_operationMasks.value(info->filePath()) & LMScaleTypeMask::bit(fitin)) &&
                                  !info->imageByType(fitin, &fitinFailed) && !fitinFailed;
        int preferred = 0;
        LMImagePtr image = info->matchImageByScale(scale, base && !fitinPending ? &preferred : nullptr, nullptr);
        // A fitted view showing the fit-in image has every pixel it can show: a reduction of the
        // file, larger than the view, would be decoded only to be scaled down again.
        if (preferred && image && view.fitinMode() && image->scaleOfOriginal() >= scale * (1 - 1e-9) &&
            (image == info->imageByType(NavLoadPlanner::kSmallFitinType) ||
             image == info->imageByType(NavLoadPlanner::kLargeFitinType)))
            preferred = 0;
        // Regions of what the view shows serve a picture too large to hold whole, and any file
        // they serve on the way of a zoom: the picture for the scale the view comes to rest at
        // is asked for once it is still.
        if (preferred >= 1 && preferred <= 7 && m_loader && &view == m_openGLView && regionsServe(info)) {
            const QSizeF size = m_loader->imageSizeByScaleType(preferred, base);
            if (!NavRegionCache::holdsWhole(size) || view.isZoomTimerRunning())
                preferred = 0;
        }
        // Nor while an arrow is held: the step after next would leave that decode running for a
        // file already left. The end of the stepping asks again.
        if (m_autoNavTimer)
            preferred = 0;
        if (preferred >= 1 && preferred <= 7) {
            if (auto op = createOperationForLoadImage(info, preferred, true, false); op && m_host)
                m_host->addOperation(op);
        }
        // An animation still decoding shows the frames decoded so far, unless a picture as wide is
        // there; it waits on its last decoded frame for the next.
        const LMImagePtr &partial = m_framesSoFar.image;
        const bool decoding = partial && m_framesSoFar.path == info->filePath() && (!image || image->width() < partial->width());
        if (decoding)
            image = partial;
        view.setImage(image, ImageModeNormal);
        view.setFramesStillDecoding(decoding);
    } else {
        view.setImage(nullptr, imageMode);
    }
    return true;
}

void NavigateController::updateOpenGLViewImage(int imageMode)
{
    if (!m_openGLView)
        return;
    const int64_t mode = m_host ? m_host->showMode() : 0;
    if (mode == NavShowModeMiniImage || mode == NavShowModeMiniEmpty) {
        m_host->setShowMode(NavShowModeMiniImage);
        LMImageViewModel *mini = m_host->miniWindowOpenGLView();
        const int angle = mini ? int(mini->angleRotate().angleRotate()) : 0;
        m_host->updateMiniUI(imageMode, angle);
        return;
    }
    const bool gaveImage = putCurFileImageIntoView(*m_openGLView, imageMode);
    if (gaveImage && !m_shadowImage && m_host) {
        if (LMImagePtr shadow = acquireShadowImage())
            m_host->setViewShadowImage(shadow);
    }
}

LMImagePtr NavigateController::acquireShadowImage()
{
    if (!m_shadowImage)
        m_shadowImage = loadOriginalImageByFileName(QStringLiteral("BG_PICShadow.tiff"));
    return m_shadowImage;
}

void NavigateController::updatePreviewStatusUIForCurFile(bool statusOnly)
{
    if (!m_host)
        return;
    bool failed = false;
    const LMNavFileInfoPtr info = curFileInfo();
    LMImagePtr thumb = info ? info->imageByType(NavLoadPlanner::kSmallThumbType, &failed) : nullptr;
    // A file that stores no thumbnail shows its sharp picture first: that one tells as much, its
    // failure too (no thumbnail is made then).
    if (!thumb && !failed && info)
        thumb = info->imageByType(fitinImageType(), &failed);
    // While the last photo stays on screen for this one, nothing is said yet.
    const LMImageViewModel *shown = currentView();
    const bool pictureHeld = !thumb && !failed && shown && shown->holdsPicture();
    // Without a file there is nothing on its way: the empty mini window said "Loading" for good.
    const bool noFile = m_curFilePath.isEmpty();
    if (!m_reachTopOrBottomInfoShowed) {
        if (thumb || pictureHeld || noFile) {
            m_host->hidePreviewStatus(false, false);
            m_host->updateStatusInfo(QString(), false, 0);
        } else {
            m_host->showPreviewStatus(false, false);
            if (failed) {
                m_host->updateStatusInfo(m_host->localizedString(QStringLiteral("IDS_BAD_IMAGE")), false, 0);
                m_host->updateStatusReason(info ? info->failureReason() : QString());
            } else
                m_host->updateStatusInfo(m_host->localizedString(QStringLiteral("IDS_LOADING")), true, 1);
        }
    }
    if (!statusOnly) {
        MainConfig *c = config();
        // The record's own information names the file as it is called now; a picture read before
        // the file was renamed still carries the old name.
        LMFileImgBaseInfoPtr shown = thumb ? thumb->originalImgBaseInfo() : nullptr;
        if (thumb && info && info->imgBaseInfo())
            shown = info->imgBaseInfo();
        m_host->setFileImgBaseInfo(shown, c ? c->filePropertyMask() : 0);
        // In the view the user looks at: the mini window's, when it shows the file.
        if (LMImageViewModel *view = failed ? currentView() : nullptr)
            view->setImage(acquireBadFileImage(), ImageModeBadFile);
    }
}

bool NavigateController::curFileCannotBeShown() const
{
    const LMNavFileInfoPtr info = curFileInfo();
    if (!info)
        return false;
    bool failed = false;
    if (info->imageByType(NavLoadPlanner::kSmallThumbType, &failed) || failed)
        return failed;
    info->imageByType(fitinImageType(), &failed);
    return failed;
}

// ---- Show modes ----

void NavigateController::willChangeMainShowMode(int64_t, int64_t newMode)
{
    if (newMode == NavShowModeView || newMode == NavShowModeMiniImage) {
        clearLoadMasks();
        submitCacheOperation(true, false);
    }
}

void NavigateController::didChangeMainShowMode(int64_t oldMode, int64_t newMode)
{
    if (m_host) {
        if ((newMode == NavShowModeView || newMode == NavShowModeFavorite)
            && oldMode != NavShowModeView && oldMode != NavShowModeFavorite)
            m_host->showImageView((oldMode & 80) != 0, false);
        else if (newMode == NavShowModeCrop || newMode == NavShowModeThumbnail)
            m_host->hideImageView(true, false);
        else if (newMode != NavShowModeSlideshow && newMode != NavShowModeView && newMode != NavShowModeFavorite)
            m_host->hideImageView(false, false);
    }
    if (newMode != NavShowModeView) {
        if (newMode == NavShowModeFavorite && oldMode == NavShowModeView)
            reduceImageForFavSwitch(true);
        if (m_host)
            m_host->hideNextPrev(false, false);
    } else {
        if (oldMode == NavShowModeFavorite)
            reduceImageForFavSwitch(false);
        else if (oldMode != NavShowModeView && (oldMode == 0 || (oldMode & 3) != 0) && m_host)
            m_host->showNextPrev(true, true);
        if (m_needReorderFilePaths) {
            MainConfig *c = config();
            sortFiles(c ? c->sortByType() : int64_t(NavSortByName), true);
        }
    }
    if (m_host) {
        m_host->setNavInfoContainerHidden(newMode != NavShowModeView);
        m_host->registEquivalentResponder(this, newMode == NavShowModeView);
    }
    if (m_openGLView)
        m_openGLView->setEnable(newMode == NavShowModeView);
}

void NavigateController::reduceImageForFavSwitch(bool reduce)
{
    if (!m_openGLView)
        return;
    m_imageReduceForFavSwitchTimer.stop();
    const int64_t from = reduce ? 0 : kFavoriteViewportMargin;
    const int64_t to = reduce ? kFavoriteViewportMargin : 0;
    m_openGLView->setViewPortMargin(from);
    const double start = kpv::RunLoop::main().now();
    LMImageViewModel *view = m_openGLView;
    m_imageReduceForFavSwitchTimer.start(
        kViewportAnimationTick, {},
        [view, from, to, start](bool *stop) {
            const double t = std::min(kpv::RunLoop::main().now() - start, kViewportAnimationDuration);
            const double p = std::sin(t / kViewportAnimationDuration * M_PI / 2);
            view->setViewPortMargin(from + int64_t(double(to - from) * p));
            if (t >= kViewportAnimationDuration)
                *stop = true;
        },
        [view, to](bool) { view->setViewPortMargin(to); });
}
