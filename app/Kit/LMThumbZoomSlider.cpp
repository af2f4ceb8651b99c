#include "Kit/LMThumbZoomSlider.h"

#include "Kit/LMNineSliceImageRep.h"
#include "appkit/Window.h"

LMThumbZoomSlider::LMThumbZoomSlider(const kpv::Rect& frame) : kpv::Slider(frame)
{
    setCell(std::make_unique<LMThumbZoomSliderCell>());
    commonInitLMThumbZoomSlider();
}

void LMThumbZoomSlider::commonInitLMThumbZoomSlider()
{
    m_backgroundLineMarginLeft = 5;
    m_backgroundLineMarginRight = 6;
    m_imageName = "TM_Zoom";
    m_images.clear();
}

void LMThumbZoomSlider::setImageName(const QString& name)
{
    if (name == m_imageName)
        return;
    m_imageName = name;
    m_images.clear();
    setNeedsDisplay();
}

void LMThumbZoomSlider::updateTrackingAreas()
{
    if (m_trackingArea)
        removeTrackingArea(m_trackingArea);
    m_trackingArea = std::make_shared<kpv::TrackingArea>(bounds(), 0x223, this);
    addTrackingArea(m_trackingArea);
}

void LMThumbZoomSlider::mouseEntered(const kpv::Event& e)
{
    if (isEnabled())
        updateKnobMouseInStatebyLocationInWindow(e.locationInWindow());
}

void LMThumbZoomSlider::mouseExited(const kpv::Event& e)
{
    if (isEnabled())
        updateKnobMouseInStatebyLocationInWindow(e.locationInWindow());
}

void LMThumbZoomSlider::mouseMoved(const kpv::Event& e)
{
    if (!isEnabled())
        return;
    kpv::Slider::mouseMoved(e);
    updateKnobMouseInStatebyLocationInWindow(e.locationInWindow());
}

bool LMThumbZoomSlider::isOnKnobForLocationInWindow(kpv::Point p) const
{
    const kpv::Point local = convertPointFromView(p, nullptr);
    return cell() && kpv::pointInRect(local, cell()->knobRectFlipped(isFlipped()));
}

void LMThumbZoomSlider::updateKnobMouseInStatebyLocationInWindow(kpv::Point p)
{
    const bool in = isOnKnobForLocationInWindow(p);
    if (in != m_isMouseIn) {
        m_isMouseIn = in;
        setNeedsDisplay();
    }
}

void LMThumbZoomSlider::mouseDown(const kpv::Event& e)
{
    if (!isEnabled())
        return;
    if (isOnKnobForLocationInWindow(e.locationInWindow())) {
        m_isMouseDownOnKnob = true;
        setNeedsDisplay();
    }
    m_isTracking = true;
    kpv::Slider::mouseDown(e);
    m_isTracking = false;
    if (m_isMouseDownOnKnob) {
        m_isMouseDownOnKnob = false;
        setNeedsDisplay();
    }
    if (m_trackingEndAction) {
        const std::function<void()> action = m_trackingEndAction; // it may replace itself
        action();
    }
}

void LMThumbZoomSlider::resetCursorRects() { addCursorRect(bounds(), kpv::Cursor::arrowCursor()); }

int LMThumbZoomSlider::knobVisualStateByLocationInWindow(kpv::Point p) const
{
    if (m_isMouseDownOnKnob)
        return 2;
    return isOnKnobForLocationInWindow(p) ? 1 : 0;
}

kpv::ImagePtr LMThumbZoomSlider::imageByState(int state)
{
    if (auto it = m_images.find(state); it != m_images.end())
        return it->second;
    kpv::ImagePtr image;
    if (state == 0)
        image = LMNineSliceImageRep::loadImageWithoutExtension(m_imageName);
    else if (state == 1) {
        image = LMNineSliceImageRep::loadImageWithoutExtension(m_imageName + "R");
        if (!image)
            image = imageByState(0);
    } else if (state == 2) {
        image = LMNineSliceImageRep::loadImageWithoutExtension(m_imageName + "P");
        if (!image)
            image = imageByState(1);
    }
    if (image)
        m_images[state] = image;
    return image;
}

kpv::ImagePtr LMThumbZoomSlider::sliderCellKnobImage(LMThumbZoomSliderCell*)
{
    const kpv::Point p = window() ? window()->mouseLocationOutsideOfEventStream() : kpv::Point{-1e9, -1e9};
    return imageByState(knobVisualStateByLocationInWindow(p));
}

void LMThumbZoomSlider::sliderCell(LMThumbZoomSliderCell*, double* left, double* right)
{
    if (left)
        *left = m_backgroundLineMarginLeft;
    if (right)
        *right = m_backgroundLineMarginRight;
}
