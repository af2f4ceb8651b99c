#include "Shell/Modes/MainWndNavigateHost.h"
#include "Edit/CropViewController.h"
#include "Model/LMImage.h"
#include "Shell/Modes/MainWndFavoriteHost.h"

#include "Shell/MainWindow/AppDelegate.h"
#include "Shell/MainWindow/LMMainWindow.h"
#include "Shell/MainWindow/MainWndController.h"
#include "Shell/Modes/MainWndEditSheets.h"
#include "Shell/ViewChrome/MainWndPhotoBin.h"
#include "Shell/MainWindow/MainWndSecondaryWindows.h"
#include "Shell/Modes/MainWndSlideshowHost.h"
#include "Shell/ViewChrome/NavigateOverlays.h"
#include "Shell/Panels/NavigateWindowController.h"

#include "Browse/FavFileSnapshotView.h"
#include "Share/ShareFileInfo.h"
#include "Browse/FavoriteFileInfo.h"
#include "Browse/FavoriteViewController.h"
#include "Browse/MiniWindowController.h"
#include "Kit/LMButton.h"
#include "Kit/LMFadeShowProxy.h"
#include "Model/MainConfig.h"
#include "View/LMOpenGLView.h"
#include "View/NavigateController.h"
#include "View/NavToolbarController.h"
#include "appkit/DragSource.h"
#include "appkit/Pasteboard.h"
#include "Shell/Desktop/PrintView.h"
#include "appkit/PrintPanel.h"
#include "foundation/Bundle.h"
#include "imageio/FileAccess.h"
#include "foundation/OperationQueue.h"
#include "foundation/RunLoop.h"

#include <QFileInfo>
#include <cmath>
#include <QUrl>

namespace {

// Where the nine-slice drop shadow is cut and how far it reaches outside the image.
const QPointF kShadowSliceLeftTop(9, 12);
const QPointF kShadowSliceRightBottom(12, 21);
const QPointF kShadowDrawOffsetLeftTop(7, 6);
const QPointF kShadowDrawOffsetRightBottom(12, 13);

} // namespace

MainWndNavigateHost::MainWndNavigateHost(AppDelegate& delegate, MainWndController& windowController,
                                         LMOpenGLView* imageView, LMEquivalentResponder* responder)
    : m_delegate(delegate), m_windowController(windowController), m_imageView(imageView), m_responder(responder)
{
}

MainWndNavigateHost::~MainWndNavigateHost() = default;

// ---- Which commands the application can carry out ----

bool MainWndNavigateHost::supportsAction(long actionId) const
{
    switch (actionId) {
    case 9: return m_windowController.hasModeController(MainShowModeCrop);
    case 11:
    case 13: return m_windowController.hasModeController(MainShowModeFavorite);
    case 28: return m_photoBin != nullptr;
    case 29: return bool(m_entries.switchPropertiesWindow);
    case 38: return m_windowController.hasModeController(MainShowModeThumbnail);
    case 39: return m_windowController.hasModeController(MainShowModeSlideshow);
    default: return true;
    }
}

void MainWndNavigateHost::hideLoveIntroTips(bool animate)
{
    if (m_toolbar)
        m_toolbar->hideLoveIntroTips(animate);
}

bool MainWndNavigateHost::propertiesWindowShown() const
{
    return m_entries.propertiesWindowShown && m_entries.propertiesWindowShown();
}

void MainWndNavigateHost::switchPropertiesWindow()
{
    if (m_entries.switchPropertiesWindow)
        m_entries.switchPropertiesWindow();
}

void MainWndNavigateHost::savePopWindowsPostionInfo()
{
    if (m_entries.savePopWindowsPostionInfo)
        m_entries.savePopWindowsPostionInfo();
}

FavoriteViewController* MainWndNavigateHost::favoriteController() const
{
    if (!m_windowController.hasModeController(MainShowModeFavorite))
        return nullptr;
    return dynamic_cast<FavoriteViewController*>(m_windowController.favoriteViewController());
}

ShowModeController* MainWndNavigateHost::miniController() const
{
    return m_windowController.existingModeController(MainShowModeMiniWithImage);
}

// ---- Application delegate ----

MainConfig* MainWndNavigateHost::mainConfig() { return m_delegate.mainConfig(); }

