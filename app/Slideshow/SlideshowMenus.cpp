#include "Slideshow/SlideshowMenus.h"

#include "Slideshow/SlideshowMusic.h"

#include "Kit/LMPopMenuView.h"
#include "Kit/LMPopMenuViewController.h"
#include "foundation/FileNames.h"
#include "foundation/Bundle.h"

#include <QFileInfo>

namespace {
// The music menu's fixed rows; a user's file is its path.
const QString kThemeMusicRow = QStringLiteral("#theme");
const QString kChooseRow = QStringLiteral("#choose");
const QString kMuteRow = QStringLiteral("#mute");
// Characters of a music file's name shown in the menu, at most.
constexpr qsizetype kMaxMusicTitle = 40;

QString text(const char* key) { return kpv::Bundle::mainBundle().localizedString(QString::fromLatin1(key)); }

// The rows are read again from the data source (a menu on screen is built again at once).
void refill(LMPopMenuViewController& controller)
{
    if (LMPopMenuView* menu = controller.popMenuView())
        menu->reloadData();
}
} // namespace

SlideshowMenus::SlideshowMenus(kpv::View* parent, const SlideshowMusic* music, Handlers handlers)
    : m_parent(parent)
    , m_music(music)
    , m_handlers(std::move(handlers))
    , m_themeMenu(LMPopMenuViewController::popMenuViewControllerWithDataSource(this, this, parent))
    , m_musicMenu(LMPopMenuViewController::popMenuViewControllerWithDataSource(this, this, parent))
{
    for (auto* menu : {m_themeMenu.get(), m_musicMenu.get()})
        menu->popMenuView()->setMinWidth(150);
}

SlideshowMenus::~SlideshowMenus()
{
    // The menus may still be shown in the parent; hide them before their data source goes.
    hideAll();
}

void SlideshowMenus::setThemes(std::vector<SlideshowTheme> themes, qint64 currentID, qint64 currentGroupID)
{
    m_themes = std::move(themes);
    m_currentID = currentID;
    m_currentGroupID = currentGroupID;
}

void SlideshowMenus::showThemes(kpv::Point at)
{
    m_musicMenu->hide(false);
    refill(*m_themeMenu);
    m_themeMenu->showAtLocationInWindow(at, false);
}

void SlideshowMenus::showMusic(kpv::Point at, bool delay)
{
    m_themeMenu->hide(false);
    if (!delay)
        refill(*m_musicMenu);
    m_musicMenu->showAtLocationInWindow(at, delay);
}

void SlideshowMenus::hideMusic(bool delay) { m_musicMenu->hide(delay); }

void SlideshowMenus::hideAll()
{
    m_themeMenu->hide(false);
    m_musicMenu->hide(false);
}

bool SlideshowMenus::isAnyShown() const
{
    for (auto* c : {m_themeMenu.get(), m_musicMenu.get()})
        if (LMPopupView* v = c->popupView(); v && v->isShown())
            return true;
    return false;
}

LMPopMenuView* SlideshowMenus::themeMenuView() const { return m_themeMenu->popMenuView(); }

LMPopMenuView* SlideshowMenus::musicMenuView() const { return m_musicMenu->popMenuView(); }

bool SlideshowMenus::isThemeMenu(LMPopMenuView* menu) const { return menu == m_themeMenu->popMenuView(); }

std::vector<QVariant> SlideshowMenus::musicRows() const
{
    std::vector<QVariant> rows{kThemeMusicRow};
    const std::vector<LMPathString> recent = m_music->recentMusicPaths();
    // Newest first.
    for (auto it = recent.rbegin(); it != recent.rend(); ++it)
        rows.emplace_back(it->path());
    rows.emplace_back(kChooseRow);
    rows.emplace_back(kMuteRow);
    return rows;
}

