// The viewer's window moved between screens of different pixel density: the picture is placed,
// asked for and told for the density of the screen the window is on now, both ways. The offscreen
// platform is given three screens side by side: plain, twice as dense, and scaled by 150%.

#include "Shell/MainWindow/AppDelegate.h"
#include "Shell/MainWindow/LMMainWindow.h"
#include "Shell/MainWindow/MainWndController.h"
#include "Shell/Modes/NavigateViewMode.h"
#include "Shell/ViewChrome/NavigateOverlays.h"
#include "View/LMOpenGLView.h"
#include "View/NavigateController.h"
#include "appkit/Window.h"
#include "foundation/UserDefaults.h"
#include "ProgramTestSetup.h"

#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QImage>
#include <QScreen>
#include <QWidget>
#include <QWindow>

#include <cstdlib>
#include <unistd.h>

namespace {

// Set before the application object is made (a static initialiser runs before the tests'
// environment): the platform reads its screens once, at start.
struct TwoScreens {
    QString configPath;
    TwoScreens()
    {
        configPath = QDir::temp().filePath(QStringLiteral("kpv-two-densities-%1.json").arg(::getpid()));
        QFile config(configPath);
        if (!config.open(QIODevice::WriteOnly))
            return;
        config.write(R"({"screens": [
            {"name": "plain", "x": 0, "y": 0, "width": 1600, "height": 1000, "logicalDpi": 96, "dpr": 1},
            {"name": "dense", "x": 1600, "y": 0, "width": 1600, "height": 1000, "logicalDpi": 96, "dpr": 2},
            {"name": "scaled", "x": 3200, "y": 0, "width": 1600, "height": 1000, "logicalDpi": 96, "dpr": 1.5}]})");
        config.close();
        qputenv("QT_QPA_PLATFORM", "offscreen:configfile=" + configPath.toUtf8());
        // Software windows only: no X display for OpenGL.
        qputenv("QT_QPA_OFFSCREEN_NO_GLX", "1");
        qunsetenv("DISPLAY");
        qunsetenv("WAYLAND_DISPLAY");
    }
    ~TwoScreens() { QFile::remove(configPath); }
};
const TwoScreens g_twoScreens;

QScreen* screenNamed(const QString& name)
{
    for (QScreen* s : QGuiApplication::screens())
        if (s->name() == name)
            return s;
    return nullptr;
}

class ScreenDensity : public ProgramTest {
protected:
    void SetUp() override
    {
        ASSERT_NO_FATAL_FAILURE(ProgramTest::SetUp());
        plain = screenNamed(QStringLiteral("plain"));
        dense = screenNamed(QStringLiteral("dense"));
        scaled = screenNamed(QStringLiteral("scaled"));
        if (!plain || !dense || !scaled || plain->devicePixelRatio() != 1.0 || dense->devicePixelRatio() != 2.0 ||
            scaled->devicePixelRatio() != 1.5)
            GTEST_SKIP() << "the platform did not make screens of densities 1, 2 and 1.5";
        // Larger than the window: fitted below its own size on every screen.
        QImage image(QSize(kWidth, kWidth * 3 / 4), QImage::Format_RGB32);
        image.fill(Qt::darkCyan);
        ASSERT_TRUE(image.save(QDir(folder).filePath(QStringLiteral("a.png"))));

        defaults = std::make_unique<kpv::UserDefaults>(scratch.filePath(QStringLiteral("defaults.json")));
        delegate = std::make_unique<AppDelegate>(programTestSetup(*defaults, scratch));
        controller = std::make_unique<MainWndController>(
            *delegate, std::make_unique<LMMainWindow>(kpv::Rect(100, 100, 800, 600)));
        viewer = std::make_unique<NavigateViewMode>(*delegate, *controller);
        controller->awakeFromNib();
        // As large as the screen: fitted there, the picture is shown well above half its size
        // on the denser screen, where a reduction by half would be visibly soft.
        controller->window()->setFrame(kpv::Rect(0, 0, 1333, 1000));
        delegate->applicationOpenFiles({folder});
        delegate->applicationDidFinishLaunching();
        moveTo(plain);
    }
    void TearDown() override
    {
        viewer.reset();
        controller.reset();
        delegate.reset();
        kpv::RunLoop::main().runOnce();
        kpv::RunLoop::main().setClock(nullptr);
    }

    void settle(double seconds = 2.0) { settleProgram(*delegate, clock, seconds); }
    // As the user drags the window over to the other screen.
    void moveTo(QScreen* screen)
    {
        QWidget* window = controller->window()->widget();
        window->move(screen->geometry().topLeft() + QPoint(100, 100));
        window->setScreen(screen);
        settle();
    }

