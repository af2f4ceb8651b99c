#pragma once
// The zoom slider's cell: a skinned track ("bg_zoom", its ends kept) and a knob image supplied
// by the slider.

#include "Kit/LMThumbZoomSliderCellDelegate.h"
#include "appkit/Control.h"

class LMThumbZoomSliderCell : public kpv::SliderCell {
public:
    kpv::Rect knobRectFlipped(bool flipped) const override;
    void drawWithFrame(const kpv::Rect& frame, kpv::View* view) override;
    void drawKnob(const kpv::Rect& knobRect) override;
    using kpv::SliderCell::drawKnob;
    // The track rectangle for a frame, image height and margins (for drawing and tests).
    static kpv::Rect trackRect(const kpv::Rect& frame, double imageHeight, double left, double right);

private:
    LMThumbZoomSliderCellDelegate* delegate() const;
    kpv::ImagePtr m_bkgrdImage;
};
