#include "View/LMOpenGLView.h"

#include "appkit/Cursor.h"
#include "appkit/Window.h"
#include "foundation/NotificationCenter.h"
#include "foundation/RunLoop.h"
#include "foundation/Timer.h"

#include <QEvent>

#include <algorithm>

namespace {
QRectF toQRect(const kpv::Rect &r) { return QRectF(r.x(), r.y(), r.width(), r.height()); }
kpv::Rect toRect(const QRectF &r) { return kpv::Rect(r.x(), r.y(), r.width(), r.height()); }
QPointF toQPoint(kpv::Point p) { return QPointF(p.x, p.y); }
} // namespace

namespace {
// Tells the view when its widget lands on another screen (or, where the toolkit says so, when the
// density of its screen changed).
class ScreenChangeWatcher : public QObject {
public:
    explicit ScreenChangeWatcher(std::function<void()> changed) : m_changed(std::move(changed)) {}
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        const auto type = event->type();
        bool screen = type == QEvent::ScreenChangeInternal;
#if QT_VERSION >= QT_VERSION_CHECK(6, 6, 0)
        screen = screen || type == QEvent::DevicePixelRatioChange;
#endif
        if (screen)
            m_changed();
        return QObject::eventFilter(watched, event);
    }

private:
    std::function<void()> m_changed;
};
} // namespace

LMOpenGLView::LMOpenGLView(const kpv::Rect &frame) : kpv::OpenGLView(frame)
{
    setNotificationObject(this);
    setViewBounds(toQRect(bounds()));
    m_openGLLayer = LMOpenGLLayer::layer();
    m_openGLLayer->setNeedsDisplayOnBoundsChange(true);
    m_openGLLayer->setOpenGLLayerDelegate(this);
    m_openGLLayer->setDisplayHandler([this] { setNeedsDisplay(true); });
    setWantsLayer(true);
    m_screenWatcher = std::make_unique<ScreenChangeWatcher>([this] { windowDidChangeScreen(); });
    widget()->installEventFilter(m_screenWatcher.get());
}

LMOpenGLView::~LMOpenGLView()
{
    widget()->removeEventFilter(m_screenWatcher.get());
    kpv::NotificationCenter::defaultCenter().removeObserver(this);
    if (m_screenChangeTimer)
        m_screenChangeTimer->invalidate();
    // Stop the timers before the tiles and the layer go away.
    prepareTilesAhead(nullptr, QRectF());
    abortZoom();
    endRotate();
    stopFrameSwitchTimer();
}

void LMOpenGLView::viewWillMoveToWindow(kpv::Window *window)
{
    kpv::OpenGLView::viewWillMoveToWindow(window);
    kpv::NotificationCenter::defaultCenter().removeObserver(
        this, QLatin1String(kpv::WindowDidChangeOnScreenNotification));
}

void LMOpenGLView::updateOnScreen()
{
    const kpv::Window *w = window();
    setOnScreen(w && w->isOnScreen());
}

void LMOpenGLView::viewDidMoveToWindow()
{
    kpv::OpenGLView::viewDidMoveToWindow();
    if (kpv::Window *w = window())
        kpv::NotificationCenter::defaultCenter().addObserver(
            this, QLatin1String(kpv::WindowDidChangeOnScreenNotification), w,
            [this](const kpv::Notification &) { updateOnScreen(); });
    updateOnScreen();
    // A view put into a window of another density places its picture for it.
    if (updateLayerContentsScale())
        redrawImage();
}

bool LMOpenGLView::updateLayerContentsScale()
{
    kpv::Window *w = window();
    if (!w)
        return false;
    const double factor = w->backingScaleFactor();
    if (!(factor > 0) || factor == contentsScale())
        return false;
    // Followed down as well as up: a picture placed for a denser screen than the window's would
    // be drawn too large, one for a less dense screen soft.
    m_openGLLayer->setContentsScale(factor);
    setContentsScale(factor);
    return true;
}

void LMOpenGLView::windowDidChangeScreen()
{
    if (m_screenChangeTimer && m_screenChangeTimer->isValid())
        return;
    // On the next turn, once the window has settled on its new screen.
    m_screenChangeTimer = kpv::RunLoop::current().performAfterDelay(0, [this] {
        const double oldScale = scale();
        const bool changed = updateLayerContentsScale();
        endRotate();
        abortZoom();
        redrawImage();
        // A fitted picture's scale follows the density without a zoom: told as a zoom would
        // tell it, so the zoom figure and the decode size asked for follow as well.
        if (changed && fitinMode() && scale() != oldScale)
            postNotification(LMOpenGLViewDoChangeScaleNotification);
        setNeedsDisplay(true);
    });
}

void LMOpenGLView::setFrame(const kpv::Rect &frame)
{
    const bool sameSize = frame.size == this->frame().size;
    // A zoom under way lands where the user sent it before the size changes (full screen on or
    // off, the window resized): stopped half-way, a zoom to fit would leave the picture neither
    // fitted nor where it was, and it would stay so in every later size.
    if (!sameSize)
        finishZoom(true);
    kpv::OpenGLView::setFrame(frame);
    if (sameSize)
        return;
    setViewBounds(toQRect(bounds()));
    endRotate();
    redrawImage();
}

