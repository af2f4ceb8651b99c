// The main window controller's prompts as the window reaches them: launch counts towards the rate
// prompt, the help menu's feedback and rate commands, and the resting pointer in full screen.

#include "Shell/MainWindow/AppDelegate.h"
#include "Shell/MainWindow/LMMainWindow.h"
#include "Kit/LMCustomWindow.h"
#include "Kit/LMNormalCustomWindow.h"
#include "Share/FeedbackWindowController.h"
#include "Shell/Dialogs/AboutWindowController.h"
#include "Shell/MainWindow/MainWndSecondaryWindows.h"
#include "Shell/Dialogs/OptionWindowController.h"
#include "Shell/Dialogs/ShareAccountWindowController.h"
#include "appkit/Control.h"
#include "Shell/MainWindow/MainWndController.h"
#include "view_mode_stub.h"

#include "Model/LMBlockRepeatTimer.h"
#include "Model/MainConfig.h"
#include "foundation/Clock.h"
#include "foundation/RunLoop.h"
#include "foundation/UserDefaults.h"

#include <QApplication>
#include <QMessageBox>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

class ViewerStub : public ViewModeStub {
public:
    bool canSwitchToViewMode() const override { return true; }
    LMPathString curFilePath() const override { return LMPathString(); }
    bool canDoAction(long) override { return true; }
    void openFilePaths(const QList<LMPathString>&, const QStringList&, bool) override {}
};

class PromptWiring : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(qApp);
        ASSERT_TRUE(scratch.isValid());
        kpv::RunLoop::main().setClock(&clock);
        defaults = std::make_unique<kpv::UserDefaults>(scratch.filePath("defaults.json"));
        AppDelegate::Setup setup;
        setup.mainConfig = std::make_unique<MainConfig>(*defaults);
        setup.temporaryParent = scratch.filePath("tmp");
        setup.cacheDirectory = scratch.filePath("cache");
        setup.processorCount = 2;
        delegate = std::make_unique<AppDelegate>(std::move(setup));
        controller = std::make_unique<MainWndController>(*delegate,
                                                         std::make_unique<LMMainWindow>(kpv::Rect(0, 0, 640, 480)));
        controller->setNavigateController(&viewer);
        controller->awakeFromNib();
        controller->setOpenUrlHandler([this](const QUrl& url) {
            opened.append(url);
            return true;
        });
        controller->setPointerStateSources([] { return 0.0; }, [] { return false; });
    }
    void TearDown() override
    {
        for (QWidget* w : QApplication::topLevelWidgets())
            if (auto* box = qobject_cast<QMessageBox*>(w))
                box->reject();
        kpv::RunLoop::main().runOnce();
        controller.reset();
        delegate.reset();
        kpv::RunLoop::main().setClock(nullptr);
    }

    kpv::ManualClock clock;
    QTemporaryDir scratch;
    std::unique_ptr<kpv::UserDefaults> defaults;
    std::unique_ptr<AppDelegate> delegate;
    std::unique_ptr<MainWndController> controller;
    ViewerStub viewer;
    QList<QUrl> opened;
};

TEST_F(PromptWiring, LaunchCountsTowardsTheRatePrompt)
{
    ASSERT_EQ(delegate->mainConfig()->runCountBeforeRate(), 0);
    controller->applicationDidFinishLaunching();
    // Counted on the next turn of the run loop, not during launch.
    EXPECT_EQ(delegate->mainConfig()->runCountBeforeRate(), 0);
    kpv::RunLoop::main().runOnce();
    clock.advance(0.1);
    kpv::RunLoop::main().runOnce();
    EXPECT_EQ(delegate->mainConfig()->runCountBeforeRate(), 1);
}

TEST_F(PromptWiring, HelpMenuCommandsReachTheirPrompts)
{
    controller->performMenuAction(48);
    ASSERT_EQ(opened.size(), 1);
    EXPECT_EQ(opened.front(), MainWndController::storePageUrl());

    controller->performMenuAction(47);
    ASSERT_TRUE(controller->secondaryWindows().feedbackWindowController());
    EXPECT_TRUE(controller->secondaryWindows().feedbackWindowController()->feedbackWindow()->sheetRunning());
    EXPECT_EQ(controller->lastUnavailableCommand(), 0);
    EXPECT_EQ(opened.size(), 1);
}

// Help, About, Preferences and Accounts each open their window (the tags of the items without an
// action id: 200 About, 201 Preferences, 203 Help).
TEST_F(PromptWiring, HelpAboutPreferencesAndAccountsOpenTheirWindows)
{
    controller->performMenuAction(203);
    ASSERT_EQ(opened.size(), 1);
    EXPECT_EQ(opened.front(), MainWndController::helpPageUrl());

    controller->performMenuAction(200);
    ASSERT_TRUE(controller->secondaryWindows().aboutWindowController());
    EXPECT_TRUE(controller->secondaryWindows().aboutWindowController()->aboutWindow()->isVisible());
    EXPECT_EQ(controller->secondaryWindows().aboutWindowController()->txtProductName()->stringValue(),
              delegate->appName());

    controller->performMenuAction(201);
    ASSERT_TRUE(controller->secondaryWindows().optionWindowController());
    EXPECT_TRUE(controller->secondaryWindows().optionWindowController()->optionWindow()->isVisible());

    controller->performMenuAction(1);
    ASSERT_TRUE(controller->secondaryWindows().shareAccountWindowController());
    EXPECT_TRUE(controller->secondaryWindows().shareAccountWindowController()->accountWindow()->sheetRunning());
    EXPECT_EQ(controller->lastUnavailableCommand(), 0);
}

TEST_F(PromptWiring, PointerRestsOnlyWhileFullScreen)
{
    EXPECT_TRUE(!controller->cursorAutoHideTimer() || !controller->cursorAutoHideTimer()->isTimerRunning());
    controller->windowWillEnterFullScreen();
    ASSERT_TRUE(controller->cursorAutoHideTimer());
    EXPECT_TRUE(controller->cursorAutoHideTimer()->isTimerRunning());
    controller->windowWillExitFullScreen();
    EXPECT_FALSE(controller->cursorAutoHideTimer()->isTimerRunning());
}

}  // namespace

namespace {
TEST_F(PromptWiring, ControllerGoneBeforeTheDelayedCheckIsSafe)
{
    controller->applicationDidFinishLaunching();
    controller.reset();
    kpv::RunLoop::main().runOnce();
    clock.advance(0.1);
    kpv::RunLoop::main().runOnce();
    EXPECT_EQ(delegate->mainConfig()->runCountBeforeRate(), 0);
}
}  // namespace
