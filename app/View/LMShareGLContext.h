#pragma once

// The one OpenGL context of the process that owns every texture of the image views: the context
// the platform puts every OpenGL view's in one share group with, which the image views draw in
// too. Textures can be made and deleted outside a drawing call and are seen by every view.
// Main thread only.

class QOpenGLContext;
class QOffscreenSurface;
class QSurface;

class LMShareGLContext {
public:
    // Made on first use, kept for the life of the process.
    static LMShareGLContext &defaultShareGLContext();

    // The context, or nullptr when none could be made (no OpenGL): callers test it before use.
    QOpenGLContext *glContextObj() const { return m_context; }

    // Makes the shared context current unless a context of its share group already is, and puts
    // the previous one back when it goes away. ok() is false when there is no context.
    class Scope {
    public:
        Scope();
        ~Scope();
        Scope(const Scope &) = delete;
        Scope &operator=(const Scope &) = delete;
        bool ok() const { return m_ok; }

    private:
        QOpenGLContext *m_previous = nullptr;
        QSurface *m_previousSurface = nullptr;
        bool m_switched = false;
        bool m_ok = false;
    };

private:
    LMShareGLContext();
    ~LMShareGLContext();
    QOpenGLContext *m_context = nullptr;
    QOffscreenSurface *m_surface = nullptr;
};
