#pragma once
// The view-mode toolbar in the main window: the strip of skinned buttons and the zoom slider along
// the bottom of the viewer, the big play button, the favourites bin, the edit and share pop-up
// menus and the favourite button's tip, built here and driven by the toolbar controller, whose
// host this is. Main thread only.

#include "View/NavToolbarController.h"
#include "View/NavToolbarHost.h"

#include "Kit/LMEquivalentResponder.h"
#include "Shell/Tips/LoveIntroTipsViewController.h"

#include <memory>

class FavBinButton;
class SharePopMenu;
class MainWndController;
class MainWndNavigateHost;
class MainWndPhotoBin;
class NavigateController;
class NavigateOverlays;
class NavigateViewModeAdapter;

class NavigateToolbar final : public NavToolbarHost, public LoveIntroTipsViewControllerDelegate {
public:
    // None owned; all outlive the toolbar. The views go into the window's content view.
    NavigateToolbar(MainWndController& windowController, NavigateController& navigator, NavigateViewModeAdapter& adapter,
                    MainWndNavigateHost& host, MainWndPhotoBin& photoBin, NavigateOverlays* overlays);
    ~NavigateToolbar() override;
    NavigateToolbar(const NavigateToolbar&) = delete;
    NavigateToolbar& operator=(const NavigateToolbar&) = delete;

    NavToolbarController& controller() const { return *m_controller; }
    kpv::View* container() const { return m_outlets.viewNavToolbarContainer; }
    FavBinButton* favBinButton() const { return m_favBinButton; }
    const NavToolbarOutlets& outlets() const { return m_outlets; }

    // ---- Navigation controller: zoom ----
    double curScale() const override;
    double curMinScale() const override;
    double curMaxScale() const override;
    void setScale(double scale) override;
    bool fitinMode() const override;
    void switchToFitin() override;
    void switchToOriginal() override;
    void switchToMaxScale() override;

    // ---- Navigation controller: current file and commands ----
    int curFileState() const override;
    bool canDoAction(int actionId) const override;
    QString curFilePath() const override;
    void switchToThumbView() override;
    void showPropertiesWindow() override;
    void playSlideshow() override;
    void cropCurFile() override;
    void deleteCurFile() override;
    void favorCurFile() override;
    void switchToMyFavorites() override;
    void beginAutoNav(bool next) override;
    void endAutoNav() override;
    double badFilePictureHeight() const override;
    double badFileReasonRoom() const override;
    bool doShareForType(int64_t shareType) override;
    void rotateCurFile(int editType) override;
    void showFileInfo(bool animation) override;
    void hideFileInfo(bool animation) override;
    void playButtonMoved() override;

    // ---- Main window controller ----
    int64_t showMode() const override;
    void setShowMode(int64_t mode) override;
    void registEquivalentResponder(NavToolbarController* toolbar, bool regist) override;
    kpv::Point mouseLocationInWindow() const override;
    bool doOpenFolder(const QString& folder, bool fromSandboxAccessTips) override;
    void playFavoritesSlideshow() override;

    // ---- Settings ----
    bool photoBinVisible() const override;
    void setPhotoBinVisible(bool visible) override;
    int64_t curShareType() const override;
    bool loveTipsAlreadyShowed() const override;
    void setLoveTipsAlreadyShowed(bool showed) override;
    QString localizedString(const QString& key) const override;
    bool fileExists(const QString& path) const override;
    double mainScreenWidth() const override;

    // ---- Favourites ----
    qsizetype favoriteFileCount() const override;
    bool isFavoriteFile(const QString& path) const override;
    QImage lastFavoriteThumb(int* angle) const override;
    void setFavoriteBinThumb(const QImage& thumb, int angle) override;
    void setFavoriteBinPhotoCount(qsizetype count) override;
    void setFavoriteBinEnabled(bool enabled) override;
    void setFavoriteBinToolTip(const QString& tip) override;

    // ---- Photo bin ----
    void showPhotoBinView(bool show) override;
    double photoBinItemWidth() const override;
    qsizetype photoBinWholeVisibleItemCountOfCurPage() const override;
    void resetPhotoBinFiles() override;

    // ---- Pop-up menus ----
    void showPopMenu(int type, kpv::Point locationInWindow, bool delay) override;
    void hidePopMenu(int type, bool animation) override;
    int mainActionTypeForShareType(int64_t shareType) const override;

    // ---- Tips ----
    void showSandboxAccessTipsView() override;
    void hideSandboxAccessTipsView() override;
    bool sandboxAccessTipsShowing() const override;
    void showLoveIntroTipsView() override;
    void hideLoveIntroTipsView() override;
    bool loveIntroTipsShowing() const override;
    void closeClickedOnLoveIntroTipsViewController(LoveIntroTipsViewController*) override;

private:
    class EditMenu;
    class MouseResponder;

    void buildViews();

    MainWndController& m_windowController;
    NavigateController& m_navigator;
    NavigateViewModeAdapter& m_adapter;
    MainWndNavigateHost& m_host;
    MainWndPhotoBin& m_photoBin;
    NavigateOverlays* m_overlays;
    NavToolbarOutlets m_outlets;
    FavBinButton* m_favBinButton = nullptr;
    std::unique_ptr<NavToolbarController> m_controller;
    std::unique_ptr<EditMenu> m_editMenu;
    std::unique_ptr<SharePopMenu> m_shareMenu;
    std::unique_ptr<MouseResponder> m_mouseResponder;
    std::unique_ptr<LoveIntroTipsViewController> m_loveTips;
};
