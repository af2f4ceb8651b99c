#pragma once
// The look and manners shared by the Info and Navigation panels: a small skinned window above the
// main window that moves when dragged anywhere and never takes the keyboard focus, so that
// clicking it leaves the main window key (the panels hide when the main window resigns key).

#include "Kit/LMNineSliceImageRep.h"
#include "Kit/LMNineSliceImageView.h"
#include "Kit/LMNormalCustomWindow.h"

#include <QWidget>

#include <algorithm>

inline void makeFloatingPanelWindow(LMNormalCustomWindow& window)
{
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
    }
}

// Puts a panel at `origin` (where it was left, or its first place), moved as little as needed for
// the whole of it to be on its screen: a screen since unplugged, or another resolution, would
// otherwise leave it where the user cannot reach it.
inline void placeFloatingPanelOnScreen(LMNormalCustomWindow& window, kpv::Point origin)
{
    const kpv::Rect screen = window.screen().visibleFrame;
    const kpv::Rect own = window.frame();
    if (!screen.isEmpty()) {
        origin.x = std::max(screen.minX(), std::min(origin.x, screen.maxX() - own.width()));
        origin.y = std::max(screen.minY(), std::min(origin.y, screen.maxY() - own.height()));
    }
    window.setFrameOrigin(origin);
}
