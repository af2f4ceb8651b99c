#pragma once
// The controller of one popup-menu row. The menu keeps a prototype whose row factory makes
// every row; each row knows its menu and its object.

#include <QVariant>

#include <functional>
#include <memory>

class LMPopMenuView;
class LMPopMenuItemView;

class LMPopMenuViewItem {
public:
    using RowFactory = std::function<std::unique_ptr<LMPopMenuItemView>()>;

    explicit LMPopMenuViewItem(RowFactory factory = {});
    ~LMPopMenuViewItem();
    LMPopMenuViewItem(const LMPopMenuViewItem&) = delete;
    LMPopMenuViewItem& operator=(const LMPopMenuViewItem&) = delete;

    // Called on the prototype: a new row for the object, its view already made.
    std::unique_ptr<LMPopMenuViewItem> newItemForRepresentedObject(const QVariant& object, const QVariant& parent,
                                                                   LMPopMenuView* menu) const;

    const QVariant& representedObject() const { return m_representedObject; }
    const QVariant& representedParentObject() const { return m_representedParentObject; }
    LMPopMenuView* popMenuView() const { return m_popMenuView; }
    // The row view; it belongs to the menu's container once the rows are laid out.
    LMPopMenuItemView* view() const { return m_view; }
    // Hands over the row view before it is placed in the container.
    std::unique_ptr<LMPopMenuItemView> takeView();

    void itemViewActionHandler();
    bool itemChecked() const;
    bool itemEnabled() const;
    double itemWidthToFit() const;

private:
    RowFactory m_factory;
    QVariant m_representedObject;
    QVariant m_representedParentObject;
    LMPopMenuView* m_popMenuView = nullptr;
    LMPopMenuItemView* m_view = nullptr;
    std::unique_ptr<LMPopMenuItemView> m_ownedView; // until placed
};
