// The program: one viewer per session. A later start hands its files to the running viewer and
// exits; the first one builds the delegate and the main window and runs until it is quit.

#include "Shell/MainWindow/AppDelegate.h"
#include "Shell/MainWindow/MainWndController.h"
#include "Shell/Program/CommandLine.h"
#include "Shell/Program/ViewerProgram.h"

#include "Model/LMPhotoLoader.h"
#include "Model/PublicObject.h"
#include "View/NavImageLoader.h"
#include "View/NavLaunchPicture.h"
#include "DoveHostRenderSystem.h"
#include "appkit/OpenGLView.h"
#include "appkit/SingleInstance.h"
#include "appkit/Window.h"
#include "appkit/WindowSystem.h"
#include "imageio/ContentTypes.h"
#include "imageio/FileAccess.h"
#include "foundation/Bundle.h"
#include "foundation/FileNames.h"
#include "foundation/TerminationSignals.h"

#include <QApplication>
#include <QFile>
#include <QFileInfo>
#include <QScreen>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include <malloc.h>

namespace {
// From Quit or a termination signal to the end of the process, at the most, once no photo is
// being saved.
constexpr double kQuitDeadlineSeconds = 1.8;
// The longest a quit waits for photos being saved: a large picture as JPEG 2000 takes seconds.
constexpr double kQuitSavingDeadlineSeconds = 60;
} // namespace

