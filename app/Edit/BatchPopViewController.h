#pragma once

// The small pop-up menu of the three batch tools (rename, resize, convert) with icons. It is the
// data source of its own menu; the caller is the menu's delegate and gets the clicks.

#include "Kit/LMPopMenuDelegates.h"
#include "Kit/LMPopMenuViewController.h"

#include <QList>

#include <memory>

namespace kpv {
class View;
}

enum BatchItemType : int {
    BatchItemNone = 0,
    BatchItemRename = 1,
    BatchItemResize = 2,
    BatchItemConvert = 3,
};

class BatchPopViewController : public LMPopMenuViewController, public LMPopMenuViewDataSource {
public:
    // `renameOffered`: whether batch rename may be shown (the main window's rule for action 18).
    BatchPopViewController(LMPopMenuViewDelegate *delegate, kpv::View *parentView, bool renameOffered = true);
    // A controller over the given content view; nothing here runs sandboxed, so rename is offered.
    static std::unique_ptr<BatchPopViewController> batchPopViewControllerWithDelegate(LMPopMenuViewDelegate *delegate,
                                                                                      kpv::View *contentView);

    const QList<int> &itemTypes() const { return m_itemTypes; }
    // The item type of a represented object; 0 when it is not an item of this menu.
    int batchItemTypeByRepresentedObject(const QVariant &object) const;

    static QString titleKeyForType(int type);
    static QString iconImageNameForType(int type);

    unsigned long numberOfItemsInPopMenuView(LMPopMenuView *menu, const QVariant &parent) override;
    QVariant popMenuView_itemAtIndex(LMPopMenuView *menu, const QVariant &parent, unsigned long index) override;
    QString popMenuView_itemTitleForRepresentedObject(LMPopMenuView *menu, const QVariant &object) override;
    QString popMenuView_iconImageNameForRepresentedObject(LMPopMenuView *menu, const QVariant &object,
                                                          bool checkIcon) override;

private:
    QList<int> m_itemTypes;
};
