#include "Kit/LMNormalCheckButton.h"

#include "Kit/LMNineSliceImageRep.h"
#include "appkit/Event.h"
#include "appkit/GraphicsContext.h"

#include <cmath>

LMNormalCheckButton::LMNormalCheckButton(const kpv::Rect& frame) : LMSimButtonBase(frame) {}

void LMNormalCheckButton::awakeFromNib()
{
    if (m_textButtonTitle)
        m_buttonTitleNormalColor = m_textButtonTitle->textColor();
}

void LMNormalCheckButton::setImageName(const QString& name)
{
    if (name == m_imageName)
        return;
    m_imageName = name;
    setNeedsDisplay();
}

void LMNormalCheckButton::setState(std::int64_t state)
{
    m_checkState = state;
    setNeedsDisplay();
}

void LMNormalCheckButton::setTitle(const QString& title)
{
    if (m_textButtonTitle)
        m_textButtonTitle->setStringValue(title);
    updateButtonFrame();
}

void LMNormalCheckButton::updateButtonFrame()
{
    if (!m_textButtonTitle)
        return;
    const double textWidth = std::ceil(m_textButtonTitle->attributedStringValueSize().width);
    // Where the title starts in the button's own coordinates: a title beside the button, in the
    // same superview, is placed in that superview's.
    const bool inside = m_textButtonTitle->superview() == this;
    const double titleX = m_textButtonTitle->frame().x() - (inside ? 0 : frame().x());
    const double width = titleX + textWidth + 4 + 5;
    setFrameSize(kpv::Size{width, frame().height()});
    // A title inside the button grows with it, so its last words are not cut off.
    if (m_textButtonTitle->superview() == this && m_textButtonTitle->frame().width() < textWidth + 4)
        m_textButtonTitle->setFrameSize(kpv::Size{textWidth + 4, m_textButtonTitle->frame().height()});
}

bool LMNormalCheckButton::performKeyAction(const kpv::Event& e)
{
    if (e.keyCode() == kpv::KeyCode::Return || e.keyCode() == kpv::KeyCode::KeypadEnter)
        return false;
    return LMSimButtonBase::performKeyAction(e);
}

void LMNormalCheckButton::updateButtonUI()
{
    if (m_textButtonTitle) {
        if (visualState() == 3)
            m_textButtonTitle->setTextColor(kpv::Color::disabledControlTextColor());
        else if (m_buttonTitleNormalColor.isValid())
            m_textButtonTitle->setTextColor(m_buttonTitleNormalColor);
    }
    setNeedsDisplay();
}

kpv::ImagePtr LMNormalCheckButton::imageByState(long visualState)
{
    if (m_checkState == 1)
        visualState += LMVisualStateOnFlag;
    return imageByState_(visualState);
}

kpv::ImagePtr LMNormalCheckButton::imageByState_(long code)
{
    static const char* const suffix[4] = {"", "_ROLL", "_PUSH", "_DISABLE"};
    if (m_imageName.isEmpty())
        return nullptr;
    const long k = code & ~LMVisualStateOnFlag;
    const bool on = (code & LMVisualStateOnFlag) != 0;
    if (k < 0 || k > 3)
        return nullptr;
    // Asked for on every draw: no cache of its own.
    kpv::ImagePtr image =
        LMNineSliceImageRep::loadImageWithoutExtension(m_imageName + (on ? "_ON" : "") + suffix[k]);
    if (image)
        return image;
    if (on)
        return imageByState_(k == 0 ? 1 : k);
    return k == 0 ? nullptr : imageByState_(k - 1);
}

void LMNormalCheckButton::drawRect(const kpv::Rect&)
{
    kpv::GraphicsContext* ctx = kpv::GraphicsContext::current();
    kpv::ImagePtr image = imageByState(visualState());
    if (!ctx || !image)
        return;
    const kpv::Rect b = bounds();
    const kpv::Size s = image->size();
    const kpv::Rect r = kpv::integralRect(
        kpv::Rect(b.x() + double(m_iconLeftMargin), b.y() + b.height() * 0.5 + 1.0 - s.height * 0.5, s.width, s.height));
    ctx->drawImage(*image, r, kpv::Rect(), kpv::CompositeSourceOver, 1.0, true);
}
