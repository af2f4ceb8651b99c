#include "Kit/LMPopupView.h"

#include "Kit/LMEventMonitorCenter.h"
#include "appkit/Window.h"
#include "foundation/NotificationCenter.h"

LMPopupView::LMPopupView(const kpv::Rect& frame)
    : kpv::View(frame), m_viewPopupHelper(std::make_unique<LMViewPopupHelper>(this))
{
    m_viewPopupHelper->setDelegate(this);
    registNotifications(true);
}

LMPopupView::~LMPopupView()
{
    registNotifications(false);
    // A view destroyed while shown (its container went away) must not leave its handler in the
    // centre, where the next click would call into freed memory.
    removeEventMonitor();
    m_viewPopupHelper->setDelegate(nullptr);
    m_viewPopupHelper->stopShowHideTimer();
}

void LMPopupView::registNotifications(bool regist)
{
    auto& nc = kpv::NotificationCenter::defaultCenter();
    if (regist)
        nc.addObserver(this, kDidAutoHideCursorNotification, nullptr, [this](const kpv::Notification&) {
            didAutoHideCursor();
        });
    else
        nc.removeObserver(this);
}

void LMPopupView::didAutoHideCursor() { hide(false); }

void LMPopupView::updateTrackingAreas()
{
    if (m_trackingArea)
        removeTrackingArea(m_trackingArea);
    m_trackingArea = std::make_shared<kpv::TrackingArea>(bounds(), 0x221, this);
    addTrackingArea(m_trackingArea);
}

void LMPopupView::mouseEntered(const kpv::Event&)
{
    m_isMouseIn = true;
    m_viewPopupHelper->stopDelayHide();
}

void LMPopupView::mouseExited(const kpv::Event&)
{
    m_isMouseIn = false;
    if (!m_stayWhenMouseLeave)
        hide(true);
}

void LMPopupView::removeEventMonitor()
{
    if (!m_eventMonitor)
        return;
    LMEventMonitorCenter::eventMonitorCenter().removeMonitor(m_eventMonitor);
    m_eventMonitor.reset();
}

void LMPopupView::viewPopupHelper_willViewShowed(LMViewPopupHelper*, bool shown)
{
    if (shown && !m_eventMonitor) {
        m_eventMonitor = LMEventMonitorCenter::eventMonitorCenter().addLocalMonitorForEventsMatchingMask(
            1026, [this](const kpv::Event& e) { return handleMonitorEvent(e); });
    } else if (!shown) {
        removeEventMonitor();
    }
    willViewShowed(shown);
}

void LMPopupView::viewPopupHelper_didViewShowed(LMViewPopupHelper*, bool shown)
{
    if (m_popupViewDelegate && m_popupViewDelegate->popupView_viewShowed(this, shown))
        return;
    didViewShowed(shown);
}

bool LMPopupView::handleMonitorEvent(const kpv::Event& e)
{
    if (e.type() == kpv::KeyDown && e.keyCode() == kpv::KeyCode::Escape) {
        hide(false);
        return true;
    }
    if (e.type() == kpv::KeyDown) {
        // Keys typed into another window (a dialog over this one) are not the view's.
        if (e.window() && window() && e.window() != window())
            return false;
        return keyDownWhileShown(e);
    }
    if (m_stayWhenMouseLeave && e.type() == kpv::LeftMouseDown) {
        const kpv::Rect inWindow = convertRectToView(bounds(), nullptr);
        kpv::Point p = e.locationInWindow();
        kpv::Window* mine = window();
        if (e.window() && mine && e.window() != mine)
            p = mine->convertPointFromScreen(e.window()->convertPointToScreen(p));
        if (!kpv::pointInRect(p, inWindow)) {
            hide(false);
            return true;
        }
    }
    return false;
}
