#pragma once
// The thumbnail zoom slider of the tool bars: a skinned track and a knob whose image follows
// the pointer (normal, over the knob, pressed on the knob).

#include "Kit/LMThumbZoomSliderCell.h"
#include "appkit/Control.h"

#include <QString>
#include <functional>
#include <map>

class LMThumbZoomSlider : public kpv::Slider, public LMThumbZoomSliderCellDelegate {
public:
    explicit LMThumbZoomSlider(const kpv::Rect& frame = kpv::Rect());

    QString imageName() const { return m_imageName; }
    void setImageName(const QString& name);
    double backgroundLineMarginLeft() const { return m_backgroundLineMarginLeft; }
    double backgroundLineMarginRight() const { return m_backgroundLineMarginRight; }
    bool isMouseIn() const { return m_isMouseIn; }
    bool isMouseDownOnKnob() const { return m_isMouseDownOnKnob; }
    // True while the mouse that went down on the slider is held: a continuous slider's actions
    // then come one per move, and work that should wait until the knob is let go can see so.
    bool isTracking() const { return m_isTracking; }
    // Called once the mouse that went down on the slider is let go, after the last action.
    void setTrackingEndAction(std::function<void()> action) { m_trackingEndAction = std::move(action); }

    void updateTrackingAreas() override;
    void mouseEntered(const kpv::Event& e) override;
    void mouseExited(const kpv::Event& e) override;
    void mouseMoved(const kpv::Event& e) override;
    void mouseDown(const kpv::Event& e) override;
    void resetCursorRects() override;

    bool isOnKnobForLocationInWindow(kpv::Point p) const;
    void updateKnobMouseInStatebyLocationInWindow(kpv::Point p);
    int knobVisualStateByLocationInWindow(kpv::Point p) const;
    kpv::ImagePtr imageByState(int knobState);

    kpv::ImagePtr sliderCellKnobImage(LMThumbZoomSliderCell* cell) override;
    void sliderCell(LMThumbZoomSliderCell* cell, double* left, double* right) override;

private:
    void commonInitLMThumbZoomSlider();
    QString m_imageName;
    double m_backgroundLineMarginLeft = 0;
    double m_backgroundLineMarginRight = 0;
    bool m_isMouseIn = false;
    bool m_isMouseDownOnKnob = false;
    bool m_isTracking = false;
    std::function<void()> m_trackingEndAction;
    kpv::TrackingAreaPtr m_trackingArea;
    std::map<int, kpv::ImagePtr> m_images;
};
