#pragma once

#include "appkit/Control.h"

// A label that shows its own text as tool tip when the text does not fit.
class LMAutoTipsLabel : public kpv::TextField {
public:
    explicit LMAutoTipsLabel(const kpv::Rect& frame = kpv::Rect()) : kpv::TextField(frame) {}
    void setStringValue(const QString& s);
    void setFrame(const kpv::Rect& frame) override;
    void updateTextTips();
    // Whether a text of that width needs the tip in a label of that width.
    static bool textNeedsTip(double textWidth, double boundsWidth) { return textWidth > boundsWidth - 3; }
};
