#pragma once
// The slideshow's two pop-up menus: the themes (the current one checked) and the music (the
// theme's music, the few files of the user's own chosen last, Choose Music…, Mute). They open
// above the control bar's buttons; the music menu also opens when the pointer rests on the
// music button and closes a moment after it leaves.

#include "Kit/LMPopMenuDelegates.h"
#include "Model/LMPathString.h"
#include "Slideshow/SlideshowTheme.h"
#include "appkit/Geometry.h"

#include <functional>
#include <memory>
#include <vector>

class LMPopMenuViewController;
class SlideshowMusic;
namespace kpv {
class View;
}

class SlideshowMenus : public LMPopMenuViewDataSource, public LMPopMenuViewDelegate {
public:
    struct Handlers {
        std::function<void(const SlideshowTheme&)> themeChosen;
        std::function<void()> themeMusicChosen;
        std::function<void(const LMPathString&)> userMusicChosen;
        std::function<void()> chooseMusic;
        std::function<void(bool)> muteChosen;
    };

    // The menus show inside `parent` (not owned); `music` (not owned) answers the checks.
    SlideshowMenus(kpv::View* parent, const SlideshowMusic* music, Handlers handlers);
    ~SlideshowMenus() override;

    void setThemes(std::vector<SlideshowTheme> themes, qint64 currentID, qint64 currentGroupID);
    // `at` in window coordinates: the menu's bottom centre.
    void showThemes(kpv::Point at);
    void showMusic(kpv::Point at, bool delay);
    void hideMusic(bool delay);
    void hideAll();
    bool isAnyShown() const;

    // The rows as the menus list them (tests).
    QStringList themeTitles() const;
    QStringList musicTitles() const;
    void clickMusicRow(int row);
    void clickThemeRow(int row);
    // The menus' views, with the rows they show (tests).
    LMPopMenuView* themeMenuView() const;
    LMPopMenuView* musicMenuView() const;

    // ---- data source and delegate of both menus ----
    unsigned long numberOfItemsInPopMenuView(LMPopMenuView* menu, const QVariant& parent) override;
    QVariant popMenuView_itemAtIndex(LMPopMenuView* menu, const QVariant& parent, unsigned long index) override;
    QString popMenuView_itemTitleForRepresentedObject(LMPopMenuView* menu, const QVariant& object) override;
    QString popMenuView_iconImageNameForRepresentedObject(LMPopMenuView* menu, const QVariant& object, bool check) override;
    void popMenuViewItemClicked(LMPopMenuView* menu, const QVariant& object, const QVariant& parent) override;
    bool popMenuViewItemChecked(LMPopMenuView* menu, const QVariant& object, const QVariant& parent) override;

private:
    bool isThemeMenu(LMPopMenuView* menu) const;
    std::vector<QVariant> musicRows() const;
    QString musicTitle(const QVariant& row) const;
    bool musicChecked(const QVariant& row) const;
    void musicClicked(const QVariant& row);

    kpv::View* m_parent;
    const SlideshowMusic* m_music;
    Handlers m_handlers;
    std::vector<SlideshowTheme> m_themes;
    qint64 m_currentID = 0;
    qint64 m_currentGroupID = 0;
    std::unique_ptr<LMPopMenuViewController> m_themeMenu;
    std::unique_ptr<LMPopMenuViewController> m_musicMenu;
};
