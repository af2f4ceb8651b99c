#include "Shell/Panels/NavigateWindowController.h"

#include <algorithm>
#include <cmath>

#include "Kit/LMAreaTrackView.h"
#include "Kit/LMButton.h"
#include "Kit/LMNineSliceImageRep.h"
#include "Kit/LMNineSliceImageView.h"
#include "Kit/LMNormalCustomWindow.h"
#include "Model/LMNavFileInfo.h"
#include "Model/MainConfig.h"
#include "Shell/MainWindow/AppDelegate.h"
#include "Shell/Panels/FloatingPanelWindow.h"
#include "Shell/Panels/LM3DRotateImageView.h"
#include "Shell/MainWindow/LMMainWindow.h"
#include "Shell/MainWindow/MainWndController.h"
#include "Shell/Panels/NavigateWindowGeometry.h"
#include "View/LMImageViewModel.h"
#include "View/NavigateController.h"
#include "appkit/Application.h"
#include "appkit/Control.h"
#include "appkit/Cursor.h"
#include "appkit/Event.h"
#include "foundation/Bundle.h"
#include "foundation/NotificationCenter.h"

namespace {
// The thumbnail sits inside the window with this margin; the title strip is above it.
constexpr double kSide = 14;
constexpr double kBottom = 14;
constexpr double kTitleStrip = 34;
constexpr long kSmallThumbScaleType = 8;
constexpr LMTrackPosition kInside = 9;
const kpv::Color kTitleColor(230 / 255.0, 230 / 255.0, 230 / 255.0);

QRectF toQ(const kpv::Rect& r) { return QRectF(r.x(), r.y(), r.width(), r.height()); }
kpv::Rect fromQ(const QRectF& r) { return kpv::Rect(r.x(), r.y(), r.width(), r.height()); }
} // namespace

NavigateWindowController::NavigateWindowController(LMImageViewModel& openGLView, NavigateController& navigator,
                                                   MainWndController& windowController, AppDelegate& delegate)
    : m_openGLView(openGLView), m_navigator(navigator), m_windowController(windowController), m_delegate(delegate)
{
    loadWindow();
    auto& center = kpv::NotificationCenter::defaultCenter();
    const kpv::Window* main = windowController.window();
    const void* view = openGLView.notificationObject();
    auto on = [&](const char* name, const void* sender, kpv::NotificationCenter::Handler handler) {
        center.addObserver(this, QString::fromLatin1(name), sender, std::move(handler));
    };
    on(kpv::ApplicationDidBecomeActiveNotification, nullptr, [this](const kpv::Notification&) { showWithCheckStatus(); });
    on(kpv::ApplicationDidResignActiveNotification, nullptr, [this](const kpv::Notification&) { hideWithoutChangeStatus(); });
    on(kpv::WindowDidBecomeKeyNotification, main, [this](const kpv::Notification&) { showWithCheckStatus(); });
    on(kpv::WindowDidResignKeyNotification, main, [this](const kpv::Notification&) { hideWithoutChangeStatus(); });
    on("didLoadCurrentSmallThumb", nullptr, [this](const kpv::Notification&) { updateThumbWithRotateAngle(); });
    // The fitted picture stands in for a small thumbnail drawn enlarged on a dense screen.
    on("didLoadImage", nullptr, [this](const kpv::Notification& n) {
        const LMNavFileInfoPtr cur = m_navigator.curFileInfo();
        const int type = n.userInfo.value(QStringLiteral("ImageScaleType")).toInt();
        if (cur && (type == 10 || type == 11) &&
            n.userInfo.value(QStringLiteral("filePath")).value<LMPathString>() == cur->filePath())
            updateThumbWithRotateAngle();
    });
    on("didChangeMainShowMode", nullptr, [this](const kpv::Notification& n) {
        if (n.userInfo.value(QStringLiteral("new")).toLongLong() == 4)
            showWithCheckStatus();
        else
            hideWithoutChangeStatus();
    });
    on(LMOpenGLViewBeginRotateNotification, view, [this](const kpv::Notification&) { m_isImageRotating = true; });
    on(LMOpenGLViewEndRotateNotification, view, [this](const kpv::Notification&) {
        m_isImageRotating = false;
        if (isWindowVisible())
            updateThumbWithRotateAngle();
    });
    on(LMOpenGLViewDidChangeImageVisibleRectNotification, view, [this](const kpv::Notification&) {
        if (isWindowVisible() && !m_isImageRotating)
            updateImageVisibleRect();
    });
}

