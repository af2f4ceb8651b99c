#include "Shell/MainWndNavigateHost.h"

#include "Share/ShareFileInfo.h"
#include "Shell/MainWndSecondaryWindows.h"
#include "Shell/NavigateWindowController.h"

#include "Shell/AppDelegate.h"
#include "Shell/LMMainWindow.h"
#include "Shell/MainWndController.h"
#include "Shell/MainWndEditSheets.h"
#include "Shell/MainWndPhotoBin.h"
#include "Shell/MainWndSlideshowHost.h"

#include "View/LMOpenGLView.h"
#include "foundation/OperationQueue.h"

#include <cmath>

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

MainConfig* MainWndNavigateHost::mainConfig() { return m_delegate.mainConfig(); }

void MainWndNavigateHost::addOperation(std::shared_ptr<kpv::Operation> operation)
{
    if (operation && m_delegate.operationQueue())
        m_delegate.operationQueue()->addOperation(std::move(operation));
}

void MainWndNavigateHost::cancelAllOperations()
{
    if (m_delegate.operationQueue())
        m_delegate.operationQueue()->cancelAllOperations();
}

int64_t MainWndNavigateHost::showMode() const { return m_windowController.showMode(); }

void MainWndNavigateHost::setShowMode(int64_t mode) { m_windowController.setShowMode(long(mode)); }

void MainWndNavigateHost::registEquivalentResponder(NavigateController*, bool regist)
{
    if (m_responder)
        m_windowController.registEquivalentResponder(m_responder, regist);
}

void MainWndNavigateHost::setWindowTitle(const QString& title, const QString& representedFilename)
{
    LMMainWindow* window = m_windowController.window();
    if (!window)
        return;
    window->setRepresentedFilename(representedFilename);
    window->setWindowTitle(title);
}

bool MainWndNavigateHost::isWindowFullScreen() const
{
    LMMainWindow* window = m_windowController.window();
    return window && window->isFullScreen();
}

void MainWndNavigateHost::toggleFullScreen() { m_windowController.toggleFullScreen(); }

void MainWndNavigateHost::showImageView(bool, bool)
{
    if (m_imageView)
        m_imageView->setHidden(false);
}

void MainWndNavigateHost::hideImageView(bool, bool)
{
    if (m_imageView)
        m_imageView->setHidden(true);
}

void MainWndNavigateHost::startSlideshow(const QList<NavSlideshowFile>& slides, qsizetype startFromIndex)
{
    startSlideshowInMainWindow(m_windowController, slides, startFromIndex);
}

void MainWndNavigateHost::setViewShadowImage(const LMImagePtr& image)
{
    if (m_imageView)
        m_imageView->setShadowImage(image, kShadowSliceLeftTop, kShadowSliceRightBottom, kShadowDrawOffsetLeftTop,
                                    kShadowDrawOffsetRightBottom);
}

QString MainWndNavigateHost::temporaryDirectoryWithSubDir(const QString& name) const
{
    return m_delegate.temporaryDirectoryWithSubDir(name);
}

void MainWndNavigateHost::shareFiles(const QList<NavSlideshowFile>& files, int64_t shareType)
{
    QList<ShareFileInfoPtr> infos;
    for (const NavSlideshowFile& file : files) {
        auto info = std::make_shared<ShareFileInfo>(file.filePath);
        info->setImgBaseInfo(file.imgBaseInfo);
        info->setOriginalImage(file.prevLoadedOriginalImage);
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

void MainWndNavigateHost::switchPhotoBin()
{
    if (m_photoBin)
        m_photoBin->switchPhotoBin();
}

void MainWndNavigateHost::runSaveAsPanel(const QString& sourcePath, const QString& directory, SavePanelHandler handler)
{
    MainWndEditSheets::runSaveAsPanel(m_windowController, sourcePath, directory, std::move(handler));
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

void MainWndNavigateHost::checkShowHideNavigationWindow()
{
    if (m_navigateWindowController)
        m_navigateWindowController->checkShowHide();
}