// ---- Model hooks ----

void LMOpenGLView::setNeedsUpdateDrawContent()
{
    LMImageViewModel::setNeedsUpdateDrawContent();
    if (m_openGLLayer->isAsynchronous())
        return;
    prepareDrawContent(m_openGLLayer.get());
    m_openGLLayer->setNeedsDisplay();
}

void LMOpenGLView::setNeedsUpdateFrameContent()
{
    if (m_openGLLayer->isAsynchronous()) {
        setNeedsUpdateDrawContent();
        return;
    }
    LMImageViewModel::setNeedsUpdateDrawContent();
    // Shown at actual size, the frame's pixels are what the drawing would make: they go straight
    // into the kept pixels, and the tiles take the frame only when the view next draws.
    if (showFrameAsKeptPixels())
        return;
    prepareDrawContent(m_openGLLayer.get());
    // Only the picture changes: its shadow, the background and everything over the view stay.
    // Drawn by OpenGL, two more points on each side take in the linear filter's reach past the
    // picture's edge; the painter copies a frame at actual size pixel for pixel.
    const double reach = waitsForOpenGL() ? 0 : 2;
    const QRectF part = imageVisibleViewRect().adjusted(-reach, -reach, reach, reach).intersected(viewBounds());
    if (!part.isEmpty())
        setNeedsDisplayInRect(toRect(part));
}

bool LMOpenGLView::showFrameAsKeptPixels()
{
    const LMImagePtr image = imageNormal();
    if (!image || m_imageNotDraw || m_haveFitinTextures || needOptimizeDrawImage() || isRotateTimerRunning())
        return false;
    const LMFileImgBaseInfoPtr &info = image->originalImgBaseInfo();
    const LMImageRotateAngle &a = angleRotate();
    if (!info || info->orientationAngle() != 0 || info->isOrientationMirrored() || a.angleRotate() != 0 ||
        a.angleHorizontalFlip() != 0 || a.angleVerticalFlip() != 0)
        return false;
    // Kept pixels are shown as they are: transparent ones would show what the window last had there.
    if (pictureShowsBackgroundThrough())
        return false;
    const QImage pixels = image->frameImage(int(drawableFrameIdx()));
    // The drawing copies each texel as it is, without blending: the same four bytes, whatever
    // their alpha means.
    if (pixels.depth() != 32)
        return false;
    // One image pixel on one device pixel, the whole picture inside the view.
    const double r = pixelRatio();
    const QRectF v = imageVisibleViewRect();
    if (!viewBounds().contains(v) || v.width() * r != double(pixels.width()) || v.height() * r != double(pixels.height()))
        return false;
    return replaceKeptPixels(toRect(v), pixels);
}

void LMOpenGLView::invalidateCursorRects()
{
    LMImageViewModel::invalidateCursorRects();
    if (kpv::Window *w = window())
        w->invalidateCursorRectsForView(this);
}

void LMOpenGLView::setLayerAsynchronous(bool asynchronous)
{
    LMImageViewModel::setLayerAsynchronous(asynchronous);
    m_openGLLayer->setAsynchronous(asynchronous);
}

void LMOpenGLView::recoveryTextures(TileSet set)
{
    auto &tiles = set == TileSet::Normal ? m_usingTexturesNormal : m_usingTexturesFitin;
    // Kept until the next frame for the tiles of the picture that follows (a step gives up one
    // picture's tiles and makes the next one's at once): refilled, they need no new storage.
    for (auto &[key, texture] : tiles)
        if (m_texturePool.size() < kTexturePoolSize &&
            std::find(m_texturePool.begin(), m_texturePool.end(), texture) == m_texturePool.end())
            m_texturePool.push_back(std::move(texture));
    tiles.clear();
    if (set == TileSet::Fitin)
        m_haveFitinTextures = false;
}

LMOpenGLTexturePtr LMOpenGLView::textureFromPool()
{
    // Only one that nothing draws any more.
    for (auto it = m_texturePool.begin(); it != m_texturePool.end(); ++it) {
        if (it->use_count() == 1) {
            LMOpenGLTexturePtr texture = std::move(*it);
            m_texturePool.erase(it);
            return texture;
        }
    }
    return std::make_shared<LMOpenGLTexture>();
}

void LMOpenGLView::didEmptyImageSlots()
{
    m_restingPicture = {};
    m_paintedApart = QImage();
    m_frameIdxOfCurNormalTexture = 0;
    m_texturesNormal.clear();
    m_texturesFitin.clear();
    m_regionsToDraw.clear();
    m_regionsUnderNormal = 0;
    m_regionTextures.clear();
}

bool LMOpenGLView::holdShownPicture()
{
    if (m_imageNotDraw || isLayerAsynchronous() || needOptimizeDrawImage())
        return false;
    return holdPictureOnScreen();
}

