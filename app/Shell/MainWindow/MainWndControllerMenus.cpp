// The main window controller's commands: the one table of commands, which of them may run now,
// the validation of their menu items, the routing of each to the controller of the current show
// mode, and the menus built from the table.

#include "Shell/MainWindow/MainWndController.h"
#include "Model/LMPhotoLibrary.h"
#include "Model/ShareWebsiteType.h"

#include "Shell/MainWindow/AppDelegate.h"
#include "Shell/MainWindow/LMMainWindow.h"
#include "Shell/MainWindow/LMMainWndContentView.h"
#include "Shell/MainWindow/MainCommand.h"
#include "Shell/MainWindow/MainWndSecondaryWindows.h"
#include "Shell/Desktop/FileTypeAssociator.h"
#include "Shell/Desktop/OpenWithMenu.h"
#include "Shell/Desktop/OtherApplicationChooser.h"
#include "Shell/MainWindow/ViewModeController.h"

#include "Model/LMBookmarkCache.h"
#include "Model/MainConfig.h"
#include "appkit/Event.h"
#include "appkit/Menu.h"
#include "foundation/Bundle.h"
#include "foundation/FileNames.h"

#include <QApplication>
#include <QFileInfo>
#include <QHash>
#include <QWidget>

#include <algorithm>

namespace {

constexpr unsigned kNav = MainShowModeView | MainShowModeMiniWithImage; // 4 and 128
constexpr unsigned kNav4 = MainShowModeView;
constexpr unsigned kFav = MainShowModeFavorite;
constexpr unsigned kCrop = MainShowModeCrop;
constexpr unsigned kThumb = MainShowModeThumbnail;

constexpr unsigned kFeedback = MainCommandInFeedbackMenu;

const char* const kFile = "IDS_MENU_File";
const char* const kRecent = "IDS_MENU_OpenRecent";
const char* const kEdit = "IDS_MENU_Edit";
const char* const kBatch = "IDS_MENU_Batch";
const char* const kView = "IDS_MENU_View";
const char* const kSort = "IDS_MENU_SortBy";
const char* const kGo = "IDS_MENU_Go";
const char* const kShare = "IDS_MENU_Share";
const char* const kWindow = "IDS_MENU_Window";
const char* const kHelp = "IDS_MENU_Help";

// The menus of the menu bar, left to right.
const char* const kMenuBarOrder[] = {kFile, kEdit, kView, kGo, kShare, kWindow, kHelp};

QString tr(const char* key)
{
    return kpv::Bundle::mainBundle().localizedString(QString::fromLatin1(key));
}

MainCommand separatorIn(const char* menu)
{
    MainCommand c;
    c.kind = MainCommandKind::Separator;
    c.menuKey = menu;
    return c;
}

MainCommand submenuIn(const char* menu, const char* submenu)
{
    MainCommand c;
    c.kind = MainCommandKind::Submenu;
    c.menuKey = menu;
    c.titleKey = submenu;
    return c;
}

// The action id the modes answer to for a tag (batch convert answers as batch resize).
long actionIdForTag(long tag)
{
    return tag == MainWndController::TagBatchConvert ? 19 : tag;
}

// `text` with its middle left out when it is longer than twice `kept` characters, so that its
// start and end stay readable; never half of a character that takes two code units.
QString elidedInTheMiddle(const QString& text, qsizetype kept)
{
    if (text.size() <= 2 * kept + 1)
        return text;
    const qsizetype head = text.at(kept - 1).isHighSurrogate() ? kept - 1 : kept;
    const qsizetype tail = text.at(text.size() - kept).isLowSurrogate() ? kept - 1 : kept;
    return text.left(head) + QChar(0x2026) + text.right(tail);
}

// The titles of Open Recent: each photo's name as the user reads it, a long one shortened in the
// middle so that the menu stays narrow. Photos of the same name from different folders are told
// apart by their folders, as the names alone would offer the same title twice.
QStringList recentTitles(const QStringList& paths)
{
    constexpr qsizetype kKeptOfName = 30, kKeptOfFolder = 20; // characters kept at each end
    QStringList titles;
    for (const QString& path : paths)
        titles << elidedInTheMiddle(kpv::displayFileName(QFileInfo(path).fileName()), kKeptOfName);
    QStringList told = titles;
    for (qsizetype i = 0; i < paths.size(); ++i) {
        if (titles.count(titles.at(i)) > 1)
            told[i] += QStringLiteral(" \u2014 ") +
                       elidedInTheMiddle(kpv::displayFileName(QFileInfo(paths.at(i)).absolutePath()), kKeptOfFolder);
    }
    return told;
}

} // namespace

