#pragma once
// The mini window mode (show modes 128 with an image, 256 without): a small borderless window
// that shows the current image alone, sized to the image, or a drop prompt. The navigator keeps
// loading and navigating; this controller fits the window to the image, zooms the window, makes
// room for rotations, places the status text and forwards events to its equivalent responders.

#include "Browse/MiniWindowHost.h"

#include "Kit/LMEquivalentResponderList.h"
#include "Kit/ShowModeController.h"

#include <QVariantMap>
#include <functional>
#include <memory>
#include <vector>

namespace kpv {
class Timer;
}

class MiniWindowController : public ShowModeController {
public:
    explicit MiniWindowController(MiniWindowHost& host);
    ~MiniWindowController() override;
    MiniWindowController(const MiniWindowController&) = delete;
    MiniWindowController& operator=(const MiniWindowController&) = delete;

    // Enters or refreshes the mode for the current file (image mode 0 by scale, 1 fit-in).
    void updateMiniUI(int imageMode, double newAngle);
    // Fits the window to a wanted size in points.
    void updateMiniWindow(kpv::Size size);
    void performZoom();
    void doBeforeRotate();
    void switchToNormalMode();
    void updateStatusInfo(const QString& text, bool showWaiting);
    // The zoom percentage goes this long after the last change of scale.
    static constexpr double kZoomStatusHideDelay = 0.3;

    bool isWindowZoomed() const { return m_isWindowZoomed; }
    bool isImageRotating() const { return m_isImageRotating; }
    long oldShowModeBeforeMiniWindow() const { return m_oldShowModeBeforeMiniWindow; }
    const kpv::Rect& oldWindowFrameBeforeZoom() const { return m_oldWindowFrameBeforeZoom; }

    // ---- Notification handlers ----
    void didChangeMainShowMode(const QVariantMap& userInfo);
    void doChangeScale();
    void didBeginRotate() { m_isImageRotating = true; }
    void didEndRotate(double newAngle);

    // ---- Show-mode controller ----
    // The mini window's commands are the viewer's: the main window routes them there.
    bool canDoAction(long) override { return false; }
    void doAction(long, long) override {}
    bool isFavoriteFile(const LMPathString&) const override { return false; }
    void popUpContextMenuWithEvent(const kpv::Event&) override {}
    // The window the mode shows in, once the shell gives it one.
    kpv::Window* window() const override { return nullptr; }

    // ---- Event forwarding ----
    void registEquivalentResponder(LMEquivalentResponder* responder, bool regist);
    bool doEquivalentResponder(const std::function<bool(LMEquivalentResponder&)>& block);
    std::size_t equivalentResponderCount() const { return m_equivalentResponders.size(); }

private:
    MiniWindowHost& m_host;
    kpv::Rect m_oldWindowFrameBeforeZoom;
    long m_oldShowModeBeforeMiniWindow = 4;
    bool m_isImageRotating = false;
    bool m_isWindowZoomed = false;
    LMEquivalentResponderList m_equivalentResponders;
    QString m_statusText;
    std::shared_ptr<kpv::Timer> m_zoomStatusTimer;
};
