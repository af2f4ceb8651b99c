#pragma once
// Feeds the photo bin strip from the navigator: the file list, the current file, and the small
// thumbnails the navigator loads around the current file. It asks for no loads of its own; the
// only thing it keeps is a cache from path to the picture shown for that file.

#include "Browse/PhotoBinNavigator.h"
#include "Browse/PhotoBinView.h"

#include "Model/LMImage.h"

#include <QHash>
#include <QVariantMap>
#include <memory>

class PhotoBinScrollView;

class PhotoBinViewController : public PhotoBinViewDataSource, public PhotoBinViewDelegate {
public:
    static constexpr int kSmallThumbType = 8;

    explicit PhotoBinViewController(PhotoBinNavigator& navigator);
    ~PhotoBinViewController() override;
    PhotoBinViewController(const PhotoBinViewController&) = delete;
    PhotoBinViewController& operator=(const PhotoBinViewController&) = delete;

    PhotoBinScrollView* view() const { return m_view; }
    PhotoBinView* photoBinView() const { return m_photoBinView; }

    void show(bool flag);
    void resetAllFiles();
    double photoBinItemWidth() const { return m_photoBinView->photoBinItemWidth(); }
    std::uint64_t wholeVisibleItemCountOfCurPage() const { return m_photoBinView->wholeVisibleItemCountOfCurPage(); }

    // The rule for a new small thumbnail (null image: the load failed).
    void updateItemImage(const LMImagePtr& image, const LMPathString& path, bool formalImage);
    // What the cache holds for a path (nullptr: nothing known yet).
    PhotoBinItemDataPtr cachedItem(const LMPathString& path) const { return m_photoBinItemDatas.value(path); }
    std::size_t cacheSize() const { return m_photoBinItemDatas.size(); }

    // ---- Notification handlers ----
    void didLoadImage(const QVariantMap& userInfo);
    void didUpdateSmallThumb(const QVariantMap& userInfo);
    void didFileModified(const QVariantMap& userInfo);
    void didFilesBatchRenamed(const QVariantMap& userInfo);
    void didChangeFileList();
    void didFavoritesChange(const QVariantMap& userInfo);

    // ---- Data source and delegate of the strip ----
    std::uint64_t numberOfItems(PhotoBinView*) override;
    std::uint64_t curItemIndex(PhotoBinView*) override;
    PhotoBinItemDataPtr photoBinViewItemAtIndex(PhotoBinView*, std::uint64_t index) override;
    bool favoriteItemOfPhotoBinView(PhotoBinView*, std::uint64_t index) override;
    void photoBinViewCellWasClickedAtIndex(PhotoBinView*, std::uint64_t index, std::function<void(bool)> done) override;
    void curItemDoubleClickedForPhotoBinView(PhotoBinView*) override { m_navigator.switchToFitin(); }
    bool photoBinViewBeginDraggingSession(PhotoBinView* v, const kpv::Event& e, std::uint64_t index) override
    {
        return m_navigator.beginDraggingSession(v, e, index);
    }

private:
    std::size_t indexOfPath(const LMPathString& path) const;
    PhotoBinItemDataPtr itemDataForDisplay(const PhotoBinItemDataPtr& item);

    PhotoBinNavigator& m_navigator;
    // Drops the pictures of files that have no record in the viewer any more.
    void pruneItemDatas();
    static constexpr qsizetype kMinPruneAbove = 128;

    QHash<LMPathString, PhotoBinItemDataPtr> m_photoBinItemDatas;
    qsizetype m_pruneAbove = kMinPruneAbove;
    PhotoBinItemDataPtr m_loadingImageItemData;
    PhotoBinItemDataPtr m_badImageItemData;
    PhotoBinScrollView* m_view = nullptr; // owned while detached
    std::unique_ptr<PhotoBinScrollView> m_ownedView;
    PhotoBinView* m_photoBinView = nullptr;
};
