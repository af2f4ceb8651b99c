#include "Shell/Panels/LM3DRotateImageView.h"

#include "Model/LMImageTools.h"
#include "appkit/GraphicsContext.h"

#include <cmath>

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
    gc->drawImage(*m_shownImage, kpv::Rect(0, 0, s.width, s.height));
    gc->restoreGraphicsState();
}
