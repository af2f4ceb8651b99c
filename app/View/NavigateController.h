#pragma once

// The view-mode controller (show mode 4): the sorted list of opened files and the current file,
// navigation by index, step, page, key, wheel, swipe and held arrows, the scheduling of decoded
// images for the current file and its neighbours with the per-file record cache, the filing of
// finished loads, and the view-mode command gate.
//
// The controller works on the display-free image view model (the OpenGL view derives from it) and
// reaches the windows around it through NavigateControllerHost, so that every decision runs in
// tests without a display. Main thread only, except the load workers, which touch nothing but the
// record they were given (under its lock) and the loader.
//
// Sources: NavigateController.cpp (list, current file, view image, show modes),
// NavigateControllerLoad.cpp (scheduling and filing), NavigateControllerInput.cpp (search batches,
// stepping, auto-navigation, keys, wheel, commands, file notifications).

#include "Model/LMBlockRepeatTimer.h"
#include "Model/LMBlockTimer.h"
#include "Model/LMNavFileInfo.h"
#include "Model/LMPathString.h"
#include "Model/NavSortFileInfoList.h"
#include "View/NavLoadPlanner.h"
#include "View/NavRegionCache.h"
#include "View/NavigateControllerHost.h"
#include "View/NavigateSaveFileSession.h"

#include <QHash>
#include <QList>
#include <QRectF>
#include <QSet>
#include <QStringList>
#include <QVariantMap>

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>

class LMBlockOperation;
class LMImageViewModel;
class NavGestureScrollFileSession;
class NavImageLoader;
class NavigateSaveFileSession;
class NavPagingViewFactory;
class PhotoSearchHandler;
namespace kpv {
class FolderWatcher;
class Event;
struct Notification;
class Timer;
} // namespace kpv

// Notifications posted by the controller (object: the controller).
extern const char *const NavDidChangeFileListNotification;         // "didChangeFileList"
extern const char *const NavDidChangeCurFileNotification;          // "didChangeCurFile"
extern const char *const NavDidLoadImageNotification;              // "didLoadImage"
extern const char *const NavDidUpdateSmallThumbNotification;       // "didUpdateSmallThumb"
extern const char *const NavDidLoadCurrentFileInfoNotification;    // "didLoadCurrentFileInfo"
extern const char *const NavDidLoadCurrentSmallThumbNotification;  // "didLoadCurrentSmallThumb"
extern const char *const NavDidLoadCurrentLargeThumbNotification;  // "didLoadCurrentLargeThumb"
extern const char *const NavDidCurFileImageUpdatedNotification;    // "didCurFileImageUpdated"
extern const char *const NavFilesDeletedNotification;              // "filesDeleted"
extern const char *const NavFileModifiedNotification;              // "fileModified"
extern const char *const NavFilesBatchRenamedNotification;         // "filesBatchRenamed"
extern const char *const NavDidRenameCurrentFileNotification;      // "didRenameCurrentFile"

// Show modes of the main window.
enum NavShowMode : int64_t {
    NavShowModeEmpty = 2,
    NavShowModeView = 4,
    NavShowModeFavorite = 8,
    NavShowModeCrop = 16,
    NavShowModeSlideshow = 32,
    NavShowModeThumbnail = 64,
    NavShowModeMiniImage = 128,
    NavShowModeMiniEmpty = 256,
};

// Result codes of a load.
enum NavLoadResult : int {
    NavLoadSucceeded = 0,
    NavLoadFailed = -1,
    NavLoadCancelled = -2,
};

class NavigateController {
public:
    // Not owned: the view, the host and the loader outlive the controller. `pagingViews` makes the
    // two views of swipe paging (nullptr: swipes are not paged, only stepped).
    NavigateController(LMImageViewModel *openGLView, NavigateControllerHost *host, const NavImageLoader *loader,
                       NavPagingViewFactory *pagingViews = nullptr);
    ~NavigateController();
    NavigateController(const NavigateController &) = delete;
    NavigateController &operator=(const NavigateController &) = delete;

