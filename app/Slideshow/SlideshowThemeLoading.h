#pragma once
// The slideshow theme manager as the delegate drives it: loading starts after launch and is
// cancelled and waited for at exit.
class SlideshowThemeLoading {
public:
    virtual ~SlideshowThemeLoading() = default;
    virtual void startLoad() = 0;
    virtual void uninit() = 0;
};
