#include "Shell/Panels/PropertiesExifInfoItemController.h"

#include "Kit/LMAutoTipsLabel.h"
#include "appkit/Color.h"

#include <algorithm>
#include <cmath>

PropertiesExifInfoItemController::PropertiesExifInfoItemController(kpv::View* parent)
{
    m_view = new kpv::View(kpv::Rect(0, 0, 200, kRowHeight));
    m_txtExifInfoName = new LMAutoTipsLabel(kpv::Rect(0, 0, 80, kRowHeight));
    m_txtExifInfoValue = new LMAutoTipsLabel(kpv::Rect(85, 0, 115, kRowHeight));
    // A value too long for the panel keeps its start and end (a file name's extension).
    m_txtExifInfoValue->setLineBreakMode(kpv::TextField::LineBreakByTruncatingMiddle);
    m_view->addSubview(m_txtExifInfoName);
    m_view->addSubview(m_txtExifInfoValue);
    if (parent)
        parent->addSubview(m_view);
}

void PropertiesExifInfoItemController::setTextColor(const kpv::Color& color)
{
    m_txtExifInfoName->setTextColor(color);
    m_txtExifInfoValue->setTextColor(color);
}

void PropertiesExifInfoItemController::setExifInfoName(bool name, int alignment)
{
    (name ? m_txtExifInfoName : m_txtExifInfoValue)->setAlignment(alignment);
}

void PropertiesExifInfoItemController::setExifInfoName(bool name, const QString& text)
{
    (name ? m_txtExifInfoName : m_txtExifInfoValue)->setStringValue(text);
}

double PropertiesExifInfoItemController::calcItemWidthWithExifInfoNameWidth(double* nameWidth) const
{
    const double nameW = std::round(m_txtExifInfoName->attributedStringValueSize().width) + 5;
    const double valueW = std::round(m_txtExifInfoValue->attributedStringValueSize().width) + 5;
    if (nameWidth)
        *nameWidth = nameW;
    return std::max(m_itemMinWidth, nameW + m_spacePixels + std::max(m_infoValueMinWidth, valueW));
}

void PropertiesExifInfoItemController::setItemFrame(const kpv::Rect& frame, double exifInfoNameWidth)
{
    m_view->setFrame(frame);
    double nameW = exifInfoNameWidth;
    if (nameW == 0)
        calcItemWidthWithExifInfoNameWidth(&nameW);
    const kpv::Rect nameFrame = m_txtExifInfoName->frame();
    m_txtExifInfoName->setFrame(kpv::Rect(0, nameFrame.y(), nameW, nameFrame.height()));
    const double valueX = nameW + m_spacePixels;
    const kpv::Rect valueFrame = m_txtExifInfoValue->frame();
    m_txtExifInfoValue->setFrame(kpv::Rect(valueX, valueFrame.y(), std::max(0.0, frame.width() - valueX), valueFrame.height()));
}
