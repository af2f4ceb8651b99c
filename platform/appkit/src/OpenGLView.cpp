#include "appkit/OpenGLView.h"

#include <QCoreApplication>
#include <QImage>
#include <QOffscreenSurface>
#include <QOpenGLContext>
#include <QOpenGLFramebufferObject>
#include <QOpenGLFunctions>
#include <QPaintEvent>
#include <QPainter>
#include <QPointer>
#include <QRegion>
#include <QSurfaceFormat>
#include <QWidget>

#include <cmath>
#include <cstring>
#include <vector>

namespace kpv {

class GLWidget : public QWidget {
public:
    explicit GLWidget(OpenGLView* view) : m_view(view)
    {
        setMouseTracking(true);
        // Every pixel of a painted part comes from the frame buffer: nothing under the view is
        // painted first.
        setAttribute(Qt::WA_OpaquePaintEvent);
        setAttribute(Qt::WA_NoSystemBackground);
    }
    void detach() { m_view = nullptr; }
    OpenGLView* view() const { return m_view; }

protected:
    void paintEvent(QPaintEvent* event) override
    {
        if (m_view)
            m_view->paintFromGLWidget(event->region());
    }

private:
    OpenGLView* m_view;
};

struct OpenGLView::Surface {
    QOffscreenSurface offscreen;
    QOpenGLContext own;                // unused by a view that draws in the shared context
    QOpenGLContext* context = nullptr; // once made
    std::unique_ptr<QOpenGLFramebufferObject> fbo;
    bool prepared = false;
    bool failed = false;
    QImage frame;  // the last drawn pixels, y down
    QRegion dirty; // widget pixels of `frame` to draw again
    std::vector<std::function<void()>> afterFrame;
};

OpenGLView::OpenGLView(const Rect& frame) : View(frame, new GLWidget(this)) {}

OpenGLView::~OpenGLView()
{
    if (auto* w = dynamic_cast<GLWidget*>(widget()))
        w->detach();
    if (m_surface && m_surface->context) {
        // The frame buffer is deleted with its own context current.
        QOpenGLContext* context = m_surface->context;
        QOpenGLContext* previous = QOpenGLContext::currentContext();
        QSurface* previousSurface = previous ? previous->surface() : nullptr;
        if (context->makeCurrent(&m_surface->offscreen)) {
            m_surface->fbo.reset();
            context->doneCurrent();
        }
        if (previous && previousSurface && previousSurface != &m_surface->offscreen)
            previous->makeCurrent(previousSurface);
    }
}

void OpenGLView::configureSharedContext()
{
    QSurfaceFormat format;
    format.setRenderableType(QSurfaceFormat::OpenGL);
    format.setProfile(QSurfaceFormat::CompatibilityProfile);
    format.setVersion(2, 1);
    format.setDepthBufferSize(24);
    format.setStencilBufferSize(8);
    QSurfaceFormat::setDefaultFormat(format);
}

QOpenGLContext* OpenGLView::sharedContext()
{
    // Lives as long as the process: every context of every view shares its objects.
    static QOpenGLContext* const root = []() -> QOpenGLContext* {
        if (QOpenGLContext* own = QOpenGLContext::globalShareContext())
            return own; // a program that asked the toolkit for one
        auto* context = new QOpenGLContext;
        context->setFormat(QSurfaceFormat::defaultFormat());
        if (!context->create()) {
            delete context;
            return nullptr;
        }
        return context;
    }();
    return root;
}

void OpenGLView::drawRect(const Rect&)
{
    if (QOpenGLContext* ctx = QOpenGLContext::currentContext()) {
        ctx->functions()->glClearColor(0, 0, 0, 0);
        ctx->functions()->glClear(GL_COLOR_BUFFER_BIT);
    }
}

OpenGLView::PaintWithoutOpenGL OpenGLView::paintWithoutOpenGL(QPainter&, const QRect&)
{
    return PaintWithoutOpenGL::NeedsOpenGL;
}

QImage OpenGLView::paintedWithoutOpenGL()
{
    QWidget* w = widget();
    const double dpr = w->devicePixelRatioF();
    QImage image(QSize(int(std::lround(w->width() * dpr)), int(std::lround(w->height() * dpr))),
                 QImage::Format_ARGB32_Premultiplied);
    if (image.isNull())
        return QImage();
    image.setDevicePixelRatio(dpr);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    painter.setCompositionMode(QPainter::CompositionMode_Source);
    painter.setClipRect(w->rect());
    const bool painted = paintWithoutOpenGL(painter, w->rect()) != PaintWithoutOpenGL::NeedsOpenGL;
    painter.end();
    return painted ? image : QImage();
}

void OpenGLView::startOpenGL()
{
    if (m_openGLStarted)
        return;
    m_openGLStarted = true;
    m_openGLStartPending = false;
    if (!m_surface)
        m_surface = std::make_unique<Surface>();
    openGLWillStart();
    // What is on screen was painted without OpenGL: all of it is drawn again.
    contentWillRedraw(nullptr);
}

bool OpenGLView::paintFromPainter(QPainter& painter, const QRect& bounding)
{
    switch (paintWithoutOpenGL(painter, bounding)) {
    case PaintWithoutOpenGL::NeedsOpenGL:
        startOpenGL();
        return false;
    case PaintWithoutOpenGL::Clear:
        return true;
    case PaintWithoutOpenGL::Picture:
        break;
    case PaintWithoutOpenGL::PictureAtRest:
        m_openGLStartPending = false;
        return true;
    }
    m_openGLStartPending = true;
    return true;
}

void OpenGLView::startOpenGLAfterFrame()
{
    QPointer<GLWidget> guard(static_cast<GLWidget*>(widget()));
    // Queued calls run once the window has put the paint on screen, and after the calls that
    // waited for it: OpenGL is set up then, and its first frame replaces the picture.
    QMetaObject::invokeMethod(
        guard.data(),
        [this, guard] {
            if (!guard || guard->view() != this || !m_openGLStartPending)
                return;
            startOpenGL();
            guard->update();
        },
        Qt::QueuedConnection);
}

bool OpenGLView::ensureContext()
{
    startOpenGL();
    Surface& s = *m_surface;
    if (s.failed)
        return false;
    if (!s.context) {
        const QSurfaceFormat format = QSurfaceFormat::defaultFormat();
        s.offscreen.setFormat(format);
        s.offscreen.create();
        if (drawsInSharedContext()) {
            s.context = s.offscreen.isValid() ? sharedContext() : nullptr;
        } else {
            s.own.setFormat(format);
            s.own.setShareContext(sharedContext());
            if (s.offscreen.isValid() && s.own.create())
                s.context = &s.own;
        }
        if (!s.context) {
            s.failed = true;
            return false;
        }
    }
    return s.context->makeCurrent(&s.offscreen);
}

void OpenGLView::performAfterNextFrame(std::function<void()> block)
{
    if (!block)
        return;
    QWidget* w = widget();
    if (!w->isVisible() || w->size().isEmpty()) {
        QMetaObject::invokeMethod(w, std::move(block), Qt::QueuedConnection);
        return;
    }
    if (!m_surface)
        m_surface = std::make_unique<Surface>();
    m_surface->afterFrame.push_back(std::move(block));
    w->update();
}

void OpenGLView::makeCurrentContext()
{
    if (ensureContext() && m_surface->fbo)
        m_surface->fbo->bind();
}

void OpenGLView::clearCurrentContext()
{
    if (m_surface && m_surface->context)
        m_surface->context->doneCurrent();
}

QOpenGLContext* OpenGLView::openGLContext() const
{
    return m_surface ? m_surface->context : nullptr;
}

uint32_t OpenGLView::defaultFramebufferObject() const
{
    return m_surface && m_surface->fbo ? m_surface->fbo->handle() : 0;
}

namespace {

// The frame-buffer pixels that cover `rect` (widget pixels), inside a frame buffer of `pixels`.
QRect devicePixels(const QRect& rect, double dpr, const QSize& pixels)
{
    const QPoint topLeft(int(std::floor(rect.x() * dpr)), int(std::floor(rect.y() * dpr)));
    const QPoint bottomRight(int(std::ceil((rect.right() + 1) * dpr)) - 1, int(std::ceil((rect.bottom() + 1) * dpr)) - 1);
    return QRect(topLeft, bottomRight).intersected(QRect(QPoint(0, 0), pixels));
}

} // namespace

bool OpenGLView::renderRegion(const QRegion& region)
{
    QWidget* w = widget();
    const double dpr = w->devicePixelRatioF();
    const QSize pixels(int(std::lround(w->width() * dpr)), int(std::lround(w->height() * dpr)));
    if (pixels.isEmpty() || !ensureContext())
        return false;
    Surface& s = *m_surface;
    QOpenGLFunctions* gl = s.context->functions();
    bool resized = false;
    if (!s.fbo || s.fbo->size() != pixels) {
        s.fbo.reset();
        s.fbo = std::make_unique<QOpenGLFramebufferObject>(
            pixels, drawsWithDepth() ? QOpenGLFramebufferObject::CombinedDepthStencil : QOpenGLFramebufferObject::NoAttachment);
        if (!s.fbo->isValid()) {
            s.fbo.reset();
            return false;
        }
        resized = true;
    }
    s.fbo->bind();
    gl->glViewport(0, 0, pixels.width(), pixels.height());
    if (!s.prepared) {
        s.prepared = true;
        prepareOpenGL();
    }
    if (resized)
        reshape();
    gl->glViewport(0, 0, pixels.width(), pixels.height());
    // Only the asked part is drawn: the scissor box keeps the rest of the frame buffer as it was.
    const QRect box = devicePixels(region.boundingRect(), dpr, pixels);
    if (box.isEmpty())
        return false;
    const bool whole = box == QRect(QPoint(0, 0), pixels);
    if (!whole) {
        gl->glEnable(GL_SCISSOR_TEST);
        gl->glScissor(box.x(), pixels.height() - box.y() - box.height(), box.width(), box.height());
    }
    ++m_drawCount;
    drawRect(bounds());
    if (!whole)
        gl->glDisable(GL_SCISSOR_TEST);
    return true;
}

namespace {

// Reads `box` (frame-buffer pixels, y down) of the bound frame buffer into the same place of
// `image`, a picture of the whole frame buffer as premultiplied ARGB words: the layout of the
// window's own pixels, so painting it is a plain copy.
void readPixels(QOpenGLFunctions* gl, const QRect& box, QImage* image)
{
    gl->glPixelStorei(GL_PACK_ALIGNMENT, 4);
    gl->glPixelStorei(GL_PACK_ROW_LENGTH, image->width());
    uchar* first = image->scanLine(box.y()) + size_t(box.x()) * 4;
    gl->glReadPixels(box.x(), image->height() - box.y() - box.height(), box.width(), box.height(), GL_BGRA,
                     GL_UNSIGNED_BYTE, first);
    gl->glPixelStorei(GL_PACK_ROW_LENGTH, 0);
    // Frame-buffer rows run upward: turn the box's rows over in place.
    const size_t bytes = size_t(box.width()) * 4;
    std::vector<uchar> row(bytes);
    for (int top = box.y(), bottom = box.y() + box.height() - 1; top < bottom; ++top, --bottom) {
        uchar* a = image->scanLine(top) + size_t(box.x()) * 4;
        uchar* b = image->scanLine(bottom) + size_t(box.x()) * 4;
        std::memcpy(row.data(), a, bytes);
        std::memcpy(a, b, bytes);
        std::memcpy(b, row.data(), bytes);
    }
}

} // namespace

void OpenGLView::contentWillRedraw(const QRect* widgetRect)
{
    if (!m_surface)
        return;
    if (widgetRect)
        m_surface->dirty += *widgetRect;
    else
        m_surface->dirty = QRegion(QRect(QPoint(0, 0), widget()->size()));
}

void OpenGLView::paintFromGLWidget(const QRegion& region)
{
    QWidget* w = widget();
    QPainter painter(w);
    painter.setCompositionMode(QPainter::CompositionMode_Source);
    const QRect bounding = region.boundingRect().intersected(w->rect());
    if (bounding.isEmpty())
        return;
    if (!m_surface)
        m_surface = std::make_unique<Surface>();
    Surface& s = *m_surface;
    // The window puts the painted pixels on screen right after this paint, before queued calls run.
    auto frameDone = [&] {
        for (std::function<void()>& block : s.afterFrame)
            QMetaObject::invokeMethod(w, std::move(block), Qt::QueuedConnection);
        s.afterFrame.clear();
    };
    if (!m_heldPicture.isNull()) {
        const double dpr = w->devicePixelRatioF();
        const QSize pixels(int(std::lround(w->width() * dpr)), int(std::lround(w->height() * dpr)));
        if (m_heldPicture.size() == pixels) {
            painter.setClipRegion(region);
            painter.drawImage(QRectF(bounding), m_heldPicture, QRectF(devicePixels(bounding, dpr, pixels)));
            frameDone();
            return;
        }
        // Held for another size: what the view holds now is drawn for this one.
        m_heldPicture = QImage();
    }
    // Where no context can be made, what the painter can show is still painted that way.
    const bool noOpenGL = m_openGLStarted && m_surface && m_surface->failed;
    if ((!m_openGLStarted || noOpenGL) && m_paintsWithoutOpenGL) {
        painter.save();
        painter.setClipRegion(region);
        const bool painted = paintFromPainter(painter, bounding);
        painter.restore();
        if (painted) {
            frameDone();
            if (m_openGLStartPending && !noOpenGL)
                startOpenGLAfterFrame();
            return;
        }
    }
    QOpenGLContext* previous = QOpenGLContext::currentContext();
    QSurface* previousSurface = previous ? previous->surface() : nullptr;
    const double dpr = w->devicePixelRatioF();
    const QSize pixels(int(std::lround(w->width() * dpr)), int(std::lround(w->height() * dpr)));
    if (s.frame.size() != pixels) {
        s.frame = QImage(pixels, QImage::Format_ARGB32_Premultiplied);
        s.dirty = QRegion(w->rect());
    }
    // Only what was marked for redrawing is drawn again; the rest comes from the kept pixels.
    const QRect stale = (s.dirty & QRegion(bounding)).boundingRect();
    bool ok = !s.frame.isNull();
    if (ok && !stale.isEmpty()) {
        ok = renderRegion(QRegion(stale));
        if (ok) {
            readPixels(s.context->functions(), devicePixels(stale, dpr, pixels), &s.frame);
            s.dirty -= stale;
        }
    }
    if (ok) {
        painter.setClipRegion(region);
        painter.drawImage(QRectF(bounding), s.frame, QRectF(devicePixels(bounding, dpr, pixels)));
    } else {
        painter.fillRect(bounding, Qt::black);
    }
    if (previous && previousSurface && previousSurface != &s.offscreen)
        previous->makeCurrent(previousSurface);
    frameDone();
}

bool OpenGLView::replaceKeptPixels(const Rect& rect, const QImage& pixels)
{
    if (!m_surface || pixels.isNull() || pixels.depth() != 32)
        return false;
    Surface& s = *m_surface;
    QWidget* w = widget();
    const double dpr = w->devicePixelRatioF();
    const QSize size(int(std::lround(w->width() * dpr)), int(std::lround(w->height() * dpr)));
    if (s.frame.isNull() || s.frame.size() != size || !w->isVisible())
        return false;
    // Widget coordinates run downward; only whole widget points are taken.
    const double top = isFlipped() ? rect.y() : frame().height() - rect.maxY();
    const QRectF exact(rect.x(), top, rect.width(), rect.height());
    const QRect part = exact.toAlignedRect();
    if (QRectF(part) != exact || part.isEmpty() || !w->rect().contains(part) || s.dirty.intersects(part))
        return false;
    const QRect box = devicePixels(part, dpr, size);
    if (box.size() != pixels.size() || box.size() != QSizeF(part.size() * dpr).toSize())
        return false;
    switch (pixels.format()) {
    case QImage::Format_ARGB32_Premultiplied:
    case QImage::Format_ARGB32:
    case QImage::Format_RGB32:
        for (int y = 0; y < box.height(); ++y)
            std::memcpy(s.frame.scanLine(box.y() + y) + size_t(box.x()) * 4, pixels.constScanLine(y),
                        size_t(box.width()) * 4);
        break;
    case QImage::Format_RGBA8888_Premultiplied:
    case QImage::Format_RGBA8888:
    case QImage::Format_RGBX8888:
        // Red first in memory: red and blue change places, alpha stays as it is.
        if (Q_BYTE_ORDER != Q_LITTLE_ENDIAN)
            return false;
        for (int y = 0; y < box.height(); ++y) {
            const auto* from = reinterpret_cast<const uint32_t*>(pixels.constScanLine(y));
            auto* to = reinterpret_cast<uint32_t*>(s.frame.scanLine(box.y() + y)) + box.x();
            for (int x = 0; x < box.width(); ++x) {
                uint32_t p;
                std::memcpy(&p, from + x, 4);
                to[x] = (p & 0xFF00FF00u) | ((p >> 16) & 0xFFu) | ((p & 0xFFu) << 16);
            }
        }
        break;
    default:
        return false;
    }
    w->update(part);
    return true;
}

bool OpenGLView::holdPictureOnScreen()
{
    if (!m_heldPicture.isNull())
        return true;
    QWidget* w = widget();
    if (!w->isVisible() || w->size().isEmpty())
        return false;
    const double dpr = w->devicePixelRatioF();
    const QSize pixels(int(std::lround(w->width() * dpr)), int(std::lround(w->height() * dpr)));
    const bool noOpenGL = m_openGLStarted && m_surface && m_surface->failed;
    QImage held;
    if ((!m_openGLStarted || noOpenGL) && m_paintsWithoutOpenGL) {
        // Painted, the view shows what its painter paints.
        held = paintedWithoutOpenGL();
        held.setDevicePixelRatio(1);
    } else if (m_surface && m_surface->frame.size() == pixels) {
        // Drawn, it shows its kept pixels; a part still marked (under another view, or not painted
        // yet) is drawn first, as the next paint would draw it. Shared, not copied: nothing draws
        // into them while they are held.
        Surface& s = *m_surface;
        if (!s.dirty.isEmpty()) {
            QOpenGLContext* previous = QOpenGLContext::currentContext();
            QSurface* previousSurface = previous ? previous->surface() : nullptr;
            const QRect stale = s.dirty.boundingRect().intersected(w->rect());
            if (!stale.isEmpty() && renderRegion(QRegion(stale))) {
                readPixels(s.context->functions(), devicePixels(stale, dpr, pixels), &s.frame);
                s.dirty = QRegion();
            }
            if (previous && previousSurface && previousSurface != &s.offscreen)
                previous->makeCurrent(previousSurface);
        }
        if (s.dirty.isEmpty())
            held = s.frame;
    }
    if (held.isNull() || held.size() != pixels)
        return false;
    m_heldPicture = std::move(held);
    return true;
}

void OpenGLView::releasePictureOnScreen()
{
    if (m_heldPicture.isNull())
        return;
    m_heldPicture = QImage();
    widget()->update();
}

QImage OpenGLView::grabFramebuffer()
{
    QWidget* w = widget();
    if (!renderRegion(QRegion(w->rect())))
        return QImage();
    QImage image(m_surface->fbo->size(), QImage::Format_ARGB32_Premultiplied);
    if (image.isNull())
        return QImage();
    readPixels(m_surface->context->functions(), image.rect(), &image);
    image.setDevicePixelRatio(w->devicePixelRatioF());
    return image;
}

} // namespace kpv
