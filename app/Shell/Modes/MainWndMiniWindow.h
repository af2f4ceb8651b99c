#pragma once
// The mini window mode in the application: the small borderless window with its own image view,
// drop prompt, status line and two title bars, the window side of the mini window controller
// (frame, screen, ordering, the image view's scale) and the viewer's side (the current file, its
// pictures, key and scroll forwarding), and the controller the main window controller makes on
// the first switch and keeps. The viewer keeps loading and navigating; while the mode is on it
// draws into this window's image view. Main thread only.

#include "Browse/MiniWindow.h"
#include "Browse/MiniWindowController.h"
#include "Browse/MiniWindowHost.h"
#include "Browse/MiniWindowShell.h"

#include <memory>

class LMOpenGLView;
class LMImageViewModel;
class MainWndController;
class MiniWindowContentView;
class LMNineSliceImageView;
class MiniWindowTitleBar;
class NavigateController;
namespace kpv {
class TextField;
class View;
}

class MainWndMiniHost final : public MiniWindowHost, public MiniWindowShell, public kpv::WindowDelegate {
public:
    static constexpr double kTitleBarHeight = 22.0;
    static constexpr double kStatusHeight = 30.0;
    static constexpr double kBadFileReasonHeight = 16.0;

    MainWndMiniHost(MainWndController& windowController, NavigateController& navigator);
    ~MainWndMiniHost() override;
    MainWndMiniHost(const MainWndMiniHost&) = delete;
    MainWndMiniHost& operator=(const MainWndMiniHost&) = delete;

    // The controller whose state the views read (set once it is built).
    void setController(MiniWindowController* controller) { m_controller = controller; }

    MiniWindow* window() const { return m_window.get(); }
    LMOpenGLView* imageView() const { return m_imageView; }
    MiniWindowTitleBar* windowTitleBar() const { return m_windowTitleBar; }
    MiniWindowTitleBar* dragTitleBar() const { return m_dragTitleBar; }
    kpv::View* dragView() const { return m_dragView; }
    kpv::TextField* statusField() const { return m_status; }
    // What the window says of a file that cannot be shown: its message and the reason, as drawn;
    // empty while hidden.
    QString badFileMessageShown() const;
    QString badFileReasonShown() const;
    kpv::Rect badFileReasonFrame() const;
    // The dark plate the status text stands on, so it reads over any picture.
    LMNineSliceImageView* statusPlate() const { return m_statusPlate; }
    NavigateController& navigator() const { return m_navigator; }
    // The first entry: the window takes the main window's place and level, the main window goes.
    void enterFromMainWindow();
    // Lays out the title bar of the current form.
    void updateTitleFrame();

    // ---- MiniWindowHost ----
    long showMode() const override;
    void setShowMode(long mode) override;
    kpv::Rect windowFrame() const override;
    void setWindowFrame(const kpv::Rect& frame) override;
    kpv::Rect visibleScreenFrame() const override;
    kpv::Size minWindowSize() const override { return {200, 150}; }
    double backingScaleFactor() const override;
    bool isWindowVisible() const override;
    void showImageForm(bool imageForm) override;
    void orderFrontMiniWindow() override;
    void orderFrontMainWindow() override;
    void orderOutMiniWindow() override;
    double setStatusText(const QString& text, bool showWaiting) override;
    double viewScale() const override;
    double viewMaxScale() const override;
    kpv::Rect imageVisibleViewRect() const override;
    void setNewScaleMode(int mode) override;
    void switchToScaleMode(int mode) override;
    bool viewHoldsPicture() const override;
    kpv::Size curFileFrameSize() const override;
    bool hasCurFile() const override;
    void updateOpenGLViewImage(int imageMode) override;
    void restoreNavigatorView() override;
    void registEquivalentResponder(bool regist) override;

    // ---- MiniWindowShell ----
    bool isImageRotating() const override;
    bool viewPhotosInSubfolder() const override;
    bool hasSupportedFileInPaths(const QStringList& paths, bool includeSubDir) const override;
    void openFiles(const QStringList& paths, bool includeSubDir) override;
    void performZoom() override;
    void switchToNormalMode() override;
    void miniaturize() override;

    // ---- Window delegate ----
    // The mini window is the viewer's window while it is up: closing it (its close button, Close
    // Window, the window manager) closes the main window, which quits, a turned photo written
    // first, instead of leaving the program running with no window.
    bool windowShouldClose(kpv::Window*) override;

private:
    void buildWindow();

    MainWndController& m_windowController;
    NavigateController& m_navigator;
    MiniWindowController* m_controller = nullptr;
    std::unique_ptr<MiniWindow> m_window;
    MiniWindowContentView* m_contentView = nullptr;
    LMOpenGLView* m_imageView = nullptr;
    std::unique_ptr<LMOpenGLView> m_detachedImageView; // when it cannot be drawn
    kpv::View* m_dragView = nullptr;
    MiniWindowTitleBar* m_windowTitleBar = nullptr;
    MiniWindowTitleBar* m_dragTitleBar = nullptr;
    kpv::TextField* m_status = nullptr;
    LMNineSliceImageView* m_statusPlate = nullptr;
    // For a file that cannot be shown: the message on its plate over the picture that says so,
    // and the reason in a smaller line along the bottom, under that picture's mark.
    LMNineSliceImageView* m_badFilePlate = nullptr;
    kpv::TextField* m_badFileMessage = nullptr;
    kpv::TextField* m_badFileReason = nullptr;
    void showBadFileCaption(bool show);
    bool statusToldByBadFileCaption() const;
    bool m_shadowSet = false;
};

namespace detail {
struct MainWndMiniHostHolder {
    MainWndMiniHostHolder(MainWndController& windowController, NavigateController& navigator)
        : miniHost(windowController, navigator)
    {
    }
    MainWndMiniHost miniHost;
};
} // namespace detail

// The mini window controller together with its host, as the window controller owns it.
class MainWndMiniController final : private detail::MainWndMiniHostHolder, public MiniWindowController {
public:
    MainWndMiniController(MainWndController& windowController, NavigateController& navigator);
    ~MainWndMiniController() override;
    MainWndMiniHost& host() { return miniHost; }
    kpv::Window* window() const override { return miniHost.window(); }
    // The image view the viewer draws into while the mode is on.
    LMImageViewModel* openGLView() const;

private:
    long showMode() const;
    void didChangeShowMode(long oldMode, long newMode);
};

// Registers the mini window's factory (modes 128 and 256) with the window controller.
void registerMiniWindowMode(MainWndController& windowController, NavigateController& navigator);
// The mini window controller when the window controller has made one.
MainWndMiniController* miniWindowControllerOf(const MainWndController& windowController);
