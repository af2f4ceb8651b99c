#include "Browse/MiniWindowContentView.h"

#include "Browse/MiniWindowShell.h"
#include "Browse/MiniWindowTitleBar.h"
#include "Kit/LMNineSliceImageRep.h"

#include "appkit/FileDropTarget.h"

namespace {
constexpr double kFade = 0.2;
}

void MiniWindowView::updateTrackingAreas()
{
    // A window resized under the pointer (a zoom, the wheel) lays the area out anew: the pointer
    // that was inside still is, and its leaving has to hide the title bar. A new area that took
    // it for outside sent no exit, and the bar stayed over the picture.
    const bool wasInside = m_trackingArea && m_trackingArea->isInside();
    if (m_trackingArea) {
        removeTrackingArea(m_trackingArea);
        m_trackingArea.reset();
    }
    if (m_shell.showMode() != 128)
        return;
    m_trackingArea = std::make_shared<kpv::TrackingArea>(bounds(),
                                                         kpv::TrackingMouseEnteredAndExited | kpv::TrackingMouseMoved |
                                                             kpv::TrackingActiveInKeyWindow | kpv::TrackingInVisibleRect,
                                                         this);
    m_trackingArea->setInside(wasInside);
    addTrackingArea(m_trackingArea);
}

void MiniWindowView::showTitleBar()
{
    if (!m_windowTitleBar || m_shell.showMode() != 128 || m_shell.isImageRotating() || !m_windowTitleBar->isHidden())
        return;
    m_windowTitleBar->setAlphaValue(0);
    m_windowTitleBar->setHidden(false);
    m_windowTitleBar->animateAlphaValue(1.0, kFade);
}

void MiniWindowView::mouseExited(const kpv::Event&)
{
    if (!m_windowTitleBar || m_shell.showMode() != 128 || m_shell.isImageRotating() || m_windowTitleBar->isHidden())
        return;
    MiniWindowTitleBar* bar = m_windowTitleBar;
    bar->animateAlphaValue(0.0, kFade, [bar](bool) {
        bar->setHidden(true);
        bar->setAlphaValue(1.0);
    });
}

MiniWindowContentView::MiniWindowContentView(const kpv::Rect& frame, MiniWindowShell& shell)
    : kpv::View(frame), m_shell(shell)
{
    m_background = new MiniWindowView(bounds(), shell);
    m_background->setAutoresizingMask(kpv::ViewWidthSizable | kpv::ViewHeightSizable);
    addSubview(m_background);
    m_bkgrdImageRep = std::make_shared<LMNineSliceImageRep>(QStringLiteral("bg_maintile"), kpv::Point{5, 5}, kpv::Point{5, 5});
    if (m_shell.showMode() == 256)
        m_background->setBackgroundImageRep(m_bkgrdImageRep);
    kpv::FileDropTarget::install(
        this, [this](const QStringList& paths) { return canAcceptDrop(paths, false); },
        [this](const QStringList& paths) { performDrop(paths); });
}

void MiniWindowContentView::updateBackgroundImage()
{
    const long mode = m_shell.showMode();
    if (mode == 256)
        m_background->setBackgroundImageRep(m_bkgrdImageRep);
    else if (mode == 128)
        m_background->setBackgroundImageRep(nullptr);
}

bool MiniWindowContentView::canAcceptDrop(const QStringList& paths, bool fromThisApplication) const
{
    return !fromThisApplication && !paths.isEmpty() &&
           m_shell.hasSupportedFileInPaths(paths, m_shell.viewPhotosInSubfolder());
}

bool MiniWindowContentView::performDrop(const QStringList& paths)
{
    if (canAcceptDrop(paths, false)) {
        m_shell.openFiles(paths, m_shell.viewPhotosInSubfolder());
        if (m_shell.showMode() == 128)
            m_background->setBackgroundImageRep(nullptr);
    }
    return true;
}
