#pragma once
// The dark translucent title bar of the mini window: close, minimise and zoom buttons on the
// left, whose symbols show while the pointer is over the group, and a button back to the normal
// window. A drag on the bar moves the window.

#include "appkit/Color.h"
#include "appkit/Control.h"
#include "appkit/View.h"

class LMButton;
class MiniWindowShell;

class MiniWindowTitleBar : public kpv::View {
public:
    MiniWindowTitleBar(const kpv::Rect& frame, MiniWindowShell& shell);

    kpv::Button* closeButton() const { return m_closeButton; }
    kpv::Button* minimizeButton() const { return m_minimizeButton; }
    kpv::Button* zoomButton() const { return m_zoomButton; }
    LMButton* normalmodeButton() const { return m_normalmodeButton; }
    const kpv::Color& backgroundcolor() const { return m_backgroundcolor; }
    void setBackgroundcolor(const kpv::Color& color);
    bool mouseInGroup() const { return m_entered; }

    // Places the three window buttons (x 8, 30, 52; y = 25 minus the bar's height).
    void updatetheFrame();
    kpv::Rect buttonGroupRect() const;
    void updateTrackingAreas() override;
    void mouseEntered(const kpv::Event&) override;
    void mouseExited(const kpv::Event&) override;
    void drawRect(const kpv::Rect& dirtyRect) override;

private:
    // Whether the pointer is over the button group; their symbols show then.
    void setEntered(bool entered);
    MiniWindowShell& m_shell;
    kpv::Button* m_closeButton = nullptr;
    kpv::Button* m_minimizeButton = nullptr;
    kpv::Button* m_zoomButton = nullptr;
    LMButton* m_normalmodeButton = nullptr;
    kpv::Color m_backgroundcolor{0.2, 0.2, 0.2, 0.8};
    kpv::TrackingAreaPtr m_buttonArea;
    bool m_entered = false;
};
