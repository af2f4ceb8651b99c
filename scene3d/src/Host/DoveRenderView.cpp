#include "DoveRenderView.h"

#include <QWidget>
#include <QWindow>

#include "DoveFrameBuffer.h"
#include "DoveRenderEngine.h"
#include "appkit/View.h"
#include "appkit/Window.h"
#include "appkit/WindowSystem.h"
#include "foundation/Clock.h"
#include "foundation/RunLoop.h"
#include "foundation/Timer.h"

namespace Dove {

DoveRenderView::DoveRenderView(kpv::View* hostView, OGLRenderWindow*) : mHostView(hostView) {
    const kpv::Rect frame = hostView ? hostView->bounds() : kpv::Rect();
    mLayer = new DoveOpenGLLayer(frame);
    mLayer->setLayerDelegate(this);
    mLayerWidget = mLayer->widget();
    if (hostView) {
        mLayer->setAutoresizingMask(kFillHostMask);
        hostView->addSubview(mLayer);  // the host owns the layer from here on
    } else {
        mOwnsLayer = true;
    }
    startRender();
}

DoveRenderView::~DoveRenderView() {
    stopRender();
    if (!mLayerWidget) return;  // the host went first and took the layer with it
    mLayer->setLayerDelegate(nullptr);
    if (!mOwnsLayer) mLayer->removeFromSuperview();  // hands ownership back
    delete mLayer;
}

void DoveRenderView::startRender() {
    if (mRenderTimer) return;
    mDrawing = true;
    // Common mode: frames go on during event tracking and modal loops.
    mRenderTimer = kpv::Timer::scheduled(
        kFrameTimerInterval, true, [this](kpv::Timer&) { doveDraw(); }, kpv::TimerMode::Common);
}

void DoveRenderView::stopRender() {
    if (mRenderTimer) mRenderTimer->invalidate();
    mRenderTimer.reset();
    mDrawing = false;
}

void DoveRenderView::requestFrame() {
    if (!mLayerWidget) return;
    mFrameRequested = true;
    mLayer->setNeedsDisplay(true);
}

void DoveRenderView::getHostSize(unsigned int* width, unsigned int* height) const {
    const kpv::Rect f = mHostView ? mHostView->frame() : kpv::Rect();
    if (width) *width = f.width() > 0 ? unsigned(f.width()) : 0u;
    if (height) *height = f.height() > 0 ? unsigned(f.height()) : 0u;
}

void DoveRenderView::doveDraw() {
    if (!mLayerWidget || isPutAway()) return;
    if (RenderEngine::needToRender()) mLayer->setNeedsDisplay(true);
}

bool DoveRenderView::isPutAway() const {
    // A window the user minimised, or one the window manager took off the screen, is not drawn
    // for: a 3D scene drawn for nobody keeps a core or more busy. The scene's clock goes on, and
    // the first frame when it is back shows the scene where it is by then.
    // A view in a window of ours has the window's word: minimised, hidden, or covered entirely
    // by other windows.
    if (const kpv::Window* window = mLayer->window(); window && !window->isOnScreen()) return true;
    const QWidget* top = mLayerWidget->window();
    if (top->isMinimized()) return true;
    const QWindow* handle = top->windowHandle();
    if (handle && handle->isVisible() && !handle->isExposed())
        return true;
    // A desktop that minimises a window by hiding its frame, and says so only in the window's
    // own state on the display, leaves the toolkit counting it shown and exposed.
    const double now = kpv::RunLoop::main().clock().now();
    if (mDesktopAskedAt < 0 || now < mDesktopAskedAt || now - mDesktopAskedAt >= kDesktopAskInterval) {
        mDesktopPutAway = kpv::isPutAwayByDesktop(top);
        mDesktopAskedAt = now;
    }
    return mDesktopPutAway;
}

void DoveRenderView::drawLayer(DoveOpenGLLayer* layer) {
    // While stopped, a redraw draws nothing (the layer keeps the picture it has), except a frame
    // asked for with requestFrame() and one at a new size: our layer's frame buffer starts empty
    // at each size, so a paused scene would otherwise turn black when its window is resized.
    const kpv::Size size = layer ? layer->bounds().size : kpv::Size{};
    const bool resized = !(size == mLastFrameSize);
    if (mDrawing || mFrameRequested || resized) {
        mFrameRequested = false;
        mLastFrameSize = size;
        renderOneFrame();
    }
}

void DoveRenderView::renderOneFrame() {
    RenderEngine* engine = RenderEngine::peekSingleton();
    if (engine && engine->getScreenFrameBuffer()) engine->getScreenFrameBuffer()->render();
}

}  // namespace Dove