void LMOpenGLView::didChangeRegionTiles()
{
    // The textures of tiles no longer given go with them.
    std::map<const LMRegionTile *, LMOpenGLTexturePtr> kept;
    for (const LMRegionTilePtr &tile : regionTiles())
        if (auto it = m_regionTextures.find(tile.get()); it != m_regionTextures.end())
            kept.insert(*it);
    m_regionTextures = std::move(kept);
    // A frame drew none and would draw none now (regions decoded ahead of a zoom, at rest): the
    // picture on screen stays as it is. Their textures wait for the zoom's first frame: until
    // then the pixels are held once, not a second time by the renderer.
    if (m_regionsToDraw.empty() && regionsForFrame(needOptimizeDrawImage()).empty())
        return;
    // The next preparation makes the list again.
    m_regionsToDraw.clear();
    m_regionsUnderNormal = 0;
    LMImageViewModel::didChangeRegionTiles();
}

void LMOpenGLView::enableShadow(bool enabled)
{
    if (enabled == shadowEnabled())
        return;
    LMImageViewModel::enableShadow(enabled);
    m_openGLLayer->setNeedsDisplay();
}

void LMOpenGLView::setBackgroundColor(const QColor &color)
{
    if (color == m_backgroundColor)
        return;
    m_backgroundColor = color;
    m_openGLLayer->setNeedsDisplay();
}

void LMOpenGLView::setImageNotDraw(bool notDraw)
{
    if (notDraw == m_imageNotDraw)
        return;
    m_imageNotDraw = notDraw;
    m_openGLLayer->setNeedsDisplay();
}

void LMOpenGLView::setShadowImage(const LMImagePtr &image, QPointF sliceSizeLeftTop, QPointF sliceSizeRightBottom,
                                  QPointF drawOffsetLeftTop, QPointF drawOffsetRightBottom)
{
    if (image == m_imageShadow)
        return;
    m_imageShadow = image;
    m_shadowSliceLeftTop = sliceSizeLeftTop;
    m_shadowSliceRightBottom = sliceSizeRightBottom;
    m_drawOffsetLeftTop = drawOffsetLeftTop;
    m_drawOffsetRightBottom = drawOffsetRightBottom;
    m_textureShadow.reset();
}

void LMOpenGLView::resetCursorRects()
{
    const LMImagePtr image = imageNormal();
    if (!image || !enable() || !image->originalImgBaseInfo())
        return;
    const QRectF raw = image->originalImgBaseInfo()->rawFrameRect();
    const QRectF m = mapToOriginalRect(getBoundsForFitin(), false);
    if (raw.width() > m.width() || raw.height() > m.height())
        addCursorRect(toRect(viewBounds().intersected(imageVisibleViewRect())), kpv::Cursor::openHandCursor());
}

// ---- Events ----

void LMOpenGLView::scrollWheel(const kpv::Event &e)
{
    if (!handleScrollWheel(e, toQPoint(convertPointFromView(e.locationInWindow(), nullptr))))
        kpv::OpenGLView::scrollWheel(e);
}

void LMOpenGLView::magnifyWithEvent(const kpv::Event &e)
{
    if (!handleMagnify(e))
        kpv::OpenGLView::magnifyWithEvent(e);
}

void LMOpenGLView::smartMagnifyWithEvent(const kpv::Event &e)
{
    if (!handleSmartMagnify())
        kpv::OpenGLView::smartMagnifyWithEvent(e);
}

void LMOpenGLView::rotateWithEvent(const kpv::Event &e)
{
    if (!handleRotateGesture(e))
        kpv::OpenGLView::rotateWithEvent(e);
}

void LMOpenGLView::mouseDown(const kpv::Event &e)
{
    QPointF p = toQPoint(convertPointFromView(e.locationInWindow(), nullptr));
    if (!takesMouseDown(p, e.clickCount())) {
        kpv::OpenGLView::mouseDown(e);
        return;
    }
    endRotate();
    stopZoomTimer();
    const bool draggable = canDragImage(p);
    if (draggable)
        kpv::Cursor::closedHandCursor().set();
    kpv::Window *w = window();
    kpv::EventPtr current = std::make_shared<kpv::Event>(e);
    m_panning = draggable;
    while (current) {
        if (current->type() == kpv::LeftMouseDragged) {
            if (draggable) {
                const QPointF q = toQPoint(convertPointFromView(current->locationInWindow(), nullptr));
                moveImageByDeltaPoint(q - p);
                p = q;
            } else if (m_delegate && m_delegate->beginDraggingSessionWithEvent(this, *current)) {
                break;
            }
        }
        if (current->type() == kpv::LeftMouseUp || !w)
            break;
        current = w->nextEventMatchingMask(kpv::LeftMouseUpMask | kpv::LeftMouseDraggedMask);
    }
    m_panning = false;
    if (draggable) {
        setNeedsUpdateDrawContent();
        invalidateCursorRects();
    }
}
