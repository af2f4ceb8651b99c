#include "Browse/FavFileSnapshotView.h"

#include "Kit/LMImageView.h"

#include "appkit/Image.h"

void FavFileSnapshotView::setImage(const QImage& image, std::int64_t angle)
{
    if (image.cacheKey() == m_image.cacheKey() && image.isNull() == m_image.isNull() && angle == m_imageAngle)
        return;
    m_image = image;
    m_imageAngle = angle;
    m_imageVisibleRect = kpv::Rect();
    setNeedsDisplay();
}

void FavFileSnapshotView::zoomImageToRect(const kpv::Rect& rect)
{
    m_imageVisibleRect = rect;
    setNeedsDisplay();
}

void FavFileSnapshotView::drawRect(const kpv::Rect&)
{
    if (m_image.isNull())
        return;
    const kpv::Image picture(m_image);
    LMImageView::drawImage(&picture, m_imageAngle, 1, targetRect());
}
