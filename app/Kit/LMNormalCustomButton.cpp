#include "Kit/LMNormalCustomButton.h"

#include "Kit/LMMultiSliceImageView.h"

LMNormalCustomButton::LMNormalCustomButton(const kpv::Rect& frame) : LMSimButtonBase(frame)
{
    m_textButtonTitle = new kpv::TextField(bounds());
    m_textButtonTitle->setAlignment(Qt::AlignCenter);
    m_textButtonTitle->setAutoresizingMask(kpv::ViewWidthSizable | kpv::ViewHeightSizable);
    addSubview(m_textButtonTitle);
    setBkgrdImageName("BT_DLG", kpv::Point{10, 10}, kpv::Point{10, 10});
    awakeFromNib();
}

void LMNormalCustomButton::awakeFromNib()
{
    if (m_textButtonTitle)
        m_dictTitleVisualStateColors[0] = m_textButtonTitle->textColor();
}

void LMNormalCustomButton::setBkgrdImageName(const QString& name, kpv::Point lt, kpv::Point rb)
{
    if (name == m_bkgrdImageName && !m_bkgrdImageName.isNull())
        return;
    m_bkgrdImageSliceSizeLeftTop = lt;
    m_bkgrdImageSliceSizeRightBottom = rb;
    m_bkgrdImageName = name;
    m_bkgrdImageReps.clear();
    updateButtonUI();
}

QString LMNormalCustomButton::imageNameForState(long s) const
{
    static const char* const suffix[4] = {"", "R", "P", "D"};
    const long k = s & ~LMVisualStateOnFlag;
    if (k < 0 || k > 3)
        return QString();
    return m_bkgrdImageName + ((s & LMVisualStateOnFlag) ? "_on" : "") + suffix[k];
}

LMNineSliceImageRepPtr LMNormalCustomButton::imageByState(long s)
{
    if (auto it = m_bkgrdImageReps.find(s); it != m_bkgrdImageReps.end())
        return it->second;
    const long k = s & ~LMVisualStateOnFlag;
    const bool on = (s & LMVisualStateOnFlag) != 0;
    if (k < 0 || k > 3)
        return nullptr;
    LMNineSliceImageRepPtr rep;
    if (kpv::ImagePtr image = LMNineSliceImageRep::loadImageWithoutExtension(imageNameForState(s)))
        rep = std::make_shared<LMNineSliceImageRep>(image, m_bkgrdImageSliceSizeLeftTop, m_bkgrdImageSliceSizeRightBottom);
    else if (on)
        rep = imageByState(k == 0 ? 1 : k);
    else if (k == 1 || k == 2)
        rep = imageByState(0);
    else if (k == 3)
        rep = imageByState(2);
    if (rep)
        m_bkgrdImageReps[s] = rep;
    return rep;
}

void LMNormalCustomButton::updateButtonUI()
{
    LMSimButtonBase::updateButtonUI();
    updateButtonTitleColor();
}

void LMNormalCustomButton::drawRect(const kpv::Rect&)
{
    LMNineSliceImageRepPtr rep = imageByState(visualStateWithCheckOnState(true));
    LMMultiSliceImageView::drawMultiSliceImageImage(rep.get(), bounds());
}

void LMNormalCustomButton::setTitle(const QString& title)
{
    if (m_textButtonTitle)
        m_textButtonTitle->setStringValue(title);
}

void LMNormalCustomButton::setTitleColor(const kpv::Color& color) { setTitleColor(color, 0); }

void LMNormalCustomButton::setTitleColor(const kpv::Color& color, long visualState)
{
    if (!color.isValid() || !m_textButtonTitle)
        return;
    m_dictTitleVisualStateColors[visualState] = color;
    updateButtonTitleColor();
}

void LMNormalCustomButton::setTitleColorForStateOn(const kpv::Color& color)
{
    for (long s : {0x1000L, 0x1001L, 0x1002L})
        setTitleColor(color, s);
}

void LMNormalCustomButton::updateButtonTitleColor()
{
    if (!m_textButtonTitle)
        return;
    const long s = visualStateWithCheckOnState(true);
    auto find = [this](long key) -> const kpv::Color* {
        auto it = m_dictTitleVisualStateColors.find(key);
        return it == m_dictTitleVisualStateColors.end() ? nullptr : &it->second;
    };
    const kpv::Color* c = find(s);
    if (!c && (s & LMVisualStateOnFlag))
        c = find(s & ~LMVisualStateOnFlag);
    static const kpv::Color disabled = kpv::Color::disabledControlTextColor();
    if (!c)
        c = (s & ~LMVisualStateOnFlag) == 3 ? &disabled : find(0);
    if (c && !(*c == m_textButtonTitle->textColor()))
        m_textButtonTitle->setTextColor(*c);
}
