#pragma once
// The window side of the image viewer's controller in the application: the delegate's settings,
// shared load queue and temporary folder, the main window controller's show mode, title, full
// screen and responder registration, the image view itself (shown, hidden, its drop shadow), the
// overlays over it, the toolbar, the favourites, the clipboard, the alert sheets, the save and
// print panels, mail and drag-out. Main thread only.
//
// Operations that belong to another part of the application (the info panel, the mini window's
// image view) go through the
// entries that part registers; until it does, supportsAction refuses the commands that need them.

#include "View/NavigateControllerHost.h"

#include "Kit/LMAlertSheet.h"
#include "Kit/LMPrintPanelWrapper.h"
#include "desktop/WorkspaceServices.h"

#include <functional>
#include <memory>

class AppDelegate;
class FavFileSnapshotView;
class FavoriteViewController;
class LMEquivalentResponder;
class LMFadeShowProxy;
class LMOpenGLView;
class MainWndController;
class MainWndPhotoBin;
class NavigateOverlays;
class NavigateWindowController;
class NavToolbarController;
class ShowModeController;

// What other parts of the application hand the viewer; each stays empty until its part sets it.
struct NavigateViewerEntries {
    std::function<void()> switchPropertiesWindow;
    std::function<bool()> propertiesWindowShown;
    std::function<void()> savePopWindowsPostionInfo;
    std::function<LMImageViewModel*()> miniWindowOpenGLView;
};

class MainWndNavigateHost final : public NavigateControllerHost {
public:
    // None owned. `responder` is what the window controller registers while the view mode is shown.
    MainWndNavigateHost(AppDelegate& delegate, MainWndController& windowController, LMOpenGLView* imageView,
                        LMEquivalentResponder* responder);
    ~MainWndNavigateHost() override;

    void setResponder(LMEquivalentResponder* responder) { m_responder = responder; }
    // The controller this host serves (not owned).
    void setController(NavigateController* controller) { m_controller = controller; }
    void setOverlays(NavigateOverlays* overlays) { m_overlays = overlays; }
    void setToolbar(NavToolbarController* toolbar) { m_toolbar = toolbar; }
    LMOpenGLView* imageView() const { return m_imageView; }
    // The viewer's photo bin (not owned; nullptr while there is none).
    void setPhotoBin(MainWndPhotoBin* photoBin) { m_photoBin = photoBin; }
    // The Navigation panel the viewer's checks show and hide (not owned; may be null).
    void setNavigateWindowController(NavigateWindowController* panel) { m_navigateWindowController = panel; }
    // The fade proxy of the image view (made by the view mode).
    void setImageViewShowProxy(LMFadeShowProxy* proxy) { m_imageViewProxy = proxy; }
    NavigateViewerEntries& entries() { return m_entries; }
    // Trash, reveal and desktop picture go to `services` instead of the desktop (tests); nullptr
    // restores the desktop's.
    void setWorkspaceServices(kpv::WorkspaceServices* services) { m_workspaceStandIn = services; }

    // False for the commands whose window or mode is missing from the application.
    bool supportsAction(long actionId) const;
    // Forwarded to the toolbar and to the registered panels.
    void hideLoveIntroTips(bool animate);
    bool propertiesWindowShown() const;
    void switchPropertiesWindow();
    void savePopWindowsPostionInfo();
    // The favourites mode's controller (made on first use), or nullptr without that mode.
    FavoriteViewController* favoriteController() const;

    // ---- Application delegate ----
    MainConfig* mainConfig() override;
    void addOperation(std::shared_ptr<kpv::Operation> operation) override;
    void cancelAllOperations() override;
    void performAfterImageViewFrame(std::function<void()> block) override;
    QString localizedString(const QString& key) const override;
    QString resourcePath(const QString& fileName) const override;

    // ---- Main window controller ----
    int64_t showMode() const override;
    void setShowMode(int64_t mode) override;
    void registEquivalentResponder(NavigateController* controller, bool regist) override;
    // The viewer's title. A slideshow shows many photos, so while one plays the window keeps the
    // program's name and the viewer's latest title waits until the slideshow ends. Crop mode keeps
    // the name of the photo it works on until it ends, also under a name another program gave it.
    void setWindowTitle(const QString& title, const QString& representedFilename) override;
    void slideshowModeChanged(bool playing);
    // The viewer's latest title on the window, once the mode that held it back has ended.
    void showViewerTitle() { slideshowModeChanged(false); }
    bool isWindowFullScreen() const override;
    void toggleFullScreen() override;
    LMImageViewModel* miniWindowOpenGLView() override;
    void updateMiniUI(int imageMode, int angleDegrees) override;
    void writeImageToPasteboard(const QImage& image) override;