NavigateWindowController::~NavigateWindowController()
{
    kpv::NotificationCenter::defaultCenter().removeObserver(this);
    if (m_trackViewZoom)
        m_trackViewZoom->setDelegate(nullptr);
    if (m_placed && m_window)
        if (MainConfig* config = m_delegate.mainConfig())
            config->setNavigationWindowOrigin(QPointF(m_window->frame().x(), m_window->frame().y()));
}

void NavigateWindowController::loadWindow()
{
    const double w = kSide * 2 + NavigateWindowGeometry::kThumbWidth;
    const double h = kBottom + NavigateWindowGeometry::kThumbWidth + kTitleStrip;
    m_window = std::make_unique<LMNormalCustomWindow>(kpv::Rect(0, 0, w, h));
    makeFloatingPanelWindow(*m_window, m_windowController.window());
    if (m_window->btnClose())
        m_window->btnClose()->setAction([this](kpv::View*) { hide(); });
    kpv::View* content = m_window->contentView();

    m_txtNavigateTitle = new kpv::TextField(kpv::Rect(28, h - 28, w - 36, 20));
    m_txtNavigateTitle->setAutoresizingMask(kpv::ViewMinYMargin | kpv::ViewWidthSizable);
    m_txtNavigateTitle->setTextColor(kTitleColor);
    m_txtNavigateTitle->setAlignment(Qt::AlignCenter);
    m_txtNavigateTitle->setStringValue(kpv::Bundle::mainBundle().localizedString(QStringLiteral("IDS_Navigation")));
    content->addSubview(m_txtNavigateTitle);

    const kpv::Rect thumbFrame(kSide, kBottom, NavigateWindowGeometry::kThumbWidth, NavigateWindowGeometry::kThumbWidth);
    auto* thumbBkgrd = new LMNineSliceImageView(
        thumbFrame, std::make_shared<LMNineSliceImageRep>(QStringLiteral("bg_nvimage"), kpv::Point{3, 3}, kpv::Point{3, 3}));
    thumbBkgrd->setAutoresizingMask(kpv::ViewWidthSizable | kpv::ViewHeightSizable);
    content->addSubview(thumbBkgrd);
    m_imageViewThumb = new LM3DRotateImageView(thumbFrame);
    m_imageViewThumb->setAutoresizingMask(kpv::ViewWidthSizable | kpv::ViewHeightSizable);
    m_imageViewThumb->setImageScaling(3);
    content->addSubview(m_imageViewThumb);
    m_trackViewZoom = new LMAreaTrackView(thumbFrame);
    m_trackViewZoom->setAutoresizingMask(kpv::ViewWidthSizable | kpv::ViewHeightSizable);
    m_trackViewZoom->setTrackImage(
        std::make_shared<LMNineSliceImageRep>(QStringLiteral("bg_nv"), kpv::Point{10, 10}, kpv::Point{10, 10}),
        kpv::Point{0, 0}, kpv::Point{0, 0});
    m_trackViewZoom->setTrackResizeEnabled(false);
    m_trackViewZoom->setTrackingActiveInActiveApp(true);
    m_trackViewZoom->setDarkOnTrackableRect(false);
    m_trackViewZoom->setDelegate(this);
    content->addSubview(m_trackViewZoom);
}

bool NavigateWindowController::isWindowVisible() const { return m_window && m_window->isVisible(); }

void NavigateWindowController::setWindowVisible(bool visible)
{
    if (visible) {
        if (!m_placed) {
            m_placed = true;
            MainConfig* config = m_delegate.mainConfig();
            kpv::Point origin;
            if (config && config->navigationWindowOrigin()) {
                const QPointF o = *config->navigationWindowOrigin();
                origin = kpv::Point{o.x(), o.y()};
            } else {
                // First showing: at the main window's bottom right, clear of the toolbar.
                const kpv::Rect main = m_windowController.window()->frame();
                origin = kpv::Point{main.maxX() - m_window->frame().width() - 24, main.minY() + 90};
            }
            placeFloatingPanelOnScreen(*m_window, origin);
        }
        m_window->orderFront();
        return;
    }
    if (isWindowVisible()) {
        if (MainConfig* config = m_delegate.mainConfig())
            config->setNavigationWindowOrigin(QPointF(m_window->frame().x(), m_window->frame().y()));
        m_window->orderOut();
    }
}

