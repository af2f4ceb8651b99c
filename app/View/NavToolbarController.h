#pragma once

// The bottom toolbar of the view mode: its skinned buttons and their enabled and on states, the
// zoom slider on a base-2 logarithmic axis, showing the strip while the pointer is over it and
// fading it out afterwards, the edit and share pop-up menus, the photo-bin toggle and the two
// tips. The window hands it its views (outlets) and a host; it observes the view's and the
// navigation controller's notifications itself. Main thread only.

#include "Kit/LMButtonDelegate.h"
#include "Kit/LMFadeShowProxy.h"
#include "View/NavToolbarHost.h"

#include <array>
#include <cstdint>
#include <memory>

class LMButton;
class LMThumbZoomSlider;
namespace kpv {
class View;
}

// The views the toolbar works on; the window owns them.
struct NavToolbarOutlets {
    const void *openGLView = nullptr; // sender of the scale notifications
    kpv::View *viewSandboxAccessTipsContainer = nullptr;
    kpv::View *viewHitTestNavToolbar = nullptr;
    kpv::View *viewNavToolbarContainer = nullptr;
    kpv::View *viewNavToolbar = nullptr;
    kpv::View *viewFavoriteBin = nullptr;
    LMButton *btnThumbView = nullptr;
    LMButton *btnPhotoBin = nullptr;
    LMButton *btnInfo = nullptr;
    LMButton *btnZoomToMinScale = nullptr;
    LMThumbZoomSlider *thumbZoomSlider = nullptr;
    LMButton *btnZoomToMaxScale = nullptr;
    LMButton *btnFitIn = nullptr;
    LMButton *btnPrev = nullptr;
    LMButton *btnPlay = nullptr;
    LMButton *btnNext = nullptr;
    LMButton *btnCrop = nullptr;
    LMButton *btnDelete = nullptr;
    LMButton *btnShare = nullptr;
    LMButton *btnShareMore = nullptr;
    LMButton *btnEditMore = nullptr;
    LMButton *btnFavorite = nullptr;
};

class NavToolbarController : public LMButtonDelegate, public LMFadeShowProxyDelegate {
public:
    enum PopMenuType : int { PopMenuEdit = 0, PopMenuShare = 1, PopMenuNone = 2 };
    enum UpdateMask : int64_t {
        UpdateCurFile = 1,
        UpdateFileList = 2,
        UpdateScale = 4,
        UpdateSmallThumb = 8,
        UpdateFavorites = 16,
        UpdateFitinScale = 32,
        UpdateShareType = 64,
        UpdateAll = 65535,
    };

    NavToolbarController(NavToolbarHost *host, const NavToolbarOutlets &outlets);
    ~NavToolbarController() override;
    NavToolbarController(const NavToolbarController &) = delete;
    NavToolbarController &operator=(const NavToolbarController &) = delete;

    // Sets up the buttons, the fade proxies and the notifications; call once the views exist.
    void awakeFromNib();
    const NavToolbarOutlets &outlets() const { return m_o; }

    // Photo bin.
    void switchPhotoBin();
    void showPhotoBin(bool flag);
    void updatePhotoBinUIState();
    uint64_t photoBinMaxVisibleItemCount();
    uint64_t photoBinWholeVisibleItemCountOfCurPage() const;
    void resetPhotoBinFiles();

    // Favourites.
    void beginAniFavorFile(bool adding);
    void endAniFavorFile(bool adding);
    void updateFavPhotoBoxUI() { updateUI(UpdateFavorites); }

    // Tips.
    void showSandboxAccessTips();
    void hideSandboxAccessTips(bool showToolbarByMouse);
    bool okWasClickedForSandboxAccessTips();
    void showLoveIntroTips();
    void hideLoveIntroTips(bool showToolbarByMouse);
    bool curLoveIntroTipsShowStatus() const;
    void closeClickedOnLoveIntroTips();

    // Share and edit.
    void updateShareButtonUI(int64_t shareType);
    void doShareForType(int64_t shareType);
    void doEditForType(int editType);
    static QString toolbarButtonImageNameByShareType(int64_t shareType);
    static QString toolbarButtonToolTipsByShareType(int64_t shareType);

    // Buttons and zoom.
    void updateUI(int64_t mask);
    void updateZoomSlider();
    void zoomSliderDidChange();

