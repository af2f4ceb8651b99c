#include "appkit/WindowSystem.h"

#include <QAbstractNativeEventFilter>
#include <QGuiApplication>
#include <QWidget>
#include <QWindow>

#include <xcb/xcb.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>

namespace kpv {

std::string whyNoWindowSystem(const std::string& display)
{
    const auto value = [](const char* name) {
        const char* v = std::getenv(name);
        return std::string(v ? v : "");
    };
    const std::string platform = value("QT_QPA_PLATFORM");
    // Only the X11 plugin is checked here; a list ("wayland;xcb") lets the toolkit try each.
    const bool x11Only = platform.rfind("xcb", 0) == 0 && platform.find(';') == std::string::npos;
    if (!platform.empty() && !x11Only)
        return {};
    if (platform.empty() && !value("WAYLAND_DISPLAY").empty())
        return {};
    const std::string name = display.empty() ? value("DISPLAY") : display;
    if (name.empty())
        return x11Only ? "no X display is named (DISPLAY is not set)"
                       : "no display to show the window on (neither DISPLAY nor WAYLAND_DISPLAY is set)";
    xcb_connection_t* connection = xcb_connect(name.c_str(), nullptr);
    const int error = xcb_connection_has_error(connection);
    xcb_disconnect(connection);
    if (error == 0)
        return {};
    return "cannot open a window on the display \u201c" + name +
           "\u201d: no X server answers there, or it does not let this user in";
}

namespace {

xcb_atom_t internAtom(xcb_connection_t* connection, const char* name)
{
    xcb_intern_atom_reply_t* reply =
        xcb_intern_atom_reply(connection, xcb_intern_atom(connection, 0, uint16_t(std::strlen(name)), name), nullptr);
    const xcb_atom_t value = reply ? reply->atom : XCB_ATOM_NONE;
    std::free(reply);
    return value;
}

// Startup notification protocol: "remove: ID=<id>", the value quoted with its quotes and
// backslashes escaped, ending in a zero byte, sent to the root window 20 bytes a message from a
// window of the sender's own.
void sendStartupRemove(xcb_connection_t* connection, xcb_window_t root, const std::string& startupId)
{
    const xcb_atom_t begin = internAtom(connection, "_NET_STARTUP_INFO_BEGIN");
    const xcb_atom_t more = internAtom(connection, "_NET_STARTUP_INFO");
    std::string text = "remove: ID=\"";
    for (const char c : startupId) {
        if (c == '"' || c == '\\')
            text += '\\';
        text += c;
    }
    text += '"';
    text += '\0';
    const xcb_window_t sender = xcb_generate_id(connection);
    xcb_create_window(connection, XCB_COPY_FROM_PARENT, sender, root, -100, -100, 1, 1, 0,
                      XCB_WINDOW_CLASS_INPUT_ONLY, XCB_COPY_FROM_PARENT, 0, nullptr);
    for (size_t at = 0; at < text.size(); at += 20) {
        xcb_client_message_event_t event {};
        event.response_type = XCB_CLIENT_MESSAGE;
        event.format = 8;
        event.window = sender;
        event.type = at == 0 ? begin : more;
        std::memcpy(event.data.data8, text.data() + at, std::min<size_t>(20, text.size() - at));
        xcb_send_event(connection, 0, root, XCB_EVENT_MASK_PROPERTY_CHANGE, reinterpret_cast<const char*>(&event));
    }
    xcb_destroy_window(connection, sender);
}

#if QT_CONFIG(xcb)
// EWMH: the user time goes on the window that _NET_WM_USER_TIME_WINDOW names, where there is one,
// and a pager's or application's activation request carries that time, so that the window
// manager can tell it from focus stealing.
void activateOnX11(xcb_connection_t* connection, QWidget* top, const std::string& startupId)
{
    const std::optional<uint32_t> time = startupIdTime(startupId);
    xcb_window_t root = XCB_WINDOW_NONE;
    const xcb_window_t window = top ? xcb_window_t(top->winId()) : XCB_WINDOW_NONE;
    if (window != XCB_WINDOW_NONE) {
        if (xcb_get_geometry_reply_t* g = xcb_get_geometry_reply(connection, xcb_get_geometry(connection, window), nullptr)) {
            root = g->root;
            std::free(g);
        }
    }
    if (root == XCB_WINDOW_NONE) {
        const xcb_setup_t* setup = xcb_get_setup(connection);
        if (!setup || !xcb_setup_roots_iterator(setup).rem)
            return;
        root = xcb_setup_roots_iterator(setup).data->root;
    }
    if (window != XCB_WINDOW_NONE && root != XCB_WINDOW_NONE) {
        xcb_change_property(connection, XCB_PROP_MODE_REPLACE, window, internAtom(connection, "_NET_STARTUP_ID"),
                            internAtom(connection, "UTF8_STRING"), 8, uint32_t(startupId.size()), startupId.data());
        if (time) {
            xcb_window_t userTimeWindow = window;
            const xcb_atom_t userTimeWindowAtom = internAtom(connection, "_NET_WM_USER_TIME_WINDOW");
            xcb_get_property_reply_t* reply = xcb_get_property_reply(
                connection, xcb_get_property(connection, 0, window, userTimeWindowAtom, XCB_ATOM_WINDOW, 0, 1), nullptr);
            if (reply && reply->format == 32 && xcb_get_property_value_length(reply) == 4)
                userTimeWindow = *static_cast<const xcb_window_t*>(xcb_get_property_value(reply));
            std::free(reply);
            const uint32_t value = *time;
            xcb_change_property(connection, XCB_PROP_MODE_REPLACE, userTimeWindow,
                                internAtom(connection, "_NET_WM_USER_TIME"), XCB_ATOM_CARDINAL, 32, 1, &value);
        }
        xcb_client_message_event_t event {};
        event.response_type = XCB_CLIENT_MESSAGE;
        event.format = 32;
        event.window = window;
        event.type = internAtom(connection, "_NET_ACTIVE_WINDOW");
        event.data.data32[0] = 1;  // from an application
        event.data.data32[1] = time.value_or(XCB_CURRENT_TIME);
        event.data.data32[2] = XCB_WINDOW_NONE;
        xcb_send_event(connection, 0, root, XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY | XCB_EVENT_MASK_SUBSTRUCTURE_REDIRECT,
                       reinterpret_cast<const char*>(&event));
    }
    sendStartupRemove(connection, root, startupId);
    xcb_flush(connection);
}
#endif

} // namespace

void endStartupFeedback(const std::string& startupId)
{
    if (startupId.empty())
        return;
    xcb_connection_t* connection = xcb_connect(nullptr, nullptr);
    const xcb_setup_t* setup = xcb_connection_has_error(connection) ? nullptr : xcb_get_setup(connection);
    const xcb_screen_t* screen = setup ? xcb_setup_roots_iterator(setup).data : nullptr;
    if (!screen) {
        xcb_disconnect(connection);
        return;
    }
    sendStartupRemove(connection, screen->root, startupId);
    // Waits until the server has taken every message.
    std::free(xcb_get_input_focus_reply(connection, xcb_get_input_focus(connection), nullptr));
    xcb_disconnect(connection);
}

std::optional<uint32_t> startupIdTime(const std::string& startupId)
{
    const size_t mark = startupId.rfind("_TIME");
    if (mark == std::string::npos)
        return std::nullopt;
    const std::string digits = startupId.substr(mark + 5);
    if (digits.empty() || digits.size() > 10 || !std::all_of(digits.begin(), digits.end(), [](char c) { return c >= '0' && c <= '9'; }))
        return std::nullopt;
    const unsigned long long value = std::stoull(digits);
    if (value == 0 || value > UINT32_MAX)
        return std::nullopt;
    return uint32_t(value);
}

void activateForStart(QWidget* window, const std::string& startupId, const std::string& activationToken)
{
    QWidget* top = window ? window->window() : nullptr;
    if (top) {
        top->show();
        top->raise();
    }
    if (QGuiApplication::platformName().startsWith(QLatin1String("wayland"))) {
        // A launcher of the desktop's X11 side may have begun feedback for the start as well.
        endStartupFeedback(startupId);
        if (!top)
            return;
        // The toolkit's activation request takes the token from the environment and uses it up;
        // it is not left there for the programs this one starts later.
        if (!activationToken.empty())
            qputenv("XDG_ACTIVATION_TOKEN", QByteArray::fromStdString(activationToken));
        top->activateWindow();
        qunsetenv("XDG_ACTIVATION_TOKEN");
        return;
    }
    if (top)
        top->activateWindow();
#if QT_CONFIG(xcb)
    if (startupId.empty())
        return;
    auto* x11 = qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
    if (x11 && x11->connection())
        activateOnX11(x11->connection(), top, startupId);
#endif
}

namespace {

#if QT_CONFIG(xcb)
xcb_connection_t* displayConnection()
{
    auto* x11 = qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
    return x11 ? x11->connection() : nullptr;
}

xcb_atom_t wmStateAtom(xcb_connection_t* c)
{
    static xcb_atom_t wmState = XCB_ATOM_NONE;
    if (wmState == XCB_ATOM_NONE) {
        static const char name[] = "WM_STATE";
        if (xcb_intern_atom_reply_t* atom =
                xcb_intern_atom_reply(c, xcb_intern_atom(c, 0, sizeof name - 1, name), nullptr)) {
            wmState = atom->atom;
            std::free(atom);
        }
    }
    return wmState;
}

// The X window of `window`'s top level, or none while it has no native window yet (asking the
// toolkit for its id would make one).
xcb_window_t nativeWindowOf(const QWidget* window)
{
    const QWidget* top = window ? window->window() : nullptr;
    const QWindow* handle = top ? top->windowHandle() : nullptr;
    return handle && handle->handle() ? xcb_window_t(handle->winId()) : XCB_WINDOW_NONE;
}
#endif

} // namespace

bool isPutAwayByDesktop(const QWidget* window)
{
#if QT_CONFIG(xcb)
    const QWidget* top = window ? window->window() : nullptr;
    const QWindow* handle = top ? top->windowHandle() : nullptr;
    if (!handle || !handle->isVisible())
        return false;
    xcb_connection_t* c = displayConnection();
    if (!c)
        return false;
    const auto id = xcb_window_t(handle->winId());
    const xcb_atom_t wmState = wmStateAtom(c);
    // Both questions go out together: one round trip a call.
    const xcb_get_window_attributes_cookie_t attributesAsked = xcb_get_window_attributes(c, id);
    const xcb_get_property_cookie_t stateAsked = xcb_get_property(c, 0, id, wmState, wmState, 0, 2);
    bool away = false;
    if (xcb_get_window_attributes_reply_t* attributes = xcb_get_window_attributes_reply(c, attributesAsked, nullptr)) {
        away = attributes->map_state == XCB_MAP_STATE_UNVIEWABLE;
        std::free(attributes);
    }
    if (xcb_get_property_reply_t* state = xcb_get_property_reply(c, stateAsked, nullptr)) {
        constexpr uint32_t kIconicState = 3;
        if (state->format == 32 && state->type == wmState && xcb_get_property_value_length(state) >= 4) {
            uint32_t value = 0;
            std::memcpy(&value, xcb_get_property_value(state), sizeof value);
            away = away || value == kIconicState;
        }
        std::free(state);
    }
    return away;
#else
    (void)window;
    return false;
#endif
}

#if QT_CONFIG(xcb)
class DesktopStateWatch::Filter : public QAbstractNativeEventFilter {
public:
    Filter(const QWidget* window, std::function<void()> changed)
        : m_window(window)
        , m_changed(std::move(changed))
    {
        if (xcb_connection_t* c = displayConnection()) {
            m_wmState = wmStateAtom(c);
            QCoreApplication::instance()->installNativeEventFilter(this);
        }
    }
    ~Filter() override
    {
        if (QCoreApplication* app = QCoreApplication::instance())
            app->removeNativeEventFilter(this);
    }

