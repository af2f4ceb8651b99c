#pragma once
// The push button of every dialog: a view-based button with a nine-slice background per visual
// state and a title whose colour follows the state.

#include "Kit/LMNineSliceImageRep.h"
#include "Kit/LMSimButtonBase.h"
#include "appkit/Color.h"
#include "appkit/Control.h"

#include <QString>
#include <map>

class LMNormalCustomButton : public LMSimButtonBase {
public:
    // Makes its title field as a subview that fills the button, text centred.
    explicit LMNormalCustomButton(const kpv::Rect& frame = kpv::Rect());

    kpv::TextField* textButtonTitle() const { return m_textButtonTitle; }
    // The title field's current colour becomes the colour of visual state 0.
    void awakeFromNib();

    QString bkgrdImageName() const { return m_bkgrdImageName; }
    void setBkgrdImageName(const QString& name, kpv::Point sliceSizeLeftTop, kpv::Point sliceSizeRightBottom);
    LMNineSliceImageRepPtr imageByState(long visualState);
    // The name of the background image for a visual state ("" beyond 3).
    QString imageNameForState(long visualState) const;

    void updateButtonUI() override;
    void drawRect(const kpv::Rect& dirty) override;

    void setTitle(const QString& title);
    void setTitleColor(const kpv::Color& color);
    void setTitleColor(const kpv::Color& color, long visualState);
    void setTitleColorForStateOn(const kpv::Color& color);
    void updateButtonTitleColor();

private:
    kpv::TextField* m_textButtonTitle = nullptr;
    QString m_bkgrdImageName;
    kpv::Point m_bkgrdImageSliceSizeLeftTop;
    kpv::Point m_bkgrdImageSliceSizeRightBottom;
    std::map<long, kpv::Color> m_dictTitleVisualStateColors;
    std::map<long, LMNineSliceImageRepPtr> m_bkgrdImageReps;
};
