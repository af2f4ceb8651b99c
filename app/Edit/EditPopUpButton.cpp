#include "Edit/EditPopUpButton.h"

#include "appkit/GraphicsContext.h"
#include "appkit/Menu.h"

EditPopUpButton::EditPopUpButton(const kpv::Rect &frame) : kpv::Button(frame) {}

void EditPopUpButton::setItems(const QList<Item> &items)
{
    m_items = items;
    m_selected = -1;
    for (int i = 0; i < m_items.size() && m_selected < 0; ++i)
        if (m_items[i].value.isValid())
            m_selected = i;
    setNeedsDisplay(true);
}

QVariant EditPopUpButton::selectedValue() const
{
    return m_selected >= 0 && m_selected < m_items.size() ? m_items[m_selected].value : QVariant();
}

void EditPopUpButton::selectItemWithValue(const QVariant &value)
{
    m_selected = -1;
    for (int i = 0; i < m_items.size(); ++i) {
        if (m_items[i].value.isValid() && m_items[i].value == value) {
            m_selected = i;
            break;
        }
    }
    setNeedsDisplay(true);
}

void EditPopUpButton::selectItemAtIndex(int index)
{
    if (index >= 0 && index < m_items.size() && m_items[index].value.isValid())
        m_selected = index;
    setNeedsDisplay(true);
}

void EditPopUpButton::chooseItemAtIndex(int index)
{
    if (!isEnabled() || index < 0 || index >= m_items.size() || !m_items[index].value.isValid())
        return;
    m_selected = index;
    setNeedsDisplay(true);
    sendAction();
}

void EditPopUpButton::mouseDown(const kpv::Event &) { performClick(); }

bool EditPopUpButton::performKeyAction(const kpv::Event &e)
{
    if (e.keyCode() == kpv::KeyCode::Return || e.keyCode() == kpv::KeyCode::KeypadEnter)
        return false;
    const bool arrow = e.keyCode() == kpv::KeyCode::UpArrow || e.keyCode() == kpv::KeyCode::DownArrow;
    if (arrow && e.type() == kpv::KeyDown && isEnabled() &&
        !(e.modifierFlags() & (kpv::CommandKeyMask | kpv::AlternateKeyMask | kpv::ControlKeyMask))) {
        performClick();
        return true;
    }
    return kpv::Button::performKeyAction(e);
}

void EditPopUpButton::performClick()
{
    if (!isEnabled() || m_items.isEmpty())
        return;
    auto menu = std::make_shared<kpv::Menu>();
    const kpv::MenuItem *chosen = nullptr;
    for (int i = 0; i < m_items.size(); ++i) {
        if (!m_items[i].value.isValid()) {
            menu->addItem(kpv::MenuItem::separatorItem());
            continue;
        }
        auto item = menu->addItemWithTitle(m_items[i].title, [this, i](kpv::MenuItem &) { chooseItemAtIndex(i); });
        item->setState(i == m_selected ? 1 : 0);
        if (i == m_selected)
            chosen = item.get();
    }
    // Below the button, its left edge aligned, the chosen item marked.
    menu->popUpMenuPositioningItem(chosen, kpv::Point{0, 0}, this);
}

void EditPopUpButton::drawRect(const kpv::Rect &)
{
    kpv::GraphicsContext *gc = kpv::GraphicsContext::current();
    if (!gc)
        return;
    const kpv::Rect b = bounds();
    gc->fillRoundedRect(b, 4, kpv::Color(0.25, 0.26, 0.28));
    const QString title = m_selected >= 0 ? m_items[m_selected].title : QString();
    const kpv::Color colour = isEnabled() ? kpv::Color::controlTextColor() : kpv::Color::disabledControlTextColor();
    gc->drawTextInRect(title, kpv::Rect(b.x() + 8, b.y(), b.width() - 28, b.height()), kpv::Font(), colour,
                       Qt::AlignLeft | Qt::AlignVCenter);
    gc->drawTextInRect(QStringLiteral("\u25BE"), kpv::Rect(b.x() + b.width() - 20, b.y(), 14, b.height()), kpv::Font(),
                       colour, Qt::AlignCenter);
}
