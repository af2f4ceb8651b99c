#include "appkit/OpenGLView.h"

#include <QCoreApplication>
#include <QOpenGLContext>
#include <QOpenGLFunctions>
#include <QOpenGLWidget>
#include <QSurfaceFormat>

namespace kpv {

class GLWidget : public QOpenGLWidget {
public:
    explicit GLWidget(OpenGLView* view) : m_view(view) { setMouseTracking(true); }
    void detach() { m_view = nullptr; }

protected:
    void initializeGL() override
    {
        if (m_view)
            m_view->initializeGLFromWidget();
    }
    void resizeGL(int, int) override
    {
        if (m_view)
            m_view->resizeGLFromWidget();
    }
    void paintGL() override
    {
        if (m_view)
            m_view->paintGLFromWidget();
    }

private:
    OpenGLView* m_view;
};

OpenGLView::OpenGLView(const Rect& frame) : View(frame, new GLWidget(this)) {}

OpenGLView::~OpenGLView()
{
    if (auto* w = dynamic_cast<GLWidget*>(widget()))
        w->detach();
}

void OpenGLView::configureSharedContext()
{
    QSurfaceFormat format;
    format.setRenderableType(QSurfaceFormat::OpenGL);
    format.setProfile(QSurfaceFormat::CompatibilityProfile);
    format.setVersion(2, 1);
    format.setDepthBufferSize(24);
    format.setStencilBufferSize(8);
    QSurfaceFormat::setDefaultFormat(format);
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
}

QOpenGLContext* OpenGLView::sharedContext() { return QOpenGLContext::globalShareContext(); }

void OpenGLView::drawRect(const Rect&)
{
    if (QOpenGLContext* ctx = QOpenGLContext::currentContext()) {
        ctx->functions()->glClearColor(0, 0, 0, 0);
        ctx->functions()->glClear(GL_COLOR_BUFFER_BIT);
    }
}

void OpenGLView::performAfterNextFrame(std::function<void()> block)
{
    if (!block)
        return;
    auto* w = static_cast<QOpenGLWidget*>(widget());
    if (!w->isVisible()) {
        QMetaObject::invokeMethod(w, std::move(block), Qt::QueuedConnection);
        return;
    }
    QObject::connect(w, &QOpenGLWidget::frameSwapped, w, std::move(block), Qt::SingleShotConnection);
    w->update();
}

void OpenGLView::makeCurrentContext() { static_cast<QOpenGLWidget*>(widget())->makeCurrent(); }
void OpenGLView::clearCurrentContext() { static_cast<QOpenGLWidget*>(widget())->doneCurrent(); }
QOpenGLContext* OpenGLView::openGLContext() const { return static_cast<QOpenGLWidget*>(widget())->context(); }

void OpenGLView::initializeGLFromWidget() { prepareOpenGL(); }
void OpenGLView::resizeGLFromWidget() { reshape(); }
void OpenGLView::paintGLFromWidget() { drawRect(bounds()); }

} // namespace kpv
