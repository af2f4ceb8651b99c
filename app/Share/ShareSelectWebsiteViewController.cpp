#include "Share/ShareSelectWebsiteViewController.h"

#include "Kit/LMPopMenuView.h"
#include "Model/LMPhotoLibrary.h"
#include "Model/MainConfig.h"
#include "Model/ShareWebsiteType.h"
#include "foundation/Bundle.h"

#include <QFileInfo>

ShareSelectWebsiteViewController::ShareSelectWebsiteViewController(LMPopMenuViewDelegate* delegate,
                                                                   kpv::View* parentView)
    : LMPopMenuViewController(delegate, parentView), m_shareTypes(supportedShareTypes())
{
    if (popMenuView())
        popMenuView()->setDataSource(this);
}

std::unique_ptr<ShareSelectWebsiteViewController>
ShareSelectWebsiteViewController::shareSelectWebsiteViewControllerWithDelegate(LMPopMenuViewDelegate* delegate,
                                                                              kpv::View* parentView)
{
    return std::make_unique<ShareSelectWebsiteViewController>(delegate, parentView);
}

QList<long> ShareSelectWebsiteViewController::supportedShareTypes()
{
    QList<long> types;
    for (const ShareWebsiteTypeInfo& e : kShareWebsiteTypeInfos) {
        if (!MainConfig::isShareTypeSupported(e.type))
            continue;
        // The photo library is listed only where there is an application to hand pictures to.
        if (e.type == ShareWebsiteTypePhotoLibrary && !QFileInfo::exists(LMPhotoLibrary::applicationPath()))
            continue;
        types.append(e.type);
    }
    return types;
}

long ShareSelectWebsiteViewController::shareTypeByRepresentedObject(const QVariant& object) const
{
    // Only whole numbers stand for rows: a text such as "33" is not one of ours.
    const int id = object.metaType().id();
    if (id != QMetaType::Int && id != QMetaType::Long && id != QMetaType::LongLong && id != QMetaType::UInt
        && id != QMetaType::ULong && id != QMetaType::ULongLong)
        return 0;
    const long type = object.toLongLong();
    return m_shareTypes.contains(type) ? type : 0;
}

QString ShareSelectWebsiteViewController::toolbarButtonImageNameByShareType(long shareType)
{
    const ShareWebsiteTypeInfo* e = shareWebsiteTypeInfo(shareType);
    return e ? QString::fromLatin1(e->imageName) : QString();
}

QString ShareSelectWebsiteViewController::toolbarButtonToolTipsByShareType(long shareType)
{
    const ShareWebsiteTypeInfo* e = shareWebsiteTypeInfo(shareType);
    return e ? kpv::Bundle::mainBundle().localizedString(QLatin1String(e->toolTipKey), QString()) : QString();
}

unsigned long ShareSelectWebsiteViewController::numberOfItemsInPopMenuView(LMPopMenuView*, const QVariant&)
{
    return static_cast<unsigned long>(m_shareTypes.size());
}

QVariant ShareSelectWebsiteViewController::popMenuView_itemAtIndex(LMPopMenuView*, const QVariant&, unsigned long index)
{
    if (index >= static_cast<unsigned long>(m_shareTypes.size()))
        return {};
    return QVariant::fromValue<qlonglong>(m_shareTypes.at(static_cast<qsizetype>(index)));
}

QString ShareSelectWebsiteViewController::popMenuView_itemTitleForRepresentedObject(LMPopMenuView*,
                                                                                     const QVariant& object)
{
    return toolbarButtonToolTipsByShareType(shareTypeByRepresentedObject(object));
}

QString ShareSelectWebsiteViewController::popMenuView_iconImageNameForRepresentedObject(LMPopMenuView*,
                                                                                         const QVariant& object,
                                                                                         bool check)
{
    // Share targets are commands, not choices: no row carries a check mark.
    if (check)
        return QString();
    return toolbarButtonImageNameByShareType(shareTypeByRepresentedObject(object)).toLower();
}
