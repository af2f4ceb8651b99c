#include "Browse/FavImageBrowserItem.h"

FavImageBrowserItem::FavImageBrowserItem(const LMPathString& filePath, const FavImageBrowserItem* src)
    : FavoriteFileInfo(filePath, src), m_imageUID(makeImageUID(filePath)), m_fileIdentity(kpv::fileIdentity(filePath.path()))
{
}

std::shared_ptr<FavImageBrowserItem> FavImageBrowserItem::create(const LMPathString& filePath,
                                                                 const FavImageBrowserItem* src)
{
    if (filePath.isEmpty())
        return nullptr;
    return std::make_shared<FavImageBrowserItem>(filePath, src);
}

void FavImageBrowserItem::updateForFileModified()
{
    FavoriteFileInfo::updateForFileModified();
    m_imageUID = makeImageUID(filePath());
    if (const kpv::FileIdentity id = kpv::fileIdentity(filePath().path()); id.isValid())
        m_fileIdentity = id;
}

bool FavImageBrowserItem::refreshIfFileChanged()
{
    const kpv::FileIdentity now = kpv::fileIdentity(filePath().path());
    const bool replaced = now.isValid() && m_fileIdentity.isValid() && m_fileIdentity.changedSince(now);
    if (makeImageUID(filePath()) == m_imageUID && !replaced)
        return false;
    updateForFileModified();
    return true;
}

QString FavImageBrowserItem::makeImageUID(const LMPathString& path)
{
    const QDateTime date = path.dateModified();
    return path.path() + (date.isValid() ? date.toString(Qt::ISODateWithMs) : QString());
}

QString FavImageBrowserItem::imageVersion() const
{
    const kpv::FileIdentity& id = m_fileIdentity;
    return id.isValid() ? kpv::fileVersionText(id.device, id.inode, id.size, id.changedSecs, id.changedNsec)
                        : QString();
}
