// The mini window as main() assembles it, drawn by OpenGL under an X server: a step to a photo
// whose picture is late keeps the last photo on the window, as the viewer does, and says
// "Loading" over it only once the picture is a while late; with no photo at all it says nothing.

#include "Shell/MainWindow/AppDelegate.h"
#include "Shell/MainWindow/LMMainWindow.h"
#include "Shell/MainWindow/MainWndController.h"
#include "Shell/Modes/MainWndMiniWindow.h"
#include "Shell/Modes/NavigateViewMode.h"
#include "Shell/Program/ViewerProgram.h"
#include "Shell/ViewChrome/NavigateToolbar.h"

#include "Kit/LMButton.h"
#include "Kit/LMNineSliceImageView.h"
#include "Kit/LMThumbZoomSlider.h"
#include "Model/LMImage.h"
#include "View/LMOpenGLView.h"
#include "View/NavigateController.h"
#include "appkit/Control.h"
#include "appkit/Event.h"
#include "appkit/OpenGLView.h"
#include "appkit/Window.h"
#include "foundation/Bundle.h"
#include "foundation/Clock.h"
#include "foundation/OperationQueue.h"
#include "foundation/RunLoop.h"
#include "foundation/UserDefaults.h"
#include "../ProgramTestSetup.h"
#include "../../../support/QtTestApplication.h"

#include <QApplication>
#include <QDir>
#include <QImage>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <future>
#include <thread>
#include <utility>

