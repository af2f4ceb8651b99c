#pragma once
// A scroller drawn from images: a transparent track and a knob image of its own width, centred
// across the knob, with a roll-over image while the pointer is over the scroller.

#include "appkit/Control.h"
#include "appkit/Image.h"

#include <QString>

class LMImageScroller : public kpv::Scroller {
public:
    explicit LMImageScroller(const kpv::Rect& frame = kpv::Rect()) : kpv::Scroller(frame) {}

    // Images already loaded stay in use.
    void setKnobImageName(const QString& name, const QString& knobRollImageName);
    bool isMouseIn() const { return m_isMouseIn; }

    void drawRect(const kpv::Rect& dirty) override;
    void drawKnob() override;
    void drawKnobSlotInRect(const kpv::Rect& slot, bool highlight) override;
    // Where the knob image goes for a knob rectangle and an image width.
    static kpv::Rect knobImageRect(const kpv::Rect& knob, double imageWidth);
    void updateTrackingAreas() override;
    void mouseEntered(const kpv::Event& e) override;
    void mouseExited(const kpv::Event& e) override;

private:
    QString m_knobImageName;
    QString m_knobImageNameRollover;
    kpv::ImagePtr m_knobImage;
    kpv::ImagePtr m_knobImageRollover;
    bool m_isMouseIn = false;
    kpv::TrackingAreaPtr m_trackingArea;
};
