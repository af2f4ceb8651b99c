#include "Shell/ViewChrome/MainWndPhotoBin.h"

#include "Shell/MainWindow/AppDelegate.h"
#include "Shell/MainWindow/LMMainWindow.h"
#include "Shell/MainWindow/LMMainWndContentView.h"
#include "Shell/MainWindow/MainWndController.h"

#include "Browse/PhotoBinView.h"
#include "Kit/PhotoBinScrollView.h"
#include "Model/MainConfig.h"
#include "View/NavigateController.h"
#include "appkit/Window.h"
#include "foundation/NotificationCenter.h"

MainWndPhotoBin::MainWndPhotoBin(MainWndController& windowController, NavigateController& navigator)
    : m_windowController(windowController), m_navigator(navigator)
{
    auto& center = kpv::NotificationCenter::defaultCenter();
    m_controller = std::make_unique<PhotoBinViewController>(*this);
    center.addObserver(this, QString::fromLatin1(DidChangeMainShowModeNotification), nullptr,
                       [this](const kpv::Notification& n) {
                           didChangeMainShowMode(long(n.userInfo.value(QStringLiteral("new")).toLongLong()));
                       });
    // Full screen shows the photo alone: the strip goes on the way in and comes back on the way
    // out as the setting asks. The View menu's command still shows it in full screen.
    for (const char* name : {kpv::WindowDidEnterFullScreenNotification, kpv::WindowDidExitFullScreenNotification}) {
        center.addObserver(this, QString::fromLatin1(name), m_windowController.window(), [this](const kpv::Notification&) {
            didChangeMainShowMode(m_windowController.showMode());
        });
    }
}

MainWndPhotoBin::~MainWndPhotoBin()
{
    kpv::NotificationCenter::defaultCenter().removeObserver(this);
    m_controller.reset();
    if (m_bar && !m_ownedBar && m_bar->superview()) {
        m_bar->removeFromSuperview();
        m_ownedBar.reset(m_bar);
    }
}

kpv::View* MainWndPhotoBin::ownBar() const
{
    if (!m_bar) {
        LMMainWndContentView* content = m_windowController.contentView();
        const double width = content ? content->bounds().width() : 800;
        m_ownedBar = std::make_unique<kpv::View>(kpv::Rect(0, 0, width, kBarHeight));
        m_ownedBar->setAutoresizingMask(kpv::ViewWidthSizable | kpv::ViewMaxYMargin);
        m_ownedBar->setHidden(true);
        m_bar = m_ownedBar.get();
        if (content)
            content->addSubview(m_ownedBar.release());
    }
    return m_bar;
}

kpv::View* MainWndPhotoBin::viewNavToolbarContainer() const
{
    if (m_containerProvider)
        if (kpv::View* container = m_containerProvider())
            return container;
    return ownBar();
}

bool MainWndPhotoBin::isVisibleSetting() const
{
    MainConfig* config = m_windowController.appDelegate().mainConfig();
    return config && config->photoBinVisible();
}

void MainWndPhotoBin::switchPhotoBin()
{
    MainConfig* config = m_windowController.appDelegate().mainConfig();
    if (!config)
        return;
    config->setPhotoBinVisible(!config->photoBinVisible());
    showPhotoBinView(config->photoBinVisible() && m_windowController.showMode() == MainShowModeView);
}

void MainWndPhotoBin::showPhotoBinView(bool show)
{
    if (show == m_shown)
        return;
    m_shown = show;
    kpv::View* container = viewNavToolbarContainer();
    if (container == m_bar)
        m_bar->setHidden(!show);
    m_controller->show(show);
    if (show) {
        m_controller->photoBinView()->curItemChanged();
        // While it was hidden, the viewer made pictures only for the photos beside the current
        // one: the cells it shows now get theirs, not the loading mark until the next step.
        m_navigator.requestPhotoBinThumbnails();
    }
    if (m_coveredHeightHandler)
        m_coveredHeightHandler(coveredHeight());
}

double MainWndPhotoBin::coveredHeight() const
{
    if (!m_shown || !m_bar || viewNavToolbarContainer() != m_bar || m_bar->isHidden())
        return 0;
    return m_bar->frame().y() + m_bar->frame().height();
}

qsizetype MainWndPhotoBin::photoBinWholeVisibleItemCountOfCurPage() const
{
    const auto count = qsizetype(m_controller->wholeVisibleItemCountOfCurPage());
    if (count > 0)
        return count;
    // A strip never laid out yet: the page it would have across the window.
    const double pitch = photoBinItemWidth();
    LMMainWndContentView* content = m_windowController.contentView();
    if (!(pitch > 0) || !content)
        return 0;
    return qsizetype((content->bounds().width() - 2) / pitch);
}

void MainWndPhotoBin::didChangeMainShowMode(long newMode)
{
    const kpv::Window* window = m_windowController.window();
    showPhotoBinView(newMode == MainShowModeView && isVisibleSetting() && !(window && window->isFullScreen()));
}

const QList<LMPathString>& MainWndPhotoBin::filePaths() const
{
    // The viewer hands out copies of its list; they share its storage, so this costs no copying.
    m_filePaths = m_navigator.filePaths();
    return m_filePaths;
}

std::size_t MainWndPhotoBin::curFileIndex() const
{
    const qsizetype index = m_navigator.curFileIndex();
    return index < 0 || index >= m_navigator.fileCount() ? kNotFound : std::size_t(index);
}

std::shared_ptr<LMNavFileInfo> MainWndPhotoBin::fileInfoByPath(const LMPathString& path) const
{
    return m_navigator.fileInfoByPath(path);
}

bool MainWndPhotoBin::isFavoriteFile(const LMPathString& path) const
{
    ShowModeController* favorites = m_windowController.existingModeController(MainShowModeFavorite);
    return favorites && favorites->isFavoriteFile(path);
}

void MainWndPhotoBin::doNavCurFileToIndex(std::size_t index, std::function<void(bool notNavigated)> done)
{
    if (index >= std::size_t(m_navigator.fileCount())) {
        if (done)
            done(true);
        return;
    }
    m_navigator.doNavCurFileToIndex(qsizetype(index), false, std::move(done));
}

void MainWndPhotoBin::switchToFitin() { m_navigator.switchToFitin(); }

bool MainWndPhotoBin::beginDraggingSession(kpv::View*, const kpv::Event&, std::size_t index)
{
    if (index >= std::size_t(m_navigator.fileCount()))
        return false;
    return m_navigator.beginDraggingSessionAtIndex(qsizetype(index));
}
