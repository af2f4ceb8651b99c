#pragma once
// Stand-ins for what the desktop does to a top-level window, on the X display the tests run on.

#include <QGuiApplication>
#include <QRect>
#include <QWidget>
#include <QWindow>

#include <xcb/xcb.h>

#include <cstdint>
#include <cstdlib>

namespace kpv::test {

// A window manager's word about `window`: its WM_STATE ("normal" 1, "iconic" 3), as a window
// manager writes it when it minimises or restores the window. The display has it when this
// returns; the toolkit hears of it later, from its own event thread. False without an X display.
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

// Another program's window over `area` of the screen, as long as the object lives. The tests
// share one display: a test covers a spot where no other test puts its windows. Not open without
// an X display.
class CoveringWindow {
public:
    explicit CoveringWindow(const QRect& area)
        : m_connection(xcb_connect(nullptr, nullptr))
    {
        if (xcb_connection_has_error(m_connection))
            return;
        const xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(m_connection)).data;
        m_window = xcb_generate_id(m_connection);
        const uint32_t values[] = {screen->black_pixel, 1};  // drawn black, left alone by any window manager
        xcb_create_window(m_connection, XCB_COPY_FROM_PARENT, m_window, screen->root, int16_t(area.x()),
                          int16_t(area.y()), uint16_t(area.width()), uint16_t(area.height()), 0,
                          XCB_WINDOW_CLASS_INPUT_OUTPUT, screen->root_visual, XCB_CW_BACK_PIXEL | XCB_CW_OVERRIDE_REDIRECT,
                          values);
        xcb_map_window(m_connection, m_window);
        std::free(xcb_get_input_focus_reply(m_connection, xcb_get_input_focus(m_connection), nullptr));
    }
    ~CoveringWindow() { xcb_disconnect(m_connection); }  // the window goes with its connection
    CoveringWindow(const CoveringWindow&) = delete;
    CoveringWindow& operator=(const CoveringWindow&) = delete;

    bool isOpen() const { return m_window != XCB_WINDOW_NONE; }

private:
    xcb_connection_t* m_connection;
    xcb_window_t m_window = XCB_WINDOW_NONE;
};

} // namespace kpv::test
