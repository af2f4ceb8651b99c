#pragma once
// What the application shell asks of the image viewer's controller (show mode 4): whether a file
// is there to show, taking over a list of opened files, the state the menus depend on, and the
// commands of the menus. The viewer's controller is connected through an adapter made at start-up;
// tests use a fake.

#include "Model/LMPathString.h"

#include <QList>
#include <QStringList>

namespace kpv {
class Event;
class View;
}

class ViewModeController {
public:
    virtual ~ViewModeController() = default;

    // ---- State ----
    // A file is there to show in the viewer.
    virtual bool canSwitchToViewMode() const = 0;
    // The current file, empty when none.
    virtual LMPathString curFilePath() const = 0;
    virtual bool canDoAction(long actionId) = 0;
    // The favourite button's intro tip is on screen.
    virtual bool curLoveIntroTipsShowStatus() const { return false; }
    virtual void hideLoveIntroTips(bool animate) {}
    // A two-finger paging gesture is running.
    virtual bool gestureScrollSessionRunning() const { return false; }
    // The info panel is wished on screen.
    virtual bool curPropertiesWindowShowStatus() const { return false; }

    // ---- Opening and the window ----
    // Takes the found files (`files`) and the paths the user chose, and starts the folder search.
    virtual void openFilePaths(const QList<LMPathString>& files, const QStringList& chosenPaths,
                               bool includeSubDir) = 0;
    virtual void abortScrollSession() {}
    virtual void savePopWindowsPostionInfo() {}
    virtual void toggleFullScreen() {}

    // ---- Menu commands ----
    virtual void saveAsCurFile() {}
    virtual void printCurFile() {}
    virtual void revealCurFileInFinder() {}
    virtual void copyCurFile() {}
    virtual void deleteCurFile() {}
    virtual void cropCurFile() {}
    virtual void favorCurFile() {}
    virtual void switchToMyFavorites() {}
    // The thumbnail grid of the folder (show mode 64).
    virtual void switchToThumbView() = 0;
    // 1 rotate left, 2 rotate right, 3 flip horizontally, 4 flip vertically.
    virtual void rotateCurFile(int command) {}
    virtual void doBatchRename() {}
    virtual void doBatchResize() {}
    virtual void doBatchConvert() {}
    virtual void doShareForType(long shareType) {}
    virtual void setCurFileToDesktop() {}
    virtual void switchPhotoBin() {}
    virtual void switchPropertiesWindow() {}
    virtual void switchToOriginal() {}
    virtual void switchToFitin() {}
    virtual void doZoomCurFile(bool zoomIn) {}
    virtual void sortFiles(long sortType) {}
    virtual void playSlideshow() {}
    virtual void doNavCurFileToNext(bool next) {}
    virtual void doNavCurFileByPageUp(bool pageUp) {}
    virtual void doNavCurFileToFirst(bool first) {}
};
