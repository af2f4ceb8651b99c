#include "Kit/LMPopupViewController.h"

LMPopupViewController::LMPopupViewController(std::unique_ptr<LMPopupView> view, kpv::View* parentView)
    : m_view(view.release())
{
    m_viewToken = m_view->lifeToken();
    m_view->setViewPopMenuContainer(parentView);
}

LMPopupViewController::~LMPopupViewController()
{
    if (!m_viewToken.expired())
        delete m_view; // leaves the container when shown
}

void LMPopupViewController::showAtLocationInWindow(kpv::Point p, bool delay)
{
    if (auto* v = popupView())
        v->showAtLocationInWindow(p, delay);
}

void LMPopupViewController::hide(bool delay)
{
    if (auto* v = popupView())
        v->hide(delay);
}
