#pragma once
// A small panel that floats inside a window above the content, next to the button that opened
// it. It hides when the pointer leaves it (unless told to stay), closes on Esc and, when it
// stays, on a click outside it; subclasses may take other keys while it is shown. While shown it holds one monitor of the event monitor centre.
// Hidden, it belongs to whoever made it; shown, it sits in its container.

#include "Kit/LMEventMonitor.h"
#include "Kit/LMViewPopupHelper.h"
#include "appkit/View.h"

#include <memory>

class LMPopupView;

// The name of the notification the main window posts when it hides the pointer until the mouse
// moves; every popup view hides at once.
inline constexpr const char* kDidAutoHideCursorNotification = "didAutoHideCursor";

class LMPopupViewDelegate {
public:
    virtual ~LMPopupViewDelegate() = default;
    // Returns false when the delegate leaves this out: the view then calls its own didViewShowed hook.
    virtual bool popupView_viewShowed(LMPopupView*, bool /*shown*/) { return false; }
};

class LMPopupView : public kpv::View, public LMViewPopupHelperDelegate {
public:
    explicit LMPopupView(const kpv::Rect& frame = kpv::Rect());
    ~LMPopupView() override;

    LMViewPopupHelper* viewPopupHelper() const { return m_viewPopupHelper.get(); }
    void setViewPopMenuContainer(kpv::View* container) { m_viewPopupHelper->setViewPopMenuContainer(container); }
    bool popViewAlignLeft() const { return m_viewPopupHelper->popViewAlignLeft(); }
    void setPopViewAlignLeftFlag(bool left) { m_viewPopupHelper->setPopViewAlignLeft(left); }
    void showAtLocationInWindow(kpv::Point p, bool delay) { m_viewPopupHelper->showAtLocationInWindow(p, delay); }
    void hide(bool delay) { m_viewPopupHelper->hide(delay); }
    bool isShown() const { return superview() != nullptr; }

    LMPopupViewDelegate* popupViewDelegate() const { return m_popupViewDelegate; }
    void setPopupViewDelegate(LMPopupViewDelegate* d) { m_popupViewDelegate = d; }
    bool stayWhenMouseLeave() const { return m_stayWhenMouseLeave; }
    void setStayWhenMouseLeave(bool stay) { m_stayWhenMouseLeave = stay; }
    bool isMouseIn() const { return m_isMouseIn; }
    const LMEventMonitorPtr& eventMonitor() const { return m_eventMonitor; }

    void didAutoHideCursor();
    void updateTrackingAreas() override;
    void mouseEntered(const kpv::Event& e) override;
    void mouseExited(const kpv::Event& e) override;

    void viewPopupHelper_willViewShowed(LMViewPopupHelper* helper, bool shown) override;
    void viewPopupHelper_didViewShowed(LMViewPopupHelper* helper, bool shown) override;

    // The monitor's handler: true consumes the event.
    bool handleMonitorEvent(const kpv::Event& e);

    // Lets an owner notice that the view was destroyed with its container.
    std::weak_ptr<bool> lifeToken() const { return m_alive; }

protected:
    virtual void willViewShowed(bool) {}
    virtual void didViewShowed(bool) {}
    // A key pressed in the view's window while it is shown (Esc aside, which always hides it):
    // true when the view took it, so that it reaches nothing beneath.
    virtual bool keyDownWhileShown(const kpv::Event&) { return false; }

private:
    void registNotifications(bool regist);
    void removeEventMonitor();

    LMPopupViewDelegate* m_popupViewDelegate = nullptr;
    bool m_stayWhenMouseLeave = false;
    bool m_isMouseIn = false;
    kpv::TrackingAreaPtr m_trackingArea;
    std::unique_ptr<LMViewPopupHelper> m_viewPopupHelper;
    LMEventMonitorPtr m_eventMonitor;
    std::shared_ptr<bool> m_alive = std::make_shared<bool>(true);
};
