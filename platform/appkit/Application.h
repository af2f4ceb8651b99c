#pragma once
// The application object: the one place where Qt input becomes Events, local event monitors,
// the nested tracking loop, key and main windows, activation and sheets.

#include "appkit/Event.h"

#include <QString>
#include <deque>
#include <functional>
#include <memory>
#include <vector>

class QObject;
class QEvent;
class QEventLoop;
class QWidget;

namespace kpv {

class View;
class Window;

// A control's action: called with the control that sends it.
using Action = std::function<void(View* sender)>;

extern const char* const ApplicationDidBecomeActiveNotification;
extern const char* const ApplicationDidResignActiveNotification;

class Application {
public:
    static Application& shared();

    // How the desktop knows the program: its desktop entry's id (without ".desktop"), which ties
    // its windows to the entry's name and icon; the name shown in window titles and in dialogs
    // that have no title of their own; the window icon (an image file; empty keeps none).
    static void setIdentity(const QString& desktopId, const QString& displayName, const QString& iconFile);
    // The colours of the standard dialogs (open, save, print, alerts) and of every toolkit control:
    // the program's dark ones, matching its windows, or the desktop's own.
    static void useDarkColours(bool dark);

    // Local monitors see every event of the application's windows before it is dispatched. The
    // handler returns the event to let it through, or nullptr to consume it. They run in the
    // order they were added. Events taken by a nested tracking loop bypass the monitors.
    using MonitorHandler = std::function<EventPtr(const EventPtr&)>;
    using MonitorToken = long;
    MonitorToken addLocalMonitorForEventsMatchingMask(EventMask mask, MonitorHandler handler);
    void removeMonitor(MonitorToken token);
    int monitorCount() const;
    EventMask monitorMask(MonitorToken token) const;

    // Runs the monitors, then hands the event to its window. Also what tests call to inject.
    void sendEvent(const EventPtr& e);
    // Queues an event for nextEventMatchingMask (at the front with `atStart`).
    void postEvent(const EventPtr& e, bool atStart = false);
    void discardQueuedEvents();

    // A nested tracking loop: the next event matching `mask` (for `window`, or any window with
    // nullptr), from the queue first, else from a local event loop in which only common-mode
    // timers fire. Non-matching input is dropped meanwhile. Returns nullptr when the loop is
    // abandoned: the window closed or lost key state, or the application was deactivated, so a
    // caller waiting for a mouse-up never waits forever.
    EventPtr nextEventMatchingMask(EventMask mask, Window* window = nullptr);
    bool isInTrackingLoop() const { return !m_captures.empty(); }
    void abandonTrackingLoops();

    // Activation.
    bool isActive() const { return m_active; }
    // Posts the notifications; tests call it to simulate focus changes.
    void setActive(bool active);
    void activateIgnoringOtherApps();

    Window* keyWindow() const { return m_keyWindow; }
    Window* mainWindow() const { return m_mainWindow; }
    const std::vector<Window*>& windows() const { return m_windows; }

    // Sheets as the older window-modal call: `didEnd` runs with the return code of endSheet.
    void beginSheet(Window* sheet, Window* parent, std::function<void(long)> didEnd);
    void endSheet(Window* sheet, long returnCode);

    // Sends the action; false when there is none.
    bool sendAction(const Action& action, void* target, View* sender);

    // Installs the Qt event filter (done when the first window is made).
    void ensureEventFilter();
    // Translates and dispatches a Qt event for one of our widgets; true when it was taken.
    bool handleQtEvent(QObject* receiver, QEvent* event);

    // Bookkeeping for Window.
    void registerWindow(Window* w);
    void unregisterWindow(Window* w);
    void setKeyWindowInternal(Window* w);
    void setMainWindowInternal(Window* w);

private:
    Application();
    struct Monitor {
        MonitorToken token;
        EventMask mask;
        MonitorHandler handler;
        bool removed = false;
    };
    struct Capture {
        EventMask mask;
        Window* window;
        EventPtr result;
        QEventLoop* loop;
        bool abandoned = false;
    };
    bool offerToCapture(const EventPtr& e);
    // Mouse input of a view that sits in a plain dialog rather than in one of our windows.
    bool handleDetachedViewEvent(QWidget* widget, QEvent* event);

    std::vector<std::shared_ptr<Monitor>> m_monitors;
    MonitorToken m_nextToken = 1;
    std::deque<EventPtr> m_queue;
    std::vector<Capture*> m_captures;
    std::vector<Window*> m_windows;
    Window* m_keyWindow = nullptr;
    Window* m_mainWindow = nullptr;
    bool m_active = true;
    QObject* m_filter = nullptr;
    std::unique_ptr<class EventTranslator> m_translator;
    View* m_detachedMouseTarget = nullptr;
};

} // namespace kpv