namespace {

[[maybe_unused]] testing::Environment* const g_env = testing::AddGlobalTestEnvironment(
    new QtTestApplication("kestrane-viewer", &kpv::OpenGLView::configureSharedContext));

using MiniWindowSteps = ProgramTest;

// The mini window emptied its picture at each step before the next one came, and its "Loading"
// went to the main window, out of sight.
TEST_F(MiniWindowSteps, AStepKeepsTheLastPhotoAndItsWindowUntilTheNextOnesPictureComes)
{
    constexpr int kFiles = 40;
    for (int i = 0; i < kFiles; ++i) {
        const bool last = i == kFiles - 1;
        QImage image(last ? QSize(240, 320) : QSize(320, 240), QImage::Format_RGB32);
        image.fill(QColor::fromHsv(i * 25 % 360, 200, 200));
        ASSERT_TRUE(image.save(QDir(folder).filePath(QStringLiteral("p%1.png").arg(i, 2, 10, QLatin1Char('0')))));
    }
    LaunchedProgram launched(scratch, {folder});
    std::unique_ptr<AppDelegate>& delegate = launched.delegate;
    std::unique_ptr<ViewerProgram>& program = launched.program;
    const auto settle = [&](double seconds) { settleProgram(*delegate, clock, seconds); };
    settle(2.0);
    NavigateController& viewer = program->viewMode().controller();
    viewer.doNavCurFileToIndex(10, false, {});
    settle(1.0);
    program->controller().switchToSimpleMode();
    settle(1.0);
    MainWndMiniController* mini = miniWindowControllerOf(program->controller());
    ASSERT_TRUE(mini && mini->window());
    LMOpenGLView* shown = mini->host().imageView();
    ASSERT_TRUE(shown->imageNormal());
    ASSERT_EQ(mini->window()->frame().size, (kpv::Size{320, 240}));

    // Both workers busy elsewhere: the picture of the photo stepped to is late.
    std::promise<void> release;
    std::shared_future<void> released = release.get_future().share();
    bool letGo = false;
    const auto letWorkersGo = [&] {
        if (!std::exchange(letGo, true))
            release.set_value();
    };
    struct OnExit {
        std::function<void()> run;
        ~OnExit() { run(); }
    } onExit{letWorkersGo};
    std::atomic<int> busy{0};
    for (int i = 0; i < 2; ++i)
        delegate->operationQueue()->addOperationWithBlock([released, &busy] {
            ++busy;
            released.wait();
        });
    while (busy.load() < 2)
        std::this_thread::yield();

    // End: the last photo, a portrait one that nothing decoded ahead.
    mini->window()->keyDown(*kpv::Event::keyEvent(kpv::KeyDown, 119, QString(QChar(0xF72B)), QString(QChar(0xF72B)),
                                                  mini->window(), kpv::NumericPadKeyMask));
    kpv::RunLoop::main().runOnce();
    QCoreApplication::processEvents();
    ASSERT_EQ(viewer.curFileIndex(), kFiles - 1);
    EXPECT_TRUE(shown->holdsPicture()) << "the last photo left the window before the next one came";
    EXPECT_FALSE(shown->imageNormal());
    EXPECT_EQ(mini->window()->frame().size, (kpv::Size{320, 240})) << "the window let the photo held go";
    LMNineSliceImageView* plate = mini->host().statusPlate();
    EXPECT_TRUE(plate->isHidden());
    clock.advance(0.2);
    kpv::RunLoop::main().runOnce();
    EXPECT_TRUE(shown->holdsPicture());
    EXPECT_TRUE(plate->isHidden()) << "\"Loading\" came while the picture was on time";
    clock.advance(0.2);
    kpv::RunLoop::main().runOnce();
    EXPECT_FALSE(shown->holdsPicture());
    EXPECT_FALSE(plate->isHidden()) << "a late picture is not told in the mini window";
    EXPECT_EQ(mini->host().statusField()->stringValue(),
              kpv::Bundle::mainBundle().localizedString(QStringLiteral("IDS_LOADING")));

    // The picture comes: it takes the window, in its own shape, and "Loading" goes.
    letWorkersGo();
    settle(1.0);
    ASSERT_TRUE(shown->imageNormal());
    EXPECT_EQ(shown->imageNormal()->originalImgBaseInfo()->filePath().path(),
              QDir(folder).filePath(QStringLiteral("p39.png")));
    EXPECT_TRUE(plate->isHidden());
    EXPECT_EQ(mini->window()->frame().size, (kpv::Size{240, 320}));

    // A step to a photo decoded ahead shows it at once, without a hold.
    mini->window()->keyDown(*kpv::Event::keyEvent(kpv::KeyDown, 123, QString(QChar(0xF702)), QString(QChar(0xF702)),
                                                  mini->window(), kpv::NumericPadKeyMask));
    EXPECT_FALSE(shown->holdsPicture());
}

// Entered with no photo open, the mini window said "Loading" over its drop prompt for good.
TEST_F(MiniWindowSteps, TheEmptyMiniWindowSaysNothingIsLoading)
{
    LaunchedProgram launched(scratch, {});
    settleProgram(*launched.delegate, clock, 1.0);
    MainWndController& controller = launched.program->controller();
    ASSERT_EQ(controller.showMode(), MainShowModeEmpty);
    controller.switchToSimpleMode();
    settleProgram(*launched.delegate, clock, 1.0);
    MainWndMiniController* mini = miniWindowControllerOf(controller);
    ASSERT_TRUE(mini && mini->window());
    ASSERT_EQ(controller.showMode(), MainShowModeMiniEmpty);
    EXPECT_TRUE(mini->host().statusPlate()->isHidden()) << mini->host().statusField()->stringValue().toStdString();
}


// A photo dropped into the empty mini window, taken back to the viewer: the toolbar kept what it
// read off the mini window's view, its zoom-in button greyed and its slider near the top, while
// the menu's Zoom In worked.
TEST_F(MiniWindowSteps, BackFromAPhotoDroppedIntoTheEmptyMiniWindowTheToolbarZoomsAsTheMenu)
{
    QImage image(QSize(320, 240), QImage::Format_RGB32);
    image.fill(Qt::darkCyan);
    const QString photo = QDir(folder).filePath(QStringLiteral("dropped.png"));
    ASSERT_TRUE(image.save(photo));
    LaunchedProgram launched(scratch, {});
    const auto settle = [&](double seconds) { settleProgram(*launched.delegate, clock, seconds); };
    settle(1.0);
    MainWndController& controller = launched.program->controller();
    controller.switchToSimpleMode();
    settle(1.0);
    MainWndMiniController* mini = miniWindowControllerOf(controller);
    ASSERT_TRUE(mini && mini->window());
    ASSERT_EQ(controller.showMode(), MainShowModeMiniEmpty);
    mini->host().openFiles({photo}, false);
    settle(1.0);
    ASSERT_EQ(controller.showMode(), MainShowModeMiniWithImage);
    mini->switchToNormalMode();
    settle(1.0);
    ASSERT_EQ(controller.showMode(), MainShowModeView);

    NavigateController& viewer = launched.program->viewMode().controller();
    const NavToolbarOutlets& bar = launched.program->viewMode().toolbar()->outlets();
    ASSERT_TRUE(viewer.canDoAction(32));
    ASSERT_TRUE(bar.btnZoomToMaxScale && bar.thumbZoomSlider);
    EXPECT_TRUE(bar.btnZoomToMaxScale->isEnabled()) << "zoom in greyed while the menu's Zoom In works";
    EXPECT_EQ(bar.btnZoomToMinScale->isEnabled(), viewer.canDoAction(33));
    // The photo shown at its fit: the slider at its low end.
    ASSERT_TRUE(viewer.fitinMode());
    EXPECT_EQ(bar.thumbZoomSlider->doubleValue(), bar.thumbZoomSlider->minValue());
}

} // namespace
