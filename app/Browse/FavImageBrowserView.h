#pragma once
// The grid of the favourites and of the thumbnail mode: the image browser with multiple
// selection whose Copy command goes to its delegate.

#include "Browse/LMImageBrowserView.h"

class FavImageBrowserView : public LMImageBrowserView {
public:
    explicit FavImageBrowserView(const kpv::Rect& frame = kpv::Rect());
    // The edit menu's Copy; false when the delegate does not take it.
    bool copy();
    // Whether a menu item is possible; nullopt when the delegate leaves it to the browser.
    std::optional<bool> validateMenuItem(kpv::MenuItem& item);
    // Drags out of the application may only copy; inside it any operation is offered.
    static unsigned long draggingSourceOperationMask(bool local) { return local ? 15 : 1; }
    void draggingSessionEndedWithOperation(unsigned long operation);
    void keyDown(const kpv::Event& e) override;

protected:
    bool beginFileDragOutside() override;
};