int main(int argc, char** argv)
{
    // Decoded pictures are large and short-lived: a fixed threshold keeps every block of a
    // megabyte or more in its own mapping, returned to the system when freed, instead of letting
    // each worker thread's heap keep the memory of pictures long gone (measured: a higher
    // threshold raises the peak while stepping through large photos by a tenth or more).
    mallopt(M_MMAP_THRESHOLD, 1 << 20);
    // A file that grows past the user's size limit fails its write, which is told, instead of
    // ending the program with the temporary file left behind.
    std::signal(SIGXFSZ, SIG_IGN);
    // --help, --version and a wrong option are answered before anything else starts.
    const CommandLine::Arguments arguments = CommandLine::parse(argc, argv);
    if (const auto code = CommandLine::answerWithoutWindow(arguments, argv[0], stdout, stderr))
        return *code;
    // The X server's key is looked for in the home folder too.
    CommandLine::settleHome();
    CommandLine::settleBaseDirectories();
    if (const auto code = CommandLine::checkDisplay(arguments, argv[0], stderr))
        return *code;
    // Nothing of Qt runs before the application object: the first thread that touches Qt becomes
    // its main thread, and a window built on another thread takes no input.
    kpv::OpenGLView::configureSharedContext();
    // The desktop's token for this start: the toolkit takes it out of the environment.
    const char* startupIdValue = std::getenv("DESKTOP_STARTUP_ID");
    const std::string startupId = startupIdValue ? startupIdValue : "";
    const kpv::SingleInstance::Activation activation = kpv::SingleInstance::Activation::fromEnvironment();
    QApplication app(argc, argv);
    app.setApplicationName(QStringLiteral("kestrane-viewer"));
    // The file names as their bytes; a local file's address as the file it names.
    QStringList paths;
    for (const std::string& path : arguments.paths)
        paths << CommandLine::pathFromArgument(path);
    QSizeF screenSize;
    if (QScreen* screen = app.primaryScreen())
        PublicObject::setMainScreenFrameSize(screenSize = screen->size());
    // What cannot be opened is said here, and in the window of whichever viewer shows the rest.
    const QStringList problems =
        CommandLine::problemsWithPaths(paths, PublicObject::getPublicObject()->allowedFileExtensions());
    for (const QString& problem : problems)
        std::fprintf(stderr, "%s: %s\n", CommandLine::programName(argv[0]), problem.toLocal8Bit().constData());
    const int argumentStatus = problems.isEmpty() ? CommandLine::kExitOk : CommandLine::kExitFailure;

    // Later starts are taken from here on: several photos opened at once, one start each, end in
    // one viewer. What they hand over before the viewer is built waits for it.
    using Handed = std::pair<QStringList, kpv::SingleInstance::Activation>;
    std::function<void(const QStringList&, const kpv::SingleInstance::Activation&)> takeHanded;
    std::vector<Handed> handedEarly;
    kpv::SingleInstance instance(QStringLiteral("kestrane-viewer"));
    bool activationTaken = false;
    // A viewer answers once its window is built, which on a slow or busy computer may take a few
    // seconds: a start that gave up sooner would open a second viewer. One hung for good costs a
    // later start that long before it shows its files itself.
    constexpr int kAnswerWaitMs = 6000;
    const auto role = instance.handOverOrListen(
        paths, activation, &activationTaken,
        [&takeHanded, &handedEarly](const QStringList& handed, const kpv::SingleInstance::Activation& token) {
            if (takeHanded)
                takeHanded(handed, token);
            else
                handedEarly.emplace_back(handed, token);
        },
        kAnswerWaitMs);
    if (role == kpv::SingleInstance::Role::HandedOver) {
        // The running viewer shows the files: this copy ends now, without building anything, and
        // the desktop stops waiting for a window from it. A viewer that took the token comes
        // forward with it and ends the wait itself.
        if (!activationTaken)
            kpv::endStartupFeedback(startupId);
        std::fflush(nullptr);
        std::_Exit(argumentStatus);
    }

    // The first file's quick picture is made while the rest of the program starts: the one the
    // file stores; where the sharp picture takes a while (a large JPEG, an animation's frames) the
    // desktop cache's too, else a decode of it. A file whose sharp picture comes at once shows
    // that first, not a cached thumbnail enlarged for a moment.
    NavLaunchPicture launchPicture(paths.value(0), [](const QString& path) {
        const auto& sources = LMImageSourceFactory::platform();
        const int size = LMPhotoLoader::kSmallThumbMaxPixelSize;
        if (!NavImageLoader::quickPictureWorthDecoding(kpv::ContentTypes::typeForExtension(QFileInfo(path).suffix()),
                                                       kpv::fileIdentity(path).size)) {
            const std::unique_ptr<LMImageSourceReader> reader = sources->createWithFile(path);
            return reader ? reader->createThumbnailAtIndex(0, size, false) : QImage();
        }
        QImage quick = sources->storedThumbnail(path, size);
        return quick.isNull() ? sources->thumbnail(path, size) : quick;
    });

    // 3D slideshow themes draw with the engine on OpenGL inside the slideshow's view.
    Dove::installHostRenderSystem();
    // The first file's sharp picture is decoded now, at the size the view asks for on this
    // screen, while the windows and OpenGL are set up.
    NavLaunchPicture launchSharpPicture(
        paths.value(0),
        [screenSize](const QString& path) { return NavPhotoLoaderAdapter::decodeLaunchFitin(path, screenSize); },
        NavLaunchPicture::SharpPicture);
    AppDelegate delegate;
    ViewerProgram program(delegate);

    takeHanded = [&](const QStringList& handed, const kpv::SingleInstance::Activation& token) {
        if (handed.isEmpty())
            delegate.applicationOpenUntitledFile();
        else
            delegate.openCommandLinePaths(handed);
        // The window comes forward with the later start's token, where the desktop would keep it
        // back without one; the dialog over it, when one waits for an answer.
        if (!token.isEmpty()) {
            kpv::Window* window =
                delegate.mainWndController() ? delegate.mainWndController()->getCurWindow() : nullptr;
            QWidget* widget = window ? window->blockingDialog() : nullptr;
            if (!widget && window && window->isVisible())
                widget = window->widget();
            kpv::activateForStart(widget, token.startupId.toStdString(), token.activationToken.toStdString());
        }
    };
    if (!paths.isEmpty())
        delegate.openCommandLinePaths(paths);
    for (const Handed& handed : std::exchange(handedEarly, {}))
        takeHanded(handed.first, handed.second);
    delegate.applicationDidFinishLaunching();
    // Once the quit has begun, later starts are no longer taken: they would report their files
    // shown while this viewer goes away without them. Unanswered, they open the files themselves.
    QObject::connect(&app, &QCoreApplication::aboutToQuit, [&] {
        instance.stopListening();
        kpv::quitHasBegun();
        delegate.applicationWillTerminate();
    });
    // Log-out and Ctrl+C quit as the menu does: a photo being saved is written first, then the
    // settings are saved and the temporary folder and socket go.
    kpv::quitOnTerminationSignals([&instance] {
        instance.stopListening();
        QCoreApplication::quit();
    });
    // A quit is over within two seconds of the last save, whatever a worker is doing: the ordinary
    // quit waits for the workers a second at most, and what is still running after that cannot
    // hold the process. Ended so, it still says that files it was given could not be opened.
    kpv::endProcessWithinSecondsOfQuit(kQuitDeadlineSeconds, kQuitSavingDeadlineSeconds, argumentStatus);
    int code = app.exec();
    if (code == CommandLine::kExitOk)
        code = argumentStatus;
    // Later starts still connected are closed before the delegate they would call goes away.
    instance.stopListening();
    if (delegate.hasStuckWorkers()) {
        // Everything worth keeping is saved; a worker blocked in the file system would keep the
        // process alive in the destructors, so it ends here.
        std::fflush(nullptr);
        std::_Exit(code);
    }
    return code;
}
