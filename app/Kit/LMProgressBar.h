#pragma once
// The skinned progress bar: a sliced background and a progress image stretched to the value.

#include "Kit/LMNineSliceImageRep.h"
#include "appkit/View.h"

class LMProgressBar : public kpv::View {
public:
    explicit LMProgressBar(const kpv::Rect& frame = kpv::Rect()) : kpv::View(frame) {}

    // Nothing changes (the margins included) when both the image and the record are the ones
    // already stored.
    void setProgessImage(kpv::ImagePtr image, double progressMarginLeft, double progressMarginRight,
                         LMNineSliceImageRepPtr backgroundImageRep);
    double doubleValue() const { return m_doubleValue; }
    double minValue() const { return m_minValue; }
    double maxValue() const { return m_maxValue; }
    // Not clamped; redraws when changed or after a range change.
    void setDoubleValue(double value);
    void setMinValue(double value);
    void setMaxValue(double value);
    bool minMaxModified() const { return m_minMaxModified; }

    // Where the progress image goes in the bounds; empty when nothing is drawn.
    kpv::Rect progressRect() const;
    void drawRect(const kpv::Rect& dirty) override;

private:
    kpv::ImagePtr m_progessImage;
    double m_progressMarginLeft = 0;
    double m_progressMarginRight = 0;
    LMNineSliceImageRepPtr m_backgroundImageRep;
    double m_minValue = 0, m_maxValue = 0, m_doubleValue = 0;
    bool m_minMaxModified = false;
};
