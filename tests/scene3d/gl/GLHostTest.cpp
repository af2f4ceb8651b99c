// The host glue: the render view inside a host view, its frame timer on the manual run-loop clock
// polling the engine's limiter, drawing on and off, and the engine's own context.
#include <QCoreApplication>
#include <QGuiApplication>
#include <QDeadlineTimer>
#include <QImage>
#include <QWidget>
#include <QWindow>
#include <QOffscreenSurface>
#include <QOpenGLContext>
#include <memory>

#include "DoveOGLFrameBuffer.h"
#include "DoveOGLRenderEngine.h"
#include "DoveQtOGLContext.h"
#include "DoveRenderView.h"
#include "DoveSceneManager.h"
#include "GLFixture.h"
#include "../../support/DesktopStandIns.h"
#include "appkit/View.h"
#include "appkit/Window.h"
#include "foundation/Clock.h"
#include "foundation/RunLoop.h"

using namespace Dove;

class GLHostTest : public GLEngineTest {
protected:
    void SetUp() override {
        GLEngineTest::SetUp();
        kpv::RunLoop::main().setClock(&mLoopClock);
    }
    void TearDown() override {
        if (engine()) engine()->stopRender();
        GLEngineTest::TearDown();
        kpv::RunLoop::main().setClock(nullptr);
    }
    OGLRenderWindow* window() { return static_cast<OGLRenderWindow*>(engine()->getScreenFrameBuffer()); }

    kpv::ManualClock mLoopClock;
};

TEST_F(GLHostTest, RenderView_FillsTheHostAndDrawsAtMostOneFramePer20ms) {
    auto host = std::make_unique<kpv::View>(kpv::Rect(0, 0, 64.7, 48.2));
    DisplayParam param;
    param.hostView = host.get();
    engine()->initDisplayParam(&param);
    unsigned w = 0, h = 0;
    engine()->getScreenFrameBufferSize(&w, &h);
    EXPECT_EQ(w, 64u);  // whole pixels of the host's frame
    EXPECT_EQ(h, 48u);
    auto* view = dynamic_cast<DoveRenderView*>(window()->getView());
    ASSERT_NE(view, nullptr);
    DoveOpenGLLayer* layer = view->layer();
    ASSERT_NE(layer, nullptr);
    EXPECT_EQ(layer->superview(), host.get());
    EXPECT_EQ(layer->autoresizingMask(), 63u);
    EXPECT_TRUE(view->isDrawing());  // the timer starts with the view
    EXPECT_EQ(kpv::RunLoop::main().timerCount(), 1);
    engine()->startRender();
    EXPECT_EQ(kpv::RunLoop::main().timerCount(), 1);  // a second start keeps one timer

    // Ticks every 10 ms; the limiter lets a frame through when 20 ms have passed since the last.
    setClockMillis(5000);
    RenderEngine::resetFrameLimiter();
    std::vector<bool> marked;
    for (int tick = 0; tick < 5; ++tick) {
        layer->setNeedsDisplay(false);
        EXPECT_EQ(mLoopClock.advance(0.01), 1);
        marked.push_back(layer->needsDisplay());
        setClockMillis(5000 + 10 * uint64_t(tick + 1));
    }
    EXPECT_EQ(marked, (std::vector<bool>{true, false, true, false, true}));

    // Drawing the layer draws one frame of the scene: the window is cleared to opaque black.
    const uint64_t before = window()->getFramesDrawn();
    QImage frame = layer->grabFrame();
    EXPECT_EQ(window()->getFramesDrawn(), before + 1);
    ASSERT_FALSE(frame.isNull());
    EXPECT_GE(frame.width(), 64);  // the widget rounds the fractional frame
    EXPECT_EQ(frame.height(), 48);
    EXPECT_EQ(frame.pixel(10, 10), qRgba(0, 0, 0, 255));
    EXPECT_FLOAT_EQ(SceneManager::getSingleton()->getRenderWidth(), 64.7f);

    // Stopped: no timer, and a redraw of the layer draws no frame.
    engine()->stopRender();
    EXPECT_FALSE(view->isDrawing());
    EXPECT_EQ(kpv::RunLoop::main().timerCount(), 0);
    layer->grabFrame();
    EXPECT_EQ(window()->getFramesDrawn(), before + 1);
    engine()->startRender();
    EXPECT_TRUE(view->hasTimer());
    engine()->stopRender();
    // The host goes first and takes the layer with it; the view notices and lets it be.
    host.reset();
    EXPECT_EQ(view->layer(), nullptr);
}

