// The render window's view on the host: an OpenGL layer filling the host view, and the frame
// timer. Every 0.01 s the timer asks the engine's limiter; when a frame is due the layer is marked
// for display, and drawing the layer draws one frame of the scene.
#ifndef DOVE_RENDERVIEW_H
#define DOVE_RENDERVIEW_H

#include <QPointer>
#include <memory>

#include "DoveOGLContext.h"
#include "DoveOpenGLLayer.h"

#include <QWidget>

namespace kpv {
class Timer;
class View;
}  // namespace kpv

namespace Dove {

class DoveRenderView : public OGLRenderView, public DoveOpenGLLayerDelegate {
public:
    static constexpr double kFrameTimerInterval = 0.01;
    // Flexible width, height and all four margins.
    static constexpr unsigned kFillHostMask = 63;

    // Puts the layer into the host view (none: a layer in no window, which draws nothing) and
    // starts the frame timer.
    DoveRenderView(kpv::View* hostView, OGLRenderWindow* window);
    ~DoveRenderView() override;

    void startRender() override;
    void stopRender() override;
    void requestFrame() override;
    void getHostSize(unsigned int* width, unsigned int* height) const override;

    // One tick of the frame timer.
    void doveDraw();
    void drawLayer(DoveOpenGLLayer* layer) override;
    void renderOneFrame();
    // The window holding the scene is minimised or not on the screen.
    bool isPutAway() const;

    // Whether this view draws frames: true from startRender to stopRender.
    bool isDrawing() const { return mDrawing; }
    DoveOpenGLLayer* layer() const { return mLayerWidget ? mLayer : nullptr; }
    bool hasTimer() const { return mRenderTimer != nullptr; }

private:
    bool mDrawing = false;
    bool mFrameRequested = false;
    kpv::Size mLastFrameSize{};
    kpv::View* mHostView;
    DoveOpenGLLayer* mLayer = nullptr;
    QPointer<QWidget> mLayerWidget;  // tells whether the host has deleted the layer with itself
    bool mOwnsLayer = false;
    std::shared_ptr<kpv::Timer> mRenderTimer;
    // The desktop's answer about the window, asked at most every kDesktopAskInterval seconds of
    // the run loop's clock: the question is a round trip to the display, and the timer ticks a
    // hundred times a second.
    static constexpr double kDesktopAskInterval = 0.2;
    mutable double mDesktopAskedAt = -1.0;
    mutable bool mDesktopPutAway = false;
};

}  // namespace Dove

#endif
