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
#include "View/NavigateControllerHost.h"

#include <QHash>
#include <QList>
#include <QRectF>
#include <QStringList>
#include <QVariantMap>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>

class LMBlockOperation;
class LMImageViewModel;
class NavGestureScrollFileSession;
class NavImageLoader;
class NavPagingViewFactory;
class PhotoSearchHandler;
namespace kpv {
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

    // ---- Showing the current file ----
    void updateOpenGLViewImage() { updateOpenGLViewImage(0); }
    void updateOpenGLViewImage(int imageMode);
    LMImagePtr acquireShadowImage();
    void updatePreviewStatusUIForCurFile(bool statusOnly);

    // ---- Show modes ----
    void willChangeMainShowMode(int64_t oldMode, int64_t newMode);
    void didChangeMainShowMode(int64_t oldMode, int64_t newMode);
    void reduceImageForFavSwitch(bool reduce);
    bool isViewportMarginAnimating() const { return m_imageReduceForFavSwitchTimer.isTimerRunning(); }

    // ---- Loading ----
    void submitCacheOperation(bool navNext, bool quick);
    void submitOperationForLoadImage(const LMNavFileInfoPtr &fileInfo, int type, bool highPriority,
                                     std::vector<std::shared_ptr<kpv::Operation>> &operations);
    std::shared_ptr<LMBlockOperation> createOperationForLoadImage(const LMNavFileInfoPtr &fileInfo, int type,
                                                                  bool highPriority, bool resetLoadMaskCache);
    void didLoadImage(const QVariantMap &userInfo);
    void didUpdateSmallThumb(const QVariantMap &userInfo);
    // The fit-in scale type (10 or 11) for the view's present size.
    int fitinImageType() const;
    // Worker side of a sharper small thumbnail: resamples a large thumbnail wider or higher than
    // 160 pixels into 160 x 160 and hands it to the main thread.
    void checkResizeToSmallThumbOnThread(const LMImagePtr &largeThumb, const LMPathString &filePath,
                                         const kpv::Operation *operation) const;

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
    // it calls its block with the outcome (0 to 7; 6 and above stop the navigation). Without one
    // the outcome is 0 at once.
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

private:
    friend class NavigateControllerTestAccess;

    void clearLoadMasks() { m_operationMasks.clear(); }
    LMImageViewModel *currentView() const;
    MainConfig *config() const;
    void postNotification(const char *name, const QVariantMap &userInfo = {}) const;
    void didLoadImageFromThread(const QVariantMap &userInfo);
    void timerForAutoNav(bool next, double beginTime);
    void scheduleAutoNavTimer(double interval, bool next, double beginTime);
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
    QHash<LMPathString, LMNavFileInfoPtr> m_cacheFileInfos;
    QHash<LMPathString, int64_t> m_operationMasks;
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
    LMBlockTimer m_autoNavDelayEndTimer;
    LMBlockTimer m_imageZoomTimer;
    bool m_reachHeadOrTailAtLastTime = false;
    bool m_reachTopOrBottomInfoShowed = false;
    std::optional<double> m_gestureScrollDeltaForModifiedFile;
    std::unique_ptr<NavGestureScrollFileSession> m_navGestureScrollFileSession;
    UnsavedRotationCheck m_unsavedRotationCheck;

    // Lets results posted by workers recognise a controller that has gone.
    std::shared_ptr<NavigateController *> m_self;
};
