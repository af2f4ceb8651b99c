// The slideshow mode as the program connects it: the viewer's slideshow command hands its files to
// the slideshow controller the main window controller makes, which takes over the window until
// Esc brings the viewer back. Timers run on the manual clock.

#include "Shell/MainWindow/AppDelegate.h"
#include "Shell/MainWindow/LMMainWindow.h"
#include "Shell/MainWindow/LMMainWndContentView.h"
#include "Shell/MainWindow/MainWndController.h"
#include "Shell/Modes/MainWndSlideshowHost.h"
#include "Shell/Modes/NavigateViewMode.h"

#include "Model/MainConfig.h"
#include "Slideshow/SlideshowView.h"
#include "View/LMOpenGLView.h"
#include "View/NavigateController.h"
#include "appkit/Application.h"
#include "appkit/Event.h"
#include "foundation/Clock.h"
#include "foundation/NotificationCenter.h"
#include "foundation/OperationQueue.h"
#include "foundation/RunLoop.h"
#include "foundation/UserDefaults.h"
#include "ProgramTestSetup.h"

#include <QApplication>
#include <QDir>
#include <QImage>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

class SlideshowMode : public ProgramTest {
protected:
    void SetUp() override
    {
        ASSERT_NO_FATAL_FAILURE(ProgramTest::SetUp());
        const Qt::GlobalColor colours[] = {Qt::red, Qt::green, Qt::blue};
        for (int i = 0; i < 3; ++i) {
            QImage image(QSize(640, 480), QImage::Format_RGB32);
            image.fill(colours[i]);
            ASSERT_TRUE(image.save(QDir(folder).filePath(QStringLiteral("p%1.png").arg(i))));
        }
        defaults = std::make_unique<kpv::UserDefaults>(scratch.filePath(QStringLiteral("defaults.json")));
        AppDelegate::Setup setup = programTestSetup(*defaults, scratch);
        delegate = std::make_unique<AppDelegate>(std::move(setup));
        controller = std::make_unique<MainWndController>(
            *delegate, std::make_unique<LMMainWindow>(kpv::Rect(0, 0, 800, 600)));
        registerSlideshowMode(*controller);
        viewer = std::make_unique<NavigateViewMode>(*delegate, *controller);
        controller->awakeFromNib();
        kpv::NotificationCenter::defaultCenter().addObserver(
            this, QStringLiteral("willChangeMainShowMode"), nullptr,
            [this](const kpv::Notification& n) { record('w', n); });
        kpv::NotificationCenter::defaultCenter().addObserver(
            this, QStringLiteral("didChangeMainShowMode"), nullptr,
            [this](const kpv::Notification& n) { record('d', n); });
    }
    void TearDown() override
    {
        kpv::NotificationCenter::defaultCenter().removeObserver(this);
        viewer.reset();
        controller.reset();
        delegate.reset();
        kpv::RunLoop::main().runOnce();
        kpv::RunLoop::main().setClock(nullptr);
    }

    void record(char kind, const kpv::Notification& n)
    {
        changes.push_back(QStringLiteral("%1 %2>%3")
                              .arg(QChar(kind))
                              .arg(n.userInfo.value(QStringLiteral("old")).toLongLong())
                              .arg(n.userInfo.value(QStringLiteral("new")).toLongLong()));
    }

    void settle(double seconds = 1.0)
    {
        settleProgram(*delegate, clock, seconds, [this] {
            if (slideshow())
                slideshow()->waitForSlideLoads();
        });
    }

    SlideshowViewController* slideshow() const
    {
        return dynamic_cast<SlideshowViewController*>(controller->existingModeController(MainShowModeSlideshow));
    }

    void pressEscape()
    {
        kpv::Application::shared().sendEvent(kpv::Event::keyEvent(kpv::KeyDown, kpv::KeyCode::Escape,
                                                                  QStringLiteral("\x1b"), QStringLiteral("\x1b"),
                                                                  controller->window(), 0));
    }

    void pressKey(unsigned short keyCode)
    {
        kpv::Application::shared().sendEvent(
            kpv::Event::keyEvent(kpv::KeyDown, keyCode, QString(), QString(), controller->window(), 0));
    }

    std::unique_ptr<kpv::UserDefaults> defaults;
    std::unique_ptr<AppDelegate> delegate;
    std::unique_ptr<MainWndController> controller;
    std::unique_ptr<NavigateViewMode> viewer;
    QStringList changes;
};

