#pragma once
// A view drawn with OpenGL. Every OpenGL view shares one context group with a compatibility
// profile, so textures made in one are usable in all; call configureSharedContext() before the
// QApplication is made. drawRect runs with the view's context current.

#include "appkit/View.h"

#include <functional>

class QOpenGLContext;

namespace kpv {

class OpenGLView : public View {
public:
    explicit OpenGLView(const Rect& frame = Rect());
    ~OpenGLView() override;

    static void configureSharedContext();
    static QOpenGLContext* sharedContext();

    // Once, with the context current, before the first drawing.
    virtual void prepareOpenGL() {}
    // After the view's size changed, with the context current.
    virtual void reshape() {}
    void drawRect(const Rect& dirty) override;
    void makeCurrentContext();
    void clearCurrentContext();
    // Does nothing: the frame reaches the screen when drawRect returns.
    void flushBuffer() {}
    // Calls `block` on the main thread once the view's next frame is on screen; at the next turn of
    // the run loop when the view is not shown.
    void performAfterNextFrame(std::function<void()> block);
    QOpenGLContext* openGLContext() const;

private:
    friend class GLWidget;
    void paintGLFromWidget();
    void resizeGLFromWidget();
    void initializeGLFromWidget();
};

} // namespace kpv
