#pragma once
// Input events with the window system's numbering of types, key codes and modifier flags, so
// that the application's tables work as written. Qt events become these in EventTranslation.

#include "appkit/Geometry.h"

#include <QString>
#include <cstdint>
#include <memory>

namespace kpv {

class Window;

enum EventType : int {
    LeftMouseDown = 1,
    LeftMouseUp = 2,
    RightMouseDown = 3,
    RightMouseUp = 4,
    MouseMoved = 5,
    LeftMouseDragged = 6,
    RightMouseDragged = 7,
    MouseEntered = 8,
    MouseExited = 9,
    KeyDown = 10,
    KeyUp = 11,
    FlagsChanged = 12,
    CursorUpdate = 17,
    EventTypeRotate = 18,
    ScrollWheel = 22,
    OtherMouseDown = 25,
    OtherMouseUp = 26,
    OtherMouseDragged = 27,
    EventTypeMagnify = 30,
    EventTypeSwipe = 31,
    EventTypeSmartMagnify = 32,
};

using EventMask = std::uint64_t;
constexpr EventMask eventMaskFromType(int type) { return EventMask(1) << type; }
constexpr EventMask AnyEventMask = ~EventMask(0);
constexpr EventMask LeftMouseUpMask = eventMaskFromType(LeftMouseUp);
constexpr EventMask LeftMouseDraggedMask = eventMaskFromType(LeftMouseDragged);
constexpr EventMask LeftMouseDownMask = eventMaskFromType(LeftMouseDown);
constexpr EventMask KeyDownMask = eventMaskFromType(KeyDown);

// Modifier flags. On Linux Ctrl is "command" (the primary shortcut key), Alt is "option" and
// the Super key is "control"; the translation keeps that mapping everywhere.
enum ModifierFlag : std::uint64_t {
    AlphaShiftKeyMask = 1u << 16,
    ShiftKeyMask = 1u << 17,
    ControlKeyMask = 1u << 18,
    AlternateKeyMask = 1u << 19,
    CommandKeyMask = 1u << 20,
    NumericPadKeyMask = 1u << 21,
    HelpKeyMask = 1u << 22,
    FunctionKeyMask = 1u << 23,
    DeviceIndependentModifierFlagsMask = 0xffff0000u,
};

namespace KeyCode {
constexpr unsigned short A = 0, S = 1, D = 2, F = 3, H = 4, G = 5, Z = 6, X = 7, C = 8, V = 9, B = 11,
                         Q = 12, W = 13, E = 14, R = 15, Y = 16, T = 17, O = 31, U = 32, I = 34, P = 35,
                         L = 37, J = 38, K = 40, N = 45, M = 46;
constexpr unsigned short Return = 36, Tab = 48, Space = 49, Delete = 51, Escape = 53, KeypadEnter = 76,
                         ForwardDelete = 117, Home = 115, End = 119, PageUp = 116, PageDown = 121,
                         LeftArrow = 123, RightArrow = 124, DownArrow = 125, UpArrow = 126;
constexpr unsigned short ContextMenu = 110; // the menu key beside the right Ctrl of PC keyboards
constexpr unsigned short Unknown = 0xffff;
} // namespace KeyCode

// Characters the keyboard's function keys report.
namespace FunctionKey {
constexpr char16_t UpArrow = 0xF700, DownArrow = 0xF701, LeftArrow = 0xF702, RightArrow = 0xF703,
                   Delete = 0x7F, ForwardDelete = 0xF728, Home = 0xF729, End = 0xF72B, PageUp = 0xF72C,
                   PageDown = 0xF72D;
}

enum EventPhase : int {
    PhaseNone = 0,
    PhaseBegan = 1,
    PhaseStationary = 2,
    PhaseChanged = 4,
    PhaseEnded = 8,
    PhaseCancelled = 16,
    PhaseMayBegin = 32,
};

class TrackingArea;

class Event {
public:
    Event() = default;
    explicit Event(EventType type) : m_type(type) {}