    // ---- Wiring ----
    // Starts observing and gives the view its settings, margins and the cleared status.
    void awakeFromNib();
    void registNotifications(bool regist);
    void updateOpenGLViewSettingsByCurConfig();
    void updatePreviewStatusShowProxyAutoHideInterval(bool zoomStatus);
    LMImageViewModel *openGLView() const { return m_openGLView; }
    static bool checkVisibleForShowMode(int64_t showMode) { return (showMode & 12) != 0; }
    void updateFileNameInfoUIByPosChanged() {}

    // ---- The list and the current file ----
    const NavSortFileInfoList *navSortFileInfoList() const { return m_navSortFileInfoList.get(); }
    QList<LMPathString> filePaths() const;
    qsizetype fileCount() const;
    const LMPathString &curFilePath() const { return m_curFilePath; }
    qsizetype curFileIndex() const { return m_curFileIndex; }
    bool needReorderFilePaths() const { return m_needReorderFilePaths; }
    void setNeedReorderFilePaths(bool need) { m_needReorderFilePaths = need; }

    void openFilePaths(const QList<LMPathString> &filePaths, const QStringList &choosedOriginalPaths, bool includeSubDir);
    void resetAllNavFiles();
    void navCurFileToIndexByFileListChanged(qsizetype index);
    bool navCurFileToIndex(qsizetype index, bool fileListChanged, bool navNext, bool quick);
    void updateWindowTitle();

    // ---- Records ----
    LMNavFileInfoPtr curFileInfo() const;
    LMNavFileInfoPtr fileInfoByPath(const LMPathString &path) const;
    LMNavFileInfoPtr fileInfoByIndex(qsizetype index) const;
    LMNavFileInfoPtr acquireFileInfoByPath(const LMPathString &path);
    LMNavFileInfoPtr acquireFileInfoByIndex(qsizetype index);
    const QHash<LMPathString, LMNavFileInfoPtr> &cacheFileInfos() const { return m_cacheFileInfos; }
    const QHash<LMPathString, int64_t> &operationImageTypeMaskForCacheFiles() const { return m_operationMasks; }
    // Loads held back until the current file's first sharp picture is on screen.
    size_t heldLoadCount() const { return m_firstPictureGate.held.size(); }

    // ---- Showing the current file ----
    void updateOpenGLViewImage() { updateOpenGLViewImage(0); }
    void updateOpenGLViewImage(int imageMode);
    // Puts the best loaded picture of the current file for the image mode into a view (the own
    // one, or the mini window's), asking for a sharper load when the scale wants one. False when
    // the view was left as it was (a GIF or a fit-in picture already there, nothing loaded yet).
    bool putCurFileImageIntoView(LMImageViewModel &view, int imageMode);
    LMImagePtr acquireShadowImage();
    void updatePreviewStatusUIForCurFile(bool statusOnly);

    // ---- Show modes ----
    void willChangeMainShowMode(int64_t oldMode, int64_t newMode);
    void didChangeMainShowMode(int64_t oldMode, int64_t newMode);
    void reduceImageForFavSwitch(bool reduce);
    bool isViewportMarginAnimating() const { return m_imageReduceForFavSwitchTimer.isTimerRunning(); }

