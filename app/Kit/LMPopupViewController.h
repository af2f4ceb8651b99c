#pragma once
// The base of the controllers whose view is a popup panel. The controller owns its view while
// the view is hidden; a shown view sits in its container, and one destroyed with that container
// is not destroyed again.

#include "Kit/LMPopupView.h"

#include <memory>

class LMPopupViewController {
public:
    // Takes the view (made by the subclass's loadView) and sets the container it shows in.
    LMPopupViewController(std::unique_ptr<LMPopupView> view, kpv::View* parentView);
    virtual ~LMPopupViewController();
    LMPopupViewController(const LMPopupViewController&) = delete;
    LMPopupViewController& operator=(const LMPopupViewController&) = delete;

    // nullptr after the view went away with its container.
    LMPopupView* popupView() const { return m_viewToken.expired() ? nullptr : m_view; }
    void showAtLocationInWindow(kpv::Point p, bool delay);
    void hide(bool delay);

private:
    LMPopupView* m_view;
    std::weak_ptr<bool> m_viewToken;
};
