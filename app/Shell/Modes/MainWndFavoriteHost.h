#pragma once
// The favourites mode inside the main window: the window controller's side of the favourites
// (show mode, window, settings, where the grid and its toolbar go, the context menu and the
// slideshow of favourites) and the favourites controller the window controller makes on first
// use. Main thread only.

#include "Browse/FavoriteViewController.h"
#include "Browse/FavoriteViewHost.h"
#include "Kit/LMPrintPanelWrapper.h"
#include "Shell/Tips/FavoriteIntroTipsViewController.h"

#include <QHash>
#include <QSet>
#include <memory>

namespace kpv {
class Menu;
class Operation;
class WorkspaceServices;
}
class BatchPopViewController;
class FavoriteListFile;
class MainWndController;

// Posted when the favourites changed what the viewer's favourites box shows.
extern const char* const FavoritePhotoBoxNeedsUpdateNotification; // "favoritePhotoBoxNeedsUpdate"
class SharePopMenu;
class ShareSelectWebsiteViewController;

class MainWndFavoriteHost final : public FavoriteViewHost, public FavoriteIntroTipsViewControllerDelegate {
public:
    explicit MainWndFavoriteHost(MainWndController& windowController);
    ~MainWndFavoriteHost() override;
    // The controller whose tip this host shows (set once it is built).
    void setFavoriteController(FavoriteViewController* controller) { m_favoriteController = controller; }

    long showMode() const override;
    void setShowMode(long mode) override;
    bool isWorkableWindow() const override;
    kpv::Window* window() const override;
    void registEquivalentResponder(LMEquivalentResponder* responder, bool regist) override;
    MainConfig* mainConfig() const override;
    // The viewer's favourites container when it has one, else the window's content view.
    kpv::View* viewNavFavContainer() const override;
    kpv::View* viewToolbarContainer() const override;
    void startSlideshow(const std::vector<FavoriteHandOff>& files, long startFromIndex) override;
    void shareFiles(const std::vector<FavoriteHandOff>& files, long shareType) override;
    QString shareButtonImageName(long shareType) const override;
    QString shareButtonToolTip(long shareType) const override;
    void popUpContextMenu(const kpv::Event& e, kpv::View* view) override;
    // The one-time tip: the favourites refuse their commands while it is up, so it must be shown
    // where the user can close it.
    void showFavoriteIntroTips(bool show) override;
    void closeClickedOnFavoriteIntroTipsViewController(FavoriteIntroTipsViewController*) override;
    FavoriteIntroTipsViewController* introTips() const { return m_introTips.get(); }
    // The batch tools on the selected favourites, and their pop-up menu (type 0) at the batch button.
    void batchRenameFiles(const QList<LMPathString>& files) override;
    void batchResizeFiles(const std::vector<std::shared_ptr<LMFileInfo>>& files) override;
    void batchConvertFiles(const std::vector<std::shared_ptr<LMFileInfo>>& files) override;
    void showPopMenu(int type, kpv::Point anchorInWindow, bool delay) override;
    void hidePopMenu(int type, bool delay) override;
    // Reveal, print, alerts, the copy folder and the viewer's favourites box.
    void revealFilesInFinder(const QList<LMPathString>& paths) override;
    void renderFileForPrint(const LMPathString& path, std::function<void(int result, QImage image)> done) override;
    void printImages(const QList<QImage>& images, const QString& jobName) override;
    void alert(const QString& text, const QString& defaultButton, const QString& alternateButton,
               std::function<void(int)> done) override;
    QString chooseFolder(const QString& startFolder) override;
    void updateFavPhotoBoxUI() override;
    // Tests: answers the folder panel instead of the user.
    void setFolderChooser(std::function<QString(const QString&)> chooser) { m_folderChooser = std::move(chooser); }
    // The desktop that reveals files: the viewer's (so that a stand-in reaches both); the system's
    // when there is none.
    using WorkspaceProvider = std::function<kpv::WorkspaceServices*()>;
    void setWorkspaceProvider(WorkspaceProvider provider) { m_workspace = std::move(provider); }
    BatchPopViewController* batchPopViewController() const;
    ShareSelectWebsiteViewController* shareSelectWebsiteViewController() const;

private:
    class BatchMenu;
    MainWndController& m_windowController;
    FavoriteViewController* m_favoriteController = nullptr;
    std::unique_ptr<FavoriteIntroTipsViewController> m_introTips;
    std::unique_ptr<BatchMenu> m_batchMenu;
    std::unique_ptr<SharePopMenu> m_shareMenu;
    std::function<QString(const QString&)> m_folderChooser;
    WorkspaceProvider m_workspace;
    LMPrintPanelWrapper m_printPanelWrapper;
    // The grid's own context menu, made on first use.
    std::shared_ptr<kpv::Menu> m_contextMenu;
};

namespace detail {
struct MainWndFavoriteHostHolder {
    explicit MainWndFavoriteHostHolder(MainWndController& windowController) : favoriteHost(windowController) {}
    MainWndFavoriteHost favoriteHost;
};
}  // namespace detail

// The favourites controller together with its host, as the window controller owns it.
class MainWndFavoriteController final : private detail::MainWndFavoriteHostHolder, public FavoriteViewController {
public:
    explicit MainWndFavoriteController(MainWndController& windowController);
    // The host (and its pop-up menu) outlives the controller: it forgets the controller first.
    // A list that could not be saved at its last change is tried once more.
    ~MainWndFavoriteController() override;
    MainWndFavoriteHost& host() { return favoriteHost; }
    // Loads the favourites kept in `filePath` (a list file) and from then on writes the list there
    // whenever it changes. Until this is called nothing is read or written.
    void restoreSavedFavorites(const QString& filePath);
    FavoriteListFile* listFile() const { return m_listFile.get(); }
    // A favourite restored from an earlier run has no small thumbnail until one is loaded: loads
    // it on the application's workers and offers it to the collection. A file that could not be
    // read is not asked for again; a load cancelled before it ran is asked for on the next call.
    void loadSmallThumbLater(const LMPathString& path);

private:
    void saveFavorites();
    std::unique_ptr<FavoriteListFile> m_listFile;
    bool m_unsaved = false;
    bool m_toldUnsaved = false; // the user knows the list is not on the disk; told again after a save

    MainWndController& m_windowController;
    QHash<LMPathString, std::shared_ptr<kpv::Operation>> m_thumbLoads;
    QSet<LMPathString> m_thumbLoadsDone;
    std::shared_ptr<int> m_alive = std::make_shared<int>(0);
};

// The favourites list file's name inside the settings folder.
extern const char* const FavoriteListFileName; // "favorites.json"
// Restores the favourites saved by earlier runs (in the settings folder) and keeps them saved, so
// that the viewer's favourites box and My Favourites are right from the start.
void restoreFavorites(MainWndController& windowController);

// Registers the favourites' factory with the window controller; `workspace` gives the desktop
// that reveals files (the system's when empty or when it answers nothing).
void registerFavoriteMode(MainWndController& windowController, MainWndFavoriteHost::WorkspaceProvider workspace = {});
