#include "Kit/LMPopMenuItemView.h"

#include "Kit/LMNineSliceImageRep.h"
#include "Kit/LMPopMenuView.h"
#include "Kit/LMPopMenuViewItem.h"
#include "appkit/GraphicsContext.h"

#include <cmath>

LMPopMenuItemView::LMPopMenuItemView(const kpv::Rect& frame)
    : LMSimButtonBase(frame), m_txtItemTitle(new kpv::TextField(kpv::Rect(0, 0, frame.width(), 16)))
{
    setWantsLayer(true);
    m_txtItemTitle->setFont(kpv::Font(12));
    addSubview(m_txtItemTitle);
}

void LMPopMenuItemView::awakeFromNib()
{
    m_txtItemTitle->setStringValue(itemTitle());
    m_bkgrdColors.clear();
    m_buttonImages.clear();
    m_itemTitleNormalColor = m_txtItemTitle->textColor();
}

QString LMPopMenuItemView::itemTitle() const
{
    LMPopMenuView* menu = m_popMenuViewItem ? m_popMenuViewItem->popMenuView() : nullptr;
    if (!menu || !menu->dataSource())
        return QString();
    return menu->dataSource()->popMenuView_itemTitleForRepresentedObject(menu, m_popMenuViewItem->representedObject());
}

QString LMPopMenuItemView::iconImageName(bool check) const
{
    LMPopMenuView* menu = m_popMenuViewItem ? m_popMenuViewItem->popMenuView() : nullptr;
    if (!menu || !menu->dataSource())
        return QString();
    return menu->dataSource()->popMenuView_iconImageNameForRepresentedObject(
        menu, m_popMenuViewItem->representedObject(), check);
}

void LMPopMenuItemView::setItemTitleNormalColor(const kpv::Color& normal, const kpv::Color& push)
{
    if (normal.isValid())
        m_itemTitleNormalColor = normal;
    if (push.isValid())
        m_itemTitlePushColor = push;
}

void LMPopMenuItemView::setItemBkgrdRollColor(const kpv::Color& color)
{
    if (color.isValid())
        m_bkgrdColors[1] = color; // our colours are already plain RGB
}

kpv::Color LMPopMenuItemView::bkColorByState(LMVisualState state)
{
    auto it = m_bkgrdColors.find(state);
    if (it != m_bkgrdColors.end())
        return it->second;
    kpv::Color c = kpv::Color::clearColor();
    // The row under the pointer or marked by the keys: a light veil, which shows on the menus'
    // dark panel (a dark one would mark nothing there).
    if (state == 1)
        c = kpv::Color(1.0, 1.0, 1.0, 0.16);
    else if (state == 2)
        c = kpv::Color(253 / 255.0, 168 / 255.0, 19 / 255.0, 1.0);
    m_bkgrdColors[state] = c;
    return c;
}

kpv::ImagePtr LMPopMenuItemView::imageByState(LMVisualState state, bool forCheckButton)
{
    if (!forCheckButton) {
        auto it = m_buttonImages.find(state);
        if (it != m_buttonImages.end())
            return it->second;
    }
    const QString base = iconImageName(forCheckButton);
    kpv::ImagePtr image;
    if (!base.isEmpty()) {
        switch (state) {
        case 0:
            image = LMNineSliceImageRep::loadImageWithoutExtension(base);
            break;
        case 1:
            image = LMNineSliceImageRep::loadImageWithoutExtension(base + "R");
            if (!image)
                image = imageByState(0, forCheckButton);
            break;
        case 2:
            image = LMNineSliceImageRep::loadImageWithoutExtension(base + "P");
            break;
        case 3:
            image = LMNineSliceImageRep::loadImageWithoutExtension(base + "d");
            break;
        default:
            break;
        }
    }
    if (!forCheckButton)
        m_buttonImages[state] = image;
    return image;
}

double LMPopMenuItemView::buttonIconWidth()
{
    const bool check = !checkButtonImageName().isEmpty();
    kpv::ImagePtr image = imageByState(0, check);
    return image ? image->size().width : 0;
}

double LMPopMenuItemView::itemWidthToFit()
{
    const double titleWidth = m_txtItemTitle->attributedStringValueSize().width;
    return std::round(titleWidth + 10) + (buttonIconWidth() + 10);
}

void LMPopMenuItemView::setFrame(const kpv::Rect& frame)
{
    LMSimButtonBase::setFrame(frame);
    const double icon = buttonIconWidth();
    const kpv::Rect fb = m_txtItemTitle->bounds();
    const double y = bounds().midY() - fb.midY() + 1;
    m_txtItemTitle->setFrame(kpv::Rect(icon + 10, y, bounds().width() - (icon + 10), fb.height()));
    updateButtonUI();
}

void LMPopMenuItemView::updateButtonUI()
{
    LMSimButtonBase::updateButtonUI();
    const bool enabled = !m_popMenuViewItem || m_popMenuViewItem->itemEnabled();
    kpv::Color c = m_itemTitleNormalColor;
    if (!enabled)
        c = kpv::Color::disabledControlTextColor();
    else if (m_itemTitlePushColor.isValid() && visualState() == 2)
        c = m_itemTitlePushColor;
    if (c.isValid())
        m_txtItemTitle->setTextColor(c);
}

LMVisualState LMPopMenuItemView::drawingState() const
{
    LMVisualState state = visualState();
    if (m_popMenuViewItem && !m_popMenuViewItem->itemEnabled())
        state = 3;
    return state;
}

void LMPopMenuItemView::mouseEntered(const kpv::Event& e)
{
    LMSimButtonBase::mouseEntered(e);
    if (LMPopMenuView* menu = m_popMenuViewItem ? m_popMenuViewItem->popMenuView() : nullptr)
        menu->rowEnteredByPointer(this);
}

void LMPopMenuItemView::drawRect(const kpv::Rect& dirty)
{
    LMSimButtonBase::drawRect(dirty);
    kpv::GraphicsContext* gc = kpv::GraphicsContext::current();
    if (!gc)
        return;
    const LMVisualState state = drawingState();
    const bool checked = m_popMenuViewItem && m_popMenuViewItem->itemChecked();
    const kpv::Rect b = bounds();
    gc->fillRect(b, bkColorByState(state));
    auto drawAt = [&](const kpv::ImagePtr& image) {
        if (!image)
            return;
        const kpv::Size s = image->size();
        gc->drawImage(*image, kpv::Rect(b.x() + 5, (b.height() - s.height) / 2, s.width, s.height));
    };
    if (checked)
        drawAt(imageByState(state, true));
    drawAt(imageByState(state, false));
}
