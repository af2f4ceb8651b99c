#include "Slideshow/SlideshowView.h"

#include "appkit/Color.h"
#include "appkit/Event.h"
#include "appkit/GraphicsContext.h"
#include "appkit/TrackingArea.h"

#include <QPainter>
#include <algorithm>
#include <cmath>

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
    auto draw = [&](const QImage& image, double opacity, QPainter::CompositionMode mode) {
        if (image.isNull() || opacity <= 0)
            return;
        // An image's size in points: on a double-density screen an image made for it has two
        // pixels a point.
        const QSizeF points = image.deviceIndependentSize();
        const kpv::Rect r = fitRect(kpv::Size{points.width(), points.height()}, bounds());
        p->save();
        p->setOpacity(opacity);
        p->setCompositionMode(mode);
        // Smoothing costs a filtered read of every pixel; a slide drawn at its own size needs none.
        const bool ownSize = std::abs(r.width() - points.width()) < 0.01 && std::abs(r.height() - points.height()) < 0.01;
        p->setRenderHint(QPainter::SmoothPixmapTransform, !ownSize);
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
    if (m_previous.isNull() || m_fade >= 1.0) {
        m_fadeBuffer = QImage();
        draw(m_current, m_fade, QPainter::CompositionMode_SourceOver);
        return;
    }
    // A cross-fade mixes the two slides, (1 - fade) of the one leaving and fade of the one coming.
    // The coming one is added to the leaving one rather than laid over it, which would leave only
    // (1 - fade) x (1 - fade) of the leaving one below and dim the picture halfway through every
    // fade. It is weakened before it is added: the painter's adding at an opacity would clip the
    // sum first and then weaken it.
    draw(m_previous, 1.0 - m_fade, QPainter::CompositionMode_SourceOver);
    if (m_current.isNull() || m_fade <= 0)
        return;
    // One buffer for the whole fade: a new one for every frame would cost the fresh memory too.
    if (m_fadeBuffer.size() != m_current.size())
        m_fadeBuffer = QImage(m_current.size(), QImage::Format_ARGB32_Premultiplied);
    m_fadeBuffer.setDevicePixelRatio(m_current.devicePixelRatio());
    {
        QPainter weaken(&m_fadeBuffer);
        weaken.setCompositionMode(QPainter::CompositionMode_Source);
        weaken.fillRect(QRectF(QPointF(0, 0), m_fadeBuffer.deviceIndependentSize()), Qt::transparent);
        weaken.setCompositionMode(QPainter::CompositionMode_SourceOver);
        weaken.setOpacity(m_fade);
        weaken.drawImage(QPointF(0, 0), m_current);
    }
    draw(m_fadeBuffer, 1.0, QPainter::CompositionMode_Plus);
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
