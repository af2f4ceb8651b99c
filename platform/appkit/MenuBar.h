#pragma once
// A window's menu bar: the given menus as a row of titles at the top-left of the window, each
// validated when it opens, and their key equivalents. Key equivalents are matched on the
// platform's key-down events (characters ignoring modifiers and the modifier flags) before the
// window sees them; an item whose validation fails lets the key go on, as a disabled item would.
// The menu bar belongs to one window and takes nothing else; main thread only.

#include "appkit/Application.h"
#include "appkit/Menu.h"

#include <QMenuBar>
#include <QPointer>

#include <memory>
#include <vector>

namespace kpv {

class Event;
class Window;

class MenuBar {
public:
    explicit MenuBar(Window* window);
    ~MenuBar();
    MenuBar(const MenuBar&) = delete;
    MenuBar& operator=(const MenuBar&) = delete;

    // Replaces the menus shown.
    void setMenus(std::vector<std::shared_ptr<Menu>> menus);
    const std::vector<std::shared_ptr<Menu>>& menus() const { return m_menus; }
    QMenuBar* qMenuBar() const { return m_bar.data(); }

    // The item (in any menu or sub-menu) whose key equivalent the key-down event is, or nullptr;
    // `owner` receives the menu that holds it.
    MenuItemPtr itemForKeyEquivalent(const Event& e, std::shared_ptr<Menu>* owner = nullptr) const;
    // Validates that item through its menu and runs it when enabled; true when it ran.
    bool performKeyEquivalent(const Event& e);
    // F10, or Alt and the first letter of a title, opens that menu; true when one opened.
    bool openMenuForKey(const Event& e);

private:
    void rebuild();

    Window* m_window;
    QPointer<QMenuBar> m_bar;
    std::vector<std::shared_ptr<Menu>> m_menus;
    Application::MonitorToken m_monitor = 0;
};

} // namespace kpv
