#pragma once
// A text that draws its string over a black drop shadow one point right and one down.

#include "appkit/Control.h"

class LMShadowTextFieldCell : public kpv::TextField {
public:
    explicit LMShadowTextFieldCell(const kpv::Rect& frame = kpv::Rect()) : kpv::TextField(frame) {}
    void drawRect(const kpv::Rect& dirty) override;
};
