#pragma once

#include "appkit/Image.h"

class LMThumbZoomSliderCell;

// What the zoom slider's cell asks of its control view.
class LMThumbZoomSliderCellDelegate {
public:
    virtual ~LMThumbZoomSliderCellDelegate() = default;
    virtual kpv::ImagePtr sliderCellKnobImage(LMThumbZoomSliderCell* cell) = 0;
    // Writes the track's left and right margins through the pointers that are not null.
    virtual void sliderCell(LMThumbZoomSliderCell* cell, double* backgroundLineMarginLeft, double* marginRight) = 0;
};