QString SlideshowMenus::musicTitle(const QVariant& row) const
{
    const QString s = row.toString();
    if (s == kThemeMusicRow)
        return text("IDS_SS_THEME_MUSIC");
    if (s == kChooseRow)
        return text("IDS_SS_CHOOSE_MUSIC");
    if (s == kMuteRow)
        return text("IDS_SS_MUTE");
    // A long file name keeps its start and its end (the part that tells one take from another,
    // and the type) so that the menu stays narrower than the slideshow.
    const QString name = kpv::displayFileName(QFileInfo(s).fileName());
    if (name.size() <= kMaxMusicTitle)
        return name;
    const qsizetype tail = kMaxMusicTitle / 3;
    return name.left(kMaxMusicTitle - tail - 1) + QChar(0x2026) + name.right(tail);
}

bool SlideshowMenus::musicChecked(const QVariant& row) const
{
    const QString s = row.toString();
    if (s == kThemeMusicRow)
        return m_music->isUsingThemeMusic();
    if (s == kMuteRow)
        return m_music->isMuted();
    if (s == kChooseRow)
        return false;
    const auto user = m_music->userMusicPath();
    return !m_music->isUsingThemeMusic() && user && user->path() == s;
}

void SlideshowMenus::musicClicked(const QVariant& row)
{
    const QString s = row.toString();
    if (s == kThemeMusicRow) {
        if (m_handlers.themeMusicChosen)
            m_handlers.themeMusicChosen();
    } else if (s == kChooseRow) {
        if (m_handlers.chooseMusic)
            m_handlers.chooseMusic();
    } else if (s == kMuteRow) {
        if (m_handlers.muteChosen)
            m_handlers.muteChosen(!m_music->isMuted());
    } else if (m_handlers.userMusicChosen) {
        m_handlers.userMusicChosen(LMPathString(s, false));
    }
}

QStringList SlideshowMenus::themeTitles() const
{
    QStringList out;
    for (const SlideshowTheme& t : m_themes)
        out << t.name;
    return out;
}

QStringList SlideshowMenus::musicTitles() const
{
    QStringList out;
    for (const QVariant& row : musicRows())
        out << musicTitle(row);
    return out;
}

void SlideshowMenus::clickMusicRow(int row)
{
    const auto rows = musicRows();
    if (row >= 0 && row < int(rows.size()))
        musicClicked(rows[std::size_t(row)]);
}

void SlideshowMenus::clickThemeRow(int row)
{
    if (row >= 0 && row < int(m_themes.size()) && m_handlers.themeChosen)
        m_handlers.themeChosen(m_themes[std::size_t(row)]);
}

unsigned long SlideshowMenus::numberOfItemsInPopMenuView(LMPopMenuView* menu, const QVariant&)
{
    return isThemeMenu(menu) ? m_themes.size() : musicRows().size();
}

QVariant SlideshowMenus::popMenuView_itemAtIndex(LMPopMenuView* menu, const QVariant&, unsigned long index)
{
    if (isThemeMenu(menu))
        return index < m_themes.size() ? QVariant(qlonglong(index)) : QVariant();
    const auto rows = musicRows();
    return index < rows.size() ? rows[index] : QVariant();
}

QString SlideshowMenus::popMenuView_itemTitleForRepresentedObject(LMPopMenuView* menu, const QVariant& object)
{
    if (!isThemeMenu(menu))
        return musicTitle(object);
    const qlonglong i = object.toLongLong();
    return i >= 0 && i < qlonglong(m_themes.size()) ? m_themes[std::size_t(i)].name : QString();
}

QString SlideshowMenus::popMenuView_iconImageNameForRepresentedObject(LMPopMenuView*, const QVariant&, bool check)
{
    return check ? QStringLiteral("icon_chck_on") : QString();
}

void SlideshowMenus::popMenuViewItemClicked(LMPopMenuView* menu, const QVariant& object, const QVariant&)
{
    if (isThemeMenu(menu)) {
        clickThemeRow(int(object.toLongLong()));
        return;
    }
    musicClicked(object);
}

bool SlideshowMenus::popMenuViewItemChecked(LMPopMenuView* menu, const QVariant& object, const QVariant&)
{
    if (!isThemeMenu(menu))
        return musicChecked(object);
    const qlonglong i = object.toLongLong();
    if (i < 0 || i >= qlonglong(m_themes.size()))
        return false;
    const SlideshowTheme& t = m_themes[std::size_t(i)];
    return t.themeID == m_currentID && t.groupID == m_currentGroupID;
}
