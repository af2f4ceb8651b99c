// The engine's own OpenGL context on Qt: an off-screen context in the application's share group,
// current while scenes are loaded and textures, buffers and programs are made.
#ifndef DOVE_QTOGLCONTEXT_H
#define DOVE_QTOGLCONTEXT_H

#include <QPointer>
#include <QSurfaceFormat>
#include <memory>

#include "DoveOGLContext.h"

class QOffscreenSurface;
class QOpenGLContext;
class QSurface;

namespace Dove {

class QtOGLContext : public OGLContext {
public:
    // The pixel format of the engine's context and of every render view: double-buffered RGBA
    // with 24 colour bits, 8 alpha bits and a 16-bit depth buffer, compatibility profile.
    static QSurfaceFormat pixelFormat();

    // Makes the context and makes it current. When the application has no share context (see
    // kpv::OpenGLView::configureSharedContext) the engine's objects stay invisible to the views.
    QtOGLContext();
    ~QtOGLContext() override;

    void setCurrent() override;
    void endCurrent() override;
    void swapBuffer() override {}  // the view presents its own frames
    void restoreGLContext() override;
    void* getOpenGLContext() override;
    void* getPixelFormat() override { return &mFormat; }

    QOpenGLContext* context() const { return mContext.get(); }
    // The context that was current before the last setCurrent (null: none).
    QOpenGLContext* previousContext() const;

private:
    QSurfaceFormat mFormat;
    std::unique_ptr<QOffscreenSurface> mSurface;
    std::unique_ptr<QOpenGLContext> mContext;
    QPointer<QObject> mPrevious;  // a QOpenGLContext
    QSurface* mPreviousSurface = nullptr;
};

}  // namespace Dove

#endif
