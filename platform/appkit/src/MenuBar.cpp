#include "appkit/MenuBar.h"

#include "appkit/Event.h"
#include "appkit/Window.h"
#include "foundation/NotificationCenter.h"

#include <QEvent>
#include <QMenu>
#include <QMenuBar>
#include <QObject>
#include <QWidget>

namespace kpv {

namespace {

constexpr std::uint64_t kShortcutModifiers = CommandKeyMask | AlternateKeyMask | ShiftKeyMask | ControlKeyMask;
constexpr unsigned short kF10KeyCode = 109;

// A menu closed with Esc hands the keyboard to the bar, its title lit so the arrows move along
// the titles, and the next Esc puts the light out. Our views never hold Qt's focus, so the bar
// then has nobody to give it back to and keeps it: it would take every later Esc from the window
// (a slideshow could no longer be ended). A key that reaches the bar with no title lit therefore
// goes on to the window, and the bar lets go of the focus.
class KeyboardReturner final : public QObject {
public:
    explicit KeyboardReturner(QMenuBar* bar) : QObject(bar), m_bar(bar) {}

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        const QEvent::Type t = event->type();
        if (watched != m_bar || (t != QEvent::KeyPress && t != QEvent::KeyRelease) || m_bar->activeAction())
            return false;
        m_bar->clearFocus();
        // Not taken: Qt offers an ignored key to the parent widget, the window, next.
        event->ignore();
        return true;
    }

private:
    QMenuBar* m_bar;
};

// The item of `menu` (searched depth first) with this key equivalent and modifiers, and the menu
// that holds it.
MenuItemPtr findItem(const std::shared_ptr<Menu>& menu, const QString& key, std::uint64_t modifiers,
                     std::shared_ptr<Menu>* owner)
{
    for (const MenuItemPtr& item : menu->itemArray()) {
        if (item->isSeparatorItem())
            continue;
        if (item->hasSubmenu()) {
            if (MenuItemPtr found = findItem(item->submenu(), key, modifiers, owner))
                return found;
            continue;
        }
        const QString k = item->keyEquivalent();
        if (k.isEmpty())
            continue;
        // Letters match in either case: the modifier mask alone says whether Shift is wanted.
        if ((item->keyEquivalentModifierMask() & kShortcutModifiers) == modifiers && k.compare(key, Qt::CaseInsensitive) == 0) {
            *owner = menu;
            return item;
        }
    }
    return nullptr;
}

} // namespace

MenuBar::MenuBar(Window* window) : m_window(window)
{
    if (m_window && m_window->widget()) {
        m_bar = new QMenuBar(m_window->widget());
        // Shortcuts go through performKeyEquivalent, never through Qt, so validation runs first.
        m_bar->setNativeMenuBar(false);
        m_bar->installEventFilter(new KeyboardReturner(m_bar));
        m_bar->setAttribute(Qt::WA_TranslucentBackground);
        m_bar->setStyleSheet(QStringLiteral("QMenuBar { background: transparent; color: rgb(230,230,230); }"
                                            "QMenuBar::item { background: transparent; }"
                                            "QMenuBar::item:selected { background: rgba(255,255,255,40); }"));
    }
    // Full screen shows the window's content alone: the bar goes while it lasts, its keys stay.
    NotificationCenter& center = NotificationCenter::defaultCenter();
    for (const char* name : {WindowDidEnterFullScreenNotification, WindowDidExitFullScreenNotification}) {
        center.addObserver(this, QString::fromLatin1(name), m_window, [this](const Notification&) {
            if (m_bar && m_window)
                m_bar->setVisible(!m_window->isFullScreen());
        });
    }
    m_monitor = Application::shared().addLocalMonitorForEventsMatchingMask(
        KeyDownMask, [this](const EventPtr& e) -> EventPtr {
            if (e && e->window() == m_window && (performKeyEquivalent(*e) || openMenuForKey(*e)))
                return nullptr;
            return e;
        });
}

MenuBar::~MenuBar()
{
    Application::shared().removeMonitor(m_monitor);
    NotificationCenter::defaultCenter().removeObserver(this);
    // The bar is a child of the window's widget, which deletes it if it goes first.
    delete m_bar.data();
}

