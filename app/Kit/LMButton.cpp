#include "Kit/LMButton.h"

#include "Kit/LMEventMonitorCenter.h"
#include "Kit/LMNineSliceImageRep.h"
#include "Kit/LMPopMenuView.h"
#include "Kit/LMViewPopupHelper.h"
#include "appkit/GraphicsContext.h"
#include "appkit/Window.h"
#include "foundation/NotificationCenter.h"
#include "foundation/RunLoop.h"

#include <cmath>

namespace {

// While a press was tracked the window held every roll-over as it was when the press began: the
// pointer may have left for a menu's row or elsewhere. The window is told where the pointer is now,
// as on a move, so that the button (and whatever lies under the pointer) shows it and the button's
// delegate hears that the pointer has gone, before a key works the menu.
void tellPointerAfterPress(kpv::Window* w)
{
    if (w && w->isVisible())
        w->updateTrackingForMouse(w->mouseLocationOutsideOfEventStream(), true, nullptr);
}

} // namespace

LMButton::LMButton(const kpv::Rect& frame) : kpv::Button(frame) {}

LMButton::~LMButton()
{
    if (m_eventMonitor) {
        // Going away mid-hold: free the application without telling a delegate that may be gone.
        kpv::NotificationCenter::defaultCenter().removeObserver(this);
        LMEventMonitorCenter::eventMonitorCenter().removeMonitor(m_eventMonitor);
        m_eventMonitor.reset();
    }
}

void LMButton::setImageName(const QString& name)
{
    if (name == m_imageName && name.isNull() == m_imageName.isNull())
        return;
    m_imageName = name;
    m_images.clear();
    setNeedsDisplay();
}

void LMButton::setTrackingActiveInActiveApp(bool t)
{
    if (m_trackingActiveInActiveApp == t)
        return;
    m_trackingActiveInActiveApp = t;
    if (window())
        updateTrackingAreas();
}

void LMButton::setState(long s)
{
    if (s != state()) {
        kpv::Button::setState(s);
        setNeedsDisplay();
    }
    updateToolTips();
}

void LMButton::setToolTip(const QString& tip)
{
    m_stateOffToolTips = tip;
    m_stateOnToolTips = tip;
    kpv::Button::setToolTip(tip);
}

void LMButton::setToolTipForStateOff(const QString& off, const QString& on)
{
    m_stateOffToolTips = off;
    m_stateOnToolTips = on;
    updateToolTips();
}

void LMButton::updateToolTips()
{
    kpv::Button::setToolTip(state() != 0 && m_careState ? m_stateOnToolTips : m_stateOffToolTips);
}

void LMButton::setHidden(bool hidden)
{
    kpv::Button::setHidden(hidden);
    if (!hidden) {
        m_isMouseIn = false;
        m_isMouseDown = false;
    }
}

double LMButton::lightAlphaAtTime(double t)
{
    const long n = long(t / 0.5);
    const double f = (t - n * 0.5) / 0.5;
    return (n % 2 != 0) ? f : 1.0 - f;
}

void LMButton::setLight(bool light)
{
    if (light == m_light)
        return;
    m_light = light;
    if (light) {
        m_lightAlpha = 0;
        setNeedsDisplay();
        const double start = kpv::RunLoop::current().now();
        if (!m_lightRepeatTimer)
            m_lightRepeatTimer = std::make_unique<LMBlockRepeatTimer>();
        m_lightRepeatTimer->start(1.0 / 60.0, nullptr,
                                  [this, start](bool*) {
                                      m_lightAlpha = lightAlphaAtTime(kpv::RunLoop::current().now() - start);
                                      setNeedsDisplay();
                                  },
                                  nullptr);
    } else {
        if (m_lightRepeatTimer)
            m_lightRepeatTimer->stop();
        m_lightAlpha = 0;
        setNeedsDisplay();
    }
}

kpv::ImagePtr LMButton::imageByState(long code)
{
    if (m_careState && state() == 1)
        code += OnSet;
    return imageByState_(code);
}

QString LMButton::imageNameForState(long code) const
{
    static const char* const suffix[5] = {"", "_ROLL", "_PUSH", "_DISABLE", "_LIGHT"};
    const long k = code & ~OnSet;
    if (k < 0 || k > 4)
        return QString();
    return m_imageName + ((code & OnSet) ? "_ON" : "") + suffix[k];
}

kpv::ImagePtr LMButton::imageByState_(long code)
{
    if (m_imageName.isEmpty())
        return nullptr;
    if (auto it = m_images.find(code); it != m_images.end())
        return it->second;
    const long k = code & ~OnSet;
    const bool on = (code & OnSet) != 0;
    if (k < 0 || k > 4)
        return nullptr;
    kpv::ImagePtr image = LMNineSliceImageRep::loadImageWithoutExtension(imageNameForState(code));
    if (!image) {
        if (on) {
            // The on set falls back to the off image of the same state, except that the on
            // normal state shows the off roll image; the light has no fallback.
            if (k <= 3)
                image = imageByState_(k == 0 ? 1 : k);
        } else if (k >= 1 && k <= 3) {
            image = imageByState_(k - 1);
        }
    }
    if (image)
        m_images[code] = image;
    return image;
}

