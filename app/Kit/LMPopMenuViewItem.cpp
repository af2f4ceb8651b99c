#include "Kit/LMPopMenuViewItem.h"

#include "Kit/LMPopMenuItemView.h"
#include "Kit/LMPopMenuView.h"

LMPopMenuViewItem::LMPopMenuViewItem(RowFactory factory) : m_factory(std::move(factory))
{
    if (!m_factory)
        m_factory = [] { return std::make_unique<LMPopMenuItemView>(); };
}

LMPopMenuViewItem::~LMPopMenuViewItem() = default;

std::unique_ptr<LMPopMenuViewItem> LMPopMenuViewItem::newItemForRepresentedObject(const QVariant& object,
                                                                                 const QVariant& parent,
                                                                                 LMPopMenuView* menu) const
{
    auto item = std::make_unique<LMPopMenuViewItem>(m_factory);
    item->m_popMenuView = menu;
    item->m_representedObject = object;
    item->m_representedParentObject = parent;
    item->m_ownedView = m_factory();
    item->m_view = item->m_ownedView.get();
    item->m_view->setPopMenuViewItem(item.get());
    item->m_view->awakeFromNib();
    LMPopMenuViewItem* raw = item.get();
    item->m_view->setAction([raw](kpv::View*) { raw->itemViewActionHandler(); });
    return item;
}

std::unique_ptr<LMPopMenuItemView> LMPopMenuViewItem::takeView() { return std::move(m_ownedView); }

void LMPopMenuViewItem::itemViewActionHandler()
{
    if (!m_popMenuView || !m_popMenuView->delegate())
        return;
    LMPopMenuView* menu = m_popMenuView;
    menu->beginItemClick();
    menu->delegate()->popMenuViewItemClicked(menu, m_representedObject, m_representedParentObject);
    menu->endItemClick();
}

bool LMPopMenuViewItem::itemChecked() const
{
    if (!m_popMenuView || !m_popMenuView->delegate())
        return false;
    return m_popMenuView->delegate()->popMenuViewItemChecked(m_popMenuView, m_representedObject,
                                                             m_representedParentObject);
}

bool LMPopMenuViewItem::itemEnabled() const
{
    if (!m_popMenuView || !m_popMenuView->delegate())
        return true;
    return m_popMenuView->delegate()->popMenuViewItemEnabled(m_popMenuView, m_representedObject,
                                                             m_representedParentObject);
}

double LMPopMenuViewItem::itemWidthToFit() const { return m_view ? m_view->itemWidthToFit() : 0; }
