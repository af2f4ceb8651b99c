#include "appkit/EventTranslation.h"

#include <QGuiApplication>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QNativeGestureEvent>
#include <QPinchGesture>
#include <QStyleHints>
#include <QWheelEvent>
#include <cmath>

namespace kpv {

bool Event::isMouseEvent() const
{
    switch (m_type) {
    case LeftMouseDown: case LeftMouseUp: case RightMouseDown: case RightMouseUp: case MouseMoved:
    case LeftMouseDragged: case RightMouseDragged: case MouseEntered: case MouseExited:
    case OtherMouseDown: case OtherMouseUp: case OtherMouseDragged: case ScrollWheel:
        return true;
    default:
        return false;
    }
}

EventPtr Event::mouseEvent(EventType type, Point locationInWindow, Window* window, std::uint64_t flags,
                           int clickCount)
{
    auto e = std::make_shared<Event>(type);
    e->m_location = locationInWindow;
    e->m_window = window;
    e->m_modifierFlags = flags;
    e->m_clickCount = clickCount;
    if (type == RightMouseDown || type == RightMouseUp || type == RightMouseDragged)
        e->m_buttonNumber = 1;
    else if (type == OtherMouseDown || type == OtherMouseUp || type == OtherMouseDragged)
        e->m_buttonNumber = 2;
    return e;
}

EventPtr Event::keyEvent(EventType type, unsigned short keyCode, const QString& characters,
                         const QString& charactersIgnoringModifiers, Window* window, std::uint64_t flags,
                         bool isARepeat)
{
    auto e = std::make_shared<Event>(type);
    e->m_keyCode = keyCode;
    e->m_characters = characters;
    e->m_charactersIgnoringModifiers = charactersIgnoringModifiers;
    e->m_window = window;
    e->m_modifierFlags = flags;
    e->m_isARepeat = isARepeat;
    return e;
}

bool Event::isContextMenuKey() const
{
    constexpr unsigned short kF10 = 109;
    if (m_type != KeyDown)
        return false;
    const std::uint64_t modifiers = m_modifierFlags & (ShiftKeyMask | ControlKeyMask | AlternateKeyMask | CommandKeyMask);
    return (m_keyCode == KeyCode::ContextMenu && modifiers == 0) || (m_keyCode == kF10 && modifiers == ShiftKeyMask);
}

unsigned short keyCodeFromQtKey(int key)
{
    // Hardware-independent virtual codes, as the application's key tables expect them.
    static const unsigned short letters[26] = {
        KeyCode::A, KeyCode::B, KeyCode::C, KeyCode::D, KeyCode::E, KeyCode::F, KeyCode::G,
        KeyCode::H, KeyCode::I, KeyCode::J, KeyCode::K, KeyCode::L, KeyCode::M, KeyCode::N,
        KeyCode::O, KeyCode::P, KeyCode::Q, KeyCode::R, KeyCode::S, KeyCode::T, KeyCode::U,
        KeyCode::V, KeyCode::W, KeyCode::X, KeyCode::Y, KeyCode::Z};
    static const unsigned short digits[10] = {29, 18, 19, 20, 21, 23, 22, 26, 28, 25};
    static const unsigned short fkeys[12] = {122, 120, 99, 118, 96, 97, 98, 100, 101, 109, 103, 111};
    if (key >= Qt::Key_A && key <= Qt::Key_Z)
        return letters[key - Qt::Key_A];
    if (key >= Qt::Key_0 && key <= Qt::Key_9)
        return digits[key - Qt::Key_0];
    if (key >= Qt::Key_F1 && key <= Qt::Key_F12)
        return fkeys[key - Qt::Key_F1];
    switch (key) {
    case Qt::Key_Escape: return KeyCode::Escape;
    case Qt::Key_Return: return KeyCode::Return;
    case Qt::Key_Enter: return KeyCode::KeypadEnter;
    case Qt::Key_Tab: case Qt::Key_Backtab: return KeyCode::Tab;
    case Qt::Key_Space: return KeyCode::Space;
    case Qt::Key_Backspace: return KeyCode::Delete;
    case Qt::Key_Delete: return KeyCode::ForwardDelete;
    case Qt::Key_Left: return KeyCode::LeftArrow;
    case Qt::Key_Right: return KeyCode::RightArrow;
    case Qt::Key_Down: return KeyCode::DownArrow;
    case Qt::Key_Up: return KeyCode::UpArrow;
    case Qt::Key_Home: return KeyCode::Home;
    case Qt::Key_End: return KeyCode::End;
    case Qt::Key_PageUp: return KeyCode::PageUp;
    case Qt::Key_PageDown: return KeyCode::PageDown;
    case Qt::Key_Equal: case Qt::Key_Plus: return 24;
    case Qt::Key_Minus: case Qt::Key_Underscore: return 27;
    case Qt::Key_Menu: return KeyCode::ContextMenu;
    default: return KeyCode::Unknown;
    }
}

std::uint64_t modifierFlagsFromQt(Qt::KeyboardModifiers m)
{
    std::uint64_t f = 0;
    if (m & Qt::ShiftModifier)
        f |= ShiftKeyMask;
    if (m & Qt::ControlModifier)
        f |= CommandKeyMask;
    if (m & Qt::AltModifier)
        f |= AlternateKeyMask;
    if (m & Qt::MetaModifier)
        f |= ControlKeyMask;
    if (m & Qt::KeypadModifier)
        f |= NumericPadKeyMask;
    return f;
}

char16_t functionKeyCharacter(int key)
{
    switch (key) {
    case Qt::Key_Up: return FunctionKey::UpArrow;
    case Qt::Key_Down: return FunctionKey::DownArrow;
    case Qt::Key_Left: return FunctionKey::LeftArrow;
    case Qt::Key_Right: return FunctionKey::RightArrow;
    case Qt::Key_Backspace: return FunctionKey::Delete;
    case Qt::Key_Delete: return FunctionKey::ForwardDelete;
    case Qt::Key_Home: return FunctionKey::Home;
    case Qt::Key_End: return FunctionKey::End;
    case Qt::Key_PageUp: return FunctionKey::PageUp;
    case Qt::Key_PageDown: return FunctionKey::PageDown;
    default: return 0;
    }
}

EventPtr EventTranslator::translateKey(const QKeyEvent& ke, Window* window) const
{
    EventType type = ke.type() == QEvent::KeyRelease ? KeyUp : KeyDown;
    const int key = ke.key();
    if (key == Qt::Key_Shift || key == Qt::Key_Control || key == Qt::Key_Alt || key == Qt::Key_Meta ||
        key == Qt::Key_CapsLock || key == Qt::Key_Super_L || key == Qt::Key_Super_R)
        type = FlagsChanged;
    std::uint64_t flags = modifierFlagsFromQt(ke.modifiers());
    QString chars;
    QString plain;
    if (char16_t fk = functionKeyCharacter(key)) {
        chars = plain = QString(QChar(fk));
        if (key >= Qt::Key_Left && key <= Qt::Key_Down)
            flags |= NumericPadKeyMask | FunctionKeyMask; // arrows carry the numeric-pad bit
        else if (key != Qt::Key_Backspace)
            flags |= FunctionKeyMask;
    } else if (key == Qt::Key_Escape) {
        chars = plain = QString(QChar(0x1b));
    } else {
        chars = ke.text();
        // Ignoring modifiers keeps shift, as the keyboard layout would produce it.
        if (key >= Qt::Key_A && key <= Qt::Key_Z) {
            QChar c(char16_t('a' + (key - Qt::Key_A)));
            plain = (ke.modifiers() & Qt::ShiftModifier) ? QString(c.toUpper()) : QString(c);
        } else if (key >= 0x20 && key < 0x7f) {
            plain = QString(QChar(char16_t(key)));
        } else {
            plain = chars;
        }
    }
    bool repeat = ke.isAutoRepeat();
    if (ke.type() == QEvent::KeyRelease) {
        m_lastReleasedKey = key;
        m_lastReleaseTime = ke.timestamp();
    } else if (!repeat && ke.timestamp() != 0 && key == m_lastReleasedKey && ke.timestamp() == m_lastReleaseTime) {
        repeat = true;
    }
    return Event::keyEvent(type, keyCodeFromQtKey(key), chars, plain, window, flags, repeat);
}

int EventTranslator::countClick(int button, double t, Point p)
{
    const bool near = std::fabs(p.x - m_lastPressPoint.x) <= 4 && std::fabs(p.y - m_lastPressPoint.y) <= 4;
    if (button == m_lastButton && t - m_lastPressMs <= m_doubleClickMs && near)
        ++m_clickCount;
    else
        m_clickCount = 1;
    m_lastButton = button;
    m_lastPressMs = t;
    m_lastPressPoint = p;
    return m_clickCount;
}

namespace {
// The platform's button numbers: 0 left, 1 right, 2 middle, then the side buttons (back 3,
// forward 4) and any others, so that a view tells the middle button from the back button.
int buttonNumberOf(Qt::MouseButton b)
{
    switch (b) {
    case Qt::LeftButton: return 0;
    case Qt::RightButton: return 1;
    case Qt::MiddleButton: return 2;
    case Qt::BackButton: return 3;
    case Qt::ForwardButton: return 4;
    default: {
        int n = 5;
        for (unsigned bit = unsigned(Qt::ForwardButton) << 1; bit && !(bit & unsigned(b)); bit <<= 1)
            ++n;
        return n;
    }
    }
}
} // namespace

EventPtr EventTranslator::translateMouse(const QMouseEvent& me, Point loc, Window* window)
{
    const std::uint64_t flags = modifierFlagsFromQt(me.modifiers());
    auto kindOf = [](Qt::MouseButton b) { return b == Qt::LeftButton ? 0 : b == Qt::RightButton ? 1 : 2; };
    switch (me.type()) {
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonDblClick: {
        const int k = kindOf(me.button());
        const int clicks = countClick(k, double(me.timestamp()), loc);
        const EventType t = k == 0 ? LeftMouseDown : k == 1 ? RightMouseDown : OtherMouseDown;
        EventPtr e = Event::mouseEvent(t, loc, window, flags, clicks);
        e->setButtonNumber(buttonNumberOf(me.button()));
        return e;
    }
    case QEvent::MouseButtonRelease: {
        const int k = kindOf(me.button());
        const EventType t = k == 0 ? LeftMouseUp : k == 1 ? RightMouseUp : OtherMouseUp;
        EventPtr e = Event::mouseEvent(t, loc, window, flags, m_clickCount);
        e->setButtonNumber(buttonNumberOf(me.button()));
        return e;
    }
    case QEvent::MouseMove: {
        EventType t = MouseMoved;
        if (me.buttons() & Qt::LeftButton)
            t = LeftMouseDragged;
        else if (me.buttons() & Qt::RightButton)
            t = RightMouseDragged;
        else if (me.buttons() != Qt::NoButton)
            t = OtherMouseDragged;
        return Event::mouseEvent(t, loc, window, flags, 0);
    }
    default:
        return nullptr;
    }
}

EventPtr EventTranslator::translateWheel(const QWheelEvent& we, Point loc, Window* window)
{
    auto e = Event::mouseEvent(ScrollWheel, loc, window, modifierFlagsFromQt(we.modifiers()), 0);
    if (!we.pixelDelta().isNull()) {
        e->setHasPreciseScrollingDeltas(true);
        e->setScrollingDelta(we.pixelDelta().x(), we.pixelDelta().y());
    } else {
        // One notch of a wheel is 120 eighths of a degree: one line.
        e->setScrollingDelta(we.angleDelta().x() / 120.0, we.angleDelta().y() / 120.0);
    }
    e->setDelta(e->scrollingDeltaX(), e->scrollingDeltaY());
    switch (we.phase()) {
    case Qt::ScrollBegin:
        m_inMomentum = false;
        e->setPhase(PhaseBegan);
        break;
    case Qt::ScrollUpdate:
        e->setPhase(PhaseChanged);
        break;
    case Qt::ScrollEnd:
        if (m_inMomentum) {
            m_inMomentum = false;
            e->setMomentumPhase(PhaseEnded);
        } else {
            e->setPhase(PhaseEnded);
        }
        break;
    case Qt::ScrollMomentum:
        e->setMomentumPhase(m_inMomentum ? PhaseChanged : PhaseBegan);
        m_inMomentum = true;
        break;
    case Qt::NoScrollPhase:
    default:
        break;
    }
    return e;
}

EventPtr EventTranslator::translateGesture(const QNativeGestureEvent& ge, Point loc, Window* window)
{
    EventPtr e;
    switch (ge.gestureType()) {
    case Qt::ZoomNativeGesture:
        e = Event::mouseEvent(EventTypeMagnify, loc, window);
        e->setMagnification(ge.value());
        break;
    case Qt::SmartZoomNativeGesture:
        e = Event::mouseEvent(EventTypeSmartMagnify, loc, window);
        break;
    case Qt::RotateNativeGesture:
        e = Event::mouseEvent(EventTypeRotate, loc, window);
        e->setRotation(ge.value());
        break;
    case Qt::SwipeNativeGesture: {
        e = Event::mouseEvent(EventTypeSwipe, loc, window);
        // Qt gives the swipe's angle in degrees; the event carries -1/1 per axis.
        const double a = ge.value() * M_PI / 180.0;
        double dx = std::round(std::cos(a)), dy = std::round(std::sin(a));
        e->setDelta(-dx, dy);
        break;
    }
    default:
        return nullptr;
    }
    e->setModifierFlags(modifierFlagsFromQt(ge.modifiers()));
    return e;
}

EventPtr EventTranslator::translatePinch(const QPinchGesture& pinch, Point loc, Window* window)
{
    // The finishing step repeats the last change; it is not a change of its own.
    const double factor = pinch.scaleFactor();
    if (pinch.state() == Qt::GestureFinished || pinch.state() == Qt::GestureCanceled ||
        !(pinch.changeFlags() & QPinchGesture::ScaleFactorChanged) || !std::isfinite(factor) || factor <= 0 ||
        factor == 1.0)
        return nullptr;
    EventPtr e = Event::mouseEvent(EventTypeMagnify, loc, window);
    e->setMagnification(factor - 1.0);
    return e;
}

} // namespace kpv
