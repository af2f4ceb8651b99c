#include "Edit/CropPreviewView.h"

#include "View/LMOpenGLShadowTexture.h"
#include "appkit/Cursor.h"
#include "appkit/Event.h"
#include "appkit/GraphicsContext.h"
#include "foundation/Timer.h"

namespace {
constexpr double kFrameInterval = 1.0 / 60.0;

kpv::Rect toRect(const QRectF &r) { return kpv::Rect(r.x(), r.y(), r.width(), r.height()); }
QRectF toQRect(const kpv::Rect &r) { return QRectF(r.x(), r.y(), r.width(), r.height()); }
} // namespace

CropPreviewView::CropPreviewView(const kpv::Rect &frame) : kpv::View(frame)
{
    setViewBounds(toQRect(bounds()));
    setNotificationObject(this);
    setAcceptsTouchPinch(true);
}

CropPreviewView::~CropPreviewView()
{
    if (m_frameTimer)
        m_frameTimer->invalidate();
    abortZoom();
}

void CropPreviewView::showImage(const LMImagePtr &image)
{
    if (image == imageNormal() && image)
        return;
    didChangeFile();
    m_picture = image ? std::make_shared<kpv::Image>(image->convertToImage()) : nullptr;
    if (image)
        setImage(image, ImageModeNormal);
    setNeedsDisplay();
}

void CropPreviewView::setShadowImage(const kpv::ImagePtr &image, QPointF sliceSizeLeftTop, QPointF sliceSizeRightBottom,
                                     QPointF drawOffsetLeftTop, QPointF drawOffsetRightBottom)
{
    m_shadow = image && image->isValid() ? image : nullptr;
    m_sliceLeftTop = sliceSizeLeftTop;
    m_sliceRightBottom = sliceSizeRightBottom;
    m_drawOffsetLeftTop = drawOffsetLeftTop;
    m_drawOffsetRightBottom = drawOffsetRightBottom;
    setNeedsDisplay();
}

QRectF CropPreviewView::shadowRect() const
{
    if (!m_shadow || !m_picture || !imageNormal() || !shadowEnabled())
        return QRectF();
    const QRectF i = imageVisibleViewRect();
    const QPointF lt = m_drawOffsetLeftTop, rb = m_drawOffsetRightBottom;
    // y grows upwards: the bottom offset lowers the origin, the top one adds to the height.
    return QRectF(i.x() - lt.x(), i.y() - rb.y(), i.width() + lt.x() + rb.x(), i.height() + lt.y() + rb.y());
}

void CropPreviewView::setFrame(const kpv::Rect &frame)
{
    const bool sameSize = frame.size == this->frame().size;
    kpv::View::setFrame(frame);
    if (sameSize)
        return;
    setViewBounds(toQRect(bounds()));
    abortZoom();
    redrawImage();
}

void CropPreviewView::drawRect(const kpv::Rect &)
{
    kpv::GraphicsContext *gc = kpv::GraphicsContext::current();
    if (!gc || !m_picture || !imageNormal())
        return;
    const QRectF shadow = shadowRect();
    if (!shadow.isEmpty()) {
        const kpv::Size picture = m_shadow->size();
        for (const LMOpenGLShadowTexture::Part &part :
             LMOpenGLShadowTexture::shadowParts(shadow, QSizeF(picture.width, picture.height), m_sliceLeftTop,
                                                m_sliceRightBottom)) {
            if (part.destination.width() <= 0 || part.destination.height() <= 0)
                continue;
            // The parts count picture rows from the top; the image's own coordinates from the bottom.
            const QRectF &q = part.picture;
            gc->drawImage(*m_shadow, toRect(part.destination),
                          kpv::Rect(q.x(), picture.height - q.y() - q.height(), q.width(), q.height()));
        }
    }
    gc->saveGraphicsState();
    gc->painter()->setRenderHint(QPainter::SmoothPixmapTransform, true);
    gc->drawImage(*m_picture, toRect(imageVisibleViewRect()));
    gc->restoreGraphicsState();
}

QPointF CropPreviewView::pointInView(const kpv::Event &e) const
{
    const kpv::Point p = convertPointFromView(e.locationInWindow(), nullptr);
    return QPointF(p.x, p.y);
}

void CropPreviewView::scrollWheel(const kpv::Event &e)
{
    if (!handleScrollWheel(e, pointInView(e)))
        kpv::View::scrollWheel(e);
}

void CropPreviewView::magnifyWithEvent(const kpv::Event &e)
{
    // On a touch screen the first finger of a pinch arrives as a press: it does not drag too.
    m_dragging = false;
    if (!handleMagnify(e))
        kpv::View::magnifyWithEvent(e);
}

void CropPreviewView::smartMagnifyWithEvent(const kpv::Event &e)
{
    if (!handleSmartMagnify())
        kpv::View::smartMagnifyWithEvent(e);
}

void CropPreviewView::mouseDown(const kpv::Event &e)
{
    const QPointF p = pointInView(e);
    if (!takesMouseDown(p, e.clickCount()) || !canDragImage(p)) {
        kpv::View::mouseDown(e);
        return;
    }
    stopZoomTimer();
    m_dragging = true;
    m_dragPoint = p;
    kpv::Cursor::closedHandCursor().set();
}

void CropPreviewView::mouseDragged(const kpv::Event &e)
{
    if (!m_dragging) {
        kpv::View::mouseDragged(e);
        return;
    }
    const QPointF p = pointInView(e);
    moveImageByDeltaPoint(p - m_dragPoint);
    m_dragPoint = p;
}

void CropPreviewView::mouseUp(const kpv::Event &e)
{
    if (!m_dragging) {
        kpv::View::mouseUp(e);
        return;
    }
    m_dragging = false;
    kpv::Cursor::arrowCursor().set();
    setNeedsUpdateDrawContent();
}

void CropPreviewView::setNeedsUpdateDrawContent()
{
    LMImageViewModel::setNeedsUpdateDrawContent();
    setNeedsDisplay();
}

void CropPreviewView::setLayerAsynchronous(bool asynchronous)
{
    if (asynchronous == isLayerAsynchronous())
        return;
    LMImageViewModel::setLayerAsynchronous(asynchronous);
    if (m_frameTimer) {
        m_frameTimer->invalidate();
        m_frameTimer.reset();
    }
    if (asynchronous)
        m_frameTimer = kpv::Timer::scheduled(
            kFrameInterval, true,
            [this](kpv::Timer &) {
                advanceZoomForFrame();
                setNeedsDisplay();
            },
            kpv::TimerMode::Common);
}
