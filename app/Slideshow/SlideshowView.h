#pragma once
// The full-window view of the slideshow: black, with the current slide fitted in the middle and,
// during a transition, the previous slide fading out under it. Esc or a click ends the slideshow.

#include "appkit/View.h"

#include <QImage>
#include <functional>
#include <memory>

namespace kpv {
class TrackingArea;
}

class SlideshowView : public kpv::View {
public:
    SlideshowView();

    void setSlides(const QImage& current, const QImage& previous, double fade);
    const QImage& currentSlide() const { return m_current; }
    double fade() const { return m_fade; }
    // Called on Esc or a left click.
    void setEndHandler(std::function<void()> handler) { m_onEnd = std::move(handler); }
    // Called whenever the pointer moves over the slideshow.
    void setPointerMovedHandler(std::function<void()> handler) { m_onPointerMoved = std::move(handler); }
    // Called when the view's size changes (the window resized).
    void setResizedHandler(std::function<void()> handler) { m_onResized = std::move(handler); }
    void setFrame(const kpv::Rect& frame) override;

    // Where an image of `size` (points) goes inside `bounds`: fitted, centred, never enlarged.
    static kpv::Rect fitRect(const kpv::Size& imageSize, const kpv::Rect& bounds);

    bool acceptsFirstResponder() const override { return true; }
    void drawRect(const kpv::Rect& dirtyRect) override;
    void keyDown(const kpv::Event& e) override;
    void mouseDown(const kpv::Event& e) override;
    void mouseMoved(const kpv::Event& e) override;
    void updateTrackingAreas() override;

private:
    QImage m_current;
    QImage m_previous;
    // The coming slide weakened to the fade, while a cross-fade is drawn.
    QImage m_fadeBuffer;
    double m_fade = 1.0;
    std::function<void()> m_onEnd;
    std::function<void()> m_onPointerMoved;
    std::function<void()> m_onResized;
    std::shared_ptr<kpv::TrackingArea> m_tracking;
};
