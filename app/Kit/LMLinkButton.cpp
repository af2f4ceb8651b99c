#include "Kit/LMLinkButton.h"

#include "Kit/LMUnderLineTextFieldCell.h"
#include "appkit/Window.h"

LMLinkButton::LMLinkButton(const kpv::Rect& frame)
    : LMSimButtonBase(frame), m_textButtonTitle(new LMUnderLineTextFieldCell(bounds()))
{
    m_textButtonTitle->setAutoresizingMask(kpv::ViewWidthSizable | kpv::ViewHeightSizable);
    addSubview(m_textButtonTitle);
}

void LMLinkButton::awakeFromNib() { m_normalTextColor = m_textButtonTitle->textColor(); }

void LMLinkButton::updateButtonUI()
{
    if (!m_rollTextColor.isValid())
        return;
    const LMVisualState s = visualStateWithCheckOnState(careState());
    const bool rolled = s == 1 || s == 2;
    const kpv::Color c = rolled ? m_rollTextColor : m_normalTextColor;
    if (c.isValid())
        m_textButtonTitle->setTextColor(c);
}

void LMLinkButton::setEnabled(bool enabled)
{
    if (enabled == isEnabled())
        return;
    LMSimButtonBase::setEnabled(enabled);
    if (window())
        window()->invalidateCursorRectsForView(this);
}

void LMLinkButton::resetCursorRects()
{
    if (isEnabled())
        addCursorRect(bounds(), kpv::Cursor::pointingHandCursor());
    else
        LMSimButtonBase::resetCursorRects();
}

kpv::View* LMLinkButton::hitTest(kpv::Point pointInSuperview)
{
    return LMSimButtonBase::hitTest(pointInSuperview) ? this : nullptr;
}
