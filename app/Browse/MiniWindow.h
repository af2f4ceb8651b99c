#pragma once
// The mini window: always borderless whatever style is asked, transparent around its rounded
// content, movable by its background, and able to become key and main. Keys, scrolling and
// pinches that no view took go to its event forwarder (the mode's equivalent responders).

#include "appkit/Window.h"

#include <functional>

class MiniWindow : public kpv::Window {
public:
    static constexpr double kCornerRadius = 5.0;
    explicit MiniWindow(const kpv::Rect& contentRect, unsigned requestedStyleMask = kpv::BorderlessWindowMask);
    bool canBecomeKeyWindow() const override { return true; }
    bool canBecomeMainWindow() const override { return true; }

    // Answers true when the event was taken.
    std::function<bool(const kpv::Event&)> eventForwarder;
    void keyDown(const kpv::Event& e) override { forward(e); }
    void keyUp(const kpv::Event& e) override { forward(e); }
    void scrollWheel(const kpv::Event& e) override { forward(e); }
    void magnifyWithEvent(const kpv::Event& e) override { forward(e); }

private:
    void forward(const kpv::Event& e)
    {
        if (eventForwarder)
            eventForwarder(e);
    }
};
