#include "Kit/LMImageView.h"

#include "Model/LMImageTools.h"
#include "appkit/GraphicsContext.h"

void LMImageView::setImage(kpv::ImagePtr image, std::int64_t angle)
{
    if (image == m_image && angle == m_imageAngle)
        return;
    m_image = std::move(image);
    m_imageAngle = angle;
    setNeedsDisplay();
}

void LMImageView::setImageScaling(std::int64_t mode)
{
    if (mode == m_imageScaling)
        return;
    m_imageScaling = mode;
    setNeedsDisplay();
}

void LMImageView::drawRect(const kpv::Rect&) { drawImage(m_image.get(), m_imageAngle, m_imageScaling, bounds()); }

kpv::Rect LMImageView::imageTargetRect(kpv::Size s, std::int64_t angle, std::int64_t scaling, const kpv::Rect& r)
{
    if (r == kpv::Rect() || s.width <= 0 || s.height <= 0)
        return kpv::Rect();
    const QSizeF rs = LMImageTools::calcRotatedSize(QSizeF(s.width, s.height), int(angle % 360));
    const QSizeF t = LMImageTools::calcScalingSize(rs, QSizeF(r.width(), r.height()), int(scaling));
    return kpv::integralRect(
        kpv::Rect(r.midX() - t.width() / 2, r.midY() - t.height() / 2, t.width(), t.height()));
}

void LMImageView::drawImage(const kpv::Image* image, std::int64_t angle, std::int64_t scaling, const kpv::Rect& r)
{
    kpv::GraphicsContext* gc = kpv::GraphicsContext::current();
    if (!gc || !image || !image->isValid() || r == kpv::Rect())
        return;
    const kpv::Size s = image->size();
    const kpv::Rect d = imageTargetRect(s, angle, scaling, r);
    if (d.isEmpty())
        return;
    const QSizeF rs = LMImageTools::calcRotatedSize(QSizeF(s.width, s.height), int(angle % 360));
    gc->saveGraphicsState();
    gc->clipToRect(kpv::intersectionRect(d, r));
    gc->painter()->setRenderHint(QPainter::Antialiasing, true);
    gc->painter()->setRenderHint(QPainter::SmoothPixmapTransform, true);
    gc->translate(r.midX(), r.midY());
    gc->scale(d.width() / rs.width(), d.height() / rs.height());
    // Positive angles turn clockwise on screen.
    gc->rotate(-double(angle));
    gc->translate(-s.width / 2, -s.height / 2);
    gc->drawImage(*image, kpv::Rect(0, 0, s.width, s.height));
    gc->restoreGraphicsState();
}
