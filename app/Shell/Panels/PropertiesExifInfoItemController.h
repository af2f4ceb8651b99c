#pragma once
// One row of the Info panel: the fact's name and its value, side by side with a gap between. A
// value cut at the row's end shows in full as a tool tip. Main thread only.

#include "appkit/Geometry.h"

#include <QString>

class LMAutoTipsLabel;

namespace kpv {
class Color;
class View;
}

class PropertiesExifInfoItemController {
public:
    static constexpr double kRowHeight = 17;

    // The row's view is made here and handed to `parent`, which owns it from then on.
    explicit PropertiesExifInfoItemController(kpv::View* parent);

    kpv::View* view() const { return m_view; }
    LMAutoTipsLabel* txtExifInfoName() const { return m_txtExifInfoName; }
    LMAutoTipsLabel* txtExifInfoValue() const { return m_txtExifInfoValue; }
    void setSpacePixels(double pixels) { m_spacePixels = pixels; }
    void setItemMinWidth(double width) { m_itemMinWidth = width; }
    void setInfoValueMinWidth(double width) { m_infoValueMinWidth = width; }
    void setTextColor(const kpv::Color& color);
    // `name` true: the name label, false: the value label.
    void setExifInfoName(bool name, int alignment);
    void setExifInfoName(bool name, const QString& text);
    // The row's width: the name, the gap and the value (or its minimum), at least the minimum row
    // width; the name's width goes to `nameWidth` when given.
    double calcItemWidthWithExifInfoNameWidth(double* nameWidth) const;
    // Places the row; a name width of 0 keeps the row's own.
    void setItemFrame(const kpv::Rect& frame, double exifInfoNameWidth);

private:
    kpv::View* m_view = nullptr;
    LMAutoTipsLabel* m_txtExifInfoName = nullptr;
    LMAutoTipsLabel* m_txtExifInfoValue = nullptr;
    double m_spacePixels = 5;
    double m_itemMinWidth = 0;
    double m_infoValueMinWidth = 0;
};