    // ---- Loading ----
    void submitCacheOperation(bool navNext, bool quick);
    // The thumbnails of the photo bin's cells that a pass has not asked for yet: after the window
    // grew, the bin shows more cells than when the pass ran.
    void requestPhotoBinThumbnails();
    // A small thumbnail that has no cached or stored picture is made from the large one, decoded
    // by the same load, which files both; the pass's own load of the large thumbnail then waits for
    // it and decodes nothing. `thumbPair` links the two loads of one file (null: not linked).
    // The same record carries what the pass's loads of one file share: the fit-in image its fit-in
    // load decoded, for the thumbnails to be made from rather than decoded again, and whether the
    // small thumbnail is the quick picture ahead of the fit-in (a stored one, or none).
    struct ThumbnailPair {
        std::atomic<bool> largeThumbFiled{false};
        bool storedOnly = false;
        std::atomic<bool> smallThumbSkipped{false}; // no stored one: made with the large one
        std::mutex mutex;
        LMImagePtr fitin; // guarded by mutex
    };
    // The words that say a file could not be opened or held nothing, taken on the main thread
    // for the load workers.
    struct UnreadableWords {
        QString empty;
        QString noPermission;
    };
    UnreadableWords unreadableWords() const;
    void submitOperationForLoadImage(const LMNavFileInfoPtr &fileInfo, int type, bool highPriority,
                                     std::vector<std::shared_ptr<kpv::Operation>> &operations,
                                     const std::shared_ptr<ThumbnailPair> &thumbPair = nullptr);
    std::shared_ptr<LMBlockOperation> createOperationForLoadImage(const LMNavFileInfoPtr &fileInfo, int type,
                                                                  bool highPriority, bool resetLoadMaskCache,
                                                                  const std::shared_ptr<ThumbnailPair> &thumbPair = nullptr);
    void didLoadImage(const QVariantMap &userInfo);
    void didUpdateSmallThumb(const QVariantMap &userInfo);
    // Asks for the current file's full-size image (kept only for the current file), which no pass
    // requests: for the pages that work on every pixel of it.
    void loadCurFileOriginalImage();
    // The fit-in scale type (10 or 11) for the view's present size.
    int fitinImageType() const;
    // Worker side of a sharper small thumbnail: resamples a large thumbnail wider or higher than
    // 160 pixels into 160 x 160 and hands it to the main thread.
    void checkResizeToSmallThumbOnThread(const LMImagePtr &largeThumb, const LMPathString &filePath,
                                         const kpv::Operation *operation) const;
    // The frames decoded so far of an animation whose load of `type` still decodes the others:
    // shown in the view meanwhile, when they are the current file's, more than were shown and no
    // sharper picture is there.
    void showFramesSoFar(const LMPathString &path, int type, const LMImagePtr &frame);

    // ---- Folder search, stepping and auto-navigation ----
    void startSearchFiles();
    // One batch of the folder search: the whole list found so far.
    void processSearchBatch(const NavSortFileInfoList &list);
    bool navFile(bool next, bool quick);
    void doNavCurFileByPageUp(bool up);
    void doNavCurFileToFirst(bool first);
    void beginAutoNav(bool next) { beginAutoNav(next, false); }
    void beginAutoNav(bool next, bool delayEnd);
    void endAutoNav();
    bool isAutoNavStarted() const { return m_autoNavStarted; }
    bool isAutoNavStepping() const { return m_autoNavTimer != nullptr; }
    bool reachTopOrBottomInfoShowed() const { return m_reachTopOrBottomInfoShowed; }

    // Guarded navigation. The check for an unsaved rotation comes in front of these (see
    // setUnsavedRotationCheck); while auto-navigation steps they do nothing.
    void doNavCurFileToIndex(qsizetype index, bool byGestureScroll, std::function<void(bool)> completeBlock);
    void doNavCurFileToNext(bool next) { doNavCurFileToNext(next, false, {}); }
    void doNavCurFileToNext(bool next, bool quick, std::function<void(bool)> completeNavBlock);
    // The check that runs before a guarded navigation when the image carries an unsaved rotation:
    // it calls its block with the outcome (0 to 7; 3, a save cancelled with Esc, and 6 and above
    // stop the navigation). Without one the outcome is 0 at once.
    using UnsavedRotationCheck = std::function<void(bool cancelAlternateButton, std::function<void(int)> done)>;
    void setUnsavedRotationCheck(UnsavedRotationCheck check) { m_unsavedRotationCheck = std::move(check); }

