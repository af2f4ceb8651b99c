#pragma once
// The arithmetic of the mini window: fitting the window to a wanted size inside the screen's
// visible frame, the point size of an image on a screen, and the zoom target. Plain functions,
// tested directly.

#include "appkit/Geometry.h"

struct MiniWindowGeometry {
    // The frame for a wanted size (W, H): each side held between the minimum and the visible
    // frame, the aspect kept by the smaller ratio, grown about the old frame's centre and pushed
    // back inside the visible frame. A zero wanted side keeps the old frame.
    static kpv::Rect fitFrame(const kpv::Rect& oldFrame, kpv::Size wanted, const kpv::Rect& visibleFrame,
                              kpv::Size minSize);
    // Points of an image of `pixels` turned by `angle` degrees on a screen of `backingScale`
    // (0 counts as 1).
    static kpv::Size imagePointSize(kpv::Size pixels, double angle, double backingScale);
    // The window size a zoom asks for: the image at the largest scale that fits the visible frame,
    // at most `maxScale`; the zero size when nothing can be computed.
    static kpv::Size zoomTargetSize(kpv::Size imageVisibleSize, double scale, double maxScale, const kpv::Rect& visibleFrame);
    // The zoom percentage text ("66%").
    static long zoomPercent(double scale);
};
