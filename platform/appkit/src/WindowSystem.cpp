#include "appkit/WindowSystem.h"

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
    const auto atom = [connection](const char* name) {
        xcb_intern_atom_reply_t* reply =
            xcb_intern_atom_reply(connection, xcb_intern_atom(connection, 0, uint16_t(std::strlen(name)), name), nullptr);
        const xcb_atom_t value = reply ? reply->atom : XCB_ATOM_NONE;
        std::free(reply);
        return value;
    };
    const xcb_atom_t begin = atom("_NET_STARTUP_INFO_BEGIN"), more = atom("_NET_STARTUP_INFO");
    // Startup notification protocol: "remove: ID=<id>", the value quoted with its quotes and
    // backslashes escaped, ending in a zero byte, sent to the root window 20 bytes a message from a
    // window of the sender's own.
    std::string text = "remove: ID=\"";
    for (const char c : startupId) {
        if (c == '"' || c == '\\')
            text += '\\';
        text += c;
    }
    text += '"';
    text += '\0';
    const xcb_window_t sender = xcb_generate_id(connection);
    xcb_create_window(connection, XCB_COPY_FROM_PARENT, sender, screen->root, -100, -100, 1, 1, 0,
                      XCB_WINDOW_CLASS_INPUT_ONLY, XCB_COPY_FROM_PARENT, 0, nullptr);
    for (size_t at = 0; at < text.size(); at += 20) {
        xcb_client_message_event_t event {};
        event.response_type = XCB_CLIENT_MESSAGE;
        event.format = 8;
        event.window = sender;
        event.type = at == 0 ? begin : more;
        std::memcpy(event.data.data8, text.data() + at, std::min<size_t>(20, text.size() - at));
        xcb_send_event(connection, 0, screen->root, XCB_EVENT_MASK_PROPERTY_CHANGE, reinterpret_cast<const char*>(&event));
    }
    xcb_destroy_window(connection, sender);
    // Waits until the server has taken every message.
    std::free(xcb_get_input_focus_reply(connection, xcb_get_input_focus(connection), nullptr));
    xcb_disconnect(connection);
}

} // namespace kpv
