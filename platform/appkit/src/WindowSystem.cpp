#include "appkit/WindowSystem.h"

#include <xcb/xcb.h>

#include <cstdlib>

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

} // namespace kpv