void MainWndNavigateHost::addOperation(std::shared_ptr<kpv::Operation> operation)
{
    if (operation && m_delegate.operationQueue())
        m_delegate.operationQueue()->addOperation(std::move(operation));
}

void MainWndNavigateHost::performAfterImageViewFrame(std::function<void()> block)
{
    if (m_imageView)
        m_imageView->performAfterNextFrame(std::move(block));
    else if (block)
        kpv::RunLoop::current().perform(std::move(block));
}

void MainWndNavigateHost::cancelAllOperations()
{
    if (m_delegate.operationQueue())
        m_delegate.operationQueue()->cancelAllOperations();
}

QString MainWndNavigateHost::localizedString(const QString& key) const
{
    return kpv::Bundle::mainBundle().localizedString(key);
}

QString MainWndNavigateHost::resourcePath(const QString& fileName) const
{
    // A resource file by its exact name, else the skin's image of that name (the skin draws the
    // viewer's pictures as PNG whatever extension the name carries).
    const kpv::Bundle& bundle = kpv::Bundle::mainBundle();
    const QString path = bundle.pathForResource(fileName);
    return path.isEmpty() ? bundle.imageNamed(fileName) : path;
}

// ---- Main window controller ----

int64_t MainWndNavigateHost::showMode() const { return m_windowController.showMode(); }

void MainWndNavigateHost::setShowMode(int64_t mode) { m_windowController.setShowMode(long(mode)); }

void MainWndNavigateHost::registEquivalentResponder(NavigateController*, bool regist)
{
    if (m_responder)
        m_windowController.registEquivalentResponder(m_responder, regist);
}

void MainWndNavigateHost::setWindowTitle(const QString& title, const QString& representedFilename)
{
    m_viewerTitle = title;
    m_viewerFilename = representedFilename;
    // The mini window names the photo it shows as the viewer does, where window lists show it.
    if (ShowModeController* mini = miniController())
        if (kpv::Window* miniWindow = mini->window())
            miniWindow->setTitle(title);
    // A slideshow shows the program's name; crop mode goes on naming the photo it works on,
    // though the viewer behind it steps on (another program removed that photo). Each gets the
    // viewer's title back when it ends.
    LMMainWindow* window = m_windowController.window();
    const long mode = m_windowController.showMode();
    if (!window || mode == MainShowModeSlideshow || (mode == MainShowModeCrop && !cropShowsFile(representedFilename)))
        return;
    window->setRepresentedFilename(representedFilename);
    window->setWindowTitle(title);
}

bool MainWndNavigateHost::cropShowsFile(const QString& path) const
{
    const auto* crop = dynamic_cast<const CropViewController*>(m_windowController.existingModeController(MainShowModeCrop));
    const LMNavFileInfoPtr info = crop ? crop->shownFileInfo() : nullptr;
    const LMFileImgBaseInfoPtr base = info ? info->imgBaseInfo() : nullptr;
    if (!info || path.isEmpty())
        return false;
    // Renamed by another program, it is the same file under its new name.
    return info->filePath().path() == path ||
           (base && base->fileIdentity().isValid() && kpv::fileIdentity(path) == base->fileIdentity());
}

void MainWndNavigateHost::slideshowModeChanged(bool playing)
{
    LMMainWindow* window = m_windowController.window();
    if (!window)
        return;
    window->setRepresentedFilename(playing ? QString() : m_viewerFilename);
    window->setWindowTitle(playing ? m_delegate.appName() : m_viewerTitle);
}

bool MainWndNavigateHost::isWindowFullScreen() const
{
    LMMainWindow* window = m_windowController.window();
    return window && window->isFullScreen();
}

void MainWndNavigateHost::toggleFullScreen() { m_windowController.toggleFullScreen(); }

LMImageViewModel* MainWndNavigateHost::miniWindowOpenGLView()
{
    return m_entries.miniWindowOpenGLView ? m_entries.miniWindowOpenGLView() : nullptr;
}

void MainWndNavigateHost::updateMiniUI(int imageMode, int angleDegrees)
{
    if (auto* mini = dynamic_cast<MiniWindowController*>(miniController()))
        mini->updateMiniUI(imageMode, angleDegrees);
}

