// The engine's own OpenGL context and the view a render window draws into. Both belong to the
// window system, so this backend only declares them; the host installs the makers that build the
// real ones (see scene3d/src/Host).
#ifndef DOVE_OGLCONTEXT_H
#define DOVE_OGLCONTEXT_H

namespace Dove {

class OGLRenderWindow;

// One process-wide context, current while scenes are loaded and GPU objects are made. Every
// drawing context of a view shares objects with it.
class OGLContext {
public:
    using Maker = OGLContext* (*)();

    // Made by the installed maker on first call; null when no host has installed one.
    static OGLContext* getSingleton();
    static OGLContext* peekSingleton();
    static void releaseSingleton();
    static void setMaker(Maker maker);

    virtual void setCurrent() = 0;
    virtual void endCurrent() = 0;
    virtual void swapBuffer() = 0;
    virtual void restoreGLContext() = 0;
    virtual void setSystemRenderBuffer() {}
    virtual void* getOpenGLContext() = 0;
    virtual void* getPixelFormat() = 0;
    virtual ~OGLContext() = default;

    long isInitialized() const { return mInitialized; }

    // Whether any OpenGL context is current on this thread. GPU objects are made and deleted only
    // then: a call without a context would reach no driver. The host installs the real query;
    // without one the answer is yes.
    using CurrentQuery = bool (*)();
    static bool hasCurrentContext();
    static void setCurrentQuery(CurrentQuery query);

protected:
    OGLContext() = default;
    long mInitialized = 0;
};

// The window-system view of a render window: it owns the drawing surface and the frame timer.
class OGLRenderView {
public:
    // Builds the view inside the host view (which may be null: a view in no window, which draws
    // nothing). The view calls window->render() for every frame it draws.
    using Maker = OGLRenderView* (*)(void* hostView, OGLRenderWindow* window);

    static OGLRenderView* create(void* hostView, OGLRenderWindow* window);
    static void setMaker(Maker maker);

    virtual ~OGLRenderView() = default;
    virtual void startRender() = 0;
    virtual void stopRender() = 0;
    // Draws one frame soon, also while stopped.
    virtual void requestFrame() {}
    // The host view's size in whole pixels, 0 by 0 without a host view.
    virtual void getHostSize(unsigned int* width, unsigned int* height) const = 0;
};

}  // namespace Dove

#endif
