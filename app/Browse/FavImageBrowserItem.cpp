#include "Browse/FavImageBrowserItem.h"

#include "foundation/FileNames.h"

FavImageBrowserItem::FavImageBrowserItem(const LMPathString& filePath, const FavImageBrowserItem* src)
    : FavoriteFileInfo(filePath, src), m_fileIdentity(kpv::fileIdentity(filePath.path())),
      m_imageUID(makeImageUID(filePath, m_fileIdentity))
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
    updateForFile(kpv::fileIdentity(filePath().path()));
}

void FavImageBrowserItem::updateForFile(const kpv::FileIdentity& now)
{
    FavoriteFileInfo::updateForFileModified();
    m_imageUID = makeImageUID(filePath(), now);
    if (now.isValid())
        m_fileIdentity = now;
}

bool FavImageBrowserItem::refreshIfFileChanged()
{
    // One look at the file answers both questions: its date for the identifier, and whether it
    // is still the version that was read.
    const kpv::FileIdentity now = kpv::fileIdentity(filePath().path());
    const bool replaced = now.isValid() && m_fileIdentity.isValid() && m_fileIdentity.changedSince(now);
    if (makeImageUID(filePath(), now) == m_imageUID && !replaced)
        return false;
    updateForFile(now);
    return true;
}

QString FavImageBrowserItem::makeImageUID(const LMPathString& path, const kpv::FileIdentity& id)
{
    if (!id.isValid() || path.isMemoryFilePathString())
        return path.path();
    const QDateTime date = QDateTime::fromMSecsSinceEpoch(kpv::fileTimeMsecs(id.modifiedSecs, long(id.modifiedNsec)));
    return path.path() + date.toString(Qt::ISODateWithMs);
}

QString FavImageBrowserItem::imageVersion() const
{
    const kpv::FileIdentity& id = m_fileIdentity;
    return id.isValid() ? kpv::fileVersionText(id.device, id.inode, id.size, id.changedSecs, id.changedNsec)
                        : QString();
}
