#include "Kit/LMSimButtonBase.h"

#include "Kit/LMPopMenuView.h"
#include "Kit/LMViewPopupHelper.h"

#include "appkit/Window.h"

LMSimButtonBase::LMSimButtonBase(const kpv::Rect& frame) : kpv::View(frame) {}

LMSimButtonBase::~LMSimButtonBase() = default;

void LMSimButtonBase::setEnabled(bool enabled)
{
    if (m_enabled == enabled)
        return;
    m_enabled = enabled;
    updateButtonUI();
}

void LMSimButtonBase::setState(std::int64_t state)
{
    if (m_state == state)
        return;
    m_state = state;
    updateButtonUI();
}

void LMSimButtonBase::setTrackingActiveInActiveApp(bool t)
{
    if (m_trackingActiveInActiveApp == t)
        return;
    m_trackingActiveInActiveApp = t;
    if (window())
        updateTrackingAreas();
}

LMVisualState LMSimButtonBase::visualStateWithCheckOnState(bool checkOn) const
{
    LMVisualState v = !m_enabled ? 3 : m_isMouseDown ? 2 : m_isMouseIn ? 1 : 0;
    if (checkOn && m_careState && m_state == 1)
        v += LMVisualStateOnFlag;
    return v;
}

void LMSimButtonBase::updateButtonUI() { setNeedsDisplay(); }

void LMSimButtonBase::mouseDown(const kpv::Event& e)
{
    if (!m_enabled)
        return;
    if (!window()) {
        m_pressedWithoutWindow = true;
        m_isMouseDown = true;
        updateButtonUI();
        return;
    }
    m_isMouseDown = true;
    updateButtonUI();
    simMouseDown(e);
    m_isMouseDown = false;
    if (m_isMouseIn) {
        kpv::Window* w = window();
        const bool inside =
            w && mouseInBounds(convertPointFromView(w->mouseLocationOutsideOfEventStream(), nullptr));
        m_isMouseIn = inside;
    }
    updateButtonUI();
}

void LMSimButtonBase::mouseUp(const kpv::Event& e)
{
    if (!m_pressedWithoutWindow) {
        kpv::View::mouseUp(e);
        return;
    }
    m_pressedWithoutWindow = false;
    m_isMouseDown = false;
    updateButtonUI();
    if (m_enabled && mouseInBounds(convertPointFromView(e.locationInWindow(), nullptr)))
        sendAction(m_action, m_target);
}

void LMSimButtonBase::simMouseDown(const kpv::Event& first)
{
    if (!m_enabled)
        return;
    kpv::Window* w = window();
    // A button that pops up a menu, not an item of one.
    bool worksMenus = true;
    for (kpv::View* v = superview(); v && worksMenus; v = v->superview())
        worksMenus = dynamic_cast<LMPopMenuView*>(v) == nullptr;
    // Its menu, waiting for the pointer to rest on it, opens on the press.
    if (worksMenus && w)
        LMViewPopupHelper::showPendingAtOnceInWindow(w);
    bool send = false;
    kpv::EventPtr current = std::make_shared<kpv::Event>(first);
    for (;;) {
        const kpv::Point p = convertPointFromView(current->locationInWindow(), nullptr);
        if (mouseInBounds(p) && trackMouse(*current, bounds(), this, false)) {
            send = true;
            break;
        }
        if (!w)
            break;
        current = w->nextEventMatchingMask(kpv::LeftMouseUpMask | kpv::LeftMouseDraggedMask);
        // An abandoned loop (window closed, focus lost) ends like a release outside.
        if (!current)
            break;
        // Dragged off the button onto a pop-up menu of its window: the menu takes the drag, and a
        // release on one of its items chooses it.
        if (worksMenus && !mouseInBounds(convertPointFromView(current->locationInWindow(), nullptr)) &&
            LMPopMenuView::trackPressFromOutside(w, *current))
            break;
        if (current->type() == kpv::LeftMouseUp)
            break;
    }
    if (send)
        sendAction(m_action, m_target);
}

bool LMSimButtonBase::trackMouse(const kpv::Event& first, const kpv::Rect& rect, kpv::View* view, bool untilMouseUp)
{
    if (!startTrackingAt(first.locationInWindow(), view))
        return false;
    kpv::Window* w = window();
    kpv::EventPtr current = std::make_shared<kpv::Event>(first);
    kpv::Point last = first.locationInWindow();
    for (;;) {
        const kpv::Point now = current->locationInWindow();
        const bool inside = kpv::mouseInRect(view->convertPointFromView(now, nullptr), rect, view->isFlipped());
        const bool up = current->type() == kpv::LeftMouseUp;
        if (!untilMouseUp) {
            if (!inside) {
                stopTracking(last, now, view, false);
                return false;
            }
            if (up) {
                stopTracking(last, now, view, true);
                return true;
            }
        } else if (up) {
            stopTracking(last, now, view, true);
            return true;
        }
        if (inside) {
            if (!continueTracking(last, now, view))
                return false;
            if (isContinuous())
                sendAction(m_action, m_target);
        }
        last = now;
        if (!w)
            return false;
        current = w->nextEventMatchingMask(kpv::LeftMouseUpMask | kpv::LeftMouseDraggedMask);
        if (!current) {
            stopTracking(last, last, view, false);
            return false;
        }
    }
}

bool LMSimButtonBase::performKeyAction(const kpv::Event& e)
{
    if (e.type() != kpv::KeyDown ||
        (e.modifierFlags() & (kpv::CommandKeyMask | kpv::AlternateKeyMask | kpv::ControlKeyMask)))
        return false;
    const unsigned short key = e.keyCode();
    if (key != kpv::KeyCode::Space && key != kpv::KeyCode::Return && key != kpv::KeyCode::KeypadEnter)
        return false;
    if (!m_enabled)
        return false;
    if (!e.isARepeat())
        sendAction(m_action, m_target);
    return true;
}

bool LMSimButtonBase::sendAction(const kpv::Action& action, void* target)
{
    return kpv::Application::shared().sendAction(action, target, this);
}

void LMSimButtonBase::normalizeRollState()
{
    m_isMouseIn = false;
    m_isMouseDown = false;
    updateButtonUI();
}

void LMSimButtonBase::resetCursorRects() { addCursorRect(bounds(), kpv::Cursor::arrowCursor()); }

void LMSimButtonBase::updateTrackingAreas()
{
    if (m_trackingArea)
        removeTrackingArea(m_trackingArea);
    const unsigned options = m_trackingActiveInActiveApp ? 0x261 : 0x221;
    m_trackingArea = std::make_shared<kpv::TrackingArea>(bounds(), options, this);
    addTrackingArea(m_trackingArea);
}

void LMSimButtonBase::mouseEntered(const kpv::Event&)
{
    if (!m_enabled)
        return;
    m_isMouseIn = true;
    updateButtonUI();
    if (m_buttonDelegate)
        m_buttonDelegate->simButtonBaseMouseEntered(this);
}

void LMSimButtonBase::mouseExited(const kpv::Event&)
{
    if (!m_enabled)
        return;
    m_isMouseIn = false;
    updateButtonUI();
    if (m_buttonDelegate)
        m_buttonDelegate->simButtonBaseMouseExited(this);
}