    // ---- Input (equivalent responder) ----
    bool performKeyDownEquivalent(const kpv::Event &event);
    bool performMouseMovedEquivalent(const kpv::Event &event);
    bool performScrollWheelEquivalent(const kpv::Event &event);
    bool gestureScrollAcceptablePhase(int phase) const;
    // Arrow buttons over the image (pressed, released); `next` tells which.
    void buttonMouseDown(bool next) { beginAutoNav(next); }
    void buttonMouseUp() { endAutoNav(); }
    NavGestureScrollFileSession *navGestureScrollFileSession() const { return m_navGestureScrollFileSession.get(); }
    void abortScrollSession();

    // ---- Zoom and view state ----
    void beginArrowKeyZoom(bool zoomIn, bool delayEnd);
    void endArrowKeyZoom();
    void switchToScaleMode(int64_t mode);
    void switchToFitin() { switchToScaleMode(1); }
    void switchToOriginal() { switchToScaleMode(2); }
    void switchToMaxScale() { switchToScaleMode(3); }
    void setScale(double scale);
    bool canZoom(bool zoomIn, bool checkCurFileState) const;
    double curScale() const;
    double curMinScale() const;
    double curMaxScale() const;
    bool fitinMode() const;
    bool canDragImageWithoutCheckCursorPosition() const;
    // Whether the arrow keys and swipes pan the picture rather than step between photos.
    bool canPanImageWithKeys() const;
    // Copies the image under a rectangle of the view to the pasteboard.
    void screenShotForRectInView(const QRectF &rect);

    // ---- Gate, state, other commands ----
    bool canDoAction(int64_t actionId) const;
    int curFileState() const;
    bool canSwitchToViewMode() const { return fileCount() > 0; }
    void playSlideshow();
    void toggleFullScreen();
    LMImagePtr loadOriginalImageByFileName(const QString &fileName) const;
    LMImagePtr acquireBadFileImage();
    // Whether the current file is known to be one that cannot be shown (its picture failed to
    // decode): the views then show the bad-file picture.
    bool curFileCannotBeShown() const;

    // ---- Notification handlers ----
    void doChangeScale();
    void didFileModified(const LMPathString &filePath);
    void didFilesDeleted(const QList<LMPathString> &filePaths);
    void didChangeOptionSetting();
    void didResizeWindow();
    void didResignWindow();
    // The status fade proxy finished hiding.
    void endHideFadeShowProxy();

    // True for a GIF file: by the base information when known, else by the extension.
    static bool isGifFile(const LMNavFileInfo *fileInfo);

    // ---- File commands (NavigateControllerCommands.cpp) ----
    void deleteCurFile();
    void deleteFiles(const QList<LMPathString> &filePaths);
    void postNotificationForDeletedFiles(const QList<LMPathString> &filePaths);
    // The command id of Edit > Undo Move to Trash, beside the numbered actions.
    static constexpr int64_t kUndoMoveToTrashAction = 120;
    // True while the photos of the last move to the trash can be put back.
    bool canUndoMoveToTrash() const { return !m_trashedMoves.isEmpty(); }
    // Puts the photos of the last move to the trash back where they were and shows the first. A
    // file that has taken one's name meanwhile is replaced only when the user says so, and then
    // goes to the trash itself.
    void undoMoveToTrash();
    // 1 rotate left, 2 rotate right, 3 flip horizontally, 4 flip vertically.
    void rotateCurFile(int rotateType);
    void copyCurFile();
    void saveAsCurFile();
    void saveAsCurFile(bool navToSavedFile, std::function<void(int)> completeBlock);
    // The words of the alert after a new file was written: what it lacks of the photo (`lost`),
    // and that its tags and comments could not be kept in the folder it went to.
    static QString savedFileLacksInfo(const NavigateControllerHost &host, const QStringList &lost, bool tagsLeftOut);
    void beginSaveCurFileToPath(const QString &path, std::function<void(int)> completeBlock);
    // Save As: `path` is a new file the user chose, or one the user agreed to replace.
    void beginSaveCurFileToPath(const QString &path, const std::optional<QVariantMap> &saveParameters,
                                std::function<void(int)> completeBlock, bool asNewFile);
    void endSaveCurFileToPath(const QString &path, int saveResult, bool navToSavedFile,
                              std::function<void(int)> completeBlock);
    void printCurFile();
    void cropCurFile();
    void switchToMyFavorites();
    void switchToThumbView();
    void switchPhotoBin();
    bool doShareForType(int64_t shareType);
    void setCurFileToDesktop();
    void setDesktopImageForFile(const QString &path);
    static bool isSupportedDesktopImage(const QString &) { return true; }
    void revealCurFileInFinder();
    void doBatchRename();
    void batchRenameFiles(const QList<LMPathString> &filePaths);
    void didFilesBatchRenamed(const QHash<LMPathString, LMPathString> &renameMap);
    void doBatchResize() { doBatchResizeOrConvert(true); }
    void doBatchConvert() { doBatchResizeOrConvert(false); }
    void doBatchResizeOrConvert(bool resize);
    void doZoomCurFile(bool zoomIn);
    NavigateSaveFileSession *navigateSaveFileSession();
    // A command that changes what is shown (the grid, Undo Move to Trash) asked for while
    // "Saving…" shows: `command` runs once the saves end, after the step the save was made for,
    // and true is answered. A save that failed or was cancelled keeps the viewer with its own
    // message, and the command is dropped. False, and nothing done, when no save works.
    bool runAfterSaves(std::function<void()> command);

