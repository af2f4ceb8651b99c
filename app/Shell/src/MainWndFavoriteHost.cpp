#include "Shell/MainWndFavoriteHost.h"

#include "Shell/AppDelegate.h"
#include "Shell/LMMainWindow.h"
#include "Shell/LMMainWndContentView.h"
#include "Shell/MainWndController.h"
#include "Shell/MainWndSlideshowHost.h"

#include "appkit/Menu.h"

MainWndFavoriteHost::MainWndFavoriteHost(MainWndController& windowController) : m_windowController(windowController) {}

MainWndFavoriteHost::~MainWndFavoriteHost() = default;

void MainWndFavoriteHost::showFavoriteIntroTips(bool show)
{
    if (!show) {
        if (m_introTips)
            m_introTips->hideTips();
        return;
    }
    if (!m_introTips) {
        m_introTips = std::make_unique<FavoriteIntroTipsViewController>();
        m_introTips->setDelegate(this);
    }
    m_introTips->setParentView(m_windowController.contentView());
    m_introTips->showTips();
}

void MainWndFavoriteHost::closeClickedOnFavoriteIntroTipsViewController(FavoriteIntroTipsViewController*)
{
    if (m_favoriteController)
        m_favoriteController->hideFavoriteIntroTips();
    else if (m_introTips)
        m_introTips->hideTips();
}

long MainWndFavoriteHost::showMode() const { return m_windowController.showMode(); }

void MainWndFavoriteHost::setShowMode(long mode) { m_windowController.setShowMode(mode); }

bool MainWndFavoriteHost::isWorkableWindow() const { return m_windowController.isWorkableWindow(); }

kpv::Window* MainWndFavoriteHost::window() const { return m_windowController.window(); }

void MainWndFavoriteHost::registEquivalentResponder(LMEquivalentResponder* responder, bool regist)
{
    m_windowController.registEquivalentResponder(responder, regist);
}

MainConfig* MainWndFavoriteHost::mainConfig() const { return m_windowController.appDelegate().mainConfig(); }

kpv::View* MainWndFavoriteHost::viewNavFavContainer() const
{
    if (kpv::View* container = m_windowController.containerViewByShowMode(MainShowModeFavorite))
        return container;
    return m_windowController.contentView();
}

kpv::View* MainWndFavoriteHost::viewToolbarContainer() const { return m_windowController.contentView(); }

void MainWndFavoriteHost::startSlideshow(const std::vector<FavoriteHandOff>& files, long startFromIndex)
{
    QList<NavSlideshowFile> slides;
    slides.reserve(qsizetype(files.size()));
    for (const FavoriteHandOff& file : files) {
        NavSlideshowFile slide;
        slide.filePath = file.filePath;
        slide.imgBaseInfo = file.imgBaseInfo;
        slides.push_back(slide);
    }
    startSlideshowInMainWindow(m_windowController, slides, startFromIndex);
}

void MainWndFavoriteHost::popUpContextMenu(const kpv::Event& e, kpv::View* view)
{
    // The window's context menu: its items are validated and run against the current mode, so in
    // favourites they act on the selected favourites.
    if (auto menu = m_windowController.rightPopMenu(); menu && view && m_windowController.isWorkableWindow())
        kpv::Menu::popUpContextMenu(menu, e, view);
}

MainWndFavoriteController::MainWndFavoriteController(MainWndController& windowController)
    : detail::MainWndFavoriteHostHolder(windowController)
    , FavoriteViewController(favoriteHost)
{
    favoriteHost.setFavoriteController(this);
}

void registerFavoriteMode(MainWndController& windowController)
{
    windowController.setShowModeControllerFactory(MainShowModeFavorite, [](MainWndController& controller) {
        return std::unique_ptr<ShowModeController>(std::make_unique<MainWndFavoriteController>(controller));
    });
}
