#include "Shell/MainWindow/LMMainWndContentView.h"

#include "Shell/MainWindow/AppDelegate.h"
#include "Shell/MainWindow/MainWndController.h"
#include "Shell/MainWindow/ViewModeController.h"

#include "Kit/LMNineSliceImageView.h"
#include "Model/MainConfig.h"
#include "appkit/FileDropTarget.h"
#include "appkit/GraphicsContext.h"
#include "appkit/Window.h"
#include "foundation/NotificationCenter.h"

LMMainWndContentView::LMMainWndContentView(const kpv::Rect& frame) : kpv::View(frame)
{
    m_nineSliceImageViewBkgrd = new LMNineSliceImageView(bounds());
    m_nineSliceImageViewBkgrd->setAutoresizingMask(kpv::ViewWidthSizable | kpv::ViewHeightSizable);
    addSubview(m_nineSliceImageViewBkgrd);
    m_bkgrdImageRep = std::make_shared<LMNineSliceImageRep>(QStringLiteral("bg_maintile"), kpv::Point{5, 5},
                                                            kpv::Point{5, 5});
    m_nineSliceImageViewBkgrd->setBackgroundImageRep(m_bkgrdImageRep);

    kpv::FileDropTarget::install(
        this, [this](const QStringList& paths) { return canAcceptDroppedPaths(paths); },
        [this](const QStringList& paths) { performDrop(paths); });

    kpv::NotificationCenter::defaultCenter().addObserver(
        this, QString::fromLatin1(DidChangeMainShowModeNotification), nullptr, [this](const kpv::Notification& n) {
            const long newMode = n.userInfo.value(QStringLiteral("new")).toLongLong();
            const long oldMode = n.userInfo.value(QStringLiteral("old")).toLongLong();
            if (newMode == MainShowModeEmpty || oldMode == MainShowModeEmpty)
                updateBackgroundImage(inFullScreen());
        });
}

LMMainWndContentView::~LMMainWndContentView()
{
    kpv::NotificationCenter::defaultCenter().removeObserver(this);
}

bool LMMainWndContentView::inFullScreen() const
{
    return window() && window()->isFullScreen();
}

void LMMainWndContentView::updateBackgroundImage(bool fullScreen)
{
    const bool show = !fullScreen || (m_controller && m_controller->showMode() == MainShowModeEmpty);
    m_nineSliceImageViewBkgrd->setBackgroundImageRep(show ? m_bkgrdImageRep : nullptr);
    setNeedsDisplay();
}

bool LMMainWndContentView::isShowingBackground() const
{
    return m_nineSliceImageViewBkgrd->bkNineSliceImageRep() != nullptr;
}

bool LMMainWndContentView::canAcceptDroppedPaths(const QStringList& paths) const
{
    AppDelegate* delegate = m_controller ? &m_controller->appDelegate() : AppDelegate::shared();
    if (!delegate || paths.isEmpty())
        return false;
    const bool subDirs = delegate->mainConfig()->viewPhotosInSubfolder();
    return !delegate->firstSupportedFileInPaths(paths, subDirs).isEmpty();
}

bool LMMainWndContentView::performDrop(const QStringList& paths)
{
    if (m_controller && canAcceptDroppedPaths(paths))
        m_controller->openFiles(paths, m_controller->appDelegate().mainConfig()->viewPhotosInSubfolder());
    return true;
}

void LMMainWndContentView::updateTrackingAreas()
{
    if (m_trackingArea)
        removeTrackingArea(m_trackingArea);
    m_trackingArea = std::make_shared<kpv::TrackingArea>(bounds(), kpv::TrackingMouseMoved | kpv::TrackingActiveInActiveApp,
                                                         this);
    addTrackingArea(m_trackingArea);
}

void LMMainWndContentView::drawRect(const kpv::Rect& dirty)
{
    if (inFullScreen()) {
        if (auto* ctx = kpv::GraphicsContext::current())
            ctx->fillRect(dirty, kpv::Color::blackColor());
    }
}

void LMMainWndContentView::mouseDown(const kpv::Event& e)
{
    if (e.clickCount() == 2 && m_controller && (m_controller->showMode() & 22) != 0) {
        if (m_controller->showMode() == MainShowModeEmpty || !m_controller->navigateController())
            m_controller->toggleFullScreen();
        else
            m_controller->navigateController()->toggleFullScreen();
        return;
    }
    kpv::View::mouseDown(e);
}

void LMMainWndContentView::rightMouseDown(const kpv::Event& e)
{
    if (m_controller && m_controller->showMode() == MainShowModeView) {
        m_controller->popUpContextMenuWithEvent(e, this);
        return;
    }
    if (m_controller && m_controller->showMode() == MainShowModeFavorite) {
        if (ShowModeController* fav = m_controller->existingModeController(MainShowModeFavorite)) {
            fav->popUpContextMenuWithEvent(e);
            return;
        }
    }
    kpv::View::rightMouseDown(e);
}

void LMMainWndContentView::mouseMoved(const kpv::Event& e)
{
    // Mouse moves go to the modes' equivalent responders before the responder chain.
    if (m_controller && m_controller->mouseMoved(e))
        return;
    kpv::View::mouseMoved(e);
}
