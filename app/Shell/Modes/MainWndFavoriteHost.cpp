#include "Shell/Modes/MainWndFavoriteHost.h"

#include "Share/ShareFileInfo.h"
#include "Share/ShareSelectWebsiteViewController.h"
#include "Shell/MainWindow/MainWndSecondaryWindows.h"
#include "Share/SharePopMenu.h"

#include "Shell/MainWindow/AppDelegate.h"
#include "Shell/MainWindow/LMMainWindow.h"
#include "Shell/MainWindow/LMMainWndContentView.h"
#include "Shell/MainWindow/MainCommand.h"
#include "Shell/MainWindow/MainWndController.h"
#include "Shell/Modes/MainWndEditSheets.h"
#include "Shell/Modes/MainWndSlideshowHost.h"

#include "Browse/FavoriteListFile.h"
#include "Edit/BatchPopViewController.h"
#include "Model/MainConfig.h"
#include "View/NavigateController.h"
#include "appkit/Menu.h"
#include "appkit/Panels.h"
#include "Shell/Desktop/PrintView.h"
#include "appkit/PrintPanel.h"
#include "foundation/Bundle.h"
#include "foundation/FileNames.h"
#include "desktop/WorkspaceServices.h"
#include "foundation/NotificationCenter.h"
#include "foundation/OperationQueue.h"
#include "foundation/RunLoop.h"
#include "imageio/UprightImage.h"

// The batch button's pop-up: its rows are the three tools, a click runs one on the selection.
class MainWndFavoriteHost::BatchMenu final : public LMPopMenuViewDelegate {
public:
    BatchMenu(MainWndFavoriteHost& host, kpv::View* parent)
        : m_host(host), m_controller(BatchPopViewController::batchPopViewControllerWithDelegate(this, parent))
    {
    }
    BatchPopViewController* controller() const { return m_controller.get(); }
    void popMenuViewItemClicked(LMPopMenuView*, const QVariant& object, const QVariant&) override
    {
        const int type = m_controller->batchItemTypeByRepresentedObject(object);
        m_controller->hide(false);
        if (type != BatchItemNone && m_host.m_favoriteController)
            m_host.m_favoriteController->doBatchForType(type);
    }
    void popMenuView_viewShowed(LMPopMenuView*, bool shown) override
    {
        if (m_host.m_favoriteController)
            m_host.m_favoriteController->popMenuViewShowed(0, shown);
    }
    bool popMenuViewItemEnabled(LMPopMenuView*, const QVariant& object, const QVariant&) override
    {
        const int type = m_controller->batchItemTypeByRepresentedObject(object);
        return type != BatchItemNone && m_host.m_favoriteController &&
               m_host.m_favoriteController->canDoAction(type == BatchItemRename ? 18 : type == BatchItemResize ? 19 : 20);
    }

private:
    MainWndFavoriteHost& m_host;
    std::unique_ptr<BatchPopViewController> m_controller;
};

const char* const FavoritePhotoBoxNeedsUpdateNotification = "favoritePhotoBoxNeedsUpdate";

MainWndFavoriteHost::MainWndFavoriteHost(MainWndController& windowController) : m_windowController(windowController) {}

MainWndFavoriteHost::~MainWndFavoriteHost() = default;

void MainWndFavoriteHost::batchRenameFiles(const QList<LMPathString>& files)
{
    // Renamed favourites are announced as the viewer announces its own renames, so the viewer's
    // list and the favourites both follow.
    MainWndEditSheets::beginBatchRename(m_windowController, files, [](const QHash<LMPathString, LMPathString>& renamed) {
        if (renamed.isEmpty())
            return;
        QVariantMap info;
        for (auto it = renamed.cbegin(); it != renamed.cend(); ++it)
            info.insert(it.key().path(), QVariant::fromValue(it.value()));
        kpv::NotificationCenter::defaultCenter().postNotification(QString::fromLatin1(NavFilesBatchRenamedNotification),
                                                                  nullptr, info);
    });
}

