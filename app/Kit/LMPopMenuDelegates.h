#pragma once
// The questions a popup menu asks of its data source and the reports it gives its delegate.
// Menus here are flat: the parent object is always empty.

#include <QString>
#include <QVariant>

class LMPopMenuView;

class LMPopMenuViewDataSource {
public:
    virtual ~LMPopMenuViewDataSource() = default;
    virtual unsigned long numberOfItemsInPopMenuView(LMPopMenuView* menu, const QVariant& parent) = 0;
    virtual QVariant popMenuView_itemAtIndex(LMPopMenuView* menu, const QVariant& parent, unsigned long index) = 0;
    virtual QString popMenuView_itemTitleForRepresentedObject(LMPopMenuView* menu, const QVariant& object) = 0;
    // The base name of the row's icon (check false) or check mark (check true); empty for none.
    virtual QString popMenuView_iconImageNameForRepresentedObject(LMPopMenuView*, const QVariant&, bool /*check*/)
    {
        return {};
    }
};

class LMPopMenuViewDelegate {
public:
    virtual ~LMPopMenuViewDelegate() = default;
    virtual void popMenuViewItemClicked(LMPopMenuView*, const QVariant& /*object*/, const QVariant& /*parent*/) {}
    virtual void popMenuView_viewShowed(LMPopMenuView*, bool /*shown*/) {}
    virtual bool popMenuViewItemChecked(LMPopMenuView*, const QVariant&, const QVariant&) { return false; }
    virtual bool popMenuViewItemEnabled(LMPopMenuView*, const QVariant&, const QVariant&) { return true; }
};
