// The main window controller's commands: which may run now, the validation of the menu items,
// the routing of each command to the controller of the current show mode, and the menus.

#include "Shell/MainWndController.h"
#include "Model/LMPhotoLibrary.h"

#include "Shell/AppDelegate.h"
#include "Shell/LMMainWindow.h"
#include "Shell/LMMainWndContentView.h"
#include "Shell/MainWndSecondaryWindows.h"
#include "Shell/ViewModeController.h"

#include "Model/LMBookmarkCache.h"
#include "Model/MainConfig.h"
#include "appkit/Menu.h"
#include "foundation/Bundle.h"

#include <QApplication>
#include <QDesktopServices>
#include <QFileInfo>
#include <QWidget>

namespace {

constexpr unsigned kNav = MainShowModeView | MainShowModeMiniWithImage; // 4 and 128
constexpr unsigned kNav4 = MainShowModeView;
constexpr unsigned kFav = MainShowModeFavorite;
constexpr unsigned kCrop = MainShowModeCrop;
constexpr unsigned kThumb = MainShowModeThumbnail;

// Tags of the menu items that have no action id of their own.
enum ExtraTag : long {
    TagBatchConvert = 119, // shares action id 19 with batch resize
    TagAbout = 200,
    TagPreferences,
    TagMinimize,
    TagHelp,
    TagQuit,
    TagClearRecent,
};

struct ActionEntry {
    long id;
    const char* titleKey;
    unsigned navModes;   // modes in which the viewer's controller is asked
    unsigned otherModes; // modes whose own controller is asked
};

// Per action id: its title and who is asked in which mode.
const ActionEntry kActions[] = {
    {4, "IDS_MENU_Saveas", kNav, kFav | kCrop},
    {5, "IDS_MENU_Print", kNav, kFav},
    {6, "IDS_MENU_RevealinFinder", kNav4, kFav | kThumb},
    {7, "IDS_MENU_Copy", kNav, kFav | kCrop | kThumb},
    {8, "IDS_MENU_MovetoTrash", kNav, kThumb},
    {9, "IDS_MENU_Crop", kNav, kCrop},
    {10, "IDS_MENU_SelectAll", 0, kFav | kCrop},
    {11, "IDS_MENU_ILoveit", kNav, kCrop},
    {12, "IDS_MENU_RemoveFavorite", 0, kFav},
    {13, "IDS_MENU_MyFavorites", kNav, 0},
    {14, "IDS_MENU_RotateLeft", kNav, kCrop},
    {15, "IDS_MENU_RotateRight", kNav, kCrop},
    {16, "IDS_MENU_FlipHorizontal", kNav, 0},
    {17, "IDS_MENU_FlipVertical", kNav, 0},
    {18, "IDS_MENU_BatchRename", kNav, kFav},
    {19, "IDS_MENU_BatchResize", kNav, kFav},
    {20, nullptr, kNav, kFav},
    {21, "IDS_MENU_Facebook_e", kNav, kFav},
    {22, "IDS_MENU_Twitter_e", kNav, kFav},
    {23, "IDS_MENU_Flickr_e", kNav, kFav},
    {24, "IDS_MENU_Tumblr_e", kNav, kFav},
    {25, "IDS_MENU_EMAIL_e", kNav, kFav},
    {26, "IDS_MENU_IPHOTO_e", kNav, kFav},
    {27, "IDS_MENU_SetDesktop", kNav, 0},
    {28, "IDS_MENU_ShowPhotoBin", kNav, 0},
    {29, "IDS_MENU_ShowProperties", kNav, 0},
    {30, "IDS_MENU_ActualSize", kNav, kCrop},
    {31, "IDS_MENU_ZoomtoFit", kNav, kCrop},
    {32, "IDS_MENU_ZoomIn", kNav, kCrop},
    {33, "IDS_MENU_ZoomOut", kNav, kCrop},
    {34, "IDS_MENU_Name", kNav, kThumb},
    {35, "IDS_MENU_DateModified", kNav, kThumb},
    {36, "IDS_MENU_Ascending", kNav, kThumb},
    {37, "IDS_MENU_Descending", kNav, kThumb},
    {38, "IDS_ThumbView", kNav4, 0},
    {39, "IDS_MENU_Slideshow", kNav, kFav},
    {40, "IDS_MENU_Previous", kNav, 0},
    {41, "IDS_MENU_Next", kNav, 0},
    {42, "IDS_MENU_PageUp", kNav, 0},
    {43, "IDS_MENU_PageDown", kNav, 0},
    {44, "IDS_MENU_FirstImage", kNav, 0},
    {45, "IDS_MENU_LastImage", kNav, 0},
};

const ActionEntry* entryFor(long id)
{
    for (const ActionEntry& e : kActions) {
        if (e.id == id)
            return &e;
    }
    return nullptr;
}

QString tr(const char* key)
{
    return kpv::Bundle::mainBundle().localizedString(QString::fromLatin1(key));
}

// The action id of a menu item's tag (batch convert answers as batch resize).
long actionIdForTag(long tag)
{
    return tag == TagBatchConvert ? 19 : tag;
}

} // namespace

