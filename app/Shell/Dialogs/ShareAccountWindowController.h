#pragma once
// The accounts sheet: the share sites the user is signed in to, each with a sign-out button.
// The list is read when the sheet opens and after each sign-out. Main thread only.

#include "Kit/LMCustomWindowDelegate.h"
#include "Kit/LMEventMonitor.h"
#include "Shell/Dialogs/ShareAccountItemViewController.h"

#include <memory>
#include <vector>

class LMCustomWindow;
class LMEventMonitorCenter;
class MainConfig;

namespace kpv {
class TextField;
class View;
class Window;
}

class ShareAccountWindowController : public ShareAccountItemViewControllerDelegate {
public:
    // The sites in the order the list shows them.
    static constexpr long kListedWebsiteTypes[] = {2, 3, 1, 4};

    // `config` and `monitors` must outlive the controller.
    explicit ShareAccountWindowController(MainConfig& config, LMEventMonitorCenter& monitors);
    ~ShareAccountWindowController() override;
    ShareAccountWindowController(const ShareAccountWindowController&) = delete;
    ShareAccountWindowController& operator=(const ShareAccountWindowController&) = delete;

    LMCustomWindow* accountWindow() const { return m_window.get(); }
    kpv::TextField* txtShareAccountTitle() const { return m_txtShareAccountTitle; }
    // The view that holds one row per listed site, top down.
    kpv::View* collectionView() const { return m_collectionView; }
    const std::vector<ShareAccountItem>& accountItems() const { return m_accountItems; }
    const std::vector<std::unique_ptr<ShareAccountItemViewController>>& items() const { return m_items; }
    bool eventMonitorActive() const { return m_eventMonitor != nullptr; }

    void beginSheetOnParentWindow(kpv::Window* parent);
    void loadAccountInfos();
    void shareAccountItemViewController(ShareAccountItemViewController* item, long signOutWebsite) override;

    // The sheet's event monitor: consumes Esc while the sheet is the key window and ends it.
    bool handleMonitoredEvent(const kpv::Event& e);

private:
    void loadWindow();
    void awakeFromNib();
    void endSheetCleanup();

    MainConfig& m_config;
    LMEventMonitorCenter& m_monitors;
    std::unique_ptr<LMCustomWindow> m_window;
    kpv::TextField* m_txtShareAccountTitle = nullptr;
    kpv::View* m_collectionView = nullptr;
    std::vector<ShareAccountItem> m_accountItems;
    std::vector<std::unique_ptr<ShareAccountItemViewController>> m_items;
    // Rows replaced while one of them was handling its own click; freed on the next rebuild.
    std::vector<std::unique_ptr<ShareAccountItemViewController>> m_retiredItems;
    LMEventMonitorPtr m_eventMonitor;
    std::shared_ptr<bool> m_alive = std::make_shared<bool>(true);
};
