#include "Shell/Panels/LM3DRotateImageView.h"

#include "Model/LMImageTools.h"
#include "appkit/GraphicsContext.h"

#include <algorithm>
#include <cmath>

LM3DRotateImageView::LM3DRotateImageView(const kpv::Rect& frame) : LMLayerView(frame)
{
    layer()->addSublayer(m_imgLayer);
}

void LM3DRotateImageView::setImage(kpv::ImagePtr image, const LMImageRotateAngle& angle)
{
    if (image == m_image && angle == m_imageAngle)
        return;
    m_image = std::move(image);
    m_imageAngle = angle;
    if (m_image)
        m_shownImage = m_image;
    setNeedsDisplay();
}

void LM3DRotateImageView::setImageScaling(std::int64_t mode)
{
    if (mode == m_imageScaling)
        return;
    m_imageScaling = mode;
    setNeedsDisplay();
}

kpv::Rect LM3DRotateImageView::imageRect() const
{
    if (!m_shownImage || !m_shownImage->isValid())
        return kpv::Rect();
    const kpv::Size s = m_shownImage->size();
    const int degrees = int(std::trunc(m_imageAngle.angleRotate()));
    const QSizeF turned = LMImageTools::calcRotatedSize(QSizeF(s.width, s.height), degrees);
    const QSizeF fitted = LMImageTools::calcScalingSize(turned, QSizeF(bounds().width(), bounds().height()), int(m_imageScaling));
    const kpv::Rect b = bounds();
    return kpv::integralRect(kpv::Rect(b.midX() - fitted.width() / 2, b.midY() - fitted.height() / 2, fitted.width(),
                                       fitted.height()));
}

void LM3DRotateImageView::drawRect(const kpv::Rect&)
{
    kpv::GraphicsContext* gc = kpv::GraphicsContext::current();
    const kpv::Rect target = imageRect();
    if (!gc || target.isEmpty())
        return;
    const kpv::Size s = m_shownImage->size();
    const int degrees = int(std::trunc(m_imageAngle.angleRotate()));
    const QSizeF turned = LMImageTools::calcRotatedSize(QSizeF(s.width, s.height), degrees);
    gc->saveGraphicsState();
    gc->clipToRect(bounds());
    gc->painter()->setRenderHint(QPainter::SmoothPixmapTransform, true);
    gc->translate(target.midX(), target.midY());
    // The flips mirror the turned picture on screen, as the main view does.
    gc->scale(m_imageAngle.isHorizontalFlipped() ? -1 : 1, m_imageAngle.isVerticalFlipped() ? -1 : 1);
    gc->scale(target.width() / turned.width(), target.height() / turned.height());
    gc->rotate(-double(degrees));
    gc->translate(-s.width / 2, -s.height / 2);
    // The picture scaled once, smoothly, to the pixels it covers at the layer's content scale;
    // made again only when its place, scale or picture changes.
    const double pixels = m_imgLayer->contentsScale() * target.width() / turned.width();
    const QSize want(std::max(1, int(std::lround(s.width * pixels))), std::max(1, int(std::lround(s.height * pixels))));
    const QImage& source = m_shownImage->bestRepresentation(m_imgLayer->contentsScale());
    if (m_drawn.size() != want || m_drawnSource != source.cacheKey()) {
        m_drawn = source.scaled(want, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
        m_drawnSource = source.cacheKey();
    }
    gc->drawImage(kpv::Image(m_drawn, pixels), kpv::Rect(0, 0, s.width, s.height));
    gc->restoreGraphicsState();
}