// ---- Which commands may run ----

bool MainWndController::isWorkableWindow() const
{
    if (qApp && QApplication::activeModalWidget())
        return false;
    kpv::Window* w = getCurWindow();
    return !(w && w->attachedSheet());
}

bool MainWndController::canDoAction(long id)
{
    kpv::Window* cur = getCurWindow();
    switch (id) {
    case 1:
    case 47:
    case 48:
    case 49: return isWorkableWindow();
    case 2: {
        if (!m_appLaunched || !cur || !cur->isVisible())
            return true;
        if (!isWorkableWindow())
            return false;
        switch (m_showMode) {
        case MainShowModeNone:
        case MainShowModeEmpty:
        case MainShowModeMiniWithImage:
        case MainShowModeMiniEmpty: return true;
        case MainShowModeView: return !(m_navigateController && m_navigateController->curLoveIntroTipsShowStatus());
        default: return false;
        }
    }
    case 3: {
        kpv::Window* key = kpv::Application::shared().keyWindow();
        if (key && key == m_window.get())
            return (m_window->styleMask() & kpv::ClosableWindowMask) != 0;
        if (!key)
            return false;
        ShowModeController* mini = existingModeController(MainShowModeMiniWithImage);
        return mini && mini->window() == key;
    }
    case 46: return cur && !cur->isFullScreen();
    default: break;
    }
    if (id >= 50 || id < 1)
        return false;
    if (!isWorkableWindow())
        return false;
    const ActionEntry* e = entryFor(id);
    if (!e)
        return false;
    if ((e->navModes & unsigned(m_showMode)) != 0)
        return m_navigateController && m_navigateController->canDoAction(id);
    if ((e->otherModes & unsigned(m_showMode)) != 0) {
        ShowModeController* c = existingModeController(m_showMode);
        return c && c->canDoAction(id);
    }
    return false;
}

bool MainWndController::canShowActionItem(long id)
{
    switch (id) {
    case 18: return !LMBookmarkCache::defaultCache().isSandBoxed();
    case 25: return MainConfig::isShareTypeSupported(33);
    case 26: return MainConfig::isShareTypeSupported(34) && QFileInfo::exists(LMPhotoLibrary::applicationPath());
    default: return true;
    }
}

long MainWndController::mainActionTypeForShareType(long shareType)
{
    switch (shareType) {
    case 1: return 21;
    case 2: return 23;
    case 3: return 22;
    case 4: return 24;
    case 33: return 25;
    case 34: return 26;
    default: return 0;
    }
}

