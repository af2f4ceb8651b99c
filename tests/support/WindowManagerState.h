#pragma once
// Stands in for a window manager's word about a top-level window: its WM_STATE on the display
// ("normal" 1, "iconic" 3), as a window manager writes it when it minimises or restores the
// window. The display has it when this returns; the toolkit hears of it later, from its own
// event thread. False without an X display.

#include <QGuiApplication>
#include <QWidget>
#include <QWindow>

#include <xcb/xcb.h>

#include <cstdint>
#include <cstdlib>

namespace kpv::test {

inline bool setWindowManagerState(const QWidget* window, uint32_t state)
{
    auto* x11 = qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
    xcb_connection_t* c = x11 ? x11->connection() : nullptr;
    const QWindow* handle = window ? window->window()->windowHandle() : nullptr;
    if (!c || !handle)
        return false;
    static const char name[] = "WM_STATE";
    xcb_intern_atom_reply_t* atom = xcb_intern_atom_reply(c, xcb_intern_atom(c, 0, sizeof name - 1, name), nullptr);
    if (!atom)
        return false;
    const xcb_atom_t wmState = atom->atom;
    std::free(atom);
    const uint32_t value[2] = {state, XCB_NONE};
    xcb_change_property(c, XCB_PROP_MODE_REPLACE, xcb_window_t(handle->winId()), wmState, wmState, 32, 2, value);
    std::free(xcb_get_input_focus_reply(c, xcb_get_input_focus(c), nullptr));  // the server has it
    return true;
}

} // namespace kpv::test
