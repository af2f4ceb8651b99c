#pragma once
// The share button's pop-up: one row per share target. The viewer's toolbar and the favourites
// window each own one; the owner says what a click does, which rows are enabled and who hears
// that the menu showed or hid.

#include "Kit/LMPopMenuDelegates.h"

#include <functional>
#include <memory>

class ShareSelectWebsiteViewController;
namespace kpv {
class View;
}

class SharePopMenu final : public LMPopMenuViewDelegate {
public:
    struct Actions {
        std::function<void(long shareType)> share;   // a row was clicked (the menu is already hidden)
        std::function<bool(long shareType)> enabled; // asked for each row as it is drawn
        std::function<void(bool shown)> showed;
    };

    SharePopMenu(kpv::View* parent, Actions actions);
    ~SharePopMenu() override;
    SharePopMenu(const SharePopMenu&) = delete;
    SharePopMenu& operator=(const SharePopMenu&) = delete;

    ShareSelectWebsiteViewController* controller() const { return m_controller.get(); }

    void popMenuViewItemClicked(LMPopMenuView*, const QVariant& object, const QVariant&) override;
    void popMenuView_viewShowed(LMPopMenuView*, bool shown) override;
    bool popMenuViewItemEnabled(LMPopMenuView*, const QVariant& object, const QVariant&) override;

private:
    Actions m_actions;
    std::unique_ptr<ShareSelectWebsiteViewController> m_controller;
};
