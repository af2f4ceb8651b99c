#pragma once
// A button made from a plain view: its own enabled flag, on/off state, action and target, a
// mouse-tracking loop of its own, roll-over through a tracking area, and a visual state that
// subclasses draw.

#include "Kit/LMSimButtonBaseDelegate.h"
#include "appkit/Application.h"
#include "appkit/View.h"

#include <cstdint>

// 0 normal, 1 mouse inside, 2 mouse down, 3 disabled; plus 0x1000 for the on set.
using LMVisualState = long;
constexpr LMVisualState LMVisualStateOnFlag = 0x1000;

class LMSimButtonBase : public kpv::View {
public:
    explicit LMSimButtonBase(const kpv::Rect& frame = kpv::Rect());
    ~LMSimButtonBase() override;

    bool isEnabled() const { return m_enabled; }
    void setEnabled(bool enabled);
    std::int64_t state() const { return m_state; }
    void setState(std::int64_t state);
    bool careState() const { return m_careState; }
    void setCareState(bool c) { m_careState = c; }
    bool trackingActiveInActiveApp() const { return m_trackingActiveInActiveApp; }
    // Takes effect at once when the button is already in a window.
    void setTrackingActiveInActiveApp(bool t);
    LMSimButtonBaseDelegate* buttonDelegate() const { return m_buttonDelegate; }
    void setButtonDelegate(LMSimButtonBaseDelegate* d) { m_buttonDelegate = d; }
    const kpv::Action& action() const { return m_action; }
    void setAction(kpv::Action a) { m_action = std::move(a); }
    void* target() const { return m_target; }
    void setTarget(void* t) { m_target = t; }
    bool isMouseIn() const { return m_isMouseIn; }
    bool isMouseDown() const { return m_isMouseDown; }

    LMVisualState visualState() const { return visualStateWithCheckOnState(false); }
    LMVisualState visualStateWithCheckOnState(bool checkOn) const;
    // The hook through which every change of state reaches the look: redisplay by default.
    virtual void updateButtonUI();

    virtual bool isContinuous() const { return false; }
    virtual bool startTrackingAt(kpv::Point, kpv::View*) { return true; }
    virtual bool continueTracking(kpv::Point, kpv::Point, kpv::View*) { return true; }
    virtual void stopTracking(kpv::Point, kpv::Point, kpv::View*, bool) {}
    // The inner tracking loop: true when the mouse went up inside.
    bool trackMouse(const kpv::Event& e, const kpv::Rect& rect, kpv::View* view, bool untilMouseUp);
    void mouseDown(const kpv::Event& e) override;
    // A button outside our windows (in a dialog of the desktop) has no tracking loop: its press
    // waits for the release, which clicks it when inside.
    void mouseUp(const kpv::Event& e) override;
    void simMouseDown(const kpv::Event& e);
    bool sendAction(const kpv::Action& action, void* target);
    void normalizeRollState();
    // With the keyboard focus, Space, Return and Enter press the button as a click would.
    bool acceptsKeyFocus() const override { return true; }
    bool canBecomeKeyView() const override { return m_enabled && kpv::View::canBecomeKeyView(); }
    bool performKeyAction(const kpv::Event& e) override;

    void resetCursorRects() override;
    void updateTrackingAreas() override;
    void mouseEntered(const kpv::Event& e) override;
    void mouseExited(const kpv::Event& e) override;

protected:
    void setMouseIn(bool in) { m_isMouseIn = in; }

private:
    LMSimButtonBaseDelegate* m_buttonDelegate = nullptr;
    bool m_isMouseIn = false;
    bool m_isMouseDown = false;
    bool m_pressedWithoutWindow = false;
    kpv::TrackingAreaPtr m_trackingArea;
    bool m_trackingActiveInActiveApp = false;
    bool m_careState = false;
    std::int64_t m_state = 0;
    bool m_enabled = true;
    kpv::Action m_action;
    void* m_target = nullptr;
};
