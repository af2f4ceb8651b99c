#include "DoveQtOGLContext.h"

#include "appkit/OpenGLView.h"

#include <QOffscreenSurface>
#include <QOpenGLContext>

namespace Dove {

QSurfaceFormat QtOGLContext::pixelFormat() {
    QSurfaceFormat f;
    f.setRenderableType(QSurfaceFormat::OpenGL);
    f.setProfile(QSurfaceFormat::CompatibilityProfile);
    f.setSwapBehavior(QSurfaceFormat::DoubleBuffer);
    f.setRedBufferSize(8);
    f.setGreenBufferSize(8);
    f.setBlueBufferSize(8);
    f.setAlphaBufferSize(8);
    f.setDepthBufferSize(16);
    return f;
}

QtOGLContext::QtOGLContext() : mFormat(pixelFormat()) {
    mSurface = std::make_unique<QOffscreenSurface>();
    mSurface->setFormat(mFormat);
    mSurface->create();
    auto context = std::make_unique<QOpenGLContext>();
    context->setFormat(mFormat);
    context->setShareContext(kpv::OpenGLView::sharedContext());
    if (mSurface->isValid() && context->create() && context->makeCurrent(mSurface.get())) {
        mFormat = context->format();
        mContext = std::move(context);
    }
    // Initialised either way: a context that could not be made leaves the engine drawing nothing.
    mInitialized = 1;
}

QtOGLContext::~QtOGLContext() {
    if (mContext && QOpenGLContext::currentContext() == mContext.get()) mContext->doneCurrent();
    mContext.reset();
    mSurface.reset();
    mInitialized = 0;
}

void QtOGLContext::setCurrent() {
    if (!mContext) return;
    QOpenGLContext* current = QOpenGLContext::currentContext();
    if (current == mContext.get()) return;
    mPrevious = current;
    mPreviousSurface = current ? current->surface() : nullptr;
    mContext->makeCurrent(mSurface.get());
}

void QtOGLContext::restoreGLContext() {
    QOpenGLContext* current = QOpenGLContext::currentContext();
    QOpenGLContext* previous = previousContext();
    if (current == previous) return;
    if (previous && mPreviousSurface)
        previous->makeCurrent(mPreviousSurface);
    else if (current)
        current->doneCurrent();  // the remembered context is none, or gone
}

void QtOGLContext::endCurrent() {
    if (QOpenGLContext* current = QOpenGLContext::currentContext()) current->doneCurrent();
}

QOpenGLContext* QtOGLContext::previousContext() const { return static_cast<QOpenGLContext*>(mPrevious.data()); }

void* QtOGLContext::getOpenGLContext() { return mContext.get(); }

}  // namespace Dove