void NavigateWindowController::show()
{
    m_showStatus = true;
    updateThumbWithRotateAngle();
    showWithCheckStatus();
}

void NavigateWindowController::hide()
{
    if (!m_showStatus)
        return;
    setWindowVisible(false);
    m_showStatus = false;
}

void NavigateWindowController::showWithCheckStatus()
{
    const kpv::Window* main = m_windowController.window();
    if (m_showStatus && m_openGLView.canDragImageWithoutCheckCursorPosition() &&
        m_windowController.showMode() == MainShowModeView && main && main->isKeyWindow())
        setWindowVisible(true);
}

void NavigateWindowController::hideWithoutChangeStatus() { setWindowVisible(false); }

void NavigateWindowController::checkShowHide()
{
    if (m_openGLView.canDragImageWithoutCheckCursorPosition()) {
        if (!isWindowVisible())
            updateWindowFrameByCurFile();
        show();
    } else {
        hide();
    }
}

void NavigateWindowController::updateThumbWithRotateAngle()
{
    if (!m_showStatus)
        return;
    const LMImageRotateAngle viewAngle = m_openGLView.angleRotate();
    const LMNavFileInfoPtr cur = m_navigator.curFileInfo();
    kpv::ImagePtr picture;
    double orientation = 0;
    bool recomputeFrame = true;
    if (cur) {
        bool failed = false;
        const LMImagePtr image = cur->imageByType(kSmallThumbScaleType, &failed);
        if (failed || !image) {
            picture = m_delegate.defaultImage(failed ? 2 : 1);
            m_lastThumbImage.reset();
        } else {
            QImage shown = thumbPicture(*image, &orientation);
            const double turn = viewAngle.angleByIncreaseAngle(orientation).normalizeAngle().angleRotate();
            const QRectF place = toQ(m_imageViewThumb->bounds());
            const double scale = m_window->backingScaleFactor();
            QSizeF box(place.width() * scale, place.height() * scale);
            if (std::lround(std::abs(turn)) % 180 == 90)
                box.transpose();
            const LMImagePtr source = sharpThumbSource(*cur, image, shown.size(), box);
            if (source == m_lastThumbImage) {
                if (m_lastThumbRotateAngle == viewAngle)
                    return;
                // A flip alone keeps the window's size; a turn changes its aspect.
                recomputeFrame = m_lastThumbRotateAngle.angleRotate() != viewAngle.angleRotate();
            }
            m_lastThumbImage = source;
            if (source != image)
                shown = sharpThumbPicture(thumbPicture(*source, &orientation), box);
            picture = std::make_shared<kpv::Image>(shown);
        }
    }
    if (recomputeFrame)
        updateWindowFrameByCurFile();
    m_imageViewThumb->setImage(picture, viewAngle.angleByIncreaseAngle(orientation).normalizeAngle());
    m_lastThumbRotateAngle = viewAngle;
    updateImageVisibleRect();
}

QImage NavigateWindowController::thumbPicture(const LMImage& image, double* orientationAngle)
{
    const LMFileImgBaseInfoPtr info = image.originalImgBaseInfo();
    *orientationAngle = info ? double(info->orientationAngle()) : 0;
    if (!info || !info->isOrientationMirrored())
        return image.convertToImage();
    *orientationAngle = 0;
    return LMImage::uprightImage(image.convertToImage(), *info);
}

LMImagePtr NavigateWindowController::sharpThumbSource(const LMNavFileInfo& file, const LMImagePtr& small,
                                                      const QSize& shown, const QSizeF& box)
{
    if (!small || !(shown.width() < box.width() && shown.height() < box.height()))
        return small;
    for (const int type : {10, 11}) {
        const LMImagePtr fitted = file.imageByType(type);
        if (fitted && fitted->width() > small->width())
            return fitted;
    }
    return small;
}

