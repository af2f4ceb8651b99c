#pragma once
// A view drawn with OpenGL. Every OpenGL view shares one context group with a compatibility
// profile, so textures made in one are usable in all; call configureSharedContext() before the
// QApplication is made. drawRect runs with the view's context current and its frame buffer bound.
//
// The view draws into a frame-buffer object of its own and keeps the last drawn pixels, which it
// paints into the window like any other view, so a window with an OpenGL view stays an ordinary
// window: a redraw of a small part of the view costs that part, and the views over it (toolbars,
// status lines, their fades) repaint over the kept pixels without drawing the scene again. Only
// the parts marked by setNeedsDisplay, setNeedsDisplayInRect, display or a change of size are drawn
// again. While a part is drawn the scissor box is set to it; drawRect may clear and draw the whole
// view, only that part changes.
//
// Setting up OpenGL (the context, the driver's first shader compiles) costs a software driver a
// good tenth of a second. A view told to paint its first picture without OpenGL paints with the
// window's painter for as long as the painter can show what the view holds, and sets up OpenGL
// only when a paint needs it (or, after a picture painted only for a start, once it is on
// screen); the first frame drawn by OpenGL then replaces what was painted.

#include "appkit/View.h"

#include <QImage>

#include <cstdint>
#include <functional>
#include <memory>

class QOpenGLContext;
class QPainter;
class QRect;
class QRegion;

namespace kpv {

class OpenGLView : public View {
public:
    explicit OpenGLView(const Rect& frame = Rect());
    ~OpenGLView() override;

    // Sets the pixel format every context takes; call before the QApplication is made.
    static void configureSharedContext();
    // The context every other shares with (views, texture uploads, the scene engine). Made on the
    // first call, on the application's thread, not at start: a program that shows its pictures
    // without OpenGL never loads the driver. Null when no context can be made.
    static QOpenGLContext* sharedContext();

    // Once, with the context current, before the first drawing.
    virtual void prepareOpenGL() {}
    // After the view's size changed, with the context current.
    virtual void reshape() {}
    void drawRect(const Rect& dirty) override;
    // Makes the view's context current with its frame buffer bound (the context is made on the
    // first call).
    void makeCurrentContext();
    void clearCurrentContext();
    // Does nothing: the frame reaches the screen when drawRect returns.
    void flushBuffer() {}
    // Calls `block` on the main thread once the view's next frame is on screen; at the next turn of
    // the run loop when the view is not shown.
    void performAfterNextFrame(std::function<void()> block);
    // Null until the view first drew or was made current.
    QOpenGLContext* openGLContext() const;
    // The name of the frame buffer drawRect draws into (0 before the first drawing).
    uint32_t defaultFramebufferObject() const;
    // Draws the whole view now and returns it, rows from the top; null when the view has no size
    // or no context can be made.
    QImage grabFramebuffer();
    // Puts `pixels` (ARGB words or red-first bytes, rows from the top) into the view's kept pixels at
    // `rect` (view coordinates) and repaints that part without drawing: for content the view would
    // draw pixel for pixel, such as the next frame of an animation shown at actual size. False, and
    // nothing changes, when `rect` does not cover exactly as many device pixels as `pixels` has,
    // when the view has no kept pixels of its present size, or when a part of `rect` is still to be
    // drawn; the caller then draws as usual.
    bool replaceKeptPixels(const Rect& rect, const QImage& pixels);
    // Keeps what the view shows now on screen, whatever it is asked to draw meanwhile, until
    // releasePictureOnScreen(): for content that is taken down before the next is there, so
    // that the screen goes from one straight to the other. What is marked for drawing meanwhile
    // is drawn at the release. A change of size lets go on its own. False, and nothing is held,
    // when the view is not shown or its pixels on screen are not all drawn yet.
    bool holdPictureOnScreen();
    void releasePictureOnScreen();
    bool holdsPictureOnScreen() const { return !m_heldPicture.isNull(); }
    // How many times the view drew (any part of it), for tests of redraw economy.
    uint64_t drawCount() const { return m_drawCount; }

    // Off by default. Set before the view is first shown; any use of OpenGL sets it up at once.
    void setPaintsFirstPictureWithoutOpenGL(bool flag) { m_paintsWithoutOpenGL = flag; }
    // Whether the view has set up OpenGL (and draws with it from then on).
    bool openGLStarted() const { return m_openGLStarted; }
    // Whether the view still paints without OpenGL and leaves OpenGL work for later.
    bool waitsForOpenGL() const { return m_paintsWithoutOpenGL && !m_openGLStarted; }
    // The whole view as the window's painter shows it without OpenGL, rows from the top, whether
    // or not OpenGL is set up by now; null when only OpenGL can show what the view holds.
    QImage paintedWithoutOpenGL();

protected:
    void contentWillRedraw(const QRect* widgetRect) override;

    enum class PaintWithoutOpenGL {
        NeedsOpenGL, // nothing painted: the view needs OpenGL to show what it holds
        Clear,       // painted clear, exactly as OpenGL would clear the view
        Picture,     // painted its picture; OpenGL is set up once it is on screen
        // Painted its picture as OpenGL would draw it: OpenGL is set up only when a paint needs it.
        PictureAtRest,
    };
    // While OpenGL is not set up (see setPaintsFirstPictureWithoutOpenGL): paints `rect` (widget
    // pixels; the painter is clipped to it and replaces what is there) and says what it painted.
    virtual PaintWithoutOpenGL paintWithoutOpenGL(QPainter& painter, const QRect& rect);
    // Once, when OpenGL is set up and before the view first draws with it: what was left for OpenGL
    // is prepared now (textures).
    virtual void openGLWillStart() {}
    // Whether drawRect uses a depth and stencil buffer; a view that draws flat pictures says no
    // and its frame buffer goes without (a window-sized buffer less).
    virtual bool drawsWithDepth() const { return true; }
    // Whether the view draws in the context every view shares with rather than in one of its own:
    // for a view that sets all the state it draws with at every drawing, and keeps its drawing
    // to the application's thread. Making a context costs a software driver several milliseconds
    // at start.
    virtual bool drawsInSharedContext() const { return false; }

private:
    friend class GLWidget;
    struct Surface;
    bool ensureContext();
    // Sets up OpenGL for the view from now on; the whole view is drawn with it at the next paint.
    void startOpenGL();
    // Paints without OpenGL while it is not set up; false when OpenGL must draw this paint.
    bool paintFromPainter(QPainter& painter, const QRect& bounding);
    void startOpenGLAfterFrame();
    // Draws `region` (widget pixels) into the frame buffer; false when nothing could be drawn.
    bool renderRegion(const QRegion& region);
    void paintFromGLWidget(const QRegion& region);

    std::unique_ptr<Surface> m_surface;
    // The pixels held on screen (device pixels, rows from the top); null when none are.
    QImage m_heldPicture;
    uint64_t m_drawCount = 0;
    bool m_paintsWithoutOpenGL = false;
    bool m_openGLStarted = false;
    bool m_openGLStartPending = false;
};

} // namespace kpv
