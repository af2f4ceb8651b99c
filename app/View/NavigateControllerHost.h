#pragma once

// What the view-mode controller needs of the windows around it: the main window controller (show
// mode, title, mini window, responder registration), the application delegate (settings and the
// shared load queue), the overlay views over the image view (zoom status, arrows, file line, fade
// proxies), the photo bin, the favourites and the panels. The application shell implements every
// operation, answering what "nothing there" means where a part (the mini window, the photo bin)
// is absent; tests implement it with a recorder. Every call comes on the main thread.

#include "Model/LMFileImgBaseInfo.h"
#include "Model/LMImage.h"
#include "Model/LMPathString.h"
#include "appkit/Panels.h"

#include <QHash>
#include <QImage>
#include <QList>
#include <QPointF>
#include <QRectF>
#include <QVariantMap>
#include <QString>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>

class LMImageViewModel;
class MainConfig;
class NavigateController;
namespace kpv {
class Operation;
class WorkspaceServices;
}

// One slide handed to the slideshow: the file and what the viewer has already decoded of it.
struct NavSlideshowFile {
    LMPathString filePath;
    LMFileImgBaseInfoPtr imgBaseInfo;
    LMImagePtr prevLoadedLargeFitInImage;
    LMImagePtr prevLoadedOriginalImage;
    // The turn on screen was written into the file before the hand-over.
    bool turnSaved = false;
};

// Which of the arrow controls a point in the window lies on.
enum class NavArrowHit : int {
    None = 0,
    NextButton = 1,
    PrevButton = 2,
    NextHitArea = 3,
    PrevHitArea = 4,
};

class NavigateControllerHost {
public:
    virtual ~NavigateControllerHost() = default;

    // ---- Application delegate ----
    virtual MainConfig *mainConfig() = 0;
    // The shared load queue.
    virtual void addOperation(std::shared_ptr<kpv::Operation> operation) = 0;
    // Runs `block` on the main thread once the image view has put its next frame on screen; soon
    // after the call when the view draws no frame (not on screen, or drawing is unavailable).
    virtual void performAfterImageViewFrame(std::function<void()> block) = 0;
    virtual void cancelAllOperations() = 0;
    // Localised text of an "IDS_" key.
    virtual QString localizedString(const QString &key) const = 0;
    // Full path of a file in the application's resources, or empty.
    virtual QString resourcePath(const QString &fileName) const = 0;

    // ---- Main window controller ----
    virtual int64_t showMode() const = 0;
    virtual void setShowMode(int64_t mode) = 0;
    virtual void registEquivalentResponder(NavigateController *, bool) = 0;
    virtual void setWindowTitle(const QString &, const QString & /*representedFilename*/) = 0;
    virtual bool isWindowFullScreen() const = 0;
    virtual void toggleFullScreen() = 0;
    // The mini window's image view, or nullptr when there is no mini window.
    virtual LMImageViewModel *miniWindowOpenGLView() = 0;
    virtual void updateMiniUI(int /*imageMode*/, int /*angleDegrees*/) = 0;
    virtual void writeImageToPasteboard(const QImage &) = 0;

    // ---- Overlay views over the image view ----
    virtual void updateStatusInfo(const QString &, bool /*showWaiting*/, int /*loadingInfoFlag*/) = 0;
    // Why the current file cannot be shown, as a smaller line under the picture that says so
    // (after the status line was set; any new status line takes it away). Empty: no reason known.
    virtual void updateStatusReason(const QString & /*reason*/) = 0;
    virtual void showPreviewStatus(bool /*animation*/, bool /*autoHide*/) = 0;
    virtual void hidePreviewStatus(bool /*animation*/, bool /*needDelay*/) = 0;
    virtual void setPreviewStatusAutoHideInterval(double) = 0;
    virtual void showNextPrev(bool /*animation*/, bool /*autoHide*/) = 0;
    virtual void hideNextPrev(bool /*animation*/, bool /*needDelay*/) = 0;
    virtual void showImageView(bool /*animation*/, bool /*autoHide*/) = 0;
    virtual void hideImageView(bool /*animation*/, bool /*needDelay*/) = 0;
    virtual void setNavInfoContainerHidden(bool) = 0;
    virtual void setFileImgBaseInfo(const LMFileImgBaseInfoPtr &, int64_t /*mask*/) = 0;
    virtual NavArrowHit arrowHitTest(QPointF /*locationInWindow*/) const = 0;
    // The image view's drop shadow (nine-slice image with its slice sizes and draw offsets).
    virtual void setViewShadowImage(const LMImagePtr &) = 0;

