#pragma once
// A scrolling grid of file pictures with selection, reordering by drag, a cell size for zoom, and
// one overlay view laid over every visible cell. The overlays follow the visible cells after every
// redraw: an item that stays visible keeps its overlay object, overlays of items that leave the
// visible range wait in a pool and are reused before new ones are asked for.
//
// Pictures are drawn from the files themselves: each item's picture is loaded once per item
// identifier on a worker queue and cached; a file that changes gets a new identifier and is read
// again. A picture is kept with the item's version it was read for, so that another file put at
// the path under an identifier seen before (its old date set again) is read, not shown as the
// picture of the one before.

#include "Browse/LMImageBrowserDelegate.h"
#include "Browse/LMImageBrowserLayout.h"

#include "appkit/View.h"

#include <QHash>
#include <QImage>
#include <atomic>
#include <map>
#include <memory>
#include <set>
#include <vector>

class LMImageBrowserExtraItemViewController;
namespace kpv {
class GraphicsContext;
class OperationQueue;
class Scroller;
class Timer;
}

class LMImageBrowserView : public kpv::View {
public:
    static constexpr std::size_t kNotFound = LMImageBrowserLayout::kNotFound;

    explicit LMImageBrowserView(const kpv::Rect& frame = kpv::Rect());
    ~LMImageBrowserView() override;

    void setDataSource(LMImageBrowserDataSource* dataSource) { m_dataSource = dataSource; }
    LMImageBrowserDataSource* dataSource() const { return m_dataSource; }
    void setDelegate(LMImageBrowserDelegate* delegate) { m_delegate = delegate; }
    LMImageBrowserDelegate* delegate() const { return m_delegate; }

    void setAllowsMultipleSelection(bool allow) { m_allowsMultipleSelection = allow; }
    void setAllowsReordering(bool allow) { m_allowsReordering = allow; }

    // ---- Content ----
    void reloadData();
    std::size_t numberOfItems() const { return m_layout.itemCount; }
    kpv::Size cellSize() const { return m_layout.cellSize; }
    // `live`: the size is still moving (a knob being dragged). The pictures already read are then
    // drawn at the new size, and sharper ones are read only once the size rests for
    // kCellSizeRestInterval seconds or a call without `live` ends the move, so that a drag across
    // the range costs one round of reads, not one at every step.
    void setCellSize(kpv::Size size, bool live = false);
    static constexpr double kCellSizeRestInterval = 0.3;
    bool isCellSizeMoving() const { return m_cellSizeMoving; }
    const LMImageBrowserLayout& layout() const { return m_layout; }

    // ---- Selection ----
    const std::set<std::size_t>& selectionIndexes() const { return m_selection; }
    // Indexes past the end are dropped; `byExtending` adds to the selection.
    void setSelectionIndexes(const std::set<std::size_t>& indexes, bool byExtending = false);
    void selectAll();

    // ---- Geometry (view coordinates: flipped, scrolled) ----
    bool isFlipped() const override { return true; }
    std::size_t indexOfItemAtPoint(kpv::Point pointInView) const;
    kpv::Rect itemFrameAtIndex(std::size_t index) const;
    // The picture's rectangle (its aspect fitted into the cell).
    kpv::Rect itemImageFrameAtIndex(std::size_t index) const;
    std::vector<std::size_t> visibleItemIndexes() const;
    double scrollOffset() const { return m_scrollOffset; }
    void setScrollOffset(double offset);
    // The scroller along the right edge (taken as a subview): its knob shows the part of the grid
    // in sight and dragging it scrolls; hidden while everything is in sight.
    void setVerticalScroller(kpv::Scroller* scroller);
    kpv::Scroller* verticalScroller() const { return m_verticalScroller; }
    static constexpr double kScrollerWidth = 15.0;
    // How far one notch of a mouse wheel scrolls: three lines of 20 points.
    static constexpr double kWheelNotchPixels = 60.0;
    void scrollIndexToVisible(std::size_t index);

    // ---- Overlays ----
    void updateItemUI();
    // An overlay's frame around `base`, reaching `leftTop` past its left and top edges and
    // `rightBottom` past its right and bottom edges.
    static kpv::Rect extraItemViewFrame(const kpv::Rect& base, kpv::Point leftTop, kpv::Point rightBottom, bool flipped);
    // The overlay view of the item with this identifier, or nullptr.
    kpv::View* extraItemViewForImageUID(const QString& uid) const;
    std::size_t extraItemViewPoolSize() const { return m_extraItemViewRepPool.size(); }
    std::size_t extraItemViewCount() const { return m_extraItemViewReps.size(); }

