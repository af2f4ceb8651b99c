// The status line, sorting, the cursor and slideshow hooks and the small view-mode accessors.

#include "View/NavigateController.h"

#include "Model/MainConfig.h"
#include "View/NavGestureScrollFileSession.h"

void NavigateController::updateStatusInfo(const QString &text, bool showWaiting, int loadingInfoFlag)
{
    // The host places the line over the image view (or the mini window's) and hides it when empty.
    if (m_host)
        m_host->updateStatusInfo(text, showWaiting, loadingInfoFlag);
}

void NavigateController::sortFiles(int64_t sortType, bool forceSort)
{
    if (sortType == 0)
        return;
    m_needReorderFilePaths = false;
    MainConfig *c = config();
    if (!forceSort && c && c->sortByType() == sortType)
        return;
    if (c)
        c->setSortByType(sortType);
    if (fileCount() < 2)
        return;
    m_navSortFileInfoList->sortFilesByType(int(sortType));
    const qsizetype index = m_navSortFileInfoList->sortedFilePaths().indexOf(m_curFilePath);
    clearLoadMasks();
    navCurFileToIndexByFileListChanged(index < 0 ? 0 : index);
}

void NavigateController::didAutoHideCursor()
{
    if (m_host && m_host->showMode() == NavShowModeView)
        m_host->hideNextPrev(true, false);
}

void NavigateController::didSlideshowFirstFrameDisplayed()
{
    if (m_host && m_host->showMode() == NavShowModeSlideshow)
        m_host->hideImageView(false, false);
}

bool NavigateController::canShowProperties() const
{
    return m_host && m_host->showMode() == NavShowModeView;
}

bool NavigateController::gestureScrollSessionRunning() const
{
    return m_navGestureScrollFileSession && m_navGestureScrollFileSession->scrollSessionRunning();
}