void MainWndNavigateHost::writeImageToPasteboard(const QImage& image)
{
    kpv::Pasteboard::generalPasteboard().writeFileURLsAndImage({}, image);
}

// ---- Overlays ----

void MainWndNavigateHost::updateStatusInfo(const QString& text, bool showWaiting, int loadingInfoFlag)
{
    // In the mini window the line stands over its picture: the main window is out of sight.
    const long mode = m_windowController.showMode();
    if (mode == MainShowModeMiniWithImage || mode == MainShowModeMiniEmpty)
        if (auto* mini = dynamic_cast<MiniWindowController*>(miniController())) {
            mini->updateStatusInfo(text, showWaiting);
            return;
        }
    if (!m_overlays)
        return;
    m_statusLoadingInfo = loadingInfoFlag != 0;
    double anchorTop = 0;
    const bool onToolbar = statusLineOnToolbar(&anchorTop);
    m_overlays->updateStatusInfo(text, showWaiting, onToolbar, anchorTop);
}

void MainWndNavigateHost::updateStatusReason(const QString& reason)
{
    if (!m_overlays)
        return;
    const LMImagePtr picture = m_controller ? m_controller->acquireBadFileImage() : nullptr;
    // The line stays above where the toolbar comes up, shown or not.
    double floor = 0;
    if (m_toolbar)
        if (const kpv::View* bar = m_toolbar->outlets().viewNavToolbarContainer; bar && bar->superview())
            floor = bar->frame().y() + bar->frame().height();
    m_overlays->setStatusReason(reason, picture ? double(picture->height()) / 2 : 0, floor);
}

void MainWndNavigateHost::placeStatusLine()
{
    if (!m_overlays || m_overlays->statusText().isEmpty())
        return;
    double anchorTop = 0;
    const bool onToolbar = statusLineOnToolbar(&anchorTop);
    m_overlays->placeStatusLine(onToolbar, anchorTop);
}

bool MainWndNavigateHost::statusLineOnToolbar(double* anchorTop)
{
    // Loading information sits on top of the toolbar strip. So does any other status while the
    // toolbar shows and its play button stands in the middle of the picture, where it would
    // cover the status (a file that cannot be shown has the play button below its message).
    *anchorTop = 0;
    if (!m_toolbar)
        return m_statusLoadingInfo;
    const NavToolbarOutlets& o = m_toolbar->outlets();
    const bool toolbarShown = o.viewNavToolbarContainer && !o.viewNavToolbarContainer->isHiddenOrHasHiddenAncestor();
    kpv::View* anchor = o.viewHitTestNavToolbar;
    if (mainConfig() && mainConfig()->photoBinVisible() && toolbarShown)
        anchor = o.viewNavToolbarContainer;
    if (anchor && anchor->superview())
        *anchorTop = anchor->frame().y() + anchor->frame().height();
    return m_statusLoadingInfo || (toolbarShown && m_overlays && m_overlays->centredStatusLineMeets(o.btnPlay));
}

void MainWndNavigateHost::showPreviewStatus(bool animation, bool autoHide)
{
    if (m_overlays)
        m_overlays->previewStatusShowProxy().showWithAnimation(animation, autoHide);
}

void MainWndNavigateHost::hidePreviewStatus(bool animation, bool needDelay)
{
    if (m_overlays)
        m_overlays->previewStatusShowProxy().hideWithAnimation(animation, needDelay);
}

void MainWndNavigateHost::setPreviewStatusAutoHideInterval(double seconds)
{
    if (m_overlays)
        m_overlays->previewStatusShowProxy().setAutoHideInterval(seconds);
}

void MainWndNavigateHost::showNextPrev(bool animation, bool autoHide)
{
    if (m_overlays)
        m_overlays->nextPrevShowProxy().showWithAnimation(animation, autoHide);
}

void MainWndNavigateHost::hideNextPrev(bool animation, bool needDelay)
{
    if (m_overlays)
        m_overlays->nextPrevShowProxy().hideWithAnimation(animation, needDelay);
}

void MainWndNavigateHost::showImageView(bool animation, bool autoHide)
{
    if (m_imageViewProxy)
        m_imageViewProxy->showWithAnimation(animation, autoHide);
    else if (m_imageView)
        m_imageView->setHidden(false);
}

