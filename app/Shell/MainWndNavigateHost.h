#pragma once
// The window side of the image viewer's controller in the application: the delegate's settings,
// shared load queue and temporary folder, the main window controller's show mode, title, full
// screen and responder registration, and the image view itself (shown, hidden, its drop shadow).
// Overlays this build has no views for keep the interface's "nothing there" answers. Main thread
// only.

#include "View/NavigateControllerHost.h"

#include "desktop/WorkspaceServices.h"

class AppDelegate;
class LMEquivalentResponder;
class LMOpenGLView;
class MainWndController;
class MainWndPhotoBin;
class NavigateWindowController;

class MainWndNavigateHost final : public NavigateControllerHost {
public:
    // None owned. `responder` is what the window controller registers while the view mode is shown.
    MainWndNavigateHost(AppDelegate& delegate, MainWndController& windowController, LMOpenGLView* imageView,
                        LMEquivalentResponder* responder);

    void setResponder(LMEquivalentResponder* responder) { m_responder = responder; }
    // The viewer's photo bin (not owned; nullptr while there is none).
    void setPhotoBin(MainWndPhotoBin* photoBin) { m_photoBin = photoBin; }
    // The Navigation panel the viewer's checks show and hide (not owned; may be null).
    void setNavigateWindowController(NavigateWindowController* panel) { m_navigateWindowController = panel; }

    MainConfig* mainConfig() override;
    void addOperation(std::shared_ptr<kpv::Operation> operation) override;
    void cancelAllOperations() override;

    int64_t showMode() const override;
    void setShowMode(int64_t mode) override;
    void registEquivalentResponder(NavigateController* controller, bool regist) override;
    void setWindowTitle(const QString& title, const QString& representedFilename) override;
    bool isWindowFullScreen() const override;
    void toggleFullScreen() override;

    void showImageView(bool animation, bool autoHide) override;
    void hideImageView(bool animation, bool needDelay) override;
    void setViewShadowImage(const LMImagePtr& image) override;
    void startSlideshow(const QList<NavSlideshowFile>& slides, qsizetype startFromIndex) override;

    qsizetype photoBinMaxVisibleItemCount() const override;
    qsizetype photoBinWholeVisibleItemCountOfCurPage() const override;
    void resetPhotoBinFiles() override;
    void switchPhotoBin() override;

    QString temporaryDirectoryWithSubDir(const QString& name) const override;
    // Save As with the format picker, and the batch sheets on the viewer's files.
    void runSaveAsPanel(const QString& sourcePath, const QString& directory, SavePanelHandler handler) override;
    void beginBatchRename(const QList<LMPathString>& files,
                          std::function<void(const QHash<LMPathString, LMPathString>&)> done) override;
    void beginBatchResizeOrConvert(bool resize, const QList<NavSlideshowFile>& files, std::function<void()> done) override;
    void shareFiles(const QList<NavSlideshowFile>& files, int64_t shareType) override;
    void checkShowHideNavigationWindow() override;
    kpv::WorkspaceServices* workspaceServices() override { return &m_workspace; }

private:
    AppDelegate& m_delegate;
    MainWndController& m_windowController;
    LMOpenGLView* m_imageView;
    LMEquivalentResponder* m_responder;
    MainWndPhotoBin* m_photoBin = nullptr;
    kpv::SystemWorkspaceServices m_workspace;
    NavigateWindowController* m_navigateWindowController = nullptr;
};
