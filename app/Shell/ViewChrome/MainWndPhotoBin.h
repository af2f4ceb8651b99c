#pragma once
// The photo bin of the viewer in the main window: the strip of the folder's small thumbnails,
// fed by the viewer's controller, shown while the viewer is and the setting asks for it. The
// view-mode toolbar shows and hides it and asks for its pitch and page; the viewer's Page Up and
// Page Down step by its page. Main thread only.

#include "Browse/PhotoBinNavigator.h"
#include "Browse/PhotoBinViewController.h"

#include <functional>
#include <memory>

class MainWndController;
class NavigateController;
namespace kpv {
class View;
}

class MainWndPhotoBin final : public PhotoBinNavigator {
public:
    // Height of the bar that holds the strip when no toolbar gives it a place.
    static constexpr double kBarHeight = 56.0;

    // None owned; both outlive the bin.
    MainWndPhotoBin(MainWndController& windowController, NavigateController& navigator);
    ~MainWndPhotoBin() override;
    MainWndPhotoBin(const MainWndPhotoBin&) = delete;
    MainWndPhotoBin& operator=(const MainWndPhotoBin&) = delete;

    PhotoBinViewController& controller() { return *m_controller; }
    // The view whose top edge holds the strip: the toolbar's when one is set, else the bin's own
    // bar along the bottom of the window.
    void setToolbarContainerProvider(std::function<kpv::View*()> provider) { m_containerProvider = std::move(provider); }

    // ---- For the toolbar and the viewer ----
    bool isVisibleSetting() const;
    // Stores the setting and shows or hides the strip to match (the View menu's command).
    void switchPhotoBin();
    void showPhotoBinView(bool show);
    double photoBinItemWidth() const { return m_controller->photoBinItemWidth(); }
    qsizetype photoBinWholeVisibleItemCountOfCurPage() const;
    void resetPhotoBinFiles() { m_controller->resetAllFiles(); }
    bool isShown() const { return m_shown; }
    // Told the height the strip covers along the bottom of the window whenever it is shown or
    // hidden (0 when hidden or when it stands in the toolbar).
    void setCoveredHeightHandler(std::function<void(double)> handler) { m_coveredHeightHandler = std::move(handler); }
    double coveredHeight() const;

    // ---- What the strip reads of the viewer ----
    const QList<LMPathString>& filePaths() const override;
    std::size_t curFileIndex() const override;
    std::shared_ptr<LMNavFileInfo> fileInfoByPath(const LMPathString& path) const override;
    bool isFavoriteFile(const LMPathString& path) const override;
    void doNavCurFileToIndex(std::size_t index, std::function<void(bool notNavigated)> done) override;
    void switchToFitin() override;
    bool beginDraggingSession(kpv::View* view, const kpv::Event& e, std::size_t index) override;
    kpv::View* viewNavToolbarContainer() const override;

private:
    void didChangeMainShowMode(long newMode);
    kpv::View* ownBar() const;

    MainWndController& m_windowController;
    NavigateController& m_navigator;
    std::unique_ptr<PhotoBinViewController> m_controller;
    std::function<kpv::View*()> m_containerProvider;
    std::function<void(double)> m_coveredHeightHandler;
    // The bar along the bottom of the content view (owned by it once added, else here).
    mutable kpv::View* m_bar = nullptr;
    mutable std::unique_ptr<kpv::View> m_ownedBar;
    mutable QList<LMPathString> m_filePaths; // the viewer's list as last read
    bool m_shown = false;
};