void MainWndNavigateHost::hideImageView(bool animation, bool needDelay)
{
    if (m_imageViewProxy)
        m_imageViewProxy->hideWithAnimation(animation, needDelay);
    else if (m_imageView)
        m_imageView->setHidden(true);
}

void MainWndNavigateHost::setNavInfoContainerHidden(bool hidden)
{
    if (m_overlays)
        m_overlays->setNavInfoContainerHidden(hidden);
}

void MainWndNavigateHost::setFileImgBaseInfo(const LMFileImgBaseInfoPtr& info, int64_t mask)
{
    if (m_overlays)
        m_overlays->setFileImgBaseInfo(info, mask);
}

NavArrowHit MainWndNavigateHost::arrowHitTest(QPointF locationInWindow) const
{
    return m_overlays ? m_overlays->arrowHitTest(locationInWindow) : NavArrowHit::None;
}

void MainWndNavigateHost::applyShadowImage(LMOpenGLView& view, const LMImagePtr& image)
{
    view.setShadowImage(image, kShadowSliceLeftTop, kShadowSliceRightBottom, kShadowDrawOffsetLeftTop,
                        kShadowDrawOffsetRightBottom);
}

void MainWndNavigateHost::setViewShadowImage(const LMImagePtr& image)
{
    if (m_imageView)
        applyShadowImage(*m_imageView, image);
}

// ---- Photo bin, panels, favourites, other modes ----

qsizetype MainWndNavigateHost::photoBinMaxVisibleItemCount() const
{
    // As many pitches as the main screen is wide, and one more on each side.
    const double pitch = m_photoBin ? m_photoBin->photoBinItemWidth() : 0;
    const double screenWidth = kpv::Screen::mainScreen().frame.width();
    if (!(pitch > 0) || !(screenWidth > 0))
        return 40;
    return qsizetype(std::floor(screenWidth / pitch)) + 2;
}

qsizetype MainWndNavigateHost::photoBinWholeVisibleItemCountOfCurPage() const
{
    return m_photoBin ? m_photoBin->photoBinWholeVisibleItemCountOfCurPage() : 0;
}

void MainWndNavigateHost::resetPhotoBinFiles()
{
    if (m_photoBin)
        m_photoBin->resetPhotoBinFiles();
}

// The desktop gives the program every folder the user can read: there is no access to ask for,
// so the folder-access tip never shows.
void MainWndNavigateHost::showSandboxAccessTips() {}
void MainWndNavigateHost::hideSandboxAccessTips(bool) {}

void MainWndNavigateHost::checkShowHideNavigationWindow()
{
    if (m_navigateWindowController)
        m_navigateWindowController->checkShowHide();
}

bool MainWndNavigateHost::curLoveIntroTipsShowStatus() const
{
    return m_toolbar && m_toolbar->curLoveIntroTipsShowStatus();
}

bool MainWndNavigateHost::isFavoriteFile(const LMPathString& path) const
{
    ShowModeController* fav = m_windowController.existingModeController(MainShowModeFavorite);
    return fav && fav->isFavoriteFile(path);
}

qsizetype MainWndNavigateHost::favoriteFileCount() const
{
    auto* fav = dynamic_cast<FavoriteViewController*>(m_windowController.existingModeController(MainShowModeFavorite));
    return fav ? qsizetype(fav->favoriteFileCount()) : 0;
}

void MainWndNavigateHost::stopFavorFileAnimationTimer()
{
    if (m_controller)
        m_controller->stopFavorFileAnimationTimer();
}

bool MainWndNavigateHost::fileExistsAtPath(const QString& path) const { return QFileInfo::exists(path); }

void MainWndNavigateHost::startSlideshow(const QList<NavSlideshowFile>& slides, qsizetype startFromIndex)
{
    startSlideshowInMainWindow(m_windowController, slides, startFromIndex);
}

void MainWndNavigateHost::deleteCurFile() { m_windowController.performMenuAction(8); }

void MainWndNavigateHost::sortFiles(int64_t sortType, bool forceSort)
{
    if (m_controller)
        m_controller->sortFiles(sortType, forceSort);
}

// ---- File commands ----