// ---- The table ----

const std::vector<MainCommand>& MainWndController::commandTable()
{
    using C = MainWndController;
    auto row = [](long tag, const char* title, const char* menu, unsigned nav, unsigned other, const char* key = "",
                  unsigned places = 0) {
        MainCommand c;
        c.tag = tag;
        c.titleKey = title;
        c.menuKey = menu;
        c.navModes = nav;
        c.otherModes = other;
        c.keyEquivalent = key;
        c.places = places;
        return c;
    };
    // A command of the shell's own: its validation and action.
    auto own = [&](long tag, const char* title, const char* menu, bool (*enabled)(C&), void (*perform)(C&),
                   const char* key = "", unsigned places = 0) {
        MainCommand c = row(tag, title, menu, 0, 0, key, places);
        c.enabled = enabled;
        c.perform = perform;
        return c;
    };
    auto inContext = [](MainCommand c, int slot) {
        c.contextSlot = slot;
        return c;
    };
    auto withShown = [](MainCommand c, bool (*shown)()) {
        c.shown = shown;
        return c;
    };
    auto withDecorate = [](MainCommand c, void (*decorate)(C&, kpv::MenuItem&)) {
        c.decorate = decorate;
        return c;
    };
    auto sortTick = [](MainCommand c) {
        c.decorate = [](C& w, kpv::MenuItem& item) {
            const qint64 t = w.m_delegate.mainConfig()->sortByType();
            const bool on = item.tag() == 34   ? (t & ~0x1000) == 1
                            : item.tag() == 35 ? (t & ~0x1000) == 2
                            : item.tag() == 36 ? (t & 0x1000) == 0
                                               : (t & 0x1000) != 0;
            item.setState(on ? 1 : 0);
        };
        return c;
    };

    static const std::vector<MainCommand> table = [&] {
        std::vector<MainCommand> t;
        // ---- File ----
        t.push_back(own(
            2, "IDS_MENU_Open", kFile,
            [](C& w) {
                kpv::Window* cur = w.getCurWindow();
                if (!w.m_appLaunched || !cur || !cur->isVisible())
                    return true;
                if (!w.isWorkableWindow())
                    return false;
                switch (w.m_showMode) {
                case MainShowModeNone:
                case MainShowModeEmpty:
                case MainShowModeMiniWithImage:
                case MainShowModeMiniEmpty: return true;
                case MainShowModeView:
                    return !(w.m_navigateController && w.m_navigateController->curLoveIntroTipsShowStatus());
                default: return false;
                }
            },
            [](C& w) { w.doOpenFile(QString(), false); }, "O"));
        t.push_back(submenuIn(kFile, kRecent));
        t.push_back(separatorIn(kFile));
        t.push_back(own(
            3, "IDS_MENU_CloseWindow", kFile,
            [](C& w) {
                kpv::Window* key = kpv::Application::shared().keyWindow();
                if (key && key == w.m_window.get())
                    return (w.m_window->styleMask() & kpv::ClosableWindowMask) != 0;
                if (!key)
                    return false;
                ShowModeController* mini = w.existingModeController(MainShowModeMiniWithImage);
                return mini && mini->window() == key;
            },
            [](C& w) {
                kpv::Window* key = kpv::Application::shared().keyWindow();
                if (key == w.m_window.get())
                    w.m_window->performClose();
                else if (key)
                    key->performClose();
            },
            "W"));
        t.push_back(row(4, "IDS_MENU_Saveas", kFile, kNav, kFav | kCrop, "S"));
        t.push_back(row(5, "IDS_MENU_Print", kFile, kNav, kFav, "P"));
        t.push_back(separatorIn(kFile));
        t.push_back(inContext(row(6, "IDS_MENU_RevealinFinder", kFile, kNav4, kFav | kThumb), 5));
        t.push_back(inContext(row(8, "IDS_MENU_MovetoTrash", kFile, kNav, kThumb), 4));
        t.push_back(inContext(row(27, "IDS_MENU_SetDesktop", kFile, kNav, 0), 13));
        t.push_back(separatorIn(kFile));
        t.push_back(own(
            TagPreferences, "IDS_MENU_Preferences", kFile, [](C&) { return true; },
            [](C& w) { w.secondaryWindows().showOptionWindowWithTabType(0, false); }, ","));
        t.push_back(own(
            1, "IDS_MENU_Account", kFile, [](C& w) { return w.isWorkableWindow(); },
            [](C& w) { w.secondaryWindows().showAccountWindow(); }));
        t.push_back(own(
            TagQuit, "IDS_MENU_Quit", kFile, [](C&) { return true; }, [](C& w) { w.quitAfterCheckingUnsavedTurn(); },
            "Q"));

        // ---- Edit ----
        // The viewer keeps what went to the trash from the picture and from the grid alike; the
        // empty window that the folder's last photo leaves behind offers it too.
        t.push_back(own(
            TagUndoMoveToTrash, "IDS_MENU_UndoMoveToTrash", kEdit,
            [](C& w) {
                const bool mode = w.m_showMode == MainShowModeView || w.m_showMode == MainShowModeThumbnail ||
                                  w.m_showMode == MainShowModeMiniWithImage || w.m_showMode == MainShowModeEmpty ||
                                  w.m_showMode == MainShowModeMiniEmpty;
                return mode && w.isWorkableWindow() && w.m_navigateController &&
                       w.m_navigateController->canDoAction(TagUndoMoveToTrash);
            },
            [](C& w) { w.m_navigateController->doAction(TagUndoMoveToTrash, 0); }, "Z"));
        t.push_back(separatorIn(kEdit));
        t.push_back(inContext(row(7, "IDS_MENU_Copy", kEdit, kNav, kFav | kCrop | kThumb, "C"), 3));
        t.push_back(row(10, "IDS_MENU_SelectAll", kEdit, 0, kFav | kCrop, "A"));
        t.push_back(separatorIn(kEdit));
        t.push_back(inContext(row(9, "IDS_MENU_Crop", kEdit, kNav, kCrop), 1));
        t.push_back(withDecorate(inContext(row(11, "IDS_MENU_ILoveit", kEdit, kNav, kCrop), 2), [](C& w, kpv::MenuItem& item) {
            if (w.curFileIsFavoriteInViewer())
                item.setTitle(tr("IDS_MENU_RemoveFavorite"));
        }));
        // While the item above reads the same, this one steps aside: one "Remove" in the menu.
        t.push_back(withDecorate(row(12, "IDS_MENU_RemoveFavorite", kEdit, 0, kFav), [](C& w, kpv::MenuItem& item) {
            item.setHidden(w.curFileIsFavoriteInViewer());
        }));
        t.push_back(row(13, "IDS_MENU_MyFavorites", kEdit, kNav, 0));
        t.push_back(separatorIn(kEdit));
        t.push_back(inContext(row(14, "IDS_MENU_RotateLeft", kEdit, kNav, kCrop, "L"), 11));
        t.push_back(inContext(row(15, "IDS_MENU_RotateRight", kEdit, kNav, kCrop, "R"), 12));
        t.push_back(row(16, "IDS_MENU_FlipHorizontal", kEdit, kNav, 0));
        t.push_back(row(17, "IDS_MENU_FlipVertical", kEdit, kNav, 0));
        t.push_back(submenuIn(kEdit, kBatch));
        t.push_back(withShown(row(18, "IDS_MENU_BatchRename", kBatch, kNav, kFav | kThumb),
                              [] { return !LMBookmarkCache::defaultCache().isSandBoxed(); }));
        t.push_back(row(19, "IDS_MENU_BatchResize", kBatch, kNav, kFav | kThumb));
        t.push_back(row(TagBatchConvert, "IDS_MENU_BatchConvert", kBatch, kNav, kFav | kThumb));

        // ---- View ----
        t.push_back(row(30, "IDS_MENU_ActualSize", kView, kNav, kCrop, "0"));
        t.push_back(row(31, "IDS_MENU_ZoomtoFit", kView, kNav, kCrop, "9"));
        t.push_back(row(32, "IDS_MENU_ZoomIn", kView, kNav, kCrop, "="));
        t.push_back(row(33, "IDS_MENU_ZoomOut", kView, kNav, kCrop, "-"));
        t.push_back(separatorIn(kView));
        t.push_back(submenuIn(kView, kSort));
        t.push_back(sortTick(row(34, "IDS_MENU_Name", kSort, kNav, kThumb)));
        t.push_back(sortTick(row(35, "IDS_MENU_DateModified", kSort, kNav, kThumb)));
        t.push_back(separatorIn(kSort));
        t.push_back(sortTick(row(36, "IDS_MENU_Ascending", kSort, kNav, kThumb)));
        t.push_back(sortTick(row(37, "IDS_MENU_Descending", kSort, kNav, kThumb)));
        t.push_back(row(38, "IDS_ThumbView", kView, kNav4, 0, "T"));
        t.push_back(withDecorate(row(28, "IDS_MENU_ShowPhotoBin", kView, kNav, 0), [](C& w, kpv::MenuItem& item) {
            item.setTitle(tr(w.m_delegate.mainConfig()->photoBinVisible() ? "IDS_MENU_HidePhotoBin" : "IDS_MENU_ShowPhotoBin"));
        }));
        t.push_back(withDecorate(row(29, "IDS_MENU_ShowProperties", kView, kNav, 0), [](C& w, kpv::MenuItem& item) {
            const bool shown = w.m_navigateController && w.m_navigateController->curPropertiesWindowShowStatus();
            item.setTitle(tr(shown ? "IDS_MENU_HideProperties" : "IDS_MENU_ShowProperties"));
        }));
        t.push_back(row(39, "IDS_MENU_Slideshow", kView, kNav, kFav));
        // The menu bar hides in full screen, so this enters it; F11 and Esc leave it. F11 is
        // matched by the window itself, in every mode but the mini window's: the menu names it.
        t.push_back(withDecorate(own(
                                     TagFullScreen, "IDS_MENU_FullScreen", kView,
                                     [](C& w) {
                                         return w.m_window && w.getCurWindow() == w.m_window.get() &&
                                                w.isWorkableWindow();
                                     },
                                     [](C& w) { w.toggleFullScreen(); }),
                                 [](C& w, kpv::MenuItem& item) {
                                     item.setTitle(tr("IDS_MENU_FullScreen") + QStringLiteral("\tF11"));
                                     item.setState(w.m_window && w.m_window->isFullScreen() ? 1 : 0);
                                 }));

        // ---- Go ----
        t.push_back(row(40, "IDS_MENU_Previous", kGo, kNav, 0));
        t.push_back(row(41, "IDS_MENU_Next", kGo, kNav, 0));
        t.push_back(row(42, "IDS_MENU_PageUp", kGo, kNav, 0));
        t.push_back(row(43, "IDS_MENU_PageDown", kGo, kNav, 0));
        t.push_back(row(44, "IDS_MENU_FirstImage", kGo, kNav, 0));
        t.push_back(row(45, "IDS_MENU_LastImage", kGo, kNav, 0));

        // ---- Share ----
        t.push_back(row(21, "IDS_MENU_Facebook_e", kShare, kNav, kFav));
        t.push_back(row(22, "IDS_MENU_Twitter_e", kShare, kNav, kFav));
        t.push_back(row(23, "IDS_MENU_Flickr_e", kShare, kNav, kFav));
        t.push_back(row(24, "IDS_MENU_Tumblr_e", kShare, kNav, kFav));
        t.push_back(withShown(row(25, "IDS_MENU_EMAIL_e", kShare, kNav, kFav), [] { return MainConfig::isShareTypeSupported(33); }));
        t.push_back(withShown(row(26, "IDS_MENU_IPHOTO_e", kShare, kNav, kFav), [] {
            return MainConfig::isShareTypeSupported(34) && QFileInfo::exists(LMPhotoLibrary::applicationPath());
        }));
        // Share by the toolbar's current type: asked, never shown.
        t.push_back(row(20, nullptr, nullptr, kNav, kFav));

        // ---- Window ----
        t.push_back(own(
            TagMinimize, "IDS_MENU_Minimize", kWindow, [](C& w) { return w.getCurWindow() != nullptr; },
            [](C& w) {
                kpv::Window* cur = w.getCurWindow();
                w.windowWillMiniaturize();
                if (cur->widget())
                    cur->widget()->showMinimized();
            },
            "M"));
        t.push_back(withDecorate(own(
                                     46, "IDS_MENU_WinOnTop", kWindow,
                                     [](C& w) {
                                         kpv::Window* cur = w.getCurWindow();
                                         return cur && !cur->isFullScreen();
                                     },
                                     [](C& w) {
                                         kpv::Window* cur = w.getCurWindow();
                                         cur->setLevel(cur->level() == kpv::NormalWindowLevel ? kpv::FloatingWindowLevel
                                                                                              : kpv::NormalWindowLevel);
                                     }),
                                 [](C& w, kpv::MenuItem& item) {
                                     kpv::Window* cur = w.getCurWindow();
                                     item.setState(cur && cur->level() == kpv::FloatingWindowLevel ? 1 : 0);
                                 }));

        // ---- Help ----
        t.push_back(own(
            TagHelp, "IDS_MENU_Help", kHelp, [](C&) { return true; },
            [](C& w) { w.openWebPage(helpPageUrl()); }));
        t.push_back(own(
            47, "IDS_MENU_Feedback", kHelp, [](C& w) { return w.isWorkableWindow(); }, [](C& w) { w.doFeedback(); }, "",
            kFeedback));
        t.push_back(own(
            48, "IDS_MENU_Rate", kHelp, [](C& w) { return w.isWorkableWindow(); }, [](C& w) { w.rateMenuItemClicked(); },
            "", kFeedback));
        t.push_back(own(
            49, "IDS_MENU_Recommend", kHelp, [](C& w) { return w.isWorkableWindow(); },
            [](C& w) { w.recommendMenuItemClicked(); }, "", kFeedback));
        t.push_back(separatorIn(kHelp));
        t.push_back(withDecorate(own(
                                     TagAbout, "IDS_MENU_About", kHelp, [](C&) { return true; },
                                     [](C& w) { w.secondaryWindows().showAboutWindow(); }),
                                 [](C& w, kpv::MenuItem& item) {
            item.setTitle(kpv::Bundle::mainBundle().localizedStringWithFormat(QStringLiteral("IDS_MENU_AboutFmt"),
                                                                              w.m_delegate.appName()));
        }));

        // ---- Only in the context menu ----
        t.push_back(inContext(own(
                                  TagOpenWith, "IDS_MENU_OpenWith", nullptr, [](C& w) { return w.canOpenCurFileWith(); },
                                  [](C&) {}),
                              21));
        return t;
    }();
    return table;
}

