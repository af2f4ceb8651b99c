// The viewer toolbar's Previous and Next buttons as a user presses them: mouse events go through
// the window to the button, which steps the viewer once per click and keeps stepping while held,
// and draws as the pointer stands once released.
// A file that cannot be shown is stepped over the same way. At the first start the keys put the
// first-start tips away first. Timers run on the manual clock.

#include "Shell/MainWindow/AppDelegate.h"
#include "Shell/MainWindow/LMMainWindow.h"
#include "Shell/MainWindow/MainWndController.h"
#include "Shell/MainWindow/ViewModeController.h"
#include "Shell/ViewChrome/NavigateToolbar.h"
#include "Shell/Modes/NavigateViewMode.h"
#include "Shell/Program/ViewerProgram.h"
#include "Shell/Tips/FileAssociateTipsViewController.h"

#include "Kit/LMButton.h"
#include "View/LMOpenGLView.h"
#include "View/NavigateController.h"
#include "appkit/Application.h"
#include "appkit/Event.h"
#include "appkit/Window.h"
#include "foundation/Clock.h"
#include "foundation/RunLoop.h"
#include "foundation/UserDefaults.h"
#include "ProgramTestSetup.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QKeyEvent>
#include <QMenu>
#include <QMenuBar>
#include <QMouseEvent>
#include <QTemporaryDir>
#include <QWidget>
#include <gtest/gtest.h>

namespace {

class NavArrowButtons : public ProgramTest {
protected:
    static constexpr int kFiles = 7;
    static constexpr int kBroken = 3; // not an image at all

    void SetUp() override
    {
        ASSERT_NO_FATAL_FAILURE(makeFolder(kFiles, kBroken));
        launch({folder}, true);
        ASSERT_EQ(nav().fileCount(), kFiles);
    }
    void makeFolder(int files, int broken)
    {
        ASSERT_NO_FATAL_FAILURE(ProgramTest::SetUp());
        for (int i = 0; i < files; ++i) {
            const QString path = QDir(folder).filePath(QStringLiteral("p%1.png").arg(i));
            if (i == broken) {
                QFile f(path);
                ASSERT_TRUE(f.open(QIODevice::WriteOnly));
                f.write("this is not a picture");
                continue;
            }
            QImage image(QSize(320, 240), QImage::Format_RGB32);
            image.fill(QColor::fromHsv(i * 40, 200, 200));
            ASSERT_TRUE(image.save(path));
        }
    }
    // The program assembled and started as the command line starts it.
    void launch(const QStringList& paths, bool heartTipSeen)
    {
        defaults = std::make_unique<kpv::UserDefaults>(scratch.filePath(QStringLiteral("defaults.json")));
        AppDelegate::Setup setup = programTestSetup(*defaults, scratch);
        setup.mainConfig->setLoveTipsAlreadyShowed(heartTipSeen);
        delegate = std::make_unique<AppDelegate>(std::move(setup));
        program = std::make_unique<ViewerProgram>(*delegate);
        delegate->openCommandLinePaths(paths);
        delegate->applicationDidFinishLaunching();
        settle(2.0);
    }
    void TearDown() override
    {
        program.reset();
        delegate.reset();
        kpv::RunLoop::main().runOnce();
        kpv::RunLoop::main().setClock(nullptr);
    }

    void settle(double seconds = 0.5) { settleProgram(*delegate, clock, seconds); }
    NavigateController& nav() const { return program->viewMode().controller(); }
    LMButton* next() const { return program->viewMode().toolbar()->outlets().btnNext; }
    LMButton* prev() const { return program->viewMode().toolbar()->outlets().btnPrev; }

    void goTo(qsizetype index)
    {
        nav().doNavCurFileToIndex(index, false, {});
        settle();
        ASSERT_EQ(nav().curFileIndex(), index);
    }

    // The toolbar shows while the pointer is at the window's bottom; the press goes to the
    // button's centre as the window receives it.
    kpv::Point centreOf(LMButton* b)
    {
        kpv::Window* w = program->controller().window();
        kpv::View* bar = program->viewMode().toolbar()->container();
        bar->setHidden(false);
        bar->setAlphaValue(1);
        EXPECT_TRUE(b->isEnabled());
        const kpv::Rect r = b->convertRectToView(b->bounds(), nullptr);
        const kpv::Point p{r.x() + r.width() / 2, r.y() + r.height() / 2};
        EXPECT_EQ(w->contentView()->hitTest(p), b) << "the press would not reach the button";
        return p;
    }
    void press(LMButton* b)
    {
        const kpv::Point p = centreOf(b);
        kpv::Application& app = kpv::Application::shared();
        // A button that tracks the press in a nested loop would wait there for a mouse-up; one is
        // queued so that such a button fails the test instead of hanging it. A held arrow leaves
        // the queue alone and gets its mouse-up from release().
        app.postEvent(kpv::Event::mouseEvent(kpv::LeftMouseUp, p, program->controller().window()));
        app.sendEvent(kpv::Event::mouseEvent(kpv::LeftMouseDown, p, program->controller().window()));
        app.discardQueuedEvents();
    }
    void release(LMButton* b)
    {
        const kpv::Point p = centreOf(b);
        kpv::Application::shared().sendEvent(kpv::Event::mouseEvent(kpv::LeftMouseUp, p, program->controller().window()));
    }
    // Time passes in frame-sized steps with the loads finishing, as in the running program.
    void hold(double seconds)
    {
        for (double t = 0; t < seconds; t += 1.0 / 60) {
            delegate->operationQueue()->waitUntilAllOperationsAreFinished();
            clock.advance(1.0 / 60);
            QCoreApplication::processEvents();
        }
    }

