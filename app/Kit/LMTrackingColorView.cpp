#include "Kit/LMTrackingColorView.h"

#include "appkit/GraphicsContext.h"

void LMTrackingColorView::setBkgrdColor(const kpv::Color& bkgrd, const kpv::Color& roll)
{
    m_bkgrdColor = bkgrd;
    m_rollColor = roll;
    setNeedsDisplay();
}

void LMTrackingColorView::updateTrackingAreas()
{
    if (m_trackingArea)
        removeTrackingArea(m_trackingArea);
    m_trackingArea = std::make_shared<kpv::TrackingArea>(bounds(), m_trackingActiveInActiveApp ? 0x261 : 0x221, this);
    addTrackingArea(m_trackingArea);
}

void LMTrackingColorView::mouseEntered(const kpv::Event&)
{
    m_isMouseIn = true;
    setNeedsDisplay();
}

void LMTrackingColorView::mouseExited(const kpv::Event&)
{
    m_isMouseIn = false;
    setNeedsDisplay();
}

void LMTrackingColorView::drawRect(const kpv::Rect& dirty)
{
    if (auto* gc = kpv::GraphicsContext::current()) {
        const kpv::Color& c = m_isMouseIn ? m_rollColor : m_bkgrdColor;
        if (c.isValid())
            gc->fillRect(dirty, c);
    }
}
