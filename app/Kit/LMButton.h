#pragma once
// The skinned push and toggle button: draws one bundle image chosen by its visual state
// (normal, roll-over, pressed, disabled) and, when its state matters, by its on/off state.
// Images are named from one base name plus suffixes; a missing state image falls back to a
// neighbouring state, so a skin needs only the normal image. Can pulse a light image.

#include "Kit/LMButtonDelegate.h"
#include "Kit/LMEventMonitor.h"
#include "Model/LMBlockRepeatTimer.h"
#include "appkit/Control.h"
#include "appkit/Image.h"

#include <QString>
#include <map>
#include <memory>

class LMButton : public kpv::Button {
public:
    // Image state codes: 0 normal, 1 roll, 2 push, 3 disabled, 4 light; plus 0x1000 for the on set.
    static constexpr long OnSet = 0x1000;

    explicit LMButton(const kpv::Rect& frame = kpv::Rect());
    ~LMButton() override;

    LMButtonDelegate* buttonDelegate() const { return m_buttonDelegate; }
    void setButtonDelegate(LMButtonDelegate* d) { m_buttonDelegate = d; }
    QString imageName() const { return m_imageName; }
    void setImageName(const QString& name);
    bool careState() const { return m_careState; }
    void setCareState(bool c) { m_careState = c; }
    bool trackingActiveInActiveApp() const { return m_trackingActiveInActiveApp; }
    // Takes effect at once when the button is already in a window.
    void setTrackingActiveInActiveApp(bool t);
    bool light() const { return m_light; }
    void setLight(bool light);
    double lightAlpha() const { return m_lightAlpha; }
    bool isMouseIn() const { return m_isMouseIn; }
    bool isMouseDown() const { return m_isMouseDown; }
    bool isHolding() const { return m_eventMonitor != nullptr; }

    void setState(long state) override;
    void setToolTip(const QString& tip) override;
    void setToolTipForStateOff(const QString& off, const QString& on);
    void updateToolTips();
    void setHidden(bool hidden) override;

    kpv::ImagePtr imageByState(long code);
    kpv::ImagePtr imageByState_(long code);
    // The name of the image for a state code ("" for codes without one).
    QString imageNameForState(long code) const;
    virtual void drawImage(const kpv::Image& image, double fraction);
    void drawRect(const kpv::Rect& dirty) override;
    long visualState() const;

    void updateTrackingAreas() override;
    void resetCursorRects() override;
    void mouseEntered(const kpv::Event& e) override;
    void mouseExited(const kpv::Event& e) override;
    void mouseDown(const kpv::Event& e) override;
    bool sendAction(const kpv::Action& action, void* target) override;
    using kpv::Button::sendAction;
    void updateButtonRolloverState();
    void normalizeRollState();

    // The light's opacity `t` seconds into the pulse: a triangle wave between 1 and 0 with a
    // period of one second, falling first.
    static double lightAlphaAtTime(double t);

protected:
    // A press dragged from the button onto a pop-up menu shown in its window works that menu.
    void mouseTrackedOutside(const kpv::Event& e) override;

private:
    void beginContinuousHold();
    void endContinuousHold();

    LMButtonDelegate* m_buttonDelegate = nullptr;
    QString m_imageName;
    bool m_isMouseIn = false;
    bool m_isMouseDown = false;
    bool m_light = false;
    bool m_careState = false;
    QString m_stateOnToolTips;
    QString m_stateOffToolTips;
    bool m_trackingActiveInActiveApp = false;
    double m_lightAlpha = 0;
    std::unique_ptr<LMBlockRepeatTimer> m_lightRepeatTimer;
    kpv::TrackingAreaPtr m_trackingArea;
    std::map<long, kpv::ImagePtr> m_images;
    LMEventMonitorPtr m_eventMonitor;
};