const MainCommand* MainWndController::commandForTag(long tag)
{
    for (const MainCommand& c : commandTable()) {
        if (c.kind == MainCommandKind::Command && c.tag == tag)
            return &c;
    }
    return nullptr;
}

// ---- Which commands may run ----

bool MainWndController::isWorkableWindow() const
{
    if (qApp && QApplication::activeModalWidget())
        return false;
    kpv::Window* w = getCurWindow();
    return !(w && w->attachedSheet());
}

bool MainWndController::canDoAction(long tag)
{
    const MainCommand* c = commandForTag(tag);
    if (!c)
        return false;
    if (c->enabled)
        return c->enabled(*this);
    if (!isWorkableWindow())
        return false;
    const long id = actionIdForTag(tag);
    if ((c->navModes & unsigned(m_showMode)) != 0)
        return m_navigateController && m_navigateController->canDoAction(id);
    if ((c->otherModes & unsigned(m_showMode)) != 0) {
        ShowModeController* mode = existingModeController(m_showMode);
        return mode && mode->canDoAction(id);
    }
    return false;
}

bool MainWndController::curFileIsFavoriteInViewer()
{
    if (m_showMode != MainShowModeView || !m_navigateController)
        return false;
    ShowModeController* fav = existingModeController(MainShowModeFavorite);
    return fav && fav->isFavoriteFile(m_navigateController->curFilePath());
}

