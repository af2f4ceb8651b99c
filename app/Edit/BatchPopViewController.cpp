#include "Edit/BatchPopViewController.h"

#include "foundation/Bundle.h"

BatchPopViewController::BatchPopViewController(LMPopMenuViewDelegate *delegate, kpv::View *parentView,
                                               bool renameOffered)
    : LMPopMenuViewController(delegate, parentView)
{
    if (renameOffered)
        m_itemTypes.append(BatchItemRename);
    m_itemTypes.append(BatchItemResize);
    m_itemTypes.append(BatchItemConvert);
    if (popMenuView())
        popMenuView()->setDataSource(this);
}

std::unique_ptr<BatchPopViewController>
BatchPopViewController::batchPopViewControllerWithDelegate(LMPopMenuViewDelegate *delegate, kpv::View *contentView)
{
    return std::make_unique<BatchPopViewController>(delegate, contentView, true);
}

int BatchPopViewController::batchItemTypeByRepresentedObject(const QVariant &object) const
{
    bool ok = false;
    const int type = object.toInt(&ok);
    return ok && m_itemTypes.contains(type) ? type : BatchItemNone;
}

QString BatchPopViewController::titleKeyForType(int type)
{
    switch (type) {
    case BatchItemRename:
        return QStringLiteral("IDS_BatchRename");
    case BatchItemResize:
        return QStringLiteral("IDS_BatchResize");
    case BatchItemConvert:
        return QStringLiteral("IDS_BatchConvert");
    default:
        return QString();
    }
}

QString BatchPopViewController::iconImageNameForType(int type)
{
    switch (type) {
    case BatchItemRename:
        return QStringLiteral("icon_itmrename");
    case BatchItemResize:
        return QStringLiteral("icon_itmresize");
    case BatchItemConvert:
        return QStringLiteral("icon_itmconvert");
    default:
        return QString();
    }
}

unsigned long BatchPopViewController::numberOfItemsInPopMenuView(LMPopMenuView *, const QVariant &)
{
    return static_cast<unsigned long>(m_itemTypes.size());
}

QVariant BatchPopViewController::popMenuView_itemAtIndex(LMPopMenuView *, const QVariant &, unsigned long index)
{
    if (index >= static_cast<unsigned long>(m_itemTypes.size()))
        return QVariant();
    return QVariant(m_itemTypes[qsizetype(index)]);
}

QString BatchPopViewController::popMenuView_itemTitleForRepresentedObject(LMPopMenuView *, const QVariant &object)
{
    const QString key = titleKeyForType(batchItemTypeByRepresentedObject(object));
    return key.isEmpty() ? QString() : kpv::Bundle::mainBundle().localizedString(key);
}

QString BatchPopViewController::popMenuView_iconImageNameForRepresentedObject(LMPopMenuView *, const QVariant &object,
                                                                              bool checkIcon)
{
    if (checkIcon)
        return QString();
    return iconImageNameForType(batchItemTypeByRepresentedObject(object));
}
