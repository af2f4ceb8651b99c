#include "Shell/ViewChrome/ToolbarEditPopViewController.h"

#include "Shell/MainWindow/AppDelegate.h"
#include "Shell/MainWindow/LMMainWndContentView.h"
#include "Shell/MainWindow/MainWndController.h"

#include "Kit/LMPopMenuView.h"
#include "foundation/Bundle.h"

namespace {

struct EditEntry {
    long type;
    const char* titleKey;
    const char* iconName;
};

constexpr EditEntry kEntries[] = {
    {ToolbarEditItemRotateLeft, "IDS_ROTATELEFT", "icon_rotatel"},
    {ToolbarEditItemRotateRight, "IDS_ROTATERIGHT", "icon_rotater"},
    {ToolbarEditItemFlipHorizontal, "IDS_FlipHorizontal", "icon_mirrorh"},
    {ToolbarEditItemFlipVertical, "IDS_FlipVertical", "icon_mirrorv"},
};

const EditEntry* entryFor(long type)
{
    for (const EditEntry& e : kEntries)
        if (e.type == type)
            return &e;
    return nullptr;
}

} // namespace

ToolbarEditPopViewController::ToolbarEditPopViewController(LMPopMenuViewDelegate* delegate, kpv::View* parentView)
    : LMPopMenuViewController(delegate, parentView)
{
    for (const EditEntry& e : kEntries)
        m_itemTypes.append(e.type);
    if (popMenuView())
        popMenuView()->setDataSource(this);
}

std::unique_ptr<ToolbarEditPopViewController>
ToolbarEditPopViewController::toolbarEditPopViewControllerWithDelegate(LMPopMenuViewDelegate* delegate)
{
    kpv::View* parent = nullptr;
    if (AppDelegate* app = AppDelegate::shared())
        if (MainWndController* main = app->mainWndController())
            parent = main->contentView();
    return std::make_unique<ToolbarEditPopViewController>(delegate, parent);
}

long ToolbarEditPopViewController::editItemTypeByRepresentedObject(const QVariant& object) const
{
    // Only whole numbers stand for entries: a text such as "1" is not one of ours.
    const int id = object.metaType().id();
    if (id != QMetaType::Int && id != QMetaType::Long && id != QMetaType::LongLong && id != QMetaType::UInt
        && id != QMetaType::ULong && id != QMetaType::ULongLong)
        return ToolbarEditItemNone;
    const long type = object.toLongLong();
    return m_itemTypes.contains(type) ? type : ToolbarEditItemNone;
}

unsigned long ToolbarEditPopViewController::numberOfItemsInPopMenuView(LMPopMenuView*, const QVariant&)
{
    return static_cast<unsigned long>(m_itemTypes.size());
}

QVariant ToolbarEditPopViewController::popMenuView_itemAtIndex(LMPopMenuView*, const QVariant&, unsigned long index)
{
    if (index >= static_cast<unsigned long>(m_itemTypes.size()))
        return {};
    return QVariant::fromValue<qlonglong>(m_itemTypes.at(static_cast<qsizetype>(index)));
}

QString ToolbarEditPopViewController::popMenuView_itemTitleForRepresentedObject(LMPopMenuView*,
                                                                                 const QVariant& object)
{
    const EditEntry* e = entryFor(editItemTypeByRepresentedObject(object));
    if (!e)
        return QString();
    return kpv::Bundle::mainBundle().localizedString(QLatin1String(e->titleKey), QString());
}

QString ToolbarEditPopViewController::popMenuView_iconImageNameForRepresentedObject(LMPopMenuView*,
                                                                                     const QVariant& object,
                                                                                     bool check)
{
    // The entries are commands, not choices: no row ever carries a check mark.
    if (check)
        return QString();
    const EditEntry* e = entryFor(editItemTypeByRepresentedObject(object));
    return e ? QString::fromLatin1(e->iconName) : QString();
}
