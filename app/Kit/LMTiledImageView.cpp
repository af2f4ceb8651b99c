#include "Kit/LMTiledImageView.h"

#include "appkit/GraphicsContext.h"

void LMTiledImageView::setTileImage(kpv::ImagePtr image)
{
    if (image == m_tileImage)
        return;
    m_tileImage = std::move(image);
    setNeedsDisplay();
}

void LMTiledImageView::setTileImage(kpv::ImagePtr image, bool) { setTileImage(std::move(image)); }

void LMTiledImageView::drawRect(const kpv::Rect&)
{
    kpv::GraphicsContext* ctx = kpv::GraphicsContext::current();
    if (!ctx || !m_tileImage || !m_tileImage->isValid())
        return;
    const kpv::Size s = m_tileImage->size();
    ctx->drawTiledImage(*m_tileImage, kpv::Rect(0, 0, s.width, s.height), bounds());
}