    static std::shared_ptr<Event> mouseEvent(EventType type, Point locationInWindow, Window* window,
                                             std::uint64_t flags = 0, int clickCount = 1);
    static std::shared_ptr<Event> keyEvent(EventType type, unsigned short keyCode, const QString& characters,
                                           const QString& charactersIgnoringModifiers, Window* window,
                                           std::uint64_t flags = 0, bool isARepeat = false);

    EventType type() const { return m_type; }
    void setType(EventType t) { m_type = t; }
    std::uint64_t modifierFlags() const { return m_modifierFlags; }
    void setModifierFlags(std::uint64_t f) { m_modifierFlags = f; }
    double timestamp() const { return m_timestamp; }
    void setTimestamp(double t) { m_timestamp = t; }
    Window* window() const { return m_window; }
    void setWindow(Window* w) { m_window = w; }

    // Mouse
    Point locationInWindow() const { return m_location; }
    void setLocationInWindow(Point p) { m_location = p; }
    int clickCount() const { return m_clickCount; }
    void setClickCount(int c) { m_clickCount = c; }
    int buttonNumber() const { return m_buttonNumber; }
    void setButtonNumber(int b) { m_buttonNumber = b; }
    double deltaX() const { return m_deltaX; }
    double deltaY() const { return m_deltaY; }
    void setDelta(double dx, double dy) { m_deltaX = dx; m_deltaY = dy; }

    // Keys
    unsigned short keyCode() const { return m_keyCode; }
    void setKeyCode(unsigned short k) { m_keyCode = k; }
    const QString& characters() const { return m_characters; }
    const QString& charactersIgnoringModifiers() const { return m_charactersIgnoringModifiers; }
    void setCharacters(const QString& c, const QString& ignoringModifiers)
    {
        m_characters = c;
        m_charactersIgnoringModifiers = ignoringModifiers;
    }
    bool isARepeat() const { return m_isARepeat; }
    void setARepeat(bool r) { m_isARepeat = r; }
    // The keyboard's right click, as on the rest of this desktop: the menu key, or Shift+F10.
    bool isContextMenuKey() const;

    // Scrolling: deltas in points (precise) or lines (wheel notches), y positive upwards/away.
    double scrollingDeltaX() const { return m_scrollX; }
    double scrollingDeltaY() const { return m_scrollY; }
    void setScrollingDelta(double dx, double dy) { m_scrollX = dx; m_scrollY = dy; }
    bool hasPreciseScrollingDeltas() const { return m_precise; }
    void setHasPreciseScrollingDeltas(bool p) { m_precise = p; }
    int phase() const { return m_phase; }
    void setPhase(int p) { m_phase = p; }
    int momentumPhase() const { return m_momentumPhase; }
    void setMomentumPhase(int p) { m_momentumPhase = p; }

    // Gestures
    double magnification() const { return m_magnification; }
    void setMagnification(double m) { m_magnification = m; }
    double rotation() const { return m_rotation; }
    void setRotation(double r) { m_rotation = r; }

    // Entered / exited
    TrackingArea* trackingArea() const { return m_trackingArea; }
    void setTrackingArea(TrackingArea* a) { m_trackingArea = a; }

    bool isMouseEvent() const;
    bool isKeyEvent() const { return m_type == KeyDown || m_type == KeyUp || m_type == FlagsChanged; }

private:
    EventType m_type = MouseMoved;
    std::uint64_t m_modifierFlags = 0;
    double m_timestamp = 0;
    Window* m_window = nullptr;
    Point m_location;
    int m_clickCount = 0;
    int m_buttonNumber = 0;
    double m_deltaX = 0, m_deltaY = 0;
    unsigned short m_keyCode = KeyCode::Unknown;
    QString m_characters, m_charactersIgnoringModifiers;
    bool m_isARepeat = false;
    double m_scrollX = 0, m_scrollY = 0;
    bool m_precise = false;
    int m_phase = PhaseNone, m_momentumPhase = PhaseNone;
    double m_magnification = 0, m_rotation = 0;
    TrackingArea* m_trackingArea = nullptr;
};

using EventPtr = std::shared_ptr<Event>;

} // namespace kpv