QImage NavigateWindowController::sharpThumbPicture(const QImage& picture, const QSizeF& box)
{
    const QSize pixels = box.toSize();
    if (pixels.isEmpty() || (picture.width() <= pixels.width() && picture.height() <= pixels.height()))
        return picture;
    return picture.scaled(pixels, Qt::KeepAspectRatio, Qt::SmoothTransformation);
}

void NavigateWindowController::updateWindowFrameByCurFile()
{
    const kpv::Rect frame = m_window->frame();
    const kpv::Rect thumb = m_imageViewThumb->frame();
    const QSizeF size = NavigateWindowGeometry::calcNavigateWindowSizeByCurFile(
        QSizeF(frame.width(), frame.height()), QSizeF(thumb.width(), thumb.height()), m_openGLView.imageVisibleViewRect());
    if (size.width() != frame.width() || size.height() != frame.height())
        m_window->setFrame(kpv::Rect(frame.x(), frame.y(), size.width(), size.height()), true);
    m_trackViewZoom->setWholeTrackableRect(kpv::integralRect(fromQ(imageViewRectInImageView())));
}

QRectF NavigateWindowController::imageViewRectInImageView() const
{
    return NavigateWindowGeometry::imageViewRectInImageView(m_openGLView.imageVisibleViewRect(),
                                                            toQ(m_imageViewThumb->bounds()));
}

LMMatrix NavigateWindowController::matrixFromImageViewRectToTrackRect() const
{
    return NavigateWindowGeometry::matrixFromImageViewRectToTrackRect(m_openGLView.imageVisibleViewRect(),
                                                                      imageViewRectInImageView());
}

void NavigateWindowController::updateImageVisibleRect()
{
    if (m_trackViewZoom->inDragSession())
        return;
    const QRectF track = NavigateWindowGeometry::trackRectForVisibleRect(
        m_openGLView.getBoundsForFitin(), m_openGLView.imageVisibleViewRect(), matrixFromImageViewRectToTrackRect());
    m_trackViewZoom->setCropTrackRect(fromQ(track));
}

void NavigateWindowController::moveImageByTrackRect(const kpv::Rect& trackRect)
{
    const QPointF delta = NavigateWindowGeometry::moveDeltaForTrackRect(
        toQ(trackRect), m_openGLView.getBoundsForFitin(), m_openGLView.imageVisibleViewRect(),
        matrixFromImageViewRectToTrackRect());
    m_openGLView.moveImageByDeltaPoint(delta);
}

std::optional<bool> NavigateWindowController::areaTrackView_canDrag(LMAreaTrackView*, LMTrackPosition position)
{
    return position == kInside && !m_isImageRotating;
}

void NavigateWindowController::areaTrackView_beginDrag(LMAreaTrackView*, const kpv::Rect&, LMTrackPosition, kpv::Rect*)
{
    m_openGLView.abortZoom();
}

std::optional<kpv::Cursor> NavigateWindowController::areaTrackView_cursorByTrackPosition(LMAreaTrackView*,
                                                                                        LMTrackPosition position)
{
    if (position != kInside)
        return kpv::Cursor::arrowCursor();
    const kpv::ImagePtr image = LMNineSliceImageRep::loadImageWithoutExtension(QStringLiteral("moveCursor"));
    if (!image || !image->isValid())
        return kpv::Cursor::arrowCursor();
    return kpv::Cursor(*image, kpv::Point{image->size().width / 2, image->size().height / 2});
}

bool NavigateWindowController::areaTrackView_scrollWheel(LMAreaTrackView* view, const kpv::Event& e)
{
    if (e.phase() != 0 || e.momentumPhase() != 0) {
        // A trackpad pans; its vertical delta runs the other way round.
        m_openGLView.moveImageByDeltaPoint(QPointF(e.scrollingDeltaX(), -e.scrollingDeltaY()));
        return true;
    }
    const kpv::Point inTrack = view->convertPointFromView(e.locationInWindow(), nullptr);
    const QPointF inView = LMTransformPoint(LMInverseMatrix(matrixFromImageViewRectToTrackRect()), QPointF(inTrack.x, inTrack.y));
    m_openGLView.beginZoomByDelta(e.scrollingDeltaY(), inView);
    return true;
}
