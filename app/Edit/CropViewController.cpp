#include "Edit/CropViewController.h"

#include "Edit/CropGeometry.h"
#include "Edit/CropPreviewView.h"
#include "Edit/EditFileTools.h"
#include "Kit/LMAreaTrackView.h"
#include "Kit/LMEventMonitorCenter.h"
#include "Kit/LMFadeShowProxy.h"
#include "Kit/LMImageView.h"
#include "Kit/LMNormalCustomButton.h"
#include "Kit/LMPopMenuViewController.h"
#include "Model/LMBlockRepeatTimer.h"
#include "Model/LMBlockTimer.h"
#include "Model/LMImageTools.h"
#include "Model/LMPhotoLoader.h"
#include "appkit/Control.h"
#include "appkit/Image.h"
#include "appkit/Pasteboard.h"
#include "appkit/View.h"
#include "foundation/Bundle.h"
#include "foundation/FileNames.h"
#include "foundation/NotificationCenter.h"
#include "foundation/Operation.h"
#include "foundation/OperationQueue.h"
#include "foundation/RunLoop.h"
#include "foundation/TerminationSignals.h"
#include "imageio/ImageDestination.h"

#include <QFileInfo>
#include <QUrl>

#include <algorithm>
#include <cmath>

using kpv::Rect;

namespace {
// The mode's view: lays its pages out again when the window changes size. While the mode fades
// out, the viewer beneath is already back: the mouse passes through to it.
class CropModeView final : public kpv::View {
public:
    explicit CropModeView(std::function<void()> resized) : m_resized(std::move(resized)) {}
    void resizeSubviewsWithOldSize(kpv::Size oldSize) override
    {
        kpv::View::resizeSubviewsWithOldSize(oldSize);
        if (m_resized)
            m_resized();
    }
    kpv::View *hitTest(kpv::Point pointInSuperview) override
    {
        return m_leaving ? nullptr : kpv::View::hitTest(pointInSuperview);
    }
    void setLeaving(bool leaving) { m_leaving = leaving; }

private:
    std::function<void()> m_resized;
    bool m_leaving = false;
};

CropModeView *modeView(const std::unique_ptr<kpv::View> &view) { return static_cast<CropModeView *>(view.get()); }

// A queued run of the crop worker that can see its own cancelled flag.
class WorkerOperation final : public kpv::Operation {
public:
    std::function<void(const kpv::Operation *)> work;
    void main() override { work(this); }
};
} // namespace

CropViewController::CropViewController(CropViewHost &host) : m_host(host)
{
    m_view = std::make_unique<CropModeView>([this] {
        if (m_active && !m_inLayout)
            layoutCropPage();
    });
    m_view->setWantsLayer(true);
    m_view->setAutoresizingMask(kpv::ViewWidthSizable | kpv::ViewHeightSizable);
    m_cropPage = std::make_unique<kpv::View>();
    m_imageView = std::make_unique<LMImageView>();
    // Its frame is the picture's fitted rectangle: a smaller stand-in picture fills it too.
    m_imageView->setImageScaling(LMImageTools::ScaleProportionallyUpOrDown);
    m_trackView = std::make_unique<LMAreaTrackView>();
    m_trackView->setDarkOnTrackableRect(true);
    m_trackView->setTrackResizeEnabled(true);
    m_trackView->setDelegate(this);
    m_cropPage->addSubview(m_imageView.get());
    m_cropPage->addSubview(m_trackView.get());
    m_resultPage = std::make_unique<kpv::View>();
    m_previewView = std::make_unique<CropPreviewView>();
    m_resultPage->addSubview(m_previewView.get());
    // The whole mode fades in on entering and out on leaving; it starts hidden.
    m_cropViewShowProxy = std::make_unique<LMFadeShowProxy>(m_view.get(), true);
    m_cropPageShowProxy = std::make_unique<LMFadeShowProxy>(m_cropPage.get(), false);
    m_resultPageShowProxy = std::make_unique<LMFadeShowProxy>(m_resultPage.get(), true);
    loadControls();
    registNotifications(true);
    updateCroppedOpenGLViewSettingsByCurConfig();
}

