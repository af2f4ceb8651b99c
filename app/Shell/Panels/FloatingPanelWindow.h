#pragma once
// The look and manners shared by the Info and Navigation panels: a small skinned window above the
// main window that moves when dragged anywhere and never takes the keyboard focus, so that
// clicking it leaves the main window key (the panels hide when the main window resigns key).

#include "Kit/LMNineSliceImageRep.h"
#include "Kit/LMNineSliceImageView.h"
#include "Kit/LMNormalCustomWindow.h"

#include <QWidget>

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
