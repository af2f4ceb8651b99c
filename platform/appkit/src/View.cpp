#include "appkit/View.h"

#include "ToolTipText.h"
#include "ViewWidget.h"
#include "appkit/EventTranslation.h"
#include "appkit/GraphicsContext.h"
#include "appkit/Window.h"
#include "foundation/RunLoop.h"
#include "foundation/Timer.h"

#include <QCoreApplication>
#include <QFocusEvent>
#include <QKeyEvent>
#include <QGuiApplication>
#include <QPalette>
#include <QGraphicsEffect>
#include <QHash>
#include <QImage>
#include <QPaintEngine>
#include <QPainter>
#include <QPixmap>
#include <QPointer>
#include <QRegion>
#include <QTransform>
#include <algorithm>
#include <cmath>
#include <functional>
#include <utility>
#include <vector>

namespace kpv {

namespace {
QHash<const QWidget*, View*>& widgetMap()
{
    static QHash<const QWidget*, View*> map;
    return map;
}

// The opacity of a view and its subviews. While the view fades, its picture is drawn once, when
// the fade begins, and each step of the fade only lays that picture over what lies below, at the
// step's opacity, instead of drawing the view and every subview afresh many times a second. A step
// repaints only where the picture has pixels: a view over the whole window that shows two small
// arrows costs the arrows, not the window. At rest the view is drawn as it is, so what changes in it
// shows at once.
class FadeEffect final : public QGraphicsEffect {
public:
    explicit FadeEffect(QWidget* widget) : QGraphicsEffect(widget), m_widget(widget) {}

    double opacity() const { return m_opacity; }
    bool isFading() const { return m_fading; }

    // One step of a fade to `opacity`; the first draws the view's picture. Returns the part of the
    // view (widget pixels) that the step changes on screen.
    QRegion fadeStep(double opacity)
    {
        m_lastShown = QRegion();
        if (!m_fading) {
            m_fading = true;
            dropPicture();
            takePictureNow();
        }
        m_opacity = opacity;
        return m_pictureTaken ? m_covered : QRegion(m_widget->rect());
    }

    // Sets `opacity` at rest, ending a fade if one runs. Returns the part of the view to repaint.
    QRegion rest(double opacity)
    {
        QRegion changed(m_widget->rect());
        if (m_fading && m_pictureTaken) {
            // The screen shows the picture where it has pixels. At rest the view is drawn as it is
            // now, which may differ from the picture where something in it changed meanwhile: what
            // both cover is repainted. Fully transparent, it shows nothing at all.
            changed = m_covered;
            if (opacity > 0) {
                dropPicture();
                takePictureNow();
                changed = m_pictureTaken ? changed + m_covered : QRegion(m_widget->rect());
            }
        }
        m_fading = false;
        dropPicture();
        m_opacity = opacity;
        m_lastShown = opacity > 0 ? QRegion() : changed;
        return changed;
    }
    // Where the view may still show on screen though fully transparent: the last step of a fade
    // out until it is painted. Asked once, by a view about to be hidden.
    QRegion takeLastShown() { return std::exchange(m_lastShown, QRegion()); }