    // ---- Unsaved rotation and drag-out (NavigateControllerSave.cpp) ----
    // Outcomes of the check: 0 nothing to save, 1 written into the file, 2 that write failed,
    // 3 it was cancelled, 4 the user went on without saving, 5 saved under another name, 6 that
    // save failed, 7 its panel was cancelled. A write into the file that fails is told, with the
    // choice to save under another name (5 to 7), keep the turn and stay (7) or let it go (2).
    bool isCurFileModifiedAndCannotOverwriteable() const;
    // Why the turned picture must not be written over the current file though it could be: the
    // file changed on disk since it was opened, or rewriting it would drop pages, animation or
    // depth. Empty when there is no such reason (or nothing is turned).
    QString curFileOverwriteConcern() const;
    void checkAndSaveCurFile(bool navToSavedFile, std::function<void(int)> completeSaveBlock)
    {
        checkAndSaveCurFile(navToSavedFile, false, std::move(completeSaveBlock));
    }
    void checkAndSaveCurFile(bool navToSavedFile, bool cancelAlternateButton, std::function<void(int)> completeSaveBlock);
    void tellTurnNotWritten(bool navToSavedFile, std::function<void(int)> finish);
    // Puts the view upright again; a file another program changed while the turn was pending is
    // read again then.
    void letTurnGo(LMImageViewModel *view);
    // Save As for a turn the user is asked about; `finish` gets outcome 5, 6 or 7.
    void saveTurnAs(bool navToSavedFile, std::function<void(int)> finish);
    // Always true: either the drag starts or the user is asked to save the turn first.
    bool beginDraggingSessionAtIndex(qsizetype index);
    // Copy (1) when dropped outside the application (context 0), none (0) inside.
    static int draggingSourceOperationMask(int context) { return context == 0 ? 1 : 0; }

    // ---- Favourites (NavigateControllerFavorite.cpp) ----
    void favorCurFile();
    void beginFavorCurFile();
    void stopFavorFileAnimationTimer();
    bool isFavorFileAnimating() const { return m_favorFileAnimationTimer.isTimerRunning(); }
    void addFavoriteFile(const LMPathString &path, const LMImagePtr &thumb);

    // ---- Status, sorting and notifications (NavigateControllerStatus.cpp) ----
    void updateStatusInfo(const QString &text, bool showWaiting, int loadingInfoFlag);
    void sortFiles(int64_t sortType) { sortFiles(sortType, false); }
    void sortFiles(int64_t sortType, bool forceSort);
    void didAutoHideCursor();
    void didSlideshowFirstFrameDisplayed();
    bool canShowProperties() const;
    bool gestureScrollSessionRunning() const;

private:
    friend class NavigateControllerTestAccess;

