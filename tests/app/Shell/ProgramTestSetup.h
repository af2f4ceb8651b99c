#pragma once
// What the tests that assemble the whole program give it: settings and folders in a scratch
// folder, a slideshow that makes no sound, the favourite button's first-visit tip already seen (it holds every command until it is
// closed), PNG files (and JPEG files when asked), two workers. And the loop that lets such a
// program settle on the manual clock.

#include "Model/MainConfig.h"
#include "Shell/MainWindow/AppDelegate.h"
#include "Shell/MainWindow/LMMainWindow.h"
#include "Shell/MainWindow/MainWndController.h"
#include "Shell/Program/ViewerProgram.h"
#include "Slideshow/SlideshowMusic.h"
#include "foundation/Clock.h"
#include "foundation/OperationQueue.h"
#include "foundation/RunLoop.h"
#include "foundation/UserDefaults.h"
#include "appkit/Window.h"

#include <QCoreApplication>
#include <QDir>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <functional>
#include <memory>

// The start every such test shares: the run loop on the test's manual clock and an empty
// "photos" folder in the scratch folder. Returns that folder, or an empty path when it could not
// be made.
inline QString startProgramTest(const QTemporaryDir& scratch, kpv::ManualClock& clock)
{
    kpv::RunLoop::main().setClock(&clock);
    const QString folder = scratch.filePath(QStringLiteral("photos"));
    return QDir().mkpath(folder) ? folder : QString();
}

// A test of the whole program: the run loop on the test's manual clock, a scratch folder and its
// "photos" folder. A fixture that adds to the start calls this SetUp first.
class ProgramTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(qApp);
        ASSERT_TRUE(scratch.isValid());
        folder = startProgramTest(scratch, clock);
        ASSERT_FALSE(folder.isEmpty());
    }
    kpv::ManualClock clock;
    QTemporaryDir scratch;
    QString folder;
};

inline AppDelegate::Setup programTestSetup(kpv::UserDefaults& defaults, const QTemporaryDir& scratch,
                                           bool withJpeg = false)
{
    AppDelegate::Setup setup;
    setup.mainConfig = std::make_unique<MainConfig>(defaults);
    setup.mainConfig->setLoveTipsAlreadyShowed(true);
    setup.temporaryParent = scratch.filePath(QStringLiteral("tmp"));
    setup.cacheDirectory = scratch.filePath(QStringLiteral("cache"));
    setup.dataDirectory = scratch.filePath(QStringLiteral("data"));
    setup.allowedFileExtensions = {QStringLiteral("png")};
    setup.allowedFileTypes = {QStringLiteral("public.png")};
    if (withJpeg) {
        setup.allowedFileExtensions << QStringLiteral("jpg");
        setup.allowedFileTypes << QStringLiteral("public.jpeg");
    }
    setup.processorCount = 2;
    setup.musicSink = [] { return makeSilentMusicSink(); };
    return setup;
}

// The program as main() puts it together and a user starts it: its window in front, `paths`
// opened, the launch finished. The program goes before its delegate.
struct LaunchedProgram {
    LaunchedProgram(const QTemporaryDir& scratch, const QStringList& paths)
        : defaults(scratch.filePath(QStringLiteral("defaults.json"))),
          delegate(std::make_unique<AppDelegate>(programTestSetup(defaults, scratch))),
          program(std::make_unique<ViewerProgram>(*delegate))
    {
        program->controller().window()->makeKeyAndOrderFront();
        delegate->applicationOpenFiles(paths);
        delegate->applicationDidFinishLaunching();
    }
    kpv::UserDefaults defaults;
    std::unique_ptr<AppDelegate> delegate;
    std::unique_ptr<ViewerProgram> program;
};

// Lets the folder search, the loads and their hand-over to the main thread finish, with time
// moving on in 50 ms steps so that delayed steps (timers, animations) run too. Window events are
// handled at each step: painting must not fail where there is no OpenGL (offscreen). `eachStep`
// runs once the workers are idle, before the main run loop turns (e.g. to wait for slide loads).
inline void settleProgram(AppDelegate& delegate, kpv::ManualClock& clock, double seconds,
                          const std::function<void()>& eachStep = {})
{
    for (double t = 0; t <= seconds; t += 0.05) {
        delegate.operationQueue()->waitUntilAllOperationsAreFinished();
        if (eachStep)
            eachStep();
        kpv::RunLoop::main().runOnce();
        QCoreApplication::processEvents();
        clock.advance(0.05);
    }
    delegate.operationQueue()->waitUntilAllOperationsAreFinished();
    kpv::RunLoop::main().runOnce();
}
