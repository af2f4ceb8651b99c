#include "Kit/LMThumbZoomSliderCell.h"

#include "Kit/LMMultiSliceImageView.h"
#include "Kit/LMNineSliceImageRep.h"
#include "appkit/GraphicsContext.h"

LMThumbZoomSliderCellDelegate* LMThumbZoomSliderCell::delegate() const
{
    return dynamic_cast<LMThumbZoomSliderCellDelegate*>(controlView());
}

kpv::Rect LMThumbZoomSliderCell::knobRectFlipped(bool flipped) const
{
    const kpv::Rect r = kpv::SliderCell::knobRectFlipped(flipped);
    const kpv::Slider* slider = controlView();
    if (!slider)
        return r;
    const kpv::Rect b = slider->bounds();
    if (kpv::intersectionRect(r, b) == r)
        return r;
    const double range = slider->maxValue() - slider->minValue();
    if (range == 0)
        return r;
    // A knob sticking out of the bounds is placed by the value along the whole width.
    const double x = b.x() + (slider->doubleValue() - slider->minValue()) * (b.width() - r.width()) / range;
    const double y = b.y() + b.height() / 2 - r.height() / 2;
    return kpv::integralRect(kpv::Rect(x, y, r.width(), r.height()));
}

kpv::Rect LMThumbZoomSliderCell::trackRect(const kpv::Rect& f, double ih, double left, double right)
{
    return kpv::Rect(f.x() + left, f.y() + f.height() / 2 - ih / 2, f.width() - (left + right), ih);
}

void LMThumbZoomSliderCell::drawWithFrame(const kpv::Rect& frame, kpv::View*)
{
    double left = 0, right = 0;
    if (auto* d = delegate())
        d->sliderCell(this, &left, &right);
    if (!m_bkgrdImage)
        m_bkgrdImage = LMNineSliceImageRep::loadImageWithoutExtension("bg_zoom");
    if (m_bkgrdImage) {
        const kpv::Size s = m_bkgrdImage->size();
        LMMultiSliceImageView::drawMultiSliceImageImage(m_bkgrdImage, trackRect(frame, s.height, left, right), {},
                                                        {6, s.width - 6});
    }
    kpv::SliderCell::drawKnob();
}

void LMThumbZoomSliderCell::drawKnob(const kpv::Rect& r)
{
    auto* d = delegate();
    if (!d) {
        kpv::SliderCell::drawKnob(r);
        return;
    }
    kpv::ImagePtr image = d->sliderCellKnobImage(this);
    kpv::GraphicsContext* ctx = kpv::GraphicsContext::current();
    if (!image || !ctx)
        return;
    const kpv::Size s = image->size();
    ctx->drawImage(*image,
                   kpv::Rect(r.x() + r.width() / 2 - s.width / 2, r.y() + r.height() / 2 - s.height / 2, s.width, s.height),
                   kpv::Rect(), kpv::CompositeSourceOver, 1.0);
}