// A scene in a window the user minimised is not drawn for (a 3D theme drawn for nobody kept cores
// busy), and is again once the window is back.
TEST_F(GLHostTest, RenderView_DrawsNothingWhileItsWindowIsMinimised) {
    auto host = std::make_unique<kpv::View>(kpv::Rect(0, 0, 64, 48));
    DisplayParam param;
    param.hostView = host.get();
    engine()->initDisplayParam(&param);
    auto* view = dynamic_cast<DoveRenderView*>(window()->getView());
    ASSERT_NE(view, nullptr);
    DoveOpenGLLayer* layer = view->layer();
    QWidget* top = layer->widget()->window();
    const auto ticks = [&](uint64_t at) {
        setClockMillis(at);
        RenderEngine::resetFrameLimiter();
        layer->setNeedsDisplay(false);
        mLoopClock.advance(0.03);
        return layer->needsDisplay();
    };
    // Shown and on the screen first: a window first shown minimised may be mapped all the same
    // where no window manager runs, and the toolkit then counts it back to normal.
    const auto showUntilExposed = [&] {
        top->showNormal();
        for (QDeadlineTimer deadline(30000); !(top->windowHandle() && top->windowHandle()->isExposed()) && !deadline.hasExpired();)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    };
    showUntilExposed();
    EXPECT_TRUE(ticks(4000));
    top->showMinimized();
    QCoreApplication::processEvents();
    ASSERT_TRUE(top->isMinimized());
    EXPECT_FALSE(ticks(5000));
    showUntilExposed();
    EXPECT_TRUE(ticks(6000));

    // A window manager that minimises by marking the window iconic on the display, and tells the
    // toolkit nothing, puts the scene away just the same.
    if (!kpv::test::setWindowManagerState(top, 1)) {
        top->hide();
        GTEST_SKIP() << "the window manager's part needs an X display";
    }
    const auto markState = [&](uint32_t state) {
        ASSERT_TRUE(kpv::test::setWindowManagerState(top, state));
        // The toolkit also reads the state, from its own event thread and maybe later under a
        // busy server: let it catch up, so a late word from it cannot undo the state set here.
        for (QDeadlineTimer deadline(5000); top->isMinimized() != (state == 3) && !deadline.hasExpired();)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        mLoopClock.advance(0.25);  // the view asks the desktop a few times a second
    };
    markState(3);  // iconic
    EXPECT_FALSE(ticks(7000));
    markState(1);  // normal
    EXPECT_TRUE(ticks(8000));
    top->hide();
}

// A scene in a window of ours that other windows cover entirely is not drawn for either.
TEST_F(GLHostTest, RenderView_DrawsNothingWhileItsWindowIsCoveredEntirely) {
    kpv::Window top(kpv::Rect(0, 0, 64, 48), kpv::TitledWindowMask);
    top.setFrameOrigin(kpv::Point{1501, 777});  // a corner of its own on the tests' display
    DisplayParam param;
    param.hostView = top.contentView();
    engine()->initDisplayParam(&param);
    auto* view = dynamic_cast<DoveRenderView*>(window()->getView());
    ASSERT_NE(view, nullptr);
    DoveOpenGLLayer* layer = view->layer();
    top.orderFront();
    for (QDeadlineTimer deadline(30000); !top.widget()->windowHandle()->isExposed() && !deadline.hasExpired();)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    const auto ticksWhenOnScreen = [&](bool onScreen, uint64_t at) {
        for (QDeadlineTimer deadline(5000); top.isOnScreen() != onScreen && !deadline.hasExpired();)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        setClockMillis(at);
        RenderEngine::resetFrameLimiter();
        layer->setNeedsDisplay(false);
        mLoopClock.advance(0.03);
        return layer->needsDisplay();
    };
    EXPECT_TRUE(ticksWhenOnScreen(true, 4000));
    {
        kpv::test::CoveringWindow cover(top.widget()->geometry().adjusted(-1, -1, 1, 1));
        if (!cover.isOpen()) {
            engine()->initDisplayParam(nullptr);
            GTEST_SKIP() << "covering a window needs an X display";
        }
        EXPECT_FALSE(ticksWhenOnScreen(false, 5000));
    }
    EXPECT_TRUE(ticksWhenOnScreen(true, 6000));
    engine()->initDisplayParam(nullptr);  // the scene lets go of the window before it goes
}

TEST_F(GLHostTest, NullHostView_GivesAnEmptyWindowWhoseTimerStillRuns) {
    DisplayParam param;
    engine()->initDisplayParam(&param);
    unsigned w = 1, h = 1;
    engine()->getScreenFrameBufferSize(&w, &h);
    EXPECT_EQ(w, 0u);
    EXPECT_EQ(h, 0u);
    EXPECT_EQ(kpv::RunLoop::main().timerCount(), 1);
    engine()->initDisplayParam(nullptr);  // a second call replaces the view, not adds one
    EXPECT_EQ(kpv::RunLoop::main().timerCount(), 1);
}

TEST_F(GLHostTest, EngineContext_RemembersAndRestoresTheCallersContext) {
    auto* engineContext = dynamic_cast<QtOGLContext*>(OGLContext::getSingleton());
    ASSERT_NE(engineContext, nullptr);
    EXPECT_NE(engine()->getNativeOpenGLESContext(), nullptr);

    // Restoring without an earlier switch: the remembered context is none.
    engineContext->restoreGLContext();
    EXPECT_EQ(QOpenGLContext::currentContext(), nullptr);

    // The caller's own context, then the engine's, then back.
    QOffscreenSurface* surface = nullptr;
    auto own = std::make_unique<QOpenGLContext>();
    own->setShareContext(QOpenGLContext::globalShareContext());
    ASSERT_TRUE(own->create());
    QOffscreenSurface s;
    s.create();
    surface = &s;
    ASSERT_TRUE(own->makeCurrent(surface));
    engine()->setCurrent();
    EXPECT_EQ(QOpenGLContext::currentContext(), engineContext->context());
    EXPECT_EQ(engineContext->previousContext(), own.get());
    engine()->setCurrent();  // already current: the remembered context stays the caller's
    EXPECT_EQ(engineContext->previousContext(), own.get());
    engine()->restoreGLContext();
    EXPECT_EQ(QOpenGLContext::currentContext(), own.get());

    // Suspended: nothing current, the context gone; resuming makes a new one, current.
    engine()->suspend();
    EXPECT_EQ(QOpenGLContext::currentContext(), nullptr);
    EXPECT_EQ(OGLContext::peekSingleton(), nullptr);
    engine()->resume();
    ASSERT_NE(OGLContext::peekSingleton(), nullptr);
    EXPECT_EQ(QOpenGLContext::currentContext(),
              static_cast<QOpenGLContext*>(OGLContext::peekSingleton()->getOpenGLContext()));
}