    // ---- Pictures ----
    // The longest side of a loaded picture, in pixels: the cell's longer side on the screen,
    // rounded up to a step of 64 (so a small zoom change reads nothing again), at most 1024.
    static constexpr int kPictureSizeStep = 64;
    static constexpr int kPictureMaxPixels = 1024;
    int pictureMaxPixels() const;
    // What the picture cache may hold by default: some 1,400 pictures at the default cell size,
    // several screens of the largest cells.
    static constexpr qsizetype kDefaultPictureCacheBudget = qsizetype(160) << 20;
    // The cached picture of an item identifier (null until loaded).
    QImage cachedPicture(const QString& uid) const;
    bool hasCachedPicture(const QString& uid) const { return m_pictures.contains(uid); }
    // The cache's bytes: pictures of visible cells are always kept; beyond the budget the least
    // recently drawn of the others are dropped and read again when they come back into sight.
    qsizetype pictureCacheBudget() const { return m_pictureBudget; }
    void setPictureCacheBudget(qsizetype bytes);
    qsizetype pictureCacheBytes() const { return m_pictureBytes; }
    std::size_t pictureCacheCount() const { return std::size_t(m_pictures.size()); }
    // Picture loads waiting or running for cells that are in sight.
    std::size_t pendingPictureCount() const { return m_pendingPictures.size(); }
    // Tests: load pictures synchronously on the calling thread.
    void setLoadsPicturesSynchronously(bool sync) { m_syncPictures = sync; }
    // Asks for the pictures of the visible cells and gives up the loads of cells gone from sight.
    void requestVisiblePictures();
    // Drops the picture of an item identifier (and a load of it in flight): the file it was read
    // from was replaced under the same identifier, and the next paint reads it again.
    void forgetPicture(const QString& uid);

    // ---- Events ----
    // The overlays only dress the cells: a press on one is the grid's, so that the drag and the
    // release still reach the grid after scrolling has put that overlay away or over another cell.
    kpv::View* hitTest(kpv::Point pointInSuperview) override;
    bool acceptsFirstResponder() const override { return true; }
    void drawRect(const kpv::Rect& dirtyRect) override;
    void setFrame(const kpv::Rect& frame) override;
    void mouseDown(const kpv::Event& e) override;
    void mouseDragged(const kpv::Event& e) override;
    void mouseUp(const kpv::Event& e) override;
    // Ends a press in progress (a band, a reordering drag) as a release would, keeping the
    // selection made so far. A grid whose mode is left while the button is held is hidden or
    // taken out of its window and never hears the release: its mode ends the press instead.
    void endPress();
    void viewWillMoveToWindow(kpv::Window* window) override;
    void rightMouseDown(const kpv::Event& e) override;
    void scrollWheel(const kpv::Event& e) override;
    void keyDown(const kpv::Event& e) override;
    // The menu key right-clicks the photo the keys last moved to (else the first chosen one),
    // when it is in sight.
    kpv::Point contextMenuLocationForKeyboard() const override;

    // Where a navigation key moves the selection from `from` (kNotFound: nothing selected);
    // kNotFound for other keys. Arrows step by one cell or one row, Page Up and Down by the rows
    // that fit the view, Home and End to the ends.
    std::size_t indexForKey(unsigned short keyCode, std::size_t from) const;

    // A press on the background and a drag span a band: the items whose cells it meets are
    // selected, added to the selection kept from the press when Shift or Ctrl was held. The band
    // in content coordinates, empty when none.
    kpv::Rect selectionBand() const;
    // While the band's pointer stays past the top or bottom edge (or within kAutoscrollEdgeZone
    // of it) the grid keeps scrolling on a timer, kAutoscrollInterval seconds a step, the faster
    // the farther the pointer is past the edge (see autoscrollSpeed), and the band follows. It
    // stops when the button is released, the pointer comes back inside, or the grid's end is
    // reached.
    static constexpr double kAutoscrollInterval = 1.0 / 30.0;
    static constexpr double kAutoscrollEdgeZone = 6.0;
    // Points a second for a pointer `distance` points past an edge: a slow crawl just past it,
    // growing with the distance, at most a few screens a second.
    static double autoscrollSpeed(double distance);
    bool isAutoscrolling() const { return m_autoscrollTimer != nullptr; }

    // While photos are dragged within a grid that reorders, a bar in the gap where they will land
    // (view coordinates); empty otherwise.
    kpv::Rect dropMarkerFrame() const;