void MainWndNavigateHost::beginAlertSheet(const QString& message, const QString& defaultButton,
                                          const QString& alternateButton, const QString& otherButton,
                                          const QString& informative, AlertDidEnd didEnd, kpv::AlertEscape escape)
{
    kpv::Window* window = m_windowController.getCurWindow();
    if (!window) {
        if (didEnd)
            didEnd(0);
        return;
    }
    m_alertSheet.beginAlertSheet(message, defaultButton, alternateButton, otherButton, window,
                                 [didEnd](std::int32_t rc) {
                                     if (didEnd)
                                         didEnd(int(rc));
                                 },
                                 informative, escape);
}

void MainWndNavigateHost::runSaveAsPanel(const QString& sourcePath, const QString& defaultDirectory,
                                         SavePanelHandler handler)
{
    MainWndEditSheets::runSaveAsPanel(m_windowController, sourcePath, defaultDirectory, std::move(handler));
}

void MainWndNavigateHost::printImage(const QImage& image, const QString& jobName)
{
    if (image.isNull())
        return;
    // While the print panel is up, Esc belongs to it.
    std::shared_ptr<PrintView> view = PrintView::printViewWithImages({image});
    if (!view)
        return;
    view->printInfo().jobName = jobName;
    std::unique_ptr<kpv::PrintPanel> panel = kpv::PrintPanel::make();
    std::weak_ptr<PrintView> printed = view;
    panel->setPrintableView(std::move(view));
    MainWndController* controller = &m_windowController;
    m_printPanelWrapper.printPanel(*panel, m_windowController.getCurWindow(), [controller, printed](long response) {
        if (response != kpv::PrintPanel::kPrintFailed)
            return;
        const std::shared_ptr<PrintView> view = printed.lock();
        controller->showFailureAlert(view ? view->failureMessage() : PrintView().failureMessage());
    });
}

void MainWndNavigateHost::writeFileAndImageToPasteboard(const QString& filePath, const QImage& image)
{
    kpv::Pasteboard& board = kpv::Pasteboard::generalPasteboard();
    board.clearContents();
    QList<QUrl> urls;
    if (!filePath.isEmpty())
        urls << QUrl::fromLocalFile(QFileInfo(filePath).absoluteFilePath());
    board.writeFileURLsAndImage(urls, image);
}

QString MainWndNavigateHost::temporaryDirectoryWithSubDir(const QString& name) const
{
    return m_delegate.temporaryDirectoryWithSubDir(name);
}

void MainWndNavigateHost::miniWindowDoBeforeRotate()
{
    if (auto* mini = dynamic_cast<MiniWindowController*>(miniController()))
        mini->doBeforeRotate();
}

void MainWndNavigateHost::shareFiles(const QList<NavSlideshowFile>& files, int64_t shareType)
{
    QList<ShareFileInfoPtr> infos;
    for (const NavSlideshowFile& file : files) {
        auto info = std::make_shared<ShareFileInfo>(file.filePath);
        info->setImgBaseInfo(file.imgBaseInfo);
        info->setOriginalImage(file.prevLoadedOriginalImage);
        info->setTurnSaved(file.turnSaved);
        const LMImagePtr source = file.prevLoadedOriginalImage ? file.prevLoadedOriginalImage : file.prevLoadedLargeFitInImage;
        if (source) {
            const QImage image = source->convertToImage();
            if (!image.isNull())
                info->setRawThumb(image.scaled(168, 168, Qt::KeepAspectRatio, Qt::SmoothTransformation));
        }
        infos.append(std::move(info));
    }
    m_windowController.secondaryWindows().shareFiles(infos, long(shareType));
}

void MainWndNavigateHost::updateShareButtonUI(int64_t shareType)
{
    if (m_toolbar)
        m_toolbar->updateShareButtonUI(shareType);
}

void MainWndNavigateHost::switchPhotoBin()
{
    if (m_photoBin)
        m_photoBin->switchPhotoBin();
}

void MainWndNavigateHost::beginBatchRename(const QList<LMPathString>& files,
                                           std::function<void(const QHash<LMPathString, LMPathString>&)> done)
{
    MainWndEditSheets::beginBatchRename(m_windowController, files, std::move(done));
}

