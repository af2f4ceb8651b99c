#include "Share/SharePopMenu.h"

#include "Share/ShareSelectWebsiteViewController.h"

SharePopMenu::SharePopMenu(kpv::View* parent, Actions actions)
    : m_actions(std::move(actions)),
      m_controller(ShareSelectWebsiteViewController::shareSelectWebsiteViewControllerWithDelegate(this, parent))
{
}

SharePopMenu::~SharePopMenu() = default;

void SharePopMenu::popMenuViewItemClicked(LMPopMenuView*, const QVariant& object, const QVariant&)
{
    const long type = m_controller->shareTypeByRepresentedObject(object);
    m_controller->hide(false);
    if (type != 0 && m_actions.share)
        m_actions.share(type);
}

void SharePopMenu::popMenuView_viewShowed(LMPopMenuView*, bool shown)
{
    if (m_actions.showed)
        m_actions.showed(shown);
}

bool SharePopMenu::popMenuViewItemEnabled(LMPopMenuView*, const QVariant& object, const QVariant&)
{
    const long type = m_controller->shareTypeByRepresentedObject(object);
    return type != 0 && m_actions.enabled && m_actions.enabled(type);
}