bool MainWndController::validateMenuItem(kpv::MenuItem& item)
{
    const long tag = item.tag();
    const long id = actionIdForTag(tag);
    if (item.representedObject().isValid())
        return canDoAction(2); // a recent document
    if (tag == TagBatchConvert) {
        item.setTitle(tr("IDS_MENU_BatchConvert"));
        return canDoAction(19);
    }
    if (id <= 0 || id >= 50)
        return true; // not a command of the table: enabled, title unchanged
    static const char* const mainTitles[] = {nullptr, "IDS_MENU_Account", "IDS_MENU_Open", "IDS_MENU_CloseWindow"};
    if (id <= 3) {
        item.setTitle(tr(mainTitles[id]));
        return canDoAction(id);
    }
    if (id >= 46) {
        static const char* const tailTitles[] = {"IDS_MENU_WinOnTop", "IDS_MENU_Feedback", "IDS_MENU_Rate",
                                                 "IDS_MENU_Recommend"};
        item.setTitle(tr(tailTitles[id - 46]));
        if (id == 46) {
            kpv::Window* cur = getCurWindow();
            item.setState(cur && cur->level() == kpv::FloatingWindowLevel ? 1 : 0);
        }
        return canDoAction(id);
    }
    const ActionEntry* e = entryFor(id);
    if (!e || !e->titleKey)
        return canDoAction(id);
    QString title = tr(e->titleKey);
    const qint64 sortType = m_delegate.mainConfig()->sortByType();
    switch (id) {
    case 11:
        if (m_showMode == MainShowModeView && m_navigateController) {
            ShowModeController* fav = existingModeController(MainShowModeFavorite);
            if (fav && fav->isFavoriteFile(m_navigateController->curFilePath()))
                title = tr("IDS_MENU_RemoveFavorite");
        }
        break;
    case 28:
        title = tr(m_delegate.mainConfig()->photoBinVisible() ? "IDS_MENU_HidePhotoBin" : "IDS_MENU_ShowPhotoBin");
        break;
    case 29:
        title = tr(m_navigateController && m_navigateController->curPropertiesWindowShowStatus() ? "IDS_MENU_HideProperties"
                                                                                                  : "IDS_MENU_ShowProperties");
        break;
    case 34: item.setState((sortType & ~0x1000) == 1 ? 1 : 0); break;
    case 35: item.setState((sortType & ~0x1000) == 2 ? 1 : 0); break;
    case 36: item.setState((sortType & 0x1000) == 0 ? 1 : 0); break;
    case 37: item.setState((sortType & 0x1000) != 0 ? 1 : 0); break;
    default: break;
    }
    item.setTitle(title);
    return canDoAction(id);
}

// ---- Running commands ----

void MainWndController::shareForType(long shareType)
{
    const long id = mainActionTypeForShareType(shareType);
    if (id == 0 || !canDoAction(id))
        return;
    if ((m_showMode & kNav) && m_navigateController)
        m_navigateController->doShareForType(shareType);
    else if (m_showMode == MainShowModeFavorite) {
        if (ShowModeController* fav = existingModeController(MainShowModeFavorite))
            fav->doAction(id, shareType);
    }
}