    // Forgets which loads were requested; loads still held back for the first picture go with it.
    void clearLoadMasks();
    // What decides which files get thumbnails: the windows around the current file and the cells
    // the photo bin shows now.
    struct ThumbnailReach {
        NavLoadPlanner::Window info, image, ahead;
        qsizetype cells = 0;
        qsizetype beyond = 0; // cells past each end of the bin that get their thumbnails too
        bool binShown = true;
    };
    ThumbnailReach thumbnailReach() const;
    // The loads a pass marks as waiting are held back while the current file's first sharp
    // picture is on its way, then queued once it is on screen (or at once when it failed).
    void queueOrHold(std::shared_ptr<kpv::Operation> operation, bool waits);
    void closeFirstPictureGate(int fitinType);
    void openFirstPictureGate();
    // Opens the gate once the view's next frame is on screen (or after a short wait for a view
    // that draws none).
    void openFirstPictureGateAfterFrame();
    // A result of the current file was filed: when it is the picture the gate waits for, the held
    // loads are queued after the next frame of the view (shown) or at once (failed).
    void checkFirstPictureGate(const LMNavFileInfoPtr &info, bool shown);
    void fileLoadResult(const LMNavFileInfoPtr &info, const QVariantMap &userInfo);
    LMImageViewModel *currentView() const;
    MainConfig *config() const;
    void postNotification(const char *name, const QVariantMap &userInfo = {}) const;
    void didLoadImageFromThread(const QVariantMap &userInfo);
    void timerForAutoNav(bool next, double beginTime);
    void scheduleAutoNavTimer(double interval, bool next, double beginTime);
    // A held arrow steps on only once the photo it came to shows at least its quick picture:
    // over photos that take longer to decode than a step lasts, each step would otherwise cancel
    // the last one's decode, and nothing would be seen until the key is let go. True while the
    // quick picture the last pass asked for is still being decoded (or its result is on its way
    // to the main thread) and the view has no picture of the file yet.
    bool quickPictureOnItsWay() const;
    // Holds the stepping until that picture comes (looking again now and then, so that a load
    // that will never report cannot stop it for good).
    void waitForQuickPictureBeforeStep(bool next, double beginTime);
    // The picture came: the next step follows once it is on screen and has stayed there a step's
    // interval.
    void stepOnAfterQuickPicture();
    // Auto-navigation ended or stopped at an end: the full set of loads for the file shown, and
    // the sharper picture its view wants, which the held steps did not ask for.
    void submitLoadsAfterHeldSteps();
    void ensureScrollSession();
    void handleGestureAfterCheck(int outcome, std::optional<double> delta, const kpv::Event &event);
    void startSlideshowNow();

    LMImageViewModel *m_openGLView;
    NavigateControllerHost *m_host;
    const NavImageLoader *m_loader;
    NavPagingViewFactory *m_pagingViews;

