// Photos on a drive the user ejects while the viewer shows them: once a photo is on screen, shown as
// it is, turned and not saved, or zoomed into, the program holds no descriptor or mapping of any
// file of the photos' folder, so the drive is never busy because of it.

#include "Shell/MainWindow/AppDelegate.h"
#include "Shell/MainWindow/MainWndController.h"
#include "Shell/Modes/NavigateViewMode.h"
#include "Shell/Program/ViewerProgram.h"

#include "View/LMOpenGLView.h"
#include "View/NavImageLoader.h"
#include "View/NavLaunchPicture.h"
#include "View/NavigateController.h"
#include "View/NavigateSaveFileSession.h"
#include "foundation/UserDefaults.h"
#include "imageio/FileAccess.h"
#include "ProgramTestSetup.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <gtest/gtest.h>

#include <atomic>
#include <unistd.h>

namespace {

// The descriptors and mappings of the process that name a file under `folder`, one a line.
std::string heldUnder(const QString &folder)
{
    const QString root = QFileInfo(folder).canonicalFilePath() + QLatin1Char('/');
    QStringList held;
    const QStringList descriptors =
        QDir(QStringLiteral("/proc/self/fd")).entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot);
    for (const QString &fd : descriptors) {
        char target[4096];
        const QByteArray link = QStringLiteral("/proc/self/fd/%1").arg(fd).toLocal8Bit();
        const ssize_t n = ::readlink(link.constData(), target, sizeof target - 1);
        if (n > 0 && QString::fromLocal8Bit(target, qsizetype(n)).startsWith(root))
            held << QStringLiteral("descriptor %1 -> %2").arg(fd, QString::fromLocal8Bit(target, qsizetype(n)));
    }
    QFile maps(QStringLiteral("/proc/self/maps"));
    if (maps.open(QIODevice::ReadOnly))
        for (const QByteArray &line : maps.readAll().split('\n'))
            if (line.contains(root.toLocal8Bit()))
                held << QStringLiteral("mapping %1").arg(QString::fromLocal8Bit(line));
    return held.join(QLatin1Char('\n')).toStdString();
}

// A picture whose file is large enough to be mapped rather than read.
QImage noisy(QSize size)
{
    QImage image(size, QImage::Format_RGB32);
    quint32 seed = 12345;
    for (int y = 0; y < size.height(); ++y) {
        auto *row = reinterpret_cast<QRgb *>(image.scanLine(y));
        for (int x = 0; x < size.width(); ++x) {
            seed = seed * 1664525u + 1013904223u;
            row[x] = qRgb((x * 255) / size.width() ^ int(seed >> 29), (y * 255) / size.height(), int(seed >> 24) & 63);
        }
    }
    return image;
}

class PhotosOnADrive : public ProgramTest {
protected:
    void SetUp() override
    {
        ASSERT_NO_FATAL_FAILURE(ProgramTest::SetUp());
        if (!QFileInfo::exists(QStringLiteral("/proc/self/maps")))
            GTEST_SKIP() << "skipped: the process's descriptors and mappings cannot be read here";
        ASSERT_TRUE(noisy(QSize(3200, 2400)).save(path("big.jpg"), "JPEG", 90));
        ASSERT_TRUE(noisy(QSize(400, 300)).save(path("next.png")));
        ASSERT_GT(QFileInfo(path("big.jpg")).size(), 64 * 1024);
        ASSERT_GT(QFileInfo(path("next.png")).size(), 64 * 1024);
        // The start's sharp picture of the first photo, made for another screen than the view's:
        // no load takes it.
        launch = std::make_unique<NavLaunchPicture>(
            path("big.jpg"),
            [](const QString &file) { return NavPhotoLoaderAdapter::decodeLaunchFitin(file, QSizeF(999, 555)); },
            NavLaunchPicture::SharpPicture);
        defaults = std::make_unique<kpv::UserDefaults>(scratch.filePath(QStringLiteral("defaults.json")));
        delegate = std::make_unique<AppDelegate>(programTestSetup(*defaults, scratch, true));
        program = std::make_unique<ViewerProgram>(*delegate);
        controller = &program->controller();
        viewer = &program->viewMode();
        delegate->applicationOpenFiles({path("big.jpg")});
        delegate->applicationDidFinishLaunching();
        settle(2.0);
        ASSERT_EQ(controller->showMode(), MainShowModeView);
        ASSERT_EQ(viewer->controller().curFilePath().path(), path("big.jpg"));
    }
    void TearDown() override
    {
        kpv::setFileAccessObserverForTesting({});
        controller = nullptr;
        viewer = nullptr;
        program.reset();
        delegate.reset();
        launch.reset();
        kpv::RunLoop::main().runOnce();
        kpv::RunLoop::main().setClock(nullptr);
    }
    QString path(const char *file) const { return QDir(folder).filePath(QString::fromLatin1(file)); }
    void settle(double seconds) { settleProgram(*delegate, clock, seconds); }

    std::unique_ptr<NavLaunchPicture> launch;
    std::unique_ptr<kpv::UserDefaults> defaults;
    std::unique_ptr<AppDelegate> delegate;
    std::unique_ptr<ViewerProgram> program;
    MainWndController *controller = nullptr;
    NavigateViewMode *viewer = nullptr;
};

TEST_F(PhotosOnADrive, NothingOfThemStaysOpenOnceAPhotoIsShown)
{
    EXPECT_EQ(heldUnder(folder), "") << "the photo shown";

    controller->performMenuAction(15); // turned right, not saved
    settle(1.0);
    ASSERT_TRUE(viewer->imageView()->angleRotate().isRotatedOrFlipped());
    EXPECT_EQ(heldUnder(folder), "") << "the photo turned and not saved";

    // Zoomed to its own pixels: the parts on screen are decoded from the file.
    std::atomic<int> reads{0};
    kpv::setFileAccessObserverForTesting([&reads, big = path("big.jpg")](const QString &file, const char *) {
        if (file == big)
            ++reads;
    });
    controller->performMenuAction(30);
    settle(3.0);
    kpv::setFileAccessObserverForTesting({});
    EXPECT_GT(reads.load(), 0) << "the zoom read nothing of the file: this road was not taken";
    EXPECT_EQ(heldUnder(folder), "") << "the photo zoomed into";

    // Stepping on writes the turn into the file and shows the next photo.
    controller->performMenuAction(41);
    settle(2.0);
    viewer->controller().navigateSaveFileSession()->waitUntilAllOperationsAreFinished();
    settle(1.0);
    ASSERT_EQ(viewer->controller().curFilePath().path(), path("next.png"));
    EXPECT_EQ(heldUnder(folder), "") << "the turn written and the next photo shown";
}

} // namespace