void CropViewController::registNotifications(bool regist)
{
    auto &center = kpv::NotificationCenter::defaultCenter();
    if (!regist) {
        center.removeObserver(this);
        return;
    }
    auto modes = [](const kpv::Notification &n, long *oldMode, long *newMode) {
        *oldMode = long(n.userInfo.value(QStringLiteral("old")).toLongLong());
        *newMode = long(n.userInfo.value(QStringLiteral("new")).toLongLong());
    };
    center.addObserver(this, QStringLiteral("willChangeMainShowMode"), nullptr, [this, modes](const kpv::Notification &n) {
        long oldMode = 0, newMode = 0;
        modes(n, &oldMode, &newMode);
        willChangeMainShowMode(oldMode, newMode);
    });
    center.addObserver(this, QStringLiteral("didChangeMainShowMode"), nullptr, [this, modes](const kpv::Notification &n) {
        long oldMode = 0, newMode = 0;
        modes(n, &oldMode, &newMode);
        didChangeMainShowMode(oldMode, newMode);
    });
    // A better scale of the current file arrived: the crop page shows it.
    center.addObserver(this, QStringLiteral("didLoadImage"), nullptr, [this](const kpv::Notification &n) {
        if (m_active && m_fileInfo &&
            n.userInfo.value(QStringLiteral("filePath")).value<LMPathString>() == m_fileInfo->filePath())
            updateCurImage(false);
    });
    center.addObserver(this, QStringLiteral("didChangeOptionSetting"), nullptr,
                       [this](const kpv::Notification &) { updateCroppedOpenGLViewSettingsByCurConfig(); });
    // Every change of the preview's zoom shows the new percentage for a moment.
    center.addObserver(this, QString::fromLatin1(LMOpenGLViewDoChangeScaleNotification),
                       m_previewView->notificationObject(), [this](const kpv::Notification &) {
                           if (m_active && m_isCurCroppedImagePage)
                               showZoomPrompt();
                       });
}

CropViewController::~CropViewController()
{
    *m_alive = false;
    registNotifications(false);
    cancelAndWaitForSaves();
    hideCustomSizePopMenu();
    m_customSizePopMenu.reset();
    if (m_favorFileAnimationTimer)
        m_favorFileAnimationTimer->stop();
    if (m_imageZoomTimer)
        m_imageZoomTimer->stop();
    // Fades still running end now, while the pages they touch are still here.
    m_cropViewShowProxy.reset();
    m_cropPageShowProxy.reset();
    m_resultPageShowProxy.reset();
    if (m_favorFileAnimationView)
        m_favorFileAnimationView->removeFromSuperview();
    auto &center = LMEventMonitorCenter::eventMonitorCenter();
    if (m_keyMonitor)
        center.removeMonitor(m_keyMonitor);
    if (m_savingMonitor)
        center.removeMonitor(m_savingMonitor);
    m_trackView->setDelegate(nullptr);
    // The views are owned here, not by their superviews: detach them before they go.
    m_trackView->removeFromSuperview();
    m_imageView->removeFromSuperview();
    m_previewView->removeFromSuperview();
    m_cropPage->removeFromSuperview();
    m_resultPage->removeFromSuperview();
    m_view->removeFromSuperview();
}

void CropViewController::cancelAndWaitForSaves()
{
    if (!m_saveQueue)
        return;
    m_saveQueue->cancelAllOperations();
    m_saveQueue->waitUntilAllOperationsAreFinished();
}

void CropViewController::waitUntilSavesFinished()
{
    if (m_saveQueue)
        m_saveQueue->waitUntilAllOperationsAreFinished();
}

// ---- Entering and leaving ----

void CropViewController::willChangeMainShowMode(long, long newMode)
{
    if (newMode != kShowMode)
        return;
    kpv::View *container = m_host.containerViewByShowMode(kShowMode);
    // A page fade left running by the last visit ends first: its end may remove a page.
    m_cropPage->setAlphaValue(1);
    m_resultPage->setAlphaValue(0);
    m_isCurCroppedImagePage = false;
    m_cropPage->setHidden(false);
    if (!m_cropPage->superview())
        m_view->addSubview(m_cropPage.get());
    m_resultPage->removeFromSuperview();
    m_resultPage->setHidden(true);
    m_resultPage->setAlphaValue(0);
    if (container) {
        m_view->setFrame(container->bounds());
        // Back before the last fade-out ended, the view is still there and stays where it is.
        if (m_view->superview() != container)
            container->addSubview(m_view.get());
    }
    modeView(m_view)->setLeaving(false);
    m_cropPage->setFrame(m_view->bounds());
    m_isCurCroppedImagePage = false;

    const LMNavFileInfoPtr lastFileInfo = m_fileInfo;
    const LMImageRotateAngle lastAngle = m_angle;
    m_fileInfo = m_host.curFileInfo();
    m_angle = m_host.angleRotate();
    // A preview kept from a visit whose fade-out had not ended is of another picture when the
    // file or the view's turn changed meanwhile: it must not stand in for a crop of this one.
    if (m_croppedImage && (m_fileInfo != lastFileInfo || !(m_angle == lastAngle)))
        dropCroppedPreview();
    const LMPathString path = m_fileInfo ? m_fileInfo->filePath() : LMPathString();
    m_model.enterWithFile(path, m_fileInfo ? m_fileInfo->imgBaseInfo() : nullptr, m_angle,
                          m_host.mainScreenSizePoints());
    updateCustomSizeInfo();
    updateCurImage(true);
}

