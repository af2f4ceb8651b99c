#pragma once
// The slideshow mode inside the main window: the window controller's side of the slideshow
// (its show mode, content view and responder chain), the slideshow controller the window
// controller makes on first use, and the hand-over of the viewer's slides to it. Main thread only.

#include "Slideshow/SlideshowViewController.h"
#include "Slideshow/SlideshowViewHost.h"

#include "View/NavigateControllerHost.h"

#include <QList>

class MainWndController;

class MainWndSlideshowHost final : public SlideshowViewHost {
public:
    explicit MainWndSlideshowHost(MainWndController& windowController) : m_windowController(windowController) {}

    long showMode() const override;
    void setShowMode(long mode) override;
    kpv::View* contentView() const override;
    void registEquivalentResponder(LMEquivalentResponder* responder, bool regist) override;
    // Back in the viewer, the photo the show ended on is the current one.
    void slideshowWillEnd(const LMPathString& shown, long mode) override;
    // An alert on the main window.
    void reportProblem(const QString& message) override;

private:
    MainWndController& m_windowController;
};

namespace detail {
// Holds the host so that it is built before, and outlives, the controller that refers to it.
struct MainWndSlideshowHostHolder {
    explicit MainWndSlideshowHostHolder(MainWndController& windowController) : slideshowHost(windowController) {}
    MainWndSlideshowHost slideshowHost;
};
}  // namespace detail

// The slideshow controller together with its host, as the window controller owns it.
class MainWndSlideshowController final : private detail::MainWndSlideshowHostHolder, public SlideshowViewController {
public:
    explicit MainWndSlideshowController(MainWndController& windowController);
};

// Registers the slideshow's factory with the window controller.
void registerSlideshowMode(MainWndController& windowController);

// Starts the slideshow over the viewer's slides; false when the window controller has no
// slideshow mode or there is nothing to show.
bool startSlideshowInMainWindow(MainWndController& windowController, const QList<NavSlideshowFile>& slides,
                                qsizetype startFromIndex);
