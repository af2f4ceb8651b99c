#pragma once
// Crop mode inside the main window: the window controller's and the viewer's side of crop mode
// (the current file and its angle, the background view the mode shows in, Save As with the format
// picker, the temporary folder, the viewer taking a saved file or a favourite) and the crop
// controller the window controller makes on first use. Main thread only.

#include "Edit/CropViewController.h"

class LMOpenGLView;
class MainWndController;
class NavigateController;
class NavigateControllerHost;

class MainWndCropHost final : public CropViewHost {
public:
    MainWndCropHost(MainWndController& windowController, NavigateController& navigator, LMOpenGLView* imageView,
                    const NavigateControllerHost& navigatorHost);

    LMNavFileInfoPtr curFileInfo() const override;
    LMImageRotateAngle angleRotate() const override;
    const LMPhotoLoader& photoLoader() const override;
    QSizeF mainScreenSizePoints() const override;
    double backingScale() const override;
    kpv::View* containerViewByShowMode(long showMode) override;
    void setShowMode(long showMode) override;
    kpv::View* popupParentView() override;
    void runSaveAsPanel(const QString& srcFilePath, const QString& defaultDir, ReplaceWarning replaceWarning,
                        SavePanelDone done) override;
    QString lastSaveAsDir() const override;
    void setLastSaveAsDir(const QString& dir) override;
    QString temporaryCropFolder() override;
    QString keptCropFolder() override;
    void endSaveCurFileToPath(const LMPathString& path) override;
    void addFavoriteFile(const LMPathString& path, const LMImagePtr& thumb) override;
    void postFileModified(const LMPathString& path) override;
    void didLoadImageFromThread(const QVariantMap& loadResult) override;
    bool isKeyWindowForView(kpv::View* view) const override;
    kpv::Rect favoriteBoxFrameInWindow() const override;
    void showAlert(const QString& message, const QString& informative, std::function<void()> done) override;
    MainConfig* mainConfig() const override;

private:
    MainWndController& m_windowController;
    NavigateController& m_navigator;
    LMOpenGLView* m_imageView;
    const NavigateControllerHost& m_navigatorHost;
};

namespace detail {
struct MainWndCropHostHolder {
    MainWndCropHostHolder(MainWndController& windowController, NavigateController& navigator, LMOpenGLView* imageView,
                          const NavigateControllerHost& navigatorHost)
        : cropHost(windowController, navigator, imageView, navigatorHost)
    {
    }
    MainWndCropHost cropHost;
};
}  // namespace detail

// The crop controller together with its host, as the window controller owns it.
class MainWndCropController final : private detail::MainWndCropHostHolder, public CropViewController {
public:
    MainWndCropController(MainWndController& windowController, NavigateController& navigator, LMOpenGLView* imageView,
                          const NavigateControllerHost& navigatorHost);
};

// Registers crop mode's factory with the window controller; the viewer's controller, its host and
// its image view outlive the window controller's mode controllers.
void registerCropMode(MainWndController& windowController, NavigateController& navigator, LMOpenGLView* imageView,
                      const NavigateControllerHost& navigatorHost);
