#include "Browse/FavImageBrowserView.h"

#include "Browse/FavBrowserViewScroller.h"
#include "Browse/LMImageBrowserItem.h"

#include "appkit/DragSource.h"
#include "appkit/Event.h"

FavImageBrowserView::FavImageBrowserView(const kpv::Rect& frame) : LMImageBrowserView(frame)
{
    setAllowsMultipleSelection(true);
    setVerticalScroller(new FavBrowserViewScroller());
}

bool FavImageBrowserView::copy()
{
    return delegate() && delegate()->imageBrowserViewCopy(this);
}

std::optional<bool> FavImageBrowserView::validateMenuItem(kpv::MenuItem& item)
{
    return delegate() ? delegate()->imageBrowserViewValidateMenuItem(this, item) : std::nullopt;
}

void FavImageBrowserView::draggingSessionEndedWithOperation(unsigned long operation)
{
    if (delegate())
        delegate()->imageBrowserViewEndDraggingWithOperation(this, operation);
}

void FavImageBrowserView::keyDown(const kpv::Event& e)
{
    // Command-C and Command-A reach the browser when it is the first responder.
    constexpr unsigned short kKeyC = 8, kKeyA = 0;
    if (e.modifierFlags() & kpv::CommandKeyMask) {
        if (e.keyCode() == kKeyC && copy())
            return;
        if (e.keyCode() == kKeyA) {
            selectAll();
            return;
        }
    }
    LMImageBrowserView::keyDown(e);
}

bool FavImageBrowserView::beginFileDragOutside()
{
    QList<QUrl> urls;
    for (std::size_t i : selectionIndexes())
        if (LMImageBrowserItem* item = itemAtIndex(i))
            urls.append(QUrl::fromLocalFile(item->imageRepresentation()));
    if (urls.isEmpty())
        return false;
    // Other applications may only copy; a drop inside the application may do anything.
    const unsigned long operation = kpv::DragSource::dragFiles(this, urls, draggingSourceOperationMask(false));
    draggingSessionEndedWithOperation(operation);
    return true;
}
