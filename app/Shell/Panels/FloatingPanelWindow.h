#pragma once
// The look and manners shared by the Info and Navigation panels: a small skinned window above the
// main window that moves when dragged anywhere and never takes the keyboard focus, so that
// clicking it leaves the main window key (the panels hide when the main window resigns key).

#include "Kit/LMNineSliceImageRep.h"
#include "Kit/LMNineSliceImageView.h"
#include "Kit/LMNormalCustomWindow.h"

#include <QWidget>

#include <algorithm>

inline void makeFloatingPanelWindow(LMNormalCustomWindow& window, kpv::Window* mainWindow)
{
    // The main window's own: over it in full screen too, where a window merely kept on top would
    // open unseen under the photo.
    window.setParentWindow(mainWindow);
    window.setCanBecomeKeyWindow(false);
    window.setMouseDownMoveable(true);
    window.setFloatingPanel(true);
    window.setLevel(kpv::FloatingWindowLevel);
    if (window.nineSliceImageBkgrdView())
        window.nineSliceImageBkgrdView()->setBackgroundImageRep(std::make_shared<LMNineSliceImageRep>(
            QStringLiteral("bg_popwin_info"), kpv::Point{15, 15}, kpv::Point{15, 15}));
    if (QWidget* widget = window.widget()) {
        widget->setWindowFlag(Qt::WindowDoesNotAcceptFocus, true);
        widget->setAttribute(Qt::WA_ShowWithoutActivating, true);
        // Never the active window, the panel would otherwise never show the tip of a row cut short.
        widget->setAttribute(Qt::WA_AlwaysShowToolTips, true);
    }
}

// Where a panel of `size` goes, asked at `origin` (where it was left, or its first place): moved
// as little as needed for the whole of it to be on the screen, since a screen unplugged, or
// another resolution, would otherwise leave it where the user cannot reach it. On a screen
// smaller than the panel, its top left corner, where its title and close button are, stays on
// the screen and the rest runs off the right and the bottom.
inline kpv::Point floatingPanelOrigin(kpv::Point origin, kpv::Size size, const kpv::Rect& screen)
{
    if (screen.isEmpty())
        return origin;
    // Frames count y upwards: the top is maxY.
    origin.x = std::max(screen.minX(), std::min(origin.x, screen.maxX() - size.width));
    origin.y = std::min(std::max(origin.y, screen.minY()), screen.maxY() - size.height);
    return origin;
}

inline void placeFloatingPanelOnScreen(LMNormalCustomWindow& window, kpv::Point origin)
{
    window.setFrameOrigin(floatingPanelOrigin(origin, window.frame().size, window.screen().visibleFrame));
}
