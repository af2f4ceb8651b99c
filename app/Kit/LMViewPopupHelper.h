#pragma once
// Places a view in a container at a point given in window coordinates and shows or hides it, at
// once or after a short delay, so that passing the pointer over a button does not flash a panel.
// A pending action lives in the one-shot timer's user info: "showFlag" (true: show, false: hide)
// and, for a show, "locationInWindow".

#include "Model/LMBlockTimer.h"
#include "appkit/View.h"

#include <memory>

class LMViewPopupHelper;

class LMViewPopupHelperDelegate {
public:
    virtual ~LMViewPopupHelperDelegate() = default;
    virtual void viewPopupHelper_willViewShowed(LMViewPopupHelper*, bool /*shown*/) {}
    virtual void viewPopupHelper_didViewShowed(LMViewPopupHelper*, bool /*shown*/) {}
};

class LMViewPopupHelper {
public:
    static constexpr double kShowDelay = 0.5;
    static constexpr double kHideDelay = 0.1;

    // The view is not owned: a popup view owns its own helper, and a view that is shown belongs
    // to the container.
    explicit LMViewPopupHelper(kpv::View* view);
    ~LMViewPopupHelper();
    LMViewPopupHelper(const LMViewPopupHelper&) = delete;
    LMViewPopupHelper& operator=(const LMViewPopupHelper&) = delete;

    kpv::View* viewPopup() const { return m_viewPopup; }
    kpv::View* viewPopMenuContainer() const { return m_viewPopMenuContainer; }
    void setViewPopMenuContainer(kpv::View* container) { m_viewPopMenuContainer = container; }
    bool popViewAlignLeft() const { return m_popViewAlignLeft; }
    void setPopViewAlignLeft(bool left) { m_popViewAlignLeft = left; }
    LMViewPopupHelperDelegate* delegate() const { return m_delegate; }
    void setDelegate(LMViewPopupHelperDelegate* d) { m_delegate = d; }

    bool isShown() const { return m_viewPopup->superview() != nullptr; }
    void showAtLocationInWindow(kpv::Point p, bool delay);
    void hide(bool delay);
    void showWithouDelayAtLocationInWindow(kpv::Point p);
    void hideWithoutDelay();
    void setViewFrameOriginByLocationInWindow(kpv::Point p);
    void showHideTimerHandler();
    void stopShowHideTimer();
    void stopDelayHide();

    // Inspection: whether an action waits, and which.
    bool hasPendingShow() const;
    bool hasPendingHide() const;
    // A press on the button whose pointer started the wait: the view waiting to show in that
    // window shows at once, as a menu of the desktop opens on the press, so that it can be
    // dragged onto.
    static void showPendingAtOnceInWindow(const kpv::Window* window);

    // Placement as a pure function: the origin in the container for a point already converted
    // into the container's coordinates.
    static kpv::Point popupOrigin(kpv::Point inContainer, double viewWidth, bool alignLeft);

private:
    void startTimer(double interval, QVariantMap info);

    kpv::View* m_viewPopup;
    bool m_popViewAlignLeft = false;
    kpv::View* m_viewPopMenuContainer = nullptr;
    LMViewPopupHelperDelegate* m_delegate = nullptr;
    std::unique_ptr<LMBlockTimer> m_showHideTimer;
};