void CropViewController::didChangeMainShowMode(long oldMode, long newMode)
{
    auto &center = LMEventMonitorCenter::eventMonitorCenter();
    if (newMode == kShowMode) {
        m_active = true;
        updateCustomSizeInfo();
        layoutCropPage();
        // Fades in over what the viewer showed (back from a fade-out, from where that had got);
        // the mode takes input from the start.
        m_cropViewShowProxy->showWithAnimation(true, false);
        if (!m_keyMonitor)
            m_keyMonitor = center.addLocalMonitorForEventsMatchingMask(
                kpv::KeyDownMask, [this](const kpv::Event &e) { return handleKeyDown(e); });
    } else if (oldMode == kShowMode) {
        m_active = false;
        hideCustomSizePopMenu();
        if (m_keyMonitor) {
            center.removeMonitor(m_keyMonitor);
            m_keyMonitor.reset();
        }
        if (m_imageZoomTimer)
            m_imageZoomTimer->stop();
        m_previewView->setEnable(true);
        // The mode fades out with its pictures still in it; only when it has gone, and the user
        // did not come back meanwhile, are they let go. The preview belongs to this visit only.
        modeView(m_view)->setLeaving(true);
        std::weak_ptr<bool> alive = m_alive;
        auto gone = [this, alive] {
            if (alive.expired() || m_active)
                return;
            dropCroppedPreview();
            m_imageView->setImage(nullptr, 0);
            m_view->removeFromSuperview();
        };
        if (m_view->isHidden())
            gone();
        else
            m_cropViewShowProxy->hideWithAnimation(true, gone);
    }
}

void CropViewController::dropCroppedPreview()
{
    m_croppedImage.reset();
    m_rawCropRectLastCropped = QRectF();
    m_previewView->showImage(nullptr);
}

bool CropViewController::handleKeyDown(const kpv::Event &e)
{
    if (m_inSaving || e.type() != kpv::KeyDown || !m_host.isKeyWindowForView(m_view.get()))
        return false;
    if (e.keyCode() == kpv::KeyCode::Escape) {
        backToViewMode();
        return true;
    }
    // Return on the crop page applies the rectangle, as the toolbar's crop button does.
    const quint64 modifiers = kpv::ShiftKeyMask | kpv::ControlKeyMask | kpv::AlternateKeyMask | kpv::CommandKeyMask;
    if ((e.keyCode() == kpv::KeyCode::Return || e.keyCode() == kpv::KeyCode::KeypadEnter) && !m_isCurCroppedImagePage &&
        !(e.modifierFlags() & modifiers)) {
        doCrop();
        return true;
    }
    // Arrows move the rectangle a pixel (with the command key they resize it); on the result
    // page command-up and command-down zoom the preview.
    const CropModeModel::KeyDecision d = CropModeModel::keyDownDecision(e.charactersIgnoringModifiers(), e.modifierFlags(),
                                                                        m_isCurCroppedImagePage);
    if (!d.consumed)
        return false;
    if (d.zoom)
        doZoom(d.zoomIn);
    else if (!d.delta.isNull() && m_model.moveOrResizeByKeyboard(d.delta, d.move))
        updateImageCropTrackRect();
    return true;
}

bool CropViewController::areaTrackView_scrollWheel(LMAreaTrackView *, const kpv::Event &e)
{
    bool changed = false;
    const bool used = m_model.scrollWheelUsed(e.scrollingDeltaX(), e.scrollingDeltaY(), false,
                                              e.momentumPhase() != kpv::PhaseNone, &changed);
    if (changed)
        updateImageCropTrackRect();
    return used;
}

bool CropViewController::areaTrackView_magnifyWithEvent(LMAreaTrackView *, const kpv::Event &e)
{
    if (m_model.magnify(e.magnification()))
        updateImageCropTrackRect();
    return true;
}

void CropViewController::backToViewMode()
{
    cancelAndWaitForSaves();
    m_host.setShowMode(kViewShowMode);
}

// ---- The crop page ----

void CropViewController::updateCurImage(bool newFile)
{
    if (!newFile && !m_fileInfo)
        return;
    LMImagePtr image = m_fileInfo ? m_fileInfo->imageByType(1) : nullptr;
    // A full-size picture that could not be had (one too large for the memory decodes may use)
    // leaves the page with the largest picture the view has, so the user still sees the photo;
    // the crop itself then says why it cannot be made.
    for (int type = LMNavFileInfo::kMinScaleType + 1; !image && m_fileInfo && type <= LMNavFileInfo::kMaxScaleType; ++type)
        image = m_fileInfo->imageByType(type);
    if (!image) {
        m_imageView->setImage(nullptr, 0);
        return;
    }
    // Shown as the view mode shows it: upright by the file's orientation, then turned by the view.
    QImage shown = image->convertToUprightImage();
    if (m_angle.isRotatedOrFlipped())
        shown = LMImageTools::imageRotatedByAngle(shown, m_angle);
    m_imageView->setImage(std::make_shared<kpv::Image>(shown), 0);
}

void CropViewController::layoutCropPage()
{
    const bool wasInLayout = m_inLayout;
    m_inLayout = true;
    layoutPages();
    m_inLayout = wasInLayout;
}