    std::unique_ptr<NavSortFileInfoList> m_navSortFileInfoList;
    LMPathString m_curFilePath;
    qsizetype m_curFileIndex = 0;
    // Other programs' changes to the folders of the list and to the file shown: files added to a
    // folder the user opened join the list, files gone leave it, the file shown is read again.
    std::unique_ptr<kpv::FolderWatcher> m_folderWatcher;
    QStringList m_watchedFolders;
    bool m_addFilesFromWatchedFolders = false;
    // The folders opened with their sub-folders, and every folder under them now: all watched,
    // so that a sub-folder made later is followed too.
    QStringList m_watchedTrees;
    QSet<QString> m_treeFolders;
    // The folders under the opened trees, found afresh; true when they changed.
    bool refreshTreeFolders();
    void updateWatchedFolders();
    void updateWatchedFile();
    void watchedPathsChanged(const QStringList &folders, const QStringList &files);
    // Drops the record of a file that another program changed since it was read (written over,
    // or replaced by something that is no picture, as a pipe), so that it is read again rather
    // than shown as it was; the bins and the grid are told. True when it did.
    bool forgetRecordIfFileChanged(const LMPathString &path);
    // Whether the record of the current file has a picture for the view, or says it has none
    // (the bad-file picture then).
    bool curFilePictureAtHand() const;
    // A step to a photo whose first picture is still on its way keeps the last photo on screen
    // (the title and the file line change at once): emptied at once, the view would show black
    // between every two large photos. "Loading" shows only once the picture is a while late,
    // counted from the first step that held the screen; the screen then lets go as well.
    // `view` is the one shown: the main one, or the mini window's in the mini window.
    void emptyViewHoldingPicture(LMImageViewModel &view, bool keepPrevScale);
    void showLoadingUnderHeldPicture();
    std::shared_ptr<kpv::Timer> m_loadingMarkTimer;
    // The photo shown left its folder and nothing with its identity came in the same change: a
    // rename may still be reported as an arrival in the next change, so it stays shown a moment
    // before it counts as gone. The path that left, and the timer of that moment.
    LMPathString m_curFileLeftPath;
    std::shared_ptr<kpv::Timer> m_curFileLeftTimer;
    // The bytes of the photo shown, copied into memory at its first turn and kept until it is
    // left: should another program move it away or remove it before the turn is saved, a copy
    // still gets its whole picture and its metadata. The photo itself is not kept open, so that
    // the drive it lives on can be ejected. -1 when none is held.
    int m_turnedFileFd = -1;
    kpv::FileIdentity m_turnedFileCopiedFrom;
    void holdTurnedFile();
    void releaseTurnedFile();
    // Where the held bytes are read from, and the file they were copied from; empty when none.
    NavigateSaveFileSession::HeldCopy heldTurnedFile() const;
    void endWaitForCurFileLeft(bool expired = false);
    // The photo shown that left its folder with a turn not yet saved, kept shown, leaves the list
    // once the user has left it or let the turn go.
    void dropShownPhotoThatLeftSoon();
    bool hasUnsavedTurn() const;
    // The moves to the trash of this run, the latest last: each photo's path and where it went
    // in the trash. Undo puts back the latest, then the one before, and so on. A favourite keeps
    // its mark and its picture for the way back, since the trash took it out of the favourites.
    struct TrashedFile {
        QString originalPath;
        QString trashedPath;
        bool favorite = false;
        LMFileImgBaseInfoPtr favoriteInfo;
        QImage favoriteThumb;
    };
    QList<QList<TrashedFile>> m_trashedMoves;
    void restoreTrashed(QList<TrashedFile> files, bool replaceOccupied);
    QHash<LMPathString, LMNavFileInfoPtr> m_cacheFileInfos;
    QHash<LMPathString, int64_t> m_operationMasks;
    struct FirstPictureGate {
        bool closed = false;
        bool releasing = false;
        LMPathString path;
        int type = 0;
        uint64_t generation = 0;
        std::vector<std::shared_ptr<kpv::Operation>> held;
        std::shared_ptr<kpv::Timer> fallback;
    };
    FirstPictureGate m_firstPictureGate;
    // Once the current photo has been on screen and still for a moment, what a zoom to 100%
    // would show is decoded in the background as sharp regions: the middle at full size, where
    // that zoom ends, and what its first frames show at the resolution they need. 100% then
    // shows the file's own pixels at once; the regions go with the next step.
    void scheduleZoomAheadForStillView();
    void requestZoomAheadForStillView(const LMPathString &path);
    std::shared_ptr<kpv::Timer> m_zoomAheadTimer;
    // Sharp regions: once the view has been still for a moment, or at once when a zoom starts
    // (aimed at where it ends), the part of a JPEG the view shows is decoded at the
    // resolution it needs, in bands of tiles, and drawn over the picture; pans bring further
    // tiles, and a step drops them all.
    bool regionsServe(const LMNavFileInfoPtr &info) const;
    void scheduleRegionsForStillView();
    void requestRegionsForShownPart();
    void requestRegionsForZoomTarget();
    // The regions a zoom from `begin` to `end` about `hold` (the middle without one) shows: the
    // part where it ends at the resolution of `end`, and around it what its first frames show.
    // Asked for at the key, the frames around the end get half that resolution, which comes
    // sooner; asked for `ahead` of the zoom, they get all of it.
    void requestRegionsForZoom(double begin, double end, const std::optional<QPointF> &hold, bool ahead);
    // The full-size picture of the current file came while the view shows a smaller one: the
    // view makes ahead the tiles of it that the first frames of a zoom to 100% show.
    void prepareZoomAhead(const LMImagePtr &fullSize);
    // The regions of `rawRect` at the resolution `scale` needs, the rows nearest `rawFocus`
    // first; `ahead` of need they are background work. Those finer tiles hold already are not
    // decoded again where the view draws these instead: `forZoomFrames`, any finer ones.
    void requestRegions(const QRectF &rawRect, double scale, QPointF rawFocus, bool ahead = false,
                        bool forZoomFrames = false);
    void fileRegionBand(const NavRegionCache::Band &band, const std::vector<LMRegionTilePtr> &tiles);
    void dropRegions();
    NavRegionCache m_regionCache;
    std::shared_ptr<kpv::Timer> m_regionStillTimer;
    std::vector<std::weak_ptr<kpv::Operation>> m_regionLoads;
    QVariantMap m_regionZoomAskedFor; // the zoom whose target was last asked for
    // The frames shown while the rest of the animation decodes, until that load ends.
    struct FramesSoFar {
        LMPathString path;
        int type = 0;
        LMImagePtr image;
    };
    FramesSoFar m_framesSoFar;
    // The current file changed since the last scheduling pass: that pass holds its background
    // loads until the new picture is on screen, even when its fit-in is decoded already.
    bool m_curFileChangedSincePass = false;
    // The user stepped to another file of the list shown: from then on the passes decode the
    // fit-ins of the whole image window ahead; before, only those of the two files next to the
    // current one, so that a photo opened and looked at leaves the machine quiet.
    bool m_steppedInList = false;
    bool m_needReorderFilePaths = false;
    LMImagePtr m_shadowImage;
    LMImagePtr m_badFileImage;
    std::unique_ptr<PhotoSearchHandler> m_photoSearchHandler;
    LMBlockRepeatTimer m_imageReduceForFavSwitchTimer;
    double m_filenameUIHeight = 10.0;
    bool m_registered = false;

