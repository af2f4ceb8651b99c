#pragma once
// A plain coloured area that takes another colour while the pointer is over it.

#include "appkit/Color.h"
#include "appkit/View.h"

class LMTrackingColorView : public kpv::View {
public:
    explicit LMTrackingColorView(const kpv::Rect& frame = kpv::Rect()) : kpv::View(frame) {}

    void setBkgrdColor(const kpv::Color& bkgrd, const kpv::Color& roll);
    bool trackingActiveInActiveApp() const { return m_trackingActiveInActiveApp; }
    void setTrackingActiveInActiveApp(bool t) { m_trackingActiveInActiveApp = t; }
    bool isMouseIn() const { return m_isMouseIn; }
    const kpv::TrackingAreaPtr& trackingArea() const { return m_trackingArea; }

    void updateTrackingAreas() override;
    void mouseEntered(const kpv::Event& e) override;
    void mouseExited(const kpv::Event& e) override;
    void drawRect(const kpv::Rect& dirty) override;

private:
    kpv::Color m_bkgrdColor;
    kpv::Color m_rollColor;
    bool m_isMouseIn = false;
    kpv::TrackingAreaPtr m_trackingArea;
    bool m_trackingActiveInActiveApp = false;
};
