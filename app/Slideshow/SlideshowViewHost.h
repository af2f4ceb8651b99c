#pragma once
// What the slideshow mode needs of the main window controller. The shell connects an adapter;
// tests use a fake.

#include "Model/LMPathString.h"

#include <QString>

class LMEquivalentResponder;
namespace kpv {
class View;
}

class SlideshowViewHost {
public:
    virtual ~SlideshowViewHost() = default;
    virtual long showMode() const = 0;
    // Switches the mode; the switch posts "didChangeMainShowMode", which the slideshow observes.
    virtual void setShowMode(long mode) = 0;
    // The main window's content view, where the slideshow's view goes.
    virtual kpv::View* contentView() const = 0;
    // Adds the slideshow to (or takes it from) the objects that receive forwarded key and mouse
    // events.
    virtual void registEquivalentResponder(LMEquivalentResponder* responder, bool regist) = 0;
    // The user ends the show on `shown`, the photo on screen, and `mode` is shown again next: the
    // viewer makes that photo its current one, so the user lands where they were looking.
    virtual void slideshowWillEnd(const LMPathString& shown, long mode) = 0;
    // Tells the user why the slideshow could not go on, after it has ended.
    virtual void reportProblem(const QString& message) = 0;
};
