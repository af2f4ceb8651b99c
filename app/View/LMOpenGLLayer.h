#pragma once

// The drawing surface of an image view. The platform's OpenGL view supplies the context (sharing
// objects with LMShareGLContext); the layer hands context preparation and drawing to its delegate,
// keeps the context that was current before a frame current again after it, and while it is
// asynchronous redraws continuously on the run loop (a zoom animation).

#include "foundation/Timer.h"

#include <functional>
#include <memory>
#include <optional>

class LMOpenGLLayer;

class LMOpenGLLayerDelegate {
public:
    virtual ~LMOpenGLLayerDelegate() = default;
    // Every frame, with the layer's context current.
    virtual void drawLayer(LMOpenGLLayer *layer, double layerTime) = 0;
    // Once, right after the layer's drawing context was made.
    virtual void prepareDrawContent(LMOpenGLLayer *layer) = 0;
    // Whether to draw now; nullopt (the default) leaves the answer to the layer.
    virtual std::optional<bool> canDrawLayer(LMOpenGLLayer *layer, double layerTime) { return std::nullopt; }
};

class LMOpenGLLayer {
public:
    LMOpenGLLayer() = default;
    ~LMOpenGLLayer();
    LMOpenGLLayer(const LMOpenGLLayer &) = delete;
    LMOpenGLLayer &operator=(const LMOpenGLLayer &) = delete;

    static std::unique_ptr<LMOpenGLLayer> layer() { return std::make_unique<LMOpenGLLayer>(); }

    LMOpenGLLayerDelegate *openGLLayerDelegate() const { return m_delegate; }
    void setOpenGLLayerDelegate(LMOpenGLLayerDelegate *delegate) { m_delegate = delegate; }
    bool needsDisplayOnBoundsChange() const { return m_needsDisplayOnBoundsChange; }
    void setNeedsDisplayOnBoundsChange(bool flag) { m_needsDisplayOnBoundsChange = flag; }
    double contentsScale() const { return m_contentsScale; }
    void setContentsScale(double scale) { m_contentsScale = scale; }
    bool isAsynchronous() const { return m_asynchronous; }
    void setAsynchronous(bool asynchronous);
    // Asks the host to draw a frame (the view's repaint).
    void setNeedsDisplay();
    void setDisplayHandler(std::function<void()> handler) { m_displayHandler = std::move(handler); }

    // The host's side, with the drawing context current.
    void didCreateContext();
    bool canDrawInContext(double layerTime);
    void drawInContext(double layerTime);

private:
    LMOpenGLLayerDelegate *m_delegate = nullptr;
    bool m_needsDisplayOnBoundsChange = false;
    double m_contentsScale = 1.0;
    bool m_asynchronous = false;
    std::function<void()> m_displayHandler;
    std::shared_ptr<kpv::Timer> m_displayTimer;
};