    // ---- Photo bin, panels, favourites, other modes ----
    // Items the photo bin can show at most; 40 while it cannot tell.
    virtual qsizetype photoBinMaxVisibleItemCount() const = 0;
    virtual qsizetype photoBinWholeVisibleItemCountOfCurPage() const = 0;
    virtual void resetPhotoBinFiles() = 0;
    virtual void showSandboxAccessTips() = 0;
    virtual void hideSandboxAccessTips(bool) = 0;
    virtual void checkShowHideNavigationWindow() = 0;
    virtual bool curLoveIntroTipsShowStatus() const = 0;
    virtual bool isFavoriteFile(const LMPathString &) const = 0;
    virtual qsizetype favoriteFileCount() const = 0;
    virtual void stopFavorFileAnimationTimer() = 0;
    virtual bool fileExistsAtPath(const QString &path) const = 0;
    virtual void startSlideshow(const QList<NavSlideshowFile> &, qsizetype /*startFromIndex*/) = 0;
    // Moves the current file to the Trash.
    virtual void deleteCurFile() = 0;
    // Sorts the list again with the given sort type (forced: even when the type did not change).
    virtual void sortFiles(int64_t /*sortType*/, bool /*forceSort*/) = 0;

    // ---- File commands: sheets, panels and the desktop ----
    // An alert sheet on the current window; `didEnd` gets 1 for the default button, 0 for the
    // alternate one and -1 for the other one; Esc answers as the alternate button, or with
    // kpv::AlertDismissedReturn under AlertEscape::Dismiss (for an alternate button that does
    // something of its own). Without a window the alert answers 0.
    using AlertDidEnd = std::function<void(int returnCode)>;
    virtual void beginAlertSheet(const QString & /*message*/, const QString & /*defaultButton*/,
                                 const QString & /*alternateButton*/, const QString & /*otherButton*/,
                                 const QString & /*informative*/, AlertDidEnd didEnd,
                                 kpv::AlertEscape escape = kpv::AlertEscape::Alternate) = 0;
    // The save-as panel with its format accessory, run modally: the handler gets whether a path was
    // chosen (and can be written), the path and the save parameters. Exactly one call.
    using SavePanelHandler = std::function<void(bool chosen, const QString &path, const std::optional<QVariantMap> &params)>;
    virtual void runSaveAsPanel(const QString & /*sourcePath*/, const QString & /*defaultDirectory*/,
                                SavePanelHandler handler) = 0;
    // Prints the picture; `jobName` (the photo's name as shown) names the job and a PDF's title.
    virtual void printImage(const QImage &, const QString &jobName) = 0;
    // Clears the clipboard and puts the file's URL, then the image, on it.
    virtual void writeFileAndImageToPasteboard(const QString & /*filePath*/, const QImage &) = 0;
    // The application's private temporary sub-folder (made when missing); empty when unavailable.
    virtual QString temporaryDirectoryWithSubDir(const QString &) const = 0;
    // Trash, reveal and desktop picture; nullptr when there is no desktop.
    virtual kpv::WorkspaceServices *workspaceServices() = 0;
    virtual void miniWindowDoBeforeRotate() = 0;
    // Sharing: the files of one share command (paths with what is decoded of them).
    virtual void shareFiles(const QList<NavSlideshowFile> & /*files*/, int64_t /*shareType*/) = 0;
    virtual void updateShareButtonUI(int64_t /*shareType*/) = 0;
    virtual void switchPhotoBin() = 0;
    // Batch sheets; each completion runs once when its sheet ends.
    virtual void beginBatchRename(const QList<LMPathString> &,
                                  std::function<void(const QHash<LMPathString, LMPathString> &)> done) = 0;
    virtual void beginBatchResizeOrConvert(bool /*resize*/, const QList<NavSlideshowFile> &, std::function<void()> done) = 0;
    // Starts dragging the file out of the view with the image under the pointer.
    virtual void beginDragFile(const QString & /*filePath*/, const QImage & /*dragImage*/) = 0;

    // ---- Favourites ----
    virtual void addFavoriteFile(const LMPathString &, const LMFileImgBaseInfoPtr &, const QImage & /*smallThumb*/) = 0;
    virtual void removeFavoriteFile(const LMPathString &) = 0;
    // The small thumbnail and orientation angle a favourite was added with (null when unknown).
    virtual QImage favoriteThumb(const LMPathString &, int * /*angle*/) const = 0;
    // The favourites-bin button's bounds in the image view's coordinates (empty when none).
    virtual QRectF favoriteBinRectInView() const = 0;
    virtual void beginAniFavorFile(bool /*adding*/) = 0;
    virtual void endAniFavorFile(bool /*adding*/) = 0;
    virtual void updateFavPhotoBoxUI() = 0;
    // The flying snapshot over the image view: shown with an image and angle, moved, faded, removed.
    virtual void showFavorSnapshot(const QImage &, int /*angle*/) = 0;
    virtual void updateFavorSnapshot(const QRectF & /*rectInView*/, double /*alpha*/) = 0;
    virtual void removeFavorSnapshot() = 0;
};