void LMButton::drawImage(const kpv::Image& image, double fraction)
{
    kpv::GraphicsContext* ctx = kpv::GraphicsContext::current();
    if (!ctx)
        return;
    const kpv::Rect b = bounds();
    const kpv::Size s = image.size();
    const kpv::Rect r = kpv::integralRect(
        kpv::Rect((b.width() - s.width) * 0.5, (b.height() - s.height) * 0.5, s.width, s.height));
    ctx->drawImage(image, r, kpv::Rect(), kpv::CompositeSourceOver, fraction, true);
}

long LMButton::visualState() const
{
    return !isEnabled() ? 3 : m_isMouseDown ? 2 : m_isMouseIn ? 1 : 0;
}

void LMButton::drawRect(const kpv::Rect&)
{
    if (m_light)
        if (kpv::ImagePtr lightImage = imageByState(4))
            drawImage(*lightImage, m_lightAlpha);
    if (kpv::ImagePtr image = imageByState(visualState()))
        drawImage(*image, 1.0);
}

void LMButton::updateTrackingAreas()
{
    if (m_trackingArea)
        removeTrackingArea(m_trackingArea);
    m_trackingArea = std::make_shared<kpv::TrackingArea>(bounds(), m_trackingActiveInActiveApp ? 0x261 : 0x221, this);
    addTrackingArea(m_trackingArea);
}

void LMButton::resetCursorRects() { addCursorRect(bounds(), kpv::Cursor::arrowCursor()); }

void LMButton::mouseEntered(const kpv::Event&)
{
    if (!isEnabled())
        return;
    m_isMouseIn = true;
    setNeedsDisplay();
    if (m_buttonDelegate)
        m_buttonDelegate->buttonMouseEntered(this);
}

void LMButton::mouseExited(const kpv::Event&)
{
    if (!isEnabled())
        return;
    m_isMouseIn = false;
    setNeedsDisplay();
    if (m_buttonDelegate)
        m_buttonDelegate->buttonMouseExited(this);
}

void LMButton::mouseDown(const kpv::Event& e)
{
    if (!isEnabled())
        return;
    m_isMouseDown = true;
    setNeedsDisplay();
    if (isContinuous()) {
        beginContinuousHold();
        return;
    }
    // The menu this button waits to pop up opens on the press, so that it can be dragged onto.
    LMViewPopupHelper::showPendingAtOnceInWindow(window());
    kpv::Button::mouseDown(e);
    m_isMouseDown = false;
    setNeedsDisplay();
    tellPointerAfterPress(window());
}

void LMButton::mouseTrackedOutside(const kpv::Event& e) { LMPopMenuView::trackPressFromOutside(window(), e); }

void LMButton::beginContinuousHold()
{
    if (m_eventMonitor)
        return;
    // Every event is consumed while the button is held, so nothing else reacts; the left
    // mouse-up, wherever it happens, ends the hold.
    m_eventMonitor = LMEventMonitorCenter::eventMonitorCenter().addLocalMonitorForEventsMatchingMask(
        kpv::AnyEventMask, [this](const kpv::Event& ev) {
            if (ev.type() == kpv::LeftMouseUp)
                endContinuousHold();
            return true;
        });
    // If the mouse-up never arrives (the window closes or loses key state, the application is
    // left), the hold ends there, so the application is never left swallowing every event.
    auto& nc = kpv::NotificationCenter::defaultCenter();
    auto end = [this](const kpv::Notification&) { endContinuousHold(); };
    if (kpv::Window* w = window()) {
        nc.addObserver(this, kpv::WindowWillCloseNotification, w, end);
        nc.addObserver(this, kpv::WindowDidResignKeyNotification, w, end);
    }
    nc.addObserver(this, kpv::ApplicationDidResignActiveNotification, nullptr, end);
    if (m_buttonDelegate)
        m_buttonDelegate->buttonMouseDown(this);
}

void LMButton::endContinuousHold()
{
    if (!m_eventMonitor)
        return; // the mouse-up is told once
    kpv::NotificationCenter::defaultCenter().removeObserver(this);
    LMEventMonitorPtr monitor = std::move(m_eventMonitor);
    m_eventMonitor.reset();
    m_isMouseDown = false;
    setNeedsDisplay();
    if (m_buttonDelegate)
        m_buttonDelegate->buttonMouseUp(this);
    LMEventMonitorCenter::eventMonitorCenter().removeMonitor(monitor);
    // The hold swallowed every move: released off the button, it would stay lit until the
    // pointer moved again.
    tellPointerAfterPress(window());
}

bool LMButton::sendAction(const kpv::Action& action, void* target)
{
    const bool result = kpv::Button::sendAction(action, target);
    updateButtonRolloverState();
    if (m_careState)
        updateToolTips();
    return result;
}

void LMButton::updateButtonRolloverState()
{
    bool inside = false;
    if (kpv::Window* w = window()) {
        const kpv::Rect inWindow = convertRectToView(bounds(), nullptr);
        inside = kpv::pointInRect(w->mouseLocationOutsideOfEventStream(), inWindow);
    }
    if (!inside && m_isMouseIn) {
        m_isMouseIn = false;
        setNeedsDisplay();
    }
}

void LMButton::normalizeRollState()
{
    m_isMouseIn = false;
    m_isMouseDown = false;
    setNeedsDisplay();
}