void CropViewController::layoutPages()
{
    if (kpv::View *container = m_view->superview())
        m_view->setFrame(container->bounds());
    m_cropPage->setFrame(m_view->bounds());
    m_resultPage->setFrame(m_view->bounds());
    layoutPreview();
    const Rect bounds = m_cropPage->bounds();
    if (m_btnCustomSize)
        m_btnCustomSize->setFrameOrigin(kpv::Point{12, std::max(0.0, bounds.height() - 36)});
    if (m_txtCropRectInfo && m_btnCustomSize)
        m_txtCropRectInfo->setFrameOrigin(
            kpv::Point{m_btnCustomSize->frame().x() + m_btnCustomSize->frame().width() + 10,
                       std::max(0.0, bounds.height() - 34)});

    const QRectF frame = m_model.visualFrame();
    const Rect page = m_cropPage->bounds();
    if (frame.width() <= 0 || frame.height() <= 0 || page.width() <= 0 || page.height() <= 0) {
        m_viewScale = 0;
        m_imageViewRect = Rect();
    } else {
        // Fitted, never enlarged past one point per pixel, centred.
        m_viewScale = std::min({page.width() / frame.width(), page.height() / frame.height(), 1.0});
        const double w = frame.width() * m_viewScale;
        const double h = frame.height() * m_viewScale;
        m_imageViewRect = Rect((page.width() - w) / 2, (page.height() - h) / 2, w, h);
    }
    m_imageView->setFrame(m_imageViewRect);
    m_trackView->setFrame(page);
    m_trackView->setWholeTrackableRect(m_imageViewRect);
    updateImageCropTrackRect();
}

QRectF CropViewController::viewRectToVisual(const Rect &r) const
{
    if (m_viewScale <= 0)
        return QRectF();
    return QRectF((r.x() - m_imageViewRect.x()) / m_viewScale, (r.y() - m_imageViewRect.y()) / m_viewScale,
                  r.width() / m_viewScale, r.height() / m_viewScale);
}

Rect CropViewController::visualRectToView(const QRectF &r) const
{
    return Rect(m_imageViewRect.x() + r.x() * m_viewScale, m_imageViewRect.y() + r.y() * m_viewScale,
                r.width() * m_viewScale, r.height() * m_viewScale);
}

void CropViewController::updateImageCropTrackRect()
{
    const QRectF visual = m_model.rawToVisual(m_model.originalImageRawCropRect());
    const Rect trackRect = visualRectToView(visual);
    m_trackView->setCropTrackRect(trackRect);
    updateTrackToolbarViewByTrackRect(trackRect, false);
    updateInfoTexts(visual);
}

void CropViewController::updateInfoTexts(const QRectF &visualRect)
{
    const QRectF frame = m_model.visualFrame();
    m_cropRectInfoText =
        CropGeometry::cropInfoText(CropGeometry::visualActualRectToVisualImageRect(visualRect, frame.size()));
    m_cropSizeTipText = CropGeometry::cropSizeTipText(visualRect);
    if (m_txtCropRectInfo)
        m_txtCropRectInfo->setStringValue(m_cropRectInfoText);
}

namespace {
QRectF toQRectF(const Rect &r) { return QRectF(r.x(), r.y(), r.width(), r.height()); }
Rect toRect(const QRectF &r) { return Rect(r.x(), r.y(), r.width(), r.height()); }
} // namespace

std::optional<kpv::Cursor> CropViewController::areaTrackView_cursorByTrackPosition(LMAreaTrackView *,
                                                                                  LMTrackPosition position)
{
    switch (position) {
    case CropGeometry::LowerLeft:
    case CropGeometry::UpperRight: return kpv::Cursor::resizeDiagonalAntiCursor();
    case CropGeometry::UpperLeft:
    case CropGeometry::LowerRight: return kpv::Cursor::resizeDiagonalMainCursor();
    case CropGeometry::Left:
    case CropGeometry::Right: return kpv::Cursor::resizeLeftRightCursor();
    case CropGeometry::Upper:
    case CropGeometry::Lower: return kpv::Cursor::resizeUpDownCursor();
    case CropGeometry::Inside: return kpv::Cursor::moveCursor();
    default: return kpv::Cursor::arrowCursor();
    }
}

std::optional<kpv::Point> CropViewController::calcActualTrackPointForAreaTrackView(LMAreaTrackView *, kpv::Point point)
{
    const QRectF visual = viewRectToVisual(Rect(point, kpv::Size{0, 0}));
    return kpv::Point{visual.x(), visual.y()};
}