    // Pictures of the view drawn so far (for tests: a fade draws one).
    static int picturesDrawn() { return s_picturesDrawn; }

protected:
    void draw(QPainter* painter) override
    {
        if (m_capturing) {
            drawSource(painter);
            return;
        }
        if (m_fading) {
            if (m_opacity <= 0.001)
                return;
            if (!m_pictureTaken)
                takePicture(); // the view was not on screen when the fade began
            if (m_picture.isNull())
                return; // it shows nothing
            painter->save();
            painter->setOpacity(painter->opacity() * m_opacity);
            painter->drawPixmap(m_offset, m_picture);
            painter->restore();
            return;
        }
        // At rest: drawn as it is, through a picture of the part being painted when translucent.
        // A subview with an opacity of its own (a dimmed button in a toolbar, a bar that fades
        // inside a view) is drawn through a painter of its own on the device being painted, which
        // cannot be had while this view's painter holds it: the subview would be left out. Such a
        // view is drawn through its picture too, where the subview finds the device free.
        if (qFuzzyIsNull(m_opacity))
            return;
        if (qFuzzyIsNull(m_opacity - 1.0) && !hasFadingSubview()) {
            drawSource(painter);
            return;
        }
        // Only the part being painted is pictured: a hover over one cell of a view over the whole
        // window pictures that cell, not the window.
        QRect part = m_widget->rect();
        if (const QPaintEngine* engine = painter->paintEngine(); engine && !engine->systemClip().isEmpty())
            part &= painter->deviceTransform().inverted().mapRect(engine->systemClip().boundingRect());
        if (part.isEmpty())
            return;
        const double dpr = painter->device() ? painter->device()->devicePixelRatioF() : 1.0;
        QPixmap picture(part.size() * dpr);
        picture.setDevicePixelRatio(dpr);
        picture.fill(Qt::transparent);
        {
            // The part's top left at the picture's, as when a fade's picture is taken. Asked for
            // the part as a region, the toolkit placed it twice over from inside this view's own
            // drawing: a part away from the view's corner showed what lies that far to its lower
            // right.
            QPainter inPicture(&picture);
            inPicture.translate(-part.topLeft());
            inPicture.setClipRect(part);
            m_widget->render(&inPicture, QPoint(), QRegion(), QWidget::DrawChildren);
        }
        painter->save();
        painter->setOpacity(m_opacity);
        painter->drawPixmap(part.topLeft(), picture);
        painter->restore();
    }
    void sourceChanged(ChangeFlags flags) override
    {
        // Resized or moved into another window: drawn again, and the whole view repainted, at the
        // next step.
        dropPicture();
        QGraphicsEffect::sourceChanged(flags);
    }

private:
    bool hasFadingSubview() const
    {
        const QList<QWidget*> inside = m_widget->findChildren<QWidget*>();
        return std::any_of(inside.begin(), inside.end(), [](const QWidget* w) {
            return !w->isWindow() && w->graphicsEffect() && w->graphicsEffect()->isEnabled();
        });
    }
    // Draws the picture now rather than at the next paint, so that the step knows where it has
    // pixels before anything is repainted: the view is rendered into the picture, and draw() lets
    // the view and its subviews draw themselves there.
    void takePictureNow()
    {
        if (!m_widget->isVisible() || m_widget->size().isEmpty())
            return;
        // A view that draws nothing itself shows pixels only where its subviews lie: the picture
        // covers those alone. Arrows at the two sides of a view over the whole window cost a band
        // of their height, not a picture of the window.
        QRect part = m_widget->rect();
        if (const View* view = viewForWidget(m_widget); view && !view->drawsOwnContent())
            part &= m_widget->childrenRegion().boundingRect();
        if (part.isEmpty()) {
            // Nothing shown: an empty picture, and no step repaints anything.
            keepPicture(QPixmap(), QPoint());
            return;
        }
        const double dpr = m_widget->devicePixelRatioF();
        QPixmap picture(part.size() * dpr);
        picture.setDevicePixelRatio(dpr);
        picture.fill(Qt::transparent);
        m_capturing = true;
        {
            // The part's top left at the picture's; what lies outside the picture is cut off.
            QPainter painter(&picture);
            painter.translate(-part.topLeft());
            m_widget->render(&painter, QPoint(), QRegion(), QWidget::DrawChildren);
        }
        m_capturing = false;
        keepPicture(picture, part.topLeft());
    }
    void dropPicture()
    {
        m_picture = QPixmap();
        m_covered = QRegion();
        m_pictureTaken = false;
    }
    // Inside draw(): the view and its subviews as they are.
    void takePicture()
    {
        QPoint offset;
        const QPixmap picture = sourcePixmap(Qt::LogicalCoordinates, &offset, QGraphicsEffect::NoPad);
        keepPicture(picture, offset);
    }
    void keepPicture(const QPixmap& picture, QPoint offset)
    {
        m_picture = picture;
        m_offset = offset;
        m_covered = picture.isNull() ? QRegion() : coveredRegion(m_picture.toImage()).translated(m_offset);
        m_pictureTaken = true;
        ++s_picturesDrawn;
    }
    // The parts of `picture` with any pixel that is not fully transparent, in squares of 16 device
    // pixels, as a region in the picture's own coordinates.
    static QRegion coveredRegion(const QImage& picture)
    {
        const double dpr = picture.devicePixelRatio();
        const QSize size = picture.deviceIndependentSize().toSize();
        if (picture.format() != QImage::Format_ARGB32_Premultiplied)
            return QRegion(QRect(QPoint(0, 0), size)); // not drawn by the window's painter: all of it
        constexpr int kSquare = 16;
        const int width = picture.width(), height = picture.height();
        const int columns = (width + kSquare - 1) / kSquare;
        std::vector<char> covered(static_cast<size_t>(columns), 0);
        QRegion region;
        std::vector<QRect> runs;
        for (int top = 0; top < height; top += kSquare) {
            const int bottom = std::min(height, top + kSquare);
            std::fill(covered.begin(), covered.end(), 0);
            for (int y = top; y < bottom; ++y) {
                const auto* line = reinterpret_cast<const quint32*>(picture.constScanLine(y));
                for (int c = 0; c < columns; ++c) {
                    if (covered[size_t(c)])
                        continue;
                    quint32 any = 0;
                    for (int x = c * kSquare, end = std::min(width, x + kSquare); x < end; ++x)
                        any |= line[x]; // premultiplied: a transparent pixel is all zero
                    covered[size_t(c)] = any != 0;
                }
            }
            // Runs of covered squares, in view points (rounded outward).
            runs.clear();
            const int y0 = int(std::floor(top / dpr)), y1 = int(std::ceil(bottom / dpr));
            for (int c = 0; c < columns;) {
                if (!covered[size_t(c)]) {
                    ++c;
                    continue;
                }
                const int first = c;
                while (c < columns && covered[size_t(c)])
                    ++c;
                const int x0 = int(std::floor(first * kSquare / dpr));
                const int x1 = int(std::ceil(std::min(width, c * kSquare) / dpr));
                runs.emplace_back(x0, y0, x1 - x0, y1 - y0);
            }
            if (!runs.empty()) {
                QRegion band;
                band.setRects(runs.data(), int(runs.size()));
                region += band;
            }
        }
        return region;
    }

