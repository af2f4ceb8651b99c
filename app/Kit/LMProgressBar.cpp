#include "Kit/LMProgressBar.h"

#include "Kit/LMMultiSliceImageView.h"
#include "appkit/GraphicsContext.h"

void LMProgressBar::setProgessImage(kpv::ImagePtr image, double left, double right, LMNineSliceImageRepPtr rep)
{
    if (image == m_progessImage && rep == m_backgroundImageRep)
        return;
    m_progessImage = std::move(image);
    m_progressMarginLeft = left;
    m_progressMarginRight = right;
    m_backgroundImageRep = std::move(rep);
    setNeedsDisplay();
}

void LMProgressBar::setDoubleValue(double value)
{
    if (value == m_doubleValue && !m_minMaxModified)
        return;
    m_doubleValue = value;
    m_minMaxModified = false;
    setNeedsDisplay();
}

void LMProgressBar::setMinValue(double value)
{
    if (value == m_minValue)
        return;
    m_minValue = value;
    if (m_doubleValue < value)
        m_doubleValue = value;
    m_minMaxModified = true;
}

void LMProgressBar::setMaxValue(double value)
{
    if (value == m_maxValue)
        return;
    m_maxValue = value;
    if (m_doubleValue > value)
        m_doubleValue = value;
    m_minMaxModified = true;
}

kpv::Rect LMProgressBar::progressRect() const
{
    const double range = m_maxValue - m_minValue;
    const double done = m_doubleValue - m_minValue;
    if (range <= 0 || !m_progessImage || done <= 0)
        return kpv::Rect();
    const kpv::Rect b = bounds();
    const kpv::Size s = m_progessImage->size();
    const double available = b.width() - (m_progressMarginLeft + m_progressMarginRight);
    return kpv::Rect(b.x() + m_progressMarginLeft, b.y() + b.height() / 2 - s.height / 2, done * available / range,
                     s.height);
}

void LMProgressBar::drawRect(const kpv::Rect&)
{
    kpv::GraphicsContext* ctx = kpv::GraphicsContext::current();
    if (!ctx)
        return;
    const kpv::Rect b = bounds();
    if (m_backgroundImageRep && m_backgroundImageRep->nineSliceImage()) {
        const kpv::ImagePtr& bg = m_backgroundImageRep->nineSliceImage();
        const kpv::Size s = bg->size();
        LMMultiSliceImageView::drawMultiSliceImageImage(
            bg, kpv::Rect(b.x(), b.y() + b.height() / 2 - s.height / 2, b.width(), s.height), {},
            {m_backgroundImageRep->nineSliceSizeLeftTop().x, s.width - m_backgroundImageRep->nineSliceSizeRightBottom().x});
    }
    const kpv::Rect r = progressRect();
    if (!r.isEmpty())
        ctx->drawImage(*m_progessImage, r, kpv::Rect(), kpv::CompositeSourceOver, 1.0);
}
