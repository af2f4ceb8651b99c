#pragma once
// The controller of the single main window: it holds the show mode (which part of the
// application fills the window), makes each mode's controller on first use, announces every mode
// change, turns chosen paths into an open file list, answers which commands may run now and
// routes the menu commands to the controller of the current mode, keeps the window frame, and
// forwards key, scroll, magnify and mouse-move events to the registered equivalent responders.
// Main thread only.

#include "Kit/LMEquivalentResponderList.h"
#include "Kit/ShowModeController.h"

#include "Model/LMPathString.h"
#include "appkit/Application.h"
#include "appkit/Geometry.h"
#include "appkit/Window.h"

#include <QList>
#include <QStringList>
#include <QUrl>
#include <QVariantMap>
#include <functional>
#include <map>
#include <memory>
#include <vector>

class AppDelegate;
class FileOpenViewController;
class LMBlockRepeatTimer;
class LMIncludeSubDirOpenPanelController;
class MainConfig;
class QObject;
class QWidget;
class LMMainWindow;
class LMMainWndContentView;
class LMNineSliceImageView;
class MainWndSecondaryWindows;
class OpenWithMenu;
class ViewModeController;
struct MainCommand;
namespace kpv {
class Event;
class Menu;
class MenuItem;
class View;
}

// Show modes, one bit each; 0 until launch completes.
enum MainShowMode : long {
    MainShowModeNone = 0,
    MainShowModeEmpty = 2,
    MainShowModeView = 4,
    MainShowModeFavorite = 8,
    MainShowModeCrop = 16,
    MainShowModeSlideshow = 32,
    MainShowModeThumbnail = 64,
    MainShowModeMiniWithImage = 128,
    MainShowModeMiniEmpty = 256,
};

// Notification names and user-information keys of show-mode changes.
extern const char* const WillChangeMainShowModeNotification; // "willChangeMainShowMode"
extern const char* const DidChangeMainShowModeNotification;  // "didChangeMainShowMode"

class MainWndController : public kpv::WindowDelegate {
public:
    // Makes the controller of `mode` (8 favourites, 16 crop, 32 slideshow, 64 thumbnails, 128 and
    // 256 the mini window, which share one controller).
    using ShowModeControllerFactory = std::function<std::unique_ptr<ShowModeController>(MainWndController&)>;
    // Runs the Open panel; tests replace it.
    using OpenPanelFactory = std::function<std::unique_ptr<LMIncludeSubDirOpenPanelController>()>;

    // `window` is the main window (owned by the controller); `viewMode` the image viewer's
    // controller (not owned; may be set later).
    MainWndController(AppDelegate& delegate, std::unique_ptr<LMMainWindow> window);
    ~MainWndController() override;
    MainWndController(const MainWndController&) = delete;
    MainWndController& operator=(const MainWndController&) = delete;

    // Restores the frame and builds the menus; done once after the viewer's controller is set.
    void awakeFromNib();

    // ---- Collaborators ----
    AppDelegate& appDelegate() const { return m_delegate; }
    ViewModeController* navigateController() const { return m_navigateController; }
    void setNavigateController(ViewModeController* controller) { m_navigateController = controller; }
    void setShowModeControllerFactory(long mode, ShowModeControllerFactory factory);
    void setOpenPanelFactory(OpenPanelFactory factory) { m_openPanelFactory = std::move(factory); }

    // ---- Window ----
    LMMainWindow* window() const { return m_window.get(); }
    // The main window's content view, the parent of tips and pop-up views.
    LMMainWndContentView* contentView() const;
    // The background view: container of modes 2, 16 and 64.
    LMNineSliceImageView* nineSliceImageViewBkgrd() const;
    // The mini window in modes 128 and 256, else the main window.
    kpv::Window* getCurWindow() const;
    // Where a mode's view goes; nullptr for modes that keep their views elsewhere.
    kpv::View* containerViewByShowMode(long mode) const;
    // Where the favourites view goes inside the viewer (set by the viewer's controller).
    void setViewNavFavContainer(kpv::View* container) { m_viewNavFavContainer = container; }
    // The favourites bin, the way into and out of the favourites (set by the viewer's controller).
    void setViewFavoriteBin(kpv::View* bin) { m_viewFavoriteBin = bin; }
    kpv::View* viewFavoriteBin() const { return m_viewFavoriteBin; }
    bool appLaunched() const { return m_appLaunched; }