    QWidget* m_widget;
    double m_opacity = 1.0;
    bool m_fading = false;
    bool m_capturing = false;
    QPixmap m_picture; // null when the view shows nothing
    bool m_pictureTaken = false;
    QPoint m_offset;
    QRegion m_covered; // widget pixels where the picture has pixels
    QRegion m_lastShown;
    static inline int s_picturesDrawn = 0;
};
} // namespace

int View::fadePicturesDrawnForTesting() { return FadeEffect::picturesDrawn(); }

View* viewForWidget(const QWidget* w) { return widgetMap().value(w, nullptr); }
void registerViewWidget(const QWidget* w, View* v) { widgetMap().insert(w, v); }
void unregisterViewWidget(const QWidget* w) { widgetMap().remove(w); }

void ViewWidget::paintEvent(QPaintEvent*)
{
    if (!m_view)
        return;
    QPainter painter(this);
    m_view->paintFromWidget(&painter);
}

void ViewWidget::keyPressEvent(QKeyEvent* e)
{
    // Keys reach a view's widget only where it holds the focus of a toolkit dialog (in our own
    // windows the window takes them). The control gets the key first; what it leaves (Tab, Esc,
    // Return on a slider) goes on to the dialog.
    if (m_view && m_view->canBecomeKeyView()) {
        static const EventTranslator translator;
        const EventPtr ev = translator.translateKey(*e, nullptr);
        if (ev && m_view->performKeyAction(*ev)) {
            e->accept();
            return;
        }
    }
    QWidget::keyPressEvent(e);
}

void ViewWidget::focusInEvent(QFocusEvent* e)
{
    // A control shown in a toolkit dialog keeps its place in the dialog's Tab order while it is
    // disabled or hidden; the focus then passes on in the direction it came from.
    if (m_view && !m_view->canBecomeKeyView() &&
        (e->reason() == Qt::TabFocusReason || e->reason() == Qt::BacktabFocusReason)) {
        e->reason() == Qt::BacktabFocusReason ? focusPreviousChild() : focusNextChild();
        return;
    }
    QWidget::focusInEvent(e);
    if (m_view)
        m_view->updateFocusRing();
}

void ViewWidget::focusOutEvent(QFocusEvent* e)
{
    QWidget::focusOutEvent(e);
    if (m_view)
        m_view->updateFocusRing();
}

struct View::AlphaAnimation {
    double from = 0, to = 0, start = 0, duration = 0;
    std::function<void(bool)> completion;
};

namespace {
// The views whose alpha animates, stepped together by one timer: views that fade at the same time
// (a toolbar and the arrows over a picture) change in the same turn of the run loop and are
// repainted together, once per step.
std::vector<View*>& alphaAnimated()
{
    static auto* views = new std::vector<View*>;
    return *views;
}
std::shared_ptr<Timer>& alphaTicker()
{
    static auto* ticker = new std::shared_ptr<Timer>;
    return *ticker;
}
void forgetAlphaAnimation(View* view)
{
    auto& views = alphaAnimated();
    views.erase(std::remove(views.begin(), views.end(), view), views.end());
    if (views.empty() && alphaTicker()) {
        alphaTicker()->invalidate();
        alphaTicker().reset();
    }
}
} // namespace

View::View(const Rect& frame) : m_frame(frame)
{
    init(new ViewWidget(this));
}

View::View(const Rect& frame, QWidget* customWidget) : m_frame(frame)
{
    init(customWidget);
}

void View::init(QWidget* w)
{
    m_widget = w;
    m_widget->setMouseTracking(true);
    registerViewWidget(m_widget, this);
    updateWidgetGeometry();
}

View::~View()
{
    forgetAlphaAnimation(this);
    if (m_window)
        m_window->viewWillBeDestroyed(this);
    if (m_superview) {
        auto& sibs = m_superview->m_subviews;
        sibs.erase(std::remove(sibs.begin(), sibs.end(), this), sibs.end());
        m_superview = nullptr;
    }
    std::vector<View*> children;
    children.swap(m_subviews);
    for (View* child : children) {
        child->m_superview = nullptr;
        delete child;
    }
    delete m_focusRing.data();
    unregisterViewWidget(m_widget);
    if (auto* vw = dynamic_cast<ViewWidget*>(m_widget))
        vw->detachView();
    delete m_widget;
}

QWidget* View::widget() const { return m_widget; }

void View::setFrame(const Rect& frame)
{
    const Size oldSize = m_frame.size;
    m_frame = frame;
    updateWidgetGeometry();
    if (oldSize != frame.size) {
        resizeSubviewsWithOldSize(oldSize);
        updateTrackingAreas();
        discardCursorRects();
    }
}

void View::updateWidgetGeometry()
{
    // Qt's geometry is top-left based; a subview of an unflipped view hangs from the bottom.
    double y = m_frame.y();
    if (m_superview && !m_superview->isFlipped())
        y = m_superview->m_frame.height() - m_frame.y() - m_frame.height();
    else if (!m_superview && m_window)
        y = 0;
    const double x = (!m_superview && m_window) ? 0 : m_frame.x();
    m_widget->setGeometry(int(std::lround(x)), int(std::lround(y)), int(std::lround(m_frame.width())),
                          int(std::lround(m_frame.height())));
}

void View::resizeSubviewsWithOldSize(Size oldSize)
{
    for (View* child : m_subviews)
        child->resizeWithOldSuperviewSize(oldSize);
}

namespace {
// Shares `delta` among the flexible parts of one axis in proportion to their sizes, as the
// window system does; equally when they are all zero.
void distribute(double delta, bool flexA, bool flexB, bool flexC, double& a, double& b, double& c)
{
    const double parts[3] = {flexA ? a : 0, flexB ? b : 0, flexC ? c : 0};
    const int count = int(flexA) + int(flexB) + int(flexC);
    if (count == 0)
        return;
    double sum = parts[0] + parts[1] + parts[2];
    if (sum <= 0) {
        if (flexA) a += delta / count;
        if (flexB) b += delta / count;
        if (flexC) c += delta / count;
        return;
    }
    if (flexA) a += delta * parts[0] / sum;
    if (flexB) b += delta * parts[1] / sum;
    if (flexC) c += delta * parts[2] / sum;
}
} // namespace

void View::resizeWithOldSuperviewSize(Size oldSize)
{
    if (!m_superview)
        return;
    const Size newSize = m_superview->m_frame.size;
    Rect f = m_frame;
    const unsigned m = m_autoresizingMask;
    {
        double left = f.x(), width = f.width(), right = oldSize.width - f.maxX();
        distribute(newSize.width - oldSize.width, m & ViewMinXMargin, m & ViewWidthSizable, m & ViewMaxXMargin,
                   left, width, right);
        f.origin.x = left;
        f.size.width = std::max(0.0, width);
    }
    {
        // MinY is the bottom margin in an unflipped superview and the top one in a flipped one;
        // either way it is the margin at the frame's origin.
        double low = f.y(), height = f.height(), high = oldSize.height - f.maxY();
        distribute(newSize.height - oldSize.height, m & ViewMinYMargin, m & ViewHeightSizable,
                   m & ViewMaxYMargin, low, height, high);
        f.origin.y = low;
        f.size.height = std::max(0.0, height);
    }
    if (f != m_frame)
        setFrame(f);
    else
        updateWidgetGeometry(); // the Qt position moves with the superview's height
}

Rect View::visibleRect() const
{
    Rect r = bounds();
    const View* v = this;
    while (v->m_superview) {
        Rect inSuper = v->m_superview->convertRectFromView(r, v);
        inSuper = intersectionRect(inSuper, v->m_superview->bounds());
        r = v->convertRectFromView(inSuper, v->m_superview);
        v = v->m_superview;
    }
    return intersectionRect(r, bounds());
}

Point View::contextMenuLocationForKeyboard() const
{
    const Rect r = visibleRect().isEmpty() ? bounds() : visibleRect();
    return Point{r.midX(), r.midY()};
}

void View::addSubview(View* view) { addSubview(view, true, nullptr); }

void View::addSubview(View* view, bool above, View* relativeTo)
{
    if (!view || view == this)
        return;
    if (view->m_superview)
        view->removeFromSuperview();
    view->attachTo(this, above, relativeTo);
}

void View::attachTo(View* superview, bool above, View* relativeTo)
{
    auto& sibs = superview->m_subviews;
    auto it = relativeTo ? std::find(sibs.begin(), sibs.end(), relativeTo) : sibs.end();
    if (relativeTo && it == sibs.end())
        relativeTo = nullptr;
    if (!relativeTo)
        it = above ? sibs.end() : sibs.begin();
    else if (above)
        ++it;
    it = sibs.insert(it, this);
    m_superview = superview;
    if (m_window != superview->m_window)
        viewWillMoveToWindow(superview->m_window);
    m_widget->setParent(superview->m_widget);
    // Qt stacks later children above earlier ones: restack to the list's order.
    for (View* v : sibs)
        v->m_widget->raise();
    updateWidgetGeometry();
    m_widget->setVisible(!m_hidden);
    viewDidMoveToSuperview();
    if (m_window != superview->m_window)
        setWindowInternal(superview->m_window);
}

void View::removeFromSuperview()
{
    if (!m_superview)
        return;
    auto& sibs = m_superview->m_subviews;
    sibs.erase(std::remove(sibs.begin(), sibs.end(), this), sibs.end());
    m_superview->setNeedsDisplay();
    m_superview = nullptr;
    m_widget->hide();
    m_widget->setParent(nullptr);
    if (m_window) {
        viewWillMoveToWindow(nullptr);
        setWindowInternal(nullptr);
    }
    viewDidMoveToSuperview();
}

void View::setWindowInternal(Window* w)
{
    if (m_window && m_window != w)
        m_window->viewWillBeDestroyed(this); // forget it as responder and tracking owner
    m_window = w;
    for (View* child : m_subviews)
        child->setWindowInternal(w);
    viewDidMoveToWindow();
    updateTrackingAreas();
    discardCursorRects();
}

bool View::isDescendantOf(const View* other) const
{
    for (const View* v = this; v; v = v->m_superview)
        if (v == other)
            return true;
    return false;
}

Window* View::window() const { return m_window; }

namespace {
// Repaints `region` (pixels of `parent`) with all that lies there but `except`. The toolkit
// repaints a marked widget less the opaque widgets over it: those under `region` are marked too.
void repaintUncovered(QWidget* parent, const QRegion& region, const QWidget* except)
{
    if (region.isEmpty())
        return;
    for (const QRect& part : region)
        parent->update(part);
    for (QObject* child : parent->children()) {
        auto* w = qobject_cast<QWidget*>(child);
        if (!w || w == except || w->isWindow() || !w->isVisible())
            continue;
        const QRegion inChild = region.translated(-w->pos()) & w->rect();
        repaintUncovered(w, inChild, except);
    }
}
} // namespace

void View::setHidden(bool hidden)
{
    if (m_hidden == hidden)
        return;
    m_hidden = hidden;
    if (m_superview || m_window) {
        auto* effect = dynamic_cast<FadeEffect*>(m_widget->graphicsEffect());
        const bool unseen = effect && !effect->isFading() && effect->opacity() <= 0.0;
        QWidget* parent = m_widget->parentWidget();
        if (unseen && hidden && parent && m_widget->updatesEnabled() && parent->updatesEnabled()) {
            // Fully transparent (a fade out has just ended), the view shows nothing: hiding it
            // changes nothing on screen but where its last step is still to be painted over, and
            // the toolkit is kept from repainting all it covered.
            const QRegion lastShown = effect->takeLastShown().translated(m_widget->pos());
            m_widget->setUpdatesEnabled(false);
            m_widget->setVisible(false);
            m_widget->setUpdatesEnabled(true);
            repaintUncovered(parent, lastShown, m_widget);
        } else {
            m_widget->setVisible(!hidden);
            // Shown fully transparent (a fade in is about to start), likewise: the repaint the
            // toolkit posts for a shown view is dropped, and the fade repaints what it shows.
            if (unseen && !hidden)
                QCoreApplication::removePostedEvents(m_widget, QEvent::UpdateLater);
        }
    }
    if (m_window)
        m_window->invalidateCursorRectsForView(this);
}

bool View::isHiddenOrHasHiddenAncestor() const
{
    for (const View* v = this; v; v = v->m_superview)
        if (v->m_hidden)
            return true;
    return false;
}

void View::setAlphaValue(double alpha)
{
    if (m_alphaAnimation) {
        auto anim = std::move(m_alphaAnimation);
        forgetAlphaAnimation(this);
        if (anim->completion)
            anim->completion(false);
    }
    applyAlphaValue(alpha, false);
}

void View::applyAlphaValue(double alpha, bool fading)
{
    alpha = std::clamp(alpha, 0.0, 1.0);
    auto* effect = dynamic_cast<FadeEffect*>(m_widget->graphicsEffect());
    const bool changed = alpha != m_alpha;
    if (!changed && !(effect && effect->isFading() && !fading))
        return;
    m_alpha = alpha;
    if (!effect) {
        if (alpha >= 1.0) {
            setNeedsDisplay();
            return;
        }
        effect = new FadeEffect(m_widget);
        m_widget->setGraphicsEffect(effect); // the toolkit repaints the whole view for it
    }
    const QRegion region = fading ? effect->fadeStep(alpha) : effect->rest(alpha);
    if (alpha >= 1.0 && !fading && m_widget->testAttribute(Qt::WA_OpaquePaintEvent)) {
        // An opaque view at rest draws straight into the window, so that nothing beneath it is
        // drawn first. A view with see-through parts keeps the effect: taking it off or putting it
        // back on repaints the whole view, which for a view over the whole window is the whole
        // window at every fade.
        m_widget->setGraphicsEffect(nullptr);
        setNeedsDisplay();
        return;
    }
    // A new opacity changes no pixel of the view's own: only how it lies over what is beneath.
    // The toolkit widens a region of a view with an effect to its bounding box: each part is
    // handed over alone, so that two arrows at either side of the window stay two small parts.
    m_needsDisplay = true;
    for (const QRect& part : region)
        m_widget->update(part);
}

bool View::isAnimatingAlpha() const { return m_alphaAnimation != nullptr; }

void View::animateAlphaValue(double alpha, double duration, std::function<void(bool)> completion)
{
    setAlphaValue(m_alpha); // ends a running animation (not finished)
    const double from = m_alpha;
    const double to = std::clamp(alpha, 0.0, 1.0);
    if (duration <= 0) {
        setAlphaValue(to);
        if (completion)
            completion(true);
        return;
    }
    auto anim = std::make_unique<AlphaAnimation>();
    anim->from = from;
    anim->to = to;
    anim->start = RunLoop::current().now();
    anim->duration = duration;
    anim->completion = std::move(completion);
    m_alphaAnimation = std::move(anim);
    auto& animated = alphaAnimated();
    if (std::find(animated.begin(), animated.end(), this) == animated.end())
        animated.push_back(this);
    if (!alphaTicker())
        alphaTicker() = Timer::scheduled(1.0 / 60.0, true, [](Timer&) { stepAlphaAnimations(); }, TimerMode::Common);
}

void View::stepAlphaAnimations()
{
    const double now = RunLoop::current().now();
    const std::vector<View*> views = alphaAnimated();
    for (View* view : views) {
        // A step before may have ended this one, or destroyed its view.
        const auto& animated = alphaAnimated();
        if (std::find(animated.begin(), animated.end(), view) != animated.end())
            view->stepAlphaAnimation(now);
    }
}

void View::stepAlphaAnimation(double now)
{
    if (!m_alphaAnimation) {
        forgetAlphaAnimation(this);
        return;
    }
    const AlphaAnimation& a = *m_alphaAnimation;
    const double p = std::clamp((now - a.start) / a.duration, 0.0, 1.0);
    const double alpha = a.from + (a.to - a.from) * p;
    auto anim = std::move(m_alphaAnimation); // keep it out while setting the value
    applyAlphaValue(alpha, p < 1.0);
    if (p >= 1.0) {
        forgetAlphaAnimation(this);
        if (anim->completion)
            anim->completion(true);
        return;
    }
    m_alphaAnimation = std::move(anim);
}

void View::setNeedsDisplay(bool flag)
{
    m_needsDisplay = flag;
    if (flag) {
        contentWillRedraw(nullptr);
        m_widget->update();
    }
}

void View::setNeedsDisplayInRect(const Rect& r)
{
    m_needsDisplay = true;
    Rect q = isFlipped() ? r : Rect(r.x(), m_frame.height() - r.maxY(), r.width(), r.height());
    Rect i = integralRect(q);
    const QRect part(int(i.x()), int(i.y()), int(i.width()), int(i.height()));
    contentWillRedraw(&part);
    m_widget->update(part);
}

void View::display()
{
    contentWillRedraw(nullptr);
    m_widget->repaint();
}

void View::drawRect(const Rect&) {}

void View::paintFromWidget(QPainter* painter)
{
    m_needsDisplay = false;
    const bool flipped = isFlipped();
    if (!flipped) {
        painter->translate(0, m_frame.height());
        painter->scale(1, -1);
    }
    double scale = painter->device() ? painter->device()->devicePixelRatioF() : 1.0;
    GraphicsContext ctx(painter, flipped, scale);
    drawRect(bounds());
}

namespace {
// The ring round a control that has the keyboard focus. It stands just outside the control, in
// the control's parent and above its neighbours, so that it covers nothing of the control's own (a
// check box's box starts at its left edge); it follows the control as it moves, and lets the mouse
// through. A light line inside the highlight-coloured one keeps it seen beside a face of that
// colour (a chosen tab or button). A control with no parent has its ring inside its own edges.
//
// A control that fills its parent, or sits at its edge (a check box that is a whole row of a list),
// would have its ring cut by that parent's edges: the ring then stands in the nearest container
// round it where it is whole, and follows the control and every container in between.
class FocusRingWidget final : public QWidget {
public:
    static constexpr int kOutset = 3;