void MainWndController::performMenuAction(long tag)
{
    const long id = actionIdForTag(tag);
    switch (tag) {
    case TagAbout: secondaryWindows().showAboutWindow(); return;
    case TagPreferences: secondaryWindows().showOptionWindowWithTabType(0, false); return;
    case TagHelp: {
        const QUrl url = helpPageUrl();
        if (m_openUrlHandler)
            m_openUrlHandler(url);
        else
            QDesktopServices::openUrl(url);
        return;
    }
    case TagMinimize:
        if (kpv::Window* w = getCurWindow()) {
            windowWillMiniaturize();
            if (w->widget())
                w->widget()->showMinimized();
        }
        return;
    case TagQuit:
        if (qApp)
            QCoreApplication::quit();
        return;
    case TagClearRecent: clearRecentDocuments(); return;
    default: break;
    }
    switch (id) {
    case 1:
        if (canDoAction(id))
            secondaryWindows().showAccountWindow();
        return;
    case 47:
        if (canDoAction(id))
            doFeedback();
        return;
    case 48:
        if (canDoAction(id))
            rateMenuItemClicked();
        return;
    case 49:
        if (canDoAction(id))
            recommendMenuItemClicked();
        return;
    case 2: doOpenFile(QString(), false); return;
    case 3: {
        if (!canDoAction(3))
            return;
        kpv::Window* key = kpv::Application::shared().keyWindow();
        if (key == m_window.get())
            m_window->performClose();
        else if (key)
            key->close();
        return;
    }
    case 46: {
        if (!canDoAction(46))
            return;
        kpv::Window* cur = getCurWindow();
        cur->setLevel(cur->level() == kpv::NormalWindowLevel ? kpv::FloatingWindowLevel : kpv::NormalWindowLevel);
        return;
    }
    default: break;
    }
    if (!canDoAction(id))
        return;
    if (tag == TagBatchConvert) {
        if (m_showMode == MainShowModeView && m_navigateController)
            m_navigateController->doBatchConvert();
        else if (m_showMode == MainShowModeFavorite)
            doActionInMode(TagBatchConvert, 0);
        return;
    }
    switch (id) {
    case 21: shareForType(1); return;
    case 22: shareForType(3); return;
    case 23: shareForType(2); return;
    case 24: shareForType(4); return;
    case 25: shareForType(33); return;
    case 26: shareForType(34); return;
    default: break;
    }
    ViewModeController* nav = m_navigateController;
    const bool in4 = m_showMode == MainShowModeView;
    const bool inNav = (m_showMode & kNav) != 0;
    const qint64 sortType = m_delegate.mainConfig()->sortByType();
    if (nav) {
        switch (id) {
        // The viewer's commands whatever the mode (they are enabled only in 4 and 128).
        case 13: nav->switchToMyFavorites(); return;
        case 38: nav->switchToThumbView(); return;
        case 27: nav->setCurFileToDesktop(); return;
        case 28: nav->switchPhotoBin(); return;
        case 29: nav->switchPropertiesWindow(); return;
        case 34: nav->sortFiles((sortType & 0x1000) | 1); return;
        case 35: nav->sortFiles((sortType & 0x1000) | 2); return;
        case 36: nav->sortFiles(sortType & ~qint64(0x1000)); return;
        case 37: nav->sortFiles(sortType | 0x1000); return;
        case 40: nav->doNavCurFileToNext(false); return;
        case 41: nav->doNavCurFileToNext(true); return;
        case 42: nav->doNavCurFileByPageUp(true); return;
        case 43: nav->doNavCurFileByPageUp(false); return;
        case 44: nav->doNavCurFileToFirst(true); return;
        case 45: nav->doNavCurFileToFirst(false); return;
        default: break;
        }
        if (inNav) {
            switch (id) {
            case 4: nav->saveAsCurFile(); return;
            case 5: nav->printCurFile(); return;
            case 7: nav->copyCurFile(); return;
            case 8: nav->deleteCurFile(); return;
            case 14: nav->rotateCurFile(1); return;
            case 15: nav->rotateCurFile(2); return;
            case 16: nav->rotateCurFile(3); return;
            case 17: nav->rotateCurFile(4); return;
            case 30: nav->switchToOriginal(); return;
            case 31: nav->switchToFitin(); return;
            case 32: nav->doZoomCurFile(true); return;
            case 33: nav->doZoomCurFile(false); return;
            default: break;
            }
        }
        if (in4) {
            switch (id) {
            case 6: nav->revealCurFileInFinder(); return;
            case 9: nav->cropCurFile(); return;
            case 11: nav->favorCurFile(); return;
            case 18: nav->doBatchRename(); return;
            case 19: nav->doBatchResize(); return;
            case 39: nav->playSlideshow(); return;
            default: break;
            }
        }
    }
    if (!inNav) {
        const long argument = id == 14 ? 1 : id == 15 ? 2 : 0;
        doActionInMode(id, argument);
    }
}

void MainWndController::doActionInMode(long id, long argument)
{
    const ActionEntry* e = entryFor(actionIdForTag(id));
    if (!e || (e->otherModes & unsigned(m_showMode)) == 0)
        return;
    if (ShowModeController* c = existingModeController(m_showMode))
        c->doAction(id, argument);
}

void MainWndController::popUpContextMenuWithEvent(const kpv::Event& e, kpv::View* view)
{
    if (m_showMode != MainShowModeView || !isWorkableWindow())
        return;
    if (m_navigateController &&
        (m_navigateController->curLoveIntroTipsShowStatus() || m_navigateController->gestureScrollSessionRunning()))
        return;
    if (m_rightPopMenu)
        kpv::Menu::popUpContextMenu(m_rightPopMenu, e, view);
}

void MainWndController::popUpFeedbackPopupMenuAtLocation(kpv::Point location, kpv::View* view)
{
    if (m_feedbackPopMenu && view)
        m_feedbackPopMenu->popUpMenuPositioningItem(nullptr, location, view);
}

// ---- Menus ----