    // ---- Show modes ----
    long showMode() const { return m_showMode; }
    void setShowMode(long mode);
    void initViewController(long mode);
    FileOpenViewController* fileOpenViewController();
    // The controller of a mode other than 2 and 4, made on demand when a factory exists.
    ShowModeController* modeController(long mode);
    ShowModeController* existingModeController(long mode) const;
    // Whether the mode can be shown: the empty state and the viewer always, the others once their
    // controller's factory is registered.
    bool hasModeController(long mode) const;
    ShowModeController* favoriteViewController() { return modeController(MainShowModeFavorite); }
    ShowModeController* miniWinController() const { return existingModeController(MainShowModeMiniWithImage); }

    // ---- Opening files ----
    void applicationDidFinishLaunching();
    void openFiles(const QStringList& paths, bool includeSubDir);
    bool doOpenFile(const QString& directory, bool fromSandboxAccessTips);
    void setSaveAsDirByOpenPaths(const QStringList& paths);
    void addFileToRecent(const LMPathString& path);
    // The recent documents, newest first (kept in the settings' user defaults).
    QStringList recentDocumentPaths() const;
    void clearRecentDocuments();
    // Opens a photo of Open Recent; one that is gone is told and taken off the list.
    void openRecentDocument(QString path);
    static QStringList resolvingSymlinks(const QStringList& paths);
    // The frame restored from a stored one (or none) inside a screen's visible frame.
    static kpv::Rect restoredWindowFrame(const kpv::Rect& stored, const kpv::Rect& visibleFrame);
    // Of the screens' visible frames, the one that holds most of a stored frame: the window comes
    // back on the screen where it was left. The first when none holds any of it.
    static kpv::Rect screenForStoredFrame(const kpv::Rect& stored, const std::vector<kpv::Rect>& visibleFrames);
    // Restores the window's frame from the settings, on the screen where it was left. The frame
    // here is the window's content: room is left in the visible frame for the title bar and the
    // borders that the desktop puts around it.
    void restoreWindowFrame();

    // ---- Events ----
    void registEquivalentResponder(LMEquivalentResponder* responder, bool regist);
    bool doEquivalentResponder(const std::function<bool(LMEquivalentResponder&)>& block);
    // Each returns true when a responder took the event; the caller passes it on otherwise.
    bool keyDown(const kpv::Event& e);
    bool keyUp(const kpv::Event& e);
    bool mouseMoved(const kpv::Event& e);
    bool scrollWheel(const kpv::Event& e);
    bool magnifyWithEvent(const kpv::Event& e);

    // ---- Window delegate ----
    // Closing the viewer quits: an unsaved turn is written (or the user asked) first, as for Quit.
    bool windowShouldClose(kpv::Window*) override;
    void windowWillClose(kpv::Window*) override;
    // Dialogs on the window stay centred over it as it changes size, never left beside it.
    void windowDidResize(kpv::Window*) override;
    void windowWillEnterFullScreen();
    void windowWillExitFullScreen();
    void windowDidExitFullScreen();
    void windowWillMiniaturize();
    void windowDidDeminiaturize();