    explicit FocusRingWidget(QWidget* control)
        : QWidget(control->parentWidget() ? control->parentWidget() : control), m_control(control),
          m_home(control->parentWidget())
    {
        setObjectName(QStringLiteral("focusRing"));
        setAttribute(Qt::WA_TransparentForMouseEvents);
        setAttribute(Qt::WA_NoSystemBackground);
        setFocusPolicy(Qt::NoFocus);
        hide();
        if (outside())
            watchUpTo(parentWidget());
    }

    // The parent the control had when the ring was made for it.
    const QWidget* home() const { return m_home.data(); }

    // Shown while the control has the focus and is itself shown.
    void setWanted(bool wanted)
    {
        m_wanted = wanted;
        follow();
    }

protected:
    bool eventFilter(QObject* watched, QEvent* e) override
    {
        const bool isControl = watched == m_control;
        switch (e->type()) {
        case QEvent::Move:
        case QEvent::Resize:
        case QEvent::Show:
        case QEvent::Hide:
            follow();
            break;
        case QEvent::ParentChange:
            if (isControl)
                setWanted(false); // taken out of its parent: the ring is made again where the focus next shows
            else
                follow(); // a container in between was moved elsewhere or taken out
            break;
        default:
            break;
        }
        return false;
    }

    void paintEvent(QPaintEvent*) override
    {
        QPainter p(this);
        p.setRenderHint(QPainter::Antialiasing);
        p.setPen(QPen(QGuiApplication::palette().color(QPalette::Highlight), 2));
        p.drawRoundedRect(QRectF(rect()).adjusted(1, 1, -1, -1), 3, 3);
        // Outside a control, both lines and their rounded corners stay off its own pixels.
        const bool out = outside();
        const double inner = out ? 2.0 : 2.75;
        p.setPen(QPen(QColor(255, 255, 255, 220), out ? 1.0 : 1.5));
        p.drawRoundedRect(QRectF(rect()).adjusted(inner, inner, -inner, -inner), out ? 1 : 2, out ? 1 : 2);
    }

private:
    bool outside() const { return parentWidget() != m_control.data(); }