std::shared_ptr<kpv::MenuItem> MainWndController::menuItemForAction(long tag) const
{
    std::function<std::shared_ptr<kpv::MenuItem>(const kpv::Menu&)> find = [&](const kpv::Menu& m) {
        for (const auto& item : m.itemArray()) {
            if (item->tag() == tag && !item->isSeparatorItem())
                return item;
            if (item->submenu()) {
                if (auto found = find(*item->submenu()))
                    return found;
            }
        }
        return std::shared_ptr<kpv::MenuItem>();
    };
    for (const auto& m : m_mainMenus) {
        if (auto found = find(*m))
            return found;
    }
    return nullptr;
}

void MainWndController::buildMenus()
{
    m_mainMenus.clear();
    auto validator = [this](kpv::MenuItem& item) { return validateMenuItem(item); };
    auto makeMenu = [&](const char* key) {
        auto m = std::make_shared<kpv::Menu>(tr(key));
        m->setValidator(validator);
        return m;
    };
    auto add = [&](kpv::Menu& m, long tag, const char* titleKey, const QString& key = {}) {
        if (tag < 50 && !canShowActionItem(tag))
            return;
        auto item = std::make_shared<kpv::MenuItem>(
            tr(titleKey), [this, tag](kpv::MenuItem&) { performMenuAction(tag); }, key);
        item->setTag(tag);
        m.addItem(item);
    };
    auto sep = [](kpv::Menu& m) { m.addItem(kpv::MenuItem::separatorItem()); };
    auto sub = [&](kpv::Menu& parent, const char* key, const std::shared_ptr<kpv::Menu>& child) {
        auto item = std::make_shared<kpv::MenuItem>(tr(key));
        item->setSubmenu(child);
        parent.addItem(item);
    };

    const QString appName = m_delegate.appName();
    auto file = makeMenu("IDS_MENU_File");
    add(*file, 2, "IDS_MENU_Open", QStringLiteral("O"));
    m_recentMenu = makeMenu("IDS_MENU_OpenRecent");
    sub(*file, "IDS_MENU_OpenRecent", m_recentMenu);
    rebuildRecentMenu();
    sep(*file);
    add(*file, 3, "IDS_MENU_CloseWindow", QStringLiteral("W"));
    add(*file, 4, "IDS_MENU_Saveas", QStringLiteral("S"));
    add(*file, 5, "IDS_MENU_Print", QStringLiteral("P"));
    sep(*file);
    add(*file, 6, "IDS_MENU_RevealinFinder");
    add(*file, 8, "IDS_MENU_MovetoTrash");
    add(*file, 27, "IDS_MENU_SetDesktop");
    sep(*file);
    add(*file, TagPreferences, "IDS_MENU_Preferences");
    add(*file, 1, "IDS_MENU_Account");
    add(*file, TagQuit, "IDS_MENU_Quit", QStringLiteral("Q"));

    auto edit = makeMenu("IDS_MENU_Edit");
    add(*edit, 7, "IDS_MENU_Copy", QStringLiteral("C"));
    add(*edit, 10, "IDS_MENU_SelectAll", QStringLiteral("A"));
    sep(*edit);
    add(*edit, 9, "IDS_MENU_Crop");
    add(*edit, 11, "IDS_MENU_ILoveit");
    add(*edit, 12, "IDS_MENU_RemoveFavorite");
    add(*edit, 13, "IDS_MENU_MyFavorites");
    sep(*edit);
    add(*edit, 14, "IDS_MENU_RotateLeft", QStringLiteral("L"));
    add(*edit, 15, "IDS_MENU_RotateRight", QStringLiteral("R"));
    add(*edit, 16, "IDS_MENU_FlipHorizontal");
    add(*edit, 17, "IDS_MENU_FlipVertical");
    auto batch = makeMenu("IDS_MENU_Batch");
    add(*batch, 18, "IDS_MENU_BatchRename");
    add(*batch, 19, "IDS_MENU_BatchResize");
    add(*batch, TagBatchConvert, "IDS_MENU_BatchConvert");
    sub(*edit, "IDS_MENU_Batch", batch);

    auto view = makeMenu("IDS_MENU_View");
    add(*view, 30, "IDS_MENU_ActualSize", QStringLiteral("0"));
    add(*view, 31, "IDS_MENU_ZoomtoFit", QStringLiteral("9"));
    add(*view, 32, "IDS_MENU_ZoomIn", QStringLiteral("="));
    add(*view, 33, "IDS_MENU_ZoomOut", QStringLiteral("-"));
    sep(*view);
    auto sort = makeMenu("IDS_MENU_SortBy");
    add(*sort, 34, "IDS_MENU_Name");
    add(*sort, 35, "IDS_MENU_DateModified");
    sep(*sort);
    add(*sort, 36, "IDS_MENU_Ascending");
    add(*sort, 37, "IDS_MENU_Descending");
    sub(*view, "IDS_MENU_SortBy", sort);
    add(*view, 38, "IDS_ThumbView", QStringLiteral("T"));
    add(*view, 28, "IDS_MENU_ShowPhotoBin");
    add(*view, 29, "IDS_MENU_ShowProperties");
    add(*view, 39, "IDS_MENU_Slideshow");

    auto go = makeMenu("IDS_MENU_Go");
    add(*go, 40, "IDS_MENU_Previous");
    add(*go, 41, "IDS_MENU_Next");
    add(*go, 42, "IDS_MENU_PageUp");
    add(*go, 43, "IDS_MENU_PageDown");
    add(*go, 44, "IDS_MENU_FirstImage");
    add(*go, 45, "IDS_MENU_LastImage");

    auto share = makeMenu("IDS_MENU_Share");
    for (long id : {21L, 22L, 23L, 24L, 25L, 26L})
        add(*share, id, entryFor(id)->titleKey);

    auto window = makeMenu("IDS_MENU_Window");
    add(*window, TagMinimize, "IDS_MENU_Minimize", QStringLiteral("M"));
    add(*window, 46, "IDS_MENU_WinOnTop");

    auto help = makeMenu("IDS_MENU_Help");
    add(*help, TagHelp, "IDS_MENU_Help");
    add(*help, 47, "IDS_MENU_Feedback");
    add(*help, 48, "IDS_MENU_Rate");
    add(*help, 49, "IDS_MENU_Recommend");
    sep(*help);
    add(*help, TagAbout, "IDS_MENU_About");
    if (auto about = help->itemWithTag(TagAbout))
        about->setTitle(kpv::Bundle::mainBundle().localizedStringWithFormat(QStringLiteral("IDS_MENU_AboutFmt"), appName));

    m_mainMenus = {file, edit, view, go, share, window, help};

    // The image view's context menu.
    m_rightPopMenu = makeMenu("IDS_MENU_View");
    for (long id : {9L, 11L, 7L, 8L, 6L})
        add(*m_rightPopMenu, id, entryFor(id)->titleKey);
    sep(*m_rightPopMenu);
    for (long id : {14L, 15L, 27L})
        add(*m_rightPopMenu, id, entryFor(id)->titleKey);

    m_feedbackPopMenu = makeMenu("IDS_MENU_Help");
    add(*m_feedbackPopMenu, 47, "IDS_MENU_Feedback");
    add(*m_feedbackPopMenu, 48, "IDS_MENU_Rate");
    add(*m_feedbackPopMenu, 49, "IDS_MENU_Recommend");
}

void MainWndController::rebuildRecentMenu()
{
    if (!m_recentMenu)
        return;
    m_recentMenu->removeAllItems();
    for (const QString& path : m_recentDocuments) {
        auto item = std::make_shared<kpv::MenuItem>(QFileInfo(path).fileName(), [this, path](kpv::MenuItem&) {
            openFiles({path}, false);
        });
        // Recent documents are enabled exactly when opening is.
        item->setTag(2);
        item->setRepresentedObject(path);
        m_recentMenu->addItem(item);
    }
    if (!m_recentDocuments.isEmpty())
        m_recentMenu->addItem(kpv::MenuItem::separatorItem());
    auto clear = std::make_shared<kpv::MenuItem>(tr("IDS_MENU_ClearMenu"),
                                                 [this](kpv::MenuItem&) { performMenuAction(TagClearRecent); });
    clear->setTag(TagClearRecent);
    m_recentMenu->addItem(clear);
}