    // ---- Commands and menus ----
    // Tags of the commands that have no action id of their own.
    enum CommandTag : long {
        TagBatchConvert = 119, // answers as batch resize (19)
        TagUndoMoveToTrash = 120, // the viewer's own command id for it
        TagAbout = 200,
        TagPreferences,
        TagMinimize,
        TagHelp,
        TagQuit,
        TagClearRecent,
        TagOpenWith,    // the context menu's "open with" submenu
        TagOpenWithApp, // one application in it
        TagOpenWithOther, // its "Other Application..." item
        TagFullScreen,
    };
    // Every command of the main window, one row each, in menu order.
    static const std::vector<MainCommand>& commandTable();
    static const MainCommand* commandForTag(long tag);
    bool canDoAction(long actionId);
    bool validateMenuItem(kpv::MenuItem& item);
    static bool canShowActionItem(long actionId);
    static long mainActionTypeForShareType(long shareType);
    bool isWorkableWindow() const;
    // The viewer shows a file that is a favourite (its I Love It item reads "Remove").
    bool curFileIsFavoriteInViewer();
    static bool isSupportSetDesktop() { return true; }
    // Runs the command of a menu action id (after validation, as a click on its item does).
    void performMenuAction(long actionId);
    void shareForType(long shareType);
    void popUpContextMenuWithEvent(const kpv::Event& e, kpv::View* view);
    void popUpFeedbackPopupMenuAtLocation(kpv::Point location, kpv::View* view);
    // Fills the context menu's "open with" submenu with the applications for the current file
    // (done each time the context menu opens).
    void rebuildOpenWithMenu();
    // "Other Application...": every application, to open the current photo with.
    void chooseOtherApplication();
    // Opens the photo with the application; the photo shown gets its unsaved turn written first.
    void handOverCurFile(const QString& file, const QString& applicationId, const QString& title);
    // Tells why the current photo did not reach the application: gone from its place, or the
    // application would not start.
    void showOpenWithFailure(const QString& application);
    // A command of the context menu: run on the photo the menu was opened on, and only while that
    // photo is still the one shown.
    void performContextMenuAction(long tag);
    std::shared_ptr<kpv::Menu> openWithMenu() const { return m_openWithMenu; }
    // The menus: built by awakeFromNib.
    const std::vector<std::shared_ptr<kpv::Menu>>& mainMenus() const { return m_mainMenus; }
    std::shared_ptr<kpv::Menu> rightPopMenu() const { return m_rightPopMenu; }
    // The item of a menu action id in the main menus, or nullptr.
    std::shared_ptr<kpv::MenuItem> menuItemForAction(long actionId) const;
    // Mini window switch of the title bar's mode button.
    void switchToSimpleMode();
    // Full screen of the main window (the title bar button, a double click in the empty state).
    void toggleFullScreen();
    // ---- Rating, recommendation, feedback and the resting cursor ----
    // Counts this launch towards the rate prompt on the next turn of the run loop.
    void delayCheckRateForUs();
    // Counts one launch of `version` in the settings; true when the prompt is due now.
    static bool countLaunchForRate(MainConfig& config, const QString& version);
    void doRate();
    void rateMenuItemClicked() { doRate(); }
    void recommendMenuItemClicked();
    void doFeedback();
    void feedbackMenuItemClicked() { doFeedback(); }
    // Opens a web address; tests replace it.
    using OpenUrlHandler = std::function<bool(const QUrl&)>;
    void setOpenUrlHandler(OpenUrlHandler handler) { m_openUrlHandler = std::move(handler); }
    // Opens a web page in the browser; when none could be started, an alert says so and names
    // the address. False then.
    bool openWebPage(const QUrl& url);
    // A one-button alert on the current window telling the user what could not be done. While
    // another dialog is up it waits for that one to go; a message already shown or waiting is
    // told once.
    void showFailureAlert(const QString& message);
    // The same on the next turn of the run loop, once the window is up.
    void showFailureAlertSoon(const QString& message);
    // A page, mail or folder handed to the desktop that failed only after the moment the command
    // waits for (userInfo of the desktop helper's failure): told as a failure at once would be.
    void tellLateDesktopFailure(const QVariantMap& userInfo);
    // Quits the program (the Quit command, a closed main window); tests replace it.
    void setQuitHandler(std::function<void()> handler) { m_quitHandler = std::move(handler); }
    void quitApplication();
    // The Quit command: the viewer's unsaved turn is written (or the user asked) first, as when
    // the file is left for another; the program stays when the user cancels that save.
    void quitAfterCheckingUnsavedTurn();
    static QUrl storePageUrl();
    static QUrl storeWebPageUrl();
    static QUrl productWebPageUrl();
    static QUrl helpPageUrl();
    // About, Preferences, Accounts, the feedback form and the share sheet (made on first use).
    MainWndSecondaryWindows& secondaryWindows();
    // Hides the pointer when it rests in the viewer or the slideshow (full screen only).
    void startCursorAutoHide();
    void stopCursorAutoHide();
    // One check of the resting pointer (the auto-hide timer's tick).
    void autoHideCursorIfIdle();
    LMBlockRepeatTimer* cursorAutoHideTimer() const { return m_cursorAutoHideTimer.get(); }
    // Where the pointer's rest and buttons are read; tests replace them.
    void setPointerStateSources(std::function<double()> secondsSinceMouseMoved,
                                std::function<bool()> mouseButtonsPressed);