std::optional<Rect> CropViewController::calcDraggingTrackRectForAreaTrackView(
    LMAreaTrackView *, const Rect &trackRectBeforeDrag, LMTrackPosition position, kpv::Size d, bool endDrag,
    const Rect &actualTrackRectBeforeDrag, Rect *actualDraggingTrackRect)
{
    const CropAspect aspect = m_model.aspect();
    const QRectF whole = toQRectF(m_imageViewRect);
    const QRectF frame = m_model.visualFrame();
    if (whole.width() <= 0 || whole.height() <= 0 || frame.width() <= 0 || frame.height() <= 0)
        return trackRectBeforeDrag;
    Rect track = toRect(CropGeometry::calcVisualTrackRect(toQRectF(trackRectBeforeDrag), int(position),
                                                          QPointF(d.width, d.height), whole, false, aspect));
    const QPointF visualDelta(d.width * frame.width() / whole.width(), d.height * frame.height() / whole.height());
    QRectF actual = CropGeometry::calcVisualTrackRect(toQRectF(actualTrackRectBeforeDrag), int(position), visualDelta,
                                                      frame, true, aspect);
    if (endDrag) {
        if (auto repaired = CropGeometry::repairCollapsedRect(actual, frame.size(), toQRectF(actualTrackRectBeforeDrag),
                                                              aspect)) {
            actual = *repaired;
            track = visualRectToView(actual);
        }
    }
    m_dragActualRect = actual;
    if (actualDraggingTrackRect)
        *actualDraggingTrackRect = toRect(actual);
    return track;
}

// A drag gives view points; the rectangle is kept in whole visual pixels inside the image, as the
// step's geometry computed it (or, for a drag step from elsewhere, rounded from the points).
void CropViewController::areaTrackView_doDragging(LMAreaTrackView *, const Rect &trackRect, LMTrackPosition position,
                                                  const Rect &)
{
    QRectF visual = m_dragActualRect.value_or(viewRectToVisual(trackRect));
    const QRectF frame = m_model.visualFrame();
    visual = QRectF(QPointF(std::round(visual.left()), std::round(visual.top())),
                    QPointF(std::round(visual.right()), std::round(visual.bottom())))
                 .intersected(frame);
    m_model.setOriginalImageRawCropRect(m_model.visualToRaw(visual));
    updateInfoTexts(visual);
    // The size tip is for resizing and drawing; a move keeps the size.
    showCropSizeTip(position == CropGeometry::Inside ? Rect() : trackRect);
}

void CropViewController::areaTrackView_endDrag(LMAreaTrackView *view, const Rect &trackRect, LMTrackPosition position,
                                               const Rect &actual)
{
    areaTrackView_doDragging(view, trackRect, position, actual);
    m_dragActualRect.reset();
    showCropSizeTip(Rect());
    const QRectF frame = m_model.visualFrame();
    const QRectF visual = m_model.rawToVisual(m_model.originalImageRawCropRect());
    // A rectangle collapsed by the drag is rebuilt to at least one pixel.
    if (visual.width() < 1 || visual.height() < 1) {
        QRectF repaired(visual.x(), visual.y(), std::max(1.0, visual.width()), std::max(1.0, visual.height()));
        repaired.moveLeft(std::clamp(repaired.x(), 0.0, std::max(0.0, frame.width() - repaired.width())));
        repaired.moveTop(std::clamp(repaired.y(), 0.0, std::max(0.0, frame.height() - repaired.height())));
        m_model.setOriginalImageRawCropRect(m_model.visualToRaw(repaired));
    }
    updateImageCropTrackRect();
}

void CropViewController::chooseCustomSize(size_t index)
{
    if (m_model.choosePreset(index, m_host.backingScale()))
        updateImageCropTrackRect();
    updateCustomSizeInfo();
}

QString CropViewController::customSizeButtonTitle() const
{
    return CropAspectPresets::customSizeTitleString(m_model.presets().curCustomSizeInfo());
}

void CropViewController::doRotate()
{
    if (canDoAction(CropModeModel::RotateLeft) && m_model.doRotate())
        updateImageCropTrackRect();
}

void CropViewController::selectAll()
{
    if (!canDoAction(CropModeModel::SelectAll))
        return;
    if (m_model.selectAll())
        updateImageCropTrackRect();
    // The whole picture comes with its own preset: the button names it even when the rectangle
    // already covered the picture.
    updateCustomSizeInfo();
}

// ---- Commands ----

bool CropViewController::canDoAction(long actionId)
{
    return CropModeModel::canDoAction(int(actionId), m_model.originalImageRawCropRect(), m_isCurCroppedImagePage,
                                      previewState());
}

void CropViewController::doAction(long actionId, long)
{
    switch (actionId) {
    case CropModeModel::SaveAs: doSaveAs(); break;
    case CropModeModel::Copy: doCopy(); break;
    case CropModeModel::Crop: doCrop(); break;
    case CropModeModel::SelectAll: selectAll(); break;
    case CropModeModel::ILoveIt: doFavorite(); break;
    case CropModeModel::RotateLeft:
    case CropModeModel::RotateRight: doRotate(); break;
    case CropModeModel::ActualSize: switchToScaleMode(2); break;
    case CropModeModel::ZoomToFit: switchToScaleMode(1); break;
    case CropModeModel::ZoomIn: doZoom(true); break;
    case CropModeModel::ZoomOut: doZoom(false); break;
    default: break;
    }
}