void MenuBar::setMenus(std::vector<std::shared_ptr<Menu>> menus)
{
    m_menus = std::move(menus);
    rebuild();
}

void MenuBar::rebuild()
{
    if (!m_bar)
        return;
    m_bar->clear();
    for (const auto& menu : m_menus) {
        if (!menu)
            continue;
        QMenu* top = m_bar->addMenu(Menu::shownTitle(menu->title()));
        // Rebuilt on every opening so that titles, ticks and validation are current.
        std::weak_ptr<Menu> weak = menu;
        QObject::connect(top, &QMenu::aboutToShow, top, [top, weak] {
            top->clear();
            qDeleteAll(top->findChildren<QMenu*>(QString(), Qt::FindDirectChildrenOnly));
            const auto m = weak.lock();
            if (!m)
                return;
            QMenu* built = m->makeQMenu(top);
            for (QAction* a : built->actions()) {
                // Shown as a hint only: the key itself is matched by performKeyEquivalent.
                a->setShortcutContext(Qt::WidgetShortcut);
                top->addAction(a);
            }
        });
    }
    m_bar->adjustSize();
    m_bar->move(0, 0);
    if (m_window)
        m_window->setMenuBarWidth(m_bar->width());
    m_bar->raise();
    m_bar->setVisible(!m_window || !m_window->isFullScreen());
}

MenuItemPtr MenuBar::itemForKeyEquivalent(const Event& e, std::shared_ptr<Menu>* owner) const
{
    if (e.type() != KeyDown)
        return nullptr;
    const QString key = e.charactersIgnoringModifiers();
    if (key.isEmpty())
        return nullptr;
    const std::uint64_t modifiers = e.modifierFlags() & kShortcutModifiers;
    std::shared_ptr<Menu> found;
    for (const auto& menu : m_menus) {
        if (MenuItemPtr item = menu ? findItem(menu, key, modifiers, &found) : nullptr) {
            if (owner)
                *owner = found;
            return item;
        }
    }
    // Ctrl and + is Ctrl and = as well, as everywhere on this desktop: + is Shift with = on most
    // layouts, and the keypad has a + of its own, so Ctrl++ zooms in as Ctrl+- zooms out.
    if (key == QLatin1String("+"))
        return itemForKeyEquivalent(*Event::keyEvent(KeyDown, e.keyCode(), QStringLiteral("="), QStringLiteral("="),
                                                     e.window(), e.modifierFlags() & ~ShiftKeyMask),
                                    owner);
    return nullptr;
}

bool MenuBar::performKeyEquivalent(const Event& e)
{
    std::shared_ptr<Menu> owner;
    MenuItemPtr item = itemForKeyEquivalent(e, &owner);
    if (!item || !owner)
        return false;
    owner->update();
    if (!item->isEnabled())
        return false;
    item->performAction();
    return true;
}

bool MenuBar::openMenuForKey(const Event& e)
{
    // The keyboard's way into the menus, as on the rest of this desktop: F10 opens the first
    // menu, Alt and a letter the menu whose title starts with it; the arrows go on from there.
    if (!m_bar || !m_bar->isVisible() || e.type() != KeyDown || e.isARepeat())
        return false;
    const std::uint64_t modifiers = e.modifierFlags() & kShortcutModifiers;
    const QList<QAction*> titles = m_bar->actions();
    QAction* open = nullptr;
    if (e.keyCode() == kF10KeyCode && modifiers == 0) {
        open = titles.isEmpty() ? nullptr : titles.first();
    } else if (modifiers == AlternateKeyMask) {
        const QString key = e.charactersIgnoringModifiers();
        if (key.size() != 1 || !key.at(0).isLetterOrNumber())
            return false;
        for (QAction* title : titles) {
            const QString text = title->iconText(); // as shown
            if (title->isVisible() && text.startsWith(key, Qt::CaseInsensitive)) {
                open = title;
                break;
            }
        }
    }
    if (!open)
        return false;
    m_bar->setActiveAction(open);
    return true;
}

} // namespace kpv