    // Toolbar show state.
    void updateToolbarShowStatus(bool show, bool autoHide);
    void hideToolbarWithDelay(bool delay);
    void showToolbarByCurMouseLocation();
    void updateToolbarShowStatusByLocationInWindow(kpv::Point p);
    bool shouldShowToolbarByLocationInWindow(kpv::Point p, bool ignoreToolbarHidden, bool *needAutoHide) const;
    bool shouldShowToolbarByLocationInWindow(kpv::Point p, bool *needAutoHide) const
    {
        return shouldShowToolbarByLocationInWindow(p, false, needAutoHide);
    }
    bool hitTestOnToolbar(kpv::Point p, bool ignoreToolbarHidden, bool *needAutoHide) const;
    bool hitTestOnToolbar(kpv::Point p, bool *needAutoHide) const { return hitTestOnToolbar(p, false, needAutoHide); }
    // Mouse moves handed on by the main window; answers false so that others see them too.
    bool performMouseMovedEquivalent(kpv::Point locationInWindow);

    // Pop menus.
    void showPopViewByButton(LMButton *button, bool delay);
    void showHidePopMenuViewForType(int type, bool showFlag, kpv::Point locationInWindow, bool delay);
    void updatePopMenuButtonState(int type);
    // The pop menu of `type` went on or off screen.
    void popMenuViewShowed(int type, bool showed);
    // An entry was chosen: an edit item type (menu 0) or a share type (menu 1).
    void popMenuViewItemClicked(int type, int64_t item);
    bool popMenuViewItemEnabled(int type, int64_t item) const;
    bool popMenuShowing(int type) const { return type >= 0 && type < 2 && m_popMenuViewPopup[size_t(type)]; }

    // Notifications (also called directly by the window).
    void didChangeMainShowMode(int64_t newMode, int64_t oldMode);
    void didAutoHideCursor();

    // Button actions.
    void thumbViewButtonClicked();
    void photoBinButtonClicked() { switchPhotoBin(); }
    void infoButtonClicked();
    void zoomToMinScaleButtonClicked();
    void zoomToMaxScaleButtonClicked();
    void fitinButtonClicked();
    void playSlideshowButtonClicked();
    void cropButtonClicked();
    void deleteButtonClicked();
    void shareButtonClicked();
    void shareMoreButtonClicked();
    void editMoreButtonClicked();
    void favoriteButtonClicked();
    void switchFavoriteView();

    // LMButtonDelegate
    void buttonMouseDown(LMButton *button) override;
    void buttonMouseUp(LMButton *button) override;
    void buttonMouseEntered(LMButton *button) override;
    void buttonMouseExited(LMButton *button) override;
    // LMFadeShowProxyDelegate
    void beginShowFadeShowProxy(LMFadeShowProxy *proxy, bool animation) override;
    void beginHideFadeShowProxy(LMFadeShowProxy *proxy, bool animation) override;

    LMFadeShowProxy *navToolbarContainerFadeShowProxy() const { return m_containerProxy.get(); }
    LMFadeShowProxy *navToolbarFadeShowProxy() const { return m_toolbarProxy.get(); }
    LMFadeShowProxy *playFadeShowProxy() const { return m_playProxy.get(); }
    LMFadeShowProxy *favoriteBinFadeShowProxy() const { return m_favoriteBinProxy.get(); }
    LMFadeShowProxy *sandboxAccessTipsContainerFadeShowProxy() const { return m_tipsProxy.get(); }

private:
    // Centres the play button on the picture, or, for a file that cannot be shown, sets it below
    // the centre so the status line's message there stays readable.
    void placePlayButton(bool belowCentre);

    void wireButton(LMButton *b, const QString &image, const QString &offTip, const QString &onTip, bool care);
    void favoriteBinShow(bool autoHide);
    void favoriteBinHide(bool delay);

    NavToolbarHost *m_host;
    NavToolbarOutlets m_o;
    std::array<bool, 2> m_popMenuViewPopup{false, false};
    std::unique_ptr<LMFadeShowProxy> m_containerProxy;
    std::unique_ptr<LMFadeShowProxy> m_toolbarProxy;
    std::unique_ptr<LMFadeShowProxy> m_playProxy;
    std::unique_ptr<LMFadeShowProxy> m_favoriteBinProxy;
    std::unique_ptr<LMFadeShowProxy> m_tipsProxy;
    uint64_t m_photoBinMaxVisibleItemCount = 0;
    std::shared_ptr<bool> m_alive = std::make_shared<bool>(true);
};
