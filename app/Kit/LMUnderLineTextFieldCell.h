#pragma once
// A text that draws its string underlined, with a pointing hand over it.

#include "appkit/Control.h"

class LMUnderLineTextFieldCell : public kpv::TextField {
public:
    explicit LMUnderLineTextFieldCell(const kpv::Rect& frame = kpv::Rect()) : kpv::TextField(frame) {}
    QFont linkFont() const;
    void drawRect(const kpv::Rect& dirty) override;
    void resetCursorRects() override { addCursorRect(bounds(), kpv::Cursor::pointingHandCursor()); }
};