void MainWndFavoriteHost::batchResizeFiles(const std::vector<std::shared_ptr<LMFileInfo>>& files)
{
    MainWndEditSheets::beginBatchResizeOrConvert(m_windowController, true, QList(files.begin(), files.end()), {});
}

void MainWndFavoriteHost::batchConvertFiles(const std::vector<std::shared_ptr<LMFileInfo>>& files)
{
    MainWndEditSheets::beginBatchResizeOrConvert(m_windowController, false, QList(files.begin(), files.end()), {});
}

BatchPopViewController* MainWndFavoriteHost::batchPopViewController() const
{
    return m_batchMenu ? m_batchMenu->controller() : nullptr;
}

ShareSelectWebsiteViewController* MainWndFavoriteHost::shareSelectWebsiteViewController() const
{
    return m_shareMenu ? m_shareMenu->controller() : nullptr;
}

void MainWndFavoriteHost::showPopMenu(int type, kpv::Point anchorInWindow, bool delay)
{
    if (type == 1) {
        if (!m_shareMenu) {
            m_shareMenu = std::make_unique<SharePopMenu>(m_windowController.contentView(), SharePopMenu::Actions{
                [this](long shareType) {
                    if (m_favoriteController)
                        m_favoriteController->doShareForType(shareType);
                },
                [this](long shareType) {
                    const long action = MainWndController::mainActionTypeForShareType(shareType);
                    return action != 0 && m_favoriteController && m_favoriteController->canDoAction(action);
                },
                [this](bool shown) {
                    if (m_favoriteController)
                        m_favoriteController->popMenuViewShowed(1, shown);
                }});
        }
        m_shareMenu->controller()->showAtLocationInWindow(anchorInWindow, delay);
        return;
    }
    if (type != 0)
        return;
    if (!m_batchMenu)
        m_batchMenu = std::make_unique<BatchMenu>(*this, m_windowController.contentView());
    m_batchMenu->controller()->showAtLocationInWindow(anchorInWindow, delay);
}

void MainWndFavoriteHost::hidePopMenu(int type, bool delay)
{
    if (type == 0 && m_batchMenu)
        m_batchMenu->controller()->hide(delay);
    if (type == 1 && m_shareMenu)
        m_shareMenu->controller()->hide(delay);
}

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
    // The light falls on the bin, which leads back out.
    m_introTips->overlapIntroTipsView()->setSpotlightOn(m_windowController.viewFavoriteBin());
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
    // The viewer's context menu is about the photo it shows (crop, love it, rotate): the grid has
    // its own, of the commands that act on the favourites the right click selected. They are
    // validated and run as the menu bar's, against the favourites mode.
    if (!view || !m_windowController.isWorkableWindow())
        return;
    if (!m_contextMenu) {
        m_contextMenu = std::make_shared<kpv::Menu>(QString());
        m_contextMenu->setValidator([this](kpv::MenuItem& item) { return m_windowController.validateMenuItem(item); });
        for (const long tag : {7L, 6L, 0L, 12L}) {
            const MainCommand* command = tag ? MainWndController::commandForTag(tag) : nullptr;
            if (!command) {
                m_contextMenu->addItem(kpv::MenuItem::separatorItem());
                continue;
            }
            auto item = std::make_shared<kpv::MenuItem>(
                kpv::Bundle::mainBundle().localizedString(QString::fromLatin1(command->titleKey)),
                [this, tag](kpv::MenuItem&) { m_windowController.performMenuAction(tag); },
                QString::fromLatin1(command->keyEquivalent));
            item->setTag(tag);
            m_contextMenu->addItem(item);
        }
    }
    kpv::Menu::popUpContextMenu(m_contextMenu, e, view);
}

MainWndFavoriteController::MainWndFavoriteController(MainWndController& windowController)
    : detail::MainWndFavoriteHostHolder(windowController)
    , FavoriteViewController(favoriteHost)
    , m_windowController(windowController)
{
    favoriteHost.setFavoriteController(this);
    setKeptCopiesFolder(windowController.appDelegate().keptCropFolder(false));
}

