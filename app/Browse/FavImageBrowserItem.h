#pragma once
// The element of the favourites collection and an item of the image browser. Its identifier is
// the path followed by the file's modification date, so a file that changes on disk gets a new
// identifier and the browser draws its picture again.

#include "Browse/FavoriteFileInfo.h"
#include "Browse/LMImageBrowserItem.h"
#include "imageio/FileAccess.h"

#include <memory>

class FavImageBrowserItem : public FavoriteFileInfo, public LMImageBrowserItem {
public:
    explicit FavImageBrowserItem(const LMPathString& filePath, const FavImageBrowserItem* srcFavImageBrowserItem = nullptr);

    // Nothing for an empty path.
    static std::shared_ptr<FavImageBrowserItem> create(const LMPathString& filePath,
                                                       const FavImageBrowserItem* src = nullptr);

    QString imageUID() const override { return m_imageUID; }
    QString imageRepresentation() const override { return filePath().path(); }
    // The file last seen at the path, with when it last changed: another one put there under the
    // old date is read, not shown as the picture of the one before.
    QString imageVersion() const override;
    void updateForFileModified() override;
    // Resets the item as for a modified file when its file changed or vanished since the
    // identifier was made, also under its old date (another program may have done it unseen);
    // true when it did.
    bool refreshIfFileChanged();

    // "%@%@": the path text and the modification date's text of the file as `id` found it (no
    // date when the file is gone).
    static QString makeImageUID(const LMPathString& path, const kpv::FileIdentity& id);
    // The file last seen at the path (device, inode, size and time), kept after it vanished so
    // that the same file can be found again under another name.
    const kpv::FileIdentity& fileIdentity() const { return m_fileIdentity; }

private:
    // Resets the item for the file as `now` finds it.
    void updateForFile(const kpv::FileIdentity& now);

    kpv::FileIdentity m_fileIdentity;
    QString m_imageUID;
};

using FavImageBrowserItemPtr = std::shared_ptr<FavImageBrowserItem>;