    void windowShown()
    {
        xcb_connection_t* c = displayConnection();
        const xcb_window_t id = nativeWindowOf(m_window);
        if (!c || id == XCB_WINDOW_NONE || id == m_askedForVisibility)
            return;
        // Added to the events the toolkit takes for the window, not in place of them.
        xcb_get_window_attributes_reply_t* attributes =
            xcb_get_window_attributes_reply(c, xcb_get_window_attributes(c, id), nullptr);
        if (!attributes)
            return;
        const uint32_t mask = attributes->your_event_mask | XCB_EVENT_MASK_VISIBILITY_CHANGE;
        std::free(attributes);
        xcb_change_window_attributes(c, id, XCB_CW_EVENT_MASK, &mask);
        xcb_flush(c);
        m_askedForVisibility = id;
    }

    void windowHidden()
    {
        m_askedForVisibility = XCB_WINDOW_NONE;
        m_covered = false;
    }

    bool isCoveredEntirely() const { return m_covered; }

    bool nativeEventFilter(const QByteArray& type, void* message, qintptr*) override
    {
        if (m_wmState == XCB_ATOM_NONE || type != "xcb_generic_event_t")
            return false;
        const auto* event = static_cast<const xcb_generic_event_t*>(message);
        switch (event->response_type & 0x7f) {
        case XCB_PROPERTY_NOTIFY: {
            const auto* property = reinterpret_cast<const xcb_property_notify_event_t*>(event);
            if (property->atom == m_wmState && property->window == nativeWindowOf(m_window))
                m_changed();
            break;
        }
        case XCB_VISIBILITY_NOTIFY: {
            const auto* visibility = reinterpret_cast<const xcb_visibility_notify_event_t*>(event);
            if (visibility->window != nativeWindowOf(m_window))
                break;
            const bool covered = visibility->state == XCB_VISIBILITY_FULLY_OBSCURED;
            if (covered != m_covered) {
                m_covered = covered;
                m_changed();
            }
            break;
        }
        default:
            break;
        }
        return false;  // the toolkit reads the same events
    }

private:
    const QWidget* m_window;
    std::function<void()> m_changed;
    xcb_atom_t m_wmState = XCB_ATOM_NONE;
    xcb_window_t m_askedForVisibility = XCB_WINDOW_NONE;
    bool m_covered = false;
};
#else
class DesktopStateWatch::Filter {
public:
    Filter(const QWidget*, std::function<void()>) {}
    void windowShown() {}
    void windowHidden() {}
    bool isCoveredEntirely() const { return false; }
};
#endif

DesktopStateWatch::DesktopStateWatch(const QWidget* window, std::function<void()> changed)
    : m_filter(std::make_unique<Filter>(window, std::move(changed)))
{
}

DesktopStateWatch::~DesktopStateWatch() = default;

void DesktopStateWatch::windowShown() { m_filter->windowShown(); }

void DesktopStateWatch::windowHidden() { m_filter->windowHidden(); }

bool DesktopStateWatch::isCoveredEntirely() const { return m_filter->isCoveredEntirely(); }

} // namespace kpv
