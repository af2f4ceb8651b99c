#pragma once
// The share pop-up of the view-mode toolbar and of the favourites: one row per share target with
// its icon. Rows for targets this system cannot serve are left out (the photo library). The menu
// asks this controller for its rows; its delegate carries out the chosen target. Main thread only.

#include "Kit/LMPopMenuDelegates.h"
#include "Kit/LMPopMenuViewController.h"

#include <QList>
#include <QString>

#include <memory>

namespace kpv {
class View;
}

class ShareSelectWebsiteViewController : public LMPopMenuViewController, public LMPopMenuViewDataSource {
public:
    ShareSelectWebsiteViewController(LMPopMenuViewDelegate* delegate, kpv::View* parentView);
    // `parentView` is the main window's content view.
    static std::unique_ptr<ShareSelectWebsiteViewController>
    shareSelectWebsiteViewControllerWithDelegate(LMPopMenuViewDelegate* delegate, kpv::View* parentView);

    // The share type a row stands for; 0 when the object is not one of this menu's rows.
    long shareTypeByRepresentedObject(const QVariant& object) const;
    const QList<long>& shareTypes() const { return m_shareTypes; }
    // The toolbar button's skin image name and tool tip for a share type (empty for others).
    static QString toolbarButtonImageNameByShareType(long shareType);
    static QString toolbarButtonToolTipsByShareType(long shareType);
    // The share types the menu lists here, in order.
    static QList<long> supportedShareTypes();

    // ---- Data source ----
    unsigned long numberOfItemsInPopMenuView(LMPopMenuView* menu, const QVariant& parent) override;
    QVariant popMenuView_itemAtIndex(LMPopMenuView* menu, const QVariant& parent, unsigned long index) override;
    QString popMenuView_itemTitleForRepresentedObject(LMPopMenuView* menu, const QVariant& object) override;
    QString popMenuView_iconImageNameForRepresentedObject(LMPopMenuView* menu, const QVariant& object,
                                                          bool check) override;

private:
    QList<long> m_shareTypes;
};