    // Auto-navigation and key repeat.
    std::shared_ptr<kpv::Timer> m_autoNavTimer;
    bool m_autoNavStarted = false;
    // The stepping waits for the current file's quick picture; the direction and start of the
    // stepping it resumes; a count that tells a frame's late callback from the current timer.
    bool m_autoNavWaitsForPicture = false;
    double m_autoNavWaitSince = 0;
    bool m_autoNavNext = true;
    double m_autoNavBeginTime = 0;
    uint64_t m_autoNavGeneration = 0;
    // The load of the current file's quick picture (its small thumbnail) that the last pass made,
    // until its result is filed or the file changes.
    std::shared_ptr<kpv::Operation> m_quickPictureLoad;
    LMPathString m_quickPicturePath;
    LMBlockTimer m_autoNavDelayEndTimer;
    LMBlockTimer m_imageZoomTimer;
    bool m_reachHeadOrTailAtLastTime = false;
    bool m_reachTopOrBottomInfoShowed = false;
    std::optional<double> m_gestureScrollDeltaForModifiedFile;
    std::unique_ptr<NavGestureScrollFileSession> m_navGestureScrollFileSession;
    UnsavedRotationCheck m_unsavedRotationCheck;

    // File commands, saving and the favourites animation.
    std::unique_ptr<NavigateSaveFileSession> m_navigateSaveFileSession;
    LMBlockRepeatTimer m_favorFileAnimationTimer;
    bool m_favorAdding = false;

    // Lets results posted by workers recognise a controller that has gone.
    std::shared_ptr<NavigateController *> m_self;
};
