#pragma once
// What the application shell asks of the image viewer's controller (show mode 4): whether a file
// is there to show, taking over a list of opened files, the state the menus depend on, and the
// commands of the menus. The viewer's controller is connected through an adapter made at start-up;
// tests use a fake. Every operation is the implementer's to answer.

#include "Model/LMPathString.h"

#include <QList>
#include <QStringList>
#include <functional>

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
    virtual bool curLoveIntroTipsShowStatus() const = 0;
    virtual void hideLoveIntroTips(bool animate) = 0;
    // A two-finger paging gesture is running.
    virtual bool gestureScrollSessionRunning() const = 0;
    // The info panel is wished on screen.
    virtual bool curPropertiesWindowShowStatus() const = 0;

    // ---- Opening and the window ----
    // Takes the found files (`files`) and the paths the user chose, and starts the folder search.
    virtual void openFilePaths(const QList<LMPathString>& files, const QStringList& chosenPaths,
                               bool includeSubDir) = 0;
    virtual void abortScrollSession() = 0;
    virtual void savePopWindowsPostionInfo() = 0;
    virtual void toggleFullScreen() = 0;
    // Makes `path` the current file when it is in the list; nothing otherwise (a file deleted
    // meanwhile, or one already current).
    virtual void goToFile(const LMPathString& path) = 0;
    // Before the program quits: a turn or flip not yet written goes into the file, or the user is
    // asked, as when the file is left for another. `done` gets true when the viewer may go (the
    // turn was written, there was none, or the user went on without it) and false when the user
    // cancelled a save and stays.
    virtual void checkUnsavedTurnBeforeLeaving(std::function<void(bool)> done) = 0;
    // Before the shown photo is handed to another program: the same check as before a share.
    // `done` gets the photo to hand over (a copy saved under another name is the one shown then),
    // or nothing when the user cancelled and nothing is to be handed over; and whether the turn
    // was written into that photo.
    virtual void checkUnsavedTurnBeforeHandOver(std::function<void(const LMPathString&, bool)> done) = 0;

    // ---- Menu commands ----
    // Runs the command of a main-window command tag; `argument` is the turn (1 left, 2 right,
    // 3 flip horizontally, 4 flip vertically), the share type or the sort type where the command
    // has one.
    virtual void doAction(long tag, long argument) = 0;
};