MainWndFavoriteController::~MainWndFavoriteController()
{
    m_alive.reset();
    setCollectionChangedHandler({});
    if (m_unsaved)
        saveFavorites();
    favoriteHost.setFavoriteController(nullptr);
}

const char* const FavoriteListFileName = "favorites.json";

void MainWndFavoriteController::restoreSavedFavorites(const QString& filePath)
{
    m_listFile = std::make_unique<FavoriteListFile>(filePath);
    const FavoriteListFile::Contents saved = m_listFile->read();
    if (!saved.error.isEmpty()) {
        qWarning("Favourites from the last run not restored whole: %s (%s)", qUtf8Printable(saved.error),
                 qUtf8Printable(filePath));
        // Told once the window is up: the user sees favourites missing and must know why, and
        // where the damaged list is kept.
        m_windowController.showFailureAlertSoon(kpv::Bundle::mainBundle().localizedStringWithFormat(
            QStringLiteral("IDS_FavListDamaged"), saved.error, long(saved.paths.size()),
            kpv::displayFileName(filePath + QStringLiteral(".corrupt"))));
    }
    // No save while restoring: the file already says this.
    setCollectionChangedHandler({});
    restoreFavoriteFiles(saved.paths);
    setCollectionChangedHandler([this] { saveFavorites(); });
}

void MainWndFavoriteController::saveFavorites()
{
    if (!m_listFile)
        return;
    QString error;
    m_unsaved = !m_listFile->write(favoriteFilePaths(), &error);
    if (!m_unsaved) {
        m_toldUnsaved = false;
        return;
    }
    qWarning("Favourites not saved to %s: %s", qUtf8Printable(m_listFile->filePath()), qUtf8Printable(error));
    // Once until a save succeeds again: every later mark would only say the same.
    if (m_toldUnsaved || !m_alive)
        return;
    m_toldUnsaved = true;
    m_windowController.showFailureAlert(
        kpv::Bundle::mainBundle().localizedStringWithFormat(QStringLiteral("IDS_FavListNotSaved"), error));
}

void MainWndFavoriteController::loadSmallThumbLater(const LMPathString& path)
{
    if (!isFavoriteFile(path) || m_thumbLoadsDone.contains(path))
        return;
    if (auto pending = m_thumbLoads.value(path); pending && !pending->isCancelled() && !pending->isFinished())
        return;
    kpv::OperationQueue* queue = m_windowController.appDelegate().operationQueue();
    const ThumbLoader loader = thumbLoader();
    if (!queue || !loader)
        return;
    std::weak_ptr<int> alive = m_alive;
    m_thumbLoads.insert(path, queue->addOperationWithBlock([this, alive, loader, path] {
        const LMImagePtr image = loader(path, nullptr);
        kpv::RunLoop::performOnMainThread(
            [this, alive, image, path] {
                if (!alive.lock())
                    return;
                m_thumbLoads.remove(path);
                m_thumbLoadsDone.insert(path);
                updateFavoriteSmallThumb(image, path, false);
            },
            false);
    }));
}

void restoreFavorites(MainWndController& windowController)
{
    MainConfig* config = windowController.appDelegate().mainConfig();
    auto* favorites = dynamic_cast<MainWndFavoriteController*>(windowController.favoriteViewController());
    if (!config || !favorites)
        return;
    favorites->restoreSavedFavorites(config->settingsFolder() + u'/' + QLatin1String(FavoriteListFileName));
}

void registerFavoriteMode(MainWndController& windowController, MainWndFavoriteHost::WorkspaceProvider workspace)
{
    windowController.setShowModeControllerFactory(MainShowModeFavorite, [workspace](MainWndController& controller) {
        auto made = std::make_unique<MainWndFavoriteController>(controller);
        made->host().setWorkspaceProvider(workspace);
        return std::unique_ptr<ShowModeController>(std::move(made));
    });
}

