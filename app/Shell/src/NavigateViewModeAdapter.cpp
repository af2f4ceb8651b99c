#include "Shell/NavigateViewModeAdapter.h"

#include "Shell/PropertiesPanelWindow.h"

#include "View/NavigateController.h"

bool NavigateViewModeAdapter::canSwitchToViewMode() const { return m_controller.canSwitchToViewMode(); }
LMPathString NavigateViewModeAdapter::curFilePath() const { return m_controller.curFilePath(); }
bool NavigateViewModeAdapter::canDoAction(long actionId) { return m_controller.canDoAction(actionId); }
bool NavigateViewModeAdapter::gestureScrollSessionRunning() const { return m_controller.gestureScrollSessionRunning(); }

void NavigateViewModeAdapter::openFilePaths(const QList<LMPathString>& files, const QStringList& chosenPaths,
                                            bool includeSubDir)
{
    m_controller.openFilePaths(files, chosenPaths, includeSubDir);
}

void NavigateViewModeAdapter::abortScrollSession() { m_controller.abortScrollSession(); }
void NavigateViewModeAdapter::toggleFullScreen() { m_controller.toggleFullScreen(); }

void NavigateViewModeAdapter::saveAsCurFile() { m_controller.saveAsCurFile(); }
void NavigateViewModeAdapter::printCurFile() { m_controller.printCurFile(); }
void NavigateViewModeAdapter::revealCurFileInFinder() { m_controller.revealCurFileInFinder(); }
void NavigateViewModeAdapter::copyCurFile() { m_controller.copyCurFile(); }
void NavigateViewModeAdapter::deleteCurFile() { m_controller.deleteCurFile(); }
void NavigateViewModeAdapter::cropCurFile() { m_controller.cropCurFile(); }
void NavigateViewModeAdapter::favorCurFile() { m_controller.favorCurFile(); }
void NavigateViewModeAdapter::switchToMyFavorites() { m_controller.switchToMyFavorites(); }
void NavigateViewModeAdapter::switchToThumbView() { m_controller.switchToThumbView(); }
void NavigateViewModeAdapter::rotateCurFile(int command) { m_controller.rotateCurFile(command); }
void NavigateViewModeAdapter::doBatchRename() { m_controller.doBatchRename(); }
void NavigateViewModeAdapter::doBatchResize() { m_controller.doBatchResize(); }
void NavigateViewModeAdapter::doBatchConvert() { m_controller.doBatchConvert(); }
void NavigateViewModeAdapter::doShareForType(long shareType) { m_controller.doShareForType(shareType); }
void NavigateViewModeAdapter::setCurFileToDesktop() { m_controller.setCurFileToDesktop(); }
void NavigateViewModeAdapter::switchPhotoBin() { m_controller.switchPhotoBin(); }
void NavigateViewModeAdapter::switchToOriginal() { m_controller.switchToOriginal(); }
void NavigateViewModeAdapter::switchToFitin() { m_controller.switchToFitin(); }
void NavigateViewModeAdapter::doZoomCurFile(bool zoomIn) { m_controller.doZoomCurFile(zoomIn); }
void NavigateViewModeAdapter::sortFiles(long sortType) { m_controller.sortFiles(sortType); }
void NavigateViewModeAdapter::playSlideshow() { m_controller.playSlideshow(); }
void NavigateViewModeAdapter::doNavCurFileToNext(bool next) { m_controller.doNavCurFileToNext(next); }
void NavigateViewModeAdapter::doNavCurFileByPageUp(bool pageUp) { m_controller.doNavCurFileByPageUp(pageUp); }
void NavigateViewModeAdapter::doNavCurFileToFirst(bool first) { m_controller.doNavCurFileToFirst(first); }

bool NavigateViewModeAdapter::performKeyDownEquivalent(const kpv::Event& e)
{
    return m_controller.performKeyDownEquivalent(e);
}

bool NavigateViewModeAdapter::performScrollWheelEquivalent(const kpv::Event& e)
{
    return m_controller.performScrollWheelEquivalent(e);
}

bool NavigateViewModeAdapter::performMouseMovedEquivalent(const kpv::Event& e)
{
    return m_controller.performMouseMovedEquivalent(e);
}

bool NavigateViewModeAdapter::curPropertiesWindowShowStatus() const
{
    return m_propertiesPanel && m_propertiesPanel->showStatus();
}

void NavigateViewModeAdapter::switchPropertiesWindow()
{
    if (m_propertiesPanel)
        m_propertiesPanel->switchShow();
}
