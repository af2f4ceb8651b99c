#pragma once
// A view-based button that looks like a hyperlink: its underlined title changes colour under the
// mouse and the pointer becomes a pointing hand.

#include "Kit/LMSimButtonBase.h"
#include "appkit/Color.h"
#include "appkit/Control.h"

class LMLinkButton : public LMSimButtonBase {
public:
    explicit LMLinkButton(const kpv::Rect& frame = kpv::Rect());

    kpv::TextField* textButtonTitle() const { return m_textButtonTitle; }
    void setRollTextColor(const kpv::Color& c) { m_rollTextColor = c; }
    // Keeps the title's current colour as the normal colour.
    void awakeFromNib();
    void updateButtonUI() override;
    void setEnabled(bool enabled);
    void resetCursorRects() override;
    // The title is part of the button: a press on it is the button's.
    kpv::View* hitTest(kpv::Point pointInSuperview) override;

private:
    kpv::TextField* m_textButtonTitle; // a subview
    kpv::Color m_rollTextColor;
    kpv::Color m_normalTextColor;
};
