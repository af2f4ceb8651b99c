#pragma once
// The viewer as the program assembles it: the main window controller, every show mode's
// registration, the image viewer, the menus and the menu bar, for a given application delegate.
// The program makes one in main(); the end-to-end tests make one the same way. Main thread only.

#include "Kit/LMEventMonitor.h"
#include "appkit/Application.h"

#include <memory>

class AppDelegate;
class FileAssociateTipsViewController;
class MainConfig;
class MainWndController;
class NavigateViewMode;
namespace kpv {
class MenuBar;
}

class ViewerProgram {
public:
    // The delegate outlives the program.
    explicit ViewerProgram(AppDelegate& delegate);
    ~ViewerProgram();
    ViewerProgram(const ViewerProgram&) = delete;
    ViewerProgram& operator=(const ViewerProgram&) = delete;

    MainWndController& controller() const { return *m_controller; }
    NavigateViewMode& viewMode() const { return *m_viewMode; }
    kpv::MenuBar& menuBar() const { return *m_menuBar; }
    // The default-viewer tip (nullptr without a window to show it in).
    FileAssociateTipsViewController* fileAssociateTips() const { return m_fileAssociateTips.get(); }

private:
    void saveSettingsSoon();

    std::unique_ptr<MainWndController> m_controller;
    std::unique_ptr<NavigateViewMode> m_viewMode;
    std::unique_ptr<kpv::MenuBar> m_menuBar;
    std::unique_ptr<FileAssociateTipsViewController> m_fileAssociateTips;
    LMEventMonitorPtr m_escapeMonitor;
    LMEventMonitorPtr m_miniWindowMenuKeys;
    MainConfig* m_config = nullptr;
    std::shared_ptr<bool> m_lifetime = std::make_shared<bool>(true);
    bool m_saveWaiting = false;
};
