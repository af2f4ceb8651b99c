#include "appkit/Menu.h"

#include "appkit/Event.h"
#include "appkit/View.h"
#include "appkit/Window.h"

#include <QAction>
#include <QKeySequence>
#include <QMenu>
#include <QPixmap>
#include <QWidget>

namespace kpv {

QString Menu::shownTitle(const QString& title)
{
    QString shown = title;
    shown.replace(u'&', QStringLiteral("&&"));
    return shown;
}

MenuItem::MenuItem(const QString& title, std::function<void(MenuItem&)> action, const QString& keyEquivalent)
    : m_title(title), m_action(std::move(action)), m_key(keyEquivalent), m_keyMask(CommandKeyMask)
{
}

std::shared_ptr<MenuItem> MenuItem::separatorItem()
{
    auto item = std::make_shared<MenuItem>();
    item->m_separator = true;
    item->m_enabled = false;
    return item;
}

void MenuItem::performAction()
{
    if (m_enabled && m_action)
        m_action(*this);
}

MenuItemPtr Menu::itemAtIndex(int i) const
{
    return i >= 0 && i < int(m_items.size()) ? m_items[size_t(i)] : nullptr;
}

MenuItemPtr Menu::itemWithTag(long tag) const
{
    for (const auto& item : m_items)
        if (item->tag() == tag)
            return item;
    return nullptr;
}

int Menu::indexOfItem(const MenuItem* item) const
{
    for (size_t i = 0; i < m_items.size(); ++i)
        if (m_items[i].get() == item)
            return int(i);
    return -1;
}

void Menu::addItem(MenuItemPtr item)
{
    if (item)
        m_items.push_back(std::move(item));
}

MenuItemPtr Menu::addItemWithTitle(const QString& title, std::function<void(MenuItem&)> action, const QString& key)
{
    auto item = std::make_shared<MenuItem>(title, std::move(action), key);
    m_items.push_back(item);
    return item;
}

void Menu::insertItem(MenuItemPtr item, int index)
{
    if (!item)
        return;
    index = std::clamp(index, 0, int(m_items.size()));
    m_items.insert(m_items.begin() + index, std::move(item));
}

void Menu::removeItemAtIndex(int index)
{
    if (index >= 0 && index < int(m_items.size()))
        m_items.erase(m_items.begin() + index);
}

void Menu::update()
{
    if (!m_autoenables || !m_validator)
        return;
    for (auto& item : m_items)
        if (!item->isSeparatorItem())
            item->setEnabled(m_validator(*item));
}

QMenu* Menu::makeQMenu(QWidget* parent) const
{
    const_cast<Menu*>(this)->update();
    auto* qm = new QMenu(shownTitle(m_title), parent);
    for (const auto& item : m_items) {
        if (item->isSeparatorItem()) {
            qm->addSeparator();
            continue;
        }
        if (item->hasSubmenu()) {
            QMenu* sub = item->submenu()->makeQMenu(qm);
            sub->setTitle(shownTitle(item->title()));
            qm->addMenu(sub)->setEnabled(item->isEnabled());
            continue;
        }
        QAction* a = qm->addAction(shownTitle(item->title()));
        a->setEnabled(item->isEnabled());
        a->setVisible(!item->isHidden());
        if (item->state() != 0) {
            a->setCheckable(true);
            a->setChecked(true);
        }
        if (item->image() && item->image()->isValid())
            a->setIcon(QIcon(QPixmap::fromImage(item->image()->bestRepresentation(2.0))));
        if (!item->keyEquivalent().isEmpty()) {
            // The "command" modifier is Ctrl here.
            QString seq;
            const auto m = item->keyEquivalentModifierMask();
            if (m & CommandKeyMask) seq += "Ctrl+";
            if (m & AlternateKeyMask) seq += "Alt+";
            if (m & ShiftKeyMask) seq += "Shift+";
            if (m & ControlKeyMask) seq += "Meta+";
            a->setShortcut(QKeySequence(seq + item->keyEquivalent().toUpper()));
        }
        MenuItemPtr keep = item;
        QObject::connect(a, &QAction::triggered, [keep] { keep->performAction(); });
    }
    return qm;
}

void Menu::popUpContextMenu(const std::shared_ptr<Menu>& menu, const Event& event, View* view)
{
    if (!menu || !view)
        return;
    Point p = view->convertPointFromView(event.locationInWindow(), nullptr);
    menu->popUpMenuPositioningItem(nullptr, p, view);
}

void Menu::popUpMenuPositioningItem(const MenuItem* item, Point location, View* view)
{
    if (!view)
        return;
    QWidget* w = view->widget();
    const double y = view->isFlipped() ? location.y : view->bounds().height() - location.y;
    QMenu* qm = makeQMenu(w);
    qm->setAttribute(Qt::WA_DeleteOnClose);
    qm->popup(w->mapToGlobal(QPoint(int(location.x), int(y))));
    // The given item is marked, so that the arrows go on from it and Return keeps it.
    const QList<QAction*> actions = qm->actions();
    for (size_t i = 0; item && i < m_items.size() && qsizetype(i) < actions.size(); ++i)
        if (m_items[i].get() == item && actions[qsizetype(i)]->isEnabled())
            qm->setActiveAction(actions[qsizetype(i)]);
}

} // namespace kpv
