#include "Kit/LMAutoTipsLabel.h"

void LMAutoTipsLabel::setStringValue(const QString& s)
{
    kpv::TextField::setStringValue(s);
    updateTextTips();
}

void LMAutoTipsLabel::setFrame(const kpv::Rect& frame)
{
    const bool sizeChanged = frame.size != this->frame().size;
    kpv::TextField::setFrame(frame);
    if (sizeChanged)
        updateTextTips();
}

void LMAutoTipsLabel::updateTextTips()
{
    setToolTip(textNeedsTip(attributedStringValueSize().width, bounds().width()) ? stringValue() : QString());
}