// ---- Pages ----

void CropViewController::switchCropPage(bool croppedPage)
{
    m_isCurCroppedImagePage = croppedPage;
    kpv::View *show = croppedPage ? m_resultPage.get() : m_cropPage.get();
    LMFadeShowProxy *showProxy = croppedPage ? m_resultPageShowProxy.get() : m_cropPageShowProxy.get();
    LMFadeShowProxy *hideProxy = croppedPage ? m_cropPageShowProxy.get() : m_resultPageShowProxy.get();
    // The pages cross-fade; the one that is not current when its fade ends leaves the mode view
    // (the user may have switched back meanwhile).
    std::weak_ptr<bool> alive = m_alive;
    hideProxy->hideWithAnimation(true, [this, alive] {
        if (alive.expired())
            return;
        kpv::View *notCurrent = m_isCurCroppedImagePage ? m_cropPage.get() : m_resultPage.get();
        notCurrent->removeFromSuperview();
    });
    if (!show->superview()) {
        show->setFrame(m_view->bounds());
        m_view->addSubview(show);
    }
    showProxy->showWithAnimation(true, false);
    if (croppedPage)
        layoutPreview();
    else
        layoutCropPage();
}

void CropViewController::showCroppedView()
{
    m_previewView->showImage(m_croppedImage);
    switchCropPage(true);
}

LMImagePtr CropViewController::reusableCrop() const
{
    return m_croppedImage && m_rawCropRectLastCropped == m_model.originalImageRawCropRect() ? m_croppedImage : nullptr;
}

void CropViewController::beginSaveCropImageToFile(const QString &path, const std::optional<QVariantMap> &saveParameters,
                                                  int actionType, const LMImagePtr &alreadyCropped, Completion done,
                                                  const CropSaveWorker::Destination &destination)
{
    const LMNavFileInfoPtr record = m_fileInfo;
    const LMImageRotateAngle angle = m_angle;
    const QRectF rawRect = m_model.originalImageRawCropRect();
    m_inSaving = true;
    // A crop of a large original takes a moment: say what is being done until it is.
    if (actionType != CropSaveWorker::Preview)
        showInfoPrompt(kpv::Bundle::mainBundle().localizedString(
                           actionType == CropSaveWorker::Copy ? QStringLiteral("IDS_Copying") : QStringLiteral("IDS_Saving")),
                       false);
    // Until the worker answers, input of every kind is swallowed so nothing changes under it.
    m_savingMonitor = LMEventMonitorCenter::eventMonitorCenter().addLocalMonitorForEventsMatchingMask(
        kpv::AnyEventMask & ~(kpv::eventMaskFromType(kpv::MouseEntered) | kpv::eventMaskFromType(kpv::MouseExited)), [](const kpv::Event &) { return true; });
    if (!m_saveQueue)
        m_saveQueue = std::make_unique<kpv::OperationQueue>();

    std::optional<LMPathString> toFile;
    if (!path.isEmpty())
        toFile = LMPathString(path, false);
    const LMPhotoLoader *loader = &m_host.photoLoader();
    CropViewHost *host = &m_host;
    std::weak_ptr<bool> alive = m_alive;
    auto finish = [this, alive, toFile, done, actionType](CropSaveWorker::Result r) {
        if (alive.expired() || !*alive.lock())
            return;
        if (m_savingMonitor) {
            LMEventMonitorCenter::eventMonitorCenter().removeMonitor(m_savingMonitor);
            m_savingMonitor.reset();
        }
        m_inSaving = false;
        if (actionType != CropSaveWorker::Preview)
            showInfoPrompt(QString(), false);
        if (r.code == CropSaveWorker::kDone && r.fileExisted && toFile)
            m_host.postFileModified(*toFile);
        if (done)
            done(r);
    };
    // A quit, also one at the end of the session, lets a file being written finish first.
    std::shared_ptr<kpv::QuitWaitsFor> quitWaits;
    if (actionType != CropSaveWorker::Preview)
        quitWaits = std::make_shared<kpv::QuitWaitsFor>();
    auto op = std::make_shared<WorkerOperation>();
    op->work = [=](const kpv::Operation *self) {
        CropSaveWorker worker(*loader);
        worker.setDestination(destination);
        CropSaveWorker::Result r = worker.beginSaveCropImageOnThread(
            record, angle, toFile, saveParameters, actionType, alreadyCropped, rawRect, self,
            [host, alive](const QVariantMap &loaded) {
                kpv::RunLoop::performOnMainThread(
                    [host, alive, loaded] {
                        if (!alive.expired())
                            host->didLoadImageFromThread(loaded);
                    },
                    false);
            });
        kpv::RunLoop::performOnMainThread([finish, r] { finish(r); }, false);
        if (quitWaits)
            quitWaits->release();
    };
    m_saveQueue->addOperation(op);
}

