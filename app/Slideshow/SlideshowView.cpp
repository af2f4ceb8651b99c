#include "Slideshow/SlideshowView.h"

#include "appkit/Color.h"
#include "appkit/Event.h"
#include "appkit/GraphicsContext.h"
#include "appkit/TrackingArea.h"

#include <QPainter>
#include <algorithm>

SlideshowView::SlideshowView()
{
    setAutoresizingMask(kpv::ViewWidthSizable | kpv::ViewHeightSizable);
    updateTrackingAreas();
}

void SlideshowView::updateTrackingAreas()
{
    if (m_tracking)
        removeTrackingArea(m_tracking);
    // Moves anywhere over the slideshow, also over the 3D layer and the controls inside it:
    // mouse moved, always active, in the visible rectangle.
    m_tracking = std::make_shared<kpv::TrackingArea>(bounds(), 0x02 | 0x80 | 0x200, this);
    addTrackingArea(m_tracking);
}

void SlideshowView::setFrame(const kpv::Rect& frame)
{
    const kpv::Size before = bounds().size;
    kpv::View::setFrame(frame);
    if (!(bounds().size == before) && m_onResized)
        m_onResized();
}

void SlideshowView::mouseMoved(const kpv::Event&)
{
    if (m_onPointerMoved)
        m_onPointerMoved();
}

void SlideshowView::setSlides(const QImage& current, const QImage& previous, double fade)
{
    m_current = current;
    m_previous = previous;
    m_fade = std::clamp(fade, 0.0, 1.0);
    setNeedsDisplay();
}

kpv::Rect SlideshowView::fitRect(const kpv::Size& imageSize, const kpv::Rect& bounds)
{
    if (imageSize.width <= 0 || imageSize.height <= 0 || bounds.width() <= 0 || bounds.height() <= 0)
        return kpv::Rect();
    const double scale = std::min({1.0, bounds.width() / imageSize.width, bounds.height() / imageSize.height});
    const double w = imageSize.width * scale, h = imageSize.height * scale;
    return kpv::Rect(bounds.origin.x + (bounds.width() - w) / 2, bounds.origin.y + (bounds.height() - h) / 2, w, h);
}

void SlideshowView::drawRect(const kpv::Rect&)
{
    kpv::GraphicsContext* gc = kpv::GraphicsContext::current();
    if (!gc)
        return;
    gc->fillRect(bounds(), kpv::Color(0, 0, 0, 1));
    QPainter* p = gc->painter();
    auto draw = [&](const QImage& image, double opacity) {
        if (image.isNull() || opacity <= 0)
            return;
        // An image's size in points: on a double-density screen an image made for it has two
        // pixels a point.
        const QSizeF points = image.deviceIndependentSize();
        const kpv::Rect r = fitRect(kpv::Size{points.width(), points.height()}, bounds());
        p->save();
        p->setOpacity(opacity);
        p->setRenderHint(QPainter::SmoothPixmapTransform);
        // The painter follows the view's coordinates (y up unless flipped): draw the image upright.
        if (!gc->isFlipped()) {
            p->translate(r.origin.x, r.origin.y + r.height());
            p->scale(1, -1);
            p->drawImage(QRectF(0, 0, r.width(), r.height()), image);
        } else {
            p->drawImage(QRectF(r.origin.x, r.origin.y, r.width(), r.height()), image);
        }
        p->restore();
    };
    draw(m_previous, 1.0 - m_fade);
    draw(m_current, m_fade);
}

void SlideshowView::keyDown(const kpv::Event& e)
{
    if (e.keyCode() == kpv::KeyCode::Escape && m_onEnd) {
        m_onEnd();
        return;
    }
    kpv::View::keyDown(e);
}

void SlideshowView::mouseDown(const kpv::Event&)
{
    if (m_onEnd)
        m_onEnd();
}
