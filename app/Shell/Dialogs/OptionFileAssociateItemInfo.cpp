#include "Shell/Dialogs/OptionFileAssociateItemInfo.h"

#include "foundation/Bundle.h"

QString OptionFileAssociateItemInfo::fileUtiTypeByInfoType(long infoType)
{
    static const char* const types[] = {"public.jpeg",        "public.png",       "public.tiff",
                                        "com.compuserve.gif", "com.microsoft.bmp", "com.adobe.photoshop-image",
                                        "public.camera-raw-image"};
    if (infoType < 0 || infoType >= long(std::size(types)))
        return {};
    return QString::fromLatin1(types[infoType]);
}

QString OptionFileAssociateItemInfo::dispName() const
{
    static const char* const keys[] = {"IDS_NAME_JPG", "IDS_NAME_PNG", "IDS_NAME_TIF", "IDS_NAME_GIF",
                                       "IDS_NAME_BMP", "IDS_NAME_PSD", "IDS_NAME_ALLRAW", "IDS_NAME_OtherImageType"};
    if (m_infoType < 0 || m_infoType >= long(std::size(keys)))
        return {};
    return kpv::Bundle::mainBundle().localizedString(QString::fromLatin1(keys[m_infoType]));
}
