#pragma once
// Crop mode on screen (show mode 16): the crop page with the image fitted under the tracking
// rectangle and its size read-out, and the result page with a preview of the cut. The rectangle
// itself lives in CropModeModel (raw pixels of the current file); the cut and the writes are done
// by CropSaveWorker on a queue of its own, so the window never waits for a large original.
#include "Edit/CropModeModel.h"
#include "Edit/CropSaveWorker.h"
#include "Kit/LMAreaTrackViewDelegate.h"
#include "Kit/LMEventMonitor.h"
#include "Kit/LMPopMenuDelegates.h"
#include "Kit/LMSimButtonBaseDelegate.h"
#include "Kit/ShowModeController.h"
#include "appkit/Geometry.h"
#include <QVariantMap>
#include <functional>
#include <memory>
#include <optional>

class LMAreaTrackView;
class LMBlockRepeatTimer;
class LMBlockTimer;
class CropPreviewView;
class LMButton;
class LMFadeShowProxy;
class LMNormalCustomButton;
class LMPopMenuViewController;
class LMImageView;
class LMPhotoLoader;
class MainConfig;
namespace kpv {
class OperationQueue;
class TextField;
class View;
}

// What crop mode needs of the navigator and the main window. The shell implements it over its
// NavigateController and main window controller.
class CropViewHost {
public:
    virtual ~CropViewHost() = default;
    // The view mode's current file (its cache record with base information) and view angle.
    virtual LMNavFileInfoPtr curFileInfo() const = 0;
    virtual LMImageRotateAngle angleRotate() const = 0;
    virtual const LMPhotoLoader &photoLoader() const = 0;
    // The main screen's size in points and the backing scale of the mode's window, for the
    // display preset.
    virtual QSizeF mainScreenSizePoints() const = 0;
    virtual double backingScale() const = 0;
    // The view that hosts the given show mode, and switching the show mode.
    virtual kpv::View *containerViewByShowMode(long showMode) = 0;
    virtual void setShowMode(long showMode) = 0;
    // The view the preset pop-up shows in (the window's content view).
    virtual kpv::View *popupParentView() = 0;
    // The shared Save As panel as a sheet, starting in `defaultDir` with the name of `srcFilePath`.
    // A file chosen that exists is replaced only once the user agreed, asked with what
    // `replaceWarning` says of that file (what it would lose; empty: nothing). `done` gets the
    // chosen path (empty when cancelled) and the format picker's save parameters.
    using SavePanelDone = std::function<void(const QString &path, const QVariantMap &saveParameters)>;
    using ReplaceWarning = std::function<QString(const QString &path)>;
    virtual void runSaveAsPanel(const QString &srcFilePath, const QString &defaultDir, ReplaceWarning replaceWarning,
                                SavePanelDone done) = 0;
    virtual QString lastSaveAsDir() const = 0;
    virtual void setLastSaveAsDir(const QString &dir) = 0;
    // The folder for temporary crops (made when missing; emptied by the application at exit).
    virtual QString temporaryCropFolder() = 0;
    // The folder in the user's data folder where a crop loved before it was saved is kept for as
    // long as it is a favourite (made when missing; empty when it cannot be made).
    virtual QString keptCropFolder() = 0;
    // The view mode takes a written file into its list after the current one and makes it current.
    virtual void endSaveCurFileToPath(const LMPathString &) = 0;
    virtual void addFavoriteFile(const LMPathString &, const LMImagePtr &thumb) = 0;
    // A file that existed was overwritten ("fileModified").
    virtual void postFileModified(const LMPathString &) = 0;
    // An original loaded by the crop worker, for the view mode to file as its own load.
    virtual void didLoadImageFromThread(const QVariantMap &) = 0;
    virtual bool isKeyWindowForView(kpv::View *) const = 0;
    // The view mode's favourites box in window coordinates (the zero rectangle when it has none):
    // where a favourite made here flies to.
    virtual kpv::Rect favoriteBoxFrameInWindow() const = 0;
    // An alert sheet on the mode's window with one OK button; `done` runs when it is closed.
    virtual void showAlert(const QString &message, const QString &informative, std::function<void()> done) = 0;
    // The settings (what the wheel does over the preview, whether zooms animate); nullptr leaves
    // the preview's own defaults: the wheel zooms, with animation.
    virtual MainConfig *mainConfig() const = 0;
};