    std::unique_ptr<kpv::UserDefaults> defaults;
    std::unique_ptr<AppDelegate> delegate;
    std::unique_ptr<ViewerProgram> program;
};

TEST_F(NavArrowButtons, AClickStepsOnePhotoEachWay)
{
    ASSERT_NO_FATAL_FAILURE(goTo(1));
    press(next());
    hold(0.1);
    release(next());
    settle();
    EXPECT_EQ(nav().curFileIndex(), 2);
    EXPECT_FALSE(nav().isAutoNavStarted());
    EXPECT_FALSE(nav().isAutoNavStepping()) << "a released button keeps stepping";

    press(prev());
    release(prev());
    settle();
    EXPECT_EQ(nav().curFileIndex(), 1);

    // A click right after another one steps again: nothing of the first is left holding it off.
    press(prev());
    release(prev());
    settle();
    EXPECT_EQ(nav().curFileIndex(), 0);
}

TEST_F(NavArrowButtons, HoldingStepsRepeatedlyUntilReleased)
{
    ASSERT_NO_FATAL_FAILURE(goTo(0));
    press(next());
    EXPECT_EQ(nav().curFileIndex(), 1) << "the press itself steps";
    hold(0.15);
    EXPECT_EQ(nav().curFileIndex(), 1) << "the repeat waits its first interval";
    hold(0.1);
    EXPECT_EQ(nav().curFileIndex(), 2);
    hold(1.0);
    const qsizetype reached = nav().curFileIndex();
    EXPECT_GT(reached, 2);
    release(next());
    settle(1.0);
    EXPECT_EQ(nav().curFileIndex(), reached) << "the release stops the steps";
}

// Held, dragged off and released there: the hold swallowed the moves, and the arrow went on
// drawing as hovered until the pointer moved again.
TEST_F(NavArrowButtons, ReleasedOffTheArrowItDrawsAsThePointerStands)
{
    ASSERT_NO_FATAL_FAILURE(goTo(1));
    LMButton* b = next();
    centreOf(b);
    kpv::Application& app = kpv::Application::shared();
    const bool wasActive = app.isActive();
    app.setActive(true);
    // As the toolkit reports the pointer: to the button's widget, which keeps a press's moves.
    QWidget* widget = b->widget();
    ASSERT_NE(widget, nullptr);
    auto mouse = [&](QEvent::Type type, QPointF at, Qt::MouseButton button, Qt::MouseButtons held) {
        QMouseEvent e(type, at, widget->mapToGlobal(at), button, held, Qt::NoModifier);
        QCoreApplication::sendEvent(widget, &e);
    };
    const QPointF on(widget->width() / 2.0, widget->height() / 2.0), off(on.x(), on.y() - 200);
    mouse(QEvent::MouseMove, on, Qt::NoButton, Qt::NoButton);
    ASSERT_TRUE(b->isMouseIn());
    mouse(QEvent::MouseButtonPress, on, Qt::LeftButton, Qt::LeftButton);
    ASSERT_TRUE(b->isHolding());
    hold(0.1);
    mouse(QEvent::MouseMove, off, Qt::NoButton, Qt::LeftButton);
    mouse(QEvent::MouseButtonRelease, off, Qt::LeftButton, Qt::NoButton);
    settle();
    app.setActive(wasActive);
    EXPECT_FALSE(b->isHolding());
    EXPECT_EQ(nav().curFileIndex(), 2);
    EXPECT_EQ(b->visualState(), 0) << "the arrow still draws as hovered or pressed";
}

TEST_F(NavArrowButtons, StepsAwayFromAFileThatCannotBeShown)
{
    ASSERT_NO_FATAL_FAILURE(goTo(kBroken));
    press(next());
    release(next());
    settle();
    EXPECT_EQ(nav().curFileIndex(), kBroken + 1);
    ASSERT_NO_FATAL_FAILURE(goTo(kBroken));
    press(prev());
    release(prev());
    settle();
    EXPECT_EQ(nav().curFileIndex(), kBroken - 1);
}

// A first start on one photo of a folder: the heart's tip holds every command back, the arrows
// included, until the first key puts it away; from then on the arrows take clicks.
class NavArrowButtonsFirstStart : public NavArrowButtons {
protected:
    void SetUp() override
    {
        ASSERT_NO_FATAL_FAILURE(makeFolder(3, -1));
        launch({QDir(folder).filePath(QStringLiteral("p0.png"))}, false);
        ASSERT_EQ(nav().fileCount(), 3);
    }
    void sendRight()
    {
        const QString chars{QChar(kpv::FunctionKey::RightArrow)};
        for (kpv::EventType type : {kpv::KeyDown, kpv::KeyUp})
            kpv::Application::shared().sendEvent(kpv::Event::keyEvent(
                type, kpv::KeyCode::RightArrow, chars, chars, program->controller().window(),
                kpv::NumericPadKeyMask | kpv::FunctionKeyMask));
    }
    void sendEscape()
    {
        const QString chars{QChar(0x1b)};
        for (kpv::EventType type : {kpv::KeyDown, kpv::KeyUp})
            kpv::Application::shared().sendEvent(
                kpv::Event::keyEvent(type, kpv::KeyCode::Escape, chars, chars, program->controller().window(), 0));
        settle();
    }
    bool heartTipShown() const { return program->controller().navigateController()->curLoveIntroTipsShowStatus(); }
};

// With the heart's tip over the default-viewer strip, Esc puts away the tip on top first; the next
// Esc the strip.
TEST_F(NavArrowButtonsFirstStart, EscPutsTheTopTipAwayFirst)
{
    const FileAssociateTipsViewController* strip = program->fileAssociateTips();
    ASSERT_TRUE(strip && strip->isShown());
    ASSERT_TRUE(heartTipShown());
    sendEscape();
    EXPECT_FALSE(heartTipShown());
    EXPECT_TRUE(strip->isShown()) << "Esc went past the tip on top";
    sendEscape();
    EXPECT_FALSE(strip->isShown());
    EXPECT_EQ(nav().curFileIndex(), 0);
}

// A menu closed with Esc leaves its title lit for the arrow keys; the next Esc puts the light out
// (so that the arrows step through the photos again) and leaves the default-viewer strip alone.
TEST_F(NavArrowButtonsFirstStart, EscAfterAMenuGivesTheArrowsBackBeforeItClosesTheStrip)
{
    const FileAssociateTipsViewController* strip = program->fileAssociateTips();
    ASSERT_TRUE(strip && strip->isShown());
    sendEscape(); // the heart's tip
    ASSERT_FALSE(heartTipShown());
    QMenuBar* bar = program->controller().window()->widget()->findChild<QMenuBar*>();
    ASSERT_TRUE(bar && !bar->actions().isEmpty());
    bar->setActiveAction(bar->actions().first());
    QMenu* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
    ASSERT_TRUE(menu);
    QKeyEvent closeMenu(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
    QApplication::sendEvent(menu, &closeMenu);
    ASSERT_TRUE(bar->activeAction()) << "the title is lit for the arrows";

    QKeyEvent leaveBar(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
    QApplication::sendEvent(bar, &leaveBar);
    EXPECT_FALSE(bar->activeAction()) << "the menu bar kept the arrows";
    EXPECT_TRUE(strip->isShown()) << "the menu bar's Esc closed the strip";
    sendEscape();
    EXPECT_FALSE(strip->isShown());
}

// A menu's key is such a first key too: pressed as the keyboard sends it (Ctrl+R, turn right), it
// puts the tip away and turns the photo at once, not only at the second press.
TEST_F(NavArrowButtonsFirstStart, TheFirstMenuKeyPutsTheTipAwayAndDoesItsWork)
{
    ASSERT_TRUE(heartTipShown());
    QWidget* window = program->controller().window()->widget();
    ASSERT_TRUE(window);
    for (QEvent::Type type : {QEvent::KeyPress, QEvent::KeyRelease}) {
        QKeyEvent key(type, Qt::Key_R, Qt::ControlModifier, QStringLiteral("\x12"));
        QApplication::sendEvent(window, &key);
    }
    settle();
    EXPECT_FALSE(heartTipShown());
    EXPECT_TRUE(program->viewMode().imageView()->angleRotate().isRotatedOrFlipped())
        << "the menu key that put the tip away was lost";
}

TEST_F(NavArrowButtonsFirstStart, ArrowsTakeClicksOnceTheFirstKeyPutsTheTipAway)
{
    ASSERT_TRUE(program->controller().navigateController()->curLoveIntroTipsShowStatus());
    EXPECT_EQ(nav().curFileIndex(), 0);
    EXPECT_FALSE(next()->isEnabled()) << "the tip holds the arrows back";

    sendRight();
    settle();
    EXPECT_FALSE(program->controller().navigateController()->curLoveIntroTipsShowStatus());
    ASSERT_EQ(nav().curFileIndex(), 1) << "the key that put the tip away was lost";
    EXPECT_TRUE(prev()->isEnabled());
    EXPECT_TRUE(next()->isEnabled());

    press(next());
    release(next());
    settle();
    EXPECT_EQ(nav().curFileIndex(), 2);
    press(prev());
    release(prev());
    settle();
    EXPECT_EQ(nav().curFileIndex(), 1);
}

} // namespace
