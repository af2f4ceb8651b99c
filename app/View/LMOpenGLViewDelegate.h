#pragma once

// The owner of an image view that may start a drag of the shown file.

namespace kpv {
class Event;
}
class LMOpenGLView;

class LMOpenGLViewDelegate {
public:
    virtual ~LMOpenGLViewDelegate() = default;
    // Asked on each drag event of a press on an image that cannot be panned; true when the owner
    // has started a drag session (the view then ends its press).
    virtual bool beginDraggingSessionWithEvent(LMOpenGLView *view, const kpv::Event &event) { return false; }
};
