#include "Shell/Modes/MainWndSlideshowHost.h"

#include "Shell/MainWindow/AppDelegate.h"
#include "Shell/MainWindow/LMMainWndContentView.h"
#include "Shell/MainWindow/MainWndController.h"
#include "Shell/MainWindow/ViewModeController.h"

#include "Slideshow/SlideshowMusic.h"
#include "Slideshow/SlideshowThemeMgr.h"

#include "appkit/Panels.h"
#include "appkit/View.h"
#include "foundation/Bundle.h"

long MainWndSlideshowHost::showMode() const { return m_windowController.showMode(); }

void MainWndSlideshowHost::setShowMode(long mode) { m_windowController.setShowMode(mode); }

kpv::View* MainWndSlideshowHost::contentView() const { return m_windowController.contentView(); }

void MainWndSlideshowHost::registEquivalentResponder(LMEquivalentResponder* responder, bool regist)
{
    m_windowController.registEquivalentResponder(responder, regist);
}

void MainWndSlideshowHost::slideshowWillEnd(const LMPathString& shown, long mode)
{
    if (mode != MainShowModeView)
        return;
    if (ViewModeController* viewer = m_windowController.navigateController())
        viewer->goToFile(shown);
}

void MainWndSlideshowHost::reportProblem(const QString& message)
{
    kpv::View* content = contentView();
    const QString title = kpv::Bundle::mainBundle().localizedString(QStringLiteral("IDS_SS_CANNOT_SHOW"));
    kpv::AlertSheet::begin(title, QString(), QString(), QString(), content ? content->window() : nullptr, {}, message);
}

MainWndSlideshowController::MainWndSlideshowController(MainWndController& windowController)
    : detail::MainWndSlideshowHostHolder(windowController)
    , SlideshowViewController(slideshowHost, windowController.appDelegate().mainConfig())
{
    setThemeMgr(dynamic_cast<SlideshowThemeMgr*>(windowController.appDelegate().slideshowThemeMgr()));
    AppDelegate& delegate = windowController.appDelegate();
    setMusicSinkFactory([&delegate] { return delegate.makeMusicSink(); });
}

void registerSlideshowMode(MainWndController& windowController)
{
    windowController.setShowModeControllerFactory(MainShowModeSlideshow, [](MainWndController& controller) {
        return std::unique_ptr<ShowModeController>(std::make_unique<MainWndSlideshowController>(controller));
    });
}

bool startSlideshowInMainWindow(MainWndController& windowController, const QList<NavSlideshowFile>& slides,
                                qsizetype startFromIndex)
{
    if (slides.isEmpty())
        return false;
    auto* slideshow = dynamic_cast<SlideshowViewController*>(windowController.modeController(MainShowModeSlideshow));
    if (!slideshow)
        return false;
    std::vector<SlideshowFileInfoPtr> infos;
    infos.reserve(size_t(slides.size()));
    for (const NavSlideshowFile& slide : slides) {
        auto info = std::make_shared<SlideshowFileInfo>(slide.filePath);
        if (slide.imgBaseInfo)
            info->setImgBaseInfo(slide.imgBaseInfo);
        info->setPrevLoadedLargeFitInImage(slide.prevLoadedLargeFitInImage);
        info->setPrevLoadedOriginalImage(slide.prevLoadedOriginalImage);
        infos.push_back(std::move(info));
    }
    slideshow->startSlideshowWithFileInfos(std::move(infos), long(startFromIndex));
    return true;
}
