#include "Kit/LMImageScroller.h"

#include "Kit/LMNineSliceImageRep.h"
#include "appkit/GraphicsContext.h"

#include <algorithm>
#include <cmath>

void LMImageScroller::setKnobImageName(const QString& name, const QString& roll)
{
    m_knobImageName = name;
    m_knobImageNameRollover = roll;
}

void LMImageScroller::drawRect(const kpv::Rect&) { drawKnob(); }

void LMImageScroller::drawKnobSlotInRect(const kpv::Rect&, bool) {}

kpv::Rect LMImageScroller::knobImageRect(const kpv::Rect& k, double w)
{
    return kpv::Rect(std::max(k.x(), std::floor(k.x() + k.width() / 2 - w / 2)), k.y(), std::min(k.width(), w),
                     k.height());
}

void LMImageScroller::drawKnob()
{
    kpv::GraphicsContext* ctx = kpv::GraphicsContext::current();
    const kpv::Rect k = rectForPart(kpv::ScrollerKnob);
    if (!ctx || k.isEmpty())
        return;
    kpv::ImagePtr image;
    if (m_isMouseIn) {
        if (!m_knobImageRollover)
            m_knobImageRollover = LMNineSliceImageRep::loadImageWithoutExtension(m_knobImageNameRollover);
        image = m_knobImageRollover;
    } else {
        if (!m_knobImage)
            m_knobImage = LMNineSliceImageRep::loadImageWithoutExtension(m_knobImageName);
        image = m_knobImage;
    }
    if (image)
        ctx->drawImage(*image, knobImageRect(k, image->size().width), kpv::Rect(), kpv::CompositeSourceOver, 1.0);
}

void LMImageScroller::updateTrackingAreas()
{
    if (m_trackingArea)
        removeTrackingArea(m_trackingArea);
    m_trackingArea = std::make_shared<kpv::TrackingArea>(bounds(), 0x221, this);
    addTrackingArea(m_trackingArea);
}

void LMImageScroller::mouseEntered(const kpv::Event&)
{
    if (!isEnabled())
        return;
    m_isMouseIn = true;
    setNeedsDisplay();
}

void LMImageScroller::mouseExited(const kpv::Event&)
{
    if (!isEnabled())
        return;
    m_isMouseIn = false;
    setNeedsDisplay();
}