    // The nearest container from the control's parent up in which the ring is whole. It climbs
    // only while the control itself is whole in the container, so a control cut by its container
    // (scrolled half out of sight) never has its ring drawn over what lies beyond; it stops at the
    // window.
    QWidget* hostFor() const
    {
        QWidget* host = m_home.data();
        QRect at(QPoint(0, 0), m_control->size());
        at.moveTopLeft(m_control->pos());
        while (host && !host->isWindow() && host->parentWidget()) {
            const QRect ring = at.adjusted(-kOutset, -kOutset, kOutset, kOutset);
            if (host->rect().contains(ring) || !host->rect().contains(at))
                break;
            at.translate(host->pos());
            host = host->parentWidget();
        }
        return host;
    }

    // Follows the control and every container between it and `host`.
    void watchUpTo(QWidget* host)
    {
        for (const QPointer<QWidget>& w : m_watched)
            if (w)
                w->removeEventFilter(this);
        m_watched.clear();
        for (QWidget* w = m_control.data(); w && w != host; w = w->parentWidget()) {
            w->installEventFilter(this);
            m_watched.push_back(w);
        }
    }

    void follow()
    {
        bool show = m_wanted && m_control && !m_control->isHidden();
        if (show && outside()) {
            // The control must still stand in its first parent, inside what it stood in before.
            if (!m_home || m_control->parentWidget() != m_home.data()) {
                show = false;
            } else {
                QWidget* host = hostFor();
                if (host != parentWidget()) {
                    setParent(host); // leaves the ring hidden
                    watchUpTo(host);
                }
                show = m_control->isVisibleTo(host);
                if (show)
                    setGeometry(QRect(m_control->mapTo(host, QPoint(0, 0)), m_control->size())
                                    .adjusted(-kOutset, -kOutset, kOutset, kOutset));
            }
        } else if (show) {
            setGeometry(m_control->rect());
        }
        if (show)
            raise();
        setVisible(show);
    }

