#include "View/LMShareGLContext.h"

#include "appkit/OpenGLView.h"

#include <QGuiApplication>
#include <QOffscreenSurface>
#include <QOpenGLContext>

LMShareGLContext &LMShareGLContext::defaultShareGLContext()
{
    static LMShareGLContext *shared = new LMShareGLContext; // lives until the process ends
    return *shared;
}

LMShareGLContext::LMShareGLContext()
{
    if (!QGuiApplication::instance())
        return;
    auto *surface = new QOffscreenSurface;
    surface->setFormat(QSurfaceFormat::defaultFormat());
    surface->create();
    // The context every view shares with is this one: no second context to make at start.
    QOpenGLContext *context = kpv::OpenGLView::sharedContext();
    if (!surface->isValid() || !context) {
        delete surface;
        return;
    }
    m_context = context;
    m_surface = surface;
}

LMShareGLContext::~LMShareGLContext() = default;

LMShareGLContext::Scope::Scope()
{
    LMShareGLContext &shared = defaultShareGLContext();
    if (!shared.m_context)
        return;
    m_ok = true;
    QOpenGLContext *current = QOpenGLContext::currentContext();
    if (current && QOpenGLContext::areSharing(current, shared.m_context))
        return;
    m_previous = current;
    m_previousSurface = current ? current->surface() : nullptr;
    m_switched = true;
    m_ok = shared.m_context->makeCurrent(shared.m_surface);
}

LMShareGLContext::Scope::~Scope()
{
    if (!m_switched)
        return;
    if (m_previous && m_previousSurface)
        m_previous->makeCurrent(m_previousSurface);
    else
        defaultShareGLContext().m_context->doneCurrent();
}