bool MainWndController::canShowActionItem(long tag)
{
    const MainCommand* c = commandForTag(tag);
    return !c || !c->shown || c->shown();
}

long MainWndController::mainActionTypeForShareType(long shareType)
{
    return shareActionForWebsiteType(shareType);
}

bool MainWndController::validateMenuItem(kpv::MenuItem& item)
{
    const long tag = item.tag();
    if (tag == 2 && item.representedObject().isValid())
        return canDoAction(2); // a recent document
    if (tag == TagClearRecent)
        return !m_recentDocuments.isEmpty(); // nothing to clear in an empty list
    if (tag == TagOpenWithApp || tag == TagOpenWithOther)
        return canOpenCurFileWith();
    const MainCommand* c = commandForTag(tag);
    if (!c)
        return true; // not a command of the table: enabled, title unchanged
    if (c->titleKey)
        item.setTitle(tr(c->titleKey));
    if (c->decorate)
        c->decorate(*this, item);
    return canDoAction(tag);
}

// ---- Running commands ----

long MainWndController::routedArgument(long tag) const
{
    const qint64 sortType = m_delegate.mainConfig()->sortByType();
    switch (tag) {
    case 14: return 1;
    case 15: return 2;
    case 16: return 3;
    case 17: return 4;
    case 21: return 1;
    case 22: return 3;
    case 23: return 2;
    case 24: return 4;
    case 25: return 33;
    case 26: return 34;
    case 34: return (sortType & 0x1000) | 1;
    case 35: return (sortType & 0x1000) | 2;
    case 36: return sortType & ~qint64(0x1000);
    case 37: return sortType | 0x1000;
    default: return 0;
    }
}