    // A command the build does not contain yet was asked for; tests read the last one.
    long lastUnavailableCommand() const { return m_lastUnavailableCommand; }

private:
    void buildMenus();
    void rebuildRecentMenu();
    void restoreRecentDocuments();
    void storeRecentDocuments();
    std::shared_ptr<kpv::MenuItem> makeCommandItem(const MainCommand& command);
    // The argument a routed command hands to its mode (turn, share type, sort type).
    long routedArgument(long tag) const;
    void runRoutedCommand(long tag, long argument);
    bool canOpenCurFileWith();
    void noteUnavailable(long actionId) { m_lastUnavailableCommand = actionId; }
    // Keeps files handed over while a dialog holds the window, and opens them once it is answered.
    void holdFilesWhileDialogIsUp(const QStringList& paths, bool includeSubDir);
    // Tells why paths that were to be opened gave no photo to show.
    void tellNothingToOpen(const QStringList& paths);
    // Runs `block` on the turn after `dialog` is put away or deleted.
    static void whenDialogGoes(QWidget* dialog, std::function<void()> block);
    void showNextWaitingFailure();
    // The rate prompt, once no other dialog is up.
    void offerRate();

    AppDelegate& m_delegate;
    std::unique_ptr<LMMainWindow> m_window;
    ViewModeController* m_navigateController = nullptr;
    kpv::View* m_viewNavFavContainer = nullptr;
    kpv::View* m_viewFavoriteBin = nullptr;
    long m_showMode = MainShowModeNone;
    bool m_appLaunched = false;
    std::unique_ptr<FileOpenViewController> m_fileOpenViewController;
    std::map<long, ShowModeControllerFactory> m_factories;
    std::map<long, std::unique_ptr<ShowModeController>> m_modeControllers;
    OpenPanelFactory m_openPanelFactory;
    LMEquivalentResponderList m_equivalentResponders;
    // Puts the favourite button's tip away at the first key, before the menus match it.
    kpv::Application::MonitorToken m_tipKeyMonitor = 0;
    std::vector<std::shared_ptr<kpv::Menu>> m_mainMenus;
    std::shared_ptr<kpv::Menu> m_rightPopMenu;
    LMPathString m_contextMenuFile; // the photo shown when the context menu opened
    std::shared_ptr<kpv::Menu> m_feedbackPopMenu;
    std::shared_ptr<kpv::Menu> m_openWithMenu;
    std::unique_ptr<OpenWithMenu> m_openWith;
    // The last photo handed over had the user's turn written into it first.
    bool m_openWithTurnSaved = false;
    kpv::Rect m_windowFrameBeforeEnterFullScreen;
    int m_windowLevelBeforeEnterFullScreen = kpv::NormalWindowLevel;
    int m_windowLevelBeforeMiniaturize = kpv::NormalWindowLevel;
    long m_lastUnavailableCommand = 0;
    QStringList m_recentDocuments;
    std::shared_ptr<kpv::Menu> m_recentMenu;
    // Shared pointers: their deleters are fixed where they are made, so the types may stay incomplete here.
    std::shared_ptr<LMBlockRepeatTimer> m_cursorAutoHideTimer;
    std::shared_ptr<QObject> m_pointerWatcher;
    std::function<double()> m_secondsSinceMouseMoved;
    std::function<bool()> m_mouseButtonsPressed;
    OpenUrlHandler m_openUrlHandler;
    std::function<void()> m_quitHandler;
    std::shared_ptr<MainWndSecondaryWindows> m_secondaryWindows;
    // Expires with the controller, so that work it left on the run loop does not run after it.
    std::shared_ptr<bool> m_lifetime = std::make_shared<bool>(true);
    bool m_closingAfterTurnCheck = false;
    // The files last handed over while a dialog was up, to open once it is answered.
    QStringList m_heldOpenPaths;
    bool m_heldIncludeSubDir = false;
    // The failure alert on screen, and those waiting for the dialog before them.
    QString m_shownFailure;
    QStringList m_waitingFailures;
    bool m_failureWaitsForDialog = false;
};