void MainWndFavoriteHost::shareFiles(const std::vector<FavoriteHandOff>& files, long shareType)
{
    QList<ShareFileInfoPtr> infos;
    for (const FavoriteHandOff& file : files) {
        auto info = std::make_shared<ShareFileInfo>(file.filePath);
        info->setImgBaseInfo(file.imgBaseInfo);
        info->setRawThumb(file.rawThumb);
        infos.append(std::move(info));
    }
    m_windowController.secondaryWindows().shareFiles(infos, shareType);
}

QString MainWndFavoriteHost::shareButtonImageName(long shareType) const
{
    const QString name = ShareSelectWebsiteViewController::toolbarButtonImageNameByShareType(shareType);
    return name.isEmpty() ? QStringLiteral("E_SHARE") : name;
}

QString MainWndFavoriteHost::shareButtonToolTip(long shareType) const
{
    return ShareSelectWebsiteViewController::toolbarButtonToolTipsByShareType(shareType);
}

// ---- Reveal, print, alerts, the copy folder ----

void MainWndFavoriteHost::revealFilesInFinder(const QList<LMPathString>& paths)
{
    // The file manager shows one selected file; the first of the selection stands for the rest.
    if (paths.isEmpty())
        return;
    kpv::SystemWorkspaceServices system;
    kpv::WorkspaceServices* workspace = m_workspace ? m_workspace() : nullptr;
    if (!(workspace ? workspace : &system)->selectFileInFileViewer(paths.first().path()))
        m_windowController.showFailureAlert(
            kpv::Bundle::mainBundle().localizedString(QStringLiteral("IDS_FileManagerFailed")));
}

void MainWndFavoriteHost::renderFileForPrint(const LMPathString& path, std::function<void(int result, QImage image)> done)
{
    if (!done)
        return;
    // Upright, as the viewer shows it, and within the decode budget like every other decode; at
    // no more pixels than a page takes (a page at 350 dots an inch), so that a panorama larger
    // than the budget prints too and the pages waiting for the printer stay small.
    QImage image = kpv::decodeUprightImage(path.path(), kpv::kPrintPixels);
    if (image.isNull())
        done(-1, {});
    else
        done(0, std::move(image));
}

void MainWndFavoriteHost::printImages(const QList<QImage>& images, const QString& jobName)
{
    if (images.isEmpty())
        return;
    // While the print panel is up, Esc belongs to it.
    std::shared_ptr<PrintView> view = PrintView::printViewWithImages(images);
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

void MainWndFavoriteHost::alert(const QString& text, const QString& defaultButton, const QString& alternateButton,
                                std::function<void(int)> done)
{
    kpv::AlertSheet::begin(text, defaultButton, alternateButton, QString(), m_windowController.getCurWindow(),
                           [done](long code) {
                               if (done)
                                   done(int(code));
                           },
                           QString());
}

QString MainWndFavoriteHost::chooseFolder(const QString& startFolder)
{
    if (m_folderChooser)
        return m_folderChooser(startFolder);
    // The panel says what it is for: a folder for the copies, not a photo to open.
    kpv::OpenPanel panel;
    panel.setTitle(kpv::Bundle::mainBundle().localizedString(QStringLiteral("IDS_Tips_Browser")));
    panel.setPrompt(kpv::Bundle::mainBundle().localizedString(QStringLiteral("IDS_Copy")));
    panel.setCanChooseFiles(false);
    panel.setCanChooseDirectories(true);
    panel.setAllowsMultipleSelection(false);
    panel.setCanCreateDirectories(true);
    panel.setDirectoryURL(startFolder);
    return panel.runModal() == 1 ? panel.URL() : QString();
}

void MainWndFavoriteHost::updateFavPhotoBoxUI()
{
    // The viewer's toolbar shows the favourites box; the viewer listens for this.
    kpv::NotificationCenter::defaultCenter().postNotification(QString::fromLatin1(FavoritePhotoBoxNeedsUpdateNotification),
                                                              nullptr);
}
