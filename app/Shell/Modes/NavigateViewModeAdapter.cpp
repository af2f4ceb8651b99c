#include "Shell/Modes/NavigateViewModeAdapter.h"

#include "Shell/Modes/MainWndNavigateHost.h"

#include "View/NavigateController.h"

namespace {

using Run = void (*)(NavigateController&, long argument);

struct ViewCommand {
    long tag;
    Run run;
};

// What each main-window command does in the viewer; the argument is the turn, share or sort
// type the main window controller worked out for it.
const ViewCommand kViewCommands[] = {
    {4, [](NavigateController& c, long) { c.saveAsCurFile(); }},
    {5, [](NavigateController& c, long) { c.printCurFile(); }},
    {6, [](NavigateController& c, long) { c.revealCurFileInFinder(); }},
    {7, [](NavigateController& c, long) { c.copyCurFile(); }},
    {8, [](NavigateController& c, long) { c.deleteCurFile(); }},
    {NavigateController::kUndoMoveToTrashAction, [](NavigateController& c, long) { c.undoMoveToTrash(); }},
    {9, [](NavigateController& c, long) { c.cropCurFile(); }},
    {11, [](NavigateController& c, long) { c.favorCurFile(); }},
    {13, [](NavigateController& c, long) { c.switchToMyFavorites(); }},
    {14, [](NavigateController& c, long turn) { c.rotateCurFile(int(turn)); }},
    {15, [](NavigateController& c, long turn) { c.rotateCurFile(int(turn)); }},
    {16, [](NavigateController& c, long turn) { c.rotateCurFile(int(turn)); }},
    {17, [](NavigateController& c, long turn) { c.rotateCurFile(int(turn)); }},
    {18, [](NavigateController& c, long) { c.doBatchRename(); }},
    {19, [](NavigateController& c, long) { c.doBatchResize(); }},
    {119, [](NavigateController& c, long) { c.doBatchConvert(); }},
    {21, [](NavigateController& c, long type) { c.doShareForType(type); }},
    {22, [](NavigateController& c, long type) { c.doShareForType(type); }},
    {23, [](NavigateController& c, long type) { c.doShareForType(type); }},
    {24, [](NavigateController& c, long type) { c.doShareForType(type); }},
    {25, [](NavigateController& c, long type) { c.doShareForType(type); }},
    {26, [](NavigateController& c, long type) { c.doShareForType(type); }},
    {27, [](NavigateController& c, long) { c.setCurFileToDesktop(); }},
    {28, [](NavigateController& c, long) { c.switchPhotoBin(); }},
    {30, [](NavigateController& c, long) { c.switchToOriginal(); }},
    {31, [](NavigateController& c, long) { c.switchToFitin(); }},
    {32, [](NavigateController& c, long) { c.doZoomCurFile(true); }},
    {33, [](NavigateController& c, long) { c.doZoomCurFile(false); }},
    {34, [](NavigateController& c, long sort) { c.sortFiles(sort); }},
    {35, [](NavigateController& c, long sort) { c.sortFiles(sort); }},
    {36, [](NavigateController& c, long sort) { c.sortFiles(sort); }},
    {37, [](NavigateController& c, long sort) { c.sortFiles(sort); }},
    {38, [](NavigateController& c, long) { c.switchToThumbView(); }},
    {39, [](NavigateController& c, long) { c.playSlideshow(); }},
    {40, [](NavigateController& c, long) { c.doNavCurFileToNext(false); }},
    {41, [](NavigateController& c, long) { c.doNavCurFileToNext(true); }},
    {42, [](NavigateController& c, long) { c.doNavCurFileByPageUp(true); }},
    {43, [](NavigateController& c, long) { c.doNavCurFileByPageUp(false); }},
    {44, [](NavigateController& c, long) { c.doNavCurFileToFirst(true); }},
    {45, [](NavigateController& c, long) { c.doNavCurFileToFirst(false); }},
};

} // namespace

bool NavigateViewModeAdapter::canSwitchToViewMode() const { return m_controller.canSwitchToViewMode(); }
LMPathString NavigateViewModeAdapter::curFilePath() const { return m_controller.curFilePath(); }

bool NavigateViewModeAdapter::canDoAction(long actionId)
{
    return m_host.supportsAction(actionId) && m_controller.canDoAction(actionId);
}

bool NavigateViewModeAdapter::curLoveIntroTipsShowStatus() const { return m_host.curLoveIntroTipsShowStatus(); }
void NavigateViewModeAdapter::hideLoveIntroTips(bool animate) { m_host.hideLoveIntroTips(animate); }
bool NavigateViewModeAdapter::gestureScrollSessionRunning() const { return m_controller.gestureScrollSessionRunning(); }
bool NavigateViewModeAdapter::curPropertiesWindowShowStatus() const { return m_host.propertiesWindowShown(); }

void NavigateViewModeAdapter::openFilePaths(const QList<LMPathString>& files, const QStringList& chosenPaths,
                                            bool includeSubDir)
{
    m_controller.openFilePaths(files, chosenPaths, includeSubDir);
}

void NavigateViewModeAdapter::abortScrollSession() { m_controller.abortScrollSession(); }
void NavigateViewModeAdapter::savePopWindowsPostionInfo() { m_host.savePopWindowsPostionInfo(); }
void NavigateViewModeAdapter::toggleFullScreen() { m_controller.toggleFullScreen(); }

void NavigateViewModeAdapter::goToFile(const LMPathString& path)
{
    const qsizetype index = m_controller.filePaths().indexOf(path);
    if (index >= 0 && index != m_controller.curFileIndex())
        m_controller.doNavCurFileToIndex(index, false, {});
}

void NavigateViewModeAdapter::checkUnsavedTurnBeforeLeaving(std::function<void(bool)> done)
{
    // Outcome 3 is a write the user cancelled, 6 and 7 a save under another name that failed or
    // was cancelled: the viewer stays with the turn. Any other outcome lets it go.
    m_controller.checkAndSaveCurFile(false, [done = std::move(done)](int outcome) {
        if (done)
            done(outcome != 3 && outcome != 6 && outcome != 7);
    });
}

void NavigateViewModeAdapter::checkUnsavedTurnBeforeHandOver(std::function<void(const LMPathString&, bool)> done)
{
    // As before a share: 3, 6 and 7 end the hand-over; after 5 the saved copy is the photo shown;
    // 1 wrote the turn into the photo.
    NavigateController* nav = &m_controller;
    m_controller.checkAndSaveCurFile(true, [nav, done = std::move(done)](int outcome) {
        if (done)
            done(outcome == 3 || outcome == 6 || outcome == 7 ? LMPathString() : nav->curFilePath(), outcome == 1);
    });
}

void NavigateViewModeAdapter::doAction(long tag, long argument)
{
    if (tag == 29) {
        m_host.switchPropertiesWindow();
        return;
    }
    for (const ViewCommand& command : kViewCommands) {
        if (command.tag == tag) {
            command.run(m_controller, argument);
            return;
        }
    }
}

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
