// The OpenGL view a render view draws into. Before each drawing it hands the engine its size and
// its frame-buffer object, then asks its delegate to draw.
#ifndef DOVE_OPENGLLAYER_H
#define DOVE_OPENGLLAYER_H

#include "appkit/OpenGLView.h"

namespace Dove {

class DoveOpenGLLayer;

class DoveOpenGLLayerDelegate {
public:
    virtual ~DoveOpenGLLayerDelegate() = default;
    virtual void drawLayer(DoveOpenGLLayer* layer) = 0;
};

class DoveOpenGLLayer : public kpv::OpenGLView {
public:
    explicit DoveOpenGLLayer(const kpv::Rect& frame);

    void setLayerDelegate(DoveOpenGLLayerDelegate* delegate) { mDelegate = delegate; }
    // Runs with the layer's context current: sets the scene manager's render size to the bounds,
    // points the engine at the layer's frame buffer and lets the delegate draw.
    void drawRect(const kpv::Rect& dirty) override;
    // Draws one frame now into the layer's frame buffer and returns it (for tests and snapshots).
    QImage grabFrame();

private:
    DoveOpenGLLayerDelegate* mDelegate = nullptr;
};

}  // namespace Dove

#endif
