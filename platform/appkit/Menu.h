#pragma once
// Menus and their items, on Qt menus. Items are validated (enabled or not) each time the menu
// opens, through the menu's validator when it has one.

#include "appkit/Application.h"
#include "appkit/Image.h"

#include <QString>
#include <QVariant>
#include <functional>
#include <memory>
#include <vector>

class QAction;
class QMenu;

namespace kpv {

class Menu;
class View;
class Event;

class MenuItem {
public:
    MenuItem(const QString& title = {}, std::function<void(MenuItem&)> action = {}, const QString& keyEquivalent = {});
    static std::shared_ptr<MenuItem> separatorItem();

    QString title() const { return m_title; }
    void setTitle(const QString& t) { m_title = t; }
    // 0 off, 1 on (a tick), -1 mixed.
    long state() const { return m_state; }
    void setState(long s) { m_state = s; }
    bool isEnabled() const { return m_enabled; }
    void setEnabled(bool e) { m_enabled = e; }
    // A hidden item stays in the menu's list but is not shown.
    bool isHidden() const { return m_hidden; }
    void setHidden(bool h) { m_hidden = h; }
    long tag() const { return m_tag; }
    void setTag(long t) { m_tag = t; }
    QVariant representedObject() const { return m_represented; }
    void setRepresentedObject(const QVariant& v) { m_represented = v; }
    ImagePtr image() const { return m_image; }
    void setImage(ImagePtr i) { m_image = std::move(i); }
    std::shared_ptr<Menu> submenu() const { return m_submenu; }
    void setSubmenu(std::shared_ptr<Menu> m) { m_submenu = std::move(m); }
    bool hasSubmenu() const { return m_submenu != nullptr; }
    bool isSeparatorItem() const { return m_separator; }
    QString keyEquivalent() const { return m_key; }
    // Modifier flags of the key equivalent (command by default).
    std::uint64_t keyEquivalentModifierMask() const { return m_keyMask; }
    void setKeyEquivalentModifierMask(std::uint64_t m) { m_keyMask = m; }
    void setAction(std::function<void(MenuItem&)> a) { m_action = std::move(a); }
    // Runs the action as a click would.
    void performAction();

private:
    QString m_title;
    std::function<void(MenuItem&)> m_action;
    QString m_key;
    std::uint64_t m_keyMask;
    long m_state = 0;
    bool m_enabled = true;
    bool m_hidden = false;
    long m_tag = 0;
    QVariant m_represented;
    ImagePtr m_image;
    std::shared_ptr<Menu> m_submenu;
    bool m_separator = false;
};

using MenuItemPtr = std::shared_ptr<MenuItem>;

class Menu {
public:
    explicit Menu(const QString& title = {}) : m_title(title) {}

    QString title() const { return m_title; }
    void setTitle(const QString& t) { m_title = t; }
    // A title as the toolkit's menus take it: titles are plain text (a file name may hold "&"),
    // so no character of them is read as a mnemonic.
    static QString shownTitle(const QString& title);
    const std::vector<MenuItemPtr>& itemArray() const { return m_items; }
    int numberOfItems() const { return int(m_items.size()); }
    MenuItemPtr itemAtIndex(int i) const;
    MenuItemPtr itemWithTag(long tag) const;
    int indexOfItem(const MenuItem* item) const;
    void addItem(MenuItemPtr item);
    MenuItemPtr addItemWithTitle(const QString& title, std::function<void(MenuItem&)> action, const QString& key = {});
    void insertItem(MenuItemPtr item, int index);
    void removeItemAtIndex(int index);
    void removeAllItems() { m_items.clear(); }

    // With auto-enabling on, each item's enabled flag comes from the validator when one is set.
    bool autoenablesItems() const { return m_autoenables; }
    void setAutoenablesItems(bool a) { m_autoenables = a; }
    void setValidator(std::function<bool(MenuItem&)> v) { m_validator = std::move(v); }
    void update();

    // Builds a Qt menu for showing (owned by the caller).
    QMenu* makeQMenu(QWidget* parent) const;
    // Shows the menu at the event's location in its window, as a context menu.
    static void popUpContextMenu(const std::shared_ptr<Menu>& menu, const Event& event, View* view);
    // Shows the menu with its top-left at `location` in the view's coordinates.
    void popUpMenuPositioningItem(const MenuItem* item, Point location, View* view);

private:
    QString m_title;
    std::vector<MenuItemPtr> m_items;
    bool m_autoenables = true;
    std::function<bool(MenuItem&)> m_validator;
};

} // namespace kpv
