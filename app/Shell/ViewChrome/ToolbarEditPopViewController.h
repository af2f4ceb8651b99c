#pragma once
// The pop-up menu of the view-mode toolbar's edit button: rotate left, rotate right, flip
// horizontally and flip vertically. The menu asks this controller for its rows; the toolbar is
// its delegate and carries out the chosen entry. Main thread only.

#include "Kit/LMPopMenuDelegates.h"
#include "Kit/LMPopMenuViewController.h"

#include <QList>
#include <memory>

namespace kpv {
class View;
}

// Edit entries; 0 is "not an entry of this menu".
enum ToolbarEditItemType : long {
    ToolbarEditItemNone = 0,
    ToolbarEditItemRotateLeft = 1,
    ToolbarEditItemRotateRight = 2,
    ToolbarEditItemFlipHorizontal = 3,
    ToolbarEditItemFlipVertical = 4,
};

class ToolbarEditPopViewController : public LMPopMenuViewController, public LMPopMenuViewDataSource {
public:
    ToolbarEditPopViewController(LMPopMenuViewDelegate* delegate, kpv::View* parentView);

    // A controller over the main window's content view.
    static std::unique_ptr<ToolbarEditPopViewController>
    toolbarEditPopViewControllerWithDelegate(LMPopMenuViewDelegate* delegate);

    // The entry a menu row stands for, or 0 when the object is not one of this menu's entries.
    long editItemTypeByRepresentedObject(const QVariant& object) const;

    const QList<long>& itemTypes() const { return m_itemTypes; }

    // ---- Data source ----
    unsigned long numberOfItemsInPopMenuView(LMPopMenuView* menu, const QVariant& parent) override;
    QVariant popMenuView_itemAtIndex(LMPopMenuView* menu, const QVariant& parent, unsigned long index) override;
    QString popMenuView_itemTitleForRepresentedObject(LMPopMenuView* menu, const QVariant& object) override;
    QString popMenuView_iconImageNameForRepresentedObject(LMPopMenuView* menu, const QVariant& object,
                                                          bool check) override;

private:
    QList<long> m_itemTypes;
};
