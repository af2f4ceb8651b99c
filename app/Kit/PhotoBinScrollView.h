#pragma once
// Turns wheel and trackpad scrolling over the filmstrip into strip movements that snap to an
// item when the gesture ends. The strip itself belongs to the browsing modes; this view reaches
// it only through the three scrolling operations below.

#include "Kit/LMTiledImageView.h"
#include "Model/LMBlockTimer.h"

#include <memory>

// What the filmstrip offers its scroll view (implemented by the filmstrip).
class PhotoBinViewScrolling {
public:
    virtual ~PhotoBinViewScrolling() = default;
    virtual void scrollToNextItem(bool forward) = 0;
    // True when the move reached the head or the tail of the strip.
    virtual bool scrollWithoutChangeItemByDelta(double delta) = 0;
    virtual void scrollToItemByCenterPositionWithDelta(double lastDelta) = 0;
};

class PhotoBinScrollView : public LMTiledImageView {
public:
    static constexpr double kSnapDelay = 0.05;
    // A wheel without a gesture steps one item per notch. A smooth wheel or a touchpad that
    // reports no gesture sends parts of a notch, or pixels: they add up to a step.
    static constexpr double kPixelsPerStep = 40;

    explicit PhotoBinScrollView(const kpv::Rect& frame = kpv::Rect()) : LMTiledImageView(frame) {}

    PhotoBinViewScrolling* photoBinView() const { return m_photoBinView; }
    void setPhotoBinView(PhotoBinViewScrolling* v) { m_photoBinView = v; }

    void scrollWheel(const kpv::Event& e) override;
    void rightMouseDown(const kpv::Event&) override {}
    void startGestureScrollTimer();
    void endGestureScroll();
    bool isGestureScrollTimerRunning() const { return m_gestureScrollTimer && m_gestureScrollTimer->isTimerRunning(); }

private:
    void stopGestureScrollTimer();

    PhotoBinViewScrolling* m_photoBinView = nullptr;
    std::unique_ptr<LMBlockTimer> m_gestureScrollTimer;
    bool m_inPhaseScrollSession = false;
    double m_lastScrollDelta = 0;
    double m_wheelSteps = 0; // parts of a step turned so far, signed by direction
};
