#pragma once
// The data source and the delegate of the image browser. Every delegate operation is optional:
// the defaults answer as if the delegate left the operation out, and the browser then behaves as
// documented beside each.

#include "appkit/Geometry.h"

#include <QString>
#include <cstddef>
#include <memory>
#include <optional>
#include <set>

class LMImageBrowserExtraItemViewController;
class LMImageBrowserItem;
class LMImageBrowserView;
namespace kpv {
class Event;
class MenuItem;
class View;
}

class LMImageBrowserDataSource {
public:
    virtual ~LMImageBrowserDataSource() = default;
    virtual std::size_t numberOfItemsInImageBrowser(LMImageBrowserView* browser) = 0;
    virtual LMImageBrowserItem* imageBrowserItemAtIndex(LMImageBrowserView* browser, std::size_t index) = 0;
    // Reordering by drag; false refuses (the default: the browser does not reorder).
    virtual bool imageBrowserMoveItemsAtIndexes(LMImageBrowserView*, const std::set<std::size_t>&, std::size_t) { return false; }
    // The Delete key over a selection; the default removes nothing.
    virtual void imageBrowserRemoveItemsAtIndexes(LMImageBrowserView*, const std::set<std::size_t>&) {}
};

class LMImageBrowserDelegate {
public:
    virtual ~LMImageBrowserDelegate() = default;
    virtual void imageBrowserCellWasDoubleClickedAtIndex(LMImageBrowserView*, std::size_t) {}
    // A right click on a cell or beside the cells; false: not answered, and the click goes on to
    // the views beneath the browser, as it would past a browser without a delegate.
    virtual bool imageBrowserCellWasRightClickedAtIndex(LMImageBrowserView*, std::size_t, const kpv::Event&) { return false; }
    virtual bool imageBrowserBackgroundWasRightClickedWithEvent(LMImageBrowserView*, const kpv::Event&) { return false; }
    virtual void imageBrowserSelectionDidChange(LMImageBrowserView*) {}

    // ---- Overlays over the cells ----
    // A new overlay controller; asked first. nullptr: not answered.
    virtual std::unique_ptr<LMImageBrowserExtraItemViewController> extraItemViewControllerForImageBrowserView(LMImageBrowserView*) { return nullptr; }
    // A new plain overlay view, asked when the first hook is not answered. nullptr: not answered.
    virtual std::unique_ptr<kpv::View> extraItemViewForImageBrowserView(LMImageBrowserView*) { return nullptr; }
    // How far overlays reach past the rectangle: left (x) and top (y), right (x) and bottom (y).
    virtual bool imageBrowserViewExtraItemViewOutside(LMImageBrowserView*, kpv::Point* leftTop, kpv::Point* rightBottom) { return false; }
    // Overlays on the whole cell (true) or on its picture.
    virtual bool isExtraItemViewOnWholeFrameForImageBrowserView(LMImageBrowserView*) { return false; }

    // ---- Edit commands (favourites and thumbnails) ----
    // Whether the command is possible, or nullopt when the delegate does not decide it.
    virtual std::optional<bool> imageBrowserViewValidateMenuItem(LMImageBrowserView*, kpv::MenuItem&) { return std::nullopt; }
    // Copy; false when not answered.
    virtual bool imageBrowserViewCopy(LMImageBrowserView*) { return false; }
    // A drag of files out of the browser ended with this drag operation (16: move).
    virtual void imageBrowserViewEndDraggingWithOperation(LMImageBrowserView*, unsigned long) {}
};