TEST_F(SlideshowMode, SlideshowCommandTakesOverTheWindowAndEscapeBringsTheViewerBack)
{
    delegate->applicationOpenFiles({folder});
    delegate->applicationDidFinishLaunching();
    settle(2.0);
    ASSERT_EQ(controller->showMode(), MainShowModeView);
    ASSERT_EQ(viewer->controller().fileCount(), 3);
    changes.clear();
    const QString viewerTitle = controller->window()->title();
    EXPECT_EQ(viewerTitle, QStringLiteral("p0.png (1/3)"));

    controller->performMenuAction(39);
    settle();
    EXPECT_EQ(controller->showMode(), MainShowModeSlideshow);
    EXPECT_EQ(changes, QStringList({QStringLiteral("w 4>32"), QStringLiteral("d 4>32")}));
    // The slides change under the title: it names the program, not the photo the slideshow began on.
    EXPECT_EQ(controller->window()->title(), delegate->appName());
    EXPECT_TRUE(controller->window()->representedFilename().isEmpty());
    ASSERT_TRUE(slideshow());
    EXPECT_TRUE(slideshow()->isPlaying());
    EXPECT_TRUE(slideshow()->firstFrameDisplayed());
    SlideshowView* view = slideshow()->view();
    EXPECT_EQ(view->superview(), controller->contentView());
    EXPECT_FALSE(view->isHidden());
    EXPECT_EQ(view->frame(), controller->contentView()->bounds());
    // The viewer steps aside once the first slide is up.
    EXPECT_TRUE(viewer->imageView()->isHidden());

    // The slides move on by themselves.
    const long first = slideshow()->curSlideIndex();
    settle(slideshow()->slideDuration() + slideshow()->fadeDuration() + 1.0);
    EXPECT_NE(slideshow()->curSlideIndex(), first);

    // Esc lands the viewer on the photo the show was showing, not the one it began on.
    pressKey(kpv::KeyCode::RightArrow);
    settle();
    const long shown = slideshow()->curSlideIndex();
    ASSERT_NE(shown, first);
    const QString shownName = QStringLiteral("p%1.png").arg(shown);
    changes.clear();
    pressEscape();
    settle();
    EXPECT_EQ(controller->showMode(), MainShowModeView);
    EXPECT_EQ(changes, QStringList({QStringLiteral("w 32>4"), QStringLiteral("d 32>4")}));
    EXPECT_EQ(viewer->controller().curFileIndex(), shown);
    EXPECT_EQ(controller->window()->title(), QStringLiteral("%1 (%2/3)").arg(shownName).arg(shown + 1));
    EXPECT_EQ(controller->window()->representedFilename(), QDir(folder).filePath(shownName));
    ASSERT_TRUE(slideshow());
    EXPECT_FALSE(slideshow()->isPlaying());
    EXPECT_EQ(slideshow()->view()->superview(), nullptr);
    EXPECT_FALSE(viewer->imageView()->isHidden());

    // A second slideshow starts again from the viewer.
    controller->performMenuAction(39);
    settle();
    EXPECT_EQ(controller->showMode(), MainShowModeSlideshow);
    EXPECT_TRUE(slideshow()->isPlaying());
    pressEscape();
    settle();
    EXPECT_EQ(controller->showMode(), MainShowModeView);
}

// F11 takes a running slideshow to full screen and back, as it does the viewer; Esc still belongs to
// the slideshow and ends it without taking the window out of full screen.
TEST_F(SlideshowMode, F11TogglesFullScreenWhileTheSlidesRun)
{
    delegate->applicationOpenFiles({folder});
    delegate->applicationDidFinishLaunching();
    settle(2.0);
    controller->performMenuAction(39);
    settle();
    ASSERT_EQ(controller->showMode(), MainShowModeSlideshow);
    ASSERT_TRUE(slideshow() && slideshow()->isPlaying());
    ASSERT_FALSE(controller->window()->isFullScreen());

    pressKey(103); // F11
    settle();
    EXPECT_TRUE(controller->window()->isFullScreen());
    EXPECT_EQ(controller->showMode(), MainShowModeSlideshow);
    EXPECT_TRUE(slideshow()->isPlaying());
    EXPECT_EQ(slideshow()->view()->frame(), controller->contentView()->bounds());

    pressKey(103);
    settle();
    EXPECT_FALSE(controller->window()->isFullScreen());
    EXPECT_TRUE(slideshow()->isPlaying());

    pressKey(103);
    settle();
    ASSERT_TRUE(controller->window()->isFullScreen());
    pressEscape();
    settle();
    EXPECT_EQ(controller->showMode(), MainShowModeView);
    EXPECT_TRUE(controller->window()->isFullScreen()) << "Esc ended the slideshow only";
    pressEscape();
    settle();
    EXPECT_FALSE(controller->window()->isFullScreen());
}

TEST_F(SlideshowMode, NothingToShowLeavesTheWindowAlone)
{
    EXPECT_FALSE(startSlideshowInMainWindow(*controller, {}, 0));
    EXPECT_FALSE(slideshow());
    // Without a registered factory there is no slideshow to start.
    MainWndController bare(*delegate, std::make_unique<LMMainWindow>(kpv::Rect(0, 0, 400, 300)));
    NavSlideshowFile slide;
    slide.filePath = LMPathString(QDir(folder).filePath(QStringLiteral("p0.png")), false);
    EXPECT_FALSE(startSlideshowInMainWindow(bare, {slide}, 0));
    EXPECT_EQ(bare.showMode(), MainShowModeNone);
}

}  // namespace
