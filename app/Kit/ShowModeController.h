#pragma once
// What the main window controller needs of the controller of a show mode other than the empty
// state and the image viewer: favourites, crop, slideshow, thumbnails and the mini window. Each
// of those controllers is made on first use through a factory registered with the main window
// controller; a mode without a factory has no controller, is never entered, and its commands
// stay disabled. Every operation is the implementer's to answer.

#include <QString>

class LMPathString;
namespace kpv {
class Event;
class Window;
}

class ShowModeController {
public:
    virtual ~ShowModeController() = default;
    // May the command with this action id run now.
    virtual bool canDoAction(long actionId) = 0;
    // Runs the menu command with this action id; `argument` carries the share type of the share
    // commands and the rotation command of the rotate commands (1 left, 2 right).
    virtual void doAction(long actionId, long argument) = 0;
    // Favourites: whether the path is one of this run's favourites (false elsewhere).
    virtual bool isFavoriteFile(const LMPathString&) const = 0;
    // Favourites: the context menu for a right click in the mode's view.
    virtual void popUpContextMenuWithEvent(const kpv::Event&) = 0;
    // Mini window: its own window (nullptr for modes shown inside the main window).
    virtual kpv::Window* window() const = 0;
};