void MainWndController::runRoutedCommand(long tag, long argument)
{
    const MainCommand* c = commandForTag(tag);
    if (!c)
        return;
    if ((c->navModes & unsigned(m_showMode)) != 0) {
        if (m_navigateController)
            m_navigateController->doAction(tag, argument);
        return;
    }
    if ((c->otherModes & unsigned(m_showMode)) != 0) {
        // The modes run batch convert as their action 20 (the menu's tag is the shell's own).
        if (ShowModeController* mode = existingModeController(m_showMode))
            mode->doAction(tag == TagBatchConvert ? 20 : tag, argument);
    }
}

void MainWndController::shareForType(long shareType)
{
    const long id = mainActionTypeForShareType(shareType);
    if (id != 0 && canDoAction(id))
        runRoutedCommand(id, shareType);
}

void MainWndController::performMenuAction(long tag)
{
    if (tag == TagClearRecent) {
        clearRecentDocuments();
        return;
    }
    const MainCommand* c = commandForTag(tag);
    if (!c || !canDoAction(tag))
        return;
    if (c->perform)
        c->perform(*this);
    else
        runRoutedCommand(tag, routedArgument(tag));
}

void MainWndController::popUpContextMenuWithEvent(const kpv::Event& e, kpv::View* view)
{
    if (m_showMode != MainShowModeView || !isWorkableWindow())
        return;
    if (m_navigateController &&
        (m_navigateController->curLoveIntroTipsShowStatus() || m_navigateController->gestureScrollSessionRunning()))
        return;
    if (!m_rightPopMenu)
        return;
    rebuildOpenWithMenu();
    m_contextMenuFile = m_navigateController ? m_navigateController->curFilePath() : LMPathString();
    kpv::Menu::popUpContextMenu(m_rightPopMenu, e, view);
}

