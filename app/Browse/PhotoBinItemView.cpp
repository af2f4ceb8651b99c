#include "Browse/PhotoBinItemView.h"

#include "Kit/LMImageView.h"
#include "Kit/LMMultiSliceImageView.h"

#include "appkit/Color.h"
#include "appkit/GraphicsContext.h"

PhotoBinItemView::PhotoBinItemView(const kpv::Rect& frame, LMNineSliceImageRepPtr background, kpv::ImagePtr rollImage,
                                   kpv::ImagePtr selectImage, kpv::ImagePtr loveImage)
    : LMNineSliceImageView(frame, std::move(background)), m_rollImage(std::move(rollImage)),
      m_selectImage(std::move(selectImage)), m_loveImage(std::move(loveImage))
{
}

std::unique_ptr<PhotoBinItemView> PhotoBinItemView::copy() const
{
    return std::make_unique<PhotoBinItemView>(frame(), bkNineSliceImageRep(), m_rollImage, m_selectImage, m_loveImage);
}

void PhotoBinItemView::setImage(const QImage& image, std::int64_t angle)
{
    if (image.cacheKey() == m_image.cacheKey() && image.isNull() == m_image.isNull() && angle == m_imageAngle)
        return;
    if (bounds() == kpv::Rect())
        return;
    m_image = image;
    m_imageAngle = angle;
    setNeedsDisplay();
}

void PhotoBinItemView::setSelect(bool v)
{
    if (v != m_select) {
        m_select = v;
        setNeedsDisplay();
    }
}

void PhotoBinItemView::setRollover(bool v)
{
    if (v != m_rollover) {
        m_rollover = v;
        setNeedsDisplay();
    }
}

void PhotoBinItemView::setLoved(bool v)
{
    if (v != m_loved) {
        m_loved = v;
        setNeedsDisplay();
    }
}

void PhotoBinItemView::updateTrackingAreas()
{
    if (m_trackingArea)
        removeTrackingArea(m_trackingArea);
    m_trackingArea = std::make_shared<kpv::TrackingArea>(
        bounds(), kpv::TrackingMouseEnteredAndExited | kpv::TrackingActiveInKeyWindow | kpv::TrackingInVisibleRect, this);
    addTrackingArea(m_trackingArea);
}

void PhotoBinItemView::drawRect(const kpv::Rect& dirtyRect)
{
    LMNineSliceImageView::drawRect(dirtyRect);
    kpv::GraphicsContext* g = kpv::GraphicsContext::current();
    if (!g)
        return;
    const kpv::Rect b = bounds();
    const kpv::Rect inner(b.x() + 2, b.y() + 2, b.width() - 4, b.height() - 4);
    g->fillRect(inner, kpv::Color(1.0, 1.0, 1.0, 1.0));
    if (!m_image.isNull()) {
        const kpv::Image picture(m_image);
        LMImageView::drawImage(&picture, m_imageAngle, 4, inner);
    }
    const kpv::ImagePtr& overlay = m_rollover ? m_rollImage : (m_select ? m_selectImage : nullptr);
    if (overlay && overlay->isValid()) {
        const kpv::Size s = overlay->size();
        LMMultiSliceImageView::drawMultiSliceImageImage(overlay, b, {10, s.height - 10}, {10, s.width - 10});
    }
    if (m_loved && m_loveImage && m_loveImage->isValid()) {
        const kpv::Size s = m_loveImage->size();
        g->drawImage(*m_loveImage, kpv::Rect(b.x() + b.width() - 12 - s.width / 2, b.y() + 2, s.width, s.height));
    }
}