class CropViewController : public ShowModeController,
                                 public LMAreaTrackViewDelegate,
                                 public LMPopMenuViewDataSource,
                                 public LMPopMenuViewDelegate,
                                 public LMSimButtonBaseDelegate {
public:
    static constexpr long kShowMode = 16;
    static constexpr long kViewShowMode = 4;

    explicit CropViewController(CropViewHost &host);
    ~CropViewController() override;
    CropViewController(const CropViewController &) = delete;
    CropViewController &operator=(const CropViewController &) = delete;

    // Show-mode changes, called by the main window controller before and after a switch.
    void willChangeMainShowMode(long oldMode, long newMode);
    void didChangeMainShowMode(long oldMode, long newMode);

    bool canDoAction(long actionId) override;
    void doAction(long actionId, long argument) override;
    // Shown in the main window, with no context menu; favourites are the favourites mode's.
    bool isFavoriteFile(const LMPathString&) const override { return false; }
    void popUpContextMenuWithEvent(const kpv::Event&) override {}
    kpv::Window* window() const override { return nullptr; }

    void backToViewMode();
    void doRotate();
    void selectAll();
    void doCrop();
    void doSaveAs();
    void saveCropImageToFile(const QString &path, const std::optional<QVariantMap> &saveParameters);
    void doCopy();
    void doFavorite();
    // Chooses an aspect preset (the preset pop-up's action).
    void chooseCustomSize(size_t index);
    // The preset pop-up at the preset button (shown only in the mode), and hiding it. Resting the
    // pointer on the button opens it too, after the pop-up's delay; leaving closes it after one.
    void customSizeButtonClicked();
    void hideCustomSizePopMenu();
    void showHideCustomPopView(bool show, bool delay);
    void simButtonBaseMouseEntered(LMSimButtonBase *button) override;
    void simButtonBaseMouseExited(LMSimButtonBase *button) override;
    bool customSizeMenuViewPopup() const { return m_customSizeMenuViewPopup; }
    // The result page's preview: 1 fit, 2 actual size; arrow-key zoom steps. A held key keeps
    // one zoom session open while its repeats come within a tenth of a second.
    void switchToScaleMode(int mode);
    void doZoom(bool zoomIn);
    void beginArrowKeyZoom(bool zoomIn, bool delayEnd);
    void endArrowKeyZoom();
    double previewScale() const;
    bool previewFitinMode() const;
    // The wheel and zoom animation of the preview from the settings.
    void updateCroppedOpenGLViewSettingsByCurConfig();

    // Waits for a running crop or save (tests and shut-down); its result still arrives on the
    // main thread.
    void waitUntilSavesFinished();
    // The mode's key handler: Esc leaves the mode and Return on the crop page crops, unless a save
    // is running. True when consumed.
    bool handleKeyDown(const kpv::Event &e);
    // Lays the page out again after the window changed size.
    void layoutCropPage();

    // Views and state, for the shell and for tests.
    kpv::View *view() const { return m_view.get(); }
    LMAreaTrackView *cropTrackView() const { return m_trackView.get(); }
    CropPreviewView *croppedImageView() const { return m_previewView.get(); }
    kpv::View *cropPage() const { return m_cropPage.get(); }
    kpv::View *resultPage() const { return m_resultPage.get(); }
    bool isCurCroppedImagePage() const { return m_isCurCroppedImagePage; }
    bool inSaving() const { return m_inSaving; }
    // The record of the photo the mode works on, as it was when the mode opened.
    const LMNavFileInfoPtr &shownFileInfo() const { return m_fileInfo; }
    QRectF originalImageRawCropRect() const { return m_model.originalImageRawCropRect(); }
    const CropModeModel &model() const { return m_model; }
    // "X:.. Y:.. | w x h" under the crop page, and the size tip shown while dragging.
    QString cropRectInfoText() const { return m_cropRectInfoText; }
    QString cropSizeTipText() const { return m_cropSizeTipText; }
    QString customSizeButtonTitle() const;
    LMImagePtr croppedImage() const { return m_croppedImage; }
    // The rectangle in the crop page's coordinates where the fitted image is drawn.
    kpv::Rect imageViewRect() const { return m_imageViewRect; }

    // The toolbars: on the crop page at the rectangle (rotate, crop, close) with the preset
    // button and the read-out; on the result page back to crop, I Love It, copy, save and close.
    kpv::View *trackToolbar() const { return m_trackToolbar; }
    kpv::View *croppedToolbar() const { return m_croppedToolbar; }
    LMButton *btnRotate() const { return m_btnRotate; }
    LMButton *btnCrop() const { return m_btnCrop; }
    LMButton *btnClose1() const { return m_btnClose1; }
    LMButton *btnBackToCrop() const { return m_btnBackToCrop; }
    LMButton *btnFavorite() const { return m_btnFavorite; }
    LMButton *btnCopy() const { return m_btnCopy; }
    LMButton *btnSave() const { return m_btnSave; }
    LMButton *btnClose2() const { return m_btnClose2; }
    LMNormalCustomButton *btnCustomSize() const { return m_btnCustomSize; }
    kpv::TextField *txtCropRectInfo() const { return m_txtCropRectInfo; }
    kpv::TextField *cropRectTextView() const { return m_cropRectTextView; }
    // The preview's zoom in percent, shown for a moment after each zoom change.
    kpv::TextField *viewCropInfoPrompt() const { return m_viewCropInfoPrompt; }
    LMImageView *favorFileAnimationView() const { return m_favorFileAnimationView.get(); }
    LMPopMenuViewController *customSizePopMenuViewController() const { return m_customSizePopMenu.get(); }

    // The preset pop-up's rows.
    unsigned long numberOfItemsInPopMenuView(LMPopMenuView *menu, const QVariant &parent) override;
    QVariant popMenuView_itemAtIndex(LMPopMenuView *menu, const QVariant &parent, unsigned long index) override;
    QString popMenuView_itemTitleForRepresentedObject(LMPopMenuView *menu, const QVariant &object) override;
    QString popMenuView_iconImageNameForRepresentedObject(LMPopMenuView *menu, const QVariant &object,
                                                          bool checkIcon) override;
    void popMenuViewItemClicked(LMPopMenuView *menu, const QVariant &object, const QVariant &parent) override;
    void popMenuView_viewShowed(LMPopMenuView *menu, bool shown) override;
    bool popMenuViewItemChecked(LMPopMenuView *menu, const QVariant &object, const QVariant &parent) override;

    // Tracking rectangle. A press anywhere starts a drag: outside the rectangle it draws a new one.
    std::optional<bool> areaTrackView_canDrag(LMAreaTrackView *, LMTrackPosition) override { return true; }
    std::optional<kpv::Cursor> areaTrackView_cursorByTrackPosition(LMAreaTrackView *, LMTrackPosition position) override;
    void areaTrackView_beginDrag(LMAreaTrackView *, const kpv::Rect &, LMTrackPosition, kpv::Rect *) override;
    // Each drag step from the rectangles at the press and the whole distance since: the drawn
    // rectangle in points and the crop in whole visual pixels, both keeping the preset's ratio and
    // staying inside the picture.
    std::optional<kpv::Rect> calcDraggingTrackRectForAreaTrackView(LMAreaTrackView *, const kpv::Rect &trackRectBeforeDrag,
                                                                   LMTrackPosition position, kpv::Size dragDeltaSize,
                                                                   bool endDrag, const kpv::Rect &actualTrackRectBeforeDrag,
                                                                   kpv::Rect *actualDraggingTrackRect) override;
    // A point of the page in visual pixels (where a new rectangle starts).
    std::optional<kpv::Point> calcActualTrackPointForAreaTrackView(LMAreaTrackView *, kpv::Point point) override;
    // The wheel moves the rectangle; a pinch grows or shrinks it about its centre.
    bool areaTrackView_scrollWheel(LMAreaTrackView *, const kpv::Event &e) override;
    bool areaTrackView_magnifyWithEvent(LMAreaTrackView *, const kpv::Event &e) override;
    void areaTrackView_doDragging(LMAreaTrackView *, const kpv::Rect &, LMTrackPosition, const kpv::Rect &) override;
    void areaTrackView_endDrag(LMAreaTrackView *, const kpv::Rect &, LMTrackPosition, const kpv::Rect &) override;

private:
    using Completion = std::function<void(const CropSaveWorker::Result &)>;
    void updateCurImage(bool newFile);
    void updateImageCropTrackRect();
    void updateInfoTexts(const QRectF &visualRect);
    void switchCropPage(bool croppedPage);
    void showCroppedView();
    void beginSaveCropImageToFile(const QString &path, const std::optional<QVariantMap> &saveParameters,
                                  int actionType, const LMImagePtr &alreadyCropped, Completion done,
                                  const CropSaveWorker::Destination &destination = {});
    LMImagePtr reusableCrop() const;
    QRectF viewRectToVisual(const kpv::Rect &r) const;
    kpv::Rect visualRectToView(const QRectF &r) const;
    void cancelAndWaitForSaves();
    void dropCroppedPreview();
    void loadControls();
    void registNotifications(bool regist);
    void layoutPages();
    void updateTrackToolbarViewByTrackRect(const kpv::Rect &trackRect, bool dragging);
    // The size tip at the rectangle while a drag runs; an empty rectangle hides it.
    void showCropSizeTip(const kpv::Rect &trackRect);
    void updateCustomSizeInfo();
    void makeCustomSizePopMenu();
    void layoutPreview();
    void showZoomPrompt();
    // The written crop flies from where it was shown into the favourites box, then joins the
    // favourites.
    void beginAddFileToFavoriteWithAnimation(const LMPathString &path, const LMImagePtr &thumb,
                                             const LMImagePtr &picture);
    // A short text over the mode; with autoHide it goes after a second, else it stays until
    // replaced (an empty text hides it).
    void showInfoPrompt(const QString &text, bool autoHide);
    CropModeModel::PreviewState previewState() const;
    // Tells that a save, copy or favourite (`actionType` of the crop pipeline) failed, and why.
    void alertSaveFailed(const QString &why = QString(), int actionType = CropSaveWorker::SaveAs);
    // Tells that the new file at `path` lacks `lost` of the photo, or its tags and comments.
    void alertSavedFileLacks(const QString &path, const QStringList &lost, bool tagsLeftOut);
    void writeCropImageToFile(const QString &path, const std::optional<QVariantMap> &saveParameters,
                              const CropSaveWorker::Destination &destination);

    CropViewHost &m_host;
    CropModeModel m_model;
    std::unique_ptr<kpv::View> m_view;          // the mode view
    std::unique_ptr<kpv::View> m_cropPage;      // image + tracking rectangle
    std::unique_ptr<LMImageView> m_imageView;
    std::unique_ptr<LMAreaTrackView> m_trackView;
    std::unique_ptr<kpv::View> m_resultPage;
    std::unique_ptr<CropPreviewView> m_previewView;
    std::unique_ptr<kpv::OperationQueue> m_saveQueue;
    LMEventMonitorPtr m_keyMonitor;
    LMEventMonitorPtr m_savingMonitor;
    std::shared_ptr<bool> m_alive = std::make_shared<bool>(true);
    LMNavFileInfoPtr m_fileInfo;
    LMImageRotateAngle m_angle;
    LMImagePtr m_croppedImage;
    QRectF m_rawCropRectLastCropped;
    kpv::Rect m_imageViewRect;
    double m_viewScale = 0;  // view points per visual pixel
    QString m_cropRectInfoText;
    QString m_cropSizeTipText;
    // The crop in visual pixels of the drag step in progress, as last computed for the tracking view.
    std::optional<QRectF> m_dragActualRect;
    // Controls; owned by their superviews, which this controller owns.
    kpv::View *m_trackToolbar = nullptr;
    kpv::View *m_croppedToolbar = nullptr;
    LMButton *m_btnRotate = nullptr;
    LMButton *m_btnCrop = nullptr;
    LMButton *m_btnClose1 = nullptr;
    LMButton *m_btnBackToCrop = nullptr;
    LMButton *m_btnFavorite = nullptr;
    LMButton *m_btnCopy = nullptr;
    LMButton *m_btnSave = nullptr;
    LMButton *m_btnClose2 = nullptr;
    LMNormalCustomButton *m_btnCustomSize = nullptr;
    kpv::TextField *m_txtCropRectInfo = nullptr;
    kpv::TextField *m_cropRectTextView = nullptr;
    kpv::TextField *m_viewCropInfoPrompt = nullptr;
    std::unique_ptr<LMBlockTimer> m_infoPromptTimer;
    std::unique_ptr<LMImageView> m_favorFileAnimationView;
    std::unique_ptr<LMBlockRepeatTimer> m_favorFileAnimationTimer;
    std::unique_ptr<LMPopMenuViewController> m_customSizePopMenu;
    bool m_customSizeMenuViewPopup = false;
    // The mode view fades in and out, the pages cross-fade; declared after the views so they go
    // first.
    std::unique_ptr<LMFadeShowProxy> m_cropViewShowProxy;
    std::unique_ptr<LMFadeShowProxy> m_cropPageShowProxy;
    std::unique_ptr<LMFadeShowProxy> m_resultPageShowProxy;
    std::unique_ptr<LMBlockTimer> m_imageZoomTimer;
    bool m_inLayout = false;
    bool m_isCurCroppedImagePage = false;
    bool m_inSaving = false;
    bool m_active = false;
};