void MainWndController::performContextMenuAction(long tag)
{
    // The menu was opened on one photo; another program may have moved or removed it while the
    // menu was up, and the viewer moved on to the next. The command is not turned on that one,
    // which the user never chose (moved to the trash, turned, set as the desktop).
    const LMPathString shown = m_navigateController ? m_navigateController->curFilePath() : LMPathString();
    if (!m_contextMenuFile.isEmpty() && shown != m_contextMenuFile) {
        showFailureAlert(kpv::Bundle::mainBundle().localizedStringWithFormat(
            QStringLiteral("IDS_ContextMenuPhotoGone_Fmt"),
            kpv::displayFileName(LMPathString::lastPathComponent(m_contextMenuFile.path()))));
        return;
    }
    performMenuAction(tag);
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

std::shared_ptr<kpv::MenuItem> MainWndController::makeCommandItem(const MainCommand& c)
{
    const long tag = c.tag;
    auto item = std::make_shared<kpv::MenuItem>(
        tr(c.titleKey), [this, tag](kpv::MenuItem&) { performMenuAction(tag); }, QString::fromLatin1(c.keyEquivalent));
    if (c.keyModifiers)
        item->setKeyEquivalentModifierMask(item->keyEquivalentModifierMask() | c.keyModifiers);
    item->setTag(tag);
    return item;
}

void MainWndController::buildMenus()
{
    m_mainMenus.clear();
    auto validator = [this](kpv::MenuItem& item) { return validateMenuItem(item); };
    std::map<std::string, std::shared_ptr<kpv::Menu>> menus;
    auto menuNamed = [&](const char* key) {
        std::shared_ptr<kpv::Menu>& m = menus[key];
        if (!m) {
            m = std::make_shared<kpv::Menu>(tr(key));
            m->setValidator(validator);
        }
        return m;
    };
    m_recentMenu = menuNamed(kRecent);
    m_rightPopMenu = std::make_shared<kpv::Menu>(tr(kView));
    m_rightPopMenu->setValidator(validator);
    m_feedbackPopMenu = std::make_shared<kpv::Menu>(tr(kHelp));
    m_feedbackPopMenu->setValidator(validator);
    m_openWithMenu = std::make_shared<kpv::Menu>(tr("IDS_MENU_OpenWith"));
    m_openWithMenu->setValidator(validator);

    for (const MainCommand& c : commandTable()) {
        switch (c.kind) {
        case MainCommandKind::Separator:
            menuNamed(c.menuKey)->addItem(kpv::MenuItem::separatorItem());
            continue;
        case MainCommandKind::Submenu: {
            auto item = std::make_shared<kpv::MenuItem>(tr(c.titleKey));
            item->setSubmenu(menuNamed(c.titleKey));
            menuNamed(c.menuKey)->addItem(item);
            continue;
        }
        case MainCommandKind::Command: break;
        }
        if (c.shown && !c.shown())
            continue;
        if (c.menuKey) {
            auto item = makeCommandItem(c);
            if (c.decorate)
                c.decorate(*this, *item);
            menuNamed(c.menuKey)->addItem(item);
        }
        if (c.places & MainCommandInFeedbackMenu)
            m_feedbackPopMenu->addItem(makeCommandItem(c));
    }
    // The context menu, in the order of the rows' slots.
    std::vector<const MainCommand*> context;
    for (const MainCommand& c : commandTable()) {
        if (c.kind == MainCommandKind::Command && c.contextSlot > 0 && (!c.shown || c.shown()))
            context.push_back(&c);
    }
    std::stable_sort(context.begin(), context.end(),
                     [](const MainCommand* a, const MainCommand* b) { return a->contextSlot < b->contextSlot; });
    int group = -1;
    for (const MainCommand* c : context) {
        if (group >= 0 && c->contextSlot / 10 != group)
            m_rightPopMenu->addItem(kpv::MenuItem::separatorItem());
        group = c->contextSlot / 10;
        auto item = makeCommandItem(*c);
        const long tag = c->tag;
        item->setAction([this, tag](kpv::MenuItem&) { performContextMenuAction(tag); });
        if (c->tag == TagOpenWith)
            item->setSubmenu(m_openWithMenu);
        m_rightPopMenu->addItem(item);
    }
    for (const char* key : kMenuBarOrder)
        m_mainMenus.push_back(menuNamed(key));
    rebuildRecentMenu();
}

void MainWndController::rebuildRecentMenu()
{
    if (!m_recentMenu)
        return;
    m_recentMenu->removeAllItems();
    const QStringList titles = recentTitles(m_recentDocuments);
    for (qsizetype i = 0; i < m_recentDocuments.size(); ++i) {
        const QString path = m_recentDocuments.at(i);
        auto item = std::make_shared<kpv::MenuItem>(titles.at(i),
                                                    [this, path](kpv::MenuItem&) { openRecentDocument(path); });
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

// ---- Open with ----

bool MainWndController::canOpenCurFileWith()
{
    return m_showMode == MainShowModeView && isWorkableWindow() && m_navigateController &&
           !m_navigateController->curFilePath().isEmpty() && m_openWithMenu && m_openWithMenu->numberOfItems() > 0;
}

void MainWndController::rebuildOpenWithMenu()
{
    if (!m_openWithMenu)
        return;
    m_openWithMenu->removeAllItems();
    const QString path = m_navigateController ? m_navigateController->curFilePath().path() : QString();
    if (path.isEmpty())
        return;
    if (!m_openWith)
        m_openWith = std::make_unique<OpenWithMenu>(
            kpv::DesktopServices::shared(),
            FileTypeAssociator::desktopIdForBundleIdentifier(kpv::Bundle::mainBundle().bundleIdentifier()));
    // Remembers the file too, which the chosen application is started on.
    m_openWith->buildMenuItemsByFile(path);
    for (const OpenWithMenu::ItemPtr& app : m_openWith->items()) {
        auto item = std::make_shared<kpv::MenuItem>(app->title, [this, app](kpv::MenuItem&) {
            if (m_openWith && canOpenCurFileWith())
                handOverCurFile(m_openWith->curFile(), app->applicationId, app->title);
        });
        item->setTag(TagOpenWithApp);
        item->setRepresentedObject(app->applicationId);
        m_openWithMenu->addItem(item);
    }
    if (!m_openWith->items().isEmpty())
        m_openWithMenu->addItem(kpv::MenuItem::separatorItem());
    auto other = std::make_shared<kpv::MenuItem>(tr("IDS_MENU_OpenWithOther"), [this](kpv::MenuItem&) {
        if (canOpenCurFileWith())
            chooseOtherApplication();
    });
    other->setTag(TagOpenWithOther);
    m_openWithMenu->addItem(other);
}

void MainWndController::chooseOtherApplication()
{
    if (!m_openWith || m_openWith->curFile().isEmpty())
        return;
    kpv::Window* window = getCurWindow();
    const QString file = m_openWith->curFile();
    const QList<kpv::DesktopApplication> apps = m_openWith->otherApplications();
    // A failure names the application as the list showed it, not by its desktop entry.
    QHash<QString, QString> names;
    for (const kpv::DesktopApplication& app : apps)
        names.insert(app.id, app.fileName.isEmpty() ? app.id : app.fileName);
    auto* chooser = new OtherApplicationChooser(
        window ? window->widget() : nullptr, kpv::displayFileName(LMPathString::lastPathComponent(file)), apps,
        [this, file, names, alive = std::weak_ptr<bool>(m_lifetime)](const QString& id) {
            if (alive.expired() || !m_openWith)
                return;
            // The photo chosen for: the menu's file may have moved on while the list was up.
            handOverCurFile(file, id, names.value(id, id));
        });
    chooser->open();
}

void MainWndController::handOverCurFile(const QString& file, const QString& applicationId, const QString& title)
{
    const auto handOver = [this, applicationId, title](const QString& path, bool turnSaved) {
        if (!m_openWith)
            return;
        m_openWithTurnSaved = turnSaved;
        m_openWith->buildMenuItemsByFile(path);
        if (!m_openWith->openWithApplication(applicationId))
            showOpenWithFailure(title);
    };
    ViewModeController* nav = m_navigateController;
    if (!nav || nav->curFilePath().path() != file)
        return handOver(file, false);
    // The other program is handed the photo as the user sees it: a turn not saved yet is written
    // first, as before a share; a photo that cannot take it is saved under another name (the copy
    // is handed over) or handed over as it is, as the user answers.
    nav->checkUnsavedTurnBeforeHandOver(
        [this, nav, handOver, alive = std::weak_ptr<bool>(m_lifetime)](const LMPathString& photo, bool turnSaved) {
            if (!photo.path().isEmpty() && !alive.expired() && m_navigateController == nav)
                handOver(photo.path(), turnSaved);
        });
}

void MainWndController::showOpenWithFailure(const QString& application)
{
    const kpv::Bundle& bundle = kpv::Bundle::mainBundle();
    if (m_openWith && m_openWith->lastFailure() == OpenWithMenu::Failure::FileGone)
        showFailureAlert(bundle.localizedStringWithFormat(
            QStringLiteral("IDS_OpenWithFileGone_Fmt"),
            kpv::displayFileName(LMPathString::lastPathComponent(m_openWith->curFile()))));
    else
        // The turn written just before is not undone: the photo is not unchanged.
        showFailureAlert(bundle.localizedStringWithFormat(
            m_openWithTurnSaved ? QStringLiteral("IDS_OpenWithFailedTurnSaved_Fmt") : QStringLiteral("IDS_OpenWithFailed_Fmt"),
            application));
}
