#pragma once
// The one place where Qt input events become Events. Nothing above the platform layer sees a
// Qt event. Locations are handed in already converted to window coordinates (y up).

#include "appkit/Event.h"

#include <Qt>
#include <cstdint>

class QKeyEvent;
class QMouseEvent;
class QWheelEvent;
class QNativeGestureEvent;
class QPinchGesture;

namespace kpv {

// Virtual key code of a Qt key; KeyCode::Unknown for keys without one.
unsigned short keyCodeFromQtKey(int qtKey);

// Modifier flags from Qt's: Ctrl -> command, Alt -> option, Meta (Super) -> control,
// Shift -> shift, keypad -> numeric pad.
std::uint64_t modifierFlagsFromQt(Qt::KeyboardModifiers modifiers);

// The character a function key reports (arrows, Delete, Home...), or 0.
char16_t functionKeyCharacter(int qtKey);

// Stateful parts of the translation: click counting and the momentum phase of a scroll.
class EventTranslator {
public:
    EventPtr translateKey(const QKeyEvent& event, Window* window) const;
    // Press, release, double click and move. `buttonsDown` is whether any button is held (for
    // a move, which then becomes a drag of that button).
    EventPtr translateMouse(const QMouseEvent& event, Point locationInWindow, Window* window);
    EventPtr translateWheel(const QWheelEvent& event, Point locationInWindow, Window* window);
    EventPtr translateGesture(const QNativeGestureEvent& event, Point locationInWindow, Window* window);
    // A step of a touch-screen pinch as a magnify event, like a trackpad's: the change of scale
    // since the last step. nullptr for a step that does not change the scale.
    EventPtr translatePinch(const QPinchGesture& pinch, Point locationInWindow, Window* window);

    // Click counting, separated so it can be driven by timestamps alone: a press within the
    // double-click interval of the previous press of the same button, near it, counts one more.
    int countClick(int button, double timestampMs, Point location);
    void setDoubleClickInterval(int ms) { m_doubleClickMs = ms; }

private:
    int m_lastButton = -1;
    double m_lastPressMs = -1e12;
    Point m_lastPressPoint;
    int m_clickCount = 0;
    int m_doubleClickMs = 400;
    bool m_inMomentum = false;
    // The last key let go and its moment: the window system repeats a held key as a release and a
    // press of one moment, which the toolkit does not always report as a repeat (the first pair
    // of a hold, often more under load), and a held Delete must not trash photo after photo.
    mutable int m_lastReleasedKey = 0;
    mutable unsigned long long m_lastReleaseTime = 0;
};

} // namespace kpv
