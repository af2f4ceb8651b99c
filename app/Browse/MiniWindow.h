#pragma once
// The mini window: always borderless whatever style is asked, transparent around its rounded
// content, movable by its background, and able to become key and main.

#include "appkit/Window.h"

class MiniWindow : public kpv::Window {
public:
    static constexpr double kCornerRadius = 5.0;
    explicit MiniWindow(const kpv::Rect& contentRect, unsigned requestedStyleMask = kpv::BorderlessWindowMask);
    bool canBecomeKeyWindow() const override { return true; }
    bool canBecomeMainWindow() const override { return true; }
};