    QPointer<QWidget> m_control;
    QPointer<QWidget> m_home;
    std::vector<QPointer<QWidget>> m_watched;
    bool m_wanted = false;
};
} // namespace

void View::updateFocusRing()
{
    const bool show = m_widget && !acceptsFirstResponder() && hasKeyFocus() && canBecomeKeyView() &&
                      m_frame.width() > 4 && m_frame.height() > 4;
    auto* ring = static_cast<FocusRingWidget*>(m_focusRing.data());
    // A control moved into another parent takes a new ring there.
    const QWidget* home = m_widget ? m_widget->parentWidget() : nullptr;
    if (ring && show && ring->home() != home) {
        delete ring;
        ring = nullptr;
    }
    if (show && !ring) {
        ring = new FocusRingWidget(m_widget);
        m_focusRing = ring;
    }
    if (ring)
        ring->setWanted(show);
}

const QWidget* View::focusRing() const { return m_focusRing.data(); }

bool View::hasKeyFocus() const
{
    if (const Window* w = window())
        return w->firstResponder() == this;
    return m_widget && m_widget->hasFocus();
}

std::vector<View*> View::keyViewsInScreenOrder(bool availableNow)
{
    struct Placed {
        Rect rect; // window coordinates, y up
        std::vector<View*> views; // one view, or a view read in columns with its controls in order
    };
    std::vector<Placed> placed;
    std::function<void(View*)> collect = [&](View* v) {
        if (availableNow && v->isHidden())
            return;
        if (v != this && v->m_keyViewsReadInColumns) {
            std::vector<View*> inside = v->keyViewsInScreenOrder(availableNow);
            if (!inside.empty())
                placed.push_back({v->convertRectToView(v->bounds(), nullptr), std::move(inside)});
            return;
        }
        if (availableNow ? v->canBecomeKeyView() : v->acceptsKeyFocus())
            placed.push_back({v->convertRectToView(v->bounds(), nullptr), {v}});
        for (View* sub : v->subviews())
            collect(sub);
    };
    collect(this);
    // Lines across the reading direction: rows with their top edges first, or columns with their
    // left edges first. A view whose middle lies beside the first of a line belongs to that line;
    // within a line the views go left to right, or top down.
    const bool columns = m_keyViewsReadInColumns;
    const auto lineBefore = [columns](const Placed& a, const Placed& b) {
        return columns ? a.rect.x() < b.rect.x() : a.rect.maxY() > b.rect.maxY();
    };
    const auto inLine = [columns](const Placed& first, const Placed& p) {
        return columns ? p.rect.midX() <= first.rect.maxX() : p.rect.midY() >= first.rect.y();
    };
    const auto alongLine = [columns](const Placed& a, const Placed& b) {
        return columns ? a.rect.maxY() > b.rect.maxY() : a.rect.x() < b.rect.x();
    };
    std::stable_sort(placed.begin(), placed.end(), lineBefore);
    std::vector<View*> order;
    for (size_t start = 0; start < placed.size();) {
        size_t end = start + 1;
        while (end < placed.size() && inLine(placed[start], placed[end]))
            ++end;
        std::stable_sort(placed.begin() + std::ptrdiff_t(start), placed.begin() + std::ptrdiff_t(end), alongLine);
        for (size_t i = start; i < end; ++i)
            order.insert(order.end(), placed[i].views.begin(), placed[i].views.end());
        start = end;
    }
    return order;
}

QImage View::renderToImage(double scale)
{
    const int w = int(std::ceil(m_frame.width() * scale));
    const int h = int(std::ceil(m_frame.height() * scale));
    QImage img(std::max(1, w), std::max(1, h), QImage::Format_ARGB32_Premultiplied);
    img.setDevicePixelRatio(scale);
    img.fill(Qt::transparent);
    m_widget->render(&img, QPoint(), QRegion(), QWidget::DrawChildren);
    return img;
}

namespace {
// One step up: a point in `v`'s coordinates to its superview's (or the window's for the root).
Point toParent(const View* v, Point p)
{
    const Rect f = v->frame();
    const View* s = v->superview();
    if (!s) {
        // The root view fills the window, whose coordinates are unflipped.
        return v->isFlipped() ? Point{p.x, f.height() - p.y} : p;
    }
    Point q{f.x() + p.x, 0};
    q.y = (v->isFlipped() != s->isFlipped()) ? f.y() + f.height() - p.y : f.y() + p.y;
    return q;
}

Point fromParent(const View* v, Point q)
{
    const Rect f = v->frame();
    const View* s = v->superview();
    if (!s)
        return v->isFlipped() ? Point{q.x, f.height() - q.y} : q;
    Point p{q.x - f.x(), 0};
    p.y = (v->isFlipped() != s->isFlipped()) ? f.y() + f.height() - q.y : q.y - f.y();
    return p;
}

Point toWindow(const View* v, Point p)
{
    for (; v; v = v->superview())
        p = toParent(v, p);
    return p;
}

Point fromWindow(const View* v, Point p)
{
    std::vector<const View*> chain;
    for (; v; v = v->superview())
        chain.push_back(v);
    for (auto it = chain.rbegin(); it != chain.rend(); ++it)
        p = fromParent(*it, p);
    return p;
}
} // namespace

Point View::convertPointFromView(Point p, const View* from) const
{
    if (from)
        p = toWindow(from, p);
    return fromWindow(this, p);
}

Point View::convertPointToView(Point p, const View* to) const
{
    Point w = toWindow(this, p);
    return to ? fromWindow(to, w) : w;
}

Rect View::convertRectFromView(const Rect& r, const View* from) const
{
    Point a = convertPointFromView(r.origin, from);
    Point b = convertPointFromView(Point{r.maxX(), r.maxY()}, from);
    return Rect(std::min(a.x, b.x), std::min(a.y, b.y), std::fabs(b.x - a.x), std::fabs(b.y - a.y));
}

Rect View::convertRectToView(const Rect& r, const View* to) const
{
    Point a = convertPointToView(r.origin, to);
    Point b = convertPointToView(Point{r.maxX(), r.maxY()}, to);
    return Rect(std::min(a.x, b.x), std::min(a.y, b.y), std::fabs(b.x - a.x), std::fabs(b.y - a.y));
}

View* View::hitTest(Point pointInSuperview)
{
    if (m_hidden)
        return nullptr;
    Point local = m_superview ? fromParent(this, pointInSuperview) : fromWindow(this, pointInSuperview);
    if (!mouseInBounds(local))
        return nullptr;
    Point inSelf = local;
    for (auto it = m_subviews.rbegin(); it != m_subviews.rend(); ++it)
        if (View* hit = (*it)->hitTest(inSelf))
            return hit;
    return this;
}

// The responder chain: a view hands what it does not handle to its superview, the root view
// to its window.
#define KPV_FORWARD(method)                                                                      \
    void View::method(const Event& e)                                                            \
    {                                                                                            \
        if (m_superview)                                                                         \
            m_superview->method(e);                                                              \
        else if (m_window)                                                                       \
            m_window->method(e);                                                                 \
    }
KPV_FORWARD(mouseDown)
KPV_FORWARD(mouseUp)
KPV_FORWARD(mouseDragged)
KPV_FORWARD(rightMouseDown)
KPV_FORWARD(rightMouseUp)
KPV_FORWARD(rightMouseDragged)
KPV_FORWARD(otherMouseDown)
KPV_FORWARD(otherMouseUp)
KPV_FORWARD(scrollWheel)
KPV_FORWARD(keyDown)
KPV_FORWARD(keyUp)
KPV_FORWARD(flagsChanged)
KPV_FORWARD(magnifyWithEvent)
KPV_FORWARD(rotateWithEvent)
KPV_FORWARD(swipeWithEvent)
KPV_FORWARD(smartMagnifyWithEvent)
#undef KPV_FORWARD

// Tracking events go to their owner only.
void View::mouseMoved(const Event&) {}
void View::mouseEntered(const Event&) {}
void View::mouseExited(const Event&) {}
void View::cursorUpdate(const Event&) {}

Menu* View::menuForEvent(const Event& e)
{
    return m_superview ? m_superview->menuForEvent(e) : nullptr;
}

void View::addTrackingArea(const TrackingAreaPtr& area)
{
    if (area && std::find(m_trackingAreas.begin(), m_trackingAreas.end(), area) == m_trackingAreas.end())
        m_trackingAreas.push_back(area);
}

void View::removeTrackingArea(const TrackingAreaPtr& area)
{
    m_trackingAreas.erase(std::remove(m_trackingAreas.begin(), m_trackingAreas.end(), area),
                          m_trackingAreas.end());
}

void View::addCursorRect(const Rect& r, const Cursor& cursor) { m_cursorRects.push_back({r, cursor}); }

void View::discardCursorRects()
{
    m_cursorRects.clear();
    m_cursorRectsValid = false;
}

const std::vector<View::CursorRect>& View::cursorRects()
{
    if (!m_cursorRectsValid) {
        m_cursorRects.clear();
        m_cursorRectsValid = true;
        resetCursorRects();
    }
    return m_cursorRects;
}

void View::setToolTip(const QString& tip)
{
    m_toolTip = tip;
    m_widget->setToolTip(plainToolTip(tip));
}

void View::setAcceptsTouchPinch(bool accepts)
{
    // Qt recognises the pinch from the touch points; the touches themselves are left unhandled,
    // so a single finger still reaches the view as a mouse.
    m_widget->setAttribute(Qt::WA_AcceptTouchEvents, accepts);
    if (accepts)
        m_widget->grabGesture(Qt::PinchGesture);
    else
        m_widget->ungrabGesture(Qt::PinchGesture);
}

} // namespace kpv
