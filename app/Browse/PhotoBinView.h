#pragma once
// The photo bin's strip: one wide view as long as all cells side by side, moved horizontally
// inside the narrower scroll view so that the current item is centred. Only the visible cells
// exist; cells leaving the range wait in a pool. Moves are animated over 0.3 s.

#include "Browse/PhotoBinItemData.h"
#include "Browse/PhotoBinItemView.h"
#include "Browse/PhotoBinStripGeometry.h"

#include "Kit/PhotoBinScrollView.h"
#include "Model/LMBlockRepeatTimer.h"

#include "appkit/View.h"

#include <functional>
#include <map>
#include <memory>
#include <vector>

class PhotoBinView;

class PhotoBinViewDataSource {
public:
    virtual ~PhotoBinViewDataSource() = default;
    virtual std::uint64_t numberOfItems(PhotoBinView*) = 0;
    virtual std::uint64_t curItemIndex(PhotoBinView*) = 0;
    virtual PhotoBinItemDataPtr photoBinViewItemAtIndex(PhotoBinView*, std::uint64_t index) = 0;
    virtual bool favoriteItemOfPhotoBinView(PhotoBinView*, std::uint64_t) { return false; }
};

class PhotoBinViewDelegate {
public:
    virtual ~PhotoBinViewDelegate() = default;
    // `done` gets true when the navigation did not take place.
    virtual void photoBinViewCellWasClickedAtIndex(PhotoBinView*, std::uint64_t, std::function<void(bool)> done) { done(true); }
    virtual void curItemDoubleClickedForPhotoBinView(PhotoBinView*) {}
    virtual bool photoBinViewBeginDraggingSession(PhotoBinView*, const kpv::Event&, std::uint64_t) { return false; }
};

class PhotoBinView : public kpv::View, public PhotoBinViewScrolling {
public:
    static constexpr double kAnimationDuration = 0.3;
    using CompleteBlock = std::function<void()>;

    explicit PhotoBinView(const kpv::Rect& frame, std::unique_ptr<PhotoBinItemView> templateItemView);
    ~PhotoBinView() override;

    void setDataSource(PhotoBinViewDataSource* d) { m_dataSource = d; }
    void setDelegate(PhotoBinViewDelegate* d) { m_delegate = d; }

    void reloadData();
    // The list of files changed: a click whose slide has not reached the navigator yet names a
    // place in the old list, where another file may stand now, and is dropped; then reloadData.
    void fileListChanged();
    void curItemChanged();
    void updateItemAtIndex(std::uint64_t index);
    void navigateToIndex(std::size_t index);
    // Wheel and trackpad (from the scroll view).
    void scrollToNextItem(bool next) override;
    bool scrollWithoutChangeItemByDelta(double delta) override;
    void scrollToItemByCenterPositionWithDelta(double delta) override;
    std::size_t itemIndexByMousePosition(kpv::Point p) const { return geometry().indexAtPoint(p); }
    std::uint64_t wholeVisibleItemCountOfCurPage() const;
    double photoBinItemWidth() const { return m_itemViewSize.width + PhotoBinStripGeometry::kGap; }
    void stopAnimationScrollTimer();
    bool isAnimating() const { return m_animationScrollTimer.isTimerRunning(); }

    kpv::Rect calcFrameRectByIndex(std::uint64_t index) const { return geometry().frameForIndex(index); }
    kpv::Rect calcCurFrameRect() const { return calcFrameRectByIndex(m_curItemIndex); }
    PhotoBinStripGeometry::Range visibleItemRange() const { return m_visibleItemRange; }
    PhotoBinItemView* cellAtIndex(std::uint64_t index) const;
    std::size_t pooledCellCount() const { return m_cacheItemViews.size(); }

    void mouseDown(const kpv::Event& e) override;
    void mouseUp(const kpv::Event& e) override;
    void mouseDragged(const kpv::Event& e) override;
    void resizeWithOldSuperviewSize(kpv::Size oldSize) override;

private:
    PhotoBinStripGeometry geometry() const;
    void beginUpdateVisibleItems(bool animate, const kpv::Rect& target, CompleteBlock complete);
    void endUpdateVisibleItems(const kpv::Rect& target, PhotoBinStripGeometry::Range range, CompleteBlock complete);
    // At rest only cells wholly inside the window are shown: a thumbnail cut by the window's edge
    // looks like one running past the end of the bin. While the strip slides, all are shown.
    void showWholeCellsOnly(const kpv::Rect& stripFrame);
    void updateImageForItem(PhotoBinItemView* cell, std::uint64_t index);

    PhotoBinViewDataSource* m_dataSource = nullptr;
    PhotoBinViewDelegate* m_delegate = nullptr;
    std::unique_ptr<PhotoBinItemView> m_templateItemView;
    std::uint64_t m_itemCount = 0;
    std::uint64_t m_curItemIndex = 0;
    kpv::Size m_itemViewSize;
    PhotoBinStripGeometry::Range m_visibleItemRange;
    std::map<std::uint64_t, PhotoBinItemView*> m_visibleItemViews; // owned by the strip as subviews
    std::vector<std::unique_ptr<PhotoBinItemView>> m_cacheItemViews;
    LMBlockRepeatTimer m_animationScrollTimer;
    // Each slide gets a number; a slide taken over by a newer one ends without navigating.
    std::uint64_t m_slideNumber = 0;
    // Counts the changes of the file list; a click made before the last one navigates nowhere.
    std::uint64_t m_fileListNumber = 0;
    // Where the strip is heading: the item the last slide goes to, until the navigator has
    // arrived there (or refused). Wheel notches count on from here, not from the current item.
    std::size_t m_targetItemIndex = PhotoBinStripGeometry::kNotFound;
    std::size_t m_pressedIndex = PhotoBinStripGeometry::kNotFound;
    bool m_dragBegan = false;
    bool m_firstDrag = false;
    std::shared_ptr<PhotoBinView*> m_self;
};