void CropViewController::doCrop()
{
    if (!canDoAction(CropModeModel::Crop) || m_inSaving)
        return;
    if (m_isCurCroppedImagePage) {
        switchCropPage(false);
        return;
    }
    if (m_croppedImage && m_rawCropRectLastCropped == m_model.originalImageRawCropRect()) {
        showCroppedView();
        return;
    }
    const QRectF rect = m_model.originalImageRawCropRect();
    beginSaveCropImageToFile(QString(), std::nullopt, CropSaveWorker::Preview, nullptr,
                             [this, rect](const CropSaveWorker::Result &r) {
                                 if (r.code == CropSaveWorker::kFailed) {
                                     m_host.showAlert(kpv::Bundle::mainBundle().localizedString(
                                                          QStringLiteral("IDS_FailedCrop")),
                                                      r.error, {});
                                     return;
                                 }
                                 if (r.code != CropSaveWorker::kDone || !r.croppedImage)
                                     return;
                                 m_rawCropRectLastCropped = rect;
                                 m_croppedImage = r.croppedImage;
                                 showCroppedView();
                             });
}

void CropViewController::doSaveAs()
{
    if (!canDoAction(CropModeModel::SaveAs) || m_inSaving || !m_fileInfo)
        return;
    // The crop is one 8-bit picture: written over a file with more pages, more depth, an
    // animation or CMYK inks, it drops them. The one question before a file is replaced says so;
    // Cancel and Esc keep the file and leave the crop where it is, to be saved under another name.
    // A photo of 16 bits per channel keeps them in a PNG or TIFF.
    const bool deep = kpv::ImageDestination::keepsSixteenBitsOnRewrite(m_fileInfo->filePath().path());
    auto replaceWarning = [deep](const QString &path) {
        using kpv::ImageDestination;
        const QStringList lost = ImageDestination::contentLostByRewriting(
            path, ImageDestination::Rewrite::NewPicture,
            deep && ImageDestination::typeKeepsSixteenBits(ImageDestination::typeForPath(path)));
        if (lost.isEmpty())
            return QString();
        return kpv::Bundle::mainBundle()
            .localizedString(QStringLiteral("IDS_CropSaveWouldLose"))
            .replace(QStringLiteral("%@"), lost.join(QStringLiteral(", ")));
    };
    m_host.runSaveAsPanel(m_fileInfo->filePath().path(), m_host.lastSaveAsDir(), replaceWarning,
                          [this, alive = std::weak_ptr<bool>(m_alive)](const QString &path, const QVariantMap &params) {
                              if (alive.expired() || path.isEmpty() || m_inSaving)
                                  return;
                              m_host.setLastSaveAsDir(QFileInfo(path).absolutePath());
                              saveCropImageToFile(path, params);
                          });
}

void CropViewController::saveCropImageToFile(const QString &path, const std::optional<QVariantMap> &saveParameters)
{
    // The file goes to the name the user chose a moment ago: a free name must still be free when
    // it is written, and a file the user agreed to replace must still be the one it was then (the
    // photo itself: the one that was read). Anything else is left alone and the save is told failed.
    CropSaveWorker::Destination destination;
    if (!EditFileTools::itemExistsAtPath(path)) {
        destination.mustBeNew = true;
    } else {
        destination.replaceOnly = kpv::fileIdentity(path);
        if (m_fileInfo && m_fileInfo->filePath().path() == path) {
            LMFileImgBaseInfoPtr read;
            if (const LMImagePtr original = m_fileInfo->imageByType(1))
                read = original->originalImgBaseInfo();
            if (!read)
                read = m_fileInfo->imgBaseInfo();
            if (read && read->fileIdentity().isValid())
                destination.replaceOnly = read->fileIdentity();
        }
    }
    writeCropImageToFile(path, saveParameters, destination);
}

void CropViewController::writeCropImageToFile(const QString &path, const std::optional<QVariantMap> &saveParameters,
                                              const CropSaveWorker::Destination &destination)
{
    // The crop is one picture: what the photo has beyond it (an animation, more pages, CMYK inks,
    // metadata the chosen type cannot hold) is told once a file other than the photo itself was
    // written, as Save As tells it; written over the photo, the question before said so. The depth
    // a type cannot hold goes with the type the user chose; a PNG or TIFF keeps 16 bits per
    // channel wherever they can be read, and says so where they could not.
    const QString source = m_fileInfo ? m_fileInfo->filePath().path() : QString();
    QStringList lost;
    bool deep = false;
    if (!source.isEmpty() && source != path) {
        using kpv::ImageDestination;
        const QString type = ImageDestination::typeForPath(path);
        deep = ImageDestination::typeKeepsSixteenBits(type) && ImageDestination::keepsSixteenBitsOnRewrite(source);
        lost = ImageDestination::contentLostInNewFile(source, type, !ImageDestination::typeKeepsSixteenBits(type) || deep);
    }
    beginSaveCropImageToFile(path, saveParameters, CropSaveWorker::SaveAs, reusableCrop(),
                             [this, path, lost, deep](const CropSaveWorker::Result &r) {
                                 if (r.code == CropSaveWorker::kFailed) {
                                     alertSaveFailed(r.error);
                                     return;
                                 }
                                 // A photo changed on disk meanwhile is cropped from the pixels
                                 // read before, at 8 bits: that is told as well.
                                 QStringList told = lost;
                                 if (deep && !r.sixteenBitsKept)
                                     told << QStringLiteral("16 bits per channel");
                                 if (r.code == CropSaveWorker::kDone)
                                     m_host.endSaveCurFileToPath(LMPathString(path, false));
                                 if (r.code != CropSaveWorker::kCancelled)
                                     backToViewMode();
                                 if (r.code == CropSaveWorker::kDone && (!told.isEmpty() || r.tagsLeftOut))
                                     alertSavedFileLacks(path, told, r.tagsLeftOut);
                             },
                             destination);
}