    // ---- Overlays ----
    void updateStatusInfo(const QString& text, bool showWaiting, int loadingInfoFlag) override;
    void updateStatusReason(const QString& reason) override;
    // The toolbar began to show, or its play button moved: the status line moves out of the
    // buttons' way, or back to the middle.
    void placeStatusLine();
    void showPreviewStatus(bool animation, bool autoHide) override;
    void hidePreviewStatus(bool animation, bool needDelay) override;
    void setPreviewStatusAutoHideInterval(double seconds) override;
    void showNextPrev(bool animation, bool autoHide) override;
    void hideNextPrev(bool animation, bool needDelay) override;
    void showImageView(bool animation, bool autoHide) override;
    void hideImageView(bool animation, bool needDelay) override;
    void setNavInfoContainerHidden(bool hidden) override;
    void setFileImgBaseInfo(const LMFileImgBaseInfoPtr& info, int64_t mask) override;
    NavArrowHit arrowHitTest(QPointF locationInWindow) const override;
    void setViewShadowImage(const LMImagePtr& image) override;
    // Gives `view` the viewer's nine-slice drop shadow (the mini window's view wears it too).
    static void applyShadowImage(LMOpenGLView& view, const LMImagePtr& image);

    // ---- Photo bin, panels, favourites, other modes ----
    qsizetype photoBinMaxVisibleItemCount() const override;
    qsizetype photoBinWholeVisibleItemCountOfCurPage() const override;
    void resetPhotoBinFiles() override;
    void showSandboxAccessTips() override;
    void hideSandboxAccessTips(bool showToolbarByMouse) override;
    void checkShowHideNavigationWindow() override;
    bool curLoveIntroTipsShowStatus() const override;
    bool isFavoriteFile(const LMPathString& path) const override;
    qsizetype favoriteFileCount() const override;
    void stopFavorFileAnimationTimer() override;
    bool fileExistsAtPath(const QString& path) const override;
    void startSlideshow(const QList<NavSlideshowFile>& slides, qsizetype startFromIndex) override;
    void deleteCurFile() override;
    void sortFiles(int64_t sortType, bool forceSort) override;

    // ---- File commands ----
    void beginAlertSheet(const QString& message, const QString& defaultButton, const QString& alternateButton,
                         const QString& otherButton, const QString& informative, AlertDidEnd didEnd,
                         kpv::AlertEscape escape = kpv::AlertEscape::Alternate) override;
    void runSaveAsPanel(const QString& sourcePath, const QString& defaultDirectory, SavePanelHandler handler) override;
    void printImage(const QImage& image, const QString& jobName) override;
    void writeFileAndImageToPasteboard(const QString& filePath, const QImage& image) override;
    QString temporaryDirectoryWithSubDir(const QString& name) const override;
    kpv::WorkspaceServices* workspaceServices() override { return m_workspaceStandIn ? m_workspaceStandIn : &m_workspace; }
    void miniWindowDoBeforeRotate() override;
    void shareFiles(const QList<NavSlideshowFile>& files, int64_t shareType) override;
    void updateShareButtonUI(int64_t shareType) override;
    void switchPhotoBin() override;
    void beginBatchRename(const QList<LMPathString>& files,
                          std::function<void(const QHash<LMPathString, LMPathString>&)> done) override;
    void beginBatchResizeOrConvert(bool resize, const QList<NavSlideshowFile>& files, std::function<void()> done) override;
    void beginDragFile(const QString& filePath, const QImage& dragImage) override;

    // ---- Favourites ----
    void addFavoriteFile(const LMPathString& path, const LMFileImgBaseInfoPtr& info, const QImage& smallThumb) override;
    void removeFavoriteFile(const LMPathString& path) override;
    QImage favoriteThumb(const LMPathString& path, int* angle) const override;
    QRectF favoriteBinRectInView() const override;
    void beginAniFavorFile(bool adding) override;
    void endAniFavorFile(bool adding) override;
    void updateFavPhotoBoxUI() override;
    void showFavorSnapshot(const QImage& image, int angle) override;
    void updateFavorSnapshot(const QRectF& rectInView, double alpha) override;
    void removeFavorSnapshot() override;

private:
    // Whether crop mode works on the photo at `path`.
    bool cropShowsFile(const QString& path) const;
    ShowModeController* miniController() const;
    // Whether the status line stands on the toolbar, and where (*anchorTop) that is.
    bool statusLineOnToolbar(double* anchorTop);

    AppDelegate& m_delegate;
    MainWndController& m_windowController;
    LMOpenGLView* m_imageView;
    LMEquivalentResponder* m_responder;
    NavigateController* m_controller = nullptr;
    NavigateOverlays* m_overlays = nullptr;
    NavToolbarController* m_toolbar = nullptr;
    bool m_statusLoadingInfo = false;
    MainWndPhotoBin* m_photoBin = nullptr;
    NavigateWindowController* m_navigateWindowController = nullptr;
    LMFadeShowProxy* m_imageViewProxy = nullptr;
    NavigateViewerEntries m_entries;
    kpv::SystemWorkspaceServices m_workspace;
    kpv::WorkspaceServices* m_workspaceStandIn = nullptr;
    LMAlertSheet m_alertSheet;
    LMPrintPanelWrapper m_printPanelWrapper;
    FavFileSnapshotView* m_snapshot = nullptr;
    QString m_viewerTitle;
    QString m_viewerFilename;
};
