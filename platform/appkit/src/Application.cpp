#include "appkit/Application.h"

#include "TextInputDispatch.h"
#include "ViewWidget.h"
#include "WindowWidget.h"
#include "appkit/EventTranslation.h"
#include "appkit/View.h"
#include "appkit/Window.h"
#include "foundation/NotificationCenter.h"
#include "foundation/RunLoop.h"

#include <QApplication>
#include <QEventLoop>
#include <QGestureEvent>
#include <QIcon>
#include <QPalette>
#include <QStyle>
#include <QKeyEvent>
#include <QMenu>
#include <QMenuBar>
#include <QMouseEvent>
#include <QNativeGestureEvent>
#include <QPinchGesture>
#include <QStyleHints>
#include <QTimer>
#include <QWheelEvent>
#include <algorithm>
#include <utility>
#include <vector>

namespace kpv {

const char* const ApplicationDidBecomeActiveNotification = "ApplicationDidBecomeActiveNotification";
const char* const ApplicationDidResignActiveNotification = "ApplicationDidResignActiveNotification";

namespace {
class QtEventFilter : public QObject {
public:
    bool eventFilter(QObject* receiver, QEvent* event) override
    {
        if (!Application::shared().handleQtEvent(receiver, event))
            return false;
        // Taken: say so, or Qt offers an event that arrives unaccepted (a pinch or another
        // gesture of the trackpad) to every parent widget in turn, and it is handled again there.
        event->accept();
        return true;
    }
};

Window* windowOfWidget(const QWidget* w)
{
    if (!w)
        return nullptr;
    auto* ww = dynamic_cast<const WindowWidget*>(w->window());
    return ww ? ww->kpvWindow() : nullptr;
}

// A command chosen from a menu with the keyboard runs while the closed menu still holds the
// keyboard: the keys typed meanwhile reach the menu, hidden by then, which drops them. They
// belong to the window that the menu was opened from.
Window* windowOfClosedMenu(const QWidget* w, const QEvent* event)
{
    if ((event->type() != QEvent::KeyPress && event->type() != QEvent::KeyRelease) || !qobject_cast<const QMenu*>(w) ||
        w->isVisible())
        return nullptr;
    for (const QWidget* p = w->parentWidget(); p; p = p->parentWidget())
        if (Window* window = windowOfWidget(p))
            return window;
    return nullptr;
}

// Keys typed while a tracking loop waits for the mouse (a button held, or released with the key
// right behind the release): the platform's loop leaves them queued for afterwards, so they go
// to what the click brought up, as typed, once the loop has ended. The application is a single
// object that lives as long as the process.
std::vector<EventPtr>& keysHeldDuringTracking()
{
    static std::vector<EventPtr> keys;
    return keys;
}

void holdKeyDuringTracking(const EventPtr& e)
{
    if (e && e->isKeyEvent())
        keysHeldDuringTracking().push_back(e);
}
} // namespace

void Application::setIdentity(const QString& desktopId, const QString& displayName, const QString& iconFile)
{
    if (!desktopId.isEmpty())
        QGuiApplication::setDesktopFileName(desktopId);
    if (!displayName.isEmpty())
        QGuiApplication::setApplicationDisplayName(displayName);
    if (!iconFile.isEmpty())
        QApplication::setWindowIcon(QIcon(iconFile));
}

void Application::useDarkColours(bool dark)
{
    // What the desktop gave, kept from before the first change so it can be given back.
    static const QString desktopStyle = QApplication::style() ? QApplication::style()->name() : QString();
    static const QPalette desktopPalette = QApplication::palette();
    if (!dark) {
        if (!desktopStyle.isEmpty())
            QApplication::setStyle(desktopStyle);
        QApplication::setPalette(desktopPalette);
        return;
    }
    QApplication::setStyle(QStringLiteral("Fusion"));
    const QColor window(43, 45, 48), base(30, 31, 33), text(225, 228, 232), button(58, 61, 66);
    const QColor accent(64, 156, 255), dimmed(128, 132, 138);
    QPalette p;
    p.setColor(QPalette::Window, window);
    p.setColor(QPalette::WindowText, text);
    p.setColor(QPalette::Base, base);
    p.setColor(QPalette::AlternateBase, window);
    p.setColor(QPalette::ToolTipBase, base);
    p.setColor(QPalette::ToolTipText, text);
    p.setColor(QPalette::PlaceholderText, dimmed);
    p.setColor(QPalette::Text, text);
    p.setColor(QPalette::Button, button);
    p.setColor(QPalette::ButtonText, text);
    p.setColor(QPalette::BrightText, Qt::white);
    p.setColor(QPalette::Highlight, accent);
    p.setColor(QPalette::HighlightedText, Qt::white);
    p.setColor(QPalette::Link, accent);
    p.setColor(QPalette::Light, button.lighter(130));
    p.setColor(QPalette::Midlight, button.lighter(115));
    p.setColor(QPalette::Mid, button.darker(120));
    p.setColor(QPalette::Dark, base.darker(120));
    p.setColor(QPalette::Shadow, Qt::black);
    for (QPalette::ColorRole role : {QPalette::WindowText, QPalette::Text, QPalette::ButtonText})
        p.setColor(QPalette::Disabled, role, dimmed);
    p.setColor(QPalette::Disabled, QPalette::Highlight, button);
    QApplication::setPalette(p);
}

Application& Application::shared()
{
    static Application* app = new Application(); // lives for the process, like the platform's
    return *app;
}

Application::Application() : m_translator(std::make_unique<EventTranslator>()) {}

void Application::ensureEventFilter()
{
    if (m_filter || !QCoreApplication::instance())
        return;
    m_filter = new QtEventFilter();
    QCoreApplication::instance()->installEventFilter(m_filter);
    if (auto* gui = qobject_cast<QGuiApplication*>(QCoreApplication::instance())) {
        m_translator->setDoubleClickInterval(QGuiApplication::styleHints()->mouseDoubleClickInterval());
        QObject::connect(gui, &QGuiApplication::applicationStateChanged, m_filter,
                         [this](Qt::ApplicationState s) { setActive(s == Qt::ApplicationActive); });
    }
}

Application::MonitorToken Application::addLocalMonitorForEventsMatchingMask(EventMask mask, MonitorHandler handler)
{
    auto m = std::make_shared<Monitor>();
    m->token = m_nextToken++;
    m->mask = mask;
    m->handler = std::move(handler);
    m_monitors.push_back(m);
    return m->token;
}

void Application::removeMonitor(MonitorToken token)
{
    for (auto it = m_monitors.begin(); it != m_monitors.end(); ++it) {
        if ((*it)->token == token) {
            (*it)->removed = true;
            m_monitors.erase(it);
            return;
        }
    }
}

int Application::monitorCount() const { return int(m_monitors.size()); }

EventMask Application::monitorMask(MonitorToken token) const
{
    for (const auto& m : m_monitors)
        if (m->token == token)
            return m->mask;
    return 0;
}

void Application::sendEvent(const EventPtr& event)
{
    if (!event)
        return;
    EventPtr e = event;
    // A copy of the list: handlers may add or remove monitors.
    auto monitors = m_monitors;
    for (const auto& m : monitors) {
        if (m->removed || !(m->mask & eventMaskFromType(e->type())))
            continue;
        e = m->handler(e);
        if (!e)
            return;
    }
    if (Window* w = e->window())
        w->sendEvent(e);
}

void Application::postEvent(const EventPtr& e, bool atStart)
{
    if (!e)
        return;
    if (atStart)
        m_queue.push_front(e);
    else
        m_queue.push_back(e);
}

void Application::discardQueuedEvents() { m_queue.clear(); }

EventPtr Application::nextEventMatchingMask(EventMask mask, Window* window)
{
    for (auto it = m_queue.begin(); it != m_queue.end(); ++it) {
        const EventPtr& e = *it;
        if ((mask & eventMaskFromType(e->type())) && (!window || !e->window() || e->window() == window)) {
            EventPtr found = e;
            m_queue.erase(it);
            if (found->window())
                found->window()->setMouseLocationInternal(found->locationInWindow());
            return found;
        }
    }
    if (!QCoreApplication::instance() || (window && !window->isVisible()))
        return nullptr;
    ensureEventFilter();
    QEventLoop loop;
    Capture capture{mask, window, nullptr, &loop};
    m_captures.push_back(&capture);
    {
        RunLoop::NestedScope nested(RunLoop::main());
        loop.exec();
    }
    m_captures.erase(std::remove(m_captures.begin(), m_captures.end(), &capture), m_captures.end());
    // The keys held meanwhile follow once the click that ended the loop has had its effect.
    if (m_captures.empty() && !keysHeldDuringTracking().empty())
        RunLoop::main().perform([this] {
            if (!m_captures.empty())
                return; // a new loop took over: they wait for its end
            const std::vector<EventPtr> keys = std::exchange(keysHeldDuringTracking(), {});
            for (const EventPtr& key : keys)
                sendEvent(key);
        });
    return capture.abandoned ? nullptr : capture.result;
}

void Application::abandonTrackingLoops()
{
    for (Capture* c : m_captures) {
        c->abandoned = true;
        c->loop->quit();
    }
}

bool Application::offerToCapture(const EventPtr& e)
{
    if (m_captures.empty())
        return false;
    Capture* c = m_captures.back();
    const bool wanted = (c->mask & eventMaskFromType(e->type())) && (!c->window || e->window() == c->window);
    if (c->result) {
        // Already answered, and the loop is ending. Events of one batch arrive before it ends: a
        // quick release right after a drag must reach the tracker's next call, or the tracker
        // waits for a release that never comes. After a release the tracking is over.
        if (wanted && c->result->type() != LeftMouseUp && c->result->type() != RightMouseUp &&
            c->result->type() != OtherMouseUp)
            m_queue.push_back(e);
        else
            holdKeyDuringTracking(e);
        return true;
    }
    if (wanted) {
        c->result = e;
        c->loop->quit();
    } else {
        holdKeyDuringTracking(e);
    }
    return true;
}

void Application::setActive(bool active)
{
    if (m_active == active)
        return;
    m_active = active;
    if (!active)
        abandonTrackingLoops();
    NotificationCenter::defaultCenter().postNotification(
        active ? ApplicationDidBecomeActiveNotification : ApplicationDidResignActiveNotification, this);
}

void Application::activateIgnoringOtherApps()
{
    if (m_keyWindow)
        m_keyWindow->makeKeyWindow(); // a dialog over it takes the keyboard instead
    setActive(true);
}

void Application::registerWindow(Window* w)
{
    ensureEventFilter();
    m_windows.push_back(w);
}

void Application::unregisterWindow(Window* w)
{
    m_windows.erase(std::remove(m_windows.begin(), m_windows.end(), w), m_windows.end());
    if (m_keyWindow == w)
        m_keyWindow = nullptr;
    if (m_mainWindow == w)
        m_mainWindow = nullptr;
    for (Capture* c : m_captures)
        if (c->window == w) {
            c->abandoned = true;
            c->loop->quit();
        }
    m_queue.erase(std::remove_if(m_queue.begin(), m_queue.end(), [w](const EventPtr& e) { return e->window() == w; }),
                  m_queue.end());
    std::vector<EventPtr>& held = keysHeldDuringTracking();
    held.erase(std::remove_if(held.begin(), held.end(), [w](const EventPtr& e) { return e->window() == w; }), held.end());
}

void Application::setKeyWindowInternal(Window* w)
{
    if (m_keyWindow == w)
        return;
    Window* old = m_keyWindow;
    m_keyWindow = w;
    if (old) {
        for (Capture* c : m_captures)
            if (c->window == old) {
                c->abandoned = true;
                c->loop->quit();
            }
        old->resignKeyWindow();
    }
    if (w)
        w->becomeKeyWindow();
}

void Application::setMainWindowInternal(Window* w)
{
    if (m_mainWindow == w)
        return;
    Window* old = m_mainWindow;
    m_mainWindow = w;
    if (old)
        old->resignMainWindow();
    if (w)
        w->becomeMainWindow();
}

void Application::beginSheet(Window* sheet, Window* parent, std::function<void(long)> didEnd)
{
    if (parent)
        parent->Window::beginSheet(sheet, std::move(didEnd));
}

void Application::endSheet(Window* sheet, long returnCode)
{
    if (sheet && sheet->sheetParent())
        sheet->sheetParent()->Window::endSheet(sheet, returnCode);
}

bool Application::sendAction(const Action& action, void*, View* sender)
{
    if (!action)
        return false;
    action(sender);
    return true;
}

bool Application::handleQtEvent(QObject* receiver, QEvent* event)
{
    auto* widget = qobject_cast<QWidget*>(receiver);
    if (!widget)
        return false;
    Window* window = windowOfWidget(widget);
    if (Window* owner = window ? nullptr : windowOfClosedMenu(widget, event)) {
        EventPtr e = m_translator->translateKey(*static_cast<QKeyEvent*>(event), owner);
        if (!e)
            return false;
        if (!m_captures.empty())
            return offerToCapture(e);
        sendEvent(e);
        return true;
    }
    if (!window)
        return handleDetachedViewEvent(widget, event);
    QWidget* top = window->widget();
    if (!top)
        return false; // the window is still being made
    const bool ours = viewForWidget(widget) != nullptr || widget == top;

    auto locationOf = [&](QPointF local) {
        QPointF p = widget->mapTo(top, local);
        return Point{p.x(), top->height() - p.y()};
    };

    EventPtr e;
    switch (event->type()) {
    case QEvent::KeyPress:
    case QEvent::KeyRelease:
        e = m_translator->translateKey(*static_cast<QKeyEvent*>(event), window);
        break;
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonRelease:
    case QEvent::MouseButtonDblClick:
    case QEvent::MouseMove: {
        if (!ours)
            return false;
        // A menu closed with Esc leaves its title lit and the keyboard with the menu bar. Our
        // views never take Qt's focus, so a click in the window would not end that: the keys
        // would go on walking the menu titles. The click hands the keyboard back to the window.
        if (event->type() == QEvent::MouseButtonPress) {
            if (auto* bar = qobject_cast<QMenuBar*>(top->focusWidget())) {
                bar->setActiveAction(nullptr);
                bar->clearFocus();
            }
        }
        auto* me = static_cast<QMouseEvent*>(event);
        const Point loc = locationOf(me->position());
        window->setMouseLocationInternal(loc);
        e = m_translator->translateMouse(*me, loc, window);
        if (e && !m_captures.empty())
            return offerToCapture(e);
        if (e && (e->type() == MouseMoved || e->type() == LeftMouseDragged))
            window->updateTrackingForMouse(loc, true, e.get());
        break;
    }
    case QEvent::Wheel: {
        if (!ours)
            return false;
        auto* we = static_cast<QWheelEvent*>(event);
        e = m_translator->translateWheel(*we, locationOf(we->position()), window);
        break;
    }
    case QEvent::NativeGesture: {
        if (!ours)
            return false;
        auto* ge = static_cast<QNativeGestureEvent*>(event);
        e = m_translator->translateGesture(*ge, locationOf(ge->position()), window);
        break;
    }
    case QEvent::Gesture: {
        auto* pinch = static_cast<QPinchGesture*>(static_cast<QGestureEvent*>(event)->gesture(Qt::PinchGesture));
        if (!ours || !pinch)
            return false;
        e = m_translator->translatePinch(*pinch, locationOf(widget->mapFromGlobal(pinch->centerPoint())), window);
        if (!e)
            return true; // its start and end: the pinch stays with this view
        break;
    }
    case QEvent::InputMethod:
    case QEvent::InputMethodQuery:
        // The window's widget holds Qt's focus; what the input method says or asks goes to the
        // first responder of the window.
        return ours && handleInputMethodEvent(window, event);
    case QEvent::Leave:
        if (widget == top && m_captures.empty()) {
            window->setMouseLocationInternal(Point{-1e9, -1e9});
            window->updateTrackingForMouse(Point{-1e9, -1e9}, false, nullptr);
        }
        return false;
    case QEvent::WindowActivate:
        if (widget != top)
            return false;
        // Activated while a dialog holds it (a click on it, where the window manager hands the
        // keyboard to the window clicked): every key there is dropped, and the window manager,
        // which still counts the dialog as active, never hands the keyboard back. The dialog takes
        // it, once this activation is through.
        if (QWidget* dialog = window->blockingDialog()) {
            QTimer::singleShot(0, dialog, [dialog] {
                if (dialog->isVisible() && !dialog->isActiveWindow()) {
                    dialog->raise();
                    dialog->activateWindow();
                }
            });
            return false;
        }
        if (window->canBecomeKeyWindow())
            setKeyWindowInternal(window);
        return false;
    case QEvent::WindowDeactivate:
        if (widget == top && m_keyWindow == window)
            setKeyWindowInternal(nullptr);
        return false;
    default:
        return false;
    }
    if (!e)
        return false;
    if (!m_captures.empty())
        return offerToCapture(e);
    if (!ours) {
        // While a menu title is lit the plain keys are the bar's (arrows along the titles, Esc to
        // put the light out): a mode that leaves on Esc must not take that Esc first. Shortcuts
        // still go to the monitors.
        if (auto* bar = qobject_cast<QMenuBar*>(widget);
            bar && bar->activeAction() && (e->type() == KeyDown || e->type() == KeyUp) &&
            !(e->modifierFlags() & (CommandKeyMask | ControlKeyMask | AlternateKeyMask)))
            return false;
        // A Qt widget inside one of our windows (a text field): monitors may consume its
        // keys, otherwise Qt delivers them as usual.
        EventPtr passed = e;
        auto monitors = m_monitors;
        for (const auto& m : monitors) {
            if (m->removed || !(m->mask & eventMaskFromType(passed->type())))
                continue;
            passed = m->handler(passed);
            if (!passed)
                return true;
        }
        return false;
    }
    sendEvent(e);
    return true;
}

// A view shown inside a dialog of the toolkit (a save panel's accessory) has no window of ours:
// its presses, drags and releases go straight to the view under the pointer, with locations in
// the coordinates of the accessory's root view. Controls whose tracking loop needs a window then
// act on the press alone (a button sends its action, a slider jumps to the pointer) and follow
// the drags that arrive here.
bool Application::handleDetachedViewEvent(QWidget* widget, QEvent* event)
{
    const QEvent::Type type = event->type();
    if (type != QEvent::MouseButtonPress && type != QEvent::MouseButtonRelease && type != QEvent::MouseMove)
        return false;
    View* view = viewForWidget(widget);
    if (!view)
        return false;
    View* root = view;
    while (root->superview())
        root = root->superview();
    QWidget* rootWidget = root->widget();
    auto* me = static_cast<QMouseEvent*>(event);
    // Locations as a window would give them: the root view's own coordinates moved by its frame.
    const QPointF p = widget->mapTo(rootWidget, me->position());
    const Rect f = root->frame();
    const Point loc{p.x() + f.x(), rootWidget->height() - p.y() + f.y()};
    const EventPtr e = m_translator->translateMouse(*me, loc, nullptr);
    if (!e)
        return false;
    switch (e->type()) {
    case LeftMouseDown: {
        m_detachedMouseTarget = root->hitTest(loc);
        if (m_detachedMouseTarget)
            m_detachedMouseTarget->mouseDown(*e);
        return m_detachedMouseTarget != nullptr;
    }
    case LeftMouseDragged:
        if (!m_detachedMouseTarget)
            return false;
        m_detachedMouseTarget->mouseDragged(*e);
        return true;
    case LeftMouseUp: {
        View* target = m_detachedMouseTarget;
        m_detachedMouseTarget = nullptr;
        if (target)
            target->mouseUp(*e);
        return target != nullptr;
    }
    default:
        return false;
    }
}

} // namespace kpv