    // The index before which a drop at the view point inserts dragged items.
    std::size_t dropIndexAtPoint(kpv::Point pointInView) const;
    // Reorders the selection to `toIndex` through the data source; the moved items stay selected.
    bool moveSelectedItemsToIndex(std::size_t toIndex);

protected:
    LMImageBrowserItem* itemAtIndex(std::size_t index) const;
    // A drag left the view: subclasses may hand the selected files to other applications. True
    // when a file drag took over.
    virtual bool beginFileDragOutside() { return false; }

private:
    struct ExtraRep {
        std::unique_ptr<LMImageBrowserExtraItemViewController> controller;
        std::unique_ptr<kpv::View> detachedView; // a plain overlay while it is out of the browser
        kpv::View* view = nullptr;
    };
    using ExtraRepPtr = std::unique_ptr<ExtraRep>;

    ExtraRepPtr makeExtraRep();
    void attach(ExtraRep& rep);
    void detach(ExtraRep& rep);
    // `version`: the item's imageVersion(); a picture read for another one is not shown again.
    void requestPicture(const QString& uid, const QString& path, const QString& version);
    static void drawMissingMark(kpv::GraphicsContext& g, const kpv::Rect& frame);
    void insertPicture(const QString& uid, const QImage& picture, int requestedPixels, const QString& version);
    void evictPictures();
    std::set<QString> visiblePictureUIDs() const;
    kpv::Point toContent(kpv::Point p) const { return {p.x, p.y + m_scrollOffset}; }
    void updateTrailingInset();
    void clampScroll();
    void updateVerticalScroller();
    void cellSizeDidRest();

    LMImageBrowserDataSource* m_dataSource = nullptr;
    LMImageBrowserDelegate* m_delegate = nullptr;
    LMImageBrowserLayout m_layout;
    std::set<std::size_t> m_selection;
    bool m_allowsMultipleSelection = false;
    bool m_allowsReordering = false;
    double m_scrollOffset = 0;
    kpv::Scroller* m_verticalScroller = nullptr; // a subview

    std::map<QString, ExtraRepPtr> m_extraItemViewReps;
    std::vector<ExtraRepPtr> m_extraItemViewRepPool;

    struct CachedPicture {
        QImage image;
        quint64 lastUse = 0;
        int requestedPixels = 0; // the size it was read for (a small file gives less)
        QString version;         // the item's version when it was asked for
        // The picture scaled once to the pixels of its cell, so that painting a frame copies
        // pixels instead of scaling every picture in sight again.
        QImage display;
    };
    static qsizetype pictureCost(const CachedPicture& picture);
    // The picture of `uid` at exactly `pixels`, made on first use at that size (null when none).
    QImage displayPicture(const QString& uid, QSize pixels);
    QHash<QString, CachedPicture> m_pictures;
    quint64 m_pictureUseClock = 0;
    qsizetype m_pictureBytes = 0;
    qsizetype m_pictureBudget = kDefaultPictureCacheBudget;
    // A load in flight; its flag is cleared when its cell leaves the sight before it ran.
    struct PendingPicture {
        std::shared_ptr<std::atomic<bool>> wanted;
        QString version;
    };
    std::map<QString, PendingPicture> m_pendingPictures;
    std::unique_ptr<kpv::OperationQueue> m_pictureQueue;
    std::shared_ptr<LMImageBrowserView*> m_self; // lets late picture loads find out the view is gone
    bool m_syncPictures = false;
    bool m_cellSizeMoving = false;
    std::shared_ptr<kpv::Timer> m_cellSizeRestTimer;

    // Where a Shift range starts and where it ends now: Shift with an arrow or a click selects from
    // the anchor to the new end, so the range grows and shrinks as in a file manager.
    std::size_t m_anchorIndex = kNotFound;
    std::size_t m_leadIndex = kNotFound;
    bool hasRangeEnds() const;
    void setRangeEnds(std::size_t anchor, std::size_t lead);

    std::size_t m_pressedIndex = kNotFound;
    kpv::Point m_pressPoint;
    bool m_dragging = false;

    // A timer on the run loop's common modes that calls `fire` on this view while it lives.
    std::shared_ptr<kpv::Timer> commonTimer(double interval, bool repeats, void (LMImageBrowserView::*fire)());
    void dragBandTo(kpv::Point pointInView);
    // How far the point is past the top (negative) or bottom (positive) edge's scrolling line;
    // 0 between them.
    double distancePastEdge(kpv::Point pointInView) const;
    void autoscrollStep();
    void stopAutoscroll();
    void setDropMarker(std::size_t index, kpv::Point pointInView);
    std::size_t m_dropIndex = kNotFound; // where a reordering drag lands now
    kpv::Point m_dropPoint;
    bool m_banding = false;
    kpv::Point m_bandStart;   // content coordinates
    kpv::Point m_bandEnd;     // content coordinates
    kpv::Point m_bandPointer; // view coordinates, where the pointer last was
    std::shared_ptr<kpv::Timer> m_autoscrollTimer;
    std::set<std::size_t> m_bandBase; // the selection a Shift or Ctrl press keeps
};