    LMOpenGLView& view() const { return *viewer->imageView(); }
    static constexpr int kWidth = 4000;
    // Device pixels of the picture across, as the view shows it now.
    double shownWidth() const { return kWidth * view().scale(); }
    // Points of the whole picture across as the view places it, parts outside the view included.
    double placedWidth() const { return view().calcVisibleViewRectForImageWithoutModified(view().imageNormal(), view().scale()).width(); }
    // The zoom figure the status line showed last.
    QString zoomFigure() const { return viewer->overlays()->statusText(); }

    QScreen* plain = nullptr;
    QScreen* dense = nullptr;
    QScreen* scaled = nullptr;
    std::unique_ptr<kpv::UserDefaults> defaults;
    std::unique_ptr<AppDelegate> delegate;
    std::unique_ptr<MainWndController> controller;
    std::unique_ptr<NavigateViewMode> viewer;
};

TEST_F(ScreenDensity, FittedPictureFollowsTheWindowToADenserScreenAndBack)
{
    ASSERT_EQ(controller->window()->backingScaleFactor(), 1.0);
    ASSERT_TRUE(view().validImage());
    ASSERT_TRUE(view().fitinMode());
    const double plainScale = view().scale();
    ASSERT_GT(plainScale, 0.1);
    ASSERT_LT(plainScale, 0.5); // fitted below its own size on the denser screen too
    const QRectF plainRect = view().imageVisibleViewRect();

    moveTo(dense);
    ASSERT_EQ(controller->window()->backingScaleFactor(), 2.0);
    EXPECT_EQ(view().contentsScale(), 2.0);
    // The same place in the window, twice the device pixels per picture pixel.
    EXPECT_NEAR(view().scale(), 2 * plainScale, 0.005);
    EXPECT_NEAR(view().imageVisibleViewRect().width(), plainRect.width(), 2.0); // a plain screen evens the fit-in bounds
    EXPECT_NEAR(view().imageVisibleViewRect().height(), plainRect.height(), 2.0);
    // The zoom figure says so, and a picture sharp enough for the denser screen was decoded.
    EXPECT_EQ(zoomFigure(), QStringLiteral("%1%").arg(qint64(view().scale() * 100)));
    ASSERT_TRUE(view().imageNormal());
    EXPECT_GE(double(view().imageNormal()->width()), shownWidth() - 1);

    moveTo(plain);
    EXPECT_EQ(view().contentsScale(), 1.0);
    EXPECT_DOUBLE_EQ(view().scale(), plainScale);
    EXPECT_NEAR(view().imageVisibleViewRect().width(), plainRect.width(), 2.0); // a plain screen evens the fit-in bounds
    EXPECT_EQ(zoomFigure(), QStringLiteral("%1%").arg(qint64(plainScale * 100)));
}

// At 100% one picture pixel covers one device pixel on every screen, one scaled by 150% too.
TEST_F(ScreenDensity, ActualSizeStaysOnePixelForOneOnEveryScreen)
{
    controller->performMenuAction(30); // actual size
    settle();
    ASSERT_EQ(view().scale(), 1.0);
    EXPECT_NEAR(placedWidth(), kWidth, 1.0); // points

    moveTo(dense);
    EXPECT_EQ(view().scale(), 1.0);
    EXPECT_NEAR(placedWidth(), kWidth / 2.0, 1.0);
    moveTo(scaled);
    EXPECT_EQ(view().scale(), 1.0);
    EXPECT_NEAR(placedWidth(), kWidth / 1.5, 1.0);
    moveTo(plain);
    EXPECT_NEAR(placedWidth(), kWidth, 1.0);
}

// Fitted on a screen scaled by 150%, the picture fills the same part of the window as on a plain
// one, drawn with half again as many device pixels.
TEST_F(ScreenDensity, FittedPictureOnAScreenScaledByHalfAgain)
{
    const double plainScale = view().scale();
    const QRectF plainRect = view().imageVisibleViewRect();
    moveTo(scaled);
    EXPECT_EQ(view().contentsScale(), 1.5);
    EXPECT_NEAR(view().scale(), 1.5 * plainScale, 0.005);
    EXPECT_NEAR(view().imageVisibleViewRect().width(), plainRect.width(), 2.0); // a plain screen evens the fit-in bounds
    EXPECT_NEAR(view().imageVisibleViewRect().height(), plainRect.height(), 2.0);
}

} // namespace