void MainWndNavigateHost::beginBatchResizeOrConvert(bool resize, const QList<NavSlideshowFile>& files,
                                                    std::function<void()> done)
{
    QList<std::shared_ptr<LMFileInfo>> infos;
    for (const NavSlideshowFile& file : files) {
        auto info = std::make_shared<LMFileInfo>(file.filePath);
        info->setImgBaseInfo(file.imgBaseInfo);
        infos.append(info);
    }
    MainWndEditSheets::beginBatchResizeOrConvert(m_windowController, resize, infos, std::move(done));
}

void MainWndNavigateHost::beginDragFile(const QString& filePath, const QImage&)
{
    if (filePath.isEmpty() || !m_imageView)
        return;
    kpv::DragSource::dragFiles(m_imageView, {QUrl::fromLocalFile(QFileInfo(filePath).absoluteFilePath())}, 1);
}

// ---- Favourites ----

void MainWndNavigateHost::addFavoriteFile(const LMPathString& path, const LMFileImgBaseInfoPtr& info,
                                          const QImage& smallThumb)
{
    if (FavoriteViewController* fav = favoriteController())
        fav->addFovoriteFile(path, info, smallThumb);
}

void MainWndNavigateHost::removeFavoriteFile(const LMPathString& path)
{
    if (FavoriteViewController* fav = favoriteController())
        fav->removeFavoriteFile(path);
}

QImage MainWndNavigateHost::favoriteThumb(const LMPathString& path, int* angle) const
{
    auto* fav = dynamic_cast<FavoriteViewController*>(m_windowController.existingModeController(MainShowModeFavorite));
    if (!fav || !fav->isFavoriteFile(path))
        return {};
    const std::shared_ptr<FavoriteFileInfo> info = fav->getFileInfo(path, false);
    if (!info)
        return {};
    // Kept from an earlier run: its picture comes once the file has been read.
    if (info->smallThumb().isNull())
        if (auto* kept = dynamic_cast<MainWndFavoriteController*>(fav))
            kept->loadSmallThumbLater(path);
    // Turned and mirrored as the viewer shows the photo.
    if (angle)
        *angle = 0;
    return info->imgBaseInfo() ? LMImage::uprightImage(info->smallThumb(), *info->imgBaseInfo()) : info->smallThumb();
}

QRectF MainWndNavigateHost::favoriteBinRectInView() const
{
    if (!m_toolbar || !m_imageView || !m_toolbar->outlets().viewFavoriteBin)
        return {};
    kpv::View* bin = m_toolbar->outlets().viewFavoriteBin;
    if (!bin->superview())
        return {};
    const kpv::Rect r = m_imageView->convertRectFromView(bin->frame(), bin->superview());
    return QRectF(r.x(), r.y(), r.width(), r.height());
}

void MainWndNavigateHost::beginAniFavorFile(bool adding)
{
    if (m_toolbar)
        m_toolbar->beginAniFavorFile(adding);
}

void MainWndNavigateHost::endAniFavorFile(bool adding)
{
    if (m_toolbar)
        m_toolbar->endAniFavorFile(adding);
}

void MainWndNavigateHost::updateFavPhotoBoxUI()
{
    if (m_toolbar)
        m_toolbar->updateFavPhotoBoxUI();
}

void MainWndNavigateHost::showFavorSnapshot(const QImage& image, int angle)
{
    if (!m_imageView || !m_imageView->superview())
        return;
    removeFavorSnapshot();
    m_snapshot = new FavFileSnapshotView(kpv::Rect());
    m_snapshot->setImage(image, angle);
    m_imageView->superview()->addSubview(m_snapshot);
}

void MainWndNavigateHost::updateFavorSnapshot(const QRectF& rectInView, double alpha)
{
    if (!m_snapshot || !m_imageView)
        return;
    const kpv::Rect inParent = m_imageView->superview()->convertRectFromView(
        kpv::Rect(rectInView.x(), rectInView.y(), rectInView.width(), rectInView.height()), m_imageView);
    m_snapshot->zoomImageToRect(inParent);
    m_snapshot->setAlphaValue(alpha);
}

void MainWndNavigateHost::removeFavorSnapshot()
{
    if (!m_snapshot)
        return;
    m_snapshot->removeFromSuperview();
    delete m_snapshot;
    m_snapshot = nullptr;
}