void CropViewController::doCopy()
{
    if (!canDoAction(CropModeModel::Copy) || m_inSaving || !m_fileInfo)
        return;
    const QString path =
        CropSaveWorker::temporaryCropFilePath(m_host.temporaryCropFolder(), QFileInfo(m_fileInfo->filePath().path()).fileName());
    beginSaveCropImageToFile(path, std::nullopt, CropSaveWorker::Copy, reusableCrop(),
                             [this, path](const CropSaveWorker::Result &r) {
                                 if (r.code == CropSaveWorker::kFailed) {
                                     alertSaveFailed(r.error, CropSaveWorker::Copy);
                                     return;
                                 }
                                 // The written file for file managers, the picture for image editors.
                                 if (r.code == CropSaveWorker::kDone) {
                                     auto &pb = kpv::Pasteboard::generalPasteboard();
                                     pb.clearContents();
                                     pb.writeFileURLsAndImage({QUrl::fromLocalFile(path)},
                                                              r.croppedImage ? r.croppedImage->convertToImage() : QImage());
                                 }
                                 if (r.code != CropSaveWorker::kCancelled)
                                     backToViewMode();
                             });
}

void CropViewController::doFavorite()
{
    if (!canDoAction(CropModeModel::ILoveIt) || m_inSaving || !m_fileInfo)
        return;
    // The favourite is the only copy of this crop: it goes where the program keeps its data, not
    // into the temporary folder that is emptied at quit.
    const QString folder = m_host.keptCropFolder();
    if (folder.isEmpty()) {
        alertSaveFailed(QString(), CropSaveWorker::Favorite);
        return;
    }
    const QString path = CropSaveWorker::temporaryCropFilePath(folder, QFileInfo(m_fileInfo->filePath().path()).fileName());
    beginSaveCropImageToFile(path, std::nullopt, CropSaveWorker::Favorite, reusableCrop(),
                             [this, path](const CropSaveWorker::Result &r) {
                                 if (r.code == CropSaveWorker::kFailed) {
                                     alertSaveFailed(r.error, CropSaveWorker::Favorite);
                                     return;
                                 }
                                 if (r.code == CropSaveWorker::kDone)
                                     beginAddFileToFavoriteWithAnimation(LMPathString(path, false), r.thumb,
                                                                         r.croppedImage);
                                 if (r.code != CropSaveWorker::kCancelled)
                                     backToViewMode();
                             });
}

// A write that failed (a full disk, a folder that refuses it, a file that cannot be encoded) is
// said so, and the mode stays where it was so the user can try another place; the writer never
// touches the file it would have replaced.
void CropViewController::alertSavedFileLacks(const QString &path, const QStringList &lost, bool tagsLeftOut)
{
    const kpv::Bundle &bundle = kpv::Bundle::mainBundle();
    QStringList sentences;
    if (!lost.isEmpty())
        sentences << bundle.localizedString(QStringLiteral("IDS_SavedFileLacksInfo"))
                         .replace(QStringLiteral("%@"), lost.join(QStringLiteral(", ")));
    if (tagsLeftOut)
        sentences << bundle.localizedString(QStringLiteral("IDS_SavedFileTagsLeftOut"));
    m_host.showAlert(bundle.localizedString(QStringLiteral("IDS_SavedFileLacks"))
                         .replace(QStringLiteral("%@"), kpv::displayFileName(LMPathString::lastPathComponent(path))),
                     sentences.join(QLatin1Char(' ')), {});
}

// The headline names what the user asked for: a copy that failed leaves the clipboard as it was,
// a favourite that failed is not among the favourites.
void CropViewController::alertSaveFailed(const QString &why, int actionType)
{
    const QString key = actionType == CropSaveWorker::Copy       ? QStringLiteral("IDS_FailedCopyCrop")
                        : actionType == CropSaveWorker::Favorite ? QStringLiteral("IDS_FailedFavoriteCrop")
                                                                 : QStringLiteral("IDS_FailedSaveCrop");
    m_host.showAlert(kpv::Bundle::mainBundle().localizedString(key), why, {});
}
