#pragma once

// What the view-mode controller needs of the windows around it: the main window controller (show
// mode, title, mini window, responder registration), the application delegate (settings and the
// shared load queue), the overlay views over the image view (zoom status, arrows, file line, fade
// proxies), the photo bin, the favourites and the panels. The application shell implements it;
// tests implement it with a recorder. Every call comes on the main thread.
//
// Operations with a body are those whose owners may not exist in every configuration (no mini
// window, no photo bin yet); their bodies answer what "nothing there" means.

#include "Model/LMFileImgBaseInfo.h"
#include "Model/LMImage.h"
#include "Model/LMPathString.h"

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
    virtual void cancelAllOperations() = 0;
    // Localised text of an "IDS_" key.
    virtual QString localizedString(const QString &key) const;
    // Full path of a file in the application's resources, or empty.
    virtual QString resourcePath(const QString &fileName) const;

    // ---- Main window controller ----
    virtual int64_t showMode() const = 0;
    virtual void setShowMode(int64_t mode) = 0;
    virtual void registEquivalentResponder(NavigateController *, bool) {}
    virtual void setWindowTitle(const QString &, const QString & /*representedFilename*/) {}
    virtual bool isWindowFullScreen() const { return false; }
    virtual void toggleFullScreen() {}
    // The mini window's image view, or nullptr when there is no mini window.
    virtual LMImageViewModel *miniWindowOpenGLView() { return nullptr; }
    virtual void updateMiniUI(int /*imageMode*/, int /*angleDegrees*/) {}
    virtual void writeImageToPasteboard(const QImage &) {}

    // ---- Overlay views over the image view ----
    virtual void updateStatusInfo(const QString &, bool /*showWaiting*/, int /*loadingInfoFlag*/) {}
    virtual void showPreviewStatus(bool /*animation*/, bool /*autoHide*/) {}
    virtual void hidePreviewStatus(bool /*animation*/, bool /*needDelay*/) {}
    virtual void setPreviewStatusAutoHideInterval(double) {}
    virtual void showNextPrev(bool /*animation*/, bool /*autoHide*/) {}
    virtual void hideNextPrev(bool /*animation*/, bool /*needDelay*/) {}
    virtual void showImageView(bool /*animation*/, bool /*autoHide*/) {}
    virtual void hideImageView(bool /*animation*/, bool /*needDelay*/) {}
    virtual void setNavInfoContainerHidden(bool) {}
    virtual void setFileImgBaseInfo(const LMFileImgBaseInfoPtr &, int64_t /*mask*/) {}
    virtual NavArrowHit arrowHitTest(QPointF /*locationInWindow*/) const { return NavArrowHit::None; }
    // The image view's drop shadow (nine-slice image with its slice sizes and draw offsets).
    virtual void setViewShadowImage(const LMImagePtr &) {}

    // ---- Photo bin, panels, favourites, other modes ----
    // Items the photo bin can show at most; 40 while it cannot tell.
    virtual qsizetype photoBinMaxVisibleItemCount() const { return 40; }
    virtual qsizetype photoBinWholeVisibleItemCountOfCurPage() const { return 0; }
    virtual void resetPhotoBinFiles() {}
    virtual void showSandboxAccessTips() {}
    virtual void hideSandboxAccessTips(bool) {}
    virtual void checkShowHideNavigationWindow() {}
    virtual bool curLoveIntroTipsShowStatus() const { return false; }
    virtual bool isFavoriteFile(const LMPathString &) const { return false; }
    virtual qsizetype favoriteFileCount() const { return 0; }
    virtual void stopFavorFileAnimationTimer() {}
    virtual bool fileExistsAtPath(const QString &path) const;
    virtual void startSlideshow(const QList<NavSlideshowFile> &, qsizetype /*startFromIndex*/) {}
    // Moves the current file to the Trash.
    virtual void deleteCurFile() {}
    // Sorts the list again with the given sort type (forced: even when the type did not change).
    virtual void sortFiles(int64_t /*sortType*/, bool /*forceSort*/) {}

    // ---- File commands: sheets, panels and the desktop ----
    // An alert sheet on the current window; `didEnd` gets 1 for the default button, 0 for the
    // alternate one and -1 for the other one. Without a window the alert answers 0.
    using AlertDidEnd = std::function<void(int returnCode)>;
    virtual void beginAlertSheet(const QString & /*message*/, const QString & /*defaultButton*/,
                                 const QString & /*alternateButton*/, const QString & /*otherButton*/,
                                 const QString & /*informative*/, AlertDidEnd didEnd)
    {
        if (didEnd)
            didEnd(0);
    }
    // The save-as panel with its format accessory, run modally: the handler gets whether a path was
    // chosen (and can be written), the path and the save parameters. Exactly one call.
    using SavePanelHandler = std::function<void(bool chosen, const QString &path, const std::optional<QVariantMap> &params)>;
    virtual void runSaveAsPanel(const QString & /*sourcePath*/, const QString & /*defaultDirectory*/,
                                SavePanelHandler handler)
    {
        if (handler)
            handler(false, QString(), std::nullopt);
    }
    virtual void printImage(const QImage &) {}
    // Clears the clipboard and puts the file's URL, then the image, on it.
    virtual void writeFileAndImageToPasteboard(const QString & /*filePath*/, const QImage &) {}
    // The application's private temporary sub-folder (made when missing); empty when unavailable.
    virtual QString temporaryDirectoryWithSubDir(const QString &) const { return {}; }
    // Trash, reveal and desktop picture; nullptr when there is no desktop.
    virtual kpv::WorkspaceServices *workspaceServices() { return nullptr; }
    virtual void miniWindowDoBeforeRotate() {}
    // Sharing: the files of one share command (paths with what is decoded of them).
    virtual void shareFiles(const QList<NavSlideshowFile> & /*files*/, int64_t /*shareType*/) {}
    virtual void updateShareButtonUI(int64_t /*shareType*/) {}
    virtual void switchPhotoBin() {}
    // Batch sheets; each completion runs once when its sheet ends.
    virtual void beginBatchRename(const QList<LMPathString> &,
                                  std::function<void(const QHash<LMPathString, LMPathString> &)> done)
    {
        if (done)
            done({});
    }
    virtual void beginBatchResizeOrConvert(bool /*resize*/, const QList<NavSlideshowFile> &, std::function<void()> done)
    {
        if (done)
            done();
    }
    // Starts dragging the file out of the view with the image under the pointer.
    virtual void beginDragFile(const QString & /*filePath*/, const QImage & /*dragImage*/) {}

    // ---- Favourites ----
    virtual void addFavoriteFile(const LMPathString &, const LMFileImgBaseInfoPtr &, const QImage & /*smallThumb*/) {}
    virtual void removeFavoriteFile(const LMPathString &) {}
    // The small thumbnail and orientation angle a favourite was added with (null when unknown).
    virtual QImage favoriteThumb(const LMPathString &, int * /*angle*/) const { return {}; }
    // The favourites-bin button's bounds in the image view's coordinates (empty when none).
    virtual QRectF favoriteBinRectInView() const { return {}; }
    virtual void beginAniFavorFile(bool /*adding*/) {}
    virtual void endAniFavorFile(bool /*adding*/) {}
    virtual void updateFavPhotoBoxUI() {}
    // The flying snapshot over the image view: shown with an image and angle, moved, faded, removed.
    virtual void showFavorSnapshot(const QImage &, int /*angle*/) {}
    virtual void updateFavorSnapshot(const QRectF & /*rectInView*/, double /*alpha*/) {}
    virtual void removeFavorSnapshot() {}
};
